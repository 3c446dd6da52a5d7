#include <windows.h>

#include "tests/support/demo_process.h"

namespace support {
namespace {

constexpr wchar_t kHelper[] = L"nolvexa-demo-process.exe";
constexpr DWORD kEndBoundMs = 10000;  // a terminated process is gone long before this

}  // namespace

DemoProcess::~DemoProcess() {
  End();
  if (process_ != nullptr) CloseHandle(process_);
  if (output_ != nullptr) CloseHandle(output_);
}

bool DemoProcess::Start(const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return false;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  // By name only: the search starts in the folder of the test program, where the helper lies.
  std::wstring command = std::wstring(kHelper) + L" " + arguments;
  PROCESS_INFORMATION info{};
  // In c:\ rather than in our folder, which under Wine may lie outside every drive.
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      L"c:\\", &startup, &info);
  const DWORD error = GetLastError();
  CloseHandle(write);  // the child holds the only write end now, so its end ends the output
  if (!started) {
    CloseHandle(read);
    SetLastError(error);
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  output_ = read;
  return true;
}

std::string DemoProcess::ReadLine() {
  std::string line;
  char c = 0;
  DWORD got = 0;
  while (output_ != nullptr && ReadFile(output_, &c, 1, &got, nullptr) && got == 1) {
    if (c == '\n') break;
    if (c != '\r') line += c;
  }
  return line;
}

bool DemoProcess::Wait(uint32_t milliseconds) {
  return process_ != nullptr && WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
}

bool DemoProcess::End() {
  if (process_ == nullptr) return false;
  TerminateProcess(process_, 0);  // fails harmlessly when the process has ended already
  return Wait(kEndBoundMs);
}

uint32_t DemoProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_ != nullptr) GetExitCodeProcess(process_, &code);
  return code;
}

uint32_t DemoProcess::Id() const { return process_ == nullptr ? 0 : GetProcessId(process_); }

}  // namespace support

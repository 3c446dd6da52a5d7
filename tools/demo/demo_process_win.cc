// Processes for the demo machine and the process-scan tests under Wine:
//   nolvexa-demo-process hold PATH SECONDS   keeps PATH open without delete sharing
//   nolvexa-demo-process infected SECONDS    starts an orphan whose thread start region holds
//                                            the thread signature, prints its id, and exits
//   nolvexa-demo-process running PID         exit code 0 when that process runs, 1 otherwise
//   nolvexa-demo-process attributes PATH     prints the path's attributes as Windows reports them
// Each process ends by itself after SECONDS at the latest.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/builtin_signatures.h"
#include "tests/support/signature_bytes.h"

namespace {

int Hold(const wchar_t* path, DWORD seconds) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold: cannot open (error %lu)\n", GetLastError());
    return 1;
  }
  std::puts("holding");
  std::fflush(stdout);
  Sleep(seconds * 1000);
  CloseHandle(file);
  return 0;
}

// The child: a suspended thread whose start address is a region that begins with the thread
// signature's bytes. The thread never runs; only its start region is looked at.
int InfectedChild(DWORD seconds) {
  const std::vector<uint8_t> bytes = support::SignatureBytes(app::kBuiltinSignatures[0].pattern);
  void* region = VirtualAlloc(nullptr, 0x10000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  if (region == nullptr) return 1;
  std::memcpy(region, bytes.data(), bytes.size());
  const HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(region),
                                     nullptr, CREATE_SUSPENDED, nullptr);
  if (thread == nullptr) return 1;
  Sleep(seconds * 1000);
  return 0;
}

int StartOrphan(DWORD seconds) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command =
      L"\"" + std::wstring(self) + L"\" infected-child " + std::to_wstring(seconds);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "infected: cannot start the child (error %lu)\n", GetLastError());
    return 1;
  }
  std::printf("%lu\n", info.dwProcessId);
  std::fflush(stdout);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;  // the child's parent ends here
}

int Running(DWORD processId) {
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return 1;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running ? 0 : 1;
}

int Attributes(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  std::printf("0x%lX\n", attributes);
  return attributes == INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], L"hold") == 0) {
    return Hold(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"infected") == 0) {
    return StartOrphan(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"infected-child") == 0) {
    return InfectedChild(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"running") == 0) {
    return Running(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"attributes") == 0) return Attributes(argv[2]);
  std::fputs(
      "usage: nolvexa-demo-process hold PATH SECONDS | infected SECONDS | running PID | "
      "attributes PATH\n",
      stderr);
  return 2;
}

// Processes for the demo machine and the process-scan tests under Wine:
//   nolvexa-demo-process hold PATH SECONDS   keeps PATH open without delete sharing
//   nolvexa-demo-process infected SECONDS    starts an orphan whose thread start region holds
//                                            the thread signature, prints its id once that
//                                            thread can be scanned, and exits
//   nolvexa-demo-process parent SECONDS      the same, but stays the child's running parent
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

constexpr DWORD kReadyBoundMs = 30000;  // a child is ready in well under a second

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
// signature's bytes. The thread never runs; only its start region is looked at. `ready` names
// the event that tells the parent the thread is there to be scanned.
int InfectedChild(DWORD seconds, const wchar_t* ready) {
  const std::vector<uint8_t> bytes = support::SignatureBytes(app::kBuiltinSignatures[0].pattern);
  void* region = VirtualAlloc(nullptr, 0x10000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  if (region == nullptr) return 1;
  std::memcpy(region, bytes.data(), bytes.size());
  const HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(region),
                                     nullptr, CREATE_SUSPENDED, nullptr);
  if (thread == nullptr) return 1;
  // Wine records a new thread's start address only once the thread has reached its suspended
  // state; reading its context waits for that.
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  GetThreadContext(thread, &context);
  const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready);
  if (event == nullptr || !SetEvent(event)) return 1;
  CloseHandle(event);
  Sleep(seconds * 1000);
  return 0;
}

// Starts the infected child and prints its id only once its thread can be scanned, so that
// whoever reads the id may scan at once. Then the parent (this process) ends, or, with `stay`,
// keeps running until the child ends, at most SECONDS.
int StartInfectedChild(DWORD seconds, bool stay) {
  // By name, as our own file name: the search starts in our folder, and under Wine the full
  // module path of a program outside every drive cannot be started.
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return 1;
  const wchar_t* name = std::wcsrchr(self, L'\\');
  name = name == nullptr ? self : name + 1;
  const std::wstring ready = L"nolvexa-demo-ready-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, ready.c_str());
  if (event == nullptr) {
    std::fprintf(stderr, "infected: cannot make the ready event (error %lu)\n", GetLastError());
    return 1;
  }
  std::wstring command =
      L"\"" + std::wstring(name) + L"\" infected-child " + std::to_wstring(seconds) + L" " + ready;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "infected: cannot start the child (error %lu)\n", GetLastError());
    return 1;
  }
  CloseHandle(info.hThread);
  // The child either signals or ends; the bound only keeps a hung child from hanging us.
  const HANDLE either[] = {event, info.hProcess};
  const DWORD woke = WaitForMultipleObjects(2, either, FALSE, kReadyBoundMs);
  CloseHandle(event);
  if (woke != WAIT_OBJECT_0) {
    std::fputs("infected: the child did not get ready\n", stderr);
    TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    return 1;
  }
  std::printf("%lu\n", info.dwProcessId);
  std::fflush(stdout);
  if (stay) WaitForSingleObject(info.hProcess, seconds * 1000);
  CloseHandle(info.hProcess);
  return 0;
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
    return StartInfectedChild(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)), false);
  }
  if (argc == 3 && std::wcscmp(argv[1], L"parent") == 0) {
    return StartInfectedChild(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)), true);
  }
  if (argc == 4 && std::wcscmp(argv[1], L"infected-child") == 0) {
    return InfectedChild(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)), argv[3]);
  }
  if (argc == 3 && std::wcscmp(argv[1], L"running") == 0) {
    return Running(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"attributes") == 0) return Attributes(argv[2]);
  std::fputs(
      "usage: nolvexa-demo-process hold PATH SECONDS | infected SECONDS | parent SECONDS | "
      "running PID | attributes PATH\n",
      stderr);
  return 2;
}

#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <algorithm>
#include <utility>

#include "platform/win/scoped.h"
#include "remedy/win32_services.h"

namespace remedy {
namespace {

constexpr DWORD kScanProcessAccess =
    READ_CONTROL | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;  // 0x20411
constexpr DWORD kScanThreadAccess =
    THREAD_QUERY_INFORMATION | THREAD_GET_CONTEXT | THREAD_SUSPEND_RESUME | THREAD_TERMINATE;
constexpr DWORD kKillAccess = 0x1FFFFF;  // PROCESS_ALL_ACCESS as the older systems define it
constexpr ULONG kThreadQuerySetWin32StartAddress = 9;

using NtQueryInformationThreadFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  // GetProcAddress hands out a generic pointer; the caller names the real signature.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::vector<ThreadRecord> Win32Processes::ThreadSnapshot() {
  std::vector<ThreadRecord> records;
  const platform::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot.Valid()) return records;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
       more = Thread32Next(snapshot.Get(), &entry)) {
    records.push_back(ThreadRecord{entry.th32ThreadID, entry.th32OwnerProcessID});
  }
  return records;
}

std::vector<ProcessRecord> Win32Processes::ProcessSnapshot() {
  std::vector<ProcessRecord> records;
  const platform::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return records;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more == TRUE;
       more = Process32NextW(snapshot.Get(), &entry)) {
    records.push_back(
        ProcessRecord{entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  return records;
}

bool Win32Processes::ReadThreadStartRegion(const ThreadRecord& thread, size_t limit,
                                           std::vector<uint8_t>& bytes) {
  const auto query =
      Resolve<NtQueryInformationThreadFn>(GetModuleHandleA("ntdll"), "NtQueryInformationThread");
  if (query == nullptr) return false;
  const platform::ScopedHandle process(
      OpenProcess(kScanProcessAccess, FALSE, thread.ownerProcessId));
  if (!process.Valid()) return false;
  const platform::ScopedHandle handle(OpenThread(kScanThreadAccess, FALSE, thread.threadId));
  if (!handle.Valid()) return false;
  // A pointer-sized buffer: the start address is 8 bytes in a 64-bit process.
  PVOID start = nullptr;
  if (query(handle.Get(), kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) != 0) {
    return false;
  }
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQueryEx(process.Get(), start, &region, sizeof region) == 0) return false;
  const size_t size = std::min<size_t>(region.RegionSize, limit);
  std::vector<uint8_t> content(size);
  SIZE_T read = 0;
  if (!ReadProcessMemory(process.Get(), region.BaseAddress, content.data(), size, &read) ||
      read != size) {
    return false;
  }
  bytes = std::move(content);
  return true;
}

bool Win32Processes::Terminate(uint32_t processId) {
  const platform::ScopedHandle process(OpenProcess(kKillAccess, FALSE, processId));
  if (!process.Valid()) return false;
  return TerminateProcess(process.Get(), 0) != FALSE;
}

std::optional<bool> Win32Processes::IsWow64() {
  const auto probe = Resolve<IsWow64ProcessFn>(GetModuleHandleW(L"kernel32"), "IsWow64Process");
  if (probe == nullptr) return false;  // Windows without 64-bit support
  BOOL wow64 = FALSE;
  if (!probe(GetCurrentProcess(), &wow64)) return std::nullopt;
  return wow64 != FALSE;
}

}  // namespace remedy

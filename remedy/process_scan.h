// The process scan: the memory region at every thread's start address is scanned, and the
// process that carries the thread signature is terminated when its parent no longer runs;
// without such a thread, one parentless process of a fixed system name is terminated instead.
// Main thread only.
#pragma once

#include <string>

#include "remedy/remedy_state.h"

namespace remedy {

inline constexpr size_t kThreadReadLimit = 2000000;  // bytes read and scanned per thread
inline constexpr wchar_t kServiceHost[] = L"svchost.exe";
inline constexpr wchar_t kUpdateClient[] = L"wuauclt.exe";
inline constexpr wchar_t kUpdateManager[] = L"wupdmgr.exe";
inline constexpr char kWow64ProbeError[] = "Unknown error";

void ScanProcesses(Context& context);

// Always 1: the walk over all threads ends early only when the handler says so.
int ScanThreads(Context& context);

// Terminates the thread's process (when its parent has ended) for a "ThreadSig3" match; any
// other name ends the thread scan (0).
int OnThreadDetected(Context& context, ThreadRecord thread, const std::string& matchName);

// True when the process was found, its parent no longer runs, and it was terminated.
bool KillOrphanProcess(Context& context, uint32_t processId);

// Terminates the first process of exactly that name whose parent no longer runs.
bool KillOrphanByName(Context& context, const std::wstring& exeName);

// The parentless-process rule when no thread matched: "svchost.exe" on 64-bit Windows;
// "wuauclt.exe", and when none was terminated "wupdmgr.exe", on 32-bit Windows.
void KillFallbackProcess(Context& context, bool sixtyFourBitWindows);

// Whether the fallback takes the 64-bit Windows branch. A failing probe ends the program with
// "Unknown error" on standard error and exit code 1.
bool IsWow64(Context& context);

}  // namespace remedy

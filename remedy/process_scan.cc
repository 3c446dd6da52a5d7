#include "remedy/process_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>
#include <vector>

#include "engine/engine.h"

namespace remedy {
namespace {

// The first snapshot record (the idle process, or its thread) is never examined.
constexpr size_t kFirstExamined = 1;

// The identifiers of every examined process; tables grow with the system instead of stopping
// at a fixed count, so a busy machine's parents are never missed.
std::unordered_set<uint32_t> RunningIds(const std::vector<ProcessRecord>& snapshot) {
  std::unordered_set<uint32_t> ids;
  for (size_t i = kFirstExamined; i < snapshot.size(); ++i) ids.insert(snapshot[i].processId);
  return ids;
}

bool TerminateAndRecord(Context& context, uint32_t processId) {
  if (!context.services.processes.Terminate(processId)) return false;
  context.results.terminatedProcesses.push_back(processId);
  return true;
}

}  // namespace

bool IsWow64(Context& context) {
  const std::optional<bool> wow64 = context.services.processes.IsWow64();
  if (!wow64) {
    // Nothing can decide the fallback branch safely; end as an unhandled error would.
    std::fputs(kWow64ProbeError, stderr);
    std::fputs("\n", stderr);
    std::exit(1);
  }
  return *wow64;
}

bool KillOrphanProcess(Context& context, uint32_t processId) {
  const std::vector<ProcessRecord> snapshot = context.services.processes.ProcessSnapshot();
  const auto begin = snapshot.begin() + std::min(kFirstExamined, snapshot.size());
  const auto it = std::find_if(begin, snapshot.end(), [&](const ProcessRecord& record) {
    return record.processId == processId;
  });
  if (it == snapshot.end()) return false;
  if (RunningIds(snapshot).count(it->parentProcessId)) return false;  // a live parent protects it
  return TerminateAndRecord(context, processId);
}

bool KillOrphanByName(Context& context, const std::wstring& exeName) {
  const std::vector<ProcessRecord> snapshot = context.services.processes.ProcessSnapshot();
  const std::unordered_set<uint32_t> running = RunningIds(snapshot);
  for (size_t i = kFirstExamined; i < snapshot.size(); ++i) {
    const ProcessRecord& record = snapshot[i];
    // Exact, case-sensitive: only the name the family gives its host process counts.
    if (record.exeFile != exeName || running.count(record.parentProcessId)) continue;
    return TerminateAndRecord(context, record.processId);  // at most one per call
  }
  return false;
}

int OnThreadDetected(Context& context, ThreadRecord thread, const std::string& matchName) {
  if (matchName != "ThreadSig3") return 0;
  context.state.threadInfectionFlag = 1;
  [[maybe_unused]] const bool killed = KillOrphanProcess(context, thread.ownerProcessId);
  return 1;
}

int ScanThreads(Context& context) {
  const std::vector<ThreadRecord> snapshot = context.services.processes.ThreadSnapshot();
  std::vector<uint8_t> region;
  for (size_t i = kFirstExamined; i < snapshot.size(); ++i) {
    region.clear();
    if (!context.services.processes.ReadThreadStartRegion(snapshot[i], kThreadReadLimit, region)) {
      continue;
    }
    std::string matchName = "NNN";
    if (!context.engine.ScanBuffer(region.data(), static_cast<int32_t>(region.size()), matchName)) {
      continue;
    }
    if (context.state.threadHandler(context, snapshot[i], matchName) == 0) break;
  }
  return 1;
}

void KillFallbackProcess(Context& context, bool sixtyFourBitWindows) {
  const std::wstring name = sixtyFourBitWindows ? kServiceHost : kUpdateClient;
  if (KillOrphanByName(context, name)) return;
  if (name != kUpdateClient) return;
  [[maybe_unused]] const bool killed = KillOrphanByName(context, kUpdateManager);
}

void ScanProcesses(Context& context) {
  context.state.threadHandler = &OnThreadDetected;
  context.state.threadInfectionFlag = 0;
  if (ScanThreads(context) == 0) return;
  if (context.state.threadInfectionFlag) return;
  // A 64-bit build runs only on 64-bit Windows, so it needs no probe to know the branch.
  KillFallbackProcess(context, sizeof(void*) == 8 || IsWow64(context));
}

}  // namespace remedy

// ScanProcesses with Win32Processes and the built-in table on processes the demo helper starts:
// a suspended thread whose start region carries the thread signature, once in an orphan and once
// in a child whose parent runs. The scan uses the process services only; the others are a
// FakeMachine's, which records what would have touched files, registry or console.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "remedy/file_scan.h"
#include "remedy/process_scan.h"
#include "remedy/win32_services.h"
#include "tests/support/demo_process.h"
#include "tests/support/fake_machine.h"
#include "tests/support/stage_context.h"

namespace {

constexpr DWORD kBoundMs = 30000;  // every wait here ends in well under a second when all is well

// A process of the helper's family, opened by id, so that the test sees it end and ends it
// itself when the scan did not.
class WatchedProcess {
 public:
  explicit WatchedProcess(uint32_t processId)
      : handle_(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                            FALSE, processId)) {}
  ~WatchedProcess() {
    if (handle_ == nullptr) return;
    TerminateProcess(handle_, 1);  // fails harmlessly once the process has ended
    WaitForSingleObject(handle_, kBoundMs);
    CloseHandle(handle_);
  }
  WatchedProcess(const WatchedProcess&) = delete;
  WatchedProcess& operator=(const WatchedProcess&) = delete;

  bool Opened() const { return handle_ != nullptr; }
  bool Ended(DWORD milliseconds) const {
    return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
  }
  DWORD ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(handle_, &code);
    return code;
  }

 private:
  HANDLE handle_;
};

// The program's process scan: the real process services, the compiled built-in table.
class ScanProcessesOnWindows : public testing::Test {
 protected:
  ScanProcessesOnWindows()
      : services_{machine_, processes_, machine_, machine_, machine_, machine_},
        context_{services_, support::BuiltinEngine(), results_, state_,
                 &remedy::ScanFileInContext} {}

  // The scan skips the first record of each snapshot; a process met only there would be missed
  // for a reason that has nothing to do with the code under test.
  void ExpectNotOnlyFirst(uint32_t processId) {
    const std::vector<remedy::ProcessRecord> all = processes_.ProcessSnapshot();
    ASSERT_GE(all.size(), 2u);
    ASSERT_NE(all.front().processId, processId) << "the process is the snapshot's first record";
    const std::vector<remedy::ThreadRecord> threads = processes_.ThreadSnapshot();
    const auto later =
        std::find_if(threads.begin() + std::min<size_t>(1, threads.size()), threads.end(),
                     [&](const remedy::ThreadRecord& t) { return t.ownerProcessId == processId; });
    ASSERT_NE(later, threads.end()) << "no thread of the process after the first record";
  }

  support::FakeMachine machine_;
  remedy::Win32Processes processes_;
  remedy::Services services_;
  remedy::Results results_;
  remedy::StageState state_;
  remedy::Context context_;
};

TEST_F(ScanProcessesOnWindows, TerminatesTheInfectedOrphanAndListsIt) {
  support::DemoProcess starter;
  ASSERT_TRUE(starter.Start(L"infected 60")) << "error " << GetLastError();
  const std::string line = starter.ReadLine();  // only once the orphan's thread can be scanned
  const auto orphanId = static_cast<uint32_t>(std::strtoul(line.c_str(), nullptr, 10));
  ASSERT_NE(orphanId, 0u) << "the helper said \"" << line << "\"";
  WatchedProcess orphan(orphanId);
  ASSERT_TRUE(orphan.Opened()) << "error " << GetLastError();
  ASSERT_TRUE(starter.Wait(kBoundMs));  // its parent has ended: nothing protects it
  ASSERT_EQ(starter.ExitCode(), 0u);
  ExpectNotOnlyFirst(orphanId);
  if (HasFatalFailure()) return;

  remedy::ScanProcesses(context_);

  EXPECT_EQ(state_.threadInfectionFlag, 1);
  EXPECT_EQ(results_.terminatedProcesses, std::vector<uint32_t>{orphanId});
  ASSERT_TRUE(orphan.Ended(kBoundMs));
  EXPECT_EQ(orphan.ExitCode(), 0u);  // the exit code the scan terminates with
  EXPECT_TRUE(machine_.Log().empty());
}

// The parent is the helper, not this program: under Wine a fresh machine's first process, whose
// record the scan skips, is the test program itself, and its children would look parentless.
TEST_F(ScanProcessesOnWindows, LeavesAnInfectedProcessWhoseParentRuns) {
  support::DemoProcess parent;
  ASSERT_TRUE(parent.Start(L"parent 60")) << "error " << GetLastError();
  const std::string line = parent.ReadLine();
  const auto childId = static_cast<uint32_t>(std::strtoul(line.c_str(), nullptr, 10));
  ASSERT_NE(childId, 0u) << "the helper said \"" << line << "\"";
  WatchedProcess child(childId);
  ASSERT_TRUE(child.Opened()) << "error " << GetLastError();
  ExpectNotOnlyFirst(childId);
  ExpectNotOnlyFirst(parent.Id());
  if (HasFatalFailure()) return;

  remedy::ScanProcesses(context_);

  // The match counts, so the parentless-name fallback does not run either.
  EXPECT_EQ(state_.threadInfectionFlag, 1);
  EXPECT_TRUE(results_.terminatedProcesses.empty());
  EXPECT_FALSE(child.Ended(0));
  EXPECT_FALSE(parent.Wait(0));
}

}  // namespace

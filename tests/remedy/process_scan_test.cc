#include "remedy/process_scan.h"

#include <gtest/gtest.h>

#include "app/builtin_signatures.h"
#include "tests/support/signature_bytes.h"
#include "tests/support/stage_context.h"

namespace {

using support::SignatureBytes;
using support::StageContext;

// A thread start region that carries the thread signature (row 1) after some other code.
std::vector<uint8_t> InfectedRegion(size_t size = 4096) {
  std::vector<uint8_t> region(size, 0x90);
  support::Plant(region, 100, SignatureBytes(app::kBuiltinSignatures[0].pattern));
  return region;
}

// Bytes of a file signature that matches anywhere (row 84, location "*").
std::vector<uint8_t> FileSigRegion() {
  std::vector<uint8_t> region(4096, 0x90);
  support::Plant(region, 64, SignatureBytes(app::kBuiltinSignatures[83].pattern));
  return region;
}

class ScanProcesses : public testing::Test {
 protected:
  ScanProcesses() {
    s_.machine
        .AddProcess(0, 0, L"[System Process]")  // the first record, never examined
        .AddProcess(4, 0, L"System")
        .AddProcess(500, 4, L"services.exe")
        // The first thread record is never examined either.
        .AddThread(1, 4, std::vector<uint8_t>(4096, 0x90));
  }
  StageContext s_;
};

TEST_F(ScanProcesses, TerminatesTheOrphanThatCarriesTheThreadSignature) {
  s_.machine
      .AddProcess(1200, 999, L"explorer.exe")  // parent 999 has ended
      .AddThread(2, 1200, InfectedRegion())
      .AddProcess(1300, 999, L"svchost.exe");
  remedy::ScanProcesses(s_.context);
  EXPECT_EQ(s_.results.terminatedProcesses, (std::vector<uint32_t>{1200}));
  EXPECT_FALSE(s_.machine.Running(1200));
  EXPECT_TRUE(s_.machine.Running(1300));  // the fallback does not run after a thread match
  EXPECT_EQ(s_.state.threadInfectionFlag, 1);
}

TEST_F(ScanProcesses, SparesAProcessWhoseParentStillRunsAndSkipsTheFallback) {
  s_.machine.AddProcess(1200, 500, L"explorer.exe")
      .AddThread(2, 1200, InfectedRegion())
      .AddProcess(1300, 999, L"svchost.exe");
  remedy::ScanProcesses(s_.context);
  EXPECT_TRUE(s_.results.terminatedProcesses.empty());
  EXPECT_TRUE(s_.machine.Running(1200));
  EXPECT_TRUE(s_.machine.Running(1300));
  EXPECT_EQ(s_.state.threadInfectionFlag, 1);
}

TEST_F(ScanProcesses, ReadsAtMostTwoMillionBytesOfARegion) {
  s_.machine.AddProcess(1200, 500, L"a.exe")
      .AddThread(2, 1200, std::vector<uint8_t>(3000000, 0x90))
      .AddThread(3, 1200, std::vector<uint8_t>(1000, 0x90));
  remedy::ScanProcesses(s_.context);
  EXPECT_EQ(s_.machine.RegionReads(), (std::vector<size_t>{2000000, 1000}));
}

TEST_F(ScanProcesses, AnotherKindEndsTheThreadScanAndTheFallbackRuns) {
  s_.machine.AddProcess(1200, 999, L"a.exe")
      .AddThread(2, 1200, FileSigRegion())
      .AddProcess(1300, 999, L"b.exe")
      .AddThread(3, 1300, InfectedRegion())
      .AddProcess(1400, 999, L"svchost.exe")
      .SetWow64(true);
  remedy::ScanProcesses(s_.context);
  EXPECT_TRUE(s_.machine.Running(1300));  // its thread was never read
  EXPECT_EQ(s_.machine.RegionReads().size(), 1u);
  EXPECT_EQ(s_.state.threadInfectionFlag, 0);
  // 64-bit Windows (a 64-bit build, or a 32-bit one under WOW64): the service host rule.
  EXPECT_EQ(s_.results.terminatedProcesses, (std::vector<uint32_t>{1400}));
}

TEST(ScanProcessesFirstRecord, IsNeverExamined) {
  StageContext s;
  s.machine.AddProcess(0, 0, L"idle")
      .AddProcess(1200, 999, L"a.exe")
      .AddThread(2, 1200, InfectedRegion());
  remedy::ScanProcesses(s.context);
  EXPECT_TRUE(s.machine.RegionReads().empty());
  EXPECT_TRUE(s.machine.Running(1200));
}

TEST_F(ScanProcesses, SkipsThreadsWhoseRegionCannotBeRead) {
  s_.machine.AddProcess(1200, 999, L"a.exe").AddThread(2, 1200, InfectedRegion(), false);
  remedy::ScanProcesses(s_.context);
  EXPECT_TRUE(s_.machine.Running(1200));
  EXPECT_EQ(s_.state.threadInfectionFlag, 0);
}

struct FallbackCase {
  const char* name;
  bool sixtyFourBit;
  std::vector<remedy::ProcessRecord> extra;  // after System and services.exe
  std::vector<uint32_t> terminated;
};

class KillFallbackProcess : public ScanProcesses,
                            public testing::WithParamInterface<FallbackCase> {};

TEST_P(KillFallbackProcess, TerminatesAtMostOneParentlessProcessOfTheRightName) {
  for (const auto& p : GetParam().extra)
    s_.machine.AddProcess(p.processId, p.parentProcessId, p.exeFile);
  remedy::KillFallbackProcess(s_.context, GetParam().sixtyFourBit);
  EXPECT_EQ(s_.results.terminatedProcesses, GetParam().terminated);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KillFallbackProcess,
    testing::Values(FallbackCase{"x64_svchost", true, {{10, 999, L"svchost.exe"}}, {10}},
                    FallbackCase{"x64_only_svchost",
                                 true,
                                 {{10, 999, L"wuauclt.exe"}, {11, 999, L"wupdmgr.exe"}},
                                 {}},
                    FallbackCase{"x64_letter_case", true, {{10, 999, L"SvcHost.exe"}}, {}},
                    FallbackCase{"x64_live_parent", true, {{10, 500, L"svchost.exe"}}, {}},
                    FallbackCase{"x86_first_of_two",
                                 false,
                                 {{10, 999, L"wuauclt.exe"}, {11, 998, L"wuauclt.exe"}},
                                 {10}},
                    FallbackCase{"x86_skips_live_parent",
                                 false,
                                 {{10, 500, L"wuauclt.exe"}, {11, 998, L"wuauclt.exe"}},
                                 {11}},
                    FallbackCase{"x86_then_wupdmgr",
                                 false,
                                 {{10, 500, L"wuauclt.exe"}, {12, 999, L"wupdmgr.exe"}},
                                 {12}},
                    FallbackCase{"x86_never_svchost", false, {{10, 999, L"svchost.exe"}}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ScanProcesses, KillOrphanProcessNeedsTheProcessAndNoLiveParent) {
  s_.machine.AddProcess(10, 999, L"a.exe").AddProcess(11, 500, L"b.exe").FailTerminate(12);
  s_.machine.AddProcess(12, 999, L"c.exe");
  EXPECT_FALSE(remedy::KillOrphanProcess(s_.context, 77));  // not in the snapshot
  EXPECT_FALSE(remedy::KillOrphanProcess(s_.context, 0));   // the first record is never examined
  EXPECT_FALSE(remedy::KillOrphanProcess(s_.context, 11));  // its parent runs
  EXPECT_FALSE(remedy::KillOrphanProcess(s_.context, 12));  // termination refused
  EXPECT_TRUE(remedy::KillOrphanProcess(s_.context, 10));
  EXPECT_EQ(s_.results.terminatedProcesses, (std::vector<uint32_t>{10}));
}

}  // namespace

#include "app/main_flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "remedy/drive_walk.h"
#include "tests/support/fake_machine.h"

namespace {

using support::FakeMachine;

// What the recording stages saw and what they are told to do. Stages are plain function
// pointers, so they reach the test through this one object.
struct Recorder {
  std::vector<std::wstring> calls;
  bool usbResult = true;
  std::vector<bool> usbInfects;  // per removable drive, in order: set the USB-infection flag
  size_t usbCalls = 0;
  bool scanSetsDetection = false;
  bool walkSetsDetection = false;
  bool handlerSetAtWalk = false;
};
Recorder* gRecorder = nullptr;

void RecordScan(remedy::Context& context) {
  gRecorder->calls.push_back(L"scan-processes");
  if (gRecorder->scanSetsDetection) context.state.detectionFlag = 1;
}
void RecordWalk(remedy::Context& context, const std::wstring& root) {
  gRecorder->calls.push_back(L"walk " + root);
  gRecorder->handlerSetAtWalk = context.state.fileHandler == &remedy::OnFileDetected;
  if (gRecorder->walkSetsDetection) context.state.detectionFlag = 1;
}
bool RecordUsb(remedy::Context& context, std::wstring directory, bool restorePass) {
  gRecorder->calls.push_back(L"usb " + directory + (restorePass ? L" restore" : L" shortcuts"));
  const size_t index = gRecorder->usbCalls++;
  if (index < gRecorder->usbInfects.size() && gRecorder->usbInfects[index]) {
    context.state.usbInfectionFlag = 1;
  }
  return gRecorder->usbResult;
}
bool RecordCleanup(remedy::Context&) {
  gRecorder->calls.push_back(L"autorun-cleanup");
  return false;
}

class MainFlow : public testing::Test {
 protected:
  MainFlow() { gRecorder = &recorder_; }
  ~MainFlow() override { gRecorder = nullptr; }

  int Run() {
    remedy::Context context{machine_.Services(), engine_, results_, state_, nullptr};
    return app::RunMainFlow(context,
                            app::Stages{&RecordScan, &RecordWalk, &RecordUsb, &RecordCleanup});
  }
  // The console text after the "Scanning your files" line and its empty line.
  std::string AfterScanningLine() const {
    const std::string marker = std::string(app::kScanningFiles) + "\n<flush>\n<flush>";
    const size_t at = machine_.Output().find(marker);
    return at == std::string::npos ? "<missing>" : machine_.Output().substr(at + marker.size());
  }

  FakeMachine machine_;
  engine::Engine engine_;
  remedy::Results results_;
  remedy::StageState state_;
  Recorder recorder_;
};

std::string LineEnds(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "\n<flush>";
  return text;
}

TEST_F(MainFlow, EmptyRunPrintsBannerScanningLineEightLineEndsAndPauses) {
  EXPECT_EQ(Run(), 0);
  const std::string expected = std::string(app::kBanner) + LineEnds(1) + app::kMakerNotice +
                               LineEnds(2) + app::kScanningFiles + LineEnds(2) + LineEnds(8) +
                               "<pause>";
  EXPECT_EQ(machine_.Output(), expected);
  EXPECT_EQ(std::string(app::kBanner), "Velmora Antivirus Nolvexa Removal - v1.0");
  EXPECT_EQ(recorder_.calls, (std::vector<std::wstring>{L"scan-processes", L"autorun-cleanup"}));
  EXPECT_EQ(machine_.Log(), (std::vector<std::wstring>{L"debug-privilege", L"pause"}));
}

TEST_F(MainFlow, ProbesLettersBToZInLowerCaseWithBackslash) {
  Run();
  std::vector<std::wstring> expected;
  for (wchar_t letter = L'b'; letter <= L'z'; ++letter) expected.push_back({letter, L':', L'\\'});
  EXPECT_EQ(machine_.ProbedRoots(), expected);
}

TEST_F(MainFlow, WalksFixedDrivesWithTheHandlerInItsSlotAndRestoresRemovableOnes) {
  machine_.SetDriveType(L'a', remedy::kDriveFixed)
      .SetDriveType(L'c', remedy::kDriveFixed)
      .SetDriveType(L'd', 5)  // optical: skipped without output
      .SetDriveType(L'e', remedy::kDriveRemovable)
      .SetDriveType(L'f', 4)  // network
      .SetDriveType(L'z', remedy::kDriveFixed);
  Run();
  EXPECT_EQ(recorder_.calls,
            (std::vector<std::wstring>{L"scan-processes", L"walk c:\\", L"usb e: shortcuts",
                                       L"walk z:\\", L"autorun-cleanup"}));
  EXPECT_TRUE(recorder_.handlerSetAtWalk);
}

TEST_F(MainFlow, FailingDebugPrivilegeIsSilentAndTheRunGoesOn) {
  machine_.FailDebugPrivilege();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine_.Output().find("rivilege"), std::string::npos);
  EXPECT_EQ(recorder_.calls.back(), L"autorun-cleanup");
}

struct UsbCase {
  const char* name;
  std::vector<bool> infects;  // per removable drive
  bool result;
  std::string expected;  // the console text between the drive loop's start and the summary
};

class MainFlowUsb : public MainFlow, public testing::WithParamInterface<UsbCase> {};

TEST_P(MainFlowUsb, PrintsTheMessageTheFlagAndTheResultCallFor) {
  const UsbCase& c = GetParam();
  machine_.SetDriveType(L'e', remedy::kDriveRemovable);
  if (c.infects.size() > 1) machine_.SetDriveType(L'g', remedy::kDriveRemovable);
  recorder_.usbInfects = c.infects;
  recorder_.usbResult = c.result;
  Run();
  EXPECT_EQ(AfterScanningLine(), c.expected + LineEnds(8) + "<pause>");
}

const std::string kUsb = app::kScanningUsb;
INSTANTIATE_TEST_SUITE_P(
    Cases, MainFlowUsb,
    testing::Values(
        UsbCase{"clean", {false}, true, kUsb + app::kUsbClean},
        UsbCase{"infected_restored", {true}, true, kUsb + app::kUsbDisinfected},
        UsbCase{"infected_listing_failed", {true}, false, kUsb},
        UsbCase{"clean_listing_failed", {false}, false, kUsb + app::kUsbClean},
        // The flag is never cleared, so a clean second drive is reported like the first.
        UsbCase{"infected_then_clean",
                {true, false},
                true,
                kUsb + app::kUsbDisinfected + kUsb + app::kUsbDisinfected},
        UsbCase{"infected_then_clean_listing_failed", {true, false}, false, kUsb + kUsb}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(MainFlow, DetectionOnAFixedDriveSkipsTheRegistryCleanup) {
  machine_.SetDriveType(L'c', remedy::kDriveFixed);
  recorder_.walkSetsDetection = true;
  Run();
  EXPECT_EQ(recorder_.calls, (std::vector<std::wstring>{L"scan-processes", L"walk c:\\"}));
}

TEST_F(MainFlow, DetectionFlagIsClearedAfterTheProcessScan) {
  recorder_.scanSetsDetection = true;
  Run();
  EXPECT_EQ(recorder_.calls.back(), L"autorun-cleanup");
}

TEST_F(MainFlow, SummaryListsTerminatedProcessesThenFailedFiles) {
  // The lists are cleared at the very start, so only what the stages add is reported.
  results_.terminatedProcesses = {1};
  results_.failedDeletions = {"stale"};
  machine_.SetDriveType(L'c', remedy::kDriveFixed);
  recorder_.walkSetsDetection = true;
  struct Adder {
    static void Scan(remedy::Context& context) {
      context.results.terminatedProcesses.push_back(4084);
    }
    static void Walk(remedy::Context& context, const std::wstring&) {
      context.results.failedDeletions.push_back("c:\\\\dir\\a.exe");
    }
  };
  remedy::Context context{machine_.Services(), engine_, results_, state_, nullptr};
  app::RunMainFlow(context, app::Stages{&Adder::Scan, &Adder::Walk, &RecordUsb, &RecordCleanup});
  EXPECT_EQ(AfterScanningLine(), LineEnds(7) + "Process with \"PID\"  =  4084 Deleted." +
                                     LineEnds(1) + LineEnds(1) +
                                     "Can not delete file with \"filepath\"  :  c:\\\\dir\\a.exe" +
                                     LineEnds(1) + "<pause>");
}

}  // namespace

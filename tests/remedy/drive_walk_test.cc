#include "remedy/drive_walk.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/stage_context.h"

namespace {

using support::StageContext;

// Stands in for the engine: "MZ" files are images; a marker in the bytes names the match.
int MarkerScanner(remedy::Context& context, const std::wstring& path, std::string& matchName) {
  std::vector<uint8_t> bytes;
  if (!context.services.files.ReadWholeFile(path, 1 << 20, bytes)) return 2;
  const std::string text(bytes.begin(), bytes.end());
  if (text.rfind("MZ", 0) != 0) return 2;
  for (const char* name : {"FileSig", "FlashSig", "ThreadSig3"}) {
    if (text.find(std::string("<") + name + ">") != std::string::npos) {
      matchName = name;
      return 1;
    }
  }
  return 0;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

const std::string kBlanks(320, ' ');

class WalkDrive : public testing::Test {
 protected:
  WalkDrive() : s_(&MarkerScanner) {
    s_.machine.SetDriveType(L'c', remedy::kDriveFixed);
    s_.state.fileHandler = &remedy::OnFileDetected;
  }
  void Walk(const std::wstring& root = L"c:\\") { remedy::WalkDrive(s_.context, root); }
  StageContext s_;
};

TEST_F(WalkDrive, DrawsEachEntryOnTheProgressLineAndRedrawsInPlace) {
  s_.machine.AddFile(L"c:\\a.exe", Bytes("MZclean"))
      .AddFolder(L"c:\\d")
      .AddFile(L"c:\\d\\b.txt", Bytes("text"));
  Walk();
  const std::string expected =
      "c:\\"
      "<at 3,0>" +
      kBlanks + "<at 3,0>\\a.exe<at 3,0>" + kBlanks + "<at 3,0>\\d" + "<at 5,0>" + kBlanks +
      "<at 5,0>\\b.txt<at 5,0>" +
      "<at 5,0>"   // the subdirectory's end
      "<at 3,0>"   // back after the subdirectory
      "<at 3,0>";  // the root's end
  EXPECT_EQ(s_.machine.Output(), expected);
  // The root's entries carry the doubled backslash the walk builds.
  EXPECT_EQ(s_.machine.LogOf(L"find"),
            (std::vector<std::wstring>{L"find c:\\\\*.*", L"find c:\\\\d\\*.*"}));
  EXPECT_EQ(s_.machine.LogOf(L"read"),
            (std::vector<std::wstring>{L"read c:\\\\a.exe", L"read c:\\\\d\\b.txt"}));
  EXPECT_EQ(s_.state.detectionFlag, 0);
}

TEST_F(WalkDrive, NeitherEntersNorShowsReparsePointsAndEmptyFoldersPrintNothing) {
  s_.machine.AddFolder(L"c:\\link", remedy::kAttributeDirectory | remedy::kAttributeReparsePoint)
      .AddFile(L"c:\\link\\x.exe", Bytes("MZ<FileSig>"))
      .AddFolder(L"c:\\empty");
  Walk();
  EXPECT_EQ(s_.machine.Output(), "c:\\" + kBlanks + "<at 3,0>\\empty<at 3,0><at 3,0>");
  EXPECT_TRUE(s_.machine.Exists(L"c:\\link\\x.exe"));
  EXPECT_EQ(s_.machine.LogOf(L"find"),
            (std::vector<std::wstring>{L"find c:\\\\*.*", L"find c:\\\\empty\\*.*"}));
}

TEST_F(WalkDrive, DeletesFileSigMatchesAndAnnouncesThemSevenRowsBelow) {
  s_.machine.SetCursor(0, 2).AddFile(L"c:\\bad.exe", Bytes("MZ<FileSig>"));
  Walk();
  EXPECT_FALSE(s_.machine.Exists(L"c:\\bad.exe"));
  EXPECT_EQ(s_.state.detectionFlag, 1);
  EXPECT_EQ(s_.state.disinfectedFiles, 1u);
  const std::string announcement = "<at 0,9>" + kBlanks +
                                   "<at 0,9>Disinfect c:\\\\bad.exe\n<flush>" +
                                   "Number of disinfected files: 1<at 3,2>";
  EXPECT_NE(s_.machine.Output().find("\\bad.exe<at 3,2>" + announcement), std::string::npos)
      << s_.machine.Output();
}

TEST_F(WalkDrive, KindsOtherThanFileSigSetTheFlagButAreKept) {
  s_.machine.AddFile(L"c:\\flash.exe", Bytes("MZ<FlashSig>"))
      .AddFile(L"c:\\thread.exe", Bytes("MZ<ThreadSig3>"));
  Walk();
  EXPECT_TRUE(s_.machine.Exists(L"c:\\flash.exe"));
  EXPECT_TRUE(s_.machine.Exists(L"c:\\thread.exe"));
  EXPECT_EQ(s_.state.detectionFlag, 1);
  EXPECT_EQ(s_.state.disinfectedFiles, 0u);
  EXPECT_TRUE(s_.machine.LogOf(L"delete").empty());
}

TEST_F(WalkDrive, AFileThatResistsThreeAttemptsIsListedAndTheWalkGoesOn) {
  s_.machine.AddFile(L"c:\\held.exe", Bytes("MZ<FileSig>"))
      .HoldOpen(L"c:\\held.exe")
      .AddFile(L"c:\\next.exe", Bytes("MZ<FileSig>"));
  Walk();
  // Each failed attempt is followed by a whole process scan, the third one too.
  std::vector<std::wstring> attempts;
  for (const std::wstring& line : s_.machine.Log()) {
    if (line.find(L"next.exe") != std::wstring::npos) break;
    if (line.rfind(L"read", 0) == 0 || line.rfind(L"find", 0) == 0) continue;
    attempts.push_back(line);
  }
  std::vector<std::wstring> expected;
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(), {L"sleep 1000", L"null-dacl c:\\\\held.exe",
                                     L"delete c:\\\\held.exe", L"thread-snapshot"});
  }
  EXPECT_EQ(attempts, expected);
  EXPECT_EQ(s_.results.failedDeletions, (std::vector<std::string>{"c:\\\\held.exe"}));
  EXPECT_FALSE(s_.machine.Exists(L"c:\\next.exe"));
  EXPECT_EQ(s_.state.disinfectedFiles, 1u);
}

TEST_F(WalkDrive, CountsDeletionsOverAllDrives) {
  s_.machine.SetDriveType(L'd', remedy::kDriveFixed)
      .AddFile(L"c:\\1.exe", Bytes("MZ<FileSig>"))
      .AddFile(L"c:\\2.exe", Bytes("MZ<FileSig>"))
      .AddFile(L"d:\\3.exe", Bytes("MZ<FileSig>"));
  Walk(L"c:\\");
  Walk(L"d:\\");
  EXPECT_EQ(s_.state.disinfectedFiles, 3u);
  const std::string& out = s_.machine.Output();
  EXPECT_EQ(out.rfind("Number of disinfected files: "), out.find("Number of disinfected files: 3"));
}

TEST_F(WalkDrive, AHandlerVerdictOfZeroEndsOnlyThatDirectory) {
  s_.machine.AddFolder(L"c:\\d")
      .AddFile(L"c:\\d\\stop.exe", Bytes("MZ<FileSig>"))
      .AddFile(L"c:\\d\\after.exe", Bytes("MZ"))
      .AddFile(L"c:\\later.exe", Bytes("MZ"));
  s_.state.fileHandler = [](remedy::Context&, const std::wstring&, const std::string&) {
    return 0;
  };
  Walk();
  EXPECT_EQ(s_.machine.LogOf(L"read"),
            (std::vector<std::wstring>{L"read c:\\\\d\\stop.exe", L"read c:\\\\later.exe"}));
}

TEST_F(WalkDrive, ShowsNamesInTheirUtf8FormAndReportsUnreadableCursors) {
  s_.machine.AddFile(L"c:\\caf\u00e9.exe", Bytes("MZ")).FailCursorReads(6);
  Walk();
  EXPECT_NE(s_.machine.Output().find("GetConsoleScreenBufferInfo (6)\n"), std::string::npos);
  EXPECT_NE(s_.machine.Output().find("\\caf\xC3\xA9.exe"), std::string::npos);
}

TEST_F(WalkDrive, FilesThatAreNoImagesReachTheHandlerAsNNNOnly) {
  s_.machine.AddFile(L"c:\\notes.txt", Bytes("hello")).AddFile(L"c:\\empty.bin", {});
  Walk();
  EXPECT_EQ(s_.state.detectionFlag, 0);
  EXPECT_TRUE(s_.machine.Exists(L"c:\\notes.txt"));
  EXPECT_TRUE(s_.machine.LogOf(L"delete").empty());
}

}  // namespace

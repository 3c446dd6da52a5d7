#include "remedy/usb_restore.h"

#include <gtest/gtest.h>

#include "app/builtin_signatures.h"
#include "tests/support/signature_bytes.h"
#include "tests/support/stage_context.h"

namespace {

using remedy::kAttributeArchive;
using remedy::kAttributeDirectory;
using remedy::kAttributeHidden;
using remedy::kAttributeSystem;
using support::SignatureBytes;
using support::StageContext;

// A shortcut whose bytes carry the rundll32 text of a flash signature (row 2).
std::vector<uint8_t> InfectedShortcut() {
  std::vector<uint8_t> bytes(300, 0x41);
  bytes[0] = 'L';
  support::Plant(bytes, 76, SignatureBytes(app::kBuiltinSignatures[1].pattern));
  return bytes;
}

std::vector<uint8_t> CleanShortcut() { return std::vector<uint8_t>(300, 0x41); }

class RestoreUsbDrive : public testing::Test {
 protected:
  RestoreUsbDrive() {
    s_.machine.SetDriveType(L'e', remedy::kDriveRemovable)
        .AddFolder(L"e:\\data", kAttributeHidden | kAttributeSystem | kAttributeDirectory)
        .AddFile(L"e:\\desktop.ini", {1}, kAttributeHidden | kAttributeSystem)
        .AddFile(L"e:\\Thumbs.db", {1}, kAttributeHidden)
        .AddFolder(L"e:\\sub")
        .AddFile(L"e:\\sub\\desktop.ini", {1});
  }
  bool Restore() { return remedy::RestoreUsbDrive(s_.context, L"e:", false); }
  void ExpectRestored(bool restored) {
    EXPECT_EQ(s_.machine.Exists(L"e:\\Velmora Nolvexa Removal"), restored);
    EXPECT_EQ(s_.machine.Exists(L"e:\\data"), !restored);
    EXPECT_EQ(s_.machine.Exists(L"e:\\desktop.ini"), !restored);
    EXPECT_EQ(s_.machine.Exists(L"e:\\Thumbs.db"), !restored);
    EXPECT_TRUE(s_.machine.Exists(L"e:\\sub\\desktop.ini"));  // subfolders are never touched
  }
  StageContext s_;
};

TEST_F(RestoreUsbDrive, RestoresTheFolderAndDeletesTheViewFilesAndTheShortcut) {
  s_.machine.AddFile(L"e:\\My Files.lnk", InfectedShortcut());
  EXPECT_TRUE(Restore());
  EXPECT_EQ(s_.state.usbInfectionFlag, 1);
  ExpectRestored(true);
  EXPECT_FALSE(s_.machine.Exists(L"e:\\My Files.lnk"));
  EXPECT_EQ(s_.machine.AttributesOf(L"e:\\Velmora Nolvexa Removal"), kAttributeDirectory);
}

TEST_F(RestoreUsbDrive, HandlesOnlyTheFirstOfTwoInfectedShortcuts) {
  s_.machine.AddFile(L"e:\\a.lnk", InfectedShortcut()).AddFile(L"e:\\b.lnk", InfectedShortcut());
  EXPECT_TRUE(Restore());
  EXPECT_FALSE(s_.machine.Exists(L"e:\\a.lnk"));
  EXPECT_TRUE(s_.machine.Exists(L"e:\\b.lnk"));
  EXPECT_TRUE(s_.machine.LogOf(L"read e:\\b.lnk").empty());
}

TEST_F(RestoreUsbDrive, ExaminesOnlyNamesHoldingLowerCaseLnk) {
  s_.machine.AddFile(L"e:\\A.LNK", InfectedShortcut())
      .AddFile(L"e:\\empty.lnk", {})
      .AddFile(L"e:\\clean.lnk", CleanShortcut())
      .AddFile(L"e:\\x.lnk.exe", InfectedShortcut());  // ".lnk" inside the name counts
  EXPECT_TRUE(Restore());
  EXPECT_TRUE(s_.machine.LogOf(L"read e:\\A.LNK").empty());
  EXPECT_TRUE(s_.machine.Exists(L"e:\\A.LNK"));
  EXPECT_FALSE(s_.machine.Exists(L"e:\\x.lnk.exe"));
  EXPECT_TRUE(s_.machine.Exists(L"e:\\clean.lnk"));
  ExpectRestored(true);
}

TEST_F(RestoreUsbDrive, LeavesAFolderWithFurtherAttributes) {
  s_.machine
      .AddFolder(L"e:\\data",
                 kAttributeHidden | kAttributeSystem | kAttributeDirectory | kAttributeArchive)
      .AddFile(L"e:\\a.lnk", InfectedShortcut());
  EXPECT_TRUE(Restore());
  EXPECT_TRUE(s_.machine.Exists(L"e:\\data"));
  EXPECT_FALSE(s_.machine.Exists(L"e:\\Velmora Nolvexa Removal"));
  EXPECT_FALSE(s_.machine.Exists(L"e:\\desktop.ini"));
}

TEST_F(RestoreUsbDrive, AMatchOfAnotherKindSetsTheFlagButRestoresNothing) {
  std::vector<uint8_t> bytes(400, 0x41);
  support::Plant(bytes, 40, SignatureBytes(app::kBuiltinSignatures[83].pattern));
  s_.machine.AddFile(L"e:\\a.lnk", bytes).AddFile(L"e:\\b.lnk", InfectedShortcut());
  EXPECT_TRUE(Restore());
  EXPECT_EQ(s_.state.usbInfectionFlag, 1);
  ExpectRestored(false);
  EXPECT_TRUE(s_.machine.Exists(L"e:\\a.lnk"));
  EXPECT_TRUE(s_.machine.Exists(L"e:\\b.lnk"));  // the listing ended at the first match
}

TEST_F(RestoreUsbDrive, CleanAndUnlistableDrives) {
  s_.machine.AddFile(L"e:\\clean.lnk", CleanShortcut());
  EXPECT_TRUE(Restore());
  EXPECT_EQ(s_.state.usbInfectionFlag, 0);
  ExpectRestored(false);
  EXPECT_FALSE(remedy::RestoreUsbDrive(s_.context, L"f:", false));
  EXPECT_EQ(s_.machine.Output(), "Error : GetLastError for Invalid Handle of FindFirstFile");
}

}  // namespace

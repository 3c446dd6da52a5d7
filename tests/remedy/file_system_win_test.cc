// Win32FileSystem on files and folders made in a scratch folder under the temporary directory.
// Where Wine and Windows differ, the test asserts what Wine does and says why.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "remedy/to_utf8.h"
#include "remedy/win32_services.h"
#include "tests/support/demo_process.h"
#include "tests/support/scratch_folder.h"

namespace {

using remedy::FindEntry;
using remedy::Win32FileSystem;
using support::ScratchFolder;

// Every entry a listing gives, the first one included.
std::vector<FindEntry> ListAll(Win32FileSystem& files, const std::wstring& pattern) {
  std::vector<FindEntry> entries;
  FindEntry entry;
  uint32_t error = 0;
  auto listing = files.FindFirst(pattern, entry, error);
  if (listing == nullptr) return entries;
  do {
    entries.push_back(entry);
  } while (listing->Next(entry));
  return entries;
}

// The same listing straight from Windows, for the order.
std::vector<std::wstring> RawNames(const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(data.cFileName);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return names;
}

const FindEntry* Named(const std::vector<FindEntry>& entries, const std::wstring& name) {
  const auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const FindEntry& e) { return e.name == name; });
  return it == entries.end() ? nullptr : &*it;
}

class Win32FileSystemTest : public testing::Test {
 protected:
  ScratchFolder folder_{L"fs"};
  Win32FileSystem files_;
};

TEST_F(Win32FileSystemTest, ListsEveryEntryInFileSystemOrderWithItsAttributes) {
  const std::wstring& d = folder_.Path();
  ASSERT_TRUE(support::WriteBytes(d + L"\\b.txt", {1, 2, 3}));
  ASSERT_TRUE(support::WriteBytes(d + L"\\a.bin", {}));
  ASSERT_TRUE(support::WriteBytes(d + L"\\ro.txt", {4}));
  ASSERT_TRUE(SetFileAttributesW((d + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW((d + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesW((d + L"\\sub").c_str(), FILE_ATTRIBUTE_HIDDEN));

  const std::vector<FindEntry> entries = ListAll(files_, d + L"\\*.*");
  std::vector<std::wstring> names;
  for (const FindEntry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, RawNames(d + L"\\*.*"));  // no entry dropped, nothing reordered
  ASSERT_EQ(entries.size(), 6u);
  for (const wchar_t* name : {L".", L"..", L"a.bin", L"b.txt", L"ro.txt", L"sub"}) {
    SCOPED_TRACE(testing::Message() << remedy::ToUtf8(name));
    EXPECT_NE(Named(entries, name), nullptr);
  }
  EXPECT_EQ(Named(entries, L"sub")->attributes,
            remedy::kAttributeDirectory | remedy::kAttributeHidden);
  EXPECT_NE(Named(entries, L"ro.txt")->attributes & remedy::kAttributeReadOnly, 0u);
  EXPECT_EQ(Named(entries, L"b.txt")->attributes & remedy::kAttributeDirectory, 0u);
  EXPECT_NE(Named(entries, L".")->attributes & remedy::kAttributeDirectory, 0u);
}

TEST_F(Win32FileSystemTest, AFolderThatCannotBeListedGivesNoListingAndTheError) {
  FindEntry first{7, L"kept"};
  uint32_t error = 0;
  EXPECT_EQ(files_.FindFirst(folder_.Path() + L"\\missing\\*.*", first, error), nullptr);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(first.name, L"kept");  // left alone on failure
}

TEST_F(Win32FileSystemTest, AttributesSetAndReadBackAndAMissingPathIsInvalid) {
  const std::wstring file = folder_.Path() + L"\\f.txt";
  const std::wstring dir = folder_.Path() + L"\\data";
  ASSERT_TRUE(support::WriteBytes(file, {1}));
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));

  EXPECT_EQ(files_.Attributes(folder_.Path() + L"\\nothing"), remedy::kInvalidAttributes);
  EXPECT_EQ(files_.Attributes(dir), remedy::kAttributeDirectory);
  // The restoration looks for exactly this value on a removable drive's hidden folder.
  ASSERT_TRUE(files_.SetAttributes(dir, remedy::kAttributeHidden | remedy::kAttributeSystem));
  EXPECT_EQ(files_.Attributes(dir), 0x16u);
  ASSERT_TRUE(files_.SetAttributes(dir, remedy::kAttributeNormal));
  EXPECT_EQ(files_.Attributes(dir), remedy::kAttributeDirectory);

  // Wine reports every file with the archive bit, whatever was set; the other bits are exact.
  const uint32_t fileBits = ~remedy::kAttributeArchive;
  ASSERT_TRUE(files_.SetAttributes(file, remedy::kAttributeReadOnly));
  EXPECT_EQ(files_.Attributes(file) & fileBits, remedy::kAttributeReadOnly);
  ASSERT_TRUE(files_.SetAttributes(file, remedy::kAttributeNormal));
  EXPECT_EQ(files_.Attributes(file) & fileBits & ~remedy::kAttributeNormal, 0u);
  EXPECT_FALSE(files_.SetAttributes(folder_.Path() + L"\\nothing", remedy::kAttributeNormal));
}

struct LinkCase {
  const char* name;
  bool (*make)(const std::wstring& link, const std::wstring& target);
};
const LinkCase kLinkCases[] = {
    {"junction", &support::MakeJunction},
    {"symbolic_link", &support::MakeDirectorySymlink},
};

class Win32DirectoryLink : public testing::TestWithParam<LinkCase> {
 protected:
  ScratchFolder folder_{L"link"};
  Win32FileSystem files_;
};

// The walk sees a link as a directory entry, then asks for its attributes by path: both must
// show what it is. An unreadable result has every bit set, so it is checked first.
void ExpectALinkedDirectory(Win32FileSystem& files, const std::wstring& folder,
                            const std::wstring& name) {
  const uint32_t attributes = files.Attributes(folder + L"\\" + name);
  ASSERT_NE(attributes, remedy::kInvalidAttributes);
  EXPECT_NE(attributes & remedy::kAttributeReparsePoint, 0u);
  EXPECT_NE(attributes & remedy::kAttributeDirectory, 0u);
  const std::vector<FindEntry> entries = ListAll(files, folder + L"\\*.*");
  const FindEntry* entry = Named(entries, name);
  ASSERT_NE(entry, nullptr);
  EXPECT_NE(entry->attributes & remedy::kAttributeDirectory, 0u);
}

TEST_P(Win32DirectoryLink, CarriesTheReparseAttribute) {
  const std::wstring target = folder_.Path() + L"\\target";
  const std::wstring link = folder_.Path() + L"\\link";
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  const bool made = GetParam().make(link, target);
  const DWORD error = GetLastError();
  if (support::RunningUnderWine() &&
      (!made || files_.Attributes(link) == remedy::kInvalidAttributes)) {
    // Wine refuses the junction (ERROR_NOT_SUPPORTED) and reports the symbolic link as made
    // without making it; HostLinkAsWineShowsIt covers links under Wine.
    GTEST_SKIP() << "Wine cannot make this link (error " << error << ")";
  }
  ASSERT_TRUE(made) << "error " << error;
  ExpectALinkedDirectory(files_, folder_.Path(), L"link");
  EXPECT_EQ(files_.Attributes(target) & remedy::kAttributeReparsePoint, 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Win32DirectoryLink, testing::ValuesIn(kLinkCases),
                         [](const auto& param) { return std::string(param.param.name); });

// wine-run.sh puts a host symbolic link at c:\nolvexa-links\link (to the folder "target" beside
// it), which Wine shows as a reparse point.
TEST(Win32FileSystemLinks, HostLinkAsWineShowsIt) {
  if (!support::RunningUnderWine()) GTEST_SKIP() << "the link is made by the Wine test runner";
  Win32FileSystem files;
  ExpectALinkedDirectory(files, L"c:\\nolvexa-links", L"link");
  EXPECT_EQ(files.Attributes(L"c:\\nolvexa-links") & remedy::kAttributeReparsePoint, 0u);
}

TEST_F(Win32FileSystemTest, RenameMovesAndRefusesAnExistingTarget) {
  const std::wstring d = folder_.Path();
  ASSERT_TRUE(CreateDirectoryW((d + L"\\hidden1").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((d + L"\\hidden2").c_str(), nullptr));
  ASSERT_TRUE(support::WriteBytes(d + L"\\hidden1\\photo.jpg", {9, 9}));

  ASSERT_TRUE(files_.Rename(d + L"\\hidden1", d + L"\\Restored Folder"));
  EXPECT_EQ(files_.Attributes(d + L"\\hidden1"), remedy::kInvalidAttributes);
  EXPECT_EQ(support::ReadBytes(d + L"\\Restored Folder\\photo.jpg"), (std::vector<uint8_t>{9, 9}));
  // Only the first of two hidden folders can take the name: the target then exists.
  EXPECT_FALSE(files_.Rename(d + L"\\hidden2", d + L"\\Restored Folder"));
  EXPECT_NE(files_.Attributes(d + L"\\hidden2"), remedy::kInvalidAttributes);
  EXPECT_FALSE(files_.Rename(d + L"\\missing", d + L"\\other"));
}

TEST_F(Win32FileSystemTest, RemoveFileDeletesFilesOnly) {
  const std::wstring file = folder_.Path() + L"\\f.exe";
  const std::wstring dir = folder_.Path() + L"\\dir";
  ASSERT_TRUE(support::WriteBytes(file, {1}));
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  EXPECT_TRUE(files_.RemoveFile(file));
  EXPECT_EQ(files_.Attributes(file), remedy::kInvalidAttributes);
  EXPECT_FALSE(files_.RemoveFile(file));
  EXPECT_FALSE(files_.RemoveFile(dir));
  EXPECT_NE(files_.Attributes(dir), remedy::kInvalidAttributes);
}

TEST_F(Win32FileSystemTest, NullDaclLetsADeniedFileBeDeleted) {
  const std::wstring file = folder_.Path() + L"\\denied.exe";
  ASSERT_TRUE(support::WriteBytes(file, {1, 2}));
  ASSERT_TRUE(support::SetReadOnlyDacl(file)) << "error " << GetLastError();
  if (support::RunningUnderWine()) {
    // Wine keeps a DACL without write access as a file without write permission, which it will
    // not delete: the fixture resists until the override. On Windows, the folder's
    // delete-child right would let it go anyway.
    EXPECT_FALSE(files_.RemoveFile(file));
    ASSERT_NE(files_.Attributes(file), remedy::kInvalidAttributes);
  }
  EXPECT_TRUE(files_.SetNullDacl(file));
  EXPECT_TRUE(files_.RemoveFile(file));
  EXPECT_EQ(files_.Attributes(file), remedy::kInvalidAttributes);
}

TEST_F(Win32FileSystemTest, NullDaclOnAMissingFileFails) {
  const std::wstring file = folder_.Path() + L"\\missing.exe";
  EXPECT_FALSE(files_.SetNullDacl(file));
  EXPECT_FALSE(files_.RemoveFile(file));
}

TEST_F(Win32FileSystemTest, ReadOnlyFileAfterTheNullDacl) {
  const std::wstring file = folder_.Path() + L"\\readonly.exe";
  ASSERT_TRUE(support::WriteBytes(file, {1}));
  ASSERT_TRUE(files_.SetAttributes(file, remedy::kAttributeReadOnly));
  EXPECT_FALSE(files_.RemoveFile(file));  // read-only resists a plain delete everywhere
  EXPECT_TRUE(files_.SetNullDacl(file));
  if (support::RunningUnderWine()) {
    // Wine keeps read-only as a missing write permission, and the null DACL's full access gives
    // the file mode 0777: the attribute is gone and the delete succeeds.
    EXPECT_EQ(files_.Attributes(file) & remedy::kAttributeReadOnly, 0u);
    EXPECT_TRUE(files_.RemoveFile(file));
  } else {
    // Windows keeps attributes apart from security: the file stays read-only and is not deleted.
    EXPECT_NE(files_.Attributes(file) & remedy::kAttributeReadOnly, 0u);
    EXPECT_FALSE(files_.RemoveFile(file));
  }
}

TEST_F(Win32FileSystemTest, AFileOpenWithoutDeleteSharingIsNotDeleted) {
  const std::wstring file = folder_.Path() + L"\\open.exe";
  ASSERT_TRUE(support::WriteBytes(file, {1}));
  {
    const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    files_.SetNullDacl(file);
    EXPECT_FALSE(files_.RemoveFile(file));
    EXPECT_NE(files_.Attributes(file), remedy::kInvalidAttributes);
    CloseHandle(held);
  }
  EXPECT_TRUE(files_.RemoveFile(file));
}

TEST_F(Win32FileSystemTest, AFileHeldByAnotherProcessIsNotDeleted) {
  const std::wstring file = folder_.Path() + L"\\locked.exe";
  ASSERT_TRUE(support::WriteBytes(file, {1}));
  support::DemoProcess holder;
  ASSERT_TRUE(holder.Start(L"hold \"" + file + L"\" 60")) << "error " << GetLastError();
  ASSERT_EQ(holder.ReadLine(), "holding");
  files_.SetNullDacl(file);
  EXPECT_FALSE(files_.RemoveFile(file));
  EXPECT_NE(files_.Attributes(file), remedy::kInvalidAttributes);
  ASSERT_TRUE(holder.End());
  EXPECT_TRUE(files_.RemoveFile(file));
}

struct ReadCase {
  const char* name;
  size_t size;
  size_t maxBytes;
  bool expected;
};
const ReadCase kReadCases[] = {
    {"empty", 0, 16, true},
    {"small", 5, 16, true},
    {"exactly_the_limit", 16, 16, true},
    {"one_past_the_limit", 17, 16, false},
    {"several_reads", 3 << 20, 4 << 20, true},
};

class Win32ReadWholeFile : public testing::TestWithParam<ReadCase> {
 protected:
  ScratchFolder folder_{L"read"};
  Win32FileSystem files_;
};

TEST_P(Win32ReadWholeFile, ReadsTheWholeFileWithinTheLimit) {
  const ReadCase& c = GetParam();
  std::vector<uint8_t> content(c.size);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::wstring file = folder_.Path() + L"\\f.lnk";
  ASSERT_TRUE(support::WriteBytes(file, content));
  std::vector<uint8_t> bytes{0xEE};
  EXPECT_EQ(files_.ReadWholeFile(file, c.maxBytes, bytes), c.expected);
  EXPECT_EQ(bytes, c.expected ? content : std::vector<uint8_t>{0xEE});
}

INSTANTIATE_TEST_SUITE_P(Sizes, Win32ReadWholeFile, testing::ValuesIn(kReadCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Win32FileSystemTest, ReadWholeFileOfAMissingFileFails) {
  std::vector<uint8_t> bytes{1, 2};
  EXPECT_FALSE(files_.ReadWholeFile(folder_.Path() + L"\\missing.lnk", 100, bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2}));
}

TEST_F(Win32FileSystemTest, ReadWholeFileSharesWithAWriterButNotWithoutReadSharing) {
  const std::wstring file = folder_.Path() + L"\\busy.lnk";
  ASSERT_TRUE(support::WriteBytes(file, {5, 6}));
  std::vector<uint8_t> bytes;
  {
    const HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(files_.ReadWholeFile(file, 100, bytes));
    CloseHandle(writer);
  }
  EXPECT_EQ(bytes, (std::vector<uint8_t>{5, 6}));
  const HANDLE exclusive =
      CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(files_.ReadWholeFile(file, 100, bytes));
  CloseHandle(exclusive);
}

// A tree deeper than MAX_PATH, reached with the paths the walk builds: the root's doubled
// backslash included. Wine itself has no MAX_PATH limit and folds doubled backslashes even in the
// literal form, so here this shows the calls work on such paths; long_path_test checks the form.
TEST_F(Win32FileSystemTest, PathsLongerThanMaxPathWork) {
  std::wstring deep = folder_.Path();
  const std::wstring part(60, L'x');
  while (deep.size() < MAX_PATH + 40) deep += L"\\" + part;
  ASSERT_TRUE(support::MakeDirectories(deep)) << "error " << GetLastError();
  // The walk writes the root with its backslash and then "\" and the name.
  ASSERT_EQ(deep.substr(1, 2), L":\\");
  const std::wstring walked = deep.substr(0, 3) + L"\\" + deep.substr(3);
  const std::wstring file = walked + L"\\infected.exe";
  ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
  ASSERT_TRUE(support::WriteBytes(deep + L"\\infected.exe", {1, 2, 3}));

  const std::vector<FindEntry> entries = ListAll(files_, walked + L"\\*.*");
  EXPECT_NE(Named(entries, L"infected.exe"), nullptr);
  EXPECT_NE(files_.Attributes(file), remedy::kInvalidAttributes);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(files_.ReadWholeFile(file, 100, bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(files_.SetAttributes(file, remedy::kAttributeNormal));
  EXPECT_TRUE(files_.SetNullDacl(file));
  EXPECT_TRUE(files_.Rename(file, walked + L"\\renamed.exe"));
  EXPECT_TRUE(files_.RemoveFile(walked + L"\\renamed.exe"));
  EXPECT_EQ(files_.Attributes(deep + L"\\renamed.exe"), remedy::kInvalidAttributes);
}

// Just under the limit the path goes to Windows as it is; one more unit needs the long form.
TEST_F(Win32FileSystemTest, PathsAroundMaxPathWork) {
  for (const size_t length : {MAX_PATH - 1, MAX_PATH, MAX_PATH + 1}) {
    SCOPED_TRACE(length);
    std::wstring dir = folder_.Path() + L"\\";
    dir += std::wstring(length - dir.size() - 8 - 1, L'd');  // room for "\" + "file.exe"
    ASSERT_TRUE(support::MakeDirectories(dir));
    const std::wstring file = dir + L"\\file.exe";
    ASSERT_EQ(file.size(), length);
    ASSERT_TRUE(support::WriteBytes(file, {4}));
    EXPECT_EQ(files_.Attributes(file) & remedy::kAttributeDirectory, 0u);
    EXPECT_TRUE(files_.RemoveFile(file));
    EXPECT_EQ(files_.Attributes(file), remedy::kInvalidAttributes);
  }
}

TEST(Win32FileSystemDrives, DriveCIsFixedAndAMissingLetterHasNoRoot) {
  Win32FileSystem files;
  EXPECT_EQ(files.DriveType(L"c:\\"), remedy::kDriveFixed);
  // Find a letter without a drive; DRIVE_NO_ROOT_DIR then.
  for (wchar_t letter = L'y'; letter > L'c'; --letter) {
    const std::wstring root = std::wstring(1, letter) + L":\\";
    if (GetLogicalDrives() & (1u << (letter - L'a'))) continue;
    EXPECT_EQ(files.DriveType(root), static_cast<uint32_t>(DRIVE_NO_ROOT_DIR));
    return;
  }
  GTEST_SKIP() << "every letter is taken";
}

}  // namespace

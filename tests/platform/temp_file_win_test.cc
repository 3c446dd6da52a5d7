#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/temp_file.h"

namespace platform {
namespace {

std::string UniqueTempPath(const std::string& tag) {
  static std::mt19937_64 random{std::random_device{}()};
  return TempDirectory() + "nolvexa_" + tag + "_" + std::to_string(random()) + ".tmp";
}

TEST(TempFileWin, IsExclusiveWhileOpenAndDeletedOnClose) {
  const std::string path = UniqueTempPath("exclusive");
  auto file = TempFile::Create(path, false);
  ASSERT_TRUE(file->Valid());
  EXPECT_TRUE(std::filesystem::exists(path));
  // No sharing: nobody else may open it while it is ours.
  HANDLE other = CreateFileA(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  file.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TempFileWin, CreateAlwaysTruncatesAFileLeftBehind) {
  const std::string path = UniqueTempPath("leftover");
  HANDLE old = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(old, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(old, "old", 3, &written, nullptr));
  CloseHandle(old);
  auto file = TempFile::Create(path, false);
  ASSERT_TRUE(file->Valid());
  EXPECT_EQ(file->Size(), 0u);
}

}  // namespace
}  // namespace platform

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/temp_file.h"

namespace platform {
namespace {

std::string UniqueTempPath(const std::string& tag) {
  static std::mt19937_64 random{std::random_device{}()};
  return TempDirectory() + "nolvexa_" + tag + "_" + std::to_string(random()) + ".tmp";
}

TEST(TempFilePosix, IsUnlinkedWhileOpen) {
  const std::string path = UniqueTempPath("unlinked");
  auto file = TempFile::Create(path, false);
  ASSERT_TRUE(file->Valid());
  EXPECT_FALSE(std::filesystem::exists(path));
  const uint8_t byte = 7;
  EXPECT_TRUE(file->Write({&byte, 1}));  // still usable through its descriptor
  EXPECT_EQ(file->Size(), 1u);
}

TEST(TempFilePosix, RefusesAPathThatExistsAndLeavesItAlone) {
  // A name planted in a shared directory must neither be truncated nor followed.
  const std::string victim = UniqueTempPath("victim");
  { std::ofstream(victim) << "keep"; }
  const std::string planted = UniqueTempPath("planted");
  std::filesystem::create_symlink(victim, planted);

  for (const std::string& path : {victim, planted}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(TempFile::Create(path, false)->Valid());
  }
  EXPECT_EQ(std::filesystem::file_size(victim), 4u);
  EXPECT_TRUE(std::filesystem::is_symlink(planted));
  std::filesystem::remove(planted);
  std::filesystem::remove(victim);
}

}  // namespace
}  // namespace platform

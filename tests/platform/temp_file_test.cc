#include "platform/temp_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace platform {
namespace {

// A fresh name in the temporary directory, so that parallel test runs never meet.
std::string UniqueTempPath(const std::string& tag) {
  static std::mt19937_64 random{std::random_device{}()};
  return TempDirectory() + "nolvexa_" + tag + "_" + std::to_string(random()) + ".tmp";
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string ReadString(TempFile& file, size_t count) {
  std::vector<uint8_t> buffer(count);
  buffer.resize(file.Read(buffer));
  return {buffer.begin(), buffer.end()};
}

TEST(TempDirectory, IsAnExistingDirectoryWithTrailingSeparator) {
  const std::string dir = TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(dir.back() == '/' || dir.back() == '\\') << dir;
  EXPECT_TRUE(std::filesystem::is_directory(dir)) << dir;
}

TEST(TempFile, WriteSeekReadRoundTrip) {
  for (bool temporaryAttribute : {false, true}) {
    SCOPED_TRACE(temporaryAttribute);
    auto file = TempFile::Create(UniqueTempPath("roundtrip"), temporaryAttribute);
    ASSERT_TRUE(file->Valid());
    EXPECT_EQ(file->Size(), 0u);

    ASSERT_TRUE(file->Write(Bytes("hello")));
    EXPECT_EQ(file->Size(), 5u);
    ASSERT_TRUE(file->Seek(0));
    EXPECT_EQ(ReadString(*file, 5), "hello");

    ASSERT_TRUE(file->Seek(1));  // SeekEnd must move back to the end from anywhere
    ASSERT_TRUE(file->SeekEnd());
    ASSERT_TRUE(file->Write(Bytes(" world")));
    EXPECT_EQ(file->Size(), 11u);

    ASSERT_TRUE(file->Seek(0));
    ASSERT_TRUE(file->Write(Bytes("J")));  // overwrites in place
    ASSERT_TRUE(file->Seek(3));
    EXPECT_EQ(ReadString(*file, 4), "lo w");
    EXPECT_EQ(ReadString(*file, 100), "orld");  // a short read gives what there is
    EXPECT_EQ(ReadString(*file, 1), "");        // at the end
    ASSERT_TRUE(file->Seek(0));
    EXPECT_EQ(ReadString(*file, 11), "Jello world");

    ASSERT_TRUE(file->Seek(1000));  // past the end is a position, with nothing to read
    EXPECT_EQ(ReadString(*file, 1), "");
    EXPECT_EQ(file->Size(), 11u);
  }
}

TEST(TempFile, LargeWriteReadsBackWhole) {
  std::vector<uint8_t> data(3 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
  auto file = TempFile::Create(UniqueTempPath("large"), false);
  ASSERT_TRUE(file->Valid());
  ASSERT_TRUE(file->Write(data));
  EXPECT_EQ(file->Size(), data.size());
  ASSERT_TRUE(file->Seek(0));
  std::vector<uint8_t> back(data.size());
  EXPECT_EQ(file->Read(back), data.size());
  EXPECT_EQ(back, data);
}

TEST(TempFile, IsGoneOnceClosed) {
  const std::string path = UniqueTempPath("gone");
  auto file = TempFile::Create(path, true);
  ASSERT_TRUE(file->Valid());
  EXPECT_EQ(file->Path(), path);
  ASSERT_TRUE(file->Write(Bytes("data")));
  file.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TempFile, FailedCreateGivesAnObjectWhoseOperationsFail) {
  const std::string paths[] = {
      TempDirectory() + "nolvexa_no_such_dir_9f3/inner.tmp",
      "",
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    auto file = TempFile::Create(path, false);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->Valid());
    EXPECT_EQ(file->Path(), path);
    EXPECT_EQ(file->Size(), 0u);
    EXPECT_FALSE(file->SeekEnd());
    EXPECT_FALSE(file->Seek(0));
    EXPECT_FALSE(file->Write(Bytes("x")));
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(file->Read(buffer), 0u);
    EXPECT_EQ(buffer[0], 1);
  }
}

}  // namespace
}  // namespace platform

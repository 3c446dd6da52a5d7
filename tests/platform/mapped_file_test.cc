#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/temp_file.h"

namespace platform {
namespace {

// A visible file in the temporary directory, removed again by the destructor. `name` is ASCII
// or given twice, as UTF-8 for the file system and as wide text for the code under test.
class ScratchFile {
 public:
  ScratchFile(const std::vector<uint8_t>& bytes, const std::u8string& utf8Name = u8"",
              const std::wstring& wideName = L"") {
    static std::mt19937_64 random{std::random_device{}()};
    const std::string dir = TempDirectory();
    const std::string unique = "nolvexa_map_" + std::to_string(random()) + "_";
    path_ = std::filesystem::path(dir + unique) += utf8Name;
    for (char c : dir + unique) wide_ += static_cast<wchar_t>(static_cast<unsigned char>(c));
    wide_ += wideName;
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::wstring& Wide() const { return wide_; }

 private:
  std::filesystem::path path_;
  std::wstring wide_;
};

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return bytes;
}

std::vector<uint8_t> Copy(std::span<const uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(MappedFile, MapsTheWholeFile) {
  // Sizes around a page, so that a view rounded down or past the end would show.
  for (size_t size : {size_t{1}, size_t{4095}, size_t{4097}, size_t{(1 << 20) + 3}}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> bytes = Pattern(size);
    ScratchFile file(bytes);
    MappedFile map;
    ASSERT_EQ(map.Open(file.Wide()), MapResult::kOk);
    EXPECT_TRUE(map.IsOpen());
    EXPECT_EQ(Copy(map.Bytes()), bytes);
    map.Close();
    EXPECT_FALSE(map.IsOpen());
    EXPECT_TRUE(map.Bytes().empty());
  }
}

TEST(MappedFile, OpensANonAsciiPath) {
  const std::vector<uint8_t> bytes = Pattern(10);
  ScratchFile file(bytes, u8"\u00e9t\u00e9_\u20ac_\U0001F600.bin",
                   L"\u00e9t\u00e9_\u20ac_\U0001F600.bin");
  MappedFile map;
  ASSERT_EQ(map.Open(file.Wide()), MapResult::kOk);
  EXPECT_EQ(Copy(map.Bytes()), bytes);
  EXPECT_EQ(MeasureFile(file.Wide()), 10u);
}

TEST(MappedFile, FailuresLeaveNothingOpen) {
  ScratchFile empty({});
  ScratchFile small(Pattern(16));
  const std::wstring missing = small.Wide() + L".missing";
  std::wstring directory;
  for (char c : TempDirectory()) directory += static_cast<wchar_t>(static_cast<unsigned char>(c));

  struct Case {
    const char* name;
    std::wstring path;
    MapResult expected;
  };
  const Case cases[] = {
      {"empty_file", empty.Wide(), MapResult::kMappingFailed},
      {"missing_file", missing, MapResult::kOpenFailed},
      {"directory", directory, MapResult::kOpenFailed},
      {"empty_path", L"", MapResult::kOpenFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MappedFile map;
    ASSERT_EQ(map.Open(small.Wide()), MapResult::kOk);  // a failed Open also closes this
    EXPECT_EQ(map.Open(c.path), c.expected);
    EXPECT_FALSE(map.IsOpen());
    EXPECT_TRUE(map.Bytes().empty());
  }
}

TEST(MappedFile, ReopenReplacesTheFirstFile) {
  const std::vector<uint8_t> first = Pattern(100);
  const std::vector<uint8_t> second = Pattern(7);
  ScratchFile a(first);
  ScratchFile b(second);
  MappedFile map;
  ASSERT_EQ(map.Open(a.Wide()), MapResult::kOk);
  ASSERT_EQ(map.Open(b.Wide()), MapResult::kOk);
  EXPECT_EQ(Copy(map.Bytes()), second);
}

TEST(MeasureFile, GivesTheSizeOrNothing) {
  ScratchFile empty({});
  ScratchFile small(Pattern(12345));
  std::wstring directory;
  for (char c : TempDirectory()) directory += static_cast<wchar_t>(static_cast<unsigned char>(c));
  EXPECT_EQ(MeasureFile(small.Wide()), 12345u);
  EXPECT_EQ(MeasureFile(empty.Wide()), 0u);
  EXPECT_EQ(MeasureFile(small.Wide() + L".missing"), std::nullopt);
  EXPECT_EQ(MeasureFile(directory), std::nullopt);
}

}  // namespace
}  // namespace platform

#include "remedy/long_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using remedy::kMaxPath;
using remedy::LongPathForm;

// A full path of exactly `length` units: "c:\" and then folder names.
std::wstring PathOf(size_t length, const std::wstring& root = L"c:\\") {
  std::wstring path = root;
  while (path.size() < length) path += (path.size() % 50 == 0) ? L'\\' : L'd';
  path.back() = L'f';
  return path;
}

TEST(LongPathForm, LeavesPathsUnderTheLimitAlone) {
  for (const size_t length : {size_t{3}, size_t{100}, kMaxPath - 1}) {
    SCOPED_TRACE(length);
    const std::wstring path = PathOf(length);
    EXPECT_EQ(LongPathForm(path), path);
  }
  // The walk's doubled backslash stays for Windows to read in a short path.
  EXPECT_EQ(LongPathForm(L"c:\\\\Users\\a.exe"), L"c:\\\\Users\\a.exe");
}

TEST(LongPathForm, PrefixesPathsFromTheLimitOn) {
  for (const size_t length : {kMaxPath, kMaxPath + 1, size_t{2000}}) {
    SCOPED_TRACE(length);
    const std::wstring path = PathOf(length);
    EXPECT_EQ(LongPathForm(path), L"\\\\?\\" + path);
  }
}

TEST(LongPathForm, FoldsTheDoubledBackslashOfALongPath) {
  const std::wstring plain = PathOf(kMaxPath + 10);
  const std::wstring walked = L"c:\\\\" + plain.substr(3);  // as the walk writes it at the root
  EXPECT_EQ(LongPathForm(walked), L"\\\\?\\" + plain);
  const std::wstring pattern = walked + L"\\\\*.*";
  EXPECT_EQ(LongPathForm(pattern), L"\\\\?\\" + plain + L"\\*.*");
}

TEST(LongPathForm, KeepsPathsThatAreLiteralAlready) {
  const std::wstring literal = L"\\\\?\\" + PathOf(kMaxPath + 5);
  EXPECT_EQ(LongPathForm(literal), literal);
  const std::wstring share = L"\\\\server\\share\\" + PathOf(kMaxPath, L"x\\");
  EXPECT_EQ(LongPathForm(share), share);
}

}  // namespace

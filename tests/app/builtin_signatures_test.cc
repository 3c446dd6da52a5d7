// Checks the built-in table against what is known about each of its rows: kinds and anchors,
// which rows the parser can accept, rolling-hash suffixes, gaps, wildcards, repeats and the texts
// the shortcut rows spell. The expected row numbers are written out by hand, so that most typos,
// lost rows and misplaced rows break one of these tests.
#include "app/builtin_signatures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace app {
namespace {

using Rows = std::set<int>;

constexpr int kRowCount = static_cast<int>(kBuiltinSignatureCount);

// Rows are numbered from 1, in table order.
const SignatureEntry& Row(int row) { return kBuiltinSignatures.at(static_cast<size_t>(row - 1)); }
std::string_view Kind(int row) { return Row(row).kindName; }
std::string_view Location(int row) { return Row(row).location; }
std::string_view Pattern(int row) { return Row(row).pattern; }

Rows Span(int first, int last) {
  Rows rows;
  for (int row = first; row <= last; ++row) rows.insert(row);
  return rows;
}

Rows Union(std::initializer_list<Rows> parts) {
  Rows rows;
  for (const Rows& part : parts) rows.insert(part.begin(), part.end());
  return rows;
}

template <typename Pred>
Rows RowsWhere(Pred pred) {
  Rows rows;
  for (int row = 1; row <= kRowCount; ++row) {
    if (pred(row)) rows.insert(row);
  }
  return rows;
}

struct Gap {
  uint32_t min = 0;
  uint32_t max = 0;
  friend bool operator==(const Gap&, const Gap&) = default;
};

// The hex text of a pattern (up to the first ':') cut at its gaps.
struct Shape {
  std::vector<std::string_view> stretches;
  std::vector<Gap> gaps;
  bool gapsWellFormed = true;  // every gap reads "{min-max}" with decimal bounds, min <= max
};

std::string_view HexText(std::string_view pattern) {
  return pattern.substr(0, std::min(pattern.find(':'), pattern.size()));
}

std::optional<uint32_t> Decimal(std::string_view text) {
  uint32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

Shape ShapeOf(std::string_view pattern) {
  Shape shape;
  std::string_view rest = HexText(pattern);
  for (;;) {
    const size_t open = rest.find('{');
    shape.stretches.push_back(rest.substr(0, std::min(open, rest.size())));
    if (open == std::string_view::npos) break;
    const size_t close = rest.find('}', open);
    if (close == std::string_view::npos) {
      shape.gapsWellFormed = false;
      break;
    }
    const std::string_view body = rest.substr(open + 1, close - open - 1);
    const size_t dash = body.find('-');
    const auto min = Decimal(body.substr(0, std::min(dash, body.size())));
    const auto max = dash == std::string_view::npos ? std::nullopt : Decimal(body.substr(dash + 1));
    if (!min || !max || *min > *max) {
      shape.gapsWellFormed = false;
      break;
    }
    shape.gaps.push_back({*min, *max});
    rest = rest.substr(close + 1);
  }
  return shape;
}

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsHex(char c) { return IsLowerHex(c) || (c >= 'A' && c <= 'F'); }

// A stretch the parser reads as whole tokens: two hex digits, a digit and "?", or "??". Either
// case will do: the parser upper-cases the text first.
bool ReadsAsTokens(std::string_view stretch) {
  if (stretch.size() % 2 != 0) return false;
  for (size_t i = 0; i < stretch.size(); i += 2) {
    for (const char c : stretch.substr(i, 2)) {
      if (!IsHex(c) && c != '?') return false;
    }
  }
  return true;
}

// ":RH;" block size ";" where ";" hash ";" digest ";" with nothing after it.
struct RollingHash {
  std::string_view blockSize, where, hash, digest;
};

std::optional<RollingHash> RollingHashOf(std::string_view pattern) {
  const size_t colon = pattern.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view rest = pattern.substr(colon);
  constexpr std::string_view kHead = ":RH;";
  if (rest.substr(0, kHead.size()) != kHead) return std::nullopt;
  rest.remove_prefix(kHead.size());
  std::string_view fields[4];
  for (std::string_view& field : fields) {
    const size_t end = rest.find(';');
    if (end == std::string_view::npos) return std::nullopt;
    field = rest.substr(0, end);
    rest.remove_prefix(end + 1);
  }
  if (!rest.empty()) return std::nullopt;
  return RollingHash{fields[0], fields[1], fields[2], fields[3]};
}

// Bytes of a stretch without wildcards.
std::string Bytes(std::string_view stretch) {
  std::string bytes;
  for (size_t i = 0; i + 1 < stretch.size(); i += 2) {
    uint8_t value = 0;
    std::from_chars(stretch.data() + i, stretch.data() + i + 2, value, 16);
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

std::string Utf16(std::string_view text) {
  std::string bytes;
  for (const char c : text) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

std::string Dropped(std::string text, size_t count) {  // less its last `count` bytes
  text.resize(text.size() - count);
  return text;
}

// Rows that begin with an odd number of characters before the first "{" or ":".
const Rows kOddFirstStretch = Union({Span(10, 46),
                                     Span(49, 52),
                                     Span(54, 60),
                                     {67, 69},
                                     Span(70, 75),
                                     Span(79, 83),
                                     Span(85, 98),
                                     Span(101, 105)});
const Rows kInForce = Union(
    {Span(1, 9), {47, 48, 53}, Span(61, 66), {68}, Span(76, 78), {84, 99}, {100}, Span(106, 108)});

const std::map<int, std::string_view> kAnchors = {
    {45, "S0+464"},       {46, "S0+29418"},    {47, "S0+150,100"},    {48, "S0+150,100"},
    {51, "S0+88281"},     {53, "S0,200"},      {59, "S0+1661"},       {60, "S0+4477"},
    {61, "S0+662,20"},    {62, "S0+1312,12"},  {63, "S0+15000,4000"}, {64, "S0+465,50"},
    {65, "S0+32200,200"}, {66, "S0+2516,10"},  {67, "S0+13780"},      {68, "S0+1000,80"},
    {69, "S0+91540"},     {76, "S0+6600,600"}, {77, "S0+9600,300"},   {78, "S0+590,20"},
    {90, "S0+4400"},      {91, "S0+4368"},     {92, "S0+4435"},       {93, "S0+18024"},
    {94, "S0+11620"},     {95, "S0+464"},      {99, "S0+508,20"},     {100, "S0+3418,11"},
    {101, "S0+3498"},     {102, "S0+4366"},    {103, "S0+5107"},      {104, "S0+5081"},
    {105, "S0+6814"},
};

std::map<int, std::string_view> RollingHashBlockSizes() {
  std::map<int, std::string_view> sizes;
  for (const int row : Union({{14, 15, 25, 27, 28, 39}, Span(70, 75)})) sizes[row] = "2048";
  for (const int row : Union({{17, 22, 34, 35, 56}, Span(85, 88)})) sizes[row] = "1024";
  for (const int row : {46, 47, 49, 59}) sizes[row] = "512";
  return sizes;
}

// Groups of rows that are identical in all three fields.
const std::vector<Rows> kIdenticalRows = {
    {7, 8},   {13, 50}, {17, 85}, {19, 52},     {21, 81}, {22, 87}, {31, 54},
    {32, 55}, {33, 79}, {35, 86}, {42, 58, 83}, {44, 89}, {45, 95}, {56, 88},
};

TEST(BuiltinSignatures, HasTheKindOfEachRow) {
  for (int row = 1; row <= kRowCount; ++row) {
    SCOPED_TRACE(row);
    const std::string_view expected = row == 1 ? "ThreadSig3" : row <= 9 ? "FlashSig" : "FileSig";
    EXPECT_EQ(Kind(row), expected);
  }
  EXPECT_EQ(std::string_view(kThreadSig3Kind), "ThreadSig3");
  EXPECT_EQ(std::string_view(kFlashSigKind), "FlashSig");
  EXPECT_EQ(std::string_view(kFileSigKind), "FileSig");
}

TEST(BuiltinSignatures, AnchorsExactlyTheListedRows) {
  ASSERT_EQ(kAnchors.size(), 33u);
  for (int row = 1; row <= kRowCount; ++row) {
    SCOPED_TRACE(row);
    const auto anchor = kAnchors.find(row);
    EXPECT_EQ(Location(row), anchor == kAnchors.end() ? "*" : anchor->second);
  }
}

TEST(BuiltinSignatures, OnlyTheRefusedRowsBeginWithAnOddStretch) {
  ASSERT_EQ(kOddFirstStretch.size(), 80u);
  ASSERT_EQ(kInForce.size(), 28u);
  for (int row = 1; row <= kRowCount; ++row) {
    SCOPED_TRACE(row);
    EXPECT_NE(kOddFirstStretch.count(row), kInForce.count(row));
    EXPECT_EQ(ShapeOf(Pattern(row)).stretches.front().size() % 2 == 1,
              kOddFirstStretch.count(row) == 1);
  }
  // Row 38 has the shortest first stretch; rows 10 and 15 are the examples of odd ones.
  for (int row = 1; row <= kRowCount; ++row) {
    SCOPED_TRACE(row);
    const size_t first = ShapeOf(Pattern(row)).stretches.front().size();
    if (row == 38) {
      EXPECT_EQ(first, 5u);
    } else {
      EXPECT_GT(first, 5u);
    }
  }
  EXPECT_EQ(ShapeOf(Pattern(10)).stretches.front().size(), 25u);
  EXPECT_EQ(HexText(Pattern(15)).size(), 41u);
}

TEST(BuiltinSignatures, StretchesAreWellFormed) {
  for (int row = 1; row <= kRowCount; ++row) {
    SCOPED_TRACE(row);
    const Shape shape = ShapeOf(Pattern(row));
    EXPECT_TRUE(shape.gapsWellFormed);
    for (size_t i = 0; i < shape.stretches.size(); ++i) {
      SCOPED_TRACE(i);
      const std::string_view stretch = shape.stretches[i];
      EXPECT_GE(stretch.size(), 4u);  // every part gives at least two bytes
      EXPECT_TRUE(
          std::all_of(stretch.begin(), stretch.end(), [](char c) { return IsHex(c) || c == '?'; }));
      // Only the first stretch may end in a lone character; a row in force has none.
      if (i > 0 || kInForce.count(row)) {
        EXPECT_TRUE(ReadsAsTokens(stretch));
      }
    }
  }
}

TEST(BuiltinSignatures, NoPatternBeginsOrEndsWithAGapOrAWildcard) {
  for (int row = 1; row <= kRowCount; ++row) {
    SCOPED_TRACE(row);
    const std::string_view hex = HexText(Pattern(row));
    ASSERT_FALSE(hex.empty());
    EXPECT_NE(hex.front(), '{');
    EXPECT_NE(hex.front(), '?');
    EXPECT_NE(hex.back(), '}');
    EXPECT_NE(hex.back(), '?');
  }
}

TEST(BuiltinSignatures, LowerCaseDigitsOnlyInRows33And79) {
  const Rows lower = RowsWhere([](int row) {
    const std::string_view hex = HexText(Pattern(row));
    return std::any_of(hex.begin(), hex.end(), [](char c) { return c >= 'a' && c <= 'f'; });
  });
  EXPECT_EQ(lower, (Rows{33, 79}));
}

TEST(BuiltinSignatures, CarriesRollingHashSuffixesOnTheListedRows) {
  const std::map<int, std::string_view> sizes = RollingHashBlockSizes();
  ASSERT_EQ(sizes.size(), 25u);
  for (int row = 1; row <= kRowCount; ++row) {
    SCOPED_TRACE(row);
    const std::string_view pattern = Pattern(row);
    const auto size = sizes.find(row);
    if (size == sizes.end()) {
      EXPECT_EQ(pattern.find(':'), std::string_view::npos);
      continue;
    }
    const std::optional<RollingHash> suffix = RollingHashOf(pattern);
    ASSERT_TRUE(suffix.has_value());
    EXPECT_EQ(suffix->blockSize, size->second);
    EXPECT_EQ(suffix->where, "*");
    EXPECT_TRUE(suffix->hash.size() == 9 || suffix->hash.size() == 10) << suffix->hash;
    EXPECT_NE(suffix->hash.front(), '0');
    EXPECT_TRUE(Decimal(suffix->hash).has_value()) << suffix->hash;  // below 2^32
    EXPECT_EQ(suffix->digest.size(), 32u);
    EXPECT_TRUE(std::all_of(suffix->digest.begin(), suffix->digest.end(), IsLowerHex))
        << suffix->digest;
  }
  const auto withSuffix = [&](auto pred) {
    return RowsWhere([&](int row) { return sizes.count(row) == 1 && pred(row); });
  };
  EXPECT_EQ(withSuffix([](int row) { return !ShapeOf(Pattern(row)).gaps.empty(); }),
            (Rows{28, 46, 59}));
  EXPECT_EQ(withSuffix([](int row) { return Location(row) != "*"; }), (Rows{46, 47, 59}));
}

TEST(BuiltinSignatures, CountsRowsByNumberOfGaps) {
  std::map<size_t, int> rowsByGaps, fileRowsByGaps;
  for (int row = 1; row <= kRowCount; ++row) {
    const size_t gaps = ShapeOf(Pattern(row)).gaps.size();
    ++rowsByGaps[gaps];
    if (Kind(row) == "FileSig") ++fileRowsByGaps[gaps];
  }
  EXPECT_EQ(rowsByGaps, (std::map<size_t, int>{{0, 40}, {1, 42}, {2, 26}}));
  EXPECT_EQ(fileRowsByGaps[0], 39);
}

TEST(BuiltinSignatures, GapBoundsReachTheirKnownExtremes) {
  uint32_t largest = 0;
  uint32_t narrowest = UINT32_MAX;
  for (int row = 1; row <= kRowCount; ++row) {
    for (const Gap& gap : ShapeOf(Pattern(row)).gaps) {
      largest = std::max(largest, gap.max);
      narrowest = std::min(narrowest, gap.max - gap.min);
    }
  }
  const auto rowsWithGap = [](auto pred) {
    return RowsWhere([&](int row) {
      const std::vector<Gap> gaps = ShapeOf(Pattern(row)).gaps;
      return std::any_of(gaps.begin(), gaps.end(), pred);
    });
  };
  EXPECT_EQ(rowsWithGap([](const Gap& g) { return g.min == 0; }), (Rows{9, 38}));
  EXPECT_EQ(ShapeOf(Pattern(38)).gaps.front(), (Gap{0, 8}));
  EXPECT_EQ(ShapeOf(Pattern(9)).gaps.front(), (Gap{0, 200}));

  EXPECT_EQ(largest, 31450u);
  EXPECT_EQ(rowsWithGap([&](const Gap& g) { return g.max == largest; }), (Rows{31, 54}));
  EXPECT_EQ(ShapeOf(Pattern(31)).gaps.front(), (Gap{31400, 31450}));

  EXPECT_EQ(narrowest, 1u);
  EXPECT_EQ(rowsWithGap([&](const Gap& g) { return g.max - g.min == narrowest; }), (Rows{44, 89}));
  EXPECT_EQ(ShapeOf(Pattern(44)).gaps.front(), (Gap{26, 27}));
}

TEST(BuiltinSignatures, WildcardsAreWholeBytesInShortRuns) {
  const Rows wild =
      RowsWhere([](int row) { return HexText(Pattern(row)).find('?') != std::string_view::npos; });
  EXPECT_EQ(wild.size(), 40u);
  EXPECT_EQ(wild.count(1), 1u);
  EXPECT_EQ(std::count_if(wild.begin(), wild.end(), [](int row) { return Kind(row) == "FileSig"; }),
            39);
  for (const int row : wild) {
    SCOPED_TRACE(row);
    const std::string_view hex = HexText(Pattern(row));
    for (size_t i = hex.find('?'); i != std::string_view::npos; i = hex.find('?', i)) {
      const size_t end = std::min(hex.find_first_not_of('?', i), hex.size());
      EXPECT_EQ((end - i) % 2, 0u) << "run at " << i;  // a run of "??" pairs
      EXPECT_LE(end - i, 8u) << "run at " << i;        // at most four bytes
      i = end;
    }
  }
}

TEST(BuiltinSignatures, PatternLengthsRunFrom32To143) {
  size_t shortest = SIZE_MAX, longest = 0;
  for (int row = 1; row <= kRowCount; ++row) {
    shortest = std::min(shortest, Pattern(row).size());
    longest = std::max(longest, Pattern(row).size());
  }
  EXPECT_EQ(shortest, 32u);
  EXPECT_EQ(longest, 143u);
  EXPECT_EQ(Pattern(46).size(), 143u);
}

TEST(BuiltinSignatures, RepeatsExactlyTheKnownRows) {
  std::map<std::vector<std::string_view>, Rows> byEntry;
  std::map<std::string_view, Rows> byPattern;
  for (int row = 1; row <= kRowCount; ++row) {
    byEntry[{Kind(row), Location(row), Pattern(row)}].insert(row);
    byPattern[Pattern(row)].insert(row);
  }
  std::vector<Rows> repeated, sharedPattern;
  for (const auto& [entry, rows] : byEntry) {
    if (rows.size() > 1) repeated.push_back(rows);
  }
  for (const auto& [pattern, rows] : byPattern) {
    if (rows.size() > 1) sharedPattern.push_back(rows);
  }
  std::vector<Rows> expectedShared = kIdenticalRows;
  expectedShared.push_back({23, 51});  // "*" and "S0+88281"
  expectedShared.push_back({61, 99});  // "S0+662,20" and "S0+508,20"
  std::sort(repeated.begin(), repeated.end());
  std::sort(sharedPattern.begin(), sharedPattern.end());
  std::sort(expectedShared.begin(), expectedShared.end());
  std::vector<Rows> expectedRepeated = kIdenticalRows;
  std::sort(expectedRepeated.begin(), expectedRepeated.end());

  EXPECT_EQ(repeated, expectedRepeated);
  EXPECT_EQ(sharedPattern, expectedShared);
  EXPECT_EQ(byEntry.size(), 93u);
}

TEST(BuiltinSignatures, SixRowsAreAnotherRowLessItsFirstCharacter) {
  std::vector<std::pair<int, int>> shortened;  // (row, the row it was cut from)
  for (int row = 1; row <= kRowCount; ++row) {
    for (int longer = 1; longer <= kRowCount; ++longer) {
      if (Pattern(longer).substr(1) == Pattern(row)) shortened.emplace_back(row, longer);
    }
  }
  EXPECT_EQ(shortened, (std::vector<std::pair<int, int>>{
                           {43, 53}, {57, 76}, {96, 108}, {97, 107}, {98, 106}, {101, 100}}));
}

TEST(BuiltinSignatures, RelatedRowsShareTheirHexText) {
  // Row 47 is row 48 with a rolling-hash suffix, under the same anchor.
  EXPECT_EQ(HexText(Pattern(47)), Pattern(48));
  EXPECT_EQ(Location(47), Location(48));
  // Rows 70 to 75 repeat row 15 before its suffix, each with a hash and digest of its own.
  std::set<std::pair<std::string_view, std::string_view>> blocks;
  for (const int row : Union({{15}, Span(70, 75)})) {
    SCOPED_TRACE(row);
    EXPECT_EQ(HexText(Pattern(row)), HexText(Pattern(15)));
    const std::optional<RollingHash> suffix = RollingHashOf(Pattern(row));
    ASSERT_TRUE(suffix.has_value());
    blocks.insert({suffix->hash, suffix->digest});
  }
  EXPECT_EQ(blocks.size(), 7u);
  // Row 32 keeps row 31's first stretch with a gap and a second stretch of its own.
  const Shape row31 = ShapeOf(Pattern(31)), row32 = ShapeOf(Pattern(32));
  ASSERT_EQ(row32.stretches.size(), 2u);
  EXPECT_EQ(row32.stretches[0], row31.stretches[0]);
  EXPECT_NE(row32.stretches[1], row31.stretches[1]);
  EXPECT_EQ(row32.gaps, (std::vector<Gap>{{31420, 31438}}));
}

TEST(BuiltinSignatures, ShortcutRowsSpellTheirTexts) {
  using namespace std::string_literals;
  // UTF-16LE stretches begin one byte early, at the zero high byte of the character before.
  const std::string wideRundll = "\0"s + Utf16("rundll32.exe");
  const std::string rundll = "rundll32.exe\0"s;
  const std::map<int, std::vector<std::string>> expected = {
      {2, {"\0\xA0"s + "%homedrive%\\WINDOWS\\System32\\rundll32.exe" + "\0"s}},
      {3, {wideRundll + "\0"s, "\0"s + Utf16("init,krnl")}},
      {4, {wideRundll + "\0"s, "\0"s + Utf16("FAT")}},
      {5, {wideRundll + "\0"s, "\0"s + Utf16("nil,")}},
      {6, {Dropped(wideRundll, 1), Dropped("\0"s + Utf16("init,"), 1)}},
      {7, {rundll, "\0"s + Utf16("desktop.ini")}},
      {8, {rundll, "\0"s + Utf16("desktop.ini")}},
      {9, {rundll, Utf16(".ini,")}},
  };
  for (const auto& [row, texts] : expected) {
    SCOPED_TRACE(row);
    const Shape shape = ShapeOf(Pattern(row));
    ASSERT_EQ(shape.stretches.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_TRUE(ReadsAsTokens(shape.stretches[i]));
      EXPECT_EQ(shape.stretches[i].find('?'), std::string_view::npos);
      EXPECT_EQ(Bytes(shape.stretches[i]), texts[i]);
    }
  }
}

}  // namespace
}  // namespace app

// The scan: the walk of one matcher, both halves of Scan, chaining, confirmation and the
// hand-off to the worker.
#include "engine/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "fileinfo/md5.h"
#include "platform/debug_output.h"
#include "platform/thread.h"
#include "tests/support/in_force_signatures.h"
#include "tests/support/parsed_image.h"
#include "tests/support/pe_builder.h"
#include "tests/support/signature_bytes.h"
#include "tests/support/stage_context.h"

namespace engine {
namespace {

using Names = std::vector<std::string>;

// Bounds a failure only: a correct scan is done long before.
constexpr uint32_t kFailureTimeoutMs = 20000;
// The first byte a buffer of more than 1 MiB without an image leaves unwalked.
constexpr size_t kUnwalked = 0x80000;
constexpr size_t kLargeBuffer = 0x100001;  // head [0, kUnwalked), tail [kUnwalked + 1, end)

struct Sig {
  const char* kindName;
  const char* location;
  const char* pattern;
};

std::unique_ptr<Engine> CompiledEngine(std::initializer_list<Sig> signatures) {
  auto engine = std::make_unique<Engine>();
  for (const Sig& s : signatures) engine->AddSignature(s.kindName, s.location, s.pattern);
  engine->Compile();
  return engine;
}

Names ScanPlain(Engine& engine, const std::vector<uint8_t>& data) {
  const std::atomic<int32_t> stop{0};
  const ExtraData plain{0, 0, 0, 0};
  return engine.Scan(data.data(), static_cast<int32_t>(data.size()), nullptr, stop, &plain);
}

int Occurrences(const std::string& text, const std::string& piece) {
  int n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// --- WindowScan over one matcher ---

// 3000 distinct masked patterns that all share the anchor AABBCCDD and all match it followed by
// zero bytes: each occurrence is 3000 verified hits at one node.
std::vector<std::string> ManyPatternTexts() {
  std::vector<std::string> texts;
  const char* tails[] = {"0?", "?0", "??"};
  for (int i = 0; i < 3000; ++i) {
    std::string text = "AABBCCDD";
    for (int k = 0, v = i; k < 8; ++k, v /= 3) text += tails[v % 3];
    texts.push_back(text);
  }
  return texts;
}

std::vector<uint8_t> PatternBytesOf(const std::string& text, std::vector<uint8_t>& mask) {
  std::vector<uint8_t> bytes;
  mask.clear();
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    auto nibble = [](char c) { return c == '?' ? -1 : (c <= '9' ? c - '0' : c - 'A' + 10); };
    const int h = nibble(text[i]);
    const int l = nibble(text[i + 1]);
    bytes.push_back(static_cast<uint8_t>((h < 0 ? 0 : h) << 4 | (l < 0 ? 0 : l)));
    mask.push_back(static_cast<uint8_t>((h < 0 ? 0 : 0xF0) | (l < 0 ? 0 : 0x0F)));
  }
  return bytes;
}

TEST(WindowScan, DropsWhatOverflowsABatchAndResumesWhereItStopped) {
  PatternMatcher m(kAnchorLength);
  for (const std::string& text : ManyPatternTexts()) {
    std::vector<uint8_t> mask;
    const std::vector<uint8_t> bytes = PatternBytesOf(text, mask);
    ASSERT_GT(m.AddPattern(bytes, mask), 0);
  }
  m.Build();
  std::vector<uint8_t> data(600, 0);
  for (size_t at : {0, 100, 200, 300, 400}) support::Plant(data, at, {0xAA, 0xBB, 0xCC, 0xDD});

  MatcherCursor cursor(m);
  cursor.Aim(data.data(), static_cast<int32_t>(data.size()));
  HitBatch batch;
  testing::internal::CaptureStdout();
  // Three occurrences reach 9000, which does not end the batch; the fourth fills it to 10000
  // and drops its other 2000 hits, one warning each.
  ASSERT_EQ(WindowScan(cursor, batch), kHitBatch);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Occurrences(printed, kTooManyMatches), 2000);
  EXPECT_EQ(printed.size(), 2000 * std::string(kTooManyMatches).size());
  EXPECT_EQ(batch.hits[0].offset, 0);
  EXPECT_EQ(batch.hits[kHitBatch - 1].offset, 300);
  EXPECT_EQ(batch.hits[kHitBatch - 1].length, 12);

  ASSERT_EQ(WindowScan(cursor, batch), 3000);  // the fifth occurrence, after the cut
  for (int32_t i = 0; i < batch.count; ++i) ASSERT_EQ(batch.hits[i].offset, 400);
  EXPECT_EQ(WindowScan(cursor, batch), 0);
  EXPECT_EQ(WindowScan(cursor, batch), 0);
}

TEST(WindowScan, ReportsShortExactPatternsUpToTheLastByteOfTheWindow) {
  PatternMatcher m(kAnchorLength);
  ASSERT_EQ(m.AddPattern(std::vector<uint8_t>{0x12, 0x34}, {}), 1);
  ASSERT_EQ(m.AddPattern(std::vector<uint8_t>{0x12, 0x34, 0x56}, {}), 2);
  ASSERT_EQ(m.AddPattern(std::vector<uint8_t>{0x34, 0x56, 0x78, 0x9A}, {}), 3);
  m.Build();
  struct Case {
    std::vector<uint8_t> window;
    std::vector<std::pair<uint32_t, int32_t>> hits;  // pattern id, offset
  };
  const Case cases[] = {
      {{0x12, 0x34}, {{1, 0}}},
      {{0x00, 0x12, 0x34}, {{1, 1}}},
      {{0x12, 0x34, 0x56}, {{1, 0}, {2, 0}}},
      {{0x12, 0x12, 0x34, 0x56, 0x78, 0x9A}, {{1, 1}, {2, 1}, {3, 2}}},
      {{0x34, 0x56, 0x78}, {}},
      {{0x12}, {}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.window));
    MatcherCursor cursor(m);
    cursor.Aim(c.window.data(), static_cast<int32_t>(c.window.size()));
    HitBatch batch;
    std::vector<std::pair<uint32_t, int32_t>> hits;
    while (WindowScan(cursor, batch) != 0) {
      for (int32_t i = 0; i < batch.count; ++i) {
        hits.emplace_back(batch.hits[i].patternId, batch.hits[i].offset);
      }
    }
    EXPECT_EQ(hits.size(), c.hits.size());
    for (const auto& h : c.hits) {
      EXPECT_NE(std::find(hits.begin(), hits.end(), h), hits.end()) << h.first << "@" << h.second;
    }
  }
}

TEST(WindowScan, AnUnbuiltMatcherFindsNothingAndEndsTheWindow) {
  PatternMatcher m(kAnchorLength);
  ASSERT_EQ(m.AddPattern(std::vector<uint8_t>{1, 2, 3, 4}, {}), 1);
  const std::vector<uint8_t> data = {1, 2, 3, 4};
  MatcherCursor cursor(m);
  cursor.Aim(data.data(), 4);
  HitBatch batch;
  EXPECT_EQ(WindowScan(cursor, batch), 0);
  EXPECT_EQ(cursor.position, data.data() + 4);
}

// --- The built-in table ---

const support::SignatureEntry& Row(int row) {
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    if (e.row == row) return e;
  }
  ADD_FAILURE() << "no in-force row " << row;
  return support::InForceSignatures()[0];
}

// A pattern text cut into its parts and gap bounds.
struct Chain {
  std::vector<std::string> parts;
  std::vector<std::pair<uint32_t, uint32_t>> gaps;  // (min, max) before parts[1], parts[2], ...
};

Chain SplitChain(std::string_view text) {
  Chain c;
  c.parts.emplace_back();
  for (size_t i = 0; i < text.size() && text[i] != ':';) {
    if (text[i] == '{') {
      const size_t close = text.find('}', i);
      const std::string gap(text.substr(i + 1, close - i - 1));
      const size_t dash = gap.find('-');
      c.gaps.emplace_back(std::stoul(gap), std::stoul(gap.substr(dash + 1)));
      c.parts.emplace_back();
      i = close + 1;
    } else {
      c.parts.back() += text.substr(i, 2);
      i += 2;
    }
  }
  return c;
}

// The chain's bytes with the given gap lengths, gaps filled with 0xCC.
std::vector<uint8_t> ChainBytes(const Chain& c, const std::vector<uint32_t>& gapLengths) {
  std::vector<uint8_t> bytes = support::SignatureBytes(c.parts[0]);
  for (size_t k = 1; k < c.parts.size(); ++k) {
    bytes.insert(bytes.end(), gapLengths[k - 1], 0xCC);
    const std::vector<uint8_t> part = support::SignatureBytes(c.parts[k]);
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  return bytes;
}

// Where the location of a row lets its match start in a plain buffer ("S0" is offset 0 there),
// as the first and last offset accepted; "*" gives none.
bool LocationRange(std::string_view location, uint32_t& first, uint32_t& last) {
  if (location == "*") return false;
  EXPECT_TRUE(location.starts_with("S0")) << location;
  const size_t comma = location.find(',');
  const std::string plus(
      location.substr(2, comma == std::string_view::npos ? location.npos : comma - 2));
  first = plus.empty() ? 0 : static_cast<uint32_t>(std::stoul(plus.substr(1)));
  last = first + (comma == std::string_view::npos
                      ? 0
                      : static_cast<uint32_t>(std::stoul(std::string(location.substr(comma + 1)))));
  return true;
}

// The in-force rows, each under a name of its own ("row47"), so a result says which rows matched
// and rows that share bytes (47 and 48, 3 and 6, 61 and 99) do not stand in for each other.
Engine& RowNamedEngine() {
  static Engine* const engine = [] {
    auto* made = new Engine();  // lives until the test program ends
    for (const support::SignatureEntry& e : support::InForceSignatures()) {
      made->AddSignature("row" + std::to_string(e.row), e.location, e.pattern);
    }
    made->Compile();
    return made;
  }();
  return *engine;
}

bool Has(const Names& names, int row) {
  return std::find(names.begin(), names.end(), "row" + std::to_string(row)) != names.end();
}

constexpr uint32_t kSectionBytes = 0x8000;  // holds every located row with its longest gaps

// An image whose section 0 holds `bytes` at `offset` from its start (which may lie before it).
support::PeBuilder ImageWith(const std::vector<uint8_t>& bytes, int64_t offset) {
  support::PeBuilder b;
  b.SectionBytes(0, 0, std::vector<uint8_t>(kSectionBytes, 0));
  b.PutBytes(static_cast<uint32_t>(b.SectionRawAt(0) + offset), bytes);
  return b;
}

TEST(ScanImage, FindsEveryInForceSignatureAtItsLocationAndNotOneByteOutside) {
  Engine& engine = RowNamedEngine();
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    SCOPED_TRACE(testing::Message() << "row " << e.row << " " << e.location);
    const std::vector<uint8_t> bytes = support::SignatureBytes(e.pattern);
    uint32_t first = 0;
    uint32_t last = 0;
    std::vector<std::pair<int64_t, bool>> placements;  // offset in section 0, found
    if (LocationRange(e.location, first, last)) {
      placements = {{first, true}, {last, true}, {int64_t{first} - 1, false}, {last + 1, false}};
    } else {
      placements = {{0, true}, {4321, true}};
    }
    for (const auto& [offset, found] : placements) {
      SCOPED_TRACE(offset);
      const support::ParsedImage image(ImageWith(bytes, offset));
      ASSERT_EQ(image.Result(), fileinfo::LoadResult::kOk);
      const Names names = engine.ScanImage(
          image.Bytes().data(), static_cast<int32_t>(image.Bytes().size()), image.Image());
      // Row 47 also needs its block, which no image here holds (see the block tests).
      EXPECT_EQ(Has(names, e.row), found && e.row != 47);
      // The program's table: each image is reported under the row's kind.
      const Names builtin = support::BuiltinEngine().ScanImage(
          image.Bytes().data(), static_cast<int32_t>(image.Bytes().size()), image.Image());
      if (found) {
        EXPECT_EQ(builtin, Names{e.kindName});
      }
    }
  }
}

TEST(ScanBuffer, ChainsPartsOnlyWithinTheirGapBounds) {
  Engine& engine = RowNamedEngine();
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    const Chain chain = SplitChain(e.pattern);
    uint32_t first = 0;
    uint32_t last = 0;
    const uint32_t at = LocationRange(e.location, first, last) ? first : 100;
    for (size_t g = 0; g < chain.gaps.size(); ++g) {
      const auto [minimum, maximum] = chain.gaps[g];
      std::vector<std::pair<uint32_t, bool>> lengths = {
          {minimum, true}, {maximum, true}, {maximum + 1, false}};
      if (minimum > 0) lengths.emplace_back(minimum - 1, false);
      for (const auto& [length, found] : lengths) {
        SCOPED_TRACE(testing::Message() << "row " << e.row << " gap " << g << " of " << length);
        std::vector<uint32_t> gapLengths;
        for (const auto& bounds : chain.gaps) gapLengths.push_back(bounds.first);
        gapLengths[g] = length;
        std::vector<uint8_t> data(at + 12000, 0);
        support::Plant(data, at, ChainBytes(chain, gapLengths));
        EXPECT_EQ(Has(ScanPlain(engine, data), e.row), found);
      }
    }
  }
}

TEST(ScanBuffer, FindsNothingAcrossTwoMergedWindows) {
  // Row 2 is a simple signature (the worker's half), row 3 a chain (the calling thread's).
  Engine& engine = support::BuiltinEngine();
  const std::vector<uint8_t> simple = support::SignatureBytes(Row(2).pattern);
  const Chain chain = SplitChain(Row(3).pattern);
  const std::vector<uint8_t> first = support::SignatureBytes(chain.parts[0]);
  const std::vector<uint8_t> second = support::SignatureBytes(chain.parts[1]);
  struct Case {
    const char* name;
    size_t simpleAt;  // 0: not planted
    size_t firstAt, secondAt;
    Names expected;
  };
  const size_t u = kUnwalked;
  const Case cases[] = {
      {"simple ends where the head window ends", u - simple.size(), 0, 0, {"FlashSig"}},
      {"simple starts where the tail window starts", u + 1, 0, 0, {"FlashSig"}},
      {"simple covers the unwalked byte", u - 10, 0, 0, {}},
      {"chain ends where the head window ends",
       0,
       u - second.size() - 20 - first.size(),
       u - second.size(),
       {"FlashSig"}},
      {"chain starts where the tail window starts",
       0,
       u + 1,
       u + 1 + first.size() + 20,
       {"FlashSig"}},
      {"chain continues into the tail window", 0, u - first.size() - 5, u + 10, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> data(kLargeBuffer, 0);
    if (c.simpleAt != 0) support::Plant(data, c.simpleAt, simple);
    if (c.firstAt != 0) {
      support::Plant(data, c.firstAt, first);
      support::Plant(data, c.secondAt, second);
    }
    EXPECT_EQ(ScanPlain(engine, data), c.expected);
  }
}

TEST(ScanBuffer, FindsMaskedPatternsOnlyWhollyInsideAWindow) {
  auto engine = CompiledEngine(
      {{"Masked", "*", "????AABBCCDD??"}, {"MaskedPart", "*", "EE??F1F2F3F4{1-5}0102??0304"}});
  const std::vector<uint8_t> masked = {0x11, 0x22, 0xAA, 0xBB, 0xCC, 0xDD, 0x33};
  const std::vector<uint8_t> part = {0xEE, 0x00, 0xF1, 0xF2, 0xF3, 0xF4,
                                     0xCC, 0x01, 0x02, 0x55, 0x03, 0x04};
  const size_t u = kUnwalked;
  struct Case {
    const char* name;
    size_t at;
    bool found;
  };
  const Case cases[] = {
      {"first byte at the head window's start", 0, true},
      {"last byte at the head window's end", u - 1, true},
      {"last byte on the unwalked byte", u, false},
      {"first byte at the tail window's start", u + 1, true},
      {"first byte on the unwalked byte", u, false},
      {"last byte at the buffer end", kLargeBuffer - 1, true},
      {"last byte past the buffer end", kLargeBuffer, false},
  };
  for (const bool chained : {false, true}) {
    const std::vector<uint8_t>& bytes = chained ? part : masked;
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (chained ? "part: " : "simple: ") << c.name);
      // "last byte" cases give the position just past the pattern.
      const bool byEnd = std::string_view(c.name).starts_with("last");
      const size_t start = byEnd ? c.at + 1 - bytes.size() : c.at;
      std::vector<uint8_t> data(kLargeBuffer, 0);
      const std::vector<uint8_t> cut(
          bytes.begin(),
          bytes.begin() + static_cast<long>(std::min(bytes.size(), data.size() - start)));
      support::Plant(data, start, cut);
      data.resize(kLargeBuffer);
      EXPECT_EQ(ScanPlain(*engine, data),
                c.found ? Names{chained ? "MaskedPart" : "Masked"} : Names{});
    }
  }
}

// A pattern text with a rolling-hash suffix naming the 512 bytes of `block`.
std::string WithBlock(const std::string& pattern, std::span<const uint8_t> block) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = pattern + ":RH;512;*;" + std::to_string(WeakChecksum(block)) + ";";
  for (uint8_t b : fileinfo::Md5Buffer(block)) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text + ";";
}

std::vector<uint8_t> RandomBlock(uint32_t seed) {
  std::vector<uint8_t> block(512);
  for (uint8_t& b : block) b = static_cast<uint8_t>(seed = seed * 1103515245u + 12345u);
  return block;
}

TEST(ScanImage, ConfirmsASignatureWithABlockOnlyWhenTheBlockIsThere) {
  // Row 47 with a block of our own (its real block is not to be had), beside row 48, the same
  // pattern without one.
  const std::vector<uint8_t> block = RandomBlock(47);
  auto engine = CompiledEngine(
      {{"Row47", Row(47).location, WithBlock(SplitChain(Row(47).pattern).parts[0], block).c_str()},
       {"Row48", Row(48).location, Row(48).pattern}});
  const std::vector<uint8_t> bytes = support::SignatureBytes(Row(48).pattern);
  for (const bool withBlock : {false, true}) {
    SCOPED_TRACE(withBlock);
    support::PeBuilder b = ImageWith(bytes, 150);
    if (withBlock) b.PutBytes(b.SectionRawAt(0) + 0x4000, block);
    const support::ParsedImage image(b);
    EXPECT_EQ(engine->ScanImage(image.Bytes().data(), static_cast<int32_t>(image.Bytes().size()),
                                image.Image()),
              withBlock ? (Names{"Row47", "Row48"}) : Names{"Row48"});
  }
}

TEST(ScanBuffer, FindsNoBlockThatStraddlesTwoMergedWindows) {
  const std::vector<uint8_t> block = RandomBlock(9);
  auto engine = CompiledEngine({{"Blocky", "*", WithBlock("0F1E2D3C4B5A", block).c_str()}});
  const size_t u = kUnwalked;
  struct Case {
    const char* name;
    size_t at;
    bool found;
  };
  const Case cases[] = {
      {"block ends where the head window ends", u - 512, true},
      {"block covers the unwalked byte", u - 200, false},
      {"block starts where the tail window starts", u + 1, true},
      {"block ends at the buffer end", kLargeBuffer - 512, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> data(kLargeBuffer, 0);
    support::Plant(data, 100, {0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A});
    support::Plant(data, c.at, block);
    EXPECT_EQ(ScanPlain(*engine, data), c.found ? Names{"Blocky"} : Names{});
  }
}

TEST(Scan, GivesSortedDistinctNamesAndScanBufferTheSmallest) {
  auto engine = CompiledEngine({{"zeta", "*", "5A5A5A5A01"},
                                {"alpha", "*", "A1A1A1A1{2-4}A2A2A2A2"},
                                {"mid", "*", "4D4D4D4D02"},
                                {"alpha", "*", "A1A1A1A103"}});
  std::vector<uint8_t> data(500, 0);
  support::Plant(data, 10, {0x5A, 0x5A, 0x5A, 0x5A, 0x01});
  support::Plant(data, 100, {0xA1, 0xA1, 0xA1, 0xA1, 0x00, 0x00, 0xA2, 0xA2, 0xA2, 0xA2});
  support::Plant(data, 200, {0xA1, 0xA1, 0xA1, 0xA1, 0x03});
  support::Plant(data, 300, {0x4D, 0x4D, 0x4D, 0x4D, 0x02});
  support::Plant(data, 400, {0x4D, 0x4D, 0x4D, 0x4D, 0x02});
  EXPECT_EQ(ScanPlain(*engine, data), (Names{"alpha", "mid", "zeta"}));
  std::string name = "NNN";
  EXPECT_TRUE(engine->ScanBuffer(data.data(), static_cast<int32_t>(data.size()), name));
  EXPECT_EQ(name, "alpha");

  const std::vector<uint8_t> clean(500, 0);
  EXPECT_FALSE(engine->ScanBuffer(clean.data(), 500, name));
  EXPECT_EQ(name, "alpha");  // untouched
  EXPECT_FALSE(engine->ScanBuffer(nullptr, 0, name));
  EXPECT_EQ(name, "alpha");
}

TEST(Scan, WarnsWhenGivenBothAnImageAndExtraDataAndScansOn) {
  Engine& engine = support::BuiltinEngine();
  // Row 64 wants S0+465..515: with extraData, S0 means minus sectionDelta.
  const std::vector<uint8_t> bytes = support::SignatureBytes(Row(64).pattern);
  const support::ParsedImage image(ImageWith(bytes, 0));
  const uint32_t at = image.Image().Sections()[0].pointerToRawData;
  const ExtraData extra{0, 0, -static_cast<int32_t>(at - 465), 0};
  const std::atomic<int32_t> stop{0};
  testing::internal::CaptureStdout();
  const Names names = engine.Scan(image.Bytes().data(), static_cast<int32_t>(image.Bytes().size()),
                                  &image.Image(), stop, &extra);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kPeAndExtraData);
  EXPECT_EQ(names, Names{"FileSig"});
}

TEST(Scan, AStopFlagSetBeforehandPostsNoJobAndFindsNothing) {
  Engine& engine = support::BuiltinEngine();
  std::vector<uint8_t> data(1000, 0);
  support::Plant(data, 10, support::SignatureBytes(Row(2).pattern));
  const uint64_t posted = engine.Bsm().JobsPosted();
  const std::atomic<int32_t> stop{1};
  const ExtraData plain{0, 0, 0, 0};
  EXPECT_EQ(engine.Scan(data.data(), 1000, nullptr, stop, &plain), Names{});
  EXPECT_EQ(engine.Bsm().JobsPosted(), posted);
  EXPECT_EQ(ScanPlain(engine, data), Names{"FlashSig"});
  EXPECT_EQ(engine.Bsm().JobsPosted(), posted + 1);
}

TEST(Scan, AStopFlagRaisedDuringTheWalkKeepsWhatWasGathered) {
  auto engine = CompiledEngine({{"SimpleHead", "*", "1122334455667788"},
                                {"SimpleTail", "*", "8899AABBCCDDEEFF"},
                                {"PartHead", "*", "A1A2A3A4{2-8}B1B2B3B4"},
                                {"PartTail", "*", "C1C2C3C4{2-8}D1D2D3D4"}});
  std::vector<uint8_t> data(kLargeBuffer, 0);
  support::Plant(data, 1000, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  support::Plant(data, 2000, {0xA1, 0xA2, 0xA3, 0xA4, 0, 0, 0xB1, 0xB2, 0xB3, 0xB4});
  support::Plant(data, kUnwalked + 1000, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
  support::Plant(data, kUnwalked + 2000, {0xC1, 0xC2, 0xC3, 0xC4, 0, 0, 0xD1, 0xD2, 0xD3, 0xD4});
  ASSERT_EQ(ScanPlain(*engine, data), (Names{"PartHead", "PartTail", "SimpleHead", "SimpleTail"}));

  // The calling thread raises the flag after its batch of the head window, once the worker has
  // finished the head window; both then give up the tail window.
  std::atomic<int32_t> stop{0};
  platform::Event workerAtTail(/*manualReset=*/true, /*initiallySet=*/false);
  platform::Event stopSet(/*manualReset=*/true, /*initiallySet=*/false);
  ScanHooks hooks;
  hooks.afterPartBatch = [&] {
    if (stop != 0) return;
    EXPECT_TRUE(workerAtTail.Wait(kFailureTimeoutMs));
    stop = 1;
    stopSet.Set();
  };
  hooks.beforeWorkerWindow = [&](size_t window) {
    if (window != 1) return;
    workerAtTail.Set();
    EXPECT_TRUE(stopSet.Wait(kFailureTimeoutMs));
  };
  const ExtraData plain{0, 0, 0, 0};
  EXPECT_EQ(Scan(engine->Bsm(), data.data(), static_cast<int32_t>(data.size()), nullptr, stop,
                 &plain, &hooks),
            (Names{"PartHead", "SimpleHead"}));
}

TEST(Scan, ProcessesLaterBatchesAfterTooManyMatches) {
  const std::vector<std::string> texts = ManyPatternTexts();
  auto engine = std::make_unique<Engine>();
  for (const std::string& t : texts) engine->AddSignature("Many", "*", t);
  engine->AddSignature("Later", "*", "0102030405060708");
  engine->AddSignature("LaterChain", "*", "1112131415{1-9}161718");
  engine->Compile();
  std::vector<uint8_t> data(3000, 0);
  for (size_t at : {0, 100, 200, 300, 400}) support::Plant(data, at, {0xAA, 0xBB, 0xCC, 0xDD});
  support::Plant(data, 2000, {1, 2, 3, 4, 5, 6, 7, 8});
  support::Plant(data, 2500, {0x11, 0x12, 0x13, 0x14, 0x15, 0, 0x16, 0x17, 0x18});
  testing::internal::CaptureStdout();
  EXPECT_EQ(ScanPlain(*engine, data), (Names{"Later", "LaterChain", "Many"}));
  EXPECT_EQ(Occurrences(testing::internal::GetCapturedStdout(), kTooManyMatches), 2000);
}

TEST(AwaitJob, WaitsPastItsBoundUntilTheWorkerIsDone) {
  platform::Event completion(/*manualReset=*/true, /*initiallySet=*/false);
  platform::Event noted(/*manualReset=*/true, /*initiallySet=*/false);
  std::vector<std::string> notes;
  platform::SetDebugOutputSink([&](const std::string& text) {
    notes.push_back(text);
    noted.Set();
  });
  std::atomic<bool> workerDone{false};
  platform::Thread worker([&] {
    // The worker finishes only once the waiter has given up its bounded wait.
    EXPECT_TRUE(noted.Wait(kFailureTimeoutMs));
    workerDone = true;
    completion.Set();
  });
  AwaitJob(completion, 0);
  EXPECT_TRUE(workerDone);
  worker.Join();
  platform::SetDebugOutputSink(nullptr);
  EXPECT_EQ(notes, std::vector<std::string>{kJobOverdue});
}

TEST(Scan, KeepsTheJobUntilAnOverdueWorkerIsDone) {
  // The worker is held until the caller's wait has run out; its candidates must still count.
  Engine& engine = support::BuiltinEngine();
  std::vector<uint8_t> data(2000, 0);
  support::Plant(data, 10, support::SignatureBytes(Row(2).pattern));
  platform::Event noted(/*manualReset=*/true, /*initiallySet=*/false);
  platform::SetDebugOutputSink([&](const std::string& text) {
    if (text == kJobOverdue) noted.Set();
  });
  ScanHooks hooks;
  hooks.jobWaitMs = 0;
  hooks.beforeWorkerWindow = [&](size_t) { EXPECT_TRUE(noted.Wait(kFailureTimeoutMs)); };
  const std::atomic<int32_t> stop{0};
  const ExtraData plain{0, 0, 0, 0};
  EXPECT_EQ(Scan(engine.Bsm(), data.data(), 2000, nullptr, stop, &plain, &hooks),
            Names{"FlashSig"});
  platform::SetDebugOutputSink(nullptr);
}

TEST(Scan, RunsTheJobOnTheCallingThreadWhenNoWorkerRuns) {
  BSM bsm("scan_test", /*workerCount=*/0);
  ASSERT_EQ(bsm.AddBinarySignature("Simple", "*", "0A0B0C0D0E", true), 1);
  bsm.SimpleMatcher().Build();
  bsm.PartMatcher().Build();
  bsm.RollingHash().FinalizeBlocks();
  std::vector<uint8_t> data(100, 0);
  support::Plant(data, 50, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E});
  const std::atomic<int32_t> stop{0};
  EXPECT_EQ(Scan(bsm, data.data(), 100, nullptr, stop, nullptr), Names{"Simple"});
}

TEST(Scan, RunsOnSeveralThreadsAtOnce) {
  Engine& engine = support::BuiltinEngine();
  const int rows[] = {1, 2, 3, 84};
  std::vector<std::vector<uint8_t>> buffers;
  for (int row : rows) {
    std::vector<uint8_t> data(20000, 0);
    support::Plant(data, 300, support::SignatureBytes(Row(row).pattern));
    buffers.push_back(std::move(data));
  }
  std::atomic<int> wrong{0};
  std::vector<std::unique_ptr<platform::Thread>> threads;
  for (size_t t = 0; t < buffers.size(); ++t) {
    threads.push_back(std::make_unique<platform::Thread>([&, t] {
      for (int i = 0; i < 15; ++i) {
        std::string name = "NNN";
        if (!engine.ScanBuffer(buffers[t].data(), 20000, name) || name != Row(rows[t]).kindName) {
          ++wrong;
        }
      }
    }));
  }
  for (auto& thread : threads) thread->Join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace engine

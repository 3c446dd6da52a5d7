// Byte comparisons of the walk and the confirmation of candidates.
#include "engine/verify.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fileinfo/md5.h"

namespace engine {
namespace {

bool ByteRule(const uint8_t* data, const uint8_t* pattern, const uint8_t* mask, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if ((mask != nullptr ? data[i] & mask[i] : data[i]) != pattern[i]) return false;
  }
  return true;
}

TEST(BytesMatch, AgreesWithTheByteRuleWithAndWithoutSse2) {
  std::mt19937 rng(11);
  for (size_t length = 0; length <= 70; ++length) {
    for (int round = 0; round < 40; ++round) {
      SCOPED_TRACE(testing::Message() << "length " << length << " round " << round);
      // Separate heap blocks of exactly the length, so a read past the end is caught.
      std::vector<uint8_t> data(length), pattern(length), mask(length);
      for (size_t i = 0; i < length; ++i) {
        data[i] = static_cast<uint8_t>(rng());
        const uint8_t kinds[] = {0xFF, 0xF0, 0x0F, 0x00, static_cast<uint8_t>(rng())};
        mask[i] = kinds[rng() % 5];
        pattern[i] = static_cast<uint8_t>(data[i] & mask[i]);
      }
      // Most rounds break one byte (possibly in a masked-out bit, which must not matter).
      if (length > 0 && round % 4 != 0) {
        const size_t at = rng() % length;
        pattern[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
      std::vector<uint8_t> exact = data;
      if (length > 0 && round % 3 == 0) exact[rng() % length] ^= 0x80;
      for (bool sse2 : {false, true}) {
        EXPECT_EQ(BytesMatch(data.data(), pattern.data(), mask.data(), length, sse2),
                  ByteRule(data.data(), pattern.data(), mask.data(), length));
        EXPECT_EQ(BytesMatch(data.data(), exact.data(), nullptr, length, sse2),
                  ByteRule(data.data(), exact.data(), nullptr, length));
      }
    }
  }
}

TEST(BytesMatch, FindsAMismatchInEveryLaneOfEveryStride) {
  // 16-byte, 4-byte and single-byte stretches each have to look at all their bytes.
  for (size_t length : {1u, 3u, 4u, 15u, 16u, 17u, 20u, 35u, 48u}) {
    for (size_t at = 0; at < length; ++at) {
      SCOPED_TRACE(testing::Message() << "length " << length << " at " << at);
      std::vector<uint8_t> data(length, 0x5A), pattern(length, 0x5A), mask(length, 0xFF);
      pattern[at] = 0x5B;
      for (bool sse2 : {false, true}) {
        EXPECT_FALSE(BytesMatch(data.data(), pattern.data(), mask.data(), length, sse2));
        EXPECT_FALSE(BytesMatch(data.data(), pattern.data(), nullptr, length, sse2));
      }
      mask[at] = 0xFE;  // the differing bit is masked out
      pattern[at] = 0x5A;
      data[at] = 0x5B;
      for (bool sse2 : {false, true}) {
        EXPECT_TRUE(BytesMatch(data.data(), pattern.data(), mask.data(), length, sse2));
      }
    }
  }
}

// A built matcher with one pattern, to get a record with its anchor.
struct OneRecord {
  OneRecord(std::vector<uint8_t> bytes, std::vector<uint8_t> mask) : matcher(kAnchorLength) {
    EXPECT_EQ(matcher.AddPattern(bytes, mask), 1);
    matcher.Build();
  }
  const PatternRecord& Record() const { return matcher.Pattern(0); }
  PatternMatcher matcher;
};

TEST(VerifyRecord, NeedsTheWholeMaskedRecordInsideTheWindow) {
  // ?? ?? AA BB CC DD ?? : the anchor is AABBCCDD at 2, so the record starts 2 before it.
  OneRecord r({0, 0, 0xAA, 0xBB, 0xCC, 0xDD, 0}, {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0});
  ASSERT_EQ(r.Record().AnchorStart(), 2u);
  const std::vector<uint8_t> w = {1, 2, 0xAA, 0xBB, 0xCC, 0xDD, 3, 4};
  struct Case {
    const char* name;
    size_t windowFrom, windowTo;
    bool expected;
  };
  const Case cases[] = {
      {"window starts at the record", 0, 8, true},
      {"window ends with the record", 0, 7, true},
      {"record starts one byte before the window", 1, 8, false},
      {"record ends one byte past the window", 0, 6, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t offset = -7;
    const bool found = VerifyRecord(r.Record(), kAnchorLength, w.data() + c.windowFrom,
                                    w.data() + 6, w.data() + c.windowTo, true, offset);
    EXPECT_EQ(found, c.expected);
    EXPECT_EQ(offset, c.expected ? static_cast<int32_t>(0 - c.windowFrom) : -7);
  }
}

TEST(VerifyRecord, TakesAShortExactRecordAsItsOwnAnchor) {
  OneRecord r({0x12, 0x34, 0x56}, {});
  ASSERT_EQ(r.Record().AnchorLength(), 3u);
  // The walked bytes are not compared again: the automaton has already matched them.
  const std::vector<uint8_t> w = {9, 9, 0, 0, 0};
  int32_t offset = -1;
  EXPECT_TRUE(
      VerifyRecord(r.Record(), kAnchorLength, w.data(), w.data() + 5, w.data() + 5, false, offset));
  EXPECT_EQ(offset, 2);
}

std::array<uint8_t, 16> DigestOf(const std::vector<uint8_t>& bytes) {
  return fileinfo::Md5Buffer(bytes);
}

TEST(ConfirmCandidate, SearchesTheWindowsOnceForAllCandidatesThatPassedTheirLocation) {
  std::vector<uint8_t> data(3000);
  std::mt19937 rng(5);
  for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
  const std::vector<uint8_t> block(data.begin() + 1000, data.begin() + 1512);
  RollingHashTable table;
  const uint32_t id = table.AddBlock(512, WeakChecksum(block), DigestOf(block));
  const uint32_t otherId = table.AddBlock(1024, 12345, DigestOf(block));
  table.FinalizeBlocks();
  const std::vector<ScanWindow> windows = {{data.data(), 3000}};
  const ExtraData plain{0, 0, 0, 0};
  const int32_t size = 3000;

  BlockHitList hits;
  // A candidate without a block, and one with a block but a failing location: no search.
  EXPECT_TRUE(ConfirmCandidate({"*", "a", 0, 5}, size, nullptr, &plain, windows, table, hits));
  EXPECT_FALSE(ConfirmCandidate({"10", "a", id, 5}, size, nullptr, &plain, windows, table, hits));
  EXPECT_EQ(hits.searches, 0);
  EXPECT_FALSE(hits.computed);

  EXPECT_TRUE(ConfirmCandidate({"*", "a", id, 5}, size, nullptr, &plain, windows, table, hits));
  EXPECT_FALSE(
      ConfirmCandidate({"*", "b", otherId, 5}, size, nullptr, &plain, windows, table, hits));
  EXPECT_TRUE(ConfirmCandidate({"5", "c", id, 5}, size, nullptr, &plain, windows, table, hits));
  EXPECT_EQ(hits.searches, 1);
  EXPECT_EQ(hits.hits, (std::vector<BlockHit>{{id, 1000}}));
}

}  // namespace
}  // namespace engine

// AddBinarySignature: what a pattern text enters into the matchers, tables and store, and what
// the parser prints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/bsm.h"
#include "engine/limits.h"

namespace engine {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(std::span<const uint8_t> s) { return Bytes(s.begin(), s.end()); }

// Runs the parser with standard output captured.
struct Added {
  int result;
  std::string output;
};

Added Add(BSM& bsm, const std::string& kind, const std::string& location,
          const std::string& pattern, bool strict = true) {
  testing::internal::CaptureStdout();
  const int result = bsm.AddBinarySignature(kind, location, pattern, strict);
  return {result, testing::internal::GetCapturedStdout()};
}

struct RefusedCase {
  const char* name;
  std::string pattern;
};

const RefusedCase kSilentlyRefused[] = {
    {"odd_hex_text_with_suffix",
     "0BE00??????8DBE00??????57EB0B908A06468807:RH;2048;*;2043522485;"
     "d9c82d180cacc1a09b581b13adbdd2db;"},
    {"lone_character", "AABBC"},
    {"lone_character_before_gap", "AABBC{1-2}DDEE"},
    {"lone_character_in_later_part", "AABB{1-2}DDE"},
    {"no_token_character", "AABB(CCDD"},
    {"letter_as_token", "AABBGG"},
    {"letter_after_brace", "AABB{X-5}CCDD"},
    {"gap_without_number", "AABB{}CCDD"},
    {"gap_without_closing_brace", "AABB{2-3CCDD"},
    {"closing_brace_only_after_a_blank", "AABB{2-3 }CCDD"},
    {"begins_with_colon", ":RH;512;*;1;00;"},
    {"hash_suffix_ends_in_first_field", "AABB:RH;512"},
    {"hash_suffix_ends_in_third_field", "AABB:RH;512;*;123"},
    {"hash_suffix_field_ends_at_a_tab", "AABB:RH;512\t;*;1;00;"},
    {"second_hash_suffix_truncated", "AABB:RH;512;*;1;00;:RH;1024;*"},
    {"overlong_text", std::string(kMaxPatternText + 1, 'A')},
};

class SilentRefusal : public testing::TestWithParam<RefusedCase> {};

TEST_P(SilentRefusal, EntersNothingAndPrintsNothing) {
  BSM bsm("parser_test");
  const Added added = Add(bsm, "FileSig", "*", GetParam().pattern);
  EXPECT_EQ(added.result, 0);
  EXPECT_EQ(added.output, "");
  EXPECT_EQ(bsm.ProblemCount(), 0u);
  EXPECT_EQ(bsm.SignatureCount(), 0u);
  EXPECT_EQ(bsm.SimpleMatcher().Count(), 0);
  EXPECT_EQ(bsm.RecordOffsets().size(), 1u);
  EXPECT_EQ(bsm.RollingHash().Entries(0).size() + bsm.RollingHash().Entries(1).size() +
                bsm.RollingHash().Entries(2).size(),
            0u);
}

INSTANTIATE_TEST_SUITE_P(Texts, SilentRefusal, testing::ValuesIn(kSilentlyRefused),
                         [](const testing::TestParamInfo<RefusedCase>& c) {
                           return std::string(c.param.name);
                         });

TEST(AddBinarySignature, RefusedTextsStillDrawTheirFirstPartId) {
  BSM bsm("parser_test");
  EXPECT_EQ(Add(bsm, "FileSig", "*", "AABBC").result, 0);        // refused in the walk
  EXPECT_EQ(Add(bsm, "FileSig", "*", ":AABB").result, 0);        // refused in the walk
  EXPECT_EQ(Add(bsm, "FileSig", "*", "AABB:RH;512").result, 0);  // refused before the walk
  EXPECT_EQ(bsm.NextPartId(), 3u);
}

struct SimpleCase {
  const char* name;
  std::string pattern;
  Bytes bytes;
  Bytes mask;  // empty: exact
};

const SimpleCase kSimpleTexts[] = {
    {"lower_case_digits", "aabbcc0f", {0xAA, 0xBB, 0xCC, 0x0F}, {}},
    {"nibble_tokens", "A??B??cd", {0xA0, 0x0B, 0x00, 0xCD}, {0xF0, 0x0F, 0x00, 0xFF}},
    {"blank_ends_the_hex_text", "AABB CCDD", {0xAA, 0xBB}, {}},
    {"blank_hides_a_suffix", "AABB :RH;512;*;1;00;", {0xAA, 0xBB}, {}},
    {"tab_ends_the_hex_text", "AABB\tCCDD", {0xAA, 0xBB}, {}},
    {"high_byte_ends_the_hex_text",
     "AABB\xC3"
     "CCDD",
     {0xAA, 0xBB},
     {}},
    {"nul_ends_the_text", std::string("AABB\0CCDD", 9), {0xAA, 0xBB}, {}},
    {"other_suffix_skipped", "AABB:XYZ;1;:ZZ", {0xAA, 0xBB}, {}},
};

class SimpleText : public testing::TestWithParam<SimpleCase> {};

TEST_P(SimpleText, EntersOnePatternIntoTheSimpleMatcher) {
  BSM bsm("parser_test");
  const Added added = Add(bsm, "FlashSig", "s0+1", GetParam().pattern);
  EXPECT_EQ(added.result, 1);
  EXPECT_EQ(added.output, "");
  ASSERT_EQ(bsm.SimpleMatcher().Count(), 1);
  const PatternRecord& r = bsm.SimpleMatcher().Pattern(0);
  EXPECT_EQ(r.Id(), 1u);
  EXPECT_EQ(ToBytes(r.Bytes()), GetParam().bytes);
  EXPECT_EQ(ToBytes(r.Mask()), GetParam().mask);
  EXPECT_EQ(bsm.PartMatcher().Count(), 0);
  ASSERT_EQ(bsm.RecordOffsets().size(), 2u);
  EXPECT_EQ(bsm.Store().Read(bsm.RecordOffsets()[1]), (SignatureRecord{"S0+1", "FlashSig", 0}));
  EXPECT_EQ(bsm.SignatureCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Texts, SimpleText, testing::ValuesIn(kSimpleTexts),
                         [](const testing::TestParamInfo<SimpleCase>& c) {
                           return std::string(c.param.name);
                         });

TEST(AddBinarySignature, RepeatedOnePartTextBecomesAOnePartChainWithItsOwnRecord) {
  BSM bsm("parser_test");
  const std::string hex = "C1EA1832DA881C084181F990B208007CC7";
  ASSERT_EQ(Add(bsm, "FileSig", "S0+150,100",
                hex + ":RH;512;*;3647012519;95c5ef2bfd5b8298ce5b2fd906ce2205;")
                .result,
            1);
  ASSERT_EQ(Add(bsm, "FileSig", "S0+150,100", hex).result, 1);

  ASSERT_EQ(bsm.SimpleMatcher().Count(), 1);
  ASSERT_EQ(bsm.RecordOffsets().size(), 2u);
  EXPECT_EQ(bsm.Store().Read(bsm.RecordOffsets()[1]),
            (SignatureRecord{"S0+150,100", "FileSig", 1}));
  const std::span<const BlockEntry> blocks = bsm.RollingHash().Entries(0);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].weakChecksum, 3647012519u);
  const std::array<uint8_t, 16> digest = {0x95, 0xc5, 0xef, 0x2b, 0xfd, 0x5b, 0x82, 0x98,
                                          0xce, 0x5b, 0x2f, 0xd9, 0x06, 0xce, 0x22, 0x05};
  EXPECT_EQ(blocks[0].digest, digest);

  ASSERT_EQ(bsm.PartMatcher().Count(), 1);
  EXPECT_EQ(bsm.PartMatcher().Pattern(0).Length(), 17u);
  ASSERT_EQ(bsm.PartLinks().size(), 2u);
  ASSERT_EQ(bsm.PartLinks()[1].size(), 1u);
  const PartLink link = bsm.PartLinks()[1][0];
  EXPECT_EQ(link, (PartLink{0, kNoGapBound, kNoGapBound, 2, link.recordOffset}));
  EXPECT_NE(link.recordOffset, bsm.RecordOffsets()[1]);
  EXPECT_EQ(bsm.Store().Read(link.recordOffset), (SignatureRecord{"S0+150,100", "FileSig", 0}));
  EXPECT_EQ(bsm.SignatureCount(), 2u);
}

TEST(AddBinarySignature, GivesThePartsOfOneSignatureConsecutiveIdsAndGapLinks) {
  BSM bsm("parser_test");
  ASSERT_EQ(Add(bsm, "FileSig", "*", "AABBCCDD").result, 1);  // draws part id 1
  const uint32_t k = bsm.NextPartId();
  const Added added = Add(bsm, "FileSig", "S0+1000,80", "60EB03{2-6}8D0500904000{25-40}3018EB04");
  ASSERT_EQ(added.result, 1);
  EXPECT_EQ(added.output, "");
  EXPECT_EQ(bsm.NextPartId(), k + 3);
  ASSERT_EQ(bsm.PartMatcher().Count(), 3);
  ASSERT_EQ(bsm.PartLinks().size(), 4u);  // ids 1, 2, 3 in order of the parts
  EXPECT_EQ(bsm.PartLinks()[1],
            (std::vector<PartLink>{{0, kNoGapBound, kNoGapBound, k, kNoRecord}}));
  EXPECT_EQ(bsm.PartLinks()[2], (std::vector<PartLink>{{k, 2, 6, k + 1, kNoRecord}}));
  ASSERT_EQ(bsm.PartLinks()[3].size(), 1u);
  const PartLink last = bsm.PartLinks()[3][0];
  EXPECT_EQ(last, (PartLink{k + 1, 25, 40, k + 2, last.recordOffset}));
  EXPECT_EQ(bsm.Store().Read(last.recordOffset), (SignatureRecord{"S0+1000,80", "FileSig", 0}));
  EXPECT_EQ(bsm.SimpleMatcher().Count(), 1);
  EXPECT_EQ(bsm.SignatureCount(), 2u);
}

struct GapCase {
  const char* name;
  const char* pattern;
  uint16_t minGap;
  uint16_t maxGap;
};

const GapCase kGaps[] = {
    {"both_bounds", "AABB{90-130}CCDD", 90, 130},
    {"zero_minimum", "AABB{0-200}CCDD", 0, 200},
    {"single_number", "AABB{7}CCDD", 7, kNoGapBound},
    {"missing_maximum", "AABB{7-}CCDD", 7, kNoGapBound},
    {"text_before_the_brace", "AABB{3-9XYZ}CCDD", 3, 9},
    {"low_sixteen_bits", "AABB{70000-70010}CCDD", 4464, 4474},
    {"huge_number_saturates", "AABB{99999999999-3}CCDD", 0xFFFF, 3},
};

TEST(AddBinarySignature, ReadsGapBounds) {
  for (const GapCase& c : kGaps) {
    SCOPED_TRACE(c.name);
    BSM bsm("parser_test");
    ASSERT_EQ(Add(bsm, "FileSig", "*", c.pattern).result, 1);
    ASSERT_EQ(bsm.PartLinks().size(), 3u);
    ASSERT_EQ(bsm.PartLinks()[2].size(), 1u);
    EXPECT_EQ(bsm.PartLinks()[2][0].minGap, c.minGap);
    EXPECT_EQ(bsm.PartLinks()[2][0].maxGap, c.maxGap);
    EXPECT_EQ(bsm.PartLinks()[2][0].previousPartId, 1u);
  }
}

TEST(AddBinarySignature, ReportsShortPartsAndKeepsEarlierPartsWithoutRecord) {
  struct Case {
    const char* pattern;
    size_t partPatterns;  // left in the part matcher
  };
  const Case cases[] = {
      {"AABB{2-3}", 1},         // ends in a gap: the empty last part
      {"", 0},                  // an empty text
      {"{2-3}AABB", 0},         // begins with a gap
      {"AABB{1-2}{3-4}CC", 1},  // two gaps in a row
      {"AA", 0},                // one byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    BSM bsm("parser_test");
    const Added added = Add(bsm, "FlashSig", "*", c.pattern);
    EXPECT_EQ(added.result, 0);
    EXPECT_EQ(added.output, "00001, Bad signature in: FlashSig\n");
    EXPECT_EQ(bsm.SignatureCount(), 0u);
    EXPECT_EQ(bsm.SimpleMatcher().Count(), 0);
    ASSERT_EQ(bsm.PartMatcher().Count(), static_cast<int32_t>(c.partPatterns));
    for (size_t id = 1; id < bsm.PartLinks().size(); ++id) {
      for (const PartLink& link : bsm.PartLinks()[id]) EXPECT_EQ(link.recordOffset, kNoRecord);
    }
  }
}

TEST(AddBinarySignature, NumbersProblemsWithFiveDigits) {
  BSM bsm("parser_test");
  std::string all;
  for (int i = 0; i < 12; ++i) all += Add(bsm, "K" + std::to_string(i), "*", "AB").output;
  EXPECT_EQ(bsm.ProblemCount(), 12u);
  EXPECT_EQ(all.substr(0, 29), "00001, Bad signature in: K0\n0");
  EXPECT_NE(all.find("00009, Bad signature in: K8\n00010, Bad signature in: K9\n"),
            std::string::npos);
  EXPECT_EQ(all.substr(all.size() - 29), "00012, Bad signature in: K11\n");
}

TEST(AddBinarySignature, KeepsTheRecordOfAHashSuffixBlockSizeTheTableRefuses) {
  struct Case {
    const char* pattern;
    uint32_t blockId;
  };
  const Case cases[] = {
      {"AABB:RH;4096;*;1;00;", 0}, {"AABB:RH;;*;1;00;", 0}, {"AABB:RH;1024;*;1;00;", 1},
      {"AABB:RH;1024;*;1;00", 1},   // the digest may end at the end of the text
      {"AABB:RH;512 ;*;1;00;", 1},  // a blank ends the first field; the rest read empty
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    BSM bsm("parser_test");
    ASSERT_EQ(Add(bsm, "FileSig", "*", c.pattern).result, 1);
    EXPECT_EQ(bsm.Store().Read(bsm.RecordOffsets()[1]).rollingHashId, c.blockId);
  }
}

TEST(AddBinarySignature, ReadsTheHashSuffixFields) {
  BSM bsm("parser_test");
  // A short digest is padded with zeros; a non-hex character counts as 0; the later suffix wins;
  // the checksum wraps at 32 bits.
  ASSERT_EQ(Add(bsm, "FileSig", "*", "AABB:RH;512;*;1;FF;:RH;2048;x;4294967297;0g1;:OTHER").result,
            1);
  ASSERT_EQ(bsm.RollingHash().Entries(2).size(), 1u);
  const BlockEntry& e = bsm.RollingHash().Entries(2)[0];
  EXPECT_EQ(e.weakChecksum, 1u);
  const std::array<uint8_t, 16> digest = {0x00, 0x10};
  EXPECT_EQ(e.digest, digest);
  EXPECT_TRUE(bsm.RollingHash().Entries(0).empty());
}

TEST(AddBinarySignature, ReportsPatternsTheMatchersRejectAndEntersNoLink) {
  for (const bool strict : {true, false}) {
    SCOPED_TRACE(strict);
    BSM bsm("parser_test");
    ASSERT_EQ(Add(bsm, "FileSig", "*", "11223344").result, 1);
    ASSERT_EQ(Add(bsm, "FileSig", "*", "55667788{1-2}99AA").result, 1);
    bsm.SimpleMatcher().Build();
    bsm.PartMatcher().Build();
    const auto links = bsm.PartLinks();

    Added added = Add(bsm, "FlashSig", "*", "AABBCCDD", strict);
    EXPECT_EQ(added.result, 0);
    EXPECT_EQ(added.output, "00001, PMatcher rejected pattern for signature: FlashSig\n");
    added = Add(bsm, "ThreadSig3", "*", "55667788{1-2}99AA", strict);
    EXPECT_EQ(added.result, 0);
    EXPECT_EQ(added.output, "00002, PMatcher rejected pattern for signature: ThreadSig3\n");
    added = Add(bsm, "FileSig", "*", "11223344", strict);  // held already, as a part too
    EXPECT_EQ(added.result, 0);
    EXPECT_EQ(added.output, "00003, PMatcher rejected pattern for signature: FileSig\n");
    EXPECT_EQ(bsm.PartLinks(), links);
    EXPECT_EQ(bsm.RecordOffsets().size(), 2u);
    EXPECT_EQ(bsm.SignatureCount(), 2u);
  }
}

TEST(AddBinarySignature, WithoutStrictEntersAShortPartAfterItsMessage) {
  BSM bsm("parser_test");
  const Added added = Add(bsm, "FileSig", "*", "AA", /*strict=*/false);
  EXPECT_EQ(added.result, 1);
  EXPECT_EQ(added.output, "00001, Bad signature in: FileSig\n");
  ASSERT_EQ(bsm.SimpleMatcher().Count(), 1);
  EXPECT_EQ(bsm.SimpleMatcher().Pattern(0).Length(), 1u);
}

}  // namespace
}  // namespace engine

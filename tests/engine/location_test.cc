#include "engine/location.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "tests/support/parsed_image.h"
#include "tests/support/pe_builder.h"

namespace engine {
namespace {

using support::ParsedImage;
using support::PeBuilder;

constexpr int32_t kSize = 0x10000;

// Three sections whose raw data starts at 512, 1024 and 1536 once rounded down to the file
// alignment (sections 0 and 2 claim unaligned pointers); the entry point is the first byte of
// section 1, file position 1024.
PeBuilder ThreeSections() {
  return PeBuilder()
      .SectionCount(3)
      .SectionRawPointer(0, 0x230)
      .SectionRawPointer(2, 0x6F0)
      .EntryPoint(0x2000);
}

// What a location is resolved against.
enum class Context {
  kNothing,        // neither a PE image nor extraData
  kPlain,          // ScanBuffer's all-zero extraData
  kImage,          // ThreeSections()
  kNoSections,     // an image without sections, entry point 0x777
  kEntryOutside,   // ThreeSections() with the entry point at 0x9000, in no section
  kExtra,          // kExtraData alone
  kImageAndExtra,  // ThreeSections() and kExtraData
};

constexpr ExtraData kZeroExtraData = {0, 0, 0, 0};
constexpr ExtraData kExtraData = {
    .entryDelta = -100, .fileBase = 200, .sectionDelta = -0x400, .sectionIndex = 3};

struct LocationCase {
  std::string_view location;
  Context context;
  int32_t offset;
  bool expected;
  int32_t size = kSize;
};

const LocationCase kLocationCases[] = {
    {"*", Context::kNothing, 0, true},
    {"*", Context::kPlain, 12345, true},
    {"*", Context::kImage, INT32_MAX, true},

    // The character after "EOF" is not looked at: both signs count back from the end.
    {"EOF-100", Context::kPlain, kSize - 100, true},
    {"EOF-100", Context::kPlain, kSize - 99, false},
    {"EOF-100", Context::kPlain, kSize - 101, false},
    {"EOF+100", Context::kPlain, kSize - 100, true},
    {"EOF+100", Context::kPlain, kSize - 101, false},
    {"EOFx100", Context::kNothing, kSize - 100, true},
    {"EOF", Context::kImage, kSize, true},
    {"EOF", Context::kImage, kSize - 1, false},
    {"EOF-", Context::kPlain, kSize, true},
    {"EOF-100,10", Context::kPlain, kSize - 90, true},
    {"EOF-100,10", Context::kPlain, kSize - 89, false},

    // With ScanBuffer's zero extraData, "S0" is the buffer start and other sections never match.
    {"S0+464", Context::kPlain, 464, true},
    {"S0+464", Context::kPlain, 463, false},
    {"S0+464", Context::kPlain, 465, false},
    {"S1", Context::kPlain, 0, false},
    {"S0", Context::kNothing, 0, false},

    // Section starts are PointerToRawData rounded down: section 0 starts at 512.
    {"S0+150,100", Context::kImage, 512 + 149, false},
    {"S0+150,100", Context::kImage, 512 + 150, true},
    {"S0+150,100", Context::kImage, 512 + 250, true},
    {"S0+150,100", Context::kImage, 512 + 251, false},
    {"S0,200", Context::kImage, 511, false},
    {"S0,200", Context::kImage, 512, true},
    {"S0,200", Context::kImage, 712, true},
    {"S0,200", Context::kImage, 713, false},
    {"S", Context::kImage, 512, true},
    {"S1", Context::kImage, 1024, true},
    {"S01", Context::kImage, 1024, true},
    {"S2-16", Context::kImage, 1520, true},
    {"S3", Context::kImage, 0, false},
    {"S3", Context::kImage, 1536, false},
    {"S99999999999", Context::kImage, 512, false},
    {"S0", Context::kNoSections, 0, false},

    // With extraData only its section index counts, at minus its sectionDelta, even where the
    // image has no such section.
    {"S3+8", Context::kExtra, 0x408, true},
    {"S3+8", Context::kExtra, 0x407, false},
    {"S2", Context::kExtra, 0x400, false},
    {"S3", Context::kImageAndExtra, 0x400, true},

    // "SL" needs a PE image and no extraData.
    {"SL", Context::kImage, 1536, true},
    {"SL-36", Context::kImage, 1500, true},
    {"SL", Context::kImage, 1024, false},
    {"SL", Context::kPlain, 0, false},
    {"SL+4", Context::kPlain, 4, false},
    {"SL", Context::kImageAndExtra, 1536, false},
    {"SL", Context::kNoSections, 0, false},
    {"SL", Context::kNothing, 0, false},

    {"EP+16", Context::kImage, 1024, false},
    {"EP+16", Context::kImage, 1039, false},
    {"EP+16", Context::kImage, 1040, true},
    {"EP+16", Context::kImage, 1041, false},
    {"EP-24", Context::kImage, 1000, true},
    {"EPx16", Context::kImage, 1024, true},
    {"EP", Context::kPlain, 0, true},
    {"EP", Context::kPlain, 1, false},
    {"EP", Context::kNothing, 0, false},
    {"EP", Context::kExtra, 100, true},
    {"EP+5", Context::kImageAndExtra, 105, true},
    {"EP+5", Context::kImageAndExtra, 1029, false},
    // No section qualifies: the entry point's address itself is the target.
    {"EP", Context::kNoSections, 0x777, true},
    {"EP", Context::kEntryOutside, 0x9000, true},
    {"EP", Context::kImage, 0x2000, true, 1024},  // section 1 starts at the end of the buffer
    {"EP", Context::kImage, 1024, false, 1024},
    // A target before the buffer start wraps to a value no offset reaches.
    {"EP-2000", Context::kImage, 0, false},
    {"EP-2000", Context::kImage, INT32_MAX, false},

    {"1000", Context::kNothing, 1000, true},
    {"1000", Context::kNothing, 999, false},
    {"1000", Context::kPlain, 1000, true},
    {"1000", Context::kExtra, 800, true},
    {"1000", Context::kExtra, 1000, false},
    {"1000", Context::kImage, 1000, true},
    {"1000,24", Context::kNothing, 1024, true},
    {"1000,24", Context::kNothing, 1025, false},
    {"0", Context::kNothing, 0, true},
    {"0", Context::kExtra, 0, false},
    // target + range is 32-bit: a range of -1 covers everything from target 0, and wraps below
    // any other target, confirming nothing.
    {"0,-1", Context::kNothing, INT32_MAX, true},
    {"250,-1", Context::kNothing, 250, false},
    {"250,-1", Context::kNothing, 249, false},

    // No recognised form.
    {"", Context::kNothing, 0, false},
    {"X100", Context::kPlain, 100, false},
    {"ep+16", Context::kImage, 1040, false},
    {"eof-100", Context::kPlain, kSize - 100, false},
    {" 100", Context::kNothing, 100, false},
    {"+100", Context::kNothing, 100, false},
    {"-5", Context::kNothing, 0, false},
    {"*,5", Context::kNothing, 0, false},
    {"**", Context::kNothing, 0, false},
    {"E", Context::kImage, 0, false},
    {"EO", Context::kImage, 0, false},
};

TEST(MatchesLocation, ResolvesEachFormAgainstItsContext) {
  const ParsedImage image(ThreeSections());
  const ParsedImage noSections(PeBuilder().SectionCount(0).EntryPoint(0x777));
  const ParsedImage entryOutside(ThreeSections().EntryPoint(0x9000));
  ASSERT_EQ(image.Result(), fileinfo::LoadResult::kOk);
  ASSERT_EQ(noSections.Result(), fileinfo::LoadResult::kOk);
  ASSERT_EQ(entryOutside.Result(), fileinfo::LoadResult::kOk);

  for (const LocationCase& c : kLocationCases) {
    SCOPED_TRACE(testing::Message()
                 << '"' << c.location << "\" context " << static_cast<int>(c.context) << " offset "
                 << c.offset << " size " << c.size);
    const fileinfo::PeImage* pe = nullptr;
    const ExtraData* extraData = nullptr;
    switch (c.context) {
      case Context::kNothing:
        break;
      case Context::kPlain:
        extraData = &kZeroExtraData;
        break;
      case Context::kImage:
        pe = &image.Image();
        break;
      case Context::kNoSections:
        pe = &noSections.Image();
        break;
      case Context::kEntryOutside:
        pe = &entryOutside.Image();
        break;
      case Context::kExtra:
        extraData = &kExtraData;
        break;
      case Context::kImageAndExtra:
        pe = &image.Image();
        extraData = &kExtraData;
        break;
    }
    EXPECT_EQ(MatchesLocation(c.size, pe, c.offset, c.location, extraData), c.expected);
  }
}

TEST(MatchesLocation, ReadsOnlyTheTextItIsGiven) {
  // The view ends before the digits that follow it in memory.
  const std::string_view text = std::string_view("EOF-1009").substr(0, 7);
  EXPECT_TRUE(MatchesLocation(kSize, nullptr, kSize - 100, text, nullptr));
  const std::string_view section = std::string_view("S19").substr(0, 2);
  const ParsedImage image(ThreeSections());
  EXPECT_TRUE(MatchesLocation(kSize, &image.Image(), 1024, section, nullptr));
}

TEST(ReadDecimal, ReadsAsAtoiAndSaturates) {
  struct Case {
    std::string_view text;
    int32_t expected;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 0},
      {"0", 0},
      {"123abc", 123},
      {"12,5", 12},
      {"-45", -45},
      {"+7", 7},
      {" \t\n12", 12},
      {"- 5", 0},
      {"+-5", 0},
      {"-", 0},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"99999999999999999999999", INT32_MAX},
      {"-99999999999999999999999", INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadDecimal(c.text), c.expected);
  }
}

}  // namespace
}  // namespace engine

#include "engine/scan_windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "tests/support/parsed_image.h"
#include "tests/support/pe_builder.h"

namespace engine {

void PrintTo(const WindowRange& r, std::ostream* os) {
  *os << "[0x" << std::hex << r.offset << ", 0x" << int64_t{r.offset} + r.length << ")";
}

namespace {

using support::ParsedImage;
using support::PeBuilder;
using Ranges = std::vector<WindowRange>;

constexpr int32_t H = kHalfWindow;
constexpr int32_t kMiB = 0x100000;
constexpr int32_t k10MiB = 10 * kMiB;
// Below the first section's virtual address: an entry point there lies in no section.
constexpr uint32_t kEntryInHeaders = 0x10;

Ranges Sorted(Ranges r) {
  std::sort(r.begin(), r.end(), [](const WindowRange& a, const WindowRange& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.length < b.length;
  });
  return r;
}

// Section 0 claims raw data at `pointer`; the selection reads only the fields, so the image
// itself stays small while the buffer size says where the section would lie.
PeBuilder SectionAt(uint32_t pointer, uint32_t rawSize, uint32_t virtualSize) {
  return PeBuilder()
      .SectionRawPointer(0, pointer)
      .SectionRawSize(0, rawSize)
      .SectionVirtualSize(0, virtualSize);
}

TEST(SelectWindowRanges, WalksBuffersUpTo1MiBWhole) {
  const ParsedImage image(PeBuilder().EntryPoint(0x1000));
  ASSERT_EQ(image.Result(), fileinfo::LoadResult::kOk);
  for (const int32_t size : {0, 1, 4096, kMiB - 1, kMiB}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(SelectWindowRanges(size, nullptr), (Ranges{{0, size}}));
    EXPECT_EQ(SelectWindowRanges(size, &image.Image()), (Ranges{{0, size}}));
  }
  // A size that did not fit 32 bits walks nothing rather than a negative length.
  EXPECT_EQ(SelectWindowRanges(-5, nullptr), (Ranges{{0, 0}}));
  EXPECT_EQ(SelectWindowRanges(INT32_MIN, &image.Image()), (Ranges{{0, 0}}));
}

TEST(SelectWindowRanges, TakesOnlyHeadAndTailWithoutImage) {
  struct Case {
    int32_t size;
    Ranges expected;
  };
  const Case cases[] = {
      // The byte at H is walked by neither window.
      {kMiB + 1, {{0, H}, {H + 1, H}}},
      // The largest thread region.
      {2000000, {{0, H}, {2000000 - H, H}}},
      {INT32_MAX, {{0, H}, {INT32_MAX - H, H}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(SelectWindowRanges(c.size, nullptr), c.expected);
    EXPECT_EQ(MergeWindowRanges(SelectWindowRanges(c.size, nullptr)), c.expected);
  }
}

struct ImageCase {
  const char* name;
  PeBuilder image;
  int32_t size;
  Ranges selected;  // in any order
  Ranges merged;
};

const ImageCase kImageCases[] = {
    {"section_3mib_in_10mib_ends_only",
     SectionAt(0x400000, 0x300000, 0x300000).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {0x400000, H}, {0x680000, H}, {k10MiB - H, H}},
     {{0, H}, {0x400000, H}, {0x680000, H}, {k10MiB - H, H}}},
    {"entry_window_unclipped_holds_2h_plus_1",
     SectionAt(0x300000, 0x1000, 0x1000).EntryPoint(0x1800),
     k10MiB,
     {{0, H}, {0x280800, 2 * H + 1}, {0x300000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x280800, 2 * H + 1}, {k10MiB - H, H}}},
    {"entry_window_clipped_at_0",
     PeBuilder().EntryPoint(0x1000),
     2 * kMiB,
     {{0, H}, {0, 0x200 + H + 1}, {2 * kMiB - H, H}},
     {{0, 0x200 + H + 1}, {2 * kMiB - H, H}}},
    {"entry_window_clipped_at_size_minus_1",
     SectionAt(0x1FF000, 0x1000, 0x1000).EntryPoint(0x1FFF),
     2 * kMiB,
     {{0, H}, {2 * kMiB - 1 - H, H + 1}, {2 * kMiB - H, H}},
     {{0, H}, {2 * kMiB - 1 - H, H + 1}}},
    {"entry_past_virtual_range_gets_no_window",
     SectionAt(0x300000, 0x1000, 0x1000).EntryPoint(0x2000),
     k10MiB,
     {{0, H}, {0x300000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x300000, 0x1000}, {k10MiB - H, H}}},
    {"entry_in_headers_gets_no_window",
     SectionAt(0x300000, 0x1000, 0x1000).EntryPoint(0xFFF),
     k10MiB,
     {{0, H}, {0x300000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x300000, 0x1000}, {k10MiB - H, H}}},
    // VirtualSize 0x10 rounds up to the section alignment, 0x1000.
    {"entry_in_rounded_virtual_size",
     SectionAt(0x300000, 0x1000, 0x10).EntryPoint(0x1FFF),
     k10MiB,
     {{0, H}, {0x300FFF - H, 2 * H + 1}, {0x300000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x300FFF - H, 2 * H + 1}, {k10MiB - H, H}}},
    // VirtualAddress 0x1800 rounds down to 0x1000, where the raw data starts.
    {"entry_at_rounded_virtual_address",
     SectionAt(0x300000, 0x1000, 0x1000).SectionVirtualAddress(0, 0x1800).EntryPoint(0x1000),
     k10MiB,
     {{0, H}, {0x300000 - H, 2 * H + 1}, {0x300000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x300000 - H, 2 * H + 1}, {k10MiB - H, H}}},
    // Section 0 holds the entry point virtually but has no raw data (or none in the buffer);
    // section 1 covers the same addresses and is taken.
    {"entry_skips_section_without_raw_data",
     SectionAt(0x200000, 0, 0x1000)
         .AddSection(".b", 0x200)
         .SectionVirtualAddress(1, 0x1000)
         .SectionRawPointer(1, 0x600000)
         .SectionRawSize(1, 0x1000)
         .EntryPoint(0x1100),
     k10MiB,
     {{0, H}, {0x600100 - H, 2 * H + 1}, {0x600000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x600100 - H, 2 * H + 1}, {k10MiB - H, H}}},
    {"entry_skips_section_past_the_end",
     SectionAt(k10MiB, 0x1000, 0x1000)
         .AddSection(".b", 0x200)
         .SectionVirtualAddress(1, 0x1000)
         .SectionRawPointer(1, 0x600000)
         .SectionRawSize(1, 0x1000)
         .EntryPoint(0x1100),
     k10MiB,
     {{0, H}, {0x600100 - H, 2 * H + 1}, {0x600000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x600100 - H, 2 * H + 1}, {k10MiB - H, H}}},
    // Raw data beyond the end of the buffer, with the entry point in its virtual range: the
    // entry position lies more than H bytes past the end, so nothing is around it.
    {"entry_far_past_the_end_gets_no_window",
     SectionAt(2 * kMiB - 0x200, 0x200, 0x200000).EntryPoint(0x1000 + 0x100000),
     2 * kMiB,
     {{0, H}, {2 * kMiB - H, H}},
     {{0, H}, {2 * kMiB - H, H}}},
    {"entry_just_past_the_end_keeps_the_rest",
     SectionAt(2 * kMiB - 0x200, 0x200, 0x200000).EntryPoint(0x1000 + 0x200 + H - 1),
     2 * kMiB,
     {{0, H}, {2 * kMiB - 1, 1}, {2 * kMiB - H, H}},
     {{0, H}, {2 * kMiB - H, H}}},
    // The section ends exactly at the end of the buffer, which its rounded size would pass.
    {"section_ending_the_file_keeps_its_unpadded_size",
     SectionAt(0x150000, 0xB0100, 0xB0100).EntryPoint(kEntryInHeaders),
     0x200100,
     {{0, H}, {0x150000, 0x30100}, {0x200100 - H, H}},
     {{0, H}, {0x150000, 0xB0100}}},
    {"section_ending_the_file_over_1mib",
     SectionAt(0x100000, 0x100100, 0x100100).EntryPoint(kEntryInHeaders),
     0x200100,
     {{0, H}, {0x100000, H}, {0x200100 - H, H}},
     {{0, H}, {0x100000, H}, {0x200100 - H, H}}},
    {"padded_section_past_the_end_is_skipped",
     SectionAt(0x150000, 0xB0080, 0xB0080).EntryPoint(kEntryInHeaders),
     0x200100,
     {{0, H}, {0x200100 - H, H}},
     {{0, H}, {0x200100 - H, H}}},
    {"section_pointer_rounds_down_to_file_alignment",
     SectionAt(0x300123, 0xF00, 0x1000).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {0x300000, 0x1000}, {k10MiB - H, H}},
     {{0, H}, {0x300000, 0x1000}, {k10MiB - H, H}}},
    {"section_inside_the_head_is_clipped_off",
     SectionAt(0x40000, 0x80000, 0x80000).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {H, 0x40000}, {k10MiB - H, H}},
     {{0, H + 0x40000}, {k10MiB - H, H}}},
    {"section_of_exactly_1mib_is_one_window",
     SectionAt(0x300000, kMiB, kMiB).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {0x300000, kMiB}, {k10MiB - H, H}},
     {{0, H}, {0x300000, kMiB}, {k10MiB - H, H}}},
    {"section_just_over_1mib_is_two_windows",
     SectionAt(0x300000, kMiB + 1, kMiB).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {0x300000, H}, {0x300000 + kMiB + 0x200 - H, H}, {k10MiB - H, H}},
     {{0, H}, {0x300000, H}, {0x300000 + kMiB + 0x200 - H, H}, {k10MiB - H, H}}},
    {"section_with_negative_pointer_is_skipped",
     SectionAt(0x80000000, 0x1000, 0x1000).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {k10MiB - H, H}},
     {{0, H}, {k10MiB - H, H}}},
    {"section_running_past_the_end_is_skipped",
     SectionAt(k10MiB - 0x1000, 0x1200, 0x1200).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {k10MiB - H, H}},
     {{0, H}, {k10MiB - H, H}}},
    // SizeOfRawData 0xFFFFFFFF reads as -1, which the signed rounding takes up to 512.
    {"raw_size_all_ones_rounds_to_one_alignment",
     SectionAt(0x300000, 0xFFFFFFFF, 0x1000).EntryPoint(kEntryInHeaders),
     k10MiB,
     {{0, H}, {0x300000, 0x200}, {k10MiB - H, H}},
     {{0, H}, {0x300000, 0x200}, {k10MiB - H, H}}},
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

class SelectWindowRangesForImage : public testing::TestWithParam<ImageCase> {};

TEST_P(SelectWindowRangesForImage, GivesTheExpectedWindows) {
  const ImageCase& c = GetParam();
  const ParsedImage image(c.image);
  ASSERT_EQ(image.Result(), fileinfo::LoadResult::kOk);
  const Ranges selected = SelectWindowRanges(c.size, &image.Image());
  EXPECT_EQ(Sorted(selected), Sorted(c.selected));
  EXPECT_EQ(MergeWindowRanges(selected), c.merged);
}

INSTANTIATE_TEST_SUITE_P(Images, SelectWindowRangesForImage, testing::ValuesIn(kImageCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(MergeWindowRanges, JoinsOverlappingAndTouchingRangesInAscendingOrder) {
  struct Case {
    const char* name;
    Ranges in;
    Ranges expected;
  };
  const Case cases[] = {
      {"touching", {{0, 10}, {10, 10}}, {{0, 20}}},
      {"touching_reversed", {{10, 10}, {0, 10}}, {{0, 20}}},
      {"one_byte_apart", {{0, 10}, {11, 10}}, {{0, 10}, {11, 10}}},
      {"overlapping", {{5, 10}, {0, 8}}, {{0, 15}}},
      {"nested", {{0, 100}, {10, 5}, {20, 80}}, {{0, 100}}},
      {"duplicates", {{7, 3}, {7, 3}, {7, 3}}, {{7, 3}}},
      {"chain", {{30, 10}, {0, 10}, {20, 10}, {10, 10}}, {{0, 40}}},
      {"unordered_disjoint", {{300, 1}, {100, 1}, {200, 1}}, {{100, 1}, {200, 1}, {300, 1}}},
      {"empty_buffer", {{0, 0}}, {{0, 0}}},
      {"empty_range_at_an_end", {{10, 0}, {0, 10}}, {{0, 10}}},
      {"empty_range_inside", {{0, 10}, {5, 0}}, {{0, 10}}},
      {"nothing", {}, {}},
      {"top_of_32_bits", {{INT32_MAX - 10, 10}, {INT32_MAX - 20, 10}}, {{INT32_MAX - 20, 20}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MergeWindowRanges(c.in), c.expected);
  }
}

TEST(SelectScanWindows, PointsIntoTheBufferAtTheMergedRanges) {
  const ParsedImage image(SectionAt(0x100000, 0x1000, 0x1000).EntryPoint(0x1000));
  ASSERT_EQ(image.Result(), fileinfo::LoadResult::kOk);
  const std::vector<uint8_t> buffer(3 * kMiB);
  const int32_t size = static_cast<int32_t>(buffer.size());
  const std::vector<ScanWindow> windows = SelectScanWindows(buffer.data(), size, &image.Image());
  const Ranges merged = MergeWindowRanges(SelectWindowRanges(size, &image.Image()));
  ASSERT_EQ(merged, (Ranges{{0, 0x100000 + H + 1}, {size - H, H}}));
  ASSERT_EQ(windows.size(), merged.size());
  for (size_t i = 0; i < windows.size(); ++i) {
    EXPECT_EQ(windows[i].start, buffer.data() + merged[i].offset);
    EXPECT_EQ(windows[i].length, merged[i].length);
  }

  const std::vector<ScanWindow> empty = SelectScanWindows(nullptr, 0, nullptr);
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0].start, nullptr);
  EXPECT_EQ(empty[0].length, 0);
}

// Header fields a hostile file may carry: the edges of the signed and unsigned ranges, sizes
// near the buffer size and values that are no power of two.
uint32_t HostileValue(std::mt19937& rng, int32_t size) {
  const uint32_t special[] = {0,
                              1,
                              0x1FF,
                              0x200,
                              0x1000,
                              0x7FFFFFFF,
                              0x80000000,
                              0x80000001,
                              0xFFFFFFFF,
                              0xFFFFFE00,
                              0xFFFFF000,
                              0x7FFFFE00,
                              0x3,
                              0x300,
                              0x12345,
                              static_cast<uint32_t>(size),
                              static_cast<uint32_t>(size) - 1,
                              static_cast<uint32_t>(size) - H,
                              static_cast<uint32_t>(size) + H,
                              static_cast<uint32_t>(size) / 2};
  const uint32_t pick = static_cast<uint32_t>(rng());
  const uint32_t value = static_cast<uint32_t>(rng());
  switch (pick % 3) {
    case 0:
      return special[value % std::size(special)];
    case 1:
      return value;
    default:
      return value % (static_cast<uint32_t>(size) + 2 * kMiB);
  }
}

// The parse refuses alignments of 0.
uint32_t NonZero(uint32_t v) { return v == 0 ? 0x200 : v; }

TEST(SelectWindowRanges, NeverLeavesTheBufferWhateverTheHeadersSay) {
  std::string debugText;
  platform::SetDebugOutputSink([&](const std::string& text) { debugText += text; });
  const int32_t sizes[] = {kMiB + 1, 2000000, k10MiB, 0x7FFFF000, INT32_MAX};
  constexpr uint32_t kSeed = 20240611;
  std::mt19937 rng(kSeed);
  constexpr int kRounds = 3000;
  for (int round = 0; round < kRounds; ++round) {
    const int32_t size = sizes[rng() % std::size(sizes)];
    PeBuilder b = PeBuilder().SectionCount(3).EntryPoint(HostileValue(rng, size));
    // The alignments are poked into the fields: as layout inputs they would grow the image.
    const uint32_t opt = b.OptionalHeaderAt();
    b.PokeU32(opt + 32, NonZero(HostileValue(rng, size)));  // SectionAlignment
    b.PokeU32(opt + 36, NonZero(HostileValue(rng, size)));  // FileAlignment
    for (uint32_t i = 0; i < 3; ++i) {
      b.SectionRawPointer(i, HostileValue(rng, size))
          .SectionRawSize(i, HostileValue(rng, size))
          .SectionVirtualAddress(i, HostileValue(rng, size))
          .SectionVirtualSize(i, HostileValue(rng, size));
    }
    const ParsedImage image(b);
    ASSERT_EQ(image.Result(), fileinfo::LoadResult::kOk);
    SCOPED_TRACE(testing::Message() << "seed " << kSeed << " round " << round << " size " << size);

    const Ranges selected = SelectWindowRanges(size, &image.Image());
    for (const WindowRange& r : selected) {
      ASSERT_GE(r.offset, 0) << testing::PrintToString(r);
      ASSERT_GE(r.length, 0) << testing::PrintToString(r);
      ASSERT_LE(int64_t{r.offset} + r.length, size) << testing::PrintToString(r);
    }
    const Ranges merged = MergeWindowRanges(selected);
    ASSERT_FALSE(merged.empty());
    for (size_t i = 0; i < merged.size(); ++i) {
      ASSERT_GE(merged[i].offset, 0);
      ASSERT_GT(merged[i].length, 0);
      ASSERT_LE(int64_t{merged[i].offset} + merged[i].length, size);
      if (i > 0) {
        ASSERT_GT(merged[i].offset, merged[i - 1].offset + merged[i - 1].length);
      }
    }
    // Every selected range lies inside one merged range.
    for (const WindowRange& r : selected) {
      ASSERT_TRUE(std::any_of(merged.begin(), merged.end(), [&](const WindowRange& m) {
        return m.offset <= r.offset && int64_t{r.offset} + r.length <= int64_t{m.offset} + m.length;
      })) << testing::PrintToString(r);
    }
    const std::optional<int64_t> entry = EntryFilePosition(image.Image(), size);
    if (entry) {
      ASSERT_GE(*entry, 0);
    }
  }
  platform::SetDebugOutputSink(nullptr);
  EXPECT_EQ(debugText, "");
}

}  // namespace
}  // namespace engine

#include "fileinfo/hash_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "fileinfo/md5.h"
#include "fileinfo/sha1.h"
#include "tests/support/guarded_bytes.h"
#include "tests/support/pe_builder.h"

namespace fileinfo {
namespace {

using support::GuardedBytes;
using support::PeBuilder;

using Names = std::vector<std::string>;

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// The default image (headers to 0x200, ".text" at 0x200) with ".data" at 0x400 and ".rsrc" at
// 0x600, each of 0x200 bytes of its own; 0x800 bytes in all.
PeBuilder ThreeSections(uint32_t seed = 1) {
  return PeBuilder()
      .SectionBytes(0, 0, RandomBytes(0x200, seed))
      .AddSection(".data", 0x200)
      .SectionBytes(1, 0, RandomBytes(0x200, seed + 1))
      .AddSection(".rsrc", 0x200)
      .SectionBytes(2, 0, RandomBytes(0x200, seed + 2));
}

// A file parsed as the scan parses it. The lookup is handed a copy that ends at a page it may
// not touch, so hashing one byte past the end faults in every build.
class File {
 public:
  explicit File(const PeBuilder& builder) : bytes_(builder.Bytes()), guarded_(bytes_) {
    parsed_ = image_.ParseHeaders(bytes_) == LoadResult::kOk;
  }
  bool Ready() const { return parsed_ && guarded_.Valid(); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::span<const uint8_t> Range(uint32_t offset, uint32_t length) const {
    return std::span(bytes_).subspan(offset, length);
  }
  int32_t Size() const { return static_cast<int32_t>(bytes_.size()); }
  GuardedBytes& Guarded() { return guarded_; }

  Names Lookup(HashStore& store, const std::atomic<int32_t>* stop = nullptr,
               bool withImage = true) {
    return LookupHashes(store, guarded_.Data(), Size(), withImage ? &image_ : nullptr, stop);
  }

 private:
  std::vector<uint8_t> bytes_;
  GuardedBytes guarded_;
  PeImage image_;
  bool parsed_ = false;
};

// A record for the MD5 of `bytes`, with the size of `bytes` unless told otherwise.
bool Add(HashStore& store, std::span<const uint8_t> bytes, const char* name,
         std::optional<uint32_t> size = std::nullopt,
         std::optional<Sha1Digest> sha1 = std::nullopt) {
  return store.AddRecord(Md5Buffer(bytes), sha1, size.value_or(static_cast<uint32_t>(bytes.size())),
                         name);
}

TEST(LookupHashes, GivesWholeFileNamesFirstThenSectionsInSectionOrder) {
  // Two images with the section contents of .text and .rsrc swapped: in one of them the later
  // section's digest sorts first in the store, so store order alone cannot give section order.
  for (const bool swapped : {false, true}) {
    SCOPED_TRACE(swapped);
    const std::vector<uint8_t> a = RandomBytes(0x200, 11);
    const std::vector<uint8_t> b = RandomBytes(0x200, 12);
    File file(
        ThreeSections().SectionBytes(0, 0, swapped ? b : a).SectionBytes(2, 0, swapped ? a : b));
    ASSERT_TRUE(file.Ready());
    HashStore store("nolvexa_test");
    ASSERT_TRUE(Add(store, file.Range(0x600, 0x200), "Rsrc"));
    ASSERT_TRUE(Add(store, file.Range(0x200, 0x200), "Text"));
    ASSERT_TRUE(Add(store, file.Bytes(), "Whole"));
    ASSERT_TRUE(Add(store, file.Range(0x200, 0x200), "Text2"));
    // Not finalized: the lookup does it on first use.
    EXPECT_EQ(file.Lookup(store), (Names{"Whole", "Text", "Text2", "Rsrc"}));
    EXPECT_FALSE(Add(store, file.Bytes(), "Late"));  // finalized now
    EXPECT_EQ(file.Lookup(store), (Names{"Whole", "Text", "Text2", "Rsrc"}));
  }
}

TEST(LookupHashes, GivesEachMatchingRecordOfOneDigestInStoreOrder) {
  File file(ThreeSections());
  ASSERT_TRUE(file.Ready());
  HashStore store("nolvexa_test");
  const std::span<const uint8_t> data = file.Range(0x400, 0x200);
  ASSERT_TRUE(Add(store, data, "First"));
  ASSERT_TRUE(Add(store, data, "Second", std::nullopt, Sha1Buffer(data)));
  ASSERT_TRUE(Add(store, data, "WrongSize", 0x1FF));
  ASSERT_TRUE(Add(store, data, "Third"));
  store.FinalizeStore();
  EXPECT_EQ(file.Lookup(store), (Names{"First", "Second", "Third"}));
}

TEST(LookupHashes, MatchesOnlyAllOfDigestSizeAndSha1) {
  File file(ThreeSections());
  ASSERT_TRUE(file.Ready());
  const std::span<const uint8_t> section = file.Range(0x400, 0x200);
  const Md5Digest md5 = Md5Buffer(section);
  Sha1Digest sha1 = Sha1Buffer(section);
  Sha1Digest sha1Flipped = sha1;
  sha1Flipped[19] ^= 1;
  auto md5Changed = [&](size_t byte) {
    Md5Digest d = md5;
    d[byte] ^= 0x80;
    return d;
  };
  struct Case {
    const char* name;
    Md5Digest md5;
    std::optional<Sha1Digest> sha1;
    uint32_t size;
    bool matches;
  };
  const Case cases[] = {
      {"digest_and_size", md5, std::nullopt, 0x200, true},
      {"with_sha1", md5, sha1, 0x200, true},
      {"wrong_sha1", md5, sha1Flipped, 0x200, false},
      {"sha1_of_the_whole_file", md5, Sha1Buffer(file.Bytes()), 0x200, false},
      // The size table holds 0x200 through the other sections, so only the record's size differs.
      {"size_one_less", md5, std::nullopt, 0x1FF, false},
      {"size_of_the_file", md5, std::nullopt, 0x800, false},
      {"word_0_differs", md5Changed(3), std::nullopt, 0x200, false},
      {"word_1_differs", md5Changed(4), std::nullopt, 0x200, false},
      {"word_3_differs", md5Changed(15), std::nullopt, 0x200, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HashStore store("nolvexa_test");
    ASSERT_TRUE(store.AddRecord(c.md5, c.sha1, c.size, "Hit"));
    // Records on either side with the same key keep the run of candidates longer than one.
    Md5Digest neighbour = c.md5;
    neighbour[15] ^= 0x01;
    ASSERT_TRUE(store.AddRecord(neighbour, std::nullopt, c.size, "Neighbour"));
    neighbour[15] ^= 0x03;
    ASSERT_TRUE(store.AddRecord(neighbour, std::nullopt, c.size, "Neighbour"));
    ASSERT_TRUE(Add(store, file.Range(0x200, 0x200), "Text"));
    EXPECT_EQ(file.Lookup(store), c.matches ? (Names{"Text", "Hit"}) : (Names{"Text"}));
  }
}

TEST(LookupHashes, LooksUpOnlyTheWholeFileWithoutParsedHeaders) {
  File file(ThreeSections());
  ASSERT_TRUE(file.Ready());
  HashStore store("nolvexa_test");
  ASSERT_TRUE(Add(store, file.Bytes(), "Whole"));
  ASSERT_TRUE(Add(store, file.Range(0x400, 0x200), "Data"));
  EXPECT_EQ(file.Lookup(store, nullptr, /*withImage=*/false), (Names{"Whole"}));
  PeImage unparsed;
  EXPECT_EQ(LookupHashes(store, file.Guarded().Data(), file.Size(), &unparsed, nullptr),
            (Names{"Whole"}));
  EXPECT_EQ(file.Lookup(store), (Names{"Whole", "Data"}));
}

TEST(LookupHashes, HashesTheLastSectionUpToTheEndOfTheFileOnly) {
  // ".rsrc" holds 0x180 bytes at 0x600; the file ends right after them or at the padded end.
  struct Case {
    const char* name;
    uint32_t fileSize;
    uint32_t hashedLength;
  };
  const Case cases[] = {
      {"ends_at_the_end_of_the_file", 0x780, 0x180},
      {"padded_in_the_file", 0x800, 0x200},
      {"padding_beyond_the_raw_data", 0x900, 0x200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    File file(ThreeSections().SectionRawSize(2, 0x180).FileSize(c.fileSize));
    ASSERT_TRUE(file.Ready());
    HashStore store("nolvexa_test");
    // The section record carries SizeOfRawData whatever length was hashed.
    ASSERT_TRUE(Add(store, file.Range(0x600, c.hashedLength), "Rsrc", 0x180));
    ASSERT_TRUE(Add(store, file.Range(0x600, 0x180), "Unpadded", 0x180));
    EXPECT_EQ(file.Lookup(store),
              c.hashedLength == 0x180 ? (Names{"Rsrc", "Unpadded"}) : (Names{"Rsrc"}));
  }
}

TEST(LookupHashes, SkipsSectionsOutsideTheFileAndGoesOn) {
  // Each case moves or resizes ".data"; ".text" and ".rsrc" keep the contents they have here.
  const std::vector<uint8_t> reference = ThreeSections().Bytes();
  const std::span<const uint8_t> text = std::span(reference).subspan(0x200, 0x200);
  const std::span<const uint8_t> rsrc = std::span(reference).subspan(0x600, 0x200);
  struct Case {
    const char* name;
    PeBuilder image;
    Names expected;
  };
  const Case cases[] = {
      {"starts_at_the_end", ThreeSections().SectionRawPointer(1, 0x800), {"Text", "Rsrc"}},
      {"starts_past_the_end", ThreeSections().SectionRawPointer(1, 0x10000), {"Text", "Rsrc"}},
      {"runs_past_the_end",
       ThreeSections().SectionRawPointer(1, 0x600).SectionRawSize(1, 0x300),
       {"Text", "Rsrc"}},
      {"ends_one_byte_past_the_end",
       ThreeSections().SectionRawPointer(1, 0x600).SectionRawSize(1, 0x201),
       {"Text", "Rsrc"}},
      // The file ends 0x80 bytes into ".rsrc", so that goes as well.
      {"padding_runs_past_the_end",
       ThreeSections().SectionRawPointer(1, 0x600).SectionRawSize(1, 0x100).FileSize(0x780),
       {"Text"}},
      {"pointer_negative", ThreeSections().SectionRawPointer(1, 0xFFFFFE00), {"Text", "Rsrc"}},
      {"size_negative", ThreeSections().SectionRawSize(1, 0xFFFFFE00), {"Text", "Rsrc"}},
      {"size_zero", ThreeSections().SectionRawSize(1, 0), {"Text", "Rsrc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    File file(c.image);
    ASSERT_TRUE(file.Ready());
    const SectionHeader data = [&] {
      PeImage pe;
      EXPECT_EQ(pe.ParseHeaders(file.Bytes()), LoadResult::kOk);
      return pe.Sections()[1];
    }();
    HashStore store("nolvexa_test");
    ASSERT_TRUE(Add(store, text, "Text"));
    ASSERT_TRUE(Add(store, rsrc, "Rsrc"));
    // What a lookup that cut ".data" to the file, or hashed nothing for it, would find.
    const uint64_t size = file.Bytes().size();
    const uint64_t start = data.pointerToRawData / 0x200 * 0x200;
    for (const uint64_t length : {uint64_t{0}, uint64_t{data.sizeOfRawData},
                                  (uint64_t{data.sizeOfRawData} + 0x1FF) / 0x200 * 0x200}) {
      if (start > size) continue;
      // Both fit size_t: start is at most the file's size, and so is the cut length.
      const std::span<const uint8_t> cut =
          std::span(file.Bytes())
              .subspan(static_cast<size_t>(start),
                       static_cast<size_t>(std::min(length, size - start)));
      ASSERT_TRUE(Add(store, cut, "Cut", data.sizeOfRawData));
    }
    EXPECT_EQ(file.Lookup(store), c.expected);
  }
}

TEST(LookupHashes, ReadsNoByteWhenNoSizeIsInTheTable) {
  File file(ThreeSections());
  ASSERT_TRUE(file.Ready());
  ASSERT_TRUE(file.Guarded().Seal());  // any read of the file's bytes faults from now on
  {
    HashStore empty("nolvexa_test");
    EXPECT_EQ(file.Lookup(empty), Names{});
  }
  // Records of every size but the file's (0x800) and the sections' (0x200).
  HashStore store("nolvexa_test");
  const std::vector<uint8_t> other = RandomBytes(0x800, 5);
  for (const uint32_t size : {0u, 0x1FFu, 0x201u, 0x7FFu, 0x801u, 0xFFFFFFFFu}) {
    ASSERT_TRUE(store.AddRecord(Md5Buffer(other), std::nullopt, size, "Other"));
  }
  EXPECT_EQ(file.Lookup(store), Names{});
}

TEST(LookupHashes, EndsWithNothingFoundWhenAskedToStop) {
  File file(ThreeSections());
  ASSERT_TRUE(file.Ready());
  HashStore store("nolvexa_test");
  ASSERT_TRUE(Add(store, file.Bytes(), "Whole"));
  ASSERT_TRUE(Add(store, file.Range(0x200, 0x200), "Text"));
  for (const int32_t value : {1, -1, 0x7FFFFFFF}) {
    SCOPED_TRACE(value);
    const std::atomic<int32_t> stop{value};
    EXPECT_EQ(file.Lookup(store, &stop), Names{});
  }
  const std::atomic<int32_t> go{0};
  EXPECT_EQ(file.Lookup(store, &go), (Names{"Whole", "Text"}));
  EXPECT_EQ(file.Lookup(store, nullptr), (Names{"Whole", "Text"}));
}

TEST(LookupHashes, TakesANegativeSizeAsNoBytes) {
  File file(ThreeSections());
  ASSERT_TRUE(file.Ready());
  ASSERT_TRUE(file.Guarded().Seal());
  HashStore store("nolvexa_test");
  // A size read as unsigned would be in the table and the hash would run off the end.
  ASSERT_TRUE(store.AddRecord(Md5Buffer({}), std::nullopt, 0xFFFFFFFF, "Negative"));
  EXPECT_EQ(LookupHashes(store, file.Guarded().Data(), -1, nullptr, nullptr), Names{});
}

TEST(SectionHashBytes, AlignsAndKeepsTheRangeInsideTheFile) {
  struct Case {
    const char* name;
    uint32_t pointer, rawSize, alignment;
    int32_t fileSize;
    std::optional<SectionBytes> expected;
  };
  constexpr int32_t kMax = 0x7FFFFFFF;
  const Case cases[] = {
      {"aligned", 0x400, 0x200, 0x200, 0x800, SectionBytes{0x400, 0x200}},
      {"pointer_aligned_down", 0x4FF, 0x200, 0x200, 0x800, SectionBytes{0x400, 0x200}},
      {"size_aligned_up", 0x400, 0x101, 0x200, 0x800, SectionBytes{0x400, 0x200}},
      {"last_unpadded_at_the_end", 0x400, 0x101, 0x200, 0x501, SectionBytes{0x400, 0x101}},
      {"unaligned_pointer_at_the_end", 0x410, 0x101, 0x200, 0x501, SectionBytes{0x400, 0x101}},
      {"ends_before_the_end_padding_past_it", 0x400, 0x101, 0x200, 0x502, std::nullopt},
      {"alignment_0_as_512", 0x4FF, 0x101, 0, 0x800, SectionBytes{0x400, 0x200}},
      {"alignment_0_last_section", 0x410, 0x101, 0, 0x501, SectionBytes{0x400, 0x101}},
      {"alignment_1", 0x401, 0x101, 1, 0x800, SectionBytes{0x401, 0x101}},
      {"alignment_not_a_power_of_two", 700, 100, 300, 2000, SectionBytes{600, 300}},
      {"alignment_negative_as_its_magnitude", 0x4FF, 0x101, 0xFFFFFE00, 0x800,
       SectionBytes{0x400, 0x200}},
      {"alignment_2_pow_31", 0x4FF, 0x101, 0x80000000, 0x800, std::nullopt},
      {"alignment_2_pow_31_whole_file", 0x4FF, 0x800, 0x80000000, 0x800, SectionBytes{0, 0x800}},
      {"size_zero", 0x400, 0, 0x200, 0x800, std::nullopt},
      {"starts_at_the_end", 0x800, 0x200, 0x200, 0x800, std::nullopt},
      {"past_the_end", 0x600, 0x400, 0x200, 0x800, std::nullopt},
      {"empty_file", 0, 0x200, 0x200, 0, std::nullopt},
      {"pointer_negative", 0xFFFFFFFF, 0x200, 0x200, 0x800, std::nullopt},
      // 32-bit arithmetic overflows here; the results stay exact.
      {"aligned_end_is_2_pow_31", 0x7FFFFE00, 0x1FF, 0x200, kMax, SectionBytes{0x7FFFFE00, 0x1FF}},
      {"aligned_end_is_2_pow_31_not_at_the_end", 0x7FFFFE00, 0x1FE, 0x200, kMax, std::nullopt},
      {"size_aligns_to_2_pow_31", 0, 0x7FFFFF01, 0x200, 0x7FFFFF01, SectionBytes{0, 0x7FFFFF01}},
      {"size_aligns_to_2_pow_31_short_file", 0, 0x7FFFFF01, 0x200, kMax, std::nullopt},
      {"pointer_and_size_wrap_to_the_end", 0x80000400, 0x80000400, 0x200, 0x800, std::nullopt},
      // Read as signed, these sizes align to a length of 0 or below, which a check of the
      // range's end alone lets through.
      {"size_negative", 0x400, 0xFFFFFE00, 0x200, 0x800, std::nullopt},
      {"size_negative_aligns_to_0", 0x400, 0xFFFFFF9C, 0x200, 0x800, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SectionHeader s;
    s.pointerToRawData = c.pointer;
    s.sizeOfRawData = c.rawSize;
    const std::optional<SectionBytes> got = SectionHashBytes(s, c.alignment, c.fileSize);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_EQ(got->offset, c.expected->offset);
      EXPECT_EQ(got->length, c.expected->length);
    }
  }
}

}  // namespace
}  // namespace fileinfo

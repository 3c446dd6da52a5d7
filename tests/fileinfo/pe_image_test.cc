#include "fileinfo/pe_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/pe_builder.h"
#include "tests/support/scratch_file.h"

namespace fileinfo {
namespace {

using support::PeBuilder;
using support::ScratchFile;

constexpr uint32_t kOpt = PeBuilder::kDefaultNtOffset + 24;  // optional header of the default

struct HeaderCase {
  const char* name;
  PeBuilder image;
  LoadResult expected;
  const wchar_t* status;
};

const HeaderCase kHeaderCases[] = {
    {"default", PeBuilder(), LoadResult::kOk, L"OK"},
    {"swapped_magic", PeBuilder().DosMagic("ZM"), LoadResult::kOk, L"OK"},
    {"bad_magic", PeBuilder().DosMagic("MX"), LoadResult::kNotPe32, L"'MZ' header invalid!"},
    {"garbage_nt_signature", PeBuilder().NtSignature(0xDEADBEEF), LoadResult::kOk, L"OK"},
    {"rva_count_32", PeBuilder().RvaCount(32), LoadResult::kOk, L"OK"},
    {"rva_count_33", PeBuilder().RvaCount(33), LoadResult::kNotPe32, L"Nothing Loaded"},
    {"rva_count_max", PeBuilder().RvaCount(0xFFFFFFFF), LoadResult::kNotPe32, L"Nothing Loaded"},
    {"sections_0", PeBuilder().SectionCount(0), LoadResult::kOk, L"OK"},
    {"sections_96", PeBuilder().SectionCount(96), LoadResult::kOk, L"OK"},
    {"sections_97", PeBuilder().SectionCount(97), LoadResult::kNotPe32, L"Too many sections"},
    {"optional_header_96", PeBuilder().SizeOfOptionalHeader(96), LoadResult::kOk, L"OK"},
    {"optional_header_0_no_sections", PeBuilder().SizeOfOptionalHeader(0).SectionCount(0),
     LoadResult::kOk, L"OK"},
    {"pe32_plus", PeBuilder().Pe32Plus(), LoadResult::kPe32Plus, L"PE64 is not supported"},
    {"pe32_plus_fields_cut", PeBuilder().Pe32Plus().FileSize(kOpt + 28 + 87), LoadResult::kNotPe32,
     L"Couldn't read Optional Header PE32+ fields"},
    {"pe32_plus_fields_exact", PeBuilder().Pe32Plus().FileSize(kOpt + 28 + 88),
     LoadResult::kPe32Plus, L"PE64 is not supported"},
    {"pe32_fields_cut", PeBuilder().FileSize(kOpt + 28 + 67), LoadResult::kNotPe32,
     L"Couldn't read Optional Header PE32 fields"},
    {"standard_fields_cut", PeBuilder().FileSize(kOpt + 27), LoadResult::kNotPe32,
     L"Couldn't read Optional Header Standard Fields"},
    {"coff_header_cut", PeBuilder().FileSize(kOpt - 1), LoadResult::kNotPe32,
     L"Couldn't read COFF header"},
    {"coff_offset_cut", PeBuilder().FileSize(63), LoadResult::kNotPe32,
     L"Couldn't read COFF header offset"},
    {"one_byte", PeBuilder().FileSize(1), LoadResult::kNotPe32, L"Couldn't read 'MZ' header!"},
    {"optional_magic_107", PeBuilder().OptionalMagic(0x107), LoadResult::kNotPe32,
     L"Invalid Optional header Magic Number: 0x0107"},
    {"optional_magic_abcd", PeBuilder().OptionalMagic(0xABCD), LoadResult::kNotPe32,
     L"Invalid Optional header Magic Number: 0xABCD"},
    {"file_alignment_0", PeBuilder().FileAlignment(0), LoadResult::kNotPe32,
     L"FileAlignment is zero"},
    {"section_alignment_0", PeBuilder().SectionAlignment(0), LoadResult::kNotPe32,
     L"SectionAlignment is zero"},
    {"both_alignments_0", PeBuilder().FileAlignment(0).SectionAlignment(0), LoadResult::kNotPe32,
     L"FileAlignment is zero"},
    // Directory 3 of 16 starts at optional-header offset 112 and is cut one byte short.
    {"directory_cut", PeBuilder().FileSize(kOpt + 96 + 2 * 8 + 7), LoadResult::kNotPe32,
     L"Couldn't read data directory 3/16"},
    // The table check comes after the directories and the section count.
    {"section_table_cut", PeBuilder().SectionCount(2).FileSize(kOpt + 224 + 2 * 40 - 1),
     LoadResult::kNotPe32, L"Couldn't read section table"},
    {"section_table_far_away", PeBuilder().SizeOfOptionalHeader(0xFFFF).FileSize(0x1000),
     LoadResult::kNotPe32, L"Couldn't read section table"},
    {"no_sections_far_away",
     PeBuilder().SizeOfOptionalHeader(0xFFFF).SectionCount(0).FileSize(0x1000), LoadResult::kOk,
     L"OK"},
    {"nt_offset_past_end", PeBuilder().PokeU32(60, 0x10000), LoadResult::kNotPe32,
     L"Couldn't read COFF header"},
    {"nt_offset_0xfffffff0", PeBuilder().PokeU32(60, 0xFFFFFFF0), LoadResult::kNotPe32,
     L"Couldn't read COFF header"},
    // The count claims 96 sections, but the table of 3840 bytes runs past the file's end.
    {"sections_96_table_past_the_end", PeBuilder().PokeU16(PeBuilder::kDefaultNtOffset + 6, 96),
     LoadResult::kNotPe32, L"Couldn't read section table"},
    // The table then starts where the optional header does: its first name is read as the magic.
    {"optional_header_0_with_a_section", PeBuilder().SizeOfOptionalHeader(0), LoadResult::kNotPe32,
     L"Invalid Optional header Magic Number: 0x742E"},
    // Alignments are only divisors to the parse: any value but 0 is taken as it is.
    {"alignments_not_powers_of_two",
     PeBuilder().PokeU32(kOpt + 36, 0x300).PokeU32(kOpt + 32, 0x1001), LoadResult::kOk, L"OK"},
    {"alignments_huge", PeBuilder().PokeU32(kOpt + 36, 0xFFFFFFFF).PokeU32(kOpt + 32, 0x80000000),
     LoadResult::kOk, L"OK"},
};

class PeHeaders : public testing::TestWithParam<HeaderCase> {};

TEST_P(PeHeaders, GiveTheExpectedResultAndStatus) {
  // An exact-size heap copy lets AddressSanitizer see a read one byte too far.
  const std::vector<uint8_t> bytes = GetParam().image.Bytes();
  PeImage pe;
  EXPECT_EQ(pe.ParseHeaders(bytes), GetParam().expected);
  EXPECT_EQ(pe.StatusText(), GetParam().status);
  EXPECT_EQ(pe.HeadersParsed(), GetParam().expected == LoadResult::kOk);
}

INSTANTIATE_TEST_SUITE_P(Images, PeHeaders, testing::ValuesIn(kHeaderCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PeHeaders, RefuseEveryTruncatedPrefixAndAcceptEveryLongerOne) {
  const PeBuilder image = PeBuilder().SectionCount(3);
  const std::vector<uint8_t> full = image.Bytes();
  for (size_t size = 0; size <= full.size(); ++size) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<ptrdiff_t>(size));
    PeImage pe;
    const LoadResult result = pe.ParseHeaders(prefix);
    if (size < image.HeadersEnd()) {
      EXPECT_EQ(result, LoadResult::kNotPe32);
      EXPECT_NE(pe.StatusText(), L"OK");
      EXPECT_EQ(pe.SectionCount(), 0u);
    } else {
      EXPECT_EQ(result, LoadResult::kOk);
    }
  }
}

TEST(PeHeaders, RefuseNtOffsetsNearTheTopWithoutWrapping) {
  // In 32-bit arithmetic these offsets plus 24 would wrap to the start of the file.
  const std::vector<uint8_t> image = PeBuilder().Bytes();
  for (uint32_t back = 0; back <= 64; ++back) {
    SCOPED_TRACE(back);
    std::vector<uint8_t> bytes = image;
    const uint32_t nt = 0xFFFFFFFF - back;
    for (int k = 0; k < 4; ++k) bytes[60 + k] = static_cast<uint8_t>(nt >> (8 * k));
    PeImage pe;
    EXPECT_EQ(pe.ParseHeaders(bytes), LoadResult::kNotPe32);
    EXPECT_EQ(pe.StatusText(), L"Couldn't read COFF header");
  }
}

TEST(PeHeaders, ReadTheFieldsAtTheirOffsets) {
  const uint8_t name[] = {'.', 'd', 'a', 't', 'a', 'x', 'y', 'z'};
  const PeBuilder image = PeBuilder()
                              .AddSection(".data", 0x300)
                              .EntryPoint(0x1010)
                              .FileAlignment(0x100)
                              .SectionAlignment(0x2000)
                              .SizeOfHeaders(0x180)
                              .SectionCharacteristics(1, 0xC0000040)
                              .SectionVirtualSize(1, 0x2345);
  std::vector<uint8_t> bytes = image.Bytes();
  std::copy(std::begin(name), std::end(name), bytes.begin() + image.SectionTableAt() + 40);
  PeImage pe;
  ASSERT_EQ(pe.ParseHeaders(bytes), LoadResult::kOk);
  EXPECT_EQ(pe.NtHeaderOffset(), PeBuilder::kDefaultNtOffset);
  EXPECT_EQ(pe.SizeOfOptionalHeader(), 224);
  EXPECT_EQ(pe.EntryPoint(), 0x1010u);
  EXPECT_EQ(pe.FileAlignment(), 0x100u);
  EXPECT_EQ(pe.SectionAlignment(), 0x2000u);
  EXPECT_EQ(pe.SizeOfHeaders(), 0x180u);
  EXPECT_EQ(pe.NumberOfRvaAndSizes(), 16u);
  EXPECT_EQ(pe.DataDirectoryCount(), 16u);
  EXPECT_EQ(pe.FileSize(), bytes.size());
  ASSERT_EQ(pe.SectionCount(), 2u);
  const SectionHeader& data = pe.Sections()[1];
  EXPECT_TRUE(std::equal(data.name.begin(), data.name.end(), std::begin(name)));
  EXPECT_EQ(data.virtualSize, 0x2345u);
  EXPECT_EQ(data.virtualAddress, image.SectionRva(1));
  EXPECT_EQ(data.sizeOfRawData, 0x300u);
  EXPECT_EQ(data.pointerToRawData, image.SectionRawAt(1));
  EXPECT_EQ(data.characteristics, 0xC0000040u);
}

TEST(PeHeaders, ReadDirectoriesOnlyWhileTheyStartInsideTheOptionalHeader) {
  struct Case {
    uint16_t optionalSize;
    uint32_t rvaCount;
    uint32_t expected;
  };
  const Case cases[] = {
      {96, 16, 0},   {0, 16, 0},  {97, 16, 1}, {103, 16, 1},  {104, 16, 1},     {105, 16, 2},
      {224, 16, 16}, {224, 3, 3}, {224, 0, 0}, {352, 32, 32}, {0xFFFF, 32, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.optionalSize << " " << c.rvaCount);
    // No sections, so that a table laid over the directories changes nothing that is read.
    PeImage pe;
    ASSERT_EQ(pe.ParseHeaders(PeBuilder()
                                  .SectionCount(0)
                                  .RvaCount(c.rvaCount)
                                  .SizeOfOptionalHeader(c.optionalSize)
                                  .FileSize(0x1000)
                                  .Bytes()),
              LoadResult::kOk);
    EXPECT_EQ(pe.DataDirectoryCount(), c.expected);
    EXPECT_EQ(pe.DataDirectories().size(), c.expected);
  }
}

// The default image: headers [0, 0x200), ".text" at RVA 0x1000 with raw bytes [0x200, 0x400);
// ".data" at RVA 0x2000 with 0x300 bytes, SizeOfRawData 0x400, raw bytes [0x400, 0x800).
PeBuilder TwoSections() { return PeBuilder().AddSection(".data", 0x300).SectionRawSize(1, 0x400); }

struct RvaCase {
  const char* name;
  PeBuilder image;
  uint32_t rva;
  bool converts;
  uint32_t offset;
  uint32_t available;
};

const RvaCase kRvaCases[] = {
    {"zero_is_the_file_start", TwoSections(), 0, true, 0, 0x200},
    {"last_header_byte", TwoSections(), 0x1FF, true, 0x1FF, 1},
    {"past_headers_before_sections", TwoSections(), 0x200, false, 0, 0},
    {"section_start", TwoSections(), 0x1000, true, 0x200, 0x200},
    {"section_last_byte", TwoSections(), 0x11FF, true, 0x3FF, 1},
    {"gap_between_sections", TwoSections(), 0x1200, false, 0, 0},
    {"second_section", TwoSections(), 0x2010, true, 0x410, 0x3F0},
    {"beyond_virtual_size_within_raw", TwoSections(), 0x2300, true, 0x700, 0x100},
    {"beyond_every_section", TwoSections(), 0x2400, false, 0, 0},
    {"far_beyond", TwoSections(), 0x7FFFFFFF, false, 0, 0},
    {"end_of_last_section_at_file_end", TwoSections(), 0xFFFFFFFF, false, 0, 0},
    {"end_of_last_section_with_overlay", TwoSections().FileSize(0x900), 0xFFFFFFFF, true, 0x800,
     0x100},
    {"end_of_last_section_without_sections", PeBuilder().SectionCount(0).FileSize(0x400),
     0xFFFFFFFF, false, 0, 0},
    {"raw_data_past_the_end", TwoSections().SectionRawPointer(1, 0x10000), 0x2000, false, 0, 0},
    {"raw_data_cut_by_the_end", TwoSections().FileSize(0x600), 0x2000, true, 0x400, 0x200},
    {"address_cut_by_the_end", TwoSections().FileSize(0x600), 0x2200, false, 0, 0},
    {"raw_pointer_aligned_down", TwoSections().SectionRawPointer(0, 0x3FF), 0x1004, true, 0x204,
     0x1FC},
    {"headers_larger_than_file", TwoSections().SizeOfHeaders(0x10000), 0x500, true, 0x500, 0x300},
    {"headers_larger_than_file_past_end", TwoSections().SizeOfHeaders(0x10000), 0x800, false, 0, 0},
    {"zero_with_headers_size_0", TwoSections().SizeOfHeaders(0), 0, true, 0, 0},
    // Former faults: in 32-bit arithmetic the section's end wraps below its start.
    {"section_at_top_of_address_space",
     TwoSections().SectionVirtualAddress(1, 0xFFFFFF00).SectionRawSize(1, 0x200), 0xFFFFFF10, true,
     0x410, 0x1F0},
    // Raw pointer plus size beyond 32 bits: wrapped, the end would land inside the file.
    {"raw_end_past_4gib_not_in_file",
     TwoSections().SectionRawPointer(1, 0xFFFFFE00).SectionRawSize(1, 0x400), 0x2000, false, 0, 0},
    {"end_of_last_section_past_4gib",
     TwoSections().SectionRawPointer(1, 0xFFFFFE00).SectionRawSize(1, 0x400), 0xFFFFFFFF, false, 0,
     0},
    {"raw_size_all_ones_capped_at_file", TwoSections().SectionRawSize(1, 0xFFFFFFFF), 0x2100, true,
     0x500, 0x300},
    {"file_alignment_not_power_of_two", TwoSections().PokeU32(kOpt + 36, 0x300), 0x2010, true,
     0x310, 0x3F0},
    // Every raw pointer below the alignment rounds down to the file's first byte.
    {"file_alignment_huge", TwoSections().PokeU32(kOpt + 36, 0xFFFFFFFF), 0x2010, true, 0x10,
     0x3F0},
    {"first_qualifying_section_wins", TwoSections().SectionVirtualAddress(1, 0x1000), 0x1010, true,
     0x210, 0x1F0},
    {"unqualified_first_section_skipped",
     TwoSections().SectionVirtualAddress(1, 0x1000).SectionRawPointer(0, 0x9000), 0x1010, true,
     0x410, 0x3F0},
};

class PeRvaToOffset : public testing::TestWithParam<RvaCase> {};

TEST_P(PeRvaToOffset, ConvertsWithinHeadersAndRawData) {
  const RvaCase& c = GetParam();
  const std::vector<uint8_t> bytes = c.image.Bytes();
  PeImage pe;
  ASSERT_EQ(pe.ParseHeaders(bytes), LoadResult::kOk);
  uint32_t offset = 0xAAAAAAAA;
  uint32_t available = 0xBBBBBBBB;
  ASSERT_EQ(pe.RvaToOffset(c.rva, offset, &available), c.converts);
  if (c.converts) {
    EXPECT_EQ(offset, c.offset);
    EXPECT_EQ(available, c.available);
    EXPECT_LE(uint64_t{offset} + available, bytes.size());
    EXPECT_EQ(pe.PointerAtRva(c.rva), bytes.data() + c.offset);
  } else {
    EXPECT_EQ(offset, 0xAAAAAAAAu);  // left alone on failure
    EXPECT_EQ(available, 0xBBBBBBBBu);
    EXPECT_EQ(pe.PointerAtRva(c.rva), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Addresses, PeRvaToOffset, testing::ValuesIn(kRvaCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PeRvaToOffset, RefusesBeforeAndAfterAParse) {
  PeImage pe;
  uint32_t offset = 7;
  EXPECT_FALSE(pe.RvaToOffset(0, offset));
  EXPECT_EQ(pe.PointerAtRva(0), nullptr);

  ASSERT_EQ(pe.ParseHeaders(PeBuilder().FileAlignment(0).Bytes()), LoadResult::kNotPe32);
  EXPECT_FALSE(pe.RvaToOffset(0, offset));

  const std::vector<uint8_t> bytes = PeBuilder().Bytes();
  ASSERT_EQ(pe.ParseHeaders(bytes), LoadResult::kOk);
  EXPECT_TRUE(pe.RvaToOffset(0, offset));
  pe.Release();
  EXPECT_FALSE(pe.RvaToOffset(0, offset));
  EXPECT_EQ(pe.SectionCount(), 0u);
  EXPECT_TRUE(pe.Bytes().empty());
  EXPECT_EQ(offset, 0u);
}

struct DirectoryCase {
  const char* name;
  PeBuilder image;
  uint32_t virtualAddress, size;
  uint32_t expectedAddress, expectedSize;
};

// Directory 1 of the two-section image above (file size 0x800); the others stay empty.
const DirectoryCase kDirectoryCases[] = {
    {"empty_stays", TwoSections(), 0, 0, 0, 0},
    {"in_headers", TwoSections(), 0, 0x50, 0, 0x50},
    {"address_0_capped_at_headers", TwoSections(), 0, 0x1000, 0, 0x200},
    {"address_0_headers_0", TwoSections().SizeOfHeaders(0), 0, 0x50, 0, 0},
    {"address_0_capped_at_file", TwoSections().SizeOfHeaders(0x10000), 0, 0x5000, 0, 0x800},
    {"size_0_takes_available", TwoSections(), 0x1000, 0, 0x1000, 0x200},
    {"size_0_in_headers", TwoSections(), 0x100, 0, 0x100, 0x100},
    {"inside_section", TwoSections(), 0x1100, 0x50, 0x1100, 0x50},
    {"capped_at_section_end", TwoSections(), 0x1100, 0x500, 0x1100, 0x100},
    {"capped_at_file_end", TwoSections().FileSize(0x600), 0x2100, 0x300, 0x2100, 0x100},
    {"not_in_file", TwoSections(), 0x5000, 4, 0, 0},
    {"not_in_file_size_0", TwoSections(), 0x5000, 0, 0, 0},
    {"last_section_end_at_file_end", TwoSections(), 0xFFFFFFFF, 8, 0, 0},
    {"last_section_end_with_overlay", TwoSections().FileSize(0x900), 0xFFFFFFFF, 0x1000, 0xFFFFFFFF,
     0x100},
};

class PeDirectories : public testing::TestWithParam<DirectoryCase> {};

TEST_P(PeDirectories, AreNormalisedIntoTheFile) {
  const DirectoryCase& c = GetParam();
  PeBuilder image = c.image;
  PeImage pe;
  const std::vector<uint8_t> bytes = image.Directory(1, c.virtualAddress, c.size).Bytes();
  ASSERT_EQ(pe.ParseHeaders(bytes), LoadResult::kOk);
  ASSERT_EQ(pe.DataDirectoryCount(), 16u);
  EXPECT_EQ(pe.DataDirectories()[1].virtualAddress, c.expectedAddress);
  EXPECT_EQ(pe.DataDirectories()[1].size, c.expectedSize);
  for (uint32_t i : {0u, 2u}) {  // the neighbours stay empty
    EXPECT_EQ(pe.DataDirectories()[i].virtualAddress, 0u);
    EXPECT_EQ(pe.DataDirectories()[i].size, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Entries, PeDirectories, testing::ValuesIn(kDirectoryCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PeDirectories, EveryEntryEndsUpEmptyOrInsideTheFile) {
  std::mt19937 engine(20240611);
  const auto random = [&engine] { return static_cast<uint32_t>(engine()); };
  const uint32_t probes[] = {0,      1,      0x1FF,  0x200,  0x1000,    0x11FF,
                             0x1200, 0x2000, 0x23FF, 0x2400, 0xFFFFFFFF};
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    PeBuilder image = TwoSections().FileSize(0x600 + (random() % 0x400));
    for (uint32_t i = 0; i < 16; ++i) {
      const uint32_t address = random() % 2 ? probes[random() % std::size(probes)] : random();
      const uint32_t size = random() % 3 == 0 ? 0 : random() % 0x1000;
      image.Directory(i, address, size);
    }
    const std::vector<uint8_t> bytes = image.Bytes();
    PeImage pe;
    ASSERT_EQ(pe.ParseHeaders(bytes), LoadResult::kOk);
    for (const DataDirectory& d : pe.DataDirectories()) {
      if (d.virtualAddress == 0 && d.size == 0) continue;
      uint32_t offset = 0;
      ASSERT_TRUE(pe.RvaToOffset(d.virtualAddress, offset)) << d.virtualAddress;
      EXPECT_LE(uint64_t{offset} + d.size, bytes.size()) << d.virtualAddress;
    }
  }
}

// Load goes through the file system; these run against the real mapping of each platform.
class PeImageLoad : public testing::Test {
 protected:
  PeImage pe_;
};

TEST_F(PeImageLoad, MapsAndParsesAFile) {
  const std::vector<uint8_t> bytes = PeBuilder().SectionCount(2).Bytes();
  const ScratchFile file(bytes);
  ASSERT_TRUE(file.Written());
  ASSERT_EQ(pe_.Load(file.Path()), LoadResult::kOk);
  EXPECT_TRUE(pe_.Loaded());
  EXPECT_EQ(pe_.StatusText(), L"OK");
  EXPECT_EQ(pe_.FileName(), file.Path());
  EXPECT_EQ(pe_.FileSize(), bytes.size());
  EXPECT_EQ(pe_.SectionCount(), 2u);
  const uint8_t* first = pe_.PointerAtRva(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, pe_.Bytes().data());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), first));
  pe_.Release();
  EXPECT_FALSE(pe_.Loaded());
  EXPECT_EQ(pe_.PointerAtRva(0), nullptr);
}

TEST_F(PeImageLoad, ReportsEachRefusal) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    LoadResult expected;
    const wchar_t* status;
  };
  const Case cases[] = {
      {"empty", {}, LoadResult::kFileError, L"Couldn't create file mapping!"},
      {"pe32_plus", PeBuilder().Pe32Plus().Bytes(), LoadResult::kPe32Plus,
       L"PE64 is not supported"},
      {"sections_97", PeBuilder().SectionCount(97).Bytes(), LoadResult::kNotPe32,
       L"Too many sections"},
      {"rva_count_33", PeBuilder().RvaCount(33).Bytes(), LoadResult::kNotPe32, L"Nothing Loaded"},
      {"text", {'h', 'e', 'l', 'l', 'o'}, LoadResult::kNotPe32, L"'MZ' header invalid!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchFile file(c.bytes);
    ASSERT_TRUE(file.Written());
    // Load a good image first: a refusal must not leave any of it behind.
    const ScratchFile good(PeBuilder().Bytes());
    ASSERT_EQ(pe_.Load(good.Path()), LoadResult::kOk);
    EXPECT_EQ(pe_.Load(file.Path()), c.expected);
    EXPECT_EQ(pe_.StatusText(), c.status);
    EXPECT_EQ(pe_.FileName(), file.Path());
    EXPECT_FALSE(pe_.Loaded());
    EXPECT_FALSE(pe_.HeadersParsed());
    EXPECT_TRUE(pe_.Bytes().empty());
    EXPECT_EQ(pe_.SectionCount(), 0u);
    EXPECT_EQ(pe_.EntryPoint(), 0u);
    // The file is not held open: it can be removed at once.
    std::error_code error;
    EXPECT_TRUE(std::filesystem::remove(std::filesystem::path(file.Path()), error)) << error;
  }
}

// The drive walk lists a file and scans it later; in between it may shrink or go away.
TEST_F(PeImageLoad, TakesTheFileAsItIsWhenItChangedAfterBeingListed) {
  struct Case {
    const char* name;
    std::optional<uint32_t> cutTo;  // none: the file is removed
    LoadResult expected;
    const wchar_t* status;
  };
  const uint32_t headersEnd = PeBuilder().HeadersEnd();
  const Case cases[] = {
      {"vanished", std::nullopt, LoadResult::kFileError, L"Couldn't open file!"},
      {"emptied", 0, LoadResult::kFileError, L"Couldn't create file mapping!"},
      {"one_byte_left", 1, LoadResult::kNotPe32, L"Couldn't read 'MZ' header!"},
      {"cut_in_the_section_table", headersEnd - 1, LoadResult::kNotPe32,
       L"Couldn't read section table"},
      {"cut_in_the_section_data", 0x300, LoadResult::kOk, L"OK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchFile file(PeBuilder().Bytes());
    ASSERT_TRUE(file.Written());
    const std::filesystem::path listed(file.Path());
    std::error_code error;
    if (c.cutTo) {
      std::filesystem::resize_file(listed, *c.cutTo, error);
    } else {
      std::filesystem::remove(listed, error);
    }
    ASSERT_FALSE(error) << error;
    EXPECT_EQ(pe_.Load(file.Path()), c.expected);
    EXPECT_EQ(pe_.StatusText(), c.status);
    if (c.expected != LoadResult::kOk) continue;
    EXPECT_EQ(pe_.FileSize(), *c.cutTo);
    // Section 0's raw data [0x200, 0x400) now ends with the file.
    uint32_t offset = 0;
    uint32_t available = 0;
    ASSERT_TRUE(pe_.RvaToOffset(0x1000, offset, &available));
    EXPECT_EQ(offset, 0x200u);
    EXPECT_EQ(available, 0x100u);
    uint32_t ignored = 0;
    EXPECT_FALSE(pe_.RvaToOffset(0x1100, ignored));
    pe_.Release();
  }
}

TEST_F(PeImageLoad, EmptiesTheNameWhenTheFileCannotBeOpenedOrNamed) {
  const std::wstring missing =
      (std::filesystem::temp_directory_path() / "nolvexa_no_such_file.bin").wstring();
  EXPECT_EQ(pe_.Load(missing), LoadResult::kFileError);
  EXPECT_EQ(pe_.StatusText(), L"Couldn't open file!");
  EXPECT_EQ(pe_.FileName(), L"");

  EXPECT_EQ(pe_.Load(std::wstring(kMaxFileNameLength + 1, L'a')), LoadResult::kFileError);
  EXPECT_EQ(pe_.StatusText(), L"Filename length too long!");
  EXPECT_EQ(pe_.FileName(), L"");

  // The longest accepted name goes on to the file system, which has no such file.
  EXPECT_EQ(pe_.Load(std::wstring(kMaxFileNameLength, L'a')), LoadResult::kFileError);
  EXPECT_NE(pe_.StatusText(), L"Filename length too long!");
}

TEST_F(PeImageLoad, RefusesFilesOf4GiBOrMore) {
  const ScratchFile file(PeBuilder().Bytes());
  std::error_code error;
  // Sparse on the file systems tests run on, so this costs no disk space.
  std::filesystem::resize_file(std::filesystem::path(file.Path()), uint64_t{1} << 32, error);
  if (error) GTEST_SKIP() << "cannot make a 4 GiB file here: " << error.message();
  EXPECT_EQ(pe_.Load(file.Path()), LoadResult::kFileError);
  EXPECT_EQ(pe_.StatusText(), L"File too large!");
  EXPECT_FALSE(pe_.Loaded());
}

}  // namespace
}  // namespace fileinfo

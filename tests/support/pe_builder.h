// PeBuilder: PE32 images made in code for tests. The default image is valid: DOS header, NT
// headers at 0x80, a PE32 optional header with 16 data directories, one ".text" section of 0x200
// zero bytes, entry point at the start of the first section. Each setter changes one thing and
// returns the builder, so an image reads as one chain; Bytes() lays the image out afresh.
// Setters of header fields change only the field, never where the bytes go, so an image can lie
// about itself; the layout (file and virtual positions) follows the sections' raw bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace support {

class PeBuilder {
 public:
  static constexpr uint32_t kDefaultNtOffset = 0x80;
  static constexpr uint32_t kDefaultFileAlignment = 0x200;
  static constexpr uint32_t kDefaultSectionAlignment = 0x1000;
  static constexpr uint32_t kDefaultSectionSize = 0x200;
  static constexpr uint32_t kImageBase = 0x400000;
  static constexpr uint32_t kDirectorySlots = 32;  // Directory() takes indexes below this

  PeBuilder();

  // DOS and NT headers.
  PeBuilder& DosMagic(std::string_view twoLetters);  // "MZ" by default
  PeBuilder& NtOffset(uint32_t offset);              // where the NT headers go; at least 64
  PeBuilder& NtSignature(uint32_t value);            // "PE\0\0" by default

  // Optional header.
  PeBuilder& Pe32Plus();                     // magic 0x20B and the PE32+ field layout
  PeBuilder& OptionalMagic(uint16_t magic);  // the field only, in either layout
  // NumberOfRvaAndSizes. Up to 32 directory slots are written, and SizeOfOptionalHeader covers
  // them unless it was set.
  PeBuilder& RvaCount(uint32_t count);
  // The section table follows the optional header at this distance; a value below the fixed
  // fields and directories lets the table overwrite them.
  PeBuilder& SizeOfOptionalHeader(uint16_t size);
  PeBuilder& EntryPoint(uint32_t rva);
  // Both alignments also drive the layout; a 0 field is laid out with the default alignment.
  PeBuilder& FileAlignment(uint32_t alignment);
  PeBuilder& SectionAlignment(uint32_t alignment);
  PeBuilder& SizeOfHeaders(uint32_t size);  // the field only
  PeBuilder& Directory(uint32_t index, uint32_t virtualAddress, uint32_t size);

  // Sections, laid out one after the other at file and section alignment.
  PeBuilder& SectionCount(uint32_t count);  // drops sections or appends default ones
  PeBuilder& AddSection(std::string name, uint32_t rawSize);  // rawSize zero bytes
  // Writes into section `index`'s raw bytes at `offset`, growing them when needed.
  PeBuilder& SectionBytes(uint32_t index, uint32_t offset, std::span<const uint8_t> bytes);
  // Header fields of section `index` only; the raw bytes stay where the layout puts them.
  PeBuilder& SectionVirtualSize(uint32_t index, uint32_t value);
  PeBuilder& SectionVirtualAddress(uint32_t index, uint32_t value);
  PeBuilder& SectionRawSize(uint32_t index, uint32_t value);     // SizeOfRawData
  PeBuilder& SectionRawPointer(uint32_t index, uint32_t value);  // PointerToRawData
  PeBuilder& SectionCharacteristics(uint32_t index, uint32_t value);

  // The whole file, applied after the layout in the order given; writes past the end grow it.
  PeBuilder& PutBytes(uint32_t offset, std::span<const uint8_t> bytes);
  PeBuilder& PokeU16(uint32_t offset, uint16_t value);
  PeBuilder& PokeU32(uint32_t offset, uint32_t value);
  // Cuts or zero-pads the final file to exactly `size` bytes (applied last).
  PeBuilder& FileSize(uint32_t size);

  std::vector<uint8_t> Bytes() const;

  // Positions in the image Bytes() gives, as laid out (not as any overridden field claims).
  uint32_t OptionalHeaderAt() const;
  uint32_t SectionTableAt() const;
  uint32_t HeadersEnd() const;  // end of the section table
  uint32_t SectionRawAt(uint32_t index) const;
  uint32_t SectionRva(uint32_t index) const;

 private:
  struct Section {
    std::string name;
    std::vector<uint8_t> raw;
    uint32_t characteristics = 0;
    std::optional<uint32_t> virtualSize, virtualAddress, rawSize, rawPointer;
  };
  struct Layout {
    uint32_t fileAlignment, sectionAlignment, optionalAt, optionalSize, tableAt, headersSize;
    uint32_t imageSize, fileSize;
    std::vector<uint32_t> rawAt, rawSize, rva;
  };
  struct Edit {
    uint32_t offset;
    std::vector<uint8_t> bytes;
  };
  Layout MakeLayout() const;
  Section& At(uint32_t index);

  char dosMagic_[2] = {'M', 'Z'};
  uint32_t ntOffset_ = kDefaultNtOffset;
  uint32_t ntSignature_ = 0x00004550;
  bool pe32Plus_ = false;
  std::optional<uint16_t> optionalMagic_;
  uint32_t rvaCount_ = 16;
  std::optional<uint16_t> sizeOfOptionalHeader_;
  std::optional<uint32_t> entryPoint_;
  uint32_t fileAlignment_ = kDefaultFileAlignment;
  uint32_t sectionAlignment_ = kDefaultSectionAlignment;
  std::optional<uint32_t> sizeOfHeaders_;
  std::array<std::pair<uint32_t, uint32_t>, kDirectorySlots> directories_{};
  std::vector<Section> sections_;
  std::vector<Edit> edits_;
  std::optional<uint32_t> fileSize_;
};

}  // namespace support

// PeImage: one file mapped read-only with its PE32 headers and section table parsed.
// Load maps and parses a file; ParseHeaders parses bytes the caller owns (tests, fuzzers).
// Used by one thread at a time. Every view it hands out (Bytes, PointerAtRva) points into the
// parsed bytes and is valid only until the next Load, ParseHeaders or Release, or destruction.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/mapped_file.h"

namespace fileinfo {

enum class LoadResult : int { kOk = 0, kFileError = 1, kNotPe32 = 2, kPe32Plus = 4 };

// More entries than this are refused (result 2, status text unchanged).
inline constexpr uint32_t kMaxDataDirectories = 32;
// More sections than this are refused with "Too many sections".
inline constexpr uint32_t kMaxSections = 96;
// Longer paths are refused with "Filename length too long!".
inline constexpr size_t kMaxFileNameLength = 32767;

struct DataDirectory {
  uint32_t virtualAddress = 0;
  uint32_t size = 0;
};

// One 40-byte entry of the section table, read field by field.
struct SectionHeader {
  std::array<uint8_t, 8> name{};
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t sizeOfRawData = 0;
  uint32_t pointerToRawData = 0;
  uint32_t pointerToRelocations = 0;
  uint32_t pointerToLinenumbers = 0;
  uint16_t numberOfRelocations = 0;
  uint16_t numberOfLinenumbers = 0;
  uint32_t characteristics = 0;
};

class PeImage {
 public:
  PeImage();
  ~PeImage();
  PeImage(const PeImage&) = delete;
  PeImage& operator=(const PeImage&) = delete;

  // Releases what is held, then maps and parses the file. On any result but kOk nothing stays
  // mapped or open and StatusText says why (see ParseHeaders for the one silent refusal).
  // Files of 4 GiB or more are refused with kFileError: sizes here are 32-bit.
  [[nodiscard]] LoadResult Load(const std::wstring& path);

  // Releases what is held, then parses `bytes`, which the caller keeps alive while the image is
  // used. No I/O. NumberOfRvaAndSizes above kMaxDataDirectories gives kNotPe32 and leaves the
  // status text at "Nothing Loaded".
  [[nodiscard]] LoadResult ParseHeaders(std::span<const uint8_t> bytes);

  // Unmaps and closes a loaded file and forgets the parsed headers; the status text stays.
  void Release();

  // A file position for a relative virtual address, with the bytes available there (within the
  // headers or the section's raw data, and the file). 0xFFFFFFFF names the end of the last
  // section's raw data. False before a successful parse or when the address is not in the file;
  // the out-parameters are then left alone.
  [[nodiscard]] bool RvaToOffset(uint32_t rva, uint32_t& offset,
                                 uint32_t* available = nullptr) const;
  // The parsed bytes at RvaToOffset(rva), or nullptr when it fails.
  const uint8_t* PointerAtRva(uint32_t rva, uint32_t* available = nullptr) const;

  bool Loaded() const { return loaded_; }
  bool HeadersParsed() const { return headersParsed_; }
  std::span<const uint8_t> Bytes() const { return bytes_; }
  uint32_t FileSize() const { return static_cast<uint32_t>(bytes_.size()); }
  const std::wstring& FileName() const { return fileName_; }
  const std::wstring& StatusText() const { return status_; }

  // Header fields; 0 (or empty) until the headers are parsed.
  uint32_t NtHeaderOffset() const { return ntHeaderOffset_; }
  uint16_t SizeOfOptionalHeader() const { return sizeOfOptionalHeader_; }
  uint32_t EntryPoint() const { return entryPoint_; }  // AddressOfEntryPoint
  uint32_t SectionAlignment() const { return sectionAlignment_; }
  uint32_t FileAlignment() const { return fileAlignment_; }
  uint32_t SizeOfHeaders() const { return sizeOfHeaders_; }
  uint32_t NumberOfRvaAndSizes() const { return numberOfRvaAndSizes_; }
  // The entries read, normalised: each is (0, 0) or converts to a range inside the file.
  std::span<const DataDirectory> DataDirectories() const {
    return std::span(directories_).first(directoryCount_);
  }
  uint32_t DataDirectoryCount() const { return directoryCount_; }
  std::span<const SectionHeader> Sections() const { return sections_; }
  uint32_t SectionCount() const { return static_cast<uint32_t>(sections_.size()); }

 private:
  void ClearHeaders();
  LoadResult Parse(std::span<const uint8_t> bytes);
  LoadResult Fail(const wchar_t* message, LoadResult result);
  void NormaliseDirectories();

  platform::MappedFile file_;
  bool loaded_ = false;
  bool headersParsed_ = false;
  std::span<const uint8_t> bytes_;
  std::wstring fileName_;
  std::wstring status_;

  uint32_t ntHeaderOffset_ = 0;
  uint16_t sizeOfOptionalHeader_ = 0;
  uint32_t entryPoint_ = 0;
  uint32_t sectionAlignment_ = 0;
  uint32_t fileAlignment_ = 0;
  uint32_t sizeOfHeaders_ = 0;
  uint32_t numberOfRvaAndSizes_ = 0;
  std::array<DataDirectory, kMaxDataDirectories> directories_{};
  uint32_t directoryCount_ = 0;
  std::vector<SectionHeader> sections_;
};

}  // namespace fileinfo

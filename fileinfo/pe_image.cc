// The parse reads every field at its offset after a range check against the parsed bytes, all
// in 64-bit arithmetic: an NT-header offset near 0xFFFFFFFF is simply out of range. The checks
// run in a fixed order and the first that fails sets the status text. Once the section table has
// passed, the headers count as parsed and RvaToOffset may be used, first by the directory
// normalisation.
#include "fileinfo/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>

#include "fileinfo/little_endian.h"

namespace fileinfo {
namespace {

constexpr wchar_t kNothingLoaded[] = L"Nothing Loaded";
constexpr wchar_t kOk[] = L"OK";
constexpr wchar_t kFileNameTooLong[] = L"Filename length too long!";
constexpr wchar_t kCannotOpen[] = L"Couldn't open file!";
constexpr wchar_t kFileTooLarge[] = L"File too large!";
constexpr wchar_t kCannotCreateHandle[] = L"Couldn't create file handle!";
constexpr wchar_t kCannotCreateMapping[] = L"Couldn't create file mapping!";
constexpr wchar_t kCannotMapView[] = L"Couldn't map a view of file!";
constexpr wchar_t kCannotReadMz[] = L"Couldn't read 'MZ' header!";
constexpr wchar_t kBadMz[] = L"'MZ' header invalid!";
constexpr wchar_t kCannotReadCoffOffset[] = L"Couldn't read COFF header offset";
constexpr wchar_t kCannotReadCoff[] = L"Couldn't read COFF header";
constexpr wchar_t kCannotReadStandardFields[] = L"Couldn't read Optional Header Standard Fields";
constexpr wchar_t kCannotReadPe32Fields[] = L"Couldn't read Optional Header PE32 fields";
constexpr wchar_t kFileAlignmentZero[] = L"FileAlignment is zero";
constexpr wchar_t kSectionAlignmentZero[] = L"SectionAlignment is zero";
constexpr wchar_t kCannotReadPe32PlusFields[] = L"Couldn't read Optional Header PE32+ fields";
constexpr wchar_t kPe64NotSupported[] = L"PE64 is not supported";
constexpr wchar_t kBadMagicFormat[] = L"Invalid Optional header Magic Number: 0x%04X";
constexpr wchar_t kCannotReadDirectoryFormat[] = L"Couldn't read data directory %d/%d";
constexpr wchar_t kTooManySections[] = L"Too many sections";
constexpr wchar_t kCannotReadSectionTable[] = L"Couldn't read section table";

// Files are addressed with 32-bit offsets and sizes.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFF;

constexpr uint32_t kMzOffset = 0;
constexpr uint32_t kNtOffsetField = 60;
constexpr uint32_t kNtHeadersSize = 24;  // signature and COFF file header
constexpr uint32_t kNumberOfSectionsField = 6;
constexpr uint32_t kSizeOfOptionalHeaderField = 20;
constexpr uint32_t kStandardFieldsSize = 28;
constexpr uint32_t kEntryPointField = 16;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kPe32FieldsSize = 68;      // optional header bytes 28 to 95
constexpr uint32_t kPe32PlusFieldsSize = 88;  // read from the same offset 28
constexpr uint32_t kSectionAlignmentField = 32;
constexpr uint32_t kFileAlignmentField = 36;
constexpr uint32_t kSizeOfHeadersField = 60;
constexpr uint32_t kRvaCountField = 92;
constexpr uint32_t kDirectoriesStart = 96;
constexpr uint32_t kDirectorySize = 8;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kLastSectionEnd = 0xFFFFFFFF;

constexpr uint64_t AlignDown(uint64_t value, uint64_t alignment) {
  return value / alignment * alignment;
}

// The caller has checked InRange(bytes.size(), at, kSectionHeaderSize).
SectionHeader ReadSectionHeader(std::span<const uint8_t> bytes, uint64_t at) {
  SectionHeader s;
  std::copy_n(bytes.data() + static_cast<size_t>(at), s.name.size(), s.name.begin());
  s.virtualSize = LoadU32(bytes, at + 8);
  s.virtualAddress = LoadU32(bytes, at + 12);
  s.sizeOfRawData = LoadU32(bytes, at + 16);
  s.pointerToRawData = LoadU32(bytes, at + 20);
  s.pointerToRelocations = LoadU32(bytes, at + 24);
  s.pointerToLinenumbers = LoadU32(bytes, at + 28);
  s.numberOfRelocations = LoadU16(bytes, at + 32);
  s.numberOfLinenumbers = LoadU16(bytes, at + 34);
  s.characteristics = LoadU32(bytes, at + 36);
  return s;
}

}  // namespace

PeImage::PeImage() : status_(kNothingLoaded) {}

PeImage::~PeImage() { Release(); }

void PeImage::Release() {
  if (loaded_) file_.Close();
  loaded_ = false;
  ClearHeaders();
}

void PeImage::ClearHeaders() {
  headersParsed_ = false;
  bytes_ = {};
  ntHeaderOffset_ = 0;
  sizeOfOptionalHeader_ = 0;
  entryPoint_ = 0;
  sectionAlignment_ = 0;
  fileAlignment_ = 0;
  sizeOfHeaders_ = 0;
  numberOfRvaAndSizes_ = 0;
  directories_ = {};
  directoryCount_ = 0;
  sections_.clear();
}

LoadResult PeImage::Fail(const wchar_t* message, LoadResult result) {
  status_ = message;
  return result;
}

LoadResult PeImage::Load(const std::wstring& path) {
  Release();
  fileName_.clear();
  // A stale message of an earlier file would describe the wrong file.
  status_ = kNothingLoaded;
  if (path.size() > kMaxFileNameLength) return Fail(kFileNameTooLong, LoadResult::kFileError);
  fileName_ = path;

  const std::optional<uint64_t> measured = platform::MeasureFile(path);
  if (!measured) {
    fileName_.clear();
    return Fail(kCannotOpen, LoadResult::kFileError);
  }
  if (*measured > kMaxFileSize) {
    fileName_.clear();
    return Fail(kFileTooLarge, LoadResult::kFileError);
  }

  switch (file_.Open(path)) {
    case platform::MapResult::kOk:
      break;
    case platform::MapResult::kOpenFailed:
      return Fail(kCannotCreateHandle, LoadResult::kFileError);
    case platform::MapResult::kMappingFailed:
      return Fail(kCannotCreateMapping, LoadResult::kFileError);
    case platform::MapResult::kViewFailed:
      return Fail(kCannotMapView, LoadResult::kFileError);
  }
  // The file may have changed since it was measured: the mapping is what the checks go by.
  const std::span<const uint8_t> bytes = file_.Bytes();
  if (bytes.size() > kMaxFileSize) {
    file_.Close();
    return Fail(kFileTooLarge, LoadResult::kFileError);
  }
  const LoadResult result = Parse(bytes);
  if (result != LoadResult::kOk) {
    file_.Close();
    return result;
  }
  loaded_ = true;
  return LoadResult::kOk;
}

LoadResult PeImage::ParseHeaders(std::span<const uint8_t> bytes) {
  Release();
  status_ = kNothingLoaded;
  if (bytes.size() > kMaxFileSize) return Fail(kFileTooLarge, LoadResult::kFileError);
  return Parse(bytes);
}

LoadResult PeImage::Parse(std::span<const uint8_t> bytes) {
  const LoadResult result = [&] {
    const uint64_t size = bytes.size();
    if (!InRange(size, kMzOffset, 2)) return Fail(kCannotReadMz, LoadResult::kNotPe32);
    const bool mz = (bytes[0] == 'M' && bytes[1] == 'Z') || (bytes[0] == 'Z' && bytes[1] == 'M');
    if (!mz) return Fail(kBadMz, LoadResult::kNotPe32);

    if (!InRange(size, kNtOffsetField, 4)) {
      return Fail(kCannotReadCoffOffset, LoadResult::kNotPe32);
    }
    const uint64_t nt = LoadU32(bytes, kNtOffsetField);
    // The four signature bytes are not compared: damaged images are still worth scanning.
    if (!InRange(size, nt, kNtHeadersSize)) return Fail(kCannotReadCoff, LoadResult::kNotPe32);
    const uint32_t sectionCount = LoadU16(bytes, nt + kNumberOfSectionsField);
    const uint16_t optionalSize = LoadU16(bytes, nt + kSizeOfOptionalHeaderField);

    const uint64_t opt = nt + kNtHeadersSize;
    if (!InRange(size, opt, kStandardFieldsSize)) {
      return Fail(kCannotReadStandardFields, LoadResult::kNotPe32);
    }
    const uint16_t magic = LoadU16(bytes, opt);
    if (magic == kPe32PlusMagic) {
      if (!InRange(size, opt + kStandardFieldsSize, kPe32PlusFieldsSize)) {
        return Fail(kCannotReadPe32PlusFields, LoadResult::kNotPe32);
      }
      return Fail(kPe64NotSupported, LoadResult::kPe32Plus);
    }
    if (magic != kPe32Magic) {
      wchar_t text[64];
      std::swprintf(text, std::size(text), kBadMagicFormat, unsigned{magic});
      return Fail(text, LoadResult::kNotPe32);
    }
    if (!InRange(size, opt + kStandardFieldsSize, kPe32FieldsSize)) {
      return Fail(kCannotReadPe32Fields, LoadResult::kNotPe32);
    }
    const uint32_t fileAlignment = LoadU32(bytes, opt + kFileAlignmentField);
    const uint32_t sectionAlignment = LoadU32(bytes, opt + kSectionAlignmentField);
    if (fileAlignment == 0) return Fail(kFileAlignmentZero, LoadResult::kNotPe32);
    if (sectionAlignment == 0) return Fail(kSectionAlignmentZero, LoadResult::kNotPe32);

    const uint32_t rvaCount = LoadU32(bytes, opt + kRvaCountField);
    if (rvaCount > kMaxDataDirectories) return LoadResult::kNotPe32;

    // An entry counts when it starts inside the optional header, even if it ends outside.
    directories_ = {};
    directoryCount_ = 0;
    for (uint32_t at = kDirectoriesStart; at < optionalSize && directoryCount_ < rvaCount;
         at += kDirectorySize) {
      if (!InRange(size, opt + at, kDirectorySize)) {
        wchar_t text[64];
        std::swprintf(text, std::size(text), kCannotReadDirectoryFormat,
                      static_cast<int>(directoryCount_ + 1), static_cast<int>(rvaCount));
        return Fail(text, LoadResult::kNotPe32);
      }
      directories_[directoryCount_].virtualAddress = LoadU32(bytes, opt + at);
      directories_[directoryCount_].size = LoadU32(bytes, opt + at + 4);
      ++directoryCount_;
    }

    if (sectionCount > kMaxSections) return Fail(kTooManySections, LoadResult::kNotPe32);
    const uint64_t table = opt + optionalSize;
    if (sectionCount != 0 && !InRange(size, table, uint64_t{sectionCount} * kSectionHeaderSize)) {
      return Fail(kCannotReadSectionTable, LoadResult::kNotPe32);
    }
    sections_.reserve(sectionCount);
    for (uint32_t i = 0; i < sectionCount; ++i) {
      sections_.push_back(ReadSectionHeader(bytes, table + uint64_t{i} * kSectionHeaderSize));
    }

    bytes_ = bytes;
    ntHeaderOffset_ = static_cast<uint32_t>(nt);
    sizeOfOptionalHeader_ = optionalSize;
    entryPoint_ = LoadU32(bytes, opt + kEntryPointField);
    sectionAlignment_ = sectionAlignment;
    fileAlignment_ = fileAlignment;
    sizeOfHeaders_ = LoadU32(bytes, opt + kSizeOfHeadersField);
    numberOfRvaAndSizes_ = rvaCount;
    headersParsed_ = true;
    NormaliseDirectories();
    status_ = kOk;
    return LoadResult::kOk;
  }();
  if (result != LoadResult::kOk) ClearHeaders();
  return result;
}

void PeImage::NormaliseDirectories() {
  for (uint32_t i = 0; i < directoryCount_; ++i) {
    DataDirectory& d = directories_[i];
    if (d.virtualAddress == 0 && d.size == 0) continue;
    uint32_t offset = 0;
    uint32_t available = 0;
    if (!RvaToOffset(d.virtualAddress, offset, &available)) {
      d = {};
    } else if (d.size == 0) {
      d.size = available;
    } else {
      d.size = std::min(d.size, available);
    }
  }
}

bool PeImage::RvaToOffset(uint32_t rva, uint32_t& offset, uint32_t* available) const {
  if (!headersParsed_) return false;
  const uint64_t size = bytes_.size();
  uint64_t at = 0;
  uint64_t length = 0;
  if (rva == kLastSectionEnd) {
    if (sections_.empty()) return false;
    const SectionHeader& last = sections_.back();
    at = AlignDown(last.pointerToRawData, fileAlignment_) + last.sizeOfRawData;
    if (at >= size) return false;
    length = size - at;
  } else if (rva == 0 || rva < sizeOfHeaders_) {
    if (rva >= size) return false;
    at = rva;
    length = std::min<uint64_t>(sizeOfHeaders_ - rva, size - rva);
  } else {
    // Match on SizeOfRawData, not VirtualSize: the rest of a section is not in the file.
    const SectionHeader* hit = nullptr;
    for (const SectionHeader& s : sections_) {
      const uint64_t raw = AlignDown(s.pointerToRawData, fileAlignment_);
      const uint64_t delta = uint64_t{rva} - s.virtualAddress;
      if (s.virtualAddress <= rva && delta < s.sizeOfRawData && raw < size && raw + delta < size) {
        hit = &s;
        at = raw + delta;
        length = std::min<uint64_t>(s.sizeOfRawData - delta, size - at);
        break;
      }
    }
    if (hit == nullptr) return false;
  }
  offset = static_cast<uint32_t>(at);
  if (available != nullptr) *available = static_cast<uint32_t>(length);
  return true;
}

const uint8_t* PeImage::PointerAtRva(uint32_t rva, uint32_t* available) const {
  uint32_t offset = 0;
  if (!RvaToOffset(rva, offset, available)) return nullptr;
  return bytes_.data() + offset;
}

}  // namespace fileinfo

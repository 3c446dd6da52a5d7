// Layout: DOS header at 0 (zeros but the magic and e_lfanew), NT headers at the NT offset, the
// optional header right after them, the section table after SizeOfOptionalHeader bytes. The
// headers are padded to the file alignment; section i's raw bytes follow, each padded to the file
// alignment, and section i's virtual range follows the previous one at section alignment,
// starting one section alignment above the headers.
#include "tests/support/pe_builder.h"

#include <algorithm>
#include <cassert>

namespace support {
namespace {

constexpr uint32_t kNtOffsetField = 60;
constexpr uint32_t kNtHeadersSize = 24;
constexpr uint32_t kPe32FixedSize = 96;
constexpr uint32_t kPe32PlusFixedSize = 112;
constexpr uint32_t kDirectorySize = 8;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kCodeCharacteristics = 0x60000020;  // code, execute, read

constexpr uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  void Bytes(uint32_t offset, std::span<const uint8_t> bytes) {
    if (out_.size() < size_t{offset} + bytes.size()) out_.resize(size_t{offset} + bytes.size());
    std::copy(bytes.begin(), bytes.end(), out_.begin() + offset);
  }
  void U16(uint32_t offset, uint16_t v) {
    const uint8_t b[] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Bytes(offset, b);
  }
  void U32(uint32_t offset, uint32_t v) {
    const uint8_t b[] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                         static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    Bytes(offset, b);
  }
  void U64(uint32_t offset, uint64_t v) {
    U32(offset, static_cast<uint32_t>(v));
    U32(offset + 4, static_cast<uint32_t>(v >> 32));
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace

PeBuilder::PeBuilder() { AddSection(".text", kDefaultSectionSize); }

PeBuilder& PeBuilder::DosMagic(std::string_view twoLetters) {
  assert(twoLetters.size() == 2);
  dosMagic_[0] = twoLetters[0];
  dosMagic_[1] = twoLetters[1];
  return *this;
}
PeBuilder& PeBuilder::NtOffset(uint32_t offset) {
  assert(offset >= 64);
  ntOffset_ = offset;
  return *this;
}
PeBuilder& PeBuilder::NtSignature(uint32_t value) {
  ntSignature_ = value;
  return *this;
}
PeBuilder& PeBuilder::Pe32Plus() {
  pe32Plus_ = true;
  return *this;
}
PeBuilder& PeBuilder::OptionalMagic(uint16_t magic) {
  optionalMagic_ = magic;
  return *this;
}
PeBuilder& PeBuilder::RvaCount(uint32_t count) {
  rvaCount_ = count;
  return *this;
}
PeBuilder& PeBuilder::SizeOfOptionalHeader(uint16_t size) {
  sizeOfOptionalHeader_ = size;
  return *this;
}
PeBuilder& PeBuilder::EntryPoint(uint32_t rva) {
  entryPoint_ = rva;
  return *this;
}
PeBuilder& PeBuilder::FileAlignment(uint32_t alignment) {
  fileAlignment_ = alignment;
  return *this;
}
PeBuilder& PeBuilder::SectionAlignment(uint32_t alignment) {
  sectionAlignment_ = alignment;
  return *this;
}
PeBuilder& PeBuilder::SizeOfHeaders(uint32_t size) {
  sizeOfHeaders_ = size;
  return *this;
}
PeBuilder& PeBuilder::Directory(uint32_t index, uint32_t virtualAddress, uint32_t size) {
  assert(index < kDirectorySlots);
  directories_[index] = {virtualAddress, size};
  return *this;
}

PeBuilder& PeBuilder::SectionCount(uint32_t count) {
  if (count < sections_.size()) sections_.resize(count);
  while (sections_.size() < count) {
    AddSection(sections_.empty() ? ".text" : ".s" + std::to_string(sections_.size()),
               kDefaultSectionSize);
  }
  return *this;
}
PeBuilder& PeBuilder::AddSection(std::string name, uint32_t rawSize) {
  assert(name.size() <= 8);
  Section s;
  s.name = std::move(name);
  s.raw.assign(rawSize, 0);
  s.characteristics = kCodeCharacteristics;
  sections_.push_back(std::move(s));
  return *this;
}
PeBuilder::Section& PeBuilder::At(uint32_t index) {
  assert(index < sections_.size());
  return sections_[index];
}
PeBuilder& PeBuilder::SectionBytes(uint32_t index, uint32_t offset,
                                   std::span<const uint8_t> bytes) {
  std::vector<uint8_t>& raw = At(index).raw;
  if (raw.size() < size_t{offset} + bytes.size()) raw.resize(size_t{offset} + bytes.size());
  std::copy(bytes.begin(), bytes.end(), raw.begin() + offset);
  return *this;
}
PeBuilder& PeBuilder::SectionVirtualSize(uint32_t index, uint32_t value) {
  At(index).virtualSize = value;
  return *this;
}
PeBuilder& PeBuilder::SectionVirtualAddress(uint32_t index, uint32_t value) {
  At(index).virtualAddress = value;
  return *this;
}
PeBuilder& PeBuilder::SectionRawSize(uint32_t index, uint32_t value) {
  At(index).rawSize = value;
  return *this;
}
PeBuilder& PeBuilder::SectionRawPointer(uint32_t index, uint32_t value) {
  At(index).rawPointer = value;
  return *this;
}
PeBuilder& PeBuilder::SectionCharacteristics(uint32_t index, uint32_t value) {
  At(index).characteristics = value;
  return *this;
}

PeBuilder& PeBuilder::PutBytes(uint32_t offset, std::span<const uint8_t> bytes) {
  edits_.push_back({offset, std::vector<uint8_t>(bytes.begin(), bytes.end())});
  return *this;
}
PeBuilder& PeBuilder::PokeU16(uint32_t offset, uint16_t value) {
  const uint8_t b[] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  return PutBytes(offset, b);
}
PeBuilder& PeBuilder::PokeU32(uint32_t offset, uint32_t value) {
  const uint8_t b[] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                       static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return PutBytes(offset, b);
}
PeBuilder& PeBuilder::FileSize(uint32_t size) {
  fileSize_ = size;
  return *this;
}

PeBuilder::Layout PeBuilder::MakeLayout() const {
  Layout l{};
  l.fileAlignment = fileAlignment_ != 0 ? fileAlignment_ : kDefaultFileAlignment;
  l.sectionAlignment = sectionAlignment_ != 0 ? sectionAlignment_ : kDefaultSectionAlignment;
  const uint32_t fixed = pe32Plus_ ? kPe32PlusFixedSize : kPe32FixedSize;
  const uint32_t slots = std::min(rvaCount_, kDirectorySlots);
  l.optionalAt = ntOffset_ + kNtHeadersSize;
  l.optionalSize = sizeOfOptionalHeader_.value_or(static_cast<uint16_t>(fixed + slots * 8));
  l.tableAt = l.optionalAt + l.optionalSize;
  const uint32_t tableEnd = l.tableAt + static_cast<uint32_t>(sections_.size()) * 40;
  l.headersSize = AlignUp(std::max(tableEnd, l.optionalAt + fixed), l.fileAlignment);
  uint32_t fileAt = l.headersSize;
  uint32_t rva = AlignUp(l.headersSize, l.sectionAlignment);
  for (const Section& s : sections_) {
    const uint32_t size = static_cast<uint32_t>(s.raw.size());
    l.rawAt.push_back(fileAt);
    l.rawSize.push_back(AlignUp(size, l.fileAlignment));
    l.rva.push_back(rva);
    fileAt += l.rawSize.back();
    rva += AlignUp(std::max(size, 1u), l.sectionAlignment);
  }
  l.imageSize = rva;
  l.fileSize = fileAt;
  return l;
}

std::vector<uint8_t> PeBuilder::Bytes() const {
  const Layout l = MakeLayout();
  std::vector<uint8_t> out(l.fileSize, 0);
  Writer w(out);
  w.Bytes(0, std::span(reinterpret_cast<const uint8_t*>(dosMagic_), 2));
  w.U32(kNtOffsetField, ntOffset_);

  const uint32_t nt = ntOffset_;
  w.U32(nt, ntSignature_);
  w.U16(nt + 4, pe32Plus_ ? 0x8664 : 0x14C);
  w.U16(nt + 6, static_cast<uint16_t>(sections_.size()));
  w.U16(nt + 20, static_cast<uint16_t>(l.optionalSize));
  w.U16(nt + 22, pe32Plus_ ? 0x0022 : 0x0102);  // executable; 32-bit words or large addresses

  const uint32_t opt = l.optionalAt;
  const uint32_t entry = entryPoint_.value_or(sections_.empty() ? 0 : l.rva[0]);
  const uint32_t headersField = sizeOfHeaders_.value_or(l.headersSize);
  w.U16(opt, optionalMagic_.value_or(pe32Plus_ ? kPe32PlusMagic : kPe32Magic));
  w.U16(opt + 2, 0x0E);  // linker version 14.0
  w.U32(opt + 16, entry);
  w.U32(opt + 32, sectionAlignment_);
  w.U32(opt + 36, fileAlignment_);
  w.U16(opt + 40, 6);  // operating system version
  w.U16(opt + 48, 6);  // subsystem version
  w.U32(opt + 56, l.imageSize);
  w.U32(opt + 60, headersField);
  w.U16(opt + 68, 3);  // console subsystem
  uint32_t fixed = kPe32FixedSize;
  if (pe32Plus_) {
    w.U64(opt + 24, kImageBase);
    w.U64(opt + 72, 0x100000);  // stack reserve, commit, heap reserve, commit
    w.U64(opt + 80, 0x1000);
    w.U64(opt + 88, 0x100000);
    w.U64(opt + 96, 0x1000);
    w.U32(opt + 108, rvaCount_);
    fixed = kPe32PlusFixedSize;
  } else {
    w.U32(opt + 28, kImageBase);
    w.U32(opt + 72, 0x100000);
    w.U32(opt + 76, 0x1000);
    w.U32(opt + 80, 0x100000);
    w.U32(opt + 84, 0x1000);
    w.U32(opt + 92, rvaCount_);
  }
  const uint32_t slots = std::min(rvaCount_, kDirectorySlots);
  for (uint32_t i = 0; i < slots && fixed + (i + 1) * kDirectorySize <= l.optionalSize; ++i) {
    w.U32(opt + fixed + i * kDirectorySize, directories_[i].first);
    w.U32(opt + fixed + i * kDirectorySize + 4, directories_[i].second);
  }

  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    const uint32_t at = l.tableAt + static_cast<uint32_t>(i) * kSectionHeaderSize;
    w.Bytes(at, std::span(reinterpret_cast<const uint8_t*>(s.name.data()), s.name.size()));
    for (size_t k = s.name.size(); k < 8; ++k) out[at + k] = 0;
    w.U32(at + 8, s.virtualSize.value_or(static_cast<uint32_t>(s.raw.size())));
    w.U32(at + 12, s.virtualAddress.value_or(l.rva[i]));
    w.U32(at + 16, s.rawSize.value_or(l.rawSize[i]));
    w.U32(at + 20, s.rawPointer.value_or(l.rawAt[i]));
    w.U32(at + 24, 0);  // no relocations or line numbers
    w.U32(at + 28, 0);
    w.U32(at + 32, 0);
    w.U32(at + 36, s.characteristics);
    w.Bytes(l.rawAt[i], s.raw);
  }
  for (const Edit& e : edits_) w.Bytes(e.offset, e.bytes);
  if (fileSize_) out.resize(*fileSize_, 0);
  return out;
}

uint32_t PeBuilder::OptionalHeaderAt() const { return MakeLayout().optionalAt; }
uint32_t PeBuilder::SectionTableAt() const { return MakeLayout().tableAt; }
uint32_t PeBuilder::HeadersEnd() const {
  return SectionTableAt() + static_cast<uint32_t>(sections_.size()) * kSectionHeaderSize;
}
uint32_t PeBuilder::SectionRawAt(uint32_t index) const {
  assert(index < sections_.size());
  return MakeLayout().rawAt[index];
}
uint32_t PeBuilder::SectionRva(uint32_t index) const {
  assert(index < sections_.size());
  return MakeLayout().rva[index];
}

}  // namespace support

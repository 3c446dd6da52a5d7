// A record is written with one Write (length and body together), so a failed append leaves at
// most a torn tail: the offsets of the records before it stay right, and the append reports
// kNoRecord. Read checks the stored length against the bytes that follow before it allocates,
// so a corrupt or hostile length costs nothing.
#include "fileinfo/scrambled_file.h"

namespace fileinfo {
namespace {

constexpr size_t kLengthSize = 4;

uint8_t KeyByte(uint64_t recordOffset, size_t k) {
  return kRecordKey[(recordOffset + k) % kRecordKey.size()];
}

}  // namespace

ScrambledFile::ScrambledFile(const std::string& path, bool temporaryAttribute)
    : file_(platform::TempFile::Create(path, temporaryAttribute)) {}

bool ScrambledFile::Valid() const { return file_->Valid(); }

const std::string& ScrambledFile::Path() const { return file_->Path(); }

uint32_t ScrambledFile::Append(std::span<const uint8_t> body) {
  if (!Valid() || !file_->SeekEnd()) return kNoRecord;
  const uint64_t offset = file_->Size();
  // Every byte of every record must stay addressable by a 32-bit offset, and the next record's
  // offset must not reach kNoRecord.
  if (body.size() > kNoRecord - kLengthSize || offset > kNoRecord - kLengthSize - body.size()) {
    return kNoRecord;
  }
  const uint32_t length = static_cast<uint32_t>(body.size()) ^ kLengthMask;
  std::vector<uint8_t> record(kLengthSize + body.size());
  for (size_t i = 0; i < kLengthSize; ++i) record[i] = static_cast<uint8_t>(length >> (8 * i));
  for (size_t k = 0; k < body.size(); ++k) {
    record[kLengthSize + k] = body[k] ^ KeyByte(offset, k);
  }
  if (!file_->Write(record)) return kNoRecord;
  return static_cast<uint32_t>(offset);
}

std::optional<std::vector<uint8_t>> ScrambledFile::Read(uint32_t offset) {
  if (!Valid()) return std::nullopt;
  platform::SpinLockGuard hold(lock_);
  const uint64_t size = file_->Size();
  if (size < kLengthSize || offset > size - kLengthSize || !file_->Seek(offset)) {
    return std::nullopt;
  }
  uint8_t lengthBytes[kLengthSize];
  if (file_->Read(lengthBytes) != kLengthSize) return std::nullopt;
  uint32_t length = 0;
  for (size_t i = 0; i < kLengthSize; ++i) length |= uint32_t{lengthBytes[i]} << (8 * i);
  length ^= kLengthMask;
  if (length > size - kLengthSize - offset) return std::nullopt;

  std::vector<uint8_t> body(length);
  if (file_->Read(body) != body.size()) return std::nullopt;
  for (size_t k = 0; k < body.size(); ++k) body[k] ^= KeyByte(offset, k);
  return body;
}

}  // namespace fileinfo

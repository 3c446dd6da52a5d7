// Hash-record file: 44-byte little-endian records, record i at 44 * i, in key order:
//   0 MD5 word 1, 4 MD5 word 2, 8 MD5 word 3, 12 SHA-1 (20 bytes, zero when absent),
//   32 SHA-1 present (1 or 0), 36 size, 40 name offset.
// The key array holds MD5 word 0 of record i at index i, so a bisection over it finds the
// records of one key as one run.
#include "fileinfo/hash_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <span>

#include "fileinfo/little_endian.h"

namespace fileinfo {
namespace {

constexpr char kNameFileFormat[] = "%s\\%s_m5nc_%x%x%x.tmp";
constexpr char kRecordFileFormat[] = "%s\\%s_m5hc_%x%x%x.tmp";
constexpr char kWhitelistCacheName[] = "whitelist.cache";
constexpr char kWhitelistMarkName[] = "!!WL";
constexpr size_t kRecordSize = 44;
constexpr size_t kSha1At = 12;
constexpr size_t kSha1PresentAt = 32;
constexpr size_t kSizeAt = 36;
constexpr size_t kNameOffsetAt = 40;

// The temporary directory, the prefix, two rand() values (the second first) and the low 32 bits
// of the time, so that stores of several processes do not meet.
std::string StorePath(const char* format, const std::string& prefix) {
  const unsigned first = static_cast<unsigned>(std::rand());
  const unsigned second = static_cast<unsigned>(std::rand());
  const unsigned now = static_cast<uint32_t>(std::time(nullptr));
  const std::string directory = platform::TempDirectory();
  const int length =
      std::snprintf(nullptr, 0, format, directory.c_str(), prefix.c_str(), second, first, now);
  if (length < 0) return {};
  std::string path(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(path.data(), path.size(), format, directory.c_str(), prefix.c_str(), second, first,
                now);
  path.pop_back();
  return path;
}

}  // namespace

HashStore::HashStore(const std::string& namePrefix)
    : prefix_(namePrefix),
      names_(StorePath(kNameFileFormat, namePrefix), /*temporaryAttribute=*/false),
      records_(platform::TempFile::Create(StorePath(kRecordFileFormat, namePrefix),
                                          /*temporaryAttribute=*/true)) {}

bool HashStore::AddRecord(const Md5Digest& md5, const std::optional<Sha1Digest>& sha1,
                          uint32_t size, std::string_view name) {
  if (finalized_) return false;
  // A record whose name cannot be read back would report an empty match name.
  const uint32_t nameOffset =
      names_.Append(std::span(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
  if (nameOffset == kNoRecord) return false;
  PendingRecord r;
  for (size_t i = 0; i < r.md5Words.size(); ++i) r.md5Words[i] = LoadU32(md5, 4 * i);
  r.sha1 = sha1;
  r.size = size;
  r.nameOffset = nameOffset;
  pending_.push_back(r);
  sizes_.insert(size);
  return true;
}

void HashStore::FinalizeStore() {
  if (finalized_) return;
  finalized_ = true;
  // Stable, so that records with equal digests keep the order they were added in.
  std::stable_sort(
      pending_.begin(), pending_.end(),
      [](const PendingRecord& a, const PendingRecord& b) { return a.md5Words < b.md5Words; });
  std::vector<uint8_t> file(pending_.size() * kRecordSize, 0);
  keys_.reserve(pending_.size());
  for (size_t i = 0; i < pending_.size(); ++i) {
    const PendingRecord& r = pending_[i];
    const std::span<uint8_t> out = std::span(file).subspan(i * kRecordSize, kRecordSize);
    keys_.push_back(r.md5Words[0]);
    for (size_t w = 1; w < r.md5Words.size(); ++w) StoreU32(out, 4 * (w - 1), r.md5Words[w]);
    if (r.sha1) std::copy(r.sha1->begin(), r.sha1->end(), out.begin() + kSha1At);
    StoreU32(out, kSha1PresentAt, r.sha1 ? 1 : 0);
    StoreU32(out, kSizeAt, r.size);
    StoreU32(out, kNameOffsetAt, r.nameOffset);
  }
  pending_.clear();
  pending_.shrink_to_fit();
  // A failed write shows later as records that cannot be read.
  platform::SpinLockGuard guard(recordLock_);
  if (!file.empty() && records_->Seek(0)) (void)records_->Write(file);
}

int32_t HashStore::FindFirstCandidate(uint32_t key) const {
  size_t lo = 0;
  size_t hi = keys_.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (keys_[mid] > key) {
      hi = mid;
    } else if (keys_[mid] < key) {
      lo = mid + 1;
    } else {
      while (mid >= 1 && keys_[mid - 1] == key) --mid;
      return static_cast<int32_t>(mid);
    }
  }
  return -1;
}

bool HashStore::ReadRecord(int32_t index, HashRecord& out) {
  if (index < 0 || index >= RecordCount()) return false;
  std::array<uint8_t, kRecordSize> bytes;
  {
    // One lock keeps the seek and the read of one thread together.
    platform::SpinLockGuard guard(recordLock_);
    if (!records_->Seek(uint64_t{static_cast<uint32_t>(index)} * kRecordSize)) return false;
    if (records_->Read(bytes) != bytes.size()) return false;
  }
  const std::span<const uint8_t> in = bytes;
  for (size_t w = 0; w < out.md5Words.size(); ++w) out.md5Words[w] = LoadU32(in, 4 * w);
  std::copy_n(in.begin() + kSha1At, out.sha1.size(), out.sha1.begin());
  out.hasSha1 = LoadU32(in, kSha1PresentAt) != 0;
  out.size = LoadU32(in, kSizeAt);
  out.nameOffset = LoadU32(in, kNameOffsetAt);
  return true;
}

std::string HashStore::ReadName(uint32_t offset) {
  if (offset == kWhitelistCacheOffset) return kWhitelistCacheName;
  if (offset == kWhitelistMarkOffset) return kWhitelistMarkName;
  const std::optional<std::vector<uint8_t>> body = names_.Read(offset);
  if (!body) return {};
  return std::string(body->begin(), body->end());
}

}  // namespace fileinfo

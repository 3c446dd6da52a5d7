#include "engine/rolling_hash.h"

// A finalised size class is searched by rolling the weak checksum over every offset; its high
// half picks a bucket (the entries sharing it, contiguous in the sorted array), a halving search
// inside the bucket finds the first entry with the full checksum, and only then is an MD5 digest
// computed.
#include <algorithm>

#include "engine/limits.h"
#include "fileinfo/md5.h"

namespace engine {

RollingChecksum::RollingChecksum(std::span<const uint8_t> block)
    : length_(static_cast<uint32_t>(block.size())) {
  for (uint8_t byte : block) {
    a_ = static_cast<uint16_t>(a_ + byte);
    b_ = static_cast<uint16_t>(b_ + a_);
  }
}

int RollingHashTable::SizeClassOf(int blockSize) {
  for (int i = 0; i < kSizeClasses; ++i) {
    if (kBlockSizes[i] == blockSize) return i;
  }
  return -1;
}

uint32_t RollingHashTable::AddBlock(int blockSize, uint32_t weakChecksum,
                                    const std::array<uint8_t, 16>& digest) {
  const int sizeClass = SizeClassOf(blockSize);
  if (finalized_ || sizeClass < 0) return 0;
  std::vector<BlockEntry>& entries = classes_[sizeClass].entries;
  if (entries.size() == entries.capacity()) entries.reserve(entries.capacity() + kBlockArrayGrowth);
  entries.push_back({weakChecksum, digest, nextId_});
  return nextId_++;
}

void RollingHashTable::FinalizeBlocks() {
  if (finalized_) return;
  for (SizeClass& c : classes_) {
    c.entries.shrink_to_fit();
    std::stable_sort(
        c.entries.begin(), c.entries.end(),
        [](const BlockEntry& a, const BlockEntry& b) { return a.weakChecksum < b.weakChecksum; });
    c.index.assign(kBucketEntries, 0);
    for (size_t i = 0; i < c.entries.size(); ++i) {
      uint32_t& slot = c.index[c.entries[i].weakChecksum >> 16];
      if (slot == 0) slot = static_cast<uint32_t>(i + 1);
    }
    c.index[kBucketEntries - 1] = static_cast<uint32_t>(c.entries.size() + 1);
    for (size_t h = kBucketEntries - 1; h >= 1; --h) {
      if (c.index[h - 1] == 0) c.index[h - 1] = c.index[h];
    }
  }
  finalized_ = true;
}

void RollingHashTable::FindBlocks(const uint8_t* data, uint32_t length,
                                  std::vector<BlockHit>& hits) const {
  if (!finalized_) return;
  for (int c = 0; c < kSizeClasses; ++c) {
    if (length < static_cast<uint32_t>(kBlockSizes[c])) break;
    SearchClass(c, data, length, hits);
  }
}

void RollingHashTable::SearchClass(int sizeClass, const uint8_t* data, uint32_t length,
                                   std::vector<BlockHit>& hits) const {
  const SizeClass& c = classes_[sizeClass];
  if (c.entries.empty()) return;
  const uint32_t n = static_cast<uint32_t>(kBlockSizes[sizeClass]);
  RollingChecksum sum(std::span(data, n));
  for (uint32_t i = 0;; ++i) {
    const uint32_t high = sum.High();
    uint32_t lo = c.index[high] - 1;
    uint32_t hi = c.index[high + 1] - 1;
    if (lo < hi) {
      const uint32_t bucketEnd = hi;
      const uint32_t key = sum.Value();
      while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (c.entries[mid].weakChecksum < key) {
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      if (lo < bucketEnd && c.entries[lo].weakChecksum == key &&
          fileinfo::Md5Buffer(std::span(data + i, n)) == c.entries[lo].digest) {
        hits.push_back({c.entries[lo].id, i});
      }
    }
    if (i == length - n) break;
    sum.Roll(data[i], data[i + n]);
  }
}

}  // namespace engine

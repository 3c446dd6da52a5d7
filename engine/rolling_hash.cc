#include "engine/rolling_hash.h"

#include <algorithm>

#include "engine/limits.h"

namespace engine {

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

}  // namespace engine

// RollingHashTable: the blocks (512, 1024 or 2048 bytes, weak checksum and MD5 digest) that
// signatures require besides their pattern. AddBlock fills it on the loading thread; once
// finalised it refuses new blocks and is only read. Not locked: one thread fills and finalises.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace engine {

struct BlockEntry {
  uint32_t weakChecksum;
  std::array<uint8_t, 16> digest;
  uint32_t id;
};

class RollingHashTable {
 public:
  static constexpr int kSizeClasses = 3;
  static constexpr std::array<int, kSizeClasses> kBlockSizes = {512, 1024, 2048};
  // Entries of a finalised size class's bucket index: one per high half of the checksum, and one
  // more holding the count + 1.
  static constexpr size_t kBucketEntries = 65537;

  // The size class of a block size, or -1 for a size the table does not take.
  static int SizeClassOf(int blockSize);

  // The id given to the block (1, 2, 3, ... across all size classes), or 0 when the block size
  // is not one of kBlockSizes or the table is finalised.
  [[nodiscard]] uint32_t AddBlock(int blockSize, uint32_t weakChecksum,
                                  const std::array<uint8_t, 16>& digest);
  // Sorts each size class by checksum (equal checksums keep their id order) and builds its
  // bucket index; then AddBlock refuses. Does nothing when already finalised.
  void FinalizeBlocks();
  bool Finalized() const { return finalized_; }

  std::span<const BlockEntry> Entries(int sizeClass) const { return classes_[sizeClass].entries; }
  // Empty until finalised. Entry h holds 1 + the position of the first entry whose checksum's
  // high half is h or more; the last entry holds the count + 1.
  std::span<const uint32_t> BucketIndex(int sizeClass) const { return classes_[sizeClass].index; }

 private:
  struct SizeClass {
    std::vector<BlockEntry> entries;
    std::vector<uint32_t> index;
  };
  uint32_t nextId_ = 1;
  std::array<SizeClass, kSizeClasses> classes_;
  bool finalized_ = false;
};

}  // namespace engine

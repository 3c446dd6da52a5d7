// RollingHashTable: the blocks (512, 1024 or 2048 bytes, weak checksum and MD5 digest) that
// signatures require besides their pattern. AddBlock fills it on the loading thread and the
// engine's Compile finalises it; from then on it refuses new blocks and is only read, so any
// number of scans may run FindBlocks at once. Not locked: one thread fills and finalises.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace engine {

// The weak checksum of a block of N bytes: a = the byte sum, b = the sum of the running values
// of a, both mod 65536 and starting at 0; the checksum is b << 16 | a.
class RollingChecksum {
 public:
  // Sums over block[0 .. length - 1].
  explicit RollingChecksum(std::span<const uint8_t> block);
  // Moves the block one byte on: `out` leaves at its front, `in` joins at its back.
  void Roll(uint8_t out, uint8_t in) {
    a_ = static_cast<uint16_t>(a_ + in - out);
    b_ = static_cast<uint16_t>(b_ + a_ - length_ * out);
  }
  uint16_t Low() const { return a_; }
  uint16_t High() const { return b_; }
  uint32_t Value() const { return uint32_t{b_} << 16 | a_; }

 private:
  uint32_t length_;
  uint16_t a_ = 0;
  uint16_t b_ = 0;
};

inline uint32_t WeakChecksum(std::span<const uint8_t> block) {
  return RollingChecksum(block).Value();
}

// A stored block found in searched data: its id and the offset of its first byte there.
struct BlockHit {
  uint32_t id;
  uint32_t offset;

  bool operator==(const BlockHit&) const = default;
};

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

  // Appends every stored block found in data[0 .. length - 1]: first the 512-byte hits, then the
  // 1024-byte and the 2048-byte ones, each class in ascending offset order. A checksum match is
  // confirmed by the MD5 digest of the one entry that sorts first among equal checksums. An
  // unfinalised table finds nothing (finalising here would race with concurrent scans).
  void FindBlocks(const uint8_t* data, uint32_t length, std::vector<BlockHit>& hits) const;

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
  void SearchClass(int sizeClass, const uint8_t* data, uint32_t length,
                   std::vector<BlockHit>& hits) const;

  std::array<SizeClass, kSizeClasses> classes_;
  bool finalized_ = false;
};

}  // namespace engine

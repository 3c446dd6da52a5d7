#include "engine/rolling_hash.h"

#include <gtest/gtest.h>

#include <vector>

namespace engine {
namespace {

std::array<uint8_t, 16> Digest(uint8_t first) {
  std::array<uint8_t, 16> d{};
  d[0] = first;
  return d;
}

TEST(RollingHashTable, SharesIdsAcrossSizeClassesAndRefusesOtherSizes) {
  RollingHashTable t;
  struct Step {
    int blockSize;
    uint32_t expectedId;
  };
  const Step steps[] = {{512, 1},  {2048, 2}, {4096, 0}, {1024, 3}, {0, 0},
                        {-512, 0}, {513, 0},  {512, 4},  {2048, 5}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.blockSize);
    EXPECT_EQ(t.AddBlock(s.blockSize, 7, Digest(1)), s.expectedId);
  }
  EXPECT_EQ(t.Entries(0).size(), 2u);
  EXPECT_EQ(t.Entries(1).size(), 1u);
  EXPECT_EQ(t.Entries(2).size(), 2u);
  EXPECT_EQ(t.Entries(2)[1].id, 5u);
}

TEST(RollingHashTable, KeepsEveryBlockAcrossGrowth) {
  RollingHashTable t;
  for (uint32_t i = 1; i <= 1201; ++i) {
    ASSERT_EQ(t.AddBlock(1024, i * 2654435761u, Digest(static_cast<uint8_t>(i))), i);
  }
  ASSERT_EQ(t.Entries(1).size(), 1201u);
  for (uint32_t i = 1; i <= 1201; ++i) {
    const BlockEntry& e = t.Entries(1)[i - 1];
    EXPECT_EQ(e.id, i);
    EXPECT_EQ(e.weakChecksum, i * 2654435761u);
    EXPECT_EQ(e.digest[0], static_cast<uint8_t>(i));
  }
}

TEST(RollingHashTable, FinalizingSortsIndexesAndThenRefusesBlocks) {
  RollingHashTable t;
  const uint32_t sums[] = {0x00050001, 0x00010002, 0x00050000, 0xFFFF0000, 0x00010001, 0x00050001};
  for (uint32_t s : sums) ASSERT_GT(t.AddBlock(512, s, Digest(0)), 0u);
  EXPECT_TRUE(t.BucketIndex(0).empty());
  t.FinalizeBlocks();
  ASSERT_TRUE(t.Finalized());
  EXPECT_EQ(t.AddBlock(512, 1, Digest(0)), 0u);
  EXPECT_EQ(t.AddBlock(2048, 1, Digest(0)), 0u);

  const std::span<const BlockEntry> e = t.Entries(0);
  std::vector<uint32_t> sorted;
  for (const BlockEntry& b : e) sorted.push_back(b.weakChecksum);
  EXPECT_EQ(sorted, (std::vector<uint32_t>{0x00010001, 0x00010002, 0x00050000, 0x00050001,
                                           0x00050001, 0xFFFF0000}));
  EXPECT_EQ(e[3].id, 1u);  // equal checksums keep their id order
  EXPECT_EQ(e[4].id, 6u);

  // Entries with high half h are the positions [index[h] - 1, index[h + 1] - 1).
  const std::span<const uint32_t> index = t.BucketIndex(0);
  ASSERT_EQ(index.size(), RollingHashTable::kBucketEntries);
  for (uint32_t h = 0; h < 65536; ++h) {
    size_t expected = 0;
    for (uint32_t s : sorted) expected += (s >> 16) == h;
    ASSERT_EQ(index[h + 1] - index[h], expected) << "bucket " << h;
    for (uint32_t p = index[h] - 1; p < index[h + 1] - 1; ++p) ASSERT_EQ(sorted[p] >> 16, h);
  }
  EXPECT_EQ(index[0], 1u);
  EXPECT_EQ(index[65536], 7u);
  // An empty size class indexes to nothing everywhere.
  EXPECT_EQ(t.BucketIndex(1)[0], 1u);
  EXPECT_EQ(t.BucketIndex(1)[65536], 1u);
}

}  // namespace
}  // namespace engine

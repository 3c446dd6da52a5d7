#include "engine/rolling_hash.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fileinfo/md5.h"

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

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

uint32_t FreshChecksum(const uint8_t* data, size_t n) {
  uint32_t a = 0;
  uint32_t b = 0;
  for (size_t i = 0; i < n; ++i) {
    a = (a + data[i]) & 0xFFFF;
    b = (b + a) & 0xFFFF;
  }
  return b << 16 | a;
}

TEST(RollingChecksum, RolledSumsEqualFreshSumsAtEveryOffset) {
  for (int size : RollingHashTable::kBlockSizes) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data = RandomBytes(3 * 2048, static_cast<uint32_t>(size));
    const size_t n = static_cast<size_t>(size);
    RollingChecksum sum(std::span(data.data(), n));
    for (size_t i = 0;; ++i) {
      ASSERT_EQ(sum.Value(), FreshChecksum(data.data() + i, n)) << "offset " << i;
      if (i + n == data.size()) break;
      sum.Roll(data[i], data[i + n]);
    }
  }
  // Runs of 0xFF make both sums wrap many times.
  const std::vector<uint8_t> ones(1024 + 300, 0xFF);
  RollingChecksum sum(std::span(ones.data(), 1024));
  for (size_t i = 0; i < 300; ++i) sum.Roll(ones[i], ones[i + 1024]);
  EXPECT_EQ(sum.Value(), FreshChecksum(ones.data() + 300, 1024));
}

TEST(RollingChecksum, OfAbcIsTheWorkedExample) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  const RollingChecksum sum(abc);
  EXPECT_EQ(sum.Low(), 294);
  EXPECT_EQ(sum.High(), 586);
  EXPECT_EQ(WeakChecksum(abc), 38404390u);
}

// A table holding the given blocks of `data`, finalised.
struct BlockTable {
  uint32_t Add(const std::vector<uint8_t>& data, size_t at, int size) {
    const std::span<const uint8_t> block(data.data() + at, static_cast<size_t>(size));
    return table.AddBlock(size, WeakChecksum(block), fileinfo::Md5Buffer(block));
  }
  std::vector<BlockHit> Find(const std::vector<uint8_t>& data, size_t length) {
    if (!table.Finalized()) table.FinalizeBlocks();
    std::vector<BlockHit> hits;
    table.FindBlocks(data.data(), static_cast<uint32_t>(length), hits);
    return hits;
  }
  RollingHashTable table;
};

TEST(FindBlocks, FindsBlocksFromTheFirstToTheLastOffset) {
  const std::vector<uint8_t> data = RandomBytes(5000, 3);
  BlockTable t;
  const uint32_t head = t.Add(data, 0, 512);
  const uint32_t tail = t.Add(data, 5000 - 512, 512);
  const uint32_t middle = t.Add(data, 1234, 2048);
  const uint32_t big = t.Add(data, 5000 - 1024, 1024);
  EXPECT_EQ(
      t.Find(data, 5000),
      (std::vector<BlockHit>{{head, 0}, {tail, 5000 - 512}, {big, 5000 - 1024}, {middle, 1234}}));
  // One byte short of the end, the blocks that reach it are gone.
  EXPECT_EQ(t.Find(data, 4999), (std::vector<BlockHit>{{head, 0}, {middle, 1234}}));
}

TEST(FindBlocks, SearchesOnlyTheSizeClassesTheDataCanHold) {
  const std::vector<uint8_t> data = RandomBytes(2048, 4);
  BlockTable t;
  const uint32_t small = t.Add(data, 0, 512);
  const uint32_t medium = t.Add(data, 0, 1024);
  const uint32_t large = t.Add(data, 0, 2048);
  struct Case {
    size_t length;
    std::vector<BlockHit> hits;
  };
  const Case cases[] = {
      {511, {}},
      {512, {{small, 0}}},
      {1023, {{small, 0}}},
      {1024, {{small, 0}, {medium, 0}}},
      {2047, {{small, 0}, {medium, 0}}},
      {2048, {{small, 0}, {medium, 0}, {large, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(t.Find(data, c.length), c.hits);
  }
}

TEST(FindBlocks, ComparesTheDigestOfOnlyTheFirstEntryOfAChecksum) {
  const std::vector<uint8_t> data = RandomBytes(1000, 5);
  const std::span<const uint8_t> block(data.data() + 100, 512);
  const uint32_t sum = WeakChecksum(block);
  fileinfo::Md5Digest wrong = fileinfo::Md5Buffer(block);
  wrong[0] ^= 1;
  {
    RollingHashTable t;
    const uint32_t first = t.AddBlock(512, sum, fileinfo::Md5Buffer(block));
    ASSERT_GT(t.AddBlock(512, sum, wrong), 0u);
    t.FinalizeBlocks();
    std::vector<BlockHit> hits;
    t.FindBlocks(data.data(), 1000, hits);
    EXPECT_EQ(hits, (std::vector<BlockHit>{{first, 100}}));
  }
  {
    RollingHashTable t;
    ASSERT_GT(t.AddBlock(512, sum, wrong), 0u);
    ASSERT_GT(t.AddBlock(512, sum, fileinfo::Md5Buffer(block)), 0u);
    t.FinalizeBlocks();
    std::vector<BlockHit> hits;
    t.FindBlocks(data.data(), 1000, hits);
    EXPECT_TRUE(hits.empty());  // the right digest sorts second and is never compared
  }
}

TEST(FindBlocks, AnUnfinalisedTableFindsNothing) {
  const std::vector<uint8_t> data = RandomBytes(600, 6);
  BlockTable t;
  ASSERT_GT(t.Add(data, 0, 512), 0u);
  std::vector<BlockHit> hits;
  t.table.FindBlocks(data.data(), 600, hits);
  EXPECT_TRUE(hits.empty());
  EXPECT_FALSE(t.table.Finalized());
}

}  // namespace
}  // namespace engine

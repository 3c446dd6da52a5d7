#include "fileinfo/hash_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/temp_file.h"
#include "platform/thread.h"

namespace fileinfo {
namespace {

Md5Digest DigestOf(uint32_t w0, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
  Md5Digest d{};
  const uint32_t words[] = {w0, w1, w2, w3};
  for (size_t i = 0; i < 16; ++i) d[i] = static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
  return d;
}

Sha1Digest Sha1Of(uint8_t seed) {
  Sha1Digest d{};
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(seed + 7 * i);
  return d;
}

TEST(HashStore, FindsTheFirstOfEqualKeysByBisection) {
  struct Case {
    std::vector<uint32_t> keys;  // added in this order
    uint32_t key;
    int32_t expected;
  };
  const Case cases[] = {
      {{9, 5, 3, 5, 5}, 5, 1},
      {{9, 5, 3, 5, 5}, 3, 0},
      {{9, 5, 3, 5, 5}, 9, 4},
      {{9, 5, 3, 5, 5}, 4, -1},
      {{9, 5, 3, 5, 5}, 10, -1},
      {{9, 5, 3, 5, 5}, 0, -1},
      {{}, 5, -1},
      {{7}, 7, 0},
      {{7, 7, 7, 7, 7, 7, 7, 8}, 7, 0},
      {{1, 2, 8, 8, 8, 8, 8, 8}, 8, 2},
      // Keys compare unsigned: a signed comparison sorts these the other way round.
      {{0xFFFFFFFF, 1, 0x80000000}, 0xFFFFFFFF, 2},
      {{0xFFFFFFFF, 1, 0x80000000}, 0x80000000, 1},
      {{0xFFFFFFFF, 1, 0x80000000}, 0x7FFFFFFF, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "key " << c.key << " among " << c.keys.size());
    HashStore store("nolvexa_test");
    for (uint32_t k : c.keys) ASSERT_TRUE(store.AddRecord(DigestOf(k), std::nullopt, 1, "n"));
    store.FinalizeStore();
    EXPECT_EQ(store.FindFirstCandidate(c.key), c.expected);
    ASSERT_EQ(store.RecordCount(), static_cast<int32_t>(c.keys.size()));
    for (int32_t i = 1; i < store.RecordCount(); ++i) EXPECT_LE(store.KeyAt(i - 1), store.KeyAt(i));
  }
}

TEST(HashStore, ReadsRecordsBackFieldByFieldInDigestOrder) {
  HashStore store("nolvexa_test");
  // Equal word 0 everywhere but the last: the order comes from the later words.
  ASSERT_TRUE(store.AddRecord(DigestOf(0x55, 3, 0, 0), Sha1Of(1), 4096, "FileSig"));
  ASSERT_TRUE(store.AddRecord(DigestOf(0x55, 1, 0, 9), std::nullopt, 512, "SectionSig"));
  ASSERT_TRUE(store.AddRecord(DigestOf(0x55, 1, 0, 2), Sha1Of(2), 0x12345678, ""));
  ASSERT_TRUE(store.AddRecord(DigestOf(0x44, 0xFFFFFFFF, 1, 1), std::nullopt, 0, "Low"));
  EXPECT_EQ(store.FindFirstCandidate(0x55), -1);  // not before finalizing
  store.FinalizeStore();

  struct Expected {
    std::array<uint32_t, 3> words;
    std::optional<Sha1Digest> sha1;
    uint32_t size;
    const char* name;
  };
  const Expected expected[] = {
      {{0xFFFFFFFF, 1, 1}, std::nullopt, 0, "Low"},
      {{1, 0, 2}, Sha1Of(2), 0x12345678, ""},
      {{1, 0, 9}, std::nullopt, 512, "SectionSig"},
      {{3, 0, 0}, Sha1Of(1), 4096, "FileSig"},
  };
  ASSERT_EQ(store.RecordCount(), 4);
  EXPECT_EQ(store.FindFirstCandidate(0x44), 0);
  EXPECT_EQ(store.FindFirstCandidate(0x55), 1);
  for (int32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Expected& e = expected[i];
    HashRecord r;
    ASSERT_TRUE(store.ReadRecord(i, r));
    EXPECT_EQ(r.md5Words, e.words);
    EXPECT_EQ(r.hasSha1, e.sha1.has_value());
    EXPECT_EQ(r.sha1, e.sha1.value_or(Sha1Digest{}));
    EXPECT_EQ(r.size, e.size);
    EXPECT_EQ(store.ReadName(r.nameOffset), e.name);
  }
  for (uint32_t size : {0u, 512u, 4096u, 0x12345678u}) EXPECT_TRUE(store.HasSize(size)) << size;
  for (uint32_t size : {1u, 511u, 0xFFFFFFFFu}) EXPECT_FALSE(store.HasSize(size)) << size;
}

TEST(HashStore, ReadsANameAtAnOffsetThatIsNotAMultipleOfEight) {
  HashStore store("nolvexa_test");
  // 4 + 9 bytes: the second name's length field lies at offset 13, its text uses key byte 5 on.
  ASSERT_TRUE(store.AddRecord(DigestOf(1), std::nullopt, 1, "123456789"));
  ASSERT_TRUE(store.AddRecord(DigestOf(2), std::nullopt, 2, "ThreadSig3"));
  ASSERT_TRUE(store.AddRecord(DigestOf(3), std::nullopt, 3, "x"));
  store.FinalizeStore();
  HashRecord r;
  ASSERT_TRUE(store.ReadRecord(1, r));
  EXPECT_EQ(r.nameOffset, 13u);
  EXPECT_EQ(store.ReadName(13), "ThreadSig3");
  EXPECT_EQ(store.ReadName(27), "x");
  EXPECT_EQ(store.ReadName(0), "123456789");
  EXPECT_EQ(store.ReadName(1000), "");  // past the end
}

TEST(HashStore, FinalizingTwiceKeepsTheRecordsAndRefusesLateAdditions) {
  HashStore store("nolvexa_test");
  ASSERT_TRUE(store.AddRecord(DigestOf(8, 1), std::nullopt, 100, "a"));
  ASSERT_TRUE(store.AddRecord(DigestOf(8, 2), std::nullopt, 200, "b"));
  store.FinalizeStore();
  EXPECT_FALSE(store.AddRecord(DigestOf(9), std::nullopt, 300, "c"));
  store.FinalizeStore();
  ASSERT_EQ(store.RecordCount(), 2);
  EXPECT_EQ(store.FindFirstCandidate(8), 0);
  EXPECT_EQ(store.FindFirstCandidate(9), -1);
  EXPECT_FALSE(store.HasSize(300));
  HashRecord r;
  ASSERT_TRUE(store.ReadRecord(1, r));
  EXPECT_EQ(r.md5Words[0], 2u);
  EXPECT_EQ(store.ReadName(r.nameOffset), "b");

  HashRecord untouched;
  untouched.size = 77;
  EXPECT_FALSE(store.ReadRecord(2, untouched));
  EXPECT_FALSE(store.ReadRecord(-1, untouched));
  EXPECT_EQ(untouched.size, 77u);
}

TEST(HashStore, GivesTheReservedNamesAndStaysEmptyWithoutItsFiles) {
  // The directory does not exist, so neither file can be created.
  HashStore store("nolvexa_no_such_directory/p");
  EXPECT_EQ(store.ReadName(kWhitelistMarkOffset), "!!WL");
  EXPECT_EQ(store.ReadName(kWhitelistCacheOffset), "whitelist.cache");
  EXPECT_EQ(store.ReadName(0), "");
  // A record whose name cannot be stored is refused: it would match with an empty name.
  EXPECT_FALSE(store.AddRecord(DigestOf(1), std::nullopt, 10, "FileSig"));
  EXPECT_FALSE(store.HasSize(10));
  store.FinalizeStore();
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.FindFirstCandidate(0), -1);
  EXPECT_FALSE(store.HasSize(0));
  HashRecord r;
  EXPECT_FALSE(store.ReadRecord(0, r));
}

TEST(HashStore, NamesItsFilesAfterThePrefix) {
  HashStore store("nolvexa_prefix");
  const std::string start = platform::TempDirectory() + "\\nolvexa_prefix_";
  for (const auto& [path, kind] :
       {std::pair{store.NameFilePath(), "m5nc_"}, std::pair{store.RecordFilePath(), "m5hc_"}}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(path.rfind(start + kind, 0), 0u);
    ASSERT_GT(path.size(), start.size() + 5 + 4);
    EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
    const std::string digits = path.substr(start.size() + 5, path.size() - start.size() - 9);
    EXPECT_GE(digits.size(), 3u);  // three hexadecimal numbers without separators
    EXPECT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
  EXPECT_NE(store.NameFilePath(), store.RecordFilePath());
}

TEST(HashStore, ReadsStayIntactWhenThreadsReadAtOnce) {
  HashStore store("nolvexa_test");
  constexpr uint32_t kRecords = 40;
  for (uint32_t i = 0; i < kRecords; ++i) {
    ASSERT_TRUE(store.AddRecord(DigestOf(i, i * 3, i * 5, i * 7), std::nullopt, 1000 + i,
                                "name-" + std::to_string(i) + std::string(i, '*')));
  }
  store.FinalizeStore();
  std::atomic<int> mismatches{0};
  std::vector<std::unique_ptr<platform::Thread>> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.push_back(std::make_unique<platform::Thread>([&store, &mismatches, t] {
      for (uint32_t k = 0; k < 300; ++k) {
        const uint32_t i = (t * 11 + k * 7) % kRecords;
        HashRecord r;
        const bool read = store.ReadRecord(static_cast<int32_t>(i), r);
        if (!read || r.md5Words[0] != i * 3 || r.md5Words[2] != i * 7 || r.size != 1000 + i ||
            store.ReadName(r.nameOffset) != "name-" + std::to_string(i) + std::string(i, '*')) {
          ++mismatches;
        }
      }
    }));
  }
  for (auto& thread : threads) thread->Join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace fileinfo

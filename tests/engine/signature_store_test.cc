#include "engine/signature_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/temp_file.h"
#include "platform/thread.h"

namespace engine {
namespace {

const SignatureRecord kRecords[] = {
    {"*", "FileSig", 0},
    {"S0+150,100", "FileSig", 1},
    {"", "FlashSig", 7},         // empty location
    {"S0,200", "", 0xFFFFFFFE},  // empty kind name
    {"", "", 0},
    {"EP+12", "ThreadSig3", 3},
    {std::string(300, 'X'), std::string("K\0ND", 4), 0x80000001},
};

TEST(SignatureStore, ReadsBackRecordsAtEveryOffsetAlignment) {
  SignatureStore store("store_test");
  ASSERT_TRUE(store.Valid());
  std::vector<uint32_t> offsets;
  uint32_t expected = 0;
  bool unaligned = false;
  for (const SignatureRecord& r : kRecords) {
    const uint32_t offset = store.Append(r.location, r.kindName, r.rollingHashId);
    EXPECT_EQ(offset, expected);  // 4 for the length, then L1 + L2 + 12
    expected += static_cast<uint32_t>(4 + r.location.size() + r.kindName.size() + 12);
    unaligned = unaligned || offset % 8 != 0;
    offsets.push_back(offset);
  }
  ASSERT_TRUE(unaligned);
  for (size_t i = std::size(kRecords); i-- > 0;) {  // reads in another order than the appends
    SCOPED_TRACE(i);
    EXPECT_EQ(store.Read(offsets[i]), kRecords[i]);
  }
}

TEST(SignatureStore, GivesTheEmptyRecordWhenNothingCanBeRead) {
  SignatureStore store("store_test");
  EXPECT_EQ(store.Read(0), SignatureRecord{});  // an empty file
  const uint32_t offset = store.Append("S0+1", "FileSig", 5);
  EXPECT_EQ(store.Read(offset + 1000), SignatureRecord{});  // past the end
  EXPECT_EQ(store.Read(offset), (SignatureRecord{"S0+1", "FileSig", 5}));

  // A store whose file cannot be created writes nothing and reads nothing.
  SignatureStore missing("no_such_directory/deeper/store_test");
  ASSERT_FALSE(missing.Valid());
  EXPECT_EQ(missing.Append("*", "FileSig", 1), kNoRecord);
  EXPECT_EQ(missing.Read(0), SignatureRecord{});
}

TEST(SignatureStore, NamesItsFileFromTheBaseNameRandomValuesAndTime) {
  EXPECT_EQ(SignatureStorePath("C:\\Temp\\", "pehcb_1a2b", 0x11, 0x2f, 0x65f0a1b2),
            "C:\\Temp\\\\pehcb_1a2b_bvc_2f1165f0a1b2.tmp");
  SignatureStore store("pehcb_77");
  const std::string prefix = platform::TempDirectory() + "\\pehcb_77_bvc_";
  EXPECT_EQ(store.Path().substr(0, prefix.size()), prefix);
  EXPECT_EQ(store.Path().substr(store.Path().size() - 4), ".tmp");
}

TEST(SignatureStore, TwoThreadsReadingAtOnceEachGetTheirOwnRecord) {
  SignatureStore store("store_test");
  const SignatureRecord a{"S0+662,20", "FileSig", 11};
  const SignatureRecord b{std::string(77, 'L'), "FlashSig", 0};
  const uint32_t offsetA = store.Append(a.location, a.kindName, a.rollingHashId);
  const uint32_t offsetB = store.Append(b.location, b.kindName, b.rollingHashId);
  std::atomic<int> badA{0};
  std::atomic<int> badB{0};
  constexpr int kReads = 2000;
  {
    platform::Thread first([&] {
      for (int i = 0; i < kReads; ++i) badA += store.Read(offsetA) != a;
    });
    platform::Thread second([&] {
      for (int i = 0; i < kReads; ++i) badB += store.Read(offsetB) != b;
    });
  }
  EXPECT_EQ(badA.load(), 0);
  EXPECT_EQ(badB.load(), 0);
}

}  // namespace
}  // namespace engine

#include "fileinfo/scrambled_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/thread.h"

namespace fileinfo {
namespace {

using Body = std::vector<uint8_t>;

constexpr uint32_t kFailureBoundMs = 10000;

std::string UniqueTempPath(const std::string& tag) {
  static std::mt19937_64 random{std::random_device{}()};
  return platform::TempDirectory() + "nolvexa_" + tag + "_" + std::to_string(random()) + ".tmp";
}

Body Text(const std::string& text) { return {text.begin(), text.end()}; }

// The file as the format defines it, built independently of the code under test: per record
// the length XOR kLengthMask (little-endian), then body byte k XOR kRecordKey[(o + k) % 8].
Body ExpectedImage(const std::vector<Body>& bodies) {
  Body image;
  for (const Body& body : bodies) {
    const size_t o = image.size();
    const uint32_t length = static_cast<uint32_t>(body.size()) ^ kLengthMask;
    for (int i = 0; i < 4; ++i) image.push_back(static_cast<uint8_t>(length >> (8 * i)));
    for (size_t k = 0; k < body.size(); ++k) image.push_back(body[k] ^ kRecordKey[(o + k) % 8]);
  }
  return image;
}

// A body for a record at `recordOffset` whose first four bytes, read as a record of their own
// (at recordOffset + 4), give the length `length`; `tail` follows them. This is how the tests
// see the raw bytes and plant corrupt lengths through the public operations alone.
Body BodyReadingAsLength(uint32_t recordOffset, uint32_t length, size_t tail) {
  Body body;
  for (size_t i = 0; i < 4; ++i) {
    const uint8_t want = static_cast<uint8_t>(length >> (8 * i));
    const uint8_t mask = static_cast<uint8_t>(kLengthMask >> (8 * i));
    body.push_back(want ^ mask ^ kRecordKey[(recordOffset + i) % 8]);
  }
  for (size_t i = 0; i < tail; ++i) body.push_back(static_cast<uint8_t>(0xA0 + i));
  return body;
}

TEST(ScrambledFile, RecordsReadBackExactlyAtEveryKeyPhase) {
  ScrambledFile file(UniqueTempPath("records"), false);
  ASSERT_TRUE(file.Valid());
  // Lengths 0..13 and a long one put records at offsets of every residue mod 8.
  std::vector<Body> bodies;
  for (size_t size = 0; size <= 13; ++size) {
    Body body(size);
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<uint8_t>(size * 31 + i);
    bodies.push_back(body);
  }
  bodies.push_back(Body(300, 0x00));  // zeros show the key itself if it is not applied
  bodies.push_back(Text(""));

  std::vector<uint32_t> offsets;
  uint32_t expected = 0;
  for (const Body& body : bodies) {
    offsets.push_back(file.Append(body));
    EXPECT_EQ(offsets.back(), expected);
    expected += static_cast<uint32_t>(4 + body.size());
  }
  for (size_t i = bodies.size(); i-- > 0;) {  // backwards, so each read seeks
    SCOPED_TRACE(offsets[i]);
    EXPECT_EQ(file.Read(offsets[i]), bodies[i]);
  }
}

TEST(ScrambledFile, BytesOnDiskAreTheScrambledFormatNotThePlainText) {
  ScrambledFile file(UniqueTempPath("disk"), false);
  ASSERT_TRUE(file.Valid());
  // 0: "x" (5 bytes); 5: the probe (4 + 8); 17: "FileSig"; 28: empty; 32: "ThreadSig3"; end 46.
  constexpr uint32_t kProbeRecord = 5, kProbeRead = kProbeRecord + 4, kEnd = 46;
  const std::vector<Body> bodies = {
      Text("x"),          BodyReadingAsLength(kProbeRecord, kEnd - kProbeRead - 4, 4),
      Text("FileSig"),    Text(""),
      Text("ThreadSig3"),
  };
  for (const Body& body : bodies) (void)file.Append(body);
  const Body image = ExpectedImage(bodies);
  ASSERT_EQ(image.size(), kEnd);

  // The probe read unscrambles the bytes after it with its own key phase; undo that.
  const std::optional<Body> seen = file.Read(kProbeRead);
  ASSERT_TRUE(seen.has_value());
  Body raw = *seen;
  for (size_t j = 0; j < raw.size(); ++j) raw[j] ^= kRecordKey[(kProbeRead + j) % 8];
  EXPECT_EQ(raw, Body(image.begin() + kProbeRead + 4, image.end()));
  for (const char* plain : {"FileSig", "ThreadSig3"}) {
    SCOPED_TRACE(plain);
    const Body text = Text(plain);
    EXPECT_EQ(std::search(raw.begin(), raw.end(), text.begin(), text.end()), raw.end());
  }
}

TEST(ScrambledFile, LengthsThatRunPastTheEndGiveNothing) {
  // "x" at 0, then the probe record at 5: its first body bytes, read as a record at 9, hold
  // the length under test, and kAfter bytes follow them up to the end of the file.
  constexpr uint32_t kProbeRecord = 5, kProbeRead = kProbeRecord + 4, kAfter = 20;
  struct Case {
    const char* name;
    uint32_t length;
    bool readable;
  };
  const Case cases[] = {
      {"exactly_to_the_end", kAfter, true},
      {"one_past_the_end", kAfter + 1, false},
      {"huge", 0xFFFFFFFF, false},
      // offset + 4 + length is exactly 2^32: zero in 32-bit arithmetic.
      {"wraps_32_bits", static_cast<uint32_t>(0 - (kProbeRead + 4)), false},
      {"half_the_range", 0x80000000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScrambledFile file(UniqueTempPath("corrupt"), false);
    ASSERT_TRUE(file.Valid());
    ASSERT_EQ(file.Append(Text("x")), 0u);
    ASSERT_EQ(file.Append(BodyReadingAsLength(kProbeRecord, c.length, kAfter)), kProbeRecord);
    const std::optional<Body> body = file.Read(kProbeRead);
    EXPECT_EQ(body.has_value(), c.readable);
    if (body) {
      EXPECT_EQ(body->size(), c.length);
    }
    EXPECT_EQ(file.Read(0), Text("x"));  // the bad read disturbed nothing
  }
}

TEST(ScrambledFile, OffsetsPastTheEndGiveNothing) {
  ScrambledFile file(UniqueTempPath("end"), false);
  ASSERT_TRUE(file.Valid());
  EXPECT_EQ(file.Read(0), std::nullopt);  // nothing stored yet
  ASSERT_EQ(file.Append(Text("abc")), 0u);
  ASSERT_EQ(file.Append(Text("")), 7u);  // ends at 11
  EXPECT_EQ(file.Read(7), Body());       // an empty record at the very end is still a record
  for (uint32_t offset : {11u, 10u, 8u, 12u, 1000u, 0x7FFFFFFFu, kNoRecord}) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(file.Read(offset), std::nullopt);
  }
  EXPECT_EQ(file.Read(0), Text("abc"));  // the failed reads disturbed nothing
}

TEST(ScrambledFile, ConcurrentReadersEachGetTheirOwnRecord) {
  constexpr int kRecords = 64;
  constexpr int kThreads = 4;
  constexpr int kRounds = 5000;
  ScrambledFile file(UniqueTempPath("threads"), false);
  ASSERT_TRUE(file.Valid());
  std::vector<Body> bodies;
  std::vector<uint32_t> offsets;
  for (int r = 0; r < kRecords; ++r) {
    bodies.push_back(Body(static_cast<size_t>(r % 23 * 40 + 1), static_cast<uint8_t>(r)));
    offsets.push_back(file.Append(bodies.back()));
  }

  platform::Event start(/*manualReset=*/true, /*initiallySet=*/false);
  std::atomic<int> wrong{0};
  std::atomic<int> reads{0};
  std::vector<std::unique_ptr<platform::Thread>> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.push_back(std::make_unique<platform::Thread>([&, t] {
      if (!start.Wait(kFailureBoundMs)) return;
      for (int round = 0; round < kRounds; ++round) {
        // Each thread walks the records in its own order, so seeks interleave.
        const int r = (round * (2 * t + 1) + t * 17) % kRecords;
        if (file.Read(offsets[r]) != bodies[r]) wrong.fetch_add(1);
        reads.fetch_add(1);
      }
    }));
  }
  start.Set();
  for (auto& reader : readers) reader->Join();
  EXPECT_EQ(reads.load(), kThreads * kRounds);
  EXPECT_EQ(wrong.load(), 0);
}

TEST(ScrambledFile, InvalidFileStoresAndGivesNothing) {
  const std::string path = platform::TempDirectory() + "nolvexa_no_such_dir_41c/store.tmp";
  ScrambledFile file(path, true);
  EXPECT_FALSE(file.Valid());
  EXPECT_EQ(file.Path(), path);
  EXPECT_EQ(file.Append(Text("FileSig")), kNoRecord);
  EXPECT_EQ(file.Read(0), std::nullopt);
}

}  // namespace
}  // namespace fileinfo

// HashStore: known MD5 digests, each with the size of the bytes it was taken over, an optional
// SHA-1 to confirm it and the match name to report. To keep memory small the records live in a
// temporary hash-record file and the names in a scrambled name file; memory holds one key per
// record (MD5 word 0) and the set of sizes. Fill it with AddRecord and FinalizeStore once, from
// one thread; after that any number of threads may read (each file has its own lock).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fileinfo/md5.h"
#include "fileinfo/scrambled_file.h"
#include "fileinfo/sha1.h"
#include "platform/spin_lock.h"
#include "platform/temp_file.h"

namespace fileinfo {

// Name offsets that stand for fixed names and are never read from the name file.
inline constexpr uint32_t kWhitelistCacheOffset = 0x7FFFFFFF;  // "whitelist.cache"
inline constexpr uint32_t kWhitelistMarkOffset = 0x7FFFFFFE;   // "!!WL"

// One record of the hash-record file. The MD5 is read as four little-endian words; word 0 is the
// record's key and is not stored in the record.
struct HashRecord {
  std::array<uint32_t, 3> md5Words{};  // MD5 words 1 to 3
  Sha1Digest sha1{};                   // all zero when absent
  bool hasSha1 = false;
  uint32_t size = 0;  // of the whole file or of a section's raw data
  uint32_t nameOffset = 0;
};

class HashStore {
 public:
  // Creates the empty store and its two files in the temporary directory. A file that cannot be
  // created leaves the store working, but what it should hold cannot be read back.
  explicit HashStore(const std::string& namePrefix);
  HashStore(const HashStore&) = delete;
  HashStore& operator=(const HashStore&) = delete;

  // Appends the name to the name file and the size to the size table. False, and nothing added,
  // once the store is finalized or when the name could not be written.
  bool AddRecord(const Md5Digest& md5, const std::optional<Sha1Digest>& sha1, uint32_t size,
                 std::string_view name);
  // Sorts the records by MD5 and writes the hash-record file; does nothing the second time.
  void FinalizeStore();

  // The first index whose key equals `key`, or -1 (always -1 before FinalizeStore).
  [[nodiscard]] int32_t FindFirstCandidate(uint32_t key) const;
  // The number of records written by FinalizeStore.
  int32_t RecordCount() const { return static_cast<int32_t>(keys_.size()); }
  // Precondition: 0 <= index < RecordCount().
  uint32_t KeyAt(int32_t index) const { return keys_[static_cast<size_t>(index)]; }
  // False for an index outside [0, RecordCount()) or a failed read; `out` is then left alone.
  [[nodiscard]] bool ReadRecord(int32_t index, HashRecord& out);
  // The name stored at `offset`; empty when it cannot be read.
  std::string ReadName(uint32_t offset);
  bool HasSize(uint32_t size) const { return sizes_.count(size) != 0; }

  const std::string& NamePrefix() const { return prefix_; }
  const std::string& NameFilePath() const { return names_.Path(); }
  const std::string& RecordFilePath() const { return records_->Path(); }

 private:
  struct PendingRecord {
    std::array<uint32_t, 4> md5Words;
    std::optional<Sha1Digest> sha1;
    uint32_t size;
    uint32_t nameOffset;
  };

  std::string prefix_;
  // Declared in this order: the name file's path takes the first two rand() values.
  ScrambledFile names_;
  std::unique_ptr<platform::TempFile> records_;
  platform::SpinLock recordLock_;
  bool finalized_ = false;
  std::vector<PendingRecord> pending_;
  std::vector<uint32_t> keys_;
  std::set<uint32_t> sizes_;
};

}  // namespace fileinfo

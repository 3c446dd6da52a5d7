// SignatureStore: the scrambled temporary file that holds every added signature's record
// {location text, kind name, rolling-hash id}, found by its record offset. Appends come from the
// loading thread before any scan; reads may come from any number of threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/limits.h"
#include "fileinfo/scrambled_file.h"

namespace engine {

struct SignatureRecord {
  std::string location;
  std::string kindName;
  uint32_t rollingHashId = 0;  // 0: none

  bool operator==(const SignatureRecord&) const = default;
};

class SignatureStore {
 public:
  // Creates the file "%s\%s_bvc_%x%x%x.tmp" in platform::TempDirectory() from `baseName`, two
  // rand() values (the second drawn first) and the low 32 bits of the time. A store whose file
  // cannot be created stays empty: appends write nothing and every read gives the empty record.
  explicit SignatureStore(const std::string& baseName);
  SignatureStore(const SignatureStore&) = delete;
  SignatureStore& operator=(const SignatureStore&) = delete;

  bool Valid() const { return file_.Valid(); }
  const std::string& Path() const { return file_.Path(); }

  // Appends the record and returns its offset: the file's size before the append, or kNoRecord
  // when nothing was written (an invalid file, a failed write). A signature whose record is
  // kNoRecord can never be reported. Not thread-safe; no read may run at the same time.
  [[nodiscard]] uint32_t Append(std::string_view location, std::string_view kindName,
                                uint32_t rollingHashId);
  // The record at `offset`; the empty record {"", "", 0} when it cannot be read whole.
  SignatureRecord Read(uint32_t offset);

 private:
  fileinfo::ScrambledFile file_;
};

// The store's path for these inputs (the format above).
std::string SignatureStorePath(const std::string& tempDirectory, const std::string& baseName,
                               unsigned firstRand, unsigned secondRand, uint32_t time);

}  // namespace engine

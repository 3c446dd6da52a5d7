// MappedFile: a whole file mapped read-only into memory (Windows: CreateFileW with read and write
// sharing, CreateFileMappingW PAGE_READONLY | SEC_COMMIT, MapViewOfFile FILE_MAP_READ).
// The bytes stay valid until Close or destruction. Not copyable; used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace platform {

enum class MapResult : int {
  kOk = 0,
  kOpenFailed = 1,     // the file could not be opened for reading
  kMappingFailed = 2,  // no mapping object (an empty file always ends here)
  kViewFailed = 3,     // the mapping exists but no view could be mapped
};

// The size of the file as a stream opened for reading measures it (open, seek to the end, tell);
// nullopt when it cannot be opened. Wide paths are UTF-16 on Windows, UTF-32 converted to UTF-8
// on POSIX.
std::optional<uint64_t> MeasureFile(const std::wstring& path);

class MappedFile {
 public:
  MappedFile();
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Closes what is open, then maps `path`. On failure nothing stays open.
  [[nodiscard]] MapResult Open(const std::wstring& path);
  void Close();
  bool IsOpen() const;
  // The mapped bytes (the whole file); empty when nothing is open.
  std::span<const uint8_t> Bytes() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform

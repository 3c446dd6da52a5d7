// TempFile: a file in the user's temporary directory that only this process sees and that
// vanishes when it is closed. Windows opens it exclusively with delete-on-close and schedules
// it for deletion at the next restart; POSIX creates it exclusively and unlinks it at once.
// One TempFile has one file position; callers that share it across threads serialise access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace platform {

// The temporary directory with its trailing separator, as GetTempPathA gives it
// ("C:\\Users\\x\\AppData\\Local\\Temp\\"; POSIX: $TMPDIR or "/tmp", with "/" appended).
std::string TempDirectory();

class TempFile {
 public:
  // Creates (on Windows also truncates) the file at `path`; POSIX refuses a path that exists
  // already, so a file or symlink planted in a shared directory is never truncated or followed.
  // `temporaryAttribute` adds FILE_ATTRIBUTE_TEMPORARY on Windows. An object whose creation
  // failed is returned all the same: Valid() is false and every operation fails without
  // touching anything.
  static std::unique_ptr<TempFile> Create(const std::string& path, bool temporaryAttribute);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Valid() const;
  const std::string& Path() const { return path_; }

  // Size in bytes; 0 when invalid.
  uint64_t Size();
  // Moves the file position to the end / to `offset`; false on failure.
  bool SeekEnd();
  bool Seek(uint64_t offset);
  // Writes all bytes at the file position; false when not all were written.
  bool Write(std::span<const uint8_t> bytes);
  // Reads up to out.size() bytes at the file position; returns the count read (0 on failure).
  size_t Read(std::span<uint8_t> out);

  struct Impl;

 private:
  TempFile(std::string path, std::unique_ptr<Impl> impl);
  std::string path_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform

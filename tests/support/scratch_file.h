// ScratchFile: a file with given bytes in the temporary directory, removed again on destruction.
// For tests that need a path (PeImage::Load, the drive walk). Each object has its own name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace support {

class ScratchFile {
 public:
  // Writes `bytes`; Written() tells whether all of them reached the file.
  explicit ScratchFile(std::span<const uint8_t> bytes);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  bool Written() const { return written_; }
  std::wstring Path() const { return path_.wstring(); }

 private:
  std::filesystem::path path_;
  bool written_ = false;
};

}  // namespace support

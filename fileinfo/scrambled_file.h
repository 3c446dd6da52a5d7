// ScrambledFile: a temporary file of length-prefixed records, scrambled so that the texts the
// engine keeps (signature records, hash-record names) do not stand in plain text on disk.
// A record at file offset o is a 4-byte little-endian length XOR kLengthMask, then the body,
// body byte k XOR kRecordKey[(o + k) % 8]. Appends come from one thread before any read;
// reads may come from several threads at once (one lock keeps each seek and read together).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/spin_lock.h"
#include "platform/temp_file.h"

namespace fileinfo {

inline constexpr uint32_t kLengthMask = 0x5A3C96E1;
inline constexpr std::array<uint8_t, 8> kRecordKey = {0x3B, 0xA7, 0x5E, 0x91,
                                                      0xC4, 0x2D, 0x78, 0xF0};
// The offset Append gives when it wrote no record; Read never finds a record there.
inline constexpr uint32_t kNoRecord = 0xFFFFFFFF;

class ScrambledFile {
 public:
  // Creates the file at `path` (platform::TempFile::Create); an invalid file stays empty:
  // appends write nothing and reads fail.
  ScrambledFile(const std::string& path, bool temporaryAttribute);
  ScrambledFile(const ScrambledFile&) = delete;
  ScrambledFile& operator=(const ScrambledFile&) = delete;

  bool Valid() const;
  const std::string& Path() const;

  // Appends one record at the end of the file and returns its offset (the size before the
  // append). Takes no lock. Returns kNoRecord when the record was not written whole: an invalid
  // file, a failed write, or a record that would end past the last 32-bit offset.
  [[nodiscard]] uint32_t Append(std::span<const uint8_t> body);

  // The unscrambled body of the record at `offset`, or nullopt when its length or its whole body
  // cannot be read (no file, an offset past the end, a length that runs past the end).
  [[nodiscard]] std::optional<std::vector<uint8_t>> Read(uint32_t offset);

 private:
  std::unique_ptr<platform::TempFile> file_;
  platform::SpinLock lock_;
};

}  // namespace fileinfo

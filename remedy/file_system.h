// FileSystem: the file system services remediation uses. Paths are full and wide.
// Win32FileSystem (file_system_win.cc) makes the real calls; tests use FakeMachine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace remedy {

// Drive types as GetDriveTypeW reports them; only these two are acted on.
inline constexpr uint32_t kDriveRemovable = 2;
inline constexpr uint32_t kDriveFixed = 3;

// File attribute bits as Windows defines them.
inline constexpr uint32_t kAttributeReadOnly = 0x1;
inline constexpr uint32_t kAttributeHidden = 0x2;
inline constexpr uint32_t kAttributeSystem = 0x4;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeArchive = 0x20;
inline constexpr uint32_t kAttributeNormal = 0x80;
inline constexpr uint32_t kAttributeReparsePoint = 0x400;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;  // what a failed query returns

// One entry of a directory listing: the find record's attributes and name.
struct FindEntry {
  uint32_t attributes = 0;
  std::wstring name;
};

// An open directory search (FindNextFileW); destroying it closes the search (FindClose).
class Listing {
 public:
  virtual ~Listing() = default;
  // The next entry in the file system's order; false when there is none (or the call failed).
  virtual bool Next(FindEntry& entry) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual uint32_t DriveType(const std::wstring& root) = 0;  // GetDriveTypeW
  // FindFirstFileW on `pattern` ("D\*.*"); null when the search cannot be opened, with the
  // error code in `error`; otherwise `first` holds the first entry.
  virtual std::unique_ptr<Listing> FindFirst(const std::wstring& pattern, FindEntry& first,
                                             uint32_t& error) = 0;
  virtual uint32_t Attributes(const std::wstring& path) = 0;  // kInvalidAttributes when absent
  virtual bool SetAttributes(const std::wstring& path, uint32_t attributes) = 0;
  virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;  // MoveFileW
  virtual bool RemoveFile(const std::wstring& path) = 0;                      // DeleteFileW
  // Replaces the file's DACL by a null DACL, which grants every access to everyone.
  virtual bool SetNullDacl(const std::wstring& path) = 0;
  // The whole file (opened for reading with read and write sharing); false when it cannot be
  // opened, measured or read in full, or holds more than `maxBytes`, and `bytes` is left alone
  // then. An empty file gives true and no bytes.
  virtual bool ReadWholeFile(const std::wstring& path, size_t maxBytes,
                             std::vector<uint8_t>& bytes) = 0;
};

}  // namespace remedy

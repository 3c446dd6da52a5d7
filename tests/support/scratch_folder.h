// ScratchFolder: a folder of its own under the temporary directory for the Win32 service tests,
// removed with everything in it (links are removed, not followed) on destruction. The helpers
// below make the files, links and protections those tests need. Windows builds only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace support {

class ScratchFolder {
 public:
  // `tag` goes into the name, so that a folder left behind by a crash says whose it was.
  explicit ScratchFolder(const std::wstring& tag);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Full path without a trailing backslash; empty when the folder could not be made.
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// Each takes a full path, of any length. False when the operation failed.
bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::wstring& path);  // empty when it cannot be read
bool MakeDirectories(const std::wstring& path);            // every missing level
// A directory junction (a mount-point reparse point) at `link`, which must not exist.
bool MakeJunction(const std::wstring& link, const std::wstring& target);
bool MakeDirectorySymlink(const std::wstring& link, const std::wstring& target);
// Replaces the file's DACL by one that lets everyone read and execute it, nothing else.
bool SetReadOnlyDacl(const std::wstring& path);
bool RunningUnderWine();

}  // namespace support

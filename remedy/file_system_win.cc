#include <windows.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/win/scoped.h"
#include "remedy/long_path.h"
#include "remedy/win32_services.h"

namespace remedy {
namespace {

static_assert(kMaxPath == MAX_PATH);

constexpr size_t kReadChunk = 1u << 30;

FindEntry ToEntry(const WIN32_FIND_DATAW& data) {
  return FindEntry{data.dwFileAttributes, data.cFileName};
}

class Win32Listing final : public Listing {
 public:
  explicit Win32Listing(HANDLE search) : search_(search) {}
  bool Next(FindEntry& entry) override {
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(search_.Get(), &data)) return false;
    entry = ToEntry(data);
    return true;
  }

 private:
  platform::ScopedFind search_;
};

}  // namespace

uint32_t Win32FileSystem::DriveType(const std::wstring& root) {
  return GetDriveTypeW(root.c_str());
}

std::unique_ptr<Listing> Win32FileSystem::FindFirst(const std::wstring& pattern, FindEntry& first,
                                                    uint32_t& error) {
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW(LongPathForm(pattern).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  first = ToEntry(data);
  return std::make_unique<Win32Listing>(search);
}

uint32_t Win32FileSystem::Attributes(const std::wstring& path) {
  return GetFileAttributesW(LongPathForm(path).c_str());
}

bool Win32FileSystem::SetAttributes(const std::wstring& path, uint32_t attributes) {
  return SetFileAttributesW(LongPathForm(path).c_str(), attributes) != FALSE;
}

bool Win32FileSystem::Rename(const std::wstring& from, const std::wstring& to) {
  return MoveFileW(LongPathForm(from).c_str(), LongPathForm(to).c_str()) != FALSE;
}

bool Win32FileSystem::RemoveFile(const std::wstring& path) {
  return DeleteFileW(LongPathForm(path).c_str()) != FALSE;
}

bool Win32FileSystem::SetNullDacl(const std::wstring& path) {
  auto descriptor = std::make_unique<SECURITY_DESCRIPTOR>();
  if (!InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION)) return false;
  // Present but null: every access for everyone. Owner, group and SACL stay as they are.
  if (!SetSecurityDescriptorDacl(descriptor.get(), TRUE, nullptr, FALSE)) return false;
  return SetFileSecurityW(LongPathForm(path).c_str(), DACL_SECURITY_INFORMATION,
                          descriptor.get()) != FALSE;
}

bool Win32FileSystem::ReadWholeFile(const std::wstring& path, size_t maxBytes,
                                    std::vector<uint8_t>& bytes) {
  const platform::ScopedHandle file(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) return false;  // a size that cannot be read: skipped
  if (size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > maxBytes) return false;
  std::vector<uint8_t> content(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < content.size()) {
    // ReadFile counts in 32 bits: a larger rest is read in several calls.
    const DWORD want = static_cast<DWORD>(std::min<size_t>(content.size() - done, kReadChunk));
    DWORD got = 0;
    if (!ReadFile(file.Get(), content.data() + done, want, &got, nullptr) || got == 0) {
      return false;  // a file that shrank meanwhile ends the same way
    }
    done += got;
  }
  bytes = std::move(content);
  return true;
}

}  // namespace remedy

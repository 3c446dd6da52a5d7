#include <windows.h>

#include <memory>

#include "platform/win/scoped.h"
#include "remedy/win32_services.h"

namespace remedy {
namespace {

// Paths of MAX_PATH units or more need the "\\?\" form, which Windows takes literally: the
// doubled backslash the walk writes after a drive root must go first.
std::wstring Win32Path(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.rfind(L"\\\\", 0) == 0) return path;
  std::wstring literal = L"\\\\?\\";
  for (const wchar_t c : path) {
    if (c == L'\\' && !literal.empty() && literal.back() == L'\\' && literal.size() > 4) continue;
    literal += c;
  }
  return literal;
}

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

std::unique_ptr<Listing> Win32FileSystem::FindFirst(const std::wstring& pattern,
                                                    FindEntry& first, uint32_t& error) {
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW(Win32Path(pattern).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  first = ToEntry(data);
  return std::make_unique<Win32Listing>(search);
}

uint32_t Win32FileSystem::Attributes(const std::wstring& path) {
  return GetFileAttributesW(Win32Path(path).c_str());
}

bool Win32FileSystem::SetAttributes(const std::wstring& path, uint32_t attributes) {
  return SetFileAttributesW(Win32Path(path).c_str(), attributes) != FALSE;
}

bool Win32FileSystem::Rename(const std::wstring& from, const std::wstring& to) {
  return MoveFileW(Win32Path(from).c_str(), Win32Path(to).c_str()) != FALSE;
}

bool Win32FileSystem::RemoveFile(const std::wstring& path) {
  return DeleteFileW(Win32Path(path).c_str()) != FALSE;
}

bool Win32FileSystem::SetNullDacl(const std::wstring& path) {
  auto descriptor = std::make_unique<SECURITY_DESCRIPTOR>();
  if (!InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION)) return false;
  // Present but null: every access for everyone. Owner, group and SACL stay as they are.
  if (!SetSecurityDescriptorDacl(descriptor.get(), TRUE, nullptr, FALSE)) return false;
  return SetFileSecurityW(Win32Path(path).c_str(), DACL_SECURITY_INFORMATION,
                          descriptor.get()) != FALSE;
}

bool Win32FileSystem::ReadWholeFile(const std::wstring& path, size_t maxBytes,
                                    std::vector<uint8_t>& bytes) {
  const platform::ScopedHandle file(CreateFileW(Win32Path(path).c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) return false;  // a size that cannot be read: skipped
  if (size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > maxBytes) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(bytes.size() - done);
    if (!ReadFile(file.Get(), bytes.data() + done, want, &got, nullptr) || got == 0) {
      bytes.clear();
      return false;
    }
    done += got;
  }
  return true;
}

}  // namespace remedy

// Every path is handed to Windows in its "\\?\" form, so the helpers reach trees deeper than
// MAX_PATH; that form takes no doubled backslash, and the paths given here have none.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "tests/support/scratch_folder.h"

namespace support {
namespace {

std::wstring Literal(const std::wstring& path) {
  return path.rfind(L"\\\\", 0) == 0 ? path : L"\\\\?\\" + path;
}

void RemoveTree(const std::wstring& path) {
  const std::wstring literal = Literal(path);
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW((literal + L"\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(Literal(child).c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(Literal(child).c_str());
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveDirectoryW(Literal(child).c_str());  // the link only, never its target
      } else {
        RemoveTree(child);
      }
    } while (FindNextFileW(search, &data));
    FindClose(search);
  }
  RemoveDirectoryW(literal.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder(const std::wstring& tag) {
  static std::atomic<uint32_t> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return;
  std::wstring path(temp, length);
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  path += L"\\nolvexa-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter++);
  if (CreateDirectoryW(Literal(path).c_str(), nullptr)) path_ = path;
}

ScratchFolder::~ScratchFolder() {
  if (!path_.empty()) RemoveTree(path_);
}

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileW(Literal(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    ok = WriteFile(file, bytes.data() + done, want, &wrote, nullptr) && wrote == want;
    done += wrote;
  }
  return CloseHandle(file) && ok;
}

std::vector<uint8_t> ReadBytes(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  const HANDLE file = CreateFileW(Literal(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  uint8_t chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  CloseHandle(file);
  return bytes;
}

bool MakeDirectories(const std::wstring& path) {
  // Levels start after the drive's "X:\".
  for (size_t slash = path.find(L'\\', 3);; slash = path.find(L'\\', slash + 1)) {
    const std::wstring level = path.substr(0, slash);
    if (!CreateDirectoryW(Literal(level).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (slash == std::wstring::npos) return true;
  }
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(Literal(link).c_str(), nullptr)) return false;
  const HANDLE dir =
      CreateFileW(Literal(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return false;
  // The mount-point record: tag, data length, reserved, then the substitute name ("\??\" form)
  // and the print name, each with its terminator, as offsets and lengths in bytes.
  const std::wstring substitute = L"\\??\\" + target;
  const std::wstring& print = target;
  const size_t names = (substitute.size() + 1 + print.size() + 1) * sizeof(wchar_t);
  std::vector<uint8_t> record(16 + names, 0);
  auto put16 = [&](size_t at, size_t value) {
    record[at] = static_cast<uint8_t>(value);
    record[at + 1] = static_cast<uint8_t>(value >> 8);
  };
  const uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(record.data(), &tag, 4);
  put16(4, 8 + names);
  put16(8, 0);
  put16(10, substitute.size() * sizeof(wchar_t));
  put16(12, (substitute.size() + 1) * sizeof(wchar_t));
  put16(14, print.size() * sizeof(wchar_t));
  std::memcpy(record.data() + 16, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
  std::memcpy(record.data() + 16 + (substitute.size() + 1) * sizeof(wchar_t), print.c_str(),
              (print.size() + 1) * sizeof(wchar_t));
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(dir, FSCTL_SET_REPARSE_POINT, record.data(),
                      static_cast<DWORD>(record.size()), nullptr, 0, &returned, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(dir);
  if (!ok) {
    RemoveDirectoryW(Literal(link).c_str());
    SetLastError(error);
  }
  return ok != FALSE;
}

bool MakeDirectorySymlink(const std::wstring& link, const std::wstring& target) {
  constexpr DWORD kAllowUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  return CreateSymbolicLinkW(link.c_str(), target.c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | kAllowUnprivileged) != FALSE;
}

bool SetReadOnlyDacl(const std::wstring& path) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    return false;
  }
  const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(everyone);
  std::vector<uint8_t> aclBytes(aclSize);
  ACL* acl = reinterpret_cast<ACL*>(aclBytes.data());
  SECURITY_DESCRIPTOR descriptor;
  const bool ok =
      InitializeAcl(acl, aclSize, ACL_REVISION) &&
      AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, everyone) &&
      InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
      SetFileSecurityW(Literal(path).c_str(), DACL_SECURITY_INFORMATION, &descriptor);
  FreeSid(everyone);
  return ok;
}

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace support

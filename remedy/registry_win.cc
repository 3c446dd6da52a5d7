#include <windows.h>

#include "platform/win/scoped.h"
#include "remedy/win32_services.h"

namespace remedy {
namespace {

HKEY ToHkey(RootKey root) {
  return root == RootKey::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// KEY_READ without a view flag: a 32-bit build on 64-bit Windows reads the 32-bit view.
bool OpenKey(RootKey root, const std::wstring& subkey, platform::ScopedKey& key) {
  return RegOpenKeyExW(ToHkey(root), subkey.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

}  // namespace

bool Win32Registry::ValueNames(RootKey root, const std::wstring& subkey,
                               std::vector<std::wstring>& names) {
  platform::ScopedKey key;
  if (!OpenKey(root, subkey, key)) return false;
  wchar_t name[kValueNameCapacity];
  for (DWORD index = 0;; ++index) {
    DWORD length = kValueNameCapacity;
    if (RegEnumValueW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;  // normally the end of the values
    }
    names.emplace_back(name, length);
  }
  return true;
}

bool Win32Registry::QueryValue(RootKey root, const std::wstring& subkey, const std::wstring& name,
                               std::wstring& data) {
  platform::ScopedKey key;
  if (!OpenKey(root, subkey, key)) return false;
  wchar_t buffer[kValueDataCapacity / sizeof(wchar_t)] = {};
  DWORD type = 0;
  DWORD length = kValueDataCapacity;
  if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                       &length) != ERROR_SUCCESS) {
    return false;
  }
  // The data need not carry its terminator: go by the byte count, then stop at the first zero.
  const size_t units = length / sizeof(wchar_t);
  size_t end = 0;
  while (end < units && buffer[end] != L'\0') ++end;
  data.assign(buffer, end);
  return true;
}

}  // namespace remedy

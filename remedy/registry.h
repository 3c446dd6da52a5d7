// Registry: the registry reads of the autorun cleanup. Keys are opened for reading only.
// Win32Registry (registry_win.cc) makes the real calls; tests use FakeMachine.
#pragma once

#include <string>
#include <vector>

namespace remedy {

enum class RootKey { kLocalMachine, kCurrentUser };

inline constexpr size_t kValueNameCapacity = 1024;  // UTF-16 units, terminator included
inline constexpr size_t kValueDataCapacity = 1024;  // bytes

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the key and lists its value names in index order until the enumeration fails; a name
  // that does not fit the name capacity ends the listing as Windows does. False when the key
  // cannot be opened.
  virtual bool ValueNames(RootKey root, const std::wstring& subkey,
                          std::vector<std::wstring>& names) = 0;
  // Opens the key and reads one value's data into a buffer of kValueDataCapacity bytes, taken as
  // zero-terminated UTF-16 whatever the value's type. False when the key cannot be opened or the
  // value cannot be read (a value longer than the capacity among them).
  virtual bool QueryValue(RootKey root, const std::wstring& subkey, const std::wstring& name,
                          std::wstring& data) = 0;
};

}  // namespace remedy

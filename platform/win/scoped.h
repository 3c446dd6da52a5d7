// Scoped<T, Close>: sole owner of one Win32 handle, closed with `Close` when the owner goes.
// Move-only; a moved-from owner holds no handle. Valid() treats both NULL and
// INVALID_HANDLE_VALUE as "no handle", since Win32 calls report failure with either.
// Included only by *_win.cc files (it needs <windows.h>).
#pragma once

#include <windows.h>

#include <utility>

namespace platform {

template <typename T, auto Close>
class Scoped {
 public:
  Scoped() = default;
  explicit Scoped(T handle) : handle_(handle) {}
  ~Scoped() { Reset(); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  Scoped(Scoped&& other) noexcept : handle_(other.Release()) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  bool Valid() const { return IsHandle(handle_); }
  T Get() const { return handle_; }

  // Closes the handle held (if any) and takes `handle`.
  void Reset(T handle = T{}) {
    const T old = std::exchange(handle_, handle);
    if (IsHandle(old)) Close(old);
  }
  // Gives the handle up without closing it.
  [[nodiscard]] T Release() { return std::exchange(handle_, T{}); }
  // Closes what is held and returns the slot for a call that writes a handle into it
  // (RegOpenKeyExW and the like).
  T* Receive() {
    Reset();
    return &handle_;
  }

 private:
  static bool IsHandle(T handle) {
    return handle != T{} && reinterpret_cast<HANDLE>(handle) != INVALID_HANDLE_VALUE;
  }

  T handle_{};
};

using ScopedHandle = Scoped<HANDLE, &CloseHandle>;
using ScopedFind = Scoped<HANDLE, &FindClose>;
using ScopedKey = Scoped<HKEY, &RegCloseKey>;

}  // namespace platform

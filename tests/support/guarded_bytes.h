// GuardedBytes: a copy of some bytes that ends where a page the process may not touch begins, so
// a read one byte past the end faults at once in every build, not only under AddressSanitizer.
// Seal() takes access to the bytes themselves away as well, for tests that show some bytes are
// never read. Not copyable; the bytes live until destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace support {

class GuardedBytes {
 public:
  explicit GuardedBytes(std::span<const uint8_t> bytes);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  // False when the pages could not be had; Data() is then nullptr.
  bool Valid() const { return base_ != nullptr; }
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  // False when the protection could not be changed.
  bool Seal();

 private:
  uint8_t* base_ = nullptr;  // the first page
  size_t mapped_ = 0;        // bytes of pages, the guard page included
  size_t dataPages_ = 0;     // pages before the guard page
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// The pages behind it, one implementation per system (guarded_bytes_posix.cc, _win.cc).
size_t PageSize();
uint8_t* ReservePages(size_t bytes);  // read-write, or nullptr
bool ProtectNone(uint8_t* at, size_t bytes);
void ReleasePages(uint8_t* at, size_t bytes);

}  // namespace support

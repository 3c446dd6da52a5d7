// Range checks and little-endian field access for untrusted bytes (file images, record files).
// Every read is preceded by an InRange check that cannot overflow; the loads then assume it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fileinfo {

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
constexpr bool InRange(uint64_t size, uint64_t offset, uint64_t length) {
  return length <= size && offset <= size - length;
}

// The loads take 64-bit offsets so that callers may compute them without overflow; a checked
// offset lies below bytes.size() and so fits size_t.

// The caller has checked InRange(bytes.size(), offset, 2).
inline uint16_t LoadU16(std::span<const uint8_t> bytes, uint64_t offset) {
  const uint8_t* p = bytes.data() + static_cast<size_t>(offset);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The caller has checked InRange(bytes.size(), offset, 4).
inline uint32_t LoadU32(std::span<const uint8_t> bytes, uint64_t offset) {
  const uint8_t* p = bytes.data() + static_cast<size_t>(offset);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The caller has checked InRange(bytes.size(), offset, 4).
inline void StoreU32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
  uint8_t* p = bytes.data() + offset;
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace fileinfo

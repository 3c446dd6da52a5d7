// Md5Buffer: the MD5 digest of a byte range, computed in one pass without copying the input.
// A pure function: any thread may call it. The same bytes give the same digest on every host.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace fileinfo {

using Md5Digest = std::array<uint8_t, 16>;  // in the standard byte order

Md5Digest Md5Buffer(std::span<const uint8_t> data);

}  // namespace fileinfo

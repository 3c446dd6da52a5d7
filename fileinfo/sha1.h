// Sha1Buffer: the SHA-1 digest of a byte range, computed in one pass without copying the input.
// A pure function: any thread may call it. The same bytes give the same digest on every host.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace fileinfo {

using Sha1Digest = std::array<uint8_t, 20>;  // in the standard byte order

Sha1Digest Sha1Buffer(std::span<const uint8_t> data);

}  // namespace fileinfo

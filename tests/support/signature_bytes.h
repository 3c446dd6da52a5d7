// SignatureBytes: concrete bytes that a signature's pattern text matches, for planting in test
// buffers and images. Wildcard nibbles take `wildcard`'s nibbles, each gap is filled with
// `filler` bytes, as many as the gap's minimum plus `extraGap` (clamped to its maximum); the
// rolling-hash suffix and anything after a blank are ignored. Texts as the engine reads them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace support {

struct PlantOptions {
  uint8_t wildcard = 0x00;
  uint8_t filler = 0xCC;
  uint32_t extraGap = 0;
};

std::vector<uint8_t> SignatureBytes(std::string_view patternText, PlantOptions options = {});

// Writes `bytes` into `into` at `offset`, growing it when needed.
void Plant(std::vector<uint8_t>& into, size_t offset, const std::vector<uint8_t>& bytes);

}  // namespace support

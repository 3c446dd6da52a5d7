#include "tests/support/signature_bytes.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace support {
namespace {

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // '?'
}

}  // namespace

std::vector<uint8_t> SignatureBytes(std::string_view text, PlantOptions options) {
  std::vector<uint8_t> bytes;
  size_t i = 0;
  while (i < text.size() && text[i] != ':' && static_cast<signed char>(text[i]) > 32) {
    if (text[i] == '{') {
      const size_t close = text.find('}', i);
      const std::string gap(text.substr(i + 1, close - i - 1));
      const unsigned long minimum = std::strtoul(gap.c_str(), nullptr, 10);
      const size_t dash = gap.find('-');
      const unsigned long maximum =
          dash == std::string::npos ? 0xFFFF : std::strtoul(gap.c_str() + dash + 1, nullptr, 10);
      const unsigned long count = std::min<unsigned long>(minimum + options.extraGap, maximum);
      bytes.insert(bytes.end(), count, options.filler);
      i = close + 1;
      continue;
    }
    const int high = Nibble(text[i]);
    const int low = i + 1 < text.size() ? Nibble(text[i + 1]) : -1;
    bytes.push_back(static_cast<uint8_t>(((high < 0 ? options.wildcard >> 4 : high) << 4) |
                                         (low < 0 ? options.wildcard & 0x0F : low)));
    i += 2;
  }
  return bytes;
}

void Plant(std::vector<uint8_t>& into, size_t offset, const std::vector<uint8_t>& bytes) {
  if (into.size() < offset + bytes.size()) into.resize(offset + bytes.size());
  std::copy(bytes.begin(), bytes.end(), into.begin() + static_cast<long>(offset));
}

}  // namespace support

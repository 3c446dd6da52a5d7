#include "tests/support/reference_matcher.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>
#include <string_view>

#include "engine/scan_windows.h"
#include "fileinfo/md5.h"

namespace support {
namespace {

struct Token {
  uint8_t value;
  uint8_t mask;
};

struct Part {
  std::vector<Token> tokens;
  uint32_t minGap = 0;  // distance from the previous part's end to this part's start
  uint32_t maxGap = 0;
};

struct Block {
  bool present = false;
  uint32_t size = 0;
  uint32_t checksum = 0;
  std::array<uint8_t, 16> digest{};
};

struct Parsed {
  std::vector<Part> parts;
  Block block;
};

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

Parsed Parse(std::string_view text) {
  Parsed parsed;
  parsed.parts.emplace_back();
  size_t i = 0;
  while (i < text.size() && text[i] != ':') {
    if (text[i] == '{') {
      const size_t close = text.find('}', i);
      const std::string gap(text.substr(i + 1, close - i - 1));
      Part next;
      next.minGap = static_cast<uint32_t>(std::strtoul(gap.c_str(), nullptr, 10));
      const size_t dash = gap.find('-');
      next.maxGap = dash == std::string::npos
                        ? 65536
                        : static_cast<uint32_t>(std::strtoul(gap.c_str() + dash + 1, nullptr, 10));
      parsed.parts.push_back(next);
      i = close + 1;
      continue;
    }
    const int high = Nibble(text[i]);
    const int low = Nibble(text[i + 1]);
    parsed.parts.back().tokens.push_back(
        {static_cast<uint8_t>((high < 0 ? 0 : high) << 4 | (low < 0 ? 0 : low)),
         static_cast<uint8_t>((high < 0 ? 0 : 0xF0) | (low < 0 ? 0 : 0x0F))});
    i += 2;
  }
  if (text.substr(i).starts_with(":RH;")) {
    // ":RH;" size ";" placement ";" checksum ";" digest ";"
    std::vector<std::string> fields;
    size_t pos = i + 4;
    while (pos < text.size() && fields.size() < 4) {
      const size_t semicolon = std::min(text.find(';', pos), text.size());
      fields.emplace_back(text.substr(pos, semicolon - pos));
      pos = semicolon + 1;
    }
    parsed.block.present = true;
    parsed.block.size = static_cast<uint32_t>(std::strtoul(fields[0].c_str(), nullptr, 10));
    parsed.block.checksum = static_cast<uint32_t>(std::strtoul(fields[2].c_str(), nullptr, 10));
    for (size_t b = 0; b < 16; ++b) {
      parsed.block.digest[b] =
          static_cast<uint8_t>(Nibble(fields[3][2 * b]) << 4 | Nibble(fields[3][2 * b + 1]));
    }
  }
  return parsed;
}

// Whether `part` lies at data[at ..] inside a window of `length` bytes.
bool PartAt(const Part& part, const uint8_t* window, size_t length, size_t at) {
  if (at > length || length - at < part.tokens.size()) return false;
  for (size_t k = 0; k < part.tokens.size(); ++k) {
    if ((window[at + k] & part.tokens[k].mask) != part.tokens[k].value) return false;
  }
  return true;
}

// Whether parts[index ..] follow a part that ended at `end`.
bool RestFrom(const std::vector<Part>& parts, size_t index, const uint8_t* window, size_t length,
              size_t end) {
  if (index == parts.size()) return true;
  const Part& part = parts[index];
  for (size_t gap = part.minGap; gap <= part.maxGap && end + gap <= length; ++gap) {
    if (PartAt(part, window, length, end + gap) &&
        RestFrom(parts, index + 1, window, length, end + gap + part.tokens.size())) {
      return true;
    }
  }
  return false;
}

uint32_t PlainChecksum(const uint8_t* data, size_t n) {
  uint32_t a = 0;
  uint32_t b = 0;
  for (size_t k = 0; k < n; ++k) {
    a = (a + data[k]) % 65536;
    b = (b + a) % 65536;
  }
  return b * 65536 + a;
}

bool BlockIn(const Block& block, const std::vector<engine::ScanWindow>& windows) {
  for (const engine::ScanWindow& w : windows) {
    const size_t length = static_cast<size_t>(w.length);
    for (size_t i = 0; i + block.size <= length; ++i) {
      if (PlainChecksum(w.start + i, block.size) == block.checksum &&
          fileinfo::Md5Buffer(std::span(w.start + i, block.size)) == block.digest) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> ReferenceScan(std::span<const ReferenceSignature> signatures,
                                       const uint8_t* buffer, int32_t size,
                                       const fileinfo::PeImage* pe,
                                       const engine::ExtraData* extraData) {
  const std::vector<engine::ScanWindow> windows = engine::SelectScanWindows(buffer, size, pe);
  std::set<std::string> names;
  for (const ReferenceSignature& signature : signatures) {
    if (names.count(signature.kindName) != 0) continue;
    const Parsed parsed = Parse(signature.pattern);
    bool found = false;
    for (const engine::ScanWindow& w : windows) {
      const size_t length = static_cast<size_t>(w.length);
      for (size_t s = 0; s < length && !found; ++s) {
        if (!PartAt(parsed.parts[0], w.start, length, s)) continue;
        if (!RestFrom(parsed.parts, 1, w.start, length, s + parsed.parts[0].tokens.size())) {
          continue;
        }
        const int32_t offset = static_cast<int32_t>(w.start - buffer + static_cast<ptrdiff_t>(s));
        found = engine::MatchesLocation(size, pe, offset, signature.location, extraData);
      }
      if (found) break;
    }
    if (found && parsed.block.present) found = BlockIn(parsed.block, windows);
    if (found) names.insert(signature.kindName);
  }
  return {names.begin(), names.end()};
}

}  // namespace support

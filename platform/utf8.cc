// One loop for both widths of wchar_t: a 16-bit unit that starts a surrogate pair takes the
// next unit with it; 32-bit units are code points already.
#include "platform/utf8.h"

#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendCodePoint(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::optional<std::string> Utf8FromWide(std::wstring_view text, bool replaceInvalid) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    // Through the unsigned type of the same width, so that a 32-bit unit past 0x7FFFFFFF stays
    // large instead of turning negative.
    char32_t c;
    if constexpr (sizeof(wchar_t) == 2) {
      c = static_cast<uint16_t>(text[i]);
    } else {
      c = static_cast<uint32_t>(text[i]);
    }
    if constexpr (sizeof(wchar_t) == 2) {
      if (IsHighSurrogate(c) && i + 1 < text.size()) {
        const char32_t next = static_cast<uint16_t>(text[i + 1]);
        if (IsLowSurrogate(next)) {
          c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
          ++i;
        }
      }
    }
    if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > kMaxCodePoint) {
      if (!replaceInvalid) return std::nullopt;
      c = kReplacement;
    }
    AppendCodePoint(out, c);
  }
  return out;
}

}  // namespace platform

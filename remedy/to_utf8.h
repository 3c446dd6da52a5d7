// ToUtf8: wide text to the 8-bit text the console shows and the summary records.
#pragma once

#include <string>
#include <string_view>

namespace remedy {

// Each UTF-16 code unit is converted on its own, without pairing surrogates, so a surrogate pair
// becomes two three-byte sequences and a lone surrogate still gives bytes (nothing is dropped).
// Wide units above 0xFFFF (POSIX wide strings) become four-byte sequences.
std::string ToUtf8(std::wstring_view text);

}  // namespace remedy

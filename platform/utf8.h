// Utf8FromWide: wide text as UTF-8, for paths on POSIX and for debug texts seen by a sink.
// Wide text is UTF-16 where wchar_t has 16 bits (Windows) and UTF-32 elsewhere; surrogate pairs
// are joined. Pure function, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A unit that is no code point (a lone surrogate, a value past U+10FFFF) becomes U+FFFD when
// `replaceInvalid`; otherwise the result is nullopt, since such a path names no file.
std::optional<std::string> Utf8FromWide(std::wstring_view text, bool replaceInvalid);

}  // namespace platform

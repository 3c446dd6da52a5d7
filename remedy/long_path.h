// LongPathForm: the form in which a full path is handed to the Win32 file calls. Pure text
// work, so it is tested on every build.
#pragma once

#include <cstddef>
#include <string>

namespace remedy {

inline constexpr size_t kMaxPath =
    260;  // MAX_PATH: units a plain path may take, terminator included

// A path of kMaxPath units or more goes out in the "\\?\" form, which lifts the limit but is
// taken literally, so the doubled backslashes the walk writes after a drive root are folded.
// Shorter paths, and paths that already start with two backslashes ("\\?\" or a share), are
// returned as they are.
std::wstring LongPathForm(const std::wstring& path);

}  // namespace remedy

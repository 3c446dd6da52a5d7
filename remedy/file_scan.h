// ScanFile: the scan of one file on a fixed drive. The file is mapped and loaded as a PE32
// image; only such images are scanned, by the engine and then by the hash lookup.
#pragma once

#include <string>

#include "remedy/remedy_state.h"

namespace engine {
class Engine;
}

namespace remedy {

inline constexpr int kScanClean = 0;
inline constexpr int kScanMatched = 1;
inline constexpr int kScanNotPe32 = 2;

// kScanMatched with the first match name in `matchName`; kScanClean; or kScanNotPe32 when the
// file does not load as a PE32 image (it cannot be opened or mapped, is empty, is no PE32
// image, or is 2 GiB or larger). `matchName` is left alone unless the file matched.
int ScanFile(engine::Engine& engine, const std::wstring& path, std::string& matchName);

// ScanFile with the context's engine: the drive walk's scanner in the program.
int ScanFileInContext(Context& context, const std::wstring& path, std::string& matchName);

}  // namespace remedy

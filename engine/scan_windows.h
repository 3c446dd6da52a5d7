// Scan windows: the byte ranges of a buffer that a scan walks. A buffer of at most 1 MiB is one
// window; a larger one gets its head and tail, the surroundings of the entry point and the two
// ends of each section, merged into disjoint ascending windows. Pure functions, any thread.
// The windows point into the caller's buffer and are valid as long as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "fileinfo/pe_image.h"

namespace engine {

// Buffers up to this size are walked whole.
inline constexpr int32_t kWholeBufferLimit = 0x100000;
// Head, tail and half the entry window; also the most of a section's end that is walked.
inline constexpr int32_t kHalfWindow = 0x80000;
// Stands in for a FileAlignment of 0 where an entry point or a section is placed in the file.
inline constexpr int32_t kDefaultFileAlignment = 512;
// Written to the debugger output when the boundary walk of the merge ends off balance.
inline constexpr char kUnbalancedWindows[] = "Unb Par";

// A range of the buffer by its offset from the buffer start. Selection and merge work on
// these, so they can be checked on sizes no test could allocate.
struct WindowRange {
  int32_t offset;
  int32_t length;
  friend bool operator==(const WindowRange&, const WindowRange&) = default;
};

struct ScanWindow {
  const uint8_t* start;
  int32_t length;
};

// The file position of the entry point: in the first section with raw data whose file start
// lies in [0, size) and whose virtual range, rounded to the section alignment, holds the entry
// point. None when no section qualifies. The entry window and the "EP" location both use it.
// The value is exact (64-bit), so it can lie beyond the buffer.
std::optional<int64_t> EntryFilePosition(const fileinfo::PeImage& pe, int32_t size);

// The windows of a buffer of `size` bytes, unordered and possibly overlapping. Every range
// lies inside [0, size). A negative size gives one empty range.
std::vector<WindowRange> SelectWindowRanges(int32_t size, const fileinfo::PeImage* pe);

// Disjoint ascending ranges covering exactly the bytes of `ranges`; ranges that overlap or
// touch become one. Each input range must lie inside the buffer (length >= 0).
std::vector<WindowRange> MergeWindowRanges(const std::vector<WindowRange>& ranges);

// Selection then merge, as pointers into `buffer`: what both matchers of a scan walk.
std::vector<ScanWindow> SelectScanWindows(const uint8_t* buffer, int32_t size,
                                          const fileinfo::PeImage* pe);

}  // namespace engine

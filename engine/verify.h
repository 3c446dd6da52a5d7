// Verification of pattern occurrences and confirmation of candidates: the byte comparisons a
// walk runs for each pattern whose anchor it reached, and the location and block checks a scan
// runs on each candidate once both walks are done. Pure functions over read-only data, except
// the block hit list, which belongs to one scan call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/bsm.h"
#include "engine/location.h"
#include "engine/pattern_matcher.h"
#include "engine/rolling_hash.h"
#include "engine/scan_windows.h"
#include "fileinfo/pe_image.h"

namespace engine {

// True when (data[i] AND mask[i]) == pattern[i] for every i below `length`, or data[i] ==
// pattern[i] when `mask` is null. With `sse2` (only honoured on x86) 16 bytes are compared at a
// time, then 4, then single bytes; the result is the same either way.
[[nodiscard]] bool BytesMatch(const uint8_t* data, const uint8_t* pattern, const uint8_t* mask,
                              size_t length, bool sse2);

// Whether `record`, whose anchor ends just before `position`, occurs in the window
// [windowStart, windowEnd) of a matcher with anchors of `anchorLength` bytes. On success
// `offset` is where its first byte lies, counted from the window start; else it is left alone.
// An exact record with a shorter anchor is its own anchor and is verified without comparing.
[[nodiscard]] bool VerifyRecord(const PatternRecord& record, int anchorLength,
                                const uint8_t* windowStart, const uint8_t* position,
                                const uint8_t* windowEnd, bool sse2, int32_t& offset);

// The blocks found in one scan's windows, searched at most once per scan.
struct BlockHitList {
  std::vector<BlockHit> hits;
  bool computed = false;
  int searches = 0;  // times the windows were searched: at most 1
};

// True when the candidate's location text accepts its offset and, if it names a block, that
// block was found in some window (searched on the first such candidate of the scan).
[[nodiscard]] bool ConfirmCandidate(const Candidate& candidate, int32_t size,
                                    const fileinfo::PeImage* pe, const ExtraData* extraData,
                                    std::span<const ScanWindow> windows,
                                    const RollingHashTable& blocks, BlockHitList& blockHits);

}  // namespace engine

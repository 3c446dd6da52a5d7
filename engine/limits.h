// Fixed numbers of the signature engine, each with what happens at the limit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// Bytes of a pattern that enter the automaton; both matchers of the engine use 4.
inline constexpr int kAnchorLength = 4;
// Passes of the anchor choice that pick one shared first byte each; patterns left over take
// the fall-back windows.
inline constexpr int kAnchorPasses = 100;
// Slots the pattern array of a matcher grows by while patterns are collected.
inline constexpr size_t kPatternArrayGrowth = 100000;
// A pattern's length travels as a 16-bit count; AddPattern refuses longer ones.
inline constexpr size_t kMaxPatternLength = 0xFFFF;

// Pattern texts longer than this are refused: a part's byte count must fit 16 bits.
inline constexpr size_t kMaxPatternText = 32767;
// A gap bound that was not given.
inline constexpr uint16_t kNoGapBound = 0xFFFF;
// Record offset of "no signature record" (every part but a signature's last).
inline constexpr uint32_t kNoRecord = 0xFFFFFFFF;

// Entries the rolling-hash table's arrays grow by.
inline constexpr size_t kBlockArrayGrowth = 500;

// Worker threads of the engine; one takes each scan job.
inline constexpr int kWorkerCount = 10;

}  // namespace engine

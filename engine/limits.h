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

// Hits one walk of a matcher collects before they are processed; a verified hit that finds the
// batch full is dropped with the "Too many matches" warning.
inline constexpr int32_t kHitBatch = 10000;
// A batch ends once a node's outputs have carried its count above this (90% of kHitBatch), so
// only a node with more than 1000 outputs at one position can overflow it.
inline constexpr int32_t kHitSoftLimit = kHitBatch * 9 / 10;
// How long a scan waits for its worker before it says so on the debugger output; it then waits
// on without limit, since the worker still reads the buffer and writes the scan's candidates.
inline constexpr uint32_t kJobWaitMs = 10000;

}  // namespace engine

// Scan: one buffer against every compiled signature. The calling thread walks the part matcher
// and chains parts while one of the BSM's workers walks the simple matcher over the same merged
// windows; then every candidate is confirmed by its location and block. Everything of a scan
// lives for the one call. After Compile any number of threads may scan at once: they only read
// the matchers and tables, and the store and the job queue lock themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/bsm.h"
#include "engine/limits.h"
#include "engine/location.h"
#include "engine/pattern_matcher.h"
#include "fileinfo/pe_image.h"
#include "platform/event.h"

namespace engine {

inline constexpr char kTooManyMatches[] =
    "\n\n\n\n==============\nWarning: Too many matches found! Ignoring the rest!\n"
    "================\n\n";
inline constexpr char kPeAndExtraData[] =
    "Warning: Both 'pe' and 'extraData' are set, results should not be relied on.\n";
// Debugger output when a scan's worker outlives the bounded wait; the scan then waits on.
inline constexpr char kJobOverdue[] = "BSM: scan job still running after the wait; waiting on\n";

// A verified pattern occurrence: offset from the window start until the caller converts it.
struct Hit {
  uint32_t patternId;
  int32_t offset;
  uint16_t length;
};

// A fixed array of kHitBatch hits, allocated once per walk, and how many it holds.
struct HitBatch {
  HitBatch() : hits(new Hit[kHitBatch]) {}
  std::unique_ptr<Hit[]> hits;
  int32_t count = 0;
};

// Where one matcher's walk stands: the window, the next byte to read and the node to resume at.
struct MatcherCursor {
  explicit MatcherCursor(const PatternMatcher& m) : matcher(&m), node(&m.Root()) {}
  // Starts the walk of [start, start + length) at the root.
  void Aim(const uint8_t* start, int32_t length) {
    windowStart = position = start;
    windowEnd = start + length;
    node = &matcher->Root();
  }
  const PatternMatcher* matcher;
  const uint8_t* windowStart = nullptr;
  const uint8_t* position = nullptr;
  const uint8_t* windowEnd = nullptr;
  const MatcherNode* node;
};

// Walks on from the cursor and fills `batch` with verified hits (offsets from the window start)
// until the window ends or a node carried the count above kHitSoftLimit; returns the count.
// The cursor stays where the batch stopped, so the next call resumes there; 0 means the window
// is done. A matcher that is not built gives 0 and moves the cursor to the window end.
int32_t WindowScan(MatcherCursor& cursor, HitBatch& batch);

// Waits for a scan job's completion event: `boundMs`, then, noting kJobOverdue on the debugger
// output, without limit. The worker still reads the scan's buffer and writes its candidate
// list, so returning earlier would leave it writing to released memory; its work is bounded by
// the windows, so the wait ends.
void AwaitJob(platform::Event& completion, uint32_t boundMs);

// Seams for tests that need to act at a known point of a scan; production scans pass none.
struct ScanHooks {
  uint32_t jobWaitMs = kJobWaitMs;
  std::function<void()> afterPartBatch;                   // calling thread, after each batch
  std::function<void(size_t window)> beforeWorkerWindow;  // worker, before walking a window
};

// The sorted distinct kind names of the confirmed candidates. Prints kPeAndExtraData when both
// are given. A non-zero `stop` before the call gives an empty list and posts no job; one that
// becomes non-zero ends both walks early, and what was gathered is still confirmed.
std::vector<std::string> Scan(BSM& bsm, const uint8_t* buffer, int32_t size,
                              const fileinfo::PeImage* pe, const std::atomic<int32_t>& stop,
                              const ExtraData* extraData, const ScanHooks* hooks = nullptr);

}  // namespace engine

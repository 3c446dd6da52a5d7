// The header fields are untrusted. The selection reads them as signed 32-bit values and rounds
// with signed division, and it computes in 64 bits, so INT32_MIN / -1, a rounding up past
// INT32_MAX and sums of two huge fields stay defined; where no 32-bit overflow occurs the
// results equal the 32-bit ones. Every window is then clipped to [0, size) in 64 bits, and only
// values inside it are narrowed back to 32 bits.
#include "engine/scan_windows.h"

#include <algorithm>
#include <cassert>

#include "platform/debug_output.h"

namespace engine {
namespace {

// (x / a) * a, truncating toward zero; a != 0.
int64_t RoundDown(int32_t x, int32_t a) { return int64_t{x} / a * a; }

// (x / a + (x % a != 0)) * a; a != 0. For a negative x this is not the next multiple above x:
// -1 rounds up to a.
int64_t RoundUp(int32_t x, int32_t a) {
  const int64_t q = int64_t{x} / a + (int64_t{x} % a != 0 ? 1 : 0);
  return q * a;
}

int32_t FileAlignmentOf(const fileinfo::PeImage& pe) {
  return pe.FileAlignment() == 0 ? kDefaultFileAlignment : static_cast<int32_t>(pe.FileAlignment());
}

// Appends [a, b) clipped to [H, size - H), so a section end never repeats the head or tail.
void AddClamped(std::vector<WindowRange>& out, int64_t a, int64_t b, int32_t size) {
  const int64_t lo = std::max<int64_t>(a, kHalfWindow);
  const int64_t hi = std::min<int64_t>(b, int64_t{size} - kHalfWindow);
  if (lo < hi) out.push_back({static_cast<int32_t>(lo), static_cast<int32_t>(hi - lo)});
}

void AddEntryWindow(std::vector<WindowRange>& out, const fileinfo::PeImage& pe, int32_t size) {
  const std::optional<int64_t> epRaw = EntryFilePosition(pe, size);
  if (!epRaw) return;
  // Both ends are included, so an unclipped window holds 2 * H + 1 bytes.
  const int64_t lo = std::max<int64_t>(*epRaw - kHalfWindow, 0);
  const int64_t hi = std::min<int64_t>(*epRaw + kHalfWindow, int64_t{size} - 1);
  // An entry point more than H bytes past the end (virtual data without raw bytes) leaves
  // nothing of the buffer around it; a window there would have a negative length.
  if (lo > hi) return;
  out.push_back({static_cast<int32_t>(lo), static_cast<int32_t>(hi - lo + 1)});
}

void AddSectionWindows(std::vector<WindowRange>& out, const fileinfo::PeImage& pe, int32_t size) {
  const int32_t fa = FileAlignmentOf(pe);
  for (const fileinfo::SectionHeader& s : pe.Sections()) {
    if (s.sizeOfRawData == 0) continue;
    const int64_t rawSize = static_cast<int32_t>(s.sizeOfRawData);
    const int64_t rawStart = RoundDown(static_cast<int32_t>(s.pointerToRawData), fa);
    int64_t rawLen = RoundUp(static_cast<int32_t>(s.sizeOfRawData), fa);
    // A section that ends the file is often not padded to the alignment.
    if (rawStart + rawSize == size && rawStart + rawLen > size) rawLen = rawSize;
    if (rawStart < 0 || rawStart >= size || rawStart + rawLen < 0 || rawStart + rawLen > size) {
      continue;
    }
    if (rawLen <= kWholeBufferLimit) {
      AddClamped(out, rawStart, rawStart + rawLen, size);
    } else {
      AddClamped(out, rawStart, rawStart + kHalfWindow, size);
      AddClamped(out, rawStart + rawLen - kHalfWindow, rawStart + rawLen, size);
    }
  }
}

struct Boundary {
  uint32_t offset;
  char kind;  // 'o' opens a range, 'c' closes one
};

}  // namespace

std::optional<int64_t> EntryFilePosition(const fileinfo::PeImage& pe, int32_t size) {
  const int32_t fa = FileAlignmentOf(pe);
  const int32_t sa = static_cast<int32_t>(pe.SectionAlignment());
  const uint32_t ep = pe.EntryPoint();
  for (const fileinfo::SectionHeader& s : pe.Sections()) {
    if (s.sizeOfRawData == 0) continue;
    const int64_t rawStart = RoundDown(static_cast<int32_t>(s.pointerToRawData), fa);
    if (rawStart < 0 || rawStart >= size) continue;
    const int32_t va = static_cast<int32_t>(s.virtualAddress);
    const int32_t vs = static_cast<int32_t>(s.virtualSize);
    // The virtual range is compared unsigned, as 32-bit values; its end is summed in 64 bits
    // so that a range reaching past 4 GiB still holds the addresses below its end.
    const uint32_t vStart = static_cast<uint32_t>(sa == 0 ? va : RoundDown(va, sa));
    const uint32_t vSize = static_cast<uint32_t>(sa == 0 ? vs : RoundUp(vs, sa));
    if (vStart <= ep && ep < uint64_t{vStart} + vSize) return int64_t{ep - vStart} + rawStart;
  }
  return std::nullopt;
}

std::vector<WindowRange> SelectWindowRanges(int32_t size, const fileinfo::PeImage* pe) {
  std::vector<WindowRange> out;
  // A negative size only comes from a count that did not fit; nothing of it is walked.
  if (size <= kWholeBufferLimit) {
    out.push_back({0, std::max(size, 0)});
    return out;
  }
  out.push_back({0, kHalfWindow});
  if (pe != nullptr) {
    AddEntryWindow(out, *pe, size);
    AddSectionWindows(out, *pe, size);
  }
  out.push_back({size - kHalfWindow, kHalfWindow});
  return out;
}

std::vector<WindowRange> MergeWindowRanges(const std::vector<WindowRange>& ranges) {
  std::vector<Boundary> boundaries;
  boundaries.reserve(ranges.size() * 2);
  for (const WindowRange& r : ranges) {
    assert(r.offset >= 0 && r.length >= 0);
    const uint32_t start = static_cast<uint32_t>(r.offset);
    boundaries.push_back({start, 'o'});
    boundaries.push_back({start + static_cast<uint32_t>(r.length), 'c'});
  }
  // Opens before closes at one offset, so ranges that only touch merge as well.
  std::sort(boundaries.begin(), boundaries.end(), [](const Boundary& a, const Boundary& b) {
    if (a.offset != b.offset) return a.offset < b.offset;
    return a.kind == 'o' && b.kind == 'c';
  });
  std::vector<WindowRange> merged;
  int64_t depth = 0;
  uint32_t mergedStart = 0;
  for (const Boundary& b : boundaries) {
    if (b.kind == 'o') {
      if (++depth == 1) mergedStart = b.offset;
    } else if (--depth == 0) {
      merged.push_back(
          {static_cast<int32_t>(mergedStart), static_cast<int32_t>(b.offset - mergedStart)});
    }
  }
  // Each range adds one open and one close, so this guards the walk against a future change.
  if (depth != 0) platform::DebugOutput(kUnbalancedWindows);
  return merged;
}

std::vector<ScanWindow> SelectScanWindows(const uint8_t* buffer, int32_t size,
                                          const fileinfo::PeImage* pe) {
  const std::vector<WindowRange> merged = MergeWindowRanges(SelectWindowRanges(size, pe));
  std::vector<ScanWindow> windows;
  windows.reserve(merged.size());
  for (const WindowRange& r : merged) windows.push_back({buffer + r.offset, r.length});
  return windows;
}

}  // namespace engine

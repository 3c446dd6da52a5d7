// The comparisons compute (data AND mask) XOR pattern and test for zero, 16 bytes at a time with
// SSE2 where the processor has it, then 4, then 1. Loads are unaligned and go through memcpy or
// the unaligned intrinsic: neither the scanned data nor the records need any alignment here.
#include "engine/verify.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define NOLVEXA_HAVE_X86 1
#include <emmintrin.h>
#endif

namespace engine {
namespace {

#if defined(NOLVEXA_HAVE_X86)
#if defined(__GNUC__)
// The i686 build does not assume SSE2; only this function uses it, once the processor has
// been asked.
#define NOLVEXA_SSE2_TARGET __attribute__((target("sse2")))
#else
#define NOLVEXA_SSE2_TARGET
#endif

constexpr size_t kVector = 16;

// Compares the first length / 16 * 16 bytes; `done` is how many were compared.
NOLVEXA_SSE2_TARGET bool VectorMatch(const uint8_t* data, const uint8_t* pattern,
                                     const uint8_t* mask, size_t length, size_t& done) {
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; length - i >= kVector; i += kVector) {
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    if (mask != nullptr) {
      d = _mm_and_si128(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i)));
    }
    const __m128i x =
        _mm_xor_si128(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + i)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(x, zero)) != 0xFFFF) return false;
  }
  done = i;
  return true;
}
#endif

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

bool BytesMatch(const uint8_t* data, const uint8_t* pattern, const uint8_t* mask, size_t length,
                bool sse2) {
  size_t i = 0;
#if defined(NOLVEXA_HAVE_X86)
  if (sse2 && !VectorMatch(data, pattern, mask, length, i)) return false;
#else
  (void)sse2;
#endif
  for (; length - i >= 4; i += 4) {
    uint32_t d = Load32(data + i);
    if (mask != nullptr) d &= Load32(mask + i);
    if ((d ^ Load32(pattern + i)) != 0) return false;
  }
  for (; i < length; ++i) {
    const uint8_t d = mask != nullptr ? data[i] & mask[i] : data[i];
    if (d != pattern[i]) return false;
  }
  return true;
}

bool VerifyRecord(const PatternRecord& record, int anchorLength, const uint8_t* windowStart,
                  const uint8_t* position, const uint8_t* windowEnd, bool sse2, int32_t& offset) {
  const size_t walked = static_cast<size_t>(position - windowStart);
  const size_t before = size_t{record.AnchorStart()} + record.AnchorLength();
  if (record.Exact() && record.AnchorLength() < static_cast<uint32_t>(anchorLength)) {
    // Build gives a shorter anchor to an exact record only when the anchor is the whole record.
    assert(record.AnchorStart() == 0 && record.AnchorLength() == record.Length());
    offset = static_cast<int32_t>(walked - before);
    return true;
  }
  if (walked < before) return false;  // the record would start before the window
  const size_t start = walked - before;
  const size_t available = static_cast<size_t>(windowEnd - windowStart) - start;
  if (available < record.Length()) return false;
  const std::span<const uint8_t> mask = record.Mask();
  if (!BytesMatch(windowStart + start, record.Bytes().data(), mask.empty() ? nullptr : mask.data(),
                  record.Length(), sse2)) {
    return false;
  }
  offset = static_cast<int32_t>(start);
  return true;
}

bool ConfirmCandidate(const Candidate& candidate, int32_t size, const fileinfo::PeImage* pe,
                      const ExtraData* extraData, std::span<const ScanWindow> windows,
                      const RollingHashTable& blocks, BlockHitList& blockHits) {
  if (!MatchesLocation(size, pe, candidate.offset, candidate.location, extraData)) return false;
  if (candidate.rollingHashId == 0) return true;
  if (!blockHits.computed) {
    blockHits.hits.clear();
    for (const ScanWindow& w : windows) {
      if (w.length > 0) blocks.FindBlocks(w.start, static_cast<uint32_t>(w.length), blockHits.hits);
    }
    blockHits.computed = true;
    ++blockHits.searches;
  }
  return std::any_of(blockHits.hits.begin(), blockHits.hits.end(),
                     [&](const BlockHit& h) { return h.id == candidate.rollingHashId; });
}

}  // namespace engine

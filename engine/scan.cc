// The walk: the root and every depth-1 node are 256-entry tables, so the first two bytes of an
// anchor cost two lookups and no failure link; only from depth 2 on does the walk follow
// failure links. Depth-1 nodes report nothing: every anchor has at least 2 bytes.
//
// Chaining: the progress table holds, per part id, the pairs (end, first-part start) of the
// chains matched so far in the current window, ordered by end. A hit of a part looks up the
// pairs of the previous part whose end lies the link's gap before the hit, so a chain is
// extended only by a part that starts within its gap bounds and within the same window.
#include "engine/scan.h"

#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "engine/scan_windows.h"
#include "engine/verify.h"
#include "platform/debug_output.h"

namespace engine {
namespace {

// Gap bounds of a link whose bound was not given.
constexpr uint32_t kImpliedMinGap = 1;
constexpr uint32_t kImpliedMaxGap = 65536;

void PrintWarning(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Reports the patterns whose anchor ends at node `x`, the walk being just after the anchor.
void ReportRun(const MatcherNode& x, const MatcherCursor& cursor, const uint8_t* position,
               HitBatch& batch) {
  const PatternMatcher& m = *cursor.matcher;
  for (uint32_t k = 0; k < x.outputCount; ++k) {
    const PatternRecord& r = m.Pattern(x.firstOutput + k);
    int32_t offset = 0;
    if (!VerifyRecord(r, m.AnchorLength(), cursor.windowStart, position, cursor.windowEnd,
                      m.UsesSse2(), offset)) {
      continue;
    }
    if (batch.count == kHitBatch) {
      PrintWarning(kTooManyMatches);
      continue;
    }
    batch.hits[batch.count++] = {r.Id(), offset, static_cast<uint16_t>(r.Length())};
  }
}

bool Stopped(const std::atomic<int32_t>& stop) { return stop.load(std::memory_order_relaxed) != 0; }

void EmitCandidate(SignatureStore& store, uint32_t recordOffset, uint32_t offset,
                   std::vector<Candidate>& candidates) {
  SignatureRecord record = store.Read(recordOffset);
  candidates.push_back({std::move(record.location), std::move(record.kindName),
                        record.rollingHashId, static_cast<int32_t>(offset)});
}

// The part-chaining half of a scan, on the calling thread.
class PartChainer {
 public:
  PartChainer(BSM& bsm, std::vector<Candidate>& candidates) : bsm_(bsm), candidates_(candidates) {}

  void StartWindow() { progress_.clear(); }

  void Process(const Hit* hits, int32_t count, uint32_t windowOffset) {
    const auto& links = bsm_.PartLinks();
    for (int32_t i = 0; i < count; ++i) {
      const Hit& h = hits[i];
      const uint32_t o = windowOffset + static_cast<uint32_t>(h.offset);
      const uint32_t end = o + h.length;
      if (h.patternId >= links.size()) continue;
      for (const PartLink& link : links[h.patternId]) Extend(link, o, end);
    }
  }

 private:
  using Pairs = std::set<std::pair<uint32_t, uint32_t>>;  // (end, first-part start)

  void Extend(const PartLink& link, uint32_t o, uint32_t end) {
    if (link.previousPartId == 0) {
      if (link.recordOffset != kNoRecord)
        EmitCandidate(bsm_.Store(), link.recordOffset, o, candidates_);
      progress_[link.partId].insert({end, o});
      return;
    }
    const auto previous = progress_.find(link.previousPartId);
    if (previous == progress_.end()) return;
    const uint32_t minGap = link.minGap == kNoGapBound ? kImpliedMinGap : link.minGap;
    const uint32_t maxGap = link.maxGap == kNoGapBound ? kImpliedMaxGap : link.maxGap;
    const uint32_t lo = o > maxGap ? o - maxGap : 0;
    const uint32_t hi = o > minGap ? o - minGap : 0;
    starts_.clear();
    for (auto it = previous->second.lower_bound({lo, 0});
         it != previous->second.end() && it->first <= hi; ++it) {
      const uint32_t gap = o - it->first;
      if (link.minGap != kNoGapBound && gap < link.minGap) continue;
      if (link.maxGap != kNoGapBound && gap > link.maxGap) continue;
      starts_.push_back(it->second);
    }
    if (starts_.empty()) return;
    Pairs& mine = progress_[link.partId];
    for (uint32_t s : starts_) {
      if (link.recordOffset != kNoRecord)
        EmitCandidate(bsm_.Store(), link.recordOffset, s, candidates_);
      mine.insert({end, s});
    }
  }

  BSM& bsm_;
  std::vector<Candidate>& candidates_;
  std::map<uint32_t, Pairs> progress_;
  std::vector<uint32_t> starts_;
};

// The worker's half of a scan: its cursor, its batch and the candidates it emits.
struct SimpleHalf {
  explicit SimpleHalf(BSM& b) : bsm(b), cursor(b.SimpleMatcher()) {}
  BSM& bsm;
  MatcherCursor cursor;
  HitBatch batch;
  std::vector<Candidate> candidates;
  const ScanHooks* hooks = nullptr;

  void WalkWindow(const ScanJob& job, size_t k) {
    if (hooks != nullptr && hooks->beforeWorkerWindow) hooks->beforeWorkerWindow(k);
    const uint8_t* start = job.windowStarts[k];
    const uint32_t windowOffset = static_cast<uint32_t>(start - job.bufferStart);
    cursor.Aim(start, static_cast<int32_t>(job.windowLengths[k]));
    const std::vector<uint32_t>& records = bsm.RecordOffsets();
    while (WindowScan(cursor, batch) != 0) {
      // What is left of the window would be dropped batch by batch; stop walking it.
      if (Stopped(*job.stopFlag)) return;
      for (int32_t i = 0; i < batch.count; ++i) {
        const Hit& h = batch.hits[i];
        if (h.patternId >= records.size() || records[h.patternId] == kNoRecord) continue;
        EmitCandidate(bsm.Store(), records[h.patternId],
                      windowOffset + static_cast<uint32_t>(h.offset), *job.candidates);
      }
    }
  }
};

}  // namespace

int32_t WindowScan(MatcherCursor& cursor, HitBatch& batch) {
  const PatternMatcher& m = *cursor.matcher;
  const MatcherNode* const root = &m.Root();
  batch.count = 0;
  if (!m.Built() || root->kind == MatcherNode::kLeaf) {
    cursor.position = cursor.windowEnd;
    return 0;
  }
  const uint8_t* p = cursor.position;
  const uint8_t* const e = cursor.windowEnd;
  const MatcherNode* n = cursor.node;
  auto finish = [&] {
    cursor.node = n;
    cursor.position = p;
    return batch.count;
  };

  while (p < e) {
    uint8_t c = *p++;
    for (;;) {
      if (n == root) {
        const MatcherNode* const n1 = root->children[c];
        if (p == e) {
          if (n1 != nullptr) n = n1;
          return finish();
        }
        const uint8_t c2 = *p++;
        const MatcherNode* const n2 = n1 != nullptr ? n1->children[c2] : nullptr;
        if (n2 == nullptr) {
          c = c2;
          continue;
        }
        n = n2;
        // A depth-2 node's failure chain holds only depth-1 nodes, which report nothing.
        ReportRun(*n, cursor, p, batch);
        if (batch.count > kHitSoftLimit || p == e) return finish();
        c = *p++;
      }
      if (const MatcherNode* child = n->Child(c)) {
        n = child;
        break;
      }
      n = n->failure;
    }
    for (const MatcherNode* x = n; x != root; x = x->failure) ReportRun(*x, cursor, p, batch);
    if (batch.count > kHitSoftLimit) return finish();
  }
  return finish();
}

void AwaitJob(platform::Event& completion, uint32_t boundMs) {
  if (completion.Wait(boundMs)) return;
  platform::DebugOutput(kJobOverdue);
  (void)completion.Wait(platform::kInfinite);
}

std::vector<std::string> Scan(BSM& bsm, const uint8_t* buffer, int32_t size,
                              const fileinfo::PeImage* pe, const std::atomic<int32_t>& stop,
                              const ExtraData* extraData, const ScanHooks* hooks) {
  if (pe != nullptr && extraData != nullptr) PrintWarning(kPeAndExtraData);
  if (Stopped(stop)) return {};
  const std::vector<ScanWindow> windows = SelectScanWindows(buffer, size, pe);

  // The worker's half. Everything the job points to lives in this frame until AwaitJob has
  // seen the completion event.
  SimpleHalf simple(bsm);
  simple.hooks = hooks;
  platform::Event completion(/*manualReset=*/true, /*initiallySet=*/false);
  {
    ScanJob job;
    job.windowStarts.reserve(windows.size());
    job.windowLengths.reserve(windows.size());
    for (const ScanWindow& w : windows) {
      job.windowStarts.push_back(w.start);
      job.windowLengths.push_back(static_cast<uint32_t>(w.length));
    }
    job.stopFlag = &stop;
    job.candidates = &simple.candidates;
    job.bufferStart = buffer;
    job.completion = &completion;
    job.scanWindow = [half = &simple](const ScanJob& j, size_t k) { half->WalkWindow(j, k); };
    bsm.PostJob(std::move(job));
  }

  // The calling thread's half.
  std::vector<Candidate> partCandidates;
  {
    PartChainer chainer(bsm, partCandidates);
    MatcherCursor cursor(bsm.PartMatcher());
    HitBatch batch;
    for (const ScanWindow& w : windows) {
      if (Stopped(stop)) break;
      cursor.Aim(w.start, w.length);
      chainer.StartWindow();
      const uint32_t windowOffset = static_cast<uint32_t>(w.start - buffer);
      while (WindowScan(cursor, batch) != 0) {
        if (Stopped(stop)) break;
        chainer.Process(batch.hits.get(), batch.count, windowOffset);
        if (hooks != nullptr && hooks->afterPartBatch) hooks->afterPartBatch();
      }
    }
  }

  AwaitJob(completion, hooks != nullptr ? hooks->jobWaitMs : kJobWaitMs);

  std::map<std::string, int> counts;
  BlockHitList blockHits;
  for (const std::vector<Candidate>* list : {&simple.candidates, &partCandidates}) {
    for (const Candidate& c : *list) {
      if (ConfirmCandidate(c, size, pe, extraData, windows, bsm.RollingHash(), blockHits)) {
        ++counts[c.kindName];
      }
    }
  }
  std::vector<std::string> names;
  names.reserve(counts.size());
  for (const auto& entry : counts) names.push_back(entry.first);
  return names;
}

}  // namespace engine

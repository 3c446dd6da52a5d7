// The BSM's core and its workers: the job queue hand-off, the stop flag and the shutdown.
#include "engine/bsm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/limits.h"

namespace engine {
namespace {

// Bounds a failure only: a correct hand-off completes long before.
constexpr uint32_t kFailureTimeoutMs = 20000;

TEST(BSM, StartsWithTheReservedTableEntries) {
  BSM bsm("bsm_test");
  EXPECT_EQ(bsm.PartLinks().size(), 1u);
  EXPECT_TRUE(bsm.PartLinks()[0].empty());
  EXPECT_EQ(bsm.RecordOffsets(), std::vector<uint32_t>{kNoRecord});
  EXPECT_EQ(bsm.NextPartId(), 1u);
  EXPECT_EQ(bsm.SignatureCount(), 0u);
  EXPECT_EQ(bsm.SimpleMatcher().AnchorLength(), kAnchorLength);
  EXPECT_EQ(bsm.PartMatcher().AnchorLength(), kAnchorLength);
  EXPECT_EQ(bsm.BaseName(), "bsm_test");
  EXPECT_TRUE(bsm.Store().Valid());
}

// A job over `windows` windows whose walk records which windows it saw.
struct RecordingJob {
  explicit RecordingJob(size_t windows) : data(windows + 1, 0) {
    for (size_t k = 0; k < windows; ++k) {
      job.windowStarts.push_back(data.data() + k);
      job.windowLengths.push_back(1);
    }
    job.stopFlag = &stop;
    job.candidates = &candidates;
    job.bufferStart = data.data();
    job.completion = &done;
    job.scanWindow = [this](const ScanJob& j, size_t k) {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(k);
      // What the scan will do per window: turn hits into candidates of the job's list.
      j.candidates->push_back(
          {"*", "FileSig", 0, static_cast<int32_t>(j.windowStarts[k] - j.bufferStart)});
      if (stopAfter >= 0 && k == static_cast<size_t>(stopAfter)) stop = 1;
    };
  }
  std::vector<uint8_t> data;
  std::atomic<int32_t> stop{0};
  int stopAfter = -1;
  std::vector<Candidate> candidates;
  platform::Event done{/*manualReset=*/true, /*initiallySet=*/false};
  std::mutex mutex;
  std::vector<size_t> seen;
  ScanJob job;
};

TEST(BSM, OneWorkerTakesAPostedJobAndSignalsItsCompletion) {
  BSM bsm("bsm_test");
  RecordingJob r(3);
  bsm.PostJob(r.job);
  ASSERT_TRUE(r.done.Wait(kFailureTimeoutMs));
  std::lock_guard<std::mutex> lock(r.mutex);
  EXPECT_EQ(r.seen, (std::vector<size_t>{0, 1, 2}));  // each window once, in order
  ASSERT_EQ(r.candidates.size(), 3u);
  EXPECT_EQ(r.candidates[2].offset, 2);
}

TEST(BSM, AJobWithoutWindowsOrWithItsStopFlagSetCompletesEmpty) {
  BSM bsm("bsm_test");
  RecordingJob empty(0);
  RecordingJob stopped(4);
  stopped.stop = 1;
  bsm.PostJob(empty.job);
  bsm.PostJob(stopped.job);
  ASSERT_TRUE(empty.done.Wait(kFailureTimeoutMs));
  ASSERT_TRUE(stopped.done.Wait(kFailureTimeoutMs));
  EXPECT_TRUE(empty.seen.empty());
  EXPECT_TRUE(empty.candidates.empty());
  EXPECT_TRUE(stopped.seen.empty());
  EXPECT_TRUE(stopped.candidates.empty());
}

TEST(BSM, AStopFlagSetDuringAJobEndsItBeforeTheNextWindow) {
  BSM bsm("bsm_test");
  RecordingJob r(5);
  r.stopAfter = 1;
  bsm.PostJob(r.job);
  ASSERT_TRUE(r.done.Wait(kFailureTimeoutMs));
  std::lock_guard<std::mutex> lock(r.mutex);
  EXPECT_EQ(r.seen, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(r.candidates.size(), 2u);  // what was gathered stays
}

TEST(BSM, CompletesEveryJobOfABackToBackBurst) {
  // Posts faster than the workers wake find the auto-reset event already set; no job may be
  // left in the queue waiting for a later post.
  BSM bsm("bsm_test");
  constexpr int kJobs = 300;
  std::vector<std::unique_ptr<RecordingJob>> jobs;
  for (int i = 0; i < kJobs; ++i) jobs.push_back(std::make_unique<RecordingJob>(1 + i % 3));
  for (auto& r : jobs) bsm.PostJob(r->job);
  for (int i = 0; i < kJobs; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(jobs[static_cast<size_t>(i)]->done.Wait(kFailureTimeoutMs));
    std::lock_guard<std::mutex> lock(jobs[static_cast<size_t>(i)]->mutex);
    EXPECT_EQ(jobs[static_cast<size_t>(i)]->seen.size(), static_cast<size_t>(1 + i % 3));
  }
}

TEST(BSM, DestructionWaitsForTheRunningJob) {
  auto bsm = std::make_unique<BSM>("bsm_test");
  platform::Event started(/*manualReset=*/true, /*initiallySet=*/false);
  platform::Event release(/*manualReset=*/true, /*initiallySet=*/false);
  std::atomic<bool> finished{false};
  RecordingJob r(1);
  r.job.scanWindow = [&](const ScanJob&, size_t) {
    started.Set();
    (void)release.Wait(kFailureTimeoutMs);
    finished = true;
  };
  bsm->PostJob(r.job);
  ASSERT_TRUE(started.Wait(kFailureTimeoutMs));
  release.Set();
  bsm.reset();  // stops and joins all ten workers, the busy one included
  EXPECT_TRUE(finished);
  EXPECT_TRUE(r.done.Wait(0));
}

}  // namespace
}  // namespace engine

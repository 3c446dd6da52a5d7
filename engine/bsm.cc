// Job hand-off: a post appends to the queue under the queue lock and sets the auto-reset
// job-available event, which releases one waiting worker. Posts that come faster than workers
// wake may find the event still set and leave it set once; so a worker that takes a job and
// sees more waiting sets the event again, and no queued job waits for a later post.
#include "engine/bsm.h"

#include <cassert>
#include <utility>

#include "engine/limits.h"
#include "platform/debug_output.h"

namespace engine {
namespace {

constexpr wchar_t kUnexpectedWaitResult[] = L"BSM Worker thread has unexpected wait result!\n";
constexpr char kStoreNotCreated[] = "BSM: the signature store file could not be created\n";
constexpr int kJobAvailableIndex = 0;
constexpr int kStopIndex = 1;

}  // namespace

BSM::BSM(const std::string& baseName, int workerCount) {
  partLinks_.emplace_back();
  recordOffsets_.push_back(kNoRecord);
  simple_ = std::make_unique<PatternMatcher>(kAnchorLength);
  part_ = std::make_unique<PatternMatcher>(kAnchorLength);
  baseName_ = baseName;
  rollingHash_ = std::make_unique<RollingHashTable>();
  store_ = std::make_unique<SignatureStore>(baseName_);
  if (!store_->Valid()) platform::DebugOutput(kStoreNotCreated);
  workers_.reserve(static_cast<size_t>(workerCount));
  for (int i = 0; i < workerCount; ++i) {
    workers_.push_back(std::make_unique<platform::Thread>([this] { WorkerLoop(); }));
    if (workers_.back()->Started()) ++runningWorkers_;
  }
}

BSM::~BSM() {
  stop_.Set();
  for (auto& worker : workers_) worker->Join();
}

void BSM::PostJob(ScanJob job) {
  assert(job.completion != nullptr && job.windowStarts.size() == job.windowLengths.size());
  jobsPosted_.fetch_add(1, std::memory_order_relaxed);
  if (runningWorkers_ == 0) {
    // Nobody would ever take the job, and its poster waits for it without limit.
    RunJob(job);
    job.completion->Set();
    return;
  }
  {
    platform::SpinLockGuard guard(queueLock_);
    jobs_.push_back(std::move(job));
  }
  jobAvailable_.Set();
}

void BSM::WorkerLoop() {
  platform::Event* const events[] = {&jobAvailable_, &stop_};
  for (;;) {
    const int result = platform::WaitAny(events, platform::kInfinite);
    if (result == kStopIndex) return;
    if (result != kJobAvailableIndex) {
      platform::DebugOutput(kUnexpectedWaitResult);
      continue;
    }
    ScanJob job;
    bool more = false;
    {
      platform::SpinLockGuard guard(queueLock_);
      if (jobs_.empty()) continue;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      more = !jobs_.empty();
    }
    if (more) jobAvailable_.Set();
    RunJob(job);
    // Nothing of the job may be touched after this: its poster may release it at once.
    job.completion->Set();
  }
}

void BSM::RunJob(const ScanJob& job) {
  for (size_t k = 0; k < job.windowStarts.size(); ++k) {
    if (job.stopFlag != nullptr && job.stopFlag->load(std::memory_order_relaxed) != 0) return;
    if (job.scanWindow) job.scanWindow(job, k);
  }
}

}  // namespace engine

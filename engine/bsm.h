// BSM: the signature matcher's core. It owns the two PatternMatchers, the part-link and
// record-offset tables, the rolling-hash table, the signature store, the job queue and the ten
// worker threads. Signatures are added and compiled on one thread before any scan; afterwards
// the tables are read-only and shared without a lock. The destructor stops and joins the
// workers before anything they read is released.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/limits.h"
#include "engine/pattern_matcher.h"
#include "engine/rolling_hash.h"
#include "engine/signature_store.h"
#include "platform/event.h"
#include "platform/spin_lock.h"
#include "platform/thread.h"

namespace engine {

// One part of a signature as the part matcher's pattern id leads to it. Several signatures may
// share one part pattern, so each part-matcher id has a list of links.
struct PartLink {
  uint32_t previousPartId;  // 0 for a signature's first part
  uint16_t minGap;          // kNoGapBound when not given (and for a first part)
  uint16_t maxGap;
  uint32_t partId;
  uint32_t recordOffset;  // kNoRecord except in the link of a signature's last part

  bool operator==(const PartLink&) const = default;
};

// A signature occurrence before its location and block are confirmed.
struct Candidate {
  std::string location;
  std::string kindName;
  uint32_t rollingHashId = 0;
  int32_t offset = 0;  // where the signature's first byte matched, from the buffer start

  bool operator==(const Candidate&) const = default;
};

// The simple-matcher half of one scan, handed to a worker. The poster keeps everything the job
// points to alive until the worker has set `completion`; the worker copies the job itself.
struct ScanJob {
  std::vector<const uint8_t*> windowStarts;  // merged windows, ascending
  std::vector<uint32_t> windowLengths;
  const std::atomic<int32_t>* stopFlag = nullptr;  // non-zero: give up the rest of the job
  std::vector<Candidate>* candidates = nullptr;    // filled by the worker
  const uint8_t* bufferStart = nullptr;
  platform::Event* completion = nullptr;  // manual reset; set once the worker is done
  // The walk of window k, run by the worker for each window in order while the stop flag is 0.
  std::function<void(const ScanJob& job, size_t window)> scanWindow;
};

class BSM {
 public:
  // Builds the empty core, creates the signature store from `baseName` and starts the workers
  // (kWorkerCount in the program; tests may ask for fewer).
  explicit BSM(const std::string& baseName, int workerCount = kWorkerCount);
  ~BSM();
  BSM(const BSM&) = delete;
  BSM& operator=(const BSM&) = delete;

  // Parses `pattern` and enters its parts; 1 when the signature was added, 0 when refused.
  // Problems are printed with the running problem number; with `strict` they refuse the text,
  // without it a part of fewer than 2 bytes is entered all the same. A pattern the matcher
  // rejects always refuses the text. Loading thread only, before Compile.
  [[nodiscard]] int AddBinarySignature(std::string kindName, std::string location,
                                       std::string pattern, bool strict);

  // Appends the job under the queue lock and wakes one worker. Any thread. When no worker
  // runs (none could be started), the job runs on the calling thread before PostJob returns,
  // so its completion event is set either way.
  void PostJob(ScanJob job);
  int RunningWorkers() const { return runningWorkers_; }
  // Jobs posted since construction.
  uint64_t JobsPosted() const { return jobsPosted_.load(std::memory_order_relaxed); }

  PatternMatcher& SimpleMatcher() { return *simple_; }
  PatternMatcher& PartMatcher() { return *part_; }
  const PatternMatcher& SimpleMatcher() const { return *simple_; }
  const PatternMatcher& PartMatcher() const { return *part_; }
  // Indexed by part-matcher pattern id; entry 0 is empty.
  const std::vector<std::vector<PartLink>>& PartLinks() const { return partLinks_; }
  // Indexed by simple-matcher pattern id; entry 0 is kNoRecord.
  const std::vector<uint32_t>& RecordOffsets() const { return recordOffsets_; }
  RollingHashTable& RollingHash() { return *rollingHash_; }
  const RollingHashTable& RollingHash() const { return *rollingHash_; }
  SignatureStore& Store() { return *store_; }
  uint32_t SignatureCount() const { return signatureCount_; }
  uint32_t NextPartId() const { return nextPartId_; }
  // Problems reported while adding signatures; the last message carried this number.
  uint32_t ProblemCount() const { return problemCount_; }
  const std::string& BaseName() const { return baseName_; }

 private:
  void Report(const char* format, const std::string& kindName);
  uint32_t AppendRecord(const std::string& location, const std::string& kindName, bool hasBlock,
                        int blockSize, uint32_t weakChecksum,
                        const std::array<uint8_t, 16>& digest);
  void WorkerLoop();
  static void RunJob(const ScanJob& job);

  std::vector<std::vector<PartLink>> partLinks_;
  std::vector<uint32_t> recordOffsets_;
  std::unique_ptr<PatternMatcher> simple_;
  std::unique_ptr<PatternMatcher> part_;
  std::unique_ptr<RollingHashTable> rollingHash_;
  uint32_t signatureCount_ = 0;
  uint32_t nextPartId_ = 1;
  uint32_t problemCount_ = 0;
  std::string baseName_;
  std::unique_ptr<SignatureStore> store_;
  platform::Event jobAvailable_{/*manualReset=*/false, /*initiallySet=*/false};
  platform::Event stop_{/*manualReset=*/true, /*initiallySet=*/false};
  std::deque<ScanJob> jobs_;
  platform::SpinLock queueLock_;
  int runningWorkers_ = 0;
  std::atomic<uint64_t> jobsPosted_{0};
  // Last, so that they are joined (in ~BSM) before the members above go away.
  std::vector<std::unique_ptr<platform::Thread>> workers_;
};

}  // namespace engine

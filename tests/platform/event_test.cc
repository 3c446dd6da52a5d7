#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <vector>

#include "platform/thread.h"

namespace platform {
namespace {

// Bounds a wait that should end at once; reaching it is a failure, never the expected path.
constexpr uint32_t kFailureBoundMs = 10000;

TEST(Event, InitialStateAndResetModes) {
  Event autoSet(/*manualReset=*/false, /*initiallySet=*/true);
  EXPECT_TRUE(autoSet.Wait(0));
  EXPECT_FALSE(autoSet.Wait(0));  // consumed by the first wait

  Event manualSet(/*manualReset=*/true, /*initiallySet=*/true);
  EXPECT_TRUE(manualSet.Wait(0));
  EXPECT_TRUE(manualSet.Wait(0));  // stays set
  manualSet.Reset();
  EXPECT_FALSE(manualSet.Wait(0));

  Event unset(/*manualReset=*/false, /*initiallySet=*/false);
  EXPECT_FALSE(unset.Wait(0));
  EXPECT_FALSE(unset.Wait(20));  // a short timed wait that runs out
  unset.Set();
  unset.Set();  // setting a set event changes nothing: still one wait's worth
  EXPECT_TRUE(unset.Wait(0));
  EXPECT_FALSE(unset.Wait(0));
}

// Waiter threads that block on one event and report each release.
class Waiters {
 public:
  Waiters(Event& event, int count) : event_(event) {
    for (int i = 0; i < count; ++i) {
      threads_.push_back(std::make_unique<Thread>([this] {
        if (event_.Wait(kFailureBoundMs)) {
          released_.fetch_add(1);
          progress_.Set();
        }
      }));
    }
  }
  // Waits for the next release report (several releases may merge into one report).
  bool AwaitProgress() { return progress_.Wait(kFailureBoundMs); }
  int Released() const { return released_.load(); }
  void JoinAll() {
    for (auto& thread : threads_) thread->Join();
  }

 private:
  Event& event_;
  Event progress_{/*manualReset=*/false, /*initiallySet=*/false};
  std::atomic<int> released_{0};
  std::vector<std::unique_ptr<Thread>> threads_;
};

TEST(Event, AutomaticResetReleasesOneWaiterPerSet) {
  constexpr int kWaiters = 6;
  Event event(/*manualReset=*/false, /*initiallySet=*/false);
  Waiters waiters(event, kWaiters);
  for (int set = 1; set <= kWaiters; ++set) {
    SCOPED_TRACE(set);
    event.Set();
    ASSERT_TRUE(waiters.AwaitProgress());
    // More releases than Sets would show here or leave later Sets with nobody to take them.
    EXPECT_LE(waiters.Released(), set);
    while (waiters.Released() < set) ASSERT_TRUE(waiters.AwaitProgress());
  }
  waiters.JoinAll();
  EXPECT_EQ(waiters.Released(), kWaiters);
  EXPECT_FALSE(event.Wait(0));  // each Set was consumed by exactly one waiter
}

TEST(Event, ManualResetReleasesAllWaitersAndStaysSet) {
  constexpr int kWaiters = 6;
  Event event(/*manualReset=*/true, /*initiallySet=*/false);
  Waiters waiters(event, kWaiters);
  event.Set();
  waiters.JoinAll();
  EXPECT_EQ(waiters.Released(), kWaiters);
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

struct WaitAnyCase {
  const char* name;
  bool manualReset;
  std::vector<int> setIndexes;  // set before the waits
  std::vector<int> results;     // of successive WaitAny calls with time-out 0
};

void PrintTo(const WaitAnyCase& c, std::ostream* os) { *os << c.name; }

const WaitAnyCase kWaitAnyCases[] = {
    {"none_set", false, {}, {kWaitTimeout}},
    {"auto_lowest_first_each_consumed", false, {3, 1, 2}, {1, 2, 3, kWaitTimeout}},
    {"auto_index_zero", false, {0, 3}, {0, 3, kWaitTimeout}},
    {"manual_lowest_stays", true, {2, 3}, {2, 2, 2}},
};

class EventWaitAny : public testing::TestWithParam<WaitAnyCase> {};

TEST_P(EventWaitAny, ReturnsTheLowestSetIndex) {
  const WaitAnyCase& c = GetParam();
  std::vector<std::unique_ptr<Event>> events;
  std::vector<Event*> pointers;
  for (int i = 0; i < 4; ++i) {
    events.push_back(std::make_unique<Event>(c.manualReset, false));
    pointers.push_back(events.back().get());
  }
  for (int i : c.setIndexes) events[i]->Set();
  for (size_t i = 0; i < c.results.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(WaitAny(pointers, 0), c.results[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, EventWaitAny, testing::ValuesIn(kWaitAnyCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(EventWaitAny, TimesOutThenWakesOnASetFromAnotherThread) {
  Event first(/*manualReset=*/false, /*initiallySet=*/false);
  Event second(/*manualReset=*/false, /*initiallySet=*/false);
  Event* const both[] = {&first, &second};
  EXPECT_EQ(WaitAny(both, 20), kWaitTimeout);

  Event waiting(/*manualReset=*/true, /*initiallySet=*/false);
  int result = -2;
  Thread waiter([&] {
    waiting.Set();
    result = WaitAny(both, kFailureBoundMs);
  });
  ASSERT_TRUE(waiting.Wait(kFailureBoundMs));
  second.Set();
  waiter.Join();
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(second.Wait(0));  // consumed by the WaitAny
  EXPECT_FALSE(first.Wait(0));   // untouched
}

TEST(Event, WaiterMayDestroyTheEventAsSoonAsItsWaitReturns) {
  // The completion hand-off of a scan: a worker sets the caller's event, the caller's wait
  // returns and it frees the event at once. Set must be done with it by then (checked by the
  // sanitizer builds; a plain build may crash on a fault).
  constexpr int kRounds = 5000;
  Event job(/*manualReset=*/false, /*initiallySet=*/false);
  std::atomic<Event*> target{nullptr};
  std::atomic<bool> stop{false};
  Thread worker([&] {
    while (job.Wait(kFailureBoundMs) && !stop.load()) target.load()->Set();
  });
  std::atomic<int> spins{0};
  int completed = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto done = std::make_unique<Event>(/*manualReset=*/round % 2 == 0, false);
    target.store(done.get());
    job.Set();
    // A varying delay before the wait, so that Set finds the waiter sometimes already blocked
    // and sometimes not yet arrived.
    for (int i = 0; i < (round / 2 % 32) * 200; ++i) spins.fetch_add(1, std::memory_order_relaxed);
    if (!done->Wait(kFailureBoundMs)) break;
    done.reset();
    ++completed;
  }
  stop.store(true);
  job.Set();
  worker.Join();
  EXPECT_EQ(completed, kRounds);
}

}  // namespace
}  // namespace platform

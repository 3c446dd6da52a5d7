#include "platform/spin_lock.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

constexpr uint32_t kFailureBoundMs = 10000;

TEST(SpinLock, ExcludesOtherThreadsFromTheSection) {
  constexpr int kThreads = 4;
  constexpr int kIncrements = 500;
  SpinLock lock;
  int counter = 0;  // plain int: only the lock keeps the increments whole
  Event start(/*manualReset=*/true, /*initiallySet=*/false);
  std::vector<std::unique_ptr<Thread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<Thread>([&] {
      if (!start.Wait(kFailureBoundMs)) return;
      for (int i = 0; i < kIncrements; ++i) {
        SpinLockGuard hold(lock);
        // Read, give up the processor, write: without exclusion, updates get lost here.
        const int seen = counter;
        std::this_thread::yield();
        counter = seen + 1;
      }
    }));
  }
  start.Set();
  for (auto& thread : threads) thread->Join();
  EXPECT_EQ(counter, kThreads * kIncrements);
}

}  // namespace
}  // namespace platform

#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

// Bounds a wait that should end at once; reaching it is a failure, never the expected path.
constexpr uint32_t kFailureBoundMs = 10000;

TEST(Thread, JoinReturnsOnlyAfterTheBodyHasReturned) {
  Event go(/*manualReset=*/true, /*initiallySet=*/false);
  int value = 0;  // plain int: only the join orders the write before the read
  Thread thread([&] {
    if (go.Wait(kFailureBoundMs)) value = 42;
  });
  EXPECT_TRUE(thread.Started());
  go.Set();
  thread.Join();
  EXPECT_EQ(value, 42);
  thread.Join();  // a second join does nothing
  EXPECT_EQ(value, 42);
}

TEST(Thread, DestructorJoinsAThreadThatWasNotJoined) {
  Event go(/*manualReset=*/true, /*initiallySet=*/false);
  bool done = false;
  {
    Thread thread([&] {
      if (go.Wait(kFailureBoundMs)) done = true;
    });
    go.Set();
  }
  EXPECT_TRUE(done);
}

TEST(Thread, BodiesRunAtTheSameTime) {
  // Each body waits until all have started, so this passes only if they run concurrently.
  constexpr int kThreads = 8;
  Event allStarted(/*manualReset=*/true, /*initiallySet=*/false);
  std::atomic<int> started{0};
  std::atomic<int> sawAll{0};
  std::vector<std::unique_ptr<Thread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(std::make_unique<Thread>([&] {
      if (started.fetch_add(1) + 1 == kThreads) allStarted.Set();
      if (allStarted.Wait(kFailureBoundMs)) sawAll.fetch_add(1);
    }));
  }
  for (auto& thread : threads) thread->Join();
  EXPECT_EQ(sawAll.load(), kThreads);
}

}  // namespace
}  // namespace platform

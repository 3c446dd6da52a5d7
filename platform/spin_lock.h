// SpinLock: a lock on one 32-bit word, 0 free and 1 held. Lock retries the exchange
// (word, 1, 0) and sleeps 1 ms between tries; Unlock stores 0. Any thread may use it.
// It is not recursive, and it is meant for short sections (a queue push, a seek and a read).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread.h"

namespace platform {

class SpinLock {
 public:
  void Lock() {
    uint32_t expected = 0;
    // Sleep between tries rather than spin: ten workers on two cores would starve the owner.
    while (!word_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
      expected = 0;
      SleepMs(1);
    }
  }
  void Unlock() { word_.store(0, std::memory_order_release); }

 private:
  std::atomic<uint32_t> word_{0};
};

// Holds a SpinLock for the life of a scope.
class SpinLockGuard {
 public:
  explicit SpinLockGuard(SpinLock& lock) : lock_(lock) { lock_.Lock(); }
  ~SpinLockGuard() { lock_.Unlock(); }
  SpinLockGuard(const SpinLockGuard&) = delete;
  SpinLockGuard& operator=(const SpinLockGuard&) = delete;

 private:
  SpinLock& lock_;
};

}  // namespace platform

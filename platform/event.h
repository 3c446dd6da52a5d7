// Event: a kernel-style event with automatic or manual reset, as on Windows.
// Any thread may Set, Reset or wait. An automatic-reset event releases exactly one waiter per Set
// and is cleared by the wait that consumes it; a manual-reset event stays set until Reset.
// A wait returns only after Set is done with the event, so the woken waiter may destroy it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr int kWaitTimeout = -1;

class Event {
 public:
  Event(bool manualReset, bool initiallySet);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // True when the event was set within the time-out (kInfinite waits without limit).
  [[nodiscard]] bool Wait(uint32_t timeoutMs);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  friend int WaitAny(std::span<Event* const> events, uint32_t timeoutMs);
};

// Waits until at least one of the events is set and returns the lowest index that is set
// (consuming that one event if it resets automatically), or kWaitTimeout.
// At most 64 events, as on Windows.
[[nodiscard]] int WaitAny(std::span<Event* const> events, uint32_t timeoutMs);

}  // namespace platform

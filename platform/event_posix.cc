// All events share one mutex, and every waiter brings its own condition variable, which it
// registers with each event it waits for. Set marks the event and notifies the registered
// waiters while it holds the mutex, and touches nothing after releasing it; a waiter returns
// only after it has re-taken the mutex and unregistered. So when a wait returns, Set is done
// with the event and the waiter may destroy it, and WaitAny over several events needs no lock
// order. The mutex is never destroyed: worker threads may still wait while statics go.
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

constexpr size_t kMaxWaitObjects = 64;

std::mutex& EventMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

}  // namespace

struct Event::Impl {
  bool manualReset;
  bool set;
  std::vector<std::condition_variable*> waiters;  // guarded by EventMutex()
};

Event::Event(bool manualReset, bool initiallySet)
    : impl_(std::make_unique<Impl>(Impl{manualReset, initiallySet, {}})) {}

Event::~Event() {
  // A wait in progress holds a pointer to this event: destroying it then is a caller fault.
  assert(impl_->waiters.empty());
}

void Event::Set() {
  std::lock_guard<std::mutex> hold(EventMutex());
  impl_->set = true;
  if (impl_->waiters.empty()) return;
  if (impl_->manualReset) {
    for (std::condition_variable* waiter : impl_->waiters) waiter->notify_one();
  } else {
    // One waiter is enough: waking them all costs every other one a trip through the mutex for
    // nothing (ten idle workers per scan). A waiter that leaves without taking this event wakes
    // the next one (see WaitAny), so the event is never left set with waiters asleep.
    impl_->waiters.front()->notify_one();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> hold(EventMutex());
  impl_->set = false;
}

bool Event::Wait(uint32_t timeoutMs) {
  Event* const self = this;
  return WaitAny(std::span<Event* const>(&self, 1), timeoutMs) == 0;
}

int WaitAny(std::span<Event* const> events, uint32_t timeoutMs) {
  assert(!events.empty() && events.size() <= kMaxWaitObjects);
  if (events.empty() || events.size() > kMaxWaitObjects) return kWaitTimeout;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);

  std::unique_lock<std::mutex> hold(EventMutex());
  // The lowest set index wins; an automatic-reset event is consumed by the wait that takes it.
  auto takeLowestSet = [&]() -> int {
    for (size_t i = 0; i < events.size(); ++i) {
      Event::Impl& e = *events[i]->impl_;
      if (e.set) {
        if (!e.manualReset) e.set = false;
        return static_cast<int>(i);
      }
    }
    return kWaitTimeout;
  };

  int result = takeLowestSet();
  if (result != kWaitTimeout || timeoutMs == 0) return result;

  std::condition_variable wake;
  for (Event* e : events) e->impl_->waiters.push_back(&wake);
  while (result == kWaitTimeout) {
    if (timeoutMs == kInfinite) {
      wake.wait(hold);
    } else if (wake.wait_until(hold, deadline) == std::cv_status::timeout) {
      result = takeLowestSet();  // a Set that came with the time-out still counts
      break;
    }
    result = takeLowestSet();
  }
  for (Event* e : events) {
    std::vector<std::condition_variable*>& waiters = e->impl_->waiters;
    // One entry per occurrence in `events`, so an event listed twice is unregistered twice.
    for (size_t i = 0; i < waiters.size(); ++i) {
      if (waiters[i] == &wake) {
        waiters.erase(waiters.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }
  // An automatic-reset event may have woken this waiter only, which took another event or
  // timed out: hand it on to the next waiter.
  for (Event* e : events) {
    const Event::Impl& impl = *e->impl_;
    if (impl.set && !impl.manualReset && !impl.waiters.empty()) impl.waiters.front()->notify_one();
  }
  return result;
}

}  // namespace platform

#include <windows.h>

#include <array>
#include <cassert>

#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/win/scoped.h"

namespace platform {
namespace {

constexpr char kCreateEventFailed[] = "platform::Event: CreateEventW failed\n";

static_assert(kInfinite == INFINITE);

}  // namespace

struct Event::Impl {
  // NULL when CreateEventW failed: Set and Reset then do nothing and every wait fails.
  ScopedHandle event;
};

Event::Event(bool manualReset, bool initiallySet) : impl_(std::make_unique<Impl>()) {
  impl_->event.Reset(CreateEventW(nullptr, manualReset, initiallySet, nullptr));
  if (!impl_->event.Valid()) DebugOutput(kCreateEventFailed);
}

Event::~Event() = default;

void Event::Set() {
  if (impl_->event.Valid()) SetEvent(impl_->event.Get());
}

void Event::Reset() {
  if (impl_->event.Valid()) ResetEvent(impl_->event.Get());
}

bool Event::Wait(uint32_t timeoutMs) {
  if (!impl_->event.Valid()) return false;
  return WaitForSingleObject(impl_->event.Get(), timeoutMs) == WAIT_OBJECT_0;
}

int WaitAny(std::span<Event* const> events, uint32_t timeoutMs) {
  assert(!events.empty() && events.size() <= MAXIMUM_WAIT_OBJECTS);
  if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) return kWaitTimeout;
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles{};
  for (size_t i = 0; i < events.size(); ++i) {
    if (!events[i]->impl_->event.Valid()) return kWaitTimeout;
    handles[i] = events[i]->impl_->event.Get();
  }
  const DWORD count = static_cast<DWORD>(events.size());
  const DWORD result = WaitForMultipleObjects(count, handles.data(), FALSE, timeoutMs);
  // Events are never abandoned (only mutexes are); WAIT_FAILED reads as no event set.
  if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
  return kWaitTimeout;
}

}  // namespace platform

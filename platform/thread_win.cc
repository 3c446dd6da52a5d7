#include <windows.h>

#include "platform/debug_output.h"
#include "platform/thread.h"
#include "platform/win/scoped.h"

namespace platform {
namespace {

constexpr char kThreadRefused[] = "platform::Thread: CreateThread failed\n";

}  // namespace

struct Thread::Impl {
  std::function<void()> body;
  ScopedHandle thread;
  bool joined = false;

  static DWORD WINAPI Run(LPVOID self) {
    static_cast<Impl*>(self)->body();
    return 0;
  }
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->body = std::move(body);
  // The body lives in Impl, which outlives the thread: Join (or the destructor) waits for it.
  impl_->thread.Reset(CreateThread(nullptr, 0, &Impl::Run, impl_.get(), 0, nullptr));
  if (!impl_->thread.Valid()) DebugOutput(kThreadRefused);
}

Thread::~Thread() { Join(); }

bool Thread::Started() const { return impl_->thread.Valid() || impl_->joined; }

void Thread::Join() {
  if (!impl_->thread.Valid()) return;
  WaitForSingleObject(impl_->thread.Get(), INFINITE);
  impl_->thread.Reset();
  impl_->joined = true;
}

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform

// pthreads rather than std::thread: a refused thread is a result here, not an exception.
#include <pthread.h>

#include <chrono>
#include <thread>

#include "platform/debug_output.h"
#include "platform/thread.h"

namespace platform {
namespace {

constexpr char kThreadRefused[] = "platform::Thread: pthread_create failed\n";

}  // namespace

struct Thread::Impl {
  std::function<void()> body;
  pthread_t thread{};
  bool started = false;
  bool joined = false;

  static void* Run(void* self) {
    static_cast<Impl*>(self)->body();
    return nullptr;
  }
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->body = std::move(body);
  if (pthread_create(&impl_->thread, nullptr, &Impl::Run, impl_.get()) == 0) {
    impl_->started = true;
  } else {
    DebugOutput(kThreadRefused);
  }
}

Thread::~Thread() { Join(); }

bool Thread::Started() const { return impl_->started; }

void Thread::Join() {
  if (!impl_->started || impl_->joined) return;
  pthread_join(impl_->thread, nullptr);
  impl_->joined = true;
}

void SleepMs(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform

// Thread: one OS thread running a function, started by the constructor.
// Join waits for the function to return; the destructor joins a thread that was not joined.
// A Thread is owned by whoever created it and is neither copyable nor movable. When the OS
// refuses a thread, the body never runs and Started() says so.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class Thread {
 public:
  explicit Thread(std::function<void()> body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // False when no thread could be created: the body will not run.
  bool Started() const;
  // Returns once the body has returned; does nothing when already joined or not started.
  void Join();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Sleeps the calling thread for at least `milliseconds`.
void SleepMs(uint32_t milliseconds);

}  // namespace platform

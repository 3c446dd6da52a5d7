// Clock: the waits remediation makes. Win32Clock sleeps; FakeMachine only records them.
#pragma once

#include <cstdint>

namespace remedy {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

}  // namespace remedy

#include "platform/cpu.h"

namespace platform {

bool HasSse2() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("sse2") != 0;
#else
  return false;
#endif
}

}  // namespace platform

#include "platform/cpu.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(HasSse2, IsTrueOnX86_64) {
#if defined(__x86_64__)
  // Every x86-64 processor has SSE2; a false here means the probe itself is broken.
  EXPECT_TRUE(HasSse2());
#else
  GTEST_SKIP() << "SSE2 is optional on this architecture";
#endif
}

}  // namespace
}  // namespace platform

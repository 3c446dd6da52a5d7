#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/debug_output.h"

namespace platform {
namespace {

// Restores the variable's absence however the test ends.
class DebugOutputStderr : public testing::Test {
 protected:
  void TearDown() override { unsetenv("NOLVEXA_DEBUG_OUTPUT"); }
};

TEST_F(DebugOutputStderr, WritesOnlyWhenTheVariableIsSet) {
  unsetenv("NOLVEXA_DEBUG_OUTPUT");
  testing::internal::CaptureStderr();
  DebugOutput("hidden\n");
  DebugOutput(L"hidden too\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  setenv("NOLVEXA_DEBUG_OUTPUT", "1", 1);
  testing::internal::CaptureStderr();
  DebugOutput("shown\n");
  DebugOutput(L"\u00e9\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown\n\xC3\xA9\n");
}

TEST_F(DebugOutputStderr, SinkTakesPrecedenceOverStderr) {
  setenv("NOLVEXA_DEBUG_OUTPUT", "1", 1);
  std::string seen;
  SetDebugOutputSink([&](const std::string& text) { seen += text; });
  testing::internal::CaptureStderr();
  DebugOutput("to the sink");
  const std::string captured = testing::internal::GetCapturedStderr();
  SetDebugOutputSink({});
  EXPECT_EQ(captured, "");
  EXPECT_EQ(seen, "to the sink");
}

}  // namespace
}  // namespace platform

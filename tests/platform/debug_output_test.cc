#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

class DebugOutputSink : public testing::Test {
 protected:
  void SetUp() override {
    SetDebugOutputSink([this](const std::string& text) { seen_.push_back(text); });
  }
  void TearDown() override { SetDebugOutputSink({}); }
  std::vector<std::string> seen_;
};

TEST_F(DebugOutputSink, ReceivesNarrowAndWideTextsAsUtf8) {
  DebugOutput("plain\n");
  DebugOutput(L"BSM Worker thread has unexpected wait result!\n");
  DebugOutput(L"\u00e9\u20ac\U0001F600");
  EXPECT_EQ(seen_, (std::vector<std::string>{
                       "plain\n",
                       "BSM Worker thread has unexpected wait result!\n",
                       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                   }));
}

TEST_F(DebugOutputSink, RemovedSinkReceivesNothingMore) {
  DebugOutput("one");
  SetDebugOutputSink({});
  DebugOutput("two");  // to the OS channel now
  EXPECT_EQ(seen_, std::vector<std::string>{"one"});
}

}  // namespace
}  // namespace platform

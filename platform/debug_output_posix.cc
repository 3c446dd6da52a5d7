#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"
#include "platform/utf8.h"

namespace platform {
namespace {

constexpr char kEnableVariable[] = "NOLVEXA_DEBUG_OUTPUT";

// Never destroyed: a worker thread may report something while statics are being torn down.
std::function<void(const std::string&)>& Sink() {
  static auto* sink = new std::function<void(const std::string&)>;
  return *sink;
}

void Emit(const char* text) {
  if (Sink()) {
    Sink()(text);
  } else if (std::getenv(kEnableVariable) != nullptr) {
    std::fputs(text, stderr);
  }
}

}  // namespace

void DebugOutput(const char* text) { Emit(text); }

void DebugOutput(const wchar_t* text) {
  Emit(Utf8FromWide(text, /*replaceInvalid=*/true).value_or(std::string()).c_str());
}

void SetDebugOutputSink(std::function<void(const std::string&)> sink) { Sink() = std::move(sink); }

}  // namespace platform

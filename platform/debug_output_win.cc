#include <windows.h>

#include "platform/debug_output.h"
#include "platform/utf8.h"

namespace platform {
namespace {

// Never destroyed: a worker thread may report something while statics are being torn down.
std::function<void(const std::string&)>& Sink() {
  static auto* sink = new std::function<void(const std::string&)>;
  return *sink;
}

}  // namespace

void DebugOutput(const char* text) {
  if (Sink()) {
    Sink()(text);
  } else {
    OutputDebugStringA(text);
  }
}

void DebugOutput(const wchar_t* text) {
  if (Sink()) {
    Sink()(Utf8FromWide(text, /*replaceInvalid=*/true).value_or(std::string()));
  } else {
    OutputDebugStringW(text);
  }
}

void SetDebugOutputSink(std::function<void(const std::string&)> sink) { Sink() = std::move(sink); }

}  // namespace platform

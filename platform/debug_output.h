// DebugOutput: internal anomalies that are not for the console (Windows: OutputDebugStringA/W).
// On POSIX the text goes to standard error only when the environment variable
// NOLVEXA_DEBUG_OUTPUT is set, and nowhere otherwise. Any thread may call it.
// Tests observe the texts through a sink, which also keeps them from the OS channel.
#pragma once

#include <functional>
#include <string>

namespace platform {

void DebugOutput(const char* text);
void DebugOutput(const wchar_t* text);

// Installs (or with an empty function removes) a sink that receives every text as UTF-8
// instead of the OS channel. For tests; not thread-safe against concurrent DebugOutput calls.
void SetDebugOutputSink(std::function<void(const std::string&)> sink);

}  // namespace platform

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "remedy/win32_services.h"

namespace remedy {
namespace {

// Obtained once and kept for the life of the process.
HANDLE OutputHandle() {
  static const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  return handle;
}

}  // namespace

// Through the C runtime's stdout, like the engine's printf messages, so both keep their order.
void Win32Console::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void Win32Console::Flush() { std::fflush(stdout); }

void Win32Console::Pause() {
  std::fflush(stdout);
  // The command processor's own prompt and key wait; its exit code says nothing we act on.
  [[maybe_unused]] const int status = std::system("pause");
}

bool Win32Console::ReadCursor(CursorPosition& at, uint32_t& error) {
  // Text still in the C runtime's buffer has not moved the cursor yet.
  std::fflush(stdout);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(OutputHandle(), &info)) {
    error = GetLastError();
    return false;
  }
  at = CursorPosition{info.dwCursorPosition.X, info.dwCursorPosition.Y};
  return true;
}

void Win32Console::MoveCursor(CursorPosition to) {
  std::fflush(stdout);
  SetConsoleCursorPosition(OutputHandle(), COORD{to.x, to.y});
}

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace remedy

// Console: the 8-bit standard output stream the program reports on, its cursor and the final
// wait. Win32Console (console_win.cc) writes through the C runtime's stdout, so its text keeps
// its order with the engine's printf messages; tests use FakeMachine. Main thread only.
#pragma once

#include <cstdint>
#include <string_view>

namespace remedy {

struct CursorPosition {
  int16_t x = 0;
  int16_t y = 0;
};

class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(std::string_view text) = 0;  // no flush
  virtual void Flush() = 0;
  virtual void Pause() = 0;  // the command processor's "pause": waits for one key press
  // GetConsoleScreenBufferInfo's cursor; false with the error code when it cannot be read
  // (standard output is not a console).
  virtual bool ReadCursor(CursorPosition& at, uint32_t& error) = 0;
  virtual void MoveCursor(CursorPosition to) = 0;  // SetConsoleCursorPosition
};

// A line end of the console stream: a line feed, then a flush.
inline void EndLine(Console& console) {
  console.Write("\n");
  console.Flush();
}

}  // namespace remedy

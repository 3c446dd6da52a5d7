// DemoProcess: one run of nolvexa-demo-process, the helper that lies next to the test programs,
// with its standard output on a pipe: a file held open by another process, or an orphan whose
// thread start region carries the thread signature. A process still running when the object
// goes is terminated. Windows builds only; one thread at a time.
#pragma once

#include <cstdint>
#include <string>

namespace support {

class DemoProcess {
 public:
  DemoProcess() = default;
  ~DemoProcess();
  DemoProcess(const DemoProcess&) = delete;
  DemoProcess& operator=(const DemoProcess&) = delete;

  // Starts "nolvexa-demo-process ARGUMENTS"; false (with the error code in GetLastError) when
  // it cannot be started.
  bool Start(const std::wstring& arguments);
  // The next line of its output without the line end; empty once the output has ended. Blocks
  // until a line comes: the helper's own time limit bounds the wait.
  std::string ReadLine();
  // Waits for the process to end by itself, at most `milliseconds`; true when it has ended.
  bool Wait(uint32_t milliseconds);
  // Terminates the process and waits until it has ended; true then.
  bool End();
  uint32_t ExitCode() const;  // of an ended process
  uint32_t Id() const;        // 0 before Start

 private:
  void* process_ = nullptr;
  void* output_ = nullptr;
};

}  // namespace support

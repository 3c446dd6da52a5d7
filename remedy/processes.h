// Processes: the process and thread services of the process scan.
// Win32Processes (processes_win.cc) makes the real calls; tests use FakeMachine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace remedy {

// The fields of a thread snapshot record that the scan uses.
struct ThreadRecord {
  uint32_t threadId = 0;
  uint32_t ownerProcessId = 0;
};

// The fields of a process snapshot record that the kill operations use.
struct ProcessRecord {
  uint32_t processId = 0;
  uint32_t parentProcessId = 0;
  std::wstring exeFile;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Every record of a system-wide snapshot, in snapshot order; empty when it cannot be taken.
  virtual std::vector<ThreadRecord> ThreadSnapshot() = 0;
  virtual std::vector<ProcessRecord> ProcessSnapshot() = 0;
  // The memory region that holds the thread's start address, from the region's base, at most
  // `limit` bytes: opens the owner process and the thread, asks for the start address, queries
  // the region and reads it. False when any step fails or the range cannot be read in full;
  // `bytes` is left alone then.
  virtual bool ReadThreadStartRegion(const ThreadRecord& thread, size_t limit,
                                     std::vector<uint8_t>& bytes) = 0;
  // Opens the process with all access and terminates it with exit code 0.
  virtual bool Terminate(uint32_t processId) = 0;
  // Whether this process is a 32-bit process on 64-bit Windows; false where the probe does not
  // exist; nullopt when the probe exists but fails.
  virtual std::optional<bool> IsWow64() = 0;
};

}  // namespace remedy

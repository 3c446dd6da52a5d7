// The process-wide results and flags that the stages fill and the main flow reports, and the
// context every stage runs in. The program owns one of each (app/process_state.cc); tests make
// their own. Main thread only: every stage and handler runs there.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "remedy/processes.h"
#include "remedy/services.h"

namespace engine {
class Engine;
}

namespace remedy {

struct Context;

// Called by the drive walk for each file that yields a match name: 0 stops the directory,
// 1 means the file was deleted, anything else goes on.
using FileDetectionHandler = int (*)(Context& context, const std::wstring& path,
                                     const std::string& matchName);
// Called by the thread scan for each thread whose start region matched: 0 ends the scan.
using ThreadDetectionHandler = int (*)(Context& context, ThreadRecord thread,
                                       const std::string& matchName);
// Scans one file: 0 clean, 1 matched (the name is set), 2 not a PE32 image (name untouched).
using FileScanner = int (*)(Context& context, const std::wstring& path, std::string& matchName);

// What the summary prints. Both lists only grow during a run.
struct Results {
  std::vector<uint32_t> terminatedProcesses;  // in the order of termination
  std::vector<std::string> failedDeletions;   // 8-bit paths, in the order of failure
};

// Flags, counters, handler slots and lists shared by the stages and the main flow.
struct StageState {
  uint8_t detectionFlag = 0;        // a fixed-drive file yielded a match name other than "NNN"
  uint8_t usbInfectionFlag = 0;     // a removable drive's shortcut matched; never cleared
  uint8_t threadInfectionFlag = 0;  // a thread carried the thread signature in this process scan
  uint32_t disinfectedFiles = 0;    // over all drives
  FileDetectionHandler fileHandler = nullptr;
  ThreadDetectionHandler threadHandler = nullptr;
  // The autorun cleanup's value list (name, data) of the key being read, and its candidates.
  std::vector<std::pair<std::wstring, std::wstring>> registryValues;
  std::vector<std::wstring> autorunCandidates;
};

struct Context {
  Services& services;
  engine::Engine& engine;
  Results& results;
  StageState& state;
  FileScanner scanFile;  // ScanFile in the program; tests scan their in-memory files
};

}  // namespace remedy

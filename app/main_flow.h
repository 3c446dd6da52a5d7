// The program's fixed sequence: banner, debug privilege, signature loading and compilation,
// process scan, drive loop, registry fallback, summary and the final pause. Main thread only.
// The stages are reached through a table so that tests can watch what the flow hands them.
#pragma once

#include <string>

#include "remedy/remedy_state.h"

namespace app {

struct Stages {
  void (*scanProcesses)(remedy::Context&);
  void (*walkDrive)(remedy::Context&, const std::wstring& root);
  bool (*restoreUsbDrive)(remedy::Context&, std::wstring directory, bool restorePass);
  bool (*cleanAutorunEntries)(remedy::Context&);
};

// The remediation stages of remedy/.
Stages DefaultStages();

inline constexpr char kBanner[] = "Velmora Antivirus Nolvexa Removal - v1.0";
inline constexpr char kMakerNotice[] =
    "Removes the Nolvexa family and repairs what it changed. Run it as an administrator.";
inline constexpr char kScanningFiles[] = "Scanning your files : It may take a few minutes...";
inline constexpr char kScanningUsb[] = "\n\n\n\n\nScanning USB drive\n";
inline constexpr char kUsbDisinfected[] = "\nUSB drive disinfected successfully.\n";
inline constexpr char kUsbClean[] = "\nUSB drive is clean.\n";
inline constexpr char kPidLineStart[] = "Process with \"PID\"  =  ";
inline constexpr char kPidLineEnd[] = " Deleted.";
inline constexpr char kFailedFileLine[] = "Can not delete file with \"filepath\"  :  %s";

// Runs the whole sequence once and returns the program's exit code, 0.
int RunMainFlow(remedy::Context& context, const Stages& stages);

// Gives the process the debug privilege; every failure is silent.
void EnableDebugPrivilege(remedy::Services& services);

}  // namespace app

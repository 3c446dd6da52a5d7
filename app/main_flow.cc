#include "app/main_flow.h"

#include <string>

#include "app/builtin_signatures.h"
#include "engine/engine.h"
#include "remedy/autorun_cleanup.h"
#include "remedy/drive_walk.h"
#include "remedy/process_scan.h"
#include "remedy/usb_restore.h"

namespace app {
namespace {

// Letter 'a' is never probed: it is the floppy drive on the machines this was made for.
constexpr wchar_t kFirstDriveLetter = L'b';
constexpr wchar_t kLastDriveLetter = L'z';
constexpr int kSummaryLineEnds = 7;

void PrintFailedFile(remedy::Console& console, const std::string& path) {
  const std::string_view format(kFailedFileLine);
  const size_t slot = format.find("%s");
  console.Write(format.substr(0, slot));
  console.Write(path);
  console.Write(format.substr(slot + 2));
}

}  // namespace

Stages DefaultStages() {
  return Stages{&remedy::ScanProcesses, &remedy::WalkDrive, &remedy::RestoreUsbDrive,
                &remedy::CleanAutorunEntries};
}

void EnableDebugPrivilege(remedy::Services& services) {
  [[maybe_unused]] const bool enabled = services.privileges.EnableDebugPrivilege();
}

int RunMainFlow(remedy::Context& context, const Stages& stages) {
  remedy::Console& console = context.services.console;
  context.results.failedDeletions.clear();
  context.results.terminatedProcesses.clear();

  console.Write(kBanner);
  remedy::EndLine(console);
  console.Write(kMakerNotice);
  remedy::EndLine(console);
  remedy::EndLine(console);

  EnableDebugPrivilege(context.services);
  for (const SignatureEntry& entry : kBuiltinSignatures) {
    context.engine.AddSignature(entry.kindName, entry.location, entry.pattern);
  }
  context.engine.Compile();

  stages.scanProcesses(context);
  context.state.detectionFlag = 0;

  console.Write(kScanningFiles);
  remedy::EndLine(console);
  remedy::EndLine(console);

  for (wchar_t letter = kFirstDriveLetter; letter <= kLastDriveLetter; ++letter) {
    const std::wstring root{letter, L':', L'\\'};
    const uint32_t type = context.services.files.DriveType(root);
    if (type == remedy::kDriveFixed) {
      context.state.fileHandler = &remedy::OnFileDetected;
      stages.walkDrive(context, root);
    } else if (type == remedy::kDriveRemovable) {
      console.Write(kScanningUsb);
      const bool restored = stages.restoreUsbDrive(context, std::wstring{letter, L':'}, false);
      if (restored && context.state.usbInfectionFlag == 1) {
        console.Write(kUsbDisinfected);
      } else if (context.state.usbInfectionFlag == 0) {
        console.Write(kUsbClean);
      }
    }
  }

  if (context.state.detectionFlag == 0) {
    [[maybe_unused]] const bool deleted = stages.cleanAutorunEntries(context);
  }

  for (int i = 0; i < kSummaryLineEnds; ++i) remedy::EndLine(console);
  for (const uint32_t pid : context.results.terminatedProcesses) {
    console.Write(kPidLineStart);
    console.Write(std::to_string(pid));
    console.Write(kPidLineEnd);
    remedy::EndLine(console);
  }
  remedy::EndLine(console);
  for (const std::string& path : context.results.failedDeletions) {
    PrintFailedFile(console, path);
    remedy::EndLine(console);
  }

  console.Pause();
  return 0;
}

}  // namespace app

#include "remedy/drive_walk.h"

#include <cstdio>
#include <memory>

#include "remedy/file_removal.h"
#include "remedy/process_scan.h"
#include "remedy/to_utf8.h"

namespace remedy {
namespace {

const std::string kBlanks(kBlankRun, ' ');

void PrintCursorError(Console& console, uint32_t error) {
  char line[64];
  std::snprintf(line, sizeof line, kCursorError, static_cast<int>(error));
  console.Write(line);
}

void AnnounceDeletion(Context& context, const std::wstring& path, CursorPosition at) {
  Console& console = context.services.console;
  ++context.state.disinfectedFiles;
  const CursorPosition below{0, static_cast<int16_t>(at.y + kAnnouncementRows)};
  console.MoveCursor(below);
  console.Write(kBlanks);
  console.MoveCursor(below);
  console.Write(kDisinfect);
  console.Write(ToUtf8(path));
  EndLine(console);
  console.Write(kDisinfectedCount);
  console.Write(std::to_string(context.state.disinfectedFiles));
  console.MoveCursor(at);
}

}  // namespace

void WalkDirectory(Context& context, const std::wstring& directory, FileDetectionHandler handler) {
  FileSystem& files = context.services.files;
  Console& console = context.services.console;
  FindEntry entry;
  uint32_t error = 0;
  const std::unique_ptr<Listing> listing = files.FindFirst(directory + L"\\*.*", entry, error);
  if (!listing) return;  // a directory that cannot be listed is skipped silently

  // Where this level's entries are drawn; an unreadable position keeps the last one read.
  CursorPosition at;
  bool reachedEntry = false;
  do {
    const std::string display = ToUtf8(entry.name);
    if (entry.name == L"." || entry.name == L"..") continue;
    const std::wstring path = directory + L"\\" + entry.name;
    reachedEntry = true;
    if (!console.ReadCursor(at, error)) PrintCursorError(console, error);

    if (entry.attributes & kAttributeDirectory) {
      // An unreadable directory reads as all bits set, reparse point included: skipped too.
      if (files.Attributes(path) & kAttributeReparsePoint) continue;
      console.Write(kBlanks);
      console.MoveCursor(at);
      console.Write("\\" + display);
      WalkDirectory(context, path, handler);
      console.MoveCursor(at);
      continue;
    }

    std::string matchName = "NNN";
    console.MoveCursor(at);
    console.Write(kBlanks);
    console.MoveCursor(at);
    console.Write("\\" + display);
    console.MoveCursor(at);
    if (context.scanFile(context, path, matchName) == 0) continue;
    const int verdict = handler(context, path, matchName);
    if (verdict == 0) break;
    if (verdict == 1) AnnounceDeletion(context, path, at);
  } while (listing->Next(entry));
  if (reachedEntry) console.MoveCursor(at);
}

void WalkDrive(Context& context, const std::wstring& root) {
  context.services.console.Write(ToUtf8(root));
  WalkDirectory(context, root, context.state.fileHandler);
}

int OnFileDetected(Context& context, const std::wstring& path, const std::string& matchName) {
  if (matchName == "NNN") return 2;
  context.state.detectionFlag = 1;
  if (matchName != "FileSig") return 2;
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    if (DeleteInfectedFile(context.services, path)) return 1;
    // The process that keeps the file open may be the one the process scan ends.
    ScanProcesses(context);
  }
  context.results.failedDeletions.push_back(ToUtf8(path));
  return 2;
}

}  // namespace remedy

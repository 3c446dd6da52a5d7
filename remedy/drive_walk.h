// The walk of one fixed drive: every file below the root is shown on a progress line that is
// redrawn in place, scanned, and, when it yields a match name, handed to the detection handler.
// Deletions are announced seven rows below the line. Main thread only.
#pragma once

#include <string>

#include "remedy/remedy_state.h"

namespace remedy {

inline constexpr size_t kBlankRun = 320;  // wipes what a longer, earlier name left behind
inline constexpr int kAnnouncementRows = 7;
inline constexpr char kDisinfect[] = "Disinfect ";
inline constexpr char kDisinfectedCount[] = "Number of disinfected files: ";
inline constexpr char kCursorError[] = "GetConsoleScreenBufferInfo (%d)\n";
inline constexpr int kDeleteAttempts = 3;

// Walks `root` (a lower-case letter, ":" and "\") with the handler in the context's slot.
void WalkDrive(Context& context, const std::wstring& root);

// Walks one directory and, depth first, its subdirectories; junctions and symbolic links to
// directories are not followed.
void WalkDirectory(Context& context, const std::wstring& directory, FileDetectionHandler handler);

// The fixed-drive detection handler: 1 when a "FileSig" file was deleted, 2 otherwise; a file
// that resists three attempts joins the failed-deletion list.
int OnFileDetected(Context& context, const std::wstring& path, const std::string& matchName);

}  // namespace remedy

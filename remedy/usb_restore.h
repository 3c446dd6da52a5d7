// The restoration of a removable drive whose root holds an infected shortcut: the hidden and
// system folder that holds the user's files becomes visible as "\Velmora Nolvexa Removal", and
// the root's folder-view files and the shortcut are deleted. Main thread only.
#pragma once

#include <string>

#include "remedy/remedy_state.h"

namespace remedy {

inline constexpr wchar_t kRestoredFolder[] = L"\\Velmora Nolvexa Removal";
inline constexpr char kListingError[] = "Error : GetLastError for Invalid Handle of FindFirstFile";
inline constexpr wchar_t kShortcutMarker[] = L".lnk";
inline constexpr wchar_t kDesktopIni[] = L"desktop.ini";
inline constexpr wchar_t kThumbsDb[] = L"Thumbs.db";
// Exactly hidden, system and directory: the folder the family hides the user's files in.
inline constexpr uint32_t kHiddenFolderAttributes = 0x16;
// Shortcuts are a few KiB; a larger ".lnk" file is skipped rather than read whole into memory.
inline constexpr size_t kMaxShortcutBytes = 64u << 20;

// `directory` is the drive letter and ":" without a backslash. The shortcut pass (false) scans
// the root's shortcuts; the restore pass (true) unhides the folder and removes the view files.
// False when the directory cannot be listed, true otherwise.
bool RestoreUsbDrive(Context& context, std::wstring directory, bool restorePass);

// True when the match was handled and the shortcut is to be deleted.
bool OnUsbShortcutDetected(Context& context, const std::wstring& directory,
                           const std::string& matchName);

}  // namespace remedy

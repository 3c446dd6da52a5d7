#include "remedy/usb_restore.h"

#include <vector>

#include "engine/engine.h"
#include "remedy/file_removal.h"

namespace remedy {
namespace {

bool IsDotEntry(const std::wstring& name) { return name == L"." || name == L".."; }

void RestoreEntry(Context& context, const std::wstring& directory, const FindEntry& entry) {
  FileSystem& files = context.services.files;
  const std::wstring path = directory + L"\\" + entry.name;
  if (entry.attributes & kAttributeDirectory) {
    if (entry.attributes != kHiddenFolderAttributes) return;
    files.SetAttributes(path, kAttributeNormal);
    // Only the first such folder can take the name; the others keep theirs.
    files.Rename(path, directory + kRestoredFolder);
    return;
  }
  if (entry.name == kDesktopIni || entry.name == kThumbsDb) {
    files.SetAttributes(path, kAttributeNormal);
    [[maybe_unused]] const bool deleted = DeleteInfectedFile(context.services, path);
  }
}

// Scans one root file that looks like a shortcut; true when the listing is to stop.
bool ExamineShortcut(Context& context, const std::wstring& directory, const FindEntry& entry) {
  const std::wstring path = directory + L"\\" + entry.name;
  std::vector<uint8_t> bytes;
  if (!context.services.files.ReadWholeFile(path, kMaxShortcutBytes, bytes) || bytes.empty())
    return false;
  std::string matchName;
  if (!context.engine.ScanBuffer(bytes.data(), static_cast<int32_t>(bytes.size()), matchName)) {
    return false;
  }
  context.state.usbInfectionFlag = 1;
  if (OnUsbShortcutDetected(context, directory, matchName)) {
    [[maybe_unused]] const bool deleted = DeleteInfectedFile(context.services, path);
  }
  // At most one shortcut per drive and run: the listing ends after the first match.
  return true;
}

}  // namespace

bool OnUsbShortcutDetected(Context& context, const std::wstring& directory,
                           const std::string& matchName) {
  if (matchName == "NNN") return true;
  if (matchName != "FlashSig") return false;
  return RestoreUsbDrive(context, directory, true);
}

bool RestoreUsbDrive(Context& context, std::wstring directory, bool restorePass) {
  FindEntry entry;
  uint32_t error = 0;
  std::unique_ptr<Listing> listing =
      context.services.files.FindFirst(directory + L"\\*.*", entry, error);
  if (!listing) {
    context.services.console.Write(kListingError);
    return false;
  }
  do {
    if (IsDotEntry(entry.name)) continue;
    if (restorePass) {
      RestoreEntry(context, directory, entry);
    } else if (!(entry.attributes & kAttributeDirectory) &&
               entry.name.find(kShortcutMarker) != std::wstring::npos) {
      if (ExamineShortcut(context, directory, entry)) break;
    }
  } while (listing->Next(entry));
  return true;
}

}  // namespace remedy

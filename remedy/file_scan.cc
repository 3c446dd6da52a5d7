#include "remedy/file_scan.h"

namespace remedy {

// Not built yet: the per-file scan needs the engine's image scan. Until it lands no file is
// scanned, so the walk only shows the files and deletes nothing.
int ScanFile(engine::Engine&, const std::wstring&, std::string&) { return kScanNotPe32; }

int ScanFileInContext(Context& context, const std::wstring& path, std::string& matchName) {
  return ScanFile(context.engine, path, matchName);
}

}  // namespace remedy

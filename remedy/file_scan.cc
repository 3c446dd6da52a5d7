#include "remedy/file_scan.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "engine/engine.h"
#include "fileinfo/hash_lookup.h"
#include "fileinfo/pe_image.h"

namespace remedy {

int ScanFile(engine::Engine& engine, const std::wstring& path, std::string& matchName) {
  fileinfo::PeImage pe;
  if (pe.Load(path) != fileinfo::LoadResult::kOk) return kScanNotPe32;
  // The engine's sizes are signed 32-bit; a larger image cannot be scanned soundly.
  if (pe.FileSize() > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    pe.Release();
    return kScanNotPe32;
  }
  const uint8_t* data = pe.PointerAtRva(0);  // the first byte of the file
  const auto size = static_cast<int32_t>(pe.FileSize());
  std::vector<std::string> names = engine.ScanImage(data, size, pe);
  // What the signatures do not know, a record of the hash store may.
  if (names.empty()) names = fileinfo::LookupHashes(engine.HashCache(), data, size, &pe, nullptr);
  pe.Release();
  if (names.empty()) return kScanClean;
  matchName = names.front();
  return kScanMatched;
}

int ScanFileInContext(Context& context, const std::wstring& path, std::string& matchName) {
  return ScanFile(context.engine, path, matchName);
}

}  // namespace remedy

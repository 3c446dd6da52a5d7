// nolvexa-scan: the engine's report-only interface. Scans every regular file below the given
// paths with the built-in table and prints the files that match; changes nothing.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/builtin_signatures.h"
#include "engine/engine.h"
#include "remedy/file_scan.h"
#include "remedy/to_utf8.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "Usage: nolvexa-scan PATH...\n"
    "Scans every regular file below each PATH (symbolic links and junctions are not followed)\n"
    "with the built-in Nolvexa signatures, and prints \"PATH: NAME\" for each file that matches.\n"
    "Only 32-bit PE images are scanned. Nothing is changed or deleted.\n"
    "A summary goes to standard error.\n"
    "Exit status: 0 nothing matched, 1 something matched, 2 a PATH could not be read.\n";

struct Tally {
  uint64_t filesSeen = 0;
  uint64_t imagesScanned = 0;
  uint64_t matches = 0;
  uint64_t bytes = 0;
};

void ScanOne(engine::Engine& engine, const fs::path& path, Tally& tally) {
  ++tally.filesSeen;
  std::string name;
  const int result = remedy::ScanFile(engine, path.wstring(), name);
  if (result == remedy::kScanNotPe32) return;
  ++tally.imagesScanned;
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (!error) tally.bytes += size;
  if (result == remedy::kScanMatched) {
    ++tally.matches;
    std::printf("%s: %s\n", remedy::ToUtf8(path.wstring()).c_str(), name.c_str());
    std::fflush(stdout);
  }
}

// False when `root` cannot be read at all.
bool ScanTree(engine::Engine& engine, const fs::path& root, Tally& tally) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(root, error);
  if (error || !fs::exists(status)) return false;
  if (fs::is_regular_file(status)) {
    ScanOne(engine, root, tally);
    return true;
  }
  if (!fs::is_directory(status)) return !fs::is_symlink(status) ? false : true;
  fs::directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  if (error) return false;
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    const fs::file_status entry = it->symlink_status(error);
    if (error || fs::is_symlink(entry)) continue;  // links are reported by nobody, followed never
    if (fs::is_directory(entry)) {
      ScanTree(engine, it->path(), tally);
    } else if (fs::is_regular_file(entry)) {
      ScanOne(engine, it->path(), tally);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const auto start = std::chrono::steady_clock::now();
  engine::Engine engine;
  for (const app::SignatureEntry& entry : app::kBuiltinSignatures) {
    engine.AddSignature(entry.kindName, entry.location, entry.pattern);
  }
  engine.Compile();

  Tally tally;
  bool unreadable = false;
  for (int i = 1; i < argc; ++i) {
    if (!ScanTree(engine, fs::u8path(argv[i]), tally)) {
      std::fprintf(stderr, "nolvexa-scan: cannot read %s\n", argv[i]);
      unreadable = true;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr,
               "files seen %llu, PE32 files scanned %llu, matches %llu, bytes %llu, "
               "seconds %.3f\n",
               static_cast<unsigned long long>(tally.filesSeen),
               static_cast<unsigned long long>(tally.imagesScanned),
               static_cast<unsigned long long>(tally.matches),
               static_cast<unsigned long long>(tally.bytes), seconds);
  if (unreadable) return 2;
  return tally.matches > 0 ? 1 : 0;
}

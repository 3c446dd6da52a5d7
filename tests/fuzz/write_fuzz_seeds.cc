// write_fuzz_seeds DIR: writes each fuzz target's seed inputs to DIR/<target>/seed_<n>, the
// corpora that scripts/fuzz.sh starts from. Generated afresh at every run, never committed.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "tests/fuzz/fuzz_seeds.h"
#include "tests/fuzz/fuzz_targets.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: write_fuzz_seeds DIR\n", stderr);
    return 2;
  }
  namespace fs = std::filesystem;
  for (const fuzz::FuzzTarget& target : fuzz::kFuzzTargets) {
    const fs::path dir = fs::path(argv[1]) / std::string(target.name);
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) {
      std::fprintf(stderr, "write_fuzz_seeds: cannot create %s\n", dir.string().c_str());
      return 1;
    }
    int n = 0;
    for (const fuzz::Input& input : fuzz::SeedInputs(target.name)) {
      const fs::path file = dir / ("seed_" + std::to_string(n++));
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(input.data()),
                static_cast<std::streamsize>(input.size()));
      if (!out) {
        std::fprintf(stderr, "write_fuzz_seeds: cannot write %s\n", file.string().c_str());
        return 1;
      }
    }
  }
  return 0;
}

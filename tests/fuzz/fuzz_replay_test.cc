// Every fuzz target over its seeds and over the inputs that once broke it (the regression files
// below tests/fuzz/regressions/<target>/), in the normal suite. A target's check that fails
// aborts the program with its message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_seeds.h"
#include "tests/fuzz/fuzz_targets.h"

namespace fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> RegressionFiles(std::string_view target) {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(NOLVEXA_FUZZ_REGRESSIONS) / std::string(target);
  std::error_code error;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, error)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Input ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Input(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzReplay : public testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplay, RunsItsSeedsCleanly) {
  const std::vector<Input> seeds = SeedInputs(GetParam().name);
  EXPECT_FALSE(seeds.empty());
  for (const Input& seed : seeds) GetParam().run(seed);
}

TEST_P(FuzzReplay, RunsEveryFormerFindingCleanly) {
  for (const fs::path& file : RegressionFiles(GetParam().name)) {
    // Printed first: a failing check aborts before any trace could be shown.
    std::fprintf(stderr, "replaying %s\n", file.string().c_str());
    const Input input = ReadAll(file);
    GetParam().run(input);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(kFuzzTargets),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fuzz

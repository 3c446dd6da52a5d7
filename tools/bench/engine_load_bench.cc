// Loading and compiling the 28 in-force signature texts, with and without building the engine.
// Each figure comes with a baseline over the same texts in the same iterations (copying and
// upper-casing them, the least any load does), reported as a ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/support/in_force_signatures.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

size_t CopyAndUpperCase() {
  size_t sum = 0;
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    std::string text = e.pattern;
    for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    sum += static_cast<unsigned char>(text[text.size() / 2]);
  }
  return sum;
}

void LoadAndCompile(engine::Engine& e) {
  for (const support::SignatureEntry& s : support::InForceSignatures()) {
    e.AddSignature(s.kindName, s.location, s.pattern);
  }
  e.Compile();
}

// A fresh engine per iteration: two temporary files, ten threads started and joined.
void BM_ConstructLoadCompile(benchmark::State& state) {
  double engineSeconds = 0;
  double baseSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(CopyAndUpperCase());
    const auto t1 = Clock::now();
    {
      engine::Engine e;
      LoadAndCompile(e);
      benchmark::DoNotOptimize(e.Bsm().PartMatcher().Count());
    }
    engineSeconds += Seconds(Clock::now() - t1);
    baseSeconds += Seconds(t1 - t0);
  }
  state.counters["vs_textcopy"] = baseSeconds / engineSeconds;
}
BENCHMARK(BM_ConstructLoadCompile)->Unit(benchmark::kMicrosecond);

// Load and compile alone: the engine is built and torn down outside the timed part.
void BM_LoadCompile(benchmark::State& state) {
  double loadSeconds = 0;
  double baseSeconds = 0;
  for (auto _ : state) {
    auto e = std::make_unique<engine::Engine>();
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(CopyAndUpperCase());
    const auto t1 = Clock::now();
    LoadAndCompile(*e);
    const auto t2 = Clock::now();
    benchmark::DoNotOptimize(e->Bsm().PartMatcher().Count());
    e.reset();
    state.SetIterationTime(Seconds(t2 - t1));
    loadSeconds += Seconds(t2 - t1);
    baseSeconds += Seconds(t1 - t0);
  }
  state.counters["vs_textcopy"] = baseSeconds / loadSeconds;
}
BENCHMARK(BM_LoadCompile)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

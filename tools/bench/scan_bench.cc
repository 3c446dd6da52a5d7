// Scan cost against reading the same bytes: the whole-buffer scan of 1 MiB of random bytes, and
// the per-file cost of a 16 KiB image (load, scan, release) against opening, mapping, summing
// and closing the same file. Each iteration times both, interleaved, and reports the ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "fileinfo/pe_image.h"
#include "platform/mapped_file.h"
#include "remedy/file_scan.h"
#include "tests/support/in_force_signatures.h"
#include "tests/support/pe_builder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

uint64_t ByteSum(std::span<const uint8_t> data) {
  uint64_t sum = 0;
  for (uint8_t b : data) sum += b;
  return sum;
}

engine::Engine& InForceEngine() {
  static engine::Engine* const engine = [] {
    auto* made = new engine::Engine();
    for (const support::SignatureEntry& s : support::InForceSignatures()) {
      made->AddSignature(s.kindName, s.location, s.pattern);
    }
    made->Compile();
    return made;
  }();
  return *engine;
}

void BM_ScanBufferVsByteSum(benchmark::State& state) {
  const std::vector<uint8_t> data = RandomBytes(1 << 20, /*seed=*/7);
  engine::Engine& engine = InForceEngine();
  double scanSeconds = 0;
  double sumSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(ByteSum(data));
    const auto t1 = Clock::now();
    std::string name = "NNN";
    benchmark::DoNotOptimize(
        engine.ScanBuffer(data.data(), static_cast<int32_t>(data.size()), name));
    sumSeconds += Seconds(t1 - t0);
    scanSeconds += Seconds(Clock::now() - t1);
  }
  state.counters["vs_bytesum"] = sumSeconds / scanSeconds;  // 1.0: as fast as reading the bytes
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_ScanBufferVsByteSum)->Unit(benchmark::kMillisecond);

// A 16 KiB image with random section bytes, written to a scratch file.
class ScratchImage {
 public:
  ScratchImage() {
    path_ = std::filesystem::temp_directory_path() /
            ("scan_bench_" + std::to_string(std::random_device{}()) + ".exe");
    support::PeBuilder b;
    b.SectionBytes(0, 0, RandomBytes(16384 - 0x200, 11));
    const std::vector<uint8_t> bytes = b.Bytes();
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  ~ScratchImage() { std::filesystem::remove(path_); }
  std::wstring Path() const { return path_.wstring(); }

 private:
  std::filesystem::path path_;
};

// The per-file baseline: open, map, read every byte, close.
void MapAndSum(const std::wstring& path) {
  platform::MappedFile mapped;
  if (mapped.Open(path) == platform::MapResult::kOk) {
    benchmark::DoNotOptimize(ByteSum(mapped.Bytes()));
  }
}

void BM_ScanFileVsMapAndSum(benchmark::State& state) {
  const ScratchImage file;
  engine::Engine& engine = InForceEngine();
  double scanSeconds = 0;
  double mapSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    MapAndSum(file.Path());
    const auto t1 = Clock::now();
    {
      fileinfo::PeImage pe;
      if (pe.Load(file.Path()) == fileinfo::LoadResult::kOk) {
        benchmark::DoNotOptimize(
            engine.ScanImage(pe.Bytes().data(), static_cast<int32_t>(pe.Bytes().size()), pe));
      }
      pe.Release();
    }
    mapSeconds += Seconds(t1 - t0);
    scanSeconds += Seconds(Clock::now() - t1);
  }
  state.counters["vs_map_and_sum"] = scanSeconds / mapSeconds;  // target: at most 3
}
BENCHMARK(BM_ScanFileVsMapAndSum)->Unit(benchmark::kMicrosecond);

// The drive walk's per-file scan itself, hash lookup of a clean file included.
void BM_RemedyScanFileVsMapAndSum(benchmark::State& state) {
  const ScratchImage file;
  engine::Engine& engine = InForceEngine();
  double scanSeconds = 0;
  double mapSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    MapAndSum(file.Path());
    const auto t1 = Clock::now();
    std::string name = "NNN";
    benchmark::DoNotOptimize(remedy::ScanFile(engine, file.Path(), name));
    mapSeconds += Seconds(t1 - t0);
    scanSeconds += Seconds(Clock::now() - t1);
  }
  state.counters["vs_map_and_sum"] = scanSeconds / mapSeconds;  // target: at most 3
}
BENCHMARK(BM_RemedyScanFileVsMapAndSum)->Unit(benchmark::kMicrosecond);

}  // namespace

// Md5Buffer and Sha1Buffer on 1 MiB of random bytes against OpenSSL's digests over the same bytes
// in the same iterations. Throughput is in MB/s (10^6 bytes); vs_openssl is OpenSSL's time over
// ours, so 1.0 means as fast as OpenSSL and 0.5 half as fast.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "fileinfo/md5.h"
#include "fileinfo/sha1.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBytes = size_t{1} << 20;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

template <typename Ours>
void Compare(benchmark::State& state, Ours ours, const EVP_MD* md) {
  const std::vector<uint8_t> data = RandomBytes(kBytes, /*seed=*/7);
  double oursSeconds = 0;
  double opensslSeconds = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    // Alternate the order, so that neither side always runs on a cache the other warmed.
    for (int side = 0; side < 2; ++side) {
      const auto t0 = Clock::now();
      if ((side == 0) == oursFirst) {
        benchmark::DoNotOptimize(ours(std::span<const uint8_t>(data)));
        oursSeconds += Seconds(Clock::now() - t0);
      } else {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        benchmark::DoNotOptimize(EVP_Digest(data.data(), data.size(), out, &length, md, nullptr));
        benchmark::DoNotOptimize(out);
        opensslSeconds += Seconds(Clock::now() - t0);
      }
    }
    oursFirst = !oursFirst;
  }
  const double megabytes = static_cast<double>(state.iterations()) * kBytes / 1e6;
  state.counters["ours_MBps"] = megabytes / oursSeconds;
  state.counters["openssl_MBps"] = megabytes / opensslSeconds;
  state.counters["vs_openssl"] = opensslSeconds / oursSeconds;
}

void BM_Md5BufferVsOpenSsl(benchmark::State& state) {
  Compare(state, fileinfo::Md5Buffer, EVP_md5());
}
BENCHMARK(BM_Md5BufferVsOpenSsl)->Unit(benchmark::kMillisecond);

void BM_Sha1BufferVsOpenSsl(benchmark::State& state) {
  Compare(state, fileinfo::Sha1Buffer, EVP_sha1());
}
BENCHMARK(BM_Sha1BufferVsOpenSsl)->Unit(benchmark::kMillisecond);

}  // namespace

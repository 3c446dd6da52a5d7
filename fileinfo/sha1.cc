// SHA-1 as FIPS 180-1 defines it: 64-byte blocks of sixteen big-endian words expanded to eighty,
// four rounds of twenty steps, padding with 0x80, zeros and the 64-bit big-endian bit count.
// Words are assembled from bytes, so the host's byte order and the input's alignment do not
// matter.
#include "fileinfo/sha1.h"

#include <algorithm>

namespace fileinfo {
namespace {

constexpr size_t kBlockSize = 64;
constexpr uint32_t kK[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

constexpr uint32_t Rotate(uint32_t x, int n) { return x << n | x >> (32 - n); }

void Transform(std::array<uint32_t, 5>& state, const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    const uint8_t* p = block + 4 * i;
    w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
  }
  for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  // Four loops of twenty steps, one per round function: no branch inside a step.
  const auto rounds = [&](const uint32_t* words, uint32_t k, auto f) {
    for (int t = 0; t < 20; ++t) {
      const uint32_t next = Rotate(a, 5) + f(b, c, d) + e + words[t] + k;
      e = d;
      d = c;
      c = Rotate(b, 30);
      b = a;
      a = next;
    }
  };
  rounds(w, kK[0], [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); });
  rounds(w + 20, kK[1], [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; });
  rounds(w + 40, kK[2],
         [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); });
  rounds(w + 60, kK[3], [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; });
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

Sha1Digest Sha1Buffer(std::span<const uint8_t> data) {
  std::array<uint32_t, 5> state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const size_t whole = data.size() / kBlockSize * kBlockSize;
  for (size_t at = 0; at < whole; at += kBlockSize) Transform(state, data.data() + at);

  // The tail, 0x80, zeros up to 56 bytes modulo 64, then the bit count: one or two blocks.
  uint8_t tail[2 * kBlockSize] = {};
  const size_t rest = data.size() - whole;
  std::copy(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end(), tail);
  tail[rest] = 0x80;
  const size_t tailSize = rest < kBlockSize - 8 ? kBlockSize : 2 * kBlockSize;
  const uint64_t bits = uint64_t{data.size()} * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t at = 0; at < tailSize; at += kBlockSize) Transform(state, tail + at);

  Sha1Digest digest;
  for (size_t i = 0; i < digest.size(); ++i) {
    digest[i] = static_cast<uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
  }
  return digest;
}

}  // namespace fileinfo

// MD5 as RFC 1321 defines it: 64-byte blocks of sixteen little-endian words, four rounds of
// sixteen steps, padding with 0x80, zeros and the 64-bit bit count. Words are assembled from
// bytes, so the host's byte order and the input's alignment do not matter.
#include "fileinfo/md5.h"

#include <algorithm>

namespace fileinfo {
namespace {

constexpr size_t kBlockSize = 64;

// The sine-derived constants, one per step.
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
// Left rotations, four per round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr uint32_t Rotate(uint32_t x, int n) { return x << n | x >> (32 - n); }

void Transform(std::array<uint32_t, 4>& state, const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    const uint8_t* p = block + 4 * i;
    x[i] = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int step = 0; step < 64; ++step) {
    const int round = step / 16;
    uint32_t f;
    int k;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        k = step;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        k = (1 + 5 * step) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        k = (5 + 3 * step) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        k = (7 * step) % 16;
        break;
    }
    const uint32_t next = b + Rotate(a + f + x[k] + kT[step], kShift[round][step % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

Md5Digest Md5Buffer(std::span<const uint8_t> data) {
  std::array<uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  const size_t whole = data.size() / kBlockSize * kBlockSize;
  for (size_t at = 0; at < whole; at += kBlockSize) Transform(state, data.data() + at);

  // The tail, 0x80, zeros up to 56 bytes modulo 64, then the bit count: one or two blocks.
  uint8_t tail[2 * kBlockSize] = {};
  const size_t rest = data.size() - whole;
  std::copy(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end(), tail);
  tail[rest] = 0x80;
  const size_t tailSize = rest < kBlockSize - 8 ? kBlockSize : 2 * kBlockSize;
  const uint64_t bits = uint64_t{data.size()} * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 8 + i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t at = 0; at < tailSize; at += kBlockSize) Transform(state, tail + at);

  Md5Digest digest;
  for (size_t i = 0; i < digest.size(); ++i) {
    digest[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (i % 4)));
  }
  return digest;
}

}  // namespace fileinfo

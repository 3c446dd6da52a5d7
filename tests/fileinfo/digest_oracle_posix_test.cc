// Md5Buffer and Sha1Buffer against OpenSSL's digests on random data (native builds only).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "fileinfo/md5.h"
#include "fileinfo/sha1.h"

namespace fileinfo {
namespace {

template <size_t N>
std::array<uint8_t, N> Oracle(const EVP_MD* md, std::span<const uint8_t> data) {
  std::array<uint8_t, N> out{};
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr), 1);
  EXPECT_EQ(length, N);
  return out;
}

// Every length up to 300, then a few bytes either side of multiples of 64 up to 64 KiB, and
// around 1 MiB.
std::vector<size_t> Lengths() {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (size_t block = 5; block <= 1024; block = block * 3 / 2) {
    for (size_t d = 0; d < 5; ++d) lengths.push_back(block * 64 + d - 2);
  }
  for (size_t d = 0; d < 3; ++d) lengths.push_back((size_t{1} << 20) + d - 1);
  return lengths;
}

TEST(DigestOracle, AgreesWithOpenSslOnRandomData) {
  for (const uint32_t seed : {1u, 77u, 4096u}) {
    std::mt19937 random(seed);
    std::vector<uint8_t> buffer((size_t{1} << 20) + 8);
    for (uint8_t& b : buffer) b = static_cast<uint8_t>(random());
    for (const size_t length : Lengths()) {
      const size_t start = length % 4;  // unaligned starts as well
      SCOPED_TRACE(testing::Message() << "seed " << seed << " length " << length);
      const std::span<const uint8_t> data = std::span(buffer).subspan(start, length);
      ASSERT_EQ(Md5Buffer(data), Oracle<16>(EVP_md5(), data));
      ASSERT_EQ(Sha1Buffer(data), Oracle<20>(EVP_sha1(), data));
    }
  }
}

}  // namespace
}  // namespace fileinfo

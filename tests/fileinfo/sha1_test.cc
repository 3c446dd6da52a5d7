#include "fileinfo/sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fileinfo {
namespace {

std::string Hex(std::span<const uint8_t> digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : digest) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// Byte i of the generated messages is (7 i + 3) mod 256.
std::vector<uint8_t> Pattern(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

TEST(Sha1Buffer, GivesTheStandardTestVectors) {
  const struct {
    std::string text;
    const char* digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    EXPECT_EQ(Hex(Sha1Buffer(Text(c.text))), c.digest);
  }
}

TEST(Sha1Buffer, PadsCorrectlyAroundBlockBoundaries) {
  // 55 bytes leave room for the length in the last block, 56 do not.
  const struct {
    size_t length;
    const char* digest;
  } cases[] = {
      {55, "ddf57317ef34bfee3b6df83d359098930eb278bc"},
      {56, "a0d492bb0fc889d0eca3bc137066ab6f4f74f369"},
      {57, "11a02dcf95859677a62e75024067c22b165d890f"},
      {63, "c55856749bef509bdfe6bfebfc7bf4e793e82132"},
      {64, "bede92be29c3874e1b54ddc77988d606fc857a8e"},
      {65, "b05a80522b053d6dc7e0a517d0e70212c7dad11f"},
      {119, "504e27376a6e0f0dba8295b85cb25dc4dfa17d23"},
      {120, "82134b02fb3f702491be9bed581eeab59334acb2"},
      {127, "34d5e582029e9b9b85b2febe31da3db7cdabaaea"},
      {128, "a09133e6730ffe899efb70204cb5646cd5dc24ee"},
      {129, "808aea332ce367541d37adae7f94e59c5c1a934e"},
      {1000, "4231a8a50a10fa9758db8ec71fdef855b751048a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(Hex(Sha1Buffer(Pattern(c.length))), c.digest);
  }
}

TEST(Sha1Buffer, DoesNotDependOnTheAlignmentOfItsInput) {
  const std::vector<uint8_t> message = Pattern(1000);
  std::vector<uint8_t> shifted(message.size() + 8);
  for (size_t shift = 0; shift < 8; ++shift) {
    SCOPED_TRACE(shift);
    std::copy(message.begin(), message.end(), shifted.begin() + static_cast<ptrdiff_t>(shift));
    EXPECT_EQ(Hex(Sha1Buffer(std::span(shifted).subspan(shift, message.size()))),
              "4231a8a50a10fa9758db8ec71fdef855b751048a");
  }
}

}  // namespace
}  // namespace fileinfo

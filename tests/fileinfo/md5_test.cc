#include "fileinfo/md5.h"

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

TEST(Md5Buffer, GivesTheStandardTestVectors) {
  const struct {
    std::string text;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    EXPECT_EQ(Hex(Md5Buffer(Text(c.text))), c.digest);
  }
}

TEST(Md5Buffer, PadsCorrectlyAroundBlockBoundaries) {
  // 55 bytes leave room for the length in the last block, 56 do not.
  const struct {
    size_t length;
    const char* digest;
  } cases[] = {
      {55, "52c0e574e1198de5fe3f8f11440dcb1b"},  {56, "46c9907fc908ee68b1e7b8e71286a518"},
      {57, "1c805dd236c35cab25fcb1bc73802c51"},  {63, "a62f6d59e837867693f042f5b8f5a236"},
      {64, "7160b8fb5e9e4023d549c3971fbaeead"},  {65, "70bd662e7aefbda85a0f7244167b7897"},
      {119, "e84905d4214f4d1ca56c2cdcc152b143"}, {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"},
      {127, "acce2474d6cc8302120d09c818d17ef7"}, {128, "10b2da1a82f16d99a81a7203fe9f02cb"},
      {129, "03fefbbcebe2959cf2270241aafe0250"}, {1000, "10046f077f2082ac19676b8079f1cb1a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(Hex(Md5Buffer(Pattern(c.length))), c.digest);
  }
}

TEST(Md5Buffer, DoesNotDependOnTheAlignmentOfItsInput) {
  const std::vector<uint8_t> message = Pattern(1000);
  std::vector<uint8_t> shifted(message.size() + 8);
  for (size_t shift = 0; shift < 8; ++shift) {
    SCOPED_TRACE(shift);
    std::copy(message.begin(), message.end(), shifted.begin() + static_cast<ptrdiff_t>(shift));
    EXPECT_EQ(Hex(Md5Buffer(std::span(shifted).subspan(shift, message.size()))),
              "10046f077f2082ac19676b8079f1cb1a");
  }
}

}  // namespace
}  // namespace fileinfo

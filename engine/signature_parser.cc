// Pattern text: hex text, then optional suffix items that begin with ":".
//   hex text  = part { gap part }, ending at the first ":" or stop character (a char <= 32 taken
//               as signed: blanks, controls, the end, bytes 128-255); what follows a stop
//               character is ignored.
//   part      = two-character tokens: "HH" exact, "H?" high nibble, "?H" low nibble, "??" any.
//   gap       = "{" min "-" max "}", read like "{%d-%d}"; a lone minimum gets the maximum 0xFFFF.
//   ":RH;" size ";" placement ";" hash ";" digest ";" names a rolling-hash block.
// Every signature draws one part id when its walk starts and one more at each gap, so the parts
// of one signature carry consecutive ids.
#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <string_view>

#include "engine/bsm.h"
#include "engine/limits.h"

namespace engine {
namespace {

constexpr char kBadSignature[] = "%05d, Bad signature in: %s\n";
constexpr char kMatcherRejected[] = "%05d, PMatcher rejected pattern for signature: %s\n";
constexpr std::string_view kRollingHashTag = ":RH;";
constexpr size_t kRollingHashFields = 4;
constexpr size_t kDigestBytes = 16;

bool IsStop(char c) { return static_cast<signed char>(c) <= 32; }

void UpperCase(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

// The value of a hex digit (upper case only: the text is upper-cased first), or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One byte token; false when the two characters form none.
bool ReadToken(char first, char second, uint8_t& byte, uint8_t& mask) {
  const int high = HexValue(first);
  const int low = HexValue(second);
  if (high >= 0 && low >= 0) {
    byte = static_cast<uint8_t>(high << 4 | low), mask = 0xFF;
  } else if (high >= 0 && second == '?') {
    byte = static_cast<uint8_t>(high << 4), mask = 0xF0;
  } else if (first == '?' && low >= 0) {
    byte = static_cast<uint8_t>(low), mask = 0x0F;
  } else if (first == '?' && second == '?') {
    byte = 0, mask = 0x00;
  } else {
    return false;
  }
  return true;
}

// A %d conversion at `pos`: optional sign and at least one digit. Values beyond the int range
// saturate (the conversion itself would be undefined there).
bool ReadDecimal(std::string_view text, size_t& pos, int& value) {
  size_t i = pos;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  int64_t v = 0;
  constexpr int64_t kCap = int64_t{std::numeric_limits<int>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = std::min(v * 10 + (text[i] - '0'), kCap);
  }
  v = negative ? -v : std::min(v, kCap - 1);
  value = static_cast<int>(v);
  pos = i;
  return true;
}

// The numbers a "{%d-%d}" scan yields at the "{" that starts `text`: 0, 1 or 2.
int ReadGap(std::string_view text, int& minimum, int& maximum) {
  size_t pos = 1;
  if (!ReadDecimal(text, pos, minimum)) return 0;
  if (pos >= text.size() || text[pos] != '-') return 1;
  ++pos;
  return ReadDecimal(text, pos, maximum) ? 2 : 1;
}

// atoi without its undefined overflow: leading sign and digits, saturated to the int range.
int ReadBlockSize(std::string_view field) {
  size_t pos = 0;
  int value = 0;
  return ReadDecimal(field, pos, value) ? value : 0;
}

// The digits of the hash field as an unsigned 32-bit number, wrapping; reading stops at the
// first character that is no digit.
uint32_t ReadHash(std::string_view field) {
  uint32_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

// Two characters per byte from the first 32 of the field; a missing character or one that is no
// hex digit counts as 0.
std::array<uint8_t, kDigestBytes> ReadDigest(std::string_view field) {
  std::array<uint8_t, kDigestBytes> digest{};
  auto nibble = [&](size_t i) { return i < field.size() ? std::max(HexValue(field[i]), 0) : 0; };
  for (size_t i = 0; i < kDigestBytes; ++i) {
    digest[i] = static_cast<uint8_t>(nibble(2 * i) << 4 | nibble(2 * i + 1));
  }
  return digest;
}

struct BlockSuffix {
  bool present = false;
  int blockSize = 0;
  uint32_t weakChecksum = 0;
  std::array<uint8_t, kDigestBytes> digest{};
};

// Reads the suffix items after the hex text (which ends at `hexEnd`); a later rolling-hash
// suffix replaces an earlier one. False when one of the first three fields ends at a stop
// character other than a blank (the end of the text included).
bool ReadSuffixes(std::string_view text, size_t hexEnd, BlockSuffix& suffix) {
  size_t pos = hexEnd;
  while (pos < text.size() && !IsStop(text[pos])) {
    if (!text.substr(pos).starts_with(kRollingHashTag)) {
      pos = std::min(text.find(':', pos + 1), text.size());
      continue;
    }
    pos += kRollingHashTag.size();
    std::array<std::string_view, kRollingHashFields> fields;
    for (size_t f = 0; f < kRollingHashFields; ++f) {
      const size_t start = pos;
      while (pos < text.size() && text[pos] != ';' && !IsStop(text[pos])) ++pos;
      fields[f] = text.substr(start, pos - start);
      if (pos < text.size() && text[pos] == ';') {
        ++pos;
      } else if (f + 1 < kRollingHashFields && (pos >= text.size() || text[pos] != ' ')) {
        return false;
      }
      // A field that ends at a blank leaves the position there: the fields after it are empty
      // and the scan ends, as after every stop character.
    }
    suffix.present = true;
    suffix.blockSize = ReadBlockSize(fields[0]);
    suffix.weakChecksum = ReadHash(fields[2]);
    suffix.digest = ReadDigest(fields[3]);
  }
  return true;
}

}  // namespace

void BSM::Report(const char* format, const std::string& kindName) {
  ++problemCount_;
  std::printf(format, static_cast<int>(problemCount_), kindName.c_str());
  std::fflush(stdout);
}

uint32_t BSM::AppendRecord(const std::string& location, const std::string& kindName, bool hasBlock,
                           int blockSize, uint32_t weakChecksum,
                           const std::array<uint8_t, 16>& digest) {
  const uint32_t blockId = hasBlock ? rollingHash_->AddBlock(blockSize, weakChecksum, digest) : 0;
  return store_->Append(location, kindName, blockId);
}

int BSM::AddBinarySignature(std::string kindName, std::string location, std::string pattern,
                            bool strict) {
  UpperCase(location);
  UpperCase(pattern);
  // The text ends at its first NUL, as a C text would.
  pattern.resize(std::min(pattern.find('\0'), pattern.size()));
  if (pattern.size() > kMaxPatternText) return 0;
  const std::string_view text = pattern;

  if (text.starts_with(':')) {
    // The ":" forms no token: the walk refuses it after drawing the first part id.
    ++nextPartId_;
    return 0;
  }
  const size_t hexEnd = static_cast<size_t>(
      std::find_if(text.begin(), text.end(), [](char c) { return c == ':' || IsStop(c); }) -
      text.begin());
  BlockSuffix block;
  if (!ReadSuffixes(text, hexEnd, block)) return 0;
  const std::string_view hex = text.substr(0, hexEnd);

  std::vector<uint8_t> bytes;
  std::vector<uint8_t> mask;
  bytes.reserve(hex.size() / 2);
  mask.reserve(hex.size() / 2);
  uint32_t partId = nextPartId_++;
  uint32_t previousPartId = 0;
  uint16_t minGap = kNoGapBound;
  uint16_t maxGap = kNoGapBound;
  uint32_t recordOffset = kNoRecord;
  auto appendRecord = [&] {
    return AppendRecord(location, kindName, block.present, block.blockSize, block.weakChecksum,
                        block.digest);
  };

  size_t i = 0;
  for (;;) {
    if (i < hex.size() && hex[i] != '{') {
      uint8_t byte = 0;
      uint8_t byteMask = 0;
      if (i + 1 >= hex.size() || !ReadToken(hex[i], hex[i + 1], byte, byteMask)) return 0;
      bytes.push_back(byte);
      mask.push_back(byteMask);
      i += 2;
      continue;
    }

    const bool atEnd = i >= hex.size();
    if (bytes.size() < 2) {
      Report(kBadSignature, kindName);
      if (strict) return 0;
    }
    const bool exact = std::all_of(mask.begin(), mask.end(), [](uint8_t m) { return m == 0xFF; });
    const std::span<const uint8_t> partMask = exact ? std::span<const uint8_t>() : mask;

    if (previousPartId == 0 && atEnd) {
      const int32_t id = simple_->AddPattern(bytes, partMask);
      if (id < 0) {
        Report(kMatcherRejected, kindName);
        return 0;
      }
      if (static_cast<size_t>(id) == recordOffsets_.size()) {
        recordOffsets_.push_back(appendRecord());
        ++signatureCount_;
        return 1;
      }
      // The same bytes and mask came before: this signature becomes a one-part chain in the part
      // matcher, with a record of its own.
    }

    const int32_t id = part_->AddPattern(bytes, partMask);
    if (id < 0) {
      Report(kMatcherRejected, kindName);
      return 0;
    }
    bytes.clear();
    mask.clear();
    if (static_cast<size_t>(id) >= partLinks_.size())
      partLinks_.resize(static_cast<size_t>(id) + 1);
    if (atEnd) recordOffset = appendRecord();
    partLinks_[static_cast<size_t>(id)].push_back(
        {previousPartId, minGap, maxGap, partId, recordOffset});
    if (atEnd) {
      ++signatureCount_;
      return 1;
    }

    previousPartId = partId;
    partId = nextPartId_++;
    recordOffset = kNoRecord;
    int minimum = 0;
    int maximum = 0;
    const int numbers = ReadGap(hex.substr(i), minimum, maximum);
    if (numbers == 0) return 0;
    minGap = static_cast<uint16_t>(minimum);
    maxGap = numbers == 2 ? static_cast<uint16_t>(maximum) : kNoGapBound;
    // The closing brace must lie in the hex text: what follows a stop character is ignored.
    const size_t close = hex.find('}', i);
    if (close == std::string_view::npos) return 0;
    i = close + 1;
  }
}

}  // namespace engine

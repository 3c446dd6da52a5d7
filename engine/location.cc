// A location resolves to a target and a range, and a match start counts when
// target <= offset <= target + range, all as unsigned 32-bit values. Targets are computed in
// unsigned 32-bit arithmetic, so they wrap exactly as 32-bit two's complement sums would, and a
// target before the buffer start becomes a huge value that no offset reaches. target + range
// wraps the same way, and a sum that wraps lies below the target, so it confirms nothing.
#include "engine/location.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "engine/scan_windows.h"

namespace engine {
namespace {

constexpr std::string_view kAnywhere = "*";
constexpr std::string_view kEndOfFile = "EOF";
constexpr std::string_view kEntryPoint = "EP";
constexpr std::string_view kLastSection = "SL";
constexpr char kSection = 'S';
constexpr char kRangeSeparator = ',';
// "EOF" counts back by the number from here; the character before it is not looked at, so
// "EOF-100" and "EOF+100" mean the same.
constexpr size_t kEndOfFileNumberAt = 4;
// Digit runs are read up to this value; more digits keep it, and it still exceeds every int32.
constexpr int64_t kDigitCap = int64_t{1} << 31;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The number from position k of the text, 0 when the text is shorter.
uint32_t NumberFrom(std::string_view text, size_t k) {
  return k < text.size() ? static_cast<uint32_t>(ReadDecimal(text.substr(k))) : 0;
}

// A '-' or '+' at position k moves the target by the number after it.
uint32_t Adjust(uint32_t target, std::string_view text, size_t k) {
  if (k >= text.size()) return target;
  if (text[k] == '-') return target - NumberFrom(text, k + 1);
  if (text[k] == '+') return target + NumberFrom(text, k + 1);
  return target;
}

// PointerToRawData rounded down to the file alignment, unsigned (none when it is 0).
uint32_t RawStart(const fileinfo::PeImage& pe, const fileinfo::SectionHeader& s) {
  const uint32_t fa = pe.FileAlignment();
  return fa == 0 ? s.pointerToRawData : s.pointerToRawData / fa * fa;
}

std::optional<uint32_t> Target(int32_t size, const fileinfo::PeImage* pe, std::string_view text,
                               const ExtraData* extraData) {
  if (IsDigit(text[0])) {
    const uint32_t number = NumberFrom(text, 0);
    return extraData ? number - static_cast<uint32_t>(extraData->fileBase) : number;
  }
  if (text.starts_with(kEndOfFile)) {
    return static_cast<uint32_t>(size) - NumberFrom(text, kEndOfFileNumberAt);
  }
  if (text.starts_with(kEntryPoint)) {
    uint32_t target;
    if (extraData) {
      target = 0u - static_cast<uint32_t>(extraData->entryDelta);
    } else if (pe) {
      const std::optional<int64_t> position = EntryFilePosition(*pe, size);
      // A position past 4 GiB keeps its low 32 bits, as a 32-bit sum would.
      target = position ? static_cast<uint32_t>(*position) : pe->EntryPoint();
    } else {
      return std::nullopt;
    }
    return Adjust(target, text, kEntryPoint.size());
  }
  if (text.starts_with(kLastSection)) {
    if (extraData || !pe || pe->SectionCount() == 0) return std::nullopt;
    return Adjust(RawStart(*pe, pe->Sections().back()), text, kLastSection.size());
  }
  if (text[0] == kSection) {
    if (!extraData && !pe) return std::nullopt;
    int64_t n = 0;
    size_t k = 1;
    for (; k < text.size() && IsDigit(text[k]); ++k) {
      n = std::min(n * 10 + (text[k] - '0'), kDigitCap);
    }
    uint32_t target;
    if (extraData) {
      if (n != extraData->sectionIndex) return std::nullopt;
      target = 0u - static_cast<uint32_t>(extraData->sectionDelta);
    } else {
      if (n >= pe->SectionCount()) return std::nullopt;
      target = RawStart(*pe, pe->Sections()[static_cast<size_t>(n)]);
    }
    return Adjust(target, text, k);
  }
  return std::nullopt;
}

}  // namespace

int32_t ReadDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), kDigitCap);
  }
  if (negative) return static_cast<int32_t>(-magnitude);  // -2^31 at the cap
  return static_cast<int32_t>(std::min<int64_t>(magnitude, INT32_MAX));
}

bool MatchesLocation(int32_t size, const fileinfo::PeImage* pe, int32_t offset,
                     std::string_view location, const ExtraData* extraData) {
  if (location == kAnywhere) return true;
  if (location.empty()) return false;
  const size_t comma = location.find(kRangeSeparator);
  const uint32_t range = comma == std::string_view::npos ? 0 : NumberFrom(location, comma + 1);
  const std::optional<uint32_t> target = Target(size, pe, location, extraData);
  if (!target) return false;
  const uint32_t at = static_cast<uint32_t>(offset);
  return *target <= at && at <= *target + range;
}

}  // namespace engine

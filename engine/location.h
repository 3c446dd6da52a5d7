// Location texts: where a signature's match must start for the signature to count. A text is
// "*" (anywhere), a buffer offset, a distance back from the end ("EOF-100"), a place near the
// entry point ("EP+16"), in the last section ("SL") or in section n ("S0+464"), optionally
// followed by ",range". Pure functions, any thread; nothing is kept.
#pragma once

#include <cstdint>
#include <string_view>

#include "fileinfo/pe_image.h"

namespace engine {

// A buffer's context in place of a PE image (all zero for a plain buffer).
struct ExtraData {
  int32_t entryDelta;    // "EP" resolves to minus this
  int32_t fileBase;      // subtracted from a numeric location
  int32_t sectionDelta;  // "S<n>" resolves to minus this
  int32_t sectionIndex;  // the only n that "S<n>" accepts
};

// The decimal number at the start of `text`, read as the C runtime's atoi reads it: leading
// white space, an optional sign, digits up to the first other character; 0 when there are none.
// Values beyond 32 bits saturate to INT32_MIN or INT32_MAX.
int32_t ReadDecimal(std::string_view text);

// True when a match starting at `offset` of a buffer of `size` bytes satisfies `location`,
// resolved against `pe`, or against `extraData` where that is given (it wins over `pe`).
// Texts of no recognised form, section numbers out of range and texts that need a PE image or
// extraData that is absent give false.
[[nodiscard]] bool MatchesLocation(int32_t size, const fileinfo::PeImage* pe, int32_t offset,
                                   std::string_view location, const ExtraData* extraData);

}  // namespace engine

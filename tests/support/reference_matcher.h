// ReferenceScan: a slow, plainly correct matcher that the engine's scan is checked against. For
// each signature it tries every start offset of every scan window, follows the gaps between the
// parts by trying every allowed distance, checks the location text with the engine's location
// rules and looks for the signature's block at every offset of every window. Stateless; texts
// must be well formed (hex tokens, "{min-max}" or "{min}" gaps, an optional ":RH;" suffix).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/location.h"
#include "fileinfo/pe_image.h"

namespace support {

struct ReferenceSignature {
  std::string kindName;
  std::string location;
  std::string pattern;
};

// The sorted distinct kind names of the signatures found in `buffer`, within the windows the
// engine selects for it.
std::vector<std::string> ReferenceScan(std::span<const ReferenceSignature> signatures,
                                       const uint8_t* buffer, int32_t size,
                                       const fileinfo::PeImage* pe,
                                       const engine::ExtraData* extraData);

}  // namespace support

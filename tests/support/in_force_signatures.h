// The 28 signature entries of the built-in table that the parser accepts, in table order:
// rows 1 to 9 and the 19 FileSig rows whose first stretch has an even number of characters.
#pragma once

#include <span>

namespace support {

struct SignatureEntry {
  int row;  // position in the built-in table, from 1
  const char* kindName;
  const char* location;
  const char* pattern;
};

std::span<const SignatureEntry> InForceSignatures();

}  // namespace support

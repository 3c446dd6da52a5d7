// LookupHashes: the size-gated lookup of a file's MD5, and of each of its sections' MD5, in a
// HashStore. Nothing is hashed unless the store holds a record of exactly its size, so a file no
// record fits costs a few set lookups. Runs on the thread that scans the file; it reads the
// store under the store's own locks and returns names it owns.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fileinfo/hash_store.h"
#include "fileinfo/pe_image.h"

namespace fileinfo {

// A FileAlignment of 0 is read as this.
inline constexpr uint32_t kDefaultFileAlignment = 512;

// The bytes of the file that stand for one section.
struct SectionBytes {
  uint32_t offset = 0;
  uint32_t length = 0;
};

// PointerToRawData aligned down to `fileAlignment` (0 counts as kDefaultFileAlignment) and
// SizeOfRawData aligned up, except that a section whose raw data ends at the end of the file is
// not padded past it. Empty for a section without raw data (SizeOfRawData 0 or, read as a signed
// value, negative) and for one whose bytes do not lie inside the file's `fileSize` bytes.
std::optional<SectionBytes> SectionHashBytes(const SectionHeader& section, uint32_t fileAlignment,
                                             int32_t fileSize);

// The names of the records whose MD5, size and (when the record has one) SHA-1 match the whole
// file or one of its sections: whole-file names first, then each section's in section order, each
// group in store order. `data` and `size` are the whole file; `image` is its parsed headers (or
// nullptr: only the whole file is looked up). A nonzero `*stop` ends the lookup early with what
// it has found; `stop` may be nullptr. Finalizes the store when that has not happened. A negative
// size gives an empty list.
[[nodiscard]] std::vector<std::string> LookupHashes(HashStore& store, const uint8_t* data,
                                                    int32_t size, const PeImage* image,
                                                    const std::atomic<int32_t>* stop);

}  // namespace fileinfo

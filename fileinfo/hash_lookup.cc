// Section bytes are computed on the header fields as signed 32-bit values, in 64-bit arithmetic:
// every result that 32-bit arithmetic defines comes out the same, and one that would overflow
// (PointerToRawData or SizeOfRawData near 2^31) stays exact, so the range check refuses it
// instead of judging a wrapped value.
#include "fileinfo/hash_lookup.h"

#include <array>
#include <span>

#include "fileinfo/little_endian.h"
#include "fileinfo/md5.h"
#include "fileinfo/sha1.h"

namespace fileinfo {
namespace {

// The multiples of a negative alignment are those of its magnitude; 0 leaves x unchanged.
int64_t AlignDown(int64_t x, int64_t alignment) {
  const int64_t a = alignment < 0 ? -alignment : alignment;
  if (a == 0) return x;
  const int64_t r = x % a;  // takes the sign of x
  return r < 0 ? x - r - a : x - r;
}

int64_t AlignUp(int64_t x, int64_t alignment) {
  const int64_t a = alignment < 0 ? -alignment : alignment;
  if (a == 0) return x;
  const int64_t r = x % a;
  return r > 0 ? x - r + a : x - r;
}

bool Stopped(const std::atomic<int32_t>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed) != 0;
}

// Appends the name of every record that matches the MD5 of `bytes` with `recordSize`, in store
// order. The SHA-1 is computed only once a candidate asks for it, and then once.
void MatchDigest(HashStore& store, std::span<const uint8_t> bytes, uint32_t recordSize,
                 std::vector<std::string>& names) {
  const Md5Digest md5 = Md5Buffer(bytes);
  const std::span<const uint8_t> digest = md5;
  const uint32_t key = LoadU32(digest, 0);
  const std::array<uint32_t, 3> rest = {LoadU32(digest, 4), LoadU32(digest, 8),
                                        LoadU32(digest, 12)};
  std::optional<Sha1Digest> sha1;
  for (int32_t i = store.FindFirstCandidate(key);
       i >= 0 && i < store.RecordCount() && store.KeyAt(i) == key; ++i) {
    HashRecord record;
    // A record that cannot be read back cannot be confirmed.
    if (!store.ReadRecord(i, record)) continue;
    if (record.md5Words != rest || record.size != recordSize) continue;
    if (record.hasSha1) {
      if (!sha1) sha1 = Sha1Buffer(bytes);
      if (*sha1 != record.sha1) continue;
    }
    names.push_back(store.ReadName(record.nameOffset));
  }
}

}  // namespace

std::optional<SectionBytes> SectionHashBytes(const SectionHeader& section, uint32_t fileAlignment,
                                             int32_t fileSize) {
  const int64_t rawSize = static_cast<int32_t>(section.sizeOfRawData);
  // Read as signed, a size of 2^31 or more is negative: no bytes of a file of at most
  // 2^31 - 1 bytes could stand for it, and hashing a negative length would read without bound.
  if (rawSize <= 0) return std::nullopt;
  const int64_t alignment =
      fileAlignment == 0 ? int64_t{kDefaultFileAlignment} : static_cast<int32_t>(fileAlignment);
  const int64_t size = fileSize;
  const int64_t start = AlignDown(static_cast<int32_t>(section.pointerToRawData), alignment);
  int64_t length = AlignUp(rawSize, alignment);
  // The last section's padding need not be in the file.
  if (start + rawSize == size && start + length > size) length = rawSize;
  if (start < 0 || start >= size || start + length > size) return std::nullopt;
  return SectionBytes{static_cast<uint32_t>(start), static_cast<uint32_t>(length)};
}

std::vector<std::string> LookupHashes(HashStore& store, const uint8_t* data, int32_t size,
                                      const PeImage* image, const std::atomic<int32_t>* stop) {
  std::vector<std::string> names;
  if (Stopped(stop)) return names;
  store.FinalizeStore();
  if (size < 0) return names;
  const std::span<const uint8_t> file(data, static_cast<size_t>(size));

  const bool fileSizeKnown = store.HasSize(static_cast<uint32_t>(size));
  if (Stopped(stop)) return names;
  if (fileSizeKnown) MatchDigest(store, file, static_cast<uint32_t>(size), names);

  // Without parsed headers there is no optional header and no section table to go by.
  if (image == nullptr || !image->HeadersParsed()) return names;
  const uint32_t fileAlignment = image->FileAlignment();
  for (const SectionHeader& section : image->Sections()) {
    if (Stopped(stop)) return names;
    const std::optional<SectionBytes> bytes = SectionHashBytes(section, fileAlignment, size);
    // Gate on SizeOfRawData as stored: that is the size a section record carries.
    if (!bytes || !store.HasSize(section.sizeOfRawData)) continue;
    MatchDigest(store, file.subspan(bytes->offset, bytes->length), section.sizeOfRawData, names);
  }
  return names;
}

}  // namespace fileinfo

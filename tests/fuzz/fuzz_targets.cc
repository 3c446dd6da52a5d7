// Every input is first copied into a heap block of exactly its size, so AddressSanitizer sees a
// read one byte past the end. Texts for APIs that take a view get an exact copy as well; texts
// for APIs that take a std::string get a NUL-terminated copy of their own. Inputs are capped
// where longer ones reach no new code and only slow the fuzzer down.
#include "tests/fuzz/fuzz_targets.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/builtin_signatures.h"
#include "engine/bsm.h"
#include "engine/engine.h"
#include "engine/limits.h"
#include "engine/location.h"
#include "engine/scan.h"
#include "engine/scan_windows.h"
#include "fileinfo/hash_lookup.h"
#include "fileinfo/little_endian.h"
#include "fileinfo/pe_image.h"
#include "platform/debug_output.h"

namespace fuzz {
namespace {

// Pattern texts beyond 32767 characters are refused as a whole; a little more covers that.
constexpr size_t kMaxSignatureInput = 3 * engine::kMaxPatternText;
constexpr size_t kMaxSignatureEntries = 8;
// Filler bytes planted for one gap at most: enough to meet small minimums.
constexpr int kMaxPlantedGap = 256;
// The header parse and the address conversion read at most a few KiB; larger images only
// move section data further out, which the size fields of the other targets cover.
constexpr size_t kMaxImageInput = 1 << 20;
// Addresses probed from the input's tail, 4 bytes each.
constexpr size_t kTailAddresses = 8;
// Buffers above 1 MiB are walked in windows; four times that reaches every kind of window.
constexpr size_t kMaxScanInput = 4 << 20;
constexpr size_t kLocationFixedBytes = 25;
constexpr size_t kWindowFixedBytes = 5;

// A broken promise: the fuzzer keeps the input that led here.
void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

// The input in a heap block of exactly its size.
class ExactCopy {
 public:
  explicit ExactCopy(std::span<const uint8_t> input)
      : size_(input.size()), data_(new uint8_t[input.size()]) {
    std::copy(input.begin(), input.end(), data_.get());
  }
  std::span<const uint8_t> Bytes() const { return {data_.get(), size_}; }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> data_;
};

// A text in a heap block of exactly its length (no terminator), for APIs that take a view.
class ExactText {
 public:
  explicit ExactText(std::span<const uint8_t> text)
      : size_(text.size()), data_(new char[text.size()]) {
    std::copy(text.begin(), text.end(), data_.get());
  }
  std::string_view View() const { return {data_.get(), size_}; }

 private:
  size_t size_;
  std::unique_ptr<char[]> data_;
};

// A separate NUL-terminated copy of a text, as a C string parser would be handed it.
std::string TerminatedText(std::span<const uint8_t> text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::copy(text.begin(), text.end(), copy.get());
  copy[text.size()] = '\0';
  return std::string(copy.get(), text.size());
}

// The bytes up to the first '\n' (all of them when there is none); `rest` gets what follows.
std::span<const uint8_t> TakeLine(std::span<const uint8_t>& rest) {
  const auto newline = std::find(rest.begin(), rest.end(), uint8_t{'\n'});
  const std::span<const uint8_t> line = rest.first(static_cast<size_t>(newline - rest.begin()));
  rest = newline == rest.end() ? rest.last(0) : rest.subspan(line.size() + 1);
  return line;
}

// The first kCount bytes of the input, zero where it is shorter.
template <size_t kCount>
std::array<uint8_t, kCount> Padded(std::span<const uint8_t> input) {
  std::array<uint8_t, kCount> fixed{};
  std::copy_n(input.begin(), std::min(input.size(), kCount), fixed.begin());
  return fixed;
}

int32_t I32At(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<int32_t>(fileinfo::LoadU32(bytes, at));
}

std::string UpperCased(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Reads the first and the last byte of [p, p + length): the range is contiguous, so when
// AddressSanitizer passes both, all of it lies inside one block.
void Touch(const uint8_t* p, size_t length) {
  if (length == 0) return;
  volatile uint8_t sink = p[0];
  sink = sink ^ p[length - 1];
  (void)sink;
}

struct Entry {
  std::string kindName, location, pattern;
};

void CheckBsmTables(engine::BSM& bsm, const std::vector<Entry>& entries) {
  const auto& links = bsm.PartLinks();
  Check(!links.empty() && links[0].empty(), "part-link entry 0 is an empty list");
  Check(links.size() <= static_cast<size_t>(bsm.PartMatcher().Count()) + 1,
        "part-link table no longer than the part matcher's ids");
  for (const auto& list : links) {
    for (const engine::PartLink& link : list) {
      Check(link.partId != 0 && link.partId < bsm.NextPartId(), "part id drawn from the counter");
      if (link.previousPartId == 0) {
        Check(link.minGap == engine::kNoGapBound && link.maxGap == engine::kNoGapBound,
              "a first part has no gap bounds");
      } else {
        Check(link.previousPartId + 1 == link.partId, "the parts of a signature are consecutive");
      }
    }
  }
  const auto& offsets = bsm.RecordOffsets();
  Check(!offsets.empty() && offsets[0] == engine::kNoRecord, "record-offset entry 0 is none");
  Check(offsets.size() == static_cast<size_t>(bsm.SimpleMatcher().Count()) + 1,
        "one record offset per simple pattern");

  // Every record that a match could report belongs to one of the texts added.
  std::vector<uint32_t> recorded(offsets.begin() + 1, offsets.end());
  for (const auto& list : links) {
    for (const engine::PartLink& link : list) {
      if (link.recordOffset != engine::kNoRecord) recorded.push_back(link.recordOffset);
    }
  }
  for (const uint32_t offset : recorded) {
    if (offset == engine::kNoRecord) continue;  // a store that could not be written
    const engine::SignatureRecord record = bsm.Store().Read(offset);
    const bool known = std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
      return record.kindName == e.kindName && record.location == UpperCased(e.location);
    });
    Check(known, "a stored record is one of the signatures added");
  }
}

int HexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

// Bytes a pattern text might match, so the scan of the fuzzed signatures has something to
// find: hex pairs as bytes ('?' and other characters as 0), and each gap as its minimum
// (at most kMaxPlantedGap) of filler bytes.
void PlantPattern(std::string_view text, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < text.size() && text[i] != ':' && static_cast<signed char>(text[i]) > 32) {
    if (text[i] == '{') {
      int minimum = 0;
      size_t k = i + 1;
      for (; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k) {
        minimum = std::min(minimum * 10 + (text[k] - '0'), kMaxPlantedGap);
      }
      out.insert(out.end(), static_cast<size_t>(minimum), uint8_t{0xCC});
      const size_t close = text.find('}', i);
      i = close == std::string_view::npos ? text.size() : close + 1;
      continue;
    }
    const char second = i + 1 < text.size() ? text[i + 1] : '0';
    out.push_back(static_cast<uint8_t>(HexNibble(text[i]) << 4 | HexNibble(second)));
    i += 2;
  }
}

// Probes one address; a conversion must stay inside the bytes, a refusal must leave the
// out-parameters alone.
void ProbeAddress(const fileinfo::PeImage& pe, uint32_t rva) {
  const std::span<const uint8_t> bytes = pe.Bytes();
  constexpr uint32_t kUntouched = 0xA5A5A5A5;
  uint32_t offset = kUntouched;
  uint32_t available = kUntouched;
  const bool converted = pe.RvaToOffset(rva, offset, &available);
  uint32_t pointerAvailable = kUntouched;
  const uint8_t* p = pe.PointerAtRva(rva, &pointerAvailable);
  Check(converted == (p != nullptr), "PointerAtRva agrees with RvaToOffset");
  if (!converted) {
    Check(offset == kUntouched && available == kUntouched && pointerAvailable == kUntouched,
          "a failed conversion leaves its out-parameters alone");
    return;
  }
  Check(offset < bytes.size(), "a converted address lies inside the file");
  Check(uint64_t{offset} + available <= bytes.size(), "the available bytes lie inside the file");
  Check(p == bytes.data() + offset && pointerAvailable == available,
        "PointerAtRva points at the converted offset");
  Touch(p, available);
}

// The program's engine: the built-in table, compiled once and then only read.
engine::Engine& BuiltInEngine() {
  static engine::Engine* const engine = [] {
    auto* e = new engine::Engine();  // never destroyed: its workers end with the process
    for (const app::SignatureEntry& entry : app::kBuiltinSignatures) {
      e->AddSignature(entry.kindName, entry.location, entry.pattern);
    }
    e->Compile();
    return e;
  }();
  return *engine;
}

bool IsBuiltInKind(const std::string& name) {
  return name == app::kFileSigKind || name == app::kFlashSigKind || name == app::kThreadSig3Kind;
}

// A scan result names only kinds of the table, each once, in ascending byte order.
void CheckNames(const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    Check(IsBuiltInKind(names[i]), "a match name is a kind of the table");
    if (i > 0) Check(names[i - 1] < names[i], "match names are sorted and distinct");
  }
}

}  // namespace

void FuzzSignatureText(std::span<const uint8_t> input) {
  if (input.empty() || input.size() > kMaxSignatureInput) return;
  const ExactCopy copy(input);
  const bool strict = (copy.Bytes()[0] & 1) == 0;
  std::span<const uint8_t> rest = copy.Bytes().subspan(1);
  std::vector<Entry> entries;
  while (!rest.empty() && entries.size() < kMaxSignatureEntries) {
    Entry e;
    e.kindName = TerminatedText(TakeLine(rest));
    e.location = TerminatedText(TakeLine(rest));
    e.pattern = TerminatedText(TakeLine(rest));
    entries.push_back(std::move(e));
  }

  engine::BSM bsm("fuzzsig");
  for (const Entry& e : entries) {
    const uint32_t before = bsm.SignatureCount();
    const int added = bsm.AddBinarySignature(e.kindName, e.location, e.pattern, strict);
    Check(added == 0 || added == 1, "AddBinarySignature gives 0 or 1");
    Check(bsm.SignatureCount() == before + static_cast<uint32_t>(added),
          "the signature count follows the results");
  }
  CheckBsmTables(bsm, entries);
  bsm.SimpleMatcher().Build();
  bsm.PartMatcher().Build();
  bsm.RollingHash().FinalizeBlocks();

  // Each pattern's bytes in turn, then the input itself.
  std::vector<uint8_t> planted;
  for (const Entry& e : entries) PlantPattern(e.pattern, planted);
  planted.insert(planted.end(), copy.Bytes().begin(), copy.Bytes().end());
  const ExactCopy buffer(planted);
  const engine::ExtraData plain = {0, 0, 0, 0};
  const std::atomic<int32_t> go{0};
  const std::vector<std::string> names = engine::Scan(
      bsm, buffer.Bytes().data(), static_cast<int32_t>(buffer.Bytes().size()), nullptr, go, &plain);
  for (size_t i = 0; i < names.size(); ++i) {
    const bool added = std::any_of(entries.begin(), entries.end(),
                                   [&](const Entry& e) { return e.kindName == names[i]; });
    Check(added, "a match name is the kind of a signature added");
    if (i > 0) Check(names[i - 1] < names[i], "match names are sorted and distinct");
  }
}

void FuzzPeHeaders(std::span<const uint8_t> input) {
  if (input.size() > kMaxImageInput) return;
  const ExactCopy copy(input);
  const std::span<const uint8_t> bytes = copy.Bytes();
  fileinfo::PeImage pe;
  const fileinfo::LoadResult result = pe.ParseHeaders(bytes);
  if (result != fileinfo::LoadResult::kOk) {
    Check(result == fileinfo::LoadResult::kNotPe32 || result == fileinfo::LoadResult::kPe32Plus,
          "a refused image is no PE32 or a PE32+");
    Check(!pe.HeadersParsed() && pe.SectionCount() == 0 && pe.DataDirectoryCount() == 0,
          "a refused image keeps no headers");
    uint32_t offset = 0;
    Check(!pe.RvaToOffset(0, offset), "no conversion without parsed headers");
    return;
  }
  Check(pe.HeadersParsed() && pe.StatusText() == L"OK", "a parsed image says OK");
  Check(pe.SectionCount() <= fileinfo::kMaxSections, "at most 96 sections");
  Check(pe.FileAlignment() != 0 && pe.SectionAlignment() != 0, "alignments are not zero");
  Check(pe.DataDirectoryCount() <= pe.NumberOfRvaAndSizes(), "no more directories than claimed");
  Check(pe.Bytes().data() == bytes.data() && pe.FileSize() == bytes.size(),
        "the image views the bytes given");

  for (const fileinfo::DataDirectory& d : pe.DataDirectories()) {
    if (d.virtualAddress == 0 && d.size == 0) continue;
    uint32_t offset = 0;
    uint32_t available = 0;
    Check(pe.RvaToOffset(d.virtualAddress, offset, &available) && d.size <= available,
          "a kept directory lies inside the file");
  }

  std::vector<uint32_t> addresses = {
      0, 1, 0xFFFFFFFF, 0xFFFFFFFE, pe.EntryPoint(), pe.SizeOfHeaders() - 1, pe.SizeOfHeaders()};
  for (const fileinfo::SectionHeader& s : pe.Sections()) {
    for (const uint32_t delta : {0u, s.sizeOfRawData - 1, s.sizeOfRawData, s.virtualSize}) {
      addresses.push_back(s.virtualAddress + delta);
    }
    addresses.push_back(s.virtualAddress - 1);
  }
  for (const fileinfo::DataDirectory& d : pe.DataDirectories()) {
    addresses.push_back(d.virtualAddress);
  }
  const std::span<const uint8_t> tail = bytes.last(std::min(bytes.size(), 4 * kTailAddresses));
  for (size_t at = 0; at + 4 <= tail.size(); at += 4) {
    addresses.push_back(fileinfo::LoadU32(tail, at));
  }
  for (const uint32_t rva : addresses) ProbeAddress(pe, rva);

  // A second parse on the same object forgets the first one entirely.
  const fileinfo::LoadResult again = pe.ParseHeaders(bytes.first(bytes.size() / 2));
  if (again != fileinfo::LoadResult::kOk) {
    Check(!pe.HeadersParsed() && pe.SectionCount() == 0, "a failed re-parse keeps nothing");
  }
}

void FuzzLocation(std::span<const uint8_t> input) {
  if (input.size() > kMaxImageInput) return;
  const ExactCopy copy(input);
  const auto fixed = Padded<kLocationFixedBytes>(copy.Bytes());
  const int32_t size = I32At(fixed, 0);
  const int32_t offset = I32At(fixed, 4);
  const engine::ExtraData extra = {I32At(fixed, 8), I32At(fixed, 12), I32At(fixed, 16),
                                   I32At(fixed, 20)};
  const uint8_t flags = fixed[24];
  std::span<const uint8_t> rest = copy.Bytes().subspan(std::min(input.size(), kLocationFixedBytes));
  const ExactText text(TakeLine(rest));
  const ExactCopy image(rest);

  fileinfo::PeImage pe;
  const bool parsed =
      (flags & 1) != 0 && pe.ParseHeaders(image.Bytes()) == fileinfo::LoadResult::kOk;
  const fileinfo::PeImage* const pePointer = parsed ? &pe : nullptr;
  const engine::ExtraData* const extraPointer = (flags & 2) != 0 ? &extra : nullptr;
  const std::string_view location = text.View();

  (void)engine::ReadDecimal(location);
  const int32_t before = static_cast<int32_t>(static_cast<uint32_t>(size) - 1);  // wraps
  const int32_t offsets[] = {offset, 0, -1, size, before, INT32_MIN, INT32_MAX};
  for (const int32_t at : offsets) {
    const bool matches = engine::MatchesLocation(size, pePointer, at, location, extraPointer);
    if (location == "*") Check(matches, "\"*\" matches everywhere");
    if (location.empty()) Check(!matches, "an empty text matches nowhere");
    if (extraPointer != nullptr) {
      Check(matches == engine::MatchesLocation(size, nullptr, at, location, extraPointer),
            "ExtraData wins over the image");
    }
    const bool plainForm = !location.empty() && ((location[0] >= '0' && location[0] <= '9') ||
                                                 location.starts_with("EOF") || location == "*");
    if (plainForm) {
      Check(matches == engine::MatchesLocation(size, nullptr, at, location, extraPointer),
            "numeric and end-of-file texts do not look at the image");
    }
  }
}

void FuzzScanWindows(std::span<const uint8_t> input) {
  if (input.size() > kMaxImageInput + kWindowFixedBytes) return;
  const ExactCopy copy(input);
  const auto fixed = Padded<kWindowFixedBytes>(copy.Bytes());
  const uint8_t flags = fixed[4];
  const ExactCopy image(copy.Bytes().subspan(std::min(input.size(), kWindowFixedBytes)));
  const bool overImage = (flags & 1) != 0;
  const int32_t size = overImage ? static_cast<int32_t>(image.Bytes().size()) : I32At(fixed, 0);

  fileinfo::PeImage pe;
  const bool parsed =
      (flags & 2) == 0 && pe.ParseHeaders(image.Bytes()) == fileinfo::LoadResult::kOk;
  const fileinfo::PeImage* const pePointer = parsed ? &pe : nullptr;

  std::string debugText;
  platform::SetDebugOutputSink([&](const std::string& t) { debugText += t; });
  const std::vector<engine::WindowRange> selected = engine::SelectWindowRanges(size, pePointer);
  const int64_t limit = std::max(size, 0);
  for (const engine::WindowRange& r : selected) {
    Check(r.offset >= 0 && r.length >= 0 && int64_t{r.offset} + r.length <= limit,
          "every selected window lies inside the buffer");
  }
  const std::vector<engine::WindowRange> merged = engine::MergeWindowRanges(selected);

  // The union of the selected ranges, built the plain way: sort, then join what overlaps or
  // touches.
  std::vector<engine::WindowRange> sorted = selected;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.length < b.length;
  });
  std::vector<engine::WindowRange> expected;
  for (const engine::WindowRange& r : sorted) {
    if (!expected.empty() && r.offset <= int64_t{expected.back().offset} + expected.back().length) {
      const int64_t end = std::max<int64_t>(
          int64_t{expected.back().offset} + expected.back().length, int64_t{r.offset} + r.length);
      expected.back().length = static_cast<int32_t>(end - expected.back().offset);
    } else {
      expected.push_back(r);
    }
  }
  Check(merged == expected, "the merge is the union of the selected windows");

  if (pePointer != nullptr) {
    const std::optional<int64_t> entry = engine::EntryFilePosition(pe, size);
    Check(!entry || *entry >= 0, "the entry point's file position is not negative");
  }
  if (overImage) {
    const std::vector<engine::ScanWindow> windows =
        engine::SelectScanWindows(image.Bytes().data(), size, pePointer);
    Check(windows.size() == merged.size(), "one scan window per merged range");
    for (const engine::ScanWindow& w : windows) Touch(w.start, static_cast<size_t>(w.length));
  }
  platform::SetDebugOutputSink(nullptr);
  Check(debugText.empty(), "the merge stays balanced");
}

void FuzzScanBuffer(std::span<const uint8_t> input) {
  if (input.size() > kMaxScanInput) return;
  engine::Engine& engine = BuiltInEngine();
  const ExactCopy copy(input);
  const std::span<const uint8_t> bytes = copy.Bytes();
  const int32_t size = static_cast<int32_t>(bytes.size());

  std::string name = "NNN";
  const bool matched = engine.ScanBuffer(bytes.data(), size, name);
  const engine::ExtraData plain = {0, 0, 0, 0};
  const std::atomic<int32_t> go{0};
  const std::vector<std::string> names = engine.Scan(bytes.data(), size, nullptr, go, &plain);
  CheckNames(names);
  Check(matched == !names.empty(), "ScanBuffer matches when Scan names something");
  Check(matched ? name == names.front() : name == "NNN",
        "ScanBuffer gives the smallest name, or leaves the name alone");

  const std::atomic<int32_t> stop{1};
  Check(engine.Scan(bytes.data(), size, nullptr, stop, &plain).empty(),
        "a scan stopped beforehand finds nothing");
}

void FuzzScanImage(std::span<const uint8_t> input) {
  if (input.size() > kMaxScanInput) return;
  engine::Engine& engine = BuiltInEngine();
  const ExactCopy copy(input);
  const std::span<const uint8_t> bytes = copy.Bytes();
  const int32_t size = static_cast<int32_t>(bytes.size());
  const std::atomic<int32_t> go{0};
  CheckNames(engine.Scan(bytes.data(), size, nullptr, go, nullptr));

  fileinfo::PeImage pe;
  if (pe.ParseHeaders(bytes) != fileinfo::LoadResult::kOk) return;
  const std::vector<std::string> names = engine.ScanImage(bytes.data(), size, pe);
  CheckNames(names);
  Check(names == engine.Scan(bytes.data(), size, &pe, go, nullptr),
        "ScanImage is Scan with the image");

  // The hash lookup that follows a clean scan hashes section ranges the headers name.
  for (const fileinfo::SectionHeader& s : pe.Sections()) {
    const std::optional<fileinfo::SectionBytes> range =
        fileinfo::SectionHashBytes(s, pe.FileAlignment(), size);
    if (!range) continue;
    Check(range->length > 0 && uint64_t{range->offset} + range->length <= bytes.size(),
          "a hashed section lies inside the file");
    Touch(bytes.data() + range->offset, range->length);
  }
  (void)fileinfo::LookupHashes(engine.HashCache(), bytes.data(), size, &pe, nullptr);
}

}  // namespace fuzz

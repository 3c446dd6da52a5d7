// Fuzz targets: each body takes arbitrary bytes, feeds them to one parser of ours and checks
// the parser's promises; a broken promise aborts with a message, so the fuzzer records the input.
// Plain functions: the libFuzzer entry points (*_fuzzer.cc) and the replay test both call them.
// Any thread, one call at a time per target.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace fuzz {

// Byte 0: flags (bit 0 adds the texts with the strict flag clear). The rest: '\n'-separated
// fields taken three at a time as kind name, location text and pattern text; a missing field
// is empty. The texts are added to a fresh BSM, whose tables are then checked and built.
void FuzzSignatureText(std::span<const uint8_t> input);

// The whole input is a file image: ParseHeaders, then RvaToOffset and PointerAtRva at the
// addresses the headers name and at addresses taken from the input's last bytes.
void FuzzPeHeaders(std::span<const uint8_t> input);

// Bytes 0-3 size, 4-7 offset, 8-23 ExtraData (little-endian int32 each), 24 flags (bit 0 parse
// the image, bit 1 pass the ExtraData), then the location text up to the first '\n', then the
// image bytes. A short input reads as if padded with zero bytes.
void FuzzLocation(std::span<const uint8_t> input);

// Bytes 0-3 size, 4 flags (bit 0 ignore the size field and select windows over the image bytes
// themselves, whose every windowed byte is then read; bit 1 no PE image), then the image bytes.
void FuzzScanWindows(std::span<const uint8_t> input);

// The whole input is a buffer: ScanBuffer and Scan with the built-in table, one engine for all
// inputs (it is read-only once compiled).
void FuzzScanBuffer(std::span<const uint8_t> input);

// The whole input is a file image: Scan without the image; when it parses as a PE32 image,
// ScanImage with the built-in table, the section ranges the hash lookup would hash, and the
// lookup itself.
void FuzzScanImage(std::span<const uint8_t> input);

using FuzzFunction = void (*)(std::span<const uint8_t>);

struct FuzzTarget {
  std::string_view name;  // also the folder of its regression files and of its corpus
  FuzzFunction run;
};

inline constexpr FuzzTarget kFuzzTargets[] = {
    {"signature_text", FuzzSignatureText},
    {"pe_headers", FuzzPeHeaders},
    {"location", FuzzLocation},
    {"scan_windows", FuzzScanWindows},
    {"scan_buffer", FuzzScanBuffer},
    {"scan_image", FuzzScanImage},
};

}  // namespace fuzz

#include "tests/fuzz/fuzz_seeds.h"

#include <string>

#include "app/builtin_signatures.h"
#include "engine/location.h"
#include "tests/support/in_force_signatures.h"
#include "tests/support/pe_builder.h"
#include "tests/support/signature_bytes.h"

namespace fuzz {
namespace {

using support::PeBuilder;

void Append(Input& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

void AppendI32(Input& out, int32_t value) {
  for (int k = 0; k < 4; ++k)
    out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * k)));
}

void AppendEntry(Input& out, std::string_view kind, std::string_view location,
                 std::string_view pattern) {
  if (out.size() > 1) out.push_back('\n');
  Append(out, kind);
  out.push_back('\n');
  Append(out, location);
  out.push_back('\n');
  Append(out, pattern);
}

// Images whose headers differ in the ways the parser and the window selection look at.
std::vector<PeBuilder> Images() {
  const uint8_t code[] = {0x60, 0xEB, 0x03, 0x8D, 0x05, 0x00, 0x90, 0x40, 0x00};
  return {
      PeBuilder(),
      PeBuilder().SectionCount(0),
      PeBuilder().SectionCount(3).EntryPoint(0x2010),
      PeBuilder().SectionCount(96),
      PeBuilder().Pe32Plus(),
      PeBuilder().DosMagic("ZM").NtSignature(0),
      PeBuilder().RvaCount(32).Directory(1, 0x1000, 0x100).Directory(2, 0, 0x80),
      PeBuilder().RvaCount(0).SizeOfOptionalHeader(96),
      PeBuilder().SizeOfOptionalHeader(0xFFFF).SectionCount(0),
      PeBuilder().FileAlignment(0x300).SectionAlignment(0x1001).SectionCount(2),
      PeBuilder().SectionCount(2).SectionRawPointer(1, 0xFFFFFE00).SectionRawSize(1, 0x400),
      PeBuilder()
          .SectionCount(2)
          .SectionVirtualAddress(1, 0xFFFFF000)
          .SectionVirtualSize(1, 0x2000),
      PeBuilder().EntryPoint(0x10).SizeOfHeaders(0),
      PeBuilder().SectionBytes(0, 0x40, code).FileSize(0x300),
  };
}

std::vector<Input> SignatureSeeds() {
  std::vector<Input> seeds;
  for (const app::SignatureEntry& e : app::kBuiltinSignatures) {
    Input one = {0};
    AppendEntry(one, e.kindName, e.location, e.pattern);
    seeds.push_back(std::move(one));
  }
  // Consecutive rows together, so repeated patterns meet in one engine.
  for (size_t i = 0; i + 1 < app::kBuiltinSignatures.size(); i += 2) {
    Input two = {0};
    for (size_t k = i; k < i + 2; ++k) {
      const app::SignatureEntry& e = app::kBuiltinSignatures[k];
      AppendEntry(two, e.kindName, e.location, e.pattern);
    }
    seeds.push_back(std::move(two));
  }
  const char* const hand[] = {
      "60EB03{2-6}8D0500904000{25-40}3018EB04",
      "aabb{5}ccdd",
      "?A?BC?D?{0-0}????",
      "AABB{2-6}",
      "{1-2}AABB",
      "AABBCCDD:RH;512;*;38404390;d9c82d180cacc1a09b581b13adbdd2db;",
      "AABBCCDD:X;:RH;1024;*;1;00;:RH;2048;*;2;",
      "AABB CCDD",
  };
  for (const uint8_t flags : {uint8_t{0}, uint8_t{1}}) {
    for (const char* pattern : hand) {
      Input one = {flags};
      AppendEntry(one, "FileSig", "S0+150,100", pattern);
      AppendEntry(one, "ThreadSig3", "*", pattern);
      seeds.push_back(std::move(one));
    }
  }
  return seeds;
}

std::vector<Input> PeHeaderSeeds() {
  std::vector<Input> seeds;
  for (const PeBuilder& b : Images()) seeds.push_back(b.Bytes());
  seeds.push_back({});
  seeds.push_back({'M'});
  return seeds;
}

std::vector<Input> LocationSeeds() {
  const char* const texts[] = {"*",       "S0+464", "S0+150,100", "S0,200", "EOF-100", "EOF+100",
                               "EP+16",   "EP-4",   "SL",         "SL+8",   "S1",      "S2-3,9",
                               "1024,16", "0",      "-5",         "Q"};
  const PeBuilder image = PeBuilder().SectionCount(3).EntryPoint(0x2010);
  const Input bytes = image.Bytes();
  std::vector<Input> seeds;
  for (const char* text : texts) {
    for (const uint8_t flags : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
      Input one;
      AppendI32(one, static_cast<int32_t>(bytes.size()));
      AppendI32(one, 0x264);                                             // offset
      for (const int32_t v : {-0x200, 0, -0x200, 0}) AppendI32(one, v);  // ExtraData
      one.push_back(flags);
      Append(one, text);
      one.push_back('\n');
      one.insert(one.end(), bytes.begin(), bytes.end());
      seeds.push_back(std::move(one));
    }
  }
  return seeds;
}

std::vector<Input> ScanWindowSeeds() {
  const int32_t sizes[] = {0, 0x100000, 0x100001, 2000000, 10 * 0x100000, INT32_MAX, -1};
  std::vector<Input> seeds;
  for (const PeBuilder& b : Images()) {
    const Input bytes = b.Bytes();
    for (const int32_t size : sizes) {
      Input one;
      AppendI32(one, size);
      one.push_back(0);
      one.insert(one.end(), bytes.begin(), bytes.end());
      seeds.push_back(std::move(one));
    }
    Input over = {0, 0, 0, 0, 1};
    over.insert(over.end(), bytes.begin(), bytes.end());
    seeds.push_back(std::move(over));
  }
  return seeds;
}

// Where a match of `location` may start in section 0 (or in a plain buffer): "S0+464" at 464,
// "S0,200" at 0, "*" anywhere.
uint32_t PlantOffset(std::string_view location) {
  if (location.starts_with("S0+"))
    return static_cast<uint32_t>(engine::ReadDecimal(location.substr(3)));
  return location == "*" ? 0x40 : 0;
}

// Buffers holding the bytes of one in-force signature where its location asks for them.
std::vector<Input> ScanBufferSeeds() {
  std::vector<Input> seeds = {{}, Input(0x1000, 0)};
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    const Input bytes = support::SignatureBytes(e.pattern);
    Input buffer(PlantOffset(e.location) + bytes.size() + 0x100, 0);
    support::Plant(buffer, PlantOffset(e.location), bytes);
    seeds.push_back(std::move(buffer));
  }
  return seeds;
}

// Images with one in-force signature in section 0, where its location asks for it.
std::vector<Input> ScanImageSeeds() {
  std::vector<Input> seeds;
  for (const PeBuilder& b : Images()) seeds.push_back(b.Bytes());
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    const Input bytes = support::SignatureBytes(e.pattern);
    seeds.push_back(PeBuilder().SectionBytes(0, PlantOffset(e.location), bytes).Bytes());
  }
  return seeds;
}

}  // namespace

std::vector<Input> SeedInputs(std::string_view target) {
  if (target == "signature_text") return SignatureSeeds();
  if (target == "pe_headers") return PeHeaderSeeds();
  if (target == "location") return LocationSeeds();
  if (target == "scan_windows") return ScanWindowSeeds();
  if (target == "scan_buffer") return ScanBufferSeeds();
  if (target == "scan_image") return ScanImageSeeds();
  return {};
}

}  // namespace fuzz

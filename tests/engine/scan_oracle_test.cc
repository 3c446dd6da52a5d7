// Scan against the reference matcher on random signatures, buffers and images with planted
// occurrences. Each case comes from its own seed, printed when the case fails.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/rolling_hash.h"
#include "fileinfo/md5.h"
#include "tests/engine/oracle_budget.h"
#include "tests/support/parsed_image.h"
#include "tests/support/pe_builder.h"
#include "tests/support/reference_matcher.h"

namespace engine {
namespace {

constexpr size_t kHalf = 0x80000;

struct Token {
  uint8_t value;
  uint8_t mask;
};

struct Part {
  std::vector<Token> tokens;
  uint32_t minGap = 0, maxGap = 0;  // before this part
  bool loneMinimum = false;         // written "{min}": at most 65536
};

struct Shape {
  std::vector<Part> parts;
  std::string kindName;
};

class CaseMaker {
 public:
  explicit CaseMaker(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }

  // Data bytes come from a small alphabet in most cases, so that partial and accidental
  // matches are common.
  void ChooseAlphabet() {
    const uint32_t sizes[] = {2, 3, 4, 16, 256};
    alphabet_.clear();
    const uint32_t n = sizes[Below(5)];
    for (uint32_t i = 0; i < n; ++i)
      alphabet_.push_back(static_cast<uint8_t>(n == 256 ? i : rng_()));
  }
  uint8_t DataByte() { return alphabet_[Below(static_cast<uint32_t>(alphabet_.size()))]; }

  Part RandomPart() {
    Part p;
    const uint32_t length = 2 + Below(9);
    const uint32_t anchorAt = Below(length - 1);  // two exact bytes here give it an anchor
    for (uint32_t i = 0; i < length; ++i) {
      uint8_t mask = 0xFF;
      if (i != anchorAt && i != anchorAt + 1 && Chance(30)) {
        const uint8_t masks[] = {0xF0, 0x0F, 0x00};
        mask = masks[Below(3)];
      }
      p.tokens.push_back({static_cast<uint8_t>(DataByte() & mask), mask});
    }
    return p;
  }

  std::vector<Shape> RandomShapes(bool loneMinimumAllowed) {
    std::vector<Shape> shapes;
    std::vector<Part> pool;
    const uint32_t count = 1 + Below(8);
    for (uint32_t s = 0; s < count; ++s) {
      Shape shape;
      shape.kindName =
          !shapes.empty() && Chance(20) ? shapes[Below(s)].kindName : "K" + std::to_string(s);
      if (!shapes.empty() && Chance(10)) {
        shape.parts = shapes[Below(s)].parts;  // the same pattern once more
      } else {
        const uint32_t parts = 1 + Below(3);
        for (uint32_t k = 0; k < parts; ++k) {
          Part p = !pool.empty() && Chance(25) ? pool[Below(static_cast<uint32_t>(pool.size()))]
                                               : RandomPart();
          if (k > 0) {
            p.minGap = Below(12);
            p.maxGap = p.minGap + Below(20);
            p.loneMinimum = loneMinimumAllowed && Chance(10);
            if (p.loneMinimum) p.maxGap = 65536;
          }
          pool.push_back(p);
          shape.parts.push_back(p);
        }
      }
      shapes.push_back(shape);
    }
    return shapes;
  }

  // Bytes of one occurrence, gaps and wildcards filled from the alphabet.
  std::vector<uint8_t> Occurrence(const Shape& shape) {
    std::vector<uint8_t> bytes;
    for (size_t k = 0; k < shape.parts.size(); ++k) {
      const Part& p = shape.parts[k];
      if (k > 0) {
        const uint32_t gap = p.minGap + Below(std::min(p.maxGap, p.minGap + 25) - p.minGap + 1);
        for (uint32_t g = 0; g < gap; ++g) bytes.push_back(DataByte());
      }
      for (const Token& t : p.tokens) {
        bytes.push_back(static_cast<uint8_t>(t.value | (DataByte() & ~t.mask)));
      }
    }
    return bytes;
  }

  static std::string PatternText(const Shape& shape) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t k = 0; k < shape.parts.size(); ++k) {
      const Part& p = shape.parts[k];
      if (k > 0) {
        text += "{" + std::to_string(p.minGap);
        if (!p.loneMinimum) text += "-" + std::to_string(p.maxGap);
        text += "}";
      }
      for (const Token& t : p.tokens) {
        text += (t.mask & 0xF0) != 0 ? kHex[t.value >> 4] : '?';
        text += (t.mask & 0x0F) != 0 ? kHex[t.value & 15] : '?';
      }
    }
    return text;
  }

  // A location near `offset` (where an occurrence was planted), relative to `base` when the
  // text names it ("S0", "EP", ...), or a wide one.
  std::string LocationNear(int64_t offset, const std::string& form, int64_t base) {
    const int64_t delta = offset - base - static_cast<int64_t>(Below(4));
    const std::string range = Chance(70) ? "," + std::to_string(Below(6)) : "";
    if (form.empty()) return std::to_string(std::max<int64_t>(delta, 0)) + range;
    if (form == "EOF") return "EOF-" + std::to_string(std::max<int64_t>(-delta, 0)) + range;
    return form + (delta < 0 ? "-" : "+") + std::to_string(delta < 0 ? -delta : delta) + range;
  }

  // A block of the data (usually) or of random bytes.
  std::string BlockSuffix(const std::vector<uint8_t>& data) {
    static const char kHex[] = "0123456789abcdef";
    std::vector<uint8_t> block(512);
    if (data.size() >= 512 && Chance(70)) {
      const size_t at = Below(static_cast<uint32_t>(data.size() - 511));
      std::copy(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + 512),
                block.begin());
    } else {
      for (uint8_t& b : block) b = static_cast<uint8_t>(rng_());
    }
    std::string text = ":RH;512;*;" + std::to_string(WeakChecksum(block)) + ";";
    for (uint8_t b : fileinfo::Md5Buffer(block)) {
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
    return text + ";";
  }

 private:
  std::mt19937 rng_;
  std::vector<uint8_t> alphabet_;
};

enum class Kind { kPlain, kImage, kLarge };

struct Outcome {
  std::vector<std::string> engine, reference;
};

Outcome RunCase(uint32_t seed, Kind kind) {
  CaseMaker m(seed);
  m.ChooseAlphabet();
  const bool large = kind == Kind::kLarge;
  const std::vector<Shape> shapes = m.RandomShapes(/*loneMinimumAllowed=*/!large);

  // The data: a plain buffer, an image with sections, or a buffer of more than 1 MiB.
  std::vector<uint8_t> data;
  support::PeBuilder builder;
  std::vector<uint32_t> sectionAt;
  if (kind == Kind::kImage) {
    const uint32_t sections = 1 + m.Below(3);
    builder.SectionCount(0);
    for (uint32_t s = 0; s < sections; ++s)
      builder.AddSection(".s" + std::to_string(s), 0x200 * (1 + m.Below(6)));
    if (m.Chance(50)) builder.EntryPoint(builder.SectionRva(0) + m.Below(0x200));
    data = builder.Bytes();
    for (uint32_t s = 0; s < sections; ++s) sectionAt.push_back(builder.SectionRawAt(s));
    for (size_t i = builder.HeadersEnd(); i < data.size(); ++i) data[i] = m.DataByte();
  } else {
    // Large buffers mostly leave only a few unwalked bytes between head and tail, so that
    // occurrences can straddle them.
    const size_t size =
        large ? 0x100001 + (m.Chance(70) ? m.Below(24) : m.Below(0x40000)) : m.Below(3000);
    data.resize(size);
    for (uint8_t& b : data) b = m.DataByte();
  }

  // Occurrences, in images inside the sections, in large buffers near the window borders.
  std::vector<int64_t> plantedAt(shapes.size(), -1);
  const uint32_t plants = m.Below(5);
  for (uint32_t i = 0; i < plants && !data.empty(); ++i) {
    const size_t s = m.Below(static_cast<uint32_t>(shapes.size()));
    const std::vector<uint8_t> bytes = m.Occurrence(shapes[s]);
    if (bytes.size() > data.size()) continue;
    size_t at = m.Below(static_cast<uint32_t>(data.size() - bytes.size() + 1));
    if (kind == Kind::kImage) {
      at = std::max<size_t>(at, builder.HeadersEnd());
    } else if (large) {
      const size_t borders[] = {kHalf, data.size() - kHalf, data.size() - bytes.size()};
      const size_t border = borders[m.Below(3)];
      at = std::min(
          border - std::min<size_t>(border, m.Below(static_cast<uint32_t>(bytes.size()) + 3)),
          data.size() - bytes.size());
    }
    if (at + bytes.size() > data.size()) continue;
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<long>(at));
    plantedAt[s] = static_cast<int64_t>(at);
  }

  std::unique_ptr<support::ParsedImage> image;
  if (kind == Kind::kImage) {
    // The parsed view of the data with its occurrences.
    builder.PutBytes(0, data);
    image = std::make_unique<support::ParsedImage>(builder);
    EXPECT_EQ(image->Result(), fileinfo::LoadResult::kOk);
  }
  const std::vector<uint8_t>& bytes = image ? image->Bytes() : data;
  const fileinfo::PeImage* pe = image ? &image->Image() : nullptr;

  // ExtraData: none, ScanBuffer's zeros, or a random context (plain buffers only).
  ExtraData extra{0, 0, 0, 0};
  const ExtraData* extraData = nullptr;
  if (pe == nullptr) {
    const uint32_t pick = m.Below(4);
    if (pick >= 1) extraData = &extra;
    if (pick == 3) {
      extra = {-static_cast<int32_t>(m.Below(300)), static_cast<int32_t>(m.Below(50)),
               -static_cast<int32_t>(m.Below(300)), static_cast<int32_t>(m.Below(2))};
    }
  }

  std::vector<support::ReferenceSignature> sigs;
  for (size_t s = 0; s < shapes.size(); ++s) {
    std::string location = "*";
    const int64_t at = plantedAt[s];
    if (at >= 0 && m.Chance(60)) {
      const std::string forms[] = {"", "EOF", "EP", "S0", "S1", "SL"};
      const std::string form = forms[m.Below(6)];
      int64_t base = 0;
      if (form == "EOF") base = static_cast<int64_t>(bytes.size());
      if (pe != nullptr) {
        if (form == "EP" || form == "S0") base = sectionAt[0];
        if (form == "S1" && sectionAt.size() > 1) base = sectionAt[1];
        if (form == "SL") base = sectionAt.back();
      } else if (extraData != nullptr) {
        if (form == "") base = -extra.fileBase;
        if (form == "EP") base = -extra.entryDelta;
        if (form == "S0" || form == "S1") base = -extra.sectionDelta;
      }
      location = m.LocationNear(at, form, base);
    } else if (m.Chance(10)) {
      location = std::to_string(m.Below(static_cast<uint32_t>(bytes.size()) + 1));
    }
    std::string pattern = CaseMaker::PatternText(shapes[s]);
    if (m.Chance(12)) pattern += m.BlockSuffix(bytes);
    sigs.push_back({shapes[s].kindName, location, pattern});
  }

  Engine engine;
  for (const auto& s : sigs) engine.AddSignature(s.kindName, s.location, s.pattern);
  engine.Compile();
  const std::atomic<int32_t> stop{0};
  Outcome out;
  out.engine = engine.Scan(bytes.data(), static_cast<int32_t>(bytes.size()), pe, stop, extraData);
  out.reference =
      support::ReferenceScan(sigs, bytes.data(), static_cast<int32_t>(bytes.size()), pe, extraData);
  if (out.engine != out.reference) {
    for (const auto& s : sigs) ADD_FAILURE() << s.kindName << " " << s.location << " " << s.pattern;
  }
  return out;
}

struct OracleRun {
  const char* name;
  Kind kind;
  uint32_t firstSeed;
  int cases;
};

class ScanOracle : public testing::TestWithParam<OracleRun> {};

TEST_P(ScanOracle, AgreesWithTheReferenceMatcher) {
  const OracleRun& run = GetParam();
  int found = 0;
  for (int i = 0; i < run.cases; ++i) {
    const uint32_t seed = run.firstSeed + static_cast<uint32_t>(i);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const Outcome out = RunCase(seed, run.kind);
    ASSERT_EQ(out.engine, out.reference);
    found += out.engine.empty() ? 0 : 1;
  }
  // The cases must exercise matches, not only clean buffers.
  EXPECT_GT(found, run.cases / 4);
}

const OracleRun kRuns[] = {
    {"plain_buffers", Kind::kPlain, 1000, OracleCases(1500)},
    {"images", Kind::kImage, 50000, OracleCases(600)},
    {"large_buffers", Kind::kLarge, 90000, OracleCases(40)},
};
INSTANTIATE_TEST_SUITE_P(Random, ScanOracle, testing::ValuesIn(kRuns),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace engine

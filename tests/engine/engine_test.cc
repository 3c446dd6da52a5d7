#include "engine/engine.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/builtin_signatures.h"
#include "engine/limits.h"
#include "tests/support/in_force_signatures.h"

namespace engine {
namespace {

const PatternRecord* FindByLength(const PatternMatcher& m, uint32_t length) {
  for (int32_t i = 0; i < m.Count(); ++i) {
    if (m.Pattern(static_cast<size_t>(i)).Length() == length)
      return &m.Pattern(static_cast<size_t>(i));
  }
  return nullptr;
}

TEST(Engine, AcceptsTheInForceRowsSilentlyAndCompilesThem) {
  Engine engine;
  testing::internal::CaptureStdout();
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    engine.AddSignature(e.kindName, e.location, e.pattern);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  BSM& bsm = engine.Bsm();
  EXPECT_EQ(bsm.SignatureCount(), 28u);
  EXPECT_EQ(bsm.ProblemCount(), 0u);
  engine.Compile();

  const PatternMatcher& simple = bsm.SimpleMatcher();
  const PatternMatcher& part = bsm.PartMatcher();
  ASSERT_TRUE(simple.Built());
  ASSERT_TRUE(part.Built());
  EXPECT_EQ(simple.Count(), 3);
  EXPECT_EQ(part.Count(), 46);
  EXPECT_EQ(bsm.RecordOffsets().size(), 4u);
  EXPECT_EQ(bsm.PartLinks().size(), 47u);

  // The first anchor pass takes 0x00 for the two longer simple patterns (rows 2 and 66); the
  // second takes 0x08, which starts two good windows of the 17-byte pattern of row 47.
  const PatternRecord* row47 = FindByLength(simple, 17);
  ASSERT_NE(row47, nullptr);
  EXPECT_EQ(row47->AnchorStart(), 7u);
  EXPECT_EQ(row47->AnchorLength(), 4u);
  for (uint32_t length : {44u, 39u}) {
    SCOPED_TRACE(length);
    const PatternRecord* r = FindByLength(simple, length);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->AnchorLength(), 4u);
    EXPECT_EQ(r->Bytes()[r->AnchorStart()], 0x00);
  }

  // Every signature's record is in the store: 3 through the simple matcher and 25 as the last
  // link of a chain.
  std::multiset<std::string> kinds;
  for (size_t id = 1; id < bsm.RecordOffsets().size(); ++id) {
    kinds.insert(bsm.Store().Read(bsm.RecordOffsets()[id]).kindName);
  }
  for (const auto& links : bsm.PartLinks()) {
    for (const PartLink& l : links) {
      if (l.recordOffset != kNoRecord) kinds.insert(bsm.Store().Read(l.recordOffset).kindName);
    }
  }
  EXPECT_EQ(kinds.size(), 28u);
  EXPECT_EQ(kinds.count("ThreadSig3"), 1u);
  EXPECT_EQ(kinds.count("FlashSig"), 8u);
  EXPECT_EQ(kinds.count("FileSig"), 19u);
}

TEST(Engine, AcceptsExactlyTheInForceRowsOfTheBuiltInTable) {
  Engine engine;
  std::vector<int> accepted;
  testing::internal::CaptureStdout();
  for (size_t i = 0; i < app::kBuiltinSignatures.size(); ++i) {
    const app::SignatureEntry& e = app::kBuiltinSignatures[i];
    if (engine.Bsm().AddBinarySignature(e.kindName, e.location, e.pattern, /*strict=*/true) == 1) {
      accepted.push_back(static_cast<int>(i + 1));
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the 80 others are refused silently
  std::vector<int> inForce;
  for (const support::SignatureEntry& e : support::InForceSignatures()) {
    inForce.push_back(e.row);
    const app::SignatureEntry& row = app::kBuiltinSignatures[static_cast<size_t>(e.row - 1)];
    EXPECT_EQ(std::string(row.pattern), e.pattern) << "row " << e.row;
    EXPECT_EQ(std::string(row.location), e.location) << "row " << e.row;
    EXPECT_EQ(std::string(row.kindName), e.kindName) << "row " << e.row;
  }
  EXPECT_EQ(accepted, inForce);
  engine.Compile();
  EXPECT_EQ(engine.Bsm().SimpleMatcher().Count(), 3);
  EXPECT_EQ(engine.Bsm().PartMatcher().Count(), 46);
}

TEST(Engine, RefusesSignaturesAfterCompile) {
  Engine engine;
  engine.AddSignature("FileSig", "*", "11223344");
  engine.AddSignature("FileSig", "*", "11223344{1-2}5566");
  engine.Compile();
  engine.Compile();  // a second Compile changes nothing
  EXPECT_EQ(engine.Bsm().SimpleMatcher().AddPattern(std::vector<uint8_t>{1, 2, 3}, {}), -1);
  testing::internal::CaptureStdout();
  engine.AddSignature("FlashSig", "*", "AABBCC");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "00001, PMatcher rejected pattern for signature: FlashSig\n");
  EXPECT_EQ(engine.Bsm().SignatureCount(), 2u);
}

TEST(Engine, NamesItsStoresFromRandomValuesAndTheTime) {
  EXPECT_EQ(HashCacheName(0x1a, 0x65f0a1b2), "pehcm_1a65f0a1b2");
  EXPECT_EQ(BsmName(0x7fff, 0), "pehcb_7fff0");
  Engine engine;
  const std::string& base = engine.Bsm().BaseName();
  EXPECT_EQ(base.substr(0, 6), "pehcb_");
  EXPECT_NE(engine.Bsm().Store().Path().find("\\" + base + "_bvc_"), std::string::npos);
}

}  // namespace
}  // namespace engine

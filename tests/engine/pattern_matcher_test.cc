#include "engine/pattern_matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "engine/limits.h"

namespace engine {
namespace {

using Bytes = std::vector<uint8_t>;

// A pattern written as tokens: "AA" exact, "??" any byte (mask 0), "A?" high nibble.
struct TokenPattern {
  Bytes bytes;
  Bytes mask;  // empty: exact
};

TokenPattern Parse(const char* text) {
  TokenPattern s;
  bool masked = false;
  for (const char* p = text; p[0] && p[1]; p += 2) {
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    const bool high = p[0] != '?';
    const bool low = p[1] != '?';
    s.bytes.push_back(
        static_cast<uint8_t>((high ? nibble(p[0]) << 4 : 0) | (low ? nibble(p[1]) : 0)));
    s.mask.push_back(static_cast<uint8_t>((high ? 0xF0 : 0) | (low ? 0x0F : 0)));
    masked = masked || !high || !low;
  }
  if (!masked) s.mask.clear();
  return s;
}

int32_t Add(PatternMatcher& m, const char* text) {
  const TokenPattern s = Parse(text);
  return m.AddPattern(s.bytes, s.mask);
}

const PatternRecord* FindById(const PatternMatcher& m, uint32_t id) {
  for (int32_t i = 0; i < m.Count(); ++i) {
    if (m.Pattern(static_cast<size_t>(i)).Id() == id) return &m.Pattern(static_cast<size_t>(i));
  }
  return nullptr;
}

TEST(PatternMatcher, FoldsRepeatedPatternsIntoOneId) {
  PatternMatcher m(kAnchorLength);
  EXPECT_EQ(Add(m, "11223344"), 1);
  EXPECT_EQ(Add(m, "11223344"), 1);  // the same bytes, exact
  EXPECT_EQ(Add(m, "1122??44"), 2);  // a mask makes it another pattern
  EXPECT_EQ(Add(m, "1122??44"), 2);
  EXPECT_EQ(Add(m, "11223?44"), 3);  // another mask
  EXPECT_EQ(Add(m, "112233"), 4);    // a prefix is another pattern
  EXPECT_EQ(Add(m, "11223344"), 1);
  const Bytes allExact(4, 0xFF);
  const Bytes b = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(m.AddPattern(b, allExact), 5);  // an explicit all-0xFF mask is still a mask
  EXPECT_EQ(m.Count(), 5);
}

TEST(PatternMatcher, KeepsTheArraySortedWithIdsInEntryOrder) {
  PatternMatcher m(kAnchorLength);
  const char* entered[] = {"AABBCCDD", "AABBCC", "AABBCCD?", "1122334455", "AABB?CDD", "00FFFFFF"};
  for (const char* p : entered) ASSERT_GT(Add(m, p), 0);
  // Shorter first; then bytes; a masked pattern before an exact one with equal bytes; then masks.
  const std::vector<std::pair<uint32_t, const char*>> expected = {
      {2, "AABBCC"},   {6, "00FFFFFF"}, {5, "AABB?CDD"},
      {3, "AABBCCD?"}, {1, "AABBCCDD"}, {4, "1122334455"}};
  ASSERT_EQ(m.Count(), 6);
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].second);
    const TokenPattern s = Parse(expected[i].second);
    EXPECT_EQ(m.Pattern(i).Id(), expected[i].first);
    EXPECT_EQ(Bytes(m.Pattern(i).Bytes().begin(), m.Pattern(i).Bytes().end()), s.bytes);
    EXPECT_EQ(Bytes(m.Pattern(i).Mask().begin(), m.Pattern(i).Mask().end()), s.mask);
    EXPECT_EQ(m.Pattern(i).Exact(), s.mask.empty());
  }
}

TEST(PatternMatcher, RefusesPatternsOnceBuiltAndOverlongOnes) {
  PatternMatcher m(kAnchorLength);
  EXPECT_EQ(m.AddPattern(Bytes(kMaxPatternLength + 1, 0x41), {}), -1);
  EXPECT_GT(m.AddPattern(Bytes(kMaxPatternLength, 0x41), {}), 0);
  m.Build();
  ASSERT_TRUE(m.Built());
  EXPECT_EQ(Add(m, "11223344"), -1);
  EXPECT_EQ(Add(m, "41414141"), -1);  // even one equal to a held pattern
  EXPECT_EQ(m.Count(), 1);
}

TEST(PatternMatcher, BuildOfAnEmptyMatcherLeavesItOpen) {
  PatternMatcher m(kAnchorLength);
  m.Build();
  EXPECT_FALSE(m.Built());
  EXPECT_EQ(m.Root().kind, MatcherNode::kLeaf);  // the scan treats this root as "nothing to find"
  EXPECT_EQ(Add(m, "11223344"), 1);
  m.Build();
  EXPECT_TRUE(m.Built());
}

struct AnchorCase {
  const char* name;
  std::vector<const char*> patterns;  // entered in this order
  size_t probe;                       // index into `patterns` of the one checked
  uint32_t start;
  uint32_t length;  // 0: no anchor
};

const AnchorCase kAnchorCases[] = {
    // Whole-pattern anchors for exact patterns shorter than the anchor length.
    {"exact_three_bytes", {"60EB03"}, 0, 0, 3},
    {"exact_two_bytes", {"3018"}, 0, 0, 2},
    // The most frequent first byte of good windows wins; both patterns anchor on 0x41.
    {"shared_first_byte_a", {"4101020350515253", "6061626341050607"}, 0, 0, 4},
    {"shared_first_byte_b", {"4101020350515253", "6061626341050607"}, 1, 4, 4},
    // A tie goes to the lowest byte value.
    {"tie_takes_lowest_byte", {"9091929310111213"}, 0, 4, 4},
    // A window whose first byte recurs in it is not good.
    {"recurring_first_byte", {"4142414344"}, 0, 1, 4},
    // No good window at all: the first window of exact bytes.
    {"no_good_window", {"0000000000"}, 0, 0, 4},
    {"no_good_window_masked", {"??4141414141??"}, 0, 1, 4},
    // Masked patterns without four exact bytes in a row: the last run of 3, else the last of 2.
    {"last_run_of_three", {"AABBCC??DDEE??112233??4455"}, 0, 7, 3},
    {"last_run_of_two", {"AABB??CCDD??EE"}, 0, 3, 2},
    {"short_masked", {"AABB??"}, 0, 0, 2},
    {"half_masked_bytes_are_not_exact", {"A?B1C2D3E?"}, 0, 1, 3},
    // No two consecutive exact bytes: no anchor.
    {"alternating_wildcards", {"AA??BB??CC"}, 0, 0, 0},
    {"single_masked_byte", {"A?"}, 0, 0, 0},
};

class PatternMatcherAnchor : public testing::TestWithParam<AnchorCase> {};

TEST_P(PatternMatcherAnchor, FollowsTheChoiceRules) {
  PatternMatcher m(kAnchorLength);
  std::vector<int32_t> ids;
  for (const char* p : GetParam().patterns) ids.push_back(Add(m, p));
  m.Build();
  const PatternRecord* r = FindById(m, static_cast<uint32_t>(ids[GetParam().probe]));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->AnchorStart(), GetParam().start);
  EXPECT_EQ(r->AnchorLength(), GetParam().length);
  EXPECT_EQ(r->AnchorWord(), GetParam().start << 16 | GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(Choice, PatternMatcherAnchor, testing::ValuesIn(kAnchorCases),
                         [](const testing::TestParamInfo<AnchorCase>& c) {
                           return std::string(c.param.name);
                         });

// Every node reachable from `node` through child tables.
void CollectNodes(const MatcherNode& node, std::set<const MatcherNode*>& seen) {
  if (!seen.insert(&node).second) return;
  const size_t slots = node.kind == MatcherNode::kDense ? 256 : (node.kind <= 3 ? node.kind : 0);
  for (size_t i = 0; i < slots; ++i) {
    if (node.children[i] != nullptr) CollectNodes(*node.children[i], seen);
  }
}

TEST(PatternMatcher, LaysOutTheOutputsOfOneNodeConsecutivelyInSortedOrder) {
  PatternMatcher m(kAnchorLength);
  // All three anchor on 11223344 (the lowest of the tied first bytes), so one node reports them.
  const int32_t b = Add(m, "1122334466");
  const int32_t a = Add(m, "1122334455");
  const int32_t c = Add(m, "11223344??");
  const int32_t other = Add(m, "99887766");
  m.Build();
  const MatcherNode* node = &m.Root();
  for (const uint8_t byte : Parse("11223344").bytes) {
    node = node->Child(byte);
    ASSERT_NE(node, nullptr);
  }
  ASSERT_EQ(node->outputCount, 3u);
  // The masked pattern sorts before the exact ones with equal bytes (its bytes end in 00).
  EXPECT_EQ(m.Pattern(node->firstOutput).Id(), static_cast<uint32_t>(c));
  EXPECT_EQ(m.Pattern(node->firstOutput + 1).Id(), static_cast<uint32_t>(a));
  EXPECT_EQ(m.Pattern(node->firstOutput + 2).Id(), static_cast<uint32_t>(b));

  // Every pattern appears in exactly one run, and the runs tile the array from 0.
  std::set<const MatcherNode*> nodes;
  CollectNodes(m.Root(), nodes);
  EXPECT_EQ(nodes.size(), m.NodeCount());
  std::vector<int> owners(static_cast<size_t>(m.Count()), 0);
  for (const MatcherNode* n : nodes) {
    for (uint32_t i = 0; i < n->outputCount; ++i) ++owners[n->firstOutput + i];
  }
  EXPECT_EQ(owners, std::vector<int>(4, 1));
  EXPECT_NE(FindById(m, static_cast<uint32_t>(other)), nullptr);
}

TEST(PatternMatcher, KeepsAPatternWithoutAnchorButReportsItFromNoNode) {
  PatternMatcher m(kAnchorLength);
  const int32_t unanchored = Add(m, "AA??BB??CC");
  const int32_t anchored = Add(m, "A1B2C3D4");
  m.Build();
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Pattern(0).Id(), static_cast<uint32_t>(anchored));
  EXPECT_EQ(m.Pattern(1).Id(), static_cast<uint32_t>(unanchored));  // after every run
  std::set<const MatcherNode*> nodes;
  CollectNodes(m.Root(), nodes);
  for (const MatcherNode* n : nodes) {
    for (uint32_t i = 0; i < n->outputCount; ++i) EXPECT_NE(n->firstOutput + i, 1u);
  }
}

TEST(PatternMatcher, GivesNodesTheirKindByDepthAndChildCount) {
  PatternMatcher m(kAnchorLength);
  // Anchors 10 20 30 x for four x (a dense node at depth 3) and 50 60 70 80 (one-child chain).
  for (const char* p : {"10203041", "10203042", "10203043", "10203044", "50607080"}) {
    ASSERT_GT(Add(m, p), 0);
  }
  m.Build();
  const MatcherNode& root = m.Root();
  EXPECT_EQ(root.kind, MatcherNode::kDense);
  EXPECT_EQ(root.failure, &root);
  const MatcherNode* d1 = root.Child(0x50);
  ASSERT_NE(d1, nullptr);
  EXPECT_EQ(d1->kind, MatcherNode::kDense);  // depth 1 is dense even with one child
  const MatcherNode* d2 = d1->Child(0x60);
  ASSERT_NE(d2, nullptr);
  EXPECT_EQ(d2->kind, 1);
  EXPECT_EQ(d2->labels[0], 0x70);
  const MatcherNode* d3 = root.Child(0x10)->Child(0x20)->Child(0x30);
  ASSERT_NE(d3, nullptr);
  EXPECT_EQ(d3->kind, MatcherNode::kDense);  // four children
  const MatcherNode* leaf = d3->Child(0x44);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->kind, MatcherNode::kLeaf);
  EXPECT_EQ(leaf->outputCount, 1u);
  EXPECT_EQ(d3->Child(0x45), nullptr);
}

// A plain Aho-Corasick walk over the built automaton: the (end position, pattern id) of every
// anchor occurrence the node outputs and their failure chains report.
std::set<std::pair<size_t, uint32_t>> WalkAutomaton(const PatternMatcher& m, const Bytes& data) {
  std::set<std::pair<size_t, uint32_t>> found;
  const MatcherNode* root = &m.Root();
  const MatcherNode* node = root;
  for (size_t p = 0; p < data.size(); ++p) {
    const MatcherNode* next = nullptr;
    while ((next = node->Child(data[p])) == nullptr && node != root) node = node->failure;
    if (next != nullptr) node = next;
    for (const MatcherNode* n = node; n != root; n = n->failure) {
      for (uint32_t i = 0; i < n->outputCount; ++i) {
        found.emplace(p + 1, m.Pattern(n->firstOutput + i).Id());
      }
    }
  }
  return found;
}

std::set<std::pair<size_t, uint32_t>> FindAnchors(const PatternMatcher& m, const Bytes& data) {
  std::set<std::pair<size_t, uint32_t>> found;
  for (int32_t i = 0; i < m.Count(); ++i) {
    const PatternRecord& r = m.Pattern(static_cast<size_t>(i));
    const size_t len = r.AnchorLength();
    if (len == 0) continue;
    const auto anchor = r.Bytes().subspan(r.AnchorStart(), len);
    for (size_t p = 0; p + len <= data.size(); ++p) {
      if (std::equal(anchor.begin(), anchor.end(), data.begin() + static_cast<std::ptrdiff_t>(p))) {
        found.emplace(p + len, r.Id());
      }
    }
  }
  return found;
}

TEST(PatternMatcher, FailureLinksReportEveryAnchorOccurrence) {
  // A three-letter alphabet makes anchors share prefixes and suffixes, so the failure links and
  // all node kinds are exercised.
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    auto symbol = [&] { return static_cast<uint8_t>(0x41 + rng() % (seed % 4 == 0 ? 6 : 3)); };
    PatternMatcher m(kAnchorLength);
    const int patterns = 1 + static_cast<int>(rng() % 60);
    for (int i = 0; i < patterns; ++i) {
      Bytes bytes(1 + rng() % 8);
      Bytes mask;
      for (uint8_t& b : bytes) b = symbol();
      if (rng() % 3 == 0) {
        mask.assign(bytes.size(), 0xFF);
        mask[rng() % mask.size()] = 0;
      }
      ASSERT_GT(m.AddPattern(bytes, mask), 0);
    }
    m.Build();
    Bytes data(400);
    for (uint8_t& b : data) b = symbol();
    EXPECT_EQ(WalkAutomaton(m, data), FindAnchors(m, data));
  }
}

}  // namespace
}  // namespace engine

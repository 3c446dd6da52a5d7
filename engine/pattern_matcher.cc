// Build keeps two invariants the scan relies on:
// - every node's outputs are one contiguous run of the pattern array, laid out breadth first in
//   the sorted order of AddPattern, so a walk reports a node's patterns in a fixed order;
// - a pattern's anchor consists of exact bytes only, so the automaton never has to branch on a
//   wildcard, and the anchor word says where in the pattern the walked bytes sit.
#include "engine/pattern_matcher.h"

#include <algorithm>
#include <cassert>
#include <deque>
#include <map>
#include <utility>

#include "engine/limits.h"
#include "platform/cpu.h"

namespace engine {
namespace {

constexpr size_t kDenseSlots = 256;
constexpr size_t kMaxSparseChildren = 3;

size_t PaddedLength(size_t length) { return (length + 3) & ~size_t{3}; }

// Three-way order of the sorted array: shorter first; then bytes as unsigned values; then a
// masked pattern before an exact one; then masks.
int Compare(std::span<const uint8_t> bytes, std::span<const uint8_t> mask, bool exact,
            const PatternRecord& record) {
  if (bytes.size() != record.Length()) return bytes.size() < record.Length() ? -1 : 1;
  const std::span<const uint8_t> other = record.Bytes();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != other[i]) return bytes[i] < other[i] ? -1 : 1;
  }
  if (exact != record.Exact()) return exact ? 1 : -1;
  if (exact) return 0;
  const std::span<const uint8_t> otherMask = record.Mask();
  for (size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] != otherMask[i]) return mask[i] < otherMask[i] ? -1 : 1;
  }
  return 0;
}

struct Anchor {
  uint32_t start = 0;
  uint32_t length = 0;  // 0: none
};

bool ExactAt(const PatternRecord& p, size_t i) { return p.Exact() || p.Mask()[i] == 0xFF; }

bool ExactWindow(const PatternRecord& p, size_t start, size_t length) {
  for (size_t i = start; i < start + length; ++i) {
    if (!ExactAt(p, i)) return false;
  }
  return true;
}

// K exact bytes whose first byte does not recur in the window: such anchors make the automaton
// fail quickly on runs of one value and spread the walk over distinct first bytes.
bool GoodWindow(const PatternRecord& p, size_t start, size_t k) {
  if (!ExactWindow(p, start, k)) return false;
  const std::span<const uint8_t> b = p.Bytes();
  for (size_t i = start + 1; i < start + k; ++i) {
    if (b[i] == b[start]) return false;
  }
  return true;
}

std::vector<Anchor> ChooseAnchors(const std::vector<std::unique_ptr<PatternRecord>>& patterns,
                                  size_t k) {
  std::vector<Anchor> anchors(patterns.size());
  auto windows = [k](const PatternRecord& p) { return p.Length() >= k ? p.Length() - k + 1 : 0; };

  for (int pass = 0; pass < kAnchorPasses; ++pass) {
    std::array<uint32_t, 256> counts{};
    for (size_t i = 0; i < patterns.size(); ++i) {
      if (anchors[i].length != 0) continue;
      const PatternRecord& p = *patterns[i];
      for (size_t s = 0; s < windows(p); ++s) {
        if (GoodWindow(p, s, k)) ++counts[p.Bytes()[s]];
      }
    }
    // The most frequent first byte, the lowest on a tie (0 when no good window is left).
    const size_t best =
        static_cast<size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
    if (counts[best] == 0) break;  // later passes would find nothing either
    for (size_t i = 0; i < patterns.size(); ++i) {
      if (anchors[i].length != 0) continue;
      const PatternRecord& p = *patterns[i];
      for (size_t s = 0; s < windows(p); ++s) {
        if (p.Bytes()[s] == best && GoodWindow(p, s, k)) {
          anchors[i] = {static_cast<uint32_t>(s), static_cast<uint32_t>(k)};
          break;
        }
      }
    }
  }

  for (size_t i = 0; i < patterns.size(); ++i) {
    if (anchors[i].length != 0) continue;
    const PatternRecord& p = *patterns[i];
    if (p.Length() >= k) {
      for (size_t s = 0; s < windows(p); ++s) {
        if (ExactWindow(p, s, k)) {
          anchors[i] = {static_cast<uint32_t>(s), static_cast<uint32_t>(k)};
          break;
        }
      }
    } else if (ExactWindow(p, 0, p.Length())) {
      anchors[i] = {0, p.Length()};
    }
  }

  for (size_t length = k; length >= 2; --length) {
    for (size_t i = 0; i < patterns.size(); ++i) {
      if (anchors[i].length != 0 || patterns[i]->Length() < length) continue;
      const PatternRecord& p = *patterns[i];
      for (size_t s = p.Length() - length + 1; s-- > 0;) {
        if (ExactWindow(p, s, length)) {
          anchors[i] = {static_cast<uint32_t>(s), static_cast<uint32_t>(length)};
          break;
        }
      }
    }
  }
  return anchors;
}

struct TrieNode {
  std::map<uint8_t, size_t> children;  // ascending byte order
  std::vector<size_t> patterns;        // indexes into the sorted array
  uint32_t depth = 0;
};

}  // namespace

PatternRecord::PatternRecord(uint32_t id, std::span<const uint8_t> bytes,
                             std::span<const uint8_t> mask)
    : idWord_(mask.empty() ? id | kExactBit : id),
      length_(static_cast<uint32_t>(bytes.size())),
      data_(PaddedLength(bytes.size()) + mask.size(), 0) {
  std::copy(bytes.begin(), bytes.end(), data_.begin());
  std::copy(mask.begin(), mask.end(), data_.begin() + PaddedLength(bytes.size()));
}

std::span<const uint8_t> PatternRecord::Mask() const {
  if (Exact()) return {};
  return {data_.data() + PaddedLength(length_), length_};
}

const MatcherNode* MatcherNode::Child(uint8_t c) const {
  if (kind == kDense) return children[c];
  if (kind == kLeaf || kind > kMaxSparseChildren) return nullptr;
  for (uint8_t i = 0; i < kind; ++i) {
    if (labels[i] == c) return children[i];
  }
  return nullptr;
}

PatternMatcher::PatternMatcher(int anchorLength)
    : anchorLength_(anchorLength), sse2_(platform::HasSse2()) {
  assert(anchorLength >= 1 && anchorLength <= 127);
}

PatternMatcher::~PatternMatcher() = default;

int32_t PatternMatcher::AddPattern(std::span<const uint8_t> bytes, std::span<const uint8_t> mask) {
  assert(mask.empty() || mask.size() == bytes.size());
  if (built_ || bytes.size() > kMaxPatternLength) return -1;
  const bool exact = mask.empty();
  size_t l = 0;
  size_t r = patterns_.size();
  while (l < r) {
    const size_t mid = l + (r - l) / 2;
    const int order = Compare(bytes, mask, exact, *patterns_[mid]);
    if (order == 0) return static_cast<int32_t>(patterns_[mid]->Id());
    if (order < 0) {
      r = mid;
    } else {
      l = mid + 1;
    }
  }
  if (patterns_.size() == patterns_.capacity()) {
    patterns_.reserve(patterns_.capacity() + kPatternArrayGrowth);
  }
  const uint32_t id = static_cast<uint32_t>(patterns_.size() + 1);
  patterns_.insert(patterns_.begin() + static_cast<std::ptrdiff_t>(l),
                   std::make_unique<PatternRecord>(id, bytes, mask));
  return static_cast<int32_t>(id);
}

void PatternMatcher::Build() {
  if (built_ || patterns_.empty()) return;
  const std::vector<Anchor> anchors = ChooseAnchors(patterns_, static_cast<size_t>(anchorLength_));

  // Temporary trie over the anchors, each pattern in sorted order listed at its anchor's end.
  std::vector<TrieNode> trie(1);
  std::vector<size_t> unanchored;
  for (size_t i = 0; i < patterns_.size(); ++i) {
    PatternRecord& p = *patterns_[i];
    p.anchorWord_ = anchors[i].start << 16 | anchors[i].length;
    if (anchors[i].length == 0) {
      unanchored.push_back(i);
      continue;
    }
    size_t node = 0;
    for (uint32_t j = anchors[i].start; j < anchors[i].start + anchors[i].length; ++j) {
      const uint8_t c = p.Bytes()[j];
      auto found = trie[node].children.find(c);
      if (found == trie[node].children.end()) {
        trie.push_back(TrieNode{{}, {}, trie[node].depth + 1});
        found = trie[node].children.emplace(c, trie.size() - 1).first;
      }
      node = found->second;
    }
    trie[node].patterns.push_back(i);
  }

  auto isDense = [](const TrieNode& t) {
    return t.depth <= 1 || t.children.size() > kMaxSparseChildren;
  };
  size_t slots = 0;
  for (const TrieNode& t : trie) {
    slots += isDense(t) ? kDenseSlots : t.children.size();
  }
  nodes_.reserve(trie.size() - 1);
  childSlots_.assign(slots, nullptr);
  size_t nextSlot = 0;
  std::vector<std::unique_ptr<PatternRecord>> laidOut;
  laidOut.reserve(patterns_.size());

  // Children of `node` (already holding its place) become new nodes, queued with their trie nodes.
  std::deque<std::pair<size_t, MatcherNode*>> queue;
  auto addChildren = [&](const TrieNode& t, MatcherNode& node) {
    const MatcherNode** table = childSlots_.data() + nextSlot;
    node.children = table;
    if (isDense(t)) {
      node.kind = MatcherNode::kDense;
      nextSlot += kDenseSlots;
    } else {
      node.kind = static_cast<uint8_t>(t.children.size());
      nextSlot += t.children.size();
    }
    size_t i = 0;
    for (const auto& [label, child] : t.children) {
      nodes_.emplace_back();
      MatcherNode* created = &nodes_.back();
      if (node.kind == MatcherNode::kDense) {
        table[label] = created;
      } else {
        node.labels[i] = label;
        table[i] = created;
      }
      ++i;
      queue.emplace_back(child, created);
    }
    if (t.children.empty() && node.kind != MatcherNode::kDense) node.children = nullptr;
  };

  root_ = MatcherNode{};
  root_.failure = &root_;
  addChildren(trie[0], root_);
  for (const auto& entry : queue) entry.second->failure = &root_;

  while (!queue.empty()) {
    const auto [trieIndex, node] = queue.front();
    queue.pop_front();
    TrieNode& t = trie[trieIndex];
    if (!t.patterns.empty()) {
      node->firstOutput = static_cast<uint32_t>(laidOut.size());
      node->outputCount = static_cast<uint32_t>(t.patterns.size());
      for (size_t p : t.patterns) laidOut.push_back(std::move(patterns_[p]));
    }
    addChildren(t, *node);
    // Failure link of each child labelled b: the first node on this node's failure chain that
    // has a child b, else the root. The chain lies higher up, so its children already exist.
    auto created = queue.end() - static_cast<std::ptrdiff_t>(t.children.size());
    for (auto it = t.children.begin(); it != t.children.end(); ++it, ++created) {
      const uint8_t label = it->first;
      const MatcherNode* current = node;
      for (;;) {
        current = current->failure;
        if (const MatcherNode* next = current->Child(label)) {
          created->second->failure = next;
          break;
        }
        if (current == &root_) {
          created->second->failure = &root_;
          break;
        }
      }
    }
    t = TrieNode{};
  }
  assert(nextSlot == slots);

  // Patterns without an anchor stay in the array (no node lists them) so every record keeps an
  // owner and Pattern(i) is valid for every i below Count().
  for (size_t p : unanchored) laidOut.push_back(std::move(patterns_[p]));
  laidOut.shrink_to_fit();
  patterns_ = std::move(laidOut);
  built_ = true;
}

}  // namespace engine

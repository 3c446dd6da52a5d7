// PatternMatcher: byte patterns, each with an optional per-byte mask, found in one pass.
// Fill it with AddPattern, then Build once: Build gives each pattern an anchor of exact bytes
// and enters the anchors into an automaton with failure links. After that it is read-only, and
// any number of threads may walk it without a lock. AddPattern copies the bytes it is given;
// records and nodes live as long as the matcher.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace engine {

// One pattern: its id, bytes, mask and (after Build) its anchor.
class PatternRecord {
 public:
  static constexpr uint32_t kExactBit = 0x80000000;

  PatternRecord(uint32_t id, std::span<const uint8_t> bytes, std::span<const uint8_t> mask);

  uint32_t Id() const { return idWord_ & ~kExactBit; }
  bool Exact() const { return (idWord_ & kExactBit) != 0; }
  uint32_t IdWord() const { return idWord_; }
  uint32_t Length() const { return length_; }
  // Offset of the anchor's first byte in the pattern, and the anchor's byte count; 0 and 0
  // before Build and for a pattern that got no anchor.
  uint32_t AnchorStart() const { return anchorWord_ >> 16; }
  uint32_t AnchorLength() const { return anchorWord_ & 0xFFFF; }
  uint32_t AnchorWord() const { return anchorWord_; }
  // Length() bytes; the storage behind them is zero-padded to a multiple of 4.
  std::span<const uint8_t> Bytes() const { return {data_.data(), length_}; }
  // Length() mask bytes, 4-byte aligned within the record; empty for an exact pattern.
  std::span<const uint8_t> Mask() const;

 private:
  friend class PatternMatcher;
  uint32_t idWord_;
  uint32_t length_;
  uint32_t anchorWord_ = 0;
  std::vector<uint8_t> data_;  // bytes padded to a multiple of 4, then the mask if any
};

// A node of the automaton. The root and every node of depth 1 are dense; deeper nodes with 1 to
// 3 children are sparse, with none a leaf.
struct MatcherNode {
  static constexpr uint8_t kLeaf = 0;
  static constexpr uint8_t kDense = 0xFF;

  uint8_t kind = kLeaf;                  // kLeaf, 1 to 3 (sparse: child count), or kDense
  std::array<uint8_t, 3> labels{};       // sparse: child labels in ascending order
  const MatcherNode* const* children{};  // sparse: one per label; dense: 256, null where none
  const MatcherNode* failure{};          // the root for nodes of depth 1 and for the root
  uint32_t firstOutput = 0;              // index in the pattern array; meaningless when no output
  uint32_t outputCount = 0;              // patterns whose anchor ends here

  // The child for byte `c`, or null.
  const MatcherNode* Child(uint8_t c) const;
};

class PatternMatcher {
 public:
  explicit PatternMatcher(int anchorLength);
  PatternMatcher(const PatternMatcher&) = delete;
  PatternMatcher& operator=(const PatternMatcher&) = delete;
  ~PatternMatcher();

  // The id of an equal pattern already held (same length, bytes and mask, or equally no mask),
  // else a new 1-based id; -1 once built or when longer than kMaxPatternLength.
  // An empty mask means every byte is exact; otherwise the mask has one byte per pattern byte.
  [[nodiscard]] int32_t AddPattern(std::span<const uint8_t> bytes, std::span<const uint8_t> mask);
  // Chooses the anchors and builds the automaton; does nothing when already built or empty.
  void Build();

  bool Built() const { return built_; }
  int AnchorLength() const { return anchorLength_; }
  // Whether the processor had SSE2 when the matcher was created (for the scan's comparisons).
  bool UsesSse2() const { return sse2_; }
  int32_t Count() const { return static_cast<int32_t>(patterns_.size()); }
  // Before Build: the patterns in sorted order. After Build: in output order (the runs of the
  // nodes, breadth first), followed by the patterns that got no anchor, which no node reports.
  const PatternRecord& Pattern(size_t index) const { return *patterns_[index]; }
  // Slots of the pattern array: grows in steps of kPatternArrayGrowth, exactly Count() once built.
  size_t Capacity() const { return patterns_.capacity(); }
  const MatcherNode& Root() const { return root_; }
  size_t NodeCount() const { return nodes_.size() + 1; }

 private:
  MatcherNode root_;
  bool built_ = false;
  std::vector<std::unique_ptr<PatternRecord>> patterns_;
  int anchorLength_;
  bool sse2_;
  // Nodes other than the root, in breadth-first order, and the child tables they point into.
  // Both are sized once by Build, so the pointers between nodes stay valid.
  std::vector<MatcherNode> nodes_;
  std::vector<const MatcherNode*> childSlots_;
};

}  // namespace engine

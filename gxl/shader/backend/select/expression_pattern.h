// The expression patterns of instruction selection and their matcher. A
// pattern is a small tree of records rooted at record 0; the matcher walks
// the IR from a root instruction through the definitions of its arguments and
// gathers the leaf argument groups into capture slots, aligned with the
// root's result components.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/ir/shader_program.h"

namespace gxl::shader {

// One record of eight words. An operand below 16 names the child record that
// must compute that argument group; 16 or more captures the group into slot
// (operand - 16). A pattern ends with a record whose operation is 0.
struct ExpressionPattern {
  std::uint32_t node;          // index of the record within its pattern
  std::uint32_t operation;     // required word with the width bits clear
  std::uint32_t operandCount;  // argument groups matched (the end record: captures)
  std::uint32_t operand[3];
  std::uint32_t binding;    // binding word through which the parent reads this node
  std::uint32_t swapCount;  // 1: also try argument groups 0 and 1 exchanged
};

constexpr std::uint32_t kCaptureBase = 16;
constexpr std::uint32_t kCaptureSlots = 10;
constexpr std::uint32_t kNoComponent = 255;
constexpr std::uint32_t kPatternCount = 55;
// At most one entry per matched node; the deepest pattern has eight.
constexpr std::uint32_t kMaxMatched = 16;

// The patterns by number, 1 to kPatternCount (entry 0 is null).
extern const ExpressionPattern* const kExpressionPatterns[kPatternCount + 1];
inline const ExpressionPattern* Pattern(std::uint32_t number) { return kExpressionPatterns[number]; }

// Slot k holds, per root component, the argument the captured group supplies
// there (kNoIndex where the match names none).
struct Captures {
  std::uint32_t slot[kCaptureSlots][4];
  void Clear();
  std::uint32_t At(std::uint32_t k, std::uint32_t c) const { return slot[k][c]; }
};

// Entry c: the argument position (0-3) inside an operand's group that
// supplies root component c, or kNoComponent.
struct ComponentMap {
  std::uint8_t entry[4];
  static ComponentMap Identity() { return {{0, 1, 2, 3}}; }
};

// Instructions of a match by position, children before parents, the root last.
struct MatchedList {
  std::uint32_t position[kMaxMatched];
  std::uint32_t count = 0;
  bool Contains(std::uint32_t p) const;
};

// 0 when the instruction at `position` matches the pattern record, with the
// instruction appended to `list` and the captures written; 1 otherwise, with
// `list` and `captures` unchanged. Needs fresh use analysis. A relaxed match
// at a root tries a strict pass first; the relaxed pass lifts the width limit,
// lets a child give more components than are read, and skips the check that
// nothing outside the match reads an inner result.
HRESULT MatchExpressionPattern(const ShaderProgram& p, std::uint32_t position, const ExpressionPattern* record,
                               MatchedList& list, Captures& captures, const ComponentMap& map, std::uint32_t maxWidth,
                               bool relaxed);

// 0 when the parent's group (`width` values) reads the child's results as a
// pattern needs, with the child's component map through `childMap`.
HRESULT MatchOperandComponents(const ShaderProgram& p, const IrInstruction& child, const std::uint32_t* group,
                               std::uint32_t width, const ComponentMap& parentMap, ComponentMap& childMap,
                               std::uint32_t binding, bool relaxed);

// True when some element of a equals some element of b.
bool ListsIntersect(const std::uint32_t* a, std::uint32_t countA, const std::uint32_t* b, std::uint32_t countB);

// Reads of `value` that the instructions at `positions` make, counted the way
// the use analysis counts them (through aliases and relative indexes).
std::uint32_t CountReadsAt(const ShaderProgram& p, std::uint32_t value, const std::uint32_t* positions,
                           std::uint32_t count);

}  // namespace gxl::shader

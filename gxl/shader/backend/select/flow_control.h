// Flow-control mapping: conditional breaks, counted loops over aL, the moves
// that make loop merges agree with their registers, and the structured
// rebuild of the predicated program (ShaderTarget::RebuildFlowControl) into
// if/ifc/else/endif, rep/endrep and loop/endloop blocks with breakc.
//
// The recognisers follow the selection protocol (selection.h): they read the
// target's current instruction and return 0 (rewritten), 1 (does not apply,
// nothing changed) or a failure after a reported error.
#pragma once

#include <cstdint>
#include <vector>

#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

// Operation groups of the structured forms.
namespace flow {
constexpr std::uint32_t kIf = 0x730, kElse = 0x731, kIfNot = 0x732, kElseNot = 0x733, kEndIf = 0x734;
constexpr std::uint32_t kIfCompare = 0x739;    // 0x739-0x73C: ge, lt, ne, eq
constexpr std::uint32_t kElseCompare = 0x73D;  // 0x73D-0x740
constexpr std::uint32_t kIfNotEqual = 0x73B;
constexpr std::uint32_t kLoop = 0x741, kRep = 0x742;
constexpr std::uint32_t kBreak = 0x743;  // unconditional, inside an if
constexpr std::uint32_t kBreakNotEqual = 0x744, kBreakEqual = 0x745, kBreakLess = 0x746, kBreakGreaterEqual = 0x747;
constexpr std::uint32_t kEndLoop = 0x74A, kEndRep = 0x74B;

// Limits of the rebuild: values collected per block side (the count stays
// below this), nested boolean ifs, and nesting of the predicated program.
constexpr std::uint32_t kMaxCollected = 128;
constexpr std::uint32_t kMaxBoolNesting = 30;
constexpr std::uint32_t kMaxBlockDepth = 64;
}  // namespace flow

bool IsConditionStart(std::uint32_t group);  // 0x10F, 0x735-0x738
bool IsBreakCompare(std::uint32_t group);    // 0x743-0x747

// 0x114 of width 1: breakc eq of x and -x (taken when x is zero); X4552 where
// the profile has no breakc.
HRESULT MapConditionalBreak(ShaderTarget& t);
// 0x209 of a loop counter counting by literals from a literal start to a
// literal limit under a repeat of the iteration limit: the repeat becomes
// loop aL over (count, start, step), the counter's reads go through aL, and
// its breakc ge goes. X4835 for a counter left by two breaks.
HRESULT RecognizeCountedLoop(ShaderTarget& t);
// 0x209 of a counter (shader model 3) counting from a whole literal by a
// whole literal into its own entry, directly, through the move in front of
// it, or through a break merge: the reads through the counter (plus a
// literal) go through aL and the repeat becomes a loop over (count, start,
// step). Reads inside an inner counted loop keep their index.
HRESULT RecognizeCountedLoopCounter(ShaderTarget& t);
// Where a loop merge's result of the loop opened by `loop` lies apart from
// the entry value the next pass reads: moves after the loop's last merge
// into the entries, and back in front of the loop's end. 0 when moves went
// in, 1 when none were needed, or a failure.
HRESULT CarryLoopValuesIntoEntries(ShaderTarget& t, std::uint32_t loop);
// Drops else blocks that only move values onto themselves; 0.
HRESULT RemoveEmptyConditionalBlocks(ShaderTarget& t);
// Removes boolean ifs nested in an if on the same condition (turning their
// else round when the sense differs), from the current index on; E_FAIL
// past kMaxBoolNesting levels.
HRESULT SimplifyNestedBoolConditions(ShaderTarget& t);

// The values one side of an open block collected: what its endif merges.
struct BlockCollection {
  std::vector<std::uint32_t> values, results;
};

// One walk of the structured rebuild from `*position` to `end` (exclusive)
// under `predicate` and `sense`; kept instructions are appended to the
// program's list. `collection` null: no block is open. `depth` counts the
// nesting of the walk. The position it stopped at through `position`.
struct ConditionalWalk {
  std::uint32_t predicate = kNoIndex;
  std::uint32_t sense = 1;
  std::uint32_t end = 0;
  bool emitBlocks = true;
  bool loopOnly = false;
  std::uint32_t outerPredicate = kNoIndex;
  std::uint32_t outerSense = 1;
  std::uint32_t depth = 0;
};
HRESULT EmitConditionalBlock(ShaderTarget& t, const ConditionalWalk& walk, std::uint32_t* position,
                             BlockCollection* collection);
// The if/ifc (`thenSide`) or else of a set-predicate instruction; null when
// memory runs out.
IrInstruction* MakeConditionalInstruction(ShaderTarget& t, const IrInstruction& condition, bool thenSide);

}  // namespace gxl::shader

// Instruction selection: the recognisers that rewrite the target's current
// instruction into an operation of the shader instruction sets, and the
// helpers that the operand fix-ups, flow-control mapping and targets share.
//
// A recogniser reads the target's current instruction (SetCurrentInstruction)
// and returns 0 when it rewrote it, 1 when it does not apply (nothing
// changed), or a failure. It needs fresh use analysis: the selection drivers
// call ShaderTarget::ResetSelectionState after every rewrite. The instruction
// built takes the current index; the instructions that fed the matched tree
// and that nothing else reads are retired (operation word 0).
#pragma once

#include <cstdint>

#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

// --- Recognisers (trigger groups in brackets)
HRESULT RecognizeSaturate(ShaderTarget& t);               // min, max, cmp: clamps to [0, 1]
HRESULT RecognizeMinMaxFromCompare(ShaderTarget& t);      // cmp(x, 0, x), cmp(x, x, 0), cmp(a - b, a, b)
HRESULT RecognizeMinMaxFromCompareSums(ShaderTarget& t);  // cmp(x + k1, L, x + k2) and alike
HRESULT RecognizeAbsFromMax(ShaderTarget& t);             // max(x, -x)
HRESULT RecognizeAbsFromCompare(ShaderTarget& t);         // cmp(x, x, -x)
HRESULT RecognizeAbsFromCompareNegated(ShaderTarget& t);  // cmp(-x, -x, x)
HRESULT RecognizePower(ShaderTarget& t);                  // exp2(y * log2(x))
HRESULT RecognizeNormalize(ShaderTarget& t);              // x * rsq(dot(x, x)), three components
HRESULT RecognizeDotAdd2(ShaderTarget& t);                // dot2 + c, -dot2 + c
HRESULT ConvertDot2ToDotAdd2(ShaderTarget& t);            // dot2
// mad(a - c, t, c) into lrp; `warn` gives the unsaturated-factor warning
// where the profile asks for a saturated factor.
HRESULT RecognizeLerpFromMad(ShaderTarget& t, bool warn = true);
// The current instruction computes a * complement + b * factor: when each
// complement is 1 - factor, it becomes lrp(factor, b, a). Groups of the
// current width.
HRESULT RecognizeLerp(ShaderTarget& t, const std::uint32_t* a, const std::uint32_t* complement, const std::uint32_t* b,
                      const std::uint32_t* factor);
// 0 when every complement value is an add of the literal 1.0 and the negated
// factor, read once; the adds' positions through `adds` (optional, n entries).
HRESULT MatchOneMinusFactor(const ShaderProgram& p, const std::uint32_t* complement, const std::uint32_t* factor,
                            std::uint32_t n, std::uint32_t* adds);
HRESULT FoldMoveIntoScalarResult(ShaderTarget& t);       // rcp, exp, log, rsq, dot read by one mov
HRESULT RecognizePredicateComparison(ShaderTarget& t);   // 0x10F of slt, sge or cmp(a + b, ...)
HRESULT RecognizePredicateFromCompare(ShaderTarget& t);  // 0x10F of cmp(x, 1, 0)
HRESULT CompareWithNegatedSelf(ShaderTarget& t);         // setp ne x, 0
HRESULT FoldSquareIntoComparison(ShaderTarget& t);       // setp ge/lt -(x x), 0
HRESULT FoldSquaresIntoComparison(ShaderTarget& t);      // setp ge/lt -(x x), x x
HRESULT FoldSumIntoComparison(ShaderTarget& t);          // setp (a + b), 0
HRESULT RecognizeBreakComparison(ShaderTarget& t);       // 0x114 of slt, sge or cmp(a + b, ...)
HRESULT FoldSquareIntoBreak(ShaderTarget& t);
HRESULT FoldSquaresIntoBreak(ShaderTarget& t);
HRESULT FoldSumIntoBreak(ShaderTarget& t);
// Writes a sincos whose results cannot take it through a fresh temporary.
HRESULT FixSinCosDestination(ShaderTarget& t);
// A move whose source is represented in a forwarded bank: its results take
// the source's representative (between NumberValues and RenumberValueLinks).
HRESULT RemoveForwardingMove(ShaderTarget& t);

// --- Helpers
// Per argument group of `inst`, the position of the one instruction of group
// `code` that computes the whole group from temporaries read once (kNoIndex
// where none); 0 when some group has one.
HRESULT FindGroupProducers(const ShaderProgram& p, std::uint32_t code, const IrInstruction& inst,
                           std::uint32_t* producers, std::uint32_t factor);
// 0 when the results of the instruction at `position` are read only by the
// next reader J, of group `code`, each `count` times (a single result: width
// x count times), and J can take it; J's position through `out`, with J's
// group reading the first result moved first.
HRESULT CheckProducerFusion(ShaderProgram& p, std::uint32_t code, std::uint32_t position, std::uint32_t* out,
                            std::uint32_t factor, std::uint32_t count);
// The binding word of reading through `outer` a value that reads its alias
// through `inner`, as the alias chains are flattened: two negations cancel,
// the other bits join.
std::uint32_t CombineAliasBindings(std::uint32_t outer, std::uint32_t inner);
// Every alias chain shortened to its end, the binding words met on the way
// combined into the value's own (CombineAliasBindings). 0.
HRESULT FlattenAliasChains(ShaderProgram& p);
// The same over `candidates` only (sorted in place), which hold every value
// with a chain (DefUseUpkeep::ChainCandidates).
HRESULT FlattenAliasChains(ShaderProgram& p, std::uint32_t* candidates, std::size_t count);
// 1 when a texture instruction at a position in [first, last] reads `value`.
std::uint32_t IsReadByTextureInstruction(const ShaderProgram& p, std::uint32_t value, std::uint32_t first,
                                         std::uint32_t last);
std::uint32_t IsDerivativeOperation(const IrInstruction& instruction);

}  // namespace gxl::shader

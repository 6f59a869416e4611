// What the recognisers share: making and placing the instruction that
// replaces the current one, operand comparisons, negated and literal values,
// and the retirement of matched instructions that nothing else reads.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/select/expression_pattern.h"
#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader::sel {

// The modifier field of a binding word, its negate bit and the saturate bit.
constexpr std::uint32_t kSourceModifierBits = 0x1F0000;
constexpr std::uint32_t kNegateBit = 0x80000;
constexpr std::uint32_t kComplementBit = 0x10000;
constexpr std::uint32_t kSaturateBinding = 0x200;

// A new instruction with explicit counts; null when memory runs out.
IrInstruction* NewInstruction(std::uint32_t word, std::uint32_t argumentCount, std::uint32_t resultCount);
// Puts `node` at the current index in place of the current instruction,
// which is destroyed; `node` takes its source position.
void ReplaceCurrent(ShaderTarget& t, IrInstruction* node);
// The instruction with `word` over `arguments` writing the current results,
// in place of the current instruction: S_OK or E_OUTOFMEMORY.
HRESULT ReplaceCurrentWith(ShaderTarget& t, std::uint32_t word, const std::uint32_t* arguments,
                           std::uint32_t argumentCount);

std::uint32_t BankTypeOf(const ShaderProgram& p, std::uint32_t value);
// A literal of that value read directly: a literal bank, no relative index, no modifier.
bool IsLiteral(const ShaderProgram& p, std::uint32_t value, double x);
bool IsAnyLiteral(const ShaderProgram& p, std::uint32_t value);
// The two arguments read the same contents, modifiers aside: one value, or one
// register component read at the same instruction, or equal literals.
bool SameSource(const ShaderProgram& p, std::uint32_t a, std::uint32_t b);
// The same contents with the same modifier.
bool SameOperand(const ShaderProgram& p, std::uint32_t a, std::uint32_t b);
// a reads the negation of b.
bool IsNegation(const ShaderProgram& p, std::uint32_t a, std::uint32_t b);
// Both name one register component (assigned) of one bank.
bool SameRegisterComponent(const ShaderProgram& p, std::uint32_t a, std::uint32_t b);

// A value reading the negation of `value`: a literal of the opposite sign, or
// a copy whose negate bit is toggled and whose alias is the value's own
// contents. kNoIndex with S_FALSE when the modifier has no negated form,
// with E_OUTOFMEMORY when a record cannot be made.
std::uint32_t NegatedValue(ShaderTarget& t, std::uint32_t value, HRESULT* hr);
// A new literal value of x, of the register of an existing literal x when
// there is one; kNoIndex when memory runs out.
std::uint32_t LiteralValue(ShaderTarget& t, double x);

// Whether an instruction strictly between `from` (kNoIndex: before the
// first) and `to`, outside `skip`, writes the register component of one of
// `values`. Never for a value without an assigned register.
bool WrittenBetween(const ShaderProgram& p, const std::uint32_t* values, std::uint32_t count, std::uint32_t from,
                    std::uint32_t to, const MatchedList* skip = nullptr);
inline bool WrittenBetween(const ShaderProgram& p, std::uint32_t value, std::uint32_t from, std::uint32_t to,
                           const MatchedList* skip = nullptr) {
  return WrittenBetween(p, &value, 1, from, to, skip);
}

// No instruction strictly between `from` and `to` (outside `skip`) reads or
// writes the register component of `value`: a write of it may move from `to`
// to `from`. Always true for a value without an assigned register.
bool RegisterQuietBetween(const ShaderProgram& p, std::uint32_t value, std::uint32_t from, std::uint32_t to,
                          const MatchedList* skip = nullptr);

// Which matched instructions (bit i for list entry i) may be retired once the
// root is replaced by an instruction reading `arguments`: those whose results
// only the root and other retired instructions read, and which the new
// instruction does not read. Call before the rewrite.
std::uint32_t RetirableMask(const ShaderProgram& p, const MatchedList& list, std::uint32_t root,
                            const std::uint32_t* arguments, std::uint32_t argumentCount);
// Marks the instructions of the mask dead (operation word 0).
void Retire(ShaderProgram& p, const MatchedList& list, std::uint32_t mask);

// The captures of slot k, component c of a match (kNoIndex when none).
inline std::uint32_t Capture(const Captures& c, std::uint32_t k, std::uint32_t i) { return c.slot[k][i]; }

}  // namespace gxl::shader::sel

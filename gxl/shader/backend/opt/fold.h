// Shared by the constant-folding files: the state of one FoldConstants run
// and the helpers that read facts and make literals.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

struct FoldState {
  std::uint32_t zero = kNoIndex;  // the shared literals of this run
  std::uint32_t one = kNoIndex;
  std::uint32_t firstCreated = 0;  // values from here on were made for the current instruction
  bool factsChanged = false;
};

namespace fold {

// Instruction word 14 while the first phase runs: a domain error of this
// instruction was reported, so a later round does not report it again.
constexpr std::uint32_t kDomainReported = 0x1;
// The facts a value carries for its readers.
constexpr std::uint32_t kFacts =
    kValueBoolean | kValueInteger | kValueNonNegative | kValueNonPositive | kValueUnitMagnitude;
constexpr std::uint32_t kKnownZero = kValueNonNegative | kValueNonPositive;

inline std::uint32_t Flags(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(value);
  return v ? v->flags : 0;
}
inline bool Has(const ShaderProgram& p, std::uint32_t value, std::uint32_t bits) {
  return (Flags(p, value) & bits) == bits;
}
inline bool IsLiteralEqual(const ShaderProgram& p, std::uint32_t value, double x) {
  return opt::IsLiteral(p, value) && p.values.Peek(value)->rangeLow == x;
}

// Adds fact bits to a result; notes a change in the run's state.
void Learn(ShaderProgram& p, std::uint32_t value, std::uint32_t bits);
// Sets a value's precision field; notes a change in the run's state.
void SetPrecision(ShaderProgram& p, std::uint32_t value, std::uint32_t field);
// A result that may be redirected: in a readable bank outside flow-control
// blocks, and seen only through its readers.
bool Foldable(const ShaderProgram& p, std::uint32_t value);
// Redirects `result` to a literal holding x (rounded to double); the shared
// 0.0 and 1.0 are made once per run.
HRESULT RedirectToLiteral(ShaderProgram& p, std::uint32_t result, long double x);
// The non-empty instruction that writes `value`, with the value's position
// among its results; null when none.
const IrInstruction* Definer(const ShaderProgram& p, std::uint32_t value, std::uint32_t* slot);
// The argument of component `slot` of a one-group instruction.
inline std::uint32_t UnaryArgument(const ShaderProgram& p, const IrInstruction& d, std::uint32_t slot) {
  return opt::Root(p, d.arguments[slot]);
}
// The operand x when `value` is written by a negation of x; kNoIndex otherwise.
std::uint32_t NegationOf(const ShaderProgram& p, std::uint32_t value);
// Reports a domain error once per instruction.
void ReportDomainError(ShaderProgram& p, IrInstruction& instruction, const Message& message);

// The state of one FoldConstants run, bound to the program however the run ends.
class FoldRun {
 public:
  explicit FoldRun(ShaderProgram& p) : m_p(p) { p.foldState = &m_state; }
  ~FoldRun() { m_p.foldState = nullptr; }
  FoldRun(const FoldRun&) = delete;
  FoldRun& operator=(const FoldRun&) = delete;
  FoldState& State() { return m_state; }

 private:
  ShaderProgram& m_p;
  FoldState m_state;
};

// FoldConstants' work on the instruction at `position` (inside a FoldRun):
// its components folded or given facts, the instruction kept whole or
// settled back; *folded set when it folded.
HRESULT FoldAt(ShaderProgram& p, std::uint32_t position, bool* folded);

}  // namespace fold
}  // namespace gxl::shader

// What the first-phase passes share: work arrays that report exhaustion
// instead of throwing, redirection through the renumbering field, predicate
// chains, and the edits that shrink or empty an instruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader::opt {

// An array of n value-initialised elements; null when memory runs out.
template <class T>
std::unique_ptr<T[]> NewArray(std::size_t n) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[n ? n : 1]());
}

inline std::uint32_t BankTypeOf(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(value);
  const RegisterBank* bank = v ? p.banks[v->bank] : nullptr;
  return bank ? bank->type : 0;
}

inline bool IsLiteral(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(value);
  return v && v->relativeIndex == kNoIndex && (BankTypeOf(p, value) & kBankLiteral);
}

// A value seen only through its readers: written without a relative index,
// and not an element of an array that is read relatively. Only such values
// may be redirected, since a relative read finds the register, not the value.
inline bool Replaceable(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(value);
  return v && v->relativeIndex == kNoIndex && !(BankTypeOf(p, value) & kBankRelative);
}

// The operations whose two argument groups may be exchanged.
inline bool IsCommutative(std::uint32_t group) {
  return group == kOpMin || group == kOpMax || group == kOpAdd || group == kOpMultiply || group == kOpDot;
}

// The value a redirected value now stands for (itself when none).
std::uint32_t Root(const ShaderProgram& p, std::uint32_t value);
// Points `value` at the root of `target`.
void Redirect(ShaderProgram& p, std::uint32_t value, std::uint32_t target);
// Rewrites what instructions read, and the relative-index, predicate and
// alias links of values, through the redirections; results stay, so the
// instruction that wrote a redirected value is left for dead-code removal.
void ForwardRedirections(ShaderProgram& p);

// The guard of a write: a predicate value and the sense it must have.
struct Guard {
  std::uint32_t predicate = kNoIndex;
  std::uint32_t sense = 1;
  bool operator==(const Guard& o) const { return predicate == o.predicate && sense == o.sense; }
};
inline Guard GuardOf(const IrValue& v) { return {v.predicate, v.predicateSense}; }
// The nearest guard both chains share: the guards of a and b, then the
// guards of their predicate values, outward; none when they share nothing.
Guard CommonGuard(const ShaderProgram& p, Guard a, Guard b);

// RecomputePredicates' rules, shared with its incremental form: "never"
// (no guard, sense 0), the guard under which both are needed ("never" joins
// as nothing), the guard one block further out, and how many blocks deep a
// guard is.
constexpr Guard kNever{kNoIndex, 0};
Guard JoinGuards(const ShaderProgram& p, const Guard& a, const Guard& b);
Guard OuterGuard(const ShaderProgram& p, const Guard& g);
std::uint32_t GuardDepth(const ShaderProgram& p, Guard g);

// The precision field of a flags word, and its highest and lowest set bit.
inline std::uint32_t Precision(std::uint32_t flags) { return flags & kValuePrecisionMask; }
inline std::uint32_t HighestPrecision(std::uint32_t field) {
  for (std::uint32_t bit = kValueDouble; bit >= kValueHalf; bit >>= 1)
    if (field & bit) return bit;
  return 0;
}
inline std::uint32_t LowestPrecision(std::uint32_t field) { return field & (~field + 1); }
inline void SetPrecision(IrValue& v, std::uint32_t field) { v.flags = (v.flags & ~kValuePrecisionMask) | field; }

// What a value takes over from one it replaces: the larger precision, and
// the other's variable when it has none of its own.
inline void TakeOver(IrValue& survivor, const IrValue& other) {
  SetPrecision(survivor, HighestPrecision(Precision(survivor.flags | other.flags)));
  if (!survivor.declaration) {
    survivor.declaration = other.declaration;
    survivor.variableComponent = other.variableComponent;
  }
}

// One flag per component of the program's widest instruction; null when
// memory runs out.
std::unique_ptr<bool[]> ComponentFlags(const ShaderProgram& p);

// Moves a value to the bank of undefined values ("x").
inline void Discard(ShaderProgram& p, std::uint32_t value) {
  if (IrValue* v = p.values[value]) v->bank = p.StandardBankIndex(StandardBank::Undefined);
}

inline bool IsEmpty(const IrInstruction* i) { return !i || i->word < 0x100000; }
// The instruction computes nothing any more; compaction drops it.
inline void Empty(IrInstruction& i) {
  i.word = IrWord(kOpNop, 0);
  i.argumentCount = i.resultCount = 0;
}
// Keeps the components k of a component-wise instruction with keep[k] (and
// their argument columns); an instruction left without components is emptied.
// True when it changed.
bool KeepComponents(IrInstruction& i, const bool* keep);

// The argument group g of component k of a component-wise instruction.
inline std::uint32_t Column(const IrInstruction& i, std::uint32_t g, std::uint32_t k) {
  return i.arguments[g * i.Width() + k];
}

// The position of `value` among the results of instruction i; kNoIndex when absent.
std::uint32_t ResultSlot(const IrInstruction& i, std::uint32_t value);

// What a loop end's result k carries: the result, what the end reads, the
// merge's entry copy and what that copies (kNoIndex where none). `definer(value,
// group)` is the non-empty instruction of that group writing the value, or null.
template <class Definer>
void CarriedGroup(const IrInstruction& end, std::uint32_t k, Definer definer, std::uint32_t out[4]) {
  out[0] = end.results[k];
  out[1] = end.arguments[k];
  out[2] = out[3] = kNoIndex;
  const IrInstruction* merge = definer(out[1], kOpLoopMerge);
  const std::uint32_t slot = merge ? ResultSlot(*merge, out[1]) : kNoIndex;
  if (slot != kNoIndex) out[2] = Column(*merge, 1, slot);
  const IrInstruction* copy = definer(out[2], kOpLoopEntryCopy);
  const std::uint32_t copySlot = copy ? ResultSlot(*copy, out[2]) : kNoIndex;
  if (copySlot != kNoIndex) out[3] = copy->arguments[copySlot];
}

// --- Steps of single passes, shared with their incremental forms (round_upkeep.h)

// MergeDuplicateValues: a literal that merges with literals of its bank and
// value; a read that merges with reads of its register under its guard; the
// survivor of two such reads adjusted for the other.
bool MergesAsLiteral(const ShaderProgram& p, std::uint32_t value);
bool MergesAsRegisterRead(const ShaderProgram& p, std::uint32_t value);
void MergeRegisterRead(ShaderProgram& p, std::uint32_t keep, std::uint32_t other);
// MergeCommonInstructions: whether the instruction at `position` is a
// candidate, and the words its comparison reads (arguments as they stand:
// every value its own root) appended to `out`; false when out of memory.
bool CommonCandidate(const ShaderProgram& p, std::uint32_t position, std::uint32_t unpinnedOnly);
bool CommonKey(const ShaderProgram& p, std::uint32_t position, PodArray<std::uint32_t>& out);
// MergeEquivalentValues: the instruction defining a candidate value, the
// value's key, and whether the definers x and y of two candidates merge
// (the later one's results into the earlier one's, result k into match[k]).
// Within a run of equal keys each candidate looks back this far.
constexpr std::uint32_t kEquivalenceLookBack = 16;
IrInstruction* EquivalenceDefiner(const ShaderProgram& p, std::uint32_t value);
bool EquivalenceKey(const ShaderProgram& p, std::uint32_t value, std::uint32_t* key);
bool EquivalentPair(const ShaderProgram& p, IrInstruction* x, IrInstruction* y, IrInstruction** earlier,
                    IrInstruction** later, std::uint32_t match[16]);
// RemoveDeadCode's removal at one instruction: the components (or, for an
// instruction that is not component-wise, all) whose results `live` does not
// hold; true when it changed. And of a value that is not live: it moves to
// "x" unless its bank keeps it; true when it moved.
template <class Live>
bool RemoveDeadAt(IrInstruction* inst, bool* keep, Live live) {
  if (IsEmpty(inst)) return false;
  if (inst->IsArithmetic()) {
    for (std::uint32_t k = 0; k < inst->Width(); ++k) keep[k] = k < inst->resultCount && live(inst->results[k]);
    return KeepComponents(*inst, keep);
  }
  for (std::uint32_t r = 0; r < inst->resultCount; ++r)
    if (live(inst->results[r])) return false;
  Empty(*inst);
  return true;
}
bool DiscardDead(ShaderProgram& p, std::uint32_t value);
// SimplifyArithmetic's three walks on the instruction at `position`: literal
// reassociation (a failure when out of memory), sign tests (true when it
// changed), coefficients, range tests and fractions of sums; and its end
// when none changed anything (dead code, compaction, unused values; S_FALSE).
HRESULT ReassociateAt(ShaderProgram& p, std::uint32_t position, bool* changed);
bool SignTestAt(ShaderProgram& p, std::uint32_t position);
HRESULT CoefficientsAt(ShaderProgram& p, std::uint32_t position, bool* changed);
HRESULT FinishArithmetic(ShaderProgram& p);
// SimplifyPredicates' drop of what is never written, on the instruction at
// `position`: `cut` per value (guards found never to hold in the run), null
// where no loop control is left; *redirected set when a merge became one of
// its sides. True when it changed.
bool DropUnwrittenAt(ShaderProgram& p, std::uint32_t position, bool* keep, const bool* cut, bool* redirected);
// SimplifyPredicates as its steps over one run's state: Start (the use
// analysis as the pass sets it first), the replacement of conditions a
// guard decides at each instruction in order, Decide (conditions known,
// the guards they decide resolved), the drop at each instruction in order,
// then Finish (its status). The pass is all of them over every position;
// its incremental form visits the positions whose outcome may differ.
class PredicateRun {
 public:
  explicit PredicateRun(ShaderProgram& p) : m_p(p) {}
  // With `full` the use analysis is rebuilt and the values numbered (else
  // the caller did both).
  HRESULT Start(bool full);
  HRESULT ReplaceImpliedAt(std::uint32_t position);
  HRESULT Decide();
  HRESULT DropAt(std::uint32_t position);
  // Redirections forwarded, then the status; or both for the caller to take.
  HRESULT Finish();
  bool Redirected() const { return m_redirected; }
  HRESULT Status() const { return m_changed ? S_OK : S_FALSE; }

 private:
  std::uint32_t ConditionOf(std::uint32_t block) const;
  bool Decided(std::uint32_t argument, const Guard& g) const;
  std::uint32_t Literal(double x);
  HRESULT DecideConditions();
  void ResolveGuards();

  ShaderProgram& m_p;
  std::uint32_t m_one = kNoIndex, m_zero = kNoIndex;
  std::unique_ptr<bool[]> m_cut;             // per value: its guard was found never to hold in this run
  std::unique_ptr<std::uint32_t[]> m_known;  // per value: the literal of a condition found known
  std::unique_ptr<bool[]> m_keep;            // one flag per component
  std::uint32_t m_knownCount = 0, m_keepSize = 0;
  bool m_changed = false, m_redirected = false;
};
// MergeDuplicateComponents on the instruction at `position` (`keep` one flag
// per component); true when it changed.
bool MergeComponentsAt(ShaderProgram& p, std::uint32_t position, bool* keep);

}  // namespace gxl::shader::opt

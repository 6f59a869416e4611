// Guards recomputed from the readers: a value is written where some reader
// needs it, computation that depends on nothing of a loop's iteration is
// guarded as the loop is, and an instruction stands after the values that
// guard it.
#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

// Banks whose guards are part of what they mean: predicates and block
// values, outputs, block moves and clip results.
constexpr std::uint32_t kFixedGuard = kBankPredicate | kBankOutput | kBankBlockMoves | kBankClip;

using opt::kNever;

class GuardRecomputer {
 public:
  explicit GuardRecomputer(ShaderProgram& p) : m_p(p), m_bound(p.values.Count() + 1) {}
  HRESULT Run();

 private:
  bool Fixed(std::uint32_t value) const {
    return m_p.values[value] && (opt::BankTypeOf(m_p, value) & (kFixedGuard | kBankInitialised));
  }
  opt::Guard Guard(std::uint32_t value) const {
    const IrValue* v = m_p.values[value];
    return v ? opt::GuardOf(*v) : opt::Guard{};
  }
  void Set(std::uint32_t value, const opt::Guard& g) {
    IrValue& v = *m_p.values[value];
    v.predicate = g.predicate;
    v.predicateSense = g.sense;
  }
  opt::Guard Join(const opt::Guard& a, const opt::Guard& b) const { return opt::JoinGuards(m_p, a, b); }
  opt::Guard Outer(const opt::Guard& g) const { return opt::OuterGuard(m_p, g); }
  std::uint32_t Length(opt::Guard g) const { return opt::GuardDepth(m_p, g); }
  // The value, and the values on its relative-index chain, needed under `g` too.
  void Widen(std::uint32_t value, const opt::Guard& g) {
    for (std::uint32_t steps = 0; value != kNoIndex && steps < m_bound; ++steps) {
      const IrValue* v = m_p.values[value];
      if (!v) return;
      if (!Fixed(value)) Set(value, Join(Guard(value), g));
      value = v->relativeIndex;
    }
  }
  // The guard, or the nearest one around it, whose block value stands before `position`.
  opt::Guard Available(opt::Guard g, std::uint32_t position) const {
    for (std::uint32_t steps = 0; g.predicate != kNoIndex && steps < m_bound; ++steps) {
      const std::uint32_t at = m_p.values[g.predicate] ? m_p.values[g.predicate]->definingPosition : kNoIndex;
      if (at == kNoIndex || at < position) break;
      g = Guard(g.predicate);
    }
    return g;
  }
  void Propagate(const IrInstruction& inst, std::uint32_t position);
  void Relax(const IrInstruction& inst);
  HRESULT MoveBelowGuards();

  ShaderProgram& m_p;
  std::uint32_t m_bound;
};

void GuardRecomputer::Propagate(const IrInstruction& inst, std::uint32_t position) {
  const std::uint32_t group = inst.Group(), n = inst.resultCount;
  if (n == 0) {
    for (std::uint32_t a = 0; a < inst.argumentCount; ++a) Widen(inst.arguments[a], opt::Guard{});
    return;
  }
  if (group == kOpIfMerge || group == kOpBreakMerge || group == kOpLoopEnd) {
    // A merge is written where the block it closes is entered.
    const std::uint32_t w = inst.Width();
    for (std::uint32_t k = 0; k < n && k < w; ++k) {
      opt::Guard g = kNever;
      for (std::uint32_t a = k; a < inst.argumentCount; a += w) g = Join(g, Outer(Guard(inst.arguments[a])));
      if (!Fixed(inst.results[k])) Set(inst.results[k], g);
    }
  } else {
    // A guard whose block value is computed later cannot guard this instruction.
    opt::Guard common = kNever;
    for (std::uint32_t r = 0; r < n; ++r) common = Join(common, Guard(inst.results[r]));
    if (!(common == kNever)) common = Available(common, position);
    for (std::uint32_t r = 0; r < n; ++r)
      if (!Fixed(inst.results[r])) Set(inst.results[r], common);
  }
  if (inst.IsArithmetic()) {
    const std::uint32_t w = inst.Width();
    for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
      const opt::Guard result = Guard(inst.results[(a % w) < n ? a % w : 0]);
      // The values entering a loop are needed where the loop is entered.
      Widen(inst.arguments[a], group == kOpLoopEntry ? Outer(result) : result);
    }
  } else {
    for (std::uint32_t a = 0; a < inst.argumentCount; ++a) Widen(inst.arguments[a], Guard(inst.results[0]));
  }
}

void GuardRecomputer::Relax(const IrInstruction& inst) {
  if (inst.resultCount == 0 || IsSpecialOperation(&inst) || Fixed(inst.results[0])) return;
  std::uint32_t longest = 0;
  for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
    std::uint32_t value = inst.arguments[a];
    for (std::uint32_t steps = 0; value != kNoIndex && steps < m_bound; ++steps) {
      const IrValue* v = m_p.values[value];
      if (!v) break;
      longest = std::max(longest, Length(Guard(value)));
      value = v->relativeIndex;
    }
  }
  // Nothing of the iteration is read: the loop's guard is enough.
  for (std::uint32_t steps = 0; steps < m_bound; ++steps) {
    const opt::Guard g = Guard(inst.results[0]);
    if (Length(g) <= longest || !(opt::BankTypeOf(m_p, g.predicate) & kBankLoop)) break;
    const opt::Guard outer = Guard(g.predicate);
    for (std::uint32_t r = 0; r < inst.resultCount; ++r)
      if (!Fixed(inst.results[r])) Set(inst.results[r], outer);
  }
}

HRESULT GuardRecomputer::MoveBelowGuards() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  for (std::uint32_t position = m_p.instructions.Count(); position-- > 0;) {
    const IrInstruction* inst = m_p.instructions[position];
    if (opt::IsEmpty(inst)) continue;
    std::uint32_t latest = kNoIndex, firstUse = kNoIndex;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue* v = m_p.values[inst->results[r]];
      if (!v) continue;
      firstUse = std::min(firstUse, v->firstUse);
      const IrValue* guard = m_p.values[v->predicate];
      if (guard && guard->definingPosition != kNoIndex && guard->definingPosition > position &&
          (latest == kNoIndex || guard->definingPosition > latest))
        latest = guard->definingPosition;
    }
    // Only where no reader stands in between.
    if (latest == kNoIndex || (firstUse != kNoIndex && firstUse <= latest)) continue;
    for (std::uint32_t i = position; i < latest; ++i) std::swap(m_p.instructions.Slot(i), m_p.instructions.Slot(i + 1));
    if (FAILED(hr = m_p.RebuildDefUse())) return hr;
  }
  return S_OK;
}

HRESULT GuardRecomputer::Run() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  const std::uint32_t count = m_p.values.Count();
  auto saved = opt::NewArray<opt::Guard>(count);
  if (!saved) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!m_p.values[i]) continue;
    saved[i] = Guard(i);
    const std::uint32_t type = opt::BankTypeOf(m_p, i);
    if (type & kBankInitialised)
      Set(i, opt::Guard{});
    else if (!(type & kFixedGuard))
      Set(i, kNever);
  }
  for (std::uint32_t position = m_p.instructions.Count(); position-- > 0;) {
    if (const IrInstruction* inst = m_p.instructions[position]; !opt::IsEmpty(inst)) Propagate(*inst, position);
  }
  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) {
    if (const IrInstruction* inst = m_p.instructions[position]; !opt::IsEmpty(inst)) Relax(*inst);
  }
  bool changed = false;
  for (std::uint32_t i = 0; i < count && !changed; ++i) changed = m_p.values[i] && !(saved[i] == Guard(i));
  if (!changed) return S_FALSE;
  hr = MoveBelowGuards();
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace

opt::Guard opt::JoinGuards(const ShaderProgram& p, const Guard& a, const Guard& b) {
  if (a == kNever) return b;
  if (b == kNever) return a;
  return CommonGuard(p, a, b);
}

opt::Guard opt::OuterGuard(const ShaderProgram& p, const Guard& g) {
  const IrValue* v = g.predicate == kNoIndex ? nullptr : p.values.Peek(g.predicate);
  return g.predicate == kNoIndex ? g : v ? GuardOf(*v) : Guard{};
}

std::uint32_t opt::GuardDepth(const ShaderProgram& p, Guard g) {
  const std::uint32_t bound = p.values.Count() + 1;
  std::uint32_t n = 0;
  for (; g.predicate != kNoIndex && n < bound; ++n) {
    const IrValue* v = p.values.Peek(g.predicate);
    g = v ? GuardOf(*v) : Guard{};
  }
  return n;
}

HRESULT ShaderProgram::RecomputePredicates() { return GuardRecomputer(*this).Run(); }

}  // namespace gxl::shader

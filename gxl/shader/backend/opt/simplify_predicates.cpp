// What the guards of values tell: a condition read under a guard that
// decides it is a literal, a block whose condition is known is entered always
// or never, and what is never written is not computed.
#include <algorithm>

#include "gxl/shader/backend/opt/fold.h"

namespace gxl::shader {

namespace {

bool NeverWritten(const IrValue& v) { return v.predicate == kNoIndex && v.predicateSense == 0; }

bool IsLoopControl(std::uint32_t group) { return group >= kOpLoopBegin && group <= kOpLoopEnd; }

bool IsCondition(std::uint32_t group) { return group == kOpIfBegin || group == kOpBreak; }

}  // namespace

std::uint32_t opt::PredicateRun::ConditionOf(std::uint32_t block) const {
  // The condition a block value stands for: the argument of the instruction
  // that opened the block, or the value itself.
  std::uint32_t slot;
  const IrInstruction* d = fold::Definer(m_p, block, &slot);
  return d && IsCondition(d->Group()) && slot < d->argumentCount ? opt::Root(m_p, d->arguments[slot]) : block;
}

std::uint32_t opt::PredicateRun::Literal(double x) {
  std::uint32_t& shared = x == 0.0 ? m_zero : m_one;
  if (shared == kNoIndex) {
    shared = m_p.AddValue(m_p.StandardBankIndex(StandardBank::Literals), 0, 0, x);
    if (IrValue* v = m_p.values[shared]) v->renumber = shared;
  }
  return shared;
}

// Whether the boolean `argument` is decided where the guard holds: 1 under
// a guard whose condition implies it, 0 under a false condition it implies.
bool opt::PredicateRun::Decided(std::uint32_t argument, const opt::Guard& g) const {
  const std::uint32_t condition = ConditionOf(g.predicate);
  if (g.sense) return m_p.ImpliesCondition(g.predicate, argument) || m_p.ImpliesCondition(condition, argument);
  return m_p.ImpliesCondition(argument, g.predicate) || m_p.ImpliesCondition(argument, condition);
}

HRESULT opt::PredicateRun::ReplaceImpliedAt(std::uint32_t position) {
  const std::uint32_t bound = m_p.values.Count() + 1;
  IrInstruction* inst = m_p.instructions[position];
  // A merge's arguments are the moves that place its sides in their blocks.
  if (opt::IsEmpty(inst) || !inst->IsArithmetic() || inst->Group() == kOpIfMerge || inst->Group() == kOpBreakMerge)
    return S_OK;
  const std::uint32_t w = inst->Width(), groups = w ? inst->argumentCount / w : 0;
  for (std::uint32_t k = 0; k < w && k < inst->resultCount; ++k) {
    const IrValue* r = m_p.values[inst->results[k]];
    opt::Guard g = r ? opt::GuardOf(*r) : opt::Guard{};
    for (std::uint32_t steps = 0; g.predicate != kNoIndex && steps < bound; ++steps) {
      for (std::uint32_t group = 0; group < groups; ++group) {
        std::uint32_t& argument = inst->arguments[group * w + k];
        const std::uint32_t a = opt::Root(m_p, argument);
        if (!fold::Has(m_p, a, kValueBoolean) || fold::IsLiteralEqual(m_p, a, g.sense ? 1.0 : 0.0)) continue;
        if (!Decided(a, g)) continue;
        const std::uint32_t literal = Literal(g.sense ? 1.0 : 0.0);
        if (literal == kNoIndex) return E_OUTOFMEMORY;
        argument = literal;
        m_changed = true;
      }
      const IrValue* block = m_p.values[g.predicate];
      g = block ? opt::GuardOf(*block) : opt::Guard{};
    }
  }
  return S_OK;
}

HRESULT opt::PredicateRun::DecideConditions() {
  auto keep = opt::ComponentFlags(m_p);
  if (!keep) return E_OUTOFMEMORY;
  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) {
    IrInstruction* inst = m_p.instructions[position];
    if (opt::IsEmpty(inst) || !IsCondition(inst->Group()) || inst->Class() != 1) continue;
    for (std::uint32_t k = 0; k < inst->Width(); ++k) {
      IrValue& r = *m_p.values[inst->results[k]];
      const std::uint32_t a = opt::Root(m_p, inst->arguments[k]);
      keep[k] = false;
      double known;
      if (opt::IsLiteral(m_p, a)) {
        known = m_p.values[a]->rangeLow != 0.0 ? 1.0 : 0.0;
      } else if (fold::Has(m_p, a, fold::kKnownZero)) {
        known = 0.0;
      } else {
        known = -1.0;
      }
      // A break always taken ends its loop in the first pass: the loop
      // counts one pass, and the break goes with the rest of that pass.
      if (known == 0.0 && inst->Group() == kOpBreak) {
        const IrValue* block = r.predicate != kNoIndex ? m_p.values[r.predicate] : nullptr;
        IrInstruction* loop = block && block->definingPosition != kNoIndex
                                  ? m_p.instructions[block->definingPosition]
                                  : nullptr;
        if (opt::IsEmpty(loop) || loop->Group() != kOpLoopBegin || loop->argumentCount != 1) {
          known = -1.0;
        } else if (!opt::IsLiteral(m_p, loop->arguments[0]) || m_p.values[loop->arguments[0]]->rangeLow != 1.0) {
          if ((loop->arguments[0] = Literal(1.0)) == kNoIndex) return E_OUTOFMEMORY;
        }
      }
      if (known < 0.0) {
        keep[k] = true;
        if (r.flags & kValueConstant) {
          r.flags &= ~kValueConstant;
          m_changed = true;
        }
        continue;
      }
      // Guards that name the block value see it is known; what reads it reads a literal.
      r.flags |= kValueConstant;
      r.rangeLow = r.rangeHigh = known;
      if ((m_known[inst->results[k]] = Literal(known)) == kNoIndex) return E_OUTOFMEMORY;
    }
    m_changed |= opt::KeepComponents(*inst, keep.get());
  }
  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) {
    IrInstruction* inst = m_p.instructions[position];
    for (std::uint32_t a = 0; inst && a < inst->argumentCount; ++a) {
      const std::uint32_t value = opt::Root(m_p, inst->arguments[a]);
      if (value < m_knownCount && m_known[value] != kNoIndex) inst->arguments[a] = m_known[value];
    }
  }
  return S_OK;
}

void opt::PredicateRun::ResolveGuards() {
  const std::uint32_t bound = m_p.values.Count() + 1;
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    IrValue* v = m_p.values[i];
    for (std::uint32_t steps = 0; v && v->predicate != kNoIndex && steps < bound; ++steps) {
      const IrValue* block = m_p.values[v->predicate];
      if (!block || !(block->flags & kValueConstant)) break;
      m_changed = true;
      if ((block->rangeLow != 0.0) != (v->predicateSense != 0)) {
        v->predicate = kNoIndex;
        v->predicateSense = 0;
        m_cut[i] = true;
        break;
      }
      v->predicate = block->predicate;
      v->predicateSense = block->predicateSense;
    }
  }
}

bool opt::DropUnwrittenAt(ShaderProgram& p, std::uint32_t position, bool* keep, const bool* cut, bool* redirected) {
  const std::uint32_t registers = p.StandardBankIndex(StandardBank::Temporaries);
  auto gone = [&](std::uint32_t value, bool loop) {
    const IrValue* v = p.values[value];
    // A loop's begin, entry and end leave together, when its guard fails.
    return v && NeverWritten(*v) && (!loop || (cut && cut[value]));
  };
  IrInstruction* inst = p.instructions[position];
  if (opt::IsEmpty(inst)) return false;
  const std::uint32_t group = inst->Group();
  if (!inst->IsArithmetic()) {
    bool all = inst->resultCount != 0;
    for (std::uint32_t r = 0; r < inst->resultCount && all; ++r) all = gone(inst->results[r], false);
    if (all) opt::Empty(*inst);
    return all;
  }
  const std::uint32_t w = inst->Width();
  const bool merge = (group == kOpIfMerge || group == kOpBreakMerge) && inst->argumentCount == 2 * w;
  for (std::uint32_t k = 0; k < w; ++k) {
    keep[k] = k >= inst->resultCount || !gone(inst->results[k], IsLoopControl(group));
    if (!merge || !keep[k]) continue;
    // A merge with one side never written is the other side.
    for (std::uint32_t side = 0; side < 2; ++side) {
      const std::uint32_t unwritten = opt::Root(p, opt::Column(*inst, side, k));
      const std::uint32_t other = opt::Root(p, opt::Column(*inst, 1 - side, k));
      if (!p.values[unwritten] || !NeverWritten(*p.values[unwritten]) || !p.values[other]) continue;
      opt::Redirect(p, inst->results[k], other);
      // A block move that stands for the merge now is an ordinary value.
      if (opt::BankTypeOf(p, other) & kBankBlockMoves) p.values[other]->bank = registers;
      *redirected = true;
      keep[k] = false;
      break;
    }
  }
  return opt::KeepComponents(*inst, keep);
}

HRESULT opt::PredicateRun::Start(bool full) {
  if (full) {
    const HRESULT hr = m_p.RebuildDefUse();
    if (FAILED(hr)) return hr;
    m_p.NumberValues();
  }
  m_knownCount = m_p.values.Count();
  return S_OK;
}

HRESULT opt::PredicateRun::Decide() {
  if (!(m_known = opt::NewArray<std::uint32_t>(m_knownCount))) return E_OUTOFMEMORY;
  std::fill(m_known.get(), m_known.get() + m_knownCount, kNoIndex);
  const HRESULT hr = DecideConditions();
  if (FAILED(hr)) return hr;
  // Over the values made above too.
  if (!(m_cut = opt::NewArray<bool>(m_p.values.Count()))) return E_OUTOFMEMORY;
  ResolveGuards();
  return S_OK;
}

HRESULT opt::PredicateRun::DropAt(std::uint32_t position) {
  const IrInstruction* inst = m_p.instructions[position];
  const std::uint32_t width = inst ? inst->Width() : 0;
  if (width > m_keepSize) {
    if (!(m_keep = opt::NewArray<bool>(width))) return E_OUTOFMEMORY;
    m_keepSize = width;
  }
  m_changed |= opt::DropUnwrittenAt(m_p, position, m_keep.get(), m_cut.get(), &m_redirected);
  return S_OK;
}

HRESULT opt::PredicateRun::Finish() {
  if (m_redirected) opt::ForwardRedirections(m_p);
  return Status();
}

HRESULT ShaderProgram::SimplifyPredicates() {
  opt::PredicateRun run(*this);
  HRESULT hr = run.Start(true);
  for (std::uint32_t position = 0; SUCCEEDED(hr) && position < instructions.Count(); ++position)
    hr = run.ReplaceImpliedAt(position);
  if (SUCCEEDED(hr)) hr = run.Decide();
  for (std::uint32_t position = 0; SUCCEEDED(hr) && position < instructions.Count(); ++position)
    hr = run.DropAt(position);
  return FAILED(hr) ? hr : run.Finish();
}

}  // namespace gxl::shader

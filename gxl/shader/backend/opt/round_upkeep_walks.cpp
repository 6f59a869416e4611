// RoundUpkeep's walks: the positions each pass's walk over the instructions
// must visit again, and the passes made of walks (constant folding, merging
// of duplicate components, the arithmetic simplifier, constant indexes and
// the drop of what is never written), with the check of the test switch.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/backend/opt/fold.h"
#include "gxl/shader/backend/opt/round_upkeep.h"
#include "gxl/shader/backend/opt/round_upkeep_parts.h"
#include "gxl/shader/core/message_log.h"

namespace gxl::shader {

namespace {

constexpr RoundUpkeep::Walk kReachWalks[] = {RoundUpkeep::kFoldWalk, RoundUpkeep::kReassociateWalk,
                                             RoundUpkeep::kSignWalk, RoundUpkeep::kCoefficientWalk};

// Negations and reciprocals are looked through at any depth (Strip): spreading
// through them costs nothing.
bool Free(const IrInstruction* inst) {
  return inst && inst->Class() == 1 && (inst->Group() == kOpNegate || inst->Group() == kOpReciprocal);
}

}  // namespace

// --- Marking --------------------------------------------------------------------------------

void RoundUpkeep::MarkWalk(Walk walk, std::uint32_t position) {
  if (walk == m_walk && (m_descending ? position < m_cursor : position > m_cursor)) {
    // The running walk has yet to pass it: it visits it now.
    if (m_visitStamps[position] == m_visitRound) return;  // queued already
    m_visitStamps[position] = m_visitRound;
    m_heap.push_back(position);
    if (m_descending)
      std::push_heap(m_heap.begin(), m_heap.end());
    else
      std::push_heap(m_heap.begin(), m_heap.end(), std::greater<>());
    return;
  }
  Pending& q = m_pending[walk];
  if (q.all || q.marked[position]) return;
  q.marked[position] = 1;
  q.list.push_back(position);
}

void RoundUpkeep::MarkReach(std::uint32_t position) {
  for (Walk w : kReachWalks) MarkWalk(w, position);
  if (!m_flow) return;
  // What guards decide is looked at through definitions as far as the folds.
  MarkWalk(kImpliedWalk, position);
  const IrInstruction* inst = m_p.instructions.Peek(position);
  if (inst && upkeep::IsConditionWord(inst->word)) ReachCondition(position);
}

// A condition whose definitions changed: decided now, it is the full pass's;
// else the instructions it guards that read a boolean are looked at again,
// since what its condition implies may have changed.
void RoundUpkeep::ReachCondition(std::uint32_t position) {
  Tables& t = *m_tables;
  const IrInstruction& inst = *m_p.instructions.Peek(position);
  for (std::uint32_t k = 0; k < inst.Width() && k < inst.resultCount && k < inst.argumentCount; ++k) {
    const std::uint32_t a = opt::Root(m_p, inst.arguments[k]);
    const IrValue* r = m_p.values.Peek(inst.results[k]);
    if (inst.Class() == 1 && (opt::IsLiteral(m_p, a) || fold::Has(m_p, a, fold::kKnownZero) ||
                              (r && (r->flags & kValueConstant)))) {
      t.conditionsDirty = true;
      return;
    }
  }
  for (std::uint32_t k = 0; k < inst.resultCount; ++k) {
    const auto at = t.guardedBy.find(inst.results[k]);
    if (at == t.guardedBy.end()) continue;
    for (std::uint32_t p : at->second) {
      const IrInstruction* guarded = m_p.instructions.Peek(p);
      if (!guarded) continue;
      bool boolean = false;
      for (std::uint32_t a = 0; a < guarded->argumentCount && !boolean; ++a)
        boolean = fold::Has(m_p, opt::Root(m_p, guarded->arguments[a]), kValueBoolean);
      if (boolean) MarkWalk(kImpliedWalk, p);
    }
  }
}

void RoundUpkeep::IndexGuarded(std::uint32_t position) {
  Tables& t = *m_tables;
  const IrInstruction* inst = m_p.instructions.Peek(position);
  if (opt::IsEmpty(inst)) return;
  for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
    const IrValue* x = m_p.values.Peek(inst->results[r]);
    opt::Guard g = x ? opt::GuardOf(*x) : opt::Guard{};
    for (std::uint32_t steps = 0; g.predicate != kNoIndex && steps <= m_p.values.Count(); ++steps) {
      std::vector<std::uint32_t>& list = t.guardedBy[g.predicate];
      if (list.empty() || list.back() != position) list.push_back(position);
      g = opt::OuterGuard(m_p, g);
    }
  }
}

void RoundUpkeep::Spread(std::uint32_t value, std::uint32_t left) {
  if (left == 0 || value >= m_reachStamps.size()) return;
  if (m_reachStamps[value] == m_reachRound && m_reachLeft[value] >= left) return;
  m_reachStamps[value] = m_reachRound;
  m_reachLeft[value] = left;
  m_reachBuckets[left].push_back(value);
}

void RoundUpkeep::Reach() {
  std::uint64_t met = 0;
  for (std::uint32_t left = upkeep::kReach + 1; left > 0; --left) {
    std::vector<std::uint32_t>& bucket = m_reachBuckets[left];
    while (!bucket.empty()) {
      const std::uint32_t u = bucket.back();
      bucket.pop_back();
      if (m_reachLeft[u] != left || u >= m_readers->Size()) continue;  // reached again with more left
      const std::uint32_t* readers = m_readers->Begin(u);
      met += m_readers->Count(u);
      for (std::uint32_t k = 0, n = m_readers->Count(u); k < n; ++k) {
        const std::uint32_t q = readers[k];
        const IrInstruction* inst = m_p.instructions.Peek(q);
        if (!inst) continue;
        MarkReach(q);
        // The passes look back through the column of the result they
        // follow: a component-wise reader passes u on to its results in
        // the columns that read it.
        const std::uint32_t next = Free(inst) ? left : left - 1;
        if (!inst->IsArithmetic()) {
          for (std::uint32_t r = 0; r < inst->resultCount; ++r) Spread(inst->results[r], next);
          continue;
        }
        const std::uint32_t w = inst->Width();
        for (std::uint32_t a = 0; a < inst->argumentCount && w; ++a)
          if (inst->arguments[a] == u && a % w < inst->resultCount) Spread(inst->results[a % w], next);
      }
    }
  }
  m_p.roundUpkeepReadersMet += met;
  m_owed += met * workrate::kReaderWork;
  if (++m_reachRound == 0) {
    std::fill(m_reachStamps.begin(), m_reachStamps.end(), 0u);
    m_reachRound = 1;
  }
}

bool RoundUpkeep::Small(Walk walk) const {
  const Pending& q = m_pending[walk];
  return m_ready && (m_everyRound || (!q.all && q.list.size() * 4 <= m_p.instructions.Count()));
}

void RoundUpkeep::TakeAll(Walk walk) {
  Pending& q = m_pending[walk];
  for (std::uint32_t p : q.list) q.marked[p] = 0;
  q.list.clear();
  q.all = false;
}

template <class Step>
HRESULT RoundUpkeep::RunWalk(Walk walk, bool descending, Step step) {
  const std::uint32_t count = m_p.instructions.Count();
  auto rest = [&](std::uint32_t from) -> HRESULT {
    // The walk as the full pass makes it, from `from` on.
    HRESULT hr = S_OK;
    if (descending) {
      for (std::uint32_t p = std::min(from, m_p.instructions.Count()); p-- > 0 && SUCCEEDED(hr);) hr = step(p);
    } else {
      for (std::uint32_t p = from; p < m_p.instructions.Count() && SUCCEEDED(hr); ++p) hr = step(p);
    }
    return hr;
  };
  if (!m_ready) return rest(descending ? count : 0);
  if (!Small(walk)) {
    // Most positions may differ: the plain walk, then one comparison.
    TakeAll(walk);
    Stop();
    const HRESULT hr = rest(descending ? count : 0);
    if (SUCCEEDED(hr) && Collect(true)) Attach();
    return hr;
  }
  Pending& q = m_pending[walk];
  m_heap.swap(q.list);
  q.list.clear();
  if (q.all) {
    m_heap.resize(count);
    for (std::uint32_t p = 0; p < count; ++p) m_heap[p] = p;
    q.all = false;
  }
  if (descending)
    std::make_heap(m_heap.begin(), m_heap.end());
  else
    std::make_heap(m_heap.begin(), m_heap.end(), std::greater<>());
  if (m_visitStamps.size() < count) m_visitStamps.resize(count, 0);
  if (++m_visitRound == 0) {
    std::fill(m_visitStamps.begin(), m_visitStamps.end(), 0u);
    m_visitRound = 1;
  }
  // Stamped when queued: each position is visited once.
  for (std::uint32_t p : m_heap) {
    q.marked[p] = 0;
    m_visitStamps[p] = m_visitRound;
  }
  m_walk = walk;
  m_descending = descending;
  std::uint64_t visited = 0;
  const std::uint64_t metBefore = m_p.roundUpkeepReadersMet;
  HRESULT hr = S_OK;
  while (!m_heap.empty()) {
    if (descending)
      std::pop_heap(m_heap.begin(), m_heap.end());
    else
      std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<>());
    const std::uint32_t p = m_heap.back();
    m_heap.pop_back();
    if (p >= m_p.instructions.Count()) continue;
    m_cursor = p;
    ++visited;
    if (FAILED(hr = step(p))) break;
    // A walk that spreads over much of the program is cheaper in full, as
    // is one whose changes each reach far along the readers (a chain that
    // settles link by link).
    const std::uint64_t spent = visited + (m_p.roundUpkeepReadersMet - metBefore) / upkeep::kReadersPerVisit;
    if (!m_everyRound && spent * 3 > m_p.instructions.Count()) Shed();
    if (!Collect(false, false)) {
      // The upkeep ended: what is left of the walk, in full.
      m_walk = kWalkCount;
      m_heap.clear();
      hr = rest(descending ? p : p + 1);
      break;
    }
  }
  m_walk = kWalkCount;
  m_heap.clear();
  if (FAILED(hr)) return hr;
  return m_p.ChargeWork(visited * workrate::kWalkStep);
}

// --- Passes of walks ------------------------------------------------------------------------

HRESULT RoundUpkeep::FoldConstants() {
  if (!Small(kFoldWalk)) {
    TakeAll(kFoldWalk);
    return RunFull(RoundPass::Fold);
  }
  Attach();
  const StopAtEnd stop(*this);
  fold::FoldRun run(m_p);
  FoldState& state = run.State();
  NumberValues();
  HRESULT hr = RefreshUses();
  if (FAILED(hr)) return hr;
  Collect(false);
  bool folded = false;
  const std::uint32_t valuesBefore = m_p.values.Count();
  hr = RunWalk(kFoldWalk, false, [&](std::uint32_t p) { return fold::FoldAt(m_p, p, &folded); });
  if (FAILED(hr)) return hr;
  if (folded) ForwardRedirections();
  if (m_p.values.Count() != valuesBefore && FAILED(hr = MergeDuplicateValues())) return hr;
  return folded || state.factsChanged ? S_OK : S_FALSE;
}

HRESULT RoundUpkeep::MergeDuplicateComponents() {
  if (!Small(kComponentWalk)) {
    TakeAll(kComponentWalk);
    return RunFull(RoundPass::Components);
  }
  Attach();
  const StopAtEnd stop(*this);
  NumberValues();
  Collect(false);
  upkeep::ComponentFlags keep;
  bool changed = false;
  const HRESULT hr = RunWalk(kComponentWalk, false, [&](std::uint32_t p) {
    bool* flags = keep.For(m_p.instructions.Peek(p));
    if (!flags) return E_OUTOFMEMORY;
    changed |= opt::MergeComponentsAt(m_p, p, flags);
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  if (changed) ForwardRedirections();
  return changed ? S_OK : S_FALSE;
}

HRESULT RoundUpkeep::SimplifyArithmetic() {
  Attach();
  const StopAtEnd stop(*this);
  HRESULT hr = RefreshUses();
  if (FAILED(hr)) return hr;
  NumberValues();
  Collect(false);
  bool changed = false;
  hr = RunWalk(kReassociateWalk, false, [&](std::uint32_t p) { return opt::ReassociateAt(m_p, p, &changed); });
  if (FAILED(hr)) return hr;
  if (changed && FAILED(hr = RefreshUses())) return hr;
  Collect(false);
  hr = RunWalk(kSignWalk, false, [&](std::uint32_t p) {
    changed |= opt::SignTestAt(m_p, p);
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  if (changed) return S_OK;
  hr = RunWalk(kCoefficientWalk, true, [&](std::uint32_t p) { return opt::CoefficientsAt(m_p, p, &changed); });
  if (FAILED(hr)) return hr;
  if (changed) return S_OK;
  // Nothing to simplify: dead code goes and the lists are compacted.
  if (FAILED(hr = RemoveDeadCode())) return hr;
  Stop();
  if (FAILED(hr = m_p.CompactInstructions())) return hr;
  Collect(true);
  if (FAILED(hr = m_p.RemoveUnusedValues())) return hr;
  Collect(true);
  return S_FALSE;
}

HRESULT RoundUpkeep::ResolveConstantIndexes() {
  Attach();
  const StopAtEnd stop(*this);
  const HRESULT hr = RefreshUses();
  if (FAILED(hr)) return hr;
  NumberValues();
  // No value of this class is read relatively: nothing to resolve (but
  // where the upkeep ended on the way, the pass decides).
  if (!Collect(false)) return m_p.ResolveConstantIndexes();
  return S_FALSE;
}

HRESULT RoundUpkeep::SimplifyPredicates() {
  Tables& t = *m_tables;
  if (!Small(kDropWalk) || (m_flow && (!Small(kImpliedWalk) || t.conditionsDirty))) {
    TakeAll(kDropWalk);
    TakeAll(kImpliedWalk);
    t.conditionsDirty = false;
    return RunFull(RoundPass::Predicates);
  }
  Attach();
  const StopAtEnd stop(*this);
  HRESULT hr = RefreshUses();
  if (FAILED(hr)) return hr;
  NumberValues();
  if (!Collect(false)) return m_p.SimplifyPredicates();
  opt::PredicateRun run(m_p);
  if (FAILED(hr = run.Start(false))) return hr;
  // Conditions that guards decide, where what they read changed; without
  // blocks there are none.
  if (m_flow && FAILED(hr = RunWalk(kImpliedWalk, false, [&](std::uint32_t p) { return run.ReplaceImpliedAt(p); })))
    return hr;
  if (!m_ready || t.conditionsDirty) {
    // The upkeep ended, or a condition was reached: the rest as the pass does it.
    if (m_ready) {
      t.conditionsDirty = false;
      TakeAll(kDropWalk);
    }
    if (FAILED(hr = run.Decide())) return hr;
    for (std::uint32_t p = 0; p < m_p.instructions.Count() && SUCCEEDED(hr); ++p) hr = run.DropAt(p);
    if (FAILED(hr)) return hr;
  } else if (FAILED(hr = RunWalk(kDropWalk, false, [&](std::uint32_t p) { return run.DropAt(p); }))) {
    // No condition is decided anew: only the drop of what is never written
    // has work.
    return hr;
  }
  if (run.Redirected()) ForwardRedirections();
  return run.Status();
}

// --- The test switch --------------------------------------------------------------------

std::unique_ptr<RoundUpkeep::Shadow> RoundUpkeep::MakeShadow(RoundPass pass) {
  std::unique_ptr<Shadow> s(new (std::nothrow) Shadow);
  if (!s) return nullptr;
  s->program.reset(new (std::nothrow) ShaderProgram);
  if (!s->program || FAILED(s->program->InitFrom(m_p, m_p.versionToken, m_p.options))) return nullptr;
  ShaderProgram& q = *s->program;
  q.log = &s->log;
  q.profileLimits = m_p.profileLimits;
  q.optimisedFlag = m_p.optimisedFlag;
  q.registerTableFlag = m_p.registerTableFlag;
  q.workLeft = kCompileWorkBudget * 1024;
  q.workCap = ~std::uint64_t{0};
  s->status = RunRoundPass(q, pass);
  return s;
}

void RoundUpkeep::Compare(const Shadow& shadow, HRESULT status) {
  const ShaderProgram& q = *shadow.program;
  std::uint32_t differences = status != shadow.status;
  differences += m_p.values.Count() != q.values.Count();
  differences += m_p.instructions.Count() != q.instructions.Count();
  for (std::uint32_t v = 0; v < std::min(m_p.values.Count(), q.values.Count()); ++v) {
    const IrValue *a = m_p.values.Peek(v), *b = q.values.Peek(v);
    if (!a || !b) {
      differences += (a == nullptr) != (b == nullptr);
      continue;
    }
    differences += !upkeep::SameApartFromUses(*a, *b) || !upkeep::SameUses(*a, *b);
  }
  for (std::uint32_t p = 0; p < std::min(m_p.instructions.Count(), q.instructions.Count()); ++p) {
    const IrInstruction *a = m_p.instructions.Peek(p), *b = q.instructions.Peek(p);
    if (!a || !b) {
      differences += (a == nullptr) != (b == nullptr);
      continue;
    }
    differences += a->word != b->word || a->argumentCount != b->argumentCount || a->resultCount != b->resultCount ||
                   a->word14 != b->word14 || a->pinned != b->pinned ||
                   !std::equal(a->arguments, a->arguments + a->argumentCount, b->arguments) ||
                   !std::equal(a->results, a->results + a->resultCount, b->results);
  }
  m_p.roundUpkeepMismatches += differences;
}

}  // namespace gxl::shader

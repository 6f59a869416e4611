// RoundUpkeep's guards in a program with blocks: RecomputePredicates first
// gives each value the join of the guards its readers ask for (from the last
// instruction back), then moves work that reads nothing of a loop's pass out
// to the loop's guard (from the first instruction on). The upkeep keeps what
// the readers asked for per value, so that a round recomputes the first walk
// from the values whose readers changed back, and the second from there on.
#include <algorithm>
#include <functional>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/opt/round_upkeep.h"
#include "gxl/shader/backend/opt/round_upkeep_parts.h"

namespace gxl::shader {

namespace {

using upkeep::kFixedGuard;
using upkeep::TypeOf;

bool Merges(std::uint32_t group) { return group == kOpIfMerge || group == kOpBreakMerge || group == kOpLoopEnd; }

}  // namespace

bool RoundUpkeep::FixedGuard(std::uint32_t value) const {
  const IrValue* x = m_p.values.Peek(value);
  return x && (TypeOf(m_p, x) & (kFixedGuard | kBankInitialised));
}

opt::Guard RoundUpkeep::Asked(std::uint32_t value) const {
  const Tables& t = *m_tables;
  return value < t.asked.size() ? t.asked[value] : opt::kNever;
}

// What the instruction at `position` asks of its argument a.
opt::Guard RoundUpkeep::AskOf(const IrInstruction& inst, std::uint32_t a) const {
  const std::uint32_t n = inst.resultCount;
  if (n == 0) return opt::Guard{};
  if (!inst.IsArithmetic()) return Asked(inst.results[0]);
  const std::uint32_t w = inst.Width();
  const opt::Guard result = Asked(inst.results[w && (a % w) < n ? a % w : 0]);
  // The values entering a loop are needed where the loop is entered.
  return inst.Group() == kOpLoopEntry ? opt::OuterGuard(m_p, result) : result;
}

opt::Guard RoundUpkeep::AskedOf(std::uint32_t value, std::uint64_t* work) {
  opt::Guard g = opt::kNever;
  Readers(value, m_list2);
  for (std::uint32_t q : m_list2) {
    const IrInstruction* inst = m_p.instructions.Peek(q);
    if (opt::IsEmpty(inst)) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
      if (inst->arguments[a] == value) g = opt::JoinGuards(m_p, g, AskOf(*inst, a));
    ++*work;
  }
  return g;
}

// The guard, or the nearest one around it, whose block value stands before `position`.
opt::Guard RoundUpkeep::AvailableAt(opt::Guard g, std::uint32_t position) const {
  for (std::uint32_t steps = 0; g.predicate != kNoIndex && steps <= m_p.values.Count(); ++steps) {
    const std::uint32_t at = Writer(g.predicate);
    if (at == kNoIndex || at < position) break;
    g = opt::OuterGuard(m_p, g);
  }
  return g;
}

// What the results of the instruction at `position` get from the first walk,
// from what their readers asked (merges: from where their block is entered).
void RoundUpkeep::ResultsAsked(std::uint32_t position, std::vector<opt::Guard>& out, std::uint64_t* work, bool* sure) {
  const IrInstruction& inst = *m_p.instructions.Peek(position);
  const std::uint32_t n = inst.resultCount;
  out.assign(n, opt::kNever);
  auto own = [&](std::uint32_t r) {
    const IrValue* x = m_p.values.Peek(inst.results[r]);
    if (!x) return opt::Guard{};
    if (TypeOf(m_p, x) & kBankInitialised) return opt::Guard{};
    return FixedGuard(inst.results[r]) ? opt::GuardOf(*x) : AskedOf(inst.results[r], work);
  };
  if (Merges(inst.Group())) {
    const std::uint32_t w = inst.Width();
    for (std::uint32_t k = 0; k < n && k < w; ++k) {
      if (FixedGuard(inst.results[k])) {
        out[k] = own(k);
        continue;
      }
      // The pass reads the sides as far as it has widened them: only where
      // nothing widens them (block moves) is that their whole guard.
      for (std::uint32_t a = k; a < inst.argumentCount; a += w) *sure &= FixedGuard(inst.arguments[a]);
      opt::Guard g = opt::kNever;
      for (std::uint32_t a = k; a < inst.argumentCount; a += w) g = opt::JoinGuards(m_p, g, opt::OuterGuard(m_p, Asked(inst.arguments[a])));
      out[k] = g;
    }
    return;
  }
  opt::Guard common = opt::kNever;
  for (std::uint32_t r = 0; r < n; ++r) {
    out[r] = own(r);
    common = opt::JoinGuards(m_p, common, out[r]);
  }
  if (!(common == opt::kNever)) common = AvailableAt(common, position);
  for (std::uint32_t r = 0; r < n; ++r)
    if (!FixedGuard(inst.results[r])) out[r] = common;
}

void RoundUpkeep::BuildGuards() {
  Tables& t = *m_tables;
  const std::uint32_t valueCount = m_p.values.Count(), count = m_p.instructions.Count();
  // The first walk of the pass over a table of its own.
  t.asked.assign(valueCount, opt::kNever);
  for (std::uint32_t v = 0; v < valueCount; ++v) {
    const IrValue* x = m_p.values.Peek(v);
    if (!x) continue;
    const std::uint32_t type = TypeOf(m_p, x);
    if (type & kBankInitialised) t.asked[v] = opt::Guard{};
    else if (type & kFixedGuard) t.asked[v] = opt::GuardOf(*x);
  }
  for (std::uint32_t p = count; p-- > 0;) {
    const IrInstruction* inst = m_p.instructions.Peek(p);
    if (opt::IsEmpty(inst)) continue;
    const std::uint32_t n = inst->resultCount;
    if (n && Merges(inst->Group())) {
      const std::uint32_t w = inst->Width();
      for (std::uint32_t k = 0; k < n && k < w; ++k) {
        opt::Guard g = opt::kNever;
        for (std::uint32_t a = k; a < inst->argumentCount; a += w) g = opt::JoinGuards(m_p, g, opt::OuterGuard(m_p, Asked(inst->arguments[a])));
        if (!FixedGuard(inst->results[k]) && inst->results[k] < valueCount) t.asked[inst->results[k]] = g;
      }
    } else if (n) {
      opt::Guard common = opt::kNever;
      for (std::uint32_t r = 0; r < n; ++r) common = opt::JoinGuards(m_p, common, Asked(inst->results[r]));
      if (!(common == opt::kNever)) common = AvailableAt(common, p);
      for (std::uint32_t r = 0; r < n; ++r)
        if (!FixedGuard(inst->results[r]) && inst->results[r] < valueCount) t.asked[inst->results[r]] = common;
    }
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const std::uint32_t v = inst->arguments[a];
      if (v < valueCount && m_p.values.Peek(v) && !FixedGuard(v)) t.asked[v] = opt::JoinGuards(m_p, t.asked[v], AskOf(*inst, a));
    }
  }
  m_p.ChargeWork(2 * (std::uint64_t{valueCount} + count));
}

// The guard the second walk leaves a value with, its readers' asked and its
// arguments' final guards given (`final` per value where it changed).
opt::Guard RoundUpkeep::Relaxed(std::uint32_t value, const std::unordered_map<std::uint32_t, opt::Guard>& final) const {
  auto guard = [&](std::uint32_t v) {
    const auto at = final.find(v);
    if (at != final.end()) return at->second;
    const IrValue* x = m_p.values.Peek(v);
    return x ? opt::GuardOf(*x) : opt::Guard{};
  };
  const IrValue* x = m_p.values.Peek(value);
  if (!x) return opt::Guard{};
  if (FixedGuard(value)) return TypeOf(m_p, x) & kBankInitialised ? opt::Guard{} : opt::GuardOf(*x);
  const std::uint32_t w = Writer(value);
  const IrInstruction* inst = w != kNoIndex ? m_p.instructions.Peek(w) : nullptr;
  opt::Guard g = Asked(value);
  if (!inst || !inst->resultCount || IsSpecialOperation(inst) || FixedGuard(inst->results[0])) return g;
  // Nothing of the pass is read: the loop's guard is enough.
  std::uint32_t longest = 0;
  for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
    if (m_p.values.Peek(inst->arguments[a])) longest = std::max(longest, opt::GuardDepth(m_p, guard(inst->arguments[a])));
  g = Asked(inst->results[0]);
  for (std::uint32_t steps = 0; steps <= m_p.values.Count(); ++steps) {
    if (opt::GuardDepth(m_p, g) <= longest || !(TypeOf(m_p, m_p.values.Peek(g.predicate)) & kBankLoop)) break;
    g = opt::OuterGuard(m_p, g);
  }
  return g;
}

HRESULT RoundUpkeep::UpdateGuards(bool* changed) {
  Tables& t = *m_tables;
  upkeep::Grow(t.asked, m_p.values.Count(), opt::kNever);
  std::uint64_t work = 0;
  const std::uint64_t budget = m_p.instructions.Count() / 4 + 256;
  // The first walk, from the last writer back: a value's asked guard
  // changes what its writer asks of its own arguments.
  std::vector<std::uint32_t> heap;  // values, by writer position (writerless ones last)
  upkeep::Marks queued, relax;
  auto order = [&](std::uint32_t a, std::uint32_t b) {
    const std::uint32_t wa = Writer(a), wb = Writer(b);
    return (wa == kNoIndex ? 0u : wa + 1) < (wb == kNoIndex ? 0u : wb + 1);
  };
  auto push = [&](std::uint32_t v) {
    if (v >= m_p.values.Count() || queued.Has(v) || !m_p.values.Peek(v)) return;
    queued.Add(v);
    heap.push_back(v);
    std::push_heap(heap.begin(), heap.end(), order);
  };
  t.guardValues.ForEach(push);
  t.guardValues.Clear();
  std::vector<opt::Guard> results;
  std::vector<std::uint32_t> touched;  // values whose asked guard changed
  // Writerless values reached, with whether their asked guard changed: a
  // new one is asked for nothing as its default says, yet the full pass
  // still gives it the guard its readers leave it.
  std::vector<std::pair<std::uint32_t, bool>> writerless;
  while (!heap.empty() && work <= budget) {
    std::pop_heap(heap.begin(), heap.end(), order);
    const std::uint32_t v = heap.back();
    heap.pop_back();
    const std::uint32_t w = Writer(v);
    if (w != kNoIndex) relax.Add(w);
    if (FixedGuard(v)) continue;
    if (w == kNoIndex) {
      const opt::Guard g = AskedOf(v, &work);
      const bool moved = !(g == t.asked[v]);
      if (moved) {
        t.asked[v] = g;
        touched.push_back(v);
      }
      writerless.emplace_back(v, moved);
      continue;
    }
    bool sure = true;
    ResultsAsked(w, results, &work, &sure);
    if (!sure) return S_FALSE;
    const IrInstruction& inst = *m_p.instructions.Peek(w);
    bool moved = false;
    for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
      const std::uint32_t u = inst.results[r];
      if (u >= t.asked.size() || FixedGuard(u) || results[r] == t.asked[u]) continue;
      t.asked[u] = results[r];
      touched.push_back(u);
      moved = true;
    }
    // What the writer asks of its arguments changed with its results.
    if (moved)
      for (std::uint32_t a = 0; a < inst.argumentCount; ++a) push(inst.arguments[a]);
  }
  if (!heap.empty()) return S_FALSE;  // spread too far: the full pass
  // The second walk, from the first writer on: a value's final guard
  // changes what its readers may move out.
  std::unordered_map<std::uint32_t, opt::Guard> final;
  auto relaxValue = [&](std::uint32_t v) {
    const opt::Guard g = Relaxed(v, final);
    const IrValue* x = m_p.values.Peek(v);
    const opt::Guard was = final.count(v) ? final[v] : x ? opt::GuardOf(*x) : opt::Guard{};
    if (g == was) return false;
    final[v] = g;
    return true;
  };
  for (const auto& [v, moved] : writerless) {
    if (!relaxValue(v) && !moved) continue;
    Readers(v, m_list2);
    for (std::uint32_t q : m_list2) relax.Add(q);
  }
  std::vector<std::uint32_t> positions(relax.list.begin(), relax.list.end());
  std::make_heap(positions.begin(), positions.end(), std::greater<>());
  while (!positions.empty() && work <= budget) {
    std::pop_heap(positions.begin(), positions.end(), std::greater<>());
    const std::uint32_t p = positions.back();
    positions.pop_back();
    const IrInstruction* inst = m_p.instructions.Peek(p);
    if (opt::IsEmpty(inst)) continue;
    ++work;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      if (!relaxValue(inst->results[r])) continue;
      Readers(inst->results[r], m_list2);
      for (std::uint32_t q : m_list2) {
        if (relax.Has(q)) continue;
        relax.Add(q);
        positions.push_back(q);
        std::push_heap(positions.begin(), positions.end(), std::greater<>());
      }
    }
  }
  if (!positions.empty()) return S_FALSE;
  // A guard whose block value stands after its writer would move the
  // writer below it: the full pass's.
  for (const auto& [v, g] : final) {
    const std::uint32_t at = g.predicate != kNoIndex ? Writer(g.predicate) : kNoIndex, w = Writer(v);
    if (at != kNoIndex && w != kNoIndex && at >= w) return S_FALSE;
  }
  for (const auto& [v, g] : final) {
    IrValue& y = *m_p.values[v];
    if (y.predicate == g.predicate && y.predicateSense == g.sense) continue;
    y.predicate = g.predicate;
    y.predicateSense = g.sense;
    *changed = true;
  }
  return m_p.ChargeWork(work);
}

}  // namespace gxl::shader

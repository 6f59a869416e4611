// RoundUpkeep with blocks and loops: liveness counted as RemoveDeadCode
// finds it (guards of live values, what loops carry), the test of a guard
// the tables can tell, and what moves the blocks.
#include <vector>

#include "gxl/shader/backend/opt/round_upkeep.h"
#include "gxl/shader/backend/opt/round_upkeep_parts.h"

namespace gxl::shader {

namespace {

using upkeep::kFixedGuard;
using upkeep::kRoot;
using upkeep::TypeOf;

bool Real(const opt::Guard& g) { return g.predicate != kNoIndex; }

}  // namespace

bool RoundUpkeep::FlowChange(const IrValue* old, const IrValue* x) const {
  if (((old ? TypeOf(m_p, old) : 0) | (x ? TypeOf(m_p, x) : 0)) & upkeep::kFlowBanks)
    return !old || !x || !upkeep::SameApartFromUses(*old, *x);
  const bool real = (old && old->predicate != kNoIndex) || (x && x->predicate != kNoIndex);
  return real && (!old || !x || old->predicate != x->predicate || old->predicateSense != x->predicateSense);
}

bool RoundUpkeep::CycleCapable(std::uint32_t value) const {
  if (!m_flow) return false;
  const IrValue* x = m_p.values.Peek(value);
  if (!x) return false;
  // What a loop carries passes through guarded values and the banks of
  // blocks, and through its group; a value never written is held by nothing.
  return x->predicate != kNoIndex || x->predicateSense == 0 || (TypeOf(m_p, x) & upkeep::kFlowBanks) ||
         (value < m_tables->carried.size() && m_tables->carried[value]);
}

void RoundUpkeep::BuildLiveness() {
  Tables& t = *m_tables;
  const std::uint32_t valueCount = m_p.values.Count(), count = m_p.instructions.Count();
  // The values the pass keeps: raised from the outputs along what live
  // components read and the guards live values name; where loops merge,
  // each group of what a loop carries is live as a whole once any member is.
  std::vector<std::uint8_t> live(valueCount, 0);
  auto raise = [&](std::uint32_t v) {
    for (std::uint32_t steps = 0; v < valueCount && !live[v] && steps <= valueCount; ++steps) {
      const IrValue* x = m_p.values.Peek(v);
      if (!x) return;
      live[v] = 1;
      v = x->predicate;
    }
  };
  for (std::uint32_t v = 0; v < valueCount; ++v)
    if (TypeOf(m_p, m_p.values.Peek(v)) & kRoot) raise(v);
  auto definer = [&](std::uint32_t value, std::uint32_t group) -> const IrInstruction* {
    const std::uint32_t w = Writer(value);
    const IrInstruction* d = w != kNoIndex ? m_p.instructions.Peek(w) : nullptr;
    return d && !opt::IsEmpty(d) && d->Group() == group ? d : nullptr;
  };
  // A loop end's result k, what it reads, the merge's entry copy and what
  // that copies.
  auto chain = [&](const IrInstruction& end, std::uint32_t k, std::uint32_t out[4]) {
    out[0] = end.results[k];
    out[1] = end.arguments[k];
    out[2] = out[3] = kNoIndex;
    const IrInstruction* merge = definer(out[1], kOpLoopMerge);
    const std::uint32_t slot = merge ? opt::ResultSlot(*merge, out[1]) : kNoIndex;
    if (slot != kNoIndex) out[2] = opt::Column(*merge, 1, slot);
    const IrInstruction* copy = definer(out[2], kOpLoopEntryCopy);
    const std::uint32_t copySlot = copy ? opt::ResultSlot(*copy, out[2]) : kNoIndex;
    if (copySlot != kNoIndex) out[3] = copy->arguments[copySlot];
  };
  bool throughMerge = false;
  for (std::uint32_t p = 0; p < count && !throughMerge; ++p) {
    const IrInstruction* inst = m_p.instructions.Peek(p);
    if (opt::IsEmpty(inst) || !inst->IsLoopMerge()) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) throughMerge |= m_p.values.Peek(inst->results[r]) != nullptr;
  }
  std::uint64_t work = 0;
  for (bool rose = true; rose;) {
    rose = false;
    for (std::uint32_t p = count; p-- > 0;) {
      const IrInstruction* inst = m_p.instructions.Peek(p);
      if (opt::IsEmpty(inst)) continue;
      ++work;
      if (inst->IsArithmetic()) {
        const std::uint32_t w = inst->Width(), groups = w ? inst->argumentCount / w : 0;
        for (std::uint32_t k = 0; k < w && k < inst->resultCount; ++k) {
          if (inst->results[k] >= valueCount || !live[inst->results[k]]) continue;
          for (std::uint32_t g = 0; g < groups; ++g) raise(opt::Column(*inst, g, k));
        }
        continue;
      }
      bool any = false;
      for (std::uint32_t r = 0; r < inst->resultCount && !any; ++r)
        any = inst->results[r] < valueCount && live[inst->results[r]];
      if (!any) continue;
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) raise(inst->results[r]);
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) raise(inst->arguments[a]);
    }
    if (!throughMerge) break;
    for (std::uint32_t p = 0; p < count; ++p) {
      const IrInstruction* end = m_p.instructions.Peek(p);
      if (opt::IsEmpty(end) || end->Group() != kOpLoopEnd) continue;
      for (std::uint32_t k = 0; k < end->resultCount && k < end->argumentCount; ++k) {
        std::uint32_t members[4];
        chain(*end, k, members);
        bool any = false;
        for (std::uint32_t v : members) any |= v < valueCount && live[v] && m_p.values.Peek(v);
        if (!any) continue;
        for (std::uint32_t v : members) {
          if (v >= valueCount || live[v] || !m_p.values.Peek(v)) continue;
          raise(v);
          rose = true;
        }
      }
    }
  }

  // The counts: live components' reads, guards named by live values, and a
  // pin on each member of a live group (which keeps it until counted afresh).
  t.liveReads.assign(valueCount, 0);
  t.liveMask.assign(count, 0);
  t.carried.assign(valueCount, 0);
  for (std::uint32_t p = 0; p < count; ++p) {
    const IrInstruction* inst = m_p.instructions.Peek(p);
    if (opt::IsEmpty(inst)) continue;
    std::uint32_t mask = 0;
    if (inst->IsArithmetic()) {
      for (std::uint32_t k = 0; k < inst->Width() && k < inst->resultCount; ++k)
        if (inst->results[k] < valueCount && live[inst->results[k]]) mask |= 1u << k;
    } else {
      for (std::uint32_t r = 0; r < inst->resultCount && !mask; ++r)
        mask = inst->results[r] < valueCount && live[inst->results[r]] ? 1 : 0;
    }
    t.liveMask[p] = mask;
    upkeep::ForLiveReads(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, mask,
                         [&](std::uint32_t u) {
                           if (u < valueCount) ++t.liveReads[u];
                         });
    if (inst->Group() != kOpLoopEnd || !throughMerge) continue;
    for (std::uint32_t k = 0; k < inst->resultCount && k < inst->argumentCount; ++k) {
      std::uint32_t members[4];
      chain(*inst, k, members);
      bool any = false;
      for (std::uint32_t v : members) {
        if (v >= valueCount) continue;
        t.carried[v] = 1;
        any |= live[v] != 0;
      }
      if (any)
        for (std::uint32_t v : members)
          if (v < valueCount && m_p.values.Peek(v)) ++t.liveReads[v];
    }
  }
  for (std::uint32_t v = 0; v < valueCount; ++v) {
    const IrValue* x = m_p.values.Peek(v);
    if (x && live[v] && x->predicate < valueCount) ++t.liveReads[x->predicate];
  }
  t.deadPositions.Clear();
  t.deadValues.Clear();
  t.liveCascade.Clear();
  t.deadSuspect = false;
  m_p.ChargeWork(work + valueCount + count);
}

bool RoundUpkeep::GuardSimple(std::uint32_t value, std::uint64_t* work) {
  const IrValue* x = m_p.values.Peek(value);
  if (!x || (TypeOf(m_p, x) & (kFixedGuard | kBankInitialised))) return true;
  auto guard = [&](std::uint32_t v) {
    const IrValue* y = m_p.values.Peek(v);
    return y ? opt::GuardOf(*y) : opt::Guard{};
  };
  // The guard each reader widens `v` with, as RecomputePredicates takes it.
  std::vector<std::uint32_t> readers;
  auto readSimply = [&](std::uint32_t v) {
    Readers(v, readers);
    for (std::uint32_t q : readers) {
      const IrInstruction* inst = m_p.instructions.Peek(q);
      ++*work;
      if (opt::IsEmpty(inst) || inst->resultCount == 0) continue;
      const std::uint32_t n = inst->resultCount;
      if (!inst->IsArithmetic()) {
        if (Real(guard(inst->results[0]))) return false;
        continue;
      }
      const std::uint32_t w = inst->Width();
      for (std::uint32_t a = 0; a < inst->argumentCount && w; ++a) {
        if (inst->arguments[a] != v) continue;
        opt::Guard g = guard(inst->results[(a % w) < n ? a % w : 0]);
        if (inst->Group() == kOpLoopEntry && Real(g)) {
          // Needed where the loop is entered: under the loop's own guard.
          g = guard(g.predicate);
          if (Real(g) || g.sense == 0) return false;
        }
        if (Real(g)) return false;
      }
    }
    return true;
  };
  const std::uint32_t w = Writer(value);
  if (w == kNoIndex) return readSimply(value);
  const IrInstruction* inst = m_p.instructions.Peek(w);
  if (opt::IsEmpty(inst)) return readSimply(value);
  if (IsSpecialOperation(inst)) return false;
  for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
    const IrValue* y = m_p.values.Peek(inst->results[r]);
    if (!y) continue;
    if (TypeOf(m_p, y) & (kFixedGuard | kBankInitialised)) {
      if (Real(opt::GuardOf(*y))) return false;
    } else if (!readSimply(inst->results[r])) {
      return false;
    }
  }
  return true;
}

}  // namespace gxl::shader

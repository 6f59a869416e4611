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

}  // namespace

bool RoundUpkeep::FlowChange(const IrValue* old, const IrValue* x) const {
  if (((old ? TypeOf(m_p, old) : 0) | (x ? TypeOf(m_p, x) : 0)) & upkeep::kFlowBanks)
    return !old || !x || !upkeep::SameApartFromUses(*old, *x);
  // A guard may end at "always" or "never" (what dies in a block); a guard
  // of a block taken up, or exchanged for another, moves the blocks.
  return x && x->predicate != kNoIndex && (!old || old->predicate != x->predicate || old->predicateSense != x->predicateSense);
}

bool RoundUpkeep::MayStrand(std::uint32_t value, std::uint32_t reader, int by) {
  Tables& t = *m_tables;
  if (!m_flow) return false;
  auto outside = [&](const Tables::Loop& loop) {
    return reader == kNoIndex || reader < loop.first || reader > loop.last;
  };
  // A member of what a loop carries: the group holds while anything outside
  // the loop reads one of its members.
  if (value < t.carried.size() && t.carried[value]) {
    bool last = false;
    for (auto [at, end] = t.groupsOf.equal_range(value); at != end; ++at) {
      Tables::Loop& loop = t.loops[at->second];
      if (!outside(loop)) continue;
      loop.support += by;
      last |= loop.support == 0;
    }
    return by < 0 && last;
  }
  if (by >= 0) return false;
  // Inside a loop, a fall from within it takes nothing from outside.
  const std::uint32_t w = Writer(value);
  const std::uint32_t loop = w != kNoIndex && w < t.loopAt.size() ? t.loopAt[w] : kNoIndex;
  return loop != kNoIndex && (reader == kNoIndex || reader < t.loops[loop].first || reader > t.loops[loop].last);
}

bool RoundUpkeep::Live(std::uint32_t value) const {
  const Tables& t = *m_tables;
  const IrValue* x = m_p.values.Peek(value);
  if (!x) return false;
  const std::uint32_t w = Writer(value);
  const IrInstruction* inst = w != kNoIndex ? m_p.instructions.Peek(w) : nullptr;
  if (inst && !inst->IsArithmetic() && w < t.liveMask.size()) return (t.liveMask[w] & 1) != 0;
  return (TypeOf(m_p, x) & kRoot) || (value < t.liveReads.size() && t.liveReads[value] > 0);
}

void RoundUpkeep::NameGuard(std::uint32_t value) {
  Tables& t = *m_tables;
  upkeep::Grow(t.guardNamed, m_p.values.Count(), kNoIndex);
  if (value >= t.guardNamed.size()) return;
  const IrValue* x = m_p.values.Peek(value);
  const std::uint32_t named = x && Live(value) ? x->predicate : kNoIndex, was = t.guardNamed[value];
  if (named == was) return;
  t.guardNamed[value] = named;
  if (was != kNoIndex) Count(was, -1, true, Writer(value));
  if (named != kNoIndex) Count(named, 1, true, Writer(value));
}

void RoundUpkeep::CarriedGroup(const IrInstruction& end, std::uint32_t k, std::uint32_t out[4]) const {
  auto definer = [&](std::uint32_t value, std::uint32_t group) -> const IrInstruction* {
    const std::uint32_t w = Writer(value);
    const IrInstruction* d = w != kNoIndex ? m_p.instructions.Peek(w) : nullptr;
    return d && !opt::IsEmpty(d) && d->Group() == group ? d : nullptr;
  };
  opt::CarriedGroup(end, k, definer, out);
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
        CarriedGroup(*end, k, members);
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
      CarriedGroup(*inst, k, members);
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
  FindLoops(live);
  t.guardNamed.assign(valueCount, kNoIndex);
  for (std::uint32_t v = 0; v < valueCount; ++v) {
    const IrValue* x = m_p.values.Peek(v);
    if (!x || !live[v] || x->predicate >= valueCount) continue;
    t.guardNamed[v] = x->predicate;
    ++t.liveReads[x->predicate];
  }
  t.deadPositions.Clear();
  t.deadValues.Clear();
  t.liveCascade.Clear();
  t.deadSuspect = false;
  m_p.ChargeWork(work + 2 * (std::uint64_t{valueCount} + count));
}

void RoundUpkeep::FindLoops(const std::vector<std::uint8_t>& live) {
  Tables& t = *m_tables;
  const std::uint32_t valueCount = m_p.values.Count(), count = m_p.instructions.Count();
  // The loops: from their begin to their last end (an end reads merges
  // under the loop's own guard), and the innermost around each position.
  t.loops.clear();
  t.loopAt.assign(count, kNoIndex);
  std::vector<std::uint32_t> last(valueCount, kNoIndex);
  for (std::uint32_t p = 0; p < count; ++p) {
    const IrInstruction* end = m_p.instructions.Peek(p);
    if (opt::IsEmpty(end) || end->Group() != kOpLoopEnd || !end->argumentCount) continue;
    const IrValue* merged = m_p.values.Peek(end->arguments[0]);
    if (merged && merged->predicate < valueCount) last[merged->predicate] = p;
  }
  std::vector<std::uint32_t> open;
  for (std::uint32_t p = 0; p < count; ++p) {
    while (!open.empty() && t.loops[open.back()].last < p) open.pop_back();
    const IrInstruction* inst = m_p.instructions.Peek(p);
    if (!opt::IsEmpty(inst) && inst->Group() == kOpLoopBegin && inst->resultCount &&
        inst->results[0] < valueCount && last[inst->results[0]] != kNoIndex) {
      t.loops.push_back({p, last[inst->results[0]], open.empty() ? kNoIndex : open.back(), 0});
      open.push_back(static_cast<std::uint32_t>(t.loops.size() - 1));
    }
    if (!open.empty()) t.loopAt[p] = open.back();
  }
  // Each group under its loop, and what outside the loop reads its members.
  t.groupsOf.clear();
  for (std::uint32_t p = 0; p < count; ++p) {
    const IrInstruction* end = m_p.instructions.Peek(p);
    if (opt::IsEmpty(end) || end->Group() != kOpLoopEnd || p >= t.loopAt.size()) continue;
    const std::uint32_t loop = t.loopAt[p];
    if (loop == kNoIndex) continue;
    for (std::uint32_t k = 0; k < end->resultCount && k < end->argumentCount; ++k) {
      std::uint32_t members[4];
      CarriedGroup(*end, k, members);
      for (std::uint32_t v : members)
        if (v < valueCount) t.groupsOf.emplace(v, loop);
    }
  }
  for (const auto& group : t.groupsOf) {
    const std::uint32_t member = group.first;  // a named copy: lambdas may not capture a binding in clang 14
    Tables::Loop& l = t.loops[group.second];
    if (!live[member]) continue;
    l.support += (TypeOf(m_p, m_p.values.Peek(member)) & kRoot) ? 1 : 0;
    const std::uint32_t* readers = m_readers->Begin(member);
    for (std::uint32_t k = 0, n = m_readers->Count(member); k < n; ++k) {
      const std::uint32_t q = readers[k];
      const IrInstruction* inst = m_p.instructions.Peek(q);
      if (opt::IsEmpty(inst) || (q >= l.first && q <= l.last)) continue;
      upkeep::ForLiveReads(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, t.liveMask[q],
                           [&](std::uint32_t u) { l.support += u == member; });
    }
  }
}

}  // namespace gxl::shader

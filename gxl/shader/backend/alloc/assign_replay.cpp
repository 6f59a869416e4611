// Trial assignments that take over the placements of the run before them
// where the instructions moved since cannot change them (assign_replay.h).
#include "gxl/shader/backend/alloc/assign_replay.h"

#include <algorithm>
#include <functional>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/alloc/register_assignment.h"
#include "gxl/shader/backend/ir/def_use_walk.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kNoRotationCostFlag = 1;  // the context's flag bit 0
// The registers that rotate are half the temporaries of the largest profile.
constexpr std::uint32_t kMaxRotationWindow = 64;

std::uint32_t IdOf(const AssignReplay& r, const IrInstruction* inst) {
  const std::uint32_t* begin = r.byAddress.get();
  const std::uint32_t* end = begin + r.count;
  const std::uint32_t* at = std::lower_bound(begin, end, inst, [&](std::uint32_t a, const IrInstruction* b) {
    return std::less<>()(r.table[a], b);
  });
  return at != end && r.table[*at] == inst ? *at : kNoIndex;
}

}  // namespace

// The walk's arguments of positions lo..hi, from where position lo's begin,
// each in the lists of the passes by width that may place it: the pass of
// its register's width (the wider passes placed every register they read,
// the narrower ones find it placed), every pass for what is read otherwise.
void RegisterAllocatorContext::FillWalk(std::uint32_t lo, std::uint32_t hi) {
  AssignReplay& r = *m_replay;
  const ShaderProgram& p = *m.program;
  auto passes = [&](std::uint32_t value) -> std::uint32_t {
    if (value >= m.programValues || m.readAs[value] == kNoIndex) return 0xF;
    if (m.readAs[value] == kNoIndex - 1) return 0;
    const std::uint32_t width = PlacementWidth(m.readAs[value]);
    return width ? 1u << (width - 1) : 0;
  };
  for (std::uint32_t t = 0; t < 4; ++t) {
    std::uint32_t* start = r.walkStart[t].get();
    std::uint32_t* values = r.walkValues[t].get();
    std::uint32_t at = start[lo];
    for (std::uint32_t k = lo; k <= hi; ++k) {
      start[k] = at;
      const IrInstruction* inst = p.instructions[k];
      if (alloc::IsEmpty(inst)) continue;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
        if (passes(inst->arguments[a]) & (1u << t)) values[at++] = inst->arguments[a];
    }
    start[hi + 1] = at;
  }
}

HRESULT RegisterAllocatorContext::KeepReplays(bool blocks) {
  m_replay.reset(new (std::nothrow) AssignReplay);
  if (!m_replay) return E_OUTOFMEMORY;
  m_replay->blocks = blocks;
  return S_OK;
}

bool RegisterAllocatorContext::Reused() const { return m_replay && m_replay->reused; }

bool RegisterAllocatorContext::SamePlacements(const std::uint32_t* physical, const std::uint32_t* components) const {
  return std::equal(physical, physical + m.virtualCount, m.physical.get()) &&
         std::equal(components, components + 4 * std::size_t{m.virtualCount}, m.physicalComponent.get());
}

// The live range of a value from the places of the instructions that define
// and read it, as the full run measures it; its use records moved along.
void RegisterAllocatorContext::RecomputeRange(std::uint32_t value) {
  AssignReplay& r = *m_replay;
  std::uint32_t begin = kNoIndex, lastUse = 0;
  const IrInstruction* definer = nullptr;
  for (std::uint32_t k = r.defineStart[value]; k < r.defineStart[value + 1]; ++k) {
    const std::uint32_t at = r.position[r.defines[k]];
    if (begin == kNoIndex || at > begin) begin = at, definer = r.table[r.defines[k]];
  }
  for (std::uint32_t k = r.readStart[value]; k < r.readStart[value + 1]; ++k)
    lastUse = std::max(lastUse, r.position[r.reads[k]]);
  if (begin == kNoIndex) begin = 0;
  std::uint32_t end = std::max(lastUse, begin + 1);
  const std::uint32_t s = m.sequence[value];
  for (std::uint32_t k = 0; k < m.recordFilled[s]; ++k) {
    const std::uint32_t slot = m.recordStart[s] + k;
    m.records[slot].position = r.position[r.recordId[slot]];
    m.recordOrder[slot] = slot;
    end = std::max(end, m.records[slot].position);
  }
  m.begin[value] = begin;
  m.end[value] = end;
  m.definer[value] = definer;
  KeepLatestRecords(s);
}

HRESULT RegisterAllocatorContext::PrepareReplays() {
  AssignReplay& r = *m_replay;
  const ShaderProgram& p = *m.program;
  r.steps[1 - r.reference].Clear();
  r.orders[1 - r.reference].Clear();
  r.replaying = false;
  r.fullRun = true;
  if (r.prepared) return S_OK;
  r.prepared = true;
  r.serves = false;

  // Straight-line code with one value to each virtual component, no
  // predicates and no relative reads: its ranges are plain spans. With
  // blocks, predicates and loops too, as below.
  const std::uint32_t count = p.instructions.Count(), values = m.programValues;
  if (!m_loops.Empty() && !r.blocks) return S_OK;
  for (std::uint32_t i = 0; i < values; ++i) {
    const IrValue* v = p.values[i];
    if (v && (v->relativeIndex != kNoIndex || (v->predicate != kNoIndex && !r.blocks))) return S_OK;
    if (m.sequence[i] != kNoIndex && m.slotNext[i] != kNoIndex) return S_OK;
  }
  for (std::uint32_t k = 0; k < count; ++k) {
    const IrInstruction* inst = p.instructions[k];
    if (!alloc::IsEmpty(inst) && (IsSpecialOperation(inst) || inst->IsLoopMerge()) && !r.blocks) return S_OK;
  }
  // With blocks whose flow-control instructions keep their places, a range
  // held to a loop's end ends at that loop's last guarded instruction: when
  // that is a flow-control one too, it stays where it is, and every use
  // record moves with the instruction it lies at. The guards must be of
  // other banks (their ranges are their regions, which the tables do not follow).
  for (std::uint32_t i = 0; i < values && r.blocks; ++i) {
    const IrValue* v = p.values[i];
    if (!v) continue;
    const IrValue* guard = v->predicate != kNoIndex ? p.values[p.ResolveAlias(v->predicate)] : nullptr;
    if (guard && guard->bank == m.bank) return S_OK;
    if (!(alloc::BankTypeOf(p, i) & kBankLoop)) continue;
    const IrInstruction* last = v->lastUse < count ? p.instructions[v->lastUse] : nullptr;
    if (alloc::IsEmpty(last) || !IsSpecialOperation(last)) return S_OK;
  }

  r.count = count;
  r.table = opt::NewArray<IrInstruction*>(count);
  r.orderSeen = opt::NewArray<IrInstruction*>(count);
  r.byAddress = opt::NewArray<std::uint32_t>(count);
  r.position = opt::NewArray<std::uint32_t>(count);
  r.defineStart = opt::NewArray<std::uint32_t>(std::size_t{values} + 1);
  r.readStart = opt::NewArray<std::uint32_t>(std::size_t{values} + 1);
  r.touchStart = opt::NewArray<std::uint32_t>(std::size_t{count} + 1);
  r.recordId = opt::NewArray<std::uint32_t>(m.totalRecords);
  r.touchedAt = opt::NewArray<std::uint32_t>(values);
  r.savedBegin = opt::NewArray<std::uint32_t>(values);
  r.savedEnd = opt::NewArray<std::uint32_t>(values);
  r.referenceStep = opt::NewArray<std::uint32_t>(m.virtualCount);
  r.differenceSlot = opt::NewArray<std::uint32_t>(m.virtualCount);
  r.hullBegin = opt::NewArray<std::uint32_t>(m.virtualCount);
  r.hullEnd = opt::NewArray<std::uint32_t>(m.virtualCount);
  r.bandAt = opt::NewArray<std::uint32_t>(m.virtualCount);
  std::uint64_t arguments = 0;
  for (std::uint32_t k = 0; k < count; ++k)
    if (!alloc::IsEmpty(p.instructions[k])) arguments += p.instructions[k]->argumentCount;
  if (arguments >= kNoIndex) return S_OK;
  for (std::uint32_t t = 0; t < 4; ++t) {
    r.walkStart[t] = opt::NewArray<std::uint32_t>(std::size_t{count} + 1);
    r.walkValues[t] = opt::NewArray<std::uint32_t>(arguments);
    if (!r.walkStart[t] || !r.walkValues[t]) return E_OUTOFMEMORY;
    r.walkStart[t][0] = 0;
  }
  if (count) FillWalk(0, count - 1);
  if (!r.table || !r.orderSeen || !r.byAddress || !r.position || !r.defineStart || !r.readStart || !r.touchStart ||
      !r.recordId || !r.touchedAt || !r.savedBegin || !r.savedEnd || !r.referenceStep || !r.differenceSlot ||
      !r.hullBegin || !r.hullEnd || !r.bandAt)
    return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < count; ++k) {
    r.table[k] = r.orderSeen[k] = p.instructions[k];
    r.byAddress[k] = r.position[k] = k;
  }
  std::sort(r.byAddress.get(), r.byAddress.get() + count,
            [&](std::uint32_t a, std::uint32_t b) { return std::less<>()(r.table[a], r.table[b]); });
  std::fill(r.touchedAt.get(), r.touchedAt.get() + values, 0u);
  std::fill(r.differenceSlot.get(), r.differenceSlot.get() + m.virtualCount, kNoIndex);
  std::fill(r.bandAt.get(), r.bandAt.get() + m.virtualCount, 0u);
  r.stamp = 0;

  // Definitions and reads as the use analysis counts them: counted, then filled.
  std::fill(r.defineStart.get(), r.defineStart.get() + values + 1, 0u);
  std::fill(r.readStart.get(), r.readStart.get() + values + 1, 0u);
  for (int round = 0; round < 2; ++round) {
    for (std::uint32_t k = 0; k < count; ++k)
      defuse::VisitInstruction(
          p, k, [](std::uint32_t) {},
          [&](std::uint32_t value, const IrValue&) {
            if (round) r.reads[r.readStart[value]++] = k;
            else ++r.readStart[value];
          },
          [](std::uint32_t, const RegisterBank&) {},
          [&](std::uint32_t value, const IrValue&) {
            if (round) r.defines[r.defineStart[value]++] = k;
            else ++r.defineStart[value];
          });
    if (round == 0) {
      r.defines = opt::NewArray<std::uint32_t>(alloc::Starts(r.defineStart.get(), values));
      r.reads = opt::NewArray<std::uint32_t>(alloc::Starts(r.readStart.get(), values));
      if (!r.defines || !r.reads) return E_OUTOFMEMORY;
    } else {
      // The fill moved each start to the next one's.
      std::copy_backward(r.defineStart.get(), r.defineStart.get() + values, r.defineStart.get() + values + 1);
      std::copy_backward(r.readStart.get(), r.readStart.get() + values, r.readStart.get() + values + 1);
      r.defineStart[0] = r.readStart[0] = 0;
    }
  }
  for (std::uint32_t slot = 0; slot < m.totalRecords; ++slot) r.recordId[slot] = m.records[slot].position;

  // Per instruction the values whose ranges it touches: counted, then filled.
  std::fill(r.touchStart.get(), r.touchStart.get() + count + 1, 0u);
  for (int round = 0; round < 2; ++round) {
    for (std::uint32_t i = 0; i < values; ++i) {
      const std::uint32_t s = m.sequence[i];
      if (s == kNoIndex) continue;
      auto touch = [&](std::uint32_t id) {
        if (id >= count) return;
        if (round) r.touches[r.touchStart[id]++] = i;
        else ++r.touchStart[id];
      };
      for (std::uint32_t k = r.defineStart[i]; k < r.defineStart[i + 1]; ++k) touch(r.defines[k]);
      for (std::uint32_t k = r.readStart[i]; k < r.readStart[i + 1]; ++k) touch(r.reads[k]);
      for (std::uint32_t k = 0; k < m.recordFilled[s]; ++k) touch(r.recordId[m.recordStart[s] + k]);
    }
    if (round == 0) {
      r.touches = opt::NewArray<std::uint32_t>(alloc::Starts(r.touchStart.get(), count));
      if (!r.touches) return E_OUTOFMEMORY;
    } else {
      std::copy_backward(r.touchStart.get(), r.touchStart.get() + count, r.touchStart.get() + count + 1);
      r.touchStart[0] = 0;
    }
  }

  // The ranges measured so must be those of the run: else the shape holds
  // something the tables do not follow, and every run is a full one.
  for (std::uint32_t i = 0; i < values; ++i) {
    if (m.sequence[i] == kNoIndex) continue;
    const std::uint32_t begin = m.begin[i], end = m.end[i];
    const IrInstruction* definer = m.definer[i];
    RecomputeRange(i);
    if (m.begin[i] != begin || m.end[i] != end || m.definer[i] != definer) {
      m.begin[i] = begin, m.end[i] = end, m.definer[i] = definer;
      return S_OK;
    }
  }
  r.serves = true;
  return S_OK;
}

HRESULT RegisterAllocatorContext::NotePlacement(std::uint32_t value, std::uint32_t vreg, std::int32_t bias,
                                                std::uint32_t partner, std::uint32_t reg, const std::uint32_t map[4],
                                                std::uint32_t cost) {
  AssignReplay& r = *m_replay;
  if (!r.serves) return S_OK;
  const int running = 1 - r.reference;
  AssignReplay::Step step{value,    vreg,        bias, partner, reg, {map[0], map[1], map[2], map[3]},
                          cost,     kNoIndex,    m.threshold,     m.threshold ? m.walkPosition : kNoIndex};
  if (m.program->options & kOptionNoOptimisation) {
    step.orderAt = static_cast<std::uint32_t>(r.orders[running].Size());
    if (!r.orders[running].Append(m.order.get(), m.rotationWindow)) return E_OUTOFMEMORY;
  }
  for (std::uint32_t c = 0; c < 4; ++c)
    if (m.valueAt[vreg * 4 + c] == kNoIndex) step.map[c] = kNoIndex;
  if (!r.steps[running].Append(step)) return E_OUTOFMEMORY;
  if (r.replaying) UpdateDifference(vreg);
  return S_OK;
}

void RegisterAllocatorContext::RangeHull(std::uint32_t vreg, bool withBefore, std::uint32_t* lo,
                                         std::uint32_t* hi) const {
  const AssignReplay& r = *m_replay;
  *lo = kNoIndex;
  *hi = 0;
  for (std::uint32_t c = 0; c < 4; ++c) {
    const std::uint32_t v = m.valueAt[vreg * 4 + c];
    if (v == kNoIndex) continue;
    *lo = std::min(*lo, m.begin[v]);
    *hi = std::max(*hi, m.end[v]);
    if (withBefore && r.touchedAt[v] == r.stamp) {
      *lo = std::min(*lo, r.savedBegin[v]);
      *hi = std::max(*hi, r.savedEnd[v]);
    }
  }
}

void RegisterAllocatorContext::UpdateDifference(std::uint32_t vreg) {
  AssignReplay& r = *m_replay;
  const std::uint32_t at = r.referenceStep[vreg];
  const bool before = at != kNoIndex && at < r.prefix, now = m.physical[vreg] != kNoIndex;
  bool differs = before != now;
  if (before && now) {
    const AssignReplay::Step& step = r.steps[r.reference][at];
    differs = step.reg != m.physical[vreg];
    for (std::uint32_t c = 0; c < 4 && !differs; ++c)
      differs = m.valueAt[vreg * 4 + c] != kNoIndex && m.physicalComponent[vreg * 4 + c] != step.map[c];
  }
  std::uint32_t& slot = r.differenceSlot[vreg];
  if (differs && slot == kNoIndex) {
    // Its ranges in both runs.
    std::uint32_t lo, hi;
    RangeHull(vreg, true, &lo, &hi);
    r.hullBegin[vreg] = lo;
    r.hullEnd[vreg] = hi;
    slot = static_cast<std::uint32_t>(r.difference.Size());
    r.difference.Append(vreg);  // room for every register was made at the run's start
  } else if (!differs && slot != kNoIndex) {
    const std::uint32_t last = r.difference.Back();
    r.difference[slot] = last;
    r.differenceSlot[last] = slot;
    r.difference.PopBack();
    slot = kNoIndex;
  }
}

// Whether a value's range or a use record of it lies on a moved end.
bool RegisterAllocatorContext::MeetsBand(std::uint32_t v) const {
  const AssignReplay& r = *m_replay;
  auto inBand = [&](std::uint32_t x) { return r.lo <= x && x <= r.hi + 1; };
  if (r.touchedAt[v] == r.stamp || inBand(m.begin[v]) || inBand(m.end[v])) return true;
  const std::uint32_t s = m.sequence[v];
  const std::uint32_t* order = m.recordOrder.get() + m.recordStart[s];
  for (std::uint32_t k = 0; k < m.recordKept[s]; ++k)
    if (inBand(m.records[order[k]].position)) return true;
  return false;
}

// The virtual registers with a value that meets the band, marked with the
// run's stamp. Every end of a value and every record of it lies at an
// instruction that touches it, but the end right after its definition and
// the start of a value nothing defines: the instructions from the one before
// the band to the one after it are visited, and from the start everything.
void RegisterAllocatorContext::MarkBand() {
  AssignReplay& r = *m_replay;
  if (r.lo >= r.count) return;
  auto mark = [&](std::uint32_t v) {
    const std::uint32_t vreg = m.ownRegister[v];
    if (vreg != kNoIndex && r.bandAt[vreg] != r.stamp && MeetsBand(v)) r.bandAt[vreg] = r.stamp;
  };
  if (r.lo == 0) {
    for (std::uint32_t v = 0; v < m.programValues; ++v)
      if (m.sequence[v] != kNoIndex) mark(v);
    return;
  }
  for (std::uint32_t k = r.lo - 1; k < r.count && k <= r.hi + 1; ++k) {
    const std::uint32_t id = IdOf(r, r.orderSeen[k]);
    for (std::uint32_t t = r.touchStart[id]; t < r.touchStart[id + 1]; ++t) mark(r.touches[t]);
  }
}

bool RegisterAllocatorContext::ClearOfBand(std::uint32_t vreg) const {
  return m_replay->bandAt[vreg] != m_replay->stamp;
}

// The placements of the run before that its widest pass made above the
// moved instructions, each clear of them, are the run's own: the walk up to
// them meets the same instructions in the same state. They are placed
// without a search, and the walk resumes at the last one's instruction
// (what the run before did there after it placed nothing).
HRESULT RegisterAllocatorContext::TakeOverPrefix(std::uint32_t* resume) {
  AssignReplay& r = *m_replay;
  const PodArray<AssignReplay::Step>& steps = r.steps[r.reference];
  const std::uint32_t above = r.lo < r.count ? r.hi + 1 : 0;  // positions after this one did not move
  std::uint32_t k = 0;
  for (; k < steps.Size(); ++k) {
    const AssignReplay::Step& step = steps[k];
    if (step.pass != 4 || step.position == kNoIndex || step.position <= above || step.position >= r.count ||
        step.bias != 0 || step.partner != kNoIndex || !ClearOfBand(step.vreg))
      break;
  }
  r.prefix = k;  // counted first, so that the difference stays empty: both runs place these alike
  for (std::uint32_t j = 0; j < k; ++j) {
    const AssignReplay::Step& step = steps[j];
    m.walkPosition = step.position;
    HRESULT hr = Place(step.vreg, step.reg, step.map);
    if (SUCCEEDED(hr)) hr = NotePlacement(step.value, step.vreg, step.bias, step.partner, step.reg, step.map, step.cost);
    if (FAILED(hr)) return hr;
    Rotate(step.reg);
  }
  if (k) *resume = steps[k - 1].position + 1;
  return S_OK;
}

bool RegisterAllocatorContext::AdoptPlacement(std::uint32_t value, std::uint32_t vreg, std::int32_t bias,
                                              std::uint32_t partner, std::uint32_t* reg, std::uint32_t map[4],
                                              std::uint32_t* cost) {
  AssignReplay& r = *m_replay;
  if (!r.replaying) return false;
  const std::uint32_t at = r.referenceStep[vreg];
  if (at == kNoIndex) return false;
  const AssignReplay::Step& step = r.steps[r.reference][at];
  if (step.value != value || step.bias != bias || step.partner != partner) return false;
  // With the same costs everywhere, the search takes the run before's
  // register as long as every register it tries first came before that one
  // there too: those all cost more. (Registers past the rotation window keep
  // their places.)
  const std::uint32_t* before =
      step.orderAt != kNoIndex ? r.orders[r.reference].Data() + step.orderAt : nullptr;
  if (before && step.reg < m.rotationWindow &&
      !std::equal(before, before + m.rotationWindow, m.order.get())) {
    bool earlier[kMaxRotationWindow] = {};
    if (m.rotationWindow > kMaxRotationWindow) return false;
    for (std::uint32_t k = 0; k < m.rotationWindow && before[k] != step.reg; ++k) earlier[before[k]] = true;
    for (std::uint32_t k = 0; k < m.rotationWindow && m.order[k] != step.reg; ++k)
      if (!earlier[m.order[k]]) return false;
  }

  if (!ClearOfBand(vreg)) return false;
  std::uint32_t lo, hi;
  RangeHull(vreg, false, &lo, &hi);

  // The difference from the run before at the point it placed this register.
  const PodArray<AssignReplay::Step>& steps = r.steps[r.reference];
  while (r.prefix < at) UpdateDifference(steps[r.prefix++].vreg);
  while (r.prefix > at) UpdateDifference(steps[--r.prefix].vreg);
  auto differs = [&](std::uint32_t w) { return w < m.virtualCount && r.differenceSlot[w] != kNoIndex; };
  for (const std::uint32_t of : {vreg, partner}) {
    if (of == kNoIndex) continue;
    for (std::uint32_t e = 0; e < m.overlapCount[of]; ++e)
      if (differs(m.overlapList[m.overlapStart[of] + e])) return false;
  }
  for (std::uint32_t c = 0; c < 4; ++c) {
    const std::uint32_t key = vreg * 4 + c;
    for (std::uint32_t e = 0; e < m.affinityCount[key]; ++e)
      if (differs(m.affinityList[m.affinityStart[key] + e] / 4)) return false;
  }
  // A register placed otherwise matters only where one of its values meets
  // one of this register's (as the ranges stand now, or as a moved value's
  // stood before), and then only in the physical registers it lies in now
  // and lay in then.
  r.affected.Clear();
  auto isAffected = [&](std::uint32_t reg) {
    return std::find(r.affected.Data(), r.affected.Data() + r.affected.Size(), reg) != r.affected.Data() + r.affected.Size();
  };
  auto affect = [&](std::uint32_t reg) {
    if (reg < m.limit && !isAffected(reg))
      r.affected.Append(reg);  // room for every register was made at the run's start
  };
  for (std::size_t k = 0; k < r.difference.Size(); ++k) {
    const std::uint32_t w = r.difference[k];
    if (r.hullBegin[w] >= hi || lo >= r.hullEnd[w]) continue;
    bool meets = false;
    for (std::uint32_t cw = 0; cw < 4 && !meets; ++cw) {
      const std::uint32_t u = m.valueAt[w * 4 + cw];
      if (u == kNoIndex) continue;
      const bool moved = r.touchedAt[u] == r.stamp;
      for (std::uint32_t c = 0; c < 4 && !meets; ++c) {
        const std::uint32_t v = m.valueAt[vreg * 4 + c];
        if (v == kNoIndex) continue;
        meets = Collide(u, v) || (moved && r.savedBegin[u] < m.end[v] && m.begin[v] < r.savedEnd[u]);
      }
    }
    if (!meets) continue;
    affect(m.physical[w]);
    const std::uint32_t then = r.referenceStep[w];
    if (then < at) affect(steps[then].reg);
  }
  // Elsewhere every cost is that of the run before, where the register
  // chosen cost least and came first among the cheapest. Measured again, the
  // chosen one may only have become cheaper, and the others tried before it
  // must still cost more, those after it no less.
  std::uint32_t chosenCost = step.cost, chosenMap[4] = {step.map[0], step.map[1], step.map[2], step.map[3]};
  if (isAffected(step.reg)) {
    chosenCost = PlacementCost(value, step.reg, bias, chosenMap, kImpossible);
    if (chosenCost > step.cost) return false;
  }
  std::uint32_t chosenAt = 0;
  while (chosenAt < m.limit && m.order[chosenAt] != step.reg) ++chosenAt;
  for (std::uint32_t i = 0; i < m.limit && !r.affected.Empty(); ++i) {
    const std::uint32_t other = m.order[i];
    if (other == step.reg || !isAffected(other)) continue;
    if (i > chosenAt && chosenCost == 0) break;  // the search stops at a placement that costs nothing
    if (NeighbourIn(vreg, other) || NeighbourIn(partner, other)) continue;
    std::uint32_t scratch[4];
    const std::uint32_t least = i < chosenAt ? chosenCost + 1 : chosenCost;
    if (PlacementCost(value, other, bias, scratch, least) < least) return false;
  }
  *reg = step.reg;
  std::copy(chosenMap, chosenMap + 4, map);
  *cost = chosenCost;
  return true;
}

HRESULT RegisterAllocatorContext::FinishRun(bool complete) {
  AssignReplay& r = *m_replay;
  r.replaying = false;
  if (!r.serves || !complete) {
    r.haveReference = false;
    return S_OK;
  }
  const ShaderProgram& p = *m.program;
  if (r.fullRun) {
    // Every place afresh: the ranges of the context are those of this order.
    if (p.instructions.Count() != r.count) {
      r.haveReference = false;
      return S_OK;
    }
    for (std::uint32_t k = 0; k < r.count; ++k) {
      const std::uint32_t id = IdOf(r, p.instructions[k]);
      if (id == kNoIndex) {
        r.haveReference = false;
        return S_OK;
      }
      r.position[id] = k;
      r.orderSeen[k] = p.instructions[k];
    }
    if (r.count) FillWalk(0, r.count - 1);
  }
  r.reference = 1 - r.reference;
  std::fill(r.referenceStep.get(), r.referenceStep.get() + m.virtualCount, kNoIndex);
  const PodArray<AssignReplay::Step>& steps = r.steps[r.reference];
  for (std::uint32_t k = 0; k < steps.Size(); ++k) r.referenceStep[steps[k].vreg] = k;
  r.haveReference = true;
  return S_OK;
}

HRESULT RegisterAllocatorContext::ReassignInPlace(bool* done) {
  AssignReplay& r = *m_replay;
  ShaderProgram& p = *m.program;
  *done = false;
  if (!r.serves || !r.haveReference || p.instructions.Count() != r.count || p.values.Count() != m.programValues)
    return S_OK;

  // The band: the positions whose instruction differs from the run before.
  r.lo = r.count;
  r.hi = 0;
  for (std::uint32_t k = 0; k < r.count; ++k) {
    if (p.instructions[k] == r.orderSeen[k]) continue;
    r.lo = std::min(r.lo, k);
    r.hi = k;
  }
  if (r.lo < r.count) {
    for (std::uint32_t k = r.lo; k <= r.hi; ++k)
      if (IdOf(r, p.instructions[k]) == kNoIndex) return S_OK;  // not the instructions the tables hold
  }
  if (++r.stamp == 0) {
    std::fill(r.touchedAt.get(), r.touchedAt.get() + m.programValues, 0u);
    std::fill(r.bandAt.get(), r.bandAt.get() + m.virtualCount, 0u);
    r.stamp = 1;
  }
  if (!r.difference.Reserve(m.virtualCount) || !r.affected.Reserve(m.limit)) return E_OUTOFMEMORY;
  *done = true;

  // The values the moved instructions touch: their ranges before, and now.
  for (std::uint32_t k = r.lo; k < r.count && k <= r.hi; ++k) {
    const std::uint32_t id = IdOf(r, p.instructions[k]);
    r.position[id] = k;
    r.orderSeen[k] = p.instructions[k];
  }
  if (r.lo < r.count) FillWalk(r.lo, r.hi);
  for (std::uint32_t k = r.lo; k < r.count && k <= r.hi; ++k) {
    const std::uint32_t id = IdOf(r, p.instructions[k]);
    for (std::uint32_t t = r.touchStart[id]; t < r.touchStart[id + 1]; ++t) {
      const std::uint32_t v = r.touches[t];
      if (r.touchedAt[v] == r.stamp) continue;
      r.touchedAt[v] = r.stamp;
      r.savedBegin[v] = m.begin[v];
      r.savedEnd[v] = m.end[v];
      RecomputeRange(v);
    }
  }
  MarkBand();
  // The use analysis a full run rebuilds is charged alike.
  HRESULT hr = p.ChargeWork(std::uint64_t{p.instructions.Count()} + p.values.Count());
  if (FAILED(hr)) {
    r.haveReference = false;  // the ranges are of this order, the placements of none
    return hr;
  }

  m.flags &= kNoRotationCostFlag;
  p.allocator = this;
  r.steps[1 - r.reference].Clear();
  r.orders[1 - r.reference].Clear();
  for (std::size_t k = 0; k < r.difference.Size(); ++k) r.differenceSlot[r.difference[k]] = kNoIndex;
  r.difference.Clear();
  r.prefix = 0;
  r.fullRun = false;
  r.replaying = true;
  hr = PlaceAll();
  const HRESULT finished = FinishRun(hr != E_OUTOFMEMORY);
  return SUCCEEDED(hr) ? finished : hr;
}

HRESULT RegisterAllocatorContext::Reassign() {
  if (m_replay) {
    m_replay->reused = false;
    bool done = false;
    const HRESULT hr = ReassignInPlace(&done);
    if (done) {
      m_replay->reused = hr != E_OUTOFMEMORY;
      return hr;
    }
    if (FAILED(hr)) return hr;
  }
  return Assign(false);
}

}  // namespace gxl::shader

#include "gxl/shader/backend/alloc/register_assignment.h"

#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/alloc/assign_replay.h"
#include "gxl/shader/backend/alloc/guards.h"
#include "gxl/shader/backend/ir/work_rates.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kNoRotationCost = 1, kCommit = 2;
// More virtual or physical registers than this is no program a source can
// describe; refusing them keeps a hostile register number from sizing the arrays.
constexpr std::uint32_t kMaxRegisters = 1u << 24;

constexpr std::uint32_t kValueKeepsComponent = 0x80000000u;
constexpr std::uint32_t kCapsKeepVectorComponents = 0x2;
constexpr std::uint32_t kCapsKeepScalarComponents = 0x4;
constexpr std::uint32_t kCapsNoRotationCost = 0x40000000;
constexpr std::uint32_t kCapsNoOverlapAnywhere = 0x80000000u;
constexpr std::uint32_t kSecondParityBias = 0x1;
constexpr std::uint32_t kSecondNaturalDotOrder = 0x2;

bool ClosesBlock(std::uint32_t group) { return group == kOpIfMerge || group == kOpBreakMerge || group == kOpLoopEnd; }

std::unique_ptr<std::uint32_t[]> Filled(std::size_t n, std::uint32_t value) {
  auto a = opt::NewArray<std::uint32_t>(n);
  if (a) std::fill(a.get(), a.get() + n, value);
  return a;
}

}  // namespace

RegisterAllocatorContext::RegisterAllocatorContext() = default;
RegisterAllocatorContext::~RegisterAllocatorContext() { Release(); }

HRESULT RegisterAllocatorContext::Release() {
  if (m.program && m.program->allocator == this) m.program->allocator = nullptr;
  m = State{};
  m_loops.Reset();
  m_replay.reset();
  return S_OK;
}

bool RegisterAllocatorContext::InBank(std::uint32_t value) const {
  const IrValue* v = m.program->values[value];
  return v && v->bank == m.bank;
}

std::uint32_t RegisterAllocatorContext::VirtualRegister(std::uint32_t value) const {
  const IrValue* v = m.program->values[value];
  return v && v->bank == m.bank && v->reg < m.virtualCount && v->component < 4 ? v->reg : kNoIndex;
}

std::uint32_t RegisterAllocatorContext::CopySource(std::uint32_t value) const {
  const ShaderProgram& p = *m.program;
  value = p.ResolveAlias(value);
  if (!(alloc::BankTypeOf(p, value) & kBankLoopEntry)) return value;
  const IrInstruction* definer = p.instructions[p.values[value]->definingPosition];
  const std::uint32_t slot = definer ? opt::ResultSlot(*definer, value) : kNoIndex;
  return slot < definer->argumentCount ? p.ResolveAlias(definer->arguments[slot]) : kNoIndex;
}

std::uint32_t RegisterAllocatorContext::PhysicalRegister(std::uint32_t value) const {
  const std::uint32_t vreg = m.physical ? VirtualRegister(value) : kNoIndex;
  return vreg == kNoIndex ? kNoIndex : m.physical[vreg];
}

std::uint32_t RegisterAllocatorContext::PhysicalComponent(std::uint32_t value) const {
  const std::uint32_t vreg = m.physical ? VirtualRegister(value) : kNoIndex;
  return vreg == kNoIndex ? kNoIndex : m.physicalComponent[vreg * 4 + m.program->values[value]->component];
}

void RegisterAllocatorContext::RecordUse(std::uint32_t value, std::uint32_t position, const IrInstruction& at) {
  ++m.probes;
  const ShaderProgram& p = *m.program;
  for (std::uint32_t steps = 0; value != kNoIndex && steps <= m.programValues; ++steps) {
    value = p.ResolveAlias(value);
    const IrValue* v = p.values[value];
    if (!v) return;
    const std::uint32_t sequence = value < m.programValues ? m.sequence[value] : kNoIndex;
    if (sequence != kNoIndex) {
      Record record{position, kNoIndex, 1};
      if (ClosesBlock(at.Group())) {
        record.predicate = v->predicate;
        record.sense = v->predicateSense;
      } else if (const IrValue* first = at.resultCount ? p.values[at.results[0]] : nullptr) {
        record.predicate = first->predicate;
        record.sense = first->predicateSense;
      }
      // A use inside a loop the value was defined outside of holds it to the
      // loop's end: the outermost such loop decides.
      std::uint32_t guard = record.predicate, sense = record.sense;
      for (std::uint32_t up = 0; guard != v->predicate && guard != kNoIndex && up <= m.programValues; ++up) {
        const IrValue* g = p.values[guard];
        if (!g) break;
        if (alloc::BankTypeOf(p, guard) & kBankLoop) {
          record = Record{g->lastUse, guard, sense};
          if (m.filling) m.end[value] = std::max(m.end[value], g->lastUse);
        }
        sense = g->predicateSense;
        guard = g->predicate;
      }
      if (m.filling) {
        // Code outside a loop may stand inside its run of instructions (the
        // first phase leaves such orders, and they stay without
        // optimisation); it runs on every iteration too.
        for (std::size_t k = 0; k < m_loops.Size(); ++k) {
          const LoopExtent& loop = m_loops[k];
          if (loop.begin > m.begin[value] && loop.begin < position && position <= loop.end &&
              loop.end > record.position)
            record = Record{loop.end, loop.value, 1};
        }
        m.end[value] = std::max(m.end[value], record.position);
      }
      if (!m.filling) {
        ++m.recordCount[sequence];
      } else if (m.recordFilled[sequence] < m.recordCount[sequence]) {
        const std::uint32_t slot = m.recordStart[sequence] + m.recordFilled[sequence]++;
        m.records[slot] = record;
        m.recordOrder[slot] = slot;
      }
    }
    value = v->relativeIndex;
  }
}

void RegisterAllocatorContext::RecordDefinition(std::uint32_t value, std::uint32_t position, const IrInstruction& at) {
  const IrValue* v = m.program->values[value];
  if (!v) return;
  if (v->predicate != kNoIndex) RecordUse(v->predicate, position, at);
  // A register written through an address reads the address.
  if (v->relativeIndex != kNoIndex) RecordUse(v->relativeIndex, position, at);
}

HRESULT RegisterAllocatorContext::BuildEdges(bool fill) {
  const ShaderProgram& p = *m.program;
  const bool overlapAnywhere = p.profileLimits.capabilities & kCapsNoOverlapAnywhere;
  auto key = [&](std::uint32_t value) { return VirtualRegister(value) * 4 + p.values[value]->component; };
  auto affinity = [&](std::uint32_t from, std::uint32_t to) {
    if (fill) m.affinityList[m.affinityStart[from] + m.affinityCount[from]] = to;
    ++m.affinityCount[from];
  };
  auto overlap = [&](std::uint32_t from, std::uint32_t to) {
    if (fill) m.overlapList[m.overlapStart[from] + m.overlapCount[from]] = to;
    ++m.overlapCount[from];
  };
  for (std::uint32_t position = 0; position < p.instructions.Count(); ++position) {
    const IrInstruction* inst = p.instructions[position];
    if (alloc::IsEmpty(inst) || inst->resultCount == 0 || VirtualRegister(inst->results[0]) == kNoIndex) continue;
    const std::uint32_t width = inst->Width();
    std::uint32_t* group;
    if (InOperationSet4(inst->word)) {
      for (std::uint32_t g = 0, w; (w = inst->ArgumentGroup(g, &group)) != 0; ++g) {
        std::uint32_t sources[4];
        if (w > 4) continue;
        const bool copies = alloc::BankTypeOf(p, p.ResolveAlias(group[0])) & kBankLoopEntry;
        bool distinct = true;
        for (std::uint32_t k = 0; k < w; ++k) {
          sources[k] = copies ? CopySource(group[k]) : p.ResolveAlias(group[k]);
          if (VirtualRegister(sources[k]) == kNoIndex) distinct = false;
          for (std::uint32_t j = 0; j < k && distinct; ++j)
            distinct = p.values[sources[j]]->component != p.values[sources[k]]->component;
        }
        if (!distinct) continue;
        for (std::uint32_t k = 0; k < w && k < inst->resultCount; ++k) {
          const std::uint32_t d = inst->results[k];
          if (VirtualRegister(d) == kNoIndex || p.values[d]->binding != 0 || key(d) == key(sources[k])) continue;
          affinity(key(d), key(sources[k]));
          affinity(key(sources[k]), key(d));
        }
      }
    }
    if (overlapAnywhere || InOperationSet5(inst->word)) {
      const std::uint32_t result = VirtualRegister(inst->results[0]);
      for (std::uint32_t g = 0; inst->ArgumentGroup(g, &group) != 0; ++g) {
        const std::uint32_t other = VirtualRegister(p.ResolveAlias(group[0]));
        if (other == kNoIndex || other == result) continue;
        overlap(result, other);
        overlap(other, result);
      }
    }
    (void)width;
  }
  return S_OK;
}

HRESULT RegisterAllocatorContext::Build(ShaderProgram& program, std::uint32_t bank, std::uint32_t limit,
                                        bool usesStand) {
  Release();
  m.program = &program;
  HRESULT hr = S_OK;
  if (!usesStand || program.referenceSearches) {
    if (FAILED(hr = program.RebuildDefUse())) return hr;
    alloc::ExtendGuardRanges(program);
  }
  m.usesFresh = true;
  m.bank = bank;
  m.limit = limit;
  m.flags = program.profileLimits.capabilities & kCapsNoRotationCost ? kNoRotationCost : 0;
  m.programValues = program.values.Count();
  if (limit > kMaxRegisters) return E_OUTOFMEMORY;

  m.sequence = Filled(m.programValues, kNoIndex);
  if (!m.sequence) return E_OUTOFMEMORY;
  std::uint32_t highest = 0;
  for (std::uint32_t i = 0; i < m.programValues; ++i) {
    const IrValue* v = program.values[i];
    if (!v || v->bank != bank || v->alias != kNoIndex) continue;
    // An unassigned register (kNoIndex) counts as no register at all.
    if (v->reg != kNoIndex) highest = std::max(highest, std::min(v->reg, kMaxRegisters) + 1);
    m.sequence[i] = m.valueCount++;
  }
  if (highest > kMaxRegisters) return E_OUTOFMEMORY;
  m.virtualCount = highest;

  const std::size_t n = m.virtualCount, components = 4 * n;
  m.used = opt::NewArray<std::uint32_t>(n);
  m.partnerWidth = opt::NewArray<std::uint32_t>(n);
  m.physical = opt::NewArray<std::uint32_t>(n);
  m.physicalComponent = opt::NewArray<std::uint32_t>(components);
  m.valueAt = opt::NewArray<std::uint32_t>(components);
  m.affinityCount = opt::NewArray<std::uint32_t>(components);
  m.affinityStart = opt::NewArray<std::uint32_t>(components);
  m.overlapCount = opt::NewArray<std::uint32_t>(n);
  m.overlapStart = opt::NewArray<std::uint32_t>(n);
  m.keepComponents = opt::NewArray<std::uint8_t>(n);
  m.placed = std::unique_ptr<PodArray<Placed>[]>(new (std::nothrow) PodArray<Placed>[4 * std::size_t{limit} + 1]);
  m.order = opt::NewArray<std::uint32_t>(limit);
  m.begin = opt::NewArray<std::uint32_t>(m.programValues);
  m.end = opt::NewArray<std::uint32_t>(m.programValues);
  m.definer = opt::NewArray<const IrInstruction*>(m.programValues);
  m.readAs = opt::NewArray<std::uint32_t>(m.programValues);
  m.ownRegister = opt::NewArray<std::uint32_t>(m.programValues);
  m.read = opt::NewArray<std::uint8_t>(m.virtualCount);
  m.slotNext = opt::NewArray<std::uint32_t>(m.programValues);
  m.recordCount = opt::NewArray<std::uint32_t>(m.valueCount);
  m.recordStart = opt::NewArray<std::uint32_t>(m.valueCount);
  m.recordFilled = opt::NewArray<std::uint32_t>(m.valueCount);
  m.recordKept = opt::NewArray<std::uint32_t>(m.valueCount);
  if (!m.used || !m.partnerWidth || !m.physical || !m.physicalComponent || !m.valueAt || !m.affinityCount ||
      !m.affinityStart || !m.overlapCount || !m.overlapStart || !m.keepComponents || !m.placed || !m.order ||
      !m.begin || !m.end || !m.definer || !m.readAs || !m.ownRegister || !m.read || !m.slotNext || !m.recordCount || !m.recordStart || !m.recordFilled || !m.recordKept)
    return E_OUTOFMEMORY;
  std::fill(m.readAs.get(), m.readAs.get() + m.programValues, kNoIndex);  // no quick exit before Assign

  // Edges: counted, then filled behind their starts.
  BuildEdges(false);
  std::uint64_t affinities = 0, overlaps = 0;
  for (std::size_t k = 0; k < components; ++k) {
    m.affinityStart[k] = static_cast<std::uint32_t>(affinities);
    affinities += m.affinityCount[k];
    m.affinityCount[k] = 0;
  }
  for (std::size_t k = 0; k < n; ++k) {
    m.overlapStart[k] = static_cast<std::uint32_t>(overlaps);
    overlaps += m.overlapCount[k];
    m.overlapCount[k] = 0;
  }
  if (affinities >= kNoIndex || overlaps >= kNoIndex) return E_OUTOFMEMORY;
  m.affinityList = opt::NewArray<std::uint32_t>(affinities);
  m.overlapList = opt::NewArray<std::uint32_t>(overlaps);
  if (!m.affinityList || !m.overlapList) return E_OUTOFMEMORY;
  BuildEdges(true);

  // Use records: counted here, filled by each assignment.
  m.filling = false;
  for (std::uint32_t position = 0; position < program.instructions.Count(); ++position) {
    const IrInstruction* inst = program.instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) RecordDefinition(inst->results[r], position, *inst);
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) RecordUse(inst->arguments[a], position, *inst);
    if (InOperationSet1(inst->word))
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) RecordUse(inst->results[r], position, *inst);
  }
  std::uint64_t total = 0;
  for (std::uint32_t s = 0; s < m.valueCount; ++s) {
    m.recordStart[s] = static_cast<std::uint32_t>(total);
    total += m.recordCount[s];
  }
  if (total >= kNoIndex) return E_OUTOFMEMORY;
  m.totalRecords = static_cast<std::uint32_t>(total);
  m.records = std::unique_ptr<Record[]>(new (std::nothrow) Record[total ? total : 1]);
  m.recordOrder = opt::NewArray<std::uint32_t>(total);
  if (!m.records || !m.recordOrder) return E_OUTOFMEMORY;
  return S_OK;
}

bool RegisterAllocatorContext::Collide(std::uint32_t a, std::uint32_t b) const {
  ++m.probes;
  if (m.begin[a] >= m.end[b] || m.begin[b] >= m.end[a]) return false;  // one ends before the other begins
  // Both are live at once somewhere: they collide unless every use of the
  // earlier one after the later one's definition lies in an exclusive arm.
  // On equal definitions both ways are checked.
  const ShaderProgram& p = *m.program;
  auto usedAcross = [&](std::uint32_t early, std::uint32_t late) {
    const IrValue& v = *p.values[late];
    const std::uint32_t sequence = m.sequence[early];
    const std::uint32_t* order = m.recordOrder.get() + m.recordStart[sequence];
    for (std::uint32_t r = 0; r < m.recordKept[sequence]; ++r) {
      const Record& record = m.records[order[r]];
      if (record.position <= m.begin[late]) break;
      if (!p.ArmsExclusive(v.predicate, v.predicateSense, record.predicate, record.sense)) return true;
    }
    return false;
  };
  return (m.begin[a] <= m.begin[b] && usedAcross(a, b)) || (m.begin[b] <= m.begin[a] && usedAcross(b, a));
}

std::uint32_t RegisterAllocatorContext::FindConflict(std::uint32_t value, std::uint32_t reg,
                                                     std::uint32_t component) const {
  const PodArray<Placed>& list = m.placed[reg * 4 + component];
  // Only values that begin before v ends can collide with it; of those, going
  // on to earlier beginnings, none after the first whose reach ends by v's
  // beginning can.
  for (std::size_t k = std::partition_point(list.Data(), list.Data() + list.Size(),
                                            [&](const Placed& u) { return u.begin >= m.end[value]; }) -
                       list.Data();
       k < list.Size(); ++k) {
    const Placed& u = list[k];
    if (u.reach <= m.begin[value]) break;
    if (Collide(u.value, value)) return u.value;
  }
  return kNoIndex;
}

bool RegisterAllocatorContext::SlotCollides(std::uint32_t first, std::uint32_t reg, std::uint32_t component) const {
  for (std::uint32_t v = first; v != kNoIndex; v = m.slotNext[v])
    if (FindConflict(v, reg, component) != kNoIndex) return true;
  return false;
}

bool RegisterAllocatorContext::KeepsComponents(std::uint32_t vreg) const {
  // As PlacementCost decides for whichever of its values comes first.
  const ShaderProgram& p = *m.program;
  const std::uint32_t used = m.used[vreg], caps = p.profileLimits.capabilities;
  if (m.keepComponents[vreg] || (used == 1 && (caps & kCapsKeepScalarComponents)) ||
      (used >= 2 && (caps & kCapsKeepVectorComponents)))
    return true;
  for (std::uint32_t c = 0; c < 4; ++c)
    for (std::uint32_t value = m.valueAt[vreg * 4 + c]; value != kNoIndex; value = m.slotNext[value]) {
      const IrInstruction* definer = p.instructions[p.values[value]->definingPosition];
      if (definer && InOperationSet1(definer->word)) return true;
    }
  return false;
}

std::uint32_t RegisterAllocatorContext::PlacementCost(std::uint32_t value, std::uint32_t reg, std::int32_t bias,
                                                      std::uint32_t map[4], std::uint32_t bound) const {
  ++m.probes;
  const ShaderProgram& p = *m.program;
  const std::uint32_t vreg = p.values[value]->reg;
  const std::uint32_t used = m.used[vreg];
  const std::uint32_t caps = p.profileLimits.capabilities;
  const IrInstruction* definer = m.definer[value];
  const bool fixed = m.keepComponents[vreg] || (used == 1 && (caps & kCapsKeepScalarComponents)) ||
                     (used >= 2 && (caps & kCapsKeepVectorComponents)) || (definer && InOperationSet1(definer->word));
  const std::uint32_t width = fixed ? 1 : 4;
  std::uint32_t chosen[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  bool taken[4] = {false, false, false, false};

  // Components whose copy partners lie in this register take their places.
  std::uint32_t unmatched = 4;
  for (std::uint32_t c = 0; c < 4; ++c) {
    const std::uint32_t key = vreg * 4 + c, at = m.valueAt[key];
    if (at == kNoIndex || m.affinityCount[key] == 0) {
      --unmatched;
      continue;
    }
    bool partnerPlaced = false;
    for (std::uint32_t e = 0; e < m.affinityCount[key]; ++e) {
      const std::uint32_t partner = m.affinityList[m.affinityStart[key] + e];
      if (m.physical[partner / 4] == kNoIndex) continue;
      partnerPlaced = true;
      const std::uint32_t pc = m.physicalComponent[partner];
      if (m.physical[partner / 4] != reg || pc >= 4 || taken[pc] || (width != 4 && pc != c) ||
          SlotCollides(at, reg, pc))
        continue;
      chosen[c] = pc;
      taken[pc] = true;
      break;
    }
    // A component whose partners are all still to be placed misses nothing.
    if (chosen[c] != kNoIndex || !partnerPlaced) --unmatched;
  }
  std::uint32_t cost = unmatched << 29;
  if (cost >= bound) return cost;
  if ((bias > 0 && reg % 2 == 0) || (bias < 0 && reg % 2 == 1)) cost |= 1u << 28;
  if (cost >= bound) return cost;

  // The others where they fit, nearest their own component first; a lone
  // component tries w first, unless it keeps its place.
  const bool reversed =
      used == 1 && width == 4 &&
      !((p.profileLimits.secondFlags & kSecondNaturalDotOrder) && definer && definer->IsDot() && definer->Width() < 4);
  for (std::uint32_t c = 0; c < 4; ++c) {
    const std::uint32_t at = m.valueAt[vreg * 4 + c];
    if (at == kNoIndex || chosen[c] != kNoIndex) continue;
    std::uint32_t t = 0;
    for (; t < width; ++t) {
      std::uint32_t pc = (c + t) & 3;
      if (reversed) pc = 3 - pc;
      if (taken[pc] || SlotCollides(at, reg, pc)) continue;
      chosen[c] = pc;
      taken[pc] = true;
      break;
    }
    if (t == width) return kImpossible;
    if (!((m.flags & kNoRotationCost) && used <= 1)) {
      cost += t << 24;
      if (cost >= bound) return cost;
    }
  }
  std::copy(chosen, chosen + 4, map);
  return cost;
}

HRESULT RegisterAllocatorContext::Place(std::uint32_t vreg, std::uint32_t reg, const std::uint32_t map[4]) {
  m.physical[vreg] = reg;
  if (m.read[vreg])
    for (std::uint32_t t = 1; t <= PlacementWidth(vreg); ++t) --m.waiting[t];
  for (std::uint32_t c = 0; c < 4; ++c) {
    const std::uint32_t first = m.valueAt[vreg * 4 + c];
    if (first == kNoIndex) continue;
    m.physicalComponent[vreg * 4 + c] = map[c];
    PodArray<Placed>& list = m.placed[reg * 4 + map[c]];
    for (std::uint32_t value = first; value != kNoIndex; value = m.slotNext[value]) {
      Placed entry{m.begin[value], m.end[value], value, m.end[value]};
      if (!list.Append(entry)) return E_OUTOFMEMORY;
      // Into its place by definition, latest first: the walk places values
      // from the end of the program, so that is mostly the back. Its reach
      // takes those behind it; the reaches before it take its end, up to
      // the first that reaches as far.
      std::size_t k = list.Size() - 1;
      for (; k > 0 && list[k - 1].begin < entry.begin; --k) list[k] = list[k - 1];
      if (k + 1 < list.Size()) entry.reach = std::max(entry.end, list[k + 1].reach);
      list[k] = entry;
      while (k-- > 0 && list[k].reach < entry.end) list[k].reach = entry.end;
    }
  }
  return S_OK;
}

HRESULT RegisterAllocatorContext::Fail() {
  if (m.flags & kCommit) m.program->ReportUnfitRegisters(m.current ? m.current->sourcePosition : nullptr);
  return E_FAIL;
}

bool RegisterAllocatorContext::NeighbourIn(std::uint32_t of, std::uint32_t reg) const {
  if (of == kNoIndex) return false;
  for (std::uint32_t e = 0; e < m.overlapCount[of]; ++e)
    if (m.physical[m.overlapList[m.overlapStart[of] + e]] == reg) return true;
  return false;
}

HRESULT RegisterAllocatorContext::AssignValue(std::uint32_t value, std::int32_t bias, std::uint32_t partner) {
  const ShaderProgram& p = *m.program;
  if (Settled(value)) return S_OK;
  for (std::uint32_t steps = 0; value != kNoIndex && steps <= m.programValues; ++steps) {
    value = p.ResolveAlias(value);
    const IrValue* v = p.values[value];
    if (!v) return S_OK;
    const std::uint32_t vreg = VirtualRegister(value);
    if (vreg != kNoIndex && m.physical[vreg] == kNoIndex &&
        (m.used[vreg] >= m.threshold || m.partnerWidth[vreg] >= m.threshold)) {
      if (m.limit == 0) return Fail();
      const std::uint32_t partnerRegister = partner == kNoIndex ? kNoIndex : VirtualRegister(p.ResolveAlias(partner));
      std::uint32_t best = kImpossible, bestRegister = kNoIndex, bestMap[4], map[4];
      if (!m_replay || !AdoptPlacement(value, vreg, bias, partnerRegister, &bestRegister, bestMap, &best)) {
        for (std::uint32_t i = 0; i < m.limit; ++i) {
          const std::uint32_t reg = m.order[i];
          if (NeighbourIn(vreg, reg) || NeighbourIn(partnerRegister, reg)) continue;
          const std::uint32_t cost = PlacementCost(value, reg, bias, map, best);
          if (cost < best) {
            best = cost;
            bestRegister = reg;
            std::copy(map, map + 4, bestMap);
          }
          if (cost == 0) break;
        }
        if (best == kImpossible) return Fail();
      }
      const HRESULT placed = Place(vreg, bestRegister, bestMap);
      if (FAILED(placed)) return placed;
      if (m_replay) {
        const HRESULT noted = NotePlacement(value, vreg, bias, partnerRegister, bestRegister, bestMap, best);
        if (FAILED(noted)) return noted;
      }
      Rotate(bestRegister);
    }
    // Then the address the value is read through; it takes no bias or partner.
    value = v->relativeIndex;
    bias = 0;
    partner = kNoIndex;
  }
  return S_OK;
}

void RegisterAllocatorContext::Rotate(std::uint32_t reg) {
  // Without optimisation the low registers are used in turn: the one just
  // taken goes to the back of the window.
  if ((m.program->options & kOptionNoOptimisation) && reg < m.rotationWindow) {
    std::uint32_t* window = m.order.get();
    std::uint32_t* at = std::find(window, window + m.rotationWindow, reg);
    if (at != window + m.rotationWindow) std::rotate(at, at + 1, window + m.rotationWindow);
  }
}

HRESULT RegisterAllocatorContext::AssignParent(std::uint32_t value) {
  const IrValue* v = m.program->values[value];
  return v && v->predicate != kNoIndex ? AssignValue(v->predicate, 0, kNoIndex) : S_OK;
}

HRESULT RegisterAllocatorContext::Assign(bool commit) {
  ShaderProgram& p = *m.program;
  if (!m.physical) return E_FAIL;  // not built
  if (m_replay) m_replay->haveReference = false;  // its ranges are overwritten here
  m.flags = (m.flags & kNoRotationCost) | (commit ? kCommit : 0);
  p.allocator = this;
  // Right after Build the program is as Build analysed it: the analysis is
  // rebuilt only for a program changed since (the reference path always).
  if (!m.usesFresh || p.referenceSearches) {
    HRESULT hr = p.RebuildDefUse();
    if (FAILED(hr)) return hr;
    alloc::ExtendGuardRanges(p);
  }
  m.usesFresh = false;
  HRESULT hr = S_OK;
  if (p.values.Count() != m.programValues) return E_FAIL;  // values came or went since Build

  // Live ranges: at least the position after the definition.
  for (std::uint32_t i = 0; i < m.programValues; ++i) {
    if (m.sequence[i] == kNoIndex) continue;
    const IrValue& v = *p.values[i];
    m.begin[i] = v.definingPosition == kNoIndex ? 0 : v.definingPosition;
    m.end[i] = std::max(v.lastUse, m.begin[i] + 1);
    m.definer[i] = v.definingPosition < p.instructions.Count() ? p.instructions[v.definingPosition] : nullptr;
  }
  m.unguarded = true;
  bool direct = true;  // no value is read through an index
  for (std::uint32_t i = 0; i < m.programValues; ++i) {
    if (p.values[i] && p.values[i]->predicate != kNoIndex) m.unguarded = false;
    if (p.values[i] && p.values[i]->relativeIndex != kNoIndex) direct = false;
    const std::uint32_t resolved = p.values[i] ? p.ResolveAlias(i) : kNoIndex;
    const IrValue* v = resolved == kNoIndex ? nullptr : p.values[resolved];
    m.ownRegister[i] = m.sequence[i] == kNoIndex ? kNoIndex : VirtualRegister(i);
    m.readAs[i] = !v                               ? kNoIndex - 1
                  : v->relativeIndex != kNoIndex   ? kNoIndex
                  : VirtualRegister(resolved) == kNoIndex ? kNoIndex - 1
                                                         : VirtualRegister(resolved);
  }
  const std::size_t n = m.virtualCount;
  // The registers the walk reaches through reads, when nothing else places them.
  m.countWaiting = m.unguarded && direct;
  std::fill(m.read.get(), m.read.get() + n, std::uint8_t{0});
  m.loopMerges = false;
  for (std::uint32_t position = 0; position < p.instructions.Count(); ++position) {
    const IrInstruction* inst = p.instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    m.loopMerges = m.loopMerges || inst->IsLoopMerge();
    if (!m.countWaiting) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const std::uint32_t value = inst->arguments[a];
      const std::uint32_t vreg = value < m.programValues ? m.readAs[value] : kNoIndex;
      if (vreg < m.virtualCount) m.read[vreg] = 1;
    }
  }
  std::fill(m.physical.get(), m.physical.get() + n, kNoIndex);
  std::fill(m.physicalComponent.get(), m.physicalComponent.get() + 4 * n, kNoIndex);
  std::fill(m.valueAt.get(), m.valueAt.get() + 4 * n, kNoIndex);
  std::fill(m.used.get(), m.used.get() + n, 0u);
  std::fill(m.partnerWidth.get(), m.partnerWidth.get() + n, 0u);
  std::fill(m.keepComponents.get(), m.keepComponents.get() + n, std::uint8_t{0});
  std::fill(m.slotNext.get(), m.slotNext.get() + m.programValues, kNoIndex);
  // A register built up in place holds several values in one component;
  // they go where it goes, each one checked.
  for (std::uint32_t i = m.programValues; i-- > 0;) {
    const std::uint32_t vreg = m.sequence[i] == kNoIndex ? kNoIndex : VirtualRegister(i);
    if (vreg == kNoIndex) continue;
    std::uint32_t& slot = m.valueAt[vreg * 4 + p.values[i]->component];
    if (slot == kNoIndex) ++m.used[vreg];
    m.slotNext[i] = slot;
    slot = i;
    // nrm takes its length from x, y and z: its vector stays where it lies.
    const std::uint32_t d = p.values[i]->definingPosition;
    const IrInstruction* definer = d != kNoIndex && d < p.instructions.Count() ? p.instructions[d] : nullptr;
    if ((p.values[i]->flags & kValueKeepsComponent) || (definer && definer->Group() == kOpNormalize))
      m.keepComponents[vreg] = 1;
  }

  // Partner widths of copies.
  for (std::uint32_t position = 0; position < p.instructions.Count(); ++position) {
    const IrInstruction* inst = p.instructions[position];
    if (alloc::IsEmpty(inst) || !InOperationSet4(inst->word) || inst->resultCount == 0) continue;
    const std::uint32_t d = VirtualRegister(inst->results[0]);
    if (d == kNoIndex) continue;
    std::uint32_t* group;
    for (std::uint32_t g = 0; inst->ArgumentGroup(g, &group) != 0; ++g) {
      const std::uint32_t s = VirtualRegister(CopySource(group[0]));
      if (s == kNoIndex) continue;
      m.partnerWidth[s] = std::max(m.partnerWidth[s], m.used[d]);
      m.partnerWidth[d] = std::max(m.partnerWidth[d], m.used[s]);
    }
  }

  // The loops, from their opening instruction to the last they guard.
  m_loops.Clear();
  for (std::uint32_t position = 0; position < p.instructions.Count(); ++position) {
    const IrInstruction* inst = p.instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if ((alloc::BankTypeOf(p, inst->results[r]) & kBankLoop) &&
          !m_loops.Append(
              LoopExtent{position, std::max(position, p.values[inst->results[r]]->lastUse), inst->results[r]}))
        return E_OUTOFMEMORY;
  }

  // Use records: filled, then per value the latest of each arm, latest first.
  m.filling = true;
  std::fill(m.recordFilled.get(), m.recordFilled.get() + m.valueCount, 0u);
  for (std::uint32_t position = 0; position < p.instructions.Count(); ++position) {
    const IrInstruction* inst = p.instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) RecordDefinition(inst->results[r], position, *inst);
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) RecordUse(inst->arguments[a], position, *inst);
    if (InOperationSet1(inst->word))
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) RecordUse(inst->results[r], position, *inst);
  }
  m.filling = false;
  for (std::uint32_t s = 0; s < m.valueCount; ++s) KeepLatestRecords(s);

  // The values of one virtual component go to one physical component: a
  // register built up in place must not be read after it was written over.
  for (std::size_t key = 0; key < 4 * n; ++key) {
    for (std::uint32_t a = m.valueAt[key]; a != kNoIndex; a = m.slotNext[a]) {
      for (std::uint32_t b = m.slotNext[a]; b != kNoIndex; b = m.slotNext[b]) {
        if (!Collide(a, b)) continue;
        m.current = p.instructions[p.values[b]->definingPosition];
        return Fail();
      }
    }
  }

  if (m_replay && FAILED(hr = PrepareReplays())) return hr;
  hr = PlaceAll();
  if (m_replay) {
    const HRESULT finished = FinishRun(hr != E_OUTOFMEMORY);
    if (FAILED(finished) && SUCCEEDED(hr)) hr = finished;
  }
  if (FAILED(hr)) return hr;

  if (commit) {
    for (std::uint32_t i = 0; i < m.programValues; ++i) {
      IrValue* v = p.values[i];
      const std::uint32_t vreg = VirtualRegister(i);
      if (vreg == kNoIndex || m.physical[vreg] == kNoIndex) continue;
      const std::uint32_t component = m.physicalComponent[vreg * 4 + v->component];
      if (component == kNoIndex) continue;
      v->reg = m.physical[vreg];
      v->component = component;
    }
    if (RegisterBank* bank = p.banks[m.bank]) bank->registerCount = kNoIndex;
  }
  return S_OK;
}

void RegisterAllocatorContext::KeepLatestRecords(std::uint32_t s) {
  const void* records = m.records.get();
  std::uint32_t* order = m.recordOrder.get() + m.recordStart[s];
  std::uint32_t count = m.recordFilled[s];
  if (count > 1) {
    SortIndicesByComparator(CompareAllocationEntries, order, count, records);
    std::uint32_t kept = 1;
    for (std::uint32_t k = 1; k < count; ++k)
      if (CompareAllocationRecords(order[k], order[kept - 1], records) != 0) order[kept++] = order[k];
    count = kept;
    SortIndicesByComparator(CompareAllocationKeys, order, count, records);
  }
  m.recordKept[s] = count;
}

HRESULT RegisterAllocatorContext::PlaceAll() {
  const HRESULT hr = PlaceAllSteps();
  const std::uint64_t probes = m.probes;
  m.probes = 0;
  const HRESULT charged = m.program->ChargeWork(probes * workrate::kAllocationProbe);
  return FAILED(hr) ? hr : FAILED(charged) ? charged : hr;
}

HRESULT RegisterAllocatorContext::PlaceAllSteps() {
  ShaderProgram& p = *m.program;
  HRESULT hr = S_OK;
  std::fill(m.physical.get(), m.physical.get() + m.virtualCount, kNoIndex);
  std::fill(m.physicalComponent.get(), m.physicalComponent.get() + 4 * std::size_t{m.virtualCount}, kNoIndex);
  for (std::size_t k = 0; k < 4 * std::size_t{m.limit}; ++k) m.placed[k].Clear();
  for (std::uint32_t r = 0; r < m.limit; ++r) m.order[r] = r;
  m.rotationWindow = m.limit / 2;
  std::fill(m.waiting, m.waiting + 5, 0u);
  for (std::uint32_t vreg = 0; vreg < m.virtualCount; ++vreg)
    if (m.read[vreg])
      for (std::uint32_t t = 1; t <= PlacementWidth(vreg); ++t) ++m.waiting[t];

  // Loop-carried values first: the merge at the loop's end, the entry at its
  // start and the value moved into the merge share a register where they can.
  const std::uint32_t count = p.instructions.Count();
  m.threshold = 0;
  m.walkPosition = kNoIndex;
  for (std::uint32_t position = m.loopMerges ? count : 0; position-- > 0;) {
    const IrInstruction* inst = p.instructions[position];
    if (alloc::IsEmpty(inst) || !inst->IsLoopMerge()) continue;
    const std::uint32_t width = inst->Width();
    for (std::uint32_t k = 0; k < inst->resultCount && k < width; ++k) {
      const std::uint32_t s = width + k < inst->argumentCount ? p.ResolveAlias(inst->arguments[width + k]) : kNoIndex;
      const IrValue* copy = p.values[s];
      const IrInstruction* definer = copy ? p.instructions[copy->definingPosition] : nullptr;
      const std::uint32_t j = definer ? opt::ResultSlot(*definer, s) : kNoIndex;
      const std::uint32_t entry = j < (definer ? definer->argumentCount : 0) ? definer->arguments[j] : kNoIndex;
      if (entry != kNoIndex) {
        m.current = definer;
        if (FAILED(hr = AssignValue(entry, 0, inst->results[k]))) return hr;
      }
      m.current = inst;
      if (FAILED(hr = AssignValue(inst->results[k], 0, entry))) return hr;
      if (FAILED(hr = AssignValue(inst->arguments[k], 0, kNoIndex))) return hr;
    }
  }

  // Then the widest registers first, each in reverse order of its reads.
  const bool parity = p.profileLimits.secondFlags & kSecondParityBias;
  // Guards of other banks (which replays with blocks vouch for) give the
  // walk nothing to place at results.
  const bool walked = m_replay && m_replay->replaying && !parity && (m.unguarded || m_replay->blocks);
  if (walked) {
    // A replay keeps the reads by position: the same walk without visiting
    // the instructions.
    // The first placements of the widest pass, above every moved
    // instruction, are those of the run before: they are placed at once.
    std::uint32_t resume = count;
    m.threshold = 4;
    if (FAILED(hr = TakeOverPrefix(&resume))) return hr;
    for (m.threshold = 4; m.threshold >= 1; --m.threshold) {
      const std::uint32_t* start = m_replay->walkStart[m.threshold - 1].get();
      const std::uint32_t* reads = m_replay->walkValues[m.threshold - 1].get();
      for (std::uint32_t position = m.threshold == 4 ? resume : count; position-- > 0;) {
        if (m.countWaiting && m.waiting[m.threshold] == 0) break;
        m.walkPosition = position;
        for (std::uint32_t k = start[position]; k < start[position + 1]; ++k) {
          if (Settled(reads[k])) continue;
          m.current = p.instructions[position];
          if (FAILED(hr = AssignValue(reads[k], 0, kNoIndex))) return hr;
        }
      }
    }
  }
  for (m.threshold = 4; !walked && m.threshold >= 1; --m.threshold) {
    for (std::uint32_t position = count; position-- > 0;) {
      m.walkPosition = position;
      // Once every register the pass places through reads is placed, the
      // rest of its walk would place nothing.
      if (m.countWaiting && m.waiting[m.threshold] == 0) break;
      const IrInstruction* inst = p.instructions[position];
      if (alloc::IsEmpty(inst)) continue;
      m.current = inst;
      if (!m.unguarded)
        for (std::uint32_t r = 0; r < inst->resultCount; ++r)
          if (FAILED(hr = AssignParent(inst->results[r]))) return hr;
      std::int32_t bias = 0;
      if (parity) {
        std::uint32_t* group;
        for (std::uint32_t g = 0; inst->ArgumentGroup(g, &group) != 0; ++g) {
          const std::uint32_t reg = PhysicalRegister(p.ResolveAlias(group[0]));
          if (reg != kNoIndex) bias += reg % 2 ? -1 : 1;
        }
      }
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
        if (!Settled(inst->arguments[a]) && FAILED(hr = AssignValue(inst->arguments[a], bias, kNoIndex))) return hr;
    }
  }
  // Registers nothing reads still take the place their instruction writes.
  m.threshold = 0;
  m.walkPosition = kNoIndex;
  for (std::uint32_t i = 0; i < m.programValues; ++i) {
    const std::uint32_t vreg = m.ownRegister[i];
    if (vreg == kNoIndex || m.physical[vreg] != kNoIndex) continue;
    m.current = p.instructions[p.values[i]->definingPosition];
    if (FAILED(hr = AssignValue(i, 0, kNoIndex))) return hr;
  }
  return S_OK;
}

}  // namespace gxl::shader

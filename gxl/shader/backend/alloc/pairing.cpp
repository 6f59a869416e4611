#include "gxl/shader/backend/alloc/pairing.h"

#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kCapsPhysicalComponents = 0x10000000;
constexpr std::uint32_t kSecondCoIssue = 0x8;
// Each trial assignment walks the whole program: the trials of one pass may
// walk 2^19 instructions in all (the corpus takes at most 31,000).
constexpr std::uint64_t kTrialBudget = std::uint64_t{1} << 19;

// Marks `start` and everything reachable from it along `list` with `stamp`
// in `field`; each instruction is pushed once, so the stack stays within
// the instruction count.
template <class Next>
HRESULT Stamp(IrInstruction* const* table, std::uint32_t start, std::uint32_t stamp,
              std::uint32_t IrInstruction::*field, Next next) {
  PodArray<std::uint32_t> pending;
  if (!pending.Append(start)) return E_OUTOFMEMORY;
  table[start]->*field = stamp;
  while (!pending.Empty()) {
    const IrInstruction& inst = *table[pending.Back()];
    pending.PopBack();
    std::uint32_t count;
    const std::uint32_t* list = next(inst, &count);
    for (std::uint32_t k = 0; k < count; ++k) {
      IrInstruction& other = *table[list[k]];
      if (other.*field == stamp) continue;
      other.*field = stamp;
      if (!pending.Append(list[k])) return E_OUTOFMEMORY;
    }
  }
  return S_OK;
}

const std::uint32_t* Predecessors(const IrInstruction& i, std::uint32_t* n) {
  *n = i.predecessorCount;
  return i.predecessors;
}
const std::uint32_t* Successors(const IrInstruction& i, std::uint32_t* n) {
  *n = i.successorCount;
  return i.successors;
}

// Texture reads and clips bound a phase; flow-control instructions bound a
// block, and stop the walk even when the instruction depends on them: what
// moved across one would run more or less often.
bool BoundsPhase(const IrInstruction& inst) { return inst.Class() == 6 || inst.Group() == kOpDiscard; }
bool StopsTheWalk(const IrInstruction& inst) { return BoundsPhase(inst) || IsSpecialOperation(inst.word); }
// Gathering moves only within a phase and a block; a clip is an ordinary
// instruction to it.
bool StopsGathering(const IrInstruction& inst) { return inst.Class() == 6 || IsSpecialOperation(inst.word); }

}  // namespace

HRESULT StampPredecessors(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp) {
  return Stamp(table, instruction, stamp, &IrInstruction::pinned, Predecessors);
}
HRESULT StampPredecessorsAlt(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp) {
  return Stamp(table, instruction, stamp, &IrInstruction::word10, Predecessors);
}
HRESULT StampSuccessors(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp) {
  return Stamp(table, instruction, stamp, &IrInstruction::pinned, Successors);
}
HRESULT StampSuccessorsAlt(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp) {
  return Stamp(table, instruction, stamp, &IrInstruction::word10, Successors);
}

void MoveInstruction(ShaderProgram& program, std::uint32_t to, std::uint32_t from) {
  IrInstruction** slots = &program.instructions.Slot(0);
  if (from < to)
    std::rotate(slots + from, slots + from + 1, slots + to + 1);
  else if (to < from)
    std::rotate(slots + to, slots + from, slots + from + 1);
}

void InstructionPairing::Move(std::uint32_t to, std::uint32_t from) {
  MoveInstruction(m_p, to, from);
  std::uint32_t* order = m_order.get();
  if (from < to)
    std::rotate(order + from, order + from + 1, order + to + 1);
  else if (to < from)
    std::rotate(order + to, order + from, order + from + 1);
}

void InstructionPairing::Restore() {
  std::copy(m_saved.get(), m_saved.get() + m_count, m_order.get());
  for (std::uint32_t k = 0; k < m_count; ++k) m_p.instructions.Slot(k) = m_table[m_order[k]];
}

InstructionPairing::Kinds InstructionPairing::KindsOf(const IrInstruction& inst) const {
  const std::uint32_t temporaries = m_p.StandardBankIndex(StandardBank::Temporaries);
  bool colour = inst.IsDot(), alpha = false;
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
    const IrValue* v = m_p.values[inst.results[r]];
    if (!v) continue;
    std::uint32_t component = v->component;
    if (!m_physicalComponents && v->bank == temporaries) component = m_temporaries.PhysicalComponent(inst.results[r]);
    if (component == 3)
      alpha = true;
    else
      colour = true;
  }
  return {colour, alpha};
}

void InstructionPairing::NoteKinds() {
  for (std::uint32_t k = 0; k < m_count; ++k) m_kinds[k] = KindsOf(*m_table[k]);
}

HRESULT InstructionPairing::TemporariesFit() {
  if (m_physicalComponents) return S_OK;
  if (m_budget < m_count) {
    m_spent = true;
    return S_FALSE;
  }
  m_budget -= m_count;
  const HRESULT hr = m_temporaries.Assign(false);
  return hr == E_OUTOFMEMORY ? hr : (SUCCEEDED(hr) ? S_OK : S_FALSE);
}

HRESULT InstructionPairing::PairForCoIssue(std::uint32_t p, bool colour, bool alpha) {
  // The walk stays between the flow-control, texture and clip instructions
  // around p: moving one of those, or across one, would change what runs.
  if (p == 0 || StopsTheWalk(At(p - 1))) return 1;
  for (std::uint32_t q = p; q-- > 0;) {
    IrInstruction& x = At(q);
    if (IsSpecialOperation(x.word)) return 1;
    if (x.pinned == p || alloc::IsEmpty(&x)) continue;
    if (BoundsPhase(x)) return 1;
    HRESULT hr = StampPredecessors(m_table.get(), m_order[q], p);
    if (FAILED(hr)) return hr;
    const Kinds kinds = m_kinds[m_order[q]];
    if (kinds.colour == colour || kinds.alpha == alpha) continue;
    if (q == p - 1) return 1;  // the pair stands already
    Move(p - 1, q);
    if (FAILED(hr = TemporariesFit())) return hr;
    if (hr == S_OK) {
      const Kinds now = KindsOf(x);
      if (now.colour != colour && now.alpha != alpha) return 0;
    }
    Restore();
    if (m_spent) return 1;
  }
  return 1;
}

HRESULT InstructionPairing::GatherSameTree(std::uint32_t p, bool addressCheck) {
  if (p == 0 || StopsGathering(At(p - 1))) return 1;
  const IrInstruction& before = At(p - 1);
  for (std::uint32_t q = p; q-- > 0;) {
    IrInstruction& x = At(q);
    if (IsSpecialOperation(x.word)) return 1;
    if (x.pinned == p || alloc::IsEmpty(&x)) continue;
    if (StopsGathering(x)) return 1;
    HRESULT hr = StampPredecessors(m_table.get(), m_order[q], p);
    if (FAILED(hr)) return hr;
    if (q == p - 1) return 1;  // the instruction before is no input: nothing to gather
    if (before.resultCount == 0 || x.resultCount == 0) continue;
    const IrValue* a = m_p.values[before.results[0]];
    const IrValue* b = m_p.values[x.results[0]];
    if (!a || !b || a->predicate != b->predicate || a->predicateSense != b->predicateSense) return 1;
    Move(p - 1, q);
    if (FAILED(hr = TemporariesFit())) return hr;
    bool fits = hr == S_OK;
    if (fits && addressCheck) {
      m_budget -= std::min<std::uint64_t>(m_budget, m_count);
      hr = m_address.Assign(false);
      if (hr == E_OUTOFMEMORY) return hr;
      fits = SUCCEEDED(hr);
    }
    if (fits) return 0;
    Move(q, p - 1);
    if (m_spent) return 1;
  }
  return 1;
}

HRESULT InstructionPairing::Run() {
  if (m_p.options & kOptionNoOptimisation) return S_FALSE;
  HRESULT hr = m_p.CompactInstructions();
  if (SUCCEEDED(hr)) hr = m_p.BuildDependencyLists();
  if (FAILED(hr)) return hr;
  const ProfileLimits& limits = m_p.profileLimits;
  m_physicalComponents = limits.capabilities & kCapsPhysicalComponents;
  bool addressCheck = false;
  if (!m_physicalComponents) {
    if (limits.addressRegisters != 0) {
      hr = m_address.Build(m_p, m_p.StandardBankIndex(StandardBank::Address), limits.addressRegisters);
      if (SUCCEEDED(hr)) hr = m_address.Assign(false);
      if (hr == E_OUTOFMEMORY) return hr;
      addressCheck = SUCCEEDED(hr);
    }
    const std::uint32_t temporaries = m_p.StandardBankIndex(StandardBank::Temporaries);
    hr = limits.temporaries ? m_temporaries.Build(m_p, temporaries, limits.temporaries - 1) : E_FAIL;
    if (SUCCEEDED(hr)) hr = m_temporaries.Assign(false);
    if (FAILED(hr)) {
      if (hr == E_OUTOFMEMORY) return hr;
      m_temporaries.Release();
      hr = m_temporaries.Build(m_p, temporaries, limits.temporaries);
      if (SUCCEEDED(hr)) hr = m_temporaries.Assign(false);
      if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : S_FALSE;
    }
  }

  m_count = m_p.instructions.Count();
  m_table = opt::NewArray<IrInstruction*>(m_count);
  m_order = opt::NewArray<std::uint32_t>(m_count);
  m_saved = opt::NewArray<std::uint32_t>(m_count);
  m_kinds = std::unique_ptr<Kinds[]>(new (std::nothrow) Kinds[m_count ? m_count : 1]);
  if (!m_table || !m_order || !m_saved || !m_kinds) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < m_count; ++k) {
    m_table[k] = m_p.instructions[k];
    m_order[k] = m_saved[k] = k;
    m_table[k]->pinned = kNoIndex;
  }
  NoteKinds();
  const bool coIssue = limits.secondFlags & kSecondCoIssue;
  m_budget = kTrialBudget;
  m_spent = false;
  for (std::uint32_t p = m_count; p-- > 0 && !m_spent;) {
    const IrInstruction& inst = At(p);
    if (alloc::IsEmpty(&inst) || StopsTheWalk(inst)) continue;
    if (FAILED(hr = StampPredecessors(m_table.get(), m_order[p], p))) return hr;
    if (coIssue) {
      const Kinds kinds = m_kinds[m_order[p]];
      if (kinds.colour && kinds.alpha) continue;
      hr = PairForCoIssue(p, kinds.colour, !kinds.colour);
    } else {
      hr = GatherSameTree(p, addressCheck);
    }
    if (FAILED(hr)) return hr;
    if (hr == S_OK) {
      std::copy(m_order.get(), m_order.get() + m_count, m_saved.get());
      NoteKinds();
    }
  }
  m_temporaries.Release();
  m_address.Release();
  return S_OK;
}

}  // namespace gxl::shader

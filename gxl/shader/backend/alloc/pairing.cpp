#include "gxl/shader/backend/alloc/pairing.h"
#include "gxl/shader/backend/ir/work_rates.h"

#include <algorithm>
#include <vector>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kCapsPhysicalComponents = 0x10000000;
constexpr std::uint32_t kSecondCoIssue = 0x8;
// Each trial assignment walks the whole program: the trials of one pass may
// walk 2^19 instructions in all, and no more than 128 times the program, so
// that they cost in proportion to it (the corpus takes at most 95 trials,
// ntsc's; a long block of a loop once took 390).
constexpr std::uint64_t kTrialBudget = std::uint64_t{1} << 19;
constexpr std::uint64_t kTrialsPerPass = 128;

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

bool InstructionPairing::Readers::Prepare(std::uint32_t count) {
  for (m_leaves = 1; m_leaves < count; m_leaves *= 2) {
  }
  m_tree = opt::NewArray<std::uint32_t>(2 * std::size_t{m_leaves});
  return m_tree != nullptr;
}

void InstructionPairing::Readers::Set(std::uint32_t position, std::uint32_t key) {
  std::uint32_t node = m_leaves + position;
  m_tree[node] = key;
  for (node /= 2; node >= 1; node /= 2) m_tree[node] = std::max(m_tree[2 * node], m_tree[2 * node + 1]);
}

std::uint32_t InstructionPairing::Readers::LastAbove(std::uint32_t end, std::uint32_t bound) const {
  // Up from the leaf before `end` to the first left sibling holding a key
  // above the bound, then down its rightmost such path.
  if (end == 0) return kNoIndex;
  std::uint32_t node = m_leaves + end - 1;
  if (m_tree[node] <= bound) {
    for (;;) {
      while (node > 1 && node % 2 == 0) node /= 2;  // a left child: its left neighbour lies above
      if (node == 1) return kNoIndex;
      --node;  // the left sibling
      if (m_tree[node] > bound) break;
    }
  }
  while (node < m_leaves) node = m_tree[2 * node + 1] > bound ? 2 * node + 1 : 2 * node;
  return node - m_leaves;
}

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
  for (std::uint32_t k = std::min(to, from); k <= std::max(to, from); ++k) m_position[order[k]] = k;
  NoteReaders(std::min(to, from), std::max(to, from));
  m_temporariesBound.Moved(order, to, from);
  m_addressBound.Moved(order, to, from);
}

void InstructionPairing::Restore() {
  std::copy(m_saved.get(), m_saved.get() + m_count, m_order.get());
  for (std::uint32_t k = 0; k < m_count; ++k) {
    m_p.instructions.Slot(k) = m_table[m_order[k]];
    m_position[m_order[k]] = k;
  }
  if (m_count) NoteAllReaders();
}

void InstructionPairing::NoteAllReaders() {
  if (m_walks) return;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    const IrInstruction& x = *m_table[i];
    m_firstReader[i] = kNoIndex;
    for (std::uint32_t r = 0; r < x.successorCount; ++r)
      m_firstReader[i] = std::min(m_firstReader[i], m_position[x.successors[r]]);
  }
  for (std::uint32_t k = 0; k < m_count; ++k) m_readers.Set(k, WalkKey(m_order[k]));
}

bool InstructionPairing::FeedsRange(std::uint32_t q, std::uint32_t p) const {
  // The order keeps every input before its readers, so an input of anything
  // in the range reads into it directly.
  return m_walks ? At(q).pinned == p : m_firstReader[m_order[q]] <= p;
}

std::uint32_t InstructionPairing::Below(std::uint32_t q, std::uint32_t p) const {
  if (m_walks) return q ? q - 1 : kNoIndex;
  return m_readers.LastAbove(q, p);
}

std::uint32_t InstructionPairing::WalkKey(std::uint32_t instruction) const {
  const IrInstruction* inst = m_table[instruction];
  if (IsSpecialOperation(inst->word)) return kNoIndex;  // ends every walk
  return alloc::IsEmpty(inst) ? 0 : m_firstReader[instruction];
}

void InstructionPairing::NoteReaders(std::uint32_t from, std::uint32_t to) {
  if (m_walks) return;
  // The first reader of each input of what moved, then the keys where
  // those inputs and the moved stand.
  for (std::uint32_t k = from; k <= to; ++k) {
    const IrInstruction& moved = At(k);
    for (std::uint32_t i = 0; i < moved.predecessorCount; ++i) {
      const std::uint32_t input = moved.predecessors[i];
      const IrInstruction& x = *m_table[input];
      std::uint32_t first = kNoIndex;
      for (std::uint32_t r = 0; r < x.successorCount; ++r) first = std::min(first, m_position[x.successors[r]]);
      if (first == m_firstReader[input]) continue;
      m_firstReader[input] = first;
      m_readers.Set(m_position[input], WalkKey(input));
    }
  }
  for (std::uint32_t k = from; k <= to; ++k) m_readers.Set(k, WalkKey(m_order[k]));
}

HRESULT InstructionPairing::Visit(std::uint32_t q, std::uint32_t p) {
  return m_walks ? StampPredecessors(m_table.get(), m_order[q], p) : S_OK;
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
  return m_physicalComponents ? S_OK : Fits(m_temporaries, m_temporariesBound, true);
}

HRESULT InstructionPairing::Fits(RegisterAssignment& context, const FitBound& bound, bool spend) {
  // The reference switch runs every assignment, and counts a proof it refutes.
  const bool proven = bound.SurelyFits();
  if (proven && !m_p.referenceSearches) return S_OK;
  if (!proven) {
    if (spend && m_budget < m_count) {
      m_spent = true;
      return S_FALSE;
    }
    m_budget -= std::min<std::uint64_t>(m_budget, m_count);
    ++m_trials;
  }
  // The temporaries' trials take over the run before where the move cannot
  // change it; the address registers' are few and short.
  const bool replays = &context == &m_temporaries;
  const HRESULT hr = replays ? context.Reassign() : context.Assign(false);
  if (hr == E_OUTOFMEMORY) return hr;
  if (proven && FAILED(hr)) ++m_p.refutedFitProofs;
  if (replays && context.Reused() && m_p.referenceSearches) {
    // Behind each run that took over the one before, the full run: the same
    // answer, and where it fits the same places.
    const std::uint32_t vregs = context.VirtualCount();
    std::vector<std::uint32_t> placements(context.Placements(), context.Placements() + vregs);
    std::vector<std::uint32_t> components(context.PlacedComponents(), context.PlacedComponents() + 4 * std::size_t{vregs});
    const UnmeteredWork check(m_p);
    const HRESULT full = context.Assign(false);
    if (full == E_OUTOFMEMORY) return full;
    if (SUCCEEDED(full) != SUCCEEDED(hr) ||
        (SUCCEEDED(hr) && !context.SamePlacements(placements.data(), components.data())))
      ++m_p.reassignMismatches;
  }
  return SUCCEEDED(hr) ? S_OK : S_FALSE;
}

HRESULT InstructionPairing::PairForCoIssue(std::uint32_t p, bool colour, bool alpha) {
  // The walk stays between the flow-control, texture and clip instructions
  // around p: moving one of those, or across one, would change what runs.
  if (p == 0 || StopsTheWalk(At(p - 1))) return 1;
  for (std::uint32_t q = Below(p, p); q != kNoIndex; q = Below(q, p)) {
    IrInstruction& x = At(q);
    if (IsSpecialOperation(x.word)) return 1;
    if (alloc::IsEmpty(&x) || FeedsRange(q, p)) continue;
    if (BoundsPhase(x)) return 1;
    HRESULT hr = Visit(q, p);
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
  for (std::uint32_t q = Below(p, p); q != kNoIndex; q = Below(q, p)) {
    IrInstruction& x = At(q);
    if (IsSpecialOperation(x.word)) return 1;
    if (alloc::IsEmpty(&x) || FeedsRange(q, p)) continue;
    if (StopsGathering(x)) return 1;
    HRESULT hr = Visit(q, p);
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
      if (FAILED(hr = Fits(m_address, m_addressBound, false))) return hr;
      fits = hr == S_OK;
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
    bool addressBuilt = false;
    if (limits.addressRegisters != 0) {
      hr = m_address.Build(m_p, m_p.StandardBankIndex(StandardBank::Address), limits.addressRegisters);
      addressBuilt = SUCCEEDED(hr);
      if (SUCCEEDED(hr)) hr = m_address.Assign(false);
      if (hr == E_OUTOFMEMORY) return hr;
      addressCheck = SUCCEEDED(hr);
    }
    const std::uint32_t temporaries = m_p.StandardBankIndex(StandardBank::Temporaries);
    // A trial assignment changes nothing in the program: the analysis the
    // address registers' Build made still stands. Every trial, co-issue
    // pairing's too, reuses the run before it where the moves cannot change
    // it: a long program in the lowered order (the retry of a scheduled
    // order that did not fit) takes a hundred trials. Gathering moves only
    // within a block and a predicate; co-issue pairing pairs across
    // predicates, so its trials reuse runs of straight code alone.
    const bool blocks = !(limits.secondFlags & kSecondCoIssue);
    hr = limits.temporaries ? m_temporaries.Build(m_p, temporaries, limits.temporaries - 1, addressBuilt) : E_FAIL;
    const bool built = SUCCEEDED(hr);
    if (SUCCEEDED(hr)) hr = m_temporaries.KeepReplays(blocks);
    if (SUCCEEDED(hr)) hr = m_temporaries.Assign(false);
    if (FAILED(hr)) {
      if (hr == E_OUTOFMEMORY) return hr;
      m_temporaries.Release();
      hr = m_temporaries.Build(m_p, temporaries, limits.temporaries, built);
      if (SUCCEEDED(hr)) hr = m_temporaries.KeepReplays(blocks);
      if (SUCCEEDED(hr)) hr = m_temporaries.Assign(false);
      if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : S_FALSE;
    }
  }

  m_count = m_p.instructions.Count();
  m_table = opt::NewArray<IrInstruction*>(m_count);
  m_order = opt::NewArray<std::uint32_t>(m_count);
  m_saved = opt::NewArray<std::uint32_t>(m_count);
  m_position = opt::NewArray<std::uint32_t>(m_count);
  m_firstReader = opt::NewArray<std::uint32_t>(m_count);
  m_kinds = std::unique_ptr<Kinds[]>(new (std::nothrow) Kinds[m_count ? m_count : 1]);
  if (!m_table || !m_order || !m_saved || !m_position || !m_firstReader || !m_kinds || !m_readers.Prepare(m_count))
    return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < m_count; ++k) {
    m_table[k] = m_p.instructions[k];
    m_order[k] = m_saved[k] = m_position[k] = k;
    m_table[k]->pinned = kNoIndex;
  }
  m_walks = m_p.referenceSearches;
  NoteAllReaders();
  const bool coIssue = limits.secondFlags & kSecondCoIssue;
  if (coIssue) NoteKinds();
  if (!coIssue && !m_physicalComponents) {
    hr = m_temporariesBound.Prepare(m_p, m_temporaries, m_table.get(), m_order.get(), m_count);
    if (SUCCEEDED(hr) && addressCheck)
      hr = m_addressBound.Prepare(m_p, m_address, m_table.get(), m_order.get(), m_count);
    if (FAILED(hr)) return hr;
  }
  // The compile pays for the trials' instructions; with less left than the
  // trials' own budget, fewer trials are made.
  m_budget = std::min({kTrialBudget, kTrialsPerPass * m_count, m_p.WorkRemaining() * workrate::kTrialInstructionsPerUnit});
  const std::uint64_t given = m_budget;
  m_spent = false;
  m_trials = 0;
  for (std::uint32_t p = m_count; p-- > 0 && !m_spent;) {
    const IrInstruction& inst = At(p);
    if (alloc::IsEmpty(&inst) || StopsTheWalk(inst)) continue;
    if (m_walks && FAILED(hr = StampPredecessors(m_table.get(), m_order[p], p))) return hr;
    if (coIssue) {
      const Kinds kinds = m_kinds[m_order[p]];
      if (kinds.colour && kinds.alpha) continue;
      hr = PairForCoIssue(p, kinds.colour, !kinds.colour);
    } else {
      hr = GatherSameTree(p, addressCheck);
    }
    if (FAILED(hr)) return hr;
    // Only pairing goes back to the order last accepted.
    if (hr == S_OK && coIssue) {
      std::copy(m_order.get(), m_order.get() + m_count, m_saved.get());
      NoteKinds();
    }
  }
  m_temporaries.Release();
  m_address.Release();
  return m_p.ChargeWork((given - m_budget) / workrate::kTrialInstructionsPerUnit);
}

}  // namespace gxl::shader

// On targets whose texture reads come in dependent phases: texture reads
// moved earlier, next to the reads of their own level, while a trial
// register assignment still fits, so that the program needs fewer phases.
#include <algorithm>
#include <functional>
#include <memory>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/alloc/fit_bound.h"
#include "gxl/shader/backend/alloc/guards.h"
#include "gxl/shader/backend/alloc/register_assignment.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kPhasesByLevelChange = 0x04000000;
constexpr std::uint32_t kPhasesPerRead = 0x08000000;
// Each trial assignment walks the whole program: the trials of one pass may
// walk 2^20 instructions in all; then the reads keep the places found so far.
constexpr std::uint64_t kTrialBudget = std::uint64_t{1} << 20;

bool IsTextureRead(const IrInstruction* inst) { return inst && (inst->level & 1); }

// Where phases change by level: the phases that begin at positions lo..hi,
// the first position counting one when it holds no read.
std::uint32_t PhasesBegunIn(const ShaderProgram& p, std::uint32_t lo, std::uint32_t hi) {
  std::uint32_t phases = 0;
  for (std::uint32_t i = lo; i <= hi; ++i) {
    const IrInstruction* inst = p.instructions[i];
    if (i == 0)
      phases += !IsTextureRead(inst);
    else
      phases += IsTextureRead(inst) && inst->level != p.instructions[i - 1]->level;
  }
  return phases;
}

// The first position a move of the read at `position` changes (the group
// before the run of higher levels right before it), or kNoIndex when it
// cannot move.
std::uint32_t MoveStart(const ShaderProgram& p, std::uint32_t position) {
  if (position >= p.instructions.Count() || !IsTextureRead(p.instructions[position])) return kNoIndex;
  const std::uint32_t level = p.instructions[position]->level;
  std::uint32_t h = position;
  while (h > 0 && p.instructions[h - 1]->level > level) --h;
  if (h == 0) return kNoIndex;
  std::uint32_t first = h - 1;
  if (p.instructions[first]->level == level) {
    while (first > 0 && p.instructions[first - 1]->level == level) --first;
  } else if (p.instructions[first]->level > level) {
    return kNoIndex;
  }
  return first;
}

// Whether the temporaries fit in the program's current order: the fit bound
// answers where it proves a fit or a failure, the full assignment everywhere
// else (and, with the reference switch, behind every proof too).
class TrialFit {
 public:
  TrialFit(ShaderProgram& p, RegisterAssignment& context) : m_p(p), m_context(context) {}

  // Over the order the context has just assigned.
  HRESULT Prepare() {
    const std::uint32_t count = m_p.instructions.Count();
    m_table = opt::NewArray<IrInstruction*>(count);
    m_order = opt::NewArray<std::uint32_t>(count);
    m_byAddress = opt::NewArray<std::uint32_t>(count);
    if (!m_table || !m_order || !m_byAddress) return E_OUTOFMEMORY;
    for (std::uint32_t k = 0; k < count; ++k) m_table[k] = m_p.instructions[k], m_order[k] = m_byAddress[k] = k;
    std::sort(m_byAddress.get(), m_byAddress.get() + count,
              [&](std::uint32_t a, std::uint32_t b) { return std::less<>()(m_table[a], m_table[b]); });
    m_count = count;
    m_lastTrial = opt::NewArray<IrInstruction*>(count);
    m_placements = opt::NewArray<std::uint32_t>(m_context.VirtualCount());
    m_components = opt::NewArray<std::uint32_t>(4 * std::size_t{m_context.VirtualCount()});
    if (!m_lastTrial || !m_placements || !m_components) return E_OUTOFMEMORY;
    return m_bound.Prepare(m_p, m_context, m_table.get(), m_order.get(), count);
  }

  // S_OK when it fits, S_FALSE when not; E_OUTOFMEMORY.
  HRESULT Fits() {
    bool fits = false, fails = false;
    if (m_bound.Serves()) {
      // Only the places whose instruction changed since the last trial are looked up.
      for (std::uint32_t k = 0; k < m_count; ++k)
        if (m_table[m_order[k]] != m_p.instructions[k]) m_order[k] = IndexOf(m_p.instructions[k]);
      // Proving a fit costs about half a trial assignment that takes over
      // the one before: it is tried while it succeeds at least once in four.
      const bool proveFits = m_fitProofs * 4 + 4 > m_fitTries;
      const HRESULT hr = m_bound.Reordered(m_order.get(), proveFits);
      if (hr == E_OUTOFMEMORY) return hr;
      fails = hr == S_FALSE;
      fits = m_bound.SurelyFits();
      m_fitTries += proveFits && !fails;
      m_fitProofs += fits;
    }
    if ((fits || fails) && !m_p.referenceSearches) return fits ? S_OK : S_FALSE;
    const HRESULT hr = m_context.Reassign();
    if (hr == E_OUTOFMEMORY) return hr;
    if ((fits && FAILED(hr)) || (fails && SUCCEEDED(hr))) ++m_p.refutedFitProofs;
    m_usesStale = m_context.Reused();
    if (m_usesStale) std::copy(&m_p.instructions.Slot(0), &m_p.instructions.Slot(0) + m_count, m_lastTrial.get());
    if (m_usesStale && m_p.referenceSearches) {
      // Behind each run that took over the one before, the full run: the
      // same answer, and where it fits the same places.
      const std::uint32_t vregs = m_context.VirtualCount();
      std::copy(m_context.Placements(), m_context.Placements() + vregs, m_placements.get());
      std::copy(m_context.PlacedComponents(), m_context.PlacedComponents() + 4 * std::size_t{vregs},
                m_components.get());
      const UnmeteredWork check(m_p);
      const HRESULT full = m_context.Assign(false);
      if (full == E_OUTOFMEMORY) return full;
      if (SUCCEEDED(full) != SUCCEEDED(hr) ||
          (SUCCEEDED(hr) && !m_context.SamePlacements(m_placements.get(), m_components.get())))
        ++m_p.reassignMismatches;
      m_usesStale = false;
    }
    return SUCCEEDED(hr) ? S_OK : S_FALSE;
  }

  // The use analysis as the last trial leaves it when every trial runs in
  // full (later passes read it): rebuilt over that trial's order.
  HRESULT SettleUses() {
    if (!m_usesStale) return S_OK;
    m_usesStale = false;
    IrInstruction** slots = &m_p.instructions.Slot(0);
    std::swap_ranges(slots, slots + m_count, m_lastTrial.get());
    const UnmeteredWork settle(m_p);
    const HRESULT hr = m_p.RebuildDefUse();
    if (SUCCEEDED(hr)) alloc::ExtendGuardRanges(m_p);
    std::swap_ranges(slots, slots + m_count, m_lastTrial.get());
    return hr;
  }

 private:
  std::uint32_t IndexOf(IrInstruction* inst) const {
    return *std::lower_bound(m_byAddress.get(), m_byAddress.get() + m_count, inst,
                             [&](std::uint32_t a, IrInstruction* b) { return std::less<>()(m_table[a], b); });
  }

  ShaderProgram& m_p;
  RegisterAssignment& m_context;
  FitBound m_bound;
  std::uint32_t m_count = 0;
  std::unique_ptr<IrInstruction*[]> m_table;
  std::unique_ptr<std::uint32_t[]> m_order, m_byAddress;  // order: table indexes by position
  std::uint32_t m_fitTries = 0, m_fitProofs = 0;  // orders the bound measured for a fit, and fits it proved
  bool m_usesStale = false;  // the last trial took over the run before: the use analysis is older
  std::unique_ptr<IrInstruction*[]> m_lastTrial;
  std::unique_ptr<std::uint32_t[]> m_placements, m_components;  // of the last run taken over, for the check
};

}  // namespace

std::uint32_t ShaderProgram::CountTexturePhases() const {
  const std::uint32_t count = instructions.Count();
  const std::uint32_t caps = profileLimits.capabilities;
  std::uint32_t phases = 0;
  if (caps & kPhasesByLevelChange) {
    return count ? PhasesBegunIn(*this, 0, count - 1) : 0;
  } else if (caps & kPhasesPerRead) {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!IsTextureRead(instructions[i])) continue;
      ++phases;
      if (i + 1 < count && instructions[i + 1]->level == instructions[i]->level) ++i;
    }
  }
  return phases;
}

std::uint32_t ShaderProgram::MoveTextureEarlier(std::uint32_t position) {
  // H: the run right before T of higher levels; P: the group before H.
  const std::uint32_t p = MoveStart(*this, position);
  if (p == kNoIndex) return 0;
  const std::uint32_t level = instructions[position]->level;
  std::uint32_t h = position;
  while (h > 0 && instructions[h - 1]->level > level) --h;
  // P H T becomes H P' T p: the last of P goes behind T, the rest in front of H.
  IrInstruction** slots = &instructions.Slot(0);
  std::rotate(slots + p, slots + h, slots + position);
  std::swap(slots[position - 1], slots[position]);
  return 1;
}

HRESULT ShaderProgram::HoistTextureReads() {
  if (!(profileLimits.capabilities & (kPhasesByLevelChange | kPhasesPerRead))) return S_FALSE;
  HRESULT hr = CompactInstructions();
  if (FAILED(hr)) return hr;
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  RegisterAssignment context;
  const std::uint32_t limit = profileLimits.temporaries;
  hr = limit ? context.Build(*this, temporaries, limit - 1) : E_FAIL;
  const bool built = SUCCEEDED(hr);
  if (SUCCEEDED(hr)) hr = context.KeepReplays();
  if (SUCCEEDED(hr)) hr = context.Assign(false);
  if (FAILED(hr)) {
    if (hr == E_OUTOFMEMORY) return hr;
    context.Release();
    hr = context.Build(*this, temporaries, limit, built);  // a failed trial changes nothing
    if (SUCCEEDED(hr)) hr = context.KeepReplays();
    if (SUCCEEDED(hr)) hr = context.Assign(false);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : S_OK;
  }

  const std::uint32_t count = instructions.Count();
  if (count == 0) return S_OK;
  TrialFit trial(*this, context);
  if (FAILED(hr = trial.Prepare())) return hr;
  auto saved = opt::NewArray<IrInstruction*>(count);
  if (!saved) return E_OUTOFMEMORY;
  std::copy(&instructions.Slot(0), &instructions.Slot(0) + count, saved.get());
  auto start = opt::NewArray<IrInstruction*>(count);
  if (!start) return E_OUTOFMEMORY;
  std::uint32_t best = CountTexturePhases();
  const bool tiesCount = !(profileLimits.capabilities & kPhasesPerRead);
  std::uint64_t budget = kTrialBudget;
  PodArray<std::uint32_t> ties;
  for (std::uint32_t i = 0; i < count && budget >= count; ++i) {
    if (!IsTextureRead(instructions[i])) continue;
    // The read at j moves to j - 1 with each step, whatever the trials
    // answer: they decide only which arrangement is kept. An arrangement
    // with fewer phases must be tried at once, since it lowers the best the
    // later ones are measured by; of those that tie, only the last that
    // fits counts, so they are tried once the read has bubbled, the last
    // first (the reference switch tries each as it comes). The budget is
    // counted per arrangement alike.
    std::copy(&instructions.Slot(0), &instructions.Slot(0) + i + 1, start.get());
    ties.Clear();
    std::uint32_t step = 0;
    // Where phases change by level a move changes only the phases that
    // begin between its first position and the one after the read (the
    // reference switch counts them all, and checks the local count).
    const bool local = profileLimits.capabilities & kPhasesByLevelChange;
    std::uint32_t phases = local ? CountTexturePhases() : 0;
    for (std::uint32_t j = i; j >= 1; --j) {
      const std::uint32_t first = local ? MoveStart(*this, j) : 0, last = std::min(j + 1, count - 1);
      const std::uint32_t was = local && first != kNoIndex ? PhasesBegunIn(*this, first, last) : 0;
      if (!MoveTextureEarlier(j)) break;
      ++step;
      const std::uint32_t counted = local ? phases - was + PhasesBegunIn(*this, first, last) : 0;
      phases = local && !referenceSearches ? counted : CountTexturePhases();
      if (local && counted != phases) ++phaseCountMismatches;
      const bool candidate =
          phases < best || (phases == best && tiesCount && instructions[j]->level == instructions[j - 1]->level);
      if (!candidate) continue;
      if (budget < count) break;
      budget -= count;
      if (phases == best && !referenceSearches) {
        if (!ties.Append(step)) return E_OUTOFMEMORY;
        continue;
      }
      if (FAILED(hr = trial.Fits())) return hr;
      if (hr != S_OK) continue;
      std::copy(&instructions.Slot(0), &instructions.Slot(0) + i + 1, saved.get());
      best = phases;
      ties.Clear();  // the ties before it are kept no more
    }
    for (std::size_t t = ties.Size(); t-- > 0;) {
      // The arrangement of that step again, from the read's start.
      std::copy(start.get(), start.get() + i + 1, &instructions.Slot(0));
      for (std::uint32_t j = i, moved = 0; moved < ties[t]; --j, ++moved) MoveTextureEarlier(j);
      if (FAILED(hr = trial.Fits())) return hr;
      if (hr != S_OK) continue;
      std::copy(&instructions.Slot(0), &instructions.Slot(0) + i + 1, saved.get());
      break;
    }
    std::copy(saved.get(), saved.get() + i + 1, &instructions.Slot(0));
  }

  // Runs of texture reads of one level are reversed.
  for (std::uint32_t i = 0; i < count;) {
    std::uint32_t j = i;
    while (j < count && IsTextureRead(instructions[j]) && instructions[j]->level == instructions[i]->level) ++j;
    if (j - i >= 2) std::reverse(&instructions.Slot(i), &instructions.Slot(0) + j);
    i = j > i ? j : i + 1;
  }
  if (FAILED(hr = trial.SettleUses())) return hr;
  context.Release();
  return S_OK;
}

}  // namespace gxl::shader

// The parts of RoundUpkeep its files share: sets of marked indexes, the test
// of the class of programs it serves, and the tables of liveness, guards and
// merge keys. Its containers are the standard library's: a failing
// allocation ends the upkeep (RoundUpkeep::Collect), never the compile.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/backend/opt/round_upkeep.h"
#include "gxl/shader/core/message_log.h"

namespace gxl::shader::upkeep {

template <class T>
void Grow(std::vector<T>& v, std::size_t n, const T& fill = T{}) {
  if (v.size() < n) v.resize(n, fill);
}

// One flag per component, as many as the widest instruction met so far.
class ComponentFlags {
 public:
  bool* For(const IrInstruction* inst) {
    const std::uint32_t width = std::max<std::uint32_t>(inst ? inst->Width() : 0, 1);
    if (width > m_size) {
      m_flags.reset(new (std::nothrow) bool[width]);
      m_size = m_flags ? width : 0;
    }
    return m_flags.get();
  }

 private:
  std::unique_ptr<bool[]> m_flags;
  std::uint32_t m_size = 0;
};

// Indexes marked at most once each, listed in the order marked.
struct Marks {
  std::vector<std::uint8_t> marked;
  std::vector<std::uint32_t> list;

  void Add(std::uint32_t i) {
    if (i >= marked.size()) marked.resize(std::size_t{i} + 1 + marked.size() / 2, 0);
    if (marked[i]) return;
    marked[i] = 1;
    list.push_back(i);
  }
  bool Has(std::uint32_t i) const { return i < marked.size() && marked[i]; }
  // Unmarks everything listed; the list is then empty.
  void Clear() {
    for (std::uint32_t i : list) marked[i] = 0;
    list.clear();
  }
};

// The class of programs the upkeep serves: no predicate, relative index or
// alias on any value; no instruction of flow control or loops (the special
// operations) and no discard; at most 32 components and results each.
inline bool ValueInClass(const IrValue* v, std::uint32_t index) {
  return !v ||
         (v->predicate == kNoIndex && v->relativeIndex == kNoIndex && (v->alias == kNoIndex || v->alias == index));
}
inline bool WordInClass(std::uint32_t word, std::uint32_t resultCount) {
  if (word < 0x100000) return true;
  return !IsSpecialOperation(word) && IrGroup(word) != kOpDiscard && resultCount <= 32 &&
         (IrClass(word) < 1 || IrClass(word) > 4 || IrWidth(word) <= 32);
}

static_assert(std::is_trivially_copyable_v<IrValue> && std::is_trivially_copyable_v<RegisterBank>);
// SameApartFromUses names every field: one added to IrValue must be added there.
static_assert(sizeof(IrValue) == 152, "a field added to IrValue: compare it in SameApartFromUses");

// The use fields RebuildDefUse sets (firstUse, lastUse, useCount) equal.
inline bool SameUses(const IrValue& a, const IrValue& b) {
  return a.firstUse == b.firstUse && a.lastUse == b.lastUse && a.useCount == b.useCount;
}

// Every other field equal (doubles bit for bit); the coalescing link, which
// no pass of the first phase reads, is left out (RoundUpkeep::Finish sets it).
inline bool SameApartFromUses(const IrValue& a, const IrValue& b) {
  auto same = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
  return a.flags == b.flags && a.bank == b.bank && a.relativeIndex == b.relativeIndex && a.reg == b.reg &&
         a.component == b.component && a.predicate == b.predicate && a.alias == b.alias &&
         a.renumber == b.renumber && a.definingPosition == b.definingPosition &&
         a.earliestDefinition == b.earliestDefinition && a.latestDefinition == b.latestDefinition &&
         a.predicateSense == b.predicateSense && same(a.rangeLow, b.rangeLow) && same(a.rangeHigh, b.rangeHigh) &&
         a.binding == b.binding && a.componentMask == b.componentMask && a.preshaderOutput == b.preshaderOutput &&
         a.symbolSlot == b.symbolSlot && a.moveSource == b.moveSource && a.tag == b.tag &&
         a.ordinalSlot == b.ordinalSlot && a.indexValue == b.indexValue && a.declaration == b.declaration &&
         a.variableComponent == b.variableComponent && a.semantic == b.semantic && a.registerKey == b.registerKey &&
         a.variableOffset == b.variableOffset && a.sequence == b.sequence;
}

// How far (steps along the readers of values) the outcome of a walk's step at
// an instruction may depend on what changed: ArithmeticSimplifier looks back
// through 64 definitions, ImpliesCondition through 256; negations and
// reciprocals (Strip, any number) cost no step.
constexpr std::uint32_t kReach = 260;

}  // namespace gxl::shader::upkeep

namespace gxl::shader {

// Liveness (RemoveDeadCode) and guards (RecomputePredicates) as reference
// counts, and the keys of the merging passes.
struct RoundUpkeep::Tables {
  // --- Liveness: a value is live when its bank is an output or clip bank or a
  // live component reads it; a whole-list instruction is live when any of
  // its results is, and then all its results and arguments are.
  std::vector<std::uint32_t> liveReads;  // per value
  std::vector<std::uint32_t> liveMask;   // per position: bit k, result k live (bit 0 the whole, for whole-list ones)
  upkeep::Marks deadPositions, deadValues;  // may differ from RemoveDeadCode's last run
  bool deadAll = true, guardAll = true;     // the next run is in full

  // --- Guards: in this class a guard is "always" or "never"; a value is
  // needed when its bank is initialised or a reader needs it; an
  // instruction's results are all written when one is needed, and then every
  // argument is needed (that of a written component, for component-wise
  // ones).
  std::vector<std::uint32_t> needs;      // per value: reads that need it
  std::vector<std::uint32_t> guardMask;  // per position: bit r, result r written
  upkeep::Marks guardValues;             // may differ from RecomputePredicates's last run

  // Masks to recompute after reference counts changed.
  upkeep::Marks liveCascade, guardCascade;

  // --- MergeCommonInstructions: candidates by the words they compare.
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> commonBuckets;
  std::vector<std::uint64_t> commonHash;  // per position: its bucket, 0 when no candidate
  std::vector<std::vector<std::uint32_t>> commonKey;  // per position
  std::uint64_t commonPairs = 0;  // pairs of candidates with equal keys
  upkeep::Marks commonDirty;

  // --- MergeEquivalentValues: candidates by key.
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> groups;
  std::vector<std::uint32_t> valueKey;     // per value
  std::vector<std::uint8_t> valueGrouped;  // per value: a candidate, listed under its key
  std::uint32_t bigGroups = 0;  // groups past the look-back (kBigGroup), whose pairs the pass may not all compare
  bool equivalentTrusted = false;  // no two members of a group merge, but for the dirty
  upkeep::Marks equivalentDirty;

  // --- MergeDuplicateValues: literals by bank and value, register reads by
  // their key (each under a hash; equality is checked on use).
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> duplicates;
  std::vector<std::uint64_t> duplicateHash;  // per value: its bucket, 0 when neither
  upkeep::Marks duplicateDirty;
};

// A pass run in full on a copy of the program (the check switch).
struct RoundUpkeep::Shadow {
  std::unique_ptr<ShaderProgram> program;
  MessageLog log;
  HRESULT status = E_FAIL;
};

}  // namespace gxl::shader

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
#include "gxl/shader/backend/opt/round_upkeep_stores.h"
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

// Indexes marked at most once each: every one below `all` at once, the
// others listed in the order marked.
struct Marks {
  std::vector<std::uint8_t> marked;
  std::vector<std::uint32_t> list;
  std::uint32_t all = 0;

  void Add(std::uint32_t i) {
    if (i < all) return;
    if (i >= marked.size()) marked.resize(std::size_t{i} + 1 + marked.size() / 2, 0);
    if (marked[i]) return;
    marked[i] = 1;
    list.push_back(i);
  }
  void AddAll(std::uint32_t count) { all = std::max(all, count); }
  bool Has(std::uint32_t i) const { return i < all || (i < marked.size() && marked[i]); }
  template <class F>
  void ForEach(F f) const {
    for (std::uint32_t i = 0; i < all; ++i) f(i);
    for (std::uint32_t i : list)
      if (i >= all) f(i);
  }
  // Unmarks everything; the list is then empty.
  void Clear() {
    for (std::uint32_t i : list) marked[i] = 0;
    list.clear();
    all = 0;
  }
};

// The class of programs the upkeep serves: no relative index or alias on any
// value; no instruction of the special operations but those of blocks and
// loops, and no discard; at most 32 components and results each.
inline bool ValueInClass(const IrValue* v, std::uint32_t index) {
  return !v || (v->relativeIndex == kNoIndex && (v->alias == kNoIndex || v->alias == index));
}
// The instructions that open, close and carry blocks and loops.
inline bool IsFlowWord(std::uint32_t word) {
  const std::uint32_t g = IrGroup(word);
  return word >= 0x100000 && (g == kOpIfBegin || (g >= kOpLoopBegin && g <= kOpLoopEnd) ||
                              (g >= kOpIfMerge && g <= kOpLoopMerge));
}
inline bool IsConditionWord(std::uint32_t word) {
  return word >= 0x100000 && (IrGroup(word) == kOpIfBegin || IrGroup(word) == kOpBreak);
}
inline bool WordInClass(std::uint32_t word, std::uint32_t resultCount) {
  if (word < 0x100000) return true;
  return (IsFlowWord(word) || !IsSpecialOperation(word)) && IrGroup(word) != kOpDiscard && resultCount <= 32 &&
         (IrClass(word) < 1 || IrClass(word) > 4 || IrWidth(word) <= 32);
}
// The banks of blocks: their values' guards and contents are what the
// blocks of the program are.
constexpr std::uint32_t kFlowBanks = kBankPredicate | kBankBlockMoves | kBankBlockValues | kBankLoop | kBankLoopEntry;

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

// Banks whose guards are part of what their values mean (RecomputePredicates),
// and those whose values are live in any case (RemoveDeadCode).
constexpr std::uint32_t kFixedGuard = kBankPredicate | kBankOutput | kBankBlockMoves | kBankClip;
constexpr std::uint32_t kRoot = kBankOutput | kBankClip;

inline std::uint32_t TypeOf(const ShaderProgram& p, const IrValue* v) {
  const RegisterBank* bank = v ? p.banks.Peek(v->bank) : nullptr;
  return bank ? bank->type : 0;
}

// Calls f on each argument that a live component (or, for a whole-list
// instruction, its liveness) reads: RemoveDeadCode's walk.
template <class F>
void ForLiveReads(std::uint32_t word, const std::uint32_t* args, std::uint32_t argc, std::uint32_t resultCount,
                  std::uint32_t mask, F f) {
  if (word < 0x100000 || !mask) return;
  const std::uint32_t c = IrClass(word);
  if (c >= 1 && c <= 4) {
    const std::uint32_t w = IrWidth(word), groups = w ? argc / w : 0;
    for (std::uint32_t k = 0; k < w && k < resultCount; ++k)
      if (mask >> k & 1)
        for (std::uint32_t g = 0; g < groups; ++g) f(args[g * w + k]);
  } else {
    for (std::uint32_t a = 0; a < argc; ++a) f(args[a]);
  }
}

// Calls f on each argument that RecomputePredicates' walk widens to
// "always": all of an instruction without results; of a component-wise one
// those whose component (or the first) is written; of a whole-list one all
// when its first result is written.
template <class F>
void ForNeeds(std::uint32_t word, const std::uint32_t* args, std::uint32_t argc, std::uint32_t resultCount,
              std::uint32_t mask, F f) {
  if (word < 0x100000) return;
  const std::uint32_t c = IrClass(word);
  if (resultCount == 0) {
    for (std::uint32_t a = 0; a < argc; ++a) f(args[a]);
  } else if (c >= 1 && c <= 4) {
    const std::uint32_t w = IrWidth(word);
    for (std::uint32_t a = 0; a < argc && w; ++a)
      if (mask >> ((a % w) < resultCount ? a % w : 0) & 1) f(args[a]);
  } else if (mask & 1) {
    for (std::uint32_t a = 0; a < argc; ++a) f(args[a]);
  }
}

// How far (steps along the readers of values) the outcome of a walk's step at
// an instruction may depend on what changed: ArithmeticSimplifier looks back
// through 64 definitions, ImpliesCondition through 256; negations and
// reciprocals (Strip, any number) cost no step.
constexpr std::uint32_t kReach = 260;
// What a walk's step costs, in readers met spreading what changed.
constexpr std::uint64_t kReadersPerVisit = 16;

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
  // With loops: per value, a member of what a loop carries (the value before
  // the loop, its entry copy, its merge and the value after the loop), whose
  // members keep one another live. A fall in the support of a value a loop
  // may carry (one in such a group, in a block or guarded) may leave a group
  // that only its own members hold: the next run is in full, and the counts
  // are set from it.
  std::vector<std::uint8_t> carried;
  bool deadSuspect = false;
  // Per value: the guard its liveness holds live (kNoIndex for none): a live
  // value's guard is live.
  std::vector<std::uint32_t> guardNamed;
  // The loops (first and last position) and per position the innermost one
  // around it (kNoIndex for none). A fall in the support of a value inside
  // a loop from outside it may leave what the loop carries alone.
  // A loop's support from outside: live reads of its group's members by
  // instructions outside the loop (and members that are outputs). While it
  // lasts the group is live; its end is the full pass's to settle.
  struct Loop {
    std::uint32_t first, last, outer, support;
  };
  std::vector<Loop> loops;
  std::vector<std::uint32_t> loopAt;
  std::unordered_multimap<std::uint32_t, std::uint32_t> groupsOf;  // member: its loops

  // --- Guards: in this class a guard is "always" or "never"; a value is
  // needed when its bank is initialised or a reader needs it; an
  // instruction's results are all written when one is needed, and then every
  // argument is needed (that of a written component, for component-wise
  // ones).
  std::vector<std::uint32_t> needs;      // per value: reads that need it
  std::vector<std::uint32_t> guardMask;  // per position: bit r, result r written
  upkeep::Marks guardValues;             // may differ from RecomputePredicates's last run
  // With blocks: per value, the guard its readers ask for in the pass's
  // first walk (before work is moved out of loops).
  std::vector<opt::Guard> asked;

  // --- SimplifyPredicates: a condition (of a block or a break) is decided:
  // the full pass's; per block value, the positions of the instructions
  // whose guards name it (what its condition implies reaches them).
  bool conditionsDirty = true;
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> guardedBy;

  // Masks to recompute after reference counts changed.
  upkeep::Marks liveCascade, guardCascade;

  // --- MergeCommonInstructions: candidates by a hash of the words they
  // compare. Equal words give equal hashes: where no two candidates share
  // one, the pass would merge nothing (a shared one sends it to the pass).
  std::unordered_map<std::uint64_t, std::uint32_t> commonCounts;  // candidates per hash
  std::vector<std::uint64_t> commonHash;  // per position: its hash, 0 when no candidate
  std::uint64_t commonPairs = 0;  // pairs of candidates with equal hashes
  upkeep::Marks commonDirty;

  // --- MergeEquivalentValues: candidates by key, each group a list through
  // its members (its entry: the first member and how many there are).
  upkeep::FlatMap groups;
  std::vector<std::uint32_t> valueKey;     // per value
  std::vector<std::uint8_t> valueGrouped;  // per value: a candidate, listed under its key
  std::vector<std::uint32_t> groupNext, groupPrev;  // per member
  std::uint32_t bigGroups = 0;  // groups past the look-back (kBigGroup), whose pairs the pass may not all compare
  bool equivalentTrusted = false;  // no two members of any group merge, but for the dirty
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

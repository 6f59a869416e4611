// RoundUpkeep's tables: liveness and guards as reference counts kept at every
// comparison, the keys of the merging passes brought up to date when those
// run, and the passes they serve (dead code, guards, common instructions,
// equivalent values, duplicate values).
#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "gxl/shader/backend/opt/round_upkeep.h"
#include "gxl/shader/backend/opt/round_upkeep_parts.h"

namespace gxl::shader {

namespace {

using upkeep::Grow;
using upkeep::kFixedGuard;
using upkeep::kRoot;
using upkeep::TypeOf;
using upkeep::ForLiveReads;
using upkeep::ForNeeds;

std::uint64_t Mix(std::uint64_t h, std::uint64_t x) {
  h ^= x + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h * 0xFF51AFD7ED558CCDull;
}

}  // namespace

// --- Liveness and guards ---------------------------------------------------------------------

namespace {

struct Counts {
  ShaderProgram& p;
  RoundUpkeep::Tables& t;

  bool Intrinsic(std::uint32_t v) const {
    const IrValue* x = p.values.Peek(v);
    return x && ((TypeOf(p, x) & kRoot) || t.liveReads[v] > 0);
  }
  bool Pre(std::uint32_t v) const {
    const IrValue* x = p.values.Peek(v);
    if (!x) return true;
    const std::uint32_t type = TypeOf(p, x);
    if (type & kBankInitialised) return true;
    if (type & kFixedGuard) return x->predicate != kNoIndex || x->predicateSense != 0;  // not "never"
    return t.needs[v] > 0;
  }
  bool Fixed(std::uint32_t v) const {
    const IrValue* x = p.values.Peek(v);
    return x && (TypeOf(p, x) & (kFixedGuard | kBankInitialised));
  }
  std::uint32_t LiveMask(const IrInstruction* inst) const {
    if (opt::IsEmpty(inst)) return 0;
    std::uint32_t mask = 0;
    if (inst->IsArithmetic()) {
      for (std::uint32_t k = 0; k < inst->Width() && k < inst->resultCount; ++k)
        if (Intrinsic(inst->results[k])) mask |= 1u << k;
      return mask;
    }
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (Intrinsic(inst->results[r])) return 1;
    return 0;
  }
  bool Common(const IrInstruction* inst) const {
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (Pre(inst->results[r])) return true;
    return false;
  }
  std::uint32_t GuardMask(const IrInstruction* inst) const {
    if (opt::IsEmpty(inst)) return 0;
    const bool common = Common(inst);
    std::uint32_t mask = 0;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (Fixed(inst->results[r]) ? Pre(inst->results[r]) : common) mask |= 1u << r;
    return mask;
  }
};

}  // namespace

void RoundUpkeep::BuildTables() {
  Tables& t = *m_tables;
  const std::uint32_t valueCount = m_p.values.Count(), count = m_p.instructions.Count();
  t.needs.assign(valueCount, 0);
  t.guardMask.assign(count, 0);
  Counts c{m_p, t};
  if (m_flow) {
    BuildLiveness();
  } else {
    t.liveReads.assign(valueCount, 0);
    t.liveMask.assign(count, 0);
  }
  // Readers stand after writers: from the last instruction back, each one's
  // results are counted before its own mask is taken.
  for (std::uint32_t p = count; p-- > 0;) {
    const IrInstruction* inst = m_p.instructions.Peek(p);
    if (opt::IsEmpty(inst)) continue;
    if (!m_flow) {
      t.liveMask[p] = c.LiveMask(inst);
      ForLiveReads(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, t.liveMask[p],
                   [&](std::uint32_t u) {
                     if (u < valueCount) ++t.liveReads[u];
                   });
    }
    t.guardMask[p] = c.GuardMask(inst);
    ForNeeds(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, t.guardMask[p],
             [&](std::uint32_t u) {
               if (u < valueCount) ++t.needs[u];
             });
  }
  t.deadAll = t.guardAll = t.conditionsDirty = true;
  if (m_flow)
    for (std::uint32_t p = 0; p < count; ++p) IndexGuarded(p);
  t.commonHash.assign(count, 0);
  t.commonDirty.AddAll(count);
  t.valueKey.assign(valueCount, 0);
  t.valueGrouped.assign(valueCount, 0);
  t.duplicateHash.assign(valueCount, 0);
  t.equivalentDirty.AddAll(valueCount);
  t.duplicateDirty.AddAll(valueCount);
}

void RoundUpkeep::TablesNoteInstruction(std::uint32_t position, bool existed) {
  Tables& t = *m_tables;
  const std::uint32_t valueCount = m_p.values.Count();
  Grow(t.liveReads, valueCount);
  Grow(t.needs, valueCount);
  Grow(t.liveMask, m_p.instructions.Count());
  Grow(t.guardMask, m_p.instructions.Count());
  Counts c{m_p, t};
  auto lower = [this, position](bool live) {
    return [this, live, position](std::uint32_t u) { Count(u, -1, live, position); };
  };
  auto raise = [this, position](bool live) {
    return [this, live, position](std::uint32_t u) { Count(u, 1, live, position); };
  };
  if (existed && m_instructions[position].node) {
    const InstructionImage& old = m_instructions[position];
    const std::uint32_t* args = ImageArguments(position);
    ForLiveReads(old.word, args, old.argumentCount, old.resultCount, t.liveMask[position], lower(true));
    ForNeeds(old.word, args, old.argumentCount, old.resultCount, t.guardMask[position], lower(false));
    const std::uint32_t* results = ImageResults(position);
    for (std::uint32_t r = 0; r < old.resultCount; ++r) {
      t.deadValues.Add(results[r]);
      t.guardValues.Add(results[r]);
      t.equivalentDirty.Add(results[r]);
      if (m_flow) NameGuard(results[r]);
    }
  }
  const IrInstruction* inst = m_p.instructions.Peek(position);
  t.liveMask[position] = c.LiveMask(inst);
  t.guardMask[position] = c.GuardMask(inst);
  if (inst) {
    ForLiveReads(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, t.liveMask[position],
                 raise(true));
    ForNeeds(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, t.guardMask[position],
             raise(false));
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      t.deadValues.Add(inst->results[r]);
      t.guardValues.Add(inst->results[r]);
      t.equivalentDirty.Add(inst->results[r]);
      if (m_flow) NameGuard(inst->results[r]);
    }
  }
  t.deadPositions.Add(position);
  t.commonDirty.Add(position);
}

void RoundUpkeep::TablesNoteValue(std::uint32_t value, const IrValue* old) {
  Tables& t = *m_tables;
  Grow(t.liveReads, m_p.values.Count());
  Grow(t.needs, m_p.values.Count());
  const IrValue* x = m_p.values.Peek(value);
  Counts c{m_p, t};
  // What the bank or the guard of the value itself decides.
  auto oldIntrinsic = old && ((TypeOf(m_p, old) & kRoot) || t.liveReads[value] > 0);
  if (oldIntrinsic != c.Intrinsic(value)) Flip(value, true);
  if (m_flow) NameGuard(value);
  bool oldPre = true;
  if (old) {
    const std::uint32_t type = TypeOf(m_p, old);
    oldPre = (type & kBankInitialised) ? true
             : (type & kFixedGuard)    ? old->predicate != kNoIndex || old->predicateSense != 0
                                       : t.needs[value] > 0;
  }
  if (oldPre != c.Pre(value) || (old && x && (TypeOf(m_p, old) ^ TypeOf(m_p, x)) & (kFixedGuard | kBankInitialised)))
    Flip(value, false);
  t.deadValues.Add(value);
  t.guardValues.Add(value);
  t.equivalentDirty.Add(value);
  t.duplicateDirty.Add(value);
  Writers(value, m_list2);
  for (std::uint32_t w : m_list2) {
    t.commonDirty.Add(w);
    if (const IrInstruction* inst = m_p.instructions.Peek(w))
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) t.equivalentDirty.Add(inst->results[r]);
  }
}

void RoundUpkeep::Flip(std::uint32_t value, bool live) {
  Tables& t = *m_tables;
  (live ? t.deadValues : t.guardValues).Add(value);
  const std::uint32_t w = Writer(value);
  if (w != kNoIndex) (live ? t.liveCascade : t.guardCascade).Add(w);
  if (live && m_flow) NameGuard(value);
}

void RoundUpkeep::Count(std::uint32_t value, int by, bool live, std::uint32_t reader) {
  Tables& t = *m_tables;
  std::vector<std::uint32_t>& counts = live ? t.liveReads : t.needs;
  if (value >= m_p.values.Count() || value >= counts.size()) return;
  const Counts c{m_p, t};
  const bool before = live ? c.Intrinsic(value) : c.Pre(value);
  counts[value] += by;
  const bool after = live ? c.Intrinsic(value) : c.Pre(value);
  if (after != before) Flip(value, live);
  if (!m_flow) return;
  // With blocks a guard joins its readers' guards: any change among them
  // is due. With loops a fall in support may leave a carried group alone.
  if (!live) t.guardValues.Add(value);
  else if (MayStrand(value, reader, by)) t.deadSuspect = true;
  // A member of a loop's group that comes alive brings the group with it:
  // the full pass's to raise.
  else if (after && !before && value < t.carried.size() && t.carried[value]) t.deadSuspect = true;
}

void RoundUpkeep::TablesSettle() {
  Tables& t = *m_tables;
  Counts c{m_p, t};
  while (!t.liveCascade.list.empty() || !t.guardCascade.list.empty()) {
    for (bool live : {true, false}) {
      upkeep::Marks& cascade = live ? t.liveCascade : t.guardCascade;
      if (cascade.list.empty()) continue;
      const std::uint32_t p = cascade.list.back();
      cascade.list.pop_back();
      cascade.marked[p] = 0;
      const IrInstruction* inst = m_p.instructions.Peek(p);
      std::uint32_t& stored = live ? t.liveMask[p] : t.guardMask[p];
      const std::uint32_t mask = live ? c.LiveMask(inst) : c.GuardMask(inst);
      if (mask == stored || !inst) continue;
      auto adjust = [this, live, p](int by) {
        return [this, live, by, p](std::uint32_t u) { Count(u, by, live, p); };
      };
      auto apply = [&](std::uint32_t m, int by) {
        if (live)
          ForLiveReads(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, m, adjust(by));
        else
          ForNeeds(inst->word, inst->arguments, inst->argumentCount, inst->resultCount, m, adjust(by));
      };
      apply(stored, -1);
      stored = mask;
      apply(mask, 1);
      if (live) t.deadPositions.Add(p);
      if (live && m_flow && !inst->IsArithmetic())
        for (std::uint32_t r = 0; r < inst->resultCount; ++r) NameGuard(inst->results[r]);
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) (live ? t.deadValues : t.guardValues).Add(inst->results[r]);
    }
  }
}

HRESULT RoundUpkeep::RemoveDeadCode() {
  Tables& t = *m_tables;
  if (t.deadAll || t.deadSuspect) {
    t.deadAll = t.deadSuspect = false;
    t.deadPositions.Clear();
    t.deadValues.Clear();
    const HRESULT hr = RunFull(RoundPass::DeadCode);
    // What the full pass kept is what is live: counted afresh.
    if (SUCCEEDED(hr) && m_ready && m_flow) BuildLiveness();
    return hr;
  }
  Attach();
  const StopAtEnd stop(*this);
  const HRESULT hr = RefreshUses();
  if (FAILED(hr)) return hr;
  if (!Collect(false)) return m_p.RemoveDeadCode();
  Counts c{m_p, t};
  // The levels first, as the pass sets them before it removes anything.
  auto live = [&](std::uint32_t v) {
    const std::uint32_t w = Writer(v);
    const IrInstruction* inst = w != kNoIndex ? m_p.instructions.Peek(w) : nullptr;
    return inst && !inst->IsArithmetic() ? (t.liveMask[w] & 1) != 0 : c.Intrinsic(v);
  };
  std::vector<std::uint32_t> dead;
  for (std::uint32_t v : t.deadValues.list)
    if (!live(v)) dead.push_back(v);
  std::vector<std::uint32_t> positions = t.deadPositions.list;
  t.deadValues.Clear();
  t.deadPositions.Clear();
  bool changed = false;
  upkeep::ComponentFlags keep;
  for (std::uint32_t p : positions) {
    // Each result's level is read before its instruction changes.
    IrInstruction* inst = m_p.instructions[p];
    bool* flags = keep.For(inst);
    if (!flags) return E_OUTOFMEMORY;
    changed |= opt::RemoveDeadAt(inst, flags, live);
  }
  for (std::uint32_t v : dead) changed |= opt::DiscardDead(m_p, v);
  return changed ? S_OK : S_FALSE;
}

HRESULT RoundUpkeep::RecomputePredicates() {
  Tables& t = *m_tables;
  if (t.guardAll) {
    t.guardAll = false;
    t.guardValues.Clear();
    const HRESULT hr = RunFull(RoundPass::Guards);
    if (SUCCEEDED(hr) && m_ready && m_flow) BuildGuards();
    return hr;
  }
  Attach();
  const StopAtEnd stop(*this);
  HRESULT hr = RefreshUses();
  if (FAILED(hr)) return hr;
  if (!Collect(false)) return m_p.RecomputePredicates();
  Counts c{m_p, t};
  if (m_flow) {
    bool changed = false;
    if ((hr = UpdateGuards(&changed)) == S_FALSE) {
      t.guardValues.Clear();
      hr = RunFull(RoundPass::Guards);
      if (SUCCEEDED(hr) && m_ready) BuildGuards();
      return hr;
    }
    if (FAILED(hr)) return hr;
    // The move of instructions below their guards: none stands above its own.
    if (changed && FAILED(hr = RefreshUses())) return hr;
    return changed ? S_OK : S_FALSE;
  }
  std::vector<std::uint32_t> values = t.guardValues.list;
  t.guardValues.Clear();
  bool changed = false;
  for (std::uint32_t v : values) {
    const IrValue* x = m_p.values.Peek(v);
    if (!x) continue;
    const std::uint32_t type = TypeOf(m_p, x);
    bool sense;
    if (type & kBankInitialised) {
      sense = true;
    } else if (type & kFixedGuard) {
      continue;
    } else {
      const std::uint32_t w = Writer(v);
      sense = w != kNoIndex ? c.Common(m_p.instructions.Peek(w)) : t.needs[v] > 0;
    }
    if (x->predicate == kNoIndex && (x->predicateSense != 0) == sense) continue;
    IrValue& y = *m_p.values[v];
    y.predicate = kNoIndex;
    y.predicateSense = sense ? 1 : 0;
    changed = true;
  }
  // The move of instructions below their guards: none guards anything here.
  if (changed && FAILED(hr = RefreshUses())) return hr;
  return changed ? S_OK : S_FALSE;
}

// --- Merging passes ---------------------------------------------------------------------------

HRESULT RoundUpkeep::MergeCommonInstructions() {
  Tables& t = *m_tables;
  Attach();
  {
    const StopAtEnd stop(*this);
    NumberValues();
    if (!Collect(false)) return m_p.MergeCommonInstructions(0);
    Grow(t.commonHash, m_p.instructions.Count(), std::uint64_t{0});
    bool failed = false;
    PodArray<std::uint32_t> words;
    t.commonDirty.ForEach([&](std::uint32_t p) {
      if (failed || p >= m_p.instructions.Count()) return;
      if (const std::uint64_t old = t.commonHash[p]) {
        const auto at = t.commonCounts.find(old);
        t.commonPairs -= --at->second;
        if (!at->second) t.commonCounts.erase(at);
        t.commonHash[p] = 0;
      }
      if (!opt::CommonCandidate(m_p, p, 0)) return;
      words.Clear();
      if (!opt::CommonKey(m_p, p, words)) {
        failed = true;
        return;
      }
      std::uint64_t hash = 0x2545F4914F6CDD1Dull;
      for (std::size_t k = 0; k < words.Size(); ++k) hash = Mix(hash, words[k]);
      hash |= 1;  // 0 is "no candidate"
      t.commonHash[p] = hash;
      t.commonPairs += t.commonCounts[hash]++;
    });
    t.commonDirty.Clear();
    if (failed) return E_OUTOFMEMORY;
    // No two candidates alike: the pass would merge nothing.
    if (t.commonPairs == 0) return S_FALSE;
  }
  return RunFull(RoundPass::Common);
}

bool RoundUpkeep::UpdateGroups() {
  Tables& t = *m_tables;
  const std::uint32_t valueCount = m_p.values.Count();
  Grow(t.valueKey, valueCount);
  Grow(t.valueGrouped, valueCount, std::uint8_t{0});
  Grow(t.groupNext, valueCount, kNoIndex);
  Grow(t.groupPrev, valueCount, kNoIndex);
  // A group of more than this many has pairs the pass's look-back may miss.
  const std::uint32_t big = opt::kEquivalenceLookBack + 2;
  t.equivalentDirty.ForEach([&](std::uint32_t v) {
    if (v >= valueCount) return;
    if (t.valueGrouped[v]) {
      const std::uint32_t key = t.valueKey[v];
      upkeep::FlatMap::Entry& g = *t.groups.Find(key);
      if (g.second == big) --t.bigGroups;
      const std::uint32_t next = t.groupNext[v], prev = t.groupPrev[v];
      if (prev != kNoIndex) t.groupNext[prev] = next;
      else g.first = next;
      if (next != kNoIndex) t.groupPrev[next] = prev;
      if (--g.second == 0) t.groups.Erase(key);
      t.valueGrouped[v] = 0;
    }
    std::uint32_t key;
    if (!opt::EquivalenceKey(m_p, v, &key)) return;
    // Values under different guards never merge: groups split by guard
    // (the pass keys without it, so its runs hold more).
    const IrValue& x = *m_p.values.Peek(v);
    key = (key ^ x.predicate * 0x9E3779B1u) * 2111 + x.predicateSense;
    t.valueKey[v] = key;
    t.valueGrouped[v] = 1;
    upkeep::FlatMap::Entry& g = t.groups.Insert(key);
    t.groupNext[v] = g.second ? g.first : kNoIndex;
    t.groupPrev[v] = kNoIndex;
    if (g.second) t.groupPrev[g.first] = v;
    g.first = v;
    if (++g.second == big) ++t.bigGroups;
  });
  return t.bigGroups == 0;
}

// Whether a candidate merges with any other of its group.
bool RoundUpkeep::MergesInGroup(std::uint32_t value) {
  Tables& t = *m_tables;
  if (value >= t.valueGrouped.size() || !t.valueGrouped[value]) return false;
  const upkeep::FlatMap::Entry* g = t.groups.Find(t.valueKey[value]);
  if (!g || g->second < 2) return false;
  IrInstruction* x = opt::EquivalenceDefiner(m_p, value);
  for (std::uint32_t u = g->first; u != kNoIndex; u = t.groupNext[u]) {
    IrInstruction *earlier, *later;
    std::uint32_t match[16];
    if (u != value && x && opt::EquivalentPair(m_p, x, opt::EquivalenceDefiner(m_p, u), &earlier, &later, match))
      return true;
  }
  return false;
}

HRESULT RoundUpkeep::MergeEquivalentValues() {
  Tables& t = *m_tables;
  Attach();
  {
    const StopAtEnd stop(*this);
    const HRESULT hr = RefreshUses();
    if (FAILED(hr)) return hr;
    NumberValues();
    if (!Collect(false)) return m_p.MergeEquivalentValues();
    // Untrusted groups (the first run) are the full pass's to compare. Where
    // no two members of a group merge, whatever their order, the pass
    // merges nothing.
    bool idle = t.equivalentTrusted;
    if (idle) {
      UpdateGroups();
      t.equivalentDirty.ForEach([&](std::uint32_t v) { idle = idle && !MergesInGroup(v); });
    }
    if (idle) {
      t.equivalentDirty.Clear();
      t.equivalentTrusted = true;
      return S_FALSE;
    }
  }
  const HRESULT hr = RunFull(RoundPass::Equivalent);
  if (FAILED(hr) || !m_ready) return hr;
  // Its last round compared every pair of each group within its look-back;
  // a group past it has its pairs compared here, where that costs little.
  t.equivalentTrusted = UpdateGroups() || NoPairMerges();
  t.equivalentDirty.Clear();
  return hr;
}

bool RoundUpkeep::NoPairMerges() {
  Tables& t = *m_tables;
  const std::uint32_t big = opt::kEquivalenceLookBack + 2;
  std::uint64_t pairs = 0;
  t.groups.ForEach([&](const upkeep::FlatMap::Entry& g) {
    if (g.second >= big) pairs += std::uint64_t{g.second} * g.second;
  });
  if (pairs > 4 * std::uint64_t{m_p.instructions.Count()} + 4096) return false;
  m_p.ChargeWork(pairs);
  bool none = true;
  t.groups.ForEach([&](const upkeep::FlatMap::Entry& g) {
    if (g.second < big) return;
    for (std::uint32_t u = g.first; u != kNoIndex && none; u = t.groupNext[u]) none = !MergesInGroup(u);
  });
  return none;
}

HRESULT RoundUpkeep::MergeDuplicateValues() {
  if (!m_ready) return m_p.MergeDuplicateValues();
  Tables& t = *m_tables;
  NumberValues();
  if (!Collect(false)) return m_p.MergeDuplicateValues();
  const std::uint32_t valueCount = m_p.values.Count();
  Grow(t.duplicateHash, valueCount, std::uint64_t{0});
  // Kind 1 literals, kind 2 register reads, as the pass's two sorts.
  auto kind = [&](std::uint32_t v) {
    return opt::MergesAsLiteral(m_p, v) ? 1 : opt::MergesAsRegisterRead(m_p, v) ? 2 : 0;
  };
  auto hashOf = [&](std::uint32_t v, int k) {
    const IrValue& x = *m_p.values.Peek(v);
    std::uint64_t h = Mix(0x1234567ull, static_cast<std::uint64_t>(k));
    if (k == 1) {
      const double d = x.rangeLow == 0.0 ? 0.0 : x.rangeLow;  // -0 equals 0
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return Mix(Mix(h, x.bank), bits) | 1;
    }
    for (std::uint32_t f : {x.alias, x.binding, x.bank, x.reg, x.relativeIndex, x.component, x.predicate,
                            x.predicateSense})
      h = Mix(h, f);
    return h | 1;
  };
  t.duplicateDirty.ForEach([&](std::uint32_t v) {
    if (v >= valueCount) return;
    if (const std::uint64_t old = t.duplicateHash[v]) {
      std::vector<std::uint32_t>& bucket = t.duplicates[old];
      bucket.erase(std::find(bucket.begin(), bucket.end(), v));
      if (bucket.empty()) t.duplicates.erase(old);
      t.duplicateHash[v] = 0;
    }
    if (const int k = kind(v)) {
      t.duplicateHash[v] = hashOf(v, k);
      t.duplicates[t.duplicateHash[v]].push_back(v);
    }
  });
  // A run of equal values holds a value changed since the last merge.
  auto run = [&](std::uint32_t v, int k, std::vector<std::uint32_t>& out) {
    out.clear();
    if (v >= valueCount || !t.duplicateHash[v] || kind(v) != k) return;
    const IndexComparator compare = k == 1 ? CompareLiteralValues : CompareValueKeys;
    for (std::uint32_t u : t.duplicates[t.duplicateHash[v]])
      if (kind(u) == k && compare(u, v, &m_p) == 0) out.push_back(u);
  };
  std::vector<std::uint32_t> members;
  // Register reads merge in the pass's sorted order, which decides what the
  // survivor takes over: where any would merge, the pass does it.
  bool registers = false;
  t.duplicateDirty.ForEach([&](std::uint32_t v) {
    if (registers) return;
    run(v, 2, members);
    registers = members.size() >= 2;
  });
  if (registers) {
    t.duplicateDirty.Clear();
    return m_p.MergeDuplicateValues();
  }
  bool changed = false;
  t.duplicateDirty.ForEach([&](std::uint32_t v) {
    run(v, 1, members);
    if (members.size() < 2) return;
    const std::uint32_t survivor = *std::min_element(members.begin(), members.end());
    for (std::uint32_t u : members) {
      if (u == survivor) continue;
      opt::Redirect(m_p, u, survivor);
      opt::Discard(m_p, u);
      changed = true;
    }
  });
  t.duplicateDirty.Clear();
  if (changed) ForwardRedirections();
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader

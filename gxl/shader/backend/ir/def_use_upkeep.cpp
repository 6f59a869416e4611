#include "gxl/shader/backend/ir/def_use_upkeep.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gxl/shader/backend/ir/def_use_walk.h"

namespace gxl::shader {

namespace {

using Indexes = DefUseUpkeep::Indexes;

// List entries shifted per unit of work (a shift is a memory move).
constexpr std::uint64_t kMovedPerUnit = 128;

constexpr Indexes kEmpty{nullptr, 0, 0};

bool Reserve(Indexes& list, std::uint32_t n) {
  if (n <= list.capacity) return true;
  std::uint32_t capacity = list.capacity ? list.capacity : 4;
  while (capacity < n) {
    if (capacity > 0x3FFFFFFFu) return false;
    capacity *= 2;
  }
  void* grown = std::realloc(list.data, std::size_t{capacity} * sizeof(std::uint32_t));
  if (!grown) return false;
  list.data = static_cast<std::uint32_t*>(grown);
  list.capacity = capacity;
  return true;
}

bool Push(Indexes& list, std::uint32_t x) {
  if (!Reserve(list, list.size + 1)) return false;
  list.data[list.size++] = x;
  return true;
}

// Into a sorted list, after the entries equal to x; `moved` counts the
// entries shifted.
bool Insert(Indexes& list, std::uint32_t x, std::uint64_t& moved) {
  if (list.size == 0 || list.data[list.size - 1] <= x) return Push(list, x);
  if (!Reserve(list, list.size + 1)) return false;
  std::uint32_t* end = list.data + list.size;
  std::uint32_t* at = std::upper_bound(list.data, end, x);
  moved += static_cast<std::uint64_t>(end - at);
  std::memmove(at + 1, at, static_cast<std::size_t>(end - at) * sizeof(std::uint32_t));
  *at = x;
  ++list.size;
  return true;
}

// One entry x out of a sorted list.
void EraseSorted(Indexes& list, std::uint32_t x, std::uint64_t& moved) {
  std::uint32_t* end = list.data + list.size;
  std::uint32_t* at = std::lower_bound(list.data, end, x);
  if (at == end || *at != x) return;
  moved += static_cast<std::uint64_t>(end - at);
  std::memmove(at, at + 1, static_cast<std::size_t>(end - at - 1) * sizeof(std::uint32_t));
  --list.size;
}

// One entry x out of an unsorted list.
void EraseAny(Indexes& list, std::uint32_t x) {
  for (std::uint32_t i = 0; i < list.size; ++i) {
    if (list.data[i] != x) continue;
    list.data[i] = list.data[--list.size];
    return;
  }
}

void Free(Indexes& list) {
  std::free(list.data);
  list = kEmpty;
}

// Stamps for `count` records: grown with zeros.
bool GrowStamps(PodArray<std::uint32_t>& stamps, std::uint32_t count) {
  if (stamps.Size() >= count) return true;
  if (!stamps.Reserve(count)) return false;
  while (stamps.Size() < count) stamps.Append(0);
  return true;
}

// What a slot's record holds: pairs of a kind and an index.
enum Kind : std::uint32_t { kMention, kUse, kRelative, kDefine };

}  // namespace

// --- Journals ---------------------------------------------------------------------------

void DefUseUpkeep::Attach() {
  m_valueJournal.NextRound();
  m_instructionJournal.NextRound();
  m_bankJournal.NextRound();
  m_p.values.Watch(&m_valueJournal);
  m_p.instructions.Watch(&m_instructionJournal);
  m_p.banks.Watch(&m_bankJournal);
}

void DefUseUpkeep::Detach() {
  m_p.values.Watch(nullptr);
  m_p.instructions.Watch(nullptr);
  m_p.banks.Watch(nullptr);
}

void DefUseUpkeep::FreeIndex() {
  for (std::size_t i = 0; i < m_values.Size(); ++i) {
    ValueEntry& e = m_values[i];
    Free(e.uses);
    Free(e.defs);
    Free(e.mentions);
    Free(e.aliasedBy);
  }
  for (std::size_t i = 0; i < m_banks.Size(); ++i) Free(m_banks[i].reads);
  for (std::size_t i = 0; i < m_slots.Size(); ++i) Free(m_slots[i]);
  for (std::size_t i = 0; i < m_raw.Size(); ++i) Free(m_raw[i]);
  m_values.Reset();
  m_banks.Reset();
  m_slots.Reset();
  m_raw.Reset();
  m_dangling.Clear();
  m_chains.Clear();
  m_chained.Clear();
  m_pending.Clear();
  m_pendingBanks.Clear();
}

void DefUseUpkeep::Stop() {
  Detach();
  FreeIndex();
  m_running = false;
}

// --- The index ---------------------------------------------------------------------------

void DefUseUpkeep::MarkValue(std::uint32_t v) {
  if (v >= m_values.Size() || m_valueStamps[v] == m_round) return;
  m_valueStamps[v] = m_round;
  if (!m_dirtyValues.Append(v)) m_failed = true;
}

void DefUseUpkeep::MarkBank(std::uint32_t b) {
  if (b >= m_banks.Size() || m_bankStamps[b] == m_round) return;
  m_bankStamps[b] = m_round;
  if (!m_dirtyBanks.Append(b)) m_failed = true;
}

void DefUseUpkeep::MarkSlot(std::uint32_t s) {
  if (s >= m_slots.Size() || m_slotStamps[s] == m_round) return;
  m_slotStamps[s] = m_round;
  if (!m_rereads.Append(s)) m_failed = true;
}

bool DefUseUpkeep::AddValue(std::uint32_t v) {
  const IrValue* x = m_p.values[v];
  ValueEntry e{kEmpty, kEmpty, kEmpty, kEmpty, kNoIndex, kNoIndex, kNoIndex, x != nullptr, {}};
  if (x) {
    e.alias = x->alias;
    e.relativeIndex = x->relativeIndex;
    e.bank = x->bank;
    e.set = FieldsOf(*x);
  }
  return m_values.Append(e);
}

void DefUseUpkeep::Link(std::uint32_t v) {
  const std::uint32_t a = m_values[v].alias;
  if (a == kNoIndex || a == v || !m_values[v].present) return;
  if (a >= m_values.Size()) {
    if (!m_dangling.Append(v | kDanglingAlias)) m_failed = true;
  } else if (!Push(m_values[a].aliasedBy, v)) {
    m_failed = true;
  }
}

void DefUseUpkeep::Unlink(std::uint32_t v) {
  const std::uint32_t a = m_values[v].alias;
  if (a != kNoIndex && a != v && a < m_values.Size()) EraseAny(m_values[a].aliasedBy, v);
}

void DefUseUpkeep::RereadReadersOf(std::uint32_t v) {
  const ValueEntry& e = m_values[v];
  for (const Indexes* list : {&e.uses, &e.defs, &e.mentions})
    for (std::uint32_t i = 0; i < list->size; ++i) MarkSlot(list->data[i]);
}

void DefUseUpkeep::RawOf(std::uint32_t position, PodArray<std::uint32_t>& out) {
  out.Clear();
  const IrInstruction* inst = m_p.instructions[position];
  if (!inst || inst->word < 0x100000) {
    m_failed = !out.Append(0u) || m_failed;
    return;
  }
  const std::uint32_t head[3] = {inst->word, inst->argumentCount, inst->resultCount};
  if (!out.Append(head, 3) || !out.Append(inst->arguments, inst->argumentCount) ||
      !out.Append(inst->results, inst->resultCount))
    m_failed = true;
}

bool DefUseUpkeep::Unchanged(std::uint32_t position) {
  RawOf(position, m_rawScratch);
  const Indexes& raw = m_raw[position];
  return raw.size == m_rawScratch.Size() &&
         std::memcmp(raw.data, m_rawScratch.Data(), raw.size * sizeof(std::uint32_t)) == 0;
}

void DefUseUpkeep::Reread(std::uint32_t position) {
  RawOf(position, m_rawScratch);
  Indexes& raw = m_raw[position];
  if (!Reserve(raw, static_cast<std::uint32_t>(m_rawScratch.Size()))) {
    m_failed = true;
    return;
  }
  std::memcpy(raw.data, m_rawScratch.Data(), m_rawScratch.Size() * sizeof(std::uint32_t));
  raw.size = static_cast<std::uint32_t>(m_rawScratch.Size());
  const std::uint32_t valueCount = m_p.values.Count();
  m_scratch.Clear();
  bool dangling = false;
  std::uint32_t mentions = 0;
  auto note = [this](Kind kind, std::uint32_t index) {
    if (!m_scratch.Append(kind) || !m_scratch.Append(index)) m_failed = true;
  };
  defuse::VisitInstruction(
      m_p, position,
      [&](std::uint32_t raw) {
        ++mentions;
        if (raw >= valueCount)
          dangling = true;
        else
          note(kMention, raw);
      },
      [&](std::uint32_t value, const IrValue&) { note(kUse, value); },
      [&](std::uint32_t bank, const RegisterBank&) { note(kRelative, bank); },
      [&](std::uint32_t value, const IrValue&) { note(kDefine, value); });
  // A read naming a value past the list, or a relative index chain long
  // enough to be a cycle (the walk's bound is the value count), reads
  // otherwise once values are added.
  if ((dangling || mentions > valueCount) && !m_dangling.Append(position)) m_failed = true;
  Indexes& old = m_slots[position];
  const std::uint32_t size = static_cast<std::uint32_t>(m_scratch.Size());
  if (old.size == size && (size == 0 || std::memcmp(old.data, m_scratch.Data(), size * sizeof(std::uint32_t)) == 0))
    return;
  auto apply = [&](const std::uint32_t* pairs, std::uint32_t count, bool add) {
    for (std::uint32_t i = 0; i + 1 < count; i += 2) {
      const std::uint32_t index = pairs[i + 1];
      Indexes* list = nullptr;
      switch (pairs[i]) {
        case kMention: list = &m_values[index].mentions; break;
        case kUse: list = &m_values[index].uses, MarkValue(index); break;
        case kDefine: list = &m_values[index].defs, MarkValue(index); break;
        default: list = &m_banks[index].reads, MarkBank(index); break;
      }
      if (!add)
        EraseSorted(*list, position, m_moved);
      else if (!Insert(*list, position, m_moved))
        m_failed = true;
    }
  };
  apply(old.data, old.size, false);
  apply(m_scratch.Data(), size, true);
  if (!Reserve(old, size)) {
    m_failed = true;
    return;
  }
  if (size) std::memcpy(old.data, m_scratch.Data(), size * sizeof(std::uint32_t));
  old.size = size;
}

void DefUseUpkeep::Recompute(std::uint32_t v) {
  if (m_memberStamps[v] == m_round) return;
  IrValue* single = m_p.values[v];
  if (!single) return;
  auto base = [this](std::uint32_t m, IrValue& x) {
    const ValueEntry& e = m_values[m];
    x.useCount = e.uses.size;
    x.firstUse = e.uses.size ? e.uses.data[0] : kNoIndex;
    x.lastUse = e.uses.size ? e.uses.data[e.uses.size - 1] : 0;
    x.definingPosition = e.defs.size ? e.defs.data[e.defs.size - 1] : kNoIndex;
    x.earliestDefinition = x.latestDefinition = kNoIndex;
    defuse::WidenToRelativeWindow(m_p, x);
  };
  if (m_values[v].aliasedBy.size == 0 && (single->alias == v || !m_p.values[single->alias])) {
    // Most values stand alone: the alias merge leaves them as they are.
    m_memberStamps[v] = m_round;
    base(v, *single);
    m_values[v].set = FieldsOf(*single);
    return;
  }
  // The values joined to v by alias links, in index order: the full
  // rebuild's alias merge touches a value and its alias only.
  m_members.Clear();
  m_memberStamps[v] = m_round;
  if (!m_members.Append(v)) {
    m_failed = true;
    return;
  }
  const std::uint32_t count = static_cast<std::uint32_t>(m_values.Size());
  for (std::size_t k = 0; k < m_members.Size(); ++k) {
    const std::uint32_t y = m_members[k];
    const IrValue* x = m_p.values[y];
    auto join = [&](std::uint32_t z) {
      if (z >= count || m_memberStamps[z] == m_round || !m_p.values[z]) return;
      m_memberStamps[z] = m_round;
      if (!m_members.Append(z)) m_failed = true;
    };
    if (x && x->alias != y) join(x->alias);
    const Indexes& by = m_values[y].aliasedBy;
    for (std::uint32_t i = 0; i < by.size; ++i) join(by.data[i]);
  }
  std::sort(m_members.Data(), m_members.Data() + m_members.Size());
  m_memberBanks.Clear();
  for (std::size_t k = 0; k < m_members.Size(); ++k) {
    IrValue& x = *m_p.values[m_members[k]];
    base(m_members[k], x);
    if (!m_memberBanks.Append(x.bank)) m_failed = true;
  }
  bool chain = false;
  for (std::size_t k = 0; k < m_members.Size() && m_p.optimisedFlag && !m_failed; ++k) {
    const std::uint32_t m = m_members[k];
    defuse::MergeAlias(m_p, m);
    // A value aliasing an alias: the merge moves places along the chain a
    // step per rebuild, so the rebuild's every refresh repeats it.
    const IrValue* x = m_p.values[m];
    const IrValue* target = x->alias != m ? m_p.values[x->alias] : nullptr;
    chain = chain || (target && target->alias != x->alias && m_p.values[target->alias]);
    // A merge that moves a value to another bank changes the window it is
    // widened to, and for a relatively read one which bank its reads count
    // against, in the next rebuild: the next refresh takes it up again.
    if (x->bank != m_memberBanks[k] && !m_pending.Append(m)) m_failed = true;
  }
  if (chain && !m_chains.Append(v)) m_failed = true;
  for (std::size_t k = 0; k < m_members.Size(); ++k) m_values[m_members[k]].set = FieldsOf(*m_p.values[m_members[k]]);
}

// --- Refresh ----------------------------------------------------------------------------

HRESULT DefUseUpkeep::Start() {
  Stop();
  HRESULT hr = m_p.RebuildDefUse();
  // Definition chains of a register table are not kept up to date.
  if (FAILED(hr) || m_p.registerTableFlag) return hr;
  m_failed = false;
  ++m_round;
  const std::uint32_t valueCount = m_p.values.Count(), slotCount = m_p.instructions.Count(),
                      bankCount = m_p.banks.Count();
  bool ok = GrowStamps(m_valueStamps, valueCount) && GrowStamps(m_memberStamps, valueCount) &&
            GrowStamps(m_slotStamps, slotCount) && GrowStamps(m_bankStamps, bankCount);
  for (std::uint32_t b = 0; ok && b < bankCount; ++b) ok = m_banks.Append(BankEntry{kEmpty, kNoIndex, 0, false});
  for (std::uint32_t v = 0; ok && v < valueCount; ++v) ok = AddValue(v);
  for (std::uint32_t v = 0; ok && v < valueCount; ++v) Link(v);
  for (std::uint32_t s = 0; ok && s < slotCount; ++s) ok = m_slots.Append(kEmpty) && m_raw.Append(kEmpty);
  for (std::uint32_t s = 0; ok && s < slotCount; ++s) Reread(s);
  // The windows the rebuild widened to. Where the rebuild's alias merge moved
  // a relatively read value to another bank, its next rebuild counts those
  // reads elsewhere: the next refresh sets such a bank from the index.
  for (std::uint32_t b = 0; ok && b < bankCount; ++b) {
    BankEntry& e = m_banks[b];
    const RegisterBank* bank = m_p.banks[b];
    e.read = bank && bank->relativeUseCount != 0;
    e.first = e.read ? bank->firstRelativeUse : kNoIndex;
    e.last = e.read ? bank->lastRelativeUse : 0;
    const bool indexed = e.reads.size != 0;
    if (bank && (indexed != e.read || bank->relativeUseCount != e.reads.size ||
                 (indexed && (e.reads.data[0] != e.first || e.reads.data[e.reads.size - 1] != e.last))))
      ok = m_pendingBanks.Append(b);
  }
  // Chains of aliases, which every refresh merges again; and every alias,
  // which the rebuild's merge may have moved to another bank (the next
  // refresh takes it up again, as a merge of its own would).
  for (std::uint32_t v = 0; ok && v < valueCount; ++v) {
    const IrValue* x = m_p.values[v];
    const IrValue* target = x && x->alias != v ? m_p.values[x->alias] : nullptr;
    if (target && target->alias != x->alias && m_p.values[target->alias]) ok = m_chains.Append(v);
    if (target && ok) ok = m_pending.Append(v);
    if (ok && HasAliasChain(m_p, v)) ok = m_chained.Append(v);
  }
  if (!ok || m_failed) {
    FreeIndex();
    return S_OK;  // the analysis stands; the next refresh rebuilds in full again
  }
  m_dirtyValues.Clear();
  m_dirtyBanks.Clear();
  m_rereads.Clear();
  m_running = true;
  Attach();
  return S_OK;
}

HRESULT DefUseUpkeep::Incremental() {
  Detach();
  m_moved = 0;
  const std::uint32_t valueCount = m_p.values.Count(), slotCount = m_p.instructions.Count(),
                      bankCount = m_p.banks.Count();
  const std::uint32_t oldValues = static_cast<std::uint32_t>(m_values.Size());
  if (m_valueJournal.Lost() || m_instructionJournal.Lost() || m_bankJournal.Lost() || m_p.registerTableFlag ||
      valueCount < oldValues || slotCount < m_slots.Size() || bankCount < m_banks.Size())
    return Start();
  if (++m_round == 0) {
    for (PodArray<std::uint32_t>* s : {&m_valueStamps, &m_memberStamps, &m_slotStamps, &m_bankStamps})
      std::memset(s->Data(), 0, s->Size() * sizeof(std::uint32_t));
    m_round = 1;
  }
  m_failed = !(GrowStamps(m_valueStamps, valueCount) && GrowStamps(m_memberStamps, valueCount) &&
               GrowStamps(m_slotStamps, slotCount) && GrowStamps(m_bankStamps, bankCount));
  if (m_failed) return Start();
  m_dirtyValues.Clear();
  m_dirtyBanks.Clear();
  m_rereads.Clear();

  // Records appended since: banks and values first, as instructions name them.
  while (m_banks.Size() < bankCount && !m_failed) {
    m_failed = !m_banks.Append(BankEntry{kEmpty, kNoIndex, 0, false});
    MarkBank(static_cast<std::uint32_t>(m_banks.Size() - 1));
  }
  for (std::uint32_t v = oldValues; v < valueCount && !m_failed; ++v) m_failed = !AddValue(v);
  for (std::uint32_t v = oldValues; v < valueCount && !m_failed; ++v) {
    Link(v);
    MarkValue(v);
    if (IrValue* x = m_p.values[v]) x->coalesceLink = v;
    if (HasAliasChain(m_p, v) && !m_chained.Append(v)) m_failed = true;
  }
  if (valueCount > oldValues) {
    // Names past the list may name the new values now.
    m_carried.Clear();
    if (!m_carried.Append(m_dangling.Data(), m_dangling.Size())) return Start();
    m_dangling.Clear();
    for (std::size_t i = 0; i < m_carried.Size(); ++i) {
      const std::uint32_t d = m_carried[i];
      if (!(d & kDanglingAlias)) {
        MarkSlot(d);
        continue;
      }
      const std::uint32_t v = d & ~kDanglingAlias;
      MarkValue(v);
      RereadReadersOf(v);
      Link(v);
    }
  }
  while (m_slots.Size() < slotCount && !m_failed) {
    m_failed = !m_slots.Append(kEmpty) || !m_raw.Append(kEmpty);
    MarkSlot(static_cast<std::uint32_t>(m_slots.Size() - 1));
  }

  // Records the rewrites reached.
  for (std::size_t i = 0; i < m_pendingBanks.Size(); ++i) MarkBank(m_pendingBanks[i]);
  m_pendingBanks.Clear();
  for (std::size_t i = 0; i < m_bankJournal.NotedCount(); ++i) MarkBank(m_bankJournal.Noted()[i]);
  auto examine = [&](std::uint32_t v, bool pending) -> bool {
    if (v >= oldValues) return true;
    ValueEntry& e = m_values[v];
    const IrValue* x = m_p.values[v];
    if (!x) return !e.present;  // a value gone: its index has to be rebuilt
    const bool counted = e.present && x->alias == e.alias && x->relativeIndex == e.relativeIndex &&
                         (x->relativeIndex == kNoIndex || x->bank == e.bank);
    e.bank = x->bank;
    // Reached but not changed: nothing to do (unless its reads changed).
    if (counted && !pending && FieldsOf(*x) == e.set) return true;
    MarkValue(v);
    if (counted) return true;
    // How the reads through v count changed: they are read again.
    Unlink(v);
    MarkValue(e.alias);
    e.present = true;
    e.alias = x->alias;
    e.relativeIndex = x->relativeIndex;
    Link(v);
    MarkValue(e.alias);
    RereadReadersOf(v);
    // v, or a value aliasing v, may have become an alias chain.
    if (HasAliasChain(m_p, v) && !m_chained.Append(v)) m_failed = true;
    const Indexes& by = e.aliasedBy;
    for (std::uint32_t i = 0; i < by.size; ++i)
      if (HasAliasChain(m_p, by.data[i]) && !m_chained.Append(by.data[i])) m_failed = true;
    return true;
  };
  for (std::size_t i = 0; i < m_pending.Size(); ++i)
    if (!examine(m_pending[i], true)) return Start();
  m_pending.Clear();
  for (std::size_t i = 0; i < m_valueJournal.NotedCount(); ++i)
    if (!examine(m_valueJournal.Noted()[i], false)) return Start();
  // Instructions reached but left as they were read count as they did.
  for (std::size_t i = 0; i < m_instructionJournal.NotedCount(); ++i) {
    const std::uint32_t s = m_instructionJournal.Noted()[i];
    if (s < m_slots.Size() && m_slotStamps[s] != m_round && !Unchanged(s)) MarkSlot(s);
  }

  for (std::size_t i = 0; i < m_rereads.Size() && !m_failed; ++i) Reread(m_rereads[i]);

  for (std::size_t i = 0; i < m_dirtyBanks.Size(); ++i) {
    const std::uint32_t b = m_dirtyBanks[i];
    RegisterBank* bank = m_p.banks[b];
    const BankEntry& e = m_banks[b];
    if (!bank) continue;
    const bool read = e.reads.size != 0;
    bank->relativeUseCount = e.reads.size;
    bank->firstRelativeUse = read ? e.reads.data[0] : kNoIndex;
    bank->lastRelativeUse = read ? e.reads.data[e.reads.size - 1] : 0;
    bank->definitions = nullptr;
    // Every value of the bank lives over its window: a new window is no
    // local change.
    if (read != e.read || (read && (bank->firstRelativeUse != e.first || bank->lastRelativeUse != e.last)))
      return Start();
  }

  for (std::size_t i = 0; i < m_chains.Size(); ++i) MarkValue(m_chains[i]);
  m_chains.Clear();  // Recompute enters those still chained
  for (std::size_t i = 0; i < m_dirtyValues.Size() && !m_failed; ++i) Recompute(m_dirtyValues[i]);
  // Chains that are no longer chains leave the list (each value once).
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m_chained.Size(); ++i) {
    const std::uint32_t v = m_chained[i];
    if (m_memberStamps[v] == ~m_round || !HasAliasChain(m_p, v)) continue;
    m_memberStamps[v] = ~m_round;
    m_chained[kept++] = v;
  }
  m_chained.Truncate(kept);
  if (m_failed) return Start();
  // What the rewrites reached of the instructions, and what changed of the
  // values (the values merely reached depend on the reference switch's scans).
  // A position read by many values' lists (a value read by every
  // instruction) shifts the rest of each list it enters or leaves.
  const std::uint64_t work = std::uint64_t{m_rereads.Size()} + m_dirtyValues.Size() +
                             m_instructionJournal.NotedCount() + m_moved / kMovedPerUnit + 1;
  m_moved = 0;
  Attach();
  return m_p.ChargeWork(work);
}

bool DefUseUpkeep::HasAliasChain(const ShaderProgram& p, std::uint32_t v) {
  const IrValue* x = p.values.Peek(v);
  if (!x || x->alias == kNoIndex || x->alias == v) return false;
  const IrValue* target = p.values.Peek(x->alias);
  return target && target->alias != kNoIndex && target->alias != x->alias && target->alias != v;
}

bool DefUseUpkeep::AliasCandidates(std::uint32_t target, PodArray<std::uint32_t>& out) const {
  if (!m_running || m_p.referenceSearches) return false;
  bool ok = out.Append(m_valueJournal.Noted(), m_valueJournal.NotedCount());
  if (target < m_values.Size()) ok = ok && out.Append(m_values[target].aliasedBy.data, m_values[target].aliasedBy.size);
  for (std::uint32_t v = static_cast<std::uint32_t>(m_values.Size()); ok && v < m_p.values.Count(); ++v)
    ok = out.Append(v);
  return ok && !m_valueJournal.Lost();
}

bool DefUseUpkeep::ReaderCandidates(std::uint32_t value, PodArray<std::uint32_t>& out) const {
  if (!m_running || m_p.referenceSearches) return false;
  bool ok = out.Append(m_instructionJournal.Noted(), m_instructionJournal.NotedCount());
  if (value < m_values.Size()) ok = ok && out.Append(m_values[value].mentions.data, m_values[value].mentions.size);
  for (std::uint32_t s = static_cast<std::uint32_t>(m_slots.Size()); ok && s < m_p.instructions.Count(); ++s)
    ok = out.Append(s);
  for (std::size_t i = 0; ok && i < m_dangling.Size(); ++i)  // naming values added since
    if (!(m_dangling[i] & kDanglingAlias)) ok = out.Append(m_dangling[i]);
  return ok && !m_instructionJournal.Lost();
}

bool DefUseUpkeep::ChainCandidates(PodArray<std::uint32_t>& out) const {
  if (!m_running || m_p.referenceSearches) return false;
  bool ok = out.Append(m_chained.Data(), m_chained.Size()) &&
            out.Append(m_valueJournal.Noted(), m_valueJournal.NotedCount());
  for (std::uint32_t v = static_cast<std::uint32_t>(m_values.Size()); ok && v < m_p.values.Count(); ++v)
    ok = out.Append(v);
  // Values aliasing a value that changed may now be chains.
  for (std::size_t i = 0; ok && i < m_valueJournal.NotedCount(); ++i) {
    const std::uint32_t x = m_valueJournal.Noted()[i];
    if (x < m_values.Size()) ok = out.Append(m_values[x].aliasedBy.data, m_values[x].aliasedBy.size);
  }
  return ok && !m_valueJournal.Lost();
}

HRESULT DefUseUpkeep::Refresh() {
  if (!m_running) return Start();
  if (!m_p.referenceSearches) return Incremental();
  // Reference: the refresh against one full rebuild from the same places.
  struct Place {
    std::uint32_t bank, reg, component;
  };
  Detach();  // the snapshots reach every value: not a rewrite's doing
  const std::uint32_t count = m_p.values.Count();
  PodArray<Place> before;
  PodArray<Fields> after;
  const bool kept = before.Reserve(count) && after.Reserve(count);
  for (std::uint32_t v = 0; kept && v < count; ++v) {
    const IrValue* x = m_p.values[v];
    before.Append(x ? Place{x->bank, x->reg, x->component} : Place{});
  }
  HRESULT hr = Incremental();
  if (FAILED(hr) || !kept) return hr;
  Detach();
  for (std::uint32_t v = 0; v < count; ++v) {
    IrValue* x = m_p.values[v];
    after.Append(x ? FieldsOf(*x) : Fields{});
    if (x) x->bank = before[v].bank, x->reg = before[v].reg, x->component = before[v].component;
  }
  PodArray<std::uint32_t> windows;
  for (std::uint32_t b = 0; b < m_p.banks.Count(); ++b) {
    const RegisterBank* bank = m_p.banks[b];
    const std::uint32_t w[3] = {bank ? bank->firstRelativeUse : 0, bank ? bank->lastRelativeUse : 0,
                                bank ? bank->relativeUseCount : 0};
    windows.Append(w, 3);
  }
  {
    const UnmeteredWork check(m_p);
    hr = m_p.RebuildDefUse();
  }
  for (std::uint32_t v = 0; v < count; ++v) {
    const IrValue* x = m_p.values[v];
    if (x && !(FieldsOf(*x) == after[v])) ++m_p.defUseUpkeepMismatches;
  }
  for (std::uint32_t b = 0; b < m_p.banks.Count() && 3 * b + 2 < windows.Size(); ++b) {
    const RegisterBank* bank = m_p.banks[b];
    if (bank && (bank->firstRelativeUse != windows[3 * b] || bank->lastRelativeUse != windows[3 * b + 1] ||
                 bank->relativeUseCount != windows[3 * b + 2]))
      ++m_p.defUseUpkeepMismatches;
  }
  if (m_running) Attach();
  return hr;
}

}  // namespace gxl::shader

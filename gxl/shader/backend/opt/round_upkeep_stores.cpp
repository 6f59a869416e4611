// The upkeep's small stores: value images, reader lists and the flat map.
#include "gxl/shader/backend/opt/round_upkeep_stores.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace gxl::shader::upkeep {

namespace {

constexpr std::uint32_t kLinkWord = offsetof(IrValue, coalesceLink) / 4;
constexpr std::uint32_t kRenumberWord = offsetof(IrValue, renumber) / 4;
static_assert(offsetof(IrValue, coalesceLink) % 4 == 0 && offsetof(IrValue, renumber) % 4 == 0);

}  // namespace

// --- Value images -----------------------------------------------------------------------

void ValueImages::WordsOf(const IrValue& x, std::uint32_t out[kWords]) { std::memcpy(out, &x, sizeof(IrValue)); }

void ValueImages::Template(std::uint32_t v, std::uint32_t out[kWords]) const {
  std::copy(m_template, m_template + kWords, out);
  out[kRenumberWord] = v;
}

void ValueImages::Grow(std::uint32_t size) { m_slots.Grow(size); }

void ValueImages::Take(std::uint32_t v, const IrValue* x) {
  Slot& slot = m_slots[v];
  if (slot.mask == kWhole) m_overflow.erase(v);
  if (!x) {
    slot.mask = kAbsent;
    return;
  }
  std::uint32_t base[kWords], words[kWords];
  Template(v, base);
  WordsOf(*x, words);
  std::uint64_t mask = 0;
  std::uint32_t n = 0;
  for (std::uint32_t w = 0; w < kWords; ++w) {
    if (w == kLinkWord || words[w] == base[w]) continue;
    mask |= std::uint64_t{1} << w;
    if (n < kPayload) slot.words[n] = words[w];
    ++n;
  }
  if (n <= kPayload) {
    slot.mask = mask;
    return;
  }
  slot.mask = kWhole;
  m_overflow[v] = *x;
}

bool ValueImages::Same(std::uint32_t v, const IrValue& x) const {
  const Slot& slot = m_slots[v];
  if (slot.mask == kAbsent) return false;
  std::uint32_t words[kWords];
  WordsOf(x, words);
  if (slot.mask == kWhole) {
    std::uint32_t image[kWords];
    WordsOf(m_overflow.at(v), image);
    for (std::uint32_t w = 0; w < kWords; ++w)
      if (w != kLinkWord && words[w] != image[w]) return false;
    return true;
  }
  std::uint32_t n = 0;
  for (std::uint32_t w = 0; w < kWords; ++w) {
    if (w == kLinkWord) continue;
    const std::uint32_t expected = slot.mask >> w & 1 ? slot.words[n++] : w == kRenumberWord ? v : m_template[w];
    if (words[w] != expected) return false;
  }
  return true;
}

bool ValueImages::Get(std::uint32_t v, IrValue* out) const {
  const Slot& slot = m_slots[v];
  if (slot.mask == kAbsent) return false;
  if (slot.mask == kWhole) {
    *out = m_overflow.at(v);
    return true;
  }
  std::uint32_t words[kWords];
  Template(v, words);
  std::uint32_t n = 0;
  for (std::uint32_t w = 0; w < kWords; ++w)
    if (slot.mask >> w & 1) words[w] = slot.words[n++];
  std::memcpy(static_cast<void*>(out), words, sizeof(IrValue));
  return true;
}

// --- Reader lists -----------------------------------------------------------------------

void ReaderLists::Clear() {
  std::vector<Head>().swap(m_heads);
  std::vector<std::uint32_t>().swap(m_arena);
  m_left = 0;
}

void ReaderLists::Grow(std::uint32_t values) {
  if (values > m_heads.size()) m_heads.resize(values);
}

void ReaderLists::Insert(std::uint32_t v, std::uint32_t p) {
  Head& h = m_heads[v];
  std::uint32_t* list = m_arena.data() + h.offset;
  std::uint32_t at = h.count;
  if (h.count && list[h.count - 1] >= p) {
    at = static_cast<std::uint32_t>(std::lower_bound(list, list + h.count, p) - list);
    if (list[at] == p) return;
  }
  if (h.count == h.room) {
    // Moves to the arena's end with twice the room.
    if (m_left > m_arena.size() / 2 && m_left > 4096) Compact();
    const std::uint32_t room = std::max<std::uint32_t>(2, 2 * h.room);
    const std::size_t offset = m_arena.size();
    m_arena.resize(offset + room);
    std::copy(m_arena.begin() + h.offset, m_arena.begin() + h.offset + h.count, m_arena.begin() + offset);
    m_left += h.room;  // left behind
    h.offset = static_cast<std::uint32_t>(offset);
    h.room = room;
    list = m_arena.data() + h.offset;
  }
  std::copy_backward(list + at, list + h.count, list + h.count + 1);
  list[at] = p;
  ++h.count;
}

void ReaderLists::Trim(std::uint32_t v, std::uint32_t from, std::uint32_t to) {
  Head& h = m_heads[v];
  std::uint32_t* list = m_arena.data() + h.offset;
  std::copy(list + from, list + to, list);
  h.count = to - from;
}

void ReaderLists::Compact() {
  std::vector<std::uint32_t> arena;
  arena.reserve(m_arena.size() - m_left + m_arena.size() / 4);
  for (Head& h : m_heads) {
    const std::size_t offset = arena.size();
    arena.insert(arena.end(), m_arena.begin() + h.offset, m_arena.begin() + h.offset + h.count);
    arena.resize(offset + h.room);
    h.offset = static_cast<std::uint32_t>(offset);
  }
  m_arena.swap(arena);
  m_left = 0;
}

// --- Flat map ---------------------------------------------------------------------------

FlatMap::Entry* FlatMap::Find(std::uint32_t key) {
  if (m_entries.empty()) return nullptr;
  for (std::size_t i = Home(key);; i = (i + 1) & (m_entries.size() - 1)) {
    if (!m_used[i]) return nullptr;
    if (m_entries[i].key == key) return &m_entries[i];
  }
}

FlatMap::Entry& FlatMap::Insert(std::uint32_t key) {
  if (Entry* e = Find(key)) return *e;
  if ((m_count + 1) * std::size_t{4} > m_entries.size() * 3) Rehash(std::max<std::size_t>(16, m_entries.size() * 2));
  std::size_t i = Home(key);
  while (m_used[i]) i = (i + 1) & (m_entries.size() - 1);
  m_used[i] = 1;
  m_entries[i] = {key, 0, 0};
  ++m_count;
  return m_entries[i];
}

void FlatMap::Erase(std::uint32_t key) {
  Entry* e = Find(key);
  if (!e) return;
  const std::size_t mask = m_entries.size() - 1;
  std::size_t hole = static_cast<std::size_t>(e - m_entries.data());
  m_used[hole] = 0;
  --m_count;
  // Entries after the hole that it keeps from their home move back into it.
  for (std::size_t i = (hole + 1) & mask; m_used[i]; i = (i + 1) & mask) {
    const std::size_t home = Home(m_entries[i].key);
    const bool movable = hole <= i ? (home <= hole || home > i) : (home <= hole && home > i);
    if (!movable) continue;
    m_entries[hole] = m_entries[i];
    m_used[hole] = 1;
    m_used[i] = 0;
    hole = i;
  }
}

void FlatMap::Rehash(std::size_t capacity) {
  std::vector<Entry> entries(capacity);
  std::vector<std::uint8_t> used(capacity, 0);
  entries.swap(m_entries);
  used.swap(m_used);
  m_shift = 32 - static_cast<std::uint32_t>(std::countr_zero(capacity));
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (!used[k]) continue;
    std::size_t i = Home(entries[k].key);
    while (m_used[i]) i = (i + 1) & (m_entries.size() - 1);
    m_used[i] = 1;
    m_entries[i] = entries[k];
  }
}

}  // namespace gxl::shader::upkeep

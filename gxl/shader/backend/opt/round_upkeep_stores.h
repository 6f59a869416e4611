// The large stores of RoundUpkeep, kept small: a program the upkeep serves
// holds hundreds of thousands of values, and what it keeps per value decides
// the compile's peak memory. Each grows in chunks or in place, so that no
// store is copied whole as it grows. Their containers are the standard
// library's: a failing allocation throws std::bad_alloc, which ends the
// upkeep (RoundUpkeep::Collect), never the compile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/ir/ir.h"

namespace gxl::shader::upkeep {

// Fixed-size records in chunks: growing never moves what is stored.
template <class T, std::uint32_t kChunk = 4096>
class Chunked {
 public:
  std::uint32_t Size() const { return m_size; }
  // New records value-initialised; shrinking is not offered.
  void Grow(std::uint32_t size) {
    while (m_chunks.size() * std::size_t{kChunk} < size) m_chunks.emplace_back(new T[kChunk]());
    if (size > m_size) m_size = size;
  }
  void Clear() {
    m_chunks.clear();
    m_size = 0;
  }
  T& operator[](std::uint32_t i) { return m_chunks[i / kChunk][i % kChunk]; }
  const T& operator[](std::uint32_t i) const { return m_chunks[i / kChunk][i % kChunk]; }

 private:
  std::vector<std::unique_ptr<T[]>> m_chunks;
  std::uint32_t m_size = 0;
};

// Images of values as the last comparison saw them, exact and small: each
// record is kept as the 4-byte words in which it differs from a template
// (per word the value most records held when the images were set up, and
// for the redirection link the value's own index), in a slot of a few
// words, or whole where more differ. The coalescing link is left out (no
// pass of the first phase reads it); padding counts, as a byte comparison
// counts it.
class ValueImages {
 public:
  void Clear() {
    m_slots.Clear();
    m_overflow.clear();
  }
  // The template from the records of `count` values (`at(v)`, null where
  // none); before any image is taken.
  template <class At>
  void SetTemplate(std::uint32_t count, At at) {
    // Per word the majority among the records, where there is one
    // (Boyer and Moore's vote).
    std::uint32_t votes[kWords] = {}, words[kWords];
    for (std::uint32_t v = 0; v < count; ++v) {
      const IrValue* x = at(v);
      if (!x) continue;
      WordsOf(*x, words);
      for (std::uint32_t w = 0; w < kWords; ++w) {
        if (votes[w] == 0) {
          m_template[w] = words[w];
          votes[w] = 1;
        } else if (m_template[w] == words[w]) {
          ++votes[w];
        } else {
          --votes[w];
        }
      }
    }
  }
  std::uint32_t Size() const { return m_slots.Size(); }
  // Entries past the old size are absent.
  void Grow(std::uint32_t size);
  bool Present(std::uint32_t v) const { return v < Size() && m_slots[v].mask != kAbsent; }
  // The image of `x` (null: absent) for value v, below Size().
  void Take(std::uint32_t v, const IrValue* x);
  // Whether value v's image is `x` apart from the coalescing link.
  bool Same(std::uint32_t v, const IrValue& x) const;
  // The record the image stands for (its coalescing link meaningless);
  // false where absent.
  bool Get(std::uint32_t v, IrValue* out) const;

 private:
  static constexpr std::uint32_t kWords = sizeof(IrValue) / 4;
  static constexpr std::uint32_t kPayload = 10;
  static constexpr std::uint64_t kAbsent = ~std::uint64_t{0};
  static constexpr std::uint64_t kWhole = std::uint64_t{1} << 63;  // kept in m_overflow
  static_assert(sizeof(IrValue) % 4 == 0 && kWords < 63, "a value's words must fit the mask");
  struct Slot {
    std::uint64_t mask = kAbsent;  // bit w: word w differs from the template's
    std::uint32_t words[kPayload];
  };
  static void WordsOf(const IrValue& x, std::uint32_t out[kWords]);
  void Template(std::uint32_t v, std::uint32_t out[kWords]) const;

  std::uint32_t m_template[kWords] = {};
  Chunked<Slot> m_slots;
  std::unordered_map<std::uint32_t, IrValue> m_overflow;
};

// Per value, the positions of its readers, ascending, each once: lists in
// one arena, a list moved to its end when it outgrows its room, and the
// arena compacted when most of it is room left behind.
class ReaderLists {
 public:
  void Clear();
  void Grow(std::uint32_t values);
  std::uint32_t Size() const { return static_cast<std::uint32_t>(m_heads.size()); }
  const std::uint32_t* Begin(std::uint32_t v) const { return m_arena.data() + m_heads[v].offset; }
  std::uint32_t Count(std::uint32_t v) const { return m_heads[v].count; }
  // Adds position p in order (nothing when listed); appending in ascending
  // order costs no search.
  void Insert(std::uint32_t v, std::uint32_t p);
  // Keeps the entries for which keep(position) holds, in order.
  template <class Keep>
  void Filter(std::uint32_t v, Keep keep) {
    Head& h = m_heads[v];
    std::uint32_t* list = m_arena.data() + h.offset;
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < h.count; ++k)
      if (keep(list[k])) list[kept++] = list[k];
    h.count = kept;
  }
  // Keeps entries [from, to) only.
  void Trim(std::uint32_t v, std::uint32_t from, std::uint32_t to);

 private:
  struct Head {
    std::uint32_t offset = 0, count = 0, room = 0;
  };
  void Compact();

  std::vector<Head> m_heads;
  std::vector<std::uint32_t> m_arena;
  std::size_t m_left = 0;  // arena words no list holds
};

// Open addressing from 32-bit keys to a pair of words, for keys that are
// many and mostly alone (the merge keys of values).
class FlatMap {
 public:
  struct Entry {
    std::uint32_t key, first, second;
  };
  void Clear() {
    m_entries.clear();
    m_used.clear();
    m_count = 0;
  }
  std::uint32_t Count() const { return m_count; }
  // The entry of `key`, null when absent.
  Entry* Find(std::uint32_t key);
  // The entry of `key`, made with both words 0 when absent.
  Entry& Insert(std::uint32_t key);
  void Erase(std::uint32_t key);
  // Calls f(entry) for each.
  template <class F>
  void ForEach(F f) const {
    for (std::size_t i = 0; i < m_entries.size(); ++i)
      if (m_used[i]) f(m_entries[i]);
  }

 private:
  // Fibonacci hashing: the high bits of the product.
  std::size_t Home(std::uint32_t key) const { return (key * 0x9E3779B1u) >> m_shift; }
  void Rehash(std::size_t capacity);

  std::vector<Entry> m_entries;  // a power of two of them, at most three quarters used
  std::vector<std::uint8_t> m_used;
  std::uint32_t m_count = 0, m_shift = 32;
};

}  // namespace gxl::shader::upkeep

// Common-subexpression merging: whole instructions that compute the same
// thing under the same guard (sorted), and instructions whose components
// compute the same set of values in any order (value numbering).
#include <algorithm>
#include <deque>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/ir/heap_sort.h"
#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

template <class T>
std::int32_t Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Arguments k (of group 0) and n + k of a commutative two-group operation,
// as (smaller, larger) identities.
void OrderedPair(const ShaderProgram& p, const IrInstruction& i, std::uint32_t k, std::uint32_t out[2]) {
  const std::uint32_t n = i.Width();
  const std::uint32_t a = opt::Root(p, i.arguments[k]), b = opt::Root(p, i.arguments[n + k]);
  out[0] = std::min(a, b);
  out[1] = std::max(a, b);
}

bool PairsCommute(const IrInstruction& i) {
  return opt::IsCommutative(i.Group()) && i.Width() != 0 && i.argumentCount == 2 * i.Width();
}

// Instructions by word and counts, then per result bank and guard, then the
// identities of their arguments (commutative pairs unordered).
std::int32_t CompareInstructions(std::uint32_t a, std::uint32_t b, const void* context) {
  const ShaderProgram& p = *static_cast<const ShaderProgram*>(context);
  const IrInstruction &x = *p.instructions[a], &y = *p.instructions[b];
  if (std::int32_t c = Order(x.word, y.word)) return c;
  if (std::int32_t c = Order(x.argumentCount, y.argumentCount)) return c;
  if (std::int32_t c = Order(x.resultCount, y.resultCount)) return c;
  for (std::uint32_t r = 0; r < x.resultCount; ++r) {
    const IrValue &u = *p.values[x.results[r]], &v = *p.values[y.results[r]];
    if (std::int32_t c = Order(u.bank, v.bank)) return c;
    if (std::int32_t c = Order(u.predicate, v.predicate)) return c;
    if (std::int32_t c =
            Order(static_cast<std::int32_t>(u.predicateSense), static_cast<std::int32_t>(v.predicateSense)))
      return c;
  }
  if (PairsCommute(x)) {
    for (std::uint32_t k = 0; k < x.Width(); ++k) {
      std::uint32_t u[2], v[2];
      OrderedPair(p, x, k, u);
      OrderedPair(p, y, k, v);
      if (std::int32_t c = Order(u[0], v[0])) return c;
      if (std::int32_t c = Order(u[1], v[1])) return c;
    }
    return 0;
  }
  for (std::uint32_t i = 0; i < x.argumentCount; ++i)
    if (std::int32_t c = Order(opt::Root(p, x.arguments[i]), opt::Root(p, y.arguments[i]))) return c;
  return 0;
}

// The words of KeyLength(x) that CompareInstructions compares, into `w`;
// with `lookUpRoots` each argument's root, else the argument itself.
std::uint32_t WriteKey(const ShaderProgram& p, const IrInstruction& x, bool lookUpRoots, std::uint32_t* w) {
  std::uint32_t at = 0;
  w[at++] = x.word;
  w[at++] = x.argumentCount;
  w[at++] = x.resultCount;
  for (std::uint32_t r = 0; r < x.resultCount; ++r) {
    const IrValue& u = *p.values.Peek(x.results[r]);
    w[at++] = u.bank;
    w[at++] = u.predicate;
    w[at++] = u.predicateSense ^ 0x80000000u;  // compared as a signed number
  }
  auto root = [&](std::uint32_t value) { return lookUpRoots ? opt::Root(p, value) : value; };
  if (PairsCommute(x)) {
    const std::uint32_t n = x.Width();
    for (std::uint32_t k = 0; k < n; ++k, at += 2) {
      const std::uint32_t a = root(x.arguments[k]), b = root(x.arguments[n + k]);
      w[at] = std::min(a, b);
      w[at + 1] = std::max(a, b);
    }
  } else {
    for (std::uint32_t i = 0; i < x.argumentCount; ++i) w[at++] = root(x.arguments[i]);
  }
  return at;
}

std::uint32_t KeyLength(const IrInstruction& x) { return 3 + 3 * x.resultCount + x.argumentCount; }

// What CompareInstructions looks at, per candidate, as words compared in
// order (each argument's root): the sort compares each candidate about log n
// times, and finding an argument's root costs more than comparing it.
struct InstructionKeys {
  std::unique_ptr<std::uint32_t[]> words;
  std::unique_ptr<std::uint32_t[]> start;  // by position: where its words begin

  // False when out of memory.
  bool Build(const ShaderProgram& p, const std::uint32_t* list, std::uint32_t count) {
    std::size_t size = 0;
    for (std::uint32_t n = 0; n < count; ++n) size += KeyLength(*p.instructions.Peek(list[n]));
    if (!start) start = opt::NewArray<std::uint32_t>(p.instructions.Count());
    words = opt::NewArray<std::uint32_t>(size);
    if (!start || !words) return false;
    std::uint32_t at = 0;
    for (std::uint32_t n = 0; n < count; ++n) {
      start[list[n]] = at;
      at += WriteKey(p, *p.instructions.Peek(list[n]), true, words.get() + at);
    }
    return true;
  }
};

// CompareInstructions over the keys, then positions. Equal words and counts
// make keys of equal length.
std::int32_t CompareKeyedThenPosition(std::uint32_t a, std::uint32_t b, const void* context) {
  const InstructionKeys& keys = *static_cast<const InstructionKeys*>(context);
  const std::uint32_t *x = keys.words.get() + keys.start[a], *y = keys.words.get() + keys.start[b];
  for (std::uint32_t i = 0, n = 3; i < n; ++i) {
    if (std::int32_t c = Order(x[i], y[i])) return c;
    if (i == 2) n = 3 + 3 * x[2] + x[1];  // the commuting pairs are as many words as the arguments
  }
  return Order(a, b);
}

// A result that only readers see and that no flow-control block or output owns.
bool MergeableResult(const ShaderProgram& p, std::uint32_t value) {
  return p.values.Peek(value) && !(opt::BankTypeOf(p, value) & (kBankBlockMoves | kBankOutput)) &&
         opt::Replaceable(p, value);
}

}  // namespace

bool opt::CommonCandidate(const ShaderProgram& p, std::uint32_t position, std::uint32_t unpinnedOnly) {
  const IrInstruction* inst = p.instructions.Peek(position);
  if (opt::IsEmpty(inst) || IsSpecialOperation(inst) || inst->resultCount == 0 || (unpinnedOnly && inst->pinned))
    return false;
  return std::all_of(inst->results, inst->results + inst->resultCount,
                     [&p](std::uint32_t r) { return MergeableResult(p, r); });
}

bool opt::CommonKey(const ShaderProgram& p, std::uint32_t position, PodArray<std::uint32_t>& out) {
  const IrInstruction& x = *p.instructions.Peek(position);
  const std::size_t at = out.Size();
  if (!out.Resize(at + KeyLength(x))) return false;
  WriteKey(p, x, false, out.Data() + at);
  return true;
}

namespace {

// The merging as value numbering: every candidate keyed as CompareInstructions
// sees it under the roots of its arguments and of its results' guards, the
// first of each key kept and every later one merged into it; a merge re-keys
// only the candidates that read what it redirected (or read what was merged
// into that). The rounds of sorting reach the same end: a merge never makes
// two keys differ, so the classes at the end are the least ones closed under
// equal keys either way, each kept in its first instruction. A chain of
// instructions each equal to its like once the one before merged (counters
// of unrolled passes) costs its length, not a round of the program per link.
class CommonMerging {
 public:
  CommonMerging(ShaderProgram& p, const std::uint32_t* list, std::uint32_t count) : m_p(p), m_list(list), m_n(count) {}

  // True when anything merged; the arguments then still name what was redirected.
  bool Run() {
    Index();
    for (std::uint32_t n = 0; n < m_n; ++n) m_work.push_back(n);
    m_queued.assign(m_n, 1);
    bool merged = false;
    while (!m_work.empty()) {
      const std::uint32_t n = m_work.front();
      m_work.pop_front();
      m_queued[n] = 0;
      merged |= Key(n);
    }
    return merged;
  }

 private:
  const IrInstruction& At(std::uint32_t n) const { return *m_p.instructions[m_list[n]]; }
  std::uint32_t Root(std::uint32_t value) const { return value == kNoIndex ? value : opt::Root(m_p, value); }

  // Key arenas, readers of each value (arguments and guards of results).
  void Index() {
    m_start.resize(std::size_t{m_n} + 1);
    for (std::uint32_t n = 0; n < m_n; ++n) m_start[n + 1] = m_start[n] + KeyLength(At(n));
    m_words.resize(m_start[m_n]);
    m_hash.assign(m_n, 0);
    m_listed.assign(m_n, 0);
    const std::uint32_t values = m_p.values.Count();
    m_readerStart.assign(std::size_t{values} + 1, 0);
    auto each = [&](auto&& f) {
      for (std::uint32_t n = 0; n < m_n; ++n) {
        const IrInstruction& x = At(n);
        for (std::uint32_t i = 0; i < x.argumentCount; ++i) f(x.arguments[i], n);
        for (std::uint32_t r = 0; r < x.resultCount; ++r)
          if (const IrValue* v = m_p.values[x.results[r]]) f(v->predicate, n);
      }
    };
    each([&](std::uint32_t v, std::uint32_t) {
      if (v < values) ++m_readerStart[v + 1];
    });
    for (std::uint32_t v = 0; v < values; ++v) m_readerStart[v + 1] += m_readerStart[v];
    m_readers.resize(m_readerStart[values]);
    std::vector<std::uint32_t> fill(m_readerStart.begin(), m_readerStart.end() - 1);
    each([&](std::uint32_t v, std::uint32_t n) {
      if (v < values) m_readers[fill[v]++] = n;
    });
    m_table.reserve(m_n);
  }

  // WriteKey under roots, guards included; its length.
  std::uint32_t Write(std::uint32_t n, std::uint32_t* w) const {
    const IrInstruction& x = At(n);
    const std::uint32_t length = WriteKey(m_p, x, true, w);
    for (std::uint32_t r = 0; r < x.resultCount; ++r) w[3 + 3 * r + 1] = Root(w[3 + 3 * r + 1]);
    return length;
  }

  static std::uint64_t Hash(const std::uint32_t* w, std::uint32_t length) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (std::uint32_t i = 0; i < length; ++i) h = (h ^ w[i]) * 0x100000001B3ull + (h >> 29);
    return h;
  }

  // Keys candidate n anew; true when it merged with another.
  bool Key(std::uint32_t n) {
    if (opt::IsEmpty(m_p.instructions[m_list[n]])) return false;
    const std::uint32_t length = m_start[n + 1] - m_start[n];
    std::uint32_t* stored = m_words.data() + m_start[n];
    if (m_scratch.size() < length) m_scratch.resize(length);
    Write(n, m_scratch.data());
    if (m_listed[n]) {
      if (std::equal(m_scratch.begin(), m_scratch.begin() + length, stored)) return false;
      Unlist(n);
    }
    std::copy(m_scratch.begin(), m_scratch.begin() + length, stored);
    m_hash[n] = Hash(stored, length);
    const std::uint32_t m = Find(n);
    if (m == kNoIndex) {
      List(n);
      return false;
    }
    // The earlier position survives, as the earliest of a sorted run does.
    const std::uint32_t keep = m_list[n] < m_list[m] ? n : m, gone = keep == n ? m : n;
    if (gone == m) {
      Unlist(m);
      List(n);
    }
    IrInstruction& later = *m_p.instructions[m_list[gone]];
    const IrInstruction& survivor = At(keep);
    for (std::uint32_t r = 0; r < later.resultCount; ++r) {
      opt::Redirect(m_p, later.results[r], survivor.results[r]);
      m_adopted[survivor.results[r]].push_back(later.results[r]);
    }
    m_moved.assign(later.results, later.results + later.resultCount);
    opt::Empty(later);
    for (std::uint32_t value : m_moved) Requeue(value, 0);
    return true;
  }

  // The candidates reading `value`, or a value merged into it, keyed again.
  void Requeue(std::uint32_t value, std::uint32_t depth) {
    if (value < m_p.values.Count())
      for (std::uint32_t k = m_readerStart[value]; k < m_readerStart[value + 1]; ++k)
        if (!m_queued[m_readers[k]]) {
          m_queued[m_readers[k]] = 1;
          m_work.push_back(m_readers[k]);
        }
    const auto adopted = m_adopted.find(value);
    if (adopted == m_adopted.end() || depth > m_n) return;
    for (std::size_t i = 0; i < adopted->second.size(); ++i) Requeue(adopted->second[i], depth + 1);
  }

  std::uint32_t Find(std::uint32_t n) const {
    const std::uint32_t length = m_start[n + 1] - m_start[n];
    const std::uint32_t* key = m_words.data() + m_start[n];
    const auto range = m_table.equal_range(m_hash[n]);
    for (auto it = range.first; it != range.second; ++it) {
      const std::uint32_t m = it->second;
      if (m_start[m + 1] - m_start[m] == length && std::equal(key, key + length, m_words.data() + m_start[m]))
        return m;
    }
    return kNoIndex;
  }
  void List(std::uint32_t n) {
    m_table.emplace(m_hash[n], n);
    m_listed[n] = 1;
  }
  void Unlist(std::uint32_t n) {
    const auto range = m_table.equal_range(m_hash[n]);
    for (auto it = range.first; it != range.second; ++it)
      if (it->second == n) {
        m_table.erase(it);
        break;
      }
    m_listed[n] = 0;
  }

  ShaderProgram& m_p;
  const std::uint32_t* m_list;
  std::uint32_t m_n;
  std::vector<std::uint32_t> m_start, m_words, m_scratch, m_readerStart, m_readers, m_moved;
  std::vector<std::uint64_t> m_hash;
  std::vector<std::uint8_t> m_listed, m_queued;
  std::unordered_multimap<std::uint64_t, std::uint32_t> m_table;  // the candidates keyed, distinct keys
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> m_adopted;  // survivor result: results merged into it
  std::deque<std::uint32_t> m_work;
};

}  // namespace

HRESULT ShaderProgram::MergeCommonInstructions(std::uint32_t unpinnedOnly) {
  auto list = opt::NewArray<std::uint32_t>(instructions.Count());
  if (!list) return E_OUTOFMEMORY;
  NumberValues();
  std::uint32_t count = 0;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position)
    if (opt::CommonCandidate(*this, position, unpinnedOnly)) list[count++] = position;

  bool merged = false;
  if (!referenceSearches) {
    try {
      merged = CommonMerging(*this, list.get(), count).Run();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (merged) opt::ForwardRedirections(*this);
  }
  // The reference: rounds that sort the candidates and merge each run of
  // equal ones into its first, until a round merges nothing (merging
  // redirects arguments, which can make later instructions equal).
  InstructionKeys keys;
  for (bool mergedInRound = referenceSearches; mergedInRound;) {
    mergedInRound = false;
    if (!keys.Build(*this, list.get(), count)) return E_OUTOFMEMORY;
    // The order is total (positions differ).
    SortIndicesByComparator(CompareKeyedThenPosition, list.get(), count, &keys);
    for (std::uint32_t start = 0, end; start < count; start = end) {
      // Merges earlier in this round may have changed the order of what
      // follows, so the survivor is the earliest of the run, wherever it sits.
      std::uint32_t first = list[start];
      for (end = start + 1; end < count && CompareInstructions(list[start], list[end], this) == 0; ++end)
        first = std::min(first, list[end]);
      const IrInstruction& survivor = *instructions[first];
      for (std::uint32_t i = start; i < end; ++i) {
        if (list[i] == first) continue;
        IrInstruction& later = *instructions[list[i]];
        for (std::uint32_t r = 0; r < later.resultCount; ++r) opt::Redirect(*this, later.results[r], survivor.results[r]);
        opt::Empty(later);
        mergedInRound = merged = true;
      }
    }
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < count; ++i)
      if (!opt::IsEmpty(instructions[list[i]])) list[kept++] = list[i];
    count = kept;
    if (mergedInRound) opt::ForwardRedirections(*this);
  }
  if (!merged) return S_FALSE;
  const HRESULT hr = MergeDuplicateValues();
  return FAILED(hr) ? hr : S_OK;
}

namespace {

// The identities of component k's arguments, commutative pairs ordered.
std::uint32_t ColumnIdentities(const ShaderProgram& p, const IrInstruction& i, std::uint32_t k, std::uint32_t out[4]) {
  const std::uint32_t groups = i.Class();
  if (groups == 2 && PairsCommute(i)) {
    OrderedPair(p, i, k, out);
    return 2;
  }
  for (std::uint32_t g = 0; g < groups; ++g) out[g] = opt::Root(p, opt::Column(i, g, k));
  return groups;
}

bool SameColumn(const ShaderProgram& p, const IrInstruction& x, std::uint32_t j, const IrInstruction& y,
                std::uint32_t k) {
  std::uint32_t u[4], v[4];
  const std::uint32_t n = ColumnIdentities(p, x, j, u);
  ColumnIdentities(p, y, k, v);
  return std::equal(u, u + n, v) && p.values.Peek(x.results[j])->bank == p.values.Peek(y.results[k])->bank &&
         opt::GuardOf(*p.values.Peek(x.results[j])) == opt::GuardOf(*p.values.Peek(y.results[k]));
}

}  // namespace

IrInstruction* opt::EquivalenceDefiner(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(value);
  IrInstruction* d = v ? p.instructions[v->definingPosition] : nullptr;
  if (opt::IsEmpty(d) || !d->IsArithmetic() || IsSpecialOperation(d) || d->Class() > 4) return nullptr;
  const std::uint32_t type = opt::BankTypeOf(p, value);
  return (type & kBankWritable) && MergeableResult(p, value) ? d : nullptr;
}

bool opt::EquivalenceKey(const ShaderProgram& p, std::uint32_t value, std::uint32_t* key) {
  const IrInstruction* d = EquivalenceDefiner(p, value);
  if (!d) return false;
  const std::uint32_t k = opt::ResultSlot(*d, value);
  std::uint32_t ids[4];
  const std::uint32_t n = ColumnIdentities(p, *d, k, ids);
  *key = d->Group();
  for (std::uint32_t g = 0; g < n; ++g) *key = *key * 2111 + ids[g];
  return true;
}

bool opt::EquivalentPair(const ShaderProgram& p, IrInstruction* x, IrInstruction* y, IrInstruction** earlierOut,
                         IrInstruction** laterOut, std::uint32_t match[16]) {
  if (!y || x == y || x->word != y->word || x->Width() > 16) return false;
  const std::uint32_t px = p.values.Peek(x->results[0])->definingPosition;
  const std::uint32_t py = p.values.Peek(y->results[0])->definingPosition;
  IrInstruction &earlier = px < py ? *x : *y, &later = px < py ? *y : *x;
  const std::uint32_t earlierPosition = std::min(px, py);
  // Each result of the later one matches its own result of the earlier one.
  bool used[4 * 4];
  std::fill(used, used + 16, false);
  bool all = true;
  for (std::uint32_t k = 0; k < later.Width() && all; ++k) {
    const IrValue& r = *p.values.Peek(later.results[k]);
    all = EquivalenceDefiner(p, later.results[k]) && (r.firstUse == kNoIndex || r.firstUse > earlierPosition);
    std::uint32_t m = 0;
    while (all && m < earlier.Width() &&
           (used[m] || !EquivalenceDefiner(p, earlier.results[m]) || !SameColumn(p, earlier, m, later, k)))
      ++m;
    if (m == earlier.Width()) all = false;
    if (all) used[match[k] = m] = true;
  }
  *earlierOut = &earlier;
  *laterOut = &later;
  return all;
}

HRESULT ShaderProgram::MergeEquivalentValues() {
  auto list = opt::NewArray<std::uint32_t>(values.Count());
  auto keys = opt::NewArray<std::uint32_t>(values.Count());
  auto order = opt::NewArray<std::uint32_t>(values.Count());
  auto keyed = opt::NewArray<std::uint64_t>(values.Count());
  if (!list || !keys || !order || !keyed) return E_OUTOFMEMORY;

  bool merged = false;
  for (bool again = true; again;) {
    again = false;
    HRESULT hr = RebuildDefUse();
    if (FAILED(hr)) return hr;
    NumberValues();
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      std::uint32_t key;
      if (!opt::EquivalenceKey(*this, i, &key)) continue;
      list[count] = i;
      keys[count] = key;
      keyed[count] = std::uint64_t{key} << 32 | count;
      ++count;
    }
    // Candidates by key, equal keys in the heap sort's order: the key travels
    // with its candidate instead of being looked up at each comparison.
    HeapSortBy(keyed.get(), count,
               [](std::uint64_t a, std::uint64_t b) { return Order(std::uint32_t(a >> 32), std::uint32_t(b >> 32)); });
    for (std::uint32_t n = 0; n < count; ++n) order[n] = static_cast<std::uint32_t>(keyed[n]);

    // Within a run of equal keys each value looks back at a few others: equal
    // keys of unequal columns are rare, and the bound keeps this linear.
    for (std::uint32_t start = 0, end; start < count; start = end) {
      for (end = start + 1; end < count && keys[order[end]] == keys[order[start]]; ++end) {
      }
      for (std::uint32_t i = start + 1; i < end; ++i) {
        IrInstruction* x = opt::EquivalenceDefiner(*this, list[order[i]]);
        for (std::uint32_t j = i; x && j-- > start && i - j <= opt::kEquivalenceLookBack;) {
          IrInstruction *earlier, *later;
          std::uint32_t match[16];
          if (!opt::EquivalentPair(*this, x, opt::EquivalenceDefiner(*this, list[order[j]]), &earlier, &later, match))
            continue;
          for (std::uint32_t k = 0; k < later->Width(); ++k)
            opt::Redirect(*this, later->results[k], earlier->results[match[k]]);
          opt::Empty(*later);
          merged = again = true;
          if (later == x) break;
          x = opt::EquivalenceDefiner(*this, list[order[i]]);
        }
      }
    }
    if (again) opt::ForwardRedirections(*this);
  }
  return merged ? S_OK : S_FALSE;
}

}  // namespace gxl::shader

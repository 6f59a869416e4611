// Common-subexpression merging: whole instructions that compute the same
// thing under the same guard (sorted), and instructions whose components
// compute the same set of values in any order (value numbering).
#include <algorithm>
#include <memory>

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
    const IrValue& u = *p.values[x.results[r]];
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
// order: the sort compares each candidate about log n times, and finding an
// argument's root costs more than comparing it. Built where every value is
// its own root (just renumbered), so that the arguments are their roots.
struct InstructionKeys {
  std::unique_ptr<std::uint32_t[]> words;
  std::unique_ptr<std::uint32_t[]> start;  // by position: where its words begin

  // False when out of memory. `lookUpRoots`: find each argument's root
  // rather than take the argument for it (the reference).
  bool Build(const ShaderProgram& p, const std::uint32_t* list, std::uint32_t count, bool lookUpRoots) {
    std::size_t size = 0;
    for (std::uint32_t n = 0; n < count; ++n) {
      size += KeyLength(*p.instructions[list[n]]);
    }
    if (!start) start = opt::NewArray<std::uint32_t>(p.instructions.Count());
    words = opt::NewArray<std::uint32_t>(size);
    if (!start || !words) return false;
    std::uint32_t at = 0;
    std::uint32_t* w = words.get();
    for (std::uint32_t n = 0; n < count; ++n) {
      start[list[n]] = at;
      at += WriteKey(p, *p.instructions[list[n]], lookUpRoots, w + at);
    }
    return true;
  }

  // S_OK when no two of the listed candidates have equal keys (so a round
  // would merge nothing), S_FALSE when two might. Hashes sorted as plain
  // numbers cost far less than sorting the candidates by their keys.
  HRESULT AllDistinct(const std::uint32_t* list, std::uint32_t count) const {
    auto hashes = opt::NewArray<std::uint64_t>(count);
    if (!hashes) return E_OUTOFMEMORY;
    for (std::uint32_t n = 0; n < count; ++n) {
      const std::uint32_t* x = words.get() + start[list[n]];
      std::uint64_t h = 0x9E3779B97F4A7C15ull;
      for (std::uint32_t i = 0, length = 3 + 3 * x[2] + x[1]; i < length; ++i)
        h = (h ^ x[i]) * 0x100000001B3ull + (h >> 29);
      hashes[n] = h;
    }
    std::sort(hashes.get(), hashes.get() + count);
    return std::adjacent_find(hashes.get(), hashes.get() + count) == hashes.get() + count ? S_OK : S_FALSE;
  }

  // Whether CompareInstructions finds a and b equal, read off the keys where
  // they still hold. Merging only redirects values (marked in `moved`), so
  // the word, counts and result fields stay as keyed; an argument root goes
  // stale only when that root itself was redirected.
  bool Same(const ShaderProgram& p, std::uint32_t a, std::uint32_t b, const std::uint8_t* moved) const {
    const std::uint32_t valueCount = p.values.Count();
    const std::uint32_t *x = words.get() + start[a], *y = words.get() + start[b];
    if (x[0] != y[0] || x[1] != y[1] || x[2] != y[2]) return false;
    const std::uint32_t header = 3 + 3 * x[2], n = header + x[1];
    if (!std::equal(x + 3, x + header, y + 3)) return false;
    auto stale = [&](const std::uint32_t* k, std::uint32_t from, std::uint32_t to) {
      return std::any_of(k + from, k + to, [&](std::uint32_t v) { return v >= valueCount || moved[v]; });
    };
    if (stale(x, header, n) || stale(y, header, n)) return CompareInstructions(a, b, &p) == 0;
    return std::equal(x + header, x + n, y + header);
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
  return p.values[value] && !(opt::BankTypeOf(p, value) & (kBankBlockMoves | kBankOutput)) &&
         opt::Replaceable(p, value);
}

}  // namespace

bool opt::CommonCandidate(const ShaderProgram& p, std::uint32_t position, std::uint32_t unpinnedOnly) {
  const IrInstruction* inst = p.instructions[position];
  if (opt::IsEmpty(inst) || IsSpecialOperation(inst) || inst->resultCount == 0 || (unpinnedOnly && inst->pinned))
    return false;
  return std::all_of(inst->results, inst->results + inst->resultCount,
                     [&p](std::uint32_t r) { return MergeableResult(p, r); });
}

bool opt::CommonKey(const ShaderProgram& p, std::uint32_t position, PodArray<std::uint32_t>& out) {
  const IrInstruction& x = *p.instructions[position];
  const std::size_t at = out.Size();
  if (!out.Resize(at + KeyLength(x))) return false;
  WriteKey(p, x, false, out.Data() + at);
  return true;
}

HRESULT ShaderProgram::MergeCommonInstructions(std::uint32_t unpinnedOnly) {
  auto list = opt::NewArray<std::uint32_t>(instructions.Count());
  if (!list) return E_OUTOFMEMORY;
  NumberValues();
  std::uint32_t count = 0;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position)
    if (opt::CommonCandidate(*this, position, unpinnedOnly)) list[count++] = position;

  // Merging redirects arguments, which can make later instructions equal:
  // sort again until a round merges nothing.
  bool merged = false, mergedInRound = true;
  InstructionKeys keys;
  auto moved = opt::NewArray<std::uint8_t>(values.Count());
  if (!moved) return E_OUTOFMEMORY;
  while (mergedInRound) {
    mergedInRound = false;
    if (!keys.Build(*this, list.get(), count, referenceSearches)) return E_OUTOFMEMORY;
    if (!referenceSearches) {
      const HRESULT distinct = keys.AllDistinct(list.get(), count);
      if (FAILED(distinct)) return distinct;
      if (distinct == S_OK) break;
    }
    std::fill(moved.get(), moved.get() + values.Count(), std::uint8_t{0});
    // The order is total (positions differ), so any sort leaves the heap sort's.
    if (referenceSearches)
      SortIndicesByComparator(CompareKeyedThenPosition, list.get(), count, &keys);
    else
      std::sort(list.get(), list.get() + count,
                [&keys](std::uint32_t a, std::uint32_t b) { return CompareKeyedThenPosition(a, b, &keys) < 0; });
    for (std::uint32_t start = 0, end; start < count; start = end) {
      // Merges earlier in this round may have changed the order of what
      // follows, so the survivor is the earliest of the run, wherever it sits.
      std::uint32_t first = list[start];
      auto same = [&](std::uint32_t a, std::uint32_t b) {
        return referenceSearches ? CompareInstructions(a, b, this) == 0 : keys.Same(*this, a, b, moved.get());
      };
      for (end = start + 1; end < count && same(list[start], list[end]); ++end) first = std::min(first, list[end]);
      const IrInstruction& survivor = *instructions[first];
      for (std::uint32_t i = start; i < end; ++i) {
        if (list[i] == first) continue;
        IrInstruction& later = *instructions[list[i]];
        for (std::uint32_t r = 0; r < later.resultCount; ++r) {
          opt::Redirect(*this, later.results[r], survivor.results[r]);
          if (later.results[r] < values.Count()) moved[later.results[r]] = 1;
        }
        opt::Empty(later);
        mergedInRound = merged = true;
      }
    }
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < count; ++i)
      if (!opt::IsEmpty(instructions[list[i]])) list[kept++] = list[i];
    count = kept;
    // Arguments name their survivors directly again: comparing stays cheap.
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
  return std::equal(u, u + n, v) && p.values[x.results[j]]->bank == p.values[y.results[k]]->bank &&
         opt::GuardOf(*p.values[x.results[j]]) == opt::GuardOf(*p.values[y.results[k]]);
}

}  // namespace

IrInstruction* opt::EquivalenceDefiner(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
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
  const std::uint32_t px = p.values[x->results[0]]->definingPosition;
  const std::uint32_t py = p.values[y->results[0]]->definingPosition;
  IrInstruction &earlier = px < py ? *x : *y, &later = px < py ? *y : *x;
  const std::uint32_t earlierPosition = std::min(px, py);
  // Each result of the later one matches its own result of the earlier one.
  bool used[4 * 4];
  std::fill(used, used + 16, false);
  bool all = true;
  for (std::uint32_t k = 0; k < later.Width() && all; ++k) {
    const IrValue& r = *p.values[later.results[k]];
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

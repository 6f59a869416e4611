// Clamps, minimum and maximum from compares, and absolute values.
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kMinGroup = 0x70B, kMaxGroup = 0x70C, kAbsGroup = 0x700;
// Constants of the compare-of-sums forms agree within this.
constexpr double kSumTolerance = static_cast<double>(1e-5f);

// Some argument lies in the register of some result: such a min or max is
// left as the compare.
bool OverlapsResult(const ShaderProgram& p, const std::uint32_t* arguments, std::uint32_t count,
                    const IrInstruction& inst) {
  for (std::uint32_t a = 0; a < count; ++a)
    for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
      const IrValue* va = p.values[arguments[a]];
      const IrValue* vr = p.values[inst.results[r]];
      if (va && vr && va->bank == vr->bank && va->reg != kNoIndex && va->reg == vr->reg &&
          va->relativeIndex == vr->relativeIndex)
        return true;
    }
  return false;
}

HRESULT Match(ShaderTarget& t, std::uint32_t pattern, bool relaxed, MatchedList& list, Captures& captures) {
  list.count = 0;
  captures.Clear();
  return MatchExpressionPattern(t, t.currentIndex, Pattern(pattern), list, captures, ComponentMap::Identity(),
                                t.current->Width(), relaxed);
}

// Replaces the current instruction by `group` over the 2n arguments when
// they do not overlap its results, retiring what only the match read.
HRESULT BuildMinMax(ShaderTarget& t, std::uint32_t group, const std::uint32_t* arguments, const MatchedList* list) {
  const std::uint32_t n = t.current->Width();
  if (OverlapsResult(t, arguments, 2 * n, *t.current)) return S_FALSE;
  const std::uint32_t mask = list ? RetirableMask(t, *list, t.currentIndex, arguments, 2 * n) : 0;
  const HRESULT hr = ReplaceCurrentWith(t, IrWord(group, n), arguments, 2 * n);
  if (SUCCEEDED(hr) && list) Retire(t, *list, mask);
  return hr;
}

// The clamped source of one component of a matched clamp pattern, or kNoIndex.
std::uint32_t ClampedSource(const ShaderProgram& p, std::uint32_t pattern, const Captures& c, std::uint32_t i) {
  auto at = [&](std::uint32_t k) { return c.slot[k][i]; };
  const std::uint32_t slots = pattern >= 12 ? 3 : pattern == 10 ? 9 : 8;
  for (std::uint32_t k = 0; k < slots; ++k)
    if (at(k) == kNoIndex) return kNoIndex;
  auto same = [&](std::initializer_list<std::uint32_t> ks) {
    for (std::uint32_t k : ks)
      if (!SameOperand(p, at(5), at(k))) return false;
    return true;
  };
  auto literal = [&](std::uint32_t k, double x) { return IsLiteral(p, at(k), x); };
  switch (pattern) {
    case 12:    // max(min(x, 1), 0)
    case 13: {  // min(max(x, 0), 1)
      const double inner = pattern == 12 ? 1.0 : 0.0, outer = 1.0 - inner;
      if (!literal(0, outer)) return kNoIndex;
      if (literal(2, inner)) return at(1);
      return literal(1, inner) ? at(2) : kNoIndex;
    }
    case 9:  // cmp(max(x, 0) - 1, 1, max(x, 0)), the maxima as cmp(x, x, 0)
      return same({6, 2, 3}) && literal(7, 0.0) && literal(4, 0.0) && literal(1, -1.0) && literal(0, 1.0) ? at(5)
                                                                                                          : kNoIndex;
    case 10:  // cmp(min(x, 1), min(x, 1), 0), the minima as cmp(x - 1, 1, x)
      return same({7, 2, 4}) && literal(6, -1.0) && literal(8, -1.0) && literal(1, 1.0) && literal(3, 1.0) &&
                     literal(0, 0.0)
                 ? at(5)
                 : kNoIndex;
    case 11:  // cmp(1 - max(x, 0), max(x, 0), 1)
      return same({6, 2, 3}) && literal(7, 0.0) && literal(4, 0.0) && literal(1, 1.0) && literal(0, 1.0) ? at(5)
                                                                                                         : kNoIndex;
    default:
      return kNoIndex;
  }
}

// The producers of the clamped sources can write the clamp's results
// themselves: every source a result of an arithmetic instruction, each
// result of which is clamped here once and read nowhere else, under the
// clamp's guard, with the clamp's registers untouched in between.
bool ProducersCanSaturate(const ShaderTarget& t, const MatchedList& list, const std::uint32_t* sources,
                          std::uint32_t n) {
  const IrInstruction& cur = *t.current;
  const IrValue* first = t.Value(cur.results[0]);
  std::uint32_t readers[kMaxMatched + 1];
  std::copy(list.position, list.position + list.count, readers);
  readers[list.count] = t.currentIndex;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue* s = t.Value(sources[i]);
    if (!s || !first || s->bank != t.StandardBankIndex(StandardBank::Temporaries) || s->binding || s->alias != kNoIndex)
      return false;
    const std::uint32_t at = s->definingPosition;
    const IrInstruction* producer = at != kNoIndex ? t.Instruction(at) : nullptr;
    if (!producer || !producer->IsArithmetic() || IsSpecialOperation(producer) || list.Contains(at)) return false;
    for (std::uint32_t j = 0; j < n; ++j)
      if (j != i && sources[j] == sources[i]) return false;
    if (CountReadsAt(t, sources[i], readers, list.count + 1) != s->useCount) return false;
    for (std::uint32_t r = 0; r < producer->resultCount; ++r) {
      if (std::find(sources, sources + n, producer->results[r]) == sources + n) return false;
      const IrValue* pr = t.Value(producer->results[r]);
      if (!pr || pr->predicate != first->predicate || pr->predicateSense != first->predicateSense) return false;
    }
    for (std::uint32_t r = 0; r < cur.resultCount; ++r)
      if (!RegisterQuietBetween(t, cur.results[r], at, t.currentIndex, &list)) return false;
  }
  return true;
}

HRESULT SaturateFromMatch(ShaderTarget& t, std::uint32_t pattern, const MatchedList& list, const Captures& c) {
  IrInstruction& cur = *t.current;
  const std::uint32_t n = cur.Width();
  if (n == 0 || n > 4 || cur.resultCount != n) return S_FALSE;
  std::uint32_t sources[4];
  for (std::uint32_t i = 0; i < n; ++i)
    if ((sources[i] = ClampedSource(t, pattern, c, i)) == kNoIndex) return S_FALSE;
  if (ProducersCanSaturate(t, list, sources, n)) {
    for (std::uint32_t i = 0; i < n; ++i) {
      IrInstruction& producer = *t.Instruction(t.Value(sources[i])->definingPosition);
      *std::find(producer.results, producer.results + producer.resultCount, sources[i]) = cur.results[i];
      t.Value(cur.results[i])->binding |= kSaturateBinding;
    }
    Retire(t, list, (1u << list.count) - 1);
    return S_OK;
  }
  const std::uint32_t mask = RetirableMask(t, list, t.currentIndex, sources, n);
  const HRESULT hr = ReplaceCurrentWith(t, IrWord(kOpMove, n), sources, n);
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < n; ++i) t.Value(t.current->results[i])->binding |= kSaturateBinding;
  Retire(t, list, mask);
  return S_OK;
}

}  // namespace

HRESULT RecognizeSaturate(ShaderTarget& t) {
  if (!t.current) return S_FALSE;
  const std::uint32_t group = t.current->Group();
  std::uint32_t patterns[3] = {}, count = 0;
  if (group == kOpMin || group == kMinGroup)
    patterns[count++] = 13;
  else if (group == kOpMax || group == kMaxGroup)
    patterns[count++] = 12;
  else if (group == kOpSelect)
    for (std::uint32_t p : {9u, 10u, 11u}) patterns[count++] = p;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t pattern = patterns[k];
    MatchedList list;
    Captures captures;
    if (Match(t, pattern, false, list, captures) != S_OK) continue;
    const HRESULT hr = SaturateFromMatch(t, pattern, list, captures);
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

HRESULT RecognizeMinMaxFromCompare(ShaderTarget& t) {
  if (!t.current || t.current->Group() != kOpSelect) return S_FALSE;
  const IrInstruction& cur = *t.current;
  const std::uint32_t n = cur.Width();
  if (n == 0 || n > 4 || cur.argumentCount != 3 * n) return S_FALSE;
  const std::uint32_t* a = cur.arguments;
  std::uint32_t arguments[8];
  // cmp(x, 0, x) is min(x, 0), cmp(x, x, 0) is max(x, 0).
  std::uint32_t kind = 0;
  for (std::uint32_t i = 0; i < n && kind != kNoIndex; ++i) {
    std::uint32_t k = kNoIndex;
    if (IsLiteral(t, a[n + i], 0.0) && SameOperand(t, a[i], a[2 * n + i])) k = kMinGroup;
    if (IsLiteral(t, a[2 * n + i], 0.0) && SameOperand(t, a[i], a[n + i])) k = kMaxGroup;
    kind = (i == 0 || k == kind) ? k : kNoIndex;
    arguments[i] = a[i];
    arguments[n + i] = a[(k == kMinGroup ? 1 : 2) * n + i];
  }
  if (kind != kNoIndex) return BuildMinMax(t, kind, arguments, nullptr);

  // cmp(a + (-b), a, b) is max(a, b); cmp(a + (-b), b, a) is min(a, b).
  MatchedList list;
  Captures c;
  if (Match(t, 14, true, list, c) != S_OK) return S_FALSE;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t c0 = c.slot[0][i], c1 = c.slot[1][i], x = c.slot[2][i], y = c.slot[3][i];
    if (c0 == kNoIndex || c1 == kNoIndex || x == kNoIndex || y == kNoIndex) return S_FALSE;
    std::uint32_t k = kNoIndex;
    for (const auto& [s, d] : {std::pair{x, y}, std::pair{y, x}}) {
      if (k != kNoIndex) break;
      if (SameOperand(t, s, c0) && IsNegation(t, d, c1)) k = kMaxGroup;
      if (SameOperand(t, s, c1) && IsNegation(t, d, c0)) k = kMinGroup;
    }
    if (k == kNoIndex || (i > 0 && k != kind)) return S_FALSE;
    kind = k;
    arguments[i] = c0;
    arguments[n + i] = c1;
  }
  return BuildMinMax(t, kind, arguments, &list);
}

HRESULT RecognizeMinMaxFromCompareSums(ShaderTarget& t) {
  if (!t.current || t.current->Group() != kOpSelect) return S_FALSE;
  const IrInstruction& cur = *t.current;
  const std::uint32_t n = cur.Width();
  if (n == 0 || n > 4 || cur.argumentCount != 3 * n) return S_FALSE;
  // 15: cmp(x + k1, L, x + k2) is min(x + k2, L); 16: cmp(x + k1, x + k2, L) is max(x + k2, L); L = k2 - k1.
  for (std::uint32_t pattern : {15u, 16u}) {
    MatchedList list;
    Captures c;
    if (Match(t, pattern, true, list, c) != S_OK) continue;
    std::uint32_t arguments[8];
    bool all = true;
    for (std::uint32_t i = 0; i < n && all; ++i) {
      const std::uint32_t limit = c.slot[0][i];
      all = IsAnyLiteral(t, limit);
      bool found = false;
      for (std::uint32_t o1 = 0; o1 < 2 && all && !found; ++o1)
        for (std::uint32_t o2 = 0; o2 < 2 && !found; ++o2) {
          const std::uint32_t x1 = c.slot[1 + o1][i], k1 = c.slot[2 - o1][i];
          const std::uint32_t x2 = c.slot[3 + o2][i], k2 = c.slot[4 - o2][i];
          if (x1 == kNoIndex || x2 == kNoIndex || !IsAnyLiteral(t, k1) || !IsAnyLiteral(t, k2) ||
              !SameOperand(t, x1, x2))
            continue;
          const double d = (t.Value(k2)->rangeLow - t.Value(k1)->rangeLow) - t.Value(limit)->rangeLow;
          found = std::fabs(d) < kSumTolerance;
        }
      all = all && found;
      arguments[i] = cur.arguments[(pattern == 15 ? 2 : 1) * n + i];
      arguments[n + i] = limit;
    }
    if (!all) continue;
    const HRESULT hr = BuildMinMax(t, pattern == 15 ? kMinGroup : kMaxGroup, arguments, &list);
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

namespace {

// The instruction becomes abs of n arguments starting at `from`, in place.
HRESULT MakeAbs(IrInstruction& inst, std::uint32_t from) {
  const std::uint32_t n = inst.Width();
  for (std::uint32_t i = 0; i < n; ++i) inst.arguments[i] = inst.arguments[from + i];
  inst.word = IrWord(kAbsGroup, n);
  inst.argumentCount = n;
  return S_OK;
}

}  // namespace

HRESULT RecognizeAbsFromMax(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpMax) return S_FALSE;
  const std::uint32_t n = cur->Width();
  if (n == 0 || cur->argumentCount != 2 * n) return S_FALSE;
  for (std::uint32_t i = 0; i < n; ++i)
    if (!IsNegation(t, cur->arguments[n + i], cur->arguments[i])) return S_FALSE;
  return MakeAbs(*cur, 0);
}

namespace {

// cmp(x, x, -x), or with `negated` cmp(-x, -x, x): abs of x.
HRESULT AbsFromCompare(ShaderTarget& t, bool negated) {
  IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpSelect) return S_FALSE;
  const std::uint32_t n = cur->Width();
  if (n == 0 || cur->argumentCount != 3 * n) return S_FALSE;
  const std::uint32_t* a = cur->arguments;
  for (std::uint32_t i = 0; i < n; ++i)
    if (!SameOperand(t, a[i], a[n + i]) || !IsNegation(t, a[(negated ? 0 : 2) * n + i], a[(negated ? 2 : 0) * n + i]))
      return S_FALSE;
  return MakeAbs(*cur, negated ? 2 * n : 0);
}

}  // namespace

HRESULT RecognizeAbsFromCompare(ShaderTarget& t) { return AbsFromCompare(t, false); }
HRESULT RecognizeAbsFromCompareNegated(ShaderTarget& t) { return AbsFromCompare(t, true); }

}  // namespace gxl::shader

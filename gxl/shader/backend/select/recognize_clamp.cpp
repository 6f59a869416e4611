// Clamps to [0, 1] as saturations, and absolute values.
#include <algorithm>
#include <initializer_list>

#include "gxl/shader/backend/select/compare_forms.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kAbsGroup = 0x700;
// Profiles whose clamps arrive written as compares.
constexpr std::uint32_t kCapClampsAsCompares = 0x400000;

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

// Every matched instruction but the root can be retired: nothing outside the
// match reads its results.
bool AllRetirable(const ShaderTarget& t, const MatchedList& list) {
  const std::uint32_t mask = RetirableMask(t, list, t.currentIndex, nullptr, 0);
  for (std::uint32_t i = 0; i < list.count; ++i)
    if (list.position[i] != t.currentIndex && !(mask & (1u << i))) return false;
  return true;
}

// The current instruction becomes the clamp of `sources` to [0, 1]: their
// producers write its results saturated when they can, else a saturated move
// does; the matched instructions nothing else reads are retired.
HRESULT SaturateSources(ShaderTarget& t, const MatchedList& list, const std::uint32_t* sources) {
  IrInstruction& cur = *t.current;
  const std::uint32_t n = cur.Width();
  if (ProducersCanSaturate(t, list, sources, n) && AllRetirable(t, list)) {
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

HRESULT SaturateFromMatch(ShaderTarget& t, std::uint32_t pattern, const MatchedList& list, const Captures& c) {
  const IrInstruction& cur = *t.current;
  const std::uint32_t n = cur.Width();
  if (n == 0 || n > 4 || cur.resultCount != n) return S_FALSE;
  std::uint32_t sources[4];
  for (std::uint32_t i = 0; i < n; ++i)
    if ((sources[i] = ClampedSource(t, pattern, c, i)) == kNoIndex) return S_FALSE;
  return SaturateSources(t, list, sources);
}

// The form as half of a clamp, per component min(s, 1) or max(s, 0) in
// either order: the sources s through `sources`.
bool ClampHalf(const ShaderProgram& p, const MinMaxForm& form, std::uint32_t n, std::uint32_t* sources) {
  const double bound = form.group == kMinGroup ? 1.0 : 0.0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t a = form.arguments[i], b = form.arguments[n + i];
    if (IsLiteral(p, b, bound))
      sources[i] = a;
    else if (IsLiteral(p, a, bound))
      sources[i] = b;
    else
      return false;
  }
  return true;
}

// The instruction whose results the arguments are, each read whole (no
// modifier); kNoIndex when there is no one such instruction.
std::uint32_t CommonProducer(const ShaderProgram& p, const std::uint32_t* arguments, std::uint32_t n) {
  std::uint32_t producer = kNoIndex;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue* a = p.values[arguments[i]];
    const IrValue* v = p.values[p.ResolveAlias(arguments[i])];
    if (!a || !v || a->binding || v->definingPosition == kNoIndex) return kNoIndex;
    if (i > 0 && v->definingPosition != producer) return kNoIndex;
    producer = v->definingPosition;
  }
  return producer;
}

void Append(MatchedList& to, std::uint32_t position) {
  if (!to.Contains(position) && to.count < kMaxMatched) to.position[to.count++] = position;
}

// The current compare read as min(y, 1) or max(y, 0) by the compare forms of
// the min/max recognisers (not the direct maximum, which pattern 10 covers),
// y computed by one instruction read as the other half, max(x, 0) or
// min(x, 1): the compare saturates x.
HRESULT SaturateFromCompareForms(ShaderTarget& t) {
  const IrInstruction& cur = *t.current;
  const std::uint32_t n = cur.Width();
  if (!IsCompareOfWidth(cur) || cur.resultCount != n) return S_FALSE;
  MinMaxForm outer[4];
  const std::uint32_t outerCount = MinMaxForms(t, t.currentIndex, false, outer);
  for (std::uint32_t o = 0; o < outerCount; ++o) {
    std::uint32_t clamped[4];
    if (!ClampHalf(t, outer[o], n, clamped)) continue;
    const std::uint32_t at = CommonProducer(t, clamped, n);
    const IrInstruction* half = at != kNoIndex && at < t.currentIndex ? t.Instruction(at) : nullptr;
    if (!half || half->Width() > 4 || half->resultCount != half->Width()) continue;
    MinMaxForm inner[4];
    const std::uint32_t innerCount = MinMaxForms(t, at, true, inner);
    for (std::uint32_t f = 0; f < innerCount; ++f) {
      std::uint32_t innerSources[4], sources[4];
      if (inner[f].group == outer[o].group || !ClampHalf(t, inner[f], half->Width(), innerSources)) continue;
      bool found = true;
      for (std::uint32_t i = 0; i < n && found; ++i) {
        std::uint32_t j = 0;
        while (j < half->Width() && t.ResolveAlias(half->results[j]) != t.ResolveAlias(clamped[i])) ++j;
        found = j < half->Width();
        if (found) sources[i] = innerSources[j];
      }
      if (!found) continue;
      // Children before parents: the inner tree, its root, the outer tree.
      MatchedList list = inner[f].list;
      Append(list, at);
      for (std::uint32_t k = 0; k < outer[o].list.count; ++k) Append(list, outer[o].list.position[k]);
      Append(list, t.currentIndex);
      const HRESULT hr = SaturateSources(t, list, sources);
      if (hr != S_FALSE) return hr;
    }
  }
  return S_FALSE;
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
    if (MatchAt(t, t.currentIndex, pattern, false, list, captures) != S_OK) continue;
    const HRESULT hr = SaturateFromMatch(t, pattern, list, captures);
    if (hr != S_FALSE) return hr;
  }
  if (group == kOpSelect && (t.profileLimits.capabilities & kCapClampsAsCompares)) return SaturateFromCompareForms(t);
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

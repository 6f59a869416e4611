// The comparison forms of setp and breakc: predicates and breaks on slt, sge
// and compares of sums, and sums and squares compared with zero.
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kSetGe = 0x735, kSetLt = 0x736, kSetNe = 0x737, kSetEq = 0x738;
constexpr std::uint32_t kBreakNe = 0x744, kBreakEq = 0x745, kBreakLt = 0x746, kBreakGe = 0x747;

HRESULT Match(ShaderTarget& t, std::uint32_t pattern, bool relaxed, MatchedList& list, Captures& captures) {
  list.count = 0;
  captures.Clear();
  return MatchExpressionPattern(t, t.currentIndex, Pattern(pattern), list, captures, ComponentMap::Identity(),
                                t.current->Width(), relaxed);
}

// The current instruction becomes `group` of the 2n arguments.
HRESULT Rebuild(ShaderTarget& t, std::uint32_t group, const std::uint32_t* arguments, const MatchedList& list) {
  const std::uint32_t n = t.current->Width();
  const std::uint32_t mask = RetirableMask(t, list, t.currentIndex, arguments, 2 * n);
  const HRESULT hr = ReplaceCurrentWith(t, IrWord(group, n), arguments, 2 * n);
  if (SUCCEEDED(hr)) Retire(t, list, mask);
  return hr;
}

// a + b compared with zero is a compared with -b: the pair (a, -b), or
// (b, -a) where b has no negated form.
HRESULT SumOperands(ShaderTarget& t, std::uint32_t a, std::uint32_t b, std::uint32_t* left, std::uint32_t* right) {
  HRESULT hr;
  for (const auto& [keep, negate] : {std::pair{a, b}, std::pair{b, a}}) {
    const std::uint32_t negated = NegatedValue(t, negate, &hr);
    if (FAILED(hr)) return hr;
    if (negated == kNoIndex) continue;
    *left = keep;
    *right = negated;
    return S_OK;
  }
  return S_FALSE;
}

// cmp(a + b, c0, c1) as a test of the sum: 1 when it is non-zero exactly
// where a + b >= 0, 0 where it is non-zero exactly where a + b < 0, else
// kNoIndex.
std::uint32_t SumCompareSense(const ShaderProgram& p, std::uint32_t c0, std::uint32_t c1) {
  auto nonZero = [&](std::uint32_t v) { return IsAnyLiteral(p, v) && p.values[v]->rangeLow != 0.0; };
  if (nonZero(c0) && IsLiteral(p, c1, 0.0)) return 1;
  if (IsLiteral(p, c0, 0.0) && nonZero(c1)) return 0;
  return kNoIndex;
}

// Patterns 27-29 and 38-40 alike: `first` tests slt, `first + 1` sge,
// `first + 2` the compare of a sum. `groups` gives the operation for slt
// true, sge true, and a sum >= 0 and < 0 being the tested sense.
HRESULT CompareOfComparison(ShaderTarget& t, std::uint32_t first, const std::uint32_t groups[4]) {
  const std::uint32_t n = t.current->Width();
  if (n == 0 || n > 4) return S_FALSE;
  std::uint32_t arguments[8];
  for (std::uint32_t k = 0; k < 2; ++k) {
    MatchedList list;
    Captures c;
    if (Match(t, first + k, true, list, c) != S_OK) continue;
    for (std::uint32_t i = 0; i < n; ++i) {
      arguments[i] = c.slot[0][i];
      arguments[n + i] = c.slot[1][i];
      if (arguments[i] == kNoIndex || arguments[n + i] == kNoIndex) return S_FALSE;
    }
    return Rebuild(t, groups[k], arguments, list);
  }
  MatchedList list;
  Captures c;
  if (Match(t, first + 2, true, list, c) != S_OK) return S_FALSE;
  std::uint32_t sense = kNoIndex;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t s = SumCompareSense(t, c.slot[0][i], c.slot[1][i]);
    if (s == kNoIndex || (i > 0 && s != sense) || c.slot[2][i] == kNoIndex || c.slot[3][i] == kNoIndex) return S_FALSE;
    sense = s;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const HRESULT hr = SumOperands(t, c.slot[2][i], c.slot[3][i], &arguments[i], &arguments[n + i]);
    if (hr != S_OK) return hr;
  }
  return Rebuild(t, groups[2 + (sense == 1 ? 0 : 1)], arguments, list);
}

struct Fold {
  std::uint32_t trigger, pattern, result;
};
enum class FoldKind { kSquare, kSquares, kSum };

// One fold of a comparison with zero, chosen by the current group.
HRESULT FoldComparison(ShaderTarget& t, const Fold* folds, std::uint32_t count, FoldKind kind) {
  if (!t.current) return S_FALSE;
  const Fold* fold = nullptr;
  for (std::uint32_t i = 0; i < count; ++i)
    if (folds[i].trigger == t.current->Group()) fold = &folds[i];
  const std::uint32_t n = t.current->Width();
  if (!fold || n == 0 || n > 4) return S_FALSE;
  MatchedList list;
  Captures c;
  if (Match(t, fold->pattern, kind != FoldKind::kSum, list, c) != S_OK) return S_FALSE;
  auto at = [&](std::uint32_t k, std::uint32_t i) { return c.slot[k][i]; };
  std::uint32_t arguments[8];
  std::uint32_t zero = kNoIndex;
  for (std::uint32_t i = 0; i < n; ++i) {
    for (std::uint32_t k = 0; k < (kind == FoldKind::kSquares ? 4u : 3u); ++k)
      if (at(k, i) == kNoIndex) return S_FALSE;
    switch (kind) {
      case FoldKind::kSquare:  // -(x x) against 0: x against 0
        if (!SameOperand(t, at(1, i), at(2, i)) || !IsLiteral(t, at(0, i), 0.0)) return S_FALSE;
        arguments[i] = at(1, i);
        arguments[n + i] = at(0, i);
        break;
      case FoldKind::kSquares:  // -(x x) against x x: x against 0
        for (std::uint32_t k = 1; k < 4; ++k)
          if (!SameOperand(t, at(0, i), at(k, i))) return S_FALSE;
        arguments[i] = at(0, i);
        break;
      case FoldKind::kSum:  // a + b against 0: a against -b
        if (!IsLiteral(t, at(0, i), 0.0)) return S_FALSE;
        break;
    }
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    if (kind == FoldKind::kSquares) {
      if (zero == kNoIndex && (zero = LiteralValue(t, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
      arguments[n + i] = zero;
    } else if (kind == FoldKind::kSum) {
      const HRESULT hr = SumOperands(t, at(1, i), at(2, i), &arguments[i], &arguments[n + i]);
      if (hr != S_OK) return hr;
    }
  }
  return Rebuild(t, fold->result, arguments, list);
}

constexpr Fold kSquareComparisons[] = {{kSetGe, 23, kSetEq}, {kSetLt, 24, kSetNe}};
constexpr Fold kSquaresComparisons[] = {{kSetGe, 25, kSetEq}, {kSetLt, 26, kSetNe}};
constexpr Fold kSumComparisons[] = {
    {kSetGe, 19, kSetGe}, {kSetLt, 20, kSetLt}, {kSetNe, 21, kSetNe}, {kSetEq, 22, kSetEq}};
constexpr Fold kSquareBreaks[] = {{kBreakGe, 34, kBreakEq}, {kBreakLt, 35, kBreakNe}};
constexpr Fold kSquaresBreaks[] = {{kBreakGe, 36, kBreakEq}, {kBreakLt, 37, kBreakNe}};
constexpr Fold kSumBreaks[] = {
    {kBreakGe, 30, kBreakGe}, {kBreakLt, 31, kBreakLt}, {kBreakNe, 32, kBreakNe}, {kBreakEq, 33, kBreakEq}};

}  // namespace

HRESULT RecognizePredicateComparison(ShaderTarget& t) {
  if (!t.current || t.current->Group() != kOpIfBegin) return S_FALSE;
  // Non-zero where slt holds: a < b; where sge holds: a >= b.
  static constexpr std::uint32_t kGroups[4] = {kSetLt, kSetGe, kSetGe, kSetLt};
  return CompareOfComparison(t, 27, kGroups);
}

HRESULT RecognizeBreakComparison(ShaderTarget& t) {
  if (!t.current || t.current->Group() != kOpBreak || t.current->Width() != 1) return S_FALSE;
  // The break is taken where its operand is zero: slt false is a >= b.
  static constexpr std::uint32_t kGroups[4] = {kBreakGe, kBreakLt, kBreakLt, kBreakGe};
  return CompareOfComparison(t, 38, kGroups);
}

HRESULT RecognizePredicateFromCompare(ShaderTarget& t) {
  if (!t.current || t.current->Group() != kOpIfBegin) return S_FALSE;
  const std::uint32_t n = t.current->Width();
  MatchedList list;
  Captures c;
  if (n == 0 || n > 4 || Match(t, 18, false, list, c) != S_OK) return S_FALSE;
  std::uint32_t arguments[8], group = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t g = 0;
    if (IsLiteral(t, c.slot[1][i], 1.0) && IsLiteral(t, c.slot[2][i], 0.0)) g = kSetGe;
    if (IsLiteral(t, c.slot[1][i], 0.0) && IsLiteral(t, c.slot[2][i], 1.0)) g = kSetLt;
    if (g == 0 || (i > 0 && g != group) || c.slot[0][i] == kNoIndex) return S_FALSE;
    group = g;
    arguments[i] = c.slot[0][i];
    arguments[n + i] = c.slot[g == kSetGe ? 2 : 1][i];
  }
  return Rebuild(t, group, arguments, list);
}

HRESULT CompareWithNegatedSelf(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->word != IrWord(kSetNe, 1) || cur->argumentCount != 2 || !IsLiteral(t, cur->arguments[1], 0.0))
    return S_FALSE;
  HRESULT hr;
  const std::uint32_t negated = NegatedValue(t, cur->arguments[0], &hr);
  if (negated == kNoIndex) return hr;
  cur->arguments[1] = negated;
  return S_OK;
}

HRESULT FoldSquareIntoComparison(ShaderTarget& t) {
  return FoldComparison(t, kSquareComparisons, std::size(kSquareComparisons), FoldKind::kSquare);
}
HRESULT FoldSquaresIntoComparison(ShaderTarget& t) {
  return FoldComparison(t, kSquaresComparisons, std::size(kSquaresComparisons), FoldKind::kSquares);
}
HRESULT FoldSumIntoComparison(ShaderTarget& t) {
  return FoldComparison(t, kSumComparisons, std::size(kSumComparisons), FoldKind::kSum);
}
HRESULT FoldSquareIntoBreak(ShaderTarget& t) {
  return FoldComparison(t, kSquareBreaks, std::size(kSquareBreaks), FoldKind::kSquare);
}
HRESULT FoldSquaresIntoBreak(ShaderTarget& t) {
  return FoldComparison(t, kSquaresBreaks, std::size(kSquaresBreaks), FoldKind::kSquares);
}
HRESULT FoldSumIntoBreak(ShaderTarget& t) {
  return FoldComparison(t, kSumBreaks, std::size(kSumBreaks), FoldKind::kSum);
}

}  // namespace gxl::shader

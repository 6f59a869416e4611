// Multiply-add forming: an add fed by a product (or a negated product, or a
// doubled value) becomes one mad, as do a difference of a sum and a mad of a
// sum whose other operands are literals; and a mad whose addend is a product
// of the complement's factor becomes a lerp.
#include <algorithm>
#include <cmath>
#include <utility>

#include "gxl/shader/backend/select/expression_pattern.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/modifier_folds.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kMad = 0x703, kNegatedMad = 0x704;

// add(mul(a, b), c) and add(-mul(a, b), c); then (a + a) + c and -(a + a) + c,
// in both orders of the outer add, which need the literal 2.0.
struct MadForm {
  std::uint32_t pattern;
  std::uint32_t group;
  bool doubled;
};
constexpr MadForm kForms[] = {{1, kMad, false}, {2, kNegatedMad, false}, {3, kMad, true},
                              {5, kMad, true},  {4, kNegatedMad, true},  {6, kNegatedMad, true}};

// The 2.0 the doubling forms multiply by: one literal in a bank of its own,
// made once per target.
std::uint32_t TwoLiteral(ShaderTarget& t) {
  const IrValue* cached = t.twoLiteral != kNoIndex ? t.Value(t.twoLiteral) : nullptr;
  if (cached && cached->rangeLow == 2.0 && cached->binding == 0 && cached->alias == kNoIndex &&
      (BankTypeOf(t, t.twoLiteral) & kBankLiteral))
    return t.twoLiteral;
  const std::uint32_t bank = t.AddRegisterBank("l", 0x311, kNoIndex, 4);
  t.twoLiteral = bank == kNoIndex ? kNoIndex : t.AddValue(bank, kNoIndex, kNoIndex, 2.0);
  return t.twoLiteral;
}

// A literal the rewrite needs: one of the last three the folds made when it
// has that value, else a new one.
std::uint32_t FoldLiteral(ShaderTarget& t, double x) {
  for (std::uint32_t v : t.foldLiterals)
    if (v < t.values.Count() && IsLiteral(t, v, x) && std::signbit(t.Value(v)->rangeLow) == std::signbit(x)) return v;
  const std::uint32_t made = t.AddValue(t.StandardBankIndex(StandardBank::Literals), kNoIndex, kNoIndex, x);
  if (made != kNoIndex) {
    std::copy_backward(t.foldLiterals, t.foldLiterals + 2, t.foldLiterals + 3);
    t.foldLiterals[0] = made;
  }
  return made;
}

bool LiteralOf(const ShaderProgram& p, std::uint32_t value, double* x) {
  if (value == kNoIndex || !IsAnyLiteral(p, value)) return false;
  *x = p.Value(value)->rangeLow;
  return true;
}

// The matched tree becomes one instruction of `group` over `arguments` (3n)
// writing the current results. S_FALSE when an operand of the first `inner`
// groups, read inside the tree, no longer holds its value at the current
// instruction, or when the target refuses the instruction.
HRESULT PlaceFused(ShaderTarget& t, std::uint32_t group, const std::uint32_t* arguments, std::uint32_t inner,
                   const MatchedList& list) {
  const std::uint32_t n = t.current->Width();
  // Written after any matched instruction is written after the earliest.
  if (list.count > 1 && WrittenBetween(t, arguments, inner * n,
                                       *std::min_element(list.position, list.position + list.count - 1),
                                       t.currentIndex))
    return S_FALSE;
  IrInstruction* node = NewInstruction(IrWord(group, n), 3 * n, n);
  if (!node) return E_OUTOFMEMORY;
  std::copy(arguments, arguments + 3 * n, node->arguments);
  std::copy(t.current->results, t.current->results + n, node->results);
  std::uint32_t copy = 0;
  if (t.NextArgumentToCopy(*node, &copy) != 0) {
    delete node;
    return S_FALSE;
  }
  const std::uint32_t mask = RetirableMask(t, list, t.currentIndex, node->arguments, node->argumentCount);
  ReplaceCurrent(t, node);
  Retire(t, list, mask);
  return S_OK;
}

HRESULT FirstTable(ShaderTarget& t, bool relaxed) {
  const std::uint32_t n = t.current->Width();
  for (const MadForm& form : kForms) {
    MatchedList list;
    Captures captures;
    captures.Clear();
    if (MatchExpressionPattern(t, t.currentIndex, Pattern(form.pattern), list, captures, ComponentMap::Identity(), n,
                               relaxed) != S_OK)
      continue;
    std::uint32_t arguments[12];
    bool ok = true;
    for (std::uint32_t c = 0; c < n && ok; ++c) {
      std::uint32_t a = Capture(captures, 0, c), b = Capture(captures, 1, c);
      if (form.doubled) {
        ok = a != kNoIndex && b != kNoIndex && SameOperand(t, a, b);
        b = ok ? TwoLiteral(t) : kNoIndex;
        if (ok && b == kNoIndex) return E_OUTOFMEMORY;
      }
      arguments[c] = a;
      arguments[n + c] = b;
      arguments[2 * n + c] = Capture(captures, 2, c);
      ok = ok && a != kNoIndex && b != kNoIndex && arguments[2 * n + c] != kNoIndex;
    }
    const HRESULT hr = ok ? PlaceFused(t, form.group, arguments, 2, list) : S_FALSE;
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

// c - (a + b) with c and one of a, b literals k_c, k: mad(other, -1, k_c - k).
bool DifferenceOfSum(ShaderTarget& t, const Captures& captures, std::uint32_t c, std::uint32_t out[3]) {
  const std::uint32_t a = Capture(captures, 0, c), b = Capture(captures, 1, c);
  double kc, k;
  if (!LiteralOf(t, Capture(captures, 2, c), &kc)) return false;
  const std::uint32_t other = LiteralOf(t, b, &k) ? a : LiteralOf(t, a, &k) ? b : kNoIndex;
  if (other == kNoIndex) return false;
  out[0] = other;
  out[1] = FoldLiteral(t, -1.0);
  out[2] = FoldLiteral(t, kc - k);
  return true;
}

// mad(a + b, c, d): mad(a, 2c, d) when b is a and c a literal; mad(a, c,
// b c + d) (or with a and b exchanged) when the others are literals.
bool MadOfSum(ShaderTarget& t, const Captures& captures, std::uint32_t c, std::uint32_t out[3]) {
  const std::uint32_t a = Capture(captures, 0, c), b = Capture(captures, 1, c), f = Capture(captures, 2, c),
                      d = Capture(captures, 3, c);
  double ka, kb, kf, kd;
  if (a == kNoIndex || b == kNoIndex || d == kNoIndex || !LiteralOf(t, f, &kf)) return false;
  if (SameOperand(t, a, b)) {
    out[0] = a;
    out[1] = FoldLiteral(t, 2.0 * kf);
    out[2] = d;
    return true;
  }
  if (!LiteralOf(t, d, &kd)) return false;
  const bool literalB = LiteralOf(t, b, &kb);
  if (!literalB && !LiteralOf(t, a, &ka)) return false;
  out[0] = literalB ? a : b;
  out[1] = f;
  out[2] = FoldLiteral(t, (literalB ? kb : ka) * kf + kd);
  return true;
}

// Tried when the first table gives no match: c - (a + b) at an add (both
// orders of its sides), mad(a + b, c, d) at a mad (both orders of its
// factors). Each component takes its own rewrite; its first operand is the
// one leaf read inside the tree.
HRESULT SecondTable(ShaderTarget& t, bool relaxed) {
  const std::uint32_t n = t.current->Width();
  const bool add = t.current->Group() == kOpAdd;
  const std::uint32_t patterns[2] = {add ? 6u : 7u, add ? 4u : 8u};
  for (std::uint32_t pattern : patterns) {
    MatchedList list;
    Captures captures;
    captures.Clear();
    if (MatchExpressionPattern(t, t.currentIndex, Pattern(pattern), list, captures, ComponentMap::Identity(), n,
                               relaxed) != S_OK)
      continue;
    std::uint32_t arguments[12];
    bool ok = true;
    for (std::uint32_t c = 0; c < n && ok; ++c) {
      std::uint32_t leaves[3];
      ok = add ? DifferenceOfSum(t, captures, c, leaves) : MadOfSum(t, captures, c, leaves);
      for (std::uint32_t k = 0; k < 3 && ok; ++k) {
        if (leaves[k] == kNoIndex) return E_OUTOFMEMORY;
        arguments[k * n + c] = leaves[k];
      }
    }
    const HRESULT hr = ok ? PlaceFused(t, kMad, arguments, 1, list) : S_FALSE;
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

}  // namespace

HRESULT FormMultiplyAdd(ShaderTarget& t, bool relaxed) {
  IrInstruction* cur = t.current;
  if (!cur || cur->word < 0x100000) return S_FALSE;
  const std::uint32_t n = cur->Width(), group = cur->Group();
  if (n == 0 || n > 4 || cur->resultCount != n) return S_FALSE;
  if (group == kOpAdd && cur->argumentCount == 2 * n) {
    const HRESULT hr = FirstTable(t, relaxed);
    return hr != S_FALSE ? hr : SecondTable(t, relaxed);
  }
  return group == kMad && cur->argumentCount == 3 * n ? SecondTable(t, relaxed) : S_FALSE;
}

HRESULT TryLerpOrders(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->word < 0x100000 || cur->Group() != kMad) return S_FALSE;
  const std::uint32_t n = cur->Width();
  if (n == 0 || n > 4 || cur->argumentCount != 3 * n) return S_FALSE;
  std::uint32_t producers[3] = {kNoIndex, kNoIndex, kNoIndex};
  if (FindGroupProducers(t, kOpMultiply, *cur, producers, 2) != S_OK || producers[2] == kNoIndex) return S_FALSE;
  // mad(x, y, p * q): a * (1 - f) + b * f with {a, 1 - f} = {x, y} and
  // {b, f} = {p, q}, or the products' roles exchanged.
  const IrInstruction& mul = *t.Instruction(producers[2]);
  std::uint32_t x[4], y[4], p[4], q[4];
  for (std::uint32_t c = 0; c < n; ++c) {
    const std::uint32_t* at = std::find(mul.results, mul.results + mul.resultCount, cur->arguments[2 * n + c]);
    if (at == mul.results + mul.resultCount) return S_FALSE;
    const std::uint32_t j = static_cast<std::uint32_t>(at - mul.results), m = mul.Width();
    x[c] = cur->arguments[c];
    y[c] = cur->arguments[n + c];
    p[c] = mul.arguments[j];
    q[c] = mul.arguments[m + j];
  }
  // The complement among the mad's factors in all four ways; among the
  // product's operands where it stands at the factor's place (t b + (1 - t) a
  // and b t + a (1 - t)), as source written either way gives.
  const std::uint32_t* orders[6][4] = {{x, y, p, q}, {x, y, q, p}, {y, x, p, q},
                                       {y, x, q, p}, {q, p, y, x}, {p, q, x, y}};
  for (const auto& o : orders) {
    const HRESULT hr = RecognizeLerp(t, o[0], o[1], o[2], o[3]);
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

}  // namespace gxl::shader

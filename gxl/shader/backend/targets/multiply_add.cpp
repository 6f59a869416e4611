// Multiply-add forming: an add fed by a product (or a negated product, or a
// doubled value) becomes one mad, and a mad whose addend is a product of the
// complement's factor becomes a lerp.
#include <algorithm>
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

bool WrittenBetween(const ShaderProgram& p, std::uint32_t value, std::uint32_t from, std::uint32_t to) {
  const IrValue* v = p.Value(value);
  if (!v || v->reg == kNoIndex || v->component >= 4) return false;
  for (std::uint32_t i = from + 1; i < to; ++i) {
    const IrInstruction* inst = p.Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (SameRegisterComponent(p, inst->results[r], value)) return true;
  }
  return false;
}

}  // namespace

HRESULT FormMultiplyAdd(ShaderTarget& t, bool relaxed) {
  IrInstruction* cur = t.current;
  if (!cur || cur->word < 0x100000 || cur->Group() != kOpAdd) return S_FALSE;
  const std::uint32_t n = cur->Width();
  if (n == 0 || n > 4 || cur->resultCount != n || cur->argumentCount != 2 * n) return S_FALSE;
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
    // The product's operands must still hold their values at the add.
    for (std::uint32_t i = 0; i + 1 < list.count && ok; ++i)
      for (std::uint32_t k = 0; k < 2 * n && ok; ++k)
        ok = !WrittenBetween(t, arguments[k], list.position[i], t.currentIndex);
    if (!ok) continue;
    IrInstruction* node = NewInstruction(IrWord(form.group, n), 3 * n, n);
    if (!node) return E_OUTOFMEMORY;
    std::copy(arguments, arguments + 3 * n, node->arguments);
    std::copy(cur->results, cur->results + n, node->results);
    std::uint32_t group = 0;
    if (t.NextArgumentToCopy(*node, &group) != 0) {
      delete node;
      continue;
    }
    const std::uint32_t mask = RetirableMask(t, list, t.currentIndex, node->arguments, node->argumentCount);
    ReplaceCurrent(t, node);
    Retire(t, list, mask);
    return S_OK;
  }
  return S_FALSE;
}

HRESULT TryLerpOrders(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->word < 0x100000 || cur->Group() != kMad) return S_FALSE;
  const std::uint32_t n = cur->Width();
  if (n == 0 || n > 4 || cur->argumentCount != 3 * n) return S_FALSE;
  std::uint32_t producers[3] = {kNoIndex, kNoIndex, kNoIndex};
  if (FindGroupProducers(t, kOpMultiply, *cur, producers, 2) != S_OK || producers[2] == kNoIndex) return S_FALSE;
  // mad(x, y, p * q): a * (1 - f) + b * f with {a, 1 - f} = {x, y} and {b, f} = {p, q}.
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
  const std::uint32_t* orders[4][4] = {{x, y, p, q}, {x, y, q, p}, {y, x, p, q}, {y, x, q, p}};
  for (const auto& o : orders) {
    const HRESULT hr = RecognizeLerp(t, o[0], o[1], o[2], o[3]);
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

}  // namespace gxl::shader

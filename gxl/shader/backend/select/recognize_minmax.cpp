// Minimum and maximum from compares.
#include <algorithm>
#include <cmath>
#include <utility>

#include "gxl/shader/backend/select/compare_forms.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"

namespace gxl::shader {

namespace sel {

namespace {

// Constants of the compare-of-sums forms agree within this.
constexpr double kSumTolerance = static_cast<double>(1e-5f);

}  // namespace

bool IsCompareOfWidth(const IrInstruction& inst) {
  const std::uint32_t n = inst.Width();
  return inst.word >= 0x100000 && inst.Group() == kOpSelect && n > 0 && n <= 4 && inst.argumentCount == 3 * n;
}

HRESULT MatchAt(const ShaderProgram& p, std::uint32_t position, std::uint32_t pattern, bool relaxed, MatchedList& list,
                Captures& captures) {
  list.count = 0;
  captures.Clear();
  const IrInstruction* inst = p.instructions[position];
  if (!inst) return S_FALSE;
  return MatchExpressionPattern(p, position, Pattern(pattern), list, captures, ComponentMap::Identity(), inst->Width(),
                                relaxed);
}

bool DirectForm(const ShaderProgram& p, const IrInstruction& inst, bool offerMax, MinMaxForm& form) {
  if (!IsCompareOfWidth(inst)) return false;
  const std::uint32_t n = inst.Width();
  const std::uint32_t* a = inst.arguments;
  std::uint32_t kind = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t k = 0;
    if (IsLiteral(p, a[n + i], 0.0) && SameOperand(p, a[i], a[2 * n + i])) k = kMinGroup;
    if (offerMax && IsLiteral(p, a[2 * n + i], 0.0) && SameOperand(p, a[i], a[n + i])) k = kMaxGroup;
    if (k == 0 || (i > 0 && k != kind)) return false;
    kind = k;
    form.arguments[i] = a[i];
    form.arguments[n + i] = a[(k == kMinGroup ? 1 : 2) * n + i];
  }
  form.group = kind;
  form.list.count = 0;
  return true;
}

bool DifferenceForm(const ShaderProgram& p, std::uint32_t position, bool relaxed, MinMaxForm& form) {
  const IrInstruction* inst = p.instructions[position];
  if (!inst || !IsCompareOfWidth(*inst)) return false;
  const std::uint32_t n = inst->Width();
  Captures c;
  if (MatchAt(p, position, 14, relaxed, form.list, c) != S_OK) return false;
  std::uint32_t kind = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t c0 = c.slot[0][i], c1 = c.slot[1][i], x = c.slot[2][i], y = c.slot[3][i];
    if (c0 == kNoIndex || c1 == kNoIndex || x == kNoIndex || y == kNoIndex) return false;
    std::uint32_t k = 0;
    for (const auto& [s, d] : {std::pair{x, y}, std::pair{y, x}}) {
      if (k) break;
      if (SameOperand(p, s, c0) && IsNegation(p, d, c1)) k = kMaxGroup;
      if (SameOperand(p, s, c1) && IsNegation(p, d, c0)) k = kMinGroup;
    }
    if (k == 0 || (i > 0 && k != kind)) return false;
    kind = k;
    form.arguments[i] = c0;
    form.arguments[n + i] = c1;
  }
  form.group = kind;
  return true;
}

bool SumsForm(const ShaderProgram& p, std::uint32_t position, std::uint32_t pattern, bool relaxed, MinMaxForm& form) {
  const IrInstruction* inst = p.instructions[position];
  if (!inst || !IsCompareOfWidth(*inst)) return false;
  const std::uint32_t n = inst->Width();
  Captures c;
  if (MatchAt(p, position, pattern, relaxed, form.list, c) != S_OK) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t limit = c.slot[0][i];
    if (!IsAnyLiteral(p, limit)) return false;
    bool found = false;
    for (std::uint32_t o1 = 0; o1 < 2 && !found; ++o1)
      for (std::uint32_t o2 = 0; o2 < 2 && !found; ++o2) {
        const std::uint32_t x1 = c.slot[1 + o1][i], k1 = c.slot[2 - o1][i];
        const std::uint32_t x2 = c.slot[3 + o2][i], k2 = c.slot[4 - o2][i];
        if (x1 == kNoIndex || x2 == kNoIndex || !IsAnyLiteral(p, k1) || !IsAnyLiteral(p, k2) || !SameOperand(p, x1, x2))
          continue;
        const double d = (p.values[k2]->rangeLow - p.values[k1]->rangeLow) - p.values[limit]->rangeLow;
        found = std::fabs(d) < kSumTolerance;
      }
    if (!found) return false;
    form.arguments[i] = inst->arguments[(pattern == 15 ? 2 : 1) * n + i];
    form.arguments[n + i] = limit;
  }
  form.group = pattern == 15 ? kMinGroup : kMaxGroup;
  return true;
}

std::uint32_t MinMaxForms(const ShaderProgram& p, std::uint32_t position, bool offerMax, MinMaxForm* forms) {
  const IrInstruction* inst = p.instructions[position];
  if (!inst || inst->word < 0x100000) return 0;
  const std::uint32_t n = inst->Width(), group = inst->Group();
  if (group == kOpMin || group == kMinGroup || group == kOpMax || group == kMaxGroup) {
    if (n == 0 || n > 4 || inst->argumentCount != 2 * n) return 0;
    forms[0].group = group == kOpMin || group == kMinGroup ? kMinGroup : kMaxGroup;
    std::copy(inst->arguments, inst->arguments + 2 * n, forms[0].arguments);
    forms[0].list.count = 0;
    return 1;
  }
  std::uint32_t count = 0;
  count += DirectForm(p, *inst, offerMax, forms[count]);
  count += DifferenceForm(p, position, false, forms[count]);
  for (std::uint32_t pattern : {15u, 16u}) count += SumsForm(p, position, pattern, false, forms[count]);
  return count;
}

}  // namespace sel

using namespace sel;

namespace {

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

// Replaces the current instruction by the form when its arguments do not
// overlap its results, retiring what only the match read.
HRESULT BuildMinMax(ShaderTarget& t, const MinMaxForm& form) {
  const std::uint32_t n = t.current->Width();
  if (OverlapsResult(t, form.arguments, 2 * n, *t.current)) return S_FALSE;
  const std::uint32_t mask = RetirableMask(t, form.list, t.currentIndex, form.arguments, 2 * n);
  const HRESULT hr = ReplaceCurrentWith(t, IrWord(form.group, n), form.arguments, 2 * n);
  if (SUCCEEDED(hr)) Retire(t, form.list, mask);
  return hr;
}

}  // namespace

HRESULT RecognizeMinMaxFromCompare(ShaderTarget& t) {
  if (!t.current || !IsCompareOfWidth(*t.current)) return S_FALSE;
  MinMaxForm form;
  if (DirectForm(t, *t.current, true, form)) return BuildMinMax(t, form);
  return DifferenceForm(t, t.currentIndex, true, form) ? BuildMinMax(t, form) : S_FALSE;
}

HRESULT RecognizeMinMaxFromCompareSums(ShaderTarget& t) {
  if (!t.current || !IsCompareOfWidth(*t.current)) return S_FALSE;
  for (std::uint32_t pattern : {15u, 16u}) {
    MinMaxForm form;
    if (!SumsForm(t, t.currentIndex, pattern, true, form)) continue;
    const HRESULT hr = BuildMinMax(t, form);
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

}  // namespace gxl::shader

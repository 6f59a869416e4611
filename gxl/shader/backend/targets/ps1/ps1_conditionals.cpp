// ps_1_1-1_3 have no compare-select: cmp(x, a, b) becomes cnd(0.5 - x, b, a),
// whose condition lives in the w of a temporary (cnd reads the condition's
// alpha on these models). An lrp of three constant groups reads its factor
// from a temporary, as an instruction reads at most two constants.
#include <algorithm>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/ps1/ps1_arith.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

namespace {

using ps1::ArithmeticRebuild;

// The lrp's factor group moved into new temporaries of its destination
// components, appended before it.
HRESULT CopyLerpFactor(PixelShader1Target& t, ArithmeticRebuild& list, std::uint32_t index) {
  IrInstruction* lerp = t.Instruction(index);
  const std::uint32_t n = lerp->Width();
  if (n == 0 || n > 4 || lerp->argumentCount != 3 * n || lerp->resultCount != n) return 1;
  for (std::uint32_t a = 0; a < lerp->argumentCount; ++a)
    if (!t.IsConstantValue(t.ResolveAlias(lerp->arguments[a]))) return 1;
  std::uint32_t copies[4];
  for (std::uint32_t c = 0; c < n; ++c)
    if ((copies[c] = ps1::NewTemporary(t, t.Value(lerp->results[c])->component)) == kNoIndex) return E_OUTOFMEMORY;
  const std::uint32_t move = ps1::AddProducer(t, IrWord(kOpMove, n), lerp->arguments, n, copies, n, index);
  if (move == kNoIndex) return E_OUTOFMEMORY;
  std::copy(copies, copies + n, t.Instruction(index)->arguments);
  return list.Append(move, index);
}

// 0.5 - x into a new temporary's w: one mad, or a mul and an add where the
// mad reads too many registers. The temporary through `w`.
HRESULT HalfMinus(PixelShader1Target& t, ArithmeticRebuild& list, std::uint32_t index, std::uint32_t x,
                  std::uint32_t* w) {
  // Writing w alone, the condition is read as .w or .z; x or y first moves to a w.
  const IrValue* condition = t.Value(x);
  const bool literal = sel::BankTypeOf(t, x) & kBankLiteral;
  if (!literal && condition->component < 2) {
    const HRESULT hr = ps1::SelectIntoW(t, list, x, condition->component, index, &x);
    if (FAILED(hr)) return hr;
  }
  const std::uint32_t minusOne = ps1::Literal(t, -1.0), half = ps1::Literal(t, 0.5);
  *w = ps1::NewTemporary(t, ps1::kComponentW);
  if (minusOne == kNoIndex || half == kNoIndex || *w == kNoIndex) return E_OUTOFMEMORY;
  const std::uint32_t madArguments[3] = {x, minusOne, half};
  const std::uint32_t mad = ps1::AddProducer(t, IrWord(kOpPs1Mad, 1), madArguments, 3, w, 1, index);
  if (mad == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t group = 0;
  if (t.NextArgumentToCopy(*t.Instruction(mad), &group) == 0) return list.Append(mad, index);
  t.Instruction(mad)->word = 0;
  const std::uint32_t negated = ps1::NewTemporary(t, ps1::kComponentW);
  if (negated == kNoIndex) return E_OUTOFMEMORY;
  const std::uint32_t mulArguments[2] = {x, minusOne}, addArguments[2] = {negated, half};
  const std::uint32_t mul = ps1::AddProducer(t, IrWord(kOpMultiply, 1), mulArguments, 2, &negated, 1, index);
  const std::uint32_t add =
      mul == kNoIndex ? kNoIndex : ps1::AddProducer(t, IrWord(kOpAdd, 1), addArguments, 2, w, 1, index);
  if (add == kNoIndex) return E_OUTOFMEMORY;
  const HRESULT hr = list.Append(mul, index);
  return FAILED(hr) ? hr : list.Append(add, index);
}

HRESULT LowerSelect(PixelShader1Target& t, ArithmeticRebuild& list, std::uint32_t index) {
  IrInstruction* select = t.Instruction(index);
  const std::uint32_t n = select->Width();
  if (n == 0 || n > 4 || select->argumentCount != 3 * n) return 1;
  // cnd tests one alpha: every component must test the same value.
  for (std::uint32_t c = 1; c < n; ++c)
    if (!sel::SameOperand(t, select->arguments[0], select->arguments[c])) {
      t.SetCurrentInstruction(index);
      GXL_SHADER_REPORT(t, t.currentSource, msg::kVectorConditionalEmulation, static_cast<int>(t.Minor()));
      return E_FAIL;
    }
  std::uint32_t w = kNoIndex;
  const HRESULT hr = HalfMinus(t, list, index, select->arguments[0], &w);
  if (FAILED(hr)) return hr;
  select = t.Instruction(index);
  std::fill(select->arguments, select->arguments + n, w);
  // cnd takes its first source above 0.5, that is where x < 0.
  std::swap_ranges(select->arguments + n, select->arguments + 2 * n, select->arguments + 2 * n);
  select->word = IrWord(kOpPs1Cnd, n);
  t.conditionalLowered = true;
  return S_OK;
}

}  // namespace

HRESULT Ps1StandardRules::LowerConditionals(PixelShader1Target& t) {
  if (t.Is14()) return 1;
  return ArithmeticRebuild(t).RewriteEach([&t](ArithmeticRebuild& list, std::uint32_t index) -> HRESULT {
    const std::uint32_t group = t.Instruction(index)->Group();
    return group == kOpPs1Lerp ? CopyLerpFactor(t, list, index)
           : group == kOpSelect ? LowerSelect(t, list, index)
                                : 1;
  });
}

}  // namespace gxl::shader

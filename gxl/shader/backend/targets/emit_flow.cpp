// The emission rules of predicates, flow control and texture sampling, and
// the rule each operation group takes.
#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

namespace {

// Texture sampling groups: four kinds of five forms each.
constexpr std::uint32_t kFirstSample = 0x600, kLastSample = 0x613, kFormsPerKind = 5;
enum SampleForm : std::uint32_t { kPlain, kGradient, kProjected, kBiased, kLevelOfDetail };

}  // namespace

// --- Predicates -------------------------------------------------------------------------

HRESULT ShaderTarget::EmitSetPredicate() {
  if (profileLimits.predicates == 0) return E_NOTIMPL;
  const IrInstruction& inst = *current;
  DWORD comparison = 0;
  switch (inst.Group()) {
    case 0x10F:
    case 0x737:
      comparison = kCompareNotEqual;
      break;
    case 0x735:
      comparison = kCompareGreaterEqual;
      break;
    case 0x736:
      comparison = kCompareLess;
      break;
    case 0x738:
      comparison = kCompareEqual;
      break;
    default:
      return E_NOTIMPL;
  }
  std::uint32_t *a = nullptr, *b = nullptr;
  inst.ArgumentGroup(0, &a);
  inst.ArgumentGroup(1, &b);
  // The is-non-zero test compares its operand with its own negation.
  const bool self = inst.Group() == 0x10F;
  if (!a || (!self && !b)) return E_FAIL;
  Operation op{kOpcodeSetp | comparison << 16,
               inst.results,
               inst.resultCount,
               {a, self ? a : b},
               {0, self ? kModifierNegate : 0},
               2,
               inst.Width()};
  op.predicateMode = Operation::kNoPredicate;
  return WriteOperation(op);
}

HRESULT ShaderTarget::EmitPredicatedSelect() {
  if (profileLimits.predicates == 0) return E_NOTIMPL;
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.resultCount;
  if (n == 0) return S_OK;
  const IrValue* first = Value(inst.results[0]);
  if (!first || inst.argumentCount < 2 * n) return E_FAIL;
  for (std::uint32_t k = 0; k < 2; ++k) {
    const std::uint32_t* group = inst.arguments + k * n;
    const IrValue* g = Value(group[0]);
    if (!g) return E_FAIL;
    // The alternative that already lies where the result goes needs no move.
    if (g->bank == first->bank && g->relativeIndex == first->relativeIndex && g->reg == first->reg &&
        g->component == first->component)
      continue;
    const IrValue* p = Value(g->predicate);
    if (!p) return E_FAIL;
    Operation op{kOpcodeMov, inst.results, n, {group}, {0}, 1, n};
    op.predicateMode = Operation::kGivenPredicate;
    op.predicate =
        0xB0001000 | (p->reg & 0x7FF) | (p->component & 3) * 0x550000 | (g->predicateSense == 0 ? kModifierNot : 0);
    const HRESULT hr = WriteOperation(op);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// --- Flow control --------------------------------------------------------------------

HRESULT ShaderTarget::EmitBare(DWORD opcode) {
  const HRESULT hr = BeginInstruction(opcode);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT ShaderTarget::EmitIfBool(std::uint32_t negated) {
  std::uint32_t* a = nullptr;
  if (!current->ArgumentGroup(0, &a)) return E_FAIL;
  HRESULT hr = BeginInstruction(kOpcodeIf);
  if (SUCCEEDED(hr)) hr = WriteSource(a, 1, kFullMask, negated ? kModifierNot : 0, true);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT ShaderTarget::EmitCompareForm(DWORD opcode, DWORD comparison) {
  std::uint32_t *a = nullptr, *b = nullptr;
  const std::uint32_t n = current->ArgumentGroup(0, &a);
  current->ArgumentGroup(1, &b);
  if (!a || !b) return E_FAIL;
  HRESULT hr = BeginInstruction(opcode | comparison << 16);
  if (SUCCEEDED(hr)) hr = WriteSource(a, n, kFullMask, 0, false);
  if (SUCCEEDED(hr)) hr = WriteSource(b, n, kFullMask, 0, false);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT ShaderTarget::EmitIfCompare() {
  static constexpr DWORD kComparisons[] = {kCompareGreaterEqual, kCompareLess, kCompareNotEqual, kCompareEqual};
  return EmitCompareForm(kOpcodeIfc, kComparisons[current->Group() - 0x739]);
}

HRESULT ShaderTarget::EmitBreakCompare() {
  static constexpr DWORD kComparisons[] = {kCompareNotEqual, kCompareEqual, kCompareLess, kCompareGreaterEqual};
  return EmitCompareForm(kOpcodeBreakc, kComparisons[current->Group() - 0x744]);
}

HRESULT ShaderTarget::EmitElse() { return EmitBare(kOpcodeElse); }
HRESULT ShaderTarget::EmitEndIf() { return EmitBare(kOpcodeEndIf); }
HRESULT ShaderTarget::EmitEndLoop() { return EmitBare(kOpcodeEndLoop); }
HRESULT ShaderTarget::EmitEndRep() { return EmitBare(kOpcodeEndRep); }

HRESULT ShaderTarget::EmitLoop() {
  std::uint32_t* counter = nullptr;
  if (!current->ArgumentGroup(0, &counter)) return E_FAIL;
  HRESULT hr = BeginInstruction(kOpcodeLoop);
  if (SUCCEEDED(hr)) hr = WriteSourceToken(0xF0000800, kIdentitySwizzle, kNoIndex);  // aL
  if (SUCCEEDED(hr)) hr = WriteSource(counter, 1, kFullMask, 0, true);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT ShaderTarget::EmitRep() {
  std::uint32_t* counter = nullptr;
  if (!current->ArgumentGroup(0, &counter)) return E_FAIL;
  HRESULT hr = BeginInstruction(kOpcodeRep);
  if (SUCCEEDED(hr)) hr = WriteSource(counter, 1, kFullMask, 0, true);
  return FAILED(hr) ? hr : FinishInstruction();
}

// --- Texture sampling ----------------------------------------------------------------

// Coordinates (group 1) as source 0 and the sampler (group 0) as source 1;
// the gradient form adds its two gradient groups.
HRESULT ShaderTarget::EmitTexForm(DWORD opcode) {
  const IrInstruction& inst = *current;
  std::uint32_t* g[4] = {};
  for (std::uint32_t k = 0; k < 4; ++k) inst.ArgumentGroup(k, &g[k]);
  const bool gradient = opcode == kOpcodeTexldd;
  if (!g[0] || !g[1] || (gradient && (!g[2] || !g[3]))) return E_FAIL;
  Operation op{opcode, inst.results, inst.resultCount, {g[1], g[0], g[2], g[3]}, {}, gradient ? 4u : 2u, inst.Width()};
  return WriteOperation(op);
}

HRESULT ShaderTarget::EmitTexLoad() { return EmitTexForm(kOpcodeTex); }
HRESULT ShaderTarget::EmitTexLoadGradient() { return EmitTexForm(kOpcodeTexldd); }
HRESULT ShaderTarget::EmitTexLoadProjected() { return EmitTexForm(kOpcodeTex | 0x10000); }
HRESULT ShaderTarget::EmitTexLoadBiased() { return EmitTexForm(kOpcodeTex | 0x20000); }
HRESULT ShaderTarget::EmitTexLoadLod() { return EmitTexForm(kOpcodeTexldl); }

// --- The rule of each operation group --------------------------------------------------

HRESULT ShaderTarget::EmitStandardRule(std::uint32_t group) {
  if (group >= kFirstSample && group <= kLastSample) {
    switch ((group - kFirstSample) % kFormsPerKind) {
      case kPlain:
        return EmitTexLoad();
      case kGradient:
        return EmitTexLoadGradient();
      case kProjected:
        return EmitTexLoadProjected();
      case kBiased:
        return EmitTexLoadBiased();
      default:
        return EmitTexLoadLod();
    }
  }
  switch (group) {
    case 0x000:
    case 0x113:
    case 0x208:
      return EmitNothing();
    case 0x100:
    case 0x112:
    case 0x115:
    case 0x209:
      return EmitMove();
    case 0x101:
      return EmitNegate();
    case 0x103:
      return EmitScalar(kOpcodeRcp);
    case 0x104:
      return EmitSimpleOperation(kOpcodeFrc);
    case 0x105:
      return EmitScalar(kOpcodeExp);
    case 0x106:
      return EmitScalar(kOpcodeLog);
    case 0x107:
      return EmitScalar(kOpcodeRsq);
    case 0x10D:
      return EmitSimpleOperation(kOpcodeDsx);
    case 0x10E:
      return EmitSimpleOperation(kOpcodeDsy);
    case 0x10F:
    case 0x735:
    case 0x736:
    case 0x737:
    case 0x738:
      return EmitSetPredicate();
    case 0x110:
      return EmitClip();
    case 0x200:
    case 0x70B:
      return EmitSimpleOperation(kOpcodeMin);
    case 0x201:
    case 0x70C:
      return EmitSimpleOperation(kOpcodeMax);
    case 0x202:
      return EmitSimpleOperation(kOpcodeSlt);
    case 0x203:
      return EmitSimpleOperation(kOpcodeSge);
    case 0x204:
      return EmitSimpleOperation(kOpcodeAdd);
    case 0x205:
      return EmitSimpleOperation(kOpcodeMul);
    case 0x207:
      return EmitPredicatedSelect();
    case 0x300:
      return EmitSimpleOperation(kOpcodeCmp);
    case 0x500:
      return EmitDotProduct();
    case 0x501:
      return EmitSimpleOperation(kOpcodeLit);
    case 0x503:
      return EmitSinCos();
    case 0x700:
      return EmitSimpleOperation(kOpcodeAbs);
    case 0x701:
      return EmitLerp();
    case 0x702:
      return EmitNormalize();
    case 0x703:
    case 0x704:
      return EmitMultiplyAdd();
    case 0x705:
    case 0x706:
    case 0x707:
      return EmitMatrixMultiply();
    case 0x708:
      return EmitSimpleOperation(kOpcodeDp2add);
    case 0x709:
      return EmitSimpleOperation(kOpcodeDst);
    case 0x70D:
      return EmitPower();
    case 0x730:
      return EmitIfBool(0);
    case 0x732:
      return EmitIfBool(1);
    case 0x731:
    case 0x733:
    case 0x73D:
    case 0x73E:
    case 0x73F:
    case 0x740:
      return EmitElse();
    case 0x734:
      return EmitEndIf();
    case 0x739:
    case 0x73A:
    case 0x73B:
    case 0x73C:
      return EmitIfCompare();
    case 0x741:
      return EmitLoop();
    case 0x742:
      return EmitRep();
    case 0x743:
      return EmitBare(kOpcodeBreak);
    case 0x744:
    case 0x745:
    case 0x746:
    case 0x747:
      return EmitBreakCompare();
    case 0x74A:
      return EmitEndLoop();
    case 0x74B:
      return EmitEndRep();
    default:
      return E_NOTIMPL;
  }
}

}  // namespace gxl::shader

// The pixel shader 2.x emission walk: texture coordinates copied where the
// sampling instructions cannot read them, then each instruction through its
// rule (the shared ones, or the pixel forms of min, max, slt and sge), and
// the code-generation passes before it.
#include <algorithm>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/pixel_shader2_target.h"

namespace gxl::shader {

namespace {

// Plain, projected and biased sampling of the four texture kinds.
bool ReadsCoordinates(std::uint32_t group) {
  if (group == kOpDiscard) return true;
  if (group < 0x600 || group > 0x613) return false;
  const std::uint32_t form = (group - 0x600) % 5;
  return form == 0 || form == 2 || form == 3;
}

bool LevelOfDetail(std::uint32_t group) { return group >= 0x600 && group <= 0x613 && (group - 0x600) % 5 == 4; }

// The groups the shared rules emit on this target.
bool StandardPixelRule(std::uint32_t g) {
  return g == 0x000 || g == 0x100 || g == 0x101 || (g >= 0x103 && g <= 0x107) || g == 0x10F || g == 0x110 ||
         g == 0x204 || g == 0x205 || g == 0x207 || g == 0x300 || g == 0x500 || g == 0x503 ||
         (g >= 0x600 && g <= 0x613) || (g >= 0x700 && g <= 0x704) || g == 0x708 || g == 0x70D ||
         (g >= 0x735 && g <= 0x738);
}

}  // namespace

HRESULT PixelShader2Target::AppendNew(std::uint32_t word, const std::uint32_t* arguments, std::uint32_t argumentCount,
                                      const std::uint32_t* results, std::uint32_t resultCount,
                                      const IrInstruction& from, bool split) {
  IrInstruction* node = sel::NewInstruction(word, argumentCount, resultCount);
  if (!node) return E_OUTOFMEMORY;
  std::copy(arguments, arguments + argumentCount, node->arguments);
  std::copy(results, results + resultCount, node->results);
  node->CopySourcePosition(&from);
  if (!split) return instructions.Append(node) == kNoIndex ? E_OUTOFMEMORY : S_OK;
  const HRESULT hr = SplitToAllowedSwizzles(*node);
  delete node;
  return hr;
}

// --- Coordinates ------------------------------------------------------------------------

HRESULT PixelShader2Target::CopyCoordinates(std::uint32_t index) {
  IrInstruction* inst = Instruction(index);
  const std::uint32_t group = inst->Group();
  std::uint32_t* coordinates = nullptr;
  const std::uint32_t width =
      ReadsCoordinates(group) ? inst->ArgumentGroup(group == kOpDiscard ? 0 : 1, &coordinates) : 0;
  // A one-dimensional coordinate is read as (u, u) from a temporary.
  const bool oneDimensional = group == kOpTex1D && width == 1;
  bool usable = !oneDimensional;
  for (std::uint32_t j = 0; j < width && usable; ++j) {
    const IrValue* v = Value(coordinates[j]);
    const RegisterBank* bank = v ? BankOf(*v) : nullptr;
    const bool texcoord =
        bank && RegisterFileOf(bank->type) == RegisterFile::Input && SemanticUsageOf(v->registerKey) == kUsageTexcoord;
    usable = bank && v->component == j && !(v->binding & sel::kSourceModifierBits) &&
             (texcoord || RegisterFileOf(bank->type) == RegisterFile::Temporary);
  }
  if (usable) {
    // Register assignment may have given an instruction operands it cannot read.
    const HRESULT hr = ReadsCoordinates(group) ? (AddInstructionCopy(inst) == kNoIndex ? E_OUTOFMEMORY : S_OK)
                                               : SplitToAllowedSwizzles(*inst, index);
    if (SUCCEEDED(hr)) inst->word = 0;
    return hr;
  }
  if (width > 4) return E_FAIL;
  std::uint32_t t[4];
  HRESULT hr = scratchFailure;
  if (SUCCEEDED(hr)) hr = FindFreeTemporary(index, 4, t);
  if (FAILED(hr)) return hr;
  if (oneDimensional) {
    const std::uint32_t moved[2] = {coordinates[0], coordinates[0]};
    const std::uint32_t arguments[4] = {inst->arguments[0], inst->arguments[0], t[0], t[1]};
    hr = AppendNew(IrWord(kOpMove, 2), moved, 2, t, 2, *inst, true);
    if (SUCCEEDED(hr)) hr = AppendNew(IrWord(0x605, 2), arguments, 4, inst->results, inst->resultCount, *inst);
    if (FAILED(hr)) return hr;
    delete inst;
    instructions.Slot(index) = nullptr;
    current = nullptr;
    return S_OK;
  }
  // The copy itself reads only swizzles the profile has.
  hr = AppendNew(IrWord(kOpMove, width), coordinates, width, t, width, *inst, true);
  if (FAILED(hr)) return hr;
  const std::uint32_t copy = AddInstructionCopy(inst);
  if (copy == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t* copied = nullptr;
  Instruction(copy)->ArgumentGroup(group == kOpDiscard ? 0 : 1, &copied);
  std::copy(t, t + width, copied);
  inst->word = 0;
  return S_OK;
}

HRESULT PixelShader2Target::CopySampleCoordinates() {
  const std::uint32_t count = instructions.Count();
  for (std::uint32_t i = 0; i < count; ++i) {
    SetCurrentInstruction(i);
    if (!current) continue;
    const std::uint32_t errors = log ? log->ErrorCount() : 0;
    const HRESULT hr = CopyCoordinates(i);
    if (FAILED(hr)) {
      // A failure always ends the compile with a reason.
      if (hr != E_OUTOFMEMORY && log && log->ErrorCount() == errors)
        GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kTooManyActiveValues);
      return hr;
    }
  }
  return ResetSelectionState();
}

// --- Walk --------------------------------------------------------------------------------

HRESULT PixelShader2Target::EmitCurrent() {
  const std::uint32_t g = current->Group();
  switch (g) {
    case 0x200:
    case 0x70B:
      return EmitPixelMin();
    case 0x201:
    case 0x70C:
      return EmitPixelMax();
    case 0x202:
      return EmitPixelSetLess();
    case 0x203:
      return EmitPixelSetGreaterEqual();
    case 0x10D:
    case 0x10E:
      return (profileLimits.secondFlags & 0x10) ? EmitStandardRule(g) : E_NOTIMPL;
    default:
      break;
  }
  if (LevelOfDetail(g) && !(profileLimits.secondFlags & 0x20)) {
    GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kTexlodUnsupported);
    return E_FAIL;
  }
  return StandardPixelRule(g) ? EmitStandardRule(g) : E_NOTIMPL;
}

HRESULT PixelShader2Target::MapOperation() {
  SortAllResultsByComponent();
  HRESULT hr = CopySampleCoordinates();
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    SetCurrentInstruction(i);
    if (!current) continue;
    const std::uint32_t errors = log ? log->ErrorCount() : 0;
    if (current->Group() != kOpNop && current->argumentCount && Value(current->arguments[0]) &&
        Value(current->arguments[0])->relativeIndex != kNoIndex) {
      GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kRelativeInPixelShader);
      return E_FAIL;
    }
    hr = EmitCurrent();
    if (SUCCEEDED(hr)) continue;
    if (hr == E_OUTOFMEMORY) return hr;
    // Every failing rule leaves a message: the compile fails with its reason.
    if (hr == E_NOTIMPL || (log && log->ErrorCount() == errors))
      GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kUnmappedPixelExpression);
    return E_FAIL;
  }
  return S_OK;
}

// --- Pixel rules -----------------------------------------------------------------------

HRESULT PixelShader2Target::WriteDifference(std::uint32_t** a, std::uint32_t** b, std::uint32_t* t) {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.Width();
  inst.ArgumentGroup(0, a);
  inst.ArgumentGroup(1, b);
  if (!*a || !*b || n == 0 || n > 4 || inst.resultCount < n) return E_FAIL;
  // The temporary is laid out like the destination, so that the selection
  // reads it without a swizzle.
  std::uint32_t t4[4];
  const HRESULT hr = FindFreeTemporary(currentIndex, 4, t4);
  if (FAILED(hr)) return hr;
  for (std::uint32_t j = 0; j < n; ++j) t[j] = t4[Value(inst.results[j])->component & 3];
  return WriteInstruction(kOpcodeAdd, t, n, *a, *b, nullptr, n, 0, kModifierNegate);
}

HRESULT PixelShader2Target::EmitPixelMinMax(bool max) {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.Width();
  std::uint32_t *a = nullptr, *b = nullptr;
  inst.ArgumentGroup(0, &a);
  inst.ArgumentGroup(1, &b);
  const IrValue* r = inst.resultCount ? Value(inst.results[0]) : nullptr;
  if (!a || !b || !r) return E_FAIL;
  auto sameRegister = [&](std::uint32_t value) {
    const IrValue* v = Value(value);
    return v && v->bank == r->bank && v->reg == r->reg;
  };
  if (!sameRegister(a[0]) && !sameRegister(b[0])) return EmitSimpleOperation(max ? kOpcodeMax : kOpcodeMin);
  // Written back into an operand's register: cmp on the difference.
  std::uint32_t t[4];
  const HRESULT hr = WriteDifference(&a, &b, t);
  if (FAILED(hr)) return hr;
  return max ? WriteInstruction(kOpcodeCmp, inst.results, n, t, a, b, n)
             : WriteInstruction(kOpcodeCmp, inst.results, n, t, b, a, n);
}

HRESULT PixelShader2Target::EmitPixelSetCompare(bool greaterEqual) {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.Width();
  if (zeroSelect == kNoIndex || oneSelect == kNoIndex) return E_FAIL;
  std::uint32_t *a = nullptr, *b = nullptr, t[4];
  const HRESULT hr = WriteDifference(&a, &b, t);
  if (FAILED(hr)) return hr;
  const std::uint32_t zero[4] = {zeroSelect, zeroSelect, zeroSelect, zeroSelect};
  const std::uint32_t one[4] = {oneSelect, oneSelect, oneSelect, oneSelect};
  return greaterEqual ? WriteInstruction(kOpcodeCmp, inst.results, n, t, one, zero, n)
                      : WriteInstruction(kOpcodeCmp, inst.results, n, t, zero, one, n);
}

// --- Code generation ------------------------------------------------------------------

HRESULT PixelShader2Target::GenerateCode() {
  // No ps 2.x instruction reads a b register: boolean uniforms, which only
  // arithmetic reads here, take float constant registers.
  HRESULT hr = BindArithmeticBooleansAsFloats();
  if (FAILED(hr)) return hr;
  zeroSelect = oneSelect = kNoIndex;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || (inst->Group() != kOpLess && inst->Group() != kOpGreaterEqual)) continue;
    const std::uint32_t bank =
        AddRegisterBank("c", kBankReadable | kBankInitialised | kBankLiteral | kBankUniform, 1, 4);
    if (bank == kNoIndex) return E_OUTOFMEMORY;
    zeroSelect = AddValue(bank, 0, 0, 0.0);
    oneSelect = AddValue(bank, 0, 1, 1.0);
    if (zeroSelect == kNoIndex || oneSelect == kNoIndex) return E_OUTOFMEMORY;
    break;
  }
  hr = ResetSelectionState();
  if (FAILED(hr)) return hr;
  if (!(options & kOptionNoOptimisation)) {
    for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
      SetCurrentInstruction(i);
      if (!current) continue;
      const std::uint32_t g = current->Group();
      if (g != 0x103 && g != 0x105 && g != 0x106 && g != 0x107 && !(g == kOpDot && current->Width() >= 3)) continue;
      hr = FoldMoveIntoScalarResult(*this);
      if (hr == S_OK) hr = ResetSelectionState();
      if (FAILED(hr)) return hr;
    }
    hr = ResetSelectionState();
    if (FAILED(hr)) return hr;
  }
  // Literals nothing reads are not defined. A value read through its alias
  // (a folded modifier) leaves its uses on the alias, and stays.
  const std::uint32_t placeholder = StandardBankIndex(StandardBank::Undefined);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (v && v->firstUse == kNoIndex && v->alias == kNoIndex && (BankOf(*v)->type & kBankLiteral) && i != zeroSelect &&
        i != oneSelect)
      v->bank = placeholder;
  }
  return S_OK;
}

}  // namespace gxl::shader

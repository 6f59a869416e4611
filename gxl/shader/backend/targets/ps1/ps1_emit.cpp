// Emission of the 1.x lists: the phase-one list, the phase instruction and
// the stage list, each entry through the rule of its operation group; the
// texture-addressing instructions name the register of their stage.
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr DWORD kOpcodePhase = 0xFFFD;
constexpr DWORD kOpcodeTexcoord = 64;
constexpr DWORD kOpcodeCnd = 80;
constexpr DWORD kDivideByZ = 0x9000000, kDivideByW = 0xA000000;
constexpr DWORD kSwizzleXyzz = 0xA40000, kSwizzleXyww = 0xF40000;

constexpr DWORD RegisterBits(std::uint32_t type, std::uint32_t index) {
  return kParameterBit | (type & 7) << 28 | (type & 0x18) << 8 | (index & 0x7FF);
}
constexpr std::uint32_t kTemporaryType = 0, kTextureType = 3;

// The 1.x opcodes of the texture-addressing groups 0x722 to 0x72B.
DWORD AddressingOpcode(std::uint32_t group) {
  static constexpr DWORD kOpcodes[] = {71, 72, 73, 74, 82, 69, 70, 77, 76, 83};
  return kOpcodes[group - kOpTexm3x2Pad];
}

bool IsSample(std::uint32_t g) { return g == 0x600 || g == 0x605 || g == 0x60A || g == 0x60F; }

}  // namespace

HRESULT PixelShader1Target::MapOperation() {
  emitPosition = 0;
  HRESULT hr = S_OK;
  if (phaseOneList.Count()) {
    if (!Is14()) return E_FAIL;
    if (FAILED(hr = EmitList(phaseOneList))) return hr;
    if (FAILED(hr = BeginInstruction(kOpcodePhase)) || FAILED(hr = ValidateNewTokens())) return hr;
  }
  return EmitList(stageList);
}

HRESULT PixelShader1Target::EmitList(const Ps1List& list) {
  for (std::uint32_t k = 0; k < list.Count(); ++k) {
    const IrInstruction* inst = Instruction(list[k]);
    if (!inst || inst->word == 0) continue;
    SetCurrentInstruction(list[k]);
    const IrValue* first = inst->argumentCount ? Value(inst->arguments[0]) : nullptr;
    if (first && first->relativeIndex != kNoIndex) {
      GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kRelativeInPixelShader);
      return E_FAIL;
    }
    const std::uint32_t errors = log ? log->ErrorCount() : 0;
    HRESULT hr = EmitEntry(k, k < Stages());
    if (hr == E_OUTOFMEMORY) return hr;
    // Every failing rule leaves a message: the compile fails with its reason.
    if (hr == E_NOTIMPL || (FAILED(hr) && log && log->ErrorCount() == errors)) {
      GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kUnmappedPixelExpression);
      return E_FAIL;
    }
    if (FAILED(hr)) return hr;
    ++emitPosition;
  }
  return S_OK;
}

HRESULT PixelShader1Target::EmitEntry(std::uint32_t slot, bool textureSlot) {
  const std::uint32_t g = current->Group();
  if (textureSlot) return EmitTextureInstruction(slot);
  switch (g) {
    case kOpMove:
      return IsIdentityMove(*current) ? S_OK : EmitMove();
    case kOpNegate:
      return EmitNegate();
    case kOpAdd:
      return EmitSimpleOperation(kOpcodeAdd);
    case kOpMultiply:
      return EmitSimpleOperation(kOpcodeMul);
    case kOpSelect:
      return Is14() ? EmitSimpleOperation(kOpcodeCmp) : E_NOTIMPL;
    case kOpDot:
      if (current->Width() == 2) return E_NOTIMPL;
      return current->Width() == 4 ? EmitDotProduct4() : EmitDotProduct();
    case kOpPs1Lerp:
      return EmitLerp();
    case kOpPs1Mad:
    case kOpPs1MadNegated:
      return EmitMultiplyAdd();
    case kOpPs1Cnd: {
      std::uint32_t* groups[3] = {};
      for (std::uint32_t k = 0; k < 3; ++k) current->ArgumentGroup(k, &groups[k]);
      if (!groups[2]) return E_FAIL;
      return WriteInstruction(kOpcodeCnd, current->results, current->resultCount, groups[0], groups[1], groups[2],
                              current->Width());
    }
    default:
      return E_NOTIMPL;  // texture operations outside a texture slot among them
  }
}

// The texture instruction of stage `slot`: its destination is the stage's
// register (t# on ps_1_1-1_3, r# on ps_1_4).
HRESULT PixelShader1Target::EmitTextureInstruction(std::uint32_t slot) {
  const IrInstruction& inst = *current;
  const std::uint32_t g = inst.Group();
  const DWORD destination = Is14() ? RegisterBits(kTemporaryType, slot) : RegisterBits(kTextureType, slot);
  // The register of a source value, without its swizzle.
  auto source = [this](std::uint32_t value, DWORD* bits) {
    std::uint32_t relative = kNoIndex;
    return EncodeSourceRegister(value, bits, &relative);
  };
  DWORD bits = 0;
  HRESULT hr = S_OK;
  if (g == kOpPs1Kill) {
    if (!inst.argumentCount || FAILED(hr = source(inst.arguments[0], &bits))) return FAILED(hr) ? hr : E_FAIL;
    hr = BeginInstruction(MapOpcode(kOpcodeTexkill));
    if (SUCCEEDED(hr)) hr = WriteDestinationToken(bits & ~kModifierMask, kFullMask, 0);
    return FAILED(hr) ? hr : FinishInstruction();
  }
  if (!Is14() && (IsSample(g) || g == kOpTexcoord)) {
    hr = BeginInstruction(MapOpcode(IsSample(g) ? DWORD{kOpcodeTex} : kOpcodeTexcoord));
    if (SUCCEEDED(hr)) hr = WriteDestinationToken(destination, kFullMask, 0);
    return FAILED(hr) ? hr : FinishInstruction();
  }
  if (Is14() && (IsSample(g) || g == 0x607 || g == kOpTexldDivideZ || g == kOpTexcoord)) {
    const std::uint32_t start = g == kOpTexcoord ? 0 : CoordinateStart(inst);
    if (start >= inst.argumentCount || FAILED(hr = source(inst.arguments[start], &bits)))
      return FAILED(hr) ? hr : E_FAIL;
    DWORD swizzle = kIdentitySwizzle, mask = kFullMask;
    if (g == 0x607) {
      bits = (bits & ~kModifierMask) | kDivideByW;
      swizzle = kSwizzleXyww;
    } else if (g == kOpTexldDivideZ) {
      // The coordinate's own components, the last one repeated.
      std::uint32_t select[4] = {0, 1, 2, 2};
      for (std::uint32_t j = 0; j < 3 && start + j < inst.argumentCount; ++j)
        select[j] = Value(inst.arguments[start + j])->component & 3;
      select[3] = select[2];
      bits = (bits & ~kModifierMask) | kDivideByZ;
      swizzle = (select[0] | select[1] << 2 | select[2] << 4 | select[3] << 6) << 16;
      if (swizzle == kIdentitySwizzle) swizzle = kSwizzleXyzz;
    } else if (g == kOpTexcoord) {
      mask = 0x70000;
    }
    hr = BeginInstruction(MapOpcode(g == kOpTexcoord ? kOpcodeTexcoord : DWORD{kOpcodeTex}));
    if (SUCCEEDED(hr)) hr = WriteDestinationToken(destination, mask, 0);
    if (SUCCEEDED(hr)) hr = WriteSourceToken(bits, swizzle, kNoIndex);
    return FAILED(hr) ? hr : FinishInstruction();
  }
  if (g >= kOpTexm3x2Pad && g <= kOpTexdp3Tex && !Is14()) {
    hr = BeginInstruction(MapOpcode(AddressingOpcode(g)));
    if (SUCCEEDED(hr)) hr = WriteDestinationToken(destination, kFullMask, 0);
    const std::uint32_t n = inst.Width();
    for (std::uint32_t k = 1; k < 3 && SUCCEEDED(hr) && n && (k + 1) * n <= inst.argumentCount; ++k) {
      hr = source(inst.arguments[k * n], &bits);
      if (SUCCEEDED(hr)) hr = WriteSourceToken(bits, kIdentitySwizzle, kNoIndex);
    }
    return FAILED(hr) ? hr : FinishInstruction();
  }
  return E_NOTIMPL;
}

// dp4 where the model has none (ps_1_1), or where dp4 would overwrite a
// source it still reads (ps_1_2, ps_1_3): dp3 and the w product apart.
HRESULT PixelShader1Target::EmitDotProduct4() {
  const IrInstruction& inst = *current;
  std::uint32_t *a = nullptr, *b = nullptr;
  inst.ArgumentGroup(0, &a);
  inst.ArgumentGroup(1, &b);
  const std::uint32_t n = inst.resultCount;
  if (!a || !b || n == 0 || n > 4) return E_FAIL;
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  const bool output = (BankOf(*Value(inst.results[0]))->type & kBankOutput) != 0;
  if (output && SemanticOf(inst.results[0]) != Ps1SemanticWord(kPs1Color, 0)) {
    GXL_SHADER_REPORT(*this, inst.sourcePosition, msg::kUnexpectedOutputRegister);
    return E_FAIL;
  }
  // The register of a value, COLOR0 being r0; kNoIndex outside the temporaries.
  auto temporaryOf = [&](std::uint32_t value) -> std::uint32_t {
    const IrValue* v = Value(value);
    if (BankOf(*v)->type & kBankOutput) return 0;
    return v->bank == temporaries ? v->reg : kNoIndex;
  };
  const std::uint32_t d = temporaryOf(inst.results[0]);
  const bool aliased = d != kNoIndex && (temporaryOf(a[0]) == d || temporaryOf(b[0]) == d);
  if (Is14() || (Minor() != 1 && !aliased)) return EmitDotProduct();

  // The destination as temporaries; a second set without result modifiers
  // holds partial sums.
  std::uint32_t destination[4], partial[4], aw[4], bw[4];
  std::uint32_t mask = 0;
  for (std::uint32_t j = 0; j < n; ++j) {
    const IrValue* r = Value(inst.results[j]);
    destination[j] = inst.results[j];
    if (output) {
      if ((destination[j] = AddValue(temporaries, 0, r->component, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
      Value(destination[j])->binding = Value(inst.results[j])->binding;
    }
    if ((partial[j] = AddValueCopy(Value(destination[j]))) == kNoIndex) return E_OUTOFMEMORY;
    Value(partial[j])->binding &= ~kPs1Modifiers;
    Value(partial[j])->alias = kNoIndex;
    aw[j] = a[3];
    bw[j] = b[3];
    mask |= 1u << (Value(destination[j])->component & 3);
  }
  HRESULT hr = S_OK;
  if (!aliased) {
    hr = WriteInstruction(kOpcodeDp3, partial, n, a, b, nullptr, 3);
    return FAILED(hr) ? hr : WriteInstruction(kOpcodeMad, destination, n, aw, bw, partial, n);
  }
  if (mask == 0xF && n == 4) {
    // Both w are read before the dot of x, y, z lands beside them.
    std::uint32_t byComponent[4];
    for (std::uint32_t j = 0; j < 4; ++j) byComponent[Value(partial[j])->component & 3] = partial[j];
    const std::uint32_t w[4] = {byComponent[3], byComponent[3], byComponent[3], byComponent[3]};
    hr = WriteInstruction(kOpcodeDp3, byComponent, 3, a, b, nullptr, 3);
    if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeMul, &byComponent[3], 1, &a[3], &b[3], nullptr, 1);
    if (SUCCEEDED(hr))
      hr = WriteInstruction(kOpcodeAdd, &byComponent[3], 1, &byComponent[3], &byComponent[2], nullptr, 1);
    return FAILED(hr) ? hr : WriteInstruction(kOpcodeMov, destination, 4, w, nullptr, nullptr, 4);
  }
  const std::uint32_t excluded[3] = {d, temporaryOf(a[0]), temporaryOf(b[0])};
  const std::uint32_t reg = FreeRegisterAt(emitPosition, excluded, 3);
  if (reg == kNoIndex) {
    GXL_SHADER_REPORT(*this, inst.sourcePosition, msg::kUnmappedPixelExpression);
    return E_FAIL;
  }
  std::uint32_t scratch[4], third[4];
  for (std::uint32_t c = 0; c < 4; ++c)
    if ((scratch[c] = AddValue(temporaries, reg, c, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
  for (std::uint32_t j = 0; j < n; ++j) third[j] = scratch[Value(destination[j])->component & 3];
  hr = WriteInstruction(kOpcodeDp3, scratch, 4, a, b, nullptr, 3);
  return FAILED(hr) ? hr : WriteInstruction(kOpcodeMad, destination, n, aw, bw, third, n);
}

bool PixelShader1Target::IsIdentityMove(const IrInstruction& inst) const {
  if (inst.Group() != kOpMove || inst.resultCount == 0 || inst.argumentCount < inst.resultCount) return false;
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
    const IrValue* a = Value(inst.arguments[r]);
    const IrValue* d = Value(inst.results[r]);
    // COLOR0 is r0.
    const bool output = d && (BankOf(*d)->type & kBankOutput);
    if (output && SemanticOf(inst.results[r]) != Ps1SemanticWord(kPs1Color, 0)) return false;
    if (!a || !d || a->bank != temporaries || (output ? 0u : d->reg) != a->reg || a->reg == kNoIndex ||
        (!output && d->bank != temporaries) || a->component != d->component || (a->binding & kPs1Modifiers) ||
        (d->binding & kPs1Modifiers))
      return false;
  }
  return true;
}

HRESULT PixelShader1Target::MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle) {
  if (!swizzle || !values || count == 0 || !Value(values[0])) return E_FAIL;
  if (BankOf(*Value(values[0]))->type & kBankSampler) {
    *swizzle = kIdentitySwizzle;
    return S_OK;
  }
  std::uint32_t select[4], written = 0;
  for (std::uint32_t position = 0, k = 0; position < 4 && k < count; ++position) {
    if (!(mask & (0x10000u << position))) continue;
    const IrValue* v = Value(values[k++]);
    if (!v) return E_FAIL;
    select[position] = v->component & 3;
    written |= 1u << position;
  }
  // The swizzles of each model, in the order tried.
  static constexpr std::uint8_t kPs14[][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}, {0, 1, 2, 3}};
  static constexpr std::uint8_t kPs11[][4] = {{3, 3, 3, 3}, {0, 1, 2, 3}, {2, 2, 2, 2}};
  const std::uint8_t(*table)[4] = Is14() ? kPs14 : kPs11;
  const std::uint32_t rows = Is14() ? 5 : (written == 0x8 ? 3 : 2);
  for (std::uint32_t row = 0; row < rows; ++row) {
    bool match = true;
    for (std::uint32_t p = 0; p < 4 && match; ++p) match = !(written >> p & 1) || select[p] == table[row][p];
    if (!match) continue;
    const std::uint8_t* s = table[row];
    *swizzle = static_cast<DWORD>(s[0] | s[1] << 2 | s[2] << 4 | s[3] << 6) << 16;
    return S_OK;
  }
  if (Is14()) {
    GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kSwizzleOnPs14);
    return E_FAIL;
  }
  *swizzle = kIdentitySwizzle;
  return S_OK;
}

}  // namespace gxl::shader

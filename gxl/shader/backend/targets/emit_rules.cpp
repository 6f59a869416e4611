// The generic instruction writer and the arithmetic emission rules: each
// rule reads the current instruction and writes the shader instructions that
// compute it, through the target's encoding slots.
#include <algorithm>
#include <cstdio>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

// The source components an opcode reads, where they are not the written ones.
DWORD SourceMaskOf(DWORD opcode, DWORD destinationMask) {
  switch (opcode & 0xFFFF) {
    case kOpcodeDp3:
    case kOpcodeM3x4:
    case kOpcodeM3x3:
    case kOpcodeM3x2:
      return 0x70000;
    case kOpcodeDp4:
    case kOpcodeSinCos:
    case kOpcodeM4x4:
    case kOpcodeM4x3:
      return kFullMask;
    case kOpcodeDp2add:
      return 0x30000;
    case kOpcodeRcp:
    case kOpcodeRsq:
    case kOpcodeExp:
    case kOpcodeLog:
      return 0x10000;
    default:
      return destinationMask;
  }
}

// Source modifiers and their negations; the others have no negated form.
constexpr DWORD kNegationPairs[][2] = {{0x0, 0x1}, {0x2, 0x3}, {0x4, 0x5}, {0x7, 0x8}, {0xB, 0xC}};

bool Negate(DWORD* bits) {
  const DWORD modifier = (*bits & kModifierMask) >> 24;
  for (const auto& pair : kNegationPairs) {
    if (modifier != pair[0] && modifier != pair[1]) continue;
    *bits = (*bits & ~kModifierMask) | (modifier == pair[0] ? pair[1] : pair[0]) << 24;
    return true;
  }
  return false;
}

constexpr std::uint32_t kPrecisionBits = 0xE000000;
constexpr std::uint32_t kModifierBindingBits = 0x1FFE00;  // result (9-15) and source (16-20) modifiers

}  // namespace

void ShaderTarget::SetCurrentInstruction(std::uint32_t index) {
  currentIndex = index;
  current = Instruction(index);
  if (current && current->sourcePosition && current->sourcePosition->kind == NodeKind::Kind13)
    currentSource = current->sourcePosition;
}

HRESULT ShaderTarget::BeginInstruction(DWORD opcode) {
  if (debugRecordsOn) {
    const SourceToken* at = LocationOf(currentSource);
    const DebugLineRecord record{at ? at->file : nullptr,
                                 at ? at->line : 0,
                                 static_cast<std::uint32_t>(tokens.Size() * 4),
                                 {kNoIndex, kNoIndex, kNoIndex, kNoIndex}};
    if (!debugRecords.Append(record)) return E_OUTOFMEMORY;
  }
  instructionStart = tokens.Size();
  return AppendToken(opcode);
}

HRESULT ShaderTarget::PutToken(DWORD token) {
  const HRESULT hr = AppendToken(token);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderTarget::FinishInstruction() {
  const HRESULT hr = WriteInstructionLength();
  return FAILED(hr) ? hr : ValidateNewTokens();
}

HRESULT ShaderTarget::WriteSource(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD modifier,
                                  bool identity) {
  DWORD bits = 0, swizzle = kIdentitySwizzle;
  std::uint32_t relative = kNoIndex;
  HRESULT hr = EncodeSourceRegister(values[0], &bits, &relative);
  if (SUCCEEDED(hr) && !identity) hr = MapSwizzle(values, count, mask, &swizzle);
  if (FAILED(hr)) return hr;
  if (modifier == kModifierNegate) {
    if (!Negate(&bits)) return E_FAIL;  // the callers copy such sources first
  } else if (modifier) {
    bits = (bits & ~kModifierMask) | modifier;
  }
  return WriteSourceToken(bits, swizzle, relative);
}

// A source to be negated whose modifier has no negated form is read through
// a copy in a scratch register.
HRESULT ShaderTarget::NegatableSource(const std::uint32_t* values, std::uint32_t count, std::uint32_t* copy,
                                      const std::uint32_t** source) {
  DWORD bits = 0;
  std::uint32_t relative = kNoIndex;
  HRESULT hr = EncodeSourceRegister(values[0], &bits, &relative);
  if (FAILED(hr)) return hr;
  if (Negate(&bits)) return S_OK;
  if (count > 4) return E_FAIL;
  hr = FindFreeTemporary(currentIndex, count, copy);
  if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeMov, copy, count, values, nullptr, nullptr, count);
  if (FAILED(hr)) return hr;
  *source = copy;
  return S_OK;
}

HRESULT ShaderTarget::WriteOperation(const Operation& op) {
  // Copies for sources that cannot be negated are written before the instruction.
  const std::uint32_t* sources[4];
  std::uint32_t copies[4][4];
  for (std::uint32_t i = 0; i < op.sourceCount; ++i) {
    sources[i] = op.sources[i];
    if (op.modifiers[i] == kModifierNegate) {
      const HRESULT hr = NegatableSource(op.sources[i], op.count, copies[i], &sources[i]);
      if (FAILED(hr)) return hr;
    }
  }
  HRESULT hr = BeginInstruction(MapOpcode(op.opcode));
  DWORD registerBits = 0, mask = 0, predicate = 0;
  std::uint32_t fullMask = 0;
  if (SUCCEEDED(hr))
    hr = EncodeDestinationRegister(op.destinations[0], &registerBits, &fullMask,
                                   op.predicateMode == Operation::kOwnPredicate ? &predicate : nullptr);
  if (op.predicateMode == Operation::kGivenPredicate) predicate = op.predicate;
  if (SUCCEEDED(hr)) hr = EncodeDestinationMask(op.destinations, op.destinationCount, &mask, fullMask);
  if (SUCCEEDED(hr)) hr = WriteDestinationToken(registerBits, mask, predicate);
  const DWORD sourceMask = SourceMaskOf(op.opcode, mask & kFullMask);
  for (std::uint32_t i = 0; i < op.sourceCount && SUCCEEDED(hr); ++i)
    hr = WriteSource(sources[i], op.count, sourceMask, op.modifiers[i], false);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT ShaderTarget::WriteInstruction(DWORD opcode, const std::uint32_t* destinations, std::uint32_t destinationCount,
                                       const std::uint32_t* source0, const std::uint32_t* source1,
                                       const std::uint32_t* source2, std::uint32_t count, DWORD modifier0,
                                       DWORD modifier1, DWORD modifier2) {
  if (!destinations || destinationCount == 0) return E_FAIL;
  Operation op{opcode, destinations, destinationCount, {}, {}, 0, count};
  const std::uint32_t* given[3] = {source0, source1, source2};
  const DWORD modifiers[3] = {modifier0, modifier1, modifier2};
  for (std::uint32_t i = 0; i < 3; ++i) {
    if (!given[i]) continue;
    op.sources[op.sourceCount] = given[i];
    op.modifiers[op.sourceCount++] = modifiers[i];
  }
  return WriteOperation(op);
}

// --- Shared workers ---------------------------------------------------------------------

HRESULT ShaderTarget::EmitNothing() { return S_OK; }

HRESULT ShaderTarget::EmitSimpleOperation(DWORD opcode) {
  const IrInstruction& inst = *current;
  std::uint32_t* groups[3] = {};
  for (std::uint32_t k = 0; k < 3; ++k) inst.ArgumentGroup(k, &groups[k]);
  return WriteInstruction(opcode, inst.results, inst.resultCount, groups[0], groups[1], groups[2], inst.Width());
}

HRESULT ShaderTarget::EmitScalarOperation(DWORD opcode, const std::uint32_t* destinations, const std::uint32_t* sources,
                                          std::uint32_t n, std::uint32_t m, DWORD modifier) {
  if (m == 1 && m < n && current && current->argumentCount && sources == current->arguments)
    return EmitSimpleOperation(opcode);
  if (n == 0 || n > 4 || m == 0) return E_FAIL;
  const IrValue* dst[4];
  const IrValue* src[4];
  for (std::uint32_t i = 0; i < n; ++i) {
    dst[i] = Value(destinations[i]);
    src[i] = Value(sources[m == 1 ? 0 : std::min(i, m - 1)]);
    if (!dst[i] || !src[i] || dst[i]->component > 3) return E_FAIL;
  }
  // A source component overwritten by an earlier position before it is read.
  bool hazard = false;
  if (dst[0]->bank == src[0]->bank && dst[0]->relativeIndex == src[0]->relativeIndex && dst[0]->reg == src[0]->reg)
    for (std::uint32_t i = 1; i < n; ++i)
      for (std::uint32_t j = 0; j < i; ++j) hazard |= src[i]->component == dst[j]->component;
  std::uint32_t written[4];
  std::copy(destinations, destinations + n, written);
  if (hazard) {
    std::uint32_t highest = 0, scratch[4];
    for (std::uint32_t i = 0; i < n; ++i) highest = std::max(highest, dst[i]->component);
    const HRESULT hr = FindFreeTemporary(currentIndex, highest + 1, scratch, &dst[0]->reg, 1);
    if (FAILED(hr)) return hr;
    for (std::uint32_t i = 0; i < n; ++i) written[i] = scratch[dst[i]->component];
  }
  for (std::uint32_t i = 0; i < n;) {
    std::uint32_t end = i + 1;
    while (end < n && src[end]->component == src[i]->component) ++end;
    std::uint32_t run[4];
    for (std::uint32_t k = i; k < end; ++k) run[k - i] = sources[m == 1 ? 0 : std::min(k, m - 1)];
    const HRESULT hr = WriteInstruction(opcode, written + i, end - i, run, nullptr, nullptr, end - i, modifier);
    if (FAILED(hr)) return hr;
    i = end;
  }
  return hazard ? WriteInstruction(kOpcodeMov, destinations, n, written, nullptr, nullptr, n) : S_OK;
}

HRESULT ShaderTarget::EmitScalar(DWORD opcode) {
  const IrInstruction& inst = *current;
  return EmitScalarOperation(opcode, inst.results, inst.arguments, inst.resultCount, inst.argumentCount, 0);
}

// --- Rules -----------------------------------------------------------------------------

HRESULT ShaderTarget::EmitMove() {
  const IrInstruction& inst = *current;
  if (inst.resultCount == 0 || inst.argumentCount < inst.resultCount) return E_FAIL;
  const RegisterBank* bank = Value(inst.results[0]) ? BankOf(*Value(inst.results[0])) : nullptr;
  if (bank && RegisterFileOf(bank->type) == RegisterFile::Address) return EmitSimpleOperation(kOpcodeMova);
  if (!(profileLimits.capabilities & 0x100000)) {
    bool identity = true;
    for (std::uint32_t i = 0; i < inst.resultCount && identity; ++i) {
      const IrValue* r = Value(inst.results[i]);
      const IrValue* a = Value(inst.arguments[i]);
      identity = r && a && r->bank == a->bank && r->relativeIndex == a->relativeIndex && r->reg == a->reg &&
                 r->component == a->component &&
                 (r->binding & kModifierBindingBits) == (a->binding & kModifierBindingBits) &&
                 !((options & kOptionNoOptimisation) && (r->flags & kValueKeep));
    }
    if (identity) return S_OK;
  }
  for (std::uint32_t i = 0; i < inst.resultCount; ++i) {
    IrValue* r = Value(inst.results[i]);
    const IrValue* a = Value(inst.arguments[i]);
    if (r && a && !(r->flags & kPrecisionBits)) r->flags |= a->flags & kPrecisionBits;
  }
  // A loop's entry and end keep their places in the order of the loop's
  // values, not of the components they write: the copy pairs each result
  // with its argument in ascending components, as the mask and swizzle read.
  const std::uint32_t n = inst.resultCount;
  if (n <= 4) {
    std::uint32_t order[4], results[4], arguments[4];
    alloc::SortGroupByComponent(*this, inst.results, order, n);
    for (std::uint32_t i = 0; i < n; ++i) {
      results[i] = inst.results[order[i]];
      arguments[i] = inst.arguments[order[i]];
    }
    return WriteInstruction(kOpcodeMov, results, n, arguments, nullptr, nullptr, n);
  }
  return WriteInstruction(kOpcodeMov, inst.results, n, inst.arguments, nullptr, nullptr, n);
}

HRESULT ShaderTarget::EmitNegate() {
  const IrInstruction& inst = *current;
  return WriteInstruction(kOpcodeMov, inst.results, inst.resultCount, inst.arguments, nullptr, nullptr, inst.Width(),
                          kModifierNegate);
}

HRESULT ShaderTarget::EmitDotProduct() {
  const IrInstruction& inst = *current;
  std::uint32_t *a = nullptr, *b = nullptr;
  inst.ArgumentGroup(0, &a);
  inst.ArgumentGroup(1, &b);
  if (!a || !b) return E_FAIL;
  switch (inst.Width()) {
    case 1:
      return EmitSimpleOperation(kOpcodeMul);
    case 3:
      return EmitSimpleOperation(kOpcodeDp3);
    case 4:
      return EmitSimpleOperation(kOpcodeDp4);
    case 2: {
      std::uint32_t t[2];
      HRESULT hr = FindFreeTemporary(currentIndex, 2, t);
      if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeMul, t, 2, a, b, nullptr, 2);
      if (FAILED(hr)) return hr;
      return WriteInstruction(kOpcodeAdd, inst.results, inst.resultCount, &t[0], &t[1], nullptr, 1);
    }
    default:
      return E_FAIL;
  }
}

HRESULT ShaderTarget::EmitMatrixMultiply() {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.Width();
  // Selection makes only these five.
  DWORD opcode = 0;
  if (inst.Group() == 0x705 && n == 3) opcode = kOpcodeM3x2;
  if (inst.Group() == 0x706) opcode = n == 3 ? DWORD{kOpcodeM3x3} : n == 4 ? DWORD{kOpcodeM4x3} : 0;
  if (inst.Group() == 0x707) opcode = n == 3 ? DWORD{kOpcodeM3x4} : n == 4 ? DWORD{kOpcodeM4x4} : 0;
  if (!opcode || inst.argumentCount < 2 * n) return E_FAIL;
  return WriteInstruction(opcode, inst.results, inst.resultCount, inst.arguments, inst.arguments + n, nullptr, n);
}

HRESULT ShaderTarget::EmitMultiplyAdd() {
  const IrInstruction& inst = *current;
  std::uint32_t* g[3] = {};
  for (std::uint32_t k = 0; k < 3; ++k) inst.ArgumentGroup(k, &g[k]);
  if (!g[2]) return E_FAIL;
  return WriteInstruction(kOpcodeMad, inst.results, inst.resultCount, g[0], g[1], g[2], inst.Width(), 0,
                          inst.Group() == 0x704 ? kModifierNegate : 0);
}

HRESULT ShaderTarget::EmitNormalize() {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.Width();
  const IrValue* r = Value(inst.results[0]);
  if (!r) return E_FAIL;
  if (r->bank == StandardBankIndex(StandardBank::Temporaries)) return EmitSimpleOperation(kOpcodeNrm);
  if (n == 0 || n > 4) return E_FAIL;
  std::uint32_t t[4];
  HRESULT hr = FindFreeTemporary(currentIndex, n, t);
  if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeNrm, t, n, inst.arguments, nullptr, nullptr, n);
  if (FAILED(hr)) return hr;
  return WriteInstruction(kOpcodeMov, inst.results, inst.resultCount, t, nullptr, nullptr, n);
}

HRESULT ShaderTarget::EmitPower() {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.Width();
  if (inst.resultCount < n || inst.argumentCount < 2 * n) return E_FAIL;
  for (std::uint32_t i = 0; i < n; ++i) {
    const HRESULT hr =
        WriteInstruction(kOpcodePow, &inst.results[i], 1, &inst.arguments[i], &inst.arguments[n + i], nullptr, 1);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ShaderTarget::EmitSinCos() {
  const IrInstruction& inst = *current;
  std::uint32_t destinations[2], n = 0;
  for (std::uint32_t i = 0; i < std::min(inst.resultCount, 2u); ++i) {
    const IrValue* r = Value(inst.results[i]);
    const RegisterBank* bank = r ? BankOf(*r) : nullptr;
    if (!bank) return E_FAIL;
    if ((bank->type & kBankReadable) && r->useCount == 0) continue;
    destinations[n++] = inst.results[i];
  }
  if (n == 0 || inst.argumentCount == 0) return S_OK;
  // A scalar source, replicated over the four components sincos reads.
  std::uint32_t source[4];
  for (std::uint32_t i = 0; i < 4; ++i) source[i] = inst.arguments[std::min(i, inst.argumentCount - 1)];
  // From version 3.0 sincos takes its one source alone.
  const bool constants = sinCosConstants && (versionToken & 0xFF00) < 0x300;
  return WriteInstruction(kOpcodeSinCos, destinations, n, source, constants ? sinCosValues[0] : nullptr,
                          constants ? sinCosValues[1] : nullptr, 4);
}

HRESULT ShaderTarget::EmitLerp() {
  const IrInstruction& inst = *current;
  std::uint32_t* g[3] = {};
  for (std::uint32_t k = 0; k < 3; ++k) inst.ArgumentGroup(k, &g[k]);
  if (!g[2]) return E_FAIL;
  return WriteInstruction(kOpcodeLrp, inst.results, inst.resultCount, g[0], g[1], g[2], inst.Width());
}

HRESULT ShaderTarget::EmitClip() {
  const IrInstruction& inst = *current;
  const ParseNode* at = inst.sourcePosition;
  const std::uint32_t n = inst.Width();
  if (profileLimits.capabilities & 0x400000) {
    for (std::uint32_t i = 0; i < std::min(n, inst.argumentCount); ++i) {
      const IrValue* a = Value(inst.arguments[i]);
      if (!a || a->component != i) {
        GXL_SHADER_REPORT(*this, at, msg::kClipFromSwizzle);
        return E_FAIL;
      }
    }
    if (n != 3) {
      GXL_SHADER_REPORT(*this, at, msg::kClipNeedsFloat3);
      return E_FAIL;
    }
  } else if (n != 4) {
    GXL_SHADER_REPORT(*this, at, msg::kClipNeedsFloat4);
    return E_FAIL;
  }
  const IrValue* a = inst.argumentCount ? Value(inst.arguments[0]) : nullptr;
  const RegisterBank* bank = a ? BankOf(*a) : nullptr;
  if (!bank) return E_FAIL;
  std::uint32_t type = 0, index = a->reg;
  const RegisterFile file = RegisterFileOf(bank->type);
  if (file == RegisterFile::Input) {
    if (FAILED(EncodeInputRegister(inst.arguments[0], &index, &type))) {
      GXL_SHADER_REPORT(*this, nullptr, msg::kClipInputRegisterType);
      return E_FAIL;
    }
  } else if (file != RegisterFile::Temporary) {
    GXL_SHADER_REPORT(*this, at, msg::kClipFromConstant);
    return E_FAIL;
  }
  DWORD predicate = 0;
  HRESULT hr = EncodePredicate(inst.resultCount ? inst.results[0] : kNoIndex, &predicate);
  if (SUCCEEDED(hr)) hr = BeginInstruction(kOpcodeTexkill);
  if (SUCCEEDED(hr))
    hr = WriteDestinationToken(kParameterBit | (type & 7) << 28 | (type & 0x18) << 8 | (index & 0x7FF), kFullMask,
                               predicate);
  return FAILED(hr) ? hr : FinishInstruction();
}

// --- Constant definitions ------------------------------------------------------------

HRESULT ShaderTarget::NameConstant(const char* format, std::uint32_t reg, const DWORD values[4]) {
  char name[32];
  std::snprintf(name, sizeof name, format, static_cast<int>(reg));
  RegisterNameEntry* entry = nullptr;
  const HRESULT hr = fragmentNames[1].Add(name, reg, 1, &entry);
  if (FAILED(hr)) return hr;
  entry->hasDefault = 1;
  std::copy(values, values + 4, entry->defaultValue);
  ++namedConstantCount;
  return S_OK;
}

HRESULT ShaderTarget::WriteDefinition(DWORD opcode, DWORD registerBits, const DWORD values[4]) {
  HRESULT hr = BeginInstruction(opcode);
  if (SUCCEEDED(hr)) hr = WriteDestinationToken(registerBits, kFullMask, 0);
  for (int i = 0; i < 4 && SUCCEEDED(hr); ++i) hr = AppendToken(values[i]);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT ShaderTarget::DefineFloatConstant(std::uint32_t reg, const DWORD values[4]) {
  if (fragmentMode) return NameConstant("c_$zz%d", reg, values);
  // Constants from 2048 on lie in the three further constant files.
  static constexpr DWORD kFileBits[] = {0xA0000000, 0xB0000800, 0xC0000800, 0xD0000800};
  const DWORD file = kFileBits[std::min<std::uint32_t>(reg / 2048, 3)];
  return WriteDefinition(kOpcodeDef, file | (reg < 2048 ? reg : reg & 0x7FF), values);
}

HRESULT ShaderTarget::DefineIntegerConstant(std::uint32_t reg, const DWORD values[4]) {
  if (fragmentMode) return NameConstant("i_$zz%d", reg, values);
  return WriteDefinition(kOpcodeDefi, 0xF0000000 | (reg & 0x7FF), values);
}

}  // namespace gxl::shader

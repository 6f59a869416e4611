// The encoding slots: destination and source parameter tokens, write masks
// with result modifiers, swizzles, predicates, input registers, and the
// sampler kinds the declarations need.
#include <algorithm>
#include <memory>
#include <new>

#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/syntax_tree.h"
#include "gxl/shader/core/type_record.h"
#include "gxl/tex/result_codes.h"

namespace gxl::shader {

namespace {

// The parameter-token bits of a register type and index.
constexpr DWORD RegisterBits(std::uint32_t type, std::uint32_t index) {
  return kParameterBit | (type & 7) << 28 | (type & 0x18) << 8 | (index & 0x7FF);
}

constexpr DWORD ReplicateSwizzle(std::uint32_t component) { return (component & 3) * 0x550000; }

// Source modifiers of the binding word (bits 16-20) and their token forms.
struct ModifierRow {
  std::uint32_t binding;
  DWORD token;
};
constexpr ModifierRow kSourceModifiers[] = {
    {0x100000, 0xB000000}, {0x180000, 0xC000000}, {0x80000, 0x1000000}, {0x20000, 0x2000000}, {0xA0000, 0x3000000},
    {0x60000, 0x4000000},  {0xE0000, 0x5000000},  {0x10000, 0x6000000}, {0x40000, 0x7000000}, {0xC0000, 0x8000000},
};
constexpr std::uint32_t kSourceModifierBits = 0x1F0000;

// Result shifts of the binding word (bits 10-15) and their token forms.
constexpr ModifierRow kResultShifts[] = {{0x400, 0x1000000},  {0x800, 0x2000000},  {0x1000, 0x3000000},
                                         {0x2000, 0xF000000}, {0x4000, 0xE000000}, {0x8000, 0xD000000}};
constexpr std::uint32_t kResultShiftBits = 0xFC00;
constexpr std::uint32_t kResultSaturate = 0x200;

constexpr std::uint32_t kRegisterTypeTexture = 3;

}  // namespace

HRESULT ShaderTarget::EncodeDestinationRegister(std::uint32_t value, DWORD* token, std::uint32_t* fullMask,
                                                DWORD* predicate) {
  if (fullMask) *fullMask = 0;
  if (predicate) *predicate = 0;
  const IrValue* v = Value(value);
  const RegisterBank* bank = v ? BankOf(*v) : nullptr;
  if (!bank || !token) return E_FAIL;
  const ParseNode* at = current ? current->sourcePosition : nullptr;
  std::uint32_t type = 0, index = v->reg;
  switch (RegisterFileOf(bank->type)) {
    case RegisterFile::Temporary: {
      if (v->reg >= profileLimits.temporaries) {
        GXL_SHADER_REPORT(*this, at, msg::kTempRegisterIndex);
        return GXLERR_INVALIDDATA;
      }
      const std::uint32_t start = profileLimits.firstTextureTemporary;
      if (start && v->reg >= start) type = kRegisterTypeTexture, index = v->reg - start;
      break;
    }
    case RegisterFile::Address:
      if (v->reg != 0) {
        GXL_SHADER_REPORT(*this, at, msg::kAddressRegisterIndex);
        return GXLERR_INVALIDDATA;
      }
      type = kRegisterTypeTexture;
      break;
    case RegisterFile::Output: {
      const HRESULT hr = MapOutputRegister(value, &type, &index, fullMask);
      if (FAILED(hr)) return hr;
      break;
    }
    case RegisterFile::Predicate:
      if (v->reg >= profileLimits.predicates) {
        GXL_SHADER_REPORT(*this, at, msg::kPredicateRegisterIndex);
        return GXLERR_INVALIDDATA;
      }
      type = 19;
      break;
    default:
      GXL_SHADER_REPORT(*this, at, msg::kInternalUnexpectedOutputType);
      return E_FAIL;
  }
  *token = RegisterBits(type, index);
  return predicate ? EncodePredicate(value, predicate) : S_OK;
}

HRESULT ShaderTarget::EncodeDestinationMask(const std::uint32_t* values, std::uint32_t count, DWORD* bits,
                                            std::uint32_t fullMask) {
  if (!bits || !values || count == 0 || !Value(values[0])) return E_FAIL;
  const std::uint32_t binding = Value(values[0])->binding;
  DWORD result = 0;
  for (const ModifierRow& row : kResultShifts)
    if ((binding & kResultShiftBits) == row.binding) result = row.token;
  if (binding & kResultSaturate) result |= kSaturateBit;
  DWORD mask = 0;
  bool overlap = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrValue* v = Value(values[i]);
    if (!v || v->component > 3) {
      GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kInternalComponentOutOfRange);
      return E_FAIL;
    }
    const DWORD bit = 0x10000u << v->component;
    overlap |= (mask & bit) != 0;
    mask |= bit;
  }
  // Reported once per instruction; the code still comes out whole.
  if (overlap) GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kOverlappingOutputWrites);
  if (fullMask) mask = kFullMask;
  // Colour and alpha halves of the pixel 1.x pipes.
  if (profileLimits.capabilities & 0x800000) {
    if (!(mask & 0x80000))
      mask = 0x70000;
    else if (mask != 0x80000)
      mask = kFullMask;
  }
  if (debugRecordsOn && !debugRecords.Empty())
    for (std::uint32_t i = 0; i < 4; ++i) debugRecords.Back().results[i] = i < count ? values[i] : kNoIndex;
  *bits = result | mask;
  return S_OK;
}

HRESULT ShaderTarget::EncodeSourceRegister(std::uint32_t value, DWORD* token, std::uint32_t* relative) {
  const IrValue* v = Value(value);
  const RegisterBank* bank = v ? BankOf(*v) : nullptr;
  if (!bank || !token) return E_FAIL;
  const ParseNode* at = current ? current->sourcePosition : nullptr;
  const ProfileLimits& l = profileLimits;
  std::uint32_t type = 0, index = v->reg;
  // The limit messages differ by file; each is a catalogue entry without arguments.
  auto limit = [&](std::uint32_t count, const Message& entry) {
    if (v->reg < count) return true;
    Report(at, entry.severity, entry.code, "%s", entry.format);
    return false;
  };
  switch (RegisterFileOf(bank->type)) {
    case RegisterFile::Temporary:
      if (!limit(l.temporaries, msg::kTempRegisterIndex)) return GXLERR_INVALIDDATA;
      if (l.firstTextureTemporary && v->reg >= l.firstTextureTemporary)
        type = kRegisterTypeTexture, index = v->reg - l.firstTextureTemporary;
      break;
    case RegisterFile::LoopCounter:
      type = 15, index = 0;
      break;
    case RegisterFile::Input: {
      const HRESULT hr = EncodeInputRegister(value, &index, &type);
      if (FAILED(hr)) return hr;
      break;
    }
    case RegisterFile::FloatConstant:
      if (!limit(l.floatConstants, msg::kConstantRegisterIndex)) return GXLERR_INVALIDDATA;
      type = v->reg < 2048 ? 2 : v->reg < 4096 ? 11 : v->reg < 6144 ? 12 : 13;
      break;
    case RegisterFile::Sampler:
      if (!limit(l.samplers, msg::kSamplerRegisterIndex)) return GXLERR_INVALIDDATA;
      type = 10;
      break;
    case RegisterFile::BoolConstant:
      if (!limit(l.booleanConstants, msg::kBoolRegisterIndex)) return GXLERR_INVALIDDATA;
      type = 14;
      break;
    case RegisterFile::IntegerConstant:
      if (!limit(l.integerConstants, msg::kLoopRegisterIndex)) return GXLERR_INVALIDDATA;
      type = 7;
      break;
    case RegisterFile::Predicate:
      if (!limit(l.predicates, msg::kPredicateRegisterIndex)) return GXLERR_INVALIDDATA;
      type = 19;
      break;
    default:
      GXL_SHADER_REPORT(*this, at, msg::kInternalUnexpectedInputType);
      return E_FAIL;
  }
  DWORD bits = RegisterBits(type, index);
  for (const ModifierRow& row : kSourceModifiers)
    if ((v->binding & kSourceModifierBits) == row.binding) bits |= row.token;
  if (v->relativeIndex != kNoIndex) {
    if (!relativeAddressing) {
      GXL_SHADER_REPORT(*this, at, msg::kRelativeUnsupported);
      return E_FAIL;
    }
    bits |= kRelativeBit;
  }
  if (relative) *relative = v->relativeIndex;
  *token = bits;
  return S_OK;
}

HRESULT ShaderTarget::MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle) {
  if (!swizzle || !values || count == 0 || !Value(values[0])) return E_FAIL;
  const RegisterBank* bank = BankOf(*Value(values[0]));
  if (bank && (bank->type & kBankSampler)) {
    *swizzle = kIdentitySwizzle;
    return S_OK;
  }
  std::uint32_t select[4] = {0, 1, 2, 3};
  std::uint32_t used[4], positions[4], n = 0;
  for (std::uint32_t position = 0, k = 0; position < 4 && k < count; ++position) {
    if (!(mask & (0x10000u << position))) continue;
    const IrValue* v = Value(values[k++]);
    if (!v) return E_FAIL;
    positions[n] = position;
    used[n++] = v->component & 3;
  }
  const bool replicate = n > 0 && std::all_of(used, used + n, [&](std::uint32_t c) { return c == used[0]; });
  if (replicate) std::fill(select, select + 4, used[0]);
  for (std::uint32_t i = 0; i < n && !replicate; ++i) select[positions[i]] = used[i];
  *swizzle = (select[0] | select[1] << 2 | select[2] << 4 | select[3] << 6) << 16;
  return S_OK;
}

HRESULT ShaderTarget::EncodePredicate(std::uint32_t value, DWORD* token) {
  if (!token) return E_FAIL;
  *token = 0;
  const IrValue* v = Value(value);
  const IrValue* p = v && v->predicate != kNoIndex ? Value(v->predicate) : nullptr;
  const RegisterBank* bank = p ? BankOf(*p) : nullptr;
  if (!bank || !(bank->type & kBankPredicate)) return S_OK;
  *token = 0xB0001000 | (p->reg & 0x7FF) | ReplicateSwizzle(p->component) | (v->predicateSense == 0 ? kModifierNot : 0);
  return S_OK;
}

HRESULT ShaderTarget::WriteDestinationToken(DWORD registerBits, DWORD maskBits, DWORD predicate) {
  HRESULT hr = PutToken(registerBits | maskBits);
  if (FAILED(hr) || !predicate) return hr;
  hr = PutToken(predicate);
  if (FAILED(hr)) return hr;
  if (instructionStart < tokens.Size()) tokens[instructionStart] |= kPredicatedBit;
  return S_OK;
}

HRESULT ShaderTarget::WriteSourceToken(DWORD registerBits, DWORD swizzleBits, std::uint32_t relative) {
  HRESULT hr = PutToken(registerBits | swizzleBits);
  if (FAILED(hr) || !((registerBits | swizzleBits) & kRelativeBit)) return hr;
  const IrValue* index = Value(relative);
  if (!index) return E_FAIL;
  // Inside a counted loop the index is aL; otherwise a0.
  const RegisterBank* bank = BankOf(*index);
  if (bank && RegisterFileOf(bank->type) == RegisterFile::LoopCounter)
    return PutToken(RegisterBits(15, 0) | ReplicateSwizzle(0));
  return PutToken(0xB0000000 | (index->reg & 0x7FF) | ReplicateSwizzle(index->component));
}

HRESULT ShaderTarget::EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) {
  const IrValue* v = Value(value);
  if (!v || !index || !type) return E_FAIL;
  if (v->reg >= profileLimits.inputs) {
    GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kInputRegisterIndex);
    return E_FAIL;
  }
  *type = 1;
  *index = v->reg;
  return S_OK;
}

// The kind of every sampler register from the instructions that sample
// through it; all values of a register carry it for the declarations.
HRESULT ShaderTarget::CheckSamplerConsistency() {
  std::uint32_t highest = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    if (v && v->reg != kNoIndex && BankOf(*v) && (BankOf(*v)->type & kBankSampler))
      highest = std::max(highest, v->reg + 1);
  }
  std::unique_ptr<std::uint32_t[]> kinds(new (std::nothrow) std::uint32_t[highest ? highest : 1]());
  if (!kinds) return E_OUTOFMEMORY;
  bool mismatch = false;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->Class() != 6 || inst->argumentCount == 0) continue;
    const std::uint32_t group = inst->Group();
    const std::uint32_t kind = group <= 0x609 ? 0x200000 : group <= 0x60E ? 0x400000 : 0x800000;
    const IrValue* sampler = Value(inst->arguments[0]);
    if (!sampler || sampler->reg >= highest) continue;
    std::uint32_t& seen = kinds[sampler->reg];
    mismatch |= seen != 0 && seen != kind;
    if (!seen) seen = kind;
  }
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (v && v->reg < highest && kinds[v->reg] && (BankOf(*v)->type & kBankSampler))
      v->binding = (v->binding & ~kSamplerDimensionBits) | kinds[v->reg];
  }
  if (!mismatch) return S_OK;
  GXL_SHADER_REPORT(*this, nullptr, msg::kSamplerMismatch);
  return E_FAIL;
}

}  // namespace gxl::shader

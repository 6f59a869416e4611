// Rules the vertex and pixel targets share.
#include "gxl/shader/backend/targets/target_rules.h"

#include <algorithm>
#include <cstdio>

#include "gxl/shader/core/syntax_tree.h"
#include "gxl/shader/core/type_record.h"

namespace gxl::shader {

namespace {

constexpr DWORD kDclToken = 0x0200001F;          // dcl with its length of two
constexpr std::uint32_t kOptionAllPartial = 0x20;  // compile option: every result at partial precision

constexpr DWORD RegisterBits(std::uint32_t type, std::uint32_t index) {
  return kParameterBit | (type & 7) << 28 | (type & 0x18) << 8 | (index & 0x7FF);
}

constexpr DWORD ReplicateSwizzle(std::uint32_t component) { return (component & 3) * 0x550000; }

enum PortFile { kInputFile, kTemporaryFile, kConstantFile, kSamplerFile, kUncounted };

PortFile FileOf(const ShaderProgram& p, const IrValue& v, bool samplerFile, bool everyBank) {
  const RegisterBank* bank = p.BankOf(v);
  if (!bank || (samplerFile && !everyBank && v.bank >= kStandardBankCount)) return kUncounted;
  const std::uint32_t type = bank->type;
  if (type & kBankSampler) return samplerFile ? kSamplerFile : kUncounted;
  if (type & kBankUniform) return kConstantFile;
  if ((type & kBankInitialised) && SemanticUsageOf(v.registerKey) != kNoSemanticUsage) return kInputFile;
  return kTemporaryFile;
}

}  // namespace

std::uint32_t FindReadPortViolation(const ShaderProgram& p, const IrInstruction& inst, const ReadPortLimits& limits,
                                    std::uint32_t* group) {
  const std::uint32_t n = inst.Width();
  if (n == 0) return 0;
  const std::uint32_t g = inst.Group();
  const std::uint32_t groups = g >= 0x705 && g <= 0x707 ? 2 : inst.argumentCount / n;
  if (groups <= 1) return 0;
  const std::uint32_t limit[] = {limits.inputs, limits.temporaries, limits.constants, limits.samplers};
  std::uint32_t distinct[4] = {}, uniform = 0;
  for (std::uint32_t k = 0; k < groups; ++k) {
    const IrValue* v = p.Value(inst.arguments[k * n]);
    const RegisterBank* bank = v ? p.BankOf(*v) : nullptr;
    if (!bank) continue;
    const PortFile file = FileOf(p, *v, limits.samplerFile, limits.everyBank);
    if (limits.faceUncounted && file == kInputFile && SemanticUsageOf(v->registerKey) == kUsageFace) continue;
    // Every uniform operand counts, in whichever bank (samplers only where
    // they are a file of their own).
    const bool uniformOperand = limits.constantOperandsOnly
                                    ? file == kConstantFile
                                    : (bank->type & kBankUniform) && (limits.samplerFile || !(bank->type & kBankSampler));
    bool violation = uniformOperand && ++uniform > limits.uniformOperands;
    if (file != kUncounted) {
      bool seen = false;
      for (std::uint32_t e = 0; e < k && !seen; ++e) {
        const IrValue* w = p.Value(inst.arguments[e * n]);
        seen = w && w->bank == v->bank && w->relativeIndex == v->relativeIndex && w->reg == v->reg;
      }
      violation |= !seen && ++distinct[file] > limit[file];
    }
    if (violation) {
      if (group) *group = k;
      return 1;
    }
  }
  return 0;
}

std::uint32_t ReadsEarlierTemporary(const ShaderProgram& p, const IrInstruction& inst, std::uint32_t position) {
  for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
    const IrValue* v = p.Value(inst.arguments[a]);
    const RegisterBank* bank = v ? p.BankOf(*v) : nullptr;
    if (!bank || RegisterFileOf(bank->type) != RegisterFile::Temporary) continue;
    const IrInstruction* producer = v->definingPosition < position ? p.Instruction(v->definingPosition) : nullptr;
    if (producer && producer->Group() != kOpNop) return 1;
  }
  return 0;
}

HRESULT NameFragmentInput(ShaderTarget& t, std::uint32_t value, DWORD* key, const char* prefix) {
  const IrValue* v = t.Value(value);
  if (!v) return E_FAIL;
  if (key) *key = v->registerKey;
  if (SemanticUsageOf(v->registerKey) == kNoSemanticUsage) return S_OK;
  const SemanticTableRow* row = t.FindSemanticRecord(v->registerKey);
  char name[96];
  std::snprintf(name, sizeof name, "%s_%s%u", prefix, row ? row->name : "", SemanticIndexOf(v->registerKey));
  HRESULT hr = t.fragmentNames[0].Add(name, v->reg, 1);
  const char* variable = DeclarationNameText(v->declaration);
  if (SUCCEEDED(hr) && (t.options & kOptionDebug) && variable) {
    std::snprintf(name, sizeof name, "n_%s", variable);
    hr = t.fragmentNames[0].Add(name, v->reg, 1);
  }
  return hr;
}

bool CanWriteRelativeIndex(const ShaderTarget& t, std::uint32_t relative) {
  const IrValue* index = t.Value(relative);
  const RegisterBank* bank = index ? t.BankOf(*index) : nullptr;
  if (!bank) return false;
  // aL is the loop counter's own bank, a0 the address registers; no token
  // names any other index (a uniform, a temporary), and pixel shaders have no
  // a0: such a read is refused rather than written as code no device takes.
  const std::uint32_t type = bank->type;
  if ((type & (kBankInitialised | kBankAddress)) == (kBankInitialised | kBankAddress) && !(type & kBankUniform))
    return true;
  return (type & kBankAddress) && !(type & kBankInitialised) && t.profileLimits.addressRegisters;
}

HRESULT WriteAddressedSourceToken(ShaderTarget& t, DWORD registerBits, DWORD swizzleBits, std::uint32_t relative) {
  HRESULT hr = t.PutToken(registerBits | swizzleBits);
  if (FAILED(hr) || !((registerBits | swizzleBits) & kRelativeBit)) return hr;
  const IrValue* index = t.Value(relative);
  const RegisterBank* bank = index ? t.BankOf(*index) : nullptr;
  if (!bank) return E_FAIL;
  if (CanWriteRelativeIndex(t, relative)) {
    if (bank->type & kBankInitialised) return t.PutToken(0xF0E40800);  // aL
    return t.PutToken(0xB0000000 | (index->reg & 0x7FF) | ReplicateSwizzle(index->component));
  }
  const ParseNode* at = t.current ? t.current->sourcePosition : nullptr;
  if (t.profileLimits.secondFlags & 0x40)  // a vertex target
    GXL_SHADER_REPORT(t, at, msg::kRelativeUnsupported);
  else
    GXL_SHADER_REPORT(t, at, msg::kRelativeInPixelShader);
  return E_FAIL;
}

HRESULT DeclareSamplerRegister(ShaderTarget& t, std::uint32_t value) {
  if (t.fragmentMode) return S_OK;
  const IrValue* v = t.Value(value);
  if (!v) return E_FAIL;
  DWORD kind;
  switch (v->binding & 0xE00000) {
    case 0x200000:
      kind = 0x90000000;  // 2-D
      break;
    case 0x400000:
      kind = 0xA0000000;  // volume
      break;
    case 0x800000:
      kind = 0x98000000;  // cube
      break;
    default:
      GXL_SHADER_REPORT(t, v->declaration, msg::kTextureDeclarationAlias);
      return E_FAIL;
  }
  HRESULT hr = t.BeginInstruction(kDclToken);
  if (SUCCEEDED(hr)) hr = t.PutToken(kind);
  if (SUCCEEDED(hr)) hr = t.PutToken(RegisterBits(10, v->reg) | kFullMask);
  if (FAILED(hr)) return hr;
  hr = t.WriteInstructionLength();
  return FAILED(hr) ? hr : t.ValidateNewTokens();
}

void AddPartialPrecision(const ShaderTarget& t, const std::uint32_t* values, std::uint32_t count, DWORD* bits) {
  // Results nobody reads may as well be computed at partial precision.
  bool partial = true;
  for (std::uint32_t i = 0; i < count && partial; ++i) {
    const IrValue* v = t.Value(values[i]);
    const bool unread =
        (t.BankOf(*v)->type & kBankReadable) && v->definingPosition != kNoIndex && v->firstUse == kNoIndex;
    partial = (v->flags & kValueHalf) || unread;
  }
  if (partial || (t.options & kOptionAllPartial)) *bits |= kPartialPrecisionBit;
}

HRESULT CheckColorAndDepthWrites(ShaderTarget& t) {
  std::uint32_t written[4] = {};
  const ParseNode* where[4] = {};
  bool reported = false, depthReported = false;
  for (std::uint32_t i = 0; i < t.values.Count(); ++i) {
    const IrValue* v = t.Value(i);
    const RegisterBank* bank = v ? t.BankOf(*v) : nullptr;
    if (!bank || v->component > 3 || !(bank->type & kBankOutput)) continue;
    const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
    const ParseNode* node = v->declaration ? static_cast<const ParseNode*>(v->declaration) : v->semantic;
    if (usage == kUsageColor && n < 4) {
      written[n] |= 1u << v->component;
      where[n] = node;
    } else if (usage == kUsageDepth && n == 0 && v->component != 0 && !depthReported) {
      GXL_SHADER_REPORT(t, node, msg::kDepthNotScalar);
      depthReported = reported = true;
    }
  }
  bool gap = false, gapReported = false;
  for (std::uint32_t c = 0; c < 4; ++c) {
    if (written[c] && written[c] != 0xF) {
      GXL_SHADER_REPORT(t, where[c], msg::kColorNotVector4, static_cast<int>(c));
      reported = true;
    }
    if (!written[c] && c == 0) {
      GXL_SHADER_REPORT(t, nullptr, msg::kColor0Incomplete);
      reported = true;
    }
    if (written[c] && gap && !gapReported) {
      GXL_SHADER_REPORT(t, nullptr, msg::kColorOutputsNotContiguous);
      reported = gapReported = true;
    }
    gap |= !written[c];
  }
  return reported ? E_FAIL : S_OK;
}

HRESULT CheckPositionWrites(ShaderTarget& t, bool fogScalar) {
  bool failed = false, psizeReported = false, fogReported = false;
  std::uint32_t position = 0;  // components of POSITION written
  const IrValue* lastPosition = nullptr;
  for (std::uint32_t i = 0; i < t.values.Count(); ++i) {
    const IrValue* v = t.Value(i);
    const RegisterBank* bank = v ? t.BankOf(*v) : nullptr;
    if (!bank || !(bank->type & kBankOutput) || SemanticIndexOf(v->registerKey) != 0) continue;
    switch (SemanticUsageOf(v->registerKey)) {
      case kUsagePosition:
        if (v->component < 4) position |= 1u << v->component;
        lastPosition = v;
        break;
      case kUsagePointSize:
        if (v->component != 0 && !psizeReported) {
          GXL_SHADER_REPORT(t, v->semantic, msg::kPsizeNotScalar);
          psizeReported = failed = true;
        }
        break;
      case kUsageFog:
        if (fogScalar && v->component != 0 && !fogReported) {
          GXL_SHADER_REPORT(t, v->semantic, msg::kFogNotScalar);
          fogReported = failed = true;
        }
        break;
      default:
        break;
    }
  }
  if (position != 0xF) {
    GXL_SHADER_REPORT(t, lastPosition ? static_cast<const ParseNode*>(lastPosition->semantic) : nullptr,
                      msg::kPositionIncomplete);
    failed = true;
  }
  return failed ? E_FAIL : S_OK;
}

}  // namespace gxl::shader

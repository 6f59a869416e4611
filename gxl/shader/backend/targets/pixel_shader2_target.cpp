// The pixel shader 2.x target: construction, profile limits, the register
// and swizzle encodings, declarations and the output checks.
#include "gxl/shader/backend/targets/pixel_shader2_target.h"

#include <algorithm>

#include "gxl/shader/backend/targets/target_rules.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

// The swizzles ps_2_0 and ps_2_b accept: the four replicates, then xyzw,
// yzxw, zxyw and wzyx.
constexpr std::uint8_t kAllowedSwizzles[8][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3},
                                                 {0, 1, 2, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {3, 2, 1, 0}};

constexpr std::uint32_t kDclToken = 0x0200001F;    // dcl with its length of two
constexpr std::uint32_t kOptionAllPartial = 0x20;  // compile option: every result at partial precision

DWORD RegisterBits(std::uint32_t type, std::uint32_t index) {
  return kParameterBit | (type & 7) << 28 | (type & 0x18) << 8 | (index & 0x7FF);
}

// Instructions whose sources are read one component at a time.
bool ScalarSources(std::uint32_t group) { return group == 0x103 || (group >= 0x105 && group <= 0x107); }

// Float constants: the 32 registers that ps 2.0 and 2.x code can name (c32
// and above fail validation), 8192 for the software profile.
struct ProfileRow {
  DWORD version;
  std::uint32_t temporaries, floatConstants, booleans, capabilities, secondFlags;
  DWORD codeVersion;
};
constexpr ProfileRow kProfiles[] = {
    {0xFFFF0200, 12, 32, 0, 0x42001A3, 0xA, 0xFFFF0200},
    {0xFFFF0202, 22, 32, 0, 0x482001A1, 0x11, 0xFFFF0201},
    {0xFFFF0203, 32, 32, 0, 0x42001A3, 0xA, 0xFFFF0201},
    {0xFFFF02FF, 32, 8192, 2048, 0x402001A1, 0x10, 0xFFFF02FF},
};

}  // namespace

// --- Restricted swizzles ----------------------------------------------------------------

int MatchRestrictedSwizzle(const std::uint8_t pattern[4], int first, int last) {
  for (int row = std::max(first, 0); row <= std::min(last, 7); ++row) {
    bool match = true;
    for (int i = 0; i < 4 && match; ++i) match = pattern[i] == kFreeComponent || pattern[i] == kAllowedSwizzles[row][i];
    if (match) return row;
  }
  return -1;
}

bool ComputesComponentWise(const IrInstruction& inst) {
  const std::uint32_t g = inst.Group();
  return inst.resultCount == inst.Width() && inst.Class() != 6 && !(g >= 0x500 && g <= 0x503) && g != 0x708 &&
         !IsSpecialOperation(&inst);
}

void ArgumentPattern(const ShaderProgram& p, const IrInstruction& inst, std::uint32_t k, std::uint8_t pattern[4],
                     const std::uint8_t* keep) {
  std::fill(pattern, pattern + 4, kFreeComponent);
  const std::uint32_t n = inst.Width();
  if (n == 0 || (k + 1) * n > inst.argumentCount || ScalarSources(inst.Group())) return;
  const IrValue* first = p.Value(inst.arguments[k * n]);
  if (!first || (p.BankOf(*first)->type & kBankSampler)) return;
  const bool componentWise = ComputesComponentWise(inst);
  for (std::uint32_t j = 0; j < n; ++j) {
    if (keep && (j >= 4 || !keep[j])) continue;
    const IrValue* v = p.Value(inst.arguments[k * n + j]);
    const IrValue* r = componentWise ? p.Value(inst.results[j]) : nullptr;
    const std::uint32_t position = componentWise ? (r ? r->component : kNoIndex) : j;
    if (v && position < 4 && v->component < 4) pattern[position] = static_cast<std::uint8_t>(v->component);
  }
}

bool HasRestrictedSwizzles(const ShaderProgram& p, const IrInstruction& inst) {
  const std::uint32_t n = inst.Width();
  for (std::uint32_t k = 0; n && k < inst.argumentCount / n; ++k) {
    std::uint8_t pattern[4];
    ArgumentPattern(p, inst, k, pattern);
    if (MatchRestrictedSwizzle(pattern) < 0) return false;
  }
  return true;
}

// --- Construction and limits -----------------------------------------------------------

PixelShader2Target::PixelShader2Target(bool fragment) : ShaderTarget(fragment) {
  semanticTables[1] = kPixelInputSemantics;
  semanticTables[2] = kPixelOutputSemantics;
}

HRESULT PixelShader2Target::Compile(DataBuffer** code) {
  std::fill(std::begin(texcoordWidths), std::end(texcoordWidths), 0u);
  std::fill(std::begin(colorWidths), std::end(colorWidths), 0u);
  return ShaderTarget::Compile(code);
}

HRESULT PixelShader2Target::SetupProfileLimits() {
  const HRESULT hr = ShaderTarget::SetupProfileLimits();
  if (FAILED(hr)) return hr;
  const ProfileRow* row = nullptr;
  for (const ProfileRow& r : kProfiles)
    if (r.version == versionToken) row = &r;
  if (!row) {
    GXL_SHADER_REPORT(*this, nullptr, msg::kInternalNoPixelProfile);
    return E_FAIL;
  }
  ProfileLimits l{};
  l.inputs = 2;
  l.temporaries = row->temporaries;
  l.floatConstants = row->floatConstants;
  l.usedInputs = 10;
  l.word8 = 4;
  l.samplers = 16;
  l.booleanConstants = row->booleans;
  l.word15 = 1;
  l.capabilities = row->capabilities;
  l.secondFlags = row->secondFlags;
  profileLimits = l;
  m_codeVersion = row->codeVersion;
  relativeAddressing = false;
  return S_OK;
}

HRESULT PixelShader2Target::WriteVersionToken() { return WriteVersion(m_codeVersion); }
HRESULT PixelShader2Target::WriteInstructionLength() { return SetInstructionLength(); }

// --- Read ports and swizzles -------------------------------------------------------------

std::uint32_t PixelShader2Target::NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group) {
  static constexpr ReadPortLimits kLimits{1, 3, 1, 1, 2, true};
  return FindReadPortViolation(*this, instruction, kLimits, group);
}

std::uint32_t PixelShader2Target::ReadsEarlierResult(const IrInstruction& instruction, std::uint32_t position) {
  return ReadsEarlierTemporary(*this, instruction, position);
}

std::uint32_t PixelShader2Target::NeedsSwizzleFix(const IrInstruction& instruction) {
  if (instruction.Width() == 0) return 1;
  return RestrictedSwizzles() && !HasRestrictedSwizzles(*this, instruction) ? 1 : 0;
}

HRESULT PixelShader2Target::MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle) {
  if (!RestrictedSwizzles()) return ShaderTarget::MapSwizzle(values, count, mask, swizzle);
  if (!swizzle || !values || count == 0 || !Value(values[0])) return E_FAIL;
  if (BankOf(*Value(values[0]))->type & kBankSampler) {
    *swizzle = kIdentitySwizzle;
    return S_OK;
  }
  // The positions the mask writes are fixed; the others stay free. One
  // component read everywhere is replicated.
  std::uint8_t pattern[4] = {kFreeComponent, kFreeComponent, kFreeComponent, kFreeComponent};
  std::uint8_t first = kFreeComponent;
  bool replicate = true;
  for (std::uint32_t position = 0, k = 0; position < 4 && k < count; ++position) {
    if (!(mask & (0x10000u << position))) continue;
    const IrValue* v = Value(values[k++]);
    if (!v) return E_FAIL;
    pattern[position] = static_cast<std::uint8_t>(v->component & 3);
    if (first == kFreeComponent) first = pattern[position];
    replicate &= pattern[position] == first;
  }
  if (first != kFreeComponent && replicate) std::fill(pattern, pattern + 4, first);
  const int row = MatchRestrictedSwizzle(pattern);
  if (row < 0) {
    GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kInvalidSwizzleFound);
    return E_FAIL;
  }
  const std::uint8_t* s = kAllowedSwizzles[row];
  *swizzle = static_cast<DWORD>(s[0] | s[1] << 2 | s[2] << 4 | s[3] << 6) << 16;
  return S_OK;
}

HRESULT PixelShader2Target::EncodeDestinationMask(const std::uint32_t* values, std::uint32_t count, DWORD* bits,
                                                  std::uint32_t fullMask) {
  const HRESULT hr = ShaderTarget::EncodeDestinationMask(values, count, bits, fullMask);
  if (SUCCEEDED(hr)) AddPartialPrecision(*this, values, count, bits);
  return hr;
}

// --- Registers --------------------------------------------------------------------------

HRESULT PixelShader2Target::MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                                              std::uint32_t* fullMask) {
  const IrValue* v = Value(value);
  if (!v || !type || !index) return E_FAIL;
  const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
  *index = n;
  if (fullMask) *fullMask = 1;
  if (usage == kUsageColor && n < 4) return *type = 8, S_OK;
  if (usage == kUsageDepth && n == 0) return *type = 9, S_OK;
  if (fullMask) *fullMask = 0;
  if (usage == kNoSemanticUsage) return *type = 0, S_OK;
  return E_FAIL;
}

HRESULT PixelShader2Target::EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) {
  const IrValue* v = Value(value);
  if (!v || !index || !type) return E_FAIL;
  const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
  *index = n;
  if (usage == kUsageColor && n < profileLimits.inputs) return *type = 1, S_OK;
  if (usage == kUsageTexcoord && n < 8) return *type = 3, S_OK;
  if (usage == kNoSemanticUsage) return *type = 0, S_OK;
  // POSITION, PSIZE and FOG arrive but cannot be read.
  if (usage == kUsageNotReadable && v->semantic)
    GXL_SHADER_REPORT(*this, v->semantic, msg::kInvalidSemantic, ValueDirectionText(value),
                      v->semantic->token.kind == kTokenIdentifier ? v->semantic->token.value.text : "");
  return E_FAIL;
}

// --- Declarations -------------------------------------------------------------------------

HRESULT PixelShader2Target::DeclareInputsOutputs(std::uint32_t value, DWORD* key) {
  if (fragmentMode) return NameFragmentInput(*this, value, key);
  const IrValue* v = Value(value);
  if (!v) return E_FAIL;
  const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
  std::uint32_t type, width;
  DWORD bits = 0;
  if (usage == kUsageColor && n < 2) {
    type = 1, width = colorWidths[n];
    if (key) *key = n;
  } else if (usage == kUsageTexcoord && n < 8) {
    type = 3, width = texcoordWidths[n];
    if (key) *key = n + 2;
    if ((options & kOptionAllPartial) || (v->flags & kValueHalf)) bits |= kPartialPrecisionBit;
  } else {
    return S_OK;
  }
  bits |= width ? ((1u << std::min(width, 4u)) - 1) << 16 : kFullMask;
  if (v->flags & kValueCentroid) bits |= kCentroidBit;
  HRESULT hr = BeginInstruction(kDclToken);
  if (SUCCEEDED(hr)) hr = PutToken(kParameterBit);
  if (SUCCEEDED(hr) && debugRecordsOn) {
    // The debug record names the register's values, one per component.
    std::uint32_t components[4], count = 0;
    for (std::uint32_t i = 0; i < values.Count() && count < 4; ++i) {
      const IrValue* w = Value(i);
      if (!w || w->bank != v->bank || w->reg != v->reg || w->component > 3) continue;
      if (std::none_of(components, components + count,
                       [&](std::uint32_t c) { return Value(c)->component == w->component; }))
        components[count++] = i;
    }
    DWORD unused = 0;
    hr = EncodeDestinationMask(components, count, &unused, 0);
  }
  if (SUCCEEDED(hr)) hr = PutToken(RegisterBits(type, n) | bits);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT PixelShader2Target::DeclareSampler(std::uint32_t value) { return DeclareSamplerRegister(*this, value); }

// --- Output checks ------------------------------------------------------------------------

HRESULT PixelShader2Target::CheckOutputWrites() {
  if (fragmentMode) return S_OK;
  std::fill(std::begin(texcoordWidths), std::end(texcoordWidths), 0u);
  std::fill(std::begin(colorWidths), std::end(colorWidths), 0u);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    const RegisterBank* bank = v ? BankOf(*v) : nullptr;
    if (!bank || v->component > 3 || !(bank->type & kBankInitialised) || (bank->type & kBankUniform)) continue;
    const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
    std::uint32_t* width = usage == kUsageTexcoord && n < 8 ? &texcoordWidths[n]
                           : usage == kUsageColor && n < 2  ? &colorWidths[n]
                                                            : nullptr;
    if (width) *width = std::max(*width, v->component + 1);
  }
  return CheckColorAndDepthWrites(*this);
}

}  // namespace gxl::shader

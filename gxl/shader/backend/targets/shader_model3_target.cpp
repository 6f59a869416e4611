// The shader model 3 target's own state and slots: profile limits, the
// registers of inputs and outputs (o#, v#, vFace, vPos, oC#, oDepth), their
// declarations with usages, value names, the read-port rule, where VFACE may
// be read, the VFACE/VPOS renumbering and the output checks.
#include "gxl/shader/backend/targets/shader_model3_target.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/target_rules.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

constexpr DWORD kDclOpcode = 31;
constexpr std::uint32_t kOptionAllPartial = 0x20;  // compile option: every result at partial precision
constexpr std::uint32_t kRegisterTypeMisc = 17;    // vPos (0) and vFace (1)
constexpr std::uint32_t kRegisterTypeOutput = 6;   // o#

constexpr DWORD RegisterBits(std::uint32_t type, std::uint32_t index) {
  return kParameterBit | (type & 7) << 28 | (type & 0x18) << 8 | (index & 0x7FF);
}

// inputs, temporaries, address registers, predicates, float constants, -, integer constants, used inputs,
// word 8, samplers, first texture temporary, words 11-13, boolean constants, word 15, loop iterations,
// capabilities, second flags. ps_3_0 code names c0-c223 only.
struct Profile {
  DWORD version;
  ProfileLimits limits;
};
constexpr Profile kProfiles[] = {
    {0xFFFE0300, {16, 32, 1, 0, 8192, 0, 16, 16, 0, 4, 0, 8, 24, 4, 16, 1, 255, 0x40200100, 0x1FE4}},
    {0xFFFE03FF, {16, 32, 1, 0, 8192, 0, 2048, 16, 0, 16, 0, 16, 24, 4, 2048, 1, 255, 0x40200100, 0x1FE4}},
    {0xFFFF0300, {16, 32, 0, 0, 224, 0, 16, 16, 4, 16, 0, 8, 24, 4, 16, 1, 255, 0x402001A0, 0x1534}},
    {0xFFFF03FF, {16, 32, 0, 0, 8192, 0, 16, 16, 4, 16, 0, 8, 24, 4, 16, 1, 255, 0x402001A0, 0x1534}},
};

bool IsVaryingInput(const RegisterBank* b) {
  return b && (b->type & kBankInitialised) && !(b->type & (kBankUniform | kBankAddress));
}

}  // namespace

ShaderModel3Target::ShaderModel3Target(bool fragment) : ShaderTarget(fragment) {
  semanticTables[0] = kShaderModel3InputSemantics;
  semanticTables[1] = kInterpolatorSemantics;
  semanticTables[2] = kPixelOutputSemantics;
}

HRESULT ShaderModel3Target::SetupProfileLimits() {
  const HRESULT hr = ShaderTarget::SetupProfileLimits();
  if (FAILED(hr)) return hr;
  for (const Profile& p : kProfiles) {
    if (p.version != versionToken) continue;
    profileLimits = p.limits;
    relativeAddressing = true;
    return S_OK;
  }
  GXL_SHADER_REPORT(*this, nullptr, msg::kInternalNoProfile);
  return E_FAIL;
}

// Sampling instructions write temporaries only: one that writes an output
// writes a fresh temporary instead, which a move right after it copies.
HRESULT ShaderModel3Target::StageSampledOutputs() {
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    const std::uint32_t n = inst ? inst->resultCount : 0;
    const IrValue* first = n ? Value(inst->results[0]) : nullptr;
    if (!first || inst->word < 0x100000 || inst->Class() != 6 || n > 4 || !(BankOf(*first)->type & kBankOutput))
      continue;
    const HRESULT hr = StageResults(i, false);
    if (FAILED(hr)) return hr;
    ++i;  // past the move
  }
  return S_OK;
}

HRESULT ShaderModel3Target::FinishSelection() {
  HRESULT hr = StageSampledOutputs();
  if (SUCCEEDED(hr)) hr = StageNormalizeResults();
  if (SUCCEEDED(hr)) hr = CheckPortConstraints();
  if (SUCCEEDED(hr)) hr = RemoveDeadCode();
  if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
  if (SUCCEEDED(hr)) hr = CompactInstructions();
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  return FAILED(hr) ? hr : S_OK;
}

bool ShaderModel3Target::IsSpecialInput(std::uint32_t value, std::uint32_t usage) const {
  const IrValue* v = Value(value);
  if (!v || !IsVaryingInput(BankOf(*v))) return false;
  if (v->registerKey != kNoIndex) return SemanticUsageOf(v->registerKey) == usage;
  // Before the semantics are bound (selection, port checks): by the name.
  const SourceToken* token = v->semantic ? &v->semantic->token : nullptr;
  if (!token || (token->kind != kTokenIdentifier && token->kind != kTokenString) || !token->value.text) return false;
  const char* name = usage == kUsageFace ? "vface" : usage == kUsageScreenPosition ? "vpos" : nullptr;
  const std::size_t length = name ? std::strlen(name) : 0;
  if (!name || strncasecmp(token->value.text, name, length) != 0) return false;
  for (const char* c = token->value.text + length; *c; ++c)
    if (*c < '0' || *c > '9') return false;
  return true;
}

// --- Names ------------------------------------------------------------------------------

std::uint32_t ShaderModel3Target::FormatValueName(std::uint32_t value, char* buffer, std::uint32_t size) const {
  const IrValue* v = buffer && size ? Value(ResolveAlias(value)) : nullptr;
  const RegisterBank* bank = v ? BankOf(*v) : nullptr;
  const char* name = bank && bank->name ? bank->name : "";
  if (v && v->registerKey != kNoIndex && (!std::strcmp(name, "v") || !std::strcmp(name, "o"))) {
    for (const SemanticTableRow* row = kInterpolatorSemantics; row->usage != kUsageEnd; ++row) {
      if (static_cast<std::uint32_t>(row->usage) != SemanticUsageOf(v->registerKey)) continue;
      const int n = std::snprintf(buffer, size, "%s%s%u", name, row->name, SemanticIndexOf(v->registerKey));
      return n < 0 ? 0 : std::min<std::uint32_t>(static_cast<std::uint32_t>(n), size - 1);
    }
  }
  return ShaderTarget::FormatValueName(value, buffer, size);
}

// --- Read ports and VFACE ------------------------------------------------------------------

std::uint32_t ShaderModel3Target::NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group) {
  static constexpr ReadPortLimits kLimits{1, 3, 1, 1, 2, true, true, true, true};
  if (FindReadPortViolation(*this, instruction, kLimits, group)) return 1;
  // A texture coordinate cannot come from vPos itself.
  const std::uint32_t n = instruction.Width();
  if (instruction.Class() != 6 || n == 0) return 0;
  for (std::uint32_t k = 0; k < instruction.argumentCount / n; ++k)
    for (std::uint32_t j = 0; j < n; ++j)
      if (IsSpecialInput(instruction.arguments[k * n + j], kUsageScreenPosition)) {
        if (group) *group = k;
        return 1;
      }
  return 0;
}

bool ShaderModel3Target::ReadsFace(const IrInstruction& instruction, std::uint32_t group) {
  const std::uint32_t n = instruction.Width();
  return n && (group + 1) * n <= instruction.argumentCount &&
         IsSpecialInput(instruction.arguments[group * n], kUsageFace);
}

std::uint32_t ShaderModel3Target::CanReadFace(const IrInstruction& instruction, std::uint32_t group) {
  if (!ReadsFace(instruction, group)) return 1;
  const std::uint32_t g = instruction.Group();
  if (g == kOpSelect && group == 0) return 1;
  return g == 0x10F || (g >= 0x735 && g <= 0x738) || (g >= 0x744 && g <= 0x747) ? 1 : 0;
}

// A pixel shader may take the vertex shader's whole output structure, whose
// POSITION0 it cannot read: such an input is accepted, refused where it is
// read, and neither checked again nor declared when nothing reads it.
HRESULT ShaderModel3Target::CheckSemantics(std::uint32_t value, std::uint32_t flags) {
  IrValue* v = Value(value);
  const SourceToken* token = v && v->semantic ? &v->semantic->token : nullptr;
  const bool position = token && (token->kind == kTokenIdentifier || token->kind == kTokenString) &&
                        token->value.text && strncasecmp(token->value.text, "position", 8) == 0;
  if (!Vertex() && position && IsVaryingInput(BankOf(*v))) {
    bool error = false;
    const HRESULT hr = ParseInputSemantic(*this, value, kInterpolatorSemantics, kSemanticAnyDirection, &error, false);
    if (SUCCEEDED(hr) && !error && !(v->flags & kValueSemanticInvalid) &&
        SemanticUsageOf(v->registerKey) == kUsagePosition && SemanticIndexOf(v->registerKey) == 0) {
      v->registerKey = SemanticWord(kUsageNotReadable, 0);
      return S_OK;
    }
  }
  return ShaderTarget::CheckSemantics(value, flags);
}

void ShaderModel3Target::DropUnreadInputs() {
  PodArray<bool> read;
  if (!read.Reserve(values.Count())) return;  // all stay
  for (std::uint32_t i = 0; i < values.Count(); ++i) read.Append(false);
  auto mark = [&](std::uint32_t v) {
    for (std::uint32_t steps = 0; v < values.Count() && !read[v] && steps < values.Count(); ++steps) {
      read[v] = true;
      const IrValue* value = Value(v);
      if (!value) break;
      if (value->relativeIndex != kNoIndex && value->relativeIndex < values.Count()) read[value->relativeIndex] = true;
      v = value->alias;
    }
  };
  for (std::uint32_t i = 0; i < instructions.Count(); ++i)
    if (const IrInstruction* inst = Instruction(i); inst && inst->word != 0)
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) mark(inst->arguments[a]);
  const std::uint32_t placeholder = StandardBankIndex(StandardBank::Undefined);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (v && !read[i] && IsVaryingInput(BankOf(*v)) && SemanticUsageOf(v->registerKey) == kUsageNotReadable)
      v->bank = placeholder;
  }
}

// VFACE and VPOS take no v register: each comes after every ordinary input,
// which close up the gap it leaves.
HRESULT ShaderModel3Target::CheckSemanticConsistency() {
  if (!Vertex()) DropUnreadInputs();
  const HRESULT hr = ShaderTarget::CheckSemanticConsistency();
  if (hr != S_OK) return hr;
  for (const std::uint32_t usage : {kUsageFace, kUsageScreenPosition}) {
    std::uint32_t first = kNoIndex;
    for (std::uint32_t i = 0; i < values.Count() && first == kNoIndex; ++i) {
      const IrValue* v = Value(i);
      if (IsSpecialInput(i, usage) && !(v->flags & kValueSemanticInvalid) && v->reg != kNoIndex) first = i;
    }
    if (first == kNoIndex) continue;
    const std::uint32_t k = Value(first)->reg;
    std::uint32_t highest = k;
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      const IrValue* v = Value(i);
      if (v && IsVaryingInput(BankOf(*v)) && v->reg != kNoIndex && v->reg > k) highest = std::max(highest, v->reg);
    }
    if (highest == k) continue;
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      IrValue* v = Value(i);
      if (!v || !IsVaryingInput(BankOf(*v)) || v->reg == kNoIndex) continue;
      if (IsSpecialInput(i, usage) && !(v->flags & kValueSemanticInvalid))
        v->reg = highest;  // every value of the semantic shares the first one's register
      else if (v->reg > k)
        --v->reg;
    }
  }
  return S_OK;
}

// --- Output checks ----------------------------------------------------------------------

HRESULT ShaderModel3Target::CheckOutputWrites() {
  if (fragmentMode) return S_OK;
  // FOG may have two components here.
  return Vertex() ? CheckPositionWrites(*this, false) : CheckColorAndDepthWrites(*this);
}

// --- Registers --------------------------------------------------------------------------

HRESULT ShaderModel3Target::MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                                              std::uint32_t* fullMask) {
  const IrValue* v = Value(value);
  if (!v || !type || !index) return E_FAIL;
  if (fullMask) *fullMask = 0;
  const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
  if (usage == kNoSemanticUsage) return *type = 0, *index = n, S_OK;
  if (Vertex()) {
    if (fullMask && usage == kUsagePointSize && n == 0) *fullMask = 1;
    return *type = kRegisterTypeOutput, *index = v->reg, S_OK;
  }
  if (usage == kUsageColor && n < 4) return *type = 8, *index = n, S_OK;
  if (usage == kUsageDepth && n == 0) {
    if (fullMask) *fullMask = 1;
    return *type = 9, *index = 0, S_OK;
  }
  if (usage == kUsageFace && n == 0) return *type = kRegisterTypeMisc, *index = 1, S_OK;
  if (usage == kUsageScreenPosition && n == 0) return *type = kRegisterTypeMisc, *index = 0, S_OK;
  return E_FAIL;
}

HRESULT ShaderModel3Target::EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) {
  const IrValue* v = Value(value);
  if (!v || !index || !type) return E_FAIL;
  const std::uint32_t usage = SemanticUsageOf(v->registerKey);
  if (usage == kUsageFace) return *type = kRegisterTypeMisc, *index = 1, S_OK;
  if (usage == kUsageScreenPosition) return *type = kRegisterTypeMisc, *index = 0, S_OK;
  if (usage == kNoSemanticUsage) return *type = 0, *index = SemanticIndexOf(v->registerKey), S_OK;
  if (usage == kUsageNotReadable) {
    if (v->semantic)
      GXL_SHADER_REPORT(*this, v->semantic, msg::kInvalidSemantic, ValueDirectionText(value),
                        v->semantic->token.kind == kTokenIdentifier ? v->semantic->token.value.text : "");
    return E_FAIL;
  }
  return *type = 1, *index = v->reg, S_OK;
}

// --- Declarations ---------------------------------------------------------------------

HRESULT ShaderModel3Target::DeclareInputsOutputs(std::uint32_t value, DWORD* key) {
  const IrValue* v = Value(value);
  const RegisterBank* bank = v ? BankOf(*v) : nullptr;
  if (!bank) return E_FAIL;
  const bool output = bank->type & kBankOutput;
  if (key) *key = v->registerKey;
  if (fragmentMode) return NameFragmentInput(*this, value, key, output ? "o" : "v");
  const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
  DWORD usageToken = kParameterBit;
  if (usage >= kUsagePosition && usage <= kUsageSample && n < 16 && (usage != kUsageTessFactor || n == 0))
    usageToken |= (usage - 1) | n << 16;
  else if ((usage != kUsageFace && usage != kUsageScreenPosition) || n >= 16)
    return S_OK;
  if (key) *key = usageToken;

  std::uint32_t type = 0, index = 0, fullMask = 0;
  HRESULT hr = output ? MapOutputRegister(value, &type, &index, nullptr) : EncodeInputRegister(value, &index, &type);
  if (FAILED(hr)) return hr;
  fullMask = usage == kUsageFace || (usage == kUsagePointSize && n == 0) || (!output && Vertex());
  // The write mask: one value per component of the register.
  std::uint32_t components[4], count = 0;
  for (std::uint32_t i = 0; i < values.Count() && count < 4; ++i) {
    const IrValue* w = Value(i);
    if (!w || w->bank != v->bank || w->reg != v->reg || w->component > 3 || w->relativeIndex != kNoIndex) continue;
    if (std::none_of(components, components + count,
                     [&](std::uint32_t c) { return Value(c)->component == w->component; }))
      components[count++] = i;
  }
  std::sort(components, components + count,
            [&](std::uint32_t a, std::uint32_t b) { return Value(a)->component < Value(b)->component; });
  hr = BeginInstruction(kDclOpcode);
  if (SUCCEEDED(hr)) hr = PutToken(usageToken);
  DWORD bits = kFullMask;
  if (SUCCEEDED(hr) && count) hr = ShaderTarget::EncodeDestinationMask(components, count, &bits, fullMask);
  if (FAILED(hr)) return hr;
  bits &= ~(kSaturateBit | 0xF000000);
  if (!Vertex() && ((options & kOptionAllPartial) || (v->flags & kValueHalf))) bits |= kPartialPrecisionBit;
  if (v->flags & kValueCentroid) bits |= kCentroidBit;
  hr = WriteDestinationToken(RegisterBits(type, index), bits, 0);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT ShaderModel3Target::DeclareSampler(std::uint32_t value) { return DeclareSamplerRegister(*this, value); }

// --- Encoding ---------------------------------------------------------------------------

HRESULT ShaderModel3Target::WriteInstructionLength() { return SetInstructionLength(); }

HRESULT ShaderModel3Target::WriteSourceToken(DWORD registerBits, DWORD swizzleBits, std::uint32_t relative) {
  return WriteAddressedSourceToken(*this, registerBits, swizzleBits, relative);
}

HRESULT ShaderModel3Target::EncodeDestinationMask(const std::uint32_t* values, std::uint32_t count, DWORD* bits,
                                                  std::uint32_t fullMask) {
  const HRESULT hr = ShaderTarget::EncodeDestinationMask(values, count, bits, fullMask);
  if (SUCCEEDED(hr) && !Vertex()) AddPartialPrecision(*this, values, count, bits);
  return hr;
}

HRESULT ShaderModel3Target::MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle) {
  if (swizzle && values && count && IsSpecialInput(values[0], kUsageFace)) {
    *swizzle = kIdentitySwizzle;
    return S_OK;
  }
  return ShaderTarget::MapSwizzle(values, count, mask, swizzle);
}

}  // namespace gxl::shader

// The vertex target's own state and slots: profile limits, the read-port
// rule, output checks, the input and output registers, declarations and the
// encoding differences of the vertex versions.
#include "gxl/shader/backend/targets/vertex_target.h"

#include "gxl/shader/backend/targets/target_rules.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

struct VertexProfile {
  DWORD version;
  DWORD codeVersion;  // the version token the code declares
  ProfileLimits limits;
};

// inputs, temporaries, address registers, predicates, float constants, -, integer constants, used inputs, -,
// samplers, first texture temporary, words 11-13, boolean constants, word 15, loop iterations, capabilities,
// second flags
constexpr VertexProfile kVertexProfiles[] = {
    {0xFFFE0101,
     0xFFFE0101,
     {16, 12, 0, 0, 8192, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0x40 | 0x1000000, 0x40 | 0x300 | 0x2002}},
    {0xFFFE0200,
     0xFFFE0200,
     {16, 12, 1, 0, 8192, 0, 16, 16, 0, 0, 0, 8, 0, 1, 16, 1, 255, 0x40 | 0x200100, 0x40 | 0x300 | 0x2}},
    {0xFFFE0202,
     0xFFFE0201,
     {16, 13, 1, 0, 8192, 0, 16, 16, 0, 0, 0, 8, 24, 1, 16, 1, 255, 0x40 | 0x40200100, 0x40 | 0x300 | 0x4}},
    {0xFFFE02FF,
     0xFFFE02FF,
     {16, 32, 1, 0, 8192, 0, 2048, 16, 0, 0, 0, 16, 24, 4, 2048, 1, 255, 0x40 | 0x40200100, 0x40 | 0x300 | 0x4}},
};

constexpr DWORD RegisterBits(std::uint32_t type, std::uint32_t index) {
  return kParameterBit | (type & 7) << 28 | (type & 0x18) << 8 | (index & 0x7FF);
}

// Register types of the vertex outputs.
constexpr std::uint32_t kRasterOutput = 4, kColorOutput = 5, kTexcoordOutput = 6;

}  // namespace

VertexShaderTarget::VertexShaderTarget(bool fragment) : ShaderTarget(fragment) {
  semanticTables[0] = kVertexInputSemantics;
  semanticTables[1] = kVertexOutputSemantics;
}

HRESULT VertexShaderTarget::Compile(DataBuffer** code) {
  relativeAddressing = (versionToken & 0xFFFF) > 0x100;
  return ShaderTarget::Compile(code);
}

HRESULT VertexShaderTarget::SetupProfileLimits() {
  const HRESULT hr = ShaderTarget::SetupProfileLimits();
  if (FAILED(hr)) return hr;
  for (const VertexProfile& p : kVertexProfiles) {
    if (p.version != versionToken) continue;
    profileLimits = p.limits;
    // The code declares its own version; messages and the constant table
    // keep naming the profile asked for.
    versionToken = p.codeVersion;
    return S_OK;
  }
  GXL_SHADER_REPORT(*this, nullptr, msg::kInternalNoVertexProfile);
  return E_FAIL;
}

HRESULT VertexShaderTarget::FinishSelection() {
  HRESULT hr = StageNormalizeResults();
  if (SUCCEEDED(hr)) hr = CheckPortConstraints();
  if (SUCCEEDED(hr)) hr = RemoveDeadCode();
  if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
  if (SUCCEEDED(hr)) hr = CompactInstructions();
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  return FAILED(hr) ? hr : S_OK;
}

// --- Read ports -----------------------------------------------------------------------

std::uint32_t VertexShaderTarget::NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* out) {
  // From vs_2_0 a third constant operand breaks the rule even when it repeats a register.
  const ReadPortLimits limits{1, 3, 1, 0, Version2() ? 2u : kNoIndex, false};
  return FindReadPortViolation(*this, instruction, limits, out);
}

std::uint32_t VertexShaderTarget::ReadsEarlierResult(const IrInstruction& instruction, std::uint32_t position) {
  return ReadsEarlierTemporary(*this, instruction, position);
}

// --- Outputs ---------------------------------------------------------------------------

HRESULT VertexShaderTarget::CheckOutputWrites() { return fragmentMode ? S_OK : CheckPositionWrites(*this, true); }

HRESULT VertexShaderTarget::MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                                              std::uint32_t* fullMask) {
  const IrValue* v = Value(value);
  if (!v || !type || !index) return E_FAIL;
  if (fullMask) *fullMask = 0;
  const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
  if (usage == kNoSemanticUsage) {
    *type = 0;
    *index = n;
    return S_OK;
  }
  switch (usage) {
    case kUsagePosition:
    case kUsageFog:
    case kUsagePointSize:
      if (n != 0) return E_FAIL;
      *type = kRasterOutput;
      *index = usage == kUsagePosition ? 0 : usage == kUsageFog ? 1 : 2;
      if (fullMask && usage != kUsagePosition) *fullMask = 1;
      return S_OK;
    case kUsageColor:
      if (n > 1) return E_FAIL;
      *type = kColorOutput;
      *index = n;
      return S_OK;
    case kUsageTexcoord:
      if (n > 7) return E_FAIL;
      *type = kTexcoordOutput;
      *index = n;
      return S_OK;
    default:
      return E_FAIL;
  }
}

// --- Inputs and declarations -----------------------------------------------------------

HRESULT VertexShaderTarget::EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) {
  const IrValue* v = Value(value);
  if (!v || !index || !type) return E_FAIL;
  if (SemanticUsageOf(v->registerKey) == kNoSemanticUsage) {
    *type = 0;
    *index = SemanticIndexOf(v->registerKey);
  } else {
    *type = 1;
    *index = v->reg;
  }
  return S_OK;
}

HRESULT VertexShaderTarget::DeclareInputsOutputs(std::uint32_t value, DWORD* key) {
  const IrValue* v = Value(value);
  if (!v) return E_FAIL;
  if (key) *key = v->registerKey;
  const std::uint32_t usage = SemanticUsageOf(v->registerKey), n = SemanticIndexOf(v->registerKey);
  if (fragmentMode) return NameFragmentInput(*this, value, key);
  if (usage < kUsagePosition || usage > kUsageSample || n >= 16 || (usage == kUsageTessFactor && n != 0))
    return S_OK;
  std::uint32_t type = 0, index = 0;
  HRESULT hr = EncodeInputRegister(value, &index, &type);
  if (SUCCEEDED(hr)) hr = BeginInstruction(kOpcodeDcl);
  if (SUCCEEDED(hr)) hr = PutToken(kParameterBit | (usage - 1) | n << 16);
  if (SUCCEEDED(hr)) hr = WriteDestinationToken(RegisterBits(type, index), kFullMask, 0);
  if (FAILED(hr)) return hr;
  if (debugRecordsOn && !debugRecords.Empty()) {
    // The debug record names the values the declared register holds.
    std::uint32_t filled = 0;
    for (std::uint32_t i = 0; i < values.Count() && filled < 4; ++i) {
      const IrValue* w = Value(i);
      if (w && w->bank == v->bank && w->reg == v->reg && w->relativeIndex == kNoIndex)
        debugRecords.Back().results[filled++] = i;
    }
  }
  return FinishInstruction();
}

// --- Encoding ------------------------------------------------------------------------------

HRESULT VertexShaderTarget::WriteInstructionLength() { return Version2() ? SetInstructionLength() : S_OK; }

HRESULT VertexShaderTarget::WriteSourceToken(DWORD registerBits, DWORD swizzleBits, std::uint32_t relative) {
  // Below version 2.0 the read goes through a0.x, loaded ahead of the instruction.
  return Version2() ? WriteAddressedSourceToken(*this, registerBits, swizzleBits, relative)
                    : PutToken(registerBits | swizzleBits);
}

}  // namespace gxl::shader

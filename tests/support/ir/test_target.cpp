#include "tests/support/ir/test_target.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "gxl/shader/core/syntax_tree.h"

namespace irkit {

using namespace gxl::shader;

namespace {

std::uint32_t Check(std::uint32_t index, const char* what) {
  if (index == kNoIndex) throw std::runtime_error(std::string("test target: cannot add ") + what);
  return index;
}

// Groups each flavour has no instruction for.
bool Unsupported(DWORD version, std::uint32_t group) {
  const bool sample = group >= 0x600 && group <= 0x613;
  const bool lod = sample && (group - 0x600) % 5 == 4;
  const bool breakc = group >= 0x744 && group <= 0x747;
  switch (version) {
    case TestTarget::kVs20:
      return sample || breakc || group == 0x10D || group == 0x10E || group == 0x110 || group == 0x300 ||
             group == 0x708 || group == 0x70B || group == 0x70C;
    case TestTarget::kVs30:
      return (sample && !lod) || group == 0x10D || group == 0x10E || group == 0x110 || group == 0x300;
    default:
      return lod || (group >= 0x730 && group <= 0x74B) || group == 0x501 || (group >= 0x705 && group <= 0x707) ||
             group == 0x709 || group == 0x10D || group == 0x10E || group == 0x112 || group == 0x115 || group == 0x209 ||
             group == 0x202 || group == 0x203;
  }
}

}  // namespace

TestTarget::TestTarget(Flavour flavour, bool fragment) : ShaderTarget(fragment) {
  switch (flavour) {
    case kVs20:
      semanticTables[0] = kVertexInputSemantics;
      semanticTables[1] = kVertexOutputSemantics;
      break;
    case kVs30:
      semanticTables[0] = kShaderModel3InputSemantics;
      semanticTables[1] = kInterpolatorSemantics;
      semanticTables[2] = kPixelOutputSemantics;
      break;
    case kPs20:
      semanticTables[1] = kPixelInputSemantics;
      semanticTables[2] = kPixelOutputSemantics;
      break;
  }
}

HRESULT TestTarget::Compile(std::uint32_t* result) {
  if (result) *result = 0;
  return S_OK;
}

HRESULT TestTarget::SetupProfileLimits() {
  const HRESULT hr = ShaderTarget::SetupProfileLimits();
  ProfileLimits& l = profileLimits;
  switch (versionToken) {
    case kVs20:
      l.inputs = 16, l.temporaries = 12, l.addressRegisters = 1, l.integerConstants = 16, l.usedInputs = 16;
      l.booleanConstants = 16, l.loopIterations = 255, l.capabilities = 0x40 | 0x200100, l.secondFlags = 0x342;
      break;
    case kVs30:
      // One predicate register, so that predication can be tested.
      l.inputs = 16, l.temporaries = 32, l.addressRegisters = 1, l.predicates = 1, l.integerConstants = 16;
      l.usedInputs = 16, l.samplers = 4, l.booleanConstants = 16, l.loopIterations = 255;
      l.capabilities = 0x40200100, l.secondFlags = 0x1FE4;
      break;
    case kPs20:
      l.inputs = 2, l.temporaries = 12, l.usedInputs = 10, l.samplers = 16, l.capabilities = 0x42001A1;
      l.secondFlags = 0xA;
      break;
    default:
      return E_FAIL;
  }
  relativeAddressing = Vertex();
  return hr;
}

HRESULT TestTarget::MapOperation() {
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    SetCurrentInstruction(i);
    if (!current) continue;
    const std::uint32_t group = current->Group();
    HRESULT hr = Unsupported(versionToken, group) ? E_NOTIMPL : EmitStandardRule(group);
    if (hr == E_NOTIMPL) {
      if (Vertex())
        GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kUnmappedVertexExpression);
      else
        GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kUnmappedPixelExpression);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT TestTarget::WriteVersionToken() { return WriteVersion(versionToken); }

HRESULT TestTarget::WriteInstructionLength() { return SetInstructionLength(); }

HRESULT TestTarget::DeclareInputsOutputs(std::uint32_t value, DWORD* key) {
  const IrValue& v = *Value(value);
  const bool output = BankOf(v)->type & kBankOutput;
  const std::uint32_t usage = SemanticUsageOf(v.registerKey), index = SemanticIndexOf(v.registerKey);
  // The components the program reads or writes of this register.
  DWORD mask = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* w = Value(i);
    if (w && w->bank == v.bank && w->reg == v.reg && w->component < 4) mask |= 0x10000u << w->component;
  }
  std::uint32_t type = 0, reg = 0, fullMask = 0;
  DWORD usageToken = 0x80000000u;
  HRESULT hr;
  if (versionToken == kPs20) {
    hr = EncodeInputRegister(value, &reg, &type);
    // The first components up to the highest one read.
    mask = mask & 0x80000 ? 0xF0000 : mask & 0x40000 ? 0x70000 : mask & 0x20000 ? 0x30000 : 0x10000;
  } else {
    if (usage < 1 || usage > 14 || index >= 16) return S_OK;
    usageToken |= (usage - 1) | index << 16;
    hr = output ? MapOutputRegister(value, &type, &reg, &fullMask) : EncodeInputRegister(value, &reg, &type);
    if (!output || fullMask) mask = kFullMask;
  }
  if (FAILED(hr)) return hr;
  if (key) *key = usageToken;
  hr = BeginInstruction(kOpcodeDcl);
  if (SUCCEEDED(hr)) hr = PutToken(usageToken);
  if (SUCCEEDED(hr))
    hr = WriteDestinationToken(0x80000000u | (type & 7) << 28 | (type & 0x18) << 8 | (reg & 0x7FF), mask, 0);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT TestTarget::DeclareSampler(std::uint32_t value) {
  const IrValue& v = *Value(value);
  DWORD kind = 0;
  switch (v.binding & 0xE00000) {
    case 0x200000:
      kind = 0x90000000;
      break;
    case 0x400000:
      kind = 0xA0000000;
      break;
    case 0x800000:
      kind = 0x98000000;
      break;
    default:
      GXL_SHADER_REPORT(*this, v.declaration, msg::kTextureDeclarationAlias);
      return E_FAIL;
  }
  HRESULT hr = BeginInstruction(kOpcodeDcl);
  if (SUCCEEDED(hr)) hr = PutToken(kind);
  if (SUCCEEDED(hr)) hr = WriteDestinationToken(0xA0000800 | (v.reg & 0x7FF), kFullMask, 0);
  return FAILED(hr) ? hr : FinishInstruction();
}

HRESULT TestTarget::MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                                      std::uint32_t* fullMask) {
  const IrValue& v = *Value(value);
  const std::uint32_t usage = SemanticUsageOf(v.registerKey), n = SemanticIndexOf(v.registerKey);
  if (fullMask) *fullMask = 0;
  auto set = [&](std::uint32_t t, std::uint32_t i, bool full) {
    *type = t, *index = i;
    if (fullMask) *fullMask = full;
    return S_OK;
  };
  if (usage == kNoSemanticUsage) return set(0, n, false);
  switch (versionToken) {
    case kVs20:
      if (usage == kUsagePosition && n == 0) return set(4, 0, false);
      if (usage == kUsageFog && n == 0) return set(4, 1, true);
      if (usage == kUsagePointSize && n == 0) return set(4, 2, true);
      if (usage == kUsageColor && n < 2) return set(5, n, false);
      if (usage == kUsageTexcoord && n < 8) return set(6, n, false);
      return E_FAIL;
    case kVs30:
      return set(6, v.reg, usage == kUsagePointSize && n == 0);
    default:
      if (usage == kUsageColor && n < 4) return set(8, n, false);
      if (usage == kUsageDepth && n == 0) return set(9, 0, true);
      return E_FAIL;
  }
}

HRESULT TestTarget::EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) {
  if (versionToken != kPs20) return ShaderTarget::EncodeInputRegister(value, index, type);
  const IrValue& v = *Value(value);
  const std::uint32_t usage = SemanticUsageOf(v.registerKey), n = SemanticIndexOf(v.registerKey);
  if (usage == kUsageColor && n < profileLimits.inputs) return *type = 1, *index = n, S_OK;
  if (usage == kUsageTexcoord && n < 8) return *type = 3, *index = n, S_OK;
  return E_FAIL;
}

// --- Building -----------------------------------------------------------------------------

Values Registers(ShaderProgram& p, std::uint32_t bank, std::uint32_t reg, const char* components) {
  Values out;
  for (const char* c = components; *c; ++c) {
    const char* at = std::strchr("xyzw", *c);
    if (!at) throw std::invalid_argument("test target: component letter");
    out.push_back(Check(p.AddValue(bank, reg, static_cast<std::uint32_t>(at - "xyzw"), 0.0), "a value"));
  }
  return out;
}

void SetSemantic(ShaderProgram& p, const Values& values, const char* semantic) {
  SourceToken token{};
  token.kind = kTokenIdentifier;
  token.value.text = semantic;
  auto* node = new TokenNode(token);
  if (!node) throw std::runtime_error("test target: no page pool for the semantic");
  for (std::uint32_t v : values) p.Value(v)->semantic = node;
}

std::uint32_t PutInstruction(ShaderProgram& p, std::uint32_t group, std::uint32_t width, const Values& arguments,
                             const Values& results) {
  auto* inst = new IrInstruction;
  if (!inst || FAILED(inst->Init(IrWord(group, width), static_cast<std::uint32_t>(arguments.size()),
                                 static_cast<std::uint32_t>(results.size()), true)))
    throw std::runtime_error("test target: cannot make an instruction");
  std::copy(arguments.begin(), arguments.end(), inst->arguments);
  std::copy(results.begin(), results.end(), inst->results);
  return Check(p.instructions.Append(inst), "an instruction");
}

Values TestTarget::Reg(std::uint32_t bank, std::uint32_t reg, const char* components) {
  return Registers(*this, bank, reg, components);
}

std::uint32_t TestTarget::Literal(double x, std::uint32_t reg, std::uint32_t component) {
  return Check(AddValue(StandardBankIndex(StandardBank::Literals), reg, component, x), "a literal");
}

void TestTarget::SetSemantic(const Values& values, const char* semantic) { irkit::SetSemantic(*this, values, semantic); }

std::uint32_t TestTarget::Put(std::uint32_t group, std::uint32_t width, const Values& arguments,
                              const Values& results) {
  return PutInstruction(*this, group, width, arguments, results);
}

}  // namespace irkit

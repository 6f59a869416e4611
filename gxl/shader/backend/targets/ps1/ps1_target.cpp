// The pixel shader 1.x target's own state and slots: limits per model, the
// selection that prepares clips, the register mappings of inputs and outputs,
// and the helpers that placement and the rules share.
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

#include <new>

#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/core/profiles.h"

namespace gxl::shader {

namespace {

struct Ps1Profile {
  DWORD version;
  std::uint32_t texcoords, usedInputs, samplers, firstTextureTemporary;
  std::uint32_t capabilitiesSet, capabilitiesCleared;
};

constexpr Ps1Profile kPs1Profiles[] = {
    {0xFFFF0101, 4, 6, 4, 2, 0x36FF2C9E, 0x0000D021},
    {0xFFFF0102, 4, 6, 4, 2, 0x36FD2C9E, 0x0002D021},
    {0xFFFF0103, 4, 6, 4, 2, 0x36FD2C9E, 0x0002D021},
    {0xFFFF0104, 6, 8, 6, 0, 0x1671FC9A, 0x008E0025},
};

// Register types of the 1.x encodings.
constexpr std::uint32_t kTemporaryType = 0, kInputType = 1, kTextureType = 3, kDepthOutputType = 9;
constexpr std::uint32_t kSpecialInputSlot = 12;
constexpr DWORD kCoIssueBit = 0x40000000;

}  // namespace

// --- Ps1List ---------------------------------------------------------------------------

HRESULT Ps1List::Allocate(std::uint32_t slots) {
  m_entries.Reset();
  m_exists = true;
  if (!m_entries.Reserve(kLimit)) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < slots; ++i) m_entries.Append(kNoIndex);
  return S_OK;
}

HRESULT Ps1List::Append(std::uint32_t instruction) {
  if (Count() >= kLimit) return E_FAIL;
  return m_entries.Append(instruction) ? S_OK : E_OUTOFMEMORY;
}

// --- Construction ----------------------------------------------------------------------

PixelShader1Target::PixelShader1Target(bool fragment, std::unique_ptr<Ps1Rules> r)
    : ShaderTarget(fragment), rules(std::move(r)) {
  if (!rules) rules.reset(new (std::nothrow) Ps1StandardRules);
}

PixelShader1Target::~PixelShader1Target() {
  for (std::size_t i = 0; i < instructionSnapshot.Size(); ++i) delete instructionSnapshot[i];
  for (std::size_t i = 0; i < valueSnapshot.Size(); ++i) delete valueSnapshot[i];
}

HRESULT PixelShader1Target::Compile(DataBuffer** code) {
  if (code) *code = nullptr;
  // A fragment must carry its named registers; this target writes plain code.
  if (fragmentMode || !rules) return rules ? E_FAIL : E_OUTOFMEMORY;
  for (std::uint32_t& n : texcoordComponentsRead) n = 0;
  for (std::uint32_t& n : colorComponentsRead) n = 0;
  phaseOneList.Free();
  stageList.Free();
  outputMove = kNoIndex;
  return ShaderTarget::Compile(code);
}

HRESULT PixelShader1Target::SetupProfileLimits() {
  const HRESULT hr = ShaderTarget::SetupProfileLimits();
  if (FAILED(hr)) return hr;
  for (const Ps1Profile& p : kPs1Profiles) {
    if (p.version != versionToken) continue;
    ProfileLimits& l = profileLimits;
    l.inputs = 2;
    l.temporaries = 24;
    l.addressRegisters = 0;
    l.floatConstants = 8;
    l.word5 = p.texcoords;
    l.usedInputs = p.usedInputs;
    l.word8 = 1;
    l.samplers = p.samplers;
    l.firstTextureTemporary = p.firstTextureTemporary;
    l.word15 = 64;
    l.capabilities = (l.capabilities | p.capabilitiesSet) & ~p.capabilitiesCleared;
    l.secondFlags |= 0x8;
    profileVersion = versionToken;
    options |= kOptionNoPreshader;
    return S_OK;
  }
  return E_FAIL;
}

// Clips into the 3-component kill, then the shared clean-up.
HRESULT PixelShader1Target::SelectInstructions() {
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->Group() != kOpDiscard) continue;
    const HRESULT hr = CheckClip(i);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = Refresh();
  if (SUCCEEDED(hr)) hr = RemoveDeadCode();
  if (SUCCEEDED(hr)) hr = MergeDuplicateValues();
  if (SUCCEEDED(hr)) hr = CompactInstructions();
  if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
  if (SUCCEEDED(hr)) hr = Refresh();
  return FAILED(hr) ? hr : S_OK;
}

// Registers are assigned with the instruction lists, inside code generation.
HRESULT PixelShader1Target::AllocateRegisters() { return S_OK; }

std::uint32_t PixelShader1Target::ReadsEarlierResult(const IrInstruction& instruction, std::uint32_t position) {
  for (std::uint32_t a = 0; a < instruction.argumentCount; ++a) {
    if (!IsTemporaryValue(instruction.arguments[a])) continue;
    const std::uint32_t producer = ProducerOf(instruction.arguments[a]);
    const IrInstruction* p = Instruction(producer);
    if (p && producer < position && p->word != 0) return 1;
  }
  return 0;
}

HRESULT PixelShader1Target::DeclareInputsOutputs(std::uint32_t value, DWORD* key) {
  const std::uint32_t word = SemanticOf(value);
  const std::uint32_t kind = Ps1KindOf(word), index = Ps1IndexOf(word);
  std::uint32_t slot = kNoIndex;
  if (kind == kPs1Color && index < profileLimits.inputs) slot = index;
  if (kind == kPs1Texcoord && index < TexcoordLimit()) slot = index + 2;
  if (kind == kPs1Special) slot = kSpecialInputSlot;
  if (slot == kNoIndex) return E_FAIL;
  if (key) *key = slot;
  return S_OK;
}

DWORD PixelShader1Target::MapOpcode(DWORD opcode) {
  return current && CoIssueMark(*current) == 1 ? opcode | kCoIssueBit : opcode;
}

// 1.x opcode tokens carry no length.
HRESULT PixelShader1Target::WriteInstructionLength() { return S_OK; }

HRESULT PixelShader1Target::MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                                              std::uint32_t* fullMask) {
  const std::uint32_t word = SemanticOf(value);
  if (word == Ps1SemanticWord(kPs1Color, 0)) {
    *type = kTemporaryType;
    *index = 0;
    return S_OK;
  }
  if (word == Ps1SemanticWord(kPs1Depth, 0)) {
    *type = kDepthOutputType;
    *index = 0;
    if (fullMask) *fullMask = 1;
    return S_OK;
  }
  return E_FAIL;
}

HRESULT PixelShader1Target::EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) {
  const std::uint32_t word = SemanticOf(value);
  const std::uint32_t kind = Ps1KindOf(word), i = Ps1IndexOf(word);
  if (kind == kPs1Color && i < profileLimits.inputs) {
    *type = kInputType;
    *index = i;
    return S_OK;
  }
  if (kind == kPs1Texcoord && i < TexcoordLimit()) {
    *type = kTextureType;
    *index = i;
    return S_OK;
  }
  return E_FAIL;
}

// --- Shared helpers ----------------------------------------------------------------------

bool PixelShader1Target::IsInputValue(std::uint32_t value) const {
  const IrValue* v = Value(value);
  const RegisterBank* b = v ? BankOf(*v) : nullptr;
  return b && (b->type & kBankInitialised) && !(b->type & (kBankUniform | kBankSampler | kBankLiteral));
}

bool PixelShader1Target::IsTemporaryValue(std::uint32_t value) const {
  const IrValue* v = Value(value);
  return v && v->bank == StandardBankIndex(StandardBank::Temporaries);
}

bool PixelShader1Target::IsConstantValue(std::uint32_t value) const {
  const IrValue* v = Value(value);
  const RegisterBank* b = v ? BankOf(*v) : nullptr;
  return b && (b->type & (kBankUniform | kBankLiteral)) && !(b->type & kBankSampler);
}

std::uint32_t PixelShader1Target::SemanticOf(std::uint32_t value) const {
  const IrValue* v = Value(value);
  const RegisterBank* b = v ? BankOf(*v) : nullptr;
  if (!b || !((IsInputValue(value)) || (b->type & kBankOutput))) return kNoIndex;
  return v->registerKey;
}

bool PixelShader1Target::IsTextureLoad(std::uint32_t group) {
  return group == 0x600 || group == 0x605 || group == 0x60A || group == 0x60F || group == 0x607 ||
         group == kOpTexldDivideZ;
}

bool PixelShader1Target::IsTextureOperation(std::uint32_t group) {
  return (group >= 0x600 && group <= 0x613) || group == kOpTexldDivideZ || group == kOpDiscard ||
         group == kOpReflectEyeInTexcoord || group == kOpReflectEyeInConstant;
}

std::uint32_t PixelShader1Target::CoordinateStart(const IrInstruction& instruction) {
  return instruction.Group() == kOpDiscard ? 0 : instruction.Width();
}

std::uint32_t PixelShader1Target::ProducerOf(std::uint32_t value) const {
  const IrValue* v = Value(ResolveAlias(value));
  return v ? v->definingPosition : kNoIndex;
}

std::uint32_t PixelShader1Target::TexcoordValue(std::uint32_t index, std::uint32_t component) {
  const std::uint32_t word = Ps1SemanticWord(kPs1Texcoord, index);
  std::uint32_t reg = kNoIndex;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    if (!IsInputValue(i) || Value(i)->registerKey != word || Value(i)->relativeIndex != kNoIndex) continue;
    if (Value(i)->component == component) return i;
    reg = Value(i)->reg;
  }
  const std::uint32_t made = AddValue(StandardBankIndex(StandardBank::Inputs), reg, component, 0.0);
  if (made != kNoIndex) Value(made)->registerKey = word;
  return made;
}

std::uint32_t PixelShader1Target::AddTexcoordInstruction(std::uint32_t index, std::uint32_t count,
                                                         std::uint32_t sourceOf, std::uint32_t* inputs,
                                                         std::uint32_t* results) {
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t j = 0; j < count; ++j) {
    inputs[j] = TexcoordValue(index, j);
    results[j] = AddValue(temporaries, kNoIndex, j, 0.0);
    if (inputs[j] == kNoIndex || results[j] == kNoIndex) return kNoIndex;
    IrValue* r = Value(results[j]);
    r->flags = 0;
    r->alias = kNoIndex;
    r->registerKey = Ps1SemanticWord(kPs1Texcoord, index);
  }
  return AddFilledInstruction(IrWord(kOpTexcoord, count), inputs, count, results, count, sourceOf);
}

std::uint32_t PixelShader1Target::AddFilledInstruction(std::uint32_t word, const std::uint32_t* arguments,
                                                       std::uint32_t argumentCount, const std::uint32_t* results,
                                                       std::uint32_t resultCount, std::uint32_t sourceOf) {
  const std::uint32_t index = AddInstruction(word, argumentCount, resultCount);
  IrInstruction* inst = Instruction(index);
  if (!inst) return kNoIndex;
  for (std::uint32_t a = 0; a < argumentCount; ++a) inst->arguments[a] = arguments[a];
  for (std::uint32_t r = 0; r < resultCount; ++r) inst->results[r] = results[r];
  if (const IrInstruction* source = Instruction(sourceOf)) inst->CopySourcePosition(source);
  return index;
}

HRESULT PixelShader1Target::InputRemap(std::uint32_t first, std::uint32_t last, std::uint32_t skip,
                                       const std::uint32_t* from, const std::uint32_t* to, std::uint32_t count) {
  for (std::uint32_t i = first; i <= last && i < instructions.Count(); ++i) {
    IrInstruction* inst = Instruction(i);
    if (!inst || i == skip || inst->word == 0) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const std::uint32_t original = inst->arguments[a];
      const std::uint32_t root = ResolveAlias(original);
      const IrValue* v = Value(root);
      if (!v) continue;
      bool sameRegister = false, matched = false;
      for (std::uint32_t j = 0; j < count && !matched; ++j) {
        const IrValue* f = Value(from[j]);
        sameRegister |= f && f->bank == v->bank && f->registerKey == v->registerKey && f->reg == v->reg;
        if (root != from[j]) continue;
        matched = true;
        if (original == from[j]) {
          inst->arguments[a] = to[j];
          continue;
        }
        // A read through a modified alias keeps its modifier on the new register.
        const std::uint32_t copy = AddValueCopy(Value(to[j]));
        if (copy == kNoIndex) return E_OUTOFMEMORY;
        Value(copy)->binding = Value(original)->binding;
        Value(copy)->alias = to[j];
        inst->arguments[a] = copy;
      }
      if (sameRegister && !matched && IsInputValue(root)) {
        SetCurrentInstruction(i);
        GXL_SHADER_REPORT(*this, currentSource, msg::kInputRemapFailed);
        return E_FAIL;
      }
    }
  }
  return S_OK;
}

}  // namespace gxl::shader

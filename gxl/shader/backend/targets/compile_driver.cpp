// The compile driver of the targets: from the lowered program through the
// optimiser phases, semantic and register binding, code generation, the
// declarations and the emission walk to the finished, validated code.
#include <algorithm>
#include <cstring>

#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/float_truncation.h"
#include "gxl/shader/core/profiles.h"
#include "gxl/shader/core/syntax_tree.h"
#include "gxl/tex/data_buffer.h"

namespace gxl::shader {

namespace {

// sincos before version 3.0 reads two constant registers of these values.
constexpr float kSinCosConstants[8] = {-1.5500992e-06f, -2.1701389e-05f, 0.0026041667f, 0.00026041668f,
                                       -0.020833334f,   -0.125f,         1.0f,          0.5f};

bool IsVaryingInputBank(const RegisterBank* b) {
  return b && (b->type & kBankInitialised) && !(b->type & (kBankUniform | kBankAddress));
}

DWORD FloatBits(double x) {
  const float f = static_cast<float>(x);
  DWORD bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

}  // namespace

void ShaderTarget::CleanUp() {
  m_inputs.Reset();
  m_outputs.Reset();
  m_samplers.Reset();
  tokens.Reset();
  debugRecords.Reset();
  validator.Release();
}

HRESULT ShaderTarget::Compile(std::uint32_t* result) {
  optimisedFlag = registerTableFlag = 0;
  if (result) *result = 0;
  HRESULT hr = Optimize();
  if (SUCCEEDED(hr)) hr = FitSlotLimit();
  if (SUCCEEDED(hr)) hr = ScheduleAndAllocate();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderTarget::Compile(DataBuffer** code) {
  if (code) *code = nullptr;
  struct CleanUpOnExit {
    ShaderTarget* target;
    ~CleanUpOnExit() { target->CleanUp(); }
  } cleanUp{this};

  currentSource = nullptr;
  current = nullptr;
  std::uint32_t phases = 0;
  HRESULT hr = FitLoopRegisters();
  if (hr != S_OK) return hr;
  hr = Compile(&phases);
  if (FAILED(hr) || FAILED(hr = ChargeLaterWalk(workrate::kTargetOther))) return hr;
  integerLiteralBank =
      AddRegisterBank("i", kBankReadable | kBankInitialised | kBankLiteral | kBankUniform | kBankInteger, kNoIndex, 4);
  if (integerLiteralBank == kNoIndex) return E_OUTOFMEMORY;
  hr = CheckSemanticConsistency();
  if (hr == E_OUTOFMEMORY) return hr;
  if (hr != S_OK) return E_FAIL;

  tokens.Clear();
  validatedCount = insertedDwords = 0;
  debugRecords.Clear();
  validator.Release();
  if (!(options & kOptionNoValidation)) {
    hr = validator.Begin(&ShaderTarget::ReportValidatorMessage, this, 1);
    if (FAILED(hr)) return hr;
  }
  debugRecordsOn = options & kOptionDebug;
  if (debugRecordsOn && !debugRecords.Reserve(std::max<std::size_t>(2 * std::size_t{instructions.Count()}, 1)))
    return E_OUTOFMEMORY;
  m_scratch = {};
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = Value(i)) v->renumber = kNoIndex;

  hr = BindSemanticsAndFile();
  if (FAILED(hr)) return hr;
  hr = InsertOperandCopies();
  if (SUCCEEDED(hr)) hr = CheckOutputWrites();
  if (FAILED(hr)) return hr;
  if (!(options & kOptionNoOptimisation) || (profileLimits.capabilities & 0x200000)) {
    hr = ResetSelectionState();
    if (SUCCEEDED(hr)) hr = ChargeLaterWalk(workrate::kGenerateCode);
    if (SUCCEEDED(hr)) hr = GenerateCode();
    // Code generation may renumber the values filed above.
    if (SUCCEEDED(hr)) hr = FileRegisters(kFileAll);
    if (FAILED(hr)) return hr;
  }
  hr = FitFlowControl();
  if (hr != S_OK) return hr;
  if (sinCosConstants) {
    const std::uint32_t bank =
        AddRegisterBank("l", kBankReadable | kBankInitialised | kBankBound | kBankLiteral | kBankUniform, kNoIndex, 4);
    if (bank == kNoIndex) return E_OUTOFMEMORY;
    for (std::uint32_t i = 0; i < 8; ++i) {
      sinCosValues[i / 4][i % 4] = AddValue(bank, i / 4, i % 4, kSinCosConstants[i]);
      if (sinCosValues[i / 4][i % 4] == kNoIndex) return E_OUTOFMEMORY;
    }
  }
  const ProfileLimits& l = profileLimits;
  hr = BindRegisterSemantics(StandardBankIndex(StandardBank::FloatConstants), l.floatConstants, kBankUniform,
                             kBankBoolean | kBankInteger | kBankSampler, 'c');
  if (SUCCEEDED(hr))
    hr = BindRegisterSemantics(StandardBankIndex(StandardBank::BoolConstants), l.booleanConstants,
                               kBankBoolean | kBankUniform, kBankSampler, 'b');
  if (SUCCEEDED(hr))
    hr = BindRegisterSemantics(StandardBankIndex(StandardBank::IntConstants), l.integerConstants,
                               kBankInteger | kBankUniform, kBankSampler, 'i');
  if (FAILED(hr)) return hr;

  currentIndex = 0;
  current = Instruction(0);
  hr = WriteVersionToken();
  if (SUCCEEDED(hr)) hr = DefineLiterals();
  if (SUCCEEDED(hr)) hr = DeclareRegisters();
  if (FAILED(hr)) return hr;
  if (!(profileLimits.capabilities & 0x400000)) {
    hr = ResetSelectionState();
    if (FAILED(hr)) return hr;
  }
  hr = ChargeLaterWalk(workrate::kMapOperation + (validator.Get() ? workrate::kValidation : 0));
  if (FAILED(hr)) return hr;
  hr = MapOperation();
  if (FAILED(hr)) return hr;
  return FinishCode(code);
}

// Semantics of inputs and outputs, the sampler limit, the inputs or samplers
// bound to registers, and every input, output and sampler filed under its
// register.
HRESULT ShaderTarget::BindSemanticsAndFile() {
  std::uint32_t samplerValues = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    const RegisterBank* bank = v ? BankOf(*v) : nullptr;
    if (!bank) continue;
    if (((bank->type & kBankInitialised) && !(bank->type & kBankUniform)) || (bank->type & kBankOutput)) {
      const HRESULT hr = CheckSemantics(i, 0);
      if (FAILED(hr)) return hr;
    }
    if (bank->type & kBankSampler) ++samplerValues;
  }
  if (samplerValues > profileLimits.samplers) {
    ShaderProfileRow row{};
    const char* name = SUCCEEDED(ProfileTokenToName(versionToken, 0, &row)) ? row.name : "this";
    if (profileLimits.samplers == 0)
      GXL_SHADER_REPORT(*this, nullptr, msg::kNoTextureLookups, name);
    else
      GXL_SHADER_REPORT(*this, nullptr, msg::kTooManySamplers, name, static_cast<int>(profileLimits.samplers));
    return E_FAIL;
  }
  const HRESULT hr = (versionToken >> 16) == 0xFFFE
                         ? BindRegisterSemantics(StandardBankIndex(StandardBank::Inputs), profileLimits.inputs,
                                                 kBankInitialised, kBankUniform | kBankAddress, 'v')
                         : BindRegisterSemantics(kNoIndex, profileLimits.samplers, kBankSampler, 0, 's');
  if (FAILED(hr)) return hr;

  HRESULT filed = FileRegisters(kFileAll);
  if (FAILED(filed)) return filed;
  // Inputs of one semantic share the register filed for it.
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (FileKindOf(v) != kFileInputs) continue;
    for (std::size_t r = 0; r < m_inputs.Size(); ++r)
      if (m_inputs[r] != kNoIndex && Value(m_inputs[r])->registerKey == v->registerKey) {
        v->reg = static_cast<std::uint32_t>(r);
        break;
      }
  }
  filed = FileRegisters(kFileInputs);
  if (FAILED(filed)) return filed;
  m_inputsInUse = static_cast<std::uint32_t>(
      std::count_if(m_inputs.Data(), m_inputs.Data() + m_inputs.Size(), [](std::uint32_t v) { return v != kNoIndex; }));
  return S_OK;
}

// One table entry per register of each kind, kNoIndex where nothing is filed:
// every kind, or only `only`.
ShaderTarget::FileKind ShaderTarget::FileKindOf(const IrValue* v) const {
  const RegisterBank* bank = v && v->reg != kNoIndex ? BankOf(*v) : nullptr;
  if (IsVaryingInputBank(bank)) return kFileInputs;
  if (bank && (bank->type & kBankOutput)) return kFileOutputs;
  if (bank && (bank->type & kBankSampler)) return kFileSamplers;
  return kFileNone;
}

HRESULT ShaderTarget::FileRegisters(FileKind only) {
  PodArray<std::uint32_t>* tables[3] = {&m_inputs, &m_outputs, &m_samplers};
  for (int k = 0; k < 3; ++k)
    if (only == kFileAll || k == only) tables[k]->Clear();
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    const FileKind k = FileKindOf(v);
    if (k == kFileNone || (only != kFileAll && k != only)) continue;
    if (k != kFileSamplers && v->registerKey == kNoIndex) {
      if (k == kFileInputs)
        GXL_SHADER_REPORT(*this, v->declaration, msg::kInternalInputMissingSemantic);
      else
        GXL_SHADER_REPORT(*this, v->declaration, msg::kInternalOutputMissingSemantic);
      return E_FAIL;
    }
    PodArray<std::uint32_t>& table = *tables[k];
    if (v->reg >= table.Size()) {
      if (!table.Reserve(std::size_t{v->reg} + 1)) return E_OUTOFMEMORY;
      while (table.Size() <= v->reg) table.Append(kNoIndex);
    }
    if (table[v->reg] == kNoIndex) table[v->reg] = i;
  }
  return S_OK;
}

// def and defi for the literals, one per register, in order of first appearance.
HRESULT ShaderTarget::DefineLiterals() {
  for (const bool integer : {false, true}) {
    PodArray<std::uint32_t> registers;
    PodArray<DWORD> contents;  // four per listed register
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      const IrValue* v = Value(i);
      const RegisterBank* bank = v ? BankOf(*v) : nullptr;
      if (!bank || !(bank->type & kBankLiteral) || v->relativeIndex != kNoIndex || v->alias != kNoIndex ||
          v->reg == kNoIndex || v->component > 3 || ((bank->type & kBankInteger) != 0) != integer)
        continue;
      if (!integer && (bank->type & kBankKeepValues) && !fragmentMode) continue;
      std::size_t slot = 0;
      while (slot < registers.Size() && registers[slot] != v->reg) ++slot;
      if (slot == registers.Size()) {
        static constexpr DWORD kZero[4] = {};
        if (!registers.Append(v->reg) || !contents.Append(kZero, 4)) return E_OUTOFMEMORY;
      }
      contents[slot * 4 + v->component] =
          integer ? static_cast<DWORD>(TruncToInt32(v->rangeLow)) : FloatBits(v->rangeLow);
    }
    for (std::size_t slot = 0; slot < registers.Size(); ++slot) {
      const HRESULT hr = integer ? DefineIntegerConstant(registers[slot], &contents[slot * 4])
                                 : DefineFloatConstant(registers[slot], &contents[slot * 4]);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

// The declarations of inputs, samplers and outputs. Every declaration is made
// before a failure among them ends the compile, so that all of them report.
HRESULT ShaderTarget::DeclareRegisters() {
  if (m_inputsInUse > profileLimits.usedInputs) {
    GXL_SHADER_REPORT(*this, nullptr, msg::kTooManyInputs);
    return E_FAIL;
  }
  bool failed = false;
  for (std::size_t r = 0; r < m_inputs.Size(); ++r)
    if (m_inputs[r] != kNoIndex) failed |= FAILED(DeclareInputsOutputs(m_inputs[r], nullptr));
  HRESULT hr = CheckSamplerConsistency();
  if (FAILED(hr)) return hr;
  for (std::size_t r = 0; r < m_samplers.Size(); ++r)
    if (m_samplers[r] != kNoIndex) failed |= FAILED(DeclareSampler(m_samplers[r]));
  PodArray<DWORD> keys;
  PodArray<std::uint32_t> declared;
  for (std::size_t r = 0; r < m_outputs.Size(); ++r) {
    const std::uint32_t value = m_outputs[r];
    if (value == kNoIndex) continue;
    DWORD key = 0;
    hr = (profileLimits.secondFlags & 0x80) ? DeclareInputsOutputs(value, &key)
                                            : EncodeDestinationRegister(value, &key, nullptr, nullptr);
    failed |= FAILED(hr);
    if (SUCCEEDED(hr) && (!keys.Append(key) || !declared.Append(value))) return E_OUTOFMEMORY;
  }
  if (failed) return E_FAIL;
  for (std::size_t i = 1; i < keys.Size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (keys[i] == keys[j]) {
        GXL_SHADER_REPORT(*this, Value(declared[i])->semantic, msg::kOverlappingOutputSemantics);
        return E_FAIL;
      }
  return S_OK;
}

// The comment blocks, the end token, the end of validation and the buffer.
HRESULT ShaderTarget::FinishCode(DataBuffer** code) {
  HRESULT hr = S_OK;
  if (preshader) {
    const LentWork lent(*this, *preshader);
    hr = WritePreshader();
  }
  if (SUCCEEDED(hr)) hr = WriteConstantTable();
  if (SUCCEEDED(hr) && (options & kOptionDebug)) hr = WriteDebugInfo();
  if (SUCCEEDED(hr)) hr = AppendToken(kEndToken);
  if (SUCCEEDED(hr)) hr = ValidateNewTokens();
  if (SUCCEEDED(hr) && validator.Get() && !errorFlag) hr = validator.Get()->End();
  if (FAILED(hr)) return hr;
  // An error reported on the way fails the compile even where every step went on.
  if (errorFlag) return E_FAIL;
  return CopyTokens(code);
}

HRESULT ShaderTarget::CopyTokens(DataBuffer** code) const {
  if (!code) return S_OK;
  DataBuffer* buffer = nullptr;
  const HRESULT hr = CreateDataBuffer(static_cast<DWORD>(tokens.Size() * sizeof(DWORD)), &buffer);
  if (FAILED(hr)) return hr;
  std::memcpy(buffer->GetPointer(), tokens.Data(), tokens.Size() * sizeof(DWORD));
  *code = buffer;
  return S_OK;
}

}  // namespace gxl::shader

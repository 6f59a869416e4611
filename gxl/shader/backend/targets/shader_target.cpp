// The target's own state: construction, the slots whose base form is a
// default, the token stream with its validation, and the comment-block
// writers over this target's stream.
#include "gxl/shader/backend/targets/shader_target.h"

#include <algorithm>

#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

RegisterFile RegisterFileOf(std::uint32_t type) {
  if ((type & (kBankReadable | kBankWritable)) == (kBankReadable | kBankWritable) &&
      !(type & (kBankInitialised | kBankOutput)))
    return RegisterFile::Temporary;
  if (type & kBankOutput) return RegisterFile::Output;
  if ((type & kBankInitialised) && (type & kBankAddress)) return RegisterFile::LoopCounter;
  if ((type & kBankInitialised) && !(type & kBankUniform)) return RegisterFile::Input;
  if (type & kBankUniform) {
    if (type & kBankSampler) return RegisterFile::Sampler;
    if (type & kBankBoolean) return RegisterFile::BoolConstant;
    if (type & kBankInteger) return RegisterFile::IntegerConstant;
    return RegisterFile::FloatConstant;
  }
  if (type & kBankSampler) return RegisterFile::Sampler;
  if (type & kBankInteger) return RegisterFile::IntegerConstant;
  if (type & kBankAddress) return RegisterFile::Address;
  if (type & kBankPredicate) return RegisterFile::Predicate;
  return RegisterFile::Other;
}

ShaderTarget::ShaderTarget(bool fragment) : fragmentMode(fragment) {
  std::fill(&sinCosValues[0][0], &sinCosValues[0][0] + 8, kNoIndex);
}

ShaderTarget::~ShaderTarget() = default;

// --- Slot defaults ------------------------------------------------------------------

HRESULT ShaderTarget::SetupProfileLimits() {
  const HRESULT hr = ShaderProgram::SetupProfileLimits();
  profileVersion = versionToken;
  return hr;
}

std::uint32_t ShaderTarget::NextArgumentToCopy(const IrInstruction&, std::uint32_t*) { return 0; }
HRESULT ShaderTarget::MapOperation() { return E_NOTIMPL; }
HRESULT ShaderTarget::GenerateCode() { return S_FALSE; }
HRESULT ShaderTarget::CheckOutputWrites() { return S_OK; }
std::uint32_t ShaderTarget::ReadsEarlierResult(const IrInstruction&, std::uint32_t) { return 0; }
HRESULT ShaderTarget::WriteVersionToken() { return WriteVersion(versionToken); }
HRESULT ShaderTarget::DeclareInputsOutputs(std::uint32_t, DWORD*) { return S_OK; }
HRESULT ShaderTarget::DeclareSampler(std::uint32_t) { return S_OK; }
DWORD ShaderTarget::MapOpcode(DWORD opcode) { return opcode; }
HRESULT ShaderTarget::WriteInstructionLength() { return S_OK; }
HRESULT ShaderTarget::MapOutputRegister(std::uint32_t, std::uint32_t*, std::uint32_t*, std::uint32_t*) {
  return E_FAIL;
}
std::uint32_t ShaderTarget::CanReadFace(const IrInstruction&, std::uint32_t) { return 0; }
bool ShaderTarget::ReadsFace(const IrInstruction&, std::uint32_t) { return false; }

HRESULT ShaderTarget::PreparePreshader() { return MapPreshaderOutputs(); }

HRESULT ShaderTarget::CompilePreshader(DataBuffer** code) {
  if (code) *code = nullptr;
  // Preshaders come from CreatePreshaderProgram, a target of their own.
  auto* target = dynamic_cast<ShaderTarget*>(preshader.get());
  return target ? target->Compile(code) : S_FALSE;
}

HRESULT ShaderTarget::ResetSelectionState() {
  addressCache = kNoIndex;
  m_scratch = {};
  const HRESULT hr = m_selectionWalks ? m_upkeep.Refresh() : RebuildDefUse();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderTarget::ResetAfterPortCheck() {
  if (m_selectionWalks || referenceSearches) return ResetSelectionState();
  addressCache = kNoIndex;
  m_scratch = {};
  return S_OK;
}

// --- Token stream -----------------------------------------------------------------------

HRESULT ShaderTarget::AllocateTokens(std::size_t n) {
  if (n > SIZE_MAX - tokens.Size()) return E_OUTOFMEMORY;
  // The array doubles from what it holds; the first reservation makes 1024.
  return tokens.Reserve(std::max<std::size_t>(tokens.Size() + n, 1024)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ShaderTarget::AppendToken(DWORD token) {
  if (FAILED(AllocateTokens(1))) return E_OUTOFMEMORY;
  tokens.Append(token);
  return S_OK;
}

HRESULT ShaderTarget::ValidateNewTokens() {
  ShaderValidator9* v = validator.Get();
  if (!v || validatedCount >= tokens.Size() || errorFlag) return S_OK;
  const SourceToken* at =
      currentSource && currentSource->kind == NodeKind::Kind13 ? LocationOf(currentSource) : nullptr;
  const std::size_t first = validatedCount;
  validatedCount = tokens.Size();
  return v->Instruction(at && at->file ? at->file : "", at ? static_cast<int>(at->line) : 0, tokens.Data() + first,
                        static_cast<DWORD>(tokens.Size() - first));
}

HRESULT ShaderTarget::ReportValidatorMessage(const char* file, int line, DWORD kind, DWORD code, const char* text,
                                             void* context) {
  auto* target = static_cast<ShaderTarget*>(context);
  if (!target || (kind != 2 && kind != 6)) return S_OK;
  SourceToken at{};
  at.file = file && *file ? file : nullptr;
  at.line = line < 0 ? 0 : static_cast<std::uint32_t>(line);
  if (line == -1) {
    const SourceToken* current = LocationOf(target->currentSource);
    at.file = current ? current->file : nullptr;
    at.line = current && current->line != kNoIndex ? current->line : 0;
  }
  if (target->log) target->log->Report(&at, MessageSeverity::Error, kValidatorCodeBase + code, "%s", text ? text : "");
  if (!target->errorFlag) target->firstError = kValidatorCodeBase + code;
  target->errorFlag = 1;
  return S_OK;
}

bool ShaderTarget::PassedALimit() const { return errorFlag && !workExhausted && IsLimitCode(firstError); }

bool ShaderTarget::IsLimitCode(std::uint32_t code) {
  switch (code) {
    case msg::kTooManyActiveValues.code:         // X4004
    case msg::kTooComplexForPs14.code:           // X4500, the flow-control limits among them
    case msg::kTempRegisterIndex.code:           // X4505
    case msg::kOutOfConstantRegisters.code:      // X4507
    case msg::kOutOfTemporaries.code:            // X4521
    case msg::kUnmappedPixelExpression.code:     // X4532
    case msg::kVectorConditionalEmulation.code:  // X4554
    case kValidatorCodeBase + 20:                // X5020, instruction slots
      return true;
    default:
      return false;
  }
}

HRESULT ShaderTarget::WriteVersion(DWORD version) {
  if (fragmentMode) version &= ~kParameterBit;
  const HRESULT hr = AppendToken(version);
  return FAILED(hr) ? hr : ValidateNewTokens();
}

HRESULT ShaderTarget::SetInstructionLength() {
  if (instructionStart >= tokens.Size()) return E_FAIL;
  const std::size_t length = tokens.Size() - instructionStart - 1;
  DWORD& opcode = tokens[instructionStart];
  opcode = (opcode & ~0x0F000000u) | static_cast<DWORD>(std::min<std::size_t>(length, 15) << 24);
  return S_OK;
}

// --- Comment blocks -------------------------------------------------------------------

BlockTarget ShaderTarget::Blocks() {
  BlockTarget b;
  b.program = this;
  b.tokens = &tokens;
  b.insertedDwords = &insertedDwords;
  b.validatedCount = &validatedCount;
  b.profileVersion = profileVersion;
  b.fragmentMode = fragmentMode;
  b.fragmentNames[0] = &fragmentNames[0];
  b.fragmentNames[1] = &fragmentNames[1];
  b.debugRecords = debugRecords.Data();
  b.debugRecordCount = static_cast<std::uint32_t>(debugRecords.Size());
  b.sourceText = sourceText;
  b.sourceLength = sourceLength;
  return b;
}

HRESULT ShaderTarget::WriteConstantTable() { return gxl::shader::WriteConstantTable(Blocks()); }
HRESULT ShaderTarget::WritePreshader() { return gxl::shader::WritePreshader(Blocks(), this); }
HRESULT ShaderTarget::WriteDebugInfo() { return gxl::shader::WriteDebugInfo(Blocks()); }

}  // namespace gxl::shader

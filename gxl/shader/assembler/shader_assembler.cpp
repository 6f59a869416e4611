#include "gxl/shader/assembler/shader_assembler.h"

#include <cstring>
#include <utility>

#include "gxl/shader/assembler/asm_reduce.h"
#include "gxl/shader/core/profiles.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/shader/core/source_lexer.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"

namespace gxl::shader {

namespace {

constexpr DWORD kEndToken = 0x0000FFFF;
constexpr DWORD kVertexKind = 0xFFFE0000, kPixelKind = 0xFFFF0000;
constexpr DWORD kVertexFragmentKind = 0x7FFE0000, kPixelFragmentKind = 0x7FFF0000;

}  // namespace

ShaderAssembler::ShaderAssembler() = default;
ShaderAssembler::~ShaderAssembler() = default;

HRESULT ShaderAssembler::Assemble(ShaderPreprocessor* pp, DWORD flags, ConstantBinder* binder, DataBuffer** code) {
  if ((flags & ~kFlagMask) || !code || !pp) return D3DERR_INVALIDCALL;
  *code = nullptr;
  m_tokens.Clear();
  m_fragmentInfo.reset();
  m_profileIndex = -1;
  m_log = &pp->Log();
  m_pp = pp;
  m_options = flags;
  m_validator.Release();
  m_validatorPosition = SourceToken{};
  m_operandPosition = &m_token;
  m_errorFlag = m_abortFlag = false;
  m_pendingParseError = 0;
  m_validatedCount = m_commentCount = 0;
  m_sourceText = nullptr;
  m_sourceLength = 0;
  m_entryName = nullptr;
  m_instructions = nullptr;
  m_binder = binder;

  // A source without a file name goes into the debug information as text.
  const char* fileName = nullptr;
  pp->GetPosition(&fileName, nullptr);
  if (!fileName) pp->GetMainSourceRest(&m_sourceText, &m_sourceLength);

  HRESULT hr = pp->BeginTokenStream(kLexAssembly);
  if (FAILED(hr)) return hr;
  hr = Run(binder, code);
  if (FAILED(hr)) m_errorFlag = true;
  m_validator.Release();
  pp->EndTokenStream();
  return hr;
}

HRESULT ShaderAssembler::Run(ConstantBinder* binder, DataBuffer** code) {
  DWORD version = 0;
  HRESULT hr = ReadVersion(&version);
  if (FAILED(hr)) return hr;
  const DWORD kind = version & 0xFFFF0000;
  if ((m_options & kVertexDebugInfo && kind == kVertexKind) || (m_options & kPixelDebugInfo && kind == kPixelKind))
    m_options |= kDebugInfo;
  m_profileIndex = AssemblerProfileIndex(version);
  if (m_profileIndex < 0) {
    GXL_ASM_REPORT(this, m_token, msg::kUnrecognizedShaderVersion);
    return GXLERR_INVALIDDATA;
  }
  if (binder) {
    m_options |= kNoValidation;
    if (FAILED(CreateFragmentInfo())) return E_OUTOFMEMORY;
    const DWORD majorMinor = version & 0xFFFF;
    if (m_profileIndex <= 5) {
      version = kVertexFragmentKind | majorMinor;
    } else if (m_profileIndex >= 10) {
      version = kPixelFragmentKind | majorMinor;
    } else {
      // Reported without failing at once: the run ends through the error count.
      GXL_SHADER_REPORT(*m_log, &m_token, msg::kFragmentVersionUnsupported);
    }
  }
  if (!(m_options & kNoValidation)) {
    hr = m_validator.Begin(&ShaderAssembler::ReportValidatorMessage, this, 0);
    if (FAILED(hr)) return hr;
  }
  if (FAILED(AppendToken(version))) return E_OUTOFMEMORY;
  hr = ValidateNewTokens(m_token);
  if (FAILED(hr)) return m_log->ErrorCount() ? GXLERR_INVALIDDATA : hr;
  if (m_errorFlag) return GXLERR_INVALIDDATA;
  if (AsmGrammar::Parse(this) != 0) m_errorFlag = true;
  if (m_errorFlag) return GXLERR_INVALIDDATA;

  if (m_sourceText) {
    // The text ends where the assembler stopped reading it.
    const char* rest = nullptr;
    m_pp->GetMainSourceRest(&rest, nullptr);
    if (rest >= m_sourceText && rest < m_sourceText + m_sourceLength)
      m_sourceLength = static_cast<std::uint32_t>(rest - m_sourceText);
  }
  hr = WriteCommentBlocks();
  if (FAILED(hr)) return hr;
  if (FAILED(AppendToken(kEndToken))) return E_OUTOFMEMORY;
  hr = ValidateNewTokens(m_token);
  if (SUCCEEDED(hr) && m_validator.Get()) hr = m_validator.Get()->End();
  if (FAILED(hr)) return m_log->ErrorCount() ? GXLERR_INVALIDDATA : hr;
  if (m_log->ErrorCount()) return GXLERR_INVALIDDATA;
  return MakeCodeBuffer(code);
}

// The version statement: a version token, or an identifier that names an
// assembler version.
HRESULT ShaderAssembler::ReadVersion(DWORD* version) {
  if (!ReadToken()) return GXLERR_INVALIDDATA;
  ShaderProfileRow row{};
  if (m_token.kind == kTokenVersion) {
    *version = m_token.value.number;
  } else if (m_token.kind == kTokenIdentifier &&
             SUCCEEDED(ProfileNameToToken(m_token.value.text, kProfileAssembler, &row))) {
    *version = row.version;
  } else {
    GXL_ASM_REPORT(this, m_token, msg::kShaderVersionExpected);
    return GXLERR_INVALIDDATA;
  }
  if (*version == 0xFFFE0100) {
    GXL_SHADER_REPORT(*m_log, &m_token, msg::kAsmVs10Replaced);
    *version = 0xFFFE0101;
  } else if (*version == 0xFFFF0100) {
    GXL_SHADER_REPORT(*m_log, &m_token, msg::kAsmPs10Replaced);
    *version = 0xFFFF0101;
  }
  return S_OK;
}

HRESULT ShaderAssembler::MakeCodeBuffer(DataBuffer** out) const {
  DataBuffer* buffer = nullptr;
  const HRESULT hr = CreateDataBuffer(static_cast<DWORD>(m_tokens.Size() * sizeof(DWORD)), &buffer);
  if (FAILED(hr)) return hr;
  std::memcpy(buffer->GetPointer(), m_tokens.Data(), m_tokens.Size() * sizeof(DWORD));
  *out = buffer;
  return S_OK;
}

bool ShaderAssembler::ReadToken() {
  for (;;) {
    if (FAILED(m_pp->NextToken(&m_token))) {
      m_errorFlag = m_abortFlag = true;
      m_token.kind = kTokenEndOfInput;
      return false;
    }
    if (m_token.kind != kTokenEndOfLine) return true;
  }
}

HRESULT ShaderAssembler::ReportValidatorMessage(const char* /*file*/, int /*line*/, DWORD type, DWORD number,
                                                const char* text, void* assembler) {
  auto* as = static_cast<ShaderAssembler*>(assembler);
  MessageSeverity severity;
  if (type == 1 || type == 5) {
    severity = MessageSeverity::Warning;
  } else if (type == 2 || type == 6) {
    severity = MessageSeverity::Error;
    as->m_errorFlag = true;
  } else {
    return S_OK;
  }
  as->m_log->Report(&as->m_validatorPosition, severity, kValidatorCodeBase + number, msg::kPlainText.format,
                    text ? text : "");
  return S_OK;
}

}  // namespace gxl::shader

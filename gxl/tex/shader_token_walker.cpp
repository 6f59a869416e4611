#include "gxl/tex/shader_token_walker.h"

#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace gxl::tex {

namespace {

constexpr DWORD kDclOpcode = 31;
constexpr DWORD kDefbOpcode = 47;
constexpr DWORD kDefiOpcode = 48;
constexpr DWORD kDefOpcode = 81;

// Expression code, texture shaders, vertex and pixel fragments, vertex and pixel code.
bool IsKnownVersion(DWORD version) {
  switch (version >> 16) {
    case 0x4658:
    case 0x5458:
    case 0x7FFE:
    case 0x7FFF:
    case 0xFFFE:
    case 0xFFFF:
      return true;
    default:
      return false;
  }
}

}  // namespace

ShaderTokenWalker::ShaderTokenWalker(const DWORD* code, std::size_t byteSize, Mode mode)
    : m_code(code), m_limit(byteSize / 4), m_mode(mode) {
  m_lengthInToken = m_limit > 0 && (code[0] & 0xFFFF) >= 0x200;
}

std::size_t ShaderTokenWalker::InstructionSpan(DWORD token, DWORD opcode) const {
  const std::size_t declaredSpan = 1 + ((token >> 24) & 0xF);
  // A def's four values need not look like parameter tokens.
  const std::size_t definitionSpan = m_lengthInToken ? declaredSpan : 1 + 5;
  if (m_mode == Mode::Instructions) {
    if (m_lengthInToken) return declaredSpan;
    return opcode == kDefOpcode ? definitionSpan : 1;
  }
  if (opcode == kDefOpcode || opcode == kDefiOpcode || opcode == kDefbOpcode) return definitionSpan;
  if (opcode == kDclOpcode) return 2;  // the usage token; the register token is a parameter
  return 1;
}

ShaderTokenWalker::Item ShaderTokenWalker::Next() {
  if (m_next >= m_limit) return Item::Overrun;
  m_token = m_code + m_next;
  const DWORD token = *m_token;
  if (token & 0x80000000u) {
    ++m_next;
    m_parameterIndex = m_parametersSeen++;
    return Item::Parameter;
  }
  const DWORD opcode = token & 0xFFFF;
  if (opcode == kShaderEndOpcode) return Item::End;
  const std::size_t room = m_limit - m_next;
  if (opcode == kShaderCommentOpcode) {
    const std::size_t span = 1 + CommentLength();
    if (span > room) return Item::Overrun;
    m_next += span;
    return Item::Comment;
  }
  const std::size_t span = InstructionSpan(token, opcode);
  if (span > room) return Item::Overrun;
  m_next += span;
  m_opcode = opcode;
  m_parametersSeen = 0;
  return Item::Instruction;
}

HRESULT FindShaderCommentBounded(const DWORD* code, std::size_t byteSize, DWORD fourCC, const void** data,
                                 UINT* size) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (!code) return D3DERR_INVALIDCALL;
  if (byteSize < 4 || !IsKnownVersion(code[0])) return GXLERR_INVALIDDATA;
  ShaderTokenWalker walker(code, byteSize);
  for (;;) {
    switch (walker.Next()) {
      case ShaderTokenWalker::Item::End:
        return S_FALSE;
      case ShaderTokenWalker::Item::Overrun:
        return GXLERR_INVALIDDATA;
      case ShaderTokenWalker::Item::Comment: {
        const DWORD length = walker.CommentLength();
        const DWORD* block = walker.Token();
        if (length > 1 && block[1] == fourCC) {
          if (data) *data = block + 2;
          if (size) *size = length * 4 - 4;
          return S_OK;
        }
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace gxl::tex

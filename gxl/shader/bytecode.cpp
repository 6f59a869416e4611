#include "gxl/shader/bytecode.h"

#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace {

constexpr DWORD kCommentOpcode = 0xFFFE;
constexpr DWORD kEndOpcode = 0xFFFF;
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

HRESULT FindShaderComment(const DWORD* code, DWORD fourCC, const void** data, UINT* size) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (!code) return D3DERR_INVALIDCALL;
  if (!IsKnownVersion(code[0])) return GXLERR_INVALIDDATA;
  const bool lengthInToken = (code[0] & 0xFFFF) >= 0x200;
  const DWORD* p = code + 1;
  for (;;) {
    const DWORD token = *p;
    if (token & 0x80000000u) {  // a parameter token
      ++p;
      continue;
    }
    const DWORD opcode = token & 0xFFFF;
    if (opcode == kEndOpcode) return S_FALSE;
    if (opcode == kCommentOpcode) {
      const DWORD length = (token >> 16) & 0x7FFF;
      if (length > 1 && p[1] == fourCC) {
        if (data) *data = p + 2;
        if (size) *size = length * 4 - 4;
        return S_OK;
      }
      p += 1 + length;
      continue;
    }
    if (lengthInToken)
      p += 1 + ((token >> 24) & 0xF);
    else if (opcode == kDefOpcode)
      p += 1 + 5;  // its destination and four values, which need not look like parameters
    else
      ++p;
  }
}

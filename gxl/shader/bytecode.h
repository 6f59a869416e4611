// Utilities over compiled shader code: a stream of 32-bit tokens that begins
// with a version token and ends with the end token 0x0000FFFF.
#pragma once

#include "platform/win_types.h"

// Finds the comment block tagged fourCC. Found: S_OK, *data = the bytes after
// the tag, *size = their count. Not present: S_FALSE. D3DERR_INVALIDCALL for
// null code; GXLERR_INVALIDDATA when the version token is of no known kind.
// Both outs (each optional) are cleared first.
HRESULT FindShaderComment(const DWORD* code, DWORD fourCC, const void** data, UINT* size);

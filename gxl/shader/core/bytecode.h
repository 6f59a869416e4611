// Utilities over compiled shader code: a stream of 32-bit tokens that begins
// with a version token and ends with the end token 0x0000FFFF. None takes a
// length: the code must hold its end token.
#pragma once

#include "platform/win_types.h"

class DataBuffer;

// Finds the comment block tagged fourCC. Found: S_OK, *data = the bytes after
// the tag, *size = their count. Not present: S_FALSE. D3DERR_INVALIDCALL for
// null code; GXLERR_INVALIDDATA when the version token is of no known kind.
// Both outs (each optional) are cleared first.
HRESULT FindShaderComment(const DWORD* code, DWORD fourCC, const void** data, UINT* size);

// Bytes from the version token through the end token; 0 for null code.
UINT GetShaderSize(const DWORD* code);
// The version token; 0 for null code.
DWORD GetShaderVersion(const DWORD* code);

// One declared input or output: a declaration usage (D3DDECLUSAGE) and its index.
struct ShaderSemantic {
  DWORD usage;
  DWORD usageIndex;
};

// The inputs a vertex or pixel shader reads. semantics (optional) must have room
// for every record; count (optional) receives their number. S_OK (expression
// code has none), D3DERR_INVALIDCALL for null code, GXLERR_INVALIDDATA for other
// kinds of code, E_FAIL for pixel code whose inputs cannot be told.
HRESULT GetShaderInputSemantics(const DWORD* code, ShaderSemantic* semantics, UINT* count);
// The outputs a vertex or pixel shader writes; as the input query, without E_FAIL.
HRESULT GetShaderOutputSemantics(const DWORD* code, ShaderSemantic* semantics, UINT* count);

// The names of the samplers a pixel shader's constant table lists, as pointers
// into the code; samplers needs room for 16. Vertex and expression code list
// none. GXLERR_INVALIDDATA for other code and for a malformed table.
HRESULT GetShaderSamplers(const DWORD* code, const char** samplers, UINT* count);

// A new buffer holding a copy of the debug-information block, or an empty
// 40-byte block (first word 40) when the code has none.
HRESULT GetShaderDebugInfo(const DWORD* code, DataBuffer** out);

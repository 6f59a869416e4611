#include "gxl/shader/core/bytecode.h"

#include <cstring>

#include "gxl/shader/core/token_walker.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "platform/d3d9_api.h"

using gxl::shader::ShaderTokenWalker;

HRESULT FindShaderComment(const DWORD* code, DWORD fourCC, const void** data, UINT* size) {
  return gxl::shader::FindShaderCommentBounded(code, ShaderTokenWalker::kUnbounded, fourCC, data, size);
}

UINT GetShaderSize(const DWORD* code) {
  if (!code) return 0;
  ShaderTokenWalker walker(code);
  while (walker.Next() != ShaderTokenWalker::Item::End) {
  }
  return static_cast<UINT>(walker.BytesThroughToken());
}

DWORD GetShaderVersion(const DWORD* code) { return code ? code[0] : 0; }

HRESULT GetShaderDebugInfo(const DWORD* code, DataBuffer** out) {
  if (!code || !out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  const void* block = nullptr;
  UINT size = 0;
  const HRESULT found = FindShaderComment(code, MAKEFOURCC('D', 'B', 'U', 'G'), &block, &size);
  if (FAILED(found)) return found;
  // Without debug information: an empty block that states its own size.
  DWORD empty[10] = {sizeof empty};
  if (found == S_FALSE) {
    block = empty;
    size = sizeof empty;
  }
  gxl::ComRef<DataBuffer> buffer;
  const HRESULT hr = CreateDataBuffer(size, buffer.Put());
  if (FAILED(hr)) return hr;
  if (size) std::memcpy(buffer->GetPointer(), block, size);
  *out = buffer.Detach();
  return S_OK;
}

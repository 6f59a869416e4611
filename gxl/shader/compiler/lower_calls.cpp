// Calls out of expressions: functions are inlined and intrinsics expanded by
// the lowering of functions and of intrinsics; until those exist, both calls
// report that they are not implemented.
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

HRESULT ShaderCompiler::LowerFunction(const char*, ParseNodeKind10*, const ParseNode*, std::uint32_t*, std::uint32_t,
                                      std::uint32_t) {
  return E_NOTIMPL;
}

HRESULT ShaderCompiler::LowerIntrinsic(const ParseNode*, std::uint32_t*) { return E_NOTIMPL; }

}  // namespace gxl::shader

// The optimiser phases of a program, as far as they are built: until the
// first and second phases land, a program goes to its target as lowered.
#include "gxl/shader/backend/ir/shader_program.h"

namespace gxl::shader {

HRESULT ShaderProgram::Compile(std::uint32_t* result) {
  optimisedFlag = registerTableFlag = 0;
  if (result) *result = 0;
  return S_FALSE;
}

}  // namespace gxl::shader

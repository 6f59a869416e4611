// The optimiser phases of a program as far as they are built: the first
// phase runs; until the second (scheduling and register assignment) lands, a
// program reaches its target with its registers unassigned.
#include "gxl/shader/backend/ir/shader_program.h"

namespace gxl::shader {

HRESULT ShaderProgram::Compile(std::uint32_t* result) {
  optimisedFlag = registerTableFlag = 0;
  if (result) *result = 0;
  const HRESULT hr = Optimize();
  return FAILED(hr) ? hr : S_FALSE;
}

}  // namespace gxl::shader

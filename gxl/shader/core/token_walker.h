// The walk over compiled shader code lives with the textures library, whose
// expression reader needs it too; the shader tools use it under their own names.
#pragma once

#include "gxl/tex/shader_token_walker.h"

namespace gxl::shader {

using gxl::tex::FindShaderCommentBounded;
using gxl::tex::kShaderCommentOpcode;
using gxl::tex::kShaderEndOpcode;
using gxl::tex::kShaderEndToken;
using gxl::tex::ShaderTokenWalker;

}  // namespace gxl::shader

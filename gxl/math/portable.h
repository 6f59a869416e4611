// The portable bodies of the dispatched operations (one per position), which
// fill MathDefaultTable. Callers use the public entries; the bodies are named
// here for the table and for tests that compare other sets against them.
#pragma once

#include <cstdint>

#include "gxl/math/records.h"
#include "platform/win_types.h"

namespace gxl::math::portable {

#define MATH_OP(pos, name, ret, params, args) ret name params;
#include "gxl/math/dispatch_ops.def"

}  // namespace gxl::math::portable

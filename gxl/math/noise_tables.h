// The gradient table of Noise3: unit vectors, entries 512 and 513 repeating 0 and 1.
#pragma once

namespace gxl::math::detail {
extern const float kNoiseGradients[514][3];
}  // namespace gxl::math::detail

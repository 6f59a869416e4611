// 3-D gradient noise (a plain operation).
#pragma once

#include <cstdint>

#include "gxl/math/records.h"

// 256 hash values in 0..255, then the same 256 again, so an index up to 511
// needs no wrap.
extern const std::uint32_t NoisePermutation[512];

// Smooth noise in about [-1.5, 1.5]; 0 at every integer lattice point. A
// coordinate that is not finite gives NaN.
float Noise3(const Vec3* p);

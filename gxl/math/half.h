// Conversion between f32 and Float16 arrays (dispatched). Float16 has no
// infinity or NaN: magnitudes from 131040 up, infinities and NaN become the
// largest value 131008 with their sign; rounding is to nearest, ties to even.
#pragma once

#include <cstdint>

#include "gxl/math/records.h"

Float16* FloatToHalfArray(Float16* out, const float* in, std::uint32_t count);
float* HalfToFloatArray(float* out, const Float16* in, std::uint32_t count);

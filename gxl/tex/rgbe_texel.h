// Radiance's shared-exponent texels: red, green and blue mantissas and one
// exponent byte, as HDR files store them and the HDR reader keeps them.
#pragma once

#include <bit>
#include <cstdint>

namespace gxl::tex::detail {

// 2^(e - 136): the exponent's bias of 128 and 8 more for the mantissa's
// bits. Below e = 10 the power is subnormal.
constexpr float RgbeUnit(std::uint32_t e) { return std::bit_cast<float>(e >= 10 ? (e - 9) << 23 : 1u << (e + 13)); }

// Each channel (m + 0.5) x 2^(e - 136). m + 0.5 has at most 9 significant
// bits and the unit is a power of two no smaller than 2^-136, so the float
// product is exact: what ldexp gives in double.
inline void RgbeToFloat(const std::uint8_t* rgbe, float* rgb) {
  const float unit = RgbeUnit(rgbe[3]);
  for (int c = 0; c < 3; ++c) rgb[c] = (static_cast<float>(rgbe[c]) + 0.5f) * unit;
}

// The texel of the floats red, green and blue at `rgb` (any alignment):
// negative values and NaN count as 0, larger ones saturate; the largest
// channel keeps 8 bits of mantissa.
void FloatToRgbe(const std::uint8_t* rgb, std::uint8_t* out);

}  // namespace gxl::tex::detail

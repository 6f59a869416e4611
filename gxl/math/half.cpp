// Portable bodies of the Float16 array conversions: integer arithmetic only.
#include <cstring>

#include "gxl/math/half.h"
#include "gxl/math/portable.h"

namespace gxl::math::portable {

namespace {

std::uint16_t FloatBitsToHalf(std::uint32_t bits) {
  const std::uint32_t sign = (bits >> 16) & 0x8000u;
  const std::uint32_t a = bits & 0x7FFFFFFFu;
  if (a > 0x47FFEFFFu) return static_cast<std::uint16_t>(sign | 0x7FFFu);  // 131040 and up, inf, NaN
  if (a < 0x38800000u) {
    // Below the smallest normal half: shift the mantissa with its hidden bit
    // into place, then round to nearest even. The bits shifted out are kept as
    // one sticky bit, so that a value just above a tie still rounds up.
    const std::uint32_t full = (a & 0x7FFFFFu) | 0x800000u;
    const std::uint32_t k = 113u - (a >> 23);
    std::uint32_t m = 1;  // k > 31: only the sticky bit remains
    if (k <= 31) m = (full >> k) | ((full & ((1u << k) - 1u)) != 0 ? 1u : 0u);
    const std::uint32_t r = m + 0xFFFu + ((m >> 13) & 1u);
    return static_cast<std::uint16_t>(sign | (r >> 13));
  }
  // Rebias the exponent by 112 and round to nearest even; a carry may raise the
  // exponent, at most to 0x7FFF.
  const std::uint32_t r = a - 0x37FFF001u + ((a >> 13) & 1u);
  return static_cast<std::uint16_t>(sign | (r >> 13));
}

std::uint32_t HalfToFloatBits(std::uint16_t h) {
  const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
  std::uint32_t m = h & 0x3FFu;
  if (h & 0x7C00u) return sign | (m << 13) | ((((h >> 10) & 31u) + 112u) << 23);
  if (m == 0) return sign;
  int e = -14;
  while (!(m & 0x400u)) {
    m <<= 1;
    --e;
  }
  return sign | ((m & 0x3FFu) << 13) | (static_cast<std::uint32_t>(e + 127) << 23);
}

}  // namespace

Float16* FloatToHalfArray(Float16* out, const float* in, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, &in[i], sizeof bits);
    const std::uint16_t h = FloatBitsToHalf(bits);
    std::memcpy(&out[i], &h, sizeof h);
  }
  return out;
}

// Both directions work in place (elements are moved as bytes): floats are read
// ahead of the halves written over them going forwards, halves ahead of the
// floats going backwards.
float* HalfToFloatArray(float* out, const Float16* in, std::uint32_t count) {
  for (std::uint32_t i = count; i-- > 0;) {
    std::uint16_t h;
    std::memcpy(&h, &in[i], sizeof h);
    const std::uint32_t bits = HalfToFloatBits(h);
    std::memcpy(&out[i], &bits, sizeof bits);
  }
  return out;
}

}  // namespace gxl::math::portable

// Small helpers shared by the portable bodies.
#pragma once

#include <cstdint>
#include <cstring>

#include "gxl/math/records.h"
#include "gxl/math/scalar.h"

namespace gxl::math::detail {

inline float F(double v) { return static_cast<float>(v); }

// Applies op(out element, in element) to count strided elements. Each element is
// read into a local before its result is stored, so in-place use with equal
// strides is safe; elements need no alignment.
template <typename Out, typename In, typename Op>
Out* ForEachStrided(Out* out, std::uint32_t outStride, const In* in, std::uint32_t inStride, std::uint32_t count,
                    Op op) {
  auto* o = reinterpret_cast<unsigned char*>(out);
  const auto* i = reinterpret_cast<const unsigned char*>(in);
  for (std::uint32_t n = 0; n < count; ++n) {
    In v;
    std::memcpy(&v, i, sizeof v);
    Out r;
    op(&r, &v);
    std::memcpy(o, &r, sizeof r);
    o += outStride;
    i += inStride;
  }
  return out;
}

// The normalisation rule of n consecutive floats: a squared length nearly 1
// copies the input, one below the smallest normal float gives zeros. The
// length is taken from the unrounded square so that huge vectors still scale
// to unit length.
inline void NormalizeFloats(float* out, const float* v, int n) {
  double sum = 0;
  for (int k = 0; k < n; ++k) sum += static_cast<double>(v[k]) * v[k];
  const float s = F(sum);
  if (FloatNearlyEqual(s, 1.0f)) {
    if (out != v) std::memmove(out, v, sizeof(float) * n);
    return;
  }
  if (s < kSmallestNormalFloat) {
    for (int k = 0; k < n; ++k) out[k] = 0.0f;
    return;
  }
  const double r = 1.0 / std::sqrt(sum);
  float tmp[4];
  for (int k = 0; k < n; ++k) tmp[k] = F(v[k] * r);
  std::memcpy(out, tmp, sizeof(float) * n);
}

}  // namespace gxl::math::detail

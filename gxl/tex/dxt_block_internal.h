// Pieces the block decoders and encoders share (internal).
#pragma once

#include <cstdint>
#include <cstring>

#include "gxl/math/records.h"

namespace gxl::tex::detail {

// Float to integer by truncation toward zero; NaN gives the lower bound, and
// magnitudes beyond 2^30 are cut there first.
inline std::int32_t Trunc(float x) {
  constexpr float kLimit = 1073741824.0f;
  return static_cast<std::int32_t>(x > -kLimit ? (x < kLimit ? x : kLimit) : -kLimit);
}

inline std::uint16_t Load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline void Store16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// Floyd-Steinberg inside a 4x4 block, in block order: texel i's error goes
// 7/16 right, and on the next row 3/16 left, 5/16 below and 1/16 right, as far
// as those texels exist.
template <class T>
inline void DiffuseInBlock(T* error, int i, const T& e) {
  const int column = i & 3;
  if (column < 3) error[i + 1] = error[i + 1] + e * (7.0f / 16.0f);
  if (i < 12) {
    if (column > 0) error[i + 3] = error[i + 3] + e * (3.0f / 16.0f);
    error[i + 4] = error[i + 4] + e * (5.0f / 16.0f);
    if (column < 3) error[i + 5] = error[i + 5] + e * (1.0f / 16.0f);
  }
}

// The space in which the colour encoder's polish measures error: red and
// blue scaled by the square roots of the channel weights, so that squared
// distances are luma-weighted squared errors.
constexpr float kErrorWeightR = 0.5450107f, kErrorWeightB = 0.3174630f;

// A block's texels channel by channel, four texels a register.
struct BlockPlanes {
  alignas(16) float r[16];
  alignas(16) float g[16];
  alignas(16) float b[16];
  alignas(16) float a[16];
};
void ToPlanes(const ColorF* texels, BlockPlanes& planes);

// The texels in the polish's error space: red and blue times their error
// weights; w is 1 for a counted texel and 0 for one left out.
struct PolishTexels {
  alignas(16) float r[16];
  alignas(16) float g[16];
  alignas(16) float b[16];
  alignas(16) float w[16];
};

// Improves a 5-6-5 endpoint pair (either order) for `count` (3 or 4) palette
// steps against the texels' own colours, in that space; texels of weight 0
// are left out. The result is never worse than the pair given.
void PolishColorEndpoints(std::uint16_t& a, std::uint16_t& z, const PolishTexels& texels, int count);

}  // namespace gxl::tex::detail

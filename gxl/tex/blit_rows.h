// Row buffers and texel arithmetic shared by the blitter's strategies (internal).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "gxl/math/records.h"

namespace gxl::tex::detail {

using RowBuffer = std::unique_ptr<ColorF[]>;

// A buffer of `texels` float texels (at least one), or null when memory runs
// out or the size is beyond what a row can hold.
inline RowBuffer NewRow(std::uint64_t texels) {
  if (texels > (std::uint64_t{1} << 32)) return nullptr;
  return RowBuffer(new (std::nothrow) ColorF[texels ? texels : 1]);
}

inline void ZeroTexels(ColorF* row, std::uint64_t count) { std::memset(row, 0, count * sizeof(ColorF)); }

// acc += c x w, channel by channel.
inline void AddScaled(ColorF& acc, const ColorF& c, float w) {
  acc.r += c.r * w;
  acc.g += c.g * w;
  acc.b += c.b * w;
  acc.a += c.a * w;
}

}  // namespace gxl::tex::detail

// Same-size conversions between the common packed formats without float rows
// (internal to the blitter).
#pragma once

#include <cstdint>

#include "gxl/tex/pixel_codec.h"

namespace gxl::tex::detail {

// Converts every row of the source's working box into the destination's
// (equal sizes) when both are unsigned packed formats of at most 32 bits with
// fields of at most 8 bits, the source has no colour key, neither side
// converts sRGB and the destination neither diffuses errors nor adapts
// ranges. Each destination field is looked up from the source field it
// depends on, in tables made with the codecs' own float arithmetic, so the
// texels are those of the float path bit for bit. False, with nothing
// written, when the pair is not one of these or the tables cannot be had.
bool ConvertSameSizeExact(PixelCodec& destination, PixelCodec& source);

// Texels of 2 or 4 bytes whose fields carry over unchanged: `bytes` bytes of
// src to dst, each texel (w & keep) | fill.
void MaskTexels(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t bytes, std::uint32_t texelBytes,
                std::uint32_t keep, std::uint32_t fill);

// Whether writing a row to `destination` clamps every channel it stores into
// [0, 1] on its own, so that clamping the row first changes no texel: an
// unsigned packed format other than the luminance ones, written without sRGB,
// range adaptation or error diffusion.
bool WritesClampToUnorm(const PixelCodec& destination);

}  // namespace gxl::tex::detail

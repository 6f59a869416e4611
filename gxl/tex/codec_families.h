// The codec classes of each family, made by format (internal to the factory).
// Each returns null for a format outside its family or when memory runs out.
#pragma once

#include "gxl/tex/pixel_codec.h"

namespace gxl::tex::detail {

// Unsigned, luminance and signed formats stored as packed bit fields.
PixelCodec* NewPackedCodec(const ImageRegion& region);
// Half and single float formats.
PixelCodec* NewFloatCodec(const ImageRegion& region);
// P8 and A8P8.
PixelCodec* NewPaletteCodec(const ImageRegion& region);
// "YUY2", "UYVY", "GRGB" and "RGBG": texels in pairs.
PixelCodec* NewPackedYuvCodec(const ImageRegion& region);
// "DXT1" to "DXT5": texels in 4x4 blocks.
PixelCodec* NewDxtCodec(const ImageRegion& region);

}  // namespace gxl::tex::detail

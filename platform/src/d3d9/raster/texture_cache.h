// The 32-bit view of a texture level the samplers read. A8R8G8B8 and X8R8G8B8
// levels are read in place; every other format is decoded into the level's
// sampling copy, rebuilt at the first draw after the level became dirty.
#pragma once

#include "d3d9/raster/raster.h"
#include "platform/d3d9_types.h"

namespace platform::d3d9 {
class Surface;
}

namespace platform::d3d9::raster {

// Fills `out` for `level`. Formats the pipeline cannot sample read as one
// magenta texel (0xFFFF00FF) and count the diagnostic "d3d9.unsampled-format".
void ResolveLevel(Surface& level, TexLevel* out);

// A level of one magenta texel, for what cannot be sampled.
TexLevel MagentaLevel();

// Decodes `width` texels of one row of `format` to ARGB; false for formats
// without a decoder here (DXT rows are decoded by DecodeDxtBlock).
bool DecodeRow(D3DFORMAT format, const std::uint8_t* row, int width, std::uint32_t* out);
// Decodes one 4x4 block of a DXT format into 16 ARGB texels (row-major).
void DecodeDxtBlock(D3DFORMAT format, const std::uint8_t* block, std::uint32_t out[16]);

}  // namespace platform::d3d9::raster

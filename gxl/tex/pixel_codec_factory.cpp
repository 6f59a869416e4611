// CreatePixelCodec: the codec class by format, then the palette and the
// quantised colour key.
#include "gxl/tex/codec_families.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"

std::unique_ptr<PixelCodec> CreatePixelCodec(const ImageRegion& region) {
  using namespace gxl::tex::detail;
  const ImageBox& b = region.box;
  if (b.left > b.right || b.top > b.bottom || b.front > b.back) return nullptr;
  // A row of the box must be describable in 32-bit bytes.
  const std::uint64_t rowBytes =
      std::uint64_t{b.right - b.left} * FindPixelFormatInfo(static_cast<D3DFORMAT>(region.format))->bitsPerTexel / 8;
  if (rowBytes > 0xFFFFFFFFu) return nullptr;

  PixelCodec* made = NewPackedCodec(region);
  if (!made) made = NewFloatCodec(region);
  if (!made) made = NewPaletteCodec(region);
  if (!made) made = NewPackedYuvCodec(region);
  if (!made) made = NewDxtCodec(region);
  std::unique_ptr<PixelCodec> codec(made);
  if (!codec) return nullptr;

  if (codec->m_palettized && FAILED(codec->BuildPaletteColors())) return nullptr;
  if (codec->m_colourKey) codec->QuantizeColorKey();
  return codec;
}

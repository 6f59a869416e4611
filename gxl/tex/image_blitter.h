// The one routine every transfer of pixels goes through: two regions are
// wrapped in pixel codecs and handed to the first transfer strategy that
// accepts them, from a raw copy to the triangle filter.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/tex/filter_flags.h"
#include "gxl/tex/image_region.h"
#include "gxl/tex/pixel_codec.h"
#include "platform/win_types.h"

class ImageBlitter {
 public:
  ImageBlitter() = default;
  ImageBlitter(const ImageBlitter&) = delete;
  ImageBlitter& operator=(const ImageBlitter&) = delete;

  // Transfers the source's working box into the destination's. The filter's
  // sRGB, dither and diffusion bits are written into the regions first
  // (destination orderedDither, errorDiffusion and srgb; source srgb).
  // D3DERR_INVALIDCALL for an invalid filter word; E_FAIL for a format without
  // codec, an empty source or when no strategy succeeds; E_OUTOFMEMORY when
  // the codec pair cannot be prepared. An empty destination succeeds at once.
  HRESULT Run(ImageRegion& destination, ImageRegion& source, std::uint32_t filter);

 private:
  // Each returns a negative result when it does not apply (or fails), and Run
  // moves on to the next.
  HRESULT BlitCopyIdentical();
  HRESULT BlitConvertSameSize();
  HRESULT BlitFilterNone();
  HRESULT BlitFilterPoint();
  HRESULT BlitBoxHalve2D();
  HRESULT BlitBoxHalve3D();
  HRESULT BlitLinear2D();
  HRESULT BlitLinear3D();
  HRESULT BlitTriangleFlat();
  HRESULT BlitTriangle();

  std::uint32_t FilterKind() const { return m_filter & FilterFlags::FilterMask; }
  bool Wraps(std::uint32_t mirrorBit) const { return !(m_filter & mirrorBit); }

  std::unique_ptr<PixelCodec> m_source;
  std::unique_ptr<PixelCodec> m_destination;
  std::uint32_t m_filter = 0;
};

// The block-row copy of DXT1 to DXT5 regions of equal size. Every edge of both
// working boxes must be a multiple of 4 (E_FAIL otherwise, and for any other
// format). Both regions' pixels are their memory, not the working box's first
// texel.
HRESULT CopyDxtBlocks(const ImageRegion& destination, const ImageRegion& source);

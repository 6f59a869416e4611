// ImageBlitter::Run and the strategies that need no resampling: the raw copy,
// the same-size conversion and the filter-none copy of the overlapping part.
#include "gxl/tex/image_blitter.h"

#include <algorithm>
#include <cstring>

#include "gxl/tex/blit_convert.h"
#include "gxl/tex/blit_rows.h"
#include "gxl/tex/pixel_format.h"
#include "platform/d3d9_api.h"

using gxl::tex::detail::ConvertSameSizeExact;
using gxl::tex::detail::MaskTexels;
using gxl::tex::detail::NewRow;
using gxl::tex::detail::RowBuffer;
using gxl::tex::detail::ZeroTexels;

namespace {

bool IsEmpty(const PixelCodec& c) { return !c.Width() || !c.Height() || !c.Depth(); }

// What a codec addresses, as a region (for the block copy).
ImageRegion RegionOf(const PixelCodec& c) {
  ImageRegion r{};
  r.pixels = c.Pixels();
  r.format = c.Format();
  r.rowPitch = c.RowPitch();
  r.slicePitch = c.SlicePitch();
  r.box = c.Box();
  r.extent = c.Box();
  return r;
}

// Texel pairs copied as they are stored, when both boxes hold whole pairs;
// anything else converts, so that the partners outside a box are kept.
HRESULT CopyPackedPairs(const PixelCodec& d, const PixelCodec& s) {
  const ImageBox& db = d.Box();
  const ImageBox& sb = s.Box();
  if (((db.left | db.right | sb.left | sb.right) & 1) != 0) return E_FAIL;
  const std::size_t rowBytes = std::size_t{s.Width()} * 2;
  for (std::uint32_t z = 0; z < s.Depth(); ++z) {
    for (std::uint32_t y = 0; y < s.Height(); ++y) {
      const std::uint8_t* from = s.Pixels() + std::size_t{sb.front + z} * s.SlicePitch() +
                                 std::size_t{sb.top + y} * s.RowPitch() + std::size_t{sb.left} * 2;
      std::uint8_t* to = d.Pixels() + std::size_t{db.front + z} * d.SlicePitch() +
                         std::size_t{db.top + y} * d.RowPitch() + std::size_t{db.left} * 2;
      std::memmove(to, from, rowBytes);
    }
  }
  return S_OK;
}

// How one texel word of whole-byte channels becomes another: the source
// bytes kept in place, or moved, and 255 for a channel the source does not
// store (it reads as 1).
struct ByteShuffle {
  std::uint32_t fill = 0, keep = 0;
  bool inPlace = true;
  int moves = 0, moveFrom[4] = {}, moveTo[4] = {};

  std::uint32_t operator()(std::uint32_t w) const {
    std::uint32_t v = fill;
    if (inPlace) return v | (w & keep);
    for (int m = 0; m < moves; ++m) v |= ((w >> moveFrom[m]) & 0xFF) << moveTo[m];
    return v;
  }
};

template <std::uint32_t kFrom, std::uint32_t kTo>
void ShuffleRow(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width, const ByteShuffle& shuffle) {
  if (kFrom == 4 && kTo == 4 && shuffle.inPlace) {
    // Words of the same layout: a masked copy.
    MaskTexels(in, out, 4 * width, 4, shuffle.keep, shuffle.fill);
    return;
  }
  for (std::uint32_t x = 0; x < width; ++x, in += kFrom, out += kTo) {
    // Three-byte texels are put together in registers: a partial copy
    // through memory would stall every load behind it.
    std::uint32_t w;
    if constexpr (kFrom == 3) {
      w = in[0] | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16;
    } else {
      std::memcpy(&w, in, 4);
    }
    const std::uint32_t v = shuffle(w);
    if constexpr (kTo == 3) {
      out[0] = static_cast<std::uint8_t>(v);
      out[1] = static_cast<std::uint8_t>(v >> 8);
      out[2] = static_cast<std::uint8_t>(v >> 16);
    } else {
      std::memcpy(out, &v, 4);
    }
  }
}

// Same-size conversion between formats of whole-byte channels, byte for
// byte: what the float rows would give, without them. Not when a key, an sRGB
// curve on one side only, error diffusion or a range change takes part.
bool ShuffleByteChannels(PixelCodec& d, PixelCodec& s) {
  const ByteChannels* to = d.ByteChannelLayout();
  const ByteChannels* from = s.ByteChannelLayout();
  if (!to || !from || s.ColourKey() || d.Srgb() != s.Srgb() || d.HasErrorDiffusion() ||
      d.OtherRange() != ChannelRange::None)
    return false;
  using RowFn = void (*)(const std::uint8_t*, std::uint8_t*, std::uint32_t, const ByteShuffle&);
  RowFn row = nullptr;
  if (from->bytes == 3) row = to->bytes == 3 ? ShuffleRow<3, 3> : to->bytes == 4 ? ShuffleRow<3, 4> : nullptr;
  if (from->bytes == 4) row = to->bytes == 3 ? ShuffleRow<4, 3> : to->bytes == 4 ? ShuffleRow<4, 4> : nullptr;
  if (!row) return false;
  ByteShuffle shuffle;
  for (int c = 0; c < 4; ++c) {
    if (to->offset[c] < 0) continue;
    if (from->offset[c] < 0) {
      shuffle.fill |= 0xFFu << (8 * to->offset[c]);
      continue;
    }
    shuffle.moveFrom[shuffle.moves] = 8 * from->offset[c];
    shuffle.moveTo[shuffle.moves++] = 8 * to->offset[c];
    shuffle.keep |= 0xFFu << (8 * to->offset[c]);
    shuffle.inPlace = shuffle.inPlace && from->offset[c] == to->offset[c];
  }
  for (std::uint32_t z = 0; z < s.Depth(); ++z)
    for (std::uint32_t y = 0; y < s.Height(); ++y)
      row(s.Pixels() + std::size_t{z} * s.SlicePitch() + std::size_t{y} * s.RowPitch(),
          d.Pixels() + std::size_t{z} * d.SlicePitch() + std::size_t{y} * d.RowPitch(), s.Width(), shuffle);
  return true;
}

}  // namespace

HRESULT ImageBlitter::Run(ImageRegion& destination, ImageRegion& source, std::uint32_t filter) {
  m_destination.reset();
  m_source.reset();
  m_filter = filter;
  if (!FilterFlags::IsValid(filter)) return D3DERR_INVALIDCALL;

  source.srgb = filter & FilterFlags::SourceSrgb;
  destination.srgb = filter & FilterFlags::DestSrgb;
  destination.orderedDither = filter & FilterFlags::OrderedDither;
  destination.errorDiffusion = filter & FilterFlags::ErrorDiffusion;

  // The destination codec goes first: codecs that buffer rows store them when
  // they are destroyed, while both regions are still valid.
  struct Release {
    ImageBlitter* self;
    ~Release() {
      self->m_destination.reset();
      self->m_source.reset();
    }
  } release{this};

  m_destination = CreatePixelCodec(destination);
  if (!m_destination) return E_FAIL;
  m_source = CreatePixelCodec(source);
  if (!m_source) return E_FAIL;
  const HRESULT prepared = PreparePixelCodecPair(m_destination.get(), m_source.get());
  if (FAILED(prepared)) return prepared;

  // Nothing to write is done; something to write from nothing cannot be.
  if (IsEmpty(*m_destination)) return S_OK;
  if (IsEmpty(*m_source)) return E_FAIL;

  using Strategy = HRESULT (ImageBlitter::*)();
  static constexpr Strategy kStrategies[] = {
      &ImageBlitter::BlitCopyIdentical, &ImageBlitter::BlitConvertSameSize, &ImageBlitter::BlitFilterNone,
      &ImageBlitter::BlitFilterPoint,   &ImageBlitter::BlitBoxHalve2D,      &ImageBlitter::BlitBoxHalve3D,
      &ImageBlitter::BlitLinear2D,      &ImageBlitter::BlitLinear3D,        &ImageBlitter::BlitTriangleFlat,
      &ImageBlitter::BlitTriangle,
  };
  for (Strategy strategy : kStrategies)
    if (SUCCEEDED((this->*strategy)())) return S_OK;
  return E_FAIL;
}

HRESULT ImageBlitter::BlitCopyIdentical() {
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  if (d.Format() != s.Format() || s.ColourKey() || d.Width() != s.Width() || d.Height() != s.Height() ||
      d.Depth() != s.Depth() || d.Srgb() != s.Srgb())
    return E_FAIL;
  if (s.IsPalettized() && d.Palette() != s.Palette() &&
      (!d.Palette() || !s.Palette() || std::memcmp(d.Palette(), s.Palette(), 256 * sizeof(PaletteEntry)) != 0))
    return E_FAIL;
  if (!s.IsAddressable()) {
    if (IsPackedPairFormat(static_cast<D3DFORMAT>(s.Format()))) return CopyPackedPairs(d, s);
    return CopyDxtBlocks(RegionOf(d), RegionOf(s));
  }

  const std::size_t rowBytes = s.RowBytes();
  for (std::uint32_t z = 0; z < s.Depth(); ++z) {
    const std::uint8_t* from = s.Pixels() + std::size_t{z} * s.SlicePitch();
    std::uint8_t* to = d.Pixels() + std::size_t{z} * d.SlicePitch();
    for (std::uint32_t y = 0; y < s.Height(); ++y, from += s.RowPitch(), to += d.RowPitch())
      std::memmove(to, from, rowBytes);
  }
  return S_OK;
}

HRESULT ImageBlitter::BlitConvertSameSize() {
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  if (d.Width() != s.Width() || d.Height() != s.Height() || d.Depth() != s.Depth()) return E_FAIL;
  if (ShuffleByteChannels(d, s)) return S_OK;
  // sRGB on both sides passes through unconverted.
  if (d.Srgb() && s.Srgb()) {
    d.SetSrgb(false);
    s.SetSrgb(false);
  }
  if (ConvertSameSizeExact(d, s)) return S_OK;
  RowBuffer row = NewRow(s.Width());
  if (!row) return E_OUTOFMEMORY;
  for (std::uint32_t z = 0; z < s.Depth(); ++z) {
    for (std::uint32_t y = 0; y < s.Height(); ++y) {
      s.ReadRow(y, z, row.get());
      d.WriteRow(y, z, row.get());
    }
  }
  return S_OK;
}

HRESULT ImageBlitter::BlitFilterNone() {
  if (FilterKind() != FilterFlags::None) return E_FAIL;
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  const std::uint32_t width = d.Width();
  RowBuffer row = NewRow(std::max(width, s.Width()));
  if (!row) return E_OUTOFMEMORY;
  if (d.Srgb() && s.Srgb()) {
    d.SetSrgb(false);
    s.SetSrgb(false);
  }
  const std::uint32_t height = std::min(d.Height(), s.Height());
  const std::uint32_t depth = std::min(d.Depth(), s.Depth());
  for (std::uint32_t z = 0; z < d.Depth(); ++z) {
    for (std::uint32_t y = 0; y < d.Height(); ++y) {
      // WriteRow may change the row in place (diffused error, luminance), so
      // the transparent part is cleared again for every row.
      if (z < depth && y < height) {
        s.ReadRow(y, z, row.get());
        if (width > s.Width()) ZeroTexels(row.get() + s.Width(), width - s.Width());
      } else {
        ZeroTexels(row.get(), width);
      }
      d.WriteRow(y, z, row.get());
    }
  }
  return S_OK;
}

HRESULT CopyDxtBlocks(const ImageRegion& destination, const ImageRegion& source) {
  const std::uint32_t format = destination.format;
  if (!IsDxtFormat(static_cast<D3DFORMAT>(format)) || source.format != format) return E_FAIL;
  const ImageBox& db = destination.box;
  const ImageBox& sb = source.box;
  for (const ImageBox* b : {&db, &sb})
    if ((b->left | b->top | b->right | b->bottom) & 3) return E_FAIL;
  if (db.left > db.right || db.top > db.bottom || db.front > db.back || db.right - db.left != sb.right - sb.left ||
      db.bottom - db.top != sb.bottom - sb.top || db.back - db.front != sb.back - sb.front)
    return E_FAIL;

  const std::size_t blockBytes = format == D3DFMT_DXT1 ? 8 : 16;
  const std::size_t rowBytes = (db.right - db.left) / 4 * blockBytes;
  auto first = [blockBytes](const ImageRegion& r) {
    return static_cast<std::uint8_t*>(r.pixels) + std::size_t{r.box.front} * r.slicePitch +
           std::size_t{r.box.top / 4} * r.rowPitch + std::size_t{r.box.left / 4} * blockBytes;
  };
  std::uint8_t* to = first(destination);
  const std::uint8_t* from = first(source);
  for (std::uint32_t z = 0; z < db.back - db.front; ++z) {
    std::uint8_t* t = to + std::size_t{z} * destination.slicePitch;
    const std::uint8_t* f = from + std::size_t{z} * source.slicePitch;
    for (std::uint32_t y = 0; y < db.bottom - db.top; y += 4, t += destination.rowPitch, f += source.rowPitch)
      std::memmove(t, f, rowBytes);
  }
  return S_OK;
}

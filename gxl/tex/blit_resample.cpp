// The point, box-halving and linear strategies of the blitter.
#include <utility>

#include "gxl/tex/blit_rows.h"
#include "gxl/tex/box_kernels.h"
#include "gxl/tex/filter_weights.h"
#include "gxl/tex/image_blitter.h"

using gxl::tex::detail::NewRow;
using gxl::tex::detail::RowBuffer;

namespace {

// A box axis: the destination is half the source (an odd last texel dropped),
// or both are 1.
bool HalvesOrOne(std::uint32_t destination, std::uint32_t source) {
  return destination == source / 2 || (destination == 1 && source == 1);
}

// The even part of a size above 1.
std::uint32_t EvenPart(std::uint32_t size) { return size > 1 ? size & ~1u : size; }

// One destination texel of the linear filter from a source row.
inline ColorF BlendX(const ColorF* row, const LinearWeight& w) { return row[w.i0] * w.w0 + row[w.i1] * w.w1; }

}  // namespace

HRESULT ImageBlitter::BlitFilterPoint() {
  if (FilterKind() != FilterFlags::Point) return E_FAIL;
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  // 16.16 steps; source sizes of up to 32 bits need 48.
  const std::uint64_t xs = (std::uint64_t{s.Width()} << 16) / d.Width();
  const std::uint64_t ys = (std::uint64_t{s.Height()} << 16) / d.Height();
  const std::uint64_t zs = (std::uint64_t{s.Depth()} << 16) / d.Depth();
  RowBuffer in = NewRow(s.Width());
  RowBuffer out = NewRow(d.Width());
  if (!in || !out) return E_OUTOFMEMORY;
  for (std::uint32_t z = 0; z < d.Depth(); ++z) {
    const auto sz = static_cast<std::uint32_t>((z * zs) >> 16);
    std::uint64_t last = ~std::uint64_t{0};
    for (std::uint32_t y = 0; y < d.Height(); ++y) {
      const std::uint64_t sy = (y * ys) >> 16;
      if (sy != last) {
        s.ReadRow(static_cast<std::uint32_t>(sy), sz, in.get());
        last = sy;
      }
      for (std::uint32_t x = 0; x < d.Width(); ++x) out[x] = in[(x * xs) >> 16];
      d.WriteRow(y, z, out.get());
    }
  }
  return S_OK;
}

HRESULT ImageBlitter::BlitBoxHalve2D() {
  if (FilterKind() != FilterFlags::Box) return E_FAIL;
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  if (d.Depth() != 1 || s.Depth() != 1 || !HalvesOrOne(d.Width(), s.Width()) ||
      !HalvesOrOne(d.Height(), s.Height()))
    return E_FAIL;
  const std::uint32_t sw = EvenPart(s.Width());
  const std::uint32_t sh = EvenPart(s.Height());

  // Equal packed formats halve on whole words, unless something needs the
  // float texels: dither offsets, sRGB curves or a colour key.
  if (!(m_filter & FilterFlags::OrderedDither) && d.Format() == s.Format() && sw >= 2 && sh >= 2 && !d.Srgb() &&
      !s.Srgb() && !s.ColourKey()) {
    if (BoxHalveKernel kernel = FindBoxHalveKernel(static_cast<D3DFORMAT>(s.Format())))
      return kernel(d.Pixels(), s.Pixels(), sw, sh, s.RowPitch(), d.RowPitch());
  }

  RowBuffer out = NewRow(d.Width());
  RowBuffer top = NewRow(s.Width());
  RowBuffer bottom = sh > 1 ? NewRow(s.Width()) : nullptr;
  if (!out || !top || (sh > 1 && !bottom)) return E_OUTOFMEMORY;
  const ColorF* lower = sh > 1 ? bottom.get() : top.get();
  for (std::uint32_t y = 0; y < d.Height(); ++y) {
    s.ReadRow(2 * y, 0, top.get());
    if (sh > 1) s.ReadRow(2 * y + 1, 0, bottom.get());
    for (std::uint32_t x = 0; x < d.Width(); ++x) {
      const std::uint32_t x0 = 2 * x;
      const std::uint32_t x1 = sw > 1 ? x0 + 1 : x0;
      out[x] = (top[x0] + top[x1] + lower[x0] + lower[x1]) * 0.25f;
    }
    d.WriteRow(y, 0, out.get());
  }
  return S_OK;
}

HRESULT ImageBlitter::BlitBoxHalve3D() {
  if (FilterKind() != FilterFlags::Box) return E_FAIL;
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  if (!HalvesOrOne(d.Width(), s.Width()) || !HalvesOrOne(d.Height(), s.Height()) || d.Depth() != s.Depth() / 2)
    return E_FAIL;
  const std::uint32_t sw = EvenPart(s.Width());
  const std::uint32_t sh = EvenPart(s.Height());

  RowBuffer out = NewRow(d.Width());
  RowBuffer rows[4];  // (2y, 2z), (2y, 2z + 1), (2y + 1, 2z), (2y + 1, 2z + 1)
  const int rowCount = sh > 1 ? 4 : 2;
  for (int i = 0; i < rowCount; ++i) {
    rows[i] = NewRow(s.Width());
    if (!rows[i]) return E_OUTOFMEMORY;
  }
  if (!out) return E_OUTOFMEMORY;
  const ColorF* r00 = rows[0].get();
  const ColorF* r01 = rows[1].get();
  const ColorF* r10 = sh > 1 ? rows[2].get() : r00;
  const ColorF* r11 = sh > 1 ? rows[3].get() : r01;
  for (std::uint32_t z = 0; z < d.Depth(); ++z) {
    for (std::uint32_t y = 0; y < d.Height(); ++y) {
      s.ReadRow(2 * y, 2 * z, rows[0].get());
      s.ReadRow(2 * y, 2 * z + 1, rows[1].get());
      if (sh > 1) {
        s.ReadRow(2 * y + 1, 2 * z, rows[2].get());
        s.ReadRow(2 * y + 1, 2 * z + 1, rows[3].get());
      }
      for (std::uint32_t x = 0; x < d.Width(); ++x) {
        const std::uint32_t x0 = 2 * x;
        const std::uint32_t x1 = sw > 1 ? x0 + 1 : x0;
        out[x] = (r00[x0] + r00[x1] + r01[x0] + r01[x1] + r10[x0] + r10[x1] + r11[x0] + r11[x1]) * 0.125f;
      }
      d.WriteRow(y, z, out.get());
    }
  }
  return S_OK;
}

HRESULT ImageBlitter::BlitLinear2D() {
  if (FilterKind() != FilterFlags::Linear) return E_FAIL;
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  if (d.Depth() != 1 || s.Depth() != 1) return E_FAIL;
  const auto xw = BuildLinearWeights(d.Width(), s.Width(), Wraps(FilterFlags::MirrorU));
  const auto yw = BuildLinearWeights(d.Height(), s.Height(), Wraps(FilterFlags::MirrorV));
  RowBuffer out = NewRow(d.Width());
  RowBuffer first = NewRow(s.Width());
  RowBuffer second = NewRow(s.Width());
  if (!xw || !yw || !out || !first || !second) return E_OUTOFMEMORY;

  // The rows in the two buffers; a row that moves from second to first is not read again.
  std::int64_t firstRow = -1;
  std::int64_t secondRow = -1;
  for (std::uint32_t y = 0; y < d.Height(); ++y) {
    const LinearWeight& wy = yw[y];
    if (wy.i0 != firstRow) {
      if (wy.i0 == secondRow) {
        std::swap(first, second);
        firstRow = secondRow;
        secondRow = -1;
      } else {
        s.ReadRow(wy.i0, 0, first.get());
        firstRow = wy.i0;
      }
    }
    if (wy.i1 != secondRow) {
      s.ReadRow(wy.i1, 0, second.get());
      secondRow = wy.i1;
    }
    for (std::uint32_t x = 0; x < d.Width(); ++x) {
      const LinearWeight& wx = xw[x];
      out[x] = BlendX(first.get(), wx) * wy.w0 + BlendX(second.get(), wx) * wy.w1;
    }
    d.WriteRow(y, 0, out.get());
  }
  return S_OK;
}

HRESULT ImageBlitter::BlitLinear3D() {
  if (FilterKind() != FilterFlags::Linear) return E_FAIL;
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  const auto xw = BuildLinearWeights(d.Width(), s.Width(), Wraps(FilterFlags::MirrorU));
  const auto yw = BuildLinearWeights(d.Height(), s.Height(), Wraps(FilterFlags::MirrorV));
  const auto zw = BuildLinearWeights(d.Depth(), s.Depth(), Wraps(FilterFlags::MirrorW));
  RowBuffer out = NewRow(d.Width());
  // (y0, z0), (y0, z1), (y1, z0), (y1, z1)
  RowBuffer rows[4] = {NewRow(s.Width()), NewRow(s.Width()), NewRow(s.Width()), NewRow(s.Width())};
  if (!xw || !yw || !zw || !out || !rows[0] || !rows[1] || !rows[2] || !rows[3]) return E_OUTOFMEMORY;

  for (std::uint32_t z = 0; z < d.Depth(); ++z) {
    const LinearWeight& wz = zw[z];
    std::int64_t firstRow = -1;
    std::int64_t secondRow = -1;
    for (std::uint32_t y = 0; y < d.Height(); ++y) {
      const LinearWeight& wy = yw[y];
      if (wy.i0 != firstRow) {
        if (wy.i0 == secondRow) {
          std::swap(rows[0], rows[2]);
          std::swap(rows[1], rows[3]);
          firstRow = secondRow;
          secondRow = -1;
        } else {
          s.ReadRow(wy.i0, wz.i0, rows[0].get());
          s.ReadRow(wy.i0, wz.i1, rows[1].get());
          firstRow = wy.i0;
        }
      }
      if (wy.i1 != secondRow) {
        s.ReadRow(wy.i1, wz.i0, rows[2].get());
        s.ReadRow(wy.i1, wz.i1, rows[3].get());
        secondRow = wy.i1;
      }
      for (std::uint32_t x = 0; x < d.Width(); ++x) {
        const LinearWeight& wx = xw[x];
        const ColorF front = BlendX(rows[0].get(), wx) * wy.w0 + BlendX(rows[2].get(), wx) * wy.w1;
        const ColorF back = BlendX(rows[1].get(), wx) * wy.w0 + BlendX(rows[3].get(), wx) * wy.w1;
        out[x] = front * wz.w0 + back * wz.w1;
      }
      d.WriteRow(y, z, out.get());
    }
  }
  return S_OK;
}

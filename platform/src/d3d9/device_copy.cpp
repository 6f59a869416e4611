// Copies between resources: UpdateSurface and UpdateTexture (system memory to
// default pool), GetRenderTargetData (render target to system memory) and
// StretchRect (default pool to a render target, point or linear).
#include <algorithm>
#include <cstring>

#include "d3d9/call_log.h"
#include "d3d9/device.h"
#include "d3d9/raster/raster.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "d3d9/volume.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

// A rectangle inside a surface, or the whole surface for null.
bool ResolveRect(const RECT* rect, const Surface& s, RECT* out) {
  if (!rect) {
    *out = RECT{0, 0, static_cast<LONG>(s.Width()), static_cast<LONG>(s.Height())};
    return true;
  }
  *out = *rect;
  return rect->left >= 0 && rect->top >= 0 && rect->left < rect->right && rect->top < rect->bottom &&
         static_cast<UINT>(rect->right) <= s.Width() && static_cast<UINT>(rect->bottom) <= s.Height();
}

bool Aligned(const Surface& s, const RECT& r) {
  return RectAligned(s.Info(), s.Width(), s.Height(), r.left, r.top, r.right, r.bottom);
}

// Copies the texels of `r` in `src` to (x, y) in `dst` (same format).
void CopyRect(const Surface& src, const RECT& r, Surface& dst, UINT x, UINT y) {
  const FormatInfo& info = src.Info();
  const std::size_t bytes = RowBytes(info, static_cast<UINT>(r.right - r.left));
  const UINT rows = StorageRows(info, static_cast<UINT>(r.bottom - r.top));
  const std::uint8_t* from = src.Bits() + TexelOffset(info, src.Pitch(), r.left, r.top);
  std::uint8_t* to = dst.Bits() + TexelOffset(info, dst.Pitch(), x, y);
  for (UINT row = 0; row < rows; ++row)
    std::memcpy(to + std::size_t(row) * dst.Pitch(), from + std::size_t(row) * src.Pitch(), bytes);
  dst.MarkDirty();
}

void CopyVolume(const Volume& src, Volume& dst) {
  const std::size_t bytes = RowBytes(src.Info(), src.Width());
  const UINT rows = StorageRows(src.Info(), src.Height());
  for (UINT z = 0; z < src.Depth(); ++z)
    for (UINT row = 0; row < rows; ++row)
      std::memcpy(dst.Bits() + z * dst.SlicePitch() + std::size_t(row) * dst.RowPitch(),
                  src.Bits() + z * src.SlicePitch() + std::size_t(row) * src.RowPitch(), bytes);
  dst.MarkDirty();
}

bool SameSize(const BaseTexture& a, UINT levelA, const BaseTexture& b, UINT levelB) {
  return MipSize(a.Shape().width, levelA) == MipSize(b.Shape().width, levelB) &&
         MipSize(a.Shape().height, levelA) == MipSize(b.Shape().height, levelB) &&
         MipSize(a.Shape().depth, levelA) == MipSize(b.Shape().depth, levelB);
}

bool Is32BitRgb(D3DFORMAT f) { return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8; }

// Source coordinate of destination texel i, in 16.16 fixed point relative to the
// source rectangle: texel centres map onto texel centres.
std::int64_t SourceFixed(LONG i, LONG srcSize, LONG dstSize) {
  return ((2 * std::int64_t(i) + 1) * srcSize * 65536) / (2 * std::int64_t(dstSize)) - 32768;
}

void Stretch(const Surface& src, const RECT& sr, Surface& dst, const RECT& dr, bool linear) {
  const LONG sw = sr.right - sr.left, sh = sr.bottom - sr.top;
  const LONG dw = dr.right - dr.left, dh = dr.bottom - dr.top;
  const std::uint32_t alphaOr = dst.Format() == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0;
  auto texel = [&](LONG x, LONG y) {
    x = std::clamp<LONG>(x, 0, sw - 1);
    y = std::clamp<LONG>(y, 0, sh - 1);
    return raster::Load<std::uint32_t>(src.Bits() + std::size_t(sr.top + y) * src.Pitch() + std::size_t(sr.left + x) * 4);
  };
  for (LONG y = 0; y < dh; ++y) {
    std::uint8_t* row = dst.Bits() + std::size_t(dr.top + y) * dst.Pitch() + std::size_t(dr.left) * 4;
    const std::int64_t fy = SourceFixed(y, sh, dh);
    for (LONG x = 0; x < dw; ++x) {
      std::uint32_t v;
      if (linear) {
        const std::int64_t fx = SourceFixed(x, sw, dw);
        const LONG x0 = static_cast<LONG>(fx >> 16), y0 = static_cast<LONG>(fy >> 16);
        const UINT wx = static_cast<UINT>((fx >> 8) & 0xFF), wy = static_cast<UINT>((fy >> 8) & 0xFF);
        v = raster::Bilinear(texel(x0, y0), texel(x0 + 1, y0), texel(x0, y0 + 1), texel(x0 + 1, y0 + 1), wx, wy);
      } else {
        v = texel(static_cast<LONG>((2 * std::int64_t(x) + 1) * sw / (2 * std::int64_t(dw))),
                  static_cast<LONG>((2 * std::int64_t(y) + 1) * sh / (2 * std::int64_t(dh))));
      }
      v |= alphaOr;
      std::memcpy(row + std::size_t(x) * 4, &v, 4);
    }
  }
  dst.MarkDirty();
}

}  // namespace

HRESULT Device::UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                              const POINT* destPoint) {
  HRESULT hr = D3D_OK;
  Surface* s = AsSurface(source, this);
  Surface* d = AsSurface(dest, this);
  RECT r{};
  const POINT p = destPoint ? *destPoint : POINT{0, 0};
  if (!s || !d || s->Shape().pool != D3DPOOL_SYSTEMMEM || d->Shape().pool != D3DPOOL_DEFAULT ||
      s->Format() != d->Format() || d->IsDepth() || s->Locked() || d->Locked() || !ResolveRect(sourceRect, *s, &r) ||
      !Aligned(*s, r) || p.x < 0 || p.y < 0) {
    hr = D3DERR_INVALIDCALL;
  } else {
    const RECT target{p.x, p.y, p.x + (r.right - r.left), p.y + (r.bottom - r.top)};
    if (static_cast<UINT>(target.right) > d->Width() || static_cast<UINT>(target.bottom) > d->Height() ||
        !Aligned(*d, target))
      hr = D3DERR_INVALIDCALL;
    else if (!platform::detail::ShouldFail("UpdateSurface", &hr))
      CopyRect(*s, r, *d, p.x, p.y);
  }
  D3D9_RETURN("UpdateSurface", hr, source, sourceRect, dest, destPoint);
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) {
  HRESULT hr = D3D_OK;
  BaseTexture* s = AsBaseTexture(source);
  BaseTexture* d = AsBaseTexture(dest);
  UINT skip = 0;
  bool ok = s && d && s->Dev() == this && d->Dev() == this && s != d && s->Type() == d->Type() &&
            s->Format() == d->Format() && s->Pool() == D3DPOOL_SYSTEMMEM && d->Pool() == D3DPOOL_DEFAULT &&
            !s->AnyLevelLocked() && !d->AnyLevelLocked();
  if (ok) {
    // The source level matching the destination's top level starts the copy.
    while (skip < s->Levels() && !SameSize(*s, skip, *d, 0)) ++skip;
    ok = skip < s->Levels() && s->Levels() - skip >= d->Levels();
  }
  if (!ok) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("UpdateTexture", &hr)) {
    for (UINT level = 0; level < d->Levels(); ++level) {
      if (Volume* dv = d->VolumeAt(level)) {
        CopyVolume(*s->VolumeAt(level + skip), *dv);
        continue;
      }
      for (UINT face = 0; face < d->Faces(); ++face) {
        Surface* from = s->SurfaceAt(face, level + skip);
        Surface* to = d->SurfaceAt(face, level);
        CopyRect(*from, RECT{0, 0, static_cast<LONG>(from->Width()), static_cast<LONG>(from->Height())}, *to, 0,
                 0);
      }
    }
  }
  D3D9_RETURN("UpdateTexture", hr, source, dest);
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) {
  HRESULT hr = D3D_OK;
  Surface* s = AsSurface(renderTarget, this);
  Surface* d = AsSurface(dest, this);
  if (!s || !d || !s->IsRenderTarget() || d->Shape().pool != D3DPOOL_SYSTEMMEM || s->Format() != d->Format() ||
      s->Width() != d->Width() || s->Height() != d->Height() || s->Locked() || d->Locked()) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("GetRenderTargetData", &hr)) {
    CopyRect(*s, RECT{0, 0, static_cast<LONG>(s->Width()), static_cast<LONG>(s->Height())}, *d, 0, 0);
  }
  D3D9_RETURN("GetRenderTargetData", hr, renderTarget, dest);
}

HRESULT Device::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                            const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
  HRESULT hr = D3D_OK;
  Surface* s = AsSurface(source, this);
  Surface* d = AsSurface(dest, this);
  RECT sr{}, dr{};
  bool ok = s && d && s->Shape().pool == D3DPOOL_DEFAULT && d->IsRenderTarget() && !s->IsDepth() &&
            !d->IsDepth() && filter <= D3DTEXF_LINEAR && !s->Locked() && !d->Locked() &&
            (s->Format() == d->Format() || (Is32BitRgb(s->Format()) && Is32BitRgb(d->Format()))) &&
            ResolveRect(sourceRect, *s, &sr) && ResolveRect(destRect, *d, &dr) && Aligned(*s, sr) && Aligned(*d, dr);
  if (ok && s == d) {
    // Overlapping copies within one surface are refused.
    RECT overlap = sr;
    overlap.left = std::max(sr.left, dr.left);
    overlap.top = std::max(sr.top, dr.top);
    overlap.right = std::min(sr.right, dr.right);
    overlap.bottom = std::min(sr.bottom, dr.bottom);
    ok = overlap.left >= overlap.right || overlap.top >= overlap.bottom;
  }
  const bool sameSize = sr.right - sr.left == dr.right - dr.left && sr.bottom - sr.top == dr.bottom - dr.top;
  if (ok && !sameSize && s->Info().bytes != 4) {
    // Scaling is done on 32-bit texels only.
    platform::detail::CountDiagnostic("d3d9.stretch-format");
    ok = false;
  }
  if (!ok) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("StretchRect", &hr)) {
    if (sameSize && (s->Format() == d->Format() || d->Format() == D3DFMT_A8R8G8B8)) {
      CopyRect(*s, sr, *d, dr.left, dr.top);
    } else {
      Stretch(*s, sr, *d, dr, filter == D3DTEXF_LINEAR);
    }
  }
  D3D9_RETURN("StretchRect", hr, source, sourceRect, dest, destRect, filter);
}

}  // namespace platform::d3d9

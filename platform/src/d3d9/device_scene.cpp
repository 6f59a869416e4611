// Render target and depth surface, scenes and Clear.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/call_log.h"
#include "d3d9/device.h"
#include "d3d9/raster/raster.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

bool Intersect(RECT& a, const RECT& b) {
  a.left = std::max(a.left, b.left);
  a.top = std::max(a.top, b.top);
  a.right = std::min(a.right, b.right);
  a.bottom = std::min(a.bottom, b.bottom);
  return a.left < a.right && a.top < a.bottom;
}

// Depth and stencil bits of a depth format, as one 16- or 32-bit word.
struct DepthLayout {
  UINT bytes;
  std::uint32_t depthMask, stencilMask;
  int depthShift, depthBits;
  bool floating;
};

DepthLayout LayoutOf(D3DFORMAT f) {
  switch (f) {
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE: return {2, 0xFFFF, 0, 0, 16, false};
    case D3DFMT_D15S1: return {2, 0xFFFE, 0x1, 1, 15, false};
    case D3DFMT_D32: return {4, 0xFFFFFFFF, 0, 0, 32, false};
    case D3DFMT_D32F_LOCKABLE: return {4, 0xFFFFFFFF, 0, 0, 32, true};
    case D3DFMT_D24S8:
    case D3DFMT_D24FS8: return {4, 0xFFFFFF00, 0xFF, 8, 24, false};
    case D3DFMT_D24X4S4: return {4, 0xFFFFFF00, 0xF, 8, 24, false};
    default: return {4, 0xFFFFFF00, 0, 8, 24, false};  // D24X8
  }
}

}  // namespace

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
  HRESULT hr = D3D_OK;
  Surface* s = AsSurface(surface, this);
  if (index != 0 || !s || !s->IsRenderTarget()) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("SetRenderTarget", &hr)) {
    Rebind(m_renderTarget, s);
    // A new target gets a viewport over all of it.
    m_state.viewport = D3DVIEWPORT9{0, 0, s->Width(), s->Height(), 0.0f, 1.0f};
  }
  D3D9_RETURN("SetRenderTarget", hr, index, surface);
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
  HRESULT hr = D3D_OK;
  if (surface) *surface = nullptr;
  if (index != 0 || !surface) {
    hr = D3DERR_INVALIDCALL;
  } else {
    m_renderTarget->AddRef();
    *surface = m_renderTarget;
  }
  D3D9_RETURN("GetRenderTarget", hr, index, surface ? *surface : nullptr);
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* surface) {
  HRESULT hr = D3D_OK;
  Surface* s = AsSurface(surface, this);
  if (surface && (!s || !s->IsDepth())) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("SetDepthStencilSurface", &hr)) {
    Rebind(m_depthStencil, s);
  }
  D3D9_RETURN("SetDepthStencilSurface", hr, surface);
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
  HRESULT hr = D3D_OK;
  if (!surface) {
    hr = D3DERR_INVALIDCALL;
  } else if (!m_depthStencil) {
    *surface = nullptr;
    hr = D3DERR_NOTFOUND;
  } else {
    m_depthStencil->AddRef();
    *surface = m_depthStencil;
  }
  D3D9_RETURN("GetDepthStencilSurface", hr, surface ? *surface : nullptr);
}

HRESULT Device::BeginScene() {
  HRESULT hr = D3D_OK;
  if (m_inScene)
    hr = D3DERR_INVALIDCALL;
  else if (!platform::detail::ShouldFail("BeginScene", &hr))
    m_inScene = true;
  D3D9_RETURN("BeginScene", hr);
}

HRESULT Device::EndScene() {
  HRESULT hr = D3D_OK;
  if (!m_inScene)
    hr = D3DERR_INVALIDCALL;
  else if (!platform::detail::ShouldFail("EndScene", &hr))
    m_inScene = false;
  D3D9_RETURN("EndScene", hr);
}

HRESULT Device::ClearTarget(Surface* target, const RECT& r, D3DCOLOR color) {
  std::uint8_t pattern[16];
  UINT bytes = 0;
  if (!EncodeColor(target->Format(), color, pattern, &bytes)) return D3DERR_INVALIDCALL;
  for (LONG y = r.top; y < r.bottom; ++y) {
    std::uint8_t* row = target->Bits() + TexelOffset(target->Info(), target->Pitch(), r.left, y);
    if (bytes == 4) {
      std::uint32_t value;
      std::memcpy(&value, pattern, 4);
      raster::FillTexels(reinterpret_cast<std::uint32_t*>(row), value, static_cast<int>(r.right - r.left));
    } else {
      FillPattern(row, pattern, bytes, static_cast<UINT>(r.right - r.left));
    }
  }
  target->MarkDirty();
  return D3D_OK;
}

void Device::ClearDepth(Surface* depth, const RECT& area, DWORD flags, float z, DWORD stencil) {
  RECT r = area;
  if (!Intersect(r, RECT{0, 0, static_cast<LONG>(depth->Width()), static_cast<LONG>(depth->Height())})) return;
  const DepthLayout l = LayoutOf(depth->Format());
  std::uint32_t d;
  if (l.floating) {
    std::memcpy(&d, &z, 4);
  } else {
    const double scale = std::ldexp(1.0, l.depthBits) - 1.0;
    d = static_cast<std::uint32_t>(std::lround(double(z) * scale)) << l.depthShift;
  }
  if (flags & D3DCLEAR_ZBUFFER) {
    // What the surface now holds, for draws that can skip reading it.
    const std::uint32_t q = l.floating ? d : d >> l.depthShift;
    DepthBound& b = depth->Bound();
    const bool whole = r.left == 0 && r.top == 0 && r.right == LONG(depth->Width()) && r.bottom == LONG(depth->Height());
    if (whole) {
      b = DepthBound{true, q, q};
    } else if (b.known) {
      b.lo = std::min(b.lo, q);
      b.hi = std::max(b.hi, q);
    }
  }
  const std::uint32_t value = (d & l.depthMask) | (stencil & l.stencilMask);
  const std::uint32_t write = ((flags & D3DCLEAR_ZBUFFER) ? l.depthMask : 0) |
                              ((flags & D3DCLEAR_STENCIL) ? l.stencilMask : 0);
  const std::uint32_t all = l.bytes == 2 ? 0xFFFFu : 0xFFFFFFFFu;
  for (LONG y = r.top; y < r.bottom; ++y) {
    std::uint8_t* row = depth->Bits() + std::size_t(y) * depth->Pitch() + std::size_t(r.left) * l.bytes;
    if ((write & all) == all) {
      // Every bit is replaced: a plain fill.
      std::uint8_t pattern[4];
      std::memcpy(pattern, &value, 4);
      FillPattern(row, pattern, l.bytes, static_cast<UINT>(r.right - r.left));
      continue;
    }
    for (LONG x = r.left; x < r.right; ++x, row += l.bytes) {
      if (l.bytes == 2) {
        std::uint16_t old;
        std::memcpy(&old, row, 2);
        const std::uint16_t v = static_cast<std::uint16_t>((old & ~write) | (value & write));
        std::memcpy(row, &v, 2);
      } else {
        std::uint32_t old;
        std::memcpy(&old, row, 4);
        const std::uint32_t v = (old & ~write) | (value & write);
        std::memcpy(row, &v, 4);
      }
    }
  }
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  HRESULT hr = D3D_OK;
  const bool depthWanted = (flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0;
  std::uint8_t pattern[16];
  UINT bytes;
  if (flags == 0 || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) || (count && !rects) ||
      (!count && rects)) {
    hr = D3DERR_INVALIDCALL;
  } else if (depthWanted && (!m_depthStencil || m_depthStencil->Locked())) {
    hr = D3DERR_INVALIDCALL;
  } else if ((flags & D3DCLEAR_STENCIL) && !HasStencil(m_depthStencil->Format())) {
    hr = D3DERR_INVALIDCALL;
  } else if ((flags & D3DCLEAR_ZBUFFER) && !(z >= 0.0f && z <= 1.0f)) {
    hr = D3DERR_INVALIDCALL;
  } else if ((flags & D3DCLEAR_TARGET) &&
             (m_renderTarget->Locked() || !EncodeColor(m_renderTarget->Format(), color, pattern, &bytes))) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("Clear", &hr)) {
    // Clears cover the viewport, cut by the given rectangles.
    const D3DVIEWPORT9& v = m_state.viewport;
    RECT viewport{static_cast<LONG>(v.X), static_cast<LONG>(v.Y), static_cast<LONG>(v.X + v.Width),
                  static_cast<LONG>(v.Y + v.Height)};
    Intersect(viewport, RECT{0, 0, static_cast<LONG>(m_renderTarget->Width()),
                             static_cast<LONG>(m_renderTarget->Height())});
    const DWORD n = count ? count : 1;
    for (DWORD i = 0; i < n; ++i) {
      RECT r = viewport;
      if (count && !Intersect(r, RECT{rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2})) continue;
      if (r.left >= r.right || r.top >= r.bottom) continue;
      if (flags & D3DCLEAR_TARGET) ClearTarget(m_renderTarget, r, color);
      if (depthWanted) ClearDepth(m_depthStencil, r, flags, z, stencil);
    }
  }
  D3D9_RETURN("Clear", hr, count, count ? rects : nullptr, flags, color, z, stencil);
}

}  // namespace platform::d3d9

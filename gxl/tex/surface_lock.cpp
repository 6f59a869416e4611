// SurfaceLock, VolumeLock and CopySurfaceBits.
#include "gxl/tex/surface_lock.h"

#include <algorithm>
#include <cstring>

#include "gxl/tex/debug_mute.h"
#include "gxl/tex/pixel_format.h"
#include "platform/d3d9_api.h"

namespace {

using gxl::tex::detail::DebugMute;

template <class T>
void ReleaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// Widens [left, right) x [top, bottom) to what the format can lock: whole
// 4x4 blocks, or whole texel pairs horizontally; cut to the size.
void WidenToLockable(D3DFORMAT format, std::uint32_t width, std::uint32_t height, std::uint32_t& left,
                     std::uint32_t& top, std::uint32_t& right, std::uint32_t& bottom) {
  if (IsDxtFormat(format)) {
    left &= ~3u;
    top &= ~3u;
    right = static_cast<std::uint32_t>(std::min<std::uint64_t>((std::uint64_t{right} + 3) & ~std::uint64_t{3}, width));
    bottom =
        static_cast<std::uint32_t>(std::min<std::uint64_t>((std::uint64_t{bottom} + 3) & ~std::uint64_t{3}, height));
  } else if (IsPackedPairFormat(format)) {
    left &= ~1u;
    right = static_cast<std::uint32_t>(std::min<std::uint64_t>((std::uint64_t{right} + 1) & ~std::uint64_t{1}, width));
  }
}

// Whether a whole, writable lock of a dynamic level may discard: the caller
// says so, or the level is the only level of its texture.
template <class Container, class Level>
bool MayDiscard(Level* level, REFIID iid, std::uint32_t flags) {
  if (flags & LockFlags::MayDiscard) return true;
  DebugMute mute;
  Container* container = nullptr;
  bool only = false;
  if (SUCCEEDED(level->GetContainer(iid, reinterpret_cast<void**>(&container))) && container) {
    only = container->GetLevelCount() == 1;
    container->Release();
  }
  return only;
}

ImageRegion DescribeLock(void* bits, D3DFORMAT format, std::uint32_t rowPitch, std::uint32_t slicePitch,
                         const ImageBox& extent, const ImageBox& box, std::uint32_t colourKey,
                         const PaletteEntry* palette) {
  ImageRegion r{};
  r.pixels = bits;
  r.format = format;
  r.rowPitch = rowPitch;
  r.slicePitch = slicePitch;
  r.extent = extent;
  r.box = box;
  r.orderedDither = 1;
  r.errorDiffusion = 0;
  r.srgb = 0;
  r.colourKey = colourKey;
  r.palette = palette;
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Surfaces

HRESULT SurfaceLock::Lock(ImageRegion* region, IDirect3DSurface9* surface, const PaletteEntry* palette,
                          const RECT* rect, std::uint32_t colourKey, std::uint32_t flags) {
  Unlock();
  if (!region || !surface) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc{};
  HRESULT hr = surface->GetDesc(&desc);
  if (FAILED(hr)) return hr;

  const std::int64_t width = desc.Width;
  const std::int64_t height = desc.Height;
  if (rect && (rect->left < 0 || rect->left > rect->right || rect->right > width || rect->top < 0 ||
               rect->top > rect->bottom || rect->bottom > height))
    return D3DERR_INVALIDCALL;
  const std::uint32_t left = rect ? static_cast<std::uint32_t>(rect->left) : 0;
  const std::uint32_t top = rect ? static_cast<std::uint32_t>(rect->top) : 0;
  const std::uint32_t right = rect ? static_cast<std::uint32_t>(rect->right) : desc.Width;
  const std::uint32_t bottom = rect ? static_cast<std::uint32_t>(rect->bottom) : desc.Height;
  const bool partial = left != 0 || top != 0 || right != desc.Width || bottom != desc.Height;
  const bool readOnly = (flags & LockFlags::ReadOnly) != 0;
  const bool wholeWrite = !partial && !readOnly;
  const bool staging = (flags & LockFlags::Staging) != 0;

  if (staging) {
    hr = SetUpStaging(surface, desc, wholeWrite);
    if (FAILED(hr)) return hr;
  }

  DWORD lockFlags = D3DLOCK_NOSYSLOCK | (readOnly ? D3DLOCK_READONLY : 0);
  if (wholeWrite && !staging && (desc.Usage & D3DUSAGE_DYNAMIC) &&
      MayDiscard<IDirect3DTexture9>(surface, IID_IDirect3DTexture9, flags))
    lockFlags |= D3DLOCK_DISCARD;

  std::uint32_t wl = left, wt = top, wr = right, wb = bottom;
  if (partial) WidenToLockable(desc.Format, desc.Width, desc.Height, wl, wt, wr, wb);
  const bool wholeLock = wl == 0 && wt == 0 && wr == desc.Width && wb == desc.Height;
  const RECT widened{static_cast<LONG>(wl), static_cast<LONG>(wt), static_cast<LONG>(wr), static_cast<LONG>(wb)};

  D3DLOCKED_RECT locked{};
  if (staging) {
    // A failure leaves the staging objects held until Unlock releases them.
    hr = m_staging->LockRect(&locked, wholeLock ? nullptr : &widened, lockFlags);
    if (FAILED(hr)) return hr;
  } else {
    {
      DebugMute mute;
      hr = surface->LockRect(&locked, wholeLock ? nullptr : &widened, lockFlags);
    }
    if (FAILED(hr)) return Lock(region, surface, palette, rect, colourKey, flags | LockFlags::Staging);
  }

  // The extent is counted like the box, from the locked rectangle's corner,
  // so that blocks at the far edges know which of their texels exist.
  *region = DescribeLock(locked.pBits, desc.Format, static_cast<std::uint32_t>(locked.Pitch), 0,
                         ImageBox{0, 0, desc.Width - wl, desc.Height - wt, 0, 1},
                         ImageBox{left - wl, top - wt, right - wl, bottom - wt, 0, 1}, colourKey, palette);
  surface->AddRef();
  m_surface = surface;
  m_flags = flags;
  return S_OK;
}

HRESULT SurfaceLock::SetUpStaging(IDirect3DSurface9* surface, const D3DSURFACE_DESC& desc, bool wholeWrite) {
  // Block formats: a level of a larger texture, so that the texture's top
  // level is whole blocks while the staging level is exactly this size.
  std::uint32_t shift = 0;
  if (IsDxtFormat(desc.Format))
    while (((desc.Width | desc.Height) << shift) & 3) ++shift;
  if ((std::uint64_t{desc.Width} << shift) > 0xFFFFFFFFu || (std::uint64_t{desc.Height} << shift) > 0xFFFFFFFFu)
    return D3DERR_INVALIDCALL;

  HRESULT hr = surface->GetDevice(&m_device);
  if (SUCCEEDED(hr)) {
    const D3DPOOL pool = desc.Pool == D3DPOOL_SCRATCH ? D3DPOOL_SCRATCH : D3DPOOL_SYSTEMMEM;
    hr = m_device->CreateTexture(desc.Width << shift, desc.Height << shift, shift + 1, 0, desc.Format, pool,
                                 &m_stagingTexture, nullptr);
  }
  if (SUCCEEDED(hr)) hr = m_stagingTexture->GetSurfaceLevel(shift, &m_staging);
  if (SUCCEEDED(hr) && !wholeWrite) {
    DebugMute mute;
    hr = CopySurfaceBits(surface, m_staging);
    if (FAILED(hr) && shift == 0) {
      // A surface that cannot be locked (a render target) is first copied by
      // the device into one that can.
      IDirect3DSurface9* target = nullptr;
      hr = m_device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, 0, TRUE, &target,
                                        nullptr);
      if (SUCCEEDED(hr)) hr = m_device->StretchRect(surface, nullptr, target, nullptr, D3DTEXF_NONE);
      if (SUCCEEDED(hr)) hr = CopySurfaceBits(target, m_staging);
      ReleaseAndClear(target);
    }
  }
  if (FAILED(hr)) {
    ReleaseAndClear(m_staging);
    ReleaseAndClear(m_stagingTexture);
    ReleaseAndClear(m_device);
  }
  return hr;
}

HRESULT SurfaceLock::Abandon() {
  m_flags |= LockFlags::ReadOnly;
  return Unlock();
}

HRESULT SurfaceLock::Unlock() {
  if (m_surface) {
    if (m_staging) {
      m_staging->UnlockRect();
      if (m_device && !(m_flags & LockFlags::ReadOnly)) {
        DebugMute mute;
        const POINT origin{0, 0};
        if (FAILED(m_device->UpdateSurface(m_staging, nullptr, m_surface, &origin)))
          CopySurfaceBits(m_staging, m_surface);
      }
    } else {
      m_surface->UnlockRect();
    }
  }
  ReleaseAndClear(m_staging);
  ReleaseAndClear(m_stagingTexture);
  ReleaseAndClear(m_device);
  ReleaseAndClear(m_surface);
  m_flags = 0;
  return S_OK;
}

HRESULT CopySurfaceBits(IDirect3DSurface9* source, IDirect3DSurface9* destination) {
  if (!source || !destination) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC from{}, to{};
  HRESULT hr = source->GetDesc(&from);
  if (SUCCEEDED(hr)) hr = destination->GetDesc(&to);
  if (FAILED(hr)) return hr;
  D3DLOCKED_RECT s{}, d{};
  hr = source->LockRect(&s, nullptr, 0);
  if (FAILED(hr)) return hr;
  hr = destination->LockRect(&d, nullptr, 0);
  if (FAILED(hr)) {
    source->UnlockRect();
    return hr;
  }
  // The smaller of the two, so that surfaces of different sizes stay in bounds.
  std::uint32_t rows = std::min(from.Height, to.Height);
  if (IsDxtFormat(from.Format)) rows = static_cast<std::uint32_t>((std::uint64_t{rows} + 3) / 4);
  const std::size_t bytes = static_cast<std::size_t>(std::min(s.Pitch, d.Pitch));
  const auto* f = static_cast<const std::uint8_t*>(s.pBits);
  auto* t = static_cast<std::uint8_t*>(d.pBits);
  for (std::uint32_t y = 0; y < rows; ++y, f += s.Pitch, t += d.Pitch) std::memcpy(t, f, bytes);
  destination->UnlockRect();
  source->UnlockRect();
  return S_OK;
}

// ---------------------------------------------------------------------------
// Volumes

HRESULT VolumeLock::Lock(ImageRegion* region, IDirect3DVolume9* volume, const PaletteEntry* palette,
                         const D3DBOX* box, std::uint32_t colourKey, std::uint32_t flags) {
  Unlock();
  if (!region || !volume) return D3DERR_INVALIDCALL;
  D3DVOLUME_DESC desc{};
  HRESULT hr = volume->GetDesc(&desc);
  if (FAILED(hr)) return hr;

  const D3DBOX whole{0, 0, desc.Width, desc.Height, 0, desc.Depth};
  const D3DBOX b = box ? *box : whole;
  if (b.Left > b.Right || b.Right > desc.Width || b.Top > b.Bottom || b.Bottom > desc.Height || b.Front > b.Back ||
      b.Back > desc.Depth)
    return D3DERR_INVALIDCALL;
  if (desc.Pool == D3DPOOL_DEFAULT && !(desc.Usage & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;

  const bool partial = std::memcmp(&b, &whole, sizeof b) != 0;
  const bool readOnly = (flags & LockFlags::ReadOnly) != 0;
  DWORD lockFlags = D3DLOCK_NOSYSLOCK | (readOnly ? D3DLOCK_READONLY : 0);
  if (!partial && !readOnly && (desc.Usage & D3DUSAGE_DYNAMIC) &&
      MayDiscard<IDirect3DVolumeTexture9>(volume, IID_IDirect3DVolumeTexture9, flags))
    lockFlags |= D3DLOCK_DISCARD;

  D3DBOX widened = b;
  if (partial) WidenToLockable(desc.Format, desc.Width, desc.Height, widened.Left, widened.Top, widened.Right,
                               widened.Bottom);
  const bool wholeLock = std::memcmp(&widened, &whole, sizeof widened) == 0;

  D3DLOCKED_BOX locked{};
  hr = volume->LockBox(&locked, wholeLock ? nullptr : &widened, lockFlags);
  if (FAILED(hr)) return hr;
  const std::uint32_t front = widened.Front;
  *region = DescribeLock(locked.pBits, desc.Format, static_cast<std::uint32_t>(locked.RowPitch),
                         static_cast<std::uint32_t>(locked.SlicePitch),
                         ImageBox{0, 0, desc.Width - widened.Left, desc.Height - widened.Top, 0, desc.Depth - front},
                         ImageBox{b.Left - widened.Left, b.Top - widened.Top, b.Right - widened.Left,
                                  b.Bottom - widened.Top, b.Front - front, b.Back - front},
                         colourKey, palette);
  volume->AddRef();
  m_volume = volume;
  return S_OK;
}

HRESULT VolumeLock::Unlock() {
  if (m_volume) {
    m_volume->UnlockBox();
    ReleaseAndClear(m_volume);
  }
  return S_OK;
}

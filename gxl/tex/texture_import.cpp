// The import functions: pixels, surfaces, volumes and image files into an
// existing surface or volume; and the header-only image-info readers.
#include "gxl/tex/texture_import.h"

#include <cstring>

#include "gxl/tex/debug_mute.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/file_source.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/image_blitter.h"
#include "gxl/tex/surface_lock.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_levels.h"
#include "platform/d3d9_api.h"

using gxl::tex::detail::CheckDeviceNotLost;
using gxl::tex::detail::DebugMute;
using gxl::tex::detail::WithFileBytes;
using gxl::tex::detail::WithResourceBytes;

namespace {

constexpr DWORD kDefaultImportFilter = FilterFlags::Triangle | FilterFlags::OrderedDither;

DWORD ResolveFilter(DWORD filter) { return filter == kGxlDefault ? kDefaultImportFilter : filter; }

bool SamePalette(const PaletteEntry* a, const PaletteEntry* b) {
  return a == b || (a && b && std::memcmp(a, b, 256 * sizeof(PaletteEntry)) == 0);
}

LONG RectWidth(const RECT* r, UINT whole) { return r ? r->right - r->left : static_cast<LONG>(whole); }
LONG RectHeight(const RECT* r, UINT whole) { return r ? r->bottom - r->top : static_cast<LONG>(whole); }

RECT RectOf(const ImageBox& b) {
  return RECT{static_cast<LONG>(b.left), static_cast<LONG>(b.top), static_cast<LONG>(b.right),
              static_cast<LONG>(b.bottom)};
}

// The same-size copy by the device: default pool to default pool by
// StretchRect, system memory to default pool by UpdateSurface. False when the
// device cannot (or need not) do it.
bool DeviceCopy(IDirect3DSurface9* destination, const D3DSURFACE_DESC& to, const RECT* destinationRect,
                IDirect3DSurface9* source, const D3DSURFACE_DESC& from, const RECT* sourceRect) {
  if (to.Pool != D3DPOOL_DEFAULT || (from.Pool != D3DPOOL_DEFAULT && from.Pool != D3DPOOL_SYSTEMMEM)) return false;
  IDirect3DDevice9* device = nullptr;
  if (FAILED(destination->GetDevice(&device))) return false;
  HRESULT hr;
  {
    DebugMute mute;
    if (from.Pool == D3DPOOL_DEFAULT) {
      hr = device->StretchRect(source, sourceRect, destination, destinationRect, D3DTEXF_NONE);
    } else {
      const POINT origin{destinationRect ? destinationRect->left : 0, destinationRect ? destinationRect->top : 0};
      hr = device->UpdateSurface(source, sourceRect, destination, &origin);
    }
  }
  device->Release();
  return SUCCEEDED(hr);
}

}  // namespace

HRESULT GXLImportSurfaceFromPixels(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                   const RECT* destinationRect, const void* sourcePixels, D3DFORMAT sourceFormat,
                                   UINT sourceRowPitch, const PaletteEntry* sourcePalette, const RECT* sourceRect,
                                   DWORD filter, D3DCOLOR colourKey) {
  if (!destination || !sourcePixels || !sourceRect) return D3DERR_INVALIDCALL;
  if (sourceRect->left < 0 || sourceRect->top < 0 || sourceRect->left > sourceRect->right ||
      sourceRect->top > sourceRect->bottom)
    return D3DERR_INVALIDCALL;
  SurfaceLock lock;
  ImageRegion target{};
  HRESULT hr = lock.Lock(&target, destination, destinationPalette, destinationRect, 0, 0);
  if (FAILED(hr)) return hr;

  ImageRegion source{};
  source.pixels = const_cast<void*>(sourcePixels);
  source.format = sourceFormat;
  source.rowPitch = sourceRowPitch;
  source.slicePitch = 0;
  source.box = ImageBox{static_cast<std::uint32_t>(sourceRect->left),
                        static_cast<std::uint32_t>(sourceRect->top),
                        static_cast<std::uint32_t>(sourceRect->right),
                        static_cast<std::uint32_t>(sourceRect->bottom),
                        0,
                        1};
  source.extent = source.box;
  source.colourKey = colourKey;
  source.palette = sourcePalette;
  ImageBlitter blitter;
  hr = blitter.Run(target, source, ResolveFilter(filter));
  if (FAILED(hr)) {
    lock.Abandon();
    return hr;
  }
  return lock.Unlock();
}

HRESULT GXLImportVolumeFromPixels(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                  const D3DBOX* destinationBox, const void* sourcePixels, D3DFORMAT sourceFormat,
                                  UINT sourceRowPitch, UINT sourceSlicePitch, const PaletteEntry* sourcePalette,
                                  const D3DBOX* sourceBox, DWORD filter, D3DCOLOR colourKey) {
  if (!destination || !sourcePixels || !sourceBox) return D3DERR_INVALIDCALL;
  const D3DBOX& b = *sourceBox;
  if (b.Left > b.Right || b.Top > b.Bottom || b.Front > b.Back) return D3DERR_INVALIDCALL;
  VolumeLock lock;
  ImageRegion target{};
  HRESULT hr = lock.Lock(&target, destination, destinationPalette, destinationBox, 0, 0);
  if (FAILED(hr)) return hr;

  ImageRegion source{};
  source.pixels = const_cast<void*>(sourcePixels);
  source.format = sourceFormat;
  source.rowPitch = sourceRowPitch;
  source.slicePitch = sourceSlicePitch;
  source.box = ImageBox{b.Left, b.Top, b.Right, b.Bottom, b.Front, b.Back};
  source.extent = source.box;
  source.colourKey = colourKey;
  source.palette = sourcePalette;
  ImageBlitter blitter;
  hr = blitter.Run(target, source, ResolveFilter(filter));
  lock.Unlock();
  return hr;
}

HRESULT GXLImportSurfaceFromSurface(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                    const RECT* destinationRect, IDirect3DSurface9* source,
                                    const PaletteEntry* sourcePalette, const RECT* sourceRect, DWORD filter,
                                    D3DCOLOR colourKey) {
  if (!destination || !source) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC to{}, from{};
  HRESULT hr = destination->GetDesc(&to);
  if (SUCCEEDED(hr)) hr = source->GetDesc(&from);
  if (FAILED(hr)) return hr;
  filter = ResolveFilter(filter);

  if ((filter & FilterFlags::FilterMask) != FilterFlags::Box && colourKey == 0 &&
      SamePalette(destinationPalette, sourcePalette) &&
      RectWidth(destinationRect, to.Width) == RectWidth(sourceRect, from.Width) &&
      RectHeight(destinationRect, to.Height) == RectHeight(sourceRect, from.Height) &&
      DeviceCopy(destination, to, destinationRect, source, from, sourceRect))
    return S_OK;

  // Reading and writing one surface: the source is read through a copy.
  SurfaceLock lock;
  ImageRegion region{};
  const std::uint32_t flags = LockFlags::ReadOnly | (source == destination ? LockFlags::Staging : 0);
  hr = lock.Lock(&region, source, sourcePalette, sourceRect, 0, flags);
  if (FAILED(hr)) return hr;
  const RECT box = RectOf(region.box);
  hr = GXLImportSurfaceFromPixels(destination, destinationPalette, destinationRect, region.pixels,
                                  static_cast<D3DFORMAT>(region.format), region.rowPitch, sourcePalette, &box, filter,
                                  colourKey);
  lock.Unlock();
  if (SUCCEEDED(hr) && from.Pool == D3DPOOL_DEFAULT && to.Pool != D3DPOOL_DEFAULT)
    hr = CheckDeviceNotLost(destination);
  return hr;
}

HRESULT GXLImportVolumeFromVolume(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                  const D3DBOX* destinationBox, IDirect3DVolume9* source,
                                  const PaletteEntry* sourcePalette, const D3DBOX* sourceBox, DWORD filter,
                                  D3DCOLOR colourKey) {
  if (!destination || !source) return D3DERR_INVALIDCALL;
  VolumeLock lock;
  ImageRegion region{};
  const std::uint32_t flags = LockFlags::ReadOnly | (source == destination ? LockFlags::Staging : 0);
  HRESULT hr = lock.Lock(&region, source, sourcePalette, sourceBox, 0, flags);
  if (FAILED(hr)) return hr;
  const D3DBOX box{region.box.left,   region.box.top,   region.box.right,
                   region.box.bottom, region.box.front, region.box.back};
  hr = GXLImportVolumeFromPixels(destination, destinationPalette, destinationBox, region.pixels,
                                 static_cast<D3DFORMAT>(region.format), region.rowPitch, region.slicePitch,
                                 sourcePalette, &box, filter, colourKey);
  lock.Unlock();
  return hr;
}

// ---------------------------------------------------------------------------
// Image files

HRESULT GXLImportSurfaceFromFileData(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                     const RECT* destinationRect, const void* data, UINT size, const RECT* sourceRect,
                                     DWORD filter, D3DCOLOR colourKey, ImageInfo* info) {
  if (!destination || !data || !size) return D3DERR_INVALIDCALL;
  DecodedImage image;
  HRESULT hr = image.DecodeImage(data, size, info, true);
  if (FAILED(hr)) return hr;
  RECT rect{0, 0, static_cast<LONG>(image.width), static_cast<LONG>(image.height)};
  if (sourceRect) {
    const RECT& r = *sourceRect;
    if (r.left < 0 || r.left > r.right || r.right > rect.right || r.top < 0 || r.top > r.bottom ||
        r.bottom > rect.bottom)
      return D3DERR_INVALIDCALL;
    rect = r;
  }
  return GXLImportSurfaceFromPixels(destination, destinationPalette, destinationRect, image.pixels, image.format,
                                    image.rowPitch, image.palette, &rect, filter, colourKey);
}

HRESULT GXLImportVolumeFromFileData(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                    const D3DBOX* destinationBox, const void* data, UINT size, const D3DBOX* sourceBox,
                                    DWORD filter, D3DCOLOR colourKey, ImageInfo* info) {
  if (!destination || !data || !size) return D3DERR_INVALIDCALL;
  DecodedImage image;
  HRESULT hr = image.DecodeImage(data, size, info, true);
  if (FAILED(hr)) return hr;
  D3DBOX box{0, 0, image.width, image.height, 0, image.depth};
  if (sourceBox) {
    const D3DBOX& b = *sourceBox;
    if (b.Left > b.Right || b.Right > image.width || b.Top > b.Bottom || b.Bottom > image.height || b.Front > b.Back ||
        b.Back > image.depth)
      return D3DERR_INVALIDCALL;
    box = b;
  }
  return GXLImportVolumeFromPixels(destination, destinationPalette, destinationBox, image.pixels, image.format,
                                   image.rowPitch, image.slicePitch, image.palette, &box, filter, colourKey);
}

HRESULT GXLImportSurfaceFromFileA(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                  const RECT* destinationRect, LPCSTR name, const RECT* sourceRect, DWORD filter,
                                  D3DCOLOR colourKey, ImageInfo* info) {
  return WithFileBytes(name, false, [&](const void* data, UINT size) {
    return GXLImportSurfaceFromFileData(destination, destinationPalette, destinationRect, data, size, sourceRect,
                                        filter, colourKey, info);
  });
}
HRESULT GXLImportSurfaceFromFileW(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                  const RECT* destinationRect, LPCWSTR name, const RECT* sourceRect, DWORD filter,
                                  D3DCOLOR colourKey, ImageInfo* info) {
  return WithFileBytes(name, true, [&](const void* data, UINT size) {
    return GXLImportSurfaceFromFileData(destination, destinationPalette, destinationRect, data, size, sourceRect,
                                        filter, colourKey, info);
  });
}
HRESULT GXLImportSurfaceFromResourceA(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                      const RECT* destinationRect, HMODULE module, LPCSTR name, const RECT* sourceRect,
                                      DWORD filter, D3DCOLOR colourKey, ImageInfo* info) {
  return WithResourceBytes(module, name, false, [&](const void* data, UINT size) {
    return GXLImportSurfaceFromFileData(destination, destinationPalette, destinationRect, data, size, sourceRect,
                                        filter, colourKey, info);
  });
}
HRESULT GXLImportSurfaceFromResourceW(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                      const RECT* destinationRect, HMODULE module, LPCWSTR name, const RECT* sourceRect,
                                      DWORD filter, D3DCOLOR colourKey, ImageInfo* info) {
  return WithResourceBytes(module, name, true, [&](const void* data, UINT size) {
    return GXLImportSurfaceFromFileData(destination, destinationPalette, destinationRect, data, size, sourceRect,
                                        filter, colourKey, info);
  });
}

HRESULT GXLImportVolumeFromFileA(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                 const D3DBOX* destinationBox, LPCSTR name, const D3DBOX* sourceBox, DWORD filter,
                                 D3DCOLOR colourKey, ImageInfo* info) {
  return WithFileBytes(name, false, [&](const void* data, UINT size) {
    return GXLImportVolumeFromFileData(destination, destinationPalette, destinationBox, data, size, sourceBox, filter,
                                       colourKey, info);
  });
}
HRESULT GXLImportVolumeFromFileW(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                 const D3DBOX* destinationBox, LPCWSTR name, const D3DBOX* sourceBox, DWORD filter,
                                 D3DCOLOR colourKey, ImageInfo* info) {
  return WithFileBytes(name, true, [&](const void* data, UINT size) {
    return GXLImportVolumeFromFileData(destination, destinationPalette, destinationBox, data, size, sourceBox, filter,
                                       colourKey, info);
  });
}
HRESULT GXLImportVolumeFromResourceA(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                     const D3DBOX* destinationBox, HMODULE module, LPCSTR name, const D3DBOX* sourceBox,
                                     DWORD filter, D3DCOLOR colourKey, ImageInfo* info) {
  return WithResourceBytes(module, name, false, [&](const void* data, UINT size) {
    return GXLImportVolumeFromFileData(destination, destinationPalette, destinationBox, data, size, sourceBox, filter,
                                       colourKey, info);
  });
}
HRESULT GXLImportVolumeFromResourceW(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                     const D3DBOX* destinationBox, HMODULE module, LPCWSTR name,
                                     const D3DBOX* sourceBox, DWORD filter, D3DCOLOR colourKey, ImageInfo* info) {
  return WithResourceBytes(module, name, true, [&](const void* data, UINT size) {
    return GXLImportVolumeFromFileData(destination, destinationPalette, destinationBox, data, size, sourceBox, filter,
                                       colourKey, info);
  });
}

// ---------------------------------------------------------------------------
// Image information

HRESULT ReadImageInfoFromFileData(const void* data, UINT size, ImageInfo* info) {
  DecodedImage scratch;
  return scratch.DecodeImage(data, size, info, false);
}

HRESULT GXLReadImageInfoFromFileA(LPCSTR name, ImageInfo* info) {
  return WithFileBytes(name, false,
                       [&](const void* data, UINT size) { return ReadImageInfoFromFileData(data, size, info); });
}
HRESULT GXLReadImageInfoFromFileW(LPCWSTR name, ImageInfo* info) {
  return WithFileBytes(name, true,
                       [&](const void* data, UINT size) { return ReadImageInfoFromFileData(data, size, info); });
}
HRESULT GXLReadImageInfoFromResourceA(HMODULE module, LPCSTR name, ImageInfo* info) {
  return WithResourceBytes(module, name, false,
                           [&](const void* data, UINT size) { return ReadImageInfoFromFileData(data, size, info); });
}
HRESULT GXLReadImageInfoFromResourceW(HMODULE module, LPCWSTR name, ImageInfo* info) {
  return WithResourceBytes(module, name, true,
                           [&](const void* data, UINT size) { return ReadImageInfoFromFileData(data, size, info); });
}

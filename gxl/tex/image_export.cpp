// The export entry points: lock what is to be saved, describe it as a chain
// of records and encode it.
#include "gxl/tex/image_export.h"

#include <memory>
#include <new>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/surface_lock.h"
#include "gxl/tex/texture_levels.h"
#include "platform/d3d9_api.h"

using gxl::tex::detail::CheckDeviceNotLost;
using gxl::tex::detail::GetLevelSurface;

namespace {

// Memory exports encode into a buffer of their own and hand it out only when
// everything after the encoding has succeeded too.
class ExportSink {
 public:
  ExportSink(const void* sink, ImageSinkKind kind) : m_sink(sink), m_kind(kind) {}
  ~ExportSink() {
    if (m_buffer) m_buffer->Release();
  }
  ExportSink(const ExportSink&) = delete;
  ExportSink& operator=(const ExportSink&) = delete;

  const void* Target() { return m_kind == ImageSinkKind::Memory ? static_cast<const void*>(&m_buffer) : m_sink; }
  void HandOut() {
    if (m_kind != ImageSinkKind::Memory) return;
    *static_cast<DataBuffer**>(const_cast<void*>(m_sink)) = m_buffer;
    m_buffer = nullptr;
  }

 private:
  const void* m_sink;
  ImageSinkKind m_kind;
  DataBuffer* m_buffer = nullptr;
};

// A surface or volume (`Image`, described by `Desc`) locked read-only with
// `Lock`, encoded, and handed out once the device is seen to have survived
// the read.
template <class Lock, class Desc, class Image, class Area>
HRESULT ExportLocked(const void* sink, ImageFileType type, Image* image, const PaletteEntry* palette,
                     const Area* area, ImageSinkKind kind) {
  if (!sink || !image) return D3DERR_INVALIDCALL;
  Desc desc{};
  HRESULT hr = image->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  Lock lock;
  ImageRegion region{};
  hr = lock.Lock(&region, image, palette, area, 0, LockFlags::ReadOnly);
  if (FAILED(hr)) return hr;
  DecodedImage record;
  record.SetFromRegion(region);
  ExportSink out(sink, kind);
  hr = record.EncodeImage(out.Target(), type, kind);
  if (SUCCEEDED(hr) && desc.Pool == D3DPOOL_DEFAULT) hr = CheckDeviceNotLost(image);
  lock.Unlock();
  if (SUCCEEDED(hr)) out.HandOut();
  return hr;
}

}  // namespace

HRESULT ExportSurfaceImage(const void* sink, ImageFileType type, IDirect3DSurface9* surface,
                           const PaletteEntry* palette, const RECT* rect, ImageSinkKind kind) {
  return ExportLocked<SurfaceLock, D3DSURFACE_DESC>(sink, type, surface, palette, rect, kind);
}

HRESULT ExportVolumeImage(const void* sink, ImageFileType type, IDirect3DVolume9* volume, const PaletteEntry* palette,
                          const D3DBOX* box, ImageSinkKind kind) {
  return ExportLocked<VolumeLock, D3DVOLUME_DESC>(sink, type, volume, palette, box, kind);
}

HRESULT ExportTextureImage(const void* sink, ImageFileType type, IDirect3DBaseTexture9* texture,
                           const PaletteEntry* palette, ImageSinkKind kind) {
  if (!sink || !texture) return D3DERR_INVALIDCALL;
  const D3DRESOURCETYPE resourceType = texture->GetType();
  if (resourceType != D3DRTYPE_TEXTURE && resourceType != D3DRTYPE_VOLUMETEXTURE &&
      resourceType != D3DRTYPE_CUBETEXTURE)
    return D3DERR_INVALIDCALL;
  const bool volume = resourceType == D3DRTYPE_VOLUMETEXTURE;

  D3DPOOL pool;
  HRESULT hr;
  if (volume) {
    D3DVOLUME_DESC desc{};
    hr = static_cast<IDirect3DVolumeTexture9*>(texture)->GetLevelDesc(0, &desc);
    pool = desc.Pool;
  } else {
    D3DSURFACE_DESC desc{};
    hr = resourceType == D3DRTYPE_CUBETEXTURE ? static_cast<IDirect3DCubeTexture9*>(texture)->GetLevelDesc(0, &desc)
                                              : static_cast<IDirect3DTexture9*>(texture)->GetLevelDesc(0, &desc);
    pool = desc.Pool;
  }
  if (FAILED(hr)) return hr;

  const bool everything = type == ImageFileType::Dds;
  const UINT levels = everything ? texture->GetLevelCount() : 1;
  const UINT faces = everything && resourceType == D3DRTYPE_CUBETEXTURE ? 6 : 1;
  const std::size_t holders = std::size_t{levels} * faces;
  std::unique_ptr<SurfaceLock[]> surfaceLocks;
  std::unique_ptr<VolumeLock[]> volumeLocks;
  if (volume)
    volumeLocks.reset(new (std::nothrow) VolumeLock[holders]);
  else
    surfaceLocks.reset(new (std::nothrow) SurfaceLock[holders]);
  if (!surfaceLocks && !volumeLocks) return E_OUTOFMEMORY;

  // Records: levels through nextMip, faces through nextFace; the head is local.
  DecodedImage head;
  DecodedImage* faceHead = &head;
  for (UINT face = 0; face < faces; ++face) {
    if (face) {
      faceHead->nextFace.reset(new (std::nothrow) DecodedImage);
      faceHead = faceHead->nextFace.get();
      if (!faceHead) return E_OUTOFMEMORY;
    }
    DecodedImage* record = faceHead;
    for (UINT level = 0; level < levels; ++level) {
      if (level) {
        record->nextMip.reset(new (std::nothrow) DecodedImage);
        record = record->nextMip.get();
        if (!record) return E_OUTOFMEMORY;
      }
      const std::size_t index = std::size_t{face} * levels + level;
      ImageRegion region{};
      if (volume) {
        IDirect3DVolume9* v = nullptr;
        hr = static_cast<IDirect3DVolumeTexture9*>(texture)->GetVolumeLevel(level, &v);
        if (FAILED(hr)) return hr;
        hr = volumeLocks[index].Lock(&region, v, palette, nullptr, 0, LockFlags::ReadOnly);
        v->Release();
      } else {
        IDirect3DSurface9* s = nullptr;
        hr = GetLevelSurface(texture, resourceType, face, level, &s);
        if (FAILED(hr)) return hr;
        hr = surfaceLocks[index].Lock(&region, s, palette, nullptr, 0, LockFlags::ReadOnly);
        s->Release();
      }
      if (FAILED(hr)) return hr;
      record->SetFromRegion(region);
    }
  }

  ExportSink out(sink, kind);
  hr = head.EncodeImage(out.Target(), type, kind);
  if (SUCCEEDED(hr) && pool == D3DPOOL_DEFAULT) hr = CheckDeviceNotLost(texture);
  surfaceLocks.reset();
  volumeLocks.reset();
  if (SUCCEEDED(hr)) out.HandOut();
  return hr;
}

// ---------------------------------------------------------------------------
// Public entry points

HRESULT GXLExportSurfaceToFileA(LPCSTR name, ImageFileType type, IDirect3DSurface9* surface,
                                const PaletteEntry* palette, const RECT* rect) {
  return ExportSurfaceImage(name, type, surface, palette, rect, ImageSinkKind::FileA);
}
HRESULT GXLExportSurfaceToFileW(LPCWSTR name, ImageFileType type, IDirect3DSurface9* surface,
                                const PaletteEntry* palette, const RECT* rect) {
  return ExportSurfaceImage(name, type, surface, palette, rect, ImageSinkKind::FileW);
}
HRESULT GXLExportSurfaceToMemory(DataBuffer** out, ImageFileType type, IDirect3DSurface9* surface,
                                 const PaletteEntry* palette, const RECT* rect) {
  return ExportSurfaceImage(out, type, surface, palette, rect, ImageSinkKind::Memory);
}

HRESULT GXLExportVolumeToFileA(LPCSTR name, ImageFileType type, IDirect3DVolume9* volume, const PaletteEntry* palette,
                               const D3DBOX* box) {
  return ExportVolumeImage(name, type, volume, palette, box, ImageSinkKind::FileA);
}
HRESULT GXLExportVolumeToFileW(LPCWSTR name, ImageFileType type, IDirect3DVolume9* volume, const PaletteEntry* palette,
                               const D3DBOX* box) {
  return ExportVolumeImage(name, type, volume, palette, box, ImageSinkKind::FileW);
}
HRESULT GXLExportVolumeToMemory(DataBuffer** out, ImageFileType type, IDirect3DVolume9* volume,
                                const PaletteEntry* palette, const D3DBOX* box) {
  return ExportVolumeImage(out, type, volume, palette, box, ImageSinkKind::Memory);
}

HRESULT GXLExportTextureToFileA(LPCSTR name, ImageFileType type, IDirect3DBaseTexture9* texture,
                                const PaletteEntry* palette) {
  return ExportTextureImage(name, type, texture, palette, ImageSinkKind::FileA);
}
HRESULT GXLExportTextureToFileW(LPCWSTR name, ImageFileType type, IDirect3DBaseTexture9* texture,
                                const PaletteEntry* palette) {
  return ExportTextureImage(name, type, texture, palette, ImageSinkKind::FileW);
}
HRESULT GXLExportTextureToMemory(DataBuffer** out, ImageFileType type, IDirect3DBaseTexture9* texture,
                                 const PaletteEntry* palette) {
  return ExportTextureImage(out, type, texture, palette, ImageSinkKind::Memory);
}

// The public texture-creation entry points: memory, file and resource
// sources over BuildTextureFromFileData, and their forms with defaults.
#include "gxl/tex/file_source.h"
#include "gxl/tex/texture_build.h"
#include "platform/d3d9_api.h"

using gxl::tex::detail::WithFileBytes;
using gxl::tex::detail::WithResourceBytes;

namespace {

// The core's texture as the kind the caller asked for.
template <class T>
HRESULT Build(IDirect3DDevice9* device, const void* data, UINT size, UINT width, UINT height, UINT depth, UINT levels,
              DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
              ImageInfo* info, PaletteEntry* palette, D3DRESOURCETYPE type, T** out) {
  IDirect3DBaseTexture9* texture = nullptr;
  const HRESULT hr =
      BuildTextureFromFileData(device, data, size, width, height, depth, levels, usage, format, pool, filter, mipFilter,
                               colourKey, info, palette, type, out ? &texture : nullptr);
  if (SUCCEEDED(hr)) *out = static_cast<T*>(texture);
  return hr;
}

constexpr D3DPOOL kDefaultPool = D3DPOOL_MANAGED;

}  // namespace

HRESULT GXLBuildTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT width, UINT height,
                                    UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                    DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                    IDirect3DTexture9** out) {
  return Build(device, data, size, width, height, 1, levels, usage, format, pool, filter, mipFilter, colourKey, info,
               palette, D3DRTYPE_TEXTURE, out);
}

HRESULT GXLBuildCubeTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT edge, UINT levels,
                                        DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                        D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                        IDirect3DCubeTexture9** out) {
  return Build(device, data, size, edge, edge, 1, levels, usage, format, pool, filter, mipFilter, colourKey, info,
               palette, D3DRTYPE_CUBETEXTURE, out);
}

HRESULT GXLBuildVolumeTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                          UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                          D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                          ImageInfo* info, PaletteEntry* palette, IDirect3DVolumeTexture9** out) {
  return Build(device, data, size, width, height, depth, levels, usage, format, pool, filter, mipFilter, colourKey,
               info, palette, D3DRTYPE_VOLUMETEXTURE, out);
}

// Texture from files and resources.
HRESULT GXLBuildTextureFromFileA(IDirect3DDevice9* device, LPCSTR name, UINT width, UINT height, UINT levels,
                                 DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                 D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette, IDirect3DTexture9** out) {
  return WithFileBytes(name, false, [&](const void* data, UINT size) {
    return GXLBuildTextureFromFileData(device, data, size, width, height, levels, usage, format, pool, filter,
                                       mipFilter, colourKey, info, palette, out);
  });
}
HRESULT GXLBuildTextureFromFileW(IDirect3DDevice9* device, LPCWSTR name, UINT width, UINT height, UINT levels,
                                 DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                 D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette, IDirect3DTexture9** out) {
  return WithFileBytes(name, true, [&](const void* data, UINT size) {
    return GXLBuildTextureFromFileData(device, data, size, width, height, levels, usage, format, pool, filter,
                                       mipFilter, colourKey, info, palette, out);
  });
}
HRESULT GXLBuildTextureFromResourceA(IDirect3DDevice9* device, HMODULE module, LPCSTR name, UINT width, UINT height,
                                     UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                     IDirect3DTexture9** out) {
  return WithResourceBytes(module, name, false, [&](const void* data, UINT size) {
    return GXLBuildTextureFromFileData(device, data, size, width, height, levels, usage, format, pool, filter,
                                       mipFilter, colourKey, info, palette, out);
  });
}
HRESULT GXLBuildTextureFromResourceW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name, UINT width, UINT height,
                                     UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                     IDirect3DTexture9** out) {
  return WithResourceBytes(module, name, true, [&](const void* data, UINT size) {
    return GXLBuildTextureFromFileData(device, data, size, width, height, levels, usage, format, pool, filter,
                                       mipFilter, colourKey, info, palette, out);
  });
}

// CubeTexture from files and resources.
HRESULT GXLBuildCubeTextureFromFileA(IDirect3DDevice9* device, LPCSTR name, UINT edge, UINT levels, DWORD usage,
                                     D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                     ImageInfo* info, PaletteEntry* palette, IDirect3DCubeTexture9** out) {
  return WithFileBytes(name, false, [&](const void* data, UINT size) {
    return GXLBuildCubeTextureFromFileData(device, data, size, edge, levels, usage, format, pool, filter, mipFilter,
                                           colourKey, info, palette, out);
  });
}
HRESULT GXLBuildCubeTextureFromFileW(IDirect3DDevice9* device, LPCWSTR name, UINT edge, UINT levels, DWORD usage,
                                     D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                     ImageInfo* info, PaletteEntry* palette, IDirect3DCubeTexture9** out) {
  return WithFileBytes(name, true, [&](const void* data, UINT size) {
    return GXLBuildCubeTextureFromFileData(device, data, size, edge, levels, usage, format, pool, filter, mipFilter,
                                           colourKey, info, palette, out);
  });
}
HRESULT GXLBuildCubeTextureFromResourceA(IDirect3DDevice9* device, HMODULE module, LPCSTR name, UINT edge, UINT levels,
                                         DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                         D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                         IDirect3DCubeTexture9** out) {
  return WithResourceBytes(module, name, false, [&](const void* data, UINT size) {
    return GXLBuildCubeTextureFromFileData(device, data, size, edge, levels, usage, format, pool, filter, mipFilter,
                                           colourKey, info, palette, out);
  });
}
HRESULT GXLBuildCubeTextureFromResourceW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name, UINT edge, UINT levels,
                                         DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                         D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                         IDirect3DCubeTexture9** out) {
  return WithResourceBytes(module, name, true, [&](const void* data, UINT size) {
    return GXLBuildCubeTextureFromFileData(device, data, size, edge, levels, usage, format, pool, filter, mipFilter,
                                           colourKey, info, palette, out);
  });
}

// VolumeTexture from files and resources.
HRESULT GXLBuildVolumeTextureFromFileA(IDirect3DDevice9* device, LPCSTR name, UINT width, UINT height, UINT depth,
                                       UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                       DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                       IDirect3DVolumeTexture9** out) {
  return WithFileBytes(name, false, [&](const void* data, UINT size) {
    return GXLBuildVolumeTextureFromFileData(device, data, size, width, height, depth, levels, usage, format, pool,
                                             filter, mipFilter, colourKey, info, palette, out);
  });
}
HRESULT GXLBuildVolumeTextureFromFileW(IDirect3DDevice9* device, LPCWSTR name, UINT width, UINT height, UINT depth,
                                       UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                       DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                       IDirect3DVolumeTexture9** out) {
  return WithFileBytes(name, true, [&](const void* data, UINT size) {
    return GXLBuildVolumeTextureFromFileData(device, data, size, width, height, depth, levels, usage, format, pool,
                                             filter, mipFilter, colourKey, info, palette, out);
  });
}
HRESULT GXLBuildVolumeTextureFromResourceA(IDirect3DDevice9* device, HMODULE module, LPCSTR name, UINT width,
                                           UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                           D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                           ImageInfo* info, PaletteEntry* palette, IDirect3DVolumeTexture9** out) {
  return WithResourceBytes(module, name, false, [&](const void* data, UINT size) {
    return GXLBuildVolumeTextureFromFileData(device, data, size, width, height, depth, levels, usage, format, pool,
                                             filter, mipFilter, colourKey, info, palette, out);
  });
}
HRESULT GXLBuildVolumeTextureFromResourceW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name, UINT width,
                                           UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                           D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                           ImageInfo* info, PaletteEntry* palette, IDirect3DVolumeTexture9** out) {
  return WithResourceBytes(module, name, true, [&](const void* data, UINT size) {
    return GXLBuildVolumeTextureFromFileData(device, data, size, width, height, depth, levels, usage, format, pool,
                                             filter, mipFilter, colourKey, info, palette, out);
  });
}

// The forms with defaults.
HRESULT GXLBuildTextureFromFileDataDefaults(IDirect3DDevice9* device, const void* data, UINT size,
                                            IDirect3DTexture9** out) {
  return GXLBuildTextureFromFileData(device, data, size, kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN,
                                     kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildTextureFromFileDefaultsA(IDirect3DDevice9* device, LPCSTR name, IDirect3DTexture9** out) {
  return GXLBuildTextureFromFileA(device, name, kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN, kDefaultPool,
                                  kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildTextureFromFileDefaultsW(IDirect3DDevice9* device, LPCWSTR name, IDirect3DTexture9** out) {
  return GXLBuildTextureFromFileW(device, name, kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN, kDefaultPool,
                                  kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildTextureFromResourceDefaultsA(IDirect3DDevice9* device, HMODULE module, LPCSTR name,
                                             IDirect3DTexture9** out) {
  return GXLBuildTextureFromResourceA(device, module, name, kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN,
                                      kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildTextureFromResourceDefaultsW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name,
                                             IDirect3DTexture9** out) {
  return GXLBuildTextureFromResourceW(device, module, name, kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN,
                                      kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildCubeTextureFromFileDataDefaults(IDirect3DDevice9* device, const void* data, UINT size,
                                                IDirect3DCubeTexture9** out) {
  return GXLBuildCubeTextureFromFileData(device, data, size, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN, kDefaultPool,
                                         kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildCubeTextureFromFileDefaultsA(IDirect3DDevice9* device, LPCSTR name, IDirect3DCubeTexture9** out) {
  return GXLBuildCubeTextureFromFileA(device, name, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN, kDefaultPool,
                                      kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildCubeTextureFromFileDefaultsW(IDirect3DDevice9* device, LPCWSTR name, IDirect3DCubeTexture9** out) {
  return GXLBuildCubeTextureFromFileW(device, name, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN, kDefaultPool,
                                      kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildCubeTextureFromResourceDefaultsA(IDirect3DDevice9* device, HMODULE module, LPCSTR name,
                                                 IDirect3DCubeTexture9** out) {
  return GXLBuildCubeTextureFromResourceA(device, module, name, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN,
                                          kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildCubeTextureFromResourceDefaultsW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name,
                                                 IDirect3DCubeTexture9** out) {
  return GXLBuildCubeTextureFromResourceW(device, module, name, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN,
                                          kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, out);
}
HRESULT GXLBuildVolumeTextureFromFileDataDefaults(IDirect3DDevice9* device, const void* data, UINT size,
                                                  IDirect3DVolumeTexture9** out) {
  return GXLBuildVolumeTextureFromFileData(device, data, size, kGxlDefault, kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                           D3DFMT_UNKNOWN, kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr,
                                           out);
}
HRESULT GXLBuildVolumeTextureFromFileDefaultsA(IDirect3DDevice9* device, LPCSTR name, IDirect3DVolumeTexture9** out) {
  return GXLBuildVolumeTextureFromFileA(device, name, kGxlDefault, kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                        D3DFMT_UNKNOWN, kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr,
                                        out);
}
HRESULT GXLBuildVolumeTextureFromFileDefaultsW(IDirect3DDevice9* device, LPCWSTR name, IDirect3DVolumeTexture9** out) {
  return GXLBuildVolumeTextureFromFileW(device, name, kGxlDefault, kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                        D3DFMT_UNKNOWN, kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr,
                                        out);
}
HRESULT GXLBuildVolumeTextureFromResourceDefaultsA(IDirect3DDevice9* device, HMODULE module, LPCSTR name,
                                                   IDirect3DVolumeTexture9** out) {
  return GXLBuildVolumeTextureFromResourceA(device, module, name, kGxlDefault, kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                            D3DFMT_UNKNOWN, kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr,
                                            out);
}
HRESULT GXLBuildVolumeTextureFromResourceDefaultsW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name,
                                                   IDirect3DVolumeTexture9** out) {
  return GXLBuildVolumeTextureFromResourceW(device, module, name, kGxlDefault, kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                            D3DFMT_UNKNOWN, kDefaultPool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr,
                                            out);
}

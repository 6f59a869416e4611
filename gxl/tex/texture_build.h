// Creating textures from image files: decode, fit the size, level count and
// format to the device, create, copy every decoded level and face in, and
// filter the levels the file lacks.
#pragma once

#include "gxl/tex/image_info.h"
#include "gxl/tex/image_region.h"
#include "platform/d3d9_types.h"

struct IDirect3DDevice9;
struct IDirect3DBaseTexture9;
struct IDirect3DTexture9;
struct IDirect3DCubeTexture9;
struct IDirect3DVolumeTexture9;

// Special values of the size, depth and level arguments (and of a filter).
// Sizes: 0 or kGxlDefault ask for the file's value rounded up to a power of
// two; kGxlDefaultNonPow2 for the file's value; kGxlFromFile for the file's
// value exactly, failing with D3DERR_NOTAVAILABLE when the device cannot take
// it. Levels: kGxlFromFile asks for the file's level count, 0 and kGxlDefault
// for a full chain. Formats: 0 asks for the file's, kGxlFormatFromFile for
// exactly the file's. A filter of kGxlDefault is the default filter.
constexpr UINT kGxlDefault = 0xFFFFFFFFu;
constexpr UINT kGxlDefaultNonPow2 = 0xFFFFFFFEu;
constexpr UINT kGxlFromFile = 0xFFFFFFFDu;
constexpr D3DFORMAT kGxlFormatFromFile = static_cast<D3DFORMAT>(0xFFFFFFFDu);
// A resource type argument asking for the file's own.
constexpr DWORD kGxlResourceTypeFromFile = 0xFFFFFFFFu;

// The core. The default filter is the triangle filter with ordered dither;
// the default mip filter the box filter. A nonzero colour key (A8R8G8B8)
// makes texels of that colour transparent black. palette (256 entries) or
// null receives the palette the texture's texels refer to. resourceType is
// 3, 4 or 5 (or kGxlResourceTypeFromFile). The new texture is in the
// requested pool. D3DERR_INVALIDCALL for a null device, data, out or size 0;
// E_FAIL for a cube request on a file without six faces; E_OUTOFMEMORY for a
// PNG, JPEG or HDR file of more texels than the device's largest texture
// (outside the scratch pool); decoding, fitting, device and conversion
// failures pass through. On failure nothing is handed
// out and everything made is released.
HRESULT BuildTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT width, UINT height,
                                 UINT depth, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                 DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                 DWORD resourceType, IDirect3DBaseTexture9** out);

// 2-D textures.
HRESULT GXLBuildTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT width, UINT height,
                                    UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                    DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                    IDirect3DTexture9** out);
HRESULT GXLBuildTextureFromFileA(IDirect3DDevice9* device, LPCSTR name, UINT width, UINT height, UINT levels,
                                 DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                 D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette, IDirect3DTexture9** out);
HRESULT GXLBuildTextureFromFileW(IDirect3DDevice9* device, LPCWSTR name, UINT width, UINT height, UINT levels,
                                 DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                 D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette, IDirect3DTexture9** out);
HRESULT GXLBuildTextureFromResourceA(IDirect3DDevice9* device, HMODULE module, LPCSTR name, UINT width, UINT height,
                                     UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                     IDirect3DTexture9** out);
HRESULT GXLBuildTextureFromResourceW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name, UINT width, UINT height,
                                     UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                     IDirect3DTexture9** out);

// Cube textures: one edge length serves as width and height.
HRESULT GXLBuildCubeTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT edge, UINT levels,
                                        DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                        D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                        IDirect3DCubeTexture9** out);
HRESULT GXLBuildCubeTextureFromFileA(IDirect3DDevice9* device, LPCSTR name, UINT edge, UINT levels, DWORD usage,
                                     D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                     ImageInfo* info, PaletteEntry* palette, IDirect3DCubeTexture9** out);
HRESULT GXLBuildCubeTextureFromFileW(IDirect3DDevice9* device, LPCWSTR name, UINT edge, UINT levels, DWORD usage,
                                     D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                     ImageInfo* info, PaletteEntry* palette, IDirect3DCubeTexture9** out);
HRESULT GXLBuildCubeTextureFromResourceA(IDirect3DDevice9* device, HMODULE module, LPCSTR name, UINT edge, UINT levels,
                                         DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                         D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                         IDirect3DCubeTexture9** out);
HRESULT GXLBuildCubeTextureFromResourceW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name, UINT edge, UINT levels,
                                         DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                         D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                         IDirect3DCubeTexture9** out);

// Volume textures.
HRESULT GXLBuildVolumeTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                          UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                          D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                          ImageInfo* info, PaletteEntry* palette, IDirect3DVolumeTexture9** out);
HRESULT GXLBuildVolumeTextureFromFileA(IDirect3DDevice9* device, LPCSTR name, UINT width, UINT height, UINT depth,
                                       UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                       DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                       IDirect3DVolumeTexture9** out);
HRESULT GXLBuildVolumeTextureFromFileW(IDirect3DDevice9* device, LPCWSTR name, UINT width, UINT height, UINT depth,
                                       UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                       DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                       IDirect3DVolumeTexture9** out);
HRESULT GXLBuildVolumeTextureFromResourceA(IDirect3DDevice9* device, HMODULE module, LPCSTR name, UINT width,
                                           UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                           D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                           ImageInfo* info, PaletteEntry* palette, IDirect3DVolumeTexture9** out);
HRESULT GXLBuildVolumeTextureFromResourceW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name, UINT width,
                                           UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                           D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey,
                                           ImageInfo* info, PaletteEntry* palette, IDirect3DVolumeTexture9** out);

// The same with the defaults: sizes and levels kGxlDefault, depth 1 (volumes:
// the default), usage 0, the file's format, the managed pool, default
// filters, no colour key, no information, no palette.
HRESULT GXLBuildTextureFromFileDataDefaults(IDirect3DDevice9* device, const void* data, UINT size,
                                            IDirect3DTexture9** out);
HRESULT GXLBuildCubeTextureFromFileDataDefaults(IDirect3DDevice9* device, const void* data, UINT size,
                                                IDirect3DCubeTexture9** out);
HRESULT GXLBuildVolumeTextureFromFileDataDefaults(IDirect3DDevice9* device, const void* data, UINT size,
                                                  IDirect3DVolumeTexture9** out);
HRESULT GXLBuildTextureFromFileDefaultsA(IDirect3DDevice9* device, LPCSTR name, IDirect3DTexture9** out);
HRESULT GXLBuildTextureFromFileDefaultsW(IDirect3DDevice9* device, LPCWSTR name, IDirect3DTexture9** out);
HRESULT GXLBuildTextureFromResourceDefaultsA(IDirect3DDevice9* device, HMODULE module, LPCSTR name,
                                             IDirect3DTexture9** out);
HRESULT GXLBuildTextureFromResourceDefaultsW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name,
                                             IDirect3DTexture9** out);
HRESULT GXLBuildCubeTextureFromFileDefaultsA(IDirect3DDevice9* device, LPCSTR name, IDirect3DCubeTexture9** out);
HRESULT GXLBuildCubeTextureFromFileDefaultsW(IDirect3DDevice9* device, LPCWSTR name, IDirect3DCubeTexture9** out);
HRESULT GXLBuildCubeTextureFromResourceDefaultsA(IDirect3DDevice9* device, HMODULE module, LPCSTR name,
                                                 IDirect3DCubeTexture9** out);
HRESULT GXLBuildCubeTextureFromResourceDefaultsW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name,
                                                 IDirect3DCubeTexture9** out);
HRESULT GXLBuildVolumeTextureFromFileDefaultsA(IDirect3DDevice9* device, LPCSTR name, IDirect3DVolumeTexture9** out);
HRESULT GXLBuildVolumeTextureFromFileDefaultsW(IDirect3DDevice9* device, LPCWSTR name, IDirect3DVolumeTexture9** out);
HRESULT GXLBuildVolumeTextureFromResourceDefaultsA(IDirect3DDevice9* device, HMODULE module, LPCSTR name,
                                                   IDirect3DVolumeTexture9** out);
HRESULT GXLBuildVolumeTextureFromResourceDefaultsW(IDirect3DDevice9* device, HMODULE module, LPCWSTR name,
                                                   IDirect3DVolumeTexture9** out);

// Fills every level after sourceLevel (kGxlDefault: 0) of every face from the
// level above it (point and box filters) or from the source level (other
// filters). A filter of kGxlDefault is the box filter when level 0's sizes
// are powers of two, the triangle filter with ordered dither otherwise; cube
// faces never wrap. D3DERR_INVALIDCALL for a null texture, a resource type
// other than 2-D, cube or volume texture, or a source level beyond the last.
HRESULT GXLRebuildMipChain(IDirect3DBaseTexture9* texture, const PaletteEntry* palette, UINT sourceLevel, DWORD filter);

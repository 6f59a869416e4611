// Copying pixels, another surface or volume, or an image file into an
// existing surface or volume through the blitter, and reading an image file's
// description without its pixels.
//
// A null destination rectangle or box means the whole surface or volume; a
// filter of kGxlDefault (texture_build.h) means the triangle filter with
// ordered dither; a nonzero colour key (A8R8G8B8) reads as transparent black.
// When a conversion fails the destination keeps what it held.
#pragma once

#include "gxl/tex/image_info.h"
#include "gxl/tex/image_region.h"
#include "platform/d3d9_types.h"

struct IDirect3DSurface9;
struct IDirect3DVolume9;

// The source rectangle (or box) is counted from sourcePixels and must not be
// inverted. D3DERR_INVALIDCALL for a null destination, source or rectangle;
// lock and blitter failures pass through.
HRESULT GXLImportSurfaceFromPixels(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                   const RECT* destinationRect, const void* sourcePixels, D3DFORMAT sourceFormat,
                                   UINT sourceRowPitch, const PaletteEntry* sourcePalette, const RECT* sourceRect,
                                   DWORD filter, D3DCOLOR colourKey);
HRESULT GXLImportVolumeFromPixels(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                  const D3DBOX* destinationBox, const void* sourcePixels, D3DFORMAT sourceFormat,
                                  UINT sourceRowPitch, UINT sourceSlicePitch, const PaletteEntry* sourcePalette,
                                  const D3DBOX* sourceBox, DWORD filter, D3DCOLOR colourKey);

// Same-size copies without a box filter, colour key or palette change go
// through the device when it can do them. D3DERR_DEVICELOST when a
// default-pool source was read from a lost device into another pool.
HRESULT GXLImportSurfaceFromSurface(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                    const RECT* destinationRect, IDirect3DSurface9* source,
                                    const PaletteEntry* sourcePalette, const RECT* sourceRect, DWORD filter,
                                    D3DCOLOR colourKey);
HRESULT GXLImportVolumeFromVolume(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                  const D3DBOX* destinationBox, IDirect3DVolume9* source,
                                  const PaletteEntry* sourcePalette, const D3DBOX* sourceBox, DWORD filter,
                                  D3DCOLOR colourKey);

// The top level of an image file. A source rectangle (or box) must lie within
// the image; null means the whole. D3DERR_INVALIDCALL for a null destination
// or data, size 0 or a rectangle outside the image.
HRESULT GXLImportSurfaceFromFileData(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                     const RECT* destinationRect, const void* data, UINT size, const RECT* sourceRect,
                                     DWORD filter, D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportSurfaceFromFileA(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                  const RECT* destinationRect, LPCSTR name, const RECT* sourceRect, DWORD filter,
                                  D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportSurfaceFromFileW(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                  const RECT* destinationRect, LPCWSTR name, const RECT* sourceRect, DWORD filter,
                                  D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportSurfaceFromResourceA(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                      const RECT* destinationRect, HMODULE module, LPCSTR name, const RECT* sourceRect,
                                      DWORD filter, D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportSurfaceFromResourceW(IDirect3DSurface9* destination, const PaletteEntry* destinationPalette,
                                      const RECT* destinationRect, HMODULE module, LPCWSTR name, const RECT* sourceRect,
                                      DWORD filter, D3DCOLOR colourKey, ImageInfo* info);

HRESULT GXLImportVolumeFromFileData(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                    const D3DBOX* destinationBox, const void* data, UINT size, const D3DBOX* sourceBox,
                                    DWORD filter, D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportVolumeFromFileA(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                 const D3DBOX* destinationBox, LPCSTR name, const D3DBOX* sourceBox, DWORD filter,
                                 D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportVolumeFromFileW(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                 const D3DBOX* destinationBox, LPCWSTR name, const D3DBOX* sourceBox, DWORD filter,
                                 D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportVolumeFromResourceA(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                     const D3DBOX* destinationBox, HMODULE module, LPCSTR name, const D3DBOX* sourceBox,
                                     DWORD filter, D3DCOLOR colourKey, ImageInfo* info);
HRESULT GXLImportVolumeFromResourceW(IDirect3DVolume9* destination, const PaletteEntry* destinationPalette,
                                     const D3DBOX* destinationBox, HMODULE module, LPCWSTR name,
                                     const D3DBOX* sourceBox, DWORD filter, D3DCOLOR colourKey, ImageInfo* info);

// The header only: size, depth, level count, format and types.
HRESULT ReadImageInfoFromFileData(const void* data, UINT size, ImageInfo* info);
HRESULT GXLReadImageInfoFromFileA(LPCSTR name, ImageInfo* info);
HRESULT GXLReadImageInfoFromFileW(LPCWSTR name, ImageInfo* info);
HRESULT GXLReadImageInfoFromResourceA(HMODULE module, LPCSTR name, ImageInfo* info);
HRESULT GXLReadImageInfoFromResourceW(HMODULE module, LPCWSTR name, ImageInfo* info);

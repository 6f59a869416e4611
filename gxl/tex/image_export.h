// Saving surfaces, volumes and textures as image files, on disk or in memory.
// A rectangle or box of null means the whole surface or volume. Memory
// exports hand out a new DataBuffer of exactly the encoded bytes, and only
// when the whole export succeeded; on failure the out pointer is not touched.
#pragma once

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/image_info.h"
#include "gxl/tex/image_region.h"
#include "platform/d3d9_types.h"

class DataBuffer;
struct IDirect3DSurface9;
struct IDirect3DVolume9;
struct IDirect3DBaseTexture9;

// The cores: the sink is a file name (8-bit or UTF-16) or a DataBuffer**, as
// the kind says. D3DERR_INVALIDCALL for a null sink or object and for a
// texture that is not a 2-D, cube or volume texture; D3DERR_DEVICELOST when a
// default-pool object was read from a lost device; encoding failures pass through.
HRESULT ExportSurfaceImage(const void* sink, ImageFileType type, IDirect3DSurface9* surface,
                           const PaletteEntry* palette, const RECT* rect, ImageSinkKind kind);
HRESULT ExportVolumeImage(const void* sink, ImageFileType type, IDirect3DVolume9* volume, const PaletteEntry* palette,
                          const D3DBOX* box, ImageSinkKind kind);
// DDS files take every level and face; other types level 0 of the first face.
HRESULT ExportTextureImage(const void* sink, ImageFileType type, IDirect3DBaseTexture9* texture,
                           const PaletteEntry* palette, ImageSinkKind kind);

HRESULT GXLExportSurfaceToFileA(LPCSTR name, ImageFileType type, IDirect3DSurface9* surface,
                                const PaletteEntry* palette, const RECT* rect);
HRESULT GXLExportSurfaceToFileW(LPCWSTR name, ImageFileType type, IDirect3DSurface9* surface,
                                const PaletteEntry* palette, const RECT* rect);
HRESULT GXLExportSurfaceToMemory(DataBuffer** out, ImageFileType type, IDirect3DSurface9* surface,
                                 const PaletteEntry* palette, const RECT* rect);

HRESULT GXLExportVolumeToFileA(LPCSTR name, ImageFileType type, IDirect3DVolume9* volume, const PaletteEntry* palette,
                               const D3DBOX* box);
HRESULT GXLExportVolumeToFileW(LPCWSTR name, ImageFileType type, IDirect3DVolume9* volume, const PaletteEntry* palette,
                               const D3DBOX* box);
HRESULT GXLExportVolumeToMemory(DataBuffer** out, ImageFileType type, IDirect3DVolume9* volume,
                                const PaletteEntry* palette, const D3DBOX* box);

HRESULT GXLExportTextureToFileA(LPCSTR name, ImageFileType type, IDirect3DBaseTexture9* texture,
                                const PaletteEntry* palette);
HRESULT GXLExportTextureToFileW(LPCWSTR name, ImageFileType type, IDirect3DBaseTexture9* texture,
                                const PaletteEntry* palette);
HRESULT GXLExportTextureToMemory(DataBuffer** out, ImageFileType type, IDirect3DBaseTexture9* texture,
                                 const PaletteEntry* palette);

// Fitting a texture request (size, depth, levels, usage, format, pool) to what a
// device accepts, and the public fitting and fitted-creation entry points.
#pragma once

#include "platform/d3d9_types.h"

struct IDirect3DDevice9;
struct IDirect3DTexture9;
struct IDirect3DCubeTexture9;
struct IDirect3DVolumeTexture9;

// Usage bits a request may carry: render target, depth stencil, software
// processing, dynamic, auto-generated mipmaps, displacement map, the query bits.
constexpr DWORD kFitUsageMask = 0x1FC613;
// The query bits, which creation calls never receive.
constexpr DWORD kUsageQueryBits = 0x1F8000;

// Adjusts the request in place for the device and resource type (3 texture, 4
// volume, 5 cube). Each pointer may be null: a null size, depth or level count
// reads as -1 (the default), a null format as 0; nothing is written to it.
// Sizes of -1 take the other size, or 256 when both are -1; 0 becomes 1; level
// counts of 0 or -1 ask for the full chain. D3DERR_INVALIDCALL for a null
// device, usage outside kFitUsageMask (usage -1 counts as 0) or a pool above 3;
// D3DERR_NOTAVAILABLE when no format fits or a size cannot be rounded as the
// device needs within 32 bits. Nothing is written on failure.
HRESULT FitResourceParameters(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth, UINT* levels,
                              DWORD usage, D3DFORMAT* format, D3DPOOL pool, D3DRESOURCETYPE type);

HRESULT GXLFitTextureParameters(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* levels, DWORD usage,
                                D3DFORMAT* format, D3DPOOL pool);
// The one size serves as width and height.
HRESULT GXLFitCubeTextureParameters(IDirect3DDevice9* device, UINT* size, UINT* levels, DWORD usage,
                                    D3DFORMAT* format, D3DPOOL pool);
HRESULT GXLFitVolumeTextureParameters(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth,
                                      UINT* levels, DWORD usage, D3DFORMAT* format, D3DPOOL pool);

// Fit, then create with the device (usage without the query bits). A null device
// or out pointer gives D3DERR_INVALIDCALL; fitting and device failures pass through.
HRESULT GXLCreateFittedTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels, DWORD usage,
                               D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** out);
HRESULT GXLCreateFittedCubeTexture(IDirect3DDevice9* device, UINT size, UINT levels, DWORD usage,
                                   D3DFORMAT format, D3DPOOL pool, IDirect3DCubeTexture9** out);
HRESULT GXLCreateFittedVolumeTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT depth, UINT levels,
                                     DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** out);

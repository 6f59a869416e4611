// The Direct3D 9 interfaces the system calls: the Direct3D object, the device,
// its resources, state blocks and vertex declarations, with their interface ids
// and result codes. One software device stands behind them (platform/src/d3d9).
//
// Interfaces are plain abstract classes with QueryInterface, AddRef and Release
// first. Calls belong to the thread that created the device.
#pragma once

#include "platform/com.h"
#include "platform/d3d9_caps.h"
#include "platform/d3d9_types.h"

// ---------------------------------------------------------------------------
// Result codes
constexpr HRESULT D3D_OK = S_OK;
constexpr HRESULT D3DOK_NOAUTOGEN = (HRESULT)0x0876086Fu;
constexpr HRESULT D3DERR_WRONGTEXTUREFORMAT = (HRESULT)0x88760818u;
constexpr HRESULT D3DERR_UNSUPPORTEDCOLOROPERATION = (HRESULT)0x88760819u;
constexpr HRESULT D3DERR_UNSUPPORTEDTEXTUREFILTER = (HRESULT)0x88760826u;
constexpr HRESULT D3DERR_DRIVERINTERNALERROR = (HRESULT)0x88760827u;
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = (HRESULT)0x8876017Cu;
constexpr HRESULT D3DERR_WASSTILLDRAWING = (HRESULT)0x8876021Cu;
constexpr HRESULT D3DERR_INVALIDDEVICE = (HRESULT)0x88760865u;
constexpr HRESULT D3DERR_NOTFOUND = (HRESULT)0x88760866u;
constexpr HRESULT D3DERR_MOREDATA = (HRESULT)0x88760867u;
constexpr HRESULT D3DERR_DEVICELOST = (HRESULT)0x88760868u;
constexpr HRESULT D3DERR_DEVICENOTRESET = (HRESULT)0x88760869u;
constexpr HRESULT D3DERR_NOTAVAILABLE = (HRESULT)0x8876086Au;
constexpr HRESULT D3DERR_INVALIDCALL = (HRESULT)0x8876086Cu;

constexpr UINT D3D_SDK_VERSION = 32;

// ---------------------------------------------------------------------------
// Interface ids. IID_IDirect3DTexture9 has the value its callers quote; the
// others are this platform's own.
inline constexpr IID IID_IDirect3DTexture9 = {
    0x85C31227, 0x3DE5, 0x4F00, {0x9B, 0x3A, 0xF1, 0x1A, 0xC3, 0x8C, 0x18, 0xB5}};
inline constexpr IID IID_IDirect3D9 = {0x19016696, 0xAE29, 0x42F7, {0xA8, 0xD3, 0xE7, 0x81, 0xB3, 0xCF, 0x63, 0x18}};
inline constexpr IID IID_IDirect3DDevice9 = {
    0x7559C072, 0x2542, 0x4B5D, {0x9C, 0xA6, 0x3B, 0x4E, 0xA6, 0x80, 0x11, 0xE2}};
inline constexpr IID IID_IDirect3DResource9 = {
    0xD4A6A990, 0xE8C8, 0x4141, {0xB1, 0x86, 0xDC, 0x80, 0x01, 0xE1, 0x71, 0x73}};
inline constexpr IID IID_IDirect3DBaseTexture9 = {
    0xE6F145BC, 0xA44C, 0x423B, {0x8E, 0x91, 0x69, 0xD3, 0xEF, 0x5A, 0x7F, 0x1E}};
inline constexpr IID IID_IDirect3DCubeTexture9 = {
    0x0A09BCEB, 0x237E, 0x4248, {0x8A, 0xBC, 0x07, 0x2A, 0x93, 0x30, 0xBD, 0xBB}};
inline constexpr IID IID_IDirect3DVolumeTexture9 = {
    0x97F10113, 0x43AC, 0x4539, {0x9C, 0x64, 0x0E, 0x68, 0xF4, 0xA2, 0xA9, 0xD5}};
inline constexpr IID IID_IDirect3DSurface9 = {
    0x5022EEFC, 0xC24E, 0x487C, {0x9F, 0x13, 0x37, 0x0F, 0x02, 0xFC, 0xF7, 0xDC}};
inline constexpr IID IID_IDirect3DVolume9 = {
    0xE9985F68, 0xD11F, 0x4817, {0x89, 0xBA, 0xC1, 0xE9, 0x8E, 0x58, 0xBD, 0x15}};
inline constexpr IID IID_IDirect3DVertexBuffer9 = {
    0xDA34996F, 0x8384, 0x4464, {0xA8, 0xE8, 0x47, 0x46, 0x09, 0x59, 0xC2, 0xF7}};
inline constexpr IID IID_IDirect3DIndexBuffer9 = {
    0x6165A598, 0xB925, 0x4355, {0x93, 0xB3, 0xAF, 0x67, 0xC9, 0xCF, 0x62, 0x30}};
inline constexpr IID IID_IDirect3DStateBlock9 = {
    0xC5A0E7C3, 0xE791, 0x4766, {0xAC, 0x99, 0x8C, 0x20, 0xFD, 0x08, 0x3B, 0x68}};
inline constexpr IID IID_IDirect3DVertexDeclaration9 = {
    0xD4EAD556, 0x6DA7, 0x4C41, {0xB2, 0xF9, 0xD8, 0xC0, 0x00, 0xF6, 0xDD, 0x73}};
inline constexpr IID IID_IDirect3DVertexShader9 = {
    0x57160990, 0xF2ED, 0x453F, {0x83, 0xC7, 0xE5, 0xF6, 0x80, 0x91, 0x53, 0xF5}};
inline constexpr IID IID_IDirect3DPixelShader9 = {
    0xDB07EF5C, 0xE312, 0x44D5, {0xBE, 0x27, 0x43, 0xC0, 0x61, 0xC7, 0x59, 0x88}};

struct IDirect3D9;
struct IDirect3DDevice9;

// ---------------------------------------------------------------------------
// Resources
struct IDirect3DResource9 : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  virtual D3DRESOURCETYPE GetType() = 0;
};

struct IDirect3DSurface9 : IDirect3DResource9 {
  // The texture (or cube texture) a level belongs to; E_NOINTERFACE otherwise.
  virtual HRESULT GetContainer(REFIID iid, void** container) = 0;
  virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT UnlockRect() = 0;
};

struct IDirect3DVolume9 : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  virtual HRESULT GetContainer(REFIID iid, void** container) = 0;
  virtual HRESULT GetDesc(D3DVOLUME_DESC* desc) = 0;
  virtual HRESULT LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) = 0;
  virtual HRESULT UnlockBox() = 0;
};

struct IDirect3DBaseTexture9 : IDirect3DResource9 {
  virtual DWORD GetLevelCount() = 0;
};

struct IDirect3DTexture9 : IDirect3DBaseTexture9 {
  virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
  // The same surface object on every call, with a reference added.
  virtual HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) = 0;
  virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT UnlockRect(UINT level) = 0;
};

struct IDirect3DCubeTexture9 : IDirect3DBaseTexture9 {
  virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) = 0;
  virtual HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                           DWORD flags) = 0;
  virtual HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) = 0;
};

struct IDirect3DVolumeTexture9 : IDirect3DBaseTexture9 {
  virtual HRESULT GetLevelDesc(UINT level, D3DVOLUME_DESC* desc) = 0;
  virtual HRESULT GetVolumeLevel(UINT level, IDirect3DVolume9** volume) = 0;
  virtual HRESULT LockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) = 0;
  virtual HRESULT UnlockBox(UINT level) = 0;
};

struct IDirect3DVertexBuffer9 : IDirect3DResource9 {
  // size 0 locks from offset to the end.
  virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
  virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) = 0;
};

struct IDirect3DIndexBuffer9 : IDirect3DResource9 {
  virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
  virtual HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) = 0;
};

struct IDirect3DStateBlock9 : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  // Refreshes exactly the recorded entries from the device.
  virtual HRESULT Capture() = 0;
  // Sets exactly the recorded entries on the device.
  virtual HRESULT Apply() = 0;
};

struct IDirect3DVertexDeclaration9 : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  // With null elements, *count receives the element count including the end marker.
  virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) = 0;
};

// No shader can be created on this device; the types exist for the setters.
struct IDirect3DVertexShader9 : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
};
struct IDirect3DPixelShader9 : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
};

// ---------------------------------------------------------------------------
// The device
struct IDirect3DDevice9 : IUnknown {
  // Status and queries
  virtual HRESULT TestCooperativeLevel() = 0;
  virtual HRESULT GetDirect3D(IDirect3D9** d3d) = 0;
  virtual HRESULT GetDeviceCaps(D3DCAPS9* caps) = 0;
  virtual HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) = 0;
  virtual HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) = 0;
  virtual HRESULT Reset(D3DPRESENT_PARAMETERS* params) = 0;
  virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow,
                          const void* dirtyRegion) = 0;
  virtual HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                                IDirect3DSurface9** backBuffer) = 0;

  // Creation
  virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                      D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** texture,
                                      HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                     IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                     DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                                     HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                            D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality,
                                            BOOL discard, IDirect3DSurface9** surface, HANDLE* sharedHandle) = 0;
  virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                          IDirect3DVertexDeclaration9** declaration) = 0;
  virtual HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) = 0;

  // Copies
  virtual HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                const POINT* destPoint) = 0;
  virtual HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) = 0;
  virtual HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) = 0;
  virtual HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                              const RECT* destRect, D3DTEXTUREFILTERTYPE filter) = 0;

  // Targets and scenes
  virtual HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) = 0;
  virtual HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) = 0;
  virtual HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) = 0;
  virtual HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                        DWORD stencil) = 0;
  virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
  virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;

  // Fixed-function state
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) = 0;
  virtual HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) = 0;
  virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
  virtual HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) = 0;
  virtual HRESULT SetNPatchMode(float segments) = 0;
  virtual float GetNPatchMode() = 0;

  // State blocks
  virtual HRESULT BeginStateBlock() = 0;
  virtual HRESULT EndStateBlock(IDirect3DStateBlock9** block) = 0;

  // Vertex input
  virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) = 0;
  virtual HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) = 0;
  virtual HRESULT SetFVF(DWORD fvf) = 0;
  virtual HRESULT GetFVF(DWORD* fvf) = 0;
  virtual HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) = 0;
  virtual HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) = 0;
  virtual HRESULT SetIndices(IDirect3DIndexBuffer9* indices) = 0;
  virtual HRESULT GetIndices(IDirect3DIndexBuffer9** indices) = 0;

  // Shaders (only null can be set) and their constant registers
  virtual HRESULT SetVertexShader(IDirect3DVertexShader9* shader) = 0;
  virtual HRESULT GetVertexShader(IDirect3DVertexShader9** shader) = 0;
  virtual HRESULT SetPixelShader(IDirect3DPixelShader9* shader) = 0;
  virtual HRESULT GetPixelShader(IDirect3DPixelShader9** shader) = 0;
  virtual HRESULT SetVertexShaderConstantF(UINT start, const float* data, UINT count) = 0;
  virtual HRESULT GetVertexShaderConstantF(UINT start, float* data, UINT count) = 0;
  virtual HRESULT SetVertexShaderConstantI(UINT start, const int* data, UINT count) = 0;
  virtual HRESULT GetVertexShaderConstantI(UINT start, int* data, UINT count) = 0;
  virtual HRESULT SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) = 0;
  virtual HRESULT GetVertexShaderConstantB(UINT start, BOOL* data, UINT count) = 0;
  virtual HRESULT SetPixelShaderConstantF(UINT start, const float* data, UINT count) = 0;
  virtual HRESULT GetPixelShaderConstantF(UINT start, float* data, UINT count) = 0;
  virtual HRESULT SetPixelShaderConstantI(UINT start, const int* data, UINT count) = 0;
  virtual HRESULT GetPixelShaderConstantI(UINT start, int* data, UINT count) = 0;
  virtual HRESULT SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) = 0;
  virtual HRESULT GetPixelShaderConstantB(UINT start, BOOL* data, UINT count) = 0;

  // Drawing (inside BeginScene/EndScene)
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
  virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                       UINT numVertices, UINT startIndex, UINT primitiveCount) = 0;
  // Leaves stream 0 unset.
  virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices,
                                  UINT stride) = 0;
  // Leaves stream 0 and the indices unset.
  virtual HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                         UINT primitiveCount, const void* indices, D3DFORMAT indexFormat,
                                         const void* vertices, UINT stride) = 0;
};

// ---------------------------------------------------------------------------
// The Direct3D object
struct IDirect3D9 : IUnknown {
  virtual UINT GetAdapterCount() = 0;
  virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
  virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                  D3DFORMAT backBufferFormat, BOOL windowed) = 0;
  virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                    D3DRESOURCETYPE resourceType, D3DFORMAT format) = 0;
  virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
  virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) = 0;
};

// Only version 32 is known; any other gives null.
IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion);

// ---------------------------------------------------------------------------
// The shader validator that "d3d9.dll" exports as
// "Direct3DShaderValidatorCreate9" (the platform's structural validator by
// default; tests may replace or remove it).
using ShaderValidatorCallback = HRESULT (*)(const char* file, int line, DWORD type, DWORD number,
                                            const char* text, void* context);
struct ShaderValidator9 : IUnknown {
  virtual HRESULT Begin(ShaderValidatorCallback callback, void* context, DWORD flags) = 0;
  virtual HRESULT Instruction(const char* file, int line, const DWORD* tokens, DWORD count) = 0;
  virtual HRESULT End() = 0;
};
using PFN_Direct3DShaderValidatorCreate9 = ShaderValidator9* (*)();

// The software device. Its methods are split by concern over device*.cpp:
// creation and status (device.cpp), resource creation (device_create.cpp),
// state (device_state.cpp), targets and scenes (device_scene.cpp), copies
// (device_copy.cpp) and drawing (device_draw.cpp).
#pragma once

#include <memory>
#include <vector>

#include "d3d9/object.h"
#include "d3d9/rasterizer.h"
#include "d3d9/state.h"
#include "d3d9/vertex_decl.h"
#include "platform/d3d9_api.h"

namespace platform::d3d9 {

class Direct3D9;
class Surface;
class StateBlock;

class Device final : public IDirect3DDevice9, public Object {
 public:
  static HRESULT Create(Direct3D9* d3d, D3DDEVTYPE type, HWND focus, DWORD behavior,
                        D3DPRESENT_PARAMETERS* params, Device** out);
  ~Device() override;

  // IUnknown
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // Status and queries
  HRESULT TestCooperativeLevel() override;
  HRESULT GetDirect3D(IDirect3D9** d3d) override;
  HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
  HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
  HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) override;
  HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
  HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow, const void* dirtyRegion) override;
  HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                        IDirect3DSurface9** backBuffer) override;

  // Creation
  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
  HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, IDirect3DVolumeTexture9** texture, HANDLE* sharedHandle) override;
  HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) override;
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                             HANDLE* sharedHandle) override;
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) override;
  HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                             DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                             HANDLE* sharedHandle) override;
  HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                    DWORD multiSampleQuality, BOOL discard, IDirect3DSurface9** surface,
                                    HANDLE* sharedHandle) override;
  HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                  IDirect3DVertexDeclaration9** declaration) override;
  HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) override;

  // Copies
  HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                        const POINT* destPoint) override;
  HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) override;
  HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) override;
  HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                      const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;

  // Targets and scenes
  HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
  HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
  HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
  HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
  HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
  HRESULT GetViewport(D3DVIEWPORT9* viewport) override;

  // Fixed-function state
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
  HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
  HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
  HRESULT SetNPatchMode(float segments) override;
  float GetNPatchMode() override;

  // State blocks
  HRESULT BeginStateBlock() override;
  HRESULT EndStateBlock(IDirect3DStateBlock9** block) override;

  // Vertex input
  HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
  HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) override;
  HRESULT SetFVF(DWORD fvf) override;
  HRESULT GetFVF(DWORD* fvf) override;
  HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
  HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override;
  HRESULT SetIndices(IDirect3DIndexBuffer9* indices) override;
  HRESULT GetIndices(IDirect3DIndexBuffer9** indices) override;

  // Shaders and constants
  HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
  HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override;
  HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
  HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override;
  HRESULT SetVertexShaderConstantF(UINT start, const float* data, UINT count) override;
  HRESULT GetVertexShaderConstantF(UINT start, float* data, UINT count) override;
  HRESULT SetVertexShaderConstantI(UINT start, const int* data, UINT count) override;
  HRESULT GetVertexShaderConstantI(UINT start, int* data, UINT count) override;
  HRESULT SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) override;
  HRESULT GetVertexShaderConstantB(UINT start, BOOL* data, UINT count) override;
  HRESULT SetPixelShaderConstantF(UINT start, const float* data, UINT count) override;
  HRESULT GetPixelShaderConstantF(UINT start, float* data, UINT count) override;
  HRESULT SetPixelShaderConstantI(UINT start, const int* data, UINT count) override;
  HRESULT GetPixelShaderConstantI(UINT start, int* data, UINT count) override;
  HRESULT SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) override;
  HRESULT GetPixelShaderConstantB(UINT start, BOOL* data, UINT count) override;

  // Drawing
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices,
                               UINT startIndex, UINT primitiveCount) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) override;
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                 UINT primitiveCount, const void* indices, D3DFORMAT indexFormat,
                                 const void* vertices, UINT stride) override;

  // --- For the rest of the device, its resources and the rasteriser ---------
  ULONG PublicRefs() const override { return m_refs; }
  std::string Describe() const override;
  // Stores this device with a reference added (resources' GetDevice).
  HRESULT HandOut(IDirect3DDevice9** out);
  const DeviceState& State() const { return m_state; }
  const ShaderConstants& Constants() const { return m_constants; }
  Surface* RenderTarget() const { return m_renderTarget; }
  Surface* DepthStencil() const { return m_depthStencil; }
  D3DCAPS9 Caps() const;
  D3DDEVTYPE Type() const { return m_creation.DeviceType; }
  bool Recording() const { return m_recording != nullptr; }
  UINT PresentCount() const { return m_presents; }
  // Swaps in another pipeline (tests observe draws through it); returns the old one.
  std::unique_ptr<Rasterizer> ReplaceRasterizer(std::unique_ptr<Rasterizer> raster) {
    m_raster.swap(raster);
    return raster;
  }

  // Setters without logging; they record while a state block is being recorded
  // and apply otherwise. State blocks apply through them.
  HRESULT SetRenderStateNow(DWORD state, DWORD value);
  HRESULT SetStageStateNow(DWORD stage, DWORD type, DWORD value);
  HRESULT SetSamplerStateNow(DWORD sampler, DWORD type, DWORD value);
  HRESULT SetTextureNow(DWORD stage, BaseTexture* texture);
  HRESULT SetTransformNow(DWORD state, const D3DMATRIX& matrix);
  HRESULT SetViewportNow(const D3DVIEWPORT9& viewport);
  HRESULT SetFvfNow(DWORD fvf);
  HRESULT SetDeclarationNow(VertexDeclaration* declaration);
  HRESULT SetStreamNow(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride);
  HRESULT SetIndicesNow(IndexBuffer* indices);
  HRESULT SetNPatchModeNow(float segments);
  HRESULT SetConstantsNow(ConstantKind kind, UINT start, const DWORD* words, UINT count);

 private:
  Device(Direct3D9* d3d, D3DDEVTYPE type, HWND focus, DWORD behavior);
  // Validates presentation parameters, fills in what they leave to the device,
  // and makes the back buffers and the automatic depth surface.
  HRESULT BuildSwapChain(D3DPRESENT_PARAMETERS* params);
  void ReleaseSwapChain();
  void RestoreDefaults();
  void UnbindAll();
  HRESULT GetConstants(ConstantKind kind, UINT start, DWORD* words, UINT count);
  const VertexLayout* CurrentLayout();
  // Draw validation and hand-off (device_draw.cpp).
  struct DrawSource;
  HRESULT Draw(const char* method, D3DPRIMITIVETYPE type, UINT primitiveCount, DrawSource& source);
  HRESULT ClearTarget(Surface* target, const RECT& area, D3DCOLOR color);
  void ClearDepth(Surface* depth, const RECT& area, DWORD flags, float z, DWORD stencil);

  ULONG m_refs = 1;
  Direct3D9* m_d3d;
  D3DDEVICE_CREATION_PARAMETERS m_creation;
  D3DPRESENT_PARAMETERS m_params{};
  std::vector<Surface*> m_backBuffers;  // bound by the device
  Surface* m_autoDepth = nullptr;       // bound by the device
  Surface* m_renderTarget = nullptr;
  Surface* m_depthStencil = nullptr;
  DeviceState m_state{};
  ShaderConstants m_constants;
  StateBlock* m_recording = nullptr;
  bool m_inScene = false;
  UINT m_presents = 0;
  DWORD m_layoutFvf = 0;
  bool m_layoutValid = false;
  VertexLayout m_fvfLayout;
  std::unique_ptr<Rasterizer> m_raster;
};

// The object behind an interface pointer of this platform, when it belongs to
// `device` (null otherwise).
Surface* AsSurface(IDirect3DSurface9* surface, const Device* device);

}  // namespace platform::d3d9

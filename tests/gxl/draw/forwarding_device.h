// A device that forwards every call to a real one, and can make chosen query
// calls fail: the batcher's answers to a device that cannot describe itself.
// It lives on the test's stack; its references are only counted.
#pragma once

#include <map>
#include <string>

#include "platform/d3d9_api.h"

namespace drawtest {

class ForwardingDevice final : public IDirect3DDevice9 {
 public:
  explicit ForwardingDevice(IDirect3DDevice9* inner) : m_inner(inner) {}
  ForwardingDevice(const ForwardingDevice&) = delete;
  ForwardingDevice& operator=(const ForwardingDevice&) = delete;

  // Calls of `method` (GetDirect3D, GetDeviceCaps, GetDisplayMode,
  // GetCreationParameters or GetRenderTarget) return hr without reaching the device.
  void Fail(const std::string& method, HRESULT hr) { m_failures[method] = hr; }
  ULONG References() const { return m_refs; }

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDirect3DDevice9) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override { return --m_refs; }

  // clang-format off
  HRESULT TestCooperativeLevel() override { return m_inner->TestCooperativeLevel(); }
  HRESULT GetDirect3D(IDirect3D9** d3d) override { return Fails("GetDirect3D") ? m_failures["GetDirect3D"] : m_inner->GetDirect3D(d3d); }
  HRESULT GetDeviceCaps(D3DCAPS9* caps) override { return Fails("GetDeviceCaps") ? m_failures["GetDeviceCaps"] : m_inner->GetDeviceCaps(caps); }
  HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override { return Fails("GetDisplayMode") ? m_failures["GetDisplayMode"] : m_inner->GetDisplayMode(swapChain, mode); }
  HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) override { return Fails("GetCreationParameters") ? m_failures["GetCreationParameters"] : m_inner->GetCreationParameters(params); }
  HRESULT Reset(D3DPRESENT_PARAMETERS* params) override { return m_inner->Reset(params); }
  HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow, const void* dirtyRegion) override { return m_inner->Present(sourceRect, destRect, destWindow, dirtyRegion); }
  HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** backBuffer) override { return m_inner->GetBackBuffer(swapChain, index, type, backBuffer); }
  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) override { return m_inner->CreateTexture(width, height, levels, usage, format, pool, texture, sharedHandle); }
  HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** texture, HANDLE* sharedHandle) override { return m_inner->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, texture, sharedHandle); }
  HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) override { return m_inner->CreateCubeTexture(edgeLength, levels, usage, format, pool, texture, sharedHandle); }
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) override { return m_inner->CreateVertexBuffer(length, usage, fvf, pool, buffer, sharedHandle); }
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) override { return m_inner->CreateIndexBuffer(length, usage, format, pool, buffer, sharedHandle); }
  HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface, HANDLE* sharedHandle) override { return m_inner->CreateRenderTarget(width, height, format, multiSample, multiSampleQuality, lockable, surface, sharedHandle); }
  HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality, BOOL discard, IDirect3DSurface9** surface, HANDLE* sharedHandle) override { return m_inner->CreateDepthStencilSurface(width, height, format, multiSample, multiSampleQuality, discard, surface, sharedHandle); }
  HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** declaration) override { return m_inner->CreateVertexDeclaration(elements, declaration); }
  HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) override { return m_inner->CreateStateBlock(type, block); }
  HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest, const POINT* destPoint) override { return m_inner->UpdateSurface(source, sourceRect, dest, destPoint); }
  HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) override { return m_inner->UpdateTexture(source, dest); }
  HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) override { return m_inner->GetRenderTargetData(renderTarget, dest); }
  HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest, const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override { return m_inner->StretchRect(source, sourceRect, dest, destRect, filter); }
  HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override { return m_inner->SetRenderTarget(index, surface); }
  HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override { return Fails("GetRenderTarget") ? m_failures["GetRenderTarget"] : m_inner->GetRenderTarget(index, surface); }
  HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override { return m_inner->SetDepthStencilSurface(surface); }
  HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override { return m_inner->GetDepthStencilSurface(surface); }
  HRESULT BeginScene() override { return m_inner->BeginScene(); }
  HRESULT EndScene() override { return m_inner->EndScene(); }
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override { return m_inner->Clear(count, rects, flags, color, z, stencil); }
  HRESULT SetViewport(const D3DVIEWPORT9* viewport) override { return m_inner->SetViewport(viewport); }
  HRESULT GetViewport(D3DVIEWPORT9* viewport) override { return m_inner->GetViewport(viewport); }
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override { return m_inner->SetTransform(state, matrix); }
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override { return m_inner->GetTransform(state, matrix); }
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override { return m_inner->SetRenderState(state, value); }
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override { return m_inner->GetRenderState(state, value); }
  HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override { return m_inner->SetTexture(stage, texture); }
  HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override { return m_inner->GetTexture(stage, texture); }
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override { return m_inner->SetTextureStageState(stage, type, value); }
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override { return m_inner->GetTextureStageState(stage, type, value); }
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override { return m_inner->SetSamplerState(sampler, type, value); }
  HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override { return m_inner->GetSamplerState(sampler, type, value); }
  HRESULT SetNPatchMode(float segments) override { return m_inner->SetNPatchMode(segments); }
  float GetNPatchMode() override { return m_inner->GetNPatchMode(); }
  HRESULT BeginStateBlock() override { return m_inner->BeginStateBlock(); }
  HRESULT EndStateBlock(IDirect3DStateBlock9** block) override { return m_inner->EndStateBlock(block); }
  HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override { return m_inner->SetVertexDeclaration(declaration); }
  HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) override { return m_inner->GetVertexDeclaration(declaration); }
  HRESULT SetFVF(DWORD fvf) override { return m_inner->SetFVF(fvf); }
  HRESULT GetFVF(DWORD* fvf) override { return m_inner->GetFVF(fvf); }
  HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override { return m_inner->SetStreamSource(stream, buffer, offset, stride); }
  HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override { return m_inner->GetStreamSource(stream, buffer, offset, stride); }
  HRESULT SetIndices(IDirect3DIndexBuffer9* indices) override { return m_inner->SetIndices(indices); }
  HRESULT GetIndices(IDirect3DIndexBuffer9** indices) override { return m_inner->GetIndices(indices); }
  HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override { return m_inner->SetVertexShader(shader); }
  HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override { return m_inner->GetVertexShader(shader); }
  HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override { return m_inner->SetPixelShader(shader); }
  HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override { return m_inner->GetPixelShader(shader); }
  HRESULT SetVertexShaderConstantF(UINT start, const float* data, UINT count) override { return m_inner->SetVertexShaderConstantF(start, data, count); }
  HRESULT GetVertexShaderConstantF(UINT start, float* data, UINT count) override { return m_inner->GetVertexShaderConstantF(start, data, count); }
  HRESULT SetVertexShaderConstantI(UINT start, const int* data, UINT count) override { return m_inner->SetVertexShaderConstantI(start, data, count); }
  HRESULT GetVertexShaderConstantI(UINT start, int* data, UINT count) override { return m_inner->GetVertexShaderConstantI(start, data, count); }
  HRESULT SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) override { return m_inner->SetVertexShaderConstantB(start, data, count); }
  HRESULT GetVertexShaderConstantB(UINT start, BOOL* data, UINT count) override { return m_inner->GetVertexShaderConstantB(start, data, count); }
  HRESULT SetPixelShaderConstantF(UINT start, const float* data, UINT count) override { return m_inner->SetPixelShaderConstantF(start, data, count); }
  HRESULT GetPixelShaderConstantF(UINT start, float* data, UINT count) override { return m_inner->GetPixelShaderConstantF(start, data, count); }
  HRESULT SetPixelShaderConstantI(UINT start, const int* data, UINT count) override { return m_inner->SetPixelShaderConstantI(start, data, count); }
  HRESULT GetPixelShaderConstantI(UINT start, int* data, UINT count) override { return m_inner->GetPixelShaderConstantI(start, data, count); }
  HRESULT SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) override { return m_inner->SetPixelShaderConstantB(start, data, count); }
  HRESULT GetPixelShaderConstantB(UINT start, BOOL* data, UINT count) override { return m_inner->GetPixelShaderConstantB(start, data, count); }
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override { return m_inner->DrawPrimitive(type, startVertex, primitiveCount); }
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices, UINT startIndex, UINT primitiveCount) override { return m_inner->DrawIndexedPrimitive(type, baseVertexIndex, minVertexIndex, numVertices, startIndex, primitiveCount); }
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) override { return m_inner->DrawPrimitiveUP(type, primitiveCount, vertices, stride); }
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices, UINT primitiveCount, const void* indices, D3DFORMAT indexFormat, const void* vertices, UINT stride) override { return m_inner->DrawIndexedPrimitiveUP(type, minVertexIndex, numVertices, primitiveCount, indices, indexFormat, vertices, stride); }
  // clang-format on

 private:
  bool Fails(const char* method) const { return m_failures.count(method) != 0; }

  IDirect3DDevice9* m_inner;
  ULONG m_refs = 1;
  std::map<std::string, HRESULT> m_failures;
};

}  // namespace drawtest

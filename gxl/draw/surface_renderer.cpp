// Render to surface: the object, its scene bracket and its creator.
#include "gxl/draw/surface_renderer.h"

#include "gxl/draw/drawing_object.h"
#include "gxl/draw/interface_ids.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_import.h"

namespace gxl {

namespace {

class SurfaceSceneRendererObject final : public DrawingObject<SurfaceSceneRenderer> {
 public:
  HRESULT Init(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format, BOOL depthEnable,
               D3DFORMAT depthFormat);

  HRESULT QueryInterface(REFIID iid, void** out) override { return AnswerInterface(iid, IidSurfaceSceneRenderer, out); }
  HRESULT QueryDescription(SurfaceSceneRendererDesc* desc) override;
  HRESULT BeginTargetScene(IDirect3DSurface9* surface, const D3DVIEWPORT9* viewport) override;
  HRESULT EndTargetScene(DWORD mipFilter) override;
  HRESULT OnDeviceLost() override;
  HRESULT OnDeviceReset() override { return S_OK; }

 private:
  ~SurfaceSceneRendererObject() override { OnDeviceLost(); }

  HRESULT CheckViewport(const D3DSURFACE_DESC& desc, const D3DVIEWPORT9* viewport);
  HRESULT MakeSurfaces(bool renderTarget);
  HRESULT RebuildLevelsBelow(DWORD mipFilter);

  SurfaceSceneRendererDesc m_desc{};
  ComRef<IDirect3DSurface9> m_intermediate;
  ComRef<IDirect3DSurface9> m_depth;
  SavedTargets m_saved;
  ComRef<IDirect3DSurface9> m_current;  // set while a scene is open
  bool m_targetIsRenderTarget = false;
  ComRef<IDirect3DStateBlock9> m_viewportBlock;
  D3DVIEWPORT9 m_viewport{};
};

HRESULT SurfaceSceneRendererObject::Init(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                         BOOL depthEnable, D3DFORMAT depthFormat) {
  if (!device) return D3DERR_INVALIDCALL;
  if (m_device) return E_FAIL;
  KeepDevice(device);
  m_desc = {width, height, format, depthEnable, depthFormat};
  return S_OK;
}

HRESULT SurfaceSceneRendererObject::QueryDescription(SurfaceSceneRendererDesc* desc) {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = m_desc;
  return S_OK;
}

HRESULT SurfaceSceneRendererObject::CheckViewport(const D3DSURFACE_DESC& desc, const D3DVIEWPORT9* viewport) {
  if (!viewport) {
    m_viewport = {0, 0, m_desc.width, m_desc.height, 0.0f, 1.0f};
    return S_OK;
  }
  // Compared without adding, so that a huge X or Width cannot wrap around.
  const D3DVIEWPORT9& v = *viewport;
  if (v.X > m_desc.width || v.Width > m_desc.width - v.X || v.Y > m_desc.height || v.Height > m_desc.height - v.Y)
    return D3DERR_INVALIDCALL;
  // A default-pool surface cannot be read back in part: it is copied whole.
  if (!m_targetIsRenderTarget && desc.Pool == D3DPOOL_DEFAULT && (v.Width != m_desc.width || v.Height != m_desc.height))
    return D3DERR_INVALIDCALL;
  m_viewport = v;
  return S_OK;
}

HRESULT SurfaceSceneRendererObject::MakeSurfaces(bool renderTarget) {
  IDirect3DDevice9* d = m_device.Get();
  if (!renderTarget && !m_intermediate) {
    const HRESULT hr = d->CreateRenderTarget(m_desc.width, m_desc.height, m_desc.format, D3DMULTISAMPLE_NONE, 0, TRUE,
                                             m_intermediate.Put(), nullptr);
    if (FAILED(hr)) return hr;
  }
  if (m_desc.depthEnable && !m_depth) {
    const HRESULT hr =
        d->CreateDepthStencilSurface(m_desc.width, m_desc.height, m_desc.depthFormat, D3DMULTISAMPLE_NONE, 0,
                                     DiscardsDepth(m_desc.depthFormat), m_depth.Put(), nullptr);
    if (FAILED(hr)) return hr;
  }
  if (!m_viewportBlock) {
    // Records which state the block holds; Capture fills in the device's value.
    d->BeginStateBlock();
    d->SetViewport(&m_viewport);
    d->EndStateBlock(m_viewportBlock.Put());
  }
  return S_OK;
}

HRESULT SurfaceSceneRendererObject::BeginTargetScene(IDirect3DSurface9* surface, const D3DVIEWPORT9* viewport) {
  if (!surface || m_current) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc{};
  HRESULT hr = surface->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  if (desc.Format != m_desc.format || desc.Width != m_desc.width || desc.Height != m_desc.height)
    return D3DERR_INVALIDCALL;
  m_targetIsRenderTarget = (desc.Usage & D3DUSAGE_RENDERTARGET) != 0;
  hr = CheckViewport(desc, viewport);
  if (FAILED(hr)) return hr;
  hr = MakeSurfaces(m_targetIsRenderTarget);
  if (FAILED(hr)) return hr;

  IDirect3DDevice9* d = m_device.Get();
  if (m_viewportBlock) m_viewportBlock->Capture();
  m_saved.Save(d);

  hr = d->SetRenderTarget(0, m_targetIsRenderTarget ? surface : m_intermediate.Get());
  if (FAILED(hr)) {
    m_saved.Reset();
    return hr;
  }
  hr = d->SetDepthStencilSurface(m_depth.Get());
  if (SUCCEEDED(hr)) hr = d->SetViewport(&m_viewport);
  if (SUCCEEDED(hr)) hr = d->BeginScene();
  if (FAILED(hr)) {
    m_saved.Restore(d, m_viewportBlock.Get());
    return hr;
  }
  surface->AddRef();
  m_current = ComRef<IDirect3DSurface9>(surface);
  return S_OK;
}

HRESULT SurfaceSceneRendererObject::EndTargetScene(DWORD mipFilter) {
  if (!m_current) return D3DERR_INVALIDCALL;
  m_device->EndScene();
  HRESULT hr = S_OK;
  if (!m_targetIsRenderTarget) {
    const RECT r{static_cast<LONG>(m_viewport.X), static_cast<LONG>(m_viewport.Y),
                 static_cast<LONG>(m_viewport.X + m_viewport.Width),
                 static_cast<LONG>(m_viewport.Y + m_viewport.Height)};
    hr = GXLImportSurfaceFromSurface(m_current.Get(), nullptr, &r, m_intermediate.Get(), nullptr, &r, FilterFlags::None,
                                     0);
  }
  // The device is given back and the scene closed even when the copy failed.
  m_saved.Restore(m_device.Get(), m_viewportBlock.Get());
  if (SUCCEEDED(hr) && mipFilter != 0) hr = RebuildLevelsBelow(mipFilter);
  m_current.Reset();
  return hr;
}

HRESULT SurfaceSceneRendererObject::RebuildLevelsBelow(DWORD mipFilter) {
  ComRef<IDirect3DTexture9> texture;
  {
    DebugMuteScope mute;
    m_current->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(texture.Put()));
  }
  if (!texture) return S_OK;  // a surface of its own has no levels below it
  const DWORD levels = texture->GetLevelCount();
  DWORD level = 0;
  for (; level < levels; ++level) {
    ComRef<IDirect3DSurface9> s;
    texture->GetSurfaceLevel(level, s.Put());
    if (s.Get() == m_current.Get()) break;
  }
  return GXLRebuildMipChain(texture.Get(), nullptr, level, mipFilter);
}

HRESULT SurfaceSceneRendererObject::OnDeviceLost() {
  m_intermediate.Reset();
  m_saved.Reset();
  m_depth.Reset();
  m_current.Reset();
  m_viewportBlock.Reset();
  return S_OK;
}

}  // namespace

}  // namespace gxl

HRESULT GXLCreateSurfaceSceneRenderer(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                      BOOL depthEnable, D3DFORMAT depthFormat, SurfaceSceneRenderer** renderer) {
  if (!device || !renderer) return D3DERR_INVALIDCALL;
  return gxl::CreateDrawingObject<gxl::SurfaceSceneRendererObject>(renderer, device, width, height, format, depthEnable,
                                                                   depthFormat);
}

// The environment-map renderer: creation, captures, faces and the device
// state around a capture.
#include "gxl/draw/envmap_renderer_object.h"
#include "gxl/draw/interface_ids.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/fit.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_import.h"

namespace gxl {

namespace {

bool Resamples(CaptureKind kind) { return kind != CaptureKind::None && kind != CaptureKind::Cube; }

}  // namespace

HRESULT EnvMapSceneRendererObject::Init(IDirect3DDevice9* device, UINT size, UINT mipLevels, D3DFORMAT format,
                                        BOOL depthEnable, D3DFORMAT depthFormat) {
  if (!device) return D3DERR_INVALIDCALL;
  KeepDevice(device);
  m_desc = {size, mipLevels, format, depthEnable, depthFormat};
  // What the device cannot make is adjusted here; what still fails, fails at
  // the first face.
  GXLFitTextureParameters(device, &m_desc.size, &m_desc.size, &m_desc.mipLevels, 0, &m_desc.format, D3DPOOL_DEFAULT);
  m_viewport = {0, 0, m_desc.size, m_desc.size, 0.0f, 1.0f};
  return S_OK;
}

HRESULT EnvMapSceneRendererObject::QueryInterface(REFIID iid, void** out) {
  return AnswerInterface(iid, IidEnvMapSceneRenderer, out);
}

HRESULT EnvMapSceneRendererObject::QueryDescription(EnvMapSceneRendererDesc* desc) {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = m_desc;
  return S_OK;
}

// --- Starting a capture ----------------------------------------------------------

HRESULT EnvMapSceneRendererObject::CheckLevel(const D3DSURFACE_DESC& desc) const {
  return desc.Format == m_desc.format && desc.Width == m_desc.size && desc.Height == m_desc.size ? S_OK
                                                                                                 : D3DERR_INVALIDCALL;
}

HRESULT EnvMapSceneRendererObject::CheckTexture(IDirect3DTexture9* texture, bool* direct) const {
  D3DSURFACE_DESC desc{};
  const HRESULT hr = texture->GetLevelDesc(0, &desc);
  if (FAILED(hr)) return hr;
  *direct = (desc.Usage & D3DUSAGE_RENDERTARGET) != 0;
  return CheckLevel(desc);
}

void EnvMapSceneRendererObject::SaveState() {
  IDirect3DDevice9* d = m_device.Get();
  if (!m_captureBlock) {
    DebugMuteScope mute;
    d->BeginStateBlock();
    d->SetViewport(&m_viewport);
    d->SetRenderState(D3DRS_ZENABLE, m_desc.depthEnable);
    d->EndStateBlock(m_captureBlock.Put());
  }
  if (m_captureBlock) m_captureBlock->Capture();
  m_saved.Save(d);
}

HRESULT EnvMapSceneRendererObject::StartCubeCapture(IDirect3DCubeTexture9* cube) {
  if (!cube || m_kind != CaptureKind::None) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc{};
  HRESULT hr = cube->GetLevelDesc(0, &desc);
  if (SUCCEEDED(hr)) hr = CheckLevel(desc);
  if (FAILED(hr)) return hr;
  SaveState();
  cube->AddRef();
  m_cube = ComRef<IDirect3DCubeTexture9>(cube);
  m_kind = CaptureKind::Cube;
  return S_OK;
}

HRESULT EnvMapSceneRendererObject::StartSphereCapture(IDirect3DTexture9* texture) {
  if (!texture) return D3DERR_INVALIDCALL;
  return StartPair(texture, nullptr, CaptureKind::Sphere);
}

HRESULT EnvMapSceneRendererObject::StartHemisphereCapture(IDirect3DTexture9* front, IDirect3DTexture9* back) {
  return StartPair(front, back, CaptureKind::Hemisphere);
}

HRESULT EnvMapSceneRendererObject::StartParaboloidCapture(IDirect3DTexture9* front, IDirect3DTexture9* back) {
  return StartPair(front, back, CaptureKind::Paraboloid);
}

HRESULT EnvMapSceneRendererObject::StartPair(IDirect3DTexture9* front, IDirect3DTexture9* back, CaptureKind kind) {
  if (!front && !back) return D3DERR_INVALIDCALL;
  if (m_kind != CaptureKind::None) return E_FAIL;
  IDirect3DTexture9* given[2] = {front, back};
  bool direct[2] = {false, false};
  for (int o = 0; o < 2; ++o) {
    if (!given[o]) continue;
    const HRESULT hr = CheckTexture(given[o], &direct[o]);
    if (FAILED(hr)) return hr;
  }
  SaveState();
  for (int o = 0; o < 2; ++o) {
    m_outputDirect[o] = direct[o];
    if (given[o]) given[o]->AddRef();
    m_outputs[o] = ComRef<IDirect3DTexture9>(given[o]);
  }
  m_kind = kind;
  return S_OK;
}

// --- Faces -----------------------------------------------------------------------------

HRESULT EnvMapSceneRendererObject::OpenFace(D3DCUBEMAP_FACES face, DWORD mipFilter) {
  IDirect3DDevice9* d = m_device.Get();
  D3DSURFACE_DESC desc{};
  HRESULT hr;
  if (m_kind == CaptureKind::Cube) {
    hr = m_cube->GetLevelDesc(0, &desc);
  } else {
    if (!m_faceTexture) {
      hr = d->CreateTexture(m_desc.size, m_desc.size, m_desc.mipLevels, D3DUSAGE_RENDERTARGET, m_desc.format,
                            D3DPOOL_DEFAULT, m_faceTexture.Put(), nullptr);
      // Without render-target textures the face goes through the target surface.
      if (FAILED(hr))
        hr = d->CreateTexture(m_desc.size, m_desc.size, m_desc.mipLevels, 0, m_desc.format, D3DPOOL_DEFAULT,
                              m_faceTexture.Put(), nullptr);
      if (FAILED(hr)) return hr;
    }
    hr = m_faceTexture->GetLevelDesc(0, &desc);
  }
  if (FAILED(hr)) return hr;
  m_faceDirect = (desc.Usage & D3DUSAGE_RENDERTARGET) != 0;

  ComRef<IDirect3DSurface9> direct;
  if (!m_faceDirect) {
    if (!m_target) {
      hr = d->CreateRenderTarget(m_desc.size, m_desc.size, m_desc.format, D3DMULTISAMPLE_NONE, 0, TRUE, m_target.Put(),
                                 nullptr);
      if (FAILED(hr)) return hr;
    }
  } else {
    hr = m_kind == CaptureKind::Cube ? m_cube->GetCubeMapSurface(face, 0, direct.Put())
                                     : m_faceTexture->GetSurfaceLevel(0, direct.Put());
    if (FAILED(hr)) return hr;
  }
  if (m_desc.depthEnable && !m_depth) {
    hr = d->CreateDepthStencilSurface(m_desc.size, m_desc.size, m_desc.depthFormat, D3DMULTISAMPLE_NONE, 0,
                                      DiscardsDepth(m_desc.depthFormat), m_depth.Put(), nullptr);
    if (FAILED(hr)) return hr;
  }
  hr = d->SetRenderTarget(0, m_faceDirect ? direct.Get() : m_target.Get());
  if (SUCCEEDED(hr)) hr = d->SetDepthStencilSurface(m_depth.Get());
  if (SUCCEEDED(hr)) hr = d->SetViewport(&m_viewport);
  direct.Reset();
  if (SUCCEEDED(hr)) hr = d->BeginScene();
  if (FAILED(hr)) return hr;
  m_face = face;
  m_mipFilter = mipFilter;
  m_faceOpen = true;
  m_faceSceneEnded = false;
  return S_OK;
}

HRESULT EnvMapSceneRendererObject::FinishFace() {
  if (!m_faceOpen) return S_OK;
  if (!m_faceSceneEnded) {
    const HRESULT hr = m_device->EndScene();
    if (FAILED(hr)) return hr;
    // A later retry must not end the scene a second time.
    m_faceSceneEnded = true;
  }
  if (!m_faceDirect) {
    ComRef<IDirect3DSurface9> level;
    HRESULT hr = m_kind == CaptureKind::Cube ? m_cube->GetCubeMapSurface(m_face, 0, level.Put())
                                             : m_faceTexture->GetSurfaceLevel(0, level.Put());
    if (SUCCEEDED(hr))
      hr = GXLImportSurfaceFromSurface(level.Get(), nullptr, nullptr, m_target.Get(), nullptr, nullptr,
                                       FilterFlags::None, 0);
    if (FAILED(hr)) return hr;
  }
  if (Resamples(m_kind)) {
    if (m_desc.mipLevels > 1) GXLRebuildMipChain(m_faceTexture.Get(), nullptr, 0, m_mipFilter);
    const HRESULT hr = ResampleFace();
    if (FAILED(hr)) return hr;
  }
  m_faceOpen = false;
  return S_OK;
}

HRESULT EnvMapSceneRendererObject::NextFace(D3DCUBEMAP_FACES face, DWORD mipFilter) {
  if (m_kind == CaptureKind::None || face > D3DCUBEMAP_FACE_NEGATIVE_Z) return D3DERR_INVALIDCALL;
  const HRESULT hr = FinishFace();
  if (FAILED(hr)) return hr;
  return OpenFace(face, mipFilter);
}

HRESULT EnvMapSceneRendererObject::FillOutput(int output, DWORD mipFilter) {
  HRESULT hr = S_OK;
  if (!m_outputDirect[output] && m_outputTargets[output]) {
    ComRef<IDirect3DSurface9> level;
    hr = m_outputs[output]->GetSurfaceLevel(0, level.Put());
    if (SUCCEEDED(hr))
      hr = GXLImportSurfaceFromSurface(level.Get(), nullptr, nullptr, m_outputTargets[output].Get(), nullptr, nullptr,
                                       FilterFlags::None, 0);
  }
  if (SUCCEEDED(hr) && mipFilter != 0) hr = GXLRebuildMipChain(m_outputs[output].Get(), nullptr, 0, mipFilter);
  return hr;
}

// Whatever fails, the capture ends here: the device gets its state back and
// the caller's textures are let go, so that the next Start can run.
HRESULT EnvMapSceneRendererObject::FinishCapture(DWORD mipFilter) {
  if (!m_faceOpen) return D3DERR_INVALIDCALL;
  HRESULT hr = FinishFace();
  m_faceOpen = false;
  m_saved.Restore(m_device.Get(), m_captureBlock.Get());
  m_cube.Reset();
  for (int o = 0; o < 2; ++o) {
    if (m_outputs[o] && SUCCEEDED(hr)) hr = FillOutput(o, mipFilter);
    m_outputs[o].Reset();
  }
  m_kind = CaptureKind::None;
  return hr;
}

HRESULT EnvMapSceneRendererObject::OnDeviceLost() {
  m_target.Reset();
  m_depth.Reset();
  m_saved.Reset();
  m_cube.Reset();
  m_faceTexture.Reset();
  for (int o = 0; o < 2; ++o) {
    m_outputs[o].Reset();
    m_outputTargets[o].Reset();
  }
  for (auto& kind : m_meshes)
    for (ResampleMesh& mesh : kind) {
      mesh.vertices.Reset();
      mesh.indices.Reset();
    }
  m_captureBlock.Reset();
  m_savedIndices.Reset();
  m_resampleSaved.Reset();
  m_resampleDrawing.Reset();
  // Nothing of a running capture is left to finish it with.
  m_kind = CaptureKind::None;
  m_faceOpen = false;
  return S_OK;
}

}  // namespace gxl

HRESULT GXLCreateEnvMapSceneRenderer(IDirect3DDevice9* device, UINT size, UINT mipLevels, D3DFORMAT format,
                                     BOOL depthEnable, D3DFORMAT depthFormat, EnvMapSceneRenderer** renderer) {
  if (!device || !renderer) return D3DERR_INVALIDCALL;
  return gxl::CreateDrawingObject<gxl::EnvMapSceneRendererObject>(renderer, device, size, mipLevels, format,
                                                                  depthEnable, depthFormat);
}

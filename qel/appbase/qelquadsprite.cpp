#include "qel/appbase/qelquadsprite.h"

#include "qel/appbase/qelnumeric.h"
#include "qel/appbase/qelpicture.h"
#include "qel/appbase/qelrelease.h"

// --- C_QuadSprite --------------------------------------------------------------------

C_QuadSprite::C_QuadSprite() = default;

C_QuadSprite::C_QuadSprite(float width, float height, D3DCOLOR color, float z) { SetSize(width, height, color, z); }

C_QuadSprite::C_QuadSprite(const C_QuadSprite& other)
    : C_DeviceResource(other), m_bSized(other.m_bSized), m_strFile(other.m_strFile), m_pTexture(other.m_pTexture) {
  for (int i = 0; i < 4; ++i) m_aVertex[i] = other.m_aVertex[i];
  if (m_pTexture) m_pTexture->AddRef();
}

C_QuadSprite& C_QuadSprite::operator=(const C_QuadSprite& other) {
  if (this == &other) return *this;
  if (other.m_pTexture) other.m_pTexture->AddRef();
  SafeRelease(m_pTexture);
  m_bSized = other.m_bSized;
  m_strFile = other.m_strFile;
  for (int i = 0; i < 4; ++i) m_aVertex[i] = other.m_aVertex[i];
  m_pTexture = other.m_pTexture;
  return *this;
}

C_QuadSprite::~C_QuadSprite() { C_QuadSprite::Release(); }

void C_QuadSprite::Restore() {
  if (!m_strFile.empty()) LoadTexture();
}

void C_QuadSprite::Release() { SafeRelease(m_pTexture); }

void C_QuadSprite::LoadTexture() {
  Release();
  LoadPictureTexture(g_pDevice, m_strFile, &m_pTexture);
  if (!m_pTexture) return;
  D3DSURFACE_DESC desc{};
  if (FAILED(m_pTexture->GetLevelDesc(0, &desc))) return;
  SetSize(static_cast<float>(desc.Width), static_cast<float>(desc.Height), 0xFFFFFFFF, 0.0f);
}

void C_QuadSprite::SetSize(float width, float height, D3DCOLOR color, float z) {
  const float corner[4][4] = {{0, 0, 0, 0}, {width, 0, 1, 0}, {0, height, 0, 1}, {width, height, 1, 1}};
  for (int i = 0; i < 4; ++i) m_aVertex[i] = {corner[i][0], corner[i][1], z, 1.0f, color, corner[i][2], corner[i][3]};
  m_bSized = 1;
}

void C_QuadSprite::SetFile(const char* name) {
  m_strFile = name ? name : "";
  if (g_pDevice) Restore();
}

void C_QuadSprite::Draw(float x, float y, float z) { DrawQuad(x, y, z, false); }

void C_QuadSprite::DrawRgbOnly(float x, float y, float z) { DrawQuad(x, y, z, true); }

void C_QuadSprite::DrawQuad(float x, float y, float z, bool rgbOnly) {
  IDirect3DDevice9* device = g_pDevice;
  if (!device) return;
  QuadVertex v[4];
  for (int i = 0; i < 4; ++i) {
    v[i] = m_aVertex[i];
    v[i].x += x;
    v[i].y += y;
    v[i].z += z;
  }
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  // The mask stays: the next sprite batch sets all four channels again.
  if (rgbOnly) device->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
  // Without a texture these stages pass the vertex colour and alpha through.
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
  device->SetTexture(0, m_pTexture);
  device->SetFVF(kQuadFvf);
  device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(QuadVertex));
}

// --- C_RenderTargetSprite --------------------------------------------------------------

C_RenderTargetSprite::~C_RenderTargetSprite() { C_RenderTargetSprite::Release(); }

void C_RenderTargetSprite::Restore() {
  if (m_bSized) LoadTexture();
}

void C_RenderTargetSprite::Release() {
  SafeRelease(m_pTexture);
  SafeRelease(m_pTargetSurface);
  SafeRelease(m_pDepthSurface);
  SafeRelease(m_pSavedTarget);
  SafeRelease(m_pSavedDepth);
}

void C_RenderTargetSprite::LoadTexture() {
  Release();
  if (!g_pDevice) return;
  if (FAILED(g_pDevice->CreateTexture(static_cast<UINT>(m_nTargetWidth), static_cast<UINT>(m_nTargetHeight), 1,
                                      D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &m_pTexture,
                                      nullptr)))
    m_pTexture = nullptr;
}

void C_RenderTargetSprite::SetSize(float width, float height, D3DCOLOR color, float z) {
  m_nTargetWidth = TruncateToInt(width);
  m_nTargetHeight = TruncateToInt(height);
  C_QuadSprite::SetSize(width, height, color, z);
  if (g_pDevice) LoadTexture();
}

void C_RenderTargetSprite::BeginTarget(bool clear) {
  IDirect3DDevice9* device = g_pDevice;
  if (!m_pTexture || !device) return;
  // A second begin without an end would save our own surface as the target to return to.
  if (m_bTargetActive) EndTarget();
  if (FAILED(m_pTexture->GetSurfaceLevel(0, &m_pTargetSurface))) {
    m_pTargetSurface = nullptr;
    return;
  }
  if (FAILED(device->CreateDepthStencilSurface(static_cast<UINT>(m_nTargetWidth), static_cast<UINT>(m_nTargetHeight),
                                               D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &m_pDepthSurface,
                                               nullptr))) {
    m_pDepthSurface = nullptr;
    SafeRelease(m_pTargetSurface);
    return;
  }
  D3DVIEWPORT9 saved{};
  device->GetViewport(&saved);
  m_SavedViewport = {saved.X, saved.Y, saved.Width, saved.Height, saved.MinZ, saved.MaxZ};
  if (FAILED(device->GetRenderTarget(0, &m_pSavedTarget))) m_pSavedTarget = nullptr;
  if (FAILED(device->GetDepthStencilSurface(&m_pSavedDepth))) m_pSavedDepth = nullptr;
  device->SetRenderTarget(0, m_pTargetSurface);
  device->SetDepthStencilSurface(m_pDepthSurface);
  if (clear && FAILED(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00FFFFFF, 1.0f, 0))) {
    RestoreSavedTarget();
    return;
  }
  const D3DVIEWPORT9 viewport{0, 0, static_cast<DWORD>(m_nTargetWidth), static_cast<DWORD>(m_nTargetHeight), 0.0f,
                              1.0f};
  device->SetViewport(&viewport);
  m_bTargetActive = 1;
}

void C_RenderTargetSprite::EndTarget() {
  if (!m_bTargetActive) return;
  m_bTargetActive = 0;
  RestoreSavedTarget();
}

void C_RenderTargetSprite::RestoreSavedTarget() {
  if (IDirect3DDevice9* device = g_pDevice) {
    device->SetRenderTarget(0, m_pSavedTarget);
    device->SetDepthStencilSurface(m_pSavedDepth);
    const D3DVIEWPORT9 viewport{m_SavedViewport.X,     m_SavedViewport.Y,    m_SavedViewport.Width,
                                m_SavedViewport.Height, m_SavedViewport.MinZ, m_SavedViewport.MaxZ};
    device->SetViewport(&viewport);
  }
  SafeRelease(m_pTargetSurface);
  SafeRelease(m_pDepthSurface);
  SafeRelease(m_pSavedTarget);
  SafeRelease(m_pSavedDepth);
}

#include "qel/appbase/qelspritetexture.h"

#include "gxl/draw/creators.h"
#include "gxl/math/matrix.h"
#include "qel/appbase/qelpicture.h"
#include "qel/appbase/qelrelease.h"

namespace {

// The batcher draws with the device state as it stands (no save, no restore).
constexpr DWORD kBatchFlags = SpriteBatchFlags::NoStateSave;

}  // namespace

// --- C_SpriteTexture -------------------------------------------------------------------

C_SpriteTexture::~C_SpriteTexture() { C_SpriteTexture::Release(); }

void C_SpriteTexture::Restore() {
  IDirect3DDevice9* device = GetGlobalDevice();
  if (m_strFile.empty() || m_pTexture || !device) return;
  m_bLoaded = 1;
  const PictureRoad road = LoadPictureTexture(device, m_strFile, &m_pTexture);
  if (road == PictureRoad::kFile && !m_pTexture) return;
  SafeRelease(m_pSprite);
  if (FAILED(GXLCreateSpriteBatcher(device, &m_pSprite))) m_pSprite = nullptr;
}

void C_SpriteTexture::Release() {
  SafeRelease(m_pTexture);
  SafeRelease(m_pSprite);
}

int C_SpriteTexture::SetFile(const char* name) {
  Release();
  m_strFile = name ? name : "";
  if (m_bLoaded) Restore();
  return 0;
}

void C_SpriteTexture::SetBlend(D3DBLEND source, D3DBLEND dest) {
  if (IDirect3DDevice9* device = GetGlobalDevice()) {
    device->SetRenderState(D3DRS_SRCBLEND, source);
    device->SetRenderState(D3DRS_DESTBLEND, dest);
  }
}

void C_SpriteTexture::Draw(float x, float y, int alpha, const RECT* rect, float z) {
  if (!m_pSprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  Matrix4 m;
  MatrixTranslation(&m, x, y, z);
  DrawWithSprite(m, alpha, rect);
}

void C_SpriteTexture::DrawAdditive(float x, float y, int alpha, const RECT* rect, float z) {
  if (!m_pSprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_ONE);
  Matrix4 m;
  MatrixTranslation(&m, x, y, z);
  DrawWithSprite(m, alpha, rect);
}

void C_SpriteTexture::DrawRotated(float x, float y, float angle, float cx, float cy, int alpha, const RECT* rect,
                                  float z) {
  if (!m_pSprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  Matrix4 toCentre, turn, back, m;
  MatrixTranslation(&toCentre, -cx, -cy, 0.0f);
  MatrixRotationZ(&turn, angle);
  MatrixTranslation(&back, x + cx, y + cy, z);
  MatrixMultiply(&m, &toCentre, &turn);
  MatrixMultiply(&m, &m, &back);
  DrawWithSprite(m, alpha, rect);
}

void C_SpriteTexture::DrawScaled(float x, float y, float sx, float sy, float cx, float cy, int alpha,
                                 const RECT* rect, float z) {
  if (!m_pSprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  // A zero scale collapses the picture; its centre term is taken as 0 rather
  // than a division by zero.
  const float ox = sx != 0.0f ? cx / sx : 0.0f;
  const float oy = sy != 0.0f ? cy / sy : 0.0f;
  Matrix4 toCentre, scale, back, m;
  MatrixTranslation(&toCentre, -cx, -cy, 0.0f);
  MatrixScaling(&scale, sx, sy, 1.0f);
  MatrixTranslation(&back, x + ox, y + oy, z);
  MatrixMultiply(&m, &toCentre, &scale);
  MatrixMultiply(&m, &m, &back);
  DrawWithSprite(m, alpha, rect);
}

void C_SpriteTexture::DrawTransformed(Matrix4 matrix, int alpha, const RECT* rect, float /*z*/) {
  if (!m_pSprite) return;
  DrawWithSprite(matrix, alpha, rect);
}

void C_SpriteTexture::DrawWithSprite(const Matrix4& transform, int alpha, const RECT* rect) {
  m_pSprite->SetSpriteTransform(&transform);
  m_pSprite->BeginBatch(kBatchFlags);
  const D3DCOLOR color = (static_cast<DWORD>(alpha) << 24) + 0x00FFFFFFu;
  if (IDirect3DDevice9* device = GetGlobalDevice()) {
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  }
  m_pSprite->QueueSprite(m_pTexture, rect, nullptr, nullptr, color);
  m_pSprite->EndBatch();
}

// --- C_SpriteBatch ---------------------------------------------------------------------

C_SpriteBatch::~C_SpriteBatch() { C_SpriteBatch::Release(); }

void C_SpriteBatch::Restore() {
  SafeRelease(m_pSprite);
  if (FAILED(GXLCreateSpriteBatcher(GetGlobalDevice(), &m_pSprite))) m_pSprite = nullptr;
}

void C_SpriteBatch::Release() { SafeRelease(m_pSprite); }

#include "qel/appbase/qelspritetexture.h"

#include "gxl/draw/creators.h"
#include "gxl/math/matrix.h"
#include "qel/appbase/qeldxappbase.h"
#include "qel/appbase/qelpicture.h"
#include "qel/appbase/qelrelease.h"

namespace {

// The batcher draws with the device state as it stands (no save, no restore).
constexpr DWORD kBatchFlags = SpriteBatchFlags::NoStateSave;

void SetBlend(D3DBLEND source, D3DBLEND dest) {
  if (IDirect3DDevice9* device = GetGlobalDevice()) {
    device->SetRenderState(D3DRS_SRCBLEND, source);
    device->SetRenderState(D3DRS_DESTBLEND, dest);
  }
}

Matrix4 Translation(float x, float y, float z) {
  Matrix4 m;
  MatrixTranslation(&m, x, y, z);
  return m;
}

// Moved by (-cx, -cy), then `middle`, then moved to `to`.
Matrix4 AboutCentre(float cx, float cy, const Matrix4& middle, const Matrix4& to) {
  Matrix4 m;
  const Matrix4 toCentre = Translation(-cx, -cy, 0.0f);
  MatrixMultiply(&m, &toCentre, &middle);
  MatrixMultiply(&m, &m, &to);
  return m;
}

}  // namespace

// --- C_SpriteDrawing -------------------------------------------------------------------

C_SpriteDrawing::~C_SpriteDrawing() { SafeRelease(m_pTexture); }

void C_SpriteDrawing::Release() { SafeRelease(m_pTexture); }

int C_SpriteDrawing::SetFile(const char* name) {
  Release();
  m_strFile = name ? name : "";
  if (m_bLoaded) Restore();
  return 0;
}

void C_SpriteDrawing::Draw(float x, float y, int alpha, const RECT* rect, float z) {
  SpriteBatcher* sprite = DrawingSprite();
  if (!sprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  DrawWithSprite(sprite, Translation(x, y, z), alpha, rect);
}

void C_SpriteDrawing::DrawAdditive(float x, float y, int alpha, const RECT* rect, float z) {
  SpriteBatcher* sprite = DrawingSprite();
  if (!sprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_ONE);
  DrawWithSprite(sprite, Translation(x, y, z), alpha, rect);
}

void C_SpriteDrawing::DrawRotated(float x, float y, float angle, float cx, float cy, int alpha, const RECT* rect,
                                  float z) {
  SpriteBatcher* sprite = DrawingSprite();
  if (!sprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  Matrix4 turn;
  MatrixRotationZ(&turn, angle);
  DrawWithSprite(sprite, AboutCentre(cx, cy, turn, Translation(x + cx, y + cy, z)), alpha, rect);
}

void C_SpriteDrawing::DrawScaled(float x, float y, float sx, float sy, float cx, float cy, int alpha,
                                 const RECT* rect, float z) {
  SpriteBatcher* sprite = DrawingSprite();
  if (!sprite) return;
  SetBlend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  // A zero scale collapses the picture; its centre term is taken as 0 rather
  // than a division by zero.
  const float ox = sx != 0.0f ? cx / sx : 0.0f;
  const float oy = sy != 0.0f ? cy / sy : 0.0f;
  Matrix4 scale;
  MatrixScaling(&scale, sx, sy, 1.0f);
  DrawWithSprite(sprite, AboutCentre(cx, cy, scale, Translation(x + ox, y + oy, z)), alpha, rect);
}

void C_SpriteDrawing::DrawTransformed(Matrix4 matrix, int alpha, const RECT* rect, float /*z*/) {
  if (SpriteBatcher* sprite = DrawingSprite()) DrawWithSprite(sprite, matrix, alpha, rect);
}

void C_SpriteDrawing::DrawWithSprite(SpriteBatcher* sprite, const Matrix4& transform, int alpha, const RECT* rect) {
  const bool ownBatch = BatchPerDraw();
  sprite->SetSpriteTransform(&transform);
  if (ownBatch) sprite->BeginBatch(kBatchFlags);
  const D3DCOLOR color = (static_cast<DWORD>(alpha) << 24) + 0x00FFFFFFu;
  if (IDirect3DDevice9* device = GetGlobalDevice()) {
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  }
  sprite->QueueSprite(m_pTexture, rect, nullptr, nullptr, color);
  if (ownBatch) sprite->EndBatch();
}

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
  C_SpriteDrawing::Release();
  SafeRelease(m_pSprite);
}

// --- C_Texture -------------------------------------------------------------------------

void C_Texture::Restore() {
  if (m_strFile.empty()) return;
  m_bLoaded = 1;
  SafeRelease(m_pTexture);  // a second load replaces the picture instead of leaking it
  LoadPictureTexture(GetGlobalDevice(), m_strFile, &m_pTexture);
}

SpriteBatcher* C_Texture::DrawingSprite() const { return g_pGlobalSprite; }

// --- C_SpriteBatch ---------------------------------------------------------------------

C_SpriteBatch::~C_SpriteBatch() { C_SpriteBatch::Release(); }

void C_SpriteBatch::Restore() {
  SafeRelease(m_pSprite);
  if (FAILED(GXLCreateSpriteBatcher(GetGlobalDevice(), &m_pSprite))) m_pSprite = nullptr;
}

void C_SpriteBatch::Release() { SafeRelease(m_pSprite); }

// Pictures drawn through sprite batchers. C_SpriteTexture owns its picture and
// a sprite batcher of its own; each draw opens a batch on it, queues the one
// sprite under a translation, scaling, rotation or given matrix, and closes
// the batch. C_SpriteBatch holds the application's frame-wide batcher.
#pragma once

#include <string>

#include "gxl/draw/sprite_batcher.h"
#include "gxl/math/records.h"
#include "platform/d3d9_api.h"
#include "qel/appbase/qeldeviceresource.h"

class C_SpriteTexture : public C_DeviceResource {
 public:
  C_SpriteTexture() = default;
  C_SpriteTexture(const C_SpriteTexture&) = delete;
  C_SpriteTexture& operator=(const C_SpriteTexture&) = delete;
  ~C_SpriteTexture() override;

  // Loads the picture by the framework's rule and creates the sprite; nothing
  // without a name or a device, or while a texture is held. When the picture
  // file exists but cannot be read, no sprite is made either.
  void Restore() override;
  void Load() { Restore(); }
  void Release() override;
  // Releases picture and sprite and stores the name; reloads at once once a
  // load has run with a name and a device. Returns 0.
  int SetFile(const char* name);

  // alpha (0 to 255) multiplies the texture's alpha; rect is a source
  // rectangle in texels, null for the whole picture. The picture's top-left
  // texel lands on the transformed origin.
  // At (x, y, z), blended by source alpha.
  void Draw(float x, float y, int alpha = 255, const RECT* rect = nullptr, float z = 0.0f);
  // At (x, y, z), added to what lies beneath.
  void DrawAdditive(float x, float y, int alpha = 255, const RECT* rect = nullptr, float z = 0.0f);
  // Turned by angle (radians) about (cx, cy) of the picture, its unturned
  // top-left corner at (x, y).
  void DrawRotated(float x, float y, float angle, float cx, float cy, int alpha = 255, const RECT* rect = nullptr,
                   float z = 0.0f);
  // Scaled by (sx, sy): moved by (-cx, -cy), scaled, then moved by
  // (x + cx / sx, y + cy / sy, z); with cx = cy = 0 about the top-left corner,
  // which lands at (x, y).
  void DrawScaled(float x, float y, float sx, float sy, float cx, float cy, int alpha = 255,
                  const RECT* rect = nullptr, float z = 0.0f);
  // Through the matrix, with the blend factors the device has.
  void DrawTransformed(Matrix4 matrix, int alpha = 255, const RECT* rect = nullptr, float z = 0.0f);

  const std::string& GetFile() const { return m_strFile; }
  bool IsLoaded() const { return m_bLoaded != 0; }
  IDirect3DTexture9* GetTexture() const { return m_pTexture; }
  SpriteBatcher* GetSprite() const { return m_pSprite; }

 private:
  void SetBlend(D3DBLEND source, D3DBLEND dest);
  // One batch with the one sprite under the transform.
  void DrawWithSprite(const Matrix4& transform, int alpha, const RECT* rect);

  std::string m_strFile;
  BYTE m_bLoaded = 0;
  IDirect3DTexture9* m_pTexture = nullptr;
  SpriteBatcher* m_pSprite = nullptr;
};

class C_SpriteBatch : public C_DeviceResource {
 public:
  C_SpriteBatch() = default;
  C_SpriteBatch(const C_SpriteBatch&) = delete;
  C_SpriteBatch& operator=(const C_SpriteBatch&) = delete;
  ~C_SpriteBatch() override;

  // Creates the batcher on the global device (a failure leaves none).
  void Restore() override;
  void Release() override;
  SpriteBatcher* GetSprite() const { return m_pSprite; }

 private:
  SpriteBatcher* m_pSprite = nullptr;
};

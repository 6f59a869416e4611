// Pictures drawn through sprite batchers under a translation, scaling,
// rotation or given matrix. C_SpriteTexture owns a sprite batcher of its own
// and makes each draw a batch on it; C_Texture queues into the frame-wide
// batcher that C_SpriteBatch holds.
#pragma once

#include <string>

#include "gxl/draw/sprite_batcher.h"
#include "gxl/math/records.h"
#include "platform/d3d9_api.h"
#include "qel/appbase/qeldeviceresource.h"

// What both picture holders share: the picture, loaded by the framework's
// rule, and the draws. Each draw sets the blend factors, makes the transform
// the sprite's, sets the texture stage to multiply the picture's alpha by the
// draw's and queues the one sprite; the holder supplies the sprite and says
// whether a draw opens and closes a batch of its own.
class C_SpriteDrawing : public C_DeviceResource {
 public:
  C_SpriteDrawing() = default;
  C_SpriteDrawing(const C_SpriteDrawing&) = delete;
  C_SpriteDrawing& operator=(const C_SpriteDrawing&) = delete;
  ~C_SpriteDrawing() override;

  void Load() { Restore(); }
  // Releases the picture.
  void Release() override;
  // Releases what the holder has and stores the name; reloads at once once a
  // load has run with a name. Returns 0.
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

 protected:
  // The batcher the draws go through; none draws nothing.
  virtual SpriteBatcher* DrawingSprite() const = 0;
  // True when each draw is a batch of its own; false queues into a batch the
  // frame has open.
  virtual bool BatchPerDraw() const = 0;

  std::string m_strFile;
  BYTE m_bLoaded = 0;
  IDirect3DTexture9* m_pTexture = nullptr;

 private:
  void DrawWithSprite(SpriteBatcher* sprite, const Matrix4& transform, int alpha, const RECT* rect);
};

// A picture with a sprite batcher of its own: every draw is one batch.
class C_SpriteTexture : public C_SpriteDrawing {
 public:
  C_SpriteTexture() = default;
  ~C_SpriteTexture() override;

  // Loads the picture by the framework's rule and creates the sprite; nothing
  // without a name or a device, or while a texture is held. When the picture
  // file exists but cannot be read, no sprite is made either.
  void Restore() override;
  // Releases picture and sprite.
  void Release() override;
  SpriteBatcher* GetSprite() const { return m_pSprite; }

 protected:
  SpriteBatcher* DrawingSprite() const override { return m_pSprite; }
  bool BatchPerDraw() const override { return true; }

 private:
  SpriteBatcher* m_pSprite = nullptr;
};

// A picture drawn through the frame-wide batcher (g_pGlobalSprite): its draws
// only queue into the batch the frame has open, drawn when the frame ends it.
class C_Texture : public C_SpriteDrawing {
 public:
  C_Texture() = default;
  ~C_Texture() override = default;

  // Loads the picture by the framework's rule whenever it has a name; a held
  // picture is released first.
  void Restore() override;

 protected:
  SpriteBatcher* DrawingSprite() const override;
  bool BatchPerDraw() const override { return false; }
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

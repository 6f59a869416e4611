// The sprite batcher: textured, coloured rectangles collected between
// BeginBatch and EndBatch and drawn with few draw calls, ordered by texture or
// depth on request, with the device state it changes saved and restored.
//
// Made only by GXLCreateSpriteBatcher (gxl/draw/creators.h); released with
// Release. Used on the thread that owns its device.
#pragma once

#include <cstdint>

#include "gxl/math/records.h"
#include "platform/d3d9_api.h"

// The flags word of SpriteBatcher::BeginBatch; bits above 0xFF are refused.
struct SpriteBatchFlags {
  // Begin captures no device state and End restores none.
  static constexpr DWORD NoStateSave = 0x01;
  // Begin neither captures nor sets the general render state; End leaves it.
  static constexpr DWORD KeepRenderState = 0x02;
  // The world, view and projection transforms stay as the application set them.
  static constexpr DWORD ObjectSpace = 0x04;
  // Sprites are placed in view space facing the viewer; implies ObjectSpace.
  static constexpr DWORD Billboard = 0x08;
  // Begin captures and sets the alpha test and blend state.
  static constexpr DWORD AlphaBlend = 0x10;
  // Flushes order sprites by texture; takes precedence over the depth orders.
  static constexpr DWORD SortByTexture = 0x20;
  // Flushes order sprites by depth key, smaller first.
  static constexpr DWORD SortDepthAscending = 0x40;
  // Flushes order sprites by depth key, larger first (when SortDepthAscending is clear).
  static constexpr DWORD SortDepthDescending = 0x80;
};

// One corner as the device reads it (position, ARGB colour, texture coordinates).
struct SpriteVertex {
  Vec3 position;
  D3DCOLOR color;
  float u, v;
};
static_assert(sizeof(SpriteVertex) == 24);

// Corners in the order origin, origin + height, origin + width, origin + width
// + height (top-left, bottom-left, top-right, bottom-right for a positive size
// in screen space), drawn as the triangles (0, 1, 2) and (2, 1, 3).
struct SpriteQuad {
  SpriteVertex corner[4];
};
static_assert(sizeof(SpriteQuad) == 96);

struct SpriteBatcher : IUnknown {
  // QueryInterface answers IidSpriteBatcher and IID_IUnknown, and stores null
  // with E_NOINTERFACE otherwise.

  // The device, with a reference added.
  virtual HRESULT GetDeviceRef(IDirect3DDevice9** device) = 0;
  virtual HRESULT GetSpriteTransform(Matrix4* transform) = 0;
  // Transforms the sprites queued from now on (sprite pixel coordinates, as
  // row vectors, times the matrix give target coordinates); allowed inside a batch.
  virtual HRESULT SetSpriteTransform(const Matrix4* transform) = 0;
  // World times view, for billboards and depth keys; either may be null. Only
  // outside a batch.
  virtual HRESULT SetWorldViewRightHanded(const Matrix4* world, const Matrix4* view) = 0;
  virtual HRESULT SetWorldViewLeftHanded(const Matrix4* world, const Matrix4* view) = 0;
  virtual HRESULT BeginBatch(DWORD flags) = 0;
  // rect in texels (null: the whole level 0); centre and position may be null.
  // The texture must stay alive until the queue is flushed.
  virtual HRESULT QueueSprite(IDirect3DTexture9* texture, const RECT* rect, const Vec3* centre, const Vec3* position,
                              D3DCOLOR color) = 0;
  // Draws what is queued so far; only inside a batch.
  virtual HRESULT FlushBatch() = 0;
  // Draws what is left and gives the device its state back.
  virtual HRESULT EndBatch() = 0;
  // Around a device reset: the owner calls OnDeviceLost before and OnDeviceReset after.
  virtual HRESULT OnDeviceLost() = 0;
  virtual HRESULT OnDeviceReset() = 0;

 protected:
  ~SpriteBatcher() = default;
};

// The sprite batcher's object: its lifetime, transforms and queue
// (sprite_batcher.cpp) and its drawing and device state (sprite_batch_draw.cpp).
// Only the creator and those two files see it.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/tex/com_ref.h"
#include "gxl/draw/sprite_batcher.h"

namespace gxl {

class SpriteBatcherObject final : public SpriteBatcher {
 public:
  // The vertex buffer holds this many vertices (4096 quads); the index buffer
  // holds the six indices of each of those quads.
  static constexpr std::uint32_t kRingVertices = 16384;
  static constexpr UINT kVertexBufferBytes = kRingVertices * sizeof(SpriteVertex);
  static constexpr UINT kIndexBufferBytes = kRingVertices / 4 * 6 * sizeof(std::uint16_t);

  // Reference count 1, nothing held; Init makes it usable.
  SpriteBatcherObject();
  HRESULT Init(IDirect3DDevice9* device);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetDeviceRef(IDirect3DDevice9** device) override;
  HRESULT GetSpriteTransform(Matrix4* transform) override;
  HRESULT SetSpriteTransform(const Matrix4* transform) override;
  HRESULT SetWorldViewRightHanded(const Matrix4* world, const Matrix4* view) override;
  HRESULT SetWorldViewLeftHanded(const Matrix4* world, const Matrix4* view) override;
  HRESULT BeginBatch(DWORD flags) override;
  HRESULT QueueSprite(IDirect3DTexture9* texture, const RECT* rect, const Vec3* centre, const Vec3* position,
                      D3DCOLOR color) override;
  HRESULT FlushBatch() override;
  HRESULT EndBatch() override;
  HRESULT OnDeviceLost() override;
  HRESULT OnDeviceReset() override;

  // Destroys an object whose Init failed, or the last reference's object.
  void Destroy() { delete this; }

 private:
  ~SpriteBatcherObject();

  HRESULT SetWorldView(const Matrix4* world, const Matrix4* view, bool rightHanded);
  // Grows the four queue arrays geometrically.
  HRESULT GrowQueue();
  void EmptyQueue();
  // Applies the sprite transform to sprites [m_transformedCount, m_count).
  void TransformPendingSprites();
  HRESULT CreateBuffers();
  void RecordStateBlocks();
  void SetPixelProjection();
  // Fills m_depthKeys; false when every key is equal (no order to make).
  bool ComputeDepthKeys();

  ULONG m_refs = 1;

  // Device objects, in the order they are taken; released in reverse.
  ComRef<IDirect3DDevice9> m_device;
  ComRef<IDirect3D9> m_d3d;
  ComRef<IDirect3DVertexDeclaration9> m_declaration;
  ComRef<IDirect3DIndexBuffer9> m_indexBuffer;
  ComRef<IDirect3DVertexBuffer9> m_vertexBuffer;
  ComRef<IDirect3DIndexBuffer9> m_savedIndexBuffer;
  ComRef<IDirect3DStateBlock9> m_generalCapture, m_generalSet;
  ComRef<IDirect3DStateBlock9> m_alphaCapture, m_alphaSet;
  ComRef<IDirect3DStateBlock9> m_transformCapture, m_transformSet;

  // Ring positions in the vertex buffer's current fill.
  std::uint32_t m_indexWritePos = 0;
  std::uint32_t m_vertexWritePos = 0;

  // From the device at Init.
  D3DDEVTYPE m_deviceType = D3DDEVTYPE(0);
  UINT m_adapterOrdinal = 0;
  D3DPOOL m_bufferPool = D3DPOOL_DEFAULT;
  DWORD m_magFilter = 0, m_minFilter = 0, m_mipFilter = 0;
  DWORD m_maxAnisotropy = 0;
  bool m_alphaTest = false;
  bool m_targetBlends = true;

  bool m_identity = true;
  bool m_billboardCacheValid = false;
  struct alignas(16) Matrices {
    Matrix4 sprite;     // applied to queued sprites
    Matrix4 worldView;  // for billboards and depth keys
    Matrix4 combined;   // sprite x world-view, for billboards
  } m_matrices;
  Vec3 m_viewDirection{0.0f, 0.0f, -1.0f};
  Vec3 m_billboardScale{1.0f, 1.0f, 1.0f};

  bool m_inBatch = false;
  DWORD m_flags = 0;

  // The queue: four arrays of m_capacity entries.
  std::unique_ptr<std::uint32_t[]> m_sortOrder;         // scratch
  std::unique_ptr<IDirect3DTexture9*[]> m_textureKeys;  // no reference held
  std::unique_ptr<float[]> m_depthKeys;                 // scratch
  std::unique_ptr<SpriteQuad[]> m_quads;
  std::uint32_t m_count = 0;
  std::uint32_t m_capacity = 0;
  std::uint32_t m_transformedCount = 0;
  std::uint32_t m_textureChanges = 0;
  IDirect3DTexture9* m_currentTexture = nullptr;
  UINT m_textureWidth = 0, m_textureHeight = 0;
  float m_texelWidth = 0.0f, m_texelHeight = 0.0f;
};

}  // namespace gxl

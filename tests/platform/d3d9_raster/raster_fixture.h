// Shared by the rasteriser tests: a headless device with helpers that draw
// pre-transformed and transformed primitives, make textures from ARGB texels
// and read render targets back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "tests/platform/d3d9/d3d9_fixture.h"

namespace rastertest {

using d3dtest::Ref;

// FVF 0x144: pre-transformed position, diffuse, one texture coordinate pair.
struct TlVertex {
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};
constexpr DWORD kTlFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// FVF 0x142: untransformed position, diffuse, one texture coordinate pair.
struct Vertex {
  float x, y, z;
  DWORD color;
  float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

inline D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

inline unsigned Channel(std::uint32_t c, int shift) { return (c >> shift) & 0xFF; }

class RasterTest : public d3dtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(dev->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_ZENABLE, FALSE), D3D_OK);
  }

  void Clear(D3DCOLOR color) { ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, color, 1.0f, 0), D3D_OK); }

  // A rectangle of two pre-transformed triangles as a strip, at the given
  // corners, with texture coordinates from (u0, v0) to (u1, v1).
  void Quad(float x0, float y0, float x1, float y1, DWORD color, float u0 = 0, float v0 = 0, float u1 = 1,
            float v1 = 1, float z = 0) {
    const TlVertex q[4] = {{x0, y0, z, 1, color, u0, v0},
                           {x1, y0, z, 1, color, u1, v0},
                           {x0, y1, z, 1, color, u0, v1},
                           {x1, y1, z, 1, color, u1, v1}};
    DrawTl(D3DPT_TRIANGLESTRIP, 2, q);
  }

  void DrawTl(D3DPRIMITIVETYPE type, UINT count, const TlVertex* v) {
    ASSERT_EQ(dev->SetFVF(kTlFvf), D3D_OK);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    EXPECT_EQ(dev->DrawPrimitiveUP(type, count, v, sizeof(TlVertex)), D3D_OK);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
  }

  // A texture of `w` x `h` from ARGB texels (row-major), in the managed pool.
  Ref<IDirect3DTexture9> Texture(UINT w, UINT h, const std::vector<std::uint32_t>& texels,
                                 D3DFORMAT format = D3DFMT_A8R8G8B8, UINT levels = 1) {
    Ref<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(w, h, levels, 0, format, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    if (!t) return t;
    D3DLOCKED_RECT lr;
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < h; ++y)
      std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch, &texels[std::size_t(y) * w], w * 4);
    EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    return t;
  }

  // Raw bytes for one level of a texture in any format.
  void Fill(IDirect3DTexture9* t, UINT level, const void* bytes, UINT rowBytes, UINT rows) {
    D3DLOCKED_RECT lr;
    ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < rows; ++y)
      std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch,
                  static_cast<const std::uint8_t*>(bytes) + std::size_t(y) * rowBytes, rowBytes);
    ASSERT_EQ(t->UnlockRect(level), D3D_OK);
  }

  // The back buffer's colours (X8R8G8B8: the X byte left out).
  std::vector<std::uint32_t> Screen() {
    Ref<IDirect3DSurface9> back;
    EXPECT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    std::vector<std::uint32_t> px = ReadBack(back.get());
    for (std::uint32_t& p : px) p &= 0x00FFFFFFu;
    return px;
  }
  std::uint32_t At(const std::vector<std::uint32_t>& px, int x, int y, int width = 640) {
    return px[std::size_t(y) * width + x];
  }
  // Texels with any of the mask's bits different from `background`.
  static int CountNot(const std::vector<std::uint32_t>& px, std::uint32_t background, std::uint32_t mask = 0xFFFFFFFF) {
    int n = 0;
    for (std::uint32_t p : px) n += (p & mask) != (background & mask);
    return n;
  }
};

}  // namespace rastertest

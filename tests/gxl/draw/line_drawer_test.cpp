// The line drawer's object: properties, the pattern texture's bytes, the
// buffers a bracket makes, and the device state a bracket saves and restores.
#include "gxl/draw/line_drawer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "draw_test_support.h"
#include "gxl/draw/interface_ids.h"

namespace drawtest {
namespace {

class LineDrawerTest : public SpriteTest {
 protected:
  ComRef<LineDrawer> Make() {
    LineDrawer* l = nullptr;
    EXPECT_EQ(GXLCreateLineDrawer(dev, &l), S_OK);
    return ComRef<LineDrawer>(l);
  }
  // The pattern texture the open bracket draws with (A8, 64 x 64), row by row.
  std::vector<std::uint8_t> PatternBytes() {
    ComRef<IDirect3DBaseTexture9> base;
    EXPECT_EQ(dev->GetTexture(0, base.Put()), D3D_OK);
    if (!base) return {};
    auto* texture = static_cast<IDirect3DTexture9*>(base.Get());
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_A8);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(texture->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<std::uint8_t> bytes(64 * 64);
    for (int y = 0; y < 64; ++y) std::memcpy(&bytes[y * 64], static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch, 64);
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    return bytes;
  }
};

TEST_F(LineDrawerTest, PropertiesAndRefusals) {
  auto l = Make();
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  for (const float bad : {0.0f, -1.0f, inf, nan}) {
    EXPECT_EQ(l->SetLineWidth(bad), D3DERR_INVALIDCALL) << bad;
    EXPECT_EQ(l->SetStippleScale(bad), D3DERR_INVALIDCALL) << bad;
  }
  EXPECT_EQ(l->GetLineWidth(), 1.0f);
  EXPECT_EQ(l->GetStippleScale(), 1.0f);
  EXPECT_EQ(l->GetStipple(), 0xFFFFFFFFu);
  EXPECT_EQ(l->SetSmoothing(7), S_OK);
  EXPECT_EQ(l->GetSmoothing(), TRUE);

  ASSERT_EQ(l->BeginLines(), S_OK);
  EXPECT_EQ(l->BeginLines(), D3DERR_INVALIDCALL);
  EXPECT_EQ(l->SetStipple(1), D3DERR_INVALIDCALL);
  EXPECT_EQ(l->SetStippleScale(2), D3DERR_INVALIDCALL);
  EXPECT_EQ(l->SetLineWidth(2), D3DERR_INVALIDCALL);
  EXPECT_EQ(l->SetSmoothing(FALSE), D3DERR_INVALIDCALL);
  EXPECT_EQ(l->SetAltQuadMode(TRUE), D3DERR_INVALIDCALL);
  const Vec2 one[1] = {{0, 0}};
  EXPECT_EQ(l->DrawPolyline(one, 1, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(l->DrawPolyline(nullptr, 2, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(l->EndLines(), S_OK);
  EXPECT_EQ(l->EndLines(), D3DERR_INVALIDCALL);

  Vec2 probe[1] = {{0, 0}};
  void* out = probe;
  EXPECT_EQ(l->QueryInterface(IidSurfaceSceneRenderer, &out), E_NOINTERFACE);
  EXPECT_EQ(out, probe);
  ASSERT_EQ(l->QueryInterface(IidSpriteBatcher, &out), S_OK);
  EXPECT_EQ(out, l.Get());
  EXPECT_EQ(l->Release(), 1u);
  LineDrawer* none = nullptr;
  EXPECT_EQ(GXLCreateLineDrawer(nullptr, &none), D3DERR_INVALIDCALL);
  // A device that cannot clamp textures is refused.
  platform::test::EditD3D9Caps([](D3DCAPS9& c) { c.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP; });
  EXPECT_EQ(GXLCreateLineDrawer(dev, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(none, nullptr);
}

// The profile across the line (p[0] the outer edge), mirrored about the
// middle rows, times the pattern's bits along it (two texels a bit).
TEST_F(LineDrawerTest, PatternTextureBytes) {
  const struct {
    DWORD pattern;
    BOOL smoothing;
    float width;
    std::vector<std::pair<int, int>> profile;  // (index, byte); bytes not listed keep the last one listed
  } cases[] = {
      {0x0000FFFF, FALSE, 1.0f, {{0, 255}}},
      // Peak 127.5 + 0.5 truncated; ramp min(128, 32) - 0.5 = 31.5.
      {0xFFFFFFFF, TRUE, 0.5f, {{0, 4}, {1, 8}, {30, 125}, {31, 128}}},
      // Ramp 16 - 0.5 = 15.5 over p[0..14].
      {0xA5A5A5A5, TRUE, 4.0f, {{0, 16}, {1, 33}, {14, 247}, {15, 255}}},
  };
  auto l = Make();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.pattern << " width " << c.width);
    ASSERT_EQ(l->SetStipple(c.pattern), S_OK);
    ASSERT_EQ(l->SetSmoothing(c.smoothing), S_OK);
    ASSERT_EQ(l->SetLineWidth(c.width), S_OK);
    ASSERT_EQ(l->BeginLines(), S_OK);
    const auto bytes = PatternBytes();
    ASSERT_EQ(l->EndLines(), S_OK);
    ASSERT_EQ(bytes.size(), 64u * 64u);
    for (const auto& [index, value] : c.profile) {
      // Rows index and 63 - index carry p[index]; only the set bits show it.
      for (const int row : {index, 63 - index})
        for (int t = 0; t < 64; ++t)
          ASSERT_EQ(bytes[row * 64 + t], ((c.pattern >> (t / 2)) & 1) ? value : 0) << "row " << row << " texel " << t;
    }
    const int last = c.profile.back().first, lastValue = c.profile.back().second;
    for (int row = last; row < 64 - last; ++row) ASSERT_EQ(bytes[row * 64], lastValue) << row;
  }
}

TEST_F(LineDrawerTest, BracketsMakeWhatTheModeNeedsAndRestoreTheDevice) {
  auto l = Make();
  const Vec2 points[3] = {{10, 10}, {50, 10}, {50, 40}};
  const struct {
    float width;
    DWORD pattern;
    BOOL smoothing;
    bool strip, texture;
  } cases[] = {{1.0f, 0xFFFFFFFF, FALSE, true, false},
               {3.0f, 0xFFFFFFFF, FALSE, false, false},
               {1.0f, 0x00FF00FF, FALSE, false, true},
               {1.0f, 0xFFFFFFFF, TRUE, false, true},
               {1.0f, 0xFFFFFFFF, FALSE, true, false}};
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " " << std::hex << c.pattern << " " << c.smoothing);
    ASSERT_EQ(l->SetLineWidth(c.width), S_OK);
    ASSERT_EQ(l->SetStipple(c.pattern), S_OK);
    ASSERT_EQ(l->SetSmoothing(c.smoothing), S_OK);
    const auto before = platform::test::SnapshotState(dev);
    platform::test::StartD3D9CallLog();
    ASSERT_EQ(l->BeginLines(), S_OK);
    ComRef<IDirect3DBaseTexture9> texture;
    ComRef<IDirect3DIndexBuffer9> indices;
    dev->GetTexture(0, texture.Put());
    dev->GetIndices(indices.Put());
    EXPECT_EQ(bool(texture), c.texture);
    EXPECT_EQ(bool(indices), !c.strip);
    ASSERT_EQ(l->DrawPolyline(points, 3, 0xFF80FF80), S_OK);
    ASSERT_EQ(l->EndLines(), S_OK);
    platform::test::StopD3D9CallLog();
    EXPECT_EQ(platform::test::CountD3D9Calls("DrawPrimitive"), c.strip ? 1 : 0);
    EXPECT_EQ(platform::test::CountD3D9Calls("DrawIndexedPrimitive"), c.strip ? 0 : 1);
    EXPECT_EQ(platform::test::SnapshotState(dev), before)
        << testing::PrintToString(platform::test::DiffStates(before, platform::test::SnapshotState(dev)));
    platform::test::ClearD3D9CallLog();
  }
  // After a device loss the next bracket makes everything again.
  EXPECT_EQ(l->OnDeviceLost(), S_OK);
  EXPECT_EQ(l->OnDeviceReset(), S_OK);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(l->DrawPolyline(points, 3, 0xFF80FF80), S_OK);
  platform::test::StopD3D9CallLog();
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateVertexBuffer"), 1);
  EXPECT_EQ(platform::test::CountD3D9Calls("EndStateBlock"), 2);
  EXPECT_EQ(platform::test::CountD3D9Calls("DrawPrimitive"), 1);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
}

TEST_F(LineDrawerTest, FailuresCloseTheBracketTheDrawOpened) {
  auto l = Make();
  ASSERT_EQ(l->SetLineWidth(2), S_OK);
  const Vec2 points[2] = {{10, 10}, {50, 10}};
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  const auto before = platform::test::SnapshotState(dev);
  for (const char* api : {"CreateIndexBuffer", "CreateVertexBuffer", "Lock", "DrawIndexedPrimitive"}) {
    SCOPED_TRACE(api);
    platform::test::FailCall(api, E_OUTOFMEMORY);
    EXPECT_EQ(l->DrawPolyline(points, 2, 0xFFFFFFFF), E_OUTOFMEMORY);
    EXPECT_EQ(platform::test::SnapshotState(dev), before)
        << testing::PrintToString(platform::test::DiffStates(before, platform::test::SnapshotState(dev)));
  }
  // A scratch that cannot be had leaves the texture to be built next time.
  ASSERT_EQ(l->SetStipple(0x0F0F0F0F), S_OK);
  platform::test::FailCall("VirtualAlloc", E_OUTOFMEMORY);
  EXPECT_EQ(l->DrawPolyline(points, 2, 0xFFFFFFFF), E_OUTOFMEMORY);
  ASSERT_EQ(l->BeginLines(), S_OK);
  EXPECT_EQ(PatternBytes()[32 * 64 + 8], 0);  // bit 4 of 0x0F0F0F0F
  EXPECT_EQ(PatternBytes()[32 * 64], 255);
  // A device lost inside the caller's bracket leaves nothing to draw with.
  ASSERT_EQ(l->OnDeviceLost(), S_OK);
  EXPECT_EQ(l->DrawPolyline(points, 2, 0xFFFFFFFF), D3DERR_INVALIDCALL);
  EXPECT_EQ(l->EndLines(), S_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
}

}  // namespace
}  // namespace drawtest

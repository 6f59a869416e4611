// Render to surface: scenes drawn into render targets and texture levels land
// where the viewport says, levels below are rebuilt, and the device gets its
// target, depth surface and viewport back after every scene and every failure.
#include "gxl/draw/surface_renderer.h"

#include <gtest/gtest.h>

#include "draw_test_support.h"
#include "gxl/draw/interface_ids.h"
#include "gxl/tex/filter_flags.h"

namespace drawtest {
namespace {

constexpr UINT kSize = 64;
constexpr D3DCOLOR kBefore = 0xFF203040, kClear = 0xFF10C020, kQuad = 0xFFE04010;
constexpr D3DVIEWPORT9 kAppViewport{3, 4, 100, 80, 0.0f, 1.0f};

struct TlVertex {
  float x, y, z, rhw;
  D3DCOLOR color;
};

class SurfaceSceneRendererTest : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    // The device state the scene must leave as it found it.
    dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    dev->SetRenderState(D3DRS_ZENABLE, FALSE);
    dev->SetViewport(&kAppViewport);
  }

  ComRef<SurfaceSceneRenderer> Make(BOOL depth = TRUE) {
    SurfaceSceneRenderer* r = nullptr;
    EXPECT_EQ(GXLCreateSurfaceSceneRenderer(dev, kSize, kSize, D3DFMT_A8R8G8B8, depth, D3DFMT_D16, &r), S_OK);
    return ComRef<SurfaceSceneRenderer>(r);
  }
  ComRef<IDirect3DTexture9> Texture(DWORD usage, D3DPOOL pool, UINT levels) {
    ComRef<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(kSize, kSize, levels, usage, D3DFMT_A8R8G8B8, pool, t.Put(), nullptr), D3D_OK);
    return t;
  }
  static ComRef<IDirect3DSurface9> Level(IDirect3DTexture9* t, UINT level) {
    ComRef<IDirect3DSurface9> s;
    EXPECT_EQ(t->GetSurfaceLevel(level, s.Put()), D3D_OK);
    return s;
  }
  static void Fill(IDirect3DSurface9* s, D3DCOLOR c) {
    D3DSURFACE_DESC desc{};
    s->GetDesc(&desc);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x)
        reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch)[x] = c;
    ASSERT_EQ(s->UnlockRect(), D3D_OK);
  }
  // The scene: the viewport cleared, and a quad over target pixels [20, 30) x [10, 16).
  void DrawScene() {
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kClear, 1.0f, 0), D3D_OK);
    const TlVertex quad[4] = {
        {20, 10, 0, 1, kQuad}, {30, 10, 0, 1, kQuad}, {20, 16, 0, 1, kQuad}, {30, 16, 0, 1, kQuad}};
    ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TlVertex)), D3D_OK);
  }
  static D3DCOLOR Expected(UINT x, UINT y, const D3DVIEWPORT9& v) {
    if (x < v.X || y < v.Y || x >= v.X + v.Width || y >= v.Y + v.Height) return kBefore;
    return x >= 20 && x < 30 && y >= 10 && y < 16 ? kQuad : kClear;
  }
  void ExpectPixels(IDirect3DSurface9* s, const D3DVIEWPORT9& v) {
    const auto px = SurfacePixels(s);
    int wrong = 0;
    for (UINT y = 0; y < kSize; ++y)
      for (UINT x = 0; x < kSize; ++x)
        if (px[y * kSize + x] != Expected(x, y, v) && ++wrong <= 5)
          ADD_FAILURE() << "(" << x << ", " << y << ") " << std::hex << px[y * kSize + x];
  }
};

TEST_F(SurfaceSceneRendererTest, ScenesLandInTheViewportOfEachKindOfSurface) {
  auto managed = Texture(0, D3DPOOL_MANAGED, 0);
  auto target = Texture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, 1);
  ComRef<IDirect3DSurface9> lockable;
  ASSERT_EQ(
      dev->CreateRenderTarget(kSize, kSize, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, lockable.Put(), nullptr),
      D3D_OK);
  const D3DVIEWPORT9 part{8, 6, 40, 30, 0.0f, 1.0f}, whole{0, 0, kSize, kSize, 0.0f, 1.0f};
  struct Case {
    IDirect3DSurface9* surface;
    const D3DVIEWPORT9* viewport;
    bool prefill;
  } cases[] = {{lockable.Get(), &part, true},
               {lockable.Get(), nullptr, true},
               {Level(managed.Get(), 0).Get(), &part, true},
               {Level(target.Get(), 0).Get(), nullptr, false}};
  for (const BOOL depth : {TRUE, FALSE}) {
    auto r = Make(depth);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "depth " << depth << " viewport " << (c.viewport ? "part" : "whole"));
      if (c.prefill) Fill(c.surface, kBefore);
      const auto before = platform::test::SnapshotState(dev);
      ASSERT_EQ(r->BeginTargetScene(c.surface, c.viewport), S_OK);
      // The renderer's own depth surface, or none.
      ComRef<IDirect3DSurface9> depthSurface;
      EXPECT_EQ(dev->GetDepthStencilSurface(depthSurface.Put()), depth ? D3D_OK : D3DERR_NOTFOUND);
      DrawScene();
      ASSERT_EQ(r->EndTargetScene(0), S_OK);
      EXPECT_EQ(platform::test::SnapshotState(dev), before)
          << testing::PrintToString(platform::test::DiffStates(before, platform::test::SnapshotState(dev)));
      ExpectPixels(c.surface, c.viewport ? *c.viewport : whole);
    }
  }
  // The levels below the managed texture's level 0 are rebuilt from it.
  auto r = Make();
  Fill(Level(managed.Get(), 1).Get(), kBefore);
  ASSERT_EQ(r->BeginTargetScene(Level(managed.Get(), 0).Get(), nullptr), S_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kClear, 1.0f, 0), D3D_OK);
  ASSERT_EQ(r->EndTargetScene(FilterFlags::Box), S_OK);
  for (const UINT level : {1u, 5u, 6u}) EXPECT_EQ(SurfacePixels(Level(managed.Get(), level).Get())[0], kClear) << level;
}

TEST_F(SurfaceSceneRendererTest, RefusalsChangeNothing) {
  auto r = Make();
  ComRef<IDirect3DSurface9> rt, small;
  ASSERT_EQ(dev->CreateRenderTarget(kSize, kSize, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, rt.Put(), nullptr),
            D3D_OK);
  ASSERT_EQ(dev->CreateRenderTarget(32, kSize, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, small.Put(), nullptr),
            D3D_OK);
  ComRef<IDirect3DSurface9> x8;
  ASSERT_EQ(dev->CreateRenderTarget(kSize, kSize, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, x8.Put(), nullptr),
            D3D_OK);
  auto dynamic = Texture(D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT, 1);
  const D3DVIEWPORT9 pastRight{1, 0, kSize, 8, 0, 1}, pastBottom{0, 60, 8, 5, 0, 1},
      wrapping{0xFFFFFFF0u, 0, 0x20, 8, 0, 1}, part{0, 0, 8, 8, 0, 1};
  const struct {
    IDirect3DSurface9* surface;
    const D3DVIEWPORT9* viewport;
  } refused[] = {{nullptr, nullptr},
                 {small.Get(), nullptr},
                 {x8.Get(), nullptr},
                 {rt.Get(), &pastRight},
                 {rt.Get(), &pastBottom},
                 {rt.Get(), &wrapping},
                 {Level(dynamic.Get(), 0).Get(), &part}};
  const auto before = platform::test::SnapshotState(dev);
  for (const auto& c : refused) EXPECT_EQ(r->BeginTargetScene(c.surface, c.viewport), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->EndTargetScene(0), D3DERR_INVALIDCALL);
  EXPECT_EQ(platform::test::SnapshotState(dev), before);

  const D3DVIEWPORT9 exact{16, 0, kSize - 16, kSize, 0, 1};
  ASSERT_EQ(r->BeginTargetScene(rt.Get(), &exact), S_OK);
  EXPECT_EQ(r->BeginTargetScene(rt.Get(), nullptr), D3DERR_INVALIDCALL);
  // A lost device ends the scene for the object; the device's is the caller's to end.
  EXPECT_EQ(r->OnDeviceLost(), S_OK);
  EXPECT_EQ(r->EndTargetScene(0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->EndScene(), D3D_OK);

  void* out = &r;
  EXPECT_EQ(r->QueryInterface(IidSpriteBatcher, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  SurfaceSceneRenderer* none = nullptr;
  EXPECT_EQ(GXLCreateSurfaceSceneRenderer(nullptr, 1, 1, D3DFMT_A8R8G8B8, FALSE, D3DFMT_D16, &none),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLCreateSurfaceSceneRenderer(dev, 1, 1, D3DFMT_A8R8G8B8, FALSE, D3DFMT_D16, nullptr), D3DERR_INVALIDCALL);
}

// Every failure inside Begin or End gives the device back its target, depth
// surface and viewport, lets go of what was saved and leaves the object closed.
TEST_F(SurfaceSceneRendererTest, EveryFailureRestoresTheDevice) {
  auto managed = Texture(0, D3DPOOL_MANAGED, 0);
  const struct {
    const char* api;
    int nth;
    bool inEnd;
  } cases[] = {{"CreateRenderTarget", 1, false},
               {"CreateDepthStencilSurface", 1, false},
               {"SetRenderTarget", 1, false},
               {"SetDepthStencilSurface", 1, false},
               {"SetViewport", 2, false},
               {"BeginScene", 1, false},
               {"LockRect", 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.api);
    auto r = Make();
    const auto before = platform::test::SnapshotState(dev);
    const auto surface = Level(managed.Get(), 0);
    if (c.inEnd) {
      ASSERT_EQ(r->BeginTargetScene(surface.Get(), nullptr), S_OK);
      platform::test::FailCall(c.api, E_OUTOFMEMORY, c.nth, -1);
      EXPECT_EQ(r->EndTargetScene(FilterFlags::Box), E_OUTOFMEMORY);
    } else {
      platform::test::FailCall(c.api, E_OUTOFMEMORY, c.nth, 1);
      EXPECT_EQ(r->BeginTargetScene(surface.Get(), nullptr), E_OUTOFMEMORY);
    }
    platform::test::ClearFailures();
    EXPECT_EQ(platform::test::SnapshotState(dev), before)
        << testing::PrintToString(platform::test::DiffStates(before, platform::test::SnapshotState(dev)));
    // Closed on both sides: the device has no scene, and the object opens one.
    EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(r->BeginTargetScene(surface.Get(), nullptr), S_OK);
    ASSERT_EQ(r->EndTargetScene(0), S_OK);
  }
  // A mip rebuild that fails closes the scene too.
  auto r = Make();
  ASSERT_EQ(r->BeginTargetScene(Level(managed.Get(), 0).Get(), nullptr), S_OK);
  EXPECT_EQ(r->EndTargetScene(0x7), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->EndTargetScene(0), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace drawtest

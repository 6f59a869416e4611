// Scenes and Clear: nesting rules, clears cut to the viewport and rectangles,
// target and depth formats, and the render-target road of the framework.
#include <cmath>

#include "d3d9/surface.h"
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;

class D3D9ResScene : public d3dtest::DeviceTest {
 protected:
  Ref<IDirect3DSurface9> BackBuffer() {
    Ref<IDirect3DSurface9> back;
    EXPECT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    return back;
  }
};

TEST_F(D3D9ResScene, ScenesDoNotNest) {
  EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->BeginScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
  platform::test::FailCall("BeginScene", D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->BeginScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);  // the failed begin opened nothing
}

TEST_F(D3D9ResScene, ClearCoversTheViewportCutByRectangles) {
  Ref<IDirect3DSurface9> back = BackBuffer();
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x11223344, 1.0f, 0), D3D_OK);  // outside a scene too
  const D3DVIEWPORT9 v{100, 50, 200, 100, 0, 1};
  ASSERT_EQ(dev->SetViewport(&v), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80FF0000, 1.0f, 0), D3D_OK);
  const D3DRECT rects[2] = {{0, 0, 120, 60}, {250, 140, 700, 500}};
  ASSERT_EQ(dev->Clear(2, rects, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
  const auto px = ReadBack(back.get());
  auto at = [&](int x, int y) { return px[std::size_t(y) * 640 + x]; };
  // X8R8G8B8 stores 0xFF in the X byte whatever the colour's alpha.
  EXPECT_EQ(at(0, 0), 0xFF223344u);
  EXPECT_EQ(at(99, 50), 0xFF223344u);
  EXPECT_EQ(at(100, 49), 0xFF223344u);
  EXPECT_EQ(at(100, 50), 0xFF00FF00u);
  EXPECT_EQ(at(119, 59), 0xFF00FF00u);
  EXPECT_EQ(at(120, 59), 0xFFFF0000u);
  EXPECT_EQ(at(249, 149), 0xFFFF0000u);
  EXPECT_EQ(at(250, 140), 0xFF00FF00u);
  EXPECT_EQ(at(299, 149), 0xFF00FF00u);
  EXPECT_EQ(at(300, 149), 0xFF223344u);
  EXPECT_EQ(at(299, 150), 0xFF223344u);
  int inViewport = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) inViewport += at(x, y) != 0xFF223344u;
  EXPECT_EQ(inViewport, 200 * 100);
}

TEST_F(D3D9ResScene, ClearArguments) {
  const D3DRECT r{0, 0, 1, 1};
  EXPECT_EQ(dev->Clear(0, nullptr, 0, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(0, nullptr, 0x8, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(0, &r, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.5f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, std::nanf(""), 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);  // D16 has no stencil
  ASSERT_EQ(dev->SetDepthStencilSurface(nullptr), D3D_OK);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
}

TEST_F(D3D9ResScene, DepthClearsWriteTheFormatsEncoding) {
  Ref<IDirect3DSurface9> d16, d32f, d24s8;
  ASSERT_EQ(dev->CreateDepthStencilSurface(640, 480, D3DFMT_D16_LOCKABLE, D3DMULTISAMPLE_NONE, 0, FALSE, &d16, nullptr),
            D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(d16.get()), D3D_OK);
  const D3DVIEWPORT9 v{0, 0, 10, 10, 0, 1};
  ASSERT_EQ(dev->SetViewport(&v), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.5f, 0), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(d16->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  const auto* z = static_cast<const std::uint16_t*>(lr.pBits);
  EXPECT_EQ(z[0], 32768u);  // round(0.5 x 65535)
  EXPECT_EQ(z[9], 32768u);
  EXPECT_EQ(z[10], 0u);
  const auto* row10 =
      reinterpret_cast<const std::uint16_t*>(static_cast<const std::uint8_t*>(lr.pBits) + 10 * lr.Pitch);
  EXPECT_EQ(row10[0], 0u);
  ASSERT_EQ(d16->UnlockRect(), D3D_OK);
  // A locked depth surface cannot be cleared.
  ASSERT_EQ(d16->LockRect(&lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(d16->UnlockRect(), D3D_OK);

  ASSERT_EQ(dev->CreateDepthStencilSurface(8, 8, D3DFMT_D32F_LOCKABLE, D3DMULTISAMPLE_NONE, 0, FALSE, &d32f, nullptr),
            D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(d32f.get()), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.25f, 0), D3D_OK);  // cut to the depth surface
  ASSERT_EQ(d32f->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(static_cast<const float*>(lr.pBits)[7], 0.25f);
  ASSERT_EQ(d32f->UnlockRect(), D3D_OK);

  // Depth and stencil clear independently in a combined format.
  ASSERT_EQ(dev->CreateDepthStencilSurface(640, 480, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE, &d24s8, nullptr),
            D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(d24s8.get()), D3D_OK);
  auto* impl = dynamic_cast<platform::d3d9::Surface*>(d24s8.get());
  ASSERT_NE(impl, nullptr);
  auto word = [&] {
    std::uint32_t w;
    std::memcpy(&w, impl->Bits() + 4 * impl->Pitch() + 4 * 4, 4);
    return w;
  };
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0x5A), D3D_OK);
  EXPECT_EQ(word(), 0xFFFFFF5Au);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 0.0f, 0x11), D3D_OK);
  EXPECT_EQ(word(), 0xFFFFFF11u);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0x77), D3D_OK);
  EXPECT_EQ(word(), 0x00000011u);
}

TEST_F(D3D9ResScene, RenderTargetRoadOfTheFramework) {
  // Begin a 512 x 512 target, clear it transparent white, draw nothing, end it,
  // and find the target cleared whole and the back buffer untouched.
  Ref<IDirect3DTexture9> target;
  ASSERT_EQ(dev->CreateTexture(512, 512, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
            D3D_OK);
  Ref<IDirect3DSurface9> surface(Level(target.get()));
  Ref<IDirect3DSurface9> depth;
  ASSERT_EQ(dev->CreateDepthStencilSurface(512, 512, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr),
            D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000080, 1.0f, 0), D3D_OK);
  D3DVIEWPORT9 saved{};
  ASSERT_EQ(dev->GetViewport(&saved), D3D_OK);
  Ref<IDirect3DSurface9> savedTarget, savedDepth;
  ASSERT_EQ(dev->GetRenderTarget(0, &savedTarget), D3D_OK);
  ASSERT_EQ(dev->GetDepthStencilSurface(&savedDepth), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, surface.get()), D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(depth.get()), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00FFFFFF, 1.0f, 0), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, savedTarget.get()), D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(savedDepth.get()), D3D_OK);
  ASSERT_EQ(dev->SetViewport(&saved), D3D_OK);
  for (std::uint32_t p : ReadBack(surface.get())) ASSERT_EQ(p, 0x00FFFFFFu);
  for (std::uint32_t p : ReadBack(savedTarget.get())) ASSERT_EQ(p, 0xFF000080u);
}

}  // namespace

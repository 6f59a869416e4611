// Quads on the headless device, probed pixel by pixel: vertex colours, source
// alpha blending, the RGB-only draw, pictures, copies, and the render-target
// quad with its begin and end.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "qel/appbase/qelquadsprite.h"
#include "tests/qel/appbase/appbase_test_util.h"

namespace {

using qeltest::Channel;
using qeltest::Hex;
using qeltest::Picture;

// Source-alpha blending of one channel as the device defines it.
int BlendSrcAlpha(int s, int d, int a) { return static_cast<int>(std::lround((s * a + d * (255 - a)) / 255.0)); }

void ExpectNear(std::uint32_t got, std::uint32_t want, const std::string& where) {
  for (int shift : {0, 8, 16, 24})
    EXPECT_NEAR(Channel(got, shift), Channel(want, shift), 1) << where << ": " << Hex(got) << " vs " << Hex(want);
}

class QuadSprite : public qeltest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    NotifyDeviceCreated(m_dev);
  }
};

TEST_F(QuadSprite, AnUntexturedQuadShowsItsVertexColour) {
  C_QuadSprite quad;
  quad.SetSize(40, 30, 0xFF20A0E0, 0.0f);
  BeginFrame(0xFF000000);
  platform::test::StartD3D9CallLog();
  quad.Draw(10, 20);
  platform::test::StopD3D9CallLog();
  EndFrame();
  EXPECT_EQ(platform::test::CountD3D9Calls("DrawPrimitiveUP"), 1);
  const Picture screen = Screen();
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x) {
      const bool inside = x >= 10 && x < 50 && y >= 20 && y < 50;
      ASSERT_EQ(screen.At(x, y), inside ? 0xFF20A0E0u : 0xFF000000u) << x << "," << y;
    }
}

TEST_F(QuadSprite, ATranslucentQuadBlendsBySourceAlpha) {
  C_QuadSprite quad(16, 16, 0x80FF4000, 0.0f);
  BeginFrame(0xFF0000FF);
  quad.Draw(0, 0);
  EndFrame();
  const std::uint32_t want = (static_cast<std::uint32_t>(BlendSrcAlpha(0x80, 0xFF, 0x80)) << 24) |
                             (BlendSrcAlpha(0xFF, 0x00, 0x80) << 16) | (BlendSrcAlpha(0x40, 0x00, 0x80) << 8) |
                             BlendSrcAlpha(0x00, 0xFF, 0x80);
  ExpectNear(Screen().At(8, 8), want, "inside");
}

TEST_F(QuadSprite, AnUnsizedQuadCoversNoPixels) {
  C_QuadSprite quad;
  BeginFrame(0xFF123456);
  quad.Draw(100, 100);
  EndFrame();
  const Picture screen = Screen();
  for (std::uint32_t v : screen.argb) ASSERT_EQ(v, 0xFF123456u);
}

TEST_F(QuadSprite, DrawRgbOnlyKeepsTheDestinationAlpha) {
  C_QuadSprite quad(8, 8, 0xFFFF8000, 0.0f);
  BeginFrame(0x40102030);
  quad.Draw(20, 0);
  quad.DrawRgbOnly(0, 0);
  EndFrame();
  const Picture screen = Screen();
  EXPECT_EQ(Hex(screen.At(24, 4)), Hex(0xFFFF8000));
  EXPECT_EQ(Hex(screen.At(4, 4)), Hex(0x40FF8000));
  EXPECT_EQ(Hex(screen.At(12, 4)), Hex(0x40102030));
  // The mask is left for the next sprite batch to reset.
  DWORD mask = 0;
  m_dev->GetRenderState(D3DRS_COLORWRITEENABLE, &mask);
  EXPECT_EQ(mask, 7u);
}

TEST_F(QuadSprite, APictureIsDrawnTexelForTexel) {
  std::filesystem::create_directory("cg");
  const Picture picture = qeltest::NoisePicture(32, 32, 7);
  qeltest::WritePng("cg/tile.png", picture);
  C_QuadSprite quad;
  quad.SetFile("cg/tile.png");
  ASSERT_NE(quad.GetTexture(), nullptr);
  // With a picture the vertex colour has no effect.
  quad.SetSize(32, 32, 0x20000000, 0.0f);
  BeginFrame(0xFF000000);
  quad.Draw(64, 48);
  EndFrame();
  const Picture screen = Screen();
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(Hex(screen.At(64 + x, 48 + y)), Hex(picture.At(x, y))) << x << "," << y;
  EXPECT_EQ(screen.At(63, 48), 0xFF000000u);
  EXPECT_EQ(screen.At(96, 48), 0xFF000000u);
}

TEST_F(QuadSprite, ACopyHoldsItsOwnReferenceOnThePicture) {
  std::filesystem::create_directory("cg");
  const Picture picture = qeltest::NoisePicture(16, 16, 8);
  qeltest::WritePng("cg/p.png", picture);
  auto original = std::make_unique<C_QuadSprite>();
  original->SetFile("cg/p.png");
  IDirect3DTexture9* texture = original->GetTexture();
  ASSERT_NE(texture, nullptr);
  auto refs = [&] {
    texture->AddRef();
    return texture->Release();
  };
  const ULONG alone = refs();
  C_QuadSprite copy(*original);
  EXPECT_EQ(refs(), alone + 1);
  C_QuadSprite assigned;
  assigned = copy;
  EXPECT_EQ(refs(), alone + 2);
  const C_QuadSprite& same = assigned;
  assigned = same;
  EXPECT_EQ(refs(), alone + 2);
  assigned = C_QuadSprite();  // drops its reference
  EXPECT_EQ(refs(), alone + 1);

  // The copy outlives the original and still draws the picture.
  original.reset();
  EXPECT_EQ(refs(), alone);
  BeginFrame(0xFF000000);
  copy.Draw(0, 0);
  EndFrame();
  const Picture screen = Screen();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Hex(screen.At(x, y)), Hex(picture.At(x, y)));
}

// --- The render-target quad ------------------------------------------------------------

class QuadSpriteRenderTarget : public qeltest::DeviceTest {};

TEST_F(QuadSpriteRenderTarget, DrawingIntoTheTargetAndCompositingIt) {
  C_RenderTargetSprite target;
  target.SetSize(64, 32, 0xFFFFFFFF, 0.0f);
  EXPECT_EQ(target.GetTexture(), nullptr);  // no device yet
  NotifyDeviceCreated(m_dev);
  ASSERT_NE(target.GetTexture(), nullptr);
  D3DSURFACE_DESC desc{};
  target.GetTexture()->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Width, 64u);
  EXPECT_EQ(desc.Height, 32u);
  EXPECT_EQ(desc.Usage, static_cast<DWORD>(D3DUSAGE_RENDERTARGET));
  EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);

  C_QuadSprite box(10, 10, 0xFFFF0000, 0.0f);
  BeginFrame(0xFF0000FF);
  const auto before = platform::test::SnapshotState(m_dev);
  target.BeginTarget(true);
  EXPECT_TRUE(target.IsTargetActive());
  D3DVIEWPORT9 vp{};
  m_dev->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 64u);
  EXPECT_EQ(vp.Height, 32u);
  box.Draw(4, 4);
  target.EndTarget();
  EXPECT_FALSE(target.IsTargetActive());
  // Target, depth surface and viewport are back (the quad's own states differ).
  const auto after = platform::test::SnapshotState(m_dev);
  for (const std::string& diff : platform::test::DiffStates(before, after)) {
    EXPECT_EQ(diff.find("RenderTarget"), std::string::npos) << diff;
    EXPECT_EQ(diff.find("DepthStencil"), std::string::npos) << diff;
    EXPECT_EQ(diff.find("Viewport"), std::string::npos) << diff;
  }
  target.Draw(100, 200);
  EndFrame();
  const Picture screen = Screen();
  EXPECT_EQ(Hex(screen.At(104 + 5, 204 + 5)), Hex(0xFFFF0000));  // the box
  EXPECT_EQ(Hex(screen.At(100 + 40, 200 + 20)), Hex(0xFF0000FF));  // cleared to transparent: background shows
  EXPECT_EQ(Hex(screen.At(104 + 5, 200 + 40)), Hex(0xFF0000FF));   // outside
}

TEST_F(QuadSpriteRenderTarget, AFailedClearGivesTheDeviceEverythingBack) {
  NotifyDeviceCreated(m_dev);
  C_RenderTargetSprite target;
  target.SetSize(32, 32, 0xFFFFFFFF, 0.0f);
  ASSERT_NE(target.GetTexture(), nullptr);
  const size_t objects = platform::test::D3D9LiveObjects().size();
  const auto before = platform::test::SnapshotState(m_dev);
  platform::test::FailCall("Clear", E_FAIL);
  target.BeginTarget(true);
  EXPECT_EQ(platform::test::InjectedFailureCount("Clear"), 1);
  EXPECT_FALSE(target.IsTargetActive());
  EXPECT_EQ(platform::test::SnapshotState(m_dev), before)
      << testing::PrintToString(platform::test::DiffStates(before, platform::test::SnapshotState(m_dev)));
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), objects) << platform::test::D3D9LiveObjectReport();
  target.EndTarget();  // nothing to end
  EXPECT_EQ(platform::test::SnapshotState(m_dev), before);
}

TEST_F(QuadSpriteRenderTarget, FailuresAndUnmatchedCallsLeaveTheDeviceAlone) {
  NotifyDeviceCreated(m_dev);
  const auto before = platform::test::SnapshotState(m_dev);
  C_RenderTargetSprite unsized;
  unsized.BeginTarget(true);  // no texture
  unsized.EndTarget();
  EXPECT_EQ(platform::test::SnapshotState(m_dev), before);

  C_RenderTargetSprite target;
  target.SetSize(16, 16, 0xFFFFFFFF, 0.0f);
  const size_t objects = platform::test::D3D9LiveObjects().size();
  platform::test::FailCall("CreateDepthStencilSurface", E_OUTOFMEMORY);
  target.BeginTarget(false);
  EXPECT_FALSE(target.IsTargetActive());
  EXPECT_EQ(platform::test::SnapshotState(m_dev), before);
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), objects);

  // Begun twice without an end: the end still returns to the back buffer.
  target.BeginTarget(false);
  target.BeginTarget(false);
  target.EndTarget();
  EXPECT_EQ(platform::test::SnapshotState(m_dev), before);
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), objects);

  // A target the device refuses leaves the quad without a texture.
  platform::test::FailCall("CreateTexture", E_OUTOFMEMORY);
  C_RenderTargetSprite refused;
  refused.SetSize(16, 16, 0xFFFFFFFF, 0.0f);
  EXPECT_EQ(refused.GetTexture(), nullptr);
}

}  // namespace

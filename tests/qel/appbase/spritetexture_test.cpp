// Sprite textures on the headless device: 1:1 reproduction, alpha, additive
// drawing, rotation, scaling, source rectangles, the matrix form, loading and
// reloading, holders whose picture failed, and the holder that queues into
// the frame-wide batch.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "gxl/math/matrix.h"
#include "qel/appbase/qeldxappbase.h"
#include "qel/appbase/qelspritetexture.h"
#include "tests/qel/appbase/appbase_test_util.h"

namespace {

using qeltest::Channel;
using qeltest::Hex;
using qeltest::Picture;

constexpr std::uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;

class SpriteTexture : public qeltest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    std::filesystem::create_directory("cg");
    NotifyDeviceCreated(m_dev);
  }
  // A holder of a picture written for the test.
  std::unique_ptr<C_SpriteTexture> Holder(const std::string& name, const Picture& picture) {
    qeltest::WritePng(name, picture);
    auto holder = std::make_unique<C_SpriteTexture>();
    holder->SetFile(name.c_str());
    holder->Load();
    EXPECT_NE(holder->GetTexture(), nullptr);
    EXPECT_NE(holder->GetSprite(), nullptr);
    return holder;
  }
  void ExpectBlockEquals(const Picture& screen, int x0, int y0, const Picture& picture) {
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x)
        ASSERT_EQ(Hex(screen.At(x0 + x, y0 + y)), Hex(picture.At(x, y))) << x << "," << y;
  }
};

TEST_F(SpriteTexture, AOneToOneSpriteReproducesThePicture) {
  const Picture picture = qeltest::NoisePicture(32, 16, 11);
  auto holder = Holder("cg/noise.png", picture);
  BeginFrame(0xFF000000);
  holder->Draw(100, 50);
  EndFrame();
  const Picture screen = Screen();
  ExpectBlockEquals(screen, 100, 50, picture);
  for (int x = 98; x < 134; ++x) {
    EXPECT_EQ(screen.At(x, 49), 0xFF000000u) << x;
    EXPECT_EQ(screen.At(x, 66), 0xFF000000u) << x;
  }
  EXPECT_EQ(screen.At(99, 55), 0xFF000000u);
  EXPECT_EQ(screen.At(132, 55), 0xFF000000u);
}

TEST_F(SpriteTexture, AlphaMultipliesThePicturesOwnAlpha) {
  const Picture translucent = qeltest::NoisePicture(16, 16, 12, /*opaque=*/false);
  auto holder = Holder("cg/translucent.png", translucent);
  const D3DCOLOR background = 0xFF304050;
  BeginFrame(background);
  holder->Draw(0, 0, 255);
  holder->Draw(32, 0, 0);
  holder->Draw(64, 0, 128);
  EndFrame();
  const Picture screen = Screen();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const std::uint32_t t = translucent.At(x, y);
      const int a = Channel(t, 24);
      const int halfA = static_cast<int>(std::lround(a * 128 / 255.0));
      for (int shift : {0, 8, 16}) {
        const int s = Channel(t, shift), d = Channel(background, shift);
        EXPECT_NEAR(Channel(screen.At(x, y), shift), std::lround((s * a + d * (255 - a)) / 255.0), 1);
        EXPECT_EQ(Channel(screen.At(32 + x, y), shift), d);
        EXPECT_NEAR(Channel(screen.At(64 + x, y), shift), std::lround((s * halfA + d * (255 - halfA)) / 255.0), 1);
      }
    }
}

TEST_F(SpriteTexture, DrawAdditiveNeverDarkens) {
  // Sizes that are powers of two: others are stretched to the next ones.
  const Picture picture = qeltest::NoisePicture(32, 32, 13);
  auto holder = Holder("cg/add.png", picture);
  const Picture under = qeltest::NoisePicture(32, 32, 14);
  auto base = Holder("cg/under.png", under);
  BeginFrame(0xFF000000);
  base->Draw(10, 10);
  holder->DrawAdditive(10, 10);
  base->Draw(50, 10);
  holder->DrawAdditive(50, 10, 96);
  EndFrame();
  const Picture screen = Screen();
  int brighter = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      for (int shift : {0, 8, 16}) {
        const int s = Channel(picture.At(x, y), shift), d = Channel(under.At(x, y), shift);
        ASSERT_EQ(Channel(screen.At(10 + x, 10 + y), shift), std::min(255, s + d)) << x << "," << y;
        const int dimmed = Channel(screen.At(50 + x, 10 + y), shift);
        ASSERT_GE(dimmed, d);
        brighter += dimmed > d;
      }
  EXPECT_GT(brighter, 32 * 32);
}

TEST_F(SpriteTexture, DrawRotatedByPiAboutTheCentreSwapsTheCorners) {
  auto holder = Holder("cg/quadrants.png", qeltest::QuadrantPicture(32));
  BeginFrame(0xFF000000);
  holder->DrawRotated(100, 100, 3.14159265f, 16, 16);
  EndFrame();
  const Picture screen = Screen();
  EXPECT_EQ(Hex(screen.At(108, 108)), Hex(kWhite));
  EXPECT_EQ(Hex(screen.At(124, 108)), Hex(kBlue));
  EXPECT_EQ(Hex(screen.At(108, 124)), Hex(kGreen));
  EXPECT_EQ(Hex(screen.At(124, 124)), Hex(kRed));
  // Still over the same square: turned about its own centre.
  for (int i = 100; i < 132; ++i) {
    EXPECT_NE(screen.At(i, 100), 0xFF000000u) << i;
    EXPECT_NE(screen.At(i, 131), 0xFF000000u) << i;
    EXPECT_EQ(screen.At(i, 99), 0xFF000000u) << i;
    EXPECT_EQ(screen.At(i, 132), 0xFF000000u) << i;
    EXPECT_EQ(screen.At(99, i), 0xFF000000u) << i;
    EXPECT_EQ(screen.At(132, i), 0xFF000000u) << i;
  }
}

TEST_F(SpriteTexture, DrawScaledAboutTheTopLeftKeepsThatCorner) {
  auto holder = Holder("cg/quadrants.png", qeltest::QuadrantPicture(16));
  BeginFrame(0xFF000000);
  holder->DrawScaled(50, 60, 2.0f, 3.0f, 0, 0);
  // The centre term of the last move is divided by the scale: with cx = 8 the
  // corner lands at 200 - 8 x 2 + 8 / 2 = 188.
  holder->DrawScaled(200, 60, 2.0f, 2.0f, 8, 0);
  EndFrame();
  const Picture screen = Screen();
  EXPECT_EQ(Hex(screen.At(50, 60)), Hex(kRed));
  EXPECT_EQ(screen.At(49, 60), 0xFF000000u);
  EXPECT_EQ(screen.At(50, 59), 0xFF000000u);
  EXPECT_EQ(Hex(screen.At(58, 72)), Hex(kRed));
  EXPECT_EQ(Hex(screen.At(74, 72)), Hex(kGreen));
  EXPECT_EQ(Hex(screen.At(58, 96)), Hex(kBlue));
  EXPECT_EQ(Hex(screen.At(74, 96)), Hex(kWhite));
  EXPECT_EQ(Hex(screen.At(81, 107)), Hex(kWhite));
  EXPECT_EQ(screen.At(82, 107), 0xFF000000u);
  EXPECT_EQ(screen.At(81, 108), 0xFF000000u);

  EXPECT_EQ(Hex(screen.At(188, 60)), Hex(kRed));
  EXPECT_EQ(screen.At(187, 60), 0xFF000000u);
  EXPECT_EQ(Hex(screen.At(219, 60)), Hex(kGreen));
  EXPECT_EQ(screen.At(220, 60), 0xFF000000u);
}

TEST_F(SpriteTexture, ASourceRectangleSelectsTexels) {
  auto holder = Holder("cg/quadrants.png", qeltest::QuadrantPicture(32));
  const RECT topRight{16, 0, 32, 16};
  BeginFrame(0xFF000000);
  holder->Draw(0, 0, 255, &topRight);
  EndFrame();
  const Picture screen = Screen();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(screen.At(x, y), kGreen) << x << "," << y;
  EXPECT_EQ(screen.At(16, 0), 0xFF000000u);
  EXPECT_EQ(screen.At(0, 16), 0xFF000000u);
}

TEST_F(SpriteTexture, TheMatrixFormKeepsTheBlendAsItIs) {
  const Picture translucent = qeltest::NoisePicture(8, 8, 15, /*opaque=*/false);
  auto holder = Holder("cg/t.png", translucent);
  BeginFrame(0xFF000000);
  // Replace instead of blend: the texels arrive as they are, alpha included.
  m_dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  m_dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
  Matrix4 m;
  MatrixTranslation(&m, 300, 200, 0);
  holder->DrawTransformed(m);
  EndFrame();
  ExpectBlockEquals(Screen(), 300, 200, translucent);
}

TEST_F(SpriteTexture, LoadsWithTheDeviceAndReloadsAtOnceOnceLoaded) {
  const Picture first = qeltest::NoisePicture(16, 16, 16);
  const Picture second = qeltest::NoisePicture(16, 16, 17);
  qeltest::WritePng("cg/first.png", first);
  qeltest::WriteTwin("cg/second.grp", second);
  g_pDevice = nullptr;
  C_SpriteTexture holder;
  EXPECT_EQ(holder.SetFile("cg/first.png"), 0);
  holder.Load();
  EXPECT_FALSE(holder.IsLoaded());
  EXPECT_EQ(holder.GetSprite(), nullptr);
  BeginFrame(0xFF000000);
  holder.Draw(0, 0);  // nothing to draw with yet
  NotifyDeviceCreated(m_dev);
  EXPECT_TRUE(holder.IsLoaded());
  ASSERT_NE(holder.GetTexture(), nullptr);
  IDirect3DTexture9* old = holder.GetTexture();
  holder.Draw(0, 0);
  holder.SetFile("cg/second.png");
  EXPECT_NE(holder.GetTexture(), nullptr);
  EXPECT_NE(holder.GetTexture(), old);
  holder.Draw(20, 0);
  holder.Load();  // a texture is held: nothing happens
  EndFrame();
  const Picture screen = Screen();
  ExpectBlockEquals(screen, 0, 0, first);
  ExpectBlockEquals(screen, 20, 0, second);
}

TEST_F(SpriteTexture, HoldersWithoutAPictureDrawNothing) {
  nura::test::WriteFileText("cg/broken.png", "not a picture");
  C_SpriteTexture broken, missing;
  broken.SetFile("cg/broken.png");
  missing.SetFile("cg/missing.png");
  broken.Load();
  missing.Load();
  // An unreadable file gets no sprite; a missing file and twin a sprite without a texture.
  EXPECT_EQ(broken.GetSprite(), nullptr);
  EXPECT_EQ(broken.GetTexture(), nullptr);
  EXPECT_NE(missing.GetSprite(), nullptr);
  EXPECT_EQ(missing.GetTexture(), nullptr);
  BeginFrame(0xFF102030);
  const auto before = platform::test::D3D9RasterCounters();
  broken.Draw(0, 0);
  missing.Draw(0, 0);
  missing.DrawRotated(0, 0, 1.0f, 4, 4);
  EndFrame();
  EXPECT_EQ(platform::test::D3D9RasterCounters().draws, before.draws);
  for (std::uint32_t v : Screen().argb) ASSERT_EQ(v, 0xFF102030u);
}

TEST_F(SpriteTexture, TheFrameWideHolderQueuesIntoTheFramesBatch) {
  const Picture picture = qeltest::NoisePicture(32, 16, 18);
  qeltest::WritePng("cg/queued.png", picture);
  C_SpriteBatch frame;
  frame.Restore();
  C_Texture holder;
  holder.SetFile("cg/queued.png");
  holder.Load();
  holder.Load();  // loads again, releasing the first picture (the device check finds no leak)
  ASSERT_NE(holder.GetTexture(), nullptr);
  BeginFrame(0xFF000000);
  holder.Draw(0, 0);  // no frame-wide batcher yet: nothing
  C_DxAppBase::SetGlobalSprite(frame.GetSprite());
  ASSERT_EQ(frame.GetSprite()->BeginBatch(SpriteBatchFlags::NoStateSave), S_OK);
  const auto before = platform::test::D3D9RasterCounters();
  holder.Draw(100, 50);
  const RECT left{0, 0, 16, 16};
  holder.Draw(300, 50, 255, &left);
  EXPECT_EQ(platform::test::D3D9RasterCounters().draws, before.draws) << "queued, not drawn";
  ASSERT_EQ(frame.GetSprite()->EndBatch(), S_OK);
  C_DxAppBase::SetGlobalSprite(nullptr);
  EXPECT_GT(platform::test::D3D9RasterCounters().draws, before.draws);
  EndFrame();
  const Picture screen = Screen();
  EXPECT_EQ(screen.At(0, 0), 0xFF000000u);
  ExpectBlockEquals(screen, 100, 50, picture);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Hex(screen.At(300 + x, 50 + y)), Hex(picture.At(x, y))) << x << "," << y;
  EXPECT_EQ(screen.At(316, 50), 0xFF000000u);
}

TEST_F(SpriteTexture, TheFrameSpriteBatchHoldsOneBatcher) {
  C_SpriteBatch batch;
  EXPECT_EQ(batch.GetSprite(), nullptr);
  batch.Restore();
  SpriteBatcher* sprite = batch.GetSprite();
  ASSERT_NE(sprite, nullptr);
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(sprite->GetDeviceRef(&device), S_OK);
  EXPECT_EQ(device, m_dev);
  device->Release();
  batch.Release();
  EXPECT_EQ(batch.GetSprite(), nullptr);
  batch.Restore();
  batch.Restore();  // the first batcher goes; the device check at the end finds no leak
  EXPECT_NE(batch.GetSprite(), nullptr);
}

}  // namespace

// Pixels: the framework's one-sprite batch reproduces a picture texel for
// texel at an integer offset, and a quarter turn puts every texel where the
// matrix sends it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "draw_test_support.h"
#include "gxl/math/matrix.h"
#include "gxl/math/vector.h"

namespace drawtest {
namespace {

constexpr UINT kWidth = 640, kHeight = 480;
constexpr D3DCOLOR kBackground = 0xFF102030;

class SpriteBatcherPixels : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    m_batcher = MakeBatcher();
    std::mt19937 rng(1110);
    m_texels.resize(std::size_t(kTexW) * kTexH);
    for (auto& t : m_texels) t = 0xFF000000u | (rng() & 0xFFFFFF);
    m_texture = MakeTexture(kTexW, kTexH, [&](UINT x, UINT y) { return m_texels[std::size_t(y) * kTexW + x]; });
  }
  void TearDown() override {
    m_texture.Reset();
    m_batcher.Reset();
    if (dev) {
      EXPECT_EQ(dev->EndScene(), D3D_OK);
    }
    SpriteTest::TearDown();
  }

  // The framework's draw of one picture: blend factors, transform, then a
  // batch that saves no state around one white sprite with the picture's alpha.
  void DrawPicture(const Matrix4& transform, const RECT* rect, BYTE alpha) {
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ASSERT_EQ(m_batcher->SetSpriteTransform(&transform), S_OK);
    ASSERT_EQ(m_batcher->BeginBatch(SpriteBatchFlags::NoStateSave), S_OK);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    ASSERT_EQ(m_batcher->QueueSprite(m_texture.Get(), rect, nullptr, nullptr, (DWORD{alpha} << 24) + 0x00FFFFFF), S_OK);
    ASSERT_EQ(m_batcher->EndBatch(), S_OK);
  }

  std::uint32_t Texel(int x, int y) const { return m_texels[std::size_t(y) * kTexW + x]; }

  static constexpr UINT kTexW = 37, kTexH = 23;
  ComRef<SpriteBatcher> m_batcher;
  ComRef<IDirect3DTexture9> m_texture;
  std::vector<std::uint32_t> m_texels;
};

TEST_F(SpriteBatcherPixels, PictureAtAnIntegerOffsetIsReproducedExactly) {
  const int x0 = 123, y0 = 77;
  Matrix4 move;
  MatrixTranslation(&move, float(x0), float(y0), 0);
  DrawPicture(move, nullptr, 255);
  const auto px = BackBufferPixels();
  int mismatches = 0;
  for (UINT y = 0; y < kHeight; ++y)
    for (UINT x = 0; x < kWidth; ++x) {
      const int tx = int(x) - x0, ty = int(y) - y0;
      const bool inside = tx >= 0 && ty >= 0 && tx < int(kTexW) && ty < int(kTexH);
      const std::uint32_t expected = inside ? Texel(tx, ty) : kBackground;
      if (px[y * kWidth + x] != expected && ++mismatches <= 10)
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") " << std::hex << px[y * kWidth + x] << " expected "
                      << expected;
    }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(SpriteBatcherPixels, SourceRectangleAndTransparentColour) {
  Matrix4 move;
  MatrixTranslation(&move, 300, 200, 0);
  const RECT r{5, 3, 20, 18};
  DrawPicture(move, &r, 255);
  MatrixTranslation(&move, 10, 10, 0);
  DrawPicture(move, nullptr, 0);  // alpha 0: nothing changes
  const auto px = BackBufferPixels();
  for (UINT y = 0; y < kHeight; ++y)
    for (UINT x = 0; x < kWidth; ++x) {
      const bool inside = x >= 300 && x < 315 && y >= 200 && y < 215;
      const std::uint32_t expected = inside ? Texel(int(x) - 300 + 5, int(y) - 200 + 3) : kBackground;
      ASSERT_EQ(px[y * kWidth + x], expected) << x << ", " << y;
    }
}

// Turned about the picture's centre by a quarter turn (as the framework's
// rotated draw builds it), each texel centre lands on the pixel centre that
// the matrix gives for it.
TEST_F(SpriteBatcherPixels, QuarterTurnLandsWhereTheMatrixSays) {
  const float x0 = 200, y0 = 150, cx = kTexW / 2.0f, cy = kTexH / 2.0f;
  Matrix4 toCentre, turn, back, m;
  MatrixTranslation(&toCentre, -cx, -cy, 0);
  MatrixRotationZ(&turn, 1.5707963267948966f);
  MatrixTranslation(&back, x0 + cx, y0 + cy, 0);
  MatrixMultiply(&m, &toCentre, &turn);
  MatrixMultiply(&m, &m, &back);
  DrawPicture(m, nullptr, 255);
  const auto px = BackBufferPixels();

  std::vector<std::uint32_t> expected(std::size_t(kWidth) * kHeight, kBackground);
  for (UINT j = 0; j < kTexH; ++j)
    for (UINT i = 0; i < kTexW; ++i) {
      const Vec3 centre(i + 0.5f, j + 0.5f, 0);
      Vec3 at;
      Vec3TransformPoint(&at, &centre, &m);
      // Sprite coordinates sit half a pixel before the target's pixel centres.
      const long sx = std::lround(at.x - 0.5f), sy = std::lround(at.y - 0.5f);
      ASSERT_NEAR(at.x - 0.5f, float(sx), 1e-3f);
      ASSERT_NEAR(at.y - 0.5f, float(sy), 1e-3f);
      expected[std::size_t(sy) * kWidth + sx] = Texel(int(i), int(j));
    }
  int mismatches = 0;
  for (std::size_t k = 0; k < expected.size(); ++k)
    if (px[k] != expected[k] && ++mismatches <= 10)
      ADD_FAILURE() << "pixel (" << k % kWidth << ", " << k / kWidth << ") " << std::hex << px[k] << " expected "
                    << expected[k];
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace drawtest

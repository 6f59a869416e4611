// Line drawing on the headless device: the pixels each kind of line lights,
// the batches across the vertex ring, and 3-D points through a matrix and a
// viewport away from the origin.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "draw_test_support.h"
#include "gxl/draw/line_drawer.h"
#include "gxl/draw/line_drawer_object.h"

namespace drawtest {
namespace {

constexpr UINT kWidth = 640;
constexpr D3DCOLOR kBackground = 0xFF000000, kInk = 0xFFFFC040;
using PixelSet = std::set<std::pair<int, int>>;

class LineDrawerPixels : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    LineDrawer* l = nullptr;
    ASSERT_EQ(GXLCreateLineDrawer(dev, &l), S_OK);
    m_lines = ComRef<LineDrawer>(l);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
  }
  void TearDown() override {
    m_lines.Reset();
    if (dev) {
      EXPECT_EQ(dev->EndScene(), D3D_OK);
    }
    SpriteTest::TearDown();
  }
  // Every pixel that is not the background, with its colour.
  std::map<std::pair<int, int>, std::uint32_t> Lit() {
    std::map<std::pair<int, int>, std::uint32_t> lit;
    const auto px = BackBufferPixels();
    for (std::size_t k = 0; k < px.size(); ++k)
      if (px[k] != kBackground) lit[{int(k % kWidth), int(k / kWidth)}] = px[k];
    return lit;
  }
  PixelSet LitSet() {
    PixelSet s;
    for (const auto& [at, colour] : Lit()) s.insert(at);
    return s;
  }
  static PixelSet Run(int x0, int y0, int dx, int dy, int n) {
    PixelSet s;
    for (int k = 0; k < n; ++k) s.insert({x0 + k * dx, y0 + k * dy});
    return s;
  }
  static PixelSet Rect(int x0, int y0, int x1, int y1) {
    PixelSet s;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) s.insert({x, y});
    return s;
  }
  ComRef<LineDrawer> m_lines;
};

// One-pixel lines are device line strips: the diamond-exit rule with the last
// pixel lit, relative to the viewport's corner.
TEST_F(LineDrawerPixels, OnePixelLinesLightTheLineRulePixels) {
  const D3DVIEWPORT9 vp{100, 50, 300, 200, 0, 1};
  ASSERT_EQ(dev->SetViewport(&vp), D3D_OK);
  const struct {
    std::vector<Vec2> points;
    PixelSet lit;  // in target pixels
  } cases[] = {
      {{{2, 5}, {20, 5}}, Run(102, 55, 1, 0, 19)},
      {{{30, 12}, {30, 2}}, Run(130, 52, 0, 1, 11)},
      {{{40, 10}, {50, 20}}, Run(140, 60, 1, 1, 11)},
      // Repeated points are dropped; a corner is lit once.
      {{{60, 30}, {60, 30}, {70, 30}, {70, 35}},
       [] {
         PixelSet s = Run(160, 80, 1, 0, 11);
         s.merge(Run(170, 80, 0, 1, 6));
         return s;
       }()},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
    ASSERT_EQ(m_lines->DrawPolyline(c.points.data(), UINT(c.points.size()), kInk), S_OK);
    EXPECT_EQ(LitSet(), c.lit) << c.points[0].x;
  }
}

TEST_F(LineDrawerPixels, WideStippledAndSmoothedLinesAreQuads) {
  const Vec2 across[2] = {{10, 20}, {50, 20}};
  ASSERT_EQ(m_lines->SetLineWidth(4), S_OK);
  ASSERT_EQ(m_lines->DrawPolyline(across, 2, kInk), S_OK);
  EXPECT_EQ(LitSet(), Rect(10, 18, 50, 22));

  // Sixteen pixels on, sixteen off; a stipple scale of 2 doubles both (pixel
  // centres then meet texel edges at the ends of a dash, which are not probed).
  const Vec2 dashed[2] = {{0, 100}, {128, 100}};
  for (const int scale : {1, 2}) {
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
    ASSERT_EQ(m_lines->SetLineWidth(1), S_OK);
    ASSERT_EQ(m_lines->SetStipple(0x0000FFFF), S_OK);
    ASSERT_EQ(m_lines->SetStippleScale(float(scale)), S_OK);
    ASSERT_EQ(m_lines->DrawPolyline(dashed, 2, kInk), S_OK);
    const auto px = BackBufferPixels();
    const int dash = 16 * scale, margin = scale - 1;
    for (int x = 0; x < 128; ++x) {
      const int phase = x % (2 * dash);
      if (phase % dash < margin || phase % dash >= dash - margin) continue;
      EXPECT_EQ(px[100 * kWidth + x], phase < dash ? kInk : kBackground) << "scale " << scale << " x " << x;
      EXPECT_EQ(px[101 * kWidth + x], kBackground);
    }
  }

  // Smoothed one-pixel line (the device has no antialiased lines): a quad two
  // pixels high, full in the middle row, faint (p[0] = 8) in the outer one.
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
  ASSERT_EQ(m_lines->SetStipple(0xFFFFFFFF), S_OK);
  ASSERT_EQ(m_lines->SetSmoothing(TRUE), S_OK);
  const Vec2 smooth[2] = {{10, 60}, {50, 60}};
  ASSERT_EQ(m_lines->DrawPolyline(smooth, 2, kInk), S_OK);
  auto lit = Lit();
  EXPECT_EQ(lit.size(), 80u);
  for (int x = 10; x < 50; ++x) {
    EXPECT_EQ(lit[std::make_pair(x, 60)], kInk) << x;
    // 8 / 255 of the ink over black.
    EXPECT_NEAR(int(lit[std::make_pair(x, 59)] >> 16 & 0xFF), 255 * 8 / 255, 1) << x;
  }

  // A target that cannot blend gets an alpha test instead: the faint row goes.
  platform::test::SetD3D9FormatAnswer([](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    if (usage & D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING) return D3DERR_NOTAVAILABLE;
    return platform::test::D3D9ProfileFormatAnswer("game", usage, type, format);
  });
  ASSERT_EQ(m_lines->OnDeviceLost(), S_OK);
  ASSERT_EQ(m_lines->OnDeviceReset(), S_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
  ASSERT_EQ(m_lines->DrawPolyline(smooth, 2, kInk), S_OK);
  EXPECT_EQ(LitSet(), Rect(10, 60, 50, 61));
}

// 600 points in quad mode: a batch of 512 points (511 quads) and one of the
// remaining 89 points starting at point 511, each with a discarding lock;
// the pattern phase starts again with the second batch.
TEST_F(LineDrawerPixels, LongPolylinesBatchAcrossTheRing) {
  std::vector<Vec2> points(600);
  for (int i = 0; i < 600; ++i) points[i] = Vec2(float(i % 300) + 10, float(10 + 2 * (i / 300)) + (i % 2) * 0.25f);
  ASSERT_EQ(m_lines->SetLineWidth(2), S_OK);
  ASSERT_EQ(m_lines->BeginLines(), S_OK);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(m_lines->DrawPolyline(points.data(), 600, kInk), S_OK);
  ASSERT_EQ(m_lines->DrawPolyline(points.data(), 3, kInk), S_OK);
  platform::test::StopD3D9CallLog();
  EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive"),
            (std::vector<std::string>{"4, 0, 0, 2044, 0, 1022", "4, 0, 0, 352, 0, 176", "4, 0, 356, 8, 534, 4"}));
  // (offset, bytes, flags): discarding twice, then appending without overwrite.
  const auto locks = LoggedArgs("VertexBuffer.Lock");
  const char* expected[] = {", 0, 49152, 8192", ", 0, 8544, 8192", ", 8544, 288, 4096"};
  ASSERT_EQ(locks.size(), 3u);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(locks[k].ends_with(expected[k])) << locks[k];

  // The second batch's first quad is the segment from point 511 to 512, its
  // pattern coordinate back at half a bit.
  ComRef<IDirect3DVertexBuffer9> vb;
  UINT offset = 0, stride = 0;
  ASSERT_EQ(dev->GetStreamSource(0, vb.Put(), &offset, &stride), D3D_OK);
  void* data = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  const auto* v = static_cast<const gxl::LineVertex*>(data);
  const Vec2 a = points[511], b = points[512];
  const bool forward = b.x >= a.x;
  EXPECT_FLOAT_EQ(v[0].x + v[2].x, 2 * (forward ? a.x : b.x));
  EXPECT_FLOAT_EQ(v[1].y + v[3].y, 2 * (forward ? b.y : a.y));
  EXPECT_FLOAT_EQ(forward ? v[0].u : v[1].u, 0.015625f);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  vb.Reset();
  ASSERT_EQ(m_lines->EndLines(), S_OK);
}

// 3-D points through a matrix with w = 2 and a viewport at (100, 50): the
// line lands where the viewport transform puts it, counted once.
TEST_F(LineDrawerPixels, TransformedLinesThroughMatrixAndViewport) {
  const D3DVIEWPORT9 vp{100, 50, 200, 100, 0, 1};
  ASSERT_EQ(dev->SetViewport(&vp), D3D_OK);
  // ndc x = x / 100 - 1, ndc y = y / 50 - 1, both then divided by w = 2 (x2 first).
  Matrix4 m{};
  m.m[0][0] = 2.0f / 100;
  m.m[1][1] = 2.0f / 50;
  m.m[2][2] = 2.0f;
  m.m[3][0] = -2.0f;
  m.m[3][1] = -2.0f;
  m.m[3][3] = 2.0f;
  const Vec3 world[2] = {{20, 30, 0}, {60, 30, 0}};
  ASSERT_EQ(m_lines->DrawPolylineTransformed(world, 2, &m, kInk), S_OK);
  // x 20 -> ndc -0.8 -> 100 + 20; x 60 -> 160; y 30 -> ndc -0.4 -> 50 + 70.
  EXPECT_EQ(LitSet(), Run(120, 120, 1, 0, 41));

  // Without a matrix the points are already projected: (-1, 1) is the viewport's top-left corner.
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
  const Vec3 projected[2] = {{-1, 1, 0}, {0, 1, 0}};
  ASSERT_EQ(m_lines->DrawPolylineTransformed(projected, 2, nullptr, kInk), S_OK);
  EXPECT_EQ(LitSet(), Run(100, 50, 1, 0, 101));

  // As a wide quad the same line covers rows 119 and 120 (half width 1 each side of y = 120).
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBackground, 1.0f, 0), D3D_OK);
  ASSERT_EQ(m_lines->SetLineWidth(2), S_OK);
  ASSERT_EQ(m_lines->DrawPolylineTransformed(world, 2, &m, kInk), S_OK);
  EXPECT_EQ(LitSet(), Rect(120, 119, 160, 121));
}

}  // namespace
}  // namespace drawtest

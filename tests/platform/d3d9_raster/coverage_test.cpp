// Which pixels primitives cover: the top-left rule, rectangles, culling,
// transformation and clipping, lines by the diamond-exit rule, points, the
// viewport.
#include <cmath>
#include <random>
#include <set>
#include <utility>

#include "tests/platform/d3d9_raster/raster_fixture.h"

namespace {

using rastertest::TlVertex;
using rastertest::Vertex;

class D3D9RasterCoverage : public rastertest::RasterTest {
 protected:
  // Additive white-on-black drawing: each cover adds 0x10 to every channel.
  void CountCovers() {
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE), D3D_OK);
  }
  static std::set<std::pair<int, int>> Lit(const std::vector<std::uint32_t>& px) {
    std::set<std::pair<int, int>> lit;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x)
        if (px[std::size_t(y) * 640 + x] & 0xFFFFFF) lit.insert({x, y});
    return lit;
  }
};

TEST_F(D3D9RasterCoverage, RectanglesCoverExactlyTheirPixelCentres) {
  struct Case {
    float x0, y0, x1, y1;
    int left, top, right, bottom;  // covered pixels [left, right) x [top, bottom)
  } cases[] = {{10, 20, 30, 45, 10, 20, 30, 45},
               {10.5f, 20.25f, 30.5f, 44.75f, 11, 21, 31, 45},
               {-5, -7, 3, 2, 0, 0, 3, 2},
               {100.01f, 50.99f, 100.99f, 52.01f, 101, 51, 101, 53}};  // no centre across x
  for (const Case& c : cases) {
    Clear(0);
    Quad(c.x0, c.y0, c.x1, c.y1, 0xFFFFFFFF);
    const auto px = Screen();
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const bool inside = x >= c.left && x < c.right && y >= c.top && y < c.bottom;
        wrong += (At(px, x, y) == 0xFFFFFFu) != inside;
      }
    EXPECT_EQ(wrong, 0) << c.x0 << "," << c.y0 << " - " << c.x1 << "," << c.y1;
  }
}

// A mesh of jittered triangles over a rectangle: every centre inside is
// covered exactly once, none outside, whatever the shared edges' slopes.
TEST_F(D3D9RasterCoverage, SharedEdgesCoverEveryPixelOnce) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> jitter(-9.0f, 9.0f);
  constexpr int kN = 12;
  const float x0 = 40.25f, y0 = 30.5f, step = 33.0f;
  float gx[kN + 1][kN + 1], gy[kN + 1][kN + 1];
  for (int j = 0; j <= kN; ++j)
    for (int i = 0; i <= kN; ++i) {
      const bool border = i == 0 || j == 0 || i == kN || j == kN;
      gx[j][i] = x0 + i * step + (border ? 0 : jitter(rng));
      gy[j][i] = y0 + j * step + (border ? 0 : jitter(rng));
    }
  std::vector<TlVertex> tris;
  for (int j = 0; j < kN; ++j)
    for (int i = 0; i < kN; ++i) {
      auto v = [&](int a, int b) { return TlVertex{gx[b][a], gy[b][a], 0, 1, 0xFF101010, 0, 0}; };
      // Alternate the diagonal and the winding.
      if ((i + j) & 1) {
        tris.insert(tris.end(), {v(i, j), v(i + 1, j), v(i + 1, j + 1), v(i, j), v(i, j + 1), v(i + 1, j + 1)});
      } else {
        tris.insert(tris.end(), {v(i, j), v(i + 1, j), v(i, j + 1), v(i + 1, j), v(i + 1, j + 1), v(i, j + 1)});
      }
    }
  Clear(0);
  CountCovers();
  DrawTl(D3DPT_TRIANGLELIST, UINT(tris.size() / 3), tris.data());
  const auto px = Screen();
  const float x1 = x0 + kN * step, y1 = y0 + kN * step;
  int wrong = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
      wrong += (At(px, x, y) & 0xFFFFFF) != (inside ? 0x101010u : 0u);
    }
  EXPECT_EQ(wrong, 0);
}

TEST_F(D3D9RasterCoverage, FansAndStripsShareEdgesToo) {
  // A fan around a centre and a zig-zag strip: no pixel twice.
  std::vector<TlVertex> fan{{320, 240, 0, 1, 0xFF101010, 0, 0}};
  for (int i = 0; i <= 17; ++i) {
    const double a = i * 2 * 3.14159265358979 / 17;
    fan.push_back({float(320 + 150 * std::cos(a)), float(240 + 110 * std::sin(a)), 0, 1, 0xFF101010, 0, 0});
  }
  Clear(0);
  CountCovers();
  DrawTl(D3DPT_TRIANGLEFAN, 17, fan.data());
  auto px = Screen();
  int twice = 0, once = 0;
  for (std::uint32_t p : px) {
    twice += (p & 0xFF) > 0x10;
    once += (p & 0xFF) == 0x10;
  }
  EXPECT_EQ(twice, 0);
  EXPECT_GT(once, 40000);  // about pi x 150 x 110
  std::vector<TlVertex> strip;
  for (int i = 0; i < 20; ++i)
    strip.push_back({float(20 + 29.3 * i), float(i & 1 ? 300.7 : 250.2), 0, 1, 0xFF101010, 0, 0});
  Clear(0);
  DrawTl(D3DPT_TRIANGLESTRIP, 18, strip.data());
  px = Screen();
  twice = 0;
  for (std::uint32_t p : px) twice += (p & 0xFF) > 0x10;
  EXPECT_EQ(twice, 0);
}

TEST_F(D3D9RasterCoverage, CullingInBothWindings) {
  // Clockwise on the screen (y down): (100,100) -> (200,100) -> (100,200).
  const TlVertex cw[3] = {{100, 100, 0, 1, ~0u, 0, 0}, {200, 100, 0, 1, ~0u, 0, 0}, {100, 200, 0, 1, ~0u, 0, 0}};
  const TlVertex ccw[3] = {cw[0], cw[2], cw[1]};
  struct Case {
    DWORD cull;
    bool cwDrawn, ccwDrawn;
  } cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
  for (const Case& c : cases) {
    ASSERT_EQ(dev->SetRenderState(D3DRS_CULLMODE, c.cull), D3D_OK);
    Clear(0);
    DrawTl(D3DPT_TRIANGLELIST, 1, cw);
    EXPECT_EQ(CountNot(Screen(), 0) > 0, c.cwDrawn) << c.cull;
    Clear(0);
    DrawTl(D3DPT_TRIANGLELIST, 1, ccw);
    EXPECT_EQ(CountNot(Screen(), 0) > 0, c.ccwDrawn) << c.cull;
  }
  // A strip's odd triangles keep the first one's winding: both survive.
  ASSERT_EQ(dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW), D3D_OK);
  Clear(0);
  Quad(10, 10, 50, 50, ~0u);
  EXPECT_EQ(CountNot(Screen(), 0), 40 * 40);
}

TEST_F(D3D9RasterCoverage, TransformedGeometryLandsOnTheExpectedPixels) {
  // Orthographic: clip x = X / 2, so X in [-1, 1] covers screen [160, 480).
  D3DMATRIX m = rastertest::Identity();
  m._11 = 0.5f;
  m._22 = 0.5f;
  ASSERT_EQ(dev->SetTransform(D3DTS_PROJECTION, &m), D3D_OK);
  const Vertex square[4] = {{-1, 1, 0.5f, ~0u, 0, 0}, {1, 1, 0.5f, ~0u, 0, 0}, {-1, -1, 0.5f, ~0u, 0, 0},
                            {1, -1, 0.5f, ~0u, 0, 0}};
  ASSERT_EQ(dev->SetFVF(rastertest::kFvf), D3D_OK);
  Clear(0);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, square, sizeof(Vertex)), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  auto px = Screen();
  EXPECT_EQ(CountNot(px, 0), 320 * 240);
  EXPECT_NE(At(px, 160, 120), 0u);
  EXPECT_NE(At(px, 479, 359), 0u);
  EXPECT_EQ(At(px, 159, 120), 0u);
  EXPECT_EQ(At(px, 480, 359), 0u);

  // Perspective (w = z, near 1, far 10), a world shift and a view shift: the
  // unit square at z = 2 spans x / w in [-0.5, 0.5] again.
  const float n = 1, f = 10;
  D3DMATRIX p{};
  p._11 = 1;
  p._22 = 1;
  p._33 = f / (f - n);
  p._34 = 1;
  p._43 = -n * f / (f - n);
  D3DMATRIX world = rastertest::Identity(), view = rastertest::Identity();
  world._43 = 1.5f;  // z + 1.5, then - 0.5: the square at z = 1 lands at z = 2
  view._43 = -0.5f;
  ASSERT_EQ(dev->SetTransform(D3DTS_PROJECTION, &p), D3D_OK);
  ASSERT_EQ(dev->SetTransform(D3DTS_WORLD, &world), D3D_OK);
  ASSERT_EQ(dev->SetTransform(D3DTS_VIEW, &view), D3D_OK);
  const Vertex far[4] = {{-1, 1, 1, ~0u, 0, 0}, {1, 1, 1, ~0u, 0, 0}, {-1, -1, 1, ~0u, 0, 0}, {1, -1, 1, ~0u, 0, 0}};
  Clear(0);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, far, sizeof(Vertex)), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  px = Screen();
  EXPECT_EQ(CountNot(px, 0), 320 * 240);
  EXPECT_NE(At(px, 160, 120), 0u);
  EXPECT_EQ(At(px, 159, 119), 0u);
}

TEST_F(D3D9RasterCoverage, NearAndFarPlanesClip) {
  // Orthographic with z passed through: the triangle spans z from -1 to 1, so
  // only the part with 0 <= z <= 1 remains (the right half).
  D3DMATRIX m = rastertest::Identity();
  ASSERT_EQ(dev->SetTransform(D3DTS_PROJECTION, &m), D3D_OK);
  const Vertex quad[4] = {{-1, 1, -1, ~0u, 0, 0}, {1, 1, 1, ~0u, 0, 0}, {-1, -1, -1, ~0u, 0, 0},
                          {1, -1, 1, ~0u, 0, 0}};
  ASSERT_EQ(dev->SetFVF(rastertest::kFvf), D3D_OK);
  Clear(0);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  auto px = Screen();
  EXPECT_EQ(CountNot(px, 0), 320 * 480);
  EXPECT_EQ(At(px, 319, 240), 0u);
  EXPECT_NE(At(px, 320, 240), 0u);
  // With clipping off, nothing is cut by depth.
  ASSERT_EQ(dev->SetRenderState(D3DRS_CLIPPING, FALSE), D3D_OK);
  Clear(0);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(CountNot(Screen(), 0), 640 * 480);
}

TEST_F(D3D9RasterCoverage, GuardBandKeepsHugeTrianglesExact) {
  // Far outside the screen: the visible part keeps the exact edge.
  const TlVertex tri[3] = {{-100000, -100000, 0, 1, ~0u, 0, 0}, {100000, -100000, 0, 1, ~0u, 0, 0},
                           {-100000, 100.5f, 0, 1, ~0u, 0, 0}};
  Clear(0);
  DrawTl(D3DPT_TRIANGLELIST, 1, tri);
  const auto px = Screen();
  // The hypotenuse runs from (100000, -100000) to (-100000, 100.5): its y at
  // x is about 100.5 - (x + 100000) x 100100.5 / 200000.
  int wrong = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const double edge = 100.5 - (x + 100000.0) * 100100.5 / 200000.0;
      if (std::abs(y - edge) < 0.01) continue;
      wrong += (At(px, x, y) != 0) != (y < edge);
    }
  EXPECT_EQ(wrong, 0);
}

TEST_F(D3D9RasterCoverage, LinesByTheDiamondExitRule) {
  auto line = [&](float x0, float y0, float x1, float y1, D3DPRIMITIVETYPE type = D3DPT_LINELIST) {
    const TlVertex v[2] = {{x0, y0, 0, 1, ~0u, 0, 0}, {x1, y1, 0, 1, ~0u, 0, 0}};
    Clear(0);
    DrawTl(type, 1, v);
    return Lit(Screen());
  };
  std::set<std::pair<int, int>> expected;
  for (int x = 2; x <= 19; ++x) expected.insert({x, 5});
  ASSERT_EQ(dev->SetRenderState(D3DRS_LASTPIXEL, FALSE), D3D_OK);
  EXPECT_EQ(line(2, 5, 20, 5), expected);
  ASSERT_EQ(dev->SetRenderState(D3DRS_LASTPIXEL, TRUE), D3D_OK);
  expected.insert({20, 5});
  EXPECT_EQ(line(2, 5, 20, 5), expected);
  // Drawn backwards the start is lit and the end (column 2) only as the last pixel.
  ASSERT_EQ(dev->SetRenderState(D3DRS_LASTPIXEL, FALSE), D3D_OK);
  expected.clear();
  for (int x = 3; x <= 20; ++x) expected.insert({x, 5});
  EXPECT_EQ(line(20, 5, 2, 5), expected);
  // A diagonal and a steep line: one pixel per row or column.
  expected.clear();
  for (int i = 0; i < 10; ++i) expected.insert({10 + i, 20 + i});
  EXPECT_EQ(line(10, 20, 20, 30), expected);
  // Columns exactly between two pixels go to the left one.
  expected.clear();
  for (int y = 40; y < 60; ++y) expected.insert({int(std::ceil(100 + (y - 40) * 0.25 - 0.5)), y});
  EXPECT_EQ(line(100, 40, 105, 60), expected);
  // A line on a pixel boundary falls on one side of it, without gaps.
  const auto boundary = line(2.5f, 5.5f, 12.5f, 5.5f);
  EXPECT_EQ(boundary.size(), 10u);
  for (const auto& p : boundary) EXPECT_EQ(p.second, boundary.begin()->second);
  // A strip: the joints once, every segment.
  const TlVertex strip[4] = {{10, 100, 0, 1, ~0u, 0, 0}, {30, 100, 0, 1, ~0u, 0, 0}, {30, 120, 0, 1, ~0u, 0, 0},
                             {10, 120, 0, 1, ~0u, 0, 0}};
  Clear(0);
  DrawTl(D3DPT_LINESTRIP, 3, strip);
  EXPECT_EQ(Lit(Screen()).size(), 60u);
}

TEST_F(D3D9RasterCoverage, PointsLightTheSquareThatHoldsThem) {
  const TlVertex pts[4] = {{10.4f, 20.6f, 0, 1, ~0u, 0, 0},
                           {30.5f, 40.5f, 0, 1, ~0u, 0, 0},
                           {50.49f, 60.0f, 0, 1, ~0u, 0, 0},
                           {-0.6f, 0, 0, 1, ~0u, 0, 0}};
  Clear(0);
  DrawTl(D3DPT_POINTLIST, 4, pts);
  const std::set<std::pair<int, int>> expected{{10, 21}, {31, 41}, {50, 60}};
  EXPECT_EQ(Lit(Screen()), expected);
}

TEST_F(D3D9RasterCoverage, NothingOutsideTheViewport) {
  const D3DVIEWPORT9 vp{100, 50, 200, 100, 0, 1};
  ASSERT_EQ(dev->SetViewport(&vp), D3D_OK);
  Clear(0xFF0000FF);  // the viewport only
  Quad(-50, -50, 700, 500, 0xFFFFFFFF);
  const auto px = Screen();
  EXPECT_EQ(CountNot(px, 0), 200 * 100);
  EXPECT_EQ(At(px, 100, 50), 0xFFFFFFu);
  EXPECT_EQ(At(px, 299, 149), 0xFFFFFFu);
  EXPECT_EQ(At(px, 300, 149), 0u);
  const TlVertex lines[2] = {{0, 60, 0, 1, ~0u, 0, 0}, {640, 60, 0, 1, ~0u, 0, 0}};
  DrawTl(D3DPT_LINELIST, 1, lines);
  EXPECT_EQ(CountNot(Screen(), 0), 200 * 100);
}

}  // namespace

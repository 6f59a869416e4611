// The pixel pipeline in closed form: texturing, the stage combiner, alpha
// test, depth, blending and the colour write mask.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>

#include "tests/platform/d3d9_raster/raster_fixture.h"

namespace {

using rastertest::Channel;
using rastertest::Ref;
using rastertest::TlVertex;
using rastertest::Vertex;

class D3D9RasterPixel : public rastertest::RasterTest {
 protected:
  void Stage0(DWORD colorOp, DWORD colorArg1, DWORD colorArg2, DWORD alphaOp, DWORD alphaArg1, DWORD alphaArg2) {
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLOROP, colorOp), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLORARG1, colorArg1), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLORARG2, colorArg2), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_ALPHAOP, alphaOp), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, alphaArg1), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, alphaArg2), D3D_OK);
  }
  void Filters(DWORD mag, DWORD min, DWORD mip = D3DTEXF_NONE) {
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MAGFILTER, mag), D3D_OK);
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MINFILTER, min), D3D_OK);
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MIPFILTER, mip), D3D_OK);
  }
  void Blend(DWORD src, DWORD dst) {
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLEND, src), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_DESTBLEND, dst), D3D_OK);
  }
  // An A8R8G8B8 render-target texture made current (with its level surface).
  Ref<IDirect3DTexture9> Target(UINT w, UINT h, Ref<IDirect3DSurface9>& level) {
    Ref<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(w, h, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr), D3D_OK);
    *&level = Level(t.get());
    EXPECT_EQ(dev->SetRenderTarget(0, level.get()), D3D_OK);
    return t;
  }
  static std::vector<std::uint32_t> RandomTexels(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint32_t> v(n);
    for (auto& t : v) t = rng();
    return v;
  }
};

TEST_F(D3D9RasterPixel, UntexturedQuadsShowTheirVertexColour) {
  Ref<IDirect3DSurface9> level;
  auto rt = Target(64, 64, level);
  Clear(0);
  // The default stage 0 (MODULATE texture, SELECTARG1 texture) without a
  // texture passes the diffuse colour and alpha through.
  Quad(8, 8, 40, 40, 0x80C04020);
  auto px = ReadBack(level.get());
  EXPECT_EQ(At(px, 10, 10, 64), 0x80C04020u);
  EXPECT_EQ(At(px, 39, 39, 64), 0x80C04020u);
  EXPECT_EQ(At(px, 40, 40, 64), 0u);
  // So does SELECTARG1(TEXTURE) with nothing bound.
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  Quad(8, 8, 40, 40, 0x11223344);
  EXPECT_EQ(At(ReadBack(level.get()), 20, 20, 64), 0x11223344u);
  // Gouraud: the vertices' colours at their pixel centres, the mean between.
  const TlVertex tri[4] = {{0, 0, 0, 1, 0xFF000000, 0, 0}, {32, 0, 0, 1, 0xFFFF0000, 0, 0},
                           {0, 32, 0, 1, 0xFF0000FF, 0, 0}, {32, 32, 0, 1, 0xFFFF00FF, 0, 0}};
  DrawTl(D3DPT_TRIANGLESTRIP, 2, tri);
  px = ReadBack(level.get());
  EXPECT_EQ(At(px, 0, 0, 64), 0xFF000000u);
  EXPECT_EQ(At(px, 16, 16, 64), 0xFF800080u);
  // Flat shading takes the first vertex of each triangle.
  ASSERT_EQ(dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT), D3D_OK);
  const TlVertex flat[3] = {{0, 0, 0, 1, 0xFF102030, 0, 0}, {32, 0, 0, 1, 0xFFFF0000, 0, 0}, {0, 32, 0, 1, 0xFF0000FF, 0, 0}};
  DrawTl(D3DPT_TRIANGLELIST, 1, flat);
  px = ReadBack(level.get());
  EXPECT_EQ(At(px, 2, 2, 64), 0xFF102030u);
  EXPECT_EQ(At(px, 20, 5, 64), 0xFF102030u);
}

TEST_F(D3D9RasterPixel, OneToOneQuadsReproduceTheTexture) {
  const auto texels = RandomTexels(64 * 32, 1);
  auto tex = Texture(64, 32, texels);
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  Ref<IDirect3DSurface9> level;
  auto rt = Target(128, 64, level);
  auto check = [&](int x0, int y0, const char* what) {
    const auto px = ReadBack(level.get());
    int wrong = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 64; ++x) wrong += At(px, x0 + x, y0 + y, 128) != texels[std::size_t(y) * 64 + x];
    EXPECT_EQ(wrong, 0) << what;
  };
  // Pre-transformed at integer positions: pixel centres fall on texel corners,
  // which point sampling takes exactly.
  Filters(D3DTEXF_POINT, D3DTEXF_POINT);
  Quad(10, 20, 74, 52, ~0u);
  check(10, 20, "point, integer corners");
  // Half a pixel up and left, centres fall on texel centres: linear is exact too.
  for (DWORD filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
    Filters(filter, filter);
    Clear(0);
    Quad(30.5f, 3.5f, 94.5f, 35.5f, ~0u);
    check(31, 4, filter == D3DTEXF_POINT ? "point, half offset" : "linear, half offset");
  }
  // The sprite batcher's road: transformed vertices through a projection that
  // moves everything half a pixel up and left.
  D3DMATRIX proj = rastertest::Identity();
  proj._11 = 2.0f / 128;
  proj._22 = -2.0f / 64;
  proj._41 = -1.0f - 1.0f / 128;
  proj._42 = 1.0f + 1.0f / 64;
  ASSERT_EQ(dev->SetTransform(D3DTS_PROJECTION, &proj), D3D_OK);
  ASSERT_EQ(dev->SetFVF(rastertest::kFvf), D3D_OK);
  const Vertex sprite[4] = {{7, 9, 0, ~0u, 0, 0}, {71, 9, 0, ~0u, 1, 0}, {7, 41, 0, ~0u, 0, 1}, {71, 41, 0, ~0u, 1, 1}};
  Clear(0);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, sprite, sizeof(Vertex)), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  check(7, 9, "transformed, linear");
}

TEST_F(D3D9RasterPixel, LinearFilteringMidwayGivesTheMean) {
  // Two texels side by side; sampled halfway between their centres.
  auto tex = Texture(2, 1, {0xFF0A1428, 0x0F1E3250});
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  Filters(D3DTEXF_LINEAR, D3DTEXF_LINEAR);
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP), D3D_OK);
  Ref<IDirect3DSurface9> level;
  auto rt = Target(8, 8, level);
  // One pixel at u = 0.5 (s = 0.5 texel): a quad 2 pixels wide centred there.
  Quad(2, 2, 4, 3, ~0u, 0.25f, 0.5f, 0.75f, 0.5f);
  const std::uint32_t got = At(ReadBack(level.get()), 3, 2, 8);
  const std::uint32_t a = 0xFF0A1428, b = 0x0F1E3250;
  for (int shift = 0; shift < 32; shift += 8)
    EXPECT_EQ(Channel(got, shift), (Channel(a, shift) + Channel(b, shift) + 1) / 2) << shift;
}

TEST_F(D3D9RasterPixel, WrapClampMirrorAndBorderAtTheEdge) {
  auto tex = Texture(2, 1, {0xFFFF0000, 0xFF0000FF});
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  Filters(D3DTEXF_POINT, D3DTEXF_POINT);
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0xFF00FF00), D3D_OK);
  const std::uint32_t R = 0xFF0000, B = 0x0000FF, G = 0x00FF00;
  struct Case {
    DWORD mode;
    std::uint32_t expected[8];
  } cases[] = {{D3DTADDRESS_WRAP, {R, B, R, B, R, B, R, B}},
               {D3DTADDRESS_CLAMP, {R, B, B, B, B, B, B, B}},
               {D3DTADDRESS_MIRROR, {R, B, B, R, R, B, B, R}},
               {D3DTADDRESS_BORDER, {R, B, G, G, G, G, G, G}},
               {D3DTADDRESS_MIRRORONCE, {R, B, B, B, B, B, B, B}}};
  for (const Case& c : cases) {
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_ADDRESSU, c.mode), D3D_OK);
    Clear(0);
    Quad(0, 0, 8, 1, ~0u, 0, 0, 4, 0);  // u from 0 to 4 over 8 pixels: one texel per pixel
    const auto px = Screen();
    for (int x = 0; x < 8; ++x) EXPECT_EQ(At(px, x, 0), c.expected[x]) << "mode " << c.mode << " x " << x;
  }
  // Negative coordinates: wrap and mirror continue the pattern leftwards.
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR), D3D_OK);
  Clear(0);
  Quad(0, 0, 4, 1, ~0u, -2, 0, 0, 0);
  const auto px = Screen();
  const std::uint32_t mirrored[4] = {R, B, B, R};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(At(px, x, 0), mirrored[x]) << x;
}

TEST_F(D3D9RasterPixel, BlendingFollowsTheAlphaWithinOneStep) {
  // 256 texels with alpha 0-255 over a known background.
  std::vector<std::uint32_t> texels(256);
  for (int i = 0; i < 256; ++i) texels[i] = std::uint32_t(i) << 24 | 0xE08010;
  auto tex = Texture(256, 1, texels);
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  Ref<IDirect3DSurface9> level;
  auto rt = Target(256, 4, level);
  for (std::uint32_t background : {0x20406080u, 0xFFFFFFFFu, 0x00000000u}) {
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE), D3D_OK);
    Clear(background);
    Blend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
    Quad(0, 0, 256, 1, ~0u);
    const auto px = ReadBack(level.get());
    for (int i = 0; i < 256; ++i)
      for (int shift = 0; shift < 32; shift += 8) {
        const double s = Channel(texels[i], shift), d = Channel(background, shift), a = i / 255.0;
        const double exact = s * a + d * (1 - a);
        const int got = int(Channel(px[i], shift));
        ASSERT_LE(std::abs(got - exact), 0.5 + 1e-9) << "alpha " << i << " shift " << shift;
      }
    EXPECT_EQ(px[255], texels[255]);          // alpha 255 gives the source
    EXPECT_EQ(px[0] & 0xFFFFFF, background & 0xFFFFFF);  // alpha 0 the destination colour
  }
}

TEST_F(D3D9RasterPixel, BlendFactorsAndOperations) {
  Ref<IDirect3DSurface9> level;
  auto rt = Target(4, 4, level);
  const std::uint32_t src = 0x80C06020, dst = 0x40206080;
  auto run = [&](DWORD s, DWORD d, DWORD op) {
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE), D3D_OK);
    Clear(dst);
    Blend(s, d);
    ASSERT_EQ(dev->SetRenderState(D3DRS_BLENDOP, op), D3D_OK);
    Quad(0, 0, 4, 4, src);
  };
  auto channelwise = [](std::uint32_t a, std::uint32_t b, auto f) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) out |= std::uint32_t(f(Channel(a, shift), Channel(b, shift))) << shift;
    return out;
  };
  auto round255 = [](int x) { return x <= 0 ? 0 : std::min(255, (x + 127) / 255); };
  // Additive never darkens; it saturates.
  run(D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4), channelwise(src, dst, [](int a, int b) { return std::min(255, a + b); }));
  // SRCALPHA / ONE: the source scaled by its alpha, added.
  run(D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4),
            channelwise(src, dst, [&](int a, int b) { return std::min(255, round255(a * 0x80) + b); }));
  // Subtractions clamp at zero; MIN and MAX ignore the factors.
  run(D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_SUBTRACT);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4), channelwise(src, dst, [](int a, int b) { return std::max(0, a - b); }));
  run(D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4), channelwise(src, dst, [](int a, int b) { return std::max(0, b - a); }));
  run(D3DBLEND_ZERO, D3DBLEND_ZERO, D3DBLENDOP_MIN);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4), channelwise(src, dst, [](int a, int b) { return std::min(a, b); }));
  run(D3DBLEND_ZERO, D3DBLEND_ZERO, D3DBLENDOP_MAX);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4), channelwise(src, dst, [](int a, int b) { return std::max(a, b); }));
  // DESTCOLOR / ZERO multiplies; SRCCOLOR / INVSRCCOLOR weighs by the source itself.
  run(D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4), channelwise(src, dst, [&](int a, int b) { return round255(a * b); }));
  run(D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR, D3DBLENDOP_ADD);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4),
            channelwise(src, dst, [&](int a, int b) { return round255(a * a + b * (255 - a)); }));
  run(D3DBLEND_INVDESTALPHA, D3DBLEND_DESTALPHA, D3DBLENDOP_ADD);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4),
            channelwise(src, dst, [&](int a, int b) { return round255(a * (255 - 0x40) + b * 0x40); }));
  // Without separate alpha blending the alpha uses the colour factors ...
  ASSERT_EQ(dev->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD), D3D_OK);
  run(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD);
  EXPECT_EQ(At(ReadBack(level.get()), 1, 1, 4) >> 24, unsigned(round255(0x80 * 0x80 + 0x40 * 0x7F)));
  // ... with it, its own.
  ASSERT_EQ(dev->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, TRUE), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ZERO), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ONE), D3D_OK);
  run(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD);
  const std::uint32_t got = At(ReadBack(level.get()), 1, 1, 4);
  EXPECT_EQ(got >> 24, 0x40u);
  EXPECT_EQ(got & 0xFFFFFF, channelwise(src, dst, [&](int a, int b) { return round255(a * 0x80 + b * 0x7F); }) & 0xFFFFFF);
}

TEST_F(D3D9RasterPixel, ColourWriteMaskKeepsDestinationAlpha) {
  Ref<IDirect3DSurface9> level;
  auto rt = Target(8, 8, level);
  Clear(0x12345678);
  ASSERT_EQ(dev->SetRenderState(D3DRS_COLORWRITEENABLE, 7), D3D_OK);
  Quad(0, 0, 8, 8, 0xFFAABBCC);
  EXPECT_EQ(At(ReadBack(level.get()), 3, 3, 8), 0x12AABBCCu);
  ASSERT_EQ(dev->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_ALPHA), D3D_OK);
  Blend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  Quad(0, 0, 8, 8, 0xFF000000);
  EXPECT_EQ(At(ReadBack(level.get()), 3, 3, 8), 0xFFAA00CCu);
}

// The play scene's mask trick: floors drawn into a cleared target give alpha,
// the tile written through mask 7 keeps it, and the target composited with
// SRCALPHA / INVSRCALPHA shows the tile only where floors are.
TEST_F(D3D9RasterPixel, TileShowsOnlyWhereFloorsAre) {
  std::vector<std::uint32_t> tile(8 * 8);
  for (int i = 0; i < 64; ++i) tile[i] = (i / 8 + i % 8) & 1 ? 0xFFB0B0B0u : 0xFF909090u;
  auto tileTex = Texture(8, 8, tile);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetRenderTarget(0, &back), D3D_OK);
  Ref<IDirect3DSurface9> level;
  auto field = Target(64, 64, level);
  Clear(0);
  Blend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  Quad(10, 10, 40, 30, 0xFFC0C0C0);  // a floor
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  ASSERT_EQ(dev->SetTexture(0, tileTex.get()), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_COLORWRITEENABLE, 7), D3D_OK);
  Quad(0, 0, 256, 256, ~0u, 0, 0, 32, 32);  // the tile, wrapped
  ASSERT_EQ(dev->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, back.get()), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, field.get()), D3D_OK);
  Clear(0x000000FF);
  Quad(-0.5f, -0.5f, 63.5f, 63.5f, ~0u);
  const auto px = Screen();
  int wrong = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool floor = x >= 10 && x < 40 && y >= 10 && y < 30;
      wrong += At(px, x, y) != (floor ? tile[(y % 8) * 8 + x % 8] & 0xFFFFFF : 0x0000FFu);
    }
  EXPECT_EQ(wrong, 0);
}

TEST_F(D3D9RasterPixel, X8TargetsStoreOpaqueAlpha) {
  Clear(0);
  Quad(0, 0, 4, 4, 0x00123456);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  EXPECT_EQ(ReadBack(back.get())[0], 0xFF123456u);
  // Its alpha reads 255 for DESTALPHA.
  Blend(D3DBLEND_DESTALPHA, D3DBLEND_ZERO);
  Quad(0, 0, 4, 4, 0x00808080);
  EXPECT_EQ(ReadBack(back.get())[0], 0xFF808080u);
}

TEST_F(D3D9RasterPixel, AlphaTestEveryComparison) {
  std::vector<std::uint32_t> texels(256);
  for (int i = 0; i < 256; ++i) texels[i] = std::uint32_t(i) << 24 | 0xFFFFFF;
  auto tex = Texture(256, 1, texels);
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHAREF, 0x180), D3D_OK);  // only the low byte counts
  const int ref = 0x80;
  struct Case {
    DWORD func;
    int passing;
  } cases[] = {{D3DCMP_NEVER, 0},         {D3DCMP_LESS, ref},          {D3DCMP_EQUAL, 1},
               {D3DCMP_LESSEQUAL, ref + 1}, {D3DCMP_GREATER, 255 - ref}, {D3DCMP_NOTEQUAL, 255},
               {D3DCMP_GREATEREQUAL, 256 - ref}, {D3DCMP_ALWAYS, 256}};
  for (const Case& c : cases) {
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHAFUNC, c.func), D3D_OK);
    Clear(0);
    Quad(0, 0, 256, 1, ~0u);
    const auto px = Screen();
    int drawn = 0;
    for (int x = 0; x < 256; ++x) drawn += At(px, x, 0) != 0;
    EXPECT_EQ(drawn, c.passing) << "func " << c.func;
  }
}

TEST_F(D3D9RasterPixel, DepthOrdersSurfaces) {
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE), D3D_OK);
  auto scene = [&](bool nearFirst) {
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    if (nearFirst) Quad(0, 0, 30, 30, 0xFF0000FF, 0, 0, 1, 1, 0.25f);
    Quad(10, 10, 40, 40, 0xFFFF0000, 0, 0, 1, 1, 0.5f);
    if (!nearFirst) Quad(0, 0, 30, 30, 0xFF0000FF, 0, 0, 1, 1, 0.25f);
  };
  for (bool nearFirst : {true, false}) {
    scene(nearFirst);
    const auto px = Screen();
    EXPECT_EQ(At(px, 20, 20), 0x0000FFu) << nearFirst;  // the nearer quad wins the overlap
    EXPECT_EQ(At(px, 35, 35), 0xFF0000u);
  }
  // GREATER keeps the farther one; without depth writes the order decides.
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.0f, 0), D3D_OK);
  Quad(10, 10, 40, 40, 0xFFFF0000, 0, 0, 1, 1, 0.5f);
  Quad(0, 0, 30, 30, 0xFF0000FF, 0, 0, 1, 1, 0.25f);
  EXPECT_EQ(At(Screen(), 20, 20), 0xFF0000u);
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  Quad(0, 0, 30, 30, 0xFF0000FF, 0, 0, 1, 1, 0.25f);
  Quad(10, 10, 40, 40, 0xFFFF0000, 0, 0, 1, 1, 0.5f);
  EXPECT_EQ(At(Screen(), 20, 20), 0xFF0000u);
  // An alpha-tested pixel writes no depth either.
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZWRITEENABLE, TRUE), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  Quad(0, 0, 30, 30, 0x000000FF, 0, 0, 1, 1, 0.25f);  // alpha 0: rejected
  Quad(10, 10, 40, 40, 0xFFFF0000, 0, 0, 1, 1, 0.5f);
  EXPECT_EQ(At(Screen(), 20, 20), 0xFF0000u);
}

TEST_F(D3D9RasterPixel, DepthFollowsThePlaneAndTheSurfaceFormat) {
  // A slanted quad from z 0 to 1 against a plane at 0.5: the left half wins.
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE), D3D_OK);
  for (D3DFORMAT format : {D3DFMT_D16, D3DFMT_D24S8, D3DFMT_D32, D3DFMT_D32F_LOCKABLE}) {
    Ref<IDirect3DSurface9> depth;
    ASSERT_EQ(dev->CreateDepthStencilSurface(640, 480, format, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr), D3D_OK);
    ASSERT_EQ(dev->SetDepthStencilSurface(depth.get()), D3D_OK);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    Quad(0, 0, 100, 10, 0xFF0000FF, 0, 0, 1, 1, 0.5f);
    const TlVertex slant[4] = {{0, 0, 0, 1, 0xFFFF0000, 0, 0}, {100, 0, 1, 1, 0xFFFF0000, 0, 0},
                               {0, 10, 0, 1, 0xFFFF0000, 0, 0}, {100, 10, 1, 1, 0xFFFF0000, 0, 0}};
    DrawTl(D3DPT_TRIANGLESTRIP, 2, slant);
    const auto px = Screen();
    EXPECT_EQ(At(px, 40, 5), 0xFF0000u) << format;
    EXPECT_EQ(At(px, 60, 5), 0x0000FFu) << format;
  }
}

TEST_F(D3D9RasterPixel, ExactlyEqualDepthPassesOnlyTheInclusiveComparisons) {
  // Over a buffer cleared to the quad's own depth, and over the same slanted
  // quad drawn before, on every instruction set and depth format.
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE), D3D_OK);
  const TlVertex slant[4] = {{0, 0, 0.2f, 1, 0xFF0000FF, 0, 0}, {16, 0, 0.8f, 1, 0xFF0000FF, 0, 0},
                             {0, 16, 0.5f, 1, 0xFF0000FF, 0, 0}, {16, 16, 0.7f, 1, 0xFF0000FF, 0, 0}};
  const struct {
    DWORD func;
    bool passes;
  } cases[] = {{D3DCMP_LESS, false},    {D3DCMP_LESSEQUAL, true},    {D3DCMP_EQUAL, true},
               {D3DCMP_GREATER, false}, {D3DCMP_GREATEREQUAL, true}, {D3DCMP_NOTEQUAL, false}};
  for (const char* isa : {"scalar", "sse2", "avx2"}) {
    if (!platform::test::SetD3D9RasterIsa(isa)) continue;
    for (D3DFORMAT format : {D3DFMT_D16, D3DFMT_D24S8, D3DFMT_D32F_LOCKABLE}) {
      Ref<IDirect3DSurface9> depth;
      ASSERT_EQ(dev->CreateDepthStencilSurface(640, 480, format, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr),
                D3D_OK);
      ASSERT_EQ(dev->SetDepthStencilSurface(depth.get()), D3D_OK);
      for (bool slanted : {false, true})
        for (const auto& c : cases) {
          ASSERT_EQ(dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL), D3D_OK);
          ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, slanted ? 1.0f : 0.5f, 0), D3D_OK);
          if (slanted) DrawTl(D3DPT_TRIANGLESTRIP, 2, slant);
          ASSERT_EQ(dev->SetRenderState(D3DRS_ZFUNC, c.func), D3D_OK);
          TlVertex again[4];
          std::copy(std::begin(slant), std::end(slant), again);
          for (TlVertex& v : again) {
            v.color = 0xFFFF0000;
            if (!slanted) v.z = 0.5f;
          }
          DrawTl(D3DPT_TRIANGLESTRIP, 2, again);
          const auto px = Screen();
          for (int at : {0, 7, 15})
            EXPECT_EQ(At(px, at, at), c.passes ? 0xFF0000u : slanted ? 0x0000FFu : 0u)
                << isa << " format " << format << (slanted ? " slanted" : " flat") << " func " << c.func;
        }
    }
  }
}

TEST_F(D3D9RasterPixel, CombinerOperationsInClosedForm) {
  auto tex = Texture(1, 1, {0x80604020});
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_TEXTUREFACTOR, 0x40A0C0E0), D3D_OK);
  Ref<IDirect3DSurface9> level;
  auto rt = Target(4, 4, level);
  const std::uint32_t t = 0x80604020, d = 0xC0303030, f = 0x40A0C0E0;
  auto per = [](std::uint32_t a, std::uint32_t b, auto fn) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8)
      out |= std::uint32_t(std::clamp(fn(int(Channel(a, shift)), int(Channel(b, shift))), 0, 255)) << shift;
    return out;
  };
  auto mod = [](int a, int b) { return (a * b + 127) / 255; };
  struct Case {
    DWORD op, arg1, arg2;
    std::uint32_t expected;
  } cases[] = {
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, per(t, d, mod)},
      {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, per(t, d, [&](int a, int b) { return 2 * mod(a, b); })},
      {D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE, per(t, d, [&](int a, int b) { return 4 * mod(a, b); })},
      {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR, per(t, f, [](int a, int b) { return a + b; })},
      {D3DTOP_ADDSIGNED, D3DTA_TEXTURE, D3DTA_TFACTOR, per(t, f, [](int a, int b) { return a + b - 128; })},
      {D3DTOP_SUBTRACT, D3DTA_TFACTOR, D3DTA_TEXTURE, per(f, t, [](int a, int b) { return a - b; })},
      {D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR, f},
      {D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_TFACTOR, ~t},
      {D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_TFACTOR, 0x80808080u},
      {D3DTOP_BLENDTEXTUREALPHA, D3DTA_TFACTOR, D3DTA_DIFFUSE,
       per(f, d, [](int a, int b) { return (a * 0x80 + b * 0x7F + 127) / 255; })},
      {D3DTOP_BLENDDIFFUSEALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR,
       per(t, f, [](int a, int b) { return (a * 0xC0 + b * 0x3F + 127) / 255; })},
  };
  for (const Case& c : cases) {
    Stage0(c.op, c.arg1, c.arg2, c.op, c.arg1, c.arg2);
    Clear(0);
    Quad(0, 0, 4, 4, d);
    EXPECT_EQ(At(ReadBack(level.get()), 2, 2, 4), c.expected) << "op " << c.op;
  }
  // Two stages: the second modulates the first's result by the factor; specular adds.
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE), D3D_OK);
  Clear(0);
  Quad(0, 0, 4, 4, d);
  EXPECT_EQ(At(ReadBack(level.get()), 2, 2, 4), (t & 0xFF000000u) | (per(t, f, mod) & 0xFFFFFF));
}

TEST_F(D3D9RasterPixel, MipLevelsFollowTheScale) {
  // Level i of a 64 x 64 chain is filled with colour i.
  Ref<IDirect3DTexture9> tex;
  ASSERT_EQ(dev->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
  ASSERT_EQ(tex->GetLevelCount(), 7u);
  for (UINT l = 0; l < 7; ++l) {
    const UINT size = 64 >> l;
    std::vector<std::uint32_t> texels(size * size, 0xFF000000u | (l * 40));
    Fill(tex.get(), l, texels.data(), size * 4, size);
  }
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  auto blueAt = [&](float size, DWORD mip) {
    Filters(D3DTEXF_LINEAR, D3DTEXF_LINEAR, mip);
    Clear(0);
    Quad(0, 0, size, size, ~0u);
    return int(At(Screen(), 0, 0) & 0xFF);
  };
  EXPECT_EQ(blueAt(16, D3DTEXF_POINT), 80);  // 4 texels per pixel: level 2
  EXPECT_EQ(blueAt(16, D3DTEXF_NONE), 0);    // the finest level only
  EXPECT_EQ(blueAt(128, D3DTEXF_POINT), 0);  // magnified
  // Between levels the point filter takes the nearer one.
  EXPECT_EQ(blueAt(24, D3DTEXF_POINT), 40);  // lambda = log2(64 / 24) = 1.415
  EXPECT_EQ(blueAt(21, D3DTEXF_POINT), 80);  // lambda = log2(64 / 21) = 1.608
  // 64 texels over 24 pixels: lambda = log2(8 / 3) = 1.415, blending levels 1 and 2.
  const int blend = blueAt(24, D3DTEXF_LINEAR);
  EXPECT_GE(blend, 40 + 16);
  EXPECT_LE(blend, 40 + 17);
  // A level-of-detail bias moves the choice; MAXMIPLEVEL bounds the finest.
  const float bias = 1.0f;
  DWORD bits;
  std::memcpy(&bits, &bias, 4);
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, bits), D3D_OK);
  EXPECT_EQ(blueAt(16, D3DTEXF_POINT), 120);
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, 0), D3D_OK);
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 3), D3D_OK);
  EXPECT_EQ(blueAt(128, D3DTEXF_POINT), 120);
}

TEST_F(D3D9RasterPixel, RenderTargetsDrawnIntoThenSampled) {
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetRenderTarget(0, &back), D3D_OK);
  Ref<IDirect3DSurface9> level;
  auto rt = Target(32, 32, level);
  Clear(0x80102030);
  Quad(8, 8, 24, 24, 0xFFF0E0D0);
  ASSERT_EQ(dev->SetRenderTarget(0, back.get()), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, rt.get()), D3D_OK);
  Filters(D3DTEXF_POINT, D3DTEXF_POINT);
  Stage0(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
  Clear(0);
  Quad(100, 100, 132, 132, ~0u);
  auto px = Screen();
  EXPECT_EQ(At(px, 100, 100), 0x102030u);
  EXPECT_EQ(At(px, 108, 108), 0xF0E0D0u);
  EXPECT_EQ(At(px, 123, 123), 0xF0E0D0u);
  EXPECT_EQ(At(px, 124, 124), 0x102030u);
  // Drawn again, sampled again: the new contents show.
  ASSERT_EQ(dev->SetTexture(0, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, level.get()), D3D_OK);
  Quad(0, 0, 32, 32, 0xFF00FF00);
  ASSERT_EQ(dev->SetRenderTarget(0, back.get()), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, rt.get()), D3D_OK);
  Quad(100, 100, 132, 132, ~0u);
  EXPECT_EQ(At(Screen(), 110, 110), 0x00FF00u);
}

}  // namespace

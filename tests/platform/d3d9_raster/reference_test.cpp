// Random triangles (affine and perspective) and states through the pipeline
// and through the independent reference of reference.h: identical coverage,
// colours within one step of what the reference allows.
#include <random>

#include "tests/platform/d3d9_raster/raster_fixture.h"
#include "tests/platform/d3d9_raster/reference.h"

namespace {

using rastertest::Ref;
using rastertest::TlVertex;

constexpr int kSize = 64;

class D3D9RasterReference : public rastertest::RasterTest {
 protected:
  std::mt19937 rng{2024};
  int Below(int n) { return int(rng() % unsigned(n)); }
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
  template <class T, std::size_t N>
  T Pick(const T (&options)[N]) {
    return options[Below(int(N))];
  }

  reference::State RandomState() {
    reference::State st;
    if (Below(5)) {
      const int sizes[] = {1, 2, 4, 5, 8, 13, 16};
      st.width = Pick(sizes);
      st.height = Pick(sizes);
      st.texels.resize(std::size_t(st.width) * st.height);
      for (auto& t : st.texels) t = rng();
      st.linear = Below(2);
      const DWORD modes[] = {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP, D3DTADDRESS_BORDER,
                             D3DTADDRESS_MIRRORONCE};
      st.addrU = Pick(modes);
      st.addrV = Pick(modes);
      st.border = rng();
    }
    const DWORD ops[] = {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2,  D3DTOP_MODULATE,          D3DTOP_ADD,
                         D3DTOP_SUBTRACT,   D3DTOP_ADDSIGNED, D3DTOP_BLENDTEXTUREALPHA, D3DTOP_BLENDDIFFUSEALPHA};
    auto arg = [&] {
      const DWORD args[] = {D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTA_TFACTOR};
      DWORD a = Pick(args);
      if (!Below(6)) a |= D3DTA_COMPLEMENT;
      if (!Below(6)) a |= D3DTA_ALPHAREPLICATE;
      return a;
    };
    st.colorOp = Pick(ops);
    st.colorArg1 = arg();
    st.colorArg2 = arg();
    st.alphaOp = Pick(ops);
    st.alphaArg1 = arg();
    st.alphaArg2 = arg();
    st.tfactor = rng();
    if (!Below(3)) {
      st.alphaTest = true;
      st.alphaFunc = DWORD(1 + Below(8));
      st.alphaRef = rng() & 0x1FF;
    }
    if (Below(3)) {
      // Factors of the source's own colour would double a one-step difference
      // of the source; pixel_test.cpp checks them in closed form.
      const DWORD factors[] = {D3DBLEND_ZERO,        D3DBLEND_ONE,        D3DBLEND_SRCALPHA,
                               D3DBLEND_INVSRCALPHA, D3DBLEND_DESTALPHA,  D3DBLEND_INVDESTALPHA,
                               D3DBLEND_DESTCOLOR,   D3DBLEND_INVDESTCOLOR};
      st.blend = true;
      const bool common = Below(2);  // the game's pair half of the time
      st.srcBlend = common ? D3DBLEND_SRCALPHA : Pick(factors);
      st.dstBlend = common ? D3DBLEND_INVSRCALPHA : Pick(factors);
      st.blendOp = common ? D3DBLENDOP_ADD : DWORD(1 + Below(5));
    }
    return st;
  }

  void Apply(const reference::State& st, IDirect3DTexture9* tex) {
    ASSERT_EQ(dev->SetTexture(0, tex), D3D_OK);
    const DWORD filter = st.linear ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MAGFILTER, filter), D3D_OK);
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MINFILTER, filter), D3D_OK);
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_ADDRESSU, st.addrU), D3D_OK);
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_ADDRESSV, st.addrV), D3D_OK);
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_BORDERCOLOR, st.border), D3D_OK);
    const std::pair<D3DTEXTURESTAGESTATETYPE, DWORD> stage[] = {
        {D3DTSS_COLOROP, st.colorOp},   {D3DTSS_COLORARG1, st.colorArg1}, {D3DTSS_COLORARG2, st.colorArg2},
        {D3DTSS_ALPHAOP, st.alphaOp},   {D3DTSS_ALPHAARG1, st.alphaArg1}, {D3DTSS_ALPHAARG2, st.alphaArg2}};
    for (const auto& [type, value] : stage) ASSERT_EQ(dev->SetTextureStageState(0, type, value), D3D_OK);
    const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
        {D3DRS_TEXTUREFACTOR, st.tfactor}, {D3DRS_ALPHATESTENABLE, st.alphaTest}, {D3DRS_ALPHAFUNC, st.alphaFunc},
        {D3DRS_ALPHAREF, st.alphaRef},     {D3DRS_ALPHABLENDENABLE, st.blend},    {D3DRS_SRCBLEND, st.srcBlend},
        {D3DRS_DESTBLEND, st.dstBlend},    {D3DRS_BLENDOP, st.blendOp}};
    for (const auto& [type, value] : states) ASSERT_EQ(dev->SetRenderState(type, value), D3D_OK);
  }
};

TEST_F(D3D9RasterReference, RandomTrianglesMatchTheReference) {
  Ref<IDirect3DTexture9> rt;
  ASSERT_EQ(dev->CreateTexture(kSize, kSize, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &rt, nullptr),
            D3D_OK);
  Ref<IDirect3DSurface9> level(Level(rt.get()));
  ASSERT_EQ(dev->SetRenderTarget(0, level.get()), D3D_OK);
  int covered = 0, checked = 0, worst = 0;
  for (int trial = 0; trial < 150; ++trial) {
    reference::Vertex v[3];
    const bool constant = Below(2);
    const std::uint32_t colour = rng();
    for (auto& p : v) p = {Uniform(-8, kSize + 8), Uniform(-8, kSize + 8), constant ? colour : std::uint32_t(rng()),
                           Uniform(-1.5, 2.5), Uniform(-1.5, 2.5)};
    // A third of the triangles in perspective (different w at each vertex).
    const bool perspective = !Below(3);
    TlVertex tl[3];
    for (int k = 0; k < 3; ++k)
      tl[k] = {float(v[k].x), float(v[k].y), 0.0f, perspective ? float(Uniform(0.25, 4.0)) : 1.0f, v[k].color,
               float(v[k].u), float(v[k].v)};
    // The reference sees the coordinates the device was given.
    for (int k = 0; k < 3; ++k) v[k] = {tl[k].x, tl[k].y, tl[k].color, tl[k].u, tl[k].v, tl[k].rhw};

    // Coverage: the bare triangle in white on black.
    reference::State bare;
    bare.colorOp = bare.alphaOp = D3DTOP_SELECTARG1;
    bare.colorArg1 = bare.alphaArg1 = D3DTA_TFACTOR;
    Apply(bare, nullptr);
    ASSERT_EQ(dev->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF), D3D_OK);
    Clear(0);
    DrawTl(D3DPT_TRIANGLELIST, 1, tl);
    auto px = ReadBack(level.get());
    for (int j = 0; j < kSize; ++j)
      for (int i = 0; i < kSize; ++i) {
        const bool inside = reference::Covers(v, i, j);
        covered += inside;
        ASSERT_EQ(px[std::size_t(j) * kSize + i] != 0, inside) << "trial " << trial << " pixel " << i << "," << j;
      }

    // Colours: the random state over a random background.
    const reference::State st = RandomState();
    Ref<IDirect3DTexture9> tex;
    if (!st.texels.empty()) tex = Texture(UINT(st.width), UINT(st.height), st.texels);
    Apply(st, tex.get());
    const std::uint32_t background = rng();
    Clear(background);
    DrawTl(D3DPT_TRIANGLELIST, 1, tl);
    px = ReadBack(level.get());
    for (int j = 0; j < kSize; ++j)
      for (int i = 0; i < kSize; ++i) {
        const std::uint32_t got = px[std::size_t(j) * kSize + i];
        if (!reference::Covers(v, i, j)) {
          ASSERT_EQ(got, background) << "trial " << trial;
          continue;
        }
        // What the reference allows: texture coordinates moved by up to 1/256
        // texel and colours by a hair, for rounding at boundaries; the alpha
        // test decides only where every alpha within one step agrees.
        reference::State untested = st;
        untested.alphaTest = false;
        int lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
        const double du = st.width ? 1.0 / (256.0 * st.width) : 0, dv = st.height ? 1.0 / (256.0 * st.height) : 0;
        for (int corner = 0; corner < 15; ++corner) {
          const double su = corner >= 12 ? 0 : corner & 1 ? du : -du, sv = corner >= 12 ? 0 : corner & 2 ? dv : -dv;
          const double dc = ((corner >= 12 ? corner - 12 : corner / 4) - 1) * 0.02;
          const std::uint32_t r = *reference::Shade(untested, v, i, j, background, su, sv, dc);
          for (int c = 0; c < 4; ++c) {
            lo[c] = std::min(lo[c], reference::Channel(r, c));
            hi[c] = std::max(hi[c], reference::Channel(r, c));
          }
        }
        bool pass = true, fail = true;
        if (st.alphaTest) {
          // Blending does not change the alpha tested: the source's, before it.
          untested.blend = false;
          int alo = 255, ahi = 0;
          for (int corner = 0; corner < 15; ++corner) {
            const double su = corner >= 12 ? 0 : corner & 1 ? du : -du, sv = corner >= 12 ? 0 : corner & 2 ? dv : -dv;
            const double dc = ((corner >= 12 ? corner - 12 : corner / 4) - 1) * 0.02;
            const int a = int(*reference::Shade(untested, v, i, j, background, su, sv, dc) >> 24);
            alo = std::min(alo, a);
            ahi = std::max(ahi, a);
          }
          for (int a = std::max(0, alo - 1); a <= std::min(255, ahi + 1); ++a) {
            const bool p = reference::Passes(st.alphaFunc, a, int(st.alphaRef & 0xFF));
            pass = pass && p;
            fail = fail && !p;
          }
        } else {
          fail = false;
        }
        if (fail) {
          ASSERT_EQ(got, background) << "trial " << trial << " drew a rejected pixel " << i << "," << j;
          continue;
        }
        if (!pass && got == background) continue;
        for (int c = 0; c < 4; ++c) {
          const int g = reference::Channel(got, c);
          const int off = g < lo[c] ? lo[c] - g : g > hi[c] ? g - hi[c] : 0;
          worst = std::max(worst, off);
          ASSERT_LE(off, 1) << "trial " << trial << " pixel " << i << "," << j << " channel " << c << ": " << g
                            << " not in [" << lo[c] << ", " << hi[c] << "]";
        }
        ++checked;
      }
  }
  EXPECT_GT(covered, 20000);  // the random triangles did cover something
  EXPECT_GT(checked, 10000);
  RecordProperty("worst", worst);
}

}  // namespace

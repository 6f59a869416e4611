// Pixels whose texels are all transparent may be skipped by the vector
// instruction sets; the scalar set never skips. Mostly transparent sprites
// drawn every way the game draws them (blends, write masks, filters, scales,
// mip levels, targets, depth) must give the same bytes either way.
#include <cmath>
#include <cstring>
#include <vector>

#include "d3d9/raster/raster.h"
#include "tests/platform/d3d9_raster/raster_fixture.h"

namespace {

namespace raster = platform::d3d9::raster;
using d3dtest::Ref;
using rastertest::TlVertex;

// A ring, a dot and a stroke on a clear background whose colour is not black,
// so that a pixel wrongly taken from it shows. Levels are 2x2 box averages.
Ref<IDirect3DTexture9> Sparse(IDirect3DDevice9* dev, UINT size, D3DFORMAT format) {
  Ref<IDirect3DTexture9> t;
  if (FAILED(dev->CreateTexture(size, size, 0, 0, format, D3DPOOL_MANAGED, &t, nullptr))) return {};
  std::vector<std::uint32_t> img(std::size_t(size) * size);
  for (UINT y = 0; y < size; ++y)
    for (UINT x = 0; x < size; ++x) {
      const double c = size / 2.0, r = std::hypot(x - c, y - c);
      std::uint32_t v = 0x00FF80C0u;
      if (std::fabs(r - size * 0.33) < 1.0) v = 0xFFF0E020u;
      if (std::hypot(x - size * 0.2, y - size * 0.8) < 3) v = 0x80208040u;
      if (x == y / 2 + 3 && y % 16 < 6) v = 0x40FFFFFFu;
      img[std::size_t(y) * size + x] = v;
    }
  for (UINT l = 0, w = size; l < t->GetLevelCount(); ++l, w /= 2) {
    D3DLOCKED_RECT lr;
    if (FAILED(t->LockRect(l, &lr, nullptr, 0))) return {};
    for (UINT y = 0; y < w; ++y)
      for (UINT x = 0; x < w; ++x) {
        const std::uint32_t v = img[std::size_t(y) * w + x];
        auto* row = static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch;
        if (format == D3DFMT_A8R8G8B8) {
          std::memcpy(row + 4 * x, &v, 4);
        } else {  // A4R4G4B4
          const std::uint16_t n =
              std::uint16_t((v >> 28) << 12 | (v >> 20 & 0xF) << 8 | (v >> 12 & 0xF) << 4 | (v >> 4 & 0xF));
          std::memcpy(row + 2 * x, &n, 2);
        }
      }
    t->UnlockRect(l);
    std::vector<std::uint32_t> next(std::size_t(w / 2) * (w / 2));
    for (UINT y = 0; y < w / 2; ++y)
      for (UINT x = 0; x < w / 2; ++x)
        for (int shift = 0; shift < 32; shift += 8) {
          unsigned sum = 0;
          for (UINT k = 0; k < 4; ++k) sum += img[std::size_t(2 * y + k / 2) * w + 2 * x + k % 2] >> shift & 0xFF;
          next[std::size_t(y) * (w / 2) + x] |= ((sum + 2) / 4) << shift;
        }
    img.swap(next);
  }
  return t;
}

// One sprite as a pre-transformed strip: `w` x `h` pixels at (x, y) turned
// by `angle` about its corner, the whole texture over it, corner colours
// c[0..3] and depths from z to z + dz across it.
void Sprite(IDirect3DDevice9* dev, float x, float y, float w, float h, float angle, const DWORD c[4], float z,
            float dz) {
  const float cs = std::cos(angle), sn = std::sin(angle);
  auto at = [&](float px, float py, DWORD colour, float u, float v, float depth) {
    return TlVertex{x + px * cs - py * sn, y + px * sn + py * cs, depth, 1, colour, u, v};
  };
  const TlVertex q[4] = {at(0, 0, c[0], 0, 0, z), at(w, 0, c[1], 1, 0, z + dz), at(0, h, c[2], 0, 1, z + dz),
                         at(w, h, c[3], 1, 1, z + dz)};
  dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TlVertex));
}

class D3D9RasterSkip : public rastertest::RasterTest {
 protected:
  // Every combination onto the back buffer (X8R8G8B8) and onto an A8R8G8B8
  // target with its own depth surface, through one instruction set; returns
  // both targets' texels and counts the pixels skipped.
  std::vector<std::uint32_t> DrawScene(const char* isa, std::uint64_t* skipped) {
    EXPECT_TRUE(platform::test::SetD3D9RasterIsa(isa)) << isa;
    Ref<IDirect3DTexture9> tex[2] = {Sparse(dev, 256, D3DFMT_A8R8G8B8), Sparse(dev, 128, D3DFMT_A4R4G4B4)};
    Ref<IDirect3DTexture9> target;
    Ref<IDirect3DSurface9> depth, back, backDepth;
    EXPECT_EQ(
        dev->CreateTexture(256, 256, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
        D3D_OK);
    Ref<IDirect3DSurface9> level(Level(target.get()));
    EXPECT_EQ(dev->CreateDepthStencilSurface(256, 256, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr),
              D3D_OK);
    EXPECT_EQ(dev->GetRenderTarget(0, &back), D3D_OK);
    EXPECT_EQ(dev->GetDepthStencilSurface(&backDepth), D3D_OK);
    const auto before = platform::test::D3D9RasterCounters();
    dev->SetFVF(0x144);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    for (int pass = 0; pass < 2; ++pass) {
      dev->SetRenderTarget(0, pass ? level.get() : back.get());
      dev->SetDepthStencilSurface(pass ? depth.get() : backDepth.get());
      dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x80203040, 1.0f, 0);
      dev->BeginScene();
      int n = 0;
      const DWORD blends[][2] = {
          {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA}, {D3DBLEND_SRCALPHA, D3DBLEND_ONE}, {D3DBLEND_ONE, D3DBLEND_ZERO}};
      for (const auto& blend : blends)
        for (DWORD mask : {0xFu, 7u})
          for (int kind = 0; kind < 18; ++kind, ++n) {
            dev->SetRenderState(D3DRS_SRCBLEND, blend[0]);
            dev->SetRenderState(D3DRS_DESTBLEND, blend[1]);
            dev->SetRenderState(D3DRS_COLORWRITEENABLE, mask);
            dev->SetRenderState(D3DRS_ZENABLE, n % 3 != 0);
            dev->SetRenderState(D3DRS_ALPHATESTENABLE, kind % 9 == 8);
            dev->SetRenderState(D3DRS_ALPHAREF, 8);
            dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
            dev->SetTexture(0, tex[kind / 9].get());
            const DWORD address = kind % 9 == 6 ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP;
            dev->SetSamplerState(0, D3DSAMP_ADDRESSU, address);
            dev->SetSamplerState(0, D3DSAMP_ADDRESSV, address);
            const DWORD filter = kind % 9 == 2 ? D3DTEXF_POINT : D3DTEXF_LINEAR;
            for (D3DSAMPLERSTATETYPE s : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER})
              dev->SetSamplerState(0, s, filter);
            const float size = kind < 9 ? 256.0f : 128.0f;
            // 1:1 at texel centres, at texel corners, point, three quarters
            // (two levels), a half, magnified, wrapped past the edges, turned.
            const float scale[] = {1, 1, 1, 0.75f, 0.5f, 1.5f, 1, 1, 1};
            const float offset = kind % 9 == 1 ? 0.0f : -0.5f;
            const float x = float((n * 37) % 200) - (kind % 9 == 6 ? 40.0f : 0.0f) + offset;
            const float y = float((n * 23) % 150) - (kind % 9 == 6 ? 30.0f : 0.0f) + offset;
            const DWORD white[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
            const DWORD tinted[4] = {0xC0FF8040, 0xC0FF8040, 0xC0FF8040, 0xC0FF8040};
            const DWORD shaded[4] = {0xFFFF0000, 0x8000FF00, 0x400000FF, 0xFFFFFFFF};
            const DWORD* colour = n % 3 == 0 ? white : n % 3 == 1 ? tinted : shaded;
            Sprite(dev, x, y, size * scale[kind % 9], size * scale[kind % 9], kind % 9 == 7 ? 0.4f : 0.0f, colour,
                   0.1f * (n % 5), n % 4 == 0 ? 0.3f : 0.0f);
          }
      dev->EndScene();
    }
    *skipped = platform::test::D3D9RasterCounters().skipped - before.skipped;
    std::vector<std::uint32_t> out = ReadBack(back.get());
    const std::vector<std::uint32_t> second = ReadBack(level.get());
    out.insert(out.end(), second.begin(), second.end());
    dev->SetRenderTarget(0, back.get());
    dev->SetDepthStencilSurface(backDepth.get());
    dev->SetTexture(0, nullptr);
    return out;
  }
};

TEST_F(D3D9RasterSkip, TransparentRunsAreSkippedWithoutChangingAByte) {
  std::uint64_t skipped = 0;
  const std::vector<std::uint32_t> reference = DrawScene("scalar", &skipped);
  EXPECT_EQ(skipped, 0u);
  std::vector<const char*> isas{"sse2"};
  if (raster::IsaSupported(raster::Isa::Avx2)) isas.push_back("avx2");
  for (const char* isa : isas) {
    const std::vector<std::uint32_t> frame = DrawScene(isa, &skipped);
    EXPECT_GT(skipped, 50000u) << isa;
    ASSERT_EQ(frame.size(), reference.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) differ += frame[i] != reference[i];
    EXPECT_EQ(differ, 0u) << isa;
  }
}

}  // namespace

// Normal maps from height maps on the headless device, checked against the
// normals of height fields whose slopes are known: flat maps, ramps and a pit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "gxl/tex/texture_fill.h"
#include "platform/testing_d3d9.h"
#include "tex_test_device.h"

namespace {

using textest::Ref;

using Height = std::function<float(UINT x, UINT y)>;

class GxlNormalMap : public textest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  }

  Ref<IDirect3DTexture9> Texture(UINT w, UINT h, D3DFORMAT format, UINT levels = 1) {
    Ref<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(w, h, levels, 0, format, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    return t;
  }

  // A float height map: the height in the given component (0 red .. 3 alpha),
  // `other` in the rest.
  Ref<IDirect3DTexture9> Heights(UINT w, UINT h, const Height& height, int component = 0, float other = 0.25f) {
    auto t = Texture(w, h, D3DFMT_A32B32G32R32F);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<float*>(static_cast<std::uint8_t*>(lr.pBits) + std::size_t{y} * lr.Pitch);
      for (UINT x = 0; x < w; ++x)
        for (int c = 0; c < 4; ++c) row[4 * x + c] = c == component ? height(x, y) : other;
    }
    t->UnlockRect(0);
    return t;
  }

  // Texel (x, y) of a float texture.
  std::vector<float> Texel(IDirect3DTexture9* t, UINT x, UINT y) {
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<float> v(4);
    std::memcpy(v.data(), static_cast<std::uint8_t*>(lr.pBits) + std::size_t{y} * lr.Pitch + 16 * x, 16);
    t->UnlockRect(0);
    return v;
  }

  // The normal map of `source` in a new float texture.
  Ref<IDirect3DTexture9> Normals(IDirect3DTexture9* source, DWORD flags, DWORD channel, float amplitude,
                                 HRESULT want = D3D_OK) {
    D3DSURFACE_DESC d{};
    EXPECT_EQ(source->GetLevelDesc(0, &d), D3D_OK);
    auto out = Texture(d.Width, d.Height, D3DFMT_A32B32G32R32F);
    EXPECT_EQ(GXLBuildNormalMap(out.get(), source, nullptr, flags, channel, amplitude), want);
    return out;
  }
};

// Within 2e-6: the SSE bodies of the normalisation refine the processor's
// reciprocal square root estimate, which differs between processors (a unit
// vector may come out one ulp short).
void ExpectNormal(const std::vector<float>& texel, float x, float y, float z, const char* what, UINT at) {
  const float length = std::sqrt(x * x + y * y + z * z);
  EXPECT_NEAR(texel[0], x / length, 2e-6f) << what << " at " << at;
  EXPECT_NEAR(texel[1], y / length, 2e-6f) << what << " at " << at;
  EXPECT_NEAR(texel[2], z / length, 2e-6f) << what << " at " << at;
}

// Straight up, occlusion 1.
void ExpectUp(const std::vector<float>& texel, UINT what) {
  ExpectNormal(texel, 0, 0, 1, "up", what);
  EXPECT_EQ(texel[3], 1.0f) << what;
}

constexpr DWORD kU = NormalMapFlags::MirrorU, kV = NormalMapFlags::MirrorV;

TEST_F(GxlNormalMap, FlatMapsPointStraightUpUnderEveryFlag) {
  auto flat = Heights(4, 3, [](UINT, UINT) { return 0.7f; });
  for (DWORD flags : {0u, kU, kV, kU | kV, 0xFFFFFFFFu, NormalMapFlags::Occlusion}) {
    auto n = Normals(flat.get(), flags, HeightChannel::Red, 5.0f);
    for (UINT y = 0; y < 3; ++y)
      for (UINT x = 0; x < 4; ++x) ExpectUp(Texel(n.get(), x, y), flags);
  }
  // Unsigned formats store (n + 1) / 2; inverted, 0.5 - n / 2.
  struct Case {
    D3DFORMAT format;
    DWORD flags;
    std::uint32_t want;
  } cases[] = {{D3DFMT_A8R8G8B8, 0, 0xFF8080FF}, {D3DFMT_A8R8G8B8, NormalMapFlags::InvertSign, 0xFF808000}};
  for (const Case& c : cases) {
    auto n = Texture(4, 3, c.format);
    ASSERT_EQ(GXLBuildNormalMap(n.get(), flat.get(), nullptr, c.flags, HeightChannel::Red, 1.0f), D3D_OK);
    Ref<IDirect3DSurface9> s;
    ASSERT_EQ(n->GetSurfaceLevel(0, &s), D3D_OK);
    // 0.5 lands on 127 or 128 by the ordered dither.
    for (std::uint32_t texel : Read32(s.get())) {
      EXPECT_EQ(texel & 0xFF0000FF, c.want & 0xFF0000FF) << std::hex << texel;
      EXPECT_NEAR(static_cast<int>(texel >> 16 & 0xFF), 0x80, 1);
      EXPECT_NEAR(static_cast<int>(texel >> 8 & 0xFF), 0x80, 1);
    }
  }
}

TEST_F(GxlNormalMap, RampsGiveTheirSlopeInsideAndAtMirroredEdges) {
  const float a = 0.1f, amp = 2.0f;
  // h = a x: every column sees the slope when u is mirrored.
  auto across = Heights(6, 4, [&](UINT x, UINT) { return a * x; });
  auto n = Normals(across.get(), kU, HeightChannel::Red, amp);
  for (UINT x = 0; x < 6; ++x)
    for (UINT y = 0; y < 4; ++y) ExpectNormal(Texel(n.get(), x, y), -a * amp, 0, 1, "mirrored ramp in x", x);
  // Without the mirror the edges wrap: column 0 sees h(5) on its left and
  // column 5 sees h(0) on its right.
  n = Normals(across.get(), 0, HeightChannel::Red, amp);
  ExpectNormal(Texel(n.get(), 2, 1), -a * amp, 0, 1, "wrapped ramp inside", 2);
  ExpectNormal(Texel(n.get(), 0, 1), (5 * a - a) / 2 * amp, 0, 1, "wrapped ramp at the left edge", 0);
  ExpectNormal(Texel(n.get(), 5, 1), (4 * a - 0) / 2 * amp, 0, 1, "wrapped ramp at the right edge", 5);

  // h = a y read from green: rows down the image.
  auto down = Heights(
      3, 5, [&](UINT, UINT y) { return a * y; }, 1);
  n = Normals(down.get(), kV | kU, HeightChannel::Green, amp);
  for (UINT y = 0; y < 5; ++y)
    for (UINT x = 0; x < 3; ++x) ExpectNormal(Texel(n.get(), x, y), 0, -a * amp, 1, "mirrored ramp in y", y);
  // The red channel of the same texture is flat.
  n = Normals(down.get(), 0, HeightChannel::Red, amp);
  ExpectNormal(Texel(n.get(), 1, 2), 0, 0, 1, "flat red", 2);
}

TEST_F(GxlNormalMap, OneTexelMirroredLinesHaveNoSlope) {
  struct Case {
    UINT w, h;
    DWORD flags;
  } cases[] = {{1, 4, kU}, {4, 1, kV}, {1, 1, kU | kV}};
  for (const Case& c : cases) {
    auto heights = Heights(c.w, c.h, [](UINT x, UINT y) { return 0.3f * x + 0.2f * y; });
    auto n = Normals(heights.get(), c.flags, HeightChannel::Red, 3.0f);
    for (UINT y = 0; y < c.h; ++y)
      for (UINT x = 0; x < c.w; ++x) ExpectUp(Texel(n.get(), x, y), c.w * 10 + c.h);
  }
}

TEST_F(GxlNormalMap, HeightChannels) {
  const ColorF texel(0.1f, 0.2f, 0.3f, 0.4f);
  struct Case {
    DWORD channel;
    float want;
  } cases[] = {{1, 0.1f}, {2, 0.3f}, {4, 0.2f}, {8, 0.4f}, {16, 0.2125f * 0.1f + 0.7154f * 0.2f + 0.0721f * 0.3f},
               {3, 0.0f}, {0, 0.0f}, {32, 0.0f}};
  for (const Case& c : cases) EXPECT_FLOAT_EQ(SelectHeightChannel(texel, c.channel), c.want) << c.channel;
  EXPECT_FLOAT_EQ(SelectHeightChannel(ColorF(1, 0, 0, 1), HeightChannel::Luminance), 0.2125f);
}

TEST_F(GxlNormalMap, OcclusionOfAPit) {
  // A 3 x 3 torus: the centre lies 1 below its eight neighbours; every other
  // texel has the pit among its neighbours and nothing above it.
  auto pit = Heights(3, 3, [](UINT x, UINT y) { return x == 1 && y == 1 ? 0.0f : 1.0f; });
  auto n = Normals(pit.get(), NormalMapFlags::Occlusion, HeightChannel::Red, 1.0f);
  const float s = 8 * 1.0f * 0.125f;
  EXPECT_NEAR(Texel(n.get(), 1, 1)[3], (std::sqrt(s * s + 1) - s) / std::sqrt(s * s + 1), 1e-6f);
  EXPECT_EQ(Texel(n.get(), 0, 0)[3], 1.0f);
  EXPECT_EQ(Texel(n.get(), 2, 1)[3], 1.0f);
  // Without the flag alpha is 1 everywhere.
  n = Normals(pit.get(), 0, HeightChannel::Red, 1.0f);
  EXPECT_EQ(Texel(n.get(), 1, 1)[3], 1.0f);
}

TEST_F(GxlNormalMap, SignedAndInvertedOutputs) {
  auto ramp = Heights(4, 4, [](UINT x, UINT) { return 0.25f * x; });
  auto n = Normals(ramp.get(), kU | NormalMapFlags::InvertSign, HeightChannel::Red, 1.0f);
  ExpectNormal(Texel(n.get(), 1, 1), 0.25f, 0, -1, "inverted float", 1);
  // A signed format stores n itself: Q8W8V8U8 holds x, y, z in U, V, W.
  auto q = Texture(4, 4, D3DFMT_Q8W8V8U8);
  ASSERT_EQ(GXLBuildNormalMap(q.get(), ramp.get(), nullptr, kU, HeightChannel::Red, 1.0f), D3D_OK);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(q->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  std::int8_t texel[4];
  std::memcpy(texel, static_cast<std::uint8_t*>(lr.pBits) + lr.Pitch + 4, 4);
  q->UnlockRect(0);
  const float len = std::sqrt(0.25f * 0.25f + 1);
  EXPECT_NEAR(texel[0], -0.25f / len * 127, 1.0);
  EXPECT_NEAR(texel[1], 0, 1.0);
  EXPECT_NEAR(texel[2], 1 / len * 127, 1.0);
}

TEST_F(GxlNormalMap, InPlaceMatchesASeparateDestination) {
  auto heights = Heights(5, 4, [](UINT x, UINT y) { return std::sin(1.3f * x) * std::cos(0.7f * y); });
  auto separate = Normals(heights.get(), NormalMapFlags::Occlusion, HeightChannel::Red, 1.5f);
  ASSERT_EQ(
      GXLBuildNormalMap(heights.get(), heights.get(), nullptr, NormalMapFlags::Occlusion, HeightChannel::Red, 1.5f),
      D3D_OK);
  for (UINT y = 0; y < 4; ++y)
    for (UINT x = 0; x < 5; ++x) EXPECT_EQ(Texel(heights.get(), x, y), Texel(separate.get(), x, y)) << x << ", " << y;
}

TEST_F(GxlNormalMap, EveryLevelIsBuilt) {
  auto source = Texture(4, 4, D3DFMT_A8R8G8B8, 3);
  auto out = Texture(4, 4, D3DFMT_A32B32G32R32F, 3);
  for (UINT level = 0; level < 3; ++level) {
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(source->LockRect(level, &lr, nullptr, 0), D3D_OK);
    const UINT size = 4 >> level;
    for (UINT y = 0; y < size; ++y)
      for (UINT x = 0; x < size; ++x)
        reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch)[x] =
            0xFF000000u | (x * 51) << 16;
    source->UnlockRect(level);
  }
  ASSERT_EQ(GXLBuildNormalMap(out.get(), source.get(), nullptr, kU, HeightChannel::Red, 1.0f), D3D_OK);
  for (UINT level = 0; level < 2; ++level) {
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(out->LockRect(level, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    float texel[4];
    std::memcpy(texel, lr.pBits, 16);
    out->UnlockRect(level);
    ExpectNormal({texel, texel + 4}, -0.2f, 0, 1, "level", level);
  }
}

TEST_F(GxlNormalMap, RefusesWhatItCannotBuild) {
  auto h = Heights(4, 4, [](UINT, UINT) { return 0.0f; });
  auto n = Texture(4, 4, D3DFMT_A8R8G8B8);
  auto big = Texture(64, 64, D3DFMT_A8R8G8B8);
  auto small = Heights(32, 32, [](UINT, UINT) { return 0.0f; });
  auto levels = Texture(4, 4, D3DFMT_A8R8G8B8, 2);
  auto uv = Texture(4, 4, D3DFMT_V8U8);
  auto a8 = Texture(4, 4, D3DFMT_A8);
  auto l8 = Texture(4, 4, D3DFMT_L8);
  auto q8 = Texture(4, 4, D3DFMT_Q8W8V8U8);
  struct Case {
    const char* what;
    IDirect3DTexture9 *destination, *source;
    DWORD flags, channel;
    HRESULT want;
  } cases[] = {
      {"no destination", nullptr, h.get(), 0, 1, D3DERR_INVALIDCALL},
      {"no source", n.get(), nullptr, 0, 1, D3DERR_INVALIDCALL},
      {"flag 0x40000", n.get(), h.get(), 0x40000, 1, D3DERR_INVALIDCALL},
      {"flag 1", n.get(), h.get(), 1, 1, D3DERR_INVALIDCALL},
      {"channel 3", n.get(), h.get(), 0, 3, D3DERR_INVALIDCALL},
      {"channel 0", n.get(), h.get(), 0, 0, D3DERR_INVALIDCALL},
      {"64 x 64 from 32 x 32", big.get(), small.get(), 0, 1, D3DERR_INVALIDCALL},
      {"two levels from one", levels.get(), h.get(), 0, 1, D3DERR_INVALIDCALL},
      {"into V8U8 (no W)", uv.get(), h.get(), 0, 1, D3DERR_INVALIDCALL},
      {"into A8", a8.get(), h.get(), 0, 1, D3DERR_INVALIDCALL},
      {"into L8", l8.get(), h.get(), 0, 1, D3DERR_INVALIDCALL},
      {"from a signed format", n.get(), q8.get(), 0, 1, D3DERR_INVALIDCALL},
      {"default flags and channel", n.get(), h.get(), 0xFFFFFFFF, 0xFFFFFFFF, D3D_OK},
      {"luminance from L8", n.get(), l8.get(), kU | kV, 16, D3D_OK},
      {"into Q8W8V8U8", q8.get(), h.get(), 0, 8, D3D_OK},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GXLBuildNormalMap(c.destination, c.source, nullptr, c.flags, c.channel, 1.0f), c.want) << c.what;
}

}  // namespace

// Sampling every stored format: each texel format decodes to the documented
// ARGB, drawn 1:1 with point sampling into an A8R8G8B8 target.
#include <cmath>

#include "tests/platform/d3d9_raster/raster_fixture.h"

namespace {

using rastertest::Ref;

class D3D9RasterFormats : public rastertest::RasterTest {
 protected:
  void SetUp() override {
    RasterTest::SetUp();
    ASSERT_EQ(dev->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &m_rt, nullptr),
              D3D_OK);
    *&m_level = Level(m_rt.get());
    ASSERT_EQ(dev->SetRenderTarget(0, m_level.get()), D3D_OK);
    for (D3DTEXTURESTAGESTATETYPE s : {D3DTSS_COLOROP, D3DTSS_ALPHAOP}) ASSERT_EQ(dev->SetTextureStageState(0, s, D3DTOP_SELECTARG1), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE), D3D_OK);
  }
  void TearDown() override {
    m_level.reset();
    m_rt.reset();
    RasterTest::TearDown();
  }

  // Draws a w x h texture of `format` holding `bytes` (tightly packed rows)
  // and returns the texels as drawn.
  std::vector<std::uint32_t> Decode(D3DFORMAT format, UINT w, UINT h, const std::vector<std::uint8_t>& bytes,
                                    UINT rowBytes, UINT rows) {
    Ref<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(w, h, 1, 0, format, D3DPOOL_MANAGED, &t, nullptr), D3D_OK) << format;
    if (!t) return {};
    Fill(t.get(), 0, bytes.data(), rowBytes, rows);
    EXPECT_EQ(dev->SetTexture(0, t.get()), D3D_OK);
    EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xDEADBEEF, 1.0f, 0), D3D_OK);
    Quad(0, 0, float(w), float(h), ~0u);
    EXPECT_EQ(dev->SetTexture(0, nullptr), D3D_OK);
    const auto px = ReadBack(m_level.get());
    std::vector<std::uint32_t> out;
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x) out.push_back(At(px, int(x), int(y), 16));
    return out;
  }
  std::vector<std::uint32_t> Plain(D3DFORMAT format, UINT bytesPerTexel, const std::vector<std::uint8_t>& bytes) {
    const UINT w = UINT(bytes.size() / bytesPerTexel);
    return Decode(format, w, 1, bytes, UINT(bytes.size()), 1);
  }

  Ref<IDirect3DTexture9> m_rt;
  Ref<IDirect3DSurface9> m_level;
};

TEST_F(D3D9RasterFormats, PackedColourFormats) {
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(Plain(D3DFMT_A8R8G8B8, 4, {0x44, 0x33, 0x22, 0x11}), (V{0x11223344}));
  EXPECT_EQ(Plain(D3DFMT_X8R8G8B8, 4, {0x44, 0x33, 0x22, 0x11}), (V{0xFF223344}));  // X reads 255
  EXPECT_EQ(Plain(D3DFMT_A8B8G8R8, 4, {0x44, 0x33, 0x22, 0x11}), (V{0x11443322}));
  EXPECT_EQ(Plain(D3DFMT_X8B8G8R8, 4, {0x44, 0x33, 0x22, 0x11}), (V{0xFF443322}));
  // 5 and 6 bits widen by replication: 0b10001 -> 0b10001100 = 0x8C.
  EXPECT_EQ(Plain(D3DFMT_R5G6B5, 2, {0x1F, 0xF8, 0x00, 0x00, 0x51, 0x8C}),
            (V{0xFFFF00FF, 0xFF000000, 0xFF8C8A8C}));  // 0x8C51: r 10001, g 100010, b 10001
  EXPECT_EQ(Plain(D3DFMT_X1R5G5B5, 2, {0x1F, 0x7C}), (V{0xFFFF00FF}));
  EXPECT_EQ(Plain(D3DFMT_A1R5G5B5, 2, {0x1F, 0x7C, 0x00, 0x80}), (V{0x00FF00FF, 0xFF000000}));
  // Nibbles times 17.
  EXPECT_EQ(Plain(D3DFMT_A4R4G4B4, 2, {0x5A, 0x3C}), (V{0x33CC55AA}));
  EXPECT_EQ(Plain(D3DFMT_X4R4G4B4, 2, {0x5A, 0x3C}), (V{0xFFCC55AA}));
}

TEST_F(D3D9RasterFormats, AlphaAndLuminanceFormats) {
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(Plain(D3DFMT_A8, 1, {0x7B, 0x00, 0xFF, 0x10}), (V{0x7B000000, 0x00000000, 0xFF000000, 0x10000000}));
  EXPECT_EQ(Plain(D3DFMT_L8, 1, {0x7B, 0x00, 0xFF, 0x10}), (V{0xFF7B7B7B, 0xFF000000, 0xFFFFFFFF, 0xFF101010}));
  EXPECT_EQ(Plain(D3DFMT_A8L8, 2, {0x40, 0xC0}), (V{0xC0404040}));
}

TEST_F(D3D9RasterFormats, WideFormats) {
  ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(Plain(D3DFMT_A4L4, 1, {0x5A}), (V{0x55AAAAAA}));
  EXPECT_EQ(Plain(D3DFMT_L16, 2, {0xFF, 0xFF, 0x80, 0x80}), (V{0xFFFFFFFF, 0xFF808080}));
  // R3G3B2 in A8R3G3B2: red 101 -> 10110110 = 0xB6, green 010 -> 0x49, blue 11 -> 0xFF.
  EXPECT_EQ(Plain(D3DFMT_A8R3G3B2, 2, {0xAB, 0x80}), (V{0x80B649FF}));
  // 10-bit channels: 1023 -> 255, 512 -> 128.
  const std::uint32_t abgr = 3u << 30 | 512u << 20 | 0u << 10 | 1023u;
  EXPECT_EQ(Plain(D3DFMT_A2B10G10R10, 4, {std::uint8_t(abgr), std::uint8_t(abgr >> 8), std::uint8_t(abgr >> 16),
                                          std::uint8_t(abgr >> 24)}),
            (V{0xFFFF0080}));
  EXPECT_EQ(Plain(D3DFMT_A2R10G10B10, 4, {std::uint8_t(abgr), std::uint8_t(abgr >> 8), std::uint8_t(abgr >> 16),
                                          std::uint8_t(abgr >> 24)}),
            (V{0xFF8000FF}));
  EXPECT_EQ(Plain(D3DFMT_G16R16, 4, {0xFF, 0xFF, 0x00, 0x00}), (V{0xFFFF00FF}));  // blue reads 1
  EXPECT_EQ(Plain(D3DFMT_A16B16G16R16, 8, {0, 0, 0xFF, 0xFF, 0x80, 0x80, 0xFF, 0xFF}), (V{0xFF00FF80}));
  // Floats: missing channels read 1; values clamp to [0, 1].
  auto f32 = [](float f) {
    std::uint8_t b[4];
    std::memcpy(b, &f, 4);
    return std::vector<std::uint8_t>(b, b + 4);
  };
  EXPECT_EQ(Plain(D3DFMT_R32F, 4, f32(0.5f)), (V{0xFF80FFFF}));
  std::vector<std::uint8_t> rgba;
  for (float f : {1.0f, -3.0f, 0.25f, 2.0f}) {
    const auto b = f32(f);
    rgba.insert(rgba.end(), b.begin(), b.end());
  }
  EXPECT_EQ(Plain(D3DFMT_A32B32G32R32F, 16, rgba), (V{0xFFFF0040}));
  // Half floats: 0x3800 is 0.5, 0x3C00 is 1.0.
  EXPECT_EQ(Plain(D3DFMT_R16F, 2, {0x00, 0x38}), (V{0xFF80FFFF}));
  EXPECT_EQ(Plain(D3DFMT_G16R16F, 4, {0x00, 0x3C, 0x00, 0x38}), (V{0xFFFF80FF}));
  EXPECT_EQ(Plain(D3DFMT_A16B16G16R16F, 8, {0x00, 0x00, 0x00, 0x3C, 0x00, 0x38, 0x00, 0x3C}), (V{0xFF00FF80}));
}

TEST_F(D3D9RasterFormats, DxtBlocks) {
  // Colour endpoints pure red (0xF800) and pure blue (0x001F); indices 0, 1, 2, 3 per row.
  const std::uint8_t colour[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
  const std::uint32_t four[4] = {0xFFFF0000, 0xFF0000FF, 0xFFAA0055, 0xFF5500AA};
  std::vector<std::uint8_t> block(colour, colour + 8);
  auto px = Decode(D3DFMT_DXT1, 4, 4, block, 8, 1);
  ASSERT_EQ(px.size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(px[i], four[i % 4]) << i;
  // Endpoints swapped: three colours and transparent black.
  const std::uint8_t three[8] = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0xE4, 0xE4, 0xE4};
  px = Decode(D3DFMT_DXT1, 4, 4, std::vector<std::uint8_t>(three, three + 8), 8, 1);
  EXPECT_EQ(px[0], 0xFF0000FFu);
  EXPECT_EQ(px[1], 0xFFFF0000u);
  EXPECT_EQ(px[2], 0xFF800080u);
  EXPECT_EQ(px[3], 0x00000000u);
  // DXT3: explicit 4-bit alpha, texel i's alpha = i x 17.
  std::vector<std::uint8_t> dxt3 = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  dxt3.insert(dxt3.end(), colour, colour + 8);
  px = Decode(D3DFMT_DXT3, 4, 4, dxt3, 16, 1);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(px[i], (four[i % 4] & 0xFFFFFF) | std::uint32_t(i * 17) << 24) << i;
  // DXT5: alpha 255 to 0 in eight steps; texel i takes index i % 8.
  std::vector<std::uint8_t> dxt5 = {255, 0};
  std::uint64_t bits = 0;
  for (int i = 0; i < 16; ++i) bits |= std::uint64_t(i % 8) << (3 * i);
  for (int i = 0; i < 6; ++i) dxt5.push_back(std::uint8_t(bits >> (8 * i)));
  dxt5.insert(dxt5.end(), colour, colour + 8);
  px = Decode(D3DFMT_DXT5, 4, 4, dxt5, 16, 1);
  const unsigned alphas[8] = {255, 0, 219, 182, 146, 109, 73, 36};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(px[i] >> 24, alphas[i % 8]) << i;
}

TEST_F(D3D9RasterFormats, RelockedTexturesDecodeAgain) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(2, 1, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, t.get()), D3D_OK);
  for (std::uint8_t value : {0x20, 0x90}) {
    const std::uint8_t bytes[2] = {value, value};
    Fill(t.get(), 0, bytes, 2, 1);
    Quad(0, 0, 2, 1, ~0u);
    EXPECT_EQ(At(ReadBack(m_level.get()), 1, 0, 16), 0xFF000000u | value * 0x010101u);
  }
  ASSERT_EQ(dev->SetTexture(0, nullptr), D3D_OK);
}

TEST_F(D3D9RasterFormats, UnsampledFormatsReadMagenta) {
  ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  EXPECT_EQ(Plain(D3DFMT_V8U8, 2, {0x10, 0x20}), (std::vector<std::uint32_t>{0xFFFF00FF}));
  EXPECT_GE(platform::test::DiagnosticCount("d3d9.unsampled-format"), 1);
}

}  // namespace

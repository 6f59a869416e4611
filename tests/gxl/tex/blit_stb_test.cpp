// The box and linear filters against an independent resampler
// (stb_image_resize) with the same sample positions and edge handling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "blit_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/stb_image_resize.h"


namespace {

using blittest::Blit;
using blittest::Image;

// The texel bytes of an image without its padding.
std::vector<std::uint8_t> Packed(Image& image) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t y = 0; y < image.height; ++y)
    out.insert(out.end(), image.Texel(0, y), image.Texel(0, y) + std::size_t{image.width} * image.bytesPerTexel);
  return out;
}

std::vector<std::uint8_t> StbBoxHalve(Image& src, std::uint32_t dw, std::uint32_t dh) {
  std::vector<std::uint8_t> in = Packed(src), out(std::size_t{dw} * dh * 4);
  // The box covers exactly the texels that the halving reads: an odd last
  // row or column is left out of the input.
  const int iw = static_cast<int>(2 * dw), ih = static_cast<int>(2 * dh);
  EXPECT_EQ(stbir_resize_uint8_generic(in.data(), iw, ih, static_cast<int>(src.width * 4), out.data(),
                                       static_cast<int>(dw), static_cast<int>(dh), 0, 4, STBIR_ALPHA_CHANNEL_NONE, 0,
                                       STBIR_EDGE_CLAMP, STBIR_FILTER_BOX, STBIR_COLORSPACE_LINEAR, nullptr),
            1);
  return out;
}

TEST(GxlBlitStb, BoxHalvingAgreesWithinOneStep) {
  struct Size {
    std::uint32_t sw, sh;
  };
  for (const Size s : {Size{64, 48}, Size{67, 35}, Size{2, 2}, Size{30, 2}}) {
    const std::uint32_t dw = s.sw / 2, dh = s.sh / 2;
    Image src(D3DFMT_A8R8G8B8, s.sw, s.sh);
    src.FillRandom(s.sw * 7 + s.sh);
    const std::vector<std::uint8_t> expected = StbBoxHalve(src, dw, dh);

    // The integer kernel, and the float path (another destination format).
    for (std::uint32_t format : {std::uint32_t{D3DFMT_A8R8G8B8}, std::uint32_t{D3DFMT_A8B8G8R8}}) {
      Image dst(format, dw, dh);
      ASSERT_EQ(Blit(dst, src, FilterFlags::Box), S_OK);
      const std::vector<std::uint8_t> got = Packed(dst);
      for (std::size_t i = 0; i < got.size(); ++i) {
        // A8B8G8R8 swaps red and blue.
        std::size_t j = i;
        if (format == D3DFMT_A8B8G8R8 && (i % 4) != 1 && (i % 4) != 3) j = i ^ 2;
        ASSERT_LE(std::abs(int{got[i]} - int{expected[j]}), 1)
            << s.sw << "x" << s.sh << " format " << format << " byte " << i;
      }
    }
  }
}

// Linear enlargement of a float image, against the resampler's triangle
// (two-tap) filter; mirror corresponds to its clamped edge.
void CheckLinear(std::uint32_t sw, std::uint32_t sh, std::uint32_t dw, std::uint32_t dh, bool mirror) {
  Image src(D3DFMT_A32B32G32R32F, sw, sh);
  std::mt19937 rng(sw * 100 + dw);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<float> in;
  for (std::uint32_t y = 0; y < sh; ++y)
    for (std::uint32_t x = 0; x < sw; ++x) {
      const float c[4] = {unit(rng), unit(rng), unit(rng), unit(rng)};
      src.SetFloat(x, y, 0, c);
      in.insert(in.end(), c, c + 4);
    }
  std::vector<float> expected(std::size_t{dw} * dh * 4);
  const stbir_edge edge = mirror ? STBIR_EDGE_CLAMP : STBIR_EDGE_WRAP;
  ASSERT_EQ(stbir_resize_float_generic(in.data(), static_cast<int>(sw), static_cast<int>(sh), 0, expected.data(),
                                       static_cast<int>(dw), static_cast<int>(dh), 0, 4, STBIR_ALPHA_CHANNEL_NONE, 0,
                                       edge, STBIR_FILTER_TRIANGLE, STBIR_COLORSPACE_LINEAR, nullptr),
            1);

  const std::uint32_t filter = FilterFlags::Linear | (mirror ? FilterFlags::Mirror : 0);
  Image floats(D3DFMT_A32B32G32R32F, dw, dh), bytes(D3DFMT_A8R8G8B8, dw, dh);
  ASSERT_EQ(Blit(floats, src, filter), S_OK);
  ASSERT_EQ(Blit(bytes, src, filter), S_OK);
  for (std::uint32_t y = 0; y < dh; ++y)
    for (std::uint32_t x = 0; x < dw; ++x) {
      const float* e = &expected[(std::size_t{y} * dw + x) * 4];
      const ColorF f = floats.GetFloat(x, y);
      const float got[4] = {f.r, f.g, f.b, f.a};
      const std::uint32_t packed = bytes.Get(x, y);
      const int shifts[4] = {16, 8, 0, 24};
      for (int c = 0; c < 4; ++c) {
        ASSERT_NEAR(got[c], e[c], 2e-6f) << sw << "x" << sh << " -> " << dw << "x" << dh << " at " << x << "," << y;
        const int byte = static_cast<int>((packed >> shifts[c]) & 0xFF);
        ASSERT_LE(std::abs(byte - static_cast<int>(std::lround(e[c] * 255.0f))), 1);
      }
    }
}

TEST(GxlBlitStb, LinearEnlargementAgrees) {
  for (bool mirror : {true, false}) {
    CheckLinear(13, 9, 32, 20, mirror);
    CheckLinear(2, 2, 7, 5, mirror);
    CheckLinear(5, 1, 16, 3, mirror);
    CheckLinear(8, 8, 16, 16, mirror);
  }
}

}  // namespace

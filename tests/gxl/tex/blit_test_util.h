// Images in plain memory for the blitter tests: padded pitches, texel access
// and regions over the whole image or a box.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gxl/tex/image_blitter.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"

namespace blittest {

// Each row and slice carries `padding` spare bytes, filled with 0xAB so that
// writes outside the rows show.
struct Image {
  std::uint32_t format;
  std::uint32_t width, height, depth;
  std::uint32_t bytesPerTexel, pitch, slicePitch;
  std::vector<std::uint8_t> bytes;

  Image(std::uint32_t format_, std::uint32_t w, std::uint32_t h, std::uint32_t d = 1, std::uint32_t padding = 12)
      : format(format_), width(w), height(h), depth(d) {
    bytesPerTexel = FindPixelFormatInfo(static_cast<D3DFORMAT>(format))->bitsPerTexel / 8;
    pitch = w * bytesPerTexel + padding;
    slicePitch = pitch * h + padding;
    bytes.assign(std::size_t{slicePitch} * (d ? d : 1) + 16, 0xAB);
    for (std::uint32_t z = 0; z < d; ++z)
      for (std::uint32_t y = 0; y < h; ++y) std::memset(Texel(0, y, z), 0, std::size_t{w} * bytesPerTexel);
  }

  std::uint8_t* Texel(std::uint32_t x, std::uint32_t y, std::uint32_t z = 0) {
    return bytes.data() + std::size_t{z} * slicePitch + std::size_t{y} * pitch + std::size_t{x} * bytesPerTexel;
  }
  std::uint32_t Get(std::uint32_t x, std::uint32_t y, std::uint32_t z = 0) {
    std::uint32_t v = 0;
    std::memcpy(&v, Texel(x, y, z), bytesPerTexel < 4 ? bytesPerTexel : 4);
    return v;
  }
  void Set(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint32_t v) {
    std::memcpy(Texel(x, y, z), &v, bytesPerTexel < 4 ? bytesPerTexel : 4);
  }
  void SetFloat(std::uint32_t x, std::uint32_t y, std::uint32_t z, const float (&c)[4]) {
    // A32B32G32R32F: red first.
    std::memcpy(Texel(x, y, z), c, 16);
  }
  ColorF GetFloat(std::uint32_t x, std::uint32_t y, std::uint32_t z = 0) {
    ColorF c;
    std::memcpy(&c, Texel(x, y, z), 16);
    return c;
  }
  void Fill(std::uint32_t v) {
    for (std::uint32_t z = 0; z < depth; ++z)
      for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) Set(x, y, z, v);
  }
  void FillRandom(std::uint32_t seed) {
    std::mt19937 rng(seed);
    for (std::uint32_t z = 0; z < depth; ++z)
      for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t i = 0; i < width * bytesPerTexel; ++i) Texel(0, y, z)[i] = static_cast<std::uint8_t>(rng());
  }

  ImageRegion Region() {
    ImageRegion r{};
    r.pixels = bytes.data();
    r.format = format;
    r.rowPitch = pitch;
    r.slicePitch = slicePitch;
    r.extent = ImageBox{0, 0, width, height, 0, depth};
    r.box = r.extent;
    return r;
  }

  // Whether the padding after every row and slice is still 0xAB.
  bool PaddingIntact() {
    for (std::uint32_t z = 0; z < depth; ++z)
      for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint8_t* p = Texel(width, y, z); p < Texel(0, y, z) + pitch; ++p)
          if (*p != 0xAB) return false;
    return true;
  }

  // Every texel through the format's codec.
  std::vector<ColorF> Decode() {
    std::vector<ColorF> out(std::size_t{width} * height * depth);
    ImageRegion r = Region();
    auto codec = CreatePixelCodec(r);
    EXPECT_NE(codec, nullptr);
    if (!codec) return out;
    for (std::uint32_t z = 0; z < depth; ++z)
      for (std::uint32_t y = 0; y < height; ++y) codec->ReadRow(y, z, &out[(std::size_t{z} * height + y) * width]);
    return out;
  }
};

inline HRESULT Blit(Image& destination, Image& source, std::uint32_t filter, std::uint32_t sourceKey = 0) {
  ImageRegion d = destination.Region();
  ImageRegion s = source.Region();
  s.colourKey = sourceKey;
  ImageBlitter blitter;
  return blitter.Run(d, s, filter);
}

}  // namespace blittest

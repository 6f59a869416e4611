// Helpers of the pixel codec tests: regions over plain memory and row round trips.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"

namespace codectest {

constexpr std::uint32_t Fcc(char a, char b, char c, char d) { return MAKEFOURCC(a, b, c, d); }

// A width x height x depth region of tightly packed rows (or the given pitches).
inline ImageRegion Region(void* pixels, std::uint32_t format, std::uint32_t width, std::uint32_t height = 1,
                          std::uint32_t rowPitch = 0, std::uint32_t depth = 1, std::uint32_t slicePitch = 0) {
  const std::uint32_t bytes = FindPixelFormatInfo(static_cast<D3DFORMAT>(format))->bitsPerTexel / 8;
  if (!rowPitch) rowPitch = width * bytes;
  if (!slicePitch && depth > 1) slicePitch = rowPitch * height;
  ImageRegion r{};
  r.pixels = pixels;
  r.format = format;
  r.rowPitch = rowPitch;
  r.slicePitch = slicePitch;
  r.extent = ImageBox{0, 0, width, height, 0, depth};
  r.box = r.extent;
  return r;
}

inline std::unique_ptr<PixelCodec> Make(const ImageRegion& region) {
  auto codec = CreatePixelCodec(region);
  EXPECT_NE(codec, nullptr) << "format " << region.format;
  return codec;
}

// The texels of one stored texel (a one-texel region).
inline ColorF ReadTexel(std::uint32_t format, std::uint64_t code, const PaletteEntry* palette = nullptr) {
  std::uint8_t bytes[16] = {};
  std::memcpy(bytes, &code, sizeof code);
  ImageRegion r = Region(bytes, format, 1);
  r.palette = palette;
  auto codec = Make(r);
  ColorF c(-9, -9, -9, -9);
  if (codec) codec->ReadRow(0, 0, &c);
  return c;
}

// The stored texel of one colour (written without dither).
inline std::uint64_t WriteTexel(std::uint32_t format, ColorF c, const PaletteEntry* palette = nullptr) {
  std::uint8_t bytes[16] = {};
  ImageRegion r = Region(bytes, format, 1);
  r.palette = palette;
  auto codec = Make(r);
  if (codec) codec->WriteRow(0, 0, &c);
  std::uint64_t code = 0;
  std::memcpy(&code, bytes, sizeof code);
  return code;
}

inline bool Near(const ColorF& a, const ColorF& b, float tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance &&
         std::abs(a.a - b.a) <= tolerance;
}

}  // namespace codectest

inline std::ostream& operator<<(std::ostream& os, const ColorF& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

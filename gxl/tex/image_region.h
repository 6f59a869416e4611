// The description of a block of pixels in memory, or of a locked surface or
// volume, that the pixel codecs and the blitter work on.
#pragma once

#include <cstdint>

// left <= x < right, top <= y < bottom, front <= z < back.
struct ImageBox {
  std::uint32_t left;
  std::uint32_t top;
  std::uint32_t right;
  std::uint32_t bottom;
  std::uint32_t front;
  std::uint32_t back;
};

// One palette entry: red, green, blue and a fourth byte read as alpha.
struct PaletteEntry {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
  std::uint8_t flags;
};

struct ImageRegion {
  void* pixels;              // the region's memory (for a lock: the locked bits)
  std::uint32_t format;      // Direct3D format code or FourCC
  std::uint32_t rowPitch;    // bytes between rows (block formats: between rows of 4x4 blocks)
  std::uint32_t slicePitch;  // bytes between slices; 0 for surfaces and 2-D pixels
  ImageBox extent;           // the whole image (for a lock: the whole surface or volume)
  ImageBox box;              // the working box, counted from the texel at pixels
  std::uint32_t orderedDither;   // nonzero: a destination writes with the ordered dither table
  std::uint32_t errorDiffusion;  // nonzero: a destination diffuses its rounding error
  std::uint32_t srgb;            // nonzero: the texels are sRGB-encoded
  std::uint32_t colourKey;       // A8R8G8B8 colour that reads as transparent black; 0: none
  const PaletteEntry* palette;   // 256 entries, or null
};

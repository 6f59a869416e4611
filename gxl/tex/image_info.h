// What the library tells a caller about an image file: its type, size, level
// count and pixel format.
#pragma once

#include <cstdint>

#include "platform/d3d9_types.h"

// The numbering is shared by the readers, the writers, ImageInfo and the
// export entry points.
enum class ImageFileType : std::uint32_t {
  Bmp = 0,
  Jpg = 1,
  Tga = 2,
  Png = 3,
  Dds = 4,
  Ppm = 5,
  Dib = 6,
  Hdr = 7,
  Pfm = 8,
};

struct ImageInfo {
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t depth;
  std::uint32_t mipCount;        // 1 + the further levels the file holds
  D3DFORMAT format;              // the private "AL16" and " R16" read as A8L8 and A16B16G16R16
  D3DRESOURCETYPE resourceType;  // texture, volume texture or cube texture
  ImageFileType fileType;
};

// Portable float maps: "PF" (red, green, blue) and "Pf" (grey) files of
// 32-bit floats in either byte order, rows from the bottom of the image up,
// read into A32B32G32R32F with alpha 1. Written little-endian.
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/file_bytes.h"
#include "gxl/tex/header_text.h"
#include "gxl/tex/image_output_stream.h"

namespace {

using gxl::tex::detail::HeaderLines;
using gxl::tex::detail::HeaderText;

static_assert(std::endian::native == std::endian::little, "samples are copied as little-endian floats");

constexpr std::uint32_t kMagicBytes = 3;  // "PF\n" or "Pf\n"

float Sample(const std::uint8_t* p, bool bigEndian) {
  std::uint32_t bits;
  std::memcpy(&bits, p, 4);
  if (bigEndian) return ByteSwapFloat(bits);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

}  // namespace

HRESULT DecodedImage::ReadPfm(const std::uint8_t* data, std::uint32_t size) {
  if (size <= kMagicBytes || data[0] != 'P' || (data[1] != 'F' && data[1] != 'f') || data[2] != '\n') return E_FAIL;
  const std::uint32_t channels = data[1] == 'F' ? 3 : 1;

  HeaderLines lines(data, size, kMagicBytes);
  std::string_view sizeLine, scaleLine;
  if (!lines.Next(&sizeLine) || !lines.Next(&scaleLine)) return E_FAIL;
  HeaderText sizes(sizeLine);
  std::uint32_t w = 0, h = 0;
  if (!sizes.ReadSize(&w) || !sizes.ReadSize(&h) || !sizes.AtEnd() || !w || !h) return E_FAIL;
  HeaderText scaleText(scaleLine);
  double scale = 0;
  if (!scaleText.ReadNumber(&scale) || !scaleText.AtEnd()) return E_FAIL;
  // Only the sign counts: negative (or not a number) is little-endian.
  const bool bigEndian = scale >= 0;

  const std::uint64_t texelBytes = 4 * channels;
  const std::uint64_t count = std::uint64_t{w} * h;
  if (count > (size - lines.At()) / texelBytes) return E_FAIL;
  auto* out = reinterpret_cast<float*>(AllocateImage(D3DFMT_A32B32G32R32F, w, h, 16));
  if (!out) return E_OUTOFMEMORY;

  const std::uint8_t* in = data + lines.At();
  for (std::uint32_t fileRow = 0; fileRow < h; ++fileRow) {
    float* texel = out + std::uint64_t{h - 1 - fileRow} * w * 4;
    for (std::uint32_t x = 0; x < w; ++x, texel += 4, in += texelBytes) {
      texel[0] = Sample(in, bigEndian);
      texel[1] = channels == 3 ? Sample(in + 4, bigEndian) : texel[0];
      texel[2] = channels == 3 ? Sample(in + 8, bigEndian) : texel[0];
      texel[3] = 1.0f;
    }
  }
  return S_OK;
}

HRESULT DecodedImage::WritePfm(ImageOutputStream& stream) {
  const bool colour = format == D3DFMT_A32B32G32R32F;
  if ((!colour && format != D3DFMT_R32F) || (!pixels && width && height)) return E_FAIL;
  const std::uint32_t channels = colour ? 3 : 1;
  const std::uint32_t sourceBytes = colour ? 16 : 4;

  char header[64];
  const int length =
      std::snprintf(header, sizeof header, "%s\n%u %u\n-1.000000\n", colour ? "PF" : "Pf", width, height);
  if (FAILED(stream.Write(header, static_cast<std::uint32_t>(length), nullptr))) return E_FAIL;

  const std::uint64_t rowBytes = std::uint64_t{width} * channels * 4;
  if (rowBytes > gxl::tex::detail::kMax32) return E_FAIL;
  std::unique_ptr<std::uint8_t[]> row(new (std::nothrow) std::uint8_t[rowBytes ? rowBytes : 1]);
  if (!row) return E_OUTOFMEMORY;
  const auto* corner = static_cast<const std::uint8_t*>(pixels) + std::uint64_t{box.top} * rowPitch +
                       std::uint64_t{box.left} * sourceBytes;
  // The last image row is the first row of the file.
  for (std::uint32_t y = height; y-- > 0;) {
    const std::uint8_t* source = corner + std::uint64_t{y} * rowPitch;
    for (std::uint32_t x = 0; x < width; ++x)
      std::memcpy(row.get() + std::uint64_t{x} * channels * 4, source + std::uint64_t{x} * sourceBytes, channels * 4);
    if (FAILED(stream.Write(row.get(), static_cast<std::uint32_t>(rowBytes), nullptr))) return E_FAIL;
  }
  return S_OK;
}

// Image files of every format: the header-only read, then the full decode,
// whose every level and face is read back through its pixel codec so that a
// record describing more texels than its reader stored is caught.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/texture_import.h"

namespace {

// Reading back costs a pass over the texels: decodes larger than this are
// checked by their first and last rows only.
constexpr std::uint64_t kReadBackTexels = std::uint64_t{1} << 22;

void ReadBack(const DecodedImage& record) {
  const ImageRegion region = record.Region();
  std::unique_ptr<PixelCodec> codec = CreatePixelCodec(region);
  if (!codec) return;  // formats without a codec are left to the texture target
  const std::uint32_t width = region.box.right - region.box.left;
  const std::uint32_t height = region.box.bottom - region.box.top;
  const std::uint32_t depth = region.box.back - region.box.front;
  if (width == 0 || height == 0 || depth == 0) return;
  std::vector<ColorF> row(width);
  const bool whole = std::uint64_t{width} * height * depth <= kReadBackTexels;
  for (std::uint32_t z = 0; z < depth; ++z)
    for (std::uint32_t y = 0; y < height; ++y)
      if (whole || ((z == 0 || z + 1 == depth) && (y == 0 || y + 1 == height))) codec->ReadRow(y, z, row.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ImageInfo header{};
  const HRESULT headerResult = ReadImageInfoFromFileData(data, static_cast<UINT>(size), &header);

  DecodedImage image;
  ImageInfo info{};
  const HRESULT decodeResult = image.DecodeImage(data, static_cast<std::uint32_t>(size), &info, true);
  if (FAILED(decodeResult)) return 0;
  // What the header promised is what the decode delivered, but for the one
  // format that depends on the texels: 16-bit TGA without any alpha bit set.
  nura::fuzz::Require(SUCCEEDED(headerResult), "a decodable file has a readable header");
  const bool alphaDropped =
      info.fileType == ImageFileType::Tga && header.format == D3DFMT_A1R5G5B5 && info.format == D3DFMT_X1R5G5B5;
  nura::fuzz::Require(header.width == info.width && header.height == info.height && header.depth == info.depth &&
                          header.mipCount == info.mipCount && header.fileType == info.fileType &&
                          header.resourceType == info.resourceType && (header.format == info.format || alphaDropped),
                      "the header-only read agrees with the full decode");
  for (const DecodedImage* face = &image; face; face = face->nextFace.get())
    for (const DecodedImage* level = face; level; level = level->nextMip.get()) ReadBack(*level);
  return 0;
}

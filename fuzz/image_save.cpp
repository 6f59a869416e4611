// The save path: an image file decoded, then encoded into memory as every type
// that can be written, and the bytes decoded again. Every type gives back the
// sizes it was given; the lossless ones give back the texels that were written
// (after the conversion into a format the type holds), and HDR each texel to
// its shared-exponent precision.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"
#include "platform/d3d9_api.h"

namespace {

using nura::fuzz::Require;

// Decodes larger than this are not saved: every save converts and encodes the
// whole image, eight times over.
constexpr std::uint64_t kSaveTexels = std::uint64_t{1} << 18;

constexpr ImageFileType kTypes[] = {ImageFileType::Bmp, ImageFileType::Jpg, ImageFileType::Tga, ImageFileType::Png,
                                    ImageFileType::Dds, ImageFileType::Dib, ImageFileType::Hdr, ImageFileType::Pfm};

// A record that describes another's texels without owning them: for DDS files
// the whole chain of levels and faces behind it, for the other types the
// first slice, which is all they hold.
std::unique_ptr<DecodedImage> ViewOf(const DecodedImage& image, bool chain) {
  auto view = std::make_unique<DecodedImage>();
  ImageRegion region = image.Region();
  if (!chain && region.box.back > region.box.front) region.box.back = region.box.front + 1;
  view->SetFromRegion(region);
  if (chain && image.nextMip) view->nextMip = ViewOf(*image.nextMip, true);
  if (chain && image.nextFace) view->nextFace = ViewOf(*image.nextFace, true);
  return view;
}

bool HasAlpha(D3DFORMAT format) { return FindPixelFormatInfo(format)->alpha != 0; }

bool SameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Both records' texels through their codecs, row by row.
template <class Check>
void CompareTexels(const DecodedImage& written, const DecodedImage& read, Check check) {
  std::unique_ptr<PixelCodec> w = CreatePixelCodec(written.Region());
  std::unique_ptr<PixelCodec> r = CreatePixelCodec(read.Region());
  Require(w && r, "both sides of a round trip have a codec");
  std::vector<ColorF> wrow(written.width), rrow(written.width);
  for (std::uint32_t z = 0; z < written.depth; ++z)
    for (std::uint32_t y = 0; y < written.height; ++y) {
      w->ReadRow(y, z, wrow.data());
      r->ReadRow(y, z, rrow.data());
      for (std::uint32_t x = 0; x < written.width; ++x) check(wrow[x], rrow[x]);
    }
}

// The lossless types: the same colour (byte for byte where the format came
// back, else to the nearest 8-bit step, as BMP's R3G3B2 palette), and alpha
// where both formats hold it and the type stores it (PFM does not, nor do
// BMP palettes).
void CompareExactly(ImageFileType type, const DecodedImage& written, const DecodedImage& read) {
  const bool sameFormat = written.format == read.format;
  const bool bmpPalette = (type == ImageFileType::Bmp || type == ImageFileType::Dib) && read.format == D3DFMT_P8;
  const bool alpha = type != ImageFileType::Pfm && !bmpPalette && HasAlpha(written.format) && HasAlpha(read.format);
  CompareTexels(written, read, [&](const ColorF& w, const ColorF& r) {
    const float tolerance = sameFormat ? 0.0f : 0.5f / 255.0f + 1e-6f;
    const auto near = [&](float a, float b) { return SameFloat(a, b) || std::fabs(a - b) <= tolerance; };
    Require(near(w.r, r.r) && near(w.g, r.g) && near(w.b, r.b), "a lossless type keeps the colours");
    Require(!alpha || near(w.a, r.a), "a lossless type keeps alpha");
  });
}

// DDS stores the records' bytes as they are.
void CompareBytes(const DecodedImage& written, const DecodedImage& read) {
  Require(written.format == read.format, "DDS keeps the format");
  const std::uint64_t rowBytes = StoredRowBytes(written.format, written.width);
  const std::uint64_t rows = StoredRowCount(written.format, written.height);
  const auto* w = static_cast<const std::uint8_t*>(written.pixels);
  const auto* r = static_cast<const std::uint8_t*>(read.pixels);
  for (std::uint64_t z = 0; z < written.depth; ++z)
    for (std::uint64_t y = 0; y < rows; ++y)
      Require(std::memcmp(w + z * written.slicePitch + y * written.rowPitch,
                          r + z * read.slicePitch + y * read.rowPitch, rowBytes) == 0,
              "DDS keeps the bytes");
  if (FindPixelFormatInfo(written.format)->formatClass == kClassPalettized)
    Require(std::memcmp(written.palette, read.palette, 256 * sizeof(PaletteEntry)) == 0, "DDS keeps the palette");
}

// A shared exponent keeps 8 bits of the largest channel: each channel within
// 1/128 of it. Negative channels and NaN are stored as 0, and values beyond
// the largest exponent as the largest value, 255 x 2^119.
void CompareHdr(const DecodedImage& written, const DecodedImage& read) {
  CompareTexels(written, read, [](const ColorF& w, const ColorF& r) {
    const auto stored = [](float c) { return c > 0.0f ? std::fmin(c, 0x1p119f * 255.0f) : 0.0f; };
    const float v = std::fmax(std::fmax(stored(w.r), stored(w.g)), stored(w.b));
    if (v < 1e-30f) return;
    const auto near = [&](float a, float b) { return std::fabs(stored(a) - b) <= v / 128.0f; };
    Require(near(w.r, r.r) && near(w.g, r.g) && near(w.b, r.b), "HDR keeps each texel to its exponent's precision");
  });
}

void CompareRecords(ImageFileType type, const DecodedImage& written, const DecodedImage& read) {
  Require(written.width == read.width && written.height == read.height && written.depth == read.depth,
          "a saved image reads back at its size");
  switch (type) {
    case ImageFileType::Dds:
      CompareBytes(written, read);
      break;
    case ImageFileType::Hdr:
      CompareHdr(written, read);
      break;
    case ImageFileType::Jpg:
      break;
    default:
      CompareExactly(type, written, read);
      break;
  }
}

void Save(const DecodedImage& image, ImageFileType type) {
  const bool dds = type == ImageFileType::Dds;
  std::unique_ptr<DecodedImage> written = ViewOf(image, dds);
  gxl::ComRef<DataBuffer> bytes;
  const HRESULT hr = written->EncodeImage(bytes.Put(), type, ImageSinkKind::Memory);
  // The types hold every format but for a few: the image is not lost silently.
  if (FAILED(hr)) {
    Require(hr == D3DERR_INVALIDCALL || hr == E_FAIL, "a save fails only for a format or size the type cannot hold");
    Require(!bytes, "a failed save hands out nothing");
    return;
  }
  Require(bytes && bytes->GetSize() > 0, "a save hands out the file");
  DecodedImage read;
  const HRESULT readResult = read.DecodeImage(bytes->GetPointer(), bytes->GetSize(), nullptr, true);
  Require(SUCCEEDED(readResult), "a saved image reads back");
  const DecodedImage* rf = &read;
  for (const DecodedImage* wf = written.get(); wf; wf = wf->nextFace.get(), rf = rf->nextFace.get()) {
    Require(rf != nullptr, "every face reads back");
    const DecodedImage* rl = rf;
    for (const DecodedImage* wl = wf; wl; wl = wl->nextMip.get(), rl = rl->nextMip.get()) {
      Require(rl != nullptr, "every level reads back");
      CompareRecords(type, *wl, *rl);
    }
    Require(rl == nullptr, "no level more than was written");
  }
  Require(rf == nullptr, "no face more than was written");
}

std::uint64_t Texels(const DecodedImage& image) {
  std::uint64_t n = 0;
  for (const DecodedImage* face = &image; face; face = face->nextFace.get())
    for (const DecodedImage* level = face; level; level = level->nextMip.get())
      n += std::uint64_t{level->width} * level->height * level->depth;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DecodedImage image;
  image.maxTexels = kSaveTexels;
  if (FAILED(image.DecodeImage(data, static_cast<std::uint32_t>(size), nullptr, true))) return 0;
  if (Texels(image) > kSaveTexels) return 0;
  for (ImageFileType type : kTypes) Save(image, type);
  return 0;
}

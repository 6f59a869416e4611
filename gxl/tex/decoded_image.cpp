// DecodedImage: file-type detection, the region description and storage.
#include "gxl/tex/decoded_image.h"

#include <cstring>
#include <new>

#include "gxl/tex/pixel_format.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"

namespace {

using ReadFn = HRESULT (DecodedImage::*)(const std::uint8_t*, std::uint32_t);

struct Reader {
  ImageFileType type;
  ReadFn read;
};

// Magic numbers first; TGA and bare DIB headers, which have none, last, so
// that they only see bytes nothing else accepted.
constexpr Reader kReaders[] = {
    {ImageFileType::Bmp, &DecodedImage::ReadBmp}, {ImageFileType::Ppm, &DecodedImage::ReadPpm},
    {ImageFileType::Dds, &DecodedImage::ReadDds}, {ImageFileType::Jpg, &DecodedImage::ReadJpeg},
    {ImageFileType::Png, &DecodedImage::ReadPng}, {ImageFileType::Pfm, &DecodedImage::ReadPfm},
    {ImageFileType::Hdr, &DecodedImage::ReadHdr}, {ImageFileType::Tga, &DecodedImage::ReadTga},
    {ImageFileType::Dib, &DecodedImage::ReadDib},
};

void SetWholeBoxes(DecodedImage* face) {
  for (; face; face = face->nextFace.get())
    for (DecodedImage* level = face; level; level = level->nextMip.get())
      level->box = ImageBox{0, 0, level->width, level->height, 0, level->depth};
}

}  // namespace

void DecodedImage::Clear() {
  m_ownedPixels.reset();
  m_ownedPalette.reset();
  pixels = nullptr;
  palette = nullptr;
  nextMip.reset();
  nextFace.reset();
}

ImageBytes AllocateImageBytes(std::uint64_t bytes) {
  if (bytes > 0xFFFFFFFFu) return nullptr;
  return ImageBytes(static_cast<std::uint8_t*>(std::calloc(bytes ? bytes : 1, 1)));
}

ImageBytes AllocateUnfilledImageBytes(std::uint64_t bytes) {
  if (bytes > 0xFFFFFFFFu) return nullptr;
  return ImageBytes(static_cast<std::uint8_t*>(std::malloc(bytes ? bytes : 1)));
}

std::uint8_t* DecodedImage::AllocatePixels(std::uint64_t bytes) {
  m_ownedPixels.reset();
  m_ownedPixels = AllocateImageBytes(bytes);
  pixels = m_ownedPixels.get();
  return m_ownedPixels.get();
}

std::uint8_t* DecodedImage::AllocateWrittenPixels(std::uint64_t bytes) {
  m_ownedPixels.reset();
  m_ownedPixels = AllocateUnfilledImageBytes(bytes);
  pixels = m_ownedPixels.get();
  return m_ownedPixels.get();
}

std::uint8_t* DecodedImage::AllocateImage(D3DFORMAT texelFormat, std::uint32_t w, std::uint32_t h,
                                          std::uint32_t texelBytes) {
  // w x h fits 64 bits; the check keeps the product with texelBytes there too.
  if (std::uint64_t{w} * h > 0xFFFFFFFFu / texelBytes || !AllocateWrittenPixels(std::uint64_t{w} * h * texelBytes))
    return nullptr;
  format = texelFormat;
  width = w;
  height = h;
  depth = 1;
  rowPitch = w * texelBytes;
  slicePitch = 0;
  return m_ownedPixels.get();
}

bool DecodedImage::WithinCeiling(std::uint64_t w, std::uint64_t h) {
  // Either side alone may be 2^32 - 1: compare without forming the product.
  const bool within = w == 0 || h <= maxTexels / w;
  m_aboveCeiling |= !within;
  return within;
}

PaletteEntry* DecodedImage::AllocatePalette() {
  m_ownedPalette.reset(new (std::nothrow) PaletteEntry[256]);
  palette = m_ownedPalette.get();
  return m_ownedPalette.get();
}

std::uint32_t DecodedImage::LevelCount() const {
  std::uint32_t n = 1;
  for (const DecodedImage* r = nextMip.get(); r; r = r->nextMip.get()) ++n;
  return n;
}

ImageRegion DecodedImage::Region() const {
  ImageRegion r{};
  r.pixels = pixels;
  r.format = format;
  r.rowPitch = rowPitch;
  r.slicePitch = slicePitch;
  r.extent = box;
  r.box = box;
  r.palette = palette;
  return r;
}

HRESULT DecodedImage::DecodeImage(const void* data, std::uint32_t size, ImageInfo* info, bool wantPixels) {
  if (!data || !size) return D3DERR_INVALIDCALL;
  if (!info && !wantPixels) return S_OK;
  Clear();

  const auto* bytes = static_cast<const std::uint8_t*>(data);
  bool accepted = false;
  m_aboveCeiling = false;
  {
    // The text formats read numbers with the C library's scanning functions.
    platform::ScopedCNumericLocale locale;
    for (const Reader& reader : kReaders) {
      decodePixels = wantPixels;
      resourceType = D3DRTYPE_TEXTURE;
      fileType = reader.type;
      if (SUCCEEDED((this->*reader.read)(bytes, size))) {
        accepted = true;
        break;
      }
      Clear();
    }
  }
  if (!accepted) return m_aboveCeiling ? E_OUTOFMEMORY : GXLERR_INVALIDDATA;

  if (info) {
    *info = ImageInfo{};
    info->width = width;
    info->height = height;
    info->depth = depth;
    info->mipCount = LevelCount();
    info->format = MapPrivateFormat(format);
    info->resourceType = resourceType;
    info->fileType = fileType;
  }
  SetWholeBoxes(this);
  return S_OK;
}

HRESULT DecodedImage::SetFromRegion(const ImageRegion& region) {
  Clear();
  format = static_cast<D3DFORMAT>(region.format);
  pixels = region.pixels;
  palette = region.palette;
  box = region.box;
  rowPitch = region.rowPitch;
  slicePitch = region.slicePitch;
  width = box.right - box.left;
  height = box.bottom - box.top;
  depth = box.back - box.front;
  return S_OK;
}

std::uint32_t FindNewline(const char* buffer, std::uint32_t length) {
  const void* at = std::memchr(buffer, '\n', length);
  return at ? static_cast<std::uint32_t>(static_cast<const char*>(at) - buffer) : 0;
}

float ByteSwapFloat(std::uint32_t value) {
  const std::uint32_t swapped = __builtin_bswap32(value);
  float f;
  std::memcpy(&f, &swapped, sizeof f);
  return f;
}

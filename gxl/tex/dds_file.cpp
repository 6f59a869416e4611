// DDS files: mipmap chains, cube maps and volumes in every texture format of
// the library, block-compressed ones included. The reader lays the file out
// as a chain of records that point straight into its bytes; the writer
// stores a chain of records. One table translates between format codes and
// the file's pixel-format block.
#include <array>
#include <new>

#include "gxl/tex/dds_format.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/file_bytes.h"
#include "gxl/tex/image_output_stream.h"
#include "gxl/tex/pixel_format.h"

namespace {

using gxl::tex::detail::kMax32;
using gxl::tex::detail::Load32;
using gxl::tex::detail::Store32;

constexpr std::uint32_t kMagic = 0x20534444;  // "DDS "
constexpr std::uint32_t kHeaderSize = 124;
constexpr std::uint32_t kTexelsAt = 4 + kHeaderSize;
constexpr std::uint32_t kPaletteBytes = 1024;
constexpr std::uint32_t kBlockSize = 32;

// File offsets of the header fields.
constexpr std::uint32_t kFlagsAt = 8, kHeightAt = 12, kWidthAt = 16, kDepthAt = 24, kMipCountAt = 28;
constexpr std::uint32_t kBlockAt = 76, kCapsAt = 108, kCaps2At = 112;

// Header flags: caps, height, width and pixel format are always there.
constexpr std::uint32_t kHeaderRequired = 0x1007, kHeaderMipCount = 0x20000, kHeaderDepth = 0x800000;
constexpr std::uint32_t kCapsAlpha = 0x2, kCapsComplex = 0x8, kCapsPalette = 0x100, kCapsTexture = 0x1000,
                        kCapsMipmap = 0x400000;
constexpr std::uint32_t kCaps2Cube = 0x200, kCaps2AllFaces = 0xFC00, kCaps2Volume = 0x200000;

// Pixel-format block flags.
constexpr std::uint32_t kAlphaPixels = 0x1, kAlphaOnly = 0x2, kFourCC = 0x4, kPaletteIndexed = 0x20, kRgb = 0x40,
                        kDepthBits = 0x400, kLuminance = 0x20000, kBumpLuminance = 0x40000, kBumpDuDv = 0x80000;
// Which fields a block's flags make significant when matching a file's block
// (kMasked is a masked layout no record of the table uses).
constexpr std::uint32_t kMasked = 0x4000;
constexpr std::uint32_t kComparesBits =
    kAlphaOnly | kPaletteIndexed | kRgb | kDepthBits | kMasked | kBumpLuminance | kBumpDuDv;
constexpr std::uint32_t kComparesRed = kRgb | kMasked | kLuminance | kBumpLuminance | kBumpDuDv;
constexpr std::uint32_t kComparesGreen = kRgb | kDepthBits | kMasked | kBumpLuminance | kBumpDuDv;
constexpr std::uint32_t kComparesBlue = kRgb | kMasked | kBumpLuminance | kBumpDuDv;
constexpr std::uint32_t kComparesAlpha = kAlphaPixels | kAlphaOnly | kBumpDuDv;

// The pixel-format block less its size field, which is always 32. Masks are
// red, green, blue, alpha (U, V, W, Q for the bump formats).
struct FormatBlock {
  std::uint32_t flags;
  std::uint32_t fourCC;
  std::uint32_t bits;
  std::uint32_t masks[4];
};

struct DdsFormat {
  D3DFORMAT format;
  FormatBlock block;
};

constexpr std::uint32_t Code(D3DFORMAT f) { return static_cast<std::uint32_t>(f); }

// Formats without a four-character code of their own store their numeric
// code in the code field. The 10-bit layouts follow the codecs: red (U) in
// the low bits of A2B10G10R10 (A2W10V10U10), blue in those of A2R10G10B10.
// clang-format off
constexpr DdsFormat kTable[kDdsFormatCount] = {
    {D3DFMT_R8G8B8,        {kRgb, 0, 24, {0xFF0000, 0xFF00, 0xFF, 0}}},
    {D3DFMT_A8R8G8B8,      {kRgb | kAlphaPixels, 0, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}}},
    {D3DFMT_X8R8G8B8,      {kRgb, 0, 32, {0xFF0000, 0xFF00, 0xFF, 0}}},
    {D3DFMT_R5G6B5,        {kRgb, 0, 16, {0xF800, 0x7E0, 0x1F, 0}}},
    {D3DFMT_X1R5G5B5,      {kRgb, 0, 16, {0x7C00, 0x3E0, 0x1F, 0}}},
    {D3DFMT_A1R5G5B5,      {kRgb | kAlphaPixels, 0, 16, {0x7C00, 0x3E0, 0x1F, 0x8000}}},
    {D3DFMT_A4R4G4B4,      {kRgb | kAlphaPixels, 0, 16, {0xF00, 0xF0, 0xF, 0xF000}}},
    {D3DFMT_R3G3B2,        {kRgb, 0, 8, {0xE0, 0x1C, 0x3, 0}}},
    {D3DFMT_A8,            {kAlphaOnly, 0, 8, {0, 0, 0, 0xFF}}},
    {D3DFMT_A8R3G3B2,      {kRgb | kAlphaPixels, 0, 16, {0xE0, 0x1C, 0x3, 0xFF00}}},
    {D3DFMT_X4R4G4B4,      {kRgb, 0, 16, {0xF00, 0xF0, 0xF, 0}}},
    {D3DFMT_A2B10G10R10,   {kRgb | kAlphaPixels, 0, 32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}}},
    {D3DFMT_A8B8G8R8,      {kRgb | kAlphaPixels, 0, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}}},
    {D3DFMT_X8B8G8R8,      {kRgb, 0, 32, {0xFF, 0xFF00, 0xFF0000, 0}}},
    {D3DFMT_G16R16,        {kRgb, 0, 32, {0xFFFF, 0xFFFF0000, 0, 0}}},
    {D3DFMT_A2R10G10B10,   {kRgb | kAlphaPixels, 0, 32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}}},
    {D3DFMT_A8P8,          {kPaletteIndexed | kAlphaPixels, 0, 16, {0, 0, 0, 0xFF00}}},
    {D3DFMT_P8,            {kPaletteIndexed, 0, 8, {0, 0, 0, 0}}},
    {D3DFMT_L8,            {kLuminance, 0, 8, {0xFF, 0, 0, 0}}},
    {D3DFMT_A8L8,          {kLuminance | kAlphaPixels, 0, 16, {0xFF, 0, 0, 0xFF00}}},
    {D3DFMT_A4L4,          {kLuminance | kAlphaPixels, 0, 8, {0xF, 0, 0, 0xF0}}},
    {D3DFMT_L16,           {kLuminance, 0, 16, {0xFFFF, 0, 0, 0}}},
    {D3DFMT_V8U8,          {kBumpDuDv, 0, 16, {0xFF, 0xFF00, 0, 0}}},
    {D3DFMT_L6V5U5,        {kBumpLuminance, 0, 16, {0x1F, 0x3E0, 0xFC00, 0}}},
    {D3DFMT_X8L8V8U8,      {kBumpLuminance, 0, 32, {0xFF, 0xFF00, 0xFF0000, 0}}},
    {D3DFMT_Q8W8V8U8,      {kBumpDuDv, 0, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}}},
    {D3DFMT_V16U16,        {kBumpDuDv, 0, 32, {0xFFFF, 0xFFFF0000, 0, 0}}},
    {D3DFMT_A2W10V10U10,   {kBumpDuDv | kAlphaPixels, 0, 32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}}},
    {D3DFMT_UYVY,          {kFourCC, Code(D3DFMT_UYVY), 0, {}}},
    {D3DFMT_R8G8_B8G8,     {kFourCC, Code(D3DFMT_R8G8_B8G8), 0, {}}},
    {D3DFMT_YUY2,          {kFourCC, Code(D3DFMT_YUY2), 0, {}}},
    {D3DFMT_G8R8_G8B8,     {kFourCC, Code(D3DFMT_G8R8_G8B8), 0, {}}},
    {D3DFMT_DXT1,          {kFourCC, Code(D3DFMT_DXT1), 0, {}}},
    {D3DFMT_DXT2,          {kFourCC, Code(D3DFMT_DXT2), 0, {}}},
    {D3DFMT_DXT3,          {kFourCC, Code(D3DFMT_DXT3), 0, {}}},
    {D3DFMT_DXT4,          {kFourCC, Code(D3DFMT_DXT4), 0, {}}},
    {D3DFMT_DXT5,          {kFourCC, Code(D3DFMT_DXT5), 0, {}}},
    {D3DFMT_D16_LOCKABLE,  {kDepthBits, 0, 16, {0, 0xFFFF, 0, 0}}},
    {D3DFMT_D32F_LOCKABLE, {kFourCC, Code(D3DFMT_D32F_LOCKABLE), 0, {}}},
    {D3DFMT_A16B16G16R16,  {kFourCC, Code(D3DFMT_A16B16G16R16), 0, {}}},
    {D3DFMT_Q16W16V16U16,  {kFourCC, Code(D3DFMT_Q16W16V16U16), 0, {}}},
    {D3DFMT_R16F,          {kFourCC, Code(D3DFMT_R16F), 0, {}}},
    {D3DFMT_G16R16F,       {kFourCC, Code(D3DFMT_G16R16F), 0, {}}},
    {D3DFMT_A16B16G16R16F, {kFourCC, Code(D3DFMT_A16B16G16R16F), 0, {}}},
    {D3DFMT_R32F,          {kFourCC, Code(D3DFMT_R32F), 0, {}}},
    {D3DFMT_G32R32F,       {kFourCC, Code(D3DFMT_G32R32F), 0, {}}},
    {D3DFMT_A32B32G32R32F, {kFourCC, Code(D3DFMT_A32B32G32R32F), 0, {}}},
    {D3DFMT_CxV8U8,        {kFourCC, Code(D3DFMT_CxV8U8), 0, {}}},
};
// clang-format on

constexpr auto kCandidates = [] {
  std::array<D3DFORMAT, kDdsFormatCount + 1> list{};
  for (unsigned i = 0; i < kDdsFormatCount; ++i) list[i] = kTable[i].format;
  return list;
}();

const DdsFormat* FindByFormat(D3DFORMAT format) {
  for (const DdsFormat& f : kTable)
    if (f.format == format) return &f;
  return nullptr;
}

// The first record whose block agrees with the file's in every field its
// flags make significant. A four-character code stands alone, whatever
// other flags the file sets beside it.
const DdsFormat* FindByBlock(const std::uint8_t* p) {
  if (Load32(p) != kBlockSize) return nullptr;
  std::uint32_t flags = Load32(p + 4);
  if (flags & kFourCC) flags = kFourCC;
  const std::uint32_t code = Load32(p + 8), bits = Load32(p + 12);
  const std::uint32_t masks[4] = {Load32(p + 16), Load32(p + 20), Load32(p + 24), Load32(p + 28)};
  constexpr std::uint32_t kComparesMask[4] = {kComparesRed, kComparesGreen, kComparesBlue, kComparesAlpha};
  for (const DdsFormat& f : kTable) {
    const FormatBlock& b = f.block;
    if (b.flags != flags) continue;
    if ((flags & kFourCC) && b.fourCC != code) continue;
    if ((flags & kComparesBits) && b.bits != bits) continue;
    bool same = true;
    for (int i = 0; i < 4; ++i) same = same && (!(flags & kComparesMask[i]) || b.masks[i] == masks[i]);
    if (same) return &f;
  }
  return nullptr;
}

std::uint32_t Half(std::uint32_t n) { return n > 1 ? n / 2 : 1; }

// Levels from the given size down to 1 x 1 x 1.
std::uint32_t FullChainLength(std::uint32_t width, std::uint32_t height, std::uint32_t depth) {
  std::uint32_t largest = width > height ? width : height;
  if (depth > largest) largest = depth;
  std::uint32_t n = 0;
  for (; largest; largest >>= 1) ++n;
  return n;
}

// The part of a record the writer stores: its box, widened on the left and
// top to whole blocks or texel pairs (the box starts inside the first one).
struct StoredArea {
  std::uint32_t left;
  std::uint32_t top;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t depth;
};

StoredArea AreaOf(const DecodedImage& r) {
  std::uint32_t left = r.box.left, top = r.box.top;
  if (IsDxtFormat(r.format)) {
    left &= ~3u;
    top &= ~3u;
  } else if (IsPackedPairFormat(r.format)) {
    left &= ~1u;
  }
  return StoredArea{left, top, r.box.right - left, r.box.bottom - top, r.box.back - r.box.front};
}

// Whether every face holds the same chain of levels as the first one, each
// level half the one before: anything else would not read back as written.
bool IsOneTexture(const DecodedImage& first, std::uint32_t levels) {
  const StoredArea top = AreaOf(first);
  for (const DecodedImage* face = &first; face; face = face->nextFace.get()) {
    if (face->LevelCount() != levels) return false;
    StoredArea want = top;
    for (const DecodedImage* r = face; r; r = r->nextMip.get()) {
      const StoredArea a = AreaOf(*r);
      if (r->format != first.format || a.width != want.width || a.height != want.height || a.depth != want.depth)
        return false;
      want.width = Half(want.width);
      want.height = Half(want.height);
      want.depth = Half(want.depth);
    }
  }
  return true;
}

HRESULT Put(ImageOutputStream& stream, const void* bytes, std::uint64_t count) {
  return SUCCEEDED(stream.Write(bytes, static_cast<std::uint32_t>(count), nullptr)) ? S_OK : E_FAIL;
}

HRESULT WriteLevel(ImageOutputStream& stream, const DecodedImage& r) {
  const StoredArea a = AreaOf(r);
  const std::uint64_t rowBytes = StoredRowBytes(r.format, a.width);
  const std::uint64_t rows = StoredRowCount(r.format, a.height);
  if (rowBytes > kMax32 || (!r.pixels && rowBytes && rows && a.depth)) return E_FAIL;
  for (std::uint32_t z = 0; z < a.depth; ++z) {
    const auto* slice = static_cast<const std::uint8_t*>(r.pixels) + std::uint64_t{r.box.front + z} * r.slicePitch +
                        StoredRowCount(r.format, a.top) * r.rowPitch + StoredRowBytes(r.format, a.left);
    for (std::uint64_t y = 0; y < rows; ++y)
      if (FAILED(Put(stream, slice + y * r.rowPitch, rowBytes))) return E_FAIL;
  }
  return S_OK;
}

}  // namespace

const D3DFORMAT* DdsCandidateFormats() { return kCandidates.data(); }

HRESULT DecodedImage::ReadDds(const std::uint8_t* data, std::uint32_t size) {
  if (size < kTexelsAt || Load32(data) != kMagic) return E_FAIL;
  const std::uint32_t flags = Load32(data + kFlagsAt);
  const std::uint32_t fileWidth = Load32(data + kWidthAt), fileHeight = Load32(data + kHeightAt);
  std::uint32_t fileDepth = flags & kHeaderDepth ? Load32(data + kDepthAt) : 1;
  if (!fileDepth) fileDepth = 1;
  if (!fileWidth || !fileHeight) return E_FAIL;
  const std::uint32_t faceBits = Load32(data + kCaps2At) & kCaps2AllFaces;
  if (faceBits && faceBits != kCaps2AllFaces) return E_FAIL;
  const std::uint32_t faces = faceBits ? 6 : 1;
  const std::uint32_t levels = Load32(data + kMipCountAt) ? Load32(data + kMipCountAt) : 1;
  // A longer chain than the size allows is no texture (and would cost a
  // record per byte of the file).
  if (levels > FullChainLength(fileWidth, fileHeight, fileDepth)) return E_FAIL;

  const DdsFormat* entry = FindByBlock(data + kBlockAt);
  if (!entry) return E_FAIL;
  const D3DFORMAT texelFormat = entry->format;
  std::uint64_t at = kTexelsAt;
  const PaletteEntry* filePalette = nullptr;
  if (FindPixelFormatInfo(texelFormat)->formatClass == kClassPalettized) {
    if (size - at < kPaletteBytes) return E_FAIL;
    filePalette = reinterpret_cast<const PaletteEntry*>(data + at);
    at += kPaletteBytes;
  }
  resourceType = flags & kHeaderDepth ? D3DRTYPE_VOLUMETEXTURE : faceBits ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE;

  DecodedImage* face = this;
  for (std::uint32_t f = 0; f < faces; ++f) {
    if (f) {
      face->nextFace.reset(new (std::nothrow) DecodedImage);
      face = face->nextFace.get();
      if (!face) return E_OUTOFMEMORY;
    }
    DecodedImage* level = face;
    std::uint32_t w = fileWidth, h = fileHeight, d = fileDepth;
    for (std::uint32_t l = 0; l < levels; ++l) {
      if (l) {
        level->nextMip.reset(new (std::nothrow) DecodedImage);
        level = level->nextMip.get();
        if (!level) return E_OUTOFMEMORY;
      }
      // Each step stays within 64 bits: a row or a slice beyond the bytes
      // left ends the read before the next product.
      const std::uint64_t left = size - at;
      const std::uint64_t rowBytes = StoredRowBytes(texelFormat, w);
      if (rowBytes > left) return E_FAIL;
      const std::uint64_t sliceBytes = rowBytes * StoredRowCount(texelFormat, h);
      if (sliceBytes > left || sliceBytes * d > left) return E_FAIL;
      level->format = texelFormat;
      level->pixels = const_cast<std::uint8_t*>(data + at);
      level->palette = filePalette;
      level->width = w;
      level->height = h;
      level->depth = d;
      level->rowPitch = static_cast<std::uint32_t>(rowBytes);
      level->slicePitch = static_cast<std::uint32_t>(sliceBytes);
      at += sliceBytes * d;
      w = Half(w);
      h = Half(h);
      d = Half(d);
    }
  }
  return S_OK;
}

HRESULT DecodedImage::WriteDds(ImageOutputStream& stream) {
  const DdsFormat* entry = FindByFormat(format);
  if (!entry) return E_FAIL;
  const bool palettized = FindPixelFormatInfo(format)->formatClass == kClassPalettized;
  if (palettized && !palette) return E_FAIL;
  std::uint32_t faces = 0;
  for (const DecodedImage* f = this; f; f = f->nextFace.get()) ++faces;
  const std::uint32_t levels = LevelCount();
  // Six faces or one: the header can only say "all six" or "none".
  if ((faces != 1 && faces != 6) || !IsOneTexture(*this, levels)) return E_FAIL;
  const StoredArea area = AreaOf(*this);

  const FormatBlock& b = entry->block;
  std::uint32_t flags = kHeaderRequired;
  std::uint32_t caps = kCapsTexture;
  std::uint32_t caps2 = 0;
  if (b.flags & (kAlphaPixels | kAlphaOnly)) caps |= kCapsAlpha;
  if (b.flags & kPaletteIndexed) caps |= kCapsPalette;
  if (levels > 1) {
    caps |= kCapsMipmap | kCapsComplex;
    flags |= kHeaderMipCount;
  }
  if (faces > 1) {
    caps |= kCapsComplex;
    caps2 |= kCaps2Cube | kCaps2AllFaces;
  }
  if (area.depth > 1) {
    flags |= kHeaderDepth;
    caps2 |= kCaps2Volume;
  }

  std::uint8_t header[kTexelsAt] = {};
  Store32(header, kMagic);
  Store32(header + 4, kHeaderSize);
  Store32(header + kFlagsAt, flags);
  Store32(header + kHeightAt, area.height);
  Store32(header + kWidthAt, area.width);
  if (area.depth > 1) Store32(header + kDepthAt, area.depth);
  if (levels > 1) Store32(header + kMipCountAt, levels);
  const std::uint32_t block[8] = {kBlockSize, b.flags,    b.fourCC,   b.bits,
                                  b.masks[0], b.masks[1], b.masks[2], b.masks[3]};
  for (int i = 0; i < 8; ++i) Store32(header + kBlockAt + 4 * i, block[i]);
  Store32(header + kCapsAt, caps);
  Store32(header + kCaps2At, caps2);
  if (FAILED(Put(stream, header, sizeof header))) return E_FAIL;
  if (palettized && FAILED(Put(stream, palette, kPaletteBytes))) return E_FAIL;

  for (const DecodedImage* face = this; face; face = face->nextFace.get())
    for (const DecodedImage* r = face; r; r = r->nextMip.get())
      if (FAILED(WriteLevel(stream, *r))) return E_FAIL;
  return S_OK;
}

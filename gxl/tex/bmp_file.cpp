// BMP files and bare DIBs (a bitmap resource: the info header without the
// 14-byte file header). Every size is worked out in 64 bits and checked
// against the data before a byte is read, so a hostile header can neither
// wrap a bound nor send a read past the data.
#include <cstring>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/file_bytes.h"
#include "gxl/tex/image_output_stream.h"

namespace {

using gxl::tex::detail::kMax32;
using gxl::tex::detail::Load16;
using gxl::tex::detail::Load32;
using gxl::tex::detail::RoundUp4;
using gxl::tex::detail::Store16;
using gxl::tex::detail::Store32;

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kMaskHeaderSize = 52;   // red, green and blue masks follow the info fields
constexpr std::uint32_t kAlphaHeaderSize = 56;  // and the alpha mask
constexpr std::uint32_t kMagic = 0x4D42;        // "BM"

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

// Masks are red, green, blue, alpha.
struct MaskFormat {
  std::uint32_t bits;
  std::uint32_t masks[4];
  D3DFORMAT format;
};

// The bit-field layouts that are a pixel format of their own. The last one is
// X8R8G8B8 one byte higher in the word: it is copied down, not read in place.
constexpr MaskFormat kMaskFormats[] = {
    {16, {0xFF, 0xFF, 0xFF, 0xFF00}, D3DFMT_A8L8},
    {16, {0xF800, 0x7E0, 0x1F, 0}, D3DFMT_R5G6B5},
    {16, {0x7C00, 0x3E0, 0x1F, 0}, D3DFMT_X1R5G5B5},
    {16, {0x7C00, 0x3E0, 0x1F, 0x8000}, D3DFMT_A1R5G5B5},
    {16, {0xF00, 0xF0, 0xF, 0xF000}, D3DFMT_A4R4G4B4},
    {16, {0xF00, 0xF0, 0xF, 0}, D3DFMT_X4R4G4B4},
    {16, {0xE0, 0x1C, 0x3, 0xFF00}, D3DFMT_A8R3G3B2},
    {16, {0xFFFF, 0xFFFF, 0xFFFF, 0}, D3DFMT_L16},
    {24, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_R8G8B8},
    {32, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_X8R8G8B8},
    {32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, D3DFMT_A8R8G8B8},
    {32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}, D3DFMT_A2B10G10R10},
    {32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, D3DFMT_A8B8G8R8},
    {32, {0xFF, 0xFF00, 0xFF0000, 0}, D3DFMT_X8B8G8R8},
    {32, {0xFFFF, 0xFFFF0000, 0, 0}, D3DFMT_G16R16},
    {32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, D3DFMT_A2R10G10B10},
};
constexpr MaskFormat kShiftedBgrx = {32, {0xFF000000, 0xFF0000, 0xFF00, 0}, D3DFMT_X8R8G8B8};

bool SameMasks(const std::uint32_t* a, const std::uint32_t* b) { return std::memcmp(a, b, 4 * sizeof *a) == 0; }

// Everything the reader takes from the headers, checked against the data.
struct DibLayout {
  std::uint32_t headerSize;
  std::uint32_t width;
  std::uint32_t height;
  bool topDown;
  std::uint32_t bits;
  std::uint32_t compression;
  std::uint32_t masks[4];
  std::uint64_t coloursUsed;
  std::uint32_t entrySize;     // colour-table entry: 3 bytes after a core header, else 4
  std::uint32_t tableOffset;   // the colour table follows the header and any masks after it
  std::uint64_t bitsOffset;
  D3DFORMAT format;
  bool shiftedBgrx;
  std::uint64_t sourceRowBytes;
  std::uint64_t sourcePitch;
  std::uint64_t storedRowBytes;
};

HRESULT ParseHeader(const std::uint8_t* data, std::uint32_t size, DibLayout* l) {
  if (size < 4) return E_FAIL;
  *l = DibLayout{};
  l->headerSize = Load32(data);
  if (size < l->headerSize) return E_FAIL;
  std::int64_t width, height;
  std::uint32_t planes;
  if (l->headerSize == kCoreHeaderSize) {
    width = static_cast<std::int16_t>(Load16(data + 4));
    height = static_cast<std::int16_t>(Load16(data + 6));
    planes = Load16(data + 8);
    l->bits = Load16(data + 10);
    l->entrySize = 3;
    l->tableOffset = kCoreHeaderSize;
  } else {
    if (l->headerSize < kInfoHeaderSize) return E_FAIL;
    width = static_cast<std::int32_t>(Load32(data + 4));
    height = static_cast<std::int32_t>(Load32(data + 8));
    planes = Load16(data + 12);
    l->bits = Load16(data + 14);
    l->compression = Load32(data + 16);
    l->coloursUsed = Load32(data + 32);
    // Bit fields with the plain 40-byte header keep their three masks in the
    // 12 bytes after it (as the clipboard's DIBs do).
    const bool masksAfter = l->compression == kBitFields && l->headerSize == kInfoHeaderSize;
    if (masksAfter && size < kMaskHeaderSize) return E_FAIL;
    if (l->headerSize >= kMaskHeaderSize || masksAfter)
      for (int i = 0; i < 3; ++i) l->masks[i] = Load32(data + 40 + 4 * i);
    if (l->headerSize >= kAlphaHeaderSize) l->masks[3] = Load32(data + 52);
    l->entrySize = 4;
    l->tableOffset = masksAfter ? kMaskHeaderSize : l->headerSize;
  }
  if (width <= 0 || height == 0 || planes != 1) return E_FAIL;
  l->width = static_cast<std::uint32_t>(width);
  l->topDown = height < 0;
  l->height = static_cast<std::uint32_t>(height < 0 ? -height : height);
  if (!l->coloursUsed && l->bits <= 8) l->coloursUsed = std::uint64_t{1} << l->bits;
  // The colour table is there whatever the bit count says; it has to fit.
  l->bitsOffset = l->tableOffset + l->entrySize * l->coloursUsed;
  if (l->bitsOffset > size) return E_FAIL;
  return S_OK;
}

HRESULT ChooseFormat(DibLayout* l) {
  if (l->compression == kBitFields) {
    if (l->tableOffset < kMaskHeaderSize) return E_FAIL;
    if (l->bits != 16 && l->bits != 24 && l->bits != 32) return E_FAIL;
    l->format = D3DFMT_A32B32G32R32F;  // any other layout: read through the masks
    for (const MaskFormat& m : kMaskFormats)
      if (m.bits == l->bits && SameMasks(m.masks, l->masks)) l->format = m.format;
    if (l->bits == kShiftedBgrx.bits && SameMasks(kShiftedBgrx.masks, l->masks)) {
      l->format = kShiftedBgrx.format;
      l->shiftedBgrx = true;
    }
    return S_OK;
  }
  // Run-length data only at its own bit count.
  if (l->compression > kBitFields || (l->compression == kRle8 && l->bits != 8) ||
      (l->compression == kRle4 && l->bits != 4))
    return E_FAIL;
  switch (l->bits) {
    case 1:
    case 4:
    case 8:
      l->format = D3DFMT_P8;
      return S_OK;
    case 16:
      l->format = D3DFMT_X1R5G5B5;
      return S_OK;
    case 24:
      l->format = D3DFMT_R8G8B8;
      return S_OK;
    case 32:
      l->format = D3DFMT_X8R8G8B8;
      return S_OK;
    default:
      return E_FAIL;
  }
}

void FillPalette(const DibLayout& l, const std::uint8_t* table, PaletteEntry* palette) {
  for (std::uint32_t i = 0; i < 256; ++i) {
    if (i < l.coloursUsed) {
      const std::uint8_t* e = table + std::uint64_t{l.entrySize} * i;
      palette[i] = PaletteEntry{e[2], e[1], e[0], 255};
    } else {
      palette[i] = PaletteEntry{255, 255, 255, 255};
    }
  }
}

// The image rows of a fill, in the order the file stores them.
class RowTarget {
 public:
  RowTarget(DecodedImage& image, const DibLayout& l)
      : m_pixels(static_cast<std::uint8_t*>(image.pixels)), m_pitch(image.rowPitch), m_height(l.height),
        m_topDown(l.topDown) {}

  // The image row that file row y fills.
  std::uint8_t* Row(std::uint32_t y) const {
    return m_pixels + std::uint64_t{m_pitch} * (m_topDown ? y : m_height - 1 - y);
  }

 private:
  std::uint8_t* m_pixels;
  std::uint32_t m_pitch;
  std::uint32_t m_height;
  bool m_topDown;
};

// The published run-length scheme of 8- and 4-bit bitmaps, into one P8 byte
// per texel; texels no run reaches stay 0. Runs may cover the padding of a file row (ImageMagick's do);
// those texels are dropped. Runs beyond the padding, or past the last row,
// fail.
HRESULT DecodeRle(const std::uint8_t* in, std::uint64_t size, const DibLayout& l, const RowTarget& rows) {
  const bool nibbles = l.compression == kRle4;
  const std::uint64_t rowEnd = nibbles ? 2 * l.sourcePitch : l.sourcePitch;
  std::uint64_t at = 0, x = 0;
  std::uint32_t y = 0;
  // Stores n texels from x on; texel i from texel(i).
  const auto put = [&](std::uint32_t n, auto texel) {
    std::uint8_t* row = rows.Row(y);
    for (std::uint32_t i = 0; i < n && x + i < l.width; ++i) row[x + i] = static_cast<std::uint8_t>(texel(i));
    x += n;
  };
  while (y < l.height) {
    if (size - at < 2) return E_FAIL;
    const std::uint32_t count = in[at], value = in[at + 1];
    at += 2;
    if (count) {
      if (count > rowEnd - x) return E_FAIL;
      put(count, [&](std::uint32_t i) { return !nibbles ? value : (i & 1) ? value & 15 : value >> 4; });
    } else if (value == 0) {  // end of row
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // move right and down
      if (size - at < 2) return E_FAIL;
      const std::uint32_t dx = in[at], dy = in[at + 1];
      at += 2;
      if (dx > rowEnd - x || dy > l.height - y) return E_FAIL;
      x += dx;
      y += dy;
    } else {  // a run of texels as they stand, padded to 16 bits
      const std::uint64_t bytes = nibbles ? (value + 1) / 2 : value;
      if (value > rowEnd - x || size - at < bytes) return E_FAIL;
      const std::uint8_t* run = in + at;
      put(value, [&](std::uint32_t i) { return !nibbles ? run[i] : (i & 1) ? run[i / 2] & 15 : run[i / 2] >> 4; });
      at += bytes + (bytes & 1);
      if (at > size) at = size;
    }
  }
  return S_OK;
}

// Bit fields outside the named formats, as floats: each field scaled to [0, 1],
// 1 for a field without a mask, and colour 0 when no colour field has one.
struct MaskChannel {
  std::uint32_t shift = 0;
  std::uint32_t mask = 0;
  float scale = 0;
};

void MaskRowToFloat(const std::uint8_t* in, std::uint32_t width, std::uint32_t bytes, const MaskChannel* channels,
                    bool noColour, float* out) {
  for (std::uint32_t x = 0; x < width; ++x, in += bytes, out += 4) {
    std::uint32_t value = 0;
    for (std::uint32_t b = 0; b < bytes; ++b) value |= std::uint32_t{in[b]} << (8 * b);
    for (int c = 0; c < 4; ++c) {
      const MaskChannel& ch = channels[c];
      out[c] = ch.mask ? static_cast<float>((value >> ch.shift) & ch.mask) * ch.scale : 1.0f;
    }
    if (noColour) out[0] = out[1] = out[2] = 0;
  }
}

// One file row (at `in`) into one image row.
void FillRow(const DibLayout& l, const std::uint8_t* in, const MaskChannel* channels, std::uint8_t* out) {
  if (l.format == D3DFMT_A32B32G32R32F) {
    const bool noColour = !l.masks[0] && !l.masks[1] && !l.masks[2];
    MaskRowToFloat(in, l.width, l.bits / 8, channels, noColour, reinterpret_cast<float*>(out));
  } else if (l.shiftedBgrx) {
    for (std::uint32_t x = 0; x < l.width; ++x, in += 4, out += 4) {
      out[0] = in[1];
      out[1] = in[2];
      out[2] = in[3];
      out[3] = 0;
    }
  } else if (l.bits == 1) {
    for (std::uint32_t x = 0; x < l.width; ++x) out[x] = (in[x / 8] >> (7 - x % 8)) & 1;
  } else if (l.bits == 4) {
    for (std::uint32_t x = 0; x < l.width; ++x) out[x] = (x & 1) ? in[x / 2] & 15 : in[x / 2] >> 4;
  } else {
    std::memcpy(out, in, l.sourceRowBytes);
  }
}

constexpr std::uint64_t kNoFileOffset = ~std::uint64_t{0};

// The info header at `data` and what follows it. A BMP file's header gives
// the offset of the texel bits (counted from the DIB's start here): it is
// honoured when it lies at or after the end of the colour table, so gaps
// that other writers leave there are skipped.
HRESULT ReadBitmap(DecodedImage& image, const std::uint8_t* data, std::uint32_t size, std::uint64_t bitsAt) {
  DibLayout l;
  HRESULT hr = ParseHeader(data, size, &l);
  if (SUCCEEDED(hr)) hr = ChooseFormat(&l);
  if (FAILED(hr)) return hr;
  if (bitsAt != kNoFileOffset) {
    if (bitsAt < l.tableOffset || bitsAt > size) return E_FAIL;
    if (bitsAt >= l.bitsOffset) l.bitsOffset = bitsAt;
  }

  if (l.bits == 1)
    l.sourceRowBytes = (std::uint64_t{l.width} + 7) / 8;
  else if (l.bits == 4)
    l.sourceRowBytes = (std::uint64_t{l.width} + 1) / 2;
  else
    l.sourceRowBytes = std::uint64_t{l.bits / 8} * l.width;
  l.sourcePitch = RoundUp4(l.sourceRowBytes);
  if (l.format == D3DFMT_A32B32G32R32F)
    l.storedRowBytes = std::uint64_t{l.width} * 16;
  else
    l.storedRowBytes = l.bits < 8 ? l.width : l.sourceRowBytes;
  const std::uint64_t pitch = RoundUp4(l.storedRowBytes);
  if (pitch > kMax32) return E_FAIL;

  const bool plain = l.compression == kRgb || l.compression == kBitFields;
  if (plain && (l.height - 1) * l.sourcePitch + l.sourceRowBytes + l.bitsOffset > size) return E_FAIL;
  const std::uint8_t* bits = data + l.bitsOffset;

  // A 32-bit file whose fourth bytes carry anything is taken to hold alpha.
  if (l.compression == kRgb && l.format == D3DFMT_X8R8G8B8) {
    for (std::uint32_t y = 0; y < l.height && l.format == D3DFMT_X8R8G8B8; ++y) {
      const std::uint8_t* row = bits + y * l.sourcePitch;
      for (std::uint32_t x = 0; x < l.width; ++x)
        if (row[4 * x + 3]) {
          l.format = D3DFMT_A8R8G8B8;
          break;
        }
    }
  }

  image.format = l.format;
  image.width = l.width;
  image.height = l.height;
  image.depth = 1;
  image.rowPitch = static_cast<std::uint32_t>(pitch);
  image.slicePitch = 0;
  if (!image.decodePixels) return S_OK;
  // Run-length data may end, or skip ahead, anywhere: a few bytes can claim
  // any size, so those decodes keep to the ceiling.
  if (!plain && !image.WithinCeiling(l.width, l.height)) return E_OUTOFMEMORY;

  if (l.format == D3DFMT_P8) {
    PaletteEntry* entries = image.AllocatePalette();
    if (!entries) return E_OUTOFMEMORY;
    FillPalette(l, data + l.tableOffset, entries);
  }

  // Top-down rows of whole bytes are the image as it stands.
  if (plain && l.topDown && l.bits >= 8 && l.format != D3DFMT_A32B32G32R32F && !l.shiftedBgrx) {
    image.pixels = const_cast<std::uint8_t*>(bits);
    return S_OK;
  }
  if (!image.AllocatePixels(pitch * l.height)) return E_OUTOFMEMORY;
  const RowTarget rows(image, l);
  if (!plain) return DecodeRle(bits, size - l.bitsOffset, l, rows);

  MaskChannel channels[4];
  for (int c = 0; c < 4; ++c)
    if (const std::uint32_t mask = l.masks[c]) {
      channels[c].shift = static_cast<std::uint32_t>(__builtin_ctz(mask));
      channels[c].mask = mask >> channels[c].shift;
      channels[c].scale = 1.0f / static_cast<float>(channels[c].mask);
    }
  for (std::uint32_t y = 0; y < l.height; ++y) FillRow(l, bits + y * l.sourcePitch, channels, rows.Row(y));
  return S_OK;
}


}  // namespace

HRESULT DecodedImage::ReadBmp(const std::uint8_t* data, std::uint32_t size) {
  if (size < kFileHeaderSize || Load16(data) != kMagic || Load32(data + 2) > size) return E_FAIL;
  const std::uint32_t bitsAt = Load32(data + 10);
  // An offset inside the file header is inside the headers as well.
  if (bitsAt < kFileHeaderSize) return E_FAIL;
  return ReadBitmap(*this, data + kFileHeaderSize, size - kFileHeaderSize, bitsAt - kFileHeaderSize);
}

HRESULT DecodedImage::ReadDib(const std::uint8_t* data, std::uint32_t size) {
  return ReadBitmap(*this, data, size, kNoFileOffset);
}

// ---------------------------------------------------------------------------
// Writing

namespace {

enum class ColourTable { None, Palette, Grey, R3G3B2 };

struct BmpLayout {
  D3DFORMAT format;
  std::uint32_t headerSize;
  std::uint32_t bits;
  std::uint32_t masks[4];
  ColourTable table;
};

constexpr BmpLayout kBmpLayouts[] = {
    {D3DFMT_P8, 40, 8, {}, ColourTable::Palette},
    {D3DFMT_L8, 40, 8, {}, ColourTable::Grey},
    {D3DFMT_R3G3B2, 40, 8, {}, ColourTable::R3G3B2},
    {D3DFMT_R8G8B8, 40, 24, {}, ColourTable::None},
    {D3DFMT_A8R8G8B8, 40, 32, {}, ColourTable::None},
    {D3DFMT_X8R8G8B8, 40, 32, {}, ColourTable::None},
    {D3DFMT_X1R5G5B5, 40, 16, {}, ColourTable::None},
    {D3DFMT_R5G6B5, 52, 16, {0xF800, 0x7E0, 0x1F}, ColourTable::None},
    {D3DFMT_X4R4G4B4, 52, 16, {0xF00, 0xF0, 0xF}, ColourTable::None},
    {D3DFMT_L16, 52, 16, {0xFFFF, 0xFFFF, 0xFFFF}, ColourTable::None},
    {D3DFMT_X8B8G8R8, 52, 32, {0xFF, 0xFF00, 0xFF0000}, ColourTable::None},
    {D3DFMT_G16R16, 52, 32, {0xFFFF, 0xFFFF0000, 0}, ColourTable::None},
    {D3DFMT_A1R5G5B5, 56, 16, {0x7C00, 0x3E0, 0x1F, 0x8000}, ColourTable::None},
    {D3DFMT_A4R4G4B4, 56, 16, {0xF00, 0xF0, 0xF, 0xF000}, ColourTable::None},
    {D3DFMT_A8R3G3B2, 56, 16, {0xE0, 0x1C, 0x3, 0xFF00}, ColourTable::None},
    {D3DFMT_A8L8, 56, 16, {0xFF, 0xFF, 0xFF, 0xFF00}, ColourTable::None},
    {D3DFMT_A2B10G10R10, 56, 32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}, ColourTable::None},
    {D3DFMT_A8B8G8R8, 56, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, ColourTable::None},
    {D3DFMT_A2R10G10B10, 56, 32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, ColourTable::None},
};

constexpr std::uint8_t kLevel3[8] = {0, 0x24, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
constexpr std::uint8_t kLevel2[4] = {0, 0x55, 0xAA, 0xFF};
constexpr std::uint32_t kTexelsPerMetre = 2834;  // 72 per inch

// Entries blue, green, red, 0.
void MakeColourTable(ColourTable kind, const PaletteEntry* palette, std::uint8_t* out) {
  for (std::uint32_t i = 0; i < 256; ++i, out += 4) {
    if (kind == ColourTable::Palette) {
      out[0] = palette[i].blue, out[1] = palette[i].green, out[2] = palette[i].red;
    } else if (kind == ColourTable::Grey) {
      out[0] = out[1] = out[2] = static_cast<std::uint8_t>(i);
    } else {
      out[0] = kLevel2[i & 3], out[1] = kLevel3[(i >> 2) & 7], out[2] = kLevel3[i >> 5];
    }
    out[3] = 0;
  }
}

}  // namespace

HRESULT DecodedImage::WriteBmp(ImageOutputStream& stream, bool fileHeader) {
  const BmpLayout* layout = nullptr;
  for (const BmpLayout& candidate : kBmpLayouts)
    if (candidate.format == format) layout = &candidate;
  if (!layout || (layout->table == ColourTable::Palette && !palette) || (!pixels && width && height)) return E_FAIL;
  if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return E_FAIL;

  const std::uint32_t texelBytes = layout->bits / 8;
  const std::uint64_t rowBytes = std::uint64_t{width} * texelBytes;
  const std::uint64_t paddedRow = RoundUp4(rowBytes);
  const std::uint32_t tableBytes = layout->table == ColourTable::None ? 0 : 1024;
  const std::uint32_t bitsOffset = layout->headerSize + kFileHeaderSize + tableBytes;
  const std::uint64_t total = paddedRow * height + bitsOffset;
  const std::uint64_t fileSize = RoundUp4(total);
  if (fileSize > kMax32) return E_FAIL;

  std::uint8_t header[kFileHeaderSize + kAlphaHeaderSize] = {};
  std::uint8_t* info = header + kFileHeaderSize;
  Store16(header, kMagic);
  Store32(header + 2, static_cast<std::uint32_t>(fileSize));
  Store32(header + 10, bitsOffset);
  Store32(info, layout->headerSize);
  Store32(info + 4, width);
  Store32(info + 8, height);
  Store16(info + 12, 1);
  Store16(info + 14, layout->bits);
  Store32(info + 16, layout->headerSize > kInfoHeaderSize ? kBitFields : kRgb);
  Store32(info + 24, kTexelsPerMetre);
  Store32(info + 28, kTexelsPerMetre);
  for (std::uint32_t i = 0; i < 4 && kInfoHeaderSize + 4 * i < layout->headerSize; ++i)
    Store32(info + kInfoHeaderSize + 4 * i, layout->masks[i]);
  const std::uint8_t* first = fileHeader ? header : info;
  HRESULT hr = stream.Write(first, static_cast<std::uint32_t>(info + layout->headerSize - first), nullptr);
  if (FAILED(hr)) return hr;
  if (tableBytes) {
    std::uint8_t table[1024];
    MakeColourTable(layout->table, palette, table);
    if (FAILED(hr = stream.Write(table, tableBytes, nullptr))) return hr;
  }

  const std::uint8_t zeros[4] = {};
  const auto* corner = static_cast<const std::uint8_t*>(pixels) + std::uint64_t{box.top} * rowPitch +
                       std::uint64_t{box.left} * texelBytes;
  for (std::uint32_t y = height; y-- > 0;) {
    if (FAILED(hr = stream.Write(corner + std::uint64_t{y} * rowPitch, static_cast<std::uint32_t>(rowBytes), nullptr)))
      return hr;
    if (FAILED(hr = stream.Write(zeros, static_cast<std::uint32_t>(paddedRow - rowBytes), nullptr))) return hr;
  }
  // The file size field is a multiple of 4; the file is as long as it says.
  if (fileHeader && FAILED(hr = stream.Write(zeros, static_cast<std::uint32_t>(fileSize - total), nullptr)))
    return hr;
  return S_OK;
}

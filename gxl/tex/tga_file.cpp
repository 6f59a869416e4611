// TGA files: colour-mapped, true-colour and grey images, raw or run-length
// encoded, in any of the four row and column orders. The format has no magic
// number, so the header is checked closely before anything else is read.
#include <cstring>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/file_bytes.h"
#include "gxl/tex/image_output_stream.h"

namespace {

using gxl::tex::detail::Load16;
using gxl::tex::detail::Store16;

constexpr std::uint32_t kHeaderSize = 18;
constexpr std::uint32_t kColourMapped = 1, kTrueColour = 2, kGrey = 3, kRunLength = 8;
constexpr std::uint32_t kTopDown = 0x20, kRightToLeft = 0x10, kAttributeBits = 0x0F;
constexpr std::uint32_t kPacketRun = 0x80;
constexpr std::uint32_t kMaxPacketTexels = 128;

struct TgaHeader {
  std::uint32_t idLength;
  std::uint32_t mapType;
  std::uint32_t imageType;
  std::uint32_t mapFirst;
  std::uint32_t mapLength;
  std::uint32_t mapEntryBits;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t bits;
  std::uint32_t descriptor;
};

TgaHeader ParseHeader(const std::uint8_t* p) {
  return TgaHeader{p[0],           p[1],           p[2],           Load16(p + 3), Load16(p + 5),
                   p[7],           Load16(p + 12), Load16(p + 14), p[16],         p[17]};
}

D3DFORMAT FormatOfBits(std::uint32_t bits) {
  switch (bits) {
    case 15:
      return D3DFMT_X1R5G5B5;
    case 16:
      return D3DFMT_A1R5G5B5;
    case 24:
      return D3DFMT_R8G8B8;
    case 32:
      return D3DFMT_A8R8G8B8;
    default:
      return D3DFMT_UNKNOWN;
  }
}

std::uint8_t Expand5(std::uint32_t c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); }

// A 16-bit entry's top bit is alpha only when the descriptor declares
// attribute bits; otherwise it is unused and the entry is opaque.
PaletteEntry MapEntry(const std::uint8_t* e, std::uint32_t entryBits, bool attributeBits) {
  switch (entryBits) {
    case 24:
      return PaletteEntry{e[2], e[1], e[0], 255};
    case 32:
      return PaletteEntry{e[2], e[1], e[0], e[3]};
    default: {
      const std::uint32_t v = Load16(e);
      const std::uint8_t alpha = entryBits == 15 || !attributeBits || (v & 0x8000) ? 255 : 0;
      return PaletteEntry{Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31), alpha};
    }
  }
}

HRESULT FillPalette(const TgaHeader& h, const std::uint8_t* map, PaletteEntry* palette) {
  if (h.mapFirst + h.mapLength > 256) return E_FAIL;
  for (std::uint32_t i = 0; i < 256; ++i) palette[i] = PaletteEntry{255, 255, 255, 255};
  const std::uint32_t entryBytes = (h.mapEntryBits + 7) / 8;
  bool allClear = true;
  for (std::uint32_t i = 0; i < h.mapLength; ++i) {
    palette[h.mapFirst + i] = MapEntry(map + i * entryBytes, h.mapEntryBits, h.descriptor & kAttributeBits);
    allClear = allClear && palette[h.mapFirst + i].flags == 0;
  }
  // A map whose alpha is 0 throughout carries no alpha at all.
  if (allClear)
    for (std::uint32_t i = 0; i < h.mapLength; ++i) palette[h.mapFirst + i].flags = 255;
  return S_OK;
}

// Places the texels of the file, in file order, into the image: rows from the
// bottom or the top, texels from the left or the right. A row is stored left
// to right as it comes and turned around when it is complete.
class TexelTarget {
 public:
  TexelTarget(std::uint8_t* pixels, const TgaHeader& h, std::uint32_t texelBytes)
      : m_pixels(pixels), m_width(h.width), m_height(h.height), m_bytes(texelBytes),
        m_rowBytes(std::uint64_t{h.width} * texelBytes), m_topDown(h.descriptor & kTopDown),
        m_rightToLeft(h.descriptor & kRightToLeft) {
    m_row = RowAt(0);
  }

  bool Done() const { return m_y == m_height; }
  // Texels the current row still takes.
  std::uint32_t RowLeft() const { return m_width - m_x; }
  // Stores n texels (n <= RowLeft()): copies of one texel, or n in a row.
  void PutRun(const std::uint8_t* texel, std::uint32_t n) {
    std::uint8_t* at = m_row + std::uint64_t{m_x} * m_bytes;
    if (m_bytes == 1) {
      std::memset(at, *texel, n);
    } else {
      for (std::uint32_t i = 0; i < n; ++i, at += m_bytes) std::memcpy(at, texel, m_bytes);
    }
    Advance(n);
  }
  void PutRaw(const std::uint8_t* texels, std::uint32_t n) {
    std::memcpy(m_row + std::uint64_t{m_x} * m_bytes, texels, std::uint64_t{n} * m_bytes);
    Advance(n);
  }

 private:
  std::uint8_t* RowAt(std::uint32_t y) const { return m_pixels + (m_topDown ? y : m_height - 1 - y) * m_rowBytes; }
  void Advance(std::uint32_t n) {
    m_x += n;
    if (m_x < m_width) return;
    if (m_rightToLeft) Reverse();
    m_x = 0;
    if (++m_y < m_height) m_row = RowAt(m_y);
  }
  void Reverse() {
    std::uint8_t* a = m_row;
    std::uint8_t* b = m_row + m_rowBytes - m_bytes;
    std::uint8_t t[4];
    for (; a < b; a += m_bytes, b -= m_bytes) {
      std::memcpy(t, a, m_bytes);
      std::memcpy(a, b, m_bytes);
      std::memcpy(b, t, m_bytes);
    }
  }

  std::uint8_t* m_pixels;
  std::uint32_t m_width;
  std::uint32_t m_height;
  std::uint32_t m_bytes;
  std::uint64_t m_rowBytes;
  bool m_topDown;
  bool m_rightToLeft;
  std::uint8_t* m_row = nullptr;
  std::uint32_t m_x = 0;
  std::uint32_t m_y = 0;
};

// Packets run on across row ends: the image is one stream of texels, and
// files whose packets stop at every row end read the same.
HRESULT DecodeRunLength(const std::uint8_t* in, std::uint64_t size, std::uint32_t texelBytes, TexelTarget& target) {
  std::uint64_t at = 0;
  while (!target.Done()) {
    if (at >= size) return E_FAIL;
    const std::uint32_t packet = in[at++];
    std::uint32_t count = (packet & ~kPacketRun) + 1;
    const bool run = packet & kPacketRun;
    const std::uint64_t bytes = std::uint64_t{run ? 1 : count} * texelBytes;
    if (size - at < bytes) return E_FAIL;
    // Texels past the last one are read but not stored.
    for (const std::uint8_t* texel = in + at; count && !target.Done();) {
      const std::uint32_t n = count < target.RowLeft() ? count : target.RowLeft();
      if (run) {
        target.PutRun(texel, n);
      } else {
        target.PutRaw(texel, n);
        texel += std::uint64_t{n} * texelBytes;
      }
      count -= n;
    }
    at += bytes;
  }
  return S_OK;
}

bool AnyTopBitSet(const std::uint8_t* texels, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i)
    if (texels[2 * i + 1] & 0x80) return true;
  return false;
}

}  // namespace

HRESULT DecodedImage::ReadTga(const std::uint8_t* data, std::uint32_t size) {
  if (size < kHeaderSize) return E_FAIL;
  const TgaHeader h = ParseHeader(data);
  if (h.mapType >= 2 || (h.imageType & ~(kRunLength | 3)) || !h.width || !h.height) return E_FAIL;
  if (h.mapType && FormatOfBits(h.mapEntryBits) == D3DFMT_UNKNOWN) return E_FAIL;

  D3DFORMAT texelFormat = D3DFMT_UNKNOWN;
  switch (h.imageType & 3) {
    case kColourMapped:
      if (h.mapType && h.bits == 8) texelFormat = D3DFMT_P8;
      break;
    case kTrueColour:
      texelFormat = FormatOfBits(h.bits);
      break;
    case kGrey:
      if (h.bits == 8) texelFormat = D3DFMT_L8;
      break;
  }
  if (texelFormat == D3DFMT_UNKNOWN) return E_FAIL;
  const std::uint32_t texelBytes = (h.bits + 7) / 8;

  const std::uint64_t mapBytes = h.mapType ? std::uint64_t{h.mapLength} * ((h.mapEntryBits + 7) / 8) : 0;
  const std::uint64_t texelsAt = kHeaderSize + h.idLength + mapBytes;
  if (texelsAt > size) return E_FAIL;

  if (decodePixels && texelFormat == D3DFMT_P8) {
    PaletteEntry* entries = AllocatePalette();
    if (!entries) return E_OUTOFMEMORY;
    const HRESULT hr = FillPalette(h, data + kHeaderSize + h.idLength, entries);
    if (FAILED(hr)) return hr;
  }

  format = texelFormat;
  width = h.width;
  height = h.height;
  depth = 1;
  rowPitch = h.width * texelBytes;
  slicePitch = 0;
  if (!decodePixels) return S_OK;

  const std::uint8_t* texels = data + texelsAt;
  const std::uint64_t left = size - texelsAt;
  const std::uint64_t count = std::uint64_t{h.width} * h.height;
  const std::uint64_t imageBytes = count * texelBytes;
  const bool runLength = h.imageType & kRunLength;
  if (!runLength && left < imageBytes) return E_FAIL;
  // Every packet holds at most 128 texels: a stream too short for the image
  // is refused before its storage is allocated.
  if (runLength && left < (count + kMaxPacketTexels - 1) / kMaxPacketTexels * (1 + texelBytes)) return E_FAIL;

  if (!runLength && (h.descriptor & (kTopDown | kRightToLeft)) == kTopDown) {
    pixels = const_cast<std::uint8_t*>(texels);
  } else {
    std::uint8_t* out = AllocateWrittenPixels(imageBytes);
    if (!out) return E_OUTOFMEMORY;
    TexelTarget target(out, h, texelBytes);
    if (runLength) {
      const HRESULT hr = DecodeRunLength(texels, left, texelBytes, target);
      if (FAILED(hr)) return hr;
    } else {
      for (std::uint32_t y = 0; y < h.height; ++y) target.PutRaw(texels + y * std::uint64_t{rowPitch}, h.width);
    }
  }
  if (format == D3DFMT_A1R5G5B5 && !AnyTopBitSet(static_cast<const std::uint8_t*>(pixels), count))
    format = D3DFMT_X1R5G5B5;
  return S_OK;
}

HRESULT DecodedImage::WriteTga(ImageOutputStream& stream) {
  const bool alpha = format == D3DFMT_A8R8G8B8;
  if ((!alpha && format != D3DFMT_R8G8B8) || (!pixels && width && height)) return E_FAIL;
  if (width > 0xFFFF || height > 0xFFFF) return E_FAIL;

  // The ID field: the text and its terminating NUL.
  static constexpr char kId[] = "Saved by GXL";
  constexpr std::uint32_t kIdLength = sizeof kId;
  const std::uint32_t texelBytes = alpha ? 4 : 3;
  std::uint8_t header[kHeaderSize + kIdLength] = {};
  header[0] = kIdLength;
  header[2] = kTrueColour;
  Store16(header + 12, width);
  Store16(header + 14, height);
  header[16] = static_cast<std::uint8_t>(texelBytes * 8);
  header[17] = static_cast<std::uint8_t>(alpha ? kTopDown | 8 : kTopDown);
  std::memcpy(header + kHeaderSize, kId, kIdLength);
  HRESULT hr = stream.Write(header, sizeof header, nullptr);
  if (FAILED(hr)) return hr;

  const auto* corner = static_cast<const std::uint8_t*>(pixels) + std::uint64_t{box.top} * rowPitch +
                       std::uint64_t{box.left} * texelBytes;
  for (std::uint32_t y = 0; y < height; ++y)
    if (FAILED(hr = stream.Write(corner + std::uint64_t{y} * rowPitch, width * texelBytes, nullptr))) return hr;
  return S_OK;
}

// Radiance RGBE files: red, green and blue mantissas with a shared exponent,
// in flat or run-length scanlines, read into A32B32G32R32F with alpha 1 in
// any of the eight scanline orders (kept in a smaller form of their own
// until they are converted), and written top-down, left to right.
// Run-length scanlines exist only for lengths 8 to 32767: other lengths are
// always flat, which is how other readers take them too.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/file_bytes.h"
#include "gxl/tex/header_text.h"
#include "gxl/tex/image_output_stream.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/rgbe_texel.h"
#include "platform/mm_timer.h"

namespace {

using gxl::tex::detail::HeaderLines;
using gxl::tex::detail::HeaderText;
using gxl::tex::detail::kMax32;
using gxl::tex::detail::kMaxHeaderLine;
using gxl::tex::detail::FloatToRgbe;

constexpr char kSignature[] = "#?RADIANCE";
constexpr std::uint32_t kSignatureLength = sizeof kSignature - 1;
constexpr std::uint64_t kMinRunLength = 8, kMaxRunLength = 0x7FFF;
constexpr std::uint32_t kMaxPacket = 127;
// Bias of the exponent byte, and 8 more for the mantissa's bits.
constexpr int kExponentBias = 136;

bool UsesRunLength(std::uint64_t length) { return length >= kMinRunLength && length <= kMaxRunLength; }

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// One axis token of the resolution line: its sign and letter, and its size.
struct Axis {
  bool isY;
  bool reversed;  // rows from the bottom ("+Y") or texels from the right ("-X")
  std::uint32_t size;
};

bool ReadAxis(HeaderText& text, Axis* axis) {
  text.SkipSpace();
  const bool plus = text.Accept('+');
  if (!plus && !text.Accept('-')) return false;
  axis->isY = text.Accept('Y');
  if (!axis->isY && !text.Accept('X')) return false;
  axis->reversed = axis->isY == plus;
  return text.ReadSize(&axis->size) && axis->size;
}

// Where the picture keeps its texels: as the file's four bytes ("RGBE"), or,
// when an exposure divides them, as three floats (" R32"), each channel
// (m + 0.5) x 2^(e - 136) / exposure in double, rounded once.
struct RgbeTexels {
  static constexpr std::uint32_t kBytes = 4;
  void Plane(std::uint8_t* texel, std::uint32_t plane, std::uint8_t b) const { texel[plane] = b; }
  void Whole(std::uint8_t* texel, const std::uint8_t* rgbe) const { std::memcpy(texel, rgbe, 4); }
};

class ExposedTexels {
 public:
  static constexpr std::uint32_t kBytes = 12;
  explicit ExposedTexels(double exposure) : m_exposure(exposure) {
    for (int e = 0; e < 256; ++e) m_powers[e] = std::ldexp(1.0, e - kExponentBias);
  }
  // The mantissas wait in the texel's floats for the exponent, which comes last.
  void Plane(std::uint8_t* texel, std::uint32_t plane, std::uint8_t b) const {
    if (plane < 3) {
      const float m = b;
      std::memcpy(texel + 4 * plane, &m, 4);
      return;
    }
    float rgb[3];
    std::memcpy(rgb, texel, sizeof rgb);
    for (float& c : rgb) c = static_cast<float>((c + 0.5) * m_powers[b] / m_exposure);
    std::memcpy(texel, rgb, sizeof rgb);
  }
  void Whole(std::uint8_t* texel, const std::uint8_t* rgbe) const {
    for (std::uint32_t plane = 0; plane < 4; ++plane) Plane(texel, plane, rgbe[plane]);
  }

 private:
  double m_exposure;
  double m_powers[256];
};

// Where a scanline's texels go in the picture: the first one's bytes and the
// step, in bytes, from one texel to the next (the scanline may run along a
// row or a column, either way).
struct Scanline {
  std::uint8_t* first;
  std::int64_t step;
  std::uint64_t length;
  std::uint8_t* At(std::uint64_t i) const { return first + static_cast<std::int64_t>(i) * step; }
};

// A run-length scanline after its four-byte start: each of the four byte
// planes in turn, from packets that must end exactly at the scanline's end.
template <class Texels>
HRESULT ReadRunLength(const std::uint8_t*& in, const std::uint8_t* end, const Scanline& scan, const Texels& texels) {
  const std::uint64_t length = scan.length;
  for (std::uint32_t plane = 0; plane < 4; ++plane) {
    for (std::uint64_t i = 0; i < length;) {
      if (in == end) return E_FAIL;
      std::uint32_t count = *in++;
      const bool run = count > 128;
      if (run) count -= 128;
      if (count > length - i || static_cast<std::uint64_t>(end - in) < (run ? 1u : count)) return E_FAIL;
      for (std::uint32_t k = 0; k < count; ++k) texels.Plane(scan.At(i + k), plane, in[run ? 0 : k]);
      in += run ? 1 : count;
      i += count;
    }
  }
  return S_OK;
}

// A flat scanline: four bytes a texel, where (1, 1, 1, n) repeats the texel
// before it n times, shifted left by 8 more for each repeat in a row.
template <class Texels>
HRESULT ReadFlat(const std::uint8_t*& in, const std::uint8_t* end, const Scanline& scan, const Texels& texels) {
  const std::uint64_t length = scan.length;
  std::uint32_t shift = 0;
  for (std::uint64_t i = 0; i < length; in += 4) {
    if (end - in < 4) return E_FAIL;
    if (in[0] != 1 || in[1] != 1 || in[2] != 1) {
      texels.Whole(scan.At(i++), in);
      shift = 0;
      continue;
    }
    if (i == 0 || shift >= 32) return E_FAIL;
    const std::uint64_t count = std::uint64_t{in[3]} << shift;
    if (count > length - i) return E_FAIL;
    const std::uint8_t* previous = scan.At(i - 1);
    for (std::uint64_t k = 0; k < count; ++k) std::memcpy(scan.At(i + k), previous, Texels::kBytes);
    i += count;
    shift += 8;
  }
  return S_OK;
}

// The scanlines of a picture of w x h texels whose slow axis is `slow`.
template <class Texels>
HRESULT ReadScanlines(const std::uint8_t* in, const std::uint8_t* end, const Axis& slow, const Axis& fast,
                      std::uint32_t w, std::uint8_t* out, const Texels& texels) {
  constexpr std::uint64_t kBytes = Texels::kBytes;
  const std::uint64_t length = fast.size;
  for (std::uint32_t s = 0; s < slow.size; ++s) {
    if (end - in < 4) return E_FAIL;
    // The scanline's first texel in the picture and the step to the next one.
    const std::uint64_t along = slow.reversed ? slow.size - 1 - s : s;
    const std::int64_t acrossStep = slow.isY ? kBytes : std::int64_t{w} * kBytes;
    Scanline scan{out + along * (slow.isY ? std::uint64_t{w} * kBytes : kBytes),
                  fast.reversed ? -acrossStep : acrossStep, length};
    if (fast.reversed) scan.first += (length - 1) * acrossStep;
    HRESULT hr;
    if (UsesRunLength(length) && in[0] == 2 && in[1] == 2 && in[2] < 128) {
      if ((std::uint64_t{in[2]} << 8 | in[3]) != length) return E_FAIL;
      in += 4;
      hr = ReadRunLength(in, end, scan, texels);
    } else {
      hr = ReadFlat(in, end, scan, texels);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// The largest value an exponent byte can hold: 255 x 2^119, mantissa 255.
constexpr double kLargestRgbe = 255.0 * 0x1p119;

}  // namespace

void gxl::tex::detail::FloatToRgbe(const std::uint8_t* rgb, std::uint8_t* out) {
  float texel[3];
  std::memcpy(texel, rgb, sizeof texel);
  double c[3];
  for (int i = 0; i < 3; ++i) {
    // Negative values and NaN count as 0; larger ones and infinity saturate.
    c[i] = texel[i] > 0 ? texel[i] : 0.0;
    if (c[i] > kLargestRgbe) c[i] = kLargestRgbe;
  }
  const double v = std::fmax(c[0], std::fmax(c[1], c[2]));
  if (v < 1e-32) {
    std::memset(out, 0, 4);
    return;
  }
  int e = 0;
  const double scale = std::frexp(v, &e) * 256.0 / v;
  for (int i = 0; i < 3; ++i) out[i] = static_cast<std::uint8_t>(c[i] * scale);
  out[3] = out[0] | out[1] | out[2] ? static_cast<std::uint8_t>(e + 128) : 0;
}

namespace {

// One byte plane of a scanline (every fourth byte) as packets: runs of 2 to
// 127 equal bytes, and literal stretches of up to 127 bytes that stop where
// a run begins. Returns the end of the packets written.
std::uint8_t* EncodePlane(const std::uint8_t* plane, std::uint32_t length, std::uint8_t* out) {
  auto at = [plane](std::uint32_t i) { return plane[4 * i]; };
  for (std::uint32_t i = 0; i < length;) {
    std::uint32_t run = 1;
    while (i + run < length && run < kMaxPacket && at(i + run) == at(i)) ++run;
    if (run >= 2) {
      *out++ = static_cast<std::uint8_t>(128 + run);
      *out++ = at(i);
      i += run;
      continue;
    }
    std::uint8_t* count = out++;
    std::uint32_t n = 0;
    do {
      *out++ = at(i++);
      ++n;
    } while (i < length && n < kMaxPacket && !(i + 1 < length && at(i + 1) == at(i)));
    *count = static_cast<std::uint8_t>(n);
  }
  return out;
}

}  // namespace

HRESULT DecodedImage::ReadHdr(const std::uint8_t* data, std::uint32_t size) {
  if (size <= kSignatureLength || std::memcmp(data, kSignature, kSignatureLength) != 0) return E_FAIL;

  // Header lines up to a blank one; only FORMAT and EXPOSURE count.
  HeaderLines lines(data, size, 0);
  double exposure = 1.0;
  bool formatSeen = false;
  for (std::string_view line; lines.Next(&line, size) && !line.empty();) {
    if (StartsWith(line, "FORMAT=")) {
      line.remove_prefix(7);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      // Both read the same way, without a colour conversion.
      if (!StartsWith(line, "32-bit_rle_rgbe") && !StartsWith(line, "32-bit_rle_xyze")) return E_FAIL;
      if (!HeaderText(line.substr(15)).AtEnd()) return E_FAIL;
      formatSeen = true;
    } else if (StartsWith(line, "EXPOSURE=")) {
      HeaderText value(line.substr(9));
      double v = 0;
      // An exposure of 0 or beyond the numbers would wipe out the image.
      if (value.ReadNumber(&v) && std::isfinite(v) && v != 0) exposure *= v;
    }
  }
  std::string_view resolution;
  if (!formatSeen || !lines.Next(&resolution, kMaxHeaderLine) || resolution.size() <= 2) return E_FAIL;
  HeaderText text(resolution);
  Axis slow{}, fast{};
  if (!ReadAxis(text, &slow) || !ReadAxis(text, &fast) || slow.isY == fast.isY || !text.AtEnd()) return E_FAIL;
  const std::uint32_t w = slow.isY ? fast.size : slow.size;
  const std::uint32_t h = slow.isY ? slow.size : fast.size;

  // Every scanline takes at least one texel, and a second (a repeat at
  // least) when it is longer: a file too short is refused before its
  // storage is allocated.
  if (std::uint64_t{slow.size} * (fast.size > 1 ? 8 : 4) > size - lines.At()) return E_FAIL;
  // The record's 32-bit pitches describe no more.
  if (std::uint64_t{w} * h > kMax32 / 16) return E_OUTOFMEMORY;
  if (!decodePixels) {
    format = D3DFMT_A32B32G32R32F;
    width = w;
    height = h;
    depth = 1;
    rowPitch = w * 16;
    slicePitch = 0;
    return S_OK;
  }
  // Runs and repeats let a few bytes stand for any number of texels: the
  // declared size alone decides whether the picture may be allocated. It is
  // kept as the file's texels, converted as they are read, unless an
  // exposure divides them.
  if (!WithinCeiling(w, h)) return E_OUTOFMEMORY;
  const std::uint8_t* in = data + lines.At();
  const std::uint8_t* end = data + size;
  if (exposure == 1.0) {
    std::uint8_t* out = AllocateImage(kFormatRgbe, w, h, RgbeTexels::kBytes);
    return out ? ReadScanlines(in, end, slow, fast, w, out, RgbeTexels{}) : E_OUTOFMEMORY;
  }
  std::uint8_t* out = AllocateImage(kFormatR32, w, h, ExposedTexels::kBytes);
  return out ? ReadScanlines(in, end, slow, fast, w, out, ExposedTexels(exposure)) : E_OUTOFMEMORY;
}

HRESULT DecodedImage::WriteHdr(ImageOutputStream& stream) {
  if (format != D3DFMT_A32B32G32R32F || (!pixels && width && height)) return E_FAIL;
  if (std::uint64_t{width} * 4 > kMax32) return E_OUTOFMEMORY;
  const bool runLength = UsesRunLength(width);
  // A scanline of texels, and its packets: at worst two bytes for each byte
  // of a plane (a literal of one before a run of two).
  std::unique_ptr<std::uint8_t[]> scan(new (std::nothrow) std::uint8_t[std::size_t{width} * 4 + 1]);
  const std::size_t packetBytes = runLength ? 4 + 8 * std::size_t{width} : 1;
  std::unique_ptr<std::uint8_t[]> packets(new (std::nothrow) std::uint8_t[packetBytes]);
  if (!scan || !packets) return E_OUTOFMEMORY;

  SYSTEMTIME now{};
  GetLocalTime(&now);
  char header[256];
  const int length = std::snprintf(header, sizeof header,
                                   "#?RADIANCE\n#File created by the GXL library\nFORMAT=32-bit_rle_rgbe\n"
                                   "#Timestamp: %02u/%02u/%02u %02u:%02u:%02u\n\n-Y %u +X %u\n",
                                   unsigned{now.wMonth}, unsigned{now.wDay}, now.wYear % 100u, unsigned{now.wHour},
                                   unsigned{now.wMinute}, unsigned{now.wSecond}, height, width);
  if (FAILED(stream.Write(header, static_cast<std::uint32_t>(length), nullptr))) return E_FAIL;

  const auto* corner =
      static_cast<const std::uint8_t*>(pixels) + std::uint64_t{box.top} * rowPitch + std::uint64_t{box.left} * 16;
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* texels = corner + std::uint64_t{y} * rowPitch;
    for (std::uint32_t x = 0; x < width; ++x)
      FloatToRgbe(texels + 16 * std::uint64_t{x}, scan.get() + 4 * std::uint64_t{x});
    const std::uint8_t* bytes = scan.get();
    std::uint64_t count = std::uint64_t{width} * 4;
    if (runLength) {
      std::uint8_t* out = packets.get();
      *out++ = 2;
      *out++ = 2;
      *out++ = static_cast<std::uint8_t>(width >> 8);
      *out++ = static_cast<std::uint8_t>(width & 255);
      for (std::uint32_t plane = 0; plane < 4; ++plane) out = EncodePlane(scan.get() + plane, width, out);
      bytes = packets.get();
      count = static_cast<std::uint64_t>(out - packets.get());
    }
    if (FAILED(stream.Write(bytes, static_cast<std::uint32_t>(count), nullptr))) return E_FAIL;
  }
  return S_OK;
}

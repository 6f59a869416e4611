// The codecs of the formats stored as packed bit fields: unsigned colour,
// luminance and signed formats. One template converts a whole row; each format
// is a layout, so every format gets its own tight loop.
#include <new>

#include "gxl/math/vector.h"
#include "gxl/tex/codec_families.h"
#include "gxl/tex/codec_quantize.h"
#include "gxl/tex/pixel_format.h"

namespace gxl::tex::detail {
namespace {

struct PackedLayout {
  std::uint32_t bytes;
  ChannelRange range;
  Field r, g, b, a;
  bool luminance = false;  // r holds L: read into R, G and B; written from the colour's luminance
  bool blackRgb = false;   // R, G and B read 0 (A8)
  bool derivedBlue = false;  // CxV8U8: B is the z of a unit normal; written normalised
};

constexpr Field U(std::uint8_t shift, std::uint8_t bits) { return Field{shift, bits, false}; }
constexpr Field S(std::uint8_t shift, std::uint8_t bits) { return Field{shift, bits, true}; }
constexpr Field None{};
constexpr ChannelRange kUnorm = ChannelRange::Unorm;
constexpr ChannelRange kSnormColor = ChannelRange::SnormColor;
constexpr ChannelRange kSnormAll = ChannelRange::SnormAll;

// clang-format off
//                                   bytes  range       R          G          B          A
constexpr PackedLayout kR8G8B8       {3, kUnorm,      U(16, 8),  U(8, 8),   U(0, 8),   None};
constexpr PackedLayout kA8R8G8B8     {4, kUnorm,      U(16, 8),  U(8, 8),   U(0, 8),   U(24, 8)};
constexpr PackedLayout kX8R8G8B8     {4, kUnorm,      U(16, 8),  U(8, 8),   U(0, 8),   None};
constexpr PackedLayout kR5G6B5       {2, kUnorm,      U(11, 5),  U(5, 6),   U(0, 5),   None};
constexpr PackedLayout kX1R5G5B5     {2, kUnorm,      U(10, 5),  U(5, 5),   U(0, 5),   None};
constexpr PackedLayout kA1R5G5B5     {2, kUnorm,      U(10, 5),  U(5, 5),   U(0, 5),   U(15, 1)};
constexpr PackedLayout kA4R4G4B4     {2, kUnorm,      U(8, 4),   U(4, 4),   U(0, 4),   U(12, 4)};
constexpr PackedLayout kR3G3B2       {1, kUnorm,      U(5, 3),   U(2, 3),   U(0, 2),   None};
constexpr PackedLayout kA8           {1, kUnorm,      None,      None,      None,      U(0, 8), false, true};
constexpr PackedLayout kA8R3G3B2     {2, kUnorm,      U(5, 3),   U(2, 3),   U(0, 2),   U(8, 8)};
constexpr PackedLayout kX4R4G4B4     {2, kUnorm,      U(8, 4),   U(4, 4),   U(0, 4),   None};
constexpr PackedLayout kA2B10G10R10  {4, kUnorm,      U(0, 10),  U(10, 10), U(20, 10), U(30, 2)};
constexpr PackedLayout kA8B8G8R8     {4, kUnorm,      U(0, 8),   U(8, 8),   U(16, 8),  U(24, 8)};
constexpr PackedLayout kX8B8G8R8     {4, kUnorm,      U(0, 8),   U(8, 8),   U(16, 8),  None};
constexpr PackedLayout kG16R16       {4, kUnorm,      U(0, 16),  U(16, 16), None,      None};
constexpr PackedLayout kA2R10G10B10  {4, kUnorm,      U(20, 10), U(10, 10), U(0, 10),  U(30, 2)};
constexpr PackedLayout kA16B16G16R16 {8, kUnorm,      U(0, 16),  U(16, 16), U(32, 16), U(48, 16)};
constexpr PackedLayout kR16G16B16    {6, kUnorm,      U(32, 16), U(16, 16), U(0, 16),  None};
constexpr PackedLayout kL8           {1, kUnorm,      U(0, 8),   None,      None,      None,     true};
constexpr PackedLayout kA8L8         {2, kUnorm,      U(0, 8),   None,      None,      U(8, 8),  true};
constexpr PackedLayout kA4L4         {1, kUnorm,      U(0, 4),   None,      None,      U(4, 4),  true};
constexpr PackedLayout kL16          {2, kUnorm,      U(0, 16),  None,      None,      None,     true};
constexpr PackedLayout kA16L16       {4, kUnorm,      U(0, 16),  None,      None,      U(16, 16), true};
constexpr PackedLayout kD16Lockable  {2, kUnorm,      U(0, 16),  None,      None,      None,     true};
constexpr PackedLayout kV8U8         {2, kSnormColor, S(0, 8),   S(8, 8),   None,      None};
constexpr PackedLayout kL6V5U5       {2, kSnormColor, S(0, 5),   S(5, 5),   None,      U(10, 6)};
constexpr PackedLayout kX8L8V8U8     {4, kSnormColor, S(0, 8),   S(8, 8),   None,      U(16, 8)};
constexpr PackedLayout kQ8W8V8U8     {4, kSnormAll,   S(0, 8),   S(8, 8),   S(16, 8),  S(24, 8)};
constexpr PackedLayout kV16U16       {4, kSnormColor, S(0, 16),  S(16, 16), None,      None};
constexpr PackedLayout kA2W10V10U10  {4, kSnormColor, S(0, 10),  S(10, 10), S(20, 10), U(30, 2)};
constexpr PackedLayout kQ16W16V16U16 {8, kSnormAll,   S(0, 16),  S(16, 16), S(32, 16), S(48, 16)};
constexpr PackedLayout kCxV8U8       {2, kSnormColor, S(0, 8),   S(8, 8),   None,      None,     false, false, true};
// clang-format on

// The byte places of a layout whose stored channels are all whole unsigned
// bytes, read as they stand (no luminance or derived channel); bytes 0 otherwise.
constexpr ByteChannels ByteChannelsOf(const PackedLayout& l) {
  ByteChannels b{l.bytes, {-1, -1, -1, -1}};
  const Field fields[4] = {l.r, l.g, l.b, l.a};
  if (l.range != kUnorm || l.luminance || l.blackRgb || l.derivedBlue) return ByteChannels{};
  for (int c = 0; c < 4; ++c) {
    if (!fields[c].bits) continue;
    if (fields[c].bits != 8 || fields[c].shift % 8 || fields[c].isSigned) return ByteChannels{};
    b.offset[c] = static_cast<std::int8_t>(fields[c].shift / 8);
  }
  return b;
}

template <PackedLayout L>
class PackedCodec final : public PixelCodec {
 public:
  explicit PackedCodec(const ImageRegion& region) : PixelCodec(region, L.bytes * 8, L.range) {}

  const ByteChannels* ByteChannelLayout() const override { return kByteChannels.bytes ? &kByteChannels : nullptr; }

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    const std::uint8_t* src = RowAddress(y, z);
    constexpr float kAbsent = L.blackRgb ? 0.0f : 1.0f;
    for (std::uint32_t x = 0; x < m_width; ++x, src += L.bytes) {
      const std::uint64_t w = LoadTexel<L.bytes>(src);
      float r = kAbsent, g = kAbsent, b = kAbsent, a = 1.0f;
      if constexpr (L.r.bits != 0) r = ReadField<L.r>(w);
      if constexpr (L.g.bits != 0) g = ReadField<L.g>(w);
      if constexpr (L.b.bits != 0) b = ReadField<L.b>(w);
      if constexpr (L.a.bits != 0) a = ReadField<L.a>(w);
      if constexpr (L.luminance) g = b = r;
      if constexpr (L.derivedBlue) {
        const float s = 1.0f - r * r - g * g;
        b = s > 0.0f ? std::sqrt(s) : 0.0f;
      }
      out[x] = ColorF(r, g, b, a);
    }
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    if constexpr (L.luminance) {
      // 0.2125 R + 0.7154 G + 0.0721 B, summed so that a grey keeps its exact
      // value: the error diffusion would otherwise spread the weights' rounding.
      for (std::uint32_t x = 0; x < m_width; ++x) {
        const ColorF& c = row[x];
        row[x].r = c.g + (0.2125f * (c.r - c.g) + 0.0721f * (c.b - c.g));
      }
    }
    if constexpr (L.derivedBlue) {
      for (std::uint32_t x = 0; x < m_width; ++x) {
        Vec3 n(row[x].r, row[x].g, row[x].b);
        Vec3Normalize(&n, &n);
        row[x].r = n.x;
        row[x].g = n.y;
        row[x].b = n.z;
      }
    }
    QuantizeRow(y, z, row,
                [&](auto diffuse, const RowTarget& t, const ColorF* r) { Encode<decltype(diffuse)::value>(t, r); });
  }

 private:
  template <bool kDiffuse>
  static void Encode(const RowTarget& t, const ColorF* row);

  static constexpr ByteChannels kByteChannels = ByteChannelsOf(L);
};

// Without diffusion the processing order only picks the dither offsets, so the
// row is converted left to right with the offset of each column's place in the
// serpentine order.
template <PackedLayout L>
template <bool kDiffuse>
void PackedCodec<L>::Encode(const RowTarget& t, const ColorF* row) {
  if constexpr (!kDiffuse) {
    static constexpr Field kFields[4] = {L.r, L.g, L.b, L.a};
    float scale[4], lo[4], hi[4];
    for (int c = 0; c < 4; ++c) {
      const float s = kFields[c].bits ? static_cast<float>(LargestCode(kFields[c])) : 0.0f;
      scale[c] = s;
      hi[c] = s;
      lo[c] = kFields[c].isSigned ? -s : 0.0f;
    }
    const Quantizer4 quantize(scale, lo, hi);
    float offset[4];
    for (std::uint32_t i = 0; i < 4; ++i)
      offset[i] = t.dither[t.rightToLeft ? (t.width - 1 - i) & 3 : i];
    std::uint8_t* dst = t.texels;
    for (std::uint32_t x = 0; x < t.width; ++x, dst += L.bytes) {
      std::int32_t q[4];
      quantize(row[x], offset[x & 3], q);
      std::uint64_t w = 0;
      if constexpr (L.r.bits != 0) w |= Pack<L.r>(q[0]);
      if constexpr (L.g.bits != 0) w |= Pack<L.g>(q[1]);
      if constexpr (L.b.bits != 0) w |= Pack<L.b>(q[2]);
      if constexpr (L.a.bits != 0) w |= Pack<L.a>(q[3]);
      StoreTexel<L.bytes>(dst, w);
    }
  } else {
    const std::int64_t dir = t.rightToLeft ? -1 : 1;
    std::int64_t x = t.rightToLeft ? std::int64_t{t.width} - 1 : 0;
    Diffusion diff{t.diffusion, 0, dir};
    for (std::uint32_t n = 0; n < t.width; ++n, x += dir) {
      diff.x = x;
      const float d = t.dither[n & 3];
      std::uint64_t w = 0;
      PackChannel<L.r, 0, true>(w, row[x], d, diff);
      PackChannel<L.g, 1, true>(w, row[x], d, diff);
      PackChannel<L.b, 2, true>(w, row[x], d, diff);
      PackChannel<L.a, 3, true>(w, row[x], d, diff);
      StoreTexel<L.bytes>(t.texels + x * L.bytes, w);
    }
  }
}

// The classes of the formats.
using PixelCodecR8G8B8 = PackedCodec<kR8G8B8>;
using PixelCodecA8R8G8B8 = PackedCodec<kA8R8G8B8>;
using PixelCodecX8R8G8B8 = PackedCodec<kX8R8G8B8>;
using PixelCodecR5G6B5 = PackedCodec<kR5G6B5>;
using PixelCodecX1R5G5B5 = PackedCodec<kX1R5G5B5>;
using PixelCodecA1R5G5B5 = PackedCodec<kA1R5G5B5>;
using PixelCodecA4R4G4B4 = PackedCodec<kA4R4G4B4>;
using PixelCodecR3G3B2 = PackedCodec<kR3G3B2>;
using PixelCodecA8 = PackedCodec<kA8>;
using PixelCodecA8R3G3B2 = PackedCodec<kA8R3G3B2>;
using PixelCodecX4R4G4B4 = PackedCodec<kX4R4G4B4>;
using PixelCodecA2B10G10R10 = PackedCodec<kA2B10G10R10>;
using PixelCodecA8B8G8R8 = PackedCodec<kA8B8G8R8>;
using PixelCodecX8B8G8R8 = PackedCodec<kX8B8G8R8>;
using PixelCodecG16R16 = PackedCodec<kG16R16>;
using PixelCodecA2R10G10B10 = PackedCodec<kA2R10G10B10>;
using PixelCodecA16B16G16R16 = PackedCodec<kA16B16G16R16>;
using PixelCodecR16G16B16 = PackedCodec<kR16G16B16>;
using PixelCodecL8 = PackedCodec<kL8>;
using PixelCodecA8L8 = PackedCodec<kA8L8>;
using PixelCodecA4L4 = PackedCodec<kA4L4>;
using PixelCodecL16 = PackedCodec<kL16>;
using PixelCodecA16L16 = PackedCodec<kA16L16>;
using PixelCodecD16Lockable = PackedCodec<kD16Lockable>;
using PixelCodecV8U8 = PackedCodec<kV8U8>;
using PixelCodecL6V5U5 = PackedCodec<kL6V5U5>;
using PixelCodecX8L8V8U8 = PackedCodec<kX8L8V8U8>;
using PixelCodecQ8W8V8U8 = PackedCodec<kQ8W8V8U8>;
using PixelCodecV16U16 = PackedCodec<kV16U16>;
using PixelCodecA2W10V10U10 = PackedCodec<kA2W10V10U10>;
using PixelCodecQ16W16V16U16 = PackedCodec<kQ16W16V16U16>;
using PixelCodecCxV8U8 = PackedCodec<kCxV8U8>;

template <class Codec>
PixelCodec* New(const ImageRegion& region) {
  return new (std::nothrow) Codec(region);
}

}  // namespace

PixelCodec* NewPackedCodec(const ImageRegion& region) {
  switch (region.format) {
    case D3DFMT_R8G8B8: return New<PixelCodecR8G8B8>(region);
    case D3DFMT_A8R8G8B8: return New<PixelCodecA8R8G8B8>(region);
    case D3DFMT_X8R8G8B8: return New<PixelCodecX8R8G8B8>(region);
    case D3DFMT_R5G6B5: return New<PixelCodecR5G6B5>(region);
    case D3DFMT_X1R5G5B5: return New<PixelCodecX1R5G5B5>(region);
    case D3DFMT_A1R5G5B5: return New<PixelCodecA1R5G5B5>(region);
    case D3DFMT_A4R4G4B4: return New<PixelCodecA4R4G4B4>(region);
    case D3DFMT_R3G3B2: return New<PixelCodecR3G3B2>(region);
    case D3DFMT_A8: return New<PixelCodecA8>(region);
    case D3DFMT_A8R3G3B2: return New<PixelCodecA8R3G3B2>(region);
    case D3DFMT_X4R4G4B4: return New<PixelCodecX4R4G4B4>(region);
    case D3DFMT_A2B10G10R10: return New<PixelCodecA2B10G10R10>(region);
    case D3DFMT_A8B8G8R8: return New<PixelCodecA8B8G8R8>(region);
    case D3DFMT_X8B8G8R8: return New<PixelCodecX8B8G8R8>(region);
    case D3DFMT_G16R16: return New<PixelCodecG16R16>(region);
    case D3DFMT_A2R10G10B10: return New<PixelCodecA2R10G10B10>(region);
    case D3DFMT_A16B16G16R16: return New<PixelCodecA16B16G16R16>(region);
    case kFormatR16: return New<PixelCodecR16G16B16>(region);
    case D3DFMT_L8: return New<PixelCodecL8>(region);
    case D3DFMT_A8L8: return New<PixelCodecA8L8>(region);
    case D3DFMT_A4L4: return New<PixelCodecA4L4>(region);
    case D3DFMT_L16: return New<PixelCodecL16>(region);
    case kFormatAL16: return New<PixelCodecA16L16>(region);
    case D3DFMT_D16_LOCKABLE: return New<PixelCodecD16Lockable>(region);
    case D3DFMT_V8U8: return New<PixelCodecV8U8>(region);
    case D3DFMT_L6V5U5: return New<PixelCodecL6V5U5>(region);
    case D3DFMT_X8L8V8U8: return New<PixelCodecX8L8V8U8>(region);
    case D3DFMT_Q8W8V8U8: return New<PixelCodecQ8W8V8U8>(region);
    case D3DFMT_V16U16: return New<PixelCodecV16U16>(region);
    case D3DFMT_A2W10V10U10: return New<PixelCodecA2W10V10U10>(region);
    case D3DFMT_Q16W16V16U16: return New<PixelCodecQ16W16V16U16>(region);
    case D3DFMT_CxV8U8: return New<PixelCodecCxV8U8>(region);
    default: return nullptr;
  }
}

}  // namespace gxl::tex::detail

// Same-size conversions between packed formats by table lookup. A destination
// field depends on one source field (or none, or, for a luminance written from
// a colour, on three), so for every source code and every rounding offset its
// code can be worked out once, with the codecs' own float steps: the read's
// code x (1 / largest code), then the write's quantiser. Rows then cost a few
// lookups per texel, or a mask when the fields are carried over unchanged.
#include "gxl/tex/blit_convert.h"

#include <emmintrin.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "gxl/tex/codec_layouts.h"
#include "gxl/tex/codec_quantize.h"

namespace gxl::tex::detail {
namespace {

constexpr int kCodes = 256;  // fields of at most 8 bits

// One float channel of a source texel: a field, or a constant where the format
// stores none.
struct Input {
  std::uint8_t shift = 0;
  std::uint8_t bits = 0;  // 0: the constant
  float constant = 1.0f;

  bool SameAs(const Input& o) const {
    return bits == o.bits && (bits == 0 ? constant == o.constant : shift == o.shift);
  }
  std::uint32_t Mask() const { return (1u << bits) - 1; }
  // As the codec reads it: code x the float reciprocal of the largest code.
  float Value(std::uint32_t code) const {
    return bits ? static_cast<float>(code) * (1.0f / static_cast<float>(Mask())) : constant;
  }
};

std::array<Input, 4> SourceInputs(const PackedLayout& l) {
  const float absent = l.blackRgb ? 0.0f : 1.0f;
  auto in = [](Field f, float constant) { return Input{f.shift, f.bits, constant}; };
  Input r = in(l.r, absent), g = in(l.g, absent), b = in(l.b, absent);
  if (l.luminance) g = b = r;
  return {r, g, b, in(l.a, 1.0f)};
}

// The write's quantiser for one field of largest code `largest`.
std::int32_t Quantize(float value, float largest, float offset) {
  const float scale[4] = {largest, largest, largest, largest}, zero[4] = {0, 0, 0, 0};
  std::int32_t q[4];
  Quantizer4(scale, zero, scale)(ColorF(value, value, value, value), offset, q);
  return q[0];
}

bool Supported(const PackedLayout* l) {
  if (!l || l->range != ChannelRange::Unorm || l->bytes > 4 || l->derivedBlue) return false;
  for (Field f : {l->r, l->g, l->b, l->a})
    if (f.bits > 8) return false;
  return true;
}

// A destination field, looked up from one source field.
struct Lookup {
  Field to;
  Input from;
  bool luminance = false;  // the luminance of the three colour inputs (which agree)
};

// Every table of one rounding offset: per lookup, the destination code of each
// source code placed in its field; `base` holds the fields of constant value.
struct Slot {
  std::unique_ptr<std::uint32_t[]> table;  // 4 x kCodes
  std::uint32_t base = 0;
  bool carried = false;  // every lookup carries its field over unchanged
};

class Converter {
 public:
  Converter(const PackedLayout& to, const PackedLayout& from) : m_to(to), m_from(from), m_in(SourceInputs(from)) {}

  // False when memory runs out.
  bool Plan(const PixelCodec& d);
  void Run(PixelCodec& d, const PixelCodec& s) const;

 private:
  float Evaluate(const Lookup& k, std::uint32_t code) const;
  bool Build(Slot& slot, float offset) const;
  bool Rounded(const Slot& slot) const;
  template <unsigned kTo>
  std::uint32_t RowRounded(const Slot& slot, const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) const;
  template <unsigned kFrom, unsigned kTo, bool kLuminance>
  void Row(const Slot* const* phase, const float* offsets, const std::uint8_t* src, std::uint8_t* dst,
           std::uint32_t width) const;
  // Row<> for the texel sizes of the pair.
  template <bool kLuminance>
  void RowOfSize(const Slot* const* phase, const float* offsets, const std::uint8_t* src, std::uint8_t* dst,
                 std::uint32_t width) const;
  void Row(const Slot* const* phase, const float* offsets, const std::uint8_t* src, std::uint8_t* dst,
           std::uint32_t width) const;

  const PackedLayout& m_to;
  const PackedLayout& m_from;
  std::array<Input, 4> m_in;
  Lookup m_lookup[4];
  int m_lookups = 0;
  bool m_luminancePerTexel = false;  // a luminance from three different fields
  Field m_luminanceField;
  std::array<float, kCodes> m_value[3];  // source code to float, per colour input
  bool m_sameOffsets = false;            // rounding without dither: one slot serves all
  bool m_rounded = false;                // 32-bit texels of 8-bit fields, codes round(code x S / 255)
  Slot m_slots[32];
  const float* m_offsets = nullptr;
};

float Converter::Evaluate(const Lookup& k, std::uint32_t code) const {
  if (!k.luminance) return k.from.Value(code);
  // The three inputs are this field or constants.
  return Luminance(ColorF(m_in[0].Value(code), m_in[1].Value(code), m_in[2].Value(code), 1.0f));
}

bool Converter::Plan(const PixelCodec& d) {
  const Field fields[4] = {m_to.r, m_to.g, m_to.b, m_to.a};
  for (int c = 0; c < 4; ++c) {
    const Field f = fields[c];
    if (!f.bits) continue;
    Lookup k{f, m_in[c]};
    if (m_to.luminance && c == 0) {
      // The luminance reads R, G and B: one field (or none) gives a table.
      Input key;
      bool one = true;
      for (int i = 0; i < 3; ++i) {
        if (!m_in[i].bits) continue;
        if (key.bits && !key.SameAs(m_in[i])) one = false;
        key = m_in[i];
      }
      if (!one) {
        m_luminancePerTexel = true;
        m_luminanceField = f;
        for (int i = 0; i < 3; ++i)
          for (std::uint32_t code = 0; code < kCodes; ++code) m_value[i][code] = m_in[i].Value(code & m_in[i].Mask());
        continue;
      }
      k.from = key;
      k.luminance = true;
    }
    m_lookup[m_lookups++] = k;
  }
  m_offsets = d.RoundingTable();
  m_sameOffsets = m_offsets == DitherTable.rounding;
  // The offsets the rows use: row y mod 4, slice z mod 4 and texel n mod 4.
  for (std::uint32_t y = 0; y < 4 && y < d.Height(); ++y)
    for (std::uint32_t z = 0; z < 4 && z < d.Depth(); ++z)
      for (std::uint32_t n = 0; n < 4; ++n) {
        const std::uint32_t i = m_sameOffsets ? 0 : y * 8 + z + n;
        if (!m_slots[i].table && !Build(m_slots[i], m_offsets[i])) return false;
      }
  m_rounded = m_sameOffsets && Rounded(m_slots[0]);
  return true;
}

// Whether the tables of `slot` are what the vector rows compute: source texels
// of 32 bits whose looked-up fields have 8 bits, into texels of 16 or 32 bits,
// each code round(code x S / 255) (no ties: 255 is odd).
bool Converter::Rounded(const Slot& slot) const {
  if (m_luminancePerTexel || m_from.bytes != 4 || (m_to.bytes != 2 && m_to.bytes != 4)) return false;
  for (int i = 0; i < m_lookups; ++i) {
    const Lookup& k = m_lookup[i];
    if (!k.from.bits) continue;
    if (k.from.bits != 8 || k.from.shift % 8) return false;
    const std::uint32_t largest = static_cast<std::uint32_t>(LargestCode(k.to));
    for (std::uint32_t code = 0; code < kCodes; ++code) {
      const std::uint32_t x = code * largest + 128;
      if (slot.table[i * kCodes + code] != ((x + (x >> 8)) >> 8) << k.to.shift) return false;
    }
  }
  return true;
}

template <unsigned kTo>
std::uint32_t Converter::RowRounded(const Slot& slot, const std::uint8_t* src, std::uint8_t* dst,
                                    std::uint32_t width) const {
  __m128i largest[4], in[4], out[4];
  int n = 0;
  for (int i = 0; i < m_lookups; ++i) {
    const Lookup& k = m_lookup[i];
    if (!k.from.bits) continue;
    largest[n] = _mm_set1_epi32(LargestCode(k.to));
    in[n] = _mm_cvtsi32_si128(k.from.shift);
    out[n++] = _mm_cvtsi32_si128(k.to.shift);
  }
  const __m128i byte = _mm_set1_epi32(0xFF), half = _mm_set1_epi32(128);
  const __m128i base = _mm_set1_epi32(static_cast<int>(slot.base));
  // Four texels: each field's byte times S (at most 65025, so a 16-bit product
  // in a 32-bit lane), then the division by 255 rounded.
  auto four = [&](const std::uint8_t* p) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i r = base;
    for (int i = 0; i < n; ++i) {
      const __m128i x = _mm_add_epi32(_mm_mullo_epi16(_mm_and_si128(_mm_srl_epi32(w, in[i]), byte), largest[i]), half);
      r = _mm_or_si128(r, _mm_sll_epi32(_mm_srli_epi32(_mm_add_epi32(x, _mm_srli_epi32(x, 8)), 8), out[i]));
    }
    return r;
  };
  std::uint32_t x = 0;
  if constexpr (kTo == 4) {
    for (; x + 4 <= width; x += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), four(src + 4 * x));
  } else {
    // 0-65535 through the signed pack: offset, pack, flip back.
    const __m128i bias = _mm_set1_epi32(32768);
    for (; x + 8 <= width; x += 8) {
      const __m128i lo = _mm_sub_epi32(four(src + 4 * x), bias), hi = _mm_sub_epi32(four(src + 4 * x + 16), bias);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * x),
                       _mm_xor_si128(_mm_packs_epi32(lo, hi), _mm_set1_epi16(-32768)));
    }
  }
  return x;
}

bool Converter::Build(Slot& slot, float offset) const {
  slot.table.reset(new (std::nothrow) std::uint32_t[4 * kCodes]());
  if (!slot.table) return false;
  slot.carried = !m_luminancePerTexel;
  for (int i = 0; i < m_lookups; ++i) {
    const Lookup& k = m_lookup[i];
    const float largest = static_cast<float>(LargestCode(k.to));
    const std::uint32_t mask = (1u << k.to.bits) - 1;
    if (!k.from.bits) {
      slot.base |= (static_cast<std::uint32_t>(Quantize(Evaluate(k, 0), largest, offset)) & mask) << k.to.shift;
      continue;
    }
    std::uint32_t* t = slot.table.get() + i * kCodes;
    for (std::uint32_t code = 0; code <= k.from.Mask(); ++code) {
      t[code] = (static_cast<std::uint32_t>(Quantize(Evaluate(k, code), largest, offset)) & mask) << k.to.shift;
      if (k.from.bits != k.to.bits || k.from.shift != k.to.shift || t[code] != code << k.to.shift) slot.carried = false;
    }
  }
  return true;
}

template <unsigned kFrom, unsigned kTo, bool kLuminance>
void Converter::Row(const Slot* const* phase, const float* offsets, const std::uint8_t* src, std::uint8_t* dst,
                    std::uint32_t width) const {
  // Lookups past m_lookups read entry 0 of an empty table.
  std::uint32_t shift[4] = {0, 0, 0, 0}, mask[4] = {0, 0, 0, 0};
  for (int i = 0; i < m_lookups; ++i)
    if (m_lookup[i].from.bits) {
      shift[i] = m_lookup[i].from.shift;
      mask[i] = m_lookup[i].from.Mask();
    }
  for (std::uint32_t x = 0; x < width; ++x, src += kFrom, dst += kTo) {
    const Slot& s = *phase[x & 3];
    const std::uint32_t* t = s.table.get();
    const auto w = static_cast<std::uint32_t>(LoadTexel<kFrom>(src));
    std::uint32_t out = s.base | t[(w >> shift[0]) & mask[0]] | t[kCodes + ((w >> shift[1]) & mask[1])] |
                        t[2 * kCodes + ((w >> shift[2]) & mask[2])] | t[3 * kCodes + ((w >> shift[3]) & mask[3])];
    if constexpr (kLuminance) {
      auto value = [&](int i) { return m_value[i][(w >> m_in[i].shift) & m_in[i].Mask()]; };
      const float l = Luminance(ColorF(value(0), value(1), value(2), 1.0f));
      const std::uint32_t q =
          static_cast<std::uint32_t>(Quantize(l, static_cast<float>(LargestCode(m_luminanceField)), offsets[x & 3]));
      out |= (q & ((1u << m_luminanceField.bits) - 1)) << m_luminanceField.shift;
    }
    StoreTexel<kTo>(dst, out);
  }
}

template <bool kLuminance>
void Converter::RowOfSize(const Slot* const* phase, const float* offsets, const std::uint8_t* src, std::uint8_t* dst,
                          std::uint32_t width) const {
  auto to = [&](auto from) {
    constexpr unsigned kFrom = decltype(from)::value;
    switch (m_to.bytes) {
      case 1:
        return Row<kFrom, 1, kLuminance>(phase, offsets, src, dst, width);
      case 2:
        return Row<kFrom, 2, kLuminance>(phase, offsets, src, dst, width);
      case 3:
        return Row<kFrom, 3, kLuminance>(phase, offsets, src, dst, width);
      default:
        return Row<kFrom, 4, kLuminance>(phase, offsets, src, dst, width);
    }
  };
  switch (m_from.bytes) {
    case 1:
      return to(std::integral_constant<unsigned, 1>{});
    case 2:
      return to(std::integral_constant<unsigned, 2>{});
    case 3:
      return to(std::integral_constant<unsigned, 3>{});
    default:
      return to(std::integral_constant<unsigned, 4>{});
  }
}

void Converter::Row(const Slot* const* phase, const float* offsets, const std::uint8_t* src, std::uint8_t* dst,
                    std::uint32_t width) const {
  // Fields carried over unchanged between texels of one size: a mask.
  bool carried = !m_luminancePerTexel && m_from.bytes == m_to.bytes;
  for (int p = 0; p < 4; ++p) carried = carried && phase[p]->carried && phase[p]->base == phase[0]->base;
  if (carried) {
    std::uint32_t keep = 0;
    for (int i = 0; i < m_lookups; ++i)
      if (m_lookup[i].from.bits) keep |= ((1u << m_lookup[i].to.bits) - 1) << m_lookup[i].to.shift;
    if (m_to.bytes == 4 || m_to.bytes == 2) {
      MaskTexels(src, dst, width * m_to.bytes, m_to.bytes, keep, phase[0]->base);
      return;
    }
  }
  if (m_rounded) {
    const std::uint32_t done =
        m_to.bytes == 4 ? RowRounded<4>(*phase[0], src, dst, width) : RowRounded<2>(*phase[0], src, dst, width);
    src += done * m_from.bytes;
    dst += done * m_to.bytes;
    width -= done;
  }
  if (m_luminancePerTexel)
    RowOfSize<true>(phase, offsets, src, dst, width);
  else
    RowOfSize<false>(phase, offsets, src, dst, width);
}

void Converter::Run(PixelCodec& d, const PixelCodec& s) const {
  const std::uint32_t width = d.Width();
  for (std::uint32_t z = 0; z < d.Depth(); ++z)
    for (std::uint32_t y = 0; y < d.Height(); ++y) {
      // Texel x is the n-th written, n counting from the right on odd rows
      // (the serpentine order of the writes), and takes offset n mod 4.
      const Slot* phase[4];
      float offsets[4];
      for (std::uint32_t p = 0; p < 4; ++p) {
        const std::uint32_t n = (y & 1) ? (width - 1 - p) & 3 : p;
        const std::uint32_t i = m_sameOffsets ? 0 : (y & 3) * 8 + (z & 3) + n;
        phase[p] = &m_slots[i];
        offsets[p] = m_offsets[i];
      }
      const std::uint8_t* src = s.Pixels() + std::uint64_t{y} * s.RowPitch() + std::uint64_t{z} * s.SlicePitch();
      std::uint8_t* dst = d.Pixels() + std::uint64_t{y} * d.RowPitch() + std::uint64_t{z} * d.SlicePitch();
      Row(phase, offsets, src, dst, width);
    }
}

}  // namespace

void MaskTexels(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t bytes, std::uint32_t texelBytes,
                std::uint32_t keep, std::uint32_t fill) {
  // Sixteen bytes at a time, then texel by texel.
  const std::uint32_t spread = texelBytes == 4 ? 1 : 0x10001u;
  const __m128i keep16 = _mm_set1_epi32(static_cast<int>(keep * spread));
  const __m128i fill16 = _mm_set1_epi32(static_cast<int>(fill * spread));
  std::uint32_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(_mm_and_si128(w, keep16), fill16));
  }
  for (; i < bytes; i += texelBytes) {
    std::uint32_t w = 0;
    std::memcpy(&w, src + i, texelBytes);
    w = (w & keep) | fill;
    std::memcpy(dst + i, &w, texelBytes);
  }
}

bool WritesClampToUnorm(const PixelCodec& d) {
  const PackedLayout* l = FindPackedLayout(d.Format());
  return l && l->range == ChannelRange::Unorm && !l->luminance && !d.Srgb() && !d.HasErrorDiffusion() &&
         d.OtherRange() == ChannelRange::None;
}

bool ConvertSameSizeExact(PixelCodec& destination, PixelCodec& source) {
  const PackedLayout* to = FindPackedLayout(destination.Format());
  const PackedLayout* from = FindPackedLayout(source.Format());
  if (!Supported(to) || !Supported(from) || source.ColourKey() || source.Srgb() || destination.Srgb() ||
      destination.HasErrorDiffusion() || destination.OtherRange() != ChannelRange::None)
    return false;
  auto converter = std::unique_ptr<Converter>(new (std::nothrow) Converter(*to, *from));
  if (!converter || !converter->Plan(destination)) return false;
  converter->Run(destination, source);
  return true;
}

}  // namespace gxl::tex::detail

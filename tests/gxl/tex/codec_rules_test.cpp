// The write and read rules the codecs share: signed edges, range adaptation,
// luminance, rounding, ordered dither, error diffusion, colour keys and palettes.
#include <cmath>
#include <numeric>
#include <random>

#include "codec_test_util.h"

namespace {

using namespace codectest;

// Writes a whole image of one colour and returns what each texel reads back as.
std::vector<ColorF> WriteConstant(std::uint32_t format, ColorF colour, std::uint32_t width, std::uint32_t height,
                                  bool dither, bool diffusion) {
  std::vector<std::uint8_t> image(std::size_t{width} * height * 16);
  ImageRegion r = Region(image.data(), format, width, height);
  r.orderedDither = dither;
  r.errorDiffusion = diffusion;
  auto codec = Make(r);
  std::vector<ColorF> row(width), out(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    std::fill(row.begin(), row.end(), colour);
    codec->WriteRow(y, 0, row.data());
  }
  for (std::uint32_t y = 0; y < height; ++y) codec->ReadRow(y, 0, &out[std::size_t{y} * width]);
  return out;
}

ColorF Mean(const std::vector<ColorF>& texels) {
  double s[4] = {};
  for (const ColorF& c : texels) {
    s[0] += c.r;
    s[1] += c.g;
    s[2] += c.b;
    s[3] += c.a;
  }
  const double n = static_cast<double>(texels.size());
  return ColorF(float(s[0] / n), float(s[1] / n), float(s[2] / n), float(s[3] / n));
}

TEST(GxlCodec, SignedEdges) {
  EXPECT_EQ(ReadTexel(D3DFMT_V8U8, 0x80).r, -1.0f);
  EXPECT_EQ(ReadTexel(D3DFMT_V8U8, 0x81).r, -1.0f);
  EXPECT_EQ(ReadTexel(D3DFMT_V8U8, 0x82).r, -126.0f / 127.0f);
  EXPECT_EQ(ReadTexel(D3DFMT_V8U8, 0x7F).r, 1.0f);
  EXPECT_EQ(WriteTexel(D3DFMT_V8U8, ColorF(1, 0, 0, 0)), 0x007Fu);
  // -1 writes the lowest code that reads -1 back (not -126: negative values
  // round to nearest like positive ones).
  EXPECT_EQ(WriteTexel(D3DFMT_V8U8, ColorF(-1, 0, 0, 0)), 0x0081u);
  EXPECT_EQ(WriteTexel(D3DFMT_V8U8, ColorF(-5.0f / 127, 0, 0, 0)), 0x00FBu);
  EXPECT_EQ(WriteTexel(D3DFMT_V8U8, ColorF(-3, 7, 0, 0)), 0x7F81u);  // clamped to [-127, 127]
  // L6V5U5: U 0x10 is -16, read -1; L 63 reads alpha 1; B is always 1.
  EXPECT_TRUE(Near(ReadTexel(D3DFMT_L6V5U5, 0xFC10), ColorF(-1, 0, 1, 1), 0));
  EXPECT_EQ(ReadTexel(D3DFMT_CxV8U8, 0x7F7F).b, 0.0f);
  EXPECT_NEAR(ReadTexel(D3DFMT_CxV8U8, 0x0040).b, std::sqrt(1.0f - (64.0f / 127) * (64.0f / 127)), 1e-6f);
}

// A codec of format whose rows come from a codec of another range.
std::uint64_t WriteFrom(std::uint32_t format, std::uint32_t sourceFormat, ColorF c) {
  std::uint8_t bytes[16] = {}, other[16] = {};
  auto dst = Make(Region(bytes, format, 1));
  auto src = Make(Region(other, sourceFormat, 1));
  EXPECT_EQ(PreparePixelCodecPair(dst.get(), src.get()), S_OK);
  dst->WriteRow(0, 0, &c);
  std::uint64_t code = 0;
  std::memcpy(&code, bytes, 8);
  return code;
}

TEST(GxlCodec, RangeAdaptation) {
  // Unsigned into signed: 2x - 1.
  EXPECT_EQ(WriteFrom(D3DFMT_V8U8, D3DFMT_A8R8G8B8, ColorF(0.5f, 1, 0, 1)), 0x7F00u);
  EXPECT_EQ(WriteFrom(D3DFMT_V8U8, D3DFMT_A8R8G8B8, ColorF(0, 0, 0, 1)), 0x8181u);
  // Signed into unsigned: (x + 1) / 2, alpha kept for the colour-signed range.
  EXPECT_EQ(WriteFrom(D3DFMT_A8R8G8B8, D3DFMT_V8U8, ColorF(-1, 0, 1, 0.2f)), 0x330080FFu);
  EXPECT_EQ(WriteFrom(D3DFMT_A8R8G8B8, D3DFMT_Q8W8V8U8, ColorF(-1, 0, 1, -1)), 0x000080FFu);
  // Between the signed ranges only alpha moves.
  EXPECT_EQ(WriteFrom(D3DFMT_Q8W8V8U8, D3DFMT_V8U8, ColorF(0.5f, -0.5f, 0, 0)), 0x8100C140u);
  EXPECT_EQ(WriteFrom(D3DFMT_A2W10V10U10, D3DFMT_Q8W8V8U8, ColorF(0, 0, 0, -1)), 0u);
  // Floats are clamped, into either range.
  EXPECT_EQ(WriteFrom(D3DFMT_A8R8G8B8, D3DFMT_R32F, ColorF(-0.5f, 1.5f, 0.25f, 2)), 0xFF00FF40u);
  EXPECT_EQ(WriteFrom(D3DFMT_V8U8, D3DFMT_R32F, ColorF(-3, 3, 0, 0)), 0x7F81u);
  EXPECT_EQ(WriteFrom(D3DFMT_X8L8V8U8, D3DFMT_A32B32G32R32F, ColorF(0, 0, 0, -2)), 0u);
  // A float destination is never adapted.
  const std::uint64_t f = WriteFrom(D3DFMT_R32F, D3DFMT_A8R8G8B8, ColorF(-0.5f, 0, 0, 0));
  float v;
  std::memcpy(&v, &f, 4);
  EXPECT_EQ(v, -0.5f);
}

TEST(GxlCodec, FloatRowsAreClampedAfterPreparation) {
  std::uint8_t bytes[16] = {};
  auto unorm = Make(Region(bytes, D3DFMT_A8R8G8B8, 1));
  ASSERT_EQ(unorm->PrepareForFloatRows(), S_OK);
  EXPECT_EQ(unorm->OtherRange(), ChannelRange::Float);
  ColorF c(7, -7, 0.5f, 1);
  unorm->WriteRow(0, 0, &c);
  EXPECT_EQ(bytes[0], 128);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 255);
  auto floats = Make(Region(bytes, D3DFMT_R32F, 1));
  ASSERT_EQ(floats->PrepareForFloatRows(), S_OK);
  EXPECT_EQ(floats->OtherRange(), ChannelRange::None);
}

TEST(GxlCodec, RoundingAndSingleChannels) {
  EXPECT_EQ(WriteTexel(D3DFMT_A8, ColorF(0.3f, 0.9f, 0.1f, 0.5f)), 128u);  // 127.5 + 0.5; RGB ignored
  EXPECT_EQ(ReadTexel(D3DFMT_A8, 128).a, 128.0f / 255.0f);
  EXPECT_EQ(WriteTexel(D3DFMT_A1R5G5B5, ColorF(0, 0, 0, 0.4f)), 0u);
  EXPECT_EQ(WriteTexel(D3DFMT_A1R5G5B5, ColorF(0, 0, 0, 0.6f)), 0x8000u);
  EXPECT_EQ(WriteTexel(D3DFMT_L8, ColorF(1, 0, 0, 1)), 54u);  // 0.2125 x 255 = 54.19
  EXPECT_NEAR(static_cast<double>(WriteTexel(D3DFMT_D16_LOCKABLE, ColorF(0, 1, 0, 1))), 0.7154 * 65535, 1.0);
  EXPECT_EQ(WriteTexel(D3DFMT_L16, ColorF(0.25f, 0.25f, 0.25f, 1)), 16384u);
  EXPECT_EQ(WriteTexel(D3DFMT_X8L8V8U8, ColorF(0, 0, 0, 2)), 0x00FF0000u);
  EXPECT_EQ(WriteTexel(D3DFMT_X8L8V8U8, ColorF(0, 0, 0, -1)), 0u);
  EXPECT_EQ(WriteTexel(D3DFMT_R5G6B5, ColorF(std::nanf(""), 2, -1, 1)), 0x07E0u);  // NaN stores the lowest code
}

// The ordered dither offsets, four per row, listed twice.
const float kOrdered[4][8] = {{31, 15, 27, 11, 31, 15, 27, 11},
                              {7, 23, 3, 19, 7, 23, 3, 19},
                              {25, 9, 29, 13, 25, 9, 29, 13},
                              {1, 17, 5, 21, 1, 17, 5, 21}};

TEST(GxlCodec, OrderedDitherOffsetsFollowTheSerpentineOrder) {
  constexpr std::uint32_t kW = 9, kH = 8, kD = 5;
  std::vector<std::uint8_t> image(kW * kH * kD);
  ImageRegion r = Region(image.data(), D3DFMT_A8, kW, kH, 0, kD);
  r.orderedDither = 1;
  auto codec = Make(r);
  std::vector<ColorF> row(kW);
  for (std::uint32_t z = 0; z < kD; ++z)
    for (std::uint32_t y = 0; y < kH; ++y) {
      std::fill(row.begin(), row.end(), ColorF(0, 0, 0, 100.5f / 255));
      codec->WriteRow(y, z, row.data());
    }
  for (std::uint32_t z = 0; z < kD; ++z)
    for (std::uint32_t y = 0; y < kH; ++y)
      for (std::uint32_t x = 0; x < kW; ++x) {
        const std::uint32_t n = (y & 1) ? kW - 1 - x : x;  // odd rows run from the right
        const float d = kOrdered[y % 4][z % 4 + n % 4] / 32;
        EXPECT_EQ(image[(z * kH + y) * kW + x], d >= 0.5f ? 101 : 100) << x << " " << y << " " << z;
      }
}

// The stored code of each channel, from the rule itself: floor(value x S + d),
// clamped to the field (NaN: the lowest code).
TEST(GxlCodec, WritesFollowTheRoundingRuleForAnyValue) {
  struct Field {
    int channel, shift, bits;
    bool isSigned;
  };
  struct Format {
    std::uint32_t format;
    std::vector<Field> fields;
  };
  const Format formats[] = {
      {D3DFMT_A8R8G8B8, {{2, 0, 8, false}, {1, 8, 8, false}, {0, 16, 8, false}, {3, 24, 8, false}}},
      {D3DFMT_R5G6B5, {{2, 0, 5, false}, {1, 5, 6, false}, {0, 11, 5, false}}},
      {D3DFMT_A2W10V10U10, {{0, 0, 10, true}, {1, 10, 10, true}, {2, 20, 10, true}, {3, 30, 2, false}}},
      {D3DFMT_Q16W16V16U16, {{0, 0, 16, true}, {1, 16, 16, true}, {2, 32, 16, true}, {3, 48, 16, true}}},
  };
  std::mt19937 rng(77);
  std::uniform_real_distribution<float> value(-1.5f, 1.5f);
  constexpr std::uint32_t kW = 37, kH = 6;
  for (const Format& f : formats) {
    for (std::uint32_t dither = 0; dither < 2; ++dither) {
      std::vector<std::uint8_t> image(kW * kH * 8);
      ImageRegion r = Region(image.data(), f.format, kW, kH);
      r.orderedDither = dither;
      auto codec = Make(r);
      const std::uint32_t bytes = codec->BytesPerTexel();
      std::vector<ColorF> rows(kW * kH);
      for (ColorF& c : rows) {
        c = ColorF(value(rng), value(rng), value(rng), value(rng));
        if (rng() % 50 == 0) c.g = std::nanf("");
        if (rng() % 50 == 0) c.b = std::round(c.b * 4) / 4;  // exact quarters meet the offsets
      }
      std::vector<ColorF> row(kW);
      for (std::uint32_t y = 0; y < kH; ++y) {
        std::copy(rows.begin() + y * kW, rows.begin() + (y + 1) * kW, row.begin());
        codec->WriteRow(y, 0, row.data());
      }
      for (std::uint32_t y = 0; y < kH; ++y)
        for (std::uint32_t x = 0; x < kW; ++x) {
          std::uint64_t word = 0;
          std::memcpy(&word, &image[(y * kW + x) * bytes], bytes);
          const std::uint32_t n = (y & 1) ? kW - 1 - x : x;
          const float d = dither ? kOrdered[y % 4][n % 4] / 32 : 0.5f;
          for (const Field& fd : f.fields) {
            const float S = fd.isSigned ? float((1 << (fd.bits - 1)) - 1) : float((1 << fd.bits) - 1);
            const float v = (&rows[y * kW + x].r)[fd.channel];
            float q = std::floor(v * S + d);
            const float lo = fd.isSigned ? -S : 0;
            q = std::isnan(q) ? lo : std::min(std::max(q, lo), S);
            std::int64_t got = static_cast<std::int64_t>((word >> fd.shift) & ((1ull << fd.bits) - 1));
            if (fd.isSigned && got >= (1 << (fd.bits - 1))) got -= 1 << fd.bits;
            ASSERT_EQ(got, static_cast<std::int64_t>(q))
                << "format " << f.format << " channel " << fd.channel << " value " << v << " at " << x << ", " << y;
          }
        }
    }
  }
}

TEST(GxlCodec, OrderedDitherKeepsTheMean) {
  for (int k : {0, 17, 100, 200, 254}) {
    const float v = (k + 0.5f) / 255;
    const ColorF mean = Mean(WriteConstant(D3DFMT_A8R8G8B8, ColorF(v, v, v, v), 64, 64, true, false));
    EXPECT_NEAR(mean.r, v, 1e-3);
    EXPECT_NEAR(mean.a, v, 1e-3);
    // Without dither every texel rounds the half up.
    EXPECT_NEAR(Mean(WriteConstant(D3DFMT_A8R8G8B8, ColorF(v, v, v, v), 64, 64, false, false)).r, (k + 1) / 255.0f,
                1e-6);
  }
  const float v = 3.5f / 15;
  EXPECT_NEAR(Mean(WriteConstant(D3DFMT_A4L4, ColorF(v, v, v, v), 32, 32, true, false)).r, v, 1e-3);
}

TEST(GxlCodec, ErrorDiffusionSpreadsTheRoundingError) {
  // Floyd-Steinberg on a one-bit alpha: 0.5 alternates within the first row.
  std::vector<ColorF> out = WriteConstant(D3DFMT_A1R5G5B5, ColorF(0, 0, 0, 0.5f), 4, 4, false, true);
  EXPECT_EQ(out[0].a, 1.0f);
  EXPECT_EQ(out[1].a, 0.0f);
  EXPECT_EQ(out[2].a, 1.0f);
  EXPECT_EQ(out[3].a, 0.0f);
  // A level between two codes keeps its mean, where plain rounding misses by a seventh of a code.
  const ColorF mean = Mean(WriteConstant(D3DFMT_R3G3B2, ColorF(0.3f, 0.3f, 0.3f, 1), 64, 64, false, true));
  EXPECT_NEAR(mean.r, 0.3f, 2e-3);
  EXPECT_NEAR(mean.b, 0.3f, 2e-3);
  EXPECT_NEAR(Mean(WriteConstant(D3DFMT_R3G3B2, ColorF(0.3f, 0.3f, 0.3f, 1), 64, 64, false, false)).r, 2.0f / 7,
              1e-6);
  // Dither and diffusion together keep it too.
  EXPECT_NEAR(Mean(WriteConstant(D3DFMT_R3G3B2, ColorF(0.3f, 0.3f, 0.3f, 1), 64, 64, true, true)).g, 0.3f, 2e-3);
}

TEST(GxlCodec, NonFiniteInputDoesNotSpreadThroughTheDiffusion) {
  constexpr std::uint32_t kW = 16, kH = 16;
  std::vector<std::uint8_t> image(kW * kH);
  ImageRegion r = Region(image.data(), D3DFMT_L8, kW, kH);
  r.errorDiffusion = 1;
  auto codec = Make(r);
  std::vector<ColorF> row(kW);
  for (std::uint32_t y = 0; y < kH; ++y) {
    std::fill(row.begin(), row.end(), ColorF(0.4f, 0.4f, 0.4f, 1));
    if (y == 0) row[3] = ColorF(std::nanf(""), std::nanf(""), std::nanf(""), 1);
    if (y == 1) row[5] = ColorF(INFINITY, INFINITY, INFINITY, 1);
    codec->WriteRow(y, 0, row.data());
  }
  const double mean = std::accumulate(image.begin() + 2 * kW, image.end(), 0.0) / (kW * (kH - 2));
  EXPECT_NEAR(mean, 0.4 * 255, 0.5);
}

TEST(GxlCodec, ColourKeysReadAsTransparentBlack) {
  std::uint32_t texels[4] = {0xFF00FF00, 0xFE00FF00, 0xFF000000, 0x00000000};
  ImageRegion r = Region(texels, D3DFMT_A8R8G8B8, 4);
  r.colourKey = 0xFF00FF00;
  ColorF row[4];
  Make(r)->ReadRow(0, 0, row);
  EXPECT_TRUE(Near(row[0], ColorF(0, 0, 0, 0), 0));
  EXPECT_TRUE(Near(row[1], ColorF(0, 1, 0, 254.0f / 255), 1e-7f));
  // Opaque black can be a key; a key of 0 keys nothing.
  r.colourKey = 0xFF000000;
  Make(r)->ReadRow(0, 0, row);
  EXPECT_TRUE(Near(row[2], ColorF(0, 0, 0, 0), 0));
  EXPECT_EQ(row[0].a, 1.0f);
  r.colourKey = 0;
  Make(r)->ReadRow(0, 0, row);
  EXPECT_EQ(row[2].a, 1.0f);
  // X formats store no alpha: the key's alpha byte drops out with it.
  r.format = D3DFMT_X8R8G8B8;
  r.colourKey = 0x5500FF00;
  Make(r)->ReadRow(0, 0, row);
  EXPECT_TRUE(Near(row[0], ColorF(0, 0, 0, 0), 0));
  EXPECT_TRUE(Near(row[1], ColorF(0, 0, 0, 0), 0));
  EXPECT_EQ(row[2].a, 1.0f);
}

TEST(GxlCodec, KeysAreQuantisedToTheFormat) {
  // A key between the codes of R5G6B5 matches the texel its colour is stored as.
  const std::uint64_t stored = WriteTexel(D3DFMT_R5G6B5, ColorFromArgb(0xFF808080));
  std::uint16_t texels[2] = {static_cast<std::uint16_t>(stored), 0x1234};
  ImageRegion r = Region(texels, D3DFMT_R5G6B5, 2);
  r.colourKey = 0xFF808080;
  auto codec = Make(r);
  EXPECT_TRUE(Near(codec->KeyColour(), ReadTexel(D3DFMT_R5G6B5, stored), 0));
  ColorF row[2];
  codec->ReadRow(0, 0, row);
  EXPECT_TRUE(Near(row[0], ColorF(0, 0, 0, 0), 0));
  EXPECT_GT(row[1].a, 0.0f);
  // Signed formats take the key as an unsigned colour: U 1, V 0.
  std::uint16_t bump[2] = {0x007F, 0x0070};
  r = Region(bump, D3DFMT_V8U8, 2);
  r.colourKey = 0xFFFF8000;
  Make(r)->ReadRow(0, 0, row);
  EXPECT_TRUE(Near(row[0], ColorF(0, 0, 0, 0), 0));
  EXPECT_EQ(row[1].r, 112.0f / 127);
}

TEST(GxlCodec, KeysOfSrgbTexelsCompareTheStoredColour) {
  std::uint32_t texels[2] = {0xFF406080, 0xFF406081};
  ImageRegion r = Region(texels, D3DFMT_A8R8G8B8, 2);
  r.srgb = 1;
  r.colourKey = 0xFF406080;
  ColorF row[2];
  Make(r)->ReadRow(0, 0, row);
  EXPECT_TRUE(Near(row[0], ColorF(0, 0, 0, 0), 0));
  EXPECT_NEAR(row[1].r, std::pow(0x40 / 255.0, 2.2), 2e-3);
}

TEST(GxlCodec, QuantisingTheKeyLeavesTheDiffusionAlone) {
  auto write = [](std::uint32_t key) {
    std::vector<std::uint8_t> image(8 * 4);
    ImageRegion r = Region(image.data(), D3DFMT_R3G3B2, 8, 4);
    r.errorDiffusion = 1;
    r.colourKey = key;
    auto codec = Make(r);
    std::vector<ColorF> row(8);
    for (std::uint32_t y = 0; y < 4; ++y) {
      std::fill(row.begin(), row.end(), ColorF(0.3f, 0.6f, 0.1f, 1));
      codec->WriteRow(y, 0, row.data());
    }
    return image;
  };
  EXPECT_EQ(write(0xFF123456), write(0));
}

TEST(GxlCodec, PaletteTiesGoToTheLowestIndex) {
  PaletteEntry palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = PaletteEntry{255, 255, 255, 255};
  palette[3] = palette[7] = PaletteEntry{10, 200, 30, 255};
  palette[9] = PaletteEntry{10, 200, 30, 0};  // nearest without alpha, farther with it
  const ColorF c = ColorFromArgb(0xFF0CC61E);
  EXPECT_EQ(WriteTexel(D3DFMT_P8, c, palette), 3u);
  EXPECT_EQ(WriteTexel(D3DFMT_A8P8, c, palette), 0xFF03u);
  // A8P8 matches the colour only; its alpha is stored as it is.
  EXPECT_EQ(WriteTexel(D3DFMT_A8P8, ColorF(c.r, c.g, c.b, 0), palette), 0x0003u);
  EXPECT_EQ(WriteTexel(D3DFMT_P8, ColorF(c.r, c.g, c.b, 0), palette), 9u);
}

TEST(GxlCodec, PalettesWithoutEntriesReadWhite) {
  EXPECT_TRUE(Near(ReadTexel(D3DFMT_P8, 0x42), ColorF(1, 1, 1, 1), 0));
  EXPECT_TRUE(Near(ReadTexel(D3DFMT_A8P8, 0x3342), ColorF(1, 1, 1, 0.2f), 1e-7f));
  const PaletteEntry palette[256] = {{0, 0, 0, 0}, {255, 0, 51, 102}};
  EXPECT_TRUE(Near(ReadTexel(D3DFMT_P8, 1, palette), ColorF(1, 0, 0.2f, 0.4f), 1e-7f));
  EXPECT_TRUE(Near(ReadTexel(D3DFMT_A8P8, 0xFF01, palette), ColorF(1, 0, 0.2f, 1), 1e-7f));
  // The key of a palettized region is the nearest palette colour.
  std::uint8_t indices[2] = {1, 0};
  ImageRegion r = Region(indices, D3DFMT_P8, 2);
  r.palette = palette;
  r.colourKey = 0x66FF0033;
  ColorF row[2];
  Make(r)->ReadRow(0, 0, row);
  EXPECT_TRUE(Near(row[0], ColorF(0, 0, 0, 0), 0));
}

TEST(GxlCodec, ColourHelpers) {
  EXPECT_TRUE(Near(ColorFromArgb(0x80FF3300), ColorF(1, 0.2f, 0, 128.0f / 255), 1e-7f));
  EXPECT_TRUE(ColorsEqual(AddColor(ColorF(1, 2, 3, 4), ColorF(1, 1, 1, 1)), ColorF(2, 3, 4, 5)));
  EXPECT_TRUE(ColorsEqual(SubtractColor(ColorF(1, 2, 3, 4), ColorF(1, 1, 1, 1)), ColorF(0, 1, 2, 3)));
  EXPECT_FALSE(ColorsEqual(ColorF(0, 0, 0, 0), ColorF(0, 0, 0, 1)));
  EXPECT_EQ(TruncatingRoundMode(-2.7f), -2);
  EXPECT_EQ(TruncatingRoundMode(2.7f), 2);
  EXPECT_EQ(TruncatingRoundMode(std::nanf("")), 0);
  EXPECT_EQ(TruncatingRoundMode(1e20f), INT32_MAX);
}

}  // namespace

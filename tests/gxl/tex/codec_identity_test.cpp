// Read-then-write identity: every code of every format of 16 bits or less, and
// a million sampled codes of each wider one, written back by a second codec
// with each rounding mode. One wrong shift, mask or scale breaks it at once.
#include <cmath>
#include <random>
#include <string>

#include "codec_test_util.h"

namespace {

using namespace codectest;

struct F {
  std::uint8_t shift, bits;
  bool isSigned = false;
};

// The stored fields of each format, as the layout tables give them; bits
// outside them are written as 0, and a signed field's most negative code comes
// back one higher (both read as -1).
struct Stored {
  std::uint32_t format;
  std::vector<F> fields;  // empty: every bit comes back (floats)
};

const Stored kFormats[] = {
    {D3DFMT_R8G8B8, {{0, 8}, {8, 8}, {16, 8}}},
    {D3DFMT_A8R8G8B8, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}},
    {D3DFMT_X8R8G8B8, {{0, 8}, {8, 8}, {16, 8}}},
    {D3DFMT_R5G6B5, {{0, 5}, {5, 6}, {11, 5}}},
    {D3DFMT_X1R5G5B5, {{0, 5}, {5, 5}, {10, 5}}},
    {D3DFMT_A1R5G5B5, {{0, 5}, {5, 5}, {10, 5}, {15, 1}}},
    {D3DFMT_A4R4G4B4, {{0, 4}, {4, 4}, {8, 4}, {12, 4}}},
    {D3DFMT_R3G3B2, {{0, 2}, {2, 3}, {5, 3}}},
    {D3DFMT_A8, {{0, 8}}},
    {D3DFMT_A8R3G3B2, {{0, 2}, {2, 3}, {5, 3}, {8, 8}}},
    {D3DFMT_X4R4G4B4, {{0, 4}, {4, 4}, {8, 4}}},
    {D3DFMT_A2B10G10R10, {{0, 10}, {10, 10}, {20, 10}, {30, 2}}},
    {D3DFMT_A8B8G8R8, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}},
    {D3DFMT_X8B8G8R8, {{0, 8}, {8, 8}, {16, 8}}},
    {D3DFMT_G16R16, {{0, 16}, {16, 16}}},
    {D3DFMT_A2R10G10B10, {{0, 10}, {10, 10}, {20, 10}, {30, 2}}},
    {D3DFMT_A16B16G16R16, {{0, 16}, {16, 16}, {32, 16}, {48, 16}}},
    {Fcc(' ', 'R', '1', '6'), {{0, 16}, {16, 16}, {32, 16}}},
    {D3DFMT_L8, {{0, 8}}},
    {D3DFMT_A8L8, {{0, 8}, {8, 8}}},
    {D3DFMT_A4L4, {{0, 4}, {4, 4}}},
    {D3DFMT_L16, {{0, 16}}},
    {Fcc('A', 'L', '1', '6'), {{0, 16}, {16, 16}}},
    {D3DFMT_D16_LOCKABLE, {{0, 16}}},
    {D3DFMT_V8U8, {{0, 8, true}, {8, 8, true}}},
    {D3DFMT_L6V5U5, {{0, 5, true}, {5, 5, true}, {10, 6}}},
    {D3DFMT_X8L8V8U8, {{0, 8, true}, {8, 8, true}, {16, 8}}},
    {D3DFMT_Q8W8V8U8, {{0, 8, true}, {8, 8, true}, {16, 8, true}, {24, 8, true}}},
    {D3DFMT_V16U16, {{0, 16, true}, {16, 16, true}}},
    {D3DFMT_A2W10V10U10, {{0, 10, true}, {10, 10, true}, {20, 10, true}, {30, 2}}},
    {D3DFMT_Q16W16V16U16, {{0, 16, true}, {16, 16, true}, {32, 16, true}, {48, 16, true}}},
    {D3DFMT_R16F, {}},
    {D3DFMT_G16R16F, {}},
    {D3DFMT_A16B16G16R16F, {}},
    {D3DFMT_R32F, {}},
    {D3DFMT_G32R32F, {}},
    {D3DFMT_A32B32G32R32F, {}},
    {D3DFMT_D32F_LOCKABLE, {}},
};

void PrintTo(const Stored& s, std::ostream* os) { *os << "format " << s.format; }

std::uint64_t Expected(const Stored& s, std::uint64_t code) {
  if (s.fields.empty()) return code;
  std::uint64_t out = 0;
  for (const F& f : s.fields) {
    const std::uint64_t mask = (std::uint64_t{1} << f.bits) - 1;
    std::uint64_t v = (code >> f.shift) & mask;
    if (f.isSigned && v == (std::uint64_t{1} << (f.bits - 1))) ++v;
    out |= v << f.shift;
  }
  return out;
}

struct Mode {
  const char* name;
  std::uint32_t orderedDither, errorDiffusion;
};
const Mode kModes[] = {{"rounding", 0, 0}, {"ordered dither", 1, 0}, {"diffusion", 0, 1}, {"both", 1, 1}};

// Reads codes from one image and writes them to another row by row.
std::vector<std::uint8_t> RoundTrip(std::uint32_t format, std::vector<std::uint8_t>& src, std::uint32_t width,
                                    std::uint32_t height, const Mode& mode, const PaletteEntry* palette = nullptr) {
  std::vector<std::uint8_t> dst(src.size(), 0xEE);
  ImageRegion in = Region(src.data(), format, width, height);
  in.palette = palette;
  ImageRegion out = Region(dst.data(), format, width, height);
  out.palette = palette;
  out.orderedDither = mode.orderedDither;
  out.errorDiffusion = mode.errorDiffusion;
  auto reader = Make(in);
  auto writer = Make(out);
  if (!reader || !writer) return {};
  EXPECT_EQ(PreparePixelCodecPair(writer.get(), reader.get()), S_OK);
  EXPECT_EQ(writer->HasErrorDiffusion(), mode.errorDiffusion != 0);
  std::vector<ColorF> row(width);
  for (std::uint32_t y = 0; y < height; ++y) {
    reader->ReadRow(y, 0, row.data());
    writer->WriteRow(y, 0, row.data());
  }
  return dst;
}

std::uint32_t Bytes(std::uint32_t format) {
  return FindPixelFormatInfo(static_cast<D3DFORMAT>(format))->bitsPerTexel / 8;
}

// The texel's code (formats of up to 8 bytes).
std::uint64_t CodeAt(const std::vector<std::uint8_t>& image, std::uint32_t bytes, std::size_t i) {
  std::uint64_t code = 0;
  std::memcpy(&code, &image[i * bytes], std::min(bytes, 8u));
  return code;
}

TEST(GxlCodecIdentity, EveryCodeOfTheNarrowFormats) {
  for (const Stored& s : kFormats) {
    const std::uint32_t bytes = Bytes(s.format);
    if (bytes > 2) continue;
    const std::uint32_t count = 1u << (8 * bytes);
    std::vector<std::uint8_t> src(std::size_t{count} * bytes);
    for (std::uint32_t c = 0; c < count; ++c) std::memcpy(&src[std::size_t{c} * bytes], &c, bytes);
    for (const Mode& mode : kModes) {
      const std::vector<std::uint8_t> dst = RoundTrip(s.format, src, 256, count / 256, mode);
      ASSERT_EQ(dst.size(), src.size());
      int wrong = 0;
      for (std::uint32_t c = 0; c < count && wrong < 5; ++c) {
        const std::uint64_t got = CodeAt(dst, bytes, c);
        if (got != Expected(s, c)) {
          ADD_FAILURE() << "format " << s.format << " (" << mode.name << "): code 0x" << std::hex << c
                        << " came back as 0x" << got << ", expected 0x" << Expected(s, c);
          ++wrong;
        }
      }
    }
  }
}

// One test per wide format, so that they run side by side.
class GxlCodecIdentityWide : public ::testing::TestWithParam<Stored> {};

TEST_P(GxlCodecIdentityWide, AMillionSampledCodes) {
  const Stored& s = GetParam();
  std::mt19937_64 rng(1234 + s.format);
  constexpr std::uint32_t kWidth = 1024, kHeight = 1024;
  const std::uint32_t bytes = Bytes(s.format);
  std::vector<std::uint8_t> src(std::size_t{kWidth} * kHeight * bytes);
  for (std::size_t i = 0; i < src.size(); i += 8) {
    const std::uint64_t r = rng();
    std::memcpy(&src[i], &r, std::min<std::size_t>(8, src.size() - i));
  }
  // Float formats hold no NaN here: a NaN may come back quieted.
  const bool isFloat = s.fields.empty();
  if (isFloat && bytes % 4 == 0) {
    for (std::size_t i = 0; i < src.size(); i += 4) {
      float f;
      std::memcpy(&f, &src[i], 4);
      if (std::isnan(f)) src[i + 3] &= 0x3F;
    }
  }
  const Mode& mode = kModes[rng() % 4];
  const std::vector<std::uint8_t> dst = RoundTrip(s.format, src, kWidth, kHeight, mode);
  ASSERT_EQ(dst.size(), src.size());
  if (bytes > 8) {  // floats: every byte comes back
    EXPECT_EQ(dst, src);
    return;
  }
  int wrong = 0;
  for (std::size_t i = 0; i < std::size_t{kWidth} * kHeight && wrong < 5; ++i) {
    const std::uint64_t code = CodeAt(src, bytes, i);
    const std::uint64_t got = CodeAt(dst, bytes, i);
    if (got != Expected(s, code)) {
      ADD_FAILURE() << mode.name << ": code 0x" << std::hex << code << " came back as 0x" << got << ", expected 0x"
                    << Expected(s, code);
      ++wrong;
    }
  }
}

std::vector<Stored> WideFormats() {
  std::vector<Stored> out;
  for (const Stored& s : kFormats)
    if (Bytes(s.format) > 2) out.push_back(s);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Formats, GxlCodecIdentityWide, ::testing::ValuesIn(WideFormats()),
                         [](const ::testing::TestParamInfo<Stored>& info) {
                           return "Format" + std::to_string(info.param.format);
                         });

TEST(GxlCodecIdentity, PaletteIndicesOfDistinctPalettes) {
  PaletteEntry palette[256];
  std::mt19937 rng(99);
  for (int i = 0; i < 256; ++i)  // distinct colours, and distinct without their alpha too
    palette[i] = PaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(rng()),
                              static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(rng())};
  std::vector<std::uint8_t> p8(256);
  for (int i = 0; i < 256; ++i) p8[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> a8p8(65536 * 2);
  for (std::uint32_t c = 0; c < 65536; ++c) std::memcpy(&a8p8[2 * c], &c, 2);
  for (const Mode& mode : kModes) {
    EXPECT_EQ(RoundTrip(D3DFMT_P8, p8, 16, 16, mode, palette), p8) << mode.name;
    EXPECT_EQ(RoundTrip(D3DFMT_A8P8, a8p8, 256, 256, mode, palette), a8p8) << mode.name;
  }
}

TEST(GxlCodecIdentity, CxV8U8KeepsEveryUnitNormal) {
  // Codes inside the unit circle read as unit normals and come back; outside it
  // the normal is shortened to unit length, as the writer normalises.
  std::vector<std::uint8_t> src(65536 * 2);
  for (std::uint32_t c = 0; c < 65536; ++c) std::memcpy(&src[2 * c], &c, 2);
  const std::vector<std::uint8_t> dst = RoundTrip(D3DFMT_CxV8U8, src, 256, 256, kModes[0]);
  ASSERT_EQ(dst.size(), src.size());
  int wrong = 0;
  for (std::uint32_t c = 0; c < 65536 && wrong < 5; ++c) {
    int u = static_cast<std::int8_t>(c & 0xFF), v = static_cast<std::int8_t>(c >> 8);
    u = std::max(u, -127);
    v = std::max(v, -127);
    const int gotU = static_cast<std::int8_t>(dst[2 * c]), gotV = static_cast<std::int8_t>(dst[2 * c + 1]);
    int wantU = u, wantV = v, slack = 0;
    if (u * u + v * v > 127 * 127) {
      const double len = std::sqrt(double(u) * u + double(v) * v);
      wantU = static_cast<int>(std::floor(u / len * 127 + 0.5));
      wantV = static_cast<int>(std::floor(v / len * 127 + 0.5));
      slack = 1;  // float against double near a rounding edge
    }
    if (std::abs(gotU - wantU) > slack || std::abs(gotV - wantV) > slack) {
      ADD_FAILURE() << "CxV8U8 (" << u << ", " << v << ") came back as (" << gotU << ", " << gotV << ")";
      ++wrong;
    }
  }
}

}  // namespace

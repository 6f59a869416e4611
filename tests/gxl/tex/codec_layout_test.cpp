// Where each channel lives: probes written from the layout tables, the codec
// classes the factory makes, and addressing of boxes, pitches and slices.
#include <random>

#include "codec_test_util.h"

namespace {

using namespace codectest;

struct Probe {
  std::uint32_t format;
  std::uint64_t code;
  ColorF texel;
};

constexpr float k255 = 1.0f / 255;

// One probe per stored channel at its largest code, plus the reads of
// channels a format does not store.
const Probe kProbes[] = {
    {D3DFMT_R8G8B8, 0x0000FF, {0, 0, 1, 1}},
    {D3DFMT_R8G8B8, 0x00FF00, {0, 1, 0, 1}},
    {D3DFMT_R8G8B8, 0xFF0000, {1, 0, 0, 1}},
    {D3DFMT_A8R8G8B8, 0x000000FF, {0, 0, 1, 0}},
    {D3DFMT_A8R8G8B8, 0x0000FF00, {0, 1, 0, 0}},
    {D3DFMT_A8R8G8B8, 0x00FF0000, {1, 0, 0, 0}},
    {D3DFMT_A8R8G8B8, 0xFF000000, {0, 0, 0, 1}},
    {D3DFMT_X8R8G8B8, 0xFFFF0000, {1, 0, 0, 1}},
    {D3DFMT_X8R8G8B8, 0x00000000, {0, 0, 0, 1}},
    {D3DFMT_R5G6B5, 0x001F, {0, 0, 1, 1}},
    {D3DFMT_R5G6B5, 0x07E0, {0, 1, 0, 1}},
    {D3DFMT_R5G6B5, 0xF800, {1, 0, 0, 1}},
    {D3DFMT_R5G6B5, 0x0020, {0, 1.0f / 63, 0, 1}},
    {D3DFMT_X1R5G5B5, 0x801F, {0, 0, 1, 1}},
    {D3DFMT_X1R5G5B5, 0x03E0, {0, 1, 0, 1}},
    {D3DFMT_X1R5G5B5, 0x7C00, {1, 0, 0, 1}},
    {D3DFMT_A1R5G5B5, 0x7C00, {1, 0, 0, 0}},
    {D3DFMT_A1R5G5B5, 0x8000, {0, 0, 0, 1}},
    {D3DFMT_A4R4G4B4, 0x000F, {0, 0, 1, 0}},
    {D3DFMT_A4R4G4B4, 0x00F0, {0, 1, 0, 0}},
    {D3DFMT_A4R4G4B4, 0x0F00, {1, 0, 0, 0}},
    {D3DFMT_A4R4G4B4, 0xF000, {0, 0, 0, 1}},
    {D3DFMT_R3G3B2, 0x03, {0, 0, 1, 1}},
    {D3DFMT_R3G3B2, 0x1C, {0, 1, 0, 1}},
    {D3DFMT_R3G3B2, 0xE0, {1, 0, 0, 1}},
    {D3DFMT_R3G3B2, 0x01, {0, 0, 1.0f / 3, 1}},
    {D3DFMT_A8, 0x80, {0, 0, 0, 128 * k255}},
    {D3DFMT_A8R3G3B2, 0xFF00, {0, 0, 0, 1}},
    {D3DFMT_A8R3G3B2, 0x00E0, {1, 0, 0, 0}},
    {D3DFMT_X4R4G4B4, 0xF0F0, {0, 1, 0, 1}},
    {D3DFMT_A2B10G10R10, 0x000003FF, {1, 0, 0, 0}},
    {D3DFMT_A2B10G10R10, 0x000FFC00, {0, 1, 0, 0}},
    {D3DFMT_A2B10G10R10, 0x3FF00000, {0, 0, 1, 0}},
    {D3DFMT_A2B10G10R10, 0x40000000, {0, 0, 0, 1.0f / 3}},
    {D3DFMT_A8B8G8R8, 0x000000FF, {1, 0, 0, 0}},
    {D3DFMT_A8B8G8R8, 0x00FF0000, {0, 0, 1, 0}},
    {D3DFMT_X8B8G8R8, 0xFF0000FF, {1, 0, 0, 1}},
    {D3DFMT_G16R16, 0x0000FFFF, {1, 0, 1, 1}},
    {D3DFMT_G16R16, 0xFFFF0000, {0, 1, 1, 1}},
    {D3DFMT_A2R10G10B10, 0x000003FF, {0, 0, 1, 0}},
    {D3DFMT_A2R10G10B10, 0x3FF00000, {1, 0, 0, 0}},
    {D3DFMT_A2R10G10B10, 0xC0000000, {0, 0, 0, 1}},
    {D3DFMT_A16B16G16R16, 0x000000000000FFFF, {1, 0, 0, 0}},
    {D3DFMT_A16B16G16R16, 0x00000000FFFF0000, {0, 1, 0, 0}},
    {D3DFMT_A16B16G16R16, 0x0000FFFF00000000, {0, 0, 1, 0}},
    {D3DFMT_A16B16G16R16, 0xFFFF000000000000, {0, 0, 0, 1}},
    {Fcc(' ', 'R', '1', '6'), 0x00000000FFFF, {0, 0, 1, 1}},
    {Fcc(' ', 'R', '1', '6'), 0xFFFF00000000, {1, 0, 0, 1}},
    {D3DFMT_L8, 0x33, {0.2f, 0.2f, 0.2f, 1}},
    {D3DFMT_A8L8, 0xFF00, {0, 0, 0, 1}},
    {D3DFMT_A8L8, 0x00FF, {1, 1, 1, 0}},
    {D3DFMT_A4L4, 0xF0, {0, 0, 0, 1}},
    {D3DFMT_A4L4, 0x0F, {1, 1, 1, 0}},
    {D3DFMT_L16, 0xFFFF, {1, 1, 1, 1}},
    {Fcc('A', 'L', '1', '6'), 0xFFFF0000, {0, 0, 0, 1}},
    {Fcc('A', 'L', '1', '6'), 0x0000FFFF, {1, 1, 1, 0}},
    {D3DFMT_D16_LOCKABLE, 0xFFFF, {1, 1, 1, 1}},
    {D3DFMT_V8U8, 0x007F, {1, 0, 1, 1}},
    {D3DFMT_V8U8, 0x7F00, {0, 1, 1, 1}},
    {D3DFMT_V8U8, 0x8081, {-1, -1, 1, 1}},
    {D3DFMT_L6V5U5, 0x000F, {1, 0, 1, 0}},
    {D3DFMT_L6V5U5, 0x0010, {-1, 0, 1, 0}},
    {D3DFMT_L6V5U5, 0x01E0, {0, 1, 1, 0}},
    {D3DFMT_L6V5U5, 0xFC00, {0, 0, 1, 1}},
    {D3DFMT_X8L8V8U8, 0xFFFF0000, {0, 0, 1, 1}},
    {D3DFMT_X8L8V8U8, 0x0000817F, {1, -1, 1, 0}},
    {D3DFMT_Q8W8V8U8, 0x7F000000, {0, 0, 0, 1}},
    {D3DFMT_Q8W8V8U8, 0x007F0000, {0, 0, 1, 0}},
    {D3DFMT_Q8W8V8U8, 0x80818100, {0, -1, -1, -1}},
    {D3DFMT_V16U16, 0x80007FFF, {1, -1, 1, 1}},
    {D3DFMT_A2W10V10U10, 0x000001FF, {1, 0, 0, 0}},
    {D3DFMT_A2W10V10U10, 0x00080000, {0, -1, 0, 0}},
    {D3DFMT_A2W10V10U10, 0x1FF00000, {0, 0, 1, 0}},
    {D3DFMT_A2W10V10U10, 0xC0000000, {0, 0, 0, 1}},
    {D3DFMT_Q16W16V16U16, 0x7FFF000000000000, {0, 0, 0, 1}},
    {D3DFMT_Q16W16V16U16, 0x0000800000000000, {0, 0, -1, 0}},
    {D3DFMT_CxV8U8, 0x0000, {0, 0, 1, 1}},
    {D3DFMT_CxV8U8, 0x7F7F, {1, 1, 0, 1}},
    {D3DFMT_CxV8U8, 0x007F, {1, 0, 0, 1}},
    {D3DFMT_R16F, 0x3C00, {1, 1, 1, 1}},
    {D3DFMT_R16F, 0xC000, {-2, 1, 1, 1}},
    {D3DFMT_G16R16F, 0x3800C000, {-2, 0.5f, 1, 1}},
    {D3DFMT_A16B16G16R16F, 0x3C00380034003000, {0.125f, 0.25f, 0.5f, 1}},
    {D3DFMT_R32F, 0xC0400000, {-3, 1, 1, 1}},
    {D3DFMT_D32F_LOCKABLE, 0x3F000000, {0.5f, 1, 1, 1}},
    {D3DFMT_G32R32F, 0x40800000BF800000, {-1, 4, 1, 1}},
};

TEST(GxlCodecLayout, ProbesReadTheirChannels) {
  for (const Probe& p : kProbes)
    EXPECT_TRUE(Near(ReadTexel(p.format, p.code), p.texel, 1e-6f))
        << "format " << p.format << " code 0x" << std::hex << p.code << ": read " << ReadTexel(p.format, p.code)
        << ", expected " << p.texel;
}

TEST(GxlCodecLayout, ProbesWriteTheirChannels) {
  // The writer mirrors the reader: every probe but those whose channels are
  // derived or doubled writes back its own code.
  for (const Probe& p : kProbes) {
    if (p.format == D3DFMT_CxV8U8 && p.code == 0x7F7F) continue;  // not a unit normal
    if (p.texel.r == -1 || p.texel.g == -1 || p.texel.b == -1 || p.texel.a == -1)
      continue;  // both lowest codes read as -1; -1 is written as the higher one
    if (p.format == D3DFMT_X1R5G5B5 && p.code == 0x801F) continue;  // the X bit
    if (p.format == D3DFMT_X8R8G8B8 || p.format == D3DFMT_X8B8G8R8 || p.format == D3DFMT_X8L8V8U8 ||
        p.format == D3DFMT_X4R4G4B4)
      continue;
    EXPECT_EQ(WriteTexel(p.format, p.texel), p.code) << "format " << p.format;
  }
  EXPECT_EQ(WriteTexel(D3DFMT_X8R8G8B8, ColorF(1, 0, 0, 0.5f)), 0x00FF0000u);
  EXPECT_EQ(WriteTexel(D3DFMT_X8B8G8R8, ColorF(1, 0, 0, 0.5f)), 0x000000FFu);
  EXPECT_EQ(WriteTexel(D3DFMT_X4R4G4B4, ColorF(0, 1, 0, 0.5f)), 0x00F0u);
  EXPECT_EQ(WriteTexel(D3DFMT_X1R5G5B5, ColorF(0, 0, 1, 1)), 0x001Fu);
  EXPECT_EQ(WriteTexel(D3DFMT_X8L8V8U8, ColorF(1, -1, 0.3f, 1)), 0x00FF817Fu);
}

TEST(GxlCodecLayout, FormatsWithoutACodec) {
  std::uint8_t texel[16] = {};
  for (std::uint32_t f : {0u, 37u, 38u, 39u, 71u, 73u, 75u, 77u, 79u, 80u, 83u, 100u, Fcc('A', 'B', 'C', 'D'),
                          Fcc('D', 'X', 'T', '6')}) {
    ImageRegion r = Region(texel, f, 1);
    EXPECT_EQ(CreatePixelCodec(r), nullptr) << f;
  }
}

TEST(GxlCodecLayout, RangesAndFlagsOfTheClasses) {
  std::uint8_t texel[16] = {};
  struct Want {
    std::uint32_t format;
    ChannelRange range;
  };
  const Want wants[] = {{D3DFMT_A8R8G8B8, ChannelRange::Unorm},       {D3DFMT_P8, ChannelRange::Unorm},
                        {D3DFMT_L16, ChannelRange::Unorm},            {D3DFMT_V8U8, ChannelRange::SnormColor},
                        {D3DFMT_L6V5U5, ChannelRange::SnormColor},    {D3DFMT_A2W10V10U10, ChannelRange::SnormColor},
                        {D3DFMT_Q8W8V8U8, ChannelRange::SnormAll},    {D3DFMT_Q16W16V16U16, ChannelRange::SnormAll},
                        {D3DFMT_CxV8U8, ChannelRange::SnormColor},    {D3DFMT_D16_LOCKABLE, ChannelRange::Unorm},
                        {D3DFMT_D32F_LOCKABLE, ChannelRange::Float},  {D3DFMT_R16F, ChannelRange::Float},
                        {D3DFMT_A32B32G32R32F, ChannelRange::Float},  {Fcc('A', 'L', '1', '6'), ChannelRange::Unorm}};
  for (const Want& w : wants) {
    ImageRegion r = Region(texel, w.format, 1);
    r.srgb = 1;
    auto codec = Make(r);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->Range(), w.range) << w.format;
    EXPECT_TRUE(codec->IsAddressable());
    EXPECT_EQ(codec->IsPalettized(), w.format == D3DFMT_P8);
    // Signed texels carry no sRGB, but for the luminance of L6V5U5.
    const bool srgb = w.range == ChannelRange::Unorm || w.range == ChannelRange::Float || w.format == D3DFMT_L6V5U5;
    EXPECT_EQ(codec->Srgb(), srgb) << w.format;
  }
}

TEST(GxlCodecLayout, InvertedOrHugeBoxesGiveNoCodec) {
  std::uint8_t texel[16] = {};
  ImageRegion r = Region(texel, D3DFMT_A8R8G8B8, 1);
  r.box = ImageBox{2, 0, 1, 1, 0, 1};
  EXPECT_EQ(CreatePixelCodec(r), nullptr);
  r.box = ImageBox{0, 1, 1, 0, 0, 1};
  EXPECT_EQ(CreatePixelCodec(r), nullptr);
  r.box = ImageBox{0, 0, 1, 1, 1, 0};
  EXPECT_EQ(CreatePixelCodec(r), nullptr);
  r.box = ImageBox{0, 0, 0x40000000, 1, 0, 1};  // 4 GB in a row
  EXPECT_EQ(CreatePixelCodec(r), nullptr);
  r.box = ImageBox{5, 5, 5, 5, 0, 0};  // empty is fine
  auto codec = CreatePixelCodec(r);
  ASSERT_NE(codec, nullptr);
  EXPECT_EQ(codec->Width(), 0u);
  codec->WriteRow(0, 0, nullptr);  // nothing to do
}

TEST(GxlCodecLayout, BoxesPitchesAndSlicesAddressOnlyTheirTexels) {
  // A 3-slice volume with padded rows; the box covers part of each dimension.
  constexpr std::uint32_t kW = 9, kH = 7, kD = 3, kBytes = 4, kPitch = kW * kBytes + 12, kSlice = kPitch * kH + 20;
  std::vector<std::uint8_t> image(kSlice * kD, 0xEE);
  std::vector<std::uint8_t> source(kSlice * kD);
  std::mt19937 rng(5);
  for (auto& b : source) b = static_cast<std::uint8_t>(rng());
  const ImageBox box{2, 1, 7, 6, 1, 3};

  ImageRegion in = Region(source.data(), D3DFMT_A8B8G8R8, kW, kH, kPitch, kD, kSlice);
  in.box = box;
  ImageRegion out = Region(image.data(), D3DFMT_A8B8G8R8, kW, kH, kPitch, kD, kSlice);
  out.box = box;
  auto reader = Make(in);
  auto writer = Make(out);
  ASSERT_TRUE(reader && writer);
  EXPECT_EQ(reader->Width(), 5u);
  EXPECT_EQ(reader->Height(), 5u);
  EXPECT_EQ(reader->Depth(), 2u);
  EXPECT_EQ(reader->RowBytes(), 20u);
  EXPECT_EQ(reader->Pixels(), source.data() + kSlice + kPitch + 2 * kBytes);
  std::vector<ColorF> row(5);
  for (std::uint32_t z = 0; z < 2; ++z)
    for (std::uint32_t y = 0; y < 5; ++y) {
      reader->ReadRow(y, z, row.data());
      writer->WriteRow(y, z, row.data());
    }
  for (std::uint32_t z = 0; z < kD; ++z)
    for (std::uint32_t y = 0; y < kH; ++y)
      for (std::uint32_t x = 0; x < kPitch; ++x) {
        const std::size_t i = std::size_t{z} * kSlice + y * kPitch + x;
        const bool inside = z >= box.front && z < box.back && y >= box.top && y < box.bottom &&
                            x >= box.left * kBytes && x < box.right * kBytes;
        ASSERT_EQ(image[i], inside ? source[i] : 0xEE) << z << " " << y << " " << x;
      }
}

}  // namespace

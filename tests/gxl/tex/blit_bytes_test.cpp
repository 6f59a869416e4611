// Same-size conversions between formats of whole-byte channels, which move
// bytes instead of float rows: each pair of such formats, under each rounding
// offset of the filter word, gives what the two codecs' own rows give.
#include <gtest/gtest.h>

#include <vector>

#include "blit_test_util.h"
#include "platform/d3d9_api.h"

namespace {

using blittest::Blit;
using blittest::Image;

// The destination written through the codecs' float rows.
Image ThroughFloatRows(std::uint32_t format, Image& source, std::uint32_t filter) {
  Image out(format, source.width, source.height, source.depth);
  ImageRegion d = out.Region(), s = source.Region();
  d.orderedDither = (filter & FilterFlags::OrderedDither) != 0;
  d.errorDiffusion = (filter & FilterFlags::ErrorDiffusion) != 0;
  auto to = CreatePixelCodec(d);
  auto from = CreatePixelCodec(s);
  EXPECT_EQ(PreparePixelCodecPair(to.get(), from.get()), S_OK);
  std::vector<ColorF> row(source.width);
  for (std::uint32_t z = 0; z < source.depth; ++z)
    for (std::uint32_t y = 0; y < source.height; ++y) {
      from->ReadRow(y, z, row.data());
      to->WriteRow(y, z, row.data());
    }
  return out;
}

TEST(GxlBlitBytes, WholeByteFormatsConvertAsTheirFloatRowsDo) {
  const std::uint32_t formats[] = {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8};
  const std::vector<std::uint32_t> filters = {FilterFlags::None, FilterFlags::Triangle | FilterFlags::OrderedDither,
                                   FilterFlags::Box | FilterFlags::ErrorDiffusion};
  std::uint32_t seed = 3;
  // (Equal formats are copied as they stand, unused bytes included.)
  for (std::uint32_t from : formats)
    for (std::uint32_t to : formats)
      for (std::uint32_t filter : from == to ? std::vector<std::uint32_t>{} : filters) {
        SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to) + " filter " + std::to_string(filter));
        // Every byte value in every channel, over rows of both directions and two slices.
        Image source(from, 67, 5, 2);
        source.FillRandom(seed++);
        for (std::uint32_t i = 0; i < 256; ++i) std::memset(source.Texel(i % 67, i / 67 % 4, 1), int(i), 3);
        Image expected = ThroughFloatRows(to, source, filter);
        Image out(to, source.width, source.height, source.depth);
        ASSERT_EQ(Blit(out, source, filter), S_OK);
        EXPECT_EQ(out.bytes, expected.bytes);
        // Stored bytes come through unchanged; channels the source lacks read 255.
        const std::vector<ColorF> a = source.Decode(), b = out.Decode();
        for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(ColorsEqual(a[i], b[i]) || b[i].a == 1.0f) << i;
      }
}

TEST(GxlBlitBytes, KeysAndOneSidedSrgbStillConvertThroughFloats) {
  Image source(D3DFMT_R8G8B8, 9, 3), out(D3DFMT_A8R8G8B8, 9, 3);
  source.Fill(0x336699);
  source.Set(4, 1, 0, 0x102030);
  ASSERT_EQ(Blit(out, source, FilterFlags::None, 0xFF102030), S_OK);
  EXPECT_EQ(out.Get(4, 1), 0u);  // the keyed texel is transparent black
  EXPECT_EQ(out.Get(3, 1), 0xFF336699u);

  Image srgb(D3DFMT_A8R8G8B8, 9, 3);
  ASSERT_EQ(Blit(srgb, source, FilterFlags::None | FilterFlags::DestSrgb), S_OK);
  EXPECT_NE(srgb.Get(3, 1), 0xFF336699u);
}

}  // namespace

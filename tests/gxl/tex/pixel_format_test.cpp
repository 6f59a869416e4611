// The pixel format table against the codecs, and the two nearest-format searches.
#include <gtest/gtest.h>

#include <bit>
#include <set>

#include "codec_test_util.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"
#include "tex_test_device.h"

namespace {

// A request that no record matches exactly.
PixelFormatInfo Request(PixelFormatClass cls, std::uint32_t alpha, std::uint32_t red, std::uint32_t green,
                        std::uint32_t blue, std::uint32_t other = 0) {
  return PixelFormatInfo{static_cast<D3DFORMAT>(0x7E57), cls, 0, other, alpha, red, green, blue, 1};
}

TEST(GxlFitFormat, TableHoldsEachFormatOnceAndAgreesWithTheCodecs) {
  std::set<std::uint32_t> seen;
  for (const PixelFormatInfo* r = PixelFormatTable + 1; r != PixelFormatTableEnd; ++r) {
    EXPECT_TRUE(seen.insert(r->format).second) << r->format;
    EXPECT_EQ(FindPixelFormatInfo(r->format), r);
    // Every format with a plain codec stores as many bits as the table says;
    // the colour formats' channels span as many bits as a full channel
    // changes when the codec writes it.
    std::uint8_t texel[16] = {};
    auto codec = CreatePixelCodec(codectest::Region(texel, r->format, 1));
    if (!codec || !codec->IsAddressable()) continue;
    EXPECT_EQ(codec->BytesPerTexel() * 8, r->bitsPerTexel) << r->format;
    if (r->formatClass != kClassColour || codec->Range() != ChannelRange::Unorm) continue;
    const std::uint64_t none = codectest::WriteTexel(r->format, ColorF(0, 0, 0, 0));
    const auto bits = [&](ColorF c) { return std::popcount(codectest::WriteTexel(r->format, c) ^ none); };
    EXPECT_EQ(bits(ColorF(0, 0, 0, 1)), static_cast<int>(r->alpha)) << r->format;
    EXPECT_EQ(bits(ColorF(1, 0, 0, 0)), static_cast<int>(r->red)) << r->format;
    EXPECT_EQ(bits(ColorF(0, 1, 0, 0)), static_cast<int>(r->green)) << r->format;
    EXPECT_EQ(bits(ColorF(0, 0, 1, 0)), static_cast<int>(r->blue)) << r->format;
  }
  EXPECT_EQ(FindPixelFormatInfo(static_cast<D3DFORMAT>(37)), PixelFormatTable);
  EXPECT_EQ(FindPixelFormatInfo(static_cast<D3DFORMAT>(MAKEFOURCC('X', 'Y', 'Z', 'W'))), PixelFormatTable);
  // The readers' private formats read as their public twins.
  EXPECT_EQ(MapPrivateFormat(static_cast<D3DFORMAT>(MAKEFOURCC('A', 'L', '1', '6'))), D3DFMT_A8L8);
  EXPECT_EQ(MapPrivateFormat(static_cast<D3DFORMAT>(MAKEFOURCC(' ', 'R', '1', '6'))), D3DFMT_A16B16G16R16);
  EXPECT_EQ(MapPrivateFormat(D3DFMT_P8), D3DFMT_P8);
}

TEST(GxlFitFormat, DistanceScoresChannels) {
  const PixelFormatInfo& argb = *FindPixelFormatInfo(D3DFMT_A8R8G8B8);
  EXPECT_EQ(PixelFormatDistance(argb, argb), 0u);
  EXPECT_EQ(PixelFormatDistance(argb, *FindPixelFormatInfo(D3DFMT_X8R8G8B8)), 0x1000000u);  // alpha missing
  EXPECT_EQ(PixelFormatDistance(argb, *FindPixelFormatInfo(D3DFMT_A4R4G4B4)), 4u * (4u << 16));
  EXPECT_EQ(PixelFormatDistance(*FindPixelFormatInfo(D3DFMT_X8R8G8B8), argb), 256u);  // alpha unasked
  EXPECT_EQ(PixelFormatDistance(*FindPixelFormatInfo(D3DFMT_R5G6B5), *FindPixelFormatInfo(D3DFMT_X8R8G8B8)),
            3u + 2u + 3u);
  // Classes: a colour request takes colour only; palettized and luminance take colour too.
  EXPECT_EQ(PixelFormatDistance(argb, *FindPixelFormatInfo(D3DFMT_A8L8)), kNoMatch);
  EXPECT_NE(PixelFormatDistance(*FindPixelFormatInfo(D3DFMT_A8L8), argb), kNoMatch);
  EXPECT_NE(PixelFormatDistance(*FindPixelFormatInfo(D3DFMT_P8), argb), kNoMatch);
  EXPECT_EQ(PixelFormatDistance(*FindPixelFormatInfo(D3DFMT_V8U8), argb), kNoMatch);
  EXPECT_EQ(PixelFormatDistance(*FindPixelFormatInfo(D3DFMT_D16), argb), kNoMatch);
  // Every requested channel missing, or nothing requested: no match.
  EXPECT_EQ(PixelFormatDistance(*FindPixelFormatInfo(D3DFMT_L8), *FindPixelFormatInfo(D3DFMT_A8)), kNoMatch);
  EXPECT_EQ(PixelFormatDistance(Request(kClassColour, 0, 0, 0, 0), argb), kNoMatch);
}

TEST(GxlFitFormat, BestFormatWithoutADevice) {
  // An exact request wins even when the record is never chosen otherwise.
  for (D3DFORMAT f : {D3DFMT_R8G8B8, D3DFMT_CxV8U8, D3DFMT_R16F, D3DFMT_DXT1, kFormatAL16})
    EXPECT_EQ(FindBestPixelFormat(nullptr, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(f)), f);
  // Format 0 matches like A8R8G8B8 through the fallback record.
  EXPECT_EQ(FindBestPixelFormat(nullptr, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_UNKNOWN)),
            D3DFMT_A8R8G8B8);
  // Equal scores and sizes: the earlier record (A8R8G8B8 before A8B8G8R8).
  EXPECT_EQ(FindBestPixelFormat(nullptr, 0, D3DRTYPE_TEXTURE, Request(kClassColour, 8, 8, 8, 8)),
            D3DFMT_A8R8G8B8);
  EXPECT_EQ(FindBestPixelFormat(nullptr, 0, D3DRTYPE_TEXTURE, Request(kClassLuminance, 0, 8, 8, 8)), D3DFMT_L8);
  EXPECT_EQ(FindBestPixelFormat(nullptr, 0, D3DRTYPE_TEXTURE, Request(kClassSigned, 0, 0, 8, 8, 8)),
            D3DFMT_X8L8V8U8);
  EXPECT_EQ(FindBestPixelFormat(nullptr, 0, D3DRTYPE_TEXTURE, Request(kClassColour, 0, 0, 0, 0)), D3DFMT_UNKNOWN);
}

TEST(GxlFitFormat, ListedFormatsPreferFewerBitsThenTheListOrder) {
  const D3DFORMAT both[] = {D3DFMT_X8R8G8B8, D3DFMT_R8G8B8, D3DFMT_UNKNOWN};
  EXPECT_EQ(FindBestListedFormat(both, false, Request(kClassColour, 0, 8, 8, 8)), D3DFMT_R8G8B8);
  const D3DFORMAT swapped[] = {D3DFMT_A8B8G8R8, D3DFMT_A8R8G8B8, D3DFMT_UNKNOWN};
  EXPECT_EQ(FindBestListedFormat(swapped, false, Request(kClassColour, 8, 8, 8, 8)), D3DFMT_A8B8G8R8);
  // An exact match ends the search; unknown codes are skipped.
  const D3DFORMAT mixed[] = {static_cast<D3DFORMAT>(0x12345678), D3DFMT_L8, D3DFMT_A8R8G8B8, D3DFMT_UNKNOWN};
  EXPECT_EQ(FindBestListedFormat(mixed, false, *FindPixelFormatInfo(D3DFMT_A8R8G8B8)), D3DFMT_A8R8G8B8);
  EXPECT_EQ(FindBestListedFormat(mixed, false, *FindPixelFormatInfo(D3DFMT_A8L8)), D3DFMT_A8R8G8B8);
  const D3DFORMAT none[] = {D3DFMT_UNKNOWN};
  EXPECT_EQ(FindBestListedFormat(none, true, *FindPixelFormatInfo(D3DFMT_A8R8G8B8)), D3DFMT_UNKNOWN);
}

TEST(GxlFitFormat, ListedPalettesOnlyWhenAllowed) {
  const D3DFORMAT bmp[] = {D3DFMT_P8, D3DFMT_L8, D3DFMT_R3G3B2, D3DFMT_R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8,
                           D3DFMT_A8R8G8B8, D3DFMT_UNKNOWN};
  EXPECT_EQ(FindBestListedFormat(bmp, true, *FindPixelFormatInfo(D3DFMT_P8)), D3DFMT_P8);
  EXPECT_EQ(FindBestListedFormat(bmp, false, *FindPixelFormatInfo(D3DFMT_P8)), D3DFMT_A8R8G8B8);
  const D3DFORMAT jpg[] = {D3DFMT_X8R8G8B8, D3DFMT_UNKNOWN};
  EXPECT_EQ(FindBestListedFormat(jpg, false, *FindPixelFormatInfo(D3DFMT_R5G6B5)), D3DFMT_X8R8G8B8);
  const D3DFORMAT png[] = {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16, D3DFMT_UNKNOWN};
  EXPECT_EQ(FindBestListedFormat(png, false, *FindPixelFormatInfo(D3DFMT_A2R10G10B10)), D3DFMT_A16B16G16R16);
  EXPECT_EQ(FindBestListedFormat(png, false, *FindPixelFormatInfo(D3DFMT_V8U8)), D3DFMT_UNKNOWN);
}

using GxlFitFormatDevice = textest::DeviceTest;

TEST_F(GxlFitFormatDevice, OnlyFormatsTheDeviceAccepts) {
  // The default device lacks R8G8B8: the nearest is X8R8G8B8.
  EXPECT_EQ(FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_R8G8B8)), D3DFMT_X8R8G8B8);
  // A device that accepts it gets it back unchanged although it is never chosen otherwise.
  platform::test::SetD3D9FormatAnswer([](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    if (format == D3DFMT_R8G8B8) return D3D_OK;
    return platform::test::D3D9ProfileFormatAnswer("game", usage, type, format);
  });
  EXPECT_EQ(FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_R8G8B8)), D3DFMT_R8G8B8);
  platform::test::SetD3D9FormatAnswer(nullptr);
  // Signed requests find nothing on the game device; depth formats are no textures.
  EXPECT_EQ(FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_V8U8)), D3DFMT_UNKNOWN);
  EXPECT_EQ(FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_D16)), D3DFMT_UNKNOWN);
  ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  EXPECT_EQ(FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_V8U8)), D3DFMT_V8U8);
  EXPECT_EQ(FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_CxV8U8)), D3DFMT_CxV8U8);
  EXPECT_EQ(FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_A8P8)), D3DFMT_A8R8G8B8);
}

TEST_F(GxlFitFormatDevice, VertexTexturesOfASoftwareDeviceAskForSoftwareProcessing) {
  textest::Ref<IDirect3DDevice9> soft;
  D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(16, 16, false);
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &soft), D3D_OK);
  DWORD seenUsage = 0;
  platform::test::SetD3D9FormatAnswer([&](DWORD usage, D3DRESOURCETYPE, D3DFORMAT format) {
    if (format == D3DFMT_R32F) seenUsage = usage;
    return format == D3DFMT_R32F ? D3D_OK : D3DERR_NOTAVAILABLE;
  });
  EXPECT_EQ(FindBestPixelFormat(soft.get(), D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE,
                                *FindPixelFormatInfo(D3DFMT_R32F)),
            D3DFMT_R32F);
  EXPECT_EQ(seenUsage, D3DUSAGE_QUERY_VERTEXTEXTURE | D3DUSAGE_SOFTWAREPROCESSING);
  EXPECT_EQ(FindBestPixelFormat(dev, D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE,
                                *FindPixelFormatInfo(D3DFMT_R32F)),
            D3DFMT_R32F);
  EXPECT_EQ(seenUsage, D3DUSAGE_QUERY_VERTEXTEXTURE);
  platform::test::SetD3D9FormatAnswer(nullptr);
}

TEST_F(GxlFitFormatDevice, MutesTheDebugRuntimeWhileAsking) {
  platform::test::RecordDebugSetMuteCalls();
  const std::size_t before = platform::test::DebugSetMuteCalls().size();
  FindBestPixelFormat(dev, 0, D3DRTYPE_TEXTURE, *FindPixelFormatInfo(D3DFMT_A8R8G8B8));
  const auto& calls = platform::test::DebugSetMuteCalls();
  ASSERT_EQ(calls.size(), before + 2);
  EXPECT_EQ(calls[before], 1u);
  EXPECT_EQ(calls[before + 1], 0u);
}

}  // namespace

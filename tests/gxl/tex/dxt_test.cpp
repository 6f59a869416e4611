// The DXT block codec and the DXT pixel codecs, checked against independent
// codecs of the format: libsquish decodes our blocks, stb_dxt encodes the
// same blocks for an error to measure against, and ImageMagick writes and
// decodes DDS files.
#include <squish.h>

#include <algorithm>
#include <cmath>

#include "codec_test_util.h"
#include "gxl/tex/dxt_block.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_import.h"
#include "image_test_util.h"
#include "tests/support/stb_dxt.h"
#include "tests/support/test_util.h"
#include "tex_test_device.h"

namespace {

using namespace codectest;

struct Format {
  const char* name;
  std::uint32_t code;
  int blockBytes;
  int squishFlag;
  DxtEncodeBlockFn encode;
  DxtDecodeBlockFn decode;
};
const Format kDxt1{"DXT1", Fcc('D', 'X', 'T', '1'), 8, squish::kDxt1, EncodeDxt1Block, DecodeDxt1Block};
const Format kDxt3{"DXT3", Fcc('D', 'X', 'T', '3'), 16, squish::kDxt3, EncodeDxt3Block, DecodeDxt3Block};
const Format kDxt5{"DXT5", Fcc('D', 'X', 'T', '5'), 16, squish::kDxt5, EncodeDxt5Block, DecodeDxt5Block};

// An 8-bit RGBA picture of whole blocks.
struct Rgba {
  int width = 0, height = 0;
  std::vector<std::uint8_t> px;
};

// Alpha that sweeps across the picture and follows its green, so that blocks
// hold smooth, noisy and (for DXT1) partly transparent alpha.
void AddAlpha(Rgba& im) {
  for (int i = 0; i < im.width * im.height; ++i)
    im.px[4 * i + 3] = static_cast<std::uint8_t>(((i % im.width) * 255 / im.width + im.px[4 * i + 1]) / 2);
}

Rgba Synthetic() {
  const imgtest::Pnm p = imgtest::MakePicture(64, 48);
  Rgba im{64, 48, {}};
  for (std::size_t i = 0; i < p.samples.size(); i += 3)
    im.px.insert(im.px.end(), {std::uint8_t(p.samples[i]), std::uint8_t(p.samples[i + 1]),
                               std::uint8_t(p.samples[i + 2]), 255});
  AddAlpha(im);
  return im;
}

// ImageMagick's built-in photograph made width x height by the operation
// given, with the sweeping alpha.
Rgba Rose(const nura::test::TempDir& dir, int width, int height, const std::string& operation) {
  Rgba im{width, height, {}};
  const std::string path = dir / ("rose" + std::to_string(width) + ".rgba");
  const std::size_t bytes = std::size_t(width) * height * 4;
  if (imgtest::Run("convert rose: " + operation + " -depth 8 rgba:" + imgtest::Quote(path)))
    im.px = nura::test::ReadFileBytes(path);
  EXPECT_EQ(im.px.size(), bytes);
  im.px.resize(bytes);
  AddAlpha(im);
  return im;
}

// The photograph cut to whole blocks.
Rgba Photo(const nura::test::TempDir& dir) { return Rose(dir, 68, 44, "-crop 68x44+0+0 +repage"); }

void Gather(const Rgba& im, int bx, int by, ColorF texels[16], std::uint8_t bytes[64], bool opaque) {
  for (int i = 0; i < 16; ++i) {
    const std::uint8_t* p = &im.px[4 * ((4 * by + i / 4) * im.width + 4 * bx + i % 4)];
    for (int c = 0; c < 4; ++c) bytes[4 * i + c] = c == 3 && opaque ? 255 : p[c];
    texels[i] = ColorF(bytes[4 * i] / 255.0f, bytes[4 * i + 1] / 255.0f, bytes[4 * i + 2] / 255.0f,
                       bytes[4 * i + 3] / 255.0f);
  }
}

std::uint8_t ToByte(float v) { return static_cast<std::uint8_t>(std::clamp(v * 255.0f + 0.5f, 0.0f, 255.0f)); }

// Squared errors of squish's decode of each block against the source:
// luma-weighted over R, G, B (the metric the encoder optimises) and alpha.
struct Error {
  double luma = 0, rgb = 0, alpha = 0;
  int texels = 0;
  double LumaRmse() const { return std::sqrt(luma / texels); }
  double RgbRmse() const { return std::sqrt(rgb / texels / 3); }
  double AlphaRmse() const { return std::sqrt(alpha / texels); }
};
// Alpha is measured against the format's own interpolation of the interpolated
// alpha blocks, (7 - j) a0 + j a1 over 7 (or the five-step form), in exact
// arithmetic: integer decoders round those steps each their own way.
void AddError(Error& e, const std::uint8_t* block, int squishFlag, const std::uint8_t source[64]) {
  std::uint8_t out[64];
  squish::Decompress(out, block, squishFlag);
  double alpha[16];
  for (int i = 0; i < 16; ++i) alpha[i] = out[4 * i + 3];
  if (squishFlag == squish::kDxt5) {
    const double a0 = block[0], a1 = block[1];
    double palette[8] = {a0, a1};
    for (int j = 1; j <= 6; ++j)
      palette[j + 1] = a0 > a1 ? ((7 - j) * a0 + j * a1) / 7 : j <= 4 ? ((5 - j) * a0 + j * a1) / 5 : j == 5 ? 0 : 255;
    std::uint64_t indices = 0;
    for (int k = 0; k < 6; ++k) indices |= std::uint64_t{block[2 + k]} << (8 * k);
    for (int i = 0; i < 16; ++i) alpha[i] = palette[(indices >> (3 * i)) & 7];
  }
  constexpr double kLuma[3] = {0.2126, 0.7152, 0.0722};
  for (int i = 0; i < 16; ++i) {
    for (int c = 0; c < 3; ++c) {
      e.luma += kLuma[c] * std::pow(out[4 * i + c] - source[4 * i + c], 2);
      e.rgb += std::pow(out[4 * i + c] - source[4 * i + c], 2);
    }
    e.alpha += std::pow(alpha[i] - source[4 * i + 3], 2);
  }
  e.texels += 16;
}

TEST(GxlDxt, SquishDecodesOurBlocksAsWeDo) {
  const Rgba im = Synthetic();
  for (const Format* f : {&kDxt1, &kDxt3, &kDxt5}) {
    for (bool diffuse : {false, true}) {
      int worst = 0;
      for (int by = 0; by < im.height / 4; ++by)
        for (int bx = 0; bx < im.width / 4; ++bx) {
          ColorF texels[16], ours[16];
          std::uint8_t bytes[64], block[16], theirs[64];
          Gather(im, bx, by, texels, bytes, false);
          f->encode(block, texels, diffuse);
          f->decode(ours, block);
          squish::Decompress(theirs, block, f->squishFlag);
          for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 4; ++c)
              worst = std::max(worst, std::abs(ToByte((&ours[i].r)[c]) - theirs[4 * i + c]));
        }
      EXPECT_LE(worst, 1) << f->name << (diffuse ? " with diffusion" : "");
    }
  }
}

// Pictures of 256 x 256 texels: ImageMagick's photograph scaled up (smooth,
// as most of a photograph's blocks are) and waves with fine patterns, both
// with the sweeping alpha.
Rgba LargePhoto(const nura::test::TempDir& dir) { return Rose(dir, 256, 256, "-resize 256x256!"); }

Rgba LargeSynthetic() {
  Rgba im{256, 256, {}};
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      for (int c = 0; c < 3; ++c)
        im.px.push_back(static_cast<std::uint8_t>(120 + 90 * std::sin(x / (11.0 + 4 * c)) * std::cos(y / 17.0) +
                                                  ((x ^ y) >> (3 + c) & 31)));
      im.px.push_back(255);
    }
  AddAlpha(im);
  return im;
}

TEST(GxlDxt, EncodingErrorIsWithinATenthOfStb) {
  imgtest::RequireTools({"convert"});
  nura::test::TempDir dir;
  const Rgba pictures[] = {LargePhoto(dir), LargeSynthetic(), Photo(dir), Synthetic()};
  for (const Rgba& im : pictures) {
    for (const Format* f : {&kDxt1, &kDxt5}) {
      const bool dxt5 = f == &kDxt5;
      Error ours, stb;
      for (int by = 0; by < im.height / 4; ++by)
        for (int bx = 0; bx < im.width / 4; ++bx) {
          ColorF texels[16];
          std::uint8_t bytes[64], block[16];
          Gather(im, bx, by, texels, bytes, !dxt5);
          f->encode(block, texels, false);
          AddError(ours, block, f->squishFlag, bytes);
          stb_compress_dxt_block(block, bytes, dxt5, STB_DXT_NORMAL);
          AddError(stb, block, f->squishFlag, bytes);
        }
      const std::string what = std::string(f->name) + " " + std::to_string(im.width) + " x " +
                               std::to_string(im.height) + (&im == &pictures[0] || &im == &pictures[2] ? " photo" : "");
      // The encoder weighs its error by luma; plain RGB error is held to the
      // goal on the large pictures.
      EXPECT_LE(ours.LumaRmse(), 1.1 * stb.LumaRmse()) << what << ", stb " << stb.LumaRmse();
      if (im.width == 256) {
        EXPECT_LE(ours.RgbRmse(), 1.1 * stb.RgbRmse()) << what << ", stb " << stb.RgbRmse();
      }
      if (dxt5) {
        EXPECT_LE(ours.AlphaRmse(), 1.1 * stb.AlphaRmse()) << what << ", stb " << stb.AlphaRmse();
      }
    }
  }
}

TEST(GxlDxt, DecodesImageMagickDdsFiles) {
  imgtest::RequireTools({"convert"});
  nura::test::TempDir dir;
  const Rgba im = Synthetic();
  std::string pam = "P7\nWIDTH 64\nHEIGHT 48\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
  std::vector<std::uint8_t> file(pam.begin(), pam.end());
  file.insert(file.end(), im.px.begin(), im.px.end());
  nura::test::WriteFileBytes(dir / "in.pam", file);
  for (const Format* f : {&kDxt1, &kDxt5}) {
    const std::string dds = dir / (std::string(f->name) + ".dds");
    ASSERT_TRUE(imgtest::Run("convert " + imgtest::Quote(dir / "in.pam") + " -define dds:compression=" + f->name +
                             " -define dds:mipmaps=0 " + imgtest::Quote(dds)));
    const std::vector<std::uint8_t> bytes = nura::test::ReadFileBytes(dds);
    const std::vector<std::uint16_t> theirs = imgtest::ConvertRgba(dds, 8);
    ASSERT_EQ(bytes.size(), 128u + 16 * 12 * f->blockBytes);
    ASSERT_EQ(std::memcmp(&bytes[84], &f->code, 4), 0) << "four-character code of " << f->name;
    ASSERT_EQ(theirs.size(), 64u * 48 * 4);
    int worst = 0;
    for (int k = 0; k < 16 * 12; ++k) {
      ColorF texels[16];
      f->decode(texels, &bytes[128 + k * f->blockBytes]);
      for (int i = 0; i < 16; ++i) {
        const std::size_t at = 4 * ((4 * (k / 16) + i / 4) * 64 + 4 * (k % 16) + i % 4);
        for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(ToByte((&texels[i].r)[c]) - theirs[at + c]));
      }
    }
    EXPECT_LE(worst, 1) << f->name;
  }
}

TEST(GxlDxt, BlocksOfTheEdgeCases) {
  std::uint8_t block[16];
  auto fill = [](ColorF c) { return std::vector<ColorF>(16, c); };
  // All transparent: the fixed DXT1 block.
  EncodeDxt1Block(block, fill(ColorF(0.3f, 0.6f, 0.9f, 0.2f)).data(), false);
  EXPECT_EQ(std::vector<std::uint8_t>(block, block + 8),
            (std::vector<std::uint8_t>{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  // All opaque in DXT5: alpha bytes FF FF and zero indices.
  EncodeDxt5Block(block, fill(ColorF(0.3f, 0.6f, 0.9f, 1.0f)).data(), false);
  EXPECT_EQ(std::vector<std::uint8_t>(block, block + 8), (std::vector<std::uint8_t>{0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
  // One colour: colour0 = colour1 and indices 0.
  EncodeDxt3Block(block, fill(ColorF(0.4f, 0.6f, 0.2f, 1.0f)).data(), false);
  EXPECT_EQ(std::memcmp(block + 8, block + 10, 2), 0);
  EXPECT_EQ(block[12] | block[13] | block[14] | block[15], 0);

  // Alphas of only 0 and 1 take the six-step mode, stored as such (alpha0 <=
  // alpha1), and decode exactly, with and without diffusion.
  std::vector<ColorF> binary = fill(ColorF(0.5f, 0.5f, 0.5f, 1.0f));
  for (int i = 0; i < 16; i += 3) binary[i].a = 0.0f;
  for (bool diffuse : {false, true}) {
    ColorF out[16];
    EncodeDxt5Block(block, binary.data(), diffuse);
    EXPECT_LE(block[0], block[1]);
    DecodeDxt5Block(out, block);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i].a, binary[i].a) << i;
  }

  // Explicit alpha outside [0, 1] (from a fill callback) saturates.
  std::vector<ColorF> wild = fill(ColorF(0.5f, 0.5f, 0.5f, 1.5f));
  for (int i = 8; i < 16; ++i) wild[i].a = -0.5f;
  for (bool diffuse : {false, true}) {
    ColorF out[16];
    EncodeDxt3Block(block, wild.data(), diffuse);
    DecodeDxt3Block(out, block);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i].a, i < 8 ? 1.0f : 0.0f) << i;
  }
}

TEST(GxlDxt, DecodingRules) {
  // colour0 = colour1: three colours, index 3 transparent black.
  const std::uint8_t dxt1[8] = {0x34, 0x12, 0x34, 0x12, 0xE4, 0, 0, 0};  // indices 0, 1, 2, 3
  ColorF out[16];
  DecodeDxt1Block(out, dxt1);
  const ColorF colour = Rgb565ToFloat(0x1234);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ColorsEqual(out[i], colour)) << i << " " << out[i];
  EXPECT_TRUE(ColorsEqual(out[3], ColorF(0, 0, 0, 0)));
  // DXT5 colour blocks always have four colours: the same index is that colour
  // with the block's own alpha.
  const std::uint8_t dxt5[16] = {0x80, 0x80, 0, 0, 0, 0, 0, 0, 0x34, 0x12, 0x34, 0x12, 0xE4, 0, 0, 0};
  DecodeDxt5Block(out, dxt5);
  EXPECT_TRUE(ColorsEqual(out[3], ColorF(colour.r, colour.g, colour.b, 128 * 0.003921569f))) << out[3];
  // Premultiplied colour above its alpha comes back as 1.
  ColorF premultiplied[16];
  std::fill(premultiplied, premultiplied + 16, ColorF(0.6f, 0.25f, 0.0f, 0.5f));
  UnpremultiplyBlock(premultiplied);
  EXPECT_TRUE(ColorsEqual(premultiplied[0], ColorF(1.0f, 0.5f, 0.0f, 0.5f))) << premultiplied[0];
}

// A DXT region of width x height texels in `blocks`.
ImageRegion DxtRegion(std::vector<std::uint8_t>& blocks, const Format& f, std::uint32_t width, std::uint32_t height) {
  const std::uint32_t pitch = (width + 3) / 4 * f.blockBytes;
  blocks.assign(std::size_t{pitch} * ((height + 3) / 4), 0xAB);
  return Region(blocks.data(), f.code, width, height, pitch);
}

TEST(GxlDxt, PartialBlocksRepeatTheirLastTexels) {
  std::vector<std::uint8_t> blocks;
  auto codec = Make(DxtRegion(blocks, kDxt1, 2, 2));
  ColorF rows[2][2] = {{ColorF(1, 0, 0, 1), ColorF(0, 1, 0, 1)}, {ColorF(0, 0, 1, 1), ColorF(1, 1, 1, 1)}};
  codec->WriteRow(1, 0, rows[1]);  // out of order
  codec->WriteRow(0, 0, rows[0]);
  std::uint8_t out[64];
  squish::Decompress(out, blocks.data(), squish::kDxt1);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(std::memcmp(out + 4 * i, out + 4 * ((i / 4 % 2) * 4 + i % 2), 4), 0) << i;
  EXPECT_NE(std::memcmp(out, out + 4, 4), 0);
}

TEST(GxlDxt, BlockRowsWaitForAllFourRows) {
  std::vector<std::uint8_t> blocks;
  auto codec = Make(DxtRegion(blocks, kDxt5, 8, 4));
  std::vector<ColorF> row(8);
  for (std::uint32_t y : {3u, 1u, 2u, 0u}) {
    EXPECT_EQ(std::count(blocks.begin(), blocks.end(), 0xAB), static_cast<long>(blocks.size())) << "before row " << y;
    for (int x = 0; x < 8; ++x) row[x] = ColorF(x / 7.0f, 1 - x / 7.0f, 0.5f, (x + y) / 10.0f);
    codec->WriteRow(y, 0, row.data());
  }
  for (std::uint32_t y = 0; y < 4; ++y) {
    codec->ReadRow(y, 0, row.data());
    for (int x = 0; x < 8; ++x) EXPECT_TRUE(Near(row[x], ColorF(x / 7.0f, 1 - x / 7.0f, 0.5f, (x + y) / 10.0f), 0.05f))
        << x << ", " << y << ": " << row[x];
  }
}

TEST(GxlDxt, KeysCompareOnTheBlockGrid) {
  // Red, black, then two thirds of red: 0.667, which the 5-bit grid puts at
  // 21/31, as it does the key's 173/255.
  std::uint8_t block[8] = {0x00, 0xF8, 0x00, 0x00, 0x08, 0, 0, 0};  // indices 0, 2, 0, 0
  ImageRegion r = Region(block, kDxt1.code, 4, 1, 8);
  r.colourKey = 0xFFAD0000;
  auto codec = Make(r);
  ColorF row[4];
  codec->ReadRow(0, 0, row);
  EXPECT_TRUE(ColorsEqual(row[1], ColorF(0, 0, 0, 0))) << row[1];
  EXPECT_TRUE(ColorsEqual(row[0], ColorF(1, 0, 0, 1))) << row[0];
}

TEST(GxlDxt, FloatRowsAreClampedAfterPreparation) {
  std::vector<std::uint8_t> blocks;
  auto codec = Make(DxtRegion(blocks, kDxt3, 4, 4));
  ASSERT_EQ(codec->PrepareForFloatRows(), S_OK);
  for (std::uint32_t y = 0; y < 4; ++y) {
    std::vector<ColorF> row(4, ColorF(2.0f, -1.0f, 0.0f, 3.0f));
    codec->WriteRow(y, 0, row.data());
  }
  ColorF out[4];
  codec->ReadRow(2, 0, out);
  EXPECT_TRUE(ColorsEqual(out[3], ColorF(1, 0, 0, 1))) << out[3];
}

class GxlDxtDevice : public textest::DeviceTest {};

TEST_F(GxlDxtDevice, ConvertsThroughTheBlitterBothWays) {
  // A picture into a DXT5 texture and back into A8R8G8B8 agrees with
  // squish's reading of the stored blocks.
  const Rgba im = Synthetic();
  std::vector<std::uint32_t> argb(64 * 48);
  for (int i = 0; i < 64 * 48; ++i)
    argb[i] = std::uint32_t(im.px[4 * i + 3]) << 24 | im.px[4 * i] << 16 | im.px[4 * i + 1] << 8 | im.px[4 * i + 2];
  textest::Ref<IDirect3DTexture9> dxt, plain;
  ASSERT_EQ(dev->CreateTexture(64, 48, 1, 0, D3DFMT_DXT5, D3DPOOL_SCRATCH, &dxt, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateTexture(64, 48, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &plain, nullptr), D3D_OK);
  textest::Ref<IDirect3DSurface9> dxtLevel, plainLevel;
  ASSERT_EQ(dxt->GetSurfaceLevel(0, &dxtLevel), D3D_OK);
  ASSERT_EQ(plain->GetSurfaceLevel(0, &plainLevel), D3D_OK);
  const RECT whole{0, 0, 64, 48};
  ASSERT_EQ(GXLImportSurfaceFromPixels(dxtLevel.get(), nullptr, nullptr, argb.data(), D3DFMT_A8R8G8B8, 64 * 4,
                                       nullptr, &whole, kGxlDefault, 0),
            S_OK);
  ASSERT_EQ(GXLImportSurfaceFromSurface(plainLevel.get(), nullptr, nullptr, dxtLevel.get(), nullptr, nullptr,
                                        1 /* no filter */, 0),
            S_OK);
  std::vector<std::uint8_t> squished(64 * 48 * 4);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(dxtLevel->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  squish::DecompressImage(squished.data(), 64, 48, lr.pBits, squish::kDxt5);
  dxtLevel->UnlockRect();
  const std::vector<std::uint32_t> back = Read32(plainLevel.get());
  int worst = 0;
  double error = 0;
  for (int i = 0; i < 64 * 48; ++i)
    for (int c = 0; c < 4; ++c) {
      const int shift = c == 3 ? 24 : 16 - 8 * c;
      worst = std::max(worst, std::abs(int(back[i] >> shift & 0xFF) - squished[4 * i + c]));
      error += std::abs(int(back[i] >> shift & 0xFF) - im.px[4 * i + c]);
    }
  EXPECT_LE(worst, 1);
  EXPECT_LT(error / (64 * 48 * 4), 4.0) << "mean error of a sample";
}

TEST_F(GxlDxtDevice, PartialLocksAtTheEdgeRepeatTheExistingRows) {
  // Level 1 of 8 x 12 is 4 x 6: its second row of blocks has two real rows.
  // Red and green alone encode exactly only if the missing rows repeat them.
  textest::Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(8, 12, 2, 0, D3DFMT_DXT1, D3DPOOL_SCRATCH, &t, nullptr), D3D_OK);
  textest::Ref<IDirect3DSurface9> level;
  ASSERT_EQ(t->GetSurfaceLevel(1, &level), D3D_OK);
  const std::uint32_t pixels[8] = {0xFFFF0000, 0xFF00FF00, 0xFFFF0000, 0xFF00FF00,
                                   0xFF00FF00, 0xFFFF0000, 0xFF00FF00, 0xFFFF0000};
  const RECT source{0, 0, 4, 2}, target{0, 4, 4, 6};
  ASSERT_EQ(GXLImportSurfaceFromPixels(level.get(), nullptr, &target, pixels, D3DFMT_A8R8G8B8, 16, nullptr, &source,
                                       1 /* no filter */, 0),
            S_OK);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(level->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  std::uint8_t out[64];
  squish::Decompress(out, static_cast<std::uint8_t*>(lr.pBits) + lr.Pitch, squish::kDxt1);
  level->UnlockRect();
  for (int i = 0; i < 8; ++i) {
    const std::uint8_t expected[4] = {std::uint8_t(pixels[i] >> 16), std::uint8_t(pixels[i] >> 8), 0, 255};
    EXPECT_EQ(std::memcmp(out + 4 * i, expected, 4), 0) << "texel " << i;
  }
}

}  // namespace

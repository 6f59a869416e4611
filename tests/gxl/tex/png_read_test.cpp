// The PNG reader against files made by netpbm's pnmtopng: every colour type
// and bit depth, transparency chunks, Adam7 interlacing and gAMA chunks, each
// compared with the texels ImageMagick decodes; and truncated and bit-flipped
// copies, which must fail cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::Quote;
using nura::test::ReadFileBytes;
using nura::test::TempDir;

constexpr std::uint32_t kWidth = 37, kHeight = 23;  // odd, so that rows and Adam7 passes end part-way

// One corpus file: the raster it is made from, pnmtopng's options, what
// pngcheck must report about it, and the format the reader must give.
struct CorpusCase {
  const char* name;
  const char* raster;
  std::string options;
  const char* layout;  // pngcheck's "N x M image, <layout>"
  DWORD format;
  int tolerance;  // 0: exact; else the largest difference allowed per sample (8-bit units)
  bool gammaOne = false;  // gAMA 1.0: compared with the display-gamma correction of the file's samples
};

// The rasters: grey of every depth, RGB of 8 and 16 bits, palettes of 2 to
// 200 colours, and alpha masks.
imgtest::Pnm Raster(const std::string& name) {
  if (name == "g1") return imgtest::MakeRaster(kWidth, kHeight, 1, 1, 1);
  if (name == "g2") return imgtest::MakeRaster(kWidth, kHeight, 1, 3, 2);
  if (name == "g4") return imgtest::MakeRaster(kWidth, kHeight, 1, 15, 3);
  if (name == "g8" || name == "a8") return imgtest::MakeRaster(kWidth, kHeight, 1, 255, name == "g8" ? 4 : 5);
  if (name == "g16" || name == "a16") return imgtest::MakeRaster(kWidth, kHeight, 1, 65535, name == "g16" ? 6 : 7);
  if (name == "c8") return imgtest::MakeRaster(kWidth, kHeight, 3, 255, 8);
  if (name == "c16") return imgtest::MakeRaster(kWidth, kHeight, 3, 65535, 9);
  if (name == "p2") return imgtest::MakeRaster(kWidth, kHeight, 3, 255, 10, 2);
  if (name == "p4") return imgtest::MakeRaster(kWidth, kHeight, 3, 255, 11, 4);
  if (name == "p16") return imgtest::MakeRaster(kWidth, kHeight, 3, 255, 12, 16);
  if (name == "p200") return imgtest::MakeRaster(kWidth, kHeight, 3, 255, 13, 200);
  ADD_FAILURE() << "no raster " << name;
  return {};
}

// pnmtopng's exact-colour argument for the first texel of a raster.
std::string FirstColour(const imgtest::Pnm& r) {
  char text[40];
  const auto scaled = [&](std::uint16_t s) {
    return r.maxval > 255 ? unsigned{s} : unsigned{s} * 255u / r.maxval;
  };
  const char* f = r.maxval > 255 ? "%04x" : "%02x";
  std::string colour = "=rgb:";
  for (std::uint32_t c = 0; c < 3; ++c) {
    std::snprintf(text, sizeof text, f, scaled(r.samples[r.channels == 1 ? 0 : c]));
    colour += text;
    if (c < 2) colour += "/";
  }
  return colour;
}

std::vector<CorpusCase> Corpus() {
  const std::string alpha8 = "-alpha={dir}/a8.pgm";
  const std::string alpha16 = "-alpha={dir}/a16.pgm";
  const std::string grey2Key = "-transparent=" + FirstColour(Raster("g2"));
  const std::string grey8Key = "-transparent=" + FirstColour(Raster("g8"));
  const std::string grey16Key = "-transparent=" + FirstColour(Raster("g16"));
  const std::string rgb8Key = "-transparent=" + FirstColour(Raster("c8"));
  const std::string rgb16Key = "-transparent=" + FirstColour(Raster("c16"));
  const std::string pal200Key = "-transparent=" + FirstColour(Raster("p200"));
  const DWORD L8 = D3DFMT_L8, A8L8 = D3DFMT_A8L8, L16 = D3DFMT_L16, AL16 = kFourCC_AL16, X8 = D3DFMT_X8R8G8B8,
              A8 = D3DFMT_A8R8G8B8, R16 = kFourCC_R16, A16 = D3DFMT_A16B16G16R16, P8 = D3DFMT_P8;
  return {
      {"grey1", "g1", "", "1-bit grayscale, non-interlaced", L8, 0},
      {"grey2", "g2", "", "2-bit grayscale, non-interlaced", L8, 0},
      {"grey4", "g4", "", "4-bit grayscale, non-interlaced", L8, 0},
      {"grey8", "g8", "", "8-bit grayscale, non-interlaced", L8, 0},
      {"grey16", "g16", "", "16-bit grayscale, non-interlaced", L16, 0},
      {"grey2-trns", "g2", "-force " + grey2Key, "2-bit grayscale, non-interlaced", A8L8, 0},
      {"grey8-trns", "g8", "-force " + grey8Key, "8-bit grayscale, non-interlaced", A8L8, 0},
      {"grey16-trns", "g16", "-force " + grey16Key, "16-bit grayscale, non-interlaced", AL16, 0},
      {"grey1-adam7", "g1", "-interlace", "1-bit grayscale, interlaced", L8, 0},
      {"grey16-adam7", "g16", "-interlace", "16-bit grayscale, interlaced", L16, 0},
      {"rgb8", "c8", "-force", "24-bit RGB, non-interlaced", X8, 0},
      {"rgb16", "c16", "-force", "48-bit RGB, non-interlaced", R16, 0},
      {"rgb8-trns", "c8", "-force " + rgb8Key, "24-bit RGB, non-interlaced", A8, 0},
      {"rgb16-trns", "c16", "-force " + rgb16Key, "48-bit RGB, non-interlaced", A16, 0},
      {"rgb8-adam7", "c8", "-force -interlace", "24-bit RGB, interlaced", X8, 0},
      {"rgb16-adam7", "c16", "-force -interlace", "48-bit RGB, interlaced", R16, 0},
      {"pal1", "p2", "", "1-bit palette, non-interlaced", P8, 0},
      {"pal2", "p4", "", "2-bit palette, non-interlaced", P8, 0},
      {"pal4", "p16", "", "4-bit palette, non-interlaced", P8, 0},
      {"pal8", "p200", "", "8-bit palette, non-interlaced", P8, 0},
      {"pal8-trns", "p200", pal200Key, "8-bit palette, non-interlaced", P8, 0},
      {"pal2-adam7", "p4", "-interlace", "2-bit palette, interlaced", P8, 0},
      {"greyalpha8", "g8", "-force " + alpha8, "16-bit grayscale+alpha, non-interlaced", A8L8, 0},
      {"greyalpha16", "g16", "-force " + alpha16, "32-bit grayscale+alpha, non-interlaced", AL16, 0},
      {"greyalpha8-adam7", "g8", "-force -interlace " + alpha8, "16-bit grayscale+alpha, interlaced", A8L8, 0},
      {"rgba8", "c8", "-force " + alpha8, "32-bit RGB+alpha, non-interlaced", A8, 0},
      {"rgba16", "c16", "-force " + alpha16, "64-bit RGB+alpha, non-interlaced", A16, 0},
      {"rgba8-adam7", "c8", "-force -interlace " + alpha8, "32-bit RGB+alpha, interlaced", A8, 0},
      // sRGB data and gAMA 0.45455 match the display: no correction. gAMA 1.0 brightens.
      {"rgb8-srgb", "c8", "-force -srgbintent=perceptual", "24-bit RGB, non-interlaced", X8, 0},
      {"rgb8-gamma045", "c8", "-force -gamma=0.45455", "24-bit RGB, non-interlaced", X8, 0},
      {"rgb8-gamma1", "c8", "-force -gamma=1.0", "24-bit RGB, non-interlaced", X8, 1, true},
      {"grey8-gamma1", "g8", "-gamma=1.0", "8-bit grayscale, non-interlaced", L8, 1, true},
      {"pal8-gamma1", "p200", "-gamma=1.0", "8-bit palette, non-interlaced", P8, 1, true},
      {"pal4-gamma1", "p16", "-gamma=1.0", "4-bit palette, non-interlaced", P8, 1, true},
      {"pal8-trns-gamma1", "p200", pal200Key + " -gamma=1.0", "8-bit palette, non-interlaced", P8, 1, true},
      {"rgba8-gamma1", "c8", "-force -gamma=1.0 " + alpha8, "32-bit RGB+alpha, non-interlaced", A8, 1, true},
      {"rgb16-gamma1", "c16", "-force -gamma=1.0", "48-bit RGB, non-interlaced", R16, 1, true},
  };
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

class GxlPngRead : public ::testing::Test {
 protected:
  void SetUp() override { imgtest::RequireTools({"pnmtopng", "convert", "pngcheck"}); }

  // Writes the rasters and makes every corpus file in one shell run.
  void MakeCorpus(const std::vector<CorpusCase>& cases) {
    for (const char* r : {"g1", "g2", "g4", "g8", "g16", "a8", "a16", "c8", "c16", "p2", "p4", "p16", "p200"})
      imgtest::WritePnm(m_dir / (std::string(r) + (r[0] == 'g' || r[0] == 'a' ? ".pgm" : ".ppm")), Raster(r));
    std::string script = "set -e\n";
    for (const CorpusCase& c : cases) {
      std::string options = c.options;
      Replace(options, "{dir}", m_dir.path());
      const std::string source = m_dir / (std::string(c.raster) + (c.raster[0] == 'g' ? ".pgm" : ".ppm"));
      script += "pnmtopng " + options + " " + Quote(source) + " > " + Quote(Path(c)) + " 2>/dev/null\n";
      if (c.gammaOne) {
        // The same samples without the gAMA chunk, for the reference texels.
        Replace(options, "-gamma=1.0", "");
        script += "pnmtopng " + options + " " + Quote(source) + " > " + Quote(RawPath(c)) + " 2>/dev/null\n";
      }
    }
    nura::test::WriteFileText(m_dir / "make.sh", script);
    ASSERT_TRUE(imgtest::Run("sh " + Quote(m_dir / "make.sh")));
  }

  std::string Path(const CorpusCase& c) const { return m_dir / (std::string(c.name) + ".png"); }
  std::string RawPath(const CorpusCase& c) const { return m_dir / (std::string(c.name) + "-raw.png"); }

  TempDir m_dir;
};

// The display-gamma correction of the samples of a gAMA 1.0 file (255 or 65535 at full scale).
int GammaCorrected(int v, double full = 255.0) {
  return static_cast<int>(std::floor(full * std::pow(v / full, 1 / 2.2) + 0.5));
}

TEST_F(GxlPngRead, EveryLayoutDecodesToTheTexelsImageMagickReads) {
  const std::vector<CorpusCase> cases = Corpus();
  MakeCorpus(cases);
  for (const CorpusCase& c : cases) {
    SCOPED_TRACE(c.name);
    bool ok = false;
    const std::string report = imgtest::PngCheck(Path(c), &ok);
    ASSERT_TRUE(ok) << report;
    ASSERT_NE(report.find(std::to_string(kWidth) + " x " + std::to_string(kHeight) + " image, " + c.layout),
              std::string::npos)
        << report;

    const std::vector<std::uint8_t> file = ReadFileBytes(Path(c));
    DecodedImage image;
    ImageInfo info{};
    ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileType, ImageFileType::Png);
    ASSERT_EQ(static_cast<DWORD>(image.format), c.format);
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    EXPECT_EQ(image.depth, 1u);
    EXPECT_TRUE(image.OwnsPixels());
    EXPECT_EQ(image.OwnsPalette(), c.format == D3DFMT_P8);

    const bool wide = imgtest::IsWide(image.format);
    const std::vector<std::uint16_t> ours = imgtest::RecordRgba(image);
    // ImageMagick corrects gAMA 1.0 for an sRGB display rather than a gamma of
    // 2.2, so those files are compared with the corrected samples of their twin.
    std::vector<std::uint16_t> theirs = imgtest::ConvertRgba(c.gammaOne ? RawPath(c) : Path(c), wide ? 16 : 8);
    if (c.gammaOne)
      for (std::size_t i = 0; i < theirs.size(); ++i)
        if (i % 4 != 3) theirs[i] = static_cast<std::uint16_t>(GammaCorrected(theirs[i], wide ? 65535.0 : 255.0));
    ASSERT_EQ(ours.size(), theirs.size());
    // 16-bit samples carry the 8-bit tolerance scaled by 257.
    const int allowed = c.tolerance * (wide ? 257 : 1);
    int worst = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(int{ours[i]} - int{theirs[i]}));
    EXPECT_LE(worst, allowed);
  }
}

// libpng corrects a palette itself when gamma correction is on: a palette
// file and an RGB file of the same colours must decode alike.
TEST_F(GxlPngRead, PaletteAndRgbFilesWithGammaDecodeAlike) {
  std::vector<CorpusCase> cases = {{"pal", "p200", "-gamma=1.0", "8-bit palette", D3DFMT_P8, 0},
                                   {"rgb", "p200", "-force -gamma=1.0", "24-bit RGB", D3DFMT_X8R8G8B8, 0}};
  MakeCorpus(cases);
  std::vector<std::uint16_t> texels[2];
  for (int i = 0; i < 2; ++i) {
    bool ok = false;
    ASSERT_NE(imgtest::PngCheck(Path(cases[i]), &ok).find(cases[i].layout), std::string::npos);
    const std::vector<std::uint8_t> file = ReadFileBytes(Path(cases[i]));
    DecodedImage image;
    ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true), S_OK);
    ASSERT_EQ(static_cast<DWORD>(image.format), cases[i].format);
    texels[i] = imgtest::RecordRgba(image);
  }
  EXPECT_EQ(texels[0], texels[1]);
}

// The same for gAMA values either side of the threshold below which neither
// is corrected (a product with the display gamma within 0.05 of 1), for
// palettes of every depth, and for one interlaced.
TEST_F(GxlPngRead, PaletteAndRgbFilesDecodeAlikeAtEveryGamma) {
  struct Pair {
    const char* gamma;
    const char* raster;
    const char* options;  // of the palette file
    const char* layout;
  };
  const Pair pairs[] = {
      {"0.45455", "p200", "", "8-bit palette"},
      {"0.47", "p200", "", "8-bit palette"},
      {"0.43", "p200", "", "8-bit palette"},
      {"0.6", "p16", "", "4-bit palette"},
      {"0.3", "p4", "", "2-bit palette"},
      {"2.0", "p2", "", "1-bit palette"},
      {"0.8", "p200", "-interlace", "8-bit palette, interlaced"},
  };
  std::vector<CorpusCase> cases;
  for (const Pair& p : pairs) {
    const std::string gamma = std::string(" -gamma=") + p.gamma;
    cases.push_back({"pal", p.raster, p.options + gamma, p.layout, D3DFMT_P8, 0});
    cases.push_back({"rgb", p.raster, "-force" + gamma, "24-bit RGB", D3DFMT_X8R8G8B8, 0});
  }
  // One corpus, so the file names carry the case's place in it.
  std::vector<std::string> names;
  for (std::size_t i = 0; i < cases.size(); ++i) names.push_back(cases[i].name + std::to_string(i));
  for (std::size_t i = 0; i < cases.size(); ++i) cases[i].name = names[i].c_str();
  MakeCorpus(cases);
  for (std::size_t i = 0; i < cases.size(); i += 2) {
    SCOPED_TRACE(std::string("gAMA ") + pairs[i / 2].gamma + ", " + pairs[i / 2].layout);
    std::vector<std::uint16_t> texels[2];
    for (std::size_t k = 0; k < 2; ++k) {
      const CorpusCase& c = cases[i + k];
      bool ok = false;
      const std::string report = imgtest::PngCheck(Path(c), &ok);
      ASSERT_NE(report.find(c.layout), std::string::npos) << report;
      ASSERT_NE(report.find(std::string("gAMA at offset")), std::string::npos) << report;
      const std::vector<std::uint8_t> file = ReadFileBytes(Path(c));
      DecodedImage image;
      ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true), S_OK);
      ASSERT_EQ(static_cast<DWORD>(image.format), c.format);
      texels[k] = imgtest::RecordRgba(image);
    }
    EXPECT_EQ(texels[0], texels[1]);
  }
}

TEST_F(GxlPngRead, PaletteEntriesBeyondTheFileAreOpaqueWhite) {
  // 16 colours; the first four of them translucent.
  imgtest::Pnm colours = Raster("p16");
  imgtest::Pnm mask = imgtest::MakeRaster(kWidth, kHeight, 1, 255, 0);
  const std::uint8_t translucent[4] = {0, 64, 128, 200};
  for (std::size_t i = 0; i < mask.samples.size(); ++i) {
    const std::uint16_t red = colours.samples[3 * i];
    mask.samples[i] = 255;
    for (std::uint32_t c = 0; c < 4; ++c)
      if (red == (c * 37 + 11) % 256) mask.samples[i] = translucent[c];
  }
  imgtest::WritePnm(m_dir / "p16.ppm", colours);
  imgtest::WritePnm(m_dir / "mask.pgm", mask);
  const std::string path = m_dir / "pal.png";
  ASSERT_TRUE(imgtest::Run("pnmtopng -alpha=" + Quote(m_dir / "mask.pgm") + " " + Quote(m_dir / "p16.ppm") + " > " +
                           Quote(path)));
  bool ok = false;
  const std::string report = imgtest::PngCheck(path, &ok);
  ASSERT_NE(report.find("16 palette entries"), std::string::npos) << report;
  ASSERT_NE(report.find("4 transparency entries"), std::string::npos) << report;

  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  DecodedImage image;
  ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true), S_OK);
  ASSERT_EQ(image.format, D3DFMT_P8);
  int translucentEntries = 0, opaqueEntries = 0;
  for (int i = 0; i < 16; ++i) (image.palette[i].flags < 255 ? translucentEntries : opaqueEntries)++;
  EXPECT_EQ(translucentEntries, 4);
  EXPECT_EQ(opaqueEntries, 12);
  for (int i = 16; i < 256; ++i) {
    const PaletteEntry& e = image.palette[i];
    EXPECT_TRUE(e.red == 255 && e.green == 255 && e.blue == 255 && e.flags == 255) << "entry " << i;
  }
  EXPECT_EQ(imgtest::RecordRgba(image), imgtest::ConvertRgba(path, 8));
}

TEST_F(GxlPngRead, HeaderOnlyReadsGiveTheSizeWithoutPixels) {
  std::vector<CorpusCase> cases = {{"ga16", "g16", "-force " + std::string("-alpha={dir}/a16.pgm"), "", 0, 0}};
  MakeCorpus(cases);
  const std::vector<std::uint8_t> file = ReadFileBytes(Path(cases[0]));
  DecodedImage image;
  ImageInfo info{};
  ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, false), S_OK);
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(image.width, kWidth);
  // The record keeps the private grey-and-alpha format; the information maps it.
  EXPECT_EQ(static_cast<DWORD>(image.format), kFourCC_AL16);
  EXPECT_EQ(info.format, D3DFMT_A8L8);
  EXPECT_EQ(info.width, kWidth);
  EXPECT_EQ(info.height, kHeight);
  EXPECT_EQ(info.depth, 1u);
  EXPECT_EQ(info.mipCount, 1u);
  EXPECT_EQ(info.resourceType, D3DRTYPE_TEXTURE);
  EXPECT_EQ(info.fileType, ImageFileType::Png);
}

// ---------------------------------------------------------------------------
// Broken files

struct Chunk {
  std::size_t start;  // offset of its length field
  std::size_t end;    // one past its CRC
  std::string type;
};

std::vector<Chunk> Chunks(const std::vector<std::uint8_t>& f) {
  std::vector<Chunk> out;
  for (std::size_t at = 8; at + 12 <= f.size();) {
    const std::size_t length = (std::size_t{f[at]} << 24) | (f[at + 1] << 16) | (f[at + 2] << 8) | f[at + 3];
    out.push_back({at, at + 12 + length, std::string(f.begin() + at + 4, f.begin() + at + 8)});
    at += 12 + length;
  }
  return out;
}

TEST_F(GxlPngRead, TruncatedCopiesFail) {
  std::vector<CorpusCase> cases = {{"rgba8", "c8", "-force -alpha={dir}/a8.pgm", "", 0, 0},
                                   {"pal", "p200", "-interlace", "", 0, 0},
                                   {"rgb16", "c16", "-force", "", 0, 0}};
  MakeCorpus(cases);
  for (const CorpusCase& c : cases) {
    const std::vector<std::uint8_t> file = ReadFileBytes(Path(c));
    // Every cut before the last image-data chunk ends; only the end chunk may go.
    std::size_t dataEnd = 0;
    for (const Chunk& chunk : Chunks(file))
      if (chunk.type == "IDAT") dataEnd = chunk.end;
    ASSERT_GT(dataEnd, 0u);
    for (std::size_t cut : {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{20}, std::size_t{33},
                            dataEnd / 2, dataEnd - 5, dataEnd - 1}) {
      SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(cut));
      DecodedImage image;
      EXPECT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(cut), nullptr, true), GXLERR_INVALIDDATA);
      EXPECT_EQ(image.pixels, nullptr);
      EXPECT_FALSE(image.OwnsPixels());
    }
  }
}

TEST_F(GxlPngRead, BitFlipsInCriticalChunksFailAndOthersDoNoHarm) {
  std::vector<CorpusCase> cases = {{"pal", "p16", "-alpha={dir}/a8.pgm -gamma=1.0", "", 0, 0},
                                   {"grey", "g4", "-interlace", "", 0, 0}};
  MakeCorpus(cases);
  std::uint32_t state = 99;
  for (const CorpusCase& c : cases) {
    const std::vector<std::uint8_t> file = ReadFileBytes(Path(c));
    const std::vector<Chunk> chunks = Chunks(file);
    for (int n = 0; n < 150; ++n) {
      state = state * 1664525u + 1013904223u;
      const std::size_t at = (state >> 8) % file.size();
      std::vector<std::uint8_t> broken = file;
      broken[at] ^= static_cast<std::uint8_t>(1u << ((state >> 4) & 7));
      DecodedImage image;
      const HRESULT hr = image.DecodeImage(broken.data(), static_cast<std::uint32_t>(broken.size()), nullptr, true);
      std::string type = "signature";
      for (const Chunk& chunk : chunks)
        if (at >= chunk.start && at < chunk.end) type = chunk.type;
      SCOPED_TRACE(std::string(c.name) + ": bit flip at " + std::to_string(at) + " in " + type);
      if (type == "signature" || type == "IHDR" || type == "PLTE" || type == "IDAT") {
        EXPECT_EQ(hr, GXLERR_INVALIDDATA);
      } else if (SUCCEEDED(hr)) {
        EXPECT_EQ(image.width, kWidth);
        EXPECT_EQ(image.height, kHeight);
      }
    }
  }
}

}  // namespace

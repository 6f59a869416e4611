// The pictures of the data folder: every name the game uses is there, each is
// an 8-bit RGBA PNG with power-of-two sides that libpng decodes, and the parts
// the scenes cut out (glyph cells, menu rows, anchor points) hold what the
// scenes expect where they expect it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "tests/assets/assets_support.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace nura::assets_test {
namespace {

bool IsPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

// Number of texels with alpha >= threshold inside [x0, x1) x [y0, y1).
int Ink(const Image& img, int x0, int y0, int x1, int y1, int threshold = 128) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (img.alpha(x, y) >= threshold) ++n;
  return n;
}

int MaxAlpha(const Image& img, int x0, int y0, int x1, int y1) {
  int m = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) m = std::max<int>(m, img.alpha(x, y));
  return m;
}

// Alpha-weighted centre of the picture.
std::pair<double, double> Centroid(const Image& img) {
  double sx = 0, sy = 0, s = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      double a = img.alpha(x, y);
      sx += a * (x + 0.5);
      sy += a * (y + 0.5);
      s += a;
    }
  return {sx / s, sy / s};
}

TEST(AssetsPictures, EveryNamedPictureExistsWithTheGamesSpelling) {
  for (const std::string& name : PictureNames())
    EXPECT_TRUE(std::filesystem::is_regular_file(DataPath(name))) << name;
  // The logo exists only as its scrambled twin.
  EXPECT_FALSE(std::filesystem::exists(DataPath("cg/Logo.png")));
  // Names are case-sensitive here: the game asks for "CursolBase", not "cursolbase".
  EXPECT_FALSE(std::filesystem::exists(DataPath("cg/cursolbase.png")));
}

TEST(AssetsPictures, EveryPictureIsPowerOfTwoRgbaThatLibpngDecodes) {
  for (const std::string& name : PictureNames()) {
    std::vector<std::uint8_t> bytes = test::ReadFileBytes(DataPath(name));
    if (name == "cg/Logo.grp") {
      // Scrambled: its first bytes must not read as a PNG signature...
      EXPECT_NE(bytes[1], 'P');
      for (size_t i = 0; i < bytes.size() && i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ i);
    }
    Image img;
    std::string why;
    ASSERT_TRUE(DecodePng(bytes, &img, &why)) << name << ": " << why;
    EXPECT_EQ(img.bitDepth, 8) << name;
    EXPECT_EQ(img.colorType, 6) << name << " (6 = RGBA)";
    EXPECT_TRUE(IsPowerOfTwo(img.width) && IsPowerOfTwo(img.height)) << name << " " << img.width << "x" << img.height;
    EXPECT_GT(Ink(img, 0, 0, img.width, img.height, 1), 0) << name << " is empty";
  }
}

TEST(AssetsPictures, ImageMagickReadsTheSameSizes) {
  NURA_REQUIRE_OUTSIDE_INPUT(test::HaveTool("identify"), "ImageMagick");
  for (const std::string& name : PictureNames()) {
    if (name == "cg/Logo.grp") continue;
    std::string out;
    ASSERT_TRUE(test::RunTool("identify -format '%w %h' '" + DataPath(name) + "'", &out)) << name;
    Image img = LoadPicture(name);
    EXPECT_EQ(out, std::to_string(img.width) + " " + std::to_string(img.height)) << name;
  }
}

TEST(AssetsPictures, SmallDigitsAndLettersFillTheirCells) {
  Image img = LoadPicture("cg/number.png");
  ASSERT_EQ(img.width, 256);
  ASSERT_EQ(img.height, 128);
  for (int hi = 0; hi < 2; ++hi) {
    // Row 0: digits and the separator; row 1: A-N; row 2: O-Z from column 1.
    for (int col = 0; col <= 10; ++col) EXPECT_GT(Ink(img, 10 * col, 60 * hi, 10 * col + 9, 60 * hi + 19), 4) << col;
    for (int col = 0; col < 14; ++col) EXPECT_GT(Ink(img, 10 * col, 60 * hi + 20, 10 * col + 10, 60 * hi + 40), 4) << col;
    EXPECT_EQ(Ink(img, 0, 60 * hi + 40, 10, 60 * hi + 60, 1), 0) << "row 2 starts at column 1";
    for (int col = 1; col <= 12; ++col) EXPECT_GT(Ink(img, 10 * col, 60 * hi + 40, 10 * col + 10, 60 * hi + 60), 4) << col;
    // The page buttons of the stage list.
    for (int b = 0; b < 2; ++b) EXPECT_GT(Ink(img, 132 + 40 * b, 60 * hi + 40, 172 + 40 * b, 60 * hi + 60), 300);
    // The play scene cuts digits 9 x 19: their last column and row stay clear,
    // so no neighbour's ink shows in a cell.
    for (int col = 0; col <= 10; ++col) {
      EXPECT_LT(MaxAlpha(img, 10 * col + 9, 60 * hi, 10 * col + 10, 60 * hi + 20), 40) << col;
      EXPECT_LT(MaxAlpha(img, 10 * col, 60 * hi + 19, 10 * col + 10, 60 * hi + 20), 40) << col;
    }
  }
  // The highlighted rows differ from the plain ones.
  EXPECT_NE(std::vector<std::uint8_t>(img.px(0, 0), img.px(0, 0) + 4 * 100),
            std::vector<std::uint8_t>(img.px(0, 60), img.px(0, 60) + 4 * 100));
}

TEST(AssetsPictures, BigDigitsSeparatorAndGradeSymbolsFillTheirCells) {
  Image img = LoadPicture("cg/BigNumber.png");
  ASSERT_GE(img.width, 420);
  ASSERT_GE(img.height, 40);
  for (int g = 0; g < 14; ++g) {
    EXPECT_GT(Ink(img, 30 * g, 0, 30 * g + 29, 39), 20) << "glyph " << g;
    EXPECT_LT(MaxAlpha(img, 30 * g + 29, 0, 30 * g + 30, 40), 40) << "glyph " << g << " reaches its last column";
  }
}

TEST(AssetsPictures, NameLettersSitInTheirThreeBands) {
  Image img = LoadPicture("cg/TimeName.png");
  for (int i = 0; i < 26; ++i) {
    // The play scene's rectangles: A-I at y 0-17, J-R at 19-36, S-Z at 38-53.
    int band = i < 9 ? 0 : (i < 18 ? 1 : 2);
    int col = i - 9 * band;
    int top = 19 * band, bottom = band == 2 ? 54 : top + 18;
    EXPECT_GT(Ink(img, 10 * col, top, 10 * col + 9, bottom), 4) << static_cast<char>('A' + i);
    EXPECT_LT(MaxAlpha(img, 10 * col + 9, top, 10 * col + 10, bottom), 40) << static_cast<char>('A' + i);
  }
  EXPECT_LT(MaxAlpha(img, 0, 18, 90, 19), 40) << "bands touch";
  EXPECT_LT(MaxAlpha(img, 0, 37, 90, 38), 40) << "bands touch";
}

TEST(AssetsPictures, NameEntryKeysAreTwentySixCellsOf48By96) {
  Image img = LoadPicture("cg/NameEntry.png");
  ASSERT_EQ(img.width, 2048);
  ASSERT_EQ(img.height, 128);
  for (int i = 0; i < 26; ++i) {
    EXPECT_GT(Ink(img, 48 * i, 0, 48 * i + 47, 95), 2000) << static_cast<char>('A' + i);
    EXPECT_EQ(Ink(img, 48 * i + 47, 0, 48 * i + 48, 128, 1), 0) << "key " << i << " touches its neighbour";
  }
  EXPECT_EQ(Ink(img, 48 * 26, 0, 2048, 128, 1), 0);
  // Each key shows a different letter.
  for (int i = 1; i < 26; ++i) {
    int differing = 0;
    for (int y = 0; y < 96; ++y)
      for (int x = 0; x < 47; ++x) differing += img.px(48 * i + x, y)[0] != img.px(48 * (i - 1) + x, y)[0];
    EXPECT_GT(differing, 50) << i;
  }
}

TEST(AssetsPictures, MenuRowsHavePlainAndHighlightedForms) {
  struct Rows {
    const char* name;
    int count;
  };
  for (Rows r : {Rows{"cg/TitleString.png", 2}, Rows{"cg/TitleString2.png", 3}}) {
    Image img = LoadPicture(r.name);
    for (int i = 0; i < r.count; ++i) {
      int plain = Ink(img, 0, 56 * i, 256, 56 * i + 27), lit = Ink(img, 0, 56 * i + 28, 256, 56 * i + 55);
      EXPECT_GT(plain, 100) << r.name << " row " << i;
      EXPECT_GT(lit, plain) << r.name << " row " << i << " highlighted";
    }
  }
  Image cont = LoadPicture("cg/ContinueString.png");
  EXPECT_GT(Ink(cont, 0, 0, 300, 28), 100) << "question";
  for (int i = 0; i < 4; ++i) {
    int x = (i % 2) * 91, y = (i / 2 + 1) * 28;
    EXPECT_GT(Ink(cont, x, y, x + 91, y + 28), 60) << "answer " << i;
  }
  Image grades = LoadPicture("cg/BalloonMessage.png");
  for (int g = 0; g < 3; ++g) {
    EXPECT_GT(Ink(grades, 0, 28 * g, 255, 28 * g + 28), 100) << "grade " << g;
    EXPECT_EQ(Ink(grades, 255, 28 * g, grades.width, 28 * g + 28, 1), 0) << "the wipe stops at 255";
  }
}

TEST(AssetsPictures, PicturesAreCentredWhereTheScenesAnchorThem) {
  struct Anchor {
    const char* name;
    double x, y;  // where the picture's centre must be
  };
  // The body's reference point is 13 px in; the cursor's hot spot is at (10, 10);
  // the steering ring's centre is 50 px in; the wave's scaling keeps its centre
  // (32, 32) on the body; the count-down digits sit on the field's middle.
  for (Anchor a : {Anchor{"cg/ball01.png", 13, 13}, Anchor{"cg/ball02.png", 13, 13}, Anchor{"cg/cursol.png", 10, 10},
                   Anchor{"cg/CursolBase.png", 50, 50}, Anchor{"cg/circle_wave.png", 32, 32},
                   Anchor{"cg/count1.png", 40, 40}, Anchor{"cg/count2.png", 40, 40}, Anchor{"cg/count3.png", 40, 40}}) {
    auto [cx, cy] = Centroid(LoadPicture(a.name));
    EXPECT_NEAR(cx, a.x, 1.5) << a.name;
    EXPECT_NEAR(cy, a.y, 1.5) << a.name;
  }
  // The steering ring reaches the 50 px the cursor is allowed to move.
  Image ring = LoadPicture("cg/CursolBase.png");
  EXPECT_GT(ring.alpha(50 + 48, 50), 200);
  EXPECT_EQ(ring.alpha(50 + 53, 50), 0);
}

TEST(AssetsPictures, FloorTileRepeatsEvery16Texels) {
  // The floor tile scrolls in steps of 16 px while its quad repeats every 32.
  Image img = LoadPicture("cg/check.png");
  ASSERT_EQ(img.width, 32);
  ASSERT_EQ(img.height, 32);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(img.px(x, y)[c], img.px(x + 16, y)[c]) << x << "," << y;
        ASSERT_EQ(img.px(x, y)[c], img.px(x, y + 16)[c]) << x << "," << y;
      }
}

TEST(AssetsPictures, ScanLinesRunTheWayTheirNamesSay) {
  Image v = LoadPicture("cg/Line_ver.png"), h = LoadPicture("cg/Line_hor.png");
  EXPECT_LT(v.width, v.height);
  EXPECT_GT(h.width, h.height);
  EXPECT_GE(v.height, 480);
  EXPECT_GE(h.width, 480);
}

TEST(AssetsPictures, TheEndButtonFillsItsClickArea) {
  Image img = LoadPicture("cg/NameEntry2.png");
  ASSERT_EQ(img.width, 64);
  ASSERT_EQ(img.height, 64);
  EXPECT_GT(Ink(img, 0, 0, 64, 64), 64 * 64 / 2);
}

}  // namespace
}  // namespace nura::assets_test

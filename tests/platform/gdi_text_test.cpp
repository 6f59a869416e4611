// Metrics and rendered text, checked against identities and against FreeType's
// own rendering as Python's imaging library produces it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gdi_util.h"
#include "platform/testing.h"
#include "platform/win_gdi.h"
#include "platform/win_kernel.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

using gdi_test::Canvas;
using gdi_test::MakeFont;

namespace {

class PlatformGdiMetrics : public testing::Test {
 protected:
  void SetUp() override { gdi_test::PinPackageFonts(); }
};

TEST_F(PlatformGdiMetrics, HeightIsAscentPlusDescentAndWidthsAreNeverZero) {
  for (const char* face : {"Arial", "Times New Roman", "Courier New", "", "NoSuchFace"}) {
    for (int height : {-1, -9, -16, -40, 0, 12, 19, 30}) {
      for (int weight : {FW_NORMAL, FW_BOLD}) {
        SCOPED_TRACE(std::string(face) + " " + std::to_string(height) + " " + std::to_string(weight));
        Canvas c(4, 4);
        c.Use(MakeFont(height, face, weight));
        TEXTMETRICW tm{};
        ASSERT_TRUE(GetTextMetricsW(c.dc(), &tm));
        EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
        EXPECT_GT(tm.tmAveCharWidth, 0);
        EXPECT_GE(tm.tmMaxCharWidth, tm.tmAveCharWidth);
        EXPECT_EQ(tm.tmExternalLeading, 0);
        const int em = height < 0 ? -height : tm.tmHeight - tm.tmInternalLeading;
        EXPECT_EQ(tm.tmInternalLeading, tm.tmHeight - em);
        if (height == 0) {
          EXPECT_EQ(em, 16);
        }
        if (height > 0) {
          EXPECT_LE(tm.tmHeight, height) << "a positive height is the cell";
          EXPECT_GE(tm.tmHeight, height - 2);
        }
        EXPECT_EQ(tm.tmWeight, weight);
        EXPECT_EQ(tm.tmBreakChar, 0x20);
        EXPECT_LE(tm.tmFirstChar, u'A');
        EXPECT_GE(tm.tmLastChar, u'z');
        EXPECT_EQ(tm.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR), TMPF_TRUETYPE | TMPF_VECTOR);
        const bool mono = std::string(face) == "Courier New";
        EXPECT_EQ((tm.tmPitchAndFamily & TMPF_FIXED_PITCH) != 0, !mono) << "set means variable pitch";

        // The default character maps to the missing glyph.
        WCHAR glyph = 0xFFFF;
        GCP_RESULTSW r{};
        r.lStructSize = sizeof r;
        r.lpGlyphs = &glyph;
        r.nGlyphs = 1;
        const WCHAR ch = tm.tmDefaultChar;
        ASSERT_NE(GetCharacterPlacementW(c.dc(), &ch, 1, 0, &r, 0), 0u);
        EXPECT_EQ(glyph, 0);
      }
    }
  }
}

TEST_F(PlatformGdiMetrics, TheApplicationFontIsSixteenPixelsOfLiberationSansBold) {
  // 12 points at 96 pixels per inch.
  const int height = -MulDiv(12, 96, 72);
  ASSERT_EQ(height, -16);
  Canvas c(4, 4);
  c.Use(MakeFont(height, "Arial", FW_BOLD));
  EXPECT_EQ(gdi_test::BaseName(platform::test::FontFaceFiles(c.font()).at(0)), "LiberationSans-Bold.ttf");
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(c.dc(), &tm));
  // The face's Windows ascent and descent are 1854 and 434 units of 2048.
  EXPECT_EQ(tm.tmAscent, static_cast<LONG>(std::ceil(1854.0 * 16 / 2048)));
  EXPECT_EQ(tm.tmDescent, static_cast<LONG>(std::ceil(434.0 * 16 / 2048)));
  EXPECT_EQ(tm.tmInternalLeading, tm.tmHeight - 16);
  EXPECT_EQ(tm.tmLastChar, 0xFF) << "the 8-bit metrics stop at 0xFF";
}

TEST_F(PlatformGdiMetrics, AbcWidthsAddUpToTheAdvance) {
  for (DWORD quality : {ANTIALIASED_QUALITY, NONANTIALIASED_QUALITY}) {
    Canvas c(4, 4);
    c.Use(MakeFont(-23, "Times New Roman", FW_NORMAL, true, quality));
    std::u16string text;
    for (char16_t ch = 0x20; ch < 0x7F; ++ch) text += ch;
    text += u"\u00E9\u00DF\u2019";
    std::vector<WCHAR> glyphs(text.size());
    std::vector<int> dx(text.size());
    GCP_RESULTSW r{};
    r.lStructSize = sizeof r;
    r.lpGlyphs = glyphs.data();
    r.lpDx = dx.data();
    r.nGlyphs = static_cast<UINT>(glyphs.size());
    ASSERT_NE(GetCharacterPlacementW(c.dc(), text.data(), static_cast<int>(text.size()), 0, &r, 0), 0u);
    ASSERT_EQ(r.nGlyphs, text.size());
    const auto* indices = reinterpret_cast<const WORD*>(glyphs.data());
    std::vector<ABC> abc(glyphs.size());
    std::vector<int> widths(glyphs.size());
    ASSERT_TRUE(GetCharABCWidthsI(c.dc(), 0, static_cast<UINT>(glyphs.size()), indices, abc.data()));
    ASSERT_TRUE(GetCharWidthI(c.dc(), 0, static_cast<UINT>(glyphs.size()), indices, widths.data()));
    for (size_t i = 0; i < glyphs.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(abc[i].abcA + static_cast<int>(abc[i].abcB) + abc[i].abcC, widths[i]);
      EXPECT_EQ(widths[i], dx[i]);
    }
    EXPECT_EQ(abc[0].abcA, 0) << "a space has no ink";
    EXPECT_EQ(abc[0].abcB, 0u);
    EXPECT_GT(abc[0].abcC, 0);
  }
}

TEST_F(PlatformGdiMetrics, TextExtentIsTheSumOfAdvancesByTheCellHeight) {
  Canvas c(4, 4);
  c.Use(MakeFont(-16, "Arial", FW_BOLD));
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(c.dc(), &tm));
  const char* text = "FPS:60 Wj\xC3\xA9";  // the last two bytes are one character
  int sum = 0;
  for (const char16_t ch : std::u16string(u"FPS:60 Wj\u00E9")) {
    SIZE one{};
    ASSERT_TRUE(GetTextExtentPoint32W(c.dc(), &ch, 1, &one));
    sum += one.cx;
  }
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32A(c.dc(), text, 11, &size));
  EXPECT_EQ(size.cx, sum);
  EXPECT_EQ(size.cy, tm.tmHeight);
  ASSERT_TRUE(GetTextExtentPoint32A(c.dc(), "", 0, &size));
  EXPECT_EQ(size.cx, 0);
  EXPECT_EQ(size.cy, tm.tmHeight);
  EXPECT_FALSE(GetTextExtentPoint32A(c.dc(), text, -1, &size));
  EXPECT_FALSE(GetTextExtentPoint32A(c.dc(), nullptr, 3, &size));
  EXPECT_FALSE(GetTextExtentPoint32A(c.dc(), text, 3, nullptr));
}

TEST_F(PlatformGdiMetrics, WidthScalesTheAverageCharacterWidth) {
  Canvas c(4, 4);
  c.Use(CreateFontA(-20, 5, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "Arial"));
  TEXTMETRICA narrow{};
  ASSERT_TRUE(GetTextMetricsA(c.dc(), &narrow));
  EXPECT_NEAR(narrow.tmAveCharWidth, 5, 1);
  c.Use(CreateFontA(-20, 30, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "Arial"));
  TEXTMETRICA wide{};
  ASSERT_TRUE(GetTextMetricsA(c.dc(), &wide));
  EXPECT_NEAR(wide.tmAveCharWidth, 30, 1);
  EXPECT_EQ(wide.tmHeight, narrow.tmHeight) << "the width leaves the height alone";
}

// --- Rendering ----------------------------------------------------------------------

class PlatformGdiRender : public testing::Test {
 protected:
  void SetUp() override { gdi_test::PinPackageFonts(); }
};

std::uint8_t Blue(std::uint32_t p) { return p & 0xFF; }

// Reads a binary 8-bit PGM.
bool ReadPgm(const std::string& path, int* w, int* h, std::vector<std::uint8_t>* pixels) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int max = 0;
  in >> magic >> *w >> *h >> max;
  in.get();
  if (magic != "P5" || max != 255) return false;
  pixels->resize(static_cast<size_t>(*w) * *h);
  in.read(reinterpret_cast<char*>(pixels->data()), static_cast<std::streamsize>(pixels->size()));
  return static_cast<bool>(in);
}

TEST_F(PlatformGdiRender, ALetterEqualsFreeTypesOwnBitmapAtBearingAndAscent) {
  NURA_REQUIRE_OUTSIDE_INPUT(nura::test::RunCommand("/usr/bin/python3 -c 'import PIL.ImageFont' 2>/dev/null") == 0,
                             "Python's imaging library");
  nura::test::TempDir dir;
  for (int em : {11, 16, 27}) {
    SCOPED_TRACE(em);
    Canvas c(64, 48);
    c.Use(MakeFont(-em, "Arial"));
    SetTextColor(c.dc(), 0x00FFFFFF);
    SetBkColor(c.dc(), 0);
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(c.dc(), &tm));
    const int x0 = 9, y0 = 5;
    ASSERT_TRUE(ExtTextOutW(c.dc(), x0, y0, ETO_OPAQUE, nullptr, u"A", 1, nullptr));

    // The same glyph from FreeType through the imaging library, its pen at the
    // same origin and its baseline at y0 + ascent.
    const std::string file = platform::test::FontFaceFiles(c.font()).at(0);
    const std::string out = dir / ("A" + std::to_string(em) + ".pgm");
    std::ostringstream cmd;
    cmd << "/usr/bin/python3 -c 'import sys\n"
           "from PIL import Image, ImageDraw, ImageFont\n"
           "f = ImageFont.truetype(sys.argv[1], int(sys.argv[2]), layout_engine=ImageFont.Layout.BASIC)\n"
           "im = Image.new(\"L\", (64, 48), 0)\n"
           "ImageDraw.Draw(im).text((int(sys.argv[3]), int(sys.argv[4])), \"A\", font=f, fill=255, anchor=\"ls\")\n"
           "im.save(sys.argv[5])' "
        << file << " " << em << " " << x0 << " " << (y0 + tm.tmAscent) << " " << out;
    ASSERT_EQ(nura::test::RunCommand(cmd.str()), 0) << cmd.str();
    int w = 0, h = 0;
    std::vector<std::uint8_t> expected;
    ASSERT_TRUE(ReadPgm(out, &w, &h, &expected));
    ASSERT_EQ(w, 64);
    int ink = 0, differ = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const std::uint32_t p = c.At(x, y);
        ink += expected[y * 64 + x] != 0;
        if (Blue(p) != expected[y * 64 + x] || ((p >> 8) & 0xFF) != Blue(p) || ((p >> 16) & 0xFF) != Blue(p))
          ++differ;
      }
    EXPECT_GT(ink, em * 2);
    EXPECT_EQ(differ, 0);
  }
}

TEST_F(PlatformGdiRender, OpaqueTextFillsItsCellAndBlendsColours) {
  Canvas c(80, 40);
  c.Use(MakeFont(-16, "Arial", FW_BOLD));
  c.FillAll(0x00ABCDEF);
  TEXTMETRICW tm{};
  ASSERT_TRUE(GetTextMetricsW(c.dc(), &tm));
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32W(c.dc(), u"Hi", 2, &size));
  const COLORREF fg = RGB(200, 40, 0), bk = RGB(10, 100, 250);
  SetTextColor(c.dc(), fg);
  SetBkColor(c.dc(), bk);
  ASSERT_TRUE(ExtTextOutW(c.dc(), 7, 3, 0, nullptr, u"Hi", 2, nullptr));  // new DCs draw opaque

  // The coverage, from the same text white on black.
  Canvas ref(80, 40);
  ref.Use(MakeFont(-16, "Arial", FW_BOLD));
  SetTextColor(ref.dc(), 0x00FFFFFF);
  SetBkColor(ref.dc(), 0);
  ASSERT_TRUE(ExtTextOutW(ref.dc(), 7, 3, 0, nullptr, u"Hi", 2, nullptr));

  auto mix = [](int b, int f, int cov) { return (b * (255 - cov) + f * cov + 127) / 255; };
  int inked = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 80; ++x) {
      const bool inCell = x >= 7 && x < 7 + size.cx && y >= 3 && y < 3 + tm.tmHeight;
      const std::uint32_t p = c.At(x, y);
      const int cov = Blue(ref.At(x, y));
      if (!inCell) {
        ASSERT_EQ(p, 0x00ABCDEFu) << x << "," << y;
        ASSERT_EQ(cov, 0);
        continue;
      }
      inked += cov != 0;
      const std::uint32_t want = (mix(GetRValue(bk), GetRValue(fg), cov) << 16) |
                                 (mix(GetGValue(bk), GetGValue(fg), cov) << 8) | mix(GetBValue(bk), GetBValue(fg), cov);
      ASSERT_EQ(p, want) << x << "," << y << " coverage " << cov;
    }
  EXPECT_GT(inked, 20);
}

TEST_F(PlatformGdiRender, TransparentTextLeavesTheBackgroundAndOpaqueRectanglesFill) {
  Canvas c(60, 30);
  c.Use(MakeFont(-14, "Arial"));
  c.FillAll(0x00102030);
  SetBkMode(c.dc(), TRANSPARENT);
  SetTextColor(c.dc(), RGB(255, 255, 255));
  ASSERT_TRUE(ExtTextOutA(c.dc(), 2, 2, 0, nullptr, "ll", 2, nullptr));
  int touched = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      const std::uint32_t p = c.At(x, y);
      if (p == 0x00102030) continue;
      ++touched;
      EXPECT_GE(p & 0xFF, 0x30u) << "blended towards white, never below the background";
    }
  EXPECT_GT(touched, 5);

  // ETO_OPAQUE with a rectangle fills the rectangle; ETO_CLIPPED keeps the
  // text inside it.
  c.FillAll(0);
  SetBkColor(c.dc(), RGB(0, 0, 9));
  const RECT r = {10, 5, 20, 12};
  ASSERT_TRUE(ExtTextOutA(c.dc(), 0, 0, ETO_OPAQUE | ETO_CLIPPED, &r, "WWWW", 4, nullptr));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      const bool inside = x >= 10 && x < 20 && y >= 5 && y < 12;
      if (inside) {
        ASSERT_NE(c.At(x, y), 0u) << x << "," << y;
      } else {
        ASSERT_EQ(c.At(x, y), 0u) << x << "," << y;
      }
    }
}

TEST_F(PlatformGdiRender, BottomUpSectionsHoldTheSamePictureFlipped) {
  Canvas top(40, 24, true), bottom(40, 24, false);
  top.Use(MakeFont(-18, "Courier New"));
  bottom.Use(MakeFont(-18, "Courier New"));
  ASSERT_TRUE(ExtTextOutW(top.dc(), 1, 1, ETO_OPAQUE, nullptr, u"g7", 2, nullptr));
  ASSERT_TRUE(ExtTextOutW(bottom.dc(), 1, 1, ETO_OPAQUE, nullptr, u"g7", 2, nullptr));
  int ink = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) {
      ASSERT_EQ(top.At(x, y), bottom.At(x, y)) << x << "," << y;
      ink += top.At(x, y) != 0x00FFFFFF;
    }
  EXPECT_GT(ink, 10);
}

TEST_F(PlatformGdiRender, TextIsClippedToTheSectionAndToItsDc) {
  Canvas c(12, 10);
  c.Use(MakeFont(-40, "Arial", FW_BOLD));
  c.FillAll(0);
  // Far outside, partly outside and straddling every edge: nothing is written
  // outside the section (the sanitizers watch), something inside.
  for (int x : {-1000000, -30, -5, 3, 8, 1000000})
    for (int y : {-1000000, -30, -5, 3, 8, 1000000})
      EXPECT_TRUE(ExtTextOutA(c.dc(), x, y, 0, nullptr, "WM", 2, nullptr));
  int ink = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) ink += c.At(x, y) != 0;
  EXPECT_GT(ink, 0);

  // A DC with only its default 1 x 1 bitmap still draws, into that pixel.
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_TRUE(ExtTextOutA(dc, 0, 0, ETO_OPAQUE, nullptr, "x", 1, nullptr));
  DeleteDC(dc);
}

TEST_F(PlatformGdiRender, NonAntialiasedQualityDrawsOnlyFullCoverage) {
  Canvas c(60, 30);
  c.Use(MakeFont(-20, "Arial", FW_NORMAL, false, NONANTIALIASED_QUALITY));
  SetTextColor(c.dc(), 0x00FFFFFF);
  SetBkColor(c.dc(), 0);
  ASSERT_TRUE(ExtTextOutA(c.dc(), 2, 2, ETO_OPAQUE, nullptr, "Sw", 2, nullptr));
  int ink = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      const std::uint32_t p = c.At(x, y);
      ASSERT_TRUE(p == 0 || p == 0x00FFFFFF) << std::hex << p;
      ink += p != 0;
    }
  EXPECT_GT(ink, 30);
}

TEST_F(PlatformGdiRender, UpdatingTheCurrentPositionDrawsTextOnFromIt) {
  Canvas a(80, 60), c(80, 60);
  a.Use(MakeFont(-20, "Arial"));
  c.Use(MakeFont(-20, "Arial"));
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32A(a.dc(), "Tq", 2, &size));
  ASSERT_TRUE(ExtTextOutA(a.dc(), 5, 7, 0, nullptr, "Tq", 2, nullptr));
  SetTextAlign(c.dc(), TA_UPDATECP);
  MoveToEx(c.dc(), 5, 7, nullptr);
  ASSERT_TRUE(ExtTextOutA(c.dc(), 70, 70, 0, nullptr, "T", 1, nullptr));
  ASSERT_TRUE(ExtTextOutA(c.dc(), 70, 70, 0, nullptr, "q", 1, nullptr));
  POINT end{};
  MoveToEx(c.dc(), 0, 0, &end);
  EXPECT_EQ(end.x, 5 + size.cx);
  EXPECT_EQ(end.y, 7);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) ASSERT_EQ(a.At(x, y), c.At(x, y)) << x << "," << y;
}

}  // namespace

// Character placement, glyph metrics, the character map and the looked-up
// exports of "gdi32.dll".
#include <gtest/gtest.h>

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

class PlatformGdiGlyphs : public testing::Test {
 protected:
  void SetUp() override { gdi_test::PinPackageFonts(); }
};

constexpr MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

TEST_F(PlatformGdiGlyphs, PlacementGivesGlyphsAdvancesAndTheTextBox) {
  Canvas c(4, 4);
  c.Use(MakeFont(-16, "Arial", FW_BOLD));
  TEXTMETRICW tm{};
  ASSERT_TRUE(GetTextMetricsW(c.dc(), &tm));
  const std::u16string text = u"Wa \u0378!";  // U+0378 is unassigned
  const int n = static_cast<int>(text.size());
  std::vector<WCHAR> glyphs(n, 0xFFFF);
  std::vector<int> dx(n, -1), caret(n, -1);
  std::vector<UINT> order(n, 99);
  std::vector<char> classes(n, 'k');
  GCP_RESULTSW r{};
  r.lStructSize = sizeof r;
  r.lpGlyphs = glyphs.data();
  r.lpDx = dx.data();
  r.lpOrder = order.data();
  r.lpCaretPos = caret.data();
  r.lpClass = classes.data();
  r.nGlyphs = n;
  const DWORD box = GetCharacterPlacementW(c.dc(), text.data(), n, 0, &r, GCP_CLASSIN);
  ASSERT_EQ(r.nGlyphs, static_cast<UINT>(n));
  EXPECT_EQ(r.nMaxFit, n);
  int width = 0;
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(order[i], static_cast<UINT>(i)) << "logical order";
    EXPECT_EQ(caret[i], width);
    EXPECT_EQ(classes[i], 'k') << "classes are left alone";
    int w = -1;
    const WORD g = glyphs[i];
    ASSERT_TRUE(GetCharWidthI(c.dc(), 0, 1, &g, &w));
    EXPECT_EQ(dx[i], w);
    width += w;
  }
  EXPECT_EQ(glyphs[3], 0) << "an unmapped character has the missing glyph";
  EXPECT_NE(glyphs[0], 0);
  EXPECT_NE(glyphs[0], glyphs[1]);
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32W(c.dc(), text.data(), n, &size));
  EXPECT_EQ(size.cx, width);
  EXPECT_EQ(box, static_cast<DWORD>(width) | (static_cast<DWORD>(tm.tmHeight) << 16));

  r.lStructSize = sizeof r - 4;
  EXPECT_EQ(GetCharacterPlacementW(c.dc(), text.data(), n, 0, &r, 0), 0u) << "the size field is checked";
  EXPECT_EQ(GetCharacterPlacementW(c.dc(), text.data(), n, 0, nullptr, 0), box) << "results are optional";
}

TEST_F(PlatformGdiGlyphs, EightBitPlacementTakesUtf8) {
  Canvas c(4, 4);
  c.Use(MakeFont(-16, "Arial"));
  const char* text = "a\xC3\xA9 b\xFF";  // a, e-acute (two bytes), space, b, a stray byte
  WCHAR glyphs[6] = {};
  UINT order[6] = {};
  GCP_RESULTSA r{};
  r.lStructSize = sizeof r;
  r.lpGlyphs = glyphs;
  r.lpOrder = order;
  r.nGlyphs = 6;
  ASSERT_NE(GetCharacterPlacementA(c.dc(), text, 6, 0, &r, 0), 0u);
  ASSERT_EQ(r.nGlyphs, 5u);
  const UINT want[] = {0, 1, 3, 4, 5};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(order[i], want[i]) << i;
  EXPECT_NE(glyphs[1], 0);
  WCHAR replacement = 0;
  GCP_RESULTSW w{};
  w.lStructSize = sizeof w;
  w.lpGlyphs = &replacement;
  w.nGlyphs = 1;
  ASSERT_NE(GetCharacterPlacementW(c.dc(), u"\uFFFD", 1, 0, &w, 0), 0u);
  EXPECT_EQ(glyphs[4], replacement) << "a stray byte is the replacement character";
}

// The number of glyphs of a font file, as FreeType reports it to Python's
// imaging library; -1 when that is not available.
int GlyphCountOf(const std::string& file) {
  std::string out;
  const std::string cmd = "/usr/bin/python3 -c 'import sys\nfrom PIL import ImageFont\n"
                          "print(ImageFont.truetype(sys.argv[1], 10).font.glyphs)' " +
                          file + " 2>/dev/null";
  if (nura::test::RunCommand(cmd, &out) != 0) return -1;
  return std::stoi(out);
}

TEST_F(PlatformGdiGlyphs, GlyphMetricsExistExactlyBelowTheGlyphCount) {
  platform::test::PinFontFaces({gdi_test::kLiberationDir});
  Canvas c(4, 4);
  c.Use(MakeFont(-16, "Arial"));
  const int count = GlyphCountOf(platform::test::FontFaceFiles(c.font()).at(0));
  NURA_REQUIRE_OUTSIDE_INPUT(count >= 0, "Python's imaging library");
  GLYPHMETRICS gm{};
  const UINT indexed = GGO_METRICS | GGO_GLYPH_INDEX;
  EXPECT_EQ(GetGlyphOutlineA(c.dc(), 0, indexed, &gm, 0, nullptr, &kIdentity), 0u);
  EXPECT_EQ(GetGlyphOutlineA(c.dc(), count - 1, indexed, &gm, 0, nullptr, &kIdentity), 0u);
  EXPECT_EQ(GetGlyphOutlineA(c.dc(), count, indexed, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineW(c.dc(), 0xFFFF, indexed, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
  int width = 0;
  const WORD last = static_cast<WORD>(count);
  EXPECT_FALSE(GetCharWidthI(c.dc(), 0, 1, &last, &width)) << "no width for a glyph that does not exist";

  // With the Japanese fallback the index space continues with its glyphs.
  gdi_test::PinPackageFonts();
  Canvas j(4, 4);
  j.Use(MakeFont(-16, "Arial"));
  const std::vector<std::string> files = platform::test::FontFaceFiles(j.font());
  ASSERT_EQ(files.size(), 2u);
  const int total = count + GlyphCountOf(files[1]);
  ASSERT_LT(total, 0x10000);
  EXPECT_EQ(GetGlyphOutlineW(j.dc(), total - 1, indexed, &gm, 0, nullptr, &kIdentity), 0u);
  EXPECT_EQ(GetGlyphOutlineW(j.dc(), total, indexed, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
}

TEST_F(PlatformGdiGlyphs, GlyphMetricsAgreeWithTheWidths) {
  Canvas c(4, 4);
  c.Use(MakeFont(-30, "Times New Roman"));
  for (const char* ch : {"g", "W", " ", "\xC3\xA9"}) {
    SCOPED_TRACE(ch);
    UINT packed = 0;
    for (const char* p = ch; *p; ++p) packed = packed << 8 | static_cast<unsigned char>(*p);
    GLYPHMETRICS gm{};
    ASSERT_EQ(GetGlyphOutlineA(c.dc(), packed, GGO_METRICS, &gm, 0, nullptr, &kIdentity), 0u);
    WCHAR glyph = 0;
    GCP_RESULTSA r{};
    r.lStructSize = sizeof r;
    r.lpGlyphs = &glyph;
    r.nGlyphs = 1;
    ASSERT_NE(GetCharacterPlacementA(c.dc(), ch, static_cast<int>(std::string(ch).size()), 0, &r, 0), 0u);
    ABC abc{};
    const WORD g = glyph;
    ASSERT_TRUE(GetCharABCWidthsI(c.dc(), 0, 1, &g, &abc));
    EXPECT_EQ(gm.gmCellIncX, abc.abcA + static_cast<int>(abc.abcB) + abc.abcC);
    EXPECT_EQ(gm.gmCellIncY, 0);
    if (abc.abcB == 0) {
      EXPECT_EQ(gm.gmBlackBoxX, 1u) << "an inkless glyph has a one-pixel box";
    } else {
      EXPECT_EQ(gm.gmBlackBoxX, abc.abcB);
      EXPECT_EQ(gm.gmptGlyphOrigin.x, abc.abcA);
    }
  }
  GLYPHMETRICS gm{};
  const MAT2 twice = {{0, 2}, {0, 0}, {0, 0}, {0, 2}};
  EXPECT_EQ(GetGlyphOutlineW(c.dc(), 'g', GGO_METRICS, &gm, 0, nullptr, &twice), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineW(c.dc(), 'g', GGO_METRICS, &gm, 0, nullptr, nullptr), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineW(c.dc(), 'g', 6 /* grey bitmap */, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
  EXPECT_EQ(platform::test::DiagnosticCount("gdi.glyph-outline-format"), 1);
}

TEST_F(PlatformGdiGlyphs, UnicodeRangesDescribeTheCharacterMap) {
  platform::test::PinFontFaces({gdi_test::kLiberationDir});
  Canvas c(4, 4);
  c.Use(MakeFont(-16, "Arial"));
  const DWORD size = GetFontUnicodeRanges(c.dc(), nullptr);
  ASSERT_GT(size, 16u);
  ASSERT_EQ((size - 16) % 4, 0u);
  std::vector<std::uint8_t> buffer(size);
  auto* set = reinterpret_cast<GLYPHSET*>(buffer.data());
  ASSERT_EQ(GetFontUnicodeRanges(c.dc(), set), size);
  EXPECT_EQ(set->cbThis, size);
  EXPECT_EQ(set->cRanges, (size - 16) / 4);
  DWORD total = 0;
  bool hasLatin = false;
  std::u16string firsts, gaps;
  for (DWORD i = 0; i < set->cRanges; ++i) {
    const WCRANGE& range = set->ranges[i];
    ASSERT_GT(range.cGlyphs, 0);
    if (i > 0) {
      const WCRANGE& previous = set->ranges[i - 1];
      ASSERT_GT(range.wcLow, previous.wcLow + previous.cGlyphs) << "sorted, disjoint and not adjacent";
      gaps += static_cast<char16_t>(previous.wcLow + previous.cGlyphs);
    }
    hasLatin = hasLatin || (range.wcLow <= u'A' && range.wcLow + range.cGlyphs > u'z');
    total += range.cGlyphs;
    firsts += range.wcLow;
  }
  EXPECT_TRUE(hasLatin);
  EXPECT_EQ(set->cGlyphsSupported, total);
  // Each range begins with a mapped character, each gap with an unmapped one.
  std::vector<WCHAR> glyphs(firsts.size());
  GCP_RESULTSW r{};
  r.lStructSize = sizeof r;
  r.lpGlyphs = glyphs.data();
  r.nGlyphs = static_cast<UINT>(glyphs.size());
  ASSERT_NE(GetCharacterPlacementW(c.dc(), firsts.data(), static_cast<int>(firsts.size()), 0, &r, 0), 0u);
  for (WCHAR g : glyphs) EXPECT_NE(g, 0);
  glyphs.assign(gaps.size(), 0xFFFF);
  r.lpGlyphs = glyphs.data();
  r.nGlyphs = static_cast<UINT>(glyphs.size());
  if (!gaps.empty()) {
    ASSERT_NE(GetCharacterPlacementW(c.dc(), gaps.data(), static_cast<int>(gaps.size()), 0, &r, 0), 0u);
  }
  for (WCHAR g : glyphs) EXPECT_EQ(g, 0);
}

TEST_F(PlatformGdiGlyphs, TheLookedUpExportsAreTheCallsThemselves) {
  HMODULE gdi = GetModuleHandleA("gdi32.dll");
  ASSERT_NE(gdi, nullptr);
  using WidthFn = BOOL (*)(HDC, UINT, UINT, const WORD*, int*);
  auto width = reinterpret_cast<WidthFn>(GetProcAddress(gdi, "GetCharWidthI"));
  ASSERT_EQ(width, &GetCharWidthI);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(gdi, "GetCharABCWidthsI")),
            reinterpret_cast<void*>(&GetCharABCWidthsI));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(gdi, "GetFontUnicodeRanges")),
            reinterpret_cast<void*>(&GetFontUnicodeRanges));
  Canvas c(4, 4);
  c.Use(MakeFont(-16, "Courier New"));
  int w[3] = {};
  ASSERT_TRUE(width(c.dc(), 3, 3, nullptr, w)) << "a run of indices without an array";
  EXPECT_EQ(w[0], w[2]) << "a fixed-pitch face";
  platform::test::RemoveExport("gdi32.dll", "GetCharWidthI");
  EXPECT_EQ(GetProcAddress(gdi, "GetCharWidthI"), nullptr);
  platform::test::ResetAll();
  EXPECT_NE(GetProcAddress(GetModuleHandleA("gdi32.dll"), "GetCharWidthI"), nullptr) << "a reset restores it";
}

}  // namespace

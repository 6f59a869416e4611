// What the texture font's layout asks of the GDI text stand-in beyond the
// framework's bitmap font: character classes of UTF-16 units whatever the
// process locale, and glyph-index output that equals character output.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gdi_util.h"
#include "platform/win_kernel.h"

namespace {

using gdi_test::Canvas;
using gdi_test::MakeFont;

TEST(PlatformGdiText, CharacterClassesFollowUnicodeNotTheProcessLocale) {
  struct Row {
    WCHAR c;
    bool alpha, digit, punct, space;
  };
  const Row rows[] = {
      {u'a', true, false, false, false},       {u'Z', true, false, false, false},
      {u'\u00E9', true, false, false, false},  {u'\u3042', true, false, false, false},  // hiragana a
      {u'\u6F22', true, false, false, false},  {u'\u05D0', true, false, false, false},  // kanji, alef
      {u'7', false, true, false, false},       {u'!', false, false, true, false},
      {u'_', false, false, true, false},       {u'\u3001', false, false, true, false},  // ideographic comma
      {u' ', false, false, false, true},       {u'\t', false, false, false, true},
      {u'\u3000', false, false, false, true},  {u'\n', false, false, false, true},
      {char16_t(0xD800), false, false, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.c));
    EXPECT_EQ(platform::crt::iswalpha(r.c) != 0, r.alpha);
    EXPECT_EQ(platform::crt::iswdigit(r.c) != 0, r.digit);
    EXPECT_EQ(platform::crt::iswpunct(r.c) != 0, r.punct);
    EXPECT_EQ(platform::crt::iswspace(r.c) != 0, r.space);
  }
}

std::vector<std::uint32_t> Pixels(const Canvas& c) {
  std::vector<std::uint32_t> out;
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) out.push_back(c.At(x, y));
  return out;
}

TEST(PlatformGdiText, GlyphIndexOutputEqualsCharacterOutput) {
  gdi_test::PinPackageFonts();
  // Latin from the primary face; kana from the Japanese fallback, whose
  // indices follow the primary face's.
  for (DWORD charset : {DWORD{DEFAULT_CHARSET}, DWORD{SHIFTJIS_CHARSET}}) {
    for (const char16_t* text : {u"Wg", u"\u3042\u6F22"}) {
      Canvas byChar(64, 32), byGlyph(64, 32);
      byChar.Use(MakeFont(-20, "Arial", FW_NORMAL, true, ANTIALIASED_QUALITY, charset));
      byGlyph.Use(MakeFont(-20, "Arial", FW_NORMAL, true, ANTIALIASED_QUALITY, charset));
      WCHAR glyphs[2] = {};
      GCP_RESULTSW r{};
      r.lStructSize = sizeof r;
      r.lpGlyphs = glyphs;
      r.nGlyphs = 2;
      ASSERT_NE(GetCharacterPlacementW(byGlyph.dc(), text, 2, 0, &r, 0), 0u);
      ASSERT_EQ(r.nGlyphs, 2u);
      EXPECT_NE(glyphs[0], 0) << "every character has a glyph";
      for (Canvas* c : {&byChar, &byGlyph}) {
        c->FillAll(0x00123456);  // the opaque cell replaces what lies below
        SetTextColor(c->dc(), 0x00FFFFFF);
        SetBkColor(c->dc(), 0);
      }
      ASSERT_TRUE(ExtTextOutW(byChar.dc(), 3, 2, ETO_OPAQUE, nullptr, text, 2, nullptr));
      ASSERT_TRUE(ExtTextOutW(byGlyph.dc(), 3, 2, ETO_OPAQUE | ETO_GLYPH_INDEX, nullptr, glyphs, 2, nullptr));
      EXPECT_EQ(Pixels(byChar), Pixels(byGlyph));
    }
  }
}

}  // namespace

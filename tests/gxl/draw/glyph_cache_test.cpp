// The glyph texture cache: where cells go, that each glyph is drawn once,
// mip levels averaged in linear light over the ink, and glyphs that do not
// fit their DIB or follow an overhanging one.
#include <gtest/gtest.h>

#include <cmath>

#include "font_test_support.h"

namespace drawtest {
namespace {

using GlyphCache = FontTest;

RECT CachedRect(GlyphTextureFont* font, WORD glyph, ComRef<IDirect3DTexture9>* texture = nullptr) {
  ComRef<IDirect3DTexture9> t;
  RECT r{};
  EXPECT_EQ(font->GetCachedGlyph(glyph, t.Put(), &r, nullptr), S_OK);
  if (texture) *texture = std::move(t);
  return r;
}

TEST_F(GlyphCache, CellsFillTheTextureInMortonOrderAndBlanksTakeNone) {
  ComRef<GlyphTextureFont> font = MakeFont(-12);
  ASSERT_TRUE(font);
  ASSERT_EQ(font->CacheTextGlyphsW(u" ", -1), S_OK);
  ASSERT_EQ(font->CacheCharacterRange('A', 'E'), S_OK);
  const std::pair<LONG, LONG> cells[] = {{0, 0}, {16, 0}, {0, 16}, {16, 16}, {32, 0}};
  ComRef<IDirect3DTexture9> first;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ComRef<IDirect3DTexture9> texture;
    const RECT r = CachedRect(font.Get(), GlyphOf(font.Get(), char16_t('A' + i)), &texture);
    if (i == 0) {
      first = std::move(texture);
      D3DSURFACE_DESC desc{};
      ASSERT_EQ(first->GetLevelDesc(0, &desc), D3D_OK);
      ASSERT_EQ(desc.Width, 256u) << "a 16-texel cell in a 256-texel texture";
    } else {
      EXPECT_EQ(texture.Get(), first.Get());
    }
    EXPECT_GE(r.left, cells[i].first);
    EXPECT_GE(r.top, cells[i].second);
    EXPECT_LE(r.right, cells[i].first + 16);
    EXPECT_LE(r.bottom, cells[i].second + 16);
  }
}

TEST_F(GlyphCache, EachGlyphIsDrawnAndCopiedOnce) {
  ComRef<GlyphTextureFont> font = MakeFont(-16);
  ASSERT_TRUE(font);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(font->CacheTextGlyphsW(u"abcabc", -1), S_OK);
  const int locks = platform::test::CountD3D9Calls("Surface.LockRect");
  ASSERT_EQ(platform::test::CountD3D9Calls("CreateTexture"), 1);
  ComRef<IDirect3DTexture9> texture;
  CachedRect(font.Get(), GlyphOf(font.Get(), u'a'), &texture);
  // Every level once when the texture is made, then once per distinct glyph.
  EXPECT_EQ(locks, int(texture->GetLevelCount()) * 4);

  platform::test::ClearD3D9CallLog();
  RECT rect = {0, 0, 100, 100};
  EXPECT_GT(font->DrawStringW(nullptr, u"cab bac", -1, &rect, DT_CALCRECT, 0xFFFFFFFF), 0);
  ASSERT_EQ(font->CacheGlyphRange(5, 4), S_OK);
  ASSERT_EQ(font->CacheCharacterRange(0xFFFF, 0xFFFF), S_OK) << "beyond the font's last character";
  EXPECT_EQ(platform::test::CountD3D9Calls("Surface.LockRect"), 0);
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateTexture"), 0);
  platform::test::StopD3D9CallLog();
}

// Linear light, as the texture library's curves approximate it.
double ToLinear(std::uint32_t alpha) { return std::pow(alpha / 255.0, 2.2); }

TEST_F(GlyphCache, MipLevelsAverageTheInkInLinearLight) {
  ComRef<GlyphTextureFont> font = MakeFont(-16);
  ASSERT_TRUE(font);
  TEXTMETRICW tm{};
  font->GetMetricsW(&tm);
  ComRef<IDirect3DTexture9> texture;
  CachedRect(font.Get(), GlyphOf(font.Get(), u'W'), &texture);  // the first cell, at (0, 0)
  UINT cell = 1;
  while (LONG(cell) < std::max(tm.tmHeight, tm.tmAveCharWidth)) cell *= 2;
  UINT size = 0;
  const std::vector<std::uint32_t> base = TextureLevel(texture.Get(), 0, &size);
  RECT ink = {LONG(cell), LONG(cell), 0, 0};
  for (UINT y = 0; y < cell; ++y)
    for (UINT x = 0; x < cell; ++x)
      if (base[y * size + x] >> 24)
        ink = {std::min(ink.left, LONG(x)), std::min(ink.top, LONG(y)), std::max(ink.right, LONG(x + 1)),
               std::max(ink.bottom, LONG(y + 1))};
  ASSERT_LT(ink.left, ink.right);
  ASSERT_GT(texture->GetLevelCount(), 2u);
  for (UINT level = 1; level < texture->GetLevelCount(); ++level) {
    SCOPED_TRACE(level);
    UINT levelSize = 0;
    const std::vector<std::uint32_t> texels = TextureLevel(texture.Get(), level, &levelSize);
    const UINT block = 1u << level;
    int worst = 0;
    for (UINT j = 0; j < cell / block; ++j)
      for (UINT i = 0; i < cell / block; ++i) {
        double sum = 0;
        int inside = 0;
        for (UINT y = j * block; y < (j + 1) * block; ++y)
          for (UINT x = i * block; x < (i + 1) * block; ++x)
            if (LONG(x) >= ink.left && LONG(x) < ink.right && LONG(y) >= ink.top && LONG(y) < ink.bottom) {
              sum += ToLinear(base[y * size + x] >> 24);
              ++inside;
            }
        const int expected = inside ? int(std::pow(sum / inside, 1 / 2.2) * 255 + 0.5) : 0;
        const std::uint32_t t = texels[j * levelSize + i];
        EXPECT_EQ(t & 0xFFFFFF, 0xFFFFFFu);
        worst = std::max(worst, std::abs(int(t >> 24) - expected));
      }
    EXPECT_LE(worst, 2);
  }
}

TEST_F(GlyphCache, AnOverhangingGlyphSeesNoInkOfTheGlyphBefore) {
  // Italic letters whose ink reaches past their advance read DIB columns that
  // their own opaque cell does not cover.
  ComRef<GlyphTextureFont> after = MakeFont(-24, "Arial", true);
  ComRef<GlyphTextureFont> alone = MakeFont(-24, "Arial", true);
  ASSERT_TRUE(after && alone);
  int overhanging = 0;
  for (char16_t c : std::u16string(u"lfdhkt")) {
    SCOPED_TRACE(int(c));
    const WORD g = GlyphOf(after.Get(), c);
    ABC abc{};
    ASSERT_TRUE(GetCharABCWidthsI(after->GetMemoryDC(), 0, 1, &g, &abc));
    overhanging += abc.abcC < 0;
    const std::u16string text = std::u16string(u"\u2588W") + c;  // full block, then the letter
    ASSERT_EQ(after->CacheTextGlyphsW(text.c_str(), -1), S_OK);
    ASSERT_EQ(alone->CacheTextGlyphsW(&c, 1), S_OK);
    ComRef<IDirect3DTexture9> ta, tb;
    const RECT ra = CachedRect(after.Get(), g, &ta), rb = CachedRect(alone.Get(), g, &tb);
    ASSERT_EQ(ra.right - ra.left, rb.right - rb.left);
    ASSERT_EQ(ra.bottom - ra.top, rb.bottom - rb.top);
    UINT sa = 0, sb = 0;
    const auto a = TextureLevel(ta.Get(), 0, &sa), b = TextureLevel(tb.Get(), 0, &sb);
    for (LONG y = 0; y < ra.bottom - ra.top; ++y)
      for (LONG x = 0; x < ra.right - ra.left; ++x)
        ASSERT_EQ(a[(ra.top + y) * sa + ra.left + x], b[(rb.top + y) * sb + rb.left + x]) << x << ", " << y;
  }
  EXPECT_GT(overhanging, 0) << "no letter tested the overhang";
}

TEST_F(GlyphCache, GlyphsWiderThanTheDibAreCutNotCopiedPastIt) {
  // A monospaced face's widest advance sizes the DIB; the Japanese fallback's
  // full-width glyphs are wider.
  ComRef<GlyphTextureFont> font = MakeFont(-20, "Courier New", true, SHIFTJIS_CHARSET);
  ASSERT_TRUE(font);
  TEXTMETRICW tm{};
  font->GetMetricsW(&tm);
  const WORD g = GlyphOf(font.Get(), u'\u6F22');
  ABC abc{};
  ASSERT_TRUE(GetCharABCWidthsI(font->GetMemoryDC(), 0, 1, &g, &abc));
  ASSERT_GT(abc.abcA + LONG(abc.abcB), tm.tmMaxCharWidth) << "the case this test is about";
  const RECT r = CachedRect(font.Get(), g);
  EXPECT_LE(r.right - r.left, tm.tmMaxCharWidth + 2) << "the ink and its border";
  EXPECT_LE(r.bottom - r.top, tm.tmHeight + 2);
}

}  // namespace
}  // namespace drawtest

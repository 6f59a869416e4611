// Text layout: line breaks, word wrap, tabs, alignment and DT_CALCRECT in a
// monospaced face (closed forms in its advance and height), with and without
// the script engine; the sprites queued for a caller's batcher, clipped and
// skipped; and whole strings drawn through the device.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "font_test_support.h"

namespace drawtest {
namespace {

using TextLayout = FontTest;

// A batcher that records what the font queues.
class RecordingBatcher final : public SpriteBatcher {
 public:
  struct Sprite {
    IDirect3DTexture9* texture;
    RECT rect;
    float x, y;  // where the rectangle's corner lands: position - centre
  };
  std::vector<Sprite> sprites;
  HRESULT failure = S_OK;

  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetDeviceRef(IDirect3DDevice9**) override { return E_NOTIMPL; }
  HRESULT GetSpriteTransform(Matrix4*) override { return E_NOTIMPL; }
  HRESULT SetSpriteTransform(const Matrix4*) override { return E_NOTIMPL; }
  HRESULT SetWorldViewRightHanded(const Matrix4*, const Matrix4*) override { return E_NOTIMPL; }
  HRESULT SetWorldViewLeftHanded(const Matrix4*, const Matrix4*) override { return E_NOTIMPL; }
  HRESULT BeginBatch(DWORD) override { return E_NOTIMPL; }
  HRESULT QueueSprite(IDirect3DTexture9* texture, const RECT* rect, const Vec3* centre, const Vec3* position,
                      D3DCOLOR) override {
    sprites.push_back({texture, *rect, position->x - centre->x, position->y - centre->y});
    return failure;
  }
  HRESULT FlushBatch() override { return E_NOTIMPL; }
  HRESULT EndBatch() override { return E_NOTIMPL; }
  HRESULT OnDeviceLost() override { return S_OK; }
  HRESULT OnDeviceReset() override { return S_OK; }
};

struct Mono {
  LONG w, h, stop, lineFeed, tab;  // advance, height, tab stop, advances of LF and TAB glyphs
};

Mono MonoMetrics(GlyphTextureFont* font) {
  TEXTMETRICW tm{};
  font->GetMetricsW(&tm);
  int dx[3] = {};
  GCP_RESULTSW r{};
  r.lStructSize = sizeof r;
  r.lpDx = dx;
  r.nGlyphs = 3;
  GetCharacterPlacementW(font->GetMemoryDC(), u"a\n\t", 3, 0, &r, 0);
  return {dx[0], tm.tmHeight, tm.tmAveCharWidth * 8, dx[1], dx[2]};
}

TEST_F(TextLayout, CalcRectGivesTheTextsBoxWithAndWithoutTheScriptEngine) {
  struct Row {
    const char16_t* text;
    DWORD format;
    std::function<RECT(const Mono&)> bounds;  // the rectangle passed in
    std::function<RECT(const Mono&)> expected;
  };
  auto box = [](LONG l, LONG t, LONG r, LONG b) { return RECT{l, t, r, b}; };
  const auto wide = [&](const Mono&) { return box(10, 20, 610, 420); };
  const Row rows[] = {
      {u"ab\ncd", 0, wide, [&](const Mono& m) { return box(10, 20, 10 + 2 * m.w, 20 + 2 * m.h); }},
      {u"ab\n", 0, wide, [&](const Mono& m) { return box(10, 20, 10 + 2 * m.w, 20 + m.h); }},
      {u"a\n\nb", 0, wide, [&](const Mono& m) { return box(10, 20, 10 + m.w, 20 + 3 * m.h); }},
      {u"ab\r\ncd", 0, wide, [&](const Mono& m) { return box(10, 20, 10 + 2 * m.w, 20 + 2 * m.h); }},
      {u"ab\ncd", DT_SINGLELINE, wide,
       [&](const Mono& m) { return box(10, 20, 10 + 4 * m.w + m.lineFeed, 20 + m.h); }},
      {u"aaa bbb ccc", DT_WORDBREAK, [&](const Mono& m) { return box(10, 20, 10 + 5 * m.w, 400); },
       [&](const Mono& m) { return box(10, 20, 10 + 3 * m.w, 20 + 3 * m.h); }},
      // A line that exactly fills the width stays one line.
      {u"aaa bbb", DT_WORDBREAK, [&](const Mono& m) { return box(10, 20, 10 + 7 * m.w, 400); },
       [&](const Mono& m) { return box(10, 20, 10 + 7 * m.w, 20 + m.h); }},
      {u"aaaaaaaa", DT_WORDBREAK, [&](const Mono& m) { return box(10, 20, 10 + 3 * m.w, 400); },
       [&](const Mono& m) { return box(10, 20, 10 + 3 * m.w, 20 + 3 * m.h); }},
      {u"aa bbbb", DT_WORDBREAK, [&](const Mono& m) { return box(10, 20, 10 + 5 * m.w, 400); },
       [&](const Mono& m) { return box(10, 20, 10 + 4 * m.w, 20 + 2 * m.h); }},
      {u"a\tb", DT_EXPANDTABS, wide, [&](const Mono& m) { return box(10, 20, 10 + m.stop + m.w, 20 + m.h); }},
      {u"a\tb", 0, wide, [&](const Mono& m) { return box(10, 20, 10 + 2 * m.w + m.tab, 20 + m.h); }},
      // The tab is cut at the wrap width; at the end of its line it is a blank and takes no room.
      {u"a\tb", DT_EXPANDTABS | DT_WORDBREAK, [&](const Mono& m) { return box(10, 20, 10 + 4 * m.w, 400); },
       [&](const Mono& m) { return box(10, 20, 10 + m.w, 20 + 2 * m.h); }},
      {u"ab\ncd", DT_CENTER | DT_VCENTER, [&](const Mono&) { return box(100, 50, 301, 250); },
       [&](const Mono& m) {
         const LONG x = (301 - 2 * m.w + 100) / 2, y = (250 + 50 - 2 * m.h) / 2;
         return box(x, y, x + 2 * m.w, y + 2 * m.h);
       }},
      {u"ab\ncd", DT_RIGHT | DT_BOTTOM, [&](const Mono&) { return box(100, 50, 300, 250); },
       [&](const Mono& m) { return box(300 - 2 * m.w, 250 - 2 * m.h, 300, 250); }},
      {u"ab\ncd", DT_RTLREADING, [&](const Mono&) { return box(100, 50, 300, 250); },
       [&](const Mono& m) { return box(300 - 2 * m.w, 50, 300, 50 + 2 * m.h); }},
      {u"ab\ncd", DT_RTLREADING | DT_RIGHT, [&](const Mono&) { return box(100, 50, 300, 250); },
       [&](const Mono& m) { return box(100, 50, 100 + 2 * m.w, 50 + 2 * m.h); }},
      {u"", 0, wide, [&](const Mono&) { return box(10, 20, 10, 20); }},
  };
  for (bool engine : {false, true}) {
    gxl::draw::test::ResetGlyphFontImports();
    if (engine) RegisterFakeScriptEngine();
    ComRef<GlyphTextureFont> font = MakeFont(-16, "Courier New");
    ASSERT_TRUE(font);
    const Mono m = MonoMetrics(font.Get());
    ASSERT_GT(m.w, 0);
    for (const Row& row : rows) {
      SCOPED_TRACE(std::to_string(engine) + " " + std::to_string(row.format) + " " +
                   std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text)));
      RECT r = row.bounds(m);
      const LONG top = r.top;
      const RECT e = row.expected(m);
      const INT height = font->DrawStringW(nullptr, row.text, -1, &r, row.format | DT_CALCRECT, 0xFFFFFFFF);
      EXPECT_EQ(r.left, e.left);
      EXPECT_EQ(r.top, e.top);
      EXPECT_EQ(r.right, e.right);
      EXPECT_EQ(r.bottom, e.bottom);
      EXPECT_EQ(height, e.bottom - top);
    }
  }
}

TEST_F(TextLayout, FormatsOutsideTheMaskAndTextlessCountsAreRefused) {
  ComRef<GlyphTextureFont> font = MakeFont(-16);
  ASSERT_TRUE(font);
  for (DWORD format : {DT_TABSTOP, DT_NOPREFIX, DWORD{0x1000}, DWORD{0x40000}}) {
    RECT r = {1, 2, 3, 4};
    EXPECT_EQ(font->DrawStringA(nullptr, "a", 1, &r, format | DT_CALCRECT, 0), 0);
    EXPECT_EQ(r.right, 3);
  }
  EXPECT_EQ(font->DrawStringW(nullptr, nullptr, 2, nullptr, 0, 0), 0);
  EXPECT_EQ(font->CacheTextGlyphsA(nullptr, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(font->CacheTextGlyphsA(nullptr, 0), S_OK);
}

class TextLayoutSprites : public FontTest {
 protected:
  void SetUp() override {
    FontTest::SetUp();
    m_font = MakeFont(-16, "Courier New");
    ASSERT_TRUE(m_font);
    m = MonoMetrics(m_font.Get());
  }
  void TearDown() override {
    m_font.Reset();
    FontTest::TearDown();
  }
  // The cached rectangle and ink offset of a character's glyph.
  std::pair<RECT, POINT> Cached(char16_t c) {
    RECT r{};
    POINT p{};
    EXPECT_EQ(m_font->GetCachedGlyph(GlyphOf(m_font.Get(), c), nullptr, &r, &p), S_OK);
    return {r, p};
  }
  INT Draw(const char16_t* text, RECT rect, DWORD format) {
    rec.sprites.clear();
    return m_font->DrawStringW(&rec, text, -1, &rect, format, 0xFF00FF00);
  }
  ComRef<GlyphTextureFont> m_font;
  Mono m{};
  RecordingBatcher rec;
};

TEST_F(TextLayoutSprites, GlyphsLandAtPenAndLineWithTheirInkOffsets) {
  ASSERT_EQ(Draw(u"ab\ncd", {10, 20, 500, 400}, DT_NOCLIP), 2 * m.h);
  ASSERT_EQ(rec.sprites.size(), 4u);
  const char16_t chars[] = u"abcd";
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const auto [rect, ink] = Cached(chars[i]);
    const auto& s = rec.sprites[std::size_t(i)];
    EXPECT_TRUE(SameRect(s.rect, rect));
    EXPECT_FLOAT_EQ(s.x, float(10 + (i % 2) * m.w + ink.x));
    EXPECT_FLOAT_EQ(s.y, float(20 + (i / 2) * m.h + ink.y));
  }
}

TEST_F(TextLayoutSprites, ClippingCutsGlyphsInPlaceAndDropsThoseOutside) {
  // Right-aligned in a box narrower than the text: "a" starts w/2 left of it.
  const RECT clip = {0, 0, m.w + m.w / 2, m.h};
  ASSERT_GT(Draw(u"ab", clip, DT_RIGHT), 0);
  ASSERT_EQ(rec.sprites.size(), 2u);
  const auto [rect, ink] = Cached(u'a');
  const float unclipped = float(clip.right - 2 * m.w + ink.x);
  const auto& a = rec.sprites[0];
  EXPECT_FLOAT_EQ(a.x, std::max(unclipped, 0.0f));
  EXPECT_EQ(a.rect.left - rect.left, LONG(a.x - unclipped)) << "cut from the left, in place";
  EXPECT_EQ(a.rect.right, rect.right);
  for (const auto& s : rec.sprites) EXPECT_LE(s.x + float(s.rect.right - s.rect.left), float(clip.right));

  ASSERT_GT(Draw(u"..c", {0, 0, m.w, m.h}, DT_RIGHT), 0);
  ASSERT_EQ(rec.sprites.size(), 1u) << "the dots lie wholly left of the box";
  EXPECT_TRUE(SameRect(rec.sprites[0].rect, Cached(u'c').first));
}

TEST_F(TextLayoutSprites, LinesAboveTheBoxAreSkippedAndLinesBelowAreNotVisited) {
  const char16_t* tenLines = u"0\n1\n2\n3\n4\n5\n6\n7\n8\n9";
  // Bottom-aligned in two lines' height: eight lines lie above.
  EXPECT_EQ(Draw(tenLines, {0, 0, 100, 2 * m.h}, DT_BOTTOM), 2 * m.h);
  ASSERT_EQ(rec.sprites.size(), 2u);
  EXPECT_TRUE(SameRect(rec.sprites[0].rect, Cached(u'8').first));
  EXPECT_FLOAT_EQ(rec.sprites[0].y, float(Cached(u'8').second.y));

  // Centred in a tall box the block starts below the top: no line is skipped.
  EXPECT_EQ(Draw(u"0\n1", {0, 0, 100, 10 * m.h}, DT_VCENTER), 6 * m.h);
  ASSERT_EQ(rec.sprites.size(), 2u);
  EXPECT_FLOAT_EQ(rec.sprites[0].y, float(4 * m.h + Cached(u'0').second.y));

  EXPECT_GT(Draw(u"a\nb\nc", {0, 0, 100, m.h}, 0), 0);
  EXPECT_EQ(rec.sprites.size(), 1u);

  rec.failure = E_OUTOFMEMORY;
  EXPECT_EQ(Draw(u"ab", {0, 0, 100, 100}, 0), 0);
  EXPECT_EQ(rec.sprites.size(), 1u) << "the first failure ends the drawing";
}

TEST_F(TextLayoutSprites, TheScriptEngineReversesRightToLeftRunsAndWrapsThemFromTheirStart) {
  gxl::draw::test::ResetGlyphFontImports();
  RegisterFakeScriptEngine();
  m_font = MakeFont(-16, "Courier New");
  ASSERT_TRUE(m_font);
  const char16_t* hebrew = u"\u05D0\u05D1\u05D2\u05D3\u05D4";  // alef to he, read right to left
  ASSERT_GT(Draw(hebrew, {10, 10, 10 + 3 * m.w, 10 + 10 * m.h}, DT_WORDBREAK | DT_NOCLIP), 0);
  ASSERT_EQ(rec.sprites.size(), 5u);
  // First line: gimel bet alef from the left; the second: he dalet.
  const char16_t visual[] = u"\u05D2\u05D1\u05D0\u05D4\u05D3";
  const LONG xs[] = {0, 1, 2, 0, 1};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const auto [rect, ink] = Cached(visual[i]);
    EXPECT_TRUE(SameRect(rec.sprites[std::size_t(i)].rect, rect));
    EXPECT_FLOAT_EQ(rec.sprites[std::size_t(i)].x, float(10 + xs[i] * m.w + ink.x));
    EXPECT_FLOAT_EQ(rec.sprites[std::size_t(i)].y, float(10 + (i / 3) * m.h + ink.y));
  }
}

TEST_F(TextLayoutSprites, RunsTheFontCannotShapeAreDrawnFromWholeStringPiecesRenderedOnce) {
  gxl::draw::test::ResetGlyphFontImports();
  FakeScriptEngine& engine = RegisterFakeScriptEngine();
  m_font = MakeFont(-16, "Courier New");
  ASSERT_TRUE(m_font);
  const char16_t* text = u"x\uE000\uE000\uE000y";  // private-use characters: the default glyph
  ASSERT_GT(Draw(text, {0, 0, 600, 100}, 0), 0);
  const std::vector<RecordingBatcher::Sprite> first = rec.sprites;
  ASSERT_GT(Draw(text, {0, 0, 600, 100}, 0), 0);
  EXPECT_EQ(engine.stringAnalyses, 1);
  ASSERT_EQ(rec.sprites.size(), first.size());
  ASSERT_FALSE(first.empty());
  float right = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_TRUE(SameRect(rec.sprites[i].rect, first[i].rect));
    right = std::max(right, first[i].x + float(first[i].rect.right - first[i].rect.left));
  }
  EXPECT_LE(right, float(5 * m.w + 1)) << "the pieces cover the string and no more";
}

// Whole strings through the device: every inked pixel lies in the box of one
// of the glyphs (its pen position from GDI's advances and the layout rules,
// its ink from GDI's ABC widths), and every glyph shows ink in its box.
TEST_F(TextLayout, RenderedTextInksItsGlyphBoxesAndNothingElse) {
  struct Case {
    const char* face;
    DWORD charset;
    const char16_t* text;
  };
  for (const Case& c : {Case{"Arial", DEFAULT_CHARSET, u"Hello, world\tTab\nLine 2"},
                        Case{"MS Gothic", SHIFTJIS_CHARSET, u"\u65E5\u672C\u8A9E\u306E\n\u30C6\u30AD\u30B9\u30C8"}}) {
    SCOPED_TRACE(c.face);
    ComRef<GlyphTextureFont> font = MakeFont(-20, c.face, true, c.charset);
    ASSERT_TRUE(font);
    TEXTMETRICW tm{};
    font->GetMetricsW(&tm);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    RECT rect = {20, 30, 620, 450};
    EXPECT_EQ(font->DrawStringW(nullptr, c.text, -1, &rect, DT_EXPANDTABS, 0xFFFFFFFF), 2 * tm.tmHeight);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    const std::vector<std::uint32_t> px = BackBufferPixels();

    std::vector<RECT> boxes;
    LONG pen = 0, line = 0;
    for (const char16_t* p = c.text; *p; ++p) {
      if (*p == u'\n') {
        pen = 0, ++line;
        continue;
      }
      const WORD g = GlyphOf(font.Get(), *p);
      ABC abc{};
      int advance = 0;
      ASSERT_TRUE(GetCharABCWidthsI(font->GetMemoryDC(), 0, 1, &g, &abc));
      ASSERT_TRUE(GetCharWidthI(font->GetMemoryDC(), 0, 1, &g, &advance));
      if (*p == u'\t') advance = tm.tmAveCharWidth * 8 - pen % (tm.tmAveCharWidth * 8);
      if (abc.abcB > 0 && *p != u'\t' && *p != u' ')
        boxes.push_back({20 + pen + abc.abcA - 1, 30 + line * tm.tmHeight, 20 + pen + abc.abcA + LONG(abc.abcB) + 1,
                         30 + (line + 1) * tm.tmHeight});
      pen += advance;
    }
    std::vector<int> inked(boxes.size());
    int stray = 0;
    for (LONG y = 0; y < 480; ++y)
      for (LONG x = 0; x < 640; ++x) {
        if ((px[std::size_t(y) * 640 + x] & 0xFFFFFF) == 0) continue;
        bool inside = false;
        for (std::size_t b = 0; b < boxes.size(); ++b)
          if (x >= boxes[b].left && x < boxes[b].right && y >= boxes[b].top && y < boxes[b].bottom)
            inside = true, ++inked[b];
        stray += !inside;
      }
    EXPECT_EQ(stray, 0);
    for (std::size_t b = 0; b < boxes.size(); ++b) EXPECT_GT(inked[b], 0) << "glyph box " << b;
  }
}

}  // namespace
}  // namespace drawtest

#include "font_test_support.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "gxl/draw/glyph_font_imports.h"
#include "platform/win_script.h"
#include "tests/support/package_fonts.h"

namespace drawtest {
namespace {

// Every test looks the font's entry points up afresh (after its own modules).
[[maybe_unused]] const bool kImportsReset =
    (platform::test::RegisterReset(&gxl::draw::test::ResetGlyphFontImports), true);

FakeScriptEngine g_engine;

bool IsHebrew(WCHAR c) { return c >= 0x05D0 && c <= 0x05EA; }
bool IsControl(WCHAR c) { return c == u'\r' || c == u'\n' || c == u'\t'; }

std::vector<WORD> GdiGlyphs(HDC dc, const WCHAR* text, int count, std::vector<int>* advances = nullptr) {
  std::vector<WORD> glyphs(static_cast<std::size_t>(count));
  std::vector<int> dx(static_cast<std::size_t>(count));
  GCP_RESULTSW r{};
  r.lStructSize = sizeof r;
  r.lpGlyphs = reinterpret_cast<LPWSTR>(glyphs.data());
  r.lpDx = dx.data();
  r.nGlyphs = UINT(count);
  GetCharacterPlacementW(dc, text, count, 0, &r, 0);
  if (advances) *advances = dx;
  return glyphs;
}

HRESULT Itemize(const WCHAR* text, int count, int maxItems, const SCRIPT_CONTROL*, const SCRIPT_STATE*,
                SCRIPT_ITEM* items, int* itemCount) {
  ++g_engine.itemizeCalls;
  g_engine.maxItemsSeen = std::max(g_engine.maxItemsSeen, maxItems);
  int n = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && IsHebrew(text[i]) == IsHebrew(text[i - 1])) continue;
    if (n + 1 >= maxItems) return E_OUTOFMEMORY;
    items[n] = SCRIPT_ITEM{i, {}};
    items[n].a.fRTL = items[n].a.fLayoutRTL = IsHebrew(text[i]);
    ++n;
  }
  items[n].iCharPos = count;
  *itemCount = n;
  return S_OK;
}

HRESULT Break(const WCHAR* text, int count, const SCRIPT_ANALYSIS*, SCRIPT_LOGATTR* attrs) {
  for (int i = 0; i < count; ++i) {
    attrs[i] = SCRIPT_LOGATTR{};
    attrs[i].fWordStop = i == 0 || IsControl(text[i]) || IsControl(text[i - 1]) ||
                         (text[i - 1] == u' ' && text[i] != u' ');
  }
  return S_OK;
}

HRESULT Shape(HDC dc, SCRIPT_CACHE* cache, const WCHAR* text, int count, int maxGlyphs, SCRIPT_ANALYSIS* analysis,
              WORD* glyphs, WORD* clusters, SCRIPT_VISATTR* visAttrs, int* glyphCount) {
  if (count > maxGlyphs) return E_OUTOFMEMORY;
  *cache = &g_engine;
  std::vector<WORD> g = GdiGlyphs(dc, text, count);
  if (analysis->fRTL) std::reverse(g.begin(), g.end());
  for (int i = 0; i < count; ++i) {
    glyphs[i] = g[std::size_t(i)];
    clusters[i] = WORD(analysis->fRTL ? count - 1 - i : i);
    visAttrs[i] = SCRIPT_VISATTR{};
  }
  *glyphCount = count;
  return S_OK;
}

HRESULT Place(HDC dc, SCRIPT_CACHE*, const WORD* glyphs, int count, const SCRIPT_VISATTR*, SCRIPT_ANALYSIS*,
              int* advances, GOFFSET* offsets, ABC* width) {
  if (!GetCharWidthI(dc, 0, UINT(count), glyphs, advances)) return E_FAIL;
  std::fill(offsets, offsets + count, GOFFSET{0, 0});
  *width = ABC{0, UINT(std::accumulate(advances, advances + count, 0)), 0};
  return S_OK;
}

HRESULT GetProperties(const SCRIPT_PROPERTIES*** properties, int* count) {
  static const SCRIPT_PROPERTIES kDefault{};
  static const SCRIPT_PROPERTIES* kTable[] = {&kDefault};
  *properties = kTable;
  *count = 1;
  return S_OK;
}

HRESULT FreeCache(SCRIPT_CACHE* cache) {
  if (*cache) ++g_engine.cacheFrees;
  *cache = nullptr;
  return S_OK;
}

HRESULT RecordDigits(LCID, SCRIPT_DIGITSUBSTITUTE* s) {
  *s = SCRIPT_DIGITSUBSTITUTE{};
  return S_OK;
}

HRESULT ApplyDigits(const SCRIPT_DIGITSUBSTITUTE*, SCRIPT_CONTROL*, SCRIPT_STATE*) { return S_OK; }

HRESULT FontProperties(HDC dc, SCRIPT_CACHE* cache, SCRIPT_FONTPROPERTIES* p) {
  if (p->cBytes != sizeof *p) return E_INVALIDARG;
  *cache = &g_engine;
  const WCHAR space = u' ';
  p->wgBlank = GdiGlyphs(dc, &space, 1)[0];
  p->wgDefault = 0;
  return S_OK;
}

struct Analysis {
  HDC dc;
  std::u16string text;
  std::vector<int> advances;
  SIZE size;
};

HRESULT StringAnalyse(HDC dc, const void* text, int count, int, int, DWORD, int, SCRIPT_CONTROL*, SCRIPT_STATE*,
                      const int*, SCRIPT_TABDEF*, const BYTE*, SCRIPT_STRING_ANALYSIS* out) {
  ++g_engine.stringAnalyses;
  auto* a = new Analysis{dc, std::u16string(static_cast<const WCHAR*>(text), std::size_t(count)), {}, {}};
  GdiGlyphs(dc, a->text.data(), count, &a->advances);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  a->size = SIZE{std::accumulate(a->advances.begin(), a->advances.end(), 0), tm.tmHeight};
  *out = a;
  return S_OK;
}

HRESULT StringOut(SCRIPT_STRING_ANALYSIS analysis, int x, int y, UINT options, const RECT* clip, int, int, BOOL) {
  auto* a = static_cast<Analysis*>(analysis);
  return ExtTextOutW(a->dc, x, y, options, clip, a->text.data(), UINT(a->text.size()), nullptr) ? S_OK : E_FAIL;
}

HRESULT StringFree(SCRIPT_STRING_ANALYSIS* analysis) {
  delete static_cast<Analysis*>(*analysis);
  *analysis = nullptr;
  return S_OK;
}

HRESULT StringCPtoX(SCRIPT_STRING_ANALYSIS analysis, int i, BOOL trailing, int* x) {
  const auto& adv = static_cast<Analysis*>(analysis)->advances;
  *x = std::accumulate(adv.begin(), adv.begin() + i + (trailing ? 1 : 0), 0);
  return S_OK;
}

const SIZE* StringSize(SCRIPT_STRING_ANALYSIS analysis) { return &static_cast<Analysis*>(analysis)->size; }

std::intptr_t NotCalled() { return E_NOTIMPL; }

}  // namespace

void FontTest::SetUp() {
  SpriteTest::SetUp();
  nura::test::PinPackageFonts();
}

ComRef<GlyphTextureFont> FontTest::MakeFont(int height, const char* face, bool italic, DWORD charSet,
                                            UINT mipLevels) {
  GlyphTextureFont* font = nullptr;
  EXPECT_EQ(GXLCreateGlyphTextureFontA(dev, height, 0, FW_NORMAL, mipLevels, italic, charSet, OUT_DEFAULT_PRECIS,
                                       DEFAULT_QUALITY, DEFAULT_PITCH, face, &font),
            S_OK);
  return ComRef<GlyphTextureFont>(font);
}

WORD GlyphOf(GlyphTextureFont* font, char16_t c) { return GdiGlyphs(font->GetMemoryDC(), &c, 1)[0]; }

std::vector<std::uint32_t> TextureLevel(IDirect3DTexture9* texture, UINT level, UINT* size) {
  D3DSURFACE_DESC desc{};
  EXPECT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
  D3DLOCKED_RECT lr{};
  EXPECT_EQ(texture->LockRect(level, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  std::vector<std::uint32_t> texels(std::size_t(desc.Width) * desc.Height);
  for (UINT y = 0; y < desc.Height; ++y)
    std::memcpy(&texels[std::size_t(y) * desc.Width], static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch,
                desc.Width * 4);
  texture->UnlockRect(level);
  *size = desc.Width;
  return texels;
}

FakeScriptEngine& RegisterFakeScriptEngine(const std::string& leaveOut) {
  using platform::test::ExportFn;
  g_engine = FakeScriptEngine{};
  platform::test::AddModule("usp10.dll", false);
  const std::pair<const char*, ExportFn> exports[] = {
      {"ScriptItemize", reinterpret_cast<ExportFn>(&Itemize)},
      {"ScriptShape", reinterpret_cast<ExportFn>(&Shape)},
      {"ScriptPlace", reinterpret_cast<ExportFn>(&Place)},
      {"ScriptBreak", reinterpret_cast<ExportFn>(&Break)},
      {"ScriptJustify", &NotCalled},
      {"ScriptTextOut", &NotCalled},
      {"ScriptGetProperties", reinterpret_cast<ExportFn>(&GetProperties)},
      {"ScriptFreeCache", reinterpret_cast<ExportFn>(&FreeCache)},
      {"ScriptRecordDigitSubstitution", reinterpret_cast<ExportFn>(&RecordDigits)},
      {"ScriptApplyDigitSubstitution", reinterpret_cast<ExportFn>(&ApplyDigits)},
      {"ScriptGetFontProperties", reinterpret_cast<ExportFn>(&FontProperties)},
      {"ScriptStringAnalyse", reinterpret_cast<ExportFn>(&StringAnalyse)},
      {"ScriptStringOut", reinterpret_cast<ExportFn>(&StringOut)},
      {"ScriptStringFree", reinterpret_cast<ExportFn>(&StringFree)},
      {"ScriptStringCPtoX", reinterpret_cast<ExportFn>(&StringCPtoX)},
      {"ScriptString_pSize", reinterpret_cast<ExportFn>(&StringSize)},
  };
  for (const auto& [name, fn] : exports)
    if (leaveOut != name) platform::test::RegisterExport("usp10.dll", name, fn);
  return g_engine;
}

}  // namespace drawtest

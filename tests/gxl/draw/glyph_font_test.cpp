// The texture font as an object: its creators and their failures, the lookup
// of its entry points, descriptions, metrics and the sizing of its textures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "font_test_support.h"
#include "gxl/draw/glyph_font_imports.h"
#include "gxl/draw/interface_ids.h"
#include "gxl/tex/result_codes.h"

namespace drawtest {
namespace {

using GlyphTextureFontCreate = FontTest;
using GlyphTextureFontQueries = FontTest;
using GlyphTextureFontSizing = FontTest;

GlyphTextureFont* const kUntouched = reinterpret_cast<GlyphTextureFont*>(std::uintptr_t{0x5A5A5A5A});

FontDescW WideDesc(int height, const char16_t* face) {
  FontDescW d{};
  d.height = height;
  d.weight = FW_BOLD;
  d.mipLevels = 3;
  d.italic = TRUE;
  d.pitchAndFamily = VARIABLE_PITCH;
  std::char_traits<char16_t>::copy(d.faceName, face, std::char_traits<char16_t>::length(face));
  return d;
}

TEST_F(GlyphTextureFontCreate, FailuresReturnTheirCodeAndLeaveNothingBehind) {
  const ULONG deviceRefs = RefCount(dev);
  const FontDescW desc = WideDesc(-16, u"Arial");
  struct Case {
    const char* name;
    std::function<void()> arm;
    std::function<HRESULT(GlyphTextureFont**)> create;
    HRESULT expected;
  };
  const auto fromDesc = [&](GlyphTextureFont** f) { return GXLCreateGlyphTextureFontFromDescW(dev, &desc, f); };
  const Case cases[] = {
      {"null device", [] {}, [&](GlyphTextureFont** f) { return GXLCreateGlyphTextureFontFromDescW(nullptr, &desc, f); },
       D3DERR_INVALIDCALL},
      {"null description", [] {},
       [&](GlyphTextureFont** f) { return GXLCreateGlyphTextureFontFromDescA(dev, nullptr, f); }, D3DERR_INVALIDCALL},
      {"no memory", [] { FailNothrowAllocation(1); }, fromDesc, E_OUTOFMEMORY},
      {"no DC", [] { platform::test::FailCall("CreateCompatibleDC", E_FAIL); }, fromDesc, E_OUTOFMEMORY},
      {"no GDI font", [] { platform::test::FailCall("CreateFontIndirectW", E_FAIL); }, fromDesc, E_OUTOFMEMORY},
      {"no DIB", [] { platform::test::FailCall("CreateDIBSection", E_FAIL); }, fromDesc, E_OUTOFMEMORY},
      {"no A8R8G8B8 textures",
       [] {
         platform::test::SetD3D9FormatAnswer([](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
           return format == D3DFMT_A8R8G8B8 ? D3DERR_NOTAVAILABLE
                                            : platform::test::D3D9ProfileFormatAnswer("game", usage, type, format);
         });
       },
       fromDesc, GXLERR_INVALIDDATA},
      {"cells larger than the largest texture", [] { platform::test::SelectD3D9CapsProfile("small-max"); },
       [&](GlyphTextureFont** f) {
         return GXLCreateGlyphTextureFontA(dev, -300, 0, 0, 0, 0, 0, 0, 0, 0, "Arial", f);
       },
       GXLERR_INVALIDDATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arm();
    GlyphTextureFont* font = kUntouched;
    EXPECT_EQ(c.create(&font), c.expected);
    EXPECT_EQ(font, kUntouched);
    EXPECT_EQ(c.create(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(platform::test::LiveGdiObjects(), 0);
    EXPECT_EQ(RefCount(dev), deviceRefs);
    platform::test::ClearFailures();
    platform::test::SetD3D9FormatAnswer(nullptr);
    platform::test::SelectD3D9CapsProfile("game");
  }
}

TEST_F(GlyphTextureFontCreate, AFailedLookupFailsEveryLaterFontTheSameWay) {
  RegisterFakeScriptEngine("ScriptString_pSize");
  GlyphTextureFont* font = kUntouched;
  EXPECT_EQ(GXLCreateGlyphTextureFontA(dev, -16, 0, 0, 0, 0, 0, 0, 0, 0, "Arial", &font), E_OUTOFMEMORY);
  const gxl::GlyphFontImports* imports = nullptr;
  EXPECT_EQ(gxl::LookUpGlyphFontImports(&imports), E_OUTOFMEMORY);
  EXPECT_FALSE(imports->scriptEngine);
  EXPECT_EQ(imports->scriptItemize, nullptr) << "no half-filled engine";

  RegisterFakeScriptEngine();  // the name appears, but the lookup is not repeated
  EXPECT_EQ(GXLCreateGlyphTextureFontA(dev, -16, 0, 0, 0, 0, 0, 0, 0, 0, "Arial", &font), E_OUTOFMEMORY);
  EXPECT_EQ(font, kUntouched);

  gxl::draw::test::ResetGlyphFontImports();
  platform::test::RemoveExport("gdi32.dll", "GetCharWidthI");
  EXPECT_EQ(GXLCreateGlyphTextureFontA(dev, -16, 0, 0, 0, 0, 0, 0, 0, 0, "Arial", &font), E_OUTOFMEMORY);
  EXPECT_EQ(GXLCreateGlyphTextureFontA(dev, -16, 0, 0, 0, 0, 0, 0, 0, 0, "Arial", &font), E_OUTOFMEMORY);
  EXPECT_EQ(platform::test::LiveGdiObjects(), 0);
}

TEST_F(GlyphTextureFontCreate, DefaultAndBlankGlyphsComeFromPlacementOrFromTheScriptEngine) {
  for (bool engine : {false, true}) {
    SCOPED_TRACE(engine);
    gxl::draw::test::ResetGlyphFontImports();
    FakeScriptEngine* fake = engine ? &RegisterFakeScriptEngine() : nullptr;
    {
      ComRef<GlyphTextureFont> font = MakeFont(-16);
      ASSERT_TRUE(font);
      // A space has no ink; the default glyph (the missing-glyph box) has.
      const WCHAR space = u' ';
      WCHAR glyph = 0;
      GCP_RESULTSW r{};
      r.lStructSize = sizeof r;
      r.lpGlyphs = &glyph;
      r.nGlyphs = 1;
      ASSERT_NE(GetCharacterPlacementW(font->GetMemoryDC(), &space, 1, 0, &r, 0), 0u);
      ComRef<IDirect3DTexture9> texture;
      EXPECT_EQ(font->GetCachedGlyph(glyph, texture.Put(), nullptr, nullptr), S_OK);
      EXPECT_FALSE(texture);
      EXPECT_EQ(font->GetCachedGlyph(0xFFF0, texture.Put(), nullptr, nullptr), S_FALSE) << "no such glyph";
      EXPECT_TRUE(texture) << "the default glyph stands in";
    }
    if (fake) {
      EXPECT_EQ(fake->cacheFrees, 1) << "the font frees its script cache";
    }
  }
}

TEST_F(GlyphTextureFontQueries, DescriptionsRoundTripAndFaceNamesAreCut) {
  const char16_t* longFace = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32 characters
  for (BYTE quality : {BYTE{0}, BYTE{NONANTIALIASED_QUALITY}, BYTE{ANTIALIASED_QUALITY}}) {
    SCOPED_TRACE(int(quality));
    GlyphTextureFont* raw = nullptr;
    ASSERT_EQ(GXLCreateGlyphTextureFontW(dev, -18, 0, FW_BOLD, 3, TRUE, 0x1FF, 0x103, quality, 0x122, longFace, &raw),
              S_OK);
    ComRef<GlyphTextureFont> font(raw);
    FontDescW w{};
    ASSERT_EQ(font->QueryDescriptionW(&w), S_OK);
    EXPECT_EQ(w.height, -18);
    EXPECT_EQ(w.weight, UINT(FW_BOLD));
    EXPECT_EQ(w.mipLevels, 3u);
    EXPECT_EQ(w.italic, TRUE);
    EXPECT_EQ(w.charSet, 0xFF) << "byte fields keep their low eight bits";
    EXPECT_EQ(w.outputPrecision, 3);
    EXPECT_EQ(w.quality, quality == 0 ? ANTIALIASED_QUALITY : quality);
    EXPECT_EQ(w.pitchAndFamily, 0x22);
    EXPECT_EQ(std::u16string(w.faceName), std::u16string(longFace, 31));
    FontDescA a{};
    ASSERT_EQ(font->QueryDescriptionA(&a), S_OK);
    EXPECT_EQ(std::string(a.faceName), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
    EXPECT_EQ(a.height, w.height);
    EXPECT_EQ(a.quality, w.quality);
    EXPECT_EQ(font->QueryDescriptionA(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(font->QueryDescriptionW(nullptr), D3DERR_INVALIDCALL);
  }
}

TEST_F(GlyphTextureFontQueries, InterfacesMetricsAndDevice) {
  ComRef<GlyphTextureFont> font = MakeFont(-16);
  ASSERT_TRUE(font);
  void* out = nullptr;
  ASSERT_EQ(font->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, font.Get());
  EXPECT_EQ(font->Release(), 1u);
  ASSERT_EQ(font->QueryInterface(IidGlyphTextureFont, &out), S_OK);
  EXPECT_EQ(font->Release(), 1u);
  out = &out;
  EXPECT_EQ(font->QueryInterface(IidSpriteBatcher, &out), E_NOINTERFACE);
  EXPECT_EQ(out, &out) << "left as it was";

  ComRef<IDirect3DDevice9> device;
  ASSERT_EQ(font->GetDeviceRef(device.Put()), S_OK);
  EXPECT_EQ(device.Get(), dev);
  EXPECT_EQ(font->GetDeviceRef(nullptr), D3DERR_INVALIDCALL);

  TEXTMETRICW stored{}, fresh{};
  ASSERT_TRUE(font->GetMetricsW(&stored));
  ASSERT_TRUE(GetTextMetricsW(font->GetMemoryDC(), &fresh));
  EXPECT_EQ(std::memcmp(&stored, &fresh, sizeof stored), 0);
  EXPECT_FALSE(font->GetMetricsW(nullptr));
  TEXTMETRICA narrow{};
  EXPECT_TRUE(font->GetMetricsA(&narrow));
  EXPECT_EQ(narrow.tmHeight, stored.tmHeight);
  EXPECT_EQ(font->OnDeviceLost(), S_OK);
  EXPECT_EQ(font->OnDeviceReset(), S_OK);
}

UINT PowerOfTwoAtLeast(LONG v) {
  UINT p = 1;
  while (LONG(p) < v) p *= 2;
  return p;
}

UINT Log2(UINT v) {
  UINT n = 0;
  while (v > 1) v /= 2, ++n;
  return n;
}

TEST_F(GlyphTextureFontSizing, NarrowCellsHoldTheHeightAndAverageWidthAndTexturesHold128Of_Them) {
  struct Row {
    int height;
    const char* face;
    UINT mipLimit;
  };
  for (const Row& row : {Row{-8, "Arial", 0}, Row{-12, "Arial", 0}, Row{-16, "Courier New", 0},
                         Row{30, "Times New Roman", 0}, Row{-40, "Arial", 2}, Row{-150, "Arial", 0}}) {
    SCOPED_TRACE(std::to_string(row.height) + " " + row.face);
    ComRef<GlyphTextureFont> font = MakeFont(row.height, row.face, false, DEFAULT_CHARSET, row.mipLimit);
    ASSERT_TRUE(font);
    TEXTMETRICW tm{};
    ASSERT_TRUE(font->GetMetricsW(&tm));
    const UINT cell = PowerOfTwoAtLeast(std::max(tm.tmHeight, tm.tmAveCharWidth));
    const UINT characters = std::min<UINT>(tm.tmLastChar - tm.tmFirstChar + 1, 128);
    UINT size = cell;
    while (std::uint64_t{cell} * cell * characters > std::uint64_t{size} * size && size < 256) size *= 2;
    const UINT levels = row.mipLimit ? std::min(Log2(cell) + 1, row.mipLimit) : Log2(cell) + 1;

    // The first two narrow glyphs: two neighbouring cells of one texture.
    ASSERT_EQ(font->CacheCharacterRange('i', 'j'), S_OK);
    WCHAR glyphs[2] = {};
    GCP_RESULTSW r{};
    r.lStructSize = sizeof r;
    r.lpGlyphs = glyphs;
    r.nGlyphs = 2;
    ASSERT_NE(GetCharacterPlacementW(font->GetMemoryDC(), u"ij", 2, 0, &r, 0), 0u);
    ComRef<IDirect3DTexture9> first, second;
    RECT a{}, b{};
    ASSERT_EQ(font->GetCachedGlyph(glyphs[0], first.Put(), &a, nullptr), S_OK);
    ASSERT_EQ(font->GetCachedGlyph(glyphs[1], second.Put(), &b, nullptr), S_OK);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get() == second.Get(), size > cell) << "neighbours share a texture that holds two cells";
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(first->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, size);
    EXPECT_EQ(desc.Height, size);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(first->GetLevelCount(), levels);
    EXPECT_GE(a.left, 0);
    EXPECT_LE(a.right, LONG(cell));
    if (size > cell) {
      EXPECT_GE(b.left, LONG(cell));
      EXPECT_LE(b.right, LONG(2 * cell));
    }
  }
}

}  // namespace
}  // namespace drawtest

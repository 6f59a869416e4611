// The bitmap font on the headless device: texture sizing and contents, text
// extents, the glyph quads, batching, state restoration, failures and pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "platform/win_gdi.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qelbitmapfont.h"
#include "tests/qel/appbase/appbase_test_util.h"

namespace {

// The headless device of the drawing tests, with GDI's faces pinned and every
// GDI object gone at the end.
class BitmapFontTest : public qeltest::DeviceTest {
 protected:
  void SetUp() override {
    platform::test::PinFontFaces({"/usr/share/fonts/truetype/liberation2", "/usr/share/fonts/truetype/dejavu"});
    DeviceTest::SetUp();
  }
  void TearDown() override {
    m_font.reset();
    DeviceTest::TearDown();
    EXPECT_EQ(platform::test::LiveGdiObjects(), 0);
  }

  // The application's font, built and restored.
  C_BitmapFont& AppFont(DWORD points = 12, DWORD flags = C_BitmapFont::kBold) {
    m_font = std::make_unique<C_BitmapFont>("Arial", points, flags);
    EXPECT_EQ(m_font->InitDeviceObjects(m_dev), S_OK);
    EXPECT_EQ(m_font->RestoreDevice(), S_OK);
    return *m_font;
  }

  // Primitive counts of the DrawPrimitive calls logged since the log started.
  static std::vector<int> DrawCounts() {
    std::vector<int> counts;
    for (const auto& call : platform::test::D3D9Calls())
      if (call.method == "DrawPrimitive") counts.push_back(std::stoi(call.args.substr(call.args.rfind(' ') + 1)));
    return counts;
  }

  // The vertices of the last batch, read back from the font's buffer.
  template <class V>
  std::vector<V> LastBatch(size_t count) {
    V* v = nullptr;
    std::vector<V> out;
    IDirect3DVertexBuffer9* vb = m_font->GetVertexBuffer();
    if (vb->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_READONLY) != D3D_OK) return out;
    out.assign(v, v + count);
    vb->Unlock();
    return out;
  }

  std::unique_ptr<C_BitmapFont> m_font;
};

class BitmapFont : public BitmapFontTest {};

TEST_F(BitmapFont, TextureSizeFollowsThePointSize) {
  const std::pair<DWORD, UINT> cases[] = {{12, 256}, {16, 512}, {31, 1024}, {61, 2048}};
  for (auto [points, size] : cases) {
    SCOPED_TRACE(points);
    C_BitmapFont font("Arial", points, 0);
    ASSERT_EQ(font.InitDeviceObjects(m_dev), S_OK);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(font.GetTexture()->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, size);
    EXPECT_EQ(desc.Height, size);
    EXPECT_EQ(desc.Format, D3DFMT_A4R4G4B4);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(font.GetTexture()->GetLevelCount(), 1u);
    EXPECT_EQ(font.GetTextScale(), 1.0f);
  }
}

TEST_F(BitmapFont, EveryCharacterKeepsItsTexelsInsideTheTexture) {
  // The largest size of each step would run past the bottom of its texture.
  for (DWORD points : {12u, 15u, 30u, 60u}) {
    for (DWORD flags : {0u, C_BitmapFont::kBold | C_BitmapFont::kItalic}) {
      SCOPED_TRACE(std::to_string(points) + " " + std::to_string(flags));
      C_BitmapFont font("Arial", points, flags);
      ASSERT_EQ(font.InitDeviceObjects(m_dev), S_OK);
      EXPECT_EQ(font.GetTextScale(), 1.0f);
      for (int c = 32; c < 127; ++c) {
        const float* tc = font.GetTexCoords(static_cast<unsigned char>(c));
        EXPECT_LE(tc[3], 1.0f) << c;
        EXPECT_LE(tc[2], 1.0f) << c;
      }
    }
  }
  // At the device's limit the glyphs shrink instead.
  platform::test::EditD3D9Caps([](D3DCAPS9& caps) { caps.MaxTextureWidth = caps.MaxTextureHeight = 256; });
  C_BitmapFont font("Arial", 15, C_BitmapFont::kBold);
  ASSERT_EQ(font.InitDeviceObjects(m_dev), S_OK);
  EXPECT_EQ(font.GetTextureWidth(), 256u);
  EXPECT_LT(font.GetTextScale(), 1.0f);
  for (int c = 32; c < 127; ++c) EXPECT_LE(font.GetTexCoords(static_cast<unsigned char>(c))[3], 1.0f) << c;
}

TEST_F(BitmapFont, SmallDevicesShrinkTheGlyphs) {
  platform::test::EditD3D9Caps([](D3DCAPS9& caps) { caps.MaxTextureWidth = 128; });
  C_BitmapFont font("Arial", 12, C_BitmapFont::kBold);
  ASSERT_EQ(font.InitDeviceObjects(m_dev), S_OK);
  EXPECT_EQ(font.GetTextureWidth(), 128u);
  EXPECT_EQ(font.GetTextScale(), 0.5f);
  // Eight-pixel glyphs: the cell of a line is about half the 19 pixels of the
  // full-size font.
  const float* tc = font.GetTexCoords(' ');
  EXPECT_NEAR((tc[3] - tc[1]) * 128.0f, 10.0f, 1.0f);
}

TEST_F(BitmapFont, GlyphTextureHoldsWhiteCoverageInsideTheCells) {
  C_BitmapFont& font = AppFont();
  const UINT size = font.GetTextureWidth();
  ASSERT_EQ(size, 256u);
  // The margin: three tenths of a space's height, rounded up.
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT gdiFont = CreateFontA(-16, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY,
                              VARIABLE_PITCH, "Arial");
  HGDIOBJ old = SelectObject(dc, gdiFont);
  SIZE space{};
  ASSERT_TRUE(GetTextExtentPoint32A(dc, " ", 1, &space));
  EXPECT_EQ(font.GetSpacing(), static_cast<DWORD>(std::ceil(space.cy * 0.3)));

  std::vector<std::uint8_t> inCell(size * size, 0);
  for (int c = 32; c < 127; ++c) {
    const float* tc = font.GetTexCoords(static_cast<unsigned char>(c));
    const char ch = static_cast<char>(c);
    SIZE glyph{};
    ASSERT_TRUE(GetTextExtentPoint32A(dc, &ch, 1, &glyph));
    EXPECT_FLOAT_EQ((tc[2] - tc[0]) * size, static_cast<float>(glyph.cx + 2 * font.GetSpacing())) << c;
    EXPECT_FLOAT_EQ((tc[3] - tc[1]) * size, static_cast<float>(glyph.cy)) << c;
    for (UINT y = static_cast<UINT>(tc[1] * size); y < static_cast<UINT>(tc[3] * size); ++y)
      for (UINT x = static_cast<UINT>(tc[0] * size); x < static_cast<UINT>(tc[2] * size); ++x)
        inCell[y * size + x] = static_cast<std::uint8_t>(c);
  }
  SelectObject(dc, old);
  DeleteObject(gdiFont);
  DeleteDC(dc);
  const float* del = font.GetTexCoords(127);
  EXPECT_EQ(del[0] + del[1] + del[2] + del[3], 0.0f) << "character 127 has no cell";

  D3DLOCKED_RECT locked{};
  ASSERT_EQ(font.GetTexture()->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  int inkA = 0, inkSpace = 0, outside = 0;
  for (UINT y = 0; y < size; ++y) {
    const auto* row = reinterpret_cast<const WORD*>(static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch);
    for (UINT x = 0; x < size; ++x) {
      const WORD t = row[x];
      ASSERT_TRUE(t == 0 || ((t & 0x0FFF) == 0x0FFF && (t >> 12) > 0)) << std::hex << t;
      if (!t) continue;
      inkA += inCell[y * size + x] == 'A';
      inkSpace += inCell[y * size + x] == ' ';
      outside += inCell[y * size + x] == 0;
    }
  }
  font.GetTexture()->UnlockRect(0);
  EXPECT_GT(inkA, 30);
  EXPECT_EQ(inkSpace, 0);
  EXPECT_EQ(outside, 0);
}

TEST_F(BitmapFont, TextExtentIsTheWidestLineByAllLines) {
  C_BitmapFont& font = AppFont();
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT gdiFont = CreateFontA(-16, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY,
                              VARIABLE_PITCH, "Arial");
  HGDIOBJ old = SelectObject(dc, gdiFont);
  SIZE fps{}, wide{};
  GetTextExtentPoint32A(dc, "FPS:60", 6, &fps);
  GetTextExtentPoint32A(dc, "MMMMMM", 6, &wide);
  SelectObject(dc, old);
  DeleteObject(gdiFont);
  DeleteDC(dc);

  SIZE size{};
  ASSERT_EQ(font.GetTextExtent("FPS:60", &size), S_OK);
  EXPECT_EQ(size.cx, fps.cx);
  EXPECT_EQ(size.cy, fps.cy);
  ASSERT_EQ(font.GetTextExtent("FPS:60\nMMMMMM\n", &size), S_OK);
  EXPECT_EQ(size.cx, wide.cx);
  EXPECT_EQ(size.cy, 3 * fps.cy);
  ASSERT_EQ(font.GetTextExtent("FPS\x7F\x80\xFF:60\t", &size), S_OK);
  EXPECT_EQ(size.cx, fps.cx) << "characters outside 32..126 add nothing";
  EXPECT_EQ(font.GetTextExtent(nullptr, &size), E_FAIL);
  EXPECT_EQ(font.GetTextExtent("x", nullptr), E_FAIL);
}

TEST_F(BitmapFont, EachGlyphIsTwoTrianglesAtItsPenPosition) {
  C_BitmapFont& font = AppFont();
  const float sp = static_cast<float>(font.GetSpacing());
  ASSERT_EQ(font.DrawText(10.0f, 20.0f, 0x80402010, "A \x7F\x80\nAB"), S_OK);
  const auto v = LastBatch<FontVertex2D>(18);
  ASSERT_EQ(v.size(), 18u);
  const float* a = font.GetTexCoords('A');
  const float w = (a[2] - a[0]) * 256.0f, h = (a[3] - a[1]) * 256.0f;
  auto expect = [&](const FontVertex2D& got, float x, float y, float u, float tv) {
    EXPECT_FLOAT_EQ(got.x, x - 0.5f);
    EXPECT_FLOAT_EQ(got.y, y - 0.5f);
    EXPECT_FLOAT_EQ(got.z, 0.9f);
    EXPECT_FLOAT_EQ(got.rhw, 1.0f);
    EXPECT_EQ(got.color, 0x80402010u);
    EXPECT_FLOAT_EQ(got.u, u);
    EXPECT_FLOAT_EQ(got.v, tv);
  };
  const float x0 = 10.0f - sp;
  expect(v[0], x0, 20 + h, a[0], a[3]);
  expect(v[1], x0, 20, a[0], a[1]);
  expect(v[2], x0 + w, 20 + h, a[2], a[3]);
  expect(v[3], x0 + w, 20, a[2], a[1]);
  expect(v[4], x0 + w, 20 + h, a[2], a[3]);
  expect(v[5], x0, 20, a[0], a[1]);
  // The space, 127 and 128 make no triangles; the line feed returns to the
  // line's start one line lower.
  expect(v[7], x0, 20 + h, a[0], a[1]);
  // B follows A at A's advance.
  const float* b = font.GetTexCoords('B');
  expect(v[13], x0 + w - 2 * sp, 20 + h, b[0], b[1]);
}

TEST_F(BitmapFont, CentringUsesTheViewport) {
  C_BitmapFont& font = AppFont();
  SIZE size{};
  font.GetTextExtent("Hello", &size);
  ASSERT_EQ(font.DrawText(0.0f, 0.0f, 0xFFFFFFFF, "Hello\nworld", C_BitmapFont::kCenterX | C_BitmapFont::kCenterY),
            S_OK);
  const auto v = LastBatch<FontVertex2D>(2);
  const float sp = static_cast<float>(font.GetSpacing());
  EXPECT_FLOAT_EQ(v[1].x, (640.0f - size.cx) / 2.0f - sp - 0.5f) << "the first line is centred";
  EXPECT_FLOAT_EQ(v[1].y, (480.0f - size.cy) / 2.0f - 0.5f);

  // Scaled: a line is yScale of the viewport's height, at depth z.
  ASSERT_EQ(font.DrawTextScaled(0.0f, -0.5f, 0.25f, 0.1f, 0.1f, 0xFFFFFFFF, "H"), S_OK);
  const auto s = LastBatch<FontVertex2D>(2);
  const float scale = 48.0f / static_cast<float>(size.cy);
  EXPECT_FLOAT_EQ(s[1].x, 320.0f - sp * scale - 0.5f);
  EXPECT_FLOAT_EQ(s[1].y, 120.0f - 0.5f);
  EXPECT_FLOAT_EQ(s[0].y - s[1].y, 48.0f);
  EXPECT_FLOAT_EQ(s[1].z, 0.25f);
}

TEST_F(BitmapFont, ThreeDimensionalTextLiesInThePlaneFacingTheViewer) {
  C_BitmapFont& font = AppFont();
  SIZE size{};
  font.GetTextExtent("Hi", &size);
  ASSERT_EQ(font.Render3DText("Hi", C_BitmapFont::kCenterX | C_BitmapFont::kCenterY | C_BitmapFont::kTwoSided), S_OK);
  const auto v = LastBatch<FontVertex3D>(12);
  const float sp = static_cast<float>(font.GetSpacing()) / 10.0f;
  EXPECT_FLOAT_EQ(v[1].position.x, -size.cx / 20.0f - sp);
  EXPECT_FLOAT_EQ(v[1].position.y, size.cy / 20.0f);
  EXPECT_FLOAT_EQ(v[0].position.y, size.cy / 20.0f - size.cy / 10.0f) << "a line is its height in tenths";
  for (const FontVertex3D& p : v) {
    EXPECT_EQ(p.position.z, 0.0f);
    EXPECT_EQ(p.normal.z, -1.0f);
  }
}

TEST_F(BitmapFont, GlyphsAreDrawnInBatchesOfFifty) {
  C_BitmapFont& font = AppFont();
  ASSERT_EQ(m_dev->BeginScene(), D3D_OK);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(font.DrawText(0, 0, 0xFFFFFFFF, std::string(120, 'x').c_str()), S_OK);
  EXPECT_EQ(DrawCounts(), (std::vector<int>{100, 100, 40}));
  platform::test::ClearD3D9CallLog();
  ASSERT_EQ(font.DrawText(0, 0, 0xFFFFFFFF, std::string(200, 'W').c_str()), S_OK);
  EXPECT_EQ(DrawCounts(), (std::vector<int>{100, 100, 100, 100})) << "no final draw";
  platform::test::ClearD3D9CallLog();
  ASSERT_EQ(font.DrawText(0, 0, 0xFFFFFFFF, "a b  c\x7F"), S_OK);
  EXPECT_EQ(DrawCounts(), (std::vector<int>{6})) << "spaces and 127 make no triangles";
  platform::test::ClearD3D9CallLog();
  ASSERT_EQ(font.DrawText(0, 0, 0xFFFFFFFF, ""), S_OK);
  EXPECT_TRUE(DrawCounts().empty());
  platform::test::StopD3D9CallLog();
  EXPECT_EQ(m_dev->EndScene(), D3D_OK);
}

TEST_F(BitmapFont, DeviceStateAfterDrawingEqualsTheStateBefore) {
  C_BitmapFont& font = AppFont(12, C_BitmapFont::kBold | C_BitmapFont::kDepthTest);
  // A state unlike the font's own.
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(m_dev->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
  ASSERT_EQ(m_dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
  m_dev->SetStreamSource(0, vb, 4, 20);
  m_dev->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  m_dev->SetTexture(0, texture);
  m_dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  m_dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHASAT);
  m_dev->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
  m_dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  m_dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  m_dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);

  ASSERT_EQ(m_dev->BeginScene(), D3D_OK);
  const auto before = platform::test::SnapshotState(m_dev);
  const std::string text = std::string(60, 'g') + "\nFPS:60";
  for (DWORD flags : {0u, C_BitmapFont::kCenterX | C_BitmapFont::kCenterY | C_BitmapFont::kFiltered}) {
    ASSERT_EQ(font.DrawText(2, 2, 0xFFFFFF00, text.c_str(), flags), S_OK);
    EXPECT_EQ(platform::test::DiffStates(before, platform::test::SnapshotState(m_dev)), std::vector<std::string>{});
    ASSERT_EQ(font.DrawTextScaled(-1, -1, 0.5f, 0.05f, 0.05f, 0xFF00FF00, text.c_str(), flags), S_OK);
    EXPECT_EQ(platform::test::DiffStates(before, platform::test::SnapshotState(m_dev)), std::vector<std::string>{});
    ASSERT_EQ(font.Render3DText(text.c_str(), flags | C_BitmapFont::kTwoSided), S_OK);
    EXPECT_EQ(platform::test::DiffStates(before, platform::test::SnapshotState(m_dev)), std::vector<std::string>{});
  }
  ASSERT_EQ(font.DrawText(2, 2, 0xFFFFFF00, ""), S_OK);
  EXPECT_EQ(platform::test::SnapshotState(m_dev), before);
  m_dev->EndScene();
  m_dev->SetStreamSource(0, nullptr, 0, 0);
  m_dev->SetTexture(0, nullptr);
  vb->Release();
  texture->Release();
}

TEST_F(BitmapFont, FailuresAreReportedAndLeakNothing) {
  {
    C_BitmapFont font("Arial", 12, C_BitmapFont::kBold);
    EXPECT_EQ(font.DrawText(0, 0, 0, "x"), E_FAIL) << "before the device objects";
    EXPECT_EQ(font.RestoreDevice(), E_FAIL);
    platform::test::FailCall("CreateFontA", E_FAIL);
    EXPECT_EQ(font.InitDeviceObjects(m_dev), E_FAIL);
    EXPECT_EQ(platform::test::InjectedFailureCount("CreateFontA"), 1);
    EXPECT_EQ(platform::test::LiveGdiObjects(), 0);
  }
  for (const char* gdiCall : {"CreateCompatibleDC", "CreateDIBSection"}) {
    C_BitmapFont font("Arial", 12, C_BitmapFont::kBold);
    platform::test::FailCall(gdiCall, E_FAIL);
    EXPECT_EQ(font.InitDeviceObjects(m_dev), E_FAIL) << gdiCall;
    EXPECT_EQ(platform::test::LiveGdiObjects(), 0);
  }
  {
    C_BitmapFont font("Arial", 12, C_BitmapFont::kBold);
    platform::test::FailCall("CreateTexture", E_OUTOFMEMORY);
    EXPECT_EQ(font.InitDeviceObjects(m_dev), E_OUTOFMEMORY);
    EXPECT_EQ(font.GetTexture(), nullptr);
  }
  {
    C_BitmapFont font("Arial", 12, C_BitmapFont::kBold);
    ASSERT_EQ(font.InitDeviceObjects(m_dev), S_OK);
    EXPECT_EQ(font.DrawText(0, 0, 0, "x"), E_FAIL) << "no vertex buffer yet";
    platform::test::FailCall("CreateVertexBuffer", D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(font.RestoreDevice(), D3DERR_OUTOFVIDEOMEMORY);
    ASSERT_EQ(font.RestoreDevice(), S_OK);
    EXPECT_EQ(font.DrawText(0, 0, 0, nullptr), E_FAIL);
    // A failed lock leaves the device state as it was.
    const auto before = platform::test::SnapshotState(m_dev);
    platform::test::FailCall("Lock", D3DERR_INVALIDCALL);
    EXPECT_EQ(font.DrawText(0, 0, 0, "x"), D3DERR_INVALIDCALL);
    EXPECT_EQ(platform::test::SnapshotState(m_dev), before);
  }
}

// --- Pixels ---------------------------------------------------------------------------

using BitmapFontPixels = BitmapFontTest;

TEST_F(BitmapFontPixels, RateTextIsYellowInsideItsExtentBox) {
  C_BitmapFont& font = AppFont();
  SIZE size{};
  ASSERT_EQ(font.GetTextExtent("FPS:60", &size), S_OK);
  ASSERT_EQ(m_dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  ASSERT_EQ(m_dev->BeginScene(), D3D_OK);
  ASSERT_EQ(font.DrawText(2.0f, 2.0f, 0xFFFFFF00, "FPS:60"), S_OK);
  ASSERT_EQ(m_dev->EndScene(), D3D_OK);
  const std::vector<std::uint32_t> px = Screen().argb;
  ASSERT_EQ(px.size(), 640u * 480u);
  int yellow = 0, stray = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const std::uint32_t p = px[y * 640 + x] & 0x00FFFFFF;
      if (!p) continue;
      const bool inside = x >= 2 && x < 2 + size.cx && y >= 2 && y < 2 + size.cy;
      const unsigned r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      if (!inside) {
        ++stray;
        continue;
      }
      EXPECT_EQ(r, g) << "yellow at " << x << "," << y;
      EXPECT_EQ(b, 0u);
      yellow += r >= 0x80;
    }
  EXPECT_GT(yellow, 40);
  EXPECT_EQ(stray, 0);
}

}  // namespace

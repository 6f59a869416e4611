// DCs, DIB sections, selection, deletion and the stored LOGFONT.
#include <gtest/gtest.h>

#include <cstring>

#include "gdi_util.h"
#include "platform/testing.h"
#include "platform/win_gdi.h"
#include "platform/win_kernel.h"

using gdi_test::Canvas;
using gdi_test::MakeFont;

namespace {

BITMAPINFO Info(int width, int height, WORD bits = 32, DWORD compression = BI_RGB) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bits;
  info.bmiHeader.biCompression = compression;
  return info;
}

class PlatformGdiObjects : public testing::Test {
 protected:
  void SetUp() override { gdi_test::PinPackageFonts(); }
  void TearDown() override { EXPECT_EQ(platform::test::LiveGdiObjects(), 0); }
};

TEST_F(PlatformGdiObjects, DibSectionsAreZeroFilledAndOnlyThirtyTwoBitRgb) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  for (int height : {-7, 7}) {
    BITMAPINFO info = Info(5, height);
    void* bits = reinterpret_cast<void*>(1);
    HBITMAP b = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(bits, nullptr);
    const auto* p = static_cast<const std::uint32_t*>(bits);
    for (int i = 0; i < 35; ++i) EXPECT_EQ(p[i], 0u);
    BITMAP record{};
    EXPECT_EQ(GetObjectA(b, sizeof record, &record), static_cast<int>(sizeof record));
    EXPECT_EQ(record.bmWidth, 5);
    EXPECT_EQ(record.bmHeight, 7);
    EXPECT_EQ(record.bmBitsPixel, 32);
    EXPECT_EQ(record.bmBits, bits);
    EXPECT_TRUE(DeleteObject(b));
  }
  struct Bad {
    BITMAPINFO info;
    UINT usage;
  } bad[] = {{Info(5, 5, 24), DIB_RGB_COLORS}, {Info(5, 5, 32, 3), DIB_RGB_COLORS}, {Info(0, 5), DIB_RGB_COLORS},
             {Info(5, 0), DIB_RGB_COLORS},     {Info(5, 5), 1},                      {Info(1 << 20, 1 << 20), 0}};
  for (const Bad& b : bad) {
    void* bits = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateDIBSection(dc, &b.info, b.usage, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
  }
  BITMAPINFO info = Info(5, 5);
  info.bmiHeader.biSize = 12;
  EXPECT_EQ(CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
  EXPECT_TRUE(DeleteDC(dc));
}

TEST_F(PlatformGdiObjects, SelectionReturnsThePreviousObjectAndGuardsDeletion) {
  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(a);
  BITMAPINFO info = Info(4, -4);
  HBITMAP bitmap = CreateDIBSection(a, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
  HFONT font = MakeFont(-12, "Arial");
  ASSERT_TRUE(a && b && bitmap && font);

  HGDIOBJ defaultBitmap = SelectObject(a, bitmap);
  ASSERT_NE(defaultBitmap, nullptr);
  EXPECT_EQ(SelectObject(b, bitmap), nullptr) << "a bitmap lives in one DC only";
  EXPECT_FALSE(DeleteObject(bitmap)) << "selected objects are not deleted";
  HGDIOBJ defaultFont = SelectObject(a, font);
  ASSERT_NE(defaultFont, nullptr);
  EXPECT_NE(SelectObject(b, font), nullptr) << "a font may be in many DCs";
  EXPECT_FALSE(DeleteObject(font));
  EXPECT_EQ(SelectObject(a, defaultFont), font);
  EXPECT_FALSE(DeleteObject(font)) << "still selected into the second DC";
  EXPECT_EQ(SelectObject(a, defaultBitmap), bitmap);
  EXPECT_NE(SelectObject(b, bitmap), nullptr) << "free again";
  EXPECT_GE(platform::test::DiagnosticCount("gdi.delete-selected"), 3);

  // Deleting a DC releases what it holds.
  EXPECT_TRUE(DeleteDC(b));
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap)) << "already gone";
  EXPECT_EQ(SelectObject(a, reinterpret_cast<HGDIOBJ>(a)), nullptr) << "a DC is not selectable";
  EXPECT_TRUE(DeleteDC(a));
  EXPECT_FALSE(DeleteDC(a));
  EXPECT_EQ(CreateCompatibleDC(a), nullptr) << "a deleted DC is no reference";
}

TEST_F(PlatformGdiObjects, DcStateCallsReturnThePreviousValue) {
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 96);
  EXPECT_EQ(SetMapMode(dc, MM_TEXT), MM_TEXT);
  EXPECT_EQ(SetMapMode(dc, 8), 0) << "other map modes are absent";
  EXPECT_EQ(SetTextColor(dc, 0x00FFFFFF), 0u);
  EXPECT_EQ(SetTextColor(dc, 0x123456), 0x00FFFFFFu);
  EXPECT_EQ(SetBkColor(dc, 0), 0x00FFFFFFu);
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetBkMode(dc, 7), 0);
  EXPECT_EQ(SetTextAlign(dc, TA_UPDATECP), TA_TOP | TA_LEFT);
  EXPECT_EQ(SetTextAlign(dc, 0), TA_UPDATECP);
  POINT previous{-1, -1};
  EXPECT_TRUE(MoveToEx(dc, 3, 4, &previous));
  EXPECT_EQ(previous.x, 0);
  EXPECT_TRUE(MoveToEx(dc, 0, 0, &previous));
  EXPECT_EQ(previous.y, 4);
  EXPECT_EQ(GetFontLanguageInfo(dc), 0u);
  DeleteDC(dc);
  EXPECT_EQ(SetTextColor(dc, 0), CLR_INVALID);
  EXPECT_EQ(SetTextAlign(dc, 0), GDI_ERROR);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 0);
}

TEST_F(PlatformGdiObjects, GetObjectGivesTheLogFontAsCreated) {
  LOGFONTW w{};
  w.lfHeight = -20;
  w.lfWeight = FW_BOLD;
  w.lfItalic = 1;
  w.lfCharSet = SHIFTJIS_CHARSET;
  w.lfQuality = NONANTIALIASED_QUALITY;
  const std::u16string face = u"Courier New \u65E5";
  std::copy(face.begin(), face.end(), w.lfFaceName);
  HFONT font = CreateFontIndirectW(&w);
  ASSERT_NE(font, nullptr);
  LOGFONTW backW{};
  EXPECT_EQ(GetObjectW(font, 0, nullptr), 92);
  EXPECT_EQ(GetObjectW(font, sizeof backW, &backW), 92);
  EXPECT_EQ(std::memcmp(&backW, &w, sizeof w), 0);
  LOGFONTA backA{};
  EXPECT_EQ(GetObjectA(font, 0, nullptr), 60);
  EXPECT_EQ(GetObjectA(font, sizeof backA, &backA), 60);
  EXPECT_EQ(backA.lfHeight, -20);
  EXPECT_EQ(backA.lfWeight, FW_BOLD);
  EXPECT_EQ(backA.lfCharSet, SHIFTJIS_CHARSET);
  EXPECT_STREQ(backA.lfFaceName, "Courier New \xE6\x97\xA5");
  EXPECT_EQ(GetObjectA(font, 8, &backA), 8) << "a short buffer takes what fits";
  DeleteObject(font);

  // A long UTF-8 name is cut at a character boundary, never inside one.
  std::string longName(29, 'x');
  longName += "\xE6\x97\xA5\xE6\x97\xA5";  // two three-byte characters: 35 bytes
  font = MakeFont(-12, longName.c_str());
  ASSERT_NE(font, nullptr);
  ASSERT_EQ(GetObjectA(font, sizeof backA, &backA), 60);
  EXPECT_EQ(std::string(backA.lfFaceName), std::string(29, 'x'));
  DeleteObject(font);
}

TEST_F(PlatformGdiObjects, InjectedFailuresFailTheCreations) {
  platform::test::FailCall("CreateCompatibleDC", E_FAIL);
  EXPECT_EQ(CreateCompatibleDC(nullptr), nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  platform::test::FailCall("CreateDIBSection", E_FAIL);
  BITMAPINFO info = Info(2, 2);
  EXPECT_EQ(CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
  platform::test::FailCall("CreateFontA", E_FAIL, {"Arial -16", 1, 1});
  HFONT other = MakeFont(-17, "Arial");
  EXPECT_NE(other, nullptr) << "the detail does not match";
  DeleteObject(other);
  EXPECT_EQ(MakeFont(-16, "Arial"), nullptr);
  EXPECT_EQ(platform::test::InjectedFailureCount("CreateFontA"), 1);
  platform::test::FailCall("ExtTextOutA", E_FAIL);
  EXPECT_FALSE(ExtTextOutA(dc, 0, 0, 0, nullptr, "a", 1, nullptr));
  DeleteDC(dc);
}

TEST_F(PlatformGdiObjects, ResetReclaimsEverything) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = MakeFont(-12, "Arial");
  SelectObject(dc, font);
  EXPECT_EQ(platform::test::LiveGdiObjects(), 2);
  platform::test::ResetAll();
  EXPECT_EQ(platform::test::LiveGdiObjects(), 0);
  EXPECT_FALSE(DeleteDC(dc)) << "handles of before the reset are dead";
}

}  // namespace

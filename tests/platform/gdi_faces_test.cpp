// Which files fonts resolve to: the substitution table, pinning, the font
// folder of whole-program runs, synthesised styles and the Japanese fallback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gdi_util.h"
#include "platform/testing.h"
#include "platform/win_gdi.h"
#include "tests/support/test_util.h"

using gdi_test::BaseName;
using gdi_test::Canvas;
using gdi_test::MakeFont;

namespace {

class PlatformGdiFaces : public testing::Test {
 protected:
  void SetUp() override { gdi_test::PinPackageFonts(); }

  static std::string FileOf(const char* face, int weight = FW_NORMAL, bool italic = false) {
    HFONT font = MakeFont(-16, face, weight, italic);
    if (!font) return "(none)";
    std::string file = BaseName(platform::test::FontFaceFiles(font).at(0));
    DeleteObject(font);
    return file;
  }
};

TEST_F(PlatformGdiFaces, CoreFacesMapToLiberationAndTheRestToDejaVu) {
  EXPECT_EQ(FileOf("Arial"), "LiberationSans-Regular.ttf");
  EXPECT_EQ(FileOf("arial"), "LiberationSans-Regular.ttf");
  EXPECT_EQ(FileOf("Arial", FW_BOLD), "LiberationSans-Bold.ttf");
  EXPECT_EQ(FileOf("Arial", 600), "LiberationSans-Bold.ttf");
  EXPECT_EQ(FileOf("Arial", 599), "LiberationSans-Regular.ttf");
  EXPECT_EQ(FileOf("Arial", FW_BOLD, true), "LiberationSans-BoldItalic.ttf");
  EXPECT_EQ(FileOf("Times New Roman"), "LiberationSerif-Regular.ttf");
  EXPECT_EQ(FileOf("Courier New", FW_NORMAL, true), "LiberationMono-Italic.ttf");
  EXPECT_EQ(FileOf(""), "DejaVuSans.ttf");
  EXPECT_EQ(FileOf("No Such Face"), "DejaVuSans.ttf");
  EXPECT_EQ(FileOf("DejaVu Serif", FW_BOLD), "DejaVuSerif-Bold.ttf") << "installed families are used by name";
}

TEST_F(PlatformGdiFaces, TheSubstitutionTableCanBeChangedUntilTheReset) {
  platform::test::SetFontSubstitute("ARIAL", "DejaVu Serif");
  platform::test::SetFontSubstitute("Tahoma", "Liberation Mono");
  EXPECT_EQ(FileOf("Arial"), "DejaVuSerif.ttf");
  EXPECT_EQ(FileOf("tahoma"), "LiberationMono-Regular.ttf");
  platform::test::SetFontSubstitute("Tahoma", "");
  EXPECT_EQ(FileOf("Tahoma"), "DejaVuSans.ttf");
  platform::test::ResetAll();
  gdi_test::PinPackageFonts();
  EXPECT_EQ(FileOf("Arial"), "LiberationSans-Regular.ttf");
}

TEST_F(PlatformGdiFaces, PinnedFilesAreTheOnlyFaces) {
  HFONT before = MakeFont(-16, "Arial");
  platform::test::PinFontFaces({std::string(gdi_test::kDejaVuDir) + "/DejaVuSansMono.ttf"});
  EXPECT_EQ(FileOf("Arial"), "DejaVuSansMono.ttf");
  EXPECT_EQ(FileOf("Times New Roman", FW_BOLD), "DejaVuSansMono.ttf");
  EXPECT_EQ(BaseName(platform::test::FontFaceFiles(before).at(0)), "LiberationSans-Regular.ttf")
      << "fonts keep the face they were made with";
  DeleteObject(before);

  platform::test::PinFontFaces({"/nonexistent-folder"});
  EXPECT_EQ(MakeFont(-16, "Arial"), nullptr) << "no face at all fails the creation";
}

TEST_F(PlatformGdiFaces, TheFontFolderVariableRestrictsWholeRuns) {
  nura::test::TempDir dir;
  std::filesystem::copy_file(std::string(gdi_test::kLiberationDir) + "/LiberationSerif-Bold.ttf",
                             dir / "only.ttf");
  const char* previous = std::getenv("PLATFORM_FONT_DIR");
  const std::string saved = previous ? previous : "";
  setenv("PLATFORM_FONT_DIR", dir.path().c_str(), 1);
  platform::test::ResetAll();  // takes the variable
  EXPECT_EQ(FileOf("Arial"), "only.ttf");
  EXPECT_EQ(FileOf(""), "only.ttf");
  if (previous)
    setenv("PLATFORM_FONT_DIR", saved.c_str(), 1);
  else
    unsetenv("PLATFORM_FONT_DIR");
  platform::test::ResetAll();
}

// Columns holding ink in the rows [top, bottom) of a canvas.
std::pair<int, int> InkColumns(const Canvas& c, int top, int bottom) {
  int lo = c.width(), hi = -1;
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < c.width(); ++x)
      if ((c.At(x, y) & 0xFF) > 128) lo = std::min(lo, x), hi = std::max(hi, x);
  return {lo, hi};
}

TEST_F(PlatformGdiFaces, MissingBoldAndItalicAreSynthesised) {
  platform::test::PinFontFaces({std::string(gdi_test::kDejaVuDir) + "/DejaVuSans.ttf"});
  auto draw = [](Canvas& c, int weight, bool italic) {
    c.Use(MakeFont(-40, "Arial", weight, italic));
    SetTextColor(c.dc(), 0x00FFFFFF);
    SetBkColor(c.dc(), 0);
    ExtTextOutA(c.dc(), 10, 2, ETO_OPAQUE, nullptr, "l", 1, nullptr);
  };
  Canvas regular(60, 60), bold(60, 60), italic(60, 60);
  draw(regular, FW_NORMAL, false);
  draw(bold, FW_BOLD, false);
  draw(italic, FW_NORMAL, true);
  for (Canvas* c : {&regular, &bold, &italic})
    EXPECT_EQ(BaseName(platform::test::FontFaceFiles(c->font()).at(0)), "DejaVuSans.ttf");

  SIZE r{}, b{};
  GetTextExtentPoint32A(regular.dc(), "l", 1, &r);
  GetTextExtentPoint32A(bold.dc(), "l", 1, &b);
  EXPECT_GT(b.cx, r.cx) << "emboldening widens the advance";
  const auto [rLo, rHi] = InkColumns(regular, 0, 60);
  const auto [bLo, bHi] = InkColumns(bold, 0, 60);
  EXPECT_GT(bHi - bLo, rHi - rLo) << "and the stem";

  // A sheared stem leans right: its top lies right of its bottom.
  const auto [tLo, tHi] = InkColumns(italic, 5, 15);
  const auto [uLo, uHi] = InkColumns(italic, 30, 40);
  EXPECT_GE(tLo - uLo, 3);
  const auto [rtLo, rtHi] = InkColumns(regular, 5, 15);
  const auto [ruLo, ruHi] = InkColumns(regular, 30, 40);
  EXPECT_EQ(rtLo, ruLo) << "the upright stem does not lean";
}

TEST_F(PlatformGdiFaces, JapaneseTextFallsBackToAJapaneseFace) {
  Canvas c(80, 40);
  c.Use(MakeFont(-20, "Arial"));
  WCHAR glyphs[2] = {};
  GCP_RESULTSW r{};
  r.lStructSize = sizeof r;
  r.lpGlyphs = glyphs;
  r.nGlyphs = 2;
  ASSERT_NE(GetCharacterPlacementW(c.dc(), u"A\u3042", 2, 0, &r, 0), 0u);
  EXPECT_NE(glyphs[0], 0);
  EXPECT_NE(glyphs[1], 0) << "hiragana comes from the fallback";
  const std::vector<std::string> files = platform::test::FontFaceFiles(c.font());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(BaseName(files[0]), "LiberationSans-Regular.ttf");
  EXPECT_EQ(BaseName(files[1]), "ipag.ttf");

  SetTextColor(c.dc(), 0x00FFFFFF);
  SetBkColor(c.dc(), 0);
  ASSERT_TRUE(ExtTextOutW(c.dc(), 0, 0, ETO_OPAQUE, nullptr, u"\u3042", 1, nullptr));
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32W(c.dc(), u"\u3042", 1, &size));
  EXPECT_GE(size.cx, 15) << "a full-width character";
  const auto [lo, hi] = InkColumns(c, 0, 40);
  EXPECT_GE(hi - lo, 10);

  // Without a Japanese face the character has the missing glyph.
  platform::test::PinFontFaces({gdi_test::kLiberationDir});
  Canvas d(8, 8);
  d.Use(MakeFont(-20, "Arial"));
  ASSERT_NE(GetCharacterPlacementW(d.dc(), u"A\u3042", 2, 0, &r, 0), 0u);
  EXPECT_EQ(glyphs[1], 0);
  EXPECT_EQ(platform::test::FontFaceFiles(d.font()).size(), 1u);
}

TEST_F(PlatformGdiFaces, ShiftJisFontsOfUnknownFacesStillDrawJapanese) {
  Canvas c(8, 8);
  c.Use(MakeFont(-16, "MS Gothic", FW_NORMAL, false, ANTIALIASED_QUALITY, SHIFTJIS_CHARSET));
  TEXTMETRICW tm{};
  ASSERT_TRUE(GetTextMetricsW(c.dc(), &tm));
  EXPECT_EQ(tm.tmCharSet, SHIFTJIS_CHARSET);
  WCHAR glyph = 0;
  GCP_RESULTSW r{};
  r.lStructSize = sizeof r;
  r.lpGlyphs = &glyph;
  r.nGlyphs = 1;
  ASSERT_NE(GetCharacterPlacementW(c.dc(), u"\u65E5", 1, 0, &r, 0), 0u);
  EXPECT_NE(glyph, 0);
}

}  // namespace

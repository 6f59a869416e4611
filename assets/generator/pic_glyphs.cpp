// Glyph sheets: the small digits and letters, the big digits with the grade
// symbols, the name letters of the status panel and the name-entry keys.
// Cell positions follow the source rectangles the scenes cut.
#include <algorithm>
#include <string>

#include "assets/generator/pictures.h"

namespace assetgen {

namespace {

using namespace palette;

// Renders one character and draws it centred in the cell, squeezed to fit.
void DrawCellGlyph(Canvas& c, const TextStyle& base, const std::string& ch, float cx, float cy, float maxInkWidth,
                   const TextLook& look) {
  TextStyle style = base;
  TextRun run = RenderText(style, ch, 6);
  if (run.inkWidth() > maxInkWidth) {
    style.xscale = base.xscale * maxInkWidth / run.inkWidth();
    run = RenderText(style, ch, 6);
  }
  DrawText(c, run, cx, cy, Anchor::Center, look);
}

TextLook SmallLook(bool highlighted) {
  TextLook l;
  l.fill = highlighted ? Paint::Vertical(0, 12, {{0, Hex(0xFFF3A0)}, {1, kSun}})
                       : Paint::Vertical(0, 12, {{0, kWhite}, {1, Hex(0xCFE9FF)}});
  l.outline = 1.0f;
  l.outlineColor = highlighted ? Hex(0x5A2A00) : kInk;
  return l;
}

// "number.png": 10 x 20 cells. Row 0 digits and separator, row 1 A-N, row 2
// O-Z from column 1 and the two page buttons; rows 3-5 the highlighted style.
// Glyphs keep clear of each cell's last column and row, which some draws cut.
void MakeNumberSheet(Output& out, const Fonts& fonts) {
  Canvas c(256, 128);
  TextStyle style{&fonts.sansBold, 15.0f, 0, 0.92f};
  for (int hi = 0; hi < 2; ++hi) {
    TextLook look = SmallLook(hi == 1);
    int rowBase = hi * 3;
    auto cell = [&](int col, int row, const std::string& ch) {
      DrawCellGlyph(c, style, ch, 10.0f * col + 4.5f, 20.0f * (row + rowBase) + 9.5f, 6.5f, look);
    };
    for (int d = 0; d < 10; ++d) cell(d, 0, std::string(1, static_cast<char>('0' + d)));
    cell(10, 0, ":");
    for (int i = 0; i < 14; ++i) cell(i, 1, std::string(1, static_cast<char>('A' + i)));
    for (int i = 0; i < 12; ++i) cell(i + 1, 2, std::string(1, static_cast<char>('O' + i)));

    // Page buttons, 40 x 20 each at x 132 and 172 of row 2.
    for (int b = 0; b < 2; ++b) {
      float x0 = 132.0f + 40 * b, y0 = 20.0f * (2 + rowBase);
      Sdf box = sdf::Box(x0 + 1, y0 + 1, x0 + 39, y0 + 19, 5);
      Paint face = hi ? Paint::Vertical(y0, y0 + 20, {{0, Hex(0xFFF3A0)}, {1, kSun}})
                      : Paint::Vertical(y0, y0 + 20, {{0, Hex(0x4A66B8)}, {1, kDeep}});
      c.FillOutlined(sdf::Grow(box, -1), face, hi ? Hex(0x5A2A00) : kInk, 1.0f);
      Rgba ink = hi ? kInk : kWhite;
      float ax = b == 0 ? x0 + 8 : x0 + 32, dir = b == 0 ? -1.0f : 1.0f;
      c.Fill(sdf::Polygon({{ax + dir * 4, y0 + 10}, {ax - dir * 3, y0 + 5}, {ax - dir * 3, y0 + 15}}), ink);
      TextLook tl;
      tl.fill = ink;
      DrawText(c, TextStyle{&fonts.sansBold, 9.0f, 0, 0.9f}, b == 0 ? "BACK" : "NEXT", b == 0 ? x0 + 24 : x0 + 16,
               y0 + 10, Anchor::Center, tl);
    }
  }
  out.Picture("cg/number.png", c);
}

// "BigNumber.png": 30 x 40 cells: digits, separator, and the grade symbols of
// grades 0, 1, 2 in cells 11 to 13.
void MakeBigNumberSheet(Output& out, const Fonts& fonts) {
  Canvas c(512, 64);
  TextStyle style{&fonts.sansBold, 40.0f, 0, 0.9f};
  TextLook look;
  look.fill = Paint::Vertical(0, 29, {{0, kWhite}, {0.45f, Hex(0xFFF0A0)}, {1, kSun}});
  look.outline = 2.5f;
  look.outlineColor = kInk;
  for (int d = 0; d < 10; ++d)
    DrawCellGlyph(c, style, std::string(1, static_cast<char>('0' + d)), 30.0f * d + 14.5f, 19.5f, 21, look);
  DrawCellGlyph(c, style, ":", 30.0f * 10 + 14.5f, 19.5f, 21, look);

  struct Grade {
    const char* text;
    Rgba top, bottom, rim;
  };
  const Grade grades[3] = {{"A", Hex(0xFFF7B0), Hex(0xFFB000), Hex(0x7A3B00)},
                           {"B", Hex(0xF2FBFF), Hex(0x8FC6E8), Hex(0x1E3A6E)},
                           {"C", Hex(0xFFD9B8), Hex(0xD07A3A), Hex(0x4A1E00)}};
  for (int g = 0; g < 3; ++g) {
    float cx = 30.0f * (11 + g) + 14.5f, cy = 19.5f;
    // A round medal behind the letter.
    c.FillOutlined(sdf::Circle(cx, cy, 12.8f), Paint::Vertical(cy - 13, cy + 13, {{0, grades[g].top}, {1, grades[g].bottom}}),
                   grades[g].rim, 1.2f);
    c.Fill(sdf::Ring(cx, cy, 10.4f, 1.0f), WithAlpha(kWhite, 0.55f));
    TextLook gl;
    gl.fill = grades[g].rim;
    gl.outline = 1.0f;
    gl.outlineColor = WithAlpha(kWhite, 0.8f);
    DrawCellGlyph(c, TextStyle{&fonts.sansBold, 24.0f, 0, 1.0f}, grades[g].text, cx, cy, 17, gl);
  }
  out.Picture("cg/BigNumber.png", c);
}

// "TimeName.png": the name letters of the status panel, 10 px apart in three
// bands starting at y 0, 19 and 38 (A-I, J-R, S-Z).
void MakeTimeNameSheet(Output& out, const Fonts& fonts) {
  Canvas c(128, 64);
  TextStyle style{&fonts.sansBold, 13.0f, 0, 0.92f};
  TextLook look;
  look.fill = Paint::Vertical(0, 10, {{0, Hex(0xFFF3A0)}, {1, kSun}});
  look.outline = 1.0f;
  look.outlineColor = kInk;
  for (int i = 0; i < 26; ++i) {
    int band = i < 9 ? 0 : (i < 18 ? 1 : 2);
    int col = i - band * 9;
    DrawCellGlyph(c, style, std::string(1, static_cast<char>('A' + i)), 10.0f * col + 4.5f, 19.0f * band + 7.5f, 6.5f,
                  look);
  }
  out.Picture("cg/TimeName.png", c);
}

// "NameEntry.png": 26 key caps of 48 x 96, A to Z from the left.
void MakeNameEntrySheet(Output& out, const Fonts& fonts) {
  Canvas c(2048, 128);
  TextStyle style{&fonts.sansBold, 46.0f, 0, 1.0f};
  TextLook look;
  look.fill = Paint::Vertical(0, 34, {{0, Hex(0x2E5BD8)}, {1, kNight}});
  look.shadowDx = 0;
  look.shadowDy = 2;
  look.shadowColor = WithAlpha(kWhite, 0.9f);
  for (int i = 0; i < 26; ++i) {
    float x0 = 48.0f * i;
    // Key body with a darker base that reads as depth.
    c.Fill(sdf::Box(x0 + 1, 3, x0 + 46, 94, 9), Hex(0x1F6B3A));
    c.Fill(sdf::Box(x0 + 2, 4, x0 + 45, 88, 8),
           Paint::Vertical(4, 88, {{0, kWhite}, {0.6f, kCream}, {1, Hex(0xE8F5D8)}}));
    c.Fill(sdf::Stroke(sdf::Box(x0 + 4, 6, x0 + 43, 86, 6), 1.0f), WithAlpha(Hex(0x9AD8A0), 0.8f));
    DrawCellGlyph(c, style, std::string(1, static_cast<char>('A' + i)), x0 + 23.5f, 46, 34, look);
  }
  out.Picture("cg/NameEntry.png", c);
}

}  // namespace

TextLook HeadlineLook(float outline, float height, std::vector<ColorStop> fill) {
  TextLook l;
  l.fill = Paint::Vertical(0, height, std::move(fill));
  l.outline = outline;
  l.outlineColor = palette::kInk;
  l.outline2 = outline * 0.6f;
  l.outline2Color = palette::kWhite;
  l.shadowDx = 2;
  l.shadowDy = 3;
  l.shadowBlur = 2;
  l.shadowColor = WithAlpha(palette::kInk, 0.6f);
  return l;
}

TextLook LabelLook(Rgba color) {
  TextLook l;
  l.fill = color;
  return l;
}

void MakeGlyphSheets(Output& out, const Fonts& fonts) {
  MakeNumberSheet(out, fonts);
  MakeBigNumberSheet(out, fonts);
  MakeTimeNameSheet(out, fonts);
  MakeNameEntrySheet(out, fonts);
}

}  // namespace assetgen

// Menu strings and play messages: the title menu rows (plain and highlighted),
// the continue question, the banners of the start, miss and clear sequences,
// and the clear screen's panel, balloon and grade messages.
#include <string>

#include "assets/generator/pictures.h"

namespace assetgen {

namespace {

using namespace palette;

TextLook PlainRowLook() {
  TextLook l;
  l.fill = Paint::Vertical(0, 16, {{0, kWhite}, {1, Hex(0xC9DBFF)}});
  l.outline = 1.6f;
  l.outlineColor = kInk;
  return l;
}

TextLook HighlightRowLook() {
  TextLook l;
  l.fill = Paint::Vertical(0, 16, {{0, Hex(0xFFFBD0)}, {0.5f, kSun}, {1, kOrange}});
  l.outline = 1.6f;
  l.outlineColor = Hex(0x4A1A00);
  l.glow = 3;
  l.glowColor = WithAlpha(kSun, 0.55f);
  return l;
}

// Draws a menu row pair: plain at y, highlighted at y + 28, centred at cx and
// squeezed to at most maxWidth so the arrow marks stay inside the picture.
void MenuRow(Canvas& c, const Fonts& fonts, const std::string& text, float cx, float y, float maxWidth) {
  TextStyle style{&fonts.sansBold, 21.0f, 1.0f, 1.0f};
  TextRun run = RenderText(style, text, 8);
  if (run.inkWidth() > maxWidth) {
    style.xscale = maxWidth / run.inkWidth();
    run = RenderText(style, text, 8);
  }
  DrawText(c, run, cx, y + 14, Anchor::Center, PlainRowLook());
  // The highlighted row: a soft bar behind the text and arrow marks beside it.
  float hy = y + 28;
  c.Fill(sdf::Box(cx - 118, hy + 3, cx + 118, hy + 25, 11),
         Paint::Linear(cx - 118, 0, cx + 118, 0,
                       {{0, WithAlpha(kSky, 0)}, {0.3f, WithAlpha(kSky, 0.35f)}, {0.7f, WithAlpha(kSky, 0.35f)},
                        {1, WithAlpha(kSky, 0)}}));
  DrawText(c, run, cx, hy + 14, Anchor::Center, HighlightRowLook());
  float half = run.inkWidth() / 2.0f + 12;
  for (int side = -1; side <= 1; side += 2) {
    float ax = cx + side * half;
    c.FillOutlined(sdf::Polygon({{ax - side * 5.0f, hy + 7}, {ax + side * 4.0f, hy + 14}, {ax - side * 5.0f, hy + 21}}),
                   kSun, Hex(0x4A1A00), 1.2f);
  }
}

void MakeTitleStrings(Output& out, const Fonts& fonts) {
  {
    Canvas c(256, 128);
    // Drawn at (220, 170 + 100 i): x 100 is the menu box's middle.
    MenuRow(c, fonts, "COURSE PLAY", 100, 0, 160);
    MenuRow(c, fonts, "STAGE SELECT", 100, 56, 160);
    out.Picture("cg/TitleString.png", c);
  }
  {
    Canvas c(256, 256);
    // Drawn at (230, 170 + 60 i): x 90 is the menu box's middle.
    MenuRow(c, fonts, "1 : EASY", 90, 0, 140);
    MenuRow(c, fonts, "2 : NORMAL", 90, 56, 140);
    MenuRow(c, fonts, "3 : HARD", 90, 112, 140);
    out.Picture("cg/TitleString2.png", c);
  }
}

// "ContinueString.png": the question in row 0 (300 wide), then YES and NO of
// 91 x 28 each, plain in row 1 and selected in row 2.
void MakeContinueString(Output& out, const Fonts& fonts) {
  Canvas c(512, 128);
  TextLook q = HeadlineLook(1.8f, 18, {{0, kWhite}, {1, Hex(0xBFE8FF)}});
  q.shadowColor = {};
  DrawText(c, TextStyle{&fonts.sansBold, 22.0f, 1.0f, 1.0f}, "CONTINUE ?", 140, 14, Anchor::Center, q);
  const char* words[2] = {"YES", "NO"};
  for (int sel = 0; sel < 2; ++sel)
    for (int w = 0; w < 2; ++w) {
      float x0 = 91.0f * w, y0 = 28.0f * (sel + 1);
      float cx = x0 + 45.5f, cy = y0 + 14;
      if (sel) {
        c.FillOutlined(sdf::Box(x0 + 6, y0 + 2, x0 + 85, y0 + 26, 11),
                       Paint::Vertical(y0, y0 + 28, {{0, Hex(0xFFF3A0)}, {1, kOrange}}), Hex(0x4A1A00), 1.2f);
        TextLook l;
        l.fill = kInk;
        DrawText(c, TextStyle{&fonts.sansBold, 18.0f, 1.0f, 1.0f}, words[w], cx, cy, Anchor::Center, l);
      } else {
        c.Fill(sdf::Stroke(sdf::Box(x0 + 7, y0 + 3, x0 + 84, y0 + 25, 10), 1.2f), WithAlpha(kWhite, 0.45f));
        TextLook l;
        l.fill = Hex(0xB8C4DE);
        DrawText(c, TextStyle{&fonts.sansBold, 18.0f, 1.0f, 1.0f}, words[w], cx, cy, Anchor::Center, l);
      }
    }
  out.Picture("cg/ContinueString.png", c);
}

// A banner word centred at (cx, cy) with a streak behind it, for the pictures
// that fly across the field.
void Banner(Canvas& c, const Fonts& fonts, const std::string& text, float cx, float cy, float size,
            std::vector<ColorStop> fill, Rgba streak) {
  c.Fill(sdf::Box(4, cy - 16, c.width() - 4.0f, cy + 16, 16),
         Paint::Linear(0, 0, static_cast<float>(c.width()), 0,
                       {{0, WithAlpha(streak, 0)}, {0.25f, WithAlpha(streak, 0.55f)}, {0.75f, WithAlpha(streak, 0.55f)},
                        {1, WithAlpha(streak, 0)}}));
  TextStyle style{&fonts.sansBold, size, 1.5f, 1.0f};
  TextRun run = RenderText(style, text, 14);
  DrawText(c, run, cx, cy, Anchor::Center, HeadlineLook(3.0f, static_cast<float>(run.inkHeight()), std::move(fill)));
}

void MakeMessages(Output& out, const Fonts& fonts) {
  const std::vector<ColorStop> warm = {{0, Hex(0xFFFBD0)}, {0.5f, kSun}, {1, kOrange}};
  const std::vector<ColorStop> cool = {{0, kWhite}, {0.5f, Hex(0xA8F0FF)}, {1, kSky}};
  const std::vector<ColorStop> hot = {{0, Hex(0xFFE0EA)}, {0.5f, Hex(0xFF7AA6)}, {1, kBerry}};
  {
    Canvas c(256, 128);
    Banner(c, fonts, "READY", 128, 40, 46, cool, kDeep);
    out.Picture("cg/ready.png", c);
  }
  for (int n = 1; n <= 3; ++n) {
    // The count-down digit is centred on the field's middle (40, 40 from the
    // picture's corner at its drawn position).
    Canvas c(128, 128);
    c.Fill(sdf::Circle(40, 40, 36), Paint::Radial(40, 40, 36, {{0, WithAlpha(kDeep, 0.75f)}, {1, WithAlpha(kNight, 0.85f)}}));
    c.Fill(sdf::Ring(40, 40, 35, 3), kSky);
    c.Fill(sdf::Ring(40, 40, 30, 1), WithAlpha(kSky, 0.5f));
    TextStyle style{&fonts.sansBold, 60.0f, 0, 1.0f};
    TextRun run = RenderText(style, std::to_string(n), 14);
    DrawText(c, run, 40, 40, Anchor::Center, HeadlineLook(3.0f, static_cast<float>(run.inkHeight()), warm));
    out.Picture("cg/count" + std::to_string(n) + ".png", c);
  }
  {
    Canvas c(256, 128);
    Banner(c, fonts, "CLEAR!", 128, 40, 48, warm, kMint);
    out.Picture("cg/clear.png", c);
  }
  {
    Canvas c(256, 128);
    Banner(c, fonts, "MISS!", 128, 40, 48, hot, Hex(0x5A0A2A));
    out.Picture("cg/miss.png", c);
  }
  {
    Canvas c(256, 128);
    Banner(c, fonts, "TIME UP", 128, 40, 42, hot, Hex(0x5A0A2A));
    out.Picture("cg/timeup.png", c);
  }
  {
    Canvas c(256, 64);
    TextStyle style{&fonts.sansBold, 34.0f, 2.0f, 1.0f};
    TextRun run = RenderText(style, "GAME OVER", 12);
    TextLook look = HeadlineLook(2.5f, static_cast<float>(run.inkHeight()), hot);
    DrawText(c, run, 128, 30, Anchor::Center, look);
    out.Picture("cg/gameover.png", c);
  }
}

// The clear screen: score panel with its three labels, the speech balloon and
// the grade messages (three rows of 28 px).
void MakeClearScreen(Output& out, const Fonts& fonts) {
  {
    Canvas c(512, 256);
    // Numbers land at (50, 45), (50, 125) and (50, 205) from the panel's corner.
    c.Fill(sdf::Box(6, 6, 386, 256, 18), WithAlpha(kInk, 0.5f));
    c.FillOutlined(sdf::Box(2, 2, 380, 250, 16),
                   Paint::Vertical(0, 250, {{0, WithAlpha(Hex(0x2C4590), 0.94f)}, {1, WithAlpha(kNight, 0.94f)}}), kSky,
                   2.0f);
    c.Fill(sdf::Stroke(sdf::Box(7, 7, 375, 245, 12), 1.0f), WithAlpha(kWhite, 0.25f));
    const char* labels[3] = {"STAGE TIME", "TOTAL TIME", "RANK"};
    for (int i = 0; i < 3; ++i) {
      float y = 80.0f * i;
      c.Fill(sdf::Box(20, y + 22, 150, y + 40, 9), WithAlpha(kSky, 0.9f));
      TextLook l;
      l.fill = kInk;
      DrawText(c, TextStyle{&fonts.sansBold, 13.0f, 1.0f, 1.0f}, labels[i], 85, y + 31, Anchor::Center, l);
      if (i < 2) c.Fill(sdf::Box(40, y + 88, 340, y + 89.5f), WithAlpha(kSky, 0.35f));
    }
    out.Picture("cg/ScoreScreen.png", c);
  }
  {
    // The balloon is drawn at (120, 50); the message row lands at (70, 38)
    // inside it, 256 x 28. Its tail points down-left to the hero.
    Canvas c(512, 128);
    Sdf body = sdf::Union(sdf::Box(12, 8, 400, 92, 30),
                          sdf::Polygon({{60, 80}, {96, 84}, {36, 122}}));
    c.Fill([body](float x, float y) { return body(x - 4, y - 4) - 2; }, WithAlpha(kInk, 0.3f));
    c.Fill(sdf::Grow(body, 2.5f), kInk);
    c.Fill(body, Paint::Vertical(8, 92, {{0, kWhite}, {1, kCream}}));
    c.Fill(sdf::Capsule(40, 20, 110, 20, 3), WithAlpha(kWhite, 0.9f));
    out.Picture("cg/balloon.png", c);
  }
  {
    Canvas c(256, 128);
    // The grade stamp wipes in from the left, at most 255 px wide.
    const char* msgs[3] = {"すごい！ さいこうのタイム！", "いいね！ そのちょうし！", "クリア！ つぎはもっと速く！"};
    const Rgba colors[3] = {Hex(0xD04A00), Hex(0x1E5AB0), Hex(0x3A7A2A)};
    for (int g = 0; g < 3; ++g) {
      TextLook l;
      l.fill = colors[g];
      l.outline = 0.6f;
      l.outlineColor = WithAlpha(colors[g], 0.5f);
      TextStyle style{&fonts.gothic, 18.0f, 0, 1.0f};
      TextRun run = RenderText(style, msgs[g], 4);
      if (run.inkWidth() > 244) {
        style.xscale = 244.0f / run.inkWidth();
        run = RenderText(style, msgs[g], 4);
      }
      DrawText(c, run, 5, 28.0f * g + 14, Anchor::CenterLeft, l);
    }
    out.Picture("cg/BalloonMessage.png", c);
  }
}

}  // namespace

void MakeMenuPictures(Output& out, const Fonts& fonts) {
  MakeTitleStrings(out, fonts);
  MakeContinueString(out, fonts);
  MakeMessages(out, fonts);
  MakeClearScreen(out, fonts);
}

}  // namespace assetgen

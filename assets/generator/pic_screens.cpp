// Pictures of the screens around play: the maker's logo, the title, the hero
// "Nura", the ending scenes and the name-entry button and belt.
#include <cmath>
#include <algorithm>
#include <functional>
#include <string>
#include <tuple>

#include "assets/generator/pictures.h"

namespace assetgen {

namespace {

using namespace palette;

Sdf Moved(const Sdf& s, float dx, float dy) {
  return [s, dx, dy](float x, float y) { return s(x - dx, y - dy); };
}

void Sparkle(Canvas& c, float x, float y, float r, Rgba color) {
  Sdf s = sdf::Star(x, y, r, r * 0.28f, 4);
  c.FillGlow(sdf::Circle(x, y, r * 0.3f), r * 0.9f, WithAlpha(color, 0.5f), Around(x, y, r * 1.4f));
  c.Fill(s, color, Around(x, y, r));
}

// ---- Maker's logo (only ever stored scrambled) -------------------------------

void MakeLogo(Output& out, const Fonts& fonts) {
  Canvas c(256, 256);
  const float cx = 128, cy = 100;
  c.FillGlow(sdf::Box(cx - 62, cy - 62, cx + 62, cy + 62, 26), 14, WithAlpha(kSky, 0.35f));
  c.FillOutlined(sdf::Box(cx - 60, cy - 60, cx + 60, cy + 60, 26),
                 Paint::Vertical(cy - 60, cy + 60, {{0, Hex(0x31509E)}, {1, kNight}}), kSky, 3);
  // An orbit around a drop-shaped ball: the studio's mark.
  c.Fill(sdf::Stroke(sdf::Ellipse(cx, cy + 4, 46, 18), 3), WithAlpha(kMint, 0.9f));
  Sdf drop = sdf::Union(sdf::Circle(cx, cy + 8, 24), sdf::Polygon({{cx - 17, cy - 9}, {cx, cy - 40}, {cx + 17, cy - 9}}));
  c.Fill(sdf::Grow(drop, 2.5f), kInk);
  c.Fill(drop, Paint::Radial(cx - 8, cy - 4, 34, {{0, Hex(0xFFF6C0)}, {0.5f, kSun}, {1, kOrange}}));
  c.Fill(sdf::Ellipse(cx - 9, cy - 2, 5, 8), WithAlpha(kWhite, 0.8f));
  // The front half of the orbit passes over the drop.
  c.Fill(sdf::Intersect(sdf::Stroke(sdf::Ellipse(cx, cy + 4, 46, 18), 3), sdf::Box(0, cy + 4, 256, 256)), kMint);
  c.Fill(sdf::Circle(cx + 40, cy + 13, 4), kWhite);

  TextStyle big{&fonts.sansBold, 28.0f, 4.0f, 1.0f};
  TextRun run = RenderText(big, "NURA SOFT", 8);
  TextLook l;
  l.fill = Paint::Vertical(0, static_cast<float>(run.inkHeight()), {{0, kWhite}, {1, Hex(0xBFE8FF)}});
  DrawText(c, run, cx, 196, Anchor::Center, l);
  TextLook s;
  s.fill = WithAlpha(kSky, 0.9f);
  DrawText(c, TextStyle{&fonts.sans, 12.0f, 3.0f, 1.0f}, "PRESENTS", cx, 226, Anchor::Center, s);
  out.ScrambledPicture("cg/Logo.grp", c);
}

// ---- Title ---------------------------------------------------------------------

void MakeTitle(Output& out, const Fonts& fonts) {
  {
    // Lands at (400, 317): only its top-left 240 x 163 is on screen.
    Canvas c(256, 256);
    TextStyle jp{&fonts.gothic, 46.0f, -1.0f, 1.0f};
    TextRun run = RenderText(jp, "ぬらもぺい", 16);
    float scale = std::min(1.0f, 214.0f / run.inkWidth());
    if (scale < 1.0f) {
      jp.xscale = scale;
      run = RenderText(jp, "ぬらもぺい", 16);
    }
    TextLook look = HeadlineLook(3.5f, static_cast<float>(run.inkHeight()),
                                 {{0, Hex(0xFFFBD0)}, {0.45f, kSun}, {1, kOrange}});
    look.outline2 = 3.0f;
    DrawText(c, run, 118, 44, Anchor::Center, look);
    // A sub-title plate.
    c.FillOutlined(sdf::Box(38, 84, 198, 108, 12), Paint::Vertical(84, 108, {{0, Hex(0x3558B8)}, {1, kNight}}), kWhite, 2);
    TextLook sub;
    sub.fill = Paint::Vertical(0, 12, {{0, kWhite}, {1, kSky}});
    DrawText(c, TextStyle{&fonts.sansBold, 14.0f, 4.0f, 1.0f}, "NURAMOPEI", 118, 96, Anchor::Center, sub);
    Sparkle(c, 20, 18, 9, kWhite);
    Sparkle(c, 222, 74, 7, kWhite);
    Sparkle(c, 206, 12, 5, kSun);
    out.Picture("cg/title.png", c);
  }
  {
    Canvas c(256, 64);
    TextStyle style{&fonts.sansBold, 20.0f, 2.0f, 1.0f};
    TextLook look;
    look.fill = Paint::Vertical(0, 15, {{0, kWhite}, {1, Hex(0xDDE8FF)}});
    look.outline = 2.0f;
    look.outlineColor = kInk;
    look.shadowDx = 2;
    look.shadowDy = 2;
    look.shadowColor = WithAlpha(kInk, 0.5f);
    DrawText(c, style, "CLICK TO START", 124, 30, Anchor::Center, look);
    out.Picture("cg/PB.png", c);
  }
}

// The hero, large: on the title, beside the clear screen's score and behind
// the ending.
void MakeHeroPicture(Output& out) {
  Canvas c(256, 512);
  c.Fill(sdf::Ellipse(124, 292, 92, 16), WithAlpha(kInk, 0.35f));
  DrawNura(c, 124, 172, 104);
  Sparkle(c, 30, 48, 14, kWhite);
  Sparkle(c, 226, 88, 10, kSun);
  Sparkle(c, 214, 30, 7, kWhite);
  out.Picture("cg/nura_op.png", c);
}

// ---- Endings -----------------------------------------------------------------

// One ending scene: a picture card of 224 x 208 centred at (128, 120).
using SceneBody = std::function<void(Canvas&)>;

Canvas SceneCard(const SceneBody& body) {
  Canvas scene(256, 256);
  body(scene);
  Canvas c(256, 256);
  Sdf card = sdf::Box(16, 16, 240, 224, 14);
  c.Fill(Moved(card, 3, 5), WithAlpha(kInk, 0.35f));
  c.Fill(sdf::Grow(card, 5), kWhite);
  c.Fill(sdf::Stroke(sdf::Grow(card, 5), 1.5f), WithAlpha(kInk, 0.5f));
  scene.ApplyMask(Mask::FromSdf(256, 256, card));
  c.Draw(scene, 0, 0);
  return c;
}

void Mountains(Canvas& c, float base, Rgba color, float phase, float height) {
  std::vector<std::pair<float, float>> pts{{0, 256}};
  for (int x = 0; x <= 256; x += 8) {
    float h = height * (0.55f + 0.45f * std::sin(x * 0.035f + phase)) + height * 0.25f * std::sin(x * 0.11f + phase * 2);
    pts.emplace_back(static_cast<float>(x), base - h);
  }
  pts.emplace_back(256, 256);
  c.Fill(sdf::Polygon(pts), color);
}

void SceneFjord(Canvas& c) {
  c.Fill(sdf::Box(0, 0, 256, 256), Paint::Vertical(16, 150, {{0, Hex(0x5B3FA8)}, {0.55f, Hex(0xFF7A8A)}, {1, Hex(0xFFD08A)}}));
  c.FillGlow(sdf::Circle(128, 146, 26), 40, WithAlpha(Hex(0xFFE6A0), 0.6f));
  c.Fill(sdf::Circle(128, 146, 26), Hex(0xFFE9A8));
  Mountains(c, 150, Hex(0x4A2E7A), 0.3f, 60);
  c.Fill(sdf::Box(0, 150, 256, 256), Paint::Vertical(150, 230, {{0, Hex(0x3A4FA0)}, {1, Hex(0x1B2550)}}));
  for (int i = 0; i < 7; ++i) {
    float y = 156 + i * 9.0f, w = 30 - i * 3.0f;
    c.Fill(sdf::Capsule(128 - w, y, 128 + w, y, 1.2f), WithAlpha(Hex(0xFFE6A0), 0.7f - i * 0.08f));
  }
  // A floor tile afloat with the hero on it.
  c.Fill(sdf::Box(86, 188, 170, 200, 3), Hex(0x9DB5DA));
  c.Fill(sdf::Box(86, 188, 170, 191, 2), Hex(0xE4F0FF));
  DrawNura(c, 128, 165, 24);
}

void SceneSnow(Canvas& c) {
  c.Fill(sdf::Box(0, 0, 256, 256), Paint::Vertical(16, 200, {{0, Hex(0x0E1438)}, {1, Hex(0x2A3D7A)}}));
  for (int i = 0; i < 40; ++i) {
    float x = std::fmod(i * 67.3f, 224) + 16, y = std::fmod(i * 41.7f, 130) + 18;
    c.Fill(sdf::Circle(x, y, 0.6f + (i % 3) * 0.4f), WithAlpha(kWhite, 0.8f), Around(x, y, 2));
  }
  c.Fill(sdf::Circle(200, 56, 18), Hex(0xFFF6D0));
  c.Fill(sdf::Circle(208, 50, 16), Hex(0x182258));
  Mountains(c, 176, Hex(0xC8D8F0), 1.2f, 34);
  Mountains(c, 200, kWhite, 2.4f, 22);
  DrawNura(c, 110, 176, 28);
  // A little snow cap.
  c.Fill(sdf::Ellipse(106, 151, 17, 7), kWhite);
  c.Fill(sdf::Circle(106, 141, 5), kWhite);
  for (int i = 0; i < 24; ++i) {
    float x = std::fmod(i * 83.1f, 224) + 16, y = std::fmod(i * 57.9f, 200) + 20;
    c.Fill(sdf::Circle(x, y, 1.6f), WithAlpha(kWhite, 0.9f), Around(x, y, 3));
  }
}

void SceneFriends(Canvas& c) {
  c.Fill(sdf::Box(0, 0, 256, 256), Paint::Vertical(16, 170, {{0, Hex(0x6FC8FF)}, {1, Hex(0xD8F3FF)}}));
  for (auto [x, y, s] : {std::tuple{60.0f, 50.0f, 1.0f}, {180.0f, 38.0f, 0.8f}}) {
    c.Fill(sdf::Union(sdf::Union(sdf::Circle(x, y, 14 * s), sdf::Circle(x + 16 * s, y + 4 * s, 11 * s)),
                      sdf::Circle(x - 15 * s, y + 5 * s, 10 * s)),
           kWhite);
  }
  Mountains(c, 178, Hex(0x7FD08A), 0.8f, 26);
  Mountains(c, 206, Hex(0x4FB070), 2.0f, 18);
  // Flowers.
  for (int i = 0; i < 9; ++i) {
    float x = 26 + i * 26.0f, y = 214 + (i % 2) * 6.0f;
    c.Fill(sdf::Circle(x, y, 3), i % 2 ? kBerry : kSun, Around(x, y, 4));
  }
  DrawNura(c, 96, 168, 30);
  // The former enemy, smiling now.
  float ex = 164, ey = 178;
  c.Fill(sdf::Grow(sdf::Star(ex, ey, 20, 15, 9, 0.2f), 1.5f), kInk);
  c.Fill(sdf::Star(ex, ey, 20, 15, 9, 0.2f), Paint::Radial(ex - 5, ey - 6, 22, {{0, Hex(0xFFB3C8)}, {1, kBerry}}));
  for (int s = -1; s <= 1; s += 2) c.Fill(sdf::Circle(ex + s * 5.0f, ey - 2, 2.0f), kInk);
  c.Fill(sdf::Intersect(sdf::Ring(ex, ey + 1, 5, 1.6f), sdf::Box(ex - 8, ey + 3, ex + 8, ey + 9)), kInk);
  Sparkle(c, 130, 130, 8, kSun);
}

void SceneSleep(Canvas& c, const Fonts& fonts) {
  c.Fill(sdf::Box(0, 0, 256, 256), Paint::Vertical(16, 230, {{0, Hex(0x141A40)}, {1, Hex(0x3A2E78)}}));
  c.FillGlow(sdf::Circle(70, 70, 26), 30, WithAlpha(Hex(0xFFF2B0), 0.45f));
  c.Fill(sdf::Circle(70, 70, 26), Hex(0xFFF2C0));
  for (int i = 0; i < 30; ++i) {
    float x = std::fmod(i * 71.9f, 224) + 16, y = std::fmod(i * 37.3f, 120) + 18;
    c.Fill(sdf::Circle(x, y, 0.8f), WithAlpha(kWhite, 0.8f), Around(x, y, 2));
  }
  // A cloud bed.
  c.Fill(sdf::Union(sdf::Union(sdf::Circle(100, 200, 30), sdf::Circle(150, 196, 34)), sdf::Circle(196, 206, 26)),
         Paint::Vertical(160, 240, {{0, kWhite}, {1, Hex(0xC8C8F0)}}));
  DrawNura(c, 150, 170, 30, 1);
  TextLook z;
  z.fill = WithAlpha(kWhite, 0.9f);
  DrawText(c, TextStyle{&fonts.sansBold, 16.0f, 0, 1.0f}, "z", 184, 128, Anchor::Center, z);
  DrawText(c, TextStyle{&fonts.sansBold, 22.0f, 0, 1.0f}, "Z", 198, 108, Anchor::Center, z);
}

void MakeEndings(Output& out, const Fonts& fonts) {
  const SceneBody scenes[4] = {SceneFjord, SceneSnow, SceneFriends, [&fonts](Canvas& c) { SceneSleep(c, fonts); }};
  for (int i = 0; i < 4; ++i) {
    Canvas a = SceneCard(scenes[i]);
    // The "b" picture is the same card seen in motion: streaked and lit.
    Canvas b = a.MotionBlurred(14);
    b.Recolor([](Rgba c) { return Rgba{c.r * 0.6f + 0.4f, c.g * 0.6f + 0.38f, c.b * 0.6f + 0.3f, c.a}; });
    std::string n = std::to_string(i + 1);
    out.Picture("cg/Ending_0" + n + "a.png", a);
    out.Picture("cg/Ending_0" + n + "b.png", b);
    out.Picture("cg/ending0" + n + ".png", a);
  }
  {
    // The closing words, drawn on white near the bottom right.
    Canvas c(128, 64);
    TextLook l;
    l.fill = Paint::Vertical(0, 20, {{0, kDeep}, {1, kInk}});
    DrawText(c, TextStyle{&fonts.sansBold, 24.0f, 1.5f, 1.0f}, "THE END", 60, 18, Anchor::Center, l);
    TextLook s;
    s.fill = kBerry;
    DrawText(c, TextStyle{&fonts.gothic, 12.0f, 0, 1.0f}, "ありがとう！", 60, 44, Anchor::Center, s);
    out.Picture("cg/Ending_05.png", c);
  }
  {
    Canvas c(256, 256);
    DrawNura(c, 128, 118, 60);
    TextLook l;
    l.fill = kDeep;
    DrawText(c, TextStyle{&fonts.sansBold, 24.0f, 1.5f, 1.0f}, "THE END", 128, 214, Anchor::Center, l);
    out.Picture("cg/ending05.png", c);
  }
}

// ---- Name entry --------------------------------------------------------------

void MakeNameEntryParts(Output& out, const Fonts& fonts) {
  {
    // The end button fills (540, 360)-(604, 424).
    Canvas c(64, 64);
    c.Fill(sdf::Circle(33, 34, 29), WithAlpha(Hex(0x1F6B3A), 0.8f));
    c.FillOutlined(sdf::Circle(32, 31, 28), Paint::Vertical(3, 59, {{0, Hex(0xFF9ABA)}, {1, kBerry}}), kInk, 2);
    c.Fill(sdf::Ellipse(24, 18, 12, 6), WithAlpha(kWhite, 0.55f));
    TextLook l;
    l.fill = kWhite;
    l.outline = 1.5f;
    l.outlineColor = Hex(0x7A0A30);
    DrawText(c, TextStyle{&fonts.sansBold, 19.0f, 1.0f, 1.0f}, "END", 32, 32, Anchor::Center, l);
    out.Picture("cg/NameEntry2.png", c);
  }
  {
    // Scrolls over the white belt at y 430 (30 px high).
    Canvas c(2048, 32);
    const std::string part = "ENTER YOUR NAME  ★  CLICK THREE LETTERS, THEN END  ★  なまえを いれてね  ★  ";
    std::string text;
    TextStyle style{&fonts.gothic, 18.0f, 0.5f, 1.0f};
    while (RenderText(style, text + part, 0).advance < 2000) text += part;
    TextLook l;
    l.fill = kDeep;
    DrawText(c, style, text, 8, 15, Anchor::CenterLeft, l);
    out.Picture("cg/EntryBelt.png", c);
  }
}

}  // namespace

void DrawNura(Canvas& c, float cx, float cy, float r, int mood) {
  const bool small = r < 16;
  Rect box = Around(cx, cy, r * 1.4f);
  // A soft "mochi" body, a little wider at the bottom.
  Sdf body = small ? sdf::Circle(cx, cy, r)
                   : sdf::Union(sdf::Circle(cx, cy - r * 0.04f, r * 0.96f), sdf::Ellipse(cx, cy + r * 0.22f, r * 1.06f, r * 0.76f));
  float line = std::max(1.2f, r * 0.055f);
  c.Fill(sdf::Grow(body, line), kInk, box);
  c.Fill(body, Paint::Radial(cx - r * 0.35f, cy - r * 0.45f, r * 1.6f, {{0, Hex(0xFFF7C8)}, {0.35f, kSun}, {1, kOrange}}), box);
  if (!small) {
    // A leaf on top.
    float lx = cx + r * 0.05f, ly = cy - r * 0.98f;
    c.Fill(sdf::Capsule(lx, ly + r * 0.06f, lx + r * 0.04f, ly - r * 0.16f, r * 0.035f), Hex(0x2E8B57), box);
    Sdf leaf = sdf::Polygon({{lx, ly - r * 0.14f}, {lx + r * 0.18f, ly - r * 0.32f}, {lx + r * 0.42f, ly - r * 0.3f},
                             {lx + r * 0.26f, ly - r * 0.12f}});
    c.Fill(sdf::Grow(leaf, line * 0.8f), kInk, box);
    c.Fill(leaf, Paint::Linear(lx, ly, lx + r * 0.4f, ly - r * 0.3f, {{0, Hex(0x3FBF6F)}, {1, kMint}}), box);
  }
  // Face.
  float ey = cy - r * 0.02f, ex = r * 0.34f;
  for (int s = -1; s <= 1; s += 2) {
    float x = cx + s * ex;
    if (mood == 1) {
      c.Fill(sdf::Intersect(sdf::Ring(x, ey - r * 0.06f, r * 0.12f, std::max(1.0f, r * 0.05f)),
                            sdf::Box(x - r, ey - r * 0.02f, x + r, ey + r)),
             kInk, box);
    } else {
      c.Fill(sdf::Ellipse(x, ey, r * 0.1f, r * 0.16f), kInk, box);
      if (!small) c.Fill(sdf::Circle(x - r * 0.03f, ey - r * 0.07f, r * 0.045f), kWhite, box);
    }
    if (!small) c.Fill(sdf::Ellipse(cx + s * r * 0.58f, cy + r * 0.2f, r * 0.14f, r * 0.08f), WithAlpha(kBerry, 0.45f), box);
  }
  if (!small)
    c.Fill(sdf::Intersect(sdf::Ring(cx, cy + r * 0.08f, r * 0.12f, std::max(1.0f, r * 0.045f)),
                          sdf::Box(cx - r, cy + r * 0.12f, cx + r, cy + r)),
           kInk, box);
  // Gloss.
  c.Fill(sdf::Ellipse(cx - r * 0.45f, cy - r * 0.5f, r * 0.2f, r * 0.12f), WithAlpha(kWhite, 0.75f), box);
}

void MakeScreenPictures(Output& out, const Fonts& fonts) {
  MakeLogo(out, fonts);
  MakeTitle(out, fonts);
  MakeHeroPicture(out);
  MakeEndings(out, fonts);
  MakeNameEntryParts(out, fonts);
}

}  // namespace assetgen

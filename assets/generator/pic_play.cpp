// Pictures of the play screen: the hero and enemy balls, the cursor and the
// steering ring, the status panel's labels, the floor tile and its wave ring,
// and the five background patterns.
#include <cmath>
#include <cstdint>

#include "assets/generator/pictures.h"

namespace assetgen {

namespace {

using namespace palette;

// A small deterministic generator for scattering flakes.
class Scatter {
 public:
  explicit Scatter(std::uint32_t seed) : m_s(seed) {}
  float Next() {  // 0..1
    m_s ^= m_s << 13;
    m_s ^= m_s >> 17;
    m_s ^= m_s << 5;
    return (m_s & 0xFFFFFF) / 16777216.0f;
  }

 private:
  std::uint32_t m_s;
};

// The body is drawn from its top-left; its reference point is 13 px in, so
// the hero ball is centred at (13, 13).
void MakeBalls(Output& out) {
  {
    Canvas c(32, 32);
    DrawNura(c, 13, 13, 11.8f);
    out.Picture("cg/ball01.png", c);
  }
  {
    Canvas c(32, 32);
    Sdf spikes = sdf::Star(13, 13, 13, 9.5f, 8, 0.2f);
    c.Fill(sdf::Grow(spikes, 1.0f), kInk);
    c.Fill(spikes, Paint::Radial(10, 9, 14, {{0, Hex(0xFFB3C8)}, {0.55f, kBerry}, {1, Hex(0xA0103C)}}));
    c.Fill(sdf::Circle(13, 13, 8.5f), Paint::Radial(11, 10, 10, {{0, Hex(0xFF8FB0)}, {1, Hex(0xD02050)}}));
    // Angry eyes: slanted brows over white eyes.
    for (int s = -1; s <= 1; s += 2) {
      float ex = 13 + s * 3.6f;
      c.Fill(sdf::Circle(ex, 13.5f, 2.4f), kWhite);
      c.Fill(sdf::Circle(ex + s * -0.4f, 14.0f, 1.2f), kInk);
      c.Fill(sdf::Capsule(ex - 2.6f, 10.2f - s * 1.2f * -1, ex + 2.6f, 10.2f + s * 1.2f * -1, 0.9f), kInk);
    }
    c.Fill(sdf::Circle(9, 8, 1.6f), WithAlpha(kWhite, 0.8f));
    out.Picture("cg/ball02.png", c);
  }
}

void MakeCursor(Output& out) {
  {
    // Hot spot at (10, 10).
    Canvas c(32, 32);
    Sdf ring = sdf::Ring(10, 10, 6.5f, 2.0f);
    Sdf ticks = sdf::Union(sdf::Union(sdf::Capsule(10, 0.8f, 10, 4.5f, 1.0f), sdf::Capsule(10, 15.5f, 10, 19.2f, 1.0f)),
                           sdf::Union(sdf::Capsule(0.8f, 10, 4.5f, 10, 1.0f), sdf::Capsule(15.5f, 10, 19.2f, 10, 1.0f)));
    Sdf shape = sdf::Union(ring, ticks);
    c.Fill(sdf::Grow(shape, 1.2f), kInk);
    c.Fill(shape, kWhite);
    c.Fill(sdf::Circle(10, 10, 1.6f), kBerry);
    out.Picture("cg/cursol.png", c);
  }
  {
    // The steering ring, centred on the steering centre: drawn at (510, 350)
    // for a centre at (560, 400) and a reach of 50 px.
    Canvas c(128, 128);
    const float cx = 50, cy = 50;
    c.Fill(sdf::Circle(cx, cy, 50), Paint::Radial(cx, cy, 50, {{0, WithAlpha(kDeep, 0.55f)}, {1, WithAlpha(kNight, 0.9f)}}));
    c.Fill(sdf::Ring(cx, cy, 48.5f, 2.5f), kSky);
    c.Fill(sdf::Ring(cx, cy, 33, 1.0f), WithAlpha(kSky, 0.35f));
    c.Fill(sdf::Ring(cx, cy, 17, 1.0f), WithAlpha(kSky, 0.35f));
    c.Fill(sdf::Capsule(cx - 44, cy, cx + 44, cy, 0.5f), WithAlpha(kSky, 0.3f));
    c.Fill(sdf::Capsule(cx, cy - 44, cx, cy + 44, 0.5f), WithAlpha(kSky, 0.3f));
    for (int i = 0; i < 8; ++i) {
      float a = static_cast<float>(M_PI) * i / 4;
      c.Fill(sdf::Capsule(cx + 40 * std::cos(a), cy + 40 * std::sin(a), cx + 45 * std::cos(a), cy + 45 * std::sin(a), 1.0f),
             kSky);
    }
    c.Fill(sdf::Circle(cx, cy, 3), WithAlpha(kSun, 0.9f));
    out.Picture("cg/CursolBase.png", c);
  }
}

// "StatusString.png", drawn at (500, 10) over the status panel: labels above
// the best time (530, 30), beside the best name (570, 50), above the limit
// (530, 90), the elapsed time (530, 130) and the steering ring (510, 350).
// The lives (510, 160) and the map (500, 200) go unlabelled: no room.
void MakeStatusString(Output& out, const Fonts& fonts) {
  Canvas c(128, 512);
  auto pill = [&](const char* text, float x, float y, Rgba bg) {
    TextStyle style{&fonts.sansBold, 11.0f, 0.8f, 1.0f};
    TextRun run = RenderText(style, text, 4);
    float w = run.inkWidth() + 12.0f;
    c.Fill(sdf::Box(x, y, x + w, y + 14, 7), bg);
    TextLook l;
    l.fill = kInk;
    DrawText(c, run, x + w / 2, y + 7, Anchor::Center, l);
  };
  pill("BEST", 4, 3, kSun);
  pill("BY", 30, 42, WithAlpha(kSun, 0.75f));
  pill("LIMIT", 4, 63, kSky);
  pill("TIME", 4, 103, kMint);
  pill("STEER", 4, 323, kSky);
  // Separators between the groups.
  for (float y : {59.0f, 99.0f, 141.0f, 181.0f, 317.0f})
    c.Fill(sdf::Box(0, y, 120, y + 1), WithAlpha(kWhite, 0.18f));
  TextLook t;
  t.fill = Paint::Vertical(0, 14, {{0, kSun}, {1, kOrange}});
  t.outline = 1.0f;
  t.outlineColor = kInk;
  DrawText(c, TextStyle{&fonts.gothic, 15.0f, 1.0f, 1.0f}, "ぬらもぺい", 60, 452, Anchor::Center, t);
  out.Picture("cg/StatusString.png", c);
}

// "check.png": the floor tile. It is repeated every 32 px and scrolled in
// steps of 16 px, so its pattern repeats every 16 px. It is drawn over the
// grey floor colour with its own alpha.
void MakeFloorTile(Output& out) {
  Canvas c(32, 32);
  const Rgba face = Hex(0xB4D4FF), edgeLight = Hex(0xE4F0FF), edgeDark = Hex(0x6F93D0), grout = Hex(0x5A7AB8);
  for (int ty = 0; ty < 2; ++ty)
    for (int tx = 0; tx < 2; ++tx) {
      float x0 = tx * 16.0f, y0 = ty * 16.0f;
      c.Fill(sdf::Box(x0, y0, x0 + 16, y0 + 16), WithAlpha(grout, 0.62f));
      c.Fill(sdf::Box(x0 + 1, y0 + 1, x0 + 16, y0 + 16), WithAlpha(edgeDark, 0.62f));
      c.Fill(sdf::Box(x0 + 1, y0 + 1, x0 + 15, y0 + 15), WithAlpha(edgeLight, 0.62f));
      c.Fill(sdf::Box(x0 + 2, y0 + 2, x0 + 15, y0 + 15), WithAlpha(face, 0.62f));
      c.Fill(sdf::Polygon({{x0 + 8.5f, y0 + 5}, {x0 + 12, y0 + 8.5f}, {x0 + 8.5f, y0 + 12}, {x0 + 5, y0 + 8.5f}}),
             WithAlpha(Hex(0x9CC0F4), 0.62f));
    }
  out.Picture("cg/check.png", c);
}

// "circle_wave.png": the ring that spreads from the body. It is scaled about
// its corner and placed so that its centre (32, 32) follows the body.
void MakeWave(Output& out) {
  Canvas c(64, 64);
  c.FillGlow(sdf::Ring(32, 32, 25, 3), 5, WithAlpha(kWhite, 0.7f));
  c.Fill(sdf::Ring(32, 32, 25, 3.5f), kWhite);
  out.Picture("cg/circle_wave.png", c);
}

void MakeBackgrounds(Output& out) {
  const Rgba glow = Hex(0x2F8BFF);
  {
    // A square frame; scaled towards the centre and turned by the patterns.
    Canvas c(512, 512);
    Sdf frame = sdf::Stroke(sdf::Box(24, 24, 488, 488, 6), 6);
    c.FillGlow(frame, 18, WithAlpha(glow, 0.55f));
    c.Fill(frame, Paint::Linear(0, 0, 512, 512, {{0, kSky}, {1, Hex(0x7A5CFF)}}));
    c.Fill(sdf::Stroke(sdf::Box(24, 24, 488, 488, 6), 1.5f), WithAlpha(kWhite, 0.7f));
    out.Picture("cg/square.png", c);
  }
  {
    Canvas v(8, 512), h(512, 8);
    for (int i = 0; i < 8; ++i) {
      float d = std::fabs(i + 0.5f - 4.0f) / 4.0f;
      float a = std::pow(1.0f - d, 1.6f);
      Rgba col = Mix(kMint, kWhite, a * a * 0.6f);
      v.Fill(sdf::Box(static_cast<float>(i), 0, i + 1.0f, 512), WithAlpha(col, a * 0.95f));
      h.Fill(sdf::Box(0, static_cast<float>(i), 512, i + 1.0f), WithAlpha(col, a * 0.95f));
    }
    out.Picture("cg/Line_ver.png", v);
    out.Picture("cg/Line_hor.png", h);
  }
  {
    // Two snow layers; flakes near an edge are drawn on the opposite side too,
    // since the layers are stacked to scroll without a seam.
    Canvas fine(512, 512), big(512, 512);
    Scatter rnd(20240613u);
    for (int i = 0; i < 260; ++i) {
      float x = rnd.Next() * 512, y = rnd.Next() * 512, r = 0.8f + rnd.Next() * 1.6f, a = 0.45f + rnd.Next() * 0.5f;
      for (int oy = -512; oy <= 512; oy += 512)
        for (int ox = -512; ox <= 512; ox += 512)
          if (std::fabs(x + ox - 256) < 262 && std::fabs(y + oy - 256) < 262)
            fine.Fill(sdf::Circle(x + ox, y + oy, r), WithAlpha(Hex(0xDDEEFF), a), Around(x + ox, y + oy, r));
    }
    for (int i = 0; i < 34; ++i) {
      float x = 20 + rnd.Next() * 472, y = 20 + rnd.Next() * 472, r = 4.0f + rnd.Next() * 5.0f;
      float rot = rnd.Next() * 1.0f;
      Sdf flake = sdf::Star(x, y, r, r * 0.45f, 6, rot);
      big.FillGlow(sdf::Circle(x, y, r * 0.6f), r * 1.2f, WithAlpha(Hex(0x9FD0FF), 0.35f), Around(x, y, r * 2));
      big.Fill(flake, WithAlpha(kWhite, 0.85f), Around(x, y, r));
    }
    out.Picture("cg/snow1.png", fine);
    out.Picture("cg/snow2.png", big);
  }
  {
    Canvas c(32, 32);
    c.FillGlow(sdf::Capsule(6, 16, 26, 16, 1.0f), 5, WithAlpha(kWhite, 0.8f));
    out.Picture("cg/wind.png", c);
  }
}

}  // namespace

void MakePlayPictures(Output& out, const Fonts& fonts) {
  MakeBalls(out);
  MakeCursor(out);
  MakeStatusString(out, fonts);
  MakeFloorTile(out);
  MakeWave(out);
  MakeBackgrounds(out);
}

}  // namespace assetgen

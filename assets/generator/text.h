// Text for the pictures: fonts found through fontconfig, glyphs rendered with
// FreeType into coverage masks, and a decorated draw (fill, outline, shadow).
#pragma once

#include <memory>
#include <string>

#include "assets/generator/canvas.h"

namespace assetgen {

class FontFace {
 public:
  // Finds the font by a fontconfig pattern ("Liberation Sans:bold") and
  // insists that the family found is the one asked for.
  FontFace(const std::string& pattern, const std::string& family);
  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  const std::string& file() const;
  struct Impl;
  Impl* impl() const { return m_impl.get(); }

 private:
  std::unique_ptr<Impl> m_impl;
};

// The machine's fonts the game's pictures use.
struct Fonts {
  Fonts();
  FontFace sansBold;   // Latin text
  FontFace sans;       // small labels
  FontFace gothic;     // Japanese text
};

struct TextStyle {
  const FontFace* face = nullptr;
  float size = 16;         // pixel size (em)
  float tracking = 0;      // extra pixels between letters
  float xscale = 1;        // horizontal squeeze (< 1) or stretch
};

// A rendered line of text: the coverage of its ink with a margin around it.
struct TextRun {
  Mask mask;
  float originX = 0;     // pen start inside the mask
  float baseline = 0;    // baseline inside the mask
  float advance = 0;     // pen advance of the whole line
  int inkLeft = 0, inkTop = 0, inkRight = 0, inkBottom = 0;  // ink box inside the mask
  int inkWidth() const { return inkRight - inkLeft; }
  int inkHeight() const { return inkBottom - inkTop; }
};

TextRun RenderText(const TextStyle& style, const std::string& utf8, int margin = 8);

struct TextLook {
  Paint fill = Rgba{1, 1, 1, 1};
  bool fillIsLocal = true;   // the fill's coordinates are relative to the ink box's top-left
  float outline = 0;         // outline width in pixels (0: none)
  Rgba outlineColor{0, 0, 0, 1};
  float outline2 = 0;        // a second, outer outline
  Rgba outline2Color{1, 1, 1, 1};
  float shadowDx = 0, shadowDy = 0, shadowBlur = 0;
  Rgba shadowColor{0, 0, 0, 0};
  float glow = 0;            // soft halo radius
  Rgba glowColor{1, 1, 1, 0};
};

enum class Anchor { TopLeft, TopCenter, Center, CenterLeft };

// Draws the run with its ink box placed by the anchor at (x, y).
void DrawText(Canvas& canvas, const TextRun& run, float x, float y, Anchor anchor, const TextLook& look);
// Renders and draws in one step.
void DrawText(Canvas& canvas, const TextStyle& style, const std::string& utf8, float x, float y,
              Anchor anchor, const TextLook& look);

}  // namespace assetgen

// The recipes of the game's pictures, grouped by where they appear, and the
// palette and looks they share so that every screen belongs to one game.
#pragma once

#include "assets/generator/canvas.h"
#include "assets/generator/output.h"
#include "assets/generator/text.h"

namespace assetgen {

namespace palette {
inline const Rgba kInk = Hex(0x141A33);        // outlines, dark text
inline const Rgba kNight = Hex(0x1B2550);      // panels
inline const Rgba kDeep = Hex(0x2A3D7A);
inline const Rgba kSky = Hex(0x38D6F5);        // cyan accent
inline const Rgba kMint = Hex(0x5BE3A8);
inline const Rgba kSun = Hex(0xFFD23F);        // yellow accent, the hero
inline const Rgba kOrange = Hex(0xFF8A3D);
inline const Rgba kBerry = Hex(0xFF4F8B);      // enemies, warnings
inline const Rgba kCream = Hex(0xFFF6E0);
inline const Rgba kWhite = Hex(0xFFFFFF);
}  // namespace palette

// Bright heading text: warm gradient, dark outline, white rim and soft shadow.
TextLook HeadlineLook(float outline, float height, std::vector<ColorStop> fill);
// Small plain label text.
TextLook LabelLook(Rgba color);

// The hero "Nura": a round, glossy blob with a face, drawn centred at (cx, cy)
// with radius r. `mood` 0 happy, 1 sleepy (closed eyes).
void DrawNura(Canvas& c, float cx, float cy, float r, int mood = 0);

void MakeGlyphSheets(Output& out, const Fonts& fonts);   // number, BigNumber, TimeName, NameEntry
void MakeMenuPictures(Output& out, const Fonts& fonts);  // title strings, continue, messages
void MakePlayPictures(Output& out, const Fonts& fonts);  // balls, cursor, tiles, panel, backgrounds
void MakeScreenPictures(Output& out, const Fonts& fonts);  // logo, title, hero, endings, name entry

}  // namespace assetgen

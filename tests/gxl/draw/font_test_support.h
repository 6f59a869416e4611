// Shared by the texture-font tests: a fixture with the package fonts pinned
// and a font maker, read-back of glyph textures, and a small fake script
// engine ("usp10.dll") registered through the platform's export table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "draw_test_support.h"
#include "gxl/draw/glyph_font.h"
#include "gxl/draw/glyph_font_imports.h"

namespace drawtest {

class FontTest : public SpriteTest {
 protected:
  void SetUp() override;

  // A font through GXLCreateGlyphTextureFontA; null (with a failure) when refused.
  ComRef<GlyphTextureFont> MakeFont(int height, const char* face = "Arial", bool italic = false,
                                    DWORD charSet = DEFAULT_CHARSET, UINT mipLevels = 0);
};

inline bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The GDI glyph of a character in the font's own DC.
WORD GlyphOf(GlyphTextureFont* font, char16_t c);

// The texels of one level of a texture (0xAARRGGBB, rows top-down) and its side.
std::vector<std::uint32_t> TextureLevel(IDirect3DTexture9* texture, UINT level, UINT* size);

// The fake script engine: one item per stretch of Hebrew letters (right to
// left) or other text, word stops after blanks and around control characters,
// glyphs and advances from the DC's GDI font (Hebrew mirrored into visual
// order), and string analyses drawn with ExtTextOutW.
struct FakeScriptEngine {
  int stringAnalyses = 0;  // ScriptStringAnalyse calls
  int cacheFrees = 0;      // ScriptFreeCache calls on a filled cache
  int itemizeCalls = 0;
  int maxItemsSeen = 0;  // the largest item capacity offered
};
// Registers "usp10.dll" with every export (but `leaveOut`, when given) and
// returns the engine's counters, cleared.
FakeScriptEngine& RegisterFakeScriptEngine(const std::string& leaveOut = "");

}  // namespace drawtest

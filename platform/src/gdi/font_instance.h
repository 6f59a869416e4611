// A realised font: its FreeType faces at the requested size, the metrics GDI
// reports and a cache of rendered glyphs. Glyph indices are the primary face's;
// a Japanese-capable fallback face, opened when the primary lacks a character,
// follows in the same index space (its glyph g is primary count + g).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "gdi/faces.h"
#include "platform/win_gdi.h"

namespace platform::gdi {

struct FontMetrics {
  int em = 0;  // pixels per em, vertically
  int ascent = 0;
  int descent = 0;
  int height = 0;  // ascent + descent
  int aveCharWidth = 0;
  int maxCharWidth = 0;
  int weight = 0;
  char32_t firstChar = 0;  // first and last mapped code points, at most 0xFFFF
  char32_t lastChar = 0;
  char32_t defaultChar = 0;  // maps to glyph 0
  bool variablePitch = true;
};

// A glyph as drawn: whole-pixel advance and grey coverage (0..255) placed
// relative to the pen on the baseline.
struct GlyphImage {
  int advance = 0;
  int left = 0;  // left column relative to the pen
  int top = 0;   // top row, pixels above the baseline
  int width = 0;
  int rows = 0;
  std::vector<std::uint8_t> coverage;  // rows x width
};

class FontInstance {
 public:
  // Null when no face can be found or opened.
  static std::unique_ptr<FontInstance> Create(const LOGFONTW& font);
  ~FontInstance();
  FontInstance(const FontInstance&) = delete;
  FontInstance& operator=(const FontInstance&) = delete;

  const FontMetrics& Metrics() const { return m_metrics; }
  // The glyph for a code point; 0 (the missing-glyph box) when no face maps it.
  std::uint32_t GlyphOf(char32_t codePoint);
  // Indices below this are valid glyphs (at most 0x10000).
  std::uint32_t GlyphCount();
  // The rendered glyph; null for an index at or beyond GlyphCount().
  const GlyphImage* Glyph(std::uint32_t glyph);
  // Sorted, disjoint [first, last] code point ranges at most 0xFFFF that map to glyphs.
  std::vector<std::pair<char32_t, char32_t>> CodePointRanges();
  // Primary face file, then the fallback's (resolved by this call if need be).
  std::vector<std::string> Files();

 private:
  struct Face {
    FT_Face face = nullptr;
    std::string file;
    std::uint32_t base = 0;   // first glyph index in the font's index space
    std::uint32_t count = 0;  // glyphs of this face that fit below 0x10000
    bool synthBold = false;
    bool synthItalic = false;
    FT_Pos boldStrength = 0;  // 26.6 pixels
  };

  FontInstance() = default;
  bool OpenFace(const FaceChoice& choice, std::uint32_t base, Face* out) const;
  bool EnsureFallback();
  Face* Locate(std::uint32_t glyph, std::uint32_t* local);
  void ComputeMetrics(const LOGFONTW& font, int em, double xPpem, int winAscent, int winDescent);

  FaceRequest m_request;
  FontMetrics m_metrics;
  FT_F26Dot6 m_xSize = 0;  // char size handed to FreeType, 26.6 points at 72 dpi
  FT_F26Dot6 m_ySize = 0;
  bool m_mono = false;
  Face m_primary;
  Face m_fallback;
  bool m_fallbackTried = false;
  std::unordered_map<std::uint32_t, std::unique_ptr<GlyphImage>> m_glyphs;  // null: failed to load
};

}  // namespace platform::gdi

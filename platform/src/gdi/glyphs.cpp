// Glyph-level queries: placement, widths, glyph metrics and the character map.
// There is no shaping: one glyph per character, in logical order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gdi/objects.h"
#include "gdi/text_units.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "testing/failure.h"

namespace platform::gdi {
namespace {

bool Inkless(const GlyphImage& g) {
  return std::none_of(g.coverage.begin(), g.coverage.end(), [](std::uint8_t c) { return c != 0; });
}

void Decode(const char* text, size_t n, std::vector<TextUnit>& out) { DecodeA(text, n, out); }
void Decode(const char16_t* text, size_t n, std::vector<TextUnit>& out) { DecodeW(text, n, out); }

// No flag changes the placement: the fonts have no kerning, ligatures or
// reordering, and the caller's classes are not needed.
template <class Char, class Results>
DWORD Placement(HDC dc, const Char* text, int count, Results* results) {
  FontInstance* font = DcFont(dc);
  if (!font || count < 0 || (!text && count > 0)) return 0;
  if (results && results->lStructSize != sizeof(Results)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<TextUnit> units;
  Decode(text, static_cast<size_t>(count), units);
  size_t n = units.size();
  if (results && results->lpGlyphs) n = std::min<size_t>(n, results->nGlyphs);

  std::int64_t width = 0;
  size_t fitted = 0;
  for (size_t i = 0; i < n; ++i) {
    const std::uint32_t glyph = font->GlyphOf(units[i].codePoint);
    const GlyphImage* image = font->Glyph(glyph);
    const int advance = image ? image->advance : 0;
    if (results) {
      if (results->lpGlyphs) results->lpGlyphs[i] = static_cast<WCHAR>(glyph);
      if (results->lpDx) results->lpDx[i] = advance;
      if (results->lpOrder) results->lpOrder[i] = units[i].source;
      if (results->lpCaretPos) results->lpCaretPos[i] = static_cast<int>(width);
    }
    width += advance;
    fitted = i + 1;
  }
  const size_t consumed = fitted < units.size() ? units[fitted].source : static_cast<size_t>(count);
  if (results) {
    if (results->lpOutString) std::copy(text, text + consumed, results->lpOutString);
    results->nGlyphs = static_cast<UINT>(fitted);
    results->nMaxFit = static_cast<int>(consumed);
  }
  const DWORD w = static_cast<DWORD>(std::min<std::int64_t>(width, 0xFFFF));
  return w | (static_cast<DWORD>(font->Metrics().height) << 16);
}

// The character of GetGlyphOutlineA: a UTF-8 sequence packed with its lead
// byte highest; a lone byte beyond ASCII is no character.
char32_t CodePointA(UINT ch) {
  char bytes[4];
  size_t n = 0;
  for (int shift = 24; shift >= 0; shift -= 8)
    if (const char b = static_cast<char>((ch >> shift) & 0xFF); b != 0 || n > 0) bytes[n++] = b;
  if (n == 0) return 0;
  std::vector<TextUnit> units;
  DecodeA(bytes, n, units);
  return units.size() == 1 ? units[0].codePoint : 0xFFFD;
}

DWORD GlyphOutline(HDC dc, char32_t ch, UINT format, GLYPHMETRICS* metrics, const MAT2* transform) {
  FontInstance* font = DcFont(dc);
  if (!font || !metrics || !transform) return GDI_ERROR;
  if ((format & ~GGO_GLYPH_INDEX) != GGO_METRICS) {
    platform::detail::CountDiagnostic("gdi.glyph-outline-format");
    return GDI_ERROR;
  }
  const MAT2& t = *transform;
  if (t.eM11.value != 1 || t.eM11.fract != 0 || t.eM22.value != 1 || t.eM22.fract != 0 || t.eM12.value != 0 ||
      t.eM12.fract != 0 || t.eM21.value != 0 || t.eM21.fract != 0) {
    platform::detail::CountDiagnostic("gdi.glyph-outline-transform");
    return GDI_ERROR;
  }
  const std::uint32_t glyph = (format & GGO_GLYPH_INDEX) ? static_cast<std::uint32_t>(ch) : font->GlyphOf(ch);
  const GlyphImage* g = font->Glyph(glyph);
  if (!g) return GDI_ERROR;
  const bool inkless = Inkless(*g);
  metrics->gmBlackBoxX = inkless ? 1 : static_cast<UINT>(g->width);
  metrics->gmBlackBoxY = inkless ? 1 : static_cast<UINT>(g->rows);
  metrics->gmptGlyphOrigin = {inkless ? 0 : g->left, inkless ? 0 : g->top};
  metrics->gmCellIncX = static_cast<SHORT>(g->advance);
  metrics->gmCellIncY = 0;
  return 0;
}

}  // namespace

bool RegisterGdiExports() {
  static const bool done = [] {
    using platform::test::ExportFn;
    platform::RegisterDefaultExport("gdi32.dll", "GetCharABCWidthsI",
                                    reinterpret_cast<ExportFn>(&::GetCharABCWidthsI));
    platform::RegisterDefaultExport("gdi32.dll", "GetCharWidthI", reinterpret_cast<ExportFn>(&::GetCharWidthI));
    platform::RegisterDefaultExport("gdi32.dll", "GetFontUnicodeRanges",
                                    reinterpret_cast<ExportFn>(&::GetFontUnicodeRanges));
    return true;
  }();
  return done;
}

}  // namespace platform::gdi

using namespace platform::gdi;

DWORD GetCharacterPlacementA(HDC dc, LPCSTR text, int count, int, GCP_RESULTSA* results, DWORD) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetCharacterPlacementA", nullptr)) return 0;
  return Placement(dc, text, count, results);
}

DWORD GetCharacterPlacementW(HDC dc, LPCWSTR text, int count, int, GCP_RESULTSW* results, DWORD) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetCharacterPlacementW", nullptr)) return 0;
  return Placement(dc, text, count, results);
}

BOOL GetCharABCWidthsI(HDC dc, UINT first, UINT count, const WORD* glyphs, ABC* out) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetCharABCWidthsI", nullptr)) return FALSE;
  FontInstance* font = DcFont(dc);
  if (!font || !out) return FALSE;
  for (UINT i = 0; i < count; ++i) {
    const GlyphImage* g = font->Glyph(glyphs ? glyphs[i] : first + i);
    if (!g) return FALSE;
    if (Inkless(*g)) {
      out[i] = {0, 0, g->advance};
    } else {
      out[i].abcA = g->left;
      out[i].abcB = static_cast<UINT>(g->width);
      out[i].abcC = g->advance - g->left - g->width;
    }
  }
  return TRUE;
}

BOOL GetCharWidthI(HDC dc, UINT first, UINT count, const WORD* glyphs, int* out) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetCharWidthI", nullptr)) return FALSE;
  FontInstance* font = DcFont(dc);
  if (!font || !out) return FALSE;
  for (UINT i = 0; i < count; ++i) {
    const GlyphImage* g = font->Glyph(glyphs ? glyphs[i] : first + i);
    if (!g) return FALSE;
    out[i] = g->advance;
  }
  return TRUE;
}

DWORD GetGlyphOutlineA(HDC dc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD, LPVOID, const MAT2* transform) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetGlyphOutlineA", nullptr)) return GDI_ERROR;
  const char32_t c = (format & GGO_GLYPH_INDEX) ? ch : CodePointA(ch);
  return GlyphOutline(dc, c, format, metrics, transform);
}

DWORD GetGlyphOutlineW(HDC dc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD, LPVOID, const MAT2* transform) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetGlyphOutlineW", nullptr)) return GDI_ERROR;
  return GlyphOutline(dc, static_cast<char32_t>(ch), format, metrics, transform);
}

DWORD GetFontUnicodeRanges(HDC dc, GLYPHSET* set) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetFontUnicodeRanges", nullptr)) return 0;
  FontInstance* font = DcFont(dc);
  if (!font) return 0;
  std::vector<WCRANGE> ranges;
  DWORD supported = 0;
  for (auto [low, high] : font->CodePointRanges()) {
    supported += high - low + 1;
    for (char32_t c = low; c <= high; c += 0xFFFF)  // a range counts at most 0xFFFF glyphs
      ranges.push_back({static_cast<WCHAR>(c), static_cast<USHORT>(std::min<char32_t>(high - c + 1, 0xFFFF))});
  }
  const DWORD size = static_cast<DWORD>(offsetof(GLYPHSET, ranges) + ranges.size() * sizeof(WCRANGE));
  if (set) {
    set->cbThis = size;
    set->flAccel = 0;
    set->cGlyphsSupported = supported;
    set->cRanges = static_cast<DWORD>(ranges.size());
    std::copy(ranges.begin(), ranges.end(), set->ranges);
  }
  return size;
}

// Measuring and drawing text into the DC's DIB. Coverage blends the text
// colour over what lies below: out = d + (fg - d) * cov / 255 per channel,
// rounded, with the fourth byte cleared. An opaque background first fills the
// text's cell with the background colour, so there d is that colour.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "gdi/objects.h"
#include "gdi/text_units.h"
#include "testing/failure.h"

namespace platform::gdi {
namespace {

struct Box {
  std::int64_t left, top, right, bottom;  // right and bottom exclusive
  Box Intersect(const Box& o) const {
    return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
  }
  bool Empty() const { return left >= right || top >= bottom; }
};

std::uint32_t Pixel(COLORREF c) {
  return (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
         GetBValue(c);
}

void Fill(BitmapObject& b, const Box& area, COLORREF color) {
  const std::uint32_t p = Pixel(color);
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    std::uint32_t* row = b.Row(static_cast<int>(y));
    std::fill(row + area.left, row + area.right, p);
  }
}

std::uint32_t Blend(std::uint32_t below, std::uint32_t fg, unsigned cov) {
  std::uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const unsigned d = (below >> shift) & 0xFF;
    const unsigned f = (fg >> shift) & 0xFF;
    out |= ((d * (255 - cov) + f * cov + 127) / 255) << shift;
  }
  return out;
}

void DrawGlyph(BitmapObject& b, const Box& clip, const GlyphImage& g, std::int64_t x0, std::int64_t y0,
               std::uint32_t fg) {
  const Box area = clip.Intersect({x0, y0, x0 + g.width, y0 + g.rows});
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    std::uint32_t* row = b.Row(static_cast<int>(y));
    const std::uint8_t* cov = &g.coverage[static_cast<size_t>(y - y0) * g.width];
    for (std::int64_t x = area.left; x < area.right; ++x) {
      const unsigned c = cov[x - x0];
      if (c) row[x] = Blend(row[x], fg, c);
    }
  }
}

void Glyphs(FontInstance& font, const char* text, UINT count, bool indices, std::vector<std::uint32_t>& out) {
  out.clear();
  if (indices) {
    for (UINT i = 0; i < count; ++i) out.push_back(static_cast<unsigned char>(text[i]));
    return;
  }
  std::vector<TextUnit> units;
  DecodeA(text, count, units);
  for (const TextUnit& u : units) out.push_back(font.GlyphOf(u.codePoint));
}

void Glyphs(FontInstance& font, const char16_t* text, UINT count, bool indices, std::vector<std::uint32_t>& out) {
  out.clear();
  if (indices) {
    out.assign(text, text + count);
    return;
  }
  std::vector<TextUnit> units;
  DecodeW(text, count, units);
  for (const TextUnit& u : units) out.push_back(font.GlyphOf(u.codePoint));
}

int Advance(FontInstance& font, std::uint32_t glyph) {
  const GlyphImage* g = font.Glyph(glyph);
  return g ? g->advance : 0;
}

template <class Char>
BOOL Extent(HDC dc, const Char* text, int count, LPSIZE size) {
  FontInstance* font = DcFont(dc);
  if (!font || !size || count < 0 || (!text && count > 0)) return FALSE;
  std::vector<std::uint32_t> glyphs;
  Glyphs(*font, text, static_cast<UINT>(count), false, glyphs);
  std::int64_t width = 0;
  for (std::uint32_t g : glyphs) width += Advance(*font, g);
  size->cx = static_cast<LONG>(std::min<std::int64_t>(width, INT32_MAX));
  size->cy = font->Metrics().height;
  return TRUE;
}

template <class Char>
BOOL TextOut(HDC dc, int x, int y, UINT options, const RECT* rect, const Char* text, UINT count, const int* dx) {
  DcObject* d = nullptr;
  FontInstance* font = DcFont(dc, &d);
  if (!font || (!text && count > 0) || count > 0x7FFFFFFF) return FALSE;
  const FontMetrics& m = font->Metrics();
  std::vector<std::uint32_t> glyphs;
  Glyphs(*font, text, count, (options & ETO_GLYPH_INDEX) != 0, glyphs);
  std::vector<int> advances(glyphs.size());
  std::int64_t total = 0;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    advances[i] = dx ? dx[i] : Advance(*font, glyphs[i]);
    total += advances[i];
  }

  std::int64_t left = x, top = y;
  if (d->align & TA_UPDATECP) left = d->position.x, top = d->position.y;

  BitmapObject& b = *d->bitmap;
  Box clip = {0, 0, b.width, b.height};
  if (rect) {
    const Box r = {rect->left, rect->top, rect->right, rect->bottom};
    if (options & ETO_CLIPPED) clip = clip.Intersect(r);
    if (options & ETO_OPAQUE) {
      const Box fill = Box{0, 0, b.width, b.height}.Intersect(r);
      if (!fill.Empty()) Fill(b, fill, d->bkColor);
    }
  }
  if (d->bkMode == OPAQUE || ((options & ETO_OPAQUE) && !rect)) {
    const Box cell = clip.Intersect({left, top, left + total, top + m.height});
    if (!cell.Empty()) Fill(b, cell, d->bkColor);
  }
  const std::uint32_t fg = Pixel(d->textColor);
  std::int64_t pen = left;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    if (const GlyphImage* g = font->Glyph(glyphs[i]); g && g->width > 0)
      DrawGlyph(b, clip, *g, pen + g->left, top + m.ascent - g->top, fg);
    pen += advances[i];
  }
  if (d->align & TA_UPDATECP) d->position.x = static_cast<LONG>(left + total);
  return TRUE;
}

}  // namespace
}  // namespace platform::gdi

using namespace platform::gdi;

BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, LPSIZE size) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetTextExtentPoint32A", nullptr)) return FALSE;
  return Extent(dc, text, count, size);
}

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetTextExtentPoint32W", nullptr)) return FALSE;
  return Extent(dc, text, count, size);
}

BOOL ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count, const int* dx) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("ExtTextOutA", nullptr)) return FALSE;
  return TextOut(dc, x, y, options, rect, text, count, dx);
}

BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count,
                 const int* dx) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("ExtTextOutW", nullptr)) return FALSE;
  return TextOut(dc, x, y, options, rect, text, count, dx);
}

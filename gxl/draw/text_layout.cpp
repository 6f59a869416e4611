// DrawText-style layout of the texture font: glyphs and runs (text_layout_runs.cpp)
// are broken into lines, ordered visually, placed in the rectangle, clipped
// and queued as one sprite per glyph.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "gxl/draw/creators.h"
#include "gxl/draw/glyph_font_object.h"

namespace gxl {
namespace {

constexpr DWORD kFormatMask = DT_CENTER | DT_RIGHT | DT_VCENTER | DT_BOTTOM | DT_WORDBREAK | DT_SINGLELINE |
                              DT_EXPANDTABS | DT_NOCLIP | DT_CALCRECT | DT_RTLREADING;
static_assert(kFormatMask == 0x2057F);
constexpr std::uint32_t kTabStopCharacters = 8;

LONG ToLong(std::int64_t v) { return static_cast<LONG>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }

template <class T>
void Rotate(T* data, std::uint32_t first, std::uint32_t middle, std::uint32_t end) {
  std::rotate(data + first, data + middle, data + end);
}

}  // namespace

HRESULT GlyphTextureFontObject::CacheTextGlyphsA(LPCSTR text, INT count) {
  return LayoutText(nullptr, text, count, nullptr, 0, 0, false, nullptr);
}

HRESULT GlyphTextureFontObject::CacheTextGlyphsW(LPCWSTR text, INT count) {
  return LayoutText(nullptr, text, count, nullptr, 0, 0, true, nullptr);
}

INT GlyphTextureFontObject::DrawStringA(SpriteBatcher* sprite, LPCSTR text, INT count, RECT* rect, DWORD format,
                                        D3DCOLOR color) {
  int height = 0;
  return FAILED(LayoutText(sprite, text, count, rect, format, color, false, &height)) ? 0 : height;
}

INT GlyphTextureFontObject::DrawStringW(SpriteBatcher* sprite, LPCWSTR text, INT count, RECT* rect, DWORD format,
                                        D3DCOLOR color) {
  int height = 0;
  return FAILED(LayoutText(sprite, text, count, rect, format, color, true, &height)) ? 0 : height;
}

HRESULT GlyphTextureFontObject::LayoutText(SpriteBatcher* sprite, const void* text, int count, RECT* rect,
                                           DWORD format, D3DCOLOR color, bool wide, int* height) {
  if ((!text && count != 0) || (format & ~kFormatMask)) return D3DERR_INVALIDCALL;
  if (count < 0)
    count = static_cast<int>(wide ? std::char_traits<char16_t>::length(static_cast<LPCWSTR>(text))
                                  : std::strlen(static_cast<LPCSTR>(text)));
  const bool rightToLeft = (format & DT_RTLREADING) != 0;
  TextLayoutWork& w = m_work;
  w.runCount = w.glyphCount = w.lineCount = 0;
  if (count > 0) {
    const auto n = static_cast<std::uint32_t>(count);
    const HRESULT hr = m_imports->scriptEngine ? MakeScriptGlyphs(text, n, wide, rightToLeft)
                                               : MakeGlyphs(text, n, wide, rightToLeft);
    if (FAILED(hr)) return hr;
  }
  if (!height) return S_OK;  // caching only

  std::uint32_t widest = 0, total = 0;
  HRESULT hr = BreakLines(rect, format, &widest, &total);
  if (FAILED(hr)) return hr;

  std::int64_t x = 0, y = 0, drawnHeight = total;
  if (rect) {
    if (rightToLeft) format ^= DT_RIGHT;
    const std::int64_t left = rect->left, top = rect->top, right = rect->right, bottom = rect->bottom;
    x = (format & DT_CENTER) ? (right - widest + left) / 2 : (format & DT_RIGHT) ? right - widest : left;
    y = (format & DT_VCENTER) ? (bottom + top - total) / 2 : (format & DT_BOTTOM) ? bottom - total : top;
    drawnHeight = y - top + total;
    if (format & DT_CALCRECT) *rect = RECT{ToLong(x), ToLong(y), ToLong(x + widest), ToLong(y + total)};
  }
  *height = ToLong(drawnHeight);
  if (format & DT_CALCRECT) return S_OK;
  return DrawLines(sprite, (format & DT_NOCLIP) ? nullptr : rect, format, x, y, widest, color);
}

HRESULT GlyphTextureFontObject::BreakLines(const RECT* rect, DWORD format, std::uint32_t* widest,
                                           std::uint32_t* total) {
  TextLayoutWork& w = m_work;
  if (FAILED(w.order.Reserve(w.glyphCount)) || FAILED(w.xPositions.Reserve(w.glyphCount))) return E_OUTOFMEMORY;
  const bool single = (format & DT_SINGLELINE) != 0;
  const bool rightToLeft = (format & DT_RTLREADING) != 0;
  const bool wrap = (format & DT_WORDBREAK) && rect && rect->left < rect->right && !single;
  const std::int64_t wrapWidth = wrap ? std::int64_t{rect->right} - rect->left : 0;
  const bool limited = rect && !(format & (DT_VCENTER | DT_BOTTOM | DT_SINGLELINE | DT_NOCLIP | DT_CALCRECT));
  const std::int64_t limit = limited ? std::int64_t{rect->bottom} - rect->top : INT64_MAX;
  // A font without an average width still gets tab stops.
  const std::int64_t tabStop = std::max<std::int64_t>(std::int64_t{m_metrics.tmAveCharWidth} * kTabStopCharacters, 1);

  std::int64_t x = 0;
  std::uint32_t lineFirst = 0, lineRun = 0;
  auto emit = [&](std::uint32_t end, std::uint32_t endRun) {
    const HRESULT hr = EmitLine(lineFirst, end, lineRun, endRun, rightToLeft, widest, total);
    x = 0;
    lineFirst = end;
    return hr;
  };
  HRESULT hr = S_OK;
  for (std::uint32_t r = 0; r < w.runCount && *total <= limit; ++r) {
    const TextRun& run = w.runs[r];
    const std::uint32_t g0 = run.firstGlyph, g1 = w.runs[r + 1].firstGlyph;
    if (g0 >= g1) continue;  // a run whose glyphs were dropped
    if (!single && (run.flags & (kRunCarriageReturn | kRunLineFeed))) {
      w.advances[g0] = 0;
      w.glyphs[g0] = m_fontProperties.wgBlank;
      if (run.flags & kRunLineFeed) {
        if (FAILED(hr = emit(g1, r + 1))) return hr;
        lineRun = r + 1;
        continue;
      }
    }
    if ((run.flags & kRunTab) && (format & DT_EXPANDTABS)) {
      if (wrap && x >= wrapWidth) {
        if (FAILED(hr = emit(g0, r))) return hr;
        lineRun = r;
      }
      std::int64_t advance = tabStop - x % tabStop;
      if (wrap && x + advance > wrapWidth) advance = wrapWidth - x;
      w.glyphs[g0] = m_fontProperties.wgBlank;
      if (FAILED(hr = CacheGlyphs(&w.glyphs[g0], 1, &w.records[g0]))) return hr;
      w.advances[g0] = static_cast<int>(advance);
      x += advance;
      continue;
    }
    const ABC& width = w.runWidths[r];
    if (wrap && x > 0 && x + width.abcA + std::int64_t{width.abcB} + width.abcC > wrapWidth) {
      if (FAILED(hr = emit(g0, r))) return hr;
      lineRun = r;
    }
    if (!(run.flags & kRunRightToLeft)) {
      for (std::uint32_t k = g0; k < g1; ++k) {
        // A line keeps at least one glyph, however narrow the rectangle.
        if (wrap && k > lineFirst && x + w.advances[k] > wrapWidth) {
          if (FAILED(hr = emit(k, k > g0 ? r + 1 : r))) return hr;
          lineRun = r;
        }
        x += w.advances[k];
      }
      continue;
    }
    // Right to left: the glyphs are read from the run's far end. Those that
    // fit are moved in front of the rest, so the line ends at the break glyph.
    std::uint32_t rest = std::max(g0, lineFirst);
    for (std::uint32_t k = g1; k > rest;) {
      --k;
      const bool lineHasGlyphs = lineFirst < rest || k + 1 < g1;
      if (wrap && lineHasGlyphs && x + w.advances[k] > wrapWidth) {
        const std::uint32_t fitted = g1 - (k + 1);
        Rotate(w.records.Data(), rest, k + 1, g1);
        Rotate(w.advances.Data(), rest, k + 1, g1);
        Rotate(w.offsets.Data(), rest, k + 1, g1);
        rest += fitted;
        if (FAILED(hr = emit(rest, rest > g0 ? r + 1 : r))) return hr;
        lineRun = r;
        k = g1;  // the break glyph now stands last; read on from it
        continue;
      }
      x += w.advances[k];
    }
  }
  if (x > 0 && *total <= limit) hr = EmitLine(lineFirst, w.glyphCount, lineRun, w.runCount, rightToLeft, widest, total);
  return hr;
}

HRESULT GlyphTextureFontObject::EmitLine(std::uint32_t first, std::uint32_t end, std::uint32_t firstRun,
                                         std::uint32_t endRun, bool rightToLeft, std::uint32_t* widest,
                                         std::uint32_t* total) {
  TextLayoutWork& w = m_work;
  while (endRun > firstRun && end > first && (w.runs[endRun - 1].flags & (kRunCarriageReturn | kRunLineFeed))) {
    --end;
    --endRun;
  }
  auto range = [&](std::uint32_t q, std::uint32_t* a, std::uint32_t* b) {
    *a = std::max(w.runs[q].firstGlyph, first);
    *b = std::min(w.runs[q + 1].firstGlyph, end);
    if (*b < *a) *b = *a;
  };
  auto isRtl = [&](std::uint32_t q) { return (w.runs[q].flags & kRunRightToLeft) != 0; };

  // Visual order: stretches of runs of one direction, placed from the line's
  // start (left-to-right reading) or from its end; a right-to-left stretch
  // writes its runs last to first.
  std::uint32_t front = first, back = end;
  for (std::uint32_t s = firstRun; s < endRun;) {
    std::uint32_t e = s, length = 0, a, b;
    for (; e < endRun && isRtl(e) == isRtl(s); ++e) {
      range(e, &a, &b);
      length += b - a;
    }
    std::uint32_t slot = rightToLeft ? (back -= length) : front;
    front += rightToLeft ? 0 : length;
    for (std::uint32_t i = 0; i < e - s; ++i) {
      range(isRtl(s) ? e - 1 - i : s + i, &a, &b);
      for (std::uint32_t g = a; g < b; ++g) w.order[slot++] = g;
    }
    s = e;
  }

  // Blanks at the trailing side of the line take no room.
  auto isBlank = [&](std::uint32_t slot) { return w.glyphs[w.order[slot]] == m_fontProperties.wgBlank; };
  auto clearFromEnd = [&] {
    for (std::uint32_t s = end; s > first && isBlank(s - 1); --s) w.advances[w.order[s - 1]] = 0;
  };
  auto clearFromStart = [&] {
    for (std::uint32_t s = first; s < end && isBlank(s); ++s) w.advances[w.order[s]] = 0;
  };
  if (endRun > firstRun) {
    const bool firstRtl = isRtl(firstRun), lastRtl = isRtl(endRun - 1);
    if (rightToLeft) {
      if (!firstRtl) clearFromEnd();
      if (lastRtl) clearFromStart();
    } else {
      if (firstRtl) clearFromStart();
      if (!lastRtl) clearFromEnd();
    }
  }

  std::int64_t x = 0;
  for (std::uint32_t s = first; s < end; ++s) {
    w.xPositions[w.order[s]] = static_cast<int>(x);
    x += w.advances[w.order[s]];
  }
  if (FAILED(w.lines.Reserve(std::uint64_t{w.lineCount} + 1))) return E_OUTOFMEMORY;
  const auto width = static_cast<std::uint32_t>(std::clamp<std::int64_t>(x, 0, INT_MAX));
  w.lines[w.lineCount++] = TextLine{first, end, width};
  *widest = std::max(*widest, width);
  *total += static_cast<std::uint32_t>(std::max<LONG>(m_metrics.tmHeight, 0));
  return S_OK;
}

HRESULT GlyphTextureFontObject::DrawLines(SpriteBatcher* sprite, const RECT* clip, DWORD format, std::int64_t x,
                                          std::int64_t y, std::uint32_t widest, D3DCOLOR color) {
  const bool own = !sprite;
  if (own) {
    if (!m_sprite) {
      SpriteBatcher* batcher = nullptr;
      const HRESULT hr = GXLCreateSpriteBatcher(m_device.Get(), &batcher);
      if (FAILED(hr)) return hr;
      m_sprite = ComRef<SpriteBatcher>(batcher);
    }
    const HRESULT hr = m_sprite->BeginBatch(SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::SortByTexture);
    if (FAILED(hr)) return hr;
    sprite = m_sprite.Get();
  }
  HRESULT hr = QueueLines(sprite, clip, format, x, y, widest, color);
  if (own) {
    const HRESULT ended = m_sprite->EndBatch();
    if (SUCCEEDED(hr)) hr = ended;
  }
  return hr;
}

HRESULT GlyphTextureFontObject::QueueLines(SpriteBatcher* sprite, const RECT* clip, DWORD format, std::int64_t x,
                                           std::int64_t y, std::uint32_t widest, D3DCOLOR color) {
  const TextLayoutWork& w = m_work;
  const std::int64_t lineHeight = std::max<LONG>(m_metrics.tmHeight, 1);
  std::uint32_t line = 0;
  if (clip) {
    // Lines wholly above the clip rectangle are skipped; never before the first.
    const std::int64_t skip = std::clamp<std::int64_t>((clip->top - y) / lineHeight, 0, w.lineCount);
    line = static_cast<std::uint32_t>(skip);
    y += skip * lineHeight;
  }
  for (; line < w.lineCount && (!clip || y < clip->bottom); ++line, y += lineHeight) {
    const TextLine& l = w.lines[line];
    const std::int64_t spare = std::int64_t{widest} - l.width;
    const std::int64_t lineX = x + ((format & DT_CENTER) ? spare / 2 : (format & DT_RIGHT) ? spare : 0);
    for (std::uint32_t slot = l.firstGlyph; slot < l.endGlyph; ++slot) {
      const std::uint32_t g = w.order[slot];
      const GlyphRecord* record = w.records[g];
      if (!Drawable(record)) continue;
      std::int64_t left = record->inkX + std::int64_t{w.xPositions[g]} + w.offsets[g].du + lineX;
      std::int64_t top = record->inkY + std::int64_t{w.offsets[g].dv} + y;
      RECT source = {record->left, record->top, record->right, record->bottom};
      Vec3 centre((source.right - source.left) * 0.5f, (source.bottom - source.top) * 0.5f, 0.0f);
      const Vec3 position(static_cast<float>(left + centre.x), static_cast<float>(top + centre.y), 0.0f);
      if (clip) {
        // Cut what lies outside; the rest keeps its place.
        const std::int64_t cutLeft = std::max<std::int64_t>(clip->left - left, 0);
        const std::int64_t cutTop = std::max<std::int64_t>(clip->top - top, 0);
        const std::int64_t cutRight = std::max<std::int64_t>(left + (source.right - source.left) - clip->right, 0);
        const std::int64_t cutBottom = std::max<std::int64_t>(top + (source.bottom - source.top) - clip->bottom, 0);
        source.left = ToLong(source.left + cutLeft);
        source.top = ToLong(source.top + cutTop);
        source.right = ToLong(source.right - cutRight);
        source.bottom = ToLong(source.bottom - cutBottom);
        centre.x -= static_cast<float>(cutLeft);
        centre.y -= static_cast<float>(cutTop);
      }
      if (source.right <= source.left || source.bottom <= source.top) continue;
      const HRESULT hr = sprite->QueueSprite(record->texture, &source, &centre, &position, color);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

}  // namespace gxl

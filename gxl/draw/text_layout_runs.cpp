// From text to glyphs and runs: GDI character placement, or the script engine
// itemising, breaking, shaping and placing when "usp10.dll" is present. A run
// is the unit that word wrap moves and right-to-left text reverses.
#include <algorithm>

#include "gxl/draw/glyph_font_object.h"
#include "platform/win_kernel.h"

namespace gxl {
namespace {

using platform::crt::iswalpha;
using platform::crt::iswdigit;
using platform::crt::iswpunct;
using platform::crt::iswspace;

constexpr char kClassRightToLeft = 2;                        // GCPCLASS_ARABIC
constexpr char kClassPreBoundLtr = static_cast<char>(0x80);  // GCPCLASS_PREBOUNDLTR
constexpr char kClassPreBoundRtl = 0x40;                     // GCPCLASS_PREBOUNDRTL
// The placement features a font may ask for: GCP_REORDER, GCP_USEKERNING,
// GCP_GLYPHSHAPE, GCP_LIGATE, GCP_DIACRITIC.
constexpr DWORD kPlacementFeatures = 0x13A;
constexpr WORD kStringPieceGlyph = 0xFFFF;

std::uint32_t ControlFlags(WCHAR c) {
  switch (c) {
    case u'\r':
      return kRunCarriageReturn;
    case u'\n':
      return kRunLineFeed;
    case u'\t':
      return kRunTab;
    default:
      return 0;
  }
}

template <class T>
void Reverse(T* data, std::uint32_t first, std::uint32_t end) {
  std::reverse(data + first, data + end);
}

// GDI's placement of the text into the glyph, order, advance and class arrays.
template <class Results, class Char>
DWORD PlaceCharacters(DWORD (*place)(HDC, const Char*, int, int, Results*, DWORD), HDC dc, const Char* text,
                      std::uint32_t count, DWORD flags, TextLayoutWork& w, UINT* glyphCount) {
  Results r{};
  r.lStructSize = sizeof r;
  r.lpOrder = w.order.Data();
  r.lpDx = w.advances.Data();
  r.lpClass = w.classes.Data();
  r.lpGlyphs = reinterpret_cast<LPWSTR>(w.glyphs.Data());
  r.nGlyphs = count;
  const DWORD placed = place(dc, text, static_cast<int>(count), 0, &r, flags);
  *glyphCount = r.nGlyphs;
  return placed;
}

}  // namespace

HRESULT GlyphTextureFontObject::ReserveGlyphs(std::uint64_t count) {
  TextLayoutWork& w = m_work;
  if (FAILED(w.glyphs.Reserve(count)) || FAILED(w.records.Reserve(count)) || FAILED(w.advances.Reserve(count)) ||
      FAILED(w.offsets.Reserve(count)) || FAILED(w.visAttrs.Reserve(count)))
    return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT GlyphTextureFontObject::MakeGlyphs(const void* text, std::uint32_t count, bool wide, bool rightToLeft) {
  TextLayoutWork& w = m_work;
  if (FAILED(ReserveGlyphs(count)) || FAILED(w.order.Reserve(count)) || FAILED(w.classes.Reserve(count)) ||
      FAILED(w.text.Reserve(count)))
    return E_OUTOFMEMORY;
  std::fill_n(w.classes.Data(), count, 0);
  w.classes[0] = rightToLeft ? kClassPreBoundRtl : kClassPreBoundLtr;

  const DWORD flags = (m_languageInfo & kPlacementFeatures) | GCP_CLASSIN;
  UINT glyphCount = 0;
  const DWORD placed =
      wide ? PlaceCharacters<GCP_RESULTSW>(&GetCharacterPlacementW, m_dc, static_cast<LPCWSTR>(text), count, flags, w,
                                           &glyphCount)
           : PlaceCharacters<GCP_RESULTSA>(&GetCharacterPlacementA, m_dc, static_cast<LPCSTR>(text), count, flags, w,
                                           &glyphCount);
  if (placed == 0) return E_FAIL;
  const std::uint32_t n = std::min<std::uint32_t>(glyphCount, count);
  for (std::uint32_t i = 0; i < n; ++i) {
    w.offsets[i] = GOFFSET{0, 0};
    const std::uint32_t source = std::min(w.order[i], count - 1);
    // An 8-bit character is sign-extended, as the 8-bit runtime reads it.
    w.text[i] = wide ? static_cast<LPCWSTR>(text)[source]
                     : static_cast<WCHAR>(static_cast<signed char>(static_cast<LPCSTR>(text)[source]));
  }
  HRESULT hr = SplitIntoRuns(n, count);
  if (FAILED(hr)) return hr;
  ReverseRightToLeftRuns();
  if (FAILED(w.runWidths.Reserve(w.runCount))) return E_OUTOFMEMORY;
  for (std::uint32_t r = 0; r < w.runCount; ++r) {
    int sum = 0;
    for (std::uint32_t g = w.runs[r].firstGlyph; g < w.runs[r + 1].firstGlyph; ++g) sum += w.advances[g];
    w.runWidths[r] = ABC{0, static_cast<UINT>(sum), 0};
  }
  w.glyphCount = n;
  return CacheGlyphs(w.glyphs.Data(), n, w.records.Data());
}

HRESULT GlyphTextureFontObject::SplitIntoRuns(std::uint32_t glyphCount, std::uint32_t textLength) {
  TextLayoutWork& w = m_work;
  if (FAILED(w.runs.Reserve(std::uint64_t{glyphCount} + 1))) return E_OUTOFMEMORY;
  const WCHAR* ch = w.text.Data();
  std::uint32_t r = 0, i = 0;
  auto takeWhile = [&](auto test) {
    while (i < glyphCount && test(ch[i])) ++i;
  };
  auto spaces = [&] { takeWhile([](WCHAR c) { return c == u' '; }); };
  while (i < glyphCount) {
    TextRun run = {0, w.order[i], i, 0};
    const WCHAR c = ch[i++];
    if (c == u' ') {
      spaces();
    } else if (const std::uint32_t control = ControlFlags(c)) {
      run.flags = control;
    } else if (w.classes[i - 1] == kClassRightToLeft) {
      while (i < glyphCount && w.classes[i] == kClassRightToLeft && !iswspace(ch[i])) ++i;
      run.flags = kRunRightToLeft;
      spaces();
    } else if (iswalpha(c)) {
      takeWhile([](WCHAR d) { return iswalpha(d) || iswdigit(d) || d == u'_'; });
      spaces();
    } else if (iswdigit(c)) {
      takeWhile([](WCHAR d) { return iswdigit(d) != 0; });
      spaces();
    } else if (iswpunct(c)) {
      takeWhile([](WCHAR d) { return iswpunct(d) != 0; });
      spaces();
    }
    w.runs[r++] = run;
  }
  w.runs[r] = TextRun{0, textLength, glyphCount, 0};
  w.runCount = r;
  return S_OK;
}

void GlyphTextureFontObject::ReverseRightToLeftRuns() {
  TextLayoutWork& w = m_work;
  for (std::uint32_t a = 0; a < w.runCount;) {
    if (!(w.runs[a].flags & kRunRightToLeft)) {
      ++a;
      continue;
    }
    std::uint32_t b = a;
    while (b < w.runCount && (w.runs[b].flags & kRunRightToLeft)) ++b;
    const std::uint32_t first = w.runs[a].firstGlyph, end = w.runs[b].firstGlyph;
    // The runs swap places; each keeps its glyphs in their order.
    Reverse(w.glyphs.Data(), first, end);
    Reverse(w.advances.Data(), first, end);
    Reverse(w.runs.Data(), a, b);
    std::uint32_t next = end, position = first;
    for (std::uint32_t k = a; k < b; ++k) {
      const std::uint32_t original = w.runs[k].firstGlyph;
      w.runs[k].firstGlyph = position;
      position += next - original;
      next = original;
    }
    for (std::uint32_t k = a; k < b; ++k) {
      const std::uint32_t runEnd = k + 1 < b ? w.runs[k + 1].firstGlyph : end;
      Reverse(w.glyphs.Data(), w.runs[k].firstGlyph, runEnd);
      Reverse(w.advances.Data(), w.runs[k].firstGlyph, runEnd);
    }
    a = b;
  }
}

HRESULT GlyphTextureFontObject::MakeScriptGlyphs(const void* text, std::uint32_t count, bool wide,
                                                 bool rightToLeft) {
  const GlyphFontImports& api = *m_imports;
  TextLayoutWork& w = m_work;
  const WCHAR* chars = static_cast<LPCWSTR>(text);
  if (!wide) {
    const int n = MultiByteToWideChar(CP_ACP, 0, static_cast<LPCSTR>(text), static_cast<int>(count), nullptr, 0);
    if (n <= 0) return E_FAIL;
    if (FAILED(w.text.Reserve(static_cast<std::uint32_t>(n)))) return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_ACP, 0, static_cast<LPCSTR>(text), static_cast<int>(count), w.text.Data(), n);
    chars = w.text.Data();
    count = static_cast<std::uint32_t>(n);
  }

  m_scriptState = SCRIPT_STATE{};
  m_scriptControl = SCRIPT_CONTROL{};
  HRESULT hr = api.scriptApplyDigitSubstitution(&api.digitSubstitute, &m_scriptControl, &m_scriptState);
  if (FAILED(hr)) return hr;
  if (rightToLeft) m_scriptState.uBidiLevel = 1;

  int itemCount = 0;
  for (std::uint64_t capacity = std::uint64_t{count} + 1;; capacity = std::uint64_t{w.items.Capacity()} * 2) {
    if (FAILED(w.items.Reserve(capacity, true))) return E_OUTOFMEMORY;
    hr = api.scriptItemize(chars, static_cast<int>(count), static_cast<int>(w.items.Capacity()), &m_scriptControl,
                           &m_scriptState, w.items.Data(), &itemCount);
    if (hr != E_OUTOFMEMORY) break;
  }
  if (FAILED(hr)) return hr;
  itemCount = std::clamp(itemCount, 0, static_cast<int>(w.items.Capacity()) - 1);

  if (FAILED(w.logAttrs.Reserve(count)) || FAILED(w.clusters.Reserve(count)) ||
      FAILED(w.runs.Reserve(std::uint64_t{count} + 1)))
    return E_OUTOFMEMORY;
  std::uint32_t runCount = 0;
  for (int k = 0; k < itemCount; ++k) {
    const int start = w.items[k].iCharPos, end = w.items[k + 1].iCharPos;
    if (start < 0 || end < start || static_cast<std::uint32_t>(end) > count) return E_FAIL;
    if (start == end) continue;
    hr = api.scriptBreak(chars + start, end - start, &w.items[k].a, w.logAttrs.Data() + start);
    if (FAILED(hr)) return hr;
    for (int c = start; c < end; ++c) {
      if (c != start && !w.logAttrs[c].fWordStop) continue;
      const std::uint32_t flags = ControlFlags(chars[c]) | (w.items[k].a.fLayoutRTL ? kRunRightToLeft : 0);
      w.runs[runCount++] = TextRun{static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(c), 0, flags};
    }
  }
  w.runs[runCount] = TextRun{0, count, 0, 0};
  w.runCount = runCount;
  if (FAILED(w.runWidths.Reserve(runCount))) return E_OUTOFMEMORY;

  std::uint64_t estimate = std::uint64_t{count} * 3 / 2 + 16;
  if (FAILED(ReserveGlyphs(estimate))) return E_OUTOFMEMORY;
  w.glyphCount = 0;
  for (std::uint32_t r = 0; r < runCount; ++r) {
    hr = ShapeRun(r, chars, rightToLeft, &estimate);
    if (FAILED(hr)) return hr;
  }
  w.runs[runCount].firstGlyph = w.glyphCount;
  return S_OK;
}

HRESULT GlyphTextureFontObject::ShapeRun(std::uint32_t r, const WCHAR* chars, bool rightToLeft,
                                         std::uint64_t* estimate) {
  const GlyphFontImports& api = *m_imports;
  TextLayoutWork& w = m_work;
  TextRun& run = w.runs[r];
  const std::uint32_t first = run.firstChar, length = w.runs[r + 1].firstChar - first;
  const std::uint32_t made = w.glyphCount;
  run.firstGlyph = made;
  SCRIPT_ANALYSIS& analysis = w.items[run.item].a;

  int shaped = 0;
  HRESULT hr;
  for (;;) {
    const int room = static_cast<int>(w.glyphs.Capacity() - made);
    hr = api.scriptShape(m_dc, &m_scriptCache, chars + first, static_cast<int>(length), room, &analysis,
                         w.glyphs.Data() + made, w.clusters.Data() + first, w.visAttrs.Data() + made, &shaped);
    if (hr != E_OUTOFMEMORY) break;
    *estimate = std::uint64_t{w.glyphs.Capacity()} * 2;
    if (FAILED(ReserveGlyphs(*estimate))) return E_OUTOFMEMORY;
  }
  shaped = SUCCEEDED(hr) ? std::clamp(shaped, 0, static_cast<int>(w.glyphs.Capacity() - made)) : 0;
  const WORD* glyphs = w.glyphs.Data() + made;
  if (FAILED(hr) || std::find(glyphs, glyphs + shaped, m_fontProperties.wgDefault) != glyphs + shaped) {
    // The font cannot show the run glyph by glyph: draw it whole.
    int count = 0;
    GlyphRecord* pieces = nullptr;
    const int* widths = nullptr;
    hr = CacheStringPieces(chars + first, static_cast<int>(length), rightToLeft, &count, &pieces, &widths);
    if (FAILED(hr)) return hr;
    *estimate = std::max<std::uint64_t>(*estimate, std::uint64_t{made} + count);
    if (FAILED(ReserveGlyphs(*estimate))) return E_OUTOFMEMORY;
    int sum = 0;
    for (int k = 0; k < count; ++k) {
      w.glyphs[made + k] = kStringPieceGlyph;
      w.records[made + k] = &pieces[k];
      w.advances[made + k] = widths[k];
      w.offsets[made + k] = GOFFSET{0, 0};
      sum += widths[k];
    }
    w.runWidths[r] = ABC{0, static_cast<UINT>(sum), 0};
    w.glyphCount = made + count;
    return S_OK;
  }
  w.runWidths[r] = ABC{};
  hr = api.scriptPlace(m_dc, &m_scriptCache, w.glyphs.Data() + made, shaped, w.visAttrs.Data() + made, &analysis,
                       w.advances.Data() + made, w.offsets.Data() + made, &w.runWidths[r]);
  if (FAILED(hr)) return S_OK;  // the run's glyphs are dropped
  hr = CacheGlyphs(w.glyphs.Data() + made, static_cast<std::uint32_t>(shaped), w.records.Data() + made);
  if (FAILED(hr)) return hr;
  w.glyphCount = made + static_cast<std::uint32_t>(shaped);
  return S_OK;
}

}  // namespace gxl

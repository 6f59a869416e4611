// Whole strings of complex scripts, for runs the script engine cannot shape
// glyph by glyph: rendered once with the engine's string functions, cut into
// pieces at most one string-piece cell wide and cached like glyphs, keyed by
// the string in a character trie.
#include <algorithm>
#include <cstdint>
#include <new>

#include "gxl/draw/glyph_font_object.h"

namespace gxl {
namespace {

// Frees the analysis however the rendering ends.
class StringAnalysis {
 public:
  explicit StringAnalysis(const GlyphFontImports& imports) : m_imports(imports) {}
  ~StringAnalysis() {
    if (m_analysis) m_imports.scriptStringFree(&m_analysis);
  }
  StringAnalysis(const StringAnalysis&) = delete;
  StringAnalysis& operator=(const StringAnalysis&) = delete;
  SCRIPT_STRING_ANALYSIS* Put() { return &m_analysis; }
  SCRIPT_STRING_ANALYSIS Get() const { return m_analysis; }

 private:
  const GlyphFontImports& m_imports;
  SCRIPT_STRING_ANALYSIS m_analysis = nullptr;
};

// Calls piece(left, width) for each piece of the spans between the caret
// positions of consecutive characters, each span cut from its left end.
template <class Piece>
HRESULT ForEachPiece(const GlyphFontImports& api, SCRIPT_STRING_ANALYSIS analysis, int length, int stringWidth,
                     int cell, Piece&& piece) {
  auto clamp = [&](int x) { return std::clamp(x, 0, stringWidth); };
  int prev = 0;
  HRESULT hr = api.scriptStringCPtoX(analysis, 0, FALSE, &prev);
  if (FAILED(hr)) return hr;
  prev = clamp(prev);
  for (int i = 0; i < length; ++i) {
    int x = 0;
    hr = api.scriptStringCPtoX(analysis, i, TRUE, &x);
    if (FAILED(hr)) return hr;
    x = clamp(x);
    if (x == prev) continue;
    const int lo = std::min(prev, x), hi = std::max(prev, x);
    for (int left = lo; left < hi; left += cell) {
      hr = piece(left, std::min(cell, hi - left));
      if (FAILED(hr)) return hr;
    }
    prev = x;
  }
  return S_OK;
}

}  // namespace

void DeleteStringPieceTrie(StringPieceNode* root) {
  StringPieceNode* pending = root;
  while (pending) {
    StringPieceNode* node = pending;
    pending = node->sibling;
    if (StringPieceNode* child = node->child) {
      StringPieceNode* last = child;
      while (last->sibling) last = last->sibling;
      last->sibling = pending;
      pending = child;
    }
    delete node;
  }
}

HRESULT GlyphTextureFontObject::FindStringNode(const WCHAR* text, int length, StringPieceNode** found) {
  StringPieceNode** link = &m_pieceRoot;
  StringPieceNode* node = nullptr;
  for (int i = 0; i < length; ++i) {
    StringPieceNode* at = *link;
    while (at && at->character > text[i]) {
      link = &at->sibling;
      at = *link;
    }
    if (!at || at->character != text[i]) {
      auto* fresh = new (std::nothrow) StringPieceNode{text[i], nullptr, at, -1, nullptr, nullptr};
      if (!fresh) return E_OUTOFMEMORY;
      *link = fresh;
      at = fresh;
    }
    node = at;
    link = &at->child;
  }
  *found = node;
  return S_OK;
}

HRESULT GlyphTextureFontObject::CacheStringPieces(const WCHAR* text, int length, bool rightToLeft, int* count,
                                                  GlyphRecord** pieces, const int** widths) {
  *count = 0;
  if (length <= 0) return S_OK;
  StringPieceNode* node = nullptr;
  HRESULT hr = FindStringNode(text, length, &node);
  if (FAILED(hr)) return hr;
  if (node->pieceCount < 0) {
    hr = RenderStringPieces(text, length, rightToLeft, node);
    if (FAILED(hr)) return hr;
  }
  *count = node->pieceCount;
  *pieces = node->pieces.get();
  *widths = node->widths.get();
  return S_OK;
}

HRESULT GlyphTextureFontObject::RenderStringPieces(const WCHAR* text, int length, bool rightToLeft,
                                                   StringPieceNode* node) {
  const GlyphFontImports& api = *m_imports;
  StringAnalysis analysis(api);
  const DWORD flags = SSA_LINK | SSA_GLYPHS | SSA_FALLBACK | (rightToLeft ? SSA_RTL : 0);
  const int glyphEstimate = static_cast<int>(std::min<std::int64_t>(std::int64_t{length} * 3 / 2 + 16, INT32_MAX));
  HRESULT hr = api.scriptStringAnalyse(m_dc, text, length, glyphEstimate, -1, flags, 0, &m_scriptControl,
                                       &m_scriptState, nullptr, nullptr, nullptr, analysis.Put());
  if (FAILED(hr)) return hr;
  const SIZE* size = api.scriptStringPSize(analysis.Get());
  const int stringWidth = size ? std::max<LONG>(size->cx, 0) : 0;
  if (stringWidth > m_dibWidth && FAILED(CreateGlyphDib(stringWidth, m_dibHeight))) return E_OUTOFMEMORY;
  std::fill(m_dibBits, m_dibBits + std::size_t(m_dibWidth) * m_dibHeight, 0u);
  hr = api.scriptStringOut(analysis.Get(), 0, 0, ETO_OPAQUE, nullptr, 0, 0, FALSE);
  if (FAILED(hr)) return hr;

  const int cell = static_cast<int>(m_pieceClass.cellSize);
  int count = 0;
  hr = ForEachPiece(api, analysis.Get(), length, stringWidth, cell, [&](int, int) {
    ++count;
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  std::unique_ptr<GlyphRecord[]> pieces(new (std::nothrow) GlyphRecord[std::max(count, 1)]());
  std::unique_ptr<int[]> widths(new (std::nothrow) int[std::max(count, 1)]());
  if (!pieces || !widths) return E_OUTOFMEMORY;
  int k = 0;
  hr = ForEachPiece(api, analysis.Get(), length, stringWidth, cell, [&](int left, int width) {
    if (k >= count) return E_FAIL;  // the engine answered differently the second time
    widths[k] = width;
    return CopyGlyphToTexture(left, width, m_dibHeight, m_pieceClass, &pieces[k++]);
  });
  if (FAILED(hr)) return hr;
  node->pieceCount = k;
  node->pieces = std::move(pieces);
  node->widths = std::move(widths);
  return S_OK;
}

}  // namespace gxl

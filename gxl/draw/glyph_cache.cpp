// The glyph texture cache: each glyph is drawn once with GDI into the font's
// DIB, its coverage copied as alpha into a cell of a glyph texture (white
// texels, so the sprite's colour gives the text its colour) and its mip levels
// built from the coverage in linear light.
#include <algorithm>
#include <new>

#include "gxl/draw/glyph_font_object.h"
#include "gxl/tex/pixel_codec.h"

namespace gxl {
namespace {

constexpr std::uint32_t kClearTexel = 0x00FFFFFF;  // white, alpha 0
constexpr std::uint32_t kGlyphsPerPage = 256;

std::uint32_t* TexelRow(const D3DLOCKED_RECT& locked, std::uint32_t y) {
  return reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) + std::size_t(y) * locked.Pitch);
}

// The corner of the cell that `used` texels into the texture start at: the
// bits of `used` de-interleaved (even bits x, odd bits y), so cells fill the
// texture quadrant by quadrant and stay aligned to their size at every level.
void CellCorner(std::uint32_t used, std::uint32_t textureSize, std::uint32_t* cx, std::uint32_t* cy) {
  *cx = *cy = 0;
  for (std::uint32_t k = 0; (1u << k) < textureSize; ++k) {
    *cx |= ((used >> (2 * k)) & 1u) << k;
    *cy |= ((used >> (2 * k + 1)) & 1u) << k;
  }
}

std::uint32_t AlphaTexel(float coverage) {
  const auto a = static_cast<std::uint32_t>(coverage * 255.0f + 0.5f);
  return (std::min(a, 255u) << 24) | kClearTexel;
}

}  // namespace

bool GlyphTextureFontObject::IsGlyphPresent(UINT glyph) {
  GLYPHMETRICS metrics{};
  const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  return GetGlyphOutlineA(m_dc, glyph, GGO_GLYPH_INDEX | GGO_METRICS, &metrics, 0, nullptr, &identity) != GDI_ERROR;
}

HRESULT GlyphTextureFontObject::CacheGlyphs(const WORD* glyphs, std::uint32_t count, GlyphRecord** records) {
  for (std::uint32_t i = 0; i < count; ++i) {
    const WORD glyph = glyphs[i];
    const std::uint32_t page = glyph >> 8;
    if (!m_pages[page]) {
      m_pages[page].reset(new (std::nothrow) GlyphRecord[kGlyphsPerPage]());
      if (!m_pages[page]) return E_OUTOFMEMORY;
      m_pageCount = std::max(m_pageCount, page + 1);
    }
    GlyphRecord* record = &m_pages[page][glyph & 0xFF];
    if (records) records[i] = record;
    if (record->texture) continue;

    // Ink of an earlier glyph may reach past this one's opaque cell.
    std::fill(m_dibBits, m_dibBits + std::size_t(m_dibWidth) * m_dibHeight, 0u);
    const WCHAR index = glyph;
    ExtTextOutW(m_dc, 0, 0, ETO_OPAQUE | ETO_GLYPH_INDEX, nullptr, &index, 1, nullptr);
    int width = 0;
    if (m_metrics.tmPitchAndFamily & TMPF_TRUETYPE) {
      ABC abc{};
      if (m_imports->getCharABCWidthsI(m_dc, 0, 1, &glyph, &abc)) width = abc.abcA + static_cast<int>(abc.abcB);
    } else {
      m_imports->getCharWidthI(m_dc, 0, 1, &glyph, &width);
    }
    if (width <= 0) {
      record->texture = EmptyGlyph();
      continue;
    }
    GlyphTextureClass& cls = width > static_cast<int>(m_narrow.cellSize) ? m_wide : m_narrow;
    const HRESULT hr = CopyGlyphToTexture(0, width, m_metrics.tmHeight, cls, record);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT GlyphTextureFontObject::NextCell(GlyphTextureClass& cls) {
  if (std::uint64_t{cls.used} + cls.cellArea <= cls.textureArea) return S_OK;
  if (FAILED(m_textures.Reserve(std::uint64_t{m_textureCount} + 1))) return E_OUTOFMEMORY;
  IDirect3DTexture9* texture = nullptr;
  HRESULT hr = m_device->CreateTexture(cls.textureSize, cls.textureSize, cls.levels, 0, m_format, D3DPOOL_MANAGED,
                                       &texture, nullptr);
  if (FAILED(hr)) return hr;
  m_textures[m_textureCount++] = texture;
  cls.current = texture;
  cls.used = 0;
  for (std::uint32_t level = 0; level < cls.levels; ++level) {
    D3DLOCKED_RECT locked{};
    hr = texture->LockRect(level, &locked, nullptr, 0);
    if (FAILED(hr)) {
      cls.used = cls.textureArea;  // never hand out cells of a texture left uncleared
      return hr;
    }
    const std::uint32_t size = std::max(cls.textureSize >> level, 1u);
    for (std::uint32_t y = 0; y < size; ++y) std::fill_n(TexelRow(locked, y), size, kClearTexel);
    texture->UnlockRect(level);
  }
  return S_OK;
}

HRESULT GlyphTextureFontObject::CopyGlyphToTexture(int sourceX, int width, int height, GlyphTextureClass& cls,
                                                   GlyphRecord* record) {
  // Only what both the DIB and the cell hold is copied: a glyph wider than
  // either is cut, never placed outside its cell.
  const int cell = static_cast<int>(cls.cellSize);
  width = std::min({width, m_dibWidth - sourceX, cell});
  height = std::min({height, m_dibHeight, cell});
  if (sourceX < 0 || width <= 0 || height <= 0) {
    record->texture = EmptyGlyph();
    return S_OK;
  }
  HRESULT hr = NextCell(cls);
  if (FAILED(hr)) return hr;
  std::uint32_t cx = 0, cy = 0;
  CellCorner(cls.used, cls.textureSize, &cx, &cy);
  const bool mips = cls.levels > 1 && m_mipBuffer;
  if (mips) std::fill_n(m_mipBuffer.get(), std::size_t{2} * cls.cellArea, 0.0f);
  const std::uint32_t dx = static_cast<std::uint32_t>(cell - width) / 2;  // the glyph's place in its cell
  const std::uint32_t dy = static_cast<std::uint32_t>(cell - height) / 2;

  D3DLOCKED_RECT locked{};
  hr = cls.current->LockRect(0, &locked, nullptr, 0);
  if (FAILED(hr)) return hr;
  RECT ink = {width, height, -1, -1};  // inclusive while gathering
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* source = m_dibBits + std::size_t(y) * m_dibWidth + sourceX;
    std::uint32_t* row = TexelRow(locked, cy + dy + y) + cx + dx;
    for (int x = 0; x < width; ++x) {
      // White on black: every colour byte holds the coverage.
      const std::uint32_t a = (source[x] >> 8) & 0xFF;
      if (a == 0) continue;
      ink = {std::min<LONG>(ink.left, x), std::min<LONG>(ink.top, y), std::max<LONG>(ink.right, x),
             std::max<LONG>(ink.bottom, y)};
      row[x] = (a << 24) | kClearTexel;
      if (mips) m_mipBuffer[2 * ((dy + y) * cls.cellSize + dx + x)] = SrgbToLinear(a * (1.0f / 255.0f));
    }
  }
  cls.current->UnlockRect(0);
  if (ink.right < 0) {
    record->texture = EmptyGlyph();  // no coverage: the cell is not used
    return S_OK;
  }
  if (mips) {
    const RECT cellInk = {LONG(dx) + ink.left, LONG(dy) + ink.top, LONG(dx) + ink.right + 1, LONG(dy) + ink.bottom + 1};
    hr = BuildMipLevels(cls, cx, cy, cellInk);
    if (FAILED(hr)) {
      cls.used += cls.cellArea;  // the cell holds ink now; the glyph is tried again elsewhere
      return hr;
    }
  }

  const std::uint32_t left = cx + dx + ink.left, top = cy + dy + ink.top;
  const std::uint32_t right = cx + dx + ink.right + 1, bottom = cy + dy + ink.bottom + 1;
  GlyphRecord r = {cls.current,
                   static_cast<std::uint16_t>(left),
                   static_cast<std::uint16_t>(top),
                   static_cast<std::uint16_t>(right),
                   static_cast<std::uint16_t>(bottom),
                   static_cast<std::int16_t>(ink.left),
                   static_cast<std::int16_t>(ink.top)};
  // A transparent border texel where the cell has room, so filtering at the
  // edges blends with nothing but clear texels.
  if (cx < left) --r.left, --r.inkX;
  if (cy < top) --r.top, --r.inkY;
  if (right < cx + cls.cellSize) ++r.right;
  if (bottom < cy + cls.cellSize) ++r.bottom;
  *record = r;
  cls.used += cls.cellArea;
  return S_OK;
}

HRESULT GlyphTextureFontObject::BuildMipLevels(const GlyphTextureClass& cls, std::uint32_t cx, std::uint32_t cy,
                                               const RECT& ink) {
  float* buffer = m_mipBuffer.get();
  const std::uint32_t stride = cls.cellSize;
  // Only texels of the ink box count, so the glyph does not fade at its edges.
  for (LONG y = ink.top; y < ink.bottom; ++y)
    for (LONG x = ink.left; x < ink.right; ++x) buffer[2 * (y * stride + x) + 1] = 1.0f;

  for (std::uint32_t level = 1; level < cls.levels; ++level) {
    const std::uint32_t n = cls.cellSize >> level;
    if (n == 0) break;
    D3DLOCKED_RECT locked{};
    const HRESULT hr = cls.current->LockRect(level, &locked, nullptr, 0);
    if (FAILED(hr)) return hr;
    // In place: entry (i, j) is written only after every entry it reads.
    for (std::uint32_t j = 0; j < n; ++j) {
      std::uint32_t* row = TexelRow(locked, (cy >> level) + j) + (cx >> level);
      for (std::uint32_t i = 0; i < n; ++i) {
        const float* a = buffer + 2 * (2 * j * stride + 2 * i);
        const float* b = a + 2 * stride;
        const float value = (a[0] + a[2] + b[0] + b[2]) * 0.25f;
        const float weight = (a[1] + a[3] + b[1] + b[3]) * 0.25f;
        float* out = buffer + 2 * (j * stride + i);
        out[0] = value;
        out[1] = weight;
        if (weight != 0.0f) row[i] = AlphaTexel(LinearToSrgb(value / weight));
      }
    }
    cls.current->UnlockRect(level);
  }
  return S_OK;
}

HRESULT GlyphTextureFontObject::GetCachedGlyph(UINT glyph, IDirect3DTexture9** texture, RECT* rect, POINT* offset) {
  WORD index = static_cast<WORD>(glyph);
  const bool standIn = !IsGlyphPresent(index);
  if (standIn) index = m_fontProperties.wgDefault;
  GlyphRecord* record = nullptr;
  const HRESULT hr = CacheGlyphs(&index, 1, &record);
  if (FAILED(hr)) return hr;
  const bool drawable = Drawable(record);
  if (texture) {
    *texture = drawable ? record->texture : nullptr;
    if (drawable) record->texture->AddRef();
  }
  if (rect) *rect = drawable ? RECT{record->left, record->top, record->right, record->bottom} : RECT{};
  if (offset) *offset = drawable ? POINT{record->inkX, record->inkY} : POINT{};
  return standIn ? S_FALSE : S_OK;
}

HRESULT GlyphTextureFontObject::CacheGlyphRange(UINT first, UINT last) {
  last = std::min(last, 0xFFFFu);
  if (first > last) return S_OK;
  const std::uint32_t count = last - first + 1;
  std::unique_ptr<WORD[]> glyphs(new (std::nothrow) WORD[count]);
  if (!glyphs) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) {
    const UINT glyph = first + i;
    glyphs[i] = IsGlyphPresent(glyph) ? static_cast<WORD>(glyph) : m_fontProperties.wgDefault;
  }
  return CacheGlyphs(glyphs.get(), count, nullptr);
}

HRESULT GlyphTextureFontObject::CacheCharacterRange(UINT first, UINT last) {
  first = std::max<UINT>(first, m_metrics.tmFirstChar);
  last = std::min<UINT>(last, m_metrics.tmLastChar);
  if (first > last) return S_OK;
  const std::uint32_t count = last - first + 1;
  std::unique_ptr<WCHAR[]> characters(new (std::nothrow) WCHAR[count]);
  std::unique_ptr<WORD[]> glyphs(new (std::nothrow) WORD[count]);
  if (!characters || !glyphs) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) characters[i] = static_cast<WCHAR>(first + i);
  GCP_RESULTSW results{};
  results.lStructSize = sizeof results;
  results.lpGlyphs = reinterpret_cast<LPWSTR>(glyphs.get());
  results.nGlyphs = count;
  if (GetCharacterPlacementW(m_dc, characters.get(), static_cast<int>(count), 0, &results, 0) == 0) return E_FAIL;
  return CacheGlyphs(glyphs.get(), std::min(results.nGlyphs, count), nullptr);
}

}  // namespace gxl

// The texture font's lifetime, its GDI set-up and the sizing of its glyph
// textures, and the font creators.
#include <algorithm>
#include <tuple>
#include <utility>
#include <cstring>
#include <new>

#include "gxl/draw/glyph_font_object.h"
#include "gxl/draw/interface_ids.h"
#include "gxl/tex/fit.h"
#include "gxl/tex/result_codes.h"
#include "platform/win_kernel.h"

namespace gxl {
namespace {

// Cells never grow past this, whatever the metrics say; a device refuses far
// smaller textures, which the fit then reports.
constexpr std::uint32_t kMaxCell = 1u << 16;
// The narrow textures are sized for at most this many characters, and grow
// for them only up to kNarrowTextureLimit.
constexpr std::int64_t kSizedCharacters = 128;
constexpr std::uint32_t kNarrowTextureLimit = 256;

template <class LogFont, class Desc>
LogFont LogFontFrom(const Desc& d) {
  LogFont lf{};
  lf.lfHeight = d.height;
  lf.lfWidth = static_cast<LONG>(d.width);
  lf.lfWeight = static_cast<LONG>(d.weight);
  lf.lfItalic = static_cast<BYTE>(d.italic);
  lf.lfCharSet = d.charSet;
  lf.lfOutPrecision = d.outputPrecision;
  lf.lfQuality = d.quality;
  // A quality that names no rendering at all is drawn antialiased.
  if ((lf.lfQuality & 7) == 0) lf.lfQuality |= ANTIALIASED_QUALITY;
  lf.lfPitchAndFamily = d.pitchAndFamily;
  std::memcpy(lf.lfFaceName, d.faceName, sizeof lf.lfFaceName);
  lf.lfFaceName[LF_FACESIZE - 1] = 0;
  return lf;
}

template <class Desc, class LogFont>
void DescFrom(const LogFont& lf, std::uint32_t mipLimit, Desc* d) {
  d->height = lf.lfHeight;
  d->width = static_cast<UINT>(lf.lfWidth);
  d->weight = static_cast<UINT>(lf.lfWeight);
  d->mipLevels = mipLimit;
  d->italic = lf.lfItalic;
  d->charSet = lf.lfCharSet;
  d->outputPrecision = lf.lfOutPrecision;
  d->quality = lf.lfQuality;
  d->pitchAndFamily = lf.lfPitchAndFamily;
  std::memcpy(d->faceName, lf.lfFaceName, sizeof d->faceName);
}

// Doubles the cell, one mip level per doubling, until it reaches `size`.
void GrowCell(std::int64_t size, std::uint32_t* cell, std::uint32_t* levels) {
  while (*cell < size && *cell < kMaxCell) {
    *cell *= 2;
    ++*levels;
  }
}

bool IsPowerOfTwo(UINT v) { return v && (v & (v - 1)) == 0; }

template <class Desc>
HRESULT CreateFromDesc(IDirect3DDevice9* device, const Desc* desc, bool wide, GlyphTextureFont** font) {
  if (!font) return D3DERR_INVALIDCALL;
  auto* object = new (std::nothrow) GlyphTextureFontObject;
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->Init(device, desc, wide);
  if (FAILED(hr)) {
    object->Destroy();
    return hr;
  }
  *font = object;
  return S_OK;
}

template <class Desc, class Char>
Desc DescFromArguments(INT height, UINT width, UINT weight, UINT mipLevels, BOOL italic, DWORD charSet,
                       DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily, const Char* faceName) {
  Desc d{};
  d.height = height;
  d.width = width;
  d.weight = weight;
  d.mipLevels = mipLevels;
  d.italic = italic;
  d.charSet = static_cast<BYTE>(charSet);
  d.outputPrecision = static_cast<BYTE>(outputPrecision);
  d.quality = static_cast<BYTE>(quality);
  d.pitchAndFamily = static_cast<BYTE>(pitchAndFamily);
  if (faceName) {
    for (int i = 0; i < LF_FACESIZE && faceName[i]; ++i) d.faceName[i] = faceName[i];
    d.faceName[LF_FACESIZE - 1] = 0;
  }
  return d;
}

}  // namespace

GlyphTextureFontObject::GlyphTextureFontObject() = default;

GlyphTextureFontObject::~GlyphTextureFontObject() {
  m_device.Reset();
  m_sprite.Reset();
  if (m_dc) {
    if (m_oldFont) SelectObject(m_dc, m_oldFont);
    if (m_oldBitmap) SelectObject(m_dc, m_oldBitmap);
  }
  if (m_font) DeleteObject(m_font);
  if (m_dib) DeleteObject(m_dib);
  if (m_dc) DeleteDC(m_dc);
  for (std::uint32_t i = 0; i < m_textureCount; ++i) m_textures[i]->Release();
  if (m_scriptCache && m_imports && m_imports->scriptFreeCache) m_imports->scriptFreeCache(&m_scriptCache);
  DeleteStringPieceTrie(m_pieceRoot);
}

HRESULT GlyphTextureFontObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return D3DERR_INVALIDCALL;
  if (!(iid == IidGlyphTextureFont) && !(iid == IID_IUnknown)) return E_NOINTERFACE;
  *out = static_cast<GlyphTextureFont*>(this);
  AddRef();
  return S_OK;
}

ULONG GlyphTextureFontObject::AddRef() { return ++m_refs; }

ULONG GlyphTextureFontObject::Release() {
  if (--m_refs != 0) return m_refs;
  Destroy();
  return 0;
}

HRESULT GlyphTextureFontObject::GetDeviceRef(IDirect3DDevice9** device) {
  if (!device) return D3DERR_INVALIDCALL;
  *device = m_device.Get();
  m_device->AddRef();
  return S_OK;
}

HRESULT GlyphTextureFontObject::QueryDescriptionA(FontDescA* desc) {
  LOGFONTA lf{};
  if (!desc || GetObjectA(m_font, sizeof lf, &lf) == 0) return D3DERR_INVALIDCALL;
  DescFrom(lf, m_mipLimit, desc);
  return S_OK;
}

HRESULT GlyphTextureFontObject::QueryDescriptionW(FontDescW* desc) {
  LOGFONTW lf{};
  if (!desc || GetObjectW(m_font, sizeof lf, &lf) == 0) return D3DERR_INVALIDCALL;
  DescFrom(lf, m_mipLimit, desc);
  return S_OK;
}

BOOL GlyphTextureFontObject::GetMetricsA(TEXTMETRICA* metrics) { return GetTextMetricsA(m_dc, metrics); }

BOOL GlyphTextureFontObject::GetMetricsW(TEXTMETRICW* metrics) {
  if (!metrics) return FALSE;
  *metrics = m_metrics;
  return TRUE;
}

HDC GlyphTextureFontObject::GetMemoryDC() { return m_dc; }

HRESULT GlyphTextureFontObject::OnDeviceLost() {
  if (m_sprite) {
    const HRESULT hr = m_sprite->OnDeviceLost();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT GlyphTextureFontObject::OnDeviceReset() {
  if (m_sprite) {
    const HRESULT hr = m_sprite->OnDeviceReset();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT GlyphTextureFontObject::Init(IDirect3DDevice9* device, const void* desc, bool wide) {
  if (!device || !desc) return D3DERR_INVALIDCALL;
  device->AddRef();
  m_device = ComRef<IDirect3DDevice9>(device);

  HRESULT hr = LookUpGlyphFontImports(&m_imports);
  if (FAILED(hr)) return hr;
  // The 8-bit GDI branch of the older system family is not built.
  if (!IsWindowsNT()) return E_NOTIMPL;

  m_dc = CreateCompatibleDC(nullptr);
  if (!m_dc) return E_OUTOFMEMORY;
  SetMapMode(m_dc, MM_TEXT);

  hr = CreateGdiFont(desc, wide);
  if (FAILED(hr)) return hr;
  m_oldFont = SelectObject(m_dc, m_font);
  m_languageInfo = GetFontLanguageInfo(m_dc);
  GetTextMetricsW(m_dc, &m_metrics);

  hr = CreateGlyphDib(m_metrics.tmMaxCharWidth, m_metrics.tmHeight);
  if (FAILED(hr)) return hr;
  SetBkMode(m_dc, OPAQUE);
  SetBkColor(m_dc, RGB(0, 0, 0));
  SetTextColor(m_dc, RGB(255, 255, 255));

  hr = SizeGlyphTextures();
  if (FAILED(hr)) return hr;
  return FindDefaultGlyphs();
}

HRESULT GlyphTextureFontObject::CreateGdiFont(const void* desc, bool wide) {
  if (wide) {
    const auto& d = *static_cast<const FontDescW*>(desc);
    m_mipLimit = d.mipLevels;
    const LOGFONTW lf = LogFontFrom<LOGFONTW>(d);
    m_font = CreateFontIndirectW(&lf);
  } else {
    const auto& d = *static_cast<const FontDescA*>(desc);
    m_mipLimit = d.mipLevels;
    const LOGFONTA lf = LogFontFrom<LOGFONTA>(d);
    m_font = CreateFontIndirectA(&lf);
  }
  return m_font ? S_OK : E_OUTOFMEMORY;
}

HRESULT GlyphTextureFontObject::CreateGlyphDib(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // rows top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib || !bits) {
    if (dib) DeleteObject(dib);
    return E_OUTOFMEMORY;
  }
  HGDIOBJ replaced = SelectObject(m_dc, dib);
  if (m_dib) {
    DeleteObject(m_dib);
  } else {
    m_oldBitmap = replaced;
  }
  m_dib = dib;
  m_dibBits = static_cast<std::uint32_t*>(bits);
  m_dibWidth = width;
  m_dibHeight = height;
  return S_OK;
}

HRESULT GlyphTextureFontObject::SizeGlyphTextures() {
  m_narrow = GlyphTextureClass{};
  m_narrow.cellSize = 1;
  m_narrow.levels = 1;
  GrowCell(m_metrics.tmHeight, &m_narrow.cellSize, &m_narrow.levels);
  m_wide = m_narrow;
  GrowCell(m_metrics.tmAveCharWidth, &m_narrow.cellSize, &m_narrow.levels);
  GrowCell(m_metrics.tmMaxCharWidth, &m_wide.cellSize, &m_wide.levels);
  if (m_mipLimit != 0) {
    m_narrow.levels = std::min(m_narrow.levels, m_mipLimit);
    m_wide.levels = std::min(m_wide.levels, m_mipLimit);
  }

  const std::int64_t characters =
      std::clamp<std::int64_t>(std::int64_t{m_metrics.tmLastChar} - m_metrics.tmFirstChar + 1, 1, kSizedCharacters);
  std::uint32_t narrowSize = m_narrow.cellSize;
  const std::uint64_t cellArea = std::uint64_t{m_narrow.cellSize} * m_narrow.cellSize;
  while (cellArea * characters > std::uint64_t{narrowSize} * narrowSize && narrowSize < kNarrowTextureLimit)
    narrowSize *= 2;
  const std::uint32_t wideSize = std::max(m_wide.cellSize, narrowSize);

  UINT narrowWidth = narrowSize, narrowHeight = narrowSize, narrowLevels = m_narrow.levels;
  HRESULT hr = GXLFitTextureParameters(m_device.Get(), &narrowWidth, &narrowHeight, &narrowLevels, 0, &m_format,
                                       D3DPOOL_MANAGED);
  if (FAILED(hr)) return hr;
  UINT wideWidth = wideSize, wideHeight = wideSize, wideLevels = m_wide.levels;
  hr = GXLFitTextureParameters(m_device.Get(), &wideWidth, &wideHeight, &wideLevels, 0, &m_format,
                               D3DPOOL_MANAGED);
  if (FAILED(hr)) return hr;
  // Cells are laid out in square power-of-two textures.
  const bool usable = m_format == D3DFMT_A8R8G8B8 && narrowWidth >= m_narrow.cellSize &&
                      narrowHeight >= m_narrow.cellSize && wideWidth >= m_wide.cellSize &&
                      wideHeight >= m_wide.cellSize && narrowWidth == narrowHeight && wideWidth == wideHeight &&
                      IsPowerOfTwo(narrowWidth) && IsPowerOfTwo(wideWidth);
  if (!usable) return GXLERR_INVALIDDATA;

  for (auto [cls, size, levels] : {std::tuple{&m_narrow, narrowWidth, narrowLevels},
                                   std::tuple{&m_wide, wideWidth, wideLevels}}) {
    cls->cellArea = cls->cellSize * cls->cellSize;
    cls->levels = levels;
    cls->textureSize = size;
    cls->textureArea = size * size;
    cls->used = cls->textureArea;
    cls->current = nullptr;
  }
  m_pieceClass = m_narrow;

  // One buffer serves every class: the wide cell is the largest.
  if (std::max(m_narrow.levels, m_wide.levels) > 1) {
    m_mipBuffer.reset(new (std::nothrow) float[std::size_t{2} * m_wide.cellArea]);
    if (!m_mipBuffer) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT GlyphTextureFontObject::FindDefaultGlyphs() {
  m_fontProperties = SCRIPT_FONTPROPERTIES{};
  m_fontProperties.cBytes = sizeof(SCRIPT_FONTPROPERTIES);
  if (m_imports->scriptEngine) return m_imports->scriptGetFontProperties(m_dc, &m_scriptCache, &m_fontProperties);
  for (auto [ch, glyph] : {std::pair{m_metrics.tmDefaultChar, &m_fontProperties.wgDefault},
                           std::pair{m_metrics.tmBreakChar, &m_fontProperties.wgBlank}}) {
    GCP_RESULTSW results{};
    results.lStructSize = sizeof results;
    results.lpGlyphs = reinterpret_cast<LPWSTR>(glyph);
    results.nGlyphs = 1;
    GetCharacterPlacementW(m_dc, &ch, 1, 0, &results, 0);
  }
  return S_OK;
}

}  // namespace gxl

using gxl::CreateFromDesc;

HRESULT GXLCreateGlyphTextureFontFromDescW(IDirect3DDevice9* device, const FontDescW* desc,
                                           GlyphTextureFont** font) {
  return CreateFromDesc(device, desc, true, font);
}

HRESULT GXLCreateGlyphTextureFontFromDescA(IDirect3DDevice9* device, const FontDescA* desc,
                                           GlyphTextureFont** font) {
  return CreateFromDesc(device, desc, false, font);
}

HRESULT GXLCreateGlyphTextureFontW(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                                   BOOL italic, DWORD charSet, DWORD outputPrecision, DWORD quality,
                                   DWORD pitchAndFamily, LPCWSTR faceName, GlyphTextureFont** font) {
  const FontDescW desc = gxl::DescFromArguments<FontDescW>(height, width, weight, mipLevels, italic, charSet,
                                                          outputPrecision, quality, pitchAndFamily, faceName);
  return GXLCreateGlyphTextureFontFromDescW(device, &desc, font);
}

HRESULT GXLCreateGlyphTextureFontA(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                                   BOOL italic, DWORD charSet, DWORD outputPrecision, DWORD quality,
                                   DWORD pitchAndFamily, LPCSTR faceName, GlyphTextureFont** font) {
  const FontDescA desc = gxl::DescFromArguments<FontDescA>(height, width, weight, mipLevels, italic, charSet,
                                                          outputPrecision, quality, pitchAndFamily, faceName);
  return GXLCreateGlyphTextureFontFromDescA(device, &desc, font);
}

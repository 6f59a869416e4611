#include "qel/appbase/qelbitmapfont.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/win_gdi.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qelrelease.h"

namespace {

constexpr DWORD kFvf2D = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x144
constexpr DWORD kFvf3D = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;      // 0x112
// Draw once the buffer holds 50 glyphs: 100 triangles, all 300 vertices.
constexpr DWORD kMaxTrianglesTimesThree = 294;

bool Printable(unsigned char c) { return c >= 32 && c <= 126; }

// The memory DC with the GDI font and the 32-bit top-down DIB the glyphs are
// drawn with; the destructor puts back the DC's own objects and deletes the rest.
class GlyphCanvas {
 public:
  GlyphCanvas() {
    m_dc = CreateCompatibleDC(nullptr);
    if (m_dc) SetMapMode(m_dc, MM_TEXT);
  }
  ~GlyphCanvas() {
    SetFont(nullptr);
    if (m_oldBitmap) SelectObject(m_dc, m_oldBitmap);
    if (m_bitmap) DeleteObject(m_bitmap);
    if (m_dc) DeleteDC(m_dc);
  }
  GlyphCanvas(const GlyphCanvas&) = delete;
  GlyphCanvas& operator=(const GlyphCanvas&) = delete;

  HDC Dc() const { return m_dc; }
  // Selects the font (owned from now on), deleting the one before.
  void SetFont(HFONT font) {
    if (m_oldFont) SelectObject(m_dc, m_oldFont);
    if (m_font) DeleteObject(m_font);
    m_font = font;
    m_oldFont = font ? SelectObject(m_dc, font) : nullptr;
  }
  bool CreateBitmap(DWORD size) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(size);
    info.bmiHeader.biHeight = -static_cast<LONG>(size);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<const DWORD*>(bits);
    if (!m_bitmap || !m_bits) return false;
    m_oldBitmap = SelectObject(m_dc, m_bitmap);
    return true;
  }
  const DWORD* Bits() const { return m_bits; }

 private:
  HDC m_dc = nullptr;
  HBITMAP m_bitmap = nullptr;
  HFONT m_font = nullptr;
  HGDIOBJ m_oldBitmap = nullptr;
  HGDIOBJ m_oldFont = nullptr;
  const DWORD* m_bits = nullptr;
};

// Places the characters 32..126 in rows `width` pixels wide, each cell with
// `spacing` pixels of margin on both sides; place(c, x, y, cx, cy) receives
// each character's spot. Returns the height the rows take.
template <class Place>
DWORD PackCharacters(HDC dc, DWORD width, DWORD spacing, Place&& place) {
  DWORD x = spacing, y = 0, bottom = 0;
  char str[2] = {0, 0};
  for (int c = 32; c < 127; ++c) {
    str[0] = static_cast<char>(c);
    SIZE extent{};
    GetTextExtentPoint32A(dc, str, 1, &extent);
    const DWORD cx = static_cast<DWORD>(extent.cx), cy = static_cast<DWORD>(extent.cy);
    if (x + cx + spacing > width) {
      x = spacing;
      y += cy + 1;
    }
    place(str, x, y, cx, cy);
    bottom = std::max(bottom, y + cy);
    x += cx + 2 * spacing;
  }
  return bottom;
}

}  // namespace

C_BitmapFont::C_BitmapFont(const char* fontName, DWORD height, DWORD flags)
    : m_nFontHeight(height), m_nFontFlags(flags) {
  // At most 79 bytes of the name; the last byte is always the terminator.
  std::memset(m_szFontName, 0, sizeof m_szFontName);
  if (fontName) std::memcpy(m_szFontName, fontName, strnlen(fontName, sizeof m_szFontName - 1));
}

C_BitmapFont::~C_BitmapFont() {
  InvalidateDeviceObjects();
  DeleteDeviceObjects();
}

HRESULT C_BitmapFont::InitDeviceObjects(IDirect3DDevice9* device) {
  if (!device) return E_FAIL;
  SafeRelease(m_pFontTexture);  // a second build replaces the first
  m_pFontDevice = device;
  m_fTextScale = 1.0f;

  DWORD size = m_nFontHeight > 60 ? 2048 : m_nFontHeight > 30 ? 1024 : m_nFontHeight > 15 ? 512 : 256;
  D3DCAPS9 caps{};
  DWORD maxSize = 4096;
  if (SUCCEEDED(device->GetDeviceCaps(&caps)) && caps.MaxTextureWidth != 0) {
    maxSize = std::min(caps.MaxTextureWidth, caps.MaxTextureHeight ? caps.MaxTextureHeight : caps.MaxTextureWidth);
    if (maxSize < size) {
      m_fTextScale = static_cast<float>(maxSize) / static_cast<float>(size);
      size = maxSize;
    }
  }

  GlyphCanvas canvas;
  HDC dc = canvas.Dc();
  if (!dc) return E_FAIL;
  // The size by points fits the usual faces; when the characters would run
  // past the bottom, the texture grows, and at the device's limit the glyphs
  // shrink, so that every character keeps its own texels.
  for (int attempt = 0;; ++attempt) {
    const int height = -MulDiv(static_cast<int>(m_nFontHeight),
                               static_cast<int>(static_cast<float>(GetDeviceCaps(dc, LOGPIXELSY)) * m_fTextScale), 72);
    HFONT font = CreateFontA(height, 0, 0, 0, (m_nFontFlags & kBold) ? FW_BOLD : FW_NORMAL,
                             (m_nFontFlags & kItalic) ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH,
                             m_szFontName);
    if (!font) return E_FAIL;
    canvas.SetFont(font);
    SIZE space{};
    GetTextExtentPoint32A(dc, " ", 1, &space);
    m_nSpacing = static_cast<DWORD>(std::ceil(static_cast<float>(space.cy) * 0.3f));
    const DWORD needed = PackCharacters(dc, size, m_nSpacing, [](const char*, DWORD, DWORD, DWORD, DWORD) {});
    if (needed <= size || attempt == 8) break;
    if (size * 2 <= maxSize)
      size *= 2;
    else
      m_fTextScale *= 0.95f * static_cast<float>(size) / static_cast<float>(needed);
  }
  m_nTexWidth = m_nTexHeight = size;

  HRESULT hr = device->CreateTexture(size, size, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &m_pFontTexture, nullptr);
  if (FAILED(hr)) return hr;
  if (!canvas.CreateBitmap(size)) return E_FAIL;
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkColor(dc, 0x00000000);
  SetTextAlign(dc, TA_TOP);
  PackCharacters(dc, size, m_nSpacing, [&](const char* str, DWORD x, DWORD y, DWORD cx, DWORD cy) {
    ExtTextOutA(dc, static_cast<int>(x), static_cast<int>(y), ETO_OPAQUE, nullptr, str, 1, nullptr);
    float* tc = m_aTexCoords[static_cast<unsigned char>(str[0]) - 32];
    tc[0] = static_cast<float>(x - m_nSpacing) / static_cast<float>(m_nTexWidth);
    tc[1] = static_cast<float>(y) / static_cast<float>(m_nTexHeight);
    tc[2] = static_cast<float>(x + cx + m_nSpacing) / static_cast<float>(m_nTexWidth);
    tc[3] = static_cast<float>(y + cy) / static_cast<float>(m_nTexHeight);
  });

  // The blue byte is the coverage; it becomes the alpha of white texels.
  D3DLOCKED_RECT locked{};
  hr = m_pFontTexture->LockRect(0, &locked, nullptr, 0);
  if (FAILED(hr)) return hr;
  const DWORD* bits = canvas.Bits();
  for (DWORD row = 0; row < m_nTexHeight; ++row) {
    auto* dst = reinterpret_cast<WORD*>(static_cast<BYTE*>(locked.pBits) + static_cast<size_t>(row) * locked.Pitch);
    const DWORD* src = bits + static_cast<size_t>(row) * m_nTexWidth;
    for (DWORD col = 0; col < m_nTexWidth; ++col) {
      const BYTE alpha = static_cast<BYTE>((src[col] & 0xFF) >> 4);
      dst[col] = alpha > 0 ? static_cast<WORD>((alpha << 12) | 0x0FFF) : 0x0000;
    }
  }
  m_pFontTexture->UnlockRect(0);
  return S_OK;
}

HRESULT C_BitmapFont::RestoreDevice() {
  if (!m_pFontDevice) return E_FAIL;
  InvalidateDeviceObjects();  // a second restore replaces the first
  IDirect3DDevice9* dev = m_pFontDevice;
  HRESULT hr = dev->CreateVertexBuffer(kMaxVertices * sizeof(FontVertex3D), D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC,
                                       0, D3DPOOL_DEFAULT, &m_pVB, nullptr);
  if (FAILED(hr)) return hr;

  // The same states twice: the first block captures the caller's values before
  // drawing and puts them back after, the second sets the drawing state. The
  // stream, vertex format and pixel shader that drawing sets are recorded too,
  // so that putting back really leaves the device as it was.
  for (IDirect3DStateBlock9** block : {&m_pStateBlockSaved, &m_pStateBlockDrawText}) {
    hr = dev->BeginStateBlock();
    if (FAILED(hr)) return hr;
    dev->SetTexture(0, m_pFontTexture);
    dev->SetRenderState(D3DRS_ZENABLE, (m_nFontFlags & kDepthTest) ? D3DZB_TRUE : D3DZB_FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    dev->SetRenderState(D3DRS_ALPHAREF, 0x08);
    dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    dev->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    dev->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    dev->SetRenderState(D3DRS_CLIPPING, TRUE);
    dev->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    dev->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    dev->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
    dev->SetRenderState(D3DRS_FOGENABLE, FALSE);
    dev->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    dev->SetFVF(kFvf2D);
    dev->SetPixelShader(nullptr);
    dev->SetStreamSource(0, m_pVB, 0, sizeof(FontVertex2D));
    hr = dev->EndStateBlock(block);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT C_BitmapFont::InvalidateDeviceObjects() {
  SafeRelease(m_pVB);
  SafeRelease(m_pStateBlockSaved);
  SafeRelease(m_pStateBlockDrawText);
  return S_OK;
}

HRESULT C_BitmapFont::DeleteDeviceObjects() {
  SafeRelease(m_pFontTexture);
  m_pFontDevice = nullptr;
  return S_OK;
}

float C_BitmapFont::LineHeight() const {
  return (m_aTexCoords[0][3] - m_aTexCoords[0][1]) * static_cast<float>(m_nTexHeight);
}

HRESULT C_BitmapFont::GetTextExtent(const char* text, SIZE* size) {
  if (!text || !size) return E_FAIL;
  const float lineHeight = LineHeight();
  float rowWidth = 0.0f, width = 0.0f, height = lineHeight;
  for (const char* p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\n') {
      rowWidth = 0.0f;
      height += lineHeight;
      continue;
    }
    if (!Printable(c)) continue;
    const float* tc = m_aTexCoords[c - 32];
    rowWidth += (tc[2] - tc[0]) * static_cast<float>(m_nTexWidth) - 2.0f * static_cast<float>(m_nSpacing);
    width = std::max(width, rowWidth);
  }
  size->cx = static_cast<LONG>(width);
  size->cy = static_cast<LONG>(height);
  return S_OK;
}

bool C_BitmapFont::Ready() const {
  return m_pFontDevice && m_pFontTexture && m_pVB && m_pStateBlockSaved && m_pStateBlockDrawText;
}

void C_BitmapFont::BeginDrawing(DWORD fvf, UINT stride, DWORD flags) {
  m_pStateBlockSaved->Capture();
  m_pStateBlockDrawText->Apply();
  m_pFontDevice->SetFVF(fvf);
  m_pFontDevice->SetPixelShader(nullptr);
  m_pFontDevice->SetStreamSource(0, m_pVB, 0, stride);
  if (flags & kFiltered) {
    m_pFontDevice->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    m_pFontDevice->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  }
}

float C_BitmapFont::FirstLineWidth(const char* text, float scale, float spacing) const {
  float width = 0.0f;
  for (const char* p = text; *p && *p != '\n'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (!Printable(c)) continue;
    const float* tc = m_aTexCoords[c - 32];
    width += (tc[2] - tc[0]) * static_cast<float>(m_nTexWidth) * scale - 2.0f * spacing;
  }
  return width;
}

template <class Vertex, class Make>
HRESULT C_BitmapFont::DrawGlyphs(const char* text, float x, float y, float xScale, float yScale, float spacing,
                                 float down, Make make) {
  x -= spacing;
  const float lineStart = x;
  const float lineStep = down * (LineHeight() * yScale);
  Vertex* v = nullptr;
  HRESULT hr = m_pVB->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_DISCARD);
  if (FAILED(hr)) return hr;
  DWORD triangles = 0;
  for (const char* p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\n') {
      x = lineStart;
      y += lineStep;
      continue;
    }
    if (!Printable(c)) continue;
    const float* tc = m_aTexCoords[c - 32];
    const float w = (tc[2] - tc[0]) * static_cast<float>(m_nTexWidth) * xScale;
    const float h = down * ((tc[3] - tc[1]) * static_cast<float>(m_nTexHeight) * yScale);
    if (c != ' ') {
      *v++ = make(x, y + h, tc[0], tc[3]);
      *v++ = make(x, y, tc[0], tc[1]);
      *v++ = make(x + w, y + h, tc[2], tc[3]);
      *v++ = make(x + w, y, tc[2], tc[1]);
      *v++ = make(x + w, y + h, tc[2], tc[3]);
      *v++ = make(x, y, tc[0], tc[1]);
      triangles += 2;
      if (triangles * 3 > kMaxTrianglesTimesThree) {
        m_pVB->Unlock();
        m_pFontDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
        triangles = 0;
        hr = m_pVB->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_DISCARD);
        if (FAILED(hr)) return hr;
      }
    }
    x += w - 2.0f * spacing;
  }
  m_pVB->Unlock();
  if (triangles > 0) m_pFontDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
  return S_OK;
}

namespace {

// Screen-space vertices at depth z, shifted half a pixel so texels land on pixels.
auto ScreenVertex(float z, DWORD color) {
  return [z, color](float x, float y, float u, float v) {
    return FontVertex2D{x - 0.5f, y - 0.5f, z, 1.0f, color, u, v};
  };
}

}  // namespace

HRESULT C_BitmapFont::DrawText(float x, float y, DWORD color, const char* text, DWORD flags) {
  if (!m_pFontDevice || !text || !Ready()) return E_FAIL;
  BeginDrawing(kFvf2D, sizeof(FontVertex2D), flags);
  const float scale = 1.0f / m_fTextScale;
  const float spacing = static_cast<float>(m_nSpacing);
  if (flags & (kCenterX | kCenterY)) {
    D3DVIEWPORT9 vp{};
    m_pFontDevice->GetViewport(&vp);
    if (flags & kCenterX) x = (static_cast<float>(vp.Width) - FirstLineWidth(text, scale, spacing)) / 2.0f;
    if (flags & kCenterY) y = (static_cast<float>(vp.Height) - LineHeight() * scale) / 2.0f;
  }
  const HRESULT hr = DrawGlyphs<FontVertex2D>(text, x, y, scale, scale, spacing, 1.0f, ScreenVertex(0.9f, color));
  m_pStateBlockSaved->Apply();
  return hr;
}

HRESULT C_BitmapFont::DrawTextScaled(float x, float y, float z, float xScale, float yScale, DWORD color,
                                     const char* text, DWORD flags) {
  if (!m_pFontDevice || !text || !Ready()) return E_FAIL;
  const float lineHeight = LineHeight();
  if (lineHeight <= 0.0f) return E_FAIL;
  BeginDrawing(kFvf2D, sizeof(FontVertex2D), flags);
  D3DVIEWPORT9 vp{};
  m_pFontDevice->GetViewport(&vp);
  const float vw = static_cast<float>(vp.Width), vh = static_cast<float>(vp.Height);
  // Pixels per texel: one line is yScale x the viewport height.
  const float sx = xScale * vh / lineHeight, sy = yScale * vh / lineHeight;
  const float spacing = static_cast<float>(m_nSpacing) * sx;
  float px = (x + 1.0f) * vw / 2.0f, py = (y + 1.0f) * vh / 2.0f;
  // Centring replaces the position, in viewport units, as for DrawText.
  if (flags & kCenterX) px = (vw - FirstLineWidth(text, sx, spacing)) / 2.0f;
  if (flags & kCenterY) py = (vh - lineHeight * sy) / 2.0f;
  const HRESULT hr = DrawGlyphs<FontVertex2D>(text, px, py, sx, sy, spacing, 1.0f, ScreenVertex(z, color));
  m_pStateBlockSaved->Apply();
  return hr;
}

HRESULT C_BitmapFont::Render3DText(const char* text, DWORD flags) {
  if (!m_pFontDevice || !text || !Ready()) return E_FAIL;
  BeginDrawing(kFvf3D, sizeof(FontVertex3D), flags);
  if (flags & kTwoSided) m_pFontDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

  constexpr float kUnitsPerPixel = 0.1f;
  float x = 0.0f, y = 0.0f;
  if (flags & (kCenterX | kCenterY)) {
    SIZE extent{};
    GetTextExtent(text, &extent);
    if (flags & kCenterX) x = -static_cast<float>(extent.cx) * kUnitsPerPixel / 2.0f;
    if (flags & kCenterY) y = static_cast<float>(extent.cy) * kUnitsPerPixel / 2.0f;
  }
  const float spacing = static_cast<float>(m_nSpacing) * kUnitsPerPixel;
  // Text stands in the z = 0 plane facing -z; lines go down the y axis.
  const HRESULT hr = DrawGlyphs<FontVertex3D>(text, x, y, kUnitsPerPixel, kUnitsPerPixel, spacing, -1.0f,
                                              [](float px, float py, float u, float v) {
                                                return FontVertex3D{Vec3(px, py, 0.0f), Vec3(0.0f, 0.0f, -1.0f), u, v};
                                              });
  m_pStateBlockSaved->Apply();
  return hr;
}

// The framework's bitmap font: the printable characters 32..126 are rendered
// once with GDI into a square 16-bit texture (white, coverage as 4-bit alpha),
// each remembering its rectangle; drawing builds two textured triangles per
// character in a dynamic vertex buffer, inside a saved and restored device
// state. The application draws its frame rate with one ("Arial", 12 points, bold).
#pragma once

#include "gxl/math/records.h"
#include "platform/d3d9_api.h"

// Pre-transformed vertex of the screen-space forms (FVF 0x144).
struct FontVertex2D {
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};
static_assert(sizeof(FontVertex2D) == 28);

// Object-space vertex of Render3DText (FVF 0x112).
struct FontVertex3D {
  Vec3 position;
  Vec3 normal;
  float u, v;
};
static_assert(sizeof(FontVertex3D) == 32);

class C_BitmapFont {
 public:
  // Construction flags.
  static constexpr DWORD kBold = 1;
  static constexpr DWORD kItalic = 2;
  static constexpr DWORD kDepthTest = 4;
  // Drawing flags. Render3DText also takes kTwoSided.
  static constexpr DWORD kCenterX = 1;
  static constexpr DWORD kCenterY = 2;
  static constexpr DWORD kTwoSided = 4;
  static constexpr DWORD kFiltered = 8;

  static constexpr DWORD kMaxVertices = 300;

  // The name is cut to 79 bytes; `height` is in points.
  C_BitmapFont(const char* fontName, DWORD height, DWORD flags = 0);
  ~C_BitmapFont();
  C_BitmapFont(const C_BitmapFont&) = delete;
  C_BitmapFont& operator=(const C_BitmapFont&) = delete;

  // Builds the glyph texture: S_OK, the texture's creation failure, or E_FAIL
  // when GDI cannot make the font or its bitmap.
  HRESULT InitDeviceObjects(IDirect3DDevice9* device);
  // Creates the vertex buffer and records the drawing state.
  HRESULT RestoreDevice();
  HRESULT InvalidateDeviceObjects();
  HRESULT DeleteDeviceObjects();

  // Width of the widest line and height of all lines, in pixels.
  HRESULT GetTextExtent(const char* text, SIZE* size);
  // Draws at screen pixel (x, y); the device state is the same afterwards.
  HRESULT DrawText(float x, float y, DWORD color, const char* text, DWORD flags = 0);
  // Draws at viewport position (x, y) in -1..1 and depth z; one line is
  // yScale x the viewport height tall, widths scale by xScale alike.
  HRESULT DrawTextScaled(float x, float y, float z, float xScale, float yScale, DWORD color, const char* text,
                         DWORD flags = 0);
  // The text as quads in object space, one unit per 10 pixels, at z = 0.
  HRESULT Render3DText(const char* text, DWORD flags = 0);

  IDirect3DTexture9* GetTexture() const { return m_pFontTexture; }
  // Holds the vertices of the last batch drawn.
  IDirect3DVertexBuffer9* GetVertexBuffer() const { return m_pVB; }
  DWORD GetTextureWidth() const { return m_nTexWidth; }
  DWORD GetTextureHeight() const { return m_nTexHeight; }
  DWORD GetSpacing() const { return m_nSpacing; }
  float GetTextScale() const { return m_fTextScale; }
  // Left, top, right, bottom texture coordinates of a character 32..127.
  const float* GetTexCoords(unsigned char c) const { return m_aTexCoords[c - 32]; }

 private:
  // The glyph loop: `xScale`, `yScale` are units per texel, `spacing` the cell
  // margin in units; lines advance by `down` (+1 on the screen, -1 in 3-D
  // space) and `make(x, y, u, v)` is one vertex. The quads go out through the
  // vertex buffer in batches.
  template <class Vertex, class Make>
  HRESULT DrawGlyphs(const char* text, float x, float y, float xScale, float yScale, float spacing, float down,
                     Make make);
  // The width of the text's first line, `scale` units per texel.
  float FirstLineWidth(const char* text, float scale, float spacing) const;
  // Vertex buffer and state blocks exist.
  bool Ready() const;
  void BeginDrawing(DWORD fvf, UINT stride, DWORD flags);
  float LineHeight() const;  // texels

  char m_szFontName[80];
  DWORD m_nFontHeight;
  DWORD m_nFontFlags;
  IDirect3DDevice9* m_pFontDevice = nullptr;  // not referenced
  IDirect3DTexture9* m_pFontTexture = nullptr;
  IDirect3DVertexBuffer9* m_pVB = nullptr;
  DWORD m_nTexWidth = 0;
  DWORD m_nTexHeight = 0;
  float m_fTextScale = 1.0f;
  float m_aTexCoords[96][4] = {};
  DWORD m_nSpacing = 0;
  IDirect3DStateBlock9* m_pStateBlockSaved = nullptr;
  IDirect3DStateBlock9* m_pStateBlockDrawText = nullptr;
};

// The texture font: a GDI font whose glyphs are rasterised once into cells of
// A8R8G8B8 textures (coverage as alpha, mip levels averaged in linear light)
// and drawn as sprites, with DrawText-style layout: word wrap, line breaks,
// tabs, alignment in a rectangle and clipping.
//
// Made only by the creators below; released with Release. Used on the thread
// that owns its device.
#pragma once

#include "gxl/draw/sprite_batcher.h"
#include "platform/d3d9_api.h"
#include "platform/win_gdi.h"
#include "platform/win_user.h"

// A font description. Sizes follow GDI: a negative height is the em height in
// pixels, a positive one the cell height; a width of 0 keeps the face's aspect.
struct FontDescW {
  INT height;
  UINT width;
  UINT weight;
  UINT mipLevels;  // upper limit for the glyph textures' levels; 0: none
  BOOL italic;
  BYTE charSet;  // SHIFTJIS_CHARSET asks for a Japanese face
  BYTE outputPrecision;
  BYTE quality;  // 0 (default) is drawn antialiased
  BYTE pitchAndFamily;
  WCHAR faceName[LF_FACESIZE];  // always ends in a zero character
};

struct FontDescA {
  INT height;
  UINT width;
  UINT weight;
  UINT mipLevels;
  BOOL italic;
  BYTE charSet;
  BYTE outputPrecision;
  BYTE quality;
  BYTE pitchAndFamily;
  CHAR faceName[LF_FACESIZE];  // UTF-8
};

struct GlyphTextureFont : IUnknown {
  // QueryInterface answers IidGlyphTextureFont and IID_IUnknown; for any other
  // id it gives E_NOINTERFACE and leaves the out-pointer as it was.

  // The device, with a reference added.
  virtual HRESULT GetDeviceRef(IDirect3DDevice9** device) = 0;
  // The description the GDI font was made from, with the mip-level limit.
  virtual HRESULT QueryDescriptionA(FontDescA* desc) = 0;
  virtual HRESULT QueryDescriptionW(FontDescW* desc) = 0;
  virtual BOOL GetMetricsA(TEXTMETRICA* metrics) = 0;
  virtual BOOL GetMetricsW(TEXTMETRICW* metrics) = 0;
  // The memory DC the font rasterises with (owned by the font).
  virtual HDC GetMemoryDC() = 0;
  // Caches the glyph (a missing one stands in for the font's default glyph:
  // S_FALSE then) and gives its texture (with a reference added; null for a
  // glyph without ink), its rectangle in the texture and the offset of that
  // rectangle from the glyph's cell origin. Each out-pointer may be null.
  virtual HRESULT GetCachedGlyph(UINT glyph, IDirect3DTexture9** texture, RECT* rect, POINT* offset) = 0;
  // Caches the glyphs of a range of characters or of glyph indices.
  virtual HRESULT CacheCharacterRange(UINT first, UINT last) = 0;
  virtual HRESULT CacheGlyphRange(UINT first, UINT last) = 0;
  // Caches the glyphs of a text (count -1: up to its terminating zero).
  virtual HRESULT CacheTextGlyphsA(LPCSTR text, INT count) = 0;
  virtual HRESULT CacheTextGlyphsW(LPCWSTR text, INT count) = 0;
  // Lays the text out in the rectangle (null: at the origin, unclipped) with
  // the DT_ format flags (DT_CENTER, DT_RIGHT, DT_VCENTER, DT_BOTTOM,
  // DT_WORDBREAK, DT_SINGLELINE, DT_EXPANDTABS, DT_NOCLIP, DT_CALCRECT,
  // DT_RTLREADING) and queues its glyphs on the sprite batcher (null: the
  // font's own, begun and ended by the call). Gives the height of the drawn
  // text in pixels, 0 on failure. DT_CALCRECT replaces the rectangle with the
  // text's box and draws nothing.
  virtual INT DrawStringA(SpriteBatcher* sprite, LPCSTR text, INT count, RECT* rect, DWORD format,
                          D3DCOLOR color) = 0;
  virtual INT DrawStringW(SpriteBatcher* sprite, LPCWSTR text, INT count, RECT* rect, DWORD format,
                          D3DCOLOR color) = 0;
  // Around a device reset; the glyph textures are managed and survive it.
  virtual HRESULT OnDeviceLost() = 0;
  virtual HRESULT OnDeviceReset() = 0;

 protected:
  ~GlyphTextureFont() = default;
};

// D3DERR_INVALIDCALL for a null out-pointer, device or description;
// E_OUTOFMEMORY when memory, a GDI object or a looked-up entry point cannot be
// had; GXLERR_INVALIDDATA when the device offers no fitting glyph texture; or
// the device's own failure. The out-pointer is written only on success.
HRESULT GXLCreateGlyphTextureFontFromDescW(IDirect3DDevice9* device, const FontDescW* desc,
                                           GlyphTextureFont** font);
HRESULT GXLCreateGlyphTextureFontFromDescA(IDirect3DDevice9* device, const FontDescA* desc,
                                           GlyphTextureFont** font);
// The same from separate arguments; the face name (null: none) is cut to 31
// characters.
HRESULT GXLCreateGlyphTextureFontW(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                                   BOOL italic, DWORD charSet, DWORD outputPrecision, DWORD quality,
                                   DWORD pitchAndFamily, LPCWSTR faceName, GlyphTextureFont** font);
HRESULT GXLCreateGlyphTextureFontA(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                                   BOOL italic, DWORD charSet, DWORD outputPrecision, DWORD quality,
                                   DWORD pitchAndFamily, LPCSTR faceName, GlyphTextureFont** font);

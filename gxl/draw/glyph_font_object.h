// The texture font's object: its creation and GDI set-up (glyph_font.cpp),
// the glyph texture cache (glyph_cache.cpp, glyph_cache_strings.cpp) and the text
// layout (text_layout.cpp, text_layout_runs.cpp). Only those files see it.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/draw/glyph_font.h"
#include "gxl/draw/glyph_font_imports.h"
#include "gxl/draw/growable_array.h"
#include "gxl/tex/com_ref.h"

namespace gxl {

// Where one glyph, or one piece of a rendered string, lies in a glyph texture.
struct GlyphRecord {
  IDirect3DTexture9* texture;  // null: not cached yet; EmptyGlyph(): nothing to draw
  std::uint16_t left, top, right, bottom;  // right and bottom exclusive
  std::int16_t inkX, inkY;  // the rectangle's corner from the glyph's cell origin
};

// The texture of a cached glyph without ink.
inline IDirect3DTexture9* EmptyGlyph() { return reinterpret_cast<IDirect3DTexture9*>(~std::uintptr_t{0}); }
inline bool Drawable(const GlyphRecord* r) { return r && r->texture && r->texture != EmptyGlyph(); }

// One kind of glyph texture: square textures cut into square cells.
struct GlyphTextureClass {
  IDirect3DTexture9* current;  // receives the next cell; owned by the texture list
  std::uint32_t used;          // texels handed out; starts at textureArea
  std::uint32_t cellSize;      // a power of two
  std::uint32_t cellArea;
  std::uint32_t levels;
  std::uint32_t textureSize;  // a power of two
  std::uint32_t textureArea;
};

// A node of the string-piece cache: a character trie whose siblings stand in
// descending order of character.
struct StringPieceNode {
  WCHAR character;
  StringPieceNode* child;
  StringPieceNode* sibling;
  std::int32_t pieceCount;  // -1: the string ending here is not rendered yet
  std::unique_ptr<GlyphRecord[]> pieces;
  std::unique_ptr<int[]> widths;
};

// Deletes a node with its children and siblings (without recursion: a long
// string makes a deep chain of children).
void DeleteStringPieceTrie(StringPieceNode* root);

// A run of glyphs that breaks and reorders as one.
struct TextRun {
  std::uint32_t item;  // the script item it belongs to
  std::uint32_t firstChar;
  std::uint32_t firstGlyph;
  std::uint32_t flags;
};
constexpr std::uint32_t kRunCarriageReturn = 1;
constexpr std::uint32_t kRunLineFeed = 2;
constexpr std::uint32_t kRunTab = 4;
constexpr std::uint32_t kRunRightToLeft = 8;

struct TextLine {
  std::uint32_t firstGlyph;  // slots of the visual order
  std::uint32_t endGlyph;
  std::uint32_t width;
};

// The layout's work arrays, reused by every call.
struct TextLayoutWork {
  GrowableArray<SCRIPT_ITEM> items;
  GrowableArray<TextRun> runs;  // the runs, then a sentinel
  GrowableArray<ABC> runWidths;
  GrowableArray<WCHAR> text;  // converted text, or the character of each glyph
  GrowableArray<UINT> order;  // placement order, then the visual order of lines
  GrowableArray<char> classes;
  GrowableArray<SCRIPT_LOGATTR> logAttrs;
  GrowableArray<WORD> clusters;
  GrowableArray<WORD> glyphs;  // 0xFFFF for a string piece
  GrowableArray<GlyphRecord*> records;
  GrowableArray<int> advances;
  GrowableArray<int> xPositions;
  GrowableArray<GOFFSET> offsets;
  GrowableArray<SCRIPT_VISATTR> visAttrs;
  GrowableArray<TextLine> lines;
  std::uint32_t runCount = 0;  // without the sentinel
  std::uint32_t glyphCount = 0;
  std::uint32_t lineCount = 0;
};

class GlyphTextureFontObject final : public GlyphTextureFont {
 public:
  GlyphTextureFontObject();
  // The creators' step; on failure the creator destroys the object.
  HRESULT Init(IDirect3DDevice9* device, const void* desc, bool wide);
  void Destroy() { delete this; }

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetDeviceRef(IDirect3DDevice9** device) override;
  HRESULT QueryDescriptionA(FontDescA* desc) override;
  HRESULT QueryDescriptionW(FontDescW* desc) override;
  BOOL GetMetricsA(TEXTMETRICA* metrics) override;
  BOOL GetMetricsW(TEXTMETRICW* metrics) override;
  HDC GetMemoryDC() override;
  HRESULT GetCachedGlyph(UINT glyph, IDirect3DTexture9** texture, RECT* rect, POINT* offset) override;
  HRESULT CacheCharacterRange(UINT first, UINT last) override;
  HRESULT CacheGlyphRange(UINT first, UINT last) override;
  HRESULT CacheTextGlyphsA(LPCSTR text, INT count) override;
  HRESULT CacheTextGlyphsW(LPCWSTR text, INT count) override;
  INT DrawStringA(SpriteBatcher* sprite, LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override;
  INT DrawStringW(SpriteBatcher* sprite, LPCWSTR text, INT count, RECT* rect, DWORD format,
                  D3DCOLOR color) override;
  HRESULT OnDeviceLost() override;
  HRESULT OnDeviceReset() override;

 private:
  ~GlyphTextureFontObject();

  // --- Set-up (glyph_font.cpp)
  HRESULT CreateGdiFont(const void* desc, bool wide);
  // A top-down 32-bit DIB of this size, selected into the DC in place of the
  // one before (which is deleted).
  HRESULT CreateGlyphDib(int width, int height);
  HRESULT SizeGlyphTextures();
  HRESULT FindDefaultGlyphs();

  // --- Glyph cache (glyph_cache.cpp)
  bool IsGlyphPresent(UINT glyph);
  // Caches the glyphs in order; the records of all of them when `records` is given.
  HRESULT CacheGlyphs(const WORD* glyphs, std::uint32_t count, GlyphRecord** records);
  // Copies the coverage of the DIB's columns [sourceX, sourceX + width) and
  // rows [0, height) into the next cell of the class.
  HRESULT CopyGlyphToTexture(int sourceX, int width, int height, GlyphTextureClass& cls, GlyphRecord* record);
  HRESULT NextCell(GlyphTextureClass& cls);
  HRESULT BuildMipLevels(const GlyphTextureClass& cls, std::uint32_t cx, std::uint32_t cy, const RECT& ink);

  // --- String pieces (glyph_cache_strings.cpp)
  // Renders the string whole with the script engine and cuts it into pieces
  // one string-piece cell wide at most; each string is rendered once.
  HRESULT CacheStringPieces(const WCHAR* text, int length, bool rightToLeft, int* count, GlyphRecord** pieces,
                            const int** widths);
  HRESULT FindStringNode(const WCHAR* text, int length, StringPieceNode** node);
  HRESULT RenderStringPieces(const WCHAR* text, int length, bool rightToLeft, StringPieceNode* node);

  // --- Glyphs and runs (text_layout_runs.cpp)
  HRESULT ReserveGlyphs(std::uint64_t count);
  // Without the script engine: GDI character placement.
  HRESULT MakeGlyphs(const void* text, std::uint32_t count, bool wide, bool rightToLeft);
  HRESULT SplitIntoRuns(std::uint32_t glyphCount, std::uint32_t textLength);
  void ReverseRightToLeftRuns();
  // With the script engine: items, word stops, shaping and placing.
  HRESULT MakeScriptGlyphs(const void* text, std::uint32_t count, bool wide, bool rightToLeft);
  HRESULT ShapeRun(std::uint32_t run, const WCHAR* chars, bool rightToLeft, std::uint64_t* estimate);

  // --- Layout (text_layout.cpp)
  // Caches the text's glyphs and, given `height`, lays the text out and draws
  // it; `height` receives the drawn text's height.
  HRESULT LayoutText(SpriteBatcher* sprite, const void* text, int count, RECT* rect, DWORD format, D3DCOLOR color,
                     bool wide, int* height);
  HRESULT BreakLines(const RECT* rect, DWORD format, std::uint32_t* widest, std::uint32_t* total);
  // Appends the line of glyphs [firstGlyph, endGlyph), which lie in the runs
  // [firstRun, endRun), in visual order.
  HRESULT EmitLine(std::uint32_t firstGlyph, std::uint32_t endGlyph, std::uint32_t firstRun, std::uint32_t endRun,
                   bool rightToLeft, std::uint32_t* widest, std::uint32_t* total);
  HRESULT DrawLines(SpriteBatcher* sprite, const RECT* clip, DWORD format, std::int64_t x, std::int64_t y,
                    std::uint32_t widest, D3DCOLOR color);
  HRESULT QueueLines(SpriteBatcher* sprite, const RECT* clip, DWORD format, std::int64_t x, std::int64_t y,
                     std::uint32_t widest, D3DCOLOR color);

  ULONG m_refs = 1;
  ComRef<IDirect3DDevice9> m_device;
  ComRef<SpriteBatcher> m_sprite;  // for DrawString without a caller's batcher
  const GlyphFontImports* m_imports = nullptr;

  // GDI: the memory DC, the font and DIB selected into it and what they replaced.
  HDC m_dc = nullptr;
  HFONT m_font = nullptr;
  HGDIOBJ m_oldFont = nullptr;
  HBITMAP m_dib = nullptr;
  HGDIOBJ m_oldBitmap = nullptr;
  int m_dibWidth = 0, m_dibHeight = 0;
  std::uint32_t* m_dibBits = nullptr;
  TEXTMETRICW m_metrics{};
  DWORD m_languageInfo = 0;

  // The script engine's state for this font.
  SCRIPT_CACHE m_scriptCache = nullptr;
  SCRIPT_FONTPROPERTIES m_fontProperties{};  // the blank and default glyphs, also without the engine
  SCRIPT_STATE m_scriptState{};
  SCRIPT_CONTROL m_scriptControl{};

  // The glyph cache: pages of 256 records, by the glyph index's high byte.
  std::uint32_t m_pageCount = 0;
  std::unique_ptr<GlyphRecord[]> m_pages[256];
  StringPieceNode* m_pieceRoot = nullptr;

  D3DFORMAT m_format = D3DFMT_A8R8G8B8;
  std::uint32_t m_textureCount = 0;
  GrowableArray<IDirect3DTexture9*> m_textures;  // one reference each
  GlyphTextureClass m_narrow{}, m_wide{}, m_pieceClass{};
  // (linear value, weight) per texel of one wide cell, for building mip levels.
  std::unique_ptr<float[]> m_mipBuffer;
  std::uint32_t m_mipLimit = 0;

  TextLayoutWork m_work;
};

}  // namespace gxl

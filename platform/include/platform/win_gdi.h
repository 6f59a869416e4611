// GDI text: memory device contexts, 32-bit DIB sections, fonts, metrics, glyph
// placement and text output, over FreeType and fontconfig. DPI is fixed at 96,
// the only map mode is MM_TEXT. A calls take UTF-8, W calls UTF-16.
#pragma once

#include "platform/win_types.h"

// ---------------------------------------------------------------------------
// Constants
constexpr int MM_TEXT = 1;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

constexpr UINT TA_NOUPDATECP = 0;
constexpr UINT TA_UPDATECP = 1;
constexpr UINT TA_LEFT = 0;
constexpr UINT TA_TOP = 0;
constexpr UINT GDI_ERROR = 0xFFFFFFFFu;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

constexpr UINT ETO_OPAQUE = 0x2;
constexpr UINT ETO_CLIPPED = 0x4;
constexpr UINT ETO_GLYPH_INDEX = 0x10;

constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;

constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE SHIFTJIS_CHARSET = 128;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE NONANTIALIASED_QUALITY = 3;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;

// tmPitchAndFamily bits. TMPF_FIXED_PITCH set means a *variable*-pitch font.
constexpr BYTE TMPF_FIXED_PITCH = 0x1;
constexpr BYTE TMPF_VECTOR = 0x2;
constexpr BYTE TMPF_TRUETYPE = 0x4;

constexpr UINT GGO_METRICS = 0;
constexpr UINT GGO_GLYPH_INDEX = 0x80;

constexpr DWORD GCP_REORDER = 0x2;
constexpr DWORD GCP_USEKERNING = 0x8;
constexpr DWORD GCP_GLYPHSHAPE = 0x10;
constexpr DWORD GCP_LIGATE = 0x20;
constexpr DWORD GCP_DIACRITIC = 0x100;
constexpr DWORD GCP_CLASSIN = 0x80000;
constexpr DWORD GCP_ERROR = 0x8000;

constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD BI_RGB = 0;

constexpr int LF_FACESIZE = 32;

// ---------------------------------------------------------------------------
// Records
struct LOGFONTA {
  LONG lfHeight;  // < 0: em height in pixels; > 0: cell height; 0: 16 pixels
  LONG lfWidth;   // 0: natural; else the average character width
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];  // UTF-8
};

struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

struct TEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // < 0: top-down rows
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// What GetObject reports for a bitmap.
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

struct ABC {
  int abcA;
  UINT abcB;
  int abcC;
};

struct FIXED {
  WORD fract;
  SHORT value;
};

struct MAT2 {
  FIXED eM11;
  FIXED eM12;
  FIXED eM21;
  FIXED eM22;
};

struct GLYPHMETRICS {
  UINT gmBlackBoxX;
  UINT gmBlackBoxY;
  POINT gmptGlyphOrigin;
  SHORT gmCellIncX;
  SHORT gmCellIncY;
};

struct GCP_RESULTSA {
  DWORD lStructSize;  // sizeof(GCP_RESULTSA)
  LPSTR lpOutString;
  UINT* lpOrder;      // per glyph: the index of its first input character
  int* lpDx;          // per glyph: advance in pixels
  int* lpCaretPos;    // per glyph: pen position before it
  LPSTR lpClass;      // untouched
  LPWSTR lpGlyphs;
  UINT nGlyphs;       // in: capacity of the glyph arrays; out: glyphs made
  int nMaxFit;        // input characters placed
};

struct GCP_RESULTSW {
  DWORD lStructSize;  // sizeof(GCP_RESULTSW)
  LPWSTR lpOutString;
  UINT* lpOrder;
  int* lpDx;
  int* lpCaretPos;
  LPSTR lpClass;
  LPWSTR lpGlyphs;
  UINT nGlyphs;
  int nMaxFit;
};

struct WCRANGE {
  WCHAR wcLow;
  USHORT cGlyphs;
};

struct GLYPHSET {
  DWORD cbThis;
  DWORD flAccel;
  DWORD cGlyphsSupported;
  DWORD cRanges;
  WCRANGE ranges[1];
};

static_assert(sizeof(LOGFONTA) == 60);
static_assert(sizeof(LOGFONTW) == 92);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(GLYPHMETRICS) == 20);
static_assert(sizeof(ABC) == 12);

// ---------------------------------------------------------------------------
// Device contexts and objects
HDC CreateCompatibleDC(HDC dc);  // a memory DC holding a 1 x 1 bitmap
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);  // returns the object it replaced
BOOL DeleteObject(HGDIOBJ object);               // FALSE while selected into a DC
int GetObjectA(HGDIOBJ object, int size, LPVOID buffer);
int GetObjectW(HGDIOBJ object, int size, LPVOID buffer);

// 32 bpp BI_RGB only, zero-filled; biHeight < 0 is top-down. Other formats, a
// section handle or an offset give NULL.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);

int SetMapMode(HDC dc, int mode);
int GetDeviceCaps(HDC dc, int index);  // LOGPIXELSX and LOGPIXELSY: 96; others 0
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
UINT SetTextAlign(HDC dc, UINT align);  // TA_TOP | TA_LEFT, with or without TA_UPDATECP
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);

// ---------------------------------------------------------------------------
// Fonts
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, LPCSTR face);
HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, LPCWSTR face);
HFONT CreateFontIndirectA(const LOGFONTA* font);
HFONT CreateFontIndirectW(const LOGFONTW* font);
BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics);
DWORD GetFontLanguageInfo(HDC dc);  // 0: no reordering, ligatures or kerning (GCP_ERROR for a bad DC)

// ---------------------------------------------------------------------------
// Measuring and glyphs
BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, LPSIZE size);
BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size);
// Returns the text's width | height << 16, or 0 on failure.
DWORD GetCharacterPlacementA(HDC dc, LPCSTR text, int count, int maxExtent, GCP_RESULTSA* results,
                             DWORD flags);
DWORD GetCharacterPlacementW(HDC dc, LPCWSTR text, int count, int maxExtent, GCP_RESULTSW* results,
                             DWORD flags);
// Glyphs first .. first + count - 1, or the `count` glyphs of `glyphs` when given.
BOOL GetCharABCWidthsI(HDC dc, UINT first, UINT count, const WORD* glyphs, ABC* out);
BOOL GetCharWidthI(HDC dc, UINT first, UINT count, const WORD* glyphs, int* out);
// GGO_METRICS only (with or without GGO_GLYPH_INDEX); GDI_ERROR otherwise.
DWORD GetGlyphOutlineA(HDC dc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD bufferSize, LPVOID buffer,
                       const MAT2* transform);
DWORD GetGlyphOutlineW(HDC dc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD bufferSize, LPVOID buffer,
                       const MAT2* transform);
// The size of the character map's GLYPHSET; filled when `set` is given.
DWORD GetFontUnicodeRanges(HDC dc, GLYPHSET* set);

// ---------------------------------------------------------------------------
// Output: the reference point is the top-left of the text's cell (with
// TA_UPDATECP, the current position, which moves on). `dx`, when given, holds
// one advance per glyph (one glyph per character).
BOOL ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count,
                 const int* dx);
BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count,
                 const int* dx);

namespace platform::gdi {
// Registers the exports of "gdi32.dll" that are looked up by name. Every file
// that includes this header calls it, so a program using GDI text links them.
bool RegisterGdiExports();
inline const bool kGdiExportsRegistered = RegisterGdiExports();
}  // namespace platform::gdi

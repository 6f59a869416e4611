// Records and entry-point types of the script engine "usp10.dll" (itemising,
// breaking, shaping and placing complex scripts). The platform has no such
// module: callers look its functions up by name with GetProcAddress, find
// nothing and take their path without it; tests register a fake module whose
// exports have these types.
#pragma once

#include "platform/win_gdi.h"

using LCID = DWORD;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;

// ScriptStringAnalyse flags.
constexpr DWORD SSA_FALLBACK = 0x20;
constexpr DWORD SSA_GLYPHS = 0x80;
constexpr DWORD SSA_RTL = 0x100;
constexpr DWORD SSA_LINK = 0x1000;

// The engine's per-font cache; null until the engine fills it.
using SCRIPT_CACHE = void*;
// One ScriptStringAnalyse result, freed with ScriptStringFree.
using SCRIPT_STRING_ANALYSIS = void*;

struct SCRIPT_STATE {
  WORD uBidiLevel : 5;
  WORD fOverrideDirection : 1;
  WORD fInhibitSymSwap : 1;
  WORD fCharShape : 1;
  WORD fDigitSubstitute : 1;
  WORD fInhibitLigate : 1;
  WORD fDisplayZWG : 1;
  WORD fArabicNumContext : 1;
  WORD fGcpClusters : 1;
  WORD fReserved : 1;
  WORD fEngineReserved : 2;
};

struct SCRIPT_ANALYSIS {
  WORD eScript : 10;
  WORD fRTL : 1;
  WORD fLayoutRTL : 1;  // the item is laid out right to left
  WORD fLinkBefore : 1;
  WORD fLinkAfter : 1;
  WORD fLogicalOrder : 1;
  WORD fNoGlyphIndex : 1;
  SCRIPT_STATE s;
};

struct SCRIPT_ITEM {
  int iCharPos;  // first character of the item
  SCRIPT_ANALYSIS a;
};

struct SCRIPT_CONTROL {
  DWORD uDefaultLanguage : 16;
  DWORD fContextDigits : 1;
  DWORD fInvertPreBoundDir : 1;
  DWORD fInvertPostBoundDir : 1;
  DWORD fLinkStringBefore : 1;
  DWORD fLinkStringAfter : 1;
  DWORD fNeutralOverride : 1;
  DWORD fNumericOverride : 1;
  DWORD fLegacyBidiClass : 1;
  DWORD fMergeNeutralItems : 1;
  DWORD fReserved : 7;
};

// One byte per character; fWordStop is bit 3 (0x8).
struct SCRIPT_LOGATTR {
  BYTE fSoftBreak : 1;
  BYTE fWhiteSpace : 1;
  BYTE fCharStop : 1;
  BYTE fWordStop : 1;
  BYTE fInvalid : 1;
  BYTE fReserved : 3;
};

struct SCRIPT_VISATTR {
  WORD uJustification : 4;
  WORD fClusterStart : 1;
  WORD fDiacritic : 1;
  WORD fZeroWidth : 1;
  WORD fReserved : 1;
  WORD fShapeReserved : 8;
};

struct GOFFSET {
  LONG du;
  LONG dv;
};

struct SCRIPT_FONTPROPERTIES {
  int cBytes;  // sizeof(SCRIPT_FONTPROPERTIES), 16
  WORD wgBlank;
  WORD wgDefault;
  WORD wgInvalid;
  WORD wgKashida;
  int iKashidaWidth;
};

// A script's properties; kept by callers as the engine hands them out.
struct SCRIPT_PROPERTIES {
  DWORD langid : 16;
  DWORD flags : 16;
  DWORD moreFlags;
};

struct SCRIPT_DIGITSUBSTITUTE {
  DWORD NationalDigitLanguage : 16;
  DWORD TraditionalDigitLanguage : 16;
  DWORD DigitSubstitute : 8;
  DWORD dwReserved;
};

struct SCRIPT_TABDEF;

static_assert(sizeof(SCRIPT_STATE) == 2 && sizeof(SCRIPT_ANALYSIS) == 4 && sizeof(SCRIPT_ITEM) == 8);
static_assert(sizeof(SCRIPT_CONTROL) == 4 && sizeof(SCRIPT_LOGATTR) == 1 && sizeof(SCRIPT_VISATTR) == 2);
static_assert(sizeof(SCRIPT_FONTPROPERTIES) == 16 && sizeof(GOFFSET) == 8);

// The exports of "usp10.dll" as GetProcAddress hands them out (cast from FARPROC).
using ScriptItemizeFn = HRESULT (*)(const WCHAR* text, int count, int maxItems, const SCRIPT_CONTROL* control,
                                    const SCRIPT_STATE* state, SCRIPT_ITEM* items, int* itemCount);
using ScriptShapeFn = HRESULT (*)(HDC dc, SCRIPT_CACHE* cache, const WCHAR* text, int count, int maxGlyphs,
                                  SCRIPT_ANALYSIS* analysis, WORD* glyphs, WORD* clusters, SCRIPT_VISATTR* visAttrs,
                                  int* glyphCount);
using ScriptPlaceFn = HRESULT (*)(HDC dc, SCRIPT_CACHE* cache, const WORD* glyphs, int glyphCount,
                                  const SCRIPT_VISATTR* visAttrs, SCRIPT_ANALYSIS* analysis, int* advances,
                                  GOFFSET* offsets, ABC* width);
using ScriptBreakFn = HRESULT (*)(const WCHAR* text, int count, const SCRIPT_ANALYSIS* analysis,
                                  SCRIPT_LOGATTR* attrs);
using ScriptGetPropertiesFn = HRESULT (*)(const SCRIPT_PROPERTIES*** properties, int* scriptCount);
using ScriptFreeCacheFn = HRESULT (*)(SCRIPT_CACHE* cache);
using ScriptRecordDigitSubstitutionFn = HRESULT (*)(LCID locale, SCRIPT_DIGITSUBSTITUTE* substitution);
using ScriptApplyDigitSubstitutionFn = HRESULT (*)(const SCRIPT_DIGITSUBSTITUTE* substitution,
                                                   SCRIPT_CONTROL* control, SCRIPT_STATE* state);
using ScriptGetFontPropertiesFn = HRESULT (*)(HDC dc, SCRIPT_CACHE* cache, SCRIPT_FONTPROPERTIES* properties);
using ScriptStringAnalyseFn = HRESULT (*)(HDC dc, const void* text, int count, int glyphs, int charset, DWORD flags,
                                          int width, SCRIPT_CONTROL* control, SCRIPT_STATE* state, const int* dx,
                                          SCRIPT_TABDEF* tabs, const BYTE* classes,
                                          SCRIPT_STRING_ANALYSIS* analysis);
using ScriptStringOutFn = HRESULT (*)(SCRIPT_STRING_ANALYSIS analysis, int x, int y, UINT options, const RECT* clip,
                                      int minSel, int maxSel, BOOL disabled);
using ScriptStringFreeFn = HRESULT (*)(SCRIPT_STRING_ANALYSIS* analysis);
using ScriptStringCPtoXFn = HRESULT (*)(SCRIPT_STRING_ANALYSIS analysis, int character, BOOL trailing, int* x);
using ScriptString_pSizeFn = const SIZE* (*)(SCRIPT_STRING_ANALYSIS analysis);

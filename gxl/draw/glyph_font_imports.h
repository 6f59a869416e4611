// The entry points the texture font looks up by name: the glyph-width and
// Unicode-range functions of "gdi32.dll" and the functions of the optional
// script engine "usp10.dll". One table for the process, filled on first use.
#pragma once

#include "platform/win_gdi.h"
#include "platform/win_script.h"

namespace gxl {

struct GlyphFontImports {
  BOOL (*getCharABCWidthsI)(HDC, UINT, UINT, const WORD*, ABC*) = nullptr;
  BOOL (*getCharWidthI)(HDC, UINT, UINT, const WORD*, int*) = nullptr;
  DWORD (*getFontUnicodeRanges)(HDC, GLYPHSET*) = nullptr;

  // Set only when "usp10.dll" was had and every one of its names was found.
  bool scriptEngine = false;
  ScriptItemizeFn scriptItemize = nullptr;
  ScriptShapeFn scriptShape = nullptr;
  ScriptPlaceFn scriptPlace = nullptr;
  ScriptBreakFn scriptBreak = nullptr;
  FARPROC scriptJustify = nullptr;  // required, never called
  FARPROC scriptTextOut = nullptr;  // required, never called
  ScriptGetPropertiesFn scriptGetProperties = nullptr;
  ScriptFreeCacheFn scriptFreeCache = nullptr;
  ScriptRecordDigitSubstitutionFn scriptRecordDigitSubstitution = nullptr;
  ScriptApplyDigitSubstitutionFn scriptApplyDigitSubstitution = nullptr;
  ScriptGetFontPropertiesFn scriptGetFontProperties = nullptr;
  ScriptStringAnalyseFn scriptStringAnalyse = nullptr;
  ScriptStringOutFn scriptStringOut = nullptr;
  ScriptStringFreeFn scriptStringFree = nullptr;
  ScriptStringCPtoXFn scriptStringCPtoX = nullptr;
  ScriptString_pSizeFn scriptStringPSize = nullptr;

  const SCRIPT_PROPERTIES** scriptProperties = nullptr;
  int scriptCount = 0;
  SCRIPT_DIGITSUBSTITUTE digitSubstitute{};  // of the user's default locale
};

// Whether the system is of the Windows NT family; asked once per process.
bool IsWindowsNT();

// The table, looked up on the first call of the process. The outcome is kept:
// when a needed name was missing (E_OUTOFMEMORY) every later call fails the
// same way, and the script engine counts as absent.
HRESULT LookUpGlyphFontImports(const GlyphFontImports** imports);

}  // namespace gxl

namespace gxl::draw::test {
// Forgets the looked-up table, so the next font looks the names up again.
void ResetGlyphFontImports();
}  // namespace gxl::draw::test

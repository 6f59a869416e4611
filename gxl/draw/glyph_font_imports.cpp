#include "gxl/draw/glyph_font_imports.h"

#include "platform/win_kernel.h"

namespace gxl {
namespace {

struct VersionAnswer {
  bool probed = false;
  bool windowsNT = false;
};
VersionAnswer g_version;

struct ImportTable {
  bool lookedUp = false;
  HRESULT outcome = S_OK;
  GlyphFontImports imports;
};
ImportTable g_table;

HMODULE TakeModule(const char* name) {
  if (HMODULE module = GetModuleHandleA(name)) return module;
  return LoadLibraryA(name);
}

template <class Fn>
bool Find(HMODULE module, const char* name, Fn* out) {
  const FARPROC p = GetProcAddress(module, name);
  *out = reinterpret_cast<Fn>(p);
  return p != nullptr;
}

HRESULT FindGdiNames(GlyphFontImports& t) {
  HMODULE gdi = IsWindowsNT() ? TakeModule("gdi32.dll") : nullptr;
  if (!gdi) {
    // A module that cannot be had is skipped; the calls it stands for are
    // the platform's own, which this program links anyway.
    t.getCharABCWidthsI = &::GetCharABCWidthsI;
    t.getCharWidthI = &::GetCharWidthI;
    t.getFontUnicodeRanges = &::GetFontUnicodeRanges;
    return S_OK;
  }
  if (!Find(gdi, "GetCharABCWidthsI", &t.getCharABCWidthsI) || !Find(gdi, "GetCharWidthI", &t.getCharWidthI) ||
      !Find(gdi, "GetFontUnicodeRanges", &t.getFontUnicodeRanges))
    return E_OUTOFMEMORY;
  return S_OK;
}

bool FindScriptNames(HMODULE usp, GlyphFontImports& t) {
  return Find(usp, "ScriptItemize", &t.scriptItemize) && Find(usp, "ScriptShape", &t.scriptShape) &&
         Find(usp, "ScriptPlace", &t.scriptPlace) && Find(usp, "ScriptBreak", &t.scriptBreak) &&
         Find(usp, "ScriptJustify", &t.scriptJustify) && Find(usp, "ScriptTextOut", &t.scriptTextOut) &&
         Find(usp, "ScriptGetProperties", &t.scriptGetProperties) &&
         Find(usp, "ScriptFreeCache", &t.scriptFreeCache) &&
         Find(usp, "ScriptRecordDigitSubstitution", &t.scriptRecordDigitSubstitution) &&
         Find(usp, "ScriptApplyDigitSubstitution", &t.scriptApplyDigitSubstitution) &&
         Find(usp, "ScriptGetFontProperties", &t.scriptGetFontProperties) &&
         Find(usp, "ScriptStringAnalyse", &t.scriptStringAnalyse) &&
         Find(usp, "ScriptStringOut", &t.scriptStringOut) && Find(usp, "ScriptStringFree", &t.scriptStringFree) &&
         Find(usp, "ScriptStringCPtoX", &t.scriptStringCPtoX) &&
         Find(usp, "ScriptString_pSize", &t.scriptStringPSize);
}

HRESULT LookUp(GlyphFontImports& t) {
  const HRESULT hr = FindGdiNames(t);
  if (FAILED(hr)) return hr;
  HMODULE usp = TakeModule("usp10.dll");
  if (!usp) return S_OK;  // the font works without the script engine
  if (!FindScriptNames(usp, t)) {
    // Never leave a half-filled engine behind: the script path needs all of it.
    const GlyphFontImports gdiOnly = {t.getCharABCWidthsI, t.getCharWidthI, t.getFontUnicodeRanges};
    t = gdiOnly;
    return E_OUTOFMEMORY;
  }
  t.scriptEngine = true;
  t.scriptGetProperties(&t.scriptProperties, &t.scriptCount);
  t.scriptRecordDigitSubstitution(LOCALE_USER_DEFAULT, &t.digitSubstitute);
  return S_OK;
}

}  // namespace

bool IsWindowsNT() {
  if (!g_version.probed) {
    g_version.probed = true;
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    // A system that cannot say what it is counts as one of the older family.
    g_version.windowsNT = GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  }
  return g_version.windowsNT;
}

HRESULT LookUpGlyphFontImports(const GlyphFontImports** imports) {
  if (!g_table.lookedUp) {
    g_table.lookedUp = true;
    g_table.outcome = LookUp(g_table.imports);
  }
  *imports = &g_table.imports;
  return g_table.outcome;
}

}  // namespace gxl

namespace gxl::draw::test {
void ResetGlyphFontImports() { gxl::g_table = {}; }
}  // namespace gxl::draw::test

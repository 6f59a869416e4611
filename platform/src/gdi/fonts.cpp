// Font creation and text metrics. A font is realised when it is created, so a
// face that cannot be had fails the creation rather than the first drawing.
#include <algorithm>
#include <cstring>
#include <string>

#include "gdi/objects.h"
#include "kernel/utf.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "testing/failure.h"

namespace platform::gdi {

std::unique_ptr<FontObject> NewFont(const LOGFONTW& font) {
  auto f = std::make_unique<FontObject>();
  f->logfont = font;
  f->instance = FontInstance::Create(font);
  if (font.lfEscapement != 0 || font.lfOrientation != 0) platform::detail::CountDiagnostic("gdi.escapement");
  if (font.lfUnderline || font.lfStrikeOut) platform::detail::CountDiagnostic("gdi.underline");
  return f;
}

namespace {

std::string FaceUtf8(const LOGFONTW& font) {
  size_t n = 0;
  while (n < static_cast<size_t>(LF_FACESIZE) && font.lfFaceName[n]) ++n;
  return utf::ToUtf8(font.lfFaceName, n);
}

// The failure-injection detail of a creation: "face height weight".
std::string Detail(const LOGFONTW& font) {
  return FaceUtf8(font) + " " + std::to_string(font.lfHeight) + " " + std::to_string(font.lfWeight);
}

void SetFace(LOGFONTW& font, const std::u16string& face) {
  std::memset(font.lfFaceName, 0, sizeof font.lfFaceName);
  size_t keep = std::min<size_t>(face.size(), LF_FACESIZE - 1);
  // Never keep half of a surrogate pair.
  if (keep > 0 && keep < face.size() && face[keep - 1] >= 0xD800 && face[keep - 1] <= 0xDBFF) --keep;
  std::copy(face.begin(), face.begin() + static_cast<std::ptrdiff_t>(keep), font.lfFaceName);
}

LOGFONTW Widen(const LOGFONTA& a) {
  LOGFONTW w;
  std::memcpy(&w, &a, offsetof(LOGFONTA, lfFaceName));
  size_t n = 0;
  while (n < sizeof a.lfFaceName && a.lfFaceName[n]) ++n;
  SetFace(w, utf::ToUtf16(a.lfFaceName, n));
  return w;
}

LOGFONTW Make(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
              DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
              DWORD pitchAndFamily) {
  LOGFONTW f{};
  f.lfHeight = height;
  f.lfWidth = width;
  f.lfEscapement = escapement;
  f.lfOrientation = orientation;
  f.lfWeight = weight;
  f.lfItalic = static_cast<BYTE>(italic);
  f.lfUnderline = static_cast<BYTE>(underline);
  f.lfStrikeOut = static_cast<BYTE>(strikeOut);
  f.lfCharSet = static_cast<BYTE>(charSet);
  f.lfOutPrecision = static_cast<BYTE>(outPrecision);
  f.lfClipPrecision = static_cast<BYTE>(clipPrecision);
  f.lfQuality = static_cast<BYTE>(quality);
  f.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
  return f;
}

HFONT Create(const char* api, const LOGFONTW& font) {
  if (platform::detail::ShouldFail(api, nullptr, Detail(font))) return nullptr;
  std::unique_ptr<FontObject> f = NewFont(font);
  if (!f->instance) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HFONT>(AddObject(std::move(f)));
}

template <class TM>
BOOL FillMetrics(HDC dc, TM* tm, char32_t cap) {
  DcObject* d = nullptr;
  FontInstance* font = DcFont(dc, &d);
  if (!font || !tm) return FALSE;
  const FontMetrics& m = font->Metrics();
  const LOGFONTW& lf = d->font->logfont;
  *tm = TM{};
  tm->tmHeight = m.height;
  tm->tmAscent = m.ascent;
  tm->tmDescent = m.descent;
  tm->tmInternalLeading = m.height - m.em;
  tm->tmExternalLeading = 0;
  tm->tmAveCharWidth = m.aveCharWidth;
  tm->tmMaxCharWidth = m.maxCharWidth;
  tm->tmWeight = m.weight;
  tm->tmOverhang = 0;
  tm->tmDigitizedAspectX = 96;
  tm->tmDigitizedAspectY = 96;
  using Char = decltype(tm->tmFirstChar);
  tm->tmFirstChar = static_cast<Char>(std::min(m.firstChar, cap));
  tm->tmLastChar = static_cast<Char>(std::min(m.lastChar, cap));
  tm->tmDefaultChar = static_cast<Char>(std::min(m.defaultChar, cap));
  tm->tmBreakChar = 0x20;
  tm->tmItalic = lf.lfItalic ? 0xFF : 0;
  tm->tmUnderlined = lf.lfUnderline ? 1 : 0;
  tm->tmStruckOut = lf.lfStrikeOut ? 1 : 0;
  tm->tmPitchAndFamily = TMPF_TRUETYPE | TMPF_VECTOR | (m.variablePitch ? TMPF_FIXED_PITCH : 0);
  tm->tmCharSet = lf.lfCharSet == DEFAULT_CHARSET ? ANSI_CHARSET : lf.lfCharSet;
  return TRUE;
}

}  // namespace
}  // namespace platform::gdi

using namespace platform::gdi;

HFONT CreateFontIndirectW(const LOGFONTW* font) {
  Guard guard(Lock());
  if (!font) return nullptr;
  return Create("CreateFontIndirectW", *font);
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
  Guard guard(Lock());
  if (!font) return nullptr;
  return Create("CreateFontIndirectA", Widen(*font));
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, LPCSTR face) {
  Guard guard(Lock());
  LOGFONTW f = Make(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                    outPrecision, clipPrecision, quality, pitchAndFamily);
  if (face) SetFace(f, platform::utf::ToUtf16(face, std::strlen(face)));
  return Create("CreateFontA", f);
}

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, LPCWSTR face) {
  Guard guard(Lock());
  LOGFONTW f = Make(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                    outPrecision, clipPrecision, quality, pitchAndFamily);
  if (face) SetFace(f, std::u16string(face));
  return Create("CreateFontW", f);
}

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetTextMetricsA", nullptr)) return FALSE;
  return FillMetrics(dc, metrics, 0xFF);
}

BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics) {
  Guard guard(Lock());
  if (platform::detail::ShouldFail("GetTextMetricsW", nullptr)) return FALSE;
  return FillMetrics(dc, metrics, 0xFFFF);
}

DWORD GetFontLanguageInfo(HDC dc) {
  Guard guard(Lock());
  return FindDc(dc) ? 0 : GCP_ERROR;
}

namespace platform::test {

std::vector<std::string> FontFaceFiles(HFONT font) {
  Guard guard(Lock());
  FontObject* f = FindFont(font);
  if (!f || !f->instance) return {};
  return f->instance->Files();
}

}  // namespace platform::test

// Sizing follows GDI: a negative height is the em, a positive one the cell
// (ascent + descent from the OS/2 Windows metrics, each rounded up), zero means
// 16 pixels. A width scales x so the OS/2 average character width matches it.
#include "gdi/font_instance.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include "kernel/utf.h"

namespace platform::gdi {
namespace {

constexpr int kMaxEm = 2048;  // keeps a glyph's bitmap bounded whatever the caller asks
constexpr std::uint32_t kIndexSpace = 0x10000;

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

void CopyBitmap(const FT_Bitmap& bitmap, GlyphImage& image) {
  image.width = static_cast<int>(bitmap.width);
  image.rows = static_cast<int>(bitmap.rows);
  image.coverage.assign(static_cast<size_t>(image.width) * image.rows, 0);
  const int pitch = std::abs(bitmap.pitch);
  for (int y = 0; y < image.rows; ++y) {
    const int srcRow = bitmap.pitch >= 0 ? y : image.rows - 1 - y;
    const unsigned char* src = bitmap.buffer + static_cast<size_t>(srcRow) * pitch;
    std::uint8_t* dst = &image.coverage[static_cast<size_t>(y) * image.width];
    if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.num_grays == 256) {
      std::copy(src, src + image.width, dst);
    } else if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
      for (int x = 0; x < image.width; ++x) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.num_grays > 1) {
      for (int x = 0; x < image.width; ++x) dst[x] = static_cast<std::uint8_t>(src[x] * 255 / (bitmap.num_grays - 1));
    }
  }
}

}  // namespace

std::unique_ptr<FontInstance> FontInstance::Create(const LOGFONTW& font) {
  std::unique_ptr<FontInstance> f(new FontInstance);
  size_t n = 0;
  while (n < static_cast<size_t>(LF_FACESIZE) && font.lfFaceName[n]) ++n;
  f->m_request.name = utf::ToUtf8(font.lfFaceName, n);
  f->m_request.weight = font.lfWeight;
  f->m_request.italic = font.lfItalic != 0;
  f->m_request.pitch = font.lfPitchAndFamily & 3;
  f->m_request.charset = font.lfCharSet;
  f->m_mono = font.lfQuality == NONANTIALIASED_QUALITY;

  std::optional<FaceChoice> choice = ChooseFace(f->m_request);
  if (!choice || !f->OpenFace(*choice, 0, &f->m_primary)) return nullptr;
  FT_Face face = f->m_primary.face;

  const int upem = face->units_per_EM;
  int winAscent = face->ascender;
  int winDescent = -face->descender;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    winAscent = os2->usWinAscent;
    winDescent = os2->usWinDescent;
  }
  if (winAscent + winDescent <= 0) {
    winAscent = upem * 4 / 5;
    winDescent = upem - winAscent;
  }

  auto cell = [&](std::int64_t e) { return CeilDiv(winAscent * e, upem) + CeilDiv(winDescent * e, upem); };
  std::int64_t em = 16;
  const std::int64_t h = font.lfHeight;
  if (h < 0) {
    em = std::min<std::int64_t>(-h, kMaxEm);
  } else if (h > 0) {
    const std::int64_t want = std::min<std::int64_t>(h, 4 * kMaxEm);
    em = std::clamp<std::int64_t>(want * upem / (winAscent + winDescent), 1, kMaxEm);
    while (em > 1 && cell(em) > want) --em;
    while (em < kMaxEm && cell(em + 1) <= want) ++em;
  }
  double xPpem = static_cast<double>(em);
  if (font.lfWidth != 0 && os2 && os2->version != 0xFFFF && os2->xAvgCharWidth > 0) {
    const double w = std::fabs(static_cast<double>(font.lfWidth));
    xPpem = std::clamp(w * upem / os2->xAvgCharWidth, 1.0, static_cast<double>(kMaxEm));
  }
  f->m_ySize = static_cast<FT_F26Dot6>(em * 64);
  f->m_xSize = static_cast<FT_F26Dot6>(std::lround(xPpem * 64));
  if (FT_Set_Char_Size(face, f->m_xSize, f->m_ySize, 72, 72) != 0) return nullptr;
  f->m_primary.boldStrength = FT_MulFix(face->units_per_EM, face->size->metrics.y_scale) / 24;
  f->ComputeMetrics(font, static_cast<int>(em), xPpem, winAscent, winDescent);
  return f;
}

FontInstance::~FontInstance() {
  if (m_primary.face) FT_Done_Face(m_primary.face);
  if (m_fallback.face) FT_Done_Face(m_fallback.face);
}

bool FontInstance::OpenFace(const FaceChoice& choice, std::uint32_t base, Face* out) const {
  FT_Library lib = Library();
  if (!lib || base >= kIndexSpace) return false;
  FT_Face face = nullptr;
  if (FT_New_Face(lib, choice.file.c_str(), choice.index, &face) != 0) return false;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0 || face->num_glyphs <= 0) {
    FT_Done_Face(face);
    return false;
  }
  out->face = face;
  out->file = choice.file;
  out->base = base;
  out->count = std::min<std::uint32_t>(static_cast<std::uint32_t>(face->num_glyphs), kIndexSpace - base);
  out->synthBold = choice.synthBold;
  out->synthItalic = choice.synthItalic;
  return true;
}

void FontInstance::ComputeMetrics(const LOGFONTW& font, int em, double xPpem, int winAscent, int winDescent) {
  FT_Face face = m_primary.face;
  const int upem = face->units_per_EM;
  FontMetrics& m = m_metrics;
  m.em = em;
  m.ascent = static_cast<int>(CeilDiv(static_cast<std::int64_t>(winAscent) * em, upem));
  m.descent = static_cast<int>(CeilDiv(static_cast<std::int64_t>(winDescent) * em, upem));
  m.height = m.ascent + m.descent;
  m.weight = font.lfWeight != 0 ? font.lfWeight : ((face->style_flags & FT_STYLE_FLAG_BOLD) ? FW_BOLD : FW_NORMAL);
  m.variablePitch = !FT_IS_FIXED_WIDTH(face);
  const int boldPixels = m_primary.synthBold ? static_cast<int>((m_primary.boldStrength + 32) >> 6) : 0;

  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->xAvgCharWidth > 0) {
    m.aveCharWidth = static_cast<int>(std::lround(os2->xAvgCharWidth * xPpem / upem));
  } else {
    int sum = 0, count = 0;
    for (char32_t c = 'a'; c <= 'z'; ++c) {
      FT_UInt g = FT_Get_Char_Index(face, c);
      if (const GlyphImage* image = g ? Glyph(g) : nullptr) {
        sum += image->advance;
        ++count;
      }
    }
    m.aveCharWidth = count ? (sum + count / 2) / count : em / 2;
  }
  m.aveCharWidth = std::max(m.aveCharWidth, 1);
  m.maxCharWidth = static_cast<int>(std::ceil(face->max_advance_width * xPpem / upem)) + boldPixels;
  m.maxCharWidth = std::max(m.maxCharWidth, m.aveCharWidth);

  FT_UInt g = 0;
  bool any = false;
  for (FT_ULong c = FT_Get_First_Char(face, &g); g != 0 && c <= 0xFFFF; c = FT_Get_Next_Char(face, c, &g)) {
    if (!any) m.firstChar = static_cast<char32_t>(c);
    m.lastChar = static_cast<char32_t>(c);
    any = true;
  }
  m.defaultChar = 0;
  for (char32_t c = 1; c < 0x80; ++c) {
    if (FT_Get_Char_Index(face, c) == 0) {
      m.defaultChar = c;
      break;
    }
  }
}

bool FontInstance::EnsureFallback() {
  if (m_fallbackTried) return m_fallback.face != nullptr;
  m_fallbackTried = true;
  std::optional<FaceChoice> choice = ChooseJapaneseFallback(m_request, m_primary.file);
  if (!choice) return false;
  Face face;
  if (!OpenFace(*choice, m_primary.count, &face)) return false;
  if (FT_Set_Char_Size(face.face, m_xSize, m_ySize, 72, 72) != 0) {
    FT_Done_Face(face.face);
    return false;
  }
  face.boldStrength = FT_MulFix(face.face->units_per_EM, face.face->size->metrics.y_scale) / 24;
  m_fallback = face;
  return true;
}

FontInstance::Face* FontInstance::Locate(std::uint32_t glyph, std::uint32_t* local) {
  if (glyph < m_primary.count) {
    *local = glyph;
    return &m_primary;
  }
  if (!EnsureFallback() || glyph - m_fallback.base >= m_fallback.count) return nullptr;
  *local = glyph - m_fallback.base;
  return &m_fallback;
}

std::uint32_t FontInstance::GlyphOf(char32_t codePoint) {
  if (codePoint > 0x10FFFF) return 0;
  FT_UInt g = FT_Get_Char_Index(m_primary.face, codePoint);
  if (g != 0 && g < m_primary.count) return g;
  // Only text beyond ASCII reaches the fallback: control characters stay boxes.
  if (codePoint >= 0x80 && EnsureFallback()) {
    g = FT_Get_Char_Index(m_fallback.face, codePoint);
    if (g != 0 && g < m_fallback.count) return m_fallback.base + g;
  }
  return 0;
}

const GlyphImage* FontInstance::Glyph(std::uint32_t glyph) {
  auto it = m_glyphs.find(glyph);
  if (it != m_glyphs.end()) return it->second.get();
  std::uint32_t local = 0;
  Face* face = Locate(glyph, &local);
  if (!face) return nullptr;

  std::unique_ptr<GlyphImage> image;
  const FT_Int32 flags = FT_LOAD_NO_BITMAP | (m_mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
  if (FT_Load_Glyph(face->face, local, flags) == 0) {
    FT_GlyphSlot slot = face->face->glyph;
    FT_Pos advance = slot->advance.x;
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
      if (face->synthItalic) {
        FT_Matrix shear = {0x10000, 0x3333, 0, 0x10000};  // x += 0.2 y
        FT_Outline_Transform(&slot->outline, &shear);
      }
      if (face->synthBold) {
        FT_Outline_EmboldenXY(&slot->outline, face->boldStrength, 0);
        advance += (face->boldStrength + 32) & ~63;
      }
    }
    if (FT_Render_Glyph(slot, m_mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) == 0) {
      image = std::make_unique<GlyphImage>();
      image->advance = static_cast<int>((advance + 32) >> 6);
      image->left = slot->bitmap_left;
      image->top = slot->bitmap_top;
      CopyBitmap(slot->bitmap, *image);
    }
  }
  const GlyphImage* result = image.get();
  m_glyphs.emplace(glyph, std::move(image));
  return result;
}

std::vector<std::pair<char32_t, char32_t>> FontInstance::CodePointRanges() {
  std::vector<char32_t> points;
  FT_UInt g = 0;
  for (FT_ULong c = FT_Get_First_Char(m_primary.face, &g); g != 0 && c <= 0xFFFF;
       c = FT_Get_Next_Char(m_primary.face, c, &g))
    if (g < m_primary.count) points.push_back(static_cast<char32_t>(c));
  if (EnsureFallback()) {
    for (FT_ULong c = FT_Get_First_Char(m_fallback.face, &g); g != 0 && c <= 0xFFFF;
         c = FT_Get_Next_Char(m_fallback.face, c, &g))
      if (c >= 0x80 && g < m_fallback.count) points.push_back(static_cast<char32_t>(c));
  }
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());
  std::vector<std::pair<char32_t, char32_t>> ranges;
  for (char32_t c : points) {
    if (!ranges.empty() && ranges.back().second + 1 == c)
      ranges.back().second = c;
    else
      ranges.emplace_back(c, c);
  }
  return ranges;
}

std::vector<std::string> FontInstance::Files() {
  std::vector<std::string> files = {m_primary.file};
  if (EnsureFallback()) files.push_back(m_fallback.file);
  return files;
}

}  // namespace platform::gdi

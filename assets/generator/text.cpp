#include "assets/generator/text.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace assetgen {

namespace {

FT_Library Library() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) throw std::runtime_error("FreeType cannot start");
    return l;
  }();
  return lib;
}

std::string FindFontFile(const std::string& pattern, const std::string& family) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) throw std::runtime_error("fontconfig cannot start");
  FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str()));
  FcConfigSubstitute(config, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pat, &result);
  std::string file, found;
  if (match) {
    FcChar8* f = nullptr;
    FcChar8* fam = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &f) == FcResultMatch) file = reinterpret_cast<char*>(f);
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &fam) == FcResultMatch; ++i) {
      if (family == reinterpret_cast<char*>(fam)) found = family;
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pat);
  FcConfigDestroy(config);
  if (file.empty() || found.empty())
    throw std::runtime_error("font not installed: " + pattern + " (family " + family + ")");
  return file;
}

// Decodes one UTF-8 code point; malformed bytes yield U+FFFD.
char32_t NextCodePoint(const std::string& s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  if (extra < 0) return 0xFFFD;
  char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size()) return 0xFFFD;
    unsigned char n = static_cast<unsigned char>(s[i++]);
    if ((n & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (n & 0x3F);
  }
  return cp;
}

}  // namespace

struct FontFace::Impl {
  std::string file;
  FT_Face face = nullptr;
};

FontFace::FontFace(const std::string& pattern, const std::string& family) : m_impl(new Impl) {
  m_impl->file = FindFontFile(pattern, family);
  if (FT_New_Face(Library(), m_impl->file.c_str(), 0, &m_impl->face) != 0)
    throw std::runtime_error("cannot open font " + m_impl->file);
}

FontFace::~FontFace() {
  if (m_impl && m_impl->face) FT_Done_Face(m_impl->face);
}

const std::string& FontFace::file() const { return m_impl->file; }

Fonts::Fonts()
    : sansBold("Liberation Sans:bold", "Liberation Sans"),
      sans("Liberation Sans", "Liberation Sans"),
      gothic("IPAGothic", "IPAGothic") {}

TextRun RenderText(const TextStyle& style, const std::string& utf8, int margin) {
  FT_Face face = style.face->impl()->face;
  // 26.6 fixed point; the squeeze is applied by the transform so that hinting
  // and advances stay consistent.
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(style.size * 64)), 72, 72);
  FT_Matrix m{static_cast<FT_Fixed>(std::lround(style.xscale * 65536.0)), 0, 0, 0x10000};
  FT_Set_Transform(face, &m, nullptr);

  struct Placed {
    std::vector<unsigned char> bits;
    int w, h, pitch, left, top;
    float penX;
  };
  std::vector<Placed> glyphs;
  float pen = 0;
  FT_UInt previous = 0;
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, i);
    FT_UInt index = FT_Get_Char_Index(face, cp);
    if (previous && index && FT_HAS_KERNING(face)) {
      FT_Vector k;
      FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &k);
      pen += k.x / 64.0f * style.xscale;
    }
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_HINTING) != 0 ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
      throw std::runtime_error("cannot render a glyph");
    const FT_Bitmap& bm = face->glyph->bitmap;
    Placed p;
    p.w = static_cast<int>(bm.width);
    p.h = static_cast<int>(bm.rows);
    p.pitch = std::abs(bm.pitch);
    p.left = face->glyph->bitmap_left;
    p.top = face->glyph->bitmap_top;
    p.penX = pen;
    p.bits.assign(bm.buffer, bm.buffer + static_cast<size_t>(p.pitch) * p.h);
    if (p.w > 0 && p.h > 0) {
      minX = std::min(minX, pen + p.left);
      maxX = std::max(maxX, pen + p.left + p.w);
      minY = std::min(minY, static_cast<float>(-p.top));
      maxY = std::max(maxY, static_cast<float>(-p.top + p.h));
    }
    glyphs.push_back(std::move(p));
    pen += face->glyph->advance.x / 64.0f + style.tracking;
    previous = index;
  }
  FT_Set_Transform(face, nullptr, nullptr);
  if (minX > maxX) {  // only blanks
    minX = 0;
    maxX = 1;
    minY = -1;
    maxY = 0;
  }
  int x0 = static_cast<int>(std::floor(minX)), y0 = static_cast<int>(std::floor(minY));
  int x1 = static_cast<int>(std::ceil(maxX)), y1 = static_cast<int>(std::ceil(maxY));
  TextRun run;
  run.mask = Mask(x1 - x0 + 2 * margin, y1 - y0 + 2 * margin);
  run.originX = static_cast<float>(margin - x0);
  run.baseline = static_cast<float>(margin - y0);
  run.advance = pen - style.tracking;
  run.inkLeft = margin;
  run.inkTop = margin;
  run.inkRight = margin + (x1 - x0);
  run.inkBottom = margin + (y1 - y0);
  for (const Placed& g : glyphs) {
    // Glyph bitmaps land on whole pixels; the pen's fraction is rounded.
    int gx = static_cast<int>(std::lround(run.originX + g.penX)) + g.left;
    int gy = static_cast<int>(run.baseline) - g.top;
    for (int y = 0; y < g.h; ++y)
      for (int x = 0; x < g.w; ++x) {
        int tx = gx + x, ty = gy + y;
        if (tx < 0 || ty < 0 || tx >= run.mask.width() || ty >= run.mask.height()) continue;
        float v = g.bits[static_cast<size_t>(y) * g.pitch + x] / 255.0f;
        float& d = run.mask.ref(tx, ty);
        d = std::min(1.0f, d + v);
      }
  }
  return run;
}

void DrawText(Canvas& canvas, const TextRun& run, float x, float y, Anchor anchor, const TextLook& look) {
  float ax = x, ay = y;  // where the ink box's top-left goes
  switch (anchor) {
    case Anchor::TopLeft: break;
    case Anchor::TopCenter: ax = x - run.inkWidth() / 2.0f; break;
    case Anchor::Center:
      ax = x - run.inkWidth() / 2.0f;
      ay = y - run.inkHeight() / 2.0f;
      break;
    case Anchor::CenterLeft: ay = y - run.inkHeight() / 2.0f; break;
  }
  int ox = static_cast<int>(std::lround(ax)) - run.inkLeft;
  int oy = static_cast<int>(std::lround(ay)) - run.inkTop;
  const Mask& ink = run.mask;
  Mask outer = look.outline > 0 ? ink.Dilated(look.outline) : ink;
  Mask outer2 = look.outline2 > 0 ? ink.Dilated(look.outline + look.outline2) : outer;
  if (look.glow > 0) canvas.Fill(outer2.Blurred(look.glow), look.glowColor, 1.0f, ox, oy);
  if (look.shadowColor.a > 0) {
    Mask sh = outer2.Shifted(static_cast<int>(look.shadowDx), static_cast<int>(look.shadowDy));
    if (look.shadowBlur > 0) sh = sh.Blurred(look.shadowBlur);
    canvas.Fill(sh, look.shadowColor, 1.0f, ox, oy);
  }
  if (look.outline2 > 0) canvas.Fill(outer2, look.outline2Color, 1.0f, ox, oy);
  if (look.outline > 0) canvas.Fill(outer, look.outlineColor, 1.0f, ox, oy);
  if (look.fillIsLocal) {
    float bx = static_cast<float>(ox + run.inkLeft), by = static_cast<float>(oy + run.inkTop);
    const Paint& f = look.fill;
    Paint local = Paint::Custom([&f, bx, by](float px, float py) { return f.At(px - bx, py - by); });
    canvas.Fill(ink, local, 1.0f, ox, oy);
  } else {
    canvas.Fill(ink, look.fill, 1.0f, ox, oy);
  }
}

void DrawText(Canvas& canvas, const TextStyle& style, const std::string& utf8, float x, float y,
              Anchor anchor, const TextLook& look) {
  float reach = look.outline + look.outline2 + 3 * look.glow + std::max(std::fabs(look.shadowDx), std::fabs(look.shadowDy)) +
                3 * look.shadowBlur;
  int margin = static_cast<int>(std::ceil(reach)) + 3;
  DrawText(canvas, RenderText(style, utf8, margin), x, y, anchor, look);
}

}  // namespace assetgen

#include "gdi/text_units.h"

namespace platform::gdi {

void DecodeA(const char* text, size_t bytes, std::vector<TextUnit>& out) {
  out.clear();
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < bytes) {
    const unsigned char b = s[i];
    int extra = 0;
    char32_t cp = b;
    char32_t min = 0;
    if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, cp = b & 0x07, min = 0x10000;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0x80) {
      out.push_back({0xFFFD, static_cast<std::uint32_t>(i)});
      ++i;
      continue;
    }
    bool ok = i + extra < bytes;  // the whole sequence lies inside the text
    for (int k = 1; ok && k <= extra; ++k) {
      const unsigned char c = s[i + k];
      if ((c & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back({0xFFFD, static_cast<std::uint32_t>(i)});
      ++i;
      continue;
    }
    out.push_back({cp, static_cast<std::uint32_t>(i)});
    i += static_cast<size_t>(extra) + 1;
  }
}

void DecodeW(const char16_t* text, size_t units, std::vector<TextUnit>& out) {
  out.clear();
  size_t i = 0;
  while (i < units) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      out.push_back({cp, static_cast<std::uint32_t>(i)});
      i += 2;
      continue;
    }
    const bool lone = u >= 0xD800 && u <= 0xDFFF;
    out.push_back({lone ? char32_t{0xFFFD} : char32_t{u}, static_cast<std::uint32_t>(i)});
    ++i;
  }
}

}  // namespace platform::gdi

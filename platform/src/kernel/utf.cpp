#include "kernel/utf.h"

namespace platform::utf {

std::u16string ToUtf16(const char* text, size_t bytes, bool* invalid) {
  std::u16string out;
  out.reserve(bytes);
  bool bad = false;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < bytes) {
    unsigned c = s[i];
    unsigned need = 0;
    char32_t cp = 0;
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      need = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      need = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      need = 3, cp = c & 0x07;
    } else {
      bad = true;
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j <= need && i + j < bytes && (s[i + j] & 0xC0) == 0x80; ++j) cp = (cp << 6) | (s[i + j] & 0x3F);
    // Reject truncated sequences, overlong forms, surrogates and values past U+10FFFF.
    static const char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (j != need + 1 || cp < kMin[need] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      bad = true;
      out.push_back(u'\uFFFD');
      i += j;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += j;
  }
  if (invalid) *invalid = bad;
  return out;
}

std::string ToUtf8(const char16_t* text, size_t chars, bool* lossy) {
  std::string out;
  out.reserve(chars);
  bool bad = false;
  for (size_t i = 0; i < chars; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < chars && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      bad = true;
      out.push_back('?');
      continue;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  if (lossy) *lossy = bad;
  return out;
}

std::string ToUtf8(LPCWSTR text) {
  if (!text) return {};
  size_t n = 0;
  while (text[n]) ++n;
  return ToUtf8(text, n);
}

}  // namespace platform::utf

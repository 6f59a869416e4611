// Text as code points, each with the index of its first code unit, so callers
// can map glyphs back to the caller's characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::gdi {

struct TextUnit {
  char32_t codePoint;
  std::uint32_t source;  // index of the first byte (A) or UTF-16 unit (W)
};

// UTF-8: each byte of an invalid sequence becomes U+FFFD.
void DecodeA(const char* text, size_t bytes, std::vector<TextUnit>& out);
// UTF-16: a lone surrogate becomes U+FFFD.
void DecodeW(const char16_t* text, size_t units, std::vector<TextUnit>& out);

}  // namespace platform::gdi

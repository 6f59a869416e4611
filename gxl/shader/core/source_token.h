// The token record of the shader tools: what the lexer produces, the
// preprocessor delivers and syntax-tree nodes copy for their source position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

enum SourceTokenKind : std::uint32_t {
  kTokenVersion = 0,      // assembler version token (value: the version token)
  kTokenPunctuator = 1,   // value: up to three characters and a terminator
  kTokenInt = 2,          // value: u32, no suffix
  kTokenIntL = 3,         // suffix l
  kTokenIntU = 4,         // suffix u, with or without l
  kTokenFloat = 5,        // value: double, no suffix
  kTokenFloatH = 6,       // suffix h
  kTokenFloatF = 7,       // suffix f
  kTokenFloatL = 8,       // suffix l
  kTokenIdentifier = 9,   // value: NUL-terminated name in the pool
  kTokenString = 10,      // value: decoded NUL-terminated text in the pool
  kTokenHeaderName = 11,  // value: text between "<" and ">"
  kTokenEndOfLine = 12,
  kTokenEndOfInput = 13,
};

struct SourceToken {
  std::uint32_t kind = 0;
  std::uint32_t word1 = 0;
  union Value {
    std::uint64_t bits;  // first, so that {} clears all eight bytes
    std::uint32_t number;
    double real;
    const char* text;
    char punctuator[8];
  } value{};
  const char* file = nullptr;  // may be null
  std::uint32_t line = 0;
  const char* start = nullptr;  // first byte of the token in its source
  std::size_t length = 0;       // bytes of source text the token covers
};

namespace gxl::shader {

// A punctuator spelled exactly as text (at most three characters).
inline bool IsPunctuator(const SourceToken& t, const char* text) {
  return t.kind == kTokenPunctuator && std::memcmp(t.value.punctuator, text, std::strlen(text) + 1) == 0;
}

inline bool IsLineEnd(const SourceToken& t) { return t.kind == kTokenEndOfLine || t.kind == kTokenEndOfInput; }

inline bool IsIntegerToken(const SourceToken& t) { return t.kind >= kTokenInt && t.kind <= kTokenIntU; }

}  // namespace gxl::shader

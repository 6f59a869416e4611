// The token record of the shader tools and the source position that every
// message of a run carries.
#pragma once

#include <cstdint>

namespace gxl::shader {

// Where a token or a message stands: the file as shown in messages (null for
// memory and resource sources) and the line.
struct SourcePosition {
  const char* fileName = nullptr;
  std::uint32_t line = 0;
};

enum class TokenKind : std::uint32_t {
  Version = 0,     // a version statement of assembly text; number = the version token
  Punctuator = 1,  // punctuator = up to three characters
  Integer = 2,     // number, no suffix (character constants too)
  IntegerL = 3,    // number, suffix l
  IntegerU = 4,    // number, suffix u with or without l
  Float = 5,       // real, no suffix
  FloatH = 6,      // real, suffix h
  FloatF = 7,      // real, suffix f
  FloatL = 8,      // real, suffix l (never produced by the lexer)
  Identifier = 9,  // text = the name
  String = 10,     // text = the decoded string
  HeaderName = 11, // text = what stands between < and >
  EndOfLine = 12,
  EndOfInput = 13,
};

constexpr bool IsIntegerToken(TokenKind k) { return k >= TokenKind::Integer && k <= TokenKind::IntegerU; }
constexpr bool IsFloatToken(TokenKind k) { return k >= TokenKind::Float && k <= TokenKind::FloatL; }

// One token. The value field that applies follows from the kind; texts live in
// the run's page pool and end in NUL. begin/length cover the token's bytes in
// the source text (which need not end in NUL).
struct SourceToken {
  TokenKind kind = TokenKind::EndOfInput;
  std::uint32_t number = 0;
  double real = 0;
  const char* text = nullptr;
  char punctuator[4] = {};
  SourcePosition position;
  const char* begin = nullptr;
  std::uint32_t length = 0;
};

}  // namespace gxl::shader

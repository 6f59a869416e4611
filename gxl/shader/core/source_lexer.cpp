#include "gxl/shader/core/source_lexer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/messages.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/profiles.h"

namespace gxl::shader {

namespace {

// Character classes of the "C" locale, whatever the process's locale is.
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsOctal(char c) { return c >= '0' && c <= '7'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsIdentifierStart(char c) { return IsAlpha(c) || c == '_'; }
bool IsIdentifierPart(char c) { return IsIdentifierStart(c) || IsDigit(c); }
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// Plain bytes are signed 8-bit characters.
std::uint32_t CharacterValue(char c) { return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c))); }

const char* SkipDigits(const char* p, const char* end) {
  while (p < end && IsDigit(*p)) ++p;
  return p;
}

// What the standard conversion gives for decimal text that is out of a
// double's range: an infinity for overflow, zero for underflow. The decimal
// exponent of the leading significant digit tells them apart.
double OutOfRange(const char* begin, const char* end) {
  long long intDigits = 0, leading = -1, index = 0;
  bool point = false;
  const char* p = begin;
  for (; p < end && (IsDigit(*p) || *p == '.'); ++p) {
    if (*p == '.') {
      point = true;
      continue;
    }
    if (!point) ++intDigits;
    if (leading < 0 && *p != '0') leading = index;
    ++index;
  }
  long long exponent = 0;
  if (p < end) {  // e or E, an optional minus, digits
    ++p;
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    for (; p < end && IsDigit(*p); ++p) exponent = std::min(exponent * 10 + (*p - '0'), 1LL << 40);
    if (negative) exponent = -exponent;
  }
  if (leading < 0) return 0.0;
  return exponent + intDigits - leading - 1 > 0 ? HUGE_VAL : 0.0;
}

}  // namespace

HRESULT SourceLexer::Init(const char* text, std::uint32_t length, const char* fileName, std::uint32_t firstLine,
                          PagePool* pool, MessageLog* log) {
  if (!pool || !log) return E_FAIL;
  if (length == kMeasure) length = text ? static_cast<std::uint32_t>(std::strlen(text)) : 0;
  if (!text && length) return E_FAIL;
  m_cursor = text;
  m_end = text + length;
  m_position = SourceToken{};
  m_position.file = fileName;
  m_position.line = firstLine;
  m_pool = pool;
  m_log = log;
  return S_OK;
}

void SourceLexer::Error(const Message& message) { m_log->Report(&m_position, message.severity, message.code, "%s", message.format); }

std::size_t SourceLexer::ContinuationAt(const char* p) const {
  if (p >= m_end || *p != '\\') return 0;
  if (m_end - p >= 2 && p[1] == '\n') return 2;
  if (m_end - p >= 3 && p[1] == '\r' && p[2] == '\n') return 3;
  return 0;
}

bool SourceLexer::SkipToEndOfLine() {
  const char* p = m_cursor;
  for (;;) {
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(m_end - p)));
    if (!lf) {
      m_cursor = m_end;
      return false;
    }
    // A backslash just before the line feed (or before a carriage return and
    // the line feed) joins the next line.
    const char* before = lf - 1;
    if (before >= p && *before == '\r') --before;
    if (before >= p && *before == '\\') {
      ++m_position.line;
      p = lf + 1;
      continue;
    }
    m_cursor = lf;
    return true;
  }
}

void SourceLexer::SkipBlockComment() {
  const char* p = m_cursor + 2;
  for (; p < m_end; ++p) {
    if (*p == '\n') {
      ++m_position.line;
    } else if (*p == '*' && m_end - p >= 2 && p[1] == '/') {
      m_cursor = p + 2;
      return;
    }
  }
  m_cursor = m_end;
  Error(msg::kCommentPastEndOfFile);
}

// True when a line feed was crossed.
bool SourceLexer::SkipSpaceAndComments() {
  bool crossed = false;
  while (m_cursor < m_end) {
    const char c = *m_cursor;
    const char next = m_end - m_cursor >= 2 ? m_cursor[1] : '\0';
    if (c == '\n') {
      ++m_position.line;
      crossed = true;
      ++m_cursor;
    } else if (c == ' ' || (c >= 9 && c <= 13)) {
      ++m_cursor;
    } else if (c == '/' && next == '/') {
      m_cursor += 2;
      SkipToEndOfLine();
    } else if (c == '/' && next == '*') {
      SkipBlockComment();
    } else if (c == ';' && (m_mode & kLexAssembly)) {
      ++m_cursor;
      SkipToEndOfLine();
    } else if (const std::size_t joined = ContinuationAt(m_cursor)) {
      m_cursor += joined;
      ++m_position.line;
    } else {
      break;
    }
  }
  return crossed;
}

HRESULT SourceLexer::ScanToken(std::uint32_t mode, SourceToken* token) {
  m_mode = mode;
  *token = SourceToken{};
  token->file = m_position.file;
  token->line = m_position.line;
  const bool crossed = SkipSpaceAndComments();
  token->start = m_cursor;
  if (crossed) {
    token->kind = kTokenEndOfLine;
    return S_OK;
  }
  token->file = m_position.file;
  token->line = m_position.line;
  if (m_cursor == m_end) {
    token->kind = kTokenEndOfInput;
    return S_OK;
  }
  const char c = *m_cursor;
  const char* end = nullptr;
  if (IsDigit(c) || c == '.') {
    end = ScanNumber(token);
  } else if (c == '\'') {
    end = ScanCharacter(token);
  } else if (c == '"') {
    end = ScanString(token, '"');
  } else if (c == '<' && (mode & kLexFileName)) {
    if (mode & kLexHeaderName) end = ScanString(token, '>');
  } else if (IsIdentifierStart(c)) {
    if (mode & kLexAssembly) end = ScanVersion(token);
    if (!end) end = ScanIdentifier(token);
  }
  if (!end) end = ScanPunctuator(token);
  token->length = static_cast<std::size_t>(end - m_cursor);
  m_cursor = end;
  return S_OK;
}

const char* SourceLexer::ScanNumber(SourceToken* token) {
  if (const char* end = ScanFloat(token)) return end;
  return ScanInteger(token);
}

// Digits with an optional point and digits, or a point and digits; then an
// optional exponent (e, an optional minus, digits). Digits alone are no float.
const char* SourceLexer::ScanFloat(SourceToken* token) {
  const char* begin = m_cursor;
  const char* p = SkipDigits(begin, m_end);
  bool point = false;
  if (p > begin) {
    if (p < m_end && *p == '.') {
      point = true;
      p = SkipDigits(p + 1, m_end);
    }
  } else if (m_end - p >= 2 && p[0] == '.' && IsDigit(p[1])) {
    point = true;
    p = SkipDigits(p + 1, m_end);
  } else {
    return nullptr;
  }
  bool exponent = false;
  if (p < m_end && (*p == 'e' || *p == 'E')) {
    const char* digits = p + 1;
    if (digits < m_end && *digits == '-') ++digits;
    if (digits < m_end && IsDigit(*digits)) {
      exponent = true;
      p = SkipDigits(digits, m_end);
    }
  }
  if (!point && !exponent) return nullptr;
  double value = 0;
  const std::from_chars_result r = std::from_chars(begin, p, value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) value = OutOfRange(begin, p);
  token->kind = kTokenFloat;
  token->value.real = value;
  if (p < m_end && (*p == 'f' || *p == 'F')) {
    token->kind = kTokenFloatF;
    ++p;
  } else if (p < m_end && (*p == 'h' || *p == 'H')) {
    token->kind = kTokenFloatH;
    ++p;
  }
  return p;
}

// Hexadecimal ("0x" and digits), octal ("0" and digits) or decimal; values
// wrap modulo 2^32 with an error, and the token is produced all the same.
const char* SourceLexer::ScanInteger(SourceToken* token) {
  const char* begin = m_cursor;
  const char* p = begin;
  std::uint32_t value = 0;
  if (!IsDigit(*p)) return nullptr;
  if (*p == '0' && m_end - p >= 3 && p[1] == 'x' && HexValue(p[2]) >= 0) {
    for (p += 2; p < m_end && HexValue(*p) >= 0; ++p) value = value << 4 | static_cast<std::uint32_t>(HexValue(*p));
    if (p - begin >= 11) Error(msg::kHexTruncated);  // leading zeros count
  } else if (*p == '0') {
    bool truncated = false;
    for (++p; p < m_end && IsOctal(*p); ++p) {
      truncated |= (value & 0xE0000000u) != 0;
      value = value << 3 | static_cast<std::uint32_t>(*p - '0');
    }
    if (truncated) Error(msg::kOctalTruncated);
  } else {
    bool truncated = false;
    for (; p < m_end && IsDigit(*p); ++p) {
      truncated |= value > 429496729u;
      const std::uint32_t digit = static_cast<std::uint32_t>(*p - '0');
      value *= 10;
      truncated |= value + digit < value;
      value += digit;
    }
    if (truncated) Error(msg::kDecimalTruncated);
  }
  bool u = false, l = false;
  for (; p < m_end; ++p) {
    if ((*p == 'u' || *p == 'U') && !u)
      u = true;
    else if ((*p == 'l' || *p == 'L') && !l)
      l = true;
    else
      break;
  }
  token->kind = u ? kTokenIntU : l ? kTokenIntL : kTokenInt;
  token->value.number = value;
  return p;
}

const char* SourceLexer::DecodeCharacter(const char* p, const char* limit, std::uint32_t* value) {
  if (*p != '\\' || (m_mode & kLexFileName)) {
    *value = CharacterValue(*p);
    return p + 1;
  }
  if (limit - p < 2) {
    // Nothing left to escape; the backslash stands for nothing.
    Error(msg::kCharacterPastEndOfFile);
    *value = 0;
    return limit;
  }
  const char e = p[1];
  switch (e) {
    case 'a': *value = 7; return p + 2;
    case 'b': *value = 8; return p + 2;
    case 'f': *value = 12; return p + 2;
    case 'n': *value = 10; return p + 2;
    case 'r': *value = 13; return p + 2;
    case 't': *value = 9; return p + 2;
    case 'v': *value = 11; return p + 2;
    default: break;
  }
  if (IsOctal(e)) {
    std::uint32_t v = 0;
    const char* q = p + 1;
    for (int n = 0; n < 3 && q < limit && IsOctal(*q); ++n, ++q) v = v * 8 + static_cast<std::uint32_t>(*q - '0');
    *value = v;
    return q;
  }
  if (e == 'x' && limit - p >= 3 && HexValue(p[2]) >= 0) {
    std::uint32_t v = 0;
    const char* q = p + 2;
    for (; q < limit && HexValue(*q) >= 0; ++q) v = v << 4 | static_cast<std::uint32_t>(HexValue(*q));
    *value = v;
    return q;
  }
  *value = CharacterValue(e);  // "\x" without digits gives x
  return p + 2;
}

// One character or escape between single quotes; anything else leaves the
// quote a punctuator.
const char* SourceLexer::ScanCharacter(SourceToken* token) {
  const char* p = m_cursor + 1;
  if (p >= m_end || *p == '\'' || *p == '\n') return nullptr;
  std::uint32_t value = 0;
  p = DecodeCharacter(p, m_end, &value);
  if (p >= m_end || *p != '\'') return nullptr;
  token->kind = kTokenInt;
  token->value.number = value;
  return p + 1;
}

// A string up to its closer; a line feed or the end of the text stops it with
// an error. Outside file-name mode a backslash protects the next character and
// a backslash-newline continues the string. The line feed that stops a string
// is left for the next token, so that it still ends the line.
const char* SourceLexer::ScanString(SourceToken* token, char closer) {
  const bool escapes = !(m_mode & kLexFileName);
  const std::uint32_t firstLine = m_position.line;
  const char* opener = m_cursor;
  const char* p = opener + 1;
  bool closed = false;
  while (p < m_end) {
    if (*p == closer) {
      closed = true;
      break;
    }
    if (*p == '\n') break;
    if (escapes && *p == '\\') {
      if (const std::size_t joined = ContinuationAt(p)) {
        ++m_position.line;
        p += joined;
      } else {
        p += m_end - p >= 2 ? 2 : 1;
      }
      continue;
    }
    ++p;
  }
  const char* stop = p;
  if (!closed) Error(stop < m_end ? msg::kStringPastEndOfLine : msg::kStringPastEndOfFile);
  // The value never outgrows the text scanned, opener included (room for the NUL).
  auto* text = static_cast<char*>(m_pool->Allocate(static_cast<std::size_t>(stop - opener), 1));
  if (!text) {
    m_position.line = firstLine;
    return nullptr;
  }
  char* out = text;
  for (p = opener + 1; p < stop;) {
    if (escapes) {
      if (const std::size_t joined = ContinuationAt(p)) {
        p += joined;
        continue;
      }
    }
    std::uint32_t c = 0;
    p = DecodeCharacter(p, stop, &c);
    *out++ = static_cast<char>(c);
  }
  *out = '\0';
  token->kind = closer == '"' ? kTokenString : kTokenHeaderName;
  token->value.text = text;
  return closed ? stop + 1 : stop;
}

// Assembly version statements such as "vs.1.1" and "ps.2.sw": two letters, a
// number and a number or a name, joined by points, naming an assembler version.
const char* SourceLexer::ScanVersion(SourceToken* token) {
  const char* p = m_cursor;
  auto number = [this](const char* q) -> const char* {
    const char* end = SkipDigits(q, m_end);
    if (end == q || end - q > 3) return nullptr;
    std::uint32_t v = 0;
    for (const char* d = q; d < end; ++d) v = v * 10 + static_cast<std::uint32_t>(*d - '0');
    return v < 256 ? end : nullptr;
  };
  if (m_end - p < 5 || !IsAlpha(p[0]) || !IsAlpha(p[1]) || p[2] != '.') return nullptr;
  p = number(p + 3);
  if (!p || p >= m_end || *p != '.') return nullptr;
  ++p;
  if (p < m_end && IsIdentifierStart(*p)) {
    while (p < m_end && IsIdentifierPart(*p)) ++p;
  } else {
    p = p < m_end ? number(p) : nullptr;
  }
  if (!p || p - m_cursor >= 32) return nullptr;
  char name[32];
  std::memcpy(name, m_cursor, static_cast<std::size_t>(p - m_cursor));
  name[p - m_cursor] = '\0';
  ShaderProfileRow row{};
  if (FAILED(ProfileNameToToken(name, kProfileAssembler, &row))) return nullptr;
  token->kind = kTokenVersion;
  token->value.number = row.version;
  return p;
}

const char* SourceLexer::ScanIdentifier(SourceToken* token) {
  const char* p = m_cursor + 1;
  while (p < m_end && IsIdentifierPart(*p)) ++p;
  const std::size_t length = static_cast<std::size_t>(p - m_cursor);
  auto* name = static_cast<char*>(m_pool->Allocate(length + 1, 1));
  if (!name) return nullptr;
  std::memcpy(name, m_cursor, length);
  name[length] = '\0';
  token->kind = kTokenIdentifier;
  token->value.text = name;
  return p;
}

// The longest of: "##", "#@"; doubled characters (and "<<=", ">>="); "...";
// a character and "="; "->"; else one character.
const char* SourceLexer::ScanPunctuator(SourceToken* token) {
  const char* p = m_cursor;
  const char c = p[0];
  const char c1 = m_end - p >= 2 ? p[1] : '\0';
  const char c2 = m_end - p >= 3 ? p[2] : '\0';
  auto oneOf = [](char ch, const char* set) { return ch != '\0' && std::strchr(set, ch) != nullptr; };
  std::size_t length = 1;
  if (c == '#' && (c1 == '#' || c1 == '@')) {
    length = 2;
  } else if (c == c1 && oneOf(c, "<>=|:&+-")) {
    length = (c == '<' || c == '>') && c2 == '=' ? 3 : 2;
  } else if (c == '.' && c1 == '.' && c2 == '.') {
    length = 3;
  } else if (c1 == '=' && oneOf(c, "<>^|/!%&*+-")) {
    length = 2;
  } else if (c == '-' && c1 == '>') {
    length = 2;
  }
  token->kind = kTokenPunctuator;
  std::memcpy(token->value.punctuator, p, length);
  token->value.punctuator[length] = '\0';
  return p + length;
}

}  // namespace gxl::shader

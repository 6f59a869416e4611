// The lexer of the shader tools: turns the bytes of one source into tokens
// for HLSL, shader assembly and the preprocessor's own lines. The text is read
// in place, need not end in NUL, and nothing at or past its end is read.
#pragma once

#include <cstdint>

#include "gxl/shader/core/source_token.h"
#include "platform/win_types.h"

class PagePool;

namespace gxl::shader {

class MessageLog;
struct Message;

// Mode bits of a scan. Bit 0 marks HLSL streams and is not looked at here.
constexpr std::uint32_t kLexAssembly = 2;     // ";" starts a comment; version statements are tokens
constexpr std::uint32_t kLexFileName = 4;     // no escapes; "<" may open a string
constexpr std::uint32_t kLexHeaderName = 8;   // with kLexFileName: "<" ... ">" is a header name

class SourceLexer {
 public:
  // The length that asks for a NUL-terminated text to be measured.
  static constexpr std::uint32_t kMeasure = 0xFFFFFFFF;

  // E_FAIL without a pool or a log, or for a null text with a length; a null
  // text measured has length 0. Names and strings are drawn from the pool.
  HRESULT Init(const char* text, std::uint32_t length, const char* fileName, std::uint32_t firstLine, PagePool* pool,
               MessageLog* log);

  // The next token. Lexical errors go to the log and scanning goes on, so
  // the result is S_OK.
  HRESULT ScanToken(std::uint32_t mode, SourceToken* token);

  // Moves to the next line feed without taking it, following backslash-newline
  // continuations (each a line); false at the end of the text.
  bool SkipToEndOfLine();

  const char* Cursor() const { return m_cursor; }
  const char* End() const { return m_end; }
  // The lexer's file and line, the position of its own messages.
  const SourceToken& Position() const { return m_position; }
  void SetLine(std::uint32_t line) { m_position.line = line; }
  void SetFileName(const char* fileName) { m_position.file = fileName; }

 private:
  bool SkipSpaceAndComments();
  void SkipBlockComment();
  // Each scanner returns the end of the token it filled in, or null when the
  // text there is not such a token.
  const char* ScanNumber(SourceToken* token);
  const char* ScanFloat(SourceToken* token);
  const char* ScanInteger(SourceToken* token);
  const char* ScanCharacter(SourceToken* token);
  const char* ScanString(SourceToken* token, char closer);
  const char* ScanVersion(SourceToken* token);
  const char* ScanIdentifier(SourceToken* token);
  const char* ScanPunctuator(SourceToken* token);
  // One character of a character constant or string, escapes decoded unless
  // in file-name mode; returns where the next one starts (at most limit).
  const char* DecodeCharacter(const char* p, const char* limit, std::uint32_t* value);
  // The length of a backslash-newline at p (2 or 3), or 0.
  std::size_t ContinuationAt(const char* p) const;
  void Error(const Message& message);

  const char* m_cursor = nullptr;
  const char* m_end = nullptr;
  SourceToken m_position;
  std::uint32_t m_mode = 0;
  PagePool* m_pool = nullptr;
  MessageLog* m_log = nullptr;
};

}  // namespace gxl::shader

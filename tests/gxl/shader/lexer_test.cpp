// The shader lexer: token rows for the edge cases, floats against glibc's
// strtod, and the corpus cut at every byte into exact-size buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/source_lexer.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "log_text.h"
#include "tests/support/test_util.h"

namespace {

using gxl::shader::MessageLog;
using gxl::shader::SourceLexer;
constexpr std::uint32_t kHlsl = 1, kAsm = 2, kFile = 4, kHeader = 8;

// One token as "kind value length line".
std::string Show(const SourceToken& t) {
  char value[64] = "";
  switch (t.kind) {
    case kTokenPunctuator: std::snprintf(value, sizeof value, "%s", t.value.punctuator); break;
    case kTokenVersion:
    case kTokenInt:
    case kTokenIntL:
    case kTokenIntU: std::snprintf(value, sizeof value, "%u", t.value.number); break;
    case kTokenFloat:
    case kTokenFloatH:
    case kTokenFloatF: std::snprintf(value, sizeof value, "%.17g", t.value.real); break;
    case kTokenIdentifier:
    case kTokenString:
    case kTokenHeaderName: std::snprintf(value, sizeof value, "%s", t.value.text); break;
    default: break;
  }
  return std::to_string(t.kind) + " " + value + " " + std::to_string(t.length) + " " + std::to_string(t.line);
}

struct Lexed {
  std::vector<std::string> tokens;  // without the end of input
  std::string log;
};

// Lexes a heap copy of exactly the text's bytes.
Lexed Lex(const std::string& text, std::uint32_t mode) {
  PagePool pool(0, 0x10000);
  MessageLog log;
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.data(), text.size());
  SourceLexer lexer;
  EXPECT_EQ(lexer.Init(copy.get(), static_cast<std::uint32_t>(text.size()), nullptr, 1, &pool, &log), S_OK);
  Lexed out;
  for (SourceToken t; lexer.ScanToken(mode, &t) == S_OK && t.kind != kTokenEndOfInput;) {
    EXPECT_LE(t.start + t.length, copy.get() + text.size());
    out.tokens.push_back(Show(t));
  }
  out.log = shadertest::LogText(log);
  if (out.log == "<null>") out.log.clear();
  return out;
}

struct Row {
  const char* text;
  std::uint32_t mode;
  std::vector<std::string> tokens;
  const char* log;
};

const Row kRows[] = {
    // Integers: hexadecimal, octal and decimal, wrapping with an error.
    {"0x100000000", kHlsl, {"2 0 11 1"}, "(1): error X1002: hex value truncated to 32bits\n"},
    {"0x0000000001", kHlsl, {"2 1 12 1"}, "(1): error X1002: hex value truncated to 32bits\n"},
    {"0xFFFFFFFF 0xffu", kHlsl, {"2 4294967295 10 1", "4 255 5 1"}, ""},
    {"4294967295", kHlsl, {"2 4294967295 10 1"}, ""},
    {"4294967296", kHlsl, {"2 0 10 1"}, "(1): error X1004: decimal value truncated to 32bits\n"},
    {"037777777777", kHlsl, {"2 4294967295 12 1"}, ""},
    {"040000000000", kHlsl, {"2 0 12 1"}, "(1): error X1003: octal value truncated to 32bits\n"},
    {"0X1F 09", kHlsl, {"2 0 1 1", "9 X1F 3 1", "2 0 1 1", "2 9 1 1"}, ""},
    {"1u 1l 1ul 1LU 1ll", kHlsl, {"4 1 2 1", "3 1 2 1", "4 1 3 1", "4 1 3 1", "3 1 2 1", "9 l 1 1"}, ""},
    // Floats: a point or an exponent; no "+" in the exponent; suffixes f and h.
    {"1e+5", kHlsl, {"2 1 1 1", "9 e 1 1", "1 + 1 1", "2 5 1 1"}, ""},
    {"1.0e+5", kHlsl, {"5 1 3 1", "9 e 1 1", "1 + 1 1", "2 5 1 1"}, ""},
    {"1e5 1e-5 .5 09.5", kHlsl, {"5 100000 3 1", "5 1.0000000000000001e-05 4 1", "5 0.5 2 1", "5 9.5 4 1"}, ""},
    {"1.f 1h 2.5H", kHlsl, {"7 1 3 1", "2 1 1 1", "9 h 1 1", "6 2.5 4 1"}, ""},
    // Character constants.
    {"'\\xff' '\xff' 'a' '\\n' '\\101' '\\x' '\\q'", kHlsl,
     {"2 255 6 1", "2 4294967295 3 1", "2 97 3 1", "2 10 4 1", "2 65 6 1", "2 120 4 1", "2 113 4 1"}, ""},
    {"'ab'", kHlsl, {"1 ' 1 1", "9 ab 2 1", "1 ' 1 1"}, ""},
    {"'\\", kHlsl, {"1 ' 1 1", "1 \\ 1 1"}, "(1): error X1007: character continues past end of file\n"},
    // Strings and header names.
    {"\"a\\tb\\x41\\101\\q\"", kHlsl, {"10 a\tbAAq 16 1"}, ""},
    {"\"ab\\\ncd\" x", kHlsl, {"10 abcd 8 1", "9 x 1 2"}, ""},
    {"\"open\nx", kHlsl, {"10 open 5 1", "12  0 1", "9 x 1 2"}, "(1): error X1005: string continues past end of line\n"},
    {"\"open", kHlsl, {"10 open 5 1"}, "(1): error X1006: string continues past end of file\n"},
    {"\"ab\\", kHlsl, {"10 ab 4 1"},
     "(1): error X1006: string continues past end of file\n(1): error X1007: character continues past end of file\n"},
    {"\"c:\\d\\f.h\" <f.h>", kFile | kHeader, {"10 c:\\d\\f.h 10 1", "11 f.h 5 1"}, ""},
    {"<f.h>", kFile, {"1 < 1 1", "9 f 1 1", "1 . 1 1", "9 h 1 1", "1 > 1 1"}, ""},
    // White space, lines and comments.
    {"a /* x\ny\nz */ b", kHlsl, {"9 a 1 1", "9 b 1 3"}, ""},
    {"a\n\n\r\n b // c \\\n d\ne", kHlsl, {"9 a 1 1", "12  0 1", "9 b 1 4", "12  0 4", "9 e 1 6"}, ""},
    {"a \\\n b", kHlsl, {"9 a 1 1", "9 b 1 2"}, ""},
    {"x /* open", kHlsl, {"9 x 1 1"}, "(1): error X1001: comment continues past end of file\n"},
    {"mov ; comment\nadd", kAsm, {"9 mov 3 1", "12  0 1", "9 add 3 2"}, ""},
    {"mov ; c", kHlsl, {"9 mov 3 1", "1 ; 1 1", "9 c 1 1"}, ""},
    // Version statements in assembly only, and only names of assembler versions.
    {"vs.1.1 ps.2.sw vs_2_0", kAsm, {"0 4294836481 6 1", "0 4294902527 7 1", "9 vs_2_0 6 1"}, ""},
    {"vs.1.1", kHlsl, {"9 vs 2 1", "5 0.10000000000000001 2 1", "5 0.10000000000000001 2 1"}, ""},
    {"ps.2.a", kAsm, {"9 ps 2 1", "5 0.20000000000000001 2 1", "1 . 1 1", "9 a 1 1"}, ""},
    // Punctuators: the longest match.
    {"<<= >>= ... .. -> ## #@ :: != == && || ++ -- <= ^=",
     kHlsl,
     {"1 <<= 3 1", "1 >>= 3 1", "1 ... 3 1", "1 . 1 1", "1 . 1 1", "1 -> 2 1", "1 ## 2 1", "1 #@ 2 1", "1 :: 2 1",
      "1 != 2 1", "1 == 2 1", "1 && 2 1", "1 || 2 1", "1 ++ 2 1", "1 -- 2 1", "1 <= 2 1", "1 ^= 2 1"},
     ""},
};

TEST(GxlShaderLexer, TokenRows) {
  for (const Row& row : kRows) {
    const Lexed got = Lex(row.text, row.mode);
    EXPECT_EQ(got.tokens, row.tokens) << row.text;
    EXPECT_EQ(got.log, row.log) << row.text;
  }
}

TEST(GxlShaderLexer, InitialisationAndLineSkips) {
  PagePool pool(0, 0);
  MessageLog log;
  SourceLexer lexer;
  EXPECT_EQ(lexer.Init("x", 1, nullptr, 1, nullptr, &log), E_FAIL);
  EXPECT_EQ(lexer.Init("x", 1, nullptr, 1, &pool, nullptr), E_FAIL);
  EXPECT_EQ(lexer.Init(nullptr, 3, nullptr, 1, &pool, &log), E_FAIL);
  EXPECT_EQ(lexer.Init(nullptr, SourceLexer::kMeasure, nullptr, 1, &pool, &log), S_OK);
  EXPECT_EQ(lexer.End(), lexer.Cursor());
  const char* text = "ab\\\ncd\\\r\nef\ngh";
  ASSERT_EQ(lexer.Init(text, SourceLexer::kMeasure, "f.fx", 7, &pool, &log), S_OK);
  EXPECT_TRUE(lexer.SkipToEndOfLine());
  EXPECT_EQ(lexer.Cursor(), text + 11);
  EXPECT_EQ(lexer.Position().line, 9u);
  SourceToken t;
  ASSERT_EQ(lexer.ScanToken(kHlsl, &t), S_OK);
  EXPECT_EQ(t.kind, kTokenEndOfLine);
  EXPECT_FALSE(lexer.SkipToEndOfLine());
  EXPECT_EQ(lexer.Cursor(), lexer.End());
}

// Floats are converted bit for bit as strtod converts NUL-terminated copies.
TEST(GxlShaderLexer, FloatsMatchStrtod) {
  std::mt19937 rng(5);
  auto digits = [&](int most) {
    std::string s;
    for (int n = 1 + static_cast<int>(rng() % most); n > 0; --n) s += static_cast<char>('0' + rng() % 10);
    return s;
  };
  PagePool pool(0, 0x10000);
  MessageLog log;
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    const int shape = static_cast<int>(rng() % 4);
    if (shape != 1) text += digits(i % 50 == 0 ? 40 : 20);
    text += '.';
    if (shape != 0) text += digits(20);
    if (shape >= 2) text += std::string(rng() % 2 ? "e" : "E") + (rng() % 2 ? "-" : "") + digits(rng() % 4 ? 2 : 4);
    SourceLexer lexer;
    ASSERT_EQ(lexer.Init(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, 1, &pool, &log), S_OK);
    SourceToken t;
    ASSERT_EQ(lexer.ScanToken(kHlsl, &t), S_OK);
    ASSERT_EQ(t.kind, kTokenFloat) << text;
    ASSERT_EQ(t.length, text.size()) << text;
    const double expected = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&t.value.real, &expected, sizeof expected), 0) << text;
  }
  EXPECT_EQ(log.ErrorCount(), 0u);
}

// Every byte of every corpus file as the end of the text: the tokens around the
// cut are lexed from a heap copy that ends there, so a read past it is caught.
TEST(GxlShaderLexer, CorpusCutAtEveryByte) {
  const std::vector<shadertest::CorpusFile> files = shadertest::CorpusFiles();
  NURA_REQUIRE_OUTSIDE_INPUT(!files.empty(), "the shader corpus");
  for (const shadertest::CorpusFile& file : files) {
    const std::vector<std::uint8_t> bytes = nura::test::ReadFileBytes(file.path);
    const std::string text(bytes.begin(), bytes.end());
    // The token starts of the whole file.
    const std::uint32_t mode = file.assembly ? kAsm : kHlsl;
    {
      PagePool pool(0, 0x10000);
      MessageLog log;
      SourceLexer lexer;
      ASSERT_EQ(lexer.Init(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, 1, &pool, &log), S_OK);
      std::vector<std::size_t> starts;
      for (SourceToken t; lexer.ScanToken(mode, &t) == S_OK && t.kind != kTokenEndOfInput;)
        if (t.kind != kTokenEndOfLine) starts.push_back(static_cast<std::size_t>(t.start - text.data()));
      std::size_t from = 0, next = 0;
      for (std::size_t cut = 1; cut <= text.size(); ++cut) {
        while (next < starts.size() && starts[next] < cut) from = starts[next++];
        const std::string tail = text.substr(from, cut - from);
        pool.FreeAll();
        log.Reset();
        std::unique_ptr<char[]> copy(new char[tail.size()]);
        std::memcpy(copy.get(), tail.data(), tail.size());
        ASSERT_EQ(lexer.Init(copy.get(), static_cast<std::uint32_t>(tail.size()), nullptr, 1, &pool, &log), S_OK);
        for (SourceToken t; lexer.ScanToken(mode, &t) == S_OK && t.kind != kTokenEndOfInput;)
          ASSERT_LE(t.start + t.length, copy.get() + tail.size());
      }
    }
  }
  EXPECT_GT(files.size(), 20u);
}

}  // namespace

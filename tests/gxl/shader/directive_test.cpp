// Directive lines: #if expressions in unsigned arithmetic, conditionals,
// syntax errors, #line, pragmas and the parser's stack limit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pp_run.h"

namespace {

using gxl::shader::ShaderPreprocessor;
using shadertest::PpRow;
using shadertest::Preprocess;

TEST(GxlShaderDirective, EdgeCases) {
  const PpRow rows[] = {
      {"#define FOO 3\n#if defined(FOO) && FOO > 2\nyes\n#endif\n#if defined FOO\nno\n#endif\n", "yes no",
       "(5): error X1500: syntax error : unexpected token 'FOO'\n(7): error X1510: unexpected #endif\n"},
      {"#if -1 > 0\na\n#endif\n#if 7 / 2 == 3\nb\n#endif\n#if 2 ? 0 : 1 ? 2 : 3\nc\n#else\nd\n#endif\n", "a b d", ""},
      // A failed #if opens nothing, so its #endif has no partner.
      {"#if 1 / 0\nx\n#endif\n", "x",
       "(1): error X1503: division by zero in preprocessor expression\n(3): error X1510: unexpected #endif\n"},
      {"#if NOT_A_MACRO\nx\n#endif\ny\n", "y", ""},
      // A complete expression is reduced before the token after it is found wrong.
      {"#if 1 % 2\n#endif\n#if ~0\n#endif\n#if 0 2\nx\n#endif\n", "",
       "(1): error X1500: syntax error : unexpected token '%'\n"
       "(3): error X1500: syntax error : unexpected token '~'\n(4): error X1510: unexpected #endif\n"
       "(5): error X1500: syntax error : unexpected integer '2'\n"},
      {"#foo\n#\n# 12\nz\n", "z",
       "(1): error X1504: invalid preprocessor command 'foo'\n(2): error X1500: syntax error : unexpected end of line\n"
       "(3): error X1500: syntax error : unexpected integer '12'\n"},
      {"#define A 1\n#define B 2\n#undef A B\nA B\n", "A 2", "(3): error X1500: syntax error : unexpected token 'B'\n"},
      {"#if 0\n#foo\n#error\n#define X\n#include <nothing>\n#if 1 %% junk\n#endif\n#endif\nX z\n", "X z", ""},
      {"#define X (1+2)\n#if X == 3 && __LINE__ == 2\nyes\n#endif\n", "yes", ""},
      {"#elif 1\n#else\n#endif\n", "",
       "(1): error X1508: unexpected #elif\n(2): error X1509: unexpected #else\n(3): error X1510: unexpected #endif\n"},
      {"#if 1\n#else\n#elif 1\n#else\n#endif\n", "",
       "(3): error X1513: unexpected #elif following #else\n(4): error X1514: unexpected #else following #else\n"},
      {"#if 0\n#elif 1\na\n#elif 1\nb\n#else\nc\n#endif\n", "a", ""},
      {"#if 0\n#if 1\nw\n#else\nx\n#endif\n#elif 0\ny\n#else\nz\n#endif\n", "z", ""},
      {"#ifndef DIRECT3D\nd\n#elif DIRECT3D_VERSION == 0x900 && GXL_VERSION == 0x902\nv\n#endif\n", "v", ""},
      {"#line 100\nx __LINE__\n#line 7 \"f.fx\"\n__FILE__ __LINE__\n", "x 100 \"f.fx\" 7", ""},
      // Unusable macros in expressions end the run.
      {"#define F(x) x\n#if F\nx\n#endif\ny\n", "", "(2): error X1518: invalid or unsupported integer constant expression\n"},
      {"#define E\n#if E\n#endif\n", "", "(2): error X1518: invalid or unsupported integer constant expression\n"},
      {"#pragma once\n#pragma pack_matrix(\n#pragma\nx\n", "x", ""},
  };
  shadertest::ExpectRows(rows);
}

// Each line tells a binding order from its swap: multiplicative over additive
// over relational over equality over && over || over ?:, unary first, and
// binary operators grouping to the left.
TEST(GxlShaderDirective, PrecedenceAndAssociativity) {
  const char* lines[][2] = {
      {"1 + 2 * 3 == 7", "a"}, {"12 / 3 / 2 == 2", "b"}, {"10 - 4 - 3 == 3", "c"}, {"1 || 0 && 0", "d"},
      {"0 && 1 || 1", "e"},    {"2 == 1 < 3", "f"},      {"1 < 2 == 1", "g"},      {"3 < 2 + 2 == 1", "h"},
      {"2 && 2 == 2", "i"},    {"1 || 0 ? 0 : 1", "j"},  {"-1 + 2 == 1", "k"},     {"!0 == 2", "l"},
      {"2 * 6 / 4 == 3", "m"},
  };
  std::string text;
  for (const auto& line : lines) text += std::string("#if ") + line[0] + "\n" + line[1] + "\n#endif\n";
  const PpRow rows[] = {{text.c_str(), "a b c d e g h i k m", ""}};
  shadertest::ExpectRows(rows);
}

TEST(GxlShaderDirective, ParserStackHoldsFiveHundredEntries) {
  for (int depth : {100, 600}) {
    const std::string text = "#if " + std::string(depth, '(') + "1" + std::string(depth, ')') + "\nx\n#endif\n";
    const shadertest::PpRun run = Preprocess(text);
    EXPECT_EQ(run.tokens, "x");
    EXPECT_EQ(run.log, depth == 100 ? "" : "(1): yacc stack overflow\n(3): error X1510: unexpected #endif\n");
  }
}

TEST(GxlShaderDirective, Pragmas) {
  ShaderPreprocessor pp;
  const char* text =
      "#pragma pack_matrix(row_major)\n"
      "#pragma warning(disable : 1519; once : 4 5)\n#define A 1\n#define A 2\n"
      "#pragma warning(error : 1519;)\n#define A 3\n"
      "#pragma def(vs_2_0, c1, 1, -2.5, 3u, -4l)\n#pragma def(ps_2_0, C1, 0, 0, 0, 0)\n"
      "#pragma def(vs_2_0, c0, 0, 0, 0, 0)\n#pragma def(vs_2_0, c2, 0, 0, 0)\n"
      "#pragma pack_matrix(column_major)\n#pragma pack_matrix(other)\nx";
  ASSERT_EQ(pp.StartFromMemory(text, 0xFFFFFFFF, nullptr, nullptr), S_OK);
  SourceToken t;
  do ASSERT_EQ(pp.NextToken(&t), S_OK);
  while (t.kind == kTokenEndOfLine);
  ASSERT_EQ(t.kind, kTokenIdentifier);
  EXPECT_EQ(pp.PackMatrix(), gxl::shader::kPackMatrixColumnMajor);
  // The malformed warning line changed nothing: 1519 stays disabled.
  EXPECT_EQ(pp.Log().ErrorCount(), 0u);
  EXPECT_EQ(pp.Log().WarningCount(), 0u);
  std::string defs;
  for (const gxl::shader::DefPragma* d = pp.DefPragmas(); d; d = d->next) {
    defs += std::string(d->target) + " " + d->registerName;
    for (double v : d->values) defs += " " + std::to_string(static_cast<int>(v * 10));
    defs += ";";
  }
  EXPECT_EQ(defs, "vs_2_0 c0 0 0 0 0;ps_2_0 C1 0 0 0 0;vs_2_0 c1 10 -25 30 -40;");
  ShaderPreprocessor reset;
  ASSERT_EQ(reset.StartFromMemory("#pragma pack_matrix(row_major)\n#pragma pack_matrix()\n", 0xFFFFFFFF, nullptr,
                                  nullptr),
            S_OK);
  EXPECT_EQ(reset.NextToken(&t), S_OK);
  EXPECT_EQ(reset.PackMatrix(), gxl::shader::kPackMatrixRowMajor);
  while (t.kind != kTokenEndOfInput) reset.NextToken(&t);
  EXPECT_EQ(reset.PackMatrix(), 0u);
}

}  // namespace

// Macros: definitions, calls, # and #@, ##, redefinition warnings, caller
// definitions and the recursion test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>

#include "pp_run.h"
#include "tests/support/test_util.h"

namespace {

using gxl::shader::ShaderMacro;
using shadertest::PpRow;
using shadertest::Preprocess;

TEST(GxlShaderMacro, EdgeCases) {
  const PpRow rows[] = {
      // A macro whose body leads back into itself is no macro at all, nor is
      // one that leads into such a cycle.
      {"#define A A\nA\n#ifdef A\nyes\n#endif\n", "A", ""},
      {"#define A A\n#define B A\n#define C x\nB C\n#if defined(B)\nyes\n#endif\n", "B x", ""},
      {"#define A B\n#define B C\n#define C A\nA B C\n", "A B C", ""},
      // Blanks may stand before the "(" of a call; a line break or a comment may not.
      {"#define F(x) x\nF (1) F\t(2) F + F\n(3) F /**/ (4)\n", "1 2 F + F ( 3 ) F ( 4 )", ""},
      {"#define F (x) x\nF\n", "( x ) x", ""},
      {"#define F(a,b) a b\nF(a,) F(a,b,c) F() F(p,q)\n", "F F F p q",
       "(2): error X1516: not enough actual parameters for macro 'F'\n"
       "(2): error X1516: not enough actual parameters for macro 'F'\n"
       "(2): error X1516: not enough actual parameters for macro 'F'\n"},
      {"#define F(x) x\nF((a,b)) F([a,b]) F({a,b})\n", "( a , b ) [ a , b ] { a , b }", ""},
      {"#define F(x) x\nF(1", "F", "(2): error X1515: unexpected end of file in macro expansion\n"},
      // Parameters are compared by position, bodies token by token.
      {"#define F(a) a\n#define F(b) b\n#define F(a) b\n", "", "(3): warning X1519: 'F' : macro redefinition\n"},
      {"#define V 1\n#define V 1\n#define V 2\n#define V 3\nV\n", "3",
       "(3): warning X1519: 'V' : macro redefinition\n(4): warning X1519: 'V' : macro redefinition\n"},
      {"#define F(a,a) a\nF(1,2)\n", "1", "(1): error X1511: duplicate macro parameter 'a'\n"},
      {"#define F() x\n#define G(a,) x\n#define H(a b) x\n#define J(a\nF G H J\n", "F G H J",
       "(1): error X1500: syntax error : unexpected token ')'\n"
       "(2): error X1500: syntax error : unexpected token ')'\n"
       "(3): error X1500: syntax error : unexpected token 'b'\n"
       "(4): error X1500: syntax error : unexpected end of line\n"},
      // # and #@ join the argument's texts with single blanks; ## pastes once.
      {"#define S(x) #x\nS(a  +  b) S(\"q\") S(\"a\\\\b\" c)\n", R"("a + b" "\"q\"" "\"a\\\\b\" c")", ""},
      {"#define C(x) #@x\nC(a)\n", "'a'", ""},
      {"#define P(a,b) a##b\n#define Q(a,b,c) a##b##c\nP(x,1) Q(x,y,z) P(x,+y)\n", "x1 xy ## z x y", ""},
      // Object-like bodies are delivered as they stand.
      {"#define H # x ## y\nH\n", "# x ## y", ""},
      // Expansions are examined again.
      {"#define F(x) x G\n#define G(y) [y]\nF(1)(2)\n", "1 [ 2 ]", ""},
  };
  shadertest::ExpectRows(rows);
}

TEST(GxlShaderMacro, StringizedValuesDecode) {
  const std::string text = "#define S(x) #x\n#define C(x) #@x\nS(a  +  b) S(\"q\") C(z)\n";
  gxl::shader::ShaderPreprocessor pp;
  ASSERT_EQ(pp.StartFromMemory(text.c_str(), static_cast<UINT>(text.size()), nullptr, nullptr), S_OK);
  SourceToken t;
  auto next = [&] {
    do EXPECT_EQ(pp.NextToken(&t), S_OK);
    while (t.kind == kTokenEndOfLine);
  };
  next();
  ASSERT_EQ(t.kind, kTokenString);
  EXPECT_STREQ(t.value.text, "a + b");
  next();
  EXPECT_STREQ(t.value.text, "\"q\"");
  next();
  EXPECT_EQ(t.kind, kTokenInt);
  EXPECT_EQ(t.value.number, static_cast<std::uint32_t>('z'));
}

TEST(GxlShaderMacro, CallerDefinitionsFollowThePredefinedOnes) {
  const ShaderMacro defines[] = {{"N", "3"}, {"E", nullptr}, {"GXL", "1"}, {nullptr, "ignored"}, {"Z", "z"}};
  const shadertest::PpRun run =
      Preprocess("#if N == 3 && DIRECT3D_VERSION == 0x900 && GXL_VERSION == 0x902\nyes\n#endif\n"
                 "#ifdef E\n[E]\n#endif\n#if defined(DIRECT3D)\nGXL\n#endif\nZ\n",
                 defines);
  // Definitions are object-like and end with the first line.
  EXPECT_EQ(run.tokens, "yes [ ] 1 Z");
  EXPECT_EQ(run.log, "(1): warning X1519: 'GXL' : macro redefinition\n");
  const ShaderMacro twoLines[] = {{"T", "a b\nc"}, {nullptr, nullptr}};
  EXPECT_EQ(Preprocess("T", twoLines).tokens, "a b");
}

// A body's texts outlive the included file that defined them.
TEST(GxlShaderMacro, BodiesOutliveTheirFile) {
  nura::test::TempDir dir;
  nura::test::WriteFileText(dir / "defs.h", "#define CAT(a) a ## _tail\n#define STR(a) #a tail\n");
  nura::test::WriteFileText(dir / "main.fx", "#include \"defs.h\"\nCAT(x) STR(y)\n");
  EXPECT_EQ(shadertest::PreprocessFile(dir / "main.fx").tokens, "x_tail \"y\" tail");
}

// Every lookup of A30 would walk 2^30 bodies without remembered verdicts. A
// run that has not ended after 10 s ends the test program, rather than
// holding the suite for its overall timeout.
TEST(GxlShaderMacro, DiamondOfThirtyLevelsIsDecidedAtOnce) {
  std::string text = "#define A0 x\n";
  for (int i = 1; i <= 30; ++i)
    text += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + " A" + std::to_string(i - 1) + "\n";
  text += "#ifdef A30\nyes\n#endif\nA2\n#undef A0\n#define A0 A30\n#ifndef A30\nrefused\n#endif\nA1\n";
  std::future<shadertest::PpRun> run = std::async(std::launch::async, [&] { return Preprocess(text); });
  if (run.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::fprintf(stderr, "the diamond of thirty levels did not end within 10 s\n");
    std::_Exit(1);
  }
  const shadertest::PpRun result = run.get();
  EXPECT_EQ(result.tokens, "yes x x x x refused A1");
  EXPECT_EQ(result.log, "");
}

// A call that re-creates itself from its arguments ends with a message.
TEST(GxlShaderMacro, SelfRecreatingCallEnds) {
  const shadertest::PpRun run = Preprocess("#define F(x) x(x)\na F(F) b\n");
  EXPECT_EQ(run.result, E_FAIL);
  EXPECT_EQ(run.log, "(2): 'F' : macro expansion does not end\n");
}

}  // namespace

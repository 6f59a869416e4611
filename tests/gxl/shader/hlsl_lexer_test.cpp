// The HLSL lexer: terminal numbers of keywords, reserved words, punctuators,
// literals and names, written here from the terminal table (not from the
// grammar's generated header), and the two ways its answers depend on the
// parse: declared type names and the object-keyword flag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gxl/shader/core/source_lexer.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace {

using namespace gxl::shader;

// A run whose parser reads a source token by token.
struct Lexing {
  explicit Lexing(const std::string& source, std::uint32_t mode = ShaderPreprocessor::kHlslMode) : text(source) {
    parser.Reset(0, &pp);
    EXPECT_EQ(pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr), S_OK);
    EXPECT_EQ(pp.BeginTokenStream(mode), S_OK);
    parser.PushScope(kScopeGlobal, nullptr);
  }
  // The terminals up to the end (-1), which is left out.
  std::vector<int> All() {
    std::vector<int> terminals;
    for (int t; (t = parser.NextToken()) != -1 && terminals.size() < 1000;) terminals.push_back(t);
    return terminals;
  }
  // Declares a name in the current scope: a float type, or a float variable.
  void Declare(const char* name, bool type) {
    SourceToken t;
    t.kind = kTokenIdentifier;
    t.value.text = name;
    auto* f = new TypeNode(0, kBaseFloat, 1, 1, 0);
    ParseNode* description =
        type ? static_cast<ParseNode*>(f) : new ParseNodeKind11(0, 1, 3, 0, f, nullptr, nullptr, nullptr, nullptr);
    auto* d = new DeclarationNode(type ? kDeclType : kDeclVariable, new TokenNode(t), description, nullptr);
    EXPECT_EQ(parser.DeclareSymbol(d, false, nullptr), S_OK);
  }

  std::string text;
  ShaderPreprocessor pp;
  HlslParser parser;
};

std::vector<int> Lex(const std::string& text, std::uint32_t mode = ShaderPreprocessor::kHlslMode) {
  return Lexing(text, mode).All();
}

constexpr int kTypeName = 335, kIdentifier = 336, kReserved = 337;

TEST(GxlHlslLexer, EveryKeywordHasItsTerminal) {
  const char* const keywords[] = {"asm",
                                  "asm_fragment",
                                  "bool",
                                  "column_major",
                                  "compile",
                                  "compile_fragment",
                                  "const",
                                  "decl",
                                  "discard",
                                  "double",
                                  "do",
                                  "else",
                                  "extern",
                                  "false",
                                  "float",
                                  "for",
                                  "half",
                                  "if",
                                  "in",
                                  "inline",
                                  "inout",
                                  "int",
                                  "matrix",
                                  "out",
                                  "pass",
                                  "pixelfragment",
                                  "pixelshader",
                                  "register",
                                  "return",
                                  "row_major",
                                  "sampler",
                                  "sampler1D",
                                  "sampler2D",
                                  "sampler3D",
                                  "samplerCUBE",
                                  "sampler_state",
                                  "shared",
                                  "stateblock",
                                  "stateblock_state",
                                  "static",
                                  "string",
                                  "struct",
                                  "technique",
                                  "texture",
                                  "texture1D",
                                  "texture2D",
                                  "texture3D",
                                  "textureCUBE",
                                  "true",
                                  "typedef",
                                  "uniform",
                                  "vector",
                                  "vertexfragment",
                                  "vertexshader",
                                  "void",
                                  "volatile",
                                  "while"};
  std::string text;
  std::vector<int> expected;
  for (const char* k : keywords) {
    text += std::string(k) + " ";
    expected.push_back(257 + static_cast<int>(expected.size()));
  }
  EXPECT_EQ(Lex(text), expected);
}

TEST(GxlHlslLexer, ReservedWordsPunctuatorsLiteralsAndNames) {
  const struct {
    const char* source;
    std::vector<int> terminals;
  } rows[] = {
      {"auto break case catch char class const_cast continue default delete dynamic_cast enum explicit friend goto "
       "long mutable namespace new operator private protected public reinterpret_cast short signed sizeof "
       "static_cast switch template this throw try typename union unsigned using virtual",
       std::vector<int>(38, kReserved)},
      {"a<=b", {kIdentifier, 316, kIdentifier}},
      {"a<<b", {kIdentifier, kReserved, kIdentifier}},
      {"++ -- <= >= == != && || *= /= %= += -=", {314, 315, 316, 317, 318, 319, 320, 321, 322, 323, 324, 325, 326}},
      {"<<= >>= -> :: &= |= ^= >>", std::vector<int>(8, kReserved)},
      {"; { } ( ) [ ] < > , . : ? = ! - + * / % ~ &",
       {';', '{', '}', '(', ')', '[', ']', '<', '>', ',', '.', ':', '?', '=', '!', '-', '+', '*', '/', '%', '~', '&'}},
      {"'a' 1 2l 3ul 1.5 1.5h 1.5f \"text\"", {327, 327, 328, 329, 330, 331, 332, 334}},
      // Four keywords in any case; built-in type names ignore case, other keywords do not.
      {"Pass PASS ASM Asm Decl TECHNIQUE Technique", {281, 281, 257, 257, 264, 299, 299}},
      {"Float FLOAT DWORD dword VECTOR Matrix Texture PixelShader VertexShader", std::vector<int>(9, kTypeName)},
      {"Floats IF If Bool float5 float0 half4x5 STRUCT", std::vector<int>(8, kIdentifier)},
      {"float4x4 half3 int2x3 int1x1 bool2 double4 NULL",
       {kTypeName, kTypeName, kTypeName, kTypeName, kTypeName, kTypeName, kIdentifier}},
      // Line ends are skipped; the end comes as -1.
      {"a\nb\n\n", {kIdentifier, kIdentifier}},
  };
  for (const auto& row : rows) EXPECT_EQ(Lex(row.source), row.terminals) << row.source;
  // A version token (assembly lexing) is no HLSL.
  EXPECT_EQ(Lex("vs.1.1", kLexAssembly), std::vector<int>{kReserved});
}

TEST(GxlHlslLexer, DeclaredTypeNamesAndTheirShadows) {
  Lexing run("T T T T Floats");
  EXPECT_EQ(run.parser.NextToken(), kIdentifier);
  run.Declare("T", true);
  EXPECT_EQ(run.parser.NextToken(), kTypeName);  // from the next token on
  run.parser.PushScope(kScopeBlock, nullptr);
  run.Declare("T", false);
  EXPECT_EQ(run.parser.NextToken(), kIdentifier);  // a variable hides the type
  run.parser.PopScope();
  EXPECT_EQ(run.parser.NextToken(), kTypeName);
  EXPECT_EQ(run.parser.NextToken(), kIdentifier);
  EXPECT_EQ(run.parser.NextToken(), -1);
  EXPECT_EQ(run.parser.NextToken(), -1);
  EXPECT_FALSE(run.parser.HasError());
}

TEST(GxlHlslLexer, ObjectKeywordsAreNamesWhileTheFlagIsClear) {
  const char* const words = "texture sampler pixelshader vertexshader stateblock sampler2D";
  Lexing on(words);
  EXPECT_TRUE(on.parser.ObjectKeywords());
  EXPECT_EQ(on.All(), (std::vector<int>{300, 287, 283, 310, 294, 289}));
  Lexing off(words);
  off.parser.SetObjectKeywords(false);
  // texture, pixelshader and vertexshader are built-in type names.
  EXPECT_EQ(off.All(), (std::vector<int>{kTypeName, kIdentifier, kTypeName, kTypeName, kIdentifier, 289}));
}

TEST(GxlHlslLexer, APreprocessorFailureEndsTheInput) {
  Lexing run("a\n#error stop\nb c");
  EXPECT_EQ(run.parser.NextToken(), kIdentifier);
  EXPECT_FALSE(run.parser.HasError());
  EXPECT_EQ(run.parser.NextToken(), -1);
  EXPECT_TRUE(run.parser.HasError());  // so no syntax error is reported after it
  EXPECT_EQ(run.parser.NextToken(), -1);
}

}  // namespace

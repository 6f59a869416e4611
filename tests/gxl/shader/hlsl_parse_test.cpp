// Whole sources through HlslParser::Parse: the program node, declarations,
// statements, techniques, state blocks and asm blocks as the tree holds them,
// and the messages of bad sources (one syntax error per parse, no follow-up
// internal errors, the stack limit).
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>

#include "asm_run.h"
#include "gxl/shader/hlsl/hlsl_types.h"
#include "hlsl_parse_run.h"
#include "platform/d3d9_api.h"

namespace {

using namespace gxl::shader;
using shadertest::ParseRun;

ParseNodeKind11* Variable(const ParseNode* declaration) { return VariableDescription(declaration); }

// The one value of a leaf: a variable reference, or a literal of one component.
const ExpressionNode* OnlyValue(const ParseNode* leaf) {
  const ParseNodeKind13* e = AsExpression(leaf);
  if (!e || e->op != kExprValue || !e->left) return nullptr;
  const ParseNode* v = e->left;
  if (v->kind == NodeKind::List) v = v->second ? nullptr : v->first;
  return v && v->kind == NodeKind::Expression ? static_cast<const ExpressionNode*>(v) : nullptr;
}

std::size_t Count(const ParseNode* list) {
  std::size_t n = 0;
  for (; list; list = list->second) ++n;
  return n;
}

const StatementNode* Statement(const ParseNode* list, std::size_t n = 0) {
  for (; list && n; --n) list = list->second;
  return list && list->first && list->first->kind == NodeKind::Statement
             ? static_cast<const StatementNode*>(list->first)
             : nullptr;
}

// A source and the first message line it gives.
struct FirstLine {
  const char* source;
  const char* first;
};

void ExpectFirstLines(std::initializer_list<FirstLine> rows) {
  for (const FirstLine& row : rows) {
    ParseRun run(row.source);
    EXPECT_EQ(run.hr, E_FAIL) << row.source;
    EXPECT_EQ(run.First(), row.first) << row.source;
  }
}

std::uint32_t BaseOf(const ParseNode* type) {
  const TypeNode* t = AsTypeNode(type);
  return t ? t->baseType : 0xFFFFFFFFu;
}

TEST(GxlHlslParse, EmptySourcesAreEmptyPrograms) {
  for (const char* text : {"", "  // nothing\n", "/* */ ; ;"}) {
    ParseRun run(text);
    ASSERT_EQ(run.hr, S_OK) << run.log;
    ASSERT_NE(run.tree, nullptr);
    EXPECT_EQ(run.tree->kind, NodeKind::Program);
    EXPECT_EQ(run.tree->statements, nullptr);
    EXPECT_EQ(run.tree->techniqueCount + run.tree->untitledCounter + run.tree->slotCounter, 0u);
    EXPECT_EQ(run.log, "");
  }
  ShaderPreprocessor pp;
  HlslParser parser;
  EXPECT_EQ(parser.Parse(0, &pp, nullptr), D3DERR_INVALIDCALL);
}

TEST(GxlHlslParse, OneFunctionWithASemantic) {
  ParseRun run("float4 main(float4 p : POSITION) : POSITION { return p; }");
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(Count(run.tree->statements), 1u);
  const auto* f = static_cast<const DeclarationNode*>(run.Global(0));
  ASSERT_EQ(f->kind, NodeKind::Declaration);
  EXPECT_EQ(f->declClass, kDeclFunction);
  EXPECT_EQ(run.tree->untitledCounter, 1u);  // one function
  const ParseNodeKind10* d = FunctionDescription(f);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->hasBody, 1u);
  EXPECT_EQ(Count(d->parameters), 1u);
  const ParseNodeKind11* p = Variable(d->parameters->first);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(IdentifierText(p->nodes[3]), "POSITION");
  ASSERT_NE(Statement(d->body), nullptr);
  EXPECT_EQ(Statement(d->body)->code, kStatementReturn);
}

TEST(GxlHlslParse, TypedefAndStructNamesDeclareTypes) {
  ParseRun run(
      "typedef float T, P[2]; T x; P y;\n"
      "struct S { float a; float2 b : TEXCOORD0; }; S s;\n"
      "struct { float4 c; } anonymous;\n"
      "float f(T T) { return T; }\n"  // a parameter hides the type inside
      "T g() { struct S w; w.a = 1; w.b = 2; return w.b.y; }\n"
      "T h() { { float T = 1; } T u = 2; return u; }\n");  // a type again right after the "}"
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(BaseOf(Variable(run.Find("x"))->nodes[0]), kBaseFloat);
  const ParseNode* array = Variable(run.Find("y"))->nodes[0];
  ASSERT_EQ(array->kind, NodeKind::ArrayType);
  EXPECT_EQ(static_cast<const ArrayTypeNode*>(array)->dimension, 2u);
  const ParseNode* s = Variable(run.Find("s"))->nodes[0];
  ASSERT_EQ(s->kind, NodeKind::List);
  EXPECT_EQ(Count(s), 2u);
  EXPECT_EQ(Variable(run.Find("s"))->valueCount, 3u);
  EXPECT_EQ(Variable(run.Find("anonymous"))->valueCount, 4u);

  // Objects are refused as members; struct on a name that is no struct is X3005.
  EXPECT_EQ(ParseRun("struct B { texture t; float a; }; B b;").First(),
            "(1): error X3082: Object types are not allowed in structs");
  EXPECT_EQ(ParseRun("typedef float T; struct T t;").First(), "(1): error X3005: invalid use of 'T'");
}

TEST(GxlHlslParse, ForVariablesOutliveTheirLoop) {
  ParseRun run("float f() { for (int i = 0; i < 3; i++) { } return i; }");
  EXPECT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(run.log, "");
  // With a variable of the same name outside, the loop's wins, with a warning once.
  ParseRun outer("float f() { int i = 5; for (int i = 0; i < 3; ++i) ; i = i + 1; return i; }");
  EXPECT_EQ(outer.hr, S_OK) << outer.log;
  EXPECT_EQ(outer.log,
            "(1): warning X3078: 'i': loop control variable used outside for-loop scope conflicts with a previous "
            "declaration in the outer scope; most recent definition used\n");
}

TEST(GxlHlslParse, StatementShapes) {
  ParseRun run(
      "float f(float a) {\n"
      "  if (a) if (a > 1) return 1; else return 2;\n"  // the else is the inner if's
      "  while (a > 0) a = a - 1;\n"
      "  do { a++; } while (a < 4);\n"
      "  for (;;) { discard; }\n"
      "  { float b = a; a = b, a * 2; }\n"
      "  return a;\n"
      "}\n");
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const ParseNode* body = FunctionDescription(run.Global(0))->body;
  const StatementNode* outer = Statement(body, 0);
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(outer->code, kStatementIf);
  EXPECT_EQ(outer->children[2], nullptr);
  const StatementNode* inner = Statement(outer->children[1]);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->code, kStatementIf);
  EXPECT_NE(inner->children[2], nullptr);
  EXPECT_EQ(Statement(body, 1)->code, kStatementWhile);
  EXPECT_EQ(Statement(body, 2)->code, kStatementDo);
  EXPECT_EQ(Statement(body, 3)->code, kStatementFor);
  EXPECT_EQ(Statement(Statement(body, 3)->children[3])->code, kStatementDiscard);
  // A block's statements join the list: b's declaration, its initialisation,
  // the comma expression, then the return.
  ASSERT_EQ(Count(body), 8u);
  EXPECT_EQ(body->second->second->second->second->first->kind, NodeKind::Declaration);
  const StatementNode* comma = Statement(body, 6);
  ASSERT_NE(comma, nullptr);
  EXPECT_EQ(AsExpression(comma->children[0])->op, kExprSequence);
  EXPECT_EQ(Statement(body, 7)->code, kStatementReturn);
}

TEST(GxlHlslParse, CastsFlattenAndFill) {
  ParseRun run(
      "struct V { float4 p : POSITION; float2 t : TEXCOORD0; };\n"
      "V f() { V o = (V)0; return o; }\n"
      "float4 g(V v) { return (float4)v; }\n");
  EXPECT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(ParseRun("float4 g() { return (float4)(float2)1; }").First(),
            "(1): error X3017: cannot convert from 'float2' to 'float4'");
}

TEST(GxlHlslParse, TechniquesPassesAndStateBlocks) {
  ParseRun run(
      "texture Diffuse;\n"
      "sampler S = sampler_state { Texture = <Diffuse>; MinFilter = LINEAR; AddressU = CLAMP; };\n"
      "texture after;\n"  // "texture" is a keyword again after the block
      "float4 ps() : COLOR { return tex2D(S, 0); }\n"
      "technique T < string name = \"T\" \"1\"; > {\n"
      "  pass P0 { Sampler[0] = <S>; Lighting = FALSE; PixelShader = compile ps_2_0 ps(); }\n"
      "  pass P1 { }\n"
      "}\n");
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(run.tree->techniqueCount, 1u);
  EXPECT_TRUE(run.parser.ObjectKeywords());

  // The sampler's value: a sampler literal holding its states.
  const ExpressionNode* sampler = OnlyValue(Variable(run.Find("S"))->nodes[2]);
  ASSERT_NE(sampler, nullptr);
  EXPECT_EQ(sampler->value.subKind, 4u);
  const ParseNode* states = sampler->value.node;
  ASSERT_EQ(Count(states), 3u);
  const auto* texture = static_cast<const ParseNodeKind16*>(states->first);
  EXPECT_STREQ(IdentifierText(texture->stateName), "Texture");
  const ExpressionNode* reference = OnlyValue(texture->value);
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(reference->value.subKind, kValueVariable);
  const auto* filter = static_cast<const ParseNodeKind16*>(states->second->first);
  EXPECT_STREQ(IdentifierText(filter->value), "LINEAR");  // undeclared: kept as a name

  // The technique: annotations, then two passes.
  const DeclarationNode* t = run.Find("T");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->declClass, kDeclTechnique);
  const ExpressionNode* name = OnlyValue(Variable(t->description->first)->nodes[2]);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(static_cast<const char*>(name->value.address), "T1");
  ASSERT_EQ(Count(t->contents), 2u);
  const auto* p0 = static_cast<const DeclarationNode*>(t->contents->first);
  EXPECT_EQ(p0->declClass, kDeclPass);
  EXPECT_STREQ(IdentifierText(p0->name), "P0");
  ASSERT_EQ(Count(p0->contents), 3u);
  EXPECT_NE(static_cast<const ParseNodeKind16*>(p0->contents->first)->index, nullptr);
  const ExpressionNode* shader =
      OnlyValue(static_cast<const ParseNodeKind16*>(p0->contents->second->second->first)->value);
  ASSERT_NE(shader, nullptr);
  EXPECT_EQ(shader->value.subKind, 4u);  // holds the compile expression
  EXPECT_EQ(AsExpression(shader->value.node)->op, kExprCompile);
  EXPECT_EQ(static_cast<const DeclarationNode*>(t->contents->second->first)->contents, nullptr);
}

TEST(GxlHlslParse, BadStateValuesAndObjectLiterals) {
  ExpectFirstLines({
      {"technique T { pass P { Texture = <Missing>; } }", "(1): error X3004: undeclared identifier 'Missing'"},
      {"float4 f(float x) { return x; }\ntechnique T { pass P { PixelShader = compile ps_2_0 f(LINEAR); } }",
       "(2): error X3004: undeclared identifier 'LINEAR'"},
      {"technique T { pass P { PixelShader = compile ps_9_9 f(); } }",
       "(1): error X3041: unsupported compiler target 'ps_9_9'"},
      {"float4 f() { sampler s = sampler_state { MinFilter = LINEAR; }; return 0; }",
       "(1): error X3064: object literals are not allowed inside functions"},
      {"technique T { pass P { } }\ntechnique T { }", "(2): error X3003: redefinition of 'T'"},
  });
  ParseRun comma("technique T { pass P { Value = 1, 2; } }");
  EXPECT_EQ(comma.hr, S_OK);
  EXPECT_EQ(comma.log, "(1): warning X3081: comma expression used where an initializer list may have been intended\n");
}

TEST(GxlHlslParse, UsagesMerge) {
  ExpectFirstLines({
      {"static static float x;", "(1): error X3048: duplicate usages specified"},
      {"float f(in inout float x) { return x; }", "(1): error X3048: duplicate usages specified"},
      {"vs_2_0 ps_2_0 float x;", "(1): error X3000: syntax error: unexpected token 'ps_2_0'"},
      {"vs_2_0 float x;", "(1): error X3039: 'x': global variables cannot be target specific"},
      {"row_major float4 v;", "(1): error X3077: non-matrix types cannot be declared 'row_major' or 'column_major'"},
      {"static const row_major float4x4 m = 1; in float x;", "(1): error X3000: syntax error: unexpected token 'in'"},
  });
  // Parameter directions and the parameter "uniform".
  ParseRun run("float f(uniform float u, out float o, in out float io) { o = u; io = io + 1; return u; }");
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const ParseNode* parameters = FunctionDescription(run.Global(0))->parameters;
  EXPECT_EQ(Variable(parameters->first)->storage, kUsageUniform | kUsageIn);
  EXPECT_EQ(Variable(parameters->second->first)->storage, kUsageOut);
  EXPECT_EQ(Variable(parameters->second->second->first)->storage, kUsageInOut);
}

TEST(GxlHlslParse, JoinedLiteralsAreSizedFromBothParts) {
  const std::string a(3000, 'a'), b(2000, 'b'), name(500, 'N');
  ParseRun run("string s = \"" + a + "\" \"" + b + "\";\nfloat4 v : 4294967295" + name + ";\n");
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const ExpressionNode* s = OnlyValue(Variable(run.Find("s"))->nodes[2]);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(static_cast<const char*>(s->value.address), a + b);
  EXPECT_EQ(IdentifierText(Variable(run.Find("v"))->nodes[3]), "4294967295" + name);
  // A number and a name apart are two tokens.
  EXPECT_EQ(ParseRun("float4 v : 2 D;").First(), "(1): error X3000: syntax error: unexpected token 'D'");
  EXPECT_EQ(ParseRun("float f() { return 2x; }").First(), "(1): error X3004: undeclared identifier '2x'");
}

// Each of these reports its one error and nothing after it: a part that
// failed passes on as nothing, never as an internal error.
TEST(GxlHlslParse, FailedPartsReportOnce) {
  const char* const sources[] = {
      "float x = y + 1;",
      "float4 v = float4(y, 1, 2, 3);",
      "float f() { float a[y]; return a[0]; }",
      "vector<float, y> v;",
      "float f() { for (int i = y; i < 3; i++) { } return 1; }",
      "float f() { if (y) return 1; return 0; }",
      "float f() { while (y) ; return 0; }",
      "float f() { do ; while (y); return 0; }",
      "float f(float a = y) { return a; }",
      "float f() { return g(y); }",
      "float3 f() { return (float3)y; }",
      "float3 f() { return y ? 1 : 0; }",
      "float3 f(float3 v) { return v[y].x; }",
      "sampler s = sampler_state { Texture = <y>; };",
      "technique T { pass P { PixelShader = compile ps_2_0 y(); } }",
      "technique T { pass P { Sampler[y] = 1; } }",
      "float f() { y++; return 0; }",
      "float f() { return --y; }",
  };
  for (const char* source : sources) {
    ParseRun run(source);
    EXPECT_EQ(run.hr, E_FAIL) << source;
    EXPECT_EQ(run.tree, nullptr);
    EXPECT_EQ(run.log, "(1): error X3004: undeclared identifier 'y'\n") << source;
  }
}

TEST(GxlHlslParse, OneSyntaxErrorPerParse) {
  ParseRun run("float x = ;\nfloat y = ;\nfloat z = 1;\n");
  EXPECT_EQ(run.hr, E_FAIL);
  EXPECT_EQ(run.tree, nullptr);
  EXPECT_EQ(run.log, "(1): error X3000: syntax error: unexpected token ';'\n");
  // Declarations after the error are still checked.
  EXPECT_EQ(ParseRun("float x = ;\nfloat f() { return; }\n").log,
            "(1): error X3000: syntax error: unexpected token ';'\n(2): error X3080: 'f': function must return a "
            "value\n");
  ExpectFirstLines({
      {"float f() { return a << b; }", "(1): error X3004: undeclared identifier 'a'"},
      {"float x = 1 float y;", "(1): error X3000: syntax error: unexpected token 'float'"},
      {"float x = 1;\nfloat y = \"", "(2): error X1006: string continues past end of file"},
      {"float x", "(1): error X3000: syntax error: unexpected end of file"},
      {"float x = 1.5 2;", "(1): error X3000: syntax error: unexpected integer constant"},
      {"float x = 1 1.5;", "(1): error X3000: syntax error: unexpected float constant"},
      {"float x = 1 \"s\";", "(1): error X3000: syntax error: unexpected string constant"},
      {"float x = 1 @;", "(1): error X3000: syntax error: unexpected token '@'"},
      // A lexer error that lets the parse go on still fails it.
      {"float x = 99999999999;", "(1): error X1004: decimal value truncated to 32bits"},
      {"#error stop\nfloat x", "(1): error: stop"},  // the preprocessor's message alone
  });
  EXPECT_EQ(ParseRun("#error stop\nfloat x").log, "(1): error: stop\n");
}

TEST(GxlHlslParse, DeepNestingOverflowsTheStacks) {
  auto nested = [](int n) { return "float x = " + std::string(n, '(') + "1" + std::string(n, ')') + ";"; };
  ParseRun shallow(nested(400));
  EXPECT_EQ(shallow.hr, S_OK) << shallow.log;
  ParseRun deep(nested(600));
  EXPECT_EQ(deep.hr, E_FAIL);
  EXPECT_EQ(deep.tree, nullptr);
  EXPECT_EQ(deep.log, "(1): yacc stack overflow\n");
  ParseRun blocks("float f() {" + std::string(600, '{') + std::string(600, '}') + " return 1; }");
  EXPECT_EQ(blocks.log, "(1): yacc stack overflow\n");
}

TEST(GxlHlslParse, AsmBlocksAreAssembledInPlace) {
  const char* const vertex = "vs_1_1 dcl_position v0 mov oPos, v0";
  const char* const pixel = "ps_2_0 def c0, 1, 0, 0, 1 mov oC0, c0";
  ParseRun run(std::string("vertexshader v = asm { ") + vertex + " };\npixelshader p = ASM { " + pixel +
               " }; float after;\n"
               "technique T { pass P { VertexShader = asm { " +
               vertex + " }; PixelShader = asm { ps_1_1 }; } }\n");
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_NE(run.Find("after"), nullptr);  // the nested stream took the block's closing brace
  for (const auto& [name, text, base] : {std::tuple{"v", vertex, kBaseVertexShader}, {"p", pixel, kBasePixelShader}}) {
    const ParseNode* value = Variable(run.Find(name))->nodes[2];
    EXPECT_EQ(BaseOf(AsExpression(value)->type), base);
    const ExpressionNode* code = OnlyValue(value);
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->value.subKind, kValueCode);
    // The same tokens as the assembler gives for the text alone.
    const shadertest::AsmRun alone = shadertest::Assemble(text, 0);
    ASSERT_EQ(alone.hr, S_OK) << alone.log;
    ASSERT_EQ(code->value.third, alone.tokens.size() * 4);
    EXPECT_EQ(std::memcmp(code->value.address, alone.tokens.data(), code->value.third), 0) << name;
  }
  // A block of only a version gives no value.
  const auto* pass = static_cast<const DeclarationNode*>(run.Find("T")->contents->first);
  EXPECT_NE(static_cast<const ParseNodeKind16*>(pass->contents->first)->value, nullptr);
  EXPECT_EQ(static_cast<const ParseNodeKind16*>(pass->contents->second->first)->value, nullptr);
  ParseRun empty("vertexshader v = asm { vs_1_1 };");
  ASSERT_EQ(empty.hr, S_OK) << empty.log;
  EXPECT_EQ(Variable(empty.Find("v"))->nodes[2], nullptr);

  // The assembler's messages fail the parse; blocks inside functions are refused.
  ParseRun bad("vertexshader v = asm { vs_1_1 mov oPos, q9 }; float x = ;");
  EXPECT_EQ(bad.hr, E_FAIL);
  EXPECT_EQ(bad.First(), "(1): error X2005: invalid register 'q9'");
  EXPECT_EQ(bad.log.find("X3000"), std::string::npos);
  EXPECT_EQ(ParseRun(std::string("float4 f() { vertexshader v = asm { ") + vertex + " }; return 0; }").First(),
            "(1): error X3064: object literals are not allowed inside functions");
  // "decl" blocks are read and dropped.
  ParseRun decl(std::string("technique T { pass P { VertexShader = decl { stream 0; float v0[3]; } asm { ") + vertex +
                " }; } }");
  EXPECT_EQ(decl.hr, S_OK) << decl.log;
}

}  // namespace

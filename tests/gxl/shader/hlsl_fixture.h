// A parser inside one shader-tool run, with helpers that build the pieces the
// grammar would: names, literals, types, declarations.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "log_text.h"

namespace shadertest {

using namespace gxl::shader;

class HlslTest : public ::testing::Test {
 protected:
  HlslTest() {
    parser.Reset(0, &pp);
    parser.PushScope(kScopeGlobal, nullptr);
  }

  std::string Log() { return LogText(pp.Log()); }
  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }

  // A copy of the text in the run's pool, as the lexer keeps names.
  static const char* Text(const std::string& s) {
    auto* copy = static_cast<char*>(PoolAlloc(s.size() + 1));
    std::memcpy(copy, s.c_str(), s.size() + 1);
    return copy;
  }
  static SourceToken Identifier(const std::string& name) {
    SourceToken t;
    t.kind = kTokenIdentifier;
    t.value.text = Text(name);
    t.line = 7;
    return t;
  }
  static TokenNode* Name(const std::string& name) { return new TokenNode(Identifier(name)); }

  ParseNode* Float(double v, std::uint32_t kind = kTokenFloat) {
    SourceToken t;
    t.kind = kind;
    t.value.real = v;
    return parser.MakeLiteral(t);
  }
  ParseNode* Int(std::uint32_t v, std::uint32_t kind = kTokenInt) {
    SourceToken t;
    t.kind = kind;
    t.value.number = v;
    return parser.MakeLiteral(t);
  }
  ParseNode* Bool(bool v) { return parser.MakeBoolLiteral(v, SourceToken{}); }
  // A float vector or matrix literal of the given values.
  ParseNode* Floats(std::initializer_list<double> values, std::uint32_t rows = 1) {
    ParseNode* list = nullptr;
    for (double v : values) list = AppendToList(list, new ListNode(Float(v), nullptr, "Arguments"));
    const auto n = static_cast<std::uint32_t>(values.size());
    return parser.MakeConstructor(rows == 1 ? Vec(kBaseFloat, n) : Mat(kBaseFloat, rows, n / rows), list, false, false);
  }

  static TypeNode* Scalar(std::uint32_t base) { return new TypeNode(kShapeScalar, base, 1, 1, 0); }
  static TypeNode* Vec(std::uint32_t base, std::uint32_t n) {
    return n == 1 ? Scalar(base) : new TypeNode(kShapeVector, base, 1, n, 0);
  }
  static TypeNode* Mat(std::uint32_t base, std::uint32_t r, std::uint32_t c) {
    return new TypeNode(kShapeMatrix, base, r, c, 0);
  }
  static TypeNode* Obj(std::uint32_t base) { return new TypeNode(kShapeObject, base, 1, 1, 0); }
  static ParseNode* Array(ParseNode* element, std::uint32_t n) { return new ArrayTypeNode(element, n); }
  static ParseNode* Const(TypeNode* t) {
    t->flags |= TypeNode::kConst;
    return t;
  }
  // A struct whose members are the given types.
  ParseNode* Struct(std::initializer_list<ParseNode*> members) {
    ParseNode* list = nullptr;
    int i = 0;
    for (ParseNode* m : members) {
      auto* d = new ParseNodeKind11(0, parser.ComponentCount(m), 1, 0, m, nullptr, nullptr, nullptr, nullptr);
      auto* decl = new DeclarationNode(kDeclVariable, Name("m" + std::to_string(i++)), d, nullptr);
      list = AppendToList(list, new ListNode(decl, nullptr, "Decls"));
    }
    return list;
  }

  // Declares a variable in the current scope: its "Stmts" list or null.
  ParseNode* Declare(const std::string& name, ParseNode* type, std::uint32_t usage = 0, ParseNode* value = nullptr,
                     std::vector<ParseNode*> dims = {}, ParseNode* semantics = nullptr,
                     ParseNode* annotations = nullptr) {
    ParseNode* dimList = nullptr;
    for (ParseNode* d : dims) dimList = AppendToList(dimList, new ListNode(d, nullptr, "VariableDim"));
    DeclarationNode declarator(kDeclVariable, Name(name), dimList, annotations);
    ParseNodeKind7* usageType = parser.PushUsageType(new ParseNodeKind7(usage, nullptr, nullptr), type, nullptr);
    ParseNode* result = parser.CheckDeclarationModifiers(&declarator, usageType, semantics, value);
    parser.PopUsageType();
    return result;
  }
  struct Param {
    std::string name;
    ParseNode* type;
    std::uint32_t usage = 0;
    ParseNode* defaultValue = nullptr;
  };
  // Declares a function with its parameters and, when `defined`, an empty
  // body; the parser is left outside it. Returns the "Stmts" cell or null.
  ParseNode* Function(const std::string& name, ParseNode* returnType, std::vector<Param> params, bool defined,
                      std::uint32_t usage = 0, ParseNode* semantics = nullptr, bool keepOpen = false) {
    parser.PushScope(kScopeParameters, Text(name));
    ParseNode* list = nullptr;
    for (const Param& p : params) {
      ParseNode* d = Declare(p.name, p.type, p.usage, p.defaultValue);
      if (d) list = AppendToList(list, new ListNode(d->first, nullptr, "Parameters"));
    }
    ParseNodeKind7 u(usage, nullptr, nullptr);
    ParseNodeKind7* usageType = parser.PushUsageType(&u, returnType, nullptr);
    ParseNode* result = parser.DeclareFunction(usageType, Name(name), list, semantics);
    parser.PopUsageType();
    if (!result) {
      if (parser.CurrentScope()->ownerKind == kScopeParameters) parser.PopScope();
      return nullptr;
    }
    if (!keepOpen) parser.EndFunction(defined, nullptr);
    return result;
  }
  static ParseNodeKind11* VariableOf(ParseNode* stmts) {
    return static_cast<ParseNodeKind11*>(static_cast<DeclarationNode*>(stmts->first)->description);
  }
  ParseNode* Var(const std::string& name) { return parser.MakeIdentifier(Name(name)); }
  static ParseNodeKind13* E(ParseNode* n) { return static_cast<ParseNodeKind13*>(n); }
  static ParseNode* TypeOf(ParseNode* n) { return n ? E(n)->type : nullptr; }
  static ParseNode* Args(std::initializer_list<ParseNode*> args) {
    ParseNode* list = nullptr;
    for (ParseNode* a : args) list = AppendToList(list, new ListNode(a, nullptr, "Arguments"));
    return list;
  }
  std::string TypeText(const ParseNode* t) {
    char buffer[HlslParser::kTypeTextSize];
    return parser.TypeToText(t, buffer);
  }

  // The components of a literal as doubles; empty when it is no literal.
  std::vector<double> Values(const ParseNode* n) {
    std::vector<double> out;
    if (!parser.IsLiteral(n)) return out;
    for (const ParseNode* c = E(const_cast<ParseNode*>(n))->left; c; c = c->second) {
      const auto& v = static_cast<const ExpressionNode*>(c->first)->value;
      FoldedComponent f{v.subKind, v.subKind == kComponentFloat ? std::bit_cast<std::uint64_t>(v.number) : v.integer};
      out.push_back(ComponentToDouble(f));
    }
    return out;
  }

  ShaderPreprocessor pp;  // the run: lock, pool and log
  HlslParser parser;
};

}  // namespace shadertest

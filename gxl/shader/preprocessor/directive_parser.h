// The glue between the directive grammar (directive_grammar.y, made into a
// parser by bison) and the preprocessor: the token function, the error
// function and the actions of the grammar's rules.
#pragma once

#include <cstdint>

namespace gxl::shader {

class ShaderPreprocessor;

// The value of a grammar symbol: a number, or a name or string with the
// line it stood on.
struct DirectiveValue {
  std::uint32_t number;
  std::uint32_t line;
  const char* text;
};

struct DirectiveGrammar {
  // 0 when the line was accepted, 1 after a syntax error or a stack overflow.
  static int Parse(ShaderPreprocessor* pp);
  static int Lex(ShaderPreprocessor* pp, DirectiveValue* value);
  static void Error(ShaderPreprocessor* pp, const char* text);
  static bool Failed(const ShaderPreprocessor* pp);

  static void Define(ShaderPreprocessor* pp, const DirectiveValue& name);
  static void Undef(ShaderPreprocessor* pp, const DirectiveValue& name);
  static void Line(ShaderPreprocessor* pp, const DirectiveValue& number, const DirectiveValue* fileName);
  static void Include(ShaderPreprocessor* pp);
  static void ErrorDirective(ShaderPreprocessor* pp);
  static void If(ShaderPreprocessor* pp, bool value);
  static void Elif(ShaderPreprocessor* pp, bool value);
  static void Else(ShaderPreprocessor* pp);
  static void Endif(ShaderPreprocessor* pp);
  static void InactiveIf(ShaderPreprocessor* pp);
  static void InactiveElif(ShaderPreprocessor* pp);
  static void Pragma(ShaderPreprocessor* pp);

  static bool IsMacro(ShaderPreprocessor* pp, const DirectiveValue& name);
  static std::uint32_t IdentifierValue(ShaderPreprocessor* pp, const DirectiveValue& name);
  static std::uint32_t DefinedValue(ShaderPreprocessor* pp, const DirectiveValue& name);
  static std::uint32_t Divide(ShaderPreprocessor* pp, std::uint32_t a, std::uint32_t b);
};

}  // namespace gxl::shader

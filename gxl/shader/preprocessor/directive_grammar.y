/* One preprocessor directive line: the keyword, the #if and #elif expressions
   in unsigned 32-bit arithmetic, and the handlers of each directive. The
   token function and the actions live in directive_parser.cpp. No error
   rules: the first syntax error ends the line. */
%require "3.2"
%define api.pure full
%define api.prefix {gxl_directive_}
%define api.token.prefix {kDirective}
%define api.value.type {gxl::shader::DirectiveValue}
%parse-param {gxl::shader::ShaderPreprocessor* pp}
%lex-param {gxl::shader::ShaderPreprocessor* pp}
%expect 0

%code requires {
#include "gxl/shader/preprocessor/directive_parser.h"
}

%code {
/* The stacks hold 500 entries and never grow: a deeper line is reported as a
   stack overflow. They live on the C stack of each parse. */
#define YYINITDEPTH 500
#define YYMAXDEPTH 500

using gxl::shader::DirectiveGrammar;

static int gxl_directive_lex(GXL_DIRECTIVE_STYPE* value, gxl::shader::ShaderPreprocessor* pp) {
  return DirectiveGrammar::Lex(pp, value);
}
static void gxl_directive_error(gxl::shader::ShaderPreprocessor* pp, const char* text) {
  DirectiveGrammar::Error(pp, text);
}
/* Every action is skipped once the line has failed, and a handler that
   fails ends the line's parse. */
#define ACT(statement)                        \
  do {                                        \
    if (DirectiveGrammar::Failed(pp)) YYABORT; \
    statement;                                \
    if (DirectiveGrammar::Failed(pp)) YYABORT; \
  } while (0)
}

%token Define Undef Line Include Error If Ifdef Ifndef Elif Else Endif
%token InactiveIf InactiveElif Pragma Defined
%token LessEqual GreaterEqual Equal NotEqual And Or
%token Identifier Number String Other

%%

line
  : Define Identifier          { ACT(DirectiveGrammar::Define(pp, $2)); }
  | Undef Identifier           { ACT(DirectiveGrammar::Undef(pp, $2)); }
  | Line Number                { ACT(DirectiveGrammar::Line(pp, $2, nullptr)); }
  | Line Number String         { ACT(DirectiveGrammar::Line(pp, $2, &$3)); }
  | Include                    { ACT(DirectiveGrammar::Include(pp)); }
  | Error                      { ACT(DirectiveGrammar::ErrorDirective(pp)); }
  | If expression              { ACT(DirectiveGrammar::If(pp, $2.number != 0)); }
  | Ifdef Identifier           { ACT(DirectiveGrammar::If(pp, DirectiveGrammar::IsMacro(pp, $2))); }
  | Ifndef Identifier          { ACT(DirectiveGrammar::If(pp, !DirectiveGrammar::IsMacro(pp, $2))); }
  | Elif expression            { ACT(DirectiveGrammar::Elif(pp, $2.number != 0)); }
  | Else                       { ACT(DirectiveGrammar::Else(pp)); }
  | Endif                      { ACT(DirectiveGrammar::Endif(pp)); }
  | InactiveIf                 { ACT(DirectiveGrammar::InactiveIf(pp)); }
  | InactiveElif               { ACT(DirectiveGrammar::InactiveElif(pp)); }
  | Pragma                     { ACT(DirectiveGrammar::Pragma(pp)); }
  ;

expression
  : or
  | or '?' expression ':' expression  { $$ = $1; $$.number = $1.number ? $3.number : $5.number; }
  ;

or
  : and
  | or Or and                  { $$ = $1; $$.number = $1.number || $3.number; }
  ;

and
  : equality
  | and And equality           { $$ = $1; $$.number = $1.number && $3.number; }
  ;

equality
  : relation
  | equality Equal relation    { $$ = $1; $$.number = $1.number == $3.number; }
  | equality NotEqual relation { $$ = $1; $$.number = $1.number != $3.number; }
  ;

relation
  : sum
  | relation '<' sum           { $$ = $1; $$.number = $1.number < $3.number; }
  | relation '>' sum           { $$ = $1; $$.number = $1.number > $3.number; }
  | relation LessEqual sum     { $$ = $1; $$.number = $1.number <= $3.number; }
  | relation GreaterEqual sum  { $$ = $1; $$.number = $1.number >= $3.number; }
  ;

sum
  : product
  | sum '+' product            { $$ = $1; $$.number = $1.number + $3.number; }
  | sum '-' product            { $$ = $1; $$.number = $1.number - $3.number; }
  ;

product
  : unary
  | product '*' unary          { $$ = $1; $$.number = $1.number * $3.number; }
  | product '/' unary          { $$ = $1; $$.number = DirectiveGrammar::Divide(pp, $1.number, $3.number); }
  ;

unary
  : primary
  | '!' unary                  { $$ = $2; $$.number = !$2.number; }
  | '-' unary                  { $$ = $2; $$.number = 0u - $2.number; }
  | '+' unary                  { $$ = $2; }
  ;

primary
  : Number
  | Identifier                 { $$ = $1; $$.number = DirectiveGrammar::IdentifierValue(pp, $1); }
  | Defined '(' Identifier ')' { $$ = $3; $$.number = DirectiveGrammar::DefinedValue(pp, $3); }
  | '(' expression ')'         { $$ = $2; }
  ;

%%

namespace gxl::shader {

int DirectiveGrammar::Parse(ShaderPreprocessor* pp) { return gxl_directive_parse(pp) == 0 ? 0 : 1; }

}  // namespace gxl::shader

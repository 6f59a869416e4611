/* Shader assembly after its version statement: one statement per
   instruction, each starting with its instruction name (classified by the
   name tables into the Instr0..Flow2 tokens), operands separated by commas.
   The token function and the actions live in asm_reduce.cpp. A bad stretch
   becomes one error line, reported once, and parsing resumes at the next
   token that can begin a line. */
%require "3.2"
%define api.pure full
%define api.prefix {gxl_asm_}
%define api.token.prefix {kAsm}
%define api.value.type {ParseNode*}
%parse-param {gxl::shader::ShaderAssembler* as}
%lex-param {gxl::shader::ShaderAssembler* as}
%expect 0

%code requires {
#include "gxl/shader/assembler/asm_reduce.h"
}

%code {
/* The stacks hold 500 entries and never grow: a deeper parse is reported as
   a stack overflow. They live on the C stack of each parse. */
#define YYINITDEPTH 500
#define YYMAXDEPTH 500

using gxl::shader::AsmGrammar;

static int gxl_asm_lex(GXL_ASM_STYPE* value, gxl::shader::ShaderAssembler* as) {
  return AsmGrammar::Lex(as, value);
}
static void gxl_asm_error(gxl::shader::ShaderAssembler* as, const char* text) {
  AsmGrammar::Error(as, text);
}
/* Nothing is reduced once the run has failed inside (no memory, a node that
   could not be made, a failed validation): the parse stops. */
#define ACT(...)                               \
  do {                                         \
    if (AsmGrammar::Aborted(as)) YYABORT;      \
    __VA_ARGS__;                               \
  } while (0)
}

%token Instr0 Instr1 Instr2 Instr3 Instr4 Instr5 Def Defi Defb Flow1 Flow2
%token Name Int Float True False EntryPoint Bad

%%

program
  : %empty                     { ACT(AsmGrammar::Program(as, nullptr)); }
  | lines                      { ACT(AsmGrammar::Program(as, $1)); }
  ;

lines
  : line                       { ACT($$ = AsmGrammar::Lines(nullptr, $1)); }
  | lines line                 { ACT($$ = AsmGrammar::Lines($1, $2)); }
  ;

line
  : entry                      { $$ = nullptr; }
  | statement
  | error                      { $$ = nullptr; }
  ;

entry
  : EntryPoint Name            { ACT(AsmGrammar::EntryPoint(as, $2)); }
  ;

statement
  : instruction                { ACT($$ = AsmGrammar::Statement(as, $1, false)); }
  | '+' instruction            { ACT($$ = AsmGrammar::Statement(as, $2, true)); }
  ;

instruction
  : body
  | '(' src ')' body           { ACT($$ = AsmGrammar::Predicated(as, $2, $4)); }
  ;

body
  : Instr0                     { ACT($$ = AsmGrammar::Body($1, nullptr, {})); }
  | Instr1 dst                 { ACT($$ = AsmGrammar::Body($1, $2, {})); }
  | Instr2 dst ',' src         { ACT($$ = AsmGrammar::Body($1, $2, {$4})); }
  | Instr3 dst ',' src ',' src { ACT($$ = AsmGrammar::Body($1, $2, {$4, $6})); }
  | Instr4 dst ',' src ',' src ',' src
                               { ACT($$ = AsmGrammar::Body($1, $2, {$4, $6, $8})); }
  | Instr5 dst ',' src ',' src ',' src ',' src
                               { ACT($$ = AsmGrammar::Body($1, $2, {$4, $6, $8, $10})); }
  | Def dst ',' fnum ',' fnum ',' fnum ',' fnum
                               { ACT($$ = AsmGrammar::Body($1, $2, {$4, $6, $8, $10})); }
  | Defi dst ',' inum ',' inum ',' inum ',' inum
                               { ACT($$ = AsmGrammar::Body($1, $2, {$4, $6, $8, $10})); }
  | Defb dst ',' bool          { ACT($$ = AsmGrammar::Body($1, $2, {$4})); }
  | Flow1 src                  { ACT($$ = AsmGrammar::Body($1, nullptr, {$2})); }
  | Flow2 src ',' src          { ACT($$ = AsmGrammar::Body($1, nullptr, {$2, $4})); }
  ;

dst
  : reg
  | reg '.' Name               { ACT($$ = AsmGrammar::WriteMask(as, $1, $3)); }
  ;

src
  : sreg
  | '!' sreg                   { ACT($$ = AsmGrammar::Not(as, $2)); }
  | '-' sreg                   { ACT($$ = AsmGrammar::Negate(as, $2)); }
  | Int '-' sreg               { ACT($$ = AsmGrammar::Complement(as, $1, $3)); }
  ;

sreg
  : reg
  | reg '.' Name               { ACT($$ = AsmGrammar::Swizzle(as, $1, $3)); }
  ;

reg
  : Name                       { ACT($$ = AsmGrammar::Register(as, $1, nullptr)); }
  | Name '[' rel ']'           { ACT($$ = AsmGrammar::Register(as, $1, $3)); }
  ;

rel
  : term
  | term '+' rel               { ACT($$ = AsmGrammar::Sum(as, $1, $3)); }
  ;

term
  : sreg                       { ACT($$ = AsmGrammar::AddressTerm(as, $1)); }
  | Int                        { ACT($$ = AsmGrammar::OffsetTerm(as, $1)); }
  ;

bool
  : True                       { ACT($$ = AsmGrammar::Boolean($1, 1)); }
  | False                      { ACT($$ = AsmGrammar::Boolean($1, 0)); }
  ;

inum
  : Int
  | '+' Int                    { $$ = $2; }
  | '-' Int                    { ACT($$ = AsmGrammar::NegateInteger($2)); }
  ;

fnum
  : Int                        { ACT($$ = AsmGrammar::FloatLiteral($1, false)); }
  | '+' Int                    { ACT($$ = AsmGrammar::FloatLiteral($2, false)); }
  | '-' Int                    { ACT($$ = AsmGrammar::FloatLiteral($2, true)); }
  | Float                      { ACT($$ = AsmGrammar::FloatLiteral($1, false)); }
  | '+' Float                  { ACT($$ = AsmGrammar::FloatLiteral($2, false)); }
  | '-' Float                  { ACT($$ = AsmGrammar::FloatLiteral($2, true)); }
  ;

%%

namespace gxl::shader {

int AsmGrammar::Parse(ShaderAssembler* as) { return gxl_asm_parse(as) == 0 ? 0 : 1; }

}  // namespace gxl::shader

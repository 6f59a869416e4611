/* HLSL: global declarations, functions, techniques and passes. Terminals
   come from HlslParser::NextToken (hlsl_lexer.cpp), which classifies type
   names by looking them up, so every action that declares a name or opens or
   closes a scope sits where the parser reduces without reading ahead: right
   after a ";", "{", "}", ">" or a function name's "(". An "else" binds to the
   nearest "if" through the two statement families (matched, unmatched), and
   the expression levels run from primary to comma. The actions live in
   hlsl_reduce.cpp, hlsl_reduce_expr.cpp and hlsl_parse.cpp. */
%require "3.2"
%define api.pure full
%define api.prefix {gxl_hlsl_}
%define api.token.prefix {kHlsl}
%define api.value.type {ParseNode*}
%define api.location.type {const SourceToken*}
%locations
%parse-param {gxl::shader::HlslGrammar* g}
%lex-param {gxl::shader::HlslGrammar* g}
%expect 0

%code requires {
#include "gxl/shader/hlsl/hlsl_reduce.h"
}

%code {
/* The stacks hold 500 entries and never grow: a deeper parse is reported as
   a stack overflow. They live on the C stack of each parse. */
#define YYINITDEPTH 500
#define YYMAXDEPTH 500
/* A rule is located at its first token; an empty rule at the token before. */
#define YYLLOC_DEFAULT(Current, Rhs, N) ((Current) = (N) ? YYRHSLOC(Rhs, 1) : YYRHSLOC(Rhs, 0))

using gxl::shader::HlslGrammar;
namespace hlsl = gxl::shader;

static int gxl_hlsl_lex(GXL_HLSL_STYPE* value, GXL_HLSL_LTYPE* location, HlslGrammar* g) {
  return g->Lex(value, location);
}
static void gxl_hlsl_error(GXL_HLSL_LTYPE*, HlslGrammar* g, const char* text) { g->Error(text); }
/* Once the parse has failed inside (an internal error), nothing more is
   reduced; otherwise the rule's location (yyloc, the @$ of the rule being
   reduced) becomes the parser's current token. */
#define ACT(...)                      \
  do {                                \
    if (g->Begin(yyloc)) YYABORT;     \
    __VA_ARGS__;                      \
  } while (0)
}

%token Asm 257 AsmFragment 258 Bool 259 ColumnMajor 260 Compile 261 CompileFragment 262 Const 263
%token Decl 264 Discard 265 Double 266 Do 267 Else 268 Extern 269 False 270 Float 271 For 272 Half 273
%token If 274 In 275 Inline 276 Inout 277 Int 278 Matrix 279 Out 280 Pass 281 PixelFragment 282
%token PixelShader 283 Register 284 Return 285 RowMajor 286 Sampler 287 Sampler1D 288 Sampler2D 289
%token Sampler3D 290 SamplerCube 291 SamplerState 292 Shared 293 StateBlock 294 StateBlockState 295
%token Static 296 String 297 Struct 298 Technique 299 Texture 300 Texture1D 301 Texture2D 302
%token Texture3D 303 TextureCube 304 True 305 Typedef 306 Uniform 307 Vector 308 VertexFragment 309
%token VertexShader 310 Void 311 Volatile 312 While 313
%token Inc 314 Dec 315 Le 316 Ge 317 Eq 318 Ne 319 AndAnd 320 OrOr 321
%token MulAssign 322 DivAssign 323 ModAssign 324 AddAssign 325 SubAssign 326
%token IntConst 327 LongConst 328 UlongConst 329 FloatConst 330 HalfConst 331 FloatFConst 332
%token DoubleConst 333 StringConst 334 TypeName 335 Identifier 336 Reserved 337

%%

program
  : globals_opt                  { ACT(g->Program($1)); }
  ;

globals_opt
  : %empty                       { $$ = nullptr; }
  | globals_opt global           { ACT($$ = g->Append($1, $2)); }
  ;

global
  : ';'                          { $$ = nullptr; }
  | declaration
  | typedef_declaration          { $$ = nullptr; }
  | function_head ';'            { ACT($$ = g->EndFunction($1, false, nullptr)); }
  | function_head block          { ACT($$ = g->EndFunction($1, true, $2)); }
  | technique
  | error ';'                    { ACT($$ = g->Recover()); }
  | error '}'                    { ACT($$ = g->Recover()); }
  ;

/* --- Usages and types ------------------------------------------------------ */

usages
  : usage
  | usages usage                 { ACT($$ = g->MergeUsage($1, $2, @2)); }
  ;

usage
  : usage_keyword
  | Uniform                      { ACT($$ = g->Usage(hlsl::kUsageUniform)); }
  | Identifier                   { ACT($$ = g->TargetUsage($1)); }
  ;

usage_keyword
  : Static                       { ACT($$ = g->Usage(hlsl::kUsageStatic)); }
  | Extern                       { ACT($$ = g->Usage(hlsl::kUsageExtern)); }
  | Volatile                     { ACT($$ = g->Usage(hlsl::kUsageVolatile)); }
  | Inline                       { ACT($$ = g->Usage(hlsl::kUsageInline)); }
  | Shared                       { ACT($$ = g->Usage(hlsl::kUsageShared)); }
  | Const                        { ACT($$ = g->Usage(hlsl::kUsageConst)); }
  | RowMajor                     { ACT($$ = g->Usage(hlsl::kUsageRowMajor)); }
  | ColumnMajor                  { ACT($$ = g->Usage(hlsl::kUsageColumnMajor)); }
  ;

parameter_usages
  : parameter_usage
  | parameter_usages parameter_usage { ACT($$ = g->MergeUsage($1, $2, @2)); }
  ;

parameter_usage
  : usage_keyword
  | Uniform                      { ACT($$ = g->Usage(hlsl::kUsageUniform | hlsl::kUsageIn)); }
  | In                           { ACT($$ = g->Usage(hlsl::kUsageIn)); }
  | Out                          { ACT($$ = g->Usage(hlsl::kUsageOut)); }
  | Inout                        { ACT($$ = g->Usage(hlsl::kUsageInOut)); }
  ;

type_spec
  : Bool                         { ACT($$ = g->ScalarType(hlsl::kBaseBool)); }
  | Int                          { ACT($$ = g->ScalarType(hlsl::kBaseInt)); }
  | Half                         { ACT($$ = g->ScalarType(hlsl::kBaseHalf)); }
  | Float                        { ACT($$ = g->ScalarType(hlsl::kBaseFloat)); }
  | Double                       { ACT($$ = g->ScalarType(hlsl::kBaseDouble)); }
  | Vector                       { ACT($$ = g->VectorType(hlsl::kBaseFloat, 1, 4)); }
  | Matrix                       { ACT($$ = g->VectorType(hlsl::kBaseFloat, 4, 4)); }
  | Vector '<' type_spec ',' additive_expr '>'
                                 { ACT($$ = g->SizedVector($3, $5)); }
  | Matrix '<' type_spec ',' additive_expr ',' additive_expr '>'
                                 { ACT($$ = g->SizedMatrix($3, $5, $7)); }
  | String                       { ACT($$ = g->ObjectType(hlsl::kBaseString)); }
  | Texture                      { ACT($$ = g->ObjectType(hlsl::kBaseTexture)); }
  | Texture1D                    { ACT($$ = g->ObjectType(hlsl::kBaseTexture + 1)); }
  | Texture2D                    { ACT($$ = g->ObjectType(hlsl::kBaseTexture + 2)); }
  | Texture3D                    { ACT($$ = g->ObjectType(hlsl::kBaseTexture + 3)); }
  | TextureCube                  { ACT($$ = g->ObjectType(hlsl::kBaseTexture + 4)); }
  | Sampler                      { ACT($$ = g->ObjectType(hlsl::kBaseSampler)); }
  | Sampler1D                    { ACT($$ = g->ObjectType(hlsl::kBaseSampler + 1)); }
  | Sampler2D                    { ACT($$ = g->ObjectType(hlsl::kBaseSampler + 2)); }
  | Sampler3D                    { ACT($$ = g->ObjectType(hlsl::kBaseSampler + 3)); }
  | SamplerCube                  { ACT($$ = g->ObjectType(hlsl::kBaseSampler + 4)); }
  | PixelShader                  { ACT($$ = g->ObjectType(hlsl::kBasePixelShader)); }
  | VertexShader                 { ACT($$ = g->ObjectType(hlsl::kBaseVertexShader)); }
  | PixelFragment                { ACT($$ = g->ObjectType(hlsl::kBasePixelFragment)); }
  | VertexFragment               { ACT($$ = g->ObjectType(hlsl::kBaseVertexFragment)); }
  | StateBlock                   { ACT($$ = g->ObjectType(hlsl::kBaseStateBlock)); }
  | TypeName                     { ACT($$ = g->NamedType($1, false)); }
  | Struct TypeName              { ACT($$ = g->NamedType($2, true)); }
  ;

struct_definition
  : Struct '{' { ACT(g->OpenStruct()); } members '}'
                                 { ACT($$ = g->CloseStruct(nullptr, $4)); }
  | Struct struct_name '{' { ACT(g->OpenStruct()); } members '}'
                                 { ACT($$ = g->CloseStruct($2, $5)); }
  ;

struct_name
  : Identifier
  | TypeName
  ;

members
  : declaration
  | members declaration          { ACT($$ = g->Append($1, $2)); }
  ;

/* The usage and type of a declaration, pushed until its end. */
usage_type
  : declared_type                { ACT($$ = g->PushUsage(nullptr, $1, false)); }
  | usages declared_type         { ACT($$ = g->PushUsage($1, $2, false)); }
  ;

declared_type
  : type_spec
  | struct_definition
  ;

void_type
  : Void                         { ACT($$ = g->PushUsage(nullptr, nullptr, true)); }
  | usages Void                  { ACT($$ = g->PushUsage($1, nullptr, true)); }
  ;

parameter_type
  : type_spec                    { ACT($$ = g->PushUsage(nullptr, $1, false)); }
  | parameter_usages type_spec   { ACT($$ = g->PushUsage($1, $2, false)); }
  ;

/* --- Declarations ------------------------------------------------------------ */

declaration
  : usage_type declarators ';'   { ACT($$ = g->EndDeclaration($2)); }
  | usage_type ';'               { ACT($$ = g->EndDeclaration(nullptr)); }
  ;

declarators
  : declarator
  | declarators ',' declarator   { ACT($$ = g->Append($1, $3)); }
  ;

declarator
  : declarator_name dimensions_opt semantics_opt annotations_opt initializer_opt
                                 { ACT($$ = g->Declarator($1, $2, $3, $4, $5)); }
  ;

declarator_name
  : Identifier
  | TypeName
  ;

dimensions_opt
  : %empty                       { $$ = nullptr; }
  | dimensions_opt '[' ']'       { ACT($$ = g->Append($1, g->Cell(nullptr, "VariableDim"))); }
  | dimensions_opt '[' expr ']'  { ACT($$ = g->Append($1, g->Cell(g->Dimension($3), "VariableDim"))); }
  ;

semantics_opt
  : %empty                       { $$ = nullptr; }
  | semantic_items               { ACT($$ = g->Semantics($1)); }
  ;

semantic_items
  : ':' semantic                 { ACT($$ = g->Cell($2, "Semantics")); }
  | semantic_items ':' semantic  { ACT($$ = g->Append($1, g->Cell($3, "Semantics"))); }
  ;

semantic
  : Identifier
  | IntConst Identifier          { ACT($$ = g->JoinNumber($1, $2)); }
  | Register '(' Identifier ')'  { ACT($$ = g->Register(nullptr, $3)); }
  | Register '(' Identifier ',' Identifier ')'
                                 { ACT($$ = g->Register($3, $5)); }
  ;

annotations_opt
  : %empty                       { $$ = nullptr; }
  | annotations
  ;

annotations
  : '<' { ACT(g->OpenAnnotations()); } annotation_members '>'
                                 { ACT($$ = g->CloseAnnotations($3)); }
  ;

annotation_members
  : %empty                       { $$ = nullptr; }
  | annotation_members declaration { ACT($$ = g->Append($1, $2)); }
  ;

initializer_opt
  : %empty                       { $$ = nullptr; }
  | '=' assignment_expr          { $$ = $2; }
  | '=' braced_list              { $$ = $2; }
  ;

braced_list
  : '{' list_items '}'           { $$ = $2; }
  | '{' list_items ',' '}'       { $$ = $2; }
  ;

list_items
  : list_item                    { ACT($$ = g->Cell($1, "DwordExpr")); }
  | list_items ',' list_item     { ACT($$ = g->Append($1, g->Cell($3, "DwordExpr"))); }
  ;

list_item
  : assignment_expr
  | braced_list
  ;

typedef_declaration
  : Typedef usage_type typedef_declarators ';'
                                 { ACT($$ = g->EndDeclaration($3)); }
  ;

typedef_declarators
  : declarator_name dimensions_opt
                                 { ACT($$ = g->Typedef($1, $2)); }
  | typedef_declarators ',' declarator_name dimensions_opt
                                 { ACT($$ = g->Append($1, g->Typedef($3, $4))); }
  ;

/* --- Functions ---------------------------------------------------------------- */

function_head
  : usage_type Identifier '(' { ACT(g->OpenParameters($2)); } parameters ')' semantics_opt
                                 { ACT($$ = g->DeclareFunction($1, $2, $5, $7)); }
  | void_type Identifier '(' { ACT(g->OpenParameters($2)); } parameters ')' semantics_opt
                                 { ACT($$ = g->DeclareFunction($1, $2, $5, $7)); }
  ;

parameters
  : %empty                       { $$ = nullptr; }
  | Void                         { $$ = nullptr; }
  | parameter_list
  ;

parameter_list
  : parameter
  | parameter_list ',' parameter { ACT($$ = g->Append($1, $3)); }
  ;

parameter
  : parameter_type declarator_name dimensions_opt semantics_opt annotations_opt initializer_opt
                                 { ACT($$ = g->Parameter($2, $3, $4, $5, $6)); }
  ;

/* --- Statements ---------------------------------------------------------------- */

block
  : '{' block_open statements_opt '}'
                                 { ACT($$ = g->CloseBlock($3)); }
  ;

block_open
  : %empty                       { ACT(g->OpenScope(hlsl::kScopeBlock)); }
  ;

statements_opt
  : %empty                       { $$ = nullptr; }
  | statements_opt statement     { ACT($$ = g->Append($1, $2)); }
  ;

statement
  : matched
  | unmatched
  ;

matched
  : If '(' expr ')' matched Else matched
                                 { ACT($$ = g->If($3, $5, $7)); }
  | While '(' expr ')' matched   { ACT($$ = g->While($3, $5)); }
  | for_header matched           { ACT($$ = g->For($1, $2)); }
  | simple_statement
  ;

unmatched
  : If '(' expr ')' statement    { ACT($$ = g->If($3, $5, nullptr)); }
  | If '(' expr ')' matched Else unmatched
                                 { ACT($$ = g->If($3, $5, $7)); }
  | While '(' expr ')' unmatched { ACT($$ = g->While($3, $5)); }
  | for_header unmatched         { ACT($$ = g->For($1, $2)); }
  ;

for_header
  : For '(' { ACT(g->OpenScope(hlsl::kScopeFor)); } for_init expr_opt ';' expr_opt ')'
                                 { ACT($$ = g->ForHeader($4, $5, $7)); }
  ;

for_init
  : ';'                          { $$ = nullptr; }
  | expr ';'                     { ACT($$ = g->ExpressionStatement($1)); }
  | declaration
  ;

expr_opt
  : %empty                       { $$ = nullptr; }
  | expr
  ;

simple_statement
  : ';'                          { $$ = nullptr; }
  | expr ';'                     { ACT($$ = g->ExpressionStatement($1)); }
  | Return ';'                   { ACT($$ = g->Return(nullptr, false)); }
  | Return expr ';'              { ACT($$ = g->Return($2, true)); }
  | Discard ';'                  { ACT($$ = g->Discard()); }
  | Do statement While '(' expr ')' ';'
                                 { ACT($$ = g->Do($2, $5)); }
  | block
  | declaration
  | typedef_declaration          { $$ = nullptr; }
  ;

/* --- Expressions, from the tightest level to the loosest ------------------------- */

primary_expr
  : Identifier                   { ACT($$ = g->Identifier($1)); }
  | IntConst Identifier          { ACT($$ = g->Identifier(g->JoinNumber($1, $2))); }
  | number                       { ACT($$ = g->Number($1)); }
  | True                         { ACT($$ = g->Bool(true)); }
  | False                        { ACT($$ = g->Bool(false)); }
  | strings                      { ACT($$ = g->String($1)); }
  | '(' expr ')'                 { $$ = $2; }
  | type_spec '(' arguments_opt ')'
                                 { ACT($$ = g->Constructor($1, $3)); }
  | Identifier '(' arguments_opt ')'
                                 { ACT($$ = g->Call($1, $3)); }
  | Compile Identifier Identifier '(' arguments_opt ')'
                                 { ACT($$ = g->Compile($2, $3, $5, false)); }
  | CompileFragment Identifier Identifier '(' arguments_opt ')'
                                 { ACT($$ = g->Compile($2, $3, $5, true)); }
  | SamplerState state_block     { ACT($$ = g->StateObject(hlsl::kBaseSampler, $2)); }
  | StateBlockState state_block  { ACT($$ = g->StateObject(hlsl::kBaseStateBlock, $2)); }
  | asm_block                    { ACT($$ = g->AsmValue($1)); }
  ;

number
  : IntConst | LongConst | UlongConst | FloatConst | HalfConst | FloatFConst | DoubleConst
  ;

strings
  : StringConst
  | strings StringConst          { ACT($$ = g->JoinStrings($1, $2)); }
  ;

asm_block
  : Asm '{'                      { ACT($$ = g->AsmBlock($1, false)); }
  | AsmFragment '{'              { ACT($$ = g->AsmBlock($1, true)); }
  ;

arguments_opt
  : %empty                       { $$ = nullptr; }
  | arguments
  ;

arguments
  : assignment_expr              { ACT($$ = g->Argument(nullptr, $1)); }
  | arguments ',' assignment_expr { ACT($$ = g->Argument($1, $3)); }
  ;

postfix_expr
  : primary_expr
  | postfix_expr '[' expr ']'    { ACT($$ = g->Index($1, $3)); }
  | postfix_expr '.' Identifier  { ACT($$ = g->Select($1, $3)); }
  | postfix_expr '.' TypeName    { ACT($$ = g->Select($1, $3)); }
  | postfix_expr Inc             { ACT($$ = g->Operator(hlsl::kExprPostIncrement, $1, nullptr)); }
  | postfix_expr Dec             { ACT($$ = g->Operator(hlsl::kExprPostDecrement, $1, nullptr)); }
  ;

unary_expr
  : postfix_expr
  | Inc unary_expr               { ACT($$ = g->Operator(hlsl::kExprPreIncrement, $2, nullptr)); }
  | Dec unary_expr               { ACT($$ = g->Operator(hlsl::kExprPreDecrement, $2, nullptr)); }
  | '!' cast_expr                { ACT($$ = g->Operator(hlsl::kExprNot, $2, nullptr)); }
  | '-' cast_expr                { ACT($$ = g->Operator(hlsl::kExprNegate, $2, nullptr)); }
  | '+' cast_expr                { ACT($$ = g->Operator(hlsl::kExprPlus, $2, nullptr)); }
  ;

cast_expr
  : unary_expr
  | '(' type_spec ')' cast_expr  { ACT($$ = g->Cast($2, $4)); }
  ;

multiplicative_expr
  : cast_expr
  | multiplicative_expr '*' cast_expr { ACT($$ = g->Operator(hlsl::kExprMultiply, $1, $3)); }
  | multiplicative_expr '/' cast_expr { ACT($$ = g->Operator(hlsl::kExprDivide, $1, $3)); }
  | multiplicative_expr '%' cast_expr { ACT($$ = g->Operator(hlsl::kExprModulo, $1, $3)); }
  ;

additive_expr
  : multiplicative_expr
  | additive_expr '+' multiplicative_expr { ACT($$ = g->Operator(hlsl::kExprAdd, $1, $3)); }
  | additive_expr '-' multiplicative_expr { ACT($$ = g->Operator(hlsl::kExprSubtract, $1, $3)); }
  ;

relational_expr
  : additive_expr
  | relational_expr '<' additive_expr { ACT($$ = g->Operator(hlsl::kExprLess, $1, $3)); }
  | relational_expr '>' additive_expr { ACT($$ = g->Operator(hlsl::kExprGreater, $1, $3)); }
  | relational_expr Le additive_expr  { ACT($$ = g->Operator(hlsl::kExprLessEqual, $1, $3)); }
  | relational_expr Ge additive_expr  { ACT($$ = g->Operator(hlsl::kExprGreaterEqual, $1, $3)); }
  ;

equality_expr
  : relational_expr
  | equality_expr Eq relational_expr { ACT($$ = g->Operator(hlsl::kExprEqual, $1, $3)); }
  | equality_expr Ne relational_expr { ACT($$ = g->Operator(hlsl::kExprNotEqual, $1, $3)); }
  ;

and_expr
  : equality_expr
  | and_expr AndAnd equality_expr { ACT($$ = g->Operator(hlsl::kExprAnd, $1, $3)); }
  ;

or_expr
  : and_expr
  | or_expr OrOr and_expr        { ACT($$ = g->Operator(hlsl::kExprOr, $1, $3)); }
  ;

conditional_expr
  : or_expr
  | or_expr '?' expr ':' conditional_expr { ACT($$ = g->Conditional($1, $3, $5)); }
  ;

assignment_expr
  : conditional_expr
  | unary_expr '=' assignment_expr       { ACT($$ = g->Operator(hlsl::kExprAssign, $1, $3)); }
  | unary_expr MulAssign assignment_expr { ACT($$ = g->Operator(hlsl::kExprMultiplyAssign, $1, $3)); }
  | unary_expr DivAssign assignment_expr { ACT($$ = g->Operator(hlsl::kExprMultiplyAssign + 1, $1, $3)); }
  | unary_expr ModAssign assignment_expr { ACT($$ = g->Operator(hlsl::kExprMultiplyAssign + 2, $1, $3)); }
  | unary_expr AddAssign assignment_expr { ACT($$ = g->Operator(hlsl::kExprMultiplyAssign + 3, $1, $3)); }
  | unary_expr SubAssign assignment_expr { ACT($$ = g->Operator(hlsl::kExprSubtractAssign, $1, $3)); }
  ;

expr
  : assignment_expr
  | expr ',' assignment_expr     { ACT($$ = g->Sequence($1, $3)); }
  ;

/* --- Techniques, passes and states ------------------------------------------------ */

technique
  : Technique name_opt annotations_opt '{' { ACT(g->OpenTechnique()); } passes_opt '}'
                                 { ACT($$ = g->Technique($2, $3, $6)); }
  ;

name_opt
  : %empty                       { $$ = nullptr; }
  | Identifier
  | TypeName
  ;

passes_opt
  : %empty                       { $$ = nullptr; }
  | passes_opt pass              { ACT($$ = g->Append($1, $2)); }
  ;

pass
  : Pass name_opt annotations_opt state_block
                                 { ACT($$ = g->Pass($2, $3, $4)); }
  ;

state_block
  : '{' { ACT(g->OpenStates()); } states_opt '}'
                                 { ACT($$ = g->CloseStates($3)); }
  ;

states_opt
  : %empty                       { $$ = nullptr; }
  | states_opt state             { ACT($$ = g->Append($1, $2)); }
  ;

state
  : state_name '=' state_value ';'
                                 { ACT($$ = g->State($1, nullptr, $3)); }
  | state_name '[' expr ']' '=' state_value ';'
                                 { ACT($$ = g->State($1, $3, $6)); }
  ;

state_name
  : Identifier
  | TypeName
  ;

state_value
  : expr
  | '<' postfix_expr '>'         { ACT($$ = g->Operand($2)); }
  | braced_list
  | decl_block                   { $$ = nullptr; }
  | decl_block asm_block         { ACT($$ = g->AsmValue($2)); }
  ;

decl_block
  : Decl '{'                     { ACT($$ = g->DeclBlock()); }
  ;

%%

namespace gxl::shader {

int HlslGrammar::Run() { return gxl_hlsl_parse(this) == 0 ? 0 : 1; }

}  // namespace gxl::shader

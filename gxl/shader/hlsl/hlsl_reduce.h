// The glue between the HLSL grammar (hlsl_grammar.y, made into an LALR parser
// by bison) and HlslParser: the token function, the error function and the
// actions of the rules. Values of the grammar are syntax-tree nodes; terminals
// arrive as TokenNodes and every location is the first token of its rule.
//
// Every action takes null for a part that failed (an error was reported) and
// passes null on; a null result without a reported error is an internal
// failure (HlslParser::CheckProduction), which stops the parse.
//
// Shapes this adds to the tree:
// - Statement lists are flat "Stmts" lists: a block is the list of its
//   statements, a declaration its declaration followed by its initialisation.
// - A technique is a DeclarationNode (class 3: name, annotations, "Passes"); a
//   pass one of class 4 (name, annotations, "States" of ParseNodeKind16).
// - An object literal is a literal (code 0) of its object type over one value:
//   sub-kind 4 holding the "States" of a sampler_state or stateblock_state
//   block or the code-27 node of a compile expression; sub-kind 5 holding the
//   code bytes and size of an asm block.
// - A state value that names nothing declared (LINEAR, TRUE) stays a TokenNode.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

class HlslGrammar {
 public:
  explicit HlslGrammar(HlslParser& parser) : m_parser(parser) {}
  HlslGrammar(const HlslGrammar&) = delete;
  HlslGrammar& operator=(const HlslGrammar&) = delete;

  // 0 when the source was accepted (errors may have been reported), else 1.
  int Run();
  ProgramNode* Result() const { return m_program; }

  // --- The parser's callbacks ---
  int Lex(ParseNode** value, const SourceToken** location);
  void Error(const char* text);
  // True when the parse is to stop; otherwise the rule's first token becomes
  // the parser's current token.
  bool Begin(const SourceToken* location);
  // Recovery after a syntax error at global level: back in the global scope.
  ParseNode* Recover();

  // --- Lists and the program ---
  ParseNode* Append(ParseNode* list, ParseNode* more);
  ParseNode* Cell(ParseNode* value, const char* tag);
  void Program(ParseNode* statements);

  // --- Usages and types ---
  ParseNode* Usage(std::uint32_t bits);
  ParseNode* TargetUsage(ParseNode* name);
  // Joins the usage bits; a bit given twice is X3048, two targets a syntax error.
  ParseNode* MergeUsage(ParseNode* accumulated, ParseNode* added, const SourceToken* at);
  ParseNode* ScalarType(std::uint32_t base);
  ParseNode* VectorType(std::uint32_t base, std::uint32_t rows, std::uint32_t columns);
  ParseNode* ObjectType(std::uint32_t base);
  ParseNode* NamedType(ParseNode* name, bool structOnly);
  ParseNode* SizedVector(ParseNode* element, ParseNode* size);
  ParseNode* SizedMatrix(ParseNode* element, ParseNode* rows, ParseNode* columns);
  void OpenStruct();
  ParseNode* CloseStruct(ParseNode* name, ParseNode* members);
  // Pushes the usage and type of a declaration; null when the type failed (a
  // place is pushed all the same, so that every pop matches).
  ParseNode* PushUsage(ParseNode* usage, ParseNode* type, bool isVoid);

  // --- Declarations ---
  ParseNode* Declarator(ParseNode* name, ParseNode* dimensions, ParseNode* semantics, ParseNode* annotations,
                        ParseNode* value);
  ParseNode* EndDeclaration(ParseNode* declarations);
  // A dimension that failed counts as 1, so that the declaration still stands.
  ParseNode* Dimension(ParseNode* size);
  ParseNode* Typedef(ParseNode* name, ParseNode* dimensions);
  ParseNode* Semantics(ParseNode* items);
  ParseNode* Register(ParseNode* profile, ParseNode* name);
  void OpenAnnotations();
  ParseNode* CloseAnnotations(ParseNode* declarations);
  void OpenParameters(ParseNode* functionName);
  ParseNode* Parameter(ParseNode* name, ParseNode* dimensions, ParseNode* semantics, ParseNode* annotations,
                       ParseNode* value);
  ParseNode* DeclareFunction(ParseNode* usageType, ParseNode* name, ParseNode* parameters, ParseNode* semantics);
  ParseNode* EndFunction(ParseNode* function, bool defined, ParseNode* body);

  // --- Statements ---
  void OpenScope(std::uint32_t kind);
  ParseNode* CloseBlock(ParseNode* statements);
  ParseNode* ExpressionStatement(ParseNode* expression);
  ParseNode* Return(ParseNode* value, bool hasValue);
  ParseNode* Discard();
  ParseNode* If(ParseNode* condition, ParseNode* then, ParseNode* otherwise);
  ParseNode* While(ParseNode* condition, ParseNode* body);
  ParseNode* Do(ParseNode* body, ParseNode* condition);
  // The header of a for loop, held until its body is known.
  ParseNode* ForHeader(ParseNode* init, ParseNode* condition, ParseNode* step);
  ParseNode* For(ParseNode* header, ParseNode* body);

  // --- Expressions ---
  ParseNode* Identifier(ParseNode* name);
  ParseNode* JoinNumber(ParseNode* number, ParseNode* name);
  ParseNode* Number(ParseNode* token);
  ParseNode* Bool(bool value);
  ParseNode* JoinStrings(ParseNode* first, ParseNode* second);
  ParseNode* String(ParseNode* token);
  ParseNode* Operator(std::uint32_t code, ParseNode* a, ParseNode* b);
  // The comma operator: the right expression first, the left kept for its effect.
  ParseNode* Sequence(ParseNode* left, ParseNode* right);
  ParseNode* Index(ParseNode* base, ParseNode* index);
  ParseNode* Select(ParseNode* base, ParseNode* name);
  ParseNode* Conditional(ParseNode* condition, ParseNode* whenTrue, ParseNode* whenFalse);
  ParseNode* Constructor(ParseNode* type, ParseNode* arguments);
  ParseNode* Cast(ParseNode* type, ParseNode* value);
  ParseNode* Call(ParseNode* name, ParseNode* arguments);
  ParseNode* Compile(ParseNode* profile, ParseNode* name, ParseNode* arguments, bool fragment);
  ParseNode* Argument(ParseNode* list, ParseNode* value);
  // An operand: an undeclared state value (a TokenNode) used as a value is X3004.
  ParseNode* Operand(ParseNode* node);

  // --- Techniques, passes, states and object literals ---
  void OpenTechnique();
  ParseNode* Technique(ParseNode* name, ParseNode* annotations, ParseNode* passes);
  ParseNode* Pass(ParseNode* name, ParseNode* annotations, ParseNode* states);
  void OpenStates();
  ParseNode* CloseStates(ParseNode* states);
  ParseNode* State(ParseNode* name, ParseNode* index, ParseNode* value);
  ParseNode* StateObject(std::uint32_t base, ParseNode* states);
  // Assembles the block that follows in the token stream, up to and with its
  // closing brace; null for a block of three tokens or fewer or after errors.
  ParseNode* AsmBlock(ParseNode* keyword, bool fragment);
  ParseNode* AsmValue(ParseNode* block);
  // Reads and drops a "decl" block up to and with its closing brace.
  ParseNode* DeclBlock();

 private:
  static TokenNode* AsToken(ParseNode* node) {
    return node && node->kind == NodeKind::Token ? static_cast<TokenNode*>(node) : nullptr;
  }
  // A syntax error at a token: described, unless an error came first.
  void SyntaxError(const SourceToken& at);
  ParseNode* Made(ParseNode* node) { return m_parser.CheckProduction(node); }
  // A literal of an object type over one value.
  ParseNode* ObjectLiteral(std::uint32_t base, ExpressionNode* value);
  bool InsideFunction() const;
  void UpdateObjectKeywords();

  HlslParser& m_parser;
  SourceToken m_lookahead{};  // the token read last
  ProgramNode* m_program = nullptr;
  // The last cell of every list being built, so that appending stays linear.
  std::unordered_map<const ParseNode*, ParseNode*> m_tails;
};

}  // namespace gxl::shader

// The HLSL parser's core: the state one parse keeps, its message reporters,
// and the checks the grammar actions run as they build the syntax tree: types
// and conversions, scopes and declarations, expressions and calls, and the
// constant folding that leaves every literal expression as a literal.
//
// Shapes of the tree this builds (ParseNodeKind13 is "an expression"):
// - A literal is code 0 whose first operand is a "Value" list of ExpressionNodes,
//   one per component, whose sub-kind is the component's kind (0 bool, 1 int,
//   2 unsigned, 3 float, 4 sampler, 5 other object); ints in the low word,
//   floats as doubles.
// - A variable reference is code 0 whose first operand is an ExpressionNode of
//   sub-kind 6: word = symbol slot, node = the variable's description, third =
//   its component count. For an output parameter of an intrinsic the
//   description is made for the call, with its position in `extra`.
// - A conversion is code 0 over an expression; code 0 over a list (a
//   constructor, an initialiser list) gathers its elements' components.
// - A call is code 25 (first operand: the candidates, a "Values" list of
//   sub-kind 2 values addressing the declarations) or 26 (first operand: a
//   sub-kind 2 value addressing the IntrinsicTable row); the second operand is
//   a "Parameters" list of two cells, the "Inputs" and the "Outputs".
// - Indexing (22) holds the literal component offset when the index is
//   literal; selection (23) a sub-kind 2 member offset or a "Swizzle" list of
//   component indices; the conditional (24) the condition and one code-0 value
//   over the "Value" list (then, else) typed by a "Types" list.
// - The order flag of an expression is 1 when its first operand is evaluated
//   first, 0 for the comma operator, whose left expression is its second
//   operand.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "gxl/shader/hlsl/hlsl_fold.h"
#include "gxl/shader/hlsl/hlsl_intrinsics.h"
#include "gxl/shader/hlsl/hlsl_types.h"
#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/syntax_tree.h"

// Reports a catalogue entry (messages.h) through a parser; the arguments are
// checked against the entry's format (named msg::kName, see GXL_SHADER_REPORT).
#define GXL_HLSL_REPORT(parser, position, entry, ...) \
  (parser).Report((position), (entry).severity, (entry).code, entry##Format __VA_OPT__(, ) __VA_ARGS__)
// A fatal internal error: the parse builds nothing more.
#define GXL_HLSL_INTERNAL_ERROR(parser, position, entry) \
  (parser).ReportInternalError((position), (entry).code, entry##Format)

namespace gxl::shader {

class ShaderPreprocessor;
class HlslGrammar;

// Owner kinds of scopes; kinds 0-5 are also the contexts of variable declarations.
enum HlslScopeKind : std::uint32_t {
  kScopeGlobal = 0,
  kScopeStruct = 1,
  kScopeParameters = 2,
  kScopeBlock = 3,
  kScopeFor = 4,
  kScopeAnnotation = 5,
  kScopeTechnique = 6,
  kScopeStates = 7,
};

// Usage bits of a ParseNodeKind7.
enum HlslUsage : std::uint32_t {
  kUsageExtern = 0x1,
  kUsageStatic = 0x2,
  kUsageVolatile = 0x4,
  kUsageShared = 0x8,
  kUsageIn = 0x10,
  kUsageOut = 0x20,
  kUsageInOut = 0x30,
  kUsageUniform = 0x40,
  kUsageInline = 0x100,
  kUsageConst = 0x200,
  kUsageRowMajor = 0x400,
  kUsageColumnMajor = 0x800,
};

// Expression operation codes; 28-34 are rewritten when built.
enum HlslOp : std::uint32_t {
  kExprValue = 0,
  kExprSequence = 1,
  kExprPreIncrement = 2,
  kExprPreDecrement = 3,
  kExprNot = 4,
  kExprNegate = 5,
  kExprPlus = 6,
  kExprMultiply = 7,
  kExprDivide = 8,
  kExprModulo = 9,
  kExprAdd = 10,
  kExprSubtract = 11,
  kExprLess = 12,
  kExprGreater = 13,
  kExprLessEqual = 14,
  kExprGreaterEqual = 15,
  kExprEqual = 16,
  kExprNotEqual = 17,
  kExprAnd = 18,
  kExprOr = 19,
  kExprInitialise = 20,
  kExprAssign = 21,
  kExprIndex = 22,
  kExprSelect = 23,
  kExprConditional = 24,
  kExprCall = 25,
  kExprIntrinsic = 26,
  kExprCompile = 27,
  kExprMultiplyAssign = 28,  // 28-32: *=, /=, %=, +=, -=
  kExprSubtractAssign = 32,
  kExprPostIncrement = 33,
  kExprPostDecrement = 34,
};

// Statement codes beyond those of syntax_tree.h.
enum HlslStatement : std::uint32_t {
  kStatementReturn = 1,
  kStatementIf = 2,
  kStatementDiscard = 6,
};

// ExpressionNode sub-kinds that are no literal component.
enum HlslValueKind : std::uint32_t {
  kValueFunction = 2,  // in a call's first operand or a candidate list only
  kValueNode = 4,
  kValueCode = 5,
  kValueVariable = 6,
};

// Option bits of HlslParser::LookupName.
enum HlslLookup : std::uint32_t {
  kLookupReport = 1,        // report an undeclared name
  kLookupItself = 2,        // hand out the declaration itself, not a copy
  kLookupCost = 4,          // rank overloads by their argument cost
  kLookupExact = 8,         // the arguments are parameter declarations that must match exactly
  kLookupUniformOnly = 16,  // only "uniform" parameters take arguments
};

// The expression itself, or null for any other node.
inline ParseNodeKind13* AsExpression(const ParseNode* node) {
  return node && node->kind == NodeKind::Kind13 ? static_cast<ParseNodeKind13*>(const_cast<ParseNode*>(node)) : nullptr;
}

// The text of an identifier's TokenNode, or `otherwise`.
inline const char* IdentifierText(const ParseNode* name, const char* otherwise = nullptr) {
  if (!name || name->kind != NodeKind::Token) return otherwise;
  const SourceToken& t = static_cast<const TokenNode*>(name)->token;
  return t.kind == kTokenIdentifier ? t.value.text : otherwise;
}

// The description of a variable or function declaration, or null.
inline ParseNodeKind11* VariableDescription(const ParseNode* declaration) {
  if (!declaration || declaration->kind != NodeKind::Declaration) return nullptr;
  ParseNode* d = static_cast<const DeclarationNode*>(declaration)->description;
  return d && d->kind == NodeKind::Kind11 ? static_cast<ParseNodeKind11*>(d) : nullptr;
}
inline ParseNodeKind10* FunctionDescription(const ParseNode* declaration) {
  if (!declaration || declaration->kind != NodeKind::Declaration) return nullptr;
  ParseNode* d = static_cast<const DeclarationNode*>(declaration)->description;
  return d && d->kind == NodeKind::Kind10 ? static_cast<ParseNodeKind10*>(d) : nullptr;
}

// No overload matches.
constexpr std::uint32_t kNoMatch = 0xFFFFFFFFu;
// A slot of no symbol.
constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

class HlslParser {
 public:
  static constexpr std::size_t kTypeTextSize = 256;
  static constexpr std::uint32_t kMaxExpressionDepth = 1024;
  static constexpr std::uint32_t kMaxCandidates = 64;

  HlslParser() = default;
  HlslParser(const HlslParser&) = delete;
  HlslParser& operator=(const HlslParser&) = delete;

  // The start of a parse: stores the options and the preprocessor whose log
  // takes the messages, and clears every stack, flag and counter.
  void Reset(std::uint32_t options, ShaderPreprocessor* preprocessor);

  // --- The parse (hlsl_parse.cpp, hlsl_lexer.cpp) ---
  // Parses the rest of the preprocessor's source into a checked and folded
  // tree: S_OK with the root, E_FAIL after any reported error (no tree),
  // D3DERR_INVALIDCALL without an out pointer or a preprocessor, or the
  // preprocessor's failure to begin or end its token stream.
  HRESULT Parse(std::uint32_t options, ShaderPreprocessor* preprocessor, ProgramNode** tree);
  // The next terminal of the grammar for the next preprocessed token, which
  // stays the current token: a single-character punctuator's code, 257-337,
  // or -1 at the end of input or after a preprocessor failure.
  int NextToken();
  // While clear (inside state blocks) "pixelshader", "sampler", "stateblock",
  // "texture" and "vertexshader" are names, not keywords.
  bool ObjectKeywords() const { return m_objectKeywords; }
  void SetObjectKeywords(bool on) { m_objectKeywords = on; }

  // Reporters: the text is cut at 255 characters. An error sets the error
  // flag; an internal error also the fatal flag.
  void ReportError(const SourceToken* at, std::uint32_t code, const char* format, ...) GXL_SHADER_PRINTF(4, 5);
  void ReportWarning(const SourceToken* at, std::uint32_t code, const char* format, ...) GXL_SHADER_PRINTF(4, 5);
  void ReportInternalError(const SourceToken* at, std::uint32_t code, const char* format, ...) GXL_SHADER_PRINTF(4, 5);
  void Report(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* format, ...)
      GXL_SHADER_PRINTF(5, 6);
  // The node; a null node reports "production failed!" unless an error came first.
  ParseNode* CheckProduction(ParseNode* node);

  bool HasError() const { return m_error; }
  bool IsFatal() const { return m_fatal; }
  ScopeNode* CurrentScope() const { return m_scope; }
  DeclarationNode* CurrentFunction() const { return m_currentFunction; }
  std::uint32_t SymbolSlotCount() const { return m_symbolSlots; }
  std::uint32_t FunctionCount() const { return m_functionCount; }
  void SetCurrentToken(const SourceToken& token) { m_token = token; }

  // --- Types and conversions (hlsl_types.cpp, hlsl_conversions.cpp) ---
  // The type as messages show it, in a buffer of kTypeTextSize characters.
  const char* TypeToText(const ParseNode* type, char* buffer);
  void SetConst(ParseNode* type, bool on);
  bool IsConst(const ParseNode* type);
  bool IsScalarType(const ParseNode* type);
  bool IsNumericType(const ParseNode* type);  // void counts as numeric
  // Saturates at 0xFFFFFFFF.
  std::uint32_t ComponentCount(const ParseNode* type);
  bool TypesEqual(const ParseNode* a, const ParseNode* b);
  // The index-th component as a scalar type, or null.
  TypeNode* ComponentType(const ParseNode* type, std::uint32_t index);
  bool CanConvert(const ParseNode* target, const ParseNode* source, bool flatten);
  void ReportConversionError(const SourceToken* at, const char* name, const ParseNode* target, const ParseNode* source,
                             bool explicitCast);
  // The shared base code, or -1.
  int CommonBaseType(const ParseNode* a, const ParseNode* b);
  bool CombineOperandTypes(const ParseNode* a, const ParseNode* b, bool makeConst, ParseNode** result);

  // Type constructors of the grammar; null after a reported error.
  ParseNode* MakeVectorType(const ParseNode* element, const ParseNode* size);
  ParseNode* MakeMatrixType(const ParseNode* element, const ParseNode* rows, const ParseNode* columns);
  // `name` names the declaration in messages; it may be null.
  ParseNode* MakeArrayType(ParseNode* element, const ParseNode* dimension, const TokenNode* name);
  // A copy of the type with the usage's matrix order and const applied; a
  // matrix without an order takes the preprocessor's "pack_matrix" state, else
  // the option word's bit 3 (row-major) or 4 (column-major).
  ParseNode* ApplyUsage(const ParseNodeKind7* usage, const ParseNode* type, const SourceToken* at);
  // The usage stack: each entry a usage node whose second part is the checked type.
  ParseNodeKind7* PushUsageType(const ParseNodeKind7* usage, const ParseNode* type, const SourceToken* at);
  void PopUsageType();
  ParseNodeKind7* CurrentUsageType() const;

  // --- Scopes and names (hlsl_scopes.cpp) ---
  HRESULT PushScope(std::uint32_t kind, const char* ownerName);
  HRESULT PopScope();
  ParseNode* FindNames(const char* name, const ScopeNode* scope) const;
  HRESULT AddName(ScopeNode* scope, DeclarationNode* declaration);
  // `entered` receives the declaration as the scope holds it.
  HRESULT DeclareSymbol(DeclarationNode* declaration, bool replace, DeclarationNode** entered);
  // 0 found, 1 not found, E_FAIL or E_OUTOFMEMORY. `target` names the profile
  // of a compile expression.
  HRESULT LookupName(std::uint32_t declClass, const TokenNode* name, ParseNode* arguments, std::uint32_t argumentCount,
                     const ScopeNode* scope, std::uint32_t options, ParseNode** declaration, ParseNode** candidates,
                     const TokenNode* target = nullptr);

  // --- Declarations (hlsl_declarations.cpp) ---
  // The declarator is a variable DeclarationNode: its name, its description a
  // "VariableDim" list (outermost first, null for an empty dimension) and its
  // contents the annotations. The context is the current scope's kind. Returns
  // the "Stmts" list of the entered declaration and its initialisation, or null.
  ParseNode* CheckDeclarationModifiers(const DeclarationNode* declarator, const ParseNodeKind7* usageType,
                                       ParseNode* semantics, ParseNode* initialValue);
  // Declares a function in the scope around the current parameter scope (a
  // parameter scope is opened when none is current) and makes it current.
  ParseNode* DeclareFunction(const ParseNodeKind7* usageType, const TokenNode* name, ParseNode* parameters,
                             ParseNode* semantics);
  // Closes the current function: a definition gets its body (X3069 when it has
  // one already); then its parameter scope is popped.
  HRESULT EndFunction(bool defined, ParseNode* body);
  // Equal parameter types and directions; and equal return types.
  bool SameParameters(const DeclarationNode* a, const DeclarationNode* b);
  bool SameFunction(const DeclarationNode* a, const DeclarationNode* b);

  // --- Expressions (hlsl_expressions.cpp, hlsl_selection.cpp) ---
  // A literal from a number token (kinds 2-8).
  ParseNode* MakeLiteral(const SourceToken& token);
  ParseNode* MakeBoolLiteral(bool value, const SourceToken& token);
  // The initialising flag lets code 20 write a const variable.
  ParseNode* MakeOperator(std::uint32_t code, ParseNode* a, ParseNode* b, bool initialising = false);
  ParseNode* MakeIndex(ParseNode* base, ParseNode* index);
  ParseNode* MakeSelection(ParseNode* base, const TokenNode* name);
  ParseNode* MakeConditional(ParseNode* condition, ParseNode* whenTrue, ParseNode* whenFalse);
  // Cast: one value; constructor: an "Arguments" list.
  ParseNode* MakeConstructor(const ParseNode* type, ParseNode* arguments, bool cast, bool flatten);
  ParseNode* MakeIdentifier(const TokenNode* name);
  // One value for a braced list (elements are expressions or nested lists).
  ParseNode* MakeInitializerList(ParseNode* elements, const SourceToken& at);

  // --- Calls (hlsl_calls.cpp, hlsl_intrinsic_match.cpp) ---
  ParseNode* ResolveCall(const TokenNode* name, ParseNode* arguments, bool uniformOnly,
                         const TokenNode* target = nullptr);
  ParseNode* MakeCompileExpression(const TokenNode* profile, const TokenNode* name, ParseNode* arguments,
                                   bool fragment);
  std::uint32_t ArgumentCost(const DeclarationNode* function, const TokenNode* target, ParseNode* arguments,
                             std::uint32_t options);
  std::uint32_t ConversionCost(const ParseNode* to, const ParseNode* from);
  static bool BaseTypesDiffer(std::uint32_t a, std::uint32_t b);

  // --- Statements (hlsl_statements.cpp); each a one-cell "Stmts" list ---
  ParseNode* MakeExpressionStatement(ParseNode* expression);
  ParseNode* MakeReturn(ParseNode* value, const SourceToken& at);
  ParseNode* MakeIf(ParseNode* condition, ParseNode* then, ParseNode* otherwise);
  // kStatementFor, kStatementWhile (no init, no step) or kStatementDo.
  ParseNode* MakeLoop(std::uint32_t code, ParseNode* init, ParseNode* condition, ParseNode* step, ParseNode* body);
  ParseNode* MakeDiscard();

  // --- Folding (hlsl_fold.cpp, hlsl_fold_intrinsics.cpp) ---
  // A code-0 node over a "Value" list of literal components.
  bool IsLiteral(const ParseNode* expression) const;
  // Whether the operation folds, given that a foldable operand is already a literal.
  bool IsFoldable(const ParseNode* expression) const;
  HRESULT FoldExpression(const ParseNode* expression, FoldedValue* out);
  HRESULT FoldIntrinsicCall(const ParseNodeKind13* call, FoldedValue* out);
  ParseNode* FoldToLiteral(const ParseNode* expression);
  HRESULT EvaluateLiteralInt(const ParseNode* expression, std::int32_t* value);
  ParseNode* MakeLiteralNode(const ParseNode* type, const FoldedValue& value, const SourceToken& token);

 private:
  friend class HlslGrammar;  // the grammar's actions (hlsl_reduce.h)

  struct NameKey {
    const ScopeNode* scope;
    const char* name;
  };
  struct NameHash {
    std::size_t operator()(const NameKey& k) const;
  };
  struct NameEqual {
    bool operator()(const NameKey& a, const NameKey& b) const;
  };
  // A parameter as a call binds it.
  struct Parameter {
    std::uint32_t usage;  // kUsageIn, kUsageOut, kUsageUniform bits
    const ParseNode* type;
    ParseNode* defaultValue;
    ParseNodeKind11* variable;  // null for an intrinsic's parameter
  };
  struct IntrinsicMatch {
    const IntrinsicRecord* row;
    ParseNode* result;  // null for none
    Parameter parameters[4];
    std::uint32_t count;
  };

  void VReport(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* format, va_list args)
      GXL_SHADER_PRINTF(5, 0);
  std::nullptr_t OutOfMemory();
  // Reports an unknown node in a type; false.
  bool UnknownNode();
  // A keyword's terminal, else a type name's or an identifier's.
  int IdentifierTerminal(const char* text);

  // Types.
  std::uint64_t ComponentCount64(const ParseNode* type);
  bool ShapeRulesAllow(const ParseNode* target, const ParseNode* source, bool flatten);
  bool AggregateAllows(const ParseNode* target, const ParseNode* source, bool flatten);
  ParseNode* CopyType(const ParseNode* type);
  ParseNode* ConstCopy(const ParseNode* type);
  bool LiteralDimension(const ParseNode* expression, std::int32_t* value);

  // Declarations.
  bool CheckElementCount(const ParseNode* type, const TokenNode* name);
  ParseNode* ImplicitZero(const ParseNode* type, const SourceToken& at);

  // Expressions.
  ParseNodeKind13* NewExpression(const ParseNode* type, std::uint32_t op, ParseNode* left, ParseNode* right,
                                 const SourceToken& token);
  ParseNode* Finish(ParseNodeKind13* node);
  ParseNode* Convert(ParseNode* expression, const ParseNode* type);
  ParseNode* MakeVariableReference(ParseNodeKind11* variable, const ParseNode* type, const SourceToken& at);
  bool IsLValue(const ParseNode* expression) const;
  bool HasSideEffects(const ParseNode* expression) const;

  // Calls.
  bool MatchIntrinsic(const IntrinsicRecord& row, ParseNode* arguments, IntrinsicMatch* match);
  bool BindCall(const TokenNode* name, bool intrinsic, const Parameter* parameters, std::uint32_t count,
                ParseNode* arguments, bool uniformOnly, ParseNode** inputs, ParseNode** outputs);
  std::uint32_t TargetCost(const ParseNode* functionTarget, const TokenNode* target);

  // Folding.
  HRESULT FoldOperands(const ParseNode* operand, FoldedValue* out);
  HRESULT FoldConversion(const ParseNodeKind13* node, FoldedValue* out);

  std::uint32_t m_options = 0;
  ShaderPreprocessor* m_preprocessor = nullptr;  // its log takes the messages
  ScopeNode* m_scope = nullptr;
  ParseNode* m_usageStack = nullptr;
  DeclarationNode* m_currentFunction = nullptr;
  SourceToken m_token{};
  bool m_error = false;
  bool m_fatal = false;
  std::uint32_t m_declarationCounter = 0;
  std::uint32_t m_functionCount = 0;
  std::uint32_t m_symbolSlots = 0;
  std::uint32_t m_techniqueCount = 0;
  bool m_objectKeywords = true;

  // The scopes' name trees: per scope and name, the tree node whose chain
  // holds that name's declarations, newest first (hashed: every identifier
  // of a source is looked up in each enclosing scope).
  std::unordered_map<NameKey, ParseNodeKind2*, NameHash, NameEqual> m_names;
  // The names entered per scope, dropped from m_names when it closes.
  std::unordered_map<const ScopeNode*, std::vector<const char*>> m_scopeNames;
  // Components of the members declared so far in each open struct body.
  std::map<const ScopeNode*, std::uint64_t> m_structComponents;
};

}  // namespace gxl::shader

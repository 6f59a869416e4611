// The parse driver and the grammar's plumbing: the token and error functions,
// recovery, lists, the program node, and the asm and decl blocks that are read
// through nested token streams of the same preprocessor.
#include <cstdio>
#include <cstring>

#include "gxl/shader/assembler/shader_assembler.h"
#include "gxl/shader/hlsl/hlsl_constant_lookup.h"
#include "gxl/shader/hlsl/hlsl_reduce.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "platform/d3d9_api.h"

namespace gxl::shader {

HRESULT HlslParser::Parse(std::uint32_t options, ShaderPreprocessor* preprocessor, ProgramNode** tree) {
  if (!tree || !preprocessor) return D3DERR_INVALIDCALL;
  *tree = nullptr;
  Reset(options, preprocessor);
  HRESULT hr = preprocessor->BeginTokenStream(ShaderPreprocessor::kHlslMode);
  if (FAILED(hr)) return hr;
  const std::uint32_t errorsBefore = preprocessor->Log().ErrorCount();
  ProgramNode* program = nullptr;
  if (SUCCEEDED(PushScope(kScopeGlobal, nullptr))) {
    HlslGrammar grammar(*this);
    if (grammar.Run() != 0) m_error = true;
    program = grammar.Result();
  }
  hr = preprocessor->EndTokenStream();
  if (FAILED(hr)) return hr;
  // Errors of the lexer or the assembler that did not stop the parse count too.
  if (m_error || !program || preprocessor->Log().ErrorCount() != errorsBefore) return E_FAIL;
  *tree = program;
  return S_OK;
}

// --- The parser's callbacks -----------------------------------------------------

int HlslGrammar::Lex(ParseNode** value, const SourceToken** location) {
  const int terminal = m_parser.NextToken();
  m_lookahead = m_parser.m_token;
  auto* token = new TokenNode(m_parser.m_token);
  *value = token;
  *location = token ? &token->token : nullptr;
  if (!token) {
    m_parser.OutOfMemory();
    return 0;
  }
  return terminal < 0 ? 0 : terminal;
}

void HlslGrammar::Error(const char* text) {
  if (std::strcmp(text, "syntax error") == 0) {
    SyntaxError(m_lookahead);
  } else if (std::strcmp(text, "memory exhausted") == 0) {
    GXL_HLSL_REPORT(m_parser, &m_lookahead, msg::kParserStackOverflow);
  } else {
    GXL_HLSL_REPORT(m_parser, &m_lookahead, msg::kPlainText, text);
  }
}

void HlslGrammar::SyntaxError(const SourceToken& at) {
  // Only the first error of a parse is described; the rest would follow from it.
  if (m_parser.m_error) return;
  char token[HlslParser::kTypeTextSize];
  const char* description = token;
  switch (at.kind) {
    case kTokenVersion:
      description = "version token";
      break;
    case kTokenPunctuator:
      std::snprintf(token, sizeof token, "token '%.3s'", at.value.punctuator);
      break;
    case kTokenInt:
    case kTokenIntL:
    case kTokenIntU:
      description = "integer constant";
      break;
    case kTokenFloat:
    case kTokenFloatH:
    case kTokenFloatF:
    case kTokenFloatL:
      description = "float constant";
      break;
    case kTokenIdentifier:
      std::snprintf(token, sizeof token, "token '%s'", at.value.text ? at.value.text : "");
      break;
    case kTokenString:
      description = "string constant";
      break;
    case kTokenEndOfLine:
      description = "end of line";
      break;
    case kTokenEndOfInput:
      description = "end of file";
      break;
    default:
      description = "token";
      break;
  }
  GXL_HLSL_REPORT(m_parser, &at, msg::kHlslSyntaxError, description);
}

bool HlslGrammar::Begin(const SourceToken* location) {
  if (m_parser.IsFatal()) return true;
  if (location) m_parser.SetCurrentToken(*location);
  return false;
}

ParseNode* HlslGrammar::Recover() {
  while (m_parser.m_scope && m_parser.m_scope->parent) m_parser.m_scope = m_parser.m_scope->parent;
  m_parser.m_usageStack = nullptr;
  m_parser.m_currentFunction = nullptr;
  m_parser.m_objectKeywords = true;
  return nullptr;
}

// --- Lists and the program ------------------------------------------------------

ParseNode* HlslGrammar::Cell(ParseNode* value, const char* tag) {
  auto* cell = new ListNode(value, nullptr, tag);
  return cell ? cell : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::Append(ParseNode* list, ParseNode* more) {
  if (!more) return list;
  if (!list) return more;
  ParseNode*& tail = m_tails[list];
  if (!tail) tail = list;
  while (tail->second) tail = tail->second;
  tail->second = more;
  // The appended list's own tail, when it was built here, saves the walk.
  if (auto it = m_tails.find(more); it != m_tails.end()) tail = it->second;
  while (tail->second) tail = tail->second;
  return list;
}

void HlslGrammar::Program(ParseNode* statements) {
  m_program =
      new ProgramNode(m_parser.m_techniqueCount, m_parser.FunctionCount(), m_parser.SymbolSlotCount(), statements);
  if (!m_program) m_parser.OutOfMemory();
}

// --- Blocks read through nested token streams ---------------------------------------

ParseNode* HlslGrammar::AsmBlock(ParseNode* keyword, bool fragment) {
  if (!keyword) return nullptr;
  ShaderPreprocessor& pp = *m_parser.m_preprocessor;
  const std::uint32_t errorsBefore = pp.Log().ErrorCount();
  // Fragment blocks name their constants through the constant binder, which
  // looks variables up in the current scope.
  HlslConstantLookup lookup(&m_parser, m_parser.CurrentScope());
  ConstantBinder fragmentBinder(&lookup);
  ConstantBinder* binder = fragment ? &fragmentBinder : nullptr;
  ShaderAssembler assembler;
  ComRef<DataBuffer> code;
  const HRESULT hr = assembler.Assemble(&pp, m_parser.m_options & ShaderAssembler::kFlagMask, binder, code.Put());
  if (FAILED(hr) || pp.Log().ErrorCount() != errorsBefore || !code) {
    m_parser.m_error = true;
    return nullptr;
  }
  // The version and the end token alone, or one more: no block worth keeping.
  const std::uint32_t size = code->GetSize();
  if (size <= 3 * sizeof(std::uint32_t)) return nullptr;
  void* bytes = PoolAlloc(size);
  if (!bytes) return m_parser.OutOfMemory();
  std::memcpy(bytes, code->GetPointer(), size);
  auto* block = new AsmBlockNode(static_cast<TokenNode*>(keyword)->token, bytes, size);
  return block ? block : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::DeclBlock() {
  ShaderPreprocessor& pp = *m_parser.m_preprocessor;
  if (FAILED(pp.BeginTokenStream(ShaderPreprocessor::kHlslMode))) return m_parser.OutOfMemory();
  if (FAILED(pp.EndTokenStream())) m_parser.m_error = true;  // the preprocessor has said why
  return nullptr;
}

}  // namespace gxl::shader

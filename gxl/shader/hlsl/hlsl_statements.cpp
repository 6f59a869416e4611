// Statements: each builder checks its parts and returns a one-cell "Stmts" list.
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {
namespace {

ParseNode* Statement(std::uint32_t code, ParseNode* a, ParseNode* b, ParseNode* c, ParseNode* d) {
  auto* statement = new StatementNode(code, a, b, c, d);
  return statement ? new ListNode(statement, nullptr, "Stmts") : nullptr;
}

}  // namespace

ParseNode* HlslParser::MakeExpressionStatement(ParseNode* expression) {
  if (!AsExpression(expression)) return nullptr;
  ParseNode* s = Statement(kStatementExpression, expression, nullptr, nullptr, nullptr);
  return s ? s : OutOfMemory();
}

ParseNode* HlslParser::MakeReturn(ParseNode* value, const SourceToken& at) {
  const ParseNodeKind10* f = FunctionDescription(m_currentFunction);
  if (!f) return nullptr;
  const ParseNodeKind13* v = AsExpression(value);
  if (!f->returnType && v) {
    GXL_HLSL_REPORT(*this, &v->token, msg::kVoidFunctionReturnsValue, IdentifierText(m_currentFunction->name, ""));
    return nullptr;
  }
  if (f->returnType && !v) {
    GXL_HLSL_REPORT(*this, &at, msg::kReturnValueMissing, IdentifierText(m_currentFunction->name, ""));
    return nullptr;
  }
  if (v) {
    if (!CanConvert(f->returnType, v->type, false)) {
      ReportConversionError(&v->token, nullptr, f->returnType, v->type, false);
      return nullptr;
    }
    if (!(value = Convert(value, f->returnType))) return nullptr;
  }
  ParseNode* s = Statement(kStatementReturn, value, nullptr, nullptr, nullptr);
  return s ? s : OutOfMemory();
}

ParseNode* HlslParser::MakeIf(ParseNode* condition, ParseNode* then, ParseNode* otherwise) {
  const ParseNodeKind13* c = AsExpression(condition);
  if (!c) return nullptr;
  if (!IsScalarType(c->type)) {
    GXL_HLSL_REPORT(*this, &c->token, msg::kFloatExpected);
    return nullptr;
  }
  ParseNode* s = Statement(kStatementIf, condition, then, otherwise, nullptr);
  return s ? s : OutOfMemory();
}

ParseNode* HlslParser::MakeLoop(std::uint32_t code, ParseNode* init, ParseNode* condition, ParseNode* step,
                                ParseNode* body) {
  const ParseNodeKind13* c = AsExpression(condition);
  if (condition && !c) return nullptr;
  if (c && !IsScalarType(c->type)) {
    GXL_HLSL_REPORT(*this, &c->token, msg::kFloatExpected);
    return nullptr;
  }
  ParseNode* s = nullptr;
  switch (code) {
    case kStatementFor:
      s = Statement(code, init, condition, step, body);
      break;
    case kStatementWhile:
      s = Statement(code, nullptr, condition, nullptr, body);
      break;
    case kStatementDo:
      s = Statement(code, body, condition, nullptr, body);
      break;
    default:
      return nullptr;
  }
  return s ? s : OutOfMemory();
}

ParseNode* HlslParser::MakeDiscard() {
  ParseNode* s = Statement(kStatementDiscard, nullptr, nullptr, nullptr, nullptr);
  return s ? s : OutOfMemory();
}

}  // namespace gxl::shader

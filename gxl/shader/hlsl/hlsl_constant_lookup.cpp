#include "gxl/shader/hlsl/hlsl_constant_lookup.h"

namespace gxl::shader {

const DeclarationNode* HlslConstantLookup::FindVariable(const char* name) {
  if (!name) return nullptr;
  SourceToken token{};
  token.kind = kTokenIdentifier;
  token.value.text = name;
  const TokenNode node(token);
  ParseNode* found = nullptr;
  if (m_parser->LookupName(kDeclVariable, &node, nullptr, 0, m_scope, kLookupItself, &found, nullptr) != S_OK)
    return nullptr;
  return found && found->kind == NodeKind::Declaration ? static_cast<const DeclarationNode*>(found) : nullptr;
}

void HlslConstantLookup::ReportBinderMessage(const SourceToken* at, MessageSeverity severity, std::uint32_t code,
                                             const char* text) {
  m_parser->Report(at, severity, code, "%s", text);
}

}  // namespace gxl::shader

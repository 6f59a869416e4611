// The parser's side of the fragment constant binder: an asm block compiled
// for the fragment linker hands the binder this lookup over the parser and
// the declaration scope around the block.
#pragma once

#include "gxl/shader/core/constant_binder.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

class HlslConstantLookup final : public ConstantLookup {
 public:
  HlslConstantLookup(HlslParser* parser, const ScopeNode* scope) : m_parser(parser), m_scope(scope) {}

  // The variable declared under that name in the scope or around it; null
  // when the name is unknown or names no variable.
  const DeclarationNode* FindVariable(const char* name) override;
  // Logged as the parser's own message (an error fails the parse).
  void ReportBinderMessage(const SourceToken* at, MessageSeverity severity, std::uint32_t code,
                           const char* text) override;

 private:
  HlslParser* m_parser;
  const ScopeNode* m_scope;
};

}  // namespace gxl::shader

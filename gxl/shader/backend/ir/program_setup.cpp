// Program set-up (the standard banks), the back end's reporters and the
// names it prints for values.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

struct StandardBankRow {
  const char* name;
  std::uint32_t type;
  std::uint32_t count;
};

// In StandardBank order; four components each.
constexpr StandardBankRow kStandardBanks[kStandardBankCount] = {
    {"x", 0x0, kNoIndex},     {"l", 0x311, kNoIndex},   {"c", 0x251, kNoIndex},  {"v", 0x51, kNoIndex},
    {"o", 0x62, kNoIndex},    {"r", 0x3, kNoIndex},     {"a", 0x6, kNoIndex},    {"p", 0xA, kNoIndex},
    {"s", 0x2D1, kNoIndex},   {"i", 0x1003, kNoIndex},  {"c", 0x2251, kNoIndex}, {"p", 0x400A, kNoIndex},
    {"q", 0xC00A, kNoIndex},  {"d", 0x10042, 0},        {"y", 0x20003, kNoIndex}, {"i", 0x40211, kNoIndex},
    {"k", 0x2062, kNoIndex},  {"j", 0x40062, kNoIndex},
};

}  // namespace

const SourceToken* LocationOf(const ParseNode* node) {
  if (!node) return nullptr;
  switch (node->kind) {
    case NodeKind::Token: return &static_cast<const TokenNode*>(node)->token;
    case NodeKind::Kind13: return &static_cast<const ParseNodeKind13*>(node)->token;
    case NodeKind::Declaration: {
      const ParseNode* name = static_cast<const DeclarationNode*>(node)->name;
      return name && name->kind == NodeKind::Token ? &static_cast<const TokenNode*>(name)->token : nullptr;
    }
    default: return nullptr;
  }
}

HRESULT ShaderProgram::Init(const ParseNode* rootNode, MessageLog* messageLog, std::uint32_t version,
                            std::uint32_t optionFlags) {
  if (!messageLog) return E_FAIL;
  root = rootNode;
  log = messageLog;
  versionToken = version;
  options = optionFlags;
  errorFlag = optimisedFlag = registerTableFlag = 0;
  for (std::uint32_t i = 0; i < kStandardBankCount; ++i)
    standardBanks[i] = AddRegisterBank(kStandardBanks[i].name, kStandardBanks[i].type, kStandardBanks[i].count, 4);
  if (banks.Count() != kStandardBankCount) return E_OUTOFMEMORY;
  return FinishSetup();
}

HRESULT ShaderProgram::InitFrom(const ShaderProgram& parent, std::uint32_t version, std::uint32_t optionFlags) {
  if (&parent == this) return E_FAIL;
  HRESULT hr = ProgramLists::CopyFrom(parent);
  if (FAILED(hr)) return hr;
  root = parent.root;
  log = parent.log;
  versionToken = version;
  options = optionFlags;
  referenceSearches = parent.referenceSearches;
  workLeft = parent.workLeft;
  workCharged = parent.workCharged;
  workCap = parent.workCap;
  walksBySize = parent.walksBySize;
  workExhausted = parent.workExhausted;
  errorFlag = optimisedFlag = registerTableFlag = 0;
  std::copy(std::begin(parent.standardBanks), std::end(parent.standardBanks), standardBanks);
  return FinishSetup();
}

HRESULT ShaderProgram::FinishSetup() {
  profileLimits = ProfileLimits{};
  const HRESULT hr = SetupProfileLimits();
  if (FAILED(hr)) return hr;
  return SetEntryName(nullptr);
}

// --- Messages ------------------------------------------------------------------------

void ShaderProgram::VReport(const ParseNode* node, MessageSeverity severity, std::uint32_t code,
                            const char* format, va_list args) {
  char text[256];
  if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  if (log) log->Report(LocationOf(node), severity, code, "%s", text);
  if (severity == MessageSeverity::Error) {
    if (!errorFlag) firstError = code;
    errorFlag = 1;
  }
}

void ShaderProgram::Report(const ParseNode* node, MessageSeverity severity, std::uint32_t code,
                           const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(node, severity, code, format, args);
  va_end(args);
}

// --- Names ----------------------------------------------------------------------------

std::uint32_t ShaderProgram::FormatValueName(std::uint32_t value, char* buffer, std::uint32_t size) const {
  if (!buffer || size == 0) return 0;
  const IrValue* v = values.Peek(ResolveAlias(value));
  const RegisterBank* bank = v ? banks[v->bank] : nullptr;
  const char* name = bank && bank->name ? bank->name : "";
  const char* separator = std::strlen(name) == 1 ? "" : "_";
  int n;
  if (v && v->reg != kNoIndex)
    n = std::snprintf(buffer, size, "%s%s%u", name, separator, v->reg);
  else
    n = std::snprintf(buffer, size, "%s%s?", name, separator);
  return n < 0 ? 0 : std::min<std::uint32_t>(static_cast<std::uint32_t>(n), size - 1);
}

void ShaderProgram::FormatSemanticText(std::uint32_t value, char* buffer, std::uint32_t size) const {
  if (!buffer || size == 0) return;
  const IrValue* v = values.Peek(value);
  const char* semantic = "";
  if (v && v->semantic) {
    const SourceToken& token = v->semantic->token;
    if ((token.kind == kTokenIdentifier || token.kind == kTokenString) && token.value.text) semantic = token.value.text;
  }
  std::snprintf(buffer, size, "%s semantic '%.63s'", ValueDirectionText(value), semantic);
}

}  // namespace gxl::shader

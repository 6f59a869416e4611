// The parser's state for one parse and its message reporters.
#include "gxl/shader/hlsl/hlsl_parser.h"

#include <cstdio>
#include <cstring>

#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

void HlslParser::Reset(std::uint32_t options, ShaderPreprocessor* preprocessor) {
  m_options = options;
  m_preprocessor = preprocessor;
  m_scope = nullptr;
  m_usageStack = nullptr;
  m_currentFunction = nullptr;
  m_token = SourceToken{};
  m_error = false;
  m_fatal = false;
  m_declarationCounter = 0;
  m_functionCount = 0;
  m_symbolSlots = 0;
  m_techniqueCount = 0;
  m_objectKeywords = true;
  m_names.clear();
  m_scopeNames.clear();
  m_structComponents.clear();
}

void HlslParser::VReport(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* format,
                         va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  if (severity == MessageSeverity::Error) m_error = true;
  if (!m_preprocessor) return;
  if (severity == MessageSeverity::Error) {
    m_preprocessor->Log().ReportError(at, code, "%s", text);
  } else {
    m_preprocessor->Log().ReportWarning(at, code, "%s", text);
  }
}

void HlslParser::ReportError(const SourceToken* at, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(at, MessageSeverity::Error, code, format, args);
  va_end(args);
}

void HlslParser::ReportWarning(const SourceToken* at, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(at, MessageSeverity::Warning, code, format, args);
  va_end(args);
}

void HlslParser::ReportInternalError(const SourceToken* at, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(at, MessageSeverity::Error, code, format, args);
  va_end(args);
  m_fatal = true;
}

void HlslParser::Report(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(at, severity, code, format, args);
  va_end(args);
}

ParseNode* HlslParser::CheckProduction(ParseNode* node) {
  if (!node && !m_error) GXL_HLSL_INTERNAL_ERROR(*this, &m_token, msg::kInternalProductionFailedBang);
  return node;
}

std::nullptr_t HlslParser::OutOfMemory() {
  GXL_HLSL_INTERNAL_ERROR(*this, &m_token, msg::kInternalOutOfMemory);
  return nullptr;
}

bool HlslParser::UnknownNode() {
  GXL_HLSL_INTERNAL_ERROR(*this, &m_token, msg::kInternalUnknownNode);
  return false;
}

}  // namespace gxl::shader

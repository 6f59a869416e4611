// The directives that read their own lines: #include, #line, #error and the
// pragmas "pack_matrix", "warning" and "def".
#include <cstring>
#include <memory>
#include <new>

#include "gxl/shader/core/messages.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

int CompareNoCase(const char* a, const char* b) {
  auto lower = [](char c) { return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
  for (;; ++a, ++b) {
    const int d = lower(*a) - lower(*b);
    if (d != 0 || *a == '\0') return d;
  }
}

}  // namespace

void ShaderPreprocessor::SkipRestOfLine() {
  m_queue.Clear();
  m_lexer->SkipToEndOfLine();
}

// #include "name" or <name>: the file is looked for beside the including
// file (or given to the include interface as written) and read from the end
// of this line on.
void ShaderPreprocessor::Include() {
  SourceToken& name = m_token;
  if (FAILED(ReadToken(m_mode | kLexFileName | kLexHeaderName, &name))) return;
  if (name.kind != kTokenString && name.kind != kTokenHeaderName) {
    SyntaxError();
    return;
  }
  const DWORD type = name.kind == kTokenString ? kIncludeLocal : kIncludeSystem;
  auto fail = [this] { m_directiveError = m_stopped = true; };
  if (!m_include && !m_currentSource->fileName) {
    GXL_SHADER_REPORT(m_log, &name, msg::kIncludeNeedsInterface);
    return fail();
  }
  int open = 0;
  for (const IncludeSource* s = m_topSource.get(); s; s = s->includer.get()) ++open;
  if (open >= kMaxOpenSources) {
    GXL_SHADER_REPORT(m_log, &name, msg::kTooManyNestedIncludes);
    return fail();
  }
  const char* path = m_include ? name.value.text : ResolveIncludeName(name.value.text);
  if (!path) {
    GXL_SHADER_REPORT(m_log, &name, msg::kFailedToOpenSourceFile, name.value.text);
    return fail();
  }
  const void* parentData = m_topSource->include ? m_topSource->text : nullptr;
  std::unique_ptr<IncludeSource> source(new (std::nothrow) IncludeSource);
  if (!source) {
    GXL_SHADER_REPORT(m_log, &name, msg::kInternalOutOfMemory);
    return fail();
  }
  if (FAILED(OpenSourceFile(source.get(), path, false, &m_pool, &name, &m_log, m_include, type, parentData)))
    return fail();
  source->includer = std::move(m_topSource);
  m_topSource = std::move(source);
}

// A relative name is joined to the folder of the including file; both
// separators count. Null without memory.
const char* ShaderPreprocessor::ResolveIncludeName(const char* name) {
  const char* directory = IsSeparator(name[0]) ? "" : m_topSource->directory;
  if (!directory) directory = "";
  const std::size_t dirLength = std::strlen(directory), nameLength = std::strlen(name);
  auto* joined = static_cast<char*>(m_pool.Allocate(dirLength + nameLength + 1, 1));
  if (!joined) return nullptr;
  std::memcpy(joined, directory, dirLength);
  std::memcpy(joined + dirLength, name, nameLength + 1);
  const DWORD needed = GetFullPathNameA(joined, 0, nullptr, nullptr);
  if (needed == 0) return nullptr;
  auto* full = static_cast<char*>(m_pool.Allocate(needed, 1));
  if (!full || GetFullPathNameA(joined, needed, full, nullptr) + 1 != needed) return nullptr;
  return full;
}

// The next line gets the number: one less now when this line's end has not
// been read yet.
void ShaderPreprocessor::Line(std::uint32_t number, const char* fileName) {
  m_lexer->SetLine(m_atLineStart ? number : number - 1);
  if (fileName) {
    m_lexer->SetFileName(fileName);
    m_currentSource->fileName = fileName;
  }
}

// The rest of the line, continuations joined and carriage returns dropped, as
// an error; the run ends.
void ShaderPreprocessor::ErrorDirective() {
  const char* p = m_lexer->Cursor();
  m_lexer->SkipToEndOfLine();
  const char* end = m_lexer->Cursor();
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  char text[256];
  std::size_t n = 0;
  for (; p < end && n < sizeof text - 1; ++p) {
    if (*p == '\\' && (end - p >= 2 && (p[1] == '\n' || (p[1] == '\r' && end - p >= 3 && p[2] == '\n')))) {
      p += p[1] == '\n' ? 1 : 2;
      continue;
    }
    if (*p != '\r') text[n++] = *p;
  }
  text[n] = '\0';
  GXL_SHADER_REPORT(m_log, &m_token, msg::kErrorDirective, text);
  m_directiveError = m_stopped = true;
  ConsumeLine();
}

// Any pragma but the three, and a malformed one, is skipped without a word.
void ShaderPreprocessor::Pragma() {
  HRESULT applied = S_OK;
  if (SUCCEEDED(ReadToken(m_mode | kLexFileName, &m_token)) && m_token.kind == kTokenIdentifier) {
    const char* name = m_token.value.text;
    if (std::strcmp(name, "pack_matrix") == 0) PragmaPackMatrix();
    else if (std::strcmp(name, "warning") == 0) PragmaWarning(&applied);
    else if (std::strcmp(name, "def") == 0) PragmaDef();
  }
  ConsumeLine();
  if (FAILED(applied)) m_directiveError = true;
}

bool ShaderPreprocessor::NextIs(const char* punctuator) {
  return SUCCEEDED(ReadToken(m_mode | kLexFileName, &m_token)) && IsPunctuator(m_token, punctuator);
}

bool ShaderPreprocessor::NextEndsLine() {
  return SUCCEEDED(ReadToken(m_mode | kLexFileName, &m_token)) && IsLineEnd(m_token);
}

// pack_matrix ( [row_major | column_major | other name] )
bool ShaderPreprocessor::PragmaPackMatrix() {
  if (!NextIs("(") || FAILED(ReadToken(m_mode | kLexFileName, &m_token))) return false;
  const char* order = nullptr;
  if (m_token.kind == kTokenIdentifier) {
    order = m_token.value.text;
    if (!NextIs(")")) return false;
  } else if (!IsPunctuator(m_token, ")")) {
    return false;
  }
  if (!NextEndsLine()) return false;
  if (!order) m_packMatrix = 0;
  else if (std::strcmp(order, "row_major") == 0) m_packMatrix = kPackMatrixRowMajor;
  else if (std::strcmp(order, "column_major") == 0) m_packMatrix = kPackMatrixColumnMajor;
  return true;
}

// warning ( specifier : code code ... ; specifier : code ... ), applied only
// when the whole line is well-formed.
bool ShaderPreprocessor::PragmaWarning(HRESULT* applied) {
  if (!NextIs("(")) return false;
  PodArray<WarningStateChange> changes;
  for (;;) {
    if (FAILED(ReadToken(m_mode | kLexFileName, &m_token))) return false;
    std::uint32_t state;
    if (m_token.kind == kTokenIdentifier) {
      const char* word = m_token.value.text;
      if (std::strcmp(word, "once") == 0) state = kWarningOnce;
      else if (std::strcmp(word, "error") == 0) state = kWarningAsError;
      else if (std::strcmp(word, "disable") == 0) state = 0;
      else if (std::strcmp(word, "default") == 0) state = kWarningDefault;
      else return false;
    } else if (IsIntegerToken(m_token) && m_token.value.number >= 1 && m_token.value.number <= 4) {
      state = m_token.value.number;
    } else {
      return false;
    }
    if (!NextIs(":")) return false;
    std::size_t codes = 0;
    for (;;) {
      if (FAILED(ReadToken(m_mode | kLexFileName, &m_token))) return false;
      if (!IsIntegerToken(m_token)) break;
      if (!changes.Append(WarningStateChange{m_token.value.number, state})) return false;
      ++codes;
    }
    if (codes == 0) return false;
    if (IsPunctuator(m_token, ")")) break;
    if (!IsPunctuator(m_token, ";")) return false;
  }
  if (!NextEndsLine()) return false;
  *applied = m_log.ApplyWarningStates(changes.Data(), changes.Size());
  return true;
}

// def ( target , register , value , value , value , value ), each value an
// optional "-" and a number.
bool ShaderPreprocessor::PragmaDef() {
  auto name = [this](const char** out) {
    if (FAILED(ReadToken(m_mode | kLexFileName, &m_token)) || m_token.kind != kTokenIdentifier) return false;
    *out = m_token.value.text;
    return true;
  };
  auto number = [this](double* out) {
    if (FAILED(ReadToken(m_mode | kLexFileName, &m_token))) return false;
    const bool negative = IsPunctuator(m_token, "-");
    if (negative && FAILED(ReadToken(m_mode | kLexFileName, &m_token))) return false;
    switch (m_token.kind) {
      case kTokenInt:
      case kTokenIntU: *out = m_token.value.number; break;
      case kTokenIntL: *out = static_cast<std::int32_t>(m_token.value.number); break;
      case kTokenFloat:
      case kTokenFloatH:
      case kTokenFloatF:
      case kTokenFloatL: *out = m_token.value.real; break;
      default: return false;
    }
    if (negative) *out = -*out;
    return true;
  };
  DefPragma def{};
  if (!NextIs("(") || !name(&def.target) || !NextIs(",") || !name(&def.registerName)) return false;
  for (double& v : def.values)
    if (!NextIs(",") || !number(&v)) return false;
  if (!NextIs(")") || !NextEndsLine()) return false;
  auto* record = static_cast<DefPragma*>(m_pool.Allocate(sizeof(DefPragma), alignof(DefPragma)));
  if (!record) {
    GXL_SHADER_REPORT(m_log, &m_token, msg::kInternalOutOfMemory);
    m_directiveError = true;
    return true;
  }
  *record = def;
  DefPragma** at = &m_defPragmas;
  while (*at && CompareNoCase((*at)->registerName, def.registerName) < 0) at = &(*at)->next;
  record->next = *at;
  *at = record;
  return true;
}

}  // namespace gxl::shader

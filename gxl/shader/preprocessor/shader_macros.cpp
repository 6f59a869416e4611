// Macro definitions and expansion. An expansion is not done in place: it
// produces a token list that goes in front of the queue, where the pump
// examines it again, so that macro names produced by an expansion are
// expanded in turn.
#include <cstring>

#include "gxl/shader/core/messages.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

namespace {

bool Adjacent(const SourceToken& previous, const SourceToken& next) {
  return previous.start && next.start == previous.start + previous.length;
}

template <typename T>
T* PoolArray(PagePool& pool, std::size_t count) {
  return static_cast<T*>(pool.Allocate(count ? count * sizeof(T) : 1, alignof(T)));
}

// The predefined macros, entered before the caller's.
constexpr ShaderMacro kPredefinedMacros[] = {
    {"DIRECT3D", nullptr},
    {"GXL", nullptr},
    {"DIRECT3D_VERSION", "0x900"},
    {"GXL_VERSION", "0x902"},
};

}  // namespace

HRESULT ShaderPreprocessor::DefineMacros(const ShaderMacro* defines) {
  // A definition is read by a lexer of its own that stands in for the source.
  auto define = [this](const ShaderMacro& m) {
    const std::size_t length = std::strlen(m.name);
    auto* name = PoolArray<char>(m_pool, length + 1);
    if (!name) return E_OUTOFMEMORY;
    std::memcpy(name, m.name, length + 1);
    SourceLexer lexer;
    HRESULT hr = lexer.Init(m.definition ? m.definition : "", SourceLexer::kMeasure, nullptr, 0, &m_pool, &m_log);
    if (FAILED(hr)) return hr;
    SourceLexer* const source = m_lexer;
    m_lexer = &lexer;
    hr = ParseDefine(name, length, false);
    m_lexer = source;
    return hr;
  };
  for (const ShaderMacro& m : kPredefinedMacros) {
    const HRESULT hr = define(m);
    if (FAILED(hr)) return hr;
  }
  for (const ShaderMacro* m = defines; m && m->name; ++m) {
    const HRESULT hr = define(*m);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// The parameters (a directive's name followed at once by "("), then every
// token up to the end of the line. Body texts are copied with their spacing,
// so that # and ## see them after the source that held them has closed.
HRESULT ShaderPreprocessor::ParseDefine(const char* name, std::size_t length, bool fromDirective) {
  PodArray<const char*> params;
  const bool functionLike = fromDirective && m_queue.Empty() && m_lexer->Cursor() < m_lexer->End() &&
                            *m_lexer->Cursor() == '(';
  if (functionLike) {
    ReadToken(m_mode, &m_token);  // "("
    bool closed = false;
    while (SUCCEEDED(ReadToken(m_mode, &m_token)) && m_token.kind == kTokenIdentifier) {
      for (std::size_t i = 0; i < params.Size(); ++i) {
        if (std::strcmp(params[i], m_token.value.text) == 0) {
          GXL_SHADER_REPORT(m_log, &m_token, msg::kDuplicateMacroParameter, m_token.value.text);
          break;
        }
      }
      if (!params.Append(m_token.value.text)) return E_OUTOFMEMORY;
      if (FAILED(ReadToken(m_mode, &m_token)) || !IsPunctuator(m_token, ",")) {
        closed = IsPunctuator(m_token, ")");
        break;
      }
    }
    if (!closed) {
      SyntaxError();
      return E_FAIL;
    }
  }
  PodArray<SourceToken>& body = m_expansion;
  body.Clear();
  for (;;) {
    const HRESULT hr = ReadToken(m_mode, &m_token);
    if (FAILED(hr)) return hr;
    if (m_token.kind == kTokenEndOfLine || m_token.kind == kTokenEndOfInput) break;
    if (!body.Append(m_token)) return E_OUTOFMEMORY;
  }
  m_atLineStart = true;

  const std::size_t count = body.Size();
  std::size_t textLength = 0;
  for (std::size_t i = 0; i < count; ++i) textLength += body[i].length + 1;
  auto* macro = PoolArray<MacroDefinition>(m_pool, 1);
  auto* tokens = PoolArray<SourceToken>(m_pool, count);
  auto* bodyParam = PoolArray<std::uint32_t>(m_pool, count);
  auto* paramNames = PoolArray<const char*>(m_pool, params.Size());
  auto* text = PoolArray<char>(m_pool, textLength);
  if (!macro || !tokens || !bodyParam || !paramNames || !text) return E_OUTOFMEMORY;
  char* out = text;
  for (std::size_t i = 0; i < count; ++i) {
    SourceToken t = body[i];
    if (i > 0 && !Adjacent(body[i - 1], t)) *out++ = ' ';
    if (t.length) std::memcpy(out, t.start, t.length);
    t.start = out;
    out += t.length;
    tokens[i] = t;
    bodyParam[i] = 0;
    if (t.kind != kTokenIdentifier) continue;
    for (std::size_t p = 0; p < params.Size(); ++p) {
      if (std::strcmp(params[p], t.value.text) == 0) {
        bodyParam[i] = static_cast<std::uint32_t>(p + 1);
        break;
      }
    }
  }
  if (params.Size()) std::memcpy(paramNames, params.Data(), params.Size() * sizeof(const char*));
  *macro = MacroDefinition{};
  macro->name = name;
  macro->nameLength = static_cast<std::uint32_t>(length);
  macro->paramCount = static_cast<std::uint32_t>(params.Size());
  macro->params = paramNames;
  macro->body = tokens;
  macro->bodyParam = bodyParam;
  macro->bodyCount = static_cast<std::uint32_t>(count);
  return DefineMacro(macro);
}

HRESULT ShaderPreprocessor::DefineMacro(MacroDefinition* macro) {
  MacroDefinition* replaced = nullptr;
  if (!m_macros.Insert(macro, &replaced)) return E_OUTOFMEMORY;
  if (replaced && !SameMacroDefinition(*replaced, *macro))
    GXL_SHADER_REPORT(m_log, &m_token, msg::kMacroRedefinition, macro->name);
  return S_OK;
}

void ShaderPreprocessor::Undefine(const char* name, std::size_t length) { m_macros.Remove(name, length); }

MacroDefinition* ShaderPreprocessor::FindMacro(const SourceToken& name) {
  return m_macros.FindExpandable(name.value.text, name.length);
}

int ShaderPreprocessor::ExpandMacro(const SourceToken& name, const MacroDefinition& macro) {
  if (++m_expansionChain > kMaxExpansionChain) {
    GXL_SHADER_REPORT(m_log, &name, msg::kMacroExpansionWithoutEnd, macro.name);
    m_stopped = true;
    return 0;
  }
  const SourceToken* list = macro.body;
  std::size_t count = macro.bodyCount;
  if (macro.paramCount) {
    if (!OpenCall() || !CollectArguments(name, macro)) return 0;
    if (!Substitute(macro) || !Paste()) return 0;
    list = m_expansion.Data();
    count = m_expansion.Size();
  }
  if (!m_queue.Reserve(m_queue.Size() + count)) {
    GXL_SHADER_REPORT(m_log, &name, msg::kInternalOutOfMemory);
    return 0;
  }
  for (std::size_t i = count; i-- > 0;) m_queue.Append(list[i]);
  return 1;
}

// The "(" of a call: first in the queue, or the next byte of the source
// after blanks; a call never spans a line break or a comment.
bool ShaderPreprocessor::OpenCall() {
  if (!m_queue.Empty()) {
    if (!IsPunctuator(m_queue.Back(), "(")) return false;
    m_queue.PopBack();
    return true;
  }
  const char* p = m_lexer->Cursor();
  const char* const end = m_lexer->End();
  while (p < end && (*p == ' ' || *p == '\t' || *p == '\v' || *p == '\f' || *p == '\r')) ++p;
  if (p == end || *p != '(') return false;
  SourceToken open;
  return SUCCEEDED(ReadToken(m_mode, &open));
}

// Arguments up to the ")" that closes the call, split at "," outside nested
// brackets. Every token read opens an argument, so F() has one, empty.
bool ShaderPreprocessor::CollectArguments(const SourceToken& name, const MacroDefinition& macro) {
  m_arguments.Clear();
  m_argumentEnds.Clear();
  int depth = 1;
  for (;;) {
    SourceToken t;
    if (FAILED(ReadToken(m_mode, &t))) return false;
    if (t.kind == kTokenEndOfInput) {
      GXL_SHADER_REPORT(m_log, &name, msg::kEndOfFileInMacroExpansion);
      return false;
    }
    if (t.kind == kTokenEndOfLine && !m_active) {
      // Inside an inactive region a call ends with its line, so that it
      // cannot swallow the directive that closes the region.
      m_queue.Append(t);
      return false;
    }
    if (t.kind == kTokenPunctuator && t.value.punctuator[1] == '\0') {
      const char c = t.value.punctuator[0];
      if (c == '(' || c == '[' || c == '{') {
        ++depth;
      } else if (c == ')' || c == ']' || c == '}') {
        if (--depth == 0 && c == ')') break;
      } else if (c == ',' && depth == 1) {
        if (!m_argumentEnds.Append(m_arguments.Size())) return false;
        continue;
      }
    }
    if (!m_arguments.Append(t)) {
      GXL_SHADER_REPORT(m_log, &name, msg::kInternalOutOfMemory);
      return false;
    }
  }
  if (!m_argumentEnds.Append(m_arguments.Size())) return false;
  bool paired = m_argumentEnds.Size() == macro.paramCount;
  for (std::size_t i = 0, start = 0; paired && i < m_argumentEnds.Size(); start = m_argumentEnds[i++])
    paired = m_argumentEnds[i] > start;
  if (!paired) GXL_SHADER_REPORT(m_log, &name, msg::kNotEnoughMacroParameters, macro.name);
  return paired;
}

// The body with parameters replaced by their (unexpanded) arguments, and
// "#" or "#@" applied to what the next body token produced.
bool ShaderPreprocessor::Substitute(const MacroDefinition& macro) {
  m_expansion.Clear();
  const SourceToken* pending = nullptr;
  for (std::uint32_t i = 0; i < macro.bodyCount; ++i) {
    const SourceToken& b = macro.body[i];
    if (!pending && (IsPunctuator(b, "#") || IsPunctuator(b, "#@"))) {
      pending = &b;
      continue;
    }
    const std::size_t first = m_expansion.Size();
    bool ok;
    if (const std::uint32_t p = macro.bodyParam[i]) {
      const std::size_t start = p > 1 ? m_argumentEnds[p - 2] : 0;
      ok = m_expansion.Append(m_arguments.Data() + start, m_argumentEnds[p - 1] - start);
    } else {
      ok = m_expansion.Append(b);
    }
    if (ok && pending) ok = Stringize(first, *pending);
    if (!ok) return false;
    pending = nullptr;
  }
  return true;
}

// Replaces the tokens from first on by one token: their texts joined with a
// blank wherever the source had space, escaped and quoted ("#" a string,
// "#@" a character constant), then scanned again.
bool ShaderPreprocessor::Stringize(std::size_t first, const SourceToken& op) {
  const char quote = IsPunctuator(op, "#") ? '"' : '\'';
  m_text.Clear();
  bool ok = m_text.Append(quote);
  bool inString = false, escaped = false;
  for (std::size_t i = first; ok && i < m_expansion.Size(); ++i) {
    const SourceToken& t = m_expansion[i];
    if (i > first && !Adjacent(m_expansion[i - 1], t)) ok = m_text.Append(' ');
    for (std::size_t k = 0; ok && k < t.length; ++k) {
      const char c = t.start[k];
      if (c == '"') {
        ok = m_text.Append('\\');
        if (!inString || !escaped) inString = !inString;
        escaped = false;
      } else if (c == '\\' && inString) {
        ok = m_text.Append('\\');
        escaped = !escaped;
      } else {
        escaped = false;
      }
      ok = ok && m_text.Append(c);
    }
  }
  ok = ok && m_text.Append(quote);
  char* text = ok ? PoolArray<char>(m_pool, m_text.Size()) : nullptr;
  SourceToken result;
  if (!text) {
    GXL_SHADER_REPORT(m_log, &op, msg::kInternalOutOfMemory);
    return false;
  }
  std::memcpy(text, m_text.Data(), m_text.Size());
  if (!ScanText(text, m_text.Size(), op, &result)) return false;
  m_expansion.Truncate(first);
  return m_expansion.Append(result);
}

// Wherever a token is followed by "##" and a further token, the two texts
// are joined and scanned again; the first token of the join replaces them.
// The walk goes on behind it, so a##b##c gives ab ## c.
bool ShaderPreprocessor::Paste() {
  std::size_t out = 0;
  const std::size_t n = m_expansion.Size();
  for (std::size_t i = 0; i < n;) {
    if (i + 2 >= n || !IsPunctuator(m_expansion[i + 1], "##")) {
      m_expansion[out++] = m_expansion[i++];
      continue;
    }
    const SourceToken& left = m_expansion[i];
    const SourceToken& right = m_expansion[i + 2];
    auto* text = PoolArray<char>(m_pool, left.length + right.length);
    if (!text) {
      GXL_SHADER_REPORT(m_log, &left, msg::kInternalOutOfMemory);
      return false;
    }
    if (left.length) std::memcpy(text, left.start, left.length);
    if (right.length) std::memcpy(text + left.length, right.start, right.length);
    SourceToken pasted;
    if (!ScanText(text, left.length + right.length, left, &pasted)) return false;
    m_expansion[out++] = pasted;
    i += 3;
  }
  m_expansion.Truncate(out);
  return true;
}

bool ShaderPreprocessor::ScanText(const char* text, std::size_t length, const SourceToken& position,
                                  SourceToken* token) {
  SourceLexer lexer;
  if (FAILED(lexer.Init(text, static_cast<std::uint32_t>(length), position.file, position.line, &m_pool, &m_log)) ||
      FAILED(lexer.ScanToken(m_mode, token)))
    return false;
  return token->kind != kTokenEndOfLine && token->kind != kTokenEndOfInput;
}

}  // namespace gxl::shader

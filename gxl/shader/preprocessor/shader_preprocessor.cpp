#include "gxl/shader/preprocessor/shader_preprocessor.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "gxl/math/services.h"
#include "gxl/shader/core/compiler_lock.h"
#include "gxl/shader/core/messages.h"
#include "platform/d3d9_api.h"

namespace gxl::shader {

namespace {

constexpr std::size_t kPoolReservation = 0x100000;
constexpr std::size_t kPoolCommitStep = 0x10000;

// A NUL-terminated copy in the pool; null without memory.
char* PoolCopy(PagePool* pool, const char* text, std::size_t length) {
  auto* copy = static_cast<char*>(pool->Allocate(length + 1, 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace

ShaderPreprocessor::RunLock::RunLock(PagePool* pool) {
  CompilerLock::Enter();
  m_savedPool = SetCurrentPool(pool);
}

ShaderPreprocessor::RunLock::~RunLock() {
  SetCurrentPool(m_savedPool);
  CompilerLock::Leave();
}

ShaderPreprocessor::ShaderPreprocessor() : m_pool(kPoolReservation, kPoolCommitStep), m_lock(&m_pool) {
  CheckNewDeleteConformance();
}

ShaderPreprocessor::~ShaderPreprocessor() = default;

HRESULT ShaderPreprocessor::OpenSourceFile(IncludeSource* source, const void* name, bool isWide, PagePool* pool,
                                           const SourceToken* position, MessageLog* log, ShaderInclude* include,
                                           DWORD includeType, const void* parentData) {
  if (!source || !name || !pool || !log) return D3DERR_INVALIDCALL;
  const char* utf8 = static_cast<const char*>(name);
  if (isWide) {
    // A name that UTF-8 cannot carry exactly could reach another file.
    const auto* wide = static_cast<LPCWSTR>(name);
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, &lossy);
    auto* converted = bytes > 0 ? static_cast<char*>(pool->Allocate(static_cast<std::size_t>(bytes), 1)) : nullptr;
    if (!converted) return bytes > 0 ? E_OUTOFMEMORY : E_INVALIDARG;
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, converted, bytes, nullptr, nullptr);
    if (lossy) {
      GXL_SHADER_REPORT(*log, position, msg::kFailedToOpenSourceFile, converted);
      return E_INVALIDARG;
    }
    utf8 = converted;
  }
  const std::size_t nameLength = std::strlen(utf8);
  if (include) {
    source->fileName = PoolCopy(pool, utf8, nameLength);
    if (!source->fileName) return E_OUTOFMEMORY;
    const void* data = nullptr;
    UINT bytes = 0;
    const HRESULT hr = include->Open(includeType, source->fileName, parentData, &data, &bytes);
    if (FAILED(hr)) {
      GXL_SHADER_REPORT(*log, position, msg::kFailedToOpenSourceFile, utf8);
      return hr;
    }
    source->include = include;
    source->text = data;
    source->bytes = bytes;
  } else {
    // The full path names the file in messages; its folder up to the last
    // separator is where the file's own includes are looked for.
    const DWORD needed = GetFullPathNameA(utf8, 0, nullptr, nullptr);
    char* path = needed ? static_cast<char*>(pool->Allocate(needed, 1)) : nullptr;
    if (path && GetFullPathNameA(utf8, needed, path, nullptr) + 1 == needed) {
      source->fileName = PoolCopy(pool, path, needed - 1);
      char* cut = path;
      for (char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') cut = p + 1;
      *cut = '\0';
      source->directory = path;
    } else {
      source->fileName = PoolCopy(pool, utf8, nameLength);
    }
    if (!source->fileName) return E_OUTOFMEMORY;
    const HRESULT hr = source->file.Open(source->fileName, false);
    if (FAILED(hr)) {
      GXL_SHADER_REPORT(*log, position, msg::kFailedToOpenSourceFile, utf8);
      return hr;
    }
    source->text = source->file.Data();
    source->bytes = source->file.Size();
  }
  return source->lexer.Init(static_cast<const char*>(source->text), source->bytes, source->fileName, 1, pool, log);
}

HRESULT ShaderPreprocessor::StartFromFile(const void* name, bool isWide, const ShaderMacro* defines,
                                          ShaderInclude* include) {
  if (m_topSource) return D3DERR_INVALIDCALL;
  std::unique_ptr<IncludeSource> source(new (std::nothrow) IncludeSource);
  if (!source) return E_OUTOFMEMORY;
  const HRESULT hr =
      OpenSourceFile(source.get(), name, isWide, &m_pool, &m_token, &m_log, include, kIncludeLocal, nullptr);
  if (FAILED(hr)) return hr;
  return StartSource(std::move(source), defines, include);
}

HRESULT ShaderPreprocessor::StartFromResource(HMODULE module, const void* name, bool isWide,
                                              const ShaderMacro* defines, ShaderInclude* include) {
  if (m_topSource) return D3DERR_INVALIDCALL;
  std::unique_ptr<IncludeSource> source(new (std::nothrow) IncludeSource);
  if (!source) return E_OUTOFMEMORY;
  HRESULT hr = source->resource.Find(module, name, false, isWide);
  if (FAILED(hr)) {
    GXL_SHADER_REPORT(m_log, nullptr, msg::kFailedToOpenResource);
    return hr;
  }
  source->text = source->resource.Data();
  source->bytes = source->resource.Size();
  hr = source->lexer.Init(static_cast<const char*>(source->text), source->bytes, nullptr, 1, &m_pool, &m_log);
  if (FAILED(hr)) return hr;
  return StartSource(std::move(source), defines, include);
}

HRESULT ShaderPreprocessor::StartFromMemory(const char* text, UINT length, const ShaderMacro* defines,
                                            ShaderInclude* include) {
  if (m_topSource || (!text && length != 0)) return D3DERR_INVALIDCALL;
  std::unique_ptr<IncludeSource> source(new (std::nothrow) IncludeSource);
  if (!source) return E_OUTOFMEMORY;
  const HRESULT hr = source->lexer.Init(text, length, nullptr, 1, &m_pool, &m_log);
  if (FAILED(hr)) return hr;
  source->text = text;
  source->bytes = static_cast<UINT>(source->lexer.End() - text);
  return StartSource(std::move(source), defines, include);
}

HRESULT ShaderPreprocessor::StartSource(std::unique_ptr<IncludeSource> source, const ShaderMacro* defines,
                                        ShaderInclude* include) {
  const HRESULT hr = DefineMacros(defines);
  if (FAILED(hr)) return hr;
  m_topSource = std::move(source);
  SetCurrentSource(m_topSource.get());
  m_include = include;
  return S_OK;
}

void ShaderPreprocessor::SetCurrentSource(IncludeSource* source) {
  m_currentSource = source;
  m_lexer = source ? &source->lexer : nullptr;
}

HRESULT ShaderPreprocessor::BeginTokenStream(std::uint32_t mode) {
  auto* stream = static_cast<TokenStream*>(m_pool.Allocate(sizeof(TokenStream), alignof(TokenStream)));
  if (!stream) return E_OUTOFMEMORY;
  *stream = TokenStream{mode, m_streams, 1};
  m_streams = stream;
  m_mode = mode;
  return S_OK;
}

HRESULT ShaderPreprocessor::EndTokenStream() {
  if (!m_streams) return D3DERR_INVALIDCALL;
  for (SourceToken token;;) {
    const HRESULT hr = NextToken(&token);
    if (FAILED(hr)) return hr;
    if (token.kind == kTokenEndOfInput) break;
  }
  m_streams = m_streams->enclosing;
  m_mode = m_streams ? m_streams->mode : kHlslMode;
  return S_OK;
}

HRESULT ShaderPreprocessor::ReadToken(std::uint32_t mode, SourceToken* token) {
  if (!m_queue.Empty()) {
    *token = m_queue.Back();
    m_queue.PopBack();
    token->file = m_lexer->Position().file;
    token->line = m_lexer->Position().line;
    return S_OK;
  }
  m_expansionChain = 0;
  return m_lexer->ScanToken(mode, token);
}

HRESULT ShaderPreprocessor::NextToken(SourceToken* token) {
  for (;;) {
    if (m_stopped || (m_streams && m_streams->braceDepth == 0) || !m_lexer) {
      m_token.kind = kTokenEndOfInput;
      *token = m_token;
      return m_stopped ? E_FAIL : S_OK;
    }
    const bool queued = !m_queue.Empty();
    const HRESULT hr = ReadToken(m_mode, &m_token);
    if (FAILED(hr)) return hr;
    SourceToken& t = m_token;
    if (queued) m_atLineStart = false;
    if (m_atLineStart && IsPunctuator(t, "#")) {
      if (!RunDirective()) continue;
      if (m_stopped || t.kind != kTokenEndOfInput) {
        *token = t;
        return m_stopped ? E_FAIL : S_OK;
      }
    }
    if (t.kind == kTokenEndOfInput) {
      EndOfSource();  // an included source gives an end of line instead
      *token = t;
      return S_OK;
    }
    if (t.kind == kTokenIdentifier) {
      if (const MacroDefinition* macro = FindMacro(t)) {
        const SourceToken name = t;
        if (ExpandMacro(name, *macro)) continue;
      }
      if (std::strcmp(t.value.text, "__FILE__") == 0) {
        MakeFileToken(&t);
      } else if (std::strcmp(t.value.text, "__LINE__") == 0) {
        MakeLineToken(&t);
      }
    }
    m_atLineStart = t.kind == kTokenEndOfLine;
    if (!m_active) continue;
    // A nested stream ends at the brace that closes its own.
    if (m_streams && m_streams->enclosing) {
      if (IsPunctuator(t, "{")) {
        ++m_streams->braceDepth;
      } else if (IsPunctuator(t, "}") && m_streams->braceDepth != 0 && --m_streams->braceDepth == 0) {
        t.kind = kTokenEndOfInput;
      }
    }
    *token = t;
    return S_OK;
  }
}

// After the "#" that starts a line: parse and carry out the directive, then
// make sure its whole line is read. True when m_token, the line's end, is to
// be delivered or (an end of input of this very source) handled as such.
bool ShaderPreprocessor::RunDirective() {
  m_pendingActive = m_active;
  m_atLineStart = m_directiveError = false;
  m_expectKeyword = true;
  IncludeSource* const lineSource = m_currentSource;
  if (ParseIfExpression() != 0) m_directiveError = true;
  if (!m_atLineStart && !m_directiveError) {
    if (SUCCEEDED(ReadToken(m_mode | kLexFileName, &m_token)) && !IsLineEnd(m_token)) {
      if (m_active) GXL_SHADER_REPORT(m_log, &m_token, msg::kTokensAfterDirective);
      m_directiveError = true;
    } else {
      m_atLineStart = true;
    }
  }
  if (!m_atLineStart) ConsumeLine();
  // An #include read on this line takes over from here.
  SetCurrentSource(m_topSource.get());
  m_active = m_pendingActive;
  if (m_token.kind == kTokenEndOfInput) {
    if (m_currentSource == lineSource) return true;
    m_token.kind = kTokenEndOfLine;
  }
  return m_active;
}

void ShaderPreprocessor::ConsumeLine() {
  if (!IsLineEnd(m_token)) {
    SkipRestOfLine();
    ReadToken(m_mode, &m_token);
  }
  m_atLineStart = true;
}

bool ShaderPreprocessor::EndOfSource() {
  if (m_currentSource->conditionals) {
    GXL_SHADER_REPORT(m_log, &m_token, msg::kUnexpectedEndOfFile);
    m_currentSource->conditionals = nullptr;  // discarded with the source, reported once
  }
  if (!m_topSource->includer) return false;
  std::unique_ptr<IncludeSource> includer = std::move(m_topSource->includer);
  m_topSource = std::move(includer);  // hands the included text back
  SetCurrentSource(m_topSource.get());
  m_atLineStart = true;
  m_token.kind = kTokenEndOfLine;
  m_token.length = 0;
  return true;
}

// __FILE__ as a string token and __LINE__ as an integer, with texts that
// read back as the same token.
void ShaderPreprocessor::MakeFileToken(SourceToken* t) {
  const char* file = m_lexer->Position().file ? m_lexer->Position().file : "";
  const std::size_t length = std::strlen(file);
  auto* text = static_cast<char*>(m_pool.Allocate(2 * length + 3, 1));
  if (!text) return;
  std::size_t n = 0;
  text[n++] = '"';
  for (const char* p = file; *p; ++p) {
    if (*p == '"' || *p == '\\') text[n++] = '\\';
    text[n++] = *p;
  }
  text[n++] = '"';
  text[n] = '\0';
  t->kind = kTokenString;
  t->value.text = file;
  t->start = text;
  t->length = n;
}

void ShaderPreprocessor::MakeLineToken(SourceToken* t) {
  auto* text = static_cast<char*>(m_pool.Allocate(12, 1));
  if (!text) return;
  t->kind = kTokenInt;
  t->value.bits = 0;
  t->value.number = t->line;
  t->start = text;
  t->length = static_cast<std::size_t>(std::snprintf(text, 12, "%u", t->line));
}

HRESULT ShaderPreprocessor::GetPosition(const char** fileName, std::uint32_t* line) const {
  const SourceToken* position = m_currentSource ? &m_currentSource->lexer.Position() : nullptr;
  if (fileName) *fileName = position ? position->file : nullptr;
  if (line) *line = position ? position->line : 0;
  return S_OK;
}

void ShaderPreprocessor::GetMainSourceRest(const char** position, std::uint32_t* remaining) const {
  const IncludeSource* main = m_topSource.get();
  while (main && main->includer) main = main->includer.get();
  const char* cursor = main ? main->lexer.Cursor() : nullptr;
  const char* end = main ? main->lexer.End() : nullptr;
  if (position) *position = cursor;
  if (remaining) *remaining = cursor < end ? static_cast<std::uint32_t>(end - cursor) : 0;
}

}  // namespace gxl::shader

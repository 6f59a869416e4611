#include "gxl/shader/shader_preprocessor.h"

#include <cstring>
#include <new>

#include "gxl/math/services.h"
#include "gxl/shader/compiler_lock.h"
#include "gxl/shader/messages.h"
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

bool IsPunctuator(const SourceToken& t, char c) {
  return t.kind == kTokenPunctuator && t.value.punctuator[0] == c && t.value.punctuator[1] == '\0';
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
    const auto* wide = static_cast<LPCWSTR>(name);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return E_FAIL;
    auto* converted = static_cast<char*>(pool->Allocate(static_cast<std::size_t>(bytes), 1));
    if (!converted) return E_OUTOFMEMORY;
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, converted, bytes, nullptr, nullptr);
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
  (void)defines;  // the macro table takes the predefined and the caller's macros here
  m_topSource = std::move(source);
  m_currentSource = m_topSource.get();
  m_include = include;
  return S_OK;
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

HRESULT ShaderPreprocessor::NextToken(SourceToken* token) {
  if (m_stopped || (m_streams && m_streams->braceDepth == 0) || !m_currentSource) {
    m_token.kind = kTokenEndOfInput;
    *token = m_token;
    return m_stopped ? E_FAIL : S_OK;
  }
  const HRESULT hr = m_currentSource->lexer.ScanToken(m_mode, &m_token);
  if (FAILED(hr)) return hr;
  m_atLineStart = m_token.kind == kTokenEndOfLine;
  // A nested stream ends at the brace that closes its own.
  if (m_streams && m_streams->enclosing) {
    if (IsPunctuator(m_token, '{')) {
      ++m_streams->braceDepth;
    } else if (IsPunctuator(m_token, '}') && m_streams->braceDepth != 0 && --m_streams->braceDepth == 0) {
      m_token.kind = kTokenEndOfInput;
    }
  }
  *token = m_token;
  return S_OK;
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

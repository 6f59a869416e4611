// The context of one shader-tool run and the token pump that the parsers pull
// from. Constructing it takes the compiler lock, makes the run's page pool
// current, switches the thread to the "C" numeric locale and masks the
// floating-point exceptions with 64-bit x87 precision; destroying it gives all
// of that back. Tokens come from the main source, opened from a file, a module
// resource or memory.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/include_source.h"
#include "gxl/shader/message_log.h"
#include "gxl/shader/page_pool.h"
#include "gxl/shader/source_token.h"
#include "platform/win_kernel.h"

namespace gxl::shader {

// A caller's macro definition; arrays of them end with a null name.
struct ShaderMacro {
  const char* name;
  const char* definition;
};

class ShaderPreprocessor {
 public:
  // The lexer mode of HLSL token streams, the mode at the start of a run.
  static constexpr std::uint32_t kHlslMode = 1;

  ShaderPreprocessor();
  ~ShaderPreprocessor();
  ShaderPreprocessor(const ShaderPreprocessor&) = delete;
  ShaderPreprocessor& operator=(const ShaderPreprocessor&) = delete;

  // Open the main source; a run has one. A file is read through the include
  // interface when one is given, else mapped under its full path. A memory
  // text of length 0xFFFFFFFF runs to its NUL; a null text must have length 0.
  // Failures are logged (X1507, X1512) and returned as they are.
  HRESULT StartFromFile(const void* name, bool isWide, const ShaderMacro* defines, ShaderInclude* include);
  HRESULT StartFromResource(HMODULE module, const void* name, bool isWide, const ShaderMacro* defines,
                            ShaderInclude* include);
  HRESULT StartFromMemory(const char* text, UINT length, const ShaderMacro* defines, ShaderInclude* include);

  // Opens a file into source: through the include interface when one is given
  // (includeType and the including text are passed on), else mapped directly,
  // its full path becoming the file name and its folder the source's
  // directory. A failure is logged as X1507 at position.
  static HRESULT OpenSourceFile(IncludeSource* source, const void* name, bool isWide, PagePool* pool,
                                const SourceToken* position, MessageLog* log, ShaderInclude* include,
                                DWORD includeType, const void* parentData);

  // A parser's stream of tokens, lexed in mode. A stream begun inside another
  // ends at the "}" that closes the braces opened in it: that token and every
  // one after it arrive as end of input.
  HRESULT BeginTokenStream(std::uint32_t mode);
  // Drops the tokens left in the stream up to its end and returns to the
  // enclosing stream; D3DERR_INVALIDCALL when none was begun.
  HRESULT EndTokenStream();
  // S_OK and the next token; once the run is stopped, end of input and E_FAIL.
  HRESULT NextToken(SourceToken* token);

  // The current source's file name and line; either out may be null.
  HRESULT GetPosition(const char** fileName, std::uint32_t* line) const;
  // Where the main (outermost) source is read next and the bytes left after it.
  void GetMainSourceRest(const char** position, std::uint32_t* remaining) const;

  MessageLog& Log() { return m_log; }
  PagePool& Pool() { return m_pool; }

 private:
  // Holds the compiler lock for the run and makes the run's pool the current one.
  class RunLock {
   public:
    explicit RunLock(PagePool* pool);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

   private:
    PagePool* m_savedPool;
  };

  struct TokenStream {
    std::uint32_t mode;
    TokenStream* enclosing;
    std::uint32_t braceDepth;
  };

  HRESULT StartSource(std::unique_ptr<IncludeSource> source, const ShaderMacro* defines, ShaderInclude* include);

  // Construction and destruction run in the order of these members.
  PagePool m_pool;
  MessageLog m_log;
  RunLock m_lock;
  platform::ScopedCNumericLocale m_locale;
  platform::ScopedFpEnv m_fpEnv;

  bool m_atLineStart = true;
  bool m_stopped = false;
  TokenStream* m_streams = nullptr;
  std::unique_ptr<IncludeSource> m_topSource;
  IncludeSource* m_currentSource = nullptr;
  ShaderInclude* m_include = nullptr;
  SourceToken m_token;
  std::uint32_t m_mode = kHlslMode;
};

}  // namespace gxl::shader

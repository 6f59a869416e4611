// The context of one shader-tool run and the token pump that the parsers pull
// from. Constructing it takes the compiler lock, makes the run's page pool
// current, switches the thread to the "C" numeric locale and masks the
// floating-point exceptions with 64-bit x87 precision; destroying it gives all
// of that back. Tokens come from the main source, opened from a file, a module
// resource or memory, with directives carried out, macros expanded, inactive
// conditional sections left out and included files read in place.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/preprocessor/include_source.h"
#include "gxl/shader/preprocessor/macro_table.h"
#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/core/source_token.h"
#include "platform/win_kernel.h"

namespace gxl::shader {

// A caller's macro definition; arrays of them end with a null name.
struct ShaderMacro {
  const char* name;
  const char* definition;
};

// A "#pragma def(target, register, x, y, z, w)" line, read by code generation.
struct DefPragma {
  const char* target;
  const char* registerName;
  double values[4];
  DefPragma* next;  // sorted by register name, ignoring case; newest first among equals
};

// "#pragma pack_matrix" values.
constexpr std::uint32_t kPackMatrixRowMajor = 1024;
constexpr std::uint32_t kPackMatrixColumnMajor = 2048;

class ShaderPreprocessor {
 public:
  // The lexer mode of HLSL token streams, the mode at the start of a run.
  static constexpr std::uint32_t kHlslMode = 1;
  // Sources open at once: the main source and 31 nested includes.
  static constexpr int kMaxOpenSources = 32;
  // Macro expansions in a row without a token from the source text; a call
  // that keeps re-creating itself (F(F) with F(x) as x(x)) ends here.
  static constexpr std::uint32_t kMaxExpansionChain = 1u << 20;

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
  // S_OK and the next preprocessed token; once the run is stopped, end of
  // input and E_FAIL.
  HRESULT NextToken(SourceToken* token);

  // The current source's file name and line; either out may be null.
  HRESULT GetPosition(const char** fileName, std::uint32_t* line) const;
  // Where the main (outermost) source is read next and the bytes left after it.
  void GetMainSourceRest(const char** position, std::uint32_t* remaining) const;

  MessageLog& Log() { return m_log; }
  PagePool& Pool() { return m_pool; }
  // 0, kPackMatrixRowMajor or kPackMatrixColumnMajor.
  std::uint32_t PackMatrix() const { return m_packMatrix; }
  const DefPragma* DefPragmas() const { return m_defPragmas; }

 private:
  friend struct DirectiveGrammar;

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
  void SetCurrentSource(IncludeSource* source);

  // The token pump (shader_preprocessor.cpp).
  // The next raw token: queued expansion first, else the current lexer.
  HRESULT ReadToken(std::uint32_t mode, SourceToken* token);
  // Runs a directive line; false when nothing is to be delivered.
  bool RunDirective();
  // The end of the current source: reports an #if left open in it, then
  // closes it when it was included (true) or leaves the main one (false).
  bool EndOfSource();
  // Reads through the end of the current line into m_token; sets atLineStart.
  void ConsumeLine();
  void MakeFileToken(SourceToken* token);
  void MakeLineToken(SourceToken* token);

  // Macros (shader_macros.cpp).
  HRESULT DefineMacros(const ShaderMacro* defines);
  // Reads a definition after its name from the current lexer: parameters
  // when fromDirective and "(" follows the name at once, then the body up to
  // the end of the line.
  HRESULT ParseDefine(const char* name, std::size_t length, bool fromDirective);
  HRESULT DefineMacro(MacroDefinition* macro);
  void Undefine(const char* name, std::size_t length);
  MacroDefinition* FindMacro(const SourceToken& name);
  // 1 when the expansion was queued; 0 when the name stays an identifier.
  int ExpandMacro(const SourceToken& name, const MacroDefinition& macro);
  bool OpenCall();
  // Collects the arguments of a call; false with the call dropped.
  bool CollectArguments(const SourceToken& name, const MacroDefinition& macro);
  bool Substitute(const MacroDefinition& macro);
  bool Paste();
  // The first token of text, scanned with the operator's position; false
  // when it holds none.
  bool ScanText(const char* text, std::size_t length, const SourceToken& position, SourceToken* token);
  bool Stringize(std::size_t first, const SourceToken& op);

  // Directives (shader_directives.cpp); each failure sets directiveError.
  int ParseIfExpression();
  void SyntaxError();
  void Include();
  const char* ResolveIncludeName(const char* name);
  void Line(std::uint32_t number, const char* fileName);
  void ErrorDirective();
  void PushConditional(bool value);
  ConditionalRecord* InnermostConditional(const Message& none, const Message* afterElse);
  void Elif(bool value);
  void Else();
  void Endif();
  void SkipRestOfLine();
  void Pragma();
  bool PragmaPackMatrix();
  bool PragmaWarning(HRESULT* applied);
  bool PragmaDef();
  // Reads the next token of a pragma line: is it the punctuator, the line's end?
  bool NextIs(const char* punctuator);
  bool NextEndsLine();

  // Construction and destruction run in the order of these members.
  PagePool m_pool;
  MessageLog m_log;
  RunLock m_lock;
  platform::ScopedCNumericLocale m_locale;
  platform::ScopedFpEnv m_fpEnv;

  std::uint32_t m_packMatrix = 0;
  DefPragma* m_defPragmas = nullptr;
  bool m_atLineStart = true;     // the last token delivered ended a line
  bool m_directiveError = false;
  bool m_stopped = false;
  bool m_expectKeyword = true;   // a directive's first word is next
  bool m_active = true;          // the current conditional branch is emitted
  bool m_pendingActive = true;   // taken over at the end of a conditional's line
  bool m_inExpression = false;   // macros in #if and #elif lines are expanded
  TokenStream* m_streams = nullptr;
  PodArray<SourceToken> m_queue;  // expansions waiting, the next token last
  std::uint32_t m_expansionChain = 0;
  MacroTable m_macros;
  std::unique_ptr<IncludeSource> m_topSource;
  IncludeSource* m_currentSource = nullptr;
  SourceLexer* m_lexer = nullptr;  // the current source's, or a caller definition's
  ShaderInclude* m_include = nullptr;
  SourceToken m_token;
  std::uint32_t m_mode = kHlslMode;
  ConditionalRecord* m_freeConditionals = nullptr;
  // Scratch of one expansion: argument tokens and where each argument ends,
  // the produced list, and text being joined.
  PodArray<SourceToken> m_arguments;
  PodArray<std::size_t> m_argumentEnds;
  PodArray<SourceToken> m_expansion;
  PodArray<char> m_text;
};

}  // namespace gxl::shader

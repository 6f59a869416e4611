// One open source of a preprocessing run (the main source or an included
// file) and the caller's include interface that may supply the text.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/core/source_lexer.h"
#include "gxl/tex/mapped_file.h"
#include "platform/win_types.h"

namespace gxl::shader {

// Include types: a name in double quotes, a name in angle brackets.
constexpr DWORD kIncludeLocal = 0;
constexpr DWORD kIncludeSystem = 1;

// Supplies the text of included files (and of the main file, when given).
class ShaderInclude {
 public:
  // The text of the named file and its size; parentData is the text of the
  // including file when that came from here too, else null.
  virtual HRESULT Open(DWORD includeType, const char* name, const void* parentData, const void** data,
                       UINT* bytes) = 0;
  // Takes back a text that Open handed out.
  virtual HRESULT Close(const void* data) = 0;

 protected:
  ~ShaderInclude() = default;
};

// One open #if of a source.
struct ConditionalRecord {
  bool taken;            // a branch has been emitted (from the start when met inactive)
  bool enclosingActive;  // the active state when the #if was met
  bool elseSeen;
  ConditionalRecord* below;
};

struct IncludeSource {
  IncludeSource() = default;
  ~IncludeSource() {
    if (include) include->Close(text);
  }
  IncludeSource(const IncludeSource&) = delete;
  IncludeSource& operator=(const IncludeSource&) = delete;

  SourceLexer lexer;
  MappedFile file;
  ResourceData resource;
  ShaderInclude* include = nullptr;  // the interface whose text this is
  const char* fileName = nullptr;    // as shown in messages; null for memory and resources
  const char* directory = nullptr;   // of a directly mapped file, with its final separator
  const void* text = nullptr;
  UINT bytes = 0;
  ConditionalRecord* conditionals = nullptr;  // innermost first; records live in the run's pool
  std::unique_ptr<IncludeSource> includer;    // the source that included this one
};

}  // namespace gxl::shader

// Fragment gathering: every `vertexfragment` and `pixelfragment` global of an
// HLSL source, compiled from its compile expression or taken from its asm
// block, packed in declaration order into one fragment set:
//
//   0x7FFE0000, then per fragment a comment block
//     { token (0xFFFE, length 3 + n + c), "FRAG", 8, 8 + 4n,
//       n words: the name, zero-terminated and zero-padded,
//       c words: the code, zero-padded },
//   then the end token 0x0000FFFF.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/core/syntax_tree.h"
#include "platform/win_types.h"

class DataBuffer;

namespace gxl::shader {

class ShaderPreprocessor;

constexpr DWORD kFragmentSetVersion = 0x7FFE0000;
// Added to the caller's flags for every fragment compile.
constexpr std::uint32_t kFragmentCompileFlags = 0x102;

// What gathering needs of the compile driver: one function of the parsed
// source compiled for a profile, with the arguments of the call that names it.
class FragmentFunctionCompiler {
 public:
  virtual ~FragmentFunctionCompiler() = default;
  // function and arguments are the call's two operands (the candidate list and
  // the "Parameters" list). S_OK with new code, or a failure whose reasons are
  // in the run's log.
  virtual HRESULT CompileFunction(const ProgramNode* tree, const ParseNode* function, const ParseNode* arguments,
                                  const char* profile, std::uint32_t flags, DataBuffer** code) = 0;
};

// The compiler the public entry points use for a run over context; null when
// it cannot be made.
std::unique_ptr<FragmentFunctionCompiler> NewFragmentFunctionCompiler(ShaderPreprocessor* context);

// Parses the context's source with flags and writes the fragment set to *out
// (which is left alone on failure). E_FAIL when there is no fragment, when a
// fragment's value is neither a compile expression nor code (X2904) or its
// block would pass the size of a comment (X2903); a compile failure (X2903);
// the parser's failure; E_OUTOFMEMORY or the buffer creator's failure.
HRESULT CompileFragmentSource(ShaderPreprocessor* context, std::uint32_t flags, FragmentFunctionCompiler* compiler,
                              DataBuffer** out);

// The rest of an entry point once its source was opened with result `opened`:
// the gathering (E_OUTOFMEMORY without a compiler), GXLERR_INVALIDDATA when
// errors were logged, the set handed out only on success (fragments, when
// given, stays null otherwise) and the log joined into messages when given.
HRESULT FinishFragmentRun(ShaderPreprocessor* context, HRESULT opened, std::uint32_t flags,
                          FragmentFunctionCompiler* compiler, DataBuffer** fragments, DataBuffer** messages);

}  // namespace gxl::shader

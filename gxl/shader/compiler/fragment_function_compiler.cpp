// The compiler behind the public fragment entry points. The compile driver
// cannot yet compile a single function with the arguments of a call, so every
// compile-expression fragment fails here (the gathering reports X2903); asm
// fragments need no compiler and gather in full.
#include <new>

#include "gxl/shader/compiler/fragment_gathering.h"

namespace gxl::shader {

namespace {

class UnavailableFunctionCompiler final : public FragmentFunctionCompiler {
 public:
  HRESULT CompileFunction(const ProgramNode*, const ParseNode*, const ParseNode*, const char*, std::uint32_t,
                          DataBuffer** code) override {
    *code = nullptr;
    return E_NOTIMPL;
  }
};

}  // namespace

std::unique_ptr<FragmentFunctionCompiler> NewFragmentFunctionCompiler(ShaderPreprocessor*) {
  return std::unique_ptr<FragmentFunctionCompiler>(new (std::nothrow) UnavailableFunctionCompiler);
}

}  // namespace gxl::shader

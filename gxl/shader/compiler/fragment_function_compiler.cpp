// The compiler behind the public fragment entry points: the compile driver
// over the run's preprocessor, one function at a time.
#include <new>

#include "gxl/shader/compiler/fragment_gathering.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

namespace {

class DriverFunctionCompiler final : public FragmentFunctionCompiler {
 public:
  explicit DriverFunctionCompiler(ShaderPreprocessor* context) : m_context(context) {}

  HRESULT CompileFunction(const ProgramNode* tree, const ParseNode* function, const ParseNode* arguments,
                          const char* profile, std::uint32_t flags, DataBuffer** code) override {
    return m_compiler.CompileFunction(m_context, tree, function, arguments, 1, profile, flags, code, nullptr);
  }

 private:
  ShaderPreprocessor* m_context;
  ShaderCompiler m_compiler;
};

}  // namespace

std::unique_ptr<FragmentFunctionCompiler> NewFragmentFunctionCompiler(ShaderPreprocessor* context) {
  return std::unique_ptr<FragmentFunctionCompiler>(new (std::nothrow) DriverFunctionCompiler(context));
}

}  // namespace gxl::shader

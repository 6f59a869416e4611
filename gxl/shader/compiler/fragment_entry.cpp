#include <memory>

#include "gxl/shader/compiler/fragment_gathering.h"
#include "gxl/shader/shader_entry.h"

namespace {

using gxl::shader::ShaderPreprocessor;

// One fragment run around a way of opening its main source; the run holds
// the compiler lock from the preprocessor's construction to its destruction.
template <typename Open>
HRESULT FragmentRun(Open open, DWORD flags, DataBuffer** fragments, DataBuffer** messages) {
  ShaderPreprocessor pp;
  const HRESULT opened = open(pp);
  const std::unique_ptr<gxl::shader::FragmentFunctionCompiler> compiler = gxl::shader::NewFragmentFunctionCompiler(&pp);
  return gxl::shader::FinishFragmentRun(&pp, opened, flags, compiler.get(), fragments, messages);
}

}  // namespace

HRESULT CompileFragmentsFromFileA(LPCSTR file, const gxl::shader::ShaderMacro* defines,
                                  gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                  DataBuffer** messages) {
  return FragmentRun([&](ShaderPreprocessor& pp) { return pp.StartFromFile(file, false, defines, include); }, flags,
                     fragments, messages);
}

HRESULT CompileFragmentsFromFileW(LPCWSTR file, const gxl::shader::ShaderMacro* defines,
                                  gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                  DataBuffer** messages) {
  return FragmentRun([&](ShaderPreprocessor& pp) { return pp.StartFromFile(file, true, defines, include); }, flags,
                     fragments, messages);
}

HRESULT CompileFragmentsFromResourceA(HMODULE module, LPCSTR resource, const gxl::shader::ShaderMacro* defines,
                                      gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                      DataBuffer** messages) {
  return FragmentRun(
      [&](ShaderPreprocessor& pp) { return pp.StartFromResource(module, resource, false, defines, include); }, flags,
      fragments, messages);
}

HRESULT CompileFragmentsFromResourceW(HMODULE module, LPCWSTR resource, const gxl::shader::ShaderMacro* defines,
                                      gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                      DataBuffer** messages) {
  return FragmentRun(
      [&](ShaderPreprocessor& pp) { return pp.StartFromResource(module, resource, true, defines, include); }, flags,
      fragments, messages);
}

HRESULT CompileFragmentsFromMemory(const char* text, UINT length, const gxl::shader::ShaderMacro* defines,
                                   gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                   DataBuffer** messages) {
  return FragmentRun([&](ShaderPreprocessor& pp) { return pp.StartFromMemory(text, length, defines, include); }, flags,
                     fragments, messages);
}

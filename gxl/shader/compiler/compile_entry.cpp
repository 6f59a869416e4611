#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace {

using gxl::shader::ShaderPreprocessor;

// Every compile of the entry points leaves the preshader alone.
constexpr DWORD kEntryCompileFlags = 0x100;

// One compile run around a way of opening its main source; the run holds the
// compiler lock from the preprocessor's construction to its destruction.
template <typename Open>
HRESULT CompileRun(Open open, LPCSTR entry, LPCSTR profile, DWORD flags, DataBuffer** code, DataBuffer** messages,
                   ConstantTable** constantTable) {
  ShaderPreprocessor pp;
  if (code) *code = nullptr;
  if (constantTable) *constantTable = nullptr;
  gxl::ComRef<DataBuffer> produced;
  gxl::ComRef<ConstantTable> table;
  HRESULT hr = D3DERR_INVALIDCALL;
  if (!(flags & ~kCompileFlagMask)) {
    hr = open(pp);
    if (SUCCEEDED(hr)) {
      // The compiler goes before the error count is read.
      gxl::shader::ShaderCompiler compiler;
      hr = compiler.CompileSource(&pp, nullptr, entry, 0, profile, flags | kEntryCompileFlags, produced.Put(),
                                  table.Put());
    }
    if (SUCCEEDED(hr)) {
      if (pp.Log().ErrorCount() != 0) {
        hr = GXLERR_INVALIDDATA;
      } else {
        if (code) *code = produced.Detach();
        if (constantTable) *constantTable = table.Detach();
      }
    }
  }
  if (messages) pp.Log().JoinMessages(messages);
  return hr;
}

}  // namespace

HRESULT CompileShaderFromFileA(LPCSTR file, const gxl::shader::ShaderMacro* defines,
                               gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                               DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable) {
  return CompileRun([&](ShaderPreprocessor& pp) { return pp.StartFromFile(file, false, defines, include); }, entry,
                    profile, flags, code, messages, constantTable);
}

HRESULT CompileShaderFromFileW(LPCWSTR file, const gxl::shader::ShaderMacro* defines,
                               gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                               DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable) {
  return CompileRun([&](ShaderPreprocessor& pp) { return pp.StartFromFile(file, true, defines, include); }, entry,
                    profile, flags, code, messages, constantTable);
}

HRESULT CompileShaderFromResourceA(HMODULE module, LPCSTR resource, const gxl::shader::ShaderMacro* defines,
                                   gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                                   DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable) {
  return CompileRun(
      [&](ShaderPreprocessor& pp) { return pp.StartFromResource(module, resource, false, defines, include); }, entry,
      profile, flags, code, messages, constantTable);
}

HRESULT CompileShaderFromResourceW(HMODULE module, LPCWSTR resource, const gxl::shader::ShaderMacro* defines,
                                   gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                                   DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable) {
  return CompileRun(
      [&](ShaderPreprocessor& pp) { return pp.StartFromResource(module, resource, true, defines, include); }, entry,
      profile, flags, code, messages, constantTable);
}

HRESULT CompileShaderFromMemory(const char* text, UINT length, const gxl::shader::ShaderMacro* defines,
                                gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                                DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable) {
  return CompileRun([&](ShaderPreprocessor& pp) { return pp.StartFromMemory(text, length, defines, include); }, entry,
                    profile, flags, code, messages, constantTable);
}

#include "gxl/shader/assembler/shader_assembler.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace {

using gxl::shader::ShaderPreprocessor;

// One assemble run around a way of opening its main source.
template <typename Open>
HRESULT AssembleRun(Open open, DWORD flags, DataBuffer** code, DataBuffer** messages) {
  ShaderPreprocessor pp;
  if (code) *code = nullptr;
  gxl::ComRef<DataBuffer> produced;
  HRESULT hr = D3DERR_INVALIDCALL;
  if (!(flags & ~(kAssembleDebugInfo | kAssembleSkipValidation))) {
    hr = open(pp);
    if (SUCCEEDED(hr)) {
      gxl::shader::ShaderAssembler assembler;
      hr = assembler.Assemble(&pp, flags, nullptr, produced.Put());
    }
    if (SUCCEEDED(hr)) {
      if (pp.Log().ErrorCount() != 0)
        hr = GXLERR_INVALIDDATA;
      else if (code)
        *code = produced.Detach();
    }
  }
  if (messages) pp.Log().JoinMessages(messages);
  return hr;
}

}  // namespace

HRESULT AssembleShaderFromFileA(LPCSTR file, const gxl::shader::ShaderMacro* defines,
                                gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                DataBuffer** messages) {
  return AssembleRun([&](ShaderPreprocessor& pp) { return pp.StartFromFile(file, false, defines, include); }, flags,
                     code, messages);
}

HRESULT AssembleShaderFromFileW(LPCWSTR file, const gxl::shader::ShaderMacro* defines,
                                gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                DataBuffer** messages) {
  return AssembleRun([&](ShaderPreprocessor& pp) { return pp.StartFromFile(file, true, defines, include); }, flags,
                     code, messages);
}

HRESULT AssembleShaderFromResourceA(HMODULE module, LPCSTR resource, const gxl::shader::ShaderMacro* defines,
                                    gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                    DataBuffer** messages) {
  return AssembleRun(
      [&](ShaderPreprocessor& pp) { return pp.StartFromResource(module, resource, false, defines, include); }, flags,
      code, messages);
}

HRESULT AssembleShaderFromResourceW(HMODULE module, LPCWSTR resource, const gxl::shader::ShaderMacro* defines,
                                    gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                    DataBuffer** messages) {
  return AssembleRun(
      [&](ShaderPreprocessor& pp) { return pp.StartFromResource(module, resource, true, defines, include); }, flags,
      code, messages);
}

HRESULT AssembleShaderFromMemory(const char* text, UINT length, const gxl::shader::ShaderMacro* defines,
                                 gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                 DataBuffer** messages) {
  return AssembleRun([&](ShaderPreprocessor& pp) { return pp.StartFromMemory(text, length, defines, include); }, flags,
                     code, messages);
}

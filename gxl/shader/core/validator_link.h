// The platform's shader validator as the shader tools reach it: "d3d9.dll"
// (already loaded, else loaded here), its "Direct3DShaderValidatorCreate9"
// export and the object that makes. Without any of them a run goes
// unvalidated; that is no error.
#pragma once

#include "gxl/tex/com_ref.h"
#include "platform/d3d9_api.h"
#include "platform/win_types.h"

namespace gxl::shader {

class ValidatorLink {
 public:
  ValidatorLink() = default;
  ~ValidatorLink() { Release(); }
  ValidatorLink(const ValidatorLink&) = delete;
  ValidatorLink& operator=(const ValidatorLink&) = delete;

  // Finds the validator and begins a run on it: S_OK with or without one, or
  // the failure of its Begin.
  HRESULT Begin(ShaderValidatorCallback callback, void* context, DWORD flags);
  // The validator, or null when there is none.
  ShaderValidator9* Get() const { return m_validator.Get(); }
  // The validator goes first: its code lives in the runtime that Begin may
  // have loaded, and that load is given back.
  void Release();

 private:
  ComRef<ShaderValidator9> m_validator;
  HMODULE m_loadedRuntime = nullptr;  // "d3d9.dll" when Begin loaded it
};

}  // namespace gxl::shader

#include "gxl/shader/core/validator_link.h"

#include <utility>

#include "platform/win_kernel.h"

namespace gxl::shader {

HRESULT ValidatorLink::Begin(ShaderValidatorCallback callback, void* context, DWORD flags) {
  Release();
  HMODULE d3d9 = GetModuleHandleA("d3d9.dll");
  if (!d3d9) d3d9 = m_loadedRuntime = LoadLibraryA("d3d9.dll");
  if (!d3d9) return S_OK;
  const auto create =
      reinterpret_cast<PFN_Direct3DShaderValidatorCreate9>(GetProcAddress(d3d9, "Direct3DShaderValidatorCreate9"));
  if (!create) return S_OK;
  m_validator = ComRef<ShaderValidator9>(create());
  if (!m_validator) return S_OK;
  return m_validator->Begin(callback, context, flags);
}

void ValidatorLink::Release() {
  m_validator.Reset();
  if (m_loadedRuntime) FreeLibrary(std::exchange(m_loadedRuntime, nullptr));
}

}  // namespace gxl::shader

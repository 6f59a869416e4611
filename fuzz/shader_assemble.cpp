// Shader assembly through the public assemble entry. The first byte holds
// the flags (bit 0 debug information, bit 1 no validation; from 0xF0 up a
// flag the entry refuses); the rest is the source.
#include <cstddef>
#include <cstdint>

#include "fuzz/shader_checks.h"

namespace {

using nura::fuzz::Require;
namespace sh = nura::fuzz::shader;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const DWORD flags = (data[0] & 3) | (data[0] >= 0xF0 ? 4 : 0);
  const auto* text = reinterpret_cast<const char*>(data + 1);
  const sh::FloatControl control;
  DataBuffer *code = sh::Untouched<DataBuffer>(), *messages = sh::Untouched<DataBuffer>();
  const HRESULT hr =
      AssembleShaderFromMemory(text, static_cast<UINT>(size - 1), nullptr, nullptr, flags, &code, &messages);
  const gxl::ComRef<DataBuffer> c = sh::Take(code, SUCCEEDED(hr), "a failed assembly hands out no code");
  const gxl::ComRef<DataBuffer> m = sh::Take(messages, true, "the assembly writes its messages");
  sh::CheckMessages(m.Get());
  Require(!(flags & 4) || hr == D3DERR_INVALIDCALL, "a flag outside the two is refused");
  if (SUCCEEDED(hr)) {
    Require(c.Get() != nullptr, "an assembly that succeeds hands out code");
    sh::CheckCode(c.Get(), !(flags & kAssembleSkipValidation));
    ConstantTable* table = sh::Untouched<ConstantTable>();
    const HRESULT made = CreateShaderConstantTable(static_cast<const DWORD*>(c->GetPointer()), &table);
    const gxl::ComRef<ConstantTable> t = sh::Take(table, SUCCEEDED(made), "a failed table is not handed out");
    if (t) sh::CheckTable(t.Get());
  }
  control.CheckRestored();
  sh::CheckLockFree();
  return 0;
}

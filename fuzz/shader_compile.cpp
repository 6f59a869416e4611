// HLSL through the public compile entry. Three leading bytes choose the call:
// the profile (one of the 44 rows of the profile table, or a name no table
// holds), the flags inside the mask (a bit each) and, in the third byte, an
// entry named by the source's first identifier instead of "main" (bit 0) and
// a flag outside the mask (bits 1-3). The rest is the source.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/shader_checks.h"
#include "gxl/shader/core/profiles.h"

namespace {

using nura::fuzz::Require;
namespace sh = nura::fuzz::shader;

// Names near the table's that it does not hold, and no name at all.
constexpr const char* kJunkProfiles[] = {nullptr, "", "vs_4_0", "PS_2_0", "ps_2_0 ", "ps.1.5", "tx_1_1", "fx_2_0"};
constexpr DWORD kMaskBits[] = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x200, 0x400};
constexpr DWORD kOutsideBits[] = {0, 0x40, 0x80, 0x100, 0x800, 0x1000, 0x80000000, 0xC0};

const char* Profile(std::uint8_t pick) {
  const std::size_t n = pick % (kShaderProfileCount + std::size(kJunkProfiles));
  return n < kShaderProfileCount ? ShaderProfileTable[n].name : kJunkProfiles[n - kShaderProfileCount];
}

std::string FirstIdentifier(std::string_view text) {
  const auto head = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
  std::size_t i = 0;
  while (i < text.size() && !head(text[i])) ++i;
  std::size_t end = i;
  while (end < text.size() && (head(text[end]) || std::isdigit(static_cast<unsigned char>(text[end])))) ++end;
  return std::string(text.substr(i, end - i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const char* profile = Profile(data[0]);
  DWORD flags = kOutsideBits[(data[2] >> 1) & 7];
  for (int i = 0; i < 8; ++i)
    if (data[1] & (1 << i)) flags |= kMaskBits[i];
  const std::string_view source(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::string entry = data[2] & 1 ? FirstIdentifier(source) : "main";

  const sh::FloatControl control;
  DataBuffer *code = sh::Untouched<DataBuffer>(), *messages = sh::Untouched<DataBuffer>();
  ConstantTable* table = sh::Untouched<ConstantTable>();
  const HRESULT hr = CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr,
                                             entry.c_str(), profile, flags, &code, &messages, &table);
  const gxl::ComRef<DataBuffer> c = sh::Take(code, SUCCEEDED(hr), "a failed compile hands out no code");
  const gxl::ComRef<ConstantTable> t = sh::Take(table, SUCCEEDED(hr), "a failed compile hands out no table");
  const gxl::ComRef<DataBuffer> m = sh::Take(messages, true, "the compile writes its messages");
  sh::CheckMessages(m.Get());
  if (SUCCEEDED(hr)) {
    Require(c.Get() != nullptr, "a compile that succeeds hands out code");
    sh::CheckCode(c.Get(), !(flags & kAssembleSkipValidation));
    if (sh::IsShaderVersion(*static_cast<const std::uint32_t*>(c->GetPointer()))) {
      Require(t.Get() != nullptr, "vertex and pixel code comes with a constant table");
      sh::CheckTable(t.Get());
    }
  }
  control.CheckRestored();
  sh::CheckLockFree();
  return 0;
}

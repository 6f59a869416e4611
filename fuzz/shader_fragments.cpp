// HLSL fragment sets through the public fragment entry. The first byte holds
// the flags, a bit each for the compile flags 0x1, 0x2, 0x4, 0x8, 0x10, 0x20,
// 0x200 and 0x400; the rest is the source. A set that comes back must read
// as one: a fragment-set version, then one "FRAG" block per fragment whose
// name ends inside it, then the end token.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/shader_checks.h"

namespace {

using nura::fuzz::Require;
namespace sh = nura::fuzz::shader;

constexpr DWORD kMaskBits[] = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x200, 0x400};

// A fragment's code is vertex or pixel code under a fragment version: it
// fills the rest of its block and decodes under the plain version.
void CheckFragmentCode(sh::Words code) {
  Require(!code.empty() && (code[0] >> 16 == 0x7FFE || code[0] >> 16 == 0x7FFF),
          "fragment code has a fragment version");
  Require(GetShaderSize(reinterpret_cast<const DWORD*>(code.data())) == 4 * code.size(),
          "GetShaderSize measures a fragment's code");
  code[0] |= 0x80000000;
  std::string text, error;
  if (!nura::shtok::Disassemble(code.data(), code.size(), &text, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  Require(error.empty(), "the token decoder reads a fragment's code");
}

void CheckSet(DataBuffer* set) {
  Require(set->GetSize() >= 8 && set->GetSize() % 4 == 0, "a fragment set is whole tokens");
  const sh::Words words = sh::ToWords(set);
  Require(GetShaderSize(reinterpret_cast<const DWORD*>(words.data())) == set->GetSize(),
          "GetShaderSize measures the fragment set");
  Require(words[0] == 0x7FFE0000, "a fragment set has the fragment-set version");
  std::size_t at = 1, fragments = 0;
  for (; words[at] != 0x0000FFFF; ++fragments) {
    Require((words[at] & 0xFFFF) == 0xFFFE, "a fragment set holds comment blocks");
    const std::size_t length = words[at] >> 16;
    Require(length >= 3 && at + 1 + length < words.size(), "a fragment block lies inside the set");
    Require(std::memcmp(&words[at + 1], "FRAG", 4) == 0, "a fragment block is tagged FRAG");
    // Offsets count from the word after the tag.
    const std::uint32_t name = words[at + 2], code = words[at + 3];
    Require(name == 8 && code > name && code % 4 == 0 && code < 4 * (length - 1),
            "a fragment's offsets lie inside its block");
    const auto* bytes = reinterpret_cast<const char*>(&words[at + 2]);
    Require(std::memchr(bytes + name, '\0', code - name) != nullptr, "a fragment's name ends inside its block");
    CheckFragmentCode(sh::Words(&words[at + 2] + code / 4, &words[at + 1 + length]));
    at += 1 + length;
  }
  Require(fragments > 0 && at + 1 == words.size(), "the set ends after its fragments");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  DWORD flags = 0;
  for (int i = 0; i < 8; ++i)
    if (data[0] & (1 << i)) flags |= kMaskBits[i];
  const auto* text = reinterpret_cast<const char*>(data + 1);
  const sh::FloatControl control;
  DataBuffer *set = sh::Untouched<DataBuffer>(), *messages = sh::Untouched<DataBuffer>();
  const HRESULT hr =
      CompileFragmentsFromMemory(text, static_cast<UINT>(size - 1), nullptr, nullptr, flags, &set, &messages);
  const gxl::ComRef<DataBuffer> s = sh::Take(set, SUCCEEDED(hr), "a failed run hands out no fragments");
  const gxl::ComRef<DataBuffer> m = sh::Take(messages, true, "the run writes its messages");
  sh::CheckMessages(m.Get());
  if (SUCCEEDED(hr)) {
    Require(s.Get() != nullptr, "a run that succeeds hands out fragments");
    CheckSet(s.Get());
  }
  control.CheckRestored();
  sh::CheckLockFree();
  return 0;
}

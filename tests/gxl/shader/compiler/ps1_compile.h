// HLSL compiled for a pixel shader profile through the public entry point,
// with its messages, constant table and decoded text.
#pragma once

#include <string>
#include <vector>

#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/shader/decode.h"

namespace ps1test {

using Compiled = shadertest::CompiledHlsl;

inline Compiled CompileHlsl(const std::string& source, const char* profile, const char* entry = "main") {
  return shadertest::CompileHlsl(source, entry, profile);
}

// The disassembly, or why there is none.
inline std::string Text(const std::vector<std::uint32_t>& code) {
  std::string text, error;
  return nura::shtok::Disassemble(code.data(), code.size(), &text, &error) ? text : "undecodable: " + error;
}

}  // namespace ps1test

// HLSL compiled for a pixel shader profile through the public entry point,
// with its messages, constant table and decoded text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/shader/decode.h"

namespace ps1test {

struct Compiled {
  HRESULT hr = E_FAIL;
  std::vector<std::uint32_t> code;
  std::string log;
  gxl::ComRef<ConstantTable> table;
};

inline Compiled CompileHlsl(const std::string& source, const char* profile, const char* entry = "main") {
  Compiled c;
  gxl::ComRef<DataBuffer> code, messages;
  c.hr = CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr, entry, profile, 0,
                                 code.Put(), messages.Put(), c.table.Put());
  if (messages) c.log = static_cast<const char*>(messages->GetPointer());
  if (code) {
    const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
    c.code.assign(words, words + code->GetSize() / 4);
  }
  return c;
}

// The disassembly, or why there is none.
inline std::string Text(const std::vector<std::uint32_t>& code) {
  std::string text, error;
  return nura::shtok::Disassemble(code.data(), code.size(), &text, &error) ? text : "undecodable: " + error;
}

}  // namespace ps1test

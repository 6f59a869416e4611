// One HLSL compile through the public entry point, with what the shader tests
// read of it: the code, the messages, the token kit's disassembly and the
// constant table.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace shadertest {

struct CompiledHlsl {
  HRESULT hr = E_FAIL;
  std::vector<std::uint32_t> code;
  std::string log;
  std::string text;  // the disassembly, or why there is none
  gxl::ComRef<ConstantTable> table;

  bool Logged(const std::string& s) const { return log.find(s) != std::string::npos; }
  // Lines of the disassembly that begin with `prefix`.
  std::vector<std::string> Lines(const std::string& prefix) const {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
  bool Has(const std::string& line) const {
    for (const std::string& l : Lines(line))
      if (l == line) return true;
    return false;
  }
  // A uniform's value where the constant table puts it (bool, int or float registers).
  void Set(nura::shtok::Interpreter& interp, const char* name, const nura::shtok::Float4& value) const {
    ConstantDesc desc{};
    UINT count = 1;
    const ConstantHandle handle = table ? table->ConstantByName(nullptr, name) : nullptr;
    if (!handle || FAILED(table->DescribeConstants(handle, &desc, &count))) return;
    const int reg = static_cast<int>(desc.registerIndex);
    if (desc.registerSet == 0) interp.SetBool(reg, value[0] != 0);
    if (desc.registerSet == 1)
      interp.SetInt(reg, static_cast<int>(value[0]), static_cast<int>(value[1]), static_cast<int>(value[2]),
                    static_cast<int>(value[3]));
    if (desc.registerSet == 2) interp.SetFloat(reg, value);
  }
  // A float uniform of `rows` x `columns` values given row after row, in the
  // registers the constant table gives it: rows, or with column packing columns.
  void SetFloats(nura::shtok::Interpreter& interp, const char* name, std::uint32_t rows, std::uint32_t columns,
                 const double* value) const {
    ConstantDesc desc{};
    UINT count = 1;
    const ConstantHandle handle = table ? table->ConstantByName(nullptr, name) : nullptr;
    if (!handle || FAILED(table->DescribeConstants(handle, &desc, &count))) return;
    const bool byColumns = desc.typeClass == 3;
    for (std::uint32_t r = 0; r < desc.registerCount; ++r) {
      float x[4] = {};
      for (std::uint32_t i = 0; i < 4; ++i) {
        const std::uint32_t row = byColumns ? i : r, column = byColumns ? r : i;
        if (row < rows && column < columns) x[i] = static_cast<float>(value[row * columns + column]);
      }
      interp.SetFloat(static_cast<int>(desc.registerIndex + r), nura::shtok::Float4(x[0], x[1], x[2], x[3]));
    }
  }
};

inline CompiledHlsl CompileHlsl(const std::string& source, const char* entry, const char* profile, DWORD flags = 0) {
  CompiledHlsl c;
  gxl::ComRef<DataBuffer> code, messages;
  c.hr = CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr, entry, profile,
                                 flags, code.Put(), messages.Put(), c.table.Put());
  if (messages) c.log = static_cast<const char*>(messages->GetPointer());
  if (code) {
    const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
    c.code.assign(words, words + code->GetSize() / 4);
    std::string error;
    if (!nura::shtok::Disassemble(c.code.data(), c.code.size(), &c.text, &error)) c.text = "undecodable: " + error;
  }
  return c;
}

}  // namespace shadertest

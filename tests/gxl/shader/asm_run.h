// Assembly runs for the tests: the result, the tokens and the message lines of
// one assemble call, and token streams as hex text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"

namespace shadertest {

struct AsmRun {
  HRESULT hr;
  std::vector<std::uint32_t> tokens;
  std::string log;
};

inline std::string Bytes(DataBuffer* buffer) {
  return buffer ? std::string(static_cast<const char*>(buffer->GetPointer()), buffer->GetSize()) : "";
}

inline AsmRun ToAsmRun(HRESULT hr, DataBuffer* code, DataBuffer* messages) {
  AsmRun run{hr, {}, ""};
  if (code) {
    const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
    run.tokens.assign(words, words + code->GetSize() / 4);
  }
  if (messages) run.log = static_cast<const char*>(messages->GetPointer());
  return run;
}

// Without the validator unless flags say otherwise.
inline AsmRun Assemble(const std::string& text, DWORD flags = kAssembleSkipValidation) {
  gxl::ComRef<DataBuffer> code, messages;
  const HRESULT hr = AssembleShaderFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr, flags,
                                              code.Put(), messages.Put());
  return ToAsmRun(hr, code.Get(), messages.Get());
}

inline std::string Hex(const std::uint32_t* words, std::size_t count) {
  std::string text;
  char word[12];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(word, sizeof word, "%s%08X", i ? " " : "", static_cast<unsigned>(words[i]));
    text += word;
  }
  return text;
}
inline std::string Hex(const std::vector<std::uint32_t>& words) { return Hex(words.data(), words.size()); }

// The tokens between the version and the end token.
inline std::string BodyHex(const AsmRun& run) {
  return run.tokens.size() < 2 ? "<none>" : Hex(run.tokens.data() + 1, run.tokens.size() - 2);
}

}  // namespace shadertest

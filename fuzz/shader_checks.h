// What the shader-tool targets check after every run: the outputs a result
// promises (code that measures, decodes, validates and reassembles to itself;
// a readable constant table; messages ending in NUL; nothing handed out on
// failure) and that the run gave back what it took (the compiler lock, the
// floating-point control words).
#pragma once

#include <fenv.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "d3d9/shader_tokens.h"
#include "d3d9/shader_validator.h"
#include "fuzz/fuzz_input.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/shader/decode.h"

namespace nura::fuzz::shader {

using Words = std::vector<std::uint32_t>;

// Preset into out-pointers, so that a failure leaving one untouched shows.
template <typename T>
T* Untouched() {
  alignas(16) static char mark;
  return reinterpret_cast<T*>(&mark);
}

// Takes an out-pointer's value over; a failed run must have cleared it.
template <typename T>
gxl::ComRef<T> Take(T* out, bool succeeded, const char* what) {
  Require(out != Untouched<T>(), what);
  Require(succeeded || out == nullptr, what);
  return gxl::ComRef<T>(out);
}

inline void CheckMessages(DataBuffer* messages) {
  if (!messages) return;
  const auto* text = static_cast<const char*>(messages->GetPointer());
  Require(messages->GetSize() >= 1 && text[messages->GetSize() - 1] == '\0', "the messages end in NUL");
}

inline Words ToWords(DataBuffer* buffer) {
  Words words(buffer->GetSize() / 4);
  if (!words.empty()) std::memcpy(words.data(), buffer->GetPointer(), words.size() * 4);
  return words;
}

inline bool IsShaderVersion(std::uint32_t version) { return (version >> 16) == 0xFFFE || (version >> 16) == 0xFFFF; }

// The stream without its comments, and with the literals of def that are NaN
// as 0: the decoder writes NaN as 0 (its bits in a comment).
inline Words InstructionTokens(const Words& code) {
  platform::shader::Version v;
  Require(!code.empty() && platform::shader::ParseVersion(code[0], &v), "decoded code has a version");
  Words out{code[0]};
  for (std::size_t pos = 1; pos < code.size();) {
    const platform::shader::Item item = platform::shader::ReadItem(code.data(), code.size(), pos, v);
    Require(item.kind != platform::shader::ItemKind::kError && item.kind != platform::shader::ItemKind::kIncomplete,
            "decoded code splits into items");
    if (item.kind != platform::shader::ItemKind::kComment) out.insert(out.end(), &code[pos], &code[item.next]);
    if (item.kind == platform::shader::ItemKind::kInstruction && item.instr.Op() == platform::shader::kDef)
      for (std::size_t i = 0; i < 4; ++i) {
        std::uint32_t& literal = out[out.size() - 4 + i];
        if ((literal & 0x7F800000) == 0x7F800000 && (literal & 0x7FFFFF) != 0) literal = 0;
      }
    if (item.kind == platform::shader::ItemKind::kEnd) break;
    pos = item.next;
  }
  return out;
}

// Code a run handed out: GetShaderSize measures the whole buffer; vertex and
// pixel code decodes, passes the validator (unless asked not to validate) and
// assembles from its decoded text to the same instruction tokens.
inline void CheckCode(DataBuffer* code, bool validate) {
  Require(code->GetSize() >= 8 && code->GetSize() % 4 == 0, "code is whole tokens");
  const Words words = ToWords(code);
  Require(GetShaderSize(reinterpret_cast<const DWORD*>(words.data())) == code->GetSize(),
          "GetShaderSize measures the code's buffer");
  if (!IsShaderVersion(words[0])) return;
  std::string text, error;
  if (!nura::shtok::Disassemble(words.data(), words.size(), &text, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    Require(false, "the token decoder reads the code");
  }
  if (validate) {
    platform::shader::StreamChecker checker;
    checker.Advance(words);
    checker.Finish(words);
    for (const auto& m : checker.Messages())
      std::fprintf(stderr, "validator %lu: %s\n", static_cast<unsigned long>(m.number), m.text.c_str());
    Require(checker.Messages().empty(), "the validator accepts the code");
  }
  DataBuffer* again = Untouched<DataBuffer>();
  const HRESULT hr = AssembleShaderFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr,
                                              kAssembleSkipValidation, &again, nullptr);
  const gxl::ComRef<DataBuffer> reassembled = Take(again, SUCCEEDED(hr), "reassembly clears its code");
  if (FAILED(hr)) std::fprintf(stderr, "%s", text.c_str());
  Require(SUCCEEDED(hr) && reassembled, "the decoded text assembles");
  if (InstructionTokens(ToWords(reassembled.Get())) != InstructionTokens(words)) {
    std::fprintf(stderr, "%s", text.c_str());
    Require(false, "the decoded text assembles to the same instruction tokens");
  }
}

// Every constant, member and last element of a table describes itself.
inline void CheckConstants(ConstantTable* table, ConstantHandle parent, UINT count, int depth) {
  Require(depth < 64, "constant members nest boundedly");
  for (UINT i = 0; i < count; ++i) {
    const ConstantHandle handle = table->ConstantByIndex(parent, i);
    Require(handle != nullptr, "every constant of the count has a handle");
    ConstantDesc desc{};
    UINT one = 1;
    Require(table->DescribeConstants(handle, &desc, &one) == S_OK, "every constant describes itself");
    if (desc.name) Require(std::strlen(desc.name) < table->DataSize(), "constant names end inside the table");
    if (desc.elements > 1) Require(table->ConstantElement(handle, desc.elements - 1) != nullptr, "last element");
    if (desc.registerSet == 3) table->SamplerIndex(handle);
    CheckConstants(table, handle, desc.structMembers, depth + 1);
  }
}

inline void CheckTable(ConstantTable* table) {
  ConstantTableDesc desc{};
  Require(table->Describe(&desc) == S_OK, "the constant table describes itself");
  CheckConstants(table, nullptr, desc.constants, 0);
}

// The run gave the compiler lock back: another thread can assemble.
inline void CheckLockFree() {
  std::future<HRESULT> other = std::async(std::launch::async, [] {
    static const char kSmall[] = "vs_1_1\ndcl_position v0\nmov oPos, v0\n";
    gxl::ComRef<DataBuffer> code;
    return AssembleShaderFromMemory(kSmall, sizeof kSmall - 1, nullptr, nullptr, 0, code.Put(), nullptr);
  });
  Require(other.wait_for(std::chrono::seconds(5)) == std::future_status::ready, "the compiler lock is free");
  Require(other.get() == S_OK, "a small assembly succeeds after the run");
}

// The control words a run switches and must restore.
class FloatControl {
 public:
  FloatControl() { fegetenv(&m_before); }
  void CheckRestored() const {
    fenv_t after;
    fegetenv(&after);
    Require(after.__control_word == m_before.__control_word && after.__mxcsr >> 6 == m_before.__mxcsr >> 6,
            "the run restores the floating-point control words");
  }

 private:
  fenv_t m_before;
};

}  // namespace nura::fuzz::shader

// A test target over the IR pools, a message log and a current page pool for
// syntax-tree nodes, with the compile, the token-kit decoder and the
// interpreter at hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../log_text.h"
#include "../tree_kit.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/test_target.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace targettest {

using namespace gxl::shader;
using irkit::Concat;
using irkit::TestTarget;
using irkit::Values;
using Code = std::vector<std::uint32_t>;

constexpr auto kVs20 = TestTarget::kVs20;
constexpr auto kVs30 = TestTarget::kVs30;
constexpr auto kPs20 = TestTarget::kPs20;

// A target's compile: its result and code (empty on failure).
inline HRESULT CompileTarget(ShaderTarget& target, Code* code) {
  gxl::ComRef<DataBuffer> buffer;
  const HRESULT hr = target.Compile(buffer.Put());
  code->clear();
  if (buffer) {
    const auto* words = static_cast<const std::uint32_t*>(buffer->GetPointer());
    code->assign(words, words + buffer->GetSize() / 4);
  }
  return hr;
}

class TargetTest : public ::testing::Test {
 protected:
  TargetTest() : scope(&pages) {}

  TestTarget& Make(TestTarget::Flavour flavour, std::uint32_t options = 0, bool fragment = false) {
    target = std::make_unique<TestTarget>(flavour, fragment);
    EXPECT_EQ(target->Init(nullptr, &log, flavour, options), S_OK);
    return *target;
  }
  std::uint32_t Bank(StandardBank b) const { return target->StandardBankIndex(b); }

  // The compile's result and code (empty on failure).
  HRESULT Compile(Code* code) { return CompileTarget(*target, code); }
  // The code of a compile that must succeed, checked by the decoder.
  Code MustCompile() {
    Code code;
    const HRESULT hr = Compile(&code);
    EXPECT_EQ(hr, S_OK) << shadertest::LogText(log);
    if (!code.empty()) {
      EXPECT_TRUE(Disassembles(code)) << Text(code);
    }
    return code;
  }
  static bool Disassembles(const Code& code) {
    std::string text, error;
    return nura::shtok::Disassemble(code.data(), code.size(), &text, &error);
  }
  static std::string Text(const Code& code) {
    std::string text, error;
    return nura::shtok::Disassemble(code.data(), code.size(), &text, &error) ? text : "undecodable: " + error;
  }
  // The instruction words of version 2.0 and later code: comment blocks and
  // the end token left out.
  static Code Body(const Code& code) {
    Code body;
    for (std::size_t i = 1; i < code.size() && code[i] != 0x0000FFFF;) {
      const std::size_t length = (code[i] & 0xFFFF) == 0xFFFE ? (code[i] >> 16) & 0x7FFF : (code[i] >> 24) & 0xF;
      if ((code[i] & 0xFFFF) != 0xFFFE)
        body.insert(body.end(), code.begin() + i, code.begin() + std::min(code.size(), i + 1 + length));
      i += 1 + length;
    }
    return body;
  }

  shadertest::TreePool trees;
  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope;
  MessageLog log;
  std::unique_ptr<TestTarget> target;  // destroyed first: its nodes go back before the pools go
};

}  // namespace targettest

// One HLSL parse for the tests: its run (which owns the tree's pool), the
// result, the root and the message lines, and helpers that walk the tree.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "log_text.h"

namespace shadertest {

// The compiler's option word for the parser.
constexpr std::uint32_t kParseOptions = 0x80000000u;

struct ParseRun {
  // The text, or the file of that path when fromFile is set.
  explicit ParseRun(const std::string& text, std::uint32_t options = kParseOptions, bool fromFile = false) {
    hr = fromFile ? pp.StartFromFile(text.c_str(), false, nullptr, nullptr)
                  : pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr);
    if (SUCCEEDED(hr)) hr = parser.Parse(options, &pp, &tree);
    log = LogText(pp.Log());
    if (log == "<null>") log.clear();
  }
  ParseRun(const ParseRun&) = delete;
  ParseRun& operator=(const ParseRun&) = delete;

  // The first message line, without its line end.
  std::string First() const { return log.substr(0, log.find('\n')); }
  // The value of the n-th cell of the global statement list.
  ParseNode* Global(std::size_t n) const {
    ParseNode* c = tree ? tree->statements : nullptr;
    for (; c && n; --n) c = c->second;
    return c ? c->first : nullptr;
  }
  // The global declaration of that name, as the global scope holds it.
  DeclarationNode* Find(const char* name) const {
    for (ParseNode* c = tree ? tree->statements : nullptr; c; c = c->second) {
      auto* d = static_cast<DeclarationNode*>(c->first);
      if (d && d->kind == NodeKind::Declaration && std::string(gxl::shader::IdentifierText(d->name, "")) == name)
        return d;
    }
    return nullptr;
  }
  // The initial value of the global of that name.
  const ParseNode* InitialValue(const char* name) const {
    const ParseNodeKind11* variable = gxl::shader::VariableDescription(Find(name));
    return variable ? variable->nodes[2] : nullptr;
  }

  gxl::shader::ShaderPreprocessor pp;
  gxl::shader::HlslParser parser;
  HRESULT hr = E_FAIL;
  ProgramNode* tree = nullptr;
  std::string log;
};

// Tests that read the shared corpus fail when it is missing under CI.
inline void CorpusMissing() {
  if (std::getenv("CI")) FAIL() << "no shader corpus";
  GTEST_SKIP() << "no shader corpus";
}

}  // namespace shadertest

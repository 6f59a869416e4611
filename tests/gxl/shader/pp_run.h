// Preprocessing runs for the tests: tokens joined by blanks (line ends left
// out) and the message lines, and tables of such runs.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "gxl/shader/preprocessor/preprocess_text.h"

namespace shadertest {

struct PpRun {
  std::string tokens;
  std::string log;
  HRESULT result;
};

inline PpRun ToRun(const gxl::shader::PreprocessResult& r) {
  PpRun run{"", r.messages, r.result};
  for (const std::string& t : r.tokens) {
    if (t == "\n") continue;
    run.tokens += (run.tokens.empty() ? "" : " ") + t;
  }
  return run;
}

inline PpRun Preprocess(const std::string& text, const gxl::shader::ShaderMacro* defines = nullptr,
                        std::uint32_t mode = gxl::shader::ShaderPreprocessor::kHlslMode,
                        gxl::shader::ShaderInclude* include = nullptr) {
  gxl::shader::PreprocessRequest request;
  request.text = text.data();
  request.length = static_cast<UINT>(text.size());
  request.mode = mode;
  request.defines = defines;
  request.include = include;
  return ToRun(gxl::shader::PreprocessShaderText(request));
}

inline PpRun PreprocessFile(const std::string& path, gxl::shader::ShaderInclude* include = nullptr,
                            std::uint32_t mode = gxl::shader::ShaderPreprocessor::kHlslMode) {
  gxl::shader::PreprocessRequest request;
  request.fileName = path.c_str();
  request.mode = mode;
  request.include = include;
  return ToRun(gxl::shader::PreprocessShaderText(request));
}

// A source, the tokens it gives and its message lines.
struct PpRow {
  const char* source;
  const char* tokens;
  const char* log;
};

template <std::size_t N>
void ExpectRows(const PpRow (&rows)[N]) {
  for (const PpRow& row : rows) {
    const PpRun run = Preprocess(row.source);
    EXPECT_EQ(run.tokens, row.tokens) << row.source;
    EXPECT_EQ(run.log, row.log) << row.source;
  }
}

}  // namespace shadertest

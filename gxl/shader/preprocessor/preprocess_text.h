// One preprocessing run on its own, for the tests and the test tools: the
// shader tools themselves have no separate preprocess call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

struct PreprocessRequest {
  const char* text = nullptr;  // a memory source of `length` bytes (0xFFFFFFFF: up to its NUL) ...
  UINT length = 0;
  const char* fileName = nullptr;  // ... or, when set, this file
  std::uint32_t mode = ShaderPreprocessor::kHlslMode;
  const ShaderMacro* defines = nullptr;
  ShaderInclude* include = nullptr;
};

struct PreprocessResult {
  HRESULT result = S_OK;             // of opening the source, or of the first failed token
  std::vector<std::string> tokens;   // each token's text; "\n" for an end of line
  std::string messages;              // the joined message lines
  std::uint32_t errorCount = 0;
};

PreprocessResult PreprocessShaderText(const PreprocessRequest& request);

}  // namespace gxl::shader

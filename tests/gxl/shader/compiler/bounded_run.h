// One HLSL compile through the compiler object with its bounds set, for the
// tests of the work bound: the result, whether code came out, the log and
// the work the compile spent.
#pragma once

#include <string>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/gxl/shader/log_text.h"

namespace shadertest {

// The cap on a whole compile that goes with a test's budget: a budget cut
// below the compile's own bounds the whole compile (the phases after the
// lowering too), one raised above it the lowering alone.
inline std::uint64_t CapFor(std::uint64_t budget) {
  if (budget == gxl::shader::kCompileWorkBudget) return gxl::shader::kCompileWorkCap;
  return budget < gxl::shader::kCompileWorkBudget ? budget : ~std::uint64_t{0};
}

// The compiler's bounds for one run; the defaults are the compile's own.
struct Bounds {
  std::uint64_t budget = gxl::shader::kCompileWorkBudget;
  std::uint32_t loweringRecords = gxl::shader::kLoweringRecordLimit;
  std::uint64_t loweringBuilds = gxl::shader::kLoweringBuildLimit;
  std::uint64_t cap = 0;  // 0: the one that goes with the budget (CapFor)
};

struct BoundedRun {
  BoundedRun(const std::string& text, const char* profile, DWORD options, const Bounds& bounds = {}) {
    gxl::shader::ShaderPreprocessor pp;
    hr = pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      gxl::shader::ShaderCompiler compiler;
      compiler.workBudget = bounds.budget;
      compiler.workCap = bounds.cap ? bounds.cap : CapFor(bounds.budget);
      compiler.loweringRecordLimit = bounds.loweringRecords;
      compiler.loweringBuildLimit = bounds.loweringBuilds;
      gxl::ComRef<DataBuffer> code;
      hr = compiler.CompileSource(&pp, nullptr, "main", 0, profile, options, code.Put(), nullptr);
      spent = compiler.workSpent;
      charged = compiler.workCharged;
      made = code.Get() != nullptr;
    }
    log = LogText(pp.Log());
  }
  HRESULT hr = E_FAIL;
  bool made = false;
  std::string log;
  // The work of the lowering's run (its budget and the later phases') and
  // all the compile charged against its cap.
  std::uint64_t spent = 0, charged = 0;
};

}  // namespace shadertest

// One compile through the compiler object with the switches of the
// optimiser's incremental rounds (RoundUpkeep): from which size they serve a
// program, and whether each incremental pass is checked against the full
// pass on a copy.
#pragma once

#include <cstdint>
#include <string>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/gxl/shader/log_text.h"

namespace shadertest {

// The rounds never kept incrementally.
constexpr std::uint32_t kUpkeepNever = 0xFFFFFFFFu;

struct UpkeepRun {
  UpkeepRun(const std::string& text, const char* profile, DWORD options, std::uint32_t upkeepFrom, bool check) {
    gxl::shader::ShaderPreprocessor pp;
    hr = pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      gxl::shader::ShaderCompiler compiler;
      compiler.roundUpkeepFrom = upkeepFrom;
      compiler.checkRoundUpkeep = check;
      gxl::ComRef<DataBuffer> produced;
      hr = compiler.CompileSource(&pp, nullptr, "main", 0, profile, options, produced.Put(), nullptr);
      if (produced)
        code.assign(static_cast<const char*>(produced->GetPointer()),
                    static_cast<const char*>(produced->GetPointer()) + produced->GetSize());
      passes = compiler.roundUpkeepPasses;
      mismatches = compiler.roundUpkeepMismatches;
      readersMet = compiler.roundUpkeepReadersMet;
    }
    log = LogText(pp.Log());
  }
  HRESULT hr = E_FAIL;
  std::string code, log;
  std::uint32_t passes = 0, mismatches = 0;
  std::uint64_t readersMet = 0;
};

}  // namespace shadertest

// The searches of the back end (instruction pairing, the scheduler's
// improvement rounds, texture hoisting, the ps_1_4 partition search) and
// selection's use analysis keep their results when they measure each step
// incrementally: every compile is run twice, once as shipped and once with
// the program's reference switch (each step re-measured in full), and the
// two must agree byte for byte in code, messages and status; under the
// switch every refresh of the use analysis must also set each field as the
// full rebuild does. Inputs: every HLSL entry of the corpus at every
// profile of its stage, with and without optimisation, and programs of the
// test generator. Without NURA_LONG a share of each runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../log_text.h"
#include "corpus_run.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/test_util.h"

namespace corpuse2e {
namespace {

using gxl::shader::ShaderCompiler;
using gxl::shader::ShaderPreprocessor;

struct Result {
  HRESULT hr = E_FAIL;
  std::string code, log;
  std::uint32_t defUseMismatches = 0, reassignMismatches = 0;
};

// One compile as the entry points run it, from a file (includes beside it)
// or from memory.
Result CompileOnce(const std::string& source, const std::string& path, const char* entry, const char* profile,
                   std::uint32_t options, bool reference) {
  Result r;
  ShaderPreprocessor pp;
  r.hr = path.empty() ? pp.StartFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr)
                      : pp.StartFromFile(path.c_str(), false, nullptr, nullptr);
  if (SUCCEEDED(r.hr)) {
    gxl::ComRef<DataBuffer> code;
    ShaderCompiler compiler;
    compiler.referenceSearches = reference;
    r.hr = compiler.CompileSource(&pp, nullptr, entry, 0, profile, options | 0x100, code.Put(), nullptr);
    if (code) r.code.assign(static_cast<const char*>(code->GetPointer()), code->GetSize());
    r.defUseMismatches = compiler.defUseUpkeepMismatches;
    r.reassignMismatches = compiler.reassignMismatches;
  }
  r.log = shadertest::LogText(pp.Log());
  return r;
}

void ExpectStable(const std::string& source, const std::string& path, const char* entry, const char* profile,
                  std::uint32_t options, const std::string& what) {
  const Result fast = CompileOnce(source, path, entry, profile, options, false);
  const Result full = CompileOnce(source, path, entry, profile, options, true);
  EXPECT_EQ(fast.hr, full.hr) << what;
  EXPECT_EQ(fast.log, full.log) << what;
  EXPECT_TRUE(fast.code == full.code) << what << ": the code differs (" << fast.code.size() << " and "
                                      << full.code.size() << " bytes)";
  EXPECT_EQ(full.defUseMismatches, 0u) << what;
  EXPECT_EQ(full.reassignMismatches, 0u) << what;
}

TEST(GxlCompileStable, CorpusEntries) {
  const std::string root = shadertest::CorpusRoot();
  NURA_REQUIRE_OUTSIDE_INPUT(!root.empty(), "the shader corpus");
  const bool all = nura::test::LongMode();
  std::uint32_t cell = 0;
  for (const corpusref::Entry& e : corpusref::Entries()) {
    if (!e.entry) continue;
    std::string error;
    const std::string source = SourceOf(e, root, &error);
    ASSERT_TRUE(error.empty()) << error;
    const std::string path = e.partner ? std::string() : root + "/" + e.file;
    for (const char* profile : Profiles(e.stage)) {
      for (const std::uint32_t options : {0u, kNoOptimisation}) {
        // The share: every seventh cell, so each entry meets a few profiles.
        if (!all && cell++ % 7 != 0) continue;
        ExpectStable(source, path, e.entry, profile, options,
                     std::string(e.file) + " " + e.entry + " " + profile + " " + std::to_string(options));
      }
    }
  }
}

// Generated programs across the profiles and option words, straight-line
// and with flow control, pixel ones reading samplers.
TEST(GxlCompileStable, GeneratedPrograms) {
  static const char* const kProfiles[] = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_3_0", "ps_1_1", "ps_1_3", "ps_1_4",
                                          "ps_2_0", "ps_2_a", "ps_2_b", "ps_3_0", "vs_2_sw", "ps_2_sw"};
  const auto count = static_cast<std::uint32_t>(nura::test::LongOrShare(400, 80));
  for (std::uint32_t seed = 0; seed < count; ++seed) {
    const char* profile = kProfiles[seed % std::size(kProfiles)];
    const bool pixel = profile[0] == 'p';
    hlslgen::Options options;
    options.maxDepth = 2 + seed % 4;
    options.matrices = seed % 3 == 0;
    options.samplers = pixel && seed % 2 == 0;
    options.flowControl = seed % 5 < 2;
    const hlslgen::Generator g(0x5EED0000u + seed, options);
    const hlslgen::Type& t = g.ResultType();
    std::string source = g.SamplerDeclarations();
    for (const hlslgen::Variable& v : g.Variables()) source += "uniform " + v.type.Name() + " " + v.name + ";\n";
    source += std::string("float4 main() : ") + (pixel ? "COLOR" : "POSITION") + " {\n" + g.Body() +
              "  return float4(";
    for (std::uint32_t k = 0; k < 4; ++k) {
      const std::uint32_t i = k / t.columns, j = k % t.columns;
      const std::string element = k >= t.Count()  ? "0.0"
                                  : t.matrix      ? "r._m" + std::to_string(i) + std::to_string(j)
                                  : t.columns > 1 ? std::string("r.") + "xyzw"[j]
                                                  : std::string("r");
      source += (k ? ", (float)" : "(float)") + element;
    }
    source += ");\n}\n";
    for (const std::uint32_t flags : {0u, kNoOptimisation})
      ExpectStable(source, "", "main", profile, flags,
                   "seed " + std::to_string(seed) + " " + profile + " " + std::to_string(flags) + "\n" + source);
  }
}

}  // namespace
}  // namespace corpuse2e

// Preshaders from HLSL: generated expressions over uniform and varying
// variables, compiled for vs_2_0 by the driver with and without a preshader.
// The main code with its "PRES" block run by the test-side runner gives in
// the token kit's interpreter what the code compiled without one gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../log_text.h"
#include "declared_inputs.h"
#include "generated_vertex_body.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/preshader/preshader_runner.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"
#include "tests/support/test_util.h"

namespace {

using gxl::ComRef;
using nura::shtok::Float4;
using nura::shtok::Lane;
using Words = std::vector<std::uint32_t>;

constexpr std::uint32_t kNoPreshader = 0x100;

struct Compiled {
  HRESULT hr = E_FAIL;
  Words code;
  ComRef<ConstantTable> table;
  std::string log;
};

// Through the driver, as the public entries do, but with the options given.
Compiled CompileVs(const std::string& source, std::uint32_t options) {
  Compiled c;
  gxl::shader::ShaderPreprocessor pp;
  c.hr = pp.StartFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr);
  if (SUCCEEDED(c.hr)) {
    gxl::shader::ShaderCompiler compiler;
    ComRef<DataBuffer> code;
    c.hr = compiler.CompileSource(&pp, nullptr, "main", 0, "vs_2_0", options, code.Put(), c.table.Put());
    if (code) {
      const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
      c.code.assign(words, words + code->GetSize() / 4);
    }
  }
  c.log = shadertest::LogText(pp.Log());
  return c;
}

// The generator's expression as a vertex function: float variables of even
// index are uniforms, the rest inputs TEXCOORD0 on (a register per matrix
// row); the result leaves through TEXCOORD0 to 3. Empty when the inputs
// need more registers than the profile has.
std::string Source(const hlslgen::Generator& g, presrun::Uniforms* uniforms,
                   std::vector<std::pair<int, const hlslgen::Variable*>>* inputs) {
  std::string globals, parameters = "float4 p : POSITION";
  int reg = 0;
  for (std::size_t i = 0; i < g.Variables().size(); ++i) {
    const hlslgen::Variable& v = g.Variables()[i];
    const std::string declared = std::string(v.type.matrix ? "row_major " : "") + v.type.Name() + " " + v.name;
    if (i % 2 == 0 && v.type.base == hlslgen::Base::Float) {
      globals += declared + ";\n";
      (*uniforms)[v.name] = v.value;
      continue;
    }
    parameters += ", " + declared + " : TEXCOORD" + std::to_string(reg);
    inputs->push_back({reg, &v});
    reg += static_cast<int>(v.type.matrix ? v.type.rows : 1);
  }
  if (reg > 15) return {};
  const std::string body = shadertest::GeneratedVertexBody(g);
  return globals + "void main(" + parameters +
         ", out float4 pos : POSITION, out float4 t0 : TEXCOORD0, out float4 t1 : TEXCOORD1, "
         "out float4 t2 : TEXCOORD2, out float4 t3 : TEXCOORD3) {\n" +
         body + "}\n";
}

// The main code's uniforms in their registers, then what its preshader writes.
bool PlaceConstants(const Compiled& c, const presrun::Uniforms& uniforms, nura::shtok::Interpreter& interp,
                    bool* ranPreshader, std::string* error) {
  ConstantTableDesc desc{};
  if (!c.table || FAILED(c.table->Describe(&desc))) return *error = "no constant table", false;
  for (UINT i = 0; i < desc.constants; ++i) {
    ConstantDesc d{};
    UINT count = 1;
    if (FAILED(c.table->DescribeConstants(c.table->ConstantByIndex(nullptr, i), &d, &count)) || !d.name ||
        d.registerSet != 2)
      continue;
    const auto given = uniforms.find(d.name);
    for (UINT r = 0; r < d.registerCount; ++r) {
      Float4 value;
      for (UINT k = 0; k < 4 && given != uniforms.end(); ++k) {
        const std::size_t at = d.typeClass == 3 ? std::size_t{k} * d.columns + r : std::size_t{r} * d.columns + k;
        const bool inside = d.typeClass == 3 ? (k < d.rows && r < d.columns) : (r < d.rows && k < d.columns);
        if (inside && at < given->second.size()) value[static_cast<int>(k)] = static_cast<float>(given->second[at]);
      }
      interp.SetFloat(static_cast<int>(d.registerIndex + r), value);
    }
  }
  presrun::Registers written;
  const HRESULT hr = presrun::RunPreshader(c.code.data(), c.code.size(), uniforms, written, error);
  if (FAILED(hr)) return false;
  *ranPreshader = hr == S_OK;
  for (const auto& [reg, v] : written) interp.SetFloat(static_cast<int>(reg), Float4(v[0], v[1], v[2], v[3]));
  return true;
}

// The input registers the code declares, by semantic.
std::map<std::string, int> DeclaredInputs(const Words& code) {
  std::string text, error;
  return nura::shtok::Disassemble(code.data(), code.size(), &text, &error) ? shadertest::DeclaredInputs(text)
                                                                           : std::map<std::string, int>{};
}

bool Near(double got, double want) { return std::fabs(got - want) <= 1e-5 * std::max(1.0, std::fabs(want)); }

TEST(GxlPreshaderEndToEnd, GeneratedExpressionsWithAndWithoutPreshader) {
  std::uint32_t compared = 0, withPreshader = 0, skipped = 0, asGenerated = 0;
  const std::uint32_t kSeeds = nura::test::LongOrShare(500, 200);
  for (std::uint32_t seed = 0; seed < kSeeds; ++seed) {
    const hlslgen::Generator g(seed);
    presrun::Uniforms uniforms;
    std::vector<std::pair<int, const hlslgen::Variable*>> inputs;
    const std::string source = Source(g, &uniforms, &inputs);
    if (source.empty()) continue;
    const Compiled split = CompileVs(source, 0), whole = CompileVs(source, kNoPreshader);
    if (FAILED(whole.hr) && whole.log.find("error X4004:") != std::string::npos) continue;
    ASSERT_EQ(whole.hr, S_OK) << "seed " << seed << "\n" << source << whole.log;
    ASSERT_EQ(split.hr, S_OK) << "seed " << seed << "\n" << source << split.log;
    // A uniform read only through an index is left out of the constant table,
    // so nothing can set it: such seeds say nothing about the preshader.
    bool unnamed = false;
    for (const auto& [name, value] : uniforms)
      unnamed =
          unnamed || (!whole.table->ConstantByName(nullptr, name.c_str()) && source.find('[') != std::string::npos);
    if (unnamed) {
      ++skipped;
      continue;
    }
    ++compared;
    std::vector<float> outputs[2];
    for (const Compiled* c : {&whole, &split}) {
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c->code.data(), c->code.size(), &error)) << error;
      bool ran = false;
      ASSERT_TRUE(PlaceConstants(*c, uniforms, interp, &ran, &error)) << "seed " << seed << ": " << error;
      EXPECT_FALSE(ran && c == &whole) << "seed " << seed << ": option 0x100 made a preshader";
      withPreshader += ran;
      Lane lane;
      const std::map<std::string, int> declared = DeclaredInputs(c->code);
      for (const auto& [first, v] : inputs) {
        const std::uint32_t rows = v->type.matrix ? v->type.rows : 1;
        for (std::uint32_t i = 0; i < rows; ++i) {
          const auto at = declared.find("TEXCOORD" + std::to_string(first + static_cast<int>(i)));
          if (at == declared.end()) continue;  // a variable the expression does not read
          for (std::uint32_t j = 0; j < v->type.columns; ++j)
            lane.v[at->second][static_cast<int>(j)] = static_cast<float>(v->value[i * v->type.columns + j]);
        }
      }
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      const hlslgen::Node& root = g.At(g.Root());
      for (std::uint32_t k = 0; k < root.value.size(); ++k)
        outputs[c == &split].push_back(lane.o[k / root.type.columns][static_cast<int>(k % root.type.columns)]);
    }
    // The split program computes what the whole one does, or (the preshader
    // working in double where the device works in float, which a truncation
    // to an integer can show) what the generator says.
    const hlslgen::Node& root = g.At(g.Root());
    bool exact = true;
    for (std::size_t k = 0; k < outputs[0].size(); ++k) {
      ASSERT_TRUE(Near(outputs[1][k], outputs[0][k]) || Near(outputs[1][k], root.value[k]))
          << "seed " << seed << ": component " << k << " is " << outputs[1][k] << " with a preshader, " << outputs[0][k]
          << " without\n"
          << source;
      exact = exact && Near(outputs[0][k], root.value[k]);
    }
    asGenerated += exact;
  }
  EXPECT_GT(compared, kSeeds * 7 / 10);
  EXPECT_LT(skipped, kSeeds / 5);
  EXPECT_GT(asGenerated, compared * 9 / 10);
  EXPECT_GT(withPreshader, kSeeds / 5);
  RecordProperty("with_preshader", static_cast<int>(withPreshader));
  RecordProperty("compared", static_cast<int>(compared));
}

}  // namespace

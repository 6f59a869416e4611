// HLSL compiled end to end for the vertex profiles, validated by the
// platform and run in the token kit's interpreter: the corpus's vertex
// functions against C++ written from their sources, generated expressions
// against the generator's own values, a fragment through the fragment entry
// points, and mutated sources that must give messages, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "declared_inputs.h"
#include "generated_vertex_body.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "place_constants.h"
#include "tests/gxl/shader/hlsl_parse_run.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/shader/corpus_refs/corpus_refs.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"
#include "tests/support/test_util.h"

namespace {

using gxl::ComRef;
using nura::shtok::Float4;
using nura::shtok::Lane;
using Words = std::vector<std::uint32_t>;
using V4 = std::array<double, 4>;

constexpr const char* kProfiles[] = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw"};
constexpr DWORD kNoOptimisation = 0x4;

// One compile through the public entry point.
struct Compiled {
  HRESULT hr = E_FAIL;
  Words code;
  ComRef<ConstantTable> table;
  std::string messages;
  std::string text;  // the kit's disassembly
};

Compiled Compile(const std::string& source, const char* entry, const char* profile, DWORD flags, const char* file) {
  Compiled c;
  ComRef<DataBuffer> code, messages;
  c.hr = file ? CompileShaderFromFileA(file, nullptr, nullptr, entry, profile, flags, code.Put(), messages.Put(),
                                       c.table.Put())
              : CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr, entry,
                                        profile, flags, code.Put(), messages.Put(), c.table.Put());
  if (messages) c.messages = static_cast<const char*>(messages->GetPointer());
  if (code) {
    const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
    c.code.assign(words, words + code->GetSize() / 4);
    std::string error;
    if (!nura::shtok::Disassemble(c.code.data(), c.code.size(), &c.text, &error)) c.text = "undecodable: " + error;
  }
  return c;
}

using shadertest::DeclaredInputs;

using shadertest::PlaceConstants;
using shadertest::Uniforms;

// --- The corpus's vertex functions against their references ------------------------

using corpusref::Inputs;
using corpusref::Outputs;

struct CorpusFunction {
  const char* file;  // below the corpus's shader folder
  const char* entry;
  const char* uniforms;  // the names the test gives random values, "name:count" separated by spaces
};

const CorpusFunction kCorpus[] = {
    {"irrlicht/d3d9.hlsl", "vertexMain", "mWorldViewProj:16 mInvWorld:16 mTransWorld:16 mLightPos:3 mLightColor:4"},
    {"allegro5/ex_prim_high_vertex.hlsl", "vs_main", "al_projview_matrix:16"},
    {"allegro5/ex_prim_shader_vertex.hlsl", "vs_main", "al_projview_matrix:16"},
    {"allegro5/ex_shader_vertex.hlsl", "vs_main", "al_projview_matrix:16"},
    {"mame/primary.fx", "vs_screen_main", "ScreenDims:2 TargetDims:2"},
    {"mame/primary.fx", "vs_vector_buffer_main", "ScreenDims:2 TargetDims:2"},
    {"mame/primary.fx", "vs_ui_main", "ScreenDims:2"},
};

const CorpusFunction kMameEffects[] = {
    {"mame/phosphor.fx", "vs_main", "ScreenDims:2 TargetDims:2"},
    {"mame/chroma.fx", "vs_main", "ScreenDims:2 TargetDims:2"},
    {"mame/ghosting.fx", "vs_main", "ScreenDims:2 TargetDims:2"},
    {"mame/focus.fx", "vs_main", "ScreenDims:2 TargetDims:2 Defocus:2"},
    {"mame/vector.fx", "vs_main", "ScreenDims:2"},
    {"mame/ntsc.fx", "vs_main", "ScreenDims:2 SourceDims:2"},
    {"mame/bloom.fx", "vs_main",
     "ScreenDims:2 TargetDims:2 Level01Size:4 Level23Size:4 Level45Size:4 Level67Size:4 Level89Size:4 "
     "LevelASize:2"},
    {"mame/post.fx", "vs_main", "ScreenDims:2 TargetDims:2 ShadowUVOffset:2 SwapXY:1 PrepareVector:1"},
    {"mame/distortion.fx", "vs_main", "ScreenDims:2 TargetDims:2"},
};

// The lane's output register of a semantic.
const Float4* OutputOf(const Lane& lane, const std::string& semantic) {
  const int index = semantic.back() - '0';
  if (semantic == "POSITION0") return &lane.oPos;
  if (semantic.rfind("COLOR", 0) == 0) return &lane.oD[index & 1];
  if (semantic.rfind("TEXCOORD", 0) == 0) return &lane.o[index];
  return nullptr;
}

// Within 1e-5 of the reference, relative to its size (at least 1).
bool Near(double got, double want) { return std::fabs(got - want) <= 1e-5 * std::max(1.0, std::fabs(want)); }

// Compiles and runs one corpus function for a profile and option word on
// random vertices against its reference; false when it does not compile.
void CheckCorpusFunction(const CorpusFunction& f, const std::string& path, const char* profile, DWORD flags,
                         std::uint32_t seed) {
  const std::string what = f.file + std::string(" ") + f.entry + " " + profile + " flags " + std::to_string(flags);
  const Compiled c = Compile("", f.entry, profile, flags, path.c_str());
  ASSERT_EQ(c.hr, S_OK) << what << "\n" << c.messages;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> dims(64, 2048), unit(-2, 2);
  Uniforms uniforms;
  std::istringstream names(f.uniforms);
  for (std::string item; names >> item;) {
    const std::string name = item.substr(0, item.find(':'));
    const int count = std::atoi(item.c_str() + item.find(':') + 1);
    std::vector<double>& v = uniforms[name];
    for (int i = 0; i < count; ++i)
      v.push_back(static_cast<float>(name.find("Dims") != std::string::npos || name.find("Size") != std::string::npos
                                         ? dims(random)
                                     : name == "SwapXY" || name == "PrepareVector" ? random() % 2
                                                                                   : unit(random)));
  }
  nura::shtok::Interpreter interp;
  std::string error;
  ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << what << ": " << error;
  ASSERT_TRUE(PlaceConstants(c.table.Get(), uniforms, interp, &error)) << what << ": " << error;
  const std::map<std::string, int> declared = DeclaredInputs(c.text);
  for (int vertex = 0; vertex < 100; ++vertex) {
    Lane lane;
    Inputs inputs;
    for (const auto& [semantic, reg] : declared) {
      V4 v{};
      for (int k = 0; k < 4; ++k) {
        // Positions cover the screen; the rest stays small.
        const bool screen = semantic == "POSITION0" && k < 2 && uniforms.count("ScreenDims");
        v[k] = screen ? std::uniform_real_distribution<double>(0, uniforms["ScreenDims"][k])(random) : unit(random);
        lane.v[reg][k] = static_cast<float>(v[k]);
        v[k] = lane.v[reg][k];
      }
      inputs[semantic] = v;
    }
    ASSERT_TRUE(interp.Run(&lane, 1, &error)) << what << ": " << error;
    Outputs want;
    ASSERT_NO_THROW(want = corpusref::Find(f.file, f.entry)->reference(inputs, uniforms))
        << what << ": an input the reference reads is not declared\n"
        << c.text;
    for (const auto& [semantic, values] : want) {
      const Float4* got = OutputOf(lane, semantic);
      ASSERT_NE(got, nullptr) << semantic;
      for (std::size_t k = 0; k < values.size(); ++k)
        ASSERT_TRUE(Near((*got)[static_cast<int>(k)], values[k]))
            << what << ": " << semantic << " component " << k << " is " << (*got)[static_cast<int>(k)] << " for "
            << values[k] << "\n"
            << c.text;
    }
  }
}

std::string CorpusPath(const char* file) {
  for (const shadertest::CorpusFile& f : shadertest::CorpusFiles())
    if (f.path.size() >= std::strlen(file) &&
        f.path.compare(f.path.size() - std::strlen(file), std::string::npos, file) == 0)
      return f.path;
  return {};
}

void CheckCorpus(const CorpusFunction* functions, std::size_t count) {
  std::uint32_t seed = 1;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string path = CorpusPath(functions[i].file);
    if (path.empty()) return shadertest::CorpusMissing();
    for (const char* profile : kProfiles)
      for (const DWORD flags : {0u, kNoOptimisation}) CheckCorpusFunction(functions[i], path, profile, flags, seed++);
  }
}

TEST(GxlVsEndToEnd, CorpusVertexFunctions) { CheckCorpus(kCorpus, std::size(kCorpus)); }
TEST(GxlVsEndToEnd, CorpusMameEffectVertexFunctions) { CheckCorpus(kMameEffects, std::size(kMameEffects)); }

// --- Generated expressions ------------------------------------------------------------

// The generator's expression as a vertex function of its variables, which
// arrive as inputs TEXCOORD0 on (a register per matrix row; matrices row
// major); the result leaves through TEXCOORD0 to 3, a row each. Empty when
// the variables need more input registers than the profile has.
std::string GeneratedShader(const hlslgen::Generator& g,
                            std::vector<std::pair<int, const hlslgen::Variable*>>* inputs) {
  std::string parameters = "float4 p : POSITION";
  int reg = 1;
  for (const hlslgen::Variable& v : g.Variables()) {
    const std::string semantic = "TEXCOORD" + std::to_string(reg - 1);
    parameters +=
        std::string(", ") + (v.type.matrix ? "row_major " : "") + v.type.Name() + " " + v.name + " : " + semantic;
    inputs->push_back({reg, &v});
    reg += static_cast<int>(v.type.matrix ? v.type.rows : 1);
  }
  if (reg > 16) return {};
  const std::string body = shadertest::GeneratedVertexBody(g);
  return "void main(" + parameters +
         ", out float4 pos : POSITION, out float4 t0 : TEXCOORD0, out float4 t1 : TEXCOORD1, "
         "out float4 t2 : TEXCOORD2, out float4 t3 : TEXCOORD3) {\n" +
         body + "}\n";
}

// Runs generated code in the kit's interpreter with the variables in the
// input registers the code declares for them.
bool RunGenerated(const Compiled& c, const std::vector<std::pair<int, const hlslgen::Variable*>>& inputs, Lane* lane,
                  std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  const std::map<std::string, int> declared = DeclaredInputs(c.text);
  for (const auto& [first, v] : inputs) {
    const std::uint32_t rows = v->type.matrix ? v->type.rows : 1;
    for (std::uint32_t i = 0; i < rows; ++i) {
      const auto at = declared.find("TEXCOORD" + std::to_string(first - 1 + static_cast<int>(i)));
      if (at == declared.end()) continue;  // a variable the expression does not read
      for (std::uint32_t j = 0; j < v->type.columns; ++j)
        lane->v[at->second][static_cast<int>(j)] = static_cast<float>(v->value[i * v->type.columns + j]);
    }
  }
  return interp.Run(lane, 1, error);
}

class GxlVsEndToEndGenerated : public ::testing::TestWithParam<const char*> {};

TEST_P(GxlVsEndToEndGenerated, ExpressionsGiveTheGeneratorsValues) {
  const char* profile = GetParam();
  std::uint32_t compiled = 0;
  const std::uint32_t kSeeds = nura::test::LongOrShare(500, 150);
  for (std::uint32_t seed = 0; seed < kSeeds; ++seed) {
    const hlslgen::Generator g(seed);
    std::vector<std::pair<int, const hlslgen::Variable*>> inputs;
    const std::string source = GeneratedShader(g, &inputs);
    if (source.empty()) continue;
    const Compiled c = Compile(source, "main", profile, seed % 2 ? kNoOptimisation : 0, nullptr);
    // What needs more temporaries or instruction slots than the profile has
    // may fail, saying so.
    if (FAILED(c.hr) &&
        (c.messages.find("error X4004:") != std::string::npos || c.messages.find("error X4521:") != std::string::npos ||
         c.messages.find("instruction slots exceed") != std::string::npos))
      continue;
    ASSERT_EQ(c.hr, S_OK) << "seed " << seed << "\n" << source << c.messages;
    ++compiled;
    Lane lane;
    std::string error;
    ASSERT_TRUE(RunGenerated(c, inputs, &lane, &error)) << error;
    const hlslgen::Node& root = g.At(g.Root());
    for (std::uint32_t k = 0; k < root.value.size(); ++k) {
      const float got = lane.o[k / root.type.columns][static_cast<int>(k % root.type.columns)];
      ASSERT_TRUE(Near(got, root.value[k])) << "seed " << seed << " " << profile << ": component " << k << " is " << got
                                            << " for " << root.value[k] << "\n"
                                            << source << c.text;
    }
  }
  EXPECT_GT(compiled, kSeeds * 9 / 10);
  RecordProperty("compiled", static_cast<int>(compiled));
}

INSTANTIATE_TEST_SUITE_P(Profiles, GxlVsEndToEndGenerated, ::testing::ValuesIn(kProfiles));

// A generated flow-control program with if blocks asked for (option 0x400)
// on the profiles that have them: one side of a block writes oT0 whole, the
// other component by component, and oT0 still takes whole-register masks.
TEST(GxlVsEndToEndGenerated, TextureCoordinatesWrittenInPiecesInIfBlocks) {
  constexpr DWORD kPreferFlowControl = 0x400;
  const hlslgen::Generator g(42, hlslgen::Options{.maxDepth = 4, .flowControl = true});
  std::vector<std::pair<int, const hlslgen::Variable*>> inputs;
  const std::string source = GeneratedShader(g, &inputs);
  for (const char* profile : {"vs_2_a", "vs_2_sw"}) {
    const Compiled c = Compile(source, "main", profile, kPreferFlowControl, nullptr);
    ASSERT_EQ(c.hr, S_OK) << profile << "\n" << source << c.messages;
    EXPECT_NE(c.text.find("\nelse"), std::string::npos) << c.text;
    Lane lane;
    std::string error;
    ASSERT_TRUE(RunGenerated(c, inputs, &lane, &error)) << error;
    const hlslgen::Type& t = g.ResultType();
    for (std::uint32_t k = 0; k < t.Count(); ++k) {
      const float got = lane.o[k / t.columns][static_cast<int>(k % t.columns)];
      EXPECT_TRUE(Near(got, g.Result()[k]))
          << profile << ": component " << k << " is " << got << " for " << g.Result()[k] << "\n"
          << c.text;
    }
  }
}

// A bool uniform that arithmetic reads lives in a float constant: b#
// registers are for if alone.
TEST(GxlVsEndToEnd, BoolUniformReadAsData) {
  const std::string source = "bool Swap;\nfloat4 main(float4 p : POSITION) : POSITION { return Swap ? p.yxzw : p; }\n";
  for (const char* profile : kProfiles) {
    const Compiled c = Compile(source, "main", profile, 0, nullptr);
    ASSERT_EQ(c.hr, S_OK) << profile << "\n" << c.messages;
    ConstantDesc desc{};
    UINT count = 1;
    ASSERT_EQ(c.table->DescribeConstants(c.table->ConstantByName(nullptr, "Swap"), &desc, &count), S_OK);
    EXPECT_EQ(desc.registerSet, 2u) << profile;
    for (const bool swap : {false, true}) {
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
      interp.SetFloat(static_cast<int>(desc.registerIndex), Float4(swap ? 1.0f : 0.0f, 0, 0, 0));
      Lane lane;
      lane.v[DeclaredInputs(c.text).at("POSITION0")] = Float4(1, 2, 3, 4);
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      EXPECT_EQ(lane.oPos[0], swap ? 2.0f : 1.0f) << profile << "\n" << c.text;
      EXPECT_EQ(lane.oPos[1], swap ? 1.0f : 2.0f) << profile;
    }
  }
}

// One vertex of the compiled code with float uniforms set by name; false
// with the reason when a uniform is missing or the code does not run.
bool RunWithUniforms(const Compiled& c, std::initializer_list<std::pair<const char*, Float4>> uniforms, Lane* lane,
                     std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  for (const auto& [name, value] : uniforms) {
    ConstantDesc desc{};
    UINT count = 1;
    if (FAILED(c.table->DescribeConstants(c.table->ConstantByName(nullptr, name), &desc, &count)))
      return *error = std::string("no uniform ") + name, false;
    interp.SetFloat(static_cast<int>(desc.registerIndex), value);
  }
  return interp.Run(lane, 1, error);
}

// A constant copied into a temporary for one instruction's read ports (c.x
// beside a literal) serves a later reader of two constants only where the
// copy holds every component that reader's operand takes (all of c).
TEST(GxlVsEndToEnd, ReadPortCopiesServeWholeOperands) {
  const std::string source =
      "float4 c;\nfloat k;\n"
      "float4 main() : POSITION { return (c.xz <= float2(4, 8)).x ? 0 : (k ? float4(1, 2, 3, 4) : c); }\n";
  struct Row {
    Float4 c;
    float k;
    Float4 want;
  };
  const Row rows[] = {{Float4(5, 2, 3, 4), 1, Float4(1, 2, 3, 4)},
                      {Float4(5, 2, 3, 4), 0, Float4(5, 2, 3, 4)},
                      {Float4(3, 2, 3, 4), 1, Float4(0, 0, 0, 0)}};
  for (const char* profile : kProfiles) {
    const Compiled c = Compile(source, "main", profile, 0, nullptr);
    ASSERT_EQ(c.hr, S_OK) << profile << "\n" << c.messages;
    for (const Row& row : rows) {
      Lane lane;
      std::string error;
      ASSERT_TRUE(RunWithUniforms(c, {{"c", row.c}, {"k", Float4(row.k, 0, 0, 0)}}, &lane, &error)) << error;
      for (int i = 0; i < 4; ++i) EXPECT_EQ(lane.oPos[i], row.want[i]) << profile << " [" << i << "]\n" << c.text;
    }
  }
}

// A kept loop whose entry values lie in different registers (r computed, the
// counter a literal) gathers them before the loop starts, not on every pass.
TEST(GxlVsEndToEnd, LoopEntryValuesAreGatheredBeforeTheLoop) {
  const std::string source =
      "float3 a;\nfloat b;\n"
      "float4 main() : POSITION {\n"
      "  float2 r = a.xy * b;\n"
      "  for (int i = 0; i < 5; i++) {\n"
      "    r += (a > b)[b - b] + i;\n"
      "    for (int j = 0; j < 1; j++) r += a.xy;\n"
      "  }\n"
      "  return float4(r, 0, 1);\n"
      "}\n";
  struct Row {
    Float4 a;
    float b;
    Float4 want;  // a.xy b + 5 (a.x > b) + 10 + 5 a.xy
  };
  const Row rows[] = {{Float4(1, 2, 0, 0), 3, Float4(18, 26, 0, 1)},
                      {Float4(4, -1, 0, 0), 0.5f, Float4(37, 9.5f, 0, 1)}};
  for (const char* profile : kProfiles) {
    for (const DWORD flags : {DWORD{0}, kNoOptimisation}) {
      const Compiled c = Compile(source, "main", profile, flags, nullptr);
      ASSERT_EQ(c.hr, S_OK) << profile << "\n" << c.messages;
      for (const Row& row : rows) {
        Lane lane;
        std::string error;
        ASSERT_TRUE(RunWithUniforms(c, {{"a", row.a}, {"b", Float4(row.b, 0, 0, 0)}}, &lane, &error)) << error;
        for (int i = 0; i < 4; ++i)
          EXPECT_EQ(lane.oPos[i], row.want[i]) << profile << " flags " << flags << " [" << i << "]\n" << c.text;
      }
    }
  }
}

// A literal table read through an index makes the literal bank an array;
// literals packed after the array was sized still keep clear of the uniforms
// placed after it.
TEST(GxlVsEndToEnd, LiteralsBesideAnIndexedTableKeepClearOfUniforms) {
  const std::string source =
      "float4 u;\nint k;\n"
      "float4 main() : POSITION {\n"
      "  float4 r = u;\n"
      "  if (r.w <= float2(2.5625, 1.4375)[k]) {\n"
      "    for (int i = 0; (i < 8) && ((i ? -2.4375 : r.z) % 1.0625 <= r.w); i++)\n"
      "      r -= float4(-2.6875, 0.4375, -2.875, 1.25);\n"
      "  }\n"
      "  return r;\n"
      "}\n";
  auto reference = [](Float4 r, int k) {
    if (r[3] <= (k ? 1.4375f : 2.5625f))
      for (int i = 0; i < 8 && std::fmod(i ? -2.4375f : r[2], 1.0625f) <= r[3]; ++i)
        r = Float4(r[0] + 2.6875f, r[1] - 0.4375f, r[2] + 2.875f, r[3] - 1.25f);
    return r;
  };
  const std::pair<Float4, int> rows[] = {
      {Float4(1, 2, 0.5f, 1), 0}, {Float4(1, 2, 0.5f, 3), 1}, {Float4(0, 0, -0.5f, 2), 0}, {Float4(4, 3, 2, 1), 1}};
  // vs_1_1 unrolls the loop past its slots.
  for (const char* profile : {"vs_2_0", "vs_2_a", "vs_2_sw"}) {
    for (const DWORD flags : {DWORD{0}, kNoOptimisation}) {
      const Compiled c = Compile(source, "main", profile, flags, nullptr);
      ASSERT_EQ(c.hr, S_OK) << profile << "\n" << c.messages;
      for (const auto& [u, k] : rows) {
        Lane lane;
        std::string error;
        ASSERT_TRUE(RunWithUniforms(c, {{"u", u}, {"k", Float4(static_cast<float>(k), 0, 0, 0)}}, &lane, &error))
            << error;
        const Float4 want = reference(u, k);
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(lane.oPos[i], want[i], 1e-5) << profile << " flags " << flags << " [" << i << "]\n" << c.text;
      }
    }
  }
}

// A negated vector holding a literal keeps the literal's sign, beside the
// plain literal the same shader also reads.
TEST(GxlVsEndToEnd, NegatedLiteralsKeepTheirSign) {
  struct Row {
    const char* body;
    float want[4];  // for t = (0.25, 0.75)
  };
  const Row rows[] = {
      {"return float4(-float2(1.0, t.x), 0.5, 1.0);", {-1.0f, -0.25f, 0.5f, 1.0f}},
      {"return float4(-float2(1.0, t.x), float2(1.0, t.y) * t.x);", {-1.0f, -0.25f, 0.25f, 0.1875f}},
      {"return float4(-float2(2.0, t.y), t.x * 2.0, -2.0 * t.y);", {-2.0f, -0.75f, 0.5f, -1.5f}},
      {"return float4(float2(1.0, t.x) / -float2(1.0, t.y), 0.0, 1.0);", {-1.0f, -1.0f / 3.0f, 0.0f, 1.0f}},
  };
  for (const Row& row : rows) {
    const std::string source = std::string("float4 main(float2 t : TEXCOORD0) : POSITION { ") + row.body + " }\n";
    for (const char* profile : kProfiles) {
      for (const DWORD flags : {DWORD{0}, kNoOptimisation}) {
        const Compiled c = Compile(source, "main", profile, flags, nullptr);
        ASSERT_EQ(c.hr, S_OK) << profile << " " << row.body << "\n" << c.messages;
        nura::shtok::Interpreter interp;
        std::string error;
        ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
        Lane lane;
        lane.v[DeclaredInputs(c.text).at("TEXCOORD0")] = Float4(0.25f, 0.75f, 0, 0);
        ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(lane.oPos[i], row.want[i], 1e-6) << profile << " " << row.body << " [" << i << "]\n" << c.text;
      }
    }
  }
}

// Arithmetic on comparison results counts them: bool operands of +, -, *
// and unary minus are ints, as in C. a and b are uniforms, c and d inputs.
TEST(GxlVsEndToEnd, ArithmeticOnComparisonsCounts) {
  struct Case {
    const char* expression;
    double a, b, c, d;
    double want;
  };
  const Case kCases[] = {
      {"(a < b) + (c >= d)", 1, 2, 3, 3, 2},
      {"(a < b) + (c >= d)", 2, 1, 3, 3, 1},
      {"(a > b) + (c <= d) + (a == b) + (c != d)", 2, 1, 3, 3, 2},
      {"(a < b) - (c > d)", 1, 2, 3, 4, 1},
      {"(a < b) - (c < d)", 2, 1, 3, 4, -1},
      {"-(a < b)", 1, 2, 0, 0, -1},
      {"(a < b) * 3 + (c == d)", 1, 2, 5, 5, 4},
      {"((a < b) && (c >= d)) + ((a > b) || (c < d))", 1, 2, 3, 3, 1},
      {"((a < b) && (c >= d)) + ((a < b) || (c < d))", 1, 2, 3, 3, 2},
      {"(a < b) ? (c >= d) + (c <= d) : 5", 1, 2, 3, 3, 2},
      {"(a < b) ? (c >= d) + (c <= d) : 5", 2, 1, 3, 3, 5},
      {"!(a < b) + !(c < d)", 2, 1, 3, 3, 2},
      {"true + true + (a < b)", 1, 2, 0, 0, 3},
      // Truth values stay truths where they are not counted.
      {"(a < b) && ((c < d) + 1)", 1, 2, 3, 3, 1},
      {"(bool)((a < b) + (c >= d))", 1, 2, 3, 3, 1},
  };
  for (const char* profile : {"vs_1_1", "vs_2_0"})
    for (const DWORD flags : {0u, kNoOptimisation})
      for (const Case& t : kCases) {
        const std::string source = std::string("float a, b;\n") +
                                   "float4 main(float4 q : TEXCOORD0) : POSITION {\n"
                                   "  float c = q.x, d = q.y;\n  return " +
                                   t.expression + ";\n}\n";
        const std::string what = std::string(t.expression) + " " + profile + " flags " + std::to_string(flags);
        const Compiled c = Compile(source, "main", profile, flags, nullptr);
        ASSERT_EQ(c.hr, S_OK) << what << "\n" << c.messages;
        nura::shtok::Interpreter interp;
        std::string error;
        ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << what << ": " << error;
        ASSERT_TRUE(PlaceConstants(c.table.Get(), {{"a", {t.a}}, {"b", {t.b}}}, interp, &error)) << what << error;
        Lane lane;
        const auto declared = DeclaredInputs(c.text);
        if (declared.count("TEXCOORD0"))
          lane.v[declared.at("TEXCOORD0")] = Float4(static_cast<float>(t.c), static_cast<float>(t.d), 0, 0);
        ASSERT_TRUE(interp.Run(&lane, 1, &error)) << what << ": " << error;
        EXPECT_EQ(lane.oPos[0], t.want) << what << "\n" << c.text;
      }
}

// A uniform read only through a run-time index is in the constant table
// with every register the index can reach, so callers can set it.
TEST(GxlVsEndToEnd, IndexedUniformsAreInTheConstantTable) {
  struct Case {
    const char* declaration;  // of "u"
    const char* body;         // i is an int from the input's x
    int elements;             // what i may select
    int registers;            // the registers u takes
    std::vector<double> values;
    // The expected output for index i.
    std::function<V4(const std::vector<double>&, int)> want;
  };
  auto ramp = [](int n) {
    std::vector<double> v;
    for (int k = 0; k < n; ++k) v.push_back(k * 1.5 - 7);
    return v;
  };
  auto row = [](const std::vector<double>& u, int i) { return V4{u[i * 4], u[i * 4 + 1], u[i * 4 + 2], u[i * 4 + 3]}; };
  const Case kCases[] = {
      {"float4 u[6]", "return u[i];", 6, 6, ramp(24), row},
      {"float4 u[5]", "return u[0] * 0 + u[i];", 5, 5, ramp(20), row},
      {"float4 u[5]", "return u[i] + u[4];", 5, 5, ramp(20),
       [row](const std::vector<double>& u, int i) {
         const V4 a = row(u, i), b = row(u, 4);
         return V4{a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3] + b[3]};
       }},
      {"float4 u[8]", "float4 s = 0;\n  for (int k = 0; k < 8; ++k) s += u[k] * (k == i);\n  return s;", 8, 8, ramp(32),
       row},
      {"row_major float2x4 u", "return u[i];", 2, 2, ramp(8), row},
      {"float2x4 u", "return u[i];", 2, 4, ramp(8), row},
      {"float4x4 u", "return u[i];", 4, 4, ramp(16), row},
      {"float u[7]", "return u[i];", 7, 7, ramp(7),
       [](const std::vector<double>& u, int i) {
         return V4{u[i], u[i], u[i], u[i]};
       }},
  };
  for (const char* profile : kProfiles)
    for (const DWORD flags : {0u, kNoOptimisation})
      for (const Case& t : kCases) {
        const std::string source = std::string(t.declaration) +
                                   ";\nfloat4 main(float4 q : TEXCOORD0) : POSITION {\n"
                                   "  int i = (int)q.x;\n  " +
                                   t.body + "\n}\n";
        const std::string what =
            std::string(t.declaration) + ": " + t.body + " " + profile + " flags " + std::to_string(flags);
        const Compiled c = Compile(source, "main", profile, flags, nullptr);
        ASSERT_EQ(c.hr, S_OK) << what << "\n" << c.messages;
        ConstantDesc desc{};
        UINT count = 1;
        ASSERT_EQ(c.table->DescribeConstants(c.table->ConstantByName(nullptr, "u"), &desc, &count), S_OK)
            << what << "\n"
            << c.text;
        EXPECT_EQ(desc.registerCount, static_cast<UINT>(t.registers)) << what << "\n" << c.text;
        for (int i = 0; i < t.elements; ++i) {
          nura::shtok::Interpreter interp;
          std::string error;
          ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << what << ": " << error;
          ASSERT_TRUE(PlaceConstants(c.table.Get(), {{"u", t.values}}, interp, &error)) << what << error;
          Lane lane;
          lane.v[DeclaredInputs(c.text).at("TEXCOORD0")] = Float4(static_cast<float>(i), 0, 0, 0);
          ASSERT_TRUE(interp.Run(&lane, 1, &error)) << what << ": " << error;
          const V4 want = t.want(t.values, i);
          for (int k = 0; k < 4; ++k)
            EXPECT_EQ(lane.oPos[k], static_cast<float>(want[k])) << what << " index " << i << " component " << k << "\n"
                                                                 << c.text;
        }
      }
}

// A vertex fragment compiled through the fragment entry points: the set
// holds it as fragment code (version tag 0x7FFE) with its FINF block.
TEST(GxlVsEndToEnd, FragmentThroughTheFragmentEntryPoints) {
  const char source[] =
      "float4 scale;\n"
      "float4 vmain(float4 p : POSITION) : POSITION { return p * scale; }\n"
      "vertexfragment moved = compile_fragment vs_1_1 vmain();\n";
  ComRef<DataBuffer> set, messages;
  ASSERT_EQ(CompileFragmentsFromMemory(source, sizeof source - 1, nullptr, nullptr, 0, set.Put(), messages.Put()), S_OK)
      << (messages ? static_cast<const char*>(messages->GetPointer()) : "");
  const auto* words = static_cast<const std::uint32_t*>(set->GetPointer());
  const std::size_t count = set->GetSize() / 4;
  ASSERT_GE(count, 8u);
  EXPECT_EQ(words[0], 0x7FFE0000u);
  ASSERT_EQ(words[1] & 0xFFFF, 0xFFFEu);
  EXPECT_EQ(std::memcmp(&words[2], "FRAG", 4), 0);
  const std::size_t nameWords = (words[4] - 8) / 4;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&words[5])), "moved");
  const std::uint32_t* code = &words[5 + nameWords];
  const std::size_t codeWords = (words[1] >> 16) - 3 - nameWords;
  EXPECT_EQ(code[0], 0x7FFE0101u);
  EXPECT_EQ(code[codeWords - 1], 0x0000FFFFu);
  bool finf = false;
  for (std::size_t i = 1; i + 1 < codeWords; ++i)
    finf |= (code[i] & 0xFFFF) == 0xFFFE && std::memcmp(&code[i + 1], "FINF", 4) == 0;
  EXPECT_TRUE(finf);
  EXPECT_EQ(words[count - 1], 0x0000FFFFu);
}

// Corpus sources with bytes changed, dropped and repeated: each compile ends
// with a result and messages, never a crash or a hang.
class GxlVsEndToEndMutated : public ::testing::TestWithParam<std::uint32_t> {};

constexpr char kPunctuation[] = "{}()[];,.+-*/<>=!?:\"#\\\n0123456789";

TEST_P(GxlVsEndToEndMutated, SourcesGiveMessagesOnly) {
  std::vector<std::pair<std::string, const char*>> sources;
  for (const CorpusFunction* table : {kCorpus, kMameEffects})
    for (std::size_t i = 0; i < (table == kCorpus ? std::size(kCorpus) : std::size(kMameEffects)); ++i) {
      const std::string path = CorpusPath(table[i].file);
      if (path.empty()) return shadertest::CorpusMissing();
      std::ifstream in(path, std::ios::binary);
      sources.push_back({std::string(std::istreambuf_iterator<char>(in), {}), table[i].entry});
    }
  std::mt19937 random(GetParam());
  const std::uint32_t kRuns = nura::test::LongOrShare(1250, 250);
  std::uint32_t succeeded = 0;
  for (std::uint32_t run = 0; run < kRuns; ++run) {
    const auto& [original, entry] = sources[random() % sources.size()];
    std::string text = original;
    for (std::uint32_t edits = 1 + random() % 4; edits--;) {
      const std::size_t at = random() % text.size();
      switch (random() % 4) {
        case 0:
          text[at] = static_cast<char>(random() % 128);
          break;
        case 1:
          text.erase(at, 1 + random() % 16);
          break;
        case 2:
          text.insert(at, text.substr(random() % text.size(), 1 + random() % 32));
          break;
        default:
          text[at] = kPunctuation[random() % (sizeof kPunctuation - 1)];
          break;
      }
      if (text.empty()) text = "x";
    }
    const Compiled c = Compile(text, entry, kProfiles[run % 4], run % 3 == 0 ? kNoOptimisation : 0, nullptr);
    if (SUCCEEDED(c.hr)) {
      ++succeeded;
      EXPECT_FALSE(c.code.empty());
      EXPECT_EQ(c.text.rfind("undecodable", 0), std::string::npos) << c.text;
    } else {
      EXPECT_TRUE(c.code.empty());
      // Every failure says why.
      EXPECT_FALSE(c.messages.empty()) << "run " << run << ": " << c.hr;
    }
  }
  RecordProperty("succeeded", static_cast<int>(succeeded));
}

INSTANTIATE_TEST_SUITE_P(Seeds, GxlVsEndToEndMutated, ::testing::Range(1u, 9u));

}  // namespace

// HLSL pixel shaders through the whole compile for ps_2_0, ps_2_a, ps_2_b and
// ps_2_sw: the code passes the platform's validator, and run on 2x2 quads in
// the token kit's interpreter (inputs bound by semantic through its
// declarations, constants set by name through the constant table, procedural
// textures) computes what a C++ reference written from the source computes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/gxl/shader/corpus_text.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/hlslgen/procedural_sampler.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/shader/corpus_refs/corpus_refs.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
using Code = std::vector<std::uint32_t>;

constexpr const char* kProfiles[] = {"ps_2_0", "ps_2_a", "ps_2_b", "ps_2_sw"};

using Compiled = shadertest::CompiledHlsl;
using shadertest::CompileHlsl;

std::string Text(const Code& code) {
  std::string text, error;
  return nura::shtok::Disassemble(code.data(), code.size(), &text, &error) ? text : "undecodable: " + error;
}

// The corpus's procedural texture behind each sampler name.
Float4 Texture(const std::string& sampler, float u, float v) {
  const corpusref::V4 t = corpusref::Texel(sampler, u, v);
  return Float4(static_cast<float>(t[0]), static_cast<float>(t[1]), static_cast<float>(t[2]), static_cast<float>(t[3]));
}

// What the rasteriser hands lane l of the quad for an input.
Float4 Varying(int lane, int usage, int index) {
  const float l = static_cast<float>(lane), i = static_cast<float>(index) + (usage == 10 ? 3.0f : 0.0f);
  return Float4(0.1f + 0.2f * l + 0.05f * i, 0.3f + 0.1f * i - 0.05f * l, 0.6f - 0.1f * l + 0.01f * i,
                0.9f - 0.02f * i + 0.03f * l);
}

// One pixel of a reference: its inputs and a sampler by name.
struct Pixel {
  int lane;
  Float4 Texcoord(int i) const { return Varying(lane, 5, i); }
  Float4 Color(int i) const { return Varying(lane, 10, i); }
};

struct Constant {
  const char* name;
  std::vector<float> values;  // four per register; fewer for the last
};

struct Case {
  const char* name;
  std::string source;
  const char* entry;
  std::vector<Constant> constants;
  std::vector<const char*> samplers;
  std::function<Float4(const Pixel&)> reference;
  float tolerance = 1e-5f;  // relative; wider for exp, log and pow
};

// Runs the quad: false with the reason when the code cannot run.
bool RunQuad(const Compiled& c, const Case& k, Lane quad[4], std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  for (const Constant& constant : k.constants) {
    ConstantHandle handle = c.table->ConstantByName(nullptr, constant.name);
    if (!handle) continue;  // optimised away
    ConstantDesc desc{};
    UINT count = 1;
    if (FAILED(c.table->DescribeConstants(handle, &desc, &count))) return *error = "no description", false;
    for (UINT r = 0; r < desc.registerCount && 4 * r < constant.values.size(); ++r) {
      float v[4] = {};
      for (UINT i = 0; i < 4 && 4 * r + i < constant.values.size(); ++i) v[i] = constant.values[4 * r + i];
      if (desc.registerSet == 0) interp.SetBool(static_cast<int>(desc.registerIndex + r), v[0] != 0);
      if (desc.registerSet == 1)
        interp.SetInt(static_cast<int>(desc.registerIndex + r), static_cast<int>(v[0]), static_cast<int>(v[1]),
                      static_cast<int>(v[2]), static_cast<int>(v[3]));
      if (desc.registerSet == 2)
        interp.SetFloat(static_cast<int>(desc.registerIndex + r), Float4(v[0], v[1], v[2], v[3]));
    }
  }
  std::map<int, std::string> samplers;
  for (const char* name : k.samplers) {
    const INT index = c.table->SamplerIndex(c.table->ConstantByName(nullptr, name));
    if (index >= 0) samplers[index] = name;
  }
  interp.SetSampler([&](const nura::shtok::SampleRequest& r) {
    const auto found = samplers.find(r.sampler);
    return found == samplers.end() ? Float4(0, 0, 0, 0) : Texture(found->second, r.coord[0], r.coord[1]);
  });
  for (int l = 0; l < 4; ++l) {
    quad[l] = Lane();
    for (const nura::shtok::Declaration& d : interp.Declarations()) {
      Float4* slot = d.usage >= 0 && !d.output ? nura::shtok::DeclaredSlot(quad[l], d) : nullptr;
      if (slot) *slot = Varying(l, d.usage, d.usageIndex);
    }
  }
  return interp.Run(quad, 4, error);
}

// The slot-count message of the validator: a shipped ps_2_0 shader whose code
// is longer than the profile allows is a finding about the code's length.
bool OverSlotLimit(const Compiled& c) { return c.log.find("X5020:") != std::string::npos; }

// Compiles the case for every profile, with and without optimisation, and
// compares each run with the reference; the profiles over the slot limit
// through `overLimit`.
void Check(const Case& k, std::vector<std::string>* overLimit) {
  for (const char* profile : kProfiles) {
    for (const DWORD flags : {0u, 0x4u}) {
      SCOPED_TRACE(std::string(k.name) + " " + profile + (flags ? " (no optimisation)" : ""));
      const Compiled c = CompileHlsl(k.source, k.entry, profile, flags);
      if (FAILED(c.hr) && OverSlotLimit(c)) {
        overLimit->push_back(std::string(k.name) + " " + profile + (flags ? " noopt" : ""));
        EXPECT_EQ(c.log.find("internal error"), std::string::npos) << c.log;
        continue;
      }
      ASSERT_EQ(c.hr, S_OK) << c.log;
      ASSERT_TRUE(c.table) << c.log;
      Lane quad[4];
      std::string error;
      ASSERT_TRUE(RunQuad(c, k, quad, &error)) << error << "\n" << Text(c.code);
      for (int l = 0; l < 4; ++l) {
        const Float4 want = k.reference(Pixel{l});
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(quad[l].oC[0][i], want[i], k.tolerance * (1 + std::fabs(want[i])))
              << "lane " << l << " [" << i << "]\n"
              << Text(c.code);
      }
    }
  }
}

using shadertest::Allegro;
using shadertest::ReadCorpus;

// The corpus table's reference of an entry, fed the quad's inputs and the
// case's constants.
std::function<Float4(const Pixel&)> Reference(const char* file, const char* entry,
                                              const std::vector<Constant>& constants) {
  const corpusref::Entry* e = corpusref::Find(file, entry);
  if (!e || !e->reference) return nullptr;
  corpusref::Values values;
  for (const Constant& c : constants) values[c.name].assign(c.values.begin(), c.values.end());
  return [reference = e->reference, values](const Pixel& p) {
    corpusref::Inputs in;
    for (int i = 0; i < 8; ++i) {
      const Float4 t = p.Texcoord(i);
      in["TEXCOORD" + std::to_string(i)] = {t[0], t[1], t[2], t[3]};
    }
    for (int i = 0; i < 2; ++i) {
      const Float4 c = p.Color(i);
      in["COLOR" + std::to_string(i)] = {c[0], c[1], c[2], c[3]};
    }
    const corpusref::Outputs out = reference(in, values);
    const std::vector<double>& c = out.at("COLOR0");
    return Float4(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]),
                  static_cast<float>(c[3]));
  };
}

// A corpus case: the file's entry with these constants against its reference.
Case CorpusCase(const char* name, std::string source, const char* file, const char* entry,
                std::vector<Constant> constants, std::vector<const char*> samplers, float tolerance = 1e-5f) {
  std::function<Float4(const Pixel&)> reference = Reference(file, entry, constants);
  return {name, std::move(source), entry, std::move(constants), std::move(samplers), std::move(reference), tolerance};
}

#define NURA_REQUIRE_SOURCE(text) NURA_REQUIRE_OUTSIDE_INPUT(!(text).empty(), "the shared shader corpus")

TEST(GxlPs2EndToEnd, AllegroPixelShaders) {
  const std::string shader = Allegro("ex_shader_vertex.hlsl", "ex_shader_pixel.hlsl");
  NURA_REQUIRE_SOURCE(shader);
  std::vector<Case> cases;
  cases.push_back(CorpusCase("ex_shader_pixel", shader, "allegro5/ex_shader_pixel.hlsl", "ps_main",
                             {{"tint", {0.5f, 1.5f, 0.25f}}}, {"s"}));
  cases.push_back(CorpusCase("ex_shader_multitex_pixel",
                             Allegro("ex_shader_vertex.hlsl", "ex_shader_multitex_pixel.hlsl"),
                             "allegro5/ex_shader_multitex_pixel.hlsl", "ps_main", {}, {"s1", "s2"}));
  cases.push_back(CorpusCase("ex_prim_wrap_pixel", Allegro("ex_shader_vertex.hlsl", "ex_prim_wrap_pixel.hlsl"),
                             "allegro5/ex_prim_wrap_pixel.hlsl", "ps_main", {}, {"s1", "s2"}));
  cases.push_back(CorpusCase(
      "ex_prim_shader_pixel", Allegro("ex_prim_shader_vertex.hlsl", "ex_prim_shader_pixel.hlsl"),
      "allegro5/ex_prim_shader_pixel.hlsl", "ps_main",
      {{"light_position", {3.0f, 4.0f, 5.0f}}, {"diffuse_color", {0.2f, 0.4f, 0.6f, 0.8f}}, {"alpha", {3.0f}}}, {},
      1e-4f));
  cases.push_back(CorpusCase("ex_prim_high_pixel", Allegro("ex_prim_high_vertex.hlsl", "ex_prim_high_pixel.hlsl"),
                             "allegro5/ex_prim_high_pixel.hlsl", "ps_main", {}, {}));
  std::vector<std::string> overLimit;
  for (const Case& k : cases) {
    NURA_REQUIRE_SOURCE(k.source);
    ASSERT_TRUE(k.reference) << k.name;
    Check(k, &overLimit);
  }
  EXPECT_TRUE(overLimit.empty()) << overLimit.front();
}

TEST(GxlPs2EndToEnd, MamePixelShaders) {
  const std::string primary = ReadCorpus("mame/primary.fx");
  NURA_REQUIRE_SOURCE(primary);
  const char* diffuse = "DiffuseSampler";
  std::vector<Case> cases;
  cases.push_back(CorpusCase("primary screen", primary, "mame/primary.fx", "ps_screen_main", {}, {diffuse}));
  cases.push_back(
      CorpusCase("primary vector buffer", primary, "mame/primary.fx", "ps_vector_buffer_main", {}, {diffuse}));
  cases.push_back(CorpusCase("primary ui", primary, "mame/primary.fx", "ps_ui_main", {}, {diffuse}));
  cases.push_back(CorpusCase("vector", ReadCorpus("mame/vector.fx"), "mame/vector.fx", "ps_main",
                             {{"TimeParams", {0.75f, 0.5f}}, {"LengthParams", {0.0f, 0.25f, 0.4f}}}, {}));
  cases.push_back(CorpusCase("focus", ReadCorpus("mame/focus.fx"), "mame/focus.fx", "ps_main", {}, {diffuse}));
  // chroma's loop over the three primaries, unrolled.
  cases.push_back(CorpusCase("chroma", ReadCorpus("mame/chroma.fx"), "mame/chroma.fx", "ps_main",
                             {{"YGain", {0.2126f, 0.7152f, 0.0722f}},
                              {"ChromaA", {0.630f, 0.340f}},
                              {"ChromaB", {0.310f, 0.595f}},
                              {"ChromaC", {0.155f, 0.070f}}},
                             {diffuse}, 1e-4f));
  // phosphor in its decay modes 1 (exponential) and 2 (power law).
  for (const float mode : {1.0f, 2.0f})
    cases.push_back(CorpusCase(mode == 1 ? "phosphor exponential" : "phosphor power", ReadCorpus("mame/phosphor.fx"),
                               "mame/phosphor.fx", "ps_main",
                               {{"Mode", {mode}},
                                {"Passthrough", {0}},
                                {"DeltaTime", {0.25f}},
                                {"Tau", {0.5f, 1.0f, 2.0f}},
                                {"Beta", {1.5f, 2.0f, 2.5f}},
                                {"Gamma", {0.3f, 0.2f, 0.1f}}},
                               {diffuse, "PreviousSampler"}, 1e-3f));
  cases.push_back(CorpusCase(
      "ghosting", ReadCorpus("mame/ghosting.fx"), "mame/ghosting.fx", "ps_main",
      {{"Passthrough", {0}}, {"DeltaTime", {0.25f}}, {"LCDRise", {0.5f, 1.0f, 2.0f}}, {"LCDFall", {1.0f, 0.5f, 0.0f}}},
      {diffuse, "PreviousSampler"}, 1e-3f));
  cases.push_back(CorpusCase("irrlicht pixelMain", ReadCorpus("irrlicht/d3d9.hlsl"), "irrlicht/d3d9.hlsl", "pixelMain",
                             {}, {"myTexture"}));
  std::vector<std::string> overLimit;
  for (const Case& k : cases) {
    NURA_REQUIRE_SOURCE(k.source);
    ASSERT_TRUE(k.reference) << k.name;
    Check(k, &overLimit);
  }
  // Shipped for ps_2_0, these do not fit its 64 arithmetic slots yet: a
  // finding about the code's length, recorded here.
  for (const std::string& what : overLimit) std::printf("over the ps_2_0 slot limit: %s\n", what.c_str());
  for (const std::string& what : overLimit) EXPECT_NE(what.find(" ps_2_0"), std::string::npos) << what;
}

// The shader model 3 sources of the corpus, compiled for the pixel 2.x
// profiles with the longest programs: each compiles into code that runs, or
// stops with a limit message, never with an internal error.
class GxlPs2EndToEndLongShaders : public ::testing::TestWithParam<std::tuple<const char*, const char*>> {};

TEST_P(GxlPs2EndToEndLongShaders, RunOrStopAtALimit) {
  // bloom with only its first level weighted: the noise it adds to the other
  // levels multiplies zero, so the first texel scaled is what it returns.
  const Case bloom = CorpusCase(
      "bloom", ReadCorpus("mame/bloom.fx"), "mame/bloom.fx", "ps_main",
      {{"Level0123Weight", {0.75f, 0, 0, 0}}, {"Level4567Weight", {0, 0, 0, 0}}, {"Level89AWeight", {0, 0, 0}}},
      {"DiffuseSampler0"});
  const auto& [file, profile] = GetParam();
  const std::string source = ReadCorpus(file);
  NURA_REQUIRE_SOURCE(source);
  const Compiled c = CompileHlsl(source, "ps_main", profile);
  EXPECT_EQ(c.log.find("internal error"), std::string::npos) << c.log;
  if (FAILED(c.hr)) {
    const bool limit = c.log.find("error X45") != std::string::npos || c.log.find("error X4004") != std::string::npos;
    // Constructs the front end does not lower yet are recorded, not failed on.
    const bool notLowered = c.log.find("error X3500") != std::string::npos;
    if (notLowered) std::printf("%s %s: %s", file, profile, c.log.c_str());
    EXPECT_TRUE(limit || notLowered) << c.log;
    EXPECT_TRUE(c.code.empty());
    return;
  }
  const bool checked = source == bloom.source;
  const Case run = checked ? bloom : Case{file, source, "ps_main", {}, {}, nullptr};
  Lane quad[4];
  std::string error;
  ASSERT_TRUE(RunQuad(c, run, quad, &error)) << error << "\n" << Text(c.code);
  for (int l = 0; checked && l < 4; ++l) {
    const Float4 want = bloom.reference(Pixel{l});
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(quad[l].oC[0][i], want[i], 1e-5f * (1 + std::fabs(want[i])));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, GxlPs2EndToEndLongShaders,
                         ::testing::Combine(::testing::Values("mame/bloom.fx", "mame/ntsc.fx", "mame/distortion.fx",
                                                              "mame/post.fx"),
                                            ::testing::Values("ps_2_a", "ps_2_b", "ps_2_sw")),
                         [](const auto& info) {
                           // "mame/ntsc.fx", "ps_2_a": ntsc_ps_2_a
                           std::string file = std::get<0>(info.param);
                           file = file.substr(file.find('/') + 1);
                           return file.substr(0, file.find('.')) + "_" + std::get<1>(info.param);
                         });

// A pixel fragment compiles in fragment mode: the fragment tag, named
// registers and no declaration tokens.
TEST(GxlPs2EndToEnd, PixelFragmentsDeclareNothing) {
  const char source[] =
      "sampler2D s;\n"
      "float4 tint;\n"
      "float4 pmain(float2 t : TEXCOORD0, float4 c : COLOR0) : COLOR { return tex2D(s, t) * c * tint; }\n"
      "pixelfragment frag = compile_fragment ps_2_0 pmain();\n";
  gxl::ComRef<DataBuffer> set, messages;
  const HRESULT hr =
      CompileFragmentsFromMemory(source, sizeof source - 1, nullptr, nullptr, 0, set.Put(), messages.Put());
  ASSERT_EQ(hr, S_OK) << (messages ? static_cast<const char*>(messages->GetPointer()) : "");
  const auto* words = static_cast<const std::uint32_t*>(set->GetPointer());
  const std::size_t count = set->GetSize() / 4;
  // The fragment's code starts at its tag; nothing after it is a dcl.
  std::size_t at = 0;
  while (at < count && words[at] != 0x7FFF0200) ++at;
  ASSERT_LT(at, count) << "no ps_2_0 fragment tag";
  bool named = false, declared = false;
  for (std::size_t i = at + 1; i < count && words[i] != 0x0000FFFF;) {
    const std::uint32_t token = words[i];
    if ((token & 0xFFFF) == 0xFFFE) {
      named |= i + 1 < count && words[i + 1] == 0x464E4946;  // "FINF"
      i += 1 + ((token >> 16) & 0x7FFF);
      continue;
    }
    declared |= (token & 0xFFFF) == 31;
    i += 1 + ((token >> 24) & 0xF);
  }
  EXPECT_TRUE(named);
  EXPECT_FALSE(declared);
}

// A negated vector holding a literal: the negated literal is a value of its
// own, never the plain literal the same program also reads.
TEST(GxlPs2EndToEnd, NegatedLiteralsKeepTheirSign) {
  const std::vector<float> k = {0.25f, 0.75f, 0.0f, 0.0f};
  const std::vector<Case> cases = {
      {"negated pair",
       "float4 main(float2 t : TEXCOORD0) : COLOR { return float4(-float2(1.0, t.x), 0.5, 1.0); }",
       "main",
       {},
       {},
       [](const Pixel& p) { return Float4(-1.0f, -p.Texcoord(0)[0], 0.5f, 1.0f); }},
      {"negated and plain",
       "float4 main(float2 t : TEXCOORD0) : COLOR { return float4(-float2(1.0, t.x), float2(1.0, t.y) * t.x); }",
       "main",
       {},
       {},
       [](const Pixel& p) {
         const Float4 t = p.Texcoord(0);
         return Float4(-1.0f, -t[0], t[0], t[1] * t[0]);
       }},
      {"divided by a negated pair",
       "float4 main(float2 t : TEXCOORD0) : COLOR { return float4(float2(1.0, t.x) / -float2(1.0, t.y), 0.0, 1.0); }",
       "main",
       {},
       {},
       [](const Pixel& p) {
         const Float4 t = p.Texcoord(0);
         return Float4(-1.0f, -t[0] / t[1], 0.0f, 1.0f);
       }},
      {"negated with a uniform",
       "float2 k;\nfloat4 main() : COLOR { float2 a = -float2(0.5, k.x); return float4(a, k.y + 0.5, 1.0); }",
       "main",
       {{"k", k}},
       {},
       [&](const Pixel&) { return Float4(-0.5f, -k[0], k[1] + 0.5f, 1.0f); }},
  };
  std::vector<std::string> overLimit;
  for (const Case& c : cases) Check(c, &overLimit);
  EXPECT_TRUE(overLimit.empty());
}

// Generated expressions over uniforms and procedural samplers, compiled for
// every profile, against the generator's own evaluation.
constexpr std::uint32_t kGeneratedSeeds = 500, kGeneratedBatches = 20;

class GxlPs2EndToEndGenerated : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(GxlPs2EndToEndGenerated, ExpressionsMatchTheGenerator) {
  std::uint32_t compared = 0, limited = 0;
  const std::uint32_t per = kGeneratedSeeds / kGeneratedBatches;
  for (std::uint32_t seed = GetParam() * per; seed < (GetParam() + 1) * per; ++seed) {
    const hlslgen::Generator g(seed, hlslgen::Options{.maxDepth = 4, .samplers = true});
    const hlslgen::Node& root = g.At(g.Root());
    if (root.type.matrix) continue;
    const std::uint32_t n = root.type.columns;
    std::string source = g.SamplerDeclarations();
    for (const hlslgen::Variable& v : g.Variables()) source += "uniform " + v.type.Name() + " " + v.name + ";\n";
    const std::string width = n == 1 ? "float" : "float" + std::to_string(n);
    source += "float4 main() : COLOR { return float4((" + width + ")(" + g.Text(g.Root()) + ")" +
              std::string(n == 1   ? ", 0.0, 0.0, 1.0"
                          : n == 2 ? ", 0.0, 1.0"
                          : n == 3 ? ", 1.0"
                                   : "") +
              "); }\n";
    for (const char* profile : kProfiles) {
      const Compiled c = CompileHlsl(source, "main", profile);
      if (FAILED(c.hr)) {
        // Long or register-hungry expressions may not fit a profile.
        const bool limit = c.log.find("X5020") != std::string::npos || c.log.find("X4004") != std::string::npos ||
                           c.log.find("X4521") != std::string::npos;
        EXPECT_TRUE(limit) << "seed " << seed << " " << profile << ": " << c.log << source;
        limited += limit;
        continue;
      }
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
      for (const hlslgen::Variable& v : g.Variables())
        c.SetFloats(interp, v.name.c_str(), v.type.rows, v.type.columns, v.value.data());
      interp.SetSampler(hlslgen::ProceduralSampler(c.table.Get()));
      Lane lane;
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      for (std::uint32_t i = 0; i < n; ++i) {
        const double want = root.value[i];
        EXPECT_NEAR(lane.oC[0][i], want, 2e-5 * std::max(1.0, std::fabs(want)))
            << "seed " << seed << " " << profile << " [" << i << "]\n"
            << source << Text(c.code);
      }
      ++compared;
    }
  }
  // Most expressions fit every profile.
  EXPECT_GT(compared, 3 * limited);
}

INSTANTIATE_TEST_SUITE_P(Batches, GxlPs2EndToEndGenerated, ::testing::Range(0u, kGeneratedBatches));

}  // namespace

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

// The procedural texture behind each sampler name: smooth, different per name.
Float4 Texture(const std::string& sampler, float u, float v) {
  const float k = static_cast<float>(std::hash<std::string>{}(sampler) % 7);
  return Float4(0.5f + 0.4f * std::sin(1.3f * u + k), 0.5f + 0.4f * std::cos(0.7f * v - k), 0.25f + 0.5f * u * v,
                0.75f - 0.05f * k);
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
  static Float4 Sample(const char* sampler, float u, float v) { return Texture(sampler, u, v); }
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

Float4 Mul(const Float4& a, const Float4& b) { return Float4(a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]); }
float Dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

#define NURA_REQUIRE_SOURCE(text) NURA_REQUIRE_OUTSIDE_INPUT(!(text).empty(), "the shared shader corpus")

TEST(GxlPs2EndToEnd, AllegroPixelShaders) {
  const std::string shader = Allegro("ex_shader_vertex.hlsl", "ex_shader_pixel.hlsl");
  NURA_REQUIRE_SOURCE(shader);
  const float tint[3] = {0.5f, 1.5f, 0.25f};
  std::vector<Case> cases;
  cases.push_back(
      {"ex_shader_pixel", shader, "ps_main", {{"tint", {tint[0], tint[1], tint[2]}}}, {"s"}, [&](const Pixel& p) {
         const Float4 t = p.Texcoord(0);
         Float4 c = Pixel::Sample("s", t[0], t[1]);
         for (int i = 0; i < 3; ++i) c[i] *= tint[i];
         return c;
       }});
  cases.push_back({"ex_shader_multitex_pixel",
                   Allegro("ex_shader_vertex.hlsl", "ex_shader_multitex_pixel.hlsl"),
                   "ps_main",
                   {},
                   {"s1", "s2"},
                   [](const Pixel& p) {
                     const Float4 t = p.Texcoord(0);
                     const float u = t[0] * 100, v = t[1] * 100;
                     return Mul(Pixel::Sample("s2", u - std::floor(u), v - std::floor(v)),
                                Pixel::Sample("s1", t[0], t[1]));
                   }});
  cases.push_back({"ex_prim_wrap_pixel",
                   Allegro("ex_shader_vertex.hlsl", "ex_prim_wrap_pixel.hlsl"),
                   "ps_main",
                   {},
                   {"s1", "s2"},
                   [](const Pixel& p) {
                     const Float4 t = p.Texcoord(0);
                     return Mul(Pixel::Sample("s1", t[0], t[1]), Pixel::Sample("s2", t[0], t[1]));
                   }});
  const float light[3] = {3.0f, 4.0f, 5.0f}, diffuse[4] = {0.2f, 0.4f, 0.6f, 0.8f}, alpha = 3.0f;
  cases.push_back({"ex_prim_shader_pixel",
                   Allegro("ex_prim_shader_vertex.hlsl", "ex_prim_shader_pixel.hlsl"),
                   "ps_main",
                   {{"light_position", {light[0], light[1], light[2]}},
                    {"diffuse_color", {diffuse[0], diffuse[1], diffuse[2], diffuse[3]}},
                    {"alpha", {alpha}}},
                   {},
                   [&](const Pixel& p) {
                     const Float4 position = p.Texcoord(0), normal = p.Texcoord(1);
                     float lv[3], ld[3], n[3];
                     for (int i = 0; i < 3; ++i) lv[i] = light[i] - position[i];
                     const float ll = std::sqrt(Dot3(lv, lv)), nl = std::sqrt(Dot3(normal.v, normal.v));
                     for (int i = 0; i < 3; ++i) ld[i] = lv[i] / ll, n[i] = normal[i] / nl;
                     const float reflectance = std::max(Dot3(ld, n), 0.0f);
                     const float specular = std::pow(std::max(0.0f, 2 * reflectance * n[2] - ld[2]), alpha);
                     const float diffuseIntensity = reflectance * 10000.0f / Dot3(lv, lv);
                     Float4 c;
                     for (int i = 0; i < 4; ++i) c[i] = 0.01f + diffuse[i] * diffuseIntensity + specular;
                     return c;
                   },
                   1e-4f});
  cases.push_back({"ex_prim_high_pixel",
                   Allegro("ex_prim_high_vertex.hlsl", "ex_prim_high_pixel.hlsl"),
                   "ps_main",
                   {},
                   {},
                   [](const Pixel& p) {
                     const Float4 t = p.Texcoord(0);
                     const float u = t[0] / 32.0f, v = t[1] / 32.0f;
                     return Float4(u - std::floor(u), v - std::floor(v), 0, 1);
                   }});
  std::vector<std::string> overLimit;
  for (const Case& k : cases) {
    NURA_REQUIRE_SOURCE(k.source);
    Check(k, &overLimit);
  }
  EXPECT_TRUE(overLimit.empty()) << overLimit.front();
}

float Lerp(float a, float b, float t) { return a + (b - a) * t; }
float Clamp01(float x) { return std::min(std::max(x, 0.0f), 1.0f); }

TEST(GxlPs2EndToEnd, MamePixelShaders) {
  const std::string primary = ReadCorpus("mame/primary.fx");
  NURA_REQUIRE_SOURCE(primary);
  std::vector<Case> cases;
  cases.push_back({"primary screen", primary, "ps_screen_main", {}, {"DiffuseSampler"}, [](const Pixel& p) {
                     return Pixel::Sample("DiffuseSampler", p.Texcoord(0)[0], p.Texcoord(0)[1]);
                   }});
  cases.push_back(
      {"primary vector buffer", primary, "ps_vector_buffer_main", {}, {"DiffuseSampler"}, [](const Pixel& p) {
         const Float4 c = p.Color(0);
         return Mul(Pixel::Sample("DiffuseSampler", p.Texcoord(0)[0], p.Texcoord(0)[1]),
                    Float4(c[0] + 1, c[1] + 1, c[2] + 1, c[3]));
       }});
  cases.push_back({"primary ui", primary, "ps_ui_main", {}, {"DiffuseSampler"}, [](const Pixel& p) {
                     return Mul(Pixel::Sample("DiffuseSampler", p.Texcoord(0)[0], p.Texcoord(0)[1]), p.Color(0));
                   }});
  const float time[2] = {0.75f, 0.5f}, length[3] = {0.0f, 0.25f, 0.4f};
  cases.push_back({"vector",
                   ReadCorpus("mame/vector.fx"),
                   "ps_main",
                   {{"TimeParams", {time[0], time[1]}}, {"LengthParams", {length[0], length[1], length[2]}}},
                   {},
                   [&](const Pixel& p) {
                     const float x = p.Texcoord(1)[0];
                     const float timeModulate = Lerp(1.0f, time[0], time[1]);
                     float lm = 1.0f - Clamp01(x / length[2]);
                     const float minLength = 2.0f - std::min(std::max(x - 1.0f, 0.0f), 2.0f);
                     lm = Lerp(lm, 2.0f, minLength * 0.5f);
                     lm = Lerp(1.0f, timeModulate * lm, length[1]);
                     return Mul(p.Color(0), Float4(lm, lm, lm, 1));
                   }});
  cases.push_back({"focus", ReadCorpus("mame/focus.fx"), "ps_main", {}, {"DiffuseSampler"}, [](const Pixel& p) {
                     Float4 d[8];
                     for (int i = 0; i < 8; ++i)
                       d[i] = Pixel::Sample("DiffuseSampler", p.Texcoord(i)[0], p.Texcoord(i)[1]);
                     Float4 out;
                     for (int c = 0; c < 3; ++c) {
                       float sum = 0;
                       for (int i = 0; i < 8; ++i) sum += d[i][c];
                       out[c] = Lerp(d[0][c], sum / 8.0f, 1.0f);
                     }
                     out[3] = d[0][3];
                     return out;
                   }});
  // chroma's loop over the three primaries, unrolled.
  const float gain[3] = {0.2126f, 0.7152f, 0.0722f};
  const float chroma[3][2] = {{0.630f, 0.340f}, {0.310f, 0.595f}, {0.155f, 0.070f}};
  cases.push_back({"chroma",
                   ReadCorpus("mame/chroma.fx"),
                   "ps_main",
                   {{"YGain", {gain[0], gain[1], gain[2]}},
                    {"ChromaA", {chroma[0][0], chroma[0][1]}},
                    {"ChromaB", {chroma[1][0], chroma[1][1]}},
                    {"ChromaC", {chroma[2][0], chroma[2][1]}}},
                   {"DiffuseSampler"},
                   [&](const Pixel& p) {
                     static const float kXyzToRgb[3][3] = {
                         {3.2406f, -1.5372f, -0.4986f}, {-0.9689f, 1.8758f, 0.0415f}, {0.0557f, -0.2040f, 1.0570f}};
                     const Float4 in = Pixel::Sample("DiffuseSampler", p.Texcoord(0)[0], p.Texcoord(0)[1]);
                     Float4 out(0, 0, 0, in[3]);
                     for (int i = 0; i < 3; ++i) {
                       const float y = gain[i] * in[i];
                       const float xyz[3] = {chroma[i][0] * (y / chroma[i][1]), y,
                                             (1.0f - chroma[i][0] - chroma[i][1]) * (y / chroma[i][1])};
                       for (int r = 0; r < 3; ++r) out[r] += Dot3(kXyzToRgb[r], xyz);
                     }
                     return out;
                   },
                   1e-4f});
  // phosphor in its decay modes 1 (exponential) and 2 (power law).
  const float delta = 0.25f, tau[3] = {0.5f, 1.0f, 2.0f}, beta[3] = {1.5f, 2.0f, 2.5f}, gamma[3] = {0.3f, 0.2f, 0.1f};
  for (const float mode : {1.0f, 2.0f}) {
    cases.push_back({mode == 1 ? "phosphor exponential" : "phosphor power",
                     ReadCorpus("mame/phosphor.fx"),
                     "ps_main",
                     {{"Mode", {mode}},
                      {"Passthrough", {0}},
                      {"DeltaTime", {delta}},
                      {"Tau", {tau[0], tau[1], tau[2]}},
                      {"Beta", {beta[0], beta[1], beta[2]}},
                      {"Gamma", {gamma[0], gamma[1], gamma[2]}}},
                     {"DiffuseSampler", "PreviousSampler"},
                     [&, mode](const Pixel& p) {
                       const Float4 curr = Pixel::Sample("DiffuseSampler", p.Texcoord(0)[0], p.Texcoord(0)[1]);
                       const Float4 prev = Pixel::Sample("PreviousSampler", p.Texcoord(1)[0], p.Texcoord(1)[1]);
                       Float4 out(0, 0, 0, curr[3]);
                       for (int c = 0; c < 3; ++c) {
                         float x = prev[c];
                         if (mode == 1)
                           x *= std::exp(-delta / tau[c]);
                         else if (x != 0.0f)
                           x = std::pow(gamma[c] * delta + std::pow(1 / x, 1 / beta[c]), -beta[c]);
                         out[c] = std::max(curr[c], x);
                       }
                       return out;
                     },
                     1e-3f});
  }
  const float rise[3] = {0.5f, 1.0f, 2.0f}, fall[3] = {1.0f, 0.5f, 0.0f};
  cases.push_back({"ghosting",
                   ReadCorpus("mame/ghosting.fx"),
                   "ps_main",
                   {{"Passthrough", {0}},
                    {"DeltaTime", {delta}},
                    {"LCDRise", {rise[0], rise[1], rise[2]}},
                    {"LCDFall", {fall[0], fall[1], fall[2]}}},
                   {"DiffuseSampler", "PreviousSampler"},
                   [&](const Pixel& p) {
                     const Float4 curr = Pixel::Sample("DiffuseSampler", p.Texcoord(0)[0], p.Texcoord(0)[1]);
                     const Float4 prev = Pixel::Sample("PreviousSampler", p.Texcoord(1)[0], p.Texcoord(1)[1]);
                     Float4 out(0, 0, 0, curr[3]);
                     for (int c = 0; c < 3; ++c) {
                       const float x = prev[c], rising = curr[c] > x;
                       const float t = (rising ? rise[c] : fall[c]) * 0.159154943f;
                       out[c] = t == 0   ? curr[c]
                                : rising ? (curr[c] - x) * (1 - std::exp(-delta / t)) + x
                                         : (x - curr[c]) * std::exp(-delta / t) + curr[c];
                     }
                     return out;
                   },
                   1e-3f});
  cases.push_back(
      {"irrlicht pixelMain", ReadCorpus("irrlicht/d3d9.hlsl"), "pixelMain", {}, {"myTexture"}, [](const Pixel& p) {
         Float4 c = Mul(p.Color(0), Pixel::Sample("myTexture", p.Texcoord(0)[0], p.Texcoord(0)[1]));
         for (int i = 0; i < 4; ++i) c[i] *= 4.0f;
         return c;
       }});
  std::vector<std::string> overLimit;
  for (const Case& k : cases) {
    NURA_REQUIRE_SOURCE(k.source);
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
  const float weight = 0.75f;
  const Case bloom{
      "bloom",
      ReadCorpus("mame/bloom.fx"),
      "ps_main",
      {{"Level0123Weight", {weight, 0, 0, 0}}, {"Level4567Weight", {0, 0, 0, 0}}, {"Level89AWeight", {0, 0, 0}}},
      {"DiffuseSampler0"},
      [&](const Pixel& p) {
        const Float4 t = Pixel::Sample("DiffuseSampler0", p.Texcoord(0)[0], p.Texcoord(0)[1]);
        return Float4(t[0] * weight, t[1] * weight, t[2] * weight, 1.0f);
      }};
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
      for (const hlslgen::Variable& v : g.Variables()) {
        const ConstantHandle handle = c.table->ConstantByName(nullptr, v.name.c_str());
        ConstantDesc desc{};
        UINT count = 1;
        if (!handle || FAILED(c.table->DescribeConstants(handle, &desc, &count))) continue;
        // Registers hold rows, or with column packing the columns.
        const std::uint32_t rows = v.type.rows, columns = v.type.columns;
        const bool byColumns = desc.typeClass == 3;
        for (std::uint32_t r = 0; r < desc.registerCount; ++r) {
          float x[4] = {};
          for (std::uint32_t i = 0; i < 4; ++i) {
            const std::uint32_t row = byColumns ? i : r, column = byColumns ? r : i;
            if (row < rows && column < columns) x[i] = static_cast<float>(v.value[row * columns + column]);
          }
          interp.SetFloat(static_cast<int>(desc.registerIndex + r), Float4(x[0], x[1], x[2], x[3]));
        }
      }
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

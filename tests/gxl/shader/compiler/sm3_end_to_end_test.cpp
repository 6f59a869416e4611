// HLSL compiled end to end for the shader model 3 profiles and run as a
// pipeline in the token kit's interpreter: vertex lanes first, their outputs
// bound by declared usage to the inputs of a 2x2 pixel quad with procedural
// samplers. The corpus's vertex and pixel pairs are checked against C++
// written from their sources, with and without optimisation; vertex
// functions against their vs_2_0 code and pixel functions against their
// ps_2_sw code where a reference would only restate a long source.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "generated_vertex_body.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "place_constants.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/gxl/shader/corpus_text.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/shader/corpus_refs/corpus_refs.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Declaration;
using nura::shtok::Float4;
using nura::shtok::Interpreter;
using nura::shtok::Lane;
using shadertest::Uniforms;
using Code = std::vector<std::uint32_t>;

constexpr DWORD kNoOptimisation = 0x4;

using Compiled = shadertest::CompiledHlsl;
using shadertest::CompileHlsl;

std::string Text(const Code& code) {
  std::string text, error;
  return nura::shtok::Disassemble(code.data(), code.size(), &text, &error) ? text : "undecodable: " + error;
}

using shadertest::Allegro;
using shadertest::ReadCorpus;

#define NURA_REQUIRE_SOURCE(text) NURA_REQUIRE_OUTSIDE_INPUT(!(text).empty(), "the shared shader corpus")

// --- The pipeline ----------------------------------------------------------------------

// The semantic of a usage and index, as the references name them ("TEXCOORD1").
std::string Semantic(int usage, int index) {
  static const char* const kNames[] = {"POSITION", "BLENDWEIGHT", "BLENDINDICES", "NORMAL",     "PSIZE",
                                       "TEXCOORD", "TANGENT",     "BINORMAL",     "TESSFACTOR", "POSITIONT",
                                       "COLOR",    "FOG",         "DEPTH",        "SAMPLE"};
  return (usage >= 0 && usage < 14 ? kNames[usage] : "?") + std::to_string(index);
}

// What the application feeds vertex lane l for an input.
Float4 VertexInput(int lane, int usage, int index) {
  const float l = static_cast<float>(lane), i = static_cast<float>(index);
  if (usage == nura::shtok::kUsagePosition) return Float4(100.0f + 37.0f * l, 50.0f + 21.0f * l, 0.5f, 1.0f);
  return Float4(0.2f + 0.1f * l + 0.05f * i, 0.3f + 0.05f * l - 0.02f * i, 0.6f - 0.1f * l, 0.8f + 0.03f * l);
}

// The corpus's procedural texture behind each sampler name.
Float4 Texture(const std::string& sampler, float u, float v) {
  const corpusref::V4 t = corpusref::Texel(sampler, u, v);
  return Float4(static_cast<float>(t[0]), static_cast<float>(t[1]), static_cast<float>(t[2]), static_cast<float>(t[3]));
}

// Vertex outputs by semantic.
using Varyings = std::map<std::string, Float4>;

bool Place(const Compiled& c, const Uniforms& uniforms, const std::vector<std::string>& samplers, Interpreter& interp,
           std::string* error) {
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  if (!shadertest::PlaceConstants(c.table.Get(), uniforms, interp, error)) return false;
  std::map<int, std::string> bound;
  for (const std::string& name : samplers) {
    const INT index = c.table->SamplerIndex(c.table->ConstantByName(nullptr, name.c_str()));
    if (index >= 0) bound[index] = name;
  }
  interp.SetSampler([bound](const nura::shtok::SampleRequest& r) {
    const auto found = bound.find(r.sampler);
    return found == bound.end() ? Float4(0, 0, 0, 0) : Texture(found->second, r.coord[0], r.coord[1]);
  });
  return true;
}

// Runs four vertex lanes; their declared outputs by semantic.
bool RunVertices(const Compiled& c, const Uniforms& uniforms, Varyings out[4], std::string* error) {
  Interpreter interp;
  if (!Place(c, uniforms, {}, interp, error)) return false;
  Lane lanes[4];
  for (int l = 0; l < 4; ++l)
    for (const Declaration& d : interp.Declarations())
      if (Float4* slot = d.usage >= 0 && !d.output ? nura::shtok::DeclaredSlot(lanes[l], d) : nullptr)
        *slot = VertexInput(l, d.usage, d.usageIndex);
  if (!interp.Run(lanes, 4, error)) return false;
  for (int l = 0; l < 4; ++l)
    for (const Declaration& d : interp.Declarations())
      if (d.output) out[l][Semantic(d.usage, d.usageIndex)] = lanes[l].o[d.number];
  // Before shader model 3 the outputs are undeclared: oT# by their number.
  if ((c.code[0] & 0xFFFF) < 0x300)
    for (int l = 0; l < 4; ++l)
      for (int n = 0; n < 8; ++n) out[l][Semantic(nura::shtok::kUsageTexCoord, n)] = lanes[l].o[n];
  return true;
}

// Runs the quad with its inputs taken by declared usage from the vertex
// outputs of the same lane (ps_2_x: t# as TEXCOORD, v# as COLOR).
bool RunQuad(const Compiled& c, const Uniforms& uniforms, const std::vector<std::string>& samplers,
             const Varyings in[4], Lane quad[4], std::string* error) {
  Interpreter interp;
  if (!Place(c, uniforms, samplers, interp, error)) return false;
  for (int l = 0; l < 4; ++l) {
    quad[l] = Lane();
    for (const Declaration& d : interp.Declarations()) {
      Float4* slot = d.usage >= 0 && !d.output ? nura::shtok::DeclaredSlot(quad[l], d) : nullptr;
      if (!slot) continue;
      const auto found = in[l].find(Semantic(d.usage, d.usageIndex));
      if (found == in[l].end()) return *error = "no vertex output for " + Semantic(d.usage, d.usageIndex), false;
      *slot = found->second;
    }
  }
  return interp.Run(quad, 4, error);
}

// --- References ----------------------------------------------------------------------

struct Pair {
  const char* name;
  std::string source;
  const char* vertexEntry;
  const char* pixelEntry;
  Uniforms uniforms;
  std::vector<std::string> samplers;
  // What the vertex stage writes for lane l, and the colour of a pixel from it.
  std::function<Varyings(int lane)> vertex;
  std::function<Float4(const Varyings&)> pixel;
  double tolerance = 1e-5;  // relative; wider for the trigonometry
  bool optimised = true;    // also compiled with optimisation
};

// Allegro's vertex shader: the position through the projection, the rest as
// it came, `width` components of each (the others not written: NaN).
Varyings AllegroVertex(int lane, const std::vector<double>& m, const std::vector<const char*>& copied, int width) {
  const Float4 p = VertexInput(lane, nura::shtok::kUsagePosition, 0);
  Float4 out;
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) out[c] += p[r] * static_cast<float>(m[r * 4 + c]);
  Varyings v{{"POSITION0", out}};
  for (const char* name : copied) {
    const std::string s = name;
    const int index = s.back() - '0';
    Float4 in = VertexInput(lane, s.rfind("TEXCOORD", 0) == 0 ? nura::shtok::kUsageTexCoord : 0, index);
    for (int i = width; i < 4; ++i) in[i] = NAN;
    v[s] = in;
  }
  return v;
}

const std::vector<double> kProjection = {0.5, 0.1, 0, 0, -0.2, 0.75, 0, 0, 0, 0, 1, 0, -1, 0.5, 0, 1};

// mame's screen quad: position scaled to the screen and the texture
// coordinate moved by half a source texel.
Float4 MamePosition(int lane, const float screen[2]) {
  const Float4 p = VertexInput(lane, nura::shtok::kUsagePosition, 0);
  return Float4((p[0] / screen[0] - 0.5f) * 2.0f, (1.0f - p[1] / screen[1] - 0.5f) * 2.0f, p[2], 1.0f);
}

// The corpus table's pixel reference of an entry, given these uniforms.
std::function<Float4(const Varyings&)> PixelReference(const char* file, const char* entry, const Uniforms& uniforms) {
  const corpusref::Entry* e = corpusref::Find(file, entry);
  const corpusref::Reference reference = e ? e->reference : nullptr;
  return [reference, uniforms](const Varyings& in) {
    corpusref::Inputs inputs;
    for (const auto& [semantic, v] : in) inputs[semantic] = {v[0], v[1], v[2], v[3]};
    const corpusref::Outputs out = reference(inputs, uniforms);
    const std::vector<double>& c = out.at("COLOR0");
    return Float4(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]),
                  static_cast<float>(c[3]));
  };
}

std::vector<Pair> Pairs() {
  std::vector<Pair> pairs;
  const std::vector<double> tint = {0.5, 1.5, 0.25};
  pairs.push_back({"allegro ex_shader",
                   Allegro("ex_shader_vertex.hlsl", "ex_shader_pixel.hlsl"),
                   "vs_main",
                   "ps_main",
                   {{"al_projview_matrix", kProjection}, {"tint", tint}},
                   {"s"},
                   [](int l) { return AllegroVertex(l, kProjection, {"TEXCOORD0"}, 2); },
                   PixelReference("allegro5/ex_shader_pixel.hlsl", "ps_main", {{"tint", tint}})});
  pairs.push_back({"allegro ex_prim_wrap",
                   Allegro("ex_prim_high_vertex.hlsl", "ex_prim_wrap_pixel.hlsl"),
                   "vs_main",
                   "ps_main",
                   {{"al_projview_matrix", kProjection}},
                   {"s1", "s2"},
                   [](int l) { return AllegroVertex(l, kProjection, {"TEXCOORD0"}, 2); },
                   PixelReference("allegro5/ex_prim_wrap_pixel.hlsl", "ps_main", {})});
  pairs.push_back({"allegro ex_prim_high",
                   Allegro("ex_prim_high_vertex.hlsl", "ex_prim_high_pixel.hlsl"),
                   "vs_main",
                   "ps_main",
                   {{"al_projview_matrix", kProjection}},
                   {},
                   [](int l) { return AllegroVertex(l, kProjection, {"TEXCOORD0"}, 2); },
                   PixelReference("allegro5/ex_prim_high_pixel.hlsl", "ps_main", {})});
  const float light[3] = {300.0f, 200.0f, 50.0f}, diffuse[4] = {0.2f, 0.4f, 0.6f, 0.8f}, alpha = 3.0f;
  pairs.push_back({"allegro ex_prim_shader",
                   Allegro("ex_prim_shader_vertex.hlsl", "ex_prim_shader_pixel.hlsl"),
                   "vs_main",
                   "ps_main",
                   {{"al_projview_matrix", kProjection},
                    {"light_position", {light[0], light[1], light[2]}},
                    {"diffuse_color", {diffuse[0], diffuse[1], diffuse[2], diffuse[3]}},
                    {"alpha", {alpha}}},
                   {},
                   [](int l) {
                     Varyings v = AllegroVertex(l, kProjection, {"TEXCOORD2"}, 3);
                     Float4 position = VertexInput(l, nura::shtok::kUsagePosition, 0), normal = v["TEXCOORD2"];
                     position[3] = NAN;
                     v.erase("TEXCOORD2");
                     v["TEXCOORD0"] = position;
                     v["TEXCOORD1"] = normal;
                     return v;
                   },
                   PixelReference("allegro5/ex_prim_shader_pixel.hlsl", "ps_main",
                                  {{"light_position", {light[0], light[1], light[2]}},
                                   {"diffuse_color", {diffuse[0], diffuse[1], diffuse[2], diffuse[3]}},
                                   {"alpha", {alpha}}}),
                   1e-4});
  static const float kScreen[2] = {640.0f, 480.0f};
  const double sourceDims[2] = {256, 256};
  Uniforms ntscUniforms = {{"SourceDims", {sourceDims[0], sourceDims[1]}},
                           {"SourceRect", {1, 1}},
                           {"AValue", {0.5}},
                           {"BValue", {0.5}},
                           {"CCValue", {1.0}},
                           {"OValue", {0.25}},
                           {"PValue", {1.0}},
                           {"ScanTime", {5.0}},
                           {"NotchHalfWidth", {0.5}},
                           {"YFreqResponse", {6.0}},
                           {"IFreqResponse", {1.2}},
                           {"QFreqResponse", {0.6}},
                           {"SignalOffset", {0.1}}};
  ntscUniforms["ScreenDims"] = {kScreen[0], kScreen[1]};
  pairs.push_back({"mame ntsc",
                   ReadCorpus("mame/ntsc.fx"),
                   "vs_main",
                   "ps_main",
                   ntscUniforms,
                   {"DiffuseSampler"},
                   [sourceDims](int l) {
                     Float4 t = VertexInput(l, nura::shtok::kUsageTexCoord, 0);
                     t = Float4(t[0] + 0.5f / static_cast<float>(sourceDims[0]),
                                t[1] + 0.5f / static_cast<float>(sourceDims[1]), 0, 0);  // zw zeroed
                     return Varyings{{"POSITION0", MamePosition(l, kScreen)}, {"TEXCOORD0", t}};
                   },
                   PixelReference("mame/ntsc.fx", "ps_main", ntscUniforms),
                   2e-3});
  // bloom with only its first level weighted: the noise it adds to the other
  // levels multiplies zero, so the first texel scaled is what it returns.
  const float weight = 0.75f, target[2] = {512.0f, 256.0f};
  pairs.push_back(
      {"mame bloom",
       ReadCorpus("mame/bloom.fx"),
       "vs_main",
       "ps_main",
       {{"ScreenDims", {kScreen[0], kScreen[1]}},
        {"TargetDims", {target[0], target[1]}},
        {"Level0123Weight", {weight, 0, 0, 0}},
        {"Level4567Weight", {0, 0, 0, 0}},
        {"Level89AWeight", {0, 0, 0}}},
       {"DiffuseSampler0"},
       [=](int l) {
         const Float4 p = VertexInput(l, nura::shtok::kUsagePosition, 0);
         const float u = p[0] / kScreen[0] + 0.5f / target[0], v = p[1] / kScreen[1] + 0.5f / target[1];
         // Level sizes are zero: the other coordinates are infinite, their texels unweighted.
         const float inf = INFINITY;
         return Varyings{
             {"POSITION0", MamePosition(l, kScreen)},   {"COLOR0", VertexInput(l, nura::shtok::kUsageColor, 0)},
             {"TEXCOORD0", Float4(u, v, inf, inf)},     {"TEXCOORD1", Float4(inf, inf, inf, inf)},
             {"TEXCOORD2", Float4(inf, inf, inf, inf)}, {"TEXCOORD3", Float4(inf, inf, inf, inf)},
             {"TEXCOORD4", Float4(inf, inf, inf, inf)}, {"TEXCOORD5", Float4(inf, inf, 0, 0)}};
       },
       [=](const Varyings& in) {
         const Float4 t = in.at("TEXCOORD0");
         const Float4 texel = Texture("DiffuseSampler0", t[0], t[1]);
         return Float4(texel[0] * weight, texel[1] * weight, texel[2] * weight, 1.0f);
       }});
  return pairs;
}

class GxlSm3EndToEndPairs : public ::testing::TestWithParam<const char*> {};

TEST_P(GxlSm3EndToEndPairs, VertexAndPixelAgainstTheSource) {
  const std::string profile = GetParam();  // "3_0" or "3_sw"
  for (const Pair& pair : Pairs()) {
    NURA_REQUIRE_SOURCE(pair.source);
    for (const DWORD flags : {0u, kNoOptimisation}) {
      if (!pair.optimised && flags == 0) continue;
      SCOPED_TRACE(std::string(pair.name) + " " + profile + (flags ? " (no optimisation)" : ""));
      const Compiled vs = CompileHlsl(pair.source, pair.vertexEntry, ("vs_" + profile).c_str(), flags);
      const Compiled ps = CompileHlsl(pair.source, pair.pixelEntry, ("ps_" + profile).c_str(), flags);
      ASSERT_EQ(vs.hr, S_OK) << vs.log;
      ASSERT_EQ(ps.hr, S_OK) << ps.log;
      Varyings varyings[4];
      std::string error;
      ASSERT_TRUE(RunVertices(vs, pair.uniforms, varyings, &error)) << error << "\n" << Text(vs.code);
      for (int l = 0; l < 4; ++l) {
        const Varyings want = pair.vertex(l);
        for (const auto& [semantic, value] : want) {
          const auto got = varyings[l].find(semantic);
          ASSERT_NE(got, varyings[l].end()) << semantic << "\n" << Text(vs.code);
          for (int i = 0; i < 4; ++i) {
            if (!std::isfinite(value[i])) continue;  // not written, or read by nothing that counts
            EXPECT_NEAR(got->second[i], value[i], 1e-5 * (1 + std::fabs(value[i])))
                << semantic << " lane " << l << " [" << i << "]";
          }
        }
      }
      Lane quad[4];
      ASSERT_TRUE(RunQuad(ps, pair.uniforms, pair.samplers, varyings, quad, &error)) << error << "\n" << Text(ps.code);
      for (int l = 0; l < 4; ++l) {
        const Float4 want = pair.pixel(varyings[l]);
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(quad[l].oC[0][i], want[i], pair.tolerance * (1 + std::fabs(want[i])))
              << "lane " << l << " [" << i << "]\n"
              << Text(ps.code);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Profiles, GxlSm3EndToEndPairs, ::testing::Values("3_0", "3_sw"));

// The corpus's vertex functions give the same outputs as their vs_2_0 code,
// which writes oPos, oD#, oT#, oFog and oPts where vs_3_0 declares o#.
TEST(GxlSm3EndToEnd, VertexFunctionsAgreeWithVersion2) {
  struct Function {
    const char* file;
    const char* entry;
  } functions[] = {
      {"mame/ntsc.fx", "vs_main"},
      {"mame/bloom.fx", "vs_main"},
      {"mame/distortion.fx", "vs_main"},
      {"mame/post.fx", "vs_main"},
      {"mame/primary.fx", "vs_screen_main"},
      {"mame/vector.fx", "vs_main"},
      {"allegro5/ex_shader_vertex.hlsl", "vs_main"},
      {"allegro5/ex_prim_shader_vertex.hlsl", "vs_main"},
  };
  const Uniforms uniforms = {{"ScreenDims", {640, 480}},         {"SourceDims", {256, 256}}, {"SourceRect", {1, 0.75}},
                             {"TargetDims", {512, 256}},         {"QuadDims", {600, 400}},   {"TargetScale", {1, 1}},
                             {"al_projview_matrix", kProjection}};
  for (const Function& f : functions) {
    const std::string source = ReadCorpus(f.file);
    NURA_REQUIRE_SOURCE(source);
    const Compiled two = CompileHlsl(source, f.entry, "vs_2_0", 0);
    const Compiled three = CompileHlsl(source, f.entry, "vs_3_0", 0);
    ASSERT_EQ(two.hr, S_OK) << f.file << "\n" << two.log;
    ASSERT_EQ(three.hr, S_OK) << f.file << "\n" << three.log;
    Varyings outputs[4];
    std::string error;
    ASSERT_TRUE(RunVertices(three, uniforms, outputs, &error)) << error;
    Interpreter interp;
    ASSERT_TRUE(Place(two, uniforms, {}, interp, &error)) << error;
    Lane lanes[4];
    for (int l = 0; l < 4; ++l)
      for (const Declaration& d : interp.Declarations())
        if (Float4* slot = d.usage >= 0 ? nura::shtok::DeclaredSlot(lanes[l], d) : nullptr)
          *slot = VertexInput(l, d.usage, d.usageIndex);
    ASSERT_TRUE(interp.Run(lanes, 4, &error)) << error;
    Interpreter declared;
    ASSERT_TRUE(declared.Load(three.code.data(), three.code.size(), &error));
    int compared = 0;
    for (const Declaration& d : declared.Declarations()) {
      if (!d.output) continue;
      for (int l = 0; l < 4; ++l) {
        const Lane& lane = lanes[l];
        const Float4* old = d.usage == nura::shtok::kUsagePosition   ? &lane.oPos
                            : d.usage == nura::shtok::kUsageColor    ? &lane.oD[d.usageIndex & 1]
                            : d.usage == nura::shtok::kUsageTexCoord ? &lane.o[d.usageIndex & 7]
                            : d.usage == nura::shtok::kUsageFog      ? &lane.oFog
                                                                     : &lane.oPts;
        const Float4& now = outputs[l][Semantic(d.usage, d.usageIndex)];
        for (int i = 0; i < 4; ++i)
          if (d.mask & (1u << i)) {
            // Equal infinities agree too (bloom divides by level sizes left at 0).
            if (now[i] != (*old)[i]) {
              EXPECT_NEAR(now[i], (*old)[i], 1e-5 * (1 + std::fabs((*old)[i])))
                  << f.file << " " << Semantic(d.usage, d.usageIndex) << " lane " << l << " [" << i << "]";
            }
            ++compared;
          }
      }
    }
    EXPECT_GT(compared, 0) << f.file;
  }
}

// The corpus's pixel functions that both compile give the same colours as
// ps_2_sw code and as ps_3_0 code, with and without optimisation.
TEST(GxlSm3EndToEnd, PixelFunctionsAgreeWithVersion2) {
  struct Function {
    const char* file;
    const char* entry;
    std::vector<std::string> samplers;
  } functions[] = {
      {"mame/post.fx", "ps_main", {"DiffuseSampler", "ShadowSampler"}},
      {"mame/primary.fx", "ps_ui_main", {"DiffuseSampler"}},
      {"mame/focus.fx", "ps_main", {"DiffuseSampler"}},
      {"mame/chroma.fx", "ps_main", {"DiffuseSampler"}},
      {"mame/phosphor.fx", "ps_main", {"DiffuseSampler", "PreviousSampler"}},
      {"mame/ghosting.fx", "ps_main", {"DiffuseSampler", "PreviousSampler"}},
  };
  const Uniforms uniforms = {{"ScreenDims", {640, 480}},
                             {"SourceDims", {256, 256}},
                             {"SourceRect", {1, 0.75}},
                             {"TargetDims", {512, 256}},
                             {"DeltaTime", {0.25}},
                             {"Tau", {0.5, 1.0, 2.0}},
                             {"Mode", {1}},
                             {"YGain", {0.2126, 0.7152, 0.0722}}};
  Varyings varyings[4];
  for (int l = 0; l < 4; ++l)
    for (int i = 0; i < 8; ++i) {
      varyings[l][Semantic(nura::shtok::kUsageTexCoord, i)] = VertexInput(l, nura::shtok::kUsageTexCoord, i);
      varyings[l][Semantic(nura::shtok::kUsageColor, i)] = VertexInput(l, nura::shtok::kUsageColor, i);
    }
  for (const Function& f : functions) {
    const std::string source = ReadCorpus(f.file);
    NURA_REQUIRE_SOURCE(source);
    const Compiled two = CompileHlsl(source, f.entry, "ps_2_sw", 0);
    ASSERT_EQ(two.hr, S_OK) << f.file << "\n" << two.log;
    Lane want[4];
    std::string error;
    ASSERT_TRUE(RunQuad(two, uniforms, f.samplers, varyings, want, &error)) << error;
    for (const DWORD flags : {0u, kNoOptimisation}) {
      const Compiled three = CompileHlsl(source, f.entry, "ps_3_0", flags);
      ASSERT_EQ(three.hr, S_OK) << f.file << "\n" << three.log;
      Lane got[4];
      ASSERT_TRUE(RunQuad(three, uniforms, f.samplers, varyings, got, &error)) << error;
      for (int l = 0; l < 4; ++l)
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(got[l].oC[0][i], want[l].oC[0][i], 1e-4 * (1 + std::fabs(want[l].oC[0][i])))
              << f.file << " flags " << flags << " lane " << l << " [" << i << "]\n"
              << Text(three.code);
    }
  }
}

// Generated programs with if/else and counted loops (early exits among
// them), their variables uniforms, against the generator's own evaluation:
// vertex programs write the result to TEXCOORD0-3, pixel ones to COLOR0-3.
// Each program compiles (or stops at a limit of the profile, saying so) into
// code that validates and runs, and gives the generator's values.
const std::uint32_t kFlowSeeds = nura::test::LongOrShare(500, 100), kFlowBatches = 10;

class GxlSm3EndToEndFlow : public ::testing::TestWithParam<std::tuple<const char*, std::uint32_t>> {};

TEST_P(GxlSm3EndToEndFlow, ProgramsGiveTheGeneratorsValues) {
  const auto& [profile, batch] = GetParam();
  const bool vertex = profile[0] == 'v';
  std::uint32_t compared = 0, limited = 0, mismatched = 0;
  std::string differing;
  const std::uint32_t per = kFlowSeeds / kFlowBatches;
  for (std::uint32_t seed = batch * per; seed < (batch + 1) * per; ++seed) {
    const hlslgen::Generator g(seed, hlslgen::Options{.maxDepth = 4, .flowControl = true});
    std::string source;
    for (const hlslgen::Variable& v : g.Variables())
      source += std::string("uniform ") + (v.type.matrix ? "row_major " : "") + v.type.Name() + " " + v.name + ";\n";
    std::string body = shadertest::GeneratedVertexBody(g);
    if (vertex) {
      source +=
          "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 t0 : TEXCOORD0, out float4 t1 : "
          "TEXCOORD1, out float4 t2 : TEXCOORD2, out float4 t3 : TEXCOORD3) {\n" +
          body + "}\n";
    } else {
      body.erase(0, body.find('\n') + 1);  // no position
      source +=
          "void main(out float4 t0 : COLOR0, out float4 t1 : COLOR1, out float4 t2 : COLOR2, out float4 t3 : "
          "COLOR3) {\n" +
          body + "}\n";
    }
    const Compiled c = CompileHlsl(source, "main", profile, seed % 3 == 0 ? kNoOptimisation : 0);
    if (FAILED(c.hr)) {
      // Programs that need more temporaries or slots than the profile has may
      // fail, saying so; a pixel shader indexes constants only through the
      // loop counter, and the compiler refuses other indexes itself.
      const bool limit = c.log.find("X4004") != std::string::npos || c.log.find("X5020") != std::string::npos ||
                         c.log.find("X4521") != std::string::npos ||
                         (!vertex && c.log.find("error X4511") != std::string::npos);
      EXPECT_TRUE(limit) << "seed " << seed << " " << profile << "\n" << c.log << source;
      limited += limit;
      continue;
    }
    Interpreter interp;
    std::string error;
    ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
    for (const hlslgen::Variable& v : g.Variables()) {
      const ConstantHandle handle = c.table->ConstantByName(nullptr, v.name.c_str());
      ConstantDesc desc{};
      UINT count = 1;
      if (!handle || FAILED(c.table->DescribeConstants(handle, &desc, &count))) continue;
      for (std::uint32_t r = 0; r < desc.registerCount; ++r) {
        Float4 x;
        for (std::uint32_t i = 0; i < 4; ++i)
          if (r < v.type.rows && i < v.type.columns)
            x[static_cast<int>(i)] = static_cast<float>(v.value[r * v.type.columns + i]);
        if (desc.registerSet == 1)
          interp.SetInt(static_cast<int>(desc.registerIndex + r), static_cast<int>(x[0]), static_cast<int>(x[1]),
                        static_cast<int>(x[2]), static_cast<int>(x[3]));
        else if (desc.registerSet == 0)
          interp.SetBool(static_cast<int>(desc.registerIndex + r), x[0] != 0);
        else
          interp.SetFloat(static_cast<int>(desc.registerIndex + r), x);
      }
    }
    Lane lane;
    ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error << "\nseed " << seed << "\n" << source << Text(c.code);
    const hlslgen::Type& t = g.ResultType();
    bool same = true;
    std::string values;
    for (std::uint32_t k = 0; k < g.Result().size(); ++k) {
      const int row = static_cast<int>(k / t.columns), column = static_cast<int>(k % t.columns);
      Float4 written;
      if (vertex) {
        const Declaration* d = interp.FindDeclaration(nura::shtok::kUsageTexCoord, row, true);
        ASSERT_NE(d, nullptr) << "seed " << seed << "\n" << Text(c.code);
        written = lane.o[d->number];
      } else {
        written = lane.oC[row];
      }
      const double want = g.Result()[k];
      if (std::fabs(written[column] - want) > 2e-5 * std::max(1.0, std::fabs(want))) {
        same = false;
        values += "[" + std::to_string(k) + "] " + std::to_string(written[column]) + " for " + std::to_string(want) + "\n";
      }
    }
    if (!same) differing += " " + std::to_string(seed);
    mismatched += !same;
    EXPECT_TRUE(same) << "seed " << seed << " " << profile << " gives other values\n"
                      << values << source << Text(c.code);
    ++compared;
  }
  EXPECT_GT(compared, 4 * limited);
  if (!differing.empty()) std::printf("%s: seeds giving other values:%s\n", profile, differing.c_str());
  RecordProperty("compared", static_cast<int>(compared));
  RecordProperty("mismatched", static_cast<int>(mismatched));
}

INSTANTIATE_TEST_SUITE_P(Programs, GxlSm3EndToEndFlow,
                         ::testing::Combine(::testing::Values("vs_3_0", "ps_3_0", "vs_3_sw", "ps_3_sw"),
                                            ::testing::Range(0u, kFlowBatches)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" + std::to_string(std::get<1>(info.param));
                         });

// A loop that carries three four-component accumulators, optimised: the loop
// body reads each where the loop's end writes it, though the values moved
// into the merges are single components and the entry values whole vectors.
TEST(GxlSm3EndToEnd, ManyLoopCarriedValuesOptimised) {
  const char source[] =
      "float a, b, c;\n"
      "sampler s;\n"
      "float4 main(float2 t : TEXCOORD0) : COLOR {\n"
      "  float4 Y = 0, I = 0, Q = 0;\n"
      "  for (float i = 0; i < 64; i += 4.0f) {\n"
      "    float4 n4 = i + float4(0, 1, 2, 3);\n"
      "    float4 C = t.x + n4 * 0.25;\n"
      "    C += tex2D(s, C.xy) + tex2D(s, C.yz) + tex2D(s, C.zw) + tex2D(s, C.wx);\n"
      "    float4 K = 0.54 + 0.46 * cos(n4);\n"
      "    Y = Y + C * (K * a); I = I + C * (K * b); Q = Q + C * (K * c);\n"
      "  }\n"
      "  return float4(Y.r + Y.g + Y.b + Y.a, I.r + I.g + I.b + I.a, Q.r + Q.g + Q.b + Q.a, 1); }\n";
  const Uniforms uniforms = {{"a", {1.0}}, {"b", {2.0}}, {"c", {3.0}}};
  Varyings in[4];
  for (int l = 0; l < 4; ++l) in[l]["TEXCOORD0"] = VertexInput(l, nura::shtok::kUsageTexCoord, 0);
  Lane want[4], got[4];
  std::string error;
  const Compiled plain = CompileHlsl(source, "main", "ps_3_0", kNoOptimisation);
  const Compiled optimised = CompileHlsl(source, "main", "ps_3_0", 0);
  ASSERT_EQ(plain.hr, S_OK) << plain.log;
  ASSERT_EQ(optimised.hr, S_OK) << optimised.log;
  ASSERT_TRUE(RunQuad(plain, uniforms, {"s"}, in, want, &error)) << error;
  ASSERT_TRUE(RunQuad(optimised, uniforms, {"s"}, in, got, &error)) << error;
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(got[0].oC[0][i], want[0].oC[0][i], 1e-4 * (1 + std::fabs(want[0].oC[0][i]))) << i;
}

// A loop whose starting vector gathers components of two sincos results:
// the gathering runs once, before the loop, not at the top of every iteration.
TEST(GxlSm3EndToEnd, LoopStartGatheredFromSincosResultsRunsOnce) {
  const char source[] =
      "float a, b;\n"
      "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 t0 : TEXCOORD0) {\n"
      "  float s1, c1, s2, c2;\n"
      "  sincos(p.x * a, s1, c1);\n"
      "  sincos(p.y * b, s2, c2);\n"
      "  float4 v = float4(s1, c2, s2, c1);\n"
      "  for (int i = 0; i < 6 && v.x < 50; i++) v = v * 1.5 + v.yzwx;\n"
      "  pos = p; t0 = v; }\n";
  const float a = 0.7f, b = 1.3f;
  const Uniforms uniforms = {{"a", {a}}, {"b", {b}}};
  for (const char* profile : {"vs_2_a", "vs_2_sw", "vs_3_0"}) {
    for (const DWORD flags : {0u, kNoOptimisation}) {
      SCOPED_TRACE(std::string(profile) + (flags ? " (no optimisation)" : ""));
      const Compiled c = CompileHlsl(source, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      Varyings out[4];
      std::string error;
      ASSERT_TRUE(RunVertices(c, uniforms, out, &error)) << error;
      for (int l = 0; l < 4; ++l) {
        const Float4 p = VertexInput(l, nura::shtok::kUsagePosition, 0);
        double v[4] = {std::sin(p[0] * a), std::cos(p[1] * b), std::sin(p[1] * b), std::cos(p[0] * a)};
        for (int i = 0; i < 6 && v[0] < 50; ++i) {
          const double w[4] = {v[0] * 1.5 + v[1], v[1] * 1.5 + v[2], v[2] * 1.5 + v[3], v[3] * 1.5 + v[0]};
          std::copy(w, w + 4, v);
        }
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(out[l]["TEXCOORD0"][i], v[i], 1e-3 * (1 + std::fabs(v[i]))) << "lane " << l << " [" << i << "]\n"
                                                                                 << Text(c.code);
      }
    }
  }
}

}  // namespace

// A negated uniform component among a constructor's arguments keeps its own
// value beside a folded constant and a compare (a generated program once
// lost it, taking the neighbour's register component instead).
TEST(GxlSm3EndToEnd, NegatedConstructorComponentKeepsItsValue) {
  const char source[] =
      "uniform int3 v0;\n"
      "uniform bool v1;\n"
      "uniform bool v2;\n"
      "float4 main() : COLOR {\n"
      "  int3 r = int3(((float2(0.75, (-1.3125)) + float2(0.375, (-3.125))))[1], (-(v0).z), (!(true ? v1 : v2)));\n"
      "  return float4((float)r.x, (float)r.y, (float)r.z, (float)0.0);\n"
      "}\n";
  for (const char* profile : {"ps_2_0", "ps_3_0", "ps_3_sw"}) {
    for (const DWORD flags : {DWORD{0}, kNoOptimisation}) {
      const Compiled c = CompileHlsl(source, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << profile << "\n" << c.log;
      Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
      c.Set(interp, "v0", Float4(-7, -2, 1, 0));
      c.Set(interp, "v1", Float4(0, 0, 0, 0));
      c.Set(interp, "v2", Float4(0, 0, 0, 0));
      Lane lane;
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      const Float4 want(-4, -1, 1, 0);
      for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(lane.oC[0][k], want[k]) << profile << " flags " << flags << " component " << k << "\n"
                                                << c.text;
    }
  }
}

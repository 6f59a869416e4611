// Compiled HLSL run in the token kit's interpreter against values worked out
// by hand from the source: the ps_1_4 phase-one alpha carried across the
// phase, vs_3_sw's register files, the texture-coordinate clamp warning, a
// struct output's bad semantic, and compare, face and fraction forms whose
// wrong variants no other end-to-end test tells apart.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "place_constants.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/shader/interp.h"

namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
using shadertest::CompiledHlsl;
using shadertest::CompileHlsl;

// What one run feeds the code: inputs by (usage, index), uniforms by name
// (one register each, or float arrays row by row), a texture per sampler name.
struct Feed {
  std::map<std::pair<int, int>, Float4> inputs;
  std::map<std::string, Float4> uniforms;
  shadertest::Uniforms arrays;
  std::map<std::string, std::function<Float4(const Float4&)>> textures;
  float face = 1;
};

constexpr int kColor = nura::shtok::kUsageColor, kTexcoord = nura::shtok::kUsageTexCoord,
              kPosition = nura::shtok::kUsagePosition;

// Runs one lane (strict for ps_1_x); ps_1_x reads TEXCOORDk from stage k's
// coordinates and COLORk from v#, the others their declared inputs.
bool RunLane(const CompiledHlsl& c, const Feed& feed, Lane* lane, std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  const bool ps1 = (c.code[0] >> 16) == 0xFFFF && (c.code[0] & 0xFFFF) < 0x200;
  interp.SetStrict(ps1);
  if (!feed.arrays.empty() && !shadertest::PlaceConstants(c.table.Get(), feed.arrays, interp, error)) return false;
  for (const auto& [name, value] : feed.uniforms) c.Set(interp, name.c_str(), value);
  std::map<int, std::function<Float4(const Float4&)>> bySampler;
  for (const auto& [name, texture] : feed.textures) {
    const INT index = c.table ? c.table->SamplerIndex(c.table->ConstantByName(nullptr, name.c_str())) : -1;
    if (index < 0) return *error = "no sampler " + name, false;
    bySampler[index] = texture;
  }
  interp.SetSampler([bySampler](const nura::shtok::SampleRequest& r) {
    const auto found = bySampler.find(r.sampler);
    return found == bySampler.end() ? Float4(NAN, NAN, NAN, NAN) : found->second(r.coord);
  });
  *lane = Lane();
  lane->vFace = feed.face;
  for (const auto& [key, value] : feed.inputs) {
    if (!ps1) continue;
    if (key.first == kTexcoord) lane->t[key.second] = value;
    if (key.first == kColor) lane->v[key.second] = value;
  }
  for (const nura::shtok::Declaration& d : interp.Declarations()) {
    Float4* slot = d.usage >= 0 && !d.output ? nura::shtok::DeclaredSlot(*lane, d) : nullptr;
    const auto found = feed.inputs.find({d.usage, d.usageIndex});
    if (slot && found != feed.inputs.end()) *slot = found->second;
  }
  return interp.Run(lane, 1, error);
}

::testing::AssertionResult Near(const Float4& got, const Float4& want) {
  for (int i = 0; i < 4; ++i)
    if (!(std::fabs(got[i] - want[i]) <= 1e-5f * (1 + std::fabs(want[i]))))
      return ::testing::AssertionFailure() << "component " << i << ": " << got[i] << " for " << want[i] << " (got "
                                           << got[0] << ", " << got[1] << ", " << got[2] << ", " << got[3] << ")";
  return ::testing::AssertionSuccess();
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Smooth textures in [0.1, 0.9], each channel different; the look-up table
// depends on u alone, as a 1-D texture does.
Float4 Image(const Float4& c) {
  return Float4(0.5f + 0.4f * std::sin(1.3f * c[0]), 0.5f + 0.4f * std::cos(0.7f * c[1]), 0.2f + 0.6f * c[0] * c[1],
                0.3f + 0.5f * c[1]);
}
Float4 Table(const Float4& c) { return Float4(0.9f - 0.7f * c[0], 0.25f, 0.5f, 0.75f); }
Float4 Second(const Float4& c) {
  return Float4(0.1f + 0.8f * c[1], 0.6f - 0.3f * c[0], 0.4f + 0.2f * c[0] * c[0], 0.85f - 0.5f * c[1]);
}

// ps_1_4: a texture result of phase one read whole in phase two keeps its
// alpha, which the phase does not carry, in a colour component across it;
// also when phase two's load overwrites its register, and for two alphas.
TEST(GxlArithWrongCode, Ps14CarriesPhaseOneAlphaAcrossThePhase) {
  const struct {
    const char* name;
    const char* source;
    std::map<std::string, std::function<Float4(const Float4&)>> textures;
    std::function<Float4(const Float4&, const Float4&)> reference;  // of TEXCOORD0 and TEXCOORD1
  } cases[] = {
      {"lut",
       "sampler2D img : register(s0); sampler1D lut : register(s2);\n"
       "float4 main(float2 uv : TEXCOORD0) : COLOR {\n"
       "  float4 c = tex2D(img, uv); return float4(tex1D(lut, c.r).r, c.g, c.b, c.a); }\n",
       {{"img", Image}, {"lut", Table}},
       [](const Float4& uv, const Float4&) {
         const Float4 c = Image(uv);
         return Float4(Table(Float4(c[0], 0, 0, 0))[0], c[1], c[2], c[3]);
       }},
      {"product",
       "sampler2D s0; sampler2D s1;\n"
       "float4 main(float2 u : TEXCOORD0) : COLOR {\n"
       "  float4 a = tex2D(s0, u); float4 b = tex2D(s1, a.xy); return a * b; }\n",
       {{"s0", Image}, {"s1", Second}},
       [](const Float4& u, const Float4&) {
         const Float4 a = Image(u), b = Second(a);
         return Float4(a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]);
       }},
      {"same stage",
       "sampler2D s0;\n"
       "float4 main(float2 u : TEXCOORD0) : COLOR {\n"
       "  float4 a = tex2D(s0, u); float4 b = tex2D(s0, a.xy); return a * b; }\n",
       {{"s0", Image}},
       [](const Float4& u, const Float4&) {
         const Float4 a = Image(u), b = Image(a);
         return Float4(a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]);
       }},
      {"two alphas",
       "sampler2D s0; sampler2D s1; sampler2D s2;\n"
       "float4 main(float2 u : TEXCOORD0, float2 v : TEXCOORD1) : COLOR {\n"
       "  float4 a = tex2D(s0, u); float4 c = tex2D(s2, v); float4 b = tex2D(s1, a.xy * c.yx);\n"
       "  return float4(b.xyz * a.w, c.w * a.w); }\n",
       {{"s0", Image}, {"s1", Table}, {"s2", Second}},
       [](const Float4& u, const Float4& v) {
         const Float4 a = Image(u), c = Second(v), b = Table(Float4(a[0] * c[1], a[1] * c[0], 0, 0));
         return Float4(b[0] * a[3], b[1] * a[3], b[2] * a[3], c[3] * a[3]);
       }},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const CompiledHlsl c = CompileHlsl(k.source, "main", "ps_1_4");
    ASSERT_EQ(c.hr, S_OK) << c.log;
    EXPECT_EQ(c.Lines("phase").size(), 1u) << c.text;
    Feed feed;
    feed.textures = k.textures;
    for (const Float4& uv : {Float4(0.2f, 0.7f, 0, 0), Float4(0.9f, 0.1f, 0, 0)}) {
      const Float4 other(uv[1], uv[0], 0, 0);
      feed.inputs[{kTexcoord, 0}] = uv;
      feed.inputs[{kTexcoord, 1}] = other;
      Lane lane;
      std::string error;
      ASSERT_TRUE(RunLane(c, feed, &lane, &error)) << error << "\n" << c.text;
      EXPECT_TRUE(Near(lane.oC[0], k.reference(uv, other))) << c.text;
    }
  }
}

// vs_3_sw samples through 16 samplers, each in the register its constant
// table entry names; vs_3_0 stops at 4.
TEST(GxlArithWrongCode, Vs3SwSamplesThroughSixteenSamplers) {
  std::string source = "sampler2D";
  for (int k = 0; k < 16; ++k) source += (k ? ", s" : " s") + std::to_string(k);
  source += ";\nfloat4 main(float4 t : TEXCOORD0) : POSITION {\n  return tex2Dlod(s0, t)";
  for (int k = 1; k < 16; ++k) source += " + tex2Dlod(s" + std::to_string(k) + ", t)";
  source += ";\n}\n";
  const CompiledHlsl c = CompileHlsl(source, "main", "vs_3_sw");
  ASSERT_EQ(c.hr, S_OK) << c.log;
  Feed feed;
  for (int k = 0; k < 16; ++k) {
    const float f = static_cast<float>(k);
    feed.textures["s" + std::to_string(k)] = [f](const Float4& t) { return Float4(f, f * f, t[0], 0.5f); };
  }
  feed.inputs[{kTexcoord, 0}] = Float4(0.25f, 0.5f, 0, 0);
  Lane lane;
  std::string error;
  ASSERT_TRUE(RunLane(c, feed, &lane, &error)) << error << "\n" << c.text;
  // 0 + 1 + ... + 15, 0 + 1 + 4 + ... + 225, and sixteen times each of the rest.
  EXPECT_TRUE(Near(lane.o[0], Float4(120, 1240, 4, 8))) << c.text;
  EXPECT_TRUE(CompileHlsl(source, "main", "vs_3_0").Logged("error X4510")) << "vs_3_0";
}

// An int bound to an integer register counts a loop over it: rep i#, or
// loop aL, i# over (n, 0, 1) when the counter indexes, as the constant table
// writes an int; vs_3_sw has 2048 of them, vs_3_0 16.
TEST(GxlArithWrongCode, IntegerRegisterCountsTheLoop) {
  const char source[] =
      "int n : register(i2000);\n"
      "float4 w[4];\n"
      "float4 repeat(float4 p : POSITION) : POSITION {\n"
      "  float4 r = p; for (int k = 0; k < n; k++) r = r * 0.5 + 1; return r; }\n"
      "float4 indexed(float4 p : POSITION) : POSITION {\n"
      "  float4 r = p; for (int k = 0; k < n; k++) r += w[k]; return r; }\n";
  const struct {
    const char* entry;
    const char* loop;
    Float4 want[4];  // n = 0 to 3, from p = (4, -2, 0, 8)
  } rows[] = {
      // r -> r / 2 + 1, n times.
      {"repeat", "rep i2000",
       {Float4(4, -2, 0, 8), Float4(3, 0, 1, 5), Float4(2.5f, 1, 1.5f, 3.5f), Float4(2.25f, 1.5f, 1.75f, 2.75f)}},
      // p plus the first n rows of w.
      {"indexed", "loop aL, i2000",
       {Float4(4, -2, 0, 8), Float4(5, -2, 0, 8), Float4(5, 0, 0, 8), Float4(5, 0, 3, 8)}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.entry);
    const CompiledHlsl c = CompileHlsl(source, row.entry, "vs_3_sw");
    ASSERT_EQ(c.hr, S_OK) << c.log;
    EXPECT_TRUE(c.Has(row.loop)) << c.text;
    Feed feed;
    feed.inputs[{kPosition, 0}] = Float4(4, -2, 0, 8);
    feed.arrays["w"] = {1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4};
    for (int n = 0; n < 4; ++n) {
      feed.uniforms["n"] = Float4(static_cast<float>(n), 0, 1, 0);
      Lane lane;
      std::string error;
      ASSERT_TRUE(RunLane(c, feed, &lane, &error)) << error << "\n" << c.text;
      EXPECT_TRUE(Near(lane.o[0], row.want[n])) << n << "\n" << c.text;
    }
    EXPECT_TRUE(CompileHlsl(source, row.entry, "vs_3_0")
                    .Logged("error X4509: invalid register semantic 'i2000', or variable must be bound to multiple "
                            "register banks (i register binding required)"));
  }
}

// ps_1_1-1_3 clamp texture coordinates that arithmetic reads: one warning,
// whatever the width of the coordinate read.
TEST(GxlArithWrongCode, Ps1WarnsOfClampedCoordinatesOfEveryWidth) {
  const char* const sources[] = {
      "float4 main(float u0 : TEXCOORD0, float4 c : COLOR0) : COLOR { return float4(u0 * c.x, c.yz, 1); }\n",
      "float4 main(float2 u0 : TEXCOORD0, float4 c : COLOR0) : COLOR { return float4(u0 * c.xy, c.z, 1); }\n",
      "float4 main(float3 u0 : TEXCOORD0, float4 c : COLOR0) : COLOR { return float4(u0 * c.xyz, 1); }\n",
  };
  for (const char* profile : {"ps_1_1", "ps_1_2", "ps_1_3"})
    for (const char* source : sources) {
      const CompiledHlsl c = CompileHlsl(source, "main", profile);
      ASSERT_EQ(c.hr, S_OK) << profile << " " << source << c.log;
      EXPECT_EQ(Count(c.log, "warning X4707"), 1u) << profile << " " << source << c.log;
    }
}

// An output with a semantic the profile lacks, a returned struct's member or
// the function's own: one error each, not one per component.
TEST(GxlArithWrongCode, BadOutputSemanticReportedOnce) {
  const char* const sources[] = {
      "struct Out { float4 c : COLOR5; float2 d : COLOR7; };\n"
      "Out main(float4 c : COLOR0) { Out o; o.c = c; o.d = c.xy; return o; }\n",
      "float4 main(float4 c : COLOR0) : COLOR5 { return c; }\n",
  };
  for (const char* profile : {"ps_1_1", "ps_1_4", "ps_2_0", "ps_2_b", "ps_3_0", "vs_1_1", "vs_2_0"})
    for (const char* source : sources) {
      SCOPED_TRACE(std::string(profile) + " " + source);
      const CompiledHlsl c = CompileHlsl(source, "main", profile);
      EXPECT_TRUE(FAILED(c.hr));
      EXPECT_EQ(Count(c.log, "'COLOR5'"), 1u) << c.log;
      EXPECT_EQ(Count(c.log, "'COLOR7'"), std::string(source).find("COLOR7") != std::string::npos ? 1u : 0u) << c.log;
    }
}

// ps 2.x writes a >= b through cmp: 1 where the difference is 0 or more.
TEST(GxlArithWrongCode, Ps2GreaterOrEqualRunsAsWritten) {
  const char* const sources[] = {
      "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR { return (a >= b) * 0.5 + 0.25; }\n",
      "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR { return step(b, a) * 0.5 + 0.25; }\n",
      "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR { return (b <= a) * 0.5 + 0.25; }\n",
      "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR { return a >= b ? (float4)0.75 : 0.25; }\n",
  };
  Feed feed;
  feed.inputs[{kTexcoord, 0}] = Float4(0.2f, 0.5f, 0.9f, -0.3f);
  feed.inputs[{kTexcoord, 1}] = Float4(0.4f, 0.5f, 0.1f, -0.2f);
  const Float4 want(0.25f, 0.75f, 0.75f, 0.25f);
  for (const char* profile : {"ps_2_0", "ps_2_a", "ps_2_b", "ps_2_sw"})
    for (const char* source : sources) {
      SCOPED_TRACE(std::string(profile) + " " + source);
      const CompiledHlsl c = CompileHlsl(source, "main", profile);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      Lane lane;
      std::string error;
      ASSERT_TRUE(RunLane(c, feed, &lane, &error)) << error;
      EXPECT_TRUE(Near(lane.oC[0], want)) << c.text;
    }
}

// Shader model 3 reads VFACE in arithmetic as 1 for a front face (positive)
// and -1 for a back face.
TEST(GxlArithWrongCode, Sm3FaceSignReachesArithmetic) {
  const char* const sources[] = {
      "float4 main(float f : VFACE, float4 c : COLOR0) : COLOR { return c * f; }\n",
      "float4 main(float f : VFACE, float4 c : COLOR0) : COLOR { return c + f * 0.25; }\n",
      "float4 main(float f : VFACE, float4 c : COLOR0) : COLOR { return f < 0 ? c.wzyx : c; }\n",
  };
  const Float4 c(0.1f, 0.2f, 0.3f, 0.4f);
  const Float4 front[] = {c, Float4(0.35f, 0.45f, 0.55f, 0.65f), c};
  const Float4 back[] = {Float4(-0.1f, -0.2f, -0.3f, -0.4f), Float4(-0.15f, -0.05f, 0.05f, 0.15f),
                         Float4(0.4f, 0.3f, 0.2f, 0.1f)};
  for (const char* profile : {"ps_3_0", "ps_3_sw"})
    for (std::size_t k = 0; k < std::size(sources); ++k) {
      SCOPED_TRACE(std::string(profile) + " " + sources[k]);
      const CompiledHlsl c0 = CompileHlsl(sources[k], "main", profile);
      ASSERT_EQ(c0.hr, S_OK) << c0.log;
      for (const float face : {3.0f, -3.0f}) {
        Feed feed;
        feed.inputs[{kColor, 0}] = c;
        feed.face = face;
        Lane lane;
        std::string error;
        ASSERT_TRUE(RunLane(c0, feed, &lane, &error)) << error;
        EXPECT_TRUE(Near(lane.oC[0], face > 0 ? front[k] : back[k])) << face << "\n" << c0.text;
      }
    }
}

// vs_1_1 builds frac from frc (x and y only) and expp (its y): scalars land
// in every component, and in z and w alone.
TEST(GxlArithWrongCode, Vs1FractionsOfScalars) {
  const struct {
    const char* body;
    Float4 want;
  } cases[] = {
      {"return frac(p.y * 2.5);", Float4(0.875f, 0.875f, 0.875f, 0.875f)},
      {"return float4(p.x, p.w, frac(p.z), 1);", Float4(1.25f, 3.5f, 0.625f, 1)},
      {"return float4(p.z, 1, p.x, frac(p.w));", Float4(-0.375f, 1, 1.25f, 0.5f)},
      {"return float4(frac(p.wx), p.z, 1);", Float4(0.5f, 0.25f, -0.375f, 1)},
      {"return float4(frac(p.x), p.y, frac(p.z), frac(p.w));", Float4(0.25f, 2.75f, 0.625f, 0.5f)},
  };
  Feed feed;
  feed.inputs[{kPosition, 0}] = Float4(1.25f, 2.75f, -0.375f, 3.5f);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.body);
    const CompiledHlsl c =
        CompileHlsl(std::string("float4 main(float4 p : POSITION) : POSITION { ") + k.body + " }\n", "main", "vs_1_1");
    ASSERT_EQ(c.hr, S_OK) << c.log;
    Lane lane;
    std::string error;
    ASSERT_TRUE(RunLane(c, feed, &lane, &error)) << error;
    EXPECT_TRUE(Near(lane.oPos, k.want)) << c.text;
  }
}

}  // namespace

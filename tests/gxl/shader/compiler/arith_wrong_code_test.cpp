// Straight-line programs that compiled to wrong values or failed: each one
// compiled for the profiles that went wrong and their neighbours, validated,
// decoded and run in the token kit's interpreter (strict for ps 1.x) against
// what HLSL gives, computed here in C++.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/gxl/shader/corpus_text.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/interp.h"

namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
using shadertest::CompiledHlsl;
using shadertest::CompileHlsl;

constexpr DWORD kNoOptimisation = 0x4;

// A program's inputs: varyings by semantic ("TEXCOORD1", "COLOR0",
// "POSITION0") and uniforms by name.
struct Inputs {
  std::map<std::string, Float4> varyings;
  std::map<std::string, Float4> uniforms;
  Float4 Varying(const std::string& semantic) const {
    const auto found = varyings.find(semantic);
    return found == varyings.end() ? Float4() : found->second;
  }
};

std::string SemanticOf(int usage, int index) {
  const char* name = usage == nura::shtok::kUsageTexCoord ? "TEXCOORD"
                     : usage == nura::shtok::kUsageColor  ? "COLOR"
                     : usage == nura::shtok::kUsagePosition ? "POSITION"
                                                            : "OTHER";
  return name + std::to_string(index);
}

// Runs the code on one lane: COLOR0 of a pixel shader (r0 in ps 1.x), the
// position of a vertex shader. False with the reason when it cannot run.
bool Run(const CompiledHlsl& c, const Inputs& in, Float4* out, std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  const platform::shader::Version& v = interp.version();
  interp.SetStrict(v.Ps1x());
  for (const auto& [name, value] : in.uniforms) c.Set(interp, name.c_str(), value);
  Lane lane;
  if (v.Ps1x()) {
    // ps 1.x reads stage k's coordinates and the colours without declarations.
    for (int i = 0; i < 8; ++i) lane.t[i] = in.Varying(SemanticOf(nura::shtok::kUsageTexCoord, i));
    for (int i = 0; i < 2; ++i) lane.v[i] = in.Varying(SemanticOf(nura::shtok::kUsageColor, i));
  }
  for (const nura::shtok::Declaration& d : interp.Declarations())
    if (Float4* slot = d.usage >= 0 && !d.output ? nura::shtok::DeclaredSlot(lane, d) : nullptr)
      *slot = in.Varying(SemanticOf(d.usage, d.usageIndex));
  if (!interp.Run(&lane, 1, error)) return false;
  if (v.pixel) {
    *out = lane.oC[0];
  } else if (!v.Is3()) {
    *out = lane.oPos;
  } else {
    const nura::shtok::Declaration* d = interp.FindDeclaration(nura::shtok::kUsagePosition, 0, true);
    Float4* slot = d ? nura::shtok::DeclaredSlot(lane, *d) : nullptr;
    if (!slot) return *error = "no position output declared", false;
    *out = *slot;
  }
  return true;
}

// Compiles for each profile, then the run must give `want`.
void ExpectValue(const std::string& source, const std::vector<const char*>& profiles, DWORD flags, const Inputs& in,
                 const Float4& want) {
  for (const char* profile : profiles) {
    SCOPED_TRACE(std::string(profile) + (flags & kNoOptimisation ? " (no optimisation)" : ""));
    const CompiledHlsl c = CompileHlsl(source, "main", profile, flags);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    ASSERT_EQ(c.text.rfind("undecodable", 0), std::string::npos) << c.text;
    Float4 got;
    std::string error;
    ASSERT_TRUE(Run(c, in, &got, &error)) << error << "\n" << c.text;
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(got[i], want[i], 1e-5f * (1 + std::fabs(want[i]))) << "[" << i << "]\n" << c.text;
  }
}

float Saturate(float x) { return std::min(std::max(x, 0.0f), 1.0f); }
float Lerp(float a, float b, float s) { return a + (b - a) * s; }

const std::vector<const char*> kPs1 = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4"};
const std::vector<const char*> kPs2 = {"ps_2_0", "ps_2_a", "ps_2_b", "ps_2_sw", "ps_3_0"};

// nrm takes its length from the x, y and z of its swizzled source: a vector
// written to y, z and w, or read through a swizzle ps_2_0 lacks, must still
// be normalised over its own three components, never per component.
TEST(GxlArithWrongCode, NormalizeKeepsItsVectorInXyz) {
  const Float4 p(0.5f, 0.25f, 0.75f, 0.125f), q(0.1f, 0.2f, 0.3f, 0.4f);
  auto normalized = [](float x, float y, float z, int k) {
    const float length = std::sqrt(x * x + y * y + z * z);
    return (k == 0 ? x : k == 1 ? y : z) / length;
  };
  const Float4 tail(p[0], normalized(q[0], q[1], q[2], 0), normalized(q[0], q[1], q[2], 1),
                    normalized(q[0], q[1], q[2], 2));
  ExpectValue("float4 main(float4 p : POSITION, float4 q : TEXCOORD0) : POSITION"
              " { return float4(p.x, normalize(q.xyz)); }",
              {"vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0"}, 0, {{{"POSITION0", p}, {"TEXCOORD0", q}}, {}}, tail);
  const Inputs pixel{{{"TEXCOORD0", p}, {"TEXCOORD1", q}}, {}};
  for (const DWORD flags : {0u, kNoOptimisation}) {
    ExpectValue("float4 main(float4 p : TEXCOORD0, float4 q : TEXCOORD1) : COLOR0"
                " { return float4(p.x, normalize(q.xyz)); }",
                kPs2, flags, pixel, tail);
    ExpectValue("float4 main(float4 p : TEXCOORD0, float4 q : TEXCOORD1) : COLOR0"
                " { return float4(normalize(q.yzw), p.x); }",
                kPs2, flags, pixel,
                Float4(normalized(q[1], q[2], q[3], 0), normalized(q[1], q[2], q[3], 1),
                       normalized(q[1], q[2], q[3], 2), p[0]));
  }
}

// clamp is max, then min: with its minimum above its maximum the maximum
// wins, folded or computed.
TEST(GxlArithWrongCode, ClampWithMinimumAboveMaximum) {
  const float low = 3.0f, high = 1.5f, x = -1.0f;
  const float want = std::min(std::max(x, low), high);
  ExpectValue("float4 main() : COLOR0 { return clamp(float4(-1, 0, 2, 5), 3.0, 1.5).x; }", {"ps_2_0"}, 0, {},
              Float4(want, want, want, want));
  ExpectValue("float4 main(float4 t : TEXCOORD0) : COLOR0 { return clamp(t.x, 3.0, 1.5); }", {"ps_2_0"}, 0,
              {{{"TEXCOORD0", Float4(x, 0, 0, 0)}}, {}}, Float4(want, want, want, want));
}

// One instruction writes all its results alike: a dot product read both
// saturated and plain cannot take the saturate for both.
TEST(GxlArithWrongCode, SaturateOfADotProductAlsoReadPlain) {
  const Float4 c(0.74f, 0.14f, 0.84f, 0.99f);
  const float d = 0.5f * c[3] + 0.5f * c[3] + 0.5f * c[1];
  const float want = Lerp(Saturate(d), d, 0.5f);
  ExpectValue("float4 main(float4 c : COLOR0) : COLOR0"
              " { float4 d = dot(float3(0.5, 0.5, 0.5), c.wwy); return lerp(saturate(d), d, 0.5); }",
              kPs2, 0, {{{"COLOR0", c}}, {}}, Float4(want, want, want, want));
}

// Two source modifiers on one read are one token modifier only where they
// compose into one: -(1 - b) is b - 1, which none is, and neither is 1 - 2a.
TEST(GxlArithWrongCode, StackedModifiersKeepTheirValue) {
  const Float4 a(0.6f, 0.2f, 0.3f, 0.4f), b(0.1f, 0.2f, 0.5f, 0.7f);
  const float v = a[0] * 0.5f - (1.0f - b[2]);
  ExpectValue("float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR0"
              " { float v = a.x * 0.5; v -= 1.0 - b.z; return v; }",
              kPs1, 0, {{{"TEXCOORD0", a}, {"TEXCOORD1", b}}, {}}, Float4(v, v, v, v));
  const Float4 t(0.25f, 0.5f, 0.75f, 1.0f);
  for (const float k : {2.0f, 0.5f}) {
    const float want = 1.0f - t[0] * k;
    ExpectValue("float4 main(float4 a : TEXCOORD0) : COLOR0 { return 1.0 - a.x * " + std::to_string(k) + "; }",
                {"ps_1_4"}, 0, {{{"TEXCOORD0", t}}, {}}, Float4(want, want, want, want));
  }
}

// With noopt the dot product's pairs kept their canonical order, a swizzle
// (x, z) that ps_2_0 and ps_2_b do not have: "invalid swizzle found".
TEST(GxlArithWrongCode, DotProductKeepsASwizzleTheProfileHas) {
  const float v[4] = {0.18f, -1.0f * 0.0f, -2.2f, 0.75f};
  const float dot = 0.5f * v[2] + 0.5f * v[1] + 0.5f * v[0];
  const float c = dot >= 0.5f ? 1.0f : 0.0f;
  const float q = 0.5f / (0.5f + c);
  for (const DWORD flags : {kNoOptimisation, 0u})
    ExpectValue("float4 main(float4 t : TEXCOORD0) : COLOR0 {"
                " float4 v = float4(0.18, -1.0, -2.2, 0.75); v.y *= 0.0;"
                " float c = (float)(dot(float3(0.5, 0.5, 0.5), v.zyx) >= 0.5);"
                " float4 q = 0.5 / (0.5 + c); return float4(0.5, q.y, 0.25, 0.5); }",
                kPs2, flags, {}, Float4(0.5f, q, 0.25f, 0.5f));
}

// A co-issued pair of ps_1_4 shares three read ports of the r file.
TEST(GxlArithWrongCode, CoIssuedPairReadsAtMostThreeTemporaries) {
  const std::string source =
      "float4 u2; float4 main(float4 t : TEXCOORD1) : COLOR0 {"
      " float3 v = (t.y >= 0.5) ? 0.5 : min(0.5, t.yyz) * (u2.zwy * 0.5) + t.xyz * 0.5; return v.yzzz; }";
  const Float4 u2(0.1f, 0.2f, 0.3f, 0.4f);
  for (const Float4& t : {Float4(0.2f, 0.3f, 0.6f, 0.9f), Float4(0.2f, 0.7f, 0.6f, 0.9f)}) {
    float v[3];
    const float u[3] = {u2[2], u2[3], u2[1]}, m[3] = {t[1], t[1], t[2]};
    for (int k = 0; k < 3; ++k) v[k] = t[1] >= 0.5f ? 0.5f : std::min(0.5f, m[k]) * (u[k] * 0.5f) + t[k] * 0.5f;
    ExpectValue(source, {"ps_1_4", "ps_2_0"}, 0, {{{"TEXCOORD1", t}}, {{"u2", u2}}}, Float4(v[1], v[2], v[2], v[2]));
  }
}

// Code naming a constant past the profile's registers stops at the
// compiler's own limit, not at the validator.
TEST(GxlArithWrongCode, ConstantsPastTheProfileLimit) {
  struct Row {
    const char* profile;
    int count, index;  // array size and the element read
    bool fits;
  };
  for (const Row& row : {Row{"ps_2_0", 40, 32, false}, Row{"ps_2_a", 40, 32, false}, Row{"ps_2_b", 40, 32, false},
                         Row{"ps_2_sw", 40, 32, true}, Row{"ps_3_0", 230, 224, false}, Row{"ps_3_0", 224, 223, true}}) {
    SCOPED_TRACE(std::string(row.profile) + " k[" + std::to_string(row.index) + "]");
    const std::string source = "float4 k[" + std::to_string(row.count) +
                               "]; float4 main(float4 t : TEXCOORD0) : COLOR0 { return k[" +
                               std::to_string(row.index) + "] * t; }";
    if (!row.fits) {
      const CompiledHlsl c = CompileHlsl(source, "main", row.profile);
      EXPECT_TRUE(FAILED(c.hr));
      EXPECT_TRUE(c.code.empty());
      EXPECT_TRUE(c.Logged("error X4507: maximum constant register index exceeded")) << c.log;
      EXPECT_FALSE(c.Logged("X5008")) << c.log;
      continue;
    }
    const Float4 k(0.5f, -2.0f, 4.0f, 0.25f), t(0.1f, 0.2f, 0.3f, 0.4f);
    ExpectValue(source, {row.profile}, 0, {{{"TEXCOORD0", t}}, {{"k[" + std::to_string(row.index) + "]", k}}},
                Float4(k[0] * t[0], k[1] * t[1], k[2] * t[2], k[3] * t[3]));
  }
}

// The corpus cells that ended in code the checks called unsound: a result
// or a limit of the profile, with both option words.
TEST(GxlArithWrongCode, CorpusPs1xCellsCompileOrStopAtALimit) {
  for (const char* file : {"mame/ghosting.fx", "mame/phosphor.fx"}) {
    const std::string source = shadertest::ReadCorpus(file);
    NURA_REQUIRE_OUTSIDE_INPUT(!source.empty(), "the shared shader corpus");
    for (const char* profile : {"ps_1_1", "ps_1_2", "ps_1_3"})
      for (const DWORD flags : {0u, kNoOptimisation}) {
        SCOPED_TRACE(std::string(file) + " " + profile + " flags " + std::to_string(flags));
        const CompiledHlsl c = CompileHlsl(source, "ps_main", profile, flags);
        EXPECT_FALSE(c.Logged("internal error")) << c.log;
        if (SUCCEEDED(c.hr)) {
          EXPECT_EQ(c.text.rfind("undecodable", 0), std::string::npos) << c.text;
          continue;
        }
        EXPECT_TRUE(c.code.empty());
        EXPECT_NE(c.hr, E_OUTOFMEMORY);
        const std::size_t at = c.log.find("error X45");
        EXPECT_NE(at, std::string::npos) << c.log;
      }
  }
}

}  // namespace

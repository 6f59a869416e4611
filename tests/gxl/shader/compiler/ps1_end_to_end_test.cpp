// HLSL pixel shaders through the whole compile for ps_1_1 to ps_1_4: the code
// passes the platform's validator and, run on 2x2 quads in the token kit's
// interpreter in strict mode (co-issued pairs both ways, what the format
// leaves undefined poisoned), computes what a C++ reference written from the
// source computes, and what the ps_2_0 compile of the same source computes.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ps1_compile.h"
#include "tests/gxl/shader/asm_run.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/shader/interp.h"

namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
using ps1test::Compiled;
using ps1test::CompileHlsl;
using ps1test::Text;

constexpr const char* kModels[] = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4"};

// The procedural texture of stage or sampler `s`: smooth, in [0.1, 0.9].
Float4 Texture(int s, float u, float v) {
  return Float4(0.5f + 0.4f * std::sin(1.3f * u + s), 0.5f + 0.4f * std::cos(0.7f * v - s), 0.2f + 0.6f * u * v,
                0.75f - 0.1f * s);
}

// What the rasteriser hands lane l: texture coordinates and colours in [0, 1].
Float4 Varying(int lane, bool colour, int index) {
  const float l = static_cast<float>(lane), i = static_cast<float>(index) + (colour ? 3.0f : 0.0f);
  return Float4(0.1f + 0.2f * l + 0.05f * i, 0.3f + 0.1f * i - 0.05f * l, 0.6f - 0.1f * l + 0.01f * i,
                0.9f - 0.02f * i + 0.03f * l);
}

struct Pixel {
  int lane;
  Float4 T(int i) const { return Varying(lane, false, i); }
  Float4 C(int i) const { return Varying(lane, true, i); }
  // The texture of sampler register s at the coordinates.
  static Float4 Sample(int s, const Float4& at) { return Texture(s, at[0], at[1]); }
};

struct Case {
  const char* name;
  std::string source;
  std::map<std::string, Float4> constants;
  std::function<Float4(const Pixel&)> reference;  // null: the ps_2_0 code's results
  unsigned models = 0xF;                          // bit k: kModels[k]
  const char* entry = "main";
  bool againstPs20 = true;  // ps_2_0 takes the same inputs
};

// Runs the code on a quad: false with the reason when it cannot run. ps_1_x
// reads stage k's coordinates from TEXCOORDk and colours from v#; ps_2_0
// declares its inputs.
bool RunQuad(const Compiled& c, const Case& k, bool strict, Lane quad[4], std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  interp.SetStrict(strict);
  for (const auto& [name, value] : k.constants) {
    // Assembled code has no constant table: its constants are named by register.
    if (!c.table && name.size() > 1 && name[0] == 'c') {
      interp.SetFloat(std::stoi(name.substr(1)), value);
      continue;
    }
    ConstantHandle handle = c.table ? c.table->ConstantByName(nullptr, name.c_str()) : nullptr;
    ConstantDesc desc{};
    UINT count = 1;
    if (handle && SUCCEEDED(c.table->DescribeConstants(handle, &desc, &count)))
      interp.SetFloat(static_cast<int>(desc.registerIndex), value);
  }
  // The texture of the sampler named "sN" is texture N, whatever stage or
  // register the code gives it.
  std::map<int, int> textures;
  for (int n = 0; n < 4 && c.table; ++n) {
    const INT index = c.table->SamplerIndex(c.table->ConstantByName(nullptr, ("s" + std::to_string(n)).c_str()));
    if (index >= 0) textures[index] = n;
  }
  interp.SetSampler([textures](const nura::shtok::SampleRequest& r) {
    const auto found = textures.find(r.sampler);
    return Texture(found == textures.end() ? r.sampler : found->second, r.coord[0], r.coord[1]);
  });
  for (int l = 0; l < 4; ++l) {
    quad[l] = Lane();
    for (int i = 0; i < 8; ++i) quad[l].t[i] = Varying(l, false, i);
    for (int i = 0; i < 2; ++i) quad[l].v[i] = Varying(l, true, i);
    for (const nura::shtok::Declaration& d : interp.Declarations()) {
      Float4* slot = d.usage >= 0 && !d.output ? nura::shtok::DeclaredSlot(quad[l], d) : nullptr;
      if (slot) *slot = Varying(l, d.usage == nura::shtok::kUsageColor, d.usageIndex);
    }
  }
  return interp.Run(quad, 4, error);
}

bool Near(float got, float want) { return std::fabs(got - want) <= 2e-5f * (1 + std::fabs(want)); }

// One case on every model it names: compiled, validated, run against the
// reference and against the ps_2_0 code.
void Check(const Case& k) {
  Lane expected[4];
  std::string error;
  if (k.againstPs20) {
    const Compiled ps2 = CompileHlsl(k.source, "ps_2_0", k.entry);
    ASSERT_EQ(ps2.hr, S_OK) << k.name << "\n" << ps2.log;
    ASSERT_TRUE(RunQuad(ps2, k, false, expected, &error)) << k.name << ": " << error;
  }
  for (int m = 0; m < 4; ++m) {
    if (!(k.models >> m & 1)) continue;
    SCOPED_TRACE(std::string(k.name) + " " + kModels[m]);
    const Compiled c = CompileHlsl(k.source, kModels[m], k.entry);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    EXPECT_EQ(c.log.find("error"), std::string::npos) << c.log;
    Lane quad[4];
    ASSERT_TRUE(RunQuad(c, k, true, quad, &error)) << error << "\n" << Text(c.code);
    for (int l = 0; l < 4; ++l) {
      const Float4 want = k.reference ? k.reference(Pixel{l}) : expected[l].oC[0];
      for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Near(quad[l].oC[0][i], want[i]))
            << "lane " << l << " [" << i << "]: " << quad[l].oC[0][i] << " for " << want[i] << "\n"
            << Text(c.code);
        if (k.againstPs20) {
          EXPECT_TRUE(Near(quad[l].oC[0][i], expected[l].oC[0][i])) << "ps_2_0 gives " << expected[l].oC[0][i];
        }
      }
    }
  }
}

Float4 Map(const Float4& a, const std::function<float(float, int)>& f) {
  return Float4(f(a[0], 0), f(a[1], 1), f(a[2], 2), f(a[3], 3));
}
float Dot(const Float4& a, const Float4& b, int n) {
  float s = 0;
  for (int i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

const std::string kIn =
    "float4 main(float2 u0 : TEXCOORD0, float2 u1 : TEXCOORD1, float2 u2 : TEXCOORD2, float4 c : COLOR0, "
    "float4 d : COLOR1) : COLOR { ";
const std::string kSamplers = "sampler s0 : register(s0); sampler s1 : register(s1); sampler s2 : register(s2);\n";

TEST(GxlPs1EndToEnd, ArithmeticAgainstReferences) {
  const Float4 k(0.5f, -0.25f, 0.75f, -1.0f);
  const std::vector<Case> cases = {
      {"colour product",
       kIn + "return c * d; }",
       {},
       [](const Pixel& p) { return Map(p.C(0), [&](float x, int i) { return x * p.C(1)[i]; }); }},
      {"difference",
       kIn + "return c - d; }",
       {},
       [](const Pixel& p) { return Map(p.C(0), [&](float x, int i) { return x - p.C(1)[i]; }); }},
      {"multiply-add with a constant",
       "float4 k;\n" + kIn + "return c * d + k; }",
       {{"k", k}},
       [k](const Pixel& p) { return Map(p.C(0), [&](float x, int i) { return x * p.C(1)[i] + k[i]; }); }},
      {"literals",
       kIn + "return c * float4(0.5, 0.25, -0.5, 1) + float4(0.1, 0.2, 0.3, 0.4); }",
       {},
       [](const Pixel& p) {
         const float m[4] = {0.5f, 0.25f, -0.5f, 1}, a[4] = {0.1f, 0.2f, 0.3f, 0.4f};
         return Map(p.C(0), [&](float x, int i) { return x * m[i] + a[i]; });
       }},
      {"x + x and a half",
       kIn + "float4 x = c * d; float4 y = x + x; return y * 0.5 + d * 0.5; }",
       {},
       [](const Pixel& p) { return Map(p.C(0), [&](float x, int i) { return x * p.C(1)[i] + 0.5f * p.C(1)[i]; }); }},
      {"dot of three",
       kIn + "return dot(c.rgb, d.rgb); }",
       {},
       [](const Pixel& p) {
         const float s = Dot(p.C(0), p.C(1), 3);
         return Float4(s, s, s, s);
       }},
      {"dot of four",
       "float4 k;\n" + kIn + "return dot(c, k); }",
       {{"k", k}},
       [k](const Pixel& p) {
         const float s = Dot(p.C(0), k, 4);
         return Float4(s, s, s, s);
       }},
      {"dot of four over a result it replaces",
       "float4 k;\n" + kIn + "float4 x = c * d; return dot(x, k); }",
       {{"k", k}},
       [k](const Pixel& p) {
         const float s = Dot(Map(p.C(0), [&](float x, int i) { return x * p.C(1)[i]; }), k, 4);
         return Float4(s, s, s, s);
       }},
      {"colour and alpha apart",
       kIn + "return float4(c.rgb * d.rgb, c.a + d.a); }",
       {},
       [](const Pixel& p) {
         return Map(p.C(0), [&](float x, int i) { return i < 3 ? x * p.C(1)[i] : x + p.C(1)[i]; });
       }},
      {"one component replicated",
       kIn + "return c.y * d; }",
       {},
       [](const Pixel& p) { return Map(p.C(1), [&](float x, int) { return x * p.C(0)[1]; }); }},
      {"scalar select",
       "float4 k;\n" + kIn + "return c.a >= 0.5 ? d : k; }",
       {{"k", k}},
       [k](const Pixel& p) { return p.C(0)[3] >= 0.5f ? p.C(1) : k; }},
      // The condition needs r0.a on ps_1_1-1_3 while the product lives on.
      {"a select beside a live value",
       "float4 k;\n" + kIn + "float4 x = c * d; return (c.x >= 0.5 ? x : k) * x; }",
       {{"k", k}},
       [k](const Pixel& p) {
         const Float4 x = Map(p.C(0), [&](float v, int i) { return v * p.C(1)[i]; });
         return Map(x, [&](float v, int i) { return (p.C(0)[0] >= 0.5f ? v : k[i]) * v; });
       }},
  };
  for (const Case& c : cases) Check(c);
}

TEST(GxlPs1EndToEnd, TexturesAgainstReferences) {
  const std::vector<Case> cases = {
      {"sample times colour",
       kSamplers + kIn + "return tex2D(s0, u0) * c; }",
       {},
       [](const Pixel& p) { return Map(Pixel::Sample(0, p.T(0)), [&](float x, int i) { return x * p.C(0)[i]; }); }},
      {"two samples blended by alpha",
       kSamplers + kIn + "return lerp(tex2D(s0, u0), tex2D(s1, u1), c.a); }",
       {},
       [](const Pixel& p) {
         const Float4 a = Pixel::Sample(0, p.T(0)), b = Pixel::Sample(1, p.T(1));
         return Map(a, [&](float x, int i) { return x + (b[i] - x) * p.C(0)[3]; });
       }},
      // Three texture registers in one instruction: ps_1_1 reads two at most.
      {"three samples in one lerp",
       kSamplers + kIn + "return lerp(tex2D(s0, u0), tex2D(s1, u1), tex2D(s2, u2)); }",
       {},
       [](const Pixel& p) {
         const Float4 a = Pixel::Sample(0, p.T(0)), b = Pixel::Sample(1, p.T(1)), t = Pixel::Sample(2, p.T(2));
         return Map(a, [&](float x, int i) { return x + (b[i] - x) * t[i]; });
       }},
      {"three samples in one multiply-add",
       kSamplers + kIn + "return tex2D(s0, u0) * tex2D(s1, u1) + tex2D(s2, u2); }",
       {},
       [](const Pixel& p) {
         const Float4 a = Pixel::Sample(0, p.T(0)), b = Pixel::Sample(1, p.T(1)), t = Pixel::Sample(2, p.T(2));
         return Map(a, [&](float x, int i) { return x * b[i] + t[i]; });
       }},
      {"a texture coordinate read directly",
       kIn + "return float4(saturate(u1), 0, 1) * c; }",
       {},
       [](const Pixel& p) {
         return Map(p.C(0), [&](float x, int i) { return i < 2 ? x * p.T(1)[i] : i == 2 ? 0.0f : x; });
       }},
  };
  for (const Case& c : cases) Check(c);
}

// Texture placement's programs, dependent reads among them, give what the
// ps_2_0 code of the same source gives.
TEST(GxlPs1EndToEnd, PlacedProgramsMatchPs20) {
  const std::string rows = "float4 main(float2 uv : TEXCOORD0, float3 t1 : TEXCOORD1, float3 t2 : TEXCOORD2";
  const std::string two = "sampler s0; sampler s1;\n";
  const std::vector<Case> cases = {
      {"samples on their coordinates' stages",
       two + "float4 main(float2 u : TEXCOORD0, float2 v : TEXCOORD2) : COLOR { return tex2D(s0, u) * tex2D(s1, v); }",
       {},
       nullptr},
      {"(w, x) of an earlier sample",
       two + "float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, a.wx); }",
       {},
       nullptr},
      {"(y, z) of an earlier sample",
       two + "float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, a.yz); }",
       {},
       nullptr},
      {"xyz of an earlier sample",
       "sampler s0; samplerCUBE s1; float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = tex2D(s0, uv); "
       "return texCUBE(s1, a.xyz); }",
       {},
       nullptr,
       0xE},
      {"two rows",
       two + rows + ") : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, float2(dot(a.xyz, t1), dot(a.xyz, t2))); }",
       {},
       nullptr},
      {"three rows",
       "sampler s0; sampler3D s1; " + rows +
           ", float3 t3 : TEXCOORD3) : COLOR { float4 a = tex2D(s0, uv); "
           "return tex3D(s1, float3(dot(a.xyz, t1), dot(a.xyz, t2), dot(a.xyz, t3))); }",
       {},
       nullptr},
      {"a coordinate read by arithmetic",
       "float4 main(float4 c : COLOR0, float2 t : TEXCOORD0) : COLOR { return c * t.x; }",
       {},
       nullptr},
      {"a uniform's x times a coordinate",
       "float4 k;\nfloat4 main(float3 a : TEXCOORD0) : COLOR { return float4(k.x * a, 1); }",
       {{"k", Float4(0.5f, -0.25f, 0.75f, -1.0f)}},
       nullptr},
      {"the output move stays past a later read of r0",
       two + "float4 main(float2 uv : TEXCOORD0, float4 c : COLOR0) : COLOR { float4 a = tex2D(s0, uv); "
             "float4 x = a * c; return x + x.w * a; }",
       {},
       nullptr},
  };
  for (const Case& c : cases) Check(c);
}

// The text of the corpus file whose path ends in `name`, or "".
std::string CorpusText(const std::string& name) {
  for (const shadertest::CorpusFile& f : shadertest::CorpusFiles())
    if (f.path.size() >= name.size() && f.path.compare(f.path.size() - name.size(), name.size(), name) == 0) {
      std::ifstream in(f.path, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      return text.str();
    }
  return "";
}

// The corpus's first pixel shader: a sample times the diffuse colour, scaled
// by 4 as a result modifier; the POSITION it takes is unused.
TEST(GxlPs1EndToEnd, IrrlichtPixelMain) {
  const std::string source = CorpusText("irrlicht/d3d9.hlsl");
  NURA_REQUIRE_OUTSIDE_INPUT(!source.empty(), "the shared shader corpus");
  Case k{"irrlicht pixelMain", source, {}, [](const Pixel& p) {
           return Map(Pixel::Sample(0, p.T(0)), [&](float x, int i) { return 4 * x * p.C(0)[i]; });
         }};
  k.entry = "pixelMain";
  k.againstPs20 = false;
  Check(k);
  for (const char* model : kModels) {
    const Compiled c = CompileHlsl(source, model, "pixelMain");
    const std::string text = Text(c.code);
    EXPECT_NE(text.find("mul_x4 r0, "), std::string::npos) << model << "\n" << text;
    EXPECT_EQ(text.find("\nmov"), std::string::npos) << model << "\n" << text;
  }
}

// The corpus's ps_1_1 normal-map and ps_1_4 parallax programs written as HLSL
// give the colours of the .psh files, assembled and run on the same inputs.
// The HLSL writes each _bx2 as (x - 0.5) * 2: bias, then times two.
TEST(GxlPs1EndToEnd, CorpusNormalAndParallaxMaps) {
  const std::string head =
      "sampler s0 : register(s0); sampler s1 : register(s1); float4 scale : register(c6);\n"
      "float3 Expand(float3 x) { return (x - 0.5) * 2; }\n"
      "float4 main(float2 uv0 : TEXCOORD0, float2 uv1 : TEXCOORD1, float3 l1 : TEXCOORD2, float3 l2 : TEXCOORD3, "
      "float3 eye : TEXCOORD4, float4 c1 : COLOR0, float4 c2 : COLOR1) : COLOR {\n";
  const std::string lit =
      "  float4 lum = saturate(dot(n, Expand(l1))) * c1;\n"
      "  lum = saturate(dot(n, Expand(l2))) * c2 + lum;\n"
      "  return float4(tex2D(s0, uv).rgb * lum.rgb, c1.a);\n}\n";
  struct Program {
    const char* psh;
    unsigned models;
    std::string hlsl;
  };
  const Program programs[] = {
      {"irrlicht/D3D9_NORMAL_MAP_PSH_1_1.psh", 0xF,
       head + "  float2 uv = uv0;\n  float3 n = Expand(tex2D(s1, uv1).xyz);\n" + lit},
      {"irrlicht/D3D9_PARALLAX_MAP_PSH.psh", 0x8,
       head +
           "  float4 nh = (tex2D(s1, uv1) - 0.5) * 2;\n"
           "  float2 uv = nh.w * nh.z * scale.xy * Expand(eye).xy + uv0;\n"
           "  float3 n = Expand(tex2D(s1, uv).xyz);\n" +
           lit},
  };
  for (const Program& program : programs) {
    SCOPED_TRACE(program.psh);
    const std::string text = CorpusText(program.psh);
    NURA_REQUIRE_OUTSIDE_INPUT(!text.empty(), "the shared shader corpus");
    const shadertest::AsmRun assembled = shadertest::Assemble(text, 0);
    ASSERT_EQ(assembled.hr, S_OK) << assembled.log;
    Compiled reference;
    reference.code = assembled.tokens;
    // c6 is the parallax scale the program leaves to the application.
    Case k{program.psh, program.hlsl, {{"scale", Float4(0.25f, 0.25f, 0.25f, 0)}}, nullptr, program.models};
    k.constants["c6"] = k.constants["scale"];
    k.againstPs20 = false;
    Lane want[4];
    std::string error;
    ASSERT_TRUE(RunQuad(reference, k, false, want, &error)) << error;
    std::vector<Float4> colours;
    for (const Lane& lane : want) colours.push_back(lane.oC[0]);
    k.reference = [colours](const Pixel& p) { return colours[static_cast<std::size_t>(p.lane)]; };
    Check(k);
  }
}

// Short generated expressions over uniforms, every value in [-1, 1], compiled
// for each 1.x model: what compiles matches the generator's own evaluation
// and the ps_2_0 code; what does not says why without an internal error.
class GxlPs1EndToEndGenerated : public ::testing::TestWithParam<std::uint32_t> {};

constexpr std::uint32_t kGeneratedSeeds = 500, kGeneratedBatches = 10;

bool WithinUnit(const hlslgen::Generator& g) {
  for (const hlslgen::Node& n : g.Nodes())
    for (const double x : n.value)
      if (!(x >= -1.0 && x <= 1.0)) return false;
  return true;
}

TEST_P(GxlPs1EndToEndGenerated, ExpressionsMatchTheGeneratorAndPs20) {
  std::uint32_t compared = 0, refused = 0;
  const std::uint32_t per = kGeneratedSeeds / kGeneratedBatches;
  for (std::uint32_t seed = GetParam() * per; seed < (GetParam() + 1) * per; ++seed) {
    const hlslgen::Generator g(
        seed, hlslgen::Options{.maxDepth = 2, .maxVariables = 4, .matrices = false, .unitFloats = true});
    const hlslgen::Node& root = g.At(g.Root());
    if (root.type.matrix || root.type.base != hlslgen::Base::Float || !WithinUnit(g)) continue;
    const std::uint32_t n = root.type.columns;
    Case k{"generated", "", {}, nullptr};
    bool oneRegisterEach = true;
    for (const hlslgen::Variable& v : g.Variables()) oneRegisterEach &= !v.type.matrix;
    if (!oneRegisterEach) continue;
    for (const hlslgen::Variable& v : g.Variables()) {
      k.source += "uniform " + v.type.Name() + " " + v.name + ";\n";
      Float4 x;
      for (std::uint32_t i = 0; i < 4 && i < v.value.size(); ++i)
        x[static_cast<int>(i)] = static_cast<float>(v.value[i]);
      k.constants[v.name] = x;
    }
    const std::string width = n == 1 ? "float" : "float" + std::to_string(n);
    k.source += "float4 main() : COLOR { return float4((" + width + ")(" + g.Text(g.Root()) + ")" +
                std::string(n == 1   ? ", 0.0, 0.0, 1.0"
                            : n == 2 ? ", 0.0, 1.0"
                            : n == 3 ? ", 1.0"
                                     : "") +
                "); }\n";
    const Compiled ps2 = CompileHlsl(k.source, "ps_2_0", "main");
    if (FAILED(ps2.hr)) continue;
    Lane expected[4];
    std::string error;
    ASSERT_TRUE(RunQuad(ps2, k, false, expected, &error)) << error;
    for (const char* model : kModels) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " " + model + "\n" + k.source);
      const Compiled c = CompileHlsl(k.source, model, "main");
      if (FAILED(c.hr)) {
        ++refused;
        EXPECT_NE(c.log.find("error X"), std::string::npos) << c.log;
        EXPECT_EQ(c.log.find("internal error"), std::string::npos) << c.log;
        continue;
      }
      Lane quad[4];
      ASSERT_TRUE(RunQuad(c, k, true, quad, &error)) << error << "\n" << Text(c.code);
      for (std::uint32_t i = 0; i < n; ++i) {
        const int j = static_cast<int>(i);
        EXPECT_TRUE(Near(quad[0].oC[0][j], static_cast<float>(root.value[i])))
            << "[" << i << "] " << quad[0].oC[0][j] << " for " << root.value[i] << "\n"
            << Text(c.code);
        EXPECT_TRUE(Near(quad[0].oC[0][j], expected[0].oC[0][j])) << "ps_2_0 gives " << expected[0].oC[0][j];
      }
      ++compared;
    }
  }
  // Many generated operations have no 1.x form; a good share compiles.
  EXPECT_GE(compared, 10u) << compared << " compared, " << refused << " refused";
}

INSTANTIATE_TEST_SUITE_P(Batches, GxlPs1EndToEndGenerated, ::testing::Range(0u, kGeneratedBatches));

// An unrolled loop whose accumulator one register carries through many
// instructions: the register search gathers every group that reads it, and
// the program either compiles into code that runs or stops at a limit of
// the model, never at an internal error.
TEST(GxlPs1EndToEnd, UnrolledLoopEndsAtALimitNotAnInternalError) {
  const char source[] =
      "uniform int3 v0;\n"
      "uniform float3 v1;\n"
      "uniform float v2;\n"
      "uniform float v3;\n"
      "uniform float2 v4;\n"
      "uniform int v5;\n"
      "float4 main() : COLOR {\n"
      "  float3 r = (float3(((bool3)int3((v0 == float3(0.6875, 1.75, (-1.0)))))) + (3.9375 ? (bool3(true, true, "
      "false) ? ((v1 / 2.25) - (v1).xzy) : ((float3)(v2 - v3))) : (((v4)[v5] % (+v0)) * v1)));\n"
      "  r += (((bool3)float3(2.125, 2.0, 3.375)) ? v1 : cross(((float3)v5), (-v1)));\n"
      "  r.x = (float3(max(int2(2, (-4)), int2(2, 8)), 0))[2];\n"
      "  r.y -= (r).y;\n"
      "  for (int i0 = 0; ((i0 < 7) && ((abs(int4((-1), 5, (-7), (-9))))[0] > ((v5).xxxx)[2])); i0++) {\n"
      "    r -= (((float3)((-v5) ? bool3(true, false, true) : bool3(bool3(true, false, false)))) * ((float)i0));\n"
      "  }\n"
      "  return float4((float)r.x, (float)r.y, (float)r.z, (float)0.0);\n"
      "}\n";
  std::uint32_t compiled = 0;
  for (const char* profile : {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4"}) {
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile);
    EXPECT_FALSE(c.Logged("internal error")) << profile << "\n" << c.log;
    if (FAILED(c.hr)) {
      EXPECT_TRUE(c.Logged("error X45")) << profile << "\n" << c.log;
      continue;
    }
    ++compiled;
    nura::shtok::Interpreter interp;
    std::string error;
    ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << profile << ": " << error;
    nura::shtok::Lane lane;
    EXPECT_TRUE(interp.Run(&lane, 1, &error)) << profile << ": " << error << "\n" << c.text;
  }
  RecordProperty("compiled", static_cast<int>(compiled));
}

}  // namespace

// The pixel shader 1.x code as tokens: the version token, the instruction
// shapes of each model read back through the token kit's decoder (dp4 where a
// model has none, co-issued pairs, the phase instruction, texture registers,
// result modifiers), and the emission and constant messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ps1_compile.h"

namespace {

using ps1test::Compiled;
using ps1test::CompileHlsl;
using ps1test::Text;

const std::string kColours = "float4 main(float4 c : COLOR0, float4 d : COLOR1) : COLOR { ";
const std::string kConstant = "float4 k;\n" + kColours;
const std::string kLoads =
    "sampler s0 : register(s0); sampler s1 : register(s1);\n"
    "float4 main(float2 u0 : TEXCOORD0, float2 u1 : TEXCOORD1, float4 c : COLOR0) : COLOR { ";

// A cube lookup at the reflection of an eye vector about a normal given as
// three matrix rows over a sample.
std::string Reflection(const std::string& coordinate) {
  return "samplerCUBE s; sampler s0; float3 k; float4 main(float2 uv : TEXCOORD0, float4 e1 : TEXCOORD1, "
         "float4 e2 : TEXCOORD2, float4 e3 : TEXCOORD3) : COLOR { float3 a = tex2D(s0, uv).xyz; "
         "float3 n = float3(dot(e1.xyz, a), dot(e2.xyz, a), dot(e3.xyz, a)); float3 e = float3(e1.w, e2.w, e3.w); "
         "return texCUBE(s, " +
         coordinate + "); }";
}

TEST(GxlPs1Emit, VersionTokenPerModel) {
  const DWORD versions[] = {0xFFFF0101, 0xFFFF0102, 0xFFFF0103, 0xFFFF0104};
  const char* models[] = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4"};
  for (int m = 0; m < 4; ++m) {
    const Compiled c = CompileHlsl(kColours + "return c * d; }", models[m]);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    ASSERT_FALSE(c.code.empty());
    EXPECT_EQ(c.code[0], versions[m]);
    EXPECT_EQ(c.code.back(), 0x0000FFFFu);
  }
}

struct Shape {
  const char* name;
  std::string source;
  const char* model;
  std::vector<const char*> lines;    // in this order, each the start of a line
  std::vector<const char*> missing;  // nowhere in the text
};

TEST(GxlPs1Emit, InstructionShapes) {
  const std::vector<Shape> shapes = {
      {"the output move folds: the product writes r0",
       kColours + "return c * d; }",
       "ps_1_1",
       {"mul r0, v0, v1"},
       {"mov"}},
      {"dp4 on ps_1_1 is dp3 and mad", kConstant + "return dot(c, k); }", "ps_1_1", {"dp3 ", "mad "}, {"dp4"}},
      {"dp4 on ps_1_2 stays", kConstant + "return dot(c, k); }", "ps_1_2", {"dp4 "}, {"dp3"}},
      {"dp4 over its own source reads both w first",
       kConstant + "float4 x = c * d; return dot(x, k); }",
       "ps_1_2",
       {"mul r0, v0, v1", "dp3 r0.xyz, r0, c0", "mul r0.w, r0.w, c0.w", "add r0.w, r0.w, r0.z", "mov r0, r0.w"},
       {"dp4", "mad"}},
      {"dp4 over its own source on ps_1_4 stays",
       kConstant + "float4 x = c * d; return dot(x, k); }",
       "ps_1_4",
       {"dp4 r0, r0, c0"},
       {"dp3"}},
      {"colour and alpha co-issued",
       kColours + "return float4(c.rgb * d.rgb, c.a + d.a); }",
       "ps_1_1",
       {"mul r0.xyz, v0, v1", "+add r0.w, v0.w, v1.w"},
       {}},
      {"alpha first in the source, second in the pair",
       kColours + "return float4(c.rgb + d.rgb, c.a * d.a); }",
       "ps_1_3",
       {"add r0.xyz, v0, v1", "+mul r0.w, v0.w, v1.w"},
       {}},
      {"a dependent read splits the phases",
       kLoads + "float4 a = tex2D(s0, u0); return tex2D(s1, a.xy) * c + a.x; }",
       "ps_1_4",
       {"texld r0, t0", "phase", "texld r1, r0", "mad r0, r1, v0, r0.x"},
       {}},
      {"no texture operation, no phase", kColours + "return c * d; }", "ps_1_4", {"mul r0, v0, v1"}, {"phase"}},
      {"a sample on stage 0", kLoads + "return tex2D(s0, u0) * c; }", "ps_1_1", {"tex t0", "mul r0, t0, v0"}, {}},
      {"a coordinate read directly",
       kLoads + "return float4(saturate(u1), 0, 1) * c; }",
       "ps_1_2",
       {"texcoord t1"},
       {}},
      {"a coordinate read directly on ps_1_4",
       kLoads + "return float4(saturate(u1), 0, 1) * c; }",
       "ps_1_4",
       {"texcrd r0.xyz, t1"},
       {}},
      {"a reflection with the eye in the coordinates' w",
       Reflection("reflect(-e, n)"),
       "ps_1_1",
       {"tex t0", "texm3x3pad t1, t0", "texm3x3pad t2, t0", "texm3x3vspec t3, t0"},
       {}},
      {"a reflection with the eye in a constant",
       Reflection("reflect(-k, n)"),
       "ps_1_2",
       {"tex t0", "texm3x3pad t1, t0", "texm3x3pad t2, t0", "texm3x3spec t3, t0, c0"},
       {}},
      {"x + x scales its producer",
       kColours + "float4 x = c * d; return x + x; }",
       "ps_1_1",
       {"mul_x2 r0, v0, v1"},
       {"add"}},
      {"a scalar select is cnd on r0.a",
       kConstant + "return c.a >= 0.5 ? d : k; }",
       "ps_1_1",
       {"cnd r0, r0.w, "},
       {"cmp"}},
      {"a select is cmp on ps_1_4", kConstant + "return c.a >= 0.5 ? d : k; }", "ps_1_4", {"cmp r0, "}, {"cnd"}},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(std::string(s.name) + " " + s.model);
    const Compiled c = CompileHlsl(s.source, s.model);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    const std::string text = "\n" + Text(c.code);
    std::size_t at = 0;
    for (const char* line : s.lines) {
      at = text.find(std::string("\n") + line, at);
      ASSERT_NE(at, std::string::npos) << "no line " << line << " in order:" << text;
      ++at;
    }
    for (const char* absent : s.missing) EXPECT_EQ(text.find(absent), std::string::npos) << absent << text;
  }
}

struct MessageCase {
  const char* name;
  std::string source;
  const char* model;
  const char* message;  // a whole line of the log after the location
  int times;
  HRESULT hr;
};

TEST(GxlPs1Emit, Messages) {
  // Nine products of an input and a literal vector of its own, summed.
  std::string nine = kColours + "return c * float4(0.1, 0.5, 0.25, 0.9)";
  for (int i = 1; i < 9; ++i)
    nine += std::string(i % 2 ? " + d" : " + c") + " * float4(0." + std::to_string(i + 1) + ", 0.5, 0.25, 0." +
            std::to_string(9 - i) + ")";
  nine += "; }";
  const std::vector<MessageCase> cases = {
      {"a literal past 1 is clamped", kColours + "return c + 2.5; }", "ps_1_1",
       "warning X4704: literal values outside range -1 to 1 are clamped on all ps_1_x shading models", 1, S_OK},
      {"coordinates read directly, warned once", kLoads + "return float4(u1, 0, 1) * c + float4(u0, 0.5, 0); }",
       "ps_1_2",
       "warning X4707: texcoord inputs used directly (that is, other than sampling from textures) in shader body in "
       "ps_1_2 are always clamped from 0 to 1",
       1, S_OK},
      {"saturated coordinates are not warned", kLoads + "return float4(saturate(u1), 0, 1) * c; }", "ps_1_2",
       "warning X4707", 0, S_OK},
      {"ps_1_4 coordinates are not clamped", kLoads + "return float4(u1, 0, 1) * c; }", "ps_1_4", "warning X4707", 0,
       S_OK},
      {"nine literal vectors", nine, "ps_1_2",
       "error X4507: program too complex: exceeded available constant registers.", 1, E_FAIL},
  };
  for (const MessageCase& m : cases) {
    SCOPED_TRACE(std::string(m.name) + " " + m.model);
    const Compiled c = CompileHlsl(m.source, m.model);
    EXPECT_EQ(c.hr, m.hr) << c.log;
    int n = 0;
    for (std::size_t at = c.log.find(m.message); at != std::string::npos; at = c.log.find(m.message, at + 1)) ++n;
    EXPECT_EQ(n, m.times) << c.log;
  }
}

}  // namespace

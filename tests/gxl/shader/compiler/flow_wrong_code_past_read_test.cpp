// Loops whose test reads an array at the counter beside a bound, as the flow
// differential's generator writes them (seeds 16804389 and 16806569): the
// last test reads one element past the array, and the bound alone ends the
// loop there. Each loop once came out with the bound gone, left only by the
// read past the array, and one also read element 0 at every pass. Each
// program runs in the token kit's interpreter with the element past the
// array, and the uniform placed after it, keeping the loop going, and its
// output is compared with the loop run here.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::kBoth;
using shadertest::kTexCoord;
using shadertest::Uniforms;

// The loop's program for a pixel or a vertex profile: `body` leaves float4 o.
std::string Shader(const std::string& uniforms, const std::string& body, bool vertex) {
  const std::string head = vertex ? "void main(float4 p : POSITION, out float4 pos : POSITION,"
                                    " out float4 o0 : TEXCOORD0) {\n  pos = p;\n"
                                  : "void main(out float4 o0 : COLOR0) {\n";
  return uniforms + head + body + "  o0 = o;\n}\n";
}

struct PastRead {
  const char* name;
  const char* uniforms;
  const char* body;
  Uniforms values;
  std::function<Float4(const Uniforms&)> run;  // the loop, here
};

// Compiled for pixel and vertex shader 3 and vs_2_a, optimised and not.
void Check(const PastRead& p) {
  const Float4 expected = p.run(p.values);
  for (const bool vertex : {false, true})
    shadertest::CheckFlowProgram(
        {p.name, Shader(p.uniforms, p.body, vertex),
         vertex ? std::vector<const char*>{"vs_3_0", "vs_2_a"} : std::vector<const char*>{"ps_3_0", "ps_3_sw"},
         kBoth, p.values, {}, vertex ? shadertest::LaneOutput{kTexCoord, 0} : shadertest::LaneOutput{}, expected});
}

// r -= v3 + i0 while the test holds, the read past v6[7] leaving it to the
// bound; r and i0 after the loop. Element k of v6 has z = k - 1, below k:
// each read lets the loop go on. So does z of the uniform after the array,
// and of a register left 0.
struct Passes {
  float r = 0;
  int end = 0;
};
Passes RunPasses(const Uniforms& u, const std::function<bool(int)>& bound) {
  Passes p;
  for (; bound(p.end) && (p.end >= 7 || u.at("v6")[4 * p.end + 2] < p.end); ++p.end)
    p.r -= static_cast<float>(u.at("v3")[0] + p.end);
  return p;
}

const Uniforms kSevenPasses = {{"v6", {0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0,
                                       0, 0, 5, 0}},
                               {"past", {0.5, 0, 2, 0}},
                               {"v3", {2}},
                               {"n", {9}},
                               {"u", {-1, 0, 0, 0}}};

TEST(GxlFlowWrongCode, ExitTestReadingPastItsArrayEndsAtItsBound) {
  const PastRead kCases[] = {
      // Seed 16804389: the test at i0 = 7 reads v6[7] and fails on i0 < 7.
      {"bound beside the read",
       "uniform float4 v6[7];\nuniform float4 past;\nuniform int v3;\n",
       "  int r = 0;\n"
       "  for (int i0 = 0; ((i0 < 7) && ((v6[i0]).z < ((float)i0))); i0++) {\n"
       "    r -= (v3 + i0);\n"
       "  }\n"
       "  float4 o = float4(r, past.x, 0, 0);\n",
       kSevenPasses,
       [](const Uniforms& u) {
         return Float4(RunPasses(u, [](int i) { return i < 7; }).r, static_cast<float>(u.at("past")[0]), 0, 0);
       }},
      // The same bound under an or with a uniform: the test at i0 = 7 is not
      // known to fail, yet it is reached with i0 = 7, which i0 < 7 tests,
      // and the loop may end there (i0 < 7 after it is 0).
      {"bound the test reaches",
       "uniform float4 v6[7];\nuniform float4 past;\nuniform int v3;\nuniform float n;\nuniform float4 u;\n",
       "  int r = 0;\n"
       "  int i0;\n"
       "  for (i0 = 0; (i0 < n) && ((i0 < 7) || (u.x > 0)) && ((v6[i0]).z < ((float)i0)); i0++) {\n"
       "    r -= (v3 + i0);\n"
       "  }\n"
       "  float4 o = float4(r, past.x, i0 < 7, 0);\n",
       kSevenPasses,
       [](const Uniforms& u) {
         const double n = u.at("n")[0], x = u.at("u")[0];
         const Passes p = RunPasses(u, [&](int i) { return i < n && (i < 7 || x > 0); });
         return Float4(p.r, static_cast<float>(u.at("past")[0]), p.end < 7 ? 1.0f : 0.0f, 0);
       }},
      // Seed 16806569: a flag beside the bound, the test against frac(-3.625)
      // = 0.375. v6[0] passes and v6[1] fails it: one pass.
      {"bound and flag beside the read",
       "uniform float3 v6[2];\nuniform float4 past;\n",
       "  float3 r = 0;\n"
       "  bool k1 = true;\n"
       "  for (int i1 = 0; (((i1 < 2) && ((v6[i1]).z <= frac((-3.625)))) && k1); i1++) {\n"
       "    r -= v6[i1] + 1;\n"
       "  }\n"
       "  float4 o = float4(r, past.x);\n",
       {{"v6", {1, 2, -1, 3, 4, 0.5}}, {"past", {0.5, 0, 0, 0}}},
       [](const Uniforms& u) {
         const std::vector<double>& v = u.at("v6");
         float r[3] = {0, 0, 0};
         for (int i = 0; i < 2 && v[3 * i + 2] <= 0.375; ++i)
           for (int c = 0; c < 3; ++c) r[c] -= static_cast<float>(v[3 * i + c] + 1);
         return Float4(r[0], r[1], r[2], static_cast<float>(u.at("past")[0]));
       }},
  };
  for (const PastRead& p : kCases) Check(p);
}

// A loop whose test, once its bound folds away, is a comparison with an
// element of a uniform array at the counter: the break reads that element
// at each pass. (It once read element 0 at every pass in pixel shaders.)
TEST(GxlFlowWrongCode, BreakOnAnArrayElementReadsItAtTheCounter) {
  // v6[0] and v6[1] pass the test, v6[2] fails it: two passes.
  const Uniforms values = {{"v6", {1, 2, 0, 3, 4, 0.25, 5, 6, 1, 7, 8, 0}}, {"past", {0.5, 0.5, 0, 0}}};
  auto passes = [](double limit) {
    return [limit](const Uniforms& u) {
      const std::vector<double>& v = u.at("v6");
      float r[3] = {0, 0, 0};
      for (int i = 0; i < 3 && v[3 * i + 2] <= limit; ++i)
        for (int c = 0; c < 3; ++c) r[c] -= static_cast<float>(v[3 * i + c] + 1);
      return Float4(r[0], r[1], r[2], static_cast<float>(u.at("past")[0]));
    };
  };
  const PastRead kCases[] = {
      // Seed 16806569's loop over an array the bound keeps it within.
      {"against a literal",
       "uniform float3 v6[4];\nuniform float4 past;\n",
       "  float3 r = 0;\n"
       "  bool k1 = true;\n"
       "  for (int i1 = 0; (((i1 < 3) && ((v6[i1]).z <= frac((-3.625)))) && k1); i1++) {\n"
       "    r -= v6[i1] + 1;\n"
       "  }\n"
       "  float4 o = float4(r, past.x);\n",
       values, passes(0.375)},
      {"against a uniform",
       "uniform float3 v6[4];\nuniform float4 past;\n",
       "  float3 r = 0;\n"
       "  for (int i1 = 0; (i1 < 3) && (v6[i1].z <= past.y); i1++) {\n"
       "    r -= v6[i1] + 1;\n"
       "  }\n"
       "  float4 o = float4(r, past.x);\n",
       values, passes(0.5)},
  };
  for (const PastRead& p : kCases) Check(p);
}

}  // namespace

// Counted loops over aL side by side: each loop's integer constant is its
// whole (count, start, step), so loops that agree on the count alone must
// still walk their own counters. Each program is compiled for the profiles
// that keep the loops as loops, optimised and not, run in the token kit's
// interpreter and compared with values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;

// ua[0..3] of the reproducer, row by row.
const std::vector<double> kUa = {1.84027302,  1.88249505,  -0.769940138, 1.15375519,  -0.248076811, -0.369163364,
                                 -0.417597741, 1.2992847,  0.713578165,  1.9629854,   -1.07141173,  0.228495181,
                                 1.70635366,  1.04786742,  -1.02539062, -0.160218462};

// Two loops of two passes, steps 1 and 2: the first ends on ua[1], the
// second on ua[2]. Before the mend both read "defi i0, 2, 0, 2, 0".
TEST(GxlCompilerMend, LoopsSharingACountKeepTheirOwnSteps) {
  const std::string source =
      "float4 ua[4];\n"
      "void main(float4 itc0 : TEXCOORD0, float4 itc2 : TEXCOORD2, out float4 opos : POSITION,\n"
      "          out float4 otc : TEXCOORD0) {\n"
      "  float2 v2 = float2(0.5, 0.5);\n"
      "  for (int i3 = 0; i3 < 2; i3++) { itc2 = exp2(ua[i3]); }\n"
      "  for (int i17 = 0; i17 < 3; i17 += 2) {\n"
      "    float4 v18 = float4(1.0, 1.0, 1.0, 1.0);\n"
      "    itc0 = float4((ua[i17]).zyw, 0.5);\n"
      "    v2.y = sin(dot(float4(0.5, 0.5, 0.5, 0.5), ((float4(0.5, 0.5, 0.5, 0.5) > v18) ? float4(1, 1, 1, 1) "
      ": (float4)0)));\n"
      "  }\n"
      "  opos = itc2;\n"
      "  otc = itc0;\n"
      "}\n";
  const shadertest::LaneInputs inputs = {
      {In(nura::shtok::kUsageTexCoord, 0), Float4(0.0137212146f, -1.27317464f, -1.24614489f, 0.856482804f)},
      {In(nura::shtok::kUsageTexCoord, 2), Float4(-0.544365227f, 1.90208673f, -1.98152995f, 0.820053458f)}};
  const std::vector<const char*> profiles = {"vs_3_0", "vs_3_sw"};
  // exp2(ua[1]) and (ua[2].zyw, 0.5).
  shadertest::CheckFlowProgram({"exp2(ua[1])", source, profiles, shadertest::kBoth, {{"ua", kUa}}, inputs,
                                {nura::shtok::kUsagePosition, 0},
                                Float4(0.84201812f, 0.77423135f, 0.74867021f, 2.46106831f)});
  shadertest::CheckFlowProgram({"ua[2].zyw", source, profiles, shadertest::kBoth, {{"ua", kUa}}, inputs,
                                {nura::shtok::kUsageTexCoord, 0}, Float4(-1.07141173f, 1.9629854f, 0.228495181f, 0.5f)});
}

// Three counted loops of two passes, (start, step) = (0, 1), (1, 1) and
// (0, 2), and a loop of two passes that reads no counter (a rep), at the
// vertex and pixel profiles that keep them as loops. Each loop raises its
// own variable through exp2, so each reads its own rows; the expected value
// is worked out with libm.
TEST(GxlCompilerMend, LoopsOfOneCountWithDifferentStartsAndSteps) {
  const std::string body =
      "float4 ua[8];\n"
      "float4 main(float4 p : TEXCOORD0) : OUT {\n"
      "  float4 r = p, s = p, t = p, u = p;\n"
      "  for (int a = 0; a < 2; a++) r = exp2(r * ua[a]);\n"
      "  for (int b = 1; b < 3; b++) s = exp2(s * ua[b]);\n"
      "  for (int c = 0; c < 4; c += 2) t = exp2(t * ua[c]);\n"
      "  for (int d = 0; d < 2; d++) u = exp2(u);\n"
      "  return r + s + t + u;\n"
      "}\n";
  std::vector<double> ua;
  for (int k = 0; k < 8; ++k)
    for (int c = 0; c < 4; ++c) ua.push_back(0.25 * (c + 1) - 0.125 * k);
  const double p[4] = {0.5, -0.75, 1.25, 0.0};
  Float4 want;
  for (int c = 0; c < 4; ++c) {
    auto run = [&](int start, int step, int passes, bool indexed) {
      double x = p[c];
      for (int i = start, n = 0; n < passes; i += step, ++n) x = std::exp2(indexed ? x * ua[i * 4 + c] : x);
      return x;
    };
    want[c] = static_cast<float>(run(0, 1, 2, true) + run(1, 1, 2, true) + run(0, 2, 2, true) + run(0, 1, 2, false));
  }
  const shadertest::LaneInputs inputs = {{In(nura::shtok::kUsageTexCoord, 0), Float4(0.5f, -0.75f, 1.25f, 0.0f)}};
  auto with = [&](const char* semantic) { return body.substr(0, body.find("OUT")) + semantic + body.substr(body.find("OUT") + 3); };
  shadertest::CheckFlowProgram({"vertex", with("POSITION"), {"vs_3_0", "vs_3_sw", "vs_2_a", "vs_2_sw"},
                                shadertest::kBoth, {{"ua", ua}}, inputs, {nura::shtok::kUsagePosition, 0}, want});
  shadertest::CheckFlowProgram({"pixel", with("COLOR"), {"ps_3_0", "ps_3_sw"}, shadertest::kBoth, {{"ua", ua}}, inputs,
                                {nura::shtok::kUsageColor, 0}, want});
}

}  // namespace

// Counted loops and their integer constants. Loops side by side: each
// loop's integer constant is its whole (count, start, step), so loops that
// agree on the count alone must still walk their own counters. Loops bounded
// by an int in an integer register: counted through it optimised and not,
// or refused with the binding message where the register cannot count them.
// Each program is compiled for the profiles that keep loops as loops,
// optimised and with option 0x4, run in the token kit's interpreter and
// compared with values worked out by hand or with libm.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::CompiledHlsl;
using shadertest::In;

// The entry point of `body` (its output semantic written OUT) for a stage.
std::string ForStage(const std::string& body, bool pixel) {
  const std::size_t at = body.find("OUT");
  return body.substr(0, at) + (pixel ? "COLOR" : "POSITION") + body.substr(at + 3);
}

// Runs one lane of `c` with TEXCOORD0 = `input`, the float uniforms by name
// and each named int in its integer register as (n, 0, 1), what an int's
// register holds for a loop; the output (COLOR0 or POSITION). False with
// the reason when it cannot run.
bool RunWithInts(const CompiledHlsl& c, const shadertest::Uniforms& floats, const std::map<std::string, int>& ints,
                 const Float4& input, Float4* out, std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error) ||
      !shadertest::PlaceConstants(c.table.Get(), floats, interp, error))
    return false;
  for (const auto& [name, n] : ints) c.Set(interp, name.c_str(), Float4(static_cast<float>(n), 0, 1, 0));
  nura::shtok::Lane lane;
  for (const nura::shtok::Declaration& d : interp.Declarations())
    if (Float4* slot = !d.output && d.usage >= 0 ? nura::shtok::DeclaredSlot(lane, d) : nullptr) *slot = input;
  if (!interp.Run(&lane, 1, error)) return false;
  if ((c.code[0] & 0xFFFF0000) == 0xFFFF0000) {
    *out = lane.oC[0];
  } else if (const nura::shtok::Declaration* d = interp.FindDeclaration(nura::shtok::kUsagePosition, 0, true)) {
    *out = lane.o[d->number];
  } else {
    *out = lane.oPos;
  }
  return true;
}

void ExpectNear(const Float4& got, const Float4& want, const std::string& what) {
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-4 * (1 + std::fabs(want[k]))) << what << " [" << k << "]";
}

// ua[k] = (k + 1, 10 (k + 1), -(k + 1), 0.5 k) for k = 0..7.
std::vector<double> Rows(double scale) {
  std::vector<double> rows;
  for (int k = 0; k < 8; ++k)
    rows.insert(rows.end(), {scale * (k + 1), 10 * scale * (k + 1), -scale * (k + 1), 0.5 * k});
  return rows;
}

// ua[0..3] of the reproducer, row by row.
const std::vector<double> kUa = {1.84027302,   1.88249505, -0.769940138, 1.15375519,  -0.248076811, -0.369163364,
                                 -0.417597741, 1.2992847,  0.713578165,  1.9629854,   -1.07141173,  0.228495181,
                                 1.70635366,   1.04786742, -1.02539062,  -0.160218462};

// Two loops of two passes, steps 1 and 2: the first ends on ua[1], the
// second on ua[2]. Both once read "defi i0, 2, 0, 2, 0".
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
  shadertest::CheckFlowProgram({"exp2(ua[1])",
                                source,
                                profiles,
                                shadertest::kBoth,
                                {{"ua", kUa}},
                                inputs,
                                {nura::shtok::kUsagePosition, 0},
                                Float4(0.84201812f, 0.77423135f, 0.74867021f, 2.46106831f)});
  shadertest::CheckFlowProgram({"ua[2].zyw",
                                source,
                                profiles,
                                shadertest::kBoth,
                                {{"ua", kUa}},
                                inputs,
                                {nura::shtok::kUsageTexCoord, 0},
                                Float4(-1.07141173f, 1.9629854f, 0.228495181f, 0.5f)});
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
  shadertest::CheckFlowProgram({"vertex",
                                ForStage(body, false),
                                {"vs_3_0", "vs_3_sw", "vs_2_a", "vs_2_sw"},
                                shadertest::kBoth,
                                {{"ua", ua}},
                                inputs,
                                {nura::shtok::kUsagePosition, 0},
                                want});
  shadertest::CheckFlowProgram({"pixel",
                                ForStage(body, true),
                                {"ps_3_0", "ps_3_sw"},
                                shadertest::kBoth,
                                {{"ua", ua}},
                                inputs,
                                {nura::shtok::kUsageColor, 0},
                                want});
}

// A loop bounded by an int in an integer register (register(i0)) counts
// through that register optimised; without optimisation its break on the
// uniform once stayed, reading the int as a float, and the compile failed
// with X4509. Each loop runs n passes, for n = 0, 1, 3, 5: one reads ua[i]
// (loop aL), one reads no counter (rep).
TEST(GxlCompilerMend, IntegerRegisterLimitCountsTheLoopWithoutOptimisation) {
  const struct {
    const char* name;
    const char* body;
    Float4 (*want)(const Float4& p, const std::vector<double>& ua, int n);
  } kLoops[] = {
      {"reads ua[i]",
       "int n : register(i0); float4 ua[8];\n"
       "float4 main(float4 p : TEXCOORD0) : OUT {\n"
       "  float4 r = p;\n"
       "  for (int i = 0; i < n; i++) r += ua[i];\n"
       "  return r; }\n",
       [](const Float4& p, const std::vector<double>& ua, int n) {
         Float4 r = p;
         for (int i = 0; i < n; ++i)
           for (int k = 0; k < 4; ++k) r[k] += static_cast<float>(ua[i * 4 + k]);
         return r;
       }},
      {"reads no counter",
       "int n : register(i0);\n"
       "float4 main(float4 p : TEXCOORD0) : OUT {\n"
       "  float4 r = p;\n"
       "  for (int i = 0; i < n; i++) r = r * 2 + 1;\n"
       "  return r; }\n",
       [](const Float4& p, const std::vector<double>&, int n) {
         Float4 r = p;
         for (int i = 0; i < n; ++i)
           for (int k = 0; k < 4; ++k) r[k] = r[k] * 2 + 1;
         return r;
       }},
  };
  const std::vector<double> ua = Rows(1);
  const Float4 p(0.25f, -0.5f, 1.0f, 2.0f);
  for (const auto& loop : kLoops)
    for (const char* profile : {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw", "ps_3_0", "ps_3_sw"})
      for (const DWORD flags : shadertest::kBoth) {
        const std::string what = std::string(loop.name) + " " + profile + " flags " + std::to_string(flags);
        const CompiledHlsl c = shadertest::CompileHlsl(ForStage(loop.body, profile[0] == 'p'), "main", profile, flags);
        ASSERT_EQ(c.hr, S_OK) << what << "\n" << c.log;
        for (const int n : {0, 1, 3, 5}) {
          Float4 got;
          std::string error;
          ASSERT_TRUE(RunWithInts(c, {{"ua", ua}}, {{"n", n}}, p, &got, &error)) << what << ": " << error;
          ExpectNear(got, loop.want(p, ua, n), what + " n = " + std::to_string(n) + "\n" + c.text);
        }
      }
}

// Loops over an integer register limit from other starts or by other steps
// at the profiles that count loops: the register holds (n, 0, 1), so such a
// loop cannot be counted by it. Each is refused with the binding message
// both ways, or compiles and runs the passes i = start, start + step, ...
// below n, for several n: one loop adds ua[i], one doubles r and adds 1.
TEST(GxlCompilerMend, SteppedLoopOverAnIntegerRegisterLimitRunsItsPassesOrIsRefused) {
  const struct { int start, step; } kShapes[] = {{1, 2}, {0, 2}, {1, 1}, {2, 3}};
  const std::vector<double> ua = Rows(1);
  const Float4 p(0.5f, 0.25f, -1, 2);
  for (const auto& shape : kShapes)
    for (const bool counterRead : {true, false}) {
      const std::string body =
          "int n : register(i0); float4 ua[8];\n"
          "float4 main(float4 p : TEXCOORD0) : OUT {\n"
          "  float4 r = p;\n"
          "  for (int i = " +
          std::to_string(shape.start) + "; i < n; i += " + std::to_string(shape.step) +
          ") r = " + (counterRead ? "r + ua[i]" : "r * 2 + 1") +
          ";\n"
          "  return r; }\n";
      for (const char* profile : {"vs_2_a", "vs_3_0", "ps_3_0"}) {
        bool refusedBefore = false;
        for (const DWORD flags : shadertest::kBoth) {
          const std::string what = body + profile + " flags " + std::to_string(flags);
          const CompiledHlsl c = shadertest::CompileHlsl(ForStage(body, profile[0] == 'p'), "main", profile, flags);
          if (FAILED(c.hr)) {
            EXPECT_TRUE(c.Logged("error X4509: invalid register semantic 'i0'") &&
                        c.Logged("c register binding required"))
                << what << "\n"
                << c.log;
            EXPECT_FALSE(c.Logged("internal error")) << what << "\n" << c.log;
            EXPECT_TRUE(flags == 0 || refusedBefore) << what << ": refused only without optimisation";
            refusedBefore = true;
            continue;
          }
          EXPECT_FALSE(refusedBefore) << what << ": refused only with optimisation";
          for (const int n : {0, 1, 2, 3, 4, 7}) {
            Float4 want = p;
            for (int i = shape.start; i < n; i += shape.step)
              for (int k = 0; k < 4; ++k)
                want[k] = counterRead ? want[k] + static_cast<float>(ua[i * 4 + k]) : want[k] * 2 + 1;
            Float4 got;
            std::string error;
            ASSERT_TRUE(RunWithInts(c, {{"ua", ua}}, {{"n", n}}, p, &got, &error)) << what << ": " << error;
            ExpectNear(got, want, what + " n = " + std::to_string(n) + "\n" + c.text);
          }
        }
      }
    }
}

// Nested loops both bounded by ints in integer registers: the inner loop
// counts through aL over ub[j], so ua[i] must keep the outer counter and not
// read ua[aL]. n = 3, m = 2, ua[k] = (k + 1, 10 (k + 1), -(k + 1), k / 2),
// ub[k] = ua[k] / 4: r = p + sum over i < 3, j < 2 of ua[i] * ub[j]. Every
// profile from 2.0 on that compiles it runs it; those that keep loops as
// loops two deep compile it both ways.
TEST(GxlFlowWrongCode, InnerLoopOverAnIntegerRegisterKeepsTheOuterCounter) {
  const std::string body =
      "int n : register(i0); int m : register(i1); float4 ua[8]; float4 ub[8];\n"
      "float4 main(float4 p : TEXCOORD0) : OUT {\n"
      "  float4 r = p;\n"
      "  for (int i = 0; i < n; i++) for (int j = 0; j < m; j++) r += ua[i] * ub[j];\n"
      "  return r; }\n";
  const std::vector<double> ua = Rows(1), ub = Rows(0.25);
  const Float4 p(0.5f, -1, 2, 0.25f);
  Float4 want = p;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 2; ++j)
      for (int k = 0; k < 4; ++k) want[k] += static_cast<float>(ua[i * 4 + k] * ub[j * 4 + k]);
  std::map<std::string, int> compiled;
  for (const char* profile : {"vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw", "ps_2_0", "ps_2_a", "ps_2_b",
                              "ps_2_sw", "ps_3_0", "ps_3_sw"})
    for (const DWORD flags : shadertest::kBoth) {
      const std::string what = std::string(profile) + " flags " + std::to_string(flags);
      const CompiledHlsl c = shadertest::CompileHlsl(ForStage(body, profile[0] == 'p'), "main", profile, flags);
      if (FAILED(c.hr)) {
        EXPECT_FALSE(c.Logged("internal error")) << what << "\n" << c.log;
        EXPECT_TRUE(c.Logged("error X")) << what << "\n" << c.log;
        continue;
      }
      ++compiled[profile];
      Float4 got;
      std::string error;
      ASSERT_TRUE(RunWithInts(c, {{"ua", ua}, {"ub", ub}}, {{"n", 3}, {"m", 2}}, p, &got, &error))
          << what << ": " << error;
      ExpectNear(got, want, what + "\n" + c.text);
    }
  for (const char* profile : {"vs_2_sw", "vs_3_0", "vs_3_sw"}) EXPECT_EQ(compiled[profile], 2) << profile;
}

}  // namespace

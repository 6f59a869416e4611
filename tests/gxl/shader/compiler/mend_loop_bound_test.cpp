// Programs of a few statements that the work bound (X4004) refused at the
// profiles with loops: a loop of uniform length is simulated through every
// pass it may run, and the shapes around and inside it (early exits that
// write an array, nests nothing reads, an inner bound twice the counter)
// multiplied that past the bound. Where the simulation meets the bound the
// loop is compiled from facts that cover every pass. Each program here
// compiles and computes, in the interpreter, what the same statements done
// here give; profiles without loops name the loop they cannot hold (X3511).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kBoth;
using shadertest::LaneInputs;
using shadertest::LaneOutput;

constexpr int kPosition = nura::shtok::kUsagePosition, kTexCoord = nura::shtok::kUsageTexCoord;
constexpr char kIterationLimit[] =
    "error X3511: loop does not appear to terminate in a timely manner (1024 iterations)";

Float4 Splat(float x) { return Float4(x, x, x, x); }

// A uniform loop around two loops with early exits that write a local array
// by their counters.
constexpr char kEarlyExits[] = R"(float n0;
void main(float4 itc0 : TEXCOORD0, float4 ipos : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float4 a1[4] = { float4(0.5, 0.5, 0.5, 0.5), float4(0.5, 0.5, 0.5, 0.5), float4(0.5, 0.5, 0.5, 0.5), float4(0.5, 0.5, 0.5, 0.5) };
    float4 v3 = float4(0.5, 0.5, 0.5, 0.5);
    float v6 = 0.5;
    for (int i7 = 0; i7 < n0; i7++)
    {
        for (int i8 = 4; i8 > 0 && ((0.5 < 0.0) || (ipos.z > 0.5)); i8--)
        {
            for (int i9 = 0; i9 <= 1 && (!((a1[1 - i9]).y <= n0)); i9++)
            {
                float v10 = (sqrt(abs(v3))).y;
                a1[3 - i9] = float4(0.2, 0.125, 0.9, 0.1);
                v6 = (((0.5 - (itc0.y / 0.5)) * (0.5 + ((-1.9) / ((a1[i9]).x * (a1[i9]).x + 1.0)))) + ((0.5 * (a1[i9 + 1]).w) + ((i7 * 0.5) + 0.5)));
            }
        }
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = float4(0.5, 0.5, 0.5, v6);
}
)";

float EarlyExits(float n0, float z, float y) {
  float a[4][4];
  for (auto& e : a)
    for (float& c : e) c = 0.5f;
  float v6 = 0.5f;
  for (int i7 = 0; float(i7) < n0; ++i7)
    for (int i8 = 4; i8 > 0 && z > 0.5f; --i8)
      for (int i9 = 0; i9 <= 1 && !(a[1 - i9][1] <= n0); ++i9) {
        const float set[4] = {0.2f, 0.125f, 0.9f, 0.1f};
        for (int c = 0; c < 4; ++c) a[3 - i9][c] = set[c];
        v6 = (0.5f - y / 0.5f) * (0.5f + -1.9f / (a[i9][0] * a[i9][0] + 1.0f)) +
             (0.5f * a[i9 + 1][3] + (float(i7) * 0.5f + 0.5f));
      }
  return v6;
}

// A uniform loop around a constant loop holding a data-dependent while loop
// and another constant loop, none of whose results the function returns.
constexpr char kDeadWhileNest[] = R"(float4 u1;
float n0;
float4 ua[4];
float4 main() : COLOR0
{
    float4 v1 = float4(0.5, 0.5, 0.5, 0.5);
    v1 += float4(0.5, 0.5, 0.5, 0.5);
    for (int i3 = 0; i3 < n0; i3++)
    {
        for (int i4 = 0; i4 < 4; i4++)
        {
            float w5 = 0;
            while (w5 < 4.0 && (0.5 >= (ua[2]).x))
            {
                float3 v6 = (abs((((ua[i4]).yxz >= float3(0.5, 0.5, 0.5)) ? float3(1, 1, 1) : (float3)0)) + 0.125);
                w5 += 1;
            }
            v1 = float4(0.3, -2.45, 0.5, 1.6336927);
            for (int i7 = 0; i7 < 2; i7++)
            {
                float v8 = (0.5 - ((i7 * 0.5) + ((ua[i4]).y + float(i3))));
                float3 v10 = ((float3(0.5, 0.5, 0.5) < u1.xzw) ? float3(0.5, 0.5, 0.5) : float3(0.5, 0.5, 0.5));
            }
        }
    }
    return float4(0.5, 0.5, 0.5, 0.5);
}
)";

// A uniform loop around constant loops calling a function that leaves its
// inout argument alone.
constexpr char kCallNest[] = R"(float n0;
float4 ua[4];
float f1(float3 p0, float2 p1, inout float4 q0)
{
    return (pow((abs(ua[0]) + 0.5), float4(0.9, -2.65, 0.0, 1.01))).y;
}
float3 f0(float4 p0)
{
    return float3(0.5, 0.5, 0.5);
}
void main(float4 itc3 : TEXCOORD3, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float4 v8 = float4(0.5, 0.5, 0.5, 0.5);
    for (int i9 = 0; i9 < n0; i9++)
    {
        for (int i14 = 0; i14 < INNER; i14++)
        {
            for (int i15 = 0; i15 <= 4; i15++)
            {
                f1(float3(0.5, 0.5, 0.5), float2(0.5, 0.5), v8);
                float3 v16 = f0(sin((float4(0.5, ((itc3.z >= 0.27) ? float3(0.5, 0.5, 0.5) : float3(0.5, 0.5, 0.5))) + float4(0.5, 0.5, 0.5, 0.5))));
            }
        }
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = v8;
}
)";

std::string CallNest(int inner) {
  std::string s = kCallNest;
  s.replace(s.find("INNER"), 5, std::to_string(inner));
  return s;
}

// Nested loops whose inner bound is twice the outer counter.
std::string TwiceTheCounter(bool pixel) {
  const std::string body =
      "    float4 acc = t0;\n    float4 b = u0;\n"
      "    for (int i = 0; i < n0; i++)\n    {\n"
      "        for (int j = 0; j < 2 * i; j++)\n        {\n            acc += b * 0.125;\n        }\n"
      "        b.x += 0.5;\n    }\n";
  return pixel ? "float4 u0;\nfloat n0;\nfloat4 main(float4 t0 : TEXCOORD0) : COLOR0\n{\n" + body +
                     "    return acc + b;\n}\n"
               : "float4 u0;\nfloat n0;\nvoid main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 "
                 "otc : TEXCOORD0)\n{\n" +
                     body + "    opos = acc;\n    otc = b;\n}\n";
}

// acc and b of TwiceTheCounter after its loops.
void TwiceTheCounterValues(const Float4& t0, const Float4& u0, int n0, Float4* acc, Float4* b) {
  *acc = t0;
  *b = u0;
  for (int i = 0; i < n0; ++i) {
    for (int j = 0; j < 2 * i; ++j)
      for (int c = 0; c < 4; ++c) (*acc)[c] += (*b)[c] * 0.125f;
    (*b)[0] += 0.5f;
  }
}

// Compiles at each profile and option and checks one output per run.
struct LaneRun {
  shadertest::Uniforms uniforms;
  LaneInputs inputs;
  LaneOutput output;
  Float4 expected;
};

void CheckRuns(const std::string& source, const std::vector<const char*>& profiles, const std::vector<DWORD>& flags,
               const std::vector<LaneRun>& runs) {
  for (const char* profile : profiles)
    for (const DWORD f : flags) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(f));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, f);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      for (const LaneRun& run : runs) {
        Float4 got;
        std::string error;
        ASSERT_TRUE(shadertest::RunLane(c, run.uniforms, run.inputs, run.output, &got, &error)) << error;
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(got[i], run.expected[i], 1e-5 * (1 + std::fabs(run.expected[i]))) << "[" << i << "]\n" << c.text;
      }
    }
}

TEST(GxlCompilerMend, NestWithEarlyExitsCompiles) {
  std::vector<LaneRun> runs;
  struct Case {
    float n0, z;
  };
  for (const Case k : {Case{0.25f, 1}, Case{2, 1}, Case{0.25f, 0}, Case{1.5f, 1}}) {
    const LaneInputs in = {{In(kTexCoord, 0), Float4(0, 0.1f, 0, 0)}, {In(kPosition, 0), Float4(0, 0, k.z, 1)}};
    runs.push_back({{{"n0", {k.n0}}}, in, {kTexCoord, 0}, Float4(0.5f, 0.5f, 0.5f, EarlyExits(k.n0, k.z, 0.1f))});
    runs.push_back({{{"n0", {k.n0}}}, in, {kPosition, 0}, Splat(0.5f)});
  }
  // The header's value, worked by hand.
  EXPECT_NEAR(EarlyExits(0.25f, 1, 0.1f), 0.244f, 1e-6);
  CheckRuns(kEarlyExits, {"vs_3_0", "vs_3_sw"}, {0u}, runs);
  CheckRuns(kEarlyExits, {"vs_2_a", "vs_2_sw"}, kBoth, runs);
}

TEST(GxlCompilerMend, DeadNestWithAWhileLoopCompiles) {
  const shadertest::Uniforms uniforms = {
      {"n0", {7}}, {"u1", {0.25, 0.75, 1, -1}}, {"ua", {0.5, 1, -2, 0.25, 0, 0.75, 3, 1, 0.25, 2, 0, -1, 1, 1, 1, 1}}};
  CheckRuns(kDeadWhileNest, {"ps_3_0", "ps_3_sw"}, kBoth, {{uniforms, {}, {}, Splat(0.5f)}});
}

TEST(GxlCompilerMend, NestWithCallsCompiles) {
  const shadertest::Uniforms uniforms = {{"n0", {3}},
                                         {"ua", {0.5, 1, -2, 0.25, 0, 0.75, 3, 1, 2, 2, 0, -1, 1, 1, 1, 1}}};
  const LaneInputs in = {{In(kTexCoord, 3), Float4(0.5f, 0.25f, 0.3f, 1)}};
  const std::vector<LaneRun> runs = {{uniforms, in, {kPosition, 0}, Splat(0.5f)},
                                     {uniforms, in, {kTexCoord, 0}, Splat(0.5f)}};
  CheckRuns(CallNest(5), {"vs_2_a"}, kBoth, runs);
  CheckRuns(CallNest(5), {"vs_2_sw", "vs_3_0"}, {0u}, runs);
}

// Profiles without loops of uniform length cannot hold such a loop, and say
// so, optimised or not, where the unrolling meets the bound.
TEST(GxlCompilerMend, UniformLoopsWithoutLoopsInTheProfileGiveTheLoopsMessageOptimisedToo) {
  const std::string programs[] = {CallNest(5), CallNest(4), kEarlyExits};
  for (const std::string& source : programs)
    for (const char* profile : {"vs_2_0", "vs_1_1"})
      for (const DWORD flags : kBoth) {
        SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags) + "\n" + source);
        const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
        EXPECT_EQ(c.hr, E_FAIL);
        EXPECT_TRUE(c.Logged(kIterationLimit)) << c.log;
        EXPECT_FALSE(c.Logged("X4004")) << c.log;
      }
}

TEST(GxlCompilerMend, InnerBoundTwiceTheCounterCompiles) {
  const Float4 t0(0.5f, -1, 2, 0.25f), u0(1, 0.5f, -0.5f, 2);
  std::vector<LaneRun> vertex, pixel;
  for (const int n0 : {3, 0, 1, 6}) {
    Float4 acc, b;
    TwiceTheCounterValues(t0, u0, n0, &acc, &b);
    const shadertest::Uniforms uniforms = {{"n0", {double(n0)}}, {"u0", {u0[0], u0[1], u0[2], u0[3]}}};
    const LaneInputs in = {{In(kTexCoord, 0), t0}};
    vertex.push_back({uniforms, in, {kPosition, 0}, acc});
    vertex.push_back({uniforms, in, {kTexCoord, 0}, b});
    pixel.push_back({uniforms, in, {}, Float4(acc[0] + b[0], acc[1] + b[1], acc[2] + b[2], acc[3] + b[3])});
  }
  // The header's values, worked by hand.
  const float acc3[4] = {1.875f, -0.625f, 1.625f, 1.75f}, b3[4] = {2.5f, 0.5f, -0.5f, 2};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(vertex[0].expected[c], acc3[c]);
    EXPECT_EQ(vertex[1].expected[c], b3[c]);
  }
  CheckRuns(TwiceTheCounter(false), {"vs_2_sw", "vs_3_0", "vs_3_sw"}, kBoth, vertex);
  CheckRuns(TwiceTheCounter(true), {"ps_3_0", "ps_3_sw"}, kBoth, pixel);
  // vs_2_a keeps one level of loops: the inner one, unrolled inside the
  // outer one, has no end the unrolling can find.
  for (const DWORD flags : kBoth) {
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(TwiceTheCounter(false), "main", "vs_2_a", flags);
    EXPECT_EQ(c.hr, E_FAIL) << flags;
    EXPECT_TRUE(c.Logged(kIterationLimit)) << flags << "\n" << c.log;
    EXPECT_FALSE(c.Logged("X4004")) << flags << "\n" << c.log;
  }
}

// A generated program of some thirty statements (the flow differential's
// long mode, pixel seed 16779676): three nested loops of uniform length
// whose bodies index literal matrices. Each reuse of an inner loop's kept
// simulation charges the banks of those tables again, and the budget ran
// out at ps_3_0 optimised before the lowering's own bound was met.
constexpr char kTableNest[] = R"(uniform float2 v0;
uniform bool2 v2;
uniform bool v3;
uniform float2 v4[3];
uniform int v5;
uniform int v6;
uniform float v7;
uniform float v8;
uniform int v9;
void main(float4 v1 : TEXCOORD0, out float4 o0 : COLOR0) {
  o0 = 0;
  float r = (((((-5) % 2.8125)).xxxx)[0] + (((v0)[0] ? float4x2(v1, false, v2, v3) : float4x2((-1.5625), 1.3125, (-2.0), 1.0, 3.0625, 2.125, (-3.6875), 0.1875)))._m30);
  float2 w1 = v4[2];
  for (int i1 = 0; (v5 > i1); i1++) {
    w1.y *= ((v0).x * ((float)i1));
    if ((i1 <= ((int4x3((-6), (-9), 1, 5, 2, 4, 1, 1, (-6), 0, 4, (-9)))[v6])[(v6 + v6)])) {
    } else {
      for (int i2 = 0; (v7 > i2); i2++) {
        r += (v7 * ((float)i2));
        if ((((float)(v5 ? v3 : v3)) != saturate(((float)bool4(true, true, false, false))))) {
        } else {
          bool k4 = true;
          int d4 = 0;
          do {
            d4 += 1;
            r -= (-((bool4(false, true, true, true) ? ((float4)i2) : ((float4)i2)))[(v6).x]);
            w1 -= ((float3x2(2.4375, (-0.0625), 3.4375, 2.25, (-1.5), 3.875) + rsqrt((abs(float3x2((-0.5625), (-3.5), (-2.75), 3.5, 3.8125, 0.5)) + 0.25))))[1];
          } while ((((d4 < 4) && (v8 == 0.6875)) && k4));
          r = (((+(v7).xxxx))[(-v6)] + ((float)d4));
          r += ((float)k4);
        }
      }
      r = (v8 + ((float)i1));
    }
  }
  w1.x = ((float)((int)(w1).x));
  float w6 = r;
  float w7 = ((float)((-float2x3(1.125, (-2.875), 3.125, (-3.5), (-3.5), (-2.875))))[v9]);
  o0.x = (float)r;
}
)";

// The lane's output with every uniform set where the constant table puts it
// (bool, int or float registers).
Float4 RunTableNest(const shadertest::CompiledHlsl& c, float v5, float v6, float v7, float v8, bool flags) {
  nura::shtok::Interpreter interp;
  std::string error;
  EXPECT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
  const float b = flags ? 1.0f : 0.0f;
  c.Set(interp, "v0", Float4(0.5f, 1, 0, 0));
  c.Set(interp, "v2", Float4(b, 1 - b, 0, 0));
  c.Set(interp, "v3", Float4(b, 0, 0, 0));
  c.Set(interp, "v5", Float4(v5, 0, 0, 0));
  c.Set(interp, "v6", Float4(v6, 0, 0, 0));
  c.Set(interp, "v7", Float4(v7, 0, 0, 0));
  c.Set(interp, "v8", Float4(v8, 0, 0, 0));
  c.Set(interp, "v9", Float4(1, 0, 0, 0));
  const double table[6] = {0.25, -0.5, 1.5, 0.75, -1.25, 2};
  c.SetFloats(interp, "v4", 3, 2, table);
  nura::shtok::Lane lane;
  for (const nura::shtok::Declaration& d : interp.Declarations())
    if (nura::shtok::Float4* slot = !d.output && d.usage >= 0 ? nura::shtok::DeclaredSlot(lane, d) : nullptr)
      *slot = Float4(0.25f, -0.5f, 0.75f, 1);
  EXPECT_TRUE(interp.Run(&lane, 1, &error)) << error;
  return lane.oC[0];
}

// The program compiles optimised, and computes what its unoptimised code
// (simulated in full, as before) does.
TEST(GxlCompilerMend, ShortNestReusingLiteralTablesCompiles) {
  for (const char* profile : {"ps_3_0", "ps_3_sw"}) {
    SCOPED_TRACE(profile);
    const shadertest::CompiledHlsl fast = shadertest::CompileHlsl(kTableNest, "main", profile, 0);
    const shadertest::CompiledHlsl plain = shadertest::CompileHlsl(kTableNest, "main", profile, 0x4);
    ASSERT_EQ(fast.hr, S_OK) << fast.log;
    ASSERT_EQ(plain.hr, S_OK) << plain.log;
    struct Inputs {
      float v5, v6, v7, v8;
      bool flags;
    };
    for (const Inputs in : {Inputs{2, 1, 2.5f, 0.6875f, false}, Inputs{3, 0, 1.5f, 0, true},
                            Inputs{0, 1, 3, 0.6875f, true}, Inputs{4, 0, 4, 0.6875f, false}}) {
      const Float4 a = RunTableNest(fast, in.v5, in.v6, in.v7, in.v8, in.flags);
      const Float4 b = RunTableNest(plain, in.v5, in.v6, in.v7, in.v8, in.flags);
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], 1e-4 * (1 + std::fabs(b[i]))) << in.v5 << " [" << i << "]";
    }
  }
}

// A generated program of some forty statements (the flow differential's long
// mode, vertex seed 18980): a uniform loop around one around a loop whose
// body indexes literal tables. vs_2_0 and vs_2_a keep one level of loops, so
// the inner uniform loop is unrolled inside the outer one's simulation and
// covering pass, whose facts fold little: the records the lowering holds met
// the bound there. Unrolled at the top, a uniform loop has no end the
// unrolling can find, which the profile says.
constexpr char kUnrolledInnerUniformLoop[] = R"(uniform row_major float3x4 v0;
uniform row_major int3x3 v1;
uniform float v2[4];
uniform int4 v3;
uniform bool v4;
uniform bool4 v5;
uniform int v6;
uniform float v7;
uniform int v8;
uniform int v9;
uniform float3 v10[3];
uniform float v11;
uniform int v12;
uniform int v13;
uniform float v14[2];
uniform int v15;
uniform int v16;
void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {
  pos = p;
  o0 = 0;
  float4 r = (-(v0)[((v1)[1])[1]]);
  float4 a1[3] = {(((float4x4)v2[0]))[((int)((int4)v4))], ((float4)v5), (((float4((-2.125), (-2.9375), (-0.25), 3.0625))[v6] - (float2(3.25, (-3.0)))[1]) ? float4((-2.5), 0.0625, (-0.75), (-2.6875)) : ((-float3x4((-2.8125), (-2.125), 3.4375, (-2.25), (-1.5), 1.5625, (-2.25), (-3.8125), (-3.1875), (-2.4375), 0.5625, 3.0)))[1])};
  for (int i1 = 0; (i1 < v7); i1++) {
    a1[0] *= ((((a1[2]).z + int2x4(1, 9, 9, (-4), (-8), 2, 9, (-9))))[0] * ((float)i1));
    if (((r).y != (((float3)int3(1, 8, 1)))[v8])) {
      r.z = (step((v2[1] ? 0.3125 : v7), (float2((-0.5), (-1.4375)))[1]) - ((float4(3.625, (-3.0625), (-2.0625), (-3.125))).wyyw)[2]);
    } else {
      float2 a3[3] = {float2((-1.5625), 2.875), (sqrt((abs(float4x2(2.9375, 3.25, 2.75, 1.9375, 0.375, (-3.0), (-1.625), 3.625)) + 0.25)))[v8], (((bool2(false, false))[0] ? (-float3x2(0.375, 1.0625, (-2.75), (-2.875), 3.9375, 1.0)) : (int3x2((-8), 5, 6, 8, 3, 5) % float3x2(1.375, 1.8125, 3.4375, (-2.625), 1.375, (-2.6875)))))[0]};
      for (int i3 = 0; (i3 <= v9); i3++) {
        r.z += ((((i3 + v6) ? any(int3((-2), (-7), (-3))) : all(((int3)i1))) ? ((((bool2)i3) ? (a3[1]).yx : float2(0.25, 0.125)))[(v6 - v6)] : (-(v10[2])[0])) * ((float)i3));
        if (((v7 == (((a3[1]).xyx).xyzz).y) && v4)) {
        } else {
          bool k5 = true;
          for (int i5 = 0; (((v11 < 0.1875) && (i5 < 2)) && k5); i5++) {
            r -= (float4x4(1.6875, 1.375, (-0.0625), (-1.4375), (-3.5625), (-0.625), 3.25, 0.1875, (-0.5), (-3.0), (-1.9375), 0.25, (-1.25), (-3.6875), (-0.3125), (-3.25)))[v12];
            a1[i5].xy += float2(((bool2(true, false) ? float2(0.4375, 0.625) : float2(2.4375, (-1.125))))[v13], ((v4 ? v14[(1 - i5)] : v14[i5]) * (v11 % v7)));
            float3 a7[3] = {(-(+(float4x3((-1.875), (-3.25), 4.0, (-1.4375), 0.5, (-2.6875), (-1.375), 3.8125, 2.4375, (-3.6875), 3.625, 1.25))[3])), (float3x3(float2(0.0625, (-3.9375)), ((float4)bool4(false, true, false, false)), ((bool3)float4(3.8125, 2.875, (-2.0625), 2.5))))[((int)(v7 && v4))], ldexp((-(float3(3.4375, 1.75, (-2.375)) % v10[(2 - i5)])), float3(2.875, (-2.375), (-4.0)))};
            r.x *= (a7[1]).z;
          }
          r.xyz = (a1[1]).xyw;
          float4 a8[4] = {(int4((float4x2(0.4375, (-2.5625), (-1.75), 1.1875, (-2.8125), 1.375, 3.0625, 2.6875))[2], (i1 ? ((bool2)(a1[2]).xx) : bool2(false, false))) - ((float4)((-1) ? v15 : v13))), (((int3x4((-8), (-9), 8, (-2), (-1), 4, (-1), (-8), 0, 6, (-9), 8) / (-0.4375)) - step(v0, v0)))[((bool2(true, false))[1] ? (v7 ? v6 : v9) : max(v13, v15))], (((-float3x4((-1.3125), 3.5, 3.875, 3.6875, 3.625, (-1.125), 2.5, (-1.75), (-2.1875), (-1.0), (-3.5), (-0.8125))))[1] ? a1[1] : ((float4)((r).x <= 2))), r};
          int d8 = 0;
          do {
            d8 += 1;
            r += a1[d8];
          } while (((d8 < v16) && (d8 < 1)));
        }
      }
      r.yz -= (a3[2]).yy;
    }
  }
  a1[2] += ((-(float3((-0.375), 1.25, (-0.5625)) ? (a1[1]).www : (a1[0]).wzy))).yyyy;
  float3 w10 = v10[0];
  w10 += float3(3.9375, 2.9375, (-3.6875));
  o0.xyzw = (float4)r.xyzw;
}
)";

TEST(GxlCompilerMend, InnerUniformLoopPastTheBoundAtOneLoopLevelGivesTheLoopsMessage) {
  for (const char* profile : {"vs_2_0", "vs_2_a"})
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(kUnrolledInnerUniformLoop, "main", profile, flags);
      EXPECT_EQ(c.hr, E_FAIL);
      EXPECT_TRUE(c.Logged(kIterationLimit)) << c.log;
      EXPECT_FALSE(c.Logged("X4004")) << c.log;
    }
}

}  // namespace

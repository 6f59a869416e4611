// Short loop nests that the work bound refused: uniform, constant and
// counter-dependent bounds (`n0 - i`, `2 * i`, `i * i`) nested three and four
// deep, dead nests nothing reads, calls holding loops, exit loops around
// uniform nests. Each compiles at the profiles that keep loops, optimised and
// with 0x4, and computes in the interpreter the values worked out by hand from
// its source; the profiles that must unroll its loops of uniform length name
// the iteration limit (X3511), never the work bound.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dead_loop_nests.h"
#include "flow_lane.h"
#include "tests/gxl/shader/compiled_hlsl.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kBoth;
using shadertest::LaneInputs;
using shadertest::LaneOutput;
using shadertest::Uniforms;

constexpr char kWorkBound[] = "the compile exceeded its work bound";
constexpr char kIterationLimit[] = "error X3511: loop does not appear to terminate in a timely manner";
constexpr char kSlotLimit[] = "error X5020: ";
constexpr int kColor = nura::shtok::kUsageColor, kPosition = nura::shtok::kUsagePosition,
              kTexCoord = nura::shtok::kUsageTexCoord;

const std::vector<const char*> kVertexUnrolling = {"vs_1_1", "vs_2_0", "vs_2_a"};
const std::vector<const char*> kVertexWithLoops = {"vs_2_sw", "vs_3_0", "vs_3_sw"};
const std::vector<const char*> kPixelUnrolling = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4",
                                                  "ps_2_0", "ps_2_a", "ps_2_b", "ps_2_sw"};
const std::vector<const char*> kPixelWithLoops = {"ps_3_0", "ps_3_sw"};

Float4 Splat(float x) { return Float4(x, x, x, x); }

// One set of inputs and the outputs they give.
struct Lane {
  std::string what;
  Uniforms uniforms;
  LaneInputs inputs;
  std::vector<std::pair<LaneOutput, Float4>> expected;
};

struct Nest {
  std::string source;
  std::vector<const char*> compiles;   // both ways, each lane checked
  std::vector<const char*> unrolling;  // both ways, the iteration limit named
  std::vector<Lane> lanes;
  std::vector<const char*> pastSlots = {};  // both ways, the slot limit named
};

void CheckNest(const Nest& n) {
  for (const char* profile : n.compiles)
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(n.source, "main", profile, flags);
      EXPECT_FALSE(c.Logged(kWorkBound)) << c.log;
      EXPECT_EQ(c.hr, S_OK) << c.log;
      if (c.hr != S_OK) continue;
      for (const Lane& lane : n.lanes)
        for (const auto& [output, expected] : lane.expected) {
          Float4 got;
          std::string error;
          ASSERT_TRUE(shadertest::RunLane(c, lane.uniforms, lane.inputs, output, &got, &error)) << error;
          for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(got[i], expected[i], 1e-5 * (1 + std::fabs(expected[i])))
                << lane.what << " output " << output.usage << " [" << i << "]\n"
                << c.text;
        }
    }
  for (const char* profile : n.unrolling)
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(n.source, "main", profile, flags);
      EXPECT_EQ(c.hr, E_FAIL);
      EXPECT_TRUE(c.Logged(kIterationLimit)) << c.log;
      EXPECT_FALSE(c.Logged(kWorkBound)) << c.log;
    }
  for (const char* profile : n.pastSlots)
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(n.source, "main", profile, flags);
      EXPECT_EQ(c.hr, E_FAIL);
      EXPECT_TRUE(c.Logged(kSlotLimit) && c.Logged("instruction slots exceed")) << c.log;
      EXPECT_FALSE(c.Logged(kIterationLimit)) << c.log;
      EXPECT_FALSE(c.Logged(kWorkBound)) << c.log;
    }
}

const LaneOutput kPos{kPosition, 0}, kTc0{kTexCoord, 0}, kPixel{kColor, 0};

// A 2-pass while around a constant loop holding two `j < n0 - i` nests (one
// empty), and a 4 x 4 constant nest around a `j < n0 - i` loop.
TEST(GxlCompilerMend, ConstantLoopsAroundUniformNestsCompile) {
  const char* source = R"(
float n0;
float4 ua[4];

void main(float4 itc2 : TEXCOORD2, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float w29 = 0;
    while (w29 < 2.0)
    {
        for (int i45 = 0; i45 <= 1; i45++)
        {
            for (int i52 = 0; i52 < 6; i52++)
            {
                for (int j53 = 0; j53 < n0 - i52; j53++)
                {
                }
            }
            for (int i54 = 0; i54 < 6; i54++)
            {
                for (int j55 = 0; j55 < n0 - i54 && (1.74 != (-0.92)); j55++)
                {
                    itc2 = float4(0.5, 0.5, 0.5, 0.5);
                    float2 v56 = ((0.5 > (0.5 - (ua[i45]).w)) ? normalize(floor((ua[i45 + 1]).yx)) : (float2(0.5, 0.5) - sin(itc2.yw)));
                }
            }
        }
        for (int i58 = 0; i58 < 4; i58++)
        {
            for (int i67 = 0; i67 < 4; i67++)
            {
                for (int j68 = 0; j68 < n0 - i67; j68++)
                {
                    itc2.x = log2((abs((((ua[i67]).w / (abs(length((ua[3 - i58]).wz)) + 0.25)) - (0.5 * n0))) + 1.0));
                }
            }
        }
        w29 += 1;
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = itc2;
}
)";
  const std::vector<double> ua = {0, 0, 0.6, 0.8, 0, 0, 0, 2.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
  const Float4 t2(0.1f, 0.2f, 0.3f, 0.4f);
  // The last write: i58 = 3, i67 = n0 - 1, reading ua[0].wz, whose length is 1.
  auto last = [](float w, float n0) { return std::log2(std::fabs(w / (1.0f + 0.25f) - 0.5f * n0) + 1.0f); };
  ASSERT_FLOAT_EQ(last(2.5f, 2), 1.0f);
  // vs_1_1 and vs_2_0 keep no loop whose end is uniform: the `n0 - i` loops
  // are unrolled and, n0 unknown, meet the 1,024 passes. vs_2_a keeps them,
  // one level deep, and unrolls the loops around: 2 x (2 x (6 + 6) + 4 x 4)
  // kept loops, past its 256 slots (as with every loop simulated exactly).
  CheckNest({source,
             kVertexWithLoops,
             {"vs_1_1", "vs_2_0"},
             {{"n0 = 2",
               {{"n0", {2}}, {"ua", ua}},
               {{In(kTexCoord, 2), t2}},
               {{kTc0, Float4(1, 0.5f, 0.5f, 0.5f)}, {kPos, Splat(0.5f)}}},
              {"n0 = 1",
               {{"n0", {1}}, {"ua", ua}},
               {{In(kTexCoord, 2), t2}},
               {{kTc0, Float4(last(0.8f, 1), 0.5f, 0.5f, 0.5f)}}},
              {"n0 = 0", {{"n0", {0}}, {"ua", ua}}, {{In(kTexCoord, 2), t2}}, {{kTc0, t2}, {kPos, Splat(0.5f)}}}},
             {"vs_2_a"}});
}

// A 2-pass loop with a data-dependent exit around a uniform while around
// `i < n0 / j < 2 * i`, and a call to a function holding an empty `n0 - i`
// loop.
TEST(GxlCompilerMend, ExitLoopAroundAUniformNestCompiles) {
  const char* source = R"(
float4 u0;
float n0;
float4 ua[4];

float2 f1(float p0, float p1)
{
    for (int i39 = 0; i39 < 1; i39++)
    {
        for (int j40 = 0; j40 < n0 - i39; j40++)
        {
        }
    }
    return float2(0.5, 0.5);
}

void main(float4 ipos : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    for (int j44 = 0; j44 < 2 && ((ua[j44 + 2]).z > 1.44); j44++)
    {
        float2 v45 = float2(0.5, 0.5);
        int k51 = 0;
        while (k51 < n0)
        {
            k51++;
            for (int i56 = 0; i56 < n0; i56++)
            {
                for (int j57 = 0; j57 < 2 * i56 && ((float)j44 >= 0.0); j57++)
                {
                    ipos = (((float)(u0.x <= 0.5) - (abs((j57 * 0.5)) + 0.5)) + (abs((((u0 > float4(0.5, 0.5, 0.5, 0.5)) ? float4(0.5, 0.5, 0.5, 0.5) : float4(0.5, 0.5, 0.5, 0.5)) - ((ua[2] < 0.5) ? float4(1, 1, 1, 1) : (float4)0))) + 2.0));
                }
            }
            v45 = f1(0.5, 0.5);
        }
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = ipos;
}
)";
  const Uniforms taken = {{"n0", {2}}, {"u0", {1, 0, 0, 0}}, {"ua", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0}}};
  Uniforms untaken = taken;
  untaken["ua"][10] = 0;
  const LaneInputs in = {{In(kPosition), Splat(9)}};
  // Only j44 = 0 runs; its last inner pass (i56 = 1, j57 = 1) leaves
  // 0 - (0.5 + 0.5) + (|0.5 - 0| + 2) in every component (ua[2] < 0.5 is 0 only in z,
  // and |0.5 - 1| is 0.5 too).
  CheckNest({source,
             kVertexWithLoops,
             kVertexUnrolling,
             {{"ua[2].z = 2", taken, in, {{kTc0, Splat(1.5f)}, {kPos, Splat(0.5f)}}},
              {"ua[2].z = 0", untaken, in, {{kTc0, Splat(9)}, {kPos, Splat(0.5f)}}}}});
}

// A uniform loop around a `j < n0 - i` loop with a data-dependent exit, then a
// four-deep `i < n0 / j < 2 * i / k < n0 / l < k` nest; nothing reads either.
TEST(GxlCompilerMend, DeadNestWithCounterBoundsCompiles) {
  const char* source = R"(
float3 u2;
float4 u1;
float2 u3;
float n0;

float4 main(float4 icol : COLOR0) : COLOR0
{
    float4 d8 = float4(0.5, 0.5, 0.5, 0.5);
    for (int i19 = 0; i19 < n0 + 1; i19++)
    {
        d8.w = 0.5;
        for (int j20 = 0; j20 < n0 - i19 && (u2.x >= 0.9); j20++)
        {
            float4 v21 = clamp(((sin(u1) < float4(0.5, 0.5, 0.5, 0.5)) ? (float4)((float4(0.5, 0.5, 0.5, 0.5) * u3.y) >= float4(0.5, 0.5, 0.5, 0.5)) : d8), (-0.32), 0.29);
        }
    }
    for (int i22 = 0; i22 < n0; i22++)
    {
        for (int j23 = 0; j23 < 2 * i22; j23++)
        {
            for (int i32 = 0; i32 < n0; i32++)
            {
                for (int j33 = 0; j33 < i32; j33++)
                {
                    d8.wy = 0.5;
                    d8 *= saturate(floor(icol));
                }
            }
        }
    }
    return float4(0.5, 0.5, 0.5, 0.5);
}
)";
  const LaneInputs in = {{In(kColor), Splat(0.5f)}};
  std::vector<Lane> lanes;
  for (const double n0 : {2.0, 3.0})
    lanes.push_back({"n0 = " + shadertest::Num(n0),
                     {{"n0", {n0}}, {"u2", {1, 0, 0}}, {"u1", {0.5, 0.5, 0.5, 0.5}}, {"u3", {0.5, 0.5}}},
                     in,
                     {{kPixel, Splat(0.5f)}}});
  CheckNest({source, kPixelWithLoops, kPixelUnrolling, lanes});
}

// `i < n0` around a uniform do loop around `i2 < n0 / j < i2 * i2`, writing a
// local nothing reads.
TEST(GxlCompilerMend, DeadNestWithASquareBoundCompiles) {
  const char* source = R"(
float n0;

void main(out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float2 d1 = float2(0.5, 0.5);
    float2 v18 = ((float2(0.5, 0.5) > ((d1.yyxx - float4(0.5, 0.5, 0.5, 0.5))).xw) ? float2(1, 1) : (float2)0);
    for (int i19 = 0; i19 < n0; i19++)
    {
        int k34 = 0;
        do
        {
            k34++;
            for (int i41 = 0; i41 < n0; i41++)
            {
                for (int j42 = 0; j42 < i41 * i41; j42++)
                {
                    d1 = float2(0.5, 0.5);
                }
            }
        } while (k34 < i19 + 1);
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = float4(0.5, 0.5, 0.5, 0.5);
}
)";
  std::vector<Lane> lanes;
  for (const double n0 : {2.0, 3.0})
    lanes.push_back({"n0 = " + shadertest::Num(n0), {{"n0", {n0}}}, {}, {{kPos, Splat(0.5f)}, {kTc0, Splat(0.5f)}}});
  CheckNest({source, kVertexWithLoops, kVertexUnrolling, lanes});
}

// `i < 5 / j < 4 * i` (up to 16 inner passes) around a uniform do loop that
// calls a function whose result nothing reads: vs_2_a keeps the do loop.
TEST(GxlCompilerMend, DeadNestWithACallCompiles) {
  const char* source = R"(
float s1;
float4 u1;
float n0;
float4 ua[4];

float f0(float p0, float4 p1, float4 p2)
{
    float4 v1 = float4(float2(0.5, ((0.5 >= (ua[3]).y) ? 1.0 : 0.0)), 0.9, (((((ua[2]).y >= 0.75) && (u1.w <= 0.05)) ? (0.5 * (ua[1]).z) : ((0.5 * s1) + 0.5)) / 0.5));
    return (saturate(ua[0])).y;
}

void main(float4 itc3 : TEXCOORD3, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float2 v3 = (float2(0.5, 0.5) * float2(0.5, 0.5));
    float2 d4 = float2(0.5, 0.5);
    d4 *= float2(v3.x, 0.5);
    for (int i6 = 0; i6 < 5; i6++)
    {
        for (int j7 = 0; j7 < 4 * i6; j7++)
        {
            int k8 = 0;
            do
            {
                k8++;
                v3 = (float)((float4(0.5, 0.5, 0.5, 0.5)).z <= ((0.5 >= (ua[3]).z) ? 1.0 : 0.0));
                float v9 = f0((float4(0.5, 0.5, 0.5, 0.5)).x, itc3, float4(0.5, 0.5, 0.5, 0.5));
            } while (k8 < n0 && (0.5 < 1.0));
        }
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = float4(0.5, 0.5, 0.5, 0.5);
}
)";
  std::vector<const char*> compiles = {"vs_2_a"};
  compiles.insert(compiles.end(), kVertexWithLoops.begin(), kVertexWithLoops.end());
  std::vector<Lane> lanes;
  for (const double n0 : {2.5, 0.0})
    lanes.push_back({"n0 = " + shadertest::Num(n0),
                     {{"n0", {n0}}, {"s1", {0.25}}, {"u1", {1, 0.5, 0.25, 0}}, {"ua", std::vector<double>(16, 0.5)}},
                     {{In(kTexCoord, 3), Float4(0.1f, 0.2f, 0.3f, 0.4f)}},
                     {{kPos, Splat(0.5f)}, {kTc0, Splat(0.5f)}}});
  CheckNest({source, compiles, {"vs_1_1", "vs_2_0"}, lanes});
}

// Uniform do loops, an empty `j < i + 1` loop and a `i < 3 / j < i * i /
// i2 < n0 + 1 / j2 from i2 to i2 * i2` nest writing one component: vs_2_sw
// was refused where vs_3_0, with as many temporaries, compiled it.
TEST(GxlCompilerMend, UniformDoLoopsAndASquareNestCompile) {
  const char* source = R"(
float n0;
float4 ua[4];

void main(float4 itc3 : TEXCOORD3, float4 itc2 : TEXCOORD2, float4 itc0 : TEXCOORD0, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float2 v1 = (itc0.xz * float2(0.5, 0.5));
    itc2.zyx = normalize((-float3(0.5, 0.5, 0.5)));
    float2 v2 = log2((float4(0.5, 0.5, 0.5, 0.5)).xw);
    float w3 = 0;
    do
    {
        int k10 = 0;
        do
        {
            k10++;
            float3 v11 = (float4(0.5, 0.5, 0.5, 0.5)).zwx;
            v11 = (cross(normalize((ua[2]).xyx), (((v1.x <= (-0.32)) && (0.5 >= (ua[2]).x)) ? normalize((ua[3]).zyx) : (float3(0.5, 0.5, 0.5) - v1.x))) - (-1.42));
        } while (k10 < n0);
        w3 += 1;
    } while (w3 < 1.0);
    int k14 = 0;
    while (k14 < n0)
    {
        k14++;
        float2 v16 = (((2.01 < (-1.0)) ? 0.5 : n0) * ((0.0 >= n0) ? float2(0.5, 0.5) : float2(-2.9, 0.25)));
        for (int i24 = 0; i24 < 4; i24++)
        {
            for (int j25 = 0; j25 < i24 + 1; j25++)
            {
            }
            v1 = float2(-0.08, -0.09);
        }
    }
    float4 a28[4] = { (itc3 - 0.5), float4(0.5, 0.5, 0.5, 0.5), (float4(0.5, 0.5, 0.5, 0.5) * 0.5), float4(0.5, float3(0.5, 0.5, 0.5)) };
    for (int i33 = 0; i33 < 3; i33++)
    {
        for (int j34 = 0; j34 < i33 * i33; j34++)
        {
            float v35 = ((float4(0.5, 0.5, 0.5, 0.5)).x - (j34 * 0.5));
            for (int i43 = 0; i43 < n0 + 1; i43++)
            {
                for (int j44 = i43; j44 < i43 * i43; j44++)
                {
                    v1.y = ((itc3.x <= (-0.06)) ? (ua[3 - i33]).w : itc2.w);
                }
            }
        }
    }
    opos = (((itc2 + (itc3 * 1.5)) + (itc0 * 0.75)) + (v1.xyyy * 0.75));
    otc = itc2;
}
)";
  const float r = -1 / std::sqrt(3.0f);
  const Float4 t2(r, r, r, 0.25f);
  // v1 = (-0.08, -0.09) after the while loop; with n0 = 2 the last nest
  // (i2 = 2, j2 = 2 and 3) sets v1.y = itc2.w.
  auto pos = [&](float v1y) {
    return Float4(t2[0] + 1.5f - 0.08f * 0.75f, t2[1] + v1y * 0.75f, t2[2] + v1y * 0.75f, t2[3] + v1y * 0.75f);
  };
  ASSERT_NEAR(pos(0.25f)[0], 0.86265f, 1e-5);
  ASSERT_NEAR(pos(0.25f)[1], -0.38985f, 1e-5);
  ASSERT_NEAR(pos(-0.09f)[3], 0.1825f, 1e-5);
  const LaneInputs in = {
      {In(kTexCoord, 3), Float4(1, 0, 0, 0)}, {In(kTexCoord, 2), Float4(0, 0, 0, 0.25f)}, {In(kTexCoord, 0), Splat(0)}};
  const std::vector<double> ua(16, 0.5);
  CheckNest({source,
             kVertexWithLoops,
             kVertexUnrolling,
             {{"n0 = 2", {{"n0", {2}}, {"ua", ua}}, in, {{kPos, pos(0.25f)}, {kTc0, t2}}},
              {"n0 = 1", {{"n0", {1}}, {"ua", ua}}, in, {{kPos, pos(-0.09f)}, {kTc0, t2}}}}});
}

// Seven statements: a uniform loop around a 5-pass constant loop around an
// empty `i < n0 / j < 4 * i` nest, then one live write; and the same with an
// empty constant loop reading the array after the nest (once refused as a
// loop that does not end).
TEST(GxlCompilerMend, DeadUniformNestInAConstantLoopCompiles) {
  const std::string head = R"(
float n0;
float4 ua[4];

float4 main(float4 itc1 : TEXCOORD1) : COLOR0
{
    for (int i1 = 0; i1 < n0; i1++)
    {
        for (int i2 = 0; i2 <= 4; i2++)
        {
            for (int i17 = 0; i17 < n0; i17++)
            {
                for (int j18 = 0; j18 < 4 * i17; j18++)
                {
                }
            }
)";
  const std::string tail = R"(            itc1.xzy = float3(0.5, 0.5, 0.5);
        }
    }
    return itc1;
}
)";
  const std::string reading = "            for (int k = 0; k < 0; k++) { float3 v = ua[k].zwx * 0.5; }\n";
  const Float4 t1(0.1f, 0.2f, 0.3f, 0.4f);
  const std::vector<double> ua(16, 0.25);
  const std::vector<Lane> lanes = {
      {"n0 = 2", {{"n0", {2}}, {"ua", ua}}, {{In(kTexCoord, 1), t1}}, {{kPixel, Float4(0.5f, 0.5f, 0.5f, 0.4f)}}},
      {"n0 = 0", {{"n0", {0}}, {"ua", ua}}, {{In(kTexCoord, 1), t1}}, {{kPixel, t1}}}};
  CheckNest({head + tail, kPixelWithLoops, kPixelUnrolling, lanes});
  SCOPED_TRACE("with the constant loop reading the array");
  CheckNest({head + reading + tail, kPixelWithLoops, {}, lanes});
}

// A 2-pass loop around a uniform one writing an input, then six loops deep
// (constant, float-counter, `n0 - i`, one-pass, while and empty-range loops)
// writing a local array whose values nothing after them reads; the function
// returns its input. ps_3_x keeps four levels: the while and the loop in it
// are unrolled below them, in every pass of the simulations around, from
// the same entries again and again (reused, not built again).
TEST(GxlCompilerMend, DeepNestOfFloatCountersCompiles) {
  const char* source = shadertest::kDeepFloatCounterNest;
  std::vector<Lane> lanes;
  for (const double n0 : {2.0, 5.0}) {
    const Float4 t0(0.1f, 0.2f, 0.3f, float(n0) / 10);
    lanes.push_back({"n0 = " + shadertest::Num(n0),
                     {{"n0", {n0}}},
                     {{In(kTexCoord, 0), t0}, {In(kColor, 1), Splat(0.5f)}},
                     {{kPixel, t0}}});
  }
  CheckNest({source, kPixelWithLoops, kPixelUnrolling, lanes});
}

// A float-counter loop around a constant one around a while of uniform
// length around `i8 < 2 / i9 < 1 / i10 < k7 * i9`, with a dead select. At
// vs_2_a, which keeps one loop level, the while is kept and the rest
// unrolled; its unrolling inside the outer loops' attempts runs to the
// iteration limit, and is not built there again from the same state.
// vs_1_1 and vs_2_0 keep no loop of uniform length.
TEST(GxlCompilerMend, DeadDeepNestAtOneLoopLevelCompiles) {
  const char* source = R"(
float4 u0;
float n0;
float4 ua[4];

void main(float4 ipos : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float4 v2 = float4(0.5, 0.5, 0.5, 0.5);
    float s3 = 0.0;
    for (float i5 = 0.0; i5 < 3; i5 += 1.0)
    {
        for (int i6 = 0; i6 < 4; i6++)
        {
            int k7 = 0;
            while (k7 < n0)
            {
                for (int i8 = 0; i8 < 2; i8++)
                {
                    for (int i9 = 0; i9 < 1; i9++)
                    {
                        for (int i10 = 0; i10 < k7 * i9; i10++)
                        {
                            s3 = 0.5;
                            float4 v14 = ua[i8];
                        }
                    }
                    float3 v15 = (float3)(float3(0.5, 0.5, 0.5) <= ((lerp(u0.x, 0.5, 0.5) >= 1.166414) ? float3(1.0, 0.75, 0.2) : ((float3(0.5, 0.5, 0.5) * v2.yyw) + float3(0.5, 0.5, 0.5))));
                }
                k7++;
            }
        }
    }
    for (int i16 = 0; i16 < 2; i16++)
    {
        ipos = float4(0.5, 0.5, 0.5, 0.5);
    }
    opos = ipos;
    otc = float4(0.5, 0.5, 0.5, s3);
}
)";
  // i9 is 0 in its only pass: the innermost loop never runs, s3 stays 0.
  std::vector<Lane> lanes;
  for (const double n0 : {2.0, 5.0})
    lanes.push_back({"n0 = " + shadertest::Num(n0),
                     {{"n0", {n0}}, {"u0", {0.5, 0.5, 0.5, 0.5}}, {"ua", std::vector<double>(16, 0.0)}},
                     {{In(kPosition, 0), Float4(1, 2, 3, 4)}},
                     {{kPos, Splat(0.5f)}, {kTc0, Float4(0.5f, 0.5f, 0.5f, 0)}}});
  CheckNest({source, {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"}, {"vs_1_1", "vs_2_0"}, lanes});
}

}  // namespace

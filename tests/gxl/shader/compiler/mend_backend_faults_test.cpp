// Faults of the back end: an optimised order that outgrows the registers
// where the lowered order fits them, optimised code past the constant
// registers where the unoptimised code fits them, a ps_1_1-1_3 write-mask
// merge that left a value behind in the register it overwrites, a late nrm
// that wrote its own source, and a fold that took a root of zero for an
// imaginary one. Each
// program is compiled and run in the token kit's interpreter against values
// worked out in C++ from its source, or its refusal is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "flow_lane.h"
#include "loop_bound_compile.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kTexCoord;

void ExpectNear(const Float4& got, const Float4& want, const std::string& what) {
  for (int k = 0; k < 4; ++k) {
    if (std::isinf(want[k]))
      EXPECT_EQ(got[k], want[k]) << what << " [" << k << "]";
    else
      EXPECT_NEAR(got[k], want[k], 1e-5 * (1 + std::fabs(want[k]))) << what << " [" << k << "]";
  }
}

// --- An order that fits the registers -------------------------------------------------

// Unrolled (past 255 passes a constant loop must be), the two accumulators
// share each pass's counter: the depth-first scheduler finished one chain
// before the other and held every pass's counter for the second (X4004).
std::string LongLoopSource(int passes) {
  return R"(
float4 u1;
float s1;
float n0;
float4 ua[4];

float4 main() : COLOR0
{
    float2 b = float2(0.25, 0.5);
    float s = -0.8;
    for (int i = 0; i < )" +
         std::to_string(passes) + R"(; i++)
    {
        b = b * 0.75 + saturate(float2(u1.x, n0) + (float)i * 0.01) * 0.25;
        if (s1 > ua[0].z)
        {
            b *= 0.5;
        }
        s += cos(ua[0].x * u1.w + (float)i * 0.01) * 0.0009765625;
    }
    return float4(s, s, s, s) + b.xyxy * 2.0;
}
)";
}

std::size_t Count(const std::string& log, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
  return n;
}

const shadertest::Uniforms kLongLoopUniforms = {
    {"u1", {0.3, 0, 0, 0.7}}, {"n0", {0.2}}, {"s1", {0.5}}, {"ua", {0.4, 0, 0.9, 0}}};

Float4 LongLoopValue(int passes) {
  const float u1x = 0.3f, u1w = 0.7f, n0 = 0.2f, s1 = 0.5f, ua0x = 0.4f, ua0z = 0.9f;
  auto saturate = [](float x) { return std::min(std::max(x, 0.0f), 1.0f); };
  float b[2] = {0.25f, 0.5f}, s = -0.8f;
  for (int i = 0; i < passes; ++i) {
    const float step = static_cast<float>(i) * 0.01f;
    b[0] = b[0] * 0.75f + saturate(u1x + step) * 0.25f;
    b[1] = b[1] * 0.75f + saturate(n0 + step) * 0.25f;
    if (s1 > ua0z) b[0] *= 0.5f, b[1] *= 0.5f;
    s += std::cos(ua0x * u1w + step) * 0.0009765625f;
  }
  return Float4(s + b[0] * 2, s + b[1] * 2, s + b[0] * 2, s + b[1] * 2);
}

TEST(GxlBackendFaults, OptimisedOrderPastTheRegistersTakesTheLoweredOrder) {
  // 1000 passes: the reproducer (expected 1.1000997 throughout); 300 fit
  // ps_3_0's constants optimised too (X4004 before, as 255 and up).
  const struct {
    int passes;
    const char* profile;
    DWORD flags;
  } rows[] = {
      {1000, "ps_3_sw", 0},
      {1000, "ps_2_sw", 0},
      {300, "ps_3_0", 0},
      {300, "ps_3_0", 0x4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.profile) + " passes " + std::to_string(row.passes) + " flags " +
                 std::to_string(row.flags));
    const shadertest::CompiledHlsl c =
        shadertest::CompileHlsl(LongLoopSource(row.passes), "main", row.profile, row.flags);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    Float4 got;
    std::string error;
    ASSERT_TRUE(shadertest::RunLane(c, kLongLoopUniforms, {}, {}, &got, &error)) << error;
    ExpectNear(got, LongLoopValue(row.passes), "oC0");
  }
}

// Optimised, the 1000 passes fold their counters into 1000 literals, past
// ps_3_0's 224 constant registers in any order (X4507); the unoptimised code
// computes them from one counter and fits. The compile takes that code, and
// its work counts both compiles: with too little left for the second, the
// optimised refusal stands, said once, and no work bound.
TEST(GxlBackendFaults, OptimisedCodePastALimitTakesTheUnoptimisedCode) {
  const std::string source = LongLoopSource(1000);
  const shadertest::LoopCompile optimised = shadertest::CompileLoops(source, "ps_3_0", 0);
  const shadertest::LoopCompile unoptimised = shadertest::CompileLoops(source, "ps_3_0", 0x4);
  ASSERT_EQ(optimised.c.hr, S_OK) << optimised.c.log;
  ASSERT_EQ(unoptimised.c.hr, S_OK) << unoptimised.c.log;
  EXPECT_EQ(optimised.c.code, unoptimised.c.code);
  EXPECT_EQ(optimised.c.log, unoptimised.c.log);
  Float4 got;
  std::string error;
  ASSERT_TRUE(shadertest::RunLane(optimised.c, kLongLoopUniforms, {}, {}, &got, &error)) << error;
  ExpectNear(got, LongLoopValue(1000), "oC0");

  EXPECT_GT(optimised.workSpent, unoptimised.workSpent + unoptimised.workSpent / 2);
  EXPECT_LE(optimised.workSpent, optimised.workGranted);
  // A cap on the whole compile of half the second compile's work past the first's.
  shadertest::LoopCompileOptions cut;
  cut.budget = optimised.workCharged - unoptimised.workCharged / 2;
  const shadertest::LoopCompile refused = shadertest::CompileLoops(source, "ps_3_0", 0, cut);
  EXPECT_EQ(refused.c.hr, E_FAIL);
  EXPECT_EQ(Count(refused.c.log, "error"), 1u) << refused.c.log;
  EXPECT_TRUE(refused.c.Logged("error X4507: maximum constant register index exceeded")) << refused.c.log;
  EXPECT_LE(refused.workSpent, refused.workGranted);
}

// The pixel 1.x target optimises whatever the options say: its refusal at a
// limit is not compiled again, for that compile would be the same one. A
// target that honours 0x4 makes the second compile.
TEST(GxlBackendFaults, OnlyATargetThatCompilesWithout0x4MakesTheSecondCompile) {
  std::string chain = "float4 k[4];\nfloat4 main(float4 a : COLOR0) : COLOR {\n  float4 r = a;\n";
  for (int i = 0; i < 80; ++i) chain += "  r = r * k[" + std::to_string(i % 4) + "] + a;\n";
  chain += "  return r;\n}\n";
  for (const char* profile : {"ps_1_1", "ps_2_0"}) {
    SCOPED_TRACE(profile);
    const shadertest::LoopCompile optimised = shadertest::CompileLoops(chain, profile, 0);
    const shadertest::LoopCompile unoptimised = shadertest::CompileLoops(chain, profile, 0x4);
    EXPECT_TRUE(optimised.c.Logged("error X5020")) << optimised.c.log;
    EXPECT_TRUE(unoptimised.c.Logged("error X5020")) << unoptimised.c.log;
    EXPECT_EQ(optimised.secondCompiles, profile[3] == '1' ? 0u : 1u);
    EXPECT_EQ(unoptimised.secondCompiles, 0u);
  }
}

// n values of frac() each read again after their sum, beside the sum: with
// twelve temporaries n = 11 fits, n = 12 fits no order and is refused once.
std::string HeldValuesSource(int n) {
  std::string text = "float4 k[" + std::to_string(n) + "];\n\nfloat4 main(";
  for (int i = 0; i < n; ++i)
    text += (i ? ", " : "") + std::string("float4 t") + std::to_string(i) + " : TEXCOORD" + std::to_string(i);
  text += ") : POSITION\n{\n";
  std::string sum = "0", weighted = "0";
  for (int i = 0; i < n; ++i) {
    const std::string a = "a" + std::to_string(i);
    text += "    float4 " + a + " = frac(t" + std::to_string(i) + " * k[" + std::to_string(i) + "]);\n";
    sum += " + " + a;
    weighted += " + " + a + " * s";
  }
  return text + "    float4 s = " + sum + ";\n    return " + weighted + ";\n}\n";
}

TEST(GxlBackendFaults, ValuesThatFitNoOrderAreRefusedOnce) {
  for (const DWORD flags : shadertest::kBoth) {
    SCOPED_TRACE("flags " + std::to_string(flags));
    EXPECT_EQ(shadertest::CompileHlsl(HeldValuesSource(11), "main", "vs_2_0", flags).hr, S_OK);
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(HeldValuesSource(12), "main", "vs_2_0", flags);
    EXPECT_EQ(c.hr, E_FAIL);
    EXPECT_EQ(Count(c.log, "error X4004"), 1u) << c.log;
  }
}

// --- ps_1_1-1_3 write masks ----------------------------------------------------------

// The product writes x and y; z comes later and merges with x by an lrp that
// writes the colour half of its register; x and y are read together after
// it, so y must move into the lrp's register with x (else: X4823). Colour
// inputs lie in 0 to 1 here, so the selection always takes the product.
const char kMergedColour[] = R"(
float4 u1;
float4 main(float4 icol : COLOR0, float4 c1 : COLOR1) : COLOR0
{
    icol *= (saturate(0.25 - c1.w) < 0.5) ? ((icol.yyyy + c1.xxyz) * 2.0) : icol;
    float3 v1 = u1.xyw - dot(icol.zwx, u1.wzx);
    return lerp(icol, v1.zzxy, 0.5);
}
)";

Float4 MergedColourValue(const Float4& icol0, const Float4& c1, const Float4& u1) {
  double icol[4], pick[4];
  const int from[4] = {0, 0, 1, 2};
  const double t = std::min(std::max(0.25 - c1[3], 0.0), 1.0);
  for (int i = 0; i < 4; ++i) pick[i] = t < 0.5 ? (double{icol0[1]} + c1[from[i]]) * 2.0 : icol0[i];
  for (int i = 0; i < 4; ++i) icol[i] = icol0[i] * pick[i];
  const double d = icol[2] * u1[3] + icol[3] * u1[2] + icol[0] * u1[0];
  const double v1[3] = {u1[0] - d, u1[1] - d, u1[3] - d};
  const double b[4] = {v1[2], v1[2], v1[0], v1[1]};
  Float4 out;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<float>(icol[i] + (b[i] - icol[i]) * 0.5);
  return out;
}

TEST(GxlBackendFaults, PartialColourWritesMergeWhatIsReadWithThem) {
  const Float4 u1(0.3f, 0.6f, 0.2f, 0.9f);
  const struct {
    Float4 icol, c1;
  } rows[] = {
      {Float4(0.2f, 0.1f, 0.3f, 0.4f), Float4(0.1f, 0.2f, 0.15f, 0.05f)},
      {Float4(0.5f, 0.05f, 0.25f, 0.125f), Float4(0.3f, 0.1f, 0.2f, 0.9f)},
  };
  for (const char* profile : {"ps_1_1", "ps_1_2", "ps_1_3"}) {
    SCOPED_TRACE(profile);
    // The merged program needs more than the eight arithmetic slots.
    const shadertest::CompiledHlsl refused = shadertest::CompileHlsl(kMergedColour, "main", profile, 0);
    EXPECT_EQ(refused.hr, E_FAIL);
    EXPECT_TRUE(refused.Logged("error X5020")) << refused.log;
    EXPECT_FALSE(refused.Logged("internal error")) << refused.log;
    // Unvalidated (option 0x2), the code it would be computes the source.
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(kMergedColour, "main", profile, 0x2);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    for (const auto& row : rows) {
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
      ASSERT_TRUE(shadertest::PlaceConstants(c.table.Get(), {{"u1", {u1[0], u1[1], u1[2], u1[3]}}}, interp, &error))
          << error;
      nura::shtok::Lane lane;
      lane.v[0] = row.icol;
      lane.v[1] = row.c1;
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      ExpectNear(lane.oC[0], MergedColourValue(row.icol, row.c1, u1), "colour\n" + c.text);
    }
  }
}

// The reproducer: the same merge, with more literals than the eight
// constant registers hold.
TEST(GxlBackendFaults, PartialColourWritesPastTheConstantsGiveTheLimit) {
  const char source[] = R"(
float4 u0;
float4 u1;

float4 main(float4 icol : COLOR0, float4 itc1 : TEXCOORD1, float4 icol1 : COLOR1) : COLOR0
{
    float3 v1 = u1.xyw;
    icol *= ((saturate((0.25 - icol1.w)) < 0.5) ? ((icol.yyyy + itc1.xxyz) * 2.0) : icol);
    v1 -= (((float3(0.0, 0.3, 0.8) * 2.0) * ((float3)(dot(icol.zwx, u1.wzx)))) - lerp(min(icol.wzy, float3(0.2, 0.6, 0.5)), saturate(u0.wzx), (float3(0.2, 0.5, 1.0) * float3(0.3, 0.3, 1.0))));
    return lerp(icol, v1.zzxy, 0.5);
}
)";
  for (const char* profile : {"ps_1_1", "ps_1_2", "ps_1_3"})
    for (const DWORD flags : shadertest::kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
      EXPECT_EQ(c.hr, E_FAIL);
      EXPECT_TRUE(c.Logged("error X4507: program too complex: exceeded available constant registers.")) << c.log;
      EXPECT_FALSE(c.Logged("internal error")) << c.log;
    }
}

// --- nrm --------------------------------------------------------------------------------

// vs_2_0 and vs_2_a make nrm of a dp3, rsq and mul after registers are
// assigned; this mul wrote the register of the vector it scales.
const char kNormalizeInLoops[] = R"(
float3 f0(float2 p0, out float4 q0)
{
    q0 = float4(0.5, 0.5, 0.5, 0.5);
    return float3(0.5, 0.5, 0.5);
}

void main(float4 ipos : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float4 v10 = float4(0.25, 0.7, 0.3, 0.3);
    for (int i11 = 3; i11 >= 1; i11--)
    {
        f0(float2(0.5, 0.5), v10);
        for (int i14 = 0; i14 < 2; i14++)
        {
            v10 = ((abs(float4(v10.wwx, 0.5)) + 2.0) - float4(normalize((ipos.yxy + float3(0.25, 1.37, -2.0))), 0.5));
        }
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = v10;
}
)";

Float4 NormalizeInLoopsValue(const Float4& ipos) {
  const double x[3] = {ipos[1] + 0.25, ipos[0] + 1.37, ipos[1] - 2.0};
  const double length = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
  const double n[4] = {x[0] / length, x[1] / length, x[2] / length, 0.5};
  double v[4] = {};
  for (int outer = 0; outer < 3; ++outer) {
    std::fill(v, v + 4, 0.5);
    for (int inner = 0; inner < 2; ++inner) {
      const double picked[4] = {v[3], v[3], v[0], 0.5};
      for (int k = 0; k < 4; ++k) v[k] = std::fabs(picked[k]) + 2.0 - n[k];
    }
  }
  return Float4(static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]), static_cast<float>(v[3]));
}

TEST(GxlBackendFaults, NormalizeNeverWritesItsSource) {
  const Float4 positions[] = {Float4(0, 0, 0, 1), Float4(0.5f, -0.25f, 1, 1)};
  for (const char* profile : {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"})
    for (const DWORD flags : shadertest::kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(kNormalizeInLoops, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      for (const Float4& ipos : positions) {
        const shadertest::LaneInputs inputs = {{In(nura::shtok::kUsagePosition), ipos}};
        Float4 otc, opos;
        std::string error;
        ASSERT_TRUE(shadertest::RunLane(c, {}, inputs, {kTexCoord, 0}, &otc, &error)) << error << "\n" << c.text;
        ASSERT_TRUE(shadertest::RunLane(c, {}, inputs, {nura::shtok::kUsagePosition, 0}, &opos, &error)) << error;
        ExpectNear(otc, NormalizeInLoopsValue(ipos), "otc\n" + c.text);
        ExpectNear(opos, Float4(0.5f, 0.5f, 0.5f, 0.5f), "opos");
      }
    }
}

// --- Roots and logarithms of zero ---------------------------------------------------------

constexpr float kInf = std::numeric_limits<float>::infinity();

// Each body reads t (TEXCOORD2) and yields r. With t = (1, 0, 0, 5): v1 =
// (5, 1) and v2 = (0, 0, 4), two components folded to 0 in an instruction
// that does not fold whole, so they keep the facts "0"; z is -0.0, a literal.
const struct {
  const char* name;
  const char* body;
  Float4 value;
} kZeroRoots[] = {
    {"sqrt of abs", "float4 r = float4(0.5, sqrt(abs(v2)));", Float4(0.5f, 0, 0, 2)},
    {"rsqrt of abs", "float4 r = float4(0.5, rsqrt(abs(v2)));", Float4(0.5f, kInf, kInf, 0.5f)},
    {"log2 and pow of abs", "float4 r = float4(log2(abs(v2.xz)), pow(abs(v2.yz), 1.5));", Float4(-FLT_MAX, 2, 0, 8)},
    {"roots of -0.0", "float4 r = float4(rsqrt(abs(z)), rsqrt(z), sqrt(z), 1.0 / rsqrt(z));", Float4(kInf, kInf, 0, 0)},
};

std::string ZeroRootSource(const char* body, bool pixel) {
  const std::string head = "    float2 v1 = t.wx;\n    float3 v2 = v1.yxx - v1.yxy;\n    float z = -(t.y - t.y);\n    ";
  if (pixel) return "float4 main(float4 t : TEXCOORD2) : COLOR0\n{\n" + head + body + "\n    return r;\n}\n";
  return "void main(float4 t : TEXCOORD2, out float4 opos : POSITION, out float4 otc : TEXCOORD0)\n{\n" + head + body +
         "\n    opos = r;\n    otc = float4(0.5, 0.5, 0.5, 0.5);\n}\n";
}

TEST(GxlBackendFaults, RootsOfZeroAreReal) {
  const shadertest::LaneInputs inputs = {{In(kTexCoord, 2), Float4(1, 0, 0, 5)}};
  for (const auto& program : kZeroRoots)
    for (const char* profile : {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw", "ps_2_0", "ps_2_a",
                                "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"})
      for (const DWORD flags : shadertest::kBoth) {
        SCOPED_TRACE(std::string(program.name) + " " + profile + " flags " + std::to_string(flags));
        const bool pixel = profile[0] == 'p';
        const shadertest::CompiledHlsl c =
            shadertest::CompileHlsl(ZeroRootSource(program.body, pixel), "main", profile, flags);
        ASSERT_EQ(c.hr, S_OK) << c.log;
        Float4 got;
        std::string error;
        const shadertest::LaneOutput out = {pixel ? nura::shtok::kUsageColor : nura::shtok::kUsagePosition, 0};
        ASSERT_TRUE(shadertest::RunLane(c, {}, inputs, out, &got, &error)) << error;
        ExpectNear(got, program.value, c.text);
      }
}

}  // namespace

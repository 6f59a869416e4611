#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

#include "tests/support/shader/goldens.h"
#include "tests/support/shader/interp.h"

namespace nura::shtok {
namespace {

const char* GoldenTokens(const char* name) {
  const char* tokens = GoldenByName(name);
  if (!*tokens) ADD_FAILURE() << name;
  return tokens;
}

void Load(Interpreter& interp, const char* hex) {
  const std::vector<std::uint32_t> words = Tokens(hex);
  std::string error;
  ASSERT_TRUE(interp.Load(words.data(), words.size(), &error)) << error;
}

void RunLanes(Interpreter& interp, Lane* lanes, int count) {
  std::string error;
  ASSERT_TRUE(interp.Run(lanes, count, &error)) << error;
}

void ExpectNear(const Float4& got, const Float4& want, float tolerance, const std::string& what) {
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[c], want[c], tolerance) << what << " component " << c;
}

TEST(ShTokInterp, LoopSumsConstantsIndexedByAL) {
  Interpreter interp;
  // defi i0, 4, 0, 1, 0; mov r0, c20; loop aL, i0; add r0, r0, c[aL]; endloop; mov oPos, r0
  Load(interp,
       "FFFE0200 05000030 F00F0000 00000004 00000000 00000001 00000000 02000001 800F0000 A0E40014 "
       "0200001B F0E40800 F0E40000 04000002 800F0000 80E40000 A0E42000 F0E40800 0000001D "
       "02000001 C00F0000 80E40000 0000FFFF");
  for (int k = 0; k < 6; ++k) interp.SetFloat(k, Float4(k + 1.0f, 10.0f * (k + 1), -1, 0.5f));
  Lane lane;
  RunLanes(interp, &lane, 1);
  ExpectNear(lane.oPos, Float4(10, 100, -4, 2), 0, "sum of c0..c3");
}

TEST(ShTokInterp, RepBreaksOnComparison) {
  Interpreter interp;
  // defi i0, 10, 0, 0, 0; mov r0, c20; rep i0; add r0, r0, c0; break_ge r0.x, c1.x; endrep; mov oPos, r0
  Load(interp,
       "FFFE0201 05000030 F00F0000 0000000A 00000000 00000000 00000000 02000001 800F0000 A0E40014 "
       "01000026 F0E40000 03000002 800F0000 80E40000 A0E40000 0203002D 80000000 A0000001 00000027 "
       "02000001 C00F0000 80E40000 0000FFFF");
  interp.SetFloat(0, Float4(1, 2, 0, 0));
  for (const auto& [limit, expected] : {std::pair{3.5f, 4.0f}, {1.0f, 1.0f}, {100.0f, 10.0f}}) {
    interp.SetFloat(1, Float4(limit, 0, 0, 0));
    Lane lane;
    RunLanes(interp, &lane, 1);
    EXPECT_EQ(lane.oPos[0], expected) << "limit " << limit;
    EXPECT_EQ(lane.oPos[1], 2 * expected);
  }
}

TEST(ShTokInterp, PredicatedMoveFollowsSetp) {
  Interpreter interp;
  Load(interp, GoldenTokens("vs30_loop_predicate"));
  interp.SetFloat(0, Float4(1, 2, 3, 4));
  for (const float sign : {1.0f, -1.0f}) {
    for (int k = 1; k <= 4; ++k) interp.SetFloat(k, Float4(sign * k, 1, 1, 1));
    interp.SetFloat(5, Float4(1000, 1000, 1000, 1000));  // one past the loop: never read
    Lane lane;
    RunLanes(interp, &lane, 1);
    // r0 = c0 + c1..c4; setp_gt p0.x, r0.x, c0.x; (p0.x) mov r0, c0
    const Float4 want = sign > 0 ? Float4(1, 2, 3, 4) : Float4(1 - 10, 6, 7, 8);
    ExpectNear(lane.o[0], want, 0, sign > 0 ? "predicate true" : "predicate false");
  }
}

TEST(ShTokInterp, AddressRegisterIndexesConstants) {
  struct Case {
    float x;
    int a0;
  } cases[] = {{1.2f, 1}, {0.7f, 1}, {-0.6f, -1}, {2.9f, 3}, {-1.4f, -1}};
  for (const char* golden : {"vs20_mova_relative", "vs11_relative"}) {
    Interpreter interp;
    Load(interp, GoldenTokens(golden));
    for (int k = 0; k < 8; ++k) interp.SetFloat(k, Float4(k, 10.0f * k, 0, 1));
    for (const Case& c : cases) {
      Lane lane;
      lane.v[0] = Float4(c.x, 0.5f, 0.25f, 1);
      RunLanes(interp, &lane, 1);
      EXPECT_EQ(lane.a0[0], c.a0) << golden << " " << c.x;
      const float k = static_cast<float>(c.a0 + 2);
      // vs_2_0 subtracts v0 afterwards (sub as add with a negated source).
      const Float4 want = std::string(golden) == "vs11_relative" ? Float4(k, 10 * k, 0, 1)
                                                                : Float4(k - c.x, 10 * k - 0.5f, -0.25f, 0);
      ExpectNear(lane.oPos, want, 1e-6f, golden);
    }
  }
}

// The scalar instructions at their special inputs: rcp(0) and rsq(0) are
// +infinity, so rcp(rsq(0)) (a compiled sqrt) is 0; rsq and log take |x|;
// log(0) is -FLT_MAX.
TEST(ShTokInterp, ScalarInstructionsAtTheirSpecialInputs) {
  Interpreter interp;
  // rcp r0.x, c0.x; rsq r0.y, c0.x; rsq r1.x, c0.x; rcp r0.z, r1.x; log r0.w, c0.x; mov oPos, r0
  Load(interp,
       "FFFE0200 02000006 80010000 A0000000 02000007 80020000 A0000000 02000007 80010001 A0000000 "
       "02000006 80040000 80000001 0200000F 80080000 A0000000 02000001 C00F0000 80E40000 0000FFFF");
  const float inf = INFINITY;
  struct Case {
    float x;
    Float4 want;  // 1/x, 1/sqrt|x|, sqrt|x|, log2|x|
  } cases[] = {{0, {inf, inf, 0, -FLT_MAX}}, {4, {0.25f, 0.5f, 2, 2}}, {-4, {-0.25f, 0.5f, 2, 2}}, {1, {1, 1, 1, 0}}};
  for (const Case& c : cases) {
    interp.SetFloat(0, Float4(c.x, 0, 0, 0));
    Lane lane;
    RunLanes(interp, &lane, 1);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(lane.oPos[k], c.want[k]) << "x = " << c.x << " component " << k;
  }
}

TEST(ShTokInterp, M4x4IsAMatrixProduct) {
  Interpreter interp;
  Load(interp, GoldenTokens("vs11_matrix"));
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-4, 4);
  double m[4][4];
  for (int row = 0; row < 4; ++row) {
    Float4 r;
    for (int c = 0; c < 4; ++c) r[c] = static_cast<float>(m[row][c] = value(rng));
    interp.SetFloat(row, r);
  }
  interp.SetFloat(4, Float4(0.25f, 0.5f, 0.75f, 1));
  Lane lane;
  lane.v[0] = Float4(value(rng), value(rng), value(rng), value(rng));
  RunLanes(interp, &lane, 1);
  for (int row = 0; row < 4; ++row) {
    double dot = 0;
    for (int c = 0; c < 4; ++c) dot += m[row][c] * lane.v[0][c];
    EXPECT_NEAR(lane.oPos[row], dot, 1e-4) << "row " << row;
  }
  ExpectNear(lane.oD[0], Float4(0.25f, 0.5f, 0.75f, 1), 0, "oD0");
}

TEST(ShTokInterp, LitDstSinCosAgainstLibm) {
  Interpreter interp;
  Load(interp, GoldenTokens("vs20_lit_dst_sincos"));
  struct Case {
    Float4 light;  // N.L, N.H, -, power
    float angle;
  } cases[] = {{{0.5f, 0.8f, 9, 16}, 0.3f},
               {{0.9f, 0.25f, 0, 300}, -2.5f},
               {{-0.2f, 0.7f, 0, 4}, 3.1f},
               {{0.4f, -0.1f, 0, 4}, -3.1f},
               {{1, 0.5f, 0, -200}, 0}};
  for (const Case& c : cases) {
    Lane lane;
    lane.v[0] = c.light;
    lane.v[1] = Float4(9, 3, 9, 7);        // (., d2, d2, .)
    lane.v[2] = Float4(5, 1 / 3.0f, 2, 0.25f);  // (., 1/d, ., 1/d)
    lane.v[3] = Float4(c.angle, 0, 0, 0);
    RunLanes(interp, &lane, 1);
    const double power = std::fmax(-127.9961, std::fmin(127.9961, c.light[3]));
    const double spec = c.light[0] > 0 && c.light[1] > 0 ? std::pow(static_cast<double>(c.light[1]), power) : 0;
    EXPECT_EQ(lane.oPos[0], 1);
    EXPECT_FLOAT_EQ(lane.oPos[1], c.light[0] > 0 ? c.light[0] : 0);
    EXPECT_NEAR(lane.oPos[2], spec, 1e-6 * (1 + spec));
    EXPECT_EQ(lane.oPos[3], 1);
    ExpectNear(lane.o[0], Float4(1, 1, 9, 0.25f), 1e-6f, "dst");
    EXPECT_NEAR(lane.o[1][0], std::cos(c.angle), 1e-6);
    EXPECT_NEAR(lane.o[1][1], std::sin(c.angle), 1e-6);
  }
}

TEST(ShTokInterp, TexldSamplesThroughTheCallbackWithQuadGradients) {
  Interpreter interp;
  Load(interp, GoldenTokens("ps20_texld"));
  std::vector<SampleRequest> requests;
  interp.SetSampler([&](const SampleRequest& r) {
    requests.push_back(r);
    return Float4(r.coord[0], r.coord[1], 0, 1);
  });
  Lane quad[4];
  for (int l = 0; l < 4; ++l) quad[l].t[0] = Float4(0.25f + 0.125f * (l & 1), 0.5f + 0.0625f * (l >> 1), 0, 1);
  RunLanes(interp, quad, 4);
  ASSERT_EQ(requests.size(), 4u);
  for (int l = 0; l < 4; ++l) {
    const SampleRequest& r = requests[l];
    EXPECT_EQ(r.lane, l);
    EXPECT_EQ(r.sampler, 0);
    EXPECT_EQ(r.textureType, 2);
    EXPECT_EQ(r.kind, SampleKind::kImplicit);
    ExpectNear(r.ddx, Float4(0.125f, 0, 0, 0), 0, "ddx");
    ExpectNear(r.ddy, Float4(0, 0.0625f, 0, 0), 0, "ddy");
    // mul_sat by (1, 0, 0.5, -1)
    ExpectNear(quad[l].oC[0], Float4(quad[l].t[0][0], 0, 0, 0), 0, "oC0");
  }
}

TEST(ShTokInterp, ProjectedBiasedLevelAndGradientLoads) {
  Interpreter interp;
  Load(interp, GoldenTokens("ps30_texture_loads"));
  std::vector<SampleRequest> requests;
  interp.SetSampler([&](const SampleRequest& r) {
    requests.push_back(r);
    return Float4(r.coord[0], r.coord[1], r.coord[2], r.lod);
  });
  Lane lane;
  lane.v[0] = Float4(2, 4, 6, 2);
  lane.v[1] = Float4(0.5f, 0.25f, 0, 0);
  RunLanes(interp, &lane, 1);
  ASSERT_EQ(requests.size(), 4u);
  const SampleKind kinds[4] = {SampleKind::kProjected, SampleKind::kBias, SampleKind::kLod, SampleKind::kGradient};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(requests[i].kind, kinds[i]);
    EXPECT_EQ(requests[i].sampler, 2);
    EXPECT_EQ(requests[i].textureType, 4);
  }
  ExpectNear(lane.oC[0], Float4(1, 2, 3, 0), 0, "texldp divides by w");
  ExpectNear(lane.oC[1], Float4(2, 4, 6, 2), 0, "texldb takes its bias from w");
  ExpectNear(lane.oC[2], Float4(4, 2, 6, 2), 0, "texldl: level from w, sampler swizzle .yxzw");
  ExpectNear(requests[3].ddx, Float4(0.5f, 0.25f, 0, 0), 0, "texldd ddx");
  ExpectNear(requests[3].ddy, Float4(-0.5f, -0.25f, 0, 0), 0, "texldd ddy");
}

TEST(ShTokInterp, DsxOfALinearCoordinateIsItsStep) {
  Interpreter interp;
  // dcl_texcoord v0; dsx r0, v0; dsy r1, v0; mov oC0, r0; mov oC1, r1
  Load(interp,
       "FFFF0300 0200001F 80000005 900F0000 0200005B 800F0000 90E40000 0200005C 800F0001 90E40000 "
       "02000001 800F0800 80E40000 02000001 800F0801 80E40001 0000FFFF");
  Lane quad[4];
  for (int l = 0; l < 4; ++l) {
    const float x = static_cast<float>(l & 1), y = static_cast<float>(l >> 1);
    quad[l].v[0] = Float4(3 + 0.5f * x + 0.25f * y, 7 * y, 2, -x);
  }
  RunLanes(interp, quad, 4);
  for (int l = 0; l < 4; ++l) {
    ExpectNear(quad[l].oC[0], Float4(0.5f, 0, 0, -1), 0, "dsx");
    ExpectNear(quad[l].oC[1], Float4(0.25f, 7, 0, 0), 0, "dsy");
  }
}

TEST(ShTokInterp, TexkillMarksThePixel) {
  Interpreter interp;
  // dcl t0; texkill t0; mov oC0, c0
  Load(interp, "FFFF0200 0200001F 80000000 B00F0000 01000041 B00F0000 02000001 800F0800 A0E40000 0000FFFF");
  const Float4 coords[4] = {{0.1f, 0.2f, 0.3f, -1}, {-0.1f, 0.2f, 0.3f, 1}, {0.1f, -0.2f, 0, 1}, {0, 0, -0.3f, 1}};
  Lane quad[4];
  for (int l = 0; l < 4; ++l) quad[l].t[0] = coords[l];
  RunLanes(interp, quad, 4);
  EXPECT_FALSE(quad[0].killed);  // w does not count
  for (int l = 1; l < 4; ++l) EXPECT_TRUE(quad[l].killed) << l;
}

TEST(ShTokInterp, IfElseAndConditionalCalls) {
  Interpreter interp;
  // if b0; mov r0, c0; else; mov r0, c1; endif; callnz l0, b1; mov oPos, r0; ret
  // label l0; add r0, r0, c2; ret
  Load(interp,
       "FFFE0200 01000028 E0E40800 02000001 800F0000 A0E40000 0000002A 02000001 800F0000 A0E40001 "
       "0000002B 0200001A A0E41000 E0E40801 02000001 C00F0000 80E40000 0000001C 0100001E A0E41000 "
       "03000002 800F0000 80E40000 A0E40002 0000001C 0000FFFF");
  interp.SetFloat(0, Float4(1, 1, 1, 1));
  interp.SetFloat(1, Float4(2, 2, 2, 2));
  interp.SetFloat(2, Float4(10, 10, 10, 10));
  for (int bits = 0; bits < 4; ++bits) {
    interp.SetBool(0, bits & 1);
    interp.SetBool(1, bits & 2);
    Lane lane;
    RunLanes(interp, &lane, 1);
    EXPECT_EQ(lane.oPos[0], ((bits & 1) ? 1 : 2) + ((bits & 2) ? 10 : 0)) << bits;
  }
}

TEST(ShTokInterp, RunawayProgramsEndWithAnError) {
  struct Case {
    const char* tokens;
    const char* error;
  } cases[] = {
      // Three nested rep i0 with i0.x = 255.
      {"FFFE0201 05000030 F00F0000 000000FF 00000000 00000000 00000000 01000026 F0E40000 01000026 F0E40000 "
       "01000026 F0E40000 03000002 800F0000 80E40000 A0E40000 00000027 00000027 00000027 0000FFFF",
       "budget"},
      // label l0 calls itself.
      {"FFFE0200 01000019 A0E41000 0000001C 0100001E A0E41000 01000019 A0E41000 0000001C 0000FFFF", "nested"},
  };
  for (const Case& c : cases) {
    Interpreter interp;
    Load(interp, c.tokens);
    Lane lane;
    std::string error;
    EXPECT_FALSE(interp.Run(&lane, 1, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(ShTokInterp, RefusesWhatItCannotRun) {
  struct Case {
    const char* tokens;
    const char* error;
  } cases[] = {
      {"FFFF0101 00000032 0000FFFF", "unknown opcode"},
      {"FFFE0200 0000002B 0000FFFF", "unbalanced"},
      {"FFFE0200 0200001B F0E40800 F0E40000 0000FFFF", "not closed"},
      {"FFFE0200 02000001 800F0000 A0E40000", "without an end token"},
  };
  for (const Case& c : cases) {
    Interpreter interp;
    const std::vector<std::uint32_t> words = Tokens(c.tokens);
    std::string error;
    EXPECT_FALSE(interp.Load(words.data(), words.size(), &error)) << c.tokens;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace nura::shtok

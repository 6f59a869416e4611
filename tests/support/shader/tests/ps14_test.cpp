// cnd in both forms, ps_1_4's phases and texture instructions, and strict
// mode, against references written from the format's formulas.
#include <cmath>
#include <functional>
#include <random>

#include "d3d9/shader_validator.h"
#include "tests/support/shader/tests/ps1_support.h"

namespace nura::shtok {
namespace {

using ps1test::Near;
using ps1test::Texel;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool Accepted(const std::string& hex, std::string* why) {
  platform::shader::StreamChecker checker;
  checker.Finish(Tokens(hex.c_str()));
  for (const auto& m : checker.Messages()) *why += " [" + std::to_string(m.number) + " " + m.text + "]";
  return checker.Messages().empty();
}

struct RunResult {
  Lane lane;
  std::string error;
};

RunResult RunOne(const std::string& hex, const Lane& in, bool strict, const Float4* constants = nullptr) {
  Interpreter interp;
  RunResult result;
  EXPECT_TRUE(ps1test::LoadHex(interp, hex)) << hex;
  interp.SetSampler(ps1test::TexelSampler());
  interp.SetStrict(strict);
  interp.SetBumpEnv(2, {0.5f, -0.25f, 0.125f, 0.75f, 0, 0});
  for (int k = 0; constants && k < 3; ++k) interp.SetFloat(k, constants[k]);
  result.lane = in;
  EXPECT_TRUE(interp.Run(&result.lane, 1, &result.error)) << result.error;
  return result;
}

TEST(ShTokPs1, CndChoosesByR0AlphaBefore14AndPerComponentIn14) {
  const Float4 c1(0.1f, 0.2f, 0.3f, 0.4f), c2(-0.5f, -0.6f, -0.7f, -0.8f);
  const Float4 conditions[] = {{0.9f, 0.1f, 0.5f, 0.75f}, {0.9f, 0.6f, 0.7f, 0.5f}, {0.2f, 1, 0.51f, 0.25f}};
  for (const Float4& c0 : conditions) {
    const Float4 constants[3] = {c0, c1, c2};
    for (const char* version : {"FFFF0101", "FFFF0102", "FFFF0103"}) {
      // mov r0, c0; cnd r1, r0.a, c1, c2; mov r0, r1
      const std::string hex = std::string(version) +
                              " 00000001 800F0000 A0E40000 00000050 800F0001 80FF0000 A0E40001 A0E40002 "
                              "00000001 800F0000 80E40001 0000FFFF";
      std::string why;
      EXPECT_TRUE(Accepted(hex, &why)) << why;
      const Float4 want = c0[3] > 0.5f ? c1 : c2;
      EXPECT_TRUE(Near(RunOne(hex, Lane(), true, constants).lane.oC[0], want, 0)) << version << " a=" << c0[3];
    }
    // ps_1_4: mov r1, c0; cnd r0, r1, c1, c2
    const std::string hex = "FFFF0104 00000001 800F0001 A0E40000 00000050 800F0000 80E40001 A0E40001 A0E40002 0000FFFF";
    std::string why;
    EXPECT_TRUE(Accepted(hex, &why)) << why;
    Float4 want;
    for (int c = 0; c < 4; ++c) want[c] = c0[c] > 0.5f ? c1[c] : c2[c];
    EXPECT_TRUE(Near(RunOne(hex, Lane(), true, constants).lane.oC[0], want, 0)) << "ps_1_4";
  }
}

// ps_1_4's texture instructions, one per row, each followed by what shows
// its result in r0; the references come from the coordinate rules.
TEST(ShTokPs1, Ps14TextureInstructionsAgainstTheirFormulas) {
  struct Expect {
    Float4 r0;
    std::uint32_t compare = 0xF;  // components with a defined value
    bool killed = false, depthWritten = false;
    float depth = 0;
  };
  struct Case {
    const char* name;
    const char* code;
    std::function<Expect(const Lane&, const Float4&)> reference;
  };
  const Case cases[] = {
      {"the worked phase encoding: texld, texcrd, phase, texld _dz", nullptr,
       [](const Lane& in, const Float4&) {
         const Float4 a = Texel(0, Float4(in.t[0][0], in.t[0][1], in.t[0][2], 0));
         const Float4 b = Texel(2, Float4(in.t[1][0] / in.t[1][2], in.t[1][1] / in.t[1][2], 0, 0));
         // r0's alpha comes from phase one: undefined in strict mode.
         return Expect{Float4(a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]), 0x7};
       }},
      {"texld .xyz", "00000042 800F0000 B0A40001",
       [](const Lane& in, const Float4&) { return Expect{Texel(0, Float4(in.t[1][0], in.t[1][1], in.t[1][2], 0))}; }},
      {"texld .xyw", "00000042 800F0000 B0F40001",
       [](const Lane& in, const Float4&) { return Expect{Texel(0, Float4(in.t[1][0], in.t[1][1], in.t[1][3], 0))}; }},
      {"texld _dw", "00000042 800F0003 BAE40001 00000001 800F0000 80E40003",
       [](const Lane& in, const Float4&) {
         const Float4& t = in.t[1];
         return Expect{Texel(3, Float4(t[0] / t[3], t[1] / t[3], 0, 0))};
       }},
      {"texcrd .xyw", "00000040 80070000 B0F40002",
       [](const Lane& in, const Float4&) {
         return Expect{Float4(in.t[2][0], in.t[2][1], in.t[2][3], 0), 0x7};
       }},
      {"texcrd _dw copies two", "00000040 80030000 BAE40002",
       [](const Lane& in, const Float4&) {
         const Float4& t = in.t[2];
         return Expect{Float4(t[0] / t[3], t[1] / t[3], 0, 0), 0x3};
       }},
      {"texld of an r# in phase two", "00000040 80070001 B0E40000 0000FFFD 00000042 800F0000 80E40001",
       [](const Lane& in, const Float4&) { return Expect{Texel(0, Float4(in.t[0][0], in.t[0][1], in.t[0][2], 0))}; }},
      {"texkill of an r# set in phase one",
       "00000001 800F0001 A0E40000 0000FFFD 00000041 800F0001 00000001 800F0000 A0E40000",
       [](const Lane&, const Float4& c0) {
         Expect e{c0};
         e.killed = c0[0] < 0 || c0[1] < 0 || c0[2] < 0;
         return e;
       }},
      {"texkill of a t#", "00000041 B00F0003 00000001 800F0000 A0E40000",
       [](const Lane& in, const Float4& c0) {
         Expect e{c0};
         e.killed = in.t[3][0] < 0 || in.t[3][1] < 0 || in.t[3][2] < 0;
         return e;
       }},
      {"texdepth r5", "00000001 800F0005 A0E40000 0000FFFD 00000057 800F0005 00000001 800F0000 A0E40000",
       [](const Lane&, const Float4& c0) {
         Expect e{c0};
         e.depthWritten = true;
         e.depth = c0[1] == 0 ? 1.0f : c0[0] / c0[1];
         return e;
       }},
      {"bem with stage 2's matrix",
       "00000040 80070000 B0E40000 00000040 80070001 B0E40001 00000059 80030002 80E40000 80E40001 0000FFFD "
       "00000001 800F0000 80E40002",
       [](const Lane& in, const Float4&) {
         const Float4 &s0 = in.t[0], &s1 = in.t[1];
         return Expect{Float4(s0[0] + 0.5f * s1[0] + 0.125f * s1[1], s0[1] - 0.25f * s1[0] + 0.75f * s1[1], 0, 0), 0x3};
       }},
  };
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> unit(0.05f, 1), signedUnit(-1, 1);
  for (const Case& c : cases) {
    const std::string hex =
        c.code ? "FFFF0104 " + std::string(c.code) + " 0000FFFF" : std::string(GoldenByName("ps14_phase"));
    std::string why;
    EXPECT_TRUE(Accepted(hex, &why)) << c.name << why;
    for (int run = 0; run < 6; ++run) {
      Lane in;
      for (Float4& t : in.t) t = Float4(unit(rng), unit(rng), unit(rng), unit(rng));
      // Negative coordinates where only texkill reads them: strict texcrd
      // would make them NaN elsewhere.
      if (run % 2) in.t[3] = Float4(signedUnit(rng), signedUnit(rng), signedUnit(rng), 1);
      in.t[2][3] = 1;  // texcrd t2_dw stays inside [0, 1]
      const Float4 c0(signedUnit(rng), run == 4 ? 0 : signedUnit(rng), signedUnit(rng), signedUnit(rng));
      const Float4 constants[3] = {c0, Float4(), Float4()};
      const Expect want = c.reference(in, c0);
      for (const bool strict : {false, true}) {
        const RunResult got = RunOne(hex, in, strict, constants);
        for (int k = 0; k < 4; ++k)
          if (want.compare >> k & 1) {
            EXPECT_NEAR(got.lane.oC[0][k], want.r0[k], 1e-5 * (1 + std::fabs(want.r0[k])))
                << c.name << " component " << k << (strict ? " strict" : "");
          }
        EXPECT_EQ(got.lane.killed, want.killed) << c.name;
        EXPECT_EQ(got.lane.depthWritten, want.depthWritten) << c.name;
        if (want.depthWritten) {
          EXPECT_NEAR(got.lane.oDepth, want.depth, 1e-5) << c.name;
        }
      }
    }
  }
}

// What the format leaves undefined is NaN in strict mode and a plain value
// otherwise; each row names the undefined point.
TEST(ShTokPs1, StrictModePoisonsWhatIsUndefined) {
  struct Case {
    const char* name;
    const char* hex;
    Float4 lenient, strict;
    bool valid = true;
  };
  const Float4 c0(0.25f, 0.5f, 0.75f, 0.125f);
  const Case cases[] = {
      // mov r0, c0; mov r0.rgb, r0.a; +mov r0.a, r0.b
      {"a pair where each half reads what the other writes",
       "FFFF0101 00000001 800F0000 A0E40000 00000001 80070000 80FF0000 40000001 80080000 80AA0000 0000FFFF",
       {0.125f, 0.125f, 0.125f, 0.75f},
       {kNaN, kNaN, kNaN, kNaN},
       false},
      // mov r0, c0; mul r0.rgb, r0, c0; +add r0.a, r0.a, c0.a: the halves read disjoint components
      {"a pair of independent halves",
       "FFFF0101 00000001 800F0000 A0E40000 00000005 80070000 80E40000 A0E40000 40000002 80080000 80FF0000 "
       "A0FF0000 0000FFFF",
       {0.0625f, 0.25f, 0.5625f, 0.25f},
       {0.0625f, 0.25f, 0.5625f, 0.25f}},
      // texcrd r0, t0: alpha is not copied
      {"texcrd's alpha", "FFFF0104 00000040 800F0000 B0E40000 0000FFFF", {0.5f, 0.25f, 1, 1}, {0.5f, 0.25f, 1, kNaN}},
      // texcrd r0.rgb, t1; mov r0.a, c0: x and y are outside [0, 1], whether they are clamped is not defined
      {"texcrd of a coordinate outside [0, 1]",
       "FFFF0104 00000040 80070000 B0E40001 00000001 80080000 A0E40000 0000FFFF",
       {1.5f, -0.25f, 0.5f, 0.125f},
       {kNaN, kNaN, 0.5f, 0.125f}},
      // mov r1, c0; phase; mov r0, r1
      {"alpha across the phase",
       "FFFF0104 00000001 800F0001 A0E40000 0000FFFD 00000001 800F0000 80E40001 0000FFFF",
       c0,
       {0.25f, 0.5f, 0.75f, kNaN}},
      // mov r1, c0; phase; cmp r0, -r1.a, c1, c2: a NaN condition does not pick a side
      {"cmp on an undefined condition",
       "FFFF0104 00000001 800F0001 A0E40000 0000FFFD 00000058 800F0000 81FF0001 A0E40001 A0E40002 0000FFFF",
       {2, 2, 2, 2},
       {kNaN, kNaN, kNaN, kNaN}},
      // mov r1, c0; phase; texld r2, r1 (phase one's alpha unused): nothing undefined
      {"a dependent read ignoring alpha",
       "FFFF0104 00000001 800F0001 A0E40000 0000FFFD 00000042 800F0002 80E40001 00000001 800F0000 80E40002 0000FFFF",
       Texel(2, Float4(0.25f, 0.5f, 0.75f, 0)), Texel(2, Float4(0.25f, 0.5f, 0.75f, 0))},
  };
  const Float4 constants[3] = {c0, Float4(1, 1, 1, 1), Float4(2, 2, 2, 2)};
  Lane in;
  in.t[0] = Float4(0.5f, 0.25f, 1, 0.75f);
  in.t[1] = Float4(1.5f, -0.25f, 0.5f, 1);
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(Accepted(c.hex, &why), c.valid) << c.name << why;
    EXPECT_TRUE(Near(RunOne(c.hex, in, false, constants).lane.oC[0], c.lenient, 1e-6)) << c.name;
    EXPECT_TRUE(Near(RunOne(c.hex, in, true, constants).lane.oC[0], c.strict, 1e-6)) << c.name << " strict";
  }
}

// The corpus's ps_1_4 parallax program, assembled by the shader tool, in
// strict mode against C++ written from its assembly text.
TEST(ShTokPs1, CorpusPs14ParallaxAgainstItsSource) {
  const std::vector<std::uint32_t> words = ps1test::AssembleCorpusFile("irrlicht/D3D9_PARALLAX_MAP_PSH.psh");
  if (words.empty()) {
    if (HasFailure()) return;
    GTEST_SKIP() << "no corpus or no gxlsh";
  }
  platform::shader::StreamChecker checker;
  checker.Finish(words);
  EXPECT_TRUE(checker.Messages().empty());
  Interpreter interp;
  std::string error;
  ASSERT_TRUE(interp.Load(words.data(), words.size(), &error)) << error;
  interp.SetSampler(ps1test::TexelSampler());
  interp.SetStrict(true);
  const Float4 scale(0.02f, 0.03f, 0.04f, 0);
  interp.SetFloat(6, scale);
  auto bx2 = [](float x) { return 2 * (x - 0.5f); };
  auto dot3bx2 = [&](const Float4& a, const Float4& b) {
    return std::fmin(std::fmax(bx2(a[0]) * bx2(b[0]) + bx2(a[1]) * bx2(b[1]) + bx2(a[2]) * bx2(b[2]), 0.0f), 1.0f);
  };
  std::mt19937 rng(23);
  std::uniform_real_distribution<float> unit(0, 1);
  for (int run = 0; run < 4; ++run) {
    Lane quad[4];
    for (Lane& lane : quad) {
      for (Float4& t : lane.t) t = Float4(unit(rng), unit(rng), unit(rng), unit(rng));
      for (int k = 0; k < 2; ++k) lane.v[k] = Float4(unit(rng), unit(rng), unit(rng), unit(rng));
    }
    ASSERT_TRUE(interp.Run(quad, 4, &error)) << error;
    for (const Lane& in : quad) {
      // Phase one: the height along the normal's z moves the coordinate along the eye vector.
      const Float4 n = Texel(1, Float4(in.t[1][0], in.t[1][1], in.t[1][2], 0));
      const float h = bx2(n[3]) * bx2(n[2]);
      Float4 coord;
      for (int c = 0; c < 3; ++c) coord[c] = h * scale[c] * bx2(in.t[4][c]) + in.t[0][c];
      // Phase two: two lights on the moved coordinate.
      const Float4 base = Texel(0, coord), normal = Texel(1, coord);
      const float l1 = dot3bx2(normal, in.t[2]), l2 = dot3bx2(normal, in.t[3]);
      Float4 want;
      for (int c = 0; c < 3; ++c) want[c] = base[c] * (l2 * in.v[1][c] + l1 * in.v[0][c]);
      want[3] = in.v[0][3];
      EXPECT_TRUE(Near(in.oC[0], want, 1e-5));
    }
  }
}

}  // namespace
}  // namespace nura::shtok

// ps_1_1-1_3 in the interpreter: hand-laid streams and the corpus's programs
// against references written from the format's formulas and the assembly
// text, and the validator's acceptance of every stream run here.
#include <algorithm>
#include <functional>
#include <random>

#include "d3d9/shader_validator.h"
#include "tests/support/shader/tests/ps1_support.h"

namespace nura::shtok {
namespace {

using ps1test::Near;
using ps1test::Texel;

double Dot3(const Float4& a, const Float4& b) {
  return static_cast<double>(a[0]) * b[0] + static_cast<double>(a[1]) * b[1] + static_cast<double>(a[2]) * b[2];
}
float Clamp01(float x) { return std::min(std::max(x, 0.0f), 1.0f); }
Float4 Bx2(const Float4& x) {
  return Float4(2 * (x[0] - 0.5f), 2 * (x[1] - 0.5f), 2 * (x[2] - 0.5f), 2 * (x[3] - 0.5f));
}
Float4 Fl(double x, double y, double z, double w) {
  return Float4(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z), static_cast<float>(w));
}

std::vector<std::string> ValidatorMessages(const std::vector<std::uint32_t>& words) {
  platform::shader::StreamChecker checker;
  checker.Finish(words);
  std::vector<std::string> texts;
  for (const auto& m : checker.Messages()) texts.push_back(std::to_string(m.number) + " " + m.text);
  return texts;
}

struct Expect {
  Float4 r0;
  bool killed = false;
  bool depthWritten = false;
  float depth = 0;
};

const Interpreter::BumpEnv kBump = {0.5f, -0.25f, 0.125f, 0.75f, 0.5f, 0.25f};

// One texture-address instruction (with what feeds it) per row; r0 shows
// the register it leaves. The reference gets the lane's inputs and c0.
TEST(ShTokPs1, TextureAddressInstructionsAgainstTheirFormulas) {
  struct Case {
    const char* name;
    const char* version;
    const char* code;
    std::function<Expect(const Lane&, const Float4&)> reference;
  };
  auto sampled0 = [](const Lane& in) { return Texel(0, in.t[0]); };
  auto coords0 = [](const Lane& in) {
    return Float4(Clamp01(in.t[0][0]), Clamp01(in.t[0][1]), Clamp01(in.t[0][2]), 1);
  };
  auto rows3 = [](const Lane& in, const Float4& s) {
    return Fl(Dot3(in.t[1], s), Dot3(in.t[2], s), Dot3(in.t[3], s), 0);
  };
  auto reflect = [](const Float4& n, const Float4& e) {
    const double k = 2 * Dot3(n, e) / Dot3(n, n);
    return Fl(k * n[0] - e[0], k * n[1] - e[1], k * n[2] - e[2], 0);
  };
  const Case cases[] = {
      {"texcoord clamps and sets alpha", "FFFF0101", "00000040 B00F0000 00000001 800F0000 B0E40000",
       [&](const Lane& in, const Float4&) { return Expect{coords0(in)}; }},
      {"tex samples the stage's coordinates", "FFFF0101", "00000042 B00F0000 00000001 800F0000 B0E40000",
       [&](const Lane& in, const Float4&) { return Expect{sampled0(in)}; }},
      {"texreg2ar", "FFFF0101", "00000042 B00F0000 00000045 B00F0001 B0E40000 00000001 800F0000 B0E40001",
       [&](const Lane& in, const Float4&) {
         const Float4 s = sampled0(in);
         return Expect{Texel(1, Float4(s[3], s[0], 0, 0))};
       }},
      {"texreg2gb", "FFFF0101", "00000042 B00F0000 00000046 B00F0001 B0E40000 00000001 800F0000 B0E40001",
       [&](const Lane& in, const Float4&) {
         const Float4 s = sampled0(in);
         return Expect{Texel(1, Float4(s[1], s[2], 0, 0))};
       }},
      {"texreg2rgb", "FFFF0102", "00000042 B00F0000 00000052 B00F0001 B0E40000 00000001 800F0000 B0E40001",
       [&](const Lane& in, const Float4&) {
         const Float4 s = sampled0(in);
         return Expect{Texel(1, Float4(s[0], s[1], s[2], 0))};
       }},
      {"texm3x2pad, texm3x2tex with _bx2", "FFFF0101",
       "00000042 B00F0000 00000047 B00F0001 B4E40000 00000048 B00F0002 B4E40000 00000001 800F0000 B0E40002",
       [&](const Lane& in, const Float4&) {
         const Float4 n = Bx2(sampled0(in));
         return Expect{Texel(2, Fl(Dot3(in.t[1], n), Dot3(in.t[2], n), 0, 0))};
       }},
      {"texm3x3pad twice, texm3x3tex", "FFFF0101",
       "00000040 B00F0000 00000049 B00F0001 B0E40000 00000049 B00F0002 B0E40000 0000004A B00F0003 B0E40000 "
       "00000001 800F0000 B0E40003",
       [&](const Lane& in, const Float4&) { return Expect{Texel(3, rows3(in, coords0(in)))}; }},
      {"texm3x3 leaves the vector", "FFFF0102",
       "00000040 B00F0000 00000049 B00F0001 B0E40000 00000049 B00F0002 B0E40000 00000056 B00F0003 B0E40000 "
       "00000001 800F0000 B0E40003",
       [&](const Lane& in, const Float4&) {
         Float4 n = rows3(in, coords0(in));
         n[3] = 1;
         return Expect{n};
       }},
      {"texm3x3spec reflects c0", "FFFF0101",
       "00000042 B00F0000 00000049 B00F0001 B0E40000 00000049 B00F0002 B0E40000 0000004C B00F0003 B0E40000 "
       "A0E40000 00000001 800F0000 B0E40003",
       [&](const Lane& in, const Float4& c0) { return Expect{Texel(3, reflect(rows3(in, sampled0(in)), c0))}; }},
      {"texm3x3vspec reflects the rows' fourth coordinates", "FFFF0103",
       "00000042 B00F0000 00000049 B00F0001 B0E40000 00000049 B00F0002 B0E40000 0000004D B00F0003 B0E40000 "
       "00000001 800F0000 B0E40003",
       [&](const Lane& in, const Float4&) {
         const Float4 eye(in.t[1][3], in.t[2][3], in.t[3][3], 0);
         return Expect{Texel(3, reflect(rows3(in, sampled0(in)), eye))};
       }},
      {"texdp3 replicates", "FFFF0102", "00000042 B00F0000 00000055 B00F0001 B0E40000 00000001 800F0000 B0E40001",
       [&](const Lane& in, const Float4&) {
         const double d = Dot3(in.t[1], sampled0(in));
         return Expect{Fl(d, d, d, d)};
       }},
      {"texdp3tex is a 1-D lookup", "FFFF0103",
       "00000042 B00F0000 00000053 B00F0001 B0E40000 00000001 800F0000 B0E40001",
       [&](const Lane& in, const Float4&) { return Expect{Texel(1, Fl(Dot3(in.t[1], sampled0(in)), 0, 0, 0))}; }},
      {"texbem perturbs by stage 1's matrix", "FFFF0101",
       "00000042 B00F0000 00000043 B00F0001 B0E40000 00000001 800F0000 B0E40001",
       [&](const Lane& in, const Float4&) {
         const Float4 s = sampled0(in), tc = in.t[1];
         return Expect{Texel(
             1, Fl(tc[0] + kBump.m00 * s[0] + kBump.m10 * s[1], tc[1] + kBump.m01 * s[0] + kBump.m11 * s[1], 0, 0))};
       }},
      {"texbeml scales by luminance", "FFFF0102",
       "00000042 B00F0000 00000044 B00F0001 B0E40000 00000001 800F0000 B0E40001",
       [&](const Lane& in, const Float4&) {
         const Float4 s = sampled0(in), tc = in.t[1];
         const Float4 t = Texel(
             1, Fl(tc[0] + kBump.m00 * s[0] + kBump.m10 * s[1], tc[1] + kBump.m01 * s[0] + kBump.m11 * s[1], 0, 0));
         const double l = s[2] * kBump.lscale + kBump.loffset;
         return Expect{Fl(t[0] * l, t[1] * l, t[2] * l, t[3] * l)};
       }},
      {"texm3x2depth", "FFFF0103",
       "00000042 B00F0000 00000047 B00F0001 B0E40000 00000054 B00F0002 B0E40000 00000001 800F0000 B0E40000",
       [&](const Lane& in, const Float4&) {
         const Float4 s = sampled0(in);
         const double z = Dot3(in.t[1], s), w = Dot3(in.t[2], s);
         Expect e{s};
         e.depthWritten = true;
         e.depth = static_cast<float>(w == 0 ? 1.0 : z / w);
         return e;
       }},
      {"texkill tests the stage's coordinates", "FFFF0101",
       "00000041 B00F0001 00000040 B00F0000 00000001 800F0000 B0E40000",
       [&](const Lane& in, const Float4&) {
         Expect e{coords0(in)};
         e.killed = in.t[1][0] < 0 || in.t[1][1] < 0 || in.t[1][2] < 0;
         return e;
       }},
  };
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> coord(-1, 1), colour(0, 1);
  for (const Case& c : cases) {
    const std::string hex = std::string(c.version) + " " + c.code + " 0000FFFF";
    EXPECT_EQ(ValidatorMessages(Tokens(hex.c_str())), std::vector<std::string>()) << c.name;
    Interpreter interp;
    ASSERT_TRUE(ps1test::LoadHex(interp, hex)) << c.name;
    interp.SetSampler(ps1test::TexelSampler());
    interp.SetBumpEnv(1, kBump);
    for (int quad = 0; quad < 3; ++quad) {
      const Float4 c0(coord(rng), coord(rng), coord(rng), coord(rng));
      interp.SetFloat(0, c0);
      Lane lanes[4];
      for (Lane& lane : lanes) {
        for (int s = 0; s < 4; ++s) lane.t[s] = Float4(coord(rng), coord(rng), coord(rng), coord(rng));
        lane.v[0] = Float4(colour(rng), colour(rng), colour(rng), colour(rng));
      }
      std::string error;
      ASSERT_TRUE(interp.Run(lanes, 4, &error)) << c.name << ": " << error;
      for (const Lane& lane : lanes) {
        const Expect want = c.reference(lane, c0);
        EXPECT_TRUE(Near(lane.r[0], want.r0, 1e-4)) << c.name;
        EXPECT_TRUE(Near(lane.oC[0], lane.r[0], 0)) << c.name << ": the colour output is r0";
        EXPECT_EQ(lane.killed, want.killed) << c.name;
        EXPECT_EQ(lane.depthWritten, want.depthWritten) << c.name;
        if (want.depthWritten) {
          EXPECT_NEAR(lane.oDepth, want.depth, 1e-4 * (1 + std::fabs(want.depth))) << c.name;
        }
      }
    }
  }
}

// The worked ps_1_1 encoding: tex, _bx2, co-issue and a shifted alpha.
TEST(ShTokPs1, WorkedEncodingWithCoissueAndShift) {
  for (const bool strict : {false, true}) {
    Interpreter interp;
    ASSERT_TRUE(ps1test::LoadHex(interp, GoldenByName("ps11_coissue")));
    interp.SetSampler(ps1test::TexelSampler());
    interp.SetStrict(strict);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0, 1);
    Lane lanes[4];
    for (Lane& lane : lanes) {
      lane.t[0] = Float4(unit(rng), unit(rng), unit(rng), unit(rng));
      lane.v[0] = Float4(unit(rng), unit(rng), unit(rng), unit(rng));
    }
    std::string error;
    ASSERT_TRUE(interp.Run(lanes, 4, &error)) << error;
    for (const Lane& lane : lanes) {
      const Float4 t = Texel(0, lane.t[0]), v = lane.v[0];
      // mul r0.rgb, t0, v0_bx2 ; +add_x2 r0.a, t0, v0
      const Float4 want(t[0] * 2 * (v[0] - 0.5f), t[1] * 2 * (v[1] - 0.5f), t[2] * 2 * (v[2] - 0.5f),
                        2 * (t[3] + v[3]));
      EXPECT_TRUE(Near(lane.oC[0], want)) << (strict ? "strict" : "lenient");
      EXPECT_TRUE(Near(lane.tex[0], t)) << "t0 keeps the sample";
    }
  }
}

// Result shifts scale before _sat clamps, in every shift a version allows.
TEST(ShTokPs1, ResultShiftThenSaturate) {
  struct Case {
    std::uint32_t version;
    int shift;  // the 4-bit field
    double scale;
  } cases[] = {{0xFFFF0101, 0, 1}, {0xFFFF0101, 1, 2},       {0xFFFF0102, 2, 4},      {0xFFFF0103, 0xF, 0.5},
               {0xFFFF0104, 3, 8}, {0xFFFF0104, 0xD, 0.125}, {0xFFFF0104, 0xE, 0.25}, {0xFFFF0104, 0xF, 0.5}};
  const Float4 a(0.9f, -0.3f, 0.2f, 0.05f), b(0.8f, 0.7f, 0.6f, -0.9f);
  for (const Case& c : cases) {
    for (const bool sat : {false, true}) {
      const std::uint32_t dst = 0x800F0000u | static_cast<std::uint32_t>(c.shift) << 24 | (sat ? 0x00100000u : 0);
      const std::vector<std::uint32_t> words = {c.version, 0x00000005, dst, 0xA0E40000, 0xA0E40001, 0x0000FFFF};
      EXPECT_EQ(ValidatorMessages(words), std::vector<std::string>()) << std::hex << c.version << " " << dst;
      Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(words.data(), words.size(), &error)) << error;
      interp.SetFloat(0, a);
      interp.SetFloat(1, b);
      Lane lane;
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      for (int k = 0; k < 4; ++k) {
        double want = static_cast<double>(a[k]) * b[k] * c.scale;
        if (sat) want = std::min(std::max(want, 0.0), 1.0);
        EXPECT_NEAR(lane.r[0][k], want, 1e-6) << std::hex << c.version << " shift " << c.shift << " sat " << sat;
      }
    }
  }
}

// In a quad every stage lookup gets the gradients of the coordinates it
// computed, dependent reads included.
TEST(ShTokPs1, QuadLookupsCarryTheirGradients) {
  Interpreter interp;
  // tex t0; texreg2gb t1, t0
  ASSERT_TRUE(ps1test::LoadHex(interp, "FFFF0101 00000042 B00F0000 00000046 B00F0001 B0E40000 0000FFFF"));
  std::vector<SampleRequest> requests;
  interp.SetSampler([&](const SampleRequest& r) {
    requests.push_back(r);
    return Texel(r.sampler, r.coord);
  });
  Lane quad[4];
  for (int l = 0; l < 4; ++l) quad[l].t[0] = Float4(0.25f + 0.125f * (l & 1), 0.5f - 0.25f * (l >> 1), 0.5f, 1);
  std::string error;
  ASSERT_TRUE(interp.Run(quad, 4, &error)) << error;
  ASSERT_EQ(requests.size(), 8u);
  for (int l = 0; l < 4; ++l) {
    EXPECT_EQ(requests[l].sampler, 0);
    EXPECT_EQ(requests[l].textureType, 0);
    EXPECT_TRUE(Near(requests[l].ddx, Float4(0.125f, 0, 0, 0), 0));
    EXPECT_TRUE(Near(requests[l].ddy, Float4(0, -0.25f, 0, 0), 0));
    // Texel's g is 0.25 + 0.5 v, b does not change: (g, b) steps by (0, 0) in x and (-0.125, 0) in y.
    EXPECT_EQ(requests[4 + l].sampler, 1);
    EXPECT_TRUE(Near(requests[4 + l].ddx, Float4(0, 0, 0, 0), 1e-6));
    EXPECT_TRUE(Near(requests[4 + l].ddy, Float4(-0.125f, 0, 0, 0), 1e-6));
  }
}

// The corpus's ps_1_1 programs, assembled by the shader tool, against C++
// written from their assembly text; they must pass the validator too.
TEST(ShTokPs1, CorpusPs11ProgramsAgainstTheirSource) {
  struct Case {
    const char* file;
    std::function<Float4(const Lane&)> reference;
  } cases[] = {
      // tex t0; mul_x2 t0, t0, v0; add r0, t0, t0
      {"irrlicht/d3d8.psh",
       [](const Lane& in) {
         const Float4 t = Texel(0, in.t[0]), v = in.v[0];
         return Float4(4 * t[0] * v[0], 4 * t[1] * v[1], 4 * t[2] * v[2], 4 * t[3] * v[3]);
       }},
      // tex t0; add r0, v0, v0; mul t0, t0, r0; add r0, t0, t0
      {"irrlicht/d3d9.psh",
       [](const Lane& in) {
         const Float4 t = Texel(0, in.t[0]), v = in.v[0];
         return Float4(4 * t[0] * v[0], 4 * t[1] * v[1], 4 * t[2] * v[2], 4 * t[3] * v[3]);
       }},
      // tex t0; tex t1; texcoord t2; texcoord t3
      // dp3_sat r0, t1_bx2, t2_bx2; mul r0, r0, v0; dp3_sat r1, t1_bx2, t3_bx2; mad r0, r1, v1, r0
      // mul r0.xyz, t0, r0; +mov r0.a, v0.a
      {"irrlicht/D3D9_NORMAL_MAP_PSH_1_1.psh",
       [](const Lane& in) {
         auto clampCoord = [](const Float4& tc) { return Float4(Clamp01(tc[0]), Clamp01(tc[1]), Clamp01(tc[2]), 1); };
         const Float4 base = Texel(0, in.t[0]), normal = Bx2(Texel(1, in.t[1]));
         const float l1 = Clamp01(static_cast<float>(Dot3(normal, Bx2(clampCoord(in.t[2])))));
         const float l2 = Clamp01(static_cast<float>(Dot3(normal, Bx2(clampCoord(in.t[3])))));
         Float4 r;
         for (int c = 0; c < 4; ++c) r[c] = l2 * in.v[1][c] + l1 * in.v[0][c];
         return Float4(base[0] * r[0], base[1] * r[1], base[2] * r[2], in.v[0][3]);
       }},
  };
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> unit(0, 1);
  for (const Case& c : cases) {
    const std::vector<std::uint32_t> words = ps1test::AssembleCorpusFile(c.file);
    if (words.empty()) {
      if (HasFailure()) return;
      GTEST_SKIP() << "no corpus or no gxlsh";
    }
    EXPECT_EQ(ValidatorMessages(words), std::vector<std::string>()) << c.file;
    Interpreter interp;
    std::string error;
    ASSERT_TRUE(interp.Load(words.data(), words.size(), &error)) << c.file << ": " << error;
    interp.SetSampler(ps1test::TexelSampler());
    interp.SetStrict(true);
    for (int run = 0; run < 4; ++run) {
      Lane quad[4];
      for (Lane& lane : quad) {
        for (Float4& tc : lane.t) tc = Float4(unit(rng), unit(rng), unit(rng), unit(rng));
        for (int k = 0; k < 2; ++k) lane.v[k] = Float4(unit(rng), unit(rng), unit(rng), unit(rng));
      }
      ASSERT_TRUE(interp.Run(quad, 4, &error)) << c.file << ": " << error;
      for (const Lane& lane : quad) EXPECT_TRUE(Near(lane.oC[0], c.reference(lane), 1e-5)) << c.file;
    }
  }
}

}  // namespace
}  // namespace nura::shtok

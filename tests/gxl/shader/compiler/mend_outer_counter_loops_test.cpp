// Inner loops whose trip count follows the counter of a loop around them
// (j < i, j <= i, j < n - i, j from i to n, ...), or that write what the
// outer loop's condition reads, kept as loops on shader model 3. The outer
// loop's simulation used to run such an inner loop to its end at each of
// its passes, body and all, while its condition was a known constant, or
// simulate it anew at each pass from facts that grew with it: one pair of
// statements in the body met the work bound (X4004).
// Each program here compiles and computes, in the interpreter, what the same
// arithmetic done here gives.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kTexCoord;
using V4 = std::array<float, 4>;

// A loop nest over the uniforms n and m (with what the inner body does
// after the generated statements), and the (i, j) its body runs for, in
// order.
struct Shape {
  const char* name;
  const char* loops;
  void (*visit)(int n, int m, const std::function<void(int i, int j)>& body);
  const char* after = "";
};

constexpr Shape kShapes[] = {
    {"j < i", "for (int i = 0; i < n; i++) for (int j = 0; j < i; j++)",
     [](int n, int, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = 0; j < i; ++j) f(i, j);
     }},
    {"j <= i", "for (int i = 0; i < n; i++) for (int j = 0; j <= i; j++)",
     [](int n, int, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = 0; j <= i; ++j) f(i, j);
     }},
    {"j < n - i", "for (int i = 0; i < n; i++) for (int j = 0; j < n - i; j++)",
     [](int n, int, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = 0; j < n - i; ++j) f(i, j);
     }},
    {"j from i to n", "for (int i = 0; i < n; i++) for (int j = i; j < n; j++)",
     [](int n, int, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = i; j < n; ++j) f(i, j);
     }},
    {"j down from i", "for (int i = 0; i < n; i++) for (int j = i; j > 0; j--)",
     [](int n, int, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = i; j > 0; --j) f(i, j);
     }},
    {"i from m", "for (int i = m; i < n; i++) for (int j = 0; j < i; j++)",
     [](int n, int m, const std::function<void(int, int)>& f) {
       for (int i = m; i < n; ++i)
         for (int j = 0; j < i; ++j) f(i, j);
     }},
    {"float counters", "for (float i = 0; i < n; i++) for (float j = 0; j < i; j++)",
     [](int n, int, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = 0; j < i; ++j) f(i, j);
     }},
    {"fixed outer count", "for (int i = 0; i < 24; i++) for (int j = 0; j < i; j++)",
     [](int, int, const std::function<void(int, int)>& f) {
       for (int i = 0; i < 24; ++i)
         for (int j = 0; j < i; ++j) f(i, j);
     }},
    // The inner loop writes what the outer condition reads.
    {"inner count ends the outer loop", "int t = 0; for (int i = 0; i < n && t < 5; i++) for (int j = 0; j < m; j++)",
     [](int n, int m, const std::function<void(int, int)>& f) {
       int t = 0;
       for (int i = 0; i < n && t < 5; ++i)
         for (int j = 0; j < m; ++j) {
           f(i, j);
           ++t;
         }
     },
     "t++;"},
    {"inner sum ends the outer loop",
     "float t = 0; for (int i = 0; i < n && t < 3; i++) for (int j = 0; j < m; j++)",
     [](int n, int m, const std::function<void(int, int)>& f) {
       float t = 0;
       for (int i = 0; i < n && t < 3; ++i)
         for (int j = 0; j < m; ++j) {
           f(i, j);
           t += 0.5f + float(i) * 0.25f;
         }
     },
     "t += 0.5 + i * 0.25;"},
};

using shadertest::Num;

// `pairs` pairs of statements of the kind a = a * b + c; b = sin(a) * 0.5 + b,
// damped so that long runs stay small, with coefficients from the seed.
struct Body {
  std::string text;
  std::vector<std::array<float, 4>> k;  // per pair: a's, b's, j's and i's coefficients
};

Body MakeBody(std::uint32_t seed, int pairs) {
  Body b;
  for (int p = 0; p < pairs; ++p) {
    const std::uint32_t s = seed * 7 + static_cast<std::uint32_t>(p);
    const std::array<float, 4> k = {s % 2 ? 0.5f : 0.25f, s % 3 ? 0.25f : 0.125f, 0.0625f * float(1 + s % 3),
                                    s % 4 ? 0.03125f : -0.0625f};
    b.k.push_back(k);
    b.text += "a = a * " + Num(k[0]) + " + b * " + Num(k[1]) + " + (float)j * " + Num(k[2]) + " + (float)i * " +
              Num(k[3]) + "; b = sin(a) * 0.5 + b * 0.5;\n";
  }
  return b;
}

V4 Run(const Shape& shape, const Body& body, int n, int m, const V4& t0, const V4& u0) {
  V4 a = t0, b = u0;
  shape.visit(n, m, [&](int i, int j) {
    for (const std::array<float, 4>& k : body.k)
      for (int c = 0; c < 4; ++c) {
        a[c] = a[c] * k[0] + b[c] * k[1] + float(j) * k[2] + float(i) * k[3];
        b[c] = std::sin(a[c]) * 0.5f + b[c] * 0.5f;
      }
  });
  for (int c = 0; c < 4; ++c) a[c] += b[c];
  return a;
}

std::string Program(const Shape& shape, const Body& body, bool pixel) {
  const std::string head = "int n; int m; float4 u0;\n";
  const std::string loops = "  float4 a = t0; float4 b = u0;\n  " + std::string(shape.loops) + " {\n" + body.text +
                            shape.after + "\n  }\n";
  return pixel ? head + "float4 main(float4 t0 : TEXCOORD0) : COLOR0 {\n" + loops + "  return a + b;\n}\n"
               : head + "void main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 o0 : TEXCOORD0) {\n" +
                     loops + "  opos = t0; o0 = a + b;\n}\n";
}

// Compiles the shape with the body at vs_3_0 and ps_3_0, optimised and with
// option 0x4, and runs each at a few counts.
void CheckShape(const Shape& shape, const Body& body, std::uint32_t seed) {
  const V4 t0 = {0.5f - 0.25f * float(seed % 3), -0.75f, 1.25f, 0.125f * float(seed % 5)};
  const V4 u0 = {0.25f, -0.5f * float(1 + seed % 2), 0.75f, -1.0f};
  const int m = 1 + static_cast<int>(seed % 3);
  for (const bool pixel : {false, true})
    for (const DWORD flags : shadertest::kBoth) {
      const char* profile = pixel ? "ps_3_0" : "vs_3_0";
      SCOPED_TRACE(std::string(shape.name) + " " + profile + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(Program(shape, body, pixel), "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      for (const int n : {0, 1, 3 + static_cast<int>(seed % 4)}) {
        const V4 want = Run(shape, body, n, m, t0, u0);
        Float4 got;
        std::string error;
        ASSERT_TRUE(shadertest::RunLane(c, {{"n", {double(n)}}, {"m", {double(m)}}, {"u0", {u0.begin(), u0.end()}}},
                                        {{In(kTexCoord, 0), Float4(t0[0], t0[1], t0[2], t0[3])}},
                                        pixel ? shadertest::LaneOutput{} : shadertest::LaneOutput{kTexCoord, 0},
                                        &got, &error))
            << error;
        // The interpreter's sin is the shader's own series.
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(got[i], want[i], 2e-3 * (1 + std::fabs(want[i]))) << "n " << n << " [" << i << "]\n" << c.text;
      }
    }
}

// Without NURA_LONG one body of each shape runs, of two pairs.
TEST(GxlCompilerMend, InnerTripCountFollowingTheOuterCounter) {
  const auto seeds = static_cast<std::uint32_t>(nura::test::LongOrShare(6, 1));
  for (const Shape& shape : kShapes)
    for (std::uint32_t seed = 0; seed < seeds; ++seed) {
      const Body body = MakeBody(seed, 1 + static_cast<int>((seed + 1) % 3));
      SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + body.text);
      CheckShape(shape, body, seed);
    }
}

// A body of six pairs (twelve statements) stays well within the bound.
TEST(GxlCompilerMend, InnerTripCountFollowingTheOuterCounterLongBody) {
  const Body body = MakeBody(5, 6);
  for (const Shape& shape : {kShapes[0], kShapes[7], kShapes[8]}) CheckShape(shape, body, 5);
}

}  // namespace

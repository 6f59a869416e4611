// Long bodies in loops of uniform length, kept as loops on shader model 3.
// The simulation of such a loop used to lower its body at each of the 255
// passes it may run, and the work bound (X4004) refused a body of some 65
// pairs of statements such as a = a * b + c; b = sin(a) * 0.5 + b in one
// loop, and of 25 to 45 pairs in a nest of two. Each program here compiles
// and computes, in the interpreter, what the same arithmetic done here gives.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kTexCoord;
using V4 = std::array<float, 4>;

using shadertest::Num;

// `pairs` pairs of the kind a = a * b + c; b = sin(a) * 0.5 + b, damped so
// that long runs stay small, with the counters mixed in; coefficients from
// the seed.
struct Body {
  std::string text;
  std::vector<std::array<float, 4>> k;  // per pair: a's, b's, i's and j's coefficients
};

Body MakeBody(std::uint32_t seed, int pairs) {
  Body b;
  for (int p = 0; p < pairs; ++p) {
    const std::uint32_t s = seed * 13 + static_cast<std::uint32_t>(p);
    const std::array<float, 4> k = {s % 2 ? 0.5f : 0.25f, s % 3 ? 0.25f : -0.125f, s % 4 ? 0.03125f : -0.0625f,
                                    0.0625f * float(s % 3)};
    b.k.push_back(k);
    b.text += "a = a * " + Num(k[0]) + " + b * " + Num(k[1]) + " + c + (float)i * " + Num(k[2]) + " + (float)j * " +
              Num(k[3]) + "; b = sin(a) * 0.5 + b * 0.5;\n";
  }
  return b;
}

// A loop or a nest over the uniforms n and m, and the (i, j) its body runs
// for, in order; `head` declares what the shape's loops need.
struct Shape {
  const char* name;
  const char* head;
  const char* open;   // up to the body
  const char* close;  // after it
  // Runs the nest; a loop of its own inside acts on `b`.
  void (*visit)(int n, int m, V4& b, const V4& c, const std::function<void(int i, int j)>& body);
};

// The uniform array w[200], element by element.
float W(int i, int e) { return 0.0625f * float((i * 3 + e) % 7) - 0.1875f; }

constexpr Shape kOneLoop = {"i < n", "int j = 0;", "for (int i = 0; i < n; i++) {", "}",
                            [](int n, int, V4&, const V4&, const std::function<void(int, int)>& f) {
                              for (int i = 0; i < n; ++i) f(i, 0);
                            }};

// A uniform array read at the counter: an index past it (i = 200) would end
// the loop.
constexpr Shape kArrayLoop = {"w[i]", "int j = 0;", "for (int i = 0; i < n; i++) { b += w[i] * 0.25;", "}",
                              [](int n, int, V4& b, const V4&, const std::function<void(int, int)>& f) {
                                for (int i = 0; i < n; ++i) {
                                  for (int e = 0; e < 4; ++e) b[e] += W(i, e) * 0.25f;
                                  f(i, 0);
                                }
                              }};

// A value the exact passes see stand still (0.5 at passes 0 to 3) and the
// later ones move (2 from pass 4 on): the settled pass must take in what it
// finds, not the facts the exact passes left.
constexpr Shape kLateChange = {"a value that moves after the exact passes", "int j = 0; float g = 0.5;",
                               "for (int i = 0; i < n; i++) { b += g * 0.25; g = i < 4 ? 0.5 : 2.0;", "}",
                               [](int n, int, V4& b, const V4&, const std::function<void(int, int)>& f) {
                                 float g = 0.5f;
                                 for (int i = 0; i < n; ++i) {
                                   for (int e = 0; e < 4; ++e) b[e] += g * 0.25f;
                                   g = i < 4 ? 0.5f : 2.0f;
                                   f(i, 0);
                                 }
                               }};

constexpr Shape kNests[] = {
    {"j < m in i < n", "", "for (int i = 0; i < n; i++) for (int j = 0; j < m; j++) {", "}",
     [](int n, int m, V4&, const V4&, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = 0; j < m; ++j) f(i, j);
     }},
    {"j <= i", "", "for (int i = 0; i < n; i++) for (int j = 0; j <= i; j++) {", "}",
     [](int n, int, V4&, const V4&, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i)
         for (int j = 0; j <= i; ++j) f(i, j);
     }},
    // After the body, an inner loop that ends on a flag its own body sets.
    {"flag-ended inner loop", "",
     "for (int i = 0; i < n; i++) { int j = 0;",
     "bool go = true; for (j = 0; j < m && go; j++) { b = b * 0.5 + c; go = b.x < 0.25; } }",
     [](int n, int m, V4& b, const V4& c, const std::function<void(int, int)>& f) {
       for (int i = 0; i < n; ++i) {
         f(i, 0);
         bool go = true;
         for (int j = 0; j < m && go; ++j) {
           for (int e = 0; e < 4; ++e) b[e] = b[e] * 0.5f + c[e];
           go = b[0] < 0.25f;
         }
       }
     }},
};

std::string Program(const Shape& shape, const Body& body, bool pixel) {
  const std::string head = "int n; int m; float4 u0; float4 c; float4 w[200];\n";
  const std::string loops = "  float4 a = t0; float4 b = u0; " + std::string(shape.head) + "\n  " + shape.open + "\n" +
                            body.text + shape.close + "\n";
  return pixel ? head + "float4 main(float4 t0 : TEXCOORD0) : COLOR0 {\n" + loops + "  return a + b;\n}\n"
               : head + "void main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 o0 : TEXCOORD0) {\n" +
                     loops + "  opos = t0; o0 = a + b;\n}\n";
}

V4 Run(const Shape& shape, const Body& body, int n, int m, const V4& t0, const V4& u0, const V4& c) {
  V4 a = t0, b = u0;
  shape.visit(n, m, b, c, [&](int i, int j) {
    for (const std::array<float, 4>& k : body.k)
      for (int e = 0; e < 4; ++e) {
        a[e] = a[e] * k[0] + b[e] * k[1] + c[e] + float(i) * k[2] + float(j) * k[3];
        b[e] = std::sin(a[e]) * 0.5f + b[e] * 0.5f;
      }
  });
  for (int e = 0; e < 4; ++e) a[e] += b[e];
  return a;
}

// Compiles the shape with the body at vs_3_0 and ps_3_0, optimised and with
// option 0x4, and runs each at the counts given.
void CheckShape(const Shape& shape, const Body& body, std::uint32_t seed, const std::vector<int>& counts) {
  const V4 t0 = {0.5f - 0.25f * float(seed % 3), -0.75f, 1.25f, 0.125f * float(seed % 5)};
  const V4 u0 = {0.25f, -0.5f * float(1 + seed % 2), 0.75f, -1.0f};
  const V4 c = {0.125f, -0.25f, 0.0625f * float(seed % 4), 0.375f};
  const int m = 2 + static_cast<int>(seed % 3);
  std::vector<double> w;
  for (int i = 0; i < 200; ++i)
    for (int e = 0; e < 4; ++e) w.push_back(W(i, e));
  for (const bool pixel : {false, true})
    for (const DWORD flags : shadertest::kBoth) {
      const char* profile = pixel ? "ps_3_0" : "vs_3_0";
      SCOPED_TRACE(std::string(shape.name) + " " + profile + " flags " + std::to_string(flags) + " pairs " +
                   std::to_string(body.k.size()));
      const shadertest::CompiledHlsl compiled =
          shadertest::CompileHlsl(Program(shape, body, pixel), "main", profile, flags);
      ASSERT_EQ(compiled.hr, S_OK) << compiled.log;
      // A flow-control loop, not an unrolling: the code holds one body.
      EXPECT_TRUE(compiled.text.find("\nrep ") != std::string::npos ||
                  compiled.text.find("\nloop ") != std::string::npos)
          << compiled.text;
      for (const int n : counts) {
        const V4 want = Run(shape, body, n, m, t0, u0, c);
        Float4 got;
        std::string error;
        ASSERT_TRUE(shadertest::RunLane(compiled,
                                        {{"n", {double(n)}},
                                         {"m", {double(m)}},
                                         {"u0", {u0.begin(), u0.end()}},
                                         {"c", {c.begin(), c.end()}},
                                         {"w", w}},
                                        {{In(kTexCoord, 0), Float4(t0[0], t0[1], t0[2], t0[3])}},
                                        pixel ? shadertest::LaneOutput{} : shadertest::LaneOutput{kTexCoord, 0},
                                        &got, &error))
            << error;
        // The interpreter's sin is the shader's own series.
        for (int e = 0; e < 4; ++e)
          EXPECT_NEAR(got[e], want[e], 2e-3 * (1 + std::fabs(want[e]))) << "n " << n << " [" << e << "]";
      }
    }
}

struct LongCase {
  const Shape* shape;
  int pairs;
  std::uint32_t seed;
  std::vector<int> counts;
};

// Past the bound before: 80 and 150 pairs in one loop (run up to past the
// passes simulated exactly), also reading an array at the counter or a value
// that moves only after the exact passes, and 40
// to 80 pairs in nests.
TEST(GxlCompilerMend, LongBodiesInUniformLoopsCompile) {
  const LongCase cases[] = {
      {&kOneLoop, 80, 1, {0, 1, 3, 4, 9}},  {&kOneLoop, 150, 2, {0, 2, 5, 17}},
      {&kArrayLoop, 150, 7, {0, 3, 20, 200}}, {&kLateChange, 80, 8, {0, 3, 5, 9}},
      {&kNests[0], 40, 3, {0, 1, 4, 6}},    {&kNests[1], 40, 4, {0, 1, 5}},
      {&kNests[1], 60, 5, {2, 6}},          {&kNests[2], 80, 6, {0, 1, 3, 5}},
  };
  for (const LongCase& c : cases) {
    const Body body = MakeBody(c.seed, c.pairs);
    CheckShape(*c.shape, body, c.seed, c.counts);
  }
}

}  // namespace

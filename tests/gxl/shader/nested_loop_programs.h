// Programs with a loop over a uniform count inside another: on shader model
// 3 both stay loops, and the outer loop's simulation lowers the inner loop in
// each of its iterations.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/hlslgen/hlslgen.h"

namespace shadertest {

// r grows by w in each inner pass until it passes 4: with n = 2, m = 2 and
// w = 1, three passes of i = 0 (r = 3), then two of i = 1 (r = 5). r goes
// out to TEXCOORD0 (vertex) or COLOR0 (pixel).
inline std::string FlagEndedLoopsProgram(bool vertex) {
  const std::string loops =
      "  for (int i = 0; i < n; i++) {\n"
      "    bool go = true;\n"
      "    for (int j = 0; j <= m && go; j++) { r += w; if (r > 4) go = false; }\n"
      "  }\n";
  return vertex ? "int n; float m; float w;\n"
                  "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
                  "  pos = p; float r = 0;\n" +
                      loops + "  o0 = r; }\n"
                : "int n; float m; float w;\nfloat4 main() : COLOR0 {\n  float r = 0;\n" + loops + "  return r; }\n";
}

// Three loops over the same uniform count, one inside the other, around
// r = r * a + r.yzwx.
inline constexpr char kThreeNestedLoopsProgram[] =
    "int n;\n"
    "void main(float4 p : POSITION, float4 a : TEXCOORD0, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
    "  pos = p; float4 r = a;\n"
    "  for (int i = 0; i < n; i++) for (int j = 0; j < n; j++) for (int k = 0; k < n; k++) r = r * a + r.yzwx;\n"
    "  o0 = r;\n"
    "}\n";

// A value narrowed from above by the outer loop's body, x = saturate(a.x)
// halved at each pass, read by the inner loop: the inner loop meets it with
// facts that share their lower bound and differ in their upper one, and
// what it finds (the ranges of y and r) differs with them. With n = 2, m = 3
// and a = (0.5, -0.25, 0.125, 1): y = 3 (0.25 + 0.125) = 1.125.
inline constexpr char kNarrowedValueLoopsProgram[] =
    "float n; float m;\n"
    "void main(float4 p : POSITION, float4 a : TEXCOORD0, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
    "  pos = p; float x = saturate(a.x); float y = 0; float4 r = a;\n"
    "  for (int i = 0; i < n; i++) {\n"
    "    x = x * 0.5;\n"
    "    for (int j = 0; j < m; j++) { y = y + x; r = r * 0.5 + y; }\n"
    "  }\n"
    "  o0 = r + y;\n"
    "}\n";

// Two inner loops in a loop over a uniform count: one over the uniform m,
// then one of a fixed three passes (its condition known at each) where
// k = k * k keeps k's range [0, 1] and its facts, and only the flags word of
// its value after the loop is new.
inline constexpr char kExitFlagsLoopsProgram[] =
    "float n; float m;\n"
    "void main(float4 p : POSITION, float4 a : TEXCOORD0, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
    "  pos = p; float k = saturate(a.x); float4 r = a;\n"
    "  for (int i = 0; i < n; i++) {\n"
    "    for (int j = 0; j < m; j++) r = r * 0.5 + a;\n"
    "    for (int j = 0; j < 3; j++) { k = k * k; r = r * exp2(k); }\n"
    "  }\n"
    "  o0 = r + k;\n"
    "}\n";

// An inner loop that calls functions reading a static global the outer
// loop's body moves, one with an out parameter: the callees count among
// what the inner loop touches. c starts at 0 in each pass, and only h's
// reading of g tells the passes' inner loops apart.
inline constexpr char kCallInNestedLoopsProgram[] =
    "static float g = 0;\n"
    "float m; float n;\n"
    "float4 advance(float4 x, float k, out float d) { d = k * 0.5; return x * 0.5 + k + g; }\n"
    "float h() { return g; }\n"
    "void main(float4 p : POSITION, float4 a : TEXCOORD0, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
    "  pos = p; float4 r = saturate(a); float d = 0; float t = 0;\n"
    "  for (int i = 0; i < n; i++) {\n"
    "    g = g + 0.25;\n"
    "    float c = 0;\n"
    "    for (int j = 0; j < m; j++) { r = advance(r, (float)j * 0.125, d) * 0.5 + d; c = max(c, h()); }\n"
    "    t += c;\n"
    "  }\n"
    "  o0 = r + t;\n"
    "}\n";

// Line l of the long program: r = r * k[l % 8].<swizzle> + a.<swizzle>, with
// the swizzles' component orders for checking it.
struct NestedLoopLine {
  static constexpr const char* kSwizzles[] = {"xyzw", "yzwx", "zwxy", "wxyz", "xxyy", "zzww"};
  static constexpr int kOrder[6][4] = {{0, 1, 2, 3}, {1, 2, 3, 0}, {2, 3, 0, 1},
                                       {3, 0, 1, 2}, {0, 0, 1, 1}, {2, 2, 3, 3}};
  static std::string Text(int l) {
    return "      r = r * k[" + std::to_string(l % 8) + "]." + kSwizzles[l % 6] + " + a." + kSwizzles[(l / 6) % 6] +
           ";\n";
  }
};

// Five lines around an inner loop of twenty (lines 5-24), then `after` lines
// (from 25 on), all over a uniform array k; r starts at the input a.
inline std::string NestedUniformLoopsProgram(int after) {
  std::string text =
      "float4 k[8]; int n, m;\nvoid main(float4 p : POSITION, float4 a : TEXCOORD0, out float4 pos : POSITION,"
      " out float4 o0 : TEXCOORD0) {\n  float4 r = a;\n  for (int i = 0; i < n; i++) {\n";
  for (int l = 0; l < 5; ++l) text += NestedLoopLine::Text(l);
  text += "    for (int j = 0; j < m; j++) {\n";
  for (int l = 5; l < 25; ++l) text += NestedLoopLine::Text(l);
  text += "    }\n  }\n";
  for (int l = 25; l < 25 + after; ++l) text += NestedLoopLine::Text(l);
  return text + "  pos = p; o0 = r;\n}\n";
}

// Generated programs with loops over uniform counts, nested, among the
// generator's other loop shapes (seed 7 as a pixel program: an inner loop
// over a float uniform in one over an int uniform). Seeds vary the shapes
// the way the speed measurements did.
inline hlslgen::Options NestedLoopShapes(std::uint64_t seed = 7) {
  hlslgen::Options o;
  o.flowControl = true;
  o.statements = 12;
  o.maxLoopCount = 64;
  o.maxInstructions = 2000;
  o.maxIfDepth = 3;
  o.uniformBounds = seed % 2 == 1;
  o.doWhile = seed % 3 == 0;
  o.jumps = seed % 4 == 1;
  o.arrays = seed % 5 == 2;
  o.carried = seed % 3 == 1;
  return o;
}

// Nested loops with uniform bounds, and the loop shapes around them by seed,
// as the reference checks of loop simulations generate them.
inline hlslgen::Options NestedUniformLoopOptions(std::uint32_t seed) {
  hlslgen::Options options;
  options.flowControl = true;
  options.statements = 6 + seed % 7;
  options.maxLoopCount = 64;
  options.maxInstructions = 1000;
  options.uniformBounds = true;
  options.doWhile = seed % 3 == 1;
  options.jumps = seed % 4 == 2;
  options.arrays = seed % 2 == 0;
  options.carried = seed % 3 != 2;
  return options;
}

}  // namespace shadertest

// Loops whose effect on the program lies where a look at the loop alone
// misses it: a return as the only thing a loop does, a called function's
// arguments in a loop's condition, and an inner loop whose facts at entry
// widen across the passes of the loop around it. Read by their behaviour
// tests and by the reference checks of the loop simulations.
#pragma once

#include <string>

namespace shadertest {

// A vertex function (input TEXCOORD0, output POSITION) or a pixel function
// (input TEXCOORD0, output COLOR0) around `declarations` and `body`, which
// read the input p.
inline std::string LoopEffectProgram(bool vertex, const std::string& declarations, const std::string& body) {
  return declarations + "\nfloat4 main(float4 p : TEXCOORD0) : " + (vertex ? "POSITION" : "COLOR0") + " {\n" + body +
         "}\n";
}

// Loops whose only effect is a return: every variable they write is their
// own, so nothing after them reads what they do, yet the function ends in
// their first pass with p * 2 (or, on the else side, p * 3) and never
// reaches the return of k after them.
struct ReturnOnlyLoop {
  const char* name;
  const char* declarations;
  const char* body;
  bool choice;  // returns p * 2 where p.x > t, else p * 3; otherwise always p * 2
};

inline constexpr ReturnOnlyLoop kReturnOnlyLoops[] = {
    {"for", "float4 k;", "  for (int i = 0; i < 4; i++) { return p * 2; }\n  return k;\n", false},
    {"for with if and else", "float4 k; float t;",
     "  for (int i = 0; i < 4; i++) { if (p.x > t) return p * 2; else return p * 3; }\n  return k;\n", true},
    {"while", "float4 k;", "  int i = 0;\n  while (i < 4) { i++; return p * 2; }\n  return k;\n", false},
    {"do", "float4 k;", "  int i = 0;\n  do { i++; return p * 2; } while (i < 4);\n  return k;\n", false},
    {"for inside a for", "float4 k; float t;",
     "  for (int i = 0; i < 4; i++) for (int j = 0; j < i + 2; j++) { if (p.x > t) return p * 2; else return p * 3; }\n"
     "  return k;\n",
     true},
    {"for after a write of its own", "float4 k; float t;",
     "  for (int i = 0; i < 4; i++) { float4 q = p * 3; if (p.x > t) q = p * 2; return q; }\n  return k;\n", true},
    {"in a called function",
     "float4 k; float t;\n"
     "float4 f(float4 p) { for (int i = 0; i < 4; i++) { if (p.x > t) return p * 2; else return p * 3; } return k; }",
     "  return f(p);\n", true},
};

// An inner loop whose trip count a call decides: j < g(a) with a = i, the
// outer counter, and g(0) called in the same pass just before, so that g's
// parameter holds the same facts when every inner loop begins and only the
// call's argument tells the passes apart. Per pass s grows by g(0) = 2 and by
// the inner loop's trip count g(i) = min(i, 3) + 2 (the step of exp2, 1,
// keeps the inner loop a loop): 1534 at n = 220. Taking g(0)'s trip count
// for every pass, the facts after the loop keep s below 1500.
inline std::string CallBoundLoopsProgram(bool vertex) {
  return LoopEffectProgram(vertex, "int n;\nfloat g(float x) { return min(x, 3) + 2; }",
                           "  float s = 0;\n"
                           "  for (int i = 0; i < n; i++) {\n"
                           "    float a = i; float t = 0;\n"
                           "    s += g(0);\n"
                           "    for (int j = 0; j < g(a); j++) t += step(0, exp2(p.x));\n"
                           "    s += t;\n"
                           "  }\n"
                           "  return (s < 1500 ? p : -p) + s;\n");
}

// An inner loop met at each outer pass with t = 10 - i: after a few exact
// entries t enters it widened, and the simulation from the widened entry is
// reused at the passes after. Its head and exit facts must be the widened
// ones, or a reuse's facts differ from those its rerun finds. In its first
// pass t is what the outer pass set, in the others 5, so s grows by m - 1,
// and by one more while 10 - i >= 5 (where m > 0).
inline std::string WidenedFactsLoopsProgram(bool vertex) {
  return LoopEffectProgram(vertex, "int n; int m;",
                           "  float s = 0;\n"
                           "  for (int i = 0; i < n; i++) {\n"
                           "    float t = 10 - i;\n"
                           "    for (int j = 0; j < m; j++) { if (t >= 5) s += 1; t = 5; }\n"
                           "  }\n"
                           "  return p + s;\n");
}

}  // namespace shadertest

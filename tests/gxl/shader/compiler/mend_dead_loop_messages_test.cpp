// A fault inside a loop whose results nothing reads gives the messages the
// same fault gives where the loop's results are read: a program's errors do
// not depend on whether its loop is dead. Each program below is compiled
// twice, differing only in whether the loop's result is read, and the two
// logs must hold the same lines; where nothing around the loop depends on
// its code, as often as each other too. A dead loop the unrolling cannot end
// (X3511) still compiles: it is dead.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bounded_run.h"
#include "flow_lane.h"
#include "gxl/shader/compiler/loop/loop_facts.h"
#include "tests/gxl/shader/compiled_hlsl.h"

namespace {

using shadertest::BoundedRun;
using shadertest::Bounds;
using shadertest::CompiledHlsl;
using shadertest::kBoth;

// One fault: the declarations it needs and the statements of a loop body
// that commit it (they read and write the float4 r, may read the float4 t
// and the int i). The last two keep a loop from being judged dead at all.
struct Fault {
  const char* name;
  const char* declarations;
  const char* body;
  const char* expected;  // a line the log must hold (without its location)
  bool pixelOnly;
  bool thirdPass;  // only the third pass commits it
};

const Fault kFaults[] = {
    {"a function with no return", "float f(float x) { x = 2; }", "r.x += f(r.y);",
     "error X3507: 'f': function must return a value", false, false},
    {"a function whose return a known branch skips", "float f(float x) { if (false) return x; }", "r.x += f(r.y);",
     "error X3507: 'f': function must return a value", false, false},
    {"an output parameter never written", "void g(float x, out float y) { }", "float y; g(r.x, y); r.y += y;",
     "error X3508: 'g': output parameter 'y' never assigned a value", false, false},
    {"an output parameter written in part", "void g(float x, out float2 y) { y.x = x; }",
     "float2 y; g(r.x, y); r.y += y.y;", "error X3508: 'g': output parameter 'y' never assigned a value", false,
     false},
    {"a sampler array index that is no literal", "sampler s[2]; float k;", "r += tex2D(s[k], r.xy);",
     "error X3512: sampler array index must be a literal expression", true, false},
    {"an array index past the end", "float4 a[2];", "r += a[i];", "error X3504: array index out of bounds", false,
     true},
    {"a vector component past the end", "", "r.x += t[i + 2];", "error X3504: array index out of bounds", false,
     true},
    {"a matrix row past the end", "float4x4 m;", "r += m[i + 2];", "error X3504: array index out of bounds", false,
     true},
    {"a local array written at an index it cannot address", "float k;",
     "float4 a[3] = {r, r, r}; a[k] = t; r += a[1];",
     "error X3500: array reference cannot be used as an l-value; not natively addressable", false, false},
    {"returns from one side of an if", "float f(float x) { if (x > 0.5) return x; x = x * 2; return x; }",
     "r.x += f(r.y);", "error X3500: asymetric returns from if statements not yet implemented", false, false},
    {"a one-component input coordinate of tex1D", "sampler s1; float u : TEXCOORD1;", "r += tex1D(s1, u);",
     "warning X3509: tex1D will considered dependent since texcoord was not declared as at least float2", true,
     false},
    {"a function without a body", "float f(float x);", "r.x += f(r.y);",
     "error X3510: function 'f' missing implementation", false, false},
    {"a recursive function", "float f(float x); float f(float x) { return f(x) + 1; }", "r.x += f(r.y);",
     "error X3500: 'f': recursive functions not yet implemented", false, false},
};

// Where the loop stands: declarations and main's statements around BODY,
// whose loop result is read where READ stands (r when live, t when dead).
struct Shape {
  const char* name;
  const char* declarations;
  const char* statements;
  bool unknownCount;  // a pass past the first may not happen
  // The loop around it lowers its body once or more often as the code of
  // the loop inside is there or not: the same messages, not as often.
  bool nested;
};

const Shape kShapes[] = {
    {"for", "", "float4 r = t; for (int i = 0; i < 3; i++) { BODY } return READ;", false, false},
    {"while", "", "float4 r = t; int i = 0; while (i < 3) { BODY i++; } return READ;", false, false},
    {"do", "", "float4 r = t; int i = 0; do { BODY i++; } while (i < 3); return READ;", false, false},
    {"over a uniform count", "float n0;", "float4 r = t; for (int i = 0; i < n0; i++) { BODY } return READ;", true,
     false},
    {"inside another", "",
     "float4 r = t; for (int j = 0; j < 2; j++) { for (int i = 0; i < 3; i++) { BODY } r = r * 0.5; } return READ;",
     false, false},
    {"inside another dead one", "",
     "float4 r = t; for (int j = 0; j < 2; j++) { for (int i = 0; i < 3; i++) { BODY } } return READ;", false,
     true},
    {"in a called function", "float4 h(float4 t) { float4 r = t; for (int i = 0; i < 3; i++) { BODY } return READ; }",
     "return h(t);", false, false},
    {"inside a live loop", "",
     "float4 o = t; for (int j = 0; j < 2; j++) { float4 r = o; for (int i = 0; i < 3; i++) { BODY } o += READ; }"
     " return o;",
     false, true},
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The program of a fault in a shape, in the loop's body or in a function
// only the loop calls; its loop read or not. Both versions have the same
// lines.
std::string Program(const Fault& fault, const Shape& shape, bool inFunction, bool dead, const char* semantic) {
  std::string text = std::string(fault.declarations) + "\n";
  text += inFunction ? std::string("void step(inout float4 r, float4 t, int i) { ") + fault.body + " }\n" : "\n";
  text += std::string(shape.declarations) + "\n";
  text += std::string("float4 main(float4 t : TEXCOORD0) : ") + semantic + " {\n" + shape.statements + "\n}\n";
  return Replace(Replace(text, "BODY", inFunction ? "step(r, t, i);" : fault.body), "READ", dead ? "t" : "r");
}

std::vector<std::string> Lines(const std::string& log) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < log.size(); at = end + 1) {
    end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    lines.push_back(log.substr(at, end - at));
  }
  return lines;
}

// The lines but those of X3511.
std::vector<std::string> Bounded(const std::string& log) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(log))
    if (line.find(" X3511: ") == std::string::npos) lines.push_back(line);
  return lines;
}

// Each line once, in the order of its first appearance.
std::vector<std::string> Distinct(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (std::find(out.begin(), out.end(), line) == out.end()) out.push_back(line);
  return out;
}

bool AnyError(const std::vector<std::string>& lines) {
  return std::any_of(lines.begin(), lines.end(),
                     [](const std::string& line) { return line.find(": error X") != std::string::npos; });
}

// The program of `fault` in each shape, at each profile both ways, with its
// loop read and not: the dead loop's log holds the live one's lines, and its
// compile fails only where the live one's log holds an error.
void ExpectDeadLikeLive(const Fault& fault) {
  for (const Shape& shape : kShapes) {
    if (shape.unknownCount && fault.thirdPass) continue;
    for (const bool inFunction : {false, true}) {
      for (const char* profile : {"ps_2_0", "ps_3_0", "vs_2_0", "vs_2_a", "vs_3_0"}) {
        const bool pixel = profile[0] == 'p';
        if (fault.pixelOnly && !pixel) continue;
        for (const DWORD flags : kBoth) {
          const char* semantic = pixel ? "COLOR0" : "POSITION";
          const std::string live = Program(fault, shape, inFunction, false, semantic);
          const std::string dead = Program(fault, shape, inFunction, true, semantic);
          SCOPED_TRACE(std::string(fault.name) + ", loop " + shape.name + (inFunction ? ", in a function" : "") +
                       ", " + profile + " " + std::to_string(flags) + "\n" + dead);
          const CompiledHlsl l = shadertest::CompileHlsl(live, "main", profile, flags);
          ASSERT_TRUE(l.Logged(fault.expected)) << l.log;
          const CompiledHlsl d = shadertest::CompileHlsl(dead, "main", profile, flags);
          const std::vector<std::string> expected = Bounded(l.log);
          if (shape.nested)
            EXPECT_EQ(Distinct(Lines(d.log)), Distinct(expected));
          else
            EXPECT_EQ(Lines(d.log), expected);
          EXPECT_EQ(d.hr, AnyError(expected) ? l.hr : S_OK);
        }
      }
    }
  }
}

TEST(GxlCompilerMend, FaultsInDeadLoopsGiveTheMessagesOfLiveOnes) {
  for (const Fault& fault : kFaults) ExpectDeadLikeLive(fault);
}

// Bodies whose indexes stay in their arrays on every pass that runs but not
// on the pass after, which the loop's rehearsals try and take back: a dead
// loop around them compiled to E_FAIL with no message at all.
const Fault kProbedBodies[] = {
    {"a local array read from its end", "", "float a[3] = {1, 2, 3}; r.x += a[2 - i];", "", false, false},
    {"a local array read by the counter", "", "float a[3] = {1, 2, 3}; r.x += a[i];", "", false, false},
    {"a local array of vectors read ahead", "", "float4 a[4] = {r, t, r, t}; r += a[i + 1];", "", false, false},
    {"a vector's components by the counter", "", "r.x += t[i + 1];", "", false, false},
    {"a uniform array read from its end", "float4 u[3];", "r += u[2 - i];", "", false, false},
};

TEST(GxlCompilerMend, IndexesRehearsedPastTheLastPassLeaveADeadLoopClean) {
  for (const Fault& body : kProbedBodies) ExpectDeadLikeLive(body);
}

// A dead loop whose lowering as a live one takes more than its rehearsal's
// bound (an outer loop over a uniform count around 1,024 passes of constant
// loops) is lowered for each loop's first pass: a fault past the work the
// rehearsal had is still found, and without the fault the program compiles
// at the cost of that bound and the pass.
std::string HeavyNest(const char* fault, const char* read) {
  return std::string("float n0; float4 ua[8];\n") +
         "float f(float x) { " + fault + " }\n"
         "float4 main(float4 t : TEXCOORD0) : COLOR0 {\n"
         "  float4 r = t;\n"
         "  for (int i = 0; i < n0; i++) {\n"
         "    for (int j = 0; j < 32; j++) for (int k = 0; k < 32; k++) r = r * ua[(j + k) % 8] + sin(r.yzwx);\n"
         "    r.x += f(r.y);\n"
         "  }\n"
         "  return " + read + ";\n}\n";
}

TEST(GxlCompilerMend, FaultsPastADeadLoopsRehearsalAreFoundInItsFirstPass) {
  const std::string expected = "(2): error X3507: 'f': function must return a value";
  for (const char* profile : {"ps_2_0", "ps_3_0"}) {
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " " + std::to_string(flags));
      const BoundedRun dead(HeavyNest("x = 2;", "t"), profile, flags);
      EXPECT_EQ(dead.hr, E_FAIL);
      EXPECT_EQ(Distinct(Lines(dead.log)), std::vector<std::string>{expected});
      EXPECT_LT(dead.spent, 2 * gxl::shader::loops::kDeadLoopWork);
      const BoundedRun sound(HeavyNest("return x;", "t"), profile, flags);
      EXPECT_EQ(sound.hr, S_OK) << sound.log;
      EXPECT_LT(sound.spent, 2 * gxl::shader::loops::kDeadLoopWork);
    }
  }
  // The live program's lowering reaches the fault too, past that bound.
  const BoundedRun live(HeavyNest("x = 2;", "r"), "ps_3_0", 0);
  EXPECT_EQ(Distinct(Lines(live.log)), std::vector<std::string>{expected});
  EXPECT_GT(live.spent, 2 * gxl::shader::loops::kDeadLoopWork);
}

// An unrolling inside a dead loop that runs to the iteration limit ends the
// dead loop's lowering as a live one there; each loop's first pass then
// finds the fault past it, which the live program never reaches.
TEST(GxlCompilerMend, FaultsPastAnEndlessLoopInADeadLoopAreFound) {
  const auto program = [](const char* read) {
    return std::string("float n0;\nfloat f(float x) { x = 2; }\n") +
           "float4 main(float4 t : TEXCOORD0) : COLOR0 {\n  float4 r = t;\n"
           "  for (int j = 0; j < 2; j++) { for (int i = 0; i < n0; i++) r = r * 0.5; r.x += f(r.y); }\n"
           "  return " + read + ";\n}\n";
  };
  for (const DWORD flags : kBoth) {
    const CompiledHlsl live = shadertest::CompileHlsl(program("r"), "main", "ps_2_0", flags);
    EXPECT_EQ(Distinct(Lines(live.log)),
              std::vector<std::string>{"(5): error X3511: loop does not appear to terminate in a timely manner "
                                       "(1024 iterations)"});
    const CompiledHlsl dead = shadertest::CompileHlsl(program("t"), "main", "ps_2_0", flags);
    EXPECT_EQ(dead.hr, E_FAIL);
    EXPECT_EQ(Distinct(Lines(dead.log)),
              std::vector<std::string>{"(2): error X3507: 'f': function must return a value"});
  }
}

// The rehearsal's work is the compile's: where the budget ends inside it,
// the compile ends at the bound, and nothing else is said.
TEST(GxlCompilerMend, ADeadLoopsRehearsalSpendsTheCompilesBudget) {
  Bounds small;
  small.budget = gxl::shader::loops::kDeadLoopWork / 2;
  for (const char* fault : {"x = 2;", "return x;"}) {
    const BoundedRun run(HeavyNest(fault, "t"), "ps_3_0", 0, small);
    EXPECT_EQ(run.hr, E_FAIL);
    EXPECT_EQ(run.log, "error X4004: program too complex; the compile exceeded its work bound\n");
  }
}

// An unrolled loop over a uniform count reading a sampler array at an index
// that is no literal names the fault; it failed without a message.
TEST(GxlCompilerMend, SamplerIndexesThatAreNoLiteralInUniformLoopsAreNamed) {
  const std::string source =
      "sampler s[2]; float n0; float k;\n"
      "float4 main(float2 t : TEXCOORD0) : COLOR0 {\n"
      "  float4 r = 0;\n"
      "  for (int i = 0; i < n0; i++) r += tex2D(s[k], t);\n"
      "  return r; }";
  for (const char* profile : {"ps_2_0", "ps_2_b", "ps_3_0"}) {
    for (const DWORD flags : kBoth) {
      const CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
      EXPECT_EQ(c.hr, E_FAIL);
      EXPECT_EQ(Distinct(Lines(c.log)),
                std::vector<std::string>{"(4): error X3512: sampler array index must be a literal expression"})
          << profile << " " << flags;
    }
  }
}

// A dead loop leaves nothing behind in the code: what its rehearsal built
// (values, instructions, banks of literal copies and of the identity table,
// statement numbers, the uses of uniforms) is gone, and the program compiles
// to the same words as without the loop.
TEST(GxlCompilerMend, DeadLoopsLeaveNoTraceInTheCode) {
  const char* bodies[] = {
      "r = r * 0.5 + sin(r);",
      "float4 a[3] = {float4(1, 2, 3, 4), float4(5, 6, 7, 8), float4(9, 1, 2, 3)}; r += a[k];",
      "r.x += t[k] + r[i];",
      "r += mul(r, float4x4(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1));",
  };
  const char* loops[] = {
      "for (int i = 0; i < 3; i++) { BODY }",
      "for (int i = 0; i < n0; i++) { BODY }",
      "for (int j = 0; j < n0; j++) for (int i = 0; i < 2; i++) { BODY }",
  };
  for (const char* body : bodies) {
    for (const char* loop : loops) {
      for (const char* profile : {"ps_2_0", "ps_3_0", "vs_2_0", "vs_3_0"}) {
        for (const DWORD flags : kBoth) {
          const std::string head = std::string("float k; float n0;\nfloat4 main(float4 t : TEXCOORD0) : ") +
                                   (profile[0] == 'p' ? "COLOR0" : "POSITION") + " {\n  float4 r = t;\n  ";
          const std::string tail = "\n  return t * 2;\n}\n";
          const std::string dead = head + Replace(loop, "BODY", body) + tail;
          SCOPED_TRACE(std::string(profile) + " " + std::to_string(flags) + "\n" + dead);
          const CompiledHlsl d = shadertest::CompileHlsl(dead, "main", profile, flags);
          const CompiledHlsl none = shadertest::CompileHlsl(head + tail, "main", profile, flags);
          ASSERT_EQ(none.hr, S_OK) << none.log;
          EXPECT_EQ(d.hr, S_OK) << d.log;
          EXPECT_EQ(d.log, none.log);
          EXPECT_EQ(d.code, none.code) << d.text << "\n" << none.text;
        }
      }
    }
  }
}

// Nests of loops over uniform counts cost their first passes, one each: no
// pass is lowered twice to feed a condition no later pass reads.
TEST(GxlCompilerMend, DeepDeadNestsCostOnePassALoop) {
  constexpr int kDepth = 16;
  for (const bool doLoops : {false, true}) {
    std::string text = "float n0;\nfloat4 main(float4 t : TEXCOORD0) : COLOR0 {\n  float4 r = t;\n";
    for (int d = 0; d < kDepth; ++d)
      text += doLoops ? "  int i" + std::to_string(d) + " = 0; do {\n"
                      : "  for (int i" + std::to_string(d) + " = 0; i" + std::to_string(d) + " < n0; i" +
                            std::to_string(d) + "++) {\n";
    text += "  r = r * 0.5 + sin(r.yzwx);\n";
    for (int d = kDepth; d-- > 0;)
      text += doLoops ? "  i" + std::to_string(d) + "++; } while (i" + std::to_string(d) + " < n0);\n" : "  }\n";
    text += "  return t;\n}\n";
    for (const char* profile : {"ps_2_0", "ps_3_0"}) {
      for (const DWORD flags : kBoth) {
        SCOPED_TRACE(std::string(profile) + " " + std::to_string(flags) + "\n" + text);
        const BoundedRun run(text, profile, flags);
        EXPECT_EQ(run.hr, S_OK) << run.log;
        EXPECT_LT(run.spent, 2 * gxl::shader::loops::kDeadLoopWork);
      }
    }
  }
}

}  // namespace

// The generator's later loop shapes, each behind its own option: the shaped
// programs hold the shape and parse, and on a small instance of each, worked
// out by hand from its text, the generator's own run gives the right value.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "generated_program.h"
#include "tests/gxl/shader/hlsl_parse_run.h"
#include "tests/support/hlslgen/hlslgen.h"

namespace {

using hlslgen::Generator;
using hlslgen::Kind;
using hlslgen::Reads;
using hlslgen::Statement;

enum class Shape { Reversed, ExitReads, OuterBounds, WhileLoops, Calls, DeadNests, ExitNests, KeptLoops };

hlslgen::Options With(hlslgen::Options options, Shape shape) {
  switch (shape) {
    case Shape::Reversed: options.reversed = true; break;
    case Shape::ExitReads: options.exitReads = true; break;
    case Shape::OuterBounds: options.outerBounds = true; break;
    case Shape::WhileLoops: options.whileLoops = true; break;
    case Shape::Calls: options.calls = true; break;
    case Shape::DeadNests: options.deadNests = true; break;
    case Shape::ExitNests: options.exitNests = true; break;
    case Shape::KeptLoops: options.keptLoops = true; break;
  }
  return options;
}


bool IsLoop(const Statement& s) {
  return s.kind == Statement::Kind::For || s.kind == Statement::Kind::DoWhile || s.kind == Statement::Kind::While;
}

// Every statement under `k`, itself included.
void Under(const Generator& g, std::uint32_t k, std::vector<std::uint32_t>& out) {
  out.push_back(k);
  const Statement& s = g.Statements()[k];
  for (std::uint32_t b : s.body) Under(g, b, out);
  for (std::uint32_t b : s.otherwise) Under(g, b, out);
}

// The shapes a program holds, by name.
std::map<std::string, int> ShapesOf(const Generator& g) {
  std::map<std::string, int> found;
  const std::vector<Statement>& program = g.Statements();
  auto counter = [&](std::uint32_t local) {
    return [&g, local](const hlslgen::Node& n) { return n.kind == Kind::Local && n.variable == local; };
  };
  for (std::uint32_t k = 0; k < program.size(); ++k) {
    const Statement& s = program[k];
    if (s.kind == Statement::Kind::For && s.step < 0) ++found["counted down"];
    if (s.kind == Statement::Kind::While) ++found["while loop"];
    if (s.kind == Statement::Kind::Call) ++found["call with an inout argument"];
    if (s.kind == Statement::Kind::Assign &&
        Reads(g, s.stored, [](const hlslgen::Node& n) { return n.kind == Kind::UserCall; }))
      ++found["call in an expression"];
    if (!IsLoop(s)) continue;
    std::vector<std::uint32_t> nest;
    Under(g, k, nest);
    // Reversed index: n - i, i the loop's own counter.
    for (std::uint32_t b : nest)
      if (program[b].kind == Statement::Kind::Assign &&
          Reads(g, program[b].stored, [&](const hlslgen::Node& n) {
            return n.kind == Kind::Element && g.At(n.children[0]).op == hlslgen::Op::Subtract &&
                   Reads(g, n.children[0], counter(s.counter));
          }))
        ++found["array read at a reversed index"];
    if (Reads(g, s.value, [&](const hlslgen::Node& n) {
          return (n.kind == Kind::Element || n.kind == Kind::LocalElement) &&
                 Reads(g, n.children[0], counter(s.counter));
        }))
      ++found["exit test reading an array at the counter"];
    // An inner bound of the outer counter: the condition reads a counter
    // other than its own in the bound.
    for (std::uint32_t b : s.body)
      if (program[b].kind == Statement::Kind::For &&
          Reads(g, program[b].value, counter(s.counter)))
        ++found["bound of the outer counter"];
    // Nests: what each holds.
    bool whileLoop = false, call = false, writesOuter = false, constant = false, exp2 = false, arrayWrite = false;
    for (std::uint32_t b : nest) {
      const Statement& t = program[b];
      whileLoop = whileLoop || t.kind == Statement::Kind::While;
      if (t.kind == Statement::Kind::Call) {
        call = true;
        const hlslgen::Function& f = g.Functions()[g.At(t.value).variable];
        writesOuter = writesOuter || (t.target < s.counter && f.update != hlslgen::kNone);
      }
      if (t.kind == Statement::Kind::Assign && t.target < s.counter) writesOuter = true;
      if (t.kind == Statement::Kind::Assign && t.element != hlslgen::kNone) arrayWrite = true;
      if (t.kind == Statement::Kind::Assign &&
          Reads(g, t.stored, [](const hlslgen::Node& n) { return n.fn == hlslgen::Fn::Exp2; }))
        exp2 = true;
      constant = constant || (t.kind == Statement::Kind::For && b != k);
    }
    if (whileLoop && call && !writesOuter) ++found["dead nest with a while loop and a call"];
    if (s.dynamic && s.before != hlslgen::kNone && s.after != hlslgen::kNone && arrayWrite) ++found["exit nest"];
    if (constant && exp2 && s.kind != Statement::Kind::While && Reads(g, s.value, [](const hlslgen::Node& n) {
          return n.kind == Kind::Binary && n.op == hlslgen::Op::And;
        }))
      ++found["kept loop inside a loop that may end early"];
  }
  return found;
}

// Over 300 seeds with each option alone, the shape it promises is made, and
// the text parses as a vertex and as a pixel function.
TEST(GxlHlslGenLaterShapes, EachOptionMakesItsShape) {
  const struct {
    Shape shape;
    const char* name;
    const char* text;  // in the printed program
  } kShapes[] = {
      {Shape::Reversed, "counted down", "--)"},
      {Shape::Reversed, "array read at a reversed index", " - i"},
      {Shape::ExitReads, "exit test reading an array at the counter", "] "},
      {Shape::OuterBounds, "bound of the outer counter", "(2 * i"},
      {Shape::WhileLoops, "while loop", "while ("},
      {Shape::Calls, "call with an inout argument", "inout "},
      {Shape::Calls, "call in an expression", "return "},
      {Shape::DeadNests, "dead nest with a while loop and a call", "while ("},
      {Shape::ExitNests, "exit nest", "--) {"},
      {Shape::KeptLoops, "kept loop inside a loop that may end early", "exp2("},
  };
  for (const auto& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    const hlslgen::Options options = With(shadertest::LoopShapes(), shape.shape);
    int made = 0, texts = 0;
    for (std::uint32_t seed = 0; seed < 300; ++seed) {
      const Generator g(seed, options);
      made += ShapesOf(g)[shape.name] > 0;
      const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, seed % 2 == 0, seed);
      texts += p.source.find(shape.text) != std::string::npos;
      if (seed % 10) continue;
      shadertest::ParseRun parse(p.source);
      EXPECT_EQ(parse.hr, S_OK) << "seed " << seed << "\n" << p.source << parse.log;
      EXPECT_EQ(parse.log.find("error"), std::string::npos) << "seed " << seed << "\n" << p.source << parse.log;
    }
    EXPECT_GT(made, 20);
    EXPECT_GT(texts, 10);
  }
}

const hlslgen::Options kSmall = shadertest::SmallShapes();

double V(const Generator& g, std::size_t variable, std::size_t component = 0) {
  return g.Variables().at(variable).value.at(component);
}

// Each instance's text, and its value worked out from the text and the
// values the generator gave its uniforms and inputs.
TEST(GxlHlslGenLaterShapes, SmallInstancesRunAsTheirTextSays) {
  const struct {
    Shape shape;
    std::uint64_t seed;
    std::vector<const char*> text;
    std::function<std::vector<double>(const Generator&)> expected;
  } kInstances[] = {
      {Shape::Reversed,
       130,
       {"float r = (v0 ? v1 : 2.0625);", "for (int i0 = 4; (i0 >= 2); i0--) {",
        "r += (((float)i0) * ((float)i0));"},
       [](const Generator& g) { return std::vector<double>{(V(g, 0) != 0 ? V(g, 1) : 2.0625) + 16 + 9 + 4}; }},
      {Shape::Reversed,
       13,
       {"int2 r = (int2((-7), 0) ? int2(2, 4) : v0);", "for (int i0 = 0; (i0 < 2); i0++) {",
        "r.x += ((v1 ? (-1) : 9) + ((int)exp2(v2[(1 - i0)])));", "r.y = (-1);"},
       [](const Generator& g) {
         double x = 2;
         for (int i = 0; i < 2; ++i) x += (V(g, 1) != 0 ? -1 : 9) + std::trunc(std::exp2(V(g, 2, 1 - i)));
         return std::vector<double>{x, -1};
       }},
      // The last test reads v1[-1]: the bound decides it alone.
      {Shape::ExitReads,
       17467,
       {"int r = (-v0);", "for (int i0 = 0; ((i0 < 2) && ((v1[(1 - i0)]).x >= (-1.15625))); i0++) {",
        "r -= (((int3)i0))[v2];"},
       [](const Generator& g) {
         double r = -V(g, 0);
         for (int i = 0; i < 2 && V(g, 1, 2 * (1 - i)) >= -1.15625; ++i) r -= i;
         return std::vector<double>{r};
       }},
      {Shape::OuterBounds,
       25,
       {"for (int i0 = 1; (i0 < 4); i0++) {", "for (int i1 = 0; (i1 < (i0 + 1)); i1++) {", "r -= ((i0).x + i1);"},
       [](const Generator& g) {
         double r = -V(g, 0);
         for (int i = 1; i < 4; ++i)
           for (int j = 0; j < i + 1; ++j) r -= i + j;
         return std::vector<double>{r};
       }},
      {Shape::OuterBounds,
       62,
       {"for (int i0 = 1; (i0 <= 2); i0++) {", "for (int i1 = 0; (i1 < (v0 - i0)); i1++) {", "r -= (v1)[3];"},
       [](const Generator& g) {
         double r = 2.5;
         for (int i = 1; i <= 2; ++i)
           for (int j = 0; j < V(g, 0) - i; ++j) r -= V(g, 1, 3);
         return std::vector<double>{r};
       }},
      {Shape::WhileLoops,
       5961,
       {"float r = (float3((-1.5), (-1.625), (-0.1875)))[2];", "float j0 = 0;",
        "while (((j0 < 3.0) && (r != (-1.1875)))) {", "r *= (v0 - (-2.3125));", "j0 += 1;"},
       [](const Generator& g) {
         double r = -0.1875;
         for (int j = 0; j < 3 && r != -1.1875; ++j) r *= V(g, 0) + 2.3125;
         return std::vector<double>{r};
       }},
      {Shape::Calls,
       21,
       {"float4 f0(float p0, inout float3 q0) {", "q0 = (q0 % p0);", "f0((v0 + 0.125), r);"},
       [](const Generator& g) {
         std::vector<double> r = V(g, 0) != 0 ? std::vector<double>{0.375, 1.625, 3.0} : g.Variables()[1].value;
         for (double& x : r) x = std::fmod(x, V(g, 0) + 0.125);
         return r;
       }},
      {Shape::Calls,
       28,
       {"float2 f0(float4 p0, inout float2 q0) {", "q0 = ((-3.9375) - q0);", "float2 r = ((float2)true);",
        "f0((v0 ? v1 : v1), r);"},
       [](const Generator&) { return std::vector<double>{-4.9375, -4.9375}; }},
      // Nothing the nest computes reaches r.
      {Shape::DeadNests,
       11,
       {"float3 r = (v0).xxx;", "while (((j1 < 3.0) && (v0 <= v0))) {", "f1((float4(3.0, 0.9375, 1.5, (-1.0625))"},
       [](const Generator& g) { return std::vector<double>(3, V(g, 0)); }},
      {Shape::ExitNests,
       127,
       {"for (int i1 = 0; (i1 < v2); i1++) {", "for (int i2 = 3; ((i2 > 0) && (r >= v2)); i2--) {",
        "for (int i3 = 0; ((i3 < 3) && ((a1[i3]).z < 1.65625)); i3++) {", "a1[(4 - i3)] +=",
        "r = ((v1)[v3] + (a1[3]).w);"},
       [](const Generator& g) {
         // r = 2.5 % -2.125 = 0.375 stays below v2: the middle loop never
         // runs, and a1[3] = (3.625, 3.9375, -0.375, -1.125).wyzy.
         EXPECT_LT(std::fmod(V(g, 0), -2.125), V(g, 2));
         return std::vector<double>{V(g, 1, static_cast<std::size_t>(V(g, 3))) + 3.9375};
       }},
      {Shape::KeptLoops,
       43,
       {"float r = (-v0);", "do {", "for (int i1 = 0; (i1 < 3); i1++) {",
        "r += ((v1 ? (-2.625) : r) + exp2(v2[i1]));", "} while (((d0 < 2) && (d0 <= v1)));"},
       [](const Generator& g) {
         double r = -V(g, 0);
         for (int d = 1;; ++d) {
           for (int i = 0; i < 3; ++i) r += (V(g, 1) != 0 ? -2.625 : r) + std::exp2(V(g, 2, i));
           if (!(d < 2 && d <= V(g, 1))) break;
         }
         return std::vector<double>{r};
       }},
  };
  for (const auto& instance : kInstances) {
    const Generator g(instance.seed, With(kSmall, instance.shape));
    const std::string text = g.FunctionText() + g.Body();
    SCOPED_TRACE("seed " + std::to_string(instance.seed) + "\n" + text);
    for (const char* line : instance.text) EXPECT_NE(text.find(line), std::string::npos) << line;
    const std::vector<double> want = instance.expected(g);
    ASSERT_EQ(g.Result().size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(g.Result()[k], want[k], 1e-9 * (1 + std::fabs(want[k])));
  }
}

// The counts the differential reports the work bound's refusals by.
TEST(GxlHlslGenLaterShapes, StatementCountCountsWhatThePrintedProgramHolds) {
  const Generator g(11, With(kSmall, Shape::DeadNests));
  // r's declaration; the for loop; the while loop with its counter's
  // declaration and two declarations in it; the call; the constant loop and
  // the declaration in it; three functions of a return each.
  EXPECT_EQ(g.StatementCount(), 1u + 1 + 2 + 2 + 1 + 2 + 3);
}

}  // namespace

// The generator's nest shapes, bounded by the uniform n0, each behind its own
// option: the shaped programs hold the shape and parse, and on small
// instances, worked out by hand from their text, the generator's own run
// gives the right value.
#include <gtest/gtest.h>

#include <algorithm>
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
using hlslgen::kNone;
using hlslgen::Reads;
using hlslgen::Statement;

enum class Shape { DeepNests, UniformWhiles, LoopCalls, DeadUniformNests, FewPassLoops };

hlslgen::Options With(hlslgen::Options options, Shape shape) {
  switch (shape) {
    case Shape::DeepNests: options.deepNests = true; break;
    case Shape::UniformWhiles: options.uniformWhiles = true; break;
    case Shape::LoopCalls: options.loopCalls = true; break;
    case Shape::DeadUniformNests: options.deadUniformNests = true; break;
    case Shape::FewPassLoops: options.fewPassLoops = true; break;
  }
  return options;
}

bool IsLoop(const Statement& s) {
  return s.kind == Statement::Kind::For || s.kind == Statement::Kind::DoWhile || s.kind == Statement::Kind::While;
}

bool ReadsN0(const Generator& g, std::uint32_t node) {
  return Reads(g, node, [&g](const hlslgen::Node& n) {
    return n.kind == Kind::Variable && g.Variables()[n.variable].name == "n0";
  });
}

// Statements under `k` (itself not included), with the loops around each.
void Under(const Generator& g, std::uint32_t k, std::uint32_t loops,
           const std::function<void(std::uint32_t, std::uint32_t)>& visit) {
  const Statement& s = g.Statements()[k];
  const std::uint32_t inside = loops + IsLoop(s);
  for (const auto* block : {&s.body, &s.otherwise})
    for (std::uint32_t b : *block) {
      visit(b, inside);
      Under(g, b, inside, visit);
    }
}

// Whether any local declared before loop `k` is written under it.
bool WritesOutside(const Generator& g, std::uint32_t k) {
  const std::uint32_t first = g.Statements()[k].counter;  // the nest's first local
  bool writes = false;
  Under(g, k, 0, [&](std::uint32_t b, std::uint32_t) {
    const Statement& t = g.Statements()[b];
    const bool assigns = t.kind == Statement::Kind::Assign ||
                         (t.kind == Statement::Kind::Call && g.Functions()[g.At(t.value).variable].update != kNone);
    writes = writes || (assigns && t.target < first);
  });
  return writes;
}

// The shapes a program's loops hold, by name.
std::map<std::string, int> ShapesOf(const Generator& g) {
  std::map<std::string, int> found;
  const std::vector<Statement>& program = g.Statements();
  auto n0Loop = [&](std::uint32_t b) { return IsLoop(program[b]) && ReadsN0(g, program[b].value); };
  for (std::uint32_t k : g.TopLevel()) {
    const Statement& s = program[k];
    if (!IsLoop(s)) continue;
    bool n0 = n0Loop(k), uniformWhile = false, call = false, outer = false;
    std::uint32_t depth = 1;
    Under(g, k, 1, [&](std::uint32_t b, std::uint32_t loops) {
      const Statement& t = program[b];
      depth = std::max(depth, loops + IsLoop(t));
      n0 = n0 || n0Loop(b);
      uniformWhile = uniformWhile || (t.kind != Statement::Kind::For && n0Loop(b));
      // Counted from, or bounded by, a counter of the loops around it.
      auto outerCounter = [&](const hlslgen::Node& n) {
        return n.kind == Kind::Local && n.variable != t.counter && g.Locals()[n.variable].name[0] == 'i';
      };
      outer = outer || (t.kind == Statement::Kind::For && (t.from != kNone || Reads(g, t.value, outerCounter)));
      for (std::uint32_t tree : {t.value, t.stored})
        call = call || Reads(g, tree, [&](const hlslgen::Node& n) {
                 if (n.kind != Kind::UserCall) return false;
                 const std::vector<std::uint32_t>& body = g.Functions()[n.variable].body;
                 return std::any_of(body.begin(), body.end(), n0Loop);
               });
    });
    if (depth >= 3 && n0 && outer) ++found["nest 3 to 5 deep of n0 and outer counters"];
    if (s.kind == Statement::Kind::For && uniformWhile) ++found["while or do loop of length n0 in a counted loop"];
    if (call) ++found["call in a loop of a function holding a loop of n0"];
    if (depth >= 2 && n0 && !WritesOutside(g, k)) ++found["nest of n0 whose results nothing reads"];
    if (s.count <= 3 && !ReadsN0(g, s.value) && depth >= 2 && n0) ++found["few-pass loop around a nest of n0"];
  }
  return found;
}

// Over 40 seeds with each option alone, the shape it promises is made, and
// the text parses as a vertex and as a pixel function.
TEST(GxlHlslGenNestShapes, EachOptionMakesItsShape) {
  const struct {
    Shape shape;
    const char* name;
  } kShapes[] = {
      {Shape::DeepNests, "nest 3 to 5 deep of n0 and outer counters"},
      {Shape::UniformWhiles, "while or do loop of length n0 in a counted loop"},
      {Shape::LoopCalls, "call in a loop of a function holding a loop of n0"},
      {Shape::DeadUniformNests, "nest of n0 whose results nothing reads"},
      {Shape::FewPassLoops, "few-pass loop around a nest of n0"},
  };
  for (const auto& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    hlslgen::Options options = With(shadertest::LoopShapes(), shape.shape);
    options.maxInstructions = 0;
    int made = 0;
    for (std::uint32_t seed = 0; seed < 40; ++seed) {
      const Generator g(seed, options);
      made += ShapesOf(g)[shape.name] > 0;
      if (seed % 10) continue;
      shadertest::ParseRun parse(shadertest::MakeGeneratedProgram(g, seed % 20 == 0, seed).source);
      EXPECT_EQ(parse.hr, S_OK) << "seed " << seed << "\n" << g.Body() << parse.log;
      EXPECT_EQ(parse.log.find("error"), std::string::npos) << "seed " << seed << "\n" << g.Body() << parse.log;
    }
    EXPECT_GT(made, 20);
  }
}

const hlslgen::Options kSmall = shadertest::SmallShapes();

double V(const Generator& g, const std::string& name, std::size_t component = 0) {
  for (const hlslgen::Variable& v : g.Variables())
    if (v.name == name) return v.value.at(component);
  ADD_FAILURE() << "no " << name;
  return 0;
}

// Each instance's text, its nest depth and statements (as the differential
// counts the work bound's refusals) and its value, worked out from the text
// and the values the generator gave its uniforms.
TEST(GxlHlslGenNestShapes, SmallInstancesRunAsTheirTextSays) {
  const struct {
    Shape shape;
    std::uint64_t seed;
    std::vector<const char*> text;
    std::uint32_t depth, statements;  // a call counts its function's loops and statements
    std::function<std::vector<double>(const Generator&)> expected;
  } kInstances[] = {
      // From the outer counter to n0, and a test that ends the innermost loop.
      {Shape::DeepNests,
       11,
       {"for (int i1 = i0; (i1 < n0); i1++) {", "for (int i3 = 0; ((i3 < n0) && ((i1 >= v2) || false)); i3++) {",
        "r.yz *= ((v0 - float2((-2.375), 0.5625)) * ((float)i3));", "r.yz *= (float2((-0.375), (-0.4375)) / v0);"},
       4,
       9,
       [](const Generator& g) {
         const double v0 = V(g, "v0"), v2 = V(g, "v2"), n0 = V(g, "n0");
         double x = v0, y = v0, z = v0;
         for (int i0 = 1; i0 < 3; ++i0) {
           for (int i1 = i0; i1 < n0; ++i1) {
             y -= i0 * i1;  // both components of (float2)i0 are i0
             for (int i2 = 0; i2 < n0; ++i2) {
               for (int i3 = 0; i3 < n0 && i1 >= v2; ++i3) y *= (v0 + 2.375) * i3, z *= (v0 - 0.5625) * i3;
               x += v0 - 2.75, z += v0 - 0.9375;
             }
           }
           y *= -0.375 / v0, z *= -0.4375 / v0;
         }
         return std::vector<double>{x, y, z};
       }},
      // A while loop's counter after the loop.
      {Shape::UniformWhiles,
       8,
       {"for (int i0 = 0; (i0 < 3); i0++) {", "while ((j1 < n0)) {", "r -= (j1 * n0);"},
       2,
       6,  // the while loop's counter declared before it counts
       [](const Generator& g) {
         const double n0 = V(g, "n0");
         double r = V(g, "v0", static_cast<std::size_t>(V(g, "v2")));
         for (int i0 = 0; i0 < 3; ++i0) {
           double j1 = 0;
           while (j1 < n0) r += j1, j1 += 1;
           r -= j1 * n0;
         }
         return std::vector<double>{r};
       }},
      {Shape::LoopCalls,
       5,
       {"float2 e2 = ((p0).y - p0);", "for (int i3 = 0; (i3 < (n0 - i2)); i3++) {",
        "return ((int2((-2), 6) ? p0 : float2(0.9375, 2.9375)) + e2);",
        "float2 e5 = f0((n0 ? float2(1.5, 2.875) : ((float2)i0)));", "r += ((int)(e5).x);"},
       3,
       10,
       [](const Generator& g) {
         const double n0 = V(g, "n0");
         auto f0 = [n0](double px, double py) {
           double ex = py - px, ey = 0;
           for (int i2 = 0; i2 < n0; ++i2) {
             ex -= px * i2, ey -= px * i2;
             for (int i3 = 0; i3 < n0 - i2; ++i3) ex -= px * i3, ey -= py * i3;
           }
           return std::vector<double>{px + ex, py + ey};
         };
         double r = V(g, "v0") * V(g, "v1");
         for (int i0 = 0; i0 < n0; ++i0) r += std::trunc(f0(1.5, 2.875)[0]);
         return std::vector<double>{r};
       }},
      // Nothing the nest computes reaches r.
      {Shape::DeadUniformNests,
       12,
       {"float2 r = (v0).zy;", "for (int i2 = 0; (i2 < (n0 - i0)); i2++) {", "for (int i3 = i2; (n0 > i3); i3++) {"},
       4,
       8,
       [](const Generator& g) { return std::vector<double>{V(g, "v0", 2), V(g, "v0", 1)}; }},
      // Ended by a test of r.
      {Shape::FewPassLoops,
       5,
       {"while (((j0 < 2.0) && (r < 7))) {", "r += (((int)j0) + i1);", "r -= (int3(2, (-1), (-4)))[v3];"},
       2,
       8,
       [](const Generator& g) {
         const double n0 = V(g, "n0");
         const int v3 = static_cast<int>(V(g, "v3"));
         const int two[] = {2, 5}, three[] = {2, -1, -4};
         double r = V(g, "v0") * V(g, "v1");
         for (double j0 = 0; j0 < 2.0 && r < 7; j0 += 1) {
           for (int i1 = 0; i1 < n0; ++i1) r += j0 + i1;
           for (int i2 = 0; i2 < n0; ++i2) r -= two[v3];
           r -= three[v3];
         }
         return std::vector<double>{r};
       }},
  };
  for (const auto& instance : kInstances) {
    const Generator g(instance.seed, With(kSmall, instance.shape));
    const std::string text = g.FunctionText() + g.Body();
    SCOPED_TRACE("seed " + std::to_string(instance.seed) + "\n" + text);
    for (const char* line : instance.text) EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(g.NestDepth(), instance.depth);
    EXPECT_EQ(g.StatementCount(), instance.statements);
    const std::vector<double> want = instance.expected(g);
    ASSERT_EQ(g.Result().size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(g.Result()[k], want[k], 1e-9 * (1 + std::fabs(want[k])));
  }
}

}  // namespace

// The generator's nest shapes, bounded by the uniform n0, each behind its own
// option: the shaped programs hold the shape and parse, and on small
// instances, worked out by hand from their text, the generator's own run
// gives the right value.
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

// The deepest nest of loops in the program's own statements, calls aside.
std::uint32_t OwnDepth(const Generator& g, std::uint32_t k) {
  std::uint32_t deepest = 0;
  Under(g, k, 0, [&](std::uint32_t b, std::uint32_t loops) { deepest = std::max(deepest, loops + IsLoop(g.Statements()[b])); });
  return std::max(deepest, std::uint32_t{IsLoop(g.Statements()[k])});
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

// The shapes a program holds, by name.
std::map<std::string, int> ShapesOf(const Generator& g) {
  std::map<std::string, int> found;
  const std::vector<Statement>& program = g.Statements();
  std::vector<bool> looping(g.Functions().size());
  for (std::uint32_t f = 0; f < g.Functions().size(); ++f)
    for (std::uint32_t b : g.Functions()[f].body) looping[f] = looping[f] || (IsLoop(program[b]) && ReadsN0(g, program[b].value));
  for (std::uint32_t k : g.TopLevel()) {
    const Statement& s = program[k];
    if (!IsLoop(s)) continue;
    bool n0 = ReadsN0(g, s.value), uniformWhile = false, call = false, from = false, outer = false;
    Under(g, k, 1, [&](std::uint32_t b, std::uint32_t loops) {
      const Statement& t = program[b];
      const bool loop = IsLoop(t);
      if (loop && ReadsN0(g, t.value)) n0 = true;
      uniformWhile = uniformWhile || (t.kind != Statement::Kind::For && loop && ReadsN0(g, t.value));
      from = from || (t.kind == Statement::Kind::For && t.from != kNone);
      // A bound read of a counter of the loops around it.
      outer = outer || (t.kind == Statement::Kind::For && loops >= 1 && Reads(g, t.value, [&](const hlslgen::Node& n) {
                          return n.kind == Kind::Local && n.variable != t.counter && g.Locals()[n.variable].name[0] == 'i';
                        }));
      for (std::uint32_t tree : {t.value, t.stored})
        call = call || (loops >= 1 && Reads(g, tree, [&](const hlslgen::Node& n) {
                          return n.kind == Kind::UserCall && looping[n.variable];
                        }));
    });
    const std::uint32_t depth = OwnDepth(g, k);
    if (depth >= 3 && n0 && (from || outer)) ++found["nest 3 to 5 deep of n0 and outer counters"];
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
    const char* text;  // in the printed program
  } kShapes[] = {
      {Shape::DeepNests, "nest 3 to 5 deep of n0 and outer counters", " < n0)"},
      {Shape::UniformWhiles, "while or do loop of length n0 in a counted loop", "while ("},
      {Shape::LoopCalls, "call in a loop of a function holding a loop of n0", "return ("},
      {Shape::DeadUniformNests, "nest of n0 whose results nothing reads", "n0"},
      {Shape::FewPassLoops, "few-pass loop around a nest of n0", "n0"},
  };
  for (const auto& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    hlslgen::Options options = With(shadertest::LoopShapes(), shape.shape);
    options.maxInstructions = 0;
    int made = 0, texts = 0;
    for (std::uint32_t seed = 0; seed < 40; ++seed) {
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
    EXPECT_GT(texts, 20);
  }
}

// Small programs: one statement after r's declaration, expressions of one
// operation.
const hlslgen::Options kSmall{.maxDepth = 1,
                              .maxVariables = 2,
                              .matrices = false,
                              .intrinsics = false,
                              .flowControl = true,
                              .statements = 1,
                              .maxLoopDepth = 1,
                              .maxLoopCount = 3,
                              .maxInstructions = 0};

double V(const Generator& g, const std::string& name, std::size_t component = 0) {
  for (const hlslgen::Variable& v : g.Variables())
    if (v.name == name) return v.value.at(component);
  ADD_FAILURE() << "no " << name;
  return 0;
}

// Each instance's text, and its value worked out from the text and the
// values the generator gave its uniforms.
TEST(GxlHlslGenNestShapes, SmallInstancesRunAsTheirTextSays) {
  const struct {
    Shape shape;
    std::uint64_t seed;
    std::vector<const char*> text;
    std::function<std::vector<double>(const Generator&)> expected;
  } kInstances[] = {
      {Shape::DeepNests,
       6,
       {"int4 r = (v0 ? v0 : int4(1, 1, 5, (-3)));", "for (int i0 = 0; (i0 < n0); i0++) {",
        "for (int i1 = 0; (i1 < n0); i1++) {", "for (int i2 = 0; (n0 > i2); i2++) {",
        "for (int i3 = 0; (i3 < (2 * i2)); i3++) {", "r.zw += ((-((int2)i3)) + i3);", "r += (((int4)true) + i2);"},
       [](const Generator& g) {
         std::vector<double> r;
         for (std::size_t c = 0; c < 4; ++c) r.push_back(V(g, "v0", c));  // no component is 0
         const double n0 = V(g, "n0");
         for (int i0 = 0; i0 < n0; ++i0)
           for (int i1 = 0; i1 < n0; ++i1)
             for (int i2 = 0; n0 > i2; ++i2) {
               for (int i3 = 0; i3 < 2 * i2; ++i3) r[2] += -i3 + i3, r[3] += -i3 + i3;
               for (double& x : r) x += 1 + i2;
             }
         return r;
       }},
      // From the outer counter to n0, and a test that ends the innermost loop.
      {Shape::DeepNests,
       11,
       {"float3 r = (v0).xxx;", "for (int i0 = 1; (i0 < 3); i0++) {", "for (int i1 = i0; (i1 < n0); i1++) {",
        "r.y -= ((((float2)i0))[v2] * ((float)i1));", "for (int i2 = 0; (i2 < n0); i2++) {",
        "for (int i3 = 0; ((i3 < n0) && ((i1 >= v2) || false)); i3++) {",
        "r.yz *= ((v0 - float2((-2.375), 0.5625)) * ((float)i3));", "r.xz += (v0 - float2(2.75, 0.9375));",
        "r.yz *= (float2((-0.375), (-0.4375)) / v0);"},
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
      // A do loop's counter runs 1 to n0.
      {Shape::UniformWhiles,
       5,
       {"int r = (v0 * v1);", "for (int i0 = 0; (i0 < 2); i0++) {", "r += ((v1 - i0) + i0);", "int d1 = 0;",
        "r += ((((int4)i0)).x + d1);", "r -= (+v1);", "} while ((d1 < n0));"},
       [](const Generator& g) {
         const double v1 = V(g, "v1"), n0 = V(g, "n0");
         double r = V(g, "v0") * v1;
         for (int i0 = 0; i0 < 2; ++i0) {
           r += v1;
           int d1 = 0;
           do {
             d1 += 1;
             r += i0 + d1 - v1;
           } while (d1 < n0);
         }
         return std::vector<double>{r};
       }},
      // A while loop's counter after the loop.
      {Shape::UniformWhiles,
       8,
       {"float r = (v0)[v2];", "for (int i0 = 0; (i0 < 3); i0++) {", "float j1 = 0;", "while ((j1 < n0)) {",
        "r += (((float)true) * ((float)j1));", "r -= (j1 * n0);"},
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
       {"float2 f0(float2 p0) {", "float2 e2 = ((p0).y - p0);", "for (int i2 = 0; (i2 < n0); i2++) {",
        "e2 -= (((p0).x).xx * ((float)i2));", "for (int i3 = 0; (i3 < (n0 - i2)); i3++) {",
        "e2 -= ((int2((-8), (-8)) ? p0 : p0) * ((float)i3));",
        "return ((int2((-2), 6) ? p0 : float2(0.9375, 2.9375)) + e2);", "int r = (v0 * v1);",
        "float2 e5 = f0((n0 ? float2(1.5, 2.875) : ((float2)i0)));", "r += ((int)(e5).x);"},
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
      {Shape::LoopCalls,
       8,
       {"float4 f0(float p0) {", "float4 e2 = float4(v4, p0, 2.75);", "for (int i2 = 0; (n0 > i2); i2++) {",
        "e2 += (float4(false, int3(0, 9, 6)) * ((float)i2));", "for (int i3 = 0; (i3 < (2 * i2)); i3++) {",
        "e2 -= float4(int3((-5), 1, (-5)), 0);", "return (float4(v5, p0) + e2);", "float4 e5 = f0((-r));",
        "r -= (e5).z;"},
       [](const Generator& g) {
         const double n0 = V(g, "n0");
         double r = V(g, "v0", static_cast<std::size_t>(V(g, "v2")));
         for (int i0 = 0; i0 < n0; ++i0) {
           // The z component: p0 in, 9 * i2 and 5 per inner pass added, v5.z.
           double z = -r;
           for (int i2 = 0; n0 > i2; ++i2) {
             z += 9.0 * i2;
             for (int i3 = 0; i3 < 2 * i2; ++i3) z -= -5;
           }
           r -= V(g, "v5", 2) + z;
         }
         return std::vector<double>{r};
       }},
      // Nothing the nest computes reaches r.
      {Shape::DeadUniformNests,
       12,
       {"float2 r = (v0).zy;", "for (int i2 = 0; (i2 < (n0 - i0)); i2++) {", "for (int i3 = i2; (n0 > i3); i3++) {",
        "float4 e5 = f0((((float4)i3) / v0));"},
       [](const Generator& g) { return std::vector<double>{V(g, "v0", 2), V(g, "v0", 1)}; }},
      // Ended by a test of r.
      {Shape::FewPassLoops,
       5,
       {"int r = (v0 * v1);", "while (((j0 < 2.0) && (r < 7))) {", "for (int i1 = 0; (i1 < n0); i1++) {",
        "r += (((int)j0) + i1);", "for (int i2 = 0; (i2 < n0); i2++) {", "r -= (int2(2, 5))[v3];",
        "r -= (int3(2, (-1), (-4)))[v3];"},
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
      {Shape::FewPassLoops,
       10,
       {"int r = (v0 * v1);", "for (int i0 = 0; (i0 < 2); i0++) {", "for (int i2 = 0; (i2 < (2 * i1)); i2++) {",
        "r += ((i2 * v0) + i3);", "r -= (v1 ? v1 : i5);", "r -= (int3(8, (-8), 8))[v3];"},
       [](const Generator& g) {
         const double v0 = V(g, "v0"), v1 = V(g, "v1"), n0 = V(g, "n0");
         const int v3 = static_cast<int>(V(g, "v3"));
         const int three[] = {8, -8, 8};
         double r = v0 * v1;
         for (int i0 = 0; i0 < 2; ++i0) {
           for (int i1 = 0; n0 > i1; ++i1)
             for (int i2 = 0; i2 < 2 * i1; ++i2)
               for (int i3 = 0; i3 < 3; ++i3) r += i2 * v0 + i3;
           for (int i4 = 0; i4 < n0; ++i4) {
             for (int i5 = 0; i5 < 3; ++i5) r -= v1 != 0 ? v1 : i5;
             r -= three[v3];
           }
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

// The counts the differential reports the work bound's refusals by: a call
// counts its function's loops at the depth of the call, and its statements.
TEST(GxlHlslGenNestShapes, NestDepthAndStatementCountTakeInTheFunctionsLoops) {
  const struct {
    Shape shape;
    std::uint64_t seed;
    std::uint32_t depth, statements;
  } kCounts[] = {
      // A loop around the call of f0 (two loops deep): r, the loop, the call's
      // declaration, r's write; f0's declaration, two loops and two writes,
      // and its return.
      {Shape::LoopCalls, 5, 3, 4 + 6},
      // Four loops, two writes, r.
      {Shape::DeepNests, 6, 4, 7},
      // A while loop (its counter declared before it) in a for loop, r, its
      // writes after the loop and in it.
      {Shape::UniformWhiles, 8, 2, 6},
  };
  for (const auto& c : kCounts) {
    const Generator g(c.seed, With(kSmall, c.shape));
    SCOPED_TRACE(g.FunctionText() + g.Body());
    EXPECT_EQ(g.NestDepth(), c.depth);
    EXPECT_EQ(g.StatementCount(), c.statements);
  }
}

}  // namespace

// The generator's loop shapes: seeds made without them keep their text, the
// shaped programs hold every shape the options promise, within their bounds,
// and their text parses as a vertex and as a pixel function.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "generated_program.h"
#include "tests/gxl/shader/hlsl_parse_run.h"
#include "tests/support/hlslgen/hlslgen.h"

namespace {

using hlslgen::Generator;
using hlslgen::Kind;
using hlslgen::Reads;
using hlslgen::Statement;

const hlslgen::Options kShaped = shadertest::LoopShapes();

std::uint64_t Fnv(std::uint64_t h, const std::string& s) {
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

// What 300 seeds of each option set gave before the loop shapes (or the later
// ones) existed: text, parameters, samplers and values.
TEST(GxlHlslGenShapes, EarlierSeedsKeepTheirText) {
  const struct {
    hlslgen::Options options;
    std::uint64_t hash;
  } kSets[] = {
      {{}, 0xd3e591028ffd904full},
      {{.maxDepth = 4, .samplers = true}, 0x9fe9fa4ebb666e6eull},
      {{.maxDepth = 4, .flowControl = true}, 0x533ba8298805345full},
      {{.maxDepth = 4, .flowControl = true, .maxLoopCount = 6, .maxInstructions = 400}, 0x83ef2393faa8c9d6ull},
      // The loop shapes before the later ones (nests, calls, ...) existed.
      {kShaped, 0x5767ba740ae06b8cull},
      {[] {
         hlslgen::Options o = kShaped;
         o.steps = true;
         return o;
       }(),
       0xca49b576205f24beull},
  };
  for (const auto& set : kSets) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::uint32_t seed = 0; seed < 300; ++seed) {
      const Generator g(seed, set.options);
      h = Fnv(Fnv(Fnv(h, g.Parameters()), g.Body()), g.SamplerDeclarations());
      for (double x : g.Result()) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g,", x);
        h = Fnv(h, text);
      }
    }
    EXPECT_EQ(h, set.hash) << std::hex << h;
  }
}


TEST(GxlHlslGenShapes, ProgramsHoldEveryShapeWithinTheirBounds) {
  std::map<std::string, int> shapes;
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    const Generator g(seed, kShaped);
    if (seed % 10 == 0) {
      const Generator again(seed, kShaped);
      ASSERT_EQ(g.Body(), again.Body()) << "seed " << seed;
      ASSERT_EQ(g.Result(), again.Result()) << "seed " << seed;
    }
    for (double x : g.Result()) EXPECT_TRUE(std::isfinite(x) && std::fabs(x) <= 1e4) << "seed " << seed;
    auto isLocal = [](const hlslgen::Node& n) { return n.kind == Kind::Local; };
    auto isUniform = [&](const hlslgen::Node& n) {
      return n.kind == Kind::Variable && g.Variables()[n.variable].uniform;
    };
    auto isNegativeUniform = [&](const hlslgen::Node& n) {
      return isUniform(n) && g.Variables()[n.variable].value[0] < 0;
    };
    auto readsOther = [&](const hlslgen::Node& n) {
      return (n.kind == Kind::Local || n.kind == Kind::LocalElement) && n.variable != 0;
    };
    const std::vector<Statement>& program = g.Statements();
    std::function<void(const std::vector<std::uint32_t>&, std::uint32_t, std::uint32_t, bool)> walk =
        [&](const std::vector<std::uint32_t>& block, std::uint32_t loops, std::uint32_t iterations, bool body) {
          for (std::size_t b = 0; b < block.size(); ++b) {
            const Statement& s = program[block[b]];
            const bool loop = s.kind == Statement::Kind::For || s.kind == Statement::Kind::DoWhile;
            if (loop) {
              EXPECT_LE(s.count, kShaped.maxLoopCount) << "seed " << seed;
              iterations *= std::max(s.count, 1u);
              EXPECT_LE(iterations, 1024u) << "seed " << seed;
              ++shapes[s.kind == Statement::Kind::DoWhile ? "do-while" : "for"];
              if (s.kind == Statement::Kind::DoWhile && g.Locals()[s.counter].type.base == hlslgen::Base::Float)
                ++shapes["do-while counted in float"];
              if (s.dynamic) ++shapes[s.count ? "bounded by a uniform alone" : "no iteration: negative bound"];
              if (!s.dynamic && Reads(g, s.value, isUniform)) ++shapes["a uniform beside the literal bound"];
              if (Reads(g, s.value, isNegativeUniform)) ++shapes["a negative uniform in the condition"];
              if (s.flag != hlslgen::kNone) ++shapes["ended by a flag"];
              if (s.before != hlslgen::kNone) ++shapes["a local declared before the loop"];
              if (loops) ++shapes["nested loop"];
              if (b + 1 < block.size()) {
                const Statement& next = program[block[b + 1]];
                if (next.kind == Statement::Kind::Assign && next.target == 0 && Reads(g, next.value, readsOther))
                  ++shapes["a local read after the loop"];
              }
              walk(s.body, loops + 1, iterations, true);
              iterations /= std::max(s.count, 1u);
              continue;
            }
            if (s.kind == Statement::Kind::If) {
              if (loops && !s.otherwise.empty()) ++shapes["if/else in a loop"];
              if (body && b + 1 == block.size() && !s.otherwise.empty()) ++shapes["the body's rest in an else"];
              walk(s.body, loops, iterations, false);
              walk(s.otherwise, loops, iterations, false);
              continue;
            }
            if (s.kind == Statement::Kind::Declare) {
              ++shapes[s.inits.empty() ? "carried local" : "local array"];
              continue;
            }
            const hlslgen::Local& target = g.Locals()[s.target];
            if (target.type == hlslgen::kBool && s.target != 0) ++shapes["flag cleared"];
            if (s.components.size() >= 2) ++shapes[s.target ? "a local written in part" : "r written in part"];
            if (loops && target.written) ++shapes["a local written in a loop"];
            if (s.element != hlslgen::kNone && Reads(g, s.element, isLocal)) ++shapes["array written at a counter"];
            if (Reads(g, s.stored, [&](const hlslgen::Node& n) {
                  return n.kind == Kind::Element && Reads(g, n.children[0], isLocal);
                }))
              ++shapes["uniform array read at a counter"];
            if (Reads(g, s.stored, [&](const hlslgen::Node& n) {
                  return n.kind == Kind::LocalElement && Reads(g, n.children[0], isLocal);
                }))
              ++shapes["local array read at a counter"];
          }
        };
    walk(g.TopLevel(), 0, 1, false);
  }
  for (const char* shape :
       {"for", "do-while", "do-while counted in float", "bounded by a uniform alone", "no iteration: negative bound",
        "a uniform beside the literal bound", "a negative uniform in the condition", "ended by a flag", "flag cleared",
        "nested loop", "a local read after the loop", "if/else in a loop", "the body's rest in an else",
        "carried local", "local array", "a local declared before the loop", "a local written in part",
        "r written in part", "a local written in a loop",
        "array written at a counter", "uniform array read at a counter", "local array read at a counter"})
    EXPECT_GT(shapes[shape], 10) << shape;
}

// The text is valid HLSL: every program parses as a vertex function and as a
// pixel function, inputs and uniforms declared.
TEST(GxlHlslGenShapes, TextParsesAsVertexAndPixelFunctions) {
  for (std::uint32_t seed = 0; seed < 150; ++seed) {
    const Generator g(seed, kShaped);
    for (const bool vertex : {true, false}) {
      const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, vertex, seed);
      shadertest::ParseRun parse(p.source);
      EXPECT_EQ(parse.hr, S_OK) << "seed " << seed << "\n" << p.source << parse.log;
      EXPECT_EQ(parse.log.find("error"), std::string::npos) << "seed " << seed << "\n" << p.source << parse.log;
    }
  }
}

}  // namespace

// Loops from other starts and by other steps: several counted loops side by
// side whose (start, step, count) differ, uniform arrays read at the index of
// each such counter, and the generator's own run of each loop passing through
// exactly start, start + step, ... below its literal bound.
TEST(GxlHlslGenShapes, SteppedLoopsSideBySideReadArraysAtTheirCounters) {
  hlslgen::Options options = kShaped;
  options.steps = true;
  std::map<std::string, int> shapes;
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    const Generator g(seed, options);
    const std::vector<Statement>& program = g.Statements();
    auto readsCounter = [&](const hlslgen::Node& n, std::uint32_t counter) {
      auto isCounter = [&](const hlslgen::Node& c) { return c.kind == Kind::Local && c.variable == counter; };
      return n.kind == Kind::Element && Reads(g, n.children[0], isCounter);
    };
    std::function<void(const std::vector<std::uint32_t>&)> walk = [&](const std::vector<std::uint32_t>& block) {
      std::vector<std::tuple<int, int, unsigned>> siblings;  // (start, step, count) of the block's literal loops
      for (std::uint32_t k : block) {
        const Statement& s = program[k];
        walk(s.body);
        walk(s.otherwise);
        if (s.kind != Statement::Kind::For) continue;
        const hlslgen::Local& counter = g.Locals()[s.counter];
        if (s.start != 0) ++shapes["for from a start other than 0"];
        if (s.step != 1) ++shapes["for by a step other than 1"];
        if (!s.dynamic) {
          // The counter's range is what its passes reach.
          EXPECT_EQ(counter.low, s.start) << "seed " << seed;
          EXPECT_EQ(counter.high, s.start + (static_cast<int>(s.count) - 1) * s.step) << "seed " << seed;
          siblings.emplace_back(s.start, s.step, s.count);
        }
        bool read = false;
        auto atCounter = [&](const hlslgen::Node& n) { return readsCounter(n, s.counter); };
        for (std::uint32_t b : s.body)
          if (program[b].kind == Statement::Kind::Assign) read = read || Reads(g, program[b].stored, atCounter);
        if (read && (s.start != 0 || s.step != 1)) ++shapes["uniform array read at a stepped counter"];
      }
      for (std::size_t a = 0; a < siblings.size(); ++a)
        for (std::size_t b = a + 1; b < siblings.size(); ++b)
          if (siblings[a] != siblings[b]) {
            ++shapes["loops side by side, (start, step, count) differing"];
            if (std::get<2>(siblings[a]) == std::get<2>(siblings[b])) ++shapes["side by side, one count, other steps"];
          }
    };
    walk(g.TopLevel());
    // The text holds the start and the step.
    if (g.Body().find(" += 2)") != std::string::npos || g.Body().find(" += 3)") != std::string::npos)
      ++shapes["a step in the text"];
  }
  for (const char* shape :
       {"for from a start other than 0", "for by a step other than 1", "uniform array read at a stepped counter",
        "loops side by side, (start, step, count) differing", "side by side, one count, other steps",
        "a step in the text"})
    EXPECT_GT(shapes[shape], 10) << shape;
  for (std::uint32_t seed = 0; seed < 60; ++seed) {
    const Generator g(seed, options);
    const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, seed % 2 == 0, seed);
    shadertest::ParseRun parse(p.source);
    EXPECT_EQ(parse.hr, S_OK) << "seed " << seed << "\n" << p.source << parse.log;
  }
}

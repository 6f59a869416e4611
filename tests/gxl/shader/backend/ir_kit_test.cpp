// The IR test kit on hand-built programs: operations against libm, select,
// if blocks, loops with and without breaks, relative addressing, discard and
// the procedural sampler, each against a closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "ir_fixture.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/ir_interpreter.h"

namespace {

using namespace gxl::shader;
using irkit::IrBuilder;
using irkit::IrInterpreter;
using irkit::Values;

struct GxlIrKit : irtest::IrFixture {
  IrBuilder b{program};

  // Runs the program with input register 0 = xs; the values of `out`.
  std::vector<double> Run(const Values& out, std::initializer_list<double> xs = {}) {
    IrInterpreter run(program);
    run.SetRegister(StandardBank::Inputs, 0, xs);
    EXPECT_TRUE(run.Run()) << run.Error();
    return run.Values(out);
  }
  std::uint32_t Literal(double x) { return b.Literal(x); }
  // 1.0 where a >= b.
  std::uint32_t AtLeast(std::uint32_t x, double y) { return b.Binary(kOpGreaterEqual, {x}, {Literal(y)})[0]; }
};

TEST_F(GxlIrKit, OperationsAgainstLibm) {
  const std::pair<std::uint32_t, double (*)(double)> unary[] = {
      {kOpNegate, [](double x) { return -x; }},      {kOpReciprocal, [](double x) { return 1 / x; }},
      {kOpFraction, [](double x) { return x - std::floor(x); }},
      {kOpExp2, [](double x) { return std::exp2(x); }}, {kOpLog2, [](double x) { return std::log2(x); }},
      {kOpRsq, [](double x) { return 1 / std::sqrt(x); }}, {kOpSin, [](double x) { return std::sin(x); }},
      {kOpCos, [](double x) { return std::cos(x); }},    {kOpAsin, [](double x) { return std::asin(x); }},
      {kOpAcos, [](double x) { return std::acos(x); }},  {kOpAtan, [](double x) { return std::atan(x); }}};
  const std::pair<std::uint32_t, double (*)(double, double)> binary[] = {
      {kOpMin, [](double x, double y) { return std::fmin(x, y); }},
      {kOpMax, [](double x, double y) { return std::fmax(x, y); }},
      {kOpLess, [](double x, double y) { return x < y ? 1.0 : 0.0; }},
      {kOpGreaterEqual, [](double x, double y) { return x >= y ? 1.0 : 0.0; }},
      {kOpAdd, [](double x, double y) { return x + y; }}, {kOpMultiply, [](double x, double y) { return x * y; }},
      {kOpAtan2, [](double x, double y) { return std::atan2(x, y); }}};
  const Values x = b.Input(0), y = b.Input(1);
  std::vector<Values> outs;
  for (const auto& [group, f] : unary) outs.push_back(b.Unary(group, x));
  for (const auto& [group, f] : binary) outs.push_back(b.Binary(group, x, y));
  IrInterpreter run(program);
  const double xs[4] = {0.25, -0.75, 3.5, 0.5}, ys[4] = {0.5, -0.75, -2.0, 7.0};
  run.SetRegister(StandardBank::Inputs, 0, {xs[0], xs[1], xs[2], xs[3]});
  run.SetRegister(StandardBank::Inputs, 1, {ys[0], ys[1], ys[2], ys[3]});
  ASSERT_TRUE(run.Run()) << run.Error();
  std::size_t k = 0;
  for (const auto& [group, f] : unary) {
    const std::vector<double> got = run.Values(outs[k++]);
    for (int c = 0; c < 4; ++c) {
      if (std::isnan(f(xs[c]))) continue;
      EXPECT_DOUBLE_EQ(got[c], f(xs[c])) << std::hex << group << " " << c;
    }
  }
  for (const auto& [group, f] : binary) {
    const std::vector<double> got = run.Values(outs[k++]);
    for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(got[c], f(xs[c], ys[c])) << std::hex << group << " " << c;
  }
}

TEST_F(GxlIrKit, DotSelectAndLit) {
  const Values x = b.Input(0), y = b.Input(1);
  const std::uint32_t dot = b.Dot(x, y);
  const Values picked = b.Select(b.Input(2, 3), b.Input(0, 3), b.Input(1, 3));
  const Values lit = b.Emit(kOpLit, b.Input(2), 4);
  IrInterpreter run(program);
  run.SetRegister(StandardBank::Inputs, 0, {1, 2, 3, 4});
  run.SetRegister(StandardBank::Inputs, 1, {-5, 6, 0.5, 8});
  run.SetRegister(StandardBank::Inputs, 2, {0.0, -1e-9, 0.5, 3.0});
  ASSERT_TRUE(run.Run()) << run.Error();
  EXPECT_DOUBLE_EQ(run.Value(dot), -5 + 12 + 1.5 + 32);
  EXPECT_EQ(run.Values(picked), (std::vector<double>{1, 6, 3}));
  // lit(0, -1e-9, 0.5, 3): no diffuse, so no specular.
  EXPECT_EQ(run.Values(lit), (std::vector<double>{1, 0, 0, 1}));
}

TEST_F(GxlIrKit, NestedIfMergesTheBranchTaken) {
  // f(x, y) = x >= 0 ? (y >= 1 ? x * y : x + y) : -x
  const std::uint32_t x = b.Input(0, 1)[0], y = b.Input(1, 1)[0];
  const Values f = b.If(
      AtLeast(x, 0),
      [&] {
        return b.If(
            AtLeast(y, 1), [&] { return b.Mul({x}, {y}); }, [&] { return b.Add({x}, {y}); });
      },
      [&] { return b.Unary(kOpNegate, {x}); });
  for (double xv : {-2.5, 0.0, 3.0})
    for (double yv : {-1.0, 0.5, 1.0, 4.0}) {
      IrInterpreter run(program);
      run.SetRegister(StandardBank::Inputs, 0, {xv});
      run.SetRegister(StandardBank::Inputs, 1, {yv});
      ASSERT_TRUE(run.Run()) << run.Error();
      EXPECT_EQ(run.Value(f[0]), xv >= 0 ? (yv >= 1 ? xv * yv : xv + yv) : -xv) << xv << " " << yv;
    }
}

TEST_F(GxlIrKit, LoopSumsAndBreaks) {
  // acc = sum over i < 6 of x * i; the loop counter ends at 6.
  const std::uint32_t x = b.Input(0, 1)[0];
  const Values fixed = b.Loop(6, {Literal(0), Literal(0)}, [&](const Values& e) {
    return Values{b.Add({e[0]}, b.Mul({x}, {e[1]}))[0], b.Add({e[1]}, {Literal(1)})[0]};
  });
  // while (i < limit) { i += 1; acc += i; } at most 10 times, limit in v0.y.
  const std::uint32_t limit = b.Input(0, 2)[1];
  const Values broken = b.Loop(
      10, {Literal(0), Literal(0)},
      [&](const Values& e) {
        const std::uint32_t i = b.Add({e[1]}, {Literal(1)})[0];
        return Values{b.Add({e[0]}, {i})[0], i};
      },
      [&](const Values& e) { return b.Binary(kOpLess, {e[1]}, {limit})[0]; });
  for (double limitValue : {0.0, 4.0, 20.0}) {
    const std::vector<double> got = Run(irkit::Concat(fixed, broken), {1.5, limitValue});
    const double n = std::fmin(limitValue, 10);
    EXPECT_EQ(got, (std::vector<double>{1.5 * 15, 6, n * (n + 1) / 2, n})) << limitValue;
  }
  // The builder writes in order: every dependency points backwards.
  ASSERT_EQ(program.BuildDependencyLists(), S_OK);
  for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
    const IrInstruction& inst = *program.Instruction(i);
    for (std::uint32_t k = 0; k < inst.predecessorCount; ++k) EXPECT_LT(inst.predecessors[k], i);
  }
}

TEST_F(GxlIrKit, NestedLoopsWithAnIfInside) {
  // for i < 3: for j < 4: acc += (i + j >= 3 ? i * j : 1)
  const Values result = b.Loop(3, {Literal(0), Literal(0)}, [&](const Values& outer) {
    const Values inner = b.Loop(4, {outer[0], Literal(0)}, [&](const Values& e) {
      const std::uint32_t sum = b.Add({outer[1]}, {e[1]})[0];
      const Values term = b.If(
          AtLeast(sum, 3), [&] { return b.Mul({outer[1]}, {e[1]}); }, [&] { return Values{Literal(1)}; });
      return Values{b.Add({e[0]}, term)[0], b.Add({e[1]}, {Literal(1)})[0]};
    });
    return Values{inner[0], b.Add({outer[1]}, {Literal(1)})[0]};
  });
  double want = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) want += i + j >= 3 ? i * j : 1;
  EXPECT_EQ(Run({result[0]}), (std::vector<double>{want}));
}

TEST_F(GxlIrKit, RelativeAddressingAndDiscard) {
  // c[10 + floor(v0.x)], component by component.
  const std::uint32_t index = b.Input(0, 1)[0];
  const Values element = b.RelativeRegister(StandardBank::FloatConstants, 10, index, 4);
  const Values picked = b.Move(element);
  b.Emit(kOpDiscard, b.Input(1, 2), 2, kNoIndex, StandardBank::Clip);
  for (double i : {0.0, 2.0, 3.7}) {
    IrInterpreter run(program);
    for (std::uint32_t r = 10; r < 14; ++r)
      run.SetRegister(StandardBank::FloatConstants, r, {r * 1.0, r + 0.25, r + 0.5, r + 0.75});
    run.SetRegister(StandardBank::Inputs, 0, {i});
    run.SetRegister(StandardBank::Inputs, 1, {1.0, i > 3 ? -0.5 : 0.0});
    ASSERT_TRUE(run.Run()) << run.Error();
    const double r = 10 + std::floor(i);
    EXPECT_EQ(run.Values(picked), (std::vector<double>{r, r + 0.25, r + 0.5, r + 0.75}));
    EXPECT_EQ(run.Discarded(), i > 3);
  }
  // Outside the registers set, the read fails instead of inventing a value.
  IrInterpreter outside(program);
  outside.SetRegister(StandardBank::Inputs, 0, {7.0});
  outside.SetRegister(StandardBank::Inputs, 1, {1.0, 1.0});
  EXPECT_FALSE(outside.Run());
  EXPECT_NE(outside.Error().find("relative read"), std::string::npos);
}

TEST_F(GxlIrKit, SamplesReadTheProceduralTexture) {
  const std::uint32_t s = b.Sampler(3);
  const Values in = b.Input(0);
  const std::uint32_t x = in[0], y = in[1], z = in[2], w = in[3];
  struct Case {
    std::uint32_t group, width;
    Values groups;
    std::uint32_t kind;
    double p[3], lod;
  };
  const double X = 0.3, Y = -0.6, Z = 0.9, W = 2.0;
  const double m = 0.9;  // the cube face: the largest magnitude
  const Case cases[] = {
      {0x600, 2, {x, x}, 1, {X, 0, 0}, 0},
      {0x601, 2, {x, x, y, y, z, z}, 1, {X, 0, 0}, std::fmax(std::fabs(Y), std::fabs(Z))},
      {0x605, 2, {x, y}, 2, {X, Y, 0}, 0},
      {0x607, 4, {x, y, z, w}, 2, {X / W, Y / W, 0}, 0},
      {0x608, 4, {x, y, z, w}, 2, {X, Y, 0}, W},
      {0x60E, 4, {x, y, z, w}, 3, {X, Y, Z}, W},
      {0x60F, 3, {x, y, z}, 4, {X / m, Y / m, Z / m}, 0},
      {0x610, 3, {x, y, z, x, y, z, z, z, z}, 4, {X / m, Y / m, Z / m}, std::sqrt(3 * Z * Z)},
  };
  std::vector<Values> outs;
  for (const Case& c : cases) outs.push_back(b.Sample(c.group, s, c.width, c.groups));
  IrInterpreter run(program);
  run.SetRegister(StandardBank::Inputs, 0, {X, Y, Z, W});
  ASSERT_TRUE(run.Run()) << run.Error();
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    const std::vector<double> got = run.Values(outs[k]);
    EXPECT_DOUBLE_EQ(got[0], 0.5 + 0.5 * std::sin(3 + 1.7 * c.p[0] + 0.3 * c.kind)) << std::hex << c.group;
    EXPECT_DOUBLE_EQ(got[1], 0.5 + 0.5 * std::sin(2.3 * c.p[1] - 3)) << std::hex << c.group;
    EXPECT_DOUBLE_EQ(got[2], 0.5 + 0.5 * std::sin(1.1 * c.p[2] + 0.5 * c.p[0] * c.p[1])) << std::hex << c.group;
    EXPECT_DOUBLE_EQ(got[3], 1 / (1 + c.lod)) << std::hex << c.group;
  }
}

TEST_F(GxlIrKit, ReadingAnUnwrittenValueFails) {
  const Values t = b.If(
      AtLeast(b.Input(0, 1)[0], 0), [&] { return b.Move({Literal(1)}); }, [&] { return b.Move({Literal(2)}); });
  // A read of the then-branch's move outside its block: unwritten when the else branch ran.
  const std::uint32_t thenMove = program.Instruction(program.instructions.Count() - 3)->results[0];
  b.Add({thenMove}, t);
  IrInterpreter run(program);
  run.SetRegister(StandardBank::Inputs, 0, {-1.0});
  EXPECT_FALSE(run.Run());
  EXPECT_NE(run.Error().find("read before it was written"), std::string::npos);
}

}  // namespace

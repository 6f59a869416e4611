// Source-modifier folding and multiply-add forming: each fold is checked by
// interpreting the program with and without it (folding off, as with option
// 0x4) on the same inputs; the refusals leave the program computing the same.
#include <gtest/gtest.h>

#include "flow_fixture.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "select_fixture.h"

namespace selecttest {
namespace {

using flowtest::LogMark;
using shadertest::LogText;

constexpr std::uint32_t kClampingProfile = 0x40000;  // bias and complement want [0, 1] sources
constexpr std::uint32_t kOnlyBx2 = 0x80000;

Values Lits(IrBuilder& b, double x) { return Values(4, b.Literal(x)); }
// A value written saturated.
Values Saturated(IrBuilder& b, const Values& x) {
  const Values s = b.Move(x);
  for (std::uint32_t v : s) b.Program().Value(v)->binding |= 0x200;
  return s;
}
// A copy of each value read through `modifier`.
Values Modified(ShaderProgram& p, const Values& vs, std::uint32_t modifier) {
  Values out;
  for (std::uint32_t v : vs) {
    const std::uint32_t copy = p.AddValueCopy(p.Value(v));
    p.Value(copy)->binding |= modifier;
    p.Value(copy)->alias = v;
    out.push_back(copy);
  }
  return out;
}

class GxlModifierFold : public SelectTest {
 protected:
  struct Row {
    const char* what;
    std::uint32_t caps;
    Build build;
    std::uint32_t group;  // where the fold runs
    Recognizer fold;
    HRESULT want;
    std::uint32_t gone = 0;  // a group no live instruction has after the fold
  };
  void Check(const Row& row) {
    ExpectSame(
        row.what, TestTarget::kVs30, row.build,
        [&](TestTarget& t) {
          t.profileLimits.capabilities |= row.caps;
          return RunAt(t, row.group, row.fold);
        },
        row.want, Signed, 200,
        [&](TestTarget& t) {
          if (row.gone) {
            EXPECT_EQ(Find(t, row.gone), kNoIndex) << row.what;
          }
        });
  }
};

TEST_F(GxlModifierFold, FoldsKeepResults) {
  const Recognizer negate = [](ShaderTarget& t) { return FoldNegate(t, false); };
  const Row rows[] = {
      {"-x read as a negated source", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Mul(b.Unary(kOpNegate, in[0]), in[1]); }, kOpNegate, negate,
       S_OK, kOpNegate},
      {"-(-x) read as x", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Add(b.Unary(kOpNegate, Negated(b.Program(), in[0])), in[1]); },
       kOpNegate, negate, S_OK, kOpNegate},
      {"abs", 0, [](IrBuilder& b, const Values in[3]) { return b.Add(b.Emit(0x700, in[0], 4, 4), in[1]); }, 0x700,
       FoldAbsolute, S_OK, 0x700},
      {"abs of a uniform stays", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Add(b.Emit(0x700, Lits(b, -0.75), 4, 4), in[1]); }, 0x700,
       FoldAbsolute, S_FALSE},
      {"x - 0.5 on a saturated x is a bias", kClampingProfile,
       [](IrBuilder& b, const Values in[3]) { return b.Mul(b.Add(Saturated(b, in[0]), Lits(b, -0.5)), in[1]); }, kOpAdd,
       FoldBias, S_OK},
      {"x - 0.5 is a bias, never 2x - 1", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Mul(b.Add(in[0], Lits(b, -0.5)), in[1]); }, kOpAdd,
       [](ShaderTarget& t) {
         const HRESULT scale = FoldSignedScale(t);
         return scale == S_FALSE ? FoldBias(t) : E_UNEXPECTED;
       },
       S_OK},
      {"(x + x) - 1 is the signed scale", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Mul(b.Add(b.Add(in[0], in[0]), Lits(b, -1.0)), in[1]); }, kOpAdd,
       FoldSignedScale, S_OK, kOpAdd},
      {"x * 2", 0, [](IrBuilder& b, const Values in[3]) { return b.Add(b.Mul(in[0], Lits(b, 2.0)), in[1]); },
       kOpMultiply, FoldTimesTwo, S_OK, kOpMultiply},
      {"x + x", 0, [](IrBuilder& b, const Values in[3]) { return b.Mul(b.Add(in[0], in[0]), in[1]); }, kOpAdd,
       FoldTimesTwo, S_OK},
      {"-x * 2", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Add(b.Mul(Negated(b.Program(), in[0]), Lits(b, 2.0)), in[1]); },
       kOpMultiply, FoldTimesTwo, S_OK, kOpMultiply},
      {"x * 2 wants x_bias where only _bx2 exists", kOnlyBx2,
       [](IrBuilder& b, const Values in[3]) { return b.Add(b.Mul(in[0], Lits(b, 2.0)), in[1]); }, kOpMultiply,
       FoldTimesTwo, S_FALSE},
      {"x_bias * 2 is _bx2", kOnlyBx2,
       [](IrBuilder& b, const Values in[3]) {
         return b.Add(b.Mul(Modified(b.Program(), in[0], 0x20000), Lits(b, 2.0)), in[1]);
       },
       kOpMultiply, FoldTimesTwo, S_OK, kOpMultiply},
      {"1 - x", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Mul(b.Add(Lits(b, 1.0), Negated(b.Program(), in[0])), in[1]); },
       kOpAdd, [](ShaderTarget& t) { return FoldComplement(t); }, S_OK},
      {"x * -1 feeding 1 + it", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Add(b.Add(Lits(b, 1.0), b.Mul(in[0], Lits(b, -1.0))), in[1]); },
       kOpMultiply, FoldNegatedMultiply, S_OK, kOpMultiply},
      {"-x of a complement becomes a move read negated", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Mul(b.Unary(kOpNegate, Modified(b.Program(), in[0], 0x10000)), in[1]);
       },
       kOpNegate, negate, S_OK, kOpNegate},
      {"a saturated result keeps its instruction", 0,
       [](IrBuilder& b, const Values in[3]) {
         const Values r = b.Unary(kOpNegate, in[0]);
         for (std::uint32_t v : r) b.Program().Value(v)->binding |= 0x200;
         return b.Mul(r, in[1]);
       },
       kOpNegate, negate, S_FALSE},
      {"a source group mixing folded and other values", 0,
       [](IrBuilder& b, const Values in[3]) {
         const Values r = b.Unary(kOpNegate, in[0]);
         return b.Add({r[0], r[1], in[2][2], in[2][3]}, in[1]);
       },
       kOpNegate, negate, S_FALSE},
      {"x - 0.5 written to an output is a move of x_bias", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(kOpAdd, Concat(b.Mul(in[0], in[1]), Lits(b, -0.5)), 4, kNoIndex, StandardBank::Outputs);
       },
       kOpAdd, FoldBias, S_OK, kOpAdd},
      {"-0.5 + x written to an output", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(kOpAdd, Concat(Lits(b, -0.5), b.Mul(in[0], in[1])), 4, kNoIndex, StandardBank::Outputs);
       },
       kOpAdd, FoldBias, S_OK, kOpAdd},
      {"x - 0.5 of a non-negative x written to an output", kClampingProfile,
       [](IrBuilder& b, const Values in[3]) {
         const Values x = b.Mul(in[0], in[0]);
         for (std::uint32_t v : x) b.Program().Value(v)->flags |= kValueNonNegative;
         return b.Emit(kOpAdd, Concat(x, Lits(b, -0.5)), 4, kNoIndex, StandardBank::Outputs);
       },
       kOpAdd, FoldBias, S_OK, kOpAdd},
      {"an input - 0.5 written to an output has no producer", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(kOpAdd, Concat(in[0], Lits(b, -0.5)), 4, kNoIndex, StandardBank::Outputs);
       },
       kOpAdd, FoldBias, S_FALSE},
      {"a texture reader", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Sample(0x604, b.Sampler(0), 4, b.Unary(kOpNegate, in[0])); },
       kOpNegate, negate, S_FALSE},
  };
  for (const Row& row : rows) Check(row);
}

TEST_F(GxlModifierFold, MultiplyAddAndLerp) {
  const Recognizer mad = [](ShaderTarget& t) { return FormMultiplyAdd(t, false); };
  const Row rows[] = {
      {"a b + c", 0, [](IrBuilder& b, const Values in[3]) { return b.Add(b.Mul(in[0], in[1]), in[2]); }, kOpAdd, mad,
       S_OK, kOpMultiply},
      {"c + a b", 0, [](IrBuilder& b, const Values in[3]) { return b.Add(in[2], b.Mul(in[0], in[1])); }, kOpAdd, mad,
       S_OK, kOpMultiply},
      {"c - a b", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Add(Negated(b.Program(), b.Mul(in[0], in[1])), in[2]); }, kOpAdd,
       mad, S_OK, kOpMultiply},
      {"(a + a) + c", 0, [](IrBuilder& b, const Values in[3]) { return b.Add(b.Add(in[0], in[0]), in[2]); }, kOpAdd,
       mad, S_OK},
      {"c - (a + a)", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Add(in[2], Negated(b.Program(), b.Add(in[0], in[0]))); }, kOpAdd,
       mad, S_OK},
      {"a b + c where a's register is written again before the add is no mad", 0,
       [](IrBuilder& b, const Values in[3]) {
         const Values m = b.Mul(b.Output(1, in[0]), in[1]);
         b.Output(1, in[2]);
         return b.Add(m, in[2]);
       },
       kOpAdd, mad, S_FALSE},
      {"(a + b) + c is no mad", 0, [](IrBuilder& b, const Values in[3]) { return b.Add(b.Add(in[0], in[1]), in[2]); },
       kOpAdd, mad, S_FALSE},
      {"a product read twice stays whole", 0,
       [](IrBuilder& b, const Values in[3]) {
         const Values m = b.Mul(in[0], in[1]);
         return Concat(b.Add(m, in[2]), b.Mul(m, in[0]));
       },
       kOpAdd, mad, S_FALSE},
      {"1.5 - (a + 0.25)", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Add(Lits(b, 1.5), Negated(b.Program(), b.Add(in[0], Lits(b, 0.25))));
       },
       kOpAdd, mad, S_OK, kOpAdd},
      {"-(0.25 + a) + 1.5", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Add(Negated(b.Program(), b.Add(Lits(b, 0.25), in[0])), Lits(b, 1.5));
       },
       kOpAdd, mad, S_OK, kOpAdd},
      {"c - (a + b) of registers is no mad", 0,
       [](IrBuilder& b, const Values in[3]) { return b.Add(in[2], Negated(b.Program(), b.Add(in[0], in[1]))); }, kOpAdd,
       mad, S_FALSE},
      {"mad(a + a, 0.75, d)", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(0x703, Concat(Concat(b.Add(in[0], in[0]), Lits(b, 0.75)), in[2]), 4, 4);
       },
       0x703, mad, S_OK, kOpAdd},
      {"mad(0.75, a + a, d)", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(0x703, Concat(Concat(Lits(b, 0.75), b.Add(in[0], in[0])), in[2]), 4, 4);
       },
       0x703, mad, S_OK, kOpAdd},
      {"mad(a + 0.5, 3, 0.25)", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(0x703, Concat(Concat(b.Add(in[0], Lits(b, 0.5)), Lits(b, 3.0)), Lits(b, 0.25)), 4, 4);
       },
       0x703, mad, S_OK, kOpAdd},
      {"mad(0.5 + a, 3, 0.25)", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(0x703, Concat(Concat(b.Add(Lits(b, 0.5), in[0]), Lits(b, 3.0)), Lits(b, 0.25)), 4, 4);
       },
       0x703, mad, S_OK, kOpAdd},
      {"mad(a + 0.5, c, 0.25) of a register factor stays", 0,
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(0x703, Concat(Concat(b.Add(in[0], Lits(b, 0.5)), in[1]), Lits(b, 0.25)), 4, 4);
       },
       0x703, mad, S_FALSE},
      {"a product read twice, relaxed", 0,
       [](IrBuilder& b, const Values in[3]) {
         const Values m = b.Mul(in[0], in[1]);
         return Concat(b.Add(m, in[2]), b.Mul(m, in[0]));
       },
       kOpAdd, [](ShaderTarget& t) { return FormMultiplyAdd(t, true); }, S_OK},
  };
  for (const Row& row : rows) Check(row);
  // a (1 - f) + b f in the four orders of the two products, then with the
  // complement in the addend's product: f b + (1 - f) a and b f + a (1 - f).
  for (std::uint32_t order = 0; order < 6; ++order) {
    Check({"lerp order", 0,
           [order](IrBuilder& b, const Values in[3]) {
             const Values a = in[0], f = Saturated(b, in[1]), bb = in[2];
             const Values complement = b.Add(Lits(b, 1.0), Negated(b.Program(), f));
             if (order >= 4) {
               const Values product = order == 4 ? b.Mul(complement, a) : b.Mul(a, complement);
               return b.Emit(0x703, Concat(order == 4 ? Concat(f, bb) : Concat(bb, f), product), 4, 4);
             }
             const Values product = order & 1 ? b.Mul(f, bb) : b.Mul(bb, f);
             const Values x = order & 2 ? complement : a, y = order & 2 ? a : complement;
             return b.Emit(0x703, Concat(Concat(x, y), product), 4, 4);
           },
           0x703, TryLerpOrders, S_OK, 0x703});
  }
  // The literals a rewrite needs are made once and shared: -1 and 1.25 for
  // all four components of 1.5 - (a + 0.25).
  ExpectSame(
      "shared literals", TestTarget::kVs30,
      [](IrBuilder& b, const Values in[3]) {
        return b.Add(Lits(b, 1.5), Negated(b.Program(), b.Add(in[0], Lits(b, 0.25))));
      },
      [&](TestTarget& t) { return RunAt(t, kOpAdd, mad); }, S_OK, Signed, 50,
      [](TestTarget& t) {
        const std::uint32_t at = Find(t, 0x703);
        ASSERT_NE(at, kNoIndex);
        const IrInstruction& fused = *t.Instruction(at);
        for (std::uint32_t c = 1; c < 4; ++c) {
          EXPECT_EQ(fused.arguments[4 + c], fused.arguments[4]);
          EXPECT_EQ(fused.arguments[8 + c], fused.arguments[8]);
        }
      });
}

// Chances the profile's clamping rules spoil: warnings 4701 and 4702, and the
// add stays.
TEST_F(GxlModifierFold, MissedChancesWarn) {
  struct Warned {
    const char* what;
    Build build;
    Recognizer fold;
    const char* warning;
  };
  const Warned rows[] = {
      {"x - 0.5 of an unclamped x",
       [](IrBuilder& b, const Values in[3]) { return b.Mul(b.Add(in[0], Lits(b, -0.5)), in[1]); }, FoldBias,
       "warning X4701: _bias opportunity missed because source was not clamped 0 to 1"},
      {"1 - x of a clamped x",
       [](IrBuilder& b, const Values in[3]) {
         return b.Mul(b.Add(Lits(b, 1.0), Negated(b.Program(), Saturated(b, in[0]))), in[1]);
       },
       [](ShaderTarget& t) { return FoldComplement(t); },
       "warning X4702: complement opportunity missed because input result WAS clamped from 0 to 1"},
      {"an unclamped x - 0.5 written to an output",
       [](IrBuilder& b, const Values in[3]) {
         return b.Emit(kOpAdd, Concat(b.Mul(in[0], in[1]), Lits(b, -0.5)), 4, kNoIndex, StandardBank::Outputs);
       },
       FoldBias, "warning X4701: _bias opportunity missed because source was not clamped 0 to 1"},
  };
  for (const Warned& row : rows) {
    const std::size_t mark = LogMark(log);
    Check({row.what, kClampingProfile, row.build, kOpAdd, row.fold, S_FALSE});
    EXPECT_NE(LogText(log).substr(mark).find(row.warning), std::string::npos) << row.what << "\n" << LogText(log);
  }
}

}  // namespace
}  // namespace selecttest

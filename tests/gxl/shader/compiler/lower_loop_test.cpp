// Lowering of loops: flow-control loops where the target has them and they
// pay, unrolled ones otherwise, with the same values either way.
#include <functional>

#include "lower_fixture.h"
#include "lower_run.h"

namespace compilertest {
namespace {

using Reference = std::function<std::vector<double>(double x, double y)>;

struct Loop {
  const char* body;  // of main(float4 a : TEXCOORD0) : COLOR, over a.x and a.y
  Reference reference;
};

double Texel2D(double u, double v) {
  const double p[3] = {u, v, 0};
  return irkit::ProceduralTexel(0, 2, p, 0).r;
}

const Loop kLoops[] = {
    {"float r = 0; for (int i = 0; i < 6; i++) r += tex2D(s, float2(a.x + i * 0.1, a.y)).r * (i + 1);"
     " return r;",
     [](double x, double y) {
       double r = 0;
       for (int i = 0; i < 6; ++i) r += Texel2D(x + i * 0.1, y) * (i + 1);
       return std::vector<double>(4, r);
     }},
    // A data-dependent trip count.
    {"float x = a.x; int n = 0; while (x < a.y && n < 20) { x = x * 1.5 + 0.25; n++; } return float4(x, n, 0, 0);",
     [](double x0, double y) {
       double x = x0;
       int n = 0;
       while (x < y && n < 20) x = x * 1.5 + 0.25, ++n;
       return std::vector<double>{x, double(n), 0, 0};
     }},
    {"int k = 0; float r = 0; do { r += a.x * k; k++; } while (k < 3); return r;",
     [](double x, double) { return std::vector<double>(4, 3 * x); }},
    {"float r = 1; for (int i = 0; i < 3; i++) for (int j = 0; j < 2; j++) r = r * a.x + i - j; return r;",
     [](double x, double) {
       double r = 1;
       for (int i = 0; i < 3; ++i)
         for (int j = 0; j < 2; ++j) r = r * x + i - j;
       return std::vector<double>(4, r);
     }},
    {"float r = 0; for (int i = 0; i < 8 && r < a.y * 10; i += 2) r += tex2Dlod(s, float4(a.x, i, 0, 0)).r;"
     " return r;",
     [](double x, double y) {
       double r = 0;
       for (int i = 0; i < 8 && r < y * 10; i += 2) r += Texel2D(x, i);
       return std::vector<double>(4, r);
     }},
    // Unrolled with an if block per iteration: where the first iteration does
    // not run, r keeps its first value, whatever the body would have made.
    {"float r = a.y; for (int i = 0; i < 4 && a.x > 0; i++) {"
     " r -= float4(-3.25, 0.8125, 0.625, -1.4375)[(int)float2(1.75, 3.4375)[(int)(a.y > 1)]]; r = 0.875; }"
     " return r;",
     [](double x, double y) { return std::vector<double>(4, x > 0 ? 0.875 : y); }},
    // A variable declared in a loop's body (the inner counter) is not read
    // after the loop, where it may never have been written.
    {"float r = 0; if (a.x < 0) { r = 1; } else {"
     " for (int i = 0; i < 4 && i < a.y * 4; i++) { for (int j = 0; j < 2 && a.x == 2; j++) { r = 3; } } }"
     " return r;",
     [](double x, double) { return std::vector<double>(4, x < 0 ? 1 : 0); }},
};

TEST(GxlLowerLoop, FlowControlUnrolledAndForcedFormsAgree) {
  const ProfileLimits kTargets[] = {Ps30(), Ps20(), Vs20()};
  std::uint32_t flowControl = 0, unrolled = 0;
  for (const Loop& loop : kLoops) {
    const std::string text =
        std::string("sampler2D s; float4 main(float4 a : TEXCOORD0) : COLOR { ") + loop.body + " }";
    for (const ProfileLimits& limits : kTargets) {
      for (const std::uint32_t options : {0u, kOptionAvoidFlowControl, kOptionPreferFlowControl}) {
        LowerRun run(text, "main", limits, options);
        ASSERT_EQ(run.hr, S_OK) << loop.body << "\n" << run.log;
        (run.Count(kOpLoopBegin) ? flowControl : unrolled)++;
        if (!limits.word13) {
          EXPECT_EQ(run.Count(kOpLoopBegin), 0u) << loop.body;
        }
        for (const auto& [x, y] : {std::pair{0.3, 0.9}, std::pair{-0.5, 2.0}, std::pair{1.5, 0.25}}) {
          const std::vector<double> got = run.Run({{"a", {x, y, 0, 0}}}), want = loop.reference(x, y);
          ASSERT_EQ(got.size(), 4u);
          for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(got[i], want[i], 1e-9 * std::max(1.0, std::fabs(want[i])))
                << loop.body << " options " << options << " at " << x << ", " << y;
        }
      }
    }
  }
  EXPECT_GE(flowControl, 5u);
  EXPECT_GE(unrolled, 20u);
}

TEST(GxlLowerLoop, FormFollowsTripCountAndContents) {
  struct Form {
    const char* body;
    std::uint32_t options;
    std::uint32_t loops;
  };
  const Form kForms[] = {
      // A fixed loop of plain arithmetic unrolls, unless loops are asked for.
      {"float4 r = 0; for (int i = 0; i < 4; i++) r = r * a + i; return r;", 0, 0},
      {"float4 r = 0; for (int i = 0; i < 4; i++) r = r * a + i; return r;", kOptionPreferFlowControl, 1},
      // One iteration always unrolls.
      {"float4 r = 0; for (int i = 0; i < 1; i++) r = tex2D(s, a.xy + i); return r;", kOptionPreferFlowControl, 0},
      // A sample keeps the loop.
      {"float4 r = 0; for (int i = 0; i < 4; i++) r += tex2D(s, a.xy + i); return r;", 0, 1},
      {"float4 r = 0; for (int i = 0; i < 4; i++) r += tex2D(s, a.xy + i); return r;", kOptionAvoidFlowControl, 0},
      // Still running after the iteration limit: unrolled.
      {"float4 r = 0; for (int i = 0; i < 300; i++) r += tex2D(s, a.xy + i); return r;", 0, 0},
  };
  for (const Form& f : kForms) {
    const std::string text = std::string("sampler2D s; float4 main(float4 a : TEXCOORD0) : COLOR { ") + f.body + " }";
    LowerRun run(text, "main", Ps30(), f.options);
    ASSERT_EQ(run.hr, S_OK) << f.body << "\n" << run.log;
    EXPECT_EQ(run.Count(kOpLoopBegin), f.loops) << f.body << " options " << f.options;
  }
}

// A loop counted by a uniform: a flow-control loop that breaks on the count,
// and afterwards one move of the count; without loops, unrolling gives up.
TEST(GxlLowerLoop, UniformCountedLoops) {
  const std::string text =
      "uniform int count; float4 main(float4 a : TEXCOORD0) : COLOR {"
      " float4 r = 0; for (int i = 0; i < count; i++) r += a; return r; }";
  LowerRun loops(text, "main", Ps30());
  ASSERT_EQ(loops.hr, S_OK) << loops.log;
  EXPECT_EQ(loops.Count(kOpLoopBegin), 1u);
  EXPECT_EQ(loops.Count(kOpBreak), 1u);
  for (const double n : {0.0, 1.0, 5.0})
    EXPECT_EQ(loops.Run({{"count", {n}}, {"a", {1, 2, 3, 4}}}), (std::vector<double>{n, 2 * n, 3 * n, 4 * n}));
  bool moved = false;
  for (std::uint32_t i = 0; i < loops.program->instructions.Count(); ++i) {
    const IrInstruction& inst = *loops.program->Instruction(i);
    if (inst.Group() != kOpMove) continue;
    const IrValue& from = *loops.program->Value(inst.arguments[0]);
    const IrValue& to = *loops.program->Value(inst.results[0]);
    moved = moved || (from.symbolSlot == to.symbolSlot && from.declaration &&
                      std::string(DeclarationNameText(from.declaration)) == "count");
  }
  EXPECT_TRUE(moved);
  LowerRun unrolled(text, "main", Ps20());
  EXPECT_EQ(unrolled.hr, E_FAIL);
  EXPECT_TRUE(
      unrolled.Logged("(1): error X3511: loop does not appear to terminate in a timely manner (1024 iterations)"))
      << unrolled.log;
}

// After an unrolled loop whose exit depends on the data, its counter may be
// any of 0 to 4: no constant, so what follows keeps both ways.
TEST(GxlLowerLoop, CountersAfterDataDependentExitsStayVariable) {
  LowerRun run(
      "float4 main(float a : TEXCOORD0) : COLOR { int i; for (i = 0; i < 4 && a > i; i++) { }"
      " float r = 0; if (i > 2) r = 1; else r = 2; return float4(i, r, isfinite(i), isinf(i)); }",
      "main", Ps20());
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(run.Run({{"a", {1.5}}}), (std::vector<double>{2, 2, 1, 0}));
  EXPECT_EQ(run.Run({{"a", {10}}}), (std::vector<double>{4, 1, 1, 0}));
  EXPECT_EQ(run.Run({{"a", {-1}}}), (std::vector<double>{0, 2, 1, 0}));
}

// An iteration that reads past an array is undone. A variable first given a
// value in the last iteration that stays, whose range the loop never
// recorded, keeps the range it has rather than an empty one.
class GxlLowerLoopWriteBack : public LowerTest {};

TEST_F(GxlLowerLoopWriteBack, RangesNeverRecordedAreNotWritten) {
  const std::string v = "wv", i = "wi", t = "wt", table = "wtable";
  Input(v, Scalar(kBaseFloat), {1});
  const std::vector<double> five{5}, zero{0};
  Bind(Declare(table, Array(Scalar(kBaseFloat), 1)), BankOf(StandardBank::Literals), 0, &five);
  Bind(Declare(i, Scalar(kBaseInt)), BankOf(StandardBank::Undefined));
  ASSERT_EQ(compiler.LowerExpression(parser.MakeOperator(kExprAssign, Var(i), Int(0)), nullptr, 0), S_OK) << Log();
  ParseNode* declared = Declare(t, Scalar(kBaseFloat));
  ASSERT_NE(declared, nullptr);
  const std::uint32_t slot = VariableOf(declared)->symbol;
  while (compiler.valueMap.Size() <= slot) compiler.valueMap.Append(kNoIndex);
  ParseNode* assign = parser.MakeOperator(kExprAssign, Var(t), parser.MakeIndex(Var(table), Var(i)));
  ParseNode* body = AppendToList(declared, parser.MakeExpressionStatement(assign));
  ParseNode* condition = parser.MakeOperator(kExprAnd, parser.MakeOperator(kExprLess, Var(i), Int(10)),
                                             parser.MakeOperator(kExprGreater, Var(v), Float(0)));
  ParseNode* step = parser.MakeOperator(kExprPreIncrement, Var(i), nullptr);
  ASSERT_TRUE(body && condition && step) << Log();
  ASSERT_EQ(compiler.LowerLoop(nullptr, nullptr, condition, body, step), S_OK) << Log();
  // The second iteration reached past the table and was undone; the first stays.
  ASSERT_NE(compiler.valueMap[slot], kNoIndex);
  ValueRange r;
  ASSERT_EQ(compiler.EvaluateRange(compiler.valueMap[slot], &r), S_OK);
  EXPECT_LE(r.low, r.high);
  EXPECT_EQ(compiler.outOfBounds, 0u);
  EXPECT_EQ(compiler.loopAttempt, 0u);
}

}  // namespace
}  // namespace compilertest

// Flow-control mapping: predicated programs rebuilt into if/else/endif, rep,
// loop and breakc blocks compute what the predicated form computes, in the IR
// interpreter and, emitted, in the token kit's interpreter; the limits and
// internal errors of the rebuild; breakc and the counted loops over aL.
#include <gtest/gtest.h>

#include <random>

#include "flow_fixture.h"
#include "select_fixture.h"
#include "tests/support/test_util.h"

namespace flowtest {
namespace {

using shadertest::LogText;

// Both programs of a comparison: the predicated one and the rebuilt one.
struct Pair {
  FlowTarget* predicated;
  FlowTarget* rebuilt;
};

class GxlFlowMap : public FlowTest {
 protected:
  using Build = std::function<void(IrBuilder&, const Values& v0)>;

  // Builds the program twice, rebuilds the second and compares o0 over inputs
  // with zero and non-zero components.
  void ExpectRebuildKeeps(const std::string& what, const Build& build, std::uint32_t width,
                          const std::function<void(IrInterpreter&, std::uint32_t)>& setup = {}) {
    FlowTarget& a = MakeFlow(TestTarget::kVs30);
    auto kept = std::move(target);
    FlowTarget& b = MakeFlow(TestTarget::kVs30);
    for (FlowTarget* t : {&a, &b}) {
      IrBuilder builder(*t);
      build(builder, builder.Input(0));
    }
    ASSERT_EQ(b.RebuildFlowControl(), S_OK) << what << "\n" << LogText(log);
    for (std::uint32_t group : {0x10Fu, 0x207u, 0x735u, 0x111u})
      EXPECT_EQ(Count(b, group), 0u) << what << ": group " << std::hex << group << " left";
    EXPECT_GT(Count(b, flow::kEndIf), 0u) << what;
    std::mt19937 rng(11);
    const double choices[] = {-1.5, 0.0, 0.5, 2.0};
    for (std::uint32_t n = 0; n < 64; ++n) {
      std::vector<double> input;
      for (int c = 0; c < 4; ++c) input.push_back(choices[rng() % 4]);
      const auto with = [&](IrInterpreter& run) {
        if (setup) setup(run, n);
      };
      EXPECT_EQ(RunIr(a, input, width, with), RunIr(b, input, width, with)) << what << " input " << n;
      if (HasFailure()) break;
    }
    target = std::move(kept);
  }
  std::uint32_t BoolBank() const { return target->StandardBankIndex(StandardBank::BoolConstants); }
};

TEST_F(GxlFlowMap, RebuiltBlocksKeepTheirResults) {
  struct Row {
    const char* what;
    Build build;
  };
  const Row rows[] = {
      {"ifc ne on an input",
       [](IrBuilder& b, const Values& v) {
         const Values c = b.Constant(0);
         b.Output(0, b.If(
                         v[0], [&] { return b.Add(v, c); }, [&] { return b.Mul(v, c); }));
       }},
      {"nested on both sides",
       [](IrBuilder& b, const Values& v) {
         const Values c = b.Constant(1);
         b.Output(0, b.If(
                         v[0],
                         [&] {
                           return b.If(
                               v[1], [&] { return b.Add(v, c); }, [&] { return b.Mul(v, v); });
                         },
                         [&] {
                           return b.If(
                               v[2], [&] { return b.Mul(v, c); }, [&] { return v; });
                         }));
       }},
      {"an else that leaves the value",
       [](IrBuilder& b, const Values& v) {
         const Values c = b.Constant(2);
         const Values before = b.Add(v, c);
         b.Output(0, b.If(
                         v[3], [&] { return b.Mul(before, c); }, [&] { return before; }));
       }},
      {"two ifs in a row",
       [](IrBuilder& b, const Values& v) {
         const Values c = b.Constant(3);
         const Values first = b.If(
             v[0], [&] { return b.Add(v, c); }, [&] { return v; });
         b.Output(0, b.If(
                         first[1], [&] { return b.Mul(first, c); }, [&] { return b.Add(first, first); }));
       }},
  };
  for (const Row& row : rows) ExpectRebuildKeeps(row.what, row.build, 4);
}

// setp forms open ifc blocks of their comparison.
TEST_F(GxlFlowMap, ComparisonsOpenIfcBlocks) {
  for (std::uint32_t setp = 0x735; setp <= 0x738; ++setp) {
    ExpectRebuildKeeps(
        "setp " + std::to_string(setp - 0x735),
        [&](IrBuilder& b, const Values& v) {
          const Values c = b.Constant(0);
          b.Output(0, b.If(
                          v[0], [&] { return b.Add(v, c); }, [&] { return b.Mul(v, c); }));
          // The is-non-zero test becomes a comparison of v.x with v.y.
          IrInstruction& open = *b.Program().Instruction(Find(b.Program(), kOpIfBegin));
          open.word = IrWord(setp, 1);
          open.argumentCount = 2;
          open.arguments[1] = v[1];
        },
        4);
    EXPECT_EQ(Count(*target, 0), 0u);
  }
}

// if b0 inside if b0 loses its test; inside the else of if b0 it stays.
TEST_F(GxlFlowMap, NestedBoolConditions) {
  struct Row {
    const char* what;
    bool innerInThen;
    std::uint32_t ifs, negatedIfs;
  };
  for (const Row& row : {Row{"in the then side", true, 1, 1}, Row{"in the else side", false, 2, 0}}) {
    const auto build = [&](IrBuilder& b, const Values& v) {
      const std::uint32_t b0 = b.Register(StandardBank::BoolConstants, 0, 1)[0];
      const Values c = b.Constant(0);
      const auto inner = [&] {
        return b.If(
            b0, [&] { return b.Add(v, c); }, [&] { return b.Mul(v, c); });
      };
      const auto plain = [&] { return b.Mul(v, v); };
      b.Output(0, row.innerInThen ? b.If(b0, inner, plain) : b.If(b0, plain, inner));
    };
    ExpectRebuildKeeps(row.what, build, 4,
                       [&](IrInterpreter& run, std::uint32_t n) { run.SetRegister(BoolBank(), 0, 0, n % 2); });
    FlowTarget& t = MakeFlow(TestTarget::kVs30);
    IrBuilder builder(t);
    build(builder, builder.Input(0));
    ASSERT_EQ(t.RebuildFlowControl(), S_OK) << LogText(log);
    EXPECT_EQ(Count(t, flow::kIf), row.ifs) << row.what;
    EXPECT_EQ(Count(t, flow::kIfNot), row.negatedIfs) << row.what;
  }
}

// 30 nested boolean ifs are the most; 31 fail with a message, not a crash.
TEST_F(GxlFlowMap, BoolNestingLimit) {
  for (std::uint32_t depth : {30u, 31u}) {
    FlowTarget& t = MakeFlow(TestTarget::kVs30);
    IrBuilder b(t);
    const Values v = b.Input(0, 1);
    std::function<Values(std::uint32_t)> nest = [&](std::uint32_t d) -> Values {
      if (d == depth) return b.Add(v, v);
      const std::uint32_t bd = b.Register(StandardBank::BoolConstants, d, 1)[0];
      return b.If(
          bd, [&] { return nest(d + 1); }, [&] { return v; });
    };
    b.Output(0, nest(0));
    const std::size_t mark = LogMark(log);
    const HRESULT hr = t.RebuildFlowControl();
    EXPECT_EQ(hr, depth == 30 ? S_OK : E_FAIL) << depth;
    EXPECT_EQ(LogText(log).substr(mark).find("Conditional block too complex") != std::string::npos, depth == 31)
        << LogText(log).substr(mark);
  }
}

// The internal errors and limits of the rebuild leave the program as it was.
TEST_F(GxlFlowMap, RebuildErrors) {
  struct Row {
    const char* what;
    std::function<void(FlowTarget&)> build;
    const char* message;
  };
  const auto wide = [](std::uint32_t n) {
    return [n](FlowTarget& t) {
      IrBuilder b(t);
      const Values v = b.Input(0, 1);
      const Values many(n, v[0]);
      b.If(
          v[0], [&] { return b.Add(many, many); }, [&] { return b.Mul(many, many); });
    };
  };
  const auto nested = [](std::uint32_t depth) {
    return [depth](FlowTarget& t) {
      IrBuilder b(t);
      const Values v = b.Input(0, 1);
      std::function<Values(std::uint32_t)> nest = [&](std::uint32_t d) -> Values {
        if (d == depth) return b.Add(v, v);
        return b.If(
            v[0], [&] { return nest(d + 1); }, [&] { return v; });
      };
      nest(0);
    };
  };
  const Row rows[] = {
      {"a set-predicate of two components",
       [](FlowTarget& t) {
         const Values v = t.Reg(StandardBank::Inputs, 0, "xy");
         const Values p = t.Reg(StandardBank::BlockValues, 0, "xy");
         t.Put(kOpIfBegin, 2, v, p);
         const Values r = t.Reg(StandardBank::Temporaries, 0, "x");
         t.Value(r[0])->predicate = p[0];
         t.Put(kOpMove, 1, {v[0]}, r);
       },
       "IF with size greater then 1 found"},
      {"an instruction without results",
       [](FlowTarget& t) { t.Put(kOpMove, 1, t.Reg(StandardBank::Inputs, 0, "x"), {}); },
       "instruction missing outputs"},
      {"a merge outside any block",
       [](FlowTarget& t) {
         const Values v = t.Reg(StandardBank::Inputs, 0, "xy");
         t.Put(kOpIfMerge, 1, v, t.Reg(StandardBank::Temporaries, 0, "x"));
       },
       "unexpected endif found"},
      {"a merge of two blocks",
       [](FlowTarget& t) {
         IrBuilder b(t);
         const Values v = b.Input(0, 2);
         b.If(
             v[0], [&] { return b.Add(v, v); }, [&] { return v; });
         b.If(
             v[1], [&] { return b.Mul(v, v); }, [&] { return v; });
         // The first merge takes its else side from the second block.
         IrInstruction& first = *t.Instruction(Find(t, kOpIfMerge));
         const IrInstruction& last = *t.Instruction(t.instructions.Count() - 1);
         first.arguments[2] = last.arguments[2];
       },
       "if block with non matching predicates found"},
      {"127 merged values", wide(127), nullptr},
      {"128 merged values", wide(128), "Conditional block too complex"},
      {"64 nested blocks", nested(64), nullptr},
      {"65 nested blocks", nested(65), "Conditional block too complex"},
  };
  for (const Row& row : rows) {
    FlowTarget& t = MakeFlow(TestTarget::kVs30);
    row.build(t);
    const std::uint32_t before = t.instructions.Count();
    const std::size_t mark = LogMark(log);
    const HRESULT hr = t.RebuildFlowControl();
    if (!row.message) {
      EXPECT_EQ(hr, S_OK) << row.what << "\n" << LogText(log).substr(mark);
      continue;
    }
    EXPECT_EQ(hr, E_FAIL) << row.what;
    EXPECT_NE(LogText(log).substr(mark).find(row.message), std::string::npos) << row.what << "\n"
                                                                              << LogText(log).substr(mark);
    EXPECT_EQ(t.instructions.Count(), before) << row.what;
    EXPECT_EQ(Count(t, 0x734), 0u) << row.what;
  }
}

// A general loop's break: breakc eq x, -x where the profile has breakc, X4552 where not.
TEST_F(GxlFlowMap, ConditionalBreak) {
  for (auto flavour : {TestTarget::kVs20, TestTarget::kVs30}) {
    FlowTarget& a = MakeFlow(flavour);
    auto kept = std::move(target);
    FlowTarget& t = MakeFlow(flavour);
    for (FlowTarget* p : {&a, &t}) {
      IrBuilder b(*p);
      const Values v = b.Input(0, 2);
      const Values after = b.Loop(
          255, v, [&](const Values& e) { return b.Add(e, b.Constant(0, 2)); },
          [&](const Values& e) { return b.Add({e[0]}, {b.Literal(-3.0)})[0]; });
      b.Output(0, after);
    }
    const std::size_t mark = LogMark(log);
    const HRESULT hr = RunOn(t, kOpBreak, MapConditionalBreak);
    if (flavour == TestTarget::kVs20) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_NE(LogText(log).substr(mark).find("X4552: cannot map general loop to this instruction set"),
                std::string::npos)
          << LogText(log).substr(mark);
    } else {
      ASSERT_EQ(hr, S_OK) << LogText(log).substr(mark);
      const IrInstruction& brk = *t.Instruction(Find(t, flow::kBreakEqual));
      EXPECT_EQ(t.ResolveAlias(brk.arguments[1]), brk.arguments[0]);
      EXPECT_EQ(t.Value(brk.arguments[1])->binding & 0x80000, 0x80000u);
      for (double x : {-2.0, 0.0, 1.0, 2.5}) EXPECT_EQ(RunIr(a, {x, 1}, 2), RunIr(t, {x, 1}, 2)) << x;
    }
    target = std::move(kept);
  }
}

// A loop over a counter in r0.x that adds c[i].x (or i itself) to r0.y,
// registers assigned as the allocator leaves them: repeat of the iteration
// limit, left by breakc ge when the counter reaches the limit.
struct CountedLoop {
  double start, step, limit;
  bool indexRead = true;  // a += c[i].x; else a += i
  bool secondBreak = false;
  bool workBeforeBreak = false;  // an instruction of the loop before its break
};

// c0-c15 stay one array where relative reads go.
void ReserveConstantArray(FlowTarget& t) {
  RegisterBank& c = *t.Bank(t.StandardBankIndex(StandardBank::FloatConstants));
  c.type |= kBankRelative;
  c.registerCount = 16;
}

void BuildCountedLoop(FlowTarget& t, const CountedLoop& shape) {
  ReserveConstantArray(t);
  // The accumulator starts at 0.5.
  const std::uint32_t start = t.Literal(shape.start, 0, 0), initial = t.Literal(0.5, 0, 1);
  const std::uint32_t step = t.Literal(shape.step, 0, 2), limit = t.Literal(shape.limit, 0, 3);
  const std::uint32_t count = t.Literal(255, 1, 0);
  const Values q = t.Reg(StandardBank::Loops, 0, "x");
  t.Put(kOpLoopBegin, 1, {count}, q);
  auto guarded = [&](const Values& vs, std::uint32_t p, std::uint32_t sense) {
    for (std::uint32_t v : vs) t.Value(v)->predicate = p, t.Value(v)->predicateSense = sense;
    return vs;
  };
  auto r0 = [&](const char* c, std::uint32_t p, std::uint32_t sense = 1) {
    return guarded(t.Reg(StandardBank::Temporaries, 0, c), p, sense);
  };
  const Values entry = r0("xy", q[0]);
  t.Put(kOpLoopEntry, 2, {start, initial}, entry);
  const Values copies = r0("xy", q[0]);
  t.Put(kOpLoopEntryCopy, 2, entry, copies);
  if (shape.workBeforeBreak) t.Put(kOpMove, 1, {entry[1]}, guarded(t.Reg(StandardBank::Temporaries, 1, "x"), q[0], 1));
  const Values broken = guarded(t.Reg(StandardBank::BlockValues, 0, "x"), q[0], 1);
  t.Put(flow::kBreakGreaterEqual, 1, {entry[0], limit}, broken);
  if (shape.secondBreak)
    t.Put(flow::kBreakGreaterEqual, 1, {entry[0], limit}, guarded(t.Reg(StandardBank::BlockValues, 1, "x"), q[0], 1));
  std::uint32_t term = entry[0];
  if (shape.indexRead) {
    term = t.Reg(StandardBank::FloatConstants, 0, "x")[0];
    t.Value(term)->relativeIndex = entry[0];
  }
  const Values a = r0("y", broken[0]), i = r0("x", broken[0]);
  t.Put(kOpAdd, 1, {entry[1], term}, a);
  t.Put(kOpAdd, 1, {entry[0], step}, i);
  const Values after = r0("xy", broken[0], 1), before = r0("xy", broken[0], 0);
  t.Put(kOpMove, 2, {i[0], a[0]}, after);
  t.Put(kOpMove, 2, entry, before);
  const Values merged = r0("xy", q[0]);
  t.Put(kOpBreakMerge, 2, Concat(after, before), merged);
  const Values moved = r0("xy", q[0]);
  t.Put(kOpMove, 2, merged, moved);
  const Values carried = r0("xy", q[0]);
  t.Put(kOpLoopMerge, 2, Concat(moved, copies), carried);
  const Values out = t.Reg(StandardBank::Temporaries, 0, "xy");
  t.Put(kOpLoopEnd, 2, carried, out);
  const Values o0 = t.Reg(StandardBank::Outputs, 0, "xy");
  t.SetSemantic(o0, "POSITION");
  t.Put(kOpMove, 2, out, o0);
}

TEST_F(GxlFlowMap, CountedLoops) {
  struct Row {
    const char* what;
    CountedLoop shape;
    bool loop;  // becomes loop aL (else rep of the count)
    std::uint32_t iterations;
  };
  const Row rows[] = {
      {"for (i = 0; i < 8; i++) a += c[i]", {0, 1, 8}, true, 8},
      {"for (i = 2; i < 10; i += 2) a += c[i]", {2, 2, 10}, true, 4},
      {"for (i = 0; i < 16; i += 4.0f) a += i", {0, 4, 16, false}, false, 4},
      {"for (i = 1; i < 8; i += 3) a += c[i]", {1, 3, 8}, true, 3},
  };
  for (const Row& row : rows) {
    FlowTarget& a = MakeFlow(TestTarget::kVs30);
    auto kept = std::move(target);
    FlowTarget& t = MakeFlow(TestTarget::kVs30);
    BuildCountedLoop(a, row.shape);
    BuildCountedLoop(t, row.shape);
    ASSERT_EQ(RunOn(t, kOpLoopMerge, RecognizeCountedLoop), S_OK) << row.what << "\n" << LogText(log);
    EXPECT_EQ(Count(t, flow::kLoop), row.loop ? 1u : 0u) << row.what;
    EXPECT_EQ(Count(t, flow::kBreakGreaterEqual), 0u) << row.what;
    const IrInstruction& opener = *t.Instruction(Find(t, row.loop ? flow::kLoop : kOpLoopBegin));
    EXPECT_EQ(t.Value(opener.arguments[0])->rangeLow, row.iterations) << row.what;
    if (row.loop) {
      EXPECT_EQ(t.Value(opener.arguments[1])->rangeLow, row.shape.start) << row.what;
      EXPECT_EQ(t.Value(opener.arguments[2])->rangeLow, row.shape.step) << row.what;
    }
    // The sum the loop should give, from its own iterations.
    double want = 0.5;
    for (std::uint32_t k = 0; k < row.iterations; ++k) {
      const double i = row.shape.start + k * row.shape.step;
      want += row.shape.indexRead ? Constant(static_cast<std::uint32_t>(i), 0) : i;
    }
    const std::vector<double> ir = RunIr(a, {0.5}, 2);
    EXPECT_DOUBLE_EQ(ir[1], want) << row.what;
    EXPECT_EQ(RunIr(t, {0.5}, 2), ir) << row.what;
    // Rebuilt and emitted: loop aL, i# (or rep i#) reading c[aL].
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_NE(text.find(row.loop ? "loop aL, i" : "rep i"), std::string::npos) << row.what << "\n" << text;
    EXPECT_EQ(text.find("break"), std::string::npos) << row.what << "\n" << text;
    EXPECT_NEAR(RunCode(code, {0.5})[1], want, 1e-4) << row.what << "\n" << text;
    target = std::move(kept);
  }
}

TEST_F(GxlFlowMap, LoopsLeftAsTheyAre) {
  struct Row {
    const char* what;
    CountedLoop shape;
    HRESULT want;
    const char* message;
  };
  const Row rows[] = {
      {"a start beyond the counter's range", {300, 1, 310}, S_FALSE, nullptr},
      {"a step of zero", {0, 0, 8}, S_FALSE, nullptr},
      {"a fractional step", {0, 0.5, 8}, S_FALSE, nullptr},
      {"more than 255 iterations", {0, 1, 300}, S_FALSE, nullptr},
      {"work before the break", {0, 1, 8, true, false, true}, S_FALSE, nullptr},
      {"two breaks on the counter", {0, 1, 8, true, true}, E_FAIL, "X4835: internal error: multiple breaks found"},
  };
  for (const Row& row : rows) {
    FlowTarget& t = MakeFlow(TestTarget::kVs30);
    BuildCountedLoop(t, row.shape);
    const std::size_t mark = LogMark(log);
    EXPECT_EQ(RunOn(t, kOpLoopMerge, RecognizeCountedLoop), row.want) << row.what;
    EXPECT_EQ(Count(t, kOpLoopBegin), 1u) << row.what;
    EXPECT_GE(Count(t, flow::kBreakGreaterEqual), 1u) << row.what;
    if (row.message) {
      EXPECT_NE(LogText(log).substr(mark).find(row.message), std::string::npos) << LogText(log).substr(mark);
    }
  }
  // Left as rep and breakc, it still compiles and computes.
  MakeFlow(TestTarget::kVs30);
  BuildCountedLoop(Flow(), {0, 0.5, 3, false});
  const std::vector<double> ir = RunIr(Flow(), {0.5}, 2);
  const Code code = MustCompile();
  EXPECT_NE(Text(code).find("break_ge"), std::string::npos) << Text(code);
  EXPECT_NEAR(RunCode(code, {0.5})[1], ir[1], 1e-4) << Text(code);
}

// A counter from 0 by 1 without a break (shader model 3): the repeat becomes a
// loop whose aL the reads through the counter use.
TEST_F(GxlFlowMap, CounterWithoutBreak) {
  auto build = [](FlowTarget& t) {
    ReserveConstantArray(t);
    const std::uint32_t zero = t.Literal(0, 0, 0), initial = t.Literal(0.5, 0, 1), one = t.Literal(1, 0, 2);
    const std::uint32_t count = t.Literal(6, 1, 0);
    const Values q = t.Reg(StandardBank::Loops, 0, "x");
    t.Put(kOpLoopBegin, 1, {count}, q);
    auto r0 = [&](const char* c) {
      Values vs = t.Reg(StandardBank::Temporaries, 0, c);
      for (std::uint32_t v : vs) t.Value(v)->predicate = q[0];
      return vs;
    };
    const Values entry = r0("xy"), copies = r0("xy");
    t.Put(kOpLoopEntry, 2, {zero, initial}, entry);
    t.Put(kOpLoopEntryCopy, 2, entry, copies);
    const std::uint32_t term = t.Reg(StandardBank::FloatConstants, 0, "y")[0];
    t.Value(term)->relativeIndex = entry[0];
    const Values i = r0("x"), a = r0("y");
    t.Put(kOpAdd, 1, {entry[1], term}, a);
    t.Put(kOpAdd, 1, {entry[0], one}, i);
    const Values carried = r0("xy");
    t.Put(kOpLoopMerge, 2, {i[0], a[0], copies[0], copies[1]}, carried);
    const Values out = t.Reg(StandardBank::Temporaries, 0, "xy"), o0 = t.Reg(StandardBank::Outputs, 0, "xy");
    t.Put(kOpLoopEnd, 2, carried, out);
    t.SetSemantic(o0, "POSITION");
    t.Put(kOpMove, 2, out, o0);
  };
  FlowTarget& a = MakeFlow(TestTarget::kVs30);
  auto kept = std::move(target);
  FlowTarget& t = MakeFlow(TestTarget::kVs30);
  build(a);
  build(t);
  EXPECT_EQ(RunOn(t, kOpLoopMerge, RecognizeCountedLoop), S_FALSE);
  ASSERT_EQ(RunOn(t, kOpLoopMerge, RecognizeCountedLoopCounter), S_OK) << LogText(log);
  EXPECT_EQ(Count(t, flow::kLoop), 1u);
  double want = 0.5;
  for (std::uint32_t k = 0; k < 6; ++k) want += Constant(k, 1);
  EXPECT_DOUBLE_EQ(RunIr(t, {0.5}, 2)[1], want);
  EXPECT_EQ(RunIr(t, {0.5}, 2), RunIr(a, {0.5}, 2));
  const Code code = MustCompile();
  EXPECT_NEAR(RunCode(code, {0.5})[1], want, 1e-4) << Text(code);
  target = std::move(kept);
}

// Loop merges get moves only for the side not already in the result registers.
TEST_F(GxlFlowMap, LoopMergeMoves) {
  for (bool inPlace : {true, false}) {
    FlowTarget& t = MakeFlow(TestTarget::kVs30);
    BuildCountedLoop(t, {0, 1, 8});
    const std::uint32_t at = Find(t, kOpBreakMerge);
    IrInstruction& merge = *t.Instruction(at);
    if (!inPlace) t.Value(merge.arguments[2])->reg = 2;  // the side before the body
    ASSERT_EQ(t.ResetSelectionState(), S_OK);
    t.SetCurrentInstruction(at);
    EXPECT_EQ(t.MaterializeLoopMerge(), inPlace ? S_FALSE : S_OK);
    EXPECT_EQ(t.currentIndex, inPlace ? at : at + 1);
    if (inPlace) continue;
    const IrInstruction& move = *t.Instruction(at);
    EXPECT_EQ(move.Group(), kOpMove);
    EXPECT_EQ(t.Value(move.results[0])->reg, 0u);
    EXPECT_EQ(merge.arguments[2], move.results[0]);
  }
}

// If blocks with registers assigned, emitted: ifc against 0.0 on an input and
// if b# on a float uniform moved into a bool register.
TEST_F(GxlFlowMap, EmittedIfBlocks) {
  for (bool uniform : {false, true}) {
    MakeFlow(TestTarget::kVs30);
    FlowTarget& t = Flow();
    const Values v0 = t.Reg(StandardBank::Inputs, 0, "xy");
    t.SetSemantic(v0, "POSITION");
    const std::uint32_t test = uniform ? t.Reg(StandardBank::FloatConstants, 4, "x")[0] : v0[0];
    const Values p = t.Reg(StandardBank::BlockValues, 0, "x");
    t.Put(kOpIfBegin, 1, {test}, p);
    const Values then = t.Reg(StandardBank::Temporaries, 1, "x"), other = t.Reg(StandardBank::Temporaries, 1, "x");
    t.Value(then[0])->predicate = t.Value(other[0])->predicate = p[0];
    t.Value(other[0])->predicateSense = 0;
    t.Put(kOpAdd, 1, {v0[1], t.Reg(StandardBank::FloatConstants, 0, "x")[0]}, then);
    t.Put(kOpMultiply, 1, {v0[1], t.Reg(StandardBank::FloatConstants, 0, "y")[0]}, other);
    const Values merged = t.Reg(StandardBank::Temporaries, 1, "x");
    t.Put(kOpIfMerge, 1, {then[0], other[0]}, merged);
    const Values o0 = t.Reg(StandardBank::Outputs, 0, "x");
    t.SetSemantic(o0, "POSITION");
    t.Put(kOpMove, 1, merged, o0);
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_NE(text.find(uniform ? "\nif b" : "\nif_ne v0.x, -c"), std::string::npos) << text;
    // The bool register the uniform went to holds whether the float is non-zero.
    std::uint32_t boolRegister = 0;
    if (uniform) {
      const std::uint32_t at = Find(t, flow::kIf);
      ASSERT_NE(at, kNoIndex);
      const IrValue& b = *t.Value(t.Instruction(at)->arguments[0]);
      EXPECT_TRUE(t.Bank(b.bank)->type & kBankBoolean);
      boolRegister = b.reg;
    }
    for (double x : {0.0, 1.5}) {
      const float y = 0.75f;
      const float want = x != 0.0 ? y + Constant(0, 0) : y * Constant(0, 1);
      const nura::shtok::Float4 o = RunCode(code, {uniform ? 0.0 : x, y}, [&](nura::shtok::Interpreter& i) {
        i.SetBool(static_cast<int>(boolRegister), x != 0.0);
      });
      EXPECT_NEAR(o[0], want, 1e-5) << x << "\n" << text;
    }
  }
}

}  // namespace
}  // namespace flowtest

namespace selecttest {
namespace {

class GxlFlowMapRandom : public SelectTest {};

// Random programs of nested if/else blocks rebuilt: the structured program
// computes what the predicated one does.
TEST_F(GxlFlowMapRandom, RebuiltRandomBlocks) {
  ValidateOnRandomPrograms(
      "rebuild", nura::test::LongOrShare(300, 100), [](std::uint32_t) { return TestTarget::kVs30; },
      [](std::uint32_t seed) {
        irkit::RandomShape s;
        s.steps = 8 + seed % 16;
        s.constants = 0;  // if tests on uniforms move to b registers, which the program has no contents for
        s.ifPercent = 35;
        s.loopPercent = 0;
        s.maxDepth = 3;
        return s;
      },
      [](TestTarget& t, std::uint32_t seed) {
        ASSERT_EQ(t.RebuildFlowControl(), S_OK) << seed;
        for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
          const IrInstruction* inst = t.Instruction(i);
          ASSERT_TRUE(!inst || inst->word < 0x100000 || inst->Group() != kOpIfMerge) << seed;
        }
      });
}

}  // namespace
}  // namespace selecttest

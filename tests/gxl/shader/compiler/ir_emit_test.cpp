// IR emission: folding against the unfolded program, the target-dependent
// rewrites, result values and their facts, selects and comparison operands,
// all judged by the IR kit's interpreter.
#include <array>
#include <random>

#include "compiler_fixture.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace compilertest {
namespace {

class GxlIrEmit : public CompilerTest {
 protected:
  std::uint32_t Bool(std::uint32_t a, std::uint32_t b) { return Emit2(kOpLess, a, b, kValueComparison); }
  std::uint32_t GroupOf(std::uint32_t value) {
    return program->Instruction(program->Value(value)->definingPosition)->Group();
  }
};

TEST_F(GxlIrEmit, KnownResultsFoldIntoMovesOfLiteralsUnlessOptimisationIsOff) {
  for (std::uint32_t options : {0u, kOptionNoOptimisation}) {
    Start(0, 0, options);
    const std::uint32_t sum = Emit2(kOpAdd, Literal(2), Literal(3));
    const std::uint32_t root = Emit1(kOpRsq, sum);
    const IrInstruction& inst = *program->Instruction(program->Value(sum)->definingPosition);
    if (options) {
      EXPECT_EQ(inst.Group(), kOpAdd);
    } else {
      ASSERT_EQ(inst.Group(), kOpMove);
      ASSERT_EQ(inst.argumentCount, 1u);
      EXPECT_EQ(program->Value(inst.arguments[0])->rangeLow, 5.0);
      EXPECT_EQ(program->Value(sum)->moveSource, inst.arguments[0]);
      EXPECT_EQ(GroupOf(root), kOpMove);
    }
    EXPECT_EQ(Run1(root), 1 / std::sqrt(5.0));
    // A move of a literal stays as it is.
    const std::uint32_t four = Literal(4);
    EXPECT_EQ(program->Instruction(program->Value(Emit1(kOpMove, four))->definingPosition)->arguments[0], four);
    // Exact results and flow-control operations are never folded.
    EXPECT_EQ(GroupOf(Emit2(kOpAdd, Literal(1), Literal(1), kValueExact)), kOpAdd);
    EXPECT_EQ(GroupOf(Emit1(kOpIfBegin, Literal(1))), kOpIfBegin);
  }
}

TEST_F(GxlIrEmit, TargetRewritesKeepTheResults) {
  struct Row {
    std::uint32_t caps;
    std::uint32_t group, width;
    std::vector<std::uint32_t> groups;  // the operations emitted, in order
  };
  const Row rows[] = {
      {0, kOpDot, 1, {kOpMultiply}},
      {0, kOpDot, 2, {kOpMultiply, kOpMultiply, kOpAdd}},
      {kCapDot2, kOpDot, 2, {kOpDot}},
      {0, kOpDot, 3, {kOpDot}},
      {kCapCompareBySelect, kOpMin, 2, {kOpNegate, kOpAdd, kOpSelect}},
      {kCapCompareBySelect, kOpMax, 1, {kOpNegate, kOpAdd, kOpSelect}},
      {kCapCompareBySelect, kOpLess, 3, {kOpNegate, kOpAdd, kOpSelect}},
      {kCapCompareBySelect, kOpGreaterEqual, 1, {kOpNegate, kOpAdd, kOpSelect}},
      {0, kOpLess, 2, {kOpLess}},
  };
  const double xs[] = {-2, 0.5, 3, 3, -1.5, 7}, ys[] = {1, 0.5, -4, 3, -1.5, -7};
  for (const Row& row : rows) {
    Start(row.caps);
    std::vector<std::uint32_t> a, b;
    std::vector<double> inputs;
    for (std::uint32_t i = 0; i < row.width; ++i) {
      a.push_back(Input(2 * i));
      b.push_back(Input(2 * i + 1));
      inputs.insert(inputs.end(), {xs[i], ys[i]});
    }
    std::vector<std::uint32_t> out(row.group == kOpDot ? 1 : row.width, kNoIndex);
    ASSERT_EQ(compiler.EmitInstruction(nullptr, IrWord(row.group, row.width), out.data(), a.data(), b.data(), 0), S_OK);
    std::vector<std::uint32_t> groups;
    for (std::uint32_t i = 0; i < InstructionCount(); ++i) groups.push_back(program->Instruction(i)->Group());
    EXPECT_EQ(groups, row.groups) << "row " << (&row - rows);
    const std::vector<double> got = Run(out, inputs);
    double dot = 0;
    for (std::uint32_t i = 0; i < row.width; ++i) {
      const double x = xs[i], y = ys[i];
      dot += x * y;
      if (row.group == kOpMin) {
        EXPECT_EQ(got[i], std::min(x, y));
      }
      if (row.group == kOpMax) {
        EXPECT_EQ(got[i], std::max(x, y));
      }
      if (row.group == kOpLess) {
        EXPECT_EQ(got[i], x < y ? 1.0 : 0.0);
      }
      if (row.group == kOpGreaterEqual) {
        EXPECT_EQ(got[i], x >= y ? 1.0 : 0.0);
      }
    }
    if (row.group == kOpDot) {
      EXPECT_DOUBLE_EQ(got[0], dot) << "row " << (&row - rows);
    }
  }
}

TEST_F(GxlIrEmit, BooleanTimesItselfIsAMove) {
  const std::uint32_t x = Input(0), y = Input(1);
  const std::uint32_t b = Bool(x, y), c = Bool(y, x);
  EXPECT_EQ(GroupOf(Emit2(kOpMultiply, b, b, kValueNonNegative)), kOpMove);
  EXPECT_EQ(GroupOf(Emit2(kOpMultiply, b, b)), kOpMultiply);  // only when the result is asserted non-negative
  EXPECT_EQ(GroupOf(Emit2(kOpMultiply, b, c, kValueNonNegative)), kOpMultiply);
  EXPECT_EQ(GroupOf(Emit2(kOpMultiply, x, x, kValueNonNegative)), kOpMultiply);  // not boolean
}

TEST_F(GxlIrEmit, ResultsTakeOverNamedSymbolsAndCarryTheirContext) {
  ASSERT_EQ(compiler.ResetValueMap(4), S_OK);
  DeclarationNode declaration;
  const std::uint32_t x = Input(0);
  program->Value(x)->symbolSlot = 2;
  program->Value(x)->declaration = &declaration;
  program->Value(x)->variableComponent = 1;
  compiler.blockContext = Literal(1);
  compiler.polarity = 0;
  compiler.inlineDepth = 3;
  std::uint32_t named = x;
  const std::uint32_t one = compiler.One();
  ParseNodeKind13 node;
  ASSERT_EQ(compiler.EmitInstruction(&node, IrWord(kOpAdd, 1), &named, &x, &one, kValueHalf), S_OK);
  ASSERT_NE(named, x);
  const IrValue& r = *program->Value(named);
  EXPECT_EQ(compiler.valueMap[2], named);
  EXPECT_EQ(r.symbolSlot, 2u);
  EXPECT_EQ(r.declaration, &declaration);
  EXPECT_EQ(r.variableComponent, 1u);
  EXPECT_EQ(r.predicate, compiler.blockContext);
  EXPECT_EQ(r.predicateSense, 0u);
  EXPECT_EQ(r.flags & kValuePrecisionMask, kValueHalf);
  EXPECT_EQ(r.bank, Bank(StandardBank::Temporaries));
  const IrInstruction& inst = *program->Instruction(r.definingPosition);
  EXPECT_EQ(inst.sourcePosition, &node);
  EXPECT_EQ(inst.inlineDepth, 3u);
  EXPECT_EQ(program->Value(x)->useCount, 1u);
  compiler.blockContext = kNoIndex;
  EXPECT_EQ(program->Value(Emit1(kOpNegate, x))->flags & kValuePrecisionMask, compiler.defaultPrecision);
  EXPECT_EQ(Log(), "<null>");

  // Internal errors: a symbol without its declaration, a result or an argument that is no value.
  program->Value(x)->declaration = nullptr;
  named = x;
  EXPECT_EQ(compiler.EmitInstruction(nullptr, IrWord(kOpMove, 1), &named, &x, nullptr, 0), E_FAIL);
  named = 99999;
  EXPECT_EQ(compiler.EmitInstruction(nullptr, IrWord(kOpMove, 1), &named, &x, nullptr, 0), E_FAIL);
  const std::uint32_t missing = 88888;
  EXPECT_EQ(compiler.EmitInstruction(nullptr, IrWord(kOpMove, 1), nullptr, &missing, nullptr, 0), E_FAIL);
  EXPECT_EQ(compiler.EmitInstruction(nullptr, IrWord(kOpMove, 0), nullptr, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(program->Instruction(InstructionCount() - 1)->Group(), kOpNop);
  const std::string log = Log();
  EXPECT_NE(log.find("internal error: argument missing context (A" + std::to_string(x) + ")"), std::string::npos);
  EXPECT_NE(log.find("internal error: result register invalid"), std::string::npos);
  EXPECT_NE(log.find("internal error: unrecognized value"), std::string::npos);
  EXPECT_EQ(compiler.errorFlag, 1u);
}

TEST_F(GxlIrEmit, FlagsFollowTheOperation) {
  const std::uint32_t x = Input(0), y = Input(1);
  const std::uint32_t b = Bool(x, y), c = Bool(y, x);
  program->Value(x)->flags |= kValueInteger;
  program->Value(y)->flags |= kValueInteger;
  const std::uint32_t real = Input(2);
  struct Row {
    std::uint32_t value, set, clear;
  };
  const std::uint32_t bc[2] = {b, c}, xy[2] = {x, y};
  std::uint32_t dot = kNoIndex, realDot = kNoIndex;
  compiler.EmitInstruction(nullptr, IrWord(kOpDot, 2), &dot, xy, xy, 0);
  compiler.EmitInstruction(nullptr, IrWord(kOpDot, 2), &realDot, xy, bc, 0);
  const std::uint32_t select[3] = {x, b, c};
  std::uint32_t selected = kNoIndex;
  compiler.EmitInstruction(nullptr, IrWord(kOpSelect, 1), &selected, select, select + 1, 0);
  const Row rows[] = {
      {b, kValueComparison, 0},
      {Emit1(kOpNegate, x), kValueInteger, 0},
      {Emit1(kOpNegate, real), 0, kValueInteger},
      {Emit2(kOpAdd, x, y), kValueInteger, 0},
      {Emit2(kOpAdd, x, real), 0, kValueInteger},
      {Emit2(kOpMin, b, c), kValueComparison, 0},
      {Emit2(kOpMax, x, y), kValueInteger, kValueBoolean},
      {Emit2(kOpMultiply, b, c), kValueComparison, 0},
      {Emit2(kOpMultiply, x, real), 0, kValueInteger},
      {Emit2(kOpIfMerge, b, c), kValueComparison, 0},
      {selected, kValueComparison, 0},
      {dot, kValueInteger, 0},
      {realDot, kValueInteger, 0},  // booleans are integers too
      {Emit1(kOpMove, b), kValueComparison, 0},
      {Emit1(kOpReciprocal, x), 0, kValueInteger},
  };
  for (const Row& row : rows) {
    const std::uint32_t flags = program->Value(row.value)->flags;
    EXPECT_EQ(flags & row.set, row.set) << "row " << (&row - rows);
    EXPECT_EQ(flags & row.clear, 0u) << "row " << (&row - rows);
  }
  const std::uint32_t moved = Emit1(kOpMove, b);
  EXPECT_EQ(program->Value(moved)->moveSource, b);
}

TEST_F(GxlIrEmit, SelectFormsAgree) {
  const std::uint32_t forms[] = {0, kCapCompareBySelect, kCapCompareBySelect | kCapSelectOneGuard, kCapBlendedSelect};
  const double as[] = {1.5, -2, 0}, bs[] = {-7, 4, 0.25};
  for (std::uint32_t caps : forms) {
    for (int guards = 0; guards < 8; ++guards) {
      Start(caps);
      const std::uint32_t shared = Literal(0);  // guards 0: one value for all components
      std::uint32_t a[3], b[3], g[3];
      std::vector<double> inputs;
      for (std::uint32_t i = 0; i < 3; ++i) {
        a[i] = Input(2 * i);
        b[i] = Input(2 * i + 1);
        inputs.insert(inputs.end(), {as[i], bs[i]});
        // Literal guards, or comparison results of the inputs.
        g[i] = guards == 0  ? shared
               : guards % 2 ? Literal((guards >> i) & 1)
                            : Bool(Literal(0), Literal((guards >> i) & 1));
      }
      std::uint32_t out[3] = {kNoIndex, kNoIndex, kNoIndex};
      ASSERT_EQ(compiler.EmitSelect(nullptr, out, a, b, g, 3), S_OK);
      const std::vector<double> got = Run({out[0], out[1], out[2]}, inputs);
      for (std::uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(got[i], (guards >> i) & 1 ? bs[i] : as[i]) << "caps " << caps << " guards " << guards << " " << i;
      bool selects = false;
      for (std::uint32_t i = 0; i < InstructionCount(); ++i) selects |= program->Instruction(i)->Group() == kOpSelect;
      // One guard for all components is needed when the target says so.
      const bool sameGuards = g[0] == g[1] && g[1] == g[2];
      EXPECT_EQ(selects, (caps & kCapCompareBySelect) && (!(caps & kCapSelectOneGuard) || sameGuards));
    }
  }
}

TEST_F(GxlIrEmit, ComparisonOperandsTruthTable) {
  const double xs[] = {0.0, -0.0, 0.5, -0.5, 3, -3, 1e10, -1e-3};
  for (std::uint32_t flow : {0u, std::uint32_t{kFlowComparison}}) {
    for (bool nonNegative : {false, true}) {
      Start(0, flow);
      std::vector<std::uint32_t> x, lt, ge;
      std::vector<double> inputs;
      for (std::uint32_t i = 0; i < std::size(xs); ++i) {
        if (nonNegative && xs[i] < 0) continue;
        x.push_back(Input(i));
        if (nonNegative) program->Value(x.back())->flags |= kValueNonNegative;
        inputs.resize(i + 1);
        inputs[i] = xs[i];
      }
      const std::uint32_t n = static_cast<std::uint32_t>(x.size());
      std::vector<std::uint32_t> first(n), second(n);
      ASSERT_EQ(compiler.EmitComparisonOperands(nullptr, first.data(), second.data(), x.data(), n), S_OK);
      if (nonNegative && !flow) {
        EXPECT_EQ(first, x);  // already |x|
      }
      for (std::uint32_t i = 0; i < n; ++i) {
        lt.push_back(Emit2(kOpLess, second[i], first[i]));
        ge.push_back(Emit2(kOpGreaterEqual, second[i], first[i]));
      }
      const std::vector<double> less = Run(lt, inputs), atLeast = Run(ge, inputs);
      for (std::uint32_t i = 0, k = 0; i < std::size(xs); ++i) {
        if (nonNegative && xs[i] < 0) continue;
        EXPECT_EQ(less[k], xs[i] != 0 ? 1.0 : 0.0) << "x = " << xs[i] << " flow " << flow;
        EXPECT_EQ(atLeast[k], xs[i] == 0 ? 1.0 : 0.0) << "x = " << xs[i] << " flow " << flow;
        ++k;
      }
    }
  }
}

// Emission calls drawn at random, made on two programs in step: one folds,
// one does not. Every value must interpret alike.
TEST_F(GxlIrEmit, FoldingNeverChangesWhatAProgramComputes) {
  struct Side {
    ShaderCompiler compiler;
    irkit::RecordingTarget* program;
  };
  const std::uint32_t capSets[] = {
      0,          kCapDot2,       kCapCompareBySelect, kCapCompareBySelect | kCapSelectOneGuard,
      kCapSinCos, kCapNativeTrig, kCapBlendedSelect,   kCapDot2 | kCapCompareBySelect | kCapSinCos};
  std::mt19937_64 rng(0xF01D);
  std::uint64_t compared = 0;
  for (int sequence = 0; sequence < 2000; ++sequence) {
    const std::uint32_t caps = capSets[rng() % std::size(capSets)],
                        flow = rng() % 2 ? std::uint32_t{kFlowComparison} : 0u;
    std::array<Side, 2> sides;
    for (std::uint32_t s = 0; s < 2; ++s) {
      auto t = std::make_unique<irkit::RecordingTarget>(irkit::RecordingTarget::Limits(caps, flow));
      ASSERT_EQ(t->Init(nullptr, &pp.Log(), 0xFFFF0200, s ? kOptionNoOptimisation : 0), S_OK);
      sides[s].program = t.get();
      sides[s].compiler.target = std::move(t);
      sides[s].compiler.source = &pp;
      sides[s].compiler.options = s ? kOptionNoOptimisation : 0;
    }
    using Pair = std::array<std::uint32_t, 2>;
    std::vector<Pair> pool, booleans;
    std::vector<double> inputs;
    auto both = [&](auto make) {
      Pair p;
      for (std::uint32_t s = 0; s < 2; ++s) p[s] = make(sides[s]);
      return p;
    };
    for (std::uint32_t r = 0; r < 3; ++r) {
      inputs.push_back(std::uniform_real_distribution<double>(-3, 3)(rng));
      pool.push_back(both(
          [&](Side& s) { return s.program->AddValue(s.program->StandardBankIndex(StandardBank::Inputs), r, 0, 0.0); }));
    }
    for (double x : {std::uniform_real_distribution<double>(-4, 4)(rng), 0.5, 2.0, -1.0})
      pool.push_back(both([&](Side& s) { return s.compiler.NewLiteral(x); }));
    for (double x : {0.0, 1.0}) booleans.push_back(both([&](Side& s) { return s.compiler.NewLiteral(x); }));

    for (int call = 0; call < 10; ++call) {
      const std::uint32_t n = 1 + static_cast<std::uint32_t>(rng() % 3);
      std::vector<Pair> a(n), b(n), c(n);
      for (std::uint32_t i = 0; i < n; ++i) {
        a[i] = pool[rng() % pool.size()];
        b[i] = pool[rng() % pool.size()];
        c[i] = booleans[rng() % booleans.size()];
      }
      const int kind = static_cast<int>(rng() % 9);
      const bool twoArguments = rng() % 2;
      const std::uint32_t group = kind == 0   ? 0x100 + static_cast<std::uint32_t>(rng() % 15)
                                  : kind == 1 ? 0x200 + static_cast<std::uint32_t>(rng() % 7)
                                              : kOpDot;
      for (std::uint32_t s = 0; s < 2; ++s) {
        ShaderCompiler& sc = sides[s].compiler;
        std::uint32_t x[3], y[3], g[3], o[8], o2[3];
        for (std::uint32_t i = 0; i < n; ++i) x[i] = a[i][s], y[i] = b[i][s], g[i] = c[i][s];
        FillIndicesWithNone(o, 8);
        std::uint32_t count = n;
        HRESULT hr = S_OK;
        switch (kind) {
          case 0:
            hr = sc.EmitInstruction(nullptr, IrWord(group, n), o, x, nullptr, 0);
            break;
          case 1:
            hr = sc.EmitInstruction(nullptr, IrWord(group, n), o, x, y,
                                    group == kOpLess ? std::uint32_t{kValueComparison} : 0u);
            break;
          case 2:
            hr = sc.EmitInstruction(nullptr, IrWord(group, n), o, x, y, 0), count = 1;
            break;
          case 3:
            hr = sc.EmitSelect(nullptr, o, x, y, g, n);
            break;
          case 4: {
            std::uint32_t second[3];
            hr = sc.EmitComparisonOperands(nullptr, o2, second, x, n);
            if (SUCCEEDED(hr)) hr = sc.EmitInstruction(nullptr, IrWord(kOpLess, n), o, second, o2, kValueComparison);
            break;
          }
          case 5:
            hr = sc.EmitSinCos(nullptr, x, o, o + n, n), count = 2 * n;
            break;
          case 6:
            hr = sc.EmitArcSinCos(nullptr, x, o, o + n, n), count = 2 * n;
            break;
          case 7:
            hr = sc.EmitArcTan(nullptr, x, twoArguments ? y : nullptr, o, n);
            break;
          default:
            hr = sc.EmitPower(nullptr, o, x, y, n);
            break;
        }
        ASSERT_EQ(hr, S_OK) << "sequence " << sequence << " call " << call << " kind " << kind;
        if (s == 0) pool.resize(pool.size() + count);
        if (kind == 4 && s == 0) booleans.resize(booleans.size() + n);
        for (std::uint32_t i = 0; i < count; ++i) pool[pool.size() - count + i][s] = o[i];
        if (kind == 4)
          for (std::uint32_t i = 0; i < n; ++i) booleans[booleans.size() - n + i][s] = o[i];
      }
    }
    std::array<std::vector<double>, 2> results;
    std::vector<bool> nan;
    for (std::uint32_t s = 0; s < 2; ++s) {
      irkit::IrInterpreter run(*sides[s].program);
      for (std::uint32_t r = 0; r < inputs.size(); ++r)
        run.SetRegister(sides[s].program->StandardBankIndex(StandardBank::Inputs), r, 0, inputs[r]);
      ASSERT_TRUE(run.Run()) << run.Error();
      for (const Pair& p : pool) results[s].push_back(run.Value(p[s]));
      if (s == 1) nan = NanReached(*sides[s].program, run);
    }
    // Folding takes 0 x inf for 0 and ignores NaN operands, as the ranges do:
    // values a NaN reached in the unfolded program are not compared.
    for (std::size_t i = 0; i < pool.size(); ++i) {
      if (nan[pool[i][1]]) continue;
      ++compared;
      const double f = results[0][i], u = results[1][i];
      EXPECT_TRUE((std::isnan(f) && std::isnan(u)) || f == u || std::fabs(f - u) <= 1e-9 * std::fmax(1, std::fabs(u)))
          << "sequence " << sequence << " value " << i << ": folded " << f << ", unfolded " << u;
    }
  }
  EXPECT_GT(compared, 10000u);
}

}  // namespace
}  // namespace compilertest

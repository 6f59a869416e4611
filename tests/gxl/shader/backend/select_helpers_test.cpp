// The selection helpers: result order, splitting, address loads, producers
// and the placement of combined instructions keep what random programs
// compute; selected instructions compile on the test target and compute in
// the token kit's interpreter what C++ computes.
#include <cmath>
#include <cstring>
#include <set>

#include "../log_text.h"
#include "gxl/shader/backend/select/select_util.h"
#include "select_fixture.h"

namespace selecttest {
namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
constexpr auto kVs30 = TestTarget::kVs30;

class GxlSelectHelpers : public SelectTest {
 public:
  void ValidateOnRandomPrograms(const std::string& name, std::uint32_t programs, const irkit::RandomShape& base,
                                const std::function<void(TestTarget&, std::uint32_t seed)>& rewrite) {
    SelectTest::ValidateOnRandomPrograms(
        name, programs, [](std::uint32_t) { return kVs30; },
        [&](std::uint32_t seed) {
          irkit::RandomShape shape = base;
          shape.steps = base.steps + seed % 12;
          return shape;
        },
        rewrite);
  }

  // A vertex program over v0 (POSITION) and c0, c1 whose result goes to oPos.
  TestTarget& Vertex() {
    TestTarget& t = Make(kVs30);
    v0 = t.Reg(StandardBank::Inputs, 0);
    t.SetSemantic(v0, "POSITION");
    c0 = t.Reg(StandardBank::FloatConstants, 0);
    c1 = t.Reg(StandardBank::FloatConstants, 1);
    return t;
  }
  void Output(TestTarget& t, const Values& values) {
    static const char* letters[] = {"x", "xy", "xyz", "xyzw"};
    const Values out = t.Reg(StandardBank::Outputs, 0, letters[values.size() - 1]);
    t.SetSemantic(out, "POSITION");
    t.Put(kOpMove, static_cast<std::uint32_t>(values.size()), values, out);
  }
  // oPos of one vertex with v0 = kInput, c0 = kC0, c1 = kC1.
  Float4 Run(const targettest::Code& code) {
    nura::shtok::Interpreter interp;
    std::string error;
    Lane lane;
    EXPECT_TRUE(interp.Load(code.data(), code.size(), &error)) << error << "\n" << Text(code);
    interp.SetFloat(0, Float4(kC0[0], kC0[1], kC0[2], kC0[3]));
    interp.SetFloat(1, Float4(kC1[0], kC1[1], kC1[2], kC1[3]));
    lane.v[0] = Float4(kInput[0], kInput[1], kInput[2], kInput[3]);
    EXPECT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << Text(code);
    return lane.o[0];
  }
  static int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t at = 0; (at = text.find("\n" + word, at)) != std::string::npos; at += word.size()) ++n;
    return n;
  }

  static constexpr float kInput[4] = {0.5f, -1.25f, 2.0f, 3.0f};
  static constexpr float kC0[4] = {1.5f, 2.0f, -0.5f, 0.25f};
  static constexpr float kC1[4] = {-1.0f, 0.75f, 3.0f, 2.5f};
  Values v0, c0, c1;
};

TEST_F(GxlSelectHelpers, SortingResultsKeepsArgumentGroupsInStep) {
  struct Row {
    std::uint32_t group, groups;
    const char* order;  // result components
    HRESULT want;
  };
  const Row rows[] = {{kOpAdd, 2, "wzyx", S_OK},     {kOpSelect, 3, "ywxz", S_OK}, {kOpMove, 1, "zx", S_OK},
                      {kOpMultiply, 2, "xyz", S_OK}, {kOpLit, 1, "wzyx", S_FALSE}, {0x10F, 1, "yx", S_FALSE}};
  for (const Row& row : rows) {
    ExpectSame(
        row.order, kVs30,
        [&](IrBuilder& b, const Values* in) {
          auto& t = static_cast<TestTarget&>(b.Program());
          const auto n = static_cast<std::uint32_t>(std::strlen(row.order));
          Values arguments;
          for (std::uint32_t g = 0; g < row.groups; ++g)
            arguments = Concat(arguments, Values(in[g].begin(), in[g].begin() + n));
          const Values results = t.Reg(StandardBank::Temporaries, 1, row.order);
          t.Put(row.group, n, arguments, results);
          return results;
        },
        [&](TestTarget& t) {
          t.SetCurrentInstruction(Find(t, row.group));
          const HRESULT hr = t.SortResultsByComponent();
          for (std::uint32_t j = 1; hr == S_OK && j < t.current->resultCount; ++j)
            EXPECT_LT(t.Value(t.current->results[j - 1])->component, t.Value(t.current->results[j])->component);
          return hr;
        },
        row.want);
  }
}

TEST_F(GxlSelectHelpers, SplittingByComponentsKeepsResults) {
  std::uint32_t splits = 0;
  irkit::RandomShape shape;
  shape.steps = 8;
  ValidateOnRandomPrograms("split", 300, shape, [&](TestTarget& t, std::uint32_t seed) {
    std::mt19937 rng(seed);
    const std::uint32_t count = t.instructions.Count();
    for (std::uint32_t i = 0; i < count; ++i) {
      t.SetCurrentInstruction(i);
      const IrInstruction& inst = *t.current;
      const std::uint32_t n = inst.Width();
      const bool splittable = inst.IsArithmetic() && !IsSpecialOperation(&inst) && !InOperationSet1(inst.word) &&
                              inst.Group() != kOpDot && n >= 2 && inst.resultCount == n && inst.argumentCount % n == 0;
      if (splittable) {
        std::uint8_t keep[4] = {}, rest[4] = {};
        std::uint32_t k = 0;
        for (std::uint32_t j = 0; j < n; ++j) k += keep[j] = (j == 0 || (j < n - 1 && rng() % 2));
        for (std::uint32_t j = 0; j < n; ++j) rest[j] = !keep[j];
        ASSERT_EQ(t.SplitByComponents(keep, inst.argumentCount / n, k), S_OK);
        ASSERT_EQ(t.SplitByComponents(rest, inst.argumentCount / n, n - k), S_OK);
        ++splits;
      } else {
        ASSERT_NE(t.AddInstructionCopy(&inst), kNoIndex);
      }
      t.Instruction(i)->word = 0;
    }
    ASSERT_EQ(t.CompactInstructions(), S_OK);
  });
  EXPECT_GT(splits, 300u);
}

TEST_F(GxlSelectHelpers, AddressLoadsKeepResultsAndLoadEachIndexOnce) {
  std::uint32_t loads = 0;
  irkit::RandomShape shape;
  shape.steps = 8;
  shape.relativePercent = 30;
  ValidateOnRandomPrograms("address loads", 300, shape, [&](TestTarget& t, std::uint32_t) {
    // As the vertex targets do: each instruction after its loads, at the end of the list.
    for (int pass = 0; pass < 2; ++pass) {
      const std::uint32_t count = t.instructions.Count();
      for (std::uint32_t i = 0; i < count; ++i) {
        t.SetCurrentInstruction(i);
        if (!t.current || t.current->word < 0x100000) continue;
        std::set<std::uint32_t> indexes;
        for (std::uint32_t a = 0; a < t.current->argumentCount; ++a)
          if (const IrValue* v = t.Value(t.current->arguments[a]); v->relativeIndex != kNoIndex)
            indexes.insert(v->relativeIndex);
        const HRESULT hr = t.LoadAddressRegisters();
        // More indexes than the address register has components: nothing changes.
        ASSERT_TRUE(hr == S_OK || hr == S_FALSE || (hr == E_FAIL && indexes.size() > 4)) << std::hex << hr;
        ASSERT_TRUE(pass == 0 || hr != S_OK) << "a second pass loads nothing";
        if (hr == S_OK) {
          ++loads;
          const IrInstruction& load = *t.Instruction(t.instructions.Count() - 1);
          ASSERT_EQ(load.Group(), kOpMove);
          const std::set<std::uint32_t> distinct(load.arguments, load.arguments + load.argumentCount);
          EXPECT_EQ(distinct.size(), load.argumentCount) << "each index is loaded once";
          for (std::uint32_t r = 0; r < load.resultCount; ++r)
            EXPECT_EQ(t.Value(load.results[r])->bank, t.StandardBankIndex(StandardBank::Address));
        }
        ASSERT_NE(t.AddInstructionCopy(t.Instruction(i)), kNoIndex);
        t.Instruction(i)->word = 0;
      }
      ASSERT_EQ(t.CompactInstructions(), S_OK);
    }
  });
  EXPECT_GT(loads, 100u);
}

TEST_F(GxlSelectHelpers, ProductsPlacedAsMultiplyAddsKeepResults) {
  std::uint32_t placed = 0;
  irkit::RandomShape shape;
  shape.steps = 10;
  ValidateOnRandomPrograms("mad placement", 600, shape, [&](TestTarget& t, std::uint32_t) {
    ASSERT_EQ(t.ResetSelectionState(), S_OK);
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
      const IrInstruction* add = t.Instruction(i);
      std::uint32_t producers[2];
      if (!add || add->word < 0x100000 || add->Group() != kOpAdd ||
          FindGroupProducers(t, kOpMultiply, *add, producers, 2) != S_OK)
        continue;
      const std::uint32_t k = producers[0] != kNoIndex ? 0 : 1, n = add->Width();
      const IrInstruction& mul = *t.Instruction(producers[k]);
      auto* mad = new IrInstruction;
      ASSERT_EQ(mad->Init(IrWord(0x703, n), 3 * n, n, true), S_OK);
      std::copy(mul.arguments, mul.arguments + 2 * n, mad->arguments);
      std::copy(add->arguments + (1 - k) * n, add->arguments + (2 - k) * n, mad->arguments + 2 * n);
      std::copy(add->results, add->results + n, mad->results);
      const std::uint32_t matched[2] = {producers[k], i};
      if (t.PlaceCombinedInstruction(mad, matched, 2) != S_OK) {
        delete mad;
        continue;
      }
      ++placed;
      ASSERT_EQ(t.ResetSelectionState(), S_OK);
    }
  });
  EXPECT_GT(placed, 200u);
}

TEST_F(GxlSelectHelpers, SelectedInstructionsCompileAndCompute) {
  const auto sat = [](float x) { return std::min(std::max(x, 0.0f), 1.0f); };
  struct Row {
    const char* what;
    std::function<void(GxlSelectHelpers&, TestTarget&)> build;  // writes oPos
    std::function<void(TestTarget&)> select;
    const char* instruction;  // the one instruction selection leaves
    std::function<float(int)> want;
  };
  const auto rewrite = [](std::uint32_t group, Recognizer r) {
    return [group, r](TestTarget& t) { EXPECT_EQ(RunAt(t, group, r), S_OK); };
  };
  const Row rows[] = {
      {"a b + c is one mad",
       [](GxlSelectHelpers& f, TestTarget& t) {
         const Values p = t.Reg(StandardBank::Temporaries, 0), s = t.Reg(StandardBank::Temporaries, 1);
         t.Put(kOpMultiply, 4, Concat(f.v0, f.c0), p);
         t.Put(kOpAdd, 4, Concat(p, f.v0), s);  // one constant register per vertex instruction
         f.Output(t, s);
       },
       [](TestTarget& t) {
         ASSERT_EQ(t.ResetSelectionState(), S_OK);
         const std::uint32_t at = Find(t, kOpAdd), mul = Find(t, kOpMultiply);
         std::uint32_t producers[2];
         ASSERT_EQ(FindGroupProducers(t, kOpMultiply, *t.Instruction(at), producers, 2), S_OK);
         ASSERT_EQ(producers[0], mul);
         auto* mad = new IrInstruction;
         ASSERT_EQ(mad->Init(IrWord(0x703, 4), 12, 4, true), S_OK);
         const IrInstruction& add = *t.Instruction(at);
         std::copy(t.Instruction(mul)->arguments, t.Instruction(mul)->arguments + 8, mad->arguments);
         std::copy(add.arguments + 4, add.arguments + 8, mad->arguments + 8);
         std::copy(add.results, add.results + 4, mad->results);
         const std::uint32_t matched[2] = {mul, at};
         ASSERT_EQ(t.PlaceCombinedInstruction(mad, matched, 2), S_OK);
       },
       "mad", [](int i) { return kInput[i] * kC0[i] + kInput[i]; }},
      {"saturate(x) is one saturated move",
       [](GxlSelectHelpers& f, TestTarget& t) {
         const Values m = t.Reg(StandardBank::Temporaries, 0), s = t.Reg(StandardBank::Temporaries, 1);
         t.Put(kOpMax, 4, Concat(f.v0, Values(4, t.Literal(0, 0, 0))), m);
         t.Put(kOpMin, 4, Concat(Values(4, t.Literal(1, 0, 1)), m), s);
         f.Output(t, s);
       },
       rewrite(kOpMin, RecognizeSaturate), "mov_sat", [&](int i) { return sat(kInput[i]); }},
      {"exp(c log x) is one pow",
       [](GxlSelectHelpers& f, TestTarget& t) {
         const Values l = t.Reg(StandardBank::Temporaries, 0, "x"), m = t.Reg(StandardBank::Temporaries, 0, "y");
         const Values e = t.Reg(StandardBank::Temporaries, 1, "x");
         t.Put(kOpLog2, 1, {f.v0[2]}, l);
         t.Put(kOpMultiply, 1, {l[0], f.c0[0]}, m);
         t.Put(kOpExp2, 1, m, e);
         f.Output(t, e);
       },
       rewrite(kOpExp2, RecognizePower), "pow", [](int) { return std::pow(kInput[2], kC0[0]); }},
      {"x rsq(dot(x, x)) is one nrm",
       [](GxlSelectHelpers& f, TestTarget& t) {
         const Values x = Values(f.v0.begin(), f.v0.begin() + 3);
         const Values d = t.Reg(StandardBank::Temporaries, 0, "x"), r = t.Reg(StandardBank::Temporaries, 0, "y");
         const Values n = t.Reg(StandardBank::Temporaries, 1, "xyz");
         t.Put(kOpDot, 3, Concat(x, x), d);
         t.Put(kOpRsq, 1, d, r);
         t.Put(kOpMultiply, 3, Concat(Values(3, r[0]), x), n);
         f.Output(t, n);
       },
       rewrite(kOpMultiply, RecognizeNormalize), "nrm",
       [](int i) {
         return kInput[i] / std::sqrt(kInput[0] * kInput[0] + kInput[1] * kInput[1] + kInput[2] * kInput[2]);
       }},
      {"max(x, -x) is one abs",
       [](GxlSelectHelpers& f, TestTarget& t) {
         const Values a = t.Reg(StandardBank::Temporaries, 1);
         t.Put(kOpMax, 4, Concat(f.v0, Negated(t, f.v0)), a);
         f.Output(t, a);
       },
       rewrite(kOpMax, RecognizeAbsFromMax), "abs", [](int i) { return std::fabs(kInput[i]); }},
      {"cmp(x - c, x, c) is one max on a target without cmp",
       [](GxlSelectHelpers& f, TestTarget& t) {
         const Values d = t.Reg(StandardBank::Temporaries, 0), m = t.Reg(StandardBank::Temporaries, 1);
         t.Put(kOpAdd, 4, Concat(f.v0, Negated(t, f.c0)), d);
         t.Put(kOpSelect, 4, Concat(Concat(d, f.v0), f.c0), m);
         f.Output(t, m);
       },
       rewrite(kOpSelect, RecognizeMinMaxFromCompare), "max", [](int i) { return std::max(kInput[i], kC0[i]); }},
      {"mad(x - c0, x.w, c0) is one lrp",
       [](GxlSelectHelpers& f, TestTarget& t) {
         const Values d = t.Reg(StandardBank::Temporaries, 0), l = t.Reg(StandardBank::Temporaries, 1);
         t.Put(kOpAdd, 4, Concat(f.v0, Negated(t, f.c0)), d);
         t.Put(0x703, 4, Concat(Concat(d, Values(4, f.v0[3])), f.c0), l);
         f.Output(t, l);
       },
       [](TestTarget& t) { EXPECT_EQ(RunAt(t, 0x703, [](ShaderTarget& s) { return RecognizeLerpFromMad(s); }), S_OK); },
       "lrp", [](int i) { return kC0[i] + kInput[3] * (kInput[i] - kC0[i]); }},
  };
  for (const Row& row : rows) {
    TestTarget& t = Vertex();
    row.build(*this, t);
    row.select(t);
    const targettest::Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_EQ(Count(text, std::string(row.instruction) + " "), 1) << row.what << "\n" << text;
    for (const char* other : {"mul ", "add ", "min ", "exp ", "log ", "rsq ", "dp3 "})
      EXPECT_EQ(Count(text, other), 0) << row.what << "\n" << text;
    const Float4 got = Run(code);
    for (int i = 0; i < 4; ++i) {
      if (std::string(row.what).find("nrm") != std::string::npos && i == 3) break;
      if (std::string(row.what).find("pow") != std::string::npos && i > 0) break;
      EXPECT_NEAR(got[i], row.want(i), 1e-4f * (1 + std::fabs(row.want(i)))) << row.what << " " << i << "\n" << text;
    }
  }
}

TEST_F(GxlSelectHelpers, ProducersAndFusion) {
  TestTarget& t = Make(kVs30);
  IrBuilder b(t);
  const Values x = b.Input(0), y = b.Input(1);
  const Values m = b.Mul(Values(x.begin(), x.begin() + 2), Values(y.begin(), y.begin() + 2));
  const Values s = b.Add(Values(y.begin(), y.begin() + 2), m);  // the product on the right
  const Values twice = b.Mul({x[3]}, {y[3]});
  const Values shared = b.Add(twice, {x[2]});
  b.Output(0, Concat(s, shared));
  b.Output(1, twice);
  ASSERT_EQ(t.ResetSelectionState(), S_OK);
  std::uint32_t producers[2];
  ASSERT_EQ(FindGroupProducers(t, kOpMultiply, *t.Instruction(Find(t, kOpAdd) - 2), producers, 2), S_OK);
  EXPECT_EQ(producers[0], kNoIndex);
  EXPECT_EQ(producers[1], Find(t, kOpMultiply) - 2);
  // A product read elsewhere has no producer role, nor does another operation.
  EXPECT_EQ(FindGroupProducers(t, kOpMultiply, *t.Instruction(Find(t, kOpAdd)), producers, 2), S_FALSE);
  EXPECT_EQ(FindGroupProducers(t, kOpAdd, *t.Instruction(Find(t, kOpAdd) - 2), producers, 2), S_FALSE);

  // Fusion: the add takes the product's group first.
  std::uint32_t reader = kNoIndex;
  const std::uint32_t mul = Find(t, kOpMultiply) - 2, add = Find(t, kOpAdd) - 2;
  ASSERT_EQ(CheckProducerFusion(t, kOpAdd, mul, &reader, 2, 1), S_OK);
  EXPECT_EQ(reader, add);
  EXPECT_EQ(Values(t.Instruction(add)->arguments, t.Instruction(add)->arguments + 2), m);
  EXPECT_EQ(CheckProducerFusion(t, kOpMultiply, mul, &reader, 2, 1), S_FALSE) << "the reader is an add";
  EXPECT_EQ(CheckProducerFusion(t, kOpAdd, Find(t, kOpMultiply), &reader, 2, 1), S_FALSE) << "read twice";
}

// Which instructions between two positions write a register component one
// of the values names: a write by another value record of the same register
// counts, a dead instruction, a skipped position, the ends themselves, a
// relatively addressed register and an unassigned value do not.
TEST_F(GxlSelectHelpers, WrittenBetweenFindsWritesOfAnyValueAsked) {
  TestTarget& t = Make(kVs30);
  const auto temp = StandardBank::Temporaries;
  const Values r0 = t.Reg(temp, 0, "xy"), r1x = t.Reg(temp, 1, "x"), o0x = t.Reg(StandardBank::Outputs, 0, "x");
  const Values r0x = t.Reg(temp, 0, "x"), r2x = t.Reg(temp, 2, "x"), r3x = t.Reg(temp, 3, "x");
  const Values r5x = t.Reg(temp, 5, "x"), relative = t.Reg(temp, 5, "x");
  t.Value(relative[0])->relativeIndex = r1x[0];
  const std::uint32_t unassigned = t.AddValue(t.StandardBankIndex(temp), kNoIndex, kNoIndex, 0.0);
  const Values v0 = t.Reg(StandardBank::Inputs, 0), c0 = t.Reg(StandardBank::FloatConstants, 0);
  t.Put(kOpMove, 2, {v0[0], v0[1]}, r0);    // 0
  t.Put(kOpMove, 1, {v0[2]}, r1x);          // 1
  t.Put(kOpMove, 1, {c0[0]}, o0x);          // 2
  t.Put(kOpMove, 1, {c0[1]}, r0x);          // 3: r0.x again
  t.Put(kOpAdd, 1, {r0x[0], r1x[0]}, r2x);  // 4
  t.Instruction(t.Put(kOpMove, 1, {c0[2]}, r3x))->word = 0;  // 5: dead
  t.Put(kOpMove, 1, {c0[3]}, r5x);          // 6
  ASSERT_EQ(t.ResetSelectionState(), S_OK);
  MatchedList skip3;
  skip3.position[skip3.count++] = 3;
  Values many(16, r0[1]);
  many.push_back(r1x[0]);  // past the first batch of sixteen
  struct Case {
    const char* what;
    Values values;
    std::uint32_t from, to;
    const MatchedList* skip;
    bool written;
  } cases[] = {
      {"another record of r0.x", {r0[0]}, 0, 4, nullptr, true},
      {"the ends do not count", {r0[0]}, 3, 4, nullptr, false},
      {"from before the first", {r0[0]}, kNoIndex, 1, nullptr, true},
      {"r0.y is written once, at 0", {r0[1]}, 0, 7, nullptr, false},
      {"any of two", {r0[1], r1x[0]}, 0, 4, nullptr, true},
      {"an output register", {r0[1], o0x[0]}, 1, 3, nullptr, true},
      {"none of two", {r0[1], o0x[0]}, 2, 7, nullptr, false},
      {"a skipped position", {r0[0]}, 0, 4, &skip3, false},
      {"a dead instruction", {r3x[0]}, 0, 7, nullptr, false},
      {"a relative read of r5.x", relative, 0, 7, nullptr, false},
      {"r5.x itself", r5x, 0, 7, nullptr, true},
      {"an unassigned value", {unassigned}, 0, 7, nullptr, false},
      {"the seventeenth value", many, 0, 4, nullptr, true},
      {"an end past the list", {r5x[0]}, 5, 100, nullptr, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sel::WrittenBetween(t, c.values.data(), static_cast<std::uint32_t>(c.values.size()), c.from, c.to, c.skip),
              c.written)
        << c.what;
  }
}

TEST_F(GxlSelectHelpers, AliasChainsTextureReadsAndDerivatives) {
  TestTarget& t = Make(kVs30);
  IrBuilder b(t);
  const Values x = b.Input(0);
  const std::uint32_t w = b.Move({x[0]})[0];
  const std::uint32_t u = Negated(t, w), v = t.AddValueCopy(t.Value(u));
  t.Value(v)->alias = u;
  t.Value(v)->binding = 0x200;
  t.Value(w)->variableOffset = 12;
  EXPECT_EQ(FlattenAliasChains(t), S_OK);
  EXPECT_EQ(t.Value(v)->alias, w);
  EXPECT_EQ(t.Value(v)->binding, 0x80200u);
  EXPECT_EQ(t.Value(v)->variableOffset, 12u);
  EXPECT_EQ(t.Value(u)->alias, w);

  const std::uint32_t sampler = b.Sampler(0);
  const Values coords = b.Move(x);
  b.Sample(0x606, sampler, 4, coords);
  const std::uint32_t at = Find(t, 0x606);
  EXPECT_EQ(IsReadByTextureInstruction(t, coords[1], 0, at), 1u);
  EXPECT_EQ(IsReadByTextureInstruction(t, coords[1], 0, at - 1), 0u);
  EXPECT_EQ(IsReadByTextureInstruction(t, x[1], 0, at), 0u);
  t.profileLimits.capabilities |= 0x20000000;
  EXPECT_EQ(IsReadByTextureInstruction(t, coords[1], 0, at), 0u);

  IrInstruction probe;
  for (const auto& [group, want] : {std::pair{0x10Du, 1u}, std::pair{0x10Eu, 1u}, std::pair{0x104u, 0u}}) {
    probe.word = IrWord(group, 1);
    EXPECT_EQ(IsDerivativeOperation(probe), want) << std::hex << group;
  }
}

TEST_F(GxlSelectHelpers, ForwardingMovesTakeTheSourcesRepresentative) {
  TestTarget& t = Make(kVs30);
  const std::uint32_t bank = t.AddRegisterBank("f", 0x80000000u | kBankReadable | kBankWritable, kNoIndex, 4);
  const Values f = t.Reg(bank, 0, "x"), r = t.Reg(StandardBank::Temporaries, 2, "x");
  const Values kept = t.Reg(StandardBank::Temporaries, 3, "x"), plain = t.Reg(StandardBank::Temporaries, 4, "x");
  t.Put(kOpMove, 1, f, r);
  t.Put(kOpMove, 1, kept, plain);
  t.Put(kOpAdd, 1, {r[0], plain[0]}, t.Reg(StandardBank::Outputs, 0, "x"));
  t.NumberValues();
  t.SetCurrentInstruction(0);
  EXPECT_EQ(RemoveForwardingMove(t), S_OK);
  t.SetCurrentInstruction(1);
  EXPECT_EQ(RemoveForwardingMove(t), S_FALSE);
  t.RenumberValueLinks();
  EXPECT_EQ(t.Instruction(0)->word, 0u);
  EXPECT_EQ(t.Instruction(2)->arguments[0], f[0]);
  EXPECT_EQ(t.Instruction(2)->arguments[1], plain[0]);
}

}  // namespace
}  // namespace selecttest

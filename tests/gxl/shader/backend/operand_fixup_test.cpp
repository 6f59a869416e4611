// Operand fix-ups under a one-constant read-port rule (as vs_1_1): the
// compile's per-reader copies, emitted and run; and the shared copy of a
// register that breaks the rule, one per predicate chain.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "flow_fixture.h"

namespace flowtest {
namespace {

using shadertest::LogText;

class GxlOperandFixup : public FlowTest {
 protected:
  FlowTarget& PortTarget() {
    FlowTarget& t = MakeFlow(TestTarget::kVs20);
    t.oneConstant = true;
    t.rebuild = false;
    v0 = t.Reg(StandardBank::Inputs, 0);
    t.SetSemantic(v0, "POSITION");
    for (std::uint32_t r = 0; r < 4; ++r) c[r] = t.Reg(StandardBank::FloatConstants, r);
    return t;
  }
  void Output(FlowTarget& t, const Values& values) {
    const Values out = t.Reg(StandardBank::Outputs, 0);
    t.SetSemantic(out, "POSITION");
    t.Put(kOpMove, 4, values, out);
  }
  // Arithmetic lines of the code reading more than one constant register.
  static int LinesWithTwoConstants(const std::string& text) {
    int n = 0;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(at, end - at);
      at = end + 1;
      if (line.rfind("def", 0) == 0 || line.rfind("dcl", 0) == 0) continue;
      std::set<std::string> registers;
      for (std::size_t p = 1; p < line.size(); ++p) {
        if (line[p] != 'c' || (line[p - 1] != ' ' && line[p - 1] != '-')) continue;
        std::size_t q = p + 1;
        while (q < line.size() && std::isdigit(static_cast<unsigned char>(line[q]))) ++q;
        if (q > p + 1) registers.insert(line.substr(p, q - p));
      }
      n += registers.size() > 1;
    }
    return n;
  }

  Values v0, c[4];
};

// The compile copies, per reader, every constant group beyond the first.
TEST_F(GxlOperandFixup, CopiesBeforeEachReader) {
  struct Row {
    const char* what;
    std::function<Values(FlowTarget&, const Values*, const Values&)> build;
    std::function<float(const float* k0, const float* k1, const float* k2, const float* v, int i)> want;
  };
  const Row rows[] = {
      {"c0 + c1",
       [](FlowTarget& t, const Values* c, const Values&) {
         const Values r = t.Reg(StandardBank::Temporaries, 0);
         t.Put(kOpAdd, 4, Concat(c[0], c[1]), r);
         return r;
       },
       [](const float* k0, const float* k1, const float*, const float*, int i) { return k0[i] + k1[i]; }},
      {"c0 c1 + c2",
       [](FlowTarget& t, const Values* c, const Values&) {
         const Values r = t.Reg(StandardBank::Temporaries, 0);
         t.Put(0x703, 4, Concat(Concat(c[0], c[1]), c[2]), r);
         return r;
       },
       [](const float* k0, const float* k1, const float* k2, const float*, int i) { return k0[i] * k1[i] + k2[i]; }},
      {"v0 c0 + c0 needs nothing",
       [](FlowTarget& t, const Values* c, const Values& v) {
         const Values r = t.Reg(StandardBank::Temporaries, 0);
         t.Put(0x703, 4, Concat(Concat(v, c[0]), c[0]), r);
         return r;
       },
       [](const float* k0, const float*, const float*, const float* v, int i) { return v[i] * k0[i] + k0[i]; }},
  };
  const std::vector<double> input = {0.5, -1.0, 2.0, 0.25};
  for (const Row& row : rows) {
    FlowTarget& t = PortTarget();
    Output(t, row.build(t, c, v0));
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_EQ(LinesWithTwoConstants(text), 0) << row.what << "\n" << text;
    const nura::shtok::Float4 o = RunCode(code, input);
    float k[3][4], v[4];
    for (int i = 0; i < 4; ++i) {
      for (int r = 0; r < 3; ++r) k[r][i] = Constant(r, i);
      v[i] = static_cast<float>(input[i]);
    }
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(o[i], row.want(k[0], k[1], k[2], v, i), 1e-5) << row.what << "\n" << text;
  }
}

// After assignment: one copy of the most read offending register, shared by
// the later constrained readers of the same predicate chain.
TEST_F(GxlOperandFixup, OneSharedCopyPerPredicateChain) {
  for (bool split : {false, true}) {
    FlowTarget& a = PortTarget();
    auto kept = std::move(target);
    FlowTarget& t = PortTarget();
    for (FlowTarget* p : {&a, &t}) {
      // c1 is read by three instructions, c0 by two: c1 is the one copied.
      const Values k0 = p->Reg(StandardBank::FloatConstants, 0), k1 = p->Reg(StandardBank::FloatConstants, 1);
      const Values r0 = p->Reg(StandardBank::Temporaries, 0), r1 = p->Reg(StandardBank::Temporaries, 1);
      const Values r2 = p->Reg(StandardBank::Temporaries, 2), r3 = p->Reg(StandardBank::Temporaries, 3);
      p->Put(kOpAdd, 4, Concat(k0, k1), r0);
      p->Put(kOpMultiply, 4, Concat(k1, k0), r1);
      if (split) {
        // The third reader runs under a predicate of its own (true here).
        const Values guard = p->Reg(StandardBank::Predicates, 0, "x");
        p->Put(0x735, 1, {r0[0], r1[0]}, guard);
        for (std::uint32_t v : r2) p->Value(v)->predicate = guard[0];
      }
      p->Put(kOpAdd, 4, Concat(k1, p->Reg(StandardBank::FloatConstants, 2)), r2);
      p->Put(kOpAdd, 4, Concat(r0, r1), r3);
      const Values out = p->Reg(StandardBank::Outputs, 0);
      p->Put(kOpAdd, 4, Concat(r3, r2), out);
    }
    const std::uint32_t moves = Count(t, kOpMove);
    ASSERT_EQ(t.CheckPortConstraints(), S_OK) << LogText(log);
    EXPECT_EQ(Count(t, kOpMove) - moves, split ? 2u : 1u) << split;
    std::uint32_t first = kNoIndex;
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
      const IrInstruction* inst = t.Instruction(i);
      std::uint32_t group = 0;
      if (!inst) continue;
      if (inst->Group() != kOpMove) {
        EXPECT_EQ(t.NextArgumentToCopy(*inst, &group), 0u) << split << " instruction " << i;
      } else if (t.BankOf(*t.Value(inst->arguments[0]))->type & kBankUniform) {
        EXPECT_EQ(t.Value(inst->arguments[0])->reg, 1u) << split;
        if (first == kNoIndex) first = t.Value(inst->results[0])->reg;
      }
    }
    EXPECT_EQ(first, 4u) << "one above the highest temporary";
    const std::vector<double> input = {0.5, -1.0, 2.0, 0.25};
    EXPECT_EQ(RunIr(a, input, 4), RunIr(t, input, 4)) << split;
    target = std::move(kept);
  }
}

// A violation in a register that is written cannot be copied away.
TEST_F(GxlOperandFixup, WrittenRegisterViolates) {
  class AlwaysGroupOne : public FlowTarget {
   public:
    using FlowTarget::FlowTarget;
    std::uint32_t NextArgumentToCopy(const IrInstruction& inst, std::uint32_t* group) override {
      if (inst.Group() != kOpAdd) return 0;
      *group = 1;
      return 1;
    }
  };
  auto made = std::make_unique<AlwaysGroupOne>(TestTarget::kVs20);
  AlwaysGroupOne& t = *made;
  target = std::move(made);
  ASSERT_EQ(t.Init(nullptr, &log, TestTarget::kVs20, 0), S_OK);
  const Values r0 = t.Reg(StandardBank::Temporaries, 0), r1 = t.Reg(StandardBank::Temporaries, 1);
  t.Put(kOpMove, 4, t.Reg(StandardBank::Inputs, 0), r0);
  t.Put(kOpAdd, 4, Concat(r0, r0), r1);
  EXPECT_EQ(t.CheckPortConstraints(), E_FAIL);
  EXPECT_NE(LogText(log).find("internal error: result violated port constraints"), std::string::npos)
      << LogText(log);
}

}  // namespace
}  // namespace flowtest

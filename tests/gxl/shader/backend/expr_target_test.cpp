// The expression target: its blocks against images laid out by hand, the
// contiguous rewrite run in the textures library's evaluator, the semantics
// and limits of texture shaders, and random programs compiled and evaluated
// against the IR interpreter.
#include <cmath>
#include <string>

#include "../fail_alloc.h"
#include "expr_fixture.h"
#include "gxl/math/noise.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/ir_interpreter.h"
#include "tests/support/ir/random_program.h"
#include "tests/support/test_util.h"

namespace {

using namespace exprtest;
using irkit::Concat;

constexpr DWORD kTx = kTextureShaderVersionToken;
constexpr DWORD kFx = kExpressionVersionToken;
constexpr DWORD kPre = kPreshaderVersionToken;

Code DoubleWords(std::initializer_list<double> xs) {
  Code out;
  for (double x : xs) {
    std::uint32_t w[2];
    std::memcpy(w, &x, 8);
    out.insert(out.end(), {w[0], w[1]});
  }
  return out;
}

class GxlExprTarget : public ExprTest {};

TEST_F(GxlExprTarget, BlocksMatchAnImageLaidOutByHand) {
  Make(kTx);
  const Values v0 = Reg(StandardBank::Inputs, 0, "xy"), c0 = Reg(StandardBank::FloatConstants, 0);
  const Values r0 = Reg(StandardBank::Temporaries, 0, "xy"), o0 = Reg(StandardBank::Outputs, 0);
  const std::uint32_t two = Literal(2, 0, 0), three = Literal(3, 0, 1), half = Literal(0.5, 0, 2);
  Put(kOpMultiply, 2, {v0[0], v0[1], two, three}, {r0[0], r0[1]});
  Put(kOpAdd, 1, {r0[1], c0[2]}, {o0[0]});
  Put(kOpLess, 2, {v0[0], v0[1], half, half}, {o0[1], o0[2]});  // scalar second group, not commutative
  Put(kOpDot, 2, {c0[0], c0[3], r0[0], r0[1]}, {o0[3]});        // x and w: not one run
  const Code code = MustCompile();
  ASSERT_FALSE(code.empty());
  EXPECT_EQ(code.front(), kTx);
  EXPECT_EQ(code.back(), 0x0000FFFFu);
  EXPECT_EQ(Tags(code), (std::vector<std::uint32_t>{kTagConstantTable, kTagLiterals, kTagExpressionCode}));

  Code clit = Concat({4}, DoubleWords({2.0, 3.0, 0.5, 0.0}));
  EXPECT_EQ(Block(code, kTagLiterals), clit);
  const Code fxlc = {5,          0x20500002, 2, 0, 3, 0, 0, 1, 0, 0, 7, 0,  // mul r0.xy, v0.xy, l0.xy
                     0xA0400001, 2,          0, 7, 1, 0, 2, 2, 0, 4, 0,     // add o0.x, r0.y (scalar), c0.z
                     0xA0200001, 2,          0, 3, 0, 0, 1, 2, 0, 4, 1,     // lt split: o0.y = v0.x < l0.z
                     0xA0200001, 2,          0, 3, 1, 0, 1, 2, 0, 4, 2,     //           o0.z = v0.y < l0.z
                     0x70E00001, 4,          0, 2, 0, 0, 2, 3, 0, 7, 0, 0, 7, 1, 0, 4, 3,  // dot of scalars
                     0xF0F0F0F0, 0x0F0F0F0F};
  EXPECT_EQ(Block(code, kTagExpressionCode), fxlc);
  // The comment tokens count the FourCC and the payload.
  for (std::size_t i = 1; (code[i] & 0xFFFF) == 0xFFFE; i += 1 + (code[i] >> 16)) {
    if (code[i + 1] == kTagLiterals) {
      EXPECT_EQ(code[i] >> 16, 8u * 1 + 2);
    }
    if (code[i + 1] == kTagExpressionCode) {
      EXPECT_EQ(code[i] >> 16, 4u + 61);
    }
  }

  Files f;
  f.inputs[0] = 0.25;
  f.inputs[1] = 0.75;
  for (int k = 0; k < 4; ++k) f.constants[k] = k + 1;
  ASSERT_EQ(Evaluate(code, f), S_OK);
  // A wrong exchange of lt's groups would give 0.5 < 0.25 in y.
  EXPECT_EQ(std::vector<double>(f.outputs, f.outputs + 4), (std::vector<double>{5.25, 1.0, 0.0, 9.5}));
}

TEST_F(GxlExprTarget, ScalarGroupsAndRelativeOperands) {
  struct Case {
    const char* name;
    int form;
    Code fxlc;
  };
  const Case cases[] = {
      // add with a scalar first group: the mark, operands as they stand.
      {"scalar first", 0, {1, 0xA0400002, 2, 0, 1, 1, 0, 3, 0, 0, 4, 0, 0xF0F0F0F0, 0x0F0F0F0F}},
      // the scalar second: groups exchanged, then marked.
      {"scalar second", 1, {1, 0xA0400002, 2, 0, 1, 1, 0, 3, 0, 0, 4, 0, 0xF0F0F0F0, 0x0F0F0F0F}},
      // atan2 with its scalar second: split, each piece marked (width 1).
      {"atan2 split", 2, {2, 0xA0600001, 2, 0, 3, 0, 0, 1, 1, 0, 4,          0,         0xA0600001,
                          2, 0,          3, 1, 0, 1, 1, 0, 4, 1, 0xF0F0F0F0, 0x0F0F0F0F}},
      // c[2 + r0.x]: one index pair before the operand's own kind and register.
      {"relative", 3, {1, 0x10000001, 1, 1, 7, 0, 2, 8, 0, 4, 0, 0xF0F0F0F0, 0x0F0F0F0F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(kFx);
    const Values v0 = Reg(StandardBank::Inputs, 0, "xy"), o0 = Reg(StandardBank::Outputs, 0, "xy");
    const std::uint32_t s = Literal(1.5, 0, 1);
    if (c.form == 0) Put(kOpAdd, 2, {s, s, v0[0], v0[1]}, o0);
    if (c.form == 1) Put(kOpAdd, 2, {v0[0], v0[1], s, s}, o0);
    if (c.form == 2) Put(kOpAtan2, 2, {v0[0], v0[1], s, s}, o0);
    if (c.form == 3) {
      const std::uint32_t index = Reg(StandardBank::Temporaries, 0, "x")[0];
      const std::uint32_t element = Reg(StandardBank::FloatConstants, 2, "x")[0];
      target->Value(element)->relativeIndex = index;
      Put(kOpMove, 1, {element}, {o0[0]});
    }
    const Code code = MustCompile();
    EXPECT_EQ(Block(code, kTagExpressionCode), c.fxlc);
    if (c.form == 2) {
      Files f;
      f.inputs[0] = -0.5;
      f.inputs[1] = 2.0;
      ASSERT_EQ(Evaluate(code, f), S_OK);
      EXPECT_DOUBLE_EQ(f.outputs[0], std::atan2(-0.5, 1.5));
      EXPECT_DOUBLE_EQ(f.outputs[1], std::atan2(2.0, 1.5));
    }
  }
}

TEST_F(GxlExprTarget, EmptyProgramsLiteralsAndRegisterMaps) {
  Make(kFx);
  Code code;
  EXPECT_EQ(Compile(&code), S_FALSE);
  EXPECT_TRUE(code.empty());

  // No literal: "CLIT" holds a count of 0 in a block of length 2.
  Make(kFx);
  Put(kOpMove, 1, {Reg(StandardBank::FloatConstants, 0, "x")[0]}, {Reg(StandardBank::Outputs, 0, "x")[0]});
  code = MustCompile();
  EXPECT_EQ(Block(code, kTagLiterals), (Code{0}));
  bool found = true;
  Block(code, kTagPreshaderRegisters, &found);
  EXPECT_FALSE(found) << "only preshaders carry a register map";
  for (std::size_t i = 1; (code[i] & 0xFFFF) == 0xFFFE; i += 1 + (code[i] >> 16))
    if (code[i + 1] == kTagLiterals) {
      EXPECT_EQ(code[i], 0xFFFEu | 2u << 16);
    }

  // A preshader writing o0, o1 and o3: first 0, span 4, runs (0, 2) and (3, 1).
  Make(kPre);
  const Values c0 = Reg(StandardBank::FloatConstants, 0);
  for (std::uint32_t r : {0u, 1u, 3u}) Put(kOpMove, 2, {c0[0], c0[1]}, Reg(StandardBank::Outputs, r, "xy"));
  code = MustCompile();
  EXPECT_EQ(Tags(code),
            (std::vector<std::uint32_t>{kTagPreshaderRegisters, kTagConstantTable, kTagLiterals, kTagExpressionCode}));
  EXPECT_EQ(Block(code, kTagPreshaderRegisters), (Code{0, 0, 0, 4, 0, 0, 2, 0, 2, 3, 1, 0, 0}));
  for (std::size_t i = 1; (code[i] & 0xFFFF) == 0xFFFE; i += 1 + (code[i] >> 16))
    if (code[i + 1] == kTagPreshaderRegisters) {
      EXPECT_EQ(code[i] >> 16, 2u * (2 + 5));
    }
}

TEST_F(GxlExprTarget, TextureShaderSemantics) {
  struct Case {
    const char* input0;
    const char* input1;
    const char* output;
    bool ok;
    const char* message;
  };
  const Case cases[] = {
      {"POSITION", "PSize", "COLOR0", true, ""},
      {"position", "PSIZE", "color", true, ""},
      {"POSITION1", "PSIZE", "COLOR0", false, "error X4502: invalid reference to input semantic 'POSITION1'"},
      {"TEXCOORD0", "PSIZE", "COLOR0", false, "error X4502: invalid reference to input semantic 'TEXCOORD0'"},
      {"POSITION", "PSIZE", "COLOR1", false, "error X4502: invalid reference to output semantic 'COLOR1'"},
      {"POSITION", "PSIZE", "DEPTH", false, "error X4502: invalid reference to output semantic 'DEPTH0'"},
      {"POSITION", "PSIZE0x", "COLOR", false, ""},  // not a number: no usable index
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input0 + std::string(" ") + c.input1 + " " + c.output);
    Make(kTx);
    const Values in0 = Reg(StandardBank::Inputs, 0, "xy"), in1 = Reg(StandardBank::Inputs, 1, "xy");
    const Values out = Reg(StandardBank::Outputs, 0);
    SetSemantic(in0, c.input0);
    SetSemantic(in1, c.input1);
    SetSemantic(out, c.output);
    bool ok = true;
    for (const Values* vs : {&in0, &in1, &out})
      for (std::uint32_t v : *vs) ok = SUCCEEDED(target->CheckSemantics(v, 1)) && ok;
    EXPECT_EQ(ok, c.ok);
    const std::string text = shadertest::LogText(*logs);
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    if (c.ok) {
      EXPECT_EQ(target->Value(in0[1])->registerKey, 0xFFFF0002u);
      EXPECT_EQ(target->Value(in1[0])->registerKey, 0xFFFF0003u);
      EXPECT_EQ(target->Value(out[0])->registerKey, 0xFFFF0001u);
    }
  }
  // Only the first component of a register reports.

  Make(kTx);
  const Values bad = Reg(StandardBank::Inputs, 0);
  SetSemantic(bad, "TEXCOORD");
  for (std::uint32_t v : bad) EXPECT_EQ(target->CheckSemantics(v, 1), E_FAIL);
  EXPECT_EQ(logs->ErrorCount(), 1u);

  // Expression programs key any variable by the order of its check.
  Make(kFx);
  const Values any = Reg(StandardBank::Inputs, 0, "xyz");
  for (std::uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(target->CheckSemantics(any[i], 1), S_OK);
    EXPECT_EQ(target->Value(any[i])->registerKey, i);
  }
}

TEST_F(GxlExprTarget, TextureShaderLimitsAndUnmappableWork) {
  struct Case {
    const char* name;
    int form;
    HRESULT code;
    const char* message;
  };
  const Case cases[] = {
      {"third input", 0, E_FAIL, "error X4500: too many arguments to target TX"},
      {"second output", 1, E_FAIL, "error X4500: too many outputs to target TX"},
      {"clip", 2, E_FAIL, "error X4500: clip not supported in texture shaders"},
      {"65 temporaries", 3, E_FAIL, "error X4004: program too complex; there are more active values than registers"},
      {"derivative", 4, E_FAIL, "error X4532: cannot map expression to texture shader instruction set"},
      {"sample", 5, E_FAIL, "error X4532: cannot map expression to texture shader instruction set"},
      {"if block", 6, E_FAIL, "error X4532: cannot map expression to texture shader instruction set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(kTx);
    const Values v0 = Reg(StandardBank::Inputs, 0, "x"), o0 = Reg(StandardBank::Outputs, 0, "x");
    switch (c.form) {
      case 0:
        Put(kOpAdd, 1, {v0[0], Reg(StandardBank::Inputs, 2, "x")[0]}, o0);
        break;
      case 1:
        Put(kOpMove, 1, v0, o0);
        Put(kOpMove, 1, v0, Reg(StandardBank::Outputs, 1, "x"));
        break;
      case 2:
        Put(kOpMove, 1, Reg(StandardBank::Clip, 0, "x"), o0);
        break;
      case 3:
        Put(kOpMove, 1, v0, Reg(StandardBank::Temporaries, 64, "x"));
        Put(kOpMove, 1, v0, o0);
        break;
      case 4:
        Put(kOpDdx, 1, v0, o0);
        break;
      case 5: {
        const Values s = Reg(StandardBank::Samplers, 0, "x");
        Put(0x601, 4, Concat(Values(4, s[0]), Values(4, v0[0])), Reg(StandardBank::Temporaries, 0));
        Put(kOpMove, 1, Reg(StandardBank::Temporaries, 0, "x"), o0);
        break;
      }
      case 6:
        Put(kOpIfBegin, 1, v0, Reg(StandardBank::BlockValues, 0, "x"));
        Put(kOpMove, 1, v0, o0);
        break;
    }
    Code code;
    EXPECT_EQ(Compile(&code), c.code);
    EXPECT_TRUE(code.empty());
    const std::string text = shadertest::LogText(*logs);
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
  }
}

TEST_F(GxlExprTarget, SplitsRunInTheEvaluator) {
  // sincos into a cosine and a sine; noise over scattered components through
  // a staging register; an input keyed PSIZE read from v1.
  Make(kTx);
  const Values v0 = Reg(StandardBank::Inputs, 0, "xyz"), c0 = Reg(StandardBank::FloatConstants, 0);
  const Values size = Reg(StandardBank::Inputs, 0, "xy");
  for (std::uint32_t v : size) target->Value(v)->registerKey = 0xFFFF0003u;
  const Values r0 = Reg(StandardBank::Temporaries, 0, "xy"), r1 = Reg(StandardBank::Temporaries, 1, "x");
  const Values o0 = Reg(StandardBank::Outputs, 0);
  Put(kOpSinCos, 2, {v0[0], v0[1]}, r0);
  Put(0x502, 3, {c0[1], v0[2], c0[0]}, r1);
  Put(kOpAdd, 2, {r0[0], r0[1], size[0], size[1]}, {o0[0], o0[1]});
  Put(kOpMove, 1, r1, {o0[2]});
  const Code code = MustCompile();
  const Code fxlc = Block(code, kTagExpressionCode);
  ASSERT_GT(fxlc.size(), 2u);
  std::uint32_t cosines = 0, sines = 0;
  for (std::uint32_t w : fxlc) {
    cosines += w == 0x10900001;
    sines += w == 0x10800001;
  }
  EXPECT_EQ(cosines, 1u);
  EXPECT_EQ(sines, 1u);

  Files f;
  const double p[3] = {0.3, -1.2, 0.7}, s[2] = {0.125, 0.5};
  std::copy(p, p + 3, f.inputs);
  std::copy(s, s + 2, f.inputs + 4);
  f.constants[0] = 2.5;
  f.constants[1] = -0.75;
  ASSERT_EQ(Evaluate(code, f), S_OK);
  EXPECT_DOUBLE_EQ(f.outputs[0], std::cos(p[0]) + s[0]);
  EXPECT_DOUBLE_EQ(f.outputs[1], std::sin(p[1]) + s[1]);
  const Vec3 at(-0.75f, 0.7f, 2.5f);
  EXPECT_DOUBLE_EQ(f.outputs[2], Noise3(&at));
}

TEST_F(GxlExprTarget, FailingEachAllocationLeaksNothing) {
  for (std::uint64_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    Make(kPre);
    const Values v0 = Reg(StandardBank::FloatConstants, 0), o0 = Reg(StandardBank::Outputs, 0, "xy");
    Put(kOpDot, 3, {v0[0], v0[2], v0[1], v0[1], v0[2], v0[3]}, {o0[0]});
    Put(kOpMultiply, 1, {v0[0], Literal(2, 0, 0)}, {o0[1]});
    gxl::ComRef<DataBuffer> code;
    shadertest::FailNthAllocation(n);
    const HRESULT hr = target->Compile(code.Put());
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    if (!failed) {
      EXPECT_EQ(hr, S_OK);
      break;
    }
    EXPECT_TRUE(FAILED(hr) || hr == S_OK);
    ASSERT_LT(n, 2000u);
  }
}

// Random straight-line programs over the evaluator's operations, compiled by
// the target, give in the evaluator what the IR interpreter gives for the
// program as built.
TEST_F(GxlExprTarget, RandomProgramsAgreeWithTheInterpreter) {
  irkit::RandomShape shape;
  shape.steps = 14;
  shape.ifPercent = shape.loopPercent = 0;
  shape.lit = false;
  std::uint32_t compared = 0, instructions = 0, irInstructions = 0;
  const std::uint32_t kSeeds = nura::test::LongOrShare(2000, 400);
  for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
    SCOPED_TRACE(seed);
    MessageLog referenceLog;
    ShaderProgram reference;
    ASSERT_EQ(reference.Init(nullptr, &referenceLog, kFx, kOptionNoPreshader), S_OK);
    const irkit::RandomProgram built(reference, seed, shape);
    Make(kFx);
    target->skipPhases = false;
    const irkit::RandomProgram again(*target, seed, shape);
    // Where each input and constant stood, for after the compile.
    for (std::uint32_t i = 0; i < target->values.Count(); ++i)
      if (IrValue* v = target->Value(i); v && v->reg != kNoIndex) v->symbolSlot = v->reg * 4 + v->component;

    irkit::IrInterpreter run(reference);
    built.LoadInputs(run, 0);
    std::vector<double> expected;
    std::string error;
    ASSERT_TRUE(built.Evaluate(reference, 0, expected, &error)) << error;

    Code code;
    const HRESULT hr = Compile(&code);
    if (hr == E_FAIL && logs->ErrorCount() && shadertest::LogText(*logs).find("X4004") != std::string::npos) {
      continue;  // more temporaries than the evaluator has
    }
    ASSERT_EQ(hr, S_OK) << shadertest::LogText(*logs);
    Files f;
    for (std::uint32_t i = 0; i < target->values.Count(); ++i) {
      const IrValue* v = target->Value(i);
      if (!v || v->reg == kNoIndex || v->symbolSlot == kNoIndex || v->symbolSlot >= 64) continue;
      const std::uint32_t kind = OperandKindOf(target->BankOf(*v)->type);
      const std::uint32_t from = v->symbolSlot, at = v->reg * 4 + v->component;
      const std::uint32_t bank = v->bank;
      const double x = run.Register(bank, from / 4, from % 4);
      if (kind == kOperandInput && at < 16) f.inputs[at] = x;
      if (kind == kOperandConstant && at < 64) f.constants[at] = x;
    }
    ASSERT_EQ(Evaluate(code, f), S_OK);
    for (std::size_t k = 0; k < built.Outputs().size(); ++k) {
      const auto& slot = built.Outputs()[k];
      const double got = f.outputs[slot.reg * 4 + slot.component];
      EXPECT_NEAR(got, expected[k], 1e-9 * std::max(1.0, std::fabs(expected[k]))) << "output " << k;
    }
    ++compared;
    instructions += static_cast<std::uint32_t>(target->ExpressionCode().size());
    irInstructions += target->instructions.Count();
  }
  EXPECT_GT(compared, kSeeds * 19 / 20);
  RecordProperty("fxlc_per_ir_instruction", std::to_string(double(instructions) / std::max(1u, irInstructions)));
}

}  // namespace

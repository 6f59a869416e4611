// Array access through indexes that are not literals: the reachable
// elements, the forms of the read (one element, relative addressing, dot
// product, select chain, boolean pick) judged by the interpreter at every
// index, and the messages with their locations.
#include <algorithm>
#include <cmath>

#include "lower_fixture.h"

namespace compilertest {
namespace {

class GxlLowerArray : public LowerTest {
 protected:
  std::string Fresh() { return "a" + std::to_string(m_names++); }

  // Values 10 x element + component, so every read names its source.
  static std::vector<double> Numbered(std::uint32_t elements, std::uint32_t size) {
    std::vector<double> v;
    for (std::uint32_t e = 0; e < elements; ++e)
      for (std::uint32_t c = 0; c < size; ++c) v.push_back(10.0 * e + c);
    return v;
  }
  // A uniform array in a bound constant file of the given type word.
  std::string Uniform(ParseNode* element, std::uint32_t count, std::uint32_t type = 0x251 | kBankRelative) {
    const std::uint32_t bank = program->AddRegisterBank("c", type, kNoIndex, 4);
    const std::string name = Fresh();
    Input(name, Array(element, count), Numbered(count, parser.ComponentCount(element)), bank);
    return name;
  }
  // A local array whose elements were computed one by one (temporaries
  // holding -10 x element; a plain copy would resolve to its source).
  std::string Local(std::uint32_t count) {
    const std::string name = Fresh(), source = Fresh();
    Variable(name, Array(Scalar(kBaseFloat), count), BankOf(StandardBank::Undefined));
    Input(source, Array(Scalar(kBaseFloat), count), Numbered(count, 1));
    for (std::uint32_t i = 0; i < count; ++i)
      Lower(parser.MakeOperator(kExprAssign, parser.MakeIndex(Var(name), Int(i)),
                                parser.MakeOperator(kExprNegate, parser.MakeIndex(Var(source), Int(i)), nullptr)));
    return name;
  }
  // An int input holding k.
  ParseNode* Index(double k) {
    const std::string name = Fresh();
    Input(name, Scalar(kBaseInt), {k});
    return Var(name);
  }
  // Every value an instruction from `from` on reads.
  std::vector<std::uint32_t> ArgumentsFrom(std::uint32_t from) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = from; i < program->instructions.Count(); ++i) {
      const IrInstruction& inst = *program->Instruction(i);
      out.insert(out.end(), inst.arguments, inst.arguments + inst.argumentCount);
    }
    return out;
  }
  int m_names = 0;
};

TEST_F(GxlLowerArray, DotFormAndSelectChainAgreeAtEveryIndex) {
  for (std::uint32_t flow : {0u, std::uint32_t{kFlowRelativeArrays}}) {
    for (std::uint32_t count = 1; count <= 8; ++count) {
      Start(0, flow);
      const std::string local = Local(count);  // dot form up to 4 elements, then a chain
      const std::string input = Fresh();       // bound, one register each: always a chain
      Input(input, Array(Scalar(kBaseFloat), count), Numbered(count, 1));
      std::vector<std::uint32_t> out;
      for (std::uint32_t k = 0; k < count; ++k) {
        for (const std::string& array : {local, input}) {
          const std::uint32_t from = program->instructions.Count();
          const std::vector<std::uint32_t> v = Lower(parser.MakeIndex(Var(array), Index(k)));
          out.insert(out.end(), v.begin(), v.end());
          const std::vector<std::uint32_t> groups = Groups(from);
          const bool dot = std::count(groups.begin(), groups.end(), kOpDot) > 0;
          if (count > 2) {
            EXPECT_EQ(dot, array == local && count <= 4) << count << " " << array;
          }
        }
      }
      const std::vector<double> got = Run(out);
      for (std::uint32_t k = 0; k < count; ++k) {
        EXPECT_EQ(got[2 * k], -10.0 * k) << "local, " << count << " elements, flow " << flow;
        EXPECT_EQ(got[2 * k + 1], 10.0 * k) << "input, " << count << " elements, flow " << flow;
      }
    }
  }
}

TEST_F(GxlLowerArray, RelativeAndSelectedReadsAgreeForStridesOneToFour) {
  // Element types of one to four registers each.
  ParseNode* const elements[] = {Vec(kBaseFloat, 4), Mat(kBaseFloat, 2, 2), Mat(kBaseFloat, 3, 3),
                                 Mat(kBaseFloat, 4, 4)};
  struct Variant {
    std::uint32_t flow, bankType, addressRegisters, caps;
    bool relative;
  };
  const Variant variants[] = {
      {kFlowRelativeArrays, 0x251 | kBankRelative, 0, 0, true},
      {kFlowRelativeArrays, 0x251 | kBankRelative, 1, kCapFractionalIndex, true},
      {0, 0x251 | kBankRelative | kBankCounterOnly, 0, 0, false},
      {kFlowRelativeArrays, 0x251, 0, kCapCompareBySelect, false},
  };
  for (const Variant& variant : variants) {
    for (std::uint32_t stride = 1; stride <= 4; ++stride) {
      Start(variant.caps, variant.flow, 0, variant.addressRegisters);
      const std::uint32_t count = 3, size = parser.ComponentCount(elements[stride - 1]);
      const std::string array = Uniform(elements[stride - 1], count, variant.bankType);
      std::vector<std::uint32_t> out;
      for (std::uint32_t k = 0; k < count; ++k) {
        const std::vector<std::uint32_t> v = Lower(parser.MakeIndex(Var(array), Index(k)));
        out.insert(out.end(), v.begin(), v.end());
        const IrValue* first = program->Value(v[0]);
        EXPECT_EQ(first->relativeIndex != kNoIndex, variant.relative) << "stride " << stride;
        if (variant.addressRegisters) {
          EXPECT_EQ(program->Value(first->relativeIndex)->bank, BankOf(StandardBank::Address));
        }
      }
      EXPECT_EQ(Run(out), Numbered(count, size)) << "stride " << stride << ", flow " << variant.flow;
    }
  }
}

TEST_F(GxlLowerArray, NestedIndexesAddTheirAddresses) {
  Start(0, kFlowRelativeArrays);
  const std::string m = Uniform(Mat(kBaseFloat, 4, 4), 3);
  std::vector<std::uint32_t> out;
  std::vector<double> want;
  for (std::uint32_t i = 0; i < 3; ++i) {
    for (std::uint32_t j = 0; j < 4; ++j) {
      const std::vector<std::uint32_t> v = Lower(parser.MakeIndex(parser.MakeIndex(Var(m), Index(i)), Index(j)));
      out.insert(out.end(), v.begin(), v.end());
      for (std::uint32_t c = 0; c < 4; ++c) want.push_back(10.0 * i + 4 * j + c);
    }
  }
  EXPECT_EQ(Run(out), want);
}

TEST_F(GxlLowerArray, ReachableElementsFollowTheIndexRange) {
  Start(0, 0);
  const std::string bools = Fresh(), array = Fresh();
  Input(bools, Scalar(kBaseBool), {1});
  const std::vector<std::uint32_t> elements = Input(array, Array(Scalar(kBaseFloat), 8), Numbered(8, 1));
  // b + 1 lies in [1, 2]: only elements 1 and 2 are read.
  std::uint32_t from = program->instructions.Count();
  const std::vector<std::uint32_t> v =
      Lower(parser.MakeIndex(Var(array), parser.MakeOperator(kExprAdd, Var(bools), Int(1))));
  const std::vector<std::uint32_t> read = ArgumentsFrom(from);
  for (std::uint32_t e = 0; e < 8; ++e)
    EXPECT_EQ(std::count(read.begin(), read.end(), elements[e]) > 0, e == 1 || e == 2) << "element " << e;
  EXPECT_EQ(Run(v), std::vector<double>{20});
  // b x 0 + 3 is 3: element 3 itself, nothing emitted for the access.
  ParseNode* three = parser.MakeOperator(kExprAdd, parser.MakeOperator(kExprMultiply, Var(bools), Int(0)), Int(3));
  EXPECT_EQ(Lower(parser.MakeIndex(Var(array), three)), std::vector<std::uint32_t>{elements[3]});
  // A boolean index picks element 1 where it is true, element 0 where false.
  const std::string other = Fresh();
  Input(other, Scalar(kBaseBool), {0});
  EXPECT_EQ(LowerAndRun(parser.MakeIndex(Var(array), Var(bools))), std::vector<double>{10});
  EXPECT_EQ(LowerAndRun(parser.MakeIndex(Var(array), Var(other))), std::vector<double>{0});
  // A bound beyond every integer (1e20) means "to the end", not a cast out of
  // range: other x 1e20 + b x 3 lies in [0, 1e20 + 3] and is 3 here.
  ParseNode* huge = parser.MakeOperator(kExprMultiply, Var(other), Float(1e20));
  ParseNode* small = parser.MakeOperator(kExprMultiply, Var(bools), Float(3));
  EXPECT_EQ(LowerAndRun(parser.MakeIndex(Var(array), parser.MakeOperator(kExprAdd, huge, small))),
            std::vector<double>{30});
}

TEST_F(GxlLowerArray, SmallLocalArraysUseOneDotProductLargerOnesAChain) {
  Start(0, 0);
  const std::string three = Local(3), six = Local(6);
  std::uint32_t from = program->instructions.Count();
  const std::vector<std::uint32_t> v3 = Lower(parser.MakeIndex(Var(three), Index(2)));
  std::vector<std::uint32_t> groups = Groups(from);
  ASSERT_EQ(std::count(groups.begin(), groups.end(), kOpDot), 1);
  EXPECT_EQ(IrWidth(program->Instruction(program->Value(v3[0])->definingPosition)->word), 3u);
  from = program->instructions.Count();
  const std::vector<std::uint32_t> v6 = Lower(parser.MakeIndex(Var(six), Index(4)));
  groups = Groups(from);
  EXPECT_EQ(std::count(groups.begin(), groups.end(), kOpDot), 0);
  std::uint32_t products = 0;  // one per element; the selectors' squares go in one wide multiply
  for (std::uint32_t i = from; i < program->instructions.Count(); ++i)
    products += program->Instruction(i)->word == IrWord(kOpMultiply, 1);
  EXPECT_EQ(products, 6u);
  // The chain starts from zero.
  const std::vector<std::uint32_t> read = ArgumentsFrom(from);
  EXPECT_NE(std::find(read.begin(), read.end(), compiler.zero), read.end());
  EXPECT_EQ(Run({v3[0], v6[0]}), (std::vector<double>{-20, -40}));
}

TEST_F(GxlLowerArray, MessagesAndLoopAttempts) {
  Start(0, 0);
  const std::string array = Fresh(), samplers = Fresh(), local = Local(4);
  Input(array, Array(Scalar(kBaseFloat), 4), Numbered(4, 1));
  // An index that is 5 once its range is known: (i x 0 + 5) at line 12.
  const std::string i = Fresh();
  Input(i, Scalar(kBaseInt), {1});
  auto five = [&] {
    ParseNode* index = parser.MakeOperator(kExprAdd, parser.MakeOperator(kExprMultiply, Var(i), Int(0)), Int(5));
    E(index)->token.line = 12;
    return parser.MakeIndex(Var(array), index);
  };
  Lower(five(), E_FAIL);
  EXPECT_EQ(Log(), "(12): error X3504: array index out of bounds\n");
  // Inside a loop attempt nothing is reported: the access is recorded and reads element 0.
  compiler.loopAttempt = 1;
  const std::vector<std::uint32_t> first = Lower(five());
  EXPECT_EQ(compiler.outOfBounds, 1u);
  EXPECT_EQ(Run(first), std::vector<double>{0});
  compiler.loopAttempt = 0;
  EXPECT_EQ(Log(), "(12): error X3504: array index out of bounds\n");

  // Writing an element a variable index may choose.
  ParseNode* target = parser.MakeIndex(Var(local), Var(i));
  E(target)->token.line = 13;
  Lower(parser.MakeOperator(kExprAssign, target, Float(1)), E_FAIL);
  EXPECT_TRUE(Logged("(13): error X3500: array reference cannot be used as an l-value; not natively addressable\n"))
      << Log();
  // A sampler array read through a variable index.
  Input(samplers, Array(Obj(kBaseSampler + 2), 3), {0, 1, 2}, BankOf(StandardBank::Samplers));
  ParseNode* sampled = parser.MakeIndex(Var(samplers), Var(i));
  E(sampled)->token.line = 14;
  Lower(sampled, E_FAIL);
  EXPECT_TRUE(Logged("(14): error X3512: sampler array index must be a literal expression\n")) << Log();
  // In a loop attempt the sampler array gives up the attempt instead.
  compiler.loopAttempt = 1;
  compiler.abandonLoop = 0;
  Lower(parser.MakeIndex(Var(samplers), Var(i)), E_FAIL);
  EXPECT_EQ(compiler.abandonLoop, 1u);
  // So does a select chain, which a flow-control loop cannot hold on this target.
  compiler.abandonLoop = 0;
  Lower(parser.MakeIndex(Var(array), Var(i)));
  EXPECT_EQ(compiler.abandonLoop, 1u);
  // A write inside a loop body being attempted fails without a message.
  compiler.loopDepth = 1;
  const std::string before = Log();
  Lower(parser.MakeOperator(kExprAssign, parser.MakeIndex(Var(local), Var(i)), Float(1)), E_FAIL);
  EXPECT_EQ(Log(), before);
}

TEST_F(GxlLowerArray, EachProgramGetsItsOwnIdentityTable) {
  // The first program's table takes the bank index that the next program
  // gives the literal table of a 3 x 4 literal matrix: same type word, four
  // registers, other contents.
  for (std::uint32_t round = 0; round < 2; ++round) {
    Start(0, kFlowRelativeArrays);
    const std::string k = Fresh();
    Input(k, Scalar(kBaseInt), {1});
    if (round == 0) {
      EXPECT_EQ(LowerAndRun(parser.MakeIndex(Var(Local(3)), Var(k))), std::vector<double>{-10});
    } else {
      ParseNode* m = Floats({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 3);
      EXPECT_EQ(LowerAndRun(parser.MakeIndex(m, Var(k))), (std::vector<double>{5, 6, 7, 8}));
    }
  }
}

TEST_F(GxlLowerArray, AnArrayWithoutComponentsIsOutOfBounds) {
  std::uint32_t index = compiler.One(), result = kNoIndex;
  EXPECT_EQ(compiler.LowerArrayAccess(nullptr, &result, 1, &index, 0, nullptr, &index, 0), E_FAIL);
  EXPECT_TRUE(Logged("error X3504: array index out of bounds")) << Log();
}

}  // namespace
}  // namespace compilertest

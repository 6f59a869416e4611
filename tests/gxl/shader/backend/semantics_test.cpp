// Input and output semantics, their consistency and the centroid property,
// and the binding of register files to hardware registers.
#include <gtest/gtest.h>

#include <string>

#include "target_fixture.h"

namespace targettest {
namespace {

using shadertest::LogText;

class GxlSemantics : public TargetTest {
 protected:
  // A bank named `name` of `registers` registers (four values each) of one variable.
  std::uint32_t BankOf(TestTarget& t, const char* name, std::uint32_t type, std::uint32_t registers,
                       const char* variable = "v") {
    const std::uint32_t bank = t.AddRegisterBank(name, type, kNoIndex, 4);
    DeclarationNode* d =
        shadertest::Variable(variable, shadertest::Type(shadertest::kVector, shadertest::kFloat, 1, 4));
    for (std::uint32_t r = 0; r < registers; ++r)
      for (std::uint32_t v : t.Reg(bank, r)) t.Value(v)->declaration = d;
    return bank;
  }
  // The registers the values of a bank (or moved out of it into `into`) now have, by value order.
  std::vector<std::uint32_t> Registers(TestTarget& t, std::uint32_t firstValue, std::uint32_t count) {
    std::vector<std::uint32_t> regs;
    for (std::uint32_t i = firstValue; i < firstValue + count; i += 4) regs.push_back(t.Value(i)->reg);
    return regs;
  }
};

constexpr std::uint32_t kUniform = kBankReadable | kBankInitialised | kBankBound | kBankUniform;  // 0x251
constexpr std::uint32_t kExplicitUniform = kUniform | kBankKeepValues;

TEST_F(GxlSemantics, SemanticWordsFromTheTables) {
  struct Row {
    const SemanticTableRow* table;
    std::uint16_t directions;
    StandardBank bank;
    const char* text;
    std::uint32_t component, offset;
    std::uint32_t key;  // kNoIndex: not looked at
    bool invalid, centroid, error;
    const char* message;  // at the semantic's token, line 1
  };
  const Row rows[] = {
      {kVertexOutputSemantics, kSemanticVertex, StandardBank::Outputs, "TEXCOORD3", 0, 0, 0x00030006, false, false,
       false, ""},
      {kVertexOutputSemantics, kSemanticVertex, StandardBank::Outputs, "texcoord3_CENTROID", 1, 0, 0x00030006, false,
       true, false, ""},
      {kVertexOutputSemantics, kSemanticVertex, StandardBank::Outputs, "COLOR0_sat", 0, 0, 0, false, false, true,
       "error X4502: invalid input semantic 'COLOR0_sat', only _centroid allowed\n"},
      {kVertexInputSemantics, kSemanticVertex, StandardBank::Inputs, "SPECULAR", 0, 0, 0x0001000B, false, false, false,
       "warning X4705: input semantics 'SPECULAR' has been deprecated; use 'Color1' instead\n"},
      {kPixelInputSemantics, kSemanticPixel, StandardBank::Inputs, "Specular", 0, 0, 0x0000000B, false, false, false,
       "warning X4705: input semantics 'Specular' has been deprecated; use 'Color0' instead\n"},
      {kVertexOutputSemantics, kSemanticVertex, StandardBank::Outputs, "SPECULAR", 0, 0, 0, true, false, false, ""},
      {kVertexOutputSemantics, kSemanticVertex, StandardBank::Outputs, "TEXCOORD8", 0, 0, kNoIndex, true, false, false,
       ""},
      {kVertexOutputSemantics, kSemanticVertex, StandardBank::Outputs, "POSITION_centroid", 0, 0, kNoIndex, true, true,
       false, ""},
      {kInterpolatorSemantics, kSemanticPixel, StandardBank::Inputs, "POSITION0", 0, 0, kNoIndex, true, false, false,
       ""},
      {kInterpolatorSemantics, kSemanticPixel, StandardBank::Inputs, "POSITION1", 0, 0, 0x00010001, false, false, false,
       ""},
      {kInterpolatorSemantics, kSemanticVertex, StandardBank::Outputs, "POSITION0", 0, 0, 0x00000001, false, false,
       false, ""},
      {kInterpolatorSemantics, kSemanticPixel, StandardBank::Inputs, "VFACE", 1, 0, kNoIndex, true, false, true,
       "error X4555: invalid type used for 'VFACE' input semantics\n"},
      {kInterpolatorSemantics, kSemanticPixel, StandardBank::Inputs, "VPos", 1, 0, 0x00000012, false, false, false, ""},
      {kVertexInputSemantics, kSemanticVertex, StandardBank::Inputs, "TEXCOORD1", 2, 8, 0x00030006, false, false, false,
       ""},
      {kVertexInputSemantics, kSemanticVertex, StandardBank::Inputs, "TEXCOORD99999999999", 0, 0, 0, true, false, false,
       ""},
      {kVertexInputSemantics, kSemanticVertex, StandardBank::Inputs, "TEXCOORD+3", 0, 0, 0, true, false, false, ""},
      {kVertexInputSemantics, kSemanticVertex, StandardBank::Inputs, "FOO", 0, 0, 0, true, false, false, ""},
      {kPixelOutputSemantics, kSemanticPixel, StandardBank::Outputs, "COLOR3", 0, 0, 0x0003000B, false, false, false,
       ""},
      {kPixelOutputSemantics, kSemanticPixel, StandardBank::Outputs, "DEPTH1", 0, 0, kNoIndex, true, false, false, ""},
  };
  for (const Row& row : rows) {
    log.Reset();
    TestTarget& t = Make(kVs20);
    const std::uint32_t v = t.AddValue(Bank(row.bank), 0, row.component, 0.0);
    t.Value(v)->variableOffset = row.offset;
    t.SetSemantic({v}, row.text);
    bool error = false;
    ASSERT_EQ(ParseInputSemantic(t, v, row.table, row.directions, &error), S_OK);
    const IrValue& value = *t.Value(v);
    EXPECT_EQ(error, row.error) << row.text;
    EXPECT_EQ((value.flags & kValueSemanticInvalid) != 0, row.invalid) << row.text;
    if (row.key != kNoIndex) {
      EXPECT_EQ(value.registerKey, row.key) << row.text;
    }
    EXPECT_EQ((value.flags & kValueCentroid) != 0, row.centroid) << row.text;
    EXPECT_EQ(LogText(log), *row.message ? "(1): " + std::string(row.message) : "<null>") << row.text;
  }
}

// Usage codes less one are the declaration usages of the token format.
TEST_F(GxlSemantics, DeclarationsCarryTheUsages) {
  const char* semantics[] = {"POSITION", "BLENDWEIGHT", "BLENDINDICES", "NORMAL", "PSIZE", "TEXCOORD5", "TANGENT",
                             "BINORMAL", "POSITIONT1",  "COLOR",        "FOG",    "DEPTH", "SAMPLE2"};
  const char* declarations[] = {"position", "blendweight", "blendindices", "normal", "psize", "texcoord5", "tangent",
                                "binormal", "positiont1",  "color",        "fog",    "depth", "sample2"};
  TestTarget& t = Make(kVs20);
  for (std::uint32_t r = 0; r < 13; ++r) {
    const Values v = t.Reg(StandardBank::Inputs, r);
    t.SetSemantic(v, semantics[r]);
    t.Put(kOpMove, 4, v, t.Reg(StandardBank::Temporaries, 0));
  }
  const std::string text = Text(MustCompile());
  for (std::uint32_t r = 0; r < 13; ++r)
    EXPECT_NE(text.find("\ndcl_" + std::string(declarations[r]) + " v" + std::to_string(r) + "\n"), std::string::npos)
        << declarations[r] << "\n"
        << text;
}

TEST_F(GxlSemantics, SlotChecksReportOncePerVariable) {
  struct Row {
    const char* input;
    const char* output;
    const char* log;
  };
  const Row rows[] = {
      {"SPECULAR", "POSITION", "warning X4705: input semantics 'SPECULAR' has been deprecated; use 'Color1' instead\n"},
      {"POSITION", "SPECULAR", "(1): error X4502: invalid output semantic 'SPECULAR'\n"},
      {"POSITION", "FOG_centroid", "(1): error X4502: invalid output semantic 'FOG_centroid'\n"},
  };
  for (const Row& row : rows) {
    log.Reset();
    TestTarget& t = Make(kVs20);
    const Values in = t.Reg(StandardBank::Inputs, 0), out = t.Reg(StandardBank::Outputs, 0);
    t.SetSemantic(in, row.input);
    t.SetSemantic(out, row.output);
    t.Put(kOpMove, 4, in, out);
    Code code;
    Compile(&code);
    // The message of the warning has no position: it comes from the parse.
    std::string got = LogText(log);
    if (got.rfind("(1): warning", 0) == 0) got = got.substr(5);
    EXPECT_EQ(got, row.log) << row.output;
  }
}

TEST_F(GxlSemantics, CentroidMismatchIsInconsistent) {
  TestTarget& t = Make(kVs20);
  const Values position = t.Reg(StandardBank::Outputs, 0);
  t.SetSemantic(position, "POSITION");
  t.Put(kOpMove, 4, t.Reg(StandardBank::FloatConstants, 0), position);
  for (const char* semantic : {"TEXCOORD0", "texcoord0_centroid"}) {
    const Values out = t.Reg(StandardBank::Outputs, 1);
    t.SetSemantic(out, semantic);
    t.Put(kOpMove, 4, t.Reg(StandardBank::FloatConstants, 0), out);
  }
  Code code;
  EXPECT_EQ(Compile(&code), E_FAIL);
  EXPECT_EQ(LogText(log),
            "(1): error X4501: Inconsistent semantic definition: output semantic 'TEXCOORD0' and output semantic "
            "'texcoord0_centroid'\n");
}

TEST_F(GxlSemantics, CentroidSpreadsToComputedValues) {
  TestTarget& t = Make(kVs20);
  const Values in = t.Reg(StandardBank::Inputs, 0, "xy");
  t.Value(in[0])->flags |= kValueCentroid;
  const Values sum = t.Reg(StandardBank::Temporaries, 0, "x"), product = t.Reg(StandardBank::Temporaries, 1, "x");
  const Values plain = t.Reg(StandardBank::Temporaries, 2, "x");
  t.Put(kOpMultiply, 1, {sum[0], in[1]}, product);  // before its argument gets the bit
  t.Put(kOpAdd, 1, {in[0], in[1]}, sum);
  t.Put(kOpAdd, 1, {in[1], in[1]}, plain);
  const std::uint32_t alias = t.Reg(StandardBank::Temporaries, 3, "x")[0];
  t.Value(alias)->alias = product[0];
  ASSERT_EQ(t.PropagateCentroid(), S_OK);
  for (const auto& [v, centroid] : {std::pair{sum[0], true}, std::pair{product[0], true}, std::pair{alias, true},
                                    std::pair{plain[0], false}, std::pair{in[1], false}})
    EXPECT_EQ((t.Value(v)->flags & kValueCentroid) != 0, centroid) << v;
}

TEST_F(GxlSemantics, RegisterLetters) {
  struct Row {
    const char* text;
    char letter;
    HRESULT hr;
    std::uint32_t position;
  };
  for (const Row& row : {Row{"c4", 'c', S_OK, 0}, Row{"s1; c4", 'c', S_OK, 4}, Row{"C12", 'c', S_OK, 0},
                         Row{"cs2; s0", 's', S_OK, 5}, Row{"b3", 'c', E_FAIL, 0}, Row{"", 'c', E_FAIL, 0}}) {
    std::uint32_t position = 0;
    EXPECT_EQ(FindRegisterLetter(row.text, &position, row.letter), row.hr) << row.text;
    if (row.hr == S_OK) {
      EXPECT_EQ(position, row.position) << row.text;
    }
  }
}

// Explicit register semantics, automatic placement and their limits.
TEST_F(GxlSemantics, BindingEdgeCases) {
  struct Bound {
    const char* name;
    std::uint32_t type, registers;
  };
  struct Row {
    char letter;
    std::uint32_t limit;
    std::vector<Bound> banks;
    HRESULT hr;
    const char* message;
  };
  constexpr std::uint32_t kSamplerBank = kUniform | kBankSampler, kExplicitSampler = kSamplerBank | kBankKeepValues;
  constexpr std::uint32_t kBoolBank = kUniform | kBankBoolean;
  const Row rows[] = {
      {'c',
       256,
       {{"c254", kExplicitUniform, 4}},
       E_FAIL,
       "error X4507: maximum constant register index exceeded - Try reducing number of constants referenced\n"},
      {'c',
       256,
       {{"c300", kExplicitUniform, 4}},
       E_FAIL,
       "error X4509: invalid register semantic 'c300', or variable must be bound to multiple register banks (c "
       "register binding required)\n"},
      {'c',
       256,
       {{"c99999999999", kExplicitUniform, 1}},
       E_FAIL,
       "error X4509: invalid register semantic 'c99999999999', or variable must be bound to multiple register banks "
       "(c register binding required)\n"},
      {'c',
       256,
       {{"b3", kExplicitUniform, 1}},
       E_FAIL,
       "error X4509: invalid register semantic 'b3', or variable must be bound to multiple register banks (c register "
       "binding required)\n"},
      {'c',
       256,
       {{"c0", kExplicitUniform, 1}, {"c0", kExplicitUniform, 1}},
       S_OK,
       "error X4500: overlapping register semantics not yet implemented 'c0'\n"},
      {'s', 16, {{"s15", kExplicitSampler, 2}}, E_FAIL, "error X4510: maximum sampler register index exceeded\n"},
      {'s',
       16,
       {{"s16", kExplicitSampler, 2}},
       E_FAIL,
       "error X4509: invalid register semantic 's16', or variable must be bound to multiple register banks (s "
       "register binding required)\n"},
      {'s', 1, {{"s", kSamplerBank, 2}}, E_FAIL, "error X4546: maximum sampler register index exceeded\n"},
      {'b',
       0,
       {{"c", kBoolBank, 1}},
       E_FAIL,
       "error X4550: maximum boolean register index exceeded - Try reducing number of constant branches\n"},
  };
  const std::uint32_t required[] = {kBankUniform, kBankSampler, kBankBoolean | kBankUniform};
  for (const Row& row : rows) {
    log.Reset();
    TestTarget& t = Make(kVs30);
    for (const Bound& b : row.banks) BankOf(t, b.name, b.type, b.registers);
    const std::uint32_t req = row.letter == 'c' ? required[0] : row.letter == 's' ? required[1] : required[2];
    const std::uint32_t excluded = row.letter == 'c' ? kBankBoolean | kBankInteger | kBankSampler : 0;
    EXPECT_EQ(t.BindRegisterSemantics(kNoIndex, row.limit, req, excluded, row.letter), row.hr) << row.message;
    // At the declaration of the bank's last value, line 1.
    EXPECT_EQ(LogText(log), "(1): " + std::string(row.message));
  }
}

// Larger banks go first, each at the lowest free start, around the explicit
// ones; single registers (literals) fill the gaps; the values then live in
// the target bank, the literals in "l".
TEST_F(GxlSemantics, AutomaticPlacementAroundExplicitRegisters) {
  TestTarget& t = Make(kVs20);
  const std::uint32_t first = t.values.Count();
  BankOf(t, "c", kUniform, 1, "small");           // values first .. first+3
  BankOf(t, "c", kUniform, 4, "large");           // first+4 .. first+19
  BankOf(t, "c5", kExplicitUniform, 1, "fixed");  // first+20 .. first+23
  const std::uint32_t literalA = t.Literal(2.0, 0, 0), literalB = t.Literal(3.0, 2, 1);
  ASSERT_EQ(t.BindRegisterSemantics(Bank(StandardBank::FloatConstants), 8, kBankUniform,
                                    kBankBoolean | kBankInteger | kBankSampler, 'c'),
            S_OK)
      << LogText(log);
  EXPECT_EQ(Registers(t, first, 24), (std::vector<std::uint32_t>{4, 0, 1, 2, 3, 5}));
  for (std::uint32_t i = first; i < first + 24; ++i) {
    const std::uint32_t expected = i >= first + 20 ? t.Value(i)->bank : Bank(StandardBank::FloatConstants);
    EXPECT_EQ(t.Value(i)->bank, expected);
  }
  EXPECT_EQ(t.Value(literalA)->reg, 6u);
  EXPECT_EQ(t.Value(literalB)->reg, 7u);
  EXPECT_EQ(t.Value(literalA)->bank, Bank(StandardBank::Literals));
  // No room left for one more literal register.
  t.Literal(4.0, 9, 0);
  EXPECT_EQ(t.BindRegisterSemantics(Bank(StandardBank::FloatConstants), 8, kBankUniform,
                                    kBankBoolean | kBankInteger | kBankSampler, 'c'),
            E_FAIL);
}

TEST_F(GxlSemantics, ValuesBoundToBanksOfTheirOwn) {
  TestTarget& t = Make(kVs20);
  // A literal: one new value in a new bank, register its variable component.
  const std::uint32_t literal = t.Literal(1.0, 0, 2);
  t.Value(literal)->variableComponent = 3;
  std::uint32_t index = kNoIndex, again = kNoIndex;
  ASSERT_EQ(t.BindValueToOwnBank("b", kBankBoolean, literal, &index), S_OK);
  ASSERT_EQ(t.BindValueToOwnBank("b", kBankBoolean, literal, &again), S_OK);
  EXPECT_EQ(index, again);
  const IrValue& copy = *t.Value(index);
  EXPECT_EQ(copy.reg, 3u);
  EXPECT_EQ(copy.component, 0u);
  EXPECT_EQ(copy.rangeLow, 1.0);
  EXPECT_EQ(t.Bank(copy.bank)->type & (kBankBoolean | kBankBound), kBankBoolean | kBankBound);
  EXPECT_STREQ(t.Bank(copy.bank)->name, "b");
  // A variable: every value read directly, each in the register of its component.
  DeclarationNode* d = shadertest::Variable("n", shadertest::Type(shadertest::kVector, shadertest::kInt, 1, 3));
  const Values v = t.Reg(StandardBank::FloatConstants, 7, "xyz");
  for (std::uint32_t i = 0; i < 3; ++i) t.Value(v[i])->declaration = d, t.Value(v[i])->variableComponent = i;
  t.Value(v[2])->relativeIndex = v[0];
  ASSERT_EQ(t.BindValueToOwnBank("i", kBankInteger, v[1], &index), S_OK);
  EXPECT_EQ(t.Value(index)->reg, 1u);
  EXPECT_EQ(t.Value(index)->variableOffset, 4u);
  EXPECT_NE(t.Value(v[0])->renumber, kNoIndex);
  EXPECT_EQ(t.Value(t.Value(v[0])->renumber)->bank, t.Value(index)->bank);
  EXPECT_EQ(t.Value(v[2])->renumber, kNoIndex);  // read relatively: stays
}

TEST_F(GxlSemantics, SamplerKindsMustAgree) {
  for (std::uint32_t second : {0x606u, 0x610u}) {
    log.Reset();
    TestTarget& t = Make(kPs20);
    const std::uint32_t s0 = t.Reg(StandardBank::Samplers, 0, "x")[0];
    const std::uint32_t alias = t.Reg(StandardBank::Samplers, 0, "x")[0];  // another value of s0
    const Values coords = t.Reg(StandardBank::Temporaries, 0);
    t.Put(0x605, 4, Concat(Values(4, s0), coords), t.Reg(StandardBank::Temporaries, 1));
    t.Put(second, 4, Concat(Values(4, alias), coords), t.Reg(StandardBank::Temporaries, 2));
    const HRESULT hr = t.CheckSamplerConsistency();
    if (second == 0x606) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(t.Value(alias)->binding & 0xE00000, 0x200000u);
    } else {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_EQ(LogText(log), "error X4539: sampler mismatch: sampler used inconsistently\n");
    }
  }
}

// Fragments name their constants and temporaries instead of declaring them.
TEST_F(GxlSemantics, FragmentNames) {
  TestTarget& t = Make(kVs20, 0, true);
  const DWORD values[4] = {0x3F800000, 0, 0, 0};
  ASSERT_EQ(t.DefineFloatConstant(5, values), S_OK);
  ASSERT_EQ(t.DefineIntegerConstant(2, values), S_OK);
  EXPECT_EQ(t.tokens.Size(), 0u);
  const RegisterNameEntry* c = t.fragmentNames[1].Find("c_$zz5");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->reg, 5u);
  EXPECT_EQ(c->hasDefault, 1u);
  EXPECT_EQ(c->defaultValue[0], 0x3F800000u);
  EXPECT_NE(t.fragmentNames[1].Find("i_$zz2"), nullptr);
  EXPECT_EQ(t.namedConstantCount, 2u);
  const Values r = t.Reg(StandardBank::Inputs, 3);
  t.SetSemantic(r, "r_blend");
  ASSERT_EQ(t.CheckSemantics(r[0], 0), S_OK);
  EXPECT_EQ(t.Value(r[0])->registerKey, 0x0003FFFFu);
  EXPECT_NE(t.fragmentNames[1].Find("R_BLEND"), nullptr);
}

}  // namespace
}  // namespace targettest

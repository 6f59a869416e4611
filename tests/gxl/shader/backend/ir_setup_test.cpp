// Program set-up, deep copies of programs, the reporters and value names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../fail_alloc.h"
#include "../log_text.h"
#include "gxl/shader/core/syntax_tree.h"
#include "ir_fixture.h"

namespace {

using namespace gxl::shader;
using irtest::IrFixture;
using shadertest::LogText;
using GxlIrSetup = IrFixture;

TEST_F(GxlIrSetup, EighteenStandardBanks) {
  // Names and type words as the lowering knows them (type words in decimal there).
  const struct {
    const char* name;
    std::uint32_t type;
  } banks[] = {{"x", 0},      {"l", 785},    {"c", 593},    {"v", 81},     {"o", 98},        {"r", 3},
               {"a", 6},      {"p", 10},     {"s", 721},    {"i", 4099},   {"c", 8785},      {"p", 16394},
               {"q", 49162},  {"d", 65602},  {"y", 0x20003}, {"i", 262673}, {"k", 8290},     {"j", 262242}};
  ASSERT_EQ(program.banks.Count(), 18u);
  for (std::uint32_t i = 0; i < 18; ++i) {
    const RegisterBank& bank = *program.Bank(program.standardBanks[i]);
    EXPECT_STREQ(bank.name, banks[i].name) << i;
    EXPECT_EQ(bank.type, banks[i].type) << i;
    EXPECT_EQ(bank.components, 4u);
    EXPECT_EQ(bank.registerCount, std::strcmp(bank.name, "d") == 0 ? 0u : kNoIndex) << i;
  }
  EXPECT_EQ(program.log, &log);
  EXPECT_EQ(program.profileLimits.inputs, 64u);
  EXPECT_EQ(program.profileLimits.temporaries, 64u);
  EXPECT_EQ(program.profileLimits.floatConstants, 8192u);
  EXPECT_EQ(program.EntryName(), nullptr);
}

TEST_F(GxlIrSetup, NoLogNoBanks) {
  ShaderProgram fresh;
  EXPECT_EQ(fresh.Init(nullptr, nullptr, 0xFFFE0200, 0), E_FAIL);
  EXPECT_EQ(fresh.banks.Count(), 0u);
  EXPECT_EQ(fresh.standardBanks[0], kNoIndex);
}

TEST_F(GxlIrSetup, FailuresOfSetUp) {
  struct FailingLimits : ShaderProgram {
    HRESULT SetupProfileLimits() override { return E_NOTIMPL; }
  } failing;
  EXPECT_EQ(failing.Init(nullptr, &log, 0, 0), E_NOTIMPL);
  ShaderProgram starved;
  shadertest::FailNextAllocation();  // the first bank
  EXPECT_EQ(starved.Init(nullptr, &log, 0, 0), E_OUTOFMEMORY);
}

TEST_F(GxlIrSetup, InitFromCopiesDeeply) {
  ASSERT_EQ(program.SetEntryName("main"), S_OK);
  const std::uint32_t a = program.AddValue(Bank(StandardBank::Inputs), 0, 0, 0.0);
  const std::uint32_t b = program.AddValue(Bank(StandardBank::Temporaries), kNoIndex, kNoIndex, 0.0);
  const std::uint32_t wide = program.AddInstruction(0x60B00003, kNoIndex, kNoIndex);  // pool arrays
  const std::uint32_t narrow = program.AddInstruction(0x10000001, kNoIndex, kNoIndex);
  program.Instruction(narrow)->arguments[0] = a;
  program.Instruction(narrow)->results[0] = b;
  program.Instruction(wide)->arguments[11] = a;
  program.errorFlag = 1;

  ShaderProgram child;
  ASSERT_EQ(child.InitFrom(program, 0x54580100, 0x100), S_OK);
  EXPECT_EQ(child.log, &log);
  EXPECT_EQ(child.versionToken, 0x54580100u);
  EXPECT_EQ(child.options, 0x100u);
  EXPECT_EQ(child.errorFlag, 0u);
  EXPECT_EQ(child.EntryName(), nullptr);
  EXPECT_TRUE(std::equal(std::begin(child.standardBanks), std::end(child.standardBanks), program.standardBanks));
  EXPECT_EQ(child.values.Count(), program.values.Count());
  EXPECT_EQ(child.values.Capacity(), program.values.Count());
  EXPECT_EQ(child.instructions.Capacity(), 2u);
  // Every record is the child's own.
  child.Instruction(narrow)->arguments[0] = 77;
  child.Instruction(wide)->arguments[11] = 77;
  child.Value(a)->reg = 9;
  child.Bank(Bank(StandardBank::Inputs))->registerCount = 3;
  EXPECT_EQ(program.Instruction(narrow)->arguments[0], a);
  EXPECT_EQ(program.Instruction(wide)->arguments[11], a);
  EXPECT_EQ(program.Value(a)->reg, 0u);
  EXPECT_EQ(program.Bank(Bank(StandardBank::Inputs))->registerCount, kNoIndex);
  EXPECT_STREQ(program.EntryName(), "main");
  // A null slot stays null.
  delete program.values.Slot(b);
  program.values.Slot(b) = nullptr;
  ShaderProgram second;
  ASSERT_EQ(second.InitFrom(program, 0, 0), S_OK);
  EXPECT_EQ(second.Value(b), nullptr);
  EXPECT_NE(second.Value(a), nullptr);
}

// --- Messages -----------------------------------------------------------------------

SourceToken At(const char* file, std::uint32_t line) {
  SourceToken t;
  t.kind = kTokenIdentifier;
  t.value.text = "name";
  t.file = file;
  t.line = line;
  return t;
}

TEST_F(GxlIrSetup, MessagesTakeTheirLocationFromTheNode) {
  PagePool nodes(0, 0x10000);
  PagePool* previous = SetCurrentPool(&nodes);
  auto* token = new TokenNode(At("a.fx", 7));
  auto* expression = new ParseNodeKind13(nullptr, 0, nullptr, nullptr, 0, At("b.fx", 0));
  auto* declaration = new DeclarationNode(kDeclVariable, new TokenNode(At("c.fx", 12)), nullptr, nullptr);
  auto* unnamed = new DeclarationNode(kDeclVariable, new TypeNode, nullptr, nullptr);
  auto* list = new ListNode(token, nullptr, "Stmts");
  SetCurrentPool(previous);

  GXL_SHADER_REPORT(program, token, msg::kUsedUninitialized, "x");
  GXL_SHADER_REPORT(program, expression, msg::kIndefiniteLogarithm);
  GXL_SHADER_REPORT(program, declaration, msg::kIndexOutOfBounds);
  GXL_SHADER_REPORT(program, unnamed, msg::kIndexOutOfBounds);
  GXL_SHADER_REPORT(program, list, msg::kInternalComponentOutOfRange);
  GXL_SHADER_REPORT(program, nullptr, msg::kInternalUsedUninitialized, 3u, 4u);
  EXPECT_EQ(LogText(log),
            "a.fx(7): error X4000: variable 'x' used without having been completely initialized\n"
            "b.fx(1): error X4002: indefinite logarithm\n"
            "c.fx(12): error X4007: array index out of bounds\n"
            "error X4007: array index out of bounds\n"
            "internal error: component out of range\n"
            "internal error: argument used without having been initialized (A3, I4)\n");
  EXPECT_EQ(program.errorFlag, 1u);
}

TEST_F(GxlIrSetup, WarningsLeaveTheErrorFlagAndLongTextsAreCut) {
  GXL_SHADER_REPORT(program, nullptr, msg::kDebugInfoTooLarge);
  GXL_SHADER_REPORT(program, nullptr, msg::kOptimizationDidNotConverge);
  EXPECT_EQ(program.errorFlag, 0u);
  EXPECT_EQ(log.WarningCount(), 2u);
  const std::string name(400, 'n');
  GXL_SHADER_REPORT(program, nullptr, msg::kSemanticDeprecated, "input", name.c_str(), "COLOR", 0);
  const std::string want = "warning X4705: " + ("input semantic '" + name).substr(0, 255) + "\n";
  EXPECT_NE(LogText(log).find(want), std::string::npos);
  EXPECT_EQ(program.errorFlag, 0u);
  GXL_SHADER_REPORT(program, nullptr, msg::kUsedUninitialized, name.c_str());
  EXPECT_EQ(program.errorFlag, 1u);
  EXPECT_NE(LogText(log).find("error X4000: " + ("variable '" + name).substr(0, 255) + "\n"), std::string::npos);
}

TEST_F(GxlIrSetup, ValueNamesAndSemanticTexts) {
  const std::uint32_t pos = program.AddRegisterBank("oPos", 0x62, 1, 4);
  const std::uint32_t anonymous = program.AddRegisterBank("", 0x3, kNoIndex, 4);
  const struct {
    std::uint32_t bank, reg;
    const char* want;
  } cases[] = {{Bank(StandardBank::Temporaries), 5, "r5"}, {pos, 3, "oPos_3"}, {anonymous, 2, "_2"},
               {Bank(StandardBank::FloatConstants), kNoIndex, "c?"}};
  char buffer[32];
  for (const auto& c : cases) {
    const std::uint32_t v = program.AddValue(c.bank, c.reg, 0, 0.0);
    EXPECT_EQ(program.FormatValueName(v, buffer, sizeof buffer), std::strlen(c.want));
    EXPECT_STREQ(buffer, c.want);
  }
  // A value with an alias is named by the value it stands for.
  const std::uint32_t target = program.AddValue(Bank(StandardBank::Outputs), 12, 0, 0.0);
  const std::uint32_t alias = program.AddValue(Bank(StandardBank::Temporaries), kNoIndex, 0, 0.0);
  program.Value(alias)->alias = target;
  program.FormatValueName(alias, buffer, 3);
  EXPECT_STREQ(buffer, "o1");

  PagePool nodes(0, 0x10000);
  PagePool* previous = SetCurrentPool(&nodes);
  const std::string longName(100, 'S');
  SourceToken semantic = At(nullptr, 0);
  semantic.value.text = longName.c_str();
  program.Value(target)->semantic = new TokenNode(semantic);
  SetCurrentPool(previous);
  char text[128];
  program.FormatSemanticText(target, text, sizeof text);
  EXPECT_EQ(std::string(text), "output semantic '" + longName.substr(0, 63) + "'");
  program.FormatSemanticText(alias, text, sizeof text);
  EXPECT_STREQ(text, "input semantic ''");
}

}  // namespace

// The target base driven through the test target: encodings computed by hand
// from the token format, the compile driver's order and failures, the
// validator link, and the comment blocks of a finished stream.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <tuple>

#include "../block_reader.h"
#include "../fail_alloc.h"
#include "../fake_validator.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/core/comment_block.h"
#include "platform/testing.h"
#include "target_fixture.h"

namespace targettest {
namespace {

using shadertest::FakeValidator;
using shadertest::Hex;
using shadertest::LogText;

class GxlTargetBase : public TargetTest {
 protected:
  // An input v0 (POSITION) copied to the position output.
  void PassPosition(TestTarget& t) {
    const Values v0 = t.Reg(StandardBank::Inputs, 0);
    t.SetSemantic(v0, "POSITION");
    const Values out = t.Reg(StandardBank::Outputs, 0);
    t.SetSemantic(out, "POSITION");
    t.Put(kOpMove, 4, v0, out);
  }
  std::string BodyHex(const Code& code) { return Hex(Body(code)); }
};

TEST_F(GxlTargetBase, InstructionsEncodeAsTheTokenFormatSays) {
  struct Row {
    const char* what;
    std::function<void(TestTarget&)> build;
    const char* body;
  };
  const Row rows[] = {
      {"mov r0, c0",
       [](TestTarget& t) {
         t.Put(kOpMove, 4, t.Reg(StandardBank::FloatConstants, 0), t.Reg(StandardBank::Temporaries, 0));
       },
       "02000001 800F0000 A0E40000"},
      {"def c0, 1, 0, 0, 0 read as c0.x",
       [](TestTarget& t) { t.Put(kOpMove, 1, {t.Literal(1.0, 0, 0)}, t.Reg(StandardBank::Temporaries, 0, "x")); },
       "05000051 A00F0000 3F800000 00000000 00000000 00000000 02000001 80010000 A0000000"},
      {"dcl_texcoord0 v3 after three other inputs",
       [](TestTarget& t) {
         const char* semantics[] = {"POSITION", "NORMAL", "COLOR", "TEXCOORD0"};
         Values last;
         for (std::uint32_t r = 0; r < 4; ++r) t.SetSemantic(last = t.Reg(StandardBank::Inputs, r), semantics[r]);
         t.Put(kOpMove, 4, last, t.Reg(StandardBank::Temporaries, 0));
       },
       "0200001F 80000000 900F0000 0200001F 80000003 900F0001 0200001F 8000000A 900F0002 "
       "0200001F 80000005 900F0003 02000001 800F0000 90E40003"},
      {"mov r1.yz, -r2.wx",
       [](TestTarget& t) {
         t.Put(kOpNegate, 2, t.Reg(StandardBank::Temporaries, 2, "wx"), t.Reg(StandardBank::Temporaries, 1, "yz"));
       },
       "02000001 80060001 81CC0002"},
      {"add r0.x, r1.y, c5.z",
       [](TestTarget& t) {
         t.Put(kOpAdd, 1, Concat(t.Reg(StandardBank::Temporaries, 1, "y"), t.Reg(StandardBank::FloatConstants, 5, "z")),
               t.Reg(StandardBank::Temporaries, 0, "x"));
       },
       "03000002 80010000 80550001 A0AA0005"},
  };
  for (const Row& row : rows) {
    TestTarget& t = Make(kVs20);
    row.build(t);
    EXPECT_EQ(BodyHex(MustCompile()), row.body) << row.what << "\n" << LogText(log);
  }
}

// Register files, constant files past c2047 and every source modifier, as
// the source parameter token carries them.
TEST_F(GxlTargetBase, SourceParametersOfEveryFileAndModifier) {
  TestTarget& t = Make(kVs30);
  const std::uint32_t loop = t.AddRegisterBank("aL", kBankReadable | kBankInitialised | kBankAddress, kNoIndex, 4);
  struct Row {
    std::uint32_t bank, reg, binding;
    DWORD token;
  };
  const Row rows[] = {
      {Bank(StandardBank::FloatConstants), 0, 0, 0xA0000000},
      {Bank(StandardBank::FloatConstants), 2047, 0, 0xA00007FF},
      {Bank(StandardBank::FloatConstants), 2050, 0, 0xB0000802},
      {Bank(StandardBank::FloatConstants), 4096, 0, 0xC0000800},
      {Bank(StandardBank::FloatConstants), 6144, 0, 0xD0000800},
      {Bank(StandardBank::FloatConstants), 8191, 0, 0xD0000FFF},
      {Bank(StandardBank::Temporaries), 5, 0, 0x80000005},
      {Bank(StandardBank::Inputs), 3, 0, 0x90000003},
      {Bank(StandardBank::IntConstants), 2, 0, 0xF0000002},
      {Bank(StandardBank::BoolConstants), 1, 0, 0xE0000801},
      {Bank(StandardBank::Samplers), 3, 0, 0xA0000803},
      {Bank(StandardBank::Predicates), 0, 0, 0xB0001000},
      {loop, 0, 0, 0xF0000800},
      // Binding-word modifiers: abs, abs-negate, negate, bias, bias-negate,
      // sign, sign-negate, complement, x2, x2-negate.
      {Bank(StandardBank::Temporaries), 0, 0x100000, 0x8B000000},
      {Bank(StandardBank::Temporaries), 0, 0x180000, 0x8C000000},
      {Bank(StandardBank::Temporaries), 0, 0x80000, 0x81000000},
      {Bank(StandardBank::Temporaries), 0, 0x20000, 0x82000000},
      {Bank(StandardBank::Temporaries), 0, 0xA0000, 0x83000000},
      {Bank(StandardBank::Temporaries), 0, 0x60000, 0x84000000},
      {Bank(StandardBank::Temporaries), 0, 0xE0000, 0x85000000},
      {Bank(StandardBank::Temporaries), 0, 0x10000, 0x86000000},
      {Bank(StandardBank::Temporaries), 0, 0x40000, 0x87000000},
      {Bank(StandardBank::Temporaries), 0, 0xC0000, 0x88000000},
  };
  for (const Row& row : rows) {
    const std::uint32_t v = t.Reg(row.bank, row.reg, "x")[0];
    t.Value(v)->binding = row.binding;
    DWORD token = 0;
    std::uint32_t relative = 0;
    ASSERT_EQ(t.EncodeSourceRegister(v, &token, &relative), S_OK) << row.reg;
    EXPECT_EQ(token, row.token) << std::hex << row.token;
    EXPECT_EQ(relative, kNoIndex);
  }
  // Past a file's limit: the limit error and GXLERR_INVALIDDATA.
  const std::uint32_t far = t.Reg(StandardBank::Temporaries, 32, "x")[0];
  DWORD token = 0;
  EXPECT_EQ(t.EncodeSourceRegister(far, &token, nullptr), static_cast<HRESULT>(0x88760B59));
  EXPECT_NE(LogText(log).find("error X4505: maximum temp register index exceeded"), std::string::npos);
}

TEST_F(GxlTargetBase, DefinitionsAcrossTheConstantFiles) {
  TestTarget& t = Make(kVs30, kOptionNoValidation);
  const DWORD values[4] = {0x3F800000, 0, 0x40000000, 0xBF800000};
  ASSERT_EQ(t.DefineFloatConstant(2050, values), S_OK);
  ASSERT_EQ(t.DefineFloatConstant(6144, values), S_OK);
  ASSERT_EQ(t.DefineIntegerConstant(3, values), S_OK);
  EXPECT_EQ(Hex(t.tokens.Data(), t.tokens.Size()),
            "05000051 B00F0802 3F800000 00000000 40000000 BF800000 05000051 D00F0800 3F800000 00000000 40000000 "
            "BF800000 05000030 F00F0003 3F800000 00000000 40000000 BF800000");
}

TEST_F(GxlTargetBase, PredicateTokensAndThePredicatedBit) {
  TestTarget& t = Make(kVs30);
  const Values p = t.Reg(StandardBank::Predicates, 0, "xyz");
  const Values results = t.Reg(StandardBank::Temporaries, 0);
  struct Row {
    std::uint32_t predicate, sense;
    DWORD token;
  };
  for (const Row& row : {Row{p[0], 1, 0xB0001000}, Row{p[1], 1, 0xB0551000}, Row{p[2], 0, 0xBDAA1000},
                         Row{kNoIndex, 1, 0}, Row{results[1], 1, 0}}) {
    t.Value(results[0])->predicate = row.predicate;
    t.Value(results[0])->predicateSense = row.sense;
    DWORD token = 1;
    ASSERT_EQ(t.EncodePredicate(results[0], &token), S_OK);
    EXPECT_EQ(token, row.token) << std::hex << row.token;
  }
  // A predicated move: bit 28 and the predicate token after the destination.
  for (std::uint32_t v : results) t.Value(v)->predicate = p[0], t.Value(v)->predicateSense = 1;
  t.Put(kOpMove, 4, t.Reg(StandardBank::FloatConstants, 0), results);
  EXPECT_EQ(BodyHex(MustCompile()), "13000001 800F0000 B0001000 A0E40000");
}

TEST_F(GxlTargetBase, WriteMasksAndResultModifiers) {
  TestTarget& t = Make(kVs20);
  const Values r = t.Reg(StandardBank::Temporaries, 0);
  struct Row {
    Values values;
    std::uint32_t binding, capabilities, fullMask;
    DWORD bits;
  };
  const Row rows[] = {
      {{r[0]}, 0, 0, 0, 0x10000},
      {{r[1], r[3]}, 0, 0, 0, 0xA0000},
      {{r[1]}, 0, 0, 1, 0xF0000},
      {{r[0], r[1], r[2], r[3]}, 0x200, 0, 0, 0x1F0000},
      {{r[2]}, 0x400, 0, 0, 0x1040000},
      {{r[2]}, 0x800, 0, 0, 0x2040000},
      {{r[2]}, 0x1000, 0, 0, 0x3040000},
      {{r[2]}, 0x2000 | 0x200, 0, 0, 0xF140000},
      {{r[2]}, 0x4000, 0, 0, 0xE040000},
      {{r[2]}, 0x8000, 0, 0, 0xD040000},
      // The colour and alpha pipes: without w the colour half, with w and
      // another component all four, w alone stays.
      {{r[0]}, 0, 0x800000, 0, 0x70000},
      {{r[0], r[1], r[2]}, 0, 0x800000, 0, 0x70000},
      {{r[3]}, 0, 0x800000, 0, 0x80000},
      {{r[0], r[3]}, 0, 0x800000, 0, 0xF0000},
  };
  for (const Row& row : rows) {
    t.Value(row.values[0])->binding = row.binding;
    t.profileLimits.capabilities = row.capabilities;
    DWORD bits = 0;
    ASSERT_EQ(
        t.EncodeDestinationMask(row.values.data(), static_cast<std::uint32_t>(row.values.size()), &bits, row.fullMask),
        S_OK);
    EXPECT_EQ(bits, row.bits) << std::hex << row.bits;
    t.Value(row.values[0])->binding = 0;
  }
  EXPECT_EQ(LogText(log), "<null>");
  const Values twice = {r[1], t.Reg(StandardBank::Temporaries, 0, "y")[0]};
  DWORD bits = 0;
  EXPECT_EQ(t.EncodeDestinationMask(twice.data(), 2, &bits, 0), S_OK);
  EXPECT_EQ(LogText(log), "error X4821: internal error: overlapping output writes\n");
}

TEST_F(GxlTargetBase, SwizzlesFollowTheWrittenComponents) {
  TestTarget& t = Make(kVs30);
  const Values r = t.Reg(StandardBank::Temporaries, 0);
  struct Row {
    Values values;
    DWORD mask, swizzle;
  };
  const Row rows[] = {
      {r, 0xF0000, 0xE40000},
      {{r[1]}, 0x10000, 0x550000},              // one component: replicated
      {{r[3], r[0]}, 0x60000, 0xCC0000},        // y <- w, z <- x, the rest identity
      {{r[2], r[2], r[2]}, 0x70000, 0xAA0000},  // all the same: replicated
      {{r[2], r[1], r[0]}, 0xF0000, 0xC60000},  // fewer values than components: w stays
      {{t.Reg(StandardBank::Samplers, 1, "x")[0]}, 0x10000, 0xE40000},
  };
  for (const Row& row : rows) {
    DWORD swizzle = 0;
    ASSERT_EQ(t.MapSwizzle(row.values.data(), static_cast<std::uint32_t>(row.values.size()), row.mask, &swizzle), S_OK);
    EXPECT_EQ(swizzle, row.swizzle) << std::hex << row.swizzle;
  }
}

// More sampler values than the profile allows stop the compile before the
// version token exists.
TEST_F(GxlTargetBase, SamplerLimitBeforeAnyCode) {
  struct Row {
    std::uint32_t limit;
    const char* message;
  };
  for (const Row& row :
       {Row{1, "error X4510: maximum number of samplers exceeded. ps_2_0 target can have a maximum of 1 samplers\n"},
        Row{0, "error X4545: ps_2_0 target does not support texture lookups\n"}}) {
    FakeValidator fake;
    fake.Install();
    log.Reset();
    TestTarget& t = Make(kPs20);
    t.profileLimits.samplers = row.limit;
    t.Reg(StandardBank::Samplers, 0, "x");
    t.Reg(StandardBank::Samplers, 1, "x");
    Code code;
    EXPECT_EQ(Compile(&code), E_FAIL);
    EXPECT_TRUE(code.empty());
    EXPECT_EQ(LogText(log), row.message);
    EXPECT_TRUE(fake.groups.empty());
  }
}

TEST_F(GxlTargetBase, OverlappingOutputsReportedOnce) {
  for (auto flavour : {kVs20, kVs30}) {
    log.Reset();
    TestTarget& t = Make(flavour);
    PassPosition(t);
    for (std::uint32_t r = 1; r < 4; ++r) {
      const Values out = t.Reg(StandardBank::Outputs, r);
      t.SetSemantic(out, "TEXCOORD2");
      t.Put(kOpMove, 4, t.Reg(StandardBank::FloatConstants, 0), out);
    }
    Code code;
    EXPECT_EQ(Compile(&code), E_FAIL);
    EXPECT_EQ(LogText(log), "(1): error X4504: overlapping output semantics\n");
  }
}

TEST_F(GxlTargetBase, ValuesWithoutSemanticAreInternalErrors) {
  for (StandardBank bank : {StandardBank::Inputs, StandardBank::Outputs}) {
    log.Reset();
    TestTarget& t = Make(kVs20);
    PassPosition(t);
    const Values v = t.Reg(bank, 1);
    t.Put(kOpMove, 4, bank == StandardBank::Inputs ? v : t.Reg(StandardBank::FloatConstants, 0),
          bank == StandardBank::Inputs ? t.Reg(StandardBank::Temporaries, 0) : v);
    // An unassigned input is filed nowhere and needs no semantic.
    t.Reg(StandardBank::Inputs, kNoIndex);
    Code code;
    EXPECT_EQ(Compile(&code), E_FAIL);
    EXPECT_EQ(LogText(log), bank == StandardBank::Inputs ? "internal error: input register missing semantic\n"
                                                         : "internal error: output register missing semantic\n");
  }
}

// A target whose preshader is a fixed block of code.
class PreshaderTarget : public TestTarget {
 public:
  using TestTarget::TestTarget;
  HRESULT PreparePreshader() override { return S_OK; }
  HRESULT CompilePreshader(DataBuffer** code) override {
    const DWORD words[] = {0x46580201, 0x0000FFFF};
    HRESULT hr = CreateDataBuffer(sizeof words, code);
    if (SUCCEEDED(hr)) std::memcpy((*code)->GetPointer(), words, sizeof words);
    return hr;
  }
};

TEST_F(GxlTargetBase, BlocksPrecedeTheCodeWhichEnds) {
  target = std::make_unique<PreshaderTarget>(kVs20);
  TestTarget& t = *target;
  ASSERT_EQ(t.Init(nullptr, &log, kVs20, kOptionDebug), S_OK);
  t.preshader = std::make_unique<ShaderProgram>();
  PassPosition(t);
  const Values tint = t.Reg(StandardBank::FloatConstants, 0);
  DeclarationNode* d = shadertest::Variable("tint", shadertest::Type(shadertest::kVector, shadertest::kFloat, 1, 4));
  for (std::uint32_t v : tint) t.Value(v)->declaration = d;
  const Values sum = t.Reg(StandardBank::Temporaries, 0);
  const std::uint32_t add = t.Put(kOpAdd, 4, Concat(tint, tint), sum);
  auto* statement = new ParseNodeKind13(nullptr, 0, nullptr, nullptr, 0, shadertest::IdentifierToken("+", "a.fx", 12));
  t.Instruction(add)->sourcePosition = statement;
  const Code code = MustCompile();
  EXPECT_EQ(shadertest::LeadingTags(code), (std::vector<std::string>{"DBUG", "CTAB", "PRES"}));
  ASSERT_FALSE(code.empty());
  EXPECT_EQ(code.back(), 0x0000FFFFu);
  EXPECT_EQ(GetShaderSize(code.data()), code.size() * 4);
  // Each debug record points at its instruction's opcode token; the add
  // carries its statement's file and line.
  const shadertest::Payload dbug = shadertest::LeadingBlock(code, kTagDebugInfo);
  ASSERT_TRUE(dbug.found);
  ASSERT_EQ(dbug.U32(20), 3u);  // the position's dcl, the move and the add
  const std::size_t lines = dbug.U32(24);
  const DWORD opcodes[] = {0x0200001F, 0x02000001, 0x03000002};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::uint32_t offset = dbug.U32(lines + 8 * i + 4);
    ASSERT_LT(offset / 4, code.size());
    EXPECT_EQ(code[offset / 4], opcodes[i]) << i;
  }
  EXPECT_EQ(dbug.U16(lines + 16), 12u);
  EXPECT_EQ(dbug.Text(dbug.U32(dbug.U32(16))), "a.fx");
}

TEST_F(GxlTargetBase, ConstantTableReadsBack) {
  TestTarget& t = Make(kVs20);
  PassPosition(t);
  struct Uniform {
    const char* name;
    std::uint32_t registers;
  };
  Values reads;
  std::uint32_t next = 0;
  for (const Uniform& u : {Uniform{"world", 4}, Uniform{"tint", 1}}) {
    DeclarationNode* d = shadertest::Variable(
        u.name, u.registers == 4 ? shadertest::Type(shadertest::kMatrix, shadertest::kFloat, 4, 4)
                                 : shadertest::Type(shadertest::kVector, shadertest::kFloat, 1, 4));
    for (std::uint32_t r = 0; r < u.registers; ++r) {
      const Values v = t.Reg(StandardBank::FloatConstants, next + r);
      for (std::uint32_t c = 0; c < 4; ++c) t.Value(v[c])->declaration = d, t.Value(v[c])->variableOffset = r * 4 + c;
      reads = v;
    }
    next += u.registers;
  }
  t.Put(kOpMove, 4, reads, t.Reg(StandardBank::Temporaries, 0));
  const Code code = MustCompile();
  gxl::ComRef<ConstantTable> table;
  ASSERT_EQ(CreateShaderConstantTable(code.data(), table.Put()), S_OK);
  ConstantTableDesc desc{};
  ASSERT_EQ(table->Describe(&desc), S_OK);
  EXPECT_EQ(desc.version, kVs20);
  EXPECT_EQ(desc.constants, 2u);
  for (const auto& [name, reg, count] : {std::tuple{"tint", 4u, 1u}, std::tuple{"world", 0u, 4u}}) {
    ConstantDesc c{};
    ASSERT_EQ(table->DescribeConstants(table->ConstantByName(nullptr, name), &c, nullptr), S_OK) << name;
    EXPECT_EQ(c.registerSet, 2u);
    EXPECT_EQ(c.registerIndex, reg) << name;
    EXPECT_EQ(c.registerCount, count) << name;
  }
}

TEST_F(GxlTargetBase, ValidatorFedEveryInstructionAndItsErrorsKept) {
  FakeValidator fake;
  fake.Install();
  {
    TestTarget& t = Make(kVs20);
    PassPosition(t);
    MustCompile();
    EXPECT_EQ(fake.flags, 1u);
    EXPECT_EQ(fake.groups, (std::vector<std::string>{"FFFE0200", "0200001F 80000000 900F0000",
                                                     "02000001 C00F0000 90E40000", "0000FFFF"}));
    EXPECT_EQ(fake.ends, 1);
    EXPECT_EQ(fake.refs, 1u);
  }
  // Kinds 2 and 6 are errors numbered 5000 on; the others are dropped.
  fake.groups.clear();
  fake.messages = {{2, 1, 7, "seven"}, {2, 2, 8, "eight"}, {2, 5, 9, "nine"}, {2, 6, 10, "ten"}, {2, 3, 11, "x"}};
  TestTarget& t = Make(kVs20);
  PassPosition(t);
  Code code;
  EXPECT_EQ(Compile(&code), E_FAIL);
  EXPECT_TRUE(code.empty());
  EXPECT_EQ(LogText(log), "(1): error X5008: eight\n(1): error X5010: ten\n");
  EXPECT_EQ(fake.groups.size(), 3u);  // nothing more after the error
  EXPECT_EQ(fake.refs, 1u);
}

TEST_F(GxlTargetBase, SkippedValidationLeavesTheRuntimeAlone) {
  FakeValidator fake;
  fake.Install();
  TestTarget& t = Make(kVs20, kOptionNoValidation);
  PassPosition(t);
  MustCompile();
  EXPECT_EQ(fake.created, 0);
  // A runtime that is not loaded stays so; with validation it is loaded for
  // the compile and given back.
  platform::test::RemoveModule("d3d9.dll");
  platform::test::AddModule("d3d9.dll", false);
  fake.Install();
  for (std::uint32_t options : {kOptionNoValidation, 0u}) {
    TestTarget& u = Make(kVs20, options);
    PassPosition(u);
    MustCompile();
    EXPECT_EQ(platform::test::ModuleRefCount("d3d9.dll"), 0);
    EXPECT_EQ(fake.created, options ? 0 : 1);
  }
  // Without the runtime the code comes out unvalidated.
  platform::test::RemoveModule("d3d9.dll");
  TestTarget& u = Make(kVs20);
  PassPosition(u);
  EXPECT_EQ(Body(MustCompile()).size(), 6u);
}

// The same program compiled again by the same target, by another target and
// in another process gives the same bytes.
TEST_F(GxlTargetBase, SameBytesEveryTime) {
  auto build = [&] {
    TestTarget& t = Make(kVs20, kOptionDebug);
    PassPosition(t);
    const Values r1 = t.Reg(StandardBank::Temporaries, 1);
    t.Put(kOpMove, 4, {t.Literal(0.5, 0, 0), t.Literal(2, 0, 1), t.Literal(-1, 1, 0), t.Literal(4, 0, 3)}, r1);
    t.Put(kOpAdd, 4, Concat(t.Reg(StandardBank::FloatConstants, 3), r1), t.Reg(StandardBank::Temporaries, 2));
  };
  build();
  const Code first = MustCompile();
  const Code again = MustCompile();
  build();
  EXPECT_EQ(MustCompile(), first);
  EXPECT_EQ(again, first);

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    build();
    gxl::ComRef<DataBuffer> code;
    const bool ok = target->Compile(code.Put()) == S_OK;
    if (ok) (void)!write(pipe_fds[1], code->GetPointer(), code->GetSize());
    _exit(ok ? 0 : 1);
  }
  close(pipe_fds[1]);
  Code received;
  std::uint32_t word;
  while (read(pipe_fds[0], &word, sizeof word) == sizeof word) received.push_back(word);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(received, first);
}

TEST_F(GxlTargetBase, IntegerLiteralsTruncate) {
  TestTarget& t = Make(kVs20);
  const std::uint32_t bank = t.AddRegisterBank(
      "i", kBankReadable | kBankInitialised | kBankLiteral | kBankUniform | kBankInteger, kNoIndex, 4);
  const double literals[4] = {3.7, -2.5, 1e10, std::numeric_limits<double>::quiet_NaN()};
  for (std::uint32_t c = 0; c < 4; ++c) t.AddValue(bank, 0, c, literals[c]);
  EXPECT_EQ(BodyHex(MustCompile()), "05000030 F00F0000 00000003 FFFFFFFE 80000000 80000000");
}

TEST_F(GxlTargetBase, EveryFailedAllocationIsOutOfMemory) {
  auto build = [&] {
    TestTarget& t = Make(kVs20, kOptionNoValidation | kOptionDebug);
    PassPosition(t);
    const Values r = t.Reg(StandardBank::Temporaries, 1, "xy");
    t.Put(kOpDot, 2, Concat(t.Reg(StandardBank::FloatConstants, 0, "xy"), t.Reg(StandardBank::FloatConstants, 1, "xy")),
          {r[0]});
    t.Put(kOpAdd, 1, {r[0], t.Literal(0.5, 0, 0)}, {r[1]});
  };
  // Counted after a first compile, as every later one runs: the IR pools
  // then recycle the nodes of the target before.
  build();
  gxl::ComRef<DataBuffer> code;
  ASSERT_EQ(target->Compile(code.Put()), S_OK) << LogText(log);
  build();
  shadertest::FailNthAllocation(~std::uint64_t{0});
  ASSERT_EQ(target->Compile(code.Put()), S_OK) << LogText(log);
  const std::uint64_t total = shadertest::AllocationsCounted();
  shadertest::FailNthAllocation(0);
  ASSERT_GT(total, 10u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    build();
    shadertest::FailNthAllocation(n);
    const HRESULT hr = target->Compile(code.Put());
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    ASSERT_TRUE(failed) << n;
    ASSERT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n << " of " << total;
    ASSERT_FALSE(code);
  }
}

}  // namespace
}  // namespace targettest

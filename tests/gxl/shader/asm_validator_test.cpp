// The assembler with a fake "Direct3DShaderValidatorCreate9" in "d3d9.dll",
// without one, and in fragment mode (which never asks for it).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gxl/shader/assembler/shader_assembler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "tests/gxl/shader/asm_run.h"
#include "tests/gxl/shader/fake_validator.h"
#include "tests/gxl/shader/log_text.h"

namespace {

using shadertest::AsmRun;
using shadertest::Assemble;
using shadertest::FakeValidator;

class GxlShaderAsmValidator : public testing::Test {
 protected:
  void SetUp() override { fake.Install(); }
  FakeValidator fake;
};

TEST_F(GxlShaderAsmValidator, FedOneGroupPerInstructionAtItsLine) {
  const AsmRun run = Assemble("vs_2_0\n\nmov r0, r1\n  add r0, r0, c2\n", 0);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(fake.groups, (std::vector<std::string>{"FFFE0200", "02000001 800F0000 80E40001",
                                                   "03000002 800F0000 80E40000 A0E40002", "0000FFFF"}));
  EXPECT_EQ(fake.lines, (std::vector<int>{1, 3, 4, 5}));
  EXPECT_EQ(fake.ends, 1);
  EXPECT_EQ(fake.refs, 1u);  // released
}

// Types 1 and 5 are warnings, 2 and 6 errors, other types are dropped; each
// carries 5000 plus its number and the position of the instruction fed.
TEST_F(GxlShaderAsmValidator, MessageTypes) {
  fake.messages = {{1, 1, 7, "seven"}, {1, 5, 9, "nine"}, {2, 3, 11, "dropped"}};
  AsmRun run = Assemble("vs_2_0\nmov r0, r1\nmov r2, r1\n", 0);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_FALSE(run.tokens.empty());
  EXPECT_EQ(run.log, "(2): warning X5007: seven\n(2): warning X5009: nine\n");

  fake.groups.clear();
  fake.messages = {{1, 2, 8, "eight"}, {1, 6, 10, "ten"}};
  run = Assemble("vs_2_0\nmov r0, r1\nmov r2, r1\n", 0);
  EXPECT_EQ(run.hr, GXLERR_INVALIDDATA);
  EXPECT_TRUE(run.tokens.empty());
  EXPECT_EQ(run.log, "(2): error X5008: eight\n(2): error X5010: ten\n");
}

TEST_F(GxlShaderAsmValidator, FailingBeginAndFeed) {
  fake.beginResult = E_OUTOFMEMORY;
  EXPECT_EQ(Assemble("vs_2_0 mov r0, r1", 0).hr, E_OUTOFMEMORY);
  EXPECT_EQ(fake.refs, 1u);

  fake.beginResult = S_OK;
  fake.failingGroup = 0;  // the version token
  fake.groups.clear();
  EXPECT_EQ(Assemble("vs_2_0 mov r0, r1", 0).hr, E_FAIL);

  fake.failingGroup = 1;  // an instruction: nothing after it is fed
  fake.groups.clear();
  const AsmRun run = Assemble("vs_2_0\nmov r0, r1\nmov r2, r1\n", 0);
  EXPECT_EQ(run.hr, GXLERR_INVALIDDATA);
  EXPECT_EQ(fake.groups.size(), 2u);
  EXPECT_EQ(fake.refs, 1u);
}

TEST_F(GxlShaderAsmValidator, UnresolvedOperandsAreNotFed) {
  const AsmRun run = Assemble("vs_2_0\nmov r0, r99\nmov r1, r0\nmov r2, c[a0.x + 9000]\nmov r3, r0\n", 0);
  EXPECT_EQ(run.hr, GXLERR_INVALIDDATA);
  EXPECT_EQ(fake.groups,
            (std::vector<std::string>{"FFFE0200", "02000001 800F0001 80E40000", "02000001 800F0003 80E40000"}));
}

// A runtime that was not loaded is loaded for the run and given back after.
TEST_F(GxlShaderAsmValidator, RuntimeLoadedForTheRunIsFreed) {
  platform::test::RemoveModule("d3d9.dll");
  platform::test::AddModule("d3d9.dll", false);
  fake.Install();
  EXPECT_EQ(Assemble("vs_2_0 mov r0, r1", 0).hr, S_OK);
  EXPECT_EQ(fake.created, 1);
  EXPECT_EQ(platform::test::ModuleRefCount("d3d9.dll"), 0);
}

TEST_F(GxlShaderAsmValidator, NotAskedForWithFlag2OrInFragments) {
  EXPECT_EQ(Assemble("vs_2_0 mov r0, r1").hr, S_OK);
  gxl::shader::ShaderPreprocessor pp;
  const std::string text = "vs_2_0 mov oPos, a0.x";
  ASSERT_EQ(pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr), S_OK);
  int binder = 0;  // never looked into by the assembler itself
  gxl::shader::ShaderAssembler as;
  gxl::ComRef<DataBuffer> code;
  EXPECT_EQ(as.Assemble(&pp, 0, reinterpret_cast<gxl::shader::ConstantBinder*>(&binder), code.Put()), S_OK);
  EXPECT_EQ(fake.created, 0);
}

TEST(GxlShaderAsmValidatorAbsent, CodeComesOutUnvalidated) {
  const char* undeclared = "vs_1_1\nmov oPos, v0\n";
  EXPECT_EQ(Assemble(undeclared, 0).hr, GXLERR_INVALIDDATA);
  platform::test::RemoveExport("d3d9.dll", "Direct3DShaderValidatorCreate9");
  const AsmRun run = Assemble(undeclared, 0);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(shadertest::Hex(run.tokens), "FFFE0101 00000001 C00F0000 90E40000 0000FFFF");
}

// Fragments (HLSL asm blocks for the fragment linker) name their inputs,
// temporaries and constants symbolically; of the table's registers only
// address, output, loop, label and predicate registers are theirs.
TEST(GxlShaderAsmFragment, RegisterTypesAndVersions) {
  struct Row {
    const char* source;
    HRESULT hr;
    const char* tokens;
    const char* log;
  };
  const Row rows[] = {
      {"vs_2_0 mov oPos, a0.x", S_OK, "7FFE0200 02000001 C00F0000 B0000000 0000FFFF", "<null>"},
      {"ps_2_x mov oC1, t0", S_OK, "7FFF0201 02000001 800F0801 B0E40000 0000FFFF", "<null>"},
      {"vs_2_0 mov oPos, c0", GXLERR_INVALIDDATA, "",
       "(1): error X2005: temporary and constant registers are not allowed in assembly fragments\n"},
      {"vs_3_0 mov o0, a0.x", GXLERR_INVALIDDATA, "",
       "(1): error X2005: temporary, constant, and output registers are not allowed in vs_3_0 assembly fragments\n"},
      {"vs_3_0 loop aL, i0", GXLERR_INVALIDDATA, "",
       "(1): error X2005: temporary, constant, and output registers are not allowed in vs_3_0 assembly fragments\n"},
      {"vs_2_0 call l0", GXLERR_INVALIDDATA, "",
       "(1): error X2025: call, callnz, label, and ret instructions are not allowed in assembly fragments\n"},
      {"ps_1_1 mov r0, t0", GXLERR_INVALIDDATA, "",
       "(1): error X2001: only vs_1_1, vs_2_0, vs_2_x, vs_2_sw, ps_2_0, ps_2_x, and ps_2_sw are supported for assembly "
       "fragments\n(1): error X2005: temporary and constant registers are not allowed in assembly fragments\n"},
  };
  for (const Row& row : rows) {
    gxl::shader::ShaderPreprocessor pp;
    ASSERT_EQ(pp.StartFromMemory(row.source, static_cast<UINT>(std::strlen(row.source)), nullptr, nullptr), S_OK);
    int binder = 0;
    gxl::shader::ShaderAssembler as;
    gxl::ComRef<DataBuffer> code;
    EXPECT_EQ(as.Assemble(&pp, 0, reinterpret_cast<gxl::shader::ConstantBinder*>(&binder), code.Put()), row.hr)
        << row.source;
    const std::string tokens =
        code ? shadertest::Hex(static_cast<const std::uint32_t*>(code->GetPointer()), code->GetSize() / 4) : "";
    EXPECT_EQ(tokens, row.tokens) << row.source;
    EXPECT_EQ(shadertest::LogText(pp.Log()), row.log) << row.source;
  }
}

}  // namespace

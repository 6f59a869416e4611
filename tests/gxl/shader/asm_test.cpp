// The shader assembler against tokens computed by hand from the token format,
// the token kit's goldens and decoder, and the public assembly files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "gxl/shader/assembler/asm_tables.h"
#include "tests/gxl/shader/asm_run.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/goldens.h"

namespace {

using shadertest::AsmRun;
using shadertest::Assemble;
using shadertest::BodyHex;

constexpr const char* kVersions[gxl::shader::kAsmProfileCount] = {"vs_1_1",  "vs_2_0", "vs_2_x",  "vs_2_sw", "vs_3_0",
                                                                  "vs_3_sw", "ps_1_1", "ps_1_2",  "ps_1_3",  "ps_1_4",
                                                                  "ps_2_0",  "ps_2_x", "ps_2_sw", "ps_3_0",  "ps_3_sw"};

// A source, the tokens between its version and end tokens (null: no code)
// and its message lines.
struct Row {
  const char* source;
  const char* body;
  const char* log;
};

void ExpectRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    const AsmRun run = Assemble(row.source);
    if (row.body) {
      EXPECT_EQ(run.hr, S_OK) << row.source;
      EXPECT_EQ(BodyHex(run), row.body) << row.source;
    } else {
      EXPECT_EQ(run.hr, GXLERR_INVALIDDATA) << row.source;
      EXPECT_TRUE(run.tokens.empty()) << row.source;
    }
    EXPECT_EQ(run.log, row.log) << row.source;
  }
}

TEST(GxlShaderAsmGoldens, TokensComputedByHand) {
  ExpectRows({
      {"vs_1_1 mov oPos, v0", "00000001 C00F0000 90E40000", ""},
      {"vs_1_1 rcp r0, c0", "00000006 800F0000 A0FF0000", ""},
      {"vs_2_0 rcp r0, c0", "02000006 800F0000 A0E40000", ""},
      {"vs_1_1 sub r0, r1, -r2", "00000002 800F0000 80E40001 80E40002", ""},
      // ps_1_1 counts r0 and r1 only; ps_1_4 keeps sub as well.
      {"ps_1_4 sub r0, r1, -r2", "00000003 800F0000 80E40001 81E40002", ""},
      {"ps_1_1 sub r0, r1, -t2", "00000003 800F0000 80E40001 B1E40002", ""},
      {"vs_1_1 mov r0, c2100", "00000001 800F0000 B0E40834", ""},
      {"vs_1_1 dcl_texcoord3 v0", "0000001F 80030005 900F0000", ""},
  });
  const AsmRun run = Assemble("vs_1_1\nmov oPos, v0\n");
  EXPECT_EQ(shadertest::Hex(run.tokens), "FFFE0101 00000001 C00F0000 90E40000 0000FFFF");
}

// Every golden of the token kit is the assembly of its own text (its comment
// block aside: comments never reach the assembler), and validates.
TEST(GxlShaderAsmGoldens, TokenKitGoldensAssembleToTheirTokens) {
  for (const nura::shtok::Golden& g : nura::shtok::Goldens()) {
    std::vector<std::uint32_t> expected;
    for (const std::uint32_t w : nura::shtok::Tokens(g.tokens))
      if (w != 0x0001FFFE && w != 0x12345678) expected.push_back(w);
    for (const DWORD flags : {kAssembleSkipValidation, DWORD{0}}) {
      const AsmRun run = Assemble(g.text, flags);
      EXPECT_EQ(run.hr, S_OK) << g.name << " " << run.log;
      EXPECT_EQ(shadertest::Hex(run.tokens), shadertest::Hex(expected)) << g.name;
      EXPECT_EQ(run.log, "") << g.name;
    }
  }
}

// Each instruction row in each version: S_OK with a stream the token kit's
// decoder reads back (so the operand counts agree with the format), or X2023.
TEST(GxlShaderAsmTables, EveryRowInEveryVersion) {
  using gxl::shader::AsmClass;
  for (int p = 0; p < gxl::shader::kAsmProfileCount; ++p) {
    for (const gxl::shader::AsmInstructionRow& row : gxl::shader::AssemblerInstructionTable) {
      const AsmClass c = row.classes[p];
      std::string line = row.name;
      if (line == "dcl" && p <= 5) line += "_texcoord";
      if (line == "setp") line += "_lt";
      std::string operands;
      switch (c) {
        case AsmClass::Def: operands = " c0, 1, 2, 3, 4"; break;
        case AsmClass::Defi: operands = " i0, 1, 2, 3, 4"; break;
        case AsmClass::Defb: operands = " b0, true"; break;
        case AsmClass::Flow1: operands = " r0"; break;
        case AsmClass::Flow2: operands = " r0, r1"; break;
        default:
          for (int i = 0; i < gxl::shader::OperandCount(c); ++i) operands += i ? ", r1" : " r0";
      }
      const std::string source = std::string(kVersions[p]) + "\n" + line + (c == AsmClass::None ? " r0" : operands);
      const AsmRun run = Assemble(source);
      if (c == AsmClass::None) {
        EXPECT_EQ(run.log, "(2): error X2000: syntax error : unexpected token '" + line + "'\n(2): error X2023: '" +
                               line + "' is not a valid instruction in this shader version\n")
            << source;
        continue;
      }
      ASSERT_EQ(run.hr, S_OK) << source << run.log;
      std::string text, error;
      ASSERT_TRUE(nura::shtok::Disassemble(run.tokens.data(), run.tokens.size(), &text, &error)) << source << error;
      EXPECT_EQ(Assemble(text).tokens, run.tokens) << source << "\n" << text;
    }
  }
}

TEST(GxlShaderAsmTables, InstructionSuffixes) {
  ExpectRows({
      {"ps_1_1 mul_x2 r0, r0, r0", "00000005 810F0000 80E40000 80E40000", ""},
      {"vs_1_1 mul_x2 r0, r0, r0", nullptr,
       "(1): error X2000: syntax error : unexpected token 'mul_x2'\n"
       "(1): error X2024: invalid instruction modifiers 'mul_x2'\n"},
      {"ps_1_1 mul_x2_sat r0, r0, r0", "00000005 811F0000 80E40000 80E40000", ""},
      {"ps_1_1 mul_sat_x2 r0, r0, r0", nullptr,
       "(1): error X2000: syntax error : unexpected token 'mul_sat_x2'\n"
       "(1): error X2024: invalid instruction modifiers 'mul_sat_x2'\n"},
      {"ps_1_4 mul_d8 r0, r0, r0", "00000005 8D0F0000 80E40000 80E40000", ""},
      {"vs_3_0 mov_sat r0, r0", "02000001 801F0000 80E40000", ""},
      {"vs_2_x mov_sat r0, r0", nullptr,
       "(1): error X2000: syntax error : unexpected token 'mov_sat'\n"
       "(1): error X2024: invalid instruction modifiers 'mov_sat'\n"},
      {"ps_2_0 mov_sat_pp r0, r0", "02000001 803F0000 80E40000", ""},
      {"vs_1_1 dcl v0", nullptr,
       "(1): error X2000: syntax error : unexpected token 'dcl'\n(1): error X2024: invalid instruction modifiers "
       "'dcl'\n"},
      {"vs_3_0 dcl_2d s0", "0200001F 90000000 A00F0800", ""},
      {"ps_2_0 dcl_2d_pp s0", "0200001F 90000000 A02F0800", ""},
      {"ps_2_0 dcl_cube s0", "0200001F 98000000 A00F0800", ""},
      {"ps_2_0 dcl_centroid t0", "0200001F 80000000 B04F0000", ""},
      {"ps_3_0 dcl_texcoord7_centroid v1.xy", "0200001F 80070005 90430001", ""},
      {"ps_3_0 dcl_normal v1", "0200001F 80000003 900F0001", ""},
      {"vs_2_x if_gt r0.x, r1.x", "02010029 80000000 80000001", ""},
      {"vs_2_x break_ne r0.x, r1.x", "0205002D 80000000 80000001", ""},
      {"vs_2_x setp_le p0, r0, r1", "0306005E B00F1000 80E40000 80E40001", ""},
      {"vs_2_0 if_gt r0.x, r1.x", nullptr,
       "(1): error X2000: syntax error : unexpected token 'if_gt'\n"
       "(1): error X2024: invalid instruction modifiers 'if_gt'\n"},
      {"vs_2_x setp p0, r0, r1", nullptr,
       "(1): error X2000: syntax error : unexpected token 'setp'\n(1): error X2024: invalid instruction modifiers "
       "'setp'\n"},
      {"ps_2_0 texldp r0, t0, s0", "03010042 800F0000 B0E40000 A0E40800", ""},
      {"ps_3_0 texldb r0, v0, s0", "03020042 800F0000 90E40000 A0E40800", ""},
      {"ps_1_4 texld r0, t0", "00000042 800F0000 B0E40000", ""},
      {"ps_1_3 tex t0", "00000042 B00F0000", ""},
      {"ps_1_4 phase", "0000FFFD", ""},
      {"ps_1_4 tex t0", nullptr,
       "(1): error X2000: syntax error : unexpected token 'tex'\n"
       "(1): error X2023: 'tex' is not a valid instruction in this shader version\n"},
  });
}

TEST(GxlShaderAsmTables, RegistersModifiersMasksAndSwizzles) {
  ExpectRows({
      {"vs_1_1 mov r0, c8191", "00000001 800F0000 D0E40FFF", ""},
      {"vs_2_0 mov r0, c2047", "02000001 800F0000 A0E407FF", ""},
      {"vs_2_0 mov r0, c2048", "02000001 800F0000 B0E40800", ""},
      {"vs_2_0 mov r0, c4095", "02000001 800F0000 B0E40FFF", ""},
      {"vs_2_0 mov r0, c4096", "02000001 800F0000 C0E40800", ""},
      {"vs_2_0 mov r0, c8192", nullptr, "(1): error X2005: invalid register 'c8192'\n"},
      {"ps_2_0 mov r0, c32", nullptr, "(1): error X2005: invalid register 'c32'\n"},
      {"ps_2_sw mov r0, c[1]", nullptr, "(1): error X2005: invalid register 'c[1]'\n"},
      {"vs_1_1 mov oPos0, r0", nullptr, "(1): error X2005: invalid register 'oPos0'\n"},
      {"ps_3_0 mov r0, a0", nullptr, "(1): error X2005: invalid register 'a0'\n"},
      {"vs_1_1 mov r0, c[a0.x + 2]", "00000001 800F0000 A0E42002", ""},
      {"vs_2_0 mov r0, c[a0.y + 3]", "03000001 800F0000 A0E42003 B0550000", ""},
      {"vs_3_0 mov o[aL + 1], v[aL]", "04000001 E00F2001 F0E40800 90E42000 F0E40800", ""},
      {"vs_1_1 mov r0, c[a0.y]", nullptr,
       "(1): error X2007: only a0.x is allowed as a relative address register in vs_1_1\n"},
      {"vs_2_0 mov r0, c[a0.x + a0.y]", nullptr,
       "(1): error X2009: only one address register reference allowed in a relative address expression\n"},
      {"vs_2_0 mov r0, r0[a0.x]", nullptr, "(1): error X2005: invalid register 'r0[...]'\n"},
      {"vs_3_0 mov r0, r0_abs", "02000001 800F0000 8BE40000", ""},
      {"vs_3_0 mov r0, -r0_abs", "02000001 800F0000 8CE40000", ""},
      {"vs_2_0 mov r0, r0_abs", nullptr, "(1): error X2005: invalid register 'r0_abs'\n"},
      {"ps_1_1 mov r0, r0_bias_bx2", nullptr, "(1): error X2005: invalid register 'r0_bias_bx2'\n"},
      {"ps_1_1 mov r0, -t0_bx2", "00000001 800F0000 B5E40000", ""},
      {"ps_1_1 mov r0, 1-t0", "00000001 800F0000 B6E40000", ""},
      {"ps_1_1 mov r0, 2-t0", nullptr, "(1): error X2010: invalid complement expression\n"},
      {"vs_1_1 mov r0, 1-r1", nullptr, "(1): error X2029: complement is not supported in this shader version\n"},
      {"ps_1_1 mov r0, 1-t0_bx2", nullptr, "(1): error X2012: complement cannot be used with other modifiers\n"},
      {"ps_1_4 mov r0, -r1_dz", nullptr, "(1): error X2011: negate and divide modifiers cannot be combined\n"},
      {"ps_1_4 mov r0, !r1_bias", nullptr, "(1): error X2018: not cannot be used with other modifiers\n"},
      {"vs_2_0 sub r0, r1, -r2", "03000002 800F0000 80E40001 80E40002", ""},
      {"ps_2_0 sub r0, r1, r2", "03000002 800F0000 80E40001 81E40002", ""},
      {"vs_3_0 sub r0, r1, -r2_abs", "03000002 800F0000 80E40001 8BE40002", ""},
      {"vs_2_0 sub r0, r1, !r2", nullptr, "(1): error X2013: source modifiers incompatible with SUB instruction\n"},
      {"ps_1_1 mov r0_bx2, r1", nullptr,
       "(1): error X2014: source modifiers are not allowed on destination parameters\n"},
      {"vs_2_0 mov r0.yx, r1", nullptr, "(1): error X2003: invalid mask 'yx'\n"},
      {"vs_2_0 mov r0.xx, r1", nullptr, "(1): error X2003: invalid mask 'xx'\n"},
      {"vs_2_0 mov r0.xw, r1.xyzwx", nullptr, "(1): error X2004: invalid swizzle 'xyzwx'\n"},
      {"vs_2_0 mov r0.rga, r1.xy", "02000001 800B0000 80540001", ""},
      {"vs_2_0 mov r0, b0.x", nullptr, "(1): error X2022: scalar registers cannot be swizzled\n"},
      {"ps_2_0 mov oDepth.x, r0", nullptr, "(1): error X2022: scalar registers cannot be masked\n"},
      {"vs_1_1 m3x3 r0, v0, c0\nm3x2 r1, v0, c4\nm3x3 r2.x, v0, c0",
       "00000017 80070000 90E40000 A0E40000 00000018 80030001 90E40000 A0E40004 00000017 80010002 90E40000 A0E40000",
       ""},
  });
}

TEST(GxlShaderAsmTables, CoissueAndPredication) {
  ExpectRows({
      {"ps_1_4 mul r0.xyz, r0, r1\n+mov r0.w, r1", "00000005 80070000 80E40000 80E40001 40000001 80080000 80E40001",
       ""},
      {"vs_2_0 +mov r0, r1", nullptr,
       "(1): error X2027: instruction coissue is not supported in this shader version\n"},
      {"vs_2_x (p0.x) mov r0, r1", "13000001 800F0000 B0001000 80E40001", ""},
      {"ps_3_0 (!p0.y) break", "1100002C BD551000", ""},
      {"vs_2_0 (p0) mov r0, r1", nullptr,
       "(1): error X2005: invalid register 'p0'\n"
       "(1): error X2028: instruction predication is not supported in this shader version\n"
       "(1): error X2021: predicates are not supported in this shader version\n"},
      {"vs_2_x (-p0) mov r0, r1", nullptr, "(1): error X2019: source modifiers are not allowed on predicates\n"},
      {"vs_2_x (p0[a0.x]) mov r0, r1", nullptr,
       "(1): error X2005: invalid register 'p0[...]'\n"
       "(1): error X2020: relative addressing of predicates is not supported in this shader version\n"},
      {"vs_2_0 mov c[a0.x], r0", nullptr,
       "(1): error X2008: relative addressing of destination parameters is not supported in this shader version\n"},
      {"vs_3_0 mov r0, c[v[aL].x]", nullptr,
       "(1): error X2009: only one address register reference is allowed in a relative address expression\n"},
  });
}

TEST(GxlShaderAsmTables, VersionsAndStatements) {
  std::string sum = "vs_2_0 mov r0, c[1";
  for (int i = 0; i < 600; ++i) sum += "+1";  // each term one more entry on the parser's stack
  sum += "]";
  ExpectRows({
      {sum.c_str(), nullptr, "(1): yacc stack overflow\n"},
      {"vs_2_0\nmov r0, r1\n#error stop here\nmov r2, r3", nullptr, "(3): error: stop here\n"},
      {"vs_1_0", "", "(1): warning X2015: vs_1_0 is no longer supported; using vs_1_1\n"},
      {"ps.1.0\nnop", "00000000", "(1): warning X2015: ps_1_0 is no longer supported; using ps_1_1\n"},
      {"mov r0, r1", nullptr, "(1): error X2001: shader version expected\n"},
      {"", nullptr, "(1): error X2001: shader version expected\n"},
      {"ps_2_a", nullptr, "(1): error X2001: shader version expected\n"},
      {"ps.1.1 ; comment\n\n  nop", "00000000", ""},
      {"vs_2_0 entrypoint main entrypoint other nop", "00000000", ""},
      {"vs_2_0\nmov r0, r1 r2\nmov r0, r1\nmov r0,", nullptr,
       "(2): error X2000: syntax error : unexpected token 'r2'\n(4): error X2000: syntax error : unexpected end of "
       "file\n"},
      {"vs_2_0 mov r0, r1 vs.2.0", nullptr, "(1): error X2000: syntax error : unexpected version token\n"},
      {"vs_2_0 def c0, 1, -2, +0.5, 3e2", "05000051 A00F0000 3F800000 C0000000 3F000000 43960000", ""},
      {"vs_2_0 def c0, 4294967295, -1e39, 1e39, 0", "05000051 A00F0000 4F800000 FF800000 7F800000 00000000", ""},
      {"vs_2_0 defi i1, -1, +2, 3, 4", "05000030 F00F0001 FFFFFFFF 00000002 00000003 00000004", ""},
      {"ps_2_0 defb b3, false", "0200002F E00F0803 00000000", ""},
  });
}

// Sums, register numbers and usage indexes that pass 32 bits, and offsets past
// the count with an address register, are refused instead of wrapping; an
// integer constant with the suffix l is stored like any other.
TEST(GxlShaderAsmFaults, OverflowsAndOffsetsAreInvalid) {
  ExpectRows({
      {"vs_1_1 mov r0, c4294967296", nullptr, "(1): error X2005: invalid register 'c4294967296'\n"},
      {"vs_2_0 mov r0, c[4294967295 + 1]", nullptr, "(1): error X2005: invalid register 'c[4294967295]'\n"},
      {"vs_1_1 mov r0, c[a0.x + 9000]", nullptr, "(1): error X2005: invalid register 'c[...]'\n"},
      {"vs_2_0 mov r0, c4000[a0.x + 4192]", nullptr, "(1): error X2005: invalid register 'c4000[...]'\n"},
      {"vs_2_0 mov r0, c4000[a0.x + 4191]", "03000001 800F0000 D0E42FFF B0000000", ""},
      {"vs_1_1 dcl_color4294967301 v0", nullptr,
       "(1): error X2000: syntax error : unexpected token 'dcl_color4294967301'\n"
       "(1): error X2024: invalid instruction modifiers 'dcl_color4294967301'\n"},
      {"vs_2_0 defi i0, 5l, -6l, 7u, 8", "05000030 F00F0000 00000005 FFFFFFFA 00000007 00000008", ""},
  });
}

TEST(GxlShaderAsmTables, UsageNames) {
  struct UsageRow {
    const char* text;
    HRESULT hr;
    DWORD usage, index;
  };
  for (const UsageRow& row : std::initializer_list<UsageRow>{{"SPECULAR", S_OK, 10, 1},
                                                             {"diffuse", S_OK, 10, 0},
                                                             {"texcoord15", S_OK, 5, 15},
                                                             {"TEXCOORD16", E_FAIL, 0, 0},
                                                             {"TEXCOORD4294967301", E_FAIL, 0, 0},
                                                             {"Sample", S_OK, 13, 0},
                                                             {"9", E_FAIL, 0, 0},
                                                             {"ABCDEFGHIJKLMNOPQRSTU", E_FAIL, 0, 0}}) {
    DWORD usage = 99, index = 99;
    EXPECT_EQ(gxl::shader::ParseUsageName(row.text, &usage, &index), row.hr) << row.text;
    if (row.hr == S_OK) {
      EXPECT_EQ(usage * 100 + index, row.usage * 100 + row.index) << row.text;
    }
  }
  EXPECT_STREQ(gxl::shader::UsageName(9), "POSITIONT");
  EXPECT_STREQ(gxl::shader::UsageName(14), "UNKNOWN");
}

// Every register name at the last number its version counts and at the count.
TEST(GxlShaderAsmTables, RegisterCountsAtTheirBounds) {
  for (int p = 0; p < gxl::shader::kAsmProfileCount; ++p) {
    for (const gxl::shader::AsmRegisterRow& row : gxl::shader::AssemblerRegisterTable) {
      const std::int32_t cell = row.counts[p];
      if (cell == gxl::shader::kAbsentRegister) {
        EXPECT_NE(Assemble(std::string(kVersions[p]) + " mov r0, " + row.name + "0").hr, S_OK) << row.name;
        continue;
      }
      const std::int32_t n = cell & gxl::shader::kCountMask;
      const std::string head = std::string(kVersions[p]) + " mov r0, " + row.name;
      if (n == 0) {
        EXPECT_EQ(Assemble(head).hr, S_OK) << head;
        EXPECT_NE(Assemble(head + "0").hr, S_OK) << head;
        continue;
      }
      EXPECT_EQ(Assemble(head + std::to_string(n - 1)).hr, S_OK) << head << n - 1;
      EXPECT_EQ(Assemble(head + std::to_string(n)).hr, GXLERR_INVALIDDATA) << head << n;
      const bool relative = cell & gxl::shader::kRelativeCount;
      EXPECT_EQ(Assemble(head + "[" + std::to_string(n - 1) + "]").hr, relative ? S_OK : GXLERR_INVALIDDATA) << head;
      EXPECT_EQ(Assemble(head + "[" + std::to_string(n) + "]").hr, GXLERR_INVALIDDATA) << head;
    }
  }
}

// The irrlicht assembly files (dotted versions, CRLF, Latin-1 comments, ";"
// glued to operands) assemble without a message; the validator accepts the
// Direct3D 9 files and rejects the one that never declares its inputs.
TEST(GxlShaderAsmCorpus, IrrlichtFiles) {
  int files = 0;
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles()) {
    if (!file.assembly || file.path.find("/irrlicht/") == std::string::npos) continue;
    ++files;
    std::ifstream in(file.path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const AsmRun unvalidated = Assemble(text.str());
    EXPECT_EQ(unvalidated.hr, S_OK) << file.path;
    EXPECT_EQ(unvalidated.log, "") << file.path;
    const std::string name = file.path.substr(file.path.rfind('/') + 1);
    const AsmRun validated = Assemble(text.str(), 0);
    if (name == "d3d8.vsh") {
      EXPECT_EQ(validated.hr, GXLERR_INVALIDDATA);
      EXPECT_NE(validated.log.find("error X50"), std::string::npos) << validated.log;
    } else if (name.rfind("d3d9", 0) == 0 || name.rfind("D3D9_", 0) == 0) {
      EXPECT_EQ(validated.hr, S_OK) << name << validated.log;
      EXPECT_EQ(validated.tokens, unvalidated.tokens) << name;
    }
  }
  NURA_REQUIRE_OUTSIDE_INPUT(files != 0, "the shader corpus");
  EXPECT_EQ(files, 10);
}

}  // namespace

// Assembly fragments and the assembler's comment blocks: symbolic register
// names numbered by the assembler, constants resolved through a stand-in of
// the parser's lookup, the "FINF" block read field by field, and the "DBUG"
// line records checked against the instruction offsets found by walking the
// finished stream.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "asm_run.h"
#include "block_reader.h"
#include "gxl/shader/assembler/shader_assembler.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/core/constant_binder.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/result_codes.h"
#include "platform/src/d3d9/shader_tokens.h"
#include "tests/support/test_util.h"
#include "tree_kit.h"

namespace {

using namespace shadertest;
using gxl::ComRef;
using gxl::shader::ConstantBinder;
using gxl::shader::ConstantLookup;
using gxl::shader::MessageLog;
using gxl::shader::MessageSeverity;

// The parser's side of the binder: variables by name; messages into the run's log.
struct FakeLookup : ConstantLookup {
  std::map<std::string, const DeclarationNode*> variables;
  MessageLog* log = nullptr;
  const DeclarationNode* FindVariable(const char* name) override {
    const auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second;
  }
  void ReportBinderMessage(const SourceToken* at, MessageSeverity severity, std::uint32_t code,
                           const char* text) override {
    log->Report(at, severity, code, "%s", text);
  }
};

AsmRun Fragment(const std::string& text, FakeLookup* lookup, DWORD flags = kAssembleSkipValidation) {
  gxl::shader::ShaderPreprocessor pp;
  HRESULT hr = pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr);
  ComRef<DataBuffer> code, messages;
  if (SUCCEEDED(hr)) {
    lookup->log = &pp.Log();
    ConstantBinder binder(lookup);
    gxl::shader::ShaderAssembler assembler;
    hr = assembler.Assemble(&pp, flags, &binder, code.Put());
  }
  if (SUCCEEDED(hr) && pp.Log().ErrorCount()) hr = GXLERR_INVALIDDATA;
  pp.Log().JoinMessages(messages.Put());
  return ToAsmRun(hr, SUCCEEDED(hr) ? code.Get() : nullptr, messages.Get());
}

struct FinfEntry {
  std::string name;
  std::uint16_t set, reg, count, binding;
  std::uint32_t type, defaultValue;
};

std::vector<FinfEntry> Entries(const Payload& finf) {
  std::vector<FinfEntry> out;
  for (std::uint32_t i = 0; i < finf.U32(12); ++i) {
    const std::size_t at = finf.U32(16) + 20 * i;
    out.push_back({finf.Text(finf.U32(at)), finf.U16(at + 4), finf.U16(at + 6), finf.U16(at + 8), finf.U16(at + 10),
                   finf.U32(at + 12), finf.U32(at + 16)});
  }
  return out;
}

std::vector<std::string> Names(const std::vector<FinfEntry>& entries) {
  std::vector<std::string> names;
  for (const FinfEntry& e : entries) names.push_back(e.name);
  return names;
}

// The operand tokens of the instructions, by walking the stream with the
// platform's own splitter: {instruction byte offset, tokens after it}.
struct Walked {
  std::vector<std::size_t> offsets;
  std::vector<std::vector<std::uint32_t>> operands;
};
Walked Walk(const std::vector<std::uint32_t>& tokens) {
  Walked w;
  platform::shader::Version v;
  // Fragment versions have bit 31 cleared; the stream is otherwise that version's.
  if (tokens.empty() || !platform::shader::ParseVersion(tokens[0] | 0x80000000u, &v)) return w;
  for (std::size_t pos = 1; pos < tokens.size();) {
    const platform::shader::Item item = platform::shader::ReadItem(tokens.data(), tokens.size(), pos, v);
    if (item.kind == platform::shader::ItemKind::kInstruction) {
      w.offsets.push_back(pos * 4);
      w.operands.emplace_back(tokens.begin() + pos + 1, tokens.begin() + item.next);
    } else if (item.kind != platform::shader::ItemKind::kComment) {
      break;
    }
    pos = item.next;
  }
  return w;
}

struct GxlAsmFragment : ::testing::Test {
  TreePool trees;
  FakeLookup lookup;
};

TEST_F(GxlAsmFragment, NoSymbolicNamesNoFragmentInfo) {
  const AsmRun run = Fragment("vs_2_0\nnop\n", &lookup);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(run.tokens[0], 0x7FFE0200u);
  EXPECT_FALSE(LeadingBlock(run.tokens, gxl::shader::kTagFragmentInfo).found);
}

TEST_F(GxlAsmFragment, NamesResolveToNumberedRegisters) {
  struct Case {
    const char* source;
    std::vector<std::uint32_t> firstOperands;  // of the first instruction
    const char* message;                       // expected in the log, or null
  };
  // Register tokens: type bits | number, with the default mask or swizzle.
  auto reg = [](std::uint32_t type, std::uint32_t n, std::uint32_t mask) {
    return 0x80000000u | (type & 7) << 28 | ((type >> 3) & 3) << 11 | n | mask;
  };
  const std::uint32_t dst = 0xF0000, src = 0xE40000;
  const Case cases[] = {
      {"ps_2_0\nmov r_a, v_texcoord2\n", {reg(0, 0, dst), reg(3, 2, src)}, nullptr},
      {"ps_2_0\nmov r_a, v_color1\n", {reg(0, 0, dst), reg(1, 1, src)}, nullptr},
      {"ps_2_0\nmov r_a, v_normal\n", {}, "error X2005: Invalid pixel shader input register 'v_normal' specified"},
      {"vs_2_0\nmov r_x, v_position\nadd R_X, r_x, v_normal\nmov r_y, R_x\n",
       {reg(0, 0, dst), reg(1, 0, src)},
       nullptr},
      {"vs_2_0\nmov r_a, v_bogus\n", {}, "error X2005: Invalid input register 'v_bogus' specified"},
      {"vs_2_0\nmov o_position, v_position\n",
       {},
       "error X2005: 'o_position' is not a valid register name.  Registers must start with v_, r_, c_, b_, or i_ "
       "depending on the register type. (o_ for vs_3_0 only)"},
      {"vs_3_0\nmov o_position, v_position\n", {reg(6, 0, dst), reg(1, 0, src)}, nullptr},
      {"vs_2_0\nmov r_a, v_\n", {}, "error X2005: invalid register, input, or constant name 'v_'"},
      {"vs_2_0\nmov r_a, c_missing\n",
       {},
       "error X2005: constant register 'c_missing' must be defined as a variable 'missing'"},
      {"vs_2_0\nmov r_a, v_position[a0.x]\n",
       {},
       "error X2005: addressing operations are not allowed on input registers 'v_position'"},
  };
  for (const Case& c : cases) {
    const AsmRun run = Fragment(c.source, &lookup);
    if (c.message) {
      EXPECT_EQ(run.hr, GXLERR_INVALIDDATA) << c.source;
      EXPECT_NE(run.log.find(c.message), std::string::npos) << c.source << "\n" << run.log;
      continue;
    }
    ASSERT_EQ(run.hr, S_OK) << c.source << "\n" << run.log;
    const Walked w = Walk(run.tokens);
    ASSERT_FALSE(w.operands.empty()) << c.source;
    EXPECT_EQ(w.operands[0], c.firstOperands) << c.source;
  }
  // One temporary name in any case is one register: r_y gets r1.
  const AsmRun run = Fragment("vs_2_0\nmov r_x, v_position\nadd R_X, r_x, v_normal\nmov r_y, R_x\n", &lookup);
  const Walked w = Walk(run.tokens);
  ASSERT_EQ(w.operands.size(), 3u);
  EXPECT_EQ(w.operands[1][0] & 0x7FF, 0u);
  EXPECT_EQ(w.operands[1][2] & 0x7FF, 1u);  // v_normal: the second input
  EXPECT_EQ(w.operands[2][0] & 0x7FF, 1u);
}

TEST_F(GxlAsmFragment, ConstantsTakeTheirVariablesRegisters) {
  lookup.variables["world"] = Variable("world", Type(kMatrix, kFloat, 4, 4));
  lookup.variables["tint"] = Variable("tint", Type(kVector, kFloat, 1, 4));
  const AsmRun run = Fragment(
      "vs_2_0\nm4x4 r_p, v_position, c_world\nmov r_q, c_world[3]\nmov r_r, c_tint\nmov r_s, c_world[a0.x + 2]\n",
      &lookup);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const Walked w = Walk(run.tokens);
  ASSERT_EQ(w.operands.size(), 4u);
  EXPECT_EQ(w.operands[1][1] & 0x7FF, 3u);  // c_world is c0-c3
  EXPECT_EQ(w.operands[2][1] & 0x7FF, 4u);  // c_tint follows it
  EXPECT_EQ(w.operands[3][1] & 0x7FF, 2u);
  EXPECT_TRUE(w.operands[3][1] & 0x2000);  // relative through a0.x

  const AsmRun past = Fragment("vs_2_0\nmov r_q, c_world[4]\n", &lookup);
  EXPECT_EQ(past.hr, GXLERR_INVALIDDATA);
  EXPECT_NE(
      past.log.find("error X2005: constant register address out of bounds on constant 'c_world', size 4, offset 4"),
      std::string::npos)
      << past.log;
}

TEST_F(GxlAsmFragment, BoolAndIntRegistersNeedTheirTypes) {
  lookup.variables["on"] = Variable("on", Type(kScalar, kBool, 1, 1));
  lookup.variables["off"] = Variable("off", Type(kScalar, kFloat, 1, 1));
  lookup.variables["loops"] = Variable("loops", Type(kVector, kInt, 1, 3));
  lookup.variables["pair"] = Variable("pair", Type(kVector, kInt, 1, 2));
  struct Case {
    const char* source;
    const char* message;
  };
  const Case cases[] = {
      {"vs_2_x\nif b_on\nmov r_a, v_position\nendif\nloop aL, i_loops\nmov r_b, v_position\nendloop\n", nullptr},
      {"vs_2_x\nif b_off\nendif\n",
       "error X2900: boolean constant register 'b_off' must be defined as a variable of type bool only"},
      {"vs_2_x\nloop aL, i_pair\nendloop\n",
       "error X2901: integer constant register 'i_pair' must be defined as a variable of type int3 or int4 only"},
  };
  for (const Case& c : cases) {
    const AsmRun run = Fragment(c.source, &lookup);
    if (!c.message) {
      EXPECT_EQ(run.hr, S_OK) << c.source << "\n" << run.log;
      continue;
    }
    EXPECT_EQ(run.hr, GXLERR_INVALIDDATA) << c.source;
    EXPECT_NE(run.log.find(c.message), std::string::npos) << run.log;
  }
}

TEST_F(GxlAsmFragment, FragmentInfoDescribesEveryName) {
  lookup.variables["light"] = Variable("light", Type(kVector, kFloat, 1, 4), Literal({F(1), F(2), F(3), F(4)}), 0x40,
                                       Bindings({Register("vs_2_0", "c12"), Register(nullptr, "c3")}));
  lookup.variables["on"] = Variable("on", Type(kScalar, kBool, 1, 1));
  lookup.variables["light2"] = Variable("light2", Type(kScalar, kBool, 1, 1), nullptr, 0x2);
  const AsmRun run = Fragment(
      "vs_2_x\nif b_light2\nmov r_color, c_light\nendif\nmov r_a, v_color\nif b_on\nmov oPos, r_color\nendif\n"
      "mov r_z, v_position\n",
      &lookup);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const Payload finf = LeadingBlock(run.tokens, gxl::shader::kTagFragmentInfo);
  ASSERT_TRUE(finf.found);
  EXPECT_EQ(finf.U32(0), 28u);
  EXPECT_EQ(finf.Text(finf.U32(4)), "GXL Shader Assembler 5.04.00.3900");
  EXPECT_EQ(finf.U32(8), 0u);
  EXPECT_EQ(finf.U32(16), 28u);
  EXPECT_EQ(finf.U32(20), 0x2u | 0x4u);
  EXPECT_EQ(finf.U32(24), 0u);
  const std::vector<FinfEntry> e = Entries(finf);
  // Constants by variable name (b_ before c_ for one name); the other names by their whole text.
  EXPECT_EQ(Names(e), (std::vector<std::string>{"c_light", "b_light2", "b_on", "r_a", "r_color", "r_z", "v_color",
                                                "v_position"}));
  ASSERT_EQ(e.size(), 8u);
  EXPECT_EQ(e[0].set, 2u);
  EXPECT_EQ(e[0].count, 1u);
  EXPECT_EQ(e[0].binding, 12u << 2 | 2);  // the annotation for this profile
  ASSERT_NE(e[0].defaultValue, 0u);
  EXPECT_EQ(finf.F32(e[0].defaultValue + 8), 3.0f);
  EXPECT_EQ(finf.U16(e[0].type), 1u);  // vector
  EXPECT_EQ(e[1].set, 0u);
  EXPECT_EQ(e[1].binding, 1u);  // static: a default of zeros
  EXPECT_EQ(finf.U32(e[1].defaultValue), 0u);
  EXPECT_EQ(e[2].binding, 0u);
  EXPECT_EQ(e[2].defaultValue, 0u);
  for (std::size_t i = 3; i < e.size(); ++i) {
    EXPECT_EQ(e[i].set, 2u) << e[i].name;
    EXPECT_EQ(e[i].count, 1u) << e[i].name;
    EXPECT_EQ(e[i].type, e[3].type) << e[i].name;  // one shared float4 record
    EXPECT_EQ(e[i].defaultValue, 0u) << e[i].name;
  }
  EXPECT_EQ(finf.U16(e[3].type), 1u);
  EXPECT_EQ(finf.U16(e[3].type + 2), 3u);
  EXPECT_EQ(finf.U16(e[3].type + 6), 4u);
  EXPECT_EQ(e[3].reg, 1u);  // r_a, the second temporary
  EXPECT_EQ(e[6].reg, 0u);  // v_color, the first input
}

TEST_F(GxlAsmFragment, BinderRefusals) {
  lookup.variables["far"] =
      Variable("far", Type(kVector, kFloat, 1, 4), nullptr, 0x40, Bindings({Register(nullptr, "c9000")}));
  lookup.variables["any"] = Variable("any", Type(kObject, kSampler, 1, 1));
  struct Case {
    const char* source;
    const char* message;
  };
  for (const Case& c :
       {Case{"vs_2_0\nmov r_a, c_far\n",
             "error X2902: Constant variable 'c_far' bound to register greater than 8191 (9000 requested)"},
        Case{"ps_2_0\ntexld r_a, v_texcoord0, s_any\n",
             "error X2905: Sampler variable 's_any' does not specify the sampler type.  Explicit "
             "sampler types required for asm fragments."}}) {
    const AsmRun run = Fragment(c.source, &lookup);
    EXPECT_NE(run.hr, S_OK) << c.source;
    EXPECT_NE(run.log.find(c.message), std::string::npos) << run.log;
  }
}

TEST_F(GxlAsmFragment, OversizedFragmentInfoFailsTheRun) {
  std::string source = "vs_2_0\n";
  for (int i = 0; i < 600; ++i) source += "mov r_" + std::string(240, 'q') + std::to_string(i) + ", v_position\n";
  const AsmRun run = Fragment(source, &lookup);
  EXPECT_EQ(run.hr, E_FAIL);
  EXPECT_NE(run.log.find("error X2031: fragment info exceeds maximum comment size"), std::string::npos);
}

TEST_F(GxlAsmFragment, DebugInformationOfAMemorySource) {
  const std::string text = "vs_2_0\nentrypoint main\nmov r0, v0\n\nadd r1, r0, c2\nmov oPos, r1\n";
  const AsmRun run = Assemble(text, kAssembleSkipValidation | kAssembleDebugInfo);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const Payload dbug = LeadingBlock(run.tokens, gxl::shader::kTagDebugInfo);
  ASSERT_TRUE(dbug.found);
  EXPECT_EQ(dbug.U32(0), 40u);
  EXPECT_EQ(dbug.Text(dbug.U32(4)), "GXL Shader Assembler 5.04.00.3900");
  EXPECT_EQ(dbug.Text(dbug.U32(8)), text.substr(0, dbug.Text(dbug.U32(8)).size()));
  EXPECT_GE(dbug.Text(dbug.U32(8)).size(), text.size() - 1);
  EXPECT_EQ(dbug.U32(12), 0u);  // no file names
  EXPECT_EQ(dbug.U32(28), 0u);
  EXPECT_EQ(dbug.U32(32), 0u);
  EXPECT_EQ(dbug.Text(dbug.U32(36)), "main");
  const Walked w = Walk(run.tokens);
  ASSERT_EQ(dbug.U32(20), 3u);
  ASSERT_EQ(w.offsets.size(), 3u);
  const std::uint16_t lines[] = {3, 5, 6};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t at = dbug.U32(24) + 8 * i;
    EXPECT_EQ(dbug.U16(at), lines[i]) << i;
    EXPECT_EQ(dbug.U16(at + 2), 0xFFFFu) << i;
    EXPECT_EQ(dbug.U32(at + 4), w.offsets[i]) << i;
  }
}

TEST_F(GxlAsmFragment, DebugInformationOfIncludedFiles) {
  nura::test::TempDir dir;
  nura::test::WriteFileText(dir / "b.inc", "add r2, r1, c2\nmov oPos, r2\n");
  nura::test::WriteFileText(dir / "a.inc", "mov r1, c1\n");
  nura::test::WriteFileText(dir / "main.vsh", "vs_2_0\nmov r0, c0\n#include \"a.inc\"\n#include \"b.inc\"\n");
  gxl::ComRef<DataBuffer> code, messages;
  const std::string path = dir / "main.vsh";
  const HRESULT hr = AssembleShaderFromFileA(path.c_str(), nullptr, nullptr,
                                             kAssembleSkipValidation | kAssembleDebugInfo, code.Put(), messages.Put());
  const AsmRun run = ToAsmRun(hr, code.Get(), messages.Get());
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const Payload dbug = LeadingBlock(run.tokens, gxl::shader::kTagDebugInfo);
  ASSERT_TRUE(dbug.found);
  EXPECT_EQ(dbug.U32(8), 0u);  // a source with a file name keeps no text
  // Met from the last instruction back: b.inc, a.inc, main.vsh.
  ASSERT_EQ(dbug.U32(12), 3u);
  const std::size_t files = dbug.U32(16);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < 3; ++i) names.push_back(dbug.Text(dbug.U32(files + 4 * i)));
  ASSERT_EQ(names.size(), 3u);
  EXPECT_NE(names[0].find("b.inc"), std::string::npos) << names[0];
  EXPECT_NE(names[1].find("a.inc"), std::string::npos) << names[1];
  EXPECT_NE(names[2].find("main.vsh"), std::string::npos) << names[2];
  const Walked w = Walk(run.tokens);
  ASSERT_EQ(dbug.U32(20), 4u);
  ASSERT_EQ(w.offsets.size(), 4u);
  const std::uint16_t lines[] = {2, 1, 1, 2}, fileIndex[] = {2, 1, 0, 0};
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t at = dbug.U32(24) + 8 * i;
    EXPECT_EQ(dbug.U16(at), lines[i]) << i;
    EXPECT_EQ(dbug.U16(at + 2), fileIndex[i]) << i;
    EXPECT_EQ(dbug.U32(at + 4), w.offsets[i]) << i;
  }
}

TEST_F(GxlAsmFragment, FragmentAndDebugBlocksTogether) {
  lookup.variables["tint"] = Variable("tint", Type(kVector, kFloat, 1, 4));
  const AsmRun run =
      Fragment("vs_2_0\nmov r_a, c_tint\nmov oPos, r_a\n", &lookup, kAssembleSkipValidation | kAssembleDebugInfo);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(LeadingTags(run.tokens), (std::vector<std::string>{"DBUG", "FINF"}));
  const Payload dbug = LeadingBlock(run.tokens, gxl::shader::kTagDebugInfo);
  const Walked w = Walk(run.tokens);
  ASSERT_EQ(w.offsets.size(), 2u);
  ASSERT_EQ(dbug.U32(20), 2u);
  for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(dbug.U32(dbug.U32(24) + 8 * i + 4), w.offsets[i]) << i;
}

TEST_F(GxlAsmFragment, OversizedDebugInformationOnlyWarns) {
  // The kept source text alone passes 32768 dwords.
  const std::string text = "vs_2_0\n// " + std::string(140000, 'x') + "\nmov oPos, v0\n";
  const AsmRun run = Assemble(text, kAssembleSkipValidation | kAssembleDebugInfo);
  ASSERT_EQ(run.hr, S_OK) << run.log.substr(0, 200);
  EXPECT_NE(run.log.find("warning X2030: debug info exceeds maximum comment size; no debug info emitted"),
            std::string::npos)
      << run.log;
  EXPECT_TRUE(LeadingTags(run.tokens).empty());
  EXPECT_EQ(run.tokens.size(), 5u);
}

}  // namespace

// The binder over the HLSL parser's own lookup.
#include "gxl/shader/hlsl/hlsl_constant_lookup.h"
#include "hlsl_fixture.h"
#include "hlsl_parse_run.h"

namespace {

using GxlAsmFragmentLookup = shadertest::HlslTest;

TEST_F(GxlAsmFragmentLookup, FindsVariablesOfTheScopeAndAroundIt) {
  using namespace gxl::shader;
  ParseNode* tint = Declare("tint", Vec(kBaseFloat, 4), kUsageUniform);
  ASSERT_NE(tint, nullptr);
  ASSERT_NE(Function("shade", Vec(kBaseFloat, 4), {}, true), nullptr);
  ASSERT_EQ(parser.PushScope(kScopeBlock, nullptr), S_OK);
  ParseNode* local = Declare("local", Scalar(kBaseBool));
  HlslConstantLookup lookup(&parser, parser.CurrentScope());
  EXPECT_EQ(lookup.FindVariable("tint"), tint->first);
  EXPECT_EQ(lookup.FindVariable("local"), local->first);
  EXPECT_EQ(lookup.FindVariable("shade"), nullptr);  // a function
  EXPECT_EQ(lookup.FindVariable("missing"), nullptr);
  EXPECT_EQ(Log(), "<null>");  // lookups report nothing

  ConstantBinder binder(&lookup);
  std::uint32_t count = 9;
  EXPECT_EQ(binder.CheckRegisterType(nullptr, "c_tint", &count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(binder.CheckRegisterType(nullptr, "i_local", &count), E_FAIL);
  EXPECT_TRUE(parser.HasError());
  EXPECT_TRUE(
      Logged("error X2901: integer constant register 'i_local' must be defined as a variable of type int3 or "
             "int4 only"));
}

}  // namespace

namespace {

TEST(GxlAsmFragmentParse, FragmentBlocksDescribeTheirNames) {
  shadertest::ParseRun run(
      "float4 tint : register(vs_2_0, c7);\n"
      "vertexfragment f = asm_fragment { vs_2_0 mov r_a, c_tint mov oPos, r_a };\n"
      "vertexshader plain = asm { vs_2_0 mov oPos, c0 };\n");
  ASSERT_EQ(run.hr, S_OK) << run.log;
  // The code of a declaration's value: its only component, of sub-kind 5.
  auto code = [&](const char* name) {
    const auto* variable = gxl::shader::VariableDescription(run.Find(name));
    const auto* value = variable ? static_cast<const ParseNodeKind13*>(variable->nodes[2]) : nullptr;
    const auto* cell = value ? value->left : nullptr;
    const auto* leaf = cell ? static_cast<const ExpressionNode*>(cell->first) : nullptr;
    std::vector<std::uint32_t> tokens;
    if (leaf && leaf->value.subKind == 5) {
      const auto* words = static_cast<const std::uint32_t*>(leaf->value.address);
      tokens.assign(words, words + leaf->value.third / 4);
    }
    return tokens;
  };
  const std::vector<std::uint32_t> fragment = code("f");
  ASSERT_FALSE(fragment.empty());
  EXPECT_EQ(fragment[0], 0x7FFE0200u);
  const Payload finf = LeadingBlock(fragment, gxl::shader::kTagFragmentInfo);
  ASSERT_TRUE(finf.found);
  const std::vector<FinfEntry> entries = Entries(finf);
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"c_tint", "r_a"}));
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0].binding, 7u << 2 | 2);  // the declaration's register binding
  const std::vector<std::uint32_t> plain = code("plain");
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(plain[0], 0xFFFE0200u);
  EXPECT_TRUE(LeadingTags(plain).empty());

  shadertest::ParseRun missing("vertexfragment f = asm_fragment { vs_2_0 mov r_a, c_nothing };");
  EXPECT_NE(missing.hr, S_OK);
  EXPECT_NE(missing.log.find("error X2005: constant register 'c_nothing' must be defined as a variable 'nothing'"),
            std::string::npos)
      << missing.log;
}

}  // namespace

// The targets' comment blocks written from hand-built programs: "CTAB" read
// back through the constant table and through a reader of the byte layout,
// "FINF" in fragment mode, "PRES" from a stand-in preshader, and "DBUG",
// whose instruction offsets must land on the instruction tokens of the
// finished stream.
#include "gxl/shader/backend/targets/block_writers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../block_reader.h"
#include "../log_text.h"
#include "../tree_kit.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "ir_fixture.h"

namespace {

using namespace gxl::shader;
using namespace shadertest;
using gxl::ComRef;

constexpr DWORD kVs20 = 0xFFFE0200;
constexpr DWORD kEndToken = 0x0000FFFF;
// Two vs_2_0 instructions: mov r0, c0; mov oPos, r0.
const std::vector<DWORD> kBody = {0x02000001, 0x800F0000, 0xA0E40000, 0x02000001, 0xC00F0000, 0x80E40000};

struct Stream {
  PodArray<DWORD> tokens;
  std::uint32_t inserted = 0;
  std::size_t validated = 1;

  Stream() {
    tokens.Append(kVs20);
    tokens.Append(kBody.data(), kBody.size());
  }
  // The finished code: the tokens and the end token.
  std::vector<std::uint32_t> Code() const {
    std::vector<std::uint32_t> code(tokens.Data(), tokens.Data() + tokens.Size());
    code.push_back(kEndToken);
    return code;
  }
};

struct GxlCommentBlockWriters : irtest::IrFixture {
  TreePool trees;
  Stream stream;

  BlockTarget Target() {
    BlockTarget t;
    t.program = &program;
    t.tokens = &stream.tokens;
    t.insertedDwords = &stream.inserted;
    t.validatedCount = &stream.validated;
    t.profileVersion = kVs20;
    return t;
  }
  // The values of `registers` registers of a variable from register `first`
  // of a bank, four components each, as register binding leaves them.
  void Place(DeclarationNode* d, StandardBank bank, std::uint32_t first, std::uint32_t registers,
             std::uint32_t skipFirst = 0) {
    for (std::uint32_t r = skipFirst; r < registers; ++r)
      for (std::uint32_t c = 0; c < 4; ++c) {
        const std::uint32_t v = program.AddValue(Bank(bank), first + r, c, 0.0);
        ASSERT_NE(v, kNoIndex);
        program.Value(v)->declaration = d;
        program.Value(v)->variableOffset = r * 4 + c;
        program.Value(v)->variableComponent = r * 4 + c;
      }
  }
  ComRef<ConstantTable> Table(const std::vector<std::uint32_t>& code) {
    ComRef<ConstantTable> table;
    EXPECT_EQ(CreateShaderConstantTable(code.data(), table.Put()), S_OK);
    return table;
  }
};

ConstantDesc Describe(ConstantTable* table, const char* name) {
  ConstantDesc d{};
  UINT count = 1;
  EXPECT_EQ(table->DescribeConstants(name, &d, &count), S_OK) << name;
  return d;
}

TEST_F(GxlCommentBlockWriters, MatricesBoundToRegistersReadBack) {
  // float4x4 bound to c4-c7, stored by columns unless row-major.
  Place(Variable("world", Type(kMatrix, kFloat, 4, 4)), StandardBank::FloatConstants, 4, 4);
  Place(Variable("view", Type(kMatrix, kFloat, 4, 4, kRowMajor)), StandardBank::FloatConstants, 8, 4);
  ASSERT_EQ(WriteConstantTable(Target()), S_OK);
  const auto code = stream.Code();
  ComRef<ConstantTable> table = Table(code);
  ASSERT_TRUE(table);
  struct Expected {
    const char* name;
    UINT reg, typeClass;
  };
  for (const Expected& e : {Expected{"world", 4, 3}, Expected{"view", 8, 2}}) {
    const ConstantDesc d = Describe(table.Get(), e.name);
    EXPECT_STREQ(d.name, e.name);
    EXPECT_EQ(d.registerSet, 2u);
    EXPECT_EQ(d.registerIndex, e.reg);
    EXPECT_EQ(d.registerCount, 4u);
    EXPECT_EQ(d.typeClass, e.typeClass);
    EXPECT_EQ(d.type, 3u);
    EXPECT_EQ(d.rows, 4u);
    EXPECT_EQ(d.columns, 4u);
    EXPECT_EQ(d.elements, 1u);
    EXPECT_EQ(d.defaultValue, nullptr);
  }
  // Sorted by name; the header names the creator (offset 4) and the target.
  const Payload ctab = LeadingBlock(code, kTagConstantTable);
  ASSERT_TRUE(ctab.found);
  EXPECT_EQ(ctab.U32(0), 28u);
  EXPECT_EQ(ctab.Text(ctab.U32(4)), "GXL Shader Compiler 5.04.00.3900");
  EXPECT_EQ(ctab.U32(8), kVs20);
  EXPECT_EQ(ctab.U32(12), 2u);
  EXPECT_EQ(ctab.Text(ctab.U32(24)), "vs_2_0");
  EXPECT_EQ(ctab.Text(ctab.U32(ctab.U32(16))), "view");
  EXPECT_EQ(ctab.Text(ctab.U32(ctab.U32(16) + 20)), "world");
  // The stream grew by the block, and nothing of it awaits validation.
  EXPECT_EQ(stream.inserted, code.size() - 2 - kBody.size());
  EXPECT_EQ(stream.validated, stream.tokens.Size());
  EXPECT_EQ(std::vector<DWORD>(code.end() - 1 - kBody.size(), code.end() - 1), kBody);
}

TEST_F(GxlCommentBlockWriters, ProgramWithoutUniformsHasAnEmptyTable) {
  program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0);
  ASSERT_EQ(WriteConstantTable(Target()), S_OK);
  const Payload ctab = LeadingBlock(stream.Code(), kTagConstantTable);
  ASSERT_TRUE(ctab.found);
  EXPECT_EQ(ctab.U32(12), 0u);
  EXPECT_EQ(ctab.U32(16), 0u);
  EXPECT_EQ(ctab.U32(24), 28u);
  EXPECT_EQ(ctab.Text(28), "vs_2_0");
}

TEST_F(GxlCommentBlockWriters, SetsAndNamesOrderTheRecords) {
  // One name in the float and the bool bank, ordered by bank; a sampler; an int.
  DeclarationNode* flag = Variable("flag", Type(kScalar, kBool, 1, 1));
  Place(Variable("zeta", Type(kVector, kFloat, 1, 4)), StandardBank::FloatConstants, 0, 1);
  Place(flag, StandardBank::BoolConstants, 3, 1);
  Place(Variable("flag", Type(kScalar, kFloat, 1, 1)), StandardBank::FloatConstants, 1, 1);
  Place(Variable("tex", Type(kObject, kSampler2D, 1, 1)), StandardBank::Samplers, 2, 1);
  Place(Variable("loops", Type(kVector, kInt, 1, 4)), StandardBank::IntConstants, 1, 1);
  ASSERT_EQ(WriteConstantTable(Target()), S_OK);
  ComRef<ConstantTable> table = Table(stream.Code());
  ASSERT_TRUE(table);
  ConstantDesc d[2] = {};
  UINT count = 2;
  ASSERT_EQ(table->DescribeConstants("flag", d, &count), S_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(d[0].registerSet, 2u);
  EXPECT_EQ(d[0].registerIndex, 1u);
  EXPECT_EQ(d[1].registerSet, 0u);
  EXPECT_EQ(d[1].registerIndex, 3u);
  EXPECT_EQ(d[1].type, 1u);
  EXPECT_EQ(table->SamplerIndex("tex"), 2);
  EXPECT_EQ(Describe(table.Get(), "tex").type, 12u);
  EXPECT_EQ(Describe(table.Get(), "loops").registerSet, 1u);
  const char* order[] = {"flag", "flag", "loops", "tex", "zeta"};
  for (UINT i = 0; i < 5; ++i) {
    const ConstantDesc one = Describe(table.Get(), table->ConstantByIndex(nullptr, i));
    EXPECT_STREQ(one.name, order[i]) << i;
  }
}

TEST_F(GxlCommentBlockWriters, DefaultsFillTheRegistersTheTableWrites) {
  // A column-major float3x4 takes four registers of three rows: its default
  // is four registers, each a column. An int2 reads (5, 6, 1, 0); a bool 1.
  Place(Variable("m", Type(kMatrix, kFloat, 3, 4),
                 Literal({F(1), F(2), F(3), F(4), F(5), F(6), F(7), F(8), F(9), F(10), F(11), F(12)})),
        StandardBank::FloatConstants, 0, 4);
  Place(Variable("n", Type(kVector, kInt, 1, 2), Literal({I(5), I(6)})), StandardBank::IntConstants, 0, 1);
  Place(Variable("b", Type(kScalar, kBool, 1, 1), Literal({B(true)})), StandardBank::BoolConstants, 0, 1);
  Place(Variable("h", Type(kVector, kFloat, 1, 3), Literal({I(-2), F(0.5), B(true)})), StandardBank::FloatConstants, 4,
        1);
  ASSERT_EQ(WriteConstantTable(Target()), S_OK);
  ComRef<ConstantTable> table = Table(stream.Code());
  ASSERT_TRUE(table);
  struct Expected {
    const char* name;
    std::vector<std::uint32_t> words;
  };
  auto f = [](float x) {
    std::uint32_t w;
    std::memcpy(&w, &x, 4);
    return w;
  };
  const Expected expected[] = {
      {"m", {f(1), f(5), f(9), 0, f(2), f(6), f(10), 0, f(3), f(7), f(11), 0, f(4), f(8), f(12), 0}},
      {"n", {5, 6, 1, 0}},
      {"b", {1}},
      {"h", {f(-2), f(0.5), f(1), 0}},
  };
  for (const Expected& e : expected) {
    const ConstantDesc d = Describe(table.Get(), e.name);
    ASSERT_NE(d.defaultValue, nullptr) << e.name;
    std::vector<std::uint32_t> words(e.words.size());
    std::memcpy(words.data(), d.defaultValue, words.size() * 4);
    EXPECT_EQ(words, e.words) << e.name;
    EXPECT_EQ(d.registerCount * (d.registerSet == 0 ? 4 : 16), e.words.size() * 4) << e.name;
  }
}

TEST_F(GxlCommentBlockWriters, MarkingStopsAtTheBaseOfItsSet) {
  // A float value whose variable offset points below c0 must not take the
  // bool register in front of the float set.
  DeclarationNode* odd = Variable("odd", Type(kVector, kFloat, 1, 4));
  const std::uint32_t v = program.AddValue(Bank(StandardBank::FloatConstants), 1, 0, 0.0);
  program.Value(v)->declaration = odd;
  program.Value(v)->variableOffset = 12;
  Place(Variable("flag", Type(kScalar, kBool, 1, 1)), StandardBank::BoolConstants, 0, 1);
  ASSERT_EQ(WriteConstantTable(Target()), S_OK);
  ComRef<ConstantTable> table = Table(stream.Code());
  ASSERT_TRUE(table);
  EXPECT_EQ(Describe(table.Get(), "flag").registerSet, 0u);
  EXPECT_EQ(Describe(table.Get(), "odd").registerIndex, 0u);
  EXPECT_EQ(Describe(table.Get(), "odd").registerCount, 2u);
}

TEST_F(GxlCommentBlockWriters, FragmentModeWritesPrefixedNamesBindingsAndRegisterNames) {
  Place(Variable("light", Type(kVector, kFloat, 1, 4), Literal({F(1), F(2), F(3), F(4)}), 0x40,
                 Bindings({Register("vs_2_0", "c12"), Register(nullptr, "c3")})),
        StandardBank::FloatConstants, 0, 1);
  Place(Variable("on", Type(kScalar, kBool, 1, 1)), StandardBank::BoolConstants, 0, 1);
  RegisterNameTable temporaries;
  RegisterNameEntry* entry = nullptr;
  ASSERT_EQ(temporaries.Add("r_scratch", 3, 1, &entry), S_OK);
  entry->hasDefault = 1;
  entry->defaultValue[0] = 0x3F800000u;
  BlockTarget target = Target();
  target.fragmentMode = true;
  target.fragmentNames[1] = &temporaries;
  ASSERT_EQ(WriteConstantTable(target), S_OK);
  const Payload finf = LeadingBlock(stream.Code(), kTagFragmentInfo);
  ASSERT_TRUE(finf.found);
  ASSERT_EQ(finf.U32(12), 3u);
  const std::size_t records = finf.U32(16);
  struct Expected {
    const char* name;
    std::uint16_t set, reg, binding;
  };
  // Constants by variable name, then the register names.
  const Expected expected[] = {{"c_light", 2, 0, 12 << 2 | 2 | 1}, {"b_on", 0, 0, 0}, {"r_scratch", 2, 3, 1}};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t at = records + 20 * i;
    EXPECT_EQ(finf.Text(finf.U32(at)), expected[i].name) << i;
    EXPECT_EQ(finf.U16(at + 4), expected[i].set) << i;
    EXPECT_EQ(finf.U16(at + 6), expected[i].reg) << i;
    EXPECT_EQ(finf.U16(at + 8), 1u) << i;
    EXPECT_EQ(finf.U16(at + 10), expected[i].binding) << i;
  }
  // The register name: a float4 with its default.
  const std::size_t type = finf.U32(records + 40 + 12);
  EXPECT_EQ(finf.U16(type), 1u);
  EXPECT_EQ(finf.U16(type + 2), 3u);
  EXPECT_EQ(finf.U16(type + 6), 4u);
  EXPECT_EQ(finf.F32(finf.U32(records + 40 + 16)), 1.0f);
}

TEST_F(GxlCommentBlockWriters, BindingPastC8191FailsFragments) {
  Place(Variable("far", Type(kVector, kFloat, 1, 4), nullptr, 0x40, Bindings({Register(nullptr, "c8192")})),
        StandardBank::FloatConstants, 0, 1);
  BlockTarget target = Target();
  target.fragmentMode = true;
  EXPECT_EQ(WriteConstantTable(target), E_FAIL);
  EXPECT_NE(
      LogText(log).find("error X2902: Constant variable 'far' bound to register greater than 8191 (8192 requested)"),
      std::string::npos)
      << LogText(log);
  EXPECT_EQ(stream.tokens.Size(), 1 + kBody.size());
}

TEST_F(GxlCommentBlockWriters, OversizedTableFailsAndLeavesTheCode) {
  // 600 names of 250 characters pass 32768 dwords.
  static std::vector<std::string> names;
  names.clear();
  for (int i = 0; i < 600; ++i) names.push_back(std::string(246, 'a' + i % 26) + std::to_string(1000 + i));
  for (int i = 0; i < 600; ++i)
    Place(Variable(names[i].c_str(), Type(kVector, kFloat, 1, 4)), StandardBank::FloatConstants, i, 1);
  EXPECT_EQ(WriteConstantTable(Target()), E_FAIL);
  EXPECT_NE(LogText(log).find("error X4548: constant table info exceeds maximum comment size"), std::string::npos);
  EXPECT_EQ(stream.tokens.Size(), 1 + kBody.size());
  EXPECT_EQ(stream.inserted, 0u);
}

// A preshader that hands out prepared code, nothing, or a failure.
struct FakePreshader : PreshaderSource {
  HRESULT prepare = S_OK;
  HRESULT compile = S_OK;
  std::vector<DWORD> code;
  int prepared = 0;
  HRESULT PreparePreshader() override {
    ++prepared;
    return prepare;
  }
  HRESULT CompilePreshader(DataBuffer** out) override {
    if (compile != S_OK) return compile;
    HRESULT hr = CreateDataBuffer(static_cast<DWORD>(code.size() * 4), out);
    if (SUCCEEDED(hr)) std::memcpy((*out)->GetPointer(), code.data(), code.size() * 4);
    return hr;
  }
};

TEST_F(GxlCommentBlockWriters, PreshaderCodeBecomesThePresBlock) {
  FakePreshader pre;
  pre.code = {0x46580201, 0x0002FFFE, 0x4C494C43, 0, kEndToken};
  ASSERT_EQ(WritePreshader(Target(), &pre), S_OK);
  EXPECT_EQ(pre.prepared, 1);
  const Payload pres = LeadingBlock(stream.Code(), kTagPreshader);
  ASSERT_TRUE(pres.found);
  ASSERT_EQ(pres.bytes.size(), pre.code.size() * 4);
  EXPECT_EQ(std::memcmp(pres.bytes.data(), pre.code.data(), pres.bytes.size()), 0);

  struct Case {
    HRESULT prepare, compile, result;
  };
  for (const Case& c :
       {Case{S_OK, S_FALSE, S_OK}, Case{E_OUTOFMEMORY, S_OK, E_OUTOFMEMORY}, Case{S_OK, E_FAIL, E_FAIL}}) {
    Stream fresh;
    BlockTarget t = Target();
    t.tokens = &fresh.tokens;
    t.insertedDwords = &fresh.inserted;
    FakePreshader other;
    other.prepare = c.prepare;
    other.compile = c.compile;
    EXPECT_EQ(WritePreshader(t, &other), c.result);
    EXPECT_EQ(fresh.tokens.Size(), 1 + kBody.size());  // no block
  }
  FakePreshader huge;
  huge.code.assign(40000, 0);
  Stream fresh;
  BlockTarget t = Target();
  t.tokens = &fresh.tokens;
  EXPECT_EQ(WritePreshader(t, &huge), E_FAIL);
  EXPECT_NE(LogText(log).find("error X4548"), std::string::npos);
}

TEST_F(GxlCommentBlockWriters, DebugInformationPointsAtTheFinishedStream) {
  DeclarationNode* color = Variable("color", Type(kVector, kFloat, 1, 4));
  color->scopeText = "main";
  DeclarationNode* scale = Variable("scale", Type(kScalar, kFloat, 1, 1));
  // Instruction 0 writes color.xy, instruction 1 color.z and scale.
  auto value = [&](DeclarationNode* d, std::uint32_t component, std::uint32_t variableComponent) {
    const std::uint32_t v = program.AddValue(Bank(StandardBank::Temporaries), 0, component, 0.0);
    program.Value(v)->declaration = d;
    program.Value(v)->variableComponent = variableComponent;
    return v;
  };
  const std::uint32_t x = value(color, 0, 0), y = value(color, 1, 1), z = value(color, 2, 2), s = value(scale, 3, 0);
  const DebugLineRecord records[] = {{"a.fx", 7, 4, {x, y, kNoIndex, kNoIndex}},
                                     {"b.fx", 9, 16, {z, s, kNoIndex, kNoIndex}}};
  ASSERT_EQ(program.SetEntryName("main"), S_OK);

  // The order of a compile: preshader, constant table, debug information.
  Place(Variable("tint", Type(kVector, kFloat, 1, 4)), StandardBank::FloatConstants, 0, 1);
  FakePreshader pre;
  pre.code = {0x46580201, kEndToken};
  BlockTarget target = Target();
  target.debugRecords = records;
  target.debugRecordCount = 2;
  ASSERT_EQ(WritePreshader(target, &pre), S_OK);
  ASSERT_EQ(WriteConstantTable(target), S_OK);
  ASSERT_EQ(WriteDebugInfo(target), S_OK);
  const auto code = stream.Code();
  EXPECT_EQ(LeadingTags(code), (std::vector<std::string>{"DBUG", "CTAB", "PRES"}));

  const Payload dbug = LeadingBlock(code, kTagDebugInfo);
  ASSERT_TRUE(dbug.found);
  EXPECT_EQ(dbug.U32(0), 40u);
  EXPECT_EQ(dbug.Text(dbug.U32(4)), "GXL Shader Compiler 5.04.00.3900");
  EXPECT_EQ(dbug.U32(8), 0u);  // no source text
  ASSERT_EQ(dbug.U32(12), 2u);
  EXPECT_EQ(dbug.Text(dbug.U32(dbug.U32(16))), "a.fx");
  EXPECT_EQ(dbug.Text(dbug.U32(dbug.U32(16) + 4)), "b.fx");
  ASSERT_EQ(dbug.U32(20), 2u);
  const std::size_t lines = dbug.U32(24);
  const DWORD expectedTokens[] = {kBody[0], kBody[3]};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(dbug.U16(lines + 8 * i), i ? 9u : 7u);
    EXPECT_EQ(dbug.U16(lines + 8 * i + 2), i);
    const std::uint32_t offset = dbug.U32(lines + 8 * i + 4);
    ASSERT_EQ(offset % 4, 0u);
    ASSERT_LT(offset / 4, code.size());
    EXPECT_EQ(code[offset / 4], expectedTokens[i]) << i;
  }
  EXPECT_EQ(dbug.Text(dbug.U32(36)), "main");

  // Variables by scope text, then name: scale (no scope), then color.
  ASSERT_EQ(dbug.U32(28), 2u);
  const std::size_t vars = dbug.U32(32);
  EXPECT_EQ(dbug.U32(vars), 0u);
  EXPECT_EQ(dbug.Text(dbug.U32(vars + 4)), "scale");
  EXPECT_EQ(dbug.U32(dbug.U32(vars + 16)), 1u);          // written by instruction 1
  EXPECT_EQ(dbug.U16(dbug.U32(vars + 16) + 4 + 6), 0u);  // in component w
  EXPECT_EQ(dbug.Text(dbug.U32(vars + 20)), "main");
  EXPECT_EQ(dbug.Text(dbug.U32(vars + 24)), "color");
  EXPECT_EQ(dbug.U16(dbug.U32(vars + 28)), 1u);  // a vector type record
  ASSERT_EQ(dbug.U32(vars + 32), 2u);
  const std::size_t writes = dbug.U32(vars + 36);
  const std::uint16_t none = 0xFFFF;
  const std::uint16_t w0[] = {0, 1, none, none}, w1[] = {none, none, 2, none};
  EXPECT_EQ(dbug.U32(writes), 0u);
  EXPECT_EQ(dbug.U32(writes + 12), 1u);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(dbug.U16(writes + 4 + 2 * k), w0[k]) << k;
    EXPECT_EQ(dbug.U16(writes + 12 + 4 + 2 * k), w1[k]) << k;
  }
}

TEST_F(GxlCommentBlockWriters, OversizedDebugInformationIsDropped) {
  static std::vector<std::string> files;
  files.clear();
  std::vector<DebugLineRecord> records;
  for (int i = 0; i < 600; ++i) files.push_back(std::string(240, 'f') + std::to_string(i));
  for (int i = 0; i < 600; ++i)
    records.push_back({files[i].c_str(), 1, 4, {kNoIndex, kNoIndex, kNoIndex, kNoIndex}});
  BlockTarget target = Target();
  target.debugRecords = records.data();
  target.debugRecordCount = static_cast<std::uint32_t>(records.size());
  EXPECT_EQ(WriteDebugInfo(target), S_OK);
  EXPECT_NE(LogText(log).find("warning X4547: debug info exceeds maximum comment size; no debug info emitted"),
            std::string::npos)
      << LogText(log);
  EXPECT_EQ(stream.tokens.Size(), 1 + kBody.size());
}

}  // namespace

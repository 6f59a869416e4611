#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "d3d9/shader_tokens.h"
#include "d3d9/shader_validator.h"
#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "tests/support/shader/goldens.h"

namespace {

namespace ps = platform::shader;
using nura::shtok::Tokens;

struct Message {
  std::string file;
  int line;
  DWORD type, number;
  std::string text;
};

HRESULT Collect(const char* file, int line, DWORD type, DWORD number, const char* text, void* context) {
  static_cast<std::vector<Message>*>(context)->push_back({file, line, type, number, text});
  return S_OK;
}

PFN_Direct3DShaderValidatorCreate9 Export() {
  HMODULE d3d9 = GetModuleHandleA("d3d9.dll");
  return d3d9 ? reinterpret_cast<PFN_Direct3DShaderValidatorCreate9>(
                    GetProcAddress(d3d9, "Direct3DShaderValidatorCreate9"))
              : nullptr;
}

struct Verdict {
  HRESULT hr;
  std::vector<Message> messages;
  bool Has(DWORD number) const {
    for (const Message& m : messages)
      if (m.number == number) return true;
    return false;
  }
};

// Feeds the stream one token group per item, as the shader tools do, or as
// one group.
Verdict Validate(const std::vector<std::uint32_t>& words, bool perItem = true) {
  Verdict v;
  ShaderValidator9* validator = Export()();
  validator->Begin(&Collect, &v.messages, 0);
  std::size_t pos = 0;
  int line = 1;
  ps::Version version;
  if (perItem && !words.empty() && ps::ParseVersion(words[0], &version)) {
    validator->Instruction("shader.asm", line++, words.data(), 1);
    for (pos = 1; pos < words.size();) {
      const ps::Item item = ps::ReadItem(words.data(), words.size(), pos, version);
      if (item.kind == ps::ItemKind::kError || item.kind == ps::ItemKind::kIncomplete) break;
      validator->Instruction("shader.asm", line++, words.data() + pos, static_cast<DWORD>(item.next - pos));
      pos = item.next;
    }
  }
  if (pos < words.size())
    validator->Instruction("shader.asm", line, words.data() + pos, static_cast<DWORD>(words.size() - pos));
  v.hr = validator->End();
  validator->Release();
  return v;
}

std::string Describe(const Verdict& v) {
  std::string s;
  for (const Message& m : v.messages) s += " [" + std::to_string(m.number) + " " + m.text + "]";
  return s;
}

TEST(ShTokValidate, ExportedByDefaultAndReplaceable) {
  ASSERT_NE(Export(), nullptr);
  platform::test::RemoveExport("d3d9.dll", "Direct3DShaderValidatorCreate9");
  EXPECT_EQ(Export(), nullptr);
  platform::test::ResetAll();
  EXPECT_NE(Export(), nullptr);
  static auto fake = []() -> ShaderValidator9* { return nullptr; };
  platform::test::RegisterExport("d3d9.dll", "Direct3DShaderValidatorCreate9",
                                 reinterpret_cast<platform::test::ExportFn>(+fake));
  EXPECT_EQ(Export()(), nullptr);
}

TEST(ShTokValidate, AcceptsEveryGolden) {
  for (const nura::shtok::Golden& g : nura::shtok::Goldens()) {
    for (const bool perItem : {true, false}) {
      const Verdict v = Validate(Tokens(g.tokens), perItem);
      EXPECT_EQ(v.hr, S_OK) << g.name << Describe(v);
    }
  }
}

TEST(ShTokValidate, RejectsOneStreamPerRule) {
  struct Case {
    const char* name;
    const char* tokens;
    DWORD number;
  } cases[] = {
      {"unknown version", "FFFE0102 0000FFFF", ps::kMsgVersion},
      {"length 0 in vs_2_0", "FFFE0200 00000001 800F0000 A0E40000 0000FFFF", ps::kMsgFraming},
      {"parameter without bit 31", "FFFE0101 00000001 800F0000 20E40000 0000FFFF", ps::kMsgFraming},
      {"unknown opcode", "FFFE0200 00000032 0000FFFF", ps::kMsgFraming},
      {"r12 in vs_2_0", "FFFE0200 02000001 800F000C A0E40000 0000FFFF", ps::kMsgRegisterIndex},
      {"c32 in ps_2_0", "FFFF0200 02000001 800F0000 A0E40020 02000001 800F0800 80E40000 0000FFFF",
       ps::kMsgRegisterIndex},
      {"texld in vs_2_0", "FFFE0200 03000042 800F0000 A0E40000 A0E40800 0000FFFF", ps::kMsgOpcode},
      {"endif without if", "FFFE0200 0000002B 0000FFFF", ps::kMsgFlow},
      {"break outside a loop", "FFFE0201 0000002C 0000FFFF", ps::kMsgFlow},
      {"label before ret", "FFFE0200 0100001E A0E41000 0000001C 0000FFFF", ps::kMsgFlow},
      {"two end tokens", "FFFE0200 0000FFFF 0000FFFF", ps::kMsgEndToken},
      {"tokens after the end", "FFFE0200 0000FFFF 00000000", ps::kMsgEndToken},
      {"missing end token", "FFFE0101 00000001 800F0000 A0E40000", ps::kMsgEndToken},
      {"comment past the end", "FFFE0101 0005FFFE 00000001 00000002", ps::kMsgTruncated},
      {"undeclared input", "FFFE0101 00000001 C00F0000 90E40000 0000FFFF", ps::kMsgUndeclared},
      {"undeclared sampler",
       "FFFF0200 0200001F 80000000 B00F0000 03000042 800F0000 B0E40000 A0E40800 0000FFFF", ps::kMsgUndeclared},
      {"undeclared vs_3_0 output", "FFFE0300 02000001 E00F0000 A0E40000 0000FFFF", ps::kMsgUndeclared},
      {"malformed dcl token", "FFFF0200 0200001F 80000005 B00F0000 0000FFFF", ps::kMsgDeclaration},
      {"empty write mask", "FFFE0200 02000001 80000000 A0E40000 0000FFFF", ps::kMsgWriteMask},
      {"mask on oFog", "FFFE0101 00000001 C0010001 A0E40000 0000FFFF", ps::kMsgWriteMask},
      {"swizzle on b#", "FFFE0200 01000028 E0550800 0000002B 0000FFFF", ps::kMsgSwizzle},
      {"abs in vs_2_0", "FFFE0200 02000001 800F0000 ABE40000 0000FFFF", ps::kMsgSourceModifier},
      {"_sat in vs_2_0", "FFFE0200 02000001 801F0000 A0E40000 0000FFFF", ps::kMsgResultModifier},
      {"shift in ps_2_0", "FFFF0200 02000001 810F0800 A0E40000 0000FFFF", ps::kMsgResultModifier},
      {"relative constant in ps_3_0 outside a loop", "FFFF0300 03000001 800F0800 A0E42000 F0E40800 0000FFFF",
       ps::kMsgRelative},
      {"relative temporary in ps_3_0",
       "FFFF0300 05000030 F00F0000 00000004 00000000 00000001 00000000 0200001B F0E40800 F0E40000 "
       "03000001 800F0000 80E42001 F0E40800 0000001D 0000FFFF",
       ps::kMsgRelative},
      {"relative through r0", "FFFE0200 03000001 800F0000 A0E42000 80000000 0000FFFF", ps::kMsgRelative},
      {"dcl after code", "FFFE0200 02000001 800F0000 A0E40000 0200001F 80000000 900F0000 0000FFFF",
       ps::kMsgOrder},
      {"loops nested twice in vs_2_0",
       "FFFE0200 0200001B F0E40800 F0E40000 0200001B F0E40800 F0E40000 0000001D 0000001D 0000FFFF",
       ps::kMsgNesting},
      {"call to an undefined label", "FFFE0200 01000019 A0E41003 0000FFFF", ps::kMsgLabel},
      {"recursion",
       "FFFE0200 01000019 A0E41000 0000001C 0100001E A0E41000 01000019 A0E41000 0000001C 0000FFFF",
       ps::kMsgLabel},
      {"predication in vs_2_0", "FFFE0200 13000001 800F0000 B0001000 A0E40000 0000FFFF", ps::kMsgPredicate},
      {"bit 28 on a def in ps_2_x", "FFFF0201 15000051 A00F0000 3F800000 00000000 00000000 3F800000 0000FFFF",
       ps::kMsgPredicate},
      {"co-issue in vs_1_1", "FFFE0101 40000001 800F0000 A0E40000 0000FFFF", ps::kMsgCoissue},
      {"crs onto its source", "FFFE0200 03000021 80070000 80E40000 80E40001 0000FFFF", ps::kMsgAlias},
      {"two constants in vs_1_1", "FFFE0101 00000002 800F0000 A0E40000 A0E40001 0000FFFF", ps::kMsgReadPorts},
  };
  for (const Case& c : cases) {
    const Verdict v = Validate(Tokens(c.tokens));
    EXPECT_EQ(v.hr, E_FAIL) << c.name;
    EXPECT_TRUE(v.Has(c.number)) << c.name << ":" << Describe(v);
    for (const Message& m : v.messages) EXPECT_EQ(m.type, ps::kValidatorMessageType);
  }
}

// ps_3_0 reads constants through aL inside a loop, as vs_3_0 does.
TEST(ShTokValidate, Ps30ConstantsIndexedByTheLoopCounter) {
  const Verdict v = Validate(Tokens(
      "FFFF0300 05000030 F00F0000 00000004 00000000 00000001 00000000 0200001B F0E40800 F0E40000 "
      "03000001 800F0000 A0E42002 F0E40800 0000001D 02000001 800F0800 80E40000 0000FFFF"));
  EXPECT_EQ(v.hr, S_OK) << Describe(v);
}

std::vector<std::uint32_t> Repeat(std::uint32_t version, const char* instruction, int times,
                                  const char* prologue = "") {
  std::vector<std::uint32_t> words = {version};
  const std::vector<std::uint32_t> head = Tokens(prologue), body = Tokens(instruction);
  words.insert(words.end(), head.begin(), head.end());
  for (int i = 0; i < times; ++i) words.insert(words.end(), body.begin(), body.end());
  words.push_back(0x0000FFFF);
  return words;
}

TEST(ShTokValidate, InstructionSlotLimits) {
  struct Case {
    std::uint32_t version;
    const char* instruction;
    int fits;
    const char* prologue;
  } cases[] = {
      {0xFFFE0101, "00000001 800F0000 A0E40000", 128, ""},
      {0xFFFE0200, "02000001 800F0000 A0E40000", 256, ""},
      {0xFFFE0101, "0000000E 800F0000 A0FF0000", 12, ""},  // exp costs 10 in vs_1_1
      {0xFFFF0200, "03000005 800F0000 A0E40000 A0E40000", 64, ""},
      {0xFFFF0200, "03000042 800F0000 B0E40000 A0E40800", 32, "0200001F 80000000 B00F0000 0200001F 90000000 A00F0800"},
      {0xFFFF0201, "13000001 800F0000 B0E41000 A0E40000", 256, ""},  // predication costs one more
      {0xFFFF0101, "00000005 800F0000 B0E40000 B0E40000", 8, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Validate(Repeat(c.version, c.instruction, c.fits, c.prologue)).hr, S_OK) << c.instruction;
    const Verdict over = Validate(Repeat(c.version, c.instruction, c.fits + 1, c.prologue));
    EXPECT_TRUE(over.Has(ps::kMsgSlots)) << c.instruction << Describe(over);
  }
}

TEST(ShTokValidate, MessagesCarryTheFeedingPosition) {
  ShaderValidator9* validator = Export()();
  std::vector<Message> messages;
  const std::vector<std::uint32_t> words =
      Tokens("FFFE0200 02000001 800F0000 A0E40000 02000001 800F000C A0E40000 0000FFFF");
  EXPECT_EQ(validator->Instruction("a.vsh", 1, words.data(), 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(validator->Begin(&Collect, &messages, 0), S_OK);
  EXPECT_EQ(validator->Instruction("a.vsh", 1, words.data(), 1), S_OK);
  // An instruction split over two feeds is checked when it is complete.
  EXPECT_EQ(validator->Instruction("a.vsh", 2, words.data() + 1, 2), S_OK);
  EXPECT_EQ(validator->Instruction("a.vsh", 2, words.data() + 3, 1), S_OK);
  EXPECT_EQ(validator->Instruction("b.inc", 7, words.data() + 4, 3), E_FAIL);
  EXPECT_EQ(validator->Instruction("a.vsh", 9, words.data() + 7, 1), S_OK);
  EXPECT_EQ(validator->End(), E_FAIL);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].file, "b.inc");
  EXPECT_EQ(messages[0].line, 7);
  EXPECT_EQ(messages[0].type, 2u);
  EXPECT_EQ(messages[0].number, ps::kMsgRegisterIndex);
  EXPECT_EQ(messages[0].text, "r12 is out of range in vs_2_0");
  EXPECT_EQ(validator->End(), D3DERR_INVALIDCALL);
  validator->Release();
}

// The register files' sizes of every version, from the token format's tables:
// the last register of each file is accepted and the one after it refused.
TEST(ShTokValidate, RegisterFileSizesOfEveryVersion) {
  enum Use { kRead, kWrite, kAddress, kSampler, kDeclared, kBool, kInt, kCounter, kPredicate };
  struct File {
    int type;
    int count;
    Use use;
  };
  constexpr int kTemp = 0, kInput = 1, kConst = 2, kAddr = 3, kRast = 4, kAttr = 5, kOut = 6, kIntConst = 7,
                kColorOut = 8, kDepth = 9, kSamplerReg = 10, kBoolConst = 14, kLoop = 15, kMisc = 17, kPred = 19;
  const std::vector<File> vs11 = {{kTemp, 12, kRead}, {kInput, 16, kRead}, {kAddr, 1, kAddress},
                                  {kRast, 3, kWrite}, {kAttr, 2, kWrite},  {kOut, 8, kWrite}};
  std::vector<File> vs20 = vs11;
  vs20.insert(vs20.end(), {{kBoolConst, 16, kBool}, {kIntConst, 16, kInt}, {kLoop, 1, kCounter}});
  std::vector<File> vs2x = vs20;
  vs2x[0].count = 32;
  vs2x.push_back({kPred, 1, kPredicate});
  const std::vector<File> vs30 = {{kTemp, 32, kRead},       {kInput, 16, kRead},     {kAddr, 1, kAddress},
                                  {kBoolConst, 16, kBool},  {kIntConst, 16, kInt},   {kLoop, 1, kCounter},
                                  {kPred, 1, kPredicate},        {kSamplerReg, 4, kSampler}, {kOut, 12, kWrite}};
  // The software profile: 16 samplers, 2048 boolean and integer constants, 16 outputs.
  std::vector<File> vs3sw = vs30;
  vs3sw[3].count = vs3sw[4].count = 2048;
  vs3sw[7].count = vs3sw[8].count = 16;
  const std::vector<File> ps11 = {{kConst, 8, kRead}, {kTemp, 2, kRead}, {kAddr, 4, kRead}, {kInput, 2, kRead}};
  const std::vector<File> ps14 = {{kConst, 8, kRead}, {kTemp, 6, kRead}, {kAddr, 6, kRead}, {kInput, 2, kRead}};
  const std::vector<File> ps20 = {{kInput, 2, kRead},       {kAddr, 8, kRead},      {kConst, 32, kRead},
                                  {kSamplerReg, 16, kSampler}, {kTemp, 12, kRead},  {kColorOut, 4, kWrite},
                                  {kDepth, 1, kWrite}};
  std::vector<File> ps2x = ps20;
  ps2x[4].count = 32;
  ps2x.insert(ps2x.end(), {{kIntConst, 16, kInt}, {kBoolConst, 16, kBool}, {kPred, 1, kPredicate}});
  const std::vector<File> ps30 = {{kInput, 10, kRead},     {kTemp, 32, kRead},    {kConst, 224, kRead},
                                  {kIntConst, 16, kInt},   {kBoolConst, 16, kBool}, {kPred, 1, kPredicate},
                                  {kSamplerReg, 16, kSampler}, {kMisc, 2, kDeclared}, {kLoop, 1, kCounter},
                                  {kColorOut, 4, kWrite},  {kDepth, 1, kWrite}};
  const struct {
    std::uint32_t version;
    const std::vector<File>* files;
  } versions[] = {{0xFFFE0101, &vs11}, {0xFFFE0200, &vs20}, {0xFFFE0201, &vs2x}, {0xFFFE0300, &vs30}, {0xFFFE03FF, &vs3sw},
                  {0xFFFF0101, &ps11}, {0xFFFF0102, &ps11}, {0xFFFF0103, &ps11}, {0xFFFF0104, &ps14},
                  {0xFFFF0200, &ps20}, {0xFFFF0201, &ps2x}, {0xFFFF0300, &ps30}};
  for (const auto& v : versions) {
    const bool old = (v.version & 0xFFFF) < 0x200;
    const std::uint32_t c0 = 0xA0E40000, r0 = 0x800F0000;
    for (const File& f : *v.files) {
      for (int number : {f.count - 1, f.count}) {
        if (number > 0x7FF) continue;  // past what the token's 11 bits can name
        const std::uint32_t reg = 0x80000000u | (f.type & 7u) << 28 | ((f.type >> 3) & 3u) << 11 | number;
        std::vector<std::uint32_t> words = {v.version};
        auto op = [&](std::uint32_t code, std::initializer_list<std::uint32_t> params) {
          words.push_back(code | (old ? 0 : static_cast<std::uint32_t>(params.size()) << 24));
          words.insert(words.end(), params);
        };
        switch (f.use) {
          case kRead: op(1, {r0, reg | 0x00E40000}); break;
          case kWrite: op(1, {reg | 0x000F0000, old && v.version >> 16 == 0xFFFF ? 0xB0E40000 : c0}); break;
          case kSampler: op(31, {0x90000000, reg | 0x000F0000}); break;
          case kBool: op(40, {reg}); op(43, {}); break;
          case kInt: op(38, {reg | 0x00E40000}); op(39, {}); break;
          case kDeclared: op(31, {0x80000000, reg | 0x000F0000}); break;
          case kAddress: op(old ? 1 : 46, {reg | 0x00010000, c0}); break;
          case kCounter:
            op(27, {0xF0E40800, 0xF0E40000});
            op(1, {r0, reg | 0x00E40000});
            op(29, {});
            break;
          case kPredicate:
            words.push_back(0x13000001);
            words.insert(words.end(), {r0, reg | 0x00E40000, c0});
            break;
        }
        words.push_back(0x0000FFFF);
        const Verdict verdict = Validate(words);
        bool refused = verdict.Has(ps::kMsgRegisterIndex);
        for (const Message& m : verdict.messages) refused = refused || m.text.find("does not exist") != std::string::npos;
        if (f.use == kPredicate) refused = refused || verdict.Has(ps::kMsgPredicate);
        EXPECT_EQ(refused, number == f.count)
            << std::hex << v.version << std::dec << " type " << f.type << " number " << number << Describe(verdict);
      }
    }
  }
}

// Streams the ps_1_x stage rules refuse carry the rule's number; the others
// in the table are accepted with no message.
void ExpectVerdicts(const char* test, const std::vector<std::pair<const char*, const char*>>& accepted,
                    const std::vector<std::tuple<const char*, const char*, DWORD>>& refused) {
  for (const auto& [name, tokens] : accepted) {
    const Verdict v = Validate(Tokens(tokens));
    EXPECT_EQ(v.hr, S_OK) << test << ": " << name << Describe(v);
  }
  for (const auto& [name, tokens, number] : refused) {
    const Verdict v = Validate(Tokens(tokens));
    EXPECT_EQ(v.hr, E_FAIL) << test << ": " << name;
    EXPECT_TRUE(v.Has(number)) << test << ": " << name << Describe(v);
  }
}

TEST(ShTokValidate, Ps1TextureRowsOnConsecutiveStagesFromOneEarlierRegister) {
  ExpectVerdicts(
      "rows",
      {
          {"texm3x2", "FFFF0101 00000042 B00F0000 00000047 B00F0001 B0E40000 00000048 B00F0002 B0E40000 0000FFFF"},
          {"texm3x3spec after two pads",
           "FFFF0101 00000042 B00F0000 00000049 B00F0001 B4E40000 00000049 B00F0002 B4E40000 "
           "0000004C B00F0003 B4E40000 A0E40000 0000FFFF"},
          {"texm3x2depth", "FFFF0103 00000042 B00F0000 00000047 B00F0001 B0E40000 00000054 B00F0002 B0E40000 0000FFFF"},
          {"texreg2ar from an earlier stage", "FFFF0101 00000042 B00F0001 00000045 B00F0002 B0E40001 0000FFFF"},
          {"two texbem reading one register",
           "FFFF0101 00000042 B00F0000 00000043 B00F0001 B0E40000 00000043 B00F0002 B0E40000 0000FFFF"},
          {"_bx2 on texdp3 in ps_1_2", "FFFF0102 00000042 B00F0000 00000055 B00F0001 B4E40000 0000FFFF"},
      },
      {
          {"final row without pads", "FFFF0101 00000042 B00F0000 00000048 B00F0002 B0E40000 0000FFFF",
           ps::kMsgTextureStage},
          {"pad at the end", "FFFF0101 00000042 B00F0000 00000047 B00F0001 B0E40000 0000FFFF", ps::kMsgTextureStage},
          {"another instruction between the rows",
           "FFFF0101 00000042 B00F0000 00000047 B00F0001 B0E40000 00000042 B00F0003 00000048 B00F0002 B0E40000 "
           "0000FFFF",
           ps::kMsgTextureStage},
          {"rows on stages 1 and 3",
           "FFFF0101 00000042 B00F0000 00000047 B00F0001 B0E40000 00000048 B00F0003 B0E40000 0000FFFF",
           ps::kMsgTextureStage},
          {"rows reading t0 and t1",
           "FFFF0101 00000042 B00F0000 00000042 B00F0001 00000047 B00F0002 B0E40000 00000048 B00F0003 B0E40001 "
           "0000FFFF",
           ps::kMsgTextureStage},
          {"a texm3x2 final after a texm3x3 pad",
           "FFFF0101 00000042 B00F0000 00000049 B00F0001 B0E40000 00000048 B00F0002 B0E40000 0000FFFF",
           ps::kMsgTextureStage},
          {"texm3x3tex after one pad",
           "FFFF0101 00000042 B00F0000 00000049 B00F0001 B0E40000 0000004A B00F0002 B0E40000 0000FFFF",
           ps::kMsgTextureStage},
          {"source from a later stage", "FFFF0101 00000042 B00F0002 00000045 B00F0001 B0E40002 0000FFFF",
           ps::kMsgTextureStage},
          {"source from its own stage", "FFFF0102 00000042 B00F0000 00000055 B00F0001 B0E40001 0000FFFF",
           ps::kMsgTextureStage},
          {"source r0", "FFFF0101 00000045 B00F0001 80E40000 0000FFFF", ps::kMsgTextureStage},
          {"t0 read after texbem",
           "FFFF0101 00000042 B00F0000 00000043 B00F0001 B0E40000 00000001 800F0000 B0E40000 0000FFFF",
           ps::kMsgTextureStage},
          {"t2 read after texm3x2depth",
           "FFFF0103 00000042 B00F0000 00000047 B00F0001 B0E40000 00000054 B00F0002 B0E40000 00000001 800F0000 "
           "B0E40002 0000FFFF",
           ps::kMsgTextureStage},
          {"_bx2 on texreg2ar", "FFFF0102 00000042 B00F0000 00000045 B00F0001 B4E40000 0000FFFF",
           ps::kMsgSourceModifier},
          {"_bx2 on texbem", "FFFF0101 00000042 B00F0000 00000043 B00F0001 B4E40000 0000FFFF", ps::kMsgSourceModifier},
          {"_bias on a texm row",
           "FFFF0101 00000042 B00F0000 00000047 B00F0001 B2E40000 00000048 B00F0002 B2E40000 0000FFFF",
           ps::kMsgSourceModifier},
          {"a negated eye vector",
           "FFFF0101 00000042 B00F0000 00000049 B00F0001 B0E40000 00000049 B00F0002 B0E40000 0000004C B00F0003 "
           "B0E40000 A1E40000 0000FFFF",
           ps::kMsgSourceModifier},
      });
}

TEST(ShTokValidate, Ps14PhaseRulesAndCndCondition) {
  ExpectVerdicts(
      "phases",
      {
          {"v0 in a program without phase", "FFFF0104 00000001 800F0000 90E40000 0000FFFF"},
          {"v0, _dz, a dependent read and texkill of r# in phase two",
           "FFFF0104 00000040 80070000 B0E40000 0000FFFD 00000042 800F0001 89E40000 00000041 800F0000 "
           "00000001 800F0000 90E40000 0000FFFF"},
          {"bem in phase one",
           "FFFF0104 00000040 80070000 B0E40000 00000040 80070001 B0E40001 00000059 80030002 80E40000 80E40001 "
           "0000FFFD 00000001 800F0000 80E40002 0000FFFF"},
          {"texdepth r5 in phase two", "FFFF0104 00000001 800F0005 A0E40000 0000FFFD 00000057 800F0005 0000FFFF"},
          {"texld t# _dw", "FFFF0104 00000042 800F0000 BAE40000 0000FFFF"},
          {"cnd on r0.a", "FFFF0101 00000001 800F0000 A0E40000 00000050 800F0001 80FF0000 A0E40001 A0E40002 0000FFFF"},
          {"co-issued halves reading r0's other components",
           "FFFF0101 00000001 800F0000 A0E40000 00000005 80070000 80E40000 A0E40000 40000002 80080000 80FF0000 "
           "A0FF0000 0000FFFF"},
          {"co-issued dp3 beside a write of r0.a",
           "FFFF0101 00000001 800F0000 A0E40000 00000008 80070001 80E40000 A0E40000 40000001 80080000 A0FF0000 "
           "0000FFFF"},
          {"a co-issued pair reading three constants",
           "FFFF0101 00000005 80070000 A0E40000 A0E40001 40000002 80080000 A0E40002 A0E40001 0000FFFF"},
          {"cnd on any register in ps_1_4", "FFFF0104 00000050 800F0001 A0E40000 A0E40001 80E40000 0000FFFF"},
      },
      {
          {"v0 in phase one", "FFFF0104 00000001 800F0000 90E40000 0000FFFD 0000FFFF", ps::kMsgPhase},
          {"_dz and a dependent read in phase one",
           "FFFF0104 00000040 80070000 B0E40000 00000042 800F0001 89E40000 0000FFFD 0000FFFF", ps::kMsgPhase},
          {"a dependent read in phase one",
           "FFFF0104 00000042 800F0000 B0E40000 00000042 800F0001 80E40000 0000FFFD 0000FFFF", ps::kMsgPhase},
          {"texkill of r# in phase one", "FFFF0104 00000042 800F0000 B0E40000 00000041 800F0000 0000FFFD 0000FFFF",
           ps::kMsgPhase},
          {"texdepth in phase one", "FFFF0104 00000057 800F0005 0000FFFD 0000FFFF", ps::kMsgPhase},
          {"texdepth on r4", "FFFF0104 0000FFFD 00000057 800F0004 0000FFFF", ps::kMsgRegister},
          {"bem in phase two",
           "FFFF0104 0000FFFD 00000040 80070000 B0E40000 00000040 80070001 B0E40001 00000059 80030002 80E40000 "
           "80E40001 0000FFFF",
           ps::kMsgPhase},
          {"bem without phase",
           "FFFF0104 00000040 80070000 B0E40000 00000040 80070001 B0E40001 00000059 80030002 80E40000 80E40001 "
           "0000FFFF",
           ps::kMsgPhase},
          {"bem twice",
           "FFFF0104 00000040 80070000 B0E40000 00000040 80070001 B0E40001 00000059 80030002 80E40000 80E40001 "
           "00000059 80030003 80E40000 80E40001 0000FFFD 0000FFFF",
           ps::kMsgPhase},
          {"_dz on t#", "FFFF0104 00000042 800F0000 B9E40000 0000FFFF", ps::kMsgSourceModifier},
          {"_dw on r#", "FFFF0104 00000040 80070000 B0E40000 0000FFFD 00000042 800F0001 8AE40000 0000FFFF",
           ps::kMsgSourceModifier},
          {"_dz three times",
           "FFFF0104 00000040 80070000 B0E40000 0000FFFD 00000042 800F0001 89E40000 00000042 800F0002 89E40000 "
           "00000042 800F0003 89E40000 0000FFFF",
           ps::kMsgSourceModifier},
          {"texcrd from r#", "FFFF0104 00000040 80070000 B0E40000 0000FFFD 00000040 80070001 80E40000 0000FFFF",
           ps::kMsgRegister},
          {"a range modifier on c# in ps_1_4", "FFFF0104 00000001 800F0000 A4E40000 0000FFFF", ps::kMsgSourceModifier},
          {"a co-issued half reading the alpha the other writes",
           "FFFF0101 00000001 800F0000 A0E40000 00000001 80070000 80FF0000 40000001 80080000 A0FF0000 0000FFFF",
           ps::kMsgCoissue},
          {"a co-issued pair reading four constants",
           "FFFF0101 00000005 80070000 A0E40000 A0E40001 40000002 80080000 A0E40002 A0E40003 0000FFFF",
           ps::kMsgReadPorts},
          {"a co-issued pair reading four temporaries in ps_1_4",
           "FFFF0104 00000005 80070000 80E40002 80E40003 40000002 80080001 80E40004 80E40005 0000FFFF",
           ps::kMsgReadPorts},
          {"an alpha half reading r0.b that its co-issued dp3 writes",
           "FFFF0101 00000001 800F0000 A0E40000 00000008 80070000 80E40000 A0E40000 40000001 80080000 80AA0000 "
           "0000FFFF",
           ps::kMsgCoissue},
          {"cnd on r1.a in ps_1_1",
           "FFFF0101 00000001 800F0001 A0E40000 00000050 800F0000 80FF0001 A0E40001 A0E40002 0000FFFF",
           ps::kMsgRegister},
          {"cnd on r0 unswizzled in ps_1_2",
           "FFFF0102 00000001 800F0000 A0E40000 00000050 800F0001 80E40000 A0E40001 A0E40002 0000FFFF",
           ps::kMsgRegister},
      });
}

}  // namespace

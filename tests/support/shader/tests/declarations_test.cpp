#include <gtest/gtest.h>

#include "tests/support/shader/goldens.h"
#include "tests/support/shader/interp.h"

namespace nura::shtok {
namespace {

constexpr int kInput = 1, kTexture = 3, kOutput = 6, kSampler = 10, kMisc = 17;

TEST(ShTokDeclarations, EveryFieldOfEveryForm) {
  struct Want {
    int type;
    std::uint32_t number;
    int usage, usageIndex;
    bool implied;
    std::uint32_t mask;
    int samplerType, modifiers;
    bool output;
  };
  struct Case {
    const char* name;
    const char* tokens;
    std::vector<Want> want;
  } cases[] = {
      {"ps_2_0 inputs and samplers",
       // dcl v0.xyz; dcl_pp t1.xy; dcl_centroid t2; dcl_2d s0; dcl_cube s3; dcl_volume s5
       "FFFF0200 0200001F 80000000 90070000 0200001F 80000000 B0230001 0200001F 80000000 B04F0002 "
       "0200001F 90000000 A00F0800 0200001F 98000000 A00F0803 0200001F A0000000 A00F0805 0000FFFF",
       {{kInput, 0, kUsageColor, 0, true, 0x7, 0, 0, false},
        {kTexture, 1, kUsageTexCoord, 1, true, 0x3, 0, 2, false},
        {kTexture, 2, kUsageTexCoord, 2, true, 0xF, 0, 4, false},
        {kSampler, 0, -1, 0, false, 0xF, 2, 0, false},
        {kSampler, 3, -1, 0, false, 0xF, 3, 0, false},
        {kSampler, 5, -1, 0, false, 0xF, 4, 0, false}}},
      {"vs_3_0 inputs and outputs",
       // dcl_texcoord3 v2.xy; dcl_position o0; dcl_color1 o3; dcl_2d s1
       "FFFE0300 0200001F 80030005 90030002 0200001F 80000000 E00F0000 0200001F 8001000A E00F0003 "
       "0200001F 90000000 A00F0801 0000FFFF",
       {{kInput, 2, kUsageTexCoord, 3, false, 0x3, 0, 0, false},
        {kOutput, 0, kUsagePosition, 0, false, 0xF, 0, 0, true},
        {kOutput, 3, kUsageColor, 1, false, 0xF, 0, 0, true},
        {kSampler, 1, -1, 0, false, 0xF, 2, 0, false}}},
      {"ps_3_0 inputs, vPos and vFace",
       // dcl_texcoord2_centroid v1; dcl vPos.xy; dcl vFace
       "FFFF0300 0200001F 80020005 904F0001 0200001F 80000000 90031000 0200001F 80000000 900F1001 0000FFFF",
       {{kInput, 1, kUsageTexCoord, 2, false, 0xF, 0, 4, false},
        {kMisc, 0, -1, 0, false, 0x3, 0, 0, false},
        {kMisc, 1, -1, 0, false, 0xF, 0, 0, false}}},
      {"ps_1_4 declares nothing", "FFFF0104 00000001 800F0000 B0E40000 0000FFFF", {}},
  };
  for (const Case& c : cases) {
    Interpreter interp;
    const std::vector<std::uint32_t> words = Tokens(c.tokens);
    std::string error;
    ASSERT_TRUE(interp.Load(words.data(), words.size(), &error)) << c.name << ": " << error;
    const std::vector<Declaration>& got = interp.Declarations();
    ASSERT_EQ(got.size(), c.want.size()) << c.name;
    for (std::size_t i = 0; i < got.size(); ++i) {
      const Declaration& d = got[i];
      const Want& w = c.want[i];
      const std::string at = std::string(c.name) + " #" + std::to_string(i);
      EXPECT_EQ(d.type, w.type) << at;
      EXPECT_EQ(d.number, w.number) << at;
      EXPECT_EQ(d.usage, w.usage) << at;
      EXPECT_EQ(d.usageIndex, w.usageIndex) << at;
      EXPECT_EQ(d.implied, w.implied) << at;
      EXPECT_EQ(d.mask, w.mask) << at;
      EXPECT_EQ(d.samplerType, w.samplerType) << at;
      EXPECT_EQ(d.modifiers, w.modifiers) << at;
      EXPECT_EQ(d.output, w.output) << at;
    }
  }
}

TEST(ShTokDeclarations, ReloadingForgetsThePreviousProgram) {
  Interpreter interp;
  std::string error;
  const std::vector<std::uint32_t> first = Tokens(GoldenByName("ps20_texld"));
  ASSERT_TRUE(interp.Load(first.data(), first.size(), &error)) << error;
  EXPECT_EQ(interp.Declarations().size(), 2u);
  const std::vector<std::uint32_t> second = Tokens("FFFE0200 0000FFFF");
  ASSERT_TRUE(interp.Load(second.data(), second.size(), &error)) << error;
  EXPECT_TRUE(interp.Declarations().empty());
  EXPECT_EQ(interp.FindDeclaration(kUsageTexCoord, 0), nullptr);
}

// A harness binds by semantic: inputs through the slot of the declared
// register, outputs likewise, whatever registers the code generator chose.
TEST(ShTokDeclarations, BindingBySemanticRunsTheProgram) {
  Interpreter interp;
  // dcl_texcoord3 v2.xy; dcl_color1 v0; dcl_position o4; dcl_color1 o1
  // mov o4, v2; add o1, v0, -v2
  const std::vector<std::uint32_t> words = Tokens(
      "FFFE0300 0200001F 80030005 90030002 0200001F 8001000A 900F0000 0200001F 80000000 E00F0004 "
      "0200001F 8001000A E00F0001 02000001 E00F0004 90E40002 03000002 E00F0001 90E40000 91E40002 0000FFFF");
  std::string error;
  ASSERT_TRUE(interp.Load(words.data(), words.size(), &error)) << error;
  const Declaration* coord = interp.FindDeclaration(kUsageTexCoord, 3);
  const Declaration* colour = interp.FindDeclaration(kUsageColor, 1);
  const Declaration* position = interp.FindDeclaration(kUsagePosition, 0, true);
  const Declaration* colourOut = interp.FindDeclaration(kUsageColor, 1, true);
  ASSERT_TRUE(coord && colour && position && colourOut);
  EXPECT_EQ(interp.FindDeclaration(kUsagePosition, 0), nullptr) << "no position input";
  Lane lane;
  *DeclaredSlot(lane, *coord) = Float4(0.25f, 0.5f, 9, 9);  // z and w are not declared
  *DeclaredSlot(lane, *colour) = Float4(1, 2, 3, 4);
  ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
  const Float4 pos = *DeclaredSlot(lane, *position), col = *DeclaredSlot(lane, *colourOut);
  const Float4 wantPos(0.25f, 0.5f, 0, 1), wantCol(0.75f, 1.5f, 3, 3);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(pos[c], wantPos[c]) << c;
    EXPECT_EQ(col[c], wantCol[c]) << c;
  }
  Declaration sampler;
  sampler.type = kSampler;
  EXPECT_EQ(DeclaredSlot(lane, sampler), nullptr);
}

}  // namespace
}  // namespace nura::shtok

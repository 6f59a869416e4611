// The profile table, its two lookups against linear-scan models, and the choice
// of the best profiles from edited device capabilities.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "gxl/shader/core/profiles.h"
#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "tests/gxl/tex/tex_test_device.h"

namespace {

// The last row with the token and flags, found by a scan.
const ShaderProfileRow* ScanToken(DWORD version, DWORD flags) {
  const ShaderProfileRow* found = nullptr;
  for (const auto& row : ShaderProfileTable)
    if (row.version == version && (row.flags & flags) == flags) found = &row;
  return found;
}

const ShaderProfileRow* ScanName(const std::string& name) {
  for (const auto& row : ShaderProfileTable)
    if (name == row.name) return &row;
  return nullptr;
}

TEST(GxlShaderProfile, TableIsSortedByteWise) {
  for (std::size_t i = 1; i < kShaderProfileCount; ++i)
    EXPECT_LT(std::strcmp(ShaderProfileTable[i - 1].name, ShaderProfileTable[i].name), 0) << i;
}

TEST(GxlShaderProfile, NameToTokenToNameForEveryRowAndMask) {
  for (const auto& row : ShaderProfileTable) {
    for (DWORD mask = 0; mask < 8; ++mask) {
      ShaderProfileRow out{};
      const bool qualifies = (row.flags & mask) == mask;
      ASSERT_EQ(ProfileNameToToken(row.name, mask, &out), qualifies ? S_OK : E_FAIL) << row.name << " " << mask;
      if (!qualifies) continue;
      EXPECT_EQ(out.name, row.name);
      EXPECT_EQ(out.version, row.version);
      EXPECT_EQ(out.flags, row.flags);
      ASSERT_EQ(ProfileTokenToName(row.version, mask, &out), S_OK);
      EXPECT_EQ(&out.name[0], ScanToken(row.version, mask)->name) << row.name << " " << mask;
    }
  }
}

TEST(GxlShaderProfile, EdgeCases) {
  ShaderProfileRow row{};
  EXPECT_EQ(ProfileNameToToken("vs_2_x", 2, &row), E_FAIL);
  EXPECT_EQ(ProfileNameToToken("vs.2.x", 2, &row), S_OK);
  EXPECT_EQ(row.version, 0xFFFE0201u);
  EXPECT_EQ(ProfileNameToToken("ps", 0, &row), S_OK);
  EXPECT_EQ(row.version, 0xFFFF0000u);
  EXPECT_EQ(ProfileNameToToken("ps", 1, &row), E_FAIL);
  EXPECT_EQ(ProfileNameToToken("PS_2_0", 0, &row), E_FAIL);
  EXPECT_EQ(ProfileNameToToken(nullptr, 0, &row), D3DERR_INVALIDCALL);
  EXPECT_EQ(ProfileNameToToken("tx_1_0", 4, nullptr), S_OK);
  EXPECT_EQ(ProfileTokenToName(0xFFFE0101, 1, &row), S_OK);
  EXPECT_STREQ(row.name, "vs_1_1");
  EXPECT_EQ(ProfileTokenToName(0xFFFF0201, 2, &row), E_FAIL);
  EXPECT_EQ(ProfileTokenToName(0xFFFF0105, 0, nullptr), E_FAIL);
}

TEST(GxlShaderProfile, RandomNamesAgreeWithAScan) {
  std::mt19937 rng(11);
  const std::string alphabet = "psvtx._0123abwPS\x80";
  for (int i = 0; i < 1000; ++i) {
    std::string name;
    if (i % 3 == 0) {
      // A table name cut or extended by a character.
      name = ShaderProfileTable[rng() % kShaderProfileCount].name;
      if (rng() % 2)
        name.pop_back();
      else
        name += alphabet[rng() % alphabet.size()];
    } else {
      for (unsigned n = rng() % 8; n > 0; --n) name += alphabet[rng() % alphabet.size()];
    }
    const DWORD mask = rng() % 4;
    const ShaderProfileRow* model = ScanName(name);
    const bool expected = model && (model->flags & mask) == mask;
    ShaderProfileRow row{};
    EXPECT_EQ(ProfileNameToToken(name.c_str(), mask, &row), expected ? S_OK : E_FAIL) << name;
    if (expected) {
      EXPECT_EQ(row.name, model->name);
    }
  }
}

class GxlShaderProfileDevice : public textest::DeviceTest {};

struct PixelCaps {
  DWORD version, caps;
  INT temps;
  const char* best;
};
struct VertexCaps {
  DWORD version, caps;
  INT temps, depth;
  const char* best;
};

TEST_F(GxlShaderProfileDevice, BestProfilesFollowTheCapabilities) {
  // The software device has no shader support.
  EXPECT_EQ(GetBestPixelShaderProfile(dev), nullptr);
  EXPECT_EQ(GetBestVertexShaderProfile(dev), nullptr);
  EXPECT_EQ(GetBestPixelShaderProfile(nullptr), nullptr);
  EXPECT_EQ(GetBestVertexShaderProfile(nullptr), nullptr);

  const PixelCaps kPixel[] = {
      {0xFFFF0100, 0, 0, nullptr},     {0xFFFF0101, 0, 0, "ps_1_1"},    {0xFFFF0102, 0, 0, "ps_1_2"},
      {0xFFFF0103, 0, 0, "ps_1_3"},    {0xFFFF0104, 0, 0, "ps_1_4"},    {0xFFFF0105, 0, 0, nullptr},
      {0xFFFF0300, 0, 0, "ps_3_0"},    {0xFFFF03FF, 0, 0, "ps_3_0"},    {0xFFFF0200, 0x1F, 22, "ps_2_a"},
      {0xFFFF0200, 0x1F, 21, "ps_2_0"}, {0xFFFF0200, 0x0F, 22, "ps_2_0"}, {0xFFFF0200, 0x10, 32, "ps_2_b"},
      {0xFFFF0201, 0x1F, 32, "ps_2_a"}, {0xFFFF0200, 0x0F, 40, "ps_2_0"}, {0xFFFF0200, 0x1F, -1, "ps_2_0"},
  };
  for (const auto& c : kPixel) {
    platform::test::EditD3D9Caps([&](D3DCAPS9& caps) {
      caps.PixelShaderVersion = c.version;
      caps.PS20Caps.Caps = c.caps;
      caps.PS20Caps.NumTemps = c.temps;
    });
    const char* best = GetBestPixelShaderProfile(dev);
    EXPECT_STREQ(best ? best : "null", c.best ? c.best : "null") << std::hex << c.version << " " << c.caps;
  }
  const VertexCaps kVertex[] = {
      {0xFFFE0100, 0, 0, 0, nullptr},      {0xFFFE0101, 0, 0, 0, "vs_1_1"},     {0xFFFE0102, 0, 0, 0, nullptr},
      {0xFFFE0300, 0, 0, 0, "vs_3_0"},     {0xFFFE0200, 1, 13, 24, "vs_2_a"},   {0xFFFE0200, 1, 13, 23, "vs_2_0"},
      {0xFFFE0200, 1, 12, 24, "vs_2_0"},   {0xFFFE0200, 0, 13, 24, "vs_2_0"},   {0xFFFE0201, 3, 32, 24, "vs_2_a"},
  };
  for (const auto& c : kVertex) {
    platform::test::EditD3D9Caps([&](D3DCAPS9& caps) {
      caps.VertexShaderVersion = c.version;
      caps.VS20Caps.Caps = c.caps;
      caps.VS20Caps.NumTemps = c.temps;
      caps.VS20Caps.DynamicFlowControlDepth = c.depth;
    });
    const char* best = GetBestVertexShaderProfile(dev);
    EXPECT_STREQ(best ? best : "null", c.best ? c.best : "null") << std::hex << c.version;
  }
  // Failing caps: no profile.
  platform::test::FailCall("GetDeviceCaps", E_FAIL, 1, 2);
  EXPECT_EQ(GetBestPixelShaderProfile(dev), nullptr);
  EXPECT_EQ(GetBestVertexShaderProfile(dev), nullptr);
  EXPECT_EQ(platform::test::InjectedFailureCount("GetDeviceCaps"), 2);
}

}  // namespace

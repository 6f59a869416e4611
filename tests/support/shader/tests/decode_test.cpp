#include <gtest/gtest.h>

#include "tests/support/shader/decode.h"
#include "tests/support/shader/goldens.h"

namespace nura::shtok {
namespace {

namespace ps = platform::shader;

std::string Decode(const char* hex, std::string* error = nullptr) {
  const std::vector<std::uint32_t> words = Tokens(hex);
  std::string text, ignored;
  Disassemble(words.data(), words.size(), &text, error ? error : &ignored);
  return text;
}

TEST(ShTokDecode, GoldensDecodeToTheirText) {
  for (const Golden& g : Goldens()) {
    std::string error;
    EXPECT_EQ(Decode(g.tokens, &error), g.text) << g.name << ": " << error;
  }
}

TEST(ShTokDecode, SingleTokens) {
  EXPECT_EQ(Decode("FFFE0101 00000001 C00F0000 90E40000 0000FFFF"), "vs_1_1\nmov oPos, v0\n");
  ps::Version vs11, vs30, ps30;
  ASSERT_TRUE(ps::ParseVersion(0xFFFE0101, &vs11));
  ASSERT_TRUE(ps::ParseVersion(0xFFFE0300, &vs30));
  ASSERT_TRUE(ps::ParseVersion(0xFFFF0300, &ps30));
  EXPECT_EQ(RegisterName(0xB0E40834, vs11), "c2100");
  EXPECT_EQ(RegisterName(0xD0E40FFF, vs11), "c8191");
  EXPECT_EQ(RegisterName(0xF0000800, vs30), "aL");
  EXPECT_EQ(RegisterName(0xB0001000, ps30), "p0");
  EXPECT_EQ(RegisterName(0x90E41001, ps30), "vFace");
  EXPECT_EQ(RegisterName(0xB0E40001, vs11), "a1");
  EXPECT_EQ(RegisterName(0xB0E40001, ps30), "t1");
  EXPECT_EQ(RegisterName(0xE00F0003, vs11), "oT3");
  EXPECT_EQ(RegisterName(0xE00F0003, vs30), "o3");
  EXPECT_EQ(RegisterName(0x80E41000, vs30), "");  // half-float temporaries have no name
}

TEST(ShTokDecode, ModifiersAndSwizzlesRoundTheirText) {
  struct Case {
    const char* tokens;
    const char* line;
  } cases[] = {
      {"FFFF0104 00000001 8F0F0000 83A40001 0000FFFF", "mov_d2 r0, -r1_bias.xyz"},
      {"FFFF0104 00000001 830F0000 86F40001 0000FFFF", "mov_x8 r0, 1-r1.xyw"},
      {"FFFF0104 00000001 800F0000 881B0001 0000FFFF", "mov r0, -r1_x2.wzyx"},
      {"FFFF0300 02000001 806F0000 8C000001 0000FFFF", "mov_pp_centroid r0, -r1_abs.x"},
      {"FFFF0200 03000042 800F0000 B0E40000 A0E40800 0000FFFF", "texld r0, t0, s0"},
      {"FFFF0200 03010042 800F0000 B0E40000 A0E40800 0000FFFF", "texldp r0, t0, s0"},
      {"FFFF0200 03020042 800F0000 B0E40000 A0E40800 0000FFFF", "texldb r0, t0, s0"},
      {"FFFE0300 03000001 E00F2001 F0E40800 A0E40000 0000FFFF", "mov o[aL + 1], c0"},
      {"FFFE0200 03000001 800F0000 AB552000 B0550000 0000FFFF", "mov r0, c_abs[a0.y].y"},
      {"FFFE02FF 02000001 800F0000 A0E40000 0000FFFF", "mov r0, c0"},
      {"FFFF0300 0200001F 98000000 A00F0801 0000FFFF", "dcl_cube s1"},
      {"FFFF0300 0200001F 80000000 90031000 0000FFFF", "dcl vPos.xy"},
      {"FFFF0200 0200001F 80000000 B0430000 0000FFFF", "dcl_centroid t0.xy"},
      {"FFFE0200 0200002F E00F0800 00000000 0000FFFF", "defb b0, false"},
      {"FFFE0200 05000030 F00F0000 FFFFFFFF 00000002 FFFFFF80 00000000 0000FFFF", "defi i0, -1, 2, -128, 0"},
      {"FFFE0101 00000051 A00F0005 3DCCCCCD 7F800000 00000001 C2F60000 0000FFFF",
       "def c5, 0.100000001, 1e39, 1.40129846e-45, -123"},
      {"FFFE0101 00000051 A00F0000 FF800000 7FC00000 00000000 80000000 0000FFFF",
       "def c0, -1e39, 0 /* NaN 0x7FC00000 */, 0, -0"},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::string text = Decode(c.tokens, &error);
    const std::size_t eol = text.find('\n');
    EXPECT_EQ(text.substr(eol + 1), std::string(c.line) + "\n") << c.tokens << ": " << error;
  }
}

TEST(ShTokDecode, BadStreamsNameTheToken) {
  struct Case {
    const char* tokens;
    const char* error;
  } cases[] = {
      {"FFFE0102 0000FFFF", "token 0:"},
      {"FFFE0101", "token 1: no end token"},
      {"FFFE0101 00000001 800F0000", "token 1:"},
      {"FFFE0200 00000001 800F0000 A0E40000 0000FFFF", "token 1: instruction length 0"},
      {"FFFE0101 00000001 800F0000 20E40000 0000FFFF", "token 3: parameter token without bit 31"},
      {"FFFE0101 800F0000 0000FFFF", "token 1: parameter token where"},
      {"FFFE0101 00000032 0000FFFF", "token 1: unknown opcode 50"},
      {"FFFE0101 00000001 800F0000 AEE40000 0000FFFF", "token 3: unknown source modifier"},
      {"FFFE0101 00000001 80000000 A0E40000 0000FFFF", "token 2: empty write mask"},
      {"FFFE0101 0005FFFE 00000001 00000002 0000FFFF", "token 1:"},
      {"FFFE0300 0307005E B0011000 80000000 A0000000 0000FFFF", "token 1: invalid comparison"},
      {"FFFE0200 03000001 800F0000 A0E42000 80000000 0000FFFF", "token 4: relative address register"},
      {"FFFE0200 02000001 800F0000 80E41000 0000FFFF", "token 3: unknown register type 16"},
      {"FFFF0200 0200001F 88000000 A00F0800 0000FFFF", "token 2: unknown sampler texture type"},
      {"FFFF0104 00000001 850F0000 80E40000 0000FFFF", "token 2: invalid result shift"},
      // Bit 28 on a declaration: no predicate token follows, so it is no predicate.
      {"FFFF0201 1200001F 80000000 B00F0000 0000FFFF", "token 1: a declaration cannot be predicated"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(Decode(c.tokens, &error), "") << c.tokens;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.tokens << " gave: " << error;
  }
}

}  // namespace
}  // namespace nura::shtok

// Read ports of the pixel shader 1.x target on instructions laid out by hand
// in a compiled program: which argument group one instruction must copy, and
// whether a co-issued pair reads too many registers of a kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ps1_fixture.h"

namespace {

using namespace gxl::shader;
using ps1test::Ps1Run;

// Registers of each kind, one value per register (component x).
struct Registers {
  explicit Registers(PixelShader1Target& t) : t(t) {
    const std::uint32_t bank = t.AddRegisterBank("k", kBankReadable | kBankInitialised | kBankUniform, 4, 4);
    const std::uint32_t literals = t.AddRegisterBank("l1", kBankReadable | kBankLiteral | kBankUniform, 4, 4);
    for (std::uint32_t r = 0; r < 4; ++r) {
      constants.push_back(t.AddValue(bank, r, 0, 0.0));
      texcoords.push_back(t.TexcoordValue(r, 0));
      temporaries.push_back(t.AddValue(t.StandardBankIndex(StandardBank::Temporaries), r, 0, 0.0));
      literals_.push_back(t.AddValue(literals, r, 0, r < 2 ? 0.5 : 0.25 * r + 0.1));
    }
    for (std::uint32_t i = 0; i < 2; ++i) {
      colours.push_back(t.AddValue(t.StandardBankIndex(StandardBank::Inputs), 8 + i, 0, 0.0));
      t.Value(colours.back())->registerKey = Ps1SemanticWord(kPs1Color, i);
    }
  }
  // A one-component instruction of `group` over the given arguments.
  IrInstruction& Make(std::uint32_t group, const std::vector<std::uint32_t>& arguments) {
    const std::uint32_t result = t.AddValue(t.StandardBankIndex(StandardBank::Temporaries), 0, 0, 0.0);
    const std::uint32_t index = t.AddFilledInstruction(
        IrWord(group, 1), arguments.data(), static_cast<std::uint32_t>(arguments.size()), &result, 1, kNoIndex);
    return *t.Instruction(index);
  }
  PixelShader1Target& t;
  std::vector<std::uint32_t> constants, texcoords, temporaries, literals_, colours;
};

TEST(GxlPs1Emit, ReadPortsOfOneInstruction) {
  struct Case {
    const char* name;
    std::uint32_t minor;
    char kinds[4];  // per group: c constant, t texcoord, r temporary, l literal, v colour
    std::uint32_t index[4];
    std::uint32_t answer, group;
  };
  const Case cases[] = {
      {"three constants: the third is copied", 2, "ccc", {0, 1, 2}, 1, 2},
      {"one constant twice counts once", 2, "ccc", {0, 1, 0}, 0, 0},
      {"equal literals share a register", 2, "cll", {0, 0, 1}, 0, 0},
      {"different literals do not", 2, "cll", {0, 0, 2}, 1, 2},
      {"three texture registers on ps_1_1", 1, "ttt", {0, 1, 2}, 1, 2},
      {"three texture registers on ps_1_2", 2, "ttt", {0, 1, 2}, 0, 0},
      {"two texture registers and a temporary on ps_1_1", 1, "ttr", {0, 1, 0}, 0, 0},
      {"three temporaries", 4, "rrr", {0, 1, 2}, 0, 0},
      {"both colours", 1, "vvc", {0, 1, 0}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ps1Run run("float4 main(float4 c : COLOR0) : COLOR { return c; }", c.minor);
    ASSERT_TRUE(run.Placed()) << run.log;
    Registers regs(*run.target);
    std::vector<std::uint32_t> arguments;
    for (int k = 0; k < 3; ++k) {
      const std::vector<std::uint32_t>& of = c.kinds[k] == 'c'   ? regs.constants
                                             : c.kinds[k] == 't' ? regs.texcoords
                                             : c.kinds[k] == 'r' ? regs.temporaries
                                             : c.kinds[k] == 'l' ? regs.literals_
                                                                 : regs.colours;
      arguments.push_back(of[c.index[k]]);
    }
    std::uint32_t group = 99;
    EXPECT_EQ(run.target->NextArgumentToCopy(regs.Make(kOpPs1Mad, arguments), &group), c.answer);
    if (c.answer) {
      EXPECT_EQ(group, c.group);
    }
  }
}

TEST(GxlPs1Emit, ReadPortsOfAPair) {
  Ps1Run run("float4 main(float4 c : COLOR0) : COLOR { return c; }", 1);
  ASSERT_TRUE(run.Placed()) << run.log;
  Registers r(*run.target);
  PixelShader1Target& t = *run.target;
  auto& k = r.constants;
  // Three constant registers between the two fit; four do not.
  EXPECT_EQ(t.ExceedsPairReadPorts(r.Make(kOpMultiply, {k[0], k[1]}), r.Make(kOpAdd, {k[1], k[2]})), 0u);
  EXPECT_EQ(t.ExceedsPairReadPorts(r.Make(kOpMultiply, {k[0], k[1]}), r.Make(kOpAdd, {k[2], k[3]})), 1u);
  // Three texture registers between the two fit; four do not.
  auto& tc = r.texcoords;
  EXPECT_EQ(t.ExceedsPairReadPorts(r.Make(kOpMultiply, {tc[0], tc[1]}), r.Make(kOpAdd, {tc[1], tc[2]})), 0u);
  EXPECT_EQ(t.ExceedsPairReadPorts(r.Make(kOpMultiply, {tc[0], tc[1]}), r.Make(kOpAdd, {tc[2], tc[3]})), 1u);
}

}  // namespace

// The ps_1_4 texture phases at list level: the messages of the preparation
// checks, where the partition puts each texture operation, the carry-over of
// results a phase-two texld overwrites, the balancing of the arithmetic, and
// an independent check of every layout against the order the hardware runs
// it in (phase one's slots, its arithmetic, phase two's slots, its arithmetic).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "tests/gxl/shader/backend/ps1_fixture.h"
#include "tests/gxl/shader/fail_alloc.h"

namespace {

using namespace ps1test;

constexpr std::uint32_t kSlots = 6;

bool IsColorInput(const PixelShader1Target& t, std::uint32_t value) {
  return t.IsInputValue(value) && Ps1KindOf(t.SemanticOf(value)) == kPs1Color;
}
bool IsTexcoordInput(const PixelShader1Target& t, std::uint32_t value) {
  return t.IsInputValue(value) && Ps1KindOf(t.SemanticOf(value)) == kPs1Texcoord;
}

// "" when the lists run as the program means, else the first fault.
std::string LayoutFault(const PixelShader1Target& t) {
  struct Entry {
    std::uint32_t instruction;
    bool phaseTwo;
    std::uint32_t slot;  // kSlots for arithmetic
  };
  std::vector<Entry> order;
  const Ps1List* lists[2] = {&t.phaseOneList, &t.stageList};
  for (int phase = 0; phase < 2; ++phase)
    for (std::uint32_t k = 0; k < lists[phase]->Count(); ++k)
      if ((*lists[phase])[k] != kNoIndex) order.push_back({(*lists[phase])[k], phase == 1, std::min(k, kSlots)});
  std::map<std::uint32_t, std::size_t> position, producedAt;
  for (std::size_t p = 0; p < order.size(); ++p) {
    const IrInstruction* inst = t.Instruction(order[p].instruction);
    if (!inst) return "a list names no instruction";
    if (!position.emplace(order[p].instruction, p).second) return "an instruction is listed twice";
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) producedAt[inst->results[r]] = p;
  }
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i)
    if (t.Instruction(i) && t.Instruction(i)->word != 0 && !position.count(i))
      return "instruction " + std::to_string(i) + " is in no list";
  for (std::size_t p = 0; p < order.size(); ++p) {
    const IrInstruction& inst = *t.Instruction(order[p].instruction);
    if (inst.word == 0) continue;
    const std::uint32_t group = inst.Group();
    const bool texture = PixelShader1Target::IsTextureOperation(group) || group == kOpTexcoord;
    const std::string at = " at " + std::to_string(p);
    if (!order[p].phaseTwo && order[p].slot < kSlots) {
      if (group == kOpDiscard) return "texkill in phase one" + at;
      if (group == kOpTexldDivideZ) return "_dz in phase one" + at;
      if (PixelShader1Target::IsTextureLoad(group))
        for (std::uint32_t a = PixelShader1Target::CoordinateStart(inst); a < inst.argumentCount; ++a)
          if (!IsTexcoordInput(t, t.ResolveAlias(inst.arguments[a]))) return "phase one samples at a register" + at;
    }
    for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
      const std::uint32_t root = t.ResolveAlias(inst.arguments[a]);
      if (!order[p].phaseTwo && IsColorInput(t, root)) return "phase one reads a colour" + at;
      if (!texture && IsTexcoordInput(t, root)) return "arithmetic reads a texture coordinate" + at;
      if (!t.IsTemporaryValue(root)) continue;
      const auto made = producedAt.find(root);
      if (made == producedAt.end()) return "a temporary nothing listed writes is read" + at;
      if (made->second >= p) return "a result is read before it is written" + at;
      const Entry& producer = order[made->second];
      if (producer.phaseTwo || producer.slot == kSlots) continue;
      // A phase-one slot's register, overwritten by phase two's texld or texcrd in the same slot.
      for (std::size_t w = made->second + 1; w < p; ++w)
        if (order[w].phaseTwo && order[w].slot == producer.slot &&
            t.Instruction(order[w].instruction)->Group() != kOpDiscard)
          return "r" + std::to_string(producer.slot) + " is read after phase two overwrote it" + at;
    }
  }
  return "";
}

std::uint32_t ArithmeticEntries(const Ps1List& list) { return list.Count() > kSlots ? list.Count() - kSlots : 0; }

// Samplers a..c and texture coordinates u0..u5 (float4), colour c0.
std::string Program(const std::string& body) {
  std::string s = "sampler a; sampler b; sampler c; sampler d : register(s3);\nfloat4 main(";
  for (int k = 0; k < 6; ++k) s += "float4 u" + std::to_string(k) + " : TEXCOORD" + std::to_string(k) + ", ";
  return s + "float4 c0 : COLOR0) : COLOR {\n" + body + "\n}";
}

TEST(GxlPs1Phases, PreparationMessages) {
  std::string long20, long70;
  for (int i = 0; i < 70; ++i) (i < 20 ? long20 : long70) += "x = x * c0.wzyx; ";
  struct Case {
    const char* name;
    std::string body;
    const char* message;  // null: placed
    int count;
  } cases[] = {
      {"a dependent read of a dependent read",
       "float4 p = tex2D(a, u0.xy); float4 q = tex2D(b, p.xy); return tex2D(c, q.xy);",
       "error X4500: dependent texture read chain cannot exceed 1 in ps_1_4\n", 1},
      {"a coordinate computed from a colour", "return tex2D(a, u0.xy * c0.xy);",
       "error X4500: cannot perform texture load that is in anyway dependent on COLOR registers\n", 1},
      {"every colour-dependent computation is reported", "return tex2D(a, u0.xy * c0.xy) + tex2D(b, u1.xy + c0.zw);",
       "error X4500: cannot perform texture load that is in anyway dependent on COLOR registers\n", 2},
      {"a colour read after the loads is fine", "return tex2D(a, u0.xy) * c0;", nullptr, 0},
      {"twenty multiplies", "float4 x = c0; " + long20 + "return x;", nullptr, 0},
      {"ninety multiplies", "float4 x = c0; " + long20 + long70 + "return x;",
       "error X4500: program is order of magnitude too large to compile to ps_1_4\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ps1Run r(Program(c.body), 4);
    if (!c.message) {
      EXPECT_TRUE(r.Placed()) << r.log;
      EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
      continue;
    }
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_EQ(r.Count(c.message), c.count) << r.log;
    EXPECT_EQ(r.Count("error X"), c.count) << r.log;
  }
}

TEST(GxlPs1Phases, Partitions) {
  struct Case {
    const char* name;
    const char* body;
    const char* dump;  // the lists as the fixture dumps them
  } cases[] = {
      {"no texture operation: no phase", "return c0 * c0;", "0:- 1:- 2:- 3:- 4:- 5:- mul nop"},
      {"a load feeding another runs in phase one, the other in phase two",
       "float4 p = tex2D(a, u0.xy); return tex2D(b, p.yx);",
       "0:tex2D 1:- 2:- 3:- 4:- 5:- mov|0:- 1:tex2D 2:- 3:- 4:- 5:- mov"},
      {"the stage keeps its sampler in both phases: phase two's r0 overwrites phase one's, carried over",
       "float4 p = tex2D(a, u0.xy); return p * tex2D(a, p.xy);",
       "0:tex2D 1:- 2:- 3:- 4:- 5:- mov|0:tex2D 1:- 2:- 3:- 4:- 5:- mul nop"},
      {"a user-bound sampler takes its register's stage", "return tex2D(d, u0.xy);", "0:- 1:- 2:- 3:tex2D 4:- 5:- mov"},
      {"texkill runs in phase two", "clip(u0.xyzz); return c0;", "0:texkill 1:- 2:- 3:- 4:- 5:- mov nop"},
      {"a texture coordinate read by arithmetic comes through texcrd", "return u1.xyzz * c0;",
       "0:texcoord 1:- 2:- 3:- 4:- 5:- mul nop"},
      {"tex2Dproj divides by w", "return tex2Dproj(a, u0);", "0:tex2Dproj 1:- 2:- 3:- 4:- 5:- nop"},
      {"tex2Dproj whose w copies z divides by z, reading a register in phase two", "return tex2Dproj(a, u0.xyzz);",
       "0:texcoord 1:- 2:- 3:- 4:- 5:- mov|0:texld_dz 1:- 2:- 3:- 4:- 5:- nop"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ps1Run r(Program(c.body), 4);
    ASSERT_TRUE(r.Placed()) << r.log;
    EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
    EXPECT_EQ(r.Dump(), c.dump);
  }
}

// _dz reads at most twice per program: the third divides by w, which
// reads a texture coordinate only, so that program does not fit.
TEST(GxlPs1Phases, DivideByZAtMostTwice) {
  Ps1Run r(Program("return tex2Dproj(a, u0.xyzz) + tex2Dproj(b, u1.xyzz) + tex2Dproj(c, u2.xyzz);"), 4);
  EXPECT_EQ(r.Count("error X4500: program too complex to compile to ps_1_4\n"), 1) << r.log;
  int dz = 0, dw = 0;
  for (std::uint32_t i = 0; i < r.target->instructions.Count(); ++i) {
    const IrInstruction* inst = r.target->Instruction(i);
    dz += inst && inst->Group() == kOpTexldDivideZ;
    dw += inst && inst->Group() == 0x607;
  }
  EXPECT_EQ(dz, 2);
  EXPECT_EQ(dw, 1);
  Ps1Run two(Program("return tex2Dproj(a, u0.xyzz) + tex2Dproj(b, u1.xyzz) + tex2Dproj(c, u2);"), 4);
  ASSERT_TRUE(two.Placed()) << two.log;
  EXPECT_EQ(LayoutFault(*two.target), "") << two.Dump();
}

// Generated programs of plain and dependent loads, clips and arithmetic: every
// layout the search settles on is sound.
TEST(GxlPs1Phases, GeneratedLayoutsAreSound) {
  std::mt19937 random(144);
  int placed = 0;
  for (int round = 0; round < 40; ++round) {
    std::string body;
    std::vector<std::string> plain, all;
    const int loads = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < loads; ++k) {
      const std::string name = "x" + std::to_string(k), sampler(1, "abcd"[random() % 4]);
      const std::string u = "u" + std::to_string(random() % 6);
      std::string coordinate = u + ".xy";
      if (!plain.empty() && random() % 2) {
        const std::string& from = plain[random() % plain.size()];
        coordinate = random() % 2 ? from + ".zy" : from + ".xy * 0.5 + " + u + ".yx";
      }
      body += "float4 " + name + " = tex2D(" + sampler + ", " + coordinate + ");\n";
      (coordinate == u + ".xy" ? plain : all).push_back(name);
    }
    all.insert(all.end(), plain.begin(), plain.end());
    std::string sum = "c0";
    for (int n = 0; n < 4 + static_cast<int>(random() % 10); ++n) {
      const std::string& v = all[random() % all.size()];
      sum = random() % 3 ? "(" + sum + " * " + v + ")" : "(" + sum + " + " + v + ".wzyx)";
    }
    // texkill runs before phase two's arithmetic: it can test phase one's work only.
    if (!plain.empty() && random() % 4 == 0) body += "clip(" + plain[0] + ".xyzz - 0.5);\n";
    Ps1Run r(Program(body + "return " + sum + ";"), 4);
    SCOPED_TRACE(body + sum);
    if (!r.Placed()) {
      // Some partitions do not fit ps_1_4; the search must say so plainly.
      EXPECT_EQ(r.Count("error X4500: program too complex to compile to ps_1_4\n"), 1) << r.log;
      continue;
    }
    ++placed;
    EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
  }
  EXPECT_GT(placed, 30);
}

// A long phase two gives arithmetic to phase one, within what the hardware
// runs: the producers are there first, colours stay in phase two.
TEST(GxlPs1Phases, BalancingShortensALongPhaseTwo) {
  std::string body = "float4 p = tex2D(a, u0.xy); float4 q = tex2D(b, p.xy); float4 x = p;\n";
  for (int i = 0; i < 12; ++i) body += "x = x * x.wzyx;\n";
  Ps1Run r(Program(body + "return x * q * c0;"), 4);
  ASSERT_TRUE(r.Placed()) << r.log;
  EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
  EXPECT_GE(ArithmeticEntries(r.target->phaseOneList), 5u) << r.Dump();
  EXPECT_LT(ArithmeticEntries(r.target->stageList), 8u) << r.Dump();

  // Everything reads a colour: nothing can move, phase two stays long.
  std::string coloured = "float4 p = tex2D(a, u0.xy); float4 q = tex2D(b, p.xy); float4 x = c0;\n";
  for (int i = 0; i < 12; ++i) coloured += "x = x * x.wzyx;\n";
  Ps1Run kept(Program(coloured + "return x * q;"), 4);
  ASSERT_TRUE(kept.Placed()) << kept.log;
  EXPECT_EQ(LayoutFault(*kept.target), "") << kept.Dump();
  EXPECT_GE(ArithmeticEntries(kept.target->stageList), 12u) << kept.Dump();
}

// The carry-over takes its moves and copies from the target's 16 scratch
// moves and 64 scratch temporaries; a layout needing more does not fit.
TEST(GxlPs1Phases, CarryOverWithinTheScratchLimits) {
  Ps1Run r(Program("float4 p = tex2D(a, u0.xy); return p * tex2D(a, p.xy);"), 4);
  ASSERT_TRUE(r.Placed()) << r.log;
  PixelShader1Target& t = *r.target;
  Ps1Rules& rules = *t.rules;
  // Phase one samples p at stage 0; phase two's texld at stage 0 overwrites r0 before the multiply.
  auto carry = [&](std::uint32_t moves, std::uint32_t copies) {
    EXPECT_EQ(t.RestoreSnapshot(), S_OK);
    t.ForgetScratchMoves();
    EXPECT_EQ(rules.BuildPhaseLists14(t, 0x2, true), 1);
    t.scratchMoveCount = moves;
    t.scratchTemporaryCursor = copies;
    return rules.PlacePhaseTwo14(t);
  };
  struct Case {
    std::uint32_t moves, copies;
    HRESULT answer;
  } cases[] = {{0, 0, S_OK}, {15, 0, S_OK}, {16, 0, 1}, {0, 60, S_OK}, {0, 61, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.moves) + " moves and " + std::to_string(c.copies) + " copies taken");
    ASSERT_EQ(carry(c.moves, c.copies), c.answer);
    if (c.answer == 1) {
      EXPECT_EQ(t.phaseOneList.Count(), kSlots);  // nothing added
      EXPECT_EQ(t.scratchMoveCount, c.moves);
      continue;
    }
    ASSERT_EQ(t.phaseOneList.Count(), kSlots + 1);
    const IrInstruction& move = *t.Instruction(t.phaseOneList[kSlots]);
    EXPECT_EQ(move.word, IrWord(kOpMove, 4));  // p's four components
    EXPECT_EQ(t.scratchMoveCount, c.moves + 1);
    EXPECT_EQ(t.scratchTemporaryCursor, c.copies + 4);
    for (std::uint32_t j = 0; j < 4; ++j) EXPECT_EQ(move.results[j], t.scratchTemporaries[c.copies + j]);
    // Running it again in the same trial undoes the first run: one move still.
    ASSERT_EQ(rules.PlacePhaseTwo14(t), S_OK);
    EXPECT_EQ(t.phaseOneList.Count(), kSlots + 1);
    EXPECT_EQ(t.scratchMoveCount, c.moves + 1);
  }
}

// The balancing's appends past a list's 512 entries: 4514 once, not a crash.
TEST(GxlPs1Phases, BalancingPastTheListLimit) {
  struct Crowded : Ps1StandardRules {
    HRESULT BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) override {
      const HRESULT hr = Ps1StandardRules::BuildPhaseLists14(t, mask, trial);
      while (hr == 1 && t.stageList.Count() < Ps1List::kLimit) t.stageList.Append(kNoIndex);
      return hr;
    }
  };
  Ps1Run r(Program("float4 p = tex2D(a, u0.xy); return p * p.wzyx + c0;"), 4, std::make_unique<Crowded>());
  EXPECT_EQ(r.hr, E_FAIL);
  EXPECT_EQ(r.Count("error X4514: program too big\n"), 1) << r.log;
}

// texcrd, a coordinate move, the carry-over and the balancing, each
// allocation failing in turn: a failure, never a crash or a leak.
TEST(GxlPs1Phases, EveryAllocationFailureIsReported) {
  const std::string source =
      Program("float4 p = tex2D(a, u0.xy); return p * tex2D(a, p.xy) * tex2D(b, -p.zw) + u1.xyzz;");
  std::uint64_t total = 0;
  {
    Ps1Run r(
        source, 4, nullptr, [] { shadertest::FailNthAllocation(0); },
        [&total] { total = shadertest::AllocationsCounted(); });
    ASSERT_TRUE(r.Placed()) << r.log;
    EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
  }
  ASSERT_GT(total, 10u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    bool failed = false;
    Ps1Run r(
        source, 4, nullptr, [n] { shadertest::FailNthAllocation(n); },
        [&failed] {
          failed = shadertest::AllocationFailed();
          shadertest::FailNthAllocation(0);
        });
    EXPECT_TRUE(failed) << n;
    EXPECT_FALSE(SUCCEEDED(r.hr)) << n;
  }
}

}  // namespace

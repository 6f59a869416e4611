// The ps_1_4 texture phases at list level: the messages of the preparation
// checks, where the partition puts each texture operation, the carry-over of
// results a phase-two texld overwrites, the balancing of the arithmetic, and
// an independent check of every layout against the order the hardware runs
// it in (phase one's slots, its arithmetic, phase two's slots, its arithmetic).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "tests/gxl/shader/backend/ps1_fixture.h"
#include "tests/gxl/shader/compiler/ps1_compile.h"
#include "tests/support/shader/interp.h"

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

// The texture slots of both lists, "k:name" as the fixture dumps them, "|"
// between the phases; the arithmetic, which the operand rewrites shape, left out.
std::string Slots(const PixelShader1Target& t) {
  std::string out;
  for (const Ps1List* list : {&t.phaseOneList, &t.stageList}) {
    if (list->Count() == 0) continue;
    if (!out.empty()) out += '|';
    for (std::uint32_t k = 0; k < kSlots && k < list->Count(); ++k) {
      const IrInstruction* inst = t.Instruction((*list)[k]);
      out += (k ? " " : "") + std::to_string(k) + ":" + (inst ? OperationName(inst->Group()) : "-");
    }
  }
  return out;
}

// Arithmetic entries a phase runs (a folded move runs nothing).
std::uint32_t ArithmeticEntries(const PixelShader1Target& t, const Ps1List& list) {
  std::uint32_t n = 0;
  for (std::uint32_t k = kSlots; k < list.Count(); ++k)
    n += t.Instruction(list[k]) && t.Instruction(list[k])->word != 0;
  return n;
}

// Samplers a-f (d bound to s3), texture coordinates u0-u5 (float4), colour c0.
std::string Program(const std::string& body) {
  std::string s = "sampler a; sampler b; sampler c; sampler d : register(s3); sampler e; sampler f;\nfloat4 main(";
  for (int k = 0; k < 6; ++k) s += "float4 u" + std::to_string(k) + " : TEXCOORD" + std::to_string(k) + ", ";
  return s + "float4 c0 : COLOR0) : COLOR {\n" + body + "\n}";
}

TEST(GxlPs1Phases, PreparationMessages) {
  std::string long20, long70;
  for (int i = 0; i < 70; ++i) (i < 20 ? long20 : long70) += "x = x * c0; ";
  struct Case {
    const char* name;
    std::string body;
    const char* message;  // null: placed
    int count;            // at least: rewrites may split an instruction
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
    EXPECT_GE(r.Count(c.message), c.count) << r.log;
    EXPECT_EQ(r.Count("error X"), r.Count(c.message)) << r.log;
  }
}

TEST(GxlPs1Phases, Partitions) {
  struct Case {
    const char* name;
    const char* body;
    const char* slots;
  } cases[] = {
      {"no texture operation: no phase", "return c0 * c0;", "0:- 1:- 2:- 3:- 4:- 5:-"},
      {"a load feeding another runs in phase one, the other in phase two",
       "float4 p = tex2D(a, u0.xy); return tex2D(b, p.yx);", "0:tex2D 1:- 2:- 3:- 4:- 5:-|0:- 1:tex2D 2:- 3:- 4:- 5:-"},
      {"the stage keeps its sampler in both phases: phase two's r0 overwrites phase one's",
       "float4 p = tex2D(a, u0.xy); return float4(p.xyz * tex2D(a, p.xy).xyz, 1);",
       "0:tex2D 1:- 2:- 3:- 4:- 5:-|0:tex2D 1:- 2:- 3:- 4:- 5:-"},
      {"a user-bound sampler takes its register's stage", "return tex2D(d, u0.xy);", "0:- 1:- 2:- 3:tex2D 4:- 5:-"},
      {"texkill runs in phase two", "clip(u0.xyzz); return c0;", "0:texkill 1:- 2:- 3:- 4:- 5:-"},
      {"a texture coordinate read by arithmetic comes through texcrd", "return u1.xyzz * c0;",
       "0:texcoord 1:- 2:- 3:- 4:- 5:-"},
      {"tex2Dproj divides by w", "return tex2Dproj(a, u0);", "0:tex2Dproj 1:- 2:- 3:- 4:- 5:-"},
      {"tex2Dproj whose w copies z divides by z, reading a register in phase two", "return tex2Dproj(a, u0.xyzz);",
       "0:texcoord 1:- 2:- 3:- 4:- 5:-|0:texld_dz 1:- 2:- 3:- 4:- 5:-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ps1Run r(Program(c.body), 4);
    ASSERT_TRUE(r.Placed()) << r.log;
    EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
    EXPECT_EQ(Slots(*r.target), c.slots) << r.Dump();
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

// --- Compiled, validated and run -------------------------------------------------------

using nura::shtok::Float4;

Compiled CompilePs14(const std::string& source) { return CompileHlsl(source, "ps_1_4"); }

// Each sampler's texture: smooth, in [0.1, 0.9], different per sampler.
Float4 Texture(char sampler, float u, float v) {
  const float k = static_cast<float>(sampler - 'a');
  return Float4(0.5f + 0.4f * std::sin(1.3f * u + k), 0.5f + 0.4f * std::cos(0.7f * v - k), 0.25f + 0.5f * u * v,
                0.75f - 0.05f * k);
}
// The pixel's inputs: z and w of every texture coordinate at least 0.5.
Float4 Texcoord(int k) {
  const float f = static_cast<float>(k);
  return Float4(0.1f + 0.13f * f, 0.8f - 0.11f * f, 0.5f + 0.07f * f, 0.6f + 0.05f * f);
}
const Float4 kColour(0.9f, 0.4f, 0.7f, 0.3f);

Float4 Mul(const Float4& a, const Float4& b) { return Float4(a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]); }
// float4(a.xyz * b.xyz, 1)
Float4 Rgb1(const Float4& a, const Float4& b) { return Float4(a[0] * b[0], a[1] * b[1], a[2] * b[2], 1); }

struct Pixel {
  Float4 colour;
  bool killed = false;
};

// One pixel through the interpreter in strict mode; "" or why it cannot run.
std::string RunPixel(const Compiled& c, Pixel* out) {
  nura::shtok::Interpreter interp;
  std::string error;
  if (!interp.Load(c.code.data(), c.code.size(), &error)) return error;
  interp.SetStrict(true);
  std::map<int, char> stages;
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
    const INT index = c.table ? c.table->SamplerIndex(c.table->ConstantByName(nullptr, name)) : -1;
    if (index >= 0) stages[index] = name[0];
  }
  interp.SetSampler([&](const nura::shtok::SampleRequest& r) {
    const auto found = stages.find(r.sampler);
    const float nan = std::nanf("");
    return found == stages.end() ? Float4(nan, nan, nan, nan) : Texture(found->second, r.coord[0], r.coord[1]);
  });
  nura::shtok::Lane lane;
  for (int k = 0; k < 6; ++k) lane.t[k] = Texcoord(k);
  lane.v[0] = kColour;
  if (!interp.Run(&lane, 1, &error)) return error;
  out->colour = lane.oC[0];
  out->killed = lane.killed;
  return "";
}

void ExpectPixel(const Compiled& c, const Pixel& want) {
  Pixel got;
  const std::string error = RunPixel(c, &got);
  ASSERT_EQ(error, "") << Text(c.code);
  EXPECT_EQ(got.killed, want.killed) << Text(c.code);
  if (want.killed) return;
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got.colour[i], want.colour[i], 1e-4f) << i << "\n" << Text(c.code);
}

TEST(GxlPs1Phases, CompiledProgramsRunAsWritten) {
  const Float4 u0 = Texcoord(0), u1 = Texcoord(1), u2 = Texcoord(2), u3 = Texcoord(3);
  const Float4 p = Texture('a', u0[0], u0[1]);
  std::string tail = "float4 p = tex2D(a, u0.xy); float4 q = tex2D(b, p.zy); float3 x = p.xyz;\n";
  Float4 x = p;
  for (int i = 0; i < 10; ++i) {
    tail += "x = x * x;\n";
    x = Mul(x, x);
  }
  const Float4 q = Texture('b', p[2], p[1]);
  struct Case {
    const char* name;
    std::string body;
    Pixel want;
  } cases[] = {
      {"a plain load", "return tex2D(a, u0.xy) * c0;", {Mul(p, kColour)}},
      {"a dependent load", "float4 p = tex2D(a, u0.xy); return tex2D(b, p.zy) * c0;", {Mul(q, kColour)}},
      {"phase two's load overwrites phase one's register",
       "float4 p = tex2D(a, u0.xy); return float4(p.xyz * tex2D(a, p.xy).xyz, 1);",
       {Rgb1(p, Texture('a', p[0], p[1]))}},
      {"a texture coordinate read by arithmetic",
       "return float4(u2.xyz * c0.xyz, c0.w);",
       {Float4(u2[0] * kColour[0], u2[1] * kColour[1], u2[2] * kColour[2], kColour[3])}},
      {"tex2Dproj divides by w", "return tex2Dproj(a, u2);", {Texture('a', u2[0] / u2[3], u2[1] / u2[3])}},
      {"tex2Dproj whose w copies z divides by z",
       "return tex2Dproj(a, u2.xyzz);",
       {Texture('a', u2[0] / u2[2], u2[1] / u2[2])}},
      {"a user-bound sampler", "return tex2D(d, u3.xy);", {Texture('d', u3[0], u3[1])}},
      {"texkill of a load",
       "float4 p = tex2D(a, u0.xy); clip(p.xyzz - 0.3); return float4(p.xyz, 1);",
       {Float4(p[0], p[1], p[2], 1), p[0] < 0.3f || p[1] < 0.3f || p[2] < 0.3f}},
      {"a coordinate out of order", "return tex2D(a, u1.yx);", {Texture('a', u1[1], u1[0])}},
      {"a dependent coordinate out of order",
       "float4 p = tex2D(a, u0.xy); return tex2D(b, p.zy);",
       {Texture('b', p[2], p[1])}},
      {"a long tail split between the phases", tail + "return float4(x.xyz * q.xyz, 1);", {Rgb1(x, q)}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const Compiled c = CompilePs14(Program(k.body));
    ASSERT_EQ(c.hr, S_OK) << c.log;
    ExpectPixel(c, k.want);
    Ps1Run r(Program(k.body), 4);
    EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
  }
}

// Generated programs of plain and dependent loads, texkill and arithmetic:
// each compiles to validated code computing what C++ computes, its layout
// sound, or is refused as too complex for ps_1_4.
TEST(GxlPs1Phases, GeneratedProgramsRunAsWritten) {
  std::mt19937 random(144);
  int compiled = 0;
  for (int round = 0; round < 40; ++round) {
    std::string body;
    Pixel want;
    std::vector<std::pair<std::string, Float4>> plain, all;
    const int loads = 1 + static_cast<int>(random() % 5);
    for (int k = 0; k < loads; ++k) {
      const char sampler = static_cast<char>('a' + k);
      const int ui = static_cast<int>(random() % 6);
      const std::string name = "x" + std::to_string(k), u = "u" + std::to_string(ui);
      const Float4 uv = Texcoord(ui);
      std::string coordinate = u + ".xy";
      Float4 value = Texture(sampler, uv[0], uv[1]);
      const bool dependent = !plain.empty() && random() % 2;
      if (dependent) {
        const auto& from = plain[random() % plain.size()];
        if (random() % 2) {
          coordinate = from.first + ".zy";
          value = Texture(sampler, from.second[2], from.second[1]);
        } else {
          coordinate = "(" + from.first + ".xy + " + u + ".xy) * 0.5";
          value = Texture(sampler, (from.second[0] + uv[0]) * 0.5f, (from.second[1] + uv[1]) * 0.5f);
        }
      }
      body += "float4 " + name + " = tex2D(" + std::string(1, sampler) + ", " + coordinate + ");\n";
      (dependent ? all : plain).emplace_back(name, value);
    }
    all.insert(all.end(), plain.begin(), plain.end());
    body += "float3 s = c0.xyz;\n";
    Float4 sum = kColour;
    for (int n = 0; n < 2 + static_cast<int>(random() % 6); ++n) {
      const auto& v = all[random() % all.size()];
      if (random() % 3) {
        body += "s = s * " + v.first + ".xyz;\n";
        sum = Mul(sum, v.second);
      } else {
        body += "s = (s + " + v.first + ".xyz) * 0.5;\n";
        for (int i = 0; i < 3; ++i) sum[i] = (sum[i] + v.second[i]) * 0.5f;
      }
    }
    // texkill runs before phase two's arithmetic: it can test phase one's work only.
    if (random() % 4 == 0) {
      const auto& v = plain[0];
      body += "clip(" + v.first + ".xyzz - 0.3);\n";
      want.killed = v.second[0] < 0.3f || v.second[1] < 0.3f || v.second[2] < 0.3f;
    }
    want.colour = Float4(sum[0], sum[1], sum[2], kColour[3]);
    body += "return float4(s, c0.w);";
    SCOPED_TRACE(body);
    const Compiled c = CompilePs14(Program(body));
    if (FAILED(c.hr)) {
      // Some programs do not fit ps_1_4: no partition fits, or the best one
      // needs more than 8 arithmetic slots in a phase, which the validator refuses.
      EXPECT_TRUE(c.log.find("error X4500: program too complex to compile to ps_1_4") != std::string::npos ||
                  c.log.find("error X5020: ") != std::string::npos)
          << c.log;
      EXPECT_EQ(c.log.find("internal error"), std::string::npos) << c.log;
      continue;
    }
    ++compiled;
    ExpectPixel(c, want);
    Ps1Run r(Program(body), 4);
    EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
  }
  EXPECT_GE(compiled, 25);
}

// The search's winner built alone gives the same code as the whole search.
TEST(GxlPs1Phases, PinnedWinnerGivesTheSameCode) {
  struct Pinned : Ps1StandardRules {
    std::uint32_t* winner;
    bool pin;
    Pinned(std::uint32_t* w, bool p) : winner(w), pin(p) {}
    HRESULT BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) override {
      if (!trial) *winner = mask;
      if (pin && mask != *winner) return 0;
      return Ps1StandardRules::BuildPhaseLists14(t, mask, trial);
    }
  };
  const std::string source = Program(
      "float4 p = tex2D(a, u0.xy); float4 q = tex2D(b, u1.xy); float4 r = tex2D(c, p.zy);\n"
      "float3 x = p.xyz * q.xyz; x = x * x + c0.xyz; return float4(x * r.xyz, c0.w);");
  std::uint32_t winner = ~0u, pinnedWinner = ~0u;
  Ps1Run full(source, 4, std::make_unique<Pinned>(&winner, false));
  ASSERT_EQ(full.hr, S_OK) << full.log;
  pinnedWinner = winner;
  Ps1Run pinned(source, 4, std::make_unique<Pinned>(&pinnedWinner, true));
  ASSERT_EQ(pinned.hr, S_OK) << pinned.log;
  EXPECT_EQ(pinnedWinner, winner);
  ASSERT_TRUE(full.code && pinned.code);
  const auto bytes = [](DataBuffer* b) {
    const auto* p = static_cast<const std::uint8_t*>(b->GetPointer());
    return std::vector<std::uint8_t>(p, p + b->GetSize());
  };
  EXPECT_EQ(bytes(full.code.Get()), bytes(pinned.code.Get()));
}

// A long phase two gives arithmetic to phase one, within what the hardware
// runs: the producers are there first, colours stay in phase two.
TEST(GxlPs1Phases, BalancingShortensALongPhaseTwo) {
  std::string body = "float4 p = tex2D(a, u0.xy); float4 q = tex2D(b, p.xy); float3 x = p.xyz;\n";
  for (int i = 0; i < 12; ++i) body += "x = x * x;\n";
  Ps1Run r(Program(body + "return float4(x * q.xyz, 1);"), 4);
  ASSERT_TRUE(r.Placed()) << r.log;
  EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
  // Both phases within their 8 arithmetic slots.
  EXPECT_GE(ArithmeticEntries(*r.target, r.target->phaseOneList), 5u) << r.Dump();
  EXPECT_LE(ArithmeticEntries(*r.target, r.target->phaseOneList), 8u) << r.Dump();
  EXPECT_LE(ArithmeticEntries(*r.target, r.target->stageList), 8u) << r.Dump();

  // Everything reads a colour: nothing can move, phase two stays long (too
  // long for ps_1_4's registers: the lists are read before registers count).
  struct ListsOnly : Ps1StandardRules {
    HRESULT AssignRegisters(PixelShader1Target&, bool) override { return S_OK; }
  };
  std::string coloured = "float4 p = tex2D(a, u0.xy); float4 q = tex2D(b, p.xy); float3 x = c0.xyz;\n";
  for (int i = 0; i < 12; ++i) coloured += "x = x * x;\n";
  Ps1Run kept(Program(coloured + "return float4(x * q.xyz, 1);"), 4, std::make_unique<ListsOnly>());
  ASSERT_TRUE(kept.Placed()) << kept.log;
  EXPECT_EQ(LayoutFault(*kept.target), "") << kept.Dump();
  EXPECT_GE(ArithmeticEntries(*kept.target, kept.target->stageList), 12u) << kept.Dump();
}

// The balance by slots is for a program the standard balance cannot fit in
// eight slots a phase: there it fits both phases. A program the standard
// balance fits (its identity moves emit nothing, its output move folds)
// keeps it, and so does one neither balance fits.
TEST(GxlPs1Phases, BalancingBySlotsOnlyWhereTheStandardCannotFit) {
  const struct {
    const char* source;
    bool bySlots;
  } cases[] = {
      // Two chained matrix products: alphas carried across the phase fill
      // phase one before the instructions reading them follow.
      {"sampler s0;\n"
       "float4 main(float2 t : TEXCOORD0) : COLOR {\n"
       "  float4 c = tex2D(s0, t);\n"
       "  return mul(float4x4(1,0,0.5,0, 0,0.5,0.5,0, 1,0.5,0,0, 0,0,0,0),\n"
       "             mul(float4x4(0,0,0.5,0, 0,0,0.437,0, 0,0,-0.1,0, 0,0,0,0), c)); }\n",
       true},
      // Nine slots in phase two, the output move among them: it does not fold.
      {"uniform int v0; uniform float2x4 v1;\n"
       "float4 main() : COLOR {\n"
       "  bool r = (min((-5), v0) != (v1)._m00);\n"
       "  return float4((float)r, (float)0.0, (float)0.0, (float)0.0); }\n",
       true},
      {"uniform bool v0; uniform float v1; uniform int2 v2; uniform float2 v3;\n"
       "float4 main() : COLOR {\n"
       "  bool4 r = ((v0 ? ((bool2)(v1 ? v2 : int2(2, 9))) : (!(!v3)))).xyxx;\n"
       "  return float4((float)r.x, (float)r.y, (float)r.z, (float)r.w); }\n",
       false},
      {"sampler s0;\n"
       "float4 main(float2 t : TEXCOORD0) : COLOR { float4 c = tex2D(s0, t); return c * c.w + 0.5; }\n", false},
      // Some fifty slots: too long for either.
      {"float4 u1; float4 u2;\n"
       "float4 main(float4 icol1 : COLOR1, float4 icol : COLOR0) : COLOR0 {\n"
       "  float3 v1 = (((1.0 - saturate(lerp(icol.z, u2.y, u1.w))) < 0.5) ? (float3(dot((icol.xwx + icol.wzw), "
       "u1.xyw), dot((icol.xwx + icol.wzw), u1.xyw), dot((icol.xwx + icol.wzw), u1.xyw)) * ((((0.8 * u1.z) + "
       "icol1.z) < 0.5) ? ((u1.zwy * icol.wzz) + float3(0.3, 0.2, 0.0)) : icol1.wyz)) : (1.0 - min((icol.wxz + "
       "u1.zxy), u2.zyy)));\n"
       "  float v2 = (dot((1.0 - v1), (lerp(icol1.yzw, u2.xxx, u1.y) * u2.yzw)) * (0.75 - (((icol1.w + u2.z) >= "
       "0.5) ? icol1.y : max(u2.w, icol1.w))));\n"
       "  return lerp(v1.zyxy, float4(v2, v2, v2, v2), 0.5); }\n",
       false},
  };
  for (const auto& c : cases) {
    Ps1Run r(c.source, 4);
    ASSERT_TRUE(r.Placed()) << r.log << c.source;
    EXPECT_EQ(r.target->slotBalance14, c.bySlots) << r.Dump() << "\n" << c.source;
    EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump() << "\n" << c.source;
    if (!c.bySlots) continue;
    EXPECT_LE(r.target->CountSlots(r.target->phaseOneList), 8u) << r.Dump() << "\n" << c.source;
    EXPECT_LE(r.target->CountSlots(r.target->stageList), 8u) << r.Dump() << "\n" << c.source;
  }
}

// The carry-over takes its moves and copies from the target's 16 scratch
// moves and 64 scratch temporaries; a layout needing more does not fit.
TEST(GxlPs1Phases, CarryOverWithinTheScratchLimits) {
  Ps1Run r(Program("float4 p = tex2D(a, u0.xy); return float4(p.xyz * tex2D(a, p.xy).xyz, 1);"), 4);
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
  } cases[] = {{0, 0, S_OK}, {15, 0, S_OK}, {16, 0, 1}, {0, 61, S_OK}, {0, 62, 1}};
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
    EXPECT_EQ(move.word, IrWord(kOpMove, 3));  // the components of p phase two reads
    EXPECT_EQ(t.scratchMoveCount, c.moves + 1);
    EXPECT_EQ(t.scratchTemporaryCursor, c.copies + 3);
    for (std::uint32_t j = 0; j < 3; ++j) EXPECT_EQ(move.results[j], t.scratchTemporaries[c.copies + j]);
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
  const std::string source = Program(
      "float4 p = tex2D(a, u0.xy); return float4(p.xyz * tex2D(a, p.xy).xyz * tex2D(b, -p.zw).xyz + u1.xyz, 1);");
  Ps1Run r(source, 4);
  ASSERT_TRUE(r.Placed()) << r.log;
  EXPECT_EQ(LayoutFault(*r.target), "") << r.Dump();
  ExpectEveryAllocationFailureFails(source, 4);
}

}  // namespace

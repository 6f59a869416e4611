// Round trips through the token kit's decoder: random token streams built from
// the kit's own instruction list (not the assembler's tables) decode to text
// that assembles back to a stream decoding to the same text, and assembling
// that text again changes nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tests/gxl/shader/asm_run.h"
#include "tests/gxl/shader/shader_code.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace {

namespace ps = platform::shader;
using shadertest::AsmRun;
using shadertest::Assemble;
using shadertest::Dst;
using shadertest::Src;

// Version tokens of the format, in the kit's profile order.
constexpr DWORD kVersionTokens[ps::kProfileCount] = {0xFFFE0101, 0xFFFE0200, 0xFFFE0201, 0xFFFE02FF, 0xFFFE0300,
                                                     0xFFFE03FF, 0xFFFF0101, 0xFFFF0102, 0xFFFF0103, 0xFFFF0104,
                                                     0xFFFF0200, 0xFFFF0201, 0xFFFF02FF, 0xFFFF0300, 0xFFFF03FF};

struct Bank {
  DWORD type;
  DWORD count;
};

// Register files of each version as the format documents them (the smallest
// a device offers).
struct Registers {
  std::vector<Bank> sources, destinations;
};

Registers RegistersOf(const ps::Version& v) {
  using namespace shadertest;
  if (!v.pixel) {
    if (v.major == 1) return {{{kTemp, 12}, {kInput, 16}, {kConst, 96}}, {{kTemp, 12}, {kAttrOut, 2}, {kTexcrdOut, 8}}};
    if (v.major == 2)
      return {{{kTemp, 12}, {kInput, 16}, {kConst, 256}}, {{kTemp, 12}, {kAttrOut, 2}, {kTexcrdOut, 8}}};
    return {{{kTemp, 32}, {kInput, 16}, {kConst, 256}}, {{kTemp, 32}, {kTexcrdOut, 12}}};
  }
  if (v.major == 1) {
    const DWORD temps = v.minor == 4 ? 6 : 2;
    return {{{kTemp, temps}, {kTexture, 4}, {kInput, 2}, {kConst, 8}}, {{kTemp, temps}}};
  }
  if (v.major == 2) return {{{kTemp, 12}, {kTexture, 8}, {kInput, 2}, {kConst, 32}}, {{kTemp, 12}, {kColorOut, 4}}};
  return {{{kTemp, 32}, {kInput, 10}, {kConst, 224}}, {{kTemp, 32}, {kColorOut, 4}}};
}

class StreamMaker {
 public:
  StreamMaker(const ps::Version& v, std::uint32_t seed) : m_v(v), m_regs(RegistersOf(v)), m_rng(seed) {}

  std::vector<std::uint32_t> Make(int instructions) {
    std::vector<const ps::OpInfo*> ops;
    for (std::uint32_t op = 0; op <= 0xFFFF; ++op) {
      const ps::OpInfo* info = ps::FindOp(op);
      if (!info || !ps::Available(*info, m_v.profile) || info->shape != ps::kPlain) continue;
      if (info->cls != ps::kArith && info->cls != ps::kTexture) continue;
      if (op == ps::kSub && !m_v.Ps1x()) continue;  // assembled as add of the negation there
      ops.push_back(info);
    }
    std::vector<std::uint32_t> words = {m_v.token};
    for (int i = 0; i < instructions; ++i) {
      const int pick = Below(8);
      if (pick == 0) {
        Definition(&words);
      } else {
        Instruction(*ops[Below(static_cast<int>(ops.size()))], &words);
      }
    }
    words.push_back(shadertest::kEnd);
    return words;
  }

 private:
  std::uint32_t Random() { return static_cast<std::uint32_t>(m_rng()); }
  int Below(int n) { return static_cast<int>(Random() % static_cast<std::uint32_t>(n)); }
  bool OneIn(int n) { return Below(n) == 0; }
  DWORD Reg(const std::vector<Bank>& banks, DWORD* type) {
    const Bank& bank = banks[Below(static_cast<int>(banks.size()))];
    *type = bank.type;
    return bank.count > 4 && OneIn(2) ? Below(4) : Below(static_cast<int>(bank.count));
  }

  void Append(std::vector<std::uint32_t>* words, std::vector<std::uint32_t> body, std::uint32_t token) {
    if (m_v.AtLeast2()) token |= static_cast<std::uint32_t>(body.size()) << 24;
    words->push_back(token);
    words->insert(words->end(), body.begin(), body.end());
  }

  // def, defi or defb with values whose decimal text reads back exactly.
  void Definition(std::vector<std::uint32_t>* words) {
    const int kind = m_v.AtLeast2() && (m_v.Extended() || !m_v.pixel) ? Below(3) : 0;
    std::vector<std::uint32_t> body;
    if (kind == 0) {
      body.push_back(Dst(shadertest::kConst, Below(8)));
      for (int i = 0; i < 4; ++i) {
        const float f = std::ldexp(static_cast<float>(static_cast<int>(Random() % 2000001) - 1000000), -Below(12));
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        body.push_back(bits);
      }
      Append(words, body, ps::kDef);
    } else if (kind == 1) {
      body = {Dst(7, Below(16)), Random(), Random() % 256, Random() % 256, 0};
      Append(words, body, ps::kDefI);
    } else {
      body = {Dst(14, Below(16)), static_cast<std::uint32_t>(Below(2))};
      Append(words, body, ps::kDefB);
    }
  }

  std::uint32_t SourceModifier() {
    static constexpr int kPs1[] = {ps::kModNone,  ps::kModNeg,     ps::kModBias, ps::kModBiasNeg,
                                   ps::kModSign,  ps::kModSignNeg, ps::kModComp, ps::kModX2,
                                   ps::kModX2Neg, ps::kModDz,      ps::kModDw};
    static constexpr int kAbs[] = {ps::kModNone, ps::kModNeg, ps::kModAbs, ps::kModAbsNeg};
    int mod = OneIn(2) ? ps::kModNone : ps::kModNeg;
    if (m_v.Ps1x()) mod = kPs1[Below(11)];
    if (m_v.Is3()) mod = kAbs[Below(4)];
    return static_cast<std::uint32_t>(mod) << 24;
  }

  void Instruction(const ps::OpInfo& info, std::vector<std::uint32_t>* words) {
    const ps::Operands shape = ps::OperandsOf(info, m_v);
    const std::uint16_t op = info.op;
    std::uint32_t token = op;
    std::vector<std::uint32_t> body;
    if (shape.dst) {
      DWORD type;
      const DWORD number = Reg(m_regs.destinations, &type);
      std::uint32_t mask = 1 + Below(15);
      if (m_v.profile == ps::kVs11 && mask == 0xF && (op == ps::kM4x3 || op == ps::kM3x3 || op == ps::kM3x2)) mask = 7;
      std::uint32_t dst = Dst(type, number, mask);
      if (m_v.Ps1x() && OneIn(3)) dst |= static_cast<std::uint32_t>(std::array{1, 2, 3, 13, 14, 15}[Below(6)]) << 24;
      if ((m_v.pixel || m_v.Is3()) && OneIn(3)) dst |= 0x00100000;     // _sat
      if (m_v.pixel && m_v.AtLeast2() && OneIn(3)) dst |= 0x00200000;  // _pp
      body.push_back(dst);
    }
    if (m_v.Extended() && OneIn(6)) {
      token |= 0x10000000;  // predicated, on p0 with one component
      body.push_back((Src(19, 0) & ~0x00FF0000u) | static_cast<std::uint32_t>(Below(4) * 0x55) << 16 |
                     (OneIn(2) ? 0x0D000000u : 0));
    }
    if (op == ps::kSetP) token |= static_cast<std::uint32_t>(1 + Below(6)) << 16;
    if (op == ps::kTex && m_v.AtLeast2()) token |= static_cast<std::uint32_t>(Below(3)) << 16;
    if (m_v.Ps1x() && info.cls == ps::kArith && OneIn(6)) token |= 0x40000000;  // coissued
    const bool replicateW = m_v.profile == ps::kVs11 && (op == ps::kRcp || op == ps::kRsq || op == ps::kExp ||
                                                         op == ps::kLog || op == ps::kExpP || op == ps::kLogP);
    for (int i = 0; i < shape.sources; ++i) {
      DWORD type;
      const DWORD number = Reg(m_regs.sources, &type);
      std::uint32_t swizzle = OneIn(3) ? 0xE4 : Random() & 0xFF;
      if (replicateW && swizzle == 0xE4) swizzle = 0x1B;
      std::uint32_t src = (Src(type, number) & ~0x00FF0000u) | swizzle << 16 | SourceModifier();
      const bool relative = !m_v.pixel && type == shadertest::kConst && OneIn(4);
      if (relative) src |= 0x2000;
      body.push_back(src);
      if (relative && m_v.AtLeast2()) body.push_back(0xB0000000u | static_cast<std::uint32_t>(Below(4) * 0x55) << 16);
    }
    Append(words, body, token);
  }

  ps::Version m_v;
  Registers m_regs;
  std::mt19937 m_rng;
};

TEST(GxlShaderAsmRoundTrip, RandomProgramsOfEveryVersion) {
  for (int p = 0; p < ps::kProfileCount; ++p) {
    ps::Version v;
    ASSERT_TRUE(ps::ParseVersion(kVersionTokens[p], &v));
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
      StreamMaker maker(v, seed * 131 + static_cast<std::uint32_t>(p));
      const std::vector<std::uint32_t> x = maker.Make(40);
      std::string text, error;
      ASSERT_TRUE(nura::shtok::Disassemble(x.data(), x.size(), &text, &error)) << v.Name() << " " << error;
      const AsmRun first = Assemble(text);
      ASSERT_EQ(first.hr, S_OK) << text << first.log;
      std::string again;
      ASSERT_TRUE(nura::shtok::Disassemble(first.tokens.data(), first.tokens.size(), &again, &error)) << error;
      EXPECT_EQ(again, text);
      EXPECT_EQ(Assemble(again).tokens, first.tokens) << again;
    }
  }
}

// Definitions of infinities come back as they were; a NaN, which no literal
// of the syntax stands for, comes back as 0.
TEST(GxlShaderAsmRoundTrip, NonFiniteDefinitionsAssembleAgain) {
  const std::vector<std::uint32_t> code = {0xFFFE0101, 0x00000051, 0xA00F0000, 0x7F800000, 0xFF800000,
                                           0x7FC00000, 0x3F800000, 0x00000001, 0xC00F0000, 0xA0E40000, 0x0000FFFF};
  std::string text, error;
  ASSERT_TRUE(nura::shtok::Disassemble(code.data(), code.size(), &text, &error)) << error;
  const AsmRun run = Assemble(text);
  ASSERT_EQ(run.hr, S_OK) << text << run.log;
  std::vector<std::uint32_t> expected = code;
  expected[5] = 0;
  EXPECT_EQ(run.tokens, expected) << text;
}

using nura::shtok::Float4;

// Assembled programs run by the token kit's interpreter on random inputs
// against the same arithmetic in C++: operand order, swizzles, masks, source
// modifiers and sub written as an add of the negation.
TEST(GxlShaderAsmExec, InterpreterAgreesWithTheArithmetic) {
  struct Family {
    const char* prologue;
    const char* inputs[3];
    const char* output;
  };
  const Family families[] = {
      {"vs_1_1\ndcl_position v0\ndcl_normal v1\ndcl_texcoord v2\n", {"v0", "v1", "v2"}, "oPos"},
      {"vs_2_0\ndcl_position v0\ndcl_normal v1\ndcl_texcoord v2\n", {"v0", "v1", "v2"}, "oPos"},
      {"vs_3_0\ndcl_position v0\ndcl_normal v1\ndcl_texcoord v2\ndcl_position o0\n", {"v0", "v1", "v2"}, "o0"},
      {"ps_2_0\ndcl t0\ndcl t1\ndcl t2\n", {"t0", "t1", "t2"}, "oC0"},
      {"ps_3_0\ndcl_texcoord v0\ndcl_texcoord1 v1\ndcl_texcoord2 v2\n", {"v0", "v1", "v2"}, "oC0"},
  };
  using Fn = Float4 (*)(const Float4& a, const Float4& b, const Float4& c);
  struct Program {
    const char* body;  // A, B, C the inputs, O the output
    Fn expected;
  };
  const Program programs[] = {
      {"mov O, A.wzyx", [](const Float4& a, const Float4&, const Float4&) { return Float4(a[3], a[2], a[1], a[0]); }},
      {"add O, A, -B.x", [](const Float4& a, const Float4& b,
                            const Float4&) { return Float4(a[0] - b[0], a[1] - b[0], a[2] - b[0], a[3] - b[0]); }},
      {"sub r0, A, B\nmov O, r0",
       [](const Float4& a, const Float4& b, const Float4&) {
         return Float4(a[0] - b[0], a[1] - b[1], a[2] - b[2], a[3] - b[3]);
       }},
      {"sub r0, B, -A.yzxw\nmov O, r0",
       [](const Float4& a, const Float4& b, const Float4&) {
         return Float4(b[0] + a[1], b[1] + a[2], b[2] + a[0], b[3] + a[3]);
       }},
      {"mad O, A.yzxw, B, -C",
       [](const Float4& a, const Float4& b, const Float4& c) {
         return Float4(a[1] * b[0] - c[0], a[2] * b[1] - c[1], a[0] * b[2] - c[2], a[3] * b[3] - c[3]);
       }},
      {"mul r0.xz, A, B\nmov r0.yw, C.w\nmov O, r0",
       [](const Float4& a, const Float4& b, const Float4& c) { return Float4(a[0] * b[0], c[3], a[2] * b[2], c[3]); }},
      {"dp3 r0, A, B.zyxw\nmov O, r0.x",
       [](const Float4& a, const Float4& b, const Float4&) {
         const float d = a[0] * b[2] + a[1] * b[1] + a[2] * b[0];
         return Float4(d, d, d, d);
       }},
      {"min r0, A, B\nmax r1, B, C\nadd O, r0, -r1",
       [](const Float4& a, const Float4& b, const Float4& c) {
         Float4 r;
         for (int i = 0; i < 4; ++i) r[i] = std::min(a[i], b[i]) - std::max(b[i], c[i]);
         return r;
       }},
      {"rcp r0, A.y\nmov O, r0",
       [](const Float4& a, const Float4&, const Float4&) { return Float4(1 / a[1], 1 / a[1], 1 / a[1], 1 / a[1]); }},
  };
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> magnitude(0.5f, 4.0f);
  for (const Family& family : families) {
    for (const Program& program : programs) {
      std::string source = std::string(family.prologue) + program.body + "\n";
      const std::pair<char, const char*> names[] = {
          {'A', family.inputs[0]}, {'B', family.inputs[1]}, {'C', family.inputs[2]}, {'O', family.output}};
      for (const auto& [letter, name] : names)
        for (std::size_t at; (at = source.find(letter)) != std::string::npos;) source.replace(at, 1, name);
      const AsmRun run = Assemble(source);  // unvalidated: vs_1_1 reads one input per instruction
      ASSERT_EQ(run.hr, S_OK) << source << run.log;
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(run.tokens.data(), run.tokens.size(), &error)) << source << error;
      for (int trial = 0; trial < 8; ++trial) {
        Float4 in[3];
        for (Float4& f : in)
          for (int i = 0; i < 4; ++i) f[i] = magnitude(rng) * (rng() % 2 ? 1.0f : -1.0f);
        nura::shtok::Lane lane;
        for (int i = 0; i < 3; ++i) (family.inputs[i][0] == 't' ? lane.t : lane.v)[i] = in[i];
        ASSERT_TRUE(interp.Run(&lane, 1, &error)) << source << error;
        const Float4 out = family.output[1] == 'P'                              ? lane.oPos
                           : family.output[0] == 'o' && family.output[1] == '0' ? lane.o[0]
                                                                                : lane.oC[0];
        const Float4 want = program.expected(in[0], in[1], in[2]);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(out[i], want[i], 1e-5f * (1 + std::fabs(want[i]))) << source;
      }
    }
  }
}

}  // namespace

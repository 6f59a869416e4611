// The vertex target on programs whose registers are already assigned: the
// version tokens and encodings of the four profiles, the vs 1.x forms of
// address loads, frac and exp, the read-port rule, the output checks and
// what it cannot map. Code is read back by the token kit's disassembler and
// run in its interpreter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "../log_text.h"
#include "../tree_kit.h"
#include "target_fixture.h"
#include "gxl/shader/backend/targets/vertex_target.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace {

using namespace gxl::shader;
using Values = std::vector<std::uint32_t>;
using Code = std::vector<std::uint32_t>;
using nura::shtok::Float4;
using nura::shtok::Lane;

Values Join(Values a, const Values& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr DWORD kVs11 = 0xFFFE0101, kVs20 = 0xFFFE0200, kVs2a = 0xFFFE0202, kVs2sw = 0xFFFE02FF;

// The vertex target with the optimiser phases skipped: the test assigns the registers.
class AssignedVertexTarget : public VertexShaderTarget {
 public:
  using VertexShaderTarget::Compile;
  using VertexShaderTarget::VertexShaderTarget;
  HRESULT Compile(std::uint32_t* result) override {
    if (result) *result = 0;
    return S_OK;
  }

  Values Reg(StandardBank bank, std::uint32_t reg, const char* components = "xyzw") {
    return irkit::Registers(*this, StandardBankIndex(bank), reg, components);
  }
  void SetSemantic(const Values& values, const char* semantic) { irkit::SetSemantic(*this, values, semantic); }
  std::uint32_t Put(std::uint32_t group, std::uint32_t width, const Values& arguments, const Values& results) {
    return irkit::PutInstruction(*this, group, width, arguments, results);
  }
};

class GxlVsTarget : public ::testing::Test {
 protected:
  GxlVsTarget() : scope(&pages) {}

  AssignedVertexTarget& Make(DWORD version, std::uint32_t options = 0) {
    target.reset();
    log = std::make_unique<MessageLog>();
    target = std::make_unique<AssignedVertexTarget>(false);
    EXPECT_EQ(target->Init(nullptr, log.get(), version, options), S_OK);
    v0 = target->Reg(StandardBank::Inputs, 0);
    target->SetSemantic(v0, "POSITION");
    return *target;
  }
  // Components of r0, or of v0 (POSITION).
  Values Source(bool fromR0, const char* components) {
    const Values v = target->Reg(fromR0 ? StandardBank::Temporaries : StandardBank::Inputs, 0, components);
    if (!fromR0) target->SetSemantic(v, "POSITION");
    return v;
  }
  // The four components of oPos from `from`.
  void Position(const Values& from) {
    const Values out = target->Reg(StandardBank::Outputs, 0);
    target->SetSemantic(out, "POSITION");
    target->Put(kOpMove, 4, from, out);
  }
  HRESULT Compile(Code* code) { return targettest::CompileTarget(*target, code); }
  Code MustCompile() {
    Code code;
    EXPECT_EQ(Compile(&code), S_OK) << shadertest::LogText(*log);
    return code;
  }
  static std::string Text(const Code& code) {
    std::string text, error;
    return nura::shtok::Disassemble(code.data(), code.size(), &text, &error) ? text : "undecodable: " + error;
  }
  static int Count(const std::string& text, const std::string& line) {
    int n = 0;
    for (std::size_t at = 0; (at = text.find(line, at)) != std::string::npos; at += line.size()) ++n;
    return n;
  }
  Lane Run(const Code& code, const Float4& input, const std::vector<Float4>& constants = {}) {
    nura::shtok::Interpreter interp;
    std::string error;
    Lane lane;
    EXPECT_TRUE(interp.Load(code.data(), code.size(), &error)) << error << "\n" << Text(code);
    for (std::size_t r = 0; r < constants.size(); ++r) interp.SetFloat(static_cast<int>(r), constants[r]);
    lane.v[0] = input;
    EXPECT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << Text(code);
    return lane;
  }

  shadertest::TreePool trees;
  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope;
  std::unique_ptr<MessageLog> log;
  std::unique_ptr<AssignedVertexTarget> target;
  Values v0;
};

TEST_F(GxlVsTarget, VersionTokensAndInstructionLengths) {
  struct Row {
    DWORD profile, code;
    bool lengths;
  } rows[] = {
      {kVs11, 0xFFFE0101, false}, {kVs20, 0xFFFE0200, true}, {kVs2a, 0xFFFE0201, true}, {kVs2sw, 0xFFFE02FF, true}};
  for (const Row& row : rows) {
    AssignedVertexTarget& t = Make(row.profile);
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    t.Put(kOpAdd, 4, Join(v0, v0), r0);
    t.Reg(StandardBank::Temporaries, 7);  // unread: code generation drops it and renumbers the outputs
    Position(r0);
    const Code code = MustCompile();
    ASSERT_GE(code.size(), 2u);
    EXPECT_EQ(code[0], row.code) << std::hex << row.profile;
    const std::string text = Text(code);
    EXPECT_EQ(Count(text, "add r0, v0, v0"), 1) << text;
    // Every opcode token (bit 31 clear, not a comment) carries its length from 2.0 on.
    bool anyLength = false;
    for (std::size_t i = 1; i + 1 < code.size(); ++i) {
      const DWORD w = code[i];
      if ((w & 0xFFFF) == 0xFFFE) {
        i += w >> 16;
        continue;
      }
      if (!(w & 0x80000000u)) anyLength |= (w & 0x0F000000u) != 0;
    }
    EXPECT_EQ(anyLength, row.lengths) << std::hex << row.profile;
  }
}

// c[v0.x + 2] read by two instructions: vs_1_1 loads a0.x once and writes no
// address token; vs_2_0 reads through a0 loaded by mova.
TEST_F(GxlVsTarget, RelativeReadsLoadTheAddressRegisterOnce) {
  const std::vector<Float4> constants = {{0, 0, 0, 0}, {0, 0, 0, 0}, {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
  for (const DWORD profile : {kVs11, kVs20}) {
    AssignedVertexTarget& t = Make(profile, kOptionNoValidation);
    Values c = t.Reg(StandardBank::FloatConstants, 2);
    for (std::uint32_t v : c) t.Value(v)->relativeIndex = v0[0];
    const Values r0 = t.Reg(StandardBank::Temporaries, 0), r1 = t.Reg(StandardBank::Temporaries, 1);
    t.Put(kOpAdd, 4, Join(c, v0), r0);
    t.Put(kOpMultiply, 4, Join(r0, c), r1);
    Position(r1);
    const Code code = MustCompile();
    const std::string text = Text(code);
    if (profile == kVs11) {
      EXPECT_EQ(Count(text, "mov a0.x, v0.x"), 1) << text;
      EXPECT_EQ(text.find("mova"), std::string::npos) << text;
    } else {
      EXPECT_GE(Count(text, "mova a0"), 1) << text;  // a load before each reader
      EXPECT_EQ(Count(text, "mov a0"), 0) << text;
    }
    for (const float index : {0.0f, 1.0f, 2.0f}) {
      const Lane lane = Run(code, Float4(index, 0.5f, -1, 2), constants);
      const Float4& c = constants[2 + static_cast<int>(index)];
      const float in[4] = {index, 0.5f, -1, 2};
      for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(lane.oPos[i], (c[i] + in[i]) * c[i]) << text << " at " << index;
    }
  }
}

float Fraction(float x) { return x - std::floor(x); }

// vs_1_1's frc writes x and y only; other components go through expp's y.
// Where the results overwrite sources still to be read they are staged.
TEST_F(GxlVsTarget, Vs11FractionForms) {
  const float in[4] = {1.25f, -0.75f, 2.5f, -3.125f};
  struct Row {
    const char* what;
    const char* written;  // components of r0 the frac writes
    const char* read;     // components of the source
    bool fromR0;          // the source is r0 itself (r0 = v0 first)
    const char* line;     // a line the code must hold ("" for none)
    int expp;             // expp instructions expected
  } rows[] = {
      {"xy into xy", "xy", "xy", false, "frc r0.xy, v0", 0},
      {"z alone", "z", "z", false, "mov r0.z, r1.y", 1},
      {"all four", "xyzw", "xyzw", false, "frc r0.xy, v0", 0},
      {"swizzled onto itself", "xyzw", "zwxy", true, "", 0},
      {"y then z w", "yzw", "xyx", true, "", 1},
      {"one to three", "xyz", "w", false, "expp r1.y, v0.w", 1},
  };
  for (const Row& row : rows) {
    AssignedVertexTarget& t = Make(kVs11);
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    t.Put(kOpMove, 4, v0, r0);
    const Values source = Source(row.fromR0, row.read);
    const Values out = t.Reg(StandardBank::Temporaries, 0, row.written);
    const std::uint32_t n = static_cast<std::uint32_t>(out.size());
    t.Put(0x710, n, source, out);
    Position(r0);
    const Code code = MustCompile();
    const std::string text = Text(code);
    if (*row.line) {
      EXPECT_EQ(Count(text, row.line), 1) << row.what << "\n" << text;
    }
    EXPECT_EQ(Count(text, "expp"), row.expp) << row.what << "\n" << text;
    const Lane lane = Run(code, Float4(in[0], in[1], in[2], in[3]));
    float want[4] = {in[0], in[1], in[2], in[3]};
    for (std::uint32_t i = 0; i < n; ++i) {
      const int from = static_cast<int>(std::strchr("xyzw", row.read[source.size() == 1 ? 0 : i]) - "xyzw");
      want[std::strchr("xyzw", row.written[i]) - "xyzw"] = Fraction(in[from]);
    }
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(lane.oPos[i], want[i], 1e-6) << row.what << " component " << i << "\n" << text;
  }
}

// Partial-precision exp and log in vs_1_1: z (and for exp, x of a whole
// number) straight from expp or logp; other components through a scratch z;
// full precision uses exp and log.
TEST_F(GxlVsTarget, Vs11ExpAndLogForms) {
  const float in[4] = {2.0f, 0.5f, 3.0f, 1.5f};
  struct Row {
    const char* what;
    std::uint32_t group;
    bool partial;
    const char* written;
    const char* read;
    bool fromR0;
    bool wholeSource;  // the source carries the whole-number flag
    const char* line;
  } rows[] = {
      {"partial exp into z", kOpExp2, true, "z", "x", false, false, "expp r0.z, v0.x"},
      {"full exp into z", kOpExp2, false, "z", "x", false, false, "exp r0.z, v0.x"},
      {"partial exp of a whole number into x", kOpExp2, true, "x", "x", false, true, "expp r0.x, v0.x"},
      {"partial exp into y", kOpExp2, true, "y", "y", false, false, "mov r0.y, r1.z"},
      {"partial exp crossing itself", kOpExp2, true, "xy", "yx", true, false, ""},
      {"partial log into z", kOpLog2, true, "z", "z", false, false, "logp r0.z, v0.z"},
      {"partial log into x", kOpLog2, true, "x", "w", false, true, "mov r0.x, r1.z"},
      {"full log crossing itself", kOpLog2, false, "xy", "yx", true, false, ""},
  };
  for (const Row& row : rows) {
    AssignedVertexTarget& t = Make(kVs11);
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    t.Put(kOpMove, 4, v0, r0);
    const Values source = Source(row.fromR0, row.read);
    if (row.wholeSource)
      for (std::uint32_t v : source) t.Value(v)->flags |= kValueInteger;
    const Values out = t.Reg(StandardBank::Temporaries, 0, row.written);
    for (std::uint32_t v : out) t.Value(v)->flags |= row.partial ? kValueHalf : kValueFloat;
    t.Put(row.group, static_cast<std::uint32_t>(out.size()), source, out);
    Position(r0);
    const Code code = MustCompile();
    const std::string text = Text(code);
    if (*row.line) {
      EXPECT_EQ(Count(text, row.line), 1) << row.what << "\n" << text;
    }
    EXPECT_EQ(Count(text, row.partial ? (row.group == kOpExp2 ? "expp" : "logp")
                                      : (row.group == kOpExp2 ? "exp " : "log ")) > 0,
              true)
        << row.what << "\n"
        << text;
    const Lane lane = Run(code, Float4(in[0], in[1], in[2], in[3]));
    float want[4] = {in[0], in[1], in[2], in[3]};
    for (std::size_t i = 0; i < out.size(); ++i) {
      const float x = in[std::strchr("xyzw", row.read[i]) - "xyzw"];
      want[std::strchr("xyzw", row.written[i]) - "xyzw"] = row.group == kOpExp2 ? std::exp2(x) : std::log2(x);
    }
    // The partial forms are good to about 11 bits.
    const double tolerance = row.partial ? 2e-3 : 1e-5;
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(lane.oPos[i], want[i], tolerance * (1 + std::fabs(want[i]))) << row.what << " component " << i << "\n"
                                                                               << text;
  }
}

// One input and one constant register per instruction; from vs_2_0 at most
// two constant reads. The group that breaks the rule is named.
TEST_F(GxlVsTarget, ReadPorts) {
  struct Row {
    const char* what;
    DWORD profile;
    std::uint32_t group;
    const char* operands;  // one letter per group: v, w (a second input), c, d (a second constant), r, s, t
    std::uint32_t result, at;
  } rows[] = {
      {"two inputs", kVs20, kOpAdd, "vw", 1, 1},
      {"two constants", kVs11, kOpAdd, "cd", 1, 1},
      {"one input twice", kVs20, kOpAdd, "vv", 0, 0},
      {"an input and a constant", kVs11, kOpAdd, "vc", 0, 0},
      {"three temporaries", kVs20, 0x703, "rst", 0, 0},
      {"one constant thrice in vs_1_1", kVs11, 0x703, "ccc", 0, 0},
      {"one constant thrice in vs_2_0", kVs20, 0x703, "ccc", 1, 2},
      {"a constant, an input, another constant", kVs2a, 0x703, "cvd", 1, 2},
      {"matrix rows after an input", kVs20, 0x707, "vc", 0, 0},
      {"matrix rows after a constant", kVs20, 0x707, "dc", 1, 1},
  };
  for (const Row& row : rows) {
    AssignedVertexTarget& t = Make(row.profile);
    const Values v1 = t.Reg(StandardBank::Inputs, 1);
    for (std::uint32_t v : v0) t.Value(v)->registerKey = SemanticWord(kUsagePosition, 0);
    for (std::uint32_t v : v1) t.Value(v)->registerKey = SemanticWord(kUsageTexcoord, 0);
    Values arguments;
    for (const char* o = row.operands; *o; ++o) {
      const bool matrix = row.group == 0x707 && o != row.operands;
      for (std::uint32_t k = 0; k < (matrix ? 4u : 1u); ++k) {
        switch (*o) {
          case 'v':
            arguments = Join(arguments, v0);
            break;
          case 'w':
            arguments = Join(arguments, v1);
            break;
          case 'c':
            arguments = Join(arguments, t.Reg(StandardBank::FloatConstants, k));
            break;
          case 'd':
            arguments = Join(arguments, t.Reg(StandardBank::FloatConstants, 4 + k));
            break;
          default:
            arguments = Join(arguments, t.Reg(StandardBank::Temporaries, static_cast<std::uint32_t>(*o - 'r')));
            break;
        }
      }
    }
    const Values r9 = t.Reg(StandardBank::Temporaries, 9);
    const IrInstruction& inst = *t.Instruction(t.Put(row.group, 4, arguments, r9));
    std::uint32_t at = 0;
    EXPECT_EQ(t.NextArgumentToCopy(inst, &at), row.result) << row.what;
    if (row.result) {
      EXPECT_EQ(at, row.at) << row.what;
    }
  }
}

// Writes a vertex shader must make, and the scalar outputs.
TEST_F(GxlVsTarget, OutputChecks) {
  struct Row {
    const char* what;
    const char* position;  // components of oPos written
    const char* other;     // semantic of the second output
    const char* otherComponents;
    const char* message;
  } rows[] = {
      {"all of POSITION", "xyzw", "PSIZE", "x", nullptr},
      {"POSITION without w", "xyz", nullptr, nullptr,
       "error X4541: vertex shader must minimally write all four components of POSITION"},
      {"PSIZE in y", "xyzw", "PSIZE", "y", "error X4540: PSIZE must be a scalar"},
      {"FOG in z", "xyzw", "FOG", "xz", "error X4540: FOG must be a scalar"},
  };
  for (const Row& row : rows) {
    AssignedVertexTarget& t = Make(kVs20);
    const Values pos = t.Reg(StandardBank::Outputs, 0, row.position);
    t.SetSemantic(pos, "POSITION");
    t.Put(kOpMove, static_cast<std::uint32_t>(pos.size()), Values(v0.begin(), v0.begin() + pos.size()), pos);
    if (row.other) {
      const Values o = t.Reg(StandardBank::Outputs, 1, row.otherComponents);
      t.SetSemantic(o, row.other);
      t.Put(kOpMove, static_cast<std::uint32_t>(o.size()), Values(v0.begin(), v0.begin() + o.size()), o);
    }
    Code code;
    const HRESULT hr = Compile(&code);
    const std::string messages = shadertest::LogText(*log);
    if (!row.message) {
      EXPECT_EQ(hr, S_OK) << row.what << "\n" << messages;
    } else {
      EXPECT_EQ(hr, E_FAIL) << row.what;
      EXPECT_EQ(Count(messages, row.message), 1) << row.what << "\n" << messages;
    }
  }
}

// Operations without a vertex form, and breakc where the profile lacks it.
TEST_F(GxlVsTarget, OperationsWithoutAVertexForm) {
  struct Row {
    const char* what;
    DWORD profile;
    std::uint32_t group, width, arguments, results;
    bool maps;
  } rows[] = {
      {"cmp", kVs20, 0x300, 4, 12, 4, false},
      {"dsx", kVs2a, 0x10D, 4, 4, 4, false},
      {"dp2add", kVs20, 0x708, 1, 5, 1, false},
      {"clip", kVs20, 0x110, 4, 4, 4, false},
      {"texture sample", kVs2sw, 0x605, 4, 8, 4, false},
      {"breakc in vs_1_1", kVs11, 0x744, 1, 2, 1, false},
      {"breakc in vs_2_0", kVs20, 0x746, 1, 2, 1, false},
      {"breakc in vs_2_a", kVs2a, 0x745, 1, 2, 1, true},
      {"breakc in vs_2_sw", kVs2sw, 0x747, 1, 2, 1, true},
  };
  for (const Row& row : rows) {
    AssignedVertexTarget& t = Make(row.profile, kOptionNoValidation);
    Values arguments;
    while (arguments.size() < row.arguments) arguments.push_back(v0[arguments.size() % 4]);
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    const bool breaks = row.group >= 0x744 && row.group <= 0x747 && row.profile != kVs11;
    // The structured loop stands as it is: no rebuild of predicated blocks.
    if (breaks) t.profileLimits.booleanConstants = 0;
    if (breaks) t.Put(0x742, 1, t.Reg(StandardBank::IntConstants, 0, "x"), {});  // rep i0
    t.Put(row.group, row.width, arguments, Values(r0.begin(), r0.begin() + row.results));
    if (breaks) t.Put(0x74B, 0, {}, {});
    Position(v0);
    Code code;
    const HRESULT hr = Compile(&code);
    const std::string messages = shadertest::LogText(*log);
    if (row.maps) {
      EXPECT_EQ(hr, S_OK) << row.what << "\n" << messages;
      EXPECT_EQ(Count(Text(code), "break"), 1) << row.what << "\n" << Text(code);
    } else {
      EXPECT_EQ(hr, E_NOTIMPL) << row.what;
      EXPECT_EQ(Count(messages, "error X4532: cannot map expression to vertex shader instruction set"), 1)
          << row.what << "\n"
          << messages;
    }
  }
}

// The code-generation peepholes: dst from its pattern, nrm from dp3, rsq and
// multiply (from vs_2_0), a dot product writing the outputs its copy wrote.
TEST_F(GxlVsTarget, CodeGenerationPeepholes) {
  const Float4 in(2, 3, 4, 5), k(7, 11, 13, 17);
  const float length = std::sqrt(2.0f * 2 + 3 * 3 + 4 * 4);
  struct Row {
    const char* what;
    DWORD profile;
    int form;             // 0 dst, 1 nrm, 2 dot product into oPos
    const char* line;     // a line the code holds
    const char* missing;  // a word it must not hold
    float want[4];
  } rows[] = {
      {"dst", kVs11, 0, "dst r", "mov r1", {1 * 2, 3 * 11 * 3, 4 * 4, 17 * 5}},
      {"dst", kVs2a, 0, "dst r", "mov r1", {1 * 2, 3 * 11 * 3, 4 * 4, 17 * 5}},
      {"nrm", kVs20, 1, "nrm r", "rsq", {2 / length, 3 / length, 4 / length, 5}},
      {"no nrm before 2.0", kVs11, 1, "rsq", "nrm", {2 / length, 3 / length, 4 / length, 5}},
      {"dp4 into oPos", kVs20, 2, "dp4 oPos, v0, c0", "mov oPos", {184, 184, 184, 184}},
  };
  for (const Row& row : rows) {
    AssignedVertexTarget& t = Make(row.profile);
    const Values c0 = t.Reg(StandardBank::FloatConstants, 0);
    const Values r0 = t.Reg(StandardBank::Temporaries, 0), r1 = t.Reg(StandardBank::Temporaries, 1);
    const Values r2 = t.Reg(StandardBank::Temporaries, 2);
    if (row.form == 0) {
      const std::uint32_t one = t.AddValue(t.StandardBankIndex(StandardBank::Literals), 0, 0, 1.0);
      t.Put(kOpMove, 1, {one}, {r1[0]});
      t.Put(kOpMultiply, 1, {v0[1], c0[1]}, {r1[1]});
      t.Put(kOpMove, 1, {v0[2]}, {r1[2]});
      t.Put(kOpMove, 1, {c0[3]}, {r1[3]});
      t.Put(kOpMultiply, 4, Join(r1, v0), r2);
      Position(r2);
    } else if (row.form == 1) {
      t.Put(kOpMove, 4, v0, r0);
      const Values xyz(r0.begin(), r0.begin() + 3);
      t.Put(kOpDot, 3, Join(xyz, xyz), {r1[0]});
      t.Put(kOpRsq, 1, {r1[0]}, {r1[1]});
      t.Put(kOpMultiply, 3, Join(xyz, Values(3, r1[1])), {r2[0], r2[1], r2[2]});
      t.Put(kOpMove, 1, {v0[3]}, {r2[3]});
      Position(r2);
    } else {
      t.Put(kOpDot, 4, Join(v0, c0), {r1[0]});
      Position(Values(4, r1[0]));
    }
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_EQ(Count(text, row.line), 1) << row.what << "\n" << text;
    EXPECT_EQ(Count(text, row.missing), 0) << row.what << "\n" << text;
    const Lane lane = Run(code, in, {k});
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(lane.oPos[i], row.want[i], 1e-5 * (1 + std::fabs(row.want[i]))) << row.what;
  }
}

}  // namespace

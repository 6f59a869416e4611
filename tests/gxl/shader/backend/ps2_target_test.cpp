// The pixel shader 2.x target over programs with assigned registers: code
// that passes the platform's validator and the token kit's decoder, run in
// the kit's interpreter against C++ on procedural textures.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "../fail_alloc.h"
#include "gxl/shader/backend/targets/pixel_shader2_target.h"
#include "platform/src/d3d9/shader_tokens.h"
#include "target_fixture.h"

namespace targettest {
namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
using shadertest::LogText;

constexpr DWORD kPs20 = 0xFFFF0200, kPs2a = 0xFFFF0202, kPs2b = 0xFFFF0203, kPs2sw = 0xFFFF02FF;
constexpr DWORD kProfiles[] = {kPs20, kPs2a, kPs2b, kPs2sw};
constexpr float kConstant[4] = {0.75f, -0.5f, 1.5f, 0.25f};
constexpr float kCoordinate[4] = {0.25f, 0.625f, -0.75f, 2.0f};

// The procedural texture of every sampler: a smooth function of (u, v).
Float4 Texel(float u, float v) { return Float4(u, v, u * v + 0.25f, 1.0f - u); }

// The target with the optimiser phases left out (the test assigns
// registers) but for its own clean-up after allocation.
class Ps2Under : public PixelShader2Target {
 public:
  using PixelShader2Target::PixelShader2Target;
  using ShaderTarget::Compile;
  HRESULT Compile(std::uint32_t* result) override {
    if (result) *result = 0;
    return FinishSelection();
  }
};

class GxlPs2Target : public TargetTest {
 protected:
  Ps2Under& MakePs2(DWORD version, std::uint32_t options = 0, bool fragment = false) {
    ps2 = std::make_unique<Ps2Under>(fragment);
    EXPECT_EQ(ps2->Init(nullptr, &log, version, options), S_OK) << LogText(log);
    return *ps2;
  }
  HRESULT Compile(Code* code) { return CompileTarget(*ps2, code); }
  // The code of a compile that must succeed, checked by the decoder.
  Code MustCompile() {
    Code code;
    EXPECT_EQ(Compile(&code), S_OK) << LogText(log);
    EXPECT_TRUE(code.empty() || Disassembles(code)) << Text(code);
    return code;
  }
  Values Reg(StandardBank bank, std::uint32_t reg, const char* components = "xyzw") {
    return irkit::Registers(*ps2, ps2->StandardBankIndex(bank), reg, components);
  }
  Values Input(const char* semantic, std::uint32_t reg, const char* components = "xyzw") {
    const Values v = Reg(StandardBank::Inputs, reg, components);
    irkit::SetSemantic(*ps2, v, semantic);
    return v;
  }
  std::uint32_t Put(std::uint32_t group, std::uint32_t width, const Values& arguments, const Values& results) {
    return irkit::PutInstruction(*ps2, group, width, arguments, results);
  }
  // Moves four values to COLOR`n`.
  void Color(const Values& v, std::uint32_t n = 0, const char* components = "xyzw") {
    const Values out = Reg(StandardBank::Outputs, n, components);
    irkit::SetSemantic(*ps2, out, n == 0 ? "COLOR0" : n == 1 ? "COLOR1" : "COLOR2");
    Put(kOpMove, static_cast<std::uint32_t>(out.size()), v, out);
  }
  Values Negated(const Values& v) {
    Values out;
    for (std::uint32_t x : v) {
      out.push_back(ps2->AddValueCopy(ps2->Value(x)));
      ps2->Value(out.back())->binding |= 0x80000;
    }
    return out;
  }
  // One pixel of the code with t0-t1, c0 and the procedural texture set.
  Lane Run(const Code& code) {
    nura::shtok::Interpreter interp;
    std::string error;
    Lane lane;
    EXPECT_TRUE(interp.Load(code.data(), code.size(), &error)) << error << "\n" << Text(code);
    interp.SetFloat(0, Float4(kConstant[0], kConstant[1], kConstant[2], kConstant[3]));
    interp.SetSampler([](const nura::shtok::SampleRequest& r) { return Texel(r.coord[0], r.coord[1]); });
    for (int i = 0; i < 2; ++i) lane.t[i] = Float4(kCoordinate[0], kCoordinate[1], kCoordinate[2], kCoordinate[3]);
    lane.v[0] = Float4(0.5f, 0.25f, 0.125f, 1.0f);
    EXPECT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << Text(code);
    return lane;
  }
  static void ExpectNear(const Float4& got, const Float4& want, const std::string& what) {
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(got[i], want[i], 1e-5f * (1 + std::fabs(want[i]))) << what << " [" << i << "]";
  }
  static int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; at += word.size()) ++n;
    return n;
  }
  // Every source swizzle of the stream other than a sampler's, decoded.
  static std::vector<std::uint32_t> SourceSwizzles(const Code& code) {
    std::vector<std::uint32_t> swizzles;
    platform::shader::Version v;
    if (code.empty() || !platform::shader::ParseVersion(code[0], &v)) return swizzles;
    for (std::size_t at = 1; at < code.size();) {
      const platform::shader::Item item = platform::shader::ReadItem(code.data(), code.size(), at, v);
      if (item.kind == platform::shader::ItemKind::kInstruction)
        for (int s = 0; s < item.instr.sourceCount; ++s) {
          const std::uint32_t token = item.instr.src[s].token;
          const std::uint32_t type = (token >> 28 & 7) | (token >> 8 & 0x18);
          if (type != 10) swizzles.push_back(token >> 16 & 0xFF);
        }
      if (item.kind != platform::shader::ItemKind::kInstruction && item.kind != platform::shader::ItemKind::kComment)
        break;
      at = item.next;
    }
    return swizzles;
  }

  // The log's text so far, and what was logged after such a mark.
  std::string Logged() const {
    const std::string text = LogText(log);
    return text == "<null>" ? std::string() : text;
  }
  std::string LoggedSince(const std::string& mark) const { return Logged().substr(mark.size()); }

  std::unique_ptr<Ps2Under> ps2;
};

bool AllowedSwizzle(std::uint32_t s) {
  for (std::uint32_t a : {0x00u, 0x55u, 0xAAu, 0xFFu, 0xE4u, 0xC9u, 0xD2u, 0x1Bu})
    if (s == a) return true;
  return false;
}

TEST_F(GxlPs2Target, VersionTokensAndLimits) {
  struct Row {
    DWORD profile, code;
    std::uint32_t temporaries;
    bool restricted;
  };
  for (const Row& row : {Row{kPs20, 0xFFFF0200, 12, true}, Row{kPs2a, 0xFFFF0201, 22, false},
                         Row{kPs2b, 0xFFFF0201, 32, true}, Row{kPs2sw, 0xFFFF02FF, 32, false}}) {
    Ps2Under& t = MakePs2(row.profile);
    EXPECT_EQ(t.profileLimits.temporaries, row.temporaries);
    EXPECT_EQ(t.RestrictedSwizzles(), row.restricted);
    Color(Input("TEXCOORD0", 0));
    const Code code = MustCompile();
    ASSERT_FALSE(code.empty());
    EXPECT_EQ(code[0], row.code);
    ExpectNear(Run(code).oC[0], Float4(kCoordinate[0], kCoordinate[1], kCoordinate[2], kCoordinate[3]), "mov");
  }
  Ps2Under other(false);
  EXPECT_EQ(other.Init(nullptr, &log, 0xFFFF0201, 0), E_FAIL);
  EXPECT_NE(LogText(log).find("no profile exists for this pixel shader version"), std::string::npos);
}

// Coordinates that texld cannot read directly go through a temporary first.
TEST_F(GxlPs2Target, SampleCoordinatesThroughTemporaries) {
  enum Source { kTex1D, kConstant2D, kSwizzled, kNegated, kPlain };
  struct Row {
    Source source;
    int moves;
    Float4 want;
  };
  const float u = kCoordinate[0], v = kCoordinate[1];
  const Row rows[] = {
      {kTex1D, 1, Texel(u, u)},     {kConstant2D, 1, Texel(kConstant[0], kConstant[1])},
      {kSwizzled, 2, Texel(v, u)},  // ps_2_0 reads t0.y and t0.x in two moves
      {kNegated, 1, Texel(-u, -v)}, {kPlain, 0, Texel(u, v)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.source));
    MakePs2(kPs20);
    const std::uint32_t s0 = Reg(StandardBank::Samplers, 0, "x")[0];
    const Values r0 = Reg(StandardBank::Temporaries, 0);
    switch (row.source) {
      case kTex1D:
        Put(0x600, 1, {s0, Input("TEXCOORD0", 0, "x")[0]}, r0);
        break;
      case kConstant2D:
        Put(0x605, 2, Concat({s0, s0}, Reg(StandardBank::FloatConstants, 0, "xy")), r0);
        break;
      case kSwizzled:
        Put(0x605, 2, Concat({s0, s0}, Input("TEXCOORD0", 0, "yx")), r0);
        break;
      case kNegated:
        Put(0x605, 2, Concat({s0, s0}, Negated(Input("TEXCOORD0", 0, "xy"))), r0);
        break;
      case kPlain:
        Put(0x605, 2, Concat({s0, s0}, Input("TEXCOORD0", 0, "xy")), r0);
        break;
    }
    Color(r0);
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_EQ(Count(text, "\nmov r"), row.moves) << text;
    EXPECT_EQ(Count(text, "\ntexld"), 1) << text;
    if (row.source == kTex1D) {
      EXPECT_NE(text.find(".xy, t0.x\n"), std::string::npos) << text;
    }
    ExpectNear(Run(code).oC[0], row.want, text);
  }
}

TEST_F(GxlPs2Target, MinMaxBackIntoAnOperand) {
  struct Row {
    std::uint32_t group;
    bool inPlace;
    const char* opcode;  // what the code computes it with
  };
  for (const Row& row : {Row{kOpMax, true, "\ncmp"}, Row{kOpMax, false, "\nmax"}, Row{kOpMin, true, "\ncmp"},
                         Row{0x70B, false, "\nmin"}, Row{0x70C, true, "\ncmp"}}) {
    MakePs2(kPs20);
    const Values a = Reg(StandardBank::Temporaries, 0);
    Put(kOpMove, 4, Input("TEXCOORD0", 0), a);
    const Values out = Reg(StandardBank::Temporaries, row.inPlace ? 0 : 1);
    Put(row.group, 4, Concat(a, Reg(StandardBank::FloatConstants, 0)), out);
    Color(out);
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_NE(text.find(row.opcode), std::string::npos) << text;
    const bool max = row.group == kOpMax || row.group == 0x70C;
    Float4 want;
    for (int i = 0; i < 4; ++i)
      want[i] = max ? std::max(kCoordinate[i], kConstant[i]) : std::min(kCoordinate[i], kConstant[i]);
    ExpectNear(Run(code).oC[0], want, text);
  }
}

// slt and sge select between the literals 0 and 1, defined once.
TEST_F(GxlPs2Target, SetOnCompareThroughCmp) {
  MakePs2(kPs20);
  const Values t0 = Input("TEXCOORD0", 0), c0 = Reg(StandardBank::FloatConstants, 0);
  const Values less = Reg(StandardBank::Temporaries, 0), greaterEqual = Reg(StandardBank::Temporaries, 1);
  const Values sum = Reg(StandardBank::Temporaries, 2);
  Put(kOpLess, 4, Concat(t0, c0), less);
  Put(kOpGreaterEqual, 4, Concat(t0, c0), greaterEqual);
  Put(kOpAdd, 4, Concat(less, greaterEqual), sum);
  // Then sum.xy = (less.xy < t0.yx).
  const Values compared = Reg(StandardBank::Temporaries, 2, "xy");
  Put(kOpLess, 2, Concat({less[0], less[1]}, Input("TEXCOORD0", 0, "yx")), compared);
  Color({compared[0], compared[1], sum[2], sum[3]});
  const Code code = MustCompile();
  const std::string text = Text(code);
  EXPECT_EQ(Count(text, "\ndef "), 1) << text;
  EXPECT_EQ(Count(text, "\nslt"), 0) << text;
  EXPECT_EQ(Count(text, "\nsge"), 0) << text;
  EXPECT_GE(Count(text, "\ncmp"), 3) << text;
  Float4 want;
  for (int i = 0; i < 4; ++i) want[i] = 1.0f;  // slt + sge of the same pair; xy then compare again
  want[0] = (kCoordinate[0] < kConstant[0] ? 1.0f : 0.0f) < kCoordinate[1] ? 1.0f : 0.0f;
  want[1] = (kCoordinate[1] < kConstant[1] ? 1.0f : 0.0f) < kCoordinate[0] ? 1.0f : 0.0f;
  ExpectNear(Run(code).oC[0], want, text);
}

// ps_2_0 and ps_2_b read only eight swizzles: other reads are split or
// expanded into instructions that read allowed ones; ps_2_a and ps_2_sw
// take them as they are.
TEST_F(GxlPs2Target, RestrictedSwizzles) {
  for (const DWORD profile : kProfiles) {
    MakePs2(profile);
    const bool restricted = ps2->RestrictedSwizzles();
    const Values t0 = Input("TEXCOORD0", 0), c0 = Reg(StandardBank::FloatConstants, 0);
    const Values r0 = Reg(StandardBank::Temporaries, 0);
    Put(kOpMove, 4, t0, r0);
    // r2.x = dot(r0.yzw, c0.xyz); r1 = r0.xzyw + c0; r2.yzw = r1.yzw;
    // COLOR1 = r1. The dot product comes first, so that its expansion would
    // overwrite r0 before the add reads it, were its partial sums put there.
    const Values r1 = Reg(StandardBank::Temporaries, 1), r2 = Reg(StandardBank::Temporaries, 2);
    Put(kOpDot, 3, Concat({r0[1], r0[2], r0[3]}, {c0[0], c0[1], c0[2]}), {r2[0]});
    Put(kOpAdd, 4, Concat({r0[0], r0[2], r0[1], r0[3]}, c0), r1);
    Put(kOpMove, 3, {r1[1], r1[2], r1[3]}, {r2[1], r2[2], r2[3]});
    Color(r2);
    Color(r1, 1);
    // A temporary without a register yet takes no register number from the
    // expansion's fresh temporaries.
    ps2->AddValue(ps2->StandardBankIndex(StandardBank::Temporaries), kNoIndex, 0, 0.0);
    const Code code = MustCompile();
    const std::string text = Text(code);
    const std::vector<std::uint32_t> swizzles = SourceSwizzles(code);
    EXPECT_GE(swizzles.size(), 4u) << text;
    for (std::uint32_t swizzle : swizzles) EXPECT_TRUE(!restricted || AllowedSwizzle(swizzle)) << swizzle << text;
    EXPECT_EQ(Count(text, "\ndp3"), restricted ? 0 : 1) << text;
    EXPECT_EQ(Count(text, "\nadd"), restricted ? 2 : 1) << text;
    const float* t = kCoordinate;
    const float* c = kConstant;
    const Lane lane = Run(code);
    ExpectNear(lane.oC[0], Float4(t[1] * c[0] + t[2] * c[1] + t[3] * c[2], t[2] + c[1], t[1] + c[2], t[3] + c[3]),
               text);
    ExpectNear(lane.oC[1], Float4(t[0] + c[0], t[2] + c[1], t[1] + c[2], t[3] + c[3]), text);
  }
}

TEST_F(GxlPs2Target, OperationsEachProfileLacks) {
  struct Row {
    std::uint32_t group;
    DWORD profile;
    const char* message;  // null: compiles
  };
  const Row rows[] = {
      {kOpDdx, kPs20, "X4532: cannot map expression to pixel shader instruction set"},
      {kOpDdy, kPs2b, "X4532: cannot map expression to pixel shader instruction set"},
      {kOpDdx, kPs2a, nullptr},
      {kOpDdy, kPs2sw, nullptr},
      {0x604, kPs20, "X4532: texlod not supported on this target"},
      {0x609, kPs2a, "X4532: texlod not supported on this target"},
      {0x613, kPs2sw, "X4532: texlod not supported on this target"},
      {kOpLit, kPs2a, "X4532: cannot map expression to pixel shader instruction set"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.group);
    const std::string mark = Logged();
    MakePs2(row.profile);
    const Values t0 = Input("TEXCOORD0", 0);
    const Values r0 = Reg(StandardBank::Temporaries, 0);
    if (row.group >= 0x600) {
      const std::uint32_t s0 = Reg(StandardBank::Samplers, 0, "x")[0];
      Put(row.group, 4, Concat(Values(4, s0), t0), r0);
    } else {
      Put(row.group, 4, t0, r0);
    }
    Color(r0);
    Code code;
    const HRESULT hr = Compile(&code);
    if (!row.message) {
      EXPECT_EQ(hr, S_OK) << LoggedSince(mark);
      // dsx of a linear input is its step across the quad.
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(code.data(), code.size(), &error)) << error;
      Lane quad[4];
      for (int l = 0; l < 4; ++l) {
        const float x = static_cast<float>(l % 2), y = static_cast<float>(l / 2);
        quad[l].t[0] = Float4(0.5f * x + 3.0f * y, -2.0f * x, y, 1.0f);
      }
      ASSERT_TRUE(interp.Run(quad, 4, &error)) << error;
      const Float4 step = row.group == kOpDdx ? Float4(0.5f, -2.0f, 0, 0) : Float4(3.0f, 0, 1.0f, 0);
      for (const Lane& lane : quad) ExpectNear(lane.oC[0], step, Text(code));
    } else {
      EXPECT_TRUE(FAILED(hr));
      EXPECT_TRUE(code.empty());
      EXPECT_NE(LoggedSince(mark).find(row.message), std::string::npos) << LoggedSince(mark);
    }
  }
}

TEST_F(GxlPs2Target, OutputChecks) {
  struct Row {
    std::uint32_t colors[2];  // the components written of COLOR0 and COLOR1 (bit per component)
    std::uint32_t depth;      // component of DEPTH written, or 4 for none
    std::vector<std::string> messages;
  };
  const Row rows[] = {
      {{0x7, 0}, 4, {"X4529: COLOR0 must be a four-component vector"}},
      {{0, 0xF},
       4,
       {"X4530: pixel shader must minimally write all four components of COLOR0",
        "X4538: COLOR outputs must be contiguous from COLOR0 to COLORn"}},
      {{0xF, 0x3}, 4, {"X4529: COLOR1 must be a four-component vector"}},
      {{0xF, 0}, 1, {"X4528: DEPTH must be a scalar"}},
      {{0xF, 0xF}, 0, {}},
  };
  for (const Row& row : rows) {
    const std::string mark = Logged();
    MakePs2(kPs20);
    const Values t0 = Input("TEXCOORD0", 0);
    for (std::uint32_t n = 0; n < 2; ++n) {
      std::string letters;
      Values from;
      for (std::uint32_t c = 0; c < 4; ++c)
        if (row.colors[n] & (1u << c)) letters += "xyzw"[c], from.push_back(t0[c]);
      if (!letters.empty()) Color(from, n, letters.c_str());
    }
    if (row.depth < 4) {
      const Values out = Reg(StandardBank::Outputs, 4, std::string(1, "xyzw"[row.depth]).c_str());
      irkit::SetSemantic(*ps2, out, "DEPTH");
      Put(kOpMove, 1, {t0[0]}, out);
    }
    Code code;
    const HRESULT hr = Compile(&code);
    const std::string logged = LoggedSince(mark);
    EXPECT_EQ(hr, row.messages.empty() ? S_OK : E_FAIL) << logged;
    for (const std::string& m : row.messages) EXPECT_NE(logged.find(m), std::string::npos) << logged;
    if (row.messages.empty()) {
      const Lane lane = Run(code);
      ExpectNear(lane.oC[1], lane.t[0], Text(code));
      EXPECT_EQ(lane.oDepth, kCoordinate[0]);
    }
  }
}

// Input declarations carry the components read, centroid and partial
// precision; sampler declarations the texture kind; as the kit reads them.
TEST_F(GxlPs2Target, Declarations) {
  for (const std::uint32_t options : {0u, 0x20u}) {
    MakePs2(kPs20, options);
    const Values t0 = Input("TEXCOORD0", 0, "xy"), t1 = Input("TEXCOORD1", 1, "xyz"), v0 = Input("COLOR0", 2);
    for (std::uint32_t v : t1) ps2->Value(v)->flags |= kValueCentroid;
    const std::uint32_t s0 = Reg(StandardBank::Samplers, 0, "x")[0], s1 = Reg(StandardBank::Samplers, 1, "x")[0],
                        s2 = Reg(StandardBank::Samplers, 2, "x")[0];
    const Values a = Reg(StandardBank::Temporaries, 0), b = Reg(StandardBank::Temporaries, 1),
                 c = Reg(StandardBank::Temporaries, 2);
    Put(0x605, 2, Concat({s0, s0}, t0), a);
    Put(0x60F, 3, Concat({s1, s1, s1}, t1), b);
    Put(0x60A, 3, Concat({s2, s2, s2}, t1), c);
    const Values sum = Reg(StandardBank::Temporaries, 3), total = Reg(StandardBank::Temporaries, 4);
    Put(kOpAdd, 4, Concat(a, b), sum);
    Put(kOpAdd, 4, Concat(sum, c), total);
    const Values out = Reg(StandardBank::Temporaries, 5);
    Put(kOpMultiply, 4, Concat(total, v0), out);
    Color(out);
    const Code code = MustCompile();
    nura::shtok::Interpreter interp;
    std::string error;
    ASSERT_TRUE(interp.Load(code.data(), code.size(), &error)) << error;
    struct Want {
      int type;
      std::uint32_t number, mask;
      int modifiers, samplerType;
    };
    const int pp = options ? platform::shader::kResultPp : 0;
    const Want wants[] = {{3, 0, 0x3, pp, 0}, {3, 1, 0x7, pp | platform::shader::kResultCentroid, 0},
                          {1, 0, 0xF, 0, 0},  {10, 0, 0xF, 0, 2},
                          {10, 1, 0xF, 0, 3}, {10, 2, 0xF, 0, 4}};
    for (const Want& w : wants) {
      const nura::shtok::Declaration* found = nullptr;
      for (const nura::shtok::Declaration& d : interp.Declarations())
        if (d.type == w.type && d.number == w.number) found = &d;
      ASSERT_TRUE(found) << w.type << " " << w.number << "\n" << Text(code);
      EXPECT_EQ(found->mask, w.mask) << w.type << " " << w.number;
      EXPECT_EQ(found->modifiers, w.modifiers) << w.type << " " << w.number;
      EXPECT_EQ(found->samplerType, w.samplerType) << w.type << " " << w.number;
    }
  }
}

TEST_F(GxlPs2Target, SamplerAndDeclarationFailures) {
  {
    // Seventeen samplers: one more than any ps 2.x profile has.
    const std::string mark = Logged();
    MakePs2(kPs2b);
    const Values t0 = Input("TEXCOORD0", 0, "xy");
    Values sum = Reg(StandardBank::Temporaries, 0);
    Put(kOpMove, 4, Input("COLOR0", 0), sum);
    for (std::uint32_t i = 0; i < 17; ++i) {
      const std::uint32_t s = Reg(StandardBank::Samplers, i, "x")[0];
      const Values texel = Reg(StandardBank::Temporaries, 1), next = Reg(StandardBank::Temporaries, 0);
      Put(0x605, 2, Concat({s, s}, t0), texel);
      Put(kOpAdd, 4, Concat(sum, texel), next);
      sum = next;
    }
    Color(sum);
    Code code;
    EXPECT_EQ(Compile(&code), E_FAIL);
    EXPECT_TRUE(code.empty());
    EXPECT_NE(
        LoggedSince(mark).find("X4510: maximum number of samplers exceeded. ps_2_b target can have a maximum of 16"),
        std::string::npos)
        << LoggedSince(mark);
  }
  {
    // A sampler that nothing sampled has no kind to declare.
    const std::string mark = Logged();
    MakePs2(kPs20);
    EXPECT_EQ(ps2->DeclareSampler(Reg(StandardBank::Samplers, 3, "x")[0]), E_FAIL);
    EXPECT_NE(LoggedSince(mark).find("X4814: internal error: unexpected Alias on texture declaration"),
              std::string::npos)
        << LoggedSince(mark);
  }
}

TEST_F(GxlPs2Target, FragmentModeNamesInsteadOfDeclarations) {
  // Fragments are linked later; the validator does not read them.
  MakePs2(kPs20, kOptionNoValidation, true);
  const std::uint32_t s0 = Reg(StandardBank::Samplers, 0, "x")[0];
  const Values r0 = Reg(StandardBank::Temporaries, 0);
  Put(0x605, 2, Concat({s0, s0}, Input("TEXCOORD2", 2, "xy")), r0);
  const Values out = Reg(StandardBank::Outputs, 0);
  irkit::SetSemantic(*ps2, out, "COLOR0");
  Put(kOpMove, 4, r0, out);
  Code code;
  ASSERT_EQ(Compile(&code), S_OK) << Logged();
  ASSERT_FALSE(code.empty());
  EXPECT_EQ(code[0], 0x7FFF0200u);
  for (const std::uint32_t word : Body(code)) EXPECT_NE(word & 0x8000FFFF, 31u);  // no dcl
  EXPECT_TRUE(ps2->fragmentNames[0].Find("v_Texcoord2"));
}

// At most one input, one constant and one sampler register and three
// temporaries per instruction, and two uniform operands in all.
TEST_F(GxlPs2Target, ReadPorts) {
  MakePs2(kPs20);
  auto input = [&](std::uint32_t n, const char* semantic) {
    const Values v = Input(semantic, n);
    for (std::uint32_t x : v) ps2->Value(x)->registerKey = SemanticWord(kUsageTexcoord, n);
    return v;
  };
  const Values t0 = input(0, "TEXCOORD0"), t1 = input(1, "TEXCOORD1");
  const Values c0 = Reg(StandardBank::FloatConstants, 0), c1 = Reg(StandardBank::FloatConstants, 1);
  const Values r0 = Reg(StandardBank::Temporaries, 0), r1 = Reg(StandardBank::Temporaries, 1),
               r2 = Reg(StandardBank::Temporaries, 2), r3 = Reg(StandardBank::Temporaries, 3);
  const std::uint32_t s0 = Reg(StandardBank::Samplers, 0, "x")[0];
  // Uniform variables live in banks of their own beyond the standard ones:
  // they count as uniform operands, not as distinct constant registers.
  auto uniform = [&]() {
    const std::uint32_t bank =
        ps2->AddRegisterBankCopy(ps2->Bank(ps2->StandardBankIndex(StandardBank::FloatConstants)));
    return irkit::Registers(*ps2, bank, 0, "xyzw");
  };
  const Values u0 = uniform(), u1 = uniform(), u2 = uniform();
  struct Row {
    std::uint32_t group;
    std::vector<Values> groups;
    std::uint32_t violation, at;
  };
  const Row rows[] = {
      {kOpAdd, {t0, t1}, 1, 1},    {kOpAdd, {t0, t0}, 0, 0},    {kOpAdd, {c0, c1}, 1, 1},
      {kOpAdd, {c0, t0}, 0, 0},    {0x703, {c0, c0, c0}, 1, 2}, {0x703, {c0, r0, c0}, 0, 0},
      {0x703, {r0, r1, r2}, 0, 0}, {0x703, {r0, r1, t1}, 0, 0}, {0x605, {Values(4, s0), t0}, 0, 0},
      {0x300, {r3, r1, r2}, 0, 0}, {0x300, {u0, u1, r2}, 0, 0}, {0x300, {u0, u1, u2}, 1, 2},
      {0x703, {u0, c0, u0}, 1, 2},
  };
  for (const Row& row : rows) {
    Values arguments;
    for (const Values& g : row.groups) arguments = Concat(arguments, g);
    const std::uint32_t at = Put(row.group, 4, arguments, Reg(StandardBank::Temporaries, 5));
    std::uint32_t group = kNoIndex;
    EXPECT_EQ(ps2->NextArgumentToCopy(*ps2->Instruction(at), &group), row.violation) << at;
    EXPECT_TRUE(!row.violation || group == row.at) << at;
  }
}

// Register assignment may leave a move whose operands lie in several
// registers, partly in the one it writes: the move is split, through a
// scratch temporary where a part would overwrite what a later one reads.
TEST_F(GxlPs2Target, OperandsOverSeveralRegistersAfterAssignment) {
  for (const DWORD profile : {kPs20, kPs2a}) {
    MakePs2(profile);
    const Values r0 = Reg(StandardBank::Temporaries, 0);
    Put(kOpMove, 4, Input("TEXCOORD0", 0), r0);
    const Values c0 = Reg(StandardBank::FloatConstants, 0);
    const Values next = Reg(StandardBank::Temporaries, 0);
    Put(kOpMove, 4, {c0[0], r0[2], r0[1], r0[0]}, next);
    Color(next);
    const Code code = MustCompile();
    const float* t = kCoordinate;
    ExpectNear(Run(code).oC[0], Float4(kConstant[0], t[2], t[1], t[0]), Text(code));
  }
}

// A literal read through a folded negation (an alias carrying the negate
// bit) is defined like the literal it reads.
TEST_F(GxlPs2Target, LiteralsReadThroughAnAliasStay) {
  MakePs2(kPs20);
  const std::uint32_t one = ps2->AddValue(ps2->StandardBankIndex(StandardBank::Literals), 0, 0, 1.0);
  const std::uint32_t negated = ps2->AddValueCopy(ps2->Value(one));
  ps2->Value(negated)->alias = one;
  ps2->Value(negated)->binding = 0x80000;
  const Values t0 = Input("TEXCOORD0", 0);
  const Values r0 = Reg(StandardBank::Temporaries, 0);
  Put(kOpMultiply, 4, Concat(t0, {negated, negated, one, one}), r0);
  Color(r0);
  const Code code = MustCompile();
  const float* t = kCoordinate;
  ExpectNear(Run(code).oC[0], Float4(-t[0], -t[1], t[2], t[3]), Text(code));
}

// A failing scratch temporary in the coordinate copies ends the compile with
// a reason and no code; so does each failing allocation, leaking nothing.
TEST_F(GxlPs2Target, FailuresLeaveNoCode) {
  auto build = [&](HRESULT scratch) {
    MakePs2(kPs20, kOptionDebug | kOptionNoValidation);
    ps2->scratchFailure = scratch;
    const std::uint32_t s0 = Reg(StandardBank::Samplers, 0, "x")[0];
    const Values r0 = Reg(StandardBank::Temporaries, 0), r1 = Reg(StandardBank::Temporaries, 1);
    Put(0x605, 2, Concat({s0, s0}, Input("TEXCOORD0", 0, "yx")), r0);
    Put(kOpLess, 4, Concat(r0, Reg(StandardBank::FloatConstants, 0)), r1);
    Color(r1);
  };
  const std::string mark = Logged();
  build(E_FAIL);
  Code code;
  EXPECT_EQ(Compile(&code), E_FAIL);
  EXPECT_TRUE(code.empty());
  EXPECT_NE(LoggedSince(mark).find("X4004: program too complex"), std::string::npos) << LoggedSince(mark);

  // A rule that fails without saying why still fails the compile, with a reason.
  const std::string before = Logged();
  MakePs2(kPs20);
  const Values r0 = Reg(StandardBank::Temporaries, 0);
  Put(0x703, 2, Concat(Input("TEXCOORD0", 0, "xy"), Reg(StandardBank::FloatConstants, 0, "xy")), {r0[0], r0[1]});
  Color({r0[0], r0[1], r0[0], r0[1]});
  EXPECT_EQ(Compile(&code), E_FAIL);
  EXPECT_TRUE(code.empty());
  EXPECT_NE(LoggedSince(before).find("X4532: cannot map expression"), std::string::npos) << LoggedSince(before);

  build(S_OK);
  gxl::ComRef<DataBuffer> buffer;
  ASSERT_EQ(ps2->Compile(buffer.Put()), S_OK) << Logged();
  build(S_OK);
  shadertest::FailNthAllocation(~std::uint64_t{0});
  ASSERT_EQ(ps2->Compile(buffer.Put()), S_OK);
  const std::uint64_t total = shadertest::AllocationsCounted();
  shadertest::FailNthAllocation(0);
  ASSERT_GT(total, 10u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    build(S_OK);
    shadertest::FailNthAllocation(n);
    const HRESULT hr = ps2->Compile(buffer.Put());
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    ASSERT_TRUE(failed) << n;
    ASSERT_TRUE(FAILED(hr)) << "allocation " << n << " of " << total;
    ASSERT_FALSE(buffer);
  }
}

}  // namespace
}  // namespace targettest

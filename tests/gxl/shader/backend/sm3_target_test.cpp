// The shader model 3 target through the whole compile: what vs_3_0 declares
// and refuses, VFACE and VPOS as misc registers after the ordinary inputs,
// VFACE read through its +1/-1 temporary or directly as cmp's condition, the
// constant limits of the software profile, the 3.0 forms of sincos and loops
// and the read-port copies. Code is read back by the token kit's decoder and
// run in its interpreter; the compile itself runs the platform's validator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "../compiled_hlsl.h"
#include "../fail_alloc.h"
#include "../log_text.h"
#include "../tree_kit.h"
#include "gxl/shader/backend/targets/shader_model3_target.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/gxl/shader/hlsl_parse_run.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/test_target.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace {

using namespace gxl::shader;
using nura::shtok::Float4;
using nura::shtok::Lane;
using Code = std::vector<std::uint32_t>;

using Compiled = shadertest::CompiledHlsl;

Compiled Compile(const std::string& source, const char* entry, const char* profile, DWORD flags = 0) {
  return shadertest::CompileHlsl(source, entry, profile, flags);
}

// Runs one lane (a pixel without gradients, or a vertex) with its declared
// inputs set by `input`.
template <typename Input>
bool RunLane(const Compiled& c, Input input, Lane* lane, std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  *lane = Lane();
  input(interp, *lane);
  return interp.Run(lane, 1, error);
}

constexpr const char* kVertexProfiles[] = {"vs_3_0", "vs_3_sw"};
constexpr const char* kPixelProfiles[] = {"ps_3_0", "ps_3_sw"};

TEST(GxlSm3Target, VertexOutputsAreDeclaredWithTheirUsages) {
  const char source[] =
      "struct Out { float4 p : POSITION; float4 c0 : COLOR0; float4 c1 : COLOR1; float2 t0 : TEXCOORD0;\n"
      "  float3 t5 : TEXCOORD5; float size : PSIZE; float2 fog : FOG; float4 n : NORMAL2; };\n"
      "Out main(float4 p : POSITION, float4 q : TEXCOORD0) {\n"
      "  Out o; o.p = p; o.c0 = q; o.c1 = p * q; o.t0 = q.zw; o.t5 = p.xyz + 1; o.size = q.x;\n"
      "  o.fog = p.zw; o.n = q - p; return o; }\n";
  for (const char* profile : kVertexProfiles) {
    SCOPED_TRACE(profile);
    const Compiled c = Compile(source, "main", profile);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    // Each output once, with the components written; PSIZE with the full mask.
    const std::pair<const char*, const char*> declared[] = {
        {"dcl_position o", ""},      {"dcl_color o", ""}, {"dcl_color1 o", ""}, {"dcl_texcoord o", ".xy"},
        {"dcl_texcoord5 o", ".xyz"}, {"dcl_psize o", ""}, {"dcl_fog o", ".xy"}, {"dcl_normal2 o", ""}};
    std::vector<std::string> registers;
    for (const auto& [prefix, mask] : declared) {
      const std::vector<std::string> lines = c.Lines(prefix);
      ASSERT_EQ(lines.size(), 1u) << prefix << "\n" << c.text;
      const std::string reg = lines[0].substr(std::string(prefix).size() - 1);
      EXPECT_EQ(reg.substr(reg.find_first_of(".") == std::string::npos ? reg.size() : reg.find('.')), mask) << lines[0];
      registers.push_back(reg.substr(0, reg.find('.')));
    }
    std::sort(registers.begin(), registers.end());
    EXPECT_EQ(std::unique(registers.begin(), registers.end()), registers.end()) << c.text;
    // Run: every output holds what the source computes.
    Lane lane;
    std::string error;
    const Float4 p(0.5f, -1.0f, 2.0f, 0.25f), q(1.5f, 0.75f, -0.5f, 3.0f);
    ASSERT_TRUE(RunLane(
        c,
        [&](nura::shtok::Interpreter& interp, Lane& l) {
          for (const nura::shtok::Declaration& d : interp.Declarations())
            if (!d.output && d.type == 1) l.v[d.number] = d.usage == nura::shtok::kUsagePosition ? p : q;
        },
        &lane, &error))
        << error;
    nura::shtok::Interpreter interp;
    ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error));
    auto out = [&](int usage, int index) {
      const nura::shtok::Declaration* d = interp.FindDeclaration(usage, index, true);
      return d ? lane.o[d->number] : Float4(NAN, NAN, NAN, NAN);
    };
    for (int i = 0; i < 4; ++i) {
      EXPECT_FLOAT_EQ(out(nura::shtok::kUsagePosition, 0)[i], p[i]);
      EXPECT_FLOAT_EQ(out(nura::shtok::kUsageColor, 1)[i], p[i] * q[i]);
      EXPECT_FLOAT_EQ(out(nura::shtok::kUsageNormal, 2)[i], q[i] - p[i]);
    }
    EXPECT_FLOAT_EQ(out(nura::shtok::kUsagePSize, 0)[0], q[0]);
    EXPECT_FLOAT_EQ(out(nura::shtok::kUsageFog, 0)[1], p[3]);
    EXPECT_FLOAT_EQ(out(nura::shtok::kUsageTexCoord, 5)[2], p[2] + 1);
  }
}

TEST(GxlSm3Target, VertexProfilesSampleOnlyWithALevel) {
  const char source[] =
      "sampler2D s; samplerCUBE sc; float4 g;\n"
      "float4 plain(float2 t : TEXCOORD0) : POSITION { return tex2D(s, t); }\n"
      "float4 projected(float4 t : TEXCOORD0) : POSITION { return tex2Dproj(s, t); }\n"
      "float4 biased(float4 t : TEXCOORD0) : POSITION { return tex2Dbias(s, t); }\n"
      "float4 gradient(float2 t : TEXCOORD0) : POSITION { return tex2Dgrad(s, t, g.xy, g.zw); }\n"
      "float4 cube(float3 t : TEXCOORD0) : POSITION { return texCUBEgrad(sc, t, g.xyz, g.yzw); }\n"
      "float4 level(float2 t : TEXCOORD0) : POSITION { return tex2Dlod(s, float4(t, 0, 1)); }\n"
      "float4 clipped(float4 t : TEXCOORD0) : POSITION { clip(t); return t; }\n";
  struct Row {
    const char* entry;
    bool compiles;
  } rows[] = {{"plain", false}, {"projected", false}, {"biased", false}, {"gradient", false},
              {"cube", false},  {"level", true},      {"clipped", false}};
  for (const char* profile : kVertexProfiles) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(profile) + " " + row.entry);
      const Compiled c = Compile(source, row.entry, profile);
      if (row.compiles) {
        EXPECT_EQ(c.hr, S_OK) << c.log;
        EXPECT_EQ(c.Lines("texldl ").size(), 1u) << c.text;
        continue;
      }
      // texldd is a pixel instruction as well: refused, never emitted.
      EXPECT_EQ(c.hr, E_NOTIMPL) << c.log;
      EXPECT_TRUE(c.Logged("error X4532: cannot map expression to vertex shader instruction set")) << c.log;
      EXPECT_TRUE(c.code.empty());
    }
  }
  // The pixel profiles have every form.
  const char pixel[] =
      "sampler2D s; float4 g;\n"
      "float4 main(float4 t : TEXCOORD0) : COLOR {\n"
      "  return tex2D(s, t.xy) + tex2Dgrad(s, t.zw, g.xy, g.zw) + tex2Dlod(s, t) + tex2Dbias(s, t) + tex2Dproj(s, t); "
      "}\n";
  for (const char* profile : kPixelProfiles) {
    const Compiled c = Compile(pixel, "main", profile);
    ASSERT_EQ(c.hr, S_OK) << profile << "\n" << c.log;
    for (const char* op : {"texld ", "texldd ", "texldl ", "texldb ", "texldp "})
      EXPECT_EQ(c.Lines(op).size(), 1u) << profile << " " << op << "\n" << c.text;
  }
}

// A vertex shader has no dp2add: a two-component dot product stays mul and
// add there, and becomes dp2add only in the pixel profiles.
TEST(GxlSm3Target, TwoComponentDotProducts) {
  const char source[] =
      "float4 k;\n"
      "float4 vmain(float4 p : POSITION) : POSITION { return dot(p.xy, k.zw) + p; }\n"
      "float4 pmain(float4 p : TEXCOORD0) : COLOR { return dot(p.xy, k.zw) + p; }\n";
  const Float4 p(0.5f, -2.0f, 1.25f, 3.0f), k(0, 0, 4.0f, -0.75f);
  for (const char* profile : {"vs_3_0", "vs_3_sw", "ps_3_0", "ps_3_sw"}) {
    SCOPED_TRACE(profile);
    const bool vertex = profile[0] == 'v';
    const Compiled c = Compile(source, vertex ? "vmain" : "pmain", profile);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    EXPECT_EQ(c.Lines("dp2add").empty(), vertex) << c.text;
    Lane lane;
    std::string error;
    ASSERT_TRUE(RunLane(
        c,
        [&](nura::shtok::Interpreter& interp, Lane& l) {
          c.Set(interp, "k", k);
          l.v[0] = p;
        },
        &lane, &error))
        << error;
    const float d = p[0] * k[2] + p[1] * k[3];
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ((vertex ? lane.o[0] : lane.oC[0])[i], d + p[i]);
  }
}

constexpr char kFaceSource[] =
    "float4 k;\n"
    "float4 main(float2 t : TEXCOORD0, float face : VFACE, float2 pos : VPOS, float4 c : COLOR1,\n"
    "            float3 u : TEXCOORD5) : COLOR {\n"
    "  float4 r = t.xyxy * face + c;\n"
    "  r.z = face >= 0 ? k.x : k.y;\n"
    "  r.w += pos.x * 0.25 + pos.y + u.z;\n"
    "  return r; }\n";

TEST(GxlSm3Target, FaceAndPositionAreMiscRegistersAfterTheInputs) {
  for (const char* profile : kPixelProfiles) {
    SCOPED_TRACE(profile);
    const Compiled c = Compile(kFaceSource, "main", profile);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    nura::shtok::Interpreter interp;
    std::string error;
    ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
    std::vector<std::uint32_t> general;
    int face = 0, position = 0;
    for (const nura::shtok::Declaration& d : interp.Declarations()) {
      if (d.type == 17) {
        (d.number == 1 ? face : position) += 1;
        if (d.number == 0) {
          EXPECT_EQ(d.mask, 0x3u);  // vPos.xy
        }
      } else if (d.type == 1) {
        general.push_back(d.number);
      }
    }
    EXPECT_EQ(face, 1);
    EXPECT_EQ(position, 1);
    // The inputs declared around them keep consecutive v registers.
    std::sort(general.begin(), general.end());
    EXPECT_EQ(general, (std::vector<std::uint32_t>{0, 1, 2})) << c.text;
    EXPECT_TRUE(c.Has("dcl vFace")) << c.text;
  }
}

TEST(GxlSm3Target, FaceReadThroughItsTemporaryOrAsTheCondition) {
  const Float4 k(0.75f, -0.5f, 0, 0), c1(0.25f, 0.5f, 1.0f, 2.0f), t(0.125f, -3.0f, 0, 0), u(0, 0, 0.375f, 0);
  for (const char* profile : kPixelProfiles) {
    const Compiled c = Compile(kFaceSource, "main", profile);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    // One cmp makes the +1/-1 temporary, before anything else; one reads
    // vFace as its own condition; nothing else reads vFace.
    std::vector<std::string> faceReads;
    std::istringstream in(c.text);
    std::string first;
    for (std::string line; std::getline(in, line);) {
      if (first.empty() && line.rfind("dcl", 0) && line.rfind("def", 0) && line.rfind("ps_", 0) && line.rfind("//", 0))
        first = line;
      if (line.find("vFace") != std::string::npos && line.rfind("dcl", 0)) faceReads.push_back(line);
    }
    ASSERT_EQ(faceReads.size(), 2u) << c.text;
    EXPECT_EQ(first, faceReads[0]);
    for (const std::string& line : faceReads) EXPECT_EQ(line.rfind("cmp ", 0), 0u) << line;
    for (const float face : {1.0f, -1.0f}) {
      Lane lane;
      std::string error;
      const Float4 pos(3.0f, 5.0f, 0, 0);
      ASSERT_TRUE(RunLane(
          c,
          [&](nura::shtok::Interpreter& interp, Lane& l) {
            c.Set(interp, "k", k);
            for (const nura::shtok::Declaration& d : interp.Declarations()) {
              Float4* slot = d.type == 1 ? nura::shtok::DeclaredSlot(l, d) : nullptr;
              if (slot) *slot = d.usage == nura::shtok::kUsageColor ? c1 : d.usageIndex == 5 ? u : t;
            }
            l.vFace = face;
            l.vPos = pos;
          },
          &lane, &error))
          << error;
      const float want[4] = {t[0] * face + c1[0], t[1] * face + c1[1], face >= 0 ? k[0] : k[1],
                             t[1] * face + c1[3] + pos[0] * 0.25f + pos[1] + u[2]};
      for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(lane.oC[0][i], want[i]) << profile << " face " << face << " " << i;
    }
  }
}

TEST(GxlSm3Target, LimitsOfTheProfiles) {
  const char source[] =
      "bool flag : register(b2000);\n"
      "float4 flagged(float4 p : POSITION) : POSITION { float4 r = p; if (flag) r *= 2; return r; }\n"
      "sampler2D s0, s1, s2, s3, s4;\n"
      "float4 four(float4 t : TEXCOORD0) : POSITION {\n"
      "  return tex2Dlod(s0, t) + tex2Dlod(s1, t) + tex2Dlod(s2, t) + tex2Dlod(s3, t); }\n"
      "float4 five(float4 t : TEXCOORD0) : POSITION { return four(t) + tex2Dlod(s4, t); }\n";
  struct Row {
    const char* entry;
    const char* profile;
    const char* message;  // null: compiles
  } rows[] = {
      {"flagged", "vs_3_sw", nullptr},
      {"flagged", "vs_3_0", "error X4509: invalid register semantic 'b2000'"},
      {"four", "vs_3_0", nullptr},
      {"five", "vs_3_0", "error X4510: maximum number of samplers exceeded. vs_3_0 target can have a maximum of 4"},
  };
  for (const Row& row : rows) {
    const Compiled c = Compile(source, row.entry, row.profile);
    EXPECT_EQ(SUCCEEDED(c.hr), row.message == nullptr) << row.entry << " " << row.profile << "\n" << c.log;
    if (row.message) {
      EXPECT_TRUE(c.Logged(row.message)) << c.log;
    }
  }
  const Compiled c = Compile(source, "flagged", "vs_3_sw");
  EXPECT_TRUE(c.Has("if b2000")) << c.text;
}

// sincos takes its one source alone from 3.0 on, and a loop over a uniform
// count runs as often as the source says.
TEST(GxlSm3Target, SinCosAndLoopsOfVersion3) {
  const char source[] =
      "int n; float4 k;\n"
      "float4 trig(float4 p : POSITION) : POSITION {\n"
      "  float s, c; sincos(p.x, s, c); return float4(s, c, sin(p.y), cos(p.z)); }\n"
      "float4 loop(float4 p : POSITION) : POSITION {\n"
      "  float4 r = p * 0.5;\n"
      "  for (int i = 0; i < n; i++) r = r * k + 1;\n"
      "  return r; }\n";
  const Float4 p(0.5f, -1.25f, 2.0f, 0), k(0.5f, -1.0f, 0.25f, 2.0f);
  for (const char* profile : kVertexProfiles) {
    SCOPED_TRACE(profile);
    const Compiled trig = Compile(source, "trig", profile);
    ASSERT_EQ(trig.hr, S_OK) << trig.log;
    const std::vector<std::string> sincos = trig.Lines("sincos ");
    ASSERT_FALSE(sincos.empty()) << trig.text;
    for (const std::string& line : sincos) EXPECT_EQ(std::count(line.begin(), line.end(), ','), 1) << line;
    Lane lane;
    std::string error;
    ASSERT_TRUE(RunLane(
        trig, [&](nura::shtok::Interpreter&, Lane& l) { l.v[0] = p; }, &lane, &error))
        << error;
    const float want[4] = {std::sin(p[0]), std::cos(p[0]), std::sin(p[1]), std::cos(p[2])};
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(lane.o[0][j], want[j], 1e-5) << j;

    const Compiled loop = Compile(source, "loop", profile);
    ASSERT_EQ(loop.hr, S_OK) << loop.log;
    for (const int count : {0, 1, 3, 7}) {
      ASSERT_TRUE(RunLane(
          loop,
          [&](nura::shtok::Interpreter& interp, Lane& l) {
            loop.Set(interp, "k", k);
            loop.Set(interp, "n", Float4(static_cast<float>(count), 0, 0, 0));
            l.v[0] = p;
          },
          &lane, &error))
          << error;
      float r[4] = {p[0] * 0.5f, p[1] * 0.5f, p[2] * 0.5f, p[3] * 0.5f};
      for (int i = 0; i < count; ++i)
        for (int j = 0; j < 4; ++j) r[j] = r[j] * k[j] + 1;
      for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(lane.o[0][j], r[j]) << count << " " << j;
    }
  }
}

// Read ports: a texture coordinate from vPos goes through a copy.
TEST(GxlSm3Target, TextureCoordinatesFromPositionAreCopied) {
  const char source[] = "sampler2D s;\nfloat4 main(float2 v : VPOS) : COLOR { return tex2D(s, v * 0.5 + 0.25); }\n";
  const char direct[] = "sampler2D s;\nfloat4 main(float2 v : VPOS) : COLOR { return tex2D(s, v); }\n";
  for (const char* text : {source, direct}) {
    const Compiled c = Compile(text, "main", "ps_3_0");
    ASSERT_EQ(c.hr, S_OK) << c.log;
    const std::vector<std::string> texld = c.Lines("texld ");
    ASSERT_EQ(texld.size(), 1u) << c.text;
    EXPECT_EQ(texld[0].find("vPos"), std::string::npos) << c.text;
    Lane lane;
    std::string error;
    nura::shtok::Interpreter interp;
    ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
    interp.SetSampler([](const nura::shtok::SampleRequest& r) { return Float4(r.coord[0], r.coord[1], 1, 1); });
    lane.vPos = Float4(6.0f, 10.0f, 0, 0);
    ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
    const bool scaled = text == source;
    EXPECT_FLOAT_EQ(lane.oC[0][0], scaled ? 3.25f : 6.0f);
    EXPECT_FLOAT_EQ(lane.oC[0][1], scaled ? 5.25f : 10.0f);
  }
}

// A sampling instruction writes temporaries only: a sample returned as the
// colour is moved to oC0.
TEST(GxlSm3Target, SampledOutputsGoThroughATemporary) {
  const char source[] = "sampler2D s;\nfloat4 main(float2 t : TEXCOORD0) : COLOR { return tex2D(s, t); }\n";
  for (const char* profile : kPixelProfiles) {
    const Compiled c = Compile(source, "main", profile);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    EXPECT_TRUE(c.Has("texld r0, v0, s0")) << c.text;
    EXPECT_TRUE(c.Has("mov oC0, r0")) << c.text;
  }
}

// The read-port rule on instructions built by hand: vFace takes no port
// beside another input, two inputs or two constants break the rule, and a
// sampling instruction may not read vPos.
TEST(GxlSm3Target, ReadPortsOfTheSpecialInputs) {
  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope(&pages);
  shadertest::TreePool trees;
  MessageLog log;
  ShaderModel3Target target(false);
  ASSERT_EQ(target.Init(nullptr, &log, 0xFFFF0300, 0), S_OK);
  const std::uint32_t inputs = target.StandardBankIndex(StandardBank::Inputs);
  const std::uint32_t constants = target.StandardBankIndex(StandardBank::FloatConstants);
  const std::uint32_t temporaries = target.StandardBankIndex(StandardBank::Temporaries);
  const irkit::Values face = irkit::Registers(target, inputs, 0, "x");
  const irkit::Values t0 = irkit::Registers(target, inputs, 1, "x");
  const irkit::Values t1 = irkit::Registers(target, inputs, 2, "x");
  const irkit::Values position = irkit::Registers(target, inputs, 3, "xy");
  irkit::SetSemantic(target, face, "VFACE");
  irkit::SetSemantic(target, t0, "TEXCOORD0");
  irkit::SetSemantic(target, t1, "TEXCOORD1");
  irkit::SetSemantic(target, position, "VPOS");
  // The semantics as the compile binds them before its port checks.
  for (const irkit::Values* input : {&face, &t0, &t1, &position})
    for (const std::uint32_t v : *input) ASSERT_EQ(target.CheckSemantics(v, 0), S_OK) << shadertest::LogText(log);
  const irkit::Values c0 = irkit::Registers(target, constants, 0, "x");
  const irkit::Values c1 = irkit::Registers(target, constants, 1, "x");
  const std::uint32_t sampler = irkit::Registers(target, target.StandardBankIndex(StandardBank::Samplers), 0, "x")[0];
  auto result = [&](std::uint32_t reg, const char* components) {
    return irkit::Registers(target, temporaries, reg, components);
  };
  struct Row {
    const char* what;
    std::uint32_t group, width;
    irkit::Values arguments;
    std::uint32_t violation;  // the argument group to copy, or kNoIndex
  } rows[] = {
      {"cmp of vFace and one input", 0x300, 1, irkit::Concat(irkit::Concat(face, t0), c0), kNoIndex},
      {"cmp of vFace and two inputs", 0x300, 1, irkit::Concat(irkit::Concat(face, t0), t1), 2},
      {"add of two inputs", 0x204, 1, irkit::Concat(t0, t1), 1},
      {"add of two constants", 0x204, 1, irkit::Concat(c0, c1), 1},
      {"add of vPos and a constant", 0x204, 2, irkit::Concat(position, irkit::Concat(c0, c0)), kNoIndex},
      {"sample at vPos", 0x605, 2, irkit::Concat({sampler, sampler}, position), 1},
  };
  std::uint32_t reg = 0;
  for (const Row& row : rows) {
    const std::uint32_t at = irkit::PutInstruction(target, row.group, row.width, row.arguments,
                                                   result(reg++, row.width == 1   ? "x"
                                                                 : row.width == 2 ? "xy"
                                                                                  : "xyzw"));
    std::uint32_t group = kNoIndex;
    const std::uint32_t broken = target.NextArgumentToCopy(*target.Instruction(at), &group);
    EXPECT_EQ(broken, row.violation == kNoIndex ? 0u : 1u) << row.what;
    if (row.violation != kNoIndex) {
      EXPECT_EQ(group, row.violation) << row.what;
    }
    // vFace may be read directly only as a condition.
    EXPECT_EQ(target.CanReadFace(*target.Instruction(at), 0), 1u) << row.what;
  }
  const std::uint32_t add = irkit::PutInstruction(target, 0x204, 1, irkit::Concat(t0, face), result(reg++, "x"));
  EXPECT_EQ(target.CanReadFace(*target.Instruction(add), 1), 0u);
}

// One HLSL source lowered onto a shader model 3 target the test keeps.
struct Lowered {
  Lowered(const std::string& text, DWORD version) : parse(text) {
    if ((hr = parse.hr) != S_OK) return;
    auto t = std::make_unique<ShaderModel3Target>(false);
    target = t.get();
    compiler.source = &parse.pp;
    compiler.version = version;
    compiler.options = kOptionNoValidation;  // a validator that cannot be made is no failure
    compiler.tree = parse.tree;
    compiler.target = std::move(t);
    hr = compiler.LowerProgram();
    ParseNodeKind10* function = SUCCEEDED(hr) ? compiler.FindEntryPoint("main") : nullptr;
    if (SUCCEEDED(hr)) hr = function ? compiler.LowerFunction("main", function, nullptr, nullptr, 1, 0) : E_FAIL;
    if (SUCCEEDED(hr) && compiler.errorFlag) hr = E_FAIL;
  }
  shadertest::ParseRun parse;
  PagePool irPages{0x100000, 0x10000};
  IrPoolScope scope{&irPages};
  ShaderCompiler compiler;  // owns the target; goes before the pools
  ShaderModel3Target* target = nullptr;
  HRESULT hr = E_FAIL;
};

// Every allocation of the target's compile failing in turn fails it cleanly:
// no code, and nothing leaked (the sanitizer build checks the leaks).
class GxlSm3TargetAllocation : public ::testing::TestWithParam<DWORD> {};

TEST_P(GxlSm3TargetAllocation, EachFailingLeaksNothing) {
  {
    const DWORD version = GetParam();
    const std::string source = version == 0xFFFF0300u
                                   ? std::string(kFaceSource)
                                   : "int n; float4 k;\n"
                                     "float4 main(float4 p : POSITION) : POSITION {\n"
                                     "  float4 r = p; for (int i = 0; i < n; i++) r = r * k + 1; return r; }\n";
    std::uint64_t total = 0;
    {
      Lowered run(source, version);
      ASSERT_EQ(run.hr, S_OK);
      gxl::ComRef<DataBuffer> code;
      shadertest::FailNthAllocation(~std::uint64_t{0});
      ASSERT_EQ(run.target->Compile(code.Put()), S_OK);
      total = shadertest::AllocationsCounted();
      shadertest::FailNthAllocation(0);
    }
    ASSERT_GT(total, 10u);
    for (std::uint64_t n = 1; n <= total; ++n) {
      Lowered run(source, version);
      ASSERT_EQ(run.hr, S_OK);
      gxl::ComRef<DataBuffer> code;
      shadertest::FailNthAllocation(n);
      HRESULT hr;
      try {
        hr = run.target->Compile(code.Put());
      } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;  // a standard container's own failure
      }
      const bool failed = shadertest::AllocationFailed();
      shadertest::FailNthAllocation(0);
      ASSERT_TRUE(failed) << n;
      EXPECT_TRUE(FAILED(hr)) << "allocation " << n << " of " << total;
      EXPECT_FALSE(code) << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Profiles, GxlSm3TargetAllocation, ::testing::Values(0xFFFF0300u, 0xFFFE0300u),
                         [](const auto& info) { return info.param == 0xFFFF0300u ? "ps_3_0" : "vs_3_0"; });

}  // namespace

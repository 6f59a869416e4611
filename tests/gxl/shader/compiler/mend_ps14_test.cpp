// ps_1_4 programs that used to end in faults: two chained matrix products of
// a texture read (a register closure that one partition's trial could not
// close was reported as an internal error, and the standard phase balance
// left phase two too long), and a co-issued pair reading four constant
// registers, because literals were counted by value after constant
// assignment had put equal values in different registers. The code is
// checked outside the compiler: pairs by the disassembly's registers,
// values in the token kit's interpreter.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/hlslgen/procedural_sampler.h"
#include "tests/support/shader/interp.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
using shadertest::CompiledHlsl;
using shadertest::CompileHlsl;

constexpr DWORD kNoValidation = 0x2, kNoOptimisation = 0x4;

// The registers (file letter and number) an operand of the disassembly names:
// "-r3.w", "1-r1", "r3_bias.w", "c4.w", "v1.z".
std::string RegisterOf(std::string operand) {
  std::size_t at = operand.find_first_not_of(" -1");
  if (at == std::string::npos) return {};
  operand = operand.substr(at);
  std::size_t end = 1;
  while (end < operand.size() && std::isdigit(static_cast<unsigned char>(operand[end]))) ++end;
  return end > 1 ? operand.substr(0, end) : std::string{};
}

struct Pairs {
  int checked = 0;               // co-issued pairs seen
  int threeConstants = 0;        // of them, pairs reading three c# registers
  std::string fault;             // the first pair past a file's three registers
};

// Every co-issued pair of the disassembly: the two instructions together may
// read at most three different registers of any one file.
void CheckPairs(const std::string& text, Pairs* pairs) {
  std::istringstream in(text);
  std::string previous, line;
  auto sources = [](const std::string& instruction, std::map<char, std::set<std::string>>* files) {
    const std::size_t space = instruction.find(' ');
    if (space == std::string::npos) return;
    std::istringstream operands(instruction.substr(space + 1));
    std::string operand;
    for (bool destination = true; std::getline(operands, operand, ','); destination = false) {
      const std::string reg = RegisterOf(operand);
      if (!destination && !reg.empty()) (*files)[reg[0]].insert(reg);
    }
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '+') {
      std::map<char, std::set<std::string>> files;
      sources(previous, &files);
      sources(line.substr(1), &files);
      ++pairs->checked;
      pairs->threeConstants += files['c'].size() == 3;
      for (const auto& [file, registers] : files)
        if (registers.size() > 3 && pairs->fault.empty()) pairs->fault = previous + " + " + line;
    }
    previous = line;
  }
}

// ps_1_4, as compiled with validation: code that runs, or a message that
// names the slot limit; never the validator's read-port refusal.
void ExpectCompiledOrSlotLimit(const CompiledHlsl& c) {
  EXPECT_EQ(c.log.find("internal error"), std::string::npos) << c.log;
  EXPECT_EQ(c.log.find("X5024"), std::string::npos) << c.log;
  if (FAILED(c.hr)) {
    EXPECT_NE(c.log.find("error X5020: 0 texture and "), std::string::npos) << c.log;
  }
}

// Smooth texels, each channel different.
Float4 Texel(const Float4& t) {
  return Float4(0.2f + 0.5f * t[0], 0.3f + 0.2f * t[1], 0.1f + 0.6f * t[0] * t[1] + 0.2f * t[1], 0.7f);
}

TEST(GxlCompilerMend, Ps14TwoMatrixProductsOfATextureRead) {
  const std::string source =
      "sampler s0;\n"
      "float4 main(float2 t : TEXCOORD0) : COLOR\n"
      "{\n"
      "    float4 c = tex2D(s0, t);\n"
      "    return mul(float4x4(1,0,0.5,0, 0,0.5,0.5,0, 1,0.5,0,0, 0,0,0,0),\n"
      "               mul(float4x4(0,0,0.5,0, 0,0,0.437,0, 0,0,-0.1,0, 0,0,0,0), c));\n"
      "}\n";
  for (const DWORD options : {0u, kNoOptimisation}) {
    SCOPED_TRACE("options " + std::to_string(options));
    const CompiledHlsl c = CompileHlsl(source, "main", "ps_1_4", options);
    ASSERT_TRUE(SUCCEEDED(c.hr)) << c.log;
    EXPECT_EQ(c.log.find("internal error"), std::string::npos) << c.log;
    for (const Float4& t : {Float4(0, 0, 0, 0), Float4(0.25f, 0.75f, 0, 0), Float4(1, 0.5f, 0, 0),
                            Float4(0.6f, 0.1f, 0, 0), Float4(0.9f, 1, 0, 0)}) {
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
      interp.SetStrict(true);  // the alpha of every register is lost at the phase
      interp.SetSampler([](const nura::shtok::SampleRequest& r) { return Texel(r.coord); });
      Lane lane;
      lane.t[0] = t;
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      // The inner product is c.z times (0.5, 0.437, -0.1, 0); the outer one mixes those.
      const float z = Texel(t)[2];
      const float want[4] = {0.45f * z, 0.1685f * z, 0.7185f * z, 0};
      for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(lane.oC[0][i], want[i], 1e-5f) << "component " << i << " at " << t[0] << ", " << t[1] << "\n"
                                                   << c.text;
    }
  }
}

TEST(GxlCompilerMend, Ps14PairReadsFourConstants) {
  const std::string source =
      "float4 u1;\n"
      "float4 u2;\n"
      "\n"
      "float4 main(float4 icol1 : COLOR1, float4 icol : COLOR0, float4 itc1 : TEXCOORD1) : COLOR0\n"
      "{\n"
      "    float3 v1 = (((1.0 - saturate(lerp(icol.z, u2.y, u1.w))) < 0.5) ? (float3(dot((icol.xwx + icol.wzw), "
      "u1.xyw), dot((icol.xwx + icol.wzw), u1.xyw), dot((icol.xwx + icol.wzw), u1.xyw)) * ((((0.8 * u1.z) + "
      "icol1.z) < 0.5) ? ((u1.zwy * icol.wzz) + float3(0.3, 0.2, 0.0)) : icol1.wyz)) : (1.0 - min((icol.wxz + "
      "u1.zxy), u2.zyy)));\n"
      "    float v2 = u2.w;\n"
      "    v2 = (dot((1.0 - v1), (lerp(icol1.yzw, u2.xxx, u1.y) * u2.yzw)) * (0.75 - (((icol1.w + u2.z) >= 0.5) ? "
      "icol1.y : max(v2, icol1.w))));\n"
      "    v2 = ((((min(u2.x, u2.y) * icol.z) + u2.y) >= 0.5) ? v2 : saturate(((0.0 * 0.25) + 0.5)));\n"
      "    return lerp(v1.zyxy, float4(v2, v2, v2, v2), 0.5);\n"
      "}\n";
  for (const DWORD options : {0u, kNoOptimisation}) {
    SCOPED_TRACE("options " + std::to_string(options));
    const CompiledHlsl unchecked = CompileHlsl(source, "main", "ps_1_4", options | kNoValidation);
    ASSERT_TRUE(SUCCEEDED(unchecked.hr)) << unchecked.log;
    Pairs pairs;
    CheckPairs(unchecked.text, &pairs);
    EXPECT_GT(pairs.checked, 0) << unchecked.text;
    EXPECT_EQ(pairs.fault, "") << unchecked.text;
    // About fifty arithmetic slots do not fit two phases of eight.
    const CompiledHlsl c = CompileHlsl(source, "main", "ps_1_4", options);
    ExpectCompiledOrSlotLimit(c);
    EXPECT_TRUE(FAILED(c.hr)) << c.text;
  }
}

// Compiles `source` unvalidated, checks its pairs, then compiles it again
// validated: no X5024 (a pair reading too many registers) and no internal
// error either way.
CompiledHlsl CompileCheckingPairs(const std::string& source, const char* model, DWORD flags, const std::string& what,
                                  Pairs* pairs) {
  const CompiledHlsl unchecked = CompileHlsl(source, "main", model, flags | kNoValidation);
  const std::string before = pairs->fault;
  if (SUCCEEDED(unchecked.hr)) CheckPairs(unchecked.text, pairs);
  EXPECT_EQ(pairs->fault, before) << what << "\n" << source << unchecked.text;
  CompiledHlsl c = CompileHlsl(source, "main", model, flags);
  EXPECT_EQ(c.log.find("X5024"), std::string::npos) << what << "\n" << c.log << source;
  EXPECT_EQ(c.log.find("internal error"), std::string::npos) << what << "\n" << c.log << source;
  return c;
}

// A colour computed beside an alpha, from two float4 uniforms, the two
// colour inputs and literals: the shapes the pairing puts together, with up
// to three constant registers a half.
std::string PairedProgram(std::mt19937& random) {
  auto pick = [&](std::initializer_list<const char*> list) { return list.begin()[random() % list.size()]; };
  auto vector = [&] {
    return std::string(pick({"u1", "u2", "c0", "c1"})) + "." + pick({"xyz", "zxy", "wzw", "yyx", "zwy", "wxz"});
  };
  auto scalar = [&] { return std::string(pick({"u1", "u2", "c0", "c1"})) + "." + pick({"x", "y", "z", "w"}); };
  auto literal = [&] { return std::string(pick({"0.0", "0.25", "0.5", "0.75", "1.0", "-0.5", "0.3", "0.2"})); };
  auto literals = [&] { return "float3(" + literal() + ", " + literal() + ", " + literal() + ")"; };
  std::string colour, alpha;
  switch (random() % 5) {
    case 0: colour = vector() + " * " + vector() + " + " + literals(); break;
    case 1: colour = "lerp(" + vector() + ", " + literals() + ", " + scalar() + ")"; break;
    case 2: colour = "(" + scalar() + " < 0.5) ? " + vector() + " : " + literals(); break;
    case 3: colour = "1.0 - min(" + vector() + " + " + vector() + ", " + literals() + ")"; break;
    default: colour = vector() + " * " + literal() + " + " + vector(); break;
  }
  switch (random() % 5) {
    case 0: alpha = "(" + scalar() + " >= 0.5) ? " + literal() + " : " + literal(); break;
    case 1: alpha = scalar() + " * " + literal() + " + " + scalar(); break;
    case 2: alpha = "saturate(" + scalar() + " + " + literal() + ")"; break;
    case 3: alpha = "((" + scalar() + " * " + scalar() + " + " + literal() + ") >= 0.5) ? " + scalar() + " : " +
                    literal(); break;
    default: alpha = "lerp(" + scalar() + ", " + literal() + ", " + scalar() + ")"; break;
  }
  return "float4 u1;\nfloat4 u2;\n"
         "float4 main(float4 c0 : COLOR0, float4 c1 : COLOR1) : COLOR0 {\n"
         "  float3 x = " + colour + ";\n"
         "  float w = " + alpha + ";\n"
         "  return float4(x, w);\n}\n";
}

// Generated programs over uniforms, literals and samplers at the 1.x models:
// no co-issued pair reads more than three registers of a file (checked on
// the code compiled without validation), and what compiles with validation
// gives the generator's values where they stay in the models' range; some
// need ps_1_4's phases balanced by slots.
TEST(GxlCompilerMend, Ps1GeneratedProgramsPairAndRun) {
  static const char* const kModels[] = {"ps_1_1", "ps_1_3", "ps_1_4"};
  const auto count = static_cast<std::uint32_t>(nura::test::LongOrShare(600, 120));
  Pairs pairs;
  int compared = 0;
  for (std::uint32_t seed = 0; seed < count; ++seed) {
    hlslgen::Options options;
    options.maxDepth = 2 + seed % 5;
    options.matrices = seed % 3 != 1;
    options.samplers = seed % 2 == 0;
    options.unitFloats = true;
    const hlslgen::Generator g(0x9A140000u + seed, options);
    const std::string source = g.UniformProgram(true);
    for (const char* model : kModels)
      for (const DWORD flags : {0u, kNoOptimisation}) {
        const std::string what = "seed " + std::to_string(seed) + " " + model + " " + std::to_string(flags);
        const CompiledHlsl c = CompileCheckingPairs(source, model, flags, what, &pairs);
        if (FAILED(c.hr) || g.FloatRange() > 1.0) continue;
        nura::shtok::Interpreter interp;
        std::string error;
        ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
        interp.SetStrict(true);
        for (const hlslgen::Variable& v : g.Variables())
          c.SetFloats(interp, v.name.c_str(), v.type.rows, v.type.columns, v.value.data());
        interp.SetSampler(hlslgen::ProceduralSampler(c.table.Get()));
        Lane lane;
        ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
        const std::vector<double>& want = g.Result();
        for (std::uint32_t i = 0; i < 4 && i < want.size(); ++i)
          EXPECT_NEAR(lane.oC[0][i], want[i], 2e-5 * std::max(1.0, std::fabs(want[i])))
              << what << " [" << i << "]\n"
              << source << c.text;
        ++compared;
      }
  }
  EXPECT_GT(pairs.checked, static_cast<int>(count) / 2);
  EXPECT_GT(compared, static_cast<int>(count));
}

// Runs a PairedProgram with its colour inputs and uniforms.
bool RunPaired(const CompiledHlsl& c, const Float4 (&colours)[2], const Float4 (&uniforms)[2], Float4* out,
               std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  const bool ps1 = (c.code[0] & 0xFFFF) < 0x200;
  interp.SetStrict(ps1);
  c.Set(interp, "u1", uniforms[0]);
  c.Set(interp, "u2", uniforms[1]);
  Lane lane;
  for (const nura::shtok::Declaration& d : interp.Declarations())
    if (Float4* slot = d.usage == nura::shtok::kUsageColor && !d.output ? nura::shtok::DeclaredSlot(lane, d) : nullptr)
      *slot = colours[d.usageIndex & 1];
  if (ps1) lane.v[0] = colours[0], lane.v[1] = colours[1];
  if (!interp.Run(&lane, 1, error)) return false;
  *out = lane.oC[0];
  return true;
}

// Colour and alpha computed side by side from uniforms, colour inputs and
// literals, at every 1.x model: no co-issued pair reads more than three
// registers of a file, and what compiles gives the ps_2_0 code's values.
TEST(GxlCompilerMend, Ps1ColourAndAlphaPairsReadAtMostThreeRegistersOfAFile) {
  static const char* const kModels[] = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4"};
  const auto count = static_cast<std::uint32_t>(nura::test::LongOrShare(2000, 400));
  Pairs pairs;
  int compared = 0;
  for (std::uint32_t seed = 0; seed < count; ++seed) {
    std::mt19937 random(0x9A14C0u + seed);
    const std::string source = PairedProgram(random);
    auto unit = [&] { return static_cast<float>(random() % 1001) / 1000.0f; };
    const Float4 colours[2] = {Float4(unit(), unit(), unit(), unit()), Float4(unit(), unit(), unit(), unit())};
    const Float4 uniforms[2] = {Float4(2 * unit() - 1, 2 * unit() - 1, 2 * unit() - 1, 2 * unit() - 1),
                               Float4(2 * unit() - 1, 2 * unit() - 1, 2 * unit() - 1, 2 * unit() - 1)};
    const CompiledHlsl reference = CompileHlsl(source, "main", "ps_2_0");
    ASSERT_TRUE(SUCCEEDED(reference.hr)) << reference.log << source;
    Float4 want;
    std::string error;
    ASSERT_TRUE(RunPaired(reference, colours, uniforms, &want, &error)) << error;
    const char* model = kModels[seed % std::size(kModels)];
    for (const DWORD flags : {0u, kNoOptimisation}) {
      const std::string what = "seed " + std::to_string(seed) + " " + model + " " + std::to_string(flags);
      const CompiledHlsl c = CompileCheckingPairs(source, model, flags, what, &pairs);
      if (FAILED(c.hr)) continue;
      Float4 got;
      ASSERT_TRUE(RunPaired(c, colours, uniforms, &got, &error)) << error;
      for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(got[i], want[i], 1e-5f * (1 + std::fabs(want[i]))) << what << " [" << i << "]\n"
                                                                        << source << c.text;
      ++compared;
    }
  }
  EXPECT_GT(pairs.checked, static_cast<int>(count));
  EXPECT_GT(pairs.threeConstants, static_cast<int>(count) / 20);
  EXPECT_GT(compared, static_cast<int>(count) / 2);
}

// The ps_1_4 phase balance's first pass keeps w writes in phase two: an
// alpha moved into phase one must be carried across the phase, which costs
// a move where phase two could have computed it. Programs whose whole
// arithmetic fits phase two write no w before the phase marker.
TEST(GxlCompilerMend, Ps14AlphaWritesStayInPhaseTwoWhereTheyFit) {
  static const char* const kPrograms[] = {
      "uniform int v0; uniform int v1; uniform int v2;\n"
      "float4 main() : COLOR {\n"
      "  float r = (((v0 + v0) ? (float3(3.4375, (-1.5625), 2.3125) - int3((-8), 4, 8)) : (4 ? float3((-2.6875), "
      "(-2.6875), (-1.3125)) : float3(1.375, (-3.1875), 1.625))))[((int)int3(true, v1, v2))];\n"
      "  return float4((float)r, (float)0.0, (float)0.0, (float)0.0);\n}\n",
  };
  for (const char* source : kPrograms) {
    for (const DWORD flags : {0u, kNoOptimisation}) {
      const CompiledHlsl c = CompileHlsl(source, "main", "ps_1_4", flags);
      ASSERT_TRUE(SUCCEEDED(c.hr)) << c.log << source;
      std::istringstream lines(c.text);
      bool phaseOne = false, sawPhase = false;
      for (std::string line; std::getline(lines, line);) {
        if (line == "ps_1_4") phaseOne = true;
        if (line == "phase") sawPhase = true, phaseOne = false;
        const std::size_t space = line.find(' ');
        if (!phaseOne || space == std::string::npos || line.rfind("def ", 0) == 0 || line.rfind("//", 0) == 0) continue;
        const std::string target = line.substr(space + 1, line.find(',') - space - 1);
        // A write without a mask writes w too.
        const std::size_t dot = target.find('.');
        EXPECT_TRUE(dot != std::string::npos && target.find('w', dot) == std::string::npos) << line << "\n" << c.text;
      }
      EXPECT_TRUE(sawPhase) << c.text;
    }
  }
}

}  // namespace

// Generated HLSL: the input drives the test generator of typed expressions
// and picks the profile, so every compile is of a well-formed program whose
// value the generator knows. The first byte picks the profile (every vertex
// and pixel compiler target of the profile table); the second the generator's
// options (bits 0-1 depth, bit 2 matrices, bit 3 samplers for pixel profiles,
// bit 6 fewer variables, bit 7 flow control: statements that change the value
// through assignments, ifs and loops) and the compile flags (bits 4-5); the
// rest seeds the generator. The program's uniforms arrive through the
// constant table, its samplers are the generator's procedural ones, and the
// first four components of its value leave through the position or the
// colour.
//
// A compile either succeeds, and the code computes the generator's value in
// the token kit's interpreter (ps_1_x code only has to run), or fails with a
// limit of the profile (45xx, 4004, the validator's slot count or register
// range); never with an internal error or another message.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/shader_checks.h"
#include "gxl/shader/core/profiles.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/hlslgen/procedural_sampler.h"
#include "tests/support/shader/interp.h"

namespace {

using nura::fuzz::Require;
using nura::shtok::Float4;
namespace sh = nura::fuzz::shader;

constexpr DWORD kFlags[] = {0, 0x4, 0x200, 0x401};

// The vertex and pixel compiler targets of the table; 2_x is a version of the
// assembler alone, whichever spelling the table flags.
std::vector<const ShaderProfileRow*> Profiles() {
  std::vector<const ShaderProfileRow*> rows;
  for (const ShaderProfileRow& row : ShaderProfileTable)
    if ((row.flags & kProfileCompilerTarget) && sh::IsShaderVersion(row.version) && (row.version & 0xFFFF) != 0x201)
      rows.push_back(&row);
  return rows;
}

bool IsPixel(DWORD version) { return (version >> 16) == 0xFFFF; }
bool IsPs1(DWORD version) { return IsPixel(version) && ((version >> 8) & 0xFF) == 1; }

// Every error line names a limit of the profile, and there is one.
bool FailedAtLimit(const std::string& log) {
  std::istringstream lines(log);
  bool any = false;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find("error X");
    if (at == std::string::npos) {
      if (line.find("error") != std::string::npos) return false;  // no code: an internal error
      continue;
    }
    any = true;
    const unsigned code = static_cast<unsigned>(std::strtoul(line.c_str() + at + 7, nullptr, 10));
    // The validator's slot count (5020) and register range (5008: constants
    // past the profile's) are limits the compiler should have named itself.
    const bool limit = code == 4004 || (code >= 4500 && code < 4600) || code == 5020 || code == 5008;
    if (!limit) return false;
  }
  return any;
}

// The uniforms by name through the constant table: registers hold rows, or
// with column packing the columns.
void SetUniforms(const hlslgen::Generator& g, ConstantTable* table, nura::shtok::Interpreter* interp) {
  for (const hlslgen::Variable& v : g.Variables()) {
    const ConstantHandle handle = table->ConstantByName(nullptr, v.name.c_str());
    ConstantDesc desc{};
    UINT count = 1;
    if (!handle || FAILED(table->DescribeConstants(handle, &desc, &count))) continue;
    const bool byColumns = desc.typeClass == 3;
    for (std::uint32_t r = 0; r < desc.registerCount; ++r) {
      float x[4] = {};
      for (std::uint32_t i = 0; i < 4; ++i) {
        const std::uint32_t row = byColumns ? i : r, column = byColumns ? r : i;
        if (row < v.type.rows && column < v.type.columns)
          x[i] = static_cast<float>(v.value[row * v.type.columns + column]);
      }
      const int reg = static_cast<int>(desc.registerIndex + r);
      if (desc.registerSet == 0) interp->SetBool(reg, x[0] != 0);
      if (desc.registerSet == 1)
        interp->SetInt(reg, static_cast<int>(x[0]), static_cast<int>(x[1]), static_cast<int>(x[2]),
                       static_cast<int>(x[3]));
      if (desc.registerSet == 2) interp->SetFloat(reg, Float4(x[0], x[1], x[2], x[3]));
    }
  }
}

void CheckValue(const hlslgen::Generator& g, DataBuffer* code, ConstantTable* table, DWORD version,
                const std::string& source) {
  const sh::Words words = sh::ToWords(code);
  nura::shtok::Interpreter interp;
  std::string error;
  if (!interp.Load(words.data(), words.size(), &error)) std::fprintf(stderr, "%s\n", error.c_str());
  Require(error.empty(), "the interpreter loads the code");
  SetUniforms(g, table, &interp);
  interp.SetSampler(hlslgen::ProceduralSampler(table));
  nura::shtok::Lane lane;
  if (!interp.Run(&lane, 1, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  Require(error.empty(), "the interpreter runs the code");
  // ps_1_x registers hold [-1, 1] (ps_1_4 [-8, 8]) at reduced precision, and
  // the expansions of its code pass through values the generator never
  // sees: its code is run, not compared.
  if (IsPs1(version)) return;
  // Vertex code from 3_0 writes the position through a declared o# register.
  const nura::shtok::Declaration* position =
      !IsPixel(version) ? interp.FindDeclaration(nura::shtok::kUsagePosition, 0, true) : nullptr;
  const Float4* slot = position ? nura::shtok::DeclaredSlot(lane, *position) : nullptr;
  const Float4& got = IsPixel(version) ? lane.oC[0] : slot ? *slot : lane.oPos;
  // Float arithmetic loses a few units in the last place of the largest value
  // it passes through (a remainder of a large dividend keeps its error), and
  // a division by a small remainder magnifies such an error: the tolerance
  // grows with the largest value of the program, and is wider than the
  // generator's own tests, which meet fewer programs.
  double largest = 0;
  for (const hlslgen::Node& n : g.Nodes())
    for (const double x : n.value) largest = std::max(largest, std::fabs(x));
  for (std::uint32_t k = 0; k < 4 && k < g.Result().size(); ++k) {
    const double want = g.Result()[k];
    const double tolerance = 1e-4 * std::max(1.0, std::fabs(want)) + 1e-6 * largest;
    if (std::fabs(got[static_cast<int>(k)] - want) > tolerance) {
      std::string text, ignored;
      nura::shtok::Disassemble(words.data(), words.size(), &text, &ignored);
      std::fprintf(stderr, "component %u is %.9g for %.9g\n%s%s", k, got[static_cast<int>(k)], want, source.c_str(),
                   text.c_str());
      for (const hlslgen::Variable& v : g.Variables()) {
        std::fprintf(stderr, "%s =", v.name.c_str());
        for (const double x : v.value) std::fprintf(stderr, " %.9g", x);
        std::fprintf(stderr, "\n");
      }
      Require(false, "the code computes the generator's value");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const std::vector<const ShaderProfileRow*> profiles = Profiles();
  const ShaderProfileRow& profile = *profiles[data[0] % profiles.size()];
  const bool pixel = IsPixel(profile.version);
  hlslgen::Options options;
  options.maxDepth = 2 + (data[1] & 3);
  options.matrices = data[1] & 4;
  options.samplers = pixel && (data[1] & 8);
  options.maxVariables = data[1] & 0x40 ? 3 : 6;
  options.flowControl = data[1] & 0x80;
  const DWORD flags = kFlags[(data[1] >> 4) & 3];
  std::uint64_t seed = 0xCBF29CE484222325u;  // FNV-1a over the rest
  for (std::size_t i = 2; i < size; ++i) seed = (seed ^ data[i]) * 0x100000001B3u;
  const hlslgen::Generator g(seed, options);
  const std::string source = g.UniformProgram(pixel);

  const sh::FloatControl control;
  DataBuffer *code = sh::Untouched<DataBuffer>(), *messages = sh::Untouched<DataBuffer>();
  ConstantTable* table = sh::Untouched<ConstantTable>();
  const HRESULT hr = CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr, "main",
                                             profile.name, flags, &code, &messages, &table);
  const gxl::ComRef<DataBuffer> c = sh::Take(code, SUCCEEDED(hr), "a failed compile hands out no code");
  const gxl::ComRef<ConstantTable> t = sh::Take(table, SUCCEEDED(hr), "a failed compile hands out no table");
  const gxl::ComRef<DataBuffer> m = sh::Take(messages, true, "the compile writes its messages");
  sh::CheckMessages(m.Get());
  const std::string log = m ? static_cast<const char*>(m->GetPointer()) : "";
  if (FAILED(hr)) {
    const bool limit = FailedAtLimit(log);
    if (!limit) std::fprintf(stderr, "%08x\n%s%s", static_cast<unsigned>(hr), source.c_str(), log.c_str());
    Require(limit, "a generated program fails only at a limit of its profile, saying so");
  } else {
    Require(c.Get() && t.Get(), "a compile that succeeds hands out code and a constant table");
    sh::CheckCode(c.Get(), true);
    sh::CheckTable(t.Get());
    CheckValue(g, c.Get(), t.Get(), profile.version, source);
  }
  control.CheckRestored();
  sh::CheckLockFree();
  return 0;
}

// The loop nests of nests/: short programs that once ended at the work bound
// ("the compile exceeded its work bound") at the profiles their first line
// names; the second line names the profiles (and options) that compiled them
// and gave the values of an evaluation apart from the compiler. Each file is
// compiled at every profile of its stage, optimised and with 0x4:
// - no compile ends at the work bound or in an internal error;
// - a refusal names a limit of the profile (the list below), never anything
//   else; the cells of the second line always compile; where the profile
//   keeps loops nested (vs_2_sw, vs_3_x, ps_3_x), a refusal names one of the
//   few rules and limits the lowering meets there whatever its bounds, and
//   is the one the compile gives with its bounds raised so far that every
//   loop is simulated exactly (no loop covered for its cost);
// - the code of every compile runs in the token kit's interpreter on three
//   fixed sets of uniforms and inputs and agrees with the first reference
//   cell of the second line (with none, with the first compile), within the
//   margin of the cross-profile tests. Pixel shader 1.x code, whose values
//   are clamped to its range, is held to its outcome alone.
// The share runs four files; NURA_LONG all 91.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/gxl/shader/compiler/loop_bound_compile.h"
#include "tests/support/preshader/preshader_runner.h"
#include "tests/support/shader/interp.h"
#include "tests/support/test_util.h"

namespace {

using shadertest::CompiledHlsl;
using Cell = std::pair<std::string, DWORD>;  // profile, options

constexpr DWORD kNoOptimisation = 0x4;
constexpr int kFiles = 91;
// Four files whose other compiles cost little: nest-22 ended at the work
// bound at every vertex profile from 2.0 on (vs_1_1 its reference), nest-36
// at ps_3_x, nest-57 at vs_2_sw and vs_3_x, nest-62 at every pixel profile.
const char* const kShare[] = {"nest-22-vs.hlsl", "nest-36-ps.hlsl", "nest-57-vs.hlsl", "nest-62-ps.hlsl"};

const char* const kVertexProfiles[] = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
const char* const kPixelProfiles[] = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4", "ps_2_0",
                                      "ps_2_a", "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"};

// The loop levels the target table gives a profile (its nesting word): four
// from vs_2_sw and at shader model 3, one at vs_2_0 and vs_2_a (vs_2_0 with
// a constant count only), none at vs_1_1 and pixel shader 1.x and 2.x.
bool KeepsNests(const std::string& profile) {
  return profile == "vs_2_sw" || profile.rfind("vs_3_", 0) == 0 || profile.rfind("ps_3_", 0) == 0;
}

// Refusals that name a limit or rule of the profile: "code" alone, or with
// the words that tell a limit from the other messages of that code.
const struct {
  const char* code;
  const char* words;
} kLimits[] = {
    {"X3511", ""},  // a loop the profile can neither keep nor unroll
    {"X5020", ""},  // instruction slots
    {"X4507", ""},  // constant registers
    {"X4500", ""},  // a program or its flow control too large for the profile
    {"X4004", "more active values than registers"},
    {"X4521", ""},  // temporary registers
    {"X4511", ""},  // relative addressing the profile lacks
    {"X4512", ""},  // texture coordinate components pixel shader 1.x cannot read
    {"X4532", ""},  // an expression pixel shader 1.x cannot map
    {"X4554", ""},  // vector conditionals pixel shader 1.x cannot emulate
    {"X3500", "asymetric returns"},
    {"X3500", "not natively addressable"},
};

// Where the profile keeps loops nested, what refuses a nest whatever the
// lowering's bounds: the rule that a return inside a loop needs its match on
// the other arm, and the limits of the code of a loop the profile cannot
// keep (one indexing what only an unrolled counter can address, or holding
// gradients), which is unrolled: an unrolling past 1,024 passes, and the
// slots and constant registers of the unrolled code.
const struct {
  const char* code;
  const char* words;
} kKeptLoopLimits[] = {
    {"X3500", "asymetric returns"},
    {"X3511", "1024 iterations"},
    {"X5020", "instruction slots"},
    {"X4507", "maximum constant register index"},
};

template <typename Table>
bool Names(const Table& table, const std::string& error) {
  return std::any_of(std::begin(table), std::end(table), [&](const auto& l) {
    return error.rfind(l.code, 0) == 0 && error.find(l.words) != std::string::npos;
  });
}

bool IsLimit(const std::string& error) { return Names(kLimits, error); }

// The first error of a log without its place: "X3511: loop does not ...".
std::string FirstError(const std::string& log) {
  const std::size_t at = log.find("error X");
  if (at == std::string::npos) return log.substr(0, log.find('\n'));
  const std::size_t end = log.find('\n', at);
  return log.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6);
}

std::string Name(const Cell& c) { return c.first + (c.second ? " with 0x4" : ""); }

// The cells of a header line: "...: ps_2_sw, ps_2_sw with 0x4, ps_3_0." or
// "...: none.".
std::set<Cell> HeaderCells(const std::string& line) {
  std::set<Cell> cells;
  const std::size_t colon = line.find(": ");
  if (colon == std::string::npos) return cells;
  std::string list = line.substr(colon + 2);
  list = list.substr(0, list.find_last_not_of(". ") + 1);
  std::istringstream items(list);
  for (std::string item; std::getline(items, item, ',');) {
    item = item.substr(item.find_first_not_of(' '));
    if (item == "none") continue;
    const std::size_t with = item.find(" with 0x4");
    cells.insert({item.substr(0, with), with == std::string::npos ? 0 : kNoOptimisation});
  }
  return cells;
}

// Uniforms by name, row by row, and inputs by usage << 8 | index.
struct InputSet {
  std::map<std::string, std::vector<double>> uniforms;
  std::map<int, nura::shtok::Float4> inputs;
};

// Three sets: sixteenths from a fixed seed, colours in [0, 1], the rest in
// [-2, 2], and the loop bound n0 at 3, 2.5 and 1.5.
std::vector<InputSet> InputSets() {
  using nura::shtok::Float4;
  std::vector<InputSet> sets;
  const double bounds[] = {3, 2.5, 1.5};
  for (std::uint32_t k = 0; k < 3; ++k) {
    std::mt19937 random(1000 + k);
    auto value = [&](double low, double high) {
      const auto steps = static_cast<std::uint32_t>((high - low) * 16);
      return low + static_cast<double>(random() % (steps + 1)) / 16;
    };
    InputSet s;
    const std::pair<const char*, int> uniforms[] = {{"s0", 1}, {"s1", 1}, {"u0", 4}, {"u1", 4},
                                                    {"u2", 3}, {"u3", 2}, {"ua", 16}};
    for (const auto& [name, count] : uniforms)
      for (int i = 0; i < count; ++i) s.uniforms[name].push_back(value(-2, 2));
    s.uniforms["n0"] = {bounds[k]};
    auto input = [&](int usage, int index, double low, double high) {
      Float4 x;
      for (int i = 0; i < 4; ++i) x[i] = static_cast<float>(value(low, high));
      s.inputs[usage << 8 | index] = x;
    };
    input(nura::shtok::kUsagePosition, 0, -2, 2);
    for (int i = 0; i < 2; ++i) input(nura::shtok::kUsageColor, i, 0, 1);
    for (int i = 0; i < 4; ++i) input(nura::shtok::kUsageTexCoord, i, -2, 2);
    sets.push_back(std::move(s));
  }
  return sets;
}

// One lane of the code on an input set: COLOR0 of pixel code, POSITION and
// TEXCOORD0 of vertex code. Uniforms go where the constant table puts them,
// in each register set it names, and the preshader runs first.
bool RunOn(const CompiledHlsl& c, bool vertex, const InputSet& in, std::vector<float>* out, std::string* error) {
  using nura::shtok::Declaration;
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  for (const auto& [name, value] : in.uniforms) {
    ConstantDesc descs[3]{};
    UINT count = 3;
    const ConstantHandle handle = c.table ? c.table->ConstantByName(nullptr, name.c_str()) : nullptr;
    if (!handle || FAILED(c.table->DescribeConstants(handle, descs, &count))) continue;  // not read
    for (UINT d = 0; d < std::min(count, 3u); ++d) {
      const ConstantDesc& desc = descs[d];
      for (std::uint32_t r = 0; r < desc.registerCount; ++r) {
        nura::shtok::Float4 x(0, 0, 0, 0);
        for (std::uint32_t i = 0, at = r * desc.columns; i < 4 && i < desc.columns; ++i, ++at)
          if (at < value.size()) x[static_cast<int>(i)] = static_cast<float>(value[at]);
        const int reg = static_cast<int>(desc.registerIndex + r);
        if (desc.registerSet == 0) interp.SetBool(reg, x[0] != 0);
        if (desc.registerSet == 1)
          interp.SetInt(reg, static_cast<int>(x[0]), static_cast<int>(x[1]), static_cast<int>(x[2]),
                        static_cast<int>(x[3]));
        if (desc.registerSet == 2) interp.SetFloat(reg, x);
      }
    }
  }
  presrun::Registers computed;
  if (FAILED(presrun::RunPreshader(c.code.data(), c.code.size(), in.uniforms, computed, error))) return false;
  for (const auto& [reg, x] : computed)
    interp.SetFloat(static_cast<int>(reg), nura::shtok::Float4(x[0], x[1], x[2], x[3]));
  nura::shtok::Lane lane;
  for (const Declaration& d : interp.Declarations()) {
    if (d.output || d.usage < 0) continue;
    const auto given = in.inputs.find(d.usage << 8 | d.usageIndex);
    if (nura::shtok::Float4* slot = nura::shtok::DeclaredSlot(lane, d))
      *slot = given != in.inputs.end() ? given->second : nura::shtok::Float4();
  }
  if (!interp.Run(&lane, 1, error)) return false;
  auto put = [out](const nura::shtok::Float4& x) {
    for (int i = 0; i < 4; ++i) out->push_back(x[i]);
  };
  out->clear();
  if (!vertex) {
    put(lane.oC[0]);
    return true;
  }
  // Shader model 3 declares its outputs; before it POSITION is oPos and
  // TEXCOORD0 oT0.
  const Declaration* position = interp.FindDeclaration(nura::shtok::kUsagePosition, 0, true);
  const Declaration* texcoord = interp.FindDeclaration(nura::shtok::kUsageTexCoord, 0, true);
  put(position ? lane.o[position->number] : lane.oPos);
  put(texcoord ? lane.o[texcoord->number] : lane.o[0]);
  return true;
}

// The cross-profile margin: 1e-5 of the value, at least of 1; NaN agrees
// with NaN, and an infinity with itself.
std::string Apart(const std::vector<float>& got, const std::vector<float>& want) {
  for (std::size_t k = 0; k < got.size() && k < want.size(); ++k) {
    const double a = got[k], b = want[k];
    if (a == b || (std::isnan(a) && std::isnan(b))) continue;
    if (std::fabs(a - b) <= 1e-5 * std::max(1.0, std::fabs(b))) continue;
    char text[96];
    std::snprintf(text, sizeof text, "[%zu] is %.9g for %.9g", k, a, b);
    return text;
  }
  return got.size() == want.size() ? std::string() : "a different number of values";
}

std::string FileName(int k) {
  char name[32];
  std::snprintf(name, sizeof name, "nest-%02d-", k);
  for (const char* stage : {"ps", "vs"}) {
    const std::string file = std::string(name) + stage + ".hlsl";
    if (std::ifstream(nura::test::SourceDir() + "/tests/gxl/shader/compiler/nests/" + file)) return file;
  }
  return std::string(name) + "missing.hlsl";
}

class GxlNestReproducers : public ::testing::TestWithParam<int> {};

TEST_P(GxlNestReproducers, CompileAtEveryProfileWithinTheirLimitsAndAgree) {
  const std::string file = FileName(GetParam());
  if (!nura::test::LongMode() && std::find(std::begin(kShare), std::end(kShare), file) == std::end(kShare))
    GTEST_SKIP() << "NURA_LONG runs every file";
  std::ifstream in(nura::test::SourceDir() + "/tests/gxl/shader/compiler/nests/" + file);
  ASSERT_TRUE(in) << file;
  std::stringstream text;
  text << in.rdbuf();
  const std::string source = text.str();
  std::istringstream lines(source);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  ASSERT_NE(first.find("work bound"), std::string::npos) << first;
  const std::set<Cell> workBound = HeaderCells(first), reference = HeaderCells(second);
  ASSERT_FALSE(workBound.empty()) << first;

  const bool vertex = file.find("-vs.") != std::string::npos;
  std::vector<Cell> cells;
  for (const char* profile : vertex ? std::vector<const char*>(std::begin(kVertexProfiles), std::end(kVertexProfiles))
                                    : std::vector<const char*>(std::begin(kPixelProfiles), std::end(kPixelProfiles)))
    for (const DWORD flags : {DWORD{0}, kNoOptimisation}) cells.push_back({profile, flags});

  // Every outcome first; the values against the reference after.
  std::map<Cell, CompiledHlsl> compiled;
  for (const Cell& cell : cells) {
    CompiledHlsl c = shadertest::CompileHlsl(source, "main", cell.first.c_str(), cell.second);
    const std::string error = FirstError(c.log);
    if (SUCCEEDED(c.hr)) {
      compiled.emplace(cell, std::move(c));
    } else if (error.find("the compile exceeded its work bound") != std::string::npos) {
      ADD_FAILURE() << file << " " << Name(cell) << ": ends at the work bound";
    } else if (c.Logged("internal error")) {
      ADD_FAILURE() << file << " " << Name(cell) << ": " << error;
    } else if (!IsLimit(error)) {
      ADD_FAILURE() << file << " " << Name(cell) << ": refused with a message that names no limit: " << error;
    } else if (reference.count(cell)) {
      ADD_FAILURE() << file << " " << Name(cell) << " compiled for the reference and must compile: " << error;
    } else if (KeepsNests(cell.first)) {
      if (!Names(kKeptLoopLimits, error)) {
        ADD_FAILURE() << file << " " << Name(cell) << " keeps loops nested; refused with " << error;
        continue;
      }
      // The same refusal with every loop simulated exactly: the bounds
      // raised 256 times, the code's own limits as they were.
      shadertest::LoopCompileOptions exact;
      exact.builds <<= 8;
      exact.budget <<= 8;
      const shadertest::LoopCompile r = shadertest::CompileLoops(source, cell.first.c_str(), cell.second, exact);
      EXPECT_EQ(FirstError(r.c.log), error) << file << " " << Name(cell) << " with every loop simulated exactly";
    }
  }
  for (const Cell& cell : reference)
    EXPECT_TRUE(std::find(cells.begin(), cells.end(), cell) != cells.end()) << "no such cell: " << Name(cell);

  // The anchor: the first reference cell that compiled, else the first
  // compile (pixel shader 1.x aside).
  auto comparable = [](const Cell& cell) { return cell.first.rfind("ps_1_", 0) != 0; };
  const Cell* anchor = nullptr;
  for (const Cell& cell : cells)
    if (compiled.count(cell) && comparable(cell) && (reference.count(cell) || reference.empty())) {
      anchor = &cell;
      break;
    }
  if (!anchor) return;  // failures above say why
  const std::vector<InputSet> sets = InputSets();
  std::vector<std::vector<float>> want(sets.size());
  for (std::size_t k = 0; k < sets.size(); ++k) {
    std::string error;
    ASSERT_TRUE(RunOn(compiled.at(*anchor), vertex, sets[k], &want[k], &error)) << Name(*anchor) << ": " << error;
  }
  for (const Cell& cell : cells) {
    if (!compiled.count(cell) || !comparable(cell) || &cell == anchor) continue;
    for (std::size_t k = 0; k < sets.size(); ++k) {
      std::vector<float> got;
      std::string error;
      if (!RunOn(compiled.at(cell), vertex, sets[k], &got, &error)) {
        ADD_FAILURE() << file << " " << Name(cell) << " does not run: " << error;
        break;
      }
      const std::string apart = Apart(got, want[k]);
      if (!apart.empty()) {
        ADD_FAILURE() << file << " " << Name(cell) << " on input set " << k << " against " << Name(*anchor) << ": "
                      << apart;
        break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, GxlNestReproducers, ::testing::Range(1, kFiles + 1), [](const auto& info) {
  std::string name = FileName(info.param);
  name = name.substr(0, name.find('.'));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

}  // namespace

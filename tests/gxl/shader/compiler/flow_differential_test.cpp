// Generated programs in every loop shape the generator has, compiled for each
// profile of their stage, optimised and with option 0x4, and run in the token
// kit's interpreter against the generator's own values. A value that differs,
// an internal error, a validator's refusal of the compiler's own code, the
// work bound refusing a program of fewer than 60 statements, an optimised
// compile refused where 0x4 compiles or any other error fails; a limit of
// the profile (a loop it cannot hold, too many instruction slots or
// registers, the work bound on a long program, ...) is a refusal, counted
// by its message. The batches from kBatches on turn the
// later loop shapes on (nests, calls, while loops, ...), which the first
// batches' seeds were made without; the last kNestBatches the nest shapes
// (nests three to five deep bounded by a uniform, calls of functions that
// hold loops, dead nests, few-pass loops around them).
// The share compiles each program for one profile of its stage, both ways;
// the long mode (NURA_LONG) 20,000 programs per stage, 10,000 more with the
// later shapes and 2,000 with the nest shapes (50 in the share), for every
// profile, and prints what each batch compiled and refused, and the work
// bound's refusals by program size and nest depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "generated_program.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/test_util.h"

namespace {

using shadertest::CompiledHlsl;
using shadertest::GeneratedProgram;

constexpr std::uint32_t kBatches = 20, kShapeBatches = 10, kNestBatches = 10;
constexpr int kLongPrograms = 20000, kSharePrograms = 300;
// Nest programs per batch: each compiles several times as long as the
// others' (loops kept, simulated and covered), so the share takes fewer.
constexpr std::uint32_t kLongNestPrograms = 200, kShareNestPrograms = 5;
// The work bound may refuse a program of more statements than this.
constexpr std::uint32_t kWorkBoundStatements = 60;
constexpr DWORD kNoOptimisation = 0x4;
// Pixel programs start here, apart from the vertex ones.
constexpr std::uint64_t kPixelSeeds = 1u << 24;
// Reported in full; the rest of a batch's faults in a line each.
constexpr int kDetailed = 4;

const char* const kVertexProfiles[] = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
const char* const kPixelProfiles[] = {"ps_2_0", "ps_2_a", "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"};
const char* const kPs1Profiles[] = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4"};

using shadertest::LaterShapes;
using shadertest::NestShapes;
using shadertest::Shapes;

// The first error of a log without its place: "X3511: loop does not ...".
std::string FirstError(const std::string& log) {
  const std::size_t at = log.find("error X");
  if (at == std::string::npos) return log.substr(0, log.find('\n'));
  const std::size_t end = log.find('\n', at);
  return log.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6);
}

// The message with its counts as N, to count refusals by message.
std::string Counted(const std::string& error) {
  std::string s;
  for (std::size_t i = 0; i < error.size(); ++i) {
    const bool digits = std::isdigit(static_cast<unsigned char>(error[i])) && i > 0 &&
                        (error[i - 1] == ' ' || error[i - 1] == '(');
    if (!digits) {
      s += error[i];
      continue;
    }
    s += 'N';
    while (i + 1 < error.size() && std::isdigit(static_cast<unsigned char>(error[i + 1]))) ++i;
  }
  return s;
}

// A message that says the profile cannot hold the program: a loop it cannot
// unroll or map, an array it cannot index, too many registers, values or
// instruction slots (the validator counts the slots), ...
bool IsLimit(const std::string& error) {
  const int code = std::atoi(error.c_str() + 1);
  if (error.find("internal error") != std::string::npos) return false;
  if (code == 3500) return error.find("not natively addressable") != std::string::npos;
  return code == 3511 || code == 4004 || (code >= 4500 && code < 4600) || code == 5020;
}

struct Counts {
  int compiled = 0, refused = 0, faults = 0;
};

struct Tally {
  std::map<std::string, Counts> profiles;  // by "ps_3_0 opt"
  std::map<std::string, int> limits;       // refusals by message
  std::map<std::string, int> faults;       // by kind
  int programs = 0, shown = 0;
  // The sizes of the programs refused with X4004, by message: the
  // generator's instruction estimate, loops unrolled.
  std::map<std::string, std::vector<std::uint32_t>> x4004;
  // The statement counts and nest depths of the programs the work bound
  // refused (faults up to kWorkBoundStatements included).
  std::vector<std::uint32_t> workBound, workBoundDepth;
};

constexpr const char* kWorkBound = "the compile exceeded its work bound";
constexpr const char* kFaultKinds[] = {"wrong value",   "internal error", "validator refuses the code",
                                       "work bound up to 60 statements", "error", "does not run",
                                       "refused optimised where 0x4 compiles"};

// A fault in full for the first few, then a line; whether the compile gave code.
bool Fault(Tally& tally, Counts& count, const std::string& kind, const std::string& where, const std::string& detail,
           const GeneratedProgram& p, const CompiledHlsl& c) {
  ++tally.faults[kind];
  ++count.faults;
  if (tally.shown++ < kDetailed) {
    ADD_FAILURE() << kind << ": " << where << "\n" << detail << "\n" << p.source << c.log << c.text;
  } else {
    ADD_FAILURE() << kind << ": " << where << (kind == "wrong value" ? "" : " " + detail);
  }
  return SUCCEEDED(c.hr);
}

std::string Values(const std::vector<float>& got, const std::vector<double>& want) {
  std::ostringstream s;
  s << "got";
  for (float x : got) s << " " << x;
  s << ", expected";
  for (double x : want) s << " " << x;
  return s.str();
}

using shadertest::Matches;

// Whether the program compiled (and ran, right or wrong); a fault or a
// refusal counted otherwise.
bool CompileAndRun(const hlslgen::Generator& g, const GeneratedProgram& p, const char* profile, DWORD flags,
                   const std::string& seed, Tally& tally) {
  const CompiledHlsl c = shadertest::CompileHlsl(p.source, "main", profile, flags);
  const std::string name = std::string(profile) + (flags ? " noopt" : " opt");
  const std::string where = "seed " + seed + " " + name;
  Counts& count = tally.profiles[name];
  if (FAILED(c.hr)) {
    const std::string error = FirstError(c.log);
    if (c.Logged("internal error")) return Fault(tally, count, "internal error", where, error, p, c);
    const std::uint32_t statements = g.StatementCount();
    if (error.find(kWorkBound) != std::string::npos) {
      tally.workBound.push_back(statements);
      tally.workBoundDepth.push_back(g.NestDepth());
      if (statements <= kWorkBoundStatements)
        return Fault(tally, count, "work bound up to 60 statements", where,
                     error + " (" + std::to_string(statements) + " statements, nests " +
                         std::to_string(g.NestDepth()) + " deep)",
                     p, c);
    }
    if (IsLimit(error)) {
      ++count.refused;
      ++tally.limits[Counted(error)];
      if (error.rfind("X4004", 0) == 0) tally.x4004[error].push_back(g.EstimatedInstructions());
      return false;
    }
    if (error.rfind("X5", 0) == 0) return Fault(tally, count, "validator refuses the code", where, error, p, c);
    return Fault(tally, count, "error", where, error, p, c);
  }
  ++count.compiled;
  std::vector<float> got;
  std::string error;
  if (!shadertest::RunGeneratedProgram(c, g, p, &got, &error))
    return Fault(tally, count, "does not run", where, error, p, c);
  if (!Matches(got, g.Result(), g.FloatRange(), g.ResultError()))
    return Fault(tally, count, "wrong value", where, Values(got, g.Result()), p, c);
  return true;
}

// Both ways at one profile: optimisation must not lose a program that fits,
// so the optimised compile refuses only what 0x4 refuses too.
void CompileBothWays(const hlslgen::Generator& g, const GeneratedProgram& p, const char* profile,
                     const std::string& seed, Tally& tally) {
  const bool optimised = CompileAndRun(g, p, profile, 0, seed, tally);
  if (!CompileAndRun(g, p, profile, kNoOptimisation, seed, tally) || optimised) return;
  ++tally.faults["refused optimised where 0x4 compiles"];
  ADD_FAILURE() << "refused optimised where 0x4 compiles: seed " << seed << " " << profile << "\n" << p.source;
}

// Whether a pixel program fits pixel shader 1.x: one output register, no
// inputs, every float value within [-1, 1].
bool FitsPs1(const hlslgen::Generator& g) {
  if (g.ResultType().matrix || g.FloatRange() > 1) return false;
  for (double x : g.Result())
    if (std::fabs(x) > 1) return false;
  return true;
}

// The table of a batch: compiles per profile (those that failed with a fault
// included in "faults"), limit refusals by message, faults by kind.
void Print(const Tally& t, const char* stage, std::uint32_t batch) {
  std::printf("flow differential, %s batch %u: %d programs\n", stage, batch, t.programs);
  for (const auto& [name, n] : t.profiles)
    std::printf("  %-14s %6d compiled %6d refused %6d faults\n", name.c_str(), n.compiled, n.refused, n.faults);
  for (const auto& [message, n] : t.limits) std::printf("  refused %6d  %s\n", n, message.c_str());
  for (auto [message, sizes] : t.x4004) {
    std::sort(sizes.begin(), sizes.end());
    std::printf("  estimated instructions of the programs refused with %s: least %u, median %u, most %u\n",
                message.c_str(), sizes.front(), sizes[sizes.size() / 2], sizes.back());
  }
  // X4004 by program size: the work bound's refusals by statement count, in tens.
  std::map<std::uint32_t, int> tens;
  for (std::uint32_t n : t.workBound) ++tens[n / 10];
  std::printf("  X4004 work bound by program size: %zu compiles\n", t.workBound.size());
  for (const auto& [ten, n] : tens) std::printf("    %3u-%3u statements %6d\n", ten * 10, ten * 10 + 9, n);
  std::map<std::uint32_t, int> depths;
  for (std::uint32_t d : t.workBoundDepth) ++depths[d];
  std::printf("  X4004 work bound by nest depth:\n");
  for (const auto& [depth, n] : depths) std::printf("    %u deep %6d\n", depth, n);
  for (const char* kind : kFaultKinds) {
    const auto found = t.faults.find(kind);
    std::printf("  fault   %6d  %s\n", found == t.faults.end() ? 0 : found->second, kind);
  }
}

class GxlFlowDifferential : public ::testing::TestWithParam<std::tuple<bool, std::uint32_t>> {};

TEST_P(GxlFlowDifferential, ProgramsGiveTheGeneratorsValuesOnEveryProfile) {
  const auto& [vertex, batch] = GetParam();
  const bool isLong = nura::test::LongMode();
  const bool later = batch >= kBatches, nests = batch >= kBatches + kShapeBatches;
  auto per = static_cast<std::uint32_t>(nura::test::LongOrShare(kLongPrograms, kSharePrograms)) / kBatches;
  if (nests) per = isLong ? kLongNestPrograms : kShareNestPrograms;
  Tally tally;
  for (std::uint64_t k = batch * per; k < (batch + 1) * per; ++k) {
    const std::uint64_t seed = vertex ? k : kPixelSeeds + k;
    const hlslgen::Generator g(seed, nests   ? NestShapes(seed, vertex)
                                     : later ? LaterShapes(seed, vertex)
                                             : Shapes(seed, vertex));
    const GeneratedProgram p = shadertest::MakeGeneratedProgram(g, vertex, seed);
    ++tally.programs;
    // Only a remainder widens the comparison.
    const std::string text = g.FunctionText() + g.Body();
    if (text.find('%') == std::string::npos && text.find("fmod") == std::string::npos) {
      for (double e : g.ResultError()) EXPECT_EQ(e, 0) << "seed " << seed;
    }
    // Every profile in the long mode; in the share one, in turn.
    const std::vector<const char*> profiles(vertex ? std::begin(kVertexProfiles) : std::begin(kPixelProfiles),
                                            vertex ? std::end(kVertexProfiles) : std::end(kPixelProfiles));
    for (std::size_t i = 0; i < profiles.size(); ++i)
      if (isLong || i == k % profiles.size()) CompileBothWays(g, p, profiles[i], std::to_string(seed), tally);
    if (vertex || !FitsPs1(g)) continue;
    const GeneratedProgram uniforms = shadertest::MakeGeneratedProgram(g, false, seed, false);
    for (std::size_t i = 0; i < std::size(kPs1Profiles); ++i)
      if (isLong || i == k % std::size(kPs1Profiles))
        CompileBothWays(g, uniforms, kPs1Profiles[i], std::to_string(seed), tally);
  }
  if (isLong) {
    const char* shapes = nests ? ", nest shapes," : later ? ", later shapes," : "";
    Print(tally, (std::string(vertex ? "vertex" : "pixel") + shapes).c_str(), batch);
  }
  int compiled = 0, refused = 0;
  for (const auto& [name, n] : tally.profiles) compiled += n.compiled, refused += n.refused;
  // Most programs fit most profiles: the comparison is not empty. Nests
  // bounded by a uniform fit only the profiles that keep loops.
  if (nests) EXPECT_GT(compiled, 0);
  else EXPECT_GT(compiled, refused);
}

// Generated programs whose optimised code passes a limit of the profile
// where their 0x4 code meets it (found among the first 1,000 seeds of each
// stage): literals folded apart past ps_2_x's 32 constant registers (X4507),
// values held past vs_2_a's temporaries (X4004). Each compiles optimised, to
// the generator's values.
TEST(GxlFlowDifferentialFits, OptimisedCodePastALimitThat0x4MeetsCompiles) {
  const struct {
    std::uint64_t seed;
    bool vertex;
    const char* profile;
  } rows[] = {
      {kPixelSeeds + 359, false, "ps_2_a"},
      {kPixelSeeds + 359, false, "ps_2_b"},
      {kPixelSeeds + 420, false, "ps_2_b"},
      {822, true, "vs_2_a"},
  };
  for (const auto& row : rows) {
    const hlslgen::Generator g(row.seed, Shapes(row.seed, row.vertex));
    const GeneratedProgram p = shadertest::MakeGeneratedProgram(g, row.vertex, row.seed);
    Tally tally;
    CompileBothWays(g, p, row.profile, std::to_string(row.seed), tally);
    EXPECT_EQ(tally.profiles[std::string(row.profile) + " opt"].compiled, 1)
        << "seed " << row.seed << " " << row.profile;
  }
}

// Compiles a pixel program that takes a remainder for ps_3_0, both ways, and
// compares it within its margins.
void RunRemainderAtPs30(const hlslgen::Generator& g, std::uint64_t seed) {
  ASSERT_NE(g.Body().find('%'), std::string::npos);
  const GeneratedProgram p = shadertest::MakeGeneratedProgram(g, false, seed);
  Tally tally;
  for (const DWORD flags : {DWORD{0}, kNoOptimisation})
    CompileAndRun(g, p, "ps_3_0", flags, std::to_string(seed), tally);
  EXPECT_EQ(tally.profiles["ps_3_0 opt"].compiled, 1);
  EXPECT_EQ(tally.profiles["ps_3_0 noopt"].compiled, 1);
}

// A remainder of a value near 195 by one near 1.2, summed five times: right
// code is off by 7e-5 of a result near 1.6, within the float margin of the
// value the remainder was taken of.
TEST(GxlFlowDifferentialMargin, RemaindersOfLargeValuesKeepTheirRoundingMargin) {
  const std::uint64_t seed = kPixelSeeds + 1639;
  RunRemainderAtPs30(hlslgen::Generator(seed, Shapes(seed, false)), seed);
}

// A remainder with a large quotient, its small error then multiplied by a
// cross product and a loop counter: 0.011 off exact fmod in right code.
TEST(GxlFlowDifferentialMargin, RemainderErrorCarriedThroughLoopsStaysWithinItsBound) {
  const std::uint64_t seed = kPixelSeeds + 13780;
  const hlslgen::Generator g(seed, Shapes(seed, false));
  RunRemainderAtPs30(g, seed);
  // The bound covers the 0.011 without swallowing the value.
  double widest = 0;
  for (std::size_t k = 0; k < g.Result().size(); ++k) {
    widest = std::max(widest, g.ResultError()[k]);
    EXPECT_LT(g.ResultError()[k], 1e-2 * std::fabs(g.Result()[k]));
  }
  EXPECT_GT(widest, 0.0);
}

// Generated programs whose counted loops side by side share a count but
// not their start or step: the loops once shared one integer constant and
// read the wrong rows.
TEST(GxlFlowWrongCode, GeneratedSteppedLoopsKeepTheirOwnConstants) {
  for (const std::uint64_t seed : {1857u, 1953u, 2673u}) {
    const hlslgen::Generator g(seed, Shapes(seed, true));
    const GeneratedProgram p = shadertest::MakeGeneratedProgram(g, true, seed);
    ASSERT_NE(p.source.find(" += "), std::string::npos) << p.source;
    Tally tally;
    for (const char* profile : {"vs_3_0", "vs_3_sw"})
      for (const DWORD flags : {DWORD{0}, kNoOptimisation})
        CompileAndRun(g, p, profile, flags, std::to_string(seed), tally);
    for (const auto& [name, n] : tally.profiles) EXPECT_EQ(n.compiled, 1) << "seed " << seed << " " << name;
  }
}

// A bool uniform also read in arithmetic has a b register for its if and a c
// register for the arithmetic, two descriptions in the constant table: the
// run sets both (with the c register alone the if was never taken).
TEST(GxlFlowDifferentialMargin, UniformInTwoRegisterSetsIsSetInBoth) {
  const std::uint64_t seed = kPixelSeeds + 7547;
  const hlslgen::Generator g(seed, Shapes(seed, false));
  const GeneratedProgram p = shadertest::MakeGeneratedProgram(g, false, seed);
  const CompiledHlsl c = shadertest::CompileHlsl(p.source, "main", "ps_3_0", 0);
  ASSERT_EQ(c.hr, S_OK) << c.log;
  ASSERT_FALSE(c.Lines("if b").empty()) << c.text;
  Tally tally;
  for (const DWORD flags : {DWORD{0}, kNoOptimisation})
    CompileAndRun(g, p, "ps_3_0", flags, std::to_string(seed), tally);
  EXPECT_EQ(tally.profiles["ps_3_0 opt"].compiled, 1);
  EXPECT_EQ(tally.profiles["ps_3_0 noopt"].compiled, 1);
}

// Pixel nests five and six deep whose loops below the depth ps_3_x keeps
// loops must be unrolled inside loops of uniform length: they ended at the
// work bound, the unrolling (or its rehearsal to the iteration limit)
// rebuilt at each pass of the loops around it. Both compile and give the
// generator's values; so does a third (5 deep) that compiled before, whose
// endless unrollings below the kept depth must not be taken for one another
// by their ranges alone; and a fourth (5 deep) whose innermost condition reads
// one component of a matrix the body moves another of: taken for a trip
// the body decides, its unrolling to the limit was made again at each pass
// of the loops around it.
TEST(GxlFlowDifferentialNests, DeepNestsUnrolledBelowTheKeptDepthMeetNoWorkBound) {
  const struct {
    std::uint64_t seed;
    const char* refusal;  // the limit named, or null where it compiles
  } kSeeds[] = {{kPixelSeeds + 6114, nullptr}, {kPixelSeeds + 7360, nullptr}, {kPixelSeeds + 7654, nullptr},
                 {kPixelSeeds + 7684, nullptr}};
  for (const auto& [seed, refusal] : kSeeds) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const hlslgen::Generator g(seed, NestShapes(seed, false));
    ASSERT_LE(g.StatementCount(), kWorkBoundStatements);
    ASSERT_GE(g.NestDepth(), 5u);
    const GeneratedProgram p = shadertest::MakeGeneratedProgram(g, false, seed);
    Tally tally;
    for (const char* profile : {"ps_3_0", "ps_3_sw"})
      for (const DWORD flags : {DWORD{0}, kNoOptimisation})
        CompileAndRun(g, p, profile, flags, std::to_string(seed), tally);
    EXPECT_TRUE(tally.faults.empty());
    int compiled = 0;
    for (const auto& [name, n] : tally.profiles) compiled += n.compiled;
    EXPECT_EQ(compiled, refusal ? 0 : 4);
    if (refusal) {
      EXPECT_EQ(tally.limits[refusal], 4);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, GxlFlowDifferential,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Range(0u, kBatches + kShapeBatches + kNestBatches)),
                         [](const auto& info) {
                           const std::uint32_t batch = std::get<1>(info.param);
                           const std::string stage = std::get<0>(info.param) ? "vertex_" : "pixel_";
                           if (batch < kBatches) return stage + std::to_string(batch);
                           if (batch < kBatches + kShapeBatches)
                             return stage + "later_shapes_" + std::to_string(batch - kBatches);
                           return stage + "nest_shapes_" + std::to_string(batch - kBatches - kShapeBatches);
                         });

}  // namespace

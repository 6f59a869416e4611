// The whole shader corpus through the shader tools: every HLSL entry point
// compiled for every profile of its stage, with and without optimisation,
// and every assembly file assembled; each result checked, validated, run on
// vertex lanes or 2x2 pixel quads in the token kit's interpreter and compared
// with the entry's C++ reference and with the entry's other profiles. The
// outcome of every cell is checked in (outcome_matrix.txt): a cell whose
// outcome changes fails.
//
// NURA_CORPUS_MATRIX_WRITE=1 rewrites the matrix with what the run saw (a
// path writes there instead), NURA_CORPUS_DIR points the test at another
// corpus of the same layout, NURA_LONG=1 runs ten times the inputs and the
// cells too slow for every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "corpus_run.h"
#include "gxl/shader/shader_entry.h"
#include "outcome_matrix.h"
#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/test_util.h"

namespace corpuse2e {
namespace {

using corpusref::Entry;

using nura::test::LongMode;
int Rounds() { return LongMode() ? 250 : 25; }

// Cells whose compile alone takes minutes in the sanitizer build: run in the
// long mode only, their recorded outcome kept otherwise.
const char* const kSlowCells[] = {
    // Texture-read hoisting on the unoptimised 64-read program.
    "mame/ntsc.fx ps_main ps_2_b 4",
    // The optimised 64-read program on the software profiles, seconds each;
    // their hardware twins run.
    "mame/ntsc.fx ps_main ps_2_sw 0",
    "mame/ntsc.fx ps_main ps_3_sw 0",
};

bool IsForeign(const Entry& e) { return std::string(e.file).rfind("sdl/", 0) == 0; }
Kind KindOf(const Entry& e) { return !e.entry ? Kind::kAssembly : IsForeign(e) ? Kind::kForeign : Kind::kHlsl; }

// The cells one test saw, checked against the checked-in matrix (or merged
// into it when asked) by Check().
class Cells {
 public:
  Cells() : m_write(std::getenv("NURA_CORPUS_MATRIX_WRITE")) {
    std::string error;
    if (!LoadMatrix(MatrixPath(), &m_recorded, &error) && !m_write) ADD_FAILURE() << error;
  }

  void Add(const std::string& key, const std::string& outcome, Kind kind) {
    m_seen[key] = outcome;
    m_kind[key] = kind;
  }
  // A cell this run leaves out keeps its recorded outcome.
  void Keep(const std::string& key, Kind kind) {
    if (m_recorded.count(key)) Add(key, m_recorded.at(key), kind);
  }
  std::string Recorded(const std::string& key) const {
    const auto found = m_recorded.find(key);
    return found == m_recorded.end() ? std::string() : found->second;
  }

  void Check() const {
    if (m_write) {
      std::string error;
      const std::string path = std::string(m_write) == "1" ? MatrixPath() : m_write;
      EXPECT_TRUE(MergeMatrix(path, m_seen, &error)) << error;
      return;
    }
    std::set<std::string> owned;
    for (const auto& [key, outcome] : m_seen) owned.insert(Owner(key));
    for (const auto& [key, outcome] : m_recorded)
      if (owned.count(Owner(key)) && !m_seen.count(key)) ADD_FAILURE() << key << ": a row for a cell that is gone";
    for (const auto& [key, outcome] : m_seen) {
      const std::string recorded = Recorded(key);
      if (recorded.empty()) {
        ADD_FAILURE() << key << ": " << outcome << " has no row in the matrix (regenerate it)";
        continue;
      }
      // A cell that changes fails either way: one that got worse, and one
      // whose better outcome the matrix has yet to record (else it would
      // hide the next change back).
      const Kind kind = m_kind.at(key);
      EXPECT_GE(Rank(outcome, kind), Rank(recorded, kind)) << key << ": was " << recorded << ", now " << outcome;
      if (outcome != recorded && Rank(outcome, kind) >= Rank(recorded, kind))
        ADD_FAILURE() << key << ": was " << recorded << ", now " << outcome
                      << " (regenerate the matrix with NURA_CORPUS_MATRIX_WRITE=1 to keep it)";
    }
  }

 private:
  const char* m_write;
  Matrix m_recorded, m_seen;
  std::map<std::string, Kind> m_kind;
};

#define REQUIRE_CORPUS(root) NURA_REQUIRE_OUTSIDE_INPUT(!(root).empty(), "the shader corpus")

// One HLSL entry at every profile of one shader model of its stage, with
// both option words.
void CheckHlslEntry(const Entry& e, int model, const std::string& root, std::uint32_t seed, Cells* cells) {
  std::string error;
  const std::string source = SourceOf(e, root, &error);
  ASSERT_TRUE(error.empty()) << error;
  const std::string path = e.partner ? std::string() : root + "/" + e.file;
  // The first run that matched the reference, which the others must agree
  // with.
  LaneOutputs baseline;
  std::string baselineProfile;
  for (const char* profile : Profiles(e.stage)) {
    if (profile[3] - '0' != model) continue;
    for (const std::uint32_t options : {0u, kNoOptimisation}) {
      const std::string key = CellKey(e.file, e.entry, profile, options);
      if (!LongMode() && std::find(std::begin(kSlowCells), std::end(kSlowCells), key) != std::end(kSlowCells)) {
        cells->Keep(key, KindOf(e));
        continue;
      }
      const std::string what = std::string(profile) + " options " + std::to_string(options);
      const Built b = Compile(source, path, e, profile, options);
      std::string outcome = Outcome(b), fault = Soundness(b, true);
      if (!fault.empty()) {
        outcome = SUCCEEDED(b.hr) ? "invalid" : "unsound";
      } else if (Rank(outcome, KindOf(e)) == 0) {
        fault = "stopped by a message that is no limit: " + b.log;
      } else if (outcome == "compiled" && !IsForeign(e)) {
        const bool ps1 = std::string(profile).rfind("ps_1_", 0) == 0;
        LaneOutputs got, want;
        if (!RunLanes(b, {&e, ps1, Rounds(), seed}, &got, &want, &error)) {
          fault = "the run fails: " + error;
        } else if (const std::string wrong = Compare(got, want, e.tolerance); !wrong.empty()) {
          fault = "against the reference: " + wrong;
        } else if (baseline.empty()) {
          baseline = got;
          baselineProfile = what;
        } else if (const std::string apart = Compare(got, baseline, e.tolerance); !apart.empty()) {
          fault = "against " + baselineProfile + ": " + apart;
        }
        if (!fault.empty()) outcome = "wrong";
      }
      cells->Add(key, outcome, KindOf(e));
      if (!fault.empty()) {
        // A fault the matrix already records is reported, not failed on;
        // any other fails.
        const std::string recorded = cells->Recorded(key);
        if (!recorded.empty() && Rank(recorded, KindOf(e)) == 0)
          std::printf("known fault: %s (%s): %s\n", key.c_str(), recorded.c_str(), fault.c_str());
        else
          ADD_FAILURE() << what << ": " << fault;
        continue;
      }
      if (!IsForeign(e) && profile == std::string(e.profile) && outcome != "compiled") {
        // The profile the file shipped for: a failure there is a finding the
        // matrix must already hold.
        const std::string recorded = cells->Recorded(key);
        EXPECT_TRUE(outcome == "X3500" || (!recorded.empty() && recorded != "compiled"))
            << what << " is the file's own profile\n"
            << b.log;
        std::printf("finding: %s at its own profile: %s", key.c_str(), b.log.c_str());
      }
    }
  }
}

// One test per HLSL entry (the sdl sources among them) and shader model, so
// that ctest runs them side by side. Every entry with code has a reference,
// so profiles of different models agree through it.
class GxlCorpusE2EEntry : public ::testing::TestWithParam<std::pair<std::size_t, int>> {};

TEST_P(GxlCorpusE2EEntry, AtEveryProfile) {
  const auto [row, model] = GetParam();
  const std::string root = shadertest::CorpusRoot();
  REQUIRE_CORPUS(root);
  Cells cells;
  CheckHlslEntry(corpusref::Entries()[row], model, root, static_cast<std::uint32_t>(row) + 1, &cells);
  cells.Check();
}

std::vector<std::pair<std::size_t, int>> HlslEntries() {
  std::vector<std::pair<std::size_t, int>> rows;
  for (std::size_t i = 0; i < corpusref::Entries().size(); ++i)
    for (int model = 1; model <= 3 && corpusref::Entries()[i].entry; ++model) rows.push_back({i, model});
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Corpus, GxlCorpusE2EEntry, ::testing::ValuesIn(HlslEntries()), [](const auto& info) {
  const Entry& e = corpusref::Entries()[info.param.first];
  std::string name = std::string(e.file) + "_" + e.entry + "_sm" + std::to_string(info.param.second);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

// Assembly files: assembled with the validator (a file written for the
// previous API generation may be refused there), and without it, which
// always encodes; the code runs against the reference.
TEST(GxlCorpusE2E, AssemblyFiles) {
  const std::string root = shadertest::CorpusRoot();
  REQUIRE_CORPUS(root);
  Cells cells;
  std::uint32_t seed = 100;
  for (const Entry& e : corpusref::Entries()) {
    if (e.entry) continue;
    SCOPED_TRACE(e.file);
    std::string error;
    const std::string source = SourceOf(e, root, &error);
    ASSERT_TRUE(error.empty()) << error;
    const Built validated = Assemble(source, 0);
    const std::string outcome = Outcome(validated);
    cells.Add(CellKey(e.file, nullptr, e.profile, 0), outcome, Kind::kAssembly);
    EXPECT_EQ(Soundness(validated, true), "");
    EXPECT_GT(Rank(outcome, Kind::kAssembly), 0) << validated.log;
    const Built raw = Assemble(source, kAssembleSkipValidation);
    ASSERT_EQ(Outcome(raw), "compiled") << raw.log;
    ASSERT_EQ(Soundness(raw, false), "");
    if (outcome == "compiled") {
      EXPECT_EQ(raw.code, validated.code);
    }
    LaneOutputs got, want;
    const bool ps1 = std::string(e.profile).rfind("ps_1_", 0) == 0;
    ASSERT_TRUE(RunLanes(raw, {&e, ps1, Rounds(), seed++}, &got, &want, &error)) << error;
    EXPECT_EQ(Compare(got, want, e.tolerance), "") << "against the reference";
  }
  cells.Check();
}

// Every source file of the corpus has its rows in the table, so a file added
// to the corpus is not silently left out.
TEST(GxlCorpusE2E, EveryCorpusFileHasARow) {
  const std::string root = shadertest::CorpusRoot();
  REQUIRE_CORPUS(root);
  const std::vector<shadertest::CorpusFile> files = shadertest::CorpusFiles();
  ASSERT_FALSE(files.empty());
  for (const shadertest::CorpusFile& f : files) {
    const std::string relative = std::filesystem::relative(f.path, root).string();
    bool found = false;
    for (const Entry& e : corpusref::Entries()) found |= relative == e.file;
    EXPECT_TRUE(found) << relative;
  }
}

}  // namespace
}  // namespace corpuse2e

// Differential test: generated programs through this preprocessor, gcc's cpp
// and Debian's mcpp. Where the two references agree, our tokens must equal
// theirs (line structure aside); where they disagree the program is logged
// and skipped. Programs run in batches: one file includes a hundred of them,
// each followed by a separator and the #undef of every generated macro.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/source_lexer.h"
#include "pp_generator.h"
#include "pp_run.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace {

using Tokens = std::vector<std::string>;

const int kPrograms = nura::test::LongOrShare(500, 200);  // per seed; four seeds make 2,000
constexpr int kBatch = 100;
constexpr const char* kSeparator = "zzsep";
constexpr const char* kDefines = " -DDIRECT3D -DGXL -DDIRECT3D_VERSION=0x900 -DGXL_VERSION=0x902 ";
const char* const kTools[] = {"cpp -P -undef -nostdinc -w", "mcpp -P -@std"};

// The token texts of preprocessed output, as this project's lexer reads them.
Tokens Lex(const std::string& text) {
  PagePool pool(0, 0x10000);
  gxl::shader::MessageLog log;
  gxl::shader::SourceLexer lexer;
  Tokens out;
  if (FAILED(lexer.Init(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, 1, &pool, &log))) return out;
  for (SourceToken t; lexer.ScanToken(1, &t) == S_OK && t.kind != kTokenEndOfInput;)
    if (t.kind != kTokenEndOfLine) out.emplace_back(t.start, t.length);
  return out;
}

// The tool's tokens for a file, or nothing when it failed or said anything.
std::optional<Tokens> RunTool(const char* tool, const std::string& dir, const std::string& file) {
  std::string out;
  const std::string err = file + ".err";
  const int status = nura::test::RunCommand("cd '" + dir + "' && LC_ALL=C LANG=C " + tool + kDefines + file + " 2>" +
                                            err, &out);
  if (status != 0 || std::filesystem::file_size(dir + "/" + err) != 0) return std::nullopt;
  return Lex(out);
}

std::string Show(const Tokens& tokens) {
  std::string s;
  for (const std::string& t : tokens) s += t + " ";
  return s;
}

class GxlShaderPpDiff : public testing::TestWithParam<std::uint32_t> {};

TEST_P(GxlShaderPpDiff, AgreesWithCppAndMcpp) {
  NURA_REQUIRE_OUTSIDE_INPUT(nura::test::HaveTool("cpp") && nura::test::HaveTool("mcpp"), "cpp or mcpp");
  nura::test::TempDir dir;
  std::filesystem::create_directories(dir / "sub");
  shadertest::ProgramGenerator generator(GetParam());
  int compared = 0, disagreements = 0, refused = 0, failures = 0;
  for (int first = 0; first < kPrograms; first += kBatch) {
    std::vector<shadertest::GeneratedProgram> programs;
    std::string batch;
    for (int i = first; i < first + kBatch; ++i) {
      const std::string stem = "p" + std::to_string(i);
      programs.push_back(generator.Next(stem));
      for (const auto& [name, text] : programs.back().files) nura::test::WriteFileText(dir / name, text);
      batch += "#include \"" + stem + ".fx\"\n" + kSeparator + "\n";
      for (int slot = 0; slot < shadertest::ProgramGenerator::kSlots; ++slot)
        batch += "#undef M" + std::to_string(slot) + "\n";
    }
    const std::string batchName = "batch" + std::to_string(first) + ".fx";
    nura::test::WriteFileText(dir / batchName, batch);
    // Per tool and program: its tokens, or nothing when the tool objected.
    std::vector<std::optional<Tokens>> results[2];
    for (int tool = 0; tool < 2; ++tool) {
      const std::optional<Tokens> all = RunTool(kTools[tool], dir.path(), batchName);
      if (all) {
        Tokens segment;
        for (const std::string& t : *all) {
          if (t != kSeparator) segment.push_back(t);
          else results[tool].push_back(std::move(segment)), segment.clear();
        }
      }
      if (results[tool].size() != programs.size()) {  // one at a time, to find the one it refused
        results[tool].clear();
        for (int i = first; i < first + kBatch; ++i)
          results[tool].push_back(RunTool(kTools[tool], dir.path(), "p" + std::to_string(i) + ".fx"));
      }
    }
    for (int k = 0; k < kBatch; ++k) {
      const std::optional<Tokens>& cpp = results[0][k];
      const std::optional<Tokens>& mcpp = results[1][k];
      const std::string& main = programs[k].files[0].first;
      if (!cpp || !mcpp) {
        ++refused;
        continue;
      }
      if (*cpp != *mcpp) {
        ++disagreements;
        std::cout << main << ": cpp and mcpp disagree, skipped\n  cpp:  " << Show(*cpp) << "\n  mcpp: " << Show(*mcpp)
                  << "\n";
        continue;
      }
      ++compared;
      gxl::shader::PreprocessRequest request;
      const std::string path = dir / main;
      request.fileName = path.c_str();
      const gxl::shader::PreprocessResult ours = gxl::shader::PreprocessShaderText(request);
      Tokens tokens;
      for (const std::string& t : ours.tokens)
        if (t != "\n") tokens.push_back(t);
      if (tokens == *cpp && ours.messages.empty()) continue;
      if (++failures > 3) continue;
      ADD_FAILURE() << main << " differs\n  ours: " << Show(tokens) << "\n  refs: " << Show(*cpp) << "\n" << ours.messages;
      for (const auto& [name, text] : programs[k].files) std::cout << "--- " << name << "\n" << text;
    }
  }
  std::cout << compared << " programs compared, " << disagreements << " disagreements, " << refused << " refused\n";
  EXPECT_EQ(failures, 0);
  EXPECT_GE(compared, kPrograms * 8 / 10);
}

INSTANTIATE_TEST_SUITE_P(Seeds, GxlShaderPpDiff, testing::Values(1u, 2u, 3u, 4u));

}  // namespace

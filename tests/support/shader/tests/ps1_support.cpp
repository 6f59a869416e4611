#include "tests/support/shader/tests/ps1_support.h"

#include <cstdlib>
#include <filesystem>

#include "tests/support/shader/corpus.h"
#include "tests/support/shader/token_file.h"
#include "tests/support/test_util.h"

namespace nura::shtok::ps1test {

std::vector<std::uint32_t> AssembleCorpusFile(const std::string& relative) {
  const bool ci = std::getenv("CI") != nullptr;
  std::string path;
  for (const shadertest::CorpusFile& f : shadertest::CorpusFiles()) {
    const std::string& p = f.path;
    if (p.size() > relative.size() && p.compare(p.size() - relative.size(), relative.size(), relative) == 0 &&
        p[p.size() - relative.size() - 1] == '/')
      path = p;
  }
  if (path.empty() || !std::filesystem::exists(NURA_GXLSH)) {
    if (ci) ADD_FAILURE() << (path.empty() ? "corpus file missing: " + relative : "no " NURA_GXLSH);
    return {};
  }
  const std::string command = std::string(NURA_GXLSH) + " asm '" + path + "'";
  std::string text;
  if (!nura::test::RunTool(command, &text)) return {};
  std::vector<std::uint32_t> words;
  std::string error;
  if (!ParseTokenText(text, &words, &error)) ADD_FAILURE() << relative << ": " << error;
  return words;
}

}  // namespace nura::shtok::ps1test

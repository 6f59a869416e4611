// The shared shader corpus beside the checkout (or beside its worktree folder).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

namespace shadertest {

struct CorpusFile {
  std::string path;
  bool assembly;  // .vsh and .psh
};

// The corpus's shader folder: NURA_CORPUS_DIR when set (another corpus of the
// same layout), else shared/corpus/shaders beside the checkout; empty when
// there is none.
inline std::string CorpusRoot() {
  if (const char* dir = std::getenv("NURA_CORPUS_DIR")) return std::filesystem::exists(dir) ? dir : "";
  for (const char* up : {"/..", "/../.."}) {
    const std::string corpus = nura::test::SourceDir() + up + "/shared/corpus/shaders";
    if (std::filesystem::exists(corpus)) return corpus;
  }
  return {};
}

// Every shader source of the corpus (.hlsl, .fx, .vsh, .psh, and .hlsli when
// asked); empty when there is no corpus.
inline std::vector<CorpusFile> CorpusFiles(bool withIncludeFiles = false) {
  namespace fs = std::filesystem;
  std::vector<CorpusFile> files;
  const std::string corpus = CorpusRoot();
  if (!corpus.empty()) {
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
      const std::string ext = entry.path().extension().string();
      const bool assembly = ext == ".psh" || ext == ".vsh";
      if (entry.is_regular_file() &&
          (assembly || ext == ".hlsl" || ext == ".fx" || (withIncludeFiles && ext == ".hlsli")))
        files.push_back({entry.path().string(), assembly});
    }
  }
  return files;
}

}  // namespace shadertest

// The shared shader corpus beside the checkout (or beside its worktree folder).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

namespace shadertest {

struct CorpusFile {
  std::string path;
  bool assembly;  // .vsh and .psh
};

// Every shader source of the corpus (.hlsl, .fx, .vsh, .psh, and .hlsli when
// asked); empty when there is no corpus.
inline std::vector<CorpusFile> CorpusFiles(bool withIncludeFiles = false) {
  namespace fs = std::filesystem;
  std::vector<CorpusFile> files;
  for (const char* up : {"/..", "/../.."}) {
    const fs::path corpus = nura::test::SourceDir() + up + "/shared/corpus/shaders";
    if (!fs::exists(corpus)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
      const std::string ext = entry.path().extension().string();
      const bool assembly = ext == ".psh" || ext == ".vsh";
      if (entry.is_regular_file() &&
          (assembly || ext == ".hlsl" || ext == ".fx" || (withIncludeFiles && ext == ".hlsli")))
        files.push_back({entry.path().string(), assembly});
    }
    break;
  }
  return files;
}

}  // namespace shadertest

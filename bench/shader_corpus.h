// The shared shader corpus for the shader benchmarks.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace shaderbench {

// The shader corpus beside the checkout (or its worktree folder); empty when absent.
inline std::filesystem::path CorpusDir() {
  namespace fs = std::filesystem;
  for (const char* up : {"/..", "/../.."}) {
    const fs::path corpus = fs::path(NURA_SOURCE_DIR + std::string(up)) / "shared/corpus/shaders";
    if (fs::exists(corpus)) return corpus;
  }
  return {};
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace shaderbench

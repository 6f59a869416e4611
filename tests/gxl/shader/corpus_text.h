// Texts of the shared shader corpus for the end-to-end compiler tests: a file
// by the end of its path, and Allegro's vertex and pixel halves joined into
// the one effect text Allegro compiles.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/shader/corpus.h"

namespace shadertest {

// The corpus file whose path ends in `relative` ("mame/ntsc.fx"); empty when
// there is none.
inline std::string ReadCorpus(const std::string& relative) {
  for (const CorpusFile& f : CorpusFiles()) {
    if (f.path.size() < relative.size() || f.path.compare(f.path.size() - relative.size(), relative.size(), relative))
      continue;
    std::ifstream in(f.path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  return {};
}

inline std::string Allegro(const char* vertex, const char* pixel) {
  const std::string v = ReadCorpus(std::string("allegro5/") + vertex), p = ReadCorpus(std::string("allegro5/") + pixel);
  return v.empty() || p.empty() ? std::string() : v + "\n#line 1\n" + p;
}

}  // namespace shadertest

// The body of a vertex function made from a generated expression or program:
// it passes the position through and writes the result to TEXCOORD0 to 3, a
// row each.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/hlslgen/hlslgen.h"

namespace shadertest {

inline std::string GeneratedVertexBody(const hlslgen::Generator& g) {
  const hlslgen::Type& t = g.ResultType();
  std::string body = "  pos = p;\n  t0 = 0;\n  t1 = 0;\n  t2 = 0;\n  t3 = 0;\n" + g.Body();
  for (std::uint32_t i = 0; i < t.rows; ++i)
    for (std::uint32_t j = 0; j < t.columns; ++j) {
      const std::string element = t.matrix        ? "r._m" + std::to_string(i) + std::to_string(j)
                                  : t.columns > 1 ? std::string("r.") + "xyzw"[j]
                                                  : std::string("r");
      body += "  t" + std::to_string(i) + "." + "xyzw"[j] + " = (float)" + element + ";\n";
    }
  return body;
}

}  // namespace shadertest

// Uniforms of a compiled shader placed in the token kit's interpreter by
// name through the code's constant table, with the table's defaults where a
// test names no value.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "gxl/shader/compiler/constant_table.h"
#include "tests/support/shader/interp.h"

namespace shadertest {

// Uniform values by name, row by row as the source declares them.
using Uniforms = std::map<std::string, std::vector<double>>;

// Every float constant of the table placed in its registers: the given
// value where the test names it, else the table's default, else zero.
inline bool PlaceConstants(ConstantTable* table, const Uniforms& uniforms, nura::shtok::Interpreter& interp,
                           std::string* error) {
  ConstantTableDesc desc{};
  if (!table || FAILED(table->Describe(&desc))) return *error = "no constant table", false;
  for (UINT i = 0; i < desc.constants; ++i) {
    ConstantDesc c{};
    UINT count = 1;
    if (FAILED(table->DescribeConstants(table->ConstantByIndex(nullptr, i), &c, &count)) || !c.name) continue;
    if (c.registerSet != 2) continue;
    const auto given = uniforms.find(c.name);
    for (UINT r = 0; r < c.registerCount; ++r) {
      nura::shtok::Float4 value;
      for (UINT k = 0; k < 4; ++k) {
        double x = 0;
        if (given != uniforms.end()) {
          // Matrices by columns hold a column per register.
          const std::size_t at = c.typeClass == 3 ? std::size_t{k} * c.columns + r : std::size_t{r} * c.columns + k;
          // Arrays of rows (scalars, vectors, row-major matrices) go on row after row.
          const bool inside = c.typeClass == 3 ? (k < c.rows && r < c.columns)
                                               : (r < c.rows * std::max(c.elements, 1u) && k < c.columns);
          if (inside && at < given->second.size()) x = given->second[at];
        } else if (c.defaultValue) {
          x = static_cast<const float*>(c.defaultValue)[r * 4 + k];
        }
        value[static_cast<int>(k)] = static_cast<float>(x);
      }
      interp.SetFloat(static_cast<int>(c.registerIndex + r), value);
    }
  }
  return true;
}

}  // namespace shadertest

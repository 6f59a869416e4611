// A generated flow-control program as a whole vertex or pixel function, and
// its run in the token kit's interpreter. Some float variables come in as
// TEXCOORD inputs, the rest (loop bounds and arrays always) as uniforms; the
// result's rows go out to TEXCOORD0-3 (vertex) or COLOR0-3 (pixel), at times
// in parts (.x then .yzw) after a first write of 0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gxl/shader/compiler/constant_table.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/preshader/preshader_runner.h"
#include "tests/support/shader/interp.h"

namespace shadertest {

// Small programs for the shape tests: one statement after r's declaration,
// expressions of one operation, loops of at most 3 passes.
inline hlslgen::Options SmallShapes() {
  return hlslgen::Options{.maxDepth = 1,
                          .maxVariables = 2,
                          .matrices = false,
                          .intrinsics = false,
                          .flowControl = true,
                          .statements = 1,
                          .maxLoopDepth = 1,
                          .maxLoopCount = 3,
                          .maxInstructions = 0};
}

// Flow-control programs in every loop shape the generator has.
inline hlslgen::Options LoopShapes() {
  return hlslgen::Options{.maxDepth = 4,
                          .flowControl = true,
                          .maxLoopDepth = 3,
                          .maxInstructions = 400,
                          .uniformBounds = true,
                          .doWhile = true,
                          .jumps = true,
                          .arrays = true,
                          .carried = true};
}

// The flow differential's options for a seed: the loop shapes, some within
// pixel shader 1.x's range, some with steps other than 1.
inline hlslgen::Options Shapes(std::uint64_t seed, bool vertex) {
  hlslgen::Options options = shadertest::LoopShapes();
  options.unitFloats = !vertex && seed % 3 == 0;  // some within pixel shader 1.x's range
  options.maxLoopDepth = seed % 4 == 0 ? 3u : 2u;
  // A third with loops from other starts by other steps, side by side.
  options.steps = seed % 3 == 0;
  return options;
}

// The later shapes: one leads in turn, the others at random.
inline hlslgen::Options LaterShapes(std::uint64_t seed, bool vertex) {
  hlslgen::Options options = Shapes(seed, vertex);
  bool* const shapes[] = {&options.reversed, &options.exitReads,  &options.outerBounds, &options.whileLoops,
                          &options.calls,    &options.deadNests, &options.exitNests,   &options.keptLoops};
  const std::uint64_t bits = (seed * 0x9E3779B97F4A7C15ull) >> 40;
  for (std::size_t k = 0; k < std::size(shapes); ++k) *shapes[k] = (bits >> k & 3) == 0;
  *shapes[seed % std::size(shapes)] = true;
  return options;
}

// The nest shapes, over the loop shapes with no bound on the instructions
// they unroll to (profiles that keep loops keep them; the others refuse
// them by their limits): one leads in turn, the others and three of the
// later shapes at random.
inline hlslgen::Options NestShapes(std::uint64_t seed, bool vertex) {
  hlslgen::Options options = Shapes(seed, vertex);
  options.maxInstructions = 0;
  bool* const nests[] = {&options.deepNests, &options.uniformWhiles, &options.loopCalls, &options.deadUniformNests,
                         &options.fewPassLoops};
  const std::uint64_t bits = (seed * 0x9E3779B97F4A7C15ull) >> 36;
  for (std::size_t k = 0; k < std::size(nests); ++k) *nests[k] = (bits >> (2 * k) & 3) == 0;
  *nests[seed % std::size(nests)] = true;
  options.outerBounds = (bits >> 10 & 3) == 0;
  options.whileLoops = (bits >> 12 & 3) == 0;
  options.calls = (bits >> 14 & 3) == 0;
  return options;
}

// Each float operation on a value of magnitude R may be off by R * 2^-24, and
// a result can carry that error from a large intermediate it no longer shows:
// a float remainder is y * frac(x / y), off by |x| * 2^-24 for a small result.
// Besides the relative margin, a few such roundings of the largest value the
// program reached (`range`) are allowed, and what the generator bounds a
// remainder's error to after the program has carried it on (`error`).
inline bool Matches(const std::vector<float>& got, const std::vector<double>& want, double range,
                    const std::vector<double>& error) {
  if (got.size() != want.size() || error.size() != want.size()) return false;
  for (std::size_t k = 0; k < got.size(); ++k) {
    const double margin =
        std::max(2e-5 * std::max(1.0, std::fabs(want[k])), std::ldexp(range, -20)) + error[k];
    if (!(std::fabs(got[k] - want[k]) <= margin)) return false;
  }
  return true;
}

struct GeneratedProgram {
  bool vertex = true;
  std::string source;
  std::map<std::uint32_t, std::uint32_t> inputs;  // variable -> TEXCOORD index
  std::uint32_t rows = 1;                         // output registers the result fills
};

inline GeneratedProgram MakeGeneratedProgram(const hlslgen::Generator& g, bool vertex, std::uint64_t seed,
                                             bool inputs = true) {
  GeneratedProgram p;
  p.vertex = vertex;
  std::mt19937_64 random(seed * 0x9E3779B97F4A7C15ull + 1);
  auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
  const hlslgen::Type& t = g.ResultType();
  p.rows = t.matrix ? t.rows : 1;
  std::string parameters = vertex ? "float4 p : POSITION, " : "";
  for (std::uint32_t k = 0; k < g.Variables().size(); ++k) {
    const hlslgen::Variable& v = g.Variables()[k];
    const bool input = inputs && !v.uniform && !v.elements && !v.type.matrix && v.type.base == hlslgen::Base::Float &&
                       p.inputs.size() < 8 && pick(2) == 0;
    if (input) {
      const auto index = static_cast<std::uint32_t>(p.inputs.size());
      p.inputs[k] = index;
      parameters += v.type.Name() + " " + v.name + " : TEXCOORD" + std::to_string(index) + ", ";
      continue;
    }
    p.source += std::string("uniform ") + (v.type.matrix ? "row_major " : "") + v.type.Name() + " " + v.name +
                (v.elements ? "[" + std::to_string(v.elements) + "]" : "") + ";\n";
  }
  std::string body = vertex ? "  pos = p;\n" : "";
  if (vertex) parameters += "out float4 pos : POSITION, ";
  for (std::uint32_t i = 0; i < p.rows; ++i) {
    const std::string o = "o" + std::to_string(i);
    parameters += "out float4 " + o + (vertex ? " : TEXCOORD" : " : COLOR") + std::to_string(i) +
                  (i + 1 < p.rows ? ", " : "");
    body += "  " + o + " = 0;\n";
  }
  body += g.Body();
  // Each row whole, a component at a time, or in two parts.
  for (std::uint32_t i = 0; i < p.rows; ++i) {
    const std::string o = "  o" + std::to_string(i);
    auto element = [&](std::uint32_t first, std::uint32_t count) {
      std::string text = "r";
      if (t.matrix) {
        text += ".";
        for (std::uint32_t j = first; j < first + count; ++j) text += "_m" + std::to_string(i) + std::to_string(j);
      } else if (t.columns > 1) {
        text += "." + std::string("xyzw").substr(first, count);
      }
      return "(" + (count == 1 ? std::string("float") : "float" + std::to_string(count)) + ")" + text;
    };
    const std::uint32_t n = t.columns, split = n > 1 ? 1 + pick(n - 1) : n;
    switch (pick(3)) {
      case 0:
        body += o + "." + std::string("xyzw").substr(0, n) + " = " + element(0, n) + ";\n";
        break;
      case 1:
        for (std::uint32_t j = 0; j < n; ++j) body += o + "." + "xyzw"[j] + " = " + element(j, 1) + ";\n";
        break;
      default:
        body += o + "." + std::string("xyzw").substr(0, split) + " = " + element(0, split) + ";\n";
        if (split < n)
          body += o + "." + std::string("xyzw").substr(split, n - split) + " = " + element(split, n - split) + ";\n";
        break;
    }
  }
  parameters.erase(parameters.find_last_not_of(", ") + 1);
  p.source += g.FunctionText() + "void main(" + parameters + ") {\n" + body + "}\n";
  return p;
}

// Loads the code, sets the uniforms where its constant table puts them (and
// what its preshader computes), fills the inputs and runs one lane; the
// result's components, row by row.
inline bool RunGeneratedProgram(const CompiledHlsl& c, const hlslgen::Generator& g, const GeneratedProgram& p,
                                std::vector<float>* out, std::string* error) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  presrun::Uniforms uniforms;
  for (std::uint32_t k = 0; k < g.Variables().size(); ++k) {
    const hlslgen::Variable& v = g.Variables()[k];
    if (p.inputs.count(k)) continue;
    uniforms[v.name] = v.value;
    // A uniform read both as a bool and in arithmetic has a register in each
    // set, a description each.
    ConstantDesc descs[3]{};
    UINT count = 3;
    const ConstantHandle handle = c.table ? c.table->ConstantByName(nullptr, v.name.c_str()) : nullptr;
    if (!handle || FAILED(c.table->DescribeConstants(handle, descs, &count))) continue;  // not read
    const std::uint32_t rows = v.type.rows, columns = v.type.columns;
    for (UINT d = 0; d < std::min(count, 3u); ++d) {
      const ConstantDesc& desc = descs[d];
      for (std::uint32_t r = 0; r < desc.registerCount; ++r) {
        // A register per array element or matrix row (a column when packed by
        // columns); the constant table widens int rows with (0, 0, 1, 0).
        nura::shtok::Float4 x(0, 0, desc.registerSet == 1 ? 1.0f : 0.0f, 0);
        for (std::uint32_t i = 0; i < 4; ++i) {
          std::size_t at = v.value.size();
          if (v.elements && i < columns) at = std::size_t{r} * columns + i;
          if (!v.elements && desc.typeClass == 3 && i < rows && r < columns) at = std::size_t{i} * columns + r;
          if (!v.elements && desc.typeClass != 3 && r < rows && i < columns) at = std::size_t{r} * columns + i;
          if (at < v.value.size()) x[static_cast<int>(i)] = static_cast<float>(v.value[at]);
        }
        const int reg = static_cast<int>(desc.registerIndex + r);
        if (desc.registerSet == 0) interp.SetBool(reg, x[0] != 0);
        if (desc.registerSet == 1)
          interp.SetInt(reg, static_cast<int>(x[0]), static_cast<int>(x[1]), static_cast<int>(x[2]),
                        static_cast<int>(x[3]));
        if (desc.registerSet == 2) interp.SetFloat(reg, x);
      }
    }
  }
  presrun::Registers computed;
  if (FAILED(presrun::RunPreshader(c.code.data(), c.code.size(), uniforms, computed, error))) return false;
  for (const auto& [reg, value] : computed)
    interp.SetFloat(static_cast<int>(reg), nura::shtok::Float4(value[0], value[1], value[2], value[3]));
  nura::shtok::Lane lane;
  for (const auto& [variable, index] : p.inputs) {
    const nura::shtok::Declaration* d = interp.FindDeclaration(nura::shtok::kUsageTexCoord, static_cast<int>(index));
    nura::shtok::Float4* slot = d ? nura::shtok::DeclaredSlot(lane, *d) : nullptr;
    if (!slot) continue;  // not read
    const std::vector<double>& value = g.Variables()[variable].value;
    for (std::size_t i = 0; i < value.size() && i < 4; ++i) (*slot)[static_cast<int>(i)] = static_cast<float>(value[i]);
  }
  if (!interp.Run(&lane, 1, error)) return false;
  const hlslgen::Type& t = g.ResultType();
  out->clear();
  for (std::uint32_t i = 0; i < p.rows; ++i) {
    const nura::shtok::Float4* row = &lane.oC[i];
    if (p.vertex) {
      const nura::shtok::Declaration* d =
          interp.FindDeclaration(nura::shtok::kUsageTexCoord, static_cast<int>(i), true);  // vs_3_0 o#
      row = d ? &lane.o[d->number] : &lane.o[i];                                          // else oT#
    }
    for (std::uint32_t j = 0; j < t.columns; ++j) out->push_back((*row)[static_cast<int>(j)]);
  }
  return true;
}

}  // namespace shadertest

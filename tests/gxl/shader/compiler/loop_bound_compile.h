// One HLSL compile through the compiler object with the lowering's bound set
// (smaller bounds make loops meet it sooner) and, optionally, the reference
// switch and the check of kept simulations: the code as the flow tests read
// it, and what the loop lowering counted of its simulations and checks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "bounded_run.h"
#include "flow_lane.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/gxl/shader/log_text.h"

namespace shadertest {

struct LoopCompile {
  CompiledHlsl c;
  std::uint32_t covered = 0, coverChecks = 0, coverMismatches = 0;
  std::uint32_t settled = 0, settleChecks = 0, settleMismatches = 0;
  std::uint32_t memoChecks = 0, memoMismatches = 0;
  std::uint32_t projected = 0, projectionChecks = 0, projectionMisses = 0;
  std::uint32_t reused = 0;  // unrollings below the kept depth reused
  std::uint64_t workSpent = 0, workGranted = 0, workCharged = 0;
  std::uint32_t secondCompiles = 0;
  std::uint64_t built = 0;  // instructions the lowering built, given-up ones included
  std::uint64_t moveChainSteps = 0;
};

struct LoopCompileOptions {
  std::uint64_t builds = gxl::shader::kLoweringBuildLimit;
  std::uint64_t budget = gxl::shader::kCompileWorkBudget;  // the compile's work budget
  bool reference = false;
  std::uint32_t checkMemos = 0;
  // Called at each step of the second phase (scheduling and allocation).
  HRESULT (*secondPhaseStepHook)(gxl::shader::ShaderProgram&, std::uint32_t step, HRESULT status) = nullptr;
};

inline LoopCompile CompileLoops(const std::string& source, const char* profile, DWORD flags,
                                const LoopCompileOptions& o = {}) {
  LoopCompile r;
  gxl::shader::ShaderPreprocessor pp;
  r.c.hr = pp.StartFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr);
  if (SUCCEEDED(r.c.hr)) {
    gxl::shader::ShaderCompiler compiler;
    compiler.loweringBuildLimit = o.builds;
    compiler.workBudget = o.budget;
    compiler.workCap = CapFor(o.budget);
    compiler.referenceSearches = o.reference;
    compiler.checkLoopMemos = o.checkMemos;
    compiler.secondPhaseStepHook = o.secondPhaseStepHook;
    gxl::ComRef<DataBuffer> code;
    r.c.hr = compiler.CompileSource(&pp, nullptr, "main", 0, profile, flags | 0x100, code.Put(), nullptr);
    r.covered = compiler.coveredLoops;
    r.coverChecks = compiler.coverChecks;
    r.coverMismatches = compiler.coverMismatches;
    r.settled = compiler.settledSimulations;
    r.settleChecks = compiler.settleChecks;
    r.settleMismatches = compiler.settleMismatches;
    r.memoChecks = compiler.loopMemoChecks;
    r.memoMismatches = compiler.loopMemoMismatches;
    r.projected = compiler.projectedLoops;
    r.reused = compiler.reusedUnrollings;
    r.projectionChecks = compiler.projectionChecks;
    r.projectionMisses = compiler.projectionMisses;
    r.workSpent = compiler.workSpent;
    r.workGranted = compiler.workGranted;
    r.workCharged = compiler.workCharged;
    r.secondCompiles = compiler.secondCompiles;
    r.built = compiler.InstructionsBuilt();
    r.moveChainSteps = compiler.moveChainSteps;
    if (code) {
      const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
      r.c.code.assign(words, words + code->GetSize() / 4);
      std::string error;
      if (!nura::shtok::Disassemble(r.c.code.data(), r.c.code.size(), &r.c.text, &error))
        r.c.text = "undecodable: " + error;
      if (FAILED(CreateShaderConstantTable(reinterpret_cast<const DWORD*>(r.c.code.data()), r.c.table.Put())))
        r.c.text += "\nno constant table";
    }
  }
  r.c.log = LogText(pp.Log());
  return r;
}

// A loop body of `pairs` pairs a = a * k0 + b * k1 + c; b = b * 0.5 - a *
// 0.125 + i * k2 over float4 a, b, c and the counter i, damped, with
// coefficients from the seed; and the same done here.
struct LoopPairs {
  std::string text;
  std::vector<std::array<float, 3>> k;
};

inline LoopPairs MakeLoopPairs(std::uint32_t seed, int pairs) {
  LoopPairs b;
  for (int p = 0; p < pairs; ++p) {
    const std::uint32_t s = seed * 11 + static_cast<std::uint32_t>(p);
    const std::array<float, 3> k = {s % 2 ? 0.5f : 0.25f, s % 3 ? 0.25f : -0.125f, s % 5 ? 0.03125f : -0.0625f};
    b.k.push_back(k);
    b.text += "  a = a * " + Num(k[0]) + " + b * " + Num(k[1]) + " + c;\n  b = b * 0.5 - a * 0.125 + (float)i * " +
              Num(k[2]) + ";\n";
  }
  return b;
}

inline void RunLoopPairs(const LoopPairs& body, int i, std::array<float, 4>& a, std::array<float, 4>& b,
                         const std::array<float, 4>& c) {
  for (const std::array<float, 3>& k : body.k)
    for (int e = 0; e < 4; ++e) {
      a[e] = a[e] * k[0] + b[e] * k[1] + c[e];
      b[e] = b[e] * 0.5f - a[e] * 0.125f + float(i) * k[2];
    }
}

// A loop-pairs program: `head` (uniforms n, m, c and functions), then main
// running `loops` over a and b (TEXCOORD0 and 1) and returning a + b.
inline std::string LoopPairsProgram(const std::string& head, const std::string& loops, bool pixel) {
  return pixel ? head + "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR0 {\n" + loops +
                     "return a + b; }\n"
               : head +
                     "void main(float4 a : TEXCOORD0, float4 b : TEXCOORD1, out float4 p : POSITION, "
                     "out float4 o : TEXCOORD0) {\n" +
                     loops + "p = a; o = a + b; }\n";
}

// One lane of a loop-pairs program: a0 and b0 come in TEXCOORD0 and 1, the
// uniforms n, m and c are set; its output (COLOR0, or TEXCOORD0 of vertex
// code) is what the program returns.
inline bool RunLoopPairsLane(const CompiledHlsl& code, bool pixel, int n, int m, const std::array<float, 4>& c,
                             const std::array<float, 4>& a0, const std::array<float, 4>& b0,
                             nura::shtok::Float4* got, std::string* error) {
  return RunLane(code, {{"n", {double(n)}}, {"m", {double(m)}}, {"c", {c.begin(), c.end()}}},
                 {{In(kTexCoord, 0), nura::shtok::Float4(a0[0], a0[1], a0[2], a0[3])},
                  {In(kTexCoord, 1), nura::shtok::Float4(b0[0], b0[1], b0[2], b0[3])}},
                 pixel ? LaneOutput{} : LaneOutput{kTexCoord, 0}, got, error);
}

// Whether compiled code holds a flow-control loop.
inline bool HasLoop(const CompiledHlsl& c) {
  return c.text.find("\nrep ") != std::string::npos || c.text.find("\nloop ") != std::string::npos;
}

}  // namespace shadertest

// A compiler inside one shader-tool run: the run's preprocessor (lock, pool,
// log), the IR node pools and a stand-in target whose limits each test sets,
// with helpers that run the program through the IR kit's interpreter.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "tests/gxl/shader/log_text.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/ir_interpreter.h"
#include "tests/support/ir/recording_target.h"

namespace compilertest {

using namespace gxl::shader;
using irkit::Values;

// Per value: whether a NaN reached it through its instruction's arguments,
// even where a comparison or a minimum hid it again. The range analysis and
// folding say nothing about such values.
inline std::vector<bool> NanReached(const ShaderProgram& program, const irkit::IrInterpreter& run) {
  std::vector<bool> reached(program.values.Count(), false);
  for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
    const IrInstruction& inst = *program.Instruction(i);
    bool nan = false;
    for (std::uint32_t k = 0; k < inst.argumentCount; ++k)
      nan = nan || reached[inst.arguments[k]] || std::isnan(run.Value(inst.arguments[k]));
    for (std::uint32_t k = 0; k < inst.resultCount; ++k) reached[inst.results[k]] = nan;
  }
  return reached;
}

// Gives the compiler a fresh program for `version` on a target with the
// given limits; the program, or null when its set-up failed.
inline irkit::RecordingTarget* StartProgram(ShaderCompiler& compiler, ShaderPreprocessor& pp,
                                            const ProfileLimits& limits, std::uint32_t options,
                                            std::uint32_t version = 0xFFFE0200) {
  auto t = std::make_unique<irkit::RecordingTarget>(limits);
  if (t->Init(nullptr, &pp.Log(), version, options) != S_OK) return nullptr;
  irkit::RecordingTarget* program = t.get();
  compiler.source = &pp;
  compiler.version = version;
  compiler.options = options;
  compiler.one = compiler.zero = compiler.minusOne = kNoIndex;
  compiler.target = std::move(t);
  return program;
}

class CompilerTest : public ::testing::Test {
 protected:
  // A fresh program for `version` on a target with the given capability words.
  void Start(std::uint32_t operationCaps = 0, std::uint32_t flowCaps = 0, std::uint32_t options = 0,
             std::uint32_t version = 0xFFFE0200, std::uint32_t powerCost = 1) {
    program = StartProgram(compiler, pp, irkit::RecordingTarget::Limits(operationCaps, flowCaps, powerCost), options,
                           version);
    ASSERT_NE(program, nullptr);
    builder = std::make_unique<irkit::IrBuilder>(*program);
  }
  void SetUp() override { Start(); }

  irkit::IrBuilder& B() { return *builder; }
  std::uint32_t Bank(StandardBank b) const { return program->StandardBankIndex(b); }
  std::uint32_t Literal(double x) { return compiler.NewLiteral(x); }
  // Component c of input register r.
  std::uint32_t Input(std::uint32_t r, std::uint32_t c = 0) {
    return program->AddValue(Bank(StandardBank::Inputs), r, c, 0.0);
  }
  std::string Log() { return shadertest::LogText(pp.Log()); }

  // Runs the program with input register r, component 0, holding inputs[r];
  // the values of `out`.
  std::vector<double> Run(const std::vector<std::uint32_t>& out, const std::vector<double>& inputs = {}) {
    irkit::IrInterpreter run(*program);
    for (std::uint32_t r = 0; r < inputs.size(); ++r) run.SetRegister(Bank(StandardBank::Inputs), r, 0, inputs[r]);
    EXPECT_TRUE(run.Run()) << run.Error();
    return run.Values(out);
  }
  double Run1(std::uint32_t out, const std::vector<double>& inputs = {}) { return Run({out}, inputs)[0]; }

  std::uint32_t Emit1(std::uint32_t group, std::uint32_t a, std::uint32_t flags = 0) {
    std::uint32_t r = kNoIndex;
    EXPECT_EQ(compiler.EmitInstruction(nullptr, IrWord(group, 1), &r, &a, nullptr, flags), S_OK);
    return r;
  }
  std::uint32_t Emit2(std::uint32_t group, std::uint32_t a, std::uint32_t b, std::uint32_t flags = 0) {
    std::uint32_t r = kNoIndex;
    EXPECT_EQ(compiler.EmitInstruction(nullptr, IrWord(group, 1), &r, &a, &b, flags), S_OK);
    return r;
  }
  std::uint32_t InstructionCount() const { return program->instructions.Count(); }

  gxl::shader::ShaderPreprocessor pp;  // the run: lock, current pool and log
  PagePool irPages{0x100000, 0x10000};
  IrPoolScope scope{&irPages};
  ShaderCompiler compiler;  // owns the target; goes before the pools
  irkit::RecordingTarget* program = nullptr;
  std::unique_ptr<irkit::IrBuilder> builder;
};

}  // namespace compilertest

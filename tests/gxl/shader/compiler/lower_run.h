// One HLSL source lowered whole: parsed, set up through LowerProgram on a
// stand-in target with chosen limits, its entry function lowered, and run in
// the IR kit's interpreter with values for its inputs and uniforms by name.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/core/type_record.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "tests/gxl/shader/hlsl_parse_run.h"
#include "tests/support/ir/ir_interpreter.h"
#include "tests/support/ir/recording_target.h"

namespace compilertest {

using namespace gxl::shader;

// Limits of a target: the operation and flow-control words, the if-block
// limits (static, dynamic), the loop nesting depth and the iteration limit.
inline ProfileLimits TargetLimits(std::uint32_t caps, std::uint32_t flow, std::uint32_t staticIfs,
                                  std::uint32_t dynamicIfs, std::uint32_t loopDepth, std::uint32_t iterations = 255) {
  ProfileLimits l = irkit::RecordingTarget::Limits(caps, flow);
  l.word11 = staticIfs;
  l.word12 = dynamicIfs;
  l.word13 = loopDepth;
  l.loopIterations = iterations;
  return l;
}
// Shader model 3 (pixel), 2.0 (pixel) and 2.0 (vertex) as their targets set them.
inline ProfileLimits Ps30() { return TargetLimits(0x402001A0, 0x1534, 8, 24, 4); }
inline ProfileLimits Ps20() {
  ProfileLimits l = TargetLimits(0x42001A3, 0xA, 0, 0, 0, 0);
  l.samplers = 16;
  return l;
}
inline ProfileLimits Vs20() {
  ProfileLimits l = TargetLimits(0x40 | 0x200100, 0x40 | 0x300 | 0x2, 8, 0, 1);
  l.addressRegisters = 1;
  l.booleanConstants = 16;
  return l;
}
inline ProfileLimits Vs30() {
  ProfileLimits l = TargetLimits(0x40200100, 0x1FE4, 8, 24, 4);
  l.addressRegisters = 1;
  l.booleanConstants = 16;
  return l;
}

struct LowerRun {
  LowerRun(const std::string& text, const char* entry, const ProfileLimits& limits, std::uint32_t options = 0,
           std::uint32_t version = 0xFFFF0300, bool refuseSemantics = false,
           std::uint32_t parseOptions = shadertest::kParseOptions)
      : parse(text, parseOptions) {
    log = parse.log;
    if ((hr = parse.hr) != S_OK) return;
    auto t = std::make_unique<irkit::RecordingTarget>(limits);
    program = t.get();
    program->refuseSemantics = refuseSemantics;
    compiler.source = &parse.pp;
    compiler.version = version;
    compiler.options = options;
    compiler.tree = parse.tree;
    compiler.target = std::move(t);
    hr = compiler.LowerProgram();
    function = SUCCEEDED(hr) ? compiler.FindEntryPoint(entry) : nullptr;
    if (SUCCEEDED(hr)) hr = function ? compiler.LowerFunction(entry, function, nullptr, nullptr, 1, 0) : E_FAIL;
    if (SUCCEEDED(hr) && compiler.errorFlag) hr = E_FAIL;
    log = shadertest::LogText(parse.pp.Log());
    if (log == "<null>") log.clear();
  }
  LowerRun(const LowerRun&) = delete;
  LowerRun& operator=(const LowerRun&) = delete;

  bool Logged(const std::string& text) const { return log.find(text) != std::string::npos; }
  std::uint32_t Bank(StandardBank b) const { return program->StandardBankIndex(b); }
  // Instructions of a group.
  std::uint32_t Count(std::uint32_t group) const {
    std::uint32_t n = 0;
    for (std::uint32_t i = 0; i < program->instructions.Count(); ++i)
      n += program->Instruction(i) && program->Instruction(i)->Group() == group;
    return n;
  }
  // The values of the named variable that registers hold (inputs, uniforms), by component.
  std::vector<const IrValue*> Placed(const std::string& name) const {
    std::vector<const IrValue*> found;
    for (std::uint32_t i = 0; i < program->values.Count(); ++i) {
      const IrValue* v = program->Value(i);
      const RegisterBank* bank = v ? program->BankOf(*v) : nullptr;
      const char* text = v ? DeclarationNameText(v->declaration) : nullptr;
      if (!bank || !(bank->type & kBankInitialised) || (bank->type & kBankLiteral) || v->reg == kNoIndex ||
          v->relativeIndex != kNoIndex || !text || name != text)
        continue;
      found.push_back(v);
    }
    std::sort(found.begin(), found.end(),
              [](const IrValue* a, const IrValue* b) { return a->variableComponent < b->variableComponent; });
    return found;
  }
  // The output values in register order.
  std::vector<std::uint32_t> Outputs() const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < program->values.Count(); ++i)
      if (const IrValue* v = program->Value(i); v && v->bank == Bank(StandardBank::Outputs)) out.push_back(i);
    std::sort(out.begin(), out.end(), [this](std::uint32_t a, std::uint32_t b) {
      const IrValue &x = *program->Value(a), &y = *program->Value(b);
      return x.reg != y.reg ? x.reg < y.reg : x.component < y.component;
    });
    return out;
  }
  // Runs with the named variables' registers set; the outputs, or nothing
  // when the run failed (with a test failure).
  std::vector<double> Run(const std::map<std::string, std::vector<double>>& values, bool* discardedOut = nullptr) {
    irkit::IrInterpreter run(*program);
    for (const auto& [name, x] : values) {
      const std::vector<const IrValue*> placed = Placed(name);
      EXPECT_FALSE(placed.empty()) << name;
      for (const IrValue* v : placed)
        if (v->variableComponent < x.size()) run.SetRegister(v->bank, v->reg, v->component, x[v->variableComponent]);
    }
    if (!run.Run()) {
      ADD_FAILURE() << run.Error();
      return {};
    }
    if (discardedOut) *discardedOut = run.Discarded();
    return run.Values(Outputs());
  }

  shadertest::ParseRun parse;
  PagePool irPages{0x100000, 0x10000};
  IrPoolScope scope{&irPages};
  ShaderCompiler compiler;  // owns the program; goes before the pools
  irkit::RecordingTarget* program = nullptr;
  ParseNodeKind10* function = nullptr;
  HRESULT hr = E_FAIL;
  std::string log;
};

}  // namespace compilertest

// Flow-control and operand fix-up tests: a test target whose code generation
// runs the loop-merge moves and the structured rebuild as the flow-control
// targets do, with an optional one-constant read-port rule, and helpers that
// run the IR interpreter and the token kit's interpreter on the same inputs.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "target_fixture.h"
#include "tests/support/ir/ir_interpreter.h"

namespace flowtest {

using namespace gxl::shader;
using irkit::Concat;
using irkit::IrBuilder;
using irkit::IrInterpreter;
using irkit::TestTarget;
using irkit::Values;
using targettest::Code;

// Where the next message of the log will start (LogText's "<null>" is no text).
inline std::size_t LogMark(const MessageLog& log) {
  const std::string text = shadertest::LogText(log);
  return text == "<null>" ? 0 : text.size();
}

class FlowTarget : public TestTarget {
 public:
  using TestTarget::TestTarget;

  HRESULT GenerateCode() override {
    if (!rebuild || profileLimits.booleanConstants == 0) return S_FALSE;
    bool moved = false;
    for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
      SetCurrentInstruction(i);
      if (!current || current->Group() != kOpBreakMerge) continue;
      const HRESULT hr = MaterializeLoopMerge();
      if (FAILED(hr)) return hr;
      moved |= hr == S_OK;
      i = currentIndex;
    }
    HRESULT hr = moved ? ResetSelectionState() : S_OK;
    if (SUCCEEDED(hr)) hr = LoadAddresses();
    if (SUCCEEDED(hr)) hr = RebuildFlowControl();
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
    if (SUCCEEDED(hr)) hr = RemoveEmptyConditionalBlocks(*this);
    return FAILED(hr) ? hr : S_OK;
  }
  // One pass of address-register loads, each in front of its reader.
  HRESULT LoadAddresses() {
    const std::uint32_t count = instructions.Count();
    for (std::uint32_t i = 0; i < count; ++i) {
      SetCurrentInstruction(i);
      if (!current || current->word < 0x100000) continue;
      const HRESULT hr = LoadAddressRegisters();
      if (FAILED(hr)) return hr;
      if (AddInstructionCopy(Instruction(i)) == kNoIndex) return E_OUTOFMEMORY;
      Instruction(i)->word = 0;
    }
    const HRESULT hr = CompactInstructions();
    return FAILED(hr) ? hr : ResetSelectionState();
  }
  // With `oneConstant`: an instruction may read one constant register (as
  // vs_1_1); the group of the second distinct one needs a copy.
  std::uint32_t NextArgumentToCopy(const IrInstruction& inst, std::uint32_t* group) override {
    const std::uint32_t n = inst.Width();
    if (!oneConstant || n == 0 || inst.argumentCount % n || inst.Group() < 0x200) return 0;
    const IrValue* seen = nullptr;
    for (std::uint32_t k = 0; k < inst.argumentCount / n; ++k) {
      const IrValue* v = Value(inst.arguments[k * n]);
      if (!v || !(BankOf(*v)->type & kBankUniform) || (BankOf(*v)->type & kBankLiteral)) continue;
      if (!seen) {
        seen = v;
      } else if (v->bank != seen->bank || v->reg != seen->reg || v->relativeIndex != seen->relativeIndex) {
        if (group) *group = k;
        return 1;
      }
    }
    return 0;
  }

  bool rebuild = true;
  bool oneConstant = false;
};

class FlowTest : public targettest::TargetTest {
 protected:
  FlowTarget& MakeFlow(TestTarget::Flavour flavour, std::uint32_t options = 0) {
    auto made = std::make_unique<FlowTarget>(flavour);
    FlowTarget& t = *made;
    target = std::move(made);
    EXPECT_EQ(t.Init(nullptr, &log, flavour, options), S_OK);
    return t;
  }
  FlowTarget& Flow() { return static_cast<FlowTarget&>(*target); }

  // Live instructions of a group.
  static std::uint32_t Count(const ShaderProgram& p, std::uint32_t group) {
    std::uint32_t n = 0;
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
      const IrInstruction* inst = p.instructions[i];
      n += inst && inst->word >= 0x100000 && inst->Group() == group;
    }
    return n;
  }
  static std::uint32_t Find(const ShaderProgram& p, std::uint32_t group) {
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i)
      if (const IrInstruction* inst = p.instructions[i]; inst && inst->word >= 0x100000 && inst->Group() == group)
        return i;
    return kNoIndex;
  }
  // Runs a recogniser on the first live instruction of `group`.
  static HRESULT RunOn(ShaderTarget& t, std::uint32_t group, const std::function<HRESULT(ShaderTarget&)>& run) {
    const std::uint32_t at = Find(t, group);
    if (at == kNoIndex) return E_INVALIDARG;
    EXPECT_EQ(t.ResetSelectionState(), S_OK);
    t.SetCurrentInstruction(at);
    return run(t);
  }

  // Output register o0 after an IR run with v0 = `input`, c0-c15 as `Constant`
  // and what `setup` adds.
  static std::vector<double> RunIr(const ShaderProgram& p, const std::vector<double>& input, std::uint32_t width,
                                   const std::function<void(IrInterpreter&)>& setup = {}) {
    IrInterpreter run(p);
    for (std::uint32_t c = 0; c < input.size(); ++c)
      run.SetRegister(p.StandardBankIndex(StandardBank::Inputs), 0, c, input[c]);
    for (std::uint32_t r = 0; r < 16; ++r)
      for (std::uint32_t c = 0; c < 4; ++c)
        run.SetRegister(p.StandardBankIndex(StandardBank::FloatConstants), r, c, Constant(r, c));
    if (setup) setup(run);
    EXPECT_TRUE(run.Run()) << run.Error();
    std::vector<double> out;
    for (std::uint32_t c = 0; c < width; ++c)
      out.push_back(run.Register(p.StandardBankIndex(StandardBank::Outputs), 0, c));
    return out;
  }
  static float Constant(std::uint32_t r, std::uint32_t c) {
    return 0.25f * static_cast<float>(r + 1) + static_cast<float>(c);
  }

  // o0 after the token kit runs the code on one vertex with v0 = `input`.
  nura::shtok::Float4 RunCode(const Code& code, const std::vector<double>& input,
                              const std::function<void(nura::shtok::Interpreter&)>& setup = {}) {
    nura::shtok::Interpreter interp;
    std::string error;
    EXPECT_TRUE(interp.Load(code.data(), code.size(), &error)) << error << "\n" << Text(code);
    for (int r = 0; r < 16; ++r)
      interp.SetFloat(r, nura::shtok::Float4(Constant(r, 0), Constant(r, 1), Constant(r, 2), Constant(r, 3)));
    if (setup) setup(interp);
    nura::shtok::Lane lane;
    for (std::size_t c = 0; c < input.size(); ++c) lane.v[0][static_cast<int>(c)] = static_cast<float>(input[c]);
    EXPECT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << Text(code);
    return target->versionToken == TestTarget::kVs30 ? lane.o[0] : lane.oPos;
  }
};

}  // namespace flowtest

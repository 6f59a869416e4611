// A recording target whose profile limits a test chooses, with a builder
// and the interpreter at hand: what the tests of the passes that read the
// capability word start from.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "gxl/shader/core/page_pool.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/ir_interpreter.h"
#include "tests/support/ir/recording_target.h"

namespace irtest {

class TargetFixture : public ::testing::Test {
 protected:
  TargetFixture() : scope(&pages) {}

  // Sets the program up with these limits; before anything is built.
  void Start(std::uint32_t capabilities = 0, std::uint32_t samplers = 0, std::uint32_t secondFlags = 0x200,
             std::uint32_t options = 0) {
    program.limits = irkit::RecordingTarget::Limits(capabilities, secondFlags);
    program.limits.samplers = samplers;
    ASSERT_EQ(program.Init(nullptr, &log, 0xFFFF0300, options), S_OK);
  }
  std::uint32_t Bank(gxl::shader::StandardBank bank) const { return program.StandardBankIndex(bank); }
  gxl::shader::IrValue& V(std::uint32_t value) { return *program.Value(value); }
  // Non-empty instructions of a group.
  std::uint32_t Count(std::uint32_t group) const {
    std::uint32_t n = 0;
    for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
      const gxl::shader::IrInstruction* inst = program.Instruction(i);
      n += inst && inst->word >= 0x100000 && inst->Group() == group;
    }
    return n;
  }
  // The first `width` components of output register `reg` after running the
  // program on input v0 = xs (and v1 = ys).
  std::vector<double> Run(std::initializer_list<double> xs, std::uint32_t width, std::uint32_t reg = 0,
                          std::initializer_list<double> ys = {0, 0, 0, 0}) {
    irkit::IrInterpreter run(program);
    run.SetRegister(gxl::shader::StandardBank::Inputs, 0, xs);
    run.SetRegister(gxl::shader::StandardBank::Inputs, 1, ys);
    for (std::uint32_t r = 0; r < 4; ++r)
      run.SetRegister(gxl::shader::StandardBank::FloatConstants, r,
                      {10.0 * r, 10.0 * r + 1, 10.0 * r + 2, 10.0 * r + 3});
    EXPECT_TRUE(run.Run()) << run.Error();
    std::vector<double> out;
    for (std::uint32_t c = 0; c < width; ++c)
      out.push_back(run.Register(Bank(gxl::shader::StandardBank::Outputs), reg, c));
    return out;
  }

  PagePool pages{0x100000, 0x10000};
  gxl::shader::IrPoolScope scope;
  gxl::shader::MessageLog log;
  irkit::RecordingTarget program;  // destroyed first: its nodes go back before the pool goes
  irkit::IrBuilder b{program};
};

}  // namespace irtest

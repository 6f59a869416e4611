// What the tests of scheduling, register assignment, pairing and the second
// phase share: a target whose profile limits a test sets (so that its slot 5,
// the register check with pairing, runs), a run of one random program on it,
// and the outputs of a program by value and by physical register.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "allocation_checks.h"
#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/page_pool.h"
#include "ir_validation.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/random_program.h"

namespace irtest {

class AllocTarget : public gxl::shader::ShaderTarget {
 public:
  explicit AllocTarget(const gxl::shader::ProfileLimits& l) : ShaderTarget(false), limits(l) {}
  HRESULT SetupProfileLimits() override {
    profileLimits = limits;
    return S_OK;
  }
  gxl::shader::ProfileLimits limits;
};

// One program on an AllocTarget with the pools and log of its own run.
struct AllocRun {
  explicit AllocRun(const gxl::shader::ProfileLimits& limits, std::uint32_t options = 0,
                    std::uint32_t version = 0xFFFE0300)
      : scope(&pages), program(limits) {
    EXPECT_EQ(program.Init(nullptr, &log, version, options), S_OK);
  }
  std::uint32_t Bank(gxl::shader::StandardBank b) const { return program.StandardBankIndex(b); }
  HRESULT Compile() {
    std::uint32_t phases;
    return program.Compile(&phases);
  }

  PagePool pages{0x100000, 0x10000};
  gxl::shader::IrPoolScope scope;
  gxl::shader::MessageLog log;
  AllocTarget program;  // destroyed first: its nodes go back before the pool goes
  irkit::IrBuilder b{program};
};

// Limits of a second-phase setting: the temporaries and the capability
// and second flag words.
inline gxl::shader::ProfileLimits PhaseLimits(std::uint32_t temporaries, std::uint32_t capabilities = 0,
                                              std::uint32_t secondFlags = 0) {
  gxl::shader::ProfileLimits l = BaseLimits();
  l.temporaries = temporaries;
  l.predicates = 1;
  l.capabilities = capabilities;
  l.secondFlags = secondFlags;
  return l;
}

// A fixture of one program at a time (a new run drops the last).
class PhaseCase : public ::testing::Test {
 protected:
  AllocRun& Start(const gxl::shader::ProfileLimits& limits, std::uint32_t options = 0,
                  std::uint32_t version = 0xFFFE0300) {
    run.reset();  // its pools go before the next run binds its own
    run = std::make_unique<AllocRun>(limits, options, version);
    run->program.registerTableFlag = 1;
    return *run;
  }
  gxl::shader::IrValue& V(std::uint32_t value) const { return *run->program.Value(value); }
  // The position of the instruction that writes `value`.
  std::uint32_t Position(std::uint32_t value) const {
    const gxl::shader::ShaderProgram& p = run->program;
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
      const gxl::shader::IrInstruction& inst = *p.Instruction(i);
      for (std::uint32_t r = 0; r < inst.resultCount; ++r)
        if (inst.results[r] == value) return i;
    }
    return gxl::shader::kNoIndex;
  }
  // Output register 0 (`width` components) after a run on v0 = xs, v1 = ys.
  std::vector<double> Run(std::vector<double> xs, std::vector<double> ys, std::uint32_t width,
                          irkit::IrInterpreter::Mode mode = irkit::IrInterpreter::Mode::kValues) const {
    irkit::IrInterpreter interpreter(run->program, mode);
    for (std::uint32_t c = 0; c < 4; ++c) {
      interpreter.SetRegister(run->Bank(gxl::shader::StandardBank::Inputs), 0, c, xs[c]);
      interpreter.SetRegister(run->Bank(gxl::shader::StandardBank::Inputs), 1, c, ys[c]);
      for (std::uint32_t r = 0; r < 4; ++r)
        interpreter.SetRegister(run->Bank(gxl::shader::StandardBank::FloatConstants), r, c, 10.0 * r + c);
    }
    EXPECT_TRUE(interpreter.Run()) << interpreter.Error();
    std::vector<double> out;
    for (std::uint32_t c = 0; c < width; ++c)
      out.push_back(interpreter.Register(run->Bank(gxl::shader::StandardBank::Outputs), 0, c));
    return out;
  }

  std::unique_ptr<AllocRun> run;
};

// The outputs of `program` on input vectors 0 .. n-1.
inline std::vector<std::vector<double>> Outputs(const irkit::RandomProgram& generated,
                                                const gxl::shader::ShaderProgram& program, std::uint32_t n,
                                                irkit::IrInterpreter::Mode mode = irkit::IrInterpreter::Mode::kValues) {
  std::vector<std::vector<double>> out(n);
  for (std::uint32_t v = 0; v < n; ++v) {
    std::string error;
    EXPECT_TRUE(generated.Evaluate(program, v, out[v], &error, mode)) << error;
  }
  return out;
}

inline bool SameOutputs(const std::vector<std::vector<double>>& a, const std::vector<std::vector<double>>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t v = 0; v < a.size(); ++v) {
    if (a[v].size() != b[v].size()) return false;
    for (std::size_t i = 0; i < a[v].size(); ++i)
      if (!Close(a[v][i], b[v][i])) return false;
  }
  return true;
}

// The instructions as (word, arguments, results), in order.
inline std::vector<std::vector<std::uint32_t>> Listing(const gxl::shader::ShaderProgram& p) {
  std::vector<std::vector<std::uint32_t>> listing;
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const gxl::shader::IrInstruction& inst = *p.Instruction(i);
    std::vector<std::uint32_t> words{inst.word};
    words.insert(words.end(), inst.arguments, inst.arguments + inst.argumentCount);
    words.insert(words.end(), inst.results, inst.results + inst.resultCount);
    listing.push_back(words);
  }
  return listing;
}

}  // namespace irtest

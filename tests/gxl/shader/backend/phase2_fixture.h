// What the tests of scheduling, register assignment, pairing and the second
// phase share: a target whose profile limits a test sets (so that its slot 5,
// the register check with pairing, runs), a run of one random program on it,
// and the outputs of a program by value and by physical register.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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

// Translation validation of back-end passes: a pass runs on random programs
// and the interpreter's outputs must not change, on a number of input vectors.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/page_pool.h"
#include "tests/support/ir/random_program.h"
#include "tests/support/ir/recording_target.h"
#include "tests/support/test_util.h"

namespace irtest {

// The limits the base program sets up.
gxl::shader::ProfileLimits BaseLimits();

// One program with the pools, log and profile limits of its own run.
struct ProgramRun {
  explicit ProgramRun(const gxl::shader::ProfileLimits& limits = BaseLimits(), std::uint32_t options = 0,
                      std::uint32_t version = 0xFFFE0300)
      : scope(&pages), program(limits) {
    EXPECT_EQ(program.Init(nullptr, &log, version, options), S_OK);
  }
  PagePool pages{0x100000, 0x10000};
  gxl::shader::IrPoolScope scope;
  gxl::shader::MessageLog log;
  irkit::RecordingTarget program;  // destroyed first: its nodes go back before the pool goes
};

// Folds are evaluated in extended precision, the interpreter in double.
bool Close(double a, double b);

using Rewrite = std::function<HRESULT(gxl::shader::ShaderProgram&)>;

struct ValidationPlan {
  std::uint32_t programs = nura::test::LongOrShare(2000, 200);  // NURA_LONG=1 runs all
  std::uint32_t vectors = 50;
  // Per seed: the shape of the program, and the limits and options of its run.
  std::function<irkit::RandomShape(std::uint32_t seed)> shape = [](std::uint32_t seed) {
    irkit::RandomShape s;
    s.steps = 10 + seed % 20;
    return s;
  };
  std::function<gxl::shader::ProfileLimits(std::uint32_t seed)> limits = [](std::uint32_t) { return BaseLimits(); };
  std::uint32_t options = 0;
};

// Runs `rewrite` on each program of the plan and compares the outputs with
// those of the program as generated; `changed` counts the rewrites that
// reported a change. Fatal failures end the run.
void ValidateRewrite(const std::string& name, const Rewrite& rewrite, const ValidationPlan& plan,
                     std::uint32_t* changed);

// Outputs of `program` on the plan's vectors, compared with `want`; fatal
// failure when they differ or the program does not run.
void ExpectOutputs(const std::string& what, const irkit::RandomProgram& generated,
                   const gxl::shader::ShaderProgram& program, const std::vector<std::vector<double>>& want);

}  // namespace irtest

#include "ir_validation.h"

#include <algorithm>
#include <cmath>

namespace irtest {

using namespace gxl::shader;

ProfileLimits BaseLimits() {
  ProfileLimits limits = irkit::RecordingTarget::Limits(0);
  limits.word15 = 0;
  limits.secondFlags = 0x200;
  return limits;
}

bool Close(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(a));
}

void ExpectOutputs(const std::string& what, const irkit::RandomProgram& generated, const ShaderProgram& program,
                   const std::vector<std::vector<double>>& want) {
  for (std::uint32_t vector = 0; vector < want.size(); ++vector) {
    std::vector<double> got;
    std::string error;
    ASSERT_TRUE(generated.Evaluate(program, vector, got, &error)) << what << ": " << error;
    for (std::size_t i = 0; i < want[vector].size(); ++i)
      ASSERT_TRUE(Close(want[vector][i], got[i]))
          << what << " vector " << vector << " output " << i << ": " << want[vector][i] << " became " << got[i];
  }
}

void ValidateRewrite(const std::string& name, const Rewrite& rewrite, const ValidationPlan& plan,
                     std::uint32_t* changed) {
  *changed = 0;
  for (std::uint32_t seed = 1; seed <= plan.programs; ++seed) {
    const irkit::RandomShape shape = plan.shape(seed);
    const ProfileLimits limits = plan.limits(seed);
    ProgramRun before(limits, plan.options), after(limits, plan.options);
    const irkit::RandomProgram reference(before.program, seed, shape);
    const irkit::RandomProgram generated(after.program, seed, shape);
    std::vector<std::vector<double>> want(plan.vectors);
    for (std::uint32_t vector = 0; vector < plan.vectors; ++vector) {
      std::string error;
      ASSERT_TRUE(reference.Evaluate(before.program, vector, want[vector], &error)) << "seed " << seed << ": " << error;
    }
    const HRESULT hr = rewrite(after.program);
    ASSERT_TRUE(SUCCEEDED(hr)) << name << " seed " << seed << " " << std::hex << hr;
    ASSERT_EQ(after.log.ErrorCount(), 0u) << name << " seed " << seed;
    *changed += hr == S_OK;
    ExpectOutputs(name + " seed " + std::to_string(seed), generated, after.program, want);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace irtest

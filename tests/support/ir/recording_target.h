// A stand-in target for tests of the lowering: a ShaderProgram whose profile
// limits are whatever the test installs, which accepts every semantic and
// records what it was asked.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "gxl/shader/backend/ir/shader_program.h"

namespace irkit {

class RecordingTarget : public gxl::shader::ShaderProgram {
 public:
  explicit RecordingTarget(const gxl::shader::ProfileLimits& limits = {}) : limits(limits) {}

  // The limits the next set-up installs.
  gxl::shader::ProfileLimits limits;
  // (value, flags) of every semantic check, in order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> semanticChecks;
  // Refuse every semantic check (the value's check is still recorded).
  bool refuseSemantics = false;
  std::uint32_t setupCount = 0;

  HRESULT SetupProfileLimits() override;
  // Records the check and gives the value a semantic word: the usage (the
  // name's place in a short table of the common names, 0x7FFF for others)
  // and the index (its digits plus the value's register offset).
  HRESULT CheckSemantics(std::uint32_t value, std::uint32_t flags) override;

  // Limits with the given operation and flow-control capability words and
  // power cost number, everything else as the base program sets it.
  static gxl::shader::ProfileLimits Limits(std::uint32_t operationCaps, std::uint32_t flowCaps = 0,
                                           std::uint32_t powerCost = 1);
};

}  // namespace irkit

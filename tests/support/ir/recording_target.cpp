#include "tests/support/ir/recording_target.h"

namespace irkit {

using namespace gxl::shader;

HRESULT RecordingTarget::SetupProfileLimits() {
  profileLimits = limits;
  ++setupCount;
  return S_OK;
}

HRESULT RecordingTarget::CheckSemantics(std::uint32_t value, std::uint32_t flags) {
  semanticChecks.emplace_back(value, flags);
  return S_OK;
}

ProfileLimits RecordingTarget::Limits(std::uint32_t operationCaps, std::uint32_t flowCaps, std::uint32_t powerCost) {
  ProfileLimits l{};
  l.inputs = 64;
  l.temporaries = 64;
  l.floatConstants = 8192;
  l.word15 = powerCost;
  l.capabilities = operationCaps;
  l.secondFlags = flowCaps;
  return l;
}

}  // namespace irkit

// Device calls that may fail harmlessly run with the runtime's debug output
// muted for the scope (internal).
#pragma once

#include <cstdint>

#include "gxl/math/services.h"

namespace gxl::tex::detail {

class DebugMute {
 public:
  DebugMute() : m_previous(SetDebugMute(1)) {}
  ~DebugMute() { SetDebugMute(m_previous); }
  DebugMute(const DebugMute&) = delete;
  DebugMute& operator=(const DebugMute&) = delete;

 private:
  std::int32_t m_previous;
};

}  // namespace gxl::tex::detail

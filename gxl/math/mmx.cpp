// The library's MMX test.
#include <mmintrin.h>

#include <atomic>

#include "gxl/math/cpu_detect.h"
#include "platform/win_kernel.h"
#include "platform/win_registry.h"

namespace gxl::math::detail {
// -1 until the first test, then 0 or 1 (cpu_detect.cpp owns it).
extern std::atomic<int> g_mmxAvailable;
}  // namespace gxl::math::detail

using gxl::math::detail::g_mmxAvailable;

std::uint32_t IsMmxAvailable() {
  // The switch is read on every call; once seen set, MMX stays off.
  DWORD disable = 0;
  if (ReadDirect3DRegistryValue(REG_DWORD, "DisableMMX", &disable, sizeof disable) && disable != 0) {
    g_mmxAvailable.store(0);
    return 0;
  }
  if (g_mmxAvailable.load() < 0) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    int answer = 0;
    if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL && info.wProcessorLevel >= 5 && CpuHasMmx()) {
      _mm_empty();
      answer = 1;
    }
    int unknown = -1;
    g_mmxAvailable.compare_exchange_strong(unknown, answer);
  }
  return static_cast<std::uint32_t>(g_mmxAvailable.load());
}

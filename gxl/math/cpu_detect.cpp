// Processor detection for the math dispatch, over the platform's cpuid, and the
// reader of the Direct3D registry switches.
#include "gxl/math/cpu_detect.h"

#include <atomic>

#include "gxl/math/dispatch.h"
#include "gxl/math/math_testing.h"
#include "platform/cpu.h"
#include "platform/win_registry.h"

namespace {

constexpr int kEdxMmx = 1 << 23;
constexpr int kEdxSse = 1 << 25;
constexpr int kEdxSse2 = 1 << 26;
constexpr std::uint32_t kExtMmxExt = 1u << 22;
constexpr std::uint32_t kExt3DNowExt = 1u << 30;
constexpr std::uint32_t kExt3DNow = 1u << 31;

// EDX of leaf 1, or 0 when leaf 0 reports no further leaf.
int StandardFeatures() {
  int regs[4];
  PlatformCpuid(0, regs);
  if (regs[0] <= 0) return 0;
  PlatformCpuid(1, regs);
  return regs[3];
}

}  // namespace

std::uint32_t QueryCpuidSseFlags() {
  const int edx = StandardFeatures();
  std::uint32_t flags = 0;
  if (edx & kEdxSse) flags |= kCpuidSse;
  if (edx & kEdxSse2) flags |= kCpuidSse2;
  return flags;
}

std::uint32_t QueryAmdFeatureFlags() {
  std::uint32_t flags = kAmdAlways;
  int regs[4];
  PlatformCpuid(0, regs);
  if (regs[0] > 0) {
    flags |= kAmdStandardLeaves;
    PlatformCpuid(1, regs);
    if (regs[3] & kEdxMmx) flags |= kAmdMmx;
    if (regs[3] & kEdxSse) flags |= kAmdSse;
  }
  PlatformCpuid(0x80000000u, regs);
  if (static_cast<std::uint32_t>(regs[0]) > 0x80000000u) {
    flags |= kAmdExtendedLeaves;
    PlatformCpuid(0x80000001u, regs);
    const auto edx = static_cast<std::uint32_t>(regs[3]);
    if (edx & kExt3DNow) flags |= kAmd3DNow;
    if (edx & kExt3DNowExt) flags |= kAmd3DNowExt;
    if (edx & kExtMmxExt) flags |= kAmdMmxExt;
  }
  return flags;
}

int CpuHasMmx() {
  int regs[4];
  PlatformCpuid(1, regs);
  return (regs[3] & kEdxMmx) ? 1 : 0;
}

int ReadDirect3DRegistryValue(DWORD expectedType, const char* name, void* buffer, DWORD size) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Platform\\Direct3D", &key) != ERROR_SUCCESS) return 0;
  DWORD type = REG_NONE;
  DWORD bytes = size;
  const LONG result = RegQueryValueExA(key, name, nullptr, &type, static_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  return (result == ERROR_SUCCESS && type == expectedType) ? 1 : 0;
}

// cpuid always exists on the processors this build runs on, and so do the SSE
// and SSE2 instructions; what the probes report is what cpuid says.
int ProbeCpuid() {
  int regs[4];
  PlatformCpuid(0, regs);
  return regs[0] > 0 ? 1 : 0;
}

int ProbeSse2() {
  const int need = kEdxMmx | kEdxSse | kEdxSse2;
  return ProbeCpuid() && (StandardFeatures() & need) == need ? 1 : 0;
}

int ProbeSse() {
  const int need = kEdxMmx | kEdxSse;
  return ProbeCpuid() && (StandardFeatures() & need) == need ? 1 : 0;
}

BOOL IsCpuFeaturePresent(DWORD n) {
  if (n == PF_XMMI64_INSTRUCTIONS_AVAILABLE) return (QueryCpuidSseFlags() & kCpuidSse2) ? TRUE : FALSE;
  return IsProcessorFeaturePresent(n);
}

namespace gxl::math::detail {
std::atomic<int> g_mmxAvailable{-1};
}  // namespace gxl::math::detail

namespace gxl::math::test {
void ResetMmxState() { gxl::math::detail::g_mmxAvailable.store(-1); }
}  // namespace gxl::math::test

// Processor identification with forced profiles. The Parts see the effective
// profile; the platform's own code paths never depend on it.
#include <cpuid.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "platform/cpu.h"
#include "platform/testing.h"

namespace {

constexpr int kMmx = 1 << 23, kFxsr = 1 << 24, kSse = 1 << 25, kSse2 = 1 << 26, kTsc = 1 << 4, kFpu = 1;
constexpr int kCmov = 1 << 15, kCx8 = 1 << 8;
constexpr int kAmdMmxExt = 1 << 22, k3DNowExt = 1 << 30;
constexpr int k3DNow = static_cast<int>(1u << 31);

// Vendor strings are stored as the three registers EBX, EDX, ECX of leaf 0.
void SetVendor(int regs[4], const char* vendor12) {
  std::memcpy(&regs[1], vendor12, 4);
  std::memcpy(&regs[3], vendor12 + 4, 4);
  std::memcpy(&regs[2], vendor12 + 8, 4);
}

// EAX of leaf 1: stepping, model, family (no extended fields below family 15).
int Signature(int family, int model) { return (family << 8) | (model << 4) | 1; }

platform::cpu::Profile MakeProfile(const char* vendor, int family, int model, int edx1, int extEdx,
                                   bool extended) {
  platform::cpu::Profile p{};
  p.leaf0[0] = 1;
  SetVendor(p.leaf0, vendor);
  p.leaf1[0] = Signature(family, model);
  p.leaf1[3] = edx1;
  if (extended) {
    p.ext0[0] = static_cast<int>(0x80000001u);
    p.ext1[0] = Signature(family, model);
    p.ext1[3] = extEdx;
  }
  return p;
}

// The named profiles besides "host" and "none".
constexpr int kBase = kFpu | kTsc | kCx8 | kCmov;
struct NamedEntry {
  const char* name;
  const char* vendor;
  int family, model, edx1, extEdx;
  bool extended;
};
constexpr NamedEntry kProfiles[] = {
    {"mmx", "GenuineIntel", 5, 4, kBase | kMmx, 0, false},
    {"sse", "GenuineIntel", 6, 7, kBase | kMmx | kFxsr | kSse, 0, false},
    {"sse2", "GenuineIntel", 15, 2, kBase | kMmx | kFxsr | kSse | kSse2, 0, false},
    {"k6-3dnow", "AuthenticAMD", 5, 8, kBase | kMmx, kMmx | k3DNow, true},
    {"athlon", "AuthenticAMD", 6, 2, kBase | kMmx, kMmx | kAmdMmxExt | k3DNow | k3DNowExt, true},
    {"athlon-xp", "AuthenticAMD", 6, 6, kBase | kMmx | kFxsr | kSse, kMmx | kAmdMmxExt | k3DNow | k3DNowExt, true},
    {"athlon64", "AuthenticAMD", 15, 4, kBase | kMmx | kFxsr | kSse | kSse2, kMmx | kAmdMmxExt | k3DNow | k3DNowExt,
     true},
};

struct CpuState {
  std::mutex mutex;
  std::optional<platform::cpu::Profile> forced;
  bool envRead = false;
  // Whether a profile is forced, for readers that take no lock: -1 until
  // PLATFORM_CPU has been read.
  std::atomic<int> forcedFlag{-1};

  // Under the mutex.
  void Force(std::optional<platform::cpu::Profile> profile) {
    forced = profile;
    forcedFlag.store(forced ? 1 : 0, std::memory_order_relaxed);
  }
};

CpuState& State() {
  static CpuState s;
  return s;
}

void ResetCpu() {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().Force(std::nullopt);
  State().envRead = true;  // tests ignore PLATFORM_CPU and start on the host
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetCpu), true);

}  // namespace

namespace platform::cpu {

namespace {

Profile ReadHostProfile() {
  Profile p{};
  unsigned a, b, c, d;
  if (__get_cpuid(0, &a, &b, &c, &d)) {
    int r[4] = {static_cast<int>(a), static_cast<int>(b), static_cast<int>(c), static_cast<int>(d)};
    std::memcpy(p.leaf0, r, sizeof r);
  }
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    int r[4] = {static_cast<int>(a), static_cast<int>(b), static_cast<int>(c), static_cast<int>(d)};
    std::memcpy(p.leaf1, r, sizeof r);
  }
  if (__get_cpuid(0x80000000u, &a, &b, &c, &d)) {
    int r[4] = {static_cast<int>(a), static_cast<int>(b), static_cast<int>(c), static_cast<int>(d)};
    std::memcpy(p.ext0, r, sizeof r);
    if (a >= 0x80000001u && __get_cpuid(0x80000001u, &a, &b, &c, &d)) {
      int e[4] = {static_cast<int>(a), static_cast<int>(b), static_cast<int>(c), static_cast<int>(d)};
      std::memcpy(p.ext1, e, sizeof e);
    }
  }
  return p;
}

}  // namespace

// cpuid traps to the hypervisor on virtual machines (tens of microseconds),
// and every shader compile asks: the host's answers are read once.
Profile HostProfile() {
  static const Profile host = ReadHostProfile();
  return host;
}

const std::string& ProfileNames() {
  static const std::string names = [] {
    std::string list = "host, none";
    for (const NamedEntry& e : kProfiles) list = list + ", " + e.name;
    return list;
  }();
  return names;
}

bool NamedProfile(const char* name, Profile* out) {
  if (!name || !out) return false;
  if (std::strcmp(name, "host") == 0) {
    *out = HostProfile();
    return true;
  }
  if (std::strcmp(name, "none") == 0) {
    *out = Profile{};  // leaf 0 reports no further leaves
    SetVendor(out->leaf0, "GenuineIntel");
    return true;
  }
  for (const NamedEntry& e : kProfiles) {
    if (std::strcmp(name, e.name) == 0) {
      *out = MakeProfile(e.vendor, e.family, e.model, e.edx1, e.extEdx, e.extended);
      // Family 15 keeps its extended family field at zero.
      return true;
    }
  }
  return false;
}

Profile EffectiveProfile() {
  CpuState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.envRead) {
    s.envRead = true;
    const char* name = std::getenv("PLATFORM_CPU");
    Profile p;
    if (name && *name && !NamedProfile(name, &p)) {
      // A run on another processor than the one asked for would mislead: stop.
      std::fprintf(stderr, "platform: PLATFORM_CPU=%s names no processor profile; the profiles are %s\n", name,
                   ProfileNames().c_str());
      std::_Exit(2);
    }
    s.Force(name && *name ? std::optional(p) : std::nullopt);
  }
  return s.forced ? *s.forced : HostProfile();
}

bool WideVectorsAvailable() {
  static const bool host = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  if (!host) return false;
  int forced = State().forcedFlag.load(std::memory_order_relaxed);
  if (forced < 0) {
    EffectiveProfile();
    forced = State().forcedFlag.load(std::memory_order_relaxed);
  }
  return forced == 0;
}

int EffectiveFamily() {
  Profile p = EffectiveProfile();
  if (p.leaf0[0] < 1) return 0;
  int family = (p.leaf1[0] >> 8) & 0xF;
  if (family == 0xF) family += (p.leaf1[0] >> 20) & 0xFF;
  return family;
}

bool Use3DNowHardware() {
  Profile host = HostProfile();
  return static_cast<unsigned>(host.ext0[0]) >= 0x80000001u && (host.ext1[3] & k3DNow) != 0;
}

}  // namespace platform::cpu

void PlatformCpuid(DWORD leaf, int regs[4]) {
  platform::cpu::Profile p = platform::cpu::EffectiveProfile();
  const int* src = nullptr;
  unsigned maxBasic = static_cast<unsigned>(p.leaf0[0]);
  unsigned maxExt = static_cast<unsigned>(p.ext0[0]);
  if (leaf == 0) {
    src = p.leaf0;
  } else if (leaf == 1 && maxBasic >= 1) {
    src = p.leaf1;
  } else if (leaf == 0x80000000u) {
    src = p.ext0;
  } else if (leaf == 0x80000001u && maxExt >= 0x80000001u) {
    src = p.ext1;
  }
  if (src) {
    std::memcpy(regs, src, 4 * sizeof(int));
  } else {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
  }
}

BOOL IsProcessorFeaturePresent(DWORD feature) {
  int r[4];
  switch (feature) {
    case PF_MMX_INSTRUCTIONS_AVAILABLE:
      PlatformCpuid(1, r);
      return (r[3] & kMmx) ? TRUE : FALSE;
    case PF_XMMI_INSTRUCTIONS_AVAILABLE:
      PlatformCpuid(1, r);
      return (r[3] & kSse) ? TRUE : FALSE;
    case PF_XMMI64_INSTRUCTIONS_AVAILABLE:
      PlatformCpuid(1, r);
      return (r[3] & kSse2) ? TRUE : FALSE;
    case PF_3DNOW_INSTRUCTIONS_AVAILABLE:
      PlatformCpuid(0x80000001u, r);
      return (r[3] & k3DNow) ? TRUE : FALSE;
    case PF_RDTSC_INSTRUCTION_AVAILABLE:
      return TRUE;
    default:
      return FALSE;
  }
}

namespace platform::test {

bool ForceCpuProfile(const char* name) {
  cpu::Profile p;
  if (!cpu::NamedProfile(name, &p)) return false;
  ForceCpuProfile(p);
  return true;
}

void ForceCpuProfile(const cpu::Profile& profile) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().envRead = true;
  State().Force(profile);
}

void ClearCpuForce() {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().Force(std::nullopt);
}

}  // namespace platform::test

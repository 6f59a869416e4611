// Processor features. Parts never execute cpuid themselves: they call
// PlatformCpuid, which answers for the effective processor profile (the host's,
// or one forced by PLATFORM_CPU or a test). Forcing changes what the Parts see,
// never what the platform itself runs.
#pragma once

#include <string>

#include "platform/win_types.h"

constexpr DWORD PF_FLOATING_POINT_PRECISION_ERRATA = 0;
constexpr DWORD PF_FLOATING_POINT_EMULATED = 1;
constexpr DWORD PF_COMPARE_EXCHANGE_DOUBLE = 2;
constexpr DWORD PF_MMX_INSTRUCTIONS_AVAILABLE = 3;
constexpr DWORD PF_XMMI_INSTRUCTIONS_AVAILABLE = 6;
constexpr DWORD PF_3DNOW_INSTRUCTIONS_AVAILABLE = 7;
constexpr DWORD PF_RDTSC_INSTRUCTION_AVAILABLE = 8;
constexpr DWORD PF_XMMI64_INSTRUCTIONS_AVAILABLE = 10;

// cpuid for leaves 0, 1, 0x80000000 and 0x80000001 (others answer zeros):
// regs = {EAX, EBX, ECX, EDX}.
void PlatformCpuid(DWORD leaf, int regs[4]);
BOOL IsProcessorFeaturePresent(DWORD feature);

namespace platform::cpu {

// Named profiles: "host" (default), "none", "mmx", "sse", "sse2", "k6-3dnow",
// "athlon", "athlon-xp", "athlon64".
struct Profile {
  // Register values per leaf, {EAX, EBX, ECX, EDX}.
  int leaf0[4];
  int leaf1[4];
  int ext0[4];
  int ext1[4];
};

// The names NamedProfile knows, as "host, none, mmx, ...". PLATFORM_CPU must
// hold one of them (or be empty); another name ends the program at the first
// processor query with a message that lists them.
const std::string& ProfileNames();
// The host's real answers.
Profile HostProfile();
// A named profile; false when the name is unknown.
bool NamedProfile(const char* name, Profile* out);
// The profile in effect.
Profile EffectiveProfile();
// The processor family of the effective profile (leaf 1), 0 when leaf 1 is absent.
int EffectiveFamily();

// True only when the host itself executes 3DNow! instructions.
bool Use3DNowHardware();

// Whether the Parts may run AVX2 bodies that they choose for speed alone
// (bodies whose results are the same bit for bit on every path): the host
// executes AVX2 and no profile is forced, so that a forced profile runs the
// Parts' plain paths as well.
bool WideVectorsAvailable();

}  // namespace platform::cpu

// System information and version. The processor level is the family of the
// effective processor profile, so a forced profile changes what callers see.
#include <unistd.h>

#include <cstring>

#include "platform/cpu.h"
#include "platform/win_kernel.h"

void GetSystemInfo(SYSTEM_INFO* info) {
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  // x86-64 runs the x86 instructions callers probe for, so report an x86 processor.
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  info->dwPageSize = 4096;
  info->dwAllocationGranularity = 65536;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFFull);
  long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (cpus < 1) cpus = 1;
  if (cpus > 64) cpus = 64;
  info->dwNumberOfProcessors = static_cast<DWORD>(cpus);
  info->dwActiveProcessorMask = cpus == 64 ? ~DWORD_PTR{0} : ((DWORD_PTR{1} << cpus) - 1);
  info->dwProcessorType = 586;  // PROCESSOR_INTEL_PENTIUM, as for every later x86
  info->wProcessorLevel = static_cast<WORD>(platform::cpu::EffectiveFamily());
  int leaf1 = platform::cpu::EffectiveProfile().leaf1[0];
  info->wProcessorRevision = static_cast<WORD>((((leaf1 >> 4) & 0xF) << 8) | (leaf1 & 0xF));
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 5;
  info->dwMinorVersion = 1;
  info->dwBuildNumber = 2600;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

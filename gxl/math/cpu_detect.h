// Processor detection and the Direct3D registry switches read by the math
// dispatch, and the library's MMX test.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

// 4 (SSE) and 8 (SSE2) from cpuid leaf 1; processor bits only.
std::uint32_t QueryCpuidSseFlags();
// kAmd* flags of dispatch.h: standard and extended leaves, MMX, SSE, 3DNow!,
// extended 3DNow! and MMX extensions, whatever the vendor.
std::uint32_t QueryAmdFeatureFlags();
// cpuid leaf 1 EDX bit 23.
int CpuHasMmx();

// Reads a value under HKEY_LOCAL_MACHINE "Software\Platform\Direct3D" into
// buffer; 1 only when the read succeeded and the stored type is the expected one.
int ReadDirect3DRegistryValue(DWORD expectedType, const char* name, void* buffer, DWORD size);

// 1 when MMX may be used: the processor has it and "DisableMMX" is not set. Once
// "DisableMMX" has been seen set, the answer stays 0 for the process.
std::uint32_t IsMmxAvailable();

// Unused by the library itself; kept beside the detection they belong to.
int ProbeCpuid();
int ProbeSse2();
int ProbeSse();
// n = 10: SSE2 from cpuid; anything else: IsProcessorFeaturePresent(n).
BOOL IsCpuFeaturePresent(DWORD n);

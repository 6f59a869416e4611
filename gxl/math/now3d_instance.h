// The policy the 3DNow! sources are compiled for. Every such source is built
// twice: as part of gxl_math on the emulated instructions, and, with
// GXL_3DNOW_HW set (and -mno-sse2 -m3dnow -m3dnowa), on the real ones. Each
// instantiates its own group for this policy; the other groups are
// instantiated by their own sources.
#pragma once

#if GXL_3DNOW_HW
#include "platform/cpu_3dnow_hw.h"
#else
#include "platform/cpu_3dnow.h"
#endif

#include "gxl/math/now3d_bodies.h"

namespace gxl::math::now3d {

#if GXL_3DNOW_HW
using Policy = platform::cpu::Hw3DNow;
#else
using Policy = platform::cpu::Emu3DNow;
#endif

extern template struct ScalarBodies<Policy>;
extern template struct VectorBodies<Policy>;
extern template struct MatrixBodies<Policy>;
extern template struct QuaternionBodies<Policy>;
extern template struct ExtBodies<Policy>;
extern template struct AmdSseBodies<Policy>;

}  // namespace gxl::math::now3d

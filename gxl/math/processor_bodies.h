// The processor-specific bodies of the dispatched operations, by set: x87-tuned,
// SSE and SSE2. Each namespace declares every operation; only the positions a
// set has a body for are defined (dispatch_sets.cpp lists them), and a few
// defined bodies have no position at all. Callers use the public entries; the
// bodies are named here for the set tables and for tests that compare sets.
// The 3DNow! bodies are class templates over an instruction policy
// (now3d_bodies.h); here they appear as the tables of each policy.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

#include "gxl/math/dispatch.h"
#include "gxl/math/records.h"
#include "platform/win_types.h"

namespace gxl::math::x87 {
#define MATH_OP(pos, name, ret, params, args) ret name params;
#include "gxl/math/dispatch_ops.def"
}  // namespace gxl::math::x87

namespace gxl::math::sse {
#define MATH_OP(pos, name, ret, params, args) ret name params;
#include "gxl/math/dispatch_ops.def"

// Sines and cosines of four angles: three 16-byte-aligned vectors; the sines
// may be written over the angles. Accurate while |angle| * 2/pi < 2^23.
void SinCos4(const float* angles, float* sines, float* cosines);
// One angle in every lane in; (cos, sin, cos, sin) of it out.
__m128 SinCos1(__m128 angle);
// The sines of four angles.
__m128 Sin4(__m128 x);
// The angles of four points (x, y) over all four quadrants, as atan2(y, x).
__m128 Atan4(const float* y, const float* x);
// 2 acos of four values (16-byte-aligned in and out), and of one.
void TwoAcos4(const float* in, float* out);
void TwoAcos1(float x, float* out);
// Saturation of a colour with the weights of ColorAdjustSaturation.
ColorF* ColorAdjustSaturation(ColorF* out, const ColorF* c, float s);
}  // namespace gxl::math::sse

namespace gxl::math::sse2 {
#define MATH_OP(pos, name, ret, params, args) ret name params;
#include "gxl/math/dispatch_ops.def"

void SinCos4(const float* angles, float* sines, float* cosines);
__m128 SinCos1(__m128 angle);
ColorF* ColorAdjustSaturation(ColorF* out, const ColorF* c, float s);
}  // namespace gxl::math::sse2

namespace gxl::math::now3d {

// The 3DNow! path of one instruction policy: the base set, the bodies for the
// extended 3DNow! instructions and MMX extensions, and the SSE array bodies.
struct SetTables {
  MathDispatchTable base, extended, amdSse;
};
// On the emulated instructions (platform/cpu_3dnow.h): always built.
const SetTables& EmulatedSets();
// On the real instructions: only in builds with GXL_HAS_HW_3DNOW, and only for
// hosts where platform::cpu::Use3DNowHardware() holds.
const SetTables& HardwareSets();

}  // namespace gxl::math::now3d

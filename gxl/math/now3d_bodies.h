// The 3DNow! set, written once as class templates over an instruction policy
// (platform/cpu_3dnow.h): the scalar routines, the bodies by group, the bodies
// for processors with the extended 3DNow! and MMX extensions, and the SSE array
// bodies of the 3DNow! path. Each group declares every dispatched operation and
// defines only its own, in its own source file, which instantiates the group
// once per policy (now3d_instance.h); calls between groups go to those
// instantiations directly, never through the dispatch table.
//
// Every body ends with the fast MMX exit (femms), so x87 code may follow; the
// scalar routines leave that to the bodies that call them.
#pragma once

#include "gxl/math/now3d_base.h"
#include "platform/win_types.h"

namespace gxl::math::now3d {

// Single-precision elementary functions on packed values: the operand (and a
// second operand) in lane 0, the result in lane 0 unless said otherwise.
template <class P>
struct ScalarBodies : Base<P> {
  GXL_NOW3D_NAMES;
  static V SinCos(V x);  // (cos x, sin x)
  static V Sin(V x);     // sin x in both lanes
  static V Tan(V x);
  static V Atan(V x);        // in [-pi/2, pi/2]
  static V Atan2(V x, V y);  // the angle of (x, y), in [-pi, pi]
  static V Acos(V x);        // in [0, pi]; 0 for |x| > 1
  static V Asin(V x);        // 0 for |x| > 1
  static V Log(V x);         // ln |x|; -FLT_MAX for zero and denormals
  static V Log10(V x);
  static V Exp(V x);
  static V Pow(V x, V y);
  static V Sqrt(V x);
  static V Fabs(V x);        // both lanes
  static V Ceil(V x);        // both lanes, |x| < 2^31
  static V Floor(V x);       // both lanes, |x| < 2^31
  static V Frexp(V x);       // (fraction, exponent as an integer)
  static V Ldexp(V x, V n);  // n an integer in lane 0
  static V Modf(V x);        // (fraction, integer part)
  static V Fmod(V x, V y);   // with the sign of x; y = +0 gives the pattern 0x7FFFFFFF
};

// Vectors, planes and half floats.
template <class P>
struct VectorBodies : Base<P> {
  GXL_NOW3D_NAMES;
  using S = ScalarBodies<P>;
#define MATH_OP(pos, name, ret, params, args) static ret name params;
#include "gxl/math/dispatch_ops.def"
};

// Matrices, and the viewport bodies that build on them.
template <class P>
struct MatrixBodies : Base<P> {
  GXL_NOW3D_NAMES;
  using S = ScalarBodies<P>;
#define MATH_OP(pos, name, ret, params, args) static ret name params;
#include "gxl/math/dispatch_ops.def"
  // The product with sequential sums and without the MMX exit.
  static void MultiplyPlain(Matrix4* out, const Matrix4* a, const Matrix4* b);
  // The present matrices multiplied as world x view x projection; the identity
  // when none is present.
  static void Combined(Matrix4* out, const Matrix4* projection, const Matrix4* view, const Matrix4* world);
  // The inverse without the MMX exit: writes the determinant when asked,
  // leaves out untouched and returns false for a determinant of exactly 0.
  static bool InverseCore(Matrix4* out, float* determinant, const Matrix4* m);
};

// Quaternions.
template <class P>
struct QuaternionBodies : Base<P> {
  GXL_NOW3D_NAMES;
  using S = ScalarBodies<P>;
#define MATH_OP(pos, name, ret, params, args) static ret name params;
#include "gxl/math/dispatch_ops.def"
};

// The bodies for processors with the extended 3DNow! instructions and the MMX
// extensions (positions 16, 19, 25, 39 and 40): the same results as the base
// bodies, with lane swaps, the negating accumulates and byte-mask moves.
template <class P>
struct ExtBodies : Base<P> {
  GXL_NOW3D_NAMES;
  using B::pfnacc, B::pfpnacc, B::pswapd, B::pmovmskb;
  static constexpr bool kExtended = true;
#define MATH_OP(pos, name, ret, params, args) static ret name params;
#include "gxl/math/dispatch_ops.def"
  static bool InverseCore(Matrix4* out, float* determinant, const Matrix4* m);
};

// The SSE strided-array bodies of the 3DNow! path (positions 60 to 66 and 69):
// SSE arithmetic on blocks of four, this policy's single-element bodies for
// arrays of fewer than four elements.
template <class P>
struct AmdSseBodies {
#define MATH_OP(pos, name, ret, params, args) static ret name params;
#include "gxl/math/dispatch_ops.def"
};

}  // namespace gxl::math::now3d

// The SSE strided-array bodies of the 3DNow! path, for processors with 3DNow!
// and SSE (but perhaps not SSE2: this file is compiled with -mno-sse2). Arrays
// of fewer than four elements go to this policy's 3DNow! single-element
// bodies; longer ones go through blocks of four, the last of which ends at the
// last element. The transform forms of Vec3 and Vec4 are a simple loop.
//
// Counts are read as signed 32-bit numbers.
#include <xmmintrin.h>

#include <cstdint>

#include "gxl/math/now3d_instance.h"
#include "gxl/math/sse_common.h"

namespace gxl::math::now3d {

namespace {

// r0 (2 - w r0) on the approximate reciprocal of the four w lanes.
__m128 RcpTwo(__m128 w) {
  const __m128 r0 = _mm_rcp_ps(w);
  return _mm_mul_ps(r0, _mm_sub_ps(Splat(2.0f), _mm_mul_ps(w, r0)));
}

// Blocks of four: when 1 to 3 elements remain, one more block ends exactly at
// the last element and stores only the elements not yet written, so that an
// array transformed in place with equal strides never takes an input that a
// block before has overwritten.
template <int In, Form form, typename OutT, typename InT>
OutT* BlockBody(OutT* out, std::uint32_t outStride, const InT* in, std::uint32_t inStride, const Matrix4* m,
                std::uint32_t count, OutT* (*single)(OutT*, const InT*, const Matrix4*)) {
  constexpr int kOut = form == Form::Transform ? 4 : In;
  const auto n = static_cast<std::int32_t>(count);
  auto* o = reinterpret_cast<unsigned char*>(out);
  const auto* i = reinterpret_cast<const unsigned char*>(in);
  if (n < 4) {
    for (std::int32_t k = 0; k < n; ++k, i += inStride, o += outStride)
      single(reinterpret_cast<OutT*>(o), reinterpret_cast<const InT*>(i), m);
    return out;
  }
  __m128 S[16];
  SplatMatrix(S, m);
  auto block = [&](std::int32_t at, int first) {
    __m128 c[4], r[4];
    LoadBlock<In>(i + std::size_t(at) * inStride, inStride, c);
    TransformBlock<In, form, RcpTwo>(c, S, r);
    StoreBlock<kOut>(o + std::size_t(at) * outStride, outStride, r, first);
  };
  std::int32_t at = 0;
  for (; at + 4 <= n; at += 4) block(at, 0);
  if (at < n) block(n - 4, 4 - (n - at));
  return out;
}

// x row 0 + y row 1 + (z row 2 + row 3), or (x row 0 + y row 1) + (z row 2 +
// w row 3), with each component broadcast from a 4-byte load; 16 bytes stored.
template <int In, typename OutT, typename InT>
OutT* SimpleLoop(OutT* out, std::uint32_t outStride, const InT* in, std::uint32_t inStride, const Matrix4* m,
                 std::uint32_t count) {
  const auto n = static_cast<std::int32_t>(count);
  if (n <= 0) return out;
  const Rows rows = LoadRows(m);
  const __m128* row = rows.r;
  auto* o = reinterpret_cast<unsigned char*>(out);
  const auto* i = reinterpret_cast<const unsigned char*>(in);
  for (std::int32_t k = 0; k < n; ++k, i += inStride, o += outStride) {
    const float* v = reinterpret_cast<const float*>(i);
    const __m128 xy = _mm_add_ps(_mm_mul_ps(_mm_load1_ps(v), row[0]), _mm_mul_ps(_mm_load1_ps(v + 1), row[1]));
    __m128 zw = row[3];
    if constexpr (In == 4) zw = _mm_mul_ps(_mm_load1_ps(v + 3), zw);
    zw = _mm_add_ps(_mm_mul_ps(_mm_load1_ps(v + 2), row[2]), zw);
    Store4(reinterpret_cast<float*>(o), _mm_add_ps(xy, zw));
  }
  return out;
}

}  // namespace

template <class P>
Vec4* AmdSseBodies<P>::Vec2TransformArray(Vec4* out, std::uint32_t outStride, const Vec2* in, std::uint32_t inStride,
                                          const Matrix4* m, std::uint32_t count) {
  return BlockBody<2, Form::Transform>(out, outStride, in, inStride, m, count, &VectorBodies<P>::Vec2Transform);
}

template <class P>
Vec2* AmdSseBodies<P>::Vec2TransformPointArray(Vec2* out, std::uint32_t outStride, const Vec2* in,
                                               std::uint32_t inStride, const Matrix4* m, std::uint32_t count) {
  return BlockBody<2, Form::Point>(out, outStride, in, inStride, m, count, &VectorBodies<P>::Vec2TransformPoint);
}

template <class P>
Vec2* AmdSseBodies<P>::Vec2TransformDirectionArray(Vec2* out, std::uint32_t outStride, const Vec2* in,
                                                   std::uint32_t inStride, const Matrix4* m, std::uint32_t count) {
  return BlockBody<2, Form::Direction>(out, outStride, in, inStride, m, count,
                                       &VectorBodies<P>::Vec2TransformDirection);
}

template <class P>
Vec3* AmdSseBodies<P>::Vec3TransformPointArray(Vec3* out, std::uint32_t outStride, const Vec3* in,
                                               std::uint32_t inStride, const Matrix4* m, std::uint32_t count) {
  return BlockBody<3, Form::Point>(out, outStride, in, inStride, m, count, &VectorBodies<P>::Vec3TransformPoint);
}

template <class P>
Vec3* AmdSseBodies<P>::Vec3TransformDirectionArray(Vec3* out, std::uint32_t outStride, const Vec3* in,
                                                   std::uint32_t inStride, const Matrix4* m, std::uint32_t count) {
  return BlockBody<3, Form::Direction>(out, outStride, in, inStride, m, count,
                                       &VectorBodies<P>::Vec3TransformDirection);
}

template <class P>
Vec4* AmdSseBodies<P>::Vec3TransformArray(Vec4* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                                          const Matrix4* m, std::uint32_t count) {
  return SimpleLoop<3>(out, outStride, in, inStride, m, count);
}

template <class P>
Vec4* AmdSseBodies<P>::Vec4TransformArray(Vec4* out, std::uint32_t outStride, const Vec4* in, std::uint32_t inStride,
                                          const Matrix4* m, std::uint32_t count) {
  return SimpleLoop<4>(out, outStride, in, inStride, m, count);
}

// The Vec4 loop on planes.
template <class P>
Plane* AmdSseBodies<P>::PlaneTransformArray(Plane* out, std::uint32_t outStride, const Plane* in,
                                            std::uint32_t inStride, const Matrix4* m, std::uint32_t count) {
  return SimpleLoop<4>(out, outStride, in, inStride, m, count);
}

template struct AmdSseBodies<Policy>;

}  // namespace gxl::math::now3d

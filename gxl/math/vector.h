// Operations on Vec2, Vec3 and Vec4.
//
// Calling rule of every math operation: the output comes first and is returned,
// and it may be the same record as any input. Array operations take (output,
// output stride in bytes, input, input stride in bytes, further inputs, count);
// count 0 does nothing. Unless noted, an operation is reached through the
// dispatch table (dispatch.h), so it runs the body chosen for this processor.
#pragma once

#include <cmath>
#include <cstdint>

#include "gxl/math/records.h"

// --- Transforms (row vector times matrix) ------------------------------------
// (v.x, v.y, 0, 1) x m, all four components.
Vec4* Vec2Transform(Vec4* out, const Vec2* v, const Matrix4* m);
// (v, 1) x m.
Vec4* Vec3Transform(Vec4* out, const Vec3* v, const Matrix4* m);
Vec4* Vec4Transform(Vec4* out, const Vec4* v, const Matrix4* m);
// Without translation: v times the upper-left 2x2 or 3x3 part.
Vec2* Vec2TransformDirection(Vec2* out, const Vec2* v, const Matrix4* m);
Vec3* Vec3TransformDirection(Vec3* out, const Vec3* v, const Matrix4* m);
// (v, 0, 1) or (v, 1) times m, then divided by w unless w is nearly 1 (w = 0
// gives infinities).
Vec2* Vec2TransformPoint(Vec2* out, const Vec2* v, const Matrix4* m);
Vec3* Vec3TransformPoint(Vec3* out, const Vec3* v, const Matrix4* m);

// Strided arrays of the transforms above; in-place use with equal strides is safe.
Vec4* Vec2TransformArray(Vec4* out, std::uint32_t outStride, const Vec2* in, std::uint32_t inStride,
                         const Matrix4* m, std::uint32_t count);
Vec2* Vec2TransformPointArray(Vec2* out, std::uint32_t outStride, const Vec2* in, std::uint32_t inStride,
                              const Matrix4* m, std::uint32_t count);
Vec2* Vec2TransformDirectionArray(Vec2* out, std::uint32_t outStride, const Vec2* in, std::uint32_t inStride,
                                  const Matrix4* m, std::uint32_t count);
Vec4* Vec3TransformArray(Vec4* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                         const Matrix4* m, std::uint32_t count);
Vec3* Vec3TransformPointArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                              const Matrix4* m, std::uint32_t count);
Vec3* Vec3TransformDirectionArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                                  const Matrix4* m, std::uint32_t count);
Vec4* Vec4TransformArray(Vec4* out, std::uint32_t outStride, const Vec4* in, std::uint32_t inStride,
                         const Matrix4* m, std::uint32_t count);

// --- Normalisation -------------------------------------------------------------
// A squared length nearly 1 copies the input; one below the smallest normal
// float gives zeros.
Vec2* Vec2Normalize(Vec2* out, const Vec2* v);
Vec3* Vec3Normalize(Vec3* out, const Vec3* v);
Vec4* Vec4Normalize(Vec4* out, const Vec4* v);

// The 4-dimensional cross product of u, v and w.
Vec4* Vec4Cross(Vec4* out, const Vec4* u, const Vec4* v, const Vec4* w);

// --- Curves ----------------------------------------------------------------------
// Hermite through p1 (tangent t1) and p2 (tangent t2) at s.
Vec2* Vec2Hermite(Vec2* out, const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, float s);
Vec3* Vec3Hermite(Vec3* out, const Vec3* p1, const Vec3* t1, const Vec3* p2, const Vec3* t2, float s);
Vec4* Vec4Hermite(Vec4* out, const Vec4* p1, const Vec4* t1, const Vec4* p2, const Vec4* t2, float s);
// Catmull-Rom between p1 and p2 at s.
Vec2* Vec2CatmullRom(Vec2* out, const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3, float s);
Vec3* Vec3CatmullRom(Vec3* out, const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* p3, float s);
Vec4* Vec4CatmullRom(Vec4* out, const Vec4* p0, const Vec4* p1, const Vec4* p2, const Vec4* p3, float s);
// p1 + f (p2 - p1) + g (p3 - p1).
Vec2* Vec2Barycentric(Vec2* out, const Vec2* p1, const Vec2* p2, const Vec2* p3, float f, float g);
Vec3* Vec3Barycentric(Vec3* out, const Vec3* p1, const Vec3* p2, const Vec3* p3, float f, float g);
Vec4* Vec4Barycentric(Vec4* out, const Vec4* p1, const Vec4* p2, const Vec4* p3, float f, float g);

// --- Viewport projection -----------------------------------------------------------
// Every matrix may be null (left out); the present ones combine as world x view x
// projection. A null viewport leaves the screen mapping out.
Vec3* Vec3ToViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection, const Matrix4* view,
                     const Matrix4* world);
// The inverse mapping; a singular combined matrix counts as the identity.
Vec3* Vec3FromViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection, const Matrix4* view,
                       const Matrix4* world);
Vec3* Vec3ToViewportArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                          const Viewport* vp, const Matrix4* projection, const Matrix4* view, const Matrix4* world,
                          std::uint32_t count);
Vec3* Vec3FromViewportArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                            const Viewport* vp, const Matrix4* projection, const Matrix4* view, const Matrix4* world,
                            std::uint32_t count);

// --- Small helpers (plain, not dispatched) -----------------------------------------
inline float Vec2LengthSq(const Vec2* v) { return v->x * v->x + v->y * v->y; }
inline float Vec3LengthSq(const Vec3* v) { return v->x * v->x + v->y * v->y + v->z * v->z; }
inline float Vec3Length(const Vec3* v) { return std::sqrt(Vec3LengthSq(v)); }
inline float Vec3Dot(const Vec3* a, const Vec3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }
inline Vec3* Vec3Cross(Vec3* out, const Vec3* a, const Vec3* b) {
  const Vec3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
  *out = r;
  return out;
}
inline Vec3* Vec3Subtract(Vec3* out, const Vec3* a, const Vec3* b) {
  *out = Vec3(a->x - b->x, a->y - b->y, a->z - b->z);
  return out;
}
inline Vec3* Vec3Lerp(Vec3* out, const Vec3* a, const Vec3* b, float s) {
  *out = Vec3(a->x + s * (b->x - a->x), a->y + s * (b->y - a->y), a->z + s * (b->z - a->z));
  return out;
}
inline float Vec4LengthSq(const Vec4* v) { return v->x * v->x + v->y * v->y + v->z * v->z + v->w * v->w; }
inline float Vec4Dot(const Vec4* a, const Vec4* b) { return a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w; }

// Plane operations. The calling rule of vector.h holds; PlaneDotPoint and
// PlaneDotNormal are plain, the rest go through the dispatch table.
#pragma once

#include <cstdint>

#include "gxl/math/records.h"

// (normal, -(point . normal)); the normal is not normalised.
Plane* PlaneFromPointNormal(Plane* out, const Vec3* point, const Vec3* normal);
// Normal = normalised (p1 - p2) x (p1 - p3).
Plane* PlaneFromPoints(Plane* out, const Vec3* p1, const Vec3* p2, const Vec3* p3);
// Scales all four components so that the normal has length 1; zeros for a
// (nearly) zero normal.
Plane* PlaneNormalize(Plane* out, const Plane* p);
// Where the line through p1 and p2 meets the plane; null, with out untouched,
// when the line is parallel to it or the parameter is not finite.
Vec3* PlaneIntersectLine(Vec3* out, const Plane* p, const Vec3* p1, const Vec3* p2);
// (a, b, c, d) x m; transform a plane by the inverse transpose of the point matrix.
Plane* PlaneTransform(Plane* out, const Plane* p, const Matrix4* m);
Plane* PlaneTransformArray(Plane* out, std::uint32_t outStride, const Plane* in, std::uint32_t inStride,
                           const Matrix4* m, std::uint32_t count);

inline float PlaneDotPoint(const Plane* p, const Vec3* v) { return p->a * v->x + p->b * v->y + p->c * v->z + p->d; }
inline float PlaneDotNormal(const Plane* p, const Vec3* v) { return p->a * v->x + p->b * v->y + p->c * v->z; }

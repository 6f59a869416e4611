// Quaternion operations (w is the scalar part). The calling rule of vector.h
// holds; all but QuaternionConjugate go through the dispatch table.
#pragma once

#include "gxl/math/records.h"

// Rotates by q1 first, then by q2 (the Hamilton product q2 q1).
Quaternion* QuaternionMultiply(Quaternion* out, const Quaternion* q1, const Quaternion* q2);
Quaternion* QuaternionNormalize(Quaternion* out, const Quaternion* q);
// The conjugate over the squared length; zeros for a (nearly) zero quaternion.
Quaternion* QuaternionInverse(Quaternion* out, const Quaternion* q);
// Logarithm of a unit quaternion and exponential of a pure one (w = 0 out / ignored in).
Quaternion* QuaternionLn(Quaternion* out, const Quaternion* q);
Quaternion* QuaternionExp(Quaternion* out, const Quaternion* q);
// Spherical interpolation along the shorter arc; not renormalised.
Quaternion* QuaternionSlerp(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t);
// Spherical quadrangle interpolation with control points from QuaternionSplineSetup.
Quaternion* QuaternionSpline(Quaternion* out, const Quaternion* q1, const Quaternion* a, const Quaternion* b,
                             const Quaternion* c, float t);
void QuaternionSplineSetup(Quaternion* a, Quaternion* b, Quaternion* c, const Quaternion* q0, const Quaternion* q1,
                           const Quaternion* q2, const Quaternion* q3);
Quaternion* QuaternionBarycentric(Quaternion* out, const Quaternion* q1, const Quaternion* q2,
                                  const Quaternion* q3, float f, float g);
Quaternion* QuaternionFromAxisAngle(Quaternion* out, const Vec3* axis, float angle);
// Roll about z, then pitch about x, then yaw about y.
Quaternion* QuaternionFromYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll);
// From the upper 3x3 part of a rotation matrix.
Quaternion* QuaternionFromMatrix(Quaternion* out, const Matrix4* m);
// Input first; the axis (not normalised) and the angle 2 acos(w) go to the
// outputs that are not null.
void QuaternionToAxisAngle(const Quaternion* q, Vec3* axis, float* angle);

inline Quaternion* QuaternionConjugate(Quaternion* out, const Quaternion* q) {
  *out = Quaternion(-q->x, -q->y, -q->z, q->w);
  return out;
}

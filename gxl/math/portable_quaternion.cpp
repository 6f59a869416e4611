// Portable bodies of the quaternion operations.
#include <cmath>

#include "gxl/math/detail.h"
#include "gxl/math/portable.h"
#include "gxl/math/quaternion.h"
#include "gxl/math/vector.h"

namespace gxl::math::portable {

using detail::F;

namespace {

double Dot(const Quaternion& a, const Quaternion& b) {
  return static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y + static_cast<double>(a.z) * b.z +
         static_cast<double>(a.w) * b.w;
}

double LengthSq(const Quaternion& a) { return Dot(a, a); }

Quaternion Add(const Quaternion& a, const Quaternion& b) { return Quaternion(a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w); }

// One of QuaternionSplineSetup's outer control points: q1 exp(-(ln(q1^-1 q0) + ln(q1^-1 q2)) / 4).
Quaternion SplineControl(const Quaternion& q0, const Quaternion& q1, const Quaternion& q2) {
  Quaternion inverse, t0, t2;
  ::QuaternionInverse(&inverse, &q1);
  ::QuaternionMultiply(&t0, &inverse, &q0);
  ::QuaternionLn(&t0, &t0);
  ::QuaternionMultiply(&t2, &inverse, &q2);
  ::QuaternionLn(&t2, &t2);
  Quaternion sum = Add(t0, t2);
  sum = sum * -0.25f;
  Quaternion e, out;
  ::QuaternionExp(&e, &sum);
  ::QuaternionMultiply(&out, &q1, &e);
  return out;
}

}  // namespace

Quaternion* QuaternionMultiply(Quaternion* out, const Quaternion* q1, const Quaternion* q2) {
  const double ax = q1->x, ay = q1->y, az = q1->z, aw = q1->w;
  const double bx = q2->x, by = q2->y, bz = q2->z, bw = q2->w;
  *out = Quaternion(F(bw * ax + bx * aw + by * az - bz * ay), F(bw * ay - bx * az + by * aw + bz * ax),
                    F(bw * az + bx * ay - by * ax + bz * aw), F(bw * aw - bx * ax - by * ay - bz * az));
  return out;
}

Quaternion* QuaternionNormalize(Quaternion* out, const Quaternion* q) {
  detail::NormalizeFloats(&out->x, &q->x, 4);
  return out;
}

Quaternion* QuaternionInverse(Quaternion* out, const Quaternion* q) {
  const Quaternion v = *q;
  const float n = F(LengthSq(v));
  if (n < 1.0842022e-19f) {
    *out = Quaternion(0, 0, 0, 0);
    return out;
  }
  Quaternion r(-v.x, -v.y, -v.z, v.w);
  if (!FloatNearlyEqual(n, 1.0f)) {
    const double inv = 1.0 / static_cast<double>(n);
    r = Quaternion(F(r.x * inv), F(r.y * inv), F(r.z * inv), F(r.w * inv));
  }
  *out = r;
  return out;
}

Quaternion* QuaternionLn(Quaternion* out, const Quaternion* q) {
  const Quaternion v = *q;
  if (v.w < 1.0f) {
    const float t = F(std::acos(static_cast<double>(v.w)));
    const float s = F(std::sin(static_cast<double>(t)));
    if (!FloatNearlyEqual(s, 0.0f)) {
      const double k = static_cast<double>(t) / s;
      *out = Quaternion(F(k * v.x), F(k * v.y), F(k * v.z), 0.0f);
      return out;
    }
  }
  *out = Quaternion(v.x, v.y, v.z, 0.0f);
  return out;
}

Quaternion* QuaternionExp(Quaternion* out, const Quaternion* q) {
  const Quaternion v = *q;
  const float t = F(std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                              static_cast<double>(v.z) * v.z));
  const float c = F(std::cos(static_cast<double>(t)));
  const float s = F(std::sin(static_cast<double>(t)));
  // Only a vanishing angle takes the limit sin t / t = 1; near t = pi, sin t is
  // small but the quotient is not.
  if (FloatNearlyEqual(t, 0.0f)) {
    *out = Quaternion(v.x, v.y, v.z, c);
  } else {
    const double k = static_cast<double>(s) / t;
    *out = Quaternion(F(k * v.x), F(k * v.y), F(k * v.z), c);
  }
  return out;
}

Quaternion* QuaternionSlerp(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t) {
  const Quaternion a = *q1, b = *q2;
  const float d = F(Dot(a, b));
  const float sign = d >= 0.0f ? 1.0f : -1.0f;  // NaN counts as negative
  const float c = sign * d;
  double k1, k2;
  if (1.0f - c > kFloatNearlyEqualTolerance) {
    const double s = std::sqrt(1.0 - static_cast<double>(c) * c);
    // atan2(s, c) rounded to float: acos(c) rounds to the same float for every
    // float c in [0, 1) (all of them compared), at a tenth of the cost.
    const float theta = F(std::acos(static_cast<double>(c)));
    const float r = F(1.0 / s);
    k1 = std::sin((1.0 - t) * theta) * r;
    k2 = std::sin(static_cast<double>(t) * theta) * r;
  } else {
    k1 = 1.0 - t;
    k2 = t;
  }
  k2 *= sign;
  *out = Quaternion(F(k1 * a.x + k2 * b.x), F(k1 * a.y + k2 * b.y), F(k1 * a.z + k2 * b.z), F(k1 * a.w + k2 * b.w));
  return out;
}

Quaternion* QuaternionSpline(Quaternion* out, const Quaternion* q1, const Quaternion* a, const Quaternion* b,
                             const Quaternion* c, float t) {
  Quaternion outer, inner;
  ::QuaternionSlerp(&outer, q1, c, t);
  ::QuaternionSlerp(&inner, a, b, t);
  return ::QuaternionSlerp(out, &outer, &inner, F(2.0 * t * (1.0 - t)));
}

void QuaternionSplineSetup(Quaternion* a, Quaternion* b, Quaternion* c, const Quaternion* q0, const Quaternion* q1,
                           const Quaternion* q2, const Quaternion* q3) {
  Quaternion Q0 = *q0, Q1 = *q1, Q2 = *q2, Q3 = *q3;
  // Each neighbour on the same side of the sphere as the one before it.
  auto nearer = [](const Quaternion& p, Quaternion* q) {
    if (LengthSq(Add(p, *q)) < LengthSq(p - *q)) *q = -*q;
  };
  nearer(Q1, &Q0);
  nearer(Q1, &Q2);
  nearer(Q2, &Q3);
  const Quaternion ra = SplineControl(Q0, Q1, Q2);
  const Quaternion rb = SplineControl(Q1, Q2, Q3);
  *a = ra;
  *b = rb;
  *c = Q2;
}

Quaternion* QuaternionBarycentric(Quaternion* out, const Quaternion* q1, const Quaternion* q2, const Quaternion* q3,
                                  float f, float g) {
  const float s = f + g;
  if (FloatNearlyEqual(s, 0.0f)) {
    if (out != q1) *out = *q1;
    return out;
  }
  Quaternion a, b;
  ::QuaternionSlerp(&a, q1, q2, s);
  ::QuaternionSlerp(&b, q1, q3, s);
  return ::QuaternionSlerp(out, &a, &b, g / s);
}

Quaternion* QuaternionFromAxisAngle(Quaternion* out, const Vec3* axis, float angle) {
  Vec3 n;
  ::Vec3Normalize(&n, axis);
  float s, c;
  SinCos(angle * 0.5f, &s, &c);
  *out = Quaternion(n.x * s, n.y * s, n.z * s, c);
  return out;
}

Quaternion* QuaternionFromYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll) {
  float syf, cyf, spf, cpf, srf, crf;
  SinCos(yaw * 0.5f, &syf, &cyf);
  SinCos(pitch * 0.5f, &spf, &cpf);
  SinCos(roll * 0.5f, &srf, &crf);
  const double sy = syf, cy = cyf, sp = spf, cp = cpf, sr = srf, cr = crf;
  *out = Quaternion(F(cy * sp * cr + sy * cp * sr), F(sy * cp * cr - cy * sp * sr), F(cy * cp * sr - sy * sp * cr),
                    F(cy * cp * cr + sy * sp * sr));
  return out;
}

Quaternion* QuaternionFromMatrix(Quaternion* out, const Matrix4* matrix) {
  double m[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = matrix->m[r][c];
  const double trace = m[0][0] + m[1][1] + m[2][2];
  if (trace > 0) {
    const double w = std::sqrt(trace + 1) * 0.5, f = 0.25 / w;
    *out = Quaternion(F((m[1][2] - m[2][1]) * f), F((m[2][0] - m[0][2]) * f), F((m[0][1] - m[1][0]) * f), F(w));
    return out;
  }
  const double d[3] = {m[0][0] - m[1][1] - m[2][2], m[1][1] - m[0][0] - m[2][2], m[2][2] - (m[1][1] + m[0][0])};
  int i = d[0] >= d[1] ? 0 : 1;
  if (d[i] < d[2]) i = 2;
  const int j = (i + 1) % 3, k = (j + 1) % 3;
  double q[3];
  q[i] = std::sqrt(d[i] + 1) * 0.5;
  const double f = 0.25 / q[i];
  q[j] = (m[j][i] + m[i][j]) * f;
  q[k] = (m[k][i] + m[i][k]) * f;
  *out = Quaternion(F(q[0]), F(q[1]), F(q[2]), F((m[j][k] - m[k][j]) * f));
  return out;
}

void QuaternionToAxisAngle(const Quaternion* q, Vec3* axis, float* angle) {
  const Quaternion v = *q;
  if (axis) *axis = Vec3(v.x, v.y, v.z);
  if (angle) *angle = F(2.0 * std::acos(static_cast<double>(v.w)));
}

}  // namespace gxl::math::portable

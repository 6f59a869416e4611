// Helpers of the math tests: random records, comparisons and records with
// guard bytes around them.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gxl/math/math.h"

namespace mathtest {

inline Matrix4 Mat(std::initializer_list<float> e) {
  Matrix4 m;
  int i = 0;
  for (float v : e) m.m[i / 4][i % 4] = v, ++i;
  return m;
}

// Runs the rest of a test on the portable bodies alone: the rules it checks are
// the portable set's, which the processor sets keep only up to rounding.
inline void UsePortableBodies() { InitMathDispatch(0); }

inline Matrix4 Identity() {
  Matrix4 m;
  MatrixIdentity(&m);
  return m;
}

class Rng {
 public:
  explicit Rng(unsigned seed = 12345) : m_gen(seed) {}
  float Uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(m_gen); }
  Vec2 V2(float r = 2) { return Vec2(Uniform(-r, r), Uniform(-r, r)); }
  Vec3 V3(float r = 2) { return Vec3(Uniform(-r, r), Uniform(-r, r), Uniform(-r, r)); }
  Vec4 V4(float r = 2) { return Vec4(Uniform(-r, r), Uniform(-r, r), Uniform(-r, r), Uniform(-r, r)); }
  // A unit quaternion, normalised here rather than by whatever bodies a test runs.
  Quaternion Q() {
    const Vec4 v = V4(1);
    const double l = std::sqrt(double{v.x} * v.x + double{v.y} * v.y + double{v.z} * v.z + double{v.w} * v.w);
    return Quaternion(static_cast<float>(v.x / l), static_cast<float>(v.y / l), static_cast<float>(v.z / l),
                      static_cast<float>(v.w / l));
  }
  Plane P(float r = 2) { return Plane(Uniform(-r, r), Uniform(-r, r), Uniform(-r, r), Uniform(-r, r)); }
  // A well-conditioned general matrix.
  Matrix4 M(float r = 2) {
    Matrix4 m;
    for (auto& row : m.m)
      for (float& e : row) e = Uniform(-r, r);
    for (int i = 0; i < 4; ++i) m.m[i][i] += 4.0f;
    return m;
  }
  // An invertible affine transform (rotated, sheared, moved): w column (0,0,0,1).
  Matrix4 Affine() {
    Quaternion q = Q();
    Matrix4 m;
    MatrixFromQuaternion(&m, &q);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) m.m[r][c] *= Uniform(0.5f, 2.0f);
    m.m[3][0] = Uniform(-5, 5), m.m[3][1] = Uniform(-5, 5), m.m[3][2] = Uniform(-5, 5);
    return m;
  }

 private:
  std::mt19937 m_gen;
};

// |a - b| <= tol * max(1, |a|, |b|).
inline ::testing::AssertionResult Near(const float* a, const float* b, int n, float tol) {
  for (int i = 0; i < n; ++i) {
    const float scale = std::fmax(1.0f, std::fmax(std::fabs(a[i]), std::fabs(b[i])));
    if (!(std::fabs(a[i] - b[i]) <= tol * scale)) {
      return ::testing::AssertionFailure() << "component " << i << ": " << a[i] << " vs " << b[i];
    }
  }
  return ::testing::AssertionSuccess();
}

template <typename T>
::testing::AssertionResult RecordNear(const T& a, const T& b, float tol = 1e-5f) {
  return Near(reinterpret_cast<const float*>(&a), reinterpret_cast<const float*>(&b), sizeof(T) / 4, tol);
}

template <typename T>
bool SameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// A record placed `misalign` bytes (0, 4, 8 or 12) past a 16-byte boundary with
// at least 32 guard bytes on each side, so a body that reads or writes past it
// or needs more than 4-byte alignment is caught.
template <typename T>
class Guarded {
 public:
  static constexpr unsigned char kGuard = 0xA5;
  static constexpr std::size_t kLead = 32, kTrail = 44;

  explicit Guarded(std::size_t misalign = 4) : m_offset(kLead + misalign) {
    std::memset(m_storage, kGuard, sizeof m_storage);
  }
  explicit Guarded(const T& v, std::size_t misalign = 4) : Guarded(misalign) { std::memcpy(ptr(), &v, sizeof(T)); }

  T* ptr() { return reinterpret_cast<T*>(m_storage + m_offset); }
  T value() const {
    T v;
    std::memcpy(&v, m_storage + m_offset, sizeof(T));
    return v;
  }
  bool Intact() const {
    for (std::size_t i = 0; i < sizeof m_storage; ++i)
      if ((i < m_offset || i >= m_offset + sizeof(T)) && m_storage[i] != kGuard) return false;
    return true;
  }
  // True while the record itself still holds only guard bytes.
  bool Untouched() const {
    for (std::size_t i = 0; i < sizeof(T); ++i)
      if (m_storage[m_offset + i] != kGuard) return false;
    return true;
  }

 private:
  std::size_t m_offset;
  alignas(16) unsigned char m_storage[kLead + sizeof(T) + kTrail];
};

}  // namespace mathtest

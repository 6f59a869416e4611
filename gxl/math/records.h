// The plain records of the math operations: tightly packed 32-bit floats, so an
// array of records is an array of floats with the record's stride. Nothing here
// needs more than 4-byte alignment.
//
// Matrices are stored row by row and multiply row vectors from the left: the
// translation stands in elements 12 to 14, and A x B applies A first, then B.
#pragma once

#include <cstdint>
#include <type_traits>

struct Vec2 {
  float x, y;

  Vec2() = default;
  constexpr Vec2(float x_, float y_) : x(x_), y(y_) {}

  operator float*() { return &x; }
  operator const float*() const { return &x; }

  Vec2& operator/=(float s) {
    const float r = 1.0f / s;
    x *= r;
    y *= r;
    return *this;
  }
  Vec2 operator/(float s) const {
    const float r = 1.0f / s;
    return Vec2(x * r, y * r);
  }
};

struct Vec3 {
  float x, y, z;

  Vec3() = default;  // leaves the components unset
  constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  operator float*() { return &x; }
  operator const float*() const { return &x; }

  Vec3& operator+=(const Vec3& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
  }
  Vec3& operator-=(const Vec3& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    return *this;
  }
  Vec3& operator*=(float s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  Vec3& operator/=(float s) {
    const float r = 1.0f / s;
    x *= r;
    y *= r;
    z *= r;
    return *this;
  }
  Vec3 operator-() const { return Vec3(-x, -y, -z); }
  Vec3 operator+(const Vec3& v) const { return Vec3(x + v.x, y + v.y, z + v.z); }
  Vec3 operator-(const Vec3& v) const { return Vec3(x - v.x, y - v.y, z - v.z); }
  Vec3 operator*(float s) const { return Vec3(x * s, y * s, z * s); }
  Vec3 operator/(float s) const {
    const float r = 1.0f / s;
    return Vec3(x * r, y * r, z * r);
  }
  friend Vec3 operator*(float s, const Vec3& v) { return Vec3(v.x * s, v.y * s, v.z * s); }
};

// The four-float records share their operators; each keeps its own component names.
#define GXL_FOUR_FLOAT_OPERATORS(T, a, b, c, d)                                    \
  operator float*() { return &a; }                                                \
  operator const float*() const { return &a; }                                    \
  T& operator/=(float s) {                                                        \
    const float recip = 1.0f / s;                                                 \
    a *= recip;                                                                   \
    b *= recip;                                                                   \
    c *= recip;                                                                   \
    d *= recip;                                                                   \
    return *this;                                                                 \
  }                                                                               \
  T operator-() const { return T(-a, -b, -c, -d); }                               \
  T operator+(const T& o) const { return T(a + o.a, b + o.b, c + o.c, d + o.d); } \
  T operator-(const T& o) const { return T(a - o.a, b - o.b, c - o.c, d - o.d); } \
  T operator*(float s) const { return T(a * s, b * s, c * s, d * s); }            \
  T operator/(float s) const {                                                    \
    const float recip = 1.0f / s;                                                 \
    return T(a * recip, b * recip, c * recip, d * recip);                         \
  }

struct Vec4 {
  float x, y, z, w;

  Vec4() = default;  // leaves the components unset
  constexpr Vec4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  GXL_FOUR_FLOAT_OPERATORS(Vec4, x, y, z, w)
};

// A rotation quaternion; w is the scalar part.
struct Quaternion {
  float x, y, z, w;

  Quaternion() = default;
  constexpr Quaternion(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  GXL_FOUR_FLOAT_OPERATORS(Quaternion, x, y, z, w)
  // Rotates by this quaternion first, then by q (QuaternionMultiply(result, this, q)).
  Quaternion operator*(const Quaternion& q) const;
};

// The points p with a·p.x + b·p.y + c·p.z + d = 0; (a, b, c) is the normal.
struct Plane {
  float a, b, c, d;

  Plane() = default;
  constexpr Plane(float a_, float b_, float c_, float d_) : a(a_), b(b_), c(c_), d(d_) {}
  GXL_FOUR_FLOAT_OPERATORS(Plane, a, b, c, d)
};

// A colour; 1.0 is full intensity, a is alpha.
struct ColorF {
  float r, g, b, a;

  ColorF() = default;
  constexpr ColorF(float r_, float g_, float b_, float a_) : r(r_), g(g_), b(b_), a(a_) {}
  GXL_FOUR_FLOAT_OPERATORS(ColorF, r, g, b, a)
};

#undef GXL_FOUR_FLOAT_OPERATORS

// 16 elements row by row: m[r][c] stands at index 4r + c.
struct Matrix4 {
  float m[4][4];

  Matrix4() = default;  // leaves the elements unset

  operator float*() { return &m[0][0]; }
  operator const float*() const { return &m[0][0]; }

  // This matrix applied first, then n (MatrixMultiply(result, this, n)).
  Matrix4 operator*(const Matrix4& n) const;
};

// The screen mapping, laid out as the Direct3D 9 viewport record.
struct Viewport {
  std::uint32_t X, Y, Width, Height;
  float MinZ, MaxZ;
};

// A 16-bit float: sign bit 15, exponent bits 10-14 (bias 15), mantissa bits 0-9.
// Exponent 31 is an ordinary exponent: no infinity, no NaN, largest 131008.
struct Float16 {
  std::uint16_t bits;
};

static_assert(sizeof(Vec2) == 8 && alignof(Vec2) == 4);
static_assert(sizeof(Vec3) == 12 && alignof(Vec3) == 4);
static_assert(sizeof(Vec4) == 16 && alignof(Vec4) == 4);
static_assert(sizeof(Quaternion) == 16 && alignof(Quaternion) == 4);
static_assert(sizeof(Plane) == 16 && alignof(Plane) == 4);
static_assert(sizeof(ColorF) == 16 && alignof(ColorF) == 4);
static_assert(sizeof(Matrix4) == 64 && alignof(Matrix4) == 4);
static_assert(sizeof(Viewport) == 24 && alignof(Viewport) == 4);
static_assert(sizeof(Float16) == 2);
static_assert(std::is_trivial_v<Vec3> && std::is_trivial_v<Matrix4> && std::is_standard_layout_v<Matrix4>);

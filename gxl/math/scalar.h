// Scalar helpers of the math operations.
#pragma once

#include <cmath>

// 2^-23: the tolerance of "nearly equal" and the smallest normal float.
constexpr float kFloatNearlyEqualTolerance = 1.1920929e-7f;
constexpr float kSmallestNormalFloat = 1.1754944e-38f;

// |a - b| within 2^-23, bounds included; never true for a NaN.
inline bool FloatNearlyEqual(float a, float b) {
  const float d = a - b;
  return d >= -kFloatNearlyEqualTolerance && d <= kFloatNearlyEqualTolerance;
}

// Sine and cosine of an f32 angle, each rounded to f32; returns the sine output.
inline float* SinCos(float angle, float* sine, float* cosine) {
  const double a = angle;
  *sine = static_cast<float>(std::sin(a));
  *cosine = static_cast<float>(std::cos(a));
  return sine;
}

// Single-float wrappers.
inline float FloatAcos(float x) { return std::acos(x); }
inline float FloatAtan2(float y, float x) { return std::atan2(y, x); }
inline float FloatAbs(float x) { return std::fabs(x); }
inline float FloatSin(float x) { return std::sin(x); }
inline float FloatSqrt(float x) { return std::sqrt(x); }

// The table-driven approximate reciprocal square root that the pixel codecs
// use for their sRGB encode index.
#pragma once

// 512 lines (slope, intercept) approximating 1/sqrt(m) on m in [0.5, 2): pairs
// 0-255 cover [0.5, 1) in steps of 1/512, pairs 256-511 cover [1, 2) in steps of
// 1/256. Each line meets 1/sqrt(m) at both ends of its segment; slopes carry 15
// significant bits.
struct ReciprocalSqrtPair {
  float slope;
  float intercept;
};
struct ReciprocalSqrtPairs {
  ReciprocalSqrtPair pair[512];
};
extern const ReciprocalSqrtPairs ReciprocalSqrtTable;

// Approximate 1/sqrt(x) for positive normal x (relative error below 1.5e-6);
// exact for even powers of two. Zero, negative numbers, denormals, infinities
// and NaN are not guarded: 0 gives about 1.3e19, a negative x infinity.
float FastReciprocalSqrt(float x);

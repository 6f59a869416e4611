// The arithmetic of the interpreter: one value per instruction from its
// sources, by the format's per-instruction formulas.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "tests/support/shader/interp.h"

namespace nura::shtok {
namespace ps = platform::shader;
namespace {

constexpr float kLitPowerLimit = 127.9961f;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

float FromBits(std::uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}
std::uint32_t ToBits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

float Dot3(const Float4& a, const Float4& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
float Dot4(const Float4& a, const Float4& b) { return Dot3(a, b) + a[3] * b[3]; }

// rcp(0) and rsq(0) are +infinity, so that rcp(rsq(0)), a compiled sqrt(0), is 0.
float Rcp(float v) {
  if (v == 1.0f) return 1.0f;
  if (v == 0.0f) return kInfinity;
  return 1.0f / v;
}

float Rsq(float v) {
  v = std::fabs(v);
  if (v == 1.0f) return 1.0f;
  if (v == 0.0f) return kInfinity;
  return 1.0f / std::sqrt(v);
}

float Log2Abs(float v) {
  v = std::fabs(v);
  return v != 0.0f ? std::log2(v) : -FLT_MAX;
}

Float4 Splat(float x) { return Float4(x, x, x, x); }

}  // namespace

bool Compute(std::uint16_t op, const ps::Version& v, const Float4* s, Float4* d, std::uint32_t* produced) {
  Float4 r;
  std::uint32_t mask = 0xF;
  auto each = [&](auto f) {
    for (int c = 0; c < 4; ++c) r[c] = f(c);
  };
  switch (op) {
    case ps::kMov: case ps::kMova: r = s[0]; break;
    case ps::kAdd: each([&](int c) { return s[0][c] + s[1][c]; }); break;
    case ps::kSub: each([&](int c) { return s[0][c] - s[1][c]; }); break;
    case ps::kMul: each([&](int c) { return s[0][c] * s[1][c]; }); break;
    case ps::kMad: each([&](int c) { return s[0][c] * s[1][c] + s[2][c]; }); break;
    case ps::kLrp: each([&](int c) { return s[2][c] + s[0][c] * (s[1][c] - s[2][c]); }); break;
    case ps::kMin: each([&](int c) { return s[0][c] < s[1][c] ? s[0][c] : s[1][c]; }); break;
    case ps::kMax: each([&](int c) { return s[0][c] >= s[1][c] ? s[0][c] : s[1][c]; }); break;
    case ps::kSlt: each([&](int c) { return s[0][c] < s[1][c] ? 1.0f : 0.0f; }); break;
    case ps::kSge: each([&](int c) { return s[0][c] >= s[1][c] ? 1.0f : 0.0f; }); break;
    case ps::kAbs: each([&](int c) { return std::fabs(s[0][c]); }); break;
    case ps::kFrc: each([&](int c) { return s[0][c] - std::floor(s[0][c]); }); break;
    case ps::kSgn: each([&](int c) { return s[0][c] < 0 ? -1.0f : s[0][c] == 0 ? 0.0f : 1.0f; }); break;
    case ps::kCmp: each([&](int c) { return s[0][c] >= 0.0f ? s[1][c] : s[2][c]; }); break;
    case ps::kCnd:
      if (v.minor < 4)
        each([&](int c) { return s[0][3] > 0.5f ? s[1][c] : s[2][c]; });
      else
        each([&](int c) { return s[0][c] > 0.5f ? s[1][c] : s[2][c]; });
      break;
    case ps::kDp3: r = Splat(Dot3(s[0], s[1])); break;
    case ps::kDp4: r = Splat(Dot4(s[0], s[1])); break;
    case ps::kDp2Add: r = Splat(s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[2][0]); break;
    case ps::kRcp: r = Splat(Rcp(s[0][0])); break;
    case ps::kRsq: r = Splat(Rsq(s[0][0])); break;
    case ps::kExp: r = Splat(std::exp2(s[0][0])); break;
    case ps::kLog: case ps::kLogP: r = Splat(Log2Abs(s[0][0])); break;
    case ps::kPow: r = Splat(std::pow(std::fabs(s[0][0]), s[1][0])); break;
    case ps::kExpP:
      if (v.profile == ps::kVs11) {
        const float x = s[0][0], t = std::floor(x);
        r = Float4(std::exp2(t), x - t, FromBits(ToBits(std::exp2(x)) & 0xFFFFFF00u), 1.0f);
      } else {
        r = Splat(std::exp2(s[0][0]));
      }
      break;
    case ps::kLit: {
      float power = s[0][3];
      if (power < -kLitPowerLimit) power = -kLitPowerLimit;
      if (power > kLitPowerLimit) power = kLitPowerLimit;
      r = Float4(1, 0, 0, 1);
      if (s[0][0] > 0) {
        r[1] = s[0][0];
        if (s[0][1] > 0) r[2] = std::pow(s[0][1], power);
      }
      break;
    }
    case ps::kDst: r = Float4(1.0f, s[0][1] * s[1][1], s[0][2], s[1][3]); break;
    case ps::kCrs:
      r = Float4(s[0][1] * s[1][2] - s[0][2] * s[1][1], s[0][2] * s[1][0] - s[0][0] * s[1][2],
                 s[0][0] * s[1][1] - s[0][1] * s[1][0], 0);
      mask = 0x7;
      break;
    case ps::kNrm: {
      float f = Dot3(s[0], s[0]);
      f = f != 0 ? 1.0f / std::sqrt(f) : FLT_MAX;
      each([&](int c) { return s[0][c] * f; });
      break;
    }
    case ps::kSinCos:
      r = Float4(std::cos(s[0][0]), std::sin(s[0][0]), 0, 0);
      mask = 0x3;
      break;
    case ps::kM4x4: case ps::kM4x3: case ps::kM3x4: case ps::kM3x3: case ps::kM3x2: {
      const bool four = op == ps::kM4x4 || op == ps::kM4x3;
      const int rows = op == ps::kM4x4 || op == ps::kM3x4 ? 4 : op == ps::kM3x2 ? 2 : 3;
      for (int i = 0; i < rows; ++i) r[i] = four ? Dot4(s[0], s[1 + i]) : Dot3(s[0], s[1 + i]);
      mask = (1u << rows) - 1;
      break;
    }
    default:
      return false;
  }
  *d = r;
  *produced = mask;
  return true;
}

}  // namespace nura::shtok

// Intrinsic lowering: every intrinsic at sample points against libm or a
// closed form, run through the IR kit's interpreter on targets with and
// without the native operations; identities of the vector and matrix
// intrinsics; and the shapes the expansions take.
#include <cmath>
#include <functional>
#include <random>
#include <set>

#include "lower_run.h"

namespace compilertest {
namespace {

using V4 = std::array<double, 4>;
using Out = std::vector<double>;

// Targets: no native operations; native trigonometry, lit, two-component
// dots and selects; the combined sine-cosine with one select guard.
const ProfileLimits kTargets[] = {TargetLimits(0, 0, 0, 0, 0),
                                  TargetLimits(0x200 | 0x40 | 0x20 | 0x80, 0x1000, 0, 0, 0),
                                  TargetLimits(0x100 | 0x80 | 0x4, 0, 0, 0, 0)};

// A pixel function over three float4 inputs a, b, c, with a second output o.
std::string Program(const std::string& body, const std::string& globals = "") {
  return globals +
         "\nfloat4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1, float4 c : TEXCOORD2, out float4 o : COLOR1)"
         " : COLOR0 {\n  o = 0;\n  " +
         body + "\n}\n";
}

Out Each(const V4& x, double (*f)(double)) { return {f(x[0]), f(x[1]), f(x[2]), f(x[3])}; }
template <class F>
Out Each2(const V4& x, const V4& y, F f) {
  return {f(x[0], y[0]), f(x[1], y[1]), f(x[2], y[2]), f(x[3], y[3])};
}
double Dot(const double* x, const double* y, int n) {
  double s = 0;
  for (int i = 0; i < n; ++i) s += x[i] * y[i];
  return s;
}
double Sign(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
Out Texel(std::uint32_t kind, double u, double v, double w, double lod) {
  double p[3] = {u, v, w};
  if (kind == 4) {
    const double m = std::max({std::fabs(u), std::fabs(v), std::fabs(w)});
    for (double& x : p) x /= m;
  }
  const irkit::Texel t = irkit::ProceduralTexel(0, kind, p, lod);
  return {t.r, t.g, t.b, t.a};
}

struct Case {
  const char* body;
  double low, high;  // where the inputs lie
  std::function<Out(const V4& a, const V4& b, const V4& c)> reference;
  double tolerance;
  bool edges = true;  // zeros and equal inputs among the points
};

// The polynomial arc functions are good to 7e-5 (arc sine and cosine) and
// 1e-5 (arc tangent), the sine and cosine series to 9.4e-5; everything else to
// rounding.
const Case kCases[] = {
    {"return abs(a);", -3, 3, [](auto& a, auto&, auto&) { return Each(a, std::fabs); }, 1e-12},
    {"return acos(a);", -0.99, 0.99, [](auto& a, auto&, auto&) { return Each(a, std::acos); }, 1e-4},
    {"return float4(all(a.xy), all(a.xyz), all(a), all(a.w));", -1, 1,
     [](auto& a, auto&, auto&) {
       return Out{double(a[0] && a[1]), double(a[0] && a[1] && a[2]), double(a[0] && a[1] && a[2] && a[3]),
                  double(a[3] != 0)};
     },
     0},
    {"return float4(any(a.xy), any(a.xyz), any(a), any(a.w));", -1, 1,
     [](auto& a, auto&, auto&) {
       return Out{double(a[0] || a[1]), double(a[0] || a[1] || a[2]), double(a[0] || a[1] || a[2] || a[3]),
                  double(a[3] != 0)};
     },
     0},
    {"return asin(a);", -0.99, 0.99, [](auto& a, auto&, auto&) { return Each(a, std::asin); }, 1e-4},
    {"return atan(a);", -5, 5, [](auto& a, auto&, auto&) { return Each(a, std::atan); }, 3e-5},
    {"return atan2(a, b);", -5, 5,
     [](auto& a, auto& b, auto&) { return Each2(a, b, [](double y, double x) { return std::atan2(y, x); }); }, 3e-5},
    {"return ceil(a);", -3, 3, [](auto& a, auto&, auto&) { return Each(a, std::ceil); }, 1e-12},
    {"return clamp(a, b, b + abs(c));", -3, 3,
     [](auto& a, auto& b, auto& c) {
       Out r(4);
       for (int i = 0; i < 4; ++i) r[i] = std::min(std::max(a[i], b[i]), b[i] + std::fabs(c[i]));
       return r;
     },
     1e-12},
    {"return cos(a);", -9, 9, [](auto& a, auto&, auto&) { return Each(a, std::cos); }, 1e-4},
    {"return cosh(a);", -3, 3, [](auto& a, auto&, auto&) { return Each(a, std::cosh); }, 1e-12},
    {"return float4(cross(a.xyz, b.xyz), 1);", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Out{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0], 1};
     },
     1e-12},
    {"return ddx(a) + ddy(b) + fwidth(c);", -3, 3,
     [](auto&, auto&, auto&) {
       return Out{0, 0, 0, 0};
     },
     0},
    {"return float4(degrees(a.xy), radians(a.zw));", -3, 3,
     [](auto& a, auto&, auto&) {
       return Out{a[0] * 180 / M_PI, a[1] * 180 / M_PI, a[2] * M_PI / 180, a[3] * M_PI / 180};
     },
     1e-6},
    {"return float4(distance(a, b), distance(a.xy, b.xy), length(a), length(a.z));", -3, 3,
     [](auto& a, auto& b, auto&) {
       double d[4];
       for (int i = 0; i < 4; ++i) d[i] = a[i] - b[i];
       return Out{std::sqrt(Dot(d, d, 4)), std::sqrt(Dot(d, d, 2)), std::sqrt(Dot(a.data(), a.data(), 4)),
                  std::fabs(a[2])};
     },
     1e-12},
    {"return float4(dot(a, b), dot(a.xy, b.zw), dot(a.xyz, c.xyz), dot(a.x, b.x));", -3, 3,
     [](auto& a, auto& b, auto& c) {
       return Out{Dot(a.data(), b.data(), 4), a[0] * b[2] + a[1] * b[3], Dot(a.data(), c.data(), 3), a[0] * b[0]};
     },
     1e-12},
    {"return dst(a, b);", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Out{1, a[1] * b[1], a[2], b[3]};
     },
     1e-12},
    {"return float4(exp(a.xy), exp2(a.zw));", -3, 3,
     [](auto& a, auto&, auto&) {
       return Out{std::exp(a[0]), std::exp(a[1]), std::exp2(a[2]), std::exp2(a[3])};
     },
     1e-12},
    {"return faceforward(a, b, c);", -3, 3,
     [](auto& a, auto& b, auto& c) {
       const double s = Dot(b.data(), c.data(), 4) < 0 ? 1 : -1;
       return Out{s * a[0], s * a[1], s * a[2], s * a[3]};
     },
     1e-12},
    {"return floor(a);", -3, 3, [](auto& a, auto&, auto&) { return Each(a, std::floor); }, 1e-12},
    {"return fmod(a, b);", -3, 3,
     [](auto& a, auto& b, auto&) { return Each2(a, b, [](double x, double y) { return std::fmod(x, y); }); }, 1e-9,
     false},
    {"return frac(a);", -3, 3,
     [](auto& a, auto&, auto&) { return Each(a, [](double x) { return x - std::floor(x); }); }, 1e-12},
    {"return frexp(a, o);", -30, 30,
     [](auto& a, auto&, auto&) {
       Out r(8);
       for (int i = 0; i < 4; ++i) {
         // The mantissa in (0.5, 1], as the exponent rounds log2 |x| up.
         const double e = a[i] == 0 ? 0 : std::ceil(std::log2(std::fabs(a[i])));
         r[i] = a[i] / std::exp2(e);
         r[4 + i] = e;
       }
       return r;
     },
     1e-12},
    {"return ldexp(a, b);", -3, 3,
     [](auto& a, auto& b, auto&) { return Each2(a, b, [](double x, double e) { return x * std::exp2(e); }); }, 1e-12},
    {"return lerp(a, b, c);", -3, 3,
     [](auto& a, auto& b, auto& c) {
       Out r(4);
       for (int i = 0; i < 4; ++i) r[i] = a[i] + c[i] * (b[i] - a[i]);
       return r;
     },
     1e-12},
    // The power's logarithm needs h >= 0.
    {"return lit(a.x, abs(a.y), abs(a.z) + 0.5);", -3, 3,
     [](auto& a, auto&, auto&) {
       const double h = std::fabs(a[1]);
       return Out{1, std::max(0.0, a[0]), a[0] > 0 && h > 0 ? std::pow(h, std::fabs(a[2]) + 0.5) : 0, 1};
     },
     1e-9},
    {"return float4(log(a.xy), log10(a.z), log2(a.w));", 0.1, 9,
     [](auto& a, auto&, auto&) {
       return Out{std::log(a[0]), std::log(a[1]), std::log10(a[2]), std::log2(a[3])};
     },
     1e-12, false},
    {"return float4(max(a.xy, b.xy), min(a.zw, b.zw));", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Out{std::max(a[0], b[0]), std::max(a[1], b[1]), std::min(a[2], b[2]), std::min(a[3], b[3])};
     },
     1e-12},
    {"return modf(a, o);", -9, 9,
     [](auto& a, auto&, auto&) {
       Out r(8);
       for (int i = 0; i < 4; ++i) r[4 + i] = std::trunc(a[i]), r[i] = a[i] - std::trunc(a[i]);
       return r;
     },
     1e-12},
    {"return float4(mul(a.x, b.y), mul(a.z, b.xyz));", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Out{a[0] * b[1], a[2] * b[0], a[2] * b[1], a[2] * b[2]};
     },
     1e-12},
    {"float2x2 m = mul(a.x, float2x2(b.xy, c.xy)); return float4(m[0], m[1]);", -3, 3,
     [](auto& a, auto& b, auto& c) {
       return Out{a[0] * b[0], a[0] * b[1], a[0] * c[0], a[0] * c[1]};
     },
     1e-12},
    {"float2x2 m = mul(float2x2(b.xy, c.xy), a.w); return float4(mul(b.xyz, a.w), mul(a, b));", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Out{b[0] * a[3], b[1] * a[3], b[2] * a[3], Dot(a.data(), b.data(), 4)};
     },
     1e-12},
    {"float2x2 m = mul(float2x2(b.xy, c.xy), a.w); return float4(m[0], m[1]);", -3, 3,
     [](auto& a, auto& b, auto& c) {
       return Out{b[0] * a[3], b[1] * a[3], c[0] * a[3], c[1] * a[3]};
     },
     1e-12},
    {"float3x2 m = float3x2(b.xy, c.xy, a.zw); return float4(mul(a.xyz, m), mul(m, a.xy).xy);", -3, 3,
     [](auto& a, auto& b, auto& c) {
       const double m[3][2] = {{b[0], b[1]}, {c[0], c[1]}, {a[2], a[3]}};
       return Out{a[0] * m[0][0] + a[1] * m[1][0] + a[2] * m[2][0], a[0] * m[0][1] + a[1] * m[1][1] + a[2] * m[2][1],
                  m[0][0] * a[0] + m[0][1] * a[1], m[1][0] * a[0] + m[1][1] * a[1]};
     },
     1e-12},
    {"float2x3 p = float2x3(a.xyz, b.xyz); float3x2 q = float3x2(c.xy, c.zw, a.xw); float2x2 m = mul(p, q);"
     " return float4(m[0], m[1]);",
     -3, 3,
     [](auto& a, auto& b, auto& c) {
       const double p[2][3] = {{a[0], a[1], a[2]}, {b[0], b[1], b[2]}};
       const double q[3][2] = {{c[0], c[1]}, {c[2], c[3]}, {a[0], a[3]}};
       Out r(4);
       for (int i = 0; i < 2; ++i)
         for (int j = 0; j < 2; ++j) r[i * 2 + j] = p[i][0] * q[0][j] + p[i][1] * q[1][j] + p[i][2] * q[2][j];
       return r;
     },
     1e-12},
    {"return float4(noise(a.xy), noise(a), 0, 0);", -3, 3,
     [](auto& a, auto&, auto&) {
       return Out{0.5 * std::sin(a[0] + 2 * a[1]), 0.5 * std::sin(a[0] + 2 * a[1] + 3 * a[2] + 4 * a[3]), 0, 0};
     },
     1e-12},
    {"return float4(normalize(a.xyz), normalize(a.w));", -3, 3,
     [](auto& a, auto&, auto&) {
       const double l = std::sqrt(Dot(a.data(), a.data(), 3));
       return Out{a[0] / l, a[1] / l, a[2] / l, Sign(a[3])};
     },
     1e-12},
    {"return pow(abs(a) + 0.1, b);", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Each2(a, b, [](double x, double y) { return std::pow(std::fabs(x) + 0.1, y); });
     },
     1e-12},
    {"return reflect(a, b);", -3, 3,
     [](auto& a, auto& b, auto&) {
       const double d = 2 * Dot(a.data(), b.data(), 4);
       return Out{a[0] - d * b[0], a[1] - d * b[1], a[2] - d * b[2], a[3] - d * b[3]};
     },
     1e-12},
    {"return float4(refract(a.xyz, normalize(b.xyz), c.w), 0);", -3, 3,
     [](auto& a, auto& b, auto& c) {
       const double l = std::sqrt(Dot(b.data(), b.data(), 3)), n[3] = {b[0] / l, b[1] / l, b[2] / l};
       const double d = Dot(a.data(), n, 3), k = 1 - c[3] * c[3] * (1 - d * d);
       Out r(4);
       for (int i = 0; i < 3 && k >= 0; ++i) r[i] = c[3] * a[i] - (c[3] * d + std::sqrt(k)) * n[i];
       return r;
     },
     1e-9},
    {"return round(a);", -3, 3,
     [](auto& a, auto&, auto&) { return Each(a, [](double x) { return std::floor(x + 0.5); }); }, 1e-12},
    {"return rsqrt(abs(a) + 0.1) + sqrt(abs(b));", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Each2(a, b,
                    [](double x, double y) { return 1 / std::sqrt(std::fabs(x) + 0.1) + std::sqrt(std::fabs(y)); });
     },
     1e-12},
    {"return saturate(a);", -3, 3,
     [](auto& a, auto&, auto&) { return Each(a, [](double x) { return std::clamp(x, 0.0, 1.0); }); }, 1e-12},
    {"return sign(a);", -3, 3, [](auto& a, auto&, auto&) { return Each(a, Sign); }, 1e-12},
    {"return sin(a);", -9, 9, [](auto& a, auto&, auto&) { return Each(a, std::sin); }, 1e-4},
    {"float4 s; sincos(a, s, o); return s;", -9, 9,
     [](auto& a, auto&, auto&) {
       Out r(8);
       for (int i = 0; i < 4; ++i) r[i] = std::sin(a[i]), r[4 + i] = std::cos(a[i]);
       return r;
     },
     1e-4},
    {"return float4(sinh(a.xy), tanh(a.zw));", -3, 3,
     [](auto& a, auto&, auto&) {
       return Out{std::sinh(a[0]), std::sinh(a[1]), std::tanh(a[2]), std::tanh(a[3])};
     },
     1e-12},
    {"return smoothstep(a, a + abs(b) + 0.5, c);", -3, 3,
     [](auto& a, auto& b, auto& c) {
       Out r(4);
       for (int i = 0; i < 4; ++i) {
         const double t = std::clamp((c[i] - a[i]) / (std::fabs(b[i]) + 0.5), 0.0, 1.0);
         r[i] = t * t * (3 - 2 * t);
       }
       return r;
     },
     1e-12},
    {"return step(a, b);", -3, 3,
     [](auto& a, auto& b, auto&) { return Each2(a, b, [](double x, double y) { return double(y >= x); }); }, 0},
    {"return tan(a);", -1.2, 1.2, [](auto& a, auto&, auto&) { return Each(a, std::tan); }, 2e-3},
    {"float4x2 m = float4x2(a.xy, a.zw, b.xy, b.zw); float2x4 t = transpose(m); return t[1];", -3, 3,
     [](auto& a, auto& b, auto&) {
       return Out{a[1], a[3], b[1], b[3]};
     },
     0},
    {"return D3DCOLORtoUBYTE4(a);", 0, 1,
     [](auto& a, auto&, auto&) {
       const double k = 255.001953125;
       return Out{a[2] * k, a[1] * k, a[0] * k, a[3] * k};
     },
     1e-12},
};

// Every texture lookup against the kit's procedural texture.
const char* const kSamplers = "sampler1D s1; sampler2D s2; sampler3D s3; samplerCUBE sc;";
const Case kSamples[] = {
    {"return tex1D(s1, a.x);", 0.1, 2, [](auto& a, auto&, auto&) { return Texel(1, a[0], 0, 0, 0); }, 1e-12},
    {"return tex1D(s1, a.x, b.x, c.x) + tex1Dgrad(s1, a.y, b.y, c.y);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       Out r = Texel(1, a[0], 0, 0, std::max(std::fabs(b[0]), std::fabs(c[0])));
       const Out s = Texel(1, a[1], 0, 0, std::max(std::fabs(b[1]), std::fabs(c[1])));
       for (int i = 0; i < 4; ++i) r[i] += s[i];
       return r;
     },
     1e-12},
    {"return tex1Dproj(s1, a) + tex1Dbias(s1, b) + tex1Dlod(s1, c);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       Out r = Texel(1, a[0] / a[3], 0, 0, 0), s = Texel(1, b[0], 0, 0, b[3]), t = Texel(1, c[0], 0, 0, c[3]);
       for (int i = 0; i < 4; ++i) r[i] += s[i] + t[i];
       return r;
     },
     1e-12, false},
    {"return tex2D(s2, a.xy) + tex2D(s2, a.zw, b.xy, c.xy) + tex2Dgrad(s2, a.yx, b.zw, c.zw);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       Out r = Texel(2, a[0], a[1], 0, 0);
       const Out s = Texel(2, a[2], a[3], 0, std::sqrt(std::max(Dot(&b[0], &b[0], 2), Dot(&c[0], &c[0], 2))));
       const Out t = Texel(2, a[1], a[0], 0, std::sqrt(std::max(Dot(&b[2], &b[2], 2), Dot(&c[2], &c[2], 2))));
       for (int i = 0; i < 4; ++i) r[i] += s[i] + t[i];
       return r;
     },
     1e-12},
    {"return tex2Dproj(s2, a) + tex2Dbias(s2, b) + tex2Dlod(s2, c);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       Out r = Texel(2, a[0] / a[3], a[1] / a[3], 0, 0), s = Texel(2, b[0], b[1], 0, b[3]),
           t = Texel(2, c[0], c[1], 0, c[3]);
       for (int i = 0; i < 4; ++i) r[i] += s[i] + t[i];
       return r;
     },
     1e-12, false},
    {"return tex3D(s3, a.xyz) + tex3D(s3, b.xyz, a.xyz, c.xyz) + tex3Dgrad(s3, c.xyz, a.xyz, b.xyz);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       auto lod = [](auto& x, auto& y) {
         return std::sqrt(std::max(Dot(x.data(), x.data(), 3), Dot(y.data(), y.data(), 3)));
       };
       Out r = Texel(3, a[0], a[1], a[2], 0), s = Texel(3, b[0], b[1], b[2], lod(a, c)),
           t = Texel(3, c[0], c[1], c[2], lod(a, b));
       for (int i = 0; i < 4; ++i) r[i] += s[i] + t[i];
       return r;
     },
     1e-12},
    {"return tex3Dproj(s3, a) + tex3Dbias(s3, b) + tex3Dlod(s3, c);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       Out r = Texel(3, a[0] / a[3], a[1] / a[3], a[2] / a[3], 0), s = Texel(3, b[0], b[1], b[2], b[3]),
           t = Texel(3, c[0], c[1], c[2], c[3]);
       for (int i = 0; i < 4; ++i) r[i] += s[i] + t[i];
       return r;
     },
     1e-12, false},
    {"return texCUBE(sc, a.xyz) + texCUBE(sc, b.xyz, a.xyz, c.xyz) + texCUBEgrad(sc, c.xyz, a.xyz, b.xyz);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       auto lod = [](auto& x, auto& y) {
         return std::sqrt(std::max(Dot(x.data(), x.data(), 3), Dot(y.data(), y.data(), 3)));
       };
       Out r = Texel(4, a[0], a[1], a[2], 0), s = Texel(4, b[0], b[1], b[2], lod(a, c)),
           t = Texel(4, c[0], c[1], c[2], lod(a, b));
       for (int i = 0; i < 4; ++i) r[i] += s[i] + t[i];
       return r;
     },
     1e-12},
    {"return texCUBEproj(sc, a) + texCUBEbias(sc, b) + texCUBElod(sc, c);", 0.1, 2,
     [](auto& a, auto& b, auto& c) {
       Out r = Texel(4, a[0] / a[3], a[1] / a[3], a[2] / a[3], 0), s = Texel(4, b[0], b[1], b[2], b[3]),
           t = Texel(4, c[0], c[1], c[2], c[3]);
       for (int i = 0; i < 4; ++i) r[i] += s[i] + t[i];
       return r;
     },
     1e-12, false},
};

// The ids of the intrinsic calls a tree holds.
void CollectIds(const ParseNode* node, std::set<std::uint32_t>& ids, int depth = 0) {
  if (!node || depth > 200) return;
  switch (node->kind) {
    case NodeKind::List:
      for (const ParseNode* c = node; c && c->kind == NodeKind::List; c = c->second)
        CollectIds(c->first, ids, depth + 1);
      break;
    case NodeKind::Statement:
      for (const ParseNode* c : static_cast<const StatementNode*>(node)->children) CollectIds(c, ids, depth + 1);
      break;
    case NodeKind::Declaration:
      if (const ParseNodeKind10* f = FunctionDescription(node)) CollectIds(f->body, ids, depth + 1);
      break;
    case NodeKind::Kind13: {
      const auto* e = static_cast<const ParseNodeKind13*>(node);
      if (e->op == kExprIntrinsic && e->left && e->left->kind == NodeKind::Expression)
        ids.insert(static_cast<const IntrinsicRecord*>(static_cast<const ExpressionNode*>(e->left)->value.address)->id);
      CollectIds(e->left, ids, depth + 1);
      CollectIds(e->right, ids, depth + 1);
      break;
    }
    default:
      break;
  }
}

// Runs a case on every target at 12 random points; the ids it called.
void Check(const Case& c, const std::string& globals, std::set<std::uint32_t>& ids, std::mt19937& random) {
  std::uniform_real_distribution<double> in(c.low, c.high);
  for (const ProfileLimits& limits : kTargets) {
    LowerRun run(Program(c.body, globals), "main", limits);
    ASSERT_EQ(run.hr, S_OK) << c.body << "\n" << run.log;
    CollectIds(run.parse.tree->statements, ids);
    for (int k = 0; k < 12; ++k) {
      V4 a, b, x;
      for (V4* v : {&a, &b, &x})
        for (double& e : *v) e = in(random);
      // Zeros where truth tests and comparisons matter.
      if (c.edges && k % 3 == 0) a[k % 4] = 0, b[(k + 1) % 4] = a[(k + 1) % 4];
      const Out want = c.reference(a, b, x);
      const Out got = run.Run({{"a", {a.begin(), a.end()}}, {"b", {b.begin(), b.end()}}, {"c", {x.begin(), x.end()}}});
      ASSERT_EQ(got.size(), 8u);
      for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_NEAR(got[i], want[i], c.tolerance * std::max(1.0, std::fabs(want[i])))
            << c.body << " component " << i << " at a=(" << a[0] << "," << a[1] << "," << a[2] << "," << a[3] << ")";
    }
  }
}

TEST(GxlLowerIntrinsic, EveryIntrinsicAgreesWithLibmOrItsClosedForm) {
  std::mt19937 random(5);
  std::set<std::uint32_t> ids;
  for (const Case& c : kCases) Check(c, "", ids, random);
  for (const Case& c : kSamples) Check(c, kSamplers, ids, random);
  // clip and the tests for finite values are checked below, determinants in their own test.
  ids.insert({kIntrinsicClip, kIntrinsicDeterminant, kIntrinsicIsfinite, kIntrinsicIsinf, kIntrinsicIsnan});
  for (std::uint32_t id = 0; id < kIntrinsicIdCount; ++id) EXPECT_TRUE(ids.count(id)) << "intrinsic id " << id;
}

// Determinants of random matrices against an LU decomposition with pivoting.
TEST(GxlLowerIntrinsic, DeterminantsAgreeWithLuDecomposition) {
  std::mt19937 random(3);
  std::uniform_real_distribution<double> in(-2, 2);
  for (int n = 2; n <= 4; ++n) {
    const std::string type = "float" + std::to_string(n) + "x" + std::to_string(n);
    LowerRun run("float4 main(" + type + " m : TEXCOORD0) : COLOR { return determinant(m); }", "main", kTargets[0]);
    ASSERT_EQ(run.hr, S_OK) << run.log;
    for (int k = 0; k < 20; ++k) {
      std::vector<double> m(n * n);
      for (double& x : m) x = in(random);
      std::vector<double> lu = m;
      double det = 1;
      for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
          if (std::fabs(lu[r * n + c]) > std::fabs(lu[pivot * n + c])) pivot = r;
        if (pivot != c) {
          for (int j = 0; j < n; ++j) std::swap(lu[c * n + j], lu[pivot * n + j]);
          det = -det;
        }
        det *= lu[c * n + c];
        for (int r = c + 1; r < n; ++r) {
          const double f = lu[r * n + c] / lu[c * n + c];
          for (int j = c; j < n; ++j) lu[r * n + j] -= f * lu[c * n + j];
        }
      }
      const std::vector<double> got = run.Run({{"m", m}});
      ASSERT_FALSE(got.empty());
      EXPECT_NEAR(got[0], det, 1e-9 * std::max(1.0, std::fabs(det))) << n << "x" << n;
    }
  }
}

// Identities: cross products are orthogonal to their factors and change
// sign with their order; reflection keeps the length; refraction past the
// critical angle gives 0; smoothstep is 0 and 1 at and beyond its ends.
TEST(GxlLowerIntrinsic, VectorIntrinsicsKeepTheirIdentities) {
  LowerRun run(Program("float3 x = cross(a.xyz, b.xyz); o = float4(cross(b.xyz, a.xyz) + x, 0);"
                       " return float4(dot(x, a.xyz), dot(x, b.xyz), length(reflect(a.xyz, normalize(b.xyz))) -"
                       " length(a.xyz), length(refract(normalize(a.xyz), normalize(b.xyz), 3 + c.x)));"),
               "main", kTargets[1]);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  std::mt19937 random(9);
  std::uniform_real_distribution<double> in(-2, 2);
  for (int k = 0; k < 50; ++k) {
    std::vector<double> a(4), b(4), c(4);
    for (auto* v : {&a, &b, &c})
      for (double& x : *v) x = in(random);
    // Past the critical angle for an index above 1: an incidence near grazing.
    const double ab = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) /
                      std::sqrt((a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) * (b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
    const std::vector<double> got = run.Run({{"a", a}, {"b", b}, {"c", c}});
    ASSERT_EQ(got.size(), 8u);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], 0, 1e-9) << i;
    for (int i = 4; i < 7; ++i) EXPECT_NEAR(got[i], 0, 1e-12) << i;
    if (1 - (3 + c[0]) * (3 + c[0]) * (1 - ab * ab) < 0) {
      EXPECT_EQ(got[3], 0) << "total internal reflection";
    }
  }
  LowerRun ends(Program("return float4(smoothstep(b.x, b.y, b.x), smoothstep(b.x, b.y, b.y),"
                        " smoothstep(b.x, b.y, b.x - 1), smoothstep(b.x, b.y, b.y + 1));"),
                "main", kTargets[0]);
  ASSERT_EQ(ends.hr, S_OK) << ends.log;
  EXPECT_EQ(ends.Run({{"b", {0.25, 1.5, 0, 0}}}), (std::vector<double>{0, 1, 0, 1, 0, 0, 0, 0}));
}

// The three schemes of mul give the same numbers, whichever way the
// operands lie in registers.
TEST(GxlLowerIntrinsic, MulSchemesAgreeInEveryLayout) {
  const char* const kLayouts[] = {"row_major", "column_major"};
  // Dot products where rows meet columns, sums of products otherwise.
  const std::uint32_t kDots[] = {3, 9, 4, 4};
  std::vector<std::vector<double>> results;
  for (const char* left : kLayouts) {
    for (const char* right : kLayouts) {
      const std::string globals = std::string("uniform ") + left + " float3x4 L; uniform " + right + " float4x2 R;";
      LowerRun run(Program("float3x2 p = mul(L, R); float3 v = mul(L, a); return float4(p[0], p[2]) + float4(v, "
                           "mul(b.xyz, L).w);",
                           globals),
                   "main", kTargets[1]);
      ASSERT_EQ(run.hr, S_OK) << run.log;
      std::vector<double> l(12), r(8);
      for (int i = 0; i < 12; ++i) l[i] = i * 0.25 - 1;
      for (int i = 0; i < 8; ++i) r[i] = 2 - i * 0.5;
      results.push_back(run.Run({{"L", l}, {"R", r}, {"a", {1, -2, 3, 0.5}}, {"b", {0.5, 1, -1, 0}}}));
      EXPECT_EQ(run.Count(kOpDot), kDots[results.size() - 1]) << left << " " << right;
    }
  }
  for (const std::vector<double>& r : results) EXPECT_EQ(r, results[0]);
  ASSERT_EQ(results[0].size(), 8u);
  // Row 0 of L times column 0 of R, plus row 0 of L times a.
  EXPECT_DOUBLE_EQ(results[0][0],
                   (-1 * 2 + -0.75 * 1 + -0.5 * 0 + -0.25 * -1) + (-1 * 1 + -0.75 * -2 + -0.5 * 3 + -0.25 * 0.5));
}

TEST(GxlLowerIntrinsic, ExpansionsTakeTheirShapes) {
  struct Shape {
    const char* body;
    std::vector<std::uint32_t> groups;  // the groups emitted, in order
    std::uint32_t caps = 0;
  };
  const Shape kShapes[] = {
      {"return abs(a.x);", {kOpNegate, kOpMax}},
      {"return floor(a.x);", {kOpFraction, kOpNegate, kOpAdd}},
      {"return ceil(a.x);", {kOpNegate, kOpFraction, kOpAdd}},
      {"return round(a.x);", {kOpAdd, kOpFraction, kOpNegate, kOpAdd}},
      {"return length(a.x);", {kOpNegate, kOpMax}},
      {"return length(a.xy);", {kOpMultiply, kOpMultiply, kOpAdd, kOpRsq, kOpReciprocal}},
      {"return normalize(a.x);", {kOpNegate, kOpLess, kOpLess, kOpNegate, kOpAdd}},
      {"return all(a.xyz);", {kOpMultiply, kOpMultiply, kOpMultiply, kOpNegate, kOpLess}},
      {"return all(a);", {kOpMultiply, kOpNegate, kOpGreaterEqual, kOpDot, kOpNegate, kOpGreaterEqual}},
      {"return lit(a.x, a.y, a.z);", {kOpLit}, 0x40},
      // The initialisation of m alone: transpose renames.
      {"float4x4 m = float4x4(a, b, c, a); return transpose(m)[1];", {kOpMove}},
      // Unused, but both outputs are stored.
      {"float4 s, k; sincos(a, s, k); return a;", {kOpSin, kOpCos, kOpMove, kOpMove}, 0x200},
      {"return D3DCOLORtoUBYTE4(a);", {kOpMultiply}},
  };
  for (const Shape& shape : kShapes) {
    LowerRun run(Program(shape.body), "main", TargetLimits(shape.caps, 0, 0, 0, 0), kOptionNoOptimisation);
    ASSERT_EQ(run.hr, S_OK) << shape.body << "\n" << run.log;
    std::vector<std::uint32_t> groups;
    // After o = 0, before the return's store and the moves into the two outputs.
    for (std::uint32_t i = 1; i + 3 < run.program->instructions.Count(); ++i)
      groups.push_back(run.program->Instruction(i)->Group());
    EXPECT_EQ(groups, shape.groups) << shape.body;
  }
  // abs gives a value known not to be negative.
  LowerRun abs(Program("return abs(a.x);"), "main", kTargets[0]);
  const IrInstruction* max = abs.program->Instruction(2);
  ASSERT_EQ(max->Group(), kOpMax);
  EXPECT_TRUE(abs.program->Value(max->results[0])->flags & kValueNonNegative);
  // mul of a matrix whose rows each lie in a register by a vector: four dot products of four pairs.
  LowerRun rows(Program("return mul(M, a);", "uniform row_major float4x4 M;"), "main", kTargets[0]);
  ASSERT_EQ(rows.hr, S_OK) << rows.log;
  EXPECT_EQ(rows.Count(kOpDot), 4u);
  for (std::uint32_t i = 0; i < rows.program->instructions.Count(); ++i)
    if (rows.program->Instruction(i)->Group() == kOpDot) {
      EXPECT_EQ(rows.program->Instruction(i)->Width(), 4u);
    }
}

// The values the expansions give at their edges.
TEST(GxlLowerIntrinsic, EdgeValues) {
  struct Edge {
    const char* body;
    std::vector<double> want;  // both outputs
    std::uint32_t caps = 0;
  };
  const double inf = INFINITY;
  const Edge kEdges[] = {
      {"float4 i; float4 f = modf(float4(-1.5, 2.25, -3, 0), i); o = i; return f;", {-0.5, 0.25, 0, 0, -1, 2, -3, 0}},
      {"float4 e; float4 m = frexp(float4(8, 0, -3, 0.375), e); o = e; return m;", {1, 0, -0.75, 0.75, 3, 0, 2, -1}},
      {"return float4(isfinite(a.x), isinf(a.x), isnan(a.x), isfinite(1.0));", {1, 0, 0, 1, 0, 0, 0, 0}},
      {"return float4(isfinite(a.x / b.x), isinf(a.x / b.x), isnan(b.x / b.x), isnan(a.x));", {0, 1, 1, 0, 0, 0, 0, 0}},
      {"return float4(isfinite(a.x / b.x), isinf(a.x / b.x), isnan(b.x / b.x), 0);",
       {1, 0, 0, 0, 0, 0, 0, 0},
       0x100000},
      {"return float4(sign(float3(-2, 0, 3)), normalize(-0.5));", {-1, 0, 1, -1, 0, 0, 0, 0}},
      {"return lit(-1, 2, 3) + lit(0.5, 2, 3) + lit(0.5, -1, 3);", {3, 1, 8, 3, 0, 0, 0, 0}},
  };
  for (const Edge& e : kEdges) {
    LowerRun run(Program(e.body), "main", TargetLimits(e.caps, 0, 0, 0, 0));
    ASSERT_EQ(run.hr, S_OK) << e.body << "\n" << run.log;
    const std::vector<double> got = run.Run({{"a", {1.5, 0, 0, 0}}, {"b", {0, 0, 0, 0}}, {"c", {0, 0, 0, 0}}});
    EXPECT_EQ(got, e.want) << e.body;
  }
  (void)inf;
  // A range bounded on one side is no NaN: the literal false, no test used.
  LowerRun nan(Program("return isnan(saturate(a.x)) + isfinite(saturate(a.y));"), "main", kTargets[0]);
  ASSERT_EQ(nan.hr, S_OK) << nan.log;
  EXPECT_EQ(nan.Run({{"a", {0.5, 0.5, 0, 0}}}), (std::vector<double>{1, 1, 1, 1, 0, 0, 0, 0}));
  // clip discards where a component is negative, with or without other code.
  for (const double x : {-0.5, 0.5}) {
    LowerRun clip(Program("clip(a.xy); return b;"), "main", kTargets[0]);
    ASSERT_EQ(clip.hr, S_OK) << clip.log;
    bool discarded = false;
    clip.Run({{"a", {1, x, 0, 0}}, {"b", {0, 0, 0, 0}}}, &discarded);
    EXPECT_EQ(discarded, x < 0);
  }
}

// tex1D on a coordinate that is the first component of a one-component input
// is a dependent read: a warning, and the sample all the same.
TEST(GxlLowerIntrinsic, Tex1DOfAOneComponentInputWarns) {
  for (const bool wide : {false, true}) {
    const std::string input = wide ? "float2 t : TEXCOORD0" : "float t : TEXCOORD0";
    LowerRun run("sampler1D s; float4 main(" + input + ") : COLOR { return tex1D(s, t.x); }", "main", kTargets[0]);
    ASSERT_EQ(run.hr, S_OK) << run.log;
    EXPECT_EQ(run.Logged("(1): warning X3509: tex1D will considered dependent since texcoord was not declared as at "
                         "least float2"),
              !wide)
        << run.log;
    EXPECT_EQ(run.Count(0x600), 1u);
  }
}

}  // namespace
}  // namespace compilertest

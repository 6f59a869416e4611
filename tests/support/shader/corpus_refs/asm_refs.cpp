// The corpus's assembly programs in C++, written from their instructions.
// Inputs and constants go by register; every register an input range does not
// name reads [0, 1].
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "tests/support/shader/corpus_refs/corpus_refs.h"

namespace corpusref::assembly {
namespace {

using Row = std::vector<double>;

// Constant register n, from the value list that starts at or below it.
V4 C(const Values& u, int n) {
  for (int first = n; first >= 0; --first) {
    const auto found = u.find("c" + std::to_string(first));
    if (found == u.end()) continue;
    const std::size_t at = static_cast<std::size_t>(n - first) * 4;
    const Row& values = found->second;
    if (at + 4 > values.size()) break;
    return {values[at], values[at + 1], values[at + 2], values[at + 3]};
  }
  throw std::out_of_range("c" + std::to_string(n));
}
double Dot3(const V4& a, const V4& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Dot4(const V4& a, const V4& b) { return Dot3(a, b) + a[3] * b[3]; }
V4 Sub(const V4& a, const V4& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2], a[3] - b[3]}; }
// m3x3 and m4x4: dot products with consecutive constant registers.
V4 M3x3(const V4& v, const Values& u, int c) {
  return {Dot3(v, C(u, c)), Dot3(v, C(u, c + 1)), Dot3(v, C(u, c + 2)), 0};
}
V4 M4x4(const V4& v, const Values& u, int c) {
  return {Dot4(v, C(u, c)), Dot4(v, C(u, c + 1)), Dot4(v, C(u, c + 2)), Dot4(v, C(u, c + 3))};
}
// dp3 r.w, r, r; rsq r.w, r.w; mul r, r, r.w: the xyz direction.
V4 Normalized3(const V4& v) {
  const double scale = 1 / std::sqrt(Dot3(v, v));
  return {v[0] * scale, v[1] * scale, v[2] * scale, 0};
}
double Sat(double x) { return std::min(std::max(x, 0.0), 1.0); }
V4 Bx2(const V4& v) { return {2 * v[0] - 1, 2 * v[1] - 1, 2 * v[2] - 1, 2 * v[3] - 1}; }
Row All(const V4& v) { return {v[0], v[1], v[2], v[3]}; }
Row Half(const V4& v) { return {v[0] * 0.5 + 0.5, v[1] * 0.5 + 0.5, v[2] * 0.5 + 0.5}; }
V4 Sample(const char* sampler, const V4& coordinate) { return Texel(sampler, coordinate[0], coordinate[1]); }

// Tangent-space lighting shared by the normal and parallax map vertex
// programs: the position through c8-c11, the tangent frame through c0-c2, two
// lights at c12 and c14 with their colours at c13 and c15.
struct Frame {
  V4 tangent, binormal, normal, world;
  Frame(const Inputs& in, const Values& u)
      : tangent(M3x3(in.at("v4"), u, 0)),
        binormal(M3x3(in.at("v5"), u, 0)),
        normal(M3x3(in.at("v1"), u, 0)),
        world(M4x4(in.at("v0"), u, 0)) {}
  V4 ToTangentSpace(const V4& v) const { return {Dot3(tangent, v), Dot3(binormal, v), Dot3(normal, v), 0}; }
};

// The attenuation scales the squared distance by the colour's w.
Outputs TangentLights(const Inputs& in, const Values& u, const Frame& f) {
  const V4 light1 = Sub(C(u, 12), f.world), light2 = Sub(C(u, 14), f.world);
  const double d1 = Dot3(light1, light1), d2 = Dot3(light2, light2);
  const double a1 = 1 / std::sqrt(std::fabs(d1 * C(u, 13)[3])), a2 = 1 / std::sqrt(std::fabs(d2 * C(u, 15)[3]));
  const V4 color1 = C(u, 13), color2 = C(u, 15), uv = in.at("v3");
  return {{"oPos", All(M4x4(in.at("v0"), u, 8))},
          {"oT0", {uv[0], uv[1]}},
          {"oT1", {uv[0], uv[1]}},
          {"oT2", Half(Normalized3(f.ToTangentSpace(light1)))},
          {"oT3", Half(Normalized3(f.ToTangentSpace(light2)))},
          {"oD0", {a1 * color1[0], a1 * color1[1], a1 * color1[2], in.at("v2")[3]}},
          {"oD1", All({a2 * color2[0], a2 * color2[1], a2 * color2[2], a2 * color2[3]})}};
}

// Two lights through the normal map at stage 1 on the colour at stage 0:
// (n . l1) v0 + (n . l2) v1, times the colour, with v0's alpha.
Row Lit(const V4& color, double l1, double l2, const Inputs& in) {
  const V4 &v0 = in.at("v0"), &v1 = in.at("v1");
  Row out(4);
  for (int i = 0; i < 3; ++i) out[i] = color[i] * (l1 * v0[i] + l2 * v1[i]);
  out[3] = v0[3];
  return out;
}

}  // namespace

// d3d9.vsh and d3d8.vsh: per-vertex diffuse light.
Outputs IrrlichtVertex(const Inputs& in, const Values& u) {
  const V4 &p = in.at("v0"), &n = in.at("v1");
  V4 position = C(u, 7);
  for (int row = 0; row < 3; ++row)
    for (int i = 0; i < 4; ++i) position[i] += p[row] * C(u, 4 + row)[i];
  const V4 normal = Normalized3({Dot3(n, C(u, 0)), Dot3(n, C(u, 1)), Dot3(n, C(u, 2)), 0});
  const V4 light = Normalized3(Sub(C(u, 8), M4x4(p, u, 10)));
  const double diffuse = std::max(Dot3(normal, light), 0.0);
  const V4 color = C(u, 9);
  return {{"oPos", All(position)},
          {"oD0", {diffuse * color[0], diffuse * color[1], diffuse * color[2], diffuse * color[3]}},
          {"oT0", All(in.at("v3"))}};
}

Outputs NormalMapVertex(const Inputs& in, const Values& u) { return TangentLights(in, u, Frame(in, u)); }

// As the normal map, with the eye vector (eye at c4) in oT4, its x flipped.
Outputs ParallaxMapVertex(const Inputs& in, const Values& u) {
  const Frame f(in, u);
  Outputs o = TangentLights(in, u, f);
  V4 eye = Normalized3(f.ToTangentSpace(Sub(f.world, C(u, 4))));
  eye[0] = -eye[0];
  o["oT4"] = Half(eye);
  return o;
}

// d3d9.psh and d3d8.psh: the texture times the colour, four times over.
Outputs IrrlichtPixel(const Inputs& in, const Values&) {
  const V4 t = Sample("s0", in.at("t0")), &c = in.at("v0");
  return {{"oC0", {4 * t[0] * c[0], 4 * t[1] * c[1], 4 * t[2] * c[2], 4 * t[3] * c[3]}}};
}

// Light vectors arrive in t2 and t3 packed into [0, 1].
Outputs NormalMapPixel11(const Inputs& in, const Values&) {
  const V4 normal = Bx2(Sample("s1", in.at("t1")));
  const double l1 = Sat(Dot3(normal, Bx2(in.at("t2")))), l2 = Sat(Dot3(normal, Bx2(in.at("t3"))));
  return {{"oC0", Lit(Sample("s0", in.at("t0")), l1, l2, in)}};
}

Outputs NormalMapPixel20(const Inputs& in, const Values&) {
  const V4 half{0.5, 0.5, 0.5, 0.5};
  const V4 normal = Normalized3(Sub(Sample("s1", in.at("t0")), half));
  const double l1 = std::max(Dot3(Normalized3(Sub(in.at("t2"), half)), normal), 0.0);
  const double l2 = std::max(Dot3(Normalized3(Sub(in.at("t3"), half)), normal), 0.0);
  return {{"oC0", Lit(Sample("s0", in.at("t0")), l1, l2, in)}};
}

// The height in the normal map's alpha shifts the coordinate along the eye
// vector (t4) by the scale in c6; 1.4 reads the height and the normal's z
// through _bx2, 2.0 the height as it stands.
Outputs ParallaxMapPixel14(const Inputs& in, const Values& u) {
  const V4 bump = Bx2(Sample("s1", in.at("t1"))), eye = Bx2(in.at("t4")), &t0 = in.at("t0"), scale = C(u, 6);
  V4 shifted{};
  for (int i = 0; i < 3; ++i) shifted[i] = bump[3] * bump[2] * scale[i] * eye[i] + t0[i];
  const V4 normal = Bx2(Sample("s1", shifted));
  const double l1 = Sat(Dot3(normal, Bx2(in.at("t2")))), l2 = Sat(Dot3(normal, Bx2(in.at("t3"))));
  return {{"oC0", Lit(Sample("s0", shifted), l1, l2, in)}};
}

Outputs ParallaxMapPixel20(const Inputs& in, const Values& u) {
  const V4 bump = Sample("s1", in.at("t1")), eye = Bx2(in.at("t4")), &t0 = in.at("t0"), scale = C(u, 6);
  V4 shifted{};
  for (int i = 0; i < 2; ++i) shifted[i] = bump[3] * scale[i] * eye[i] + t0[i];
  const V4 normal = Bx2(Sample("s1", shifted));
  const double l1 = Sat(Dot3(normal, Bx2(in.at("t2")))), l2 = Sat(Dot3(normal, Bx2(in.at("t3"))));
  return {{"oC0", Lit(Sample("s0", shifted), l1, l2, in)}};
}

}  // namespace corpusref::assembly

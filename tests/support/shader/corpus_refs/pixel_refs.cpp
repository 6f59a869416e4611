// The corpus's pixel functions in C++, written from their sources. Each
// returns COLOR0.
#include <algorithm>
#include <cmath>
#include <string>

#include "tests/support/shader/corpus_refs/corpus_refs.h"

namespace corpusref {

V4 Texel(const std::string& sampler, double u, double v) {
  unsigned hash = 0;
  for (const char c : sampler) hash = hash * 31 + static_cast<unsigned char>(c);
  const double k = hash % 7;
  return {0.5 + 0.4 * std::sin(1.3 * u + k), 0.5 + 0.4 * std::cos(0.7 * v - k),
          0.5 + 0.4 * std::sin(0.9 * (u + v) + 0.5 * k), 0.75 - 0.05 * k};
}

namespace pixel {
namespace {

V4 Mul(const V4& a, const V4& b) { return {a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]}; }
double Dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Lerp(double a, double b, double t) { return a + (b - a) * t; }
double Clamp01(double x) { return std::min(std::max(x, 0.0), 1.0); }
double Frac(double x) { return x - std::floor(x); }
Outputs Color(const V4& c) { return {{"COLOR0", {c[0], c[1], c[2], c[3]}}}; }
V4 Sample(const char* sampler, const V4& t, int first = 0) { return Texel(sampler, t[first], t[first + 1]); }
V4 Texcoord(const Inputs& in, int i) { return in.at("TEXCOORD" + std::to_string(i)); }

}  // namespace

Outputs AllegroShader(const Inputs& in, const Values& u) {
  V4 c = Sample("s", Texcoord(in, 0));
  for (int i = 0; i < 3; ++i) c[i] *= u.at("tint")[i];
  return Color(c);
}

Outputs AllegroMultitex(const Inputs& in, const Values&) {
  const V4 t = Texcoord(in, 0);
  return Color(Mul(Texel("s2", Frac(t[0] * 100), Frac(t[1] * 100)), Sample("s1", t)));
}

Outputs AllegroWrap(const Inputs& in, const Values&) {
  const V4 t = Texcoord(in, 0);
  return Color(Mul(Sample("s1", t), Sample("s2", t)));
}

Outputs AllegroPrim(const Inputs& in, const Values& u) {
  const V4 position = Texcoord(in, 0), normal = Texcoord(in, 1);
  const std::vector<double>&light = u.at("light_position"), &diffuse = u.at("diffuse_color");
  const double alpha = u.at("alpha")[0];
  double lv[3], ld[3], n[3];
  for (int i = 0; i < 3; ++i) lv[i] = light[i] - position[i];
  const double ll = std::sqrt(Dot3(lv, lv)), nl = std::sqrt(Dot3(normal.data(), normal.data()));
  for (int i = 0; i < 3; ++i) ld[i] = lv[i] / ll, n[i] = normal[i] / nl;
  const double reflectance = std::max(Dot3(ld, n), 0.0);
  const double specular = std::pow(std::max(0.0, 2 * reflectance * n[2] - ld[2]), alpha);
  const double diffuseIntensity = reflectance * 10000.0 / Dot3(lv, lv);
  V4 c;
  for (int i = 0; i < 4; ++i) c[i] = 0.01 + diffuse[i] * diffuseIntensity + specular;
  return Color(c);
}

Outputs AllegroHigh(const Inputs& in, const Values&) {
  const V4 t = Texcoord(in, 0);
  return Color({Frac(t[0] / 32), Frac(t[1] / 32), 0, 1});
}

Outputs PrimaryScreen(const Inputs& in, const Values&) { return Color(Sample("DiffuseSampler", Texcoord(in, 0))); }

Outputs PrimaryVectorBuffer(const Inputs& in, const Values&) {
  const V4& c = in.at("COLOR0");
  return Color(Mul(Sample("DiffuseSampler", Texcoord(in, 0)), {c[0] + 1, c[1] + 1, c[2] + 1, c[3]}));
}

Outputs PrimaryUi(const Inputs& in, const Values&) {
  return Color(Mul(Sample("DiffuseSampler", Texcoord(in, 0)), in.at("COLOR0")));
}

Outputs Vector(const Inputs& in, const Values& u) {
  const std::vector<double>&time = u.at("TimeParams"), &length = u.at("LengthParams");
  const double x = Texcoord(in, 1)[0];
  const double timeModulate = Lerp(1.0, time[0], time[1]);
  double lm = 1.0 - Clamp01(x / length[2]);
  const double minLength = 2.0 - std::min(std::max(x - 1.0, 0.0), 2.0);
  lm = Lerp(lm, 2.0, minLength * 0.5);
  lm = Lerp(1.0, timeModulate * lm, length[1]);
  return Color(Mul(in.at("COLOR0"), {lm, lm, lm, 1}));
}

Outputs Focus(const Inputs& in, const Values&) {
  V4 d[8];
  for (int i = 0; i < 8; ++i) d[i] = Sample("DiffuseSampler", Texcoord(in, i));
  V4 out;
  for (int c = 0; c < 3; ++c) {
    double sum = 0;
    for (int i = 0; i < 8; ++i) sum += d[i][c];
    out[c] = Lerp(d[0][c], sum / 8.0, 1.0);
  }
  out[3] = d[0][3];
  return Color(out);
}

// The loop over the three primaries, unrolled.
Outputs Chroma(const Inputs& in, const Values& u) {
  static const double kXyzToRgb[3][3] = {
      {3.2406, -1.5372, -0.4986}, {-0.9689, 1.8758, 0.0415}, {0.0557, -0.2040, 1.0570}};
  const std::vector<double>& gain = u.at("YGain");
  const std::vector<double>* chroma[3] = {&u.at("ChromaA"), &u.at("ChromaB"), &u.at("ChromaC")};
  const V4 c = Sample("DiffuseSampler", Texcoord(in, 0));
  V4 out{0, 0, 0, c[3]};
  for (int i = 0; i < 3; ++i) {
    const double x = (*chroma[i])[0], y = (*chroma[i])[1];
    const double luma = gain[i] * c[i];
    const double xyz[3] = {x * (luma / y), luma, (1.0 - x - y) * (luma / y)};
    for (int r = 0; r < 3; ++r) out[r] += Dot3(kXyzToRgb[r], xyz);
  }
  return Color(out);
}

// Mode 0 clears the previous frame, 1 decays it exponentially, others by a
// power law; the bool arrives as 0 or 1.
Outputs Phosphor(const Inputs& in, const Values& u) {
  const V4 curr = Sample("DiffuseSampler", Texcoord(in, 0)), prev = Sample("PreviousSampler", Texcoord(in, 1));
  if (u.at("Passthrough")[0] != 0) return Color(curr);
  const double mode = u.at("Mode")[0], delta = u.at("DeltaTime")[0];
  const std::vector<double>&tau = u.at("Tau"), &beta = u.at("Beta"), &gamma = u.at("Gamma");
  V4 out{0, 0, 0, curr[3]};
  for (int c = 0; c < 3; ++c) {
    double x = prev[c];
    if (mode == 0)
      x = 0;
    else if (mode == 1)
      x *= std::exp(-delta / tau[c]);
    else if (x != 0.0)
      x = std::pow(gamma[c] * delta + std::pow(1 / x, 1 / beta[c]), -beta[c]);
    out[c] = std::max(curr[c], x);
  }
  return Color(out);
}

Outputs Ghosting(const Inputs& in, const Values& u) {
  const V4 curr = Sample("DiffuseSampler", Texcoord(in, 0)), prev = Sample("PreviousSampler", Texcoord(in, 1));
  if (u.at("Passthrough")[0] != 0) return Color(curr);
  const double delta = u.at("DeltaTime")[0];
  const std::vector<double>&rise = u.at("LCDRise"), &fall = u.at("LCDFall");
  V4 out{0, 0, 0, curr[3]};
  for (int c = 0; c < 3; ++c) {
    const double x = prev[c];
    const bool rising = curr[c] > x;
    const double t = (rising ? rise[c] : fall[c]) * 0.159154943;
    out[c] = t == 0   ? curr[c]
             : rising ? (curr[c] - x) * (1 - std::exp(-delta / t)) + x
                      : (x - curr[c]) * std::exp(-delta / t) + curr[c];
  }
  return Color(out);
}

Outputs Irrlicht(const Inputs& in, const Values&) {
  V4 c = Mul(in.at("COLOR0"), Sample("myTexture", Texcoord(in, 0)));
  for (double& x : c) x *= 4.0;
  return Color(c);
}

// The noise it adds scales with exp(-8 bloom): with every level weighted
// so that the bloom sum is at least 2, the noise is below 1e-7 of it and the
// reference leaves it out.
Outputs Bloom(const Inputs& in, const Values& u) {
  const std::vector<double>&w0123 = u.at("Level0123Weight"), &w4567 = u.at("Level4567Weight"),
        &w89a = u.at("Level89AWeight");
  const double weights[11] = {w0123[0], w0123[1], w0123[2], w0123[3], w4567[0], w4567[1],
                              w4567[2], w4567[3], w89a[0],  w89a[1],  w89a[2]};
  const char* samplers[11] = {"DiffuseSampler0", "DiffuseSampler1", "DiffuseSampler2", "DiffuseSampler3",
                              "DiffuseSampler4", "DiffuseSampler5", "DiffuseSampler6", "DiffuseSampler7",
                              "DiffuseSampler8", "DiffuseSampler9", "DiffuseSamplerA"};
  V4 out{0, 0, 0, 1};
  for (int level = 0; level < 11; ++level) {
    const V4 t = Sample(samplers[level], Texcoord(in, level / 2), level % 2 * 2);
    for (int c = 0; c < 3; ++c) out[c] += t[c] * weights[level];
  }
  return Color(out);
}

}  // namespace pixel
}  // namespace corpusref

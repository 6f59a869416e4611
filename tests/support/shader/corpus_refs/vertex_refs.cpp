// The corpus's vertex functions in C++, written from their sources.
#include <algorithm>
#include <cmath>
#include <string>

#include "tests/support/shader/corpus_refs/corpus_refs.h"

namespace corpusref::vertex {
namespace {

using Column = std::vector<double>;

V4 RowTimesMatrix(const V4& v, const Column& m) {
  V4 out{};
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) out[c] += v[r] * m[r * 4 + c];
  return out;
}
V4 MatrixTimesColumn(const Column& m, const V4& v) {
  V4 out{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out[r] += m[r * 4 + c] * v[c];
  return out;
}
Column Normalized3(const Column& v) {
  const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  return {v[0] / length, v[1] / length, v[2] / length};
}
Column All(const V4& v) { return {v[0], v[1], v[2], v[3]}; }
Column Two(const V4& v) { return {v[0], v[1]}; }

Outputs Projected(const Inputs& in, const Values& u) {
  return {{"POSITION0", All(RowTimesMatrix(in.at("POSITION0"), u.at("al_projview_matrix")))}};
}

// The mame position: the screen's pixel coordinates to clip space.
Column ScreenPosition(const V4& p, const Values& u) {
  const Column& dims = u.at("ScreenDims");
  return {(p[0] / dims[0] - 0.5) * 2, ((1 - p[1] / dims[1]) - 0.5) * 2, p[2], 1};
}
Column HalfTexel(const V4& uv, const Column& dims) { return {uv[0] + 0.5 / dims[0], uv[1] + 0.5 / dims[1]}; }
V4 OnScreen(const V4& p, const Values& u) {
  const Column& s = u.at("ScreenDims");
  return {p[0] / s[0], p[1] / s[1], 0, 0};
}

}  // namespace

Outputs Irrlicht(const Inputs& in, const Values& u) {
  const V4 position = in.at("POSITION0");
  const V4& n = in.at("NORMAL0");
  const V4 normal4 = RowTimesMatrix({n[0], n[1], n[2], 0}, u.at("mInvWorld"));
  const Column normal = Normalized3({normal4[0], normal4[1], normal4[2]});
  const V4 world = MatrixTimesColumn(u.at("mTransWorld"), position);
  const Column& light = u.at("mLightPos");
  const Column toLight = Normalized3({world[0] - light[0], world[1] - light[1], world[2] - light[2]});
  const double d = -(toLight[0] * normal[0] + toLight[1] * normal[1] + toLight[2] * normal[2]);
  const double lit = std::max(d, 0.0);
  const Column& color = u.at("mLightColor");
  return {{"POSITION0", All(RowTimesMatrix(position, u.at("mWorldViewProj")))},
          {"COLOR0", {color[0] * lit, color[1] * lit, color[2] * lit, 0}},
          {"TEXCOORD0", Two(in.at("TEXCOORD0"))}};
}

Outputs AllegroHigh(const Inputs& in, const Values& u) {
  Outputs o = Projected(in, u);
  o["TEXCOORD0"] = Two(in.at("TEXCOORD0"));
  return o;
}

Outputs AllegroPrim(const Inputs& in, const Values& u) {
  Outputs o = Projected(in, u);
  const V4 &p = in.at("POSITION0"), &n = in.at("TEXCOORD2");
  o["TEXCOORD0"] = {p[0], p[1], p[2]};
  o["TEXCOORD1"] = {n[0], n[1], n[2]};
  return o;
}

Outputs AllegroShader(const Inputs& in, const Values& u) {
  Outputs o = Projected(in, u);
  o["COLOR0"] = All(in.at("TEXCOORD1"));
  o["TEXCOORD0"] = Two(in.at("TEXCOORD0"));
  return o;
}

// The texture coordinate from the screen position, half a texel on.
Outputs PrimaryScreen(const Inputs& in, const Values& u) {
  const V4& p = in.at("POSITION0");
  return {{"POSITION0", ScreenPosition(p, u)},
          {"TEXCOORD0", HalfTexel(OnScreen(p, u), u.at("TargetDims"))},
          {"COLOR0", All(in.at("COLOR0"))}};
}

Outputs PrimaryUi(const Inputs& in, const Values& u) {
  return {{"POSITION0", ScreenPosition(in.at("POSITION0"), u)},
          {"TEXCOORD0", Two(in.at("TEXCOORD0"))},
          {"COLOR0", All(in.at("COLOR0"))}};
}

// phosphor, chroma and ghosting: the texture coordinate, half a texel on,
// also as the previous frame's.
Outputs WithPreviousCoordinate(const Inputs& in, const Values& u) {
  const Column uv = HalfTexel(in.at("TEXCOORD0"), u.at("TargetDims"));
  return {{"POSITION0", ScreenPosition(in.at("POSITION0"), u)},
          {"TEXCOORD0", uv},
          {"TEXCOORD1", uv},
          {"COLOR0", All(in.at("COLOR0"))}};
}

Outputs Focus(const Inputs& in, const Values& u) {
  static const double kOffsets[8][2] = {{0, 0},     {-0.2, -0.6}, {0.4, -0.4}, {0.6, 0.2},
                                        {0.2, 0.6}, {-0.4, 0.6},  {-0.6, 0.2}, {-0.6, -0.4}};
  const Column uv = HalfTexel(in.at("TEXCOORD0"), u.at("TargetDims"));
  const Column &dims = u.at("TargetDims"), &defocus = u.at("Defocus");
  Outputs o{{"POSITION0", ScreenPosition(in.at("POSITION0"), u)}, {"COLOR0", All(in.at("COLOR0"))}};
  for (int k = 0; k < 8; ++k)
    o["TEXCOORD" + std::to_string(k)] = {uv[0] + kOffsets[k][0] * (1 / dims[0]) * defocus[0],
                                         uv[1] + kOffsets[k][1] * (1 / dims[1]) * defocus[1]};
  return o;
}

Outputs Vector(const Inputs& in, const Values& u) {
  const V4& p = in.at("POSITION0");
  return {{"POSITION0", ScreenPosition(p, u)},
          {"TEXCOORD0", Two(OnScreen(p, u))},
          {"COLOR0", All(in.at("COLOR0"))},
          {"TEXCOORD1", Two(in.at("TEXCOORD1"))}};
}

Outputs Ntsc(const Inputs& in, const Values& u) {
  const Column uv = HalfTexel(in.at("TEXCOORD0"), u.at("SourceDims"));
  return {{"POSITION0", ScreenPosition(in.at("POSITION0"), u)}, {"TEXCOORD0", {uv[0], uv[1], 0, 0}}};
}

// Half a texel of each level's size on from the screen coordinate.
Outputs Bloom(const Inputs& in, const Values& u) {
  const V4& p = in.at("POSITION0");
  const Column uv = HalfTexel(OnScreen(p, u), u.at("TargetDims"));
  auto offset = [&](const char* name, int k) { return uv[k % 2] + 0.5 / u.at(name)[k]; };
  Outputs o{{"POSITION0", ScreenPosition(p, u)}, {"COLOR0", All(in.at("COLOR0"))}};
  o["TEXCOORD0"] = {uv[0], uv[1], offset("Level01Size", 2), offset("Level01Size", 3)};
  const char* levels[] = {"Level23Size", "Level45Size", "Level67Size", "Level89Size"};
  for (int n = 0; n < 4; ++n)
    o["TEXCOORD" + std::to_string(n + 1)] = {offset(levels[n], 0), offset(levels[n], 1), offset(levels[n], 2),
                                             offset(levels[n], 3)};
  o["TEXCOORD5"] = {offset("LevelASize", 0), offset("LevelASize", 1)};
  return o;
}

// The bools arrive as 0 or 1.
Outputs Post(const Inputs& in, const Values& u) {
  const V4 &p = in.at("POSITION0"), &uv = in.at("TEXCOORD0");
  const Column& shadow = u.at("ShadowUVOffset");
  const bool swap = u.at("SwapXY")[0] != 0, vector = u.at("PrepareVector")[0] != 0;
  const double sx = swap ? shadow[1] : shadow[0], sy = swap ? shadow[0] : shadow[1];
  return {{"POSITION0", ScreenPosition(p, u)},
          {"TEXCOORD0", HalfTexel(vector ? OnScreen(p, u) : uv, u.at("TargetDims"))},
          {"TEXCOORD1", {p[0] + sx, p[1] + sy}},
          {"COLOR0", All(in.at("COLOR0"))}};
}

Outputs Distortion(const Inputs& in, const Values& u) {
  return {{"POSITION0", ScreenPosition(in.at("POSITION0"), u)},
          {"COLOR0", All(in.at("COLOR0"))},
          {"TEXCOORD0", HalfTexel(in.at("TEXCOORD0"), u.at("TargetDims"))}};
}

}  // namespace corpusref::vertex

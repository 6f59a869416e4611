// The ps_1_x half of the interpreter: texture stages and their addressing
// instructions, co-issued pairs, ps_1_4's texld, texcrd and phase, and the
// strict mode that turns what the format leaves undefined into NaN.
#include <cmath>
#include <limits>

#include "tests/support/shader/interp.h"

namespace nura::shtok {
namespace ps = platform::shader;
using ps::Instruction;
using ps::Operand;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// Outside strict mode, the components texcrd does not copy read as texcoord
// fills them: a missing coordinate 0, alpha 1.
constexpr float kUncopiedCoordinate = 0.0f, kUncopiedAlpha = 1.0f;

float Dot3(const Float4& a, const Float4& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
float Clamp01(float x) { return std::fmin(std::fmax(x, 0.0f), 1.0f); }
bool AnyNaN(const Float4& v) { return std::isnan(v[0]) || std::isnan(v[1]) || std::isnan(v[2]) || std::isnan(v[3]); }
bool Same(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// The register an arithmetic instruction of ps_1_x writes: r# or (1_1-1_3) t#.
Float4* Destination(Lane& lane, std::uint32_t tok) {
  const std::uint32_t n = ps::RegisterNumber(tok);
  switch (ps::RegisterType(tok)) {
    case ps::kTemp:
      return n < 32 ? &lane.r[n] : nullptr;
    case ps::kAddr:
      return n < 8 ? &lane.tex[n] : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

struct Interpreter::Ps1Lane {
  Thread th;  // Read and Write take one; ps_1_x has no flow control
  // The dot products of the texm3x2pad / texm3x3pad rows so far.
  float dots[2] = {0, 0};
  int pads = 0, padRows = 0, firstPadStage = 0;
};

bool Interpreter::RunPs1(Lane* lanes, int count, std::string* error) {
  std::vector<Ps1Lane> state(static_cast<std::size_t>(count));
  for (int l = 0; l < count; ++l) state[l].th.lane = l;
  for (std::size_t i = 0; i < m_program.size(); ++i) {
    const Instruction& in = m_program[i];
    switch (in.info->cls) {
      case ps::kTexture:
        if (!Ps1Texture(in, lanes, state.data(), count, error)) return false;
        break;
      case ps::kArith: {
        const Instruction* paired = i + 1 < m_program.size() && m_program[i + 1].coissue ? &m_program[++i] : nullptr;
        for (int l = 0; l < count; ++l)
          if (!Ps1Arithmetic(in, paired, lanes[l], state[l].th, error)) return false;
        break;
      }
      default:
        // Whether phase one's alpha survives the phase is not defined.
        if (in.Op() == ps::kPhase && m_strict)
          for (int l = 0; l < count; ++l)
            for (int r = 0; r < 6; ++r) lanes[l].r[r][3] = kNaN;
        break;
    }
  }
  for (int l = 0; l < count; ++l) lanes[l].oC[0] = lanes[l].r[0];
  return true;
}

bool Interpreter::Evaluate(const Instruction& in, const Lane& lane, const Thread& th, Float4* value,
                           std::uint32_t* produced, std::string* error) const {
  Float4 s[ps::kMaxSources];
  for (int i = 0; i < in.sourceCount; ++i) s[i] = Read(in.src[i], lane, th);
  const std::uint16_t op = in.Op();
  if (op == ps::kBem) {
    const BumpEnv& b = m_bump[ps::RegisterNumber(in.dst.token) & 7];
    *value = Float4(s[0][0] + b.m00 * s[1][0] + b.m10 * s[1][1], s[0][1] + b.m01 * s[1][0] + b.m11 * s[1][1], 0, 0);
    *produced = 0x3;
    return true;
  }
  if (!Compute(op, m_v, s, value, produced)) {
    *error = ErrorAt(in, "not supported by the interpreter");
    return false;
  }
  if (op == ps::kCnd || op == ps::kCmp) {
    // A NaN condition picks a side by accident: the result is as undefined.
    for (int c = 0; c < 4; ++c)
      if (std::isnan(op == ps::kCnd && m_v.minor < 4 ? s[0][3] : s[0][c])) (*value)[c] = kNaN;
  }
  return true;
}

bool Interpreter::Ps1Arithmetic(const Instruction& in, const Instruction* paired, Lane& lane, const Thread& th,
                                std::string* error) {
  Float4 a, b;
  std::uint32_t aMask, bMask;
  if (!Evaluate(in, lane, th, &a, &aMask, error)) return false;
  if (!paired) {
    Write(in, lane, th, a, aMask);
    return true;
  }
  // Both halves of a pair read the registers as they were before it.
  if (!Evaluate(*paired, lane, th, &b, &bMask, error)) return false;
  Lane together = lane;
  Write(in, together, th, a, aMask);
  Write(*paired, together, th, b, bMask);
  if (m_strict) {
    // Whether either half sees the other's result is not defined: what the
    // order changes is NaN.
    Lane firstThen = lane, secondThen = lane;
    Float4 late;
    std::uint32_t lateMask;
    Write(in, firstThen, th, a, aMask);
    if (!Evaluate(*paired, firstThen, th, &late, &lateMask, error)) return false;
    Write(*paired, firstThen, th, late, lateMask);
    Write(*paired, secondThen, th, b, bMask);
    if (!Evaluate(in, secondThen, th, &late, &lateMask, error)) return false;
    Write(in, secondThen, th, late, lateMask);
    for (const Instruction* half : {&in, paired}) {
      Float4* got = Destination(together, half->dst.token);
      if (!got) continue;
      const Float4& x = *Destination(firstThen, half->dst.token);
      const Float4& y = *Destination(secondThen, half->dst.token);
      const std::uint32_t mask = ps::WriteMask(half->dst.token);
      for (int c = 0; c < 4; ++c)
        if ((mask >> c & 1) && (!Same((*got)[c], x[c]) || !Same((*got)[c], y[c]))) (*got)[c] = kNaN;
    }
  }
  lane = together;
  return true;
}

Float4 Interpreter::Lookup(int stage, const Float4& coord, const Float4& ddx, const Float4& ddy, int lane) const {
  SampleRequest request;
  request.sampler = stage;
  request.coord = coord;
  request.ddx = ddx;
  request.ddy = ddy;
  request.lane = lane;
  return m_sampler ? m_sampler(request) : Float4(0, 0, 0, 1);
}

bool Interpreter::Ps1Texture(const Instruction& in, Lane* lanes, Ps1Lane* state, int count, std::string* error) {
  const std::uint16_t op = in.Op();
  const bool ps14 = m_v.minor == 4;
  const int stage = static_cast<int>(ps::RegisterNumber(in.dst.token));
  if (stage >= 8) {
    *error = ErrorAt(in, "no texture stage " + std::to_string(stage));
    return false;
  }
  const std::size_t n = static_cast<std::size_t>(count);
  std::vector<Float4> coord(n), value(n), source(n);
  bool lookup = false, writes = true;
  auto fail = [&](const char* text) {
    *error = ErrorAt(in, text);
    return false;
  };
  for (int l = 0; l < count; ++l) {
    Lane& lane = lanes[l];
    Ps1Lane& st = state[l];
    const Float4 tc = lane.t[stage];
    const Float4 s = in.sourceCount > 0 ? Read(in.src[0], lane, st.th) : Float4();
    source[l] = s;
    // ps_1_4 coordinates: the swizzle picks .xyz or .xyw; _dz and _dw divide.
    const int mod = in.sourceCount > 0 ? ps::SourceModifier(in.src[0].token) : 0;
    const bool divided = mod == ps::kModDz || mod == ps::kModDw;
    const float divisor = mod == ps::kModDz ? s[2] : s[3];
    const Float4 picked =
        divided ? Float4(s[0] / divisor, s[1] / divisor, kUncopiedCoordinate, 0) : Float4(s[0], s[1], s[2], 0);
    switch (op) {
      case ps::kTex:
        coord[l] = ps14 ? picked : tc;
        lookup = true;
        break;
      case ps::kTexCoord:
        if (!ps14) {
          value[l] = Float4(Clamp01(tc[0]), Clamp01(tc[1]), Clamp01(tc[2]), 1);
          break;
        }
        value[l] = picked;
        value[l][3] = kUncopiedAlpha;
        if (m_strict) {
          // Nothing says which components texcrd leaves or whether it clamps.
          for (int c = 0; c < 4; ++c)
            if (c >= (divided ? 2 : 3) || value[l][c] < 0 || value[l][c] > 1) value[l][c] = kNaN;
        }
        break;
      case ps::kTexKill: {
        // 1_1-1_3 test the stage's coordinates, ps_1_4 the register named.
        const Float4 tested =
            ps14 ? Fetch(ps::RegisterType(in.dst.token), ps::RegisterNumber(in.dst.token), lane, st.th) : tc;
        for (int c = 0; c < 3; ++c)
          if (tested[c] < 0) lane.killed = true;
        writes = false;
        break;
      }
      case ps::kTexDepth: {
        const Float4& r5 = lane.r[5];
        lane.oDepth = r5[1] == 0 ? 1.0f : r5[0] / r5[1];
        lane.depthWritten = true;
        writes = false;
        break;
      }
      case ps::kTexBem:
      case ps::kTexBemL: {
        const BumpEnv& b = m_bump[stage];
        coord[l] = Float4(tc[0] + b.m00 * s[0] + b.m10 * s[1], tc[1] + b.m01 * s[0] + b.m11 * s[1], 0, 0);
        lookup = true;
        break;
      }
      case ps::kTexReg2Ar:
        coord[l] = Float4(s[3], s[0], 0, 0);
        lookup = true;
        break;
      case ps::kTexReg2Gb:
        coord[l] = Float4(s[1], s[2], 0, 0);
        lookup = true;
        break;
      case ps::kTexReg2Rgb:
        coord[l] = Float4(s[0], s[1], s[2], 0);
        lookup = true;
        break;
      case ps::kTexDp3: {
        const float d = Dot3(tc, s);
        value[l] = Float4(d, d, d, d);
        break;
      }
      case ps::kTexDp3Tex:
        coord[l] = Float4(Dot3(tc, s), 0, 0, 0);
        lookup = true;
        break;
      case ps::kTexM3x2Pad:
      case ps::kTexM3x3Pad: {
        const int rows = op == ps::kTexM3x2Pad ? 2 : 3;
        if (st.pads == 0) {
          st.padRows = rows;
          st.firstPadStage = stage;
        } else if (st.padRows != rows || st.pads >= rows - 1) {
          return fail("pad row out of its sequence");
        }
        st.dots[st.pads++] = Dot3(tc, s);
        writes = false;
        break;
      }
      case ps::kTexM3x2Tex:
      case ps::kTexM3x2Depth: {
        if (st.padRows != 2 || st.pads != 1) return fail("final row without its texm3x2pad");
        st.pads = 0;
        const float second = Dot3(tc, s);
        if (op == ps::kTexM3x2Tex) {
          coord[l] = Float4(st.dots[0], second, 0, 0);
          lookup = true;
        } else {
          lane.oDepth = second == 0 ? 1.0f : st.dots[0] / second;
          lane.depthWritten = true;
          writes = false;
        }
        break;
      }
      case ps::kTexM3x3Tex:
      case ps::kTexM3x3:
      case ps::kTexM3x3Spec:
      case ps::kTexM3x3VSpec: {
        if (st.padRows != 3 || st.pads != 2) return fail("final row without its two texm3x3pad");
        st.pads = 0;
        const Float4 normal(st.dots[0], st.dots[1], Dot3(tc, s), 0);
        if (op == ps::kTexM3x3) {
          value[l] = Float4(normal[0], normal[1], normal[2], 1);
          break;
        }
        lookup = true;
        if (op == ps::kTexM3x3Tex) {
          coord[l] = normal;
          break;
        }
        if (op == ps::kTexM3x3VSpec && st.firstPadStage + 2 != stage) return fail("rows on stages out of order");
        // Reflection of the eye vector about the normal.
        const Float4 eye = op == ps::kTexM3x3Spec
                               ? Read(in.src[1], lane, st.th)
                               : Float4(lane.t[st.firstPadStage][3], lane.t[st.firstPadStage + 1][3], tc[3], 0);
        const float k = 2 * Dot3(normal, eye) / Dot3(normal, normal);
        coord[l] = Float4(k * normal[0] - eye[0], k * normal[1] - eye[1], k * normal[2] - eye[2], 0);
        break;
      }
      default:
        return fail("not supported by the interpreter");
    }
  }
  if (lookup) {
    for (int l = 0; l < count; ++l) {
      if (AnyNaN(coord[l])) {
        value[l] = Float4(kNaN, kNaN, kNaN, kNaN);
        continue;
      }
      Float4 ddx, ddy;
      QuadGradients(coord.data(), count, l, &ddx, &ddy);
      value[l] = Lookup(stage, coord[l], ddx, ddy, l);
      if (op == ps::kTexBemL) {
        const BumpEnv& b = m_bump[stage];
        const float luminance = source[l][2] * b.lscale + b.loffset;
        for (int c = 0; c < 4; ++c) value[l][c] *= luminance;
      }
    }
  }
  if (writes)
    for (int l = 0; l < count; ++l) Write(in, lanes[l], state[l].th, value[l], 0xF);
  return true;
}

}  // namespace nura::shtok

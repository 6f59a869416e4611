// The hot math operations with the SSE2 set's bodies (what the dispatcher
// chooses on every x86-64 processor), the portable bodies and glm, then the
// ratios SSE2 / portable and SSE2 / glm.
#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <vector>

#include "bench/bench_ratio.h"
#include "gxl/math/math.h"
#include "gxl/math/processor_bodies.h"

namespace {

Matrix4 Sample(float base) {
  Matrix4 m;
  for (int i = 0; i < 16; ++i) m.m[i / 4][i % 4] = base + 0.01f * i;
  m.m[3][3] = 1.0f;
  for (int i = 0; i < 4; ++i) m.m[i][i] += 2.0f;  // invertible
  return m;
}

// What a set runs at a position: its own body, else the portable one.
template <typename Fn>
Fn Body(Fn set, Fn portable) {
  return set ? set : portable;
}
const MathDispatchTable& Sse2() { return MathSse2Set(); }
const MathDispatchTable& Portable() { return MathDefaultTable(); }

// Our row-major matrix read by glm is the transpose, so v x M is glm's M * v.
glm::mat4 AsGlm(const Matrix4& m) { return glm::make_mat4(static_cast<const float*>(m)); }

constexpr int kPoints = 100000;

struct Points {
  std::vector<Vec3> in, out;
  Matrix4 m;
  Points() : in(kPoints), out(kPoints) {
    for (int i = 0; i < kPoints; ++i) in[i] = Vec3(0.001f * i, 1.0f - 0.002f * i, 0.5f + 0.0001f * i);
    MatrixPerspectiveFovLH(&m, 0.8f, 1.333f, 1.0f, 100.0f);
  }
};

void TransformPoints(benchmark::State& state, const MathDispatchTable& set) {
  Points p;
  const auto body = Body(set.Vec3TransformPointArray, Portable().Vec3TransformPointArray);
  for (auto _ : state) {
    body(p.out.data(), sizeof(Vec3), p.in.data(), sizeof(Vec3), &p.m, kPoints);
    benchmark::DoNotOptimize(p.out.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
void BM_TransformPoints_Sse2(benchmark::State& s) { TransformPoints(s, Sse2()); }
void BM_TransformPoints_Portable(benchmark::State& s) { TransformPoints(s, Portable()); }
void BM_TransformPoints_Glm(benchmark::State& state) {
  Points p;
  const glm::mat4 g = AsGlm(p.m);
  for (auto _ : state) {
    for (int i = 0; i < kPoints; ++i) {
      const glm::vec4 v = g * glm::vec4(p.in[i].x, p.in[i].y, p.in[i].z, 1.0f);
      const float r = 1.0f / v.w;
      p.out[i] = Vec3(v.x * r, v.y * r, v.z * r);
    }
    benchmark::DoNotOptimize(p.out.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

void Multiply(benchmark::State& state, const MathDispatchTable& set) {
  const Matrix4 a = Sample(0.5f), b = Sample(-0.25f);
  Matrix4 out;
  const auto body = Body(set.MatrixMultiply, Portable().MatrixMultiply);
  for (auto _ : state) {
    body(&out, &a, &b);
    benchmark::DoNotOptimize(out);
  }
}
void BM_MatrixMultiply_Sse2(benchmark::State& s) { Multiply(s, Sse2()); }
void BM_MatrixMultiply_Portable(benchmark::State& s) { Multiply(s, Portable()); }
void BM_MatrixMultiply_Glm(benchmark::State& state) {
  const glm::mat4 a = AsGlm(Sample(0.5f)), b = AsGlm(Sample(-0.25f));
  glm::mat4 out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    out = b * a;  // a first, then b
    benchmark::DoNotOptimize(out);
  }
}

void Inverse(benchmark::State& state, const MathDispatchTable& set) {
  const Matrix4 a = Sample(0.5f);
  Matrix4 out;
  float det;
  const auto body = Body(set.MatrixInverse, Portable().MatrixInverse);
  for (auto _ : state) {
    body(&out, &det, &a);
    benchmark::DoNotOptimize(out);
  }
}
void BM_MatrixInverse_Sse2(benchmark::State& s) { Inverse(s, Sse2()); }
void BM_MatrixInverse_Portable(benchmark::State& s) { Inverse(s, Portable()); }
void BM_MatrixInverse_Glm(benchmark::State& state) {
  const glm::mat4 a = AsGlm(Sample(0.5f));
  glm::mat4 out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    out = glm::inverse(a);
    benchmark::DoNotOptimize(out);
  }
}

// The SSE2 set keeps the portable slerp at its position; its unplaced routine
// is measured beside it. The portable body's time is that of its formula's
// double-precision acos (for atan2) and two sines; glm's slerp is in float.
void Slerp(benchmark::State& state, decltype(MathDispatchTable::QuaternionSlerp) body) {
  const Quaternion a(0.1f, 0.2f, 0.3f, 0.927f), b(-0.5f, 0.1f, 0.7f, 0.5f);
  Quaternion out;
  float t = 0.25f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t);
    body(&out, &a, &b, t);
    benchmark::DoNotOptimize(out);
  }
}
void BM_QuaternionSlerp_Sse2(benchmark::State& s) {
  Slerp(s, Body(Sse2().QuaternionSlerp, Portable().QuaternionSlerp));
}
void BM_QuaternionSlerp_Sse2Unplaced(benchmark::State& s) { Slerp(s, &gxl::math::sse2::QuaternionSlerp); }
void BM_QuaternionSlerp_Portable(benchmark::State& s) { Slerp(s, Portable().QuaternionSlerp); }
void BM_QuaternionSlerp_Glm(benchmark::State& state) {
  const glm::quat a(0.927f, 0.1f, 0.2f, 0.3f), b(0.5f, -0.5f, 0.1f, 0.7f);
  glm::quat out;
  float t = 0.25f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t);
    out = glm::slerp(a, b, t);
    benchmark::DoNotOptimize(out);
  }
}

// Through the public entries: whatever the dispatcher chose here.
void BM_Vec3Normalize(benchmark::State& state) {
  Vec3 v(3.0f, 4.0f, 12.0f), out;
  for (auto _ : state) {
    Vec3Normalize(&out, &v);
    benchmark::DoNotOptimize(out);
  }
}

void BM_FloatToHalfArray(benchmark::State& state) {
  std::vector<float> in(1024);
  std::vector<Float16> out(1024);
  for (int i = 0; i < 1024; ++i) in[i] = 0.37f * i - 100.0f;
  for (auto _ : state) {
    FloatToHalfArray(out.data(), in.data(), 1024);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 1024);
}

BENCHMARK(BM_TransformPoints_Sse2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransformPoints_Portable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransformPoints_Glm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MatrixMultiply_Sse2);
BENCHMARK(BM_MatrixMultiply_Portable);
BENCHMARK(BM_MatrixMultiply_Glm);
BENCHMARK(BM_MatrixInverse_Sse2);
BENCHMARK(BM_MatrixInverse_Portable);
BENCHMARK(BM_MatrixInverse_Glm);
BENCHMARK(BM_QuaternionSlerp_Sse2);
BENCHMARK(BM_QuaternionSlerp_Sse2Unplaced);
BENCHMARK(BM_QuaternionSlerp_Portable);
BENCHMARK(BM_QuaternionSlerp_Glm);
BENCHMARK(BM_Vec3Normalize);
BENCHMARK(BM_FloatToHalfArray);

}  // namespace

int main(int argc, char** argv) {
  return benchratio::RunAndPrintRatios(
      argc, argv,
      {
          {"Vec3TransformPointArray, 10^5 points: SSE2 / portable", "BM_TransformPoints_Sse2",
           "BM_TransformPoints_Portable"},
          {"Vec3TransformPointArray, 10^5 points: SSE2 / glm", "BM_TransformPoints_Sse2", "BM_TransformPoints_Glm",
           1.2},
          {"MatrixMultiply: SSE2 / portable", "BM_MatrixMultiply_Sse2", "BM_MatrixMultiply_Portable"},
          {"MatrixMultiply: SSE2 / glm", "BM_MatrixMultiply_Sse2", "BM_MatrixMultiply_Glm", 1.2},
          {"MatrixInverse: SSE2 / portable", "BM_MatrixInverse_Sse2", "BM_MatrixInverse_Portable"},
          {"MatrixInverse: SSE2 / glm", "BM_MatrixInverse_Sse2", "BM_MatrixInverse_Glm"},
          {"QuaternionSlerp: SSE2 / portable", "BM_QuaternionSlerp_Sse2", "BM_QuaternionSlerp_Portable"},
          {"QuaternionSlerp: SSE2 / glm", "BM_QuaternionSlerp_Sse2", "BM_QuaternionSlerp_Glm"},
          {"QuaternionSlerp, unplaced SSE2 routine / portable", "BM_QuaternionSlerp_Sse2Unplaced",
           "BM_QuaternionSlerp_Portable"},
      });
}

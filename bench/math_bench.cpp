// Hot math operations through their public entries (the bodies chosen for this
// processor).
#include <benchmark/benchmark.h>

#include <vector>

#include "gxl/math/math.h"

namespace {

Matrix4 Sample(float base) {
  Matrix4 m;
  for (int i = 0; i < 16; ++i) m.m[i / 4][i % 4] = base + 0.01f * i;
  m.m[3][3] = 1.0f;
  return m;
}

void BM_MatrixMultiply(benchmark::State& state) {
  const Matrix4 a = Sample(0.5f), b = Sample(-0.25f);
  Matrix4 out;
  for (auto _ : state) {
    MatrixMultiply(&out, &a, &b);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_MatrixMultiply);

void BM_Vec3TransformPointArray(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  std::vector<Vec3> in(count), out(count);
  for (std::uint32_t i = 0; i < count; ++i) in[i] = Vec3(0.1f * i, 1.0f - 0.2f * i, 0.5f);
  Matrix4 m;
  MatrixPerspectiveFovLH(&m, 0.8f, 1.333f, 1.0f, 100.0f);
  for (auto _ : state) {
    Vec3TransformPointArray(out.data(), sizeof(Vec3), in.data(), sizeof(Vec3), &m, count);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Vec3TransformPointArray)->Arg(4)->Arg(64)->Arg(1024);

void BM_Vec3Normalize(benchmark::State& state) {
  Vec3 v(3.0f, 4.0f, 12.0f), out;
  for (auto _ : state) {
    Vec3Normalize(&out, &v);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Vec3Normalize);

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
BENCHMARK(BM_FloatToHalfArray);

}  // namespace

BENCHMARK_MAIN();

// The software rasteriser's speed: the play-scene-like frame of bench/play_frame.h
// in each background mode and instruction set (target: at most 4 ms per frame on
// one core with AVX2), and micro cases for the fast paths and the per-draw cost.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/play_frame.h"
#include "platform/testing.h"

namespace {

const char* const kIsa[] = {"scalar", "sse2", "avx2"};

struct Device {
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  IDirect3DDevice9* dev = playframe::CreateDevice(d3d);
  ~Device() {
    if (dev) dev->Release();
    if (d3d) d3d->Release();
  }
};

bool UseIsa(benchmark::State& state, int index) {
  if (!platform::test::SetD3D9RasterIsa(kIsa[index])) {
    state.SkipWithError("instruction set not available");
    return false;
  }
  return true;
}

void Counters(benchmark::State& state, const platform::test::D3D9RasterStats& before) {
  const platform::test::D3D9RasterStats after = platform::test::D3D9RasterCounters();
  const double iterations = double(state.iterations());
  const double pixels = double(after.pixels - before.pixels) / iterations;
  state.counters["pixels"] = pixels;
  state.counters["draws"] = double(after.draws - before.draws) / iterations;
  state.counters["skipped"] = double(after.skipped - before.skipped) / iterations;
  state.counters["Mpixel/s"] = benchmark::Counter(pixels * iterations / 1e6, benchmark::Counter::kIsRate);
}

// BM_PlayFrame/<mode 1-5>/<isa 0 scalar, 1 sse2, 2 avx2>
void BM_PlayFrame(benchmark::State& state) {
  if (!UseIsa(state, int(state.range(1)))) return;
  Device d;
  playframe::Scene scene;
  if (!d.dev || !scene.Build(d.dev)) {
    state.SkipWithError("cannot build the scene");
    return;
  }
  const int mode = int(state.range(0));
  scene.Draw(mode, 0);  // decodes the sampling copies
  int frame = 0;
  const auto before = platform::test::D3D9RasterCounters();
  for (auto _ : state) scene.Draw(mode, ++frame);
  Counters(state, before);
  scene.Release();
}
BENCHMARK(BM_PlayFrame)->ArgsProduct({{1, 2, 3, 4, 5}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// Micro cases: untextured fill, 1:1 point copy, 1:1 blend, texel corners
// (4-tap), magnified 1.5 times, turned (trilinear, gathers), 500 one-pixel draws.
enum Micro { kFill, kCopy, kBlend, kFraction, kScaled, kTurned, kPixels };

// BM_Micro/<case>/<isa>: one 640 x 480 quad (or 500 one-pixel triangles).
void BM_Micro(benchmark::State& state, Micro kind) {
  if (!UseIsa(state, int(state.range(0)))) return;
  Device d;
  IDirect3DDevice9* dev = d.dev;
  playframe::Ref<IDirect3DTexture9> tex;
  dev->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr);
  for (UINT l = 0; l < tex->GetLevelCount(); ++l) {
    D3DLOCKED_RECT lr;
    D3DSURFACE_DESC desc;
    tex->GetLevelDesc(l, &desc);
    tex->LockRect(l, &lr, nullptr, 0);
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x)
        static_cast<std::uint32_t*>(lr.pBits)[y * lr.Pitch / 4 + x] = (x * 2654435761u ^ y * 40503u) | 0x40000000u;
    tex->UnlockRect(l);
  }
  dev->SetRenderState(D3DRS_LIGHTING, FALSE);
  dev->SetRenderState(D3DRS_ZENABLE, FALSE);
  dev->SetFVF(0x144);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  dev->SetTexture(0, kind == kFill || kind == kPixels ? nullptr : tex.get());
  const bool blend = kind != kFill && kind != kCopy;
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  const DWORD filter = kind == kCopy || kind == kBlend ? D3DTEXF_POINT : D3DTEXF_LINEAR;
  for (D3DSAMPLERSTATETYPE s : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER}) dev->SetSamplerState(0, s, filter);
  const float scale = kind == kScaled ? 1.0f / 1536 : 1.0f / 1024;  // texture units per pixel
  std::vector<playframe::TlVertex> v;
  if (kind == kPixels) {
    for (int i = 0; i < 500; ++i) {
      const float x = float(i % 600), y = float(i / 600 + 10);
      v.insert(v.end(), {{x, y, 0, 1, ~0u, 0, 0}, {x + 1, y, 0, 1, ~0u, 0, 0}, {x, y + 1, 0, 1, ~0u, 0, 0}});
    }
  } else if (kind == kTurned) {
    const float c = 0.9f, s = 0.43589f;
    auto p = [&](float x, float y, float u, float w) {
      return playframe::TlVertex{320 + (x * c - y * s), 240 + (x * s + y * c), 0, 1, 0xFFFFFFFF, u, w};
    };
    v = {p(-400, -300, 0, 0), p(400, -300, 0.78f, 0), p(-400, 300, 0, 0.59f), p(400, 300, 0.78f, 0.59f)};
  } else {
    const float o = kind == kFraction ? 0.0f : -0.5f;
    v = {{o, o, 0, 1, 0xFFFFFFFF, 0, 0},
         {640 + o, o, 0, 1, 0xFFFFFFFF, 640 * scale, 0},
         {o, 480 + o, 0, 1, 0xFFFFFFFF, 0, 480 * scale},
         {640 + o, 480 + o, 0, 1, 0xFFFFFFFF, 640 * scale, 480 * scale}};
  }
  auto draw = [&] {
    dev->BeginScene();
    if (kind == kPixels) {
      for (std::size_t i = 0; i < v.size(); i += 3) dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &v[i], sizeof v[0]);
    } else {
      dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof v[0]);
    }
    dev->EndScene();
  };
  draw();
  const auto before = platform::test::D3D9RasterCounters();
  for (auto _ : state) draw();
  Counters(state, before);
}
BENCHMARK_CAPTURE(BM_Micro, fill, kFill)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Micro, copy, kCopy)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Micro, blend, kBlend)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Micro, corners, kFraction)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Micro, scaled, kScaled)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Micro, turned, kTurned)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Micro, pixels500, kPixels)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // The budgets of the play frame: 4 ms on one core with AVX2, 5 ms with SSE2.
  std::vector<benchratio::Ratio> rows;
  for (int isa : {2, 1})
    for (int mode = 1; mode <= 5; ++mode)
      rows.push_back({std::string("play frame, ").append(kIsa[isa]).append(", mode ").append(std::to_string(mode)),
                      std::string("BM_PlayFrame/").append(std::to_string(mode)).append("/").append(std::to_string(isa)),
                      "", isa == 2 ? 4.0 : 5.0});
  return benchratio::RunAndPrintRatios(argc, argv, rows);
}

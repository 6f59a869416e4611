// The blitter on the transfers that loading pictures repeats most: a box mip
// chain of a 2048 x 2048 A8R8G8B8 image (against stb_image_resize's box filter
// per level) and same-size conversions of A8R8G8B8 to X8R8G8B8 and to R5G6B5
// without dither (against a memcpy of the source bytes). Prints the time
// ratios after the runs.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_ratio.h"
#include "gxl/tex/image_blitter.h"
#include "platform/d3d9_types.h"
#include "tests/support/stb_image_resize.h"

namespace {

constexpr std::uint32_t kSize = 2048;

// Level 0 random, the others written by each run.
struct MipChain {
  std::vector<std::vector<std::uint8_t>> levels;

  MipChain() {
    for (std::uint32_t s = kSize; s; s /= 2) levels.emplace_back(std::size_t{s} * s * 4, 0);
    std::mt19937 rng(7);
    for (auto& b : levels[0]) b = static_cast<std::uint8_t>(rng());
  }
};

ImageRegion Region(std::vector<std::uint8_t>& bytes, std::uint32_t format, std::uint32_t size) {
  ImageRegion r{};
  r.pixels = bytes.data();
  r.format = format;
  r.rowPitch = size * 4;
  r.extent = ImageBox{0, 0, size, size, 0, 1};
  r.box = r.extent;
  return r;
}

void BM_BoxMipChainBlitter(benchmark::State& state) {
  MipChain chain;
  for (auto _ : state) {
    for (std::size_t l = 1; l < chain.levels.size(); ++l) {
      const std::uint32_t size = kSize >> l;
      ImageRegion d = Region(chain.levels[l], D3DFMT_A8R8G8B8, size);
      ImageRegion s = Region(chain.levels[l - 1], D3DFMT_A8R8G8B8, size * 2);
      ImageBlitter blitter;
      if (FAILED(blitter.Run(d, s, FilterFlags::Box))) state.SkipWithError("box halving failed");
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{kSize} * kSize * 4);
}

void BM_BoxMipChainStb(benchmark::State& state) {
  MipChain chain;
  for (auto _ : state) {
    for (std::size_t l = 1; l < chain.levels.size(); ++l) {
      const int size = static_cast<int>(kSize >> l);
      stbir_resize_uint8_generic(chain.levels[l - 1].data(), size * 2, size * 2, 0, chain.levels[l].data(), size, size,
                                 0, 4, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_BOX,
                                 STBIR_COLORSPACE_LINEAR, nullptr);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{kSize} * kSize * 4);
}

// The level-0 texels converted at the same size into `format` (of `bytes` a texel).
void ConvertArgb(benchmark::State& state, std::uint32_t format, std::uint32_t bytes) {
  MipChain chain;
  std::vector<std::uint8_t> out(std::size_t{kSize} * kSize * bytes);
  for (auto _ : state) {
    ImageRegion d = Region(out, format, kSize);
    d.rowPitch = kSize * bytes;
    ImageRegion s = Region(chain.levels[0], D3DFMT_A8R8G8B8, kSize);
    ImageBlitter blitter;
    if (FAILED(blitter.Run(d, s, FilterFlags::Point))) state.SkipWithError("conversion failed");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{kSize} * kSize * 4);
}

void BM_ConvertArgbToXrgb(benchmark::State& state) { ConvertArgb(state, D3DFMT_X8R8G8B8, 4); }
void BM_ConvertArgbToR5G6B5(benchmark::State& state) { ConvertArgb(state, D3DFMT_R5G6B5, 2); }

// The upscale of picture loading: 640 x 480 to 1024 x 512 by the triangle filter with dither.
void BM_TriangleUpscale(benchmark::State& state) {
  MipChain chain;
  std::vector<std::uint8_t> out(std::size_t{1024} * 512 * 4);
  for (auto _ : state) {
    ImageRegion d = Region(out, D3DFMT_A8R8G8B8, 1024);
    d.extent = d.box = ImageBox{0, 0, 1024, 512, 0, 1};
    ImageRegion s = Region(chain.levels[0], D3DFMT_A8R8G8B8, kSize);
    s.box = ImageBox{0, 0, 640, 480, 0, 1};
    ImageBlitter blitter;
    if (FAILED(blitter.Run(d, s, FilterFlags::Triangle | FilterFlags::OrderedDither)))
      state.SkipWithError("upscale failed");
    benchmark::ClobberMemory();
  }
}

void BM_MemcpySameBytes(benchmark::State& state) {
  MipChain chain;
  std::vector<std::uint8_t> out(chain.levels[0].size());
  for (auto _ : state) {
    std::memcpy(out.data(), chain.levels[0].data(), out.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{kSize} * kSize * 4);
}

BENCHMARK(BM_BoxMipChainBlitter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxMipChainStb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertArgbToXrgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertArgbToR5G6B5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TriangleUpscale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return benchratio::RunAndPrintRatios(argc, argv, {
      {"box mip chain, blitter / stb_image_resize", "BM_BoxMipChainBlitter", "BM_BoxMipChainStb"},
      {"A8R8G8B8 to X8R8G8B8, blitter / memcpy", "BM_ConvertArgbToXrgb", "BM_MemcpySameBytes", 2.0},
      {"A8R8G8B8 to R5G6B5 without dither, blitter / memcpy of the source", "BM_ConvertArgbToR5G6B5",
       "BM_MemcpySameBytes", 4.0},
  });
}

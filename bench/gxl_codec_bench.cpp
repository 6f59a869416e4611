// Pixel codecs moving whole rows: reads, writes with each rounding mode, and a
// row copy of the same bytes for scale. Texels per second are the counter.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/bench_ratio.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"

namespace {

constexpr std::uint32_t kWidth = 1024;

struct Row {
  std::vector<std::uint8_t> pixels;
  std::unique_ptr<PixelCodec> codec;
  std::vector<ColorF> texels;
};

Row MakeRow(std::uint32_t format, bool dither, bool diffusion) {
  Row r;
  const std::uint32_t bytes = FindPixelFormatInfo(static_cast<D3DFORMAT>(format))->bitsPerTexel / 8;
  r.pixels.assign(std::size_t{kWidth} * bytes * 2, 0x5A);
  ImageRegion region{r.pixels.data(), format, kWidth * bytes, 0, {0, 0, kWidth, 2, 0, 1}, {0, 0, kWidth, 2, 0, 1},
                     dither, diffusion, 0, 0, nullptr};
  r.codec = CreatePixelCodec(region);
  r.texels.resize(kWidth);
  for (std::uint32_t x = 0; x < kWidth; ++x) r.texels[x] = ColorF(x / 1024.0f, 0.3f, 0.7f, 1 - x / 2048.0f);
  return r;
}

void BM_ReadRow(benchmark::State& state) {
  Row r = MakeRow(static_cast<std::uint32_t>(state.range(0)), false, false);
  for (auto _ : state) {
    r.codec->ReadRow(0, 0, r.texels.data());
    benchmark::DoNotOptimize(r.texels.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
}

void WriteRows(benchmark::State& state, bool dither, bool diffusion) {
  Row r = MakeRow(static_cast<std::uint32_t>(state.range(0)), dither, diffusion);
  std::vector<ColorF> row(kWidth);
  std::uint32_t y = 0;
  for (auto _ : state) {
    std::memcpy(row.data(), r.texels.data(), kWidth * sizeof(ColorF));
    r.codec->WriteRow(y, 0, row.data());
    y ^= 1;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
}

void BM_WriteRow(benchmark::State& state) { WriteRows(state, false, false); }
void BM_WriteRowDither(benchmark::State& state) { WriteRows(state, true, false); }
void BM_WriteRowDiffusion(benchmark::State& state) { WriteRows(state, false, true); }

// The bytes of one A8R8G8B8 row and its float texels, copied as they are.
void BM_CopyRowBytes(benchmark::State& state) {
  std::vector<std::uint8_t> a(kWidth * 4), b(kWidth * 4);
  std::vector<ColorF> row(kWidth), texels(kWidth);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    std::memcpy(row.data(), texels.data(), kWidth * sizeof(ColorF));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
}

void Formats(benchmark::internal::Benchmark* b) {
  for (int f : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A4R4G4B4, D3DFMT_L8, D3DFMT_V8U8,
                D3DFMT_A16B16G16R16, D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, D3DFMT_P8})
    b->Arg(f);
}

BENCHMARK(BM_ReadRow)->Apply(Formats);
BENCHMARK(BM_WriteRow)->Apply(Formats);
BENCHMARK(BM_WriteRowDither)->Arg(D3DFMT_A8R8G8B8)->Arg(D3DFMT_R5G6B5);
BENCHMARK(BM_WriteRowDiffusion)->Arg(D3DFMT_A8R8G8B8)->Arg(D3DFMT_R5G6B5);
BENCHMARK(BM_CopyRowBytes);

}  // namespace

// No comparison of its own: with --table it adds no row.
int main(int argc, char** argv) { return benchratio::RunAndPrintRatios(argc, argv, {}); }

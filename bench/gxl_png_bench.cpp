// Picture loading: a 1024 x 1024 RGBA PNG made into an A8R8G8B8 texture of
// the file's size with one level, against libpng's simplified API and
// stb_image decoding the same bytes into memory; and a 640 x 480 picture
// loaded with the defaults (1024 x 512 with a full chain) against libpng
// decoding it. Prints the time ratios after the runs.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdlib>
#include <vector>

#include "bench/bench_support.h"
#include "bench/bench_ratio.h"
#include "gxl/tex/texture_build.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

// The picture written by libpng at its default settings.
std::vector<std::uint8_t> MakePng(std::uint32_t width, std::uint32_t height) {
  const std::vector<std::uint8_t> rgba = benchsupport::MakeRgbaPicture(width, height);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
  std::vector<std::uint8_t> bytes(size);
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgba.data(), 0, nullptr)) std::abort();
  bytes.resize(size);
  return bytes;
}

const std::vector<std::uint8_t>& Large() {
  static const std::vector<std::uint8_t> bytes = MakePng(1024, 1024);
  return bytes;
}
const std::vector<std::uint8_t>& Screen() {
  static const std::vector<std::uint8_t> bytes = MakePng(640, 480);
  return bytes;
}

using benchsupport::Device;

void LibpngDecode(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) state.SkipWithError("libpng failed");
    image.format = PNG_FORMAT_BGRA;
    out.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) state.SkipWithError("libpng failed");
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Large_GxlTexture(benchmark::State& state) {
  const auto& bytes = Large();
  for (auto _ : state) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(GXLBuildTextureFromFileData(Device(), bytes.data(), static_cast<UINT>(bytes.size()),
                                           kGxlDefaultNonPow2, kGxlDefaultNonPow2, 1, 0, D3DFMT_A8R8G8B8,
                                           D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t)))
      state.SkipWithError("texture creation failed");
    else
      t->Release();
  }
}

void BM_Large_LibpngSimplified(benchmark::State& state) { LibpngDecode(state, Large()); }

void BM_Large_StbImage(benchmark::State& state) {
  const auto& bytes = Large();
  for (auto _ : state) {
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &n, 4);
    if (!pixels) state.SkipWithError("stb_image failed");
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
}

void BM_Screen_GxlTextureDefaults(benchmark::State& state) {
  const auto& bytes = Screen();
  for (auto _ : state) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(GXLBuildTextureFromFileDataDefaults(Device(), bytes.data(), static_cast<UINT>(bytes.size()), &t)))
      state.SkipWithError("texture creation failed");
    else
      t->Release();
  }
}

void BM_Screen_LibpngSimplified(benchmark::State& state) { LibpngDecode(state, Screen()); }

BENCHMARK(BM_Large_GxlTexture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_LibpngSimplified)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_StbImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Screen_GxlTextureDefaults)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Screen_LibpngSimplified)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return benchratio::RunAndPrintRatios(argc, argv, {
      {"1024 x 1024 RGBA PNG to a texture / libpng simplified decode", "BM_Large_GxlTexture",
       "BM_Large_LibpngSimplified"},
      {"1024 x 1024 RGBA PNG to a texture / stb_image decode", "BM_Large_GxlTexture", "BM_Large_StbImage"},
      {"640 x 480 PNG to a 1024 x 512 texture with its chain / libpng simplified decode",
       "BM_Screen_GxlTextureDefaults", "BM_Screen_LibpngSimplified", 1.3},
  });
}

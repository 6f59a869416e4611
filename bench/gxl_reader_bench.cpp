// Picture loading from the simple formats and JPEG: a 1024 x 1024 file in
// memory (the raw ones also at 2048 x 2048, JPEG from 64 x 64 to 2048 x 2048)
// made into a texture of the file's size with one level (A8R8G8B8; HDR files
// into A32B32G32R32F), against stb_image decoding the same bytes (8-bit RGBA;
// HDR as float RGBA). The files are laid out here as other programs write
// them: TGA bottom-up, raw at 24 and 32 bits and run-length at 24 bits; binary
// PPM; BMP bottom-up at 24 and 32 bits; HDR with run-length scanlines; JPEG at
// quality 90 with chroma subsampling. Prints the time ratio of each file after
// the runs. Also times the two small files that ask for the largest texture
// the device takes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/bench_support.h"
#include "gxl/tex/texture_build.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_ONLY_BMP
#define STBI_ONLY_PNM
#define STBI_ONLY_HDR
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

using benchsupport::Device;

// The picture of each size, square.
const std::vector<std::uint8_t>& Picture(std::uint32_t size) {
  static std::map<std::uint32_t, std::vector<std::uint8_t>> pictures;
  auto& rgba = pictures[size];
  if (rgba.empty()) rgba = benchsupport::MakeRgbaPicture(size, size);
  return rgba;
}

void Put16(std::vector<std::uint8_t>& f, std::uint32_t v) {
  f.push_back(static_cast<std::uint8_t>(v));
  f.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& f, std::uint32_t v) {
  Put16(f, v & 0xFFFF);
  Put16(f, v >> 16);
}

// Texels blue, green, red (and alpha) of the picture, rows from the bottom.
void PutBottomUpBgr(std::vector<std::uint8_t>& f, std::uint32_t size, int bytes, std::uint32_t rowPadding) {
  for (std::uint32_t y = size; y-- > 0;) {
    const std::uint8_t* t = &Picture(size)[std::size_t{y} * size * 4];
    for (std::uint32_t x = 0; x < size; ++x, t += 4) {
      f.insert(f.end(), {t[2], t[1], t[0]});
      if (bytes == 4) f.push_back(t[3]);
    }
    f.insert(f.end(), rowPadding, 0);
  }
}

std::vector<std::uint8_t> RawTga(std::uint32_t size, int bits) {
  std::vector<std::uint8_t> f = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Put16(f, size);
  Put16(f, size);
  f.push_back(static_cast<std::uint8_t>(bits));
  f.push_back(bits == 32 ? 8 : 0);  // bottom-up, 8 alpha bits at 32
  PutBottomUpBgr(f, size, bits / 8, 0);
  return f;
}

void Append(void* context, void* data, int size) {
  auto* f = static_cast<std::vector<std::uint8_t>*>(context);
  f->insert(f->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
}

// The picture's red, green and blue.
std::vector<std::uint8_t> Rgb(std::uint32_t size) {
  std::vector<std::uint8_t> rgb;
  const std::vector<std::uint8_t>& rgba = Picture(size);
  for (std::size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), &rgba[i], &rgba[i + 3]);
  return rgb;
}

std::vector<std::uint8_t> RunLengthTga(std::uint32_t size) {
  std::vector<std::uint8_t> f;
  stbi_write_tga_with_rle = 1;
  stbi_write_tga_to_func(Append, &f, static_cast<int>(size), static_cast<int>(size), 3, Rgb(size).data());
  return f;
}

std::vector<std::uint8_t> Ppm(std::uint32_t size) {
  const std::string header = std::string("P6\n# made for the benchmark\n")
                                 .append(std::to_string(size))
                                 .append(" ")
                                 .append(std::to_string(size))
                                 .append("\n255\n");
  std::vector<std::uint8_t> f(header.begin(), header.end());
  const std::vector<std::uint8_t> rgb = Rgb(size);
  f.insert(f.end(), rgb.begin(), rgb.end());
  return f;
}

std::vector<std::uint8_t> Bmp(std::uint32_t size, int bits) {
  const std::uint32_t row = size * bits / 8, padding = (4 - row % 4) % 4;
  const std::uint32_t imageBytes = (row + padding) * size;
  std::vector<std::uint8_t> f = {'B', 'M'};
  Put32(f, 54 + imageBytes);
  Put32(f, 0);
  Put32(f, 54);
  for (std::uint32_t v : {40u, size, size}) Put32(f, v);
  Put16(f, 1);
  Put16(f, static_cast<std::uint32_t>(bits));
  for (std::uint32_t v : {0u, imageBytes, 2834u, 2834u, 0u, 0u}) Put32(f, v);
  PutBottomUpBgr(f, size, bits / 8, padding);
  return f;
}

std::vector<std::uint8_t> Hdr(std::uint32_t size) {
  std::vector<float> rgb;
  for (std::uint8_t v : Rgb(size)) rgb.push_back(std::pow(v / 255.0f, 2.2f) * 4.0f);
  std::vector<std::uint8_t> f;
  stbi_write_hdr_to_func(Append, &f, static_cast<int>(size), static_cast<int>(size), 3, rgb.data());
  return f;
}

std::vector<std::uint8_t> Jpeg(std::uint32_t size) {
  std::vector<std::uint8_t> f;
  stbi_write_jpg_to_func(Append, &f, static_cast<int>(size), static_cast<int>(size), 3, Rgb(size).data(), 90);
  return f;
}

struct File {
  std::string name;
  std::uint32_t size;
  std::vector<std::uint8_t> (*make)(std::uint32_t size);
  bool hdr;
};
const std::vector<File>& Files() {
  static const std::vector<File> files = {
      {"Tga24", 1024, [](std::uint32_t n) { return RawTga(n, 24); }, false},
      {"Tga32", 1024, [](std::uint32_t n) { return RawTga(n, 32); }, false},
      {"Tga32", 2048, [](std::uint32_t n) { return RawTga(n, 32); }, false},
      {"TgaRle24", 1024, RunLengthTga, false},
      {"Ppm", 1024, Ppm, false},
      {"Ppm", 2048, Ppm, false},
      {"Bmp24", 1024, [](std::uint32_t n) { return Bmp(n, 24); }, false},
      {"Bmp32", 1024, [](std::uint32_t n) { return Bmp(n, 32); }, false},
      {"Hdr", 1024, Hdr, true},
      {"Jpeg", 64, Jpeg, false},
      {"Jpeg", 256, Jpeg, false},
      {"Jpeg", 1024, Jpeg, false},
      {"Jpeg", 2048, Jpeg, false},
  };
  return files;
}

// "Tga32/2048"
std::string Key(const File& f) { return std::string(f.name).append("/").append(std::to_string(f.size)); }

void BM_GxlTexture(benchmark::State& state, const File& file) {
  const std::vector<std::uint8_t> bytes = file.make(file.size);
  for (auto _ : state) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(GXLBuildTextureFromFileData(Device(), bytes.data(), static_cast<UINT>(bytes.size()), kGxlDefaultNonPow2,
                                           kGxlDefaultNonPow2, 1, 0, file.hdr ? D3DFMT_A32B32G32R32F : D3DFMT_A8R8G8B8,
                                           D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t)))
      state.SkipWithError("texture creation failed");
    else
      t->Release();
  }
}

void BM_StbImage(benchmark::State& state, const File& file) {
  const std::vector<std::uint8_t> bytes = file.make(file.size);
  for (auto _ : state) {
    int w = 0, h = 0, n = 0;
    void* pixels =
        file.hdr
            ? static_cast<void*>(stbi_loadf_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &n, 4))
            : static_cast<void*>(stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &n, 4));
    if (!pixels || w != static_cast<int>(file.size)) state.SkipWithError("stb_image failed");
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
}

// The largest textures a small file can ask for: a 302-byte JPEG whose frame
// declares 65296 x 246 texels (its scan ends at once; the library fills the
// rest) and a 1 KB run-length BMP of 524304 x 8 that ends at its first code.
// Both decode to the device's largest texture and are resampled into it.
std::vector<std::uint8_t> TruncatedWideJpeg() {
  std::vector<std::uint8_t> grey(16 * 8, 128), f;
  stbi_write_jpg_to_func(Append, &f, 16, 8, 1, grey.data(), 90);
  for (std::size_t at = 2; at + 9 < f.size(); at += 2 + (f[at + 2] << 8 | f[at + 3])) {
    if (f[at + 1] != 0xC0) continue;  // the baseline frame header: height, width big-endian
    f[at + 5] = 246 >> 8;
    f[at + 6] = 246 & 0xFF;
    f[at + 7] = 65296 >> 8;
    f[at + 8] = 65296 & 0xFF;
    break;
  }
  return f;
}

std::vector<std::uint8_t> EmptyWideRunLengthBmp() {
  const std::uint32_t bitsOffset = 14 + 40 + 1024;
  std::vector<std::uint8_t> f = {'B', 'M'};
  Put32(f, bitsOffset + 2);
  Put32(f, 0);
  Put32(f, bitsOffset);
  for (std::uint32_t v : {40u, 524304u, 8u}) Put32(f, v);
  Put16(f, 1);
  Put16(f, 8);
  for (std::uint32_t v : {1u, 2u, 2834u, 2834u, 256u, 0u}) Put32(f, v);  // RLE8
  for (std::uint32_t i = 0; i < 256; ++i) Put32(f, i * 0x010101u);
  f.insert(f.end(), {0, 1});  // end of bitmap
  return f;
}

void BM_SmallFileLargestTexture(benchmark::State& state, std::vector<std::uint8_t> (*make)()) {
  const std::vector<std::uint8_t> bytes = make();
  for (auto _ : state) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(GXLBuildTextureFromFileDataDefaults(Device(), bytes.data(), static_cast<UINT>(bytes.size()), &t)))
      state.SkipWithError("texture creation failed");
    else
      t->Release();
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("BM_SmallFileLargestTexture/TruncatedJpeg65296x246", BM_SmallFileLargestTexture,
                               TruncatedWideJpeg)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_SmallFileLargestTexture/RunLengthBmp524304x8", BM_SmallFileLargestTexture,
                               EmptyWideRunLengthBmp)
      ->Unit(benchmark::kMillisecond);
  for (const File& f : Files()) {
    const benchmark::TimeUnit unit = f.size <= 256 ? benchmark::kMicrosecond : benchmark::kMillisecond;
    benchmark::RegisterBenchmark((std::string("BM_GxlTexture/").append(Key(f))).c_str(), BM_GxlTexture, f)->Unit(unit);
    benchmark::RegisterBenchmark((std::string("BM_StbImage/").append(Key(f))).c_str(), BM_StbImage, f)->Unit(unit);
  }
  const bool table = benchratio::TakeTableFlag(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (table) {
    std::vector<benchratio::Ratio> rows;
    for (const File& f : Files()) {
      const std::string size = std::to_string(f.size);
      rows.push_back({std::string(size).append(" x ").append(size).append(" ").append(f.name).append(
                          " to a texture / stb_image decode"),
                      std::string("BM_GxlTexture/").append(Key(f)), std::string("BM_StbImage/").append(Key(f)), 1.5});
    }
    benchratio::RunTable(rows);
    benchmark::Shutdown();
    return 0;
  }
  benchratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\n| file | texture build time / stb_image decode time (goal: at most 1.5) |\n|---|---|\n");
  for (const File& f : Files()) {
    const auto ours = reporter.times.find(std::string("BM_GxlTexture/").append(Key(f)));
    const auto stb = reporter.times.find(std::string("BM_StbImage/").append(Key(f)));
    if (ours != reporter.times.end() && stb != reporter.times.end() && stb->second > 0)
      std::printf("| %s | %.2f |\n", Key(f).c_str(), ours->second / stb->second);
  }
  return 0;
}

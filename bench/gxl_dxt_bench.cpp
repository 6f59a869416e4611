// DXT1 and DXT5 encoding and decoding of 1024 x 1024 pictures through the
// DXT pixel codec (float rows in and out), against stb_dxt (encoding, block
// by block) and libsquish (range fit; decoding; on one thread). After the runs
// it prints, per format and picture, the time ratios and the error of each
// encoder's blocks as libsquish decodes them: RMSE of R, G, B weighted by
// luma (what the encoder optimises), plain RMSE of R, G, B, and of alpha.
#include <benchmark/benchmark.h>
#include <squish.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

#include "bench/bench_ratio.h"
#include "gxl/tex/pixel_codec.h"
#include "platform/d3d9_types.h"
#include "tests/support/stb_dxt.h"

namespace {

constexpr int kSize = 1024;

// DXT1 is measured on the picture made opaque: stb_dxt's DXT1 has no alpha.
struct Picture {
  std::vector<std::uint8_t> rgba[2];  // 8-bit samples: opaque, with alpha
  std::vector<ColorF> texels[2];      // the same as floats
};

// 1: ImageMagick's built-in photograph scaled up (smooth; without
// ImageMagick, grey); 0: a synthetic picture of waves and fine patterns.
// Alpha is a soft-edged disc.
Picture MakePicture(bool photo) {
    Picture p;
    std::vector<std::uint8_t>& rgba = p.rgba[1];
    rgba.resize(std::size_t{kSize} * kSize * 4);
    std::vector<std::uint8_t> rgb(std::size_t{kSize} * kSize * 3, 128);
    if (photo) {
      std::FILE* in = popen("convert rose: -resize 1024x1024! -depth 8 rgb:- 2>/dev/null", "r");
      if (in && std::fread(rgb.data(), 1, rgb.size(), in) != rgb.size()) std::fprintf(stderr, "no photograph\n");
      if (in) pclose(in);
    }
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * kSize + x;
        const double r = std::hypot(x - kSize / 2.0, y - kSize / 2.0);
        std::uint8_t* t = &rgba[4 * i];
        for (int c = 0; c < 3; ++c)
          t[c] = photo ? rgb[3 * i + c]
                       : static_cast<std::uint8_t>(120 + 90 * std::sin(x / (11.0 + 4 * c)) * std::cos(y / 17.0) +
                                                   ((x ^ y) >> (3 + c) & 31));
        t[3] = static_cast<std::uint8_t>(std::clamp((kSize * 0.45 - r) * 4, 0.0, 255.0));
      }
    p.rgba[0] = rgba;
    for (std::size_t i = 3; i < rgba.size(); i += 4) p.rgba[0][i] = 255;
    for (int a = 0; a < 2; ++a)
      for (std::size_t i = 0; i < rgba.size(); i += 4)
        p.texels[a].push_back(ColorF(p.rgba[a][i] / 255.0f, p.rgba[a][i + 1] / 255.0f, p.rgba[a][i + 2] / 255.0f,
                                     p.rgba[a][i + 3] / 255.0f));
    return p;
}

const Picture& Source(bool photo) {
  static const Picture pictures[2] = {MakePicture(false), MakePicture(true)};
  return pictures[photo];
}

bool IsDxt5(const benchmark::State& state) { return state.range(0) == 5; }
bool IsPhoto(const benchmark::State& state) { return state.range(1) == 1; }
int BlockBytes(bool dxt5) { return dxt5 ? 16 : 8; }
int SquishFlag(bool dxt5) { return dxt5 ? squish::kDxt5 : squish::kDxt1; }
std::uint32_t Format(bool dxt5) { return dxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1; }

ImageRegion Region(std::vector<std::uint8_t>& blocks, bool dxt5) {
  const std::uint32_t pitch = kSize / 4 * BlockBytes(dxt5);
  blocks.resize(std::size_t{pitch} * kSize / 4);
  const ImageBox box{0, 0, kSize, kSize, 0, 1};
  return ImageRegion{blocks.data(), Format(dxt5), pitch, 0, box, box, 0, 0, 0, 0, nullptr};
}

// Our blocks: the picture's rows written through the codec.
void EncodeOurs(std::vector<std::uint8_t>& blocks, bool dxt5, bool photo) {
  const std::vector<ColorF>& texels = Source(photo).texels[dxt5];
  auto codec = CreatePixelCodec(Region(blocks, dxt5));
  std::vector<ColorF> row(kSize);
  for (int y = 0; y < kSize; ++y) {
    std::copy_n(&texels[static_cast<std::size_t>(y) * kSize], kSize, row.begin());
    codec->WriteRow(y, 0, row.data());
  }
}

void EncodeStb(std::vector<std::uint8_t>& blocks, bool dxt5, bool photo) {
  const std::vector<std::uint8_t>& rgba = Source(photo).rgba[dxt5];
  blocks.resize(std::size_t{kSize / 4} * (kSize / 4) * BlockBytes(dxt5));
  std::uint8_t* out = blocks.data();
  std::uint8_t block[64];
  for (int by = 0; by < kSize; by += 4)
    for (int bx = 0; bx < kSize; bx += 4, out += BlockBytes(dxt5)) {
      for (int r = 0; r < 4; ++r) std::copy_n(&rgba[4 * (static_cast<std::size_t>(by + r) * kSize + bx)], 16, block + 16 * r);
      stb_compress_dxt_block(out, block, dxt5, STB_DXT_NORMAL);
    }
}

void EncodeSquish(std::vector<std::uint8_t>& blocks, bool dxt5, bool photo) {
  blocks.resize(std::size_t{kSize / 4} * (kSize / 4) * BlockBytes(dxt5));
  squish::CompressImage(Source(photo).rgba[dxt5].data(), kSize, kSize, blocks.data(), SquishFlag(dxt5) | squish::kColourRangeFit);
}

using Encoder = void (*)(std::vector<std::uint8_t>&, bool, bool);

template <Encoder Encode>
void BM_Encode(benchmark::State& state) {
  std::vector<std::uint8_t> blocks;
  for (auto _ : state) {
    Encode(blocks, IsDxt5(state), IsPhoto(state));
    benchmark::DoNotOptimize(blocks.data());
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

void BM_DecodeOurs(benchmark::State& state) {
  std::vector<std::uint8_t> blocks;
  EncodeSquish(blocks, IsDxt5(state), IsPhoto(state));
  std::vector<ColorF> image(std::size_t{kSize} * kSize);
  for (auto _ : state) {
    auto codec = CreatePixelCodec(Region(blocks, IsDxt5(state)));
    for (int y = 0; y < kSize; ++y) codec->ReadRow(y, 0, &image[static_cast<std::size_t>(y) * kSize]);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

void BM_DecodeSquish(benchmark::State& state) {
  std::vector<std::uint8_t> blocks;
  EncodeSquish(blocks, IsDxt5(state), IsPhoto(state));
  std::vector<std::uint8_t> image(std::size_t{kSize} * kSize * 4);
  for (auto _ : state) {
    squish::DecompressImage(image.data(), kSize, kSize, blocks.data(), SquishFlag(IsDxt5(state)));
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}

// Arguments: the format (1 or 5) and the picture (1: the photograph).
#define DXT_CASES ArgsProduct({{1, 5}, {1, 0}})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Encode<EncodeOurs>)->DXT_CASES;
BENCHMARK(BM_Encode<EncodeStb>)->DXT_CASES;
BENCHMARK(BM_Encode<EncodeSquish>)->DXT_CASES;
BENCHMARK(BM_DecodeOurs)->DXT_CASES;
BENCHMARK(BM_DecodeSquish)->DXT_CASES;

// {luma-weighted RGB, plain RGB, alpha} RMSE of blocks as libsquish decodes them.
struct Rmse {
  double luma, rgb, alpha;
};
Rmse Measure(Encoder encode, bool dxt5, bool photo) {
  std::vector<std::uint8_t> blocks, image(std::size_t{kSize} * kSize * 4);
  encode(blocks, dxt5, photo);
  squish::DecompressImage(image.data(), kSize, kSize, blocks.data(), SquishFlag(dxt5));
  const std::vector<std::uint8_t>& source = Source(photo).rgba[dxt5];
  constexpr double kLuma[3] = {0.2126, 0.7152, 0.0722};
  double luma = 0, rgb = 0, alpha = 0;
  for (std::size_t i = 0; i < image.size(); i += 4) {
    for (int c = 0; c < 3; ++c) {
      const double d = double(image[i + c]) - source[i + c];
      luma += kLuma[c] * d * d;
      rgb += d * d / 3;
    }
    const double d = double(image[i + 3]) - source[i + 3];
    alpha += d * d;
  }
  const double n = double(kSize) * kSize;
  return {std::sqrt(luma / n), std::sqrt(rgb / n), std::sqrt(alpha / n)};
}

double Ratio(const benchratio::RatioReporter& r, const std::string& ours, const std::string& reference) {
  const auto a = r.times.find(ours), b = r.times.find(reference);
  return a == r.times.end() || b == r.times.end() ? NAN : a->second / b->second;
}

}  // namespace

int main(int argc, char** argv) {
  // libsquish spreads its image calls over OpenMP threads, which read their
  // count when the program starts: start again on one thread.
  if (!std::getenv("OMP_NUM_THREADS")) {
    setenv("OMP_NUM_THREADS", "1", 1);
    execv("/proc/self/exe", argv);
  }
  const bool table = benchratio::TakeTableFlag(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The pictures are made before the runs, so that the first run does not
  // time their making.
  Source(false);
  Source(true);
  if (table) {
    std::vector<benchratio::Ratio> rows;
    for (int f : {1, 5})
      for (int photo : {1, 0}) {
        char arg[16], what[32];
        std::snprintf(arg, sizeof arg, "/%d/%d", f, photo);
        std::snprintf(what, sizeof what, "DXT%d %s", f, photo ? "photo" : "synthetic");
        rows.push_back({std::string(what) + " encode / stb_dxt", std::string("BM_Encode<EncodeOurs>") + arg,
                        std::string("BM_Encode<EncodeStb>") + arg, 1.2});
        rows.push_back({std::string(what) + " encode / libsquish", std::string("BM_Encode<EncodeOurs>") + arg,
                        std::string("BM_Encode<EncodeSquish>") + arg});
        rows.push_back({std::string(what) + " decode / libsquish", std::string("BM_DecodeOurs") + arg,
                        std::string("BM_DecodeSquish") + arg});
      }
    benchratio::RunTable(rows);
    benchmark::Shutdown();
    // Quality: the luma-weighted error each encoder's blocks leave.
    for (int f : {1, 5})
      for (int photo : {1, 0}) {
        const Rmse o = Measure(EncodeOurs, f == 5, photo), st = Measure(EncodeStb, f == 5, photo),
                   q = Measure(EncodeSquish, f == 5, photo);
        char what[64], ours[16], stb[16], squish[16], vsStb[16], vsSquish[16];
        std::snprintf(ours, sizeof ours, "%.2f", o.luma);
        std::snprintf(stb, sizeof stb, "%.2f", st.luma);
        std::snprintf(squish, sizeof squish, "%.2f", q.luma);
        std::snprintf(vsStb, sizeof vsStb, "%.3g", o.luma / st.luma);
        std::snprintf(vsSquish, sizeof vsSquish, "%.3g", o.luma / q.luma);
        std::snprintf(what, sizeof what, "DXT%d %s, RMSE luma / stb_dxt", f, photo ? "photo" : "synthetic");
        benchratio::PrintRow(what, ours, stb, vsStb, "-", "-");
        std::snprintf(what, sizeof what, "DXT%d %s, RMSE luma / libsquish", f, photo ? "photo" : "synthetic");
        benchratio::PrintRow(what, ours, squish, vsSquish, "-", "-");
      }
    return 0;
  }
  benchratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n| format, picture | encode time ours/stb | encode time ours/squish | decode time ours/squish |"
              " RMSE luma ours/stb/squish | RMSE RGB ours/stb/squish | RMSE alpha ours/stb/squish |\n"
              "|---|---|---|---|---|---|---|\n");
  for (int f : {1, 5}) for (int photo : {1, 0}) {
    const bool dxt5 = f == 5;
    // Appended: g++ 12 at -O3 warns (-Wrestrict) about "/" + std::string.
    const std::string arg = std::string("/").append(std::to_string(f)).append("/").append(std::to_string(photo));
    const Rmse o = Measure(EncodeOurs, dxt5, photo), s = Measure(EncodeStb, dxt5, photo),
               q = Measure(EncodeSquish, dxt5, photo);
    std::printf("| DXT%d, %s | %.2f | %.2f | %.2f | %.2f / %.2f / %.2f | %.2f / %.2f / %.2f | %.2f / %.2f / %.2f |\n", f,
                photo ? "photo" : "synthetic", Ratio(reporter, "BM_Encode<EncodeOurs>" + arg, "BM_Encode<EncodeStb>" + arg),
                Ratio(reporter, "BM_Encode<EncodeOurs>" + arg, "BM_Encode<EncodeSquish>" + arg),
                Ratio(reporter, "BM_DecodeOurs" + arg, "BM_DecodeSquish" + arg), o.luma, s.luma, q.luma, o.rgb,
                s.rgb, q.rgb, o.alpha, s.alpha, q.alpha);
  }
  return 0;
}

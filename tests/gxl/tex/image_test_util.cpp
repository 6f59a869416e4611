#include "image_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/image_blitter.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/result_codes.h"
#include "tests/support/test_util.h"

namespace imgtest {

namespace {

std::uint32_t Next(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

std::uint16_t LoadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

Pnm MakeRaster(std::uint32_t width, std::uint32_t height, std::uint32_t channels, std::uint32_t maxval,
               std::uint32_t seed, std::uint32_t colours) {
  Pnm r;
  r.width = width;
  r.height = height;
  r.channels = channels;
  r.maxval = maxval;
  std::uint32_t state = seed * 2654435761u + 1;
  const std::size_t texels = std::size_t{width} * height;
  if (colours) {
    // Distinct colours whose red and green differ, so no tool takes them as grey.
    std::vector<std::uint16_t> table;
    for (std::uint32_t c = 0; c < colours; ++c) {
      const std::uint32_t red = (c * 37 + 11) % (maxval + 1);
      const std::uint32_t green = (red + 1 + c % 7) % (maxval + 1);
      const std::uint32_t blue = (c * 101 + 3) % (maxval + 1);
      table.insert(table.end(), {static_cast<std::uint16_t>(red), static_cast<std::uint16_t>(green),
                                 static_cast<std::uint16_t>(blue)});
    }
    for (std::size_t i = 0; i < texels; ++i) {
      const std::size_t c = i < colours ? i : Next(state) % colours;
      r.samples.insert(r.samples.end(), table.begin() + 3 * c, table.begin() + 3 * c + 3);
    }
  } else {
    for (std::size_t i = 0; i < texels * channels; ++i)
      r.samples.push_back(static_cast<std::uint16_t>(Next(state) % (maxval + 1)));
  }
  return r;
}

Pnm MakePicture(std::uint32_t width, std::uint32_t height) {
  Pnm r;
  r.width = width;
  r.height = height;
  r.channels = 3;
  r.maxval = 255;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const double dx = x - width * 0.5, dy = y - height * 0.4;
      const bool disc = dx * dx + dy * dy < (height * 0.3) * (height * 0.3);
      r.samples.push_back(static_cast<std::uint16_t>(x * 255 / (width > 1 ? width - 1 : 1)));
      r.samples.push_back(static_cast<std::uint16_t>(y * 255 / (height > 1 ? height - 1 : 1)));
      r.samples.push_back(static_cast<std::uint16_t>(disc ? 40 : 128 + 100 * std::sin(x / 9.0) * std::cos(y / 7.0)));
    }
  return r;
}

void WritePnm(const std::string& path, const Pnm& raster) {
  std::string header = (raster.channels == 1 ? "P5\n" : "P6\n") + std::to_string(raster.width) + " " +
                       std::to_string(raster.height) + "\n" + std::to_string(raster.maxval) + "\n";
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  for (std::uint16_t s : raster.samples) {
    if (raster.maxval > 255) bytes.push_back(static_cast<std::uint8_t>(s >> 8));
    bytes.push_back(static_cast<std::uint8_t>(s));
  }
  nura::test::WriteFileBytes(path, bytes);
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

bool Run(const std::string& command) { return nura::test::RunTool(command); }

bool RunScript(const std::string& dir, const std::string& script) {
  nura::test::WriteFileText(dir + "/make.sh", "set -e\ncd " + Quote(dir) + "\n" + script);
  return Run("sh " + Quote(dir + "/make.sh"));
}

void RequireTools(const std::vector<std::string>& names) {
  for (const std::string& name : names) ASSERT_TRUE(nura::test::HaveTool(name)) << name << " is not installed";
}

std::vector<std::uint16_t> ConvertRgba(const std::string& path, int depth) {
  const std::string out = path + ".rgba";
  if (!Run("convert " + Quote(path) + " -depth " + std::to_string(depth) + " -endian LSB rgba:" + Quote(out)))
    return {};
  const std::vector<std::uint8_t> bytes = nura::test::ReadFileBytes(out);
  std::vector<std::uint16_t> samples;
  if (depth == 16)
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) samples.push_back(LoadLe16(&bytes[i]));
  else
    samples.assign(bytes.begin(), bytes.end());
  return samples;
}

std::vector<std::uint8_t> PilRgba(const std::string& path, std::string* mode) {
  const std::string out = path + ".pil";
  std::string printed;
  const std::string command =
      "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\nprint(im.mode)\n"
      "open(sys.argv[2], \"wb\").write(im.convert(\"RGBA\").tobytes())' " +
      Quote(path) + " " + Quote(out);
  if (!nura::test::RunTool(command, &printed)) return {};
  if (mode) *mode = printed.substr(0, printed.find('\n'));
  return nura::test::ReadFileBytes(out);
}

std::string PngCheck(const std::string& path, bool* ok) {
  std::string output, errors;
  const int status = nura::test::RunCommand("pngcheck -v " + Quote(path), &output, &errors);
  if (ok) *ok = status == 0;
  return output + errors;
}

bool IsWide(D3DFORMAT format) {
  return format == D3DFMT_L16 || format == D3DFMT_A16B16G16R16 || format == static_cast<D3DFORMAT>(kFourCC_AL16) ||
         format == static_cast<D3DFORMAT>(kFourCC_R16);
}

std::vector<std::uint16_t> RecordRgba(const DecodedImage& image) {
  std::vector<std::uint16_t> out;
  out.reserve(std::size_t{image.width} * image.height * 4);
  const auto* base = static_cast<const std::uint8_t*>(image.pixels);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const std::uint8_t* row = base + std::size_t{image.rowPitch} * (image.box.top + y);
    for (std::uint32_t x = image.box.left; x < image.box.left + image.width; ++x) {
      std::uint16_t r = 0, g = 0, b = 0, a = 0;
      switch (static_cast<DWORD>(image.format)) {
        case D3DFMT_L8: r = g = b = row[x], a = 255; break;
        case D3DFMT_A8L8: r = g = b = row[2 * x], a = row[2 * x + 1]; break;
        case D3DFMT_L16: r = g = b = LoadLe16(row + 2 * x), a = 65535; break;
        case kFourCC_AL16: r = g = b = LoadLe16(row + 4 * x), a = LoadLe16(row + 4 * x + 2); break;
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A8R8G8B8:
          b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
          a = image.format == D3DFMT_A8R8G8B8 ? row[4 * x + 3] : 255;
          break;
        case kFourCC_R16:
          b = LoadLe16(row + 6 * x), g = LoadLe16(row + 6 * x + 2), r = LoadLe16(row + 6 * x + 4), a = 65535;
          break;
        case D3DFMT_A16B16G16R16:
          r = LoadLe16(row + 8 * x), g = LoadLe16(row + 8 * x + 2), b = LoadLe16(row + 8 * x + 4);
          a = LoadLe16(row + 8 * x + 6);
          break;
        case D3DFMT_P8: {
          const PaletteEntry& e = image.palette[row[x]];
          r = e.red, g = e.green, b = e.blue, a = e.flags;
          break;
        }
        default: ADD_FAILURE() << "no reference layout for format " << image.format; return {};
      }
      out.insert(out.end(), {r, g, b, a});
    }
  }
  return out;
}

std::vector<std::uint8_t> Rgba8(const DecodedImage& image) {
  std::vector<std::uint8_t> argb(std::size_t{image.width} * image.height * 4);
  ImageRegion destination{};
  destination.pixels = argb.data();
  destination.format = D3DFMT_A8R8G8B8;
  destination.rowPitch = image.width * 4;
  destination.extent = destination.box = ImageBox{0, 0, image.width, image.height, 0, 1};
  ImageRegion source = image.Region();
  source.box.back = source.extent.back = source.box.front + 1;
  ImageBlitter blitter;
  if (FAILED(blitter.Run(destination, source, FilterFlags::None))) {
    ADD_FAILURE() << "no conversion from format " << image.format;
    return {};
  }
  for (std::size_t i = 0; i < argb.size(); i += 4) std::swap(argb[i], argb[i + 2]);
  return argb;
}

void MakeRecord(D3DFORMAT format, std::uint32_t width, std::uint32_t height, std::uint32_t seed, Storage* storage,
                DecodedImage* record) {
  std::uint32_t state = seed * 2654435761u + 7;
  const std::uint32_t bytes = FindPixelFormatInfo(format)->bitsPerTexel / 8;
  storage->texels.assign(std::size_t{width} * height * bytes, 0);
  storage->palette.clear();
  ImageRegion region{};
  region.pixels = storage->texels.data();
  region.format = format;
  region.rowPitch = width * bytes;
  region.extent = region.box = ImageBox{0, 0, width, height, 0, 1};
  if (format == D3DFMT_P8) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      const std::uint32_t v = Next(state);
      storage->palette.push_back(PaletteEntry{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                              static_cast<std::uint8_t>(v >> 16), 255});
    }
    for (std::uint8_t& t : storage->texels) t = static_cast<std::uint8_t>(Next(state));
    region.palette = storage->palette.data();
  } else {
    std::vector<std::uint8_t> argb(std::size_t{width} * height * 4);
    for (std::uint8_t& t : argb) t = static_cast<std::uint8_t>(Next(state));
    ImageRegion source = region;
    source.pixels = argb.data();
    source.format = D3DFMT_A8R8G8B8;
    source.rowPitch = width * 4;
    ImageBlitter blitter;
    EXPECT_EQ(blitter.Run(region, source, FilterFlags::None), S_OK) << "format " << format;
  }
  record->SetFromRegion(region);
}

void SetFloatRecord(std::vector<float>& rgba, std::uint32_t width, std::uint32_t height, DecodedImage* record) {
  ImageRegion region{};
  region.pixels = rgba.data();
  region.format = D3DFMT_A32B32G32R32F;
  region.rowPitch = width * 16;
  region.extent = region.box = ImageBox{0, 0, width, height, 0, 1};
  record->SetFromRegion(region);
}

std::vector<float> RecordFloats(const DecodedImage& image) {
  EXPECT_EQ(MapPrivateFormat(image.format), D3DFMT_A32B32G32R32F);
  std::vector<float> floats(std::size_t{image.width} * image.height * 4);
  if (image.format == D3DFMT_A32B32G32R32F) {
    std::memcpy(floats.data(), image.pixels, floats.size() * sizeof(float));
    return floats;
  }
  // The HDR reader's own forms, as their codec reads them.
  std::unique_ptr<PixelCodec> codec = CreatePixelCodec(image.Region());
  EXPECT_TRUE(codec) << image.format;
  for (std::uint32_t y = 0; codec && y < image.height; ++y)
    codec->ReadRow(y, 0, reinterpret_cast<ColorF*>(floats.data()) + std::size_t{y} * image.width);
  return floats;
}

std::vector<std::uint8_t> EncodeToMemory(DecodedImage& image, ImageFileType type) {
  DataBuffer* buffer = nullptr;
  EXPECT_EQ(image.EncodeImage(&buffer, type, ImageSinkKind::Memory), S_OK);
  if (!buffer) return {};
  const auto* p = static_cast<const std::uint8_t*>(buffer->GetPointer());
  std::vector<std::uint8_t> bytes(p, p + buffer->GetSize());
  buffer->Release();
  return bytes;
}

HRESULT DecodeBytes(const std::vector<std::uint8_t>& file, DecodedImage* image, ImageInfo* info) {
  return image->DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), info, true);
}

std::vector<std::uint8_t> ConvertRgba8(const std::string& path) {
  const std::vector<std::uint16_t> samples = ConvertRgba(path, 8);
  return std::vector<std::uint8_t>(samples.begin(), samples.end());
}

int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
  return worst;
}

namespace {

void ExpectCleanDecode(const std::vector<std::uint8_t>& bytes, bool mustFail, const std::string& what) {
  for (const bool wantPixels : {true, false}) {
    SCOPED_TRACE(what + (wantPixels ? "" : ", header only"));
    DecodedImage image;
    ImageInfo info{};
    const HRESULT hr = image.DecodeImage(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &info, wantPixels);
    // A header-only read may accept a file whose texels are cut short.
    if (FAILED(hr) || (mustFail && wantPixels)) {
      // Out of memory: a full decode whose header claims more than the ceiling.
      if (hr != E_OUTOFMEMORY || !wantPixels) {
        ASSERT_EQ(hr, GXLERR_INVALIDDATA);
      }
      EXPECT_EQ(image.pixels, nullptr);
      EXPECT_FALSE(image.OwnsPixels() || image.OwnsPalette());
      continue;
    }
    ASSERT_TRUE(image.width && image.height);
    if (!wantPixels || !image.pixels || image.OwnsPixels()) continue;
    // Texels read in place, of every level, face and slice, must all lie in
    // the data (ASan checks).
    unsigned sum = 0;
    for (const DecodedImage* face = &image; face; face = face->nextFace.get())
      for (const DecodedImage* level = face; level; level = level->nextMip.get()) {
        const std::uint64_t rowBytes = StoredRowBytes(level->format, level->width);
        for (std::uint32_t z = 0; z < level->depth; ++z)
          for (std::uint64_t y = 0; y < StoredRowCount(level->format, level->height); ++y) {
            const auto* row = static_cast<const std::uint8_t*>(level->pixels) + std::uint64_t{z} * level->slicePitch +
                              y * level->rowPitch;
            for (std::uint64_t x = 0; x < rowBytes; ++x) sum += row[x];
          }
      }
    if (image.format == D3DFMT_P8) {
      ASSERT_NE(image.palette, nullptr) << sum;
    }
  }
}

}  // namespace

void ExpectBrokenCopiesFailCleanly(const std::vector<std::uint8_t>& file, std::size_t failBelow, std::uint32_t seed) {
  std::uint32_t state = seed * 2654435761u + 1;
  const std::size_t step = file.size() / 97 + 1;
  for (std::size_t cut = 1; cut < file.size(); cut += cut < 64 ? 1 : step)
    ExpectCleanDecode(std::vector<std::uint8_t>(file.begin(), file.begin() + cut), cut > 0 && cut < failBelow,
                      "cut at " + std::to_string(cut));
  for (int n = 0; n < 300; ++n) {
    std::vector<std::uint8_t> broken = file;
    const std::size_t at = Next(state) % (n < 150 ? std::min<std::size_t>(file.size(), 64) : file.size());
    if (n % 3 == 2) {  // a run of garbage
      for (std::size_t i = at; i < std::min(file.size(), at + 1 + Next(state) % 16); ++i)
        broken[i] = static_cast<std::uint8_t>(Next(state));
    } else {
      broken[at] ^= static_cast<std::uint8_t>(1u << (Next(state) % 8));
    }
    ExpectCleanDecode(broken, false, "change " + std::to_string(n) + " at " + std::to_string(at));
  }
}

double PsnrRgb(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i % 4 == 3) continue;
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sum += d * d;
    ++n;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (sum / n));
}

std::vector<std::uint8_t> Scramble(std::vector<std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size() && i < 256; ++i) bytes[i] ^= static_cast<std::uint8_t>(i);
  return bytes;
}

}  // namespace imgtest

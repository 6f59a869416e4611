// Image files made by other tools for the codec and texture tests: netpbm
// rasters written here, turned into PNG and JPEG files by netpbm and
// ImageMagick, and the texels ImageMagick and PIL decode from files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "gxl/tex/decoded_image.h"

namespace imgtest {

// A little-endian byte string, for files laid out byte by byte.
struct Bytes {
  std::vector<std::uint8_t> v;
  Bytes& u8(std::initializer_list<int> b) {
    for (int x : b) v.push_back(static_cast<std::uint8_t>(x));
    return *this;
  }
  Bytes& u16(std::uint32_t x) { return u8({int(x & 0xFF), int(x >> 8 & 0xFF)}); }
  Bytes& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  Bytes& add(const std::vector<std::uint8_t>& b) {
    v.insert(v.end(), b.begin(), b.end());
    return *this;
  }
};

// A netpbm raster: 1 (grey) or 3 (RGB) channels, samples row by row.
struct Pnm {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t channels = 1;
  std::uint32_t maxval = 255;
  std::vector<std::uint16_t> samples;
};

// A deterministic pseudo-random raster with samples in [0, maxval]. With
// colours > 0 the texels are drawn from that many distinct non-grey colours.
Pnm MakeRaster(std::uint32_t width, std::uint32_t height, std::uint32_t channels, std::uint32_t maxval,
               std::uint32_t seed, std::uint32_t colours = 0);
// A smooth RGB picture (gradients and a disc), the kind compressors see.
Pnm MakePicture(std::uint32_t width, std::uint32_t height);
void WritePnm(const std::string& path, const Pnm& raster);

std::string Quote(const std::string& text);
// Runs a shell command; false (with a test failure naming it, its status and
// its standard error) when it does not exit with 0.
bool Run(const std::string& command);
// Runs a shell script in the folder; false as Run.
bool RunScript(const std::string& dir, const std::string& script);
// Fails the test unless every named program is on the path.
void RequireTools(const std::vector<std::string>& names);

// ImageMagick's texels: 4 samples per texel (red, green, blue, alpha) of 8 or
// 16 bits (little-endian); 8-bit results are widened to one sample per entry.
std::vector<std::uint16_t> ConvertRgba(const std::string& path, int depth);
// PIL's RGBA bytes of a file, and its mode before conversion.
std::vector<std::uint8_t> PilRgba(const std::string& path, std::string* mode = nullptr);
// "pngcheck -v" output; *ok receives whether pngcheck found no error.
std::string PngCheck(const std::string& path, bool* ok);

// Whether the record's format stores 16-bit channels.
bool IsWide(D3DFORMAT format);
// The record's top level as red, green, blue, alpha samples at its own depth
// (0-255 or 0-65535), read by the layout of its format.
std::vector<std::uint16_t> RecordRgba(const DecodedImage& image);

// The record's top level as 8-bit red, green, blue, alpha, converted by the
// blitter from whatever format it holds.
std::vector<std::uint8_t> Rgba8(const DecodedImage& image);
// A record of pseudo-random texels in `format`, converted by the blitter from
// A8R8G8B8 (P8: random indices into a random opaque palette). The record
// owns nothing: its texels and palette live in `storage`.
struct Storage {
  std::vector<std::uint8_t> texels;
  std::vector<PaletteEntry> palette;
};
void MakeRecord(D3DFORMAT format, std::uint32_t width, std::uint32_t height, std::uint32_t seed, Storage* storage,
                DecodedImage* record);
// A record describing width x height float texels (red, green, blue, alpha)
// in place; and the top level of an A32B32G32R32F record (or of one in a
// reader's form that reads as it) as such floats.
void SetFloatRecord(std::vector<float>& rgba, std::uint32_t width, std::uint32_t height, DecodedImage* record);
std::vector<float> RecordFloats(const DecodedImage& image);
// The bytes EncodeImage writes to memory for the chain; empty on failure
// (with a test failure).
std::vector<std::uint8_t> EncodeToMemory(DecodedImage& image, ImageFileType type);
// DecodeImage of the whole file with its texels.
HRESULT DecodeBytes(const std::vector<std::uint8_t>& file, DecodedImage* image, ImageInfo* info = nullptr);

// ImageMagick's 8-bit RGBA of a file.
std::vector<std::uint8_t> ConvertRgba8(const std::string& path);
// The largest difference of two sample arrays; 256 when their lengths differ.
int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// Decodes copies of a file cut short at many points (the cuts below
// failBelow must fail), with single bits flipped and with runs of bytes
// overwritten, each in a buffer of its exact size. Every copy must either
// fail with GXLERR_INVALIDDATA and keep nothing, or give a record whose texels
// can all be read.
void ExpectBrokenCopiesFailCleanly(const std::vector<std::uint8_t>& file, std::size_t failBelow, std::uint32_t seed);

// Peak signal-to-noise ratio in dB of two equally long 8-bit sample arrays
// over the red, green and blue samples of RGBA texels.
double PsnrRgb(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// The scrambled form of a picture: each of the first 256 bytes combined by
// exclusive-or with its index. Its own inverse.
std::vector<std::uint8_t> Scramble(std::vector<std::uint8_t> bytes);

}  // namespace imgtest

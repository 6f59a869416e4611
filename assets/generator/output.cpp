#include "assets/generator/output.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace assetgen {

namespace {

bool IsPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

// libpng reports failures through longjmp; ours become exceptions after the
// jump lands in EncodePng.
void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

}  // namespace

std::vector<std::uint8_t> EncodePng(const Canvas& canvas) {
  std::vector<std::uint8_t> pixels = canvas.ToRgba8();
  std::vector<std::uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  if (!png) throw std::runtime_error("libpng: cannot create a writer");
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    throw std::runtime_error("libpng: cannot encode a picture");
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width()), static_cast<png_uint_32>(canvas.height()), 8,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  size_t stride = static_cast<size_t>(canvas.width()) * 4;
  for (int y = 0; y < canvas.height(); ++y) png_write_row(png, pixels.data() + stride * y);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

void Scramble(std::vector<std::uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size() && i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ i);
}

Output::Output(std::string root) : m_root(std::move(root)) {}

std::string Output::Prepare(const std::string& relPath) {
  std::filesystem::path p = std::filesystem::path(m_root) / relPath;
  std::filesystem::create_directories(p.parent_path());
  return p.string();
}

void Output::Picture(const std::string& relPath, const Canvas& canvas) {
  if (!IsPowerOfTwo(canvas.width()) || !IsPowerOfTwo(canvas.height()))
    throw std::runtime_error(relPath + ": sides must be powers of two");
  Bytes(relPath, EncodePng(canvas));
}

void Output::ScrambledPicture(const std::string& relPath, const Canvas& canvas) {
  if (!IsPowerOfTwo(canvas.width()) || !IsPowerOfTwo(canvas.height()))
    throw std::runtime_error(relPath + ": sides must be powers of two");
  std::vector<std::uint8_t> bytes = EncodePng(canvas);
  Scramble(bytes);
  Bytes(relPath, bytes);
}

void Output::Bytes(const std::string& relPath, const std::vector<std::uint8_t>& data) {
  std::string path = Prepare(relPath);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

void Output::Text(const std::string& relPath, const std::string& text) {
  Bytes(relPath, std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace assetgen

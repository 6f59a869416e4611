// PNG files through libpng: the reader picks the library transforms that lay
// the samples out as this library's pixel formats; the writer stores 8-bit
// RGB, 8-bit RGBA or 16-bit RGBA.
//
// libpng reports fatal errors by a long jump. Every function that sets the
// jump target ("Guarded") holds nothing that needs destruction, and neither do
// the callbacks the library calls; what must be freed after a jump lives in a
// plain job record owned by the caller.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/image_output_stream.h"
#include "gxl/tex/pixel_format.h"

namespace {

// The display gamma the reader corrects files with a gAMA chunk for.
constexpr double kScreenGamma = 2.2;

// What a small hostile file may make libpng allocate: the header's sides,
// one ancillary chunk (text, colour profiles; longer ones are skipped), and
// everything libpng holds at once (a row or two at the widest, its
// decompressor, one chunk), which its own limits do not bound on every version.
constexpr png_uint_32 kMaxSide = 1000000;
constexpr png_alloc_size_t kMaxChunk = 8000000;
constexpr std::size_t kMaxLibraryBytes = 64u << 20;

void PNGCBAPI JumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PNGCBAPI IgnoreWarning(png_structp, png_const_charp) {}

// libpng's allocations, counted against kMaxLibraryBytes. A refused request
// is an out-of-memory condition to libpng: an error, or a skipped chunk.
struct LibraryMemory {
  std::size_t live = 0;
};
union BlockHeader {
  std::size_t size;
  std::max_align_t align;
};

png_voidp PNGCBAPI AllocateCounted(png_structp png, png_alloc_size_t size) {
  auto* memory = static_cast<LibraryMemory*>(png_get_mem_ptr(png));
  if (size > kMaxLibraryBytes - memory->live) return nullptr;
  auto* block = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (!block) return nullptr;
  block->size = size;
  memory->live += size;
  return block + 1;
}

void PNGCBAPI FreeCounted(png_structp png, png_voidp p) {
  if (!p) return;
  BlockHeader* block = static_cast<BlockHeader*>(p) - 1;
  static_cast<LibraryMemory*>(png_get_mem_ptr(png))->live -= block->size;
  std::free(block);
}

// ---------------------------------------------------------------------------
// Reading

struct PngReadJob {
  LibraryMemory memory;
  png_structp png;
  png_infop info;
  const std::uint8_t* next;  // the next unread byte
  std::size_t left;
  DecodedImage* image;
  png_bytep* rows;  // new[]; freed by the caller
};

void PNGCBAPI ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
  auto* job = static_cast<PngReadJob*>(png_get_io_ptr(png));
  if (count > job->left) png_error(png, "read error");
  std::memcpy(out, job->next, count);
  job->next += count;
  job->left -= count;
}

// The channels the library must deliver for each format.
int ChannelsOf(D3DFORMAT format) {
  switch (static_cast<DWORD>(format)) {
    case D3DFMT_L8:
    case D3DFMT_L16:
    case D3DFMT_P8:
      return 1;
    case D3DFMT_A8L8:
    case kFourCC_AL16:
      return 2;
    case kFourCC_R16:
      return 3;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A16B16G16R16:
      return 4;
    default:
      return 0;
  }
}

// The table a palette's entries go through: v -> 255 (v / 255)^(1 / (file
// gamma x screen gamma)), rounded, with the exponent at libpng's fixed-point
// precision (1/100000). libpng skips the correction of the other colour
// types when the product of the two gammas lies within its threshold of 1;
// so does this table, and palette and RGB files of the same colours decode
// alike. (The palette is corrected here, not by libpng: whether libpng
// corrects the palette the info structure hands out is not documented and
// differs between builds of one version.)
void BuildGammaTable(png_fixed_point fileGamma, std::uint8_t* table) {
  for (int v = 0; v < 256; ++v) table[v] = static_cast<std::uint8_t>(v);
  const double file = fileGamma / double{PNG_FP_1};
  if (file <= 0.000001 || std::fabs(file * kScreenGamma - 1) <= PNG_GAMMA_THRESHOLD) return;
  const double exponent = std::floor(PNG_FP_1 / (file * kScreenGamma) + 0.5) / PNG_FP_1;
  for (int v = 1; v < 255; ++v)
    table[v] = static_cast<std::uint8_t>(std::floor(255 * std::pow(v / 255.0, exponent) + 0.5));
}

// The file's PLTE entries through the gamma table, with the tRNS alpha
// values; entries beyond the PLTE chunk are opaque white.
void BuildPalette(png_structp png, png_infop info, const std::uint8_t* table, PaletteEntry* out) {
  png_colorp plte = nullptr;
  int count = 0;
  png_get_PLTE(png, info, &plte, &count);
  png_bytep alpha = nullptr;
  int alphaCount = 0;
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
  if (!plte) count = 0;
  if (!alpha) alphaCount = 0;
  for (int i = 0; i < 256; ++i) {
    if (i < count)
      out[i] = PaletteEntry{table[plte[i].red], table[plte[i].green], table[plte[i].blue],
                            static_cast<std::uint8_t>(i < alphaCount ? alpha[i] : 255)};
    else
      out[i] = PaletteEntry{255, 255, 255, 255};
  }
}

HRESULT GuardedReadPng(PngReadJob* job) {
  if (setjmp(png_jmpbuf(job->png))) return E_FAIL;
  png_structp png = job->png;
  png_infop info = job->info;
  DecodedImage* image = job->image;

  png_set_read_fn(png, job, ReadFromMemory);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(png, kMaxChunk);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  if (image->decodePixels && !image->WithinCeiling(width, height)) return E_OUTOFMEMORY;

  DWORD format;
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
      format = D3DFMT_L8;
      break;
    case PNG_COLOR_TYPE_RGB:
      format = D3DFMT_R8G8B8;
      break;
    case PNG_COLOR_TYPE_PALETTE:
      format = D3DFMT_P8;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      format = D3DFMT_A8L8;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      format = D3DFMT_A8R8G8B8;
      break;
    default:
      return E_FAIL;
  }

  if (bitDepth == 16) {
    if (format == D3DFMT_P8) return E_FAIL;
    png_set_swap(png);  // little-endian samples
    if (format == D3DFMT_R8G8B8)
      format = kFourCC_R16;
    else if (format == D3DFMT_A8R8G8B8)
      format = D3DFMT_A16B16G16R16;
    else if (format == D3DFMT_L8)
      format = D3DFMT_L16;
    else
      format = kFourCC_AL16;
  } else if (bitDepth < 8) {
    png_set_packing(png);  // one sample per byte
    if (colourType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
  }

  // Palette entries are corrected by the reader itself (BuildGammaTable).
  int intent = 0;
  png_fixed_point fileGamma = 0;
  if (png_get_sRGB(png, info, &intent)) {
    png_set_sRGB(png, info, intent);
  } else if (png_get_gAMA_fixed(png, info, &fileGamma)) {
    if (format != D3DFMT_P8) png_set_gamma_fixed(png, static_cast<png_fixed_point>(kScreenGamma * PNG_FP_1), fileGamma);
  }

  if (format != D3DFMT_P8 && png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(png);
    if (format == D3DFMT_R8G8B8)
      format = D3DFMT_A8R8G8B8;
    else if (format == D3DFMT_L8)
      format = D3DFMT_A8L8;
    else if (format == D3DFMT_L16)
      format = kFourCC_AL16;
    else if (format == kFourCC_R16)
      format = D3DFMT_A16B16G16R16;
  }

  // Blue first in memory, as the 32-bit ARGB words and " R16" store it.
  if (format == D3DFMT_R8G8B8 || format == kFourCC_R16 || format == D3DFMT_A8R8G8B8) png_set_bgr(png);
  if (format == D3DFMT_R8G8B8) {
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    format = D3DFMT_X8R8G8B8;
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  if (png_get_channels(png, info) != ChannelsOf(static_cast<D3DFORMAT>(format))) return E_FAIL;
  const std::uint64_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes > 0xFFFFFFFFu || rowBytes * height > 0xFFFFFFFFu) return E_OUTOFMEMORY;

  image->format = static_cast<D3DFORMAT>(format);
  image->width = width;
  image->height = height;
  image->depth = 1;
  image->rowPitch = static_cast<std::uint32_t>(rowBytes);
  image->slicePitch = 0;
  if (!image->decodePixels) return S_OK;

  if (format == D3DFMT_P8) {
    PaletteEntry* palette = image->AllocatePalette();
    if (!palette) return E_OUTOFMEMORY;
    std::uint8_t table[256];
    BuildGammaTable(fileGamma, table);  // 0 (no correction) for sRGB files
    BuildPalette(png, info, table, palette);
  }
  // libpng writes every row or fails.
  std::uint8_t* pixels = image->AllocateWrittenPixels(rowBytes * height);
  if (!pixels) return E_OUTOFMEMORY;
  job->rows = new (std::nothrow) png_bytep[height];
  if (!job->rows) return E_OUTOFMEMORY;
  for (png_uint_32 y = 0; y < height; ++y) job->rows[y] = pixels + rowBytes * y;
  png_read_image(png, job->rows);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Writing

struct PngWriteJob {
  png_structp png;
  png_infop info;
  ImageOutputStream* stream;
  const DecodedImage* image;
  png_bytep row;  // new[]; freed by the caller
};

void PNGCBAPI WriteToStream(png_structp png, png_bytep data, png_size_t count) {
  auto* job = static_cast<PngWriteJob*>(png_get_io_ptr(png));
  if (count > 0xFFFFFFFFu || FAILED(job->stream->Write(data, static_cast<std::uint32_t>(count), nullptr)))
    png_error(png, "write error");
}
void PNGCBAPI FlushNothing(png_structp) {}

HRESULT GuardedWritePng(PngWriteJob* job) {
  if (setjmp(png_jmpbuf(job->png))) return E_FAIL;
  png_structp png = job->png;
  png_infop info = job->info;
  const DecodedImage* image = job->image;

  const bool wide = image->format == D3DFMT_A16B16G16R16;
  const bool alpha = wide || image->format == D3DFMT_A8R8G8B8;
  const std::uint32_t channels = alpha ? 4 : 3;
  const std::uint32_t sampleBytes = wide ? 2 : 1;
  const std::uint32_t texelBytes = wide ? 8 : 4;

  png_set_IHDR(png, info, image->width, image->height, wide ? 16 : 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // The gAMA value of samples meant for a display of gamma 2.2.
  png_set_gAMA(png, info, 1.0 / kScreenGamma);

  const std::uint64_t rowBytes = std::uint64_t{image->width} * channels * sampleBytes;
  if (rowBytes > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  job->row = new (std::nothrow) png_byte[rowBytes ? rowBytes : 1];
  if (!job->row) return E_OUTOFMEMORY;
  png_set_write_fn(png, job, WriteToStream, FlushNothing);
  png_write_info(png, info);

  const auto* first = static_cast<const std::uint8_t*>(image->pixels) +
                      std::uint64_t{image->box.top} * image->rowPitch + std::uint64_t{image->box.left} * texelBytes;
  for (std::uint32_t y = 0; y < image->height; ++y) {
    const std::uint8_t* in = first + std::uint64_t{y} * image->rowPitch;
    png_bytep out = job->row;
    if (wide) {
      // Little-endian red, green, blue, alpha to big-endian samples.
      for (std::uint32_t i = 0; i < image->width * 4; ++i, in += 2, out += 2) {
        out[0] = in[1];
        out[1] = in[0];
      }
    } else {
      for (std::uint32_t x = 0; x < image->width; ++x, in += 4) {
        std::uint32_t word;
        std::memcpy(&word, in, 4);
        *out++ = static_cast<png_byte>(word >> 16);
        *out++ = static_cast<png_byte>(word >> 8);
        *out++ = static_cast<png_byte>(word);
        if (alpha) *out++ = static_cast<png_byte>(word >> 24);
      }
    }
    png_write_row(png, job->row);
  }
  png_write_end(png, nullptr);
  return S_OK;
}

}  // namespace

HRESULT DecodedImage::ReadPng(const std::uint8_t* data, std::uint32_t size) {
  if (png_sig_cmp(data, 0, std::min<std::size_t>(size, 8)) != 0) return E_FAIL;
  PngReadJob job{};
  job.next = data;
  job.left = size;
  job.image = this;
  // The installed library's own version: libpng refuses older interface versions.
  job.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning, &job.memory,
                                     AllocateCounted, FreeCounted);
  if (!job.png) return E_OUTOFMEMORY;
  job.info = png_create_info_struct(job.png);
  const HRESULT hr = job.info ? GuardedReadPng(&job) : E_OUTOFMEMORY;
  png_destroy_read_struct(&job.png, job.info ? &job.info : nullptr, nullptr);
  delete[] job.rows;
  return hr;
}

HRESULT DecodedImage::WritePng(ImageOutputStream& stream) {
  if (format != D3DFMT_X8R8G8B8 && format != D3DFMT_A8R8G8B8 && format != D3DFMT_A16B16G16R16) return E_FAIL;
  if (!pixels && width && height) return E_FAIL;
  PngWriteJob job{};
  job.stream = &stream;
  job.image = this;
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
  if (!job.png) return E_OUTOFMEMORY;
  job.info = png_create_info_struct(job.png);
  const HRESULT hr = job.info ? GuardedWritePng(&job) : E_OUTOFMEMORY;
  png_destroy_write_struct(&job.png, job.info ? &job.info : nullptr);
  delete[] job.row;
  return hr;
}

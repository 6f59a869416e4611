// JPEG files through libjpeg: grey or RGB scanlines read into L8 or X8R8G8B8,
// X8R8G8B8 written as RGB at the library's default quality.
//
// libjpeg's error exit leaves by a long jump. Every function that sets the
// jump target ("Guarded") holds nothing that needs destruction, and neither do
// the callbacks; what must be freed after a jump lives in a plain job record
// owned by the caller.
#include <emmintrin.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "gxl/math/cpu_detect.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/image_output_stream.h"

namespace {

struct JpegErrorExit {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void JumpOnError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegErrorExit*>(cinfo->err)->jump, 1); }
void DropMessage(j_common_ptr) {}

void SetUpErrors(JpegErrorExit& error) {
  jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpOnError;
  error.manager.output_message = DropMessage;
}

// ---------------------------------------------------------------------------
// Reading

// The whole file is offered at the first request for data. The library asks
// again only when the data ended before the image did: that is an error, not
// a reason to offer the same bytes again.
struct MemorySource {
  jpeg_source_mgr manager;
  const std::uint8_t* data;
  std::size_t size;
  bool offered;
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
  if (source->offered) ERREXIT(cinfo, JERR_INPUT_EOF);
  source->offered = true;
  source->manager.next_input_byte = source->data;
  source->manager.bytes_in_buffer = source->size;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* source = cinfo->src;
  const std::size_t skip = static_cast<std::size_t>(count) < source->bytes_in_buffer ? static_cast<std::size_t>(count)
                                                                                     : source->bytes_in_buffer;
  source->next_input_byte += skip;
  source->bytes_in_buffer -= skip;
}

// Scans a file may hold. Each scan of a multi-scan file is a pass over the
// whole image, which the file may repeat for a few bytes a time; encoders
// write about ten.
constexpr int kMaxScans = 256;

// libjpeg's working memory (mostly the coefficients a multi-scan file keeps
// for the whole image) for a file at the ceiling: three components of two
// bytes a texel, with room for blocks padded to whole units and the tables.
long WorkingMemory(std::uint64_t maxTexels) {
  constexpr long kTables = 32l << 20;
  return maxTexels > (LONG_MAX - kTables) / 8 ? LONG_MAX : static_cast<long>(maxTexels) * 8 + kTables;
}

void CountScans(j_common_ptr cinfo) {
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) JumpOnError(cinfo);
}

// Scanlines the reader asks for at once.
constexpr JDIMENSION kBatchRows = 16;
// Images larger than this are written past the cache: the texture build reads
// them back only after the whole image is done.
constexpr std::uint64_t kStreamedImageBytes = 4u << 20;

// Copies `count` four-byte texels with their fourth byte cleared.
void CopyClearingTopBytes(const std::uint8_t* in, std::uint8_t* out, std::uint32_t count, bool stream) {
  const __m128i keep = _mm_set1_epi32(0x00FFFFFF);
  std::uint32_t x = 0;
  auto one = [&] {
    std::uint32_t word;
    std::memcpy(&word, in + 4 * std::uint64_t{x}, 4);
    word &= 0x00FFFFFFu;
    std::memcpy(out + 4 * std::uint64_t{x}, &word, 4);
    ++x;
  };
  if (stream) {
    while (x < count && reinterpret_cast<std::uintptr_t>(out + 4 * std::uint64_t{x}) % 16) one();
    for (; x + 4 <= count; x += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * std::uint64_t{x}));
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + 4 * std::uint64_t{x}), _mm_and_si128(v, keep));
    }
  } else {
    for (; x + 4 <= count; x += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * std::uint64_t{x}));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * std::uint64_t{x}), _mm_and_si128(v, keep));
    }
  }
  while (x < count) one();
}

struct JpegReadJob {
  jpeg_decompress_struct cinfo;
  JpegErrorExit error;
  jpeg_progress_mgr progress;
  DecodedImage* image;
};

HRESULT GuardedReadJpeg(JpegReadJob* job, const std::uint8_t* data, std::uint32_t size) {
  SetUpErrors(job->error);
  job->cinfo.err = &job->error.manager;
  if (setjmp(job->error.jump)) return E_FAIL;
  j_decompress_ptr cinfo = &job->cinfo;
  DecodedImage* image = job->image;
  jpeg_create_decompress(cinfo);

  auto* source = static_cast<MemorySource*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemorySource)));
  source->manager.next_input_byte = nullptr;
  source->manager.bytes_in_buffer = 0;
  source->manager.init_source = InitSource;
  source->manager.fill_input_buffer = FillInput;
  source->manager.skip_input_data = SkipInput;
  source->manager.resync_to_restart = jpeg_resync_to_restart;
  source->manager.term_source = TermSource;
  source->data = data;
  source->size = size;
  source->offered = false;
  cinfo->src = &source->manager;

  jpeg_read_header(cinfo, TRUE);
  if (!IsMmxAvailable()) cinfo->dct_method = JDCT_IFAST;
  // Colour comes as four bytes a texel (blue, green, red, a filler) straight
  // into the image's rows where the library offers that layout; otherwise as
  // three bytes, repacked.
  bool fourBytes = false;
#ifdef JCS_EXTENSIONS
  if (cinfo->out_color_space == JCS_RGB) {
    cinfo->out_color_space = JCS_EXT_BGRX;
    fourBytes = true;
  }
#endif
  // The output's size and components, from the header alone: starting the
  // decompression allocates for the whole image, and for a multi-scan file
  // reads every scan.
  jpeg_calc_output_dimensions(cinfo);

  const auto outputComponents = static_cast<std::uint32_t>(cinfo->output_components);
  const std::uint32_t components = fourBytes && outputComponents == 4 ? 3 : outputComponents;
  if (components != 1 && components != 3) return E_FAIL;
  const std::uint32_t width = cinfo->output_width;
  const std::uint32_t height = cinfo->output_height;
  const std::uint64_t rowPitch = std::uint64_t{width} * (components == 1 ? 1 : 4);
  if (rowPitch * height > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  image->format = components == 1 ? D3DFMT_L8 : D3DFMT_X8R8G8B8;
  image->width = width;
  image->height = height;
  image->depth = 1;
  image->rowPitch = static_cast<std::uint32_t>(rowPitch);
  image->slicePitch = 0;
  if (!image->decodePixels) return S_OK;

  // A few bytes may declare any size, and entropy data that ends early
  // decodes as zeros: the declared size decides.
  if (!image->WithinCeiling(width, height)) return E_OUTOFMEMORY;
  cinfo->mem->max_memory_to_use = WorkingMemory(image->maxTexels);
  job->progress.progress_monitor = CountScans;
  cinfo->progress = &job->progress;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width != width || cinfo->output_height != height ||
      static_cast<std::uint32_t>(cinfo->output_components) != outputComponents)
    return E_FAIL;

  std::uint8_t* pixels = image->AllocateWrittenPixels(rowPitch * height);
  if (!pixels) return E_OUTOFMEMORY;
  if (components == 1) {
    // Grey scanlines straight into the rows, as many as the library gives at once.
    JSAMPROW rows[kBatchRows];
    while (cinfo->output_scanline < cinfo->output_height) {
      const JDIMENSION first = cinfo->output_scanline;
      const JDIMENSION count = std::min<JDIMENSION>(kBatchRows, cinfo->output_height - first);
      for (JDIMENSION i = 0; i < count; ++i) rows[i] = pixels + rowPitch * (first + i);
      if (jpeg_read_scanlines(cinfo, rows, count) == 0) return E_FAIL;
    }
  } else if (fourBytes) {
    // A batch of colour scanlines into rows 4 bytes off 16-byte alignment,
    // where the library's converter stores through the cache (it streams
    // aligned rows to memory); then into the image with the filler byte
    // cleared, as the repacked texels have it.
    const std::size_t scratchPitch = (rowPitch + 15) & ~std::size_t{15};
    auto* scratch = static_cast<std::uint8_t*>((*cinfo->mem->alloc_large)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, scratchPitch * kBatchRows + 32));
    std::uint8_t* first = scratch + (16 - reinterpret_cast<std::uintptr_t>(scratch) % 16) + 4;
    JSAMPROW rows[kBatchRows];
    for (JDIMENSION i = 0; i < kBatchRows; ++i) rows[i] = first + scratchPitch * i;
    const bool stream = rowPitch * height > kStreamedImageBytes;
    while (cinfo->output_scanline < cinfo->output_height) {
      const JDIMENSION y = cinfo->output_scanline;
      const JDIMENSION read =
          jpeg_read_scanlines(cinfo, rows, std::min<JDIMENSION>(kBatchRows, cinfo->output_height - y));
      if (read == 0) return E_FAIL;
      for (JDIMENSION i = 0; i < read; ++i) CopyClearingTopBytes(rows[i], pixels + rowPitch * (y + i), width, stream);
    }
    if (stream) _mm_sfence();
  } else {
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, width * 3, 1);
    while (cinfo->output_scanline < cinfo->output_height) {
      std::uint8_t* out = pixels + rowPitch * cinfo->output_scanline;
      if (jpeg_read_scanlines(cinfo, row, 1) != 1) return E_FAIL;
      const JSAMPLE* in = row[0];
      for (std::uint32_t x = 0; x < width; ++x, in += 3, out += 4) {
        const std::uint32_t word = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        std::memcpy(out, &word, 4);
      }
    }
  }
  jpeg_finish_decompress(cinfo);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Writing

constexpr std::size_t kOutputBlock = 4096;

struct StreamDestination {
  jpeg_destination_mgr manager;
  ImageOutputStream* stream;
  JOCTET buffer[kOutputBlock];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<StreamDestination*>(cinfo->dest);
  destination->manager.next_output_byte = destination->buffer;
  destination->manager.free_in_buffer = kOutputBlock;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<StreamDestination*>(cinfo->dest);
  if (FAILED(destination->stream->Write(destination->buffer, kOutputBlock, nullptr))) ERREXIT(cinfo, JERR_FILE_WRITE);
  destination->manager.next_output_byte = destination->buffer;
  destination->manager.free_in_buffer = kOutputBlock;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<StreamDestination*>(cinfo->dest);
  const auto used = static_cast<std::uint32_t>(kOutputBlock - destination->manager.free_in_buffer);
  if (FAILED(destination->stream->Write(destination->buffer, used, nullptr))) ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct JpegWriteJob {
  jpeg_compress_struct cinfo;
  JpegErrorExit error;
  StreamDestination destination;
  const DecodedImage* image;
  JSAMPLE* row;  // new[]; freed by the caller
};

HRESULT GuardedWriteJpeg(JpegWriteJob* job) {
  SetUpErrors(job->error);
  job->cinfo.err = &job->error.manager;
  if (setjmp(job->error.jump)) return E_FAIL;
  j_compress_ptr cinfo = &job->cinfo;
  const DecodedImage* image = job->image;
  jpeg_create_compress(cinfo);

  job->destination.manager.init_destination = InitDestination;
  job->destination.manager.empty_output_buffer = EmptyOutput;
  job->destination.manager.term_destination = TermDestination;
  cinfo->dest = &job->destination.manager;

  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  cinfo->input_gamma = 2.2;
  cinfo->image_width = image->width;
  cinfo->image_height = image->height;
  cinfo->input_components = 3;
  jpeg_start_compress(cinfo, TRUE);

  job->row = new (std::nothrow) JSAMPLE[std::uint64_t{image->width} * 3];
  if (!job->row) return E_OUTOFMEMORY;
  const auto* first = static_cast<const std::uint8_t*>(image->pixels) +
                      std::uint64_t{image->box.top} * image->rowPitch + std::uint64_t{image->box.left} * 4;
  for (std::uint32_t y = 0; y < image->height; ++y) {
    const std::uint8_t* in = first + std::uint64_t{y} * image->rowPitch;
    JSAMPLE* out = job->row;
    for (std::uint32_t x = 0; x < image->width; ++x, in += 4) {
      std::uint32_t word;
      std::memcpy(&word, in, 4);
      *out++ = static_cast<JSAMPLE>(word >> 16);
      *out++ = static_cast<JSAMPLE>(word >> 8);
      *out++ = static_cast<JSAMPLE>(word);
    }
    JSAMPROW rows[1] = {job->row};
    jpeg_write_scanlines(cinfo, rows, 1);
  }
  jpeg_finish_compress(cinfo);
  return S_OK;
}

}  // namespace

HRESULT DecodedImage::ReadJpeg(const std::uint8_t* data, std::uint32_t size) {
  std::unique_ptr<JpegReadJob> job(new (std::nothrow) JpegReadJob{});
  if (!job) return E_OUTOFMEMORY;
  job->image = this;
  const HRESULT hr = GuardedReadJpeg(job.get(), data, size);
  jpeg_destroy_decompress(&job->cinfo);  // also safe on a structure whose creation failed part-way
  return hr;
}

HRESULT DecodedImage::WriteJpeg(ImageOutputStream& stream) {
  if (format != D3DFMT_X8R8G8B8) return E_FAIL;
  std::unique_ptr<JpegWriteJob> job(new (std::nothrow) JpegWriteJob{});
  if (!job) return E_OUTOFMEMORY;
  job->destination.stream = &stream;
  job->image = this;
  const HRESULT hr = GuardedWriteJpeg(job.get());
  jpeg_destroy_compress(&job->cinfo);
  delete[] job->row;
  return hr;
}

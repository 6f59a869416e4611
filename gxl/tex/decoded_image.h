// The in-memory form of an image file: one record per mip level and cube
// face, the top level first, further levels behind nextMip and further faces
// behind nextFace. The readers fill it from file bytes; the export functions
// fill it from locked surfaces and hand it to the writers.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "gxl/tex/image_info.h"
#include "gxl/tex/image_region.h"
#include "platform/d3d9_types.h"

class ImageOutputStream;

// Where EncodeImage writes: an 8-bit or UTF-16 file name, or memory (the sink
// is then a DataBuffer** that receives the encoded bytes on success).
enum class ImageSinkKind : std::uint32_t {
  FileA = 0,
  FileW = 1,
  Memory = 2,
};

// Zero-filled texel storage. Large blocks come from the system as untouched
// zero pages, so rows that a sparse file (run-length data ending early) never
// writes cost no work. Null beyond 32 bits or when memory runs out.
struct FreeImageBytes {
  void operator()(std::uint8_t* p) const { std::free(p); }
};
using ImageBytes = std::unique_ptr<std::uint8_t[], FreeImageBytes>;
ImageBytes AllocateImageBytes(std::uint64_t bytes);
// The same storage not filled, for writers of every byte.
ImageBytes AllocateUnfilledImageBytes(std::uint64_t bytes);

// The most texels (width x height) a full decode of a PNG, JPEG, HDR or
// run-length BMP file allocates unless the caller sets a lower ceiling: their
// headers declare sizes that a few bytes of data, or none, can claim. 8192 x 8192 texels
// take 256 MB as 32-bit texels, 1 GB as four floats. Header-only reads report
// any size.
constexpr std::uint64_t kDecodeTexelBudget = std::uint64_t{8192} * 8192;

class DecodedImage {
 public:
  DecodedImage() = default;
  ~DecodedImage() = default;
  DecodedImage(const DecodedImage&) = delete;
  DecodedImage& operator=(const DecodedImage&) = delete;

  // Tries the readers in a fixed order until one accepts the bytes: formats
  // with a magic number first, TGA and bare DIB headers last. Without
  // decodePixels only the header fields are read. The numeric locale is "C"
  // for the duration. D3DERR_INVALIDCALL for null data or size 0;
  // GXLERR_INVALIDDATA when no reader accepts the bytes (no partial result
  // survives a failed reader), E_OUTOFMEMORY when the file's reader refused
  // it for being above maxTexels. On success every record's box is its whole
  // image.
  HRESULT DecodeImage(const void* data, std::uint32_t size, ImageInfo* info, bool decodePixels);

  // Makes this record describe the working box of a region in place, owning
  // nothing. The box is kept exactly, for block and pair formats too: the
  // writers that store whole blocks widen it themselves.
  HRESULT SetFromRegion(const ImageRegion& region);

  // Writes the chain that starts at this record as a file of the given type.
  // Records whose format the type cannot hold are converted first (this
  // record then owns the converted texels). For ImageSinkKind::Memory the
  // sink is a DataBuffer**, set only when everything succeeded.
  // D3DERR_INVALIDCALL for PPM, unknown types and formats no candidate of the
  // type matches; E_OUTOFMEMORY; stream and writer failures pass through.
  HRESULT EncodeImage(const void* sink, ImageFileType type, ImageSinkKind kind);

  // Frees what the record owns and both chains, and clears the pixel and
  // palette pointers.
  void Clear();

  // Owned storage for the readers: the record's pixels (zero-filled) or
  // palette of 256 entries then point at it. Null when the size is beyond 32
  // bits or memory runs out.
  std::uint8_t* AllocatePixels(std::uint64_t bytes);
  PaletteEntry* AllocatePalette();
  // The same pixels without the zero fill, for readers that write every byte
  // before they succeed (a failed read's pixels are never looked at).
  std::uint8_t* AllocateWrittenPixels(std::uint64_t bytes);
  // Owned pixels, not filled, for one slice of width x height texels of
  // texelBytes each, rows packed, which the reader writes whole; sets the
  // format, size and pitches. Null when the size is beyond 32 bits or memory
  // runs out.
  std::uint8_t* AllocateImage(D3DFORMAT texelFormat, std::uint32_t w, std::uint32_t h, std::uint32_t texelBytes);

  // For the readers before a full decode allocates: whether w x h texels lie
  // within maxTexels. When they do not, DecodeImage reports E_OUTOFMEMORY
  // should no other reader accept the bytes.
  bool WithinCeiling(std::uint64_t w, std::uint64_t h);

  bool OwnsPixels() const { return m_ownedPixels != nullptr; }
  bool OwnsPalette() const { return m_ownedPalette != nullptr; }
  // 1 + the number of records behind nextMip.
  std::uint32_t LevelCount() const;
  // The record as a source region: its pixels, format, pitches, box and palette.
  ImageRegion Region() const;

  // The readers: 0 when the bytes are of their type and were read; a failure
  // (E_FAIL for "not this type") otherwise, possibly leaving partial output.
  HRESULT ReadBmp(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadJpeg(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadTga(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadPng(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadDds(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadPpm(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadDib(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadHdr(const std::uint8_t* data, std::uint32_t size);
  HRESULT ReadPfm(const std::uint8_t* data, std::uint32_t size);

  // The writers, each given a record in a format of its type's candidate list.
  HRESULT WriteBmp(ImageOutputStream& stream, bool fileHeader);
  HRESULT WriteJpeg(ImageOutputStream& stream);
  HRESULT WriteTga(ImageOutputStream& stream);
  HRESULT WritePng(ImageOutputStream& stream);
  HRESULT WriteDds(ImageOutputStream& stream);
  HRESULT WriteHdr(ImageOutputStream& stream);
  HRESULT WritePfm(ImageOutputStream& stream);

  D3DFORMAT format = D3DFMT_UNKNOWN;  // may be a private "AL16" or " R16"
  void* pixels = nullptr;             // owned storage or memory that outlives the record
  const PaletteEntry* palette = nullptr;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t depth = 0;
  ImageBox box{};                // the part of the texels that holds the image
  std::uint32_t rowPitch = 0;    // block formats: one row of blocks
  std::uint32_t slicePitch = 0;  // 0 for one slice
  bool decodePixels = false;     // set by DecodeImage: false asks the reader for the header only
  // Set by the caller: the most texels a full decode may allocate (texture
  // builds lower it to the largest texture their device can create).
  std::uint64_t maxTexels = kDecodeTexelBudget;
  D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;
  ImageFileType fileType = ImageFileType::Bmp;
  std::unique_ptr<DecodedImage> nextMip;
  std::unique_ptr<DecodedImage> nextFace;

 private:
  // Converts every record of the chain that is not in `target`.
  HRESULT ConvertChain(D3DFORMAT target);
  HRESULT ConvertRecord(D3DFORMAT target);

  ImageBytes m_ownedPixels;
  std::unique_ptr<PaletteEntry[]> m_ownedPalette;
  bool m_aboveCeiling = false;  // a reader refused the bytes under maxTexels
};

// Helpers of the text readers: the index of the first line feed, or 0 when
// there is none; a float whose four bytes are those of the value reversed.
std::uint32_t FindNewline(const char* buffer, std::uint32_t length);
float ByteSwapFloat(std::uint32_t value);

// DecodedImage::EncodeImage: the format a file type can hold, the conversion
// into it, and the writer.
#include <cstring>
#include <memory>
#include <new>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/dds_format.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/image_blitter.h"
#include "gxl/tex/image_output_stream.h"
#include "gxl/tex/pixel_format.h"
#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"

namespace {

// What each writer stores, nearest first; zero-terminated.
constexpr D3DFORMAT kBmpCandidates[] = {D3DFMT_P8,          D3DFMT_L8,          D3DFMT_R3G3B2,   D3DFMT_R8G8B8,
                                        D3DFMT_X1R5G5B5,    D3DFMT_X8R8G8B8,    D3DFMT_A8R8G8B8, D3DFMT_R5G6B5,
                                        D3DFMT_X4R4G4B4,    D3DFMT_A1R5G5B5,    D3DFMT_A4R4G4B4, D3DFMT_L16,
                                        D3DFMT_A8L8,        D3DFMT_A8R3G3B2,    D3DFMT_X8B8G8R8, D3DFMT_A8B8G8R8,
                                        D3DFMT_A2B10G10R10, D3DFMT_A2R10G10B10, D3DFMT_G16R16,   D3DFMT_UNKNOWN};
constexpr D3DFORMAT kJpgCandidates[] = {D3DFMT_X8R8G8B8, D3DFMT_UNKNOWN};
constexpr D3DFORMAT kTgaCandidates[] = {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_UNKNOWN};
constexpr D3DFORMAT kPngCandidates[] = {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16, D3DFMT_UNKNOWN};
constexpr D3DFORMAT kFloatCandidates[] = {D3DFMT_A32B32G32R32F, D3DFMT_UNKNOWN};

const D3DFORMAT* CandidatesOf(ImageFileType type) {
  switch (type) {
    case ImageFileType::Bmp:
    case ImageFileType::Dib:
      return kBmpCandidates;
    case ImageFileType::Jpg:
      return kJpgCandidates;
    case ImageFileType::Tga:
      return kTgaCandidates;
    case ImageFileType::Png:
      return kPngCandidates;
    case ImageFileType::Dds:
      return DdsCandidateFormats();
    case ImageFileType::Hdr:
    case ImageFileType::Pfm:
      return kFloatCandidates;
    default:
      return nullptr;
  }
}

}  // namespace

HRESULT DecodedImage::ConvertRecord(D3DFORMAT target) {
  // Row and slice each within 32 bits, so no product below wraps 64 bits.
  const std::uint64_t rowBytes = StoredRowBytes(target, width);
  if (rowBytes > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  const std::uint64_t sliceBytes = rowBytes * StoredRowCount(target, height);
  if (sliceBytes > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  ImageBytes texels = AllocateImageBytes(sliceBytes * depth);
  if (!texels) return E_OUTOFMEMORY;

  const ImageBox whole{0, 0, width, height, 0, depth};
  ImageRegion destination{};
  destination.pixels = texels.get();
  destination.format = target;
  destination.rowPitch = static_cast<std::uint32_t>(rowBytes);
  destination.slicePitch = static_cast<std::uint32_t>(sliceBytes);
  destination.extent = whole;
  destination.box = whole;
  destination.palette = palette;
  ImageRegion source = Region();
  ImageBlitter blitter;
  const HRESULT hr = blitter.Run(destination, source, FilterFlags::None | FilterFlags::OrderedDither);
  if (FAILED(hr)) return hr;

  m_ownedPixels = std::move(texels);
  pixels = m_ownedPixels.get();
  format = target;
  box = whole;
  rowPitch = destination.rowPitch;
  slicePitch = destination.slicePitch;
  return S_OK;
}

HRESULT DecodedImage::ConvertChain(D3DFORMAT target) {
  for (DecodedImage* face = this; face; face = face->nextFace.get())
    for (DecodedImage* level = face; level; level = level->nextMip.get())
      if (level->format != target) {
        const HRESULT hr = level->ConvertRecord(target);
        if (FAILED(hr)) return hr;
      }
  return S_OK;
}

HRESULT DecodedImage::EncodeImage(const void* sink, ImageFileType type, ImageSinkKind kind) {
  if (!sink) return D3DERR_INVALIDCALL;
  const D3DFORMAT* candidates = CandidatesOf(type);
  if (!candidates) return D3DERR_INVALIDCALL;

  const D3DFORMAT target = FindBestListedFormat(candidates, palette != nullptr, *FindPixelFormatInfo(format));
  if (target == D3DFMT_UNKNOWN) return D3DERR_INVALIDCALL;
  if (target != format) {
    const HRESULT hr = ConvertChain(target);
    if (FAILED(hr)) return hr;
  }

  ImageOutputStream stream;
  HRESULT hr = stream.Open(sink, kind);
  if (FAILED(hr)) return hr;
  {
    platform::ScopedCNumericLocale locale;
    switch (type) {
      case ImageFileType::Bmp:
        hr = WriteBmp(stream, true);
        break;
      case ImageFileType::Dib:
        hr = WriteBmp(stream, true);
        break;
      case ImageFileType::Jpg:
        hr = WriteJpeg(stream);
        break;
      case ImageFileType::Tga:
        hr = WriteTga(stream);
        break;
      case ImageFileType::Png:
        hr = WritePng(stream);
        break;
      case ImageFileType::Dds:
        hr = WriteDds(stream);
        break;
      case ImageFileType::Hdr:
        hr = WriteHdr(stream);
        break;
      case ImageFileType::Pfm:
        hr = WritePfm(stream);
        break;
      default:
        hr = D3DERR_INVALIDCALL;
        break;
    }
    const HRESULT flushed = stream.Flush();
    if (SUCCEEDED(hr)) hr = flushed;
  }
  if (FAILED(hr)) return hr;

  if (kind == ImageSinkKind::Memory) {
    DataBuffer* buffer = nullptr;
    hr = CreateDataBuffer(stream.Position(), &buffer);
    if (FAILED(hr)) return hr;
    if (stream.Position()) std::memcpy(buffer->GetPointer(), stream.MemoryBytes(), stream.Position());
    *static_cast<DataBuffer**>(const_cast<void*>(sink)) = buffer;
  }
  return S_OK;
}

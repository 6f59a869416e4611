// The table of pixel formats every texture and image writer passes through, and
// the rules that pick the nearest format a device (or a writer's list) offers.
#pragma once

#include <cstdint>

#include "platform/d3d9_types.h"

struct IDirect3DDevice9;

// The readers' private formats (as format codes): grey and alpha, 16 bits each, and
// red, green and blue, 16 bits each. They occur only between the PNG reader and the
// texture builder.
constexpr D3DFORMAT kFormatAL16 = static_cast<D3DFORMAT>(kFourCC_AL16);
constexpr D3DFORMAT kFormatR16 = static_cast<D3DFORMAT>(kFourCC_R16);
// Those of the HDR reader, between it and the texture builder: the file's
// shared-exponent texels as they stand (red, green and blue mantissas, then
// the exponent byte), and red, green and blue as 32-bit floats (files with an
// exposure). Both read as A32B32G32R32F with alpha 1 and are not in the table.
constexpr D3DFORMAT kFormatRgbe = static_cast<D3DFORMAT>(MAKEFOURCC('R', 'G', 'B', 'E'));
constexpr D3DFORMAT kFormatR32 = static_cast<D3DFORMAT>(MAKEFOURCC(' ', 'R', '3', '2'));

enum PixelFormatClass : std::uint32_t {
  kClassColour = 0,
  kClassPalettized = 1,
  kClassLuminance = 2,
  kClassSigned = 3,  // bump formats
  kClassDepth = 4,
};

// One record of the table. Channel bits: alpha is the top channel (Q of the
// signed formats); red the second (W; luminance of the luminance class); green
// the third (V; stencil of the depth class); blue the fourth (U; depth of the
// depth class); other a fifth channel (luminance of the signed-luminance formats,
// the 2-bit alpha of A2W10V10U10, 8 for CxV8U8, 1 for the lockable depths).
struct PixelFormatInfo {
  D3DFORMAT format;  // 0 only in the fallback record
  PixelFormatClass formatClass;
  std::uint32_t bitsPerTexel;  // block formats: 16
  std::uint32_t other;
  std::uint32_t alpha;
  std::uint32_t red;
  std::uint32_t green;
  std::uint32_t blue;
  std::uint32_t mayBeChosen;  // 0: only an exact request returns the record
};

// The fallback record (index 0, returned for unknown codes) and the 57 records
// in table order; the order breaks ties between equally near formats.
constexpr std::uint32_t kPixelFormatCount = 57;
extern const PixelFormatInfo PixelFormatTable[kPixelFormatCount + 1];
extern const PixelFormatInfo* const PixelFormatTableEnd;

// The record with that code (the HDR reader's private formats have records
// of their own, outside the table), or the fallback record (A8R8G8B8-like,
// format 0).
const PixelFormatInfo* FindPixelFormatInfo(D3DFORMAT format);

// The 4x4 block formats.
bool IsDxtFormat(D3DFORMAT format);
// The formats that store texels in pairs sharing one 32-bit word.
bool IsPackedPairFormat(D3DFORMAT format);

// Bytes of one stored row of `width` texels (block formats: one row of 4x4
// blocks; pair formats: whole pairs), and the number of such rows in
// `height` texel rows.
std::uint64_t StoredRowBytes(D3DFORMAT format, std::uint32_t width);
std::uint64_t StoredRowCount(D3DFORMAT format, std::uint32_t height);

// "AL16" reads as A8L8, " R16" as A16B16G16R16, "RGBE" and " R32" as
// A32B32G32R32F; other codes stay.
D3DFORMAT MapPrivateFormat(D3DFORMAT format);

// How far a candidate is from a request; lower is nearer. All bits set when the
// candidate's class cannot stand in for the request's or every requested
// channel is missing.
constexpr std::uint32_t kNoMatch = 0xFFFFFFFFu;
std::uint32_t PixelFormatDistance(const PixelFormatInfo& request, const PixelFormatInfo& candidate);

// The device format nearest to the request (an exact match wins at once, even
// one that is never chosen otherwise); 0 when nothing fits. Without a device
// every record counts as supported.
D3DFORMAT FindBestPixelFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE type,
                              const PixelFormatInfo& request);

// The same over a zero-terminated list of candidates, without a device;
// palettized candidates only when allowPalettized.
D3DFORMAT FindBestListedFormat(const D3DFORMAT* list, bool allowPalettized, const PixelFormatInfo& request);

#include "gxl/tex/pixel_format.h"

#include "gxl/tex/debug_mute.h"
#include "platform/d3d9_api.h"

namespace {

constexpr D3DFORMAT Fcc(char a, char b, char c, char d) { return static_cast<D3DFORMAT>(MAKEFOURCC(a, b, c, d)); }

constexpr PixelFormatClass C = kClassColour;
constexpr PixelFormatClass P = kClassPalettized;
constexpr PixelFormatClass L = kClassLuminance;
constexpr PixelFormatClass S = kClassSigned;
constexpr PixelFormatClass D = kClassDepth;

}  // namespace

// format, class, bits, other, alpha, red, green, blue, may be chosen
const PixelFormatInfo PixelFormatTable[kPixelFormatCount + 1] = {
    {D3DFMT_UNKNOWN, C, 32, 0, 8, 8, 8, 8, 0},  // the fallback
    {D3DFMT_R8G8B8, C, 24, 0, 0, 8, 8, 8, 0},
    {D3DFMT_A8R8G8B8, C, 32, 0, 8, 8, 8, 8, 1},
    {D3DFMT_X8R8G8B8, C, 32, 0, 0, 8, 8, 8, 1},
    {D3DFMT_R5G6B5, C, 16, 0, 0, 5, 6, 5, 1},
    {D3DFMT_X1R5G5B5, C, 16, 0, 0, 5, 5, 5, 1},
    {D3DFMT_A8P8, P, 16, 0, 8, 8, 8, 8, 1},
    {D3DFMT_P8, P, 8, 0, 8, 8, 8, 8, 1},
    {D3DFMT_A1R5G5B5, C, 16, 0, 1, 5, 5, 5, 1},
    {D3DFMT_A4R4G4B4, C, 16, 0, 4, 4, 4, 4, 1},
    {D3DFMT_R3G3B2, C, 8, 0, 0, 3, 3, 2, 1},
    {D3DFMT_A8, C, 8, 0, 8, 0, 0, 0, 1},
    {D3DFMT_A8R3G3B2, C, 16, 0, 8, 3, 3, 2, 1},
    {D3DFMT_X4R4G4B4, C, 16, 0, 0, 4, 4, 4, 1},
    {D3DFMT_A2B10G10R10, C, 32, 0, 2, 10, 10, 10, 1},
    {D3DFMT_A8B8G8R8, C, 32, 0, 8, 8, 8, 8, 1},
    {D3DFMT_X8B8G8R8, C, 32, 0, 0, 8, 8, 8, 1},
    {D3DFMT_G16R16, C, 32, 0, 0, 16, 16, 0, 1},
    {D3DFMT_A2R10G10B10, C, 32, 0, 2, 10, 10, 10, 1},
    {D3DFMT_A16B16G16R16, C, 64, 0, 16, 16, 16, 16, 1},
    {D3DFMT_L8, L, 8, 0, 0, 8, 8, 8, 1},
    {D3DFMT_A8L8, L, 16, 0, 8, 8, 8, 8, 1},
    {D3DFMT_A4L4, L, 8, 0, 4, 4, 4, 4, 1},
    {D3DFMT_L16, L, 16, 0, 0, 16, 16, 16, 1},
    {D3DFMT_V8U8, S, 16, 0, 0, 0, 8, 8, 1},
    {D3DFMT_L6V5U5, S, 16, 6, 0, 0, 5, 5, 1},
    {D3DFMT_X8L8V8U8, S, 32, 8, 0, 0, 8, 8, 1},
    {D3DFMT_Q8W8V8U8, S, 32, 0, 8, 8, 8, 8, 1},
    {D3DFMT_V16U16, S, 32, 0, 0, 0, 16, 16, 1},
    {D3DFMT_A2W10V10U10, S, 32, 2, 0, 10, 10, 10, 1},
    {D3DFMT_Q16W16V16U16, S, 64, 0, 16, 16, 16, 16, 1},
    {D3DFMT_CxV8U8, S, 16, 8, 0, 0, 8, 8, 0},
    {Fcc('U', 'Y', 'V', 'Y'), C, 16, 0, 0, 8, 8, 8, 0},
    {Fcc('R', 'G', 'B', 'G'), C, 16, 0, 0, 8, 8, 8, 0},
    {Fcc('Y', 'U', 'Y', '2'), C, 16, 0, 0, 8, 8, 8, 0},
    {Fcc('G', 'R', 'G', 'B'), C, 16, 0, 0, 8, 8, 8, 0},
    {Fcc('D', 'X', 'T', '1'), C, 16, 0, 1, 5, 6, 5, 0},
    {Fcc('D', 'X', 'T', '2'), C, 16, 0, 4, 5, 6, 5, 0},
    {Fcc('D', 'X', 'T', '3'), C, 16, 0, 4, 5, 6, 5, 0},
    {Fcc('D', 'X', 'T', '4'), C, 16, 0, 8, 5, 6, 5, 0},
    {Fcc('D', 'X', 'T', '5'), C, 16, 0, 8, 5, 6, 5, 0},
    {D3DFMT_D16_LOCKABLE, D, 16, 1, 0, 0, 0, 16, 1},
    {D3DFMT_D32F_LOCKABLE, D, 32, 1, 0, 0, 0, 32, 0},
    {D3DFMT_D32, D, 32, 0, 0, 0, 0, 32, 1},
    {D3DFMT_D15S1, D, 16, 0, 0, 0, 1, 15, 1},
    {D3DFMT_D24S8, D, 32, 0, 0, 0, 8, 24, 1},
    {D3DFMT_D16, D, 16, 0, 0, 0, 0, 16, 1},
    {D3DFMT_D24X8, D, 32, 0, 0, 0, 0, 24, 1},
    {D3DFMT_D24X4S4, D, 32, 0, 0, 0, 4, 24, 1},
    {D3DFMT_D24FS8, D, 32, 0, 0, 0, 8, 24, 0},
    {D3DFMT_R16F, C, 16, 0, 0, 16, 0, 0, 0},
    {D3DFMT_G16R16F, C, 32, 0, 0, 16, 16, 0, 0},
    {D3DFMT_A16B16G16R16F, C, 64, 0, 16, 16, 16, 16, 0},
    {D3DFMT_R32F, C, 32, 0, 0, 32, 0, 0, 0},
    {D3DFMT_G32R32F, C, 64, 0, 0, 32, 32, 0, 0},
    {D3DFMT_A32B32G32R32F, C, 128, 0, 32, 32, 32, 32, 0},
    {kFormatAL16, L, 32, 0, 16, 16, 16, 16, 0},
    {kFormatR16, C, 48, 0, 0, 16, 16, 16, 0},
};

const PixelFormatInfo* const PixelFormatTableEnd = PixelFormatTable + kPixelFormatCount + 1;

namespace {

// The HDR reader's formats, with the channels of the A32B32G32R32F they stand
// for, so that a texture build decides on them as on that format.
constexpr PixelFormatInfo kHdrReaderFormats[] = {
    {kFormatRgbe, C, 32, 0, 32, 32, 32, 32, 0},
    {kFormatR32, C, 96, 0, 32, 32, 32, 32, 0},
};

}  // namespace

const PixelFormatInfo* FindPixelFormatInfo(D3DFORMAT format) {
  for (const PixelFormatInfo* r = PixelFormatTable + 1; r != PixelFormatTableEnd; ++r)
    if (r->format == format) return r;
  for (const PixelFormatInfo& r : kHdrReaderFormats)
    if (r.format == format) return &r;
  return PixelFormatTable;
}

bool IsDxtFormat(D3DFORMAT f) {
  return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}

bool IsPackedPairFormat(D3DFORMAT f) {
  return f == D3DFMT_YUY2 || f == D3DFMT_UYVY || f == D3DFMT_R8G8_B8G8 || f == D3DFMT_G8R8_G8B8;
}

std::uint64_t StoredRowBytes(D3DFORMAT format, std::uint32_t width) {
  if (IsDxtFormat(format)) return (std::uint64_t{width} + 3) / 4 * (format == D3DFMT_DXT1 ? 8 : 16);
  if (IsPackedPairFormat(format)) return (std::uint64_t{width} + 1) / 2 * 4;
  return std::uint64_t{width} * FindPixelFormatInfo(format)->bitsPerTexel / 8;
}

std::uint64_t StoredRowCount(D3DFORMAT format, std::uint32_t height) {
  return IsDxtFormat(format) ? (std::uint64_t{height} + 3) / 4 : height;
}

D3DFORMAT MapPrivateFormat(D3DFORMAT format) {
  if (format == kFormatAL16) return D3DFMT_A8L8;
  if (format == kFormatR16) return D3DFMT_A16B16G16R16;
  if (format == kFormatRgbe || format == kFormatR32) return D3DFMT_A32B32G32R32F;
  return format;
}

namespace {

// May a record of class `candidate` stand in for a request of class `request`?
bool ClassCompatible(PixelFormatClass request, PixelFormatClass candidate) {
  switch (request) {
    case kClassPalettized:
      return candidate == kClassColour || candidate == kClassPalettized;
    case kClassLuminance:
      return candidate == kClassColour || candidate == kClassLuminance;
    default:
      return candidate == request;
  }
}

// The walk shared by both searches: an exact match ends it; otherwise a
// nearer record, or an equally near one with fewer bits per texel, replaces
// the best so far.
class BestMatch {
 public:
  explicit BestMatch(const PixelFormatInfo& request) : m_request(request) {}

  // True when the record is an exact match (the search is over).
  bool Offer(const PixelFormatInfo& record, bool scored) {
    if (record.format == m_request.format) {
      m_best = &record;
      return true;
    }
    if (!scored) return false;
    const std::uint32_t score = PixelFormatDistance(m_request, record);
    if (score == kNoMatch) return false;
    if (score < m_score || (score == m_score && record.bitsPerTexel < m_best->bitsPerTexel)) {
      m_score = score;
      m_best = &record;
    }
    return false;
  }
  D3DFORMAT Result() const { return m_best->format; }

 private:
  const PixelFormatInfo& m_request;
  const PixelFormatInfo* m_best = PixelFormatTable;
  std::uint32_t m_score = kNoMatch;
};

}  // namespace

std::uint32_t PixelFormatDistance(const PixelFormatInfo& request, const PixelFormatInfo& candidate) {
  if (!ClassCompatible(request.formatClass, candidate.formatClass)) return kNoMatch;
  const std::uint32_t wanted[5] = {request.other, request.alpha, request.red, request.green, request.blue};
  const std::uint32_t offered[5] = {candidate.other, candidate.alpha, candidate.red, candidate.green,
                                    candidate.blue};
  std::uint32_t score = 0;
  std::uint32_t requested = 0;
  for (int i = 0; i < 5; ++i) {
    const std::uint32_t rb = wanted[i];
    const std::uint32_t cb = offered[i];
    if (rb > cb)
      score += cb == 0 ? 0x1000000u : (rb - cb) << 16;  // missing, or fewer bits
    else if (rb < cb)
      score += rb == 0 ? 256u : cb - rb;  // an unasked channel, or more bits
    if (rb != 0) ++requested;
  }
  // Every requested channel missing (or nothing requested): no match.
  if ((score >> 24) == requested) return kNoMatch;
  return score;
}

D3DFORMAT FindBestPixelFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE type,
                              const PixelFormatInfo& request) {
  const gxl::tex::detail::DebugMute mute;
  IDirect3D9* d3d = nullptr;
  D3DCAPS9 caps{};
  D3DDISPLAYMODE mode{};
  bool deviceReady = true;
  if (device) {
    deviceReady = SUCCEEDED(device->GetDirect3D(&d3d)) && d3d && SUCCEEDED(device->GetDeviceCaps(&caps)) &&
                  SUCCEEDED(device->GetDisplayMode(0, &mode));
    if (deviceReady && (usage & D3DUSAGE_QUERY_VERTEXTEXTURE)) {
      D3DDEVICE_CREATION_PARAMETERS params{};
      if (SUCCEEDED(device->GetCreationParameters(&params)) &&
          (params.BehaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING))
        usage |= D3DUSAGE_SOFTWAREPROCESSING;
    }
  }

  BestMatch best(request);
  // A device that cannot be asked supports nothing.
  if (deviceReady) {
    for (const PixelFormatInfo* r = PixelFormatTable + 1; r != PixelFormatTableEnd; ++r) {
      if (r->format == D3DFMT_UNKNOWN) continue;
      if (d3d && FAILED(d3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format, usage, type,
                                                r->format)))
        continue;
      if (best.Offer(*r, r->mayBeChosen != 0)) break;
    }
  }
  if (d3d) d3d->Release();
  return best.Result();
}

D3DFORMAT FindBestListedFormat(const D3DFORMAT* list, bool allowPalettized, const PixelFormatInfo& request) {
  BestMatch best(request);
  if (!list) return D3DFMT_UNKNOWN;
  for (; *list != D3DFMT_UNKNOWN; ++list) {
    const PixelFormatInfo* r = FindPixelFormatInfo(*list);
    if (r->format == D3DFMT_UNKNOWN) continue;
    if (r->formatClass == kClassPalettized && !allowPalettized) continue;
    if (best.Offer(*r, true)) break;
  }
  return best.Result();
}

// Storage of every pixel format the device knows: how many bytes a texel (or a
// block) takes, how rows are pitched, and how lock rectangles must be aligned.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/d3d9_types.h"

namespace platform::d3d9 {

enum class FormatKind : std::uint8_t {
  Plain,  // whole texels of `bytes` bytes
  Dxt,    // 4x4 blocks of `bytes` (8 or 16) bytes
  Yuv,    // pairs of pixels in 4 bytes
  Depth,  // depth (and stencil) texels of `bytes` bytes
};

struct FormatInfo {
  D3DFORMAT format;
  FormatKind kind;
  std::uint8_t bytes;  // per texel, per block (DXT) or per pixel (YUV: 2)
  const char* name;
};

// The record of a format code; null for a code the device cannot store.
const FormatInfo* FindFormat(D3DFORMAT format);
// "A8R8G8B8", "DXT1", ... or the number for unknown codes.
const char* FormatName(D3DFORMAT format, char (&buffer)[16]);

inline bool IsDxt(D3DFORMAT f) { return f >= D3DFMT_DXT1 && f <= D3DFMT_DXT5 && (f & 0xFFFFFF) == 0x545844; }
bool IsYuv(D3DFORMAT f);
bool IsDepthFormat(D3DFORMAT f);
// Depth formats whose surfaces may be locked.
inline bool IsLockableDepth(D3DFORMAT f) { return f == D3DFMT_D16_LOCKABLE || f == D3DFMT_D32F_LOCKABLE; }
bool HasStencil(D3DFORMAT f);

// Row pitch of a level `width` wide: texels x bytes rounded up to 4; DXT: blocks
// across x block bytes; YUV: ((w + 1) / 2) x 4. `padding` adds 16 bytes (test mode).
UINT RowPitch(const FormatInfo& info, UINT width, bool padding);
// Rows of storage: the height, or block rows for DXT.
UINT StorageRows(const FormatInfo& info, UINT height);
// Byte offset of texel (x, y) in a level; x and y must be lock-aligned.
std::size_t TexelOffset(const FormatInfo& info, UINT pitch, UINT x, UINT y);
// Bytes of one row of `width` texels (without padding or rounding).
std::size_t RowBytes(const FormatInfo& info, UINT width);

// Whether a rectangle may be locked or copied: DXT edges on multiples of 4 (or
// on the level's edge), YUV left and right even (right may be the edge).
bool RectAligned(const FormatInfo& info, UINT width, UINT height, UINT left, UINT top, UINT right, UINT bottom);

// The full mip chain length of a size (1x1 included).
UINT FullChainLength(UINT width, UINT height, UINT depth = 1);
inline UINT MipSize(UINT size, UINT level) {
  UINT s = level < 32 ? size >> level : 0;
  return s ? s : 1;
}
inline bool IsPow2(UINT v) { return v && !(v & (v - 1)); }

// Encodes an ARGB colour in a colour format (for clears); false when the format
// has no encoding here. `out` receives `bytes` bytes.
bool EncodeColor(D3DFORMAT format, D3DCOLOR color, std::uint8_t out[16], UINT* bytes);

// Fills `count` texels at `dst` with the `bytes`-byte pattern.
void FillPattern(std::uint8_t* dst, const std::uint8_t* pattern, UINT bytes, UINT count);

}  // namespace platform::d3d9

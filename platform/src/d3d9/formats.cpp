#include "d3d9/formats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform::d3d9 {
namespace {

constexpr FormatInfo kFormats[] = {
    {D3DFMT_R8G8B8, FormatKind::Plain, 3, "R8G8B8"},
    {D3DFMT_A8R8G8B8, FormatKind::Plain, 4, "A8R8G8B8"},
    {D3DFMT_X8R8G8B8, FormatKind::Plain, 4, "X8R8G8B8"},
    {D3DFMT_R5G6B5, FormatKind::Plain, 2, "R5G6B5"},
    {D3DFMT_X1R5G5B5, FormatKind::Plain, 2, "X1R5G5B5"},
    {D3DFMT_A1R5G5B5, FormatKind::Plain, 2, "A1R5G5B5"},
    {D3DFMT_A4R4G4B4, FormatKind::Plain, 2, "A4R4G4B4"},
    {D3DFMT_R3G3B2, FormatKind::Plain, 1, "R3G3B2"},
    {D3DFMT_A8, FormatKind::Plain, 1, "A8"},
    {D3DFMT_A8R3G3B2, FormatKind::Plain, 2, "A8R3G3B2"},
    {D3DFMT_X4R4G4B4, FormatKind::Plain, 2, "X4R4G4B4"},
    {D3DFMT_A2B10G10R10, FormatKind::Plain, 4, "A2B10G10R10"},
    {D3DFMT_A8B8G8R8, FormatKind::Plain, 4, "A8B8G8R8"},
    {D3DFMT_X8B8G8R8, FormatKind::Plain, 4, "X8B8G8R8"},
    {D3DFMT_G16R16, FormatKind::Plain, 4, "G16R16"},
    {D3DFMT_A2R10G10B10, FormatKind::Plain, 4, "A2R10G10B10"},
    {D3DFMT_A16B16G16R16, FormatKind::Plain, 8, "A16B16G16R16"},
    {D3DFMT_A8P8, FormatKind::Plain, 2, "A8P8"},
    {D3DFMT_P8, FormatKind::Plain, 1, "P8"},
    {D3DFMT_L8, FormatKind::Plain, 1, "L8"},
    {D3DFMT_A8L8, FormatKind::Plain, 2, "A8L8"},
    {D3DFMT_A4L4, FormatKind::Plain, 1, "A4L4"},
    {D3DFMT_L16, FormatKind::Plain, 2, "L16"},
    {D3DFMT_V8U8, FormatKind::Plain, 2, "V8U8"},
    {D3DFMT_L6V5U5, FormatKind::Plain, 2, "L6V5U5"},
    {D3DFMT_X8L8V8U8, FormatKind::Plain, 4, "X8L8V8U8"},
    {D3DFMT_Q8W8V8U8, FormatKind::Plain, 4, "Q8W8V8U8"},
    {D3DFMT_V16U16, FormatKind::Plain, 4, "V16U16"},
    {D3DFMT_A2W10V10U10, FormatKind::Plain, 4, "A2W10V10U10"},
    {D3DFMT_Q16W16V16U16, FormatKind::Plain, 8, "Q16W16V16U16"},
    {D3DFMT_CxV8U8, FormatKind::Plain, 2, "CxV8U8"},
    {D3DFMT_UYVY, FormatKind::Yuv, 2, "UYVY"},
    {D3DFMT_R8G8_B8G8, FormatKind::Yuv, 2, "RGBG"},
    {D3DFMT_YUY2, FormatKind::Yuv, 2, "YUY2"},
    {D3DFMT_G8R8_G8B8, FormatKind::Yuv, 2, "GRGB"},
    {D3DFMT_DXT1, FormatKind::Dxt, 8, "DXT1"},
    {D3DFMT_DXT2, FormatKind::Dxt, 16, "DXT2"},
    {D3DFMT_DXT3, FormatKind::Dxt, 16, "DXT3"},
    {D3DFMT_DXT4, FormatKind::Dxt, 16, "DXT4"},
    {D3DFMT_DXT5, FormatKind::Dxt, 16, "DXT5"},
    {D3DFMT_D16_LOCKABLE, FormatKind::Depth, 2, "D16_LOCKABLE"},
    {D3DFMT_D32F_LOCKABLE, FormatKind::Depth, 4, "D32F_LOCKABLE"},
    {D3DFMT_D32, FormatKind::Depth, 4, "D32"},
    {D3DFMT_D15S1, FormatKind::Depth, 2, "D15S1"},
    {D3DFMT_D24S8, FormatKind::Depth, 4, "D24S8"},
    {D3DFMT_D16, FormatKind::Depth, 2, "D16"},
    {D3DFMT_D24X8, FormatKind::Depth, 4, "D24X8"},
    {D3DFMT_D24X4S4, FormatKind::Depth, 4, "D24X4S4"},
    {D3DFMT_D24FS8, FormatKind::Depth, 4, "D24FS8"},
    {D3DFMT_R16F, FormatKind::Plain, 2, "R16F"},
    {D3DFMT_G16R16F, FormatKind::Plain, 4, "G16R16F"},
    {D3DFMT_A16B16G16R16F, FormatKind::Plain, 8, "A16B16G16R16F"},
    {D3DFMT_R32F, FormatKind::Plain, 4, "R32F"},
    {D3DFMT_G32R32F, FormatKind::Plain, 8, "G32R32F"},
    {D3DFMT_A32B32G32R32F, FormatKind::Plain, 16, "A32B32G32R32F"},
    {static_cast<D3DFORMAT>(kFourCC_AL16), FormatKind::Plain, 4, "AL16"},
    {static_cast<D3DFORMAT>(kFourCC_R16), FormatKind::Plain, 6, " R16"},
};

std::uint8_t Scale(DWORD v8, int bits) { return static_cast<std::uint8_t>((v8 * ((1u << bits) - 1) + 127) / 255); }

}  // namespace

const FormatInfo* FindFormat(D3DFORMAT format) {
  for (const FormatInfo& f : kFormats)
    if (f.format == format) return &f;
  return nullptr;
}

const char* FormatName(D3DFORMAT format, char (&buffer)[16]) {
  if (const FormatInfo* f = FindFormat(format)) return f->name;
  switch (format) {
    case D3DFMT_UNKNOWN: return "UNKNOWN";
    case D3DFMT_INDEX16: return "INDEX16";
    case D3DFMT_INDEX32: return "INDEX32";
    case D3DFMT_VERTEXDATA: return "VERTEXDATA";
    default: break;
  }
  std::snprintf(buffer, sizeof buffer, "%u", static_cast<unsigned>(format));
  return buffer;
}

bool IsYuv(D3DFORMAT f) {
  return f == D3DFMT_UYVY || f == D3DFMT_YUY2 || f == D3DFMT_R8G8_B8G8 || f == D3DFMT_G8R8_G8B8;
}

bool IsDepthFormat(D3DFORMAT f) {
  const FormatInfo* info = FindFormat(f);
  return info && info->kind == FormatKind::Depth;
}

bool HasStencil(D3DFORMAT f) {
  return f == D3DFMT_D24S8 || f == D3DFMT_D15S1 || f == D3DFMT_D24X4S4 || f == D3DFMT_D24FS8;
}

UINT RowPitch(const FormatInfo& info, UINT width, bool padding) {
  std::uint64_t pitch = 0;
  switch (info.kind) {
    case FormatKind::Dxt: pitch = std::uint64_t((width + 3) / 4) * info.bytes; break;
    case FormatKind::Yuv: pitch = std::uint64_t((width + 1) / 2) * 4; break;
    default: pitch = (std::uint64_t(width) * info.bytes + 3) & ~std::uint64_t(3); break;
  }
  if (padding) pitch += 16;
  return pitch > 0x7FFFFFFF ? 0 : static_cast<UINT>(pitch);
}

UINT StorageRows(const FormatInfo& info, UINT height) {
  return info.kind == FormatKind::Dxt ? (height + 3) / 4 : height;
}

std::size_t TexelOffset(const FormatInfo& info, UINT pitch, UINT x, UINT y) {
  switch (info.kind) {
    case FormatKind::Dxt: return std::size_t(y / 4) * pitch + std::size_t(x / 4) * info.bytes;
    case FormatKind::Yuv: return std::size_t(y) * pitch + std::size_t(x / 2) * 4;
    default: return std::size_t(y) * pitch + std::size_t(x) * info.bytes;
  }
}

std::size_t RowBytes(const FormatInfo& info, UINT width) {
  switch (info.kind) {
    case FormatKind::Dxt: return std::size_t((width + 3) / 4) * info.bytes;
    case FormatKind::Yuv: return std::size_t((width + 1) / 2) * 4;
    default: return std::size_t(width) * info.bytes;
  }
}

bool RectAligned(const FormatInfo& info, UINT width, UINT height, UINT left, UINT top, UINT right, UINT bottom) {
  if (info.kind == FormatKind::Dxt) {
    auto ok = [](UINT v, UINT edge) { return v % 4 == 0 || v == edge; };
    return left % 4 == 0 && top % 4 == 0 && ok(right, width) && ok(bottom, height);
  }
  if (info.kind == FormatKind::Yuv) return left % 2 == 0 && (right % 2 == 0 || right == width);
  return true;
}

UINT FullChainLength(UINT width, UINT height, UINT depth) {
  UINT largest = width > height ? width : height;
  if (depth > largest) largest = depth;
  UINT levels = 0;
  while (largest) {
    ++levels;
    largest >>= 1;
  }
  return levels ? levels : 1;
}

bool EncodeColor(D3DFORMAT format, D3DCOLOR c, std::uint8_t out[16], UINT* bytes) {
  const DWORD a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  auto put16 = [&](DWORD v) {
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    *bytes = 2;
  };
  auto put32 = [&](DWORD v) {
    std::memcpy(out, &v, 4);
    *bytes = 4;
  };
  switch (format) {
    case D3DFMT_A8R8G8B8: put32(c); return true;
    case D3DFMT_X8R8G8B8: put32(c | 0xFF000000u); return true;
    case D3DFMT_A8B8G8R8: put32((a << 24) | (b << 16) | (g << 8) | r); return true;
    case D3DFMT_X8B8G8R8: put32(0xFF000000u | (b << 16) | (g << 8) | r); return true;
    case D3DFMT_R5G6B5: put16((Scale(r, 5) << 11) | (Scale(g, 6) << 5) | Scale(b, 5)); return true;
    case D3DFMT_X1R5G5B5: put16(0x8000u | (Scale(r, 5) << 10) | (Scale(g, 5) << 5) | Scale(b, 5)); return true;
    case D3DFMT_A1R5G5B5:
      put16((a >= 128 ? 0x8000u : 0u) | (Scale(r, 5) << 10) | (Scale(g, 5) << 5) | Scale(b, 5));
      return true;
    case D3DFMT_A4R4G4B4:
      put16((Scale(a, 4) << 12) | (Scale(r, 4) << 8) | (Scale(g, 4) << 4) | Scale(b, 4));
      return true;
    case D3DFMT_X4R4G4B4: put16(0xF000u | (Scale(r, 4) << 8) | (Scale(g, 4) << 4) | Scale(b, 4)); return true;
    case D3DFMT_R8G8B8:
      out[0] = static_cast<std::uint8_t>(b);
      out[1] = static_cast<std::uint8_t>(g);
      out[2] = static_cast<std::uint8_t>(r);
      *bytes = 3;
      return true;
    case D3DFMT_A8:
      out[0] = static_cast<std::uint8_t>(a);
      *bytes = 1;
      return true;
    default: return false;
  }
}

void FillPattern(std::uint8_t* dst, const std::uint8_t* pattern, UINT bytes, UINT count) {
  // One copy of the pattern, then what is filled copied onto the rest, doubling:
  // a few block copies instead of one small store per texel (depth clears fill
  // hundreds of thousands of texels a frame).
  const std::size_t total = std::size_t(bytes) * count;
  if (total == 0) return;
  std::memcpy(dst, pattern, bytes);
  for (std::size_t filled = bytes; filled < total;) {
    const std::size_t n = std::min(filled, total - filled);
    std::memcpy(dst + filled, dst, n);
    filled += n;
  }
}

}  // namespace platform::d3d9

// Normal maps from height maps.
#include <cmath>
#include <memory>
#include <new>

#include "gxl/math/vector.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/surface_lock.h"
#include "gxl/tex/texture_fill.h"
#include "platform/d3d9_api.h"

using gxl::ComRef;

namespace {

constexpr DWORD kAllFlags =
    NormalMapFlags::MirrorU | NormalMapFlags::MirrorV | NormalMapFlags::InvertSign | NormalMapFlags::Occlusion;

bool CanHoldHeights(const PixelFormatInfo& f) {
  return f.formatClass == kClassColour || f.formatClass == kClassPalettized || f.formatClass == kClassLuminance ||
         f.formatClass == kClassDepth;
}

bool CanHoldNormals(const PixelFormatInfo& f) {
  return (f.formatClass == kClassColour || f.formatClass == kClassSigned) && f.red > 1 && f.green > 1 && f.blue > 1;
}

// The heights of one image row, with the row's last texel before it and its
// first after it, so that x - 1 and x + 1 wrap: entry i + 1 is texel i.
void ReadHeights(PixelCodec& codec, std::uint32_t y, ColorF* texels, float* heights, DWORD channel) {
  const std::uint32_t width = codec.Width();
  codec.ReadRow(y, 0, texels);
  for (std::uint32_t x = 0; x < width; ++x) heights[x + 1] = SelectHeightChannel(texels[x], channel);
  heights[0] = heights[width];
  heights[width + 1] = heights[1];
}

struct NormalMapParameters {
  DWORD flags;
  DWORD channel;
  float amplitude;
};

// One level: the source is read through a staging copy when it is the
// destination itself, and is locked first so that copy is taken before the
// destination's lock (which may discard).
HRESULT BuildLevel(IDirect3DSurface9* destination, IDirect3DSurface9* source, const PaletteEntry* palette, UINT level,
                   bool sameTexture, const NormalMapParameters& p) {
  SurfaceLock sourceLock;
  SurfaceLock destinationLock;
  ImageRegion from{};
  ImageRegion to{};
  HRESULT hr =
      sourceLock.Lock(&from, source, palette, nullptr, 0, LockFlags::ReadOnly | (sameTexture ? LockFlags::Staging : 0));
  if (FAILED(hr)) return hr;
  hr = destinationLock.Lock(&to, destination, nullptr, nullptr, 0, level == 0 ? LockFlags::MayDiscard : 0);
  if (FAILED(hr)) return hr;
  const std::unique_ptr<PixelCodec> reader = CreatePixelCodec(from);
  const std::unique_ptr<PixelCodec> writer = CreatePixelCodec(to);
  if (!reader || !writer) return E_FAIL;
  const std::uint32_t width = writer->Width();
  const std::uint32_t height = writer->Height();
  if (reader->Width() != width || reader->Height() != height) return D3DERR_INVALIDCALL;
  if (width == 0 || height == 0) return S_OK;

  const std::size_t span = std::size_t{width} + 2;
  std::unique_ptr<ColorF[]> texels(new (std::nothrow) ColorF[width]);
  std::unique_ptr<float[]> heightRows(new (std::nothrow) float[3 * span]);
  if (!texels || !heightRows) return E_OUTOFMEMORY;
  float* previous = heightRows.get();
  float* current = previous + span;
  float* next = current + span;
  ReadHeights(*reader, height - 1, texels.get(), previous, p.channel);
  ReadHeights(*reader, 0, texels.get(), current, p.channel);

  const bool mirrorU = (p.flags & NormalMapFlags::MirrorU) != 0;
  const bool mirrorV = (p.flags & NormalMapFlags::MirrorV) != 0;
  const bool invert = (p.flags & NormalMapFlags::InvertSign) != 0;
  const bool unsignedOut = writer->Range() == ChannelRange::Unorm;
  for (std::uint32_t y = 0; y < height; ++y) {
    ReadHeights(*reader, (y + 1) % height, texels.get(), next, p.channel);
    const bool up = !(mirrorV && y == 0);
    const bool down = !(mirrorV && y == height - 1);
    for (std::uint32_t x = 0; x < width; ++x) {
      // Column x of the image is entry x + 1; P, C, N index by image column.
      const float* P = previous + 1;
      const float* C = current + 1;
      const float* N = next + 1;
      const int i = static_cast<int>(x);
      const bool left = !(mirrorU && x == 0);
      const bool right = !(mirrorU && x == width - 1);
      // Four pairs, one per corner: each is the height step along one column
      // step (du) or one row step (dv) next to the texel. Inside, they sum to
      // central differences; at a mirrored edge the missing side is left out,
      // so the slope stays a difference of heights there too.
      float du = 0.0f, dv = 0.0f;
      int pairs = 0;
      if (left && up) du += P[i - 1] - P[i], dv += P[i - 1] - C[i - 1], ++pairs;
      if (left && down) du += N[i - 1] - N[i], dv += C[i - 1] - N[i - 1], ++pairs;
      if (right && up) du += P[i] - P[i + 1], dv += P[i + 1] - C[i + 1], ++pairs;
      if (right && down) du += N[i] - N[i + 1], dv += C[i + 1] - N[i + 1], ++pairs;
      du *= p.amplitude;
      dv *= p.amplitude;
      if (pairs > 1) {
        du /= static_cast<float>(pairs);
        dv /= static_cast<float>(pairs);
      }
      // With no pair (a one-texel mirrored row or column) the slope stays 0.
      Vec3 normal(du, dv, 1.0f);
      Vec3Normalize(&normal, &normal);

      float occlusion = 1.0f;
      if (p.flags & NormalMapFlags::Occlusion) {
        const float centre = C[i];
        const float around[8] = {P[i - 1], P[i], P[i + 1], C[i - 1], C[i + 1], N[i - 1], N[i], N[i + 1]};
        float rise = 0.0f;
        for (const float h : around) rise += std::fmax(h - centre, 0.0f);
        const float s = rise * p.amplitude * 0.125f;
        if (s > 0.0f) {
          const float r = std::sqrt(s * s + 1.0f);
          occlusion = (r - s) / r;
        }
      }

      ColorF& out = texels[x];
      const float sign = invert ? -1.0f : 1.0f;
      if (unsignedOut)
        out = ColorF(0.5f + sign * normal.x * 0.5f, 0.5f + sign * normal.y * 0.5f, 0.5f + sign * normal.z * 0.5f,
                     occlusion);
      else
        out = ColorF(sign * normal.x, sign * normal.y, sign * normal.z, occlusion);
    }
    writer->WriteRow(y, 0, texels.get());
    float* const spare = previous;
    previous = current;
    current = next;
    next = spare;
  }
  return S_OK;
}

}  // namespace

float SelectHeightChannel(const ColorF& texel, DWORD channel) {
  switch (channel) {
    case HeightChannel::Red:
      return texel.r;
    case HeightChannel::Blue:
      return texel.b;
    case HeightChannel::Green:
      return texel.g;
    case HeightChannel::Alpha:
      return texel.a;
    case HeightChannel::Luminance:
      return 0.2125f * texel.r + 0.7154f * texel.g + 0.0721f * texel.b;
    default:
      return 0.0f;
  }
}

HRESULT GXLBuildNormalMap(IDirect3DTexture9* destination, IDirect3DTexture9* source, const PaletteEntry* sourcePalette,
                          DWORD flags, DWORD channel, float amplitude) {
  if (!destination || !source) return D3DERR_INVALIDCALL;
  if (flags == 0xFFFFFFFFu) flags = 0;
  if (channel == 0xFFFFFFFFu) channel = HeightChannel::Red;
  if (flags & ~kAllFlags) return D3DERR_INVALIDCALL;
  if (channel != HeightChannel::Red && channel != HeightChannel::Blue && channel != HeightChannel::Green &&
      channel != HeightChannel::Alpha && channel != HeightChannel::Luminance)
    return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC to{};
  D3DSURFACE_DESC from{};
  if (FAILED(destination->GetLevelDesc(0, &to)) || FAILED(source->GetLevelDesc(0, &from))) return E_FAIL;

  const PixelFormatInfo& toFormat = *FindPixelFormatInfo(to.Format);
  const PixelFormatInfo& fromFormat = *FindPixelFormatInfo(from.Format);
  if (toFormat.format == 0 || fromFormat.format == 0 || !CanHoldHeights(fromFormat) || !CanHoldNormals(toFormat) ||
      to.Width != from.Width || to.Height != from.Height || destination->GetLevelCount() != source->GetLevelCount())
    return D3DERR_INVALIDCALL;

  const NormalMapParameters parameters{flags, channel, amplitude};
  const bool sameTexture = destination == source;
  const UINT levels = destination->GetLevelCount();
  for (UINT level = 0; level < levels; ++level) {
    ComRef<IDirect3DSurface9> target;
    ComRef<IDirect3DSurface9> heights;
    HRESULT hr = destination->GetSurfaceLevel(level, target.Put());
    if (SUCCEEDED(hr)) hr = source->GetSurfaceLevel(level, heights.Put());
    if (SUCCEEDED(hr)) hr = BuildLevel(target.Get(), heights.Get(), sourcePalette, level, sameTexture, parameters);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

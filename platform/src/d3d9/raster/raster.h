// Types shared by the pipeline's passes: sampled texture levels, the integer
// pixel rules every kernel follows, and the table of span kernels.
//
// Pixels are shaded in chunks of up to kChunk pixels of one row. Each pass of a
// chunk (colour, sampling, combiner, alpha test, depth, blend) is a kernel; a
// kernel exists in a scalar reference form and, where it pays, in SSE2 and AVX2
// forms. All pixel arithmetic is integer with the rounding below, so every form
// gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::d3d9::raster {

constexpr int kChunk = 256;

// round(x / 255) for 0 <= x <= 65662 (255 is odd, so there are no ties).
inline unsigned Div255(unsigned x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// The bilinear blend of four ARGB texels (c10 right of c00, c01 below it)
// with 8-bit weights fx, fy (0-255), rounded once per channel.
inline std::uint32_t Bilinear(std::uint32_t c00, std::uint32_t c10, std::uint32_t c01, std::uint32_t c11, unsigned fx,
                              unsigned fy) {
  const unsigned w00 = (256 - fx) * (256 - fy), w10 = fx * (256 - fy), w01 = (256 - fx) * fy, w11 = fx * fy;
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const unsigned sum = ((c00 >> shift) & 0xFF) * w00 + ((c10 >> shift) & 0xFF) * w10 +
                         ((c01 >> shift) & 0xFF) * w01 + ((c11 >> shift) & 0xFF) * w11;
    out |= ((sum + 32768) >> 16) << shift;
  }
  return out;
}

// A value of type T read from unaligned bytes (vertex streams, texel rows).
template <class T>
T Load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// --- Instruction sets --------------------------------------------------------
enum class Isa : std::uint8_t { Scalar, Sse2, Avx2 };
Isa ActiveIsa();
const char* IsaName(Isa isa);
bool IsaSupported(Isa isa);

// Draws and shaded pixels, for the tests and the benchmark; `skipped` counts
// the pixels whose texels were transparent and left the target as it was.
struct Counters {
  std::uint64_t draws = 0;
  std::uint64_t pixels = 0;
  std::uint64_t skipped = 0;
};
Counters& Stats();

// --- Textures as the samplers see them ---------------------------------------
// A level of 32-bit ARGB texels: in place (A8R8G8B8, X8R8G8B8) or the decoded
// sampling copy.
struct TexLevel {
  const std::uint32_t* texels = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t pitch = 0;     // texels from one row to the next
  std::uint32_t alphaOr = 0;    // 0xFF000000 when alpha is not stored (X8R8G8B8 in place)
  bool opaque = false;          // every texel's alpha reads 255
  // The texels of alpha 0 (SampleCache::clear, clearShare), or null.
  const std::uint64_t* clear = nullptr;
  std::ptrdiff_t clearWords = 0;
  unsigned clearShare = 0;
};

enum Address : std::uint8_t { kWrap = 1, kMirror = 2, kClamp = 3, kBorder = 4, kMirrorOnce = 5 };

// One level sampled with one filter. Coordinates are 16.16 fixed point in texel
// units with the half-texel offset applied (texel i's centre is at i << 16).
// POINT takes texel (s + 0x8000) >> 16; LINEAR blends texels s >> 16 and
// (s >> 16) + 1 with the 8-bit weight (s >> 8) & 255, and likewise in t,
// rounded once per channel.
struct SampleParams {
  TexLevel level;
  std::uint8_t addrU = kWrap;
  std::uint8_t addrV = kWrap;
  bool linear = false;
  std::uint32_t border = 0;
};

// Texel index after addressing; -1 selects the border colour.
int AddressTexel(int x, int size, std::uint8_t mode);

// --- Blending and depth ------------------------------------------------------
enum class BlendKind : std::uint8_t {
  Replace,      // no blending
  SrcAlpha,     // SRCALPHA / INVSRCALPHA, ADD, same factors for alpha
  SrcAlphaAdd,  // SRCALPHA / ONE, ADD, same factors for alpha
  Add,          // ONE / ONE, ADD
  General,      // anything else (scalar everywhere)
};

struct BlendState {
  std::uint8_t srcColor, dstColor, opColor;
  std::uint8_t srcAlpha, dstAlpha, opAlpha;
  std::uint32_t factor;  // BLENDFACTOR
};

struct WriteParams {
  BlendKind kind = BlendKind::Replace;
  std::uint32_t keep = 0;     // destination bits the colour write mask keeps
  std::uint32_t alphaOr = 0;  // 0xFF000000 on X8R8G8B8 targets
  BlendState blend{};
};

enum class DepthFormat : std::uint8_t { D16, D24, D32, D32F };

// Depth of pixel x on the current row: zRow + float(x - originX) * dzdx, in
// single precision, clamped to [0, 1] and quantised to the surface.
struct DepthParams {
  DepthFormat format = DepthFormat::D16;
  std::uint8_t func = 8;  // D3DCMP_*
  bool write = true;
  float zRow = 0.0f;
  float dzdx = 0.0f;
  int firstX = 0;  // x of the chunk's first pixel minus the plane's origin
};

// Depth value of `z` in a surface format (D24 in the high 24 bits).
std::uint32_t QuantiseDepth(float z, DepthFormat format);
bool Compare(unsigned func, std::uint32_t value, std::uint32_t reference);

// --- Span kernels ---------------------------------------------------------------
struct Kernels {
  // out[k] = the sample at (s[k], t[k]).
  void (*sample)(const SampleParams& p, const std::int32_t* s, const std::int32_t* t, std::uint32_t* out, int n);
  // The same along a row: s = s0 + k ds, t = t0 + k dt, every value within
  // +-2^30 (the steps in wrapping 32-bit arithmetic).
  void (*sampleLine)(const SampleParams& p, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::int32_t dt,
                     std::uint32_t* out, int n);
  // out = (a (256 - w) + b w + 128) >> 8 per channel.
  void (*lerp)(const std::uint32_t* a, const std::uint32_t* b, unsigned w, std::uint32_t* out, int n);
  // Interpolated colour: channel c (bits 8c) is clamp((start[c] + k step[c] + 0x8000) >> 16)
  // in wrapping 32-bit arithmetic.
  void (*gouraud)(const std::int32_t* start, const std::int32_t* step, std::uint32_t* out, int n);
  // Per channel: round(a b / 255) where modMask is set, a where aMask, b where bMask.
  void (*modulate)(const std::uint32_t* a, const std::uint32_t* b, std::uint32_t* out, int n,
                   std::uint32_t modMask, std::uint32_t aMask, std::uint32_t bMask);
  // The same with one colour for every b[k].
  void (*modulateConst)(const std::uint32_t* a, std::uint32_t b, std::uint32_t* out, int n, std::uint32_t modMask,
                        std::uint32_t aMask, std::uint32_t bMask);
  // live[k] = live[k] && (alpha of c[k]) func ref; returns the live count.
  int (*alphaTest)(const std::uint32_t* c, std::uint8_t* live, int n, unsigned func, unsigned ref);
  // Depth test (and write, for live pixels that pass) of one chunk; returns the live count.
  int (*depth)(const DepthParams& p, void* row, std::uint8_t* live, int n);
  // Blends src into dst and writes through the mask; live null means every pixel.
  void (*write)(const WriteParams& p, const std::uint32_t* src, std::uint32_t* dst, const std::uint8_t* live, int n);
  // The same with one source colour for every pixel (untextured constant quads).
  void (*fill)(const WriteParams& p, std::uint32_t colour, std::uint32_t* dst, const std::uint8_t* live, int n);
  // The scalar set: the shader then takes none of its shortcuts (skipping
  // transparent texels, reading texture rows in place), so that every other
  // set, which takes them, is compared with plain arithmetic.
  bool reference = false;
};

// Fills `n` 32-bit texels with one value through the active kernels (clears).
void FillTexels(std::uint32_t* dst, std::uint32_t value, int n);

const Kernels& ScalarKernels();
const Kernels& Sse2Kernels();
const Kernels& Avx2Kernels();
// The AVX2 bodies over `k`; call only where IsaSupported(Isa::Avx2).
void FillAvx2Kernels(Kernels* k);
const Kernels& KernelsFor(Isa isa);

// The scalar blend of one pixel in the general form.
std::uint32_t BlendPixel(const WriteParams& p, std::uint32_t src, std::uint32_t dst);

}  // namespace platform::d3d9::raster

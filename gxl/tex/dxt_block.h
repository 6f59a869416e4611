// The DXT1 to DXT5 block codec: one 4x4 block at a time, between the block's
// bytes and 16 float RGBA texels in row-major order (texel 4 x row + column).
// Decoding keeps the palette in float (no rounding to 8 bits). Encoding
// searches colour endpoints in a luma-weighted space, fits interpolated alpha,
// and can diffuse its quantisation error inside the block; without diffusion
// the quantised endpoints are then polished against the block's own texels.
// Every float-to-integer conversion truncates toward zero.
#pragma once

#include <cstdint>

#include "gxl/math/records.h"
#include "platform/win_types.h"

// (block out of 16 texels) and (block from 16 texels, diffuse flag); each
// returns S_OK and always writes a whole block. The encoders expect texels in
// [0, 1]; the diffuse flag spreads each texel's quantisation error over the
// texels after it (Floyd-Steinberg, in block order).
using DxtDecodeBlockFn = HRESULT (*)(ColorF* texels, const void* block);
using DxtEncodeBlockFn = HRESULT (*)(void* block, const ColorF* texels, bool diffuse);

HRESULT DecodeDxt1Block(ColorF* texels, const void* block);
HRESULT DecodeDxt2Block(ColorF* texels, const void* block);
HRESULT DecodeDxt3Block(ColorF* texels, const void* block);
HRESULT DecodeDxt4Block(ColorF* texels, const void* block);
HRESULT DecodeDxt5Block(ColorF* texels, const void* block);

HRESULT EncodeDxt1Block(void* block, const ColorF* texels, bool diffuse);
HRESULT EncodeDxt2Block(void* block, const ColorF* texels, bool diffuse);
HRESULT EncodeDxt3Block(void* block, const ColorF* texels, bool diffuse);
HRESULT EncodeDxt4Block(void* block, const ColorF* texels, bool diffuse);
HRESULT EncodeDxt5Block(void* block, const ColorF* texels, bool diffuse);

// (r / 31, g / 63, b / 31, 1) of a 5-6-5 word.
ColorF Rgb565ToFloat(std::uint16_t value);
// R, G and B clamped to [0, 1] and rounded to a 5-6-5 word.
std::uint16_t FloatToRgb565(const ColorF& texel);

// How the colour block treats alpha: DXT2 to DXT5 always use four colours;
// DXT1 uses three colours and transparent black when some alpha is below 0.5.
enum class DxtAlphaMode { Opaque = 0, OneBit = 1 };

// The 8-byte colour block of 16 texels.
void EncodeColorBlock(void* block, const ColorF* texels, DxtAlphaMode mode, bool diffuse);
// Endpoints for `count` (3 or 4) palette steps over 16 weighted colours (R,
// G, B; alpha unused): the bounding box's best diagonal, then at most 8 rounds
// of least-squares refinement.
void OptimizeColorEndpoints(ColorF* low, ColorF* high, const ColorF* colours, int count);
// Alpha endpoints for 8 or 6 interpolated steps (6: 0 and 1 are extra
// steps, so only alphas strictly between them are fitted). low <= high, both
// in [0, 1].
void OptimizeAlphaEndpoints(float* low, float* high, const float* alphas, int steps);

// Colour times alpha (DXT2, DXT4 store premultiplied colour) and back; the way
// back gives 0 where alpha is 0 and clamps colours above alpha to 1.
void PremultiplyBlock(const ColorF* in, ColorF* out);
void UnpremultiplyBlock(ColorF* texels);

// a + (b - a) x t per channel.
ColorF LerpFloat4(const ColorF& a, const ColorF& b, float t);

// Procedural texture content: every texel of every level filled from a
// caller's function or a texture shader, and normal maps made from height maps.
// Values are stored through the level's pixel codec with ordered dither; values
// outside the format's range are clamped to it.
#pragma once

#include "gxl/math/records.h"
#include "gxl/tex/image_region.h"
#include "platform/d3d9_types.h"

struct IDirect3DTexture9;
struct IDirect3DCubeTexture9;
struct IDirect3DVolumeTexture9;
class TextureShader;

// Called once per texel with the texel's centre and the texel size; writes red,
// green, blue and alpha to out. 2-D: centre ((x + 0.5) / width, (y + 0.5) /
// height), size (1 / width, 1 / height). Volumes add z and 1 / depth. Cubes
// pass the unit direction through the texel centre and the distance between
// neighbouring texel centres on the face: (2 / width, 2 / height, 0).
using TextureFill2D = void (*)(Vec4* out, const Vec2* position, const Vec2* texelSize, void* context);
using TextureFill3D = void (*)(Vec4* out, const Vec3* position, const Vec3* texelSize, void* context);

// D3DERR_INVALIDCALL for a null texture or function, or a level format without
// a codec; E_OUTOFMEMORY; lock failures pass through.
HRESULT GXLFillTextureByCallback(IDirect3DTexture9* texture, TextureFill2D fill, void* context);
HRESULT GXLFillCubeTextureByCallback(IDirect3DCubeTexture9* texture, TextureFill3D fill, void* context);
HRESULT GXLFillVolumeTextureByCallback(IDirect3DVolumeTexture9* texture, TextureFill3D fill, void* context);

// The same with the shader's expression code evaluated per texel: input
// register 0 holds the position, register 1 the texel size, and output
// register 0 gives the colour. D3DERR_INVALIDCALL also for code that does not
// validate or needs a register file the fill does not have; the shader's own
// failures pass through.
HRESULT GXLFillTextureFromShader(IDirect3DTexture9* texture, TextureShader* shader);
HRESULT GXLFillCubeTextureFromShader(IDirect3DCubeTexture9* texture, TextureShader* shader);
HRESULT GXLFillVolumeTextureFromShader(IDirect3DVolumeTexture9* texture, TextureShader* shader);

// Flags of GXLBuildNormalMap (kGxlDefault, all bits set, means none).
struct NormalMapFlags {
  static constexpr DWORD MirrorU = 0x10000;  // no slopes across the left and right edges
  static constexpr DWORD MirrorV = 0x20000;  // no slopes across the top and bottom edges
  static constexpr DWORD InvertSign = 0x80000;
  static constexpr DWORD Occlusion = 0x100000;  // alpha: how open the texel is to the sky
};
// The source channel that holds the heights (all bits set means red).
struct HeightChannel {
  static constexpr DWORD Red = 1;
  static constexpr DWORD Blue = 2;
  static constexpr DWORD Green = 4;
  static constexpr DWORD Alpha = 8;
  static constexpr DWORD Luminance = 16;
};

// The height a texel gives for the channel; 0 for an unknown channel.
float SelectHeightChannel(const ColorF& texel, DWORD channel);

// Writes into every level of destination the normals of the heights in the
// same level of source (wrapping at the edges unless mirrored), scaled by
// amplitude: (n + 1) / 2 in unsigned formats, n itself in signed and float
// formats. The textures may be the same. D3DERR_INVALIDCALL for null textures,
// unknown flags or channels, sizes or level counts that differ, or formats
// that cannot hold heights or normals; E_FAIL when a level cannot be described
// or has no codec; E_OUTOFMEMORY.
HRESULT GXLBuildNormalMap(IDirect3DTexture9* destination, IDirect3DTexture9* source, const PaletteEntry* sourcePalette,
                          DWORD flags, DWORD channel, float amplitude);

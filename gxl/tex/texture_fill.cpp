// The callback fills and the texture-shader fills.
#include "gxl/tex/texture_fill.h"

#include <cstring>
#include <memory>
#include <new>

#include "gxl/math/vector.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/expression_program.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/surface_lock.h"
#include "gxl/tex/texture_levels.h"
#include "gxl/tex/texture_shader.h"
#include "platform/d3d9_api.h"

using gxl::ComRef;

namespace {

// Level 0 may be discarded when it is dynamic: every texel is rewritten.
std::uint32_t FillLockFlags(UINT level) { return level == 0 ? LockFlags::MayDiscard : 0; }

// A locked level's codec, ready for rows of unbounded floats (which it clamps
// to its own range, as the block encoders need).
HRESULT MakeFillCodec(const ImageRegion& region, std::unique_ptr<PixelCodec>* codec) {
  *codec = CreatePixelCodec(region);
  if (!*codec) return D3DERR_INVALIDCALL;
  return (*codec)->PrepareForFloatRows();
}

// Every row of one locked region: texel(x, y, z) gives the colour.
template <class Texel>
HRESULT FillRegion(const ImageRegion& region, ColorF* row, Texel texel) {
  std::unique_ptr<PixelCodec> codec;
  const HRESULT hr = MakeFillCodec(region, &codec);
  if (FAILED(hr)) return hr;
  for (std::uint32_t z = 0; z < codec->Depth(); ++z) {
    for (std::uint32_t y = 0; y < codec->Height(); ++y) {
      for (std::uint32_t x = 0; x < codec->Width(); ++x) row[x] = texel(x, y, z);
      codec->WriteRow(y, z, row);
    }
  }
  return S_OK;
}

ColorF ToColor(const Vec4& v) { return ColorF(v.x, v.y, v.z, v.w); }

// One row of level 0's width serves every level.
std::unique_ptr<ColorF[]> AllocateRow(UINT width) {
  return std::unique_ptr<ColorF[]>(new (std::nothrow) ColorF[width ? width : 1]);
}

// The direction through the centre of texel (x, y) of a cube face, in the
// order +X, -X, +Y, -Y, +Z, -Z.
Vec3 CubeDirection(UINT face, std::uint32_t x, std::uint32_t y, float width, float height) {
  const float s = (2.0f * static_cast<float>(x) + 1.0f) / width - 1.0f;
  const float t = (2.0f * static_cast<float>(y) + 1.0f) / height - 1.0f;
  Vec3 d;
  switch (face) {
    case 0:
      d = Vec3(1.0f, -t, -s);
      break;
    case 1:
      d = Vec3(-1.0f, -t, s);
      break;
    case 2:
      d = Vec3(s, 1.0f, t);
      break;
    case 3:
      d = Vec3(s, -1.0f, -t);
      break;
    case 4:
      d = Vec3(s, -t, 1.0f);
      break;
    default:
      d = Vec3(-s, -t, -1.0f);
      break;
  }
  Vec3Normalize(&d, &d);
  return d;
}

// Every level of a 2-D texture, or of each cube face in the order above:
// texel(face, x, y, width, height) gives the colour.
template <class Texture, class Texel>
HRESULT FillSurfaces(Texture* texture, D3DRESOURCETYPE type, Texel texel) {
  const UINT levels = texture->GetLevelCount();
  D3DSURFACE_DESC desc{};
  HRESULT hr = texture->GetLevelDesc(0, &desc);
  if (FAILED(hr)) return hr;
  const auto row = AllocateRow(desc.Width);
  if (!row) return E_OUTOFMEMORY;
  const UINT faces = type == D3DRTYPE_CUBETEXTURE ? 6 : 1;
  for (UINT face = 0; face < faces; ++face) {
    for (UINT level = 0; level < levels; ++level) {
      hr = texture->GetLevelDesc(level, &desc);
      ComRef<IDirect3DSurface9> surface;
      if (SUCCEEDED(hr)) hr = gxl::tex::detail::GetLevelSurface(texture, type, face, level, surface.Put());
      SurfaceLock lock;
      ImageRegion region{};
      if (SUCCEEDED(hr)) hr = lock.Lock(&region, surface.Get(), nullptr, nullptr, 0, FillLockFlags(level));
      if (FAILED(hr)) return hr;
      const float w = static_cast<float>(desc.Width);
      const float h = static_cast<float>(desc.Height);
      hr = FillRegion(region, row.get(),
                      [&](std::uint32_t x, std::uint32_t y, std::uint32_t) { return texel(face, x, y, w, h); });
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT GXLFillTextureByCallback(IDirect3DTexture9* texture, TextureFill2D fill, void* context) {
  if (!texture || !fill) return D3DERR_INVALIDCALL;
  return FillSurfaces(texture, D3DRTYPE_TEXTURE, [&](UINT, std::uint32_t x, std::uint32_t y, float w, float h) {
    const Vec2 position((static_cast<float>(x) + 0.5f) / w, (static_cast<float>(y) + 0.5f) / h);
    const Vec2 size(1.0f / w, 1.0f / h);
    Vec4 out(0.0f, 0.0f, 0.0f, 0.0f);
    fill(&out, &position, &size, context);
    return ToColor(out);
  });
}

HRESULT GXLFillCubeTextureByCallback(IDirect3DCubeTexture9* texture, TextureFill3D fill, void* context) {
  if (!texture || !fill) return D3DERR_INVALIDCALL;
  return FillSurfaces(texture, D3DRTYPE_CUBETEXTURE,
                      [&](UINT face, std::uint32_t x, std::uint32_t y, float w, float h) {
                        const Vec3 direction = CubeDirection(face, x, y, w, h);
                        const Vec3 size(2.0f / w, 2.0f / h, 0.0f);
                        Vec4 out(0.0f, 0.0f, 0.0f, 0.0f);
                        fill(&out, &direction, &size, context);
                        return ToColor(out);
                      });
}

HRESULT GXLFillVolumeTextureByCallback(IDirect3DVolumeTexture9* texture, TextureFill3D fill, void* context) {
  if (!texture || !fill) return D3DERR_INVALIDCALL;
  const UINT levels = texture->GetLevelCount();
  D3DVOLUME_DESC desc{};
  HRESULT hr = texture->GetLevelDesc(0, &desc);
  if (FAILED(hr)) return hr;
  const auto row = AllocateRow(desc.Width);
  if (!row) return E_OUTOFMEMORY;
  for (UINT level = 0; level < levels; ++level) {
    hr = texture->GetLevelDesc(level, &desc);
    ComRef<IDirect3DVolume9> volume;
    if (SUCCEEDED(hr)) hr = texture->GetVolumeLevel(level, volume.Put());
    if (FAILED(hr)) return hr;
    VolumeLock lock;
    ImageRegion region{};
    hr = lock.Lock(&region, volume.Get(), nullptr, nullptr, 0, FillLockFlags(level));
    if (FAILED(hr)) return hr;
    const float w = static_cast<float>(desc.Width);
    const float h = static_cast<float>(desc.Height);
    const float d = static_cast<float>(desc.Depth);
    const Vec3 size(1.0f / w, 1.0f / h, 1.0f / d);
    hr = FillRegion(region, row.get(), [&](std::uint32_t x, std::uint32_t y, std::uint32_t z) {
      const Vec3 position((static_cast<float>(x) + 0.5f) / w, (static_cast<float>(y) + 0.5f) / h,
                          (static_cast<float>(z) + 0.5f) / d);
      Vec4 out(0.0f, 0.0f, 0.0f, 0.0f);
      fill(&out, &position, &size, context);
      return ToColor(out);
    });
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// Texture-shader fills

namespace {

// What the per-texel callbacks of a shader fill share: the program and its
// register files. The output file stands for all three output kinds.
struct ShaderFillContext {
  ExpressionProgram program;
  std::unique_ptr<double[]> constants;
  double inputs[8] = {};
  double outputs[4] = {};
  ExpressionFiles files;
};

void ReturnOutputs(const ShaderFillContext& c, Vec4* out) {
  *out = Vec4(static_cast<float>(c.outputs[0]), static_cast<float>(c.outputs[1]), static_cast<float>(c.outputs[2]),
              static_cast<float>(c.outputs[3]));
}

void EvalTextureShaderTexel2D(Vec4* out, const Vec2* position, const Vec2* texelSize, void* context) {
  auto& c = *static_cast<ShaderFillContext*>(context);
  c.inputs[0] = position->x;
  c.inputs[1] = position->y;
  c.inputs[4] = texelSize->x;
  c.inputs[5] = texelSize->y;
  c.program.Run(c.files);
  ReturnOutputs(c, out);
}

void EvalTextureShaderTexel3D(Vec4* out, const Vec3* position, const Vec3* texelSize, void* context) {
  auto& c = *static_cast<ShaderFillContext*>(context);
  c.inputs[0] = position->x;
  c.inputs[1] = position->y;
  c.inputs[2] = position->z;
  c.inputs[4] = texelSize->x;
  c.inputs[5] = texelSize->y;
  c.inputs[6] = texelSize->z;
  c.program.Run(c.files);
  ReturnOutputs(c, out);
}

// Sets up the context from the shader: its constants as doubles in a file of a
// power-of-two length (at least one register) and its code validated.
HRESULT PrepareShaderFill(TextureShader* shader, ShaderFillContext* c) {
  ComRef<DataBuffer> constantBuffer;
  HRESULT hr = shader->ConstantBuffer(constantBuffer.Put());
  if (FAILED(hr)) return hr;
  ComRef<DataBuffer> functionBuffer;
  hr = shader->FunctionBuffer(functionBuffer.Put());
  if (FAILED(hr)) return hr;
  if (!constantBuffer || !functionBuffer) return D3DERR_INVALIDCALL;

  const std::uint64_t constantCount = std::uint64_t{constantBuffer->GetSize() / 16} * 4;
  std::uint64_t length = 4;
  while (length < constantCount) length <<= 1;
  c->constants.reset(new (std::nothrow) double[length]());
  if (!c->constants) return E_OUTOFMEMORY;
  const auto* floats = static_cast<const std::uint8_t*>(constantBuffer->GetPointer());
  for (std::uint64_t i = 0; i < constantCount; ++i) {
    float f;
    std::memcpy(&f, floats + i * 4, 4);
    c->constants[i] = f;
  }

  hr = c->program.Validate(functionBuffer->GetPointer(), functionBuffer->GetSize());
  if (hr == E_OUTOFMEMORY) return hr;
  if (FAILED(hr)) return D3DERR_INVALIDCALL;

  c->files.inputs = c->inputs;
  c->files.inputMask = 7;
  c->files.constants = c->constants.get();
  c->files.constantMask = static_cast<std::uint32_t>(length - 1);
  for (int k = 0; k < 3; ++k) {
    c->files.outputs[k] = c->outputs;
    c->files.outputMasks[k] = 3;
  }
  // The fills have no file of 32-bit cells.
  return c->program.CanRunWith(c->files) ? S_OK : D3DERR_INVALIDCALL;
}

// Double arithmetic here runs on SSE2, whose precision is fixed at double, so
// unlike an x87 build the fill needs no precision control of its own.
HRESULT FillFromTextureShader(IDirect3DBaseTexture9* texture, TextureShader* shader, D3DRESOURCETYPE type) {
  if (!texture || !shader) return D3DERR_INVALIDCALL;
  auto context = std::unique_ptr<ShaderFillContext>(new (std::nothrow) ShaderFillContext);
  if (!context) return E_OUTOFMEMORY;
  const HRESULT hr = PrepareShaderFill(shader, context.get());
  if (FAILED(hr)) return hr;
  switch (type) {
    case D3DRTYPE_TEXTURE:
      return GXLFillTextureByCallback(static_cast<IDirect3DTexture9*>(texture), EvalTextureShaderTexel2D,
                                      context.get());
    case D3DRTYPE_VOLUMETEXTURE:
      return GXLFillVolumeTextureByCallback(static_cast<IDirect3DVolumeTexture9*>(texture), EvalTextureShaderTexel3D,
                                            context.get());
    default:
      return GXLFillCubeTextureByCallback(static_cast<IDirect3DCubeTexture9*>(texture), EvalTextureShaderTexel3D,
                                          context.get());
  }
}

}  // namespace

HRESULT GXLFillTextureFromShader(IDirect3DTexture9* texture, TextureShader* shader) {
  return FillFromTextureShader(texture, shader, D3DRTYPE_TEXTURE);
}
HRESULT GXLFillCubeTextureFromShader(IDirect3DCubeTexture9* texture, TextureShader* shader) {
  return FillFromTextureShader(texture, shader, D3DRTYPE_CUBETEXTURE);
}
HRESULT GXLFillVolumeTextureFromShader(IDirect3DVolumeTexture9* texture, TextureShader* shader) {
  return FillFromTextureShader(texture, shader, D3DRTYPE_VOLUMETEXTURE);
}

// Textures: what 2-D, cube and volume textures share, and the 2-D and cube
// textures themselves (volume textures are in volume.h). Level surfaces are
// made with the texture and live as long as it does, so GetSurfaceLevel and
// GetCubeMapSurface hand out the same object every time.
#pragma once

#include <vector>

#include "d3d9/object.h"
#include "d3d9/surface.h"
#include "platform/d3d9_api.h"

namespace platform::d3d9 {

class Volume;

struct TextureShape {
  D3DRESOURCETYPE type;
  UINT width;
  UINT height;
  UINT depth;
  UINT levels;  // levels stored (AUTOGENMIPMAP: 1)
  DWORD usage;
  D3DFORMAT format;
  D3DPOOL pool;
};

class BaseTexture : public DeviceChild {
 public:
  const TextureShape& Shape() const { return m_shape; }
  D3DRESOURCETYPE Type() const { return m_shape.type; }
  D3DFORMAT Format() const { return m_shape.format; }
  DWORD Usage() const { return m_shape.usage; }
  D3DPOOL Pool() const { return m_shape.pool; }
  UINT Levels() const { return m_shape.levels; }
  // 6 for cube textures, else 1.
  UINT Faces() const { return m_shape.type == D3DRTYPE_CUBETEXTURE ? 6 : 1; }

  // Level surfaces (null for volume textures and out-of-range indices).
  virtual Surface* SurfaceAt(UINT face, UINT level) const = 0;
  // Level volumes (volume textures only).
  virtual Volume* VolumeAt(UINT /*level*/) const { return nullptr; }
  virtual IDirect3DBaseTexture9* Interface() = 0;
  virtual bool AnyLevelLocked() const = 0;
  void MarkAllDirty();

  bool BlocksReset() const override { return m_shape.pool == D3DPOOL_DEFAULT && m_refs > 0; }
  std::string Describe() const override;

 protected:
  BaseTexture(Device* device, const char* kind, const TextureShape& shape)
      : DeviceChild(device, kind, true), m_shape(shape) {}
  TextureShape m_shape;
};

// 2-D and cube textures: faces x levels of surfaces.
class SurfaceTexture : public BaseTexture {
 public:
  ~SurfaceTexture() override;
  Surface* SurfaceAt(UINT face, UINT level) const override;
  bool AnyLevelLocked() const override;

 protected:
  SurfaceTexture(Device* device, const char* kind, const TextureShape& shape) : BaseTexture(device, kind, shape) {}
  // Makes the level surfaces; E_OUTOFMEMORY when storage cannot be had.
  HRESULT MakeLevels();
  // Makes a new texture's level surfaces and hands it out, or releases it
  // when they cannot be made.
  template <class T>
  static HRESULT Finish(T* texture, T** out) {
    const HRESULT hr = texture->MakeLevels();
    if (FAILED(hr)) {
      texture->ReleasePublic();
      return hr;
    }
    *out = texture;
    return D3D_OK;
  }
  HRESULT LevelDesc(UINT level, D3DSURFACE_DESC* desc);
  HRESULT Level(UINT face, UINT level, IDirect3DSurface9** surface);

  std::vector<Surface*> m_surfaces;  // face-major
};

class Texture final : public IDirect3DTexture9, public SurfaceTexture {
 public:
  static HRESULT Create(Device* device, const TextureShape& shape, Texture** out);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
  DWORD GetLevelCount() override { return m_shape.levels; }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
  HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect(UINT level) override;

  IDirect3DBaseTexture9* Interface() override { return this; }

 private:
  Texture(Device* device, const TextureShape& shape) : SurfaceTexture(device, "Texture", shape) {}
};

class CubeTexture final : public IDirect3DCubeTexture9, public SurfaceTexture {
 public:
  static HRESULT Create(Device* device, const TextureShape& shape, CubeTexture** out);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
  DWORD GetLevelCount() override { return m_shape.levels; }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
  HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) override;
  HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                   DWORD flags) override;
  HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override;

  IDirect3DBaseTexture9* Interface() override { return this; }

 private:
  CubeTexture(Device* device, const TextureShape& shape) : SurfaceTexture(device, "CubeTexture", shape) {}
};

// The texture behind an interface pointer of this platform (null otherwise).
BaseTexture* AsBaseTexture(IDirect3DBaseTexture9* texture);

}  // namespace platform::d3d9

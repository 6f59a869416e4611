#include "d3d9/texture.h"

#include <cstdio>

#include "d3d9/call_log.h"
#include "d3d9/device.h"
#include "d3d9/out_param.h"
#include "d3d9/volume.h"
#include "testing/failure.h"

namespace platform::d3d9 {

BaseTexture* AsBaseTexture(IDirect3DBaseTexture9* texture) {
  return texture ? dynamic_cast<BaseTexture*>(texture) : nullptr;
}

void BaseTexture::MarkAllDirty() {
  for (UINT face = 0; face < Faces(); ++face)
    for (UINT level = 0; level < Levels(); ++level) {
      if (Surface* s = SurfaceAt(face, level)) s->MarkDirty();
      if (Volume* v = VolumeAt(level)) v->MarkDirty();
    }
}

std::string BaseTexture::Describe() const {
  char name[16], buf[96];
  std::snprintf(buf, sizeof buf, "%ux%ux%u %s pool %u usage 0x%X levels %u", m_shape.width, m_shape.height,
                m_shape.depth, FormatName(m_shape.format, name), static_cast<unsigned>(m_shape.pool),
                static_cast<unsigned>(m_shape.usage), m_shape.levels);
  return buf;
}

SurfaceTexture::~SurfaceTexture() {
  for (Surface* s : m_surfaces) delete s;
}

HRESULT SurfaceTexture::MakeLevels() {
  for (UINT face = 0; face < Faces(); ++face)
    for (UINT level = 0; level < m_shape.levels; ++level) {
      const SurfaceShape shape{m_shape.format, MipSize(m_shape.width, level), MipSize(m_shape.height, level),
                               m_shape.usage, m_shape.pool};
      Surface* s = nullptr;
      HRESULT hr = Surface::Create(m_device, SurfaceRole::TextureLevel, shape, false, this, &s);
      if (FAILED(hr)) return hr;
      m_surfaces.push_back(s);
    }
  return D3D_OK;
}

Surface* SurfaceTexture::SurfaceAt(UINT face, UINT level) const {
  if (face >= Faces() || level >= m_shape.levels) return nullptr;
  const std::size_t index = std::size_t(face) * m_shape.levels + level;
  return index < m_surfaces.size() ? m_surfaces[index] : nullptr;
}

bool SurfaceTexture::AnyLevelLocked() const {
  for (const Surface* s : m_surfaces)
    if (s->Locked()) return true;
  return false;
}

HRESULT SurfaceTexture::LevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  Surface* s = SurfaceAt(0, level);
  if (!s || !desc) return D3DERR_INVALIDCALL;
  return s->GetDesc(desc);
}

HRESULT SurfaceTexture::Level(UINT face, UINT level, IDirect3DSurface9** surface) {
  if (!surface) return D3DERR_INVALIDCALL;
  *surface = nullptr;
  Surface* s = SurfaceAt(face, level);
  if (!s) return D3DERR_INVALIDCALL;
  HRESULT hr;
  if (platform::detail::ShouldFail(Type() == D3DRTYPE_CUBETEXTURE ? "GetCubeMapSurface" : "GetSurfaceLevel", &hr))
    return hr;
  s->AddRef();
  *surface = s;
  return D3D_OK;
}

// --- 2-D textures ---------------------------------------------------------------

HRESULT Texture::Create(Device* device, const TextureShape& shape, Texture** out) {
  return Finish(new Texture(device, shape), out);
}

HRESULT Texture::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DTexture9*>(this), IsBaseTextureIid(iid) || iid == IID_IDirect3DTexture9, out);
}

HRESULT Texture::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  D3D9_RETURN("Texture.GetLevelDesc", LevelDesc(level, desc), this, level);
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
  D3D9_RETURN("Texture.GetSurfaceLevel", Level(0, level, surface), this, level);
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  if (Surface* s = SurfaceAt(0, level)) return s->LockRect(locked, rect, flags);
  D3D9_RETURN("Texture.LockRect", D3DERR_INVALIDCALL, this, level, rect, flags);
}

HRESULT Texture::UnlockRect(UINT level) {
  if (Surface* s = SurfaceAt(0, level)) return s->UnlockRect();
  D3D9_RETURN("Texture.UnlockRect", D3DERR_INVALIDCALL, this, level);
}

// --- Cube textures ---------------------------------------------------------------

HRESULT CubeTexture::Create(Device* device, const TextureShape& shape, CubeTexture** out) {
  return Finish(new CubeTexture(device, shape), out);
}

HRESULT CubeTexture::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DCubeTexture9*>(this),
                  IsBaseTextureIid(iid) || iid == IID_IDirect3DCubeTexture9, out);
}

HRESULT CubeTexture::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT CubeTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  D3D9_RETURN("CubeTexture.GetLevelDesc", LevelDesc(level, desc), this, level);
}

HRESULT CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) {
  D3D9_RETURN("CubeTexture.GetCubeMapSurface", Level(face, level, surface), this, face, level);
}

HRESULT CubeTexture::LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                              DWORD flags) {
  if (Surface* s = SurfaceAt(face, level)) return s->LockRect(locked, rect, flags);
  D3D9_RETURN("CubeTexture.LockRect", D3DERR_INVALIDCALL, this, face, level, rect, flags);
}

HRESULT CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, UINT level) {
  if (Surface* s = SurfaceAt(face, level)) return s->UnlockRect();
  D3D9_RETURN("CubeTexture.UnlockRect", D3DERR_INVALIDCALL, this, face, level);
}

}  // namespace platform::d3d9

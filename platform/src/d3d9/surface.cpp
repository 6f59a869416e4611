#include "d3d9/surface.h"

#include "d3d9/call_log.h"
#include "d3d9/config.h"
#include "d3d9/device.h"
#include "d3d9/out_param.h"
#include "d3d9/texture.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

const char* PoolName(D3DPOOL pool) {
  switch (pool) {
    case D3DPOOL_DEFAULT: return "DEFAULT";
    case D3DPOOL_MANAGED: return "MANAGED";
    case D3DPOOL_SYSTEMMEM: return "SYSTEMMEM";
    default: return "SCRATCH";
  }
}

const char* RoleName(SurfaceRole role) {
  switch (role) {
    case SurfaceRole::TextureLevel: return "level";
    case SurfaceRole::RenderTarget: return "render target";
    case SurfaceRole::DepthStencil: return "depth stencil";
    case SurfaceRole::BackBuffer: return "back buffer";
    default: return "auto depth";
  }
}

}  // namespace

HRESULT CheckImageLockFlags(DWORD flags, DWORD usage) {
  const DWORD allowed =
      D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_DISCARD | D3DLOCK_DONOTWAIT | D3DLOCK_NO_DIRTY_UPDATE;
  if (flags & ~allowed) return D3DERR_INVALIDCALL;
  if ((flags & D3DLOCK_READONLY) && (flags & D3DLOCK_DISCARD)) return D3DERR_INVALIDCALL;
  if ((flags & D3DLOCK_DISCARD) && !(usage & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

HRESULT ImageLock::Take(const char* method, DWORD flags, std::uint8_t* bits, std::size_t bytes) {
  HRESULT hr = D3D_OK;
  if (platform::detail::ShouldFail(method, &hr)) return hr;
  if ((flags & D3DLOCK_DISCARD) && GetConfig().discardPoison) std::memset(bits, 0xCD, bytes);
  m_held = true;
  m_flags = flags;
  return D3D_OK;
}

HRESULT ImageLock::Give(bool* wrote) {
  *wrote = false;
  if (!m_held) return D3DERR_INVALIDCALL;
  m_held = false;
  *wrote = !(m_flags & D3DLOCK_READONLY);
  return D3D_OK;
}

Surface::Surface(Device* device, SurfaceRole role, const SurfaceShape& shape, bool lockable, BaseTexture* container)
    : DeviceChild(device, "Surface", role == SurfaceRole::RenderTarget || role == SurfaceRole::DepthStencil,
                  role != SurfaceRole::TextureLevel),
      m_shape(shape),
      m_info(FindFormat(shape.format)),
      m_role(role),
      m_lockable(lockable),
      m_container(container) {}

HRESULT Surface::Create(Device* device, SurfaceRole role, const SurfaceShape& shape, bool lockable,
                        BaseTexture* container, Surface** out) {
  const FormatInfo* info = FindFormat(shape.format);
  if (!info || shape.width == 0 || shape.height == 0) return D3DERR_INVALIDCALL;
  const UINT pitch = RowPitch(*info, shape.width, GetConfig().pitchPadding);
  const std::uint64_t bytes = std::uint64_t(pitch) * StorageRows(*info, shape.height);
  auto* s = new Surface(device, role, shape, lockable, container);
  if (pitch == 0 || !s->m_memory.Allocate(bytes)) {
    if (s->m_refs)
      s->ReleasePublic();
    else
      delete s;
    return E_OUTOFMEMORY;
  }
  s->m_pitch = pitch;
  if (shape.format == D3DFMT_X8R8G8B8 || shape.format == D3DFMT_X8B8G8R8) {
    // The X byte always reads 0xFF.
    const std::uint8_t black[4] = {0, 0, 0, 0xFF};
    for (UINT y = 0; y < shape.height; ++y) FillPattern(s->Bits() + std::size_t(y) * pitch, black, 4, shape.width);
  }
  *out = s;
  return D3D_OK;
}

HRESULT Surface::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DSurface9*>(this), IsResourceIid(iid) || iid == IID_IDirect3DSurface9, out);
}

ULONG Surface::AddRefPublic() {
  return m_container ? m_container->AddRefPublic() : DeviceChild::AddRefPublic();
}
ULONG Surface::ReleasePublic() {
  return m_container ? m_container->ReleasePublic() : DeviceChild::ReleasePublic();
}
void Surface::Bind() {
  if (m_container)
    m_container->Bind();
  else
    DeviceChild::Bind();
}
void Surface::Unbind() {
  if (m_container)
    m_container->Unbind();
  else
    DeviceChild::Unbind();
}

bool Surface::BlocksReset() const { return m_role != SurfaceRole::TextureLevel && m_refs > 0; }

std::string Surface::Describe() const {
  char buf[16];
  return std::to_string(Width()) + "x" + std::to_string(Height()) + " " + FormatName(Format(), buf) + " " +
         PoolName(m_shape.pool) + " " + RoleName(m_role);
}

HRESULT Surface::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT Surface::GetContainer(REFIID iid, void** container) {
  HRESULT hr = D3D_OK;
  if (!container) {
    hr = D3DERR_INVALIDCALL;
  } else {
    *container = nullptr;
    if (m_container)
      hr = m_container->Interface()->QueryInterface(iid, container);
    else if (iid == IID_IDirect3DDevice9)
      hr = m_device->QueryInterface(iid, container);
    else
      hr = E_NOINTERFACE;
  }
  D3D9_RETURN("Surface.GetContainer", hr, this);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
  const HRESULT hr = CopyOut(desc, D3DSURFACE_DESC{Format(), D3DRTYPE_SURFACE, m_shape.usage, m_shape.pool,
                                                   D3DMULTISAMPLE_NONE, 0, Width(), Height()});
  D3D9_RETURN("Surface.GetDesc", hr, this);
}

bool Surface::Lockable() const {
  switch (m_role) {
    case SurfaceRole::TextureLevel:
      // Default-pool textures lock only when dynamic; render-target textures never.
      if (m_shape.pool != D3DPOOL_DEFAULT) return true;
      return (m_shape.usage & D3DUSAGE_DYNAMIC) && !(m_shape.usage & D3DUSAGE_RENDERTARGET);
    case SurfaceRole::RenderTarget:
    case SurfaceRole::BackBuffer: return m_lockable;
    default: return IsLockableDepth(Format());
  }
}

HRESULT Surface::DoLock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  if (!locked) return D3DERR_INVALIDCALL;
  locked->Pitch = 0;
  locked->pBits = nullptr;
  if (m_lock.Held() || !Lockable()) return D3DERR_INVALIDCALL;
  HRESULT hr = CheckImageLockFlags(flags, m_shape.usage);
  if (FAILED(hr)) return hr;
  UINT left = 0, top = 0, right = Width(), bottom = Height();
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->left > rect->right || rect->top > rect->bottom ||
        static_cast<UINT>(rect->right) > Width() || static_cast<UINT>(rect->bottom) > Height())
      return D3DERR_INVALIDCALL;
    left = static_cast<UINT>(rect->left);
    top = static_cast<UINT>(rect->top);
    right = static_cast<UINT>(rect->right);
    bottom = static_cast<UINT>(rect->bottom);
  }
  if (!RectAligned(Info(), Width(), Height(), left, top, right, bottom)) return D3DERR_INVALIDCALL;
  hr = m_lock.Take("LockRect", flags, Bits(), Bytes());
  if (FAILED(hr)) return hr;
  locked->Pitch = static_cast<INT>(m_pitch);
  locked->pBits = Bits() + TexelOffset(Info(), m_pitch, left, top);
  return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  D3D9_RETURN("Surface.LockRect", DoLock(locked, rect, flags), this, rect, flags);
}

HRESULT Surface::UnlockRect() {
  bool wrote = false;
  const HRESULT hr = m_lock.Give(&wrote);
  if (wrote) MarkDirty();
  D3D9_RETURN("Surface.UnlockRect", hr, this);
}

}  // namespace platform::d3d9

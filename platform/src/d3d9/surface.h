// A 2-D image: a texture level (or cube face level), a render target, a depth
// surface, or the device's back buffer. Its texels are one contiguous block of
// `Pitch()`-byte rows, so the rasteriser addresses them directly.
#pragma once

#include "d3d9/formats.h"
#include "d3d9/memory.h"
#include "d3d9/object.h"
#include "platform/d3d9_api.h"

namespace platform::d3d9 {

class BaseTexture;

enum class SurfaceRole : std::uint8_t { TextureLevel, RenderTarget, DepthStencil, BackBuffer, AutoDepth };

// The lock of a surface or volume: held or not, and with which flags.
class ImageLock {
 public:
  bool Held() const { return m_held; }
  // Takes the lock for a request already checked, once the failure hooks let
  // `method` through; a discarding lock first fills the image with poison
  // when the configuration asks for it.
  HRESULT Take(const char* method, DWORD flags, std::uint8_t* bits, std::size_t bytes);
  // Gives the lock back (D3DERR_INVALIDCALL when it is not held); `*wrote`
  // says whether the image may have changed under it.
  HRESULT Give(bool* wrote);

 private:
  bool m_held = false;
  DWORD m_flags = 0;
};

struct SurfaceShape {
  D3DFORMAT format;
  UINT width;
  UINT height;
  DWORD usage;
  D3DPOOL pool;
};

class Surface final : public IDirect3DSurface9, public DeviceChild {
 public:
  // `lockable` applies to render targets and back buffers. Level surfaces belong
  // to `container` and share its reference count.
  static HRESULT Create(Device* device, SurfaceRole role, const SurfaceShape& shape, bool lockable,
                        BaseTexture* container, Surface** out);

  // IUnknown
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  // IDirect3DResource9
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
  // IDirect3DSurface9
  HRESULT GetContainer(REFIID iid, void** container) override;
  HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect() override;

  // DeviceChild: level surfaces count and bind through their container.
  ULONG AddRefPublic() override;
  ULONG ReleasePublic() override;
  void Bind() override;
  void Unbind() override;
  bool BlocksReset() const override;
  std::string Describe() const override;

  // For the device and the rasteriser.
  const SurfaceShape& Shape() const { return m_shape; }
  D3DFORMAT Format() const { return m_shape.format; }
  UINT Width() const { return m_shape.width; }
  UINT Height() const { return m_shape.height; }
  const FormatInfo& Info() const { return *m_info; }
  std::uint8_t* Bits() const { return m_memory.Data(); }
  UINT Pitch() const { return m_pitch; }
  std::size_t Bytes() const { return m_memory.Size(); }
  BaseTexture* Container() const { return m_container; }
  bool IsRenderTarget() const { return (m_shape.usage & D3DUSAGE_RENDERTARGET) != 0; }
  bool IsDepth() const { return (m_shape.usage & D3DUSAGE_DEPTHSTENCIL) != 0; }
  bool Locked() const { return m_lock.Held(); }
  bool Lockable() const;
  SampleCache& Cache() { return m_cache; }
  DepthBound& Bound() { return m_bound; }
  void MarkDirty() {
    m_cache.dirty = true;
    m_bound.known = false;
  }

 private:
  Surface(Device* device, SurfaceRole role, const SurfaceShape& shape, bool lockable, BaseTexture* container);
  HRESULT DoLock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);

  SurfaceShape m_shape;
  const FormatInfo* m_info;
  SurfaceRole m_role;
  bool m_lockable;
  BaseTexture* m_container;
  UINT m_pitch = 0;
  Memory m_memory;
  ImageLock m_lock;
  SampleCache m_cache;
  DepthBound m_bound;
};

// Validates lock flags shared by surfaces and volumes.
HRESULT CheckImageLockFlags(DWORD flags, DWORD usage);

}  // namespace platform::d3d9

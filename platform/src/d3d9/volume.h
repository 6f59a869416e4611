// Volume textures and their level volumes: `Depth()` slices of `SlicePitch()`
// bytes, each made of `RowPitch()`-byte rows, in one contiguous block.
#pragma once

#include <vector>

#include "d3d9/texture.h"

namespace platform::d3d9 {

class VolumeTexture;

class Volume final : public IDirect3DVolume9, public DeviceChild {
 public:
  // Level volumes belong to their texture and share its reference count.
  static HRESULT Create(Device* device, VolumeTexture* container, UINT width, UINT height, UINT depth, Volume** out);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  HRESULT GetContainer(REFIID iid, void** container) override;
  HRESULT GetDesc(D3DVOLUME_DESC* desc) override;
  HRESULT LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) override;
  HRESULT UnlockBox() override;

  ULONG AddRefPublic() override;
  ULONG ReleasePublic() override;
  void Bind() override;
  void Unbind() override;

  D3DFORMAT Format() const;
  UINT Width() const { return m_width; }
  UINT Height() const { return m_height; }
  UINT Depth() const { return m_depth; }
  const FormatInfo& Info() const { return *m_info; }
  std::uint8_t* Bits() const { return m_memory.Data(); }
  UINT RowPitch() const { return m_rowPitch; }
  std::size_t SlicePitch() const { return m_slicePitch; }
  std::size_t Bytes() const { return m_memory.Size(); }
  bool Locked() const { return m_lock.Held(); }
  VolumeTexture* Container() const { return m_container; }
  SampleCache& Cache() { return m_cache; }
  void MarkDirty() { m_cache.dirty = true; }

 private:
  Volume(Device* device, VolumeTexture* container, UINT width, UINT height, UINT depth);
  HRESULT DoLock(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags);

  VolumeTexture* m_container;
  const FormatInfo* m_info;
  UINT m_width, m_height, m_depth;
  UINT m_rowPitch = 0;
  std::size_t m_slicePitch = 0;
  Memory m_memory;
  ImageLock m_lock;
  SampleCache m_cache;
};

class VolumeTexture final : public IDirect3DVolumeTexture9, public BaseTexture {
 public:
  static HRESULT Create(Device* device, const TextureShape& shape, VolumeTexture** out);
  ~VolumeTexture() override;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_VOLUMETEXTURE; }
  DWORD GetLevelCount() override { return m_shape.levels; }
  HRESULT GetLevelDesc(UINT level, D3DVOLUME_DESC* desc) override;
  HRESULT GetVolumeLevel(UINT level, IDirect3DVolume9** volume) override;
  HRESULT LockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) override;
  HRESULT UnlockBox(UINT level) override;

  Surface* SurfaceAt(UINT, UINT) const override { return nullptr; }
  Volume* VolumeAt(UINT level) const override { return level < m_volumes.size() ? m_volumes[level] : nullptr; }
  IDirect3DBaseTexture9* Interface() override { return this; }
  bool AnyLevelLocked() const override;

 private:
  VolumeTexture(Device* device, const TextureShape& shape) : BaseTexture(device, "VolumeTexture", shape) {}
  std::vector<Volume*> m_volumes;
};

}  // namespace platform::d3d9

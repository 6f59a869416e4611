#include "d3d9/volume.h"

#include "d3d9/call_log.h"
#include "d3d9/config.h"
#include "d3d9/device.h"
#include "d3d9/out_param.h"
#include "testing/failure.h"

namespace platform::d3d9 {

// --- Level volumes ----------------------------------------------------------------

Volume::Volume(Device* device, VolumeTexture* container, UINT width, UINT height, UINT depth)
    : DeviceChild(device, "Volume", false, false),
      m_container(container),
      m_info(FindFormat(container->Format())),
      m_width(width),
      m_height(height),
      m_depth(depth) {}

HRESULT Volume::Create(Device* device, VolumeTexture* container, UINT width, UINT height, UINT depth,
                       Volume** out) {
  const FormatInfo* info = FindFormat(container->Format());
  if (!info) return D3DERR_INVALIDCALL;
  const UINT rowPitch = d3d9::RowPitch(*info, width, GetConfig().pitchPadding);
  const std::uint64_t slice = std::uint64_t(rowPitch) * StorageRows(*info, height);
  auto* v = new Volume(device, container, width, height, depth);
  if (rowPitch == 0 || slice * depth > kMaxResourceBytes || !v->m_memory.Allocate(slice * depth)) {
    delete v;
    return E_OUTOFMEMORY;
  }
  v->m_rowPitch = rowPitch;
  v->m_slicePitch = static_cast<std::size_t>(slice);
  *out = v;
  return D3D_OK;
}

D3DFORMAT Volume::Format() const { return m_container->Format(); }

HRESULT Volume::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DVolume9*>(this), iid == IID_IUnknown || iid == IID_IDirect3DVolume9, out);
}

ULONG Volume::AddRefPublic() { return m_container->AddRefPublic(); }
ULONG Volume::ReleasePublic() { return m_container->ReleasePublic(); }
void Volume::Bind() { m_container->Bind(); }
void Volume::Unbind() { m_container->Unbind(); }

HRESULT Volume::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT Volume::GetContainer(REFIID iid, void** container) {
  HRESULT hr = D3D_OK;
  if (!container) {
    hr = D3DERR_INVALIDCALL;
  } else {
    *container = nullptr;
    hr = m_container->QueryInterface(iid, container);
  }
  D3D9_RETURN("Volume.GetContainer", hr, this);
}

HRESULT Volume::GetDesc(D3DVOLUME_DESC* desc) {
  const HRESULT hr = CopyOut(desc, D3DVOLUME_DESC{Format(), D3DRTYPE_VOLUME, m_container->Usage(), m_container->Pool(),
                                                  m_width, m_height, m_depth});
  D3D9_RETURN("Volume.GetDesc", hr, this);
}

HRESULT Volume::DoLock(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) {
  if (!locked) return D3DERR_INVALIDCALL;
  locked->RowPitch = locked->SlicePitch = 0;
  locked->pBits = nullptr;
  const DWORD usage = m_container->Usage();
  // Default-pool volumes lock only when dynamic; they have no staging path.
  if (m_lock.Held() || (m_container->Pool() == D3DPOOL_DEFAULT && !(usage & D3DUSAGE_DYNAMIC)))
    return D3DERR_INVALIDCALL;
  HRESULT hr = CheckImageLockFlags(flags, usage);
  if (FAILED(hr)) return hr;
  D3DBOX b{0, 0, m_width, m_height, 0, m_depth};
  if (box) {
    b = *box;
    if (b.Left > b.Right || b.Right > m_width || b.Top > b.Bottom || b.Bottom > m_height || b.Front > b.Back ||
        b.Back > m_depth)
      return D3DERR_INVALIDCALL;
  }
  if (!RectAligned(Info(), m_width, m_height, b.Left, b.Top, b.Right, b.Bottom)) return D3DERR_INVALIDCALL;
  hr = m_lock.Take("LockBox", flags, Bits(), Bytes());
  if (FAILED(hr)) return hr;
  locked->RowPitch = static_cast<INT>(m_rowPitch);
  locked->SlicePitch = static_cast<INT>(m_slicePitch);
  locked->pBits = Bits() + b.Front * m_slicePitch + TexelOffset(Info(), m_rowPitch, b.Left, b.Top);
  return D3D_OK;
}

HRESULT Volume::LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) {
  D3D9_RETURN("Volume.LockBox", DoLock(locked, box, flags), this, box, flags);
}

HRESULT Volume::UnlockBox() {
  bool wrote = false;
  const HRESULT hr = m_lock.Give(&wrote);
  if (wrote) MarkDirty();
  D3D9_RETURN("Volume.UnlockBox", hr, this);
}

// --- Volume textures --------------------------------------------------------------

HRESULT VolumeTexture::Create(Device* device, const TextureShape& shape, VolumeTexture** out) {
  auto* t = new VolumeTexture(device, shape);
  for (UINT level = 0; level < shape.levels; ++level) {
    Volume* v = nullptr;
    HRESULT hr = Volume::Create(device, t, MipSize(shape.width, level), MipSize(shape.height, level),
                                MipSize(shape.depth, level), &v);
    if (FAILED(hr)) {
      t->ReleasePublic();
      return hr;
    }
    t->m_volumes.push_back(v);
  }
  *out = t;
  return D3D_OK;
}

VolumeTexture::~VolumeTexture() {
  for (Volume* v : m_volumes) delete v;
}

bool VolumeTexture::AnyLevelLocked() const {
  for (const Volume* v : m_volumes)
    if (v->Locked()) return true;
  return false;
}

HRESULT VolumeTexture::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DVolumeTexture9*>(this),
                  IsBaseTextureIid(iid) || iid == IID_IDirect3DVolumeTexture9, out);
}

HRESULT VolumeTexture::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT VolumeTexture::GetLevelDesc(UINT level, D3DVOLUME_DESC* desc) {
  Volume* v = VolumeAt(level);
  D3D9_RETURN("VolumeTexture.GetLevelDesc", v && desc ? v->GetDesc(desc) : D3DERR_INVALIDCALL, this, level);
}

HRESULT VolumeTexture::GetVolumeLevel(UINT level, IDirect3DVolume9** volume) {
  HRESULT hr = D3D_OK;
  Volume* v = VolumeAt(level);
  if (volume) *volume = nullptr;
  if (!v || !volume) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("GetVolumeLevel", &hr)) {
    v->AddRef();
    *volume = v;
  }
  D3D9_RETURN("VolumeTexture.GetVolumeLevel", hr, this, level);
}

HRESULT VolumeTexture::LockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) {
  if (Volume* v = VolumeAt(level)) return v->LockBox(locked, box, flags);
  D3D9_RETURN("VolumeTexture.LockBox", D3DERR_INVALIDCALL, this, level, box, flags);
}

HRESULT VolumeTexture::UnlockBox(UINT level) {
  if (Volume* v = VolumeAt(level)) return v->UnlockBox();
  D3D9_RETURN("VolumeTexture.UnlockBox", D3DERR_INVALIDCALL, this, level);
}

}  // namespace platform::d3d9

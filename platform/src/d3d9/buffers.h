// Vertex and index buffers: a block of bytes with Direct3D 9's lock rules.
// Draws are synchronous, so DISCARD and NOOVERWRITE return the same memory.
#pragma once

#include "d3d9/memory.h"
#include "d3d9/object.h"
#include "platform/d3d9_api.h"

namespace platform::d3d9 {

// What vertex and index buffers share.
class BufferCore {
 public:
  UINT Size() const { return m_size; }
  DWORD Usage() const { return m_usage; }
  D3DPOOL Pool() const { return m_pool; }
  const std::uint8_t* Data() const { return m_memory.Data(); }
  std::uint8_t* Data() { return m_memory.Data(); }
  bool Locked() const { return m_locked; }

 protected:
  BufferCore(UINT size, DWORD usage, D3DPOOL pool) : m_size(size), m_usage(usage), m_pool(pool) {}
  bool Allocate() { return m_memory.Allocate(m_size); }
  HRESULT DoLock(UINT offset, UINT size, void** data, DWORD flags);
  HRESULT DoUnlock();

  UINT m_size;
  DWORD m_usage;
  D3DPOOL m_pool;
  Memory m_memory;
  bool m_locked = false;
};

class VertexBuffer final : public IDirect3DVertexBuffer9, public DeviceChild, public BufferCore {
 public:
  static HRESULT Create(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, VertexBuffer** out);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
  HRESULT Unlock() override;
  HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

  bool BlocksReset() const override { return m_pool == D3DPOOL_DEFAULT && m_refs > 0; }
  std::string Describe() const override;

 private:
  VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
      : DeviceChild(device, "VertexBuffer", true), BufferCore(length, usage, pool), m_fvf(fvf) {}
  DWORD m_fvf;
};

class IndexBuffer final : public IDirect3DIndexBuffer9, public DeviceChild, public BufferCore {
 public:
  static HRESULT Create(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        IndexBuffer** out);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
  HRESULT Unlock() override;
  HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

  bool BlocksReset() const override { return m_pool == D3DPOOL_DEFAULT && m_refs > 0; }
  std::string Describe() const override;
  D3DFORMAT Format() const { return m_format; }
  UINT IndexSize() const { return m_format == D3DFMT_INDEX32 ? 4 : 2; }

 private:
  IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
      : DeviceChild(device, "IndexBuffer", true), BufferCore(length, usage, pool), m_format(format) {}
  D3DFORMAT m_format;
};

}  // namespace platform::d3d9

#include "d3d9/buffers.h"

#include <cstdio>

#include "d3d9/call_log.h"
#include "d3d9/config.h"
#include "d3d9/device.h"
#include "d3d9/out_param.h"
#include "testing/failure.h"

namespace platform::d3d9 {

HRESULT BufferCore::DoLock(UINT offset, UINT size, void** data, DWORD flags) {
  if (!data) return D3DERR_INVALIDCALL;
  *data = nullptr;
  const DWORD allowed =
      D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NOOVERWRITE | D3DLOCK_DISCARD | D3DLOCK_DONOTWAIT;
  if (m_locked || (flags & ~allowed)) return D3DERR_INVALIDCALL;
  const bool dynamic = (m_usage & D3DUSAGE_DYNAMIC) != 0;
  if ((flags & (D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE)) && !dynamic) return D3DERR_INVALIDCALL;
  if ((flags & D3DLOCK_READONLY) && (flags & (D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE))) return D3DERR_INVALIDCALL;
  if (offset > m_size || (size != 0 && size > m_size - offset)) return D3DERR_INVALIDCALL;
  HRESULT hr;
  if (platform::detail::ShouldFail("Lock", &hr)) return hr;
  if ((flags & D3DLOCK_DISCARD) && GetConfig().discardPoison) std::memset(m_memory.Data(), 0xCD, m_size);
  m_locked = true;
  *data = m_memory.Data() + offset;
  return D3D_OK;
}

HRESULT BufferCore::DoUnlock() {
  if (!m_locked) return D3DERR_INVALIDCALL;
  m_locked = false;
  return D3D_OK;
}

namespace {

// Usages a buffer may carry.
constexpr DWORD kBufferUsage = D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP |
                               D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES | D3DUSAGE_NPATCHES | D3DUSAGE_DYNAMIC;

HRESULT CheckBuffer(UINT length, DWORD usage, D3DPOOL pool) {
  if (length == 0 || (usage & ~kBufferUsage)) return D3DERR_INVALIDCALL;
  if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (length > kMaxResourceBytes) return E_OUTOFMEMORY;
  return D3D_OK;
}

std::string Describe(UINT size, DWORD usage, D3DPOOL pool) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u bytes pool %u usage 0x%X", size, static_cast<unsigned>(pool),
                static_cast<unsigned>(usage));
  return buf;
}

}  // namespace

// --- Vertex buffers ---------------------------------------------------------------

HRESULT VertexBuffer::Create(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             VertexBuffer** out) {
  HRESULT hr = CheckBuffer(length, usage, pool);
  if (FAILED(hr)) return hr;
  if (fvf != 0) {
    const UINT vertex = FvfVertexSize(fvf);
    if (vertex == 0 || length < vertex) return D3DERR_INVALIDCALL;
  }
  auto* b = new VertexBuffer(device, length, usage, fvf, pool);
  if (!b->Allocate()) {
    b->ReleasePublic();
    return E_OUTOFMEMORY;
  }
  *out = b;
  return D3D_OK;
}

HRESULT VertexBuffer::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DVertexBuffer9*>(this),
                  IsResourceIid(iid) || iid == IID_IDirect3DVertexBuffer9, out);
}

HRESULT VertexBuffer::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
  D3D9_RETURN("VertexBuffer.Lock", DoLock(offset, size, data, flags), this, offset, size, flags);
}

HRESULT VertexBuffer::Unlock() { D3D9_RETURN("VertexBuffer.Unlock", DoUnlock(), this); }

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
  const HRESULT hr =
      CopyOut(desc, D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, m_usage, m_pool, m_size, m_fvf});
  D3D9_RETURN("VertexBuffer.GetDesc", hr, this);
}

std::string VertexBuffer::Describe() const { return d3d9::Describe(m_size, m_usage, m_pool); }

// --- Index buffers ----------------------------------------------------------------

HRESULT IndexBuffer::Create(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            IndexBuffer** out) {
  HRESULT hr = CheckBuffer(length, usage, pool);
  if (FAILED(hr)) return hr;
  if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  auto* b = new IndexBuffer(device, length, usage, format, pool);
  if (!b->Allocate()) {
    b->ReleasePublic();
    return E_OUTOFMEMORY;
  }
  *out = b;
  return D3D_OK;
}

HRESULT IndexBuffer::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DIndexBuffer9*>(this),
                  IsResourceIid(iid) || iid == IID_IDirect3DIndexBuffer9, out);
}

HRESULT IndexBuffer::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT IndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
  D3D9_RETURN("IndexBuffer.Lock", DoLock(offset, size, data, flags), this, offset, size, flags);
}

HRESULT IndexBuffer::Unlock() { D3D9_RETURN("IndexBuffer.Unlock", DoUnlock(), this); }

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
  const HRESULT hr = CopyOut(desc, D3DINDEXBUFFER_DESC{m_format, D3DRTYPE_INDEXBUFFER, m_usage, m_pool, m_size});
  D3D9_RETURN("IndexBuffer.GetDesc", hr, this);
}

std::string IndexBuffer::Describe() const { return d3d9::Describe(m_size, m_usage, m_pool); }

}  // namespace platform::d3d9

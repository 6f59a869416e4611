#include "gxl/tex/data_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/d3d9_api.h"

namespace {

std::uint8_t* NewBlock(std::uint64_t size) {
  if (size > 0xFFFFFFFFu) return nullptr;  // sizes are 32-bit
  return new (std::nothrow) std::uint8_t[static_cast<size_t>(size)];
}

// Aligned blocks are 16 bytes longer; the byte before the aligned data holds
// how far (1 to 16) the data lies behind the allocation.
std::uint8_t* AlignInBlock(std::uint8_t* raw) {
  const unsigned shift = 16u - static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(raw) % 16u);
  std::uint8_t* data = raw + shift;
  data[-1] = static_cast<std::uint8_t>(shift);
  return data;
}

std::uint8_t* BlockOfAligned(std::uint8_t* data) { return data ? data - data[-1] : nullptr; }

}  // namespace

// ---------------------------------------------------------------------------
// DataBuffer

DataBuffer::~DataBuffer() { delete[] m_data; }

HRESULT DataBuffer::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_DataBuffer) {
    *out = this;
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG DataBuffer::AddRef() { return ++m_refCount; }

ULONG DataBuffer::Release() {
  const ULONG count = --m_refCount;
  if (count == 0) delete this;
  return count;
}

void* DataBuffer::GetPointer() { return m_data; }

DWORD DataBuffer::GetSize() { return m_size; }

HRESULT DataBuffer::Allocate(DWORD size) {
  std::uint8_t* block = NewBlock(size);
  if (!block) return E_OUTOFMEMORY;
  delete[] m_data;
  m_data = block;
  m_size = size;
  return S_OK;
}

HRESULT DataBuffer::GrowBlock(DWORD newSize) {
  std::uint8_t* block = NewBlock(newSize);
  if (!block) return E_OUTOFMEMORY;
  if (m_size) std::memcpy(block, m_data, m_size);
  delete[] m_data;
  m_data = block;
  m_size = newSize;
  return S_OK;
}

HRESULT DataBuffer::Grow(DWORD newSize) {
  if (newSize <= m_size) return S_OK;
  return GrowBlock(newSize);
}

// ---------------------------------------------------------------------------
// AlignedDataBuffer

AlignedDataBuffer::~AlignedDataBuffer() {
  // The base destructor frees what m_data points at: give it the allocation.
  m_data = BlockOfAligned(m_data);
}

HRESULT AlignedDataBuffer::Allocate(DWORD size) {
  std::uint8_t* raw = NewBlock(std::uint64_t{size} + 16);
  if (!raw) return E_OUTOFMEMORY;
  delete[] BlockOfAligned(m_data);
  m_data = AlignInBlock(raw);
  m_size = size;
  return S_OK;
}

HRESULT AlignedDataBuffer::GrowBlock(DWORD newSize) {
  std::uint8_t* raw = NewBlock(std::uint64_t{newSize} + 16);
  if (!raw) return E_OUTOFMEMORY;
  std::uint8_t* data = AlignInBlock(raw);
  if (m_size) std::memcpy(data, m_data, m_size);
  delete[] BlockOfAligned(m_data);
  m_data = data;
  m_size = newSize;
  return S_OK;
}

// ---------------------------------------------------------------------------
// StringListBuffer

HRESULT StringListBuffer::Reserve(DWORD size) {
  const HRESULT hr = DataBuffer::Allocate(size);
  if (FAILED(hr)) return hr;
  m_listEnd = reinterpret_cast<char**>(m_data);
  m_stringStart = reinterpret_cast<char*>(m_data) + m_size;
  return S_OK;
}

HRESULT StringListBuffer::GrowBlock(DWORD newSize) {
  // The block is allocated in whole 4-byte units (new[] aligns it for the pointers).
  std::uint8_t* block = NewBlock((std::uint64_t{newSize} + 3) & ~std::uint64_t{3});
  if (!block) return E_OUTOFMEMORY;
  char* oldEnd = reinterpret_cast<char*>(m_data) + m_size;
  const size_t stringBytes = static_cast<size_t>(oldEnd - m_stringStart);
  const size_t listCount = static_cast<size_t>(m_listEnd - ListBegin());
  char* newStrings = reinterpret_cast<char*>(block) + newSize - stringBytes;
  if (stringBytes) std::memcpy(newStrings, m_stringStart, stringBytes);
  char** newList = reinterpret_cast<char**>(block);
  for (size_t i = 0; i < listCount; ++i) newList[i] = newStrings + (ListBegin()[i] - m_stringStart);
  delete[] m_data;
  m_data = block;
  m_size = newSize;
  m_listEnd = newList + listCount;
  m_stringStart = newStrings;
  return S_OK;
}

HRESULT StringListBuffer::AppendString(const char* text) {
  if (!text) return D3DERR_INVALIDCALL;
  const std::uint64_t n = std::strlen(text);
  const std::uint64_t listBytes = static_cast<std::uint64_t>(m_listEnd - ListBegin()) * sizeof(char*);
  const std::uint64_t stringBytes = static_cast<std::uint64_t>(reinterpret_cast<char*>(m_data) + m_size - m_stringStart);
  const std::uint64_t room = m_size - listBytes - stringBytes;
  if (room < n + 1 + sizeof(char*)) {
    // Grow by a fifth at least, and always enough for this string and its pointer.
    std::uint64_t newSize = std::max<std::uint64_t>(std::uint64_t{m_size} + n, std::uint64_t{m_size} * 6 / 5);
    newSize = std::max(newSize, listBytes + stringBytes + n + 1 + sizeof(char*));
    if (newSize > 0xFFFFFFFCu) return E_OUTOFMEMORY;
    const HRESULT hr = GrowBlock(static_cast<DWORD>(newSize));
    if (FAILED(hr)) return hr;
  }
  m_stringStart -= n + 1;
  std::memcpy(m_stringStart, text, n + 1);
  *m_listEnd++ = m_stringStart;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Creation: a failed allocation of the block destroys the new object.

namespace {

// Hands out a new buffer (null when it could not be had) once its first
// block is in place: `started` is how getting the block went.
template <class Buffer, class Out>
HRESULT HandOut(Buffer* buffer, HRESULT started, Out** out) {
  if (!buffer) return E_OUTOFMEMORY;
  if (FAILED(started)) {
    buffer->Release();
    return started;
  }
  *out = buffer;
  return S_OK;
}

}  // namespace

HRESULT CreateDataBuffer(DWORD size, DataBuffer** out) {
  if (!out) return D3DERR_INVALIDCALL;
  DataBuffer* buffer = new (std::nothrow) DataBuffer;
  return HandOut(buffer, buffer ? buffer->Allocate(size) : E_OUTOFMEMORY, out);
}

HRESULT GXLCreateDataBuffer(DWORD size, DataBuffer** out) { return CreateDataBuffer(size, out); }

HRESULT CreateAlignedDataBuffer(DWORD size, DataBuffer** out) {
  if (!out) return D3DERR_INVALIDCALL;
  AlignedDataBuffer* buffer = new (std::nothrow) AlignedDataBuffer;
  return HandOut(buffer, buffer ? buffer->Allocate(size) : E_OUTOFMEMORY, out);
}

HRESULT CreateStringListBuffer(DWORD size, StringListBuffer** out) {
  if (!out) return D3DERR_INVALIDCALL;
  StringListBuffer* buffer = new (std::nothrow) StringListBuffer;
  return HandOut(buffer, buffer ? buffer->Reserve(size) : E_OUTOFMEMORY, out);
}

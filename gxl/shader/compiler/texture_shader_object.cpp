#include "gxl/shader/compiler/texture_shader_object.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "gxl/shader/core/bytecode.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace {

constexpr DWORD kTextureShaderKind = 0x5458;  // "TX" in the version token's high half

// Offset of the version token in a "CTAB" header.
constexpr UINT kHeaderVersionOffset = 8;

HRESULT HandOut(DataBuffer* buffer, DataBuffer** out) {
  if (!out) return D3DERR_INVALIDCALL;
  buffer->AddRef();
  *out = buffer;
  return S_OK;
}

}  // namespace

HRESULT TextureShaderObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_TextureShader) return E_NOINTERFACE;
  AddRef();
  *out = this;
  return S_OK;
}

ULONG TextureShaderObject::AddRef() { return ++m_refCount; }

ULONG TextureShaderObject::Release() {
  const ULONG count = --m_refCount;
  if (count == 0) delete this;
  return count;
}

HRESULT TextureShaderObject::FunctionBuffer(DataBuffer** out) { return HandOut(m_function.Get(), out); }
HRESULT TextureShaderObject::ConstantBuffer(DataBuffer** out) { return HandOut(m_constants.Get(), out); }

HRESULT TextureShaderObject::Init(const DWORD* code) {
  const UINT size = GetShaderSize(code);
  if (size == 0) return GXLERR_INVALIDDATA;
  // The table picks its register writers from the versions: anything but
  // texture-shader code would get device writers, which must never be handed
  // the constant buffer.
  if (code[0] >> 16 != kTextureShaderKind) return GXLERR_INVALIDDATA;
  HRESULT hr = CreateDataBuffer(size, m_function.Put());
  if (FAILED(hr)) return hr;
  std::memcpy(m_function->GetPointer(), code, size);

  m_table = gxl::ComRef<ConstantTable>(new (std::nothrow) ConstantTable);
  if (!m_table) return E_OUTOFMEMORY;
  hr = m_table->InitFromCode(static_cast<const DWORD*>(m_function->GetPointer()), m_constants.Put());
  if (FAILED(hr)) {
    m_table.Reset();
    return hr;
  }
  // The block carries a version of its own, and that is the one the writers follow.
  DWORD blockVersion = 0;
  if (m_table->DataSize() >= kHeaderVersionOffset + 4)
    std::memcpy(&blockVersion, static_cast<const std::uint8_t*>(m_table->Data()) + kHeaderVersionOffset, 4);
  if (blockVersion >> 16 != kTextureShaderKind) {
    m_table.Reset();
    return GXLERR_INVALIDDATA;
  }
  return S_OK;
}

HRESULT CreateTextureShader(const DWORD* code, TextureShaderObject** out) {
  if (out) *out = nullptr;
  if (!code || !out) return D3DERR_INVALIDCALL;
  gxl::ComRef<TextureShaderObject> shader(new (std::nothrow) TextureShaderObject);
  if (!shader) return E_OUTOFMEMORY;
  const HRESULT hr = shader->Init(code);
  if (FAILED(hr)) return hr;
  *out = shader.Detach();
  return S_OK;
}

// The table operations, with the constant buffer as the target of every write.

HRESULT TextureShaderObject::Describe(ConstantTableDesc* out) { return m_table->Describe(out); }
HRESULT TextureShaderObject::DescribeConstants(ConstantHandle handle, ConstantDesc* out, UINT* count) {
  return m_table->DescribeConstants(handle, out, count);
}
ConstantHandle TextureShaderObject::ConstantByIndex(ConstantHandle parent, UINT index) {
  return m_table->ConstantByIndex(parent, index);
}
ConstantHandle TextureShaderObject::ConstantByName(ConstantHandle parent, const char* name) {
  return m_table->ConstantByName(parent, name);
}
ConstantHandle TextureShaderObject::ConstantElement(ConstantHandle handle, UINT index) {
  return m_table->ConstantElement(handle, index);
}
HRESULT TextureShaderObject::WriteDefaults() { return m_table->WriteDefaults(m_constants.Get()); }
HRESULT TextureShaderObject::WriteRaw(ConstantHandle handle, const void* data, UINT bytes) {
  return m_table->WriteRaw(m_constants.Get(), handle, data, bytes);
}
HRESULT TextureShaderObject::WriteBool(ConstantHandle handle, BOOL value) {
  return m_table->WriteBool(m_constants.Get(), handle, value);
}
HRESULT TextureShaderObject::WriteBoolArray(ConstantHandle handle, const BOOL* values, UINT count) {
  return m_table->WriteBoolArray(m_constants.Get(), handle, values, count);
}
HRESULT TextureShaderObject::WriteInt(ConstantHandle handle, INT value) {
  return m_table->WriteInt(m_constants.Get(), handle, value);
}
HRESULT TextureShaderObject::WriteIntArray(ConstantHandle handle, const INT* values, UINT count) {
  return m_table->WriteIntArray(m_constants.Get(), handle, values, count);
}
HRESULT TextureShaderObject::WriteFloat(ConstantHandle handle, FLOAT value) {
  return m_table->WriteFloat(m_constants.Get(), handle, value);
}
HRESULT TextureShaderObject::WriteFloatArray(ConstantHandle handle, const FLOAT* values, UINT count) {
  return m_table->WriteFloatArray(m_constants.Get(), handle, values, count);
}
HRESULT TextureShaderObject::WriteVector(ConstantHandle handle, const Vec4* vector) {
  return m_table->WriteVector(m_constants.Get(), handle, vector);
}
HRESULT TextureShaderObject::WriteVectorArray(ConstantHandle handle, const Vec4* vectors, UINT count) {
  return m_table->WriteVectorArray(m_constants.Get(), handle, vectors, count);
}
HRESULT TextureShaderObject::WriteMatrix(ConstantHandle handle, const Matrix4* matrix) {
  return m_table->WriteMatrix(m_constants.Get(), handle, matrix);
}
HRESULT TextureShaderObject::WriteMatrixArray(ConstantHandle handle, const Matrix4* matrices, UINT count) {
  return m_table->WriteMatrixArray(m_constants.Get(), handle, matrices, count);
}
HRESULT TextureShaderObject::WriteMatrixPointers(ConstantHandle handle, const Matrix4* const* matrices, UINT count) {
  return m_table->WriteMatrixPointers(m_constants.Get(), handle, matrices, count);
}
HRESULT TextureShaderObject::WriteTransposedMatrix(ConstantHandle handle, const Matrix4* matrix) {
  return m_table->WriteTransposedMatrix(m_constants.Get(), handle, matrix);
}
HRESULT TextureShaderObject::WriteTransposedMatrixArray(ConstantHandle handle, const Matrix4* matrices, UINT count) {
  return m_table->WriteTransposedMatrixArray(m_constants.Get(), handle, matrices, count);
}
HRESULT TextureShaderObject::WriteTransposedMatrixPointers(ConstantHandle handle, const Matrix4* const* matrices,
                                                           UINT count) {
  return m_table->WriteTransposedMatrixPointers(m_constants.Get(), handle, matrices, count);
}

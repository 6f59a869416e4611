// The texture shader handed to callers: a private copy of compiled tx_1_0 code,
// the constant buffer its uniform constants are written into (register r at
// byte r x 16, four floats each) and the constant table that names them. The
// texture fills read the code and the buffer through TextureShader; callers
// set constants through the table operations here, which write into the
// buffer and return the table's results unchanged.
#pragma once

#include "gxl/math/records.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/texture_shader.h"

// Reference counted; no lock, one caller at a time. Answers IID_TextureShader
// and IID_IUnknown.
class TextureShaderObject final : public TextureShader {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT FunctionBuffer(DataBuffer** out) override;
  HRESULT ConstantBuffer(DataBuffer** out) override;

  virtual HRESULT Describe(ConstantTableDesc* out);
  virtual HRESULT DescribeConstants(ConstantHandle handle, ConstantDesc* out, UINT* count);
  virtual ConstantHandle ConstantByIndex(ConstantHandle parent, UINT index);
  virtual ConstantHandle ConstantByName(ConstantHandle parent, const char* name);
  virtual ConstantHandle ConstantElement(ConstantHandle handle, UINT index);
  virtual HRESULT WriteDefaults();
  virtual HRESULT WriteRaw(ConstantHandle handle, const void* data, UINT bytes);
  virtual HRESULT WriteBool(ConstantHandle handle, BOOL value);
  virtual HRESULT WriteBoolArray(ConstantHandle handle, const BOOL* values, UINT count);
  virtual HRESULT WriteInt(ConstantHandle handle, INT value);
  virtual HRESULT WriteIntArray(ConstantHandle handle, const INT* values, UINT count);
  virtual HRESULT WriteFloat(ConstantHandle handle, FLOAT value);
  virtual HRESULT WriteFloatArray(ConstantHandle handle, const FLOAT* values, UINT count);
  virtual HRESULT WriteVector(ConstantHandle handle, const Vec4* vector);
  virtual HRESULT WriteVectorArray(ConstantHandle handle, const Vec4* vectors, UINT count);
  virtual HRESULT WriteMatrix(ConstantHandle handle, const Matrix4* matrix);
  virtual HRESULT WriteMatrixArray(ConstantHandle handle, const Matrix4* matrices, UINT count);
  virtual HRESULT WriteMatrixPointers(ConstantHandle handle, const Matrix4* const* matrices, UINT count);
  virtual HRESULT WriteTransposedMatrix(ConstantHandle handle, const Matrix4* matrix);
  virtual HRESULT WriteTransposedMatrixArray(ConstantHandle handle, const Matrix4* matrices, UINT count);
  virtual HRESULT WriteTransposedMatrixPointers(ConstantHandle handle, const Matrix4* const* matrices, UINT count);

  TextureShaderObject(const TextureShaderObject&) = delete;
  TextureShaderObject& operator=(const TextureShaderObject&) = delete;

 private:
  friend HRESULT CreateTextureShader(const DWORD* code, TextureShaderObject** out);

  TextureShaderObject() = default;
  ~TextureShaderObject() = default;
  HRESULT Init(const DWORD* code);

  ULONG m_refCount = 1;
  gxl::ComRef<DataBuffer> m_function;
  gxl::ComRef<DataBuffer> m_constants;
  gxl::ComRef<ConstantTable> m_table;
};

// A new texture shader over a copy of the code up to its end token.
// D3DERR_INVALIDCALL for null arguments; GXLERR_INVALIDDATA for code of size
// 0, code or a "CTAB" block that is not texture-shader code, or a missing or
// malformed "CTAB"; E_OUTOFMEMORY. On failure *out is null.
HRESULT CreateTextureShader(const DWORD* code, TextureShaderObject** out);

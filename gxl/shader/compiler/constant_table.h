// The constant table over compiled vertex, pixel or texture-shader code: a
// copy of the code's "CTAB" block with one record per constant (members and
// array elements below it), through which callers inspect the uniform
// constants and write their values to a device, or, for texture shaders,
// into a constant buffer.
//
// Handles: 0 is none; a handle the table gives out is negative (as a signed
// pointer-sized integer): the negated index of a record in the table's own
// registry, never an address; any other handle is the address of a name
// path such as "lights[2].color".
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/math/records.h"
#include "gxl/shader/core/pod_array.h"
#include "platform/com.h"

class DataBuffer;

// {AB3C758F-093E-4356-B762-4DB18F1B3A01}
inline constexpr IID IID_ConstantTable = {0xAB3C758F, 0x093E, 0x4356, {0xB7, 0x62, 0x4D, 0xB1, 0x8F, 0x1B, 0x3A, 0x01}};

using ConstantHandle = const char*;

struct ConstantTableDesc {
  const char* creator;  // in the table's copy of the block; null when none
  DWORD version;
  UINT constants;
};

struct ConstantDesc {
  const char* name;  // in the copy; null when none
  UINT registerSet;  // 0 bool, 1 int, 2 float, 3 sampler
  UINT registerIndex;
  UINT registerCount;
  UINT typeClass;  // 0 scalar, 1 vector, 2 matrix by rows, 3 by columns, 4 object, 5 struct
  UINT type;       // 0 void, 1 bool, 2 int, 3 float, higher for objects
  UINT rows;
  UINT columns;
  UINT elements;
  UINT structMembers;
  UINT bytes;                // elements x rows x columns x 4
  const void* defaultValue;  // in the copy, in register layout; null when none
};

namespace gxl::shader {
class ConstantBlockCheck;
struct ConstantRecord;
struct ConstantWrite;
}  // namespace gxl::shader

// Reference counted; one caller at a time (lookups relink records). Writers
// take their target first: an IDirect3DDevice9 for vertex and pixel code, the
// constant DataBuffer for texture-shader code. Handles that do not resolve
// give D3DERR_INVALIDCALL (0 or -1 from the operations that return handles
// and indexes); object constants give E_NOTIMPL; the target's failures are
// passed on. Writing allocates nothing.
class ConstantTable : public IUnknown {
 public:
  ConstantTable();

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;

  virtual const void* Data();
  virtual UINT DataSize();
  // GXLERR_INVALIDDATA when the header or its creator offset is outside the block.
  virtual HRESULT Describe(ConstantTableDesc* out);
  // Describes the records a handle reaches (a name two constants share
  // reaches both): with a count, up to *count of them (at least one), and
  // *count becomes their number.
  virtual HRESULT DescribeConstants(ConstantHandle handle, ConstantDesc* out, UINT* count);
  // The register of a sampler constant, else -1.
  virtual INT SamplerIndex(ConstantHandle handle);
  // Parent 0: the constant of that index; otherwise the parent's member.
  virtual ConstantHandle ConstantByIndex(ConstantHandle parent, UINT index);
  // A path below the parent (its leading "." may be left out), or from the
  // top level; a handle given as the name comes back as it is.
  virtual ConstantHandle ConstantByName(ConstantHandle parent, const char* name);
  // The element of an array; the constant itself for element 0 of a non-array.
  virtual ConstantHandle ConstantElement(ConstantHandle handle, UINT index);

  // Every constant's default value, as the block holds it.
  virtual HRESULT WriteDefaults(IUnknown* target);
  // 32-bit words in the constant's own representation, never converted.
  virtual HRESULT WriteRaw(IUnknown* target, ConstantHandle handle, const void* data, UINT bytes);
  virtual HRESULT WriteBool(IUnknown* target, ConstantHandle handle, BOOL value);
  virtual HRESULT WriteBoolArray(IUnknown* target, ConstantHandle handle, const BOOL* values, UINT count);
  virtual HRESULT WriteInt(IUnknown* target, ConstantHandle handle, INT value);
  virtual HRESULT WriteIntArray(IUnknown* target, ConstantHandle handle, const INT* values, UINT count);
  virtual HRESULT WriteFloat(IUnknown* target, ConstantHandle handle, FLOAT value);
  virtual HRESULT WriteFloatArray(IUnknown* target, ConstantHandle handle, const FLOAT* values, UINT count);
  virtual HRESULT WriteVector(IUnknown* target, ConstantHandle handle, const Vec4* vector);
  virtual HRESULT WriteVectorArray(IUnknown* target, ConstantHandle handle, const Vec4* vectors, UINT count);
  virtual HRESULT WriteMatrix(IUnknown* target, ConstantHandle handle, const Matrix4* matrix);
  virtual HRESULT WriteMatrixArray(IUnknown* target, ConstantHandle handle, const Matrix4* matrices, UINT count);
  virtual HRESULT WriteMatrixPointers(IUnknown* target, ConstantHandle handle, const Matrix4* const* matrices,
                                      UINT count);
  virtual HRESULT WriteTransposedMatrix(IUnknown* target, ConstantHandle handle, const Matrix4* matrix);
  virtual HRESULT WriteTransposedMatrixArray(IUnknown* target, ConstantHandle handle, const Matrix4* matrices,
                                             UINT count);
  virtual HRESULT WriteTransposedMatrixPointers(IUnknown* target, ConstantHandle handle, const Matrix4* const* matrices,
                                                UINT count);

  // Set-up over compiled code: copies and checks its "CTAB" block and builds
  // the records. With constantBuffer, also a new buffer of 16 bytes per float
  // register up to the highest one used. D3DERR_INVALIDCALL for null code;
  // GXLERR_INVALIDDATA for a missing or malformed block; E_OUTOFMEMORY.
  HRESULT InitFromCode(const DWORD* code, DataBuffer** constantBuffer);

  ConstantTable(const ConstantTable&) = delete;
  ConstantTable& operator=(const ConstantTable&) = delete;

 protected:
  virtual ~ConstantTable();

 private:
  friend struct gxl::shader::ConstantRecord;
  using Record = gxl::shader::ConstantRecord;

  // Records (constant_table.cpp).
  Record* NewRecord();
  // Members of a struct record: from the checked block while the table is
  // built, copied from another record's members (`like`) for elements.
  HRESULT BuildMembers(Record* record, const gxl::shader::ConstantBlockCheck* check, const Record* like);
  Record* Element(Record* record, std::uint32_t index);
  ConstantHandle HandleOf(const Record* record) const;
  // The record of a handle the table gave out, or null.
  Record* RecordOf(ConstantHandle handle) const;
  // Resolves a handle: a record, or the first of the records a name path reaches (chained).
  HRESULT Resolve(ConstantHandle handle, Record** out);
  HRESULT FindConstant(const char* path, Record** out);
  Record* ResolveRest(Record* record, const char* path, bool bareMember);
  void Describe(const Record& record, ConstantDesc* out) const;
  const char* TextAt(std::uint32_t offset) const;

  // Writing (constant_writers.cpp).
  HRESULT WriteTyped(IUnknown* target, ConstantHandle handle, const gxl::shader::ConstantWrite& write);

  ULONG m_refCount = 1;
  std::unique_ptr<std::uint8_t[]> m_data;  // the block copy
  UINT m_size = 0;
  // The records of the block's constants, in entry order.
  gxl::shader::PodArray<Record*> m_records;
  // Every record, owned; a record's handle is its index here (from 1).
  gxl::shader::PodArray<Record*> m_registry;
  std::unique_ptr<std::uint32_t[]> m_storage;  // values and conversion room of all records
};

// A new table over vertex or pixel code; S_OK with a null table for other
// code. D3DERR_INVALIDCALL for null arguments; the set-up's failures.
HRESULT CreateShaderConstantTable(const DWORD* code, ConstantTable** table);

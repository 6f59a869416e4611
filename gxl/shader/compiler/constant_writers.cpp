// The constant table's writers: values in one of nine source forms are
// shaped to the constant's class (matrices stored by columns are
// transposed), converted to its data type, widened to whole registers and
// handed to its register writer, which converts them to the register set's
// representation and writes them to the device or the constant buffer. All
// conversion happens in the record's own storage: nothing is allocated.
#include <xmmintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "gxl/shader/compiler/constant_record.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/core/float_truncation.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace gxl::shader {

enum class SourceForm : std::uint8_t {
  Raw,
  Bool,
  Int,
  Float,
  Vector,
  Matrix,
  MatrixPointers,
  TransposedMatrix,
  TransposedMatrixPointers,
};

struct ConstantWrite {
  SourceForm form;
  const void* data;
  std::uint32_t count;  // in the form's units: words, vectors or matrices
};

namespace {

// The scalar type of a source: raw words are never converted.
enum ScalarKind : std::uint32_t {
  kRawKind = 0,
  kBoolKind = kConstantTypeBool,
  kIntKind = kConstantTypeInt,
  kFloatKind = kConstantTypeFloat
};

std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }
float Float(std::uint32_t bits) { return std::bit_cast<float>(bits); }

bool IsNumeric(std::uint32_t type) { return type >= kConstantTypeBool && type <= kConstantTypeFloat; }

// A value of one scalar type as another: to bool v != 0; bool to 0/1 or
// 0.0/1.0; int to float by value; float to int truncated toward zero.
std::uint32_t Convert(std::uint32_t v, std::uint32_t from, std::uint32_t to) {
  switch (to) {
    case kConstantTypeBool:
      return from == kConstantTypeFloat ? Float(v) != 0.0f : v != 0;
    case kConstantTypeInt:
      if (from == kConstantTypeBool) return v != 0;
      return from == kConstantTypeFloat ? static_cast<std::uint32_t>(TruncToInt32(Float(v))) : v;
    case kConstantTypeFloat:
      if (from == kConstantTypeBool) return Bits(v != 0 ? 1.0f : 0.0f);
      return from == kConstantTypeInt ? Bits(static_cast<float>(static_cast<std::int32_t>(v))) : v;
    default:
      return v;
  }
}

// --- Sources ------------------------------------------------------------------------------
// Each source gives its scalars as one stream, and the value at row r,
// column c of element e for a record of a class. Sources of 4-float vectors
// and 4x4 matrices give 0 outside them.

struct FlatSource {
  static constexpr bool kFlat = true;
  const std::uint32_t* p;
  std::size_t n;
  ScalarKind kind;
  std::size_t ScalarCount() const { return n; }
  std::uint32_t Scalar(std::size_t i) const { return p[i]; }
  const std::uint32_t* Contiguous(std::uint32_t, std::uint32_t) const { return p; }
};

struct VectorSource {
  static constexpr bool kFlat = false;
  static constexpr ScalarKind kind = kFloatKind;
  const float (*v)[4];
  std::size_t n;
  std::size_t ScalarCount() const { return n * 4; }
  std::uint32_t Scalar(std::size_t i) const { return Bits(v[i / 4][i % 4]); }
  std::uint64_t Elements(std::uint32_t cls, std::uint32_t rows) const {
    if (cls == kConstantClassScalar) return ScalarCount();
    if (cls == kConstantClassVector) return n;
    return rows ? n / rows : 0;
  }
  std::uint32_t At(std::uint32_t cls, std::uint32_t rows, std::uint64_t e, std::uint32_t r, std::uint32_t c) const {
    if (cls == kConstantClassScalar) return Scalar(e);
    if (c >= 4) return 0;
    return Bits(v[cls == kConstantClassVector ? e : e * rows + r][c]);
  }
  const std::uint32_t* Contiguous(std::uint32_t, std::uint32_t) const {
    return reinterpret_cast<const std::uint32_t*>(v);
  }
};

template <bool kTransposed, bool kPointers>
struct MatrixSource {
  static constexpr bool kFlat = false;
  static constexpr bool kTransposedSource = kTransposed;
  static constexpr ScalarKind kind = kFloatKind;
  const void* data;
  std::size_t n;
  const Matrix4& Get(std::size_t i) const {
    if constexpr (kPointers) return *static_cast<const Matrix4* const*>(data)[i];
    return static_cast<const Matrix4*>(data)[i];
  }
  std::uint32_t M(std::size_t i, std::uint32_t r, std::uint32_t c) const {
    if (r >= 4 || c >= 4) return 0;
    return Bits(kTransposed ? Get(i).m[c][r] : Get(i).m[r][c]);
  }
  std::size_t ScalarCount() const { return n * 16; }
  std::uint32_t Scalar(std::size_t i) const { return M(i / 16, (i / 4) % 4, i % 4); }
  std::uint64_t Elements(std::uint32_t cls, std::uint32_t) const {
    return cls == kConstantClassScalar ? n * 16 : cls == kConstantClassVector ? n * 4 : n;
  }
  std::uint32_t At(std::uint32_t cls, std::uint32_t, std::uint64_t e, std::uint32_t r, std::uint32_t c) const {
    if (cls == kConstantClassScalar) return Scalar(e);
    if (cls == kConstantClassVector) return M(e / 4, e % 4, c);
    return M(e, r, c);
  }
  // Matrices by rows lie in place only when they have all four rows.
  const std::uint32_t* Contiguous(std::uint32_t cls, std::uint32_t rows) const {
    if (kTransposed || kPointers || (cls == kConstantClassMatrixRows && rows != 4)) return nullptr;
    return static_cast<const std::uint32_t*>(data);
  }
};

template <class S>
constexpr bool kIsMatrixSource = false;
template <bool kTransposed, bool kPointers>
constexpr bool kIsMatrixSource<MatrixSource<kTransposed, kPointers>> = true;

// Scalars [offset, offset + n) of a source, read as a flat array: what the
// members of a struct are written from.
template <class Base>
struct ScalarView {
  static constexpr bool kFlat = true;
  const Base* base;
  std::size_t offset;
  std::size_t n;
  ScalarKind kind;
  std::size_t ScalarCount() const { return n; }
  std::uint32_t Scalar(std::size_t i) const { return base->Scalar(offset + i); }
  const std::uint32_t* Contiguous(std::uint32_t, std::uint32_t) const { return nullptr; }
};

template <class S>
struct ViewOf {
  using Type = ScalarView<S>;
  static Type Make(const S& s, std::size_t offset, std::size_t n) { return {&s, offset, n, s.kind}; }
};
template <class B>
struct ViewOf<ScalarView<B>> {
  using Type = ScalarView<B>;
  static Type Make(const ScalarView<B>& s, std::size_t offset, std::size_t n) {
    return {s.base, s.offset + offset, n, s.kind};
  }
};

// Flat sources give consecutive scalars per element, row after row.
std::uint64_t FlatScalarsPerElement(std::uint32_t cls, std::uint32_t rows, std::uint32_t columns) {
  return cls == kConstantClassScalar ? 1 : cls == kConstantClassVector ? columns : std::uint64_t{rows} * columns;
}

// --- Writing one record --------------------------------------------------------------------

struct Placement {
  std::uint32_t offset;  // registers added to the record's own
  std::uint64_t limit;   // registers at or past this are not written
};

class RecordWriter {
 public:
  explicit RecordWriter(IUnknown* target) : m_target(target) {}

  template <class S>
  HRESULT Write(ConstantRecord& r, const S& source, const Placement& at);

 private:
  template <class S>
  HRESULT WriteStruct(ConstantRecord& r, const S& source, const Placement& at);
  HRESULT Flush(ConstantRecord& r, const std::uint32_t* values, std::uint64_t registers, const Placement& at);

  IUnknown* m_target;
};

HRESULT RecordWriter::Flush(ConstantRecord& r, const std::uint32_t* values, std::uint64_t registers,
                            const Placement& at) {
  const std::uint64_t first = std::uint64_t{r.registerIndex} + at.offset;
  if (first >= at.limit) return S_OK;
  const std::uint64_t count = std::min({registers, std::uint64_t{r.registerCount}, at.limit - first});
  // A record without a register writer (samplers, other code kinds) is skipped.
  if (!r.writer || count == 0) return S_OK;
  return WriteRegisters(*r.writer, m_target, static_cast<std::uint32_t>(first), values, r.storage,
                        static_cast<std::uint32_t>(count));
}

template <class S>
HRESULT RecordWriter::Write(ConstantRecord& r, const S& source, const Placement& at) {
  const std::uint32_t cls = r.type.typeClass;
  if (cls == kConstantClassStruct) return WriteStruct(r, source, at);
  if (cls > kConstantClassMatrixColumns) return E_NOTIMPL;
  const std::uint32_t rows = r.type.rows, columns = r.type.columns;
  const std::uint64_t flatPer = FlatScalarsPerElement(cls, rows, columns);
  std::uint64_t written;
  if constexpr (S::kFlat) {
    written = flatPer ? source.ScalarCount() / flatPer : 0;
  } else {
    written = source.Elements(cls, rows);
  }
  written = std::min<std::uint64_t>(written, r.type.elements);

  // Register rows of an element: matrix rows, or columns when stored by
  // columns; each widened to whole registers outside the bool set.
  const bool byColumns = cls == kConstantClassMatrixColumns;
  const std::uint32_t rowCount = byColumns ? columns : cls == kConstantClassMatrixRows ? rows : 1;
  const std::uint32_t rowLength = byColumns ? rows : cls == kConstantClassScalar ? 1 : columns;
  const bool boolSet = r.registerSet == kRegisterSetBool;
  const std::uint32_t stride = boolSet ? rowLength : (rowLength + 3) & ~3u;
  const std::uint64_t perElement = std::uint64_t{rowCount} * stride;
  if (perElement == 0) return S_OK;
  // Never more than the record's storage holds (only a malformed type could ask for it).
  written = std::min(written, r.StorageValues() / perElement);
  if (written == 0) return S_OK;

  const std::uint32_t dataType = r.type.type;
  const bool convert = source.kind != kRawKind && IsNumeric(dataType) && dataType != source.kind;
  const std::uint32_t* values = nullptr;
  // In place only when the source is laid out as the registers are, and
  // holds every register the type counts.
  const bool registerShaped = perElement == std::uint64_t{r.registersPerElement} * (boolSet ? 1 : 4);
  if (!convert && !byColumns && stride == rowLength && registerShaped &&
      (S::kFlat || cls == kConstantClassScalar || columns == 4))
    values = source.Contiguous(cls, rows);
  // Missing components of an int register read (0, 0, 1, 0), in the record's own type.
  const std::uint32_t one = dataType == kConstantTypeFloat ? Bits(1.0f) : 1;
  const std::uint32_t pad[4] = {0, 0, r.registerSet == kRegisterSetInt ? one : 0, 0};
  if constexpr (kIsMatrixSource<S>) {
    // Whole matrices into matrix records: the common case, kept tight.
    if (!values && cls >= kConstantClassMatrixRows && rows == 4 && columns == 4 && !boolSet && !convert) {
      // 4x4 into 4x4: a copy, or a transposition when the source and the
      // record disagree on the order.
      std::uint32_t* out = r.storage;
      for (std::uint64_t e = 0; e < written; ++e, out += 16) {
        const float(&m)[4][4] = source.Get(e).m;
        if (byColumns == S::kTransposedSource) {
          std::memcpy(out, m, sizeof m);
          continue;
        }
        // SSE is part of every x86-64 processor.
        __m128 r0 = _mm_loadu_ps(m[0]), r1 = _mm_loadu_ps(m[1]), r2 = _mm_loadu_ps(m[2]), r3 = _mm_loadu_ps(m[3]);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        auto* f = reinterpret_cast<float*>(out);
        _mm_storeu_ps(f, r0);
        _mm_storeu_ps(f + 4, r1);
        _mm_storeu_ps(f + 8, r2);
        _mm_storeu_ps(f + 12, r3);
      }
      values = r.storage;
    }
    if (!values && cls >= kConstantClassMatrixRows && rows <= 4 && columns <= 4 && !boolSet) {
      std::uint32_t* out = r.storage;
      for (std::uint64_t e = 0; e < written; ++e) {
        const float(&m)[4][4] = source.Get(e).m;
        for (std::uint32_t row = 0; row < rowCount; ++row, out += 4) {
          for (std::uint32_t lane = 0; lane < 4; ++lane) {
            const std::uint32_t tr = byColumns ? lane : row, tc = byColumns ? row : lane;
            const std::uint32_t v = lane < rowLength ? Bits(S::kTransposedSource ? m[tc][tr] : m[tr][tc]) : pad[lane];
            out[lane] = convert && lane < rowLength ? Convert(v, source.kind, dataType) : v;
          }
        }
      }
      values = r.storage;
    }
  }
  if (!values) {
    std::uint32_t* out = r.storage;
    for (std::uint64_t e = 0; e < written; ++e) {
      for (std::uint32_t row = 0; row < rowCount; ++row) {
        for (std::uint32_t lane = 0; lane < stride; ++lane) {
          if (lane >= rowLength) {
            *out++ = pad[lane % 4];
            continue;
          }
          const std::uint32_t tr = byColumns ? lane : row, tc = byColumns ? row : lane;
          std::uint32_t v;
          if constexpr (S::kFlat) {
            v = source.Scalar(e * flatPer + std::uint64_t{tr} * columns + tc);
          } else {
            v = source.At(cls, rows, e, tr, tc);
          }
          *out++ = convert ? Convert(v, source.kind, dataType) : v;
        }
      }
    }
    values = r.storage;
  }
  return Flush(r, values, written * r.registersPerElement, at);
}

// Element after element, member after member, each member written from the
// next scalars of the source. A member's own register index places it within
// the first element; later elements lie a whole element further on.
template <class S>
HRESULT RecordWriter::WriteStruct(ConstantRecord& r, const S& source, const Placement& at) {
  if (r.scalarsPerElement == 0) return S_OK;
  const std::uint64_t written = std::min<std::uint64_t>(source.ScalarCount() / r.scalarsPerElement, r.type.elements);
  std::size_t cursor = 0;
  for (std::uint64_t e = 0; e < written; ++e) {
    const Placement member{static_cast<std::uint32_t>(at.offset + e * r.registersPerElement), at.limit};
    for (std::uint32_t k = 0; k < r.MemberCount(); ++k) {
      ConstantRecord& m = *r.members[k];
      const auto view = ViewOf<S>::Make(source, cursor, m.totalScalars);
      cursor += m.totalScalars;
      const HRESULT hr = Write(m, view, member);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

template <class S>
HRESULT WriteChain(ConstantRecord* first, IUnknown* target, const S& source, std::size_t maxRecords) {
  RecordWriter writer(target);
  std::size_t n = 0;
  for (ConstantRecord* r = first; r && n < maxRecords; r = r->next, ++n) {
    const Placement whole{0, std::uint64_t{r->registerIndex} + r->registerCount};
    const HRESULT hr = writer.Write(*r, source, whole);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace

// --- Register writers --------------------------------------------------------------------------

const RegisterWriter* ChooseRegisterWriter(DWORD version, std::uint32_t registerSet, const TypeInfoRecord& type) {
  using W = RegisterWriter;
  static constexpr W kWriters[3][3][4] = {
#define GXL_WRITER_ROW(target, set) {{target, set, 0}, {target, set, 1}, {target, set, 2}, {target, set, 3}}
      {GXL_WRITER_ROW(W::kVertex, 0), GXL_WRITER_ROW(W::kVertex, 1), GXL_WRITER_ROW(W::kVertex, 2)},
      {GXL_WRITER_ROW(W::kPixel, 0), GXL_WRITER_ROW(W::kPixel, 1), GXL_WRITER_ROW(W::kPixel, 2)},
      {GXL_WRITER_ROW(W::kTexture, 0), GXL_WRITER_ROW(W::kTexture, 1), GXL_WRITER_ROW(W::kTexture, 2)},
#undef GXL_WRITER_ROW
  };
  int target;
  switch (version >> 16) {
    case 0xFFFE:
      target = W::kVertex;
      break;
    case 0xFFFF:
      target = W::kPixel;
      break;
    case 0x5458:
      target = W::kTexture;
      break;
    default:
      return nullptr;
  }
  if (registerSet > kRegisterSetFloat) return nullptr;
  const bool isStruct = type.typeClass == kConstantClassStruct;
  if (target == W::kTexture && (isStruct || registerSet != kRegisterSetFloat)) return nullptr;
  // A struct's values take the representation of its register set.
  static constexpr std::uint16_t kSetType[3] = {kConstantTypeBool, kConstantTypeInt, kConstantTypeFloat};
  const std::uint32_t dataType = isStruct ? kSetType[registerSet] : type.type;
  if (dataType > kConstantTypeFloat) return nullptr;
  return &kWriters[target][registerSet][dataType];
}

HRESULT PutRegisters(const RegisterWriter& w, IUnknown* target, std::uint32_t first, const std::uint32_t* values,
                     std::uint32_t count) {
  if (w.target == RegisterWriter::kTexture) {
    auto* buffer = static_cast<DataBuffer*>(target);
    const std::uint64_t end = (std::uint64_t{first} + count) * 16;
    if (!buffer || end > buffer->GetSize()) return D3DERR_INVALIDCALL;
    std::memcpy(static_cast<std::uint8_t*>(buffer->GetPointer()) + std::size_t{first} * 16, values,
                std::size_t{count} * 16);
    return S_OK;
  }
  auto* device = static_cast<IDirect3DDevice9*>(target);
  if (!device) return D3DERR_INVALIDCALL;
  const bool vertex = w.target == RegisterWriter::kVertex;
  switch (w.registerSet) {
    case kRegisterSetBool: {
      const auto* b = reinterpret_cast<const BOOL*>(values);
      return vertex ? device->SetVertexShaderConstantB(first, b, count)
                    : device->SetPixelShaderConstantB(first, b, count);
    }
    case kRegisterSetInt: {
      const auto* i = reinterpret_cast<const int*>(values);
      return vertex ? device->SetVertexShaderConstantI(first, i, count)
                    : device->SetPixelShaderConstantI(first, i, count);
    }
    default: {
      const auto* f = reinterpret_cast<const float*>(values);
      return vertex ? device->SetVertexShaderConstantF(first, f, count)
                    : device->SetPixelShaderConstantF(first, f, count);
    }
  }
}

HRESULT WriteRegisters(const RegisterWriter& w, IUnknown* target, std::uint32_t first, const std::uint32_t* values,
                       std::uint32_t* buffer, std::uint32_t count) {
  static constexpr std::uint32_t kSetType[3] = {kConstantTypeBool, kConstantTypeInt, kConstantTypeFloat};
  const std::uint32_t to = kSetType[w.registerSet];
  if (w.dataType != kConstantTypeVoid && w.dataType != to) {
    const std::size_t n = std::size_t{count} * (w.registerSet == kRegisterSetBool ? 1 : 4);
    for (std::size_t i = 0; i < n; ++i) buffer[i] = Convert(values[i], w.dataType, to);
    values = buffer;
  }
  return PutRegisters(w, target, first, values, count);
}

}  // namespace gxl::shader

// --- The table's writer slots -------------------------------------------------------------------

using gxl::shader::ConstantWrite;
using gxl::shader::SourceForm;

HRESULT ConstantTable::WriteTyped(IUnknown* target, ConstantHandle handle, const ConstantWrite& write) {
  using namespace gxl::shader;
  Record* first = nullptr;
  const HRESULT hr = Resolve(handle, &first);
  if (FAILED(hr)) return hr;
  const std::size_t limit = m_registry.Size();
  const auto* words = static_cast<const std::uint32_t*>(write.data);
  switch (write.form) {
    case SourceForm::Raw:
      return WriteChain(first, target, FlatSource{words, write.count, kRawKind}, limit);
    case SourceForm::Bool:
      return WriteChain(first, target, FlatSource{words, write.count, kBoolKind}, limit);
    case SourceForm::Int:
      return WriteChain(first, target, FlatSource{words, write.count, kIntKind}, limit);
    case SourceForm::Float:
      return WriteChain(first, target, FlatSource{words, write.count, kFloatKind}, limit);
    case SourceForm::Vector:
      return WriteChain(first, target, VectorSource{static_cast<const float(*)[4]>(write.data), write.count}, limit);
    case SourceForm::Matrix:
      return WriteChain(first, target, MatrixSource<false, false>{write.data, write.count}, limit);
    case SourceForm::MatrixPointers:
      return WriteChain(first, target, MatrixSource<false, true>{write.data, write.count}, limit);
    case SourceForm::TransposedMatrix:
      return WriteChain(first, target, MatrixSource<true, false>{write.data, write.count}, limit);
    case SourceForm::TransposedMatrixPointers:
      return WriteChain(first, target, MatrixSource<true, true>{write.data, write.count}, limit);
  }
  return E_NOTIMPL;
}

HRESULT ConstantTable::WriteDefaults(IUnknown* target) {
  using namespace gxl::shader;
  // Defaults lie at any offset of the block: copied through an aligned buffer.
  std::uint32_t chunk[256];
  for (std::size_t i = 0; i < m_records.Size(); ++i) {
    const Record& r = *m_records[i];
    if (!r.defaultOffset || !r.writer) continue;
    const std::uint32_t lanes = r.Lanes();
    const std::uint32_t perChunk = 256 / lanes;
    for (std::uint32_t done = 0; done < r.registerCount;) {
      const std::uint32_t n = std::min(perChunk, r.registerCount - done);
      std::memcpy(chunk, m_data.get() + r.defaultOffset + std::size_t{done} * lanes * 4, std::size_t{n} * lanes * 4);
      const HRESULT hr = PutRegisters(*r.writer, target, r.registerIndex + done, chunk, n);
      if (FAILED(hr)) return hr;
      done += n;
    }
  }
  return S_OK;
}

HRESULT ConstantTable::WriteRaw(IUnknown* target, ConstantHandle handle, const void* data, UINT bytes) {
  if (!data && bytes >= 4) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Raw, data, bytes / 4});
}
HRESULT ConstantTable::WriteBool(IUnknown* target, ConstantHandle handle, BOOL value) {
  return WriteTyped(target, handle, {SourceForm::Bool, &value, 1});
}
HRESULT ConstantTable::WriteBoolArray(IUnknown* target, ConstantHandle handle, const BOOL* values, UINT count) {
  if (!values && count) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Bool, values, count});
}
HRESULT ConstantTable::WriteInt(IUnknown* target, ConstantHandle handle, INT value) {
  return WriteTyped(target, handle, {SourceForm::Int, &value, 1});
}
HRESULT ConstantTable::WriteIntArray(IUnknown* target, ConstantHandle handle, const INT* values, UINT count) {
  if (!values && count) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Int, values, count});
}
HRESULT ConstantTable::WriteFloat(IUnknown* target, ConstantHandle handle, FLOAT value) {
  return WriteTyped(target, handle, {SourceForm::Float, &value, 1});
}
HRESULT ConstantTable::WriteFloatArray(IUnknown* target, ConstantHandle handle, const FLOAT* values, UINT count) {
  if (!values && count) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Float, values, count});
}
HRESULT ConstantTable::WriteVector(IUnknown* target, ConstantHandle handle, const Vec4* vector) {
  if (!vector) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Vector, vector, 1});
}
HRESULT ConstantTable::WriteVectorArray(IUnknown* target, ConstantHandle handle, const Vec4* vectors, UINT count) {
  if (!vectors && count) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Vector, vectors, count});
}
HRESULT ConstantTable::WriteMatrix(IUnknown* target, ConstantHandle handle, const Matrix4* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Matrix, matrix, 1});
}
HRESULT ConstantTable::WriteMatrixArray(IUnknown* target, ConstantHandle handle, const Matrix4* matrices, UINT count) {
  if (!matrices && count) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::Matrix, matrices, count});
}
HRESULT ConstantTable::WriteMatrixPointers(IUnknown* target, ConstantHandle handle, const Matrix4* const* matrices,
                                           UINT count) {
  if (!matrices && count) return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < count; ++i)
    if (!matrices[i]) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::MatrixPointers, matrices, count});
}
HRESULT ConstantTable::WriteTransposedMatrix(IUnknown* target, ConstantHandle handle, const Matrix4* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::TransposedMatrix, matrix, 1});
}
HRESULT ConstantTable::WriteTransposedMatrixArray(IUnknown* target, ConstantHandle handle, const Matrix4* matrices,
                                                  UINT count) {
  if (!matrices && count) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::TransposedMatrix, matrices, count});
}
HRESULT ConstantTable::WriteTransposedMatrixPointers(IUnknown* target, ConstantHandle handle,
                                                     const Matrix4* const* matrices, UINT count) {
  if (!matrices && count) return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < count; ++i)
    if (!matrices[i]) return D3DERR_INVALIDCALL;
  return WriteTyped(target, handle, {SourceForm::TransposedMatrixPointers, matrices, count});
}

// The constant table's set-up, records, handles, name lookup and
// descriptions; its writers are in constant_writers.cpp.
#include "gxl/shader/compiler/constant_table.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

#include "gxl/shader/compiler/constant_block_check.h"
#include "gxl/shader/compiler/constant_record.h"
#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

using gxl::shader::ConstantBlockCheck;
using gxl::shader::ConstantRecord;

namespace {

// Records a table may ever hold, element records built later included.
constexpr std::uint32_t kMaxRegistry = 1u << 20;

std::uint32_t To32(std::uint64_t x) { return static_cast<std::uint32_t>(std::min<std::uint64_t>(x, 0xFFFFFFFFu)); }

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
const char* SkipSpace(const char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

// Counts of one record from its type's per-element counts.
void SetCounts(ConstantRecord* r, std::uint64_t registersPerElement, std::uint64_t scalarsPerElement) {
  r->registersPerElement = To32(registersPerElement);
  r->scalarsPerElement = To32(scalarsPerElement);
  r->totalRegisters = To32(std::uint64_t{r->type.elements} * r->registersPerElement);
  r->totalScalars = To32(std::uint64_t{r->type.elements} * r->scalarsPerElement);
}

}  // namespace

ConstantTable::ConstantTable() = default;

ConstantTable::~ConstantTable() {
  for (std::size_t i = 0; i < m_registry.Size(); ++i) delete m_registry[i];
}

HRESULT ConstantTable::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_ConstantTable) return E_NOINTERFACE;
  AddRef();
  *out = this;
  return S_OK;
}

ULONG ConstantTable::AddRef() { return ++m_refCount; }

ULONG ConstantTable::Release() {
  const ULONG count = --m_refCount;
  if (count == 0) delete this;
  return count;
}

const void* ConstantTable::Data() { return m_data.get(); }
UINT ConstantTable::DataSize() { return m_size; }

const char* ConstantTable::TextAt(std::uint32_t offset) const {
  // Every name offset was checked to end inside the block.
  return offset < m_size ? reinterpret_cast<const char*>(m_data.get() + offset) : nullptr;
}

// --- Set-up -------------------------------------------------------------------------

ConstantTable::Record* ConstantTable::NewRecord() {
  if (m_registry.Size() >= kMaxRegistry) return nullptr;
  if (m_registry.Empty() && !m_registry.Append(nullptr)) return nullptr;  // handle 0 is none
  auto* r = new (std::nothrow) ConstantRecord;
  if (!r) return nullptr;
  if (!m_registry.Append(r)) {
    delete r;
    return nullptr;
  }
  r->handle = static_cast<std::uint32_t>(m_registry.Size() - 1);
  return r;
}

HRESULT ConstantTable::BuildMembers(Record* record, const ConstantBlockCheck* check, const Record* like) {
  if (!ConstantBlockCheck::HasMembers(record->type)) return S_OK;
  const std::uint32_t n = record->type.members;
  record->members.reset(new (std::nothrow) ConstantRecord*[n]());
  if (!record->members) return E_OUTOFMEMORY;
  // Members lie one after another in the parent's registers, each cut to
  // what the parent's range leaves; their values follow in its storage.
  const std::uint64_t end = std::uint64_t{record->registerIndex} + record->registerCount;
  std::uint64_t reg = record->registerIndex;
  std::uint32_t* storage = record->storage;
  for (std::uint32_t k = 0; k < n; ++k) {
    Record* m = NewRecord();
    if (!m) return E_OUTOFMEMORY;
    record->members[k] = m;
    m->registerSet = record->registerSet;
    m->binding = record->binding;
    m->defaultOffset = record->defaultOffset;
    if (like) {
      const Record& t = *like->members[k];
      m->name = t.name;
      m->typeOffset = t.typeOffset;
      m->type = t.type;
      m->writer = t.writer;
      SetCounts(m, t.registersPerElement, t.scalarsPerElement);
    } else {
      const gxl::shader::MemberInfoRecord info = check->Member(record->type, k);
      const gxl::shader::TypeCounts& counts = check->Counts(info.typeInfo);
      m->name = info.name;
      m->typeOffset = info.typeInfo;
      m->type = check->Type(info.typeInfo);
      m->writer = gxl::shader::ChooseRegisterWriter(check->Header().version, m->registerSet, m->type);
      SetCounts(m, counts.registers[m->registerSet == gxl::shader::kRegisterSetBool ? 0 : 1], counts.scalars);
    }
    const std::uint64_t wanted = std::min<std::uint64_t>(m->totalRegisters, 0xFFFF);
    m->registerIndex = To32(reg);
    m->registerCount = static_cast<std::uint32_t>(reg < end ? std::min(wanted, end - reg) : 0);
    m->storage = storage;
    reg += m->registerCount;
    storage += m->StorageValues();
    const HRESULT hr = BuildMembers(m, check, like ? like->members[k] : nullptr);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ConstantTable::InitFromCode(const DWORD* code, DataBuffer** constantBuffer) {
  if (!code) return D3DERR_INVALIDCALL;
  const void* block = nullptr;
  UINT size = 0;
  HRESULT hr = FindShaderComment(code, gxl::shader::kTagConstantTable, &block, &size);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return GXLERR_INVALIDDATA;
  m_data.reset(new (std::nothrow) std::uint8_t[size ? size : 1]);
  if (!m_data) return E_OUTOFMEMORY;
  if (size) std::memcpy(m_data.get(), block, size);
  m_size = size;

  ConstantBlockCheck check;
  hr = check.Check(m_data.get(), m_size);
  if (FAILED(hr)) return hr;
  const std::uint32_t count = check.Header().constants;
  const std::uint64_t total = check.StorageTotal();
  m_storage.reset(new (std::nothrow) std::uint32_t[total ? total : 1]());
  if (!m_storage || !m_records.Reserve(count ? count : 1)) return E_OUTOFMEMORY;

  std::uint32_t* storage = m_storage.get();
  std::uint32_t floatRegisters = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const gxl::shader::ConstantEntryRecord e = check.Entry(i);
    Record* r = NewRecord();
    if (!r) return E_OUTOFMEMORY;
    m_records.Append(r);
    r->name = e.name;
    r->registerSet = e.registerSet;
    r->registerIndex = e.registerIndex;
    r->registerCount = e.registerCount;
    r->binding = e.binding;
    r->typeOffset = e.typeInfo;
    r->defaultOffset = e.defaultValue;
    r->type = check.Type(e.typeInfo);
    r->writer = gxl::shader::ChooseRegisterWriter(check.Header().version, e.registerSet, r->type);
    const gxl::shader::TypeCounts& counts = check.Counts(e.typeInfo);
    SetCounts(r, counts.registers[e.registerSet == gxl::shader::kRegisterSetBool ? 0 : 1], counts.scalars);
    r->storage = storage;
    storage += check.StorageOf(i);
    hr = BuildMembers(r, &check, nullptr);
    if (FAILED(hr)) return hr;
    if (e.registerSet == gxl::shader::kRegisterSetFloat)
      floatRegisters = std::max<std::uint32_t>(floatRegisters, std::uint32_t{e.registerIndex} + e.registerCount);
  }

  if (constantBuffer) {
    gxl::ComRef<DataBuffer> buffer;
    hr = CreateDataBuffer(floatRegisters * 16, buffer.Put());
    if (FAILED(hr)) return hr;
    if (buffer->GetSize()) std::memset(buffer->GetPointer(), 0, buffer->GetSize());
    *constantBuffer = buffer.Detach();
  }
  return S_OK;
}

HRESULT CreateShaderConstantTable(const DWORD* code, ConstantTable** table) {
  if (table) *table = nullptr;
  if (!code || !table) return D3DERR_INVALIDCALL;
  const DWORD kind = code[0] >> 16;
  if (kind != 0xFFFE && kind != 0xFFFF) return S_OK;
  auto* created = new (std::nothrow) ConstantTable;
  if (!created) return E_OUTOFMEMORY;
  const HRESULT hr = created->InitFromCode(code, nullptr);
  if (FAILED(hr)) {
    created->Release();
    return hr;
  }
  *table = created;
  return S_OK;
}

// --- Handles and lookup -----------------------------------------------------------------

ConstantHandle ConstantTable::HandleOf(const Record* record) const {
  if (!record) return nullptr;
  return reinterpret_cast<ConstantHandle>(static_cast<std::intptr_t>(0) - static_cast<std::intptr_t>(record->handle));
}

ConstantTable::Record* ConstantTable::RecordOf(ConstantHandle handle) const {
  const auto value = reinterpret_cast<std::intptr_t>(handle);
  if (value >= 0) return nullptr;
  const std::uintptr_t index = std::uintptr_t{0} - static_cast<std::uintptr_t>(value);
  return index < m_registry.Size() ? m_registry[index] : nullptr;
}

HRESULT ConstantTable::Resolve(ConstantHandle handle, Record** out) {
  *out = nullptr;
  if (!handle) return D3DERR_INVALIDCALL;
  if (reinterpret_cast<std::intptr_t>(handle) < 0) {
    *out = RecordOf(handle);
    return *out ? S_OK : D3DERR_INVALIDCALL;
  }
  return FindConstant(handle, out);
}

ConstantTable::Record* ConstantTable::Element(Record* record, std::uint32_t index) {
  const std::uint32_t count = record->type.elements;
  if (index >= count) return nullptr;
  if (count == 1) return record;
  if (!record->elements) {
    record->elements.reset(new (std::nothrow) ConstantRecord*[count]());
    if (!record->elements) return nullptr;
  }
  if (Record* built = record->elements[index]) return built;
  Record* e = NewRecord();
  if (!e) return nullptr;
  const std::uint64_t per = record->registersPerElement;
  const std::uint64_t first = record->registerIndex + per * index;
  const std::uint64_t end = std::uint64_t{record->registerIndex} + record->registerCount;
  e->name = record->name;
  e->registerSet = record->registerSet;
  e->registerIndex = To32(first);
  e->registerCount = static_cast<std::uint32_t>(first < end ? std::min(per, end - first) : 0);
  e->binding = record->binding;
  e->typeOffset = record->typeOffset;
  e->type = record->type;
  e->type.elements = 1;
  e->writer = record->writer;
  e->elementOf = record;
  SetCounts(e, record->registersPerElement, record->scalarsPerElement);
  const std::uint64_t values = per * record->Lanes() * index;
  if (record->defaultOffset) e->defaultOffset = To32(record->defaultOffset + values * 4);
  e->storage = record->storage + values;
  if (FAILED(BuildMembers(e, nullptr, record))) return nullptr;
  record->elements[index] = e;
  return e;
}

// The rest of a path below a record: element steps "[n]" and member steps
// ".name" (the first may leave out its "."), white space around each token.
ConstantTable::Record* ConstantTable::ResolveRest(Record* record, const char* p, bool bareMember) {
  for (bool first = true; record; first = false) {
    p = SkipSpace(p);
    if (!*p) return record;
    if (*p == '[') {
      p = SkipSpace(p + 1);
      if (!std::isdigit(static_cast<unsigned char>(*p))) return nullptr;
      std::uint64_t index = 0;
      while (std::isdigit(static_cast<unsigned char>(*p)))
        index = std::min<std::uint64_t>(index * 10 + static_cast<std::uint64_t>(*p++ - '0'), 0xFFFFFFFFu);
      p = SkipSpace(p);
      if (*p++ != ']') return nullptr;
      record = Element(record, static_cast<std::uint32_t>(index));
      continue;
    }
    if (*p == '.') {
      p = SkipSpace(p + 1);
    } else if (!(bareMember && first && IsNameChar(*p))) {
      return nullptr;
    }
    const char* name = p;
    while (IsNameChar(*p)) ++p;
    const std::size_t length = static_cast<std::size_t>(p - name);
    if (length == 0) return nullptr;
    Record* found = nullptr;
    for (std::uint32_t k = 0; k < record->MemberCount() && !found; ++k) {
      const char* text = TextAt(record->members[k]->name);
      if (text && std::strncmp(text, name, length) == 0 && text[length] == '\0') found = record->members[k];
    }
    record = found;
  }
  return nullptr;
}

HRESULT ConstantTable::FindConstant(const char* path, Record** out) {
  const char* p = SkipSpace(path);
  if (!IsNameChar(*p) && *p != '$') return D3DERR_INVALIDCALL;
  const char* name = p++;
  while (IsNameChar(*p)) ++p;
  const std::size_t length = static_cast<std::size_t>(p - name);
  // Entries are sorted by name, byte-wise.
  auto compare = [&](std::uint32_t i) {
    const char* text = TextAt(m_records[i]->name);
    const int c = std::memcmp(text, name, std::min(length, std::strlen(text) + 1));
    if (c != 0) return c;
    return text[length] == '\0' ? 0 : 1;
  };
  std::uint32_t low = 0, high = static_cast<std::uint32_t>(m_records.Size());
  std::uint32_t found = high;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const int c = compare(middle);
    if (c == 0) {
      found = middle;
      break;
    }
    if (c < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (found == m_records.Size()) return D3DERR_INVALIDCALL;
  while (found > 0 && compare(found - 1) == 0) --found;

  Record* head = nullptr;
  Record* tail = nullptr;
  for (std::uint32_t i = found; i < m_records.Size() && compare(i) == 0; ++i) {
    Record* r = ResolveRest(m_records[i], p, false);
    if (!r) return D3DERR_INVALIDCALL;
    (tail ? tail->next : head) = r;
    tail = r;
  }
  tail->next = nullptr;
  *out = head;
  return S_OK;
}

ConstantHandle ConstantTable::ConstantByIndex(ConstantHandle parent, UINT index) {
  if (!parent) return index < m_records.Size() ? HandleOf(m_records[index]) : nullptr;
  Record* r = nullptr;
  if (FAILED(Resolve(parent, &r)) || index >= r->MemberCount()) return nullptr;
  return HandleOf(r->members[index]);
}

ConstantHandle ConstantTable::ConstantByName(ConstantHandle parent, const char* name) {
  if (!name) return nullptr;
  Record* r = nullptr;
  if (!parent) {
    if (reinterpret_cast<std::intptr_t>(name) < 0) return RecordOf(name) ? name : nullptr;
    return SUCCEEDED(FindConstant(name, &r)) ? HandleOf(r) : nullptr;
  }
  if (reinterpret_cast<std::intptr_t>(name) < 0 || FAILED(Resolve(parent, &r))) return nullptr;
  return HandleOf(ResolveRest(r, name, true));
}

ConstantHandle ConstantTable::ConstantElement(ConstantHandle handle, UINT index) {
  Record* r = nullptr;
  if (FAILED(Resolve(handle, &r))) return nullptr;
  return HandleOf(Element(r, index));
}

INT ConstantTable::SamplerIndex(ConstantHandle handle) {
  Record* r = nullptr;
  if (FAILED(Resolve(handle, &r)) || r->registerSet != gxl::shader::kRegisterSetSampler) return -1;
  return static_cast<INT>(r->registerIndex);
}

// --- Descriptions -----------------------------------------------------------------------

HRESULT ConstantTable::Describe(ConstantTableDesc* out) {
  if (!out) return D3DERR_INVALIDCALL;
  if (m_size < sizeof(gxl::shader::ConstantTableHeader)) return GXLERR_INVALIDDATA;
  const auto header = gxl::shader::ReadRecord<gxl::shader::ConstantTableHeader>(m_data.get());
  if (header.size < sizeof header || header.creator >= m_size) return GXLERR_INVALIDDATA;
  *out = {header.creator ? TextAt(header.creator) : nullptr, header.version, header.constants};
  return S_OK;
}

void ConstantTable::Describe(const Record& r, ConstantDesc* out) const {
  const gxl::shader::TypeInfoRecord& t = r.type;
  const std::uint64_t defaultBytes = std::uint64_t{r.registerCount} * r.Lanes() * 4;
  const bool hasDefault = r.defaultOffset && r.defaultOffset <= m_size && defaultBytes <= m_size - r.defaultOffset;
  *out = ConstantDesc{TextAt(r.name),
                      r.registerSet,
                      r.registerIndex,
                      r.registerCount,
                      t.typeClass,
                      t.type,
                      t.rows,
                      t.columns,
                      t.elements,
                      t.members,
                      To32(std::uint64_t{t.elements} * t.rows * t.columns * 4),
                      hasDefault ? m_data.get() + r.defaultOffset : nullptr};
}

HRESULT ConstantTable::DescribeConstants(ConstantHandle handle, ConstantDesc* out, UINT* count) {
  if (!out && !count) return D3DERR_INVALIDCALL;
  Record* first = nullptr;
  const HRESULT hr = Resolve(handle, &first);
  if (FAILED(hr)) return hr;
  std::uint32_t n = 0;
  for (const Record* r = first; r && n < m_registry.Size(); r = r->next) ++n;
  std::uint32_t k = 1;
  if (count) {
    k = std::min<std::uint32_t>(*count ? *count : 1, n);
    *count = n;
  }
  if (out) {
    const Record* r = first;
    for (std::uint32_t i = 0; i < k && r; ++i, r = r->next) Describe(*r, &out[i]);
  }
  return S_OK;
}

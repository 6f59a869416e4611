#include "gxl/shader/compiler/constant_block_check.h"

#include <algorithm>
#include <cstring>

#include "gxl/tex/result_codes.h"

namespace gxl::shader {

namespace {

constexpr std::uint64_t kCap = std::uint64_t{1} << 40;
std::uint64_t Add(std::uint64_t a, std::uint64_t b) { return std::min(a + b, kCap); }
std::uint64_t Times(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kCap / b ? kCap : std::min(a * b, kCap); }

}  // namespace

bool ConstantBlockCheck::ValidText(std::uint32_t offset) const {
  return offset < m_size && std::memchr(m_data + offset, 0, m_size - offset) != nullptr;
}

ConstantEntryRecord ConstantBlockCheck::Entry(std::uint32_t i) const {
  return ReadRecord<ConstantEntryRecord>(m_data + m_header.constantInfo + std::size_t{i} * sizeof(ConstantEntryRecord));
}

std::uint64_t ConstantBlockCheck::StorageOf(std::uint32_t i) const {
  const ConstantEntryRecord e = Entry(i);
  const TypeInfoRecord t = Type(e.typeInfo);
  const std::uint64_t perElement = Counts(e.typeInfo).registers[e.registerSet == kRegisterSetBool ? 0 : 1];
  return Times(Times(Lanes(e.registerSet), t.elements), perElement);
}

HRESULT ConstantBlockCheck::CheckType(std::uint32_t offset, std::uint32_t depth) {
  if (depth > kMaxNesting || !Fits(offset, sizeof(TypeInfoRecord))) return GXLERR_INVALIDDATA;
  if (std::uint32_t slot = m_memoIndex[offset]) return m_memo[slot - 1].state == 2 ? S_OK : GXLERR_INVALIDDATA;
  if (!m_memo.Append(Memo{1, {}})) return E_OUTOFMEMORY;
  const std::uint32_t slot = static_cast<std::uint32_t>(m_memo.Size());
  m_memoIndex[offset] = slot;

  const TypeInfoRecord t = Type(offset);
  // Records of no elements would leave their members no room.
  if (t.elements == 0) return GXLERR_INVALIDDATA;
  TypeCounts c{};
  if (HasMembers(t)) {
    if (!Fits(t.memberInfo, std::uint64_t{t.members} * sizeof(MemberInfoRecord))) return GXLERR_INVALIDDATA;
    for (std::uint32_t k = 0; k < t.members; ++k) {
      const MemberInfoRecord m = Member(t, k);
      if (!ValidText(m.name)) return GXLERR_INVALIDDATA;
      const HRESULT hr = CheckType(m.typeInfo, depth + 1);
      if (FAILED(hr)) return hr;
      const TypeCounts& mc = m_memo[m_memoIndex[m.typeInfo] - 1].counts;
      const std::uint64_t elements = Type(m.typeInfo).elements;
      c.scalars = Add(c.scalars, Times(elements, mc.scalars));
      c.registers[0] = Add(c.registers[0], Times(elements, mc.registers[0]));
      c.registers[1] = Add(c.registers[1], Times(elements, mc.registers[1]));
      c.records = Add(c.records, Add(1, mc.records));
    }
  } else if (t.typeClass != kConstantClassStruct) {
    const bool byColumns = t.typeClass == kConstantClassMatrixColumns;
    c.scalars = std::uint64_t{t.rows} * t.columns;
    c.registers[0] = c.scalars;
    c.registers[1] = std::uint64_t{byColumns ? t.columns : t.rows} * (((byColumns ? t.rows : t.columns) + 3u) / 4);
  }
  m_memo[slot - 1] = Memo{2, c};
  return S_OK;
}

HRESULT ConstantBlockCheck::Check(const std::uint8_t* data, std::uint32_t size) {
  m_data = data;
  m_size = size;
  m_storage = 0;
  m_memo.Clear();
  if (size < sizeof(ConstantTableHeader)) return GXLERR_INVALIDDATA;
  m_header = ReadRecord<ConstantTableHeader>(data);
  if (m_header.size < sizeof(ConstantTableHeader)) return GXLERR_INVALIDDATA;
  if ((m_header.creator && !ValidText(m_header.creator)) || (m_header.target && !ValidText(m_header.target)))
    return GXLERR_INVALIDDATA;
  const std::uint32_t count = m_header.constants;
  if (count && !Fits(m_header.constantInfo, std::uint64_t{count} * sizeof(ConstantEntryRecord)))
    return GXLERR_INVALIDDATA;

  m_memoIndex.Clear();
  if (!m_memoIndex.Reserve(size)) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < size; ++i) m_memoIndex.Append(0);
  std::uint64_t records = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const ConstantEntryRecord e = Entry(i);
    if (!ValidText(e.name)) return GXLERR_INVALIDDATA;
    const HRESULT hr = CheckType(e.typeInfo, 1);
    if (FAILED(hr)) return hr;
    if (e.defaultValue &&
        !Fits(e.defaultValue, std::uint64_t{e.registerCount} * Lanes(e.registerSet) * sizeof(std::uint32_t)))
      return GXLERR_INVALIDDATA;
    records = Add(records, Add(1, Counts(e.typeInfo).records));
    m_storage = Add(m_storage, StorageOf(i));
    if (records > kMaxRecords || m_storage > kMaxStorageValues) return GXLERR_INVALIDDATA;
  }
  return S_OK;
}

}  // namespace gxl::shader

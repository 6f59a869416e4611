// The checks a "CTAB" block passes before a constant table builds anything
// over it: every offset and the bytes it leads to lie inside the block, names
// end inside it, struct nesting stays within 64 levels (a member type that
// refers back to an enclosing one fails), and the records and values the
// table would make stay within fixed bounds, so that no small block can make
// it run long or allocate much. Per type, the counts the table needs.
#pragma once

#include <cstdint>

#include "gxl/shader/core/constant_layout.h"
#include "gxl/shader/core/pod_array.h"
#include "platform/win_types.h"

namespace gxl::shader {

// Counts of one element of a type.
struct TypeCounts {
  std::uint64_t scalars;
  std::uint64_t registers[2];  // bool set, other sets
  std::uint64_t records;       // member records below one record of the type
};

class ConstantBlockCheck {
 public:
  static constexpr std::uint32_t kMaxNesting = 64;
  // Records built with the table, and values of storage; past either the block is refused.
  static constexpr std::uint64_t kMaxRecords = std::uint64_t{1} << 16;
  static constexpr std::uint64_t kMaxStorageValues = std::uint64_t{1} << 22;

  // S_OK, GXLERR_INVALIDDATA, or E_OUTOFMEMORY for the check's own tables.
  HRESULT Check(const std::uint8_t* data, std::uint32_t size);

  const ConstantTableHeader& Header() const { return m_header; }
  ConstantEntryRecord Entry(std::uint32_t i) const;
  TypeInfoRecord Type(std::uint32_t offset) const { return ReadRecord<TypeInfoRecord>(m_data + offset); }
  MemberInfoRecord Member(const TypeInfoRecord& type, std::uint32_t k) const {
    return ReadRecord<MemberInfoRecord>(m_data + type.memberInfo + std::size_t{k} * sizeof(MemberInfoRecord));
  }
  // Of a checked type.
  const TypeCounts& Counts(std::uint32_t typeOffset) const { return m_memo[m_memoIndex[typeOffset] - 1].counts; }
  // Values of storage a top-level entry needs; the sum over all entries.
  std::uint64_t StorageOf(std::uint32_t entry) const;
  std::uint64_t StorageTotal() const { return m_storage; }

  // Whether members are built for a type: structs only.
  static bool HasMembers(const TypeInfoRecord& t) { return t.typeClass == kConstantClassStruct && t.members != 0; }
  // Values per register in a set: one for bools, four otherwise.
  static std::uint32_t Lanes(std::uint32_t registerSet) { return registerSet == kRegisterSetBool ? 1 : 4; }

 private:
  struct Memo {
    std::uint32_t state;  // 1 being checked, 2 done
    TypeCounts counts;
  };

  bool ValidText(std::uint32_t offset) const;
  bool Fits(std::uint64_t offset, std::uint64_t bytes) const { return offset <= m_size && bytes <= m_size - offset; }
  HRESULT CheckType(std::uint32_t offset, std::uint32_t depth);

  const std::uint8_t* m_data = nullptr;
  std::uint32_t m_size = 0;
  ConstantTableHeader m_header{};
  PodArray<std::uint32_t> m_memoIndex;  // per byte offset: memo slot + 1, or 0
  PodArray<Memo> m_memo;
  std::uint64_t m_storage = 0;
};

}  // namespace gxl::shader

// The records of the "CTAB" and "FINF" comment blocks, as they lie in the
// payload (little-endian, offsets counted from the first payload byte). The
// writers fill them in place; readers copy them out of the bytes with
// ReadRecord, since offsets in a block need not be aligned.
#pragma once

#include <cstdint>
#include <cstring>

namespace gxl::shader {

// Register sets of a constant.
enum ConstantRegisterSet : std::uint16_t {
  kRegisterSetBool = 0,
  kRegisterSetInt = 1,
  kRegisterSetFloat = 2,
  kRegisterSetSampler = 3,
};

// Type-record classes.
enum ConstantClass : std::uint16_t {
  kConstantClassScalar = 0,
  kConstantClassVector = 1,
  kConstantClassMatrixRows = 2,
  kConstantClassMatrixColumns = 3,
  kConstantClassObject = 4,
  kConstantClassStruct = 5,
};

// Type-record data types (the object codes run on: 4 string, 5 texture ...
// 11-14 samplers, 15-18 shaders and fragments).
enum ConstantType : std::uint16_t {
  kConstantTypeVoid = 0,
  kConstantTypeBool = 1,
  kConstantTypeInt = 2,
  kConstantTypeFloat = 3,
};

// Binding bits of a constant record: a default value follows; bound to an
// explicit register, whose number is bits 2-15 (fragment information only).
constexpr std::uint16_t kBindingHasDefault = 0x1;
constexpr std::uint16_t kBindingExplicit = 0x2;

struct ConstantTableHeader {
  std::uint32_t size;  // 28
  std::uint32_t creator;
  std::uint32_t version;
  std::uint32_t constants;
  std::uint32_t constantInfo;
  std::uint32_t flags;
  std::uint32_t target;
};
static_assert(sizeof(ConstantTableHeader) == 28);

struct ConstantEntryRecord {
  std::uint32_t name;
  std::uint16_t registerSet;
  std::uint16_t registerIndex;
  std::uint16_t registerCount;
  std::uint16_t binding;
  std::uint32_t typeInfo;
  std::uint32_t defaultValue;
};
static_assert(sizeof(ConstantEntryRecord) == 20);

struct TypeInfoRecord {
  std::uint16_t typeClass;
  std::uint16_t type;
  std::uint16_t rows;
  std::uint16_t columns;
  std::uint16_t elements;
  std::uint16_t members;
  std::uint32_t memberInfo;
};
static_assert(sizeof(TypeInfoRecord) == 16);

struct MemberInfoRecord {
  std::uint32_t name;
  std::uint32_t typeInfo;
};
static_assert(sizeof(MemberInfoRecord) == 8);

// The type record of a float4 register: every symbolic fragment register.
constexpr TypeInfoRecord kFloat4Register = {kConstantClassVector, kConstantTypeFloat, 1, 4, 1, 0, 0};

// A record out of block bytes (the caller has checked the range).
template <class Record>
Record ReadRecord(const std::uint8_t* bytes) {
  Record r;
  std::memcpy(&r, bytes, sizeof r);
  return r;
}

}  // namespace gxl::shader

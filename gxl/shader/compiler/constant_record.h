// The records of a constant table: one per constant of the block, with
// records for struct members (built with the table) and array elements
// (built on first use) below it. Shared by the table's lookups and writers.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/core/constant_layout.h"
#include "platform/win_types.h"

struct IUnknown;

namespace gxl::shader {

// How a record's values reach registers: the code kind's target operation
// for its register set, converting from its data type first.
struct RegisterWriter {
  enum Target : std::uint8_t { kVertex, kPixel, kTexture };
  Target target;
  std::uint16_t registerSet;
  std::uint16_t dataType;
};

// The register writer of a record, or null when none applies: the sampler
// set, other code kinds, data types past float, and for texture shaders
// everything but non-struct float-set constants. Structs use their set's
// own data type.
const RegisterWriter* ChooseRegisterWriter(DWORD version, std::uint32_t registerSet, const TypeInfoRecord& type);

// Converts count registers of values from the writer's data type to its
// register set's representation into buffer (which may be values) and
// writes them; the target's result.
HRESULT WriteRegisters(const RegisterWriter& writer, IUnknown* target, std::uint32_t first, const std::uint32_t* values,
                       std::uint32_t* buffer, std::uint32_t count);
// Writes count registers as they stand (defaults).
HRESULT PutRegisters(const RegisterWriter& writer, IUnknown* target, std::uint32_t first, const std::uint32_t* values,
                     std::uint32_t count);

struct ConstantRecord {
  // The entry as this record sees it (members and elements have their own
  // register range, name, type and default); 32 bits wide, so nothing wraps.
  std::uint32_t name = 0;
  std::uint32_t registerSet = 0;
  std::uint32_t registerIndex = 0;
  std::uint32_t registerCount = 0;
  std::uint32_t binding = 0;
  std::uint32_t typeOffset = 0;
  std::uint32_t defaultOffset = 0;
  TypeInfoRecord type{};  // a copy; elements 1 in element records
  const RegisterWriter* writer = nullptr;
  std::uint32_t* storage = nullptr;  // its part of the table's values, the conversion room
  ConstantRecord* next = nullptr;    // the next record the same name reaches
  std::uint32_t totalRegisters = 0;
  std::uint32_t registersPerElement = 0;
  std::uint32_t totalScalars = 0;
  std::uint32_t scalarsPerElement = 0;
  std::uint32_t handle = 0;                     // index in the table's registry
  std::unique_ptr<ConstantRecord*[]> members;   // type.members entries for structs
  std::unique_ptr<ConstantRecord*[]> elements;  // type.elements entries, built on demand
  ConstantRecord* elementOf = nullptr;          // the array an element record belongs to

  std::uint32_t Lanes() const { return registerSet == kRegisterSetBool ? 1 : 4; }
  std::uint32_t MemberCount() const { return members ? type.members : 0; }
  // Values of storage the record owns.
  std::uint64_t StorageValues() const { return std::uint64_t{Lanes()} * type.elements * registersPerElement; }
};

}  // namespace gxl::shader

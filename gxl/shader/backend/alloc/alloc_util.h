// What the second-phase packing, operand, expansion and literal passes
// share: register queries over values, fresh temporaries and instructions,
// the placing of new instructions beside old ones, and the repair of an
// operand group so that it reads one register.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader::alloc {

using opt::BankTypeOf;
using opt::IsEmpty;
using opt::NewArray;

inline std::uint32_t TemporaryBank(const ShaderProgram& p) { return p.StandardBankIndex(StandardBank::Temporaries); }
inline std::uint32_t LiteralBank(const ShaderProgram& p) { return p.StandardBankIndex(StandardBank::Literals); }

inline bool IsTemporary(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
  return v && v->bank == TemporaryBank(p) && v->relativeIndex == kNoIndex;
}
// A literal of "l" read directly.
inline bool IsFreeLiteral(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
  return v && v->bank == LiteralBank(p) && v->relativeIndex == kNoIndex;
}

// Counts turned into offsets in place, for tables of lists laid end to end:
// `counts` has n + 1 entries, the last of which takes the total; the total.
inline std::uint32_t Starts(std::uint32_t* counts, std::size_t n) {
  std::uint32_t total = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint32_t c = counts[k];
    counts[k] = total;
    total += c;
  }
  counts[n] = total;
  return total;
}

// One past the highest assigned register of a bank; unassigned registers
// (kNoIndex) do not count.
std::uint32_t NextFreeRegister(const ShaderProgram& p, std::uint32_t bank);

// A new temporary at register and component, written under the guard of
// `like`; kNoIndex when memory runs out.
std::uint32_t NewTemporary(ShaderProgram& p, std::uint32_t reg, std::uint32_t component, std::uint32_t like);
// A literal of "l" without a register; kNoIndex when memory runs out.
std::uint32_t NewLiteral(ShaderProgram& p, double x);

// A new instruction of `word` (counts derived), with the operands given and
// the source position and pass fields of `origin`; kNoIndex when memory runs
// out. The operand arrays may be null (left kNoIndex).
std::uint32_t NewInstruction(ShaderProgram& p, std::uint32_t word, const std::uint32_t* arguments,
                             const std::uint32_t* results, const IrInstruction& origin);

// Argument group g of an instruction whose groups are its width wide.
inline std::uint32_t* Group(const IrInstruction& i, std::uint32_t g) { return i.arguments + g * i.Width(); }

// New instructions placed beside the instructions present when the splicer
// was made: each before or after its anchor, in the order they were added.
// Positions change when Apply runs; until then the program keeps its order.
class Splicer {
 public:
  explicit Splicer(ShaderProgram& p) : m_p(p), m_base(p.instructions.Count()) {}
  // Notes that instruction `added` (appended since) stands before or after `anchor`.
  bool Place(std::uint32_t added, std::uint32_t anchor, bool after);
  bool Empty() const { return m_entries.Empty(); }
  // Reorders the instruction list; E_OUTOFMEMORY leaves it as it was.
  HRESULT Apply();

 private:
  struct Entry {
    std::uint32_t added, anchor, after;
  };
  ShaderProgram& m_p;
  std::uint32_t m_base;
  PodArray<Entry> m_entries;
};

// How far MakeGroupAddressable may go to make a group read one register.
enum class Repair {
  kCheck,    // only tell whether it already does
  kRepoint,  // also let positions read values that hold the same thing in the one register
  kBuild,    // also fill a fresh temporary by new instructions, appended to the program
};

// The group of `width` values read by instruction `reader` (its results'
// guard) made readable as one register with one swizzle; true when it is.
// With Repair::kBuild `nextRegister` names the fresh temporary register to
// use and advances when one is taken. Fails with E_FAIL ("internal error:
// component out of range") or E_OUTOFMEMORY through `status`.
bool MakeGroupAddressable(ShaderProgram& p, std::uint32_t* group, std::uint32_t width, const IrInstruction& reader,
                          std::uint32_t readerPosition, Repair repair, std::uint32_t* nextRegister, HRESULT* status);

// The values of the group lie in one register (literals of "l" without a
// register count as one).
bool InOneRegister(const ShaderProgram& p, const std::uint32_t* group, std::uint32_t width);

// A stable ascending order of the components of `count` values, written
// into `permutation` (positions of the values in that order).
void SortGroupByComponent(const ShaderProgram& p, const std::uint32_t* values, std::uint32_t* permutation,
                          std::uint32_t count);

}  // namespace gxl::shader::alloc

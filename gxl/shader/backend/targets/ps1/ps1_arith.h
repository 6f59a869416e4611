// What the 1.x arithmetic rewrites share: source selections against the
// swizzle tables, fresh temporaries, and the rebuild of the stage list's
// arithmetic block that the list emulations append into.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader::ps1 {

class ArithmeticRebuild;

constexpr std::uint32_t kComponentW = 3;
constexpr std::uint32_t kNoSelection = 255;

// The component each element of argument group `g` selects (kNoSelection
// for a literal, which fits any swizzle), and the destination component it
// lands in: a dot product's elements land by position, the others in the
// component of the matching result. False when the instruction has no such
// group of its width.
struct GroupSelection {
  std::uint32_t count = 0;
  std::uint8_t source[4];
  std::uint8_t destination[4];
};
bool SelectionOf(const PixelShader1Target& t, const IrInstruction& inst, std::uint32_t g, GroupSelection* out);
// Whether the selection fits swizzle `entry` (source component per
// destination component), literals anywhere.
bool FitsSwizzle(const GroupSelection& s, const std::uint8_t entry[4]);
// The replicate of one component (x, y, z or w) that fits, or kNoSelection.
std::uint32_t ReplicatedComponent(const GroupSelection& s);

// Argument groups of an instruction (2 for a dot product); 0 when the
// arguments do not divide into groups of its width.
std::uint32_t GroupCount(const IrInstruction& inst);

// A new temporary value of `component` in a register of its own; kNoIndex
// when memory runs out.
std::uint32_t NewTemporary(PixelShader1Target& t, std::uint32_t component);
// AddFilledInstruction whose results know their producer at once, as the
// list rewrites read it before the use analysis is refreshed.
std::uint32_t AddProducer(PixelShader1Target& t, std::uint32_t word, const std::uint32_t* arguments,
                          std::uint32_t argumentCount, const std::uint32_t* results, std::uint32_t resultCount,
                          std::uint32_t sourceOf);
// Component `component` of `source` (with its modifier) into the w of a new
// temporary through a dp3 with the vector that is 1.0 there, appended to the
// rebuilt list: ps_1_1-1_3 read one component elsewhere only as .w (or as .z
// into w alone). The source swizzle stays the identity.
HRESULT SelectIntoW(PixelShader1Target& t, ArithmeticRebuild& list, std::uint32_t source, std::uint32_t component,
                    std::uint32_t sourceOf, std::uint32_t* w);
// A literal of the "l" bank.
std::uint32_t Literal(PixelShader1Target& t, double x);
// Instructions that rewrites leave to the texture rules.
bool IsTextureSide(std::uint32_t group);

// The arithmetic block of the stage list rebuilt entry by entry: Take()
// lifts the entries out (the texture slots stay) and Append() puts entries
// back, reporting "program too big" when the list would overflow.
class ArithmeticRebuild {
 public:
  explicit ArithmeticRebuild(PixelShader1Target& t) : m_t(t) {}
  HRESULT Take();
  std::uint32_t Count() const { return static_cast<std::uint32_t>(m_entries.Size()); }
  std::uint32_t operator[](std::uint32_t k) const { return m_entries[k]; }
  HRESULT Append(std::uint32_t instruction, std::uint32_t sourceOf);
  // Every live arithmetic entry through `rewrite(list, index)` (0 rewritten,
  // 1 not, or a failure; it may append code to go before the entry), then
  // the entry appended: 0 when something was rewritten (the use analysis
  // refreshed), 1 when not, or the first failure.
  template <class Rewrite>
  HRESULT RewriteEach(Rewrite rewrite);

 private:
  PixelShader1Target& m_t;
  PodArray<std::uint32_t> m_entries;
};

template <class Rewrite>
HRESULT ArithmeticRebuild::RewriteEach(Rewrite rewrite) {
  HRESULT hr = Take();
  bool changed = false;
  for (std::uint32_t k = 0; k < Count() && SUCCEEDED(hr); ++k) {
    const std::uint32_t index = m_entries[k];
    const IrInstruction* inst = m_t.Instruction(index);
    const HRESULT rewritten =
        inst && inst->word >= 0x100000 && !IsTextureSide(inst->Group()) ? rewrite(*this, index) : 1;
    changed |= rewritten == S_OK;
    hr = SUCCEEDED(rewritten) ? Append(index, index) : rewritten;
  }
  if (FAILED(hr)) return hr;
  return changed ? m_t.ResetSelectionState() : 1;
}

}  // namespace gxl::shader::ps1

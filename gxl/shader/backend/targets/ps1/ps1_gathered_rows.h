// A vector whose components are computed by separate instructions (the rows
// of a matrix, one register each) reaches the 1.x target read one row at a
// time: the second phase splits every instruction whose operand group spans
// registers, so dot(n, e) arrives as one product per row summed by a dot with
// ones, and n * s as one product per row. GatheredRows rebuilds, below a root
// instruction, the vector instructions those splits replaced, so that a
// recogniser can match the expression as written; it keeps what it replaced
// and puts it back when the recogniser finds nothing. The rebuilt operand
// groups may span registers again: they are meant to be consumed by the
// recogniser, never kept.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/select/expression_pattern.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

class GatheredRows {
 public:
  explicit GatheredRows(PixelShader1Target& t) : m_t(t) {}
  ~GatheredRows();
  GatheredRows(const GatheredRows&) = delete;
  GatheredRows& operator=(const GatheredRows&) = delete;

  // Rebuilds the split instructions that the tree below `root` reads, with
  // the use analysis refreshed after each: S_OK when something was rebuilt,
  // 1 when nothing was, or a failure (after putting everything back).
  HRESULT Gather(std::uint32_t root);
  // Every rebuilt instruction is among `matched`: a match consumes them all.
  bool Within(const MatchedList& matched) const;
  // Puts back every replaced instruction and refreshes the use analysis.
  HRESULT Undo();

 private:
  // One rewrite below `position` (at most `depth` levels down): S_OK when
  // made, 1 when none applies.
  HRESULT RewriteBelow(std::uint32_t position, std::uint32_t depth);
  // A dot with ones over one-row products becomes the dot of the rows.
  HRESULT JoinSplitDot(std::uint32_t position);
  // A group read from one scalar instruction per component becomes the
  // results of one instruction of the group's width.
  HRESULT JoinSplitGroup(const std::uint32_t* group, std::uint32_t width, std::uint32_t reader);
  // The single-result scalar producer of `value` whose result only `reader`
  // reads, unmodified; kNoIndex when there is none.
  std::uint32_t OnlyFeeder(std::uint32_t value, std::uint32_t reader) const;
  // `made` takes the place of the instruction at `position`, which is kept.
  HRESULT Replace(std::uint32_t position, IrInstruction* made);

  struct Swap {
    std::uint32_t position;
    IrInstruction* kept;  // the replaced instruction, owned while out of the program
    IrInstruction* made;
  };
  static constexpr std::uint32_t kMaxSwaps = 32;

  PixelShader1Target& m_t;
  Swap m_swaps[kMaxSwaps];
  std::uint32_t m_swapCount = 0;
};

}  // namespace gxl::shader

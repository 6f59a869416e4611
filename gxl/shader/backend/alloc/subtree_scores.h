// The subtree scores of the straight-line scheduler without its walks.
//
// ShaderProgram::SubtreeScore marks the inputs of an instruction q with the
// tag q and sums over the marked set; marks are never cleared, so a later
// score of q meets the marks of q that no other score has overwritten since.
// Walking the subtree for every score is quadratic on long chains. Here each
// instruction's inputs are a bitset, and two cases cover every score:
//  - no instruction carries the tag q: the walk would mark all of q's inputs,
//    so the size is their count and the sum a sum of per-instruction weights
//    over them (the marked set is then closed under inputs);
//  - q itself carries q: the walk marks nothing, and the sum runs over the
//    instructions still tagged q.
// q carries q exactly when q was scored and no score since covered it; that
// is one bit per instruction. The tags themselves are written out only when
// the second case needs them, newest score first, one bitset step per score.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

class SubtreeScores {
 public:
  explicit SubtreeScores(ShaderProgram& program) : m_p(program) {}

  // Whether the bitsets of `count` instructions stay within their memory.
  static bool Fits(std::uint32_t count);

  // Over the current dependency lists, every instruction unscheduled and
  // untagged. S_OK ready; S_FALSE when the program is too large for the
  // bitsets or an input stands after its reader (the walks serve then);
  // E_OUTOFMEMORY.
  HRESULT Prepare();
  // What SubtreeScore (q, size, score, q) gives, with the same tags left.
  HRESULT Score(std::uint32_t q, std::uint32_t* size, std::int32_t* score);
  // The instruction has just been marked scheduled.
  void Scheduled(std::uint32_t instruction);
  // Word 14 of every instruction as the walks would have left it.
  void Finish();

 private:
  // Inputs stand before their readers: row i holds the bits 0 .. i, in
  // i / 64 + 1 words after the rows before it.
  static std::uint64_t RowStart(std::uint64_t i) {
    const std::uint64_t blocks = i / 64;
    return i + 64 * (blocks ? blocks * (blocks - 1) / 2 : 0) + (i % 64) * blocks;
  }
  const std::uint64_t* Inputs(std::uint32_t i) const { return m_inputs.get() + RowStart(i); }
  // The tags brought up to date with the scores since the last call.
  void Materialize();
  void Reweigh(std::uint32_t i);
  std::int64_t WeightUpTo(std::uint32_t last) const;

  ShaderProgram& m_p;
  std::uint32_t m_count = 0, m_words = 0;
  std::unique_ptr<std::uint64_t[]> m_inputs;           // per instruction: it and everything it depends on
  std::unique_ptr<std::uint64_t[]> m_live, m_covered;  // live: carries its own tag
  std::unique_ptr<std::uint32_t[]> m_tag;              // as of the last Materialize
  PodArray<std::uint32_t> m_pending;                   // scores of every input since then
  // Per instruction: its readers not yet scheduled, its scheduled inputs,
  // and the weight it adds to a score whose mark holds it.
  std::unique_ptr<std::uint32_t[]> m_openReaders, m_readyInputs;
  std::unique_ptr<std::int64_t[]> m_weight;
  std::unique_ptr<std::int64_t[]> m_sums;  // the weights in a Fenwick tree, for sums up to an instruction
  // Per instruction: scheduled, and its readers (the dependency lists' copy).
  std::unique_ptr<std::uint8_t[]> m_scheduled;
  std::unique_ptr<std::uint32_t[]> m_readerStart, m_readers;
};

}  // namespace gxl::shader

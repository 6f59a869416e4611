#include "gxl/shader/backend/alloc/subtree_scores.h"

#include <algorithm>
#include <bit>

#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

constexpr std::int64_t kScoreStep = 0x10000;
// Beyond this the bitsets would cost more memory than the program is worth
// (about 23,000 instructions), and the scheduler leaves inputs unscored.
constexpr std::uint64_t kMaxBitsetBytes = std::uint64_t{32} << 20;

template <class Visit>
void ForEachBit(const std::uint64_t* bits, std::uint32_t words, Visit visit) {
  for (std::uint32_t w = 0; w < words; ++w)
    for (std::uint64_t b = bits[w]; b; b &= b - 1) visit(w * 64 + static_cast<std::uint32_t>(std::countr_zero(b)));
}

}  // namespace

bool SubtreeScores::Fits(std::uint32_t count) { return RowStart(count) * 8 <= kMaxBitsetBytes; }

HRESULT SubtreeScores::Prepare() {
  const ShaderProgram& p = m_p;
  m_count = p.instructions.Count();
  m_words = (m_count + 63) / 64;
  if (!Fits(m_count)) return S_FALSE;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    const IrInstruction& inst = *p.instructions[i];
    for (std::uint32_t k = 0; k < inst.predecessorCount; ++k)
      if (inst.predecessors[k] >= i) return S_FALSE;
  }
  m_inputs = opt::NewArray<std::uint64_t>(RowStart(m_count));
  m_live = opt::NewArray<std::uint64_t>(m_words);
  m_covered = opt::NewArray<std::uint64_t>(m_words);
  m_tag = opt::NewArray<std::uint32_t>(m_count);
  m_openReaders = opt::NewArray<std::uint32_t>(m_count);
  m_readyInputs = opt::NewArray<std::uint32_t>(m_count);
  m_weight = opt::NewArray<std::int64_t>(m_count);
  m_sums = opt::NewArray<std::int64_t>(m_count);
  m_scheduled = opt::NewArray<std::uint8_t>(m_count);
  m_readerStart = opt::NewArray<std::uint32_t>(std::size_t{m_count} + 1);
  if (!m_inputs || !m_live || !m_covered || !m_tag || !m_openReaders || !m_readyInputs || !m_weight || !m_sums ||
      !m_scheduled || !m_readerStart)
    return E_OUTOFMEMORY;
  std::uint64_t readers = 0;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    m_readerStart[i] = static_cast<std::uint32_t>(readers);
    readers += p.instructions[i]->successorCount;
  }
  if (readers >= kNoIndex) return S_FALSE;
  m_readerStart[m_count] = static_cast<std::uint32_t>(readers);
  m_readers = opt::NewArray<std::uint32_t>(readers);
  if (!m_readers) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    const IrInstruction& inst = *p.instructions[i];
    std::copy(inst.successors, inst.successors + inst.successorCount, m_readers.get() + m_readerStart[i]);
  }
  for (std::uint32_t i = 0; i < m_count; ++i) {
    const IrInstruction& inst = *p.instructions[i];
    std::uint64_t* row = m_inputs.get() + RowStart(i);
    row[i / 64] |= std::uint64_t{1} << (i % 64);
    // Inputs stand before their readers: their rows are complete.
    for (std::uint32_t k = 0; k < inst.predecessorCount; ++k) {
      const std::uint64_t* input = Inputs(inst.predecessors[k]);
      for (std::uint32_t w = 0; w <= inst.predecessors[k] / 64; ++w) row[w] |= input[w];
    }
    m_tag[i] = kNoIndex;
    m_openReaders[i] = inst.successorCount;
    m_readyInputs[i] = 0;
    Reweigh(i);
  }
  return S_OK;
}

// The score of a mark M counts, for every unscheduled reader y of a marked
// instruction x, +1 when y lies outside M, and for every scheduled input of
// an unscheduled y in M, -1. When M holds all inputs of each of its members,
// the readers inside M take exactly their inputs' counts, so the sum is the
// sum over M of: unscheduled readers, less (for an unscheduled instruction)
// its inputs and its scheduled inputs.
void SubtreeScores::Reweigh(std::uint32_t i) {
  const IrInstruction& inst = *m_p.instructions[i];
  const std::int64_t open = m_scheduled[i] ? 0 : std::int64_t{inst.predecessorCount} + m_readyInputs[i];
  const std::int64_t weight = std::int64_t{m_openReaders[i]} - open, change = weight - m_weight[i];
  m_weight[i] = weight;
  for (std::uint32_t at = i + 1; at <= m_count && change; at += at & (0u - at)) m_sums[at - 1] += change;
}

std::int64_t SubtreeScores::WeightUpTo(std::uint32_t last) const {
  std::int64_t sum = 0;
  for (std::uint32_t at = last + 1; at > 0; at -= at & (0u - at)) sum += m_sums[at - 1];
  return sum;
}

void SubtreeScores::Scheduled(std::uint32_t i) {
  const IrInstruction& inst = *m_p.instructions[i];
  m_scheduled[i] = 1;
  for (std::uint32_t k = 0; k < inst.predecessorCount; ++k) {
    --m_openReaders[inst.predecessors[k]];
    Reweigh(inst.predecessors[k]);
  }
  for (std::uint32_t k = 0; k < inst.successorCount; ++k) {
    ++m_readyInputs[inst.successors[k]];
    Reweigh(inst.successors[k]);
  }
  Reweigh(i);
}

void SubtreeScores::Materialize() {
  // Newest first: an instruction takes the tag of the last score that covered it.
  std::fill(m_covered.get(), m_covered.get() + m_words, std::uint64_t{0});
  for (std::size_t e = m_pending.Size(); e-- > 0;) {
    const std::uint32_t q = m_pending[e];
    const std::uint64_t* inputs = Inputs(q);
    for (std::uint32_t w = 0; w <= q / 64; ++w) {
      for (std::uint64_t b = inputs[w] & ~m_covered[w]; b; b &= b - 1)
        m_tag[w * 64 + static_cast<std::uint32_t>(std::countr_zero(b))] = q;
      m_covered[w] |= inputs[w];
    }
  }
  m_pending.Clear();
}

HRESULT SubtreeScores::Score(std::uint32_t q, std::uint32_t* size, std::int32_t* score) {
  const std::uint64_t* inputs = Inputs(q);
  const std::uint32_t words = q / 64 + 1;
  std::int64_t sum = 0;
  if (!(m_live[q / 64] >> (q % 64) & 1)) {
    // Nothing carries q: all of q's inputs take it, and every instruction
    // they cover loses its own mark for good.
    std::uint32_t marked = 0;
    for (std::uint32_t w = 0; w < words; ++w) {
      marked += static_cast<std::uint32_t>(std::popcount(inputs[w]));
      m_live[w] &= ~inputs[w];
    }
    // By the instructions marked, or when they are most of those up to q,
    // by the rest.
    if (2 * std::uint64_t{marked} <= std::uint64_t{q} + 1) {
      ForEachBit(inputs, words, [&](std::uint32_t x) { sum += m_weight[x]; });
    } else {
      sum = WeightUpTo(q);
      for (std::uint32_t w = 0; w < words; ++w) {
        std::uint64_t rest = ~inputs[w];
        if (w == q / 64 && q % 64 != 63) rest &= (std::uint64_t{2} << (q % 64)) - 1;
        for (; rest; rest &= rest - 1) sum -= m_weight[w * 64 + static_cast<std::uint32_t>(std::countr_zero(rest))];
      }
    }
    m_live[q / 64] |= std::uint64_t{1} << (q % 64);
    if (!m_pending.Append(q)) return E_OUTOFMEMORY;
    *size += marked;
  } else {
    // q still carries q: nothing new is marked; the sum runs over what
    // still carries it, which need not hold the inputs of its members.
    Materialize();
    ForEachBit(inputs, words, [&](std::uint32_t x) {
      if (m_tag[x] != q) return;
      if (!m_scheduled[x]) sum -= m_readyInputs[x];
      for (std::uint32_t k = m_readerStart[x]; k < m_readerStart[x + 1]; ++k)
        sum += !m_scheduled[m_readers[k]] && m_tag[m_readers[k]] != q;
    });
  }
  *score = static_cast<std::int32_t>(std::clamp<std::int64_t>(*score + sum * kScoreStep, INT32_MIN, INT32_MAX));
  return S_OK;
}

void SubtreeScores::Finish() {
  Materialize();
  for (std::uint32_t i = 0; i < m_count; ++i) m_p.instructions[i]->word14 = m_tag[i];
}

}  // namespace gxl::shader

// Register assignment of the 1.x target: six registers of four components
// (r0-r5 on ps_1_4; r0, r1 and the texture registers t0-t3 on ps_1_1-1_3)
// shared by every value the placed lists compute. Values read together in
// one argument group, and the results of one instruction, must lie in one
// register, so they are assigned as one closure.
#include <algorithm>
#include <cstdint>

#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kRegisters = 6;

bool IsPad(std::uint32_t group) { return group == kOpTexm3x2Pad || group == kOpTexm3x3Pad; }

template <class T>
bool Fill(PodArray<T>& array, std::size_t n, const T& value) {
  array.Clear();
  if (!array.Reserve(n)) return false;
  for (std::size_t i = 0; i < n; ++i) array.Append(value);
  return true;
}

template <class T>
bool Contains(const PodArray<T>& array, const T& value) {
  return std::find(array.Data(), array.Data() + array.Size(), value) != array.Data() + array.Size();
}

// The entries of both lists in emission order.
struct Sequence {
  PodArray<std::uint32_t> instructions;  // by position
  PodArray<std::uint32_t> stage;         // texture slot (stage) of a position, kNoIndex for arithmetic
  std::uint32_t phaseBoundary = 0;       // first position of the stage list
  PodArray<std::uint32_t> positionOf;    // by instruction index

  // False when memory runs out.
  bool Build(const PixelShader1Target& t) {
    if (!Fill(positionOf, t.instructions.Count(), kNoIndex)) return false;
    auto add = [&](const Ps1List& list) {
      for (std::uint32_t k = 0; k < list.Count(); ++k) {
        const IrInstruction* inst = t.Instruction(list[k]);
        if (!inst || inst->word == 0 || positionOf[list[k]] != kNoIndex) continue;
        positionOf[list[k]] = Size();
        if (!instructions.Append(list[k]) || !stage.Append(k < t.Stages() ? k : kNoIndex)) return false;
      }
      return true;
    };
    if (!add(t.phaseOneList)) return false;
    phaseBoundary = Size();
    return add(t.stageList);
  }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(instructions.Size()); }
};

// Components of a register an instruction writing `mask` changes: ps_1_1-1_3
// write the colour half, the alpha or both.
std::uint32_t WrittenComponents(std::uint32_t mask, bool halves) {
  if (!halves) return mask;
  if (mask == 0x8) return mask;
  return (mask & 0x8) ? 0xF : 0x7;
}

class RegisterAssignment {
 public:
  RegisterAssignment(PixelShader1Target& t, bool trial) : m_t(t), m_trial(trial) {}

  HRESULT Run() {
    if (!m_seq.Build(m_t)) return E_OUTOFMEMORY;
    const std::uint32_t n = m_seq.Size();
    if (!Fill(m_root, m_t.values.Count(), kNoIndex) || !Fill(m_lastUse, m_t.values.Count(), kNoIndex))
      return E_OUTOFMEMORY;
    for (std::uint32_t v = 0; v < m_t.values.Count(); ++v) m_root[v] = Root(v);
    for (std::uint32_t p = 0; p < n; ++p) {
      const IrInstruction& inst = *m_t.Instruction(m_seq.instructions[p]);
      const std::uint32_t width = inst.Width();
      for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
        if (inst.arguments[a] >= m_root.Size()) continue;
        const std::uint32_t r = m_root[inst.arguments[a]];
        if (!m_t.IsTemporaryValue(r)) continue;
        m_lastUse[r] = p;
        if (!m_readers.Append(Reader{r, p, width ? a / width : 0})) return E_OUTOFMEMORY;
      }
    }
    for (std::uint32_t v = 0; v < m_t.values.Count(); ++v)
      if (m_t.IsTemporaryValue(v)) m_t.Value(v)->reg = kNoIndex;
    m_t.registersAssigned = false;
    m_bits = 2 * n + 2;
    m_words = (m_bits + 63) / 64;
    for (auto& row : m_occupied)
      for (auto& component : row)
        if (!Fill(component, m_words, std::uint64_t{0})) return E_OUTOFMEMORY;

    // Texture slots first: their registers are fixed, and a value living
    // across ps_1_4's phase must not take one a phase-two texld writes.
    // Then the conditions of cnd, which must have r0.w, then the rest.
    for (std::uint32_t q = 0; q < 3 * n; ++q) {
      const std::uint32_t p = q % n, pass = m_seq.stage[p] != kNoIndex ? 0 : ReadAsCondition(p) ? 1 : 2;
      if (pass != q / n) continue;
      const std::uint32_t index = m_seq.instructions[p];
      const IrInstruction& inst = *m_t.Instruction(index);
      const std::uint32_t group = inst.Group();
      if (IsPad(group) || group == kOpPs1Kill) continue;
      std::uint32_t assigned = 0, unassigned = 0;
      for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
        if (!m_t.IsTemporaryValue(inst.results[r])) continue;
        (m_t.Value(inst.results[r])->reg == kNoIndex ? unassigned : assigned) += 1;
      }
      if (assigned && unassigned) return Internal(index, msg::kUnvectorizedRegister);
      if (!unassigned) continue;
      const HRESULT hr = AssignClosure(index);
      if (FAILED(hr)) return hr;
    }
    // Reads through a modified alias name the register of what they alias.
    for (std::uint32_t v = 0; v < m_t.values.Count(); ++v) {
      IrValue* value = m_t.Value(v);
      if (value && m_root[v] != v && m_t.IsTemporaryValue(v) && m_t.IsTemporaryValue(m_root[v]))
        value->reg = m_t.Value(m_root[v])->reg;
    }
    m_t.registersAssigned = true;
    return S_OK;
  }

 private:
  struct Reader {
    std::uint32_t value, position, group;
  };
  // One producer of a closure: the components it changes and until when.
  struct Write {
    std::uint32_t position;
    std::uint32_t last[4];  // kNoIndex: changed, not kept
    std::uint32_t stage;
  };

  std::uint32_t Root(std::uint32_t v) const {
    for (std::uint32_t steps = 0; steps < 8; ++steps) {
      const IrValue* value = m_t.Value(v);
      if (!value || value->alias == kNoIndex || value->alias == v) break;
      v = value->alias;
    }
    return v;
  }

  // Whether a result of the entry at `position` is the condition of a cnd
  // that reads r0.a (ps_1_1-1_3).
  bool ReadAsCondition(std::uint32_t position) const {
    if (m_t.Is14() || !m_t.conditionalLowered) return false;
    const IrInstruction& inst = *m_t.Instruction(m_seq.instructions[position]);
    for (std::size_t e = 0; e < m_readers.Size(); ++e) {
      const Reader& reader = m_readers[e];
      if (reader.group != 0 || m_t.Instruction(m_seq.instructions[reader.position])->Group() != kOpPs1Cnd) continue;
      for (std::uint32_t r = 0; r < inst.resultCount; ++r)
        if (inst.results[r] == reader.value) return true;
    }
    return false;
  }

  HRESULT Internal(std::uint32_t index, const Message& entry) {
    m_t.SetCurrentInstruction(index);
    m_t.Report(m_t.currentSource, entry.severity, entry.code, "%s", entry.format);
    return E_FAIL;
  }

  // Bits of the life of a value written at `from` and last read at `to`.
  void Range(std::uint32_t from, std::uint32_t to, std::uint32_t* first, std::uint32_t* last) const {
    *first = 2 * from + 1;
    *last = std::max(2 * to, *first);
  }
  static bool Overlaps(const PodArray<std::uint64_t>& bits, std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t b = first; b <= last; ++b)
      if (bits[b / 64] >> (b % 64) & 1) return true;
    return false;
  }
  static void Mark(PodArray<std::uint64_t>& bits, std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t b = first; b <= last; ++b) bits[b / 64] |= std::uint64_t{1} << (b % 64);
  }

  // Adds the temporary results of instruction `index`: S_FALSE when they
  // come from outside the lists.
  HRESULT AddProducer(std::uint32_t index, PodArray<std::uint32_t>& values, PodArray<std::uint32_t>& producers) {
    if (Contains(producers, index)) return S_OK;
    if (index >= m_seq.positionOf.Size() || m_seq.positionOf[index] == kNoIndex) return S_FALSE;
    if (!producers.Append(index)) return E_OUTOFMEMORY;
    const IrInstruction& inst = *m_t.Instruction(index);
    for (std::uint32_t r = 0; r < inst.resultCount; ++r)
      if (m_t.IsTemporaryValue(inst.results[r]) && !Contains(values, inst.results[r]) &&
          !values.Append(inst.results[r]))
        return E_OUTOFMEMORY;
    return S_OK;
  }

  HRESULT AssignClosure(std::uint32_t start) {
    PodArray<std::uint32_t> values, producers;
    HRESULT hr = AddProducer(start, values, producers);
    if (FAILED(hr)) return hr;
    for (std::size_t i = 0; i < values.Size(); ++i) {
      for (std::size_t e = 0; e < m_readers.Size(); ++e) {
        const Reader& reader = m_readers[e];
        if (reader.value != values[i]) continue;
        const IrInstruction& inst = *m_t.Instruction(m_seq.instructions[reader.position]);
        const std::uint32_t width = inst.Width();
        if (width == 0 || IsPad(inst.Group())) continue;
        for (std::uint32_t j = 0; j < width; ++j) {
          const std::uint32_t a = reader.group * width + j;
          if (a >= inst.argumentCount || inst.arguments[a] >= m_root.Size()) break;
          const std::uint32_t root = m_root[inst.arguments[a]];
          if (!m_t.IsTemporaryValue(root) || Contains(values, root)) continue;
          hr = AddProducer(m_t.Value(root)->definingPosition, values, producers);
          if (hr == S_FALSE) return Unclosed(start);
          if (FAILED(hr)) return hr;
          if (!Contains(values, root) && !values.Append(root)) return E_OUTOFMEMORY;
        }
      }
    }
    // The writes of the closure, each over the components it changes.
    const bool halves = !m_t.Is14();
    PodArray<Write> writes;
    std::uint32_t forced = kNoIndex;
    // ps_1_1-1_3 cnd reads its condition from r0.a: a lowered conditional's
    // condition keeps r0.w for its life.
    if (halves && m_t.conditionalLowered)
      for (std::size_t e = 0; e < m_readers.Size(); ++e) {
        const Reader& reader = m_readers[e];
        const IrInstruction& inst = *m_t.Instruction(m_seq.instructions[reader.position]);
        if (inst.Group() != kOpPs1Cnd || reader.group != 0 || !Contains(values, reader.value)) continue;
        if (m_t.Value(reader.value)->component != 3) return NoRegister(start);
        forced = 0;
      }
    for (std::size_t i = 0; i < producers.Size(); ++i) {
      const std::uint32_t index = producers[i];
      const IrInstruction& inst = *m_t.Instruction(index);
      Write w{m_seq.positionOf[index], {kNoIndex, kNoIndex, kNoIndex, kNoIndex}, m_seq.stage[m_seq.positionOf[index]]};
      std::uint32_t mask = 0;
      for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
        const IrValue* v = m_t.Value(inst.results[r]);
        if (!m_t.IsTemporaryValue(inst.results[r])) continue;
        if (v->component > 3) return Internal(index, msg::kUnvectorizedResultGroup);
        mask |= 1u << v->component;
        const std::uint32_t last = m_lastUse[inst.results[r]];
        std::uint32_t& kept = w.last[v->component];
        kept = std::max(kept == kNoIndex ? w.position : kept, last == kNoIndex ? w.position : last);
      }
      // A texture instruction writes its stage's register whole.
      if (w.stage != kNoIndex) mask = 0xF;
      mask = WrittenComponents(mask, halves);
      for (std::uint32_t c = 0; c < 4; ++c)
        if ((mask >> c & 1) && w.last[c] == kNoIndex) w.last[c] = w.position;
      if (w.stage != kNoIndex) {
        const std::uint32_t reg = m_t.Is14() ? w.stage : w.stage + m_t.profileLimits.firstTextureTemporary;
        if (forced != kNoIndex && forced != reg) return NoRegister(start);
        forced = reg;
      }
      if (!writes.Append(w)) return E_OUTOFMEMORY;
    }
    // The writes of one closure may not overlap each other.
    PodArray<std::uint64_t> own[4];
    for (auto& c : own)
      if (!Fill(c, m_words, std::uint64_t{0})) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < writes.Size(); ++i)
      for (std::uint32_t c = 0; c < 4; ++c) {
        const Write& w = writes[i];
        if (w.last[c] == kNoIndex) continue;
        std::uint32_t first, last;
        Range(w.position, w.last[c], &first, &last);
        if (Overlaps(own[c], first, last)) return Unclosed(start);
        Mark(own[c], first, last);
        // No alpha survives ps_1_4's phase: the carry-over moves it through a colour component.
        if (m_t.Is14() && c == 3 && m_seq.phaseBoundary && w.position < m_seq.phaseBoundary &&
            w.last[c] >= m_seq.phaseBoundary)
          return NoRegister(start);
      }
    for (std::uint32_t reg = 0; reg < kRegisters; ++reg) {
      if (forced != kNoIndex && reg != forced) continue;
      bool fits = true;
      for (std::uint32_t c = 0; c < 4 && fits; ++c)
        for (std::size_t b = 0; b < m_words && fits; ++b) fits = !(own[c][b] & m_occupied[reg][c][b]);
      if (!fits || !TextureReadsFit(values, reg)) continue;
      for (std::uint32_t c = 0; c < 4; ++c)
        for (std::size_t b = 0; b < m_words; ++b) m_occupied[reg][c][b] |= own[c][b];
      for (std::size_t i = 0; i < values.Size(); ++i) m_t.Value(values[i])->reg = reg;
      return S_OK;
    }
    return NoRegister(start);
  }

  // Values that must share a register cannot: within a trial the placement
  // it tries caused that, and the trial does not fit; the placement built
  // after the trials has passed its own trial, so there it is a fault.
  HRESULT Unclosed(std::uint32_t index) {
    return m_trial ? E_FAIL : Internal(index, msg::kUppropagationFailed);
  }

  HRESULT NoRegister(std::uint32_t index) {
    if (m_trial) return E_FAIL;
    m_t.SetCurrentInstruction(index);
    GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kOutOfTemporaries);
    return E_FAIL;
  }

  // ps_1_1: no arithmetic instruction reads more than two texture registers.
  bool TextureReadsFit(const PodArray<std::uint32_t>& closure, std::uint32_t reg) const {
    if (m_t.Minor() != 1 || reg < m_t.profileLimits.firstTextureTemporary) return true;
    for (std::size_t e = 0; e < m_readers.Size(); ++e) {
      const Reader& reader = m_readers[e];
      if (!Contains(closure, reader.value) || m_seq.stage[reader.position] != kNoIndex) continue;
      const IrInstruction& inst = *m_t.Instruction(m_seq.instructions[reader.position]);
      std::uint32_t seen[16], count = 0;
      for (std::uint32_t a = 0; a < inst.argumentCount && count < 16; ++a) {
        if (inst.arguments[a] >= m_root.Size()) continue;
        const std::uint32_t root = m_root[inst.arguments[a]];
        std::uint32_t key = kNoIndex;
        if (m_t.IsInputValue(root) && Ps1KindOf(m_t.SemanticOf(root)) == kPs1Texcoord)
          key = 0x100 + Ps1IndexOf(m_t.SemanticOf(root));
        else if (Contains(closure, root))
          key = reg;
        else if (m_t.IsTemporaryValue(root) && m_t.Value(root)->reg != kNoIndex &&
                 m_t.Value(root)->reg >= m_t.profileLimits.firstTextureTemporary)
          key = m_t.Value(root)->reg;
        if (key != kNoIndex && std::find(seen, seen + count, key) == seen + count) seen[count++] = key;
      }
      if (count > 2) return false;
    }
    return true;
  }

  PixelShader1Target& m_t;
  bool m_trial;
  Sequence m_seq;
  PodArray<std::uint32_t> m_root, m_lastUse;
  PodArray<Reader> m_readers;
  PodArray<std::uint64_t> m_occupied[kRegisters][4];
  std::uint32_t m_bits = 0, m_words = 0;
};

}  // namespace

HRESULT Ps1StandardRules::AssignRegisters(PixelShader1Target& t, bool trial) {
  return RegisterAssignment(t, trial).Run();
}

std::uint32_t PixelShader1Target::FreeRegisterAt(std::uint32_t position, const std::uint32_t* excluded,
                                                 std::uint32_t count) const {
  Sequence seq;
  PodArray<std::uint32_t> last;
  if (!seq.Build(*this) || !Fill(last, values.Count(), kNoIndex)) return kNoIndex;
  bool busy[kRegisters] = {};
  for (std::uint32_t k = 0; k < count; ++k)
    if (excluded[k] < kRegisters) busy[excluded[k]] = true;
  // A register is busy at `position` when a value in it is written at or
  // before it and read at or after it.
  for (std::uint32_t p = 0; p < seq.Size(); ++p) {
    const IrInstruction& inst = *Instruction(seq.instructions[p]);
    for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
      const std::uint32_t r = ResolveAlias(inst.arguments[a]);
      if (IsTemporaryValue(r)) last[r] = p;
    }
  }
  for (std::uint32_t p = 0; p <= position && p < seq.Size(); ++p) {
    const IrInstruction& inst = *Instruction(seq.instructions[p]);
    for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
      const IrValue* v = Value(inst.results[r]);
      if (!IsTemporaryValue(inst.results[r]) || v->reg >= kRegisters) continue;
      const std::uint32_t end = last[inst.results[r]];
      if (p == position || (end != kNoIndex && end >= position)) busy[v->reg] = true;
    }
  }
  // r0 and r1 first on ps_1_1-1_3; an unused stage's texture register after.
  for (std::uint32_t reg = 0; reg < kRegisters; ++reg)
    if (!busy[reg]) return reg;
  return kNoIndex;
}

}  // namespace gxl::shader

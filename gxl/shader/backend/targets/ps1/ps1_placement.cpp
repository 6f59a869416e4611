// Texture placement of ps_1_1-1_3: every texture operation takes a stage.
// A sample at a plain texture coordinate k takes stage k with its sampler; a
// dependent read (a computed coordinate) is collected with the chain of
// instructions that compute it into the phase-one list, to be matched to a
// texture-address instruction afterwards.
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kSimpleArithmeticLimit = 16;
constexpr std::uint32_t kTexcoordSets = 8;

// One run of the stage assignment over the instructions whose collection
// mark equals `mark`, into one list.
class StageAssignment {
 public:
  // Replaced sampler values are collected in `replaced`.
  StageAssignment(PixelShader1Target& t, Ps1List& list, std::uint32_t mark, bool chains,
                  PodArray<std::uint32_t>& replaced)
      : m_t(t), m_list(list), m_mark(mark), m_chains(chains), m_replaced(replaced) {}

  HRESULT Run();

 private:
  bool InSet(std::uint32_t i) const {
    const IrInstruction* inst = m_t.Instruction(i);
    return inst && inst->word != 0 && PixelShader1Target::CoIssueMark(*inst) == m_mark;
  }
  // A slot of this list, or a slot the stage list holds a fixed entry in.
  bool Occupied(std::uint32_t k) const;
  HRESULT PlaceTexcoordReads();
  HRESULT Place(std::uint32_t i, std::uint32_t k);
  HRESULT Report(std::uint32_t i, HRESULT hr) {
    m_t.SetCurrentInstruction(i);
    return hr;
  }

  PixelShader1Target& m_t;
  Ps1List& m_list;
  std::uint32_t m_mark;
  bool m_chains;
  PodArray<std::uint32_t>& m_replaced;
};

}  // namespace

std::uint32_t PlainTexcoordOf(const PixelShader1Target& t, const IrInstruction& inst) {
  const std::uint32_t start = PixelShader1Target::CoordinateStart(inst);
  const std::uint32_t end = inst.Group() == kOpDiscard ? inst.argumentCount : start + inst.Width();
  std::uint32_t index = kNoIndex;
  for (std::uint32_t a = start; a < end && a < inst.argumentCount; ++a) {
    const std::uint32_t arg = inst.arguments[a];
    const IrValue* v = t.Value(arg);
    const std::uint32_t word = t.SemanticOf(arg);
    if (!v || !t.IsInputValue(arg) || (v->binding & mod::kSourceBits) || Ps1KindOf(word) != kPs1Texcoord)
      return kNoIndex;
    if (index != kNoIndex && index != Ps1IndexOf(word)) return kNoIndex;
    index = Ps1IndexOf(word);
  }
  return index;
}

bool StageAssignment::Occupied(std::uint32_t k) const {
  if (m_list[k] != kNoIndex) return true;
  if (!m_chains) return false;
  const IrInstruction* fixed = m_t.Instruction(m_t.stageList[k]);
  return fixed && (fixed->Group() == kOpTexcoord || PlainTexcoordOf(m_t, *fixed) != kNoIndex);
}

// Texture coordinates that arithmetic reads come through a texcoord
// instruction of their own stage.
HRESULT StageAssignment::PlaceTexcoordReads() {
  std::uint32_t components[6] = {};
  std::uint32_t firstReader[6] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    const IrInstruction* inst = m_t.Instruction(i);
    if (!InSet(i) || PixelShader1Target::IsTextureOperation(inst->Group())) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const std::uint32_t arg = inst->arguments[a];
      const std::uint32_t root = m_t.ResolveAlias(arg);
      const std::uint32_t word = m_t.SemanticOf(root);
      if (!m_t.IsInputValue(root) || Ps1KindOf(word) != kPs1Texcoord || Ps1IndexOf(word) >= 6) continue;
      if (m_chains && !(m_t.Value(arg)->binding & mod::kSourceBits)) continue;
      const std::uint32_t k = Ps1IndexOf(word);
      if (components[k] < m_t.Value(root)->component + 1) components[k] = m_t.Value(root)->component + 1;
      if (firstReader[k] == kNoIndex) firstReader[k] = i;
    }
  }
  for (std::uint32_t k = 0; k < 6; ++k) {
    const std::uint32_t c = components[k] > 4 ? 4 : components[k];
    if (c == 0) continue;
    std::uint32_t inputs[4], results[4];
    const std::uint32_t made = m_t.AddTexcoordInstruction(k, c, firstReader[k], inputs, results);
    if (made == kNoIndex) return E_OUTOFMEMORY;
    PixelShader1Target::CoIssueMark(*m_t.Instruction(made)) = kNoIndex;  // in no set: placed here
    for (std::uint32_t i = 0; i < made; ++i) {
      if (!InSet(i) || PixelShader1Target::IsTextureOperation(m_t.Instruction(i)->Group())) continue;
      const HRESULT hr = m_t.InputRemap(i, i, kNoIndex, inputs, results, c);
      if (FAILED(hr)) return hr;
    }
    if (k >= m_t.Stages() || Occupied(k)) {
      m_t.SetCurrentInstruction(firstReader[k]);
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexcoordUsedBySampler);
      return E_FAIL;
    }
    m_list.At(k) = made;
  }
  return S_OK;
}

// The operation takes stage k; its sampler becomes a new value of register
// k, the old one is left for bank "x" once every operation is placed.
HRESULT StageAssignment::Place(std::uint32_t i, std::uint32_t k) {
  IrInstruction* inst = m_t.Instruction(i);
  m_list.At(k) = i;
  if (inst->Group() == kOpDiscard || inst->Width() == 0) return S_OK;
  const std::uint32_t sampler = inst->arguments[0];
  const std::uint32_t made = m_t.AddValueCopy(m_t.Value(sampler));
  if (made == kNoIndex) return E_OUTOFMEMORY;
  m_t.Value(made)->reg = k;
  for (std::uint32_t a = 0; a < inst->Width() && a < inst->argumentCount; ++a)
    if (inst->arguments[a] == sampler) inst->arguments[a] = made;
  return m_replaced.Append(sampler) ? S_OK : E_OUTOFMEMORY;
}

HRESULT StageAssignment::Run() {
  HRESULT hr = PlaceTexcoordReads();
  if (FAILED(hr)) return hr;
  auto samplerOf = [](const IrInstruction& inst) {
    return inst.Group() == kOpDiscard || inst.Width() == 0 ? kNoIndex : inst.arguments[0];
  };
  auto sameSampler = [this](std::uint32_t a, std::uint32_t b) {
    const IrValue *x = m_t.Value(a), *y = m_t.Value(b);
    return a == b || (x && y && x->bank == y->bank && x->reg == y->reg);
  };
  auto isUserBound = [this](std::uint32_t s) {
    return s != kNoIndex && (m_t.BankOf(*m_t.Value(s))->type & kBankKeepValues);
  };
  auto isArray = [this](std::uint32_t s) {
    const RegisterBank* b = s != kNoIndex ? m_t.BankOf(*m_t.Value(s)) : nullptr;
    return b && b->registerCount != kNoIndex && b->registerCount > 1;
  };
  const int minor = static_cast<int>(m_t.Minor());

  // First pass: samples at plain texture coordinates take their coordinate's stage.
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    IrInstruction* inst = m_t.Instruction(i);
    if (!InSet(i) || !PixelShader1Target::IsTextureOperation(inst->Group())) continue;
    const std::uint32_t k = PlainTexcoordOf(m_t, *inst);
    if (k == kNoIndex || k >= 6) continue;
    const std::uint32_t sampler = samplerOf(*inst);
    m_t.SetCurrentInstruction(i);
    const std::uint32_t bound = sampler != kNoIndex ? m_t.Value(sampler)->reg : kNoIndex;
    if (isUserBound(sampler) && bound != k) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kSamplerUserStagePs1x, minor);
      return E_FAIL;
    }
    if (isArray(sampler) && bound != k) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kSamplerArrayStagePs1x, minor);
      return E_FAIL;
    }
    if (k >= m_t.Stages() || Occupied(k) || (sampler != kNoIndex && m_t.samplerRecords[k].value != kNoIndex)) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kSharedTexcoord, minor);
      return E_FAIL;
    }
    if (sampler != kNoIndex) m_t.samplerRecords[k] = {m_t.Value(sampler)->bank, sampler};
    if (FAILED(hr = Place(i, k))) return hr;
  }
  // Second pass: the others take a free stage, or their user binding's.
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    IrInstruction* inst = m_t.Instruction(i);
    if (!InSet(i) || !PixelShader1Target::IsTextureOperation(inst->Group())) continue;
    if (PlainTexcoordOf(m_t, *inst) != kNoIndex) continue;
    const std::uint32_t sampler = samplerOf(*inst);
    m_t.SetCurrentInstruction(i);
    const bool user = isUserBound(sampler), array = isArray(sampler);
    const std::uint32_t bound = sampler != kNoIndex ? m_t.Value(sampler)->reg : kNoIndex;
    std::uint32_t stage = kNoIndex;
    if ((user || array) && bound < 6 && bound < m_t.Stages()) {
      const PixelShader1Target::SamplerRecord& record = m_t.samplerRecords[bound];
      if (record.value == kNoIndex && !Occupied(bound)) {
        stage = bound;
      } else if (record.value != kNoIndex && sameSampler(record.value, sampler)) {
        if (Occupied(bound)) {
          GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kBoundSamplerTwice, minor);
          return E_FAIL;
        }
        stage = bound;
      } else {
        if (user)
          GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kConflictingUserBindings);
        else
          GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kConflictingArrayBindings);
        return E_FAIL;
      }
    } else {
      for (std::uint32_t k = 0; k < m_t.Stages() && stage == kNoIndex; ++k) {
        const PixelShader1Target::SamplerRecord& record = m_t.samplerRecords[k];
        if (!Occupied(k) && (record.value == kNoIndex || (sampler != kNoIndex && sameSampler(record.value, sampler))))
          stage = k;
      }
      if (stage == kNoIndex) {
        GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTooManyTexcoordReads);
        return E_FAIL;
      }
    }
    if (FAILED(hr = Place(i, stage))) return hr;
  }
  // The arithmetic follows in program order.
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    const IrInstruction* inst = m_t.Instruction(i);
    if (!InSet(i) || PixelShader1Target::IsTextureOperation(inst->Group())) continue;
    hr = m_list.Append(i);
    if (hr == E_FAIL) {
      m_t.SetCurrentInstruction(i);
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kProgramTooBig);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

namespace {

// Collects, from the coordinate values of a dependent read, every
// instruction that computes them (marking each once), checking that no
// colour input and no second dependent read feeds it.
class ChainCollector {
 public:
  explicit ChainCollector(PixelShader1Target& t) : m_t(t) {}

  HRESULT Collect(std::uint32_t from, const std::uint32_t* coordinates, std::uint32_t count) {
    PodArray<std::uint32_t> work;
    for (std::uint32_t j = 0; j < count; ++j)
      if (!work.Append(coordinates[j])) return E_OUTOFMEMORY;
    while (!work.Empty()) {
      const std::uint32_t value = m_t.ResolveAlias(work[work.Size() - 1]);
      work.PopBack();
      if (m_t.IsInputValue(value) && Ps1KindOf(m_t.SemanticOf(value)) != kPs1Texcoord) {
        m_t.SetCurrentInstruction(from);
        GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kDependentReadOnColor);
        return E_FAIL;
      }
      const std::uint32_t producer = m_t.ProducerOf(value);
      IrInstruction* inst = m_t.Instruction(producer);
      if (!inst || inst->word == 0 || PixelShader1Target::CoIssueMark(*inst) == 1) continue;
      PixelShader1Target::CoIssueMark(*inst) = 1;
      if (PixelShader1Target::IsTextureOperation(inst->Group())) {
        const std::uint32_t start = PixelShader1Target::CoordinateStart(*inst);
        for (std::uint32_t a = start; a < inst->argumentCount; ++a)
          if (m_t.IsTemporaryValue(m_t.ResolveAlias(inst->arguments[a]))) {
            m_t.SetCurrentInstruction(producer);
            GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kDoubleDependentRead);
            return E_FAIL;
          }
        continue;
      }
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
        if (!work.Append(inst->arguments[a])) return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  PixelShader1Target& m_t;
};

}  // namespace

HRESULT PixelShader1Target::PlaceTextureOperations() {
  // Survey.
  std::uint32_t sampledFrom[kTexcoordSets] = {}, readByArithmetic[kTexcoordSets] = {};
  std::uint32_t arithmetic = 0;
  bool simple = true;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    IrInstruction* inst = Instruction(i);
    if (!inst || inst->word == 0) continue;
    CoIssueMark(*inst) = 0;
    if (!IsTextureOperation(inst->Group())) {
      ++arithmetic;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
        const std::uint32_t root = ResolveAlias(inst->arguments[a]);
        const std::uint32_t word = SemanticOf(root);
        if (IsInputValue(root) && Ps1KindOf(word) == kPs1Texcoord && Ps1IndexOf(word) < kTexcoordSets)
          readByArithmetic[Ps1IndexOf(word)] = 1;
      }
      continue;
    }
    const std::uint32_t start = CoordinateStart(*inst);
    const std::uint32_t first = start < inst->argumentCount ? inst->arguments[start] : kNoIndex;
    if (IsInputValue(first) && !(Value(first)->binding & mod::kSourceBits) &&
        Ps1KindOf(SemanticOf(first)) != kPs1Texcoord) {
      SetCurrentInstruction(i);
      GXL_SHADER_REPORT(*this, currentSource, msg::kTextureFromNonTexcoord);
      return E_FAIL;
    }
    const std::uint32_t k = PlainTexcoordOf(*this, *inst);
    if (k == kNoIndex)
      simple = false;
    else if (k < kTexcoordSets)
      ++sampledFrom[k];
  }
  for (std::uint32_t k = 0; k < kTexcoordSets; ++k)
    simple = simple && sampledFrom[k] <= 1 && !(sampledFrom[k] && readByArithmetic[k]);
  simple = simple && arithmetic <= kSimpleArithmeticLimit;
  ClearSamplerRecords();

  PodArray<std::uint32_t> replaced;
  auto retire = [&] {
    for (std::size_t i = 0; i < replaced.Size(); ++i)
      Value(replaced[i])->bank = StandardBankIndex(StandardBank::Undefined);
  };
  HRESULT hr = stageList.Allocate(Stages());
  if (FAILED(hr)) return hr;
  if (simple) {
    hr = StageAssignment(*this, stageList, 0, false, replaced).Run();
    retire();
    return hr;
  }

  if (FAILED(hr = phaseOneList.Allocate(Stages()))) return hr;
  ChainCollector chains(*this);
  std::uint32_t examined = 0;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->word == 0 || !IsTextureOperation(inst->Group())) continue;
    SetCurrentInstruction(i);
    if (++examined > Ps1List::kLimit) {
      GXL_SHADER_REPORT(*this, currentSource, msg::kProgramTooBig);
      return E_FAIL;
    }
    const std::uint32_t start = CoordinateStart(*inst);
    const std::uint32_t end = inst->Group() == kOpDiscard ? inst->argumentCount : start + inst->Width();
    bool dependent = false;
    for (std::uint32_t a = start; a < end && a < inst->argumentCount; ++a)
      dependent |= IsTemporaryValue(ResolveAlias(inst->arguments[a])) ||
                   (Value(inst->arguments[a])->binding & mod::kSourceBits) != 0;
    if (dependent) {
      if (FAILED(hr = chains.Collect(i, inst->arguments + start, end - start))) return hr;
      continue;
    }
    const std::uint32_t first = start < inst->argumentCount ? inst->arguments[start] : kNoIndex;
    if (!IsInputValue(first)) continue;
    const std::uint32_t word = SemanticOf(first);
    if (Ps1KindOf(word) != kPs1Texcoord) {
      GXL_SHADER_REPORT(*this, currentSource, msg::kDependentReadOnColor);
      return E_FAIL;
    }
    if (Ps1IndexOf(word) < kTexcoordSets && readByArithmetic[Ps1IndexOf(word)]) {
      GXL_SHADER_REPORT(*this, currentSource, msg::kTexcoordLookupBeforePs14);
      return E_FAIL;
    }
  }
  hr = StageAssignment(*this, stageList, 0, false, replaced).Run();
  if (SUCCEEDED(hr)) hr = StageAssignment(*this, phaseOneList, 1, true, replaced).Run();
  retire();
  // The matching reads producers of the values placement made.
  return FAILED(hr) ? hr : Refresh();
}

// A dependent sample at a constant coordinate reads it through a move into
// temporaries, which joins the phase-one list.
HRESULT PixelShader1Target::CopyConstantCoordinates() {
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t k = 0; k < Stages() && k < stageList.Count(); ++k) {
    IrInstruction* inst = Instruction(stageList[k]);
    if (!inst || !IsTextureLoad(inst->Group())) continue;
    const std::uint32_t start = CoordinateStart(*inst), width = inst->Width();
    if (width == 0 || width > 4 || start + width > inst->argumentCount ||
        !IsConstantValue(ResolveAlias(inst->arguments[start])))
      continue;
    std::uint32_t copies[4];
    for (std::uint32_t j = 0; j < width; ++j)
      if ((copies[j] = AddValue(temporaries, kNoIndex, j, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
    const std::uint32_t move =
        AddFilledInstruction(IrWord(kOpMove, width), inst->arguments + start, width, copies, width, stageList[k]);
    if (move == kNoIndex) return E_OUTOFMEMORY;
    inst = Instruction(stageList[k]);
    for (std::uint32_t j = 0; j < width; ++j) inst->arguments[start + j] = copies[j];
    const HRESULT hr = phaseOneList.Append(move);
    if (hr == E_FAIL) {
      // A size limit, reported as placement reports it.
      SetCurrentInstruction(stageList[k]);
      GXL_SHADER_REPORT(*this, currentSource, msg::kProgramTooBig);
    }
    if (FAILED(hr)) return hr;
  }
  return Refresh();
}

}  // namespace gxl::shader

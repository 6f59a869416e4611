// Dependent reads of ps_1_1-1_3: a sample whose coordinate is computed is
// matched to one of the texture-address instructions, which read an earlier
// stage's texture register: texreg2ar, texreg2gb and texreg2rgb take its
// components as the coordinate; texdp3tex, texm3x2* and texm3x3* take dot
// products of it with the texture coordinates of the stages that follow;
// texm3x3vspec and texm3x3spec take a reflection marker's normal rows so.
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kStages = 4;
constexpr std::uint32_t kDot3 = 0x50000003;

// Results of a pass over one pending sample.
constexpr HRESULT kMatched = S_OK;
constexpr HRESULT kNoMatch = 1;
constexpr HRESULT kPassFailed = 2;  // the general failure, reported by the caller

class DependentReadMatcher {
 public:
  explicit DependentReadMatcher(PixelShader1Target& t) : m_t(t) {}
  HRESULT Run();

 private:
  // The stage of the fixed sample whose results hold `value` (through its
  // alias) and the component there, or kNoIndex.
  std::uint32_t FixedSampleOf(std::uint32_t value, std::uint32_t* component) const;
  // The TEXCOORD semantic word of an input, or of a texcoord instruction's
  // result (which reads its modifiers through it); kNoIndex for others.
  std::uint32_t TexcoordWordOf(std::uint32_t value) const {
    if (m_t.IsInputValue(value)) return m_t.SemanticOf(value);
    const IrInstruction* producer = m_t.Instruction(m_t.ProducerOf(value));
    return producer && producer->Group() == kOpTexcoord ? m_t.Value(value)->registerKey : kNoIndex;
  }
  // The stage a pending sample's texture-address instruction takes: the user
  // binding's, else the first free one at or after `from`.
  std::uint32_t ChooseStage(const IrInstruction& sample, std::uint32_t from) const;
  HRESULT MatchRegisterForm(std::uint32_t index);
  HRESULT MatchMatrixForm(std::uint32_t index, std::uint32_t rows);
  // Puts an instruction of the two argument groups (the stage's own texture
  // coordinate, then the source) and `extra` (a third, when given) into the
  // fixed table.
  HRESULT Emit(std::uint32_t stage, std::uint32_t group, std::uint32_t width, std::uint32_t source,
               const std::uint32_t* results, std::uint32_t resultCount, std::uint32_t sourceOf,
               const std::uint32_t* extra = nullptr);

  PixelShader1Target& m_t;
  std::uint32_t m_fixed[kStages] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
};

std::uint32_t DependentReadMatcher::FixedSampleOf(std::uint32_t value, std::uint32_t* component) const {
  const std::uint32_t root = m_t.ResolveAlias(value);
  for (std::uint32_t s = 0; s < kStages; ++s) {
    const IrInstruction* inst = m_t.Instruction(m_fixed[s]);
    if (!inst || !PixelShader1Target::IsTextureLoad(inst->Group())) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (inst->results[r] == root) {
        *component = r;
        return s;
      }
  }
  return kNoIndex;
}

std::uint32_t DependentReadMatcher::ChooseStage(const IrInstruction& sample, std::uint32_t from) const {
  const IrValue* sampler = sample.Width() ? m_t.Value(sample.arguments[0]) : nullptr;
  if (sampler && (m_t.BankOf(*sampler)->type & kBankKeepValues)) {
    const std::uint32_t stage = sampler->reg;
    return stage < kStages && m_fixed[stage] == kNoIndex ? stage : kNoIndex;
  }
  for (std::uint32_t s = from; s < kStages; ++s)
    if (m_fixed[s] == kNoIndex) return s;
  return kNoIndex;
}

HRESULT DependentReadMatcher::Emit(std::uint32_t stage, std::uint32_t group, std::uint32_t width, std::uint32_t source,
                                   const std::uint32_t* results, std::uint32_t resultCount, std::uint32_t sourceOf,
                                   const std::uint32_t* extra) {
  std::uint32_t arguments[9];
  for (std::uint32_t j = 0; j < width; ++j) {
    arguments[j] = m_t.TexcoordValue(stage, j);
    arguments[width + j] = m_t.TexcoordValue(source, j);
    if (arguments[j] == kNoIndex || arguments[width + j] == kNoIndex) return E_OUTOFMEMORY;
    if (extra) arguments[2 * width + j] = extra[j];
  }
  const std::uint32_t made = m_t.AddFilledInstruction(IrWord(group, width), arguments, (extra ? 3 : 2) * width,
                                                      results, resultCount, sourceOf);
  if (made == kNoIndex) return E_OUTOFMEMORY;
  m_fixed[stage] = made;
  return S_OK;
}

// texreg2rgb from an earlier sample's xyz; texreg2ar and texreg2gb from its
// (w, x) and (y, z), read directly or through single moves.
HRESULT DependentReadMatcher::MatchRegisterForm(std::uint32_t index) {
  IrInstruction* sample = m_t.Instruction(index);
  const std::uint32_t group = sample->Group(), width = sample->Width();
  const std::uint32_t start = PixelShader1Target::CoordinateStart(*sample);
  const int minor = static_cast<int>(m_t.Minor());
  m_t.SetCurrentInstruction(index);
  std::uint32_t source = kNoIndex, read[3] = {}, modifiers = 0;
  for (std::uint32_t j = 0; j < width && j < 3; ++j) {
    std::uint32_t value = sample->arguments[start + j];
    modifiers |= m_t.Value(value)->binding & mod::kSourceBits;
    std::uint32_t stage = FixedSampleOf(value, &read[j]);
    if (stage == kNoIndex && width == 2) {
      // Through a move of the phase-one list.
      const IrInstruction* move = m_t.Instruction(m_t.ProducerOf(value));
      if (!move || move->word == 0 || !move->IsMove() || PixelShader1Target::CoIssueMark(*move) != 1) return kNoMatch;
      std::uint32_t column = 0;
      while (column < move->resultCount && move->results[column] != m_t.ResolveAlias(value)) ++column;
      if (column >= move->argumentCount) return kNoMatch;
      value = move->arguments[column];
      modifiers |= m_t.Value(value)->binding & mod::kSourceBits;
      stage = FixedSampleOf(value, &read[j]);
    }
    if (stage == kNoIndex || (source != kNoIndex && stage != source)) return kNoMatch;
    source = stage;
  }
  std::uint32_t made;
  if (width == 3 && (group == 0x60F || group == 0x60A)) {
    if (read[0] != 0 || read[1] != 1 || read[2] != 2) return kNoMatch;
    if (modifiers != 0 && modifiers != mod::kSignedScale) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexreg2RgbModifiers);
      return E_FAIL;
    }
    if (m_t.Minor() == 1) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexreg2RgbUnsupported, minor);
      return E_FAIL;
    }
    made = kOpTexreg2Rgb;
  } else if (width == 2 && group == 0x605) {
    if (read[0] == 3 && read[1] == 0)
      made = kOpTexreg2Ar;
    else if (read[0] == 1 && read[1] == 2)
      made = kOpTexreg2Gb;
    else
      return kNoMatch;
    if (modifiers != 0) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexreg2ArGbModifiers);
      return E_FAIL;
    }
  } else {
    return kNoMatch;
  }
  const std::uint32_t stage = ChooseStage(*sample, source);
  if (stage == kNoIndex) return kPassFailed;
  m_t.Value(sample->arguments[0])->reg = stage;
  std::uint32_t results[4];
  for (std::uint32_t r = 0; r < sample->resultCount && r < 4; ++r) results[r] = sample->results[r];
  const HRESULT hr =
      Emit(stage, made, width, source, results, sample->resultCount < 4 ? sample->resultCount : 4, index);
  if (FAILED(hr)) return hr;
  m_t.Instruction(index)->word = 0;
  return kMatched;
}

// `rows` consecutive dot products of an earlier sample's xyz with the
// texture coordinates of the stages after it.
HRESULT DependentReadMatcher::MatchMatrixForm(std::uint32_t index, std::uint32_t rows) {
  IrInstruction* sample = m_t.Instruction(index);
  const std::uint32_t group = sample->Group(), width = sample->Width();
  const std::uint32_t start = PixelShader1Target::CoordinateStart(*sample);
  const bool reflection = group == kOpReflectEyeInTexcoord || group == kOpReflectEyeInConstant;
  if (rows == 1 ? group != 0x600 : rows == 2 ? group != 0x605 : (group != 0x60A && group != 0x60F && !reflection))
    return kNoMatch;
  const int minor = static_cast<int>(m_t.Minor());
  m_t.SetCurrentInstruction(index);
  // The distinct rows, in coordinate order, each read directly or through a
  // single move that the second phase put between.
  std::uint32_t dots[3] = {}, count = 0, between[4], betweenCount = 0;
  for (std::uint32_t j = 0; j < width && start + j < sample->argumentCount; ++j) {
    std::uint32_t value = m_t.ResolveAlias(sample->arguments[start + j]);
    std::uint32_t producer = m_t.ProducerOf(value);
    const IrInstruction* move = m_t.Instruction(producer);
    if (move && move->word != 0 && move->IsMove()) {
      std::uint32_t column = 0;
      while (column < move->resultCount && move->results[column] != value) ++column;
      if (column >= move->argumentCount) return kNoMatch;
      between[betweenCount++] = producer;
      value = m_t.ResolveAlias(move->arguments[column]);
      producer = m_t.ProducerOf(value);
    }
    const IrInstruction* dot = m_t.Instruction(producer);
    if (!dot || dot->word != kDot3 || dot->argumentCount != 6 || dot->resultCount == 0) return kNoMatch;
    if (count > 0 && dots[count - 1] == producer) continue;
    for (std::uint32_t k = 0; k < count; ++k)
      if (dots[k] == producer) return kNoMatch;
    if (count == rows) return kNoMatch;
    dots[count++] = producer;
  }
  if (count != rows) return kNoMatch;
  auto readElsewhere = [&](std::uint32_t value) {
    for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
      const IrInstruction* inst = m_t.Instruction(i);
      if (!inst || inst->word == 0 || i == index) continue;
      bool excluded = false;
      for (std::uint32_t k = 0; k < betweenCount; ++k) excluded |= between[k] == i;
      if (excluded) continue;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
        if (m_t.ResolveAlias(inst->arguments[a]) == value) return true;
    }
    return false;
  };
  std::uint32_t source = kNoIndex;
  for (std::uint32_t j = 0; j < rows; ++j) {
    const IrInstruction* dot = m_t.Instruction(dots[j]);
    // Which group is the texture coordinate, which the sampled vector.
    std::uint32_t coordinateGroup = kNoIndex, texcoord = kNoIndex, stage = kNoIndex;
    for (std::uint32_t g = 0; g < 2 && coordinateGroup == kNoIndex; ++g) {
      std::uint32_t k = kNoIndex;
      bool plain = true;
      for (std::uint32_t c = 0; c < 3 && plain; ++c) {
        const std::uint32_t root = m_t.ResolveAlias(dot->arguments[g * 3 + c]);
        const std::uint32_t word = TexcoordWordOf(root);
        plain = Ps1KindOf(word) == kPs1Texcoord && m_t.Value(root)->component == c &&
                (k == kNoIndex || k == Ps1IndexOf(word));
        k = Ps1IndexOf(word);
      }
      if (plain) {
        coordinateGroup = g;
        texcoord = k;
      }
    }
    if (coordinateGroup == kNoIndex) return kNoMatch;
    const std::uint32_t vectorGroup = 1 - coordinateGroup;
    for (std::uint32_t c = 0; c < 3; ++c) {
      std::uint32_t component = kNoIndex;
      const std::uint32_t s = FixedSampleOf(dot->arguments[vectorGroup * 3 + c], &component);
      if (s == kNoIndex || component != c || (stage != kNoIndex && s != stage)) return kNoMatch;
      stage = s;
    }
    if (source != kNoIndex && stage != source) return kNoMatch;
    source = stage;
    bool reused = false;
    for (std::uint32_t r = 0; r < dot->resultCount; ++r) reused |= readElsewhere(dot->results[r]);
    if (reused) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexmCoordinateReused);
      return E_FAIL;
    }
    for (std::uint32_t c = 0; c < 3; ++c) {
      if (m_t.Value(dot->arguments[coordinateGroup * 3 + c])->binding & mod::kSourceBits) {
        GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexmTexcoordModifier);
        return E_FAIL;
      }
      const std::uint32_t modifier = m_t.Value(dot->arguments[vectorGroup * 3 + c])->binding & mod::kSourceBits;
      if (modifier != 0 && modifier != mod::kSignedScale) {
        GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexmLoadModifier);
        return E_FAIL;
      }
    }
    if (texcoord != source + 1 + j) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexmCoordinatesMisplaced, minor);
      return E_FAIL;
    }
  }
  const std::uint32_t last = source + rows;
  if (last >= kStages) return kPassFailed;
  for (std::uint32_t s = source + 1; s <= last; ++s)
    if (m_fixed[s] != kNoIndex) return kPassFailed;
  IrValue* sampler = width ? m_t.Value(sample->arguments[0]) : nullptr;
  const RegisterBank* samplerBank = sampler ? m_t.BankOf(*sampler) : nullptr;
  const bool array = samplerBank && samplerBank->registerCount != kNoIndex && samplerBank->registerCount > 1;
  if (sampler && (samplerBank->type & kBankKeepValues) && sampler->reg != last) {
    GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kSamplerUserStage, static_cast<int>(last));
    return E_FAIL;
  }
  if (sampler && array && sampler->reg != last) {
    GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kSamplerArrayStage, static_cast<int>(last));
    return E_FAIL;
  }
  if (sampler) sampler->reg = last;
  const std::uint32_t pad = rows == 2 ? kOpTexm3x2Pad : kOpTexm3x3Pad;
  const std::uint32_t final = group == kOpReflectEyeInTexcoord   ? kOpTexm3x3Vspec
                               : group == kOpReflectEyeInConstant ? kOpTexm3x3Spec
                               : rows == 1                        ? kOpTexdp3Tex
                               : rows == 2                        ? kOpTexm3x2Tex
                                                                  : kOpTexm3x3Tex;
  for (std::uint32_t j = 0; j + 1 < rows; ++j) {
    const IrInstruction* dot = m_t.Instruction(dots[j]);
    const HRESULT hr =
        Emit(source + 1 + j, pad, 3, source, dot->results, dot->resultCount < 4 ? dot->resultCount : 4, dots[j]);
    if (FAILED(hr)) return hr;
  }
  std::uint32_t sampled[4];
  const std::uint32_t resultCount = sample->resultCount < 4 ? sample->resultCount : 4;
  for (std::uint32_t r = 0; r < resultCount; ++r) sampled[r] = sample->results[r];
  // texm3x3spec reads its eye from the constant the marker names.
  const std::uint32_t* eye = final == kOpTexm3x3Spec ? sample->arguments + start + width : nullptr;
  const HRESULT hr = Emit(last, final, 3, source, sampled, resultCount, index, eye);
  if (FAILED(hr)) return hr;
  for (std::uint32_t j = 0; j < rows; ++j) m_t.Instruction(dots[j])->word = 0;
  for (std::uint32_t k = 0; k < betweenCount; ++k) m_t.Instruction(between[k])->word = 0;
  m_t.Instruction(index)->word = 0;
  return kMatched;
}

HRESULT DependentReadMatcher::Run() {
  if (m_t.Stages() != kStages) return E_FAIL;
  PodArray<std::uint32_t> pending;
  for (std::uint32_t k = 0; k < kStages; ++k) {
    const std::uint32_t i = m_t.stageList[k];
    const IrInstruction* inst = m_t.Instruction(i);
    if (!inst) continue;
    bool computed = false;
    if (inst->Group() != kOpTexcoord)
      for (std::uint32_t a = PixelShader1Target::CoordinateStart(*inst); a < inst->argumentCount; ++a)
        computed |= m_t.IsTemporaryValue(m_t.ResolveAlias(inst->arguments[a]));
    if (computed) {
      if (!pending.Append(i)) return E_OUTOFMEMORY;
    } else {
      m_fixed[k] = i;
    }
  }
  const int minor = static_cast<int>(m_t.Minor());
  auto generalFailure = [&] {
    GXL_SHADER_REPORT(m_t, nullptr, msg::kDependentReadsUnmatched, minor);
    return E_FAIL;
  };
  for (std::uint32_t k = 0; k < kStages; ++k) {
    const std::uint32_t i = m_t.phaseOneList[k];
    const IrInstruction* inst = m_t.Instruction(i);
    if (!inst || inst->Group() == kOpTexcoord) continue;
    if (m_fixed[k] != kNoIndex) return generalFailure();
    m_fixed[k] = i;
  }
  auto pass = [&](auto match) -> HRESULT {
    for (std::size_t p = 0; p < pending.Size(); ++p) {
      if (pending[p] == kNoIndex) continue;
      const HRESULT hr = match(pending[p]);
      if (FAILED(hr)) return hr;
      if (hr == kPassFailed) return generalFailure();
      if (hr == kMatched) pending[p] = kNoIndex;
    }
    return S_OK;
  };
  HRESULT hr = S_OK;
  if (m_t.Minor() >= 2) hr = pass([this](std::uint32_t i) { return MatchMatrixForm(i, 1); });
  if (SUCCEEDED(hr)) hr = pass([this](std::uint32_t i) { return MatchMatrixForm(i, 2); });
  if (SUCCEEDED(hr)) hr = pass([this](std::uint32_t i) { return MatchMatrixForm(i, 3); });
  if (SUCCEEDED(hr)) hr = pass([this](std::uint32_t i) { return MatchRegisterForm(i); });
  if (FAILED(hr)) return hr;
  bool unmatched = false;
  for (std::size_t p = 0; p < pending.Size(); ++p) {
    if (pending[p] == kNoIndex) continue;
    m_t.SetCurrentInstruction(pending[p]);
    GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kDependentReadUnmapped, minor);
    unmatched = true;
  }
  if (unmatched) return E_FAIL;
  for (std::uint32_t k = 0; k < kStages; ++k) m_t.stageList.At(k) = m_fixed[k];
  m_t.phaseOneList.Free();
  return S_OK;
}

}  // namespace

HRESULT PixelShader1Target::MatchDependentReads() { return DependentReadMatcher(*this).Run(); }

}  // namespace gxl::shader

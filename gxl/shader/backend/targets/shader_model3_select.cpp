// The shader model 3 target's selection (slot 4), emission walk (slot 9) and
// code-generation passes (slot 10), and the VFACE reads replaced by a +1/-1
// temporary.
#include <algorithm>
#include <optional>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/pixel_shader2_target.h"
#include "gxl/shader/backend/targets/shader_model3_target.h"

namespace gxl::shader {

namespace {

HRESULT LerpFromMadWarned(ShaderTarget& t) { return RecognizeLerpFromMad(t, true); }
// A failure of the second round of break folds leaves the break as it was.
HRESULT SumIntoBreakQuietly(ShaderTarget& t) {
  const HRESULT hr = FoldSumIntoBreak(t);
  return hr == E_OUTOFMEMORY || hr == S_OK ? hr : S_FALSE;
}
// Vertex shaders have no dp2add.
bool VertexProfile(const ShaderTarget& t) { return t.profileLimits.secondFlags & 0x40; }
HRESULT PixelDotAdd2(ShaderTarget& t) { return VertexProfile(t) ? S_FALSE : RecognizeDotAdd2(t); }
HRESULT PixelDot2(ShaderTarget& t) { return VertexProfile(t) ? S_FALSE : ConvertDot2ToDotAdd2(t); }

// Plain, projected and biased sampling: what a vertex shader cannot do.
bool ImplicitSampling(std::uint32_t g) {
  if (g < 0x600 || g > 0x613) return false;
  const std::uint32_t form = (g - 0x600) % 5;
  return form == 0 || form == 2 || form == 3;
}
bool GradientSampling(std::uint32_t g) { return g >= 0x600 && g <= 0x613 && (g - 0x600) % 5 == 1; }
bool LevelOfDetailSampling(std::uint32_t g) { return g >= 0x600 && g <= 0x613 && (g - 0x600) % 5 == 4; }

// The groups the shared rules emit in both kinds of profile.
bool StandardRule(std::uint32_t g) {
  return g == 0x000 || g == 0x100 || g == 0x101 || (g >= 0x103 && g <= 0x107) || g == 0x10F || g == 0x112 ||
         g == 0x113 || g == 0x115 || (g >= 0x200 && g <= 0x205) || (g >= 0x207 && g <= 0x209) || g == 0x500 ||
         g == 0x501 || g == 0x503 || (g >= 0x700 && g <= 0x709) || (g >= 0x70B && g <= 0x70D) ||
         (g >= 0x730 && g <= 0x747) || g == 0x74A || g == 0x74B;
}

}  // namespace

// --- Selection --------------------------------------------------------------------------

HRESULT ShaderModel3Target::ReplaceFaceReads() {
  std::uint32_t face = kNoIndex;  // the +1/-1 temporary, made on first need
  const std::uint32_t count = instructions.Count();
  for (std::uint32_t i = 0; i < count; ++i) {
    IrInstruction* inst = Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    const std::uint32_t n = inst->Width();
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const std::uint32_t reader = inst->arguments[a];
      if (!IsSpecialInput(reader, kUsageFace) || (inst->Group() == kOpSelect && n && a < n)) continue;
      if (face == kNoIndex) {
        std::uint32_t reg = 0;
        const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
        for (std::uint32_t k = 0; k < values.Count(); ++k)
          if (const IrValue* v = Value(k); v && v->bank == temporaries && v->reg != kNoIndex)
            reg = std::max(reg, v->reg + 1);
        face = AddValue(temporaries, reg, 0, 0.0);
        const std::uint32_t one = sel::LiteralValue(*this, 1.0), minusOne = sel::LiteralValue(*this, -1.0);
        IrInstruction* select = sel::NewInstruction(IrWord(kOpSelect, 1), 3, 1);
        if (face == kNoIndex || one == kNoIndex || minusOne == kNoIndex || !select) {
          delete select;
          return E_OUTOFMEMORY;
        }
        // Computed before the first instruction and unpredicated, so that every
        // later read, inside a block or not, sees it.
        select->arguments[0] = reader;
        select->arguments[1] = one;
        select->arguments[2] = minusOne;
        select->results[0] = face;
        select->CopySourcePosition(inst);
        if (instructions.Append(select) == kNoIndex) {
          delete select;
          return E_OUTOFMEMORY;
        }
        for (std::uint32_t k = instructions.Count() - 1; k > 0; --k)
          std::swap(instructions.Slot(k), instructions.Slot(k - 1));
        ++i;
        inst = Instruction(i);
      }
      // The reader's own modifier stays with it.
      const IrValue* old = Value(reader);
      if (old->binding == Value(face)->binding) {
        inst->arguments[a] = face;
      } else {
        const std::uint32_t copy = AddValueCopy(Value(face));
        if (copy == kNoIndex) return E_OUTOFMEMORY;
        Value(copy)->binding = Value(reader)->binding;
        Value(copy)->alias = face;
        inst->arguments[a] = copy;
      }
    }
  }
  return S_OK;
}

HRESULT ShaderModel3Target::SelectInstructions() {
  const bool optimise = !(options & kOptionNoOptimisation);
  HRESULT hr = Vertex() ? S_OK : ReplaceFaceReads();
  // Optimised, one walk over all the rounds: between them the use analysis
  // is kept up to date, not built again for each.
  std::optional<SelectionWalk> walk;
  if (optimise) walk.emplace(*this);
  if (SUCCEEDED(hr)) hr = ForEachInstruction(*this, {{0x114, 0x114, RecognizeBreakComparison}});
  if (SUCCEEDED(hr) && !optimise) {
    // Moves out of forwarded banks vanish between numbering and renumbering,
    // with no use analysis in between.
    NumberValues();
    for (std::uint32_t i = 0; i < instructions.Count() && SUCCEEDED(hr); ++i) {
      SetCurrentInstruction(i);
      if (current && current->Group() == kOpMove) hr = RemoveForwardingMove(*this);
    }
    RenumberValueLinks();
  } else if (SUCCEEDED(hr)) {
    hr = SelectPixelOpening(*this);
    if (SUCCEEDED(hr))
      hr = ForEachInstruction(*this, {{0x105, 0x105, RecognizePower},
                                      {0x10F, 0x10F, RecognizePredicateComparison},
                                      {0x114, 0x114, RecognizeBreakComparison},
                                      {0x201, 0x201, RecognizeAbsFromMax},
                                      {0x204, 0x204, PixelDotAdd2, MultiplyAddRelaxed},
                                      {0x700, 0x700, FoldAbsolute}});
    hr = ThenPass(hr, *this, &ShaderProgram::RemoveDeadCode);
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (SUCCEEDED(hr))
      hr = ForEachInstruction(*this, {{0x205, 0x205, RecognizeNormalize},
                                      {0x500, 0x500, PixelDot2},
                                      {0x703, 0x703, LerpFromMadWarned},
                                      {0x735, 0x736, FoldSquareIntoComparison},
                                      {0x735, 0x736, FoldSquaresIntoComparison},
                                      {0x746, 0x747, FoldSquareIntoBreak},
                                      {0x746, 0x747, FoldSquaresIntoBreak}});
    if (SUCCEEDED(hr))
      hr = ForEachInstruction(*this, {{0x735, 0x738, FoldSumIntoComparison}, {0x744, 0x747, FoldSumIntoBreak}});
    if (SUCCEEDED(hr)) hr = ForEachInstruction(*this, {{0x737, 0x737, CompareWithNegatedSelf}});
  }
  // Breaks and counted loops are mapped with or without optimisation: the
  // flow-control rebuild takes no conditional break of its own.
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  if (SUCCEEDED(hr))
    hr = ForEachInstruction(*this, {{0x746, 0x747, FoldSquareIntoBreak},
                                    {0x746, 0x747, FoldSquaresIntoBreak},
                                    {0x744, 0x747, SumIntoBreakQuietly}});
  if (SUCCEEDED(hr)) hr = ForEachInstruction(*this, {{kOpLoopMerge, kOpLoopMerge, RecognizeCountedLoop}});
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  if (SUCCEEDED(hr)) hr = ForEachInstruction(*this, {{kOpLoopMerge, kOpLoopMerge, RecognizeCountedLoopCounter}});
  if (SUCCEEDED(hr)) hr = ForEachInstruction(*this, {{0x114, 0x114, MapConditionalBreak}});
  if (SUCCEEDED(hr) && optimise) {
    hr = ForEachInstruction(*this, {{0x703, 0x703, LerpFromMadQuiet}});
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (SUCCEEDED(hr))
      hr = ForEachInstruction(*this, {{0x103, 0x103, FoldMoveIntoScalarResult},
                                      {0x105, 0x107, FoldMoveIntoScalarResult},
                                      {0x500, 0x500, FoldMoveIntoScalarResult},
                                      {0x703, 0x703, TryLerpOrders}});
  }
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  walk.reset();
  return FinishSelectionPasses(*this, hr);
}

// --- Code generation ----------------------------------------------------------------------

HRESULT ShaderModel3Target::GenerateCode() {
  HRESULT hr = profileLimits.word13 ? MaterializeLoopMerges() : S_OK;
  if (SUCCEEDED(hr) && profileLimits.addressRegisters) hr = LoadAddressRegistersInPasses();
  if (SUCCEEDED(hr) && !Vertex()) hr = PropagateCentroid();
  if (SUCCEEDED(hr) && profileLimits.booleanConstants) {
    hr = LowerPredicatedBlocks();
    if (SUCCEEDED(hr)) hr = RemoveEmptyConditionalBlocks(*this);
  }
  return FAILED(hr) ? hr : S_OK;
}

// --- Walk -------------------------------------------------------------------------------

HRESULT ShaderModel3Target::EmitCurrent() {
  const std::uint32_t g = current->Group();
  if (Vertex() && (g == kOpDiscard || g == kOpSelect || ImplicitSampling(g) || GradientSampling(g)))
    return E_NOTIMPL;  // texldd is a pixel instruction as well
  if (g == kOpDiscard || g == kOpSelect || (g >= 0x600 && g <= 0x613 && !LevelOfDetailSampling(g)))
    return EmitStandardRule(g);
  if (g == 0x10D || g == 0x10E) return (profileLimits.secondFlags & 0x10) ? EmitStandardRule(g) : E_NOTIMPL;
  if (LevelOfDetailSampling(g)) return (profileLimits.secondFlags & 0x20) ? EmitStandardRule(g) : E_NOTIMPL;
  return StandardRule(g) ? EmitStandardRule(g) : E_NOTIMPL;
}

HRESULT ShaderModel3Target::MapOperation() {
  const HRESULT sorted = SortAllResultsByComponent();
  if (FAILED(sorted)) return sorted;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    if (!Instruction(i)) continue;
    SetCurrentInstruction(i);
    const HRESULT hr = EmitCurrent();
    if (hr == E_NOTIMPL) {
      if (Vertex())
        GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kUnmappedVertexExpression);
      else
        GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kUnmappedPixelExpression);
      return E_NOTIMPL;
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace gxl::shader

// Instruction selection of the pixel shader 2.x target, and the opening it
// shares with the shader model 3 profiles.
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/pixel_shader2_target.h"

namespace gxl::shader {

HRESULT ForEachInstruction(ShaderTarget& t, std::initializer_list<SelectionRule> rules) {
  const SelectionWalk walk(t);
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
    for (const SelectionRule& rule : rules) {
      t.SetCurrentInstruction(i);
      if (!t.current || t.current->Group() == kOpNop) break;
      const std::uint32_t g = t.current->Group();
      if (g < rule.first || g > rule.last) continue;
      HRESULT hr = rule.apply(t);
      if (hr == S_FALSE && rule.otherwise) hr = rule.otherwise(t);
      if (hr == S_OK) hr = t.ResetSelectionState();
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT ThenPass(HRESULT hr, ShaderProgram& p, HRESULT (ShaderProgram::*pass)()) {
  if (FAILED(hr)) return hr;
  hr = (p.*pass)();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT LerpFromMadQuiet(ShaderTarget& t) { return RecognizeLerpFromMad(t, false); }
HRESULT MultiplyAddRelaxed(ShaderTarget& t) { return FormMultiplyAdd(t, true); }

namespace {

HRESULT NegateKept(ShaderTarget& t) { return FoldNegate(t, true); }

}  // namespace

HRESULT FinishSelectionPasses(ShaderTarget& t, HRESULT hr) {
  if (SUCCEEDED(hr)) hr = ForEachInstruction(t, {{0x503, 0x503, FixSinCosDestination}});
  hr = ThenPass(hr, t, &ShaderProgram::RemoveDeadCode);
  hr = ThenPass(hr, t, &ShaderProgram::MergeDuplicateValues);
  hr = ThenPass(hr, t, &ShaderProgram::CompactInstructions);
  hr = ThenPass(hr, t, &ShaderProgram::RemoveUnusedValues);
  if (SUCCEEDED(hr)) hr = t.ResetSelectionState();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT SelectPixelOpening(ShaderTarget& t) {
  // The folds below judge readers by their use positions: numbered afresh,
  // not as the list stood before earlier passes removed instructions.
  HRESULT hr = t.ResetSelectionState();
  if (SUCCEEDED(hr))
    hr = ForEachInstruction(
        t, {{kOpNegate, kOpNegate, NegateKept}, {0x200, 0x201, RecognizeSaturate}, {0x300, 0x300, RecognizeSaturate}});
  if (SUCCEEDED(hr)) hr = t.ResetSelectionState();
  if (SUCCEEDED(hr))
    hr = ForEachInstruction(
        t, {{0x300, 0x300, RecognizeMinMaxFromCompare}, {0x300, 0x300, RecognizeMinMaxFromCompareSums}});
  hr = ThenPass(hr, t, &ShaderProgram::RemoveDeadCode);
  if (SUCCEEDED(hr)) hr = t.ResetSelectionState();
  if (SUCCEEDED(hr)) hr = ForEachInstruction(t, {{0x200, 0x200, RecognizeSaturate}, {0x70B, 0x70B, RecognizeSaturate}});
  if (SUCCEEDED(hr)) hr = t.ResetSelectionState();
  if (SUCCEEDED(hr))
    hr = ForEachInstruction(t, {{0x300, 0x300, RecognizeAbsFromCompare, RecognizeAbsFromCompareNegated}});
  return hr;
}

HRESULT PixelShader2Target::SelectInstructions() {
  HRESULT hr = S_OK;
  if (options & kOptionNoOptimisation) {
    // Moves out of forwarded banks vanish between numbering and renumbering,
    // with no use analysis in between.
    NumberValues();
    for (std::uint32_t i = 0; i < instructions.Count() && SUCCEEDED(hr); ++i) {
      SetCurrentInstruction(i);
      if (current && current->Group() == kOpMove) hr = RemoveForwardingMove(*this);
    }
    RenumberValueLinks();
  } else {
    // One walk over all the rounds: between them the use analysis is kept
    // up to date, not built again for each.
    const SelectionWalk walk(*this);
    hr = SelectPixelOpening(*this);
    if (SUCCEEDED(hr))
      hr = ForEachInstruction(*this, {{0x105, 0x105, RecognizePower},
                                      {0x10F, 0x10F, RecognizePredicateFromCompare},
                                      {0x204, 0x204, RecognizeDotAdd2, MultiplyAddRelaxed}});
    hr = ThenPass(hr, *this, &ShaderProgram::RemoveDeadCode);
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (SUCCEEDED(hr))
      hr = ForEachInstruction(*this, {{0x205, 0x205, RecognizeNormalize},
                                      {0x500, 0x500, ConvertDot2ToDotAdd2},
                                      {0x703, 0x703, LerpFromMadQuiet},
                                      {0x735, 0x736, FoldSquareIntoComparison}});
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (SUCCEEDED(hr)) hr = ForEachInstruction(*this, {{0x703, 0x703, TryLerpOrders}});
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (SUCCEEDED(hr))
      hr = ForEachInstruction(*this, {{0x703, 0x703, LerpFromMadQuiet}, {0x735, 0x738, FoldSumIntoComparison}});
  }
  return FinishSelectionPasses(*this, hr);
}

}  // namespace gxl::shader

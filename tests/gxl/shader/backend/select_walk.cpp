#include <initializer_list>
#include <utility>
#include <vector>

#include "select_fixture.h"

namespace selecttest {

HRESULT SelectionWalk(ShaderTarget& t) {
  struct Rule {
    std::vector<std::uint32_t> groups;
    Recognizer recognize;
  };
  const std::vector<std::vector<Rule>> phases = {
      {{{0x114}, RecognizeBreakComparison}},
      {{{0x200, 0x201, 0x300}, RecognizeSaturate}},
      {{{0x300}, RecognizeMinMaxFromCompare}, {{0x300}, RecognizeMinMaxFromCompareSums}},
      {{{0x200, 0x70B}, RecognizeSaturate}},
      {{{0x105}, RecognizePower},
       {{0x10F}, RecognizePredicateComparison},
       {{0x201}, RecognizeAbsFromMax},
       {{0x204}, RecognizeDotAdd2},
       {{0x300}, RecognizeAbsFromCompare},
       {{0x300}, RecognizeAbsFromCompareNegated}},
      {{{0x205}, RecognizeNormalize},
       {{0x500}, ConvertDot2ToDotAdd2},
       {{0x703}, [](ShaderTarget& s) { return RecognizeLerpFromMad(s); }},
       {{0x735, 0x736}, FoldSquareIntoComparison},
       {{0x735, 0x736}, FoldSquaresIntoComparison},
       {{0x746, 0x747}, FoldSquareIntoBreak},
       {{0x746, 0x747}, FoldSquaresIntoBreak},
       {{0x735, 0x736, 0x737, 0x738}, FoldSumIntoComparison},
       {{0x744, 0x745, 0x746, 0x747}, FoldSumIntoBreak},
       {{0x737}, CompareWithNegatedSelf}},
      {{{0x103, 0x105, 0x106, 0x107, 0x500}, FoldMoveIntoScalarResult}},
      {{{0x503}, FixSinCosDestination}},
  };
  for (const auto& phase : phases) {
    HRESULT hr = t.ResetSelectionState();
    if (FAILED(hr)) return hr;
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
      for (const Rule& rule : phase) {
        t.SetCurrentInstruction(i);
        if (!t.current || t.current->word < 0x100000) break;
        const std::uint32_t group = t.current->Group();
        if (std::find(rule.groups.begin(), rule.groups.end(), group) == rule.groups.end()) continue;
        if (FAILED(hr = rule.recognize(t))) return hr;
        if (hr == S_OK && FAILED(hr = t.ResetSelectionState())) return hr;
      }
    }
  }
  return t.ResetSelectionState();
}

}  // namespace selecttest
